// The window's program when its X server goes away: Qt ends it, but only after every report line
// that came is in its file, and the next start resumes into the same file.

#include "tests/support/pty_pair.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

std::string FileText(const std::string& path) {
    QFile file(QFile::decodeName(path.c_str()));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
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
    {
        const std::string text = "[ComPortSettings]\r\nComPort=0\r\n[StampingSettings]\r\n"
                                 "DateStamp1=0\r\nTimeStamp1=0\r\n[PortDevices]\r\nCOM1=" +
                                 com1.SlavePath() + "\r\n[Capture]\r\nResumeAtStartup=1\r\n" +
                                 "ReportFile1=" + report + "\r\n";
        QFile file(QFile::decodeName(settings.c_str()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.data(), static_cast<qint64>(text.size()));
    }
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TOLVANE_PROGRAM),
                  {QStringLiteral("--settings"), QString::fromStdString(settings)});
    ASSERT_TRUE(program.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return com1.BaudSetting() == B9600; }, 30000))
        << program.readAllStandardError().toStdString();

    std::string expected;
    for (int number = 1; number <= 2000; ++number)
        expected += "LOT " + std::to_string(number) + "\r\n";
    ASSERT_TRUE(com1.Write(expected));
    EXPECT_TRUE(QTest::qWaitFor([&] { return com1.Unread() == 0; }, 20000))
        << program.readAllStandardError().toStdString();
    QTest::qWait(300);
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

} // namespace
