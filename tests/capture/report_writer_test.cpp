#include "capture/production_line.h"
#include "capture/report_file.h"
#include "capture/report_writer.h"
#include "tests/capture/file_bytes.h"
#include "tests/capture/restricted_writes.h"

#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

class ReportWriterTest : public ::testing::Test {
protected:
    // A report file that nobody can write, not even root, until Unblock: its folder is a file.
    std::string BlockedFile() {
        WriteBytes(Blocker(), "");
        return Blocker() + "/report.txt";
    }
    void Unblock() {
        fs::remove(Blocker());
        fs::create_directory(Blocker());
    }
    std::string Blocker() const { return dir.filePath("folder").toStdString(); }

    QTemporaryDir dir;
};

// The spool of held lines fills its disk too: a spool in the next place takes every held line, so
// that one file on disk still holds them all.
TEST_F(ReportWriterTest, HeldLinesWhoseSpoolDiskFillsMoveWholeToTheNextPlace) {
    const std::string small = dir.filePath("small").toStdString();
    const SmallDisk smallDisk(small, "4k");
    if (!smallDisk.Error().empty())
        GTEST_SKIP() << "cannot mount a small disk: " << smallDisk.Error();
    const std::string first = small + "/r.held";
    const std::string next = dir.filePath("r.held").toStdString();
    ReportWriter writer;
    writer.KeepHeldIn([&](const std::string&) { return std::vector<std::string>{first, next}; });
    const std::string file = BlockedFile();
    std::string held;
    const auto submit = [&](int from, int to) {
        for (int n = from; n <= to; ++n) {
            const std::string text = "REPORT LINE " + std::to_string(n) + " ........";
            EXPECT_TRUE(writer.Submit(file, text));
            held += text + "\r\n";
        }
        writer.WaitUntilTried(10s);
    };
    const std::string header = "# held report lines for " + file + "\r\n";
    submit(1, 10);
    EXPECT_EQ(ReadBytes(first), header + held);
    submit(11, 400);
    EXPECT_EQ(ReadBytes(next), header + held);
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(writer.Status().SpoolError, "");
    EXPECT_EQ(writer.Finish(1s).size(), 400u);
    writer.EndSpools(false);
    EXPECT_FALSE(fs::exists(next));
}

// Held lines that no place on disk can keep any more are news, though their file's failure was
// told long before: a kill would now lose them.
TEST_F(ReportWriterTest, HeldLinesThatComeToBeInMemoryOnlyAreToldAgain) {
    const std::string small = dir.filePath("small").toStdString();
    const SmallDisk smallDisk(small, "4k");
    if (!smallDisk.Error().empty())
        GTEST_SKIP() << "cannot mount a small disk: " << smallDisk.Error();
    const std::string spool = small + "/r.held";
    ReportWriter writer;
    writer.KeepHeldIn([&](const std::string&) { return std::vector<std::string>{spool}; });
    const std::string file = BlockedFile();
    ReportFileTold told;
    EXPECT_TRUE(writer.Submit(file, "REPORT LINE 1"));
    writer.WaitUntilTried(10s);
    EXPECT_TRUE(told.TakeNews(writer.Status()));
    EXPECT_FALSE(told.TakeNews(writer.Status()));
    for (int n = 2; n <= 400; ++n)
        EXPECT_TRUE(writer.Submit(file, "REPORT LINE " + std::to_string(n) + " ........"));
    writer.WaitUntilTried(10s);
    const ReportWriterStatus status = writer.Status();
    EXPECT_EQ(status.SpoolError, spool + " (Disk full)");
    EXPECT_TRUE(told.TakeNews(status));
    EXPECT_NE(ReportFileErrorText("Line 1", file, status)
                  .find("They are in memory only: " + spool + " (Disk full) cannot keep them"),
              std::string::npos);
}

