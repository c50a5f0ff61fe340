// The program without a window, run as a user or the service starts it: no display, the lines
// that have report files capture, SIGTERM ends it with every line written, SIGHUP takes new port
// settings from the file; and a command line it does not understand needs no display either.

#include "tests/support/pty_pair.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

std::string FileText(const std::string& path) {
    QFile file(QFile::decodeName(path.c_str()));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// The environment of a computer without a screen.
QProcessEnvironment NoDisplay() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

// The shared libraries mapped into a running process.
std::string MappedFiles(qint64 pid) {
    return FileText("/proc/" + std::to_string(pid) + "/maps");
}

class HeadlessTest : public ::testing::Test {
protected:
    std::string Folder() const { return QFile::encodeName(dir_.path()).toStdString() + "/"; }
    std::string Settings() const { return Folder() + "Tolvane.ini"; }
    std::string ReportFile(int line) const {
        return Folder() + "line" + std::to_string(line) + ".txt";
    }

    // Lines 1 and 2 on COM1 and COM2 at this baud-rate item, unstamped, with report files; resume
    // is off, which the headless program does not heed.
    void WriteSettings(int baudItem) const {
        WriteSettings(baudItem, com2_.SlavePath(), ReportFile(1));
    }
    void WriteSettings(int baudItem, const std::string& com2Device,
                       const std::string& reportFile1) const {
        std::string text =
            "[ComPortSettings]\r\nComPort=0\r\nComPortB=1\r\nBaudRate=" + std::to_string(baudItem) +
            "\r\n[StampingSettings]\r\n";
        for (const char* n : {"1", "2"})
            text += std::string("DateStamp") + n + "=0\r\nTimeStamp" + n + "=0\r\n";
        text += "[PortDevices]\r\nCOM1=" + com1_.SlavePath() + "\r\nCOM2=" + com2Device +
                "\r\n[Capture]\r\nResumeAtStartup=0\r\nReportFile1=" + reportFile1 +
                "\r\nReportFile2=" + ReportFile(2) + "\r\n";
        QFile file(QFile::decodeName(Settings().c_str()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.data(), static_cast<qint64>(text.size()));
    }

    // Changes the settings file's text as an editor would.
    void EditSettings(const std::string& from, const std::string& to) const {
        std::string text = FileText(Settings());
        const std::size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        QFile file(QFile::decodeName(Settings().c_str()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.data(), static_cast<qint64>(text.size()));
    }

    ~HeadlessTest() override {
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished();
        }
    }

    // Until its ports are open, a fresh terminal cooks what it receives, as no real line does.
    // With closedDescriptors, as a launcher that closes standard input, output and error starts
    // it.
    void StartHeadless(bool com2Opens = true, bool closedDescriptors = false) {
        program_.setProcessEnvironment(NoDisplay());
        const QStringList arguments = {QStringLiteral("--headless"), QStringLiteral("--settings"),
                                       QString::fromStdString(Settings())};
        if (closedDescriptors)
            program_.start(QStringLiteral("/bin/sh"),
                           QStringList{QStringLiteral("-c"),
                                       QStringLiteral("exec 0<&- 1>&- 2>&-; exec \"$0\" \"$@\""),
                                       QStringLiteral(TOLVANE_PROGRAM)} +
                               arguments);
        else
            program_.start(QStringLiteral(TOLVANE_PROGRAM), arguments);
        ASSERT_TRUE(program_.waitForStarted());
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return com1_.BaudSetting() != B38400 &&
                       (!com2Opens || com2_.BaudSetting() != B38400);
            },
            20000));
    }

    // Waits until the program has said text on standard error.
    bool Says(const std::string& text) {
        return QTest::qWaitFor(
            [&] {
                said_ += program_.readAllStandardError().toStdString();
                return said_.find(text) != std::string::npos;
            },
            20000);
    }

    // Plays report lines first..last on the line and remembers what its file must hold.
    void Play(PtyPair& com, int line, int first, int last) {
        std::string bytes;
        for (int number = first; number <= last; ++number)
            bytes += "LINE " + std::to_string(line) + " LOT " + std::to_string(number) + "\r\n";
        ASSERT_TRUE(com.Write(bytes));
        expected_[line - 1] += bytes;
    }

    // Every byte played has been read by the program, and has had time to become report lines.
    void WaitUntilTaken() {
        EXPECT_TRUE(QTest::qWaitFor([&] { return com1_.Unread() + com2_.Unread() == 0; }, 20000));
        QTest::qWait(300);
    }

    // Sends the running program the signal. Never to pid 0: that is the test's own group.
    void Send(int signalNumber) {
        const auto pid = static_cast<pid_t>(program_.processId());
        EXPECT_GT(pid, 0) << "the program has ended";
        if (pid > 0)
            ::kill(pid, signalNumber);
    }

    // Ends the program with the signal; its exit status.
    int EndWith(int signalNumber) {
        Send(signalNumber);
        EXPECT_TRUE(program_.waitForFinished(20000));
        said_ += program_.readAllStandardError().toStdString();
        return program_.exitStatus() == QProcess::NormalExit ? program_.exitCode() : -1;
    }

    QTemporaryDir dir_;
    PtyPair com1_{1};
    PtyPair com2_{2};
    QProcess program_;
    std::string expected_[2];
    std::string said_;
};

