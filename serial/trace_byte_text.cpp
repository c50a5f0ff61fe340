#include "serial/trace_byte_text.h"

#include <cstdio>

namespace {
constexpr int MaxColumn = 78;
} // namespace

void TraceByteText::Append(std::string& out, unsigned char b) {
    char item[8];
    const int first = Hex ? 33 : 32;
    if (!AllHex && b >= first && b <= 126)
        std::snprintf(item, sizeof item, "%c", b);
    else if (Hex || AllHex)
        std::snprintf(item, sizeof item, "[%02X]", b);
    else
        std::snprintf(item, sizeof item, "[%d]", b);
    const std::string text(item);
    if (Column + static_cast<int>(text.size()) > MaxColumn)
        NewLine(out);
    out += text;
    Column += static_cast<int>(text.size());
}

void TraceByteText::NewLine(std::string& out) {
    out += "\r\n";
    Column = 0;
}
