// The settings file's reader and writer over any bytes: reading never fails, a file written key
// by key from what was read reads back with the same sections and values, and a write in place
// changes its one key and nothing else.
#include "settings/profile_document.h"
#include "tests/fuzz/fuzz_target.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

void WriteFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    FuzzExpect(file != nullptr, "the input can be stored in " + name);
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    FuzzExpect(std::fclose(file) == 0 && written, "the input can be stored in " + name);
}

std::string Where(const std::string& section, const std::string& key) {
    return "[" + section + "] " + key;
}

// A value read from a file, as it reads back once written: a line cannot hold a CR, and a value
// cut there or at the length limit loses the blanks it then ends in.
std::string AsWritten(std::string value) {
    value = value.substr(0, value.find('\r'));
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\v' ||
                              value.back() == '\f'))
        value.pop_back();
    return value;
}

struct Key {
    std::string Section, Name;
};

std::vector<Key> KeysOf(const ProfileDocument& document) {
    std::vector<Key> keys;
    for (const auto& section : document.Outline()) {
        for (const auto& key : section.Keys)
            keys.push_back({section.Name, key});
    }
    return keys;
}

std::vector<std::string> SectionNames(const ProfileDocument& document) {
    std::vector<std::string> names;
    for (const auto& section : document.Outline())
        names.push_back(section.Name);
    return names;
}

void CheckRewrittenCopy(const ProfileDocument& read, const std::string& copyName) {
    std::filesystem::remove(copyName);
    ProfileDocument copy = ProfileDocument::Load(copyName);
    for (const Key& key : KeysOf(read)) {
        const auto value = read.Find(key.Section, key.Name);
        FuzzExpect(value.has_value(), "every listed key is found: " + Where(key.Section, key.Name));
        copy.Set(key.Section, key.Name, *value);
    }
    FuzzExpect(copy.Save(), "a new settings file can be written");
    const ProfileDocument reread = ProfileDocument::Load(copyName);
    for (const Key& key : KeysOf(read)) {
        FuzzExpect(reread.Find(key.Section, key.Name) ==
                       AsWritten(*read.Find(key.Section, key.Name)),
                   "a rewritten value reads back the same: " + Where(key.Section, key.Name));
    }
    for (const Key& key : KeysOf(reread)) {
        FuzzExpect(read.Find(key.Section, key.Name).has_value(),
                   "a rewritten file holds no key of its own: " + Where(key.Section, key.Name));
    }
}

// Writes one key in place: an existing key, a new key of an existing section or a new section,
// chosen by the input.
void CheckWriteInPlace(const ProfileDocument& read, const std::string& fileName,
                       FuzzChoices& choices) {
    const std::vector<Key> keys = KeysOf(read);
    const std::vector<std::string> sections = SectionNames(read);
    Key target{"Directories", "Line5"};
    switch (choices.Below(3)) {
    case 0:
        if (!keys.empty())
            target = keys[choices.Below(keys.size())];
        break;
    case 1:
        if (!sections.empty())
            target.Section = sections[choices.Below(sections.size())];
        break;
    default:
        break;
    }
    const std::string value = "D:\\Data\\Shift A\\";
    ProfileDocument edited = ProfileDocument::Load(fileName);
    edited.Set(target.Section, target.Name, value);
    FuzzExpect(edited.Save(), "the settings file can be written in place");
    const ProfileDocument reread = ProfileDocument::Load(fileName);

    FuzzExpect(reread.Find(target.Section, target.Name) == value,
               "the written key reads back: " + Where(target.Section, target.Name));
    std::vector<std::string> expectedSections = sections;
    bool known = false;
    for (const auto& name : sections)
        known = known || SameName(name, target.Section);
    if (!known)
        expectedSections.push_back(target.Section);
    FuzzExpect(SectionNames(reread) == expectedSections,
               "a write keeps every section and adds only its own");
    for (const Key& key : keys) {
        if (SameName(key.Section, target.Section) && SameName(key.Name, target.Name))
            continue;
        FuzzExpect(reread.Find(key.Section, key.Name) == read.Find(key.Section, key.Name),
                   "a write leaves other keys alone: " + Where(key.Section, key.Name));
    }
}

} // namespace

void FuzzProfile(const std::uint8_t* data, std::size_t size) {
    const std::string fileName = FuzzScratchDir() + "/Tolvane.ini";
    WriteFile(fileName, data, size);
    const ProfileDocument read = ProfileDocument::Load(fileName);
    FuzzExpect(read.Text() == std::string_view(reinterpret_cast<const char*>(data), size),
               "the reader holds the file as it is");

    CheckRewrittenCopy(read, FuzzScratchDir() + "/copy.ini");
    std::uint64_t seed = size;
    for (std::size_t i = 0; i < size && i < 8; ++i)
        seed = seed * 131 + data[i];
    FuzzChoices choices(seed);
    CheckWriteInPlace(read, fileName, choices);
}