TEST_F(HeadlessTest, WithNoDisplayTwoLinesCaptureAndSigtermEndsWithEveryLineWritten) {
    WriteSettings(3);
    StartHeadless();
    Play(com1_, 1, 1, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return FileText(ReportFile(1)) == expected_[0]; }, 20000))
        << FileText(ReportFile(1)) << program_.readAllStandardError().toStdString();
    const std::string mapped = MappedFiles(program_.processId());
    for (const char* library : {"libX11", "libxcb", "libwayland", "libQt6Gui", "libQt6Widgets"})
        EXPECT_EQ(mapped.find(library), std::string::npos) << library << " is loaded";

    // Both lines at once, as fast as the lines take them, and the end as soon as all is read.
    std::thread second([&] { Play(com2_, 2, 1, 3000); });
    Play(com1_, 1, 2, 3000);
    second.join();
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGTERM), 0) << said_;
    EXPECT_EQ(FileText(ReportFile(1)), expected_[0]);
    EXPECT_EQ(FileText(ReportFile(2)), expected_[1]);
}

TEST_F(HeadlessTest, SighupTakesTheNewBaudRateOfTheFileAndLosesNothing) {
    WriteSettings(3);
    StartHeadless();
    ASSERT_TRUE(QTest::qWaitFor([&] { return com1_.BaudSetting() == B9600; }, 20000));
    Play(com1_, 1, 1, 500);
    WaitUntilTaken();
    WriteSettings(4);
    Send(SIGHUP);
    EXPECT_TRUE(QTest::qWaitFor([&] { return com1_.BaudSetting() == B19200; }, 20000));
    Play(com1_, 1, 501, 1000);
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGINT), 0) << said_;
    EXPECT_EQ(FileText(ReportFile(1)), expected_[0]);
}

// Bytes the port has received when the stop comes are the program's to write: a busy machine
// may not have read them yet, and a report line that is arriving gets a moment to end.
TEST_F(HeadlessTest, WhatThePortsReceivedBeforeTheStopIsWrittenAndALineArrivingMayEnd) {
    WriteSettings(3);
    StartHeadless();
    // Both lines capture before the stop, so that the stop finds both ports wholly set up.
    Play(com1_, 1, 1, 1);
    Play(com2_, 2, 1, 1);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return FileText(ReportFile(1)) == expected_[0] &&
                   FileText(ReportFile(2)) == expected_[1];
        },
        20000));
    Send(SIGSTOP);
    Play(com1_, 1, 2, 60);
    Play(com2_, 2, 2, 60);
    ASSERT_TRUE(com2_.Write("LINE 2 LOT 61"));
    Send(SIGTERM);
    Send(SIGCONT);
    QTest::qWait(50);
    ASSERT_TRUE(com2_.Write("\r\n"));
    expected_[1] += "LINE 2 LOT 61\r\n";
    EXPECT_TRUE(program_.waitForFinished(20000));
    EXPECT_EQ(program_.exitCode(), 0);
    EXPECT_EQ(FileText(ReportFile(1)), expected_[0]);
    EXPECT_EQ(FileText(ReportFile(2)), expected_[1]);
}

