#pragma once
// The profile (INI) functions: sections and keys without regard to case, CR LF lines, values read
// at most 2047 characters, writes in place (new keys at the end of their section, new sections at
// the end of the file), each write replacing the file atomically.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// A failed write of a settings group: "Unable to write to <path>".
class EIniFileException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr std::size_t MaxProfileValue = 2047;

// The value of the key, or defaultValue when the file, section or key is missing.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName);
// False when the file could not be written; the file is then as it was.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& fileName);

// Decimal, or hexadecimal after "0x"/"0X" when longer than two characters; otherwise the default.
int ReadProfileInteger(const std::string& section, const std::string& key, int defaultValue,
                       const std::string& fileName);
// The integer a profile value holds, by the rule above; nothing for text that is not wholly one
// integer within the range of int.
std::optional<int> ParseProfileInteger(std::string_view text);

// The settings file of this run: set once at start-up (--settings, Tolvane.ini beside the
// executable, or the user's configuration folder). With createFolder, a write first creates the
// file's missing folders, for this user alone.
void SetSettingsFileName(const std::string& fileName, bool createFolder = false);
const std::string& SettingsFileName();
// Creates the settings file's folders where SetSettingsFileName asked for it; false when a
// missing one could not be made (the write that follows then fails with the file's name).
bool PrepareSettingsFolder();
