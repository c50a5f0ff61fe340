#pragma once

#include <string>

// Appends text and CR LF to the named file, creating it when missing; opened and closed each time.
// A failure raises EInOutError with the run-time library's text for the error.
void AppendReportLine(const std::string& fileName, const std::string& text);
