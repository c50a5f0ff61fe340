#pragma once
// Text is kept as 8-bit Windows-1252 bytes everywhere below the widgets; these convert at a widget.

#include <QString>
#include <string>
#include <string_view>

QString AnsiToQString(std::string_view bytes);
// Characters outside Windows-1252 become '?'.
std::string QStringToAnsi(const QString& text);
