// The forwarder over real spool folders and a real Mosquitto, handed report lines as capture
// hands them: a second forwarder on the same spools stands aside, and what the system log says
// of a line names it by its caption.

#include "broker/broker_forwarder.h"
#include "runtime/system_log.h"
#include "tests/capture/restricted_writes.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/wait_for.h"

#include <QTemporaryDir>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
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

BrokerConfig ConfigFor(const MosquittoBroker& broker) {
    BrokerSettings settings;
    settings.Enabled = true;
    settings.Url = broker.Url();
    settings.TopicPrefix = "tolvane/test";
    std::string error;
    return ResolveBrokerConfig(settings, error).value();
}

void HandOver(BrokerForwarder& forwarder, const std::string& file, const std::string& text) {
    forwarder.Sink(1).ReportLineCompleted(file, text, std::chrono::system_clock::now());
}

std::size_t ForwardedCount(const TopicSubscriber& subscriber) {
    std::size_t count = 0;
    for (const auto& message : subscriber.Messages())
        count += message.first == "tolvane/test/line1";
    return count;
}

class BrokerForwarderTest : public ::testing::Test {
protected:
    std::string Folder() const { return dir_.path().toStdString(); }
    QTemporaryDir dir_;
};

} // namespace

TEST_F(BrokerForwarderTest, ASecondForwarderOnTheSameSpoolsSaysOnceWhoForwardsAndNeverConnects) {
    const LogRecorder log(Folder() + "/log.txt");
    MosquittoBroker broker;
    TopicSubscriber subscriber(broker, "tolvane/test/#");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    const std::string spools = Folder() + "/Tolvane.spool";
    auto first = std::make_unique<BrokerForwarder>(spools);
    first->Configure(ConfigFor(broker));
    ASSERT_TRUE(WaitFor([&] { return first->Status().Connected; }));
    // The lock is an flock, which two opens of its file in one process contend for as two
    // processes do.
    BrokerForwarder second(spools);
    second.Configure(ConfigFor(broker));
    const std::string holder = "another Tolvane (pid " + std::to_string(::getpid()) +
                               ") forwards from the spools in " + spools;
    EXPECT_TRUE(WaitFor([&] { return log.Text().find(holder) != std::string::npos; }))
        << log.Text();
    EXPECT_EQ(ForwarderStatusText(second.Status()), "not forwarding: " + holder);
    HandOver(*first, Folder() + "/line1.txt", "LOT 1");
    EXPECT_TRUE(WaitFor([&] { return ForwardedCount(subscriber) == 1; }));
    EXPECT_TRUE(first->Status().Connected);
    EXPECT_FALSE(second.Status().Connected);
    EXPECT_EQ(Occurrences(log.Text(), holder), 1u) << log.Text();
    // Once the first has ended, the second forwards.
    first.reset();
    EXPECT_TRUE(WaitFor([&] { return second.Status().Connected; }))
        << ForwarderStatusText(second.Status());
}

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
