// The Port Devices dialog: a device named in it reaches the ports, and Cancel leaves everything.

#include "serial/platform/port_map.h"
#include "tests/ui/forms_fixture.h"
#include "ui/port_devices_form.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <unistd.h>

class PortDevicesFormTest : public FormsTest {
protected:
    // The ports read their devices from the test's settings file, as the program's do from its.
    PortDevicesFormTest() { SetPortMapSettingsFile(settings.Path()); }
    ~PortDevicesFormTest() override { SetPortMapSettingsFile(std::string()); }

    TPortDevicesForm& Devices() { return *forms->PortDevicesForm; }

    // Opens the dialog from the menu and runs the action inside it; the dialog's result.
    int InDialog(const std::function<void()>& action) {
        int result = -1;
        QObject::connect(
            &Devices(), &QDialog::finished, &Devices(), [&](int r) { result = r; },
            Qt::SingleShotConnection);
        ModalDriver driver([&](QWidget* modal) {
            if (modal == &Devices())
                action();
        });
        Main().MenuPortDevices->trigger();
        EXPECT_FALSE(driver.Stuck);
        return result;
    }
};

TEST_F(PortDevicesFormTest, ADeviceChosenInTheDialogCarriesItsLineToTheReportFile) {
    // COM5 is left to the settings file, which names an adapter that is not plugged in.
    ClearPortDevice(5);
    const std::string unplugged = settings.Folder() + "usb-FTDI_unplugged";
    StartUp("[LineLabels]\nLine5=Wrapping\n[ComPortSettings]\nComPortE=4\n[PortDevices]\nCOM5=" +
            unplugged + "\n");
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text,
              "COM 5 does not exist. Nothing is at " + unplugged +
                  ". Choose its device in Menu, Port Devices.\r\rPlease assign a "
                  "different COM Port for Wrapping or set to Off.");
    boxes.Boxes.clear();

    const std::string pty = lines.Com(5).SlavePath();
    QString markBefore, markAfter;
    const int result = InDialog([&] {
        QComboBox* field = Devices().DeviceBoxes[4];
        EXPECT_EQ(field->currentText().toStdString(), unplugged);
        markBefore = Devices().DeviceMarks[4]->text();
        field->setEditText(QString::fromStdString(pty));
        markAfter = Devices().DeviceMarks[4]->text();
        Devices().DeviceBoxes[8]->setEditText(QStringLiteral(" "));
        QTest::mouseClick(Devices().OKBtn, Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(markBefore, QStringLiteral("not present"));
    EXPECT_EQ(markAfter, QStringLiteral("present"));
    EXPECT_TRUE(boxes.Boxes.empty());
    EXPECT_EQ(settings.Value("PortDevices", "COM5"), pty);
    EXPECT_EQ(settings.Value("PortDevices", "COM9"), "<missing>")
        << "an empty field removes its key";
    ASSERT_TRUE(Serial().ComPorts[4]->Open());

    const std::string reportFile = settings.Folder() + "wrapping.txt";
    StartLine(5, reportFile);
    ASSERT_TRUE(lines.Com(5).Write("LOT 77 OK\r\n"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return FileText(reportFile) == "07-Dec-26,15:04:09,LOT 77 OK\r\n"; }, 20000))
        << FileText(reportFile);

    // Moved to another adapter while open: the port opens again on the new one.
    const std::string other = lines.Com(6).SlavePath();
    EXPECT_EQ(InDialog([&] {
                  Devices().DeviceBoxes[4]->setEditText(QString::fromStdString(other));
                  QTest::mouseClick(Devices().OKBtn, Qt::LeftButton);
              }),
              QDialog::Accepted);
    ASSERT_TRUE(lines.Com(6).Write("LOT 78 OK\r\n"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return FileText(reportFile) ==
                   "07-Dec-26,15:04:09,LOT 77 OK\r\n07-Dec-26,15:04:09,LOT 78 OK\r\n";
        },
        20000))
        << FileText(reportFile);
}

TEST_F(PortDevicesFormTest, CancelLeavesTheSettingsFileAndThePortsAsTheyWere) {
    StartUp("[ComPortSettings]\nComPort=0\n[PortDevices]\nCOM3=/dev/ttyUSB7\n");
    const std::string before = FileText(settings.Path());
    TApdComPort* port = Serial().ComPorts[0];
    ASSERT_TRUE(port->Open());
    const std::uint16_t trigger = Line(1).Capture.LineTriggerHandle;
    const int result = InDialog([&] {
        Devices().DeviceBoxes[2]->setEditText(QString());
        Devices().DeviceBoxes[0]->setEditText(QStringLiteral("/dev/ttyACM0"));
        QTest::mouseClick(Devices().CancelBtn, Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(FileText(settings.Path()), before);
    EXPECT_TRUE(port->Open());
    EXPECT_EQ(Line(1).Capture.LineTriggerHandle, trigger) << "the port was not set up again";
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(PortDevicesFormTest, AMarkFollowsADeviceThatAppearsWhileTheDialogIsOpen) {
    ClearPortDevice(3);
    StartUp();
    const std::string adapter = settings.Folder() + "usb-adapter-later";
    QString before, after;
    InDialog([&] {
        Devices().DeviceBoxes[2]->setEditText(QString::fromStdString(adapter));
        before = Devices().DeviceMarks[2]->text();
        EXPECT_EQ(::symlink(lines.Com(3).SlavePath().c_str(), adapter.c_str()), 0);
        QTest::qWait(1500);
        after = Devices().DeviceMarks[2]->text();
        QTest::mouseClick(Devices().CancelBtn, Qt::LeftButton);
    });
    EXPECT_EQ(before, QStringLiteral("not present"));
    EXPECT_EQ(after, QStringLiteral("present"));
}
