#include "serial/platform/port_map.h"

#include <QTemporaryDir>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class PortMap : public ::testing::Test {
protected:
    void TearDown() override {
        SetPortMapSettingsFile("");
        for (int n = 1; n <= 16; ++n)
            ClearPortDevice(n);
    }
    std::string WriteSettings(const std::string& text) {
        const std::string path = dir.filePath("Tolvane.ini").toStdString();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(PortMap, WithoutOverrideOrSettingsPortNIsTheNthSerialDevice) {
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(PortDevicePath(16), "/dev/ttyS15");
}

TEST_F(PortMap, ASettingsFileThatIsAFifoReadsAsNoneWithoutWaiting) {
    const std::string path = dir.filePath("Tolvane.ini").toStdString();
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    SetPortMapSettingsFile(path);
    auto lookup = std::async(std::launch::async, [] { return PortDevicePath(3); });
    if (lookup.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // A writer lets the waiting open go, so that the test can end.
        close(open(path.c_str(), O_WRONLY | O_NONBLOCK));
        FAIL() << "the lookup waits for someone to write the FIFO";
    }
    EXPECT_EQ(lookup.get(), "/dev/ttyS2");
}

TEST_F(PortMap, TheSettingsFileComesBeforeTheDefaultAndTheOverrideBeforeBoth) {
    SetPortMapSettingsFile(WriteSettings("[LineLabels]\r\n"
                                         "COM3=/dev/wrong-section\r\n"
                                         "[portdevices]\r\n"
                                         "com3 = /dev/serial/by-id/usb-FTDI_A12345-if00-port0\r\n"
                                         "COM4=\r\n"
                                         "[Directories]\r\n"
                                         "COM5=/dev/wrong-section-too\r\n"));
    EXPECT_EQ(PortDevicePath(3), "/dev/serial/by-id/usb-FTDI_A12345-if00-port0");
    EXPECT_EQ(PortDevicePath(4), "/dev/ttyS3") << "an empty value names no device";
    EXPECT_EQ(PortDevicePath(5), "/dev/ttyS4") << "keys of other sections do not count";

    SetPortDevice(3, "/dev/pts/7");
    EXPECT_EQ(PortDevicePath(3), "/dev/pts/7");
    ClearPortDevice(3);
    EXPECT_EQ(PortDevicePath(3), "/dev/serial/by-id/usb-FTDI_A12345-if00-port0");
}

TEST_F(PortMap, SettingsWithPlainLineEndsQuotesAndCommentsAreRead) {
    SetPortMapSettingsFile(WriteSettings("; operator's notes\n"
                                         "[ PortDevices ]\n"
                                         "; COM1=/dev/commented-out\n"
                                         "COM1=\"/dev/ttyUSB0\"\n"
                                         "Com2\t=\t/dev/ttyUSB1"));
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath(2), "/dev/ttyUSB1") << "the last line needs no line end";
}

TEST_F(PortMap, AMissingOrChangedSettingsFileIsReadAtEveryLookUp) {
    const std::string path = dir.filePath("absent.ini").toStdString();
    SetPortMapSettingsFile(path);
    EXPECT_EQ(PortDevicePath(2), "/dev/ttyS1");
    std::ofstream(path) << "[PortDevices]\nCOM2=/dev/ttyACM0\n";
    EXPECT_EQ(PortDevicePath(2), "/dev/ttyACM0");
}

TEST(PortMapNames, DeviceNamesGiveTheirPortNumber) {
    struct Case {
        const char* Name;
        int Port;
    };
    for (const Case& c : {Case{"\\\\.\\COM1", 1}, Case{"\\\\.\\COM16", 16},
                          Case{"\\\\.\\com12", 12}, Case{"COM3", 3}, Case{"\\\\.\\COM255", 255},
                          Case{"\\\\.\\COM0", 0}, Case{"\\\\.\\COM256", 0}, Case{"\\\\.\\COM01", 0},
                          Case{"\\\\.\\COM", 0}, Case{"\\\\.\\COM1x", 0}, Case{"\\\\.\\COM-1", 0},
                          Case{"\\\\.\\LPT1", 0}, Case{"/dev/ttyS0", 0}, Case{"", 0}}) {
        EXPECT_EQ(ParseComDeviceName(c.Name), c.Port) << c.Name;
    }
}
