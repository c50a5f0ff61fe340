#include "serial/platform/comm_api.h"
#include "serial/platform/signal.h"
#include "tests/serial/open_port.h"
#include "tests/support/pty_pair.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

class CommIo : public ::testing::Test {
protected:
    void SetUp() override {
        handle = OpenPort(line.DeviceName());
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
        DCB dcb;
        dcb.BaudRate = 9600;
        ASSERT_TRUE(SetCommState(handle, &dcb)) << GetLastError();
    }
    void TearDown() override { CloseHandle(handle); }

    // Waits for the device to report n unread bytes; the bytes cross the terminal a moment after
    // the master wrote them.
    DWORD QueuedInput(DWORD n) {
        COMSTAT status;
        for (int tries = 0; tries < 5000; ++tries) {
            DWORD errors = 0;
            EXPECT_TRUE(ClearCommError(handle, &errors, &status)) << GetLastError();
            if (status.cbInQue >= n)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return status.cbInQue;
    }

    std::string ReadAll(DWORD n) {
        std::string got(n, '\0');
        DWORD read = 0;
        EXPECT_TRUE(ReadFile(handle, got.data(), n, &read, nullptr)) << GetLastError();
        got.resize(read);
        return got;
    }

    PtyPair line{8};
    HANDLE handle = INVALID_HANDLE_VALUE;
};

} // namespace

TEST_F(CommIo, ReadGetsWhatTheLineSentAndNothingWhenNothingCame) {
    EXPECT_EQ(ReadAll(16), "") << "an empty port reads 0 bytes at once";
    ASSERT_TRUE(line.Write("LOT 42 OK\r\n"));
    ASSERT_EQ(QueuedInput(11), 11u);
    EXPECT_EQ(ReadAll(4), "LOT ");
    EXPECT_EQ(ReadAll(64), "42 OK\r\n");
    EXPECT_EQ(ReadAll(64), "");
}

TEST_F(CommIo, AnOverlappedReadCompletesAtOnceAndReportsItsCount) {
    ASSERT_TRUE(line.Write("12345"));
    ASSERT_EQ(QueuedInput(5), 5u);
    Signal readDone(true);
    OVERLAPPED block;
    block.hEvent = &readDone;
    char buffer[8];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &read, &block)) << GetLastError();
    EXPECT_EQ(std::string(buffer, read), "12345");
    DWORD transferred = 0;
    EXPECT_TRUE(GetOverlappedResult(handle, &block, &transferred, true));
    EXPECT_EQ(transferred, 5u);
}

TEST_F(CommIo, WrittenBytesReachTheLineUnchanged) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(handle, "A\nB\r", 4, &written, nullptr)) << GetLastError();
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(line.Read(4), "A\nB\r");
}

TEST_F(CommIo, AWriteLargerThanTheTerminalHoldsCompletesInTheBackground) {
    std::string data(1 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>('a' + i % 26);
    Signal writeDone(true);
    OVERLAPPED block;
    block.hEvent = &writeDone;
    DWORD written = 0;
    ASSERT_FALSE(WriteFile(handle, data.data(), static_cast<DWORD>(data.size()), &written, &block));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(handle, &block, &transferred, false)) << "nobody read yet";
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

    EXPECT_EQ(line.Read(data.size()), data);
    ASSERT_TRUE(GetOverlappedResult(handle, &block, &transferred, true)) << GetLastError();
    EXPECT_EQ(transferred, data.size());
    EXPECT_TRUE(writeDone.Wait(0)) << "the block's event is set when the write ends";
}

TEST_F(CommIo, APendingWriteIsAbortedByAPurgeOfTheTransmitSide) {
    const std::string data(1 << 20, 'x');
    Signal writeDone(true);
    OVERLAPPED block;
    block.hEvent = &writeDone;
    DWORD written = 0;
    ASSERT_FALSE(WriteFile(handle, data.data(), static_cast<DWORD>(data.size()), &written, &block));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    // One write at a time: another is refused while this one waits.
    EXPECT_FALSE(WriteFile(handle, "y", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);

    ASSERT_TRUE(PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR)) << GetLastError();
    EXPECT_TRUE(writeDone.Wait(0));
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(handle, &block, &transferred, true));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_LT(transferred, data.size());
    // The port writes again afterwards.
    line.ReadAvailable();
    ASSERT_TRUE(WriteFile(handle, "z", 1, &written, nullptr)) << GetLastError();
    std::string tail;
    while (tail.find('z') == std::string::npos) {
        const std::string more = line.Read(1);
        if (more.empty())
            break;
        tail += more;
    }
    EXPECT_NE(tail.find('z'), std::string::npos);
}

TEST_F(CommIo, AWriteWhoseTimeRunsOutEndsWithWhatItWrote) {
    COMMTIMEOUTS timeouts;
    timeouts.WriteTotalTimeoutConstant = 50;
    ASSERT_TRUE(SetCommTimeouts(handle, &timeouts));
    const std::string data(1 << 20, 'x');
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(handle, data.data(), static_cast<DWORD>(data.size()), &written, nullptr))
        << GetLastError();
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, data.size());
}

TEST_F(CommIo, ClearCommErrorCountsUnreadInputAndPurgeDropsIt) {
    ASSERT_TRUE(line.Write("0123456789"));
    EXPECT_EQ(QueuedInput(10), 10u);
    DWORD errors = 99;
    COMSTAT status;
    ASSERT_TRUE(ClearCommError(handle, &errors, &status));
    EXPECT_EQ(errors, 0u) << "a pseudo-terminal counts no line errors";
    EXPECT_EQ(status.cbOutQue, 0u);

    ASSERT_TRUE(PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR)) << GetLastError();
    ASSERT_TRUE(ClearCommError(handle, &errors, &status));
    EXPECT_EQ(status.cbInQue, 0u);
    EXPECT_EQ(ReadAll(16), "");

    ASSERT_TRUE(line.Write("after"));
    EXPECT_EQ(QueuedInput(5), 5u);
    EXPECT_EQ(ReadAll(16), "after");

    EXPECT_FALSE(PurgeComm(handle, 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(CommIo, APseudoTerminalIsAVirtualPortWithoutModemLines) {
    DWORD status = 0xFF;
    ASSERT_TRUE(GetCommModemStatus(handle, &status)) << GetLastError();
    EXPECT_EQ(status, 0u);
    for (DWORD function : {SETDTR, CLRDTR, SETRTS, CLRRTS, RESETDEV})
        EXPECT_TRUE(EscapeCommFunction(handle, function)) << function << ": " << GetLastError();
    EXPECT_FALSE(EscapeCommFunction(handle, 10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(CommIo, AnUnpluggedLineFailsReadsAndStatusQueries) {
    line.Close();
    DWORD read = 0;
    char buffer[4];
    EXPECT_FALSE(ReadFile(handle, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(read, 0u);
    DWORD errors = 0;
    COMSTAT status;
    EXPECT_FALSE(ClearCommError(handle, &errors, &status));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(CloseHandle(handle)) << "closing an unplugged port still succeeds";
    handle = INVALID_HANDLE_VALUE;
}
