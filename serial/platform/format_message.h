#pragma once
// The operating system's message text for a Windows error number, as FormatMessageA gives it with
// FORMAT_MESSAGE_FROM_SYSTEM, no source and language 0: a sentence ending in CR LF, or empty when
// the system has no text for the number.

#include "serial/platform/win32_types.h"

#include <string>

std::string FormatMessageA(DWORD MessageId);
