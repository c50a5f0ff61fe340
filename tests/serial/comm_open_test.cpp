#include "serial/platform/comm_api.h"
#include "serial/platform/port_map.h"
#include "tests/serial/open_port.h"
#include "tests/support/pty_pair.h"

#include <QTemporaryDir>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A port whose device is given by path for the test's duration.
struct MappedPort {
    MappedPort(int n, const std::string& path) : N(n) { SetPortDevice(n, path); }
    ~MappedPort() { ClearPortDevice(N); }
    std::string Name() const { return "\\\\.\\COM" + std::to_string(N); }
    int N;
};

} // namespace

TEST(CommOpen, OpensAPortAndClosesIt) {
    PtyPair line(3);
    const HANDLE handle = OpenPort(line.DeviceName());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_GT(handle, 0);
    EXPECT_TRUE(CloseHandle(handle));
    // The handle is gone: a second close and any call on it fail as an invalid handle.
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    DWORD status = 0;
    EXPECT_FALSE(GetCommModemStatus(handle, &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(CommOpen, PortsThatNameNoTerminalDoNotExist) {
    QTemporaryDir dir;
    const std::string plainFile = dir.filePath("not-a-tty").toStdString();
    std::ofstream(plainFile) << "text";
    struct Case {
        const char* What;
        std::string Path;
    };
    for (const Case& c :
         {Case{"missing device", dir.filePath("no-such-device").toStdString()},
          Case{"below a file", plainFile + "/ttyS0"}, Case{"plain file", plainFile}}) {
        MappedPort port(9, c.Path);
        SetLastError(0);
        EXPECT_EQ(OpenPort(port.Name()), INVALID_HANDLE_VALUE) << c.What;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << c.What;
    }
}

TEST(CommOpen, NamesThatAreNoPortDoNotExist) {
    for (const char* name : {"\\\\.\\COM0", "\\\\.\\LPT1", "\\\\.\\COM", "/dev/ptmx"}) {
        SetLastError(0);
        EXPECT_EQ(OpenPort(name), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << name;
    }
}

TEST(CommOpen, ASecondOpenInThisProcessIsRefusedUntilTheFirstCloses) {
    PtyPair line(4);
    const HANDLE first = OpenPort(line.DeviceName());
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenPort(line.DeviceName()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // The lock is given up at the close, not later.
    ASSERT_TRUE(CloseHandle(first));
    const HANDLE again = OpenPort(line.DeviceName());
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_NE(again, first) << "handles are never reused";
    CloseHandle(again);
}

TEST(CommOpen, APortHeldByAnotherProcessIsRefused) {
    PtyPair line(5);
    int held[2], release[2];
    ASSERT_EQ(pipe(held), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The other program: opens and locks the device, says so, waits to be let go.
        close(held[0]);
        close(release[1]);
        const int fd = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        [[maybe_unused]] auto w = write(held[1], &ok, 1);
        char c;
        [[maybe_unused]] auto r = read(release[0], &c, 1);
        _exit(0);
    }
    close(held[1]);
    close(release[0]);
    char ok = 0;
    ASSERT_EQ(read(held[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    EXPECT_EQ(OpenPort(line.DeviceName()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    close(release[1]);
    int status = 0;
    waitpid(child, &status, 0);
    close(held[0]);
    const HANDLE handle = OpenPort(line.DeviceName());
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << "free again once the other process ended";
    CloseHandle(handle);
}

TEST(CommOpen, AProbeLeavesTheDeviceAsItFoundIt) {
    // A fresh pseudo-terminal echoes; the open silences it, the close without settings written
    // gives its echo back, as probing the ports for the selection list must.
    PtyPair line(7);
    const HANDLE probe = OpenPort(line.DeviceName());
    ASSERT_NE(probe, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(CloseHandle(probe));
    ASSERT_TRUE(line.Write("e"));
    EXPECT_EQ(line.Read(1, std::chrono::seconds(5)), "e");
}
