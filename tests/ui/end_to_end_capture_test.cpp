// The whole path over real serial lines: bytes played on the far end of COM1 to COM8 become
// stamped report lines in the files the operator chose, all eight lines at once; ports that cannot
// be opened leave the other lines capturing; the port dialog's OK reopens the ports without
// stopping the capture; a device that goes away mid-line leaves the program and the other lines
// working and is closed, shown and taken up again when it comes back; exit while every line
// sends; report files that fail, recover or stall; OK while a line sends.

#include "capture/report_file.h"
#include "capture/report_writer.h"
#include "serial/platform/port_map.h"
#include "tests/capture/restricted_writes.h"
#include "tests/ui/forms_fixture.h"
#include "ui/line_form.h"
#include "ui/line_trouble_label.h"
#include "ui/report_view.h"
#include "ui/stamping_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Every line on, line N on COMN.
const std::string EightLinesOn = "[ComPortSettings]\nComPort=0\nComPortB=1\nComPortC=2\n"
                                 "ComPortD=3\nComPortE=4\nComPortF=5\nComPortG=6\nComPortH=7\n";

std::string Stamped(const std::string& text) {
    return "07-Dec-26,15:04:09," + text + "\r\n";
}

std::string ReportLine(int line, int number) {
    return "LINE " + std::to_string(line) + " LOT " + std::to_string(number) + " OK";
}

// CPU time this process used, user and system, in seconds.
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Appends to one report file hang until released, as on a share whose server went quiet; the
// others go through. It ends once no append hangs. A write that the program gave up goes on with
// its file's other lines after that, through this appender: a test waits for the file to be
// complete before it ends.
class StalledAppends {
public:
    explicit StalledAppends(std::string file) : file_(std::move(file)) {
        previous_ = SetReportAppender([this](const std::string& f, const std::string& t) {
            if (f != file_)
                return AppendReportLine(f, t);
            std::unique_lock lock(mutex_);
            ++hung_;
            changed_.wait_for(lock, std::chrono::seconds(30), [&] { return released_; });
            AppendReportLine(f, t);
            --hung_;
            changed_.notify_all();
        });
    }
    ~StalledAppends() {
        Release();
        std::unique_lock lock(mutex_);
        EXPECT_TRUE(changed_.wait_for(lock, std::chrono::seconds(20), [&] { return hung_ == 0; }));
        lock.unlock();
        SetReportAppender(std::move(previous_));
    }
    StalledAppends(const StalledAppends&) = delete;
    StalledAppends& operator=(const StalledAppends&) = delete;

    int Hung() {
        std::lock_guard lock(mutex_);
        return hung_;
    }
    void Release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

private:
    const std::string file_;
    ReportAppender previous_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    int hung_ = 0;
};

} // namespace

class EndToEndCaptureTest : public FormsTest {
protected:
    std::string ReportFile(int line) const {
        return settings.Folder() + "line" + std::to_string(line) + ".txt";
    }

    void StartAllLines() {
        for (int line = 1; line <= LineCount; ++line)
            StartLine(line, ReportFile(line));
    }

    // Plays report lines first..last of each given line on its serial line, interleaved, and
    // remembers what each report file must then hold.
    void Play(const std::vector<int>& playing, int first, int last) {
        for (int number = first; number <= last; ++number)
            for (int line : playing) {
                ASSERT_TRUE(lines.Com(line).Write(ReportLine(line, number) + "\r\n"));
                expected_[static_cast<std::size_t>(line - 1)] += Stamped(ReportLine(line, number));
            }
    }

    // Waits until every given line's report file holds exactly what was played on it.
    void ExpectFilesComplete(const std::vector<int>& checked) {
        for (int line : checked) {
            SCOPED_TRACE(line);
            const std::string& expected = expected_[static_cast<std::size_t>(line - 1)];
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return FileText(ReportFile(line)) == expected; }, 20000))
                << FileText(ReportFile(line));
        }
    }

    // Switches line 1 on in COM Ports as an ordinary user, so that permissions apply to its
    // open; false when root cannot act as one.
    bool SwitchLineOneOnAsAnotherUser() {
        const WithoutPrivileges user;
        if (!user.Active())
            return false;
        Serial().Ports[0].ComPort->setCurrentIndex(0);
        Serial().OKBtnClick();
        return true;
    }

    std::array<std::string, LineCount> expected_{};
};

