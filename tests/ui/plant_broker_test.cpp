// Report lines forwarded to a real Mosquitto broker over real serial lines: every line of eight
// arrives once per seq, in order, as its file holds it; a broker that goes away for a while costs
// nothing; a refused connection is said in the dialog while capture goes on; and the dialog's
// OK stores only what it can use.

#include "broker/plant_broker.h"
#include "tests/capture/restricted_writes.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/ui/forms_fixture.h"
#include "ui/plant_broker_form.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <map>
#include <sys/stat.h>
#include <thread>

namespace {

const std::string EightLinesOn = "[ComPortSettings]\nComPort=0\nComPortB=1\nComPortC=2\n"
                                 "ComPortD=3\nComPortE=4\nComPortF=5\nComPortG=6\nComPortH=7\n";
const std::string Prefix = "tolvane/test";

std::string BrokerSection(const std::string& url) {
    return "[Broker]\nEnabled=1\nUrl=" + url + "\nTopicPrefix=" + Prefix + "\n";
}

std::string ReportLine(int line, int number) {
    return "LINE " + std::to_string(line) + " LOT " + std::to_string(number) +
           " \"OK\" \xB0"
           "C";
}

// A report file's lines, without CR LF.
std::vector<std::string> FileLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            break;
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

struct Forwarded {
    std::int64_t Seq;
    std::string Text;
    QJsonObject Object;
};

// The report lines of one line as the subscriber got them, in order of arrival.
std::vector<Forwarded> ForwardedLines(const TopicSubscriber& subscriber, int line) {
    std::vector<Forwarded> got;
    const std::string topic = Prefix + "/line" + std::to_string(line);
    for (const auto& [name, payload] : subscriber.Messages()) {
        if (name != topic)
            continue;
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object();
        got.push_back({object.value("seq").toInteger(),
                       object.value("text").toString().toLatin1().toStdString(), object});
    }
    return got;
}

// The distinct report lines by seq, duplicates dropped as a consumer drops them.
std::map<std::int64_t, std::string> BySeq(const std::vector<Forwarded>& got) {
    std::map<std::int64_t, std::string> bySeq;
    for (const Forwarded& line : got)
        bySeq.emplace(line.Seq, line.Text);
    return bySeq;
}

} // namespace

class PlantBrokerTest : public FormsTest {
protected:
    std::string ReportFile(int line) const {
        return settings.Folder() + "line" + std::to_string(line) + ".txt";
    }
};

TEST_F(PlantBrokerTest, EveryReportLineOfEightLinesArrivesOncePerSeqInOrderAsInItsFile) {
    MosquittoBroker broker;
    TopicSubscriber subscriber(broker, Prefix + "/#");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    StartUp(EightLinesOn + BrokerSection(broker.Url()));
    for (int line = 1; line <= LineCount; ++line)
        StartLine(line, ReportFile(line));
    constexpr int Count = 1000;
    std::thread sender([&] {
        for (int number = 1; number <= Count; ++number)
            for (int line = 1; line <= LineCount; ++line)
                lines.Com(line).Write(ReportLine(line, number) + "\r\n");
    });
    const bool arrived = QTest::qWaitFor(
        [&] {
            for (int line = 1; line <= LineCount; ++line)
                if (ForwardedLines(subscriber, line).size() < Count)
                    return false;
            return true;
        },
        120000);
    sender.join();
    ASSERT_TRUE(arrived);
    for (int line = 1; line <= LineCount; ++line) {
        SCOPED_TRACE(line);
        const std::vector<Forwarded> got = ForwardedLines(subscriber, line);
        const std::vector<std::string> file = FileLines(FileText(ReportFile(line)));
        ASSERT_EQ(got.size(), static_cast<std::size_t>(Count));
        ASSERT_EQ(file.size(), static_cast<std::size_t>(Count));
        for (int i = 0; i < Count; ++i) {
            EXPECT_EQ(got[i].Seq, i + 1);
            EXPECT_EQ(got[i].Text, file[i]);
        }
        EXPECT_EQ(got[0].Object.value("line").toInt(), line);
        EXPECT_EQ(got[0].Object.value("caption").toString(), QStringLiteral("Line %1").arg(line));
        EXPECT_EQ(got[0].Object.value("file").toString().toStdString(), ReportFile(line));
    }
    const auto states = subscriber.Messages();
    EXPECT_NE(std::find(states.begin(), states.end(),
                        std::pair<std::string, std::string>(Prefix + "/status", "online")),
              states.end());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const auto messages = subscriber.Messages();
            return std::any_of(messages.begin(), messages.end(), [](const auto& message) {
                return message.first == Prefix + "/line1/state" &&
                       message.second.find("\"state\":\"capturing\"") != std::string::npos;
            });
        },
        20000));
}

