// The forwarder over real spool folders, handed report lines as capture hands them: what the
// system log says of a line names it by its caption.

#include "broker/broker_forwarder.h"
#include "runtime/system_log.h"
#include "tests/capture/restricted_writes.h"

#include <QTemporaryDir>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

template <class Condition> bool WaitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// What the program tells the system log, read back from its echo on standard error.
class LogRecorder {
public:
    explicit LogRecorder(std::string path) : path_(std::move(path)) {
        saved_ = ::dup(2);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
        ::dup2(fd, 2);
        ::close(fd);
        EchoSystemLogOnStandardError(true);
    }
    ~LogRecorder() {
        EchoSystemLogOnStandardError(false);
        ::dup2(saved_, 2);
        ::close(saved_);
    }
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    std::string Text() const {
        std::ifstream in(path_);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string path_;
    int saved_ = -1;
};

void HandOver(BrokerForwarder& forwarder, const std::string& file, const std::string& text) {
    forwarder.Sink(1).ReportLineCompleted(file, text, std::chrono::system_clock::now());
}

class BrokerForwarderTest : public ::testing::Test {
protected:
    std::string Folder() const { return dir_.path().toStdString(); }
    QTemporaryDir dir_;
};

} // namespace

TEST_F(BrokerForwarderTest, ASpoolThatCannotBeWrittenIsToldUnderTheLinesCaptionWithItsFile) {
    const LogRecorder log(Folder() + "/log.txt");
    BrokerForwarder forwarder(Folder() + "/Tolvane.spool");
    forwarder.SetCaption(1, "Oven");
    const std::string file = Folder() + "/oven.txt";
    {
        // The spool's disk takes some thirty report lines.
        const FileSizeLimit disk(4096);
        for (int number = 1; number <= 100; ++number)
            HandOver(forwarder, file, "LOT " + std::to_string(number) + std::string(100, ' '));
        EXPECT_TRUE(WaitFor([&] { return forwarder.Status().NotForwarded > 0; }));
    }
    EXPECT_NE(log.Text().find("Oven (" + file + "): report lines are not forwarded to the broker."),
              std::string::npos)
        << log.Text();
}
