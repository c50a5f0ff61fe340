#pragma once
// Text is kept as 8-bit Windows-1252 bytes everywhere below the widgets; these convert at a widget.

#include <QString>
#include <string>
#include <string_view>

QString AnsiToQString(std::string_view bytes);
// A message joins 8-bit captions and texts with the system's file and device names, which are
// UTF-8: a well-formed UTF-8 sequence is read as one character, every other byte as Windows-1252.
QString MessageToQString(std::string_view bytes);
// Characters outside Windows-1252 become '?'.
std::string QStringToAnsi(const QString& text);
