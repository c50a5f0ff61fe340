#pragma once
// What happened while nobody watched, for the system log (ident "tolvane"), so that
// `journalctl -t tolvane` tells the night: error boxes, ports lost and back, lines started,
// stopped and resumed. Text is 8-bit as the program holds it; CR and LF become spaces.

#include <string>

enum class LogLevel { Error, Warning, Notice };

void SystemLog(LogLevel level, const std::string& text);