TEST_F(EndToEndCaptureTest, EightLinesCaptureAtOnceIntoTheirOwnFilesAndViews) {
    StartUp(EightLinesOn);
    ASSERT_TRUE(boxes.Boxes.empty());
    StartAllLines();
    const std::vector<int> all{1, 2, 3, 4, 5, 6, 7, 8};
    Play(all, 1, 200);
    ExpectFilesComplete(all);
    for (int line : all) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Main().LineWindows[static_cast<std::size_t>(line - 1)]->LineCount(), 200);
        EXPECT_EQ(Main()
                      .LineWindows[static_cast<std::size_t>(line - 1)]
                      ->Text()
                      .section(QChar('\n'), -1)
                      .toStdString(),
                  "07-Dec-26,15:04:09," + ReportLine(line, 200));
    }
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(EndToEndCaptureTest, PortsThatCannotBeOpenedAreReportedAndTheOtherLinesStillCapture) {
    SetPortDevice(3, settings.Folder() + "unplugged");
    // A path that names a plain file is no adapter that may come back.
    const std::string notATerminal = settings.Folder() + "not-a-terminal";
    ASSERT_TRUE(QFile(QFile::decodeName(notATerminal.c_str())).open(QIODevice::WriteOnly));
    SetPortDevice(6, notATerminal);
    StartUp("[LineLabels]\nLine3=Packing\nLine5=Wrapping\n[ComPortSettings]\nComPortB=1\n"
            "ComPortC=2\nComPortD=3\nComPortE=0\nComPortF=5\n");
    ASSERT_EQ(boxes.Boxes.size(), 3u);
    EXPECT_EQ(boxes.Boxes[0].Text,
              "COM 3 does not exist. Nothing is at " + settings.Folder() +
                  "unplugged. Choose its device in Menu, Port Devices.\r\rPlease assign a "
                  "different COM Port for Packing or set to Off.");
    EXPECT_EQ(
        boxes.Boxes[1].Text,
        "COM 1 is already open.\r\rPlease assign a different COM Port for Wrapping or set to Off.");
    EXPECT_TRUE(boxes.Boxes[2].Text.starts_with("COM 6 does not exist. " + notATerminal +
                                                " is there, but is not a serial device."))
        << boxes.Boxes[2].Text;
    EXPECT_NE(
        Line(5).PortNews.find("COM 1 (" + lines.Com(1).SlavePath() + ") in use by Line 1 since"),
        std::string::npos)
        << Line(5).PortNews;
    EXPECT_NE(Line(3).PortNews.find(") missing since"), std::string::npos) << Line(3).PortNews;
    EXPECT_NE(Line(6).PortNews.find(") there but not a serial device, since"), std::string::npos)
        << Line(6).PortNews;
    for (int line : {1, 2, 4})
        StartLine(line, ReportFile(line));
    Play({1, 2, 4}, 1, 20);
    ExpectFilesComplete({1, 2, 4});
    ClearPortDevice(3);
    ClearPortDevice(6);
}

TEST_F(EndToEndCaptureTest, OkWithoutChangesReopensThePortsAndTheLinesKeepCapturing) {
    StartUp(EightLinesOn);
    StartAllLines();
    const std::vector<int> all{1, 2, 3, 4, 5, 6, 7, 8};
    Play(all, 1, 10);
    ExpectFilesComplete(all);
    ModalDriver driver([&](QWidget*) { QTest::mouseClick(Serial().OKBtn, Qt::LeftButton); });
    EXPECT_EQ(Serial().exec(), QDialog::Accepted);
    EXPECT_FALSE(driver.Stuck);
    for (int line : all) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(Serial().ComPorts[static_cast<std::size_t>(line - 1)]->Open());
        EXPECT_TRUE(Main().StartLineBtns[static_cast<std::size_t>(line - 1)]->isChecked());
    }
    Play(all, 11, 20);
    ExpectFilesComplete(all);
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(EndToEndCaptureTest,
       DeviceThatVanishesMidLineLeavesTheOtherLinesCapturingAndNothingSpinning) {
    StartUp(EightLinesOn);
    StartAllLines();
    const std::vector<int> all{1, 2, 3, 4, 5, 6, 7, 8};
    Play(all, 1, 50);
    ExpectFilesComplete(all);

    // Line 4's device goes away halfway through a report line.
    ASSERT_TRUE(lines.Com(4).Write("LINE 4 LOT 51 HALF"));
    QTest::qWait(100);
    lines.Com(4).Close();
    const std::vector<int> others{1, 2, 3, 5, 6, 7, 8};
    Play(others, 51, 100);
    ExpectFilesComplete(others);
    EXPECT_EQ(FileText(ReportFile(4)), expected_[3]) << "what completed before stays, whole";

    // Idle with a vanished device: the event loop and the port threads must all rest. A bound far
    // above idle and far below one busy thread.
    const double before = ProcessCpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    QTest::qWait(2000);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT((ProcessCpuSeconds() - before) / wall, 0.5);

    Play(others, 101, 110);
    ExpectFilesComplete(others);
}

TEST_F(EndToEndCaptureTest, OkWithEveryLineOffReleasesEveryDeviceWithoutABox) {
    StartUp(EightLinesOn);
    StartAllLines();
    const std::vector<int> all{1, 2, 3, 4, 5, 6, 7, 8};
    Play(all, 1, 5);
    ExpectFilesComplete(all);
    for (int line : all)
        Serial().Ports[static_cast<std::size_t>(line - 1)].ComPort->setCurrentIndex(16);
    Serial().OKBtnClick();
    EXPECT_TRUE(boxes.Boxes.empty());
    EXPECT_EQ(Serial().ModalResult, QDialog::Accepted);
    for (int line : all) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(Serial().ComPorts[static_cast<std::size_t>(line - 1)]->Open());
        // Released for good: another program could take the device now.
        const int device = open(lines.Com(line).SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(device, 0);
        EXPECT_EQ(flock(device, LOCK_EX | LOCK_NB), 0);
        close(device);
    }
    ExpectFilesComplete(all);
}

