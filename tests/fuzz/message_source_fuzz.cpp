// The message-table generator's input: any source is either accepted, and then the serial
// layer's table reader finds every entry in the generated table, or refused with the file and
// the line at fault.
#include "serial/ad_string_resource.h"
#include "tests/fuzz/fuzz_target.h"
#include "tools/message_table/message_source.h"

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char* SourceName = "messages.txt";

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool HoldsNoEntry(const std::vector<std::string>& lines) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        if (i == 0 && line.starts_with("\xEF\xBB\xBF"))
            line.erase(0, 3);
        if (!line.empty() && line != "\r" && line[0] != '#')
            return false;
    }
    return true;
}

void CheckRefusal(const std::string& message, const std::vector<std::string>& lines) {
    const std::string prefix = std::string(SourceName) + ":";
    FuzzExpect(message.starts_with(prefix), "a refusal names the file: " + message);
    if (message == prefix + " holds no entries") {
        FuzzExpect(HoldsNoEntry(lines), "only a source without entries is refused as empty");
        return;
    }
    std::size_t digits = 0;
    const std::string rest = message.substr(prefix.size());
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
        ++digits;
    FuzzExpect(digits > 0 && digits < 10 && rest.substr(digits, 2) == ": " &&
                   rest.size() > digits + 2,
               "a refusal names the line and the reason: " + message);
    const unsigned long line = std::stoul(rest.substr(0, digits));
    FuzzExpect(line >= 1 && line <= lines.size(), "a refusal names a line of the file: " + message);
}

bool Ascii(const std::u16string& text) {
    for (char16_t unit : text) {
        if (unit >= 0x80)
            return false;
    }
    return true;
}

void CheckTable(const std::vector<MessageEntry>& entries, const std::vector<std::string>& lines) {
    FuzzExpect(!entries.empty(), "an accepted source has entries");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const MessageEntry& entry = entries[i];
        FuzzExpect(i == 0 || entries[i - 1].Id < entry.Id, "identifiers ascend");
        FuzzExpect(entry.Line >= 1 && static_cast<std::size_t>(entry.Line) <= lines.size(),
                   "an entry comes from a line of the file");
    }
    const std::vector<std::uint8_t> table = EncodeMessageTable(SourceName, entries);
    const EmbeddedResource resources[] = {{"FUZZ_TABLE", table.data(), table.size()}};
    const TAdStringResource reader(resources, "FUZZ_TABLE");
    for (const MessageEntry& entry : entries) {
        const std::string text = reader.Lookup(entry.Id);
        if (Ascii(entry.Text)) {
            FuzzExpect(text == std::string(entry.Text.begin(), entry.Text.end()),
                       "the reader finds the text of " + std::to_string(entry.Id));
        } else {
            FuzzExpect(!text.empty(), "the reader finds the text of " + std::to_string(entry.Id));
        }
    }
    if (entries.front().Id > INT32_MIN)
        FuzzExpect(reader.Lookup(entries.front().Id - 1).empty(), "a missing identifier is empty");
}

} // namespace

void FuzzMessageSource(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = LinesOf(text);
    std::istringstream in(text);
    std::vector<MessageEntry> entries;
    try {
        entries = ParseMessageSource(SourceName, in);
    } catch (const std::runtime_error& error) {
        CheckRefusal(error.what(), lines);
        return;
    }
    CheckTable(entries, lines);
}
