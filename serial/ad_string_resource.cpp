#include "serial/ad_string_resource.h"

#include "runtime/ansi_text.h"

#include <QString>
#include <cstdint>
#include <cstring>

namespace {

// Identifiers of the reader's own messages.
constexpr int kStringNotFound = 1;
constexpr int kCannotLock = 2;
constexpr int kResourceNotFound = 3;
constexpr int kCannotOpen = 4;
constexpr int kInvalidResource = 5;

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kEntrySize = 12;

std::uint32_t ReadU32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::string Utf16LeToAnsi(const unsigned char* text, std::size_t units) {
    QString converted(static_cast<qsizetype>(units), Qt::Uninitialized);
    for (std::size_t i = 0; i < units; ++i)
        converted[static_cast<qsizetype>(i)] =
            QChar(static_cast<char16_t>(text[2 * i] | text[2 * i + 1] << 8));
    return QStringToAnsi(converted);
}

// The message template of one of the reader's own errors. A failure while the reader of those
// messages is itself being created must not look them up again.
std::string ErrorTemplate(int textId) {
    thread_local bool busy = false;
    if (busy)
        return {};
    struct Guard {
        Guard() { busy = true; }
        ~Guard() { busy = false; }
    } guard;
    try {
        return StringResourceMessages().Lookup(textId);
    } catch (const EStringResourceError&) {
        return {};
    }
}

[[noreturn]] void RaiseError(int textId, const std::string& argument = {}) {
    std::string text = ErrorTemplate(textId);
    if (text.empty())
        throw EStringResourceError("String resource error " + std::to_string(textId) +
                                   (argument.empty() ? "" : ": " + argument));
    for (const char* placeholder : {"%s", "%d"}) {
        if (std::size_t at = text.find(placeholder); at != std::string::npos) {
            text.replace(at, 2, argument);
            break;
        }
    }
    throw EStringResourceError(text);
}

// The header and every entry's text must lie inside the resource: a table handed in by a caller
// is not trusted to be well formed.
bool WellFormed(const unsigned char* data, std::size_t size) {
    if (size < kHeaderSize || std::memcmp(data, "STR0", 4) != 0)
        return false;
    std::uint64_t count = ReadU32(data + 4);
    if (kHeaderSize + kEntrySize * count > size)
        return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        const unsigned char* entry = data + kHeaderSize + kEntrySize * i;
        std::uint64_t end =
            std::uint64_t{ReadU32(entry + 4)} + 2 * std::uint64_t{ReadU32(entry + 8)};
        if (end > size)
            return false;
    }
    return true;
}

} // namespace

TAdStringResource::TAdStringResource(TResourceModule Module, std::string_view ResourceName) {
    std::string name(ResourceName);
    module_ = Module;
    resource_ = FindEmbeddedResource(module_, name);
    if (resource_ == nullptr) {
        module_ = ProgramResources();
        resource_ = FindEmbeddedResource(module_, name);
    }
    if (resource_ == nullptr)
        RaiseError(kResourceNotFound, name);
    if (resource_->Data == nullptr)
        RaiseError(kCannotOpen, name);
    if (!WellFormed(Lock(), resource_->Size))
        RaiseError(kInvalidResource);
}

const unsigned char* TAdStringResource::Lock() const {
    if (resource_->Data == nullptr)
        RaiseError(kCannotLock);
    return resource_->Data;
}

std::string TAdStringResource::Lookup(int Id) const {
    const unsigned char* data = Lock();
    std::int64_t low = 0;
    std::int64_t high = std::int64_t{ReadU32(data + 4)} - 1;
    while (low <= high) {
        std::int64_t middle = (low + high) / 2;
        const unsigned char* entry = data + kHeaderSize + kEntrySize * middle;
        auto entryId = static_cast<std::int32_t>(ReadU32(entry));
        if (entryId == Id)
            return Utf16LeToAnsi(data + ReadU32(entry + 4), ReadU32(entry + 8));
        if (entryId < Id)
            low = middle + 1;
        else
            high = middle - 1;
    }
    if (raiseOnMissing_)
        RaiseError(kStringNotFound, std::to_string(Id));
    return {};
}

const TAdStringResource& ErrorStringResource() {
    static const TAdStringResource reader(ProgramResources(), "RUVO_ERROR_STRINGS_ENGLISH");
    return reader;
}

const TAdStringResource& StringResourceMessages() {
    static const TAdStringResource reader(ProgramResources(), "ADSRMGR_STRINGS");
    return reader;
}