TEST_F(EndToEndCaptureTest, ExitWhileEightLinesSendEndsCleanlyWithOnlyWholeLinesInOrder) {
    StartUp(EightLinesOn);
    StartAllLines();
    // Each line sends without pause, before, during and after the windows go.
    std::atomic<bool> sending{true};
    std::array<std::string, LineCount> sent{};
    std::vector<std::thread> senders;
    for (int line = 1; line <= LineCount; ++line)
        senders.emplace_back([&, line] {
            std::string& all = sent[static_cast<std::size_t>(line - 1)];
            std::string waiting;
            for (int number = 1; sending;) {
                if (waiting.empty()) {
                    waiting = ReportLine(line, number++) + "\r\n";
                    all += Stamped(ReportLine(line, number - 1));
                }
                waiting.erase(0, lines.Com(line).WriteSome(waiting));
            }
        });
    // Exit once every line has reached its file, however slow the machine is today; the senders
    // are stopped below whatever happens.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (int line = 1; line <= LineCount; ++line)
                if (FileText(ReportFile(line)).empty())
                    return false;
            return true;
        },
        20000));
    Main().MenuExit->trigger();
    forms.reset();
    sending = false;
    for (std::thread& sender : senders)
        sender.join();
    for (int line = 1; line <= LineCount; ++line) {
        SCOPED_TRACE(line);
        const std::string file = FileText(ReportFile(line));
        EXPECT_FALSE(file.empty());
        EXPECT_EQ(file, sent[static_cast<std::size_t>(line - 1)].substr(0, file.size()));
        EXPECT_TRUE(file.ends_with("\r\n"));
    }
}

TEST_F(EndToEndCaptureTest, ReportFileThatFailsThenRecoversGetsEveryLineInOrderAndOneBox) {
    StartUp(EightLinesOn);
    // Not even root can write the file while its folder is a plain file.
    const std::string folder = settings.Folder() + "reports";
    QFile blocker(QFile::decodeName(folder.c_str()));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const std::string file = folder + "/line3.txt";
    StartLine(3, file);
    StartLine(5, ReportFile(5));
    Play({3, 5}, 1, 30);
    ExpectFilesComplete({5});
    ASSERT_TRUE(QTest::qWaitFor([&] { return Line(3).Writer().Status().Held == 30; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Boxes.empty(); }, 10000));
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_TRUE(boxes.Boxes[0].Text.starts_with("Line 3: the report file " + file +
                                                " cannot be written: Invalid filename; " + folder +
                                                " is a file, not a folder."))
        << boxes.Boxes[0].Text;
    EXPECT_EQ(Main().LineWindows[2]->LineCount(), 30) << "the views show the lines as they come";

    ASSERT_TRUE(blocker.remove());
    ASSERT_TRUE(QDir().mkdir(QFile::decodeName(folder.c_str())));
    Play({3, 5}, 31, 40);
    EXPECT_TRUE(QTest::qWaitFor([&] { return FileText(file) == expected_[2]; }, 20000))
        << FileText(file);
    ExpectFilesComplete({5});
    EXPECT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(Line(3).Writer().Status().ErrorCode, 0);
}

TEST_F(EndToEndCaptureTest, ReportFileWhoseWritesStallHoldsUpNoOtherLineAndLosesNothing) {
    StartUp(EightLinesOn);
    StartAllLines();
    StalledAppends stalled(ReportFile(1));
    const std::vector<int> all{1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<int> others{2, 3, 4, 5, 6, 7, 8};
    Play(all, 1, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled.Hung() == 1; }, 20000));
    Play(all, 2, 50);
    ExpectFilesComplete(others);
    EXPECT_EQ(FileText(ReportFile(1)), "");
    // The stalled line's port is still read: its lines come in while its file waits.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Main().LineWindows[0]->LineCount() == 50; }, 20000))
        << Main().LineWindows[0]->LineCount();
    stalled.Release();
    ExpectFilesComplete(all);
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(EndToEndCaptureTest, ExitWhileAReportFileWriteNeverEndsSavesItsLinesAndEnds) {
    StartUp(EightLinesOn);
    StartAllLines();
    StalledAppends stalled(ReportFile(1));
    Play({1, 2}, 1, 3);
    ExpectFilesComplete({2});
    ASSERT_TRUE(QTest::qWaitFor([&] { return Main().LineWindows[0]->LineCount() == 3; }, 20000));

    testing::internal::CaptureStderr();
    forms.reset();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(stalled.Hung(), 1) << "the end waited for the write";
    EXPECT_EQ(FileText(settings.Folder() + "line1.txt.unsaved"), expected_[0]);
    EXPECT_NE(said.find("Line 1: 3 report lines could not be written to " + ReportFile(1)),
              std::string::npos)
        << said;
    stalled.Release();
    ExpectFilesComplete({1});
}

TEST_F(EndToEndCaptureTest, DeviceLostWhileItsReportFileStallsIsClosedAtOnce) {
    StartUp(EightLinesOn);
    StartLine(1, ReportFile(1));
    StalledAppends stalled(ReportFile(1));
    Play({1}, 1, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled.Hung() == 1; }, 20000));

    lines.Com(1).Close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Line(1).PortStatus == PortState::Waiting; }, 10000));
    EXPECT_FALSE(Serial().ComPorts[0]->Open()) << "a dead device is not kept open";
    stalled.Release();
    ExpectFilesComplete({1});
}

TEST_F(EndToEndCaptureTest, LinesStillHeldAtExitGoToAnUnsavedFileBesideTheSettings) {
    StartUp(EightLinesOn);
    const std::string file = settings.UnwritablePath("line2.txt");
    StartLine(2, file);
    Play({2}, 1, 5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Line(2).Writer().Status().Held == 5; }, 20000));
    testing::internal::CaptureStderr();
    forms.reset();
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string unsaved = settings.Folder() + "line2.txt.unsaved";
    EXPECT_EQ(FileText(unsaved), expected_[1]);
    EXPECT_NE(said.find("tolvane: Line 2: 5 report lines could not be written to " + file +
                        "; they are saved in " + unsaved + ".\n"),
              std::string::npos)
        << said;

    // Nobody may have read that at the end: the next start of the line says it again.
    boxes.Boxes.clear();
    StartUp();
    StartLine(2, file);
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text, "Line 2: report lines that an earlier end could not write to a "
                                   "report file named line2.txt are saved in " +
                                       unsaved + "; they are not in the report file.");
}

