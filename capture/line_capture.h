#pragma once
// Per-line capture: bytes from a line's port become report lines, stamped, shown and appended.

#include <array>
#include <cstdint>
#include <string>

constexpr int LineCount = 8;

// The capture state of one production line; eight of them live for the whole run.
struct LineCapture {
    std::string PendingText;             // bytes since the last report line, CR and LF removed
    std::string ReportLine;              // the report line composed at the latest line feed
    std::uint16_t LineTriggerHandle = 0; // the LF data trigger of the line's port; 0 until set up
    char Delimiter = 0;                  // from the line's delimiter code, by RefreshDelimiters
};

using CaptureLines = std::array<LineCapture, LineCount>;

// What the pipeline reads from, and writes to, the rest of the program for one line.
class LineEndpoints {
public:
    virtual ~LineEndpoints() = default;
    virtual char TakeChar() = 0;               // the next byte from the line's port
    virtual bool DateStampChecked() const = 0; // read afresh for every report line
    virtual bool TimeStampChecked() const = 0;
    virtual bool Started() const = 0;                           // the line's start button is down
    virtual void AddToViews(const std::string& reportLine) = 0; // main window view, then expanded
    virtual std::string ReportFileName() const = 0;             // read afresh for every report line
};

// Characters available: take Count bytes, keeping all but CR and LF.
void HandleTriggerAvail(LineCapture& line, LineEndpoints& endpoints, std::uint16_t count);
// Data trigger matched: completes a report line when the handle is the line's own.
void HandleTriggerData(LineCapture& line, LineEndpoints& endpoints, std::uint16_t triggerHandle);

// 0 comma, 1 space, 2 tab, 3 semicolon; anything else a comma.
char DelimiterFromCode(int code);
// Sets every line's Delimiter from its delimiter list's item index, lines 1 to 8.
void RefreshDelimiters(CaptureLines& lines, const std::array<int, LineCount>& codes);