// A full disk that frees a little takes some of the held lines: the spool keeps only the others,
// so that a kill then leaves each line in one place.
TEST_F(ReportWriterTest, ASpoolKeepsOnlyTheHeldLinesThatAFileWithALittleRoomDidNotTake) {
    const std::string disk = dir.filePath("disk").toStdString();
    const SmallDisk diskDisk(disk, "8k");
    if (!diskDisk.Error().empty())
        GTEST_SKIP() << "cannot mount a small disk: " << diskDisk.Error();
    const std::string filler = disk + "/filler";
    WriteBytes(filler, std::string(8192, 'x'));
    const std::string spool = dir.filePath("r.held").toStdString();
    ReportWriter writer;
    writer.KeepHeldIn([&](const std::string&) { return std::vector<std::string>{spool}; });
    const std::string file = disk + "/report.txt";
    std::string held;
    for (int n = 1; n <= 300; ++n) {
        const std::string text = "REPORT LINE " + std::to_string(n) + " ................";
        EXPECT_TRUE(writer.Submit(file, text));
        held += text + "\r\n";
    }
    writer.WaitUntilTried(10s);
    const std::string header = "# held report lines for " + file + "\r\n";
    EXPECT_EQ(ReadBytes(spool), header + held);

    fs::resize_file(filler, 4096); // one page free: room for some of the lines
    const auto spoolHoldsTheRest = [&] {
        const std::string written = ReadBytes(file);
        return !written.empty() && written.size() < held.size() && held.starts_with(written) &&
               ReadBytes(spool) == header + held.substr(written.size());
    };
    for (int i = 0; i < 100 && !spoolHoldsTheRest(); ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(spoolHoldsTheRest())
        << ReadBytes(file).size() << " bytes written, " << ReadBytes(spool).size() << " spooled";
    (void)writer.Finish(1s);
    writer.EndSpools(false);
}

// Killed while a file that works again takes its held lines back, batch by batch: the next start
// saves only the lines that the file had not taken yet, so that none is in both.
TEST_F(ReportWriterTest, AKillWhileAFileTakesItsHeldLinesBackLeavesNoLineTwice) {
    const std::string file = BlockedFile();
    const std::string folder = dir.filePath("settings").toStdString();
    fs::create_directory(folder);
    std::string held;
    for (int n = 1; n <= 6000; ++n)
        held += "REPORT LINE " + std::to_string(n) + std::string(80, '.') + "\r\n";
    int taken[2];
    ASSERT_EQ(::pipe(taken), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // After the first batch that the file takes, the writer stops there for good.
        bool wrote = false;
        SetReportAppender([&](const std::string& to, const std::string& text) {
            if (wrote) {
                (void)!::write(taken[1], "x", 1);
                ::pause();
            }
            AppendReportLine(to, text);
            wrote = true;
        });
        ReportWriter writer;
        writer.KeepHeldIn([&](const std::string& report) {
            return std::vector<std::string>{folder + "/" + fs::path(report).filename().string() +
                                            ".line1.held"};
        });
        for (std::size_t at = 0; at < held.size();) {
            const std::size_t end = held.find("\r\n", at);
            (void)writer.Submit(file, held.substr(at, end - at));
            at = end + 2;
        }
        ::pause();
        ::_exit(0);
    }
    const std::string spool = folder + "/report.txt.line1.held";
    for (int i = 0; i < 200 && ReadBytes(spool).size() < held.size(); ++i)
        std::this_thread::sleep_for(50ms);
    Unblock();
    char byte = 0;
    EXPECT_EQ(::read(taken[0], &byte, 1), 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    const std::string written = ReadBytes(file);
    ASSERT_FALSE(written.empty());
    ASSERT_LT(written.size(), held.size());
    ProductionLines lines;
    (void)RecoverHeldLines(lines, folder);
    const std::string unsaved = ReadBytes(folder + "/report.txt.unsaved");
    EXPECT_TRUE(written + unsaved == held)
        << written.size() << " bytes written and " << unsaved.size() << " saved of " << held.size();
    EXPECT_FALSE(fs::exists(spool + ".taken"));
}

TEST_F(ReportWriterTest, HeldLinesComeFirstOnceTheFileCanBeWrittenAgainEvenWithNoNewLine) {
    ReportWriter writer;
    const std::string file = BlockedFile();
    for (const char* text : {"one", "two", "three"})
        EXPECT_TRUE(writer.Submit(file, text));
    writer.WaitUntilTried(10s);
    ReportWriterStatus status = writer.Status();
    EXPECT_EQ(status.ErrorCode, 3);
    EXPECT_EQ(status.ErrorText, "Invalid filename");
    EXPECT_EQ(status.Held, 3u);
    EXPECT_EQ(ReadBytes(file), "");

    // No new report line comes: the retry every 2 s writes them.
    Unblock();
    for (int i = 0; i < 100 && writer.Status().ErrorCode != 0; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ReadBytes(file), "one\r\ntwo\r\nthree\r\n");
    status = writer.Status();
    EXPECT_EQ(status.ErrorCode, 0);
    EXPECT_EQ(status.Held, 0u);
    EXPECT_EQ(status.Failure, 1u);
    EXPECT_TRUE(writer.Finish(1s).empty());
}

// Held lines go out together once the file can be written; a file with room for only some of them
// still takes those, whole and in order, and holds the rest.
TEST_F(ReportWriterTest, HeldLinesThatDoNotAllFitGoInAsFarAsTheyFitAndTheRestStayHeld) {
    ReportWriter writer;
    const std::string file = BlockedFile();
    for (const char* text : {"one", "two", "three"})
        EXPECT_TRUE(writer.Submit(file, text));
    writer.WaitUntilTried(10s);
    EXPECT_EQ(writer.Status().Held, 3u);
    {
        FileSizeLimit limit(12); // "one\r\ntwo\r\n" and a part of "three\r\n"
        Unblock();
        // The error changes from the missing folder to the full file once "three" was tried.
        for (int i = 0; i < 100 && writer.Status().ErrorCode == 3; ++i)
            std::this_thread::sleep_for(50ms);
        EXPECT_EQ(ReadBytes(file), "one\r\ntwo\r\n");
        EXPECT_EQ(writer.Status().Held, 1u);
        EXPECT_NE(writer.Status().ErrorCode, 0);
    }
    for (int i = 0; i < 100 && writer.Status().ErrorCode != 0; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ReadBytes(file), "one\r\ntwo\r\nthree\r\n");
    EXPECT_TRUE(writer.Finish(1s).empty());
}

TEST_F(ReportWriterTest, PastTheHoldLimitLinesAreCountedLostAndWhatIsHeldIsKept) {
    ReportWriter writer;
    const std::string file = BlockedFile();
    const std::string mebibyte(1u << 20, 'x');
    for (std::size_t i = 0; i < ReportWriter::HoldLimit / mebibyte.size(); ++i)
        ASSERT_TRUE(writer.Submit(file, mebibyte));
    EXPECT_FALSE(writer.Submit(file, "one too many"));
    writer.WaitUntilTried(10s);
    EXPECT_EQ(writer.Status().Lost, 1u);
    EXPECT_EQ(writer.Status().Held, 64u);
    const std::vector<QueuedReportLine> left = writer.Finish(1s);
    EXPECT_EQ(left.size(), 64u);
    EXPECT_EQ(left.front().File, file);
}

} // namespace
