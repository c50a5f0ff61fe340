#pragma once

#include "runtime/message_box.h"

#include <exception>

// Runs one event handler. Nothing may unwind into the event loop, so whatever escapes the handler
// ends in the application's standard error report, and the program goes on.
template <class Handler> void RunHandler(Handler&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error);
    }
}