TEST_F(PlantBrokerTest, AStartAndAStopAreToldToThePlantAsTheyHappen) {
    MosquittoBroker broker;
    TopicSubscriber subscriber(broker, Prefix + "/line1/state");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    StartUp(BrokerSection(broker.Url()));
    const auto lastState = [&] {
        const auto messages = subscriber.Messages();
        return messages.empty() ? std::string() : messages.back().second;
    };
    StartLine(1, ReportFile(1));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return lastState().find("\"state\":\"capturing\"") != std::string::npos; }, 20000))
        << lastState();
    Main().StartLineBtns[0]->click();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return lastState().find("\"state\":\"stopped\"") != std::string::npos; }, 20000))
        << lastState();
}

TEST_F(PlantBrokerTest, ABrokerStoppedWhileALineSendsAndBackThreeSecondsLaterMissesNothing) {
    MosquittoBroker broker;
    TopicSubscriber subscriber(broker, Prefix + "/#");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    StartUp(BrokerSection(broker.Url()));
    StartLine(1, ReportFile(1));
    constexpr int Count = 600;
    std::thread sender([&] {
        for (int number = 1; number <= Count; ++number) {
            lines.Com(1).Write(ReportLine(1, number) + "\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    // No assertion may leave the sender running.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return ForwardedLines(subscriber, 1).size() >= 100; }, 30000));
    broker.Stop();
    QTest::qWait(3000);
    broker.Start();
    const bool arrived = QTest::qWaitFor(
        [&] { return BySeq(ForwardedLines(subscriber, 1)).size() >= Count; }, 120000);
    sender.join();
    ASSERT_TRUE(arrived);
    const std::map<std::int64_t, std::string> bySeq = BySeq(ForwardedLines(subscriber, 1));
    const std::vector<std::string> file = FileLines(FileText(ReportFile(1)));
    ASSERT_EQ(file.size(), static_cast<std::size_t>(Count));
    ASSERT_EQ(bySeq.size(), static_cast<std::size_t>(Count));
    int seq = 1;
    for (const auto& [number, text] : bySeq) {
        EXPECT_EQ(number, seq);
        EXPECT_EQ(text, file[static_cast<std::size_t>(seq - 1)]);
        ++seq;
    }
}

TEST_F(PlantBrokerTest, ASpoolWhoseDiskFilledWhileTheBrokerWasAwayForwardsAgainOnceItIsBack) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start());
    // Subscribed before the disk limit, which would cut its own record of the messages short.
    TopicSubscriber subscriber(broker, Prefix + "/#");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    broker.Stop();
    StartUp(BrokerSection(broker.Url()));
    StartLine(1, ReportFile(1));
    // The spool's disk holds some twenty records; the report file stays below that size.
    const FileSizeLimit disk(4096);
    const auto send = [&](int from, int to) {
        for (int number = from; number <= to; ++number)
            lines.Com(1).Write(ReportLine(1, number) + "\r\n");
    };
    send(1, 40);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return FileLines(FileText(ReportFile(1))).size() == 40; }, 20000));
    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return forms->Broker->Status().Connected; }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return forms->Broker->Status().Waiting == 0; }, 30000));
    send(41, 45);
    const auto later = [&] {
        int arrived = 0;
        for (int number = 41; number <= 45; ++number)
            for (const Forwarded& line : ForwardedLines(subscriber, 1))
                if (line.Text.ends_with(ReportLine(1, number))) {
                    // Numbered as if none had been refused: the refused ones leave a gap.
                    EXPECT_EQ(line.Seq, number);
                    ++arrived;
                    break;
                }
        return arrived;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return later() == 5; }, 20000))
        << later() << " of the 5 lines sent after the broker came back arrived";
    // The writer appends on its own thread; it may come after the forwarder.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return FileLines(FileText(ReportFile(1))).size() == 45; }, 20000))
        << FileText(ReportFile(1));
}

