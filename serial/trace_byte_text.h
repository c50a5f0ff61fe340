#pragma once
// How the trace and the event log dumps write bytes: printable ones as themselves, others in
// brackets, lines broken before they pass 78 columns.

#include <string>

struct TraceByteText {
    bool Hex = false;    // brackets hold two hex digits, and a space is bracketed too
    bool AllHex = false; // every byte in brackets as hex
    int Column = 0;      // characters in the current line

    void Append(std::string& out, unsigned char b);
    // Ends the current line.
    void NewLine(std::string& out);
};
