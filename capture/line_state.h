#pragma once
// What state a line is in, as its panel and everything else that reports on the line tell it.

#include <string>

class ProductionLines;
struct ProductionLine;

enum class LineState {
    Off,         // its COM port is "Off"
    Waiting,     // its port waits for its device
    FileFailing, // its report file cannot be written
    Silent,      // started, and no report line for its silence minutes
    Capturing,   // started
    Stopped,
};

// The most telling state of line 1..8, in that order: off; waiting for its device; its file
// failing; silent; capturing or stopped.
LineState LineStateOf(const ProductionLines& lines, int line);
// "capturing", "stopped", "waiting for device", "file failing", "silent"; an off line is stopped.
const char* LineStateName(LineState state);
// "14:02:11": the time of the line's latest report line, or of its start; with its date
// ("2026-12-08 14:02:11") when that was not today.
std::string LastReportTime(const ProductionLine& line);
// "no report since 14:02:11".
std::string SilenceNews(const ProductionLine& line);
