#pragma once
// A settings file held in memory: read once, looked up many times, changed by the profile
// placement rules and written back whole, atomically.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ProfileDocument {
public:
    // The file as it is now. A missing file gives an empty document that Save() creates; a file
    // that exists but cannot be read (no right, not a regular file, absurdly large) gives an empty
    // document that Save() refuses to replace.
    static ProfileDocument Load(const std::string& fileName);
    // Why Load could not read the file: its errno (EINVAL for no regular file), or 0.
    int ReadError() const { return readError_; }
    // The same in words ("Permission denied", "it is not a regular file"), or empty.
    std::string ReadErrorText() const;
    // Whether a section of that name is there, compared without regard to case.
    bool HasSection(std::string_view section) const;

    // The value of the key in the first section of that name that holds it, names compared
    // without regard to case; surrounding blanks removed, cut at a NUL byte and to 2047 bytes.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // Replaces the key's value in place, or adds the key at the end of its section, or adds the
    // section at the end of the text. A value is cut at its first CR, LF or NUL, so that it can
    // never make lines of its own.
    void Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes every line of the key in every section of that name; false when there was none.
    bool Remove(std::string_view section, std::string_view key);

    // Writes the text to a temporary file in the file's folder, flushes it to the disk and renames
    // it over the file. False, with the old file untouched, when any step fails.
    bool Save() const;

    // Every section in the order of the text, each with its keys in their order; duplicates kept.
    struct SectionOutline {
        std::string Name;
        std::vector<std::string> Keys;
    };
    std::vector<SectionOutline> Outline() const;

    const std::string& Text() const { return text_; }
    const std::string& FileName() const { return fileName_; }

private:
    struct Entry {
        std::size_t KeyBegin, KeyEnd;     // the key, blanks trimmed
        std::size_t ValueBegin, ValueEnd; // the value, blanks trimmed, ValueEnd at the line's end
        std::size_t LineEnd;              // where the line's content ends (its terminator follows)
    };
    struct Section {
        std::size_t NameBegin, NameEnd;
        std::size_t InsertAt;  // just after the last non-blank line of the section
        bool InsertNeedsBreak; // that line ends the text without a line break
        std::vector<Entry> Entries;
    };

    void Parse();
    const Entry* FindEntry(std::string_view section, std::string_view key) const;
    std::string_view Slice(std::size_t begin, std::size_t end) const;

    std::string fileName_;
    std::string text_;
    bool replaceable_ = true;
    int readError_ = 0;
    std::vector<Section> sections_;
};
