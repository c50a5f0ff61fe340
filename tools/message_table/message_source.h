#pragma once
// The message sources of the embedded string tables: one entry per line, a decimal identifier,
// one tab, the text (UTF-8); blank lines and lines starting with '#' are skipped; identifiers
// strictly ascending. A fault in a source is thrown as std::runtime_error "FILE:LINE: reason", or
// "FILE: reason" for what concerns the whole file.

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

struct MessageEntry {
    std::int32_t Id;
    std::u16string Text;
    int Line;
};

// The entries of a source read from in; path names it in the errors.
std::vector<MessageEntry> ParseMessageSource(const std::string& path, std::istream& in);
std::vector<MessageEntry> ReadMessageSource(const std::string& path);

// The "STR0" table of the entries: magic, count, then per entry identifier / text offset / length
// in UTF-16 units, then the texts in UTF-16LE; little-endian, offsets from the table's start.
std::vector<std::uint8_t> EncodeMessageTable(const std::string& path,
                                             const std::vector<MessageEntry>& entries);
