#include "tools/message_table/message_source.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace {

[[noreturn]] void Fail(const std::string& where, int line, const std::string& reason) {
    std::ostringstream text;
    text << where << ':' << line << ": " << reason;
    throw std::runtime_error(text.str());
}

// Strict UTF-8 decoding: overlong forms, surrogates and truncated sequences are refused.
bool DecodeUtf8(std::string_view in, std::u16string& out) {
    for (std::size_t i = 0; i < in.size();) {
        unsigned char lead = static_cast<unsigned char>(in[i]);
        int extra = lead < 0x80           ? 0
                    : (lead >> 5) == 0x6  ? 1
                    : (lead >> 4) == 0xE  ? 2
                    : (lead >> 3) == 0x1E ? 3
                                          : -1;
        if (extra < 0 || in.size() - i <= static_cast<std::size_t>(extra))
            return false;
        char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(in[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

MessageEntry ParseLine(const std::string& path, int lineNumber, std::string_view line) {
    std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos)
        Fail(path, lineNumber, "expected an identifier, a tab and a text");
    std::string idText(line.substr(0, tab));
    if (idText.empty() || idText.find_first_not_of("-0123456789") != std::string::npos ||
        idText.find('-', 1) != std::string::npos || idText == "-")
        Fail(path, lineNumber, "identifier '" + idText + "' is not a decimal number");
    errno = 0;
    long long id = std::strtoll(idText.c_str(), nullptr, 10);
    if (errno == ERANGE || id < INT32_MIN || id > INT32_MAX)
        Fail(path, lineNumber, "identifier " + idText + " does not fit 32 bits");
    std::string_view text = line.substr(tab + 1);
    if (text.empty())
        Fail(path, lineNumber, "identifier " + idText + " has no text");
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            Fail(path, lineNumber, "text of identifier " + idText + " holds a control character");
    }
    MessageEntry entry{static_cast<std::int32_t>(id), {}, lineNumber};
    if (!DecodeUtf8(text, entry.Text))
        Fail(path, lineNumber, "text of identifier " + idText + " is not valid UTF-8");
    return entry;
}

void PutU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace

std::vector<MessageEntry> ParseMessageSource(const std::string& path, std::istream& in) {
    std::vector<MessageEntry> entries;
    std::string line;
    for (int lineNumber = 1; std::getline(in, line); ++lineNumber) {
        if (lineNumber == 1 && line.starts_with("\xEF\xBB\xBF"))
            line.erase(0, 3);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line.front() == '#')
            continue;
        MessageEntry entry = ParseLine(path, lineNumber, line);
        if (!entries.empty() && entry.Id <= entries.back().Id) {
            const MessageEntry& previous = entries.back();
            Fail(path, lineNumber,
                 entry.Id == previous.Id
                     ? "duplicate identifier " + std::to_string(entry.Id) + " (first at line " +
                           std::to_string(previous.Line) + ")"
                     : "identifier " + std::to_string(entry.Id) + " is not above " +
                           std::to_string(previous.Id) + " (line " + std::to_string(previous.Line) +
                           "); identifiers must ascend");
        }
        entries.push_back(std::move(entry));
    }
    if (entries.empty())
        throw std::runtime_error(path + ": holds no entries");
    return entries;
}

std::vector<MessageEntry> ReadMessageSource(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(path + ": cannot be read");
    return ParseMessageSource(path, in);
}

std::vector<std::uint8_t> EncodeMessageTable(const std::string& path,
                                             const std::vector<MessageEntry>& entries) {
    std::size_t textStart = 8 + 12 * entries.size();
    std::size_t total = textStart;
    for (const MessageEntry& entry : entries)
        total += 2 * entry.Text.size();
    if (total > UINT32_MAX)
        throw std::runtime_error(path + ": table larger than 4 GiB");
    std::vector<std::uint8_t> out(total);
    out[0] = 'S', out[1] = 'T', out[2] = 'R', out[3] = '0';
    PutU32(out, 4, static_cast<std::uint32_t>(entries.size()));
    std::size_t textAt = textStart;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const MessageEntry& entry = entries[i];
        PutU32(out, 8 + 12 * i, static_cast<std::uint32_t>(entry.Id));
        PutU32(out, 12 + 12 * i, static_cast<std::uint32_t>(textAt));
        PutU32(out, 16 + 12 * i, static_cast<std::uint32_t>(entry.Text.size()));
        for (char16_t unit : entry.Text) {
            out[textAt++] = static_cast<std::uint8_t>(unit & 0xFF);
            out[textAt++] = static_cast<std::uint8_t>(unit >> 8);
        }
    }
    return out;
}
