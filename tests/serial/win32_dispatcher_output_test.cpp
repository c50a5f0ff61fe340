// The COM port dispatcher's output path: queueing into the circular output buffer, writing it
// out in order, and flushing it, over pseudo-terminals.
#include "serial/apd_win32_dispatcher.h"
#include "tests/serial/com_port_test_support.h"

#include <gtest/gtest.h>

namespace {

// A dispatcher with an open device and a small output buffer but no threads, so that the test
// decides when the output is written.
struct OutputRig {
    static constexpr DWORD Size = 16;

    explicit OutputRig(int number) : Line(number), D(nullptr) {
        EXPECT_GE(D.OpenDeviceHandle(Line.DeviceName(), 64, 64), 0);
        D.OutputForTest().Lock()->Allocate(Size);
        D.CreateSignalsForTest();
        Block = D.WriteBlock();
    }

    int Queue(const std::string& bytes) {
        return D.QueueOutput(reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size()));
    }
    std::string BufferStart(DWORD n) {
        return std::string(reinterpret_cast<const char*>(D.OutputForTest().Lock()->BytesForTest()),
                           n);
    }

    PtyPair Line;
    TApdWin32Dispatcher D;
    OverlappedBlock Block;
};

struct OutputCase {
    const char* Name;
    DWORD Start; // head and tail before queueing (an empty buffer)
    std::string Bytes;
    int Queued;
    DWORD HeadAfter;
    bool FullAfter;
    // After the drain the bytes that went out lie at the buffer's start: the wrapped run was
    // rotated and written as one.
    bool Rotated;
};

class OutputBuffer : public ::testing::TestWithParam<OutputCase> {};

TEST_P(OutputBuffer, QueuedBytesGoOutOnceAndInOrder) {
    const OutputCase& c = GetParam();
    OutputRig rig(90);
    rig.D.OutputForTest().Lock()->StartEmptyAtForTest(c.Start);
    EXPECT_EQ(rig.Queue(c.Bytes), c.Queued);
    EXPECT_EQ(rig.D.OutputForTest().Lock()->Head(), c.HeadAfter);
    EXPECT_EQ(rig.D.OutputForTest().Lock()->Full(), c.FullAfter);
    EXPECT_EQ(rig.D.OutputUsed(), static_cast<DWORD>(c.Queued));
    EXPECT_EQ(rig.D.OutputFree(), OutputRig::Size - c.Queued);

    rig.D.DrainOutput(rig.Block);
    const std::string sent = c.Bytes.substr(0, c.Queued);
    EXPECT_EQ(rig.Line.Read(sent.size(), std::chrono::seconds(10)), sent);
    EXPECT_EQ(rig.D.OutputUsed(), 0u);
    EXPECT_EQ(rig.D.OutputForTest().Lock()->Head(), 0u);
    EXPECT_EQ(rig.D.OutputForTest().Lock()->Tail(), 0u);
    EXPECT_FALSE(rig.D.OutputForTest().Lock()->Full());
    if (c.Rotated) {
        EXPECT_EQ(rig.BufferStart(sent.size()), sent);
    }
    EXPECT_EQ(rig.Line.ReadAvailable(), "") << "nothing went out twice";
}

INSTANTIATE_TEST_SUITE_P(
    Win32DispatcherOutput, OutputBuffer,
    ::testing::Values(OutputCase{"Contiguous", 0, "abcdef", 6, 6, false, true},
                      OutputCase{"Wrapped", 12, "ABCDEFGH", 8, 4, false, true},
                      OutputCase{"EndsAtTheBufferEnd", 10, "123456", 6, 0, false, false},
                      OutputCase{"FullAndWrapped", 5, "0123456789abcdef", 16, 5, true, true},
                      OutputCase{"MoreThanFits", 0, "0123456789abcdefXYZ", 16, 0, true, true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Win32DispatcherOutput, FlushingTheTransmitSideKeepsReceivedBytes) {
    OutputRig rig(91);
    ASSERT_TRUE(rig.Line.Write("keep"));
    COMSTAT status;
    ASSERT_TRUE(WaitUntil([&] {
        rig.D.PollComError(status);
        return status.cbInQue == 4;
    }));
    rig.Queue("gone");
    EXPECT_EQ(rig.D.PurgeQueue(QueueSide::Transmit), 0);
    EXPECT_EQ(rig.D.OutputUsed(), 0u);
    rig.D.PollComError(status);
    EXPECT_EQ(status.cbInQue, 4u);
    EXPECT_EQ(rig.D.PurgeQueue(QueueSide::Receive), 0);
    rig.D.PollComError(status);
    EXPECT_EQ(status.cbInQue, 0u);
}

TEST(Win32DispatcherOutput, FlushingWhileAWriteIsPendingAbandonsIt) {
    PtyPair line(92);
    TApdWin32Dispatcher d(nullptr);
    ASSERT_EQ(d.OpenComm(line.DeviceName(), 9600, NOPARITY, 8, 1, 1024, 1024, 3), 0);
    // Nobody reads the other end: the device's queue fills, a write stays pending, and then
    // the output buffer fills too.
    const std::vector<BYTE> chunk(1024, 'z');
    std::size_t queued = 0;
    int fullLooks = 0;
    ASSERT_TRUE(WaitUntil([&] {
        queued += d.QueueOutput(chunk.data(), static_cast<DWORD>(chunk.size()));
        fullLooks = d.OutputFree() == 0 ? fullLooks + 1 : 0;
        return fullLooks >= 200; // stuck full: the write is pending
    }));
    EXPECT_EQ(d.PurgeQueue(QueueSide::Transmit), 0);
    EXPECT_EQ(d.OutputUsed(), 0u);
    EXPECT_TRUE(d.ThreadsActive()) << "the output thread is still there";
    const std::string arrived = line.Read(queued, std::chrono::milliseconds(500));
    EXPECT_LT(arrived.size(), queued) << "the abandoned bytes went out after all";

    // The output path still works after the flush.
    const std::string more(10, 'M');
    d.QueueOutput(reinterpret_cast<const BYTE*>(more.data()), 10);
    EXPECT_EQ(line.Read(10, std::chrono::seconds(10)), more);
    d.CloseComm();
    EXPECT_FALSE(d.ThreadsActive());
}

} // namespace
