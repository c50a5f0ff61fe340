#include "serial/platform/comm_api.h"
#include "serial/platform/comm_line_events.h"
#include "serial/platform/signal.h"
#include "tests/serial/open_port.h"
#include "tests/support/pty_pair.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

constexpr DWORD commThreadMask = 0x01F9;

struct WaitOutcome {
    bool Completed;
    DWORD Error;
    DWORD Events;
};

class CommEvent : public ::testing::Test {
protected:
    void SetUp() override {
        handle = OpenPort(line.DeviceName());
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
        ASSERT_TRUE(SetCommMask(handle, commThreadMask));
    }
    void TearDown() override { CloseHandle(handle); }

    // The comm thread's way: start an overlapped wait, then complete it on another thread.
    std::future<WaitOutcome> StartWait() {
        events = 0xDEAD;
        const bool immediate = WaitCommEvent(handle, &events, &block);
        EXPECT_FALSE(immediate);
        EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
        return std::async(std::launch::async, [this] {
            DWORD transferred = 0;
            const bool ok = GetOverlappedResult(handle, &block, &transferred, true);
            return WaitOutcome{ok, ok ? 0 : GetLastError(), events};
        });
    }
    // Guards the test against a wait that never ends: after a generous bound the handle is closed,
    // which must end it, and the test fails.
    WaitOutcome Finish(std::future<WaitOutcome>& wait) {
        if (wait.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << "the wait did not end";
            CloseHandle(handle);
        }
        return wait.get();
    }

    PtyPair line{1};
    HANDLE handle = INVALID_HANDLE_VALUE;
    Signal waitSignal{true};
    OVERLAPPED block{&waitSignal};
    DWORD events = 0;
};

} // namespace

TEST_F(CommEvent, ArrivingBytesCompleteTheWaitWithRxChar) {
    auto wait = StartWait();
    ASSERT_TRUE(line.Write("x"));
    const WaitOutcome outcome = Finish(wait);
    ASSERT_TRUE(outcome.Completed) << outcome.Error;
    EXPECT_EQ(outcome.Events, EV_RXCHAR);
    EXPECT_TRUE(waitSignal.Wait(0)) << "the block's event is set on completion";
}

TEST_F(CommEvent, UnreadBytesFireAgainUntilRead) {
    ASSERT_TRUE(line.Write("abc"));
    for (int round = 0; round < 3; ++round) {
        auto wait = StartWait();
        const WaitOutcome outcome = Finish(wait);
        ASSERT_TRUE(outcome.Completed) << outcome.Error;
        EXPECT_EQ(outcome.Events, EV_RXCHAR) << "round " << round;
    }
    for (DWORD got = 0; got < 3;) {
        char buffer[8];
        DWORD read = 0, seen = 0;
        ASSERT_TRUE(WaitCommEvent(handle, &seen, nullptr));
        ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &read, nullptr));
        got += read;
    }
    // Nothing left: a wait now stays pending.
    WaitCommEvent(handle, &events, &block);
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(handle, &block, &transferred, false));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    ASSERT_TRUE(SetCommMask(handle, commThreadMask));
    EXPECT_TRUE(GetOverlappedResult(handle, &block, &transferred, true));
}