TEST_F(EndToEndCaptureTest, AReportLineNotEndedAtTheEndIsSavedNotLost) {
    StartUp(EightLinesOn);
    StartLine(2, ReportFile(2));
    Play({2}, 1, 2);
    ASSERT_TRUE(lines.Com(2).Write("LOT 3 HALF"));
    ExpectFilesComplete({2});
    ASSERT_TRUE(QTest::qWaitFor([&] { return lines.Com(2).Unread() == 0; }, 10000));
    QTest::qWait(300); // the pass that took the bytes hands them to the line
    testing::internal::CaptureStderr();
    forms.reset();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(FileText(ReportFile(2)), expected_[1]) << "no made-up report line in the file";
    const std::string unsaved = settings.Folder() + "line2.txt.unsaved";
    EXPECT_EQ(FileText(unsaved), "LOT 3 HALF\r\n");
    EXPECT_NE(said.find("Line 2: a report line for " + ReportFile(2) +
                        " had not ended (10 bytes); it is saved in " + unsaved + "."),
              std::string::npos)
        << said;
}

TEST_F(EndToEndCaptureTest, HeldLinesThatTheSettingsFolderCannotTakeGoWholeToTheStateFolder) {
    StartUp(EightLinesOn);
    // Two report files of one name, both failing, and no folder beside the settings.
    const std::string first = settings.UnwritablePath("line.txt");
    const std::string second = settings.Folder() + "elsewhere/line.txt";
    ASSERT_TRUE(QFile(QFile::decodeName((settings.Folder() + "elsewhere").c_str()))
                    .open(QIODevice::WriteOnly));
    const QByteArray oldState = qgetenv("XDG_STATE_HOME");
    const std::string state = settings.Folder() + "state";
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(state));
    StartLine(2, first);
    StartLine(3, second);
    settings.MakeUnwritable();
    Play({2, 3}, 1, 5);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Line(2).Writer().Status().Held == 5 && Line(3).Writer().Status().Held == 5; },
        20000));
    testing::internal::CaptureStderr();
    forms.reset();
    const std::string said = testing::internal::GetCapturedStderr();
    qputenv("XDG_STATE_HOME", oldState);
    EXPECT_EQ(FileText(state + "/tolvane/line.txt.unsaved"), expected_[1]) << said;
    EXPECT_EQ(FileText(state + "/tolvane/line.txt.2.unsaved"), expected_[2]) << said;
}

TEST_F(EndToEndCaptureTest, APortRefusedForWantOfPermissionIsShownAndTakenOnceItMayBeOpened) {
    StartUp("[ComPortSettings]\nComPort=16\n");
    // The pty is root's: for anyone else it stays closed until its mode or group is set.
    if (!SwitchLineOneOnAsAnotherUser())
        GTEST_SKIP() << "needs to run as root to act as another user";
    ASSERT_FALSE(boxes.Boxes.empty());
    // Then the settings file, which is root's too, cannot be written.
    EXPECT_EQ(boxes.Boxes[0].Text.rfind("COM 1 cannot be opened: permission denied", 0), 0u);
    EXPECT_NE(Line(1).PortNews.find("refused (permission denied) since"), std::string::npos)
        << Line(1).PortNews;
    // Taken up by the retry each second; bytes sent before a pty is set up would be cooked.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Serial().ComPorts[0]->Open(); }, 5000));
    EXPECT_TRUE(Line(1).PortNews.empty()) << Line(1).PortNews;
    StartLine(1, ReportFile(1));
    Play({1}, 1, 3);
    ExpectFilesComplete({1});
}

TEST_F(EndToEndCaptureTest, ATtyLeftExclusiveByAProgramThatEndedIsToldAsSuch) {
    // What a program killed while it had the port leaves behind: the exclusive mark on a tty
    // that stays (its master is held), and no holder.
    int master = -1;
    int slave = -1;
    char name[64] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ASSERT_EQ(::fchmod(slave, 0666), 0);
    ASSERT_EQ(::ioctl(slave, TIOCEXCL), 0);
    ::close(slave);
    SetPortDevice(1, name);
    StartUp("[ComPortSettings]\nComPort=16\n");
    if (!SwitchLineOneOnAsAnotherUser())
        GTEST_SKIP() << "needs to run as root to act as another user";
    // The root's processes are hidden from this user, so it cannot be sure that none holds it.
    EXPECT_NE(Line(1).PortNews.find(std::string("COM 1 (") + name +
                                    ") in use by a program this user cannot see, or left locked "
                                    "by one that ended, since"),
              std::string::npos)
        << Line(1).PortNews;
    forms.reset();
    ClearPortDevice(1);
    ::close(master);
}

