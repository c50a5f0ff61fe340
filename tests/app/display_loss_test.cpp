// The window's program when its X server goes away or a signal ends it (a logout, a shutdown):
// it ends only after every report line that came is in its file or saved, and the next start
// resumes into the same file.

#include "tests/support/pty_pair.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

std::string FileText(const std::string& path) {
    QFile file(QFile::decodeName(path.c_str()));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// Line 1 on the pty, unstamped, resumed into report at the start.
void WriteLineSettings(const std::string& settings, const PtyPair& com1,
                       const std::string& report) {
    const std::string text = "[ComPortSettings]\r\nComPort=0\r\n[StampingSettings]\r\n"
                             "DateStamp1=0\r\nTimeStamp1=0\r\n[PortDevices]\r\nCOM1=" +
                             com1.SlavePath() + "\r\n[Capture]\r\nResumeAtStartup=1\r\n" +
                             "ReportFile1=" + report + "\r\n";
    QFile file(QFile::decodeName(settings.c_str()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.data(), static_cast<qint64>(text.size()));
}

// Starts the window's program on the settings; true once line 1's port is open.
bool StartWindow(QProcess& program, const std::string& settings, const PtyPair& com1) {
    program.start(QStringLiteral(TOLVANE_PROGRAM),
                  {QStringLiteral("--settings"), QString::fromStdString(settings)});
    return program.waitForStarted() &&
           QTest::qWaitFor([&] { return com1.BaudSetting() == B9600; }, 30000);
}

// Numbered report lines, sent down the line until the program has read them all.
std::string SendLines(PtyPair& com1, int count) {
    std::string lines;
    for (int number = 1; number <= count; ++number)
        lines += "LOT " + std::to_string(number) + "\r\n";
    EXPECT_TRUE(com1.Write(lines));
    EXPECT_TRUE(QTest::qWaitFor([&] { return com1.Unread() == 0; }, 20000));
    QTest::qWait(300);
    return lines;
}

TEST(DisplayLossTest, XServerGoneEndsTheProgramWithEveryLineWrittenAndResumeKept) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        GTEST_SKIP() << "Xvfb is not installed (scripts/bootstrap.sh installs it)";
    // A display that no server holds: one killed by an earlier run leaves its lock and socket
    // behind, and a socket that is already there would pass for the new server's.
    int number = 100 + ::getpid() % 400;
    for (int tried = 0; tried < 400; ++tried, number = 100 + (number - 99) % 400)
        if (!QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)) &&
            !QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            break;
    const QString display = QStringLiteral(":%1").arg(number);
    QProcess server;
    server.start(xvfb, {display, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    ASSERT_TRUE(server.waitForStarted());
    const QString socket = QStringLiteral("/tmp/.X11-unix/X") + display.mid(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(socket); }, 20000));

    QTemporaryDir dir;
    const std::string folder = QFile::encodeName(dir.path()).toStdString() + "/";
    const std::string settings = folder + "Tolvane.ini";
    const std::string report = folder + "line1.txt";
    PtyPair com1(1);
    WriteLineSettings(settings, com1, report);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    program.setProcessEnvironment(environment);
    ASSERT_TRUE(StartWindow(program, settings, com1))
        << program.readAllStandardError().toStdString();
    const std::string expected = SendLines(com1, 2000);
    server.kill();
    server.waitForFinished();
    QFile::remove(socket);
    QFile::remove(QStringLiteral("/tmp/.X%1-lock").arg(number));

    ASSERT_TRUE(program.waitForFinished(30000)) << program.readAllStandardError().toStdString();
    const std::string said = program.readAllStandardError().toStdString();
    EXPECT_EQ(program.exitCode(), 1) << said;
    EXPECT_NE(said.find("tolvane: the display was lost"), std::string::npos) << said;
    EXPECT_EQ(FileText(report), expected);
    EXPECT_NE(FileText(settings).find("ReportFile1=" + report), std::string::npos)
        << "the next start resumes into the same file";
}

TEST(TerminationSignalTest, SigtermEndsTheWindowWithTheLinesItHoldsSaved) {
    QTemporaryDir dir;
    const std::string folder = QFile::encodeName(dir.path()).toStdString() + "/";
    const std::string settings = folder + "Tolvane.ini";
    PtyPair com1(1);
    // The report file's folder does not exist: every line is held.
    WriteLineSettings(settings, com1, folder + "gone/line1.txt");
    QProcess program;
    ASSERT_TRUE(StartWindow(program, settings, com1))
        << program.readAllStandardError().toStdString();
    const std::string expected = SendLines(com1, 100);
    ASSERT_GT(program.processId(), 0);
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);

    ASSERT_TRUE(program.waitForFinished(30000)) << program.readAllStandardError().toStdString();
    const std::string said = program.readAllStandardError().toStdString();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << said;
    EXPECT_EQ(program.exitCode(), 0) << said;
    EXPECT_NE(said.find("tolvane: ended by SIGTERM"), std::string::npos) << said;
    EXPECT_EQ(FileText(folder + "line1.txt.unsaved"), expected);
}

} // namespace
