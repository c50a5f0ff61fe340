#pragma once
// Opens a port the way the dispatcher does: exclusive, overlapped, read and write.

#include "serial/platform/comm_api.h"

#include <string>

inline HANDLE OpenPort(const std::string& name) {
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, 0);
}
