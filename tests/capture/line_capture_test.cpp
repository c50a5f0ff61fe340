#include "capture/line_capture.h"
#include "capture/stamps.h"
#include "runtime/exceptions.h"
#include "tests/capture/file_bytes.h"

#include <QLocale>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <string_view>
#include <vector>

namespace {

// What the pipeline takes from and gives to the rest of the program: bytes waiting in the port and
// the two views.
class TestLine : public LineEndpoints {
public:
    std::string Port;
    std::size_t Next = 0;
    std::vector<std::string> Views;

    std::size_t TakeChars(char* into, std::size_t count) override {
        const std::size_t taken = Port.copy(into, count, Next);
        Next += taken;
        return taken;
    }
    void AddToViews(const std::string& reportLine) override { Views.push_back(reportLine); }
};

// A started line with both stamps off, as the tests begin.
void Start(ProductionLine& line, const std::string& fileName, std::uint16_t trigger) {
    line.Started = true;
    line.DateStamp = line.TimeStamp = false;
    line.ReportFile = fileName;
    line.Capture.LineTriggerHandle = trigger;
    line.Capture.Delimiter = ',';
}

constexpr std::uint16_t Trigger = 8;

// Delivers bytes as the serial layer does: at each LF, the bytes before it are announced, then the
// trigger matches; the LF itself comes first in the next announcement.
void Receive(ProductionLine& line, TestLine& endpoints, std::string_view bytes,
             std::uint16_t handle = Trigger) {
    const std::size_t base = endpoints.Port.size();
    endpoints.Port.append(bytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\n')
            continue;
        HandleTriggerAvail(line, endpoints, static_cast<std::uint16_t>(base + i - endpoints.Next));
        HandleTriggerData(line, endpoints, handle);
    }
    HandleTriggerAvail(line, endpoints,
                       static_cast<std::uint16_t>(endpoints.Port.size() - endpoints.Next));
    // The line's writer has had its turn before the test looks at the file.
    line.Writer().WaitUntilTried(std::chrono::seconds(10));
}

class LineCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale::c());
        SetClock([] { return QDateTime(QDate(2026, 12, 7), QTime(15, 4, 9)); });
        Start(line, dir.filePath("report.txt").toStdString(), Trigger);
    }
    void TearDown() override { SetClock({}); }

    std::string File() const { return ReadBytes(line.ReportFile); }

    QTemporaryDir dir;
    ProductionLine line;
    TestLine endpoints;
};

struct FormatCase {
    bool Date, Time;
    int Code;
    const char* Expected;
};

