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

QString MessageToQString(std::string_view bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        // Sequences of 2 to 4 bytes, without overlong forms, surrogates or code points past
        // U+10FFFF.
        const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                                   : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                  : 1;
        char32_t code = length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
        bool wellFormed = length > 1 && i + length <= bytes.size();
        for (std::size_t k = 1; wellFormed && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            wellFormed = (next & 0xC0u) == 0x80u;
            code = (code << 6) | (next & 0x3Fu);
        }
        const char32_t least = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
        if (wellFormed && code >= least && code <= 0x10FFFF &&
            !(code >= 0xD800 && code <= 0xDFFF)) {
            out.append(QString::fromUcs4(&code, 1));
            i += length;
        } else {
            out.append(QChar(ToUnicode(lead)));
            ++i;
        }
    }
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