TEST_F(EndToEndCaptureTest, ThreeOksWhileALineSendsMergeSplitOrLoseNoReportLine) {
    StartUp(EightLinesOn);
    StartLine(1, ReportFile(1));
    // About 200 report lines a second, each written in two parts so that OK often finds one
    // half-way.
    std::atomic<bool> sending{true};
    std::string sent;
    std::thread sender([&] {
        for (int number = 1; sending; ++number) {
            const std::string text = ReportLine(1, number);
            lines.Com(1).Write(text.substr(0, 6));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            lines.Com(1).Write(text.substr(6) + "\r\n");
            sent += Stamped(text);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    // Unchanged, then a new baud rate, then a new parity: none of them may cost a line.
    for (int change = 0; change < 3; ++change) {
        QTest::qWait(300);
        if (change == 1)
            Serial().Ports[0].BaudRate->setCurrentIndex(4);
        if (change == 2)
            Serial().Ports[0].Parity->setCurrentIndex(2);
        ModalDriver driver([&](QWidget*) { QTest::mouseClick(Serial().OKBtn, Qt::LeftButton); });
        EXPECT_EQ(Serial().exec(), QDialog::Accepted);
    }
    QTest::qWait(300);
    sending = false;
    sender.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return FileText(ReportFile(1)) == sent; }, 20000))
        << FileText(ReportFile(1)).substr(0, 2000);
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(EndToEndCaptureTest, UnpluggedAdapterIsClosedShownAndCapturesAgainWhenPluggedBack) {
    // COM 3 names a link, as a by-id name does; plugging back points it at a new device.
    const std::string adapter = settings.Folder() + "adapter";
    const auto plug = [&](int com) {
        const std::string next = adapter + ".next";
        ASSERT_EQ(symlink(lines.Com(com).SlavePath().c_str(), next.c_str()), 0);
        ASSERT_EQ(rename(next.c_str(), adapter.c_str()), 0);
    };
    plug(3);
    SetPortDevice(3, adapter);
    StartUp("[ComPortSettings]\nComPort=2\n");
    StartLine(1, ReportFile(1));
    ASSERT_TRUE(lines.Com(3).Write("LOT 1\r\nLOT 2 HA"));
    const std::string first = Stamped("LOT 1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return FileText(ReportFile(1)) == first; }, 20000));
    QTest::qWait(100); // the half line is in

    lines.Com(3).Close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Line(1).PortStatus == PortState::Waiting; }, 5000));
    EXPECT_FALSE(Serial().ComPorts[0]->Open()) << "a dead device is not kept open";
    EXPECT_EQ(Main().LineGroups[0]->palette().color(QPalette::WindowText), QColor(139, 0, 0));
    const QString hint = Main().LineGroups[0]->toolTip();
    EXPECT_TRUE(hint.contains(QString::fromStdString("COM 3 (" + adapter + ") lost at ")) &&
                hint.contains(QStringLiteral(", waiting for it\n")))
        << hint.toStdString();
    const TLineTroubleLabel& trouble = *Main().LineTroubles[0];
    EXPECT_FALSE(trouble.isHidden());
    EXPECT_TRUE(
        trouble.Trouble().startsWith(QString::fromStdString("COM 3 (" + adapter + ") lost at ")))
        << trouble.Trouble().toStdString();
    EXPECT_EQ(forms->LineForms[0]->LineTrouble->Trouble(), trouble.Trouble()) << "expanded";

    // A fresh terminal cooks what it receives until it is opened raw: the adapter sends once
    // the port is open again, as a real one would only then be receiving.
    plug(12);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Line(1).PortStatus == PortState::Open; }, 10000));
    ASSERT_TRUE(lines.Com(12).Write("LF\r\nLOT 3\r\n"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return FileText(ReportFile(1)) == first + Stamped("LOT 2 HALF") + Stamped("LOT 3"); },
        10000))
        << FileText(ReportFile(1));
    EXPECT_TRUE(Main().StartLineBtns[0]->isChecked());
    EXPECT_EQ(Main().LineGroups[0]->toolTip(),
              QStringLiteral("Double click to change line label\nReporting to ") +
                  QString::fromStdString(ReportFile(1)));
    EXPECT_TRUE(trouble.isHidden()) << trouble.Trouble().toStdString();
    EXPECT_TRUE(forms->LineForms[0]->LineTrouble->isHidden());
    EXPECT_TRUE(boxes.Boxes.empty());
    ClearPortDevice(3);
}

TEST_F(EndToEndCaptureTest, DeviceMissingAtStartUpIsToldOnceAndCapturesWhenItAppears) {
    const std::string adapter = settings.Folder() + "late-adapter";
    SetPortDevice(3, adapter);
    StartUp("[ComPortSettings]\nComPort=2\n");
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_TRUE(boxes.Boxes[0].Text.starts_with("COM 3 does not exist.")) << boxes.Boxes[0].Text;
    StartLine(1, ReportFile(1));
    QTest::qWait(1500);
    ASSERT_EQ(symlink(lines.Com(3).SlavePath().c_str(), adapter.c_str()), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Line(1).PortStatus == PortState::Open; }, 10000));
    ASSERT_TRUE(lines.Com(3).Write("LOT 1\r\n"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return FileText(ReportFile(1)) == Stamped("LOT 1"); }, 10000));
    EXPECT_EQ(boxes.Boxes.size(), 1u);
    ClearPortDevice(3);
}