// A stop that comes while a report line arrives, with no end in sight, keeps what came of it; the
// resumed line finishes it with the rest, one report line as the device sent it.
TEST_F(HeadlessTest, AReportLineCutByAStopIsFinishedWhenTheLineResumes) {
    WriteSettings(3);
    StartHeadless();
    Play(com2_, 2, 1, 3);
    ASSERT_TRUE(com2_.Write("LINE 2 LO"));
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGTERM), 0) << said_;
    EXPECT_NE(said_.find("it is kept in " + Folder() + "line2.txt.partial"), std::string::npos)
        << said_;

    StartHeadless();
    ASSERT_TRUE(com2_.Write("T 4\r\n"));
    expected_[1] += "LINE 2 LOT 4\r\n";
    Play(com2_, 2, 5, 6);
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGTERM), 0) << said_;
    EXPECT_EQ(FileText(ReportFile(2)), expected_[1]);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Folder() + "line2.txt.partial")));
}

// A service's report file is changed in its settings and reloaded: the line goes on into the new
// file from its next report line.
TEST_F(HeadlessTest, SighupTakesANewReportFileFromTheNextReportLine) {
    WriteSettings(3);
    StartHeadless();
    Play(com1_, 1, 1, 50);
    WaitUntilTaken();
    const std::string before = expected_[0];
    expected_[0].clear();
    const std::string moved = Folder() + "moved.txt";
    WriteSettings(3, com2_.SlavePath(), moved);
    Send(SIGHUP);
    EXPECT_TRUE(Says("Line 1: reporting to " + moved + " instead of " + ReportFile(1))) << said_;
    Play(com1_, 1, 51, 100);
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGTERM), 0) << said_;
    EXPECT_EQ(FileText(ReportFile(1)), before);
    EXPECT_EQ(FileText(moved), expected_[0]);
}

// A settings file that is gone at a SIGHUP would read as the defaults, which switch every line
// off: it is refused, and capture goes on as it was.
TEST_F(HeadlessTest, SighupWithTheSettingsFileGoneKeepsEveryLineCapturing) {
    WriteSettings(3);
    StartHeadless();
    Play(com1_, 1, 1, 100);
    WaitUntilTaken();
    ASSERT_TRUE(QFile::remove(QString::fromStdString(Settings())));
    Send(SIGHUP);
    EXPECT_TRUE(Says("The settings file " + Settings() +
                     " cannot be read again (No such file or directory): every line goes on as "
                     "it was."))
        << said_;
    Play(com1_, 1, 101, 200);
    Play(com2_, 2, 1, 100);
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGTERM), 0) << said_;
    EXPECT_EQ(FileText(ReportFile(1)), expected_[0]);
    EXPECT_EQ(FileText(ReportFile(2)), expected_[1]);
}

// A slip of the hand in a reloaded file is told and leaves the lines as they were: read as their
// defaults, these values would switch the line off and stamp its lines.
TEST_F(HeadlessTest, SighupWithValuesThatAreNoNumbersTellsThemAndKeepsTheLineAsItWas) {
    WriteSettings(3);
    StartHeadless();
    Play(com2_, 2, 1, 50);
    WaitUntilTaken();
    EditSettings("ComPortB=1", "ComPortB=xyz");
    EditSettings("DateStamp2=0", "DateStamp2=yes");
    Send(SIGHUP);
    EXPECT_TRUE(Says("The settings file " + Settings() +
                     " has values that are not a whole number: [StampingSettings] "
                     "DateStamp2=yes, kept as it was; [ComPortSettings] ComPortB=xyz, kept as it "
                     "was."))
        << said_;
    Play(com2_, 2, 51, 100);
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGTERM), 0) << said_;
    EXPECT_EQ(FileText(ReportFile(2)), expected_[1]);
}

