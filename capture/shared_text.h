#pragma once
// A string that one thread writes and others read: each read is a whole copy of one value.

#include <mutex>
#include <string>

class SharedText {
public:
    SharedText() = default;
    SharedText(std::string text) : text_(std::move(text)) {}
    SharedText(const SharedText&) = delete;
    SharedText& operator=(const SharedText&) = delete;

    SharedText& operator=(std::string text) {
        std::lock_guard lock(mutex_);
        text_.swap(text);
        return *this;
    }
    std::string Get() const {
        std::lock_guard lock(mutex_);
        return text_;
    }
    operator std::string() const { return Get(); }
    bool operator==(const std::string& text) const { return Get() == text; }

private:
    mutable std::mutex mutex_;
    std::string text_;
};