TEST_F(EndToEndCaptureTest, LinesResumeAtStartUpIntoTheirFilesWithNoClickWhenAsked) {
    const std::string file = ReportFile(2);
    {
        QFile earlier(QFile::decodeName(file.c_str()));
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write(Stamped("BEFORE THE POWER CUT").c_str());
    }
    StartUp(EightLinesOn + "[Capture]\nResumeAtStartup=1\nReportFile2=" + file +
            "\nReportFile3=\n");
    EXPECT_TRUE(Main().MenuResume->isChecked());
    EXPECT_TRUE(Main().StartLineBtns[1]->isChecked());
    EXPECT_FALSE(Main().StartLineBtns[2]->isChecked());
    EXPECT_EQ(Main().StartLineBtns[1]->toolTip(),
              QStringLiteral("Click to stop grabbing reports from Line 2"));
    ASSERT_TRUE(lines.Com(2).Write("AFTER\r\n"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return FileText(file) == Stamped("BEFORE THE POWER CUT") + Stamped("AFTER"); },
        20000))
        << FileText(file);

    // Starting remembers the file, stopping forgets it; the menu item writes its own key.
    StartLine(3, ReportFile(3));
    EXPECT_EQ(settings.Value("Capture", "ReportFile3"), ReportFile(3));
    Main().StartLineBtns[1]->click();
    EXPECT_EQ(settings.Value("Capture", "ReportFile2"), "");
    Main().MenuResume->trigger();
    EXPECT_EQ(settings.Value("Capture", "ResumeAtStartup"), "0");
    EXPECT_TRUE(boxes.Boxes.empty());
}

namespace {

// Plays report lines 1..count of line 1 on COM1 from a thread of its own, a pause between lines.
class Sender {
public:
    Sender(PtyPair& com, int count, std::chrono::microseconds pause)
        : thread_([&com, count, pause] {
              for (int number = 1; number <= count; ++number) {
                  if (!com.Write(ReportLine(1, number) + "\r\n"))
                      return;
                  if (pause.count() > 0)
                      std::this_thread::sleep_for(pause);
              }
          }) {}
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;
    ~Sender() { thread_.join(); }

private:
    std::thread thread_;
};

std::size_t LinesIn(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST_F(EndToEndCaptureTest, ReportLinesReachTheirFileWhileTheGuiThreadIsBlocked) {
    StartUp();
    StartLine(1, ReportFile(1));
    constexpr int Count = 300;
    std::size_t duringBlock = 0;
    {
        Sender sender(lines.Com(1), Count, std::chrono::milliseconds(10));
        // The hook: an event that keeps the GUI thread for 2 s while the line sends.
        QTimer::singleShot(0, &Main(), [&] {
            const std::size_t before = LinesIn(FileText(ReportFile(1)));
            std::this_thread::sleep_for(std::chrono::seconds(2));
            duringBlock = LinesIn(FileText(ReportFile(1))) - before;
        });
        QTest::qWait(100);
    }
    EXPECT_GE(duringBlock, 50u) << "about 200 report lines were sent meanwhile";
    std::string expected;
    for (int number = 1; number <= Count; ++number)
        expected += Stamped(ReportLine(1, number));
    EXPECT_TRUE(QTest::qWaitFor([&] { return FileText(ReportFile(1)) == expected; }, 20000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Main().LineWindows[0]->LineCount() == Count; }, 20000))
        << "and the views take them in once the GUI thread is free";
}

TEST_F(EndToEndCaptureTest, AStampBoxToggledDuringAFloodChangesWholeLinesFromOneLineOn) {
    StartUp();
    StartLine(1, ReportFile(1));
    constexpr int Count = 20000;
    {
        Sender sender(lines.Com(1), Count, std::chrono::microseconds(0));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return LinesIn(FileText(ReportFile(1))) > Count / 10; }, 20000));
        forms->StampingForm->DateStampBoxes[0]->click();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return LinesIn(FileText(ReportFile(1))) == Count; }, 20000));
    const std::string text = FileText(ReportFile(1));
    std::size_t at = 0;
    int withDate = 0;
    for (int number = 1; number <= Count; ++number) {
        const std::string old = Stamped(ReportLine(1, number));
        const std::string now = "15:04:09," + ReportLine(1, number) + "\r\n";
        if (number == withDate + 1 && text.compare(at, old.size(), old) == 0) {
            ++withDate;
            at += old.size();
            continue;
        }
        ASSERT_EQ(text.compare(at, now.size(), now), 0)
            << "line " << number << ": " << text.substr(at, 60);
        at += now.size();
    }
    EXPECT_EQ(at, text.size());
    EXPECT_GT(withDate, 0);
    EXPECT_LT(withDate, Count);
}

TEST_F(EndToEndCaptureTest, ViewsPastTheirLimitDropTheOldestLinesAndTheFileKeepsEveryLine) {
    StartUp("[Capture]\nViewLimitMB=1\n");
    StartLine(1, ReportFile(1));
    // About 1.5 MiB of report text for a store of 1 MiB.
    constexpr int Count = 15000;
    const std::string padding(70, '.');
    std::string expected;
    {
        std::thread sender([&] {
            for (int number = 1; number <= Count; ++number)
                if (!lines.Com(1).Write(ReportLine(1, number) + padding + "\r\n"))
                    return;
        });
        for (int number = 1; number <= Count; ++number)
            expected += Stamped(ReportLine(1, number) + padding);
        EXPECT_TRUE(QTest::qWaitFor([&] { return FileText(ReportFile(1)) == expected; }, 30000));
        sender.join();
    }
    ReportStore& store = Main().LineWindows[0]->Store();
    EXPECT_LE(store.HeldBytes(), std::size_t{1} << 20);
    EXPECT_GT(store.FirstLine(), 0u) << "the oldest lines left the store";
    EXPECT_EQ(store.LineCount(), static_cast<std::size_t>(Count));
    TReportView& small = *Main().LineWindows[0];
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return small.RowCount() == static_cast<qint64>(Count - store.FirstLine()); }, 20000));
    EXPECT_EQ(small.Text().section(QChar('\n'), -1).toStdString(),
              "07-Dec-26,15:04:09," + ReportLine(1, Count) + padding);
    // The expanded view, wrapping, starts at the same oldest line held.
    const std::string oldest =
        "07-Dec-26,15:04:09," + ReportLine(1, static_cast<int>(store.FirstLine()) + 1) + padding;
    const TReportView& expanded = *forms->LineForms[0]->LineWindow;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const std::string top = expanded.RowText(0).toStdString();
            return !top.empty() && oldest.starts_with(top);
        },
        20000))
        << expanded.RowText(0).toStdString();
}

