#pragma once
// Per-line capture: bytes from a line's port become report lines, stamped, shown and appended.

#include "capture/production_line.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Where a line's report lines are shown besides their file: called on the thread that captures.
class LineViews {
public:
    virtual ~LineViews() = default;
    virtual void AddToViews(const std::string& reportLine) = 0; // the store both views show
};

// What the pipeline takes from, and gives to, the rest of the program for one line; the stamp
// flags, the started state and the report file it reads from the line itself.
class LineEndpoints : public LineViews {
public:
    // Up to count of the port's next bytes, one lock of its ring for all: how many were taken.
    virtual std::size_t TakeChars(char* into, std::size_t count) = 0;
};

// Characters available: take Count bytes, keeping all but CR and LF.
void HandleTriggerAvail(ProductionLine& line, LineEndpoints& endpoints, std::uint16_t count);
// Data trigger matched: completes a report line when the handle is the line's own.
void HandleTriggerData(ProductionLine& line, LineEndpoints& endpoints, std::uint16_t triggerHandle);
