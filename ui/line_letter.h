#pragma once

#include <QString>

// Per-line names of the port dialog and the port components: line 1 carries no letter, lines 2
// to 8 the letters B to H (ComPort, ComPortB, ..., BaudRateH).
inline QString LineLetter(int line) {
    return line <= 1 ? QString() : QString(QChar(static_cast<char16_t>(u'A' + line - 1)));
}
