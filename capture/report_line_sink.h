#pragma once
// Where a line's report lines go besides its report file: told of each report line as it is
// handed to the writer, on whatever thread completed it.

#include <atomic>
#include <chrono>
#include <string>

class ReportLineSink {
public:
    virtual ~ReportLineSink() = default;
    // Must be cheap and never wait for a disk or the network: it runs inside capture.
    virtual void ReportLineCompleted(const std::string& file, const std::string& text,
                                     std::chrono::system_clock::time_point completed) = 0;
};

// The sink a line's capture reads while its owner sets or clears it; a line that is moved takes
// its sink along.
class ReportLineSinkSlot {
public:
    ReportLineSinkSlot() = default;
    ReportLineSinkSlot(ReportLineSinkSlot&& other) noexcept : sink_(other.Get()) {}
    ReportLineSinkSlot& operator=(ReportLineSinkSlot&& other) noexcept {
        Set(other.Get());
        return *this;
    }

    void Set(ReportLineSink* sink) { sink_.store(sink, std::memory_order_release); }
    ReportLineSink* Get() const { return sink_.load(std::memory_order_acquire); }

private:
    std::atomic<ReportLineSink*> sink_{nullptr};
};
