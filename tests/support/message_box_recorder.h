#pragma once
// Records the message boxes shown while it lives instead of showing them.

#include "runtime/message_box.h"

#include <vector>

class MessageBoxRecorder {
public:
    MessageBoxRecorder()
        : previous_(
              SetMessagePresenter([this](const MessageBoxRequest& r) { Boxes.push_back(r); })) {}
    ~MessageBoxRecorder() { SetMessagePresenter(std::move(previous_)); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<MessageBoxRequest> Boxes;

private:
    MessagePresenter previous_;
};