class ReportLineFormat : public LineCaptureTest,
                         public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ReportLineFormat, StampsAndDelimiterPrecedeTheText) {
    const FormatCase& c = GetParam();
    line.DateStamp = c.Date;
    line.TimeStamp = c.Time;
    ProductionLines lines;
    lines.Line(1).DelimiterCode = c.Code;
    RefreshDelimiters(lines);
    line.Capture.Delimiter = lines.Line(1).Capture.Delimiter.load();
    Receive(line, endpoints, "LOT 42 OK\r\n");
    EXPECT_EQ(line.Capture.ReportLine, c.Expected);
    EXPECT_EQ(endpoints.Views, std::vector<std::string>{c.Expected});
    EXPECT_EQ(File(), std::string(c.Expected) + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    EveryStampAndDelimiter, ReportLineFormat,
    ::testing::Values(FormatCase{true, true, 0, "07-Dec-26,15:04:09,LOT 42 OK"},
                      FormatCase{false, true, 3, "15:04:09;LOT 42 OK"},
                      FormatCase{true, false, 1, "07-Dec-26 LOT 42 OK"},
                      FormatCase{true, false, 2, "07-Dec-26\tLOT 42 OK"},
                      FormatCase{true, true, 3, "07-Dec-26;15:04:09;LOT 42 OK"},
                      FormatCase{true, true, 1, "07-Dec-26 15:04:09 LOT 42 OK"},
                      FormatCase{false, true, 2, "15:04:09\tLOT 42 OK"},
                      FormatCase{true, true, -1, "07-Dec-26,15:04:09,LOT 42 OK"},
                      FormatCase{false, true, 7, "15:04:09,LOT 42 OK"},
                      FormatCase{false, false, 0, "LOT 42 OK"},
                      FormatCase{false, false, 3, "LOT 42 OK"}));

TEST_F(LineCaptureTest, LineEndsLfCrLfAndLfCrGiveTheSameLines) {
    for (const char* bytes : {"A1\nB2\n", "A1\r\nB2\r\n", "A1\n\rB2\n\r"}) {
        SCOPED_TRACE(bytes);
        std::filesystem::remove(line.ReportFile.Get());
        endpoints.Views.clear();
        Receive(line, endpoints, bytes);
        EXPECT_EQ(endpoints.Views, (std::vector<std::string>{"A1", "B2"}));
        EXPECT_EQ(File(), "A1\r\nB2\r\n");
        EXPECT_EQ(line.Capture.PendingText, "");
    }
}

TEST_F(LineCaptureTest, CrAloneNeverEndsALine) {
    Receive(line, endpoints, "A1\rB2\r");
    EXPECT_TRUE(endpoints.Views.empty());
    EXPECT_FALSE(std::filesystem::exists(line.ReportFile.Get()));
    Receive(line, endpoints, "C3\n");
    EXPECT_EQ(File(), "A1B2C3\r\n");
}

TEST_F(LineCaptureTest, EmptyLineIsStampsOnlyOrEmpty) {
    Receive(line, endpoints, "\r\n");
    line.DateStamp = line.TimeStamp = true;
    Receive(line, endpoints, "\r\n");
    EXPECT_EQ(endpoints.Views, (std::vector<std::string>{"", "07-Dec-26,15:04:09,"}));
    EXPECT_EQ(File(), "\r\n07-Dec-26,15:04:09,\r\n");
}

TEST_F(LineCaptureTest, EveryByteButCrAndLfPassesUnchanged) {
    const std::string text("\0\x01\t\x7f\x80\xe9\xff;,", 9);
    Receive(line, endpoints, text + "\r\n");
    EXPECT_EQ(File(), text + "\r\n");
}

TEST_F(LineCaptureTest, StoppedLineDiscardsCompletedLinesButKeepsAPartialOne) {
    line.Started = false;
    Receive(line, endpoints, "GONE\r\nPAR");
    EXPECT_TRUE(endpoints.Views.empty());
    EXPECT_FALSE(std::filesystem::exists(line.ReportFile.Get()));
    EXPECT_EQ(line.Capture.PendingText, "PAR");
    line.Started = true;
    Receive(line, endpoints, "TIAL\r\n");
    EXPECT_EQ(File(), "PARTIAL\r\n");
}

TEST_F(LineCaptureTest, ForeignTriggerChangesNothing) {
    Receive(line, endpoints, "KEEP");
    line.Capture.ReportLine = "previous";
    HandleTriggerData(line, endpoints, Trigger + 8);
    HandleTriggerData(line, endpoints, 0);
    EXPECT_EQ(line.Capture.PendingText, "KEEP");
    EXPECT_EQ(line.Capture.ReportLine, "previous");
    EXPECT_TRUE(endpoints.Views.empty());
    EXPECT_FALSE(std::filesystem::exists(line.ReportFile.Get()));
}

TEST_F(LineCaptureTest, DelimiterNotYetLoadedWritesACommaNotANul) {
    line.Capture.Delimiter = 0;
    line.TimeStamp = true;
    Receive(line, endpoints, "X\n");
    EXPECT_EQ(File(), "15:04:09,X\r\n");
}

TEST_F(LineCaptureTest, DateAndTimeComeFromOneReadingOfTheClock) {
    auto now = QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59));
    SetClock([&now] {
        const QDateTime reading = now;
        now = now.addSecs(1);
        return reading;
    });
    line.DateStamp = line.TimeStamp = true;
    Receive(line, endpoints, "X\n");
    EXPECT_EQ(File(), "31-Dec-26,23:59:59,X\r\n") << "not the old day's date at the new day's time";
    Receive(line, endpoints, "Y\n");
    EXPECT_EQ(File(), "31-Dec-26,23:59:59,X\r\n01-Jan-27,00:00:00,Y\r\n");
}

TEST_F(LineCaptureTest, AppendsToAnExistingFileAndRecreatesARemovedOne) {
    WriteBytes(line.ReportFile, "old\r\n");
    Receive(line, endpoints, "one\n");
    EXPECT_EQ(File(), "old\r\none\r\n");
    std::filesystem::remove(line.ReportFile.Get());
    Receive(line, endpoints, "two\n");
    EXPECT_EQ(File(), "two\r\n");
}

TEST_F(LineCaptureTest, TwoLinesSharingAFileInterleaveWholeLines) {
    ProductionLine other;
    Start(other, line.ReportFile, 16);
    TestLine otherEnd;
    Receive(line, endpoints, "first-");
    Receive(other, otherEnd, "B1\n", 16);
    Receive(line, endpoints, "half\nA2\n");
    Receive(other, otherEnd, "B2\n", 16);
    EXPECT_EQ(File(), "B1\r\nfirst-half\r\nA2\r\nB2\r\n");
}

TEST_F(LineCaptureTest, UnwritableFileHoldsItsLineWithoutFailingAndAnotherFileTakesTheNext) {
    const std::string good = line.ReportFile;
    line.ReportFile = dir.path().toStdString(); // a folder cannot be appended to
    Receive(line, endpoints, "HELD\n");
    EXPECT_EQ(endpoints.Views, std::vector<std::string>{"HELD"});
    EXPECT_EQ(line.Capture.PendingText, "");
    const ReportWriterStatus status = line.Writer().Status();
    EXPECT_EQ(status.ErrorCode, 5);
    EXPECT_EQ(status.ErrorText, "File access denied");
    EXPECT_EQ(status.File, line.ReportFile);
    EXPECT_EQ(status.Held, 1u);
    line.ReportFile = good;
    Receive(line, endpoints, "NEXT\n");
    EXPECT_EQ(File(), "NEXT\r\n");
}

} // namespace
