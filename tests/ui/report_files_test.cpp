// Running for weeks: a line with a new report file each day turns to the next day's file between
// two report lines, and a line that falls silent shows it on its panel until it reports again.

#include "settings/settings_groups.h"
#include "tests/ui/forms_fixture.h"
#include "ui/line_trouble_label.h"
#include "ui/report_files_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimeEdit>
#include <atomic>
#include <thread>

namespace {

// The clock the tests move; the program may read it on any thread until the windows are gone.
std::atomic<qint64> TestNow{0};

void SetTestClock(QDate day, QTime time) {
    TestNow = QDateTime(day, time).toMSecsSinceEpoch();
}

const QDate December9(2026, 12, 9);

// Splits a report file into its lines, each checked to begin with `stamp`, which is removed.
std::vector<std::string> Texts(const std::string& file, const std::string& stamp) {
    std::vector<std::string> texts;
    for (std::size_t at = 0; at < file.size();) {
        const std::size_t end = file.find("\r\n", at);
        const std::string line = file.substr(at, end - at);
        EXPECT_TRUE(line.starts_with(stamp)) << line;
        texts.push_back(line.substr(std::min(stamp.size(), line.size())));
        at = end == std::string::npos ? file.size() : end + 2;
    }
    return texts;
}

} // namespace

class ReportFilesTest : public FormsTest {
protected:
    ReportFilesTest() {
        SetClock([] { return QDateTime::fromMSecsSinceEpoch(TestNow.load()); });
    }

    QString Hint(int line) { return Main().LineGroups[line - 1]->toolTip(); }
    QColor CaptionColourShown(int line) {
        return Main().LineGroups[line - 1]->palette().color(QPalette::WindowText);
    }
};

TEST_F(ReportFilesTest, DialogStoresDailyFilesSilenceAndTheTimeEachDayBegins) {
    StartUp();
    TReportFilesForm& form = *forms->ReportFilesForm;
    ModalDriver driver([&](QWidget*) {
        form.findChild<QCheckBox*>(QStringLiteral("NewFileEachDay3Box"))->setChecked(true);
        form.findChild<QSpinBox*>(QStringLiteral("SilenceMinutes3Box"))->setValue(15);
        form.findChild<QTimeEdit*>(QStringLiteral("NewFileAtEdit"))->setTime(QTime(6, 30));
        QTest::mouseClick(form.OKBtn, Qt::LeftButton);
    });
    Main().MenuReportFiles->trigger();
    EXPECT_EQ(driver.Seen, std::vector<std::string>{"TReportFilesForm"});
    EXPECT_EQ(settings.Value("Capture", "NewFileEachDay3"), "1");
    EXPECT_EQ(settings.Value("Capture", "NewFileEachDay2"), "0");
    EXPECT_EQ(settings.Value("Capture", "SilenceMinutes3"), "15");
    EXPECT_EQ(settings.Value("Capture", "NewFileAt"), "06:30");
    EXPECT_TRUE(Line(3).NewFileEachDay.Load());
    EXPECT_FALSE(Line(2).NewFileEachDay.Load());
    EXPECT_EQ(Line(3).SilenceMinutes, 15);
    EXPECT_EQ(Line(8).NewFileAt.Load(), 6 * 60 + 30);
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(ReportFilesTest, ClockCrossingTheNewFileTimeWhileALineSendsGivesTwoFilesEveryLineOnce) {
    SetTestClock(December9, QTime(5, 59, 59));
    StartUp("[Capture]\nNewFileEachDay1=1\nNewFileAt=06:00\n");
    const std::string chosen = settings.Folder() + "press.txt";
    const std::string yesterday = settings.Folder() + "press_2026-12-08.txt";
    const std::string today = settings.Folder() + "press_2026-12-09.txt";
    StartLine(1, chosen);
    EXPECT_TRUE(Hint(1).endsWith(QString::fromStdString("\nReporting to " + yesterday)))
        << Hint(1).toStdString();

    std::atomic<bool> sending{true};
    std::vector<std::string> sent;
    std::thread sender([&] {
        for (int number = 1; sending; ++number) {
            const std::string text = "LOT " + std::to_string(number) + " OK";
            lines.Com(1).Write(text.substr(0, 4));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            lines.Com(1).Write(text.substr(4) + "\r\n");
            sent.push_back(text);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    QTest::qWait(400);
    SetTestClock(December9, QTime(6, 0, 0));
    QTest::qWait(400);
    sending = false;
    sender.join();

    std::size_t bytes = 0;
    for (const std::string& text : sent)
        bytes += 19 + text.size() + 2; // "09-Dec-26,06:00:00," and CR LF
    const auto written = [&] {
        return FileText(yesterday).size() + FileText(today).size() == bytes;
    };
    ASSERT_TRUE(QTest::qWaitFor(written, 20000));
    std::vector<std::string> texts = Texts(FileText(yesterday), "09-Dec-26,05:59:59,");
    const std::size_t before = texts.size();
    for (const std::string& text : Texts(FileText(today), "09-Dec-26,06:00:00,"))
        texts.push_back(text);
    EXPECT_GT(before, 0u);
    EXPECT_LT(before, sent.size());
    EXPECT_EQ(texts, sent);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(chosen)));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Hint(1).endsWith(QString::fromStdString("\nReporting to " + today)); }, 5000))
        << Hint(1).toStdString();
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(ReportFilesTest, SilentLineTurnsOrangeWithItsHintUntilItsNextReportLine) {
    SetTestClock(December9, QTime(14, 0, 0));
    StartUp("[Capture]\nSilenceMinutes1=10\n");
    const std::string file = settings.Folder() + "press.txt";
    StartLine(1, file);
    SetTestClock(December9, QTime(14, 2, 11));
    ASSERT_TRUE(lines.Com(1).Write("LOT 1\r\n"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FileText(file).empty(); }, 20000));

    SetTestClock(December9, QTime(14, 12, 11));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return CaptionColourShown(1) == QColor(200, 100, 0); }, 5000));
    const QString reporting = QString::fromStdString("\nReporting to " + file);
    EXPECT_EQ(Hint(1), QStringLiteral("Double click to change line label\n"
                                      "no report since 14:02:11") +
                           reporting);
    EXPECT_EQ(Main().LineTroubles[0]->Trouble(), QStringLiteral("No report since 14:02:11"));

    ASSERT_TRUE(lines.Com(1).Write("LOT 2\r\n"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return CaptionColourShown(1) == QColor(Qt::black); }, 5000));
    EXPECT_EQ(Hint(1), QStringLiteral("Double click to change line label") + reporting);
    EXPECT_TRUE(Main().LineTroubles[0]->isHidden());
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(ReportFilesTest, ResumedLineGoesOnIntoTheCurrentDaysFile) {
    SetTestClock(December9, QTime(10, 0, 0));
    const std::string chosen = settings.Folder() + "press.txt";
    StartUp("[Capture]\nResumeAtStartup=1\nReportFile1=" + chosen + "\nNewFileEachDay1=1\n");
    ASSERT_TRUE(Main().StartLineBtns[0]->isChecked());
    ASSERT_TRUE(lines.Com(1).Write("LOT 1\r\n"));
    const std::string today = settings.Folder() + "press_2026-12-09.txt";
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return FileText(today) == "09-Dec-26,10:00:00,LOT 1\r\n"; }, 20000))
        << FileText(today);
    EXPECT_EQ(settings.Value("Capture", "ReportFile1"), chosen);
}
