#include "settings/profile_document.h"

#include "runtime/posix_io.h"
#include "settings/profile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Larger than any settings file could honestly be; a bigger file is left alone rather than read.
constexpr std::size_t MaxProfileFileSize = std::size_t{64} * 1024 * 1024;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

void Trim(const std::string& text, std::size_t& begin, std::size_t& end) {
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
}

// The file a write must replace: a symbolic link is followed, so that the link stays a link.
std::string ReplaceTarget(const std::string& fileName) {
    std::error_code error;
    if (!std::filesystem::is_symlink(fileName, error))
        return fileName;
    const auto resolved = std::filesystem::weakly_canonical(fileName, error);
    return error ? std::string() : resolved.string();
}

// Makes a rename in the file's folder durable. The file itself is already whole and renamed, so a
// folder that cannot be flushed (some file systems refuse) fails nothing.
void SyncFolderOf(const std::string& fileName) {
    const std::filesystem::path folder = std::filesystem::path(fileName).parent_path();
    const FileDescriptor directory =
        OpenRetrying(folder.empty() ? "." : folder.string(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory.Valid())
        (void)::fsync(directory.Get());
}

// Creates a new, empty temporary file beside target.
FileDescriptor CreateTemporary(const std::string& target, std::string& temporaryName) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporaryName =
            target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        FileDescriptor file =
            OpenRetrying(temporaryName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file.Valid() || errno != EEXIST)
            return file;
    }
    return FileDescriptor();
}

} // namespace

ProfileDocument ProfileDocument::Load(const std::string& fileName) {
    ProfileDocument document;
    document.fileName_ = fileName;
    FileDescriptor file = OpenRetrying(fileName, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (!file.Valid()) {
        document.readError_ = errno;
        // Only a file that is not there may be created; anything else we could not read must
        // not be overwritten with what little we know of it.
        document.replaceable_ = errno == ENOENT && !fileName.empty();
        return document;
    }
    // What was read before a failure is still read from, but the file is not replaced.
    document.readError_ = ReadRegularFile(file.Get(), MaxProfileFileSize, document.text_);
    if (document.readError_ != 0)
        document.replaceable_ = false;
    file.Close();
    document.Parse();
    return document;
}

std::string ProfileDocument::ReadErrorText() const {
    if (readError_ == EINVAL)
        return "it is not a regular file";
    return readError_ != 0 ? std::strerror(readError_) : std::string();
}

std::string_view ProfileDocument::Slice(std::size_t begin, std::size_t end) const {
    return std::string_view(text_).substr(begin, end - begin);
}

void ProfileDocument::Parse() {
    sections_.clear();
    std::size_t pos = 0;
    while (pos < text_.size()) {
        const std::size_t lineFeed = text_.find('\n', pos);
        const bool lastLine = lineFeed == std::string::npos;
        const std::size_t next = lastLine ? text_.size() : lineFeed + 1;
        std::size_t contentEnd = lastLine ? text_.size() : lineFeed;
        if (contentEnd > pos && text_[contentEnd - 1] == '\r')
            --contentEnd;
        std::size_t begin = pos;
        std::size_t end = contentEnd;
        Trim(text_, begin, end);
        pos = next;
        if (begin == end)
            continue;
        if (text_[begin] == '[') {
            // A header that lost its ']' still names its section up to the line's end.
            std::size_t nameEnd = text_.find(']', begin + 1);
            if (nameEnd == std::string::npos || nameEnd > end)
                nameEnd = end;
            std::size_t nameBegin = begin + 1;
            Trim(text_, nameBegin, nameEnd);
            sections_.push_back(Section{nameBegin, nameEnd, next, lastLine, {}});
            continue;
        }
        if (sections_.empty())
            continue; // lines before the first section belong to none
        Section& section = sections_.back();
        section.InsertAt = next;
        section.InsertNeedsBreak = lastLine;
        const std::size_t equals = text_.find('=', begin);
        if (equals == std::string::npos || equals >= end)
            continue;
        std::size_t keyEnd = equals;
        std::size_t keyBegin = begin;
        Trim(text_, keyBegin, keyEnd);
        std::size_t valueBegin = equals + 1;
        std::size_t valueEnd = end;
        Trim(text_, valueBegin, valueEnd);
        if (keyBegin < keyEnd)
            section.Entries.push_back(Entry{keyBegin, keyEnd, valueBegin, valueEnd, contentEnd});
    }
}

const ProfileDocument::Entry* ProfileDocument::FindEntry(std::string_view section,
                                                         std::string_view key) const {
    for (const Section& s : sections_) {
        if (!EqualNoCase(Slice(s.NameBegin, s.NameEnd), section))
            continue;
        for (const Entry& e : s.Entries) {
            if (EqualNoCase(Slice(e.KeyBegin, e.KeyEnd), key))
                return &e;
        }
    }
    return nullptr;
}

std::optional<std::string> ProfileDocument::Find(std::string_view section,
                                                 std::string_view key) const {
    const Entry* entry = FindEntry(section, key);
    if (entry == nullptr)
        return std::nullopt;
    std::string_view value = Slice(entry->ValueBegin, entry->ValueEnd);
    value = value.substr(0, value.find('\0'));
    while (!value.empty() && IsBlank(value.back()))
        value.remove_suffix(1);
    return std::string(value.substr(0, MaxProfileValue));
}

void ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    value = value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
    const std::string entryLine = std::string(key) + "=" + std::string(value) + "\r\n";
    if (const Entry* entry = FindEntry(section, key)) {
        text_.replace(entry->ValueBegin, entry->LineEnd - entry->ValueBegin, value);
    } else {
        const Section* home = nullptr;
        for (const Section& s : sections_) {
            if (EqualNoCase(Slice(s.NameBegin, s.NameEnd), section)) {
                home = &s;
                break;
            }
        }
        if (home != nullptr) {
            text_.insert(home->InsertAt, (home->InsertNeedsBreak ? "\r\n" : "") + entryLine);
        } else {
            if (!text_.empty() && text_.back() != '\n')
                text_ += "\r\n";
            text_ += "[" + std::string(section) + "]\r\n" + entryLine;
        }
    }
    Parse();
}

