// --list-ports over pseudo-terminals named in the port map three ways, a holder in another
// program, and paths that are missing or no tty.

#include "app/command_line.h"
#include "app/terminal_answers.h"
#include "serial/platform/port_map.h"
#include "tests/support/pty_pair.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

namespace {

std::vector<std::string> ListedPorts(QStringList arguments = {}) {
    const std::string text = TerminalAnswer(ParseCommandLine(
        QStringList{QStringLiteral("tolvane"), QStringLiteral("--list-ports")} + arguments));
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every line ends in a line feed";
    return lines;
}

} // namespace

TEST(PortListTest, EachComPortsDeviceItsOriginPresenceRealPathDriverAndHolder) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    PtyPair held(1); // this process keeps its slave open

    // A terminal nobody holds until another program opens it, named through a by-id style link.
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    const std::string free = name;
    const std::string link = folder + "/usb-FTDI_FT232R_A12345-if00-port0";
    ASSERT_EQ(::symlink(free.c_str(), link.c_str()), 0);
    const std::string plainFile = folder + "/notes.txt";
    std::ofstream(plainFile) << "not a port\n";

    const std::string settings = folder + "/Tolvane.ini";
    std::ofstream(settings) << "[PortDevices]\r\nCOM2=" << link << "\r\nCOM3=" << plainFile
                            << "\r\nCOM4=/dev/null\r\nCOM5=" << folder << "/unplugged\r\n";
    SetPortMapSettingsFile(settings);

    std::vector<std::string> lines = ListedPorts();
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[0], "COM1: " + held.SlavePath() +
                            " [set in this process]; present; real path " + held.SlavePath() +
                            "; driver pty_slave; held by this program");
    const std::string com2 =
        "COM2: " + link + " [PortDevices]; present; real path " + free + "; driver pty_slave; ";
    EXPECT_THAT(lines[1], testing::AnyOf(com2 + "free",
                                         com2 + "no holder among the processes this user may see"));
    EXPECT_EQ(lines[2], "COM3: " + plainFile + " [PortDevices]; present; real path " + plainFile +
                            "; not a character device");
    EXPECT_EQ(lines[3], "COM4: /dev/null [PortDevices]; present; real path /dev/null; not a tty");
    EXPECT_EQ(lines[4], "COM5: " + folder + "/unplugged [PortDevices]; missing");
    EXPECT_THAT(lines[15], testing::StartsWith("COM16: /dev/ttyS15 [default]; "));

    // A holder whose name is longer than the kernel keeps is named in full, also when it was
    // started by another name, as tolvane starts tolvane-headless.
    const std::string holder = folder + "/a-holder-with-a-long-name";
    std::filesystem::copy_file("/bin/sleep", holder);
    std::filesystem::permissions(holder, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    QProcess other;
    other.start(QStringLiteral("bash"),
                {QStringLiteral("-c"), QStringLiteral("exec -a holder \"$1\" 30 <\"$0\""),
                 QString::fromStdString(free), QString::fromStdString(holder)});
    ASSERT_TRUE(other.waitForStarted());
    const std::string heldByOther =
        com2 + "held by a-holder-with-a-long-name (pid " + std::to_string(other.processId()) + ")";
    EXPECT_TRUE(QTest::qWaitFor([&] { return ListedPorts()[1] == heldByOther; }, 5000))
        << ListedPorts()[1];
    other.kill();
    other.waitForFinished();
    SetPortMapSettingsFile("");
    ::close(master);
}

TEST(PortListTest, WithSimulateTheSimulatedLinesAreTheDevicesSetInThisProcess) {
    const std::vector<std::string> lines = ListedPorts({QStringLiteral("--simulate")});
    ASSERT_EQ(lines.size(), 16u);
    for (int n = 1; n <= 8; ++n)
        EXPECT_THAT(
            lines[static_cast<std::size_t>(n - 1)],
            testing::MatchesRegex("COM" + std::to_string(n) +
                                  ": /dev/pts/[0-9]+ \\[set in this process\\]; present; .*"));
    EXPECT_THAT(lines[8], testing::StartsWith("COM9: /dev/ttyS8 [default]; "));
    EXPECT_EQ(PortDevicePath(1), DefaultPortDevicePath(1)) << "the simulator ends with the listing";
}
