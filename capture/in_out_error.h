#pragma once
// Input/output failures of the report file, numbered and worded as the run-time library does.

#include "runtime/exceptions.h"

#include <string>

// "File not found", "Invalid filename", "Too many open files", "File access denied", "Disk full",
// or "I/O error <code>" for any other number.
std::string InOutErrorText(int code);
// The error to raise for a failed file operation that set errno to errnoValue.
EInOutError InOutErrorFromErrno(int errnoValue);