TEST_F(CommEvent, ClearingTheMaskFromAnotherThreadCompletesTheWaitWithNoEvents) {
    auto wait = StartWait();
    auto clear = std::async(std::launch::async, [this] { return SetCommMask(handle, 0); });
    ASSERT_TRUE(clear.get());
    const WaitOutcome outcome = Finish(wait);
    ASSERT_TRUE(outcome.Completed) << outcome.Error;
    EXPECT_EQ(outcome.Events, 0u);
    // With the mask cleared there is nothing to wait for.
    EXPECT_FALSE(WaitCommEvent(handle, &events, &block));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(CommEvent, ClosingTheHandleFailsThePendingWait) {
    auto wait = StartWait();
    ASSERT_TRUE(CloseHandle(handle));
    const WaitOutcome outcome = wait.get();
    EXPECT_FALSE(outcome.Completed);
    // The handle is gone, or the wait found its device closed.
    EXPECT_TRUE(outcome.Error == ERROR_INVALID_HANDLE || outcome.Error == ERROR_OPERATION_ABORTED)
        << outcome.Error;
    handle = INVALID_HANDLE_VALUE;
}

TEST_F(CommEvent, AnUnpluggedLineFailsTheWaitAndEveryLaterOne) {
    auto wait = StartWait();
    line.Close();
    WaitOutcome outcome = Finish(wait);
    EXPECT_FALSE(outcome.Completed);
    EXPECT_EQ(outcome.Error, ERROR_DEVICE_NOT_CONNECTED);
    // The comm thread ends on such a failure; one that waited again would fail again, never hang
    // and never report phantom events.
    for (int again = 0; again < 3; ++again) {
        auto next = StartWait();
        outcome = Finish(next);
        EXPECT_FALSE(outcome.Completed);
        EXPECT_EQ(outcome.Error, ERROR_DEVICE_NOT_CONNECTED);
    }
}

// A line that keeps sending is read a few lines at a time, its waits pausing first: every byte
// still arrives in order, and unplugging it during such a pause ends the wait as it would any.
TEST_F(CommEvent, ABusyLineLosesNothingAcrossPausedWaitsAndAnUnplugDuringOneEndsIt) {
    std::string sent;
    for (int i = 0; i < 300; ++i)
        sent += "report line " + std::to_string(i) + "\r\n";
    auto sender = std::async(std::launch::async, [&] {
        for (std::size_t at = 0; at < sent.size(); at += 15) {
            if (!line.Write(sent.substr(at, 15)))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::string got;
    while (got.size() < sent.size()) {
        auto wait = StartWait();
        const WaitOutcome outcome = Finish(wait);
        ASSERT_TRUE(outcome.Completed) << outcome.Error;
        char buffer[4096];
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &read, nullptr));
        got.append(buffer, read);
    }
    sender.get();
    EXPECT_EQ(got, sent);
    auto wait = StartWait();
    line.Close();
    const WaitOutcome outcome = Finish(wait);
    EXPECT_FALSE(outcome.Completed);
    EXPECT_EQ(outcome.Error, ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(CommEvent, TheRingTrailingEdgeEventIsRefusedSoTheCallerNarrowsTheMask) {
    ASSERT_TRUE(SetCommMask(handle, commThreadMask | EV_RING_TE));
    EXPECT_FALSE(WaitCommEvent(handle, &events, &block));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(SetCommMask(handle, commThreadMask));
    auto wait = StartWait();
    ASSERT_TRUE(line.Write("r"));
    EXPECT_EQ(Finish(wait).Events, EV_RXCHAR);
}

TEST_F(CommEvent, AWaitWithoutABlockWaitsInTheCall) {
    ASSERT_TRUE(line.Write("s"));
    DWORD seen = 0;
    ASSERT_TRUE(WaitCommEvent(handle, &seen, nullptr)) << GetLastError();
    EXPECT_EQ(seen, EV_RXCHAR);
}

TEST(CommLineEvents, ChangesOfLinesAndCountersBecomeEventsAndErrors) {
    struct Case {
        const char* What;
        void (*Change)(LineSample&);
        DWORD Events;
        DWORD Errors;
    };
    const Case cases[] = {
        {"nothing", [](LineSample&) {}, 0, 0},
        {"CTS rises", [](LineSample& s) { s.ModemStatus |= MS_CTS_ON; }, EV_CTS, 0},
        {"DSR falls", [](LineSample& s) { s.ModemStatus &= ~MS_DSR_ON; }, EV_DSR, 0},
        {"carrier rises", [](LineSample& s) { s.ModemStatus |= MS_RLSD_ON; }, EV_RLSD, 0},
        {"ring comes on", [](LineSample& s) { s.ModemStatus |= MS_RING_ON; }, EV_RING, 0},
        {"CTS toggled between samples", [](LineSample& s) { s.CtsChanges += 2; }, EV_CTS, 0},
        {"a ring between samples", [](LineSample& s) { ++s.RingEdges; }, EV_RING, 0},
        {"carrier toggled between samples", [](LineSample& s) { ++s.DcdChanges; }, EV_RLSD, 0},
        {"framing error", [](LineSample& s) { ++s.Frame; }, EV_ERR, CE_FRAME},
        {"overrun", [](LineSample& s) { ++s.Overrun; }, EV_ERR, CE_OVERRUN},
        {"parity error", [](LineSample& s) { ++s.Parity; }, EV_ERR, CE_RXPARITY},
        {"buffer overrun", [](LineSample& s) { ++s.BufferOverrun; }, EV_ERR, CE_RXOVER},
        {"break", [](LineSample& s) { ++s.Breaks; }, EV_BREAK, CE_BREAK},
        {"break and framing error",
         [](LineSample& s) {
             ++s.Breaks;
             ++s.Frame;
         },
         EV_BREAK | EV_ERR, CE_BREAK | CE_FRAME},
    };
    LineSample before;
    before.HasModemLines = before.HasCounters = true;
    before.ModemStatus = MS_DSR_ON;
    before.Frame = 7;
    for (const Case& c : cases) {
        LineSample after = before;
        c.Change(after);
        EXPECT_EQ(LineEventsBetween(before, after), c.Events) << c.What;
        EXPECT_EQ(CommErrorsBetween(before, after), c.Errors) << c.What;
    }
    // A ring going off is no new ring.
    LineSample ringing = before;
    ringing.ModemStatus |= MS_RING_ON;
    EXPECT_EQ(LineEventsBetween(ringing, before), 0u);
}
