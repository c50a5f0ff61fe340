#include "runtime/ansi_text.h"

#include <array>

namespace {

// Windows-1252 0x80..0x9F; 0 marks the five unassigned bytes, which map to the same code point.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t ToUnicode(unsigned char b) {
    if (b >= 0x80 && b <= 0x9F && kHighControls[b - 0x80] != 0)
        return kHighControls[b - 0x80];
    return b;
}

} // namespace

QString AnsiToQString(std::string_view bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (char c : bytes)
        out.append(QChar(ToUnicode(static_cast<unsigned char>(c))));
    return out;
}

std::string QStringToAnsi(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar qc : text) {
        char16_t u = qc.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF) ||
            (u >= 0x80 && u <= 0x9F && kHighControls[u - 0x80] == 0)) {
            out.push_back(static_cast<char>(u));
            continue;
        }
        char mapped = '?';
        for (size_t i = 0; i < kHighControls.size(); ++i) {
            if (kHighControls[i] == u) {
                mapped = static_cast<char>(0x80 + i);
                break;
            }
        }
        out.push_back(mapped);
    }
    return out;
}