// A settings file cut short (a copy or an editor's save caught half way) would move the ports to
// their default devices and switch lines off: it is refused, and the lines go on as they were.
TEST_F(HeadlessTest, SighupWithASettingsFileCutShortKeepsTheLinesAsTheyWere) {
    WriteSettings(3);
    StartHeadless();
    Play(com2_, 2, 1, 50);
    WaitUntilTaken();
    const std::string text = FileText(Settings());
    std::ofstream(Settings(), std::ios::trunc) << text.substr(0, text.find("ReportFile2") + 6);
    Send(SIGHUP);
    EXPECT_TRUE(Says("The settings file " + Settings() +
                     " cannot be read again (its last line, \"Report\", ends in the middle: a "
                     "file cut short?)"))
        << said_;
    std::ofstream(Settings(), std::ios::trunc) << text.substr(0, text.find("BaudRate"));
    Send(SIGHUP);
    EXPECT_TRUE(Says("The settings file " + Settings() +
                     " cannot be read again (it lacks [StampingSettings], [PortDevices], "
                     "[Capture], which it had when last read: a file cut short?"))
        << said_;
    Play(com2_, 2, 51, 100);
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGTERM), 0) << said_;
    EXPECT_EQ(FileText(ReportFile(2)), expected_[1]);
}

// Lines that an end had to set aside are told again at the next start, until someone deals with
// them: nobody may have been there to read it at the end.
TEST_F(HeadlessTest, LinesSetAsideAtAnEarlierEndAreToldAtTheNextStart) {
    const std::string unwritable = Folder() + "missing/line1.txt";
    WriteSettings(3, com2_.SlavePath(), unwritable);
    StartHeadless();
    Play(com1_, 1, 1, 3);
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGTERM), 0) << said_;
    EXPECT_EQ(FileText(Folder() + "line1.txt.unsaved"), expected_[0]);
    // As an end leaves them for a line that made a new file each day.
    const std::string daily = Folder() + "line1_2026-12-09.txt.unsaved";
    std::ofstream(daily) << "09-Dec-26,23:59:59,LOT 9\r\n";

    said_.clear();
    StartHeadless();
    EXPECT_TRUE(Says("Line 1: report lines that an earlier end could not write to a report file "
                     "named line1.txt are saved in " +
                     Folder() + "line1.txt.unsaved and " + daily +
                     "; they are not in the report file."))
        << said_;
    EXPECT_EQ(said_.find("line2.txt.unsaved"), std::string::npos) << said_;
}

// Lines held while their file fails are on disk too: a kill loses none of them, and a file that
// works again takes them from memory and leaves no copy behind.
TEST_F(HeadlessTest, HeldLinesOutliveAKillAndAreSavedAtTheNextStart) {
    const std::string folder = Folder() + "reports";
    const std::string spool = Folder() + "line1.txt.line1.held";
    WriteSettings(3, com2_.SlavePath(), folder + "/line1.txt");
    StartHeadless();
    Play(com1_, 1, 1, 3);
    const std::string header = "# held report lines for " + folder + "/line1.txt\r\n";
    ASSERT_TRUE(QTest::qWaitFor([&] { return FileText(spool) == header + expected_[0]; }, 20000));
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(folder)));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return FileText(folder + "/line1.txt") == expected_[0]; }, 20000));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !QFile::exists(QString::fromStdString(spool)); }, 5000));

    ASSERT_TRUE(
        QDir().rename(QString::fromStdString(folder), QString::fromStdString(Folder() + "moved")));
    expected_[0].clear();
    Play(com1_, 1, 4, 6);
    ASSERT_TRUE(QTest::qWaitFor([&] { return FileText(spool) == header + expected_[0]; }, 20000));
    program_.kill();
    ASSERT_TRUE(program_.waitForFinished(20000));

    said_.clear();
    StartHeadless();
    const std::string unsaved = Folder() + "line1.txt.unsaved";
    EXPECT_TRUE(Says("Line 1: report lines held for " + folder +
                     "/line1.txt when the program last ended without finishing are saved in " +
                     unsaved + "; they are not in the report file."))
        << said_;
    EXPECT_EQ(FileText(unsaved), expected_[0]);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(spool)));
}

