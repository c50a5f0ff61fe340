#include "runtime/stall_watch.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <sys/timerfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr std::int64_t LimitNs =
    std::chrono::duration_cast<std::chrono::nanoseconds>(StallWatch::Limit).count();

// The program's one watch. It lives as long as the process: a slot may still close while
// static objects go.
class Watch {
public:
    static Watch& Instance() {
        static Watch* watch = new Watch;
        return *watch;
    }

    void Add(StallWatch::Slot* slot) {
        std::lock_guard lock(mutex_);
        slots_.push_back(slot);
    }
    void Remove(StallWatch::Slot* slot) {
        std::lock_guard lock(mutex_);
        std::erase(slots_, slot);
    }
    // Waits for an OnStall under way.
    void Sync() { std::lock_guard lock(mutex_); }
    void Arm() {
        if (!armed_.exchange(true))
            Set(LimitNs);
    }

private:
    Watch() : timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC)) {
        if (timer_ >= 0)
            std::thread([this] { Run(); }).detach();
    }

    void Set(std::int64_t in) {
        if (timer_ < 0)
            return;
        itimerspec when{};
        in = std::max<std::int64_t>(in, 1'000'000);
        when.it_value.tv_sec = static_cast<time_t>(in / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(in % 1'000'000'000);
        (void)::timerfd_settime(timer_, 0, &when, nullptr);
    }

    void Run() {
        pthread_setname_np(pthread_self(), "stall watch");
        for (;;) {
            std::uint64_t expired = 0;
            if (::read(timer_, &expired, sizeof expired) < 0 && errno != EINTR)
                return;
            // Cleared before the look: work that begins after it arms the timer itself.
            armed_.store(false);
            std::lock_guard lock(mutex_);
            const std::int64_t now = Now();
            std::int64_t next = INT64_MAX;
            for (StallWatch::Slot* slot : slots_) {
                const std::int64_t since = slot->Since.load();
                if (since == 0 || slot->Told.load())
                    continue;
                // Looked at again once told: work that ended meanwhile is not a stall, and its End
                // then waits for this lock, so that OnStall never outlives the work.
                if (now - since >= LimitNs) {
                    if (!slot->Told.exchange(true) && slot->Since.load() == since)
                        slot->OnStall();
                } else
                    next = std::min(next, since + LimitNs);
            }
            if (next != INT64_MAX && !armed_.exchange(true))
                Set(next - now);
        }
    }

    const int timer_;
    std::atomic<bool> armed_{false};
    std::mutex mutex_;
    std::vector<StallWatch::Slot*> slots_;
};

} // namespace

StallWatch::StallWatch(std::function<void()> onStall) : slot_(new Slot) {
    slot_->OnStall = std::move(onStall);
    Watch::Instance().Add(slot_);
}

StallWatch::~StallWatch() {
    Watch::Instance().Remove(slot_);
    delete slot_;
}

void StallWatch::Begin() {
    slot_->Told.store(false);
    slot_->Since.store(Now());
    Watch::Instance().Arm();
}

void StallWatch::End() {
    slot_->Since.store(0);
    if (slot_->Told.load())
        Watch::Instance().Sync();
}

std::chrono::nanoseconds StallWatch::Running() const {
    const std::int64_t since = slot_->Since.load();
    return std::chrono::nanoseconds(since == 0 ? 0 : Now() - since);
}