TEST_F(PlantBrokerTest, ARefusedConnectionIsSaidInTheDialogAndCaptureAndFilesGoOn) {
    StartUp(BrokerSection("mqtt://127.0.0.1:" + std::to_string(FreeLocalPort())));
    StartLine(1, ReportFile(1));
    for (int number = 1; number <= 3; ++number)
        ASSERT_TRUE(lines.Com(1).Write(ReportLine(1, number) + "\r\n"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return FileLines(FileText(ReportFile(1))).size() == 3; }, 20000));
    TPlantBrokerForm& dialog = *forms->PlantBrokerForm;
    dialog.show();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const std::string status = dialog.StatusLabel->text().toStdString();
            return status.find("connection refused") != std::string::npos &&
                   status.find("3 report lines waiting") != std::string::npos;
        },
        20000))
        << dialog.StatusLabel->text().toStdString();
    EXPECT_TRUE(dialog.StatusLabel->text().startsWith(QStringLiteral("trying since ")));
    ASSERT_TRUE(lines.Com(1).Write(ReportLine(1, 4) + "\r\n"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return FileLines(FileText(ReportFile(1))).size() == 4; }, 20000));
    dialog.CancelBtn->click();
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(PlantBrokerTest, OkStoresNothingThatCannotBeUsedAndCancelChangesNothing) {
    StartUp();
    TPlantBrokerForm& dialog = *forms->PlantBrokerForm;
    const auto tryUrl = [&](const QString& url) {
        dialog.show();
        dialog.EnabledCheckBox->setChecked(true);
        dialog.UrlEdit->setText(url);
        dialog.OKBtn->click();
        return dialog.ErrorLabel->text().toStdString();
    };
    EXPECT_NE(tryUrl(QStringLiteral("http://broker")).find("Unknown scheme"), std::string::npos);
    EXPECT_NE(tryUrl(QStringLiteral("mqtt://broker:70000")).find("1 to 65535"), std::string::npos);
    EXPECT_NE(tryUrl(QStringLiteral("mqtt://:1883")).find("names no host"), std::string::npos);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(settings.Value("Broker", "Url"), "<missing>");
    dialog.CancelBtn->click();
    EXPECT_EQ(settings.Value("Broker", "Url"), "<missing>");

    dialog.show();
    const std::string url = "mqtts://127.0.0.1:" + std::to_string(FreeLocalPort());
    dialog.EnabledCheckBox->setChecked(true);
    dialog.UrlEdit->setText(QString::fromStdString(url));
    dialog.UsernameEdit->setText(QStringLiteral("line-pc"));
    dialog.PasswordEdit->setText(QStringLiteral("s3cret"));
    dialog.OKBtn->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(settings.Value("Broker", "Url"), url);
    EXPECT_EQ(settings.Value("Broker", "Password"), "s3cret");
    struct stat info {};
    ASSERT_EQ(::stat(settings.Path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // Connected again with what was stored.
    EXPECT_TRUE(QTest::qWaitFor([&] { return forms->Broker->Status().Server == url; }, 20000));
}