TEST_F(EndToEndCaptureTest, ResumeWithADeviceMissingCapturesWhileNobodyClosesTheBox) {
    const std::string adapter = settings.Folder() + "late-adapter";
    SetPortDevice(3, adapter);
    std::string resume = "[Capture]\nResumeAtStartup=1\n";
    for (int line : {1, 2, 3})
        resume += "ReportFile" + std::to_string(line) + "=" + ReportFile(line) + "\n";
    // Nobody is there to close the box: the real one is shown, and left open. A box that blocked
    // the start-up would be closed here after a while, so that the fault fails the test instead of
    // hanging it.
    MessagePresenter recorder = SetMessagePresenter({});
    bool blocked = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            blocked = true;
            modal->close();
        }
    });
    guard.start(15000);
    StartUp(EightLinesOn + resume);
    guard.stop();
    ASSERT_FALSE(blocked) << "the start-up waited for the box";
    QElapsedTimer sinceStartUp;
    sinceStartUp.start();
    QMessageBox* box = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* shown = qobject_cast<QMessageBox*>(window);
            shown != nullptr && shown->isVisible())
            box = shown;
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().startsWith(QStringLiteral("COM 3 does not exist.")))
        << box->text().toStdString();

    // The lines whose ports opened were started before them: their first bytes are kept.
    Play({1, 2}, 1, 3);
    ExpectFilesComplete({1, 2});
    std::printf("lines 1 and 2 in their files %lld ms after the start-up\n",
                static_cast<long long>(sinceStartUp.elapsed()));
    EXPECT_EQ(Main().LineGroups[2]->palette().color(QPalette::WindowText), QColor(139, 0, 0));
    EXPECT_EQ(Main().LineGroups[3]->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_TRUE(Main().StartLineBtns[2]->isChecked());

    QTest::qWait(1200);
    ASSERT_EQ(symlink(lines.Com(3).SlavePath().c_str(), adapter.c_str()), 0);
    QElapsedTimer sincePlugged;
    sincePlugged.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Line(3).PortStatus == PortState::Open; }, 10000));
    Play({3}, 1, 3);
    ExpectFilesComplete({3});
    std::printf("line 3 in its file %lld ms after its device appeared\n",
                static_cast<long long>(sincePlugged.elapsed()));
    EXPECT_TRUE(box->isVisible()) << "nobody closed the box";
    SetMessagePresenter(std::move(recorder));
    box->close();
    ClearPortDevice(3);
}

TEST_F(EndToEndCaptureTest, LineWhoseFolderIsMissingShowsItUntilTheHeldLinesAreWritten) {
    StartUp(EightLinesOn);
    // Named as the system names files, in UTF-8; the panel shows it as it is.
    const std::string folder = settings.Folder() + "Prüfung Süd";
    const std::string file = folder + "/line1.txt";
    StartLine(1, file);
    Play({1}, 1, 20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Boxes.empty(); }, 10000));
    const QString failing = QString::fromStdString("Double click to change line label\nthe report "
                                                   "file " +
                                                   file +
                                                   " cannot be written since 15:04:09 (Invalid "
                                                   "filename; the folder " +
                                                   folder + " is not there): 20 report lines held");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Main().LineGroups[0]->toolTip() == failing; }, 10000))
        << Main().LineGroups[0]->toolTip().toStdString();
    EXPECT_EQ(Main().LineGroups[0]->palette().color(QPalette::WindowText), QColor(139, 0, 0));
    // In sight on the panel too, without a hover.
    const TLineTroubleLabel& trouble = *Main().LineTroubles[0];
    EXPECT_FALSE(trouble.isHidden());
    EXPECT_EQ(trouble.Trouble().toStdString(),
              "The report file " + file + " cannot be written since 15:04:09 (Invalid filename; " +
                  "the folder " + folder + " is not there): 20 report lines held");

    // Stopped, it says what it still holds; the held lines are written all the same.
    Main().StartLineBtns[0]->click();
    ASSERT_EQ(boxes.Boxes.size(), 2u);
    EXPECT_EQ(boxes.Boxes[1].Text,
              "Line 1 is stopped with 20 report lines held for the report file " + file +
                  ".\r\rThey are written to it as soon as it can be written again, or saved in " +
                  settings.Folder() + "line1.txt.unsaved at Exit.");
    ASSERT_TRUE(QDir().mkdir(QFile::decodeName(folder.c_str())));
    EXPECT_TRUE(QTest::qWaitFor([&] { return FileText(file) == expected_[0]; }, 20000))
        << FileText(file);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Main().LineGroups[0]->toolTip() ==
                   QStringLiteral("Double click to change line label");
        },
        10000))
        << Main().LineGroups[0]->toolTip().toStdString();
    EXPECT_EQ(Main().LineGroups[0]->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_TRUE(trouble.isHidden()) << trouble.Trouble().toStdString();
    EXPECT_EQ(boxes.Boxes.size(), 2u);
}

