#pragma once
// The run-time library's exception classes that more than one layer raises or catches.

#include <stdexcept>
#include <string>

// An input/output error carrying the operating system's error number (Windows numbering).
class EInOutError : public std::runtime_error {
public:
    EInOutError(int errorCode, const std::string& message)
        : std::runtime_error(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

// Raised where the run-time library reports that memory or an operating-system object ran out.
class EOutOfMemory : public std::runtime_error {
public:
    EOutOfMemory() : std::runtime_error("Out of memory") {}
};