// Standard error piped to a reader that went away (a pager closed, a journal restarted) fails
// the program's next message there; it does not end the program and its capture.
TEST_F(HeadlessTest, AStandardErrorWhoseReaderIsGoneEndsNothing) {
    const std::string pipe = Folder() + "stderr";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    program_.setStandardErrorFile(QString::fromStdString(pipe));
    WriteSettings(3);
    StartHeadless();
    ::close(reader);
    Send(SIGHUP); // told on standard error
    Play(com1_, 1, 1, 100);
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGTERM), 0);
    EXPECT_EQ(FileText(ReportFile(1)), expected_[0]);
}

// Started with standard input, output and error closed, the program's own pipes, ports and files
// take none of their numbers, and standard error is written into none of them.
TEST_F(HeadlessTest, StartedWithTheStandardDescriptorsClosedItCaptures) {
    WriteSettings(3);
    StartHeadless(true, true);
    Send(SIGHUP); // told on standard error
    Play(com1_, 1, 1, 100);
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGTERM), 0);
    EXPECT_EQ(FileText(ReportFile(1)), expected_[0]);
    EXPECT_EQ(com1_.ReadAvailable(), "");
}

// Without a panel, standard error tells whoever runs it in a terminal that a line waits for its
// device or its file, and when each is back; no report line is lost meanwhile.
TEST_F(HeadlessTest, SaysOnStandardErrorWhatALineWaitsForAndWhenItIsBack) {
    const std::string device = Folder() + "com2";           // plugged in later
    const std::string file1 = Folder() + "later/line1.txt"; // its folder made later
    WriteSettings(3, device, file1);
    // A label of the 8-bit settings file comes out in UTF-8, as the journal takes it.
    EditSettings("[Capture]", "[LineLabels]\r\nLine1=M\xFChle\r\n[Capture]");
    StartHeadless(false);
    EXPECT_TRUE(Says("Line 2: COM 2 (" + device + ") missing since")) << said_;
    EXPECT_TRUE(Says("COM 2 does not exist. Nothing is at " + device +
                     ". Plug it in, or name another device as COM2= under [PortDevices]"))
        << said_;
    Play(com1_, 1, 1, 2);
    EXPECT_TRUE(Says("M\xC3\xBChle: the report file " + file1 + " cannot be written")) << said_;

    ASSERT_EQ(::symlink(com2_.SlavePath().c_str(), device.c_str()), 0);
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(Folder() + "later")));
    EXPECT_TRUE(Says("Line 2: COM 2 (" + device + ") is back")) << said_;
    Play(com2_, 2, 1, 2);
    Play(com1_, 1, 3, 3);
    EXPECT_TRUE(Says("M\xC3\xBChle: the report file " + file1 + " can be written again")) << said_;
    WaitUntilTaken();
    EXPECT_EQ(EndWith(SIGTERM), 0) << said_;
    EXPECT_EQ(FileText(file1), expected_[0]);
    EXPECT_EQ(FileText(ReportFile(2)), expected_[1]);
}

TEST(HeadlessCommandLineTest, UsageErrorWithNoDisplayGivesStatus2AndTheUsage) {
    QProcess program;
    program.setProcessEnvironment(NoDisplay());
    program.start(QStringLiteral(TOLVANE_PROGRAM), {QStringLiteral("--bogus")});
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_EQ(program.readAllStandardError().toStdString(),
              "tolvane: Unknown option 'bogus'.\nusage: tolvane [--settings FILE] [--simulate] "
              "[--screenshots DIR] [--headless] [--list-ports] [--version] [--help]\n");

    program.start(QStringLiteral(TOLVANE_PROGRAM), {QStringLiteral("--help-all")});
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(program.readAllStandardOutput().contains("--headless"));
}

} // namespace