// Off in COM Ports stops a started line as its button does, saying what it still holds.
TEST_F(EndToEndCaptureTest, LineSwitchedOffWhileItHoldsLinesSaysWhatItHolds) {
    StartUp(EightLinesOn);
    const std::string file = settings.Folder() + "reports/line2.txt";
    StartLine(2, file);
    Play({2}, 1, 5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Line(2).Writer().Status().Held == 5; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Boxes.empty(); }, 10000));
    Serial().Ports[1].ComPort->setCurrentIndex(16);
    Serial().OKBtnClick();
    ASSERT_EQ(boxes.Boxes.size(), 2u);
    EXPECT_EQ(boxes.Boxes[1].Text,
              "Line 2 is stopped with 5 report lines held for the report file " + file +
                  ".\r\rThey are written to it as soon as it can be written again, or saved in " +
                  settings.Folder() + "line2.txt.unsaved at Exit.");
    EXPECT_FALSE(Main().StartLineBtns[1]->isChecked());
    EXPECT_NE(FileText(settings.Path()).find("ComPortB=16"), std::string::npos)
        << FileText(settings.Path());
}

TEST_F(EndToEndCaptureTest, SecondLineIntoAStartedLinesFileIsAskedFirstAndNoLeavesItStopped) {
    StartUp("[LineLabels]\nLine1=Press 1\n" + EightLinesOn);
    StartLine(1, ReportFile(1));
    boxes.Answer = false;
    // The same file by another spelling; the second showing of the dialog is cancelled.
    const std::string spelt = settings.Folder() + "./line1.txt";
    const SaveDialogChoice choice(spelt, 1);
    Main().StartLineBtns[1]->click();
    ASSERT_EQ(boxes.Questions.size(), 1u);
    EXPECT_EQ(boxes.Questions[0].Text,
              spelt + " is already the report file of Press 1; the reports of both lines would "
                      "be mixed in it. Use it anyway?");
    EXPECT_EQ(choice.Showings.size(), 2u) << "No goes back to the save dialog";
    EXPECT_FALSE(Main().StartLineBtns[1]->isChecked());
    EXPECT_FALSE(Line(2).Started);
    EXPECT_TRUE(Line(1).Started);
}

// A line that makes a new file each day writes its dated file: a line started into that name
// would mix its reports in.
TEST_F(EndToEndCaptureTest, ALineIntoTheDatedFileThatADailyLineWritesIsAskedFirst) {
    StartUp("[LineLabels]\nLine1=Press 1\n[Capture]\nNewFileEachDay1=1\n" + EightLinesOn);
    StartLine(1, ReportFile(1));
    boxes.Answer = false;
    const std::string dated = settings.Folder() + "line1_2026-12-07.txt";
    const SaveDialogChoice choice(dated, 1);
    Main().StartLineBtns[1]->click();
    ASSERT_EQ(boxes.Questions.size(), 1u);
    EXPECT_EQ(boxes.Questions[0].Text.rfind(dated + " is already the report file of Press 1;", 0),
              0u);
    EXPECT_FALSE(Line(2).Started);
}

TEST_F(EndToEndCaptureTest, ALineIntoAFileThatAStoppedLineStillHoldsLinesForIsAskedFirst) {
    StartUp("[LineLabels]\nLine1=Press 1\n" + EightLinesOn);
    const std::string file = settings.UnwritablePath("held.txt");
    StartLine(1, file);
    Play({1}, 1, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Line(1).Writer().Status().Held == 2; }, 20000));
    Main().StartLineBtns[0]->click();
    ASSERT_FALSE(Line(1).Started);
    boxes.Answer = false;
    const SaveDialogChoice choice(file, 1);
    Main().StartLineBtns[1]->click();
    ASSERT_EQ(boxes.Questions.size(), 1u);
    EXPECT_EQ(boxes.Questions[0].Text.rfind(file + " is already the report file of Press 1;", 0),
              0u);
    EXPECT_FALSE(Line(2).Started);
}

TEST_F(EndToEndCaptureTest, OpenPortDialogHoldsUpNoRetryAndCancelKeepsWhatTheRetryOpened) {
    const std::string adapter = settings.Folder() + "adapter";
    ASSERT_EQ(symlink(lines.Com(3).SlavePath().c_str(), adapter.c_str()), 0);
    SetPortDevice(3, adapter);
    StartUp("[ComPortSettings]\nComPort=2\nBaudRate=4\n");
    StartLine(1, ReportFile(1));
    ModalDriver driver([&](QWidget* modal) {
        if (modal != &Serial())
            return;
        // An edit the operator has not confirmed: the retry must not take it.
        Serial().Ports[0].BaudRate->setCurrentIndex(1);
        lines.Com(3).Close();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return Line(1).PortStatus == PortState::Waiting; }, 5000));
        ASSERT_EQ(unlink(adapter.c_str()), 0);
        ASSERT_EQ(symlink(lines.Com(12).SlavePath().c_str(), adapter.c_str()), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return Line(1).PortStatus == PortState::Open; }, 2000));
        EXPECT_EQ(Serial().ComPorts[0]->Baud(), 19200);
        QTest::mouseClick(Serial().CancelBtn, Qt::LeftButton);
    });
    EXPECT_EQ(Serial().exec(), QDialog::Rejected);
    EXPECT_EQ(Line(1).PortStatus, PortState::Open);
    EXPECT_EQ(Serial().ComPorts[0]->Baud(), 19200);
    ASSERT_TRUE(lines.Com(12).Write("LOT 1\r\n"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return FileText(ReportFile(1)) == Stamped("LOT 1"); }, 10000))
        << FileText(ReportFile(1));
    EXPECT_TRUE(boxes.Boxes.empty());
    ClearPortDevice(3);
}
