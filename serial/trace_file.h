#pragma once
// Writes a trace or log dump: appended to the file when asked and the file exists, else a new
// file. Returns 0, or the negated Windows error number of the failure.

#include <string>

int WriteTraceFile(const std::string& fileName, const std::string& text, bool append);
