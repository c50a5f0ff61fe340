// The real program, killed while the broker is away: the report lines it had spooled reach the
// broker once both run again, here as the program without windows, and the sequence numbers go
// on where they stopped.

#include "tests/support/mosquitto_broker.h"
#include "tests/support/pty_pair.h"
#include "tests/support/wait_for.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// The program, with its windows on the offscreen platform or headless, and its own settings file.
class ProgramProcess {
public:
    explicit ProgramProcess(const std::string& settingsFile, bool headless = false) {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execl(TOLVANE_PROGRAM, TOLVANE_PROGRAM, "--settings", settingsFile.c_str(),
                    headless ? "--headless" : static_cast<char*>(nullptr),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~ProgramProcess() { End(SIGTERM); }
    // Whether it holds the device open: bytes sent before the port opens are purged.
    bool Holds(const std::string& device) const {
        std::error_code error;
        for (const auto& fd :
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", error))
            if (std::filesystem::read_symlink(fd.path(), error) == device)
                return true;
        return false;
    }
    void End(int signal) {
        if (pid_ <= 0)
            return;
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

std::map<std::int64_t, std::string> ForwardedBySeq(const TopicSubscriber& subscriber) {
    std::map<std::int64_t, std::string> bySeq;
    for (const auto& [topic, payload] : subscriber.Messages()) {
        if (topic != "tolvane/test/line1")
            continue;
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object();
        bySeq.emplace(object.value("seq").toInteger(),
                      object.value("text").toString().toLatin1().toStdString());
    }
    return bySeq;
}

std::vector<std::string> FileLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.substr(0, line.size() - (!line.empty() && line.back() == '\r')));
    return lines;
}

} // namespace

TEST(BrokerSpoolRestartTest, LinesSpooledBeforeAKillWhileTheBrokerIsDownArriveAfterBothStartAgain) {
    QTemporaryDir folder;
    const std::string dir = folder.path().toStdString();
    const std::string settingsFile = dir + "/Tolvane.ini";
    const std::string reportFile = dir + "/line1.txt";
    const std::string spoolFile = dir + "/Tolvane.spool/line1.spool";
    PtyPair line(1);
    MosquittoBroker broker;
    broker.Stop();
    {
        std::ofstream settings(settingsFile, std::ios::binary);
        settings << "[PortDevices]\r\nCOM1=" << line.SlavePath() << "\r\n"
                 << "[Capture]\r\nResumeAtStartup=1\r\nReportFile1=" << reportFile << "\r\n"
                 << "[Broker]\r\nEnabled=1\r\nUrl=" << broker.Url()
                 << "\r\nTopicPrefix=tolvane/test\r\n";
    }
    constexpr std::size_t Count = 200;
    {
        ProgramProcess program(settingsFile);
        ASSERT_TRUE(WaitFor([&] { return program.Holds(line.SlavePath()); }, 60s));
        // LF alone: lines sent before the port's raw mode is set would have a CR turned into LF.
        for (std::size_t number = 1; number <= Count; ++number)
            ASSERT_TRUE(line.Write("LOT " + std::to_string(number) + " OK\n"));
        ASSERT_TRUE(WaitFor([&] { return FileLines(ReadAll(reportFile)).size() == Count; }, 60s));
        ASSERT_TRUE(
            WaitFor([&] { return Occurrences(ReadAll(spoolFile), "\"seq\":") == Count; }, 60s));
        program.End(SIGKILL);
    }
    ASSERT_TRUE(broker.Start());
    TopicSubscriber subscriber(broker, "tolvane/test/#");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    ProgramProcess program(settingsFile, true);
    ASSERT_TRUE(WaitFor([&] { return program.Holds(line.SlavePath()); }, 60s));
    EXPECT_TRUE(WaitFor([&] { return ForwardedBySeq(subscriber).size() >= Count; }, 60s));
    // The next report line goes on from the last seq before the kill.
    ASSERT_TRUE(line.Write("LOT AFTER THE RESTART\n"));
    EXPECT_TRUE(WaitFor([&] { return ForwardedBySeq(subscriber).size() == Count + 1; }, 60s));
    const std::map<std::int64_t, std::string> bySeq = ForwardedBySeq(subscriber);
    const std::vector<std::string> file = FileLines(ReadAll(reportFile));
    ASSERT_EQ(file.size(), Count + 1);
    ASSERT_EQ(bySeq.size(), Count + 1);
    std::int64_t seq = 1;
    for (const auto& [number, text] : bySeq) {
        EXPECT_EQ(number, seq);
        EXPECT_EQ(text, file[static_cast<std::size_t>(seq - 1)]);
        ++seq;
    }
}
