#include "settings/profile.h"

#include "settings/profile_document.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <sys/stat.h>

namespace {

std::string& StoredSettingsFileName() {
    static std::string fileName;
    return fileName;
}

bool& SettingsFolderWanted() {
    static bool wanted = false;
    return wanted;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName) {
    const auto value = ProfileDocument::Load(fileName).Find(section, key);
    return value ? *value : defaultValue.substr(0, MaxProfileValue);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& fileName) {
    ProfileDocument document = ProfileDocument::Load(fileName);
    document.Set(section, key, value);
    return document.Save();
}

std::optional<int> ParseProfileInteger(std::string_view text) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (!IsHexDigit(text[2]))
            return std::nullopt;
        unsigned value = 0;
        const auto [end, error] = std::from_chars(first + 2, last, value, 16);
        if (error != std::errc() || end != last || value > static_cast<unsigned>(INT_MAX))
            return std::nullopt;
        return static_cast<int>(value);
    }
    if (!text.empty() && text[0] == '+') {
        ++first; // from_chars takes a '-' but no '+'
        if (text.size() < 2 || !IsDigit(text[1]))
            return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(first, last, value, 10);
    if (first == last || error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

int ReadProfileInteger(const std::string& section, const std::string& key, int defaultValue,
                       const std::string& fileName) {
    const auto text = ProfileDocument::Load(fileName).Find(section, key);
    const auto value = text ? ParseProfileInteger(*text) : std::nullopt;
    return value.value_or(defaultValue);
}

void SetSettingsFileName(const std::string& fileName, bool createFolder) {
    StoredSettingsFileName() = fileName;
    SettingsFolderWanted() = createFolder;
}

bool PrepareSettingsFolder() {
    if (!SettingsFolderWanted())
        return true;
    const std::string& file = StoredSettingsFileName();
    // Each folder on the way down, as mkdir -p does; 0700 as configuration folders are made.
    for (std::size_t slash = file.find('/', 1); slash != std::string::npos;
         slash = file.find('/', slash + 1)) {
        const std::string folder = file.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

const std::string& SettingsFileName() {
    return StoredSettingsFileName();
}
