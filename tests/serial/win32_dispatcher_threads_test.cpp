// The COM port dispatcher's device opening and its worker threads, over pseudo-terminals.
#include "serial/apd_win32_dispatcher.h"
#include "tests/serial/com_port_test_support.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

int OpenDefault(TApdWin32Dispatcher& d, const std::string& name) {
    return d.OpenComm(name, 9600, NOPARITY, 8, 1, 1024, 1024,
                      TApdBaseDispatcher::optDtrOn | TApdBaseDispatcher::optRtsOn);
}

TEST(Win32DispatcherThreads, OpenStartsThreeThreadsThatCloseEnds) {
    PtyPair line(80);
    TApdWin32Dispatcher d(nullptr);
    ASSERT_EQ(OpenDefault(d, line.DeviceName()), 0);
    EXPECT_TRUE(d.ThreadsActive());
    EXPECT_EQ(d.RunningThreads(), 3);
    EXPECT_TRUE(d.ThreadRunning(DispatcherThreadKind::Comm));
    EXPECT_TRUE(d.ThreadRunning(DispatcherThreadKind::Dispatch));
    EXPECT_TRUE(d.ThreadRunning(DispatcherThreadKind::Output));
    EXPECT_GE(d.Handle(), 0);

    d.CloseComm();
    EXPECT_FALSE(d.ThreadsActive());
    EXPECT_EQ(d.RunningThreads(), 0);
    EXPECT_FALSE(d.ThreadRunning(DispatcherThreadKind::Comm));
    EXPECT_FALSE(d.ThreadRunning(DispatcherThreadKind::Dispatch));
    EXPECT_FALSE(d.ThreadRunning(DispatcherThreadKind::Output));
    EXPECT_LT(d.DeviceHandle, 0);
}

TEST(Win32DispatcherThreads, StartingTheThreadsTwiceIsRefused) {
    PtyPair line(81);
    TApdWin32Dispatcher d(nullptr);
    ASSERT_EQ(OpenDefault(d, line.DeviceName()), 0);
    try {
        d.StartThreads();
        FAIL() << "started twice";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Dispatcher already started");
    }
    EXPECT_EQ(d.RunningThreads(), 3) << "the refused start left the running threads alone";
}

// Opening a port that cannot be had: the device handle's failure and the open's result.
struct UnavailableCase {
    const char* Name;
    std::function<std::shared_ptr<void>(int number)> Block;
    DWORD Error;
};

class UnavailableDevices : public ::testing::TestWithParam<UnavailableCase> {};

TEST_P(UnavailableDevices, FailWithTheWindowsError) {
    constexpr int number = 82;
    auto block = GetParam().Block(number);
    const std::string name = "\\\\.\\COM" + std::to_string(number);
    TApdWin32Dispatcher probe(nullptr);
    EXPECT_EQ(probe.OpenDeviceHandle(name, 64, 64), -1);
    EXPECT_EQ(probe.LastDeviceError(), GetParam().Error);

    TApdWin32Dispatcher d(nullptr);
    EXPECT_EQ(OpenDefault(d, name), -static_cast<int>(GetParam().Error));
    EXPECT_FALSE(d.ThreadsActive());
    EXPECT_LT(d.DeviceHandle, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Win32DispatcherThreads, UnavailableDevices,
    ::testing::Values(UnavailableCase{"Missing",
                                      [](int n) { return std::make_shared<MissingPort>(n); },
                                      ERROR_FILE_NOT_FOUND},
                      UnavailableCase{"HeldByAnotherProcess",
                                      [](int n) {
                                          struct Held {
                                              explicit Held(int n)
                                                  : Line(n), Other(Line.SlavePath()) {}
                                              PtyPair Line;
                                              HeldByOtherProcess Other;
                                          };
                                          return std::make_shared<Held>(n);
                                      },
                                      ERROR_ACCESS_DENIED},
                      UnavailableCase{"OpenInThisProcess",
                                      [](int n) {
                                          struct Open {
                                              explicit Open(int n) : Line(n), Holder(nullptr) {
                                                  Holder.OpenDeviceHandle(Line.DeviceName(), 64,
                                                                          64);
                                              }
                                              PtyPair Line;
                                              TApdWin32Dispatcher Holder;
                                          };
                                          return std::make_shared<Open>(n);
                                      },
                                      ERROR_ACCESS_DENIED}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Win32DispatcherThreads, ReceivedBytesReachTheReceiveBuffer) {
    PtyPair line(83);
    TApdWin32Dispatcher d(nullptr);
    ASSERT_EQ(OpenDefault(d, line.DeviceName()), 0);
    ASSERT_TRUE(line.Write("hello"));
    ASSERT_TRUE(WaitUntil([&] { return d.UnreadCount() == 5; }));
    std::string taken;
    BYTE c = 0;
    while (d.GetChar(c) == 0)
        taken += static_cast<char>(c);
    EXPECT_EQ(taken, "hello");
}

TEST(Win32DispatcherThreads, AFullReceiveBufferResumesReadingAsBytesAreTaken) {
    PtyPair line(84);
    TApdWin32Dispatcher d(nullptr);
    ASSERT_EQ(OpenDefault(d, line.DeviceName()), 0);
    std::string sent;
    for (int i = 0; sent.size() < 11000; ++i)
        sent += "line " + std::to_string(i) + "\r\n";
    std::thread player([&] { line.Write(sent); });
    EXPECT_TRUE(WaitUntil([&] { return d.UnreadCount() == ReceiveBufferSize; }));
    std::string taken;
    BYTE c = 0;
    EXPECT_TRUE(WaitUntil([&] {
        while (d.GetChar(c) == 0)
            taken += static_cast<char>(c);
        return taken.size() >= sent.size();
    }));
    player.join();
    EXPECT_EQ(taken, sent);
}

TEST(Win32DispatcherThreads, ADeviceThatGoesAwayEndsOnlyTheCommThread) {
    PtyPair line(85);
    TApdWin32Dispatcher d(nullptr);
    ASSERT_EQ(OpenDefault(d, line.DeviceName()), 0);
    line.Close();
    ASSERT_TRUE(WaitUntil([&] { return !d.ThreadRunning(DispatcherThreadKind::Comm); }));
    // The dispatch thread goes on with its passes, the output thread waits for output.
    PumpFor(std::chrono::milliseconds(120));
    EXPECT_TRUE(d.ThreadRunning(DispatcherThreadKind::Dispatch));
    EXPECT_TRUE(d.ThreadRunning(DispatcherThreadKind::Output));
    EXPECT_EQ(d.RunningThreads(), 2);
    EXPECT_TRUE(d.ThreadsActive());
    BYTE byte = 'x';
    EXPECT_EQ(d.QueueOutput(&byte, 1), 1) << "output to a gone device is dropped, not stuck";
    EXPECT_TRUE(WaitUntil([&] { return d.OutputUsed() == 0; }));

    d.CloseComm();
    EXPECT_FALSE(d.ThreadsActive());
    EXPECT_EQ(d.RunningThreads(), 0);
}

} // namespace
