// What opening a port may do to the device behind it: only terminals are opened, a refusal by
// permissions is told apart, the terminal gets its own settings back, and line errors never
// become report bytes.
#include "serial/apd_com_port.h"
#include "serial/apd_exceptions.h"
#include "serial/platform/port_map.h"
#include "tests/capture/restricted_writes.h"
#include "tests/support/pty_pair.h"

#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Another program's descriptor of the terminal, taken before the port opens it.
class OtherProgram {
public:
    explicit OtherProgram(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~OtherProgram() { close(fd_); }
    termios Settings() const {
        termios t{};
        EXPECT_EQ(tcgetattr(fd_, &t), 0);
        return t;
    }
    void Set(const termios& t) const { EXPECT_EQ(tcsetattr(fd_, TCSANOW, &t), 0); }

private:
    int fd_;
};

int OpenErrorCode(TApdComPort& port) {
    try {
        port.SetOpen(true);
    } catch (const EAPDException& error) {
        return error.ErrorCode;
    }
    return 0;
}

} // namespace

TEST(ComPortSafeOpen, APathThatIsNoTerminalIsNeverOpened) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("not-a-port").toStdString();
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, path.c_str(), IN_OPEN), 0);
    SetPortDevice(95, path);
    TApdComPort port(nullptr);
    port.SetComNumber(95);
    EXPECT_EQ(OpenErrorCode(port), EBadId::Code);
    ClearPortDevice(95);
    char events[4096];
    EXPECT_LT(read(watch, events, sizeof events), 0) << "the path was opened";
    close(watch);
}

TEST(ComPortSafeOpen, PermissionDeniedIsNeitherMissingNorHeld) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to give a terminal away and then be refused it";
    PtyPair line(96);
    ASSERT_EQ(chmod(line.SlavePath().c_str(), 0600), 0);
    TApdComPort port(nullptr);
    port.SetComNumber(96);
    WithoutPrivileges user;
    ASSERT_TRUE(user.Active());
    EXPECT_EQ(OpenErrorCode(port), EPortAccessDenied::Code);
}

TEST(ComPortSafeOpen, ATerminalGetsBackItsOwnSettingsWhenLetGo) {
    PtyPair line(97);
    const OtherProgram other(line.SlavePath());
    termios own = other.Settings();
    cfsetispeed(&own, B2400);
    cfsetospeed(&own, B2400);
    other.Set(own);
    own = other.Settings();
    {
        TApdComPort port(nullptr);
        port.SetComNumber(97);
        port.SetBaud(9600);
        ASSERT_EQ(port.AddDataTrigger("\n", false), 8);
        const termios during = other.Settings();
        ASSERT_EQ(cfgetospeed(&during), speed_t{B9600});
        port.SetOpen(false);
    }
    const termios after = other.Settings();
    EXPECT_EQ(cfgetospeed(&after), speed_t{B2400});
    EXPECT_EQ(after.c_iflag, own.c_iflag);
    EXPECT_EQ(after.c_lflag, own.c_lflag);
    EXPECT_EQ(after.c_oflag, own.c_oflag);
}

TEST(ComPortSafeOpen, LineErrorsAndBreaksAreDroppedNotReadAsNulBytes) {
    PtyPair line(98);
    const OtherProgram other(line.SlavePath());
    TApdComPort port(nullptr);
    port.SetComNumber(98);
    ASSERT_EQ(port.AddDataTrigger("\n", false), 8);
    const termios t = other.Settings();
    EXPECT_EQ(t.c_iflag & (INPCK | IGNPAR | IGNBRK | PARMRK), tcflag_t{INPCK | IGNPAR | IGNBRK});
}