bool ProfileDocument::Remove(std::string_view section, std::string_view key) {
    // The lines go from the last to the first, so that the offsets of those before stay valid.
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    for (const Section& s : sections_) {
        if (!EqualNoCase(Slice(s.NameBegin, s.NameEnd), section))
            continue;
        for (const Entry& e : s.Entries) {
            if (!EqualNoCase(Slice(e.KeyBegin, e.KeyEnd), key))
                continue;
            const std::size_t begin = text_.rfind('\n', e.KeyBegin);
            const std::size_t lineFeed = text_.find('\n', e.LineEnd);
            lines.emplace_back(begin == std::string::npos ? 0 : begin + 1,
                               lineFeed == std::string::npos ? text_.size() : lineFeed + 1);
        }
    }
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        text_.erase(line->first, line->second - line->first);
    if (!lines.empty())
        Parse();
    return !lines.empty();
}

bool ProfileDocument::HasSection(std::string_view section) const {
    return std::any_of(sections_.begin(), sections_.end(), [&](const Section& s) {
        return EqualNoCase(Slice(s.NameBegin, s.NameEnd), section);
    });
}

std::vector<ProfileDocument::SectionOutline> ProfileDocument::Outline() const {
    std::vector<SectionOutline> outline;
    for (const Section& s : sections_) {
        SectionOutline& section = outline.emplace_back();
        section.Name = Slice(s.NameBegin, s.NameEnd);
        for (const Entry& e : s.Entries)
            section.Keys.emplace_back(Slice(e.KeyBegin, e.KeyEnd));
    }
    return outline;
}

bool ProfileDocument::Save() const {
    if (!replaceable_)
        return false;
    const std::string target = ReplaceTarget(fileName_);
    if (target.empty())
        return false;
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return false;

    std::string temporaryName;
    FileDescriptor file = CreateTemporary(target, temporaryName);
    if (!file.Valid())
        return false;
    bool ok = true;
    if (exists) {
        // Keeping the owner only matters when root edits someone else's file; if it cannot be
        // kept the file is still whole.
        if (::fchown(file.Get(), old.st_uid, old.st_gid) != 0) {
        }
        ok = ::fchmod(file.Get(), old.st_mode & 07777) == 0;
    }
    // A file that holds a password is for its owner alone, whoever made it readable before.
    const auto password = Find("Broker", "Password");
    if (password && !password->empty())
        ok = ok && ::fchmod(file.Get(), (exists ? old.st_mode : 0600) & 0600) == 0;
    ok = ok && WriteAll(file.Get(), text_) == 0 && ::fsync(file.Get()) == 0;
    ok = file.Close() == 0 && ok;
    ok = ok && ::rename(temporaryName.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporaryName.c_str());
        return false;
    }
    SyncFolderOf(target);
    return true;
}
