#include <QApplication>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Before ctest's 300 s are out.
constexpr unsigned HungAfterSeconds = 240;

// A test binary that hangs prints every thread's stack before ctest kills it. The watcher is a
// process of its own, forked while this one still has a single thread: a watcher thread would
// make every fork that a test makes later the fork of a multi-threaded process. It dies with this
// process, and it holds none of the descriptors that the tests open.
void WatchForAHang() {
    const pid_t watched = ::getpid();
    const pid_t watcher = ::fork();
    if (watcher != 0) {
        if (watcher > 0)
            ::prctl(PR_SET_PTRACER, watcher);
        return;
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != watched)
        ::_exit(0);
    ::close_range(3, ~0U, 0);
    unsigned left = HungAfterSeconds;
    while (left > 0)
        left = ::sleep(left);
    std::fprintf(stderr, "\nThis test binary has run for %u s; the stacks of its threads:\n",
                 HungAfterSeconds);
    std::fflush(stderr);
    ::dup2(2, 1);
    const std::string pid = std::to_string(watched);
    ::execlp("gdb", "gdb", "-p", pid.c_str(), "-batch", "-nx", "-ex", "thread apply all bt",
             static_cast<char*>(nullptr));
    std::perror("gdb");
    ::_exit(0);
}

} // namespace

// Every test binary runs inside a real QApplication on the offscreen platform unless told
// otherwise.
int main(int argc, char** argv) {
    WatchForAHang();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tolvane");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
