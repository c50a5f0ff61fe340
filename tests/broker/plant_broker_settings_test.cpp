// Forwarding as a settings file sets it up, over real folders and a real Mosquitto, report lines
// handed over as capture hands them: a run whose spools are in another place than the run
// before's sends what that one left, once, and goes on with its seq; report lines written while the
// address cannot be used wait for one that can.

#include "broker/plant_broker.h"
#include "settings/profile.h"
#include "tests/capture/restricted_writes.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/wait_for.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Forwarded = std::vector<std::pair<std::int64_t, std::string>>;

// Line 1's report lines as the subscriber got them, seq and text, in order of arrival.
Forwarded Line1(const TopicSubscriber& subscriber) {
    Forwarded got;
    for (const auto& [topic, payload] : subscriber.Messages()) {
        if (topic != "tolvane/test/line1")
            continue;
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object();
        got.emplace_back(object.value("seq").toInteger(),
                         object.value("text").toString().toStdString());
    }
    return got;
}

class PlantBrokerSettingsTest : public ::testing::Test {
protected:
    PlantBrokerSettingsTest() {
        std::filesystem::create_directories(SettingsFolder());
        SetSettingsFileName(SettingsFolder() + "/Tolvane.ini");
        ::unsetenv("STATE_DIRECTORY");
        if (const char* state = std::getenv("XDG_STATE_HOME"))
            stateHome_ = state;
        ::setenv("XDG_STATE_HOME", (Folder() + "/state").c_str(), 1);
    }
    ~PlantBrokerSettingsTest() override {
        SetSettingsFileName(std::string());
        if (stateHome_)
            ::setenv("XDG_STATE_HOME", stateHome_->c_str(), 1);
        else
            ::unsetenv("XDG_STATE_HOME");
    }

    std::string Folder() const { return dir_.path().toStdString(); }
    std::string SettingsFolder() const { return Folder() + "/etc"; }
    void WriteSettings(const std::string& url) const {
        std::ofstream(SettingsFileName(), std::ios::binary)
            << "[Broker]\r\nEnabled=1\r\nUrl=" << url << "\r\nTopicPrefix=tolvane/test\r\n";
    }
    // Line 1's report line, handed over as capture hands it.
    ::testing::AssertionResult HandOver(const std::string& text) {
        ReportLineSink* sink = lines.Line(1).Forward.Get();
        if (sink == nullptr)
            return ::testing::AssertionFailure() << "line 1 is not forwarded";
        sink->ReportLineCompleted(Folder() + "/line1.txt", text, std::chrono::system_clock::now());
        return ::testing::AssertionSuccess();
    }

    QTemporaryDir dir_;
    std::optional<std::string> stateHome_;
    ProductionLines lines;
};

} // namespace

TEST_F(PlantBrokerSettingsTest,
       ARunThatCannotWriteBesideItsSettingsSendsWhatTheOneBeforeSpooledThere) {
    MosquittoBroker broker;
    broker.Stop();
    WriteSettings(broker.Url());
    {
        PlantBroker plant(lines);
        plant.ApplySettings();
        for (const char* text : {"LOT 1", "LOT 2", "LOT 3"})
            ASSERT_TRUE(HandOver(text));
        ASSERT_TRUE(WaitFor([&] { return plant.Status().Waiting == 3; }));
    }
    ASSERT_TRUE(std::filesystem::exists(SettingsFolder() + "/Tolvane.spool/line1.spool"));
    // As the service sees /etc under ProtectSystem=strict, after the window prepared the settings.
    const ReadOnlyFolder readOnly(SettingsFolder());
    ASSERT_EQ(readOnly.Error(), "");
    ASSERT_TRUE(broker.Start());
    TopicSubscriber subscriber(broker, "tolvane/test/#");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    {
        PlantBroker plant(lines);
        plant.ApplySettings();
        ASSERT_TRUE(HandOver("LOT 4"));
        EXPECT_TRUE(WaitFor([&] { return Line1(subscriber).size() >= 4; }));
        const Forwarded expected = {{1, "LOT 1"}, {2, "LOT 2"}, {3, "LOT 3"}, {4, "LOT 4"}};
        EXPECT_EQ(Line1(subscriber), expected);
        ASSERT_TRUE(WaitFor([&] { return plant.Status().Waiting == 0; }));
    }
    EXPECT_TRUE(std::filesystem::exists(Folder() + "/state/tolvane/Tolvane.spool/line1.spool"));
    // The read-only spool still holds them; the next start does not send them once more.
    PlantBroker plant(lines);
    plant.ApplySettings();
    ASSERT_TRUE(HandOver("LOT 5"));
    EXPECT_TRUE(WaitFor([&] { return Line1(subscriber).size() >= 5; }));
    const Forwarded expected = {
        {1, "LOT 1"}, {2, "LOT 2"}, {3, "LOT 3"}, {4, "LOT 4"}, {5, "LOT 5"}};
    EXPECT_EQ(Line1(subscriber), expected);
}

TEST_F(PlantBrokerSettingsTest, ReportLinesWhileTheAddressIsUnusableAreSentOnceItIsMended) {
    MosquittoBroker broker;
    TopicSubscriber subscriber(broker, "tolvane/test/#");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    const std::string hostAndPort = "127.0.0.1:" + std::to_string(broker.Port());
    WriteSettings("mqtt//" + hostAndPort);
    PlantBroker plant(lines);
    plant.ApplySettings();
    EXPECT_NE(plant.StatusText().find("names no scheme: write mqtt://" + hostAndPort + "."),
              std::string::npos)
        << plant.StatusText();
    ASSERT_TRUE(HandOver("LOT 1"));
    ASSERT_TRUE(HandOver("LOT 2"));
    WriteSettings("mqtt://" + hostAndPort);
    // As SIGHUP or the dialog's OK does.
    plant.ApplySettings();
    ASSERT_TRUE(HandOver("LOT 3"));
    EXPECT_TRUE(WaitFor([&] { return Line1(subscriber).size() >= 3; }));
    const Forwarded expected = {{1, "LOT 1"}, {2, "LOT 2"}, {3, "LOT 3"}};
    EXPECT_EQ(Line1(subscriber), expected);
}

// A reload that leaves [Broker] as it was (a change of ports, say) keeps the connection: a new one
// would tell every subscriber that this PC went offline and came back.
TEST_F(PlantBrokerSettingsTest, TheSameBrokerSettingsAgainKeepTheConnection) {
    MosquittoBroker broker;
    TopicSubscriber subscriber(broker, "tolvane/test/#");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    WriteSettings(broker.Url());
    PlantBroker plant(lines);
    plant.ApplySettings();
    ASSERT_TRUE(HandOver("LOT 1"));
    ASSERT_TRUE(WaitFor([&] { return Line1(subscriber).size() == 1; }));
    plant.ApplySettings();
    ASSERT_TRUE(HandOver("LOT 2"));
    ASSERT_TRUE(WaitFor([&] { return Line1(subscriber).size() == 2; }));
    for (const auto& [topic, payload] : subscriber.Messages())
        EXPECT_FALSE(topic == "tolvane/test/status" && payload == "offline");
}
