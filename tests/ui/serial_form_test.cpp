// The port dialog: its lists, the port components it owns, the set-up from the lists, the error
// box, OK and Cancel.

#include "runtime/message_box.h"
#include "serial/apd_com_port.h"
#include "serial/apd_exceptions.h"
#include "serial/apd_win32_dispatcher.h"
#include "serial/platform/port_map.h"
#include "tests/ui/forms_fixture.h"
#include "ui/line_form.h"
#include "ui/line_letter.h"
#include "ui/report_view.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

} // namespace

class SerialFormTest : public FormsTest {};

TEST_F(SerialFormTest, EachLineHasItsFiveLabelledListsWithItemsAndHints) {
    StartUp();
    QStringList ports;
    for (int n = 1; n <= 16; ++n)
        ports << QString::number(n);
    ports << QStringLiteral("Off");
    const struct {
        const char* Name;
        const char* Label;
        QStringList Items;
        const char* Hint;
    } lists[] = {
        {"ComPort", "COM Port", ports, "Click to change COM Port"},
        {"BaudRate",
         "Baud Rate",
         {"1200", "2400", "4800", "9600", "19200"},
         "Click to change baud rate"},
        {"Parity", "Parity", {"none", "odd", "even"}, "Click to change parity"},
        {"DataBits", "Data Bits", {"7", "8"}, "Click to change data bits"},
        {"StopBits", "Stop Bits", {"1", "2"}, "Click to change stop bits"},
    };
    for (int line = 1; line <= LineCount; ++line) {
        const QString letter = LineLetter(line);
        auto* group = Serial().findChild<QGroupBox*>(QStringLiteral("ComPort%1Group").arg(letter));
        ASSERT_NE(group, nullptr) << line;
        EXPECT_EQ(group->size(), QSize(369, 153));
        EXPECT_TRUE(group->font().bold());
        EXPECT_EQ(group->title(), QStringLiteral("Line %1").arg(line));
        EXPECT_EQ(group->x(), line % 2 == 1 ? 16 : 400) << line;
        for (const auto& expected : lists) {
            SCOPED_TRACE(QStringLiteral("%1 line %2").arg(expected.Name).arg(line).toStdString());
            const QString name = QString::fromLatin1(expected.Name) + letter;
            auto* list = group->findChild<QComboBox*>(name + QStringLiteral("ComboBox"));
            ASSERT_NE(list, nullptr);
            EXPECT_EQ(Items(list), expected.Items);
            EXPECT_EQ(list->toolTip(), QString::fromLatin1(expected.Hint));
            auto* label = group->findChild<QLabel*>(name + QStringLiteral("Label"));
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text(), QString::fromLatin1(expected.Label));
            EXPECT_EQ(label->buddy(), list);
        }
        EXPECT_EQ(Serial().Ports[line - 1].ComPort->maxVisibleItems(), 9);
    }
}

TEST_F(SerialFormTest, DialogIsFixedWithoutTitleBarButtonsAndHasOkAndCancel) {
    StartUp();
    EXPECT_EQ(Serial().windowTitle(), QStringLiteral("Configure COM Ports"));
    EXPECT_EQ(Serial().size(), QSize(785, 701));
    EXPECT_EQ(Serial().minimumSize(), Serial().maximumSize());
    EXPECT_FALSE(Serial().windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(Serial().windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_EQ(Serial().OKBtn->text(), QStringLiteral("OK"));
    EXPECT_EQ(Serial().OKBtn->toolTip(), QStringLiteral("Click to accept changes"));
    EXPECT_EQ(Serial().CancelBtn->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(Serial().CancelBtn->toolTip(), QStringLiteral("Click to discard changes"));
}

TEST(SerialFormPortsTest, PortComponentsCarryTheirDesignValues) {
    TemporarySettings settings;
    FormSet forms;
    for (int line = 1; line <= LineCount; ++line) {
        SCOPED_TRACE(line);
        auto* port =
            forms.Ports.findChild<TApdComPort*>(QStringLiteral("ComPort") + LineLetter(line));
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(port, forms.Ports.ComPorts[line - 1]);
        EXPECT_EQ(port->Baud(), 9600);
        EXPECT_EQ(port->InSize(), 1024);
        EXPECT_EQ(port->OutSize(), 1024);
        EXPECT_EQ(port->ComNumber(), line == 1 || line == 5 ? 1 : 0);
        EXPECT_FALSE(port->Open());
        EXPECT_FALSE(port->Loading());
    }
    forms.MainForm->StartupTimer->stop();
}

TEST_F(SerialFormTest, SetUpTakesEveryPortSettingFromItsLists) {
    StartUp("[ComPortSettings]\nComPortB=4\nBaudRateB=4\nParityB=2\nDataBitsB=0\nStopBitsB=1\n"
            "ComPortC=15\nBaudRateC=0\nParityC=1\n");
    const TApdComPort& b = *Serial().ComPorts[1];
    EXPECT_EQ(b.ComNumber(), 5);
    EXPECT_EQ(b.Baud(), 19200);
    EXPECT_EQ(b.Parity(), pEven);
    EXPECT_EQ(b.DataBits(), 7);
    EXPECT_EQ(b.StopBits(), 2);
    const TApdComPort& c = *Serial().ComPorts[2];
    EXPECT_EQ(c.ComNumber(), 16);
    EXPECT_EQ(c.Baud(), 1200);
    EXPECT_EQ(c.Parity(), pOdd);
    EXPECT_TRUE(b.Open());
    EXPECT_TRUE(c.Open());
    // Line 4 is "Off": its port keeps its design values.
    EXPECT_EQ(Serial().ComPorts[3]->ComNumber(), 0);
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(SerialFormTest, ListWithoutSelectionCountsAsItsKeysDefault) {
    // Indexes outside the lists leave them without a selection.
    StartUp("[ComPortSettings]\nComPort=-1\nBaudRate=9\nComPortB=1\nParityB=7\nDataBitsB=5\n"
            "StopBitsB=-3\nComPortD=40\n");
    ASSERT_EQ(Serial().Ports[0].ComPort->currentIndex(), -1);
    EXPECT_EQ(Serial().ComPorts[0]->ComNumber(), 1);
    EXPECT_EQ(Serial().ComPorts[0]->Baud(), 9600);
    EXPECT_EQ(Serial().ComPorts[1]->ComNumber(), 2);
    EXPECT_EQ(Serial().ComPorts[1]->Parity(), pNone);
    EXPECT_EQ(Serial().ComPorts[1]->DataBits(), 8);
    EXPECT_EQ(Serial().ComPorts[1]->StopBits(), 1);
    // Line 1 without a selection is on (COM1); line 4 without one is off, as its key's default.
    EXPECT_TRUE(Main().StartLineBtns[0]->isEnabled());
    EXPECT_FALSE(Main().StartLineBtns[3]->isEnabled());
    EXPECT_EQ(Serial().ComPorts[3]->ComNumber(), 0);
}

TEST_F(SerialFormTest, PortErrorBoxNamesThePortAndTheLine) {
    StartUp("[LineLabels]\nLine3=Packing\n[ComPortSettings]\nComPortC=6\n");
    const struct {
        std::int32_t Code;
        std::string Text;
    } cases[] = {
        {EBadId::Code,
         "COM 7 does not exist. Choose its device in Menu, Port Devices.\r\rPlease assign a "
         "different COM Port for Packing or set to Off."},
        {EAlreadyOpen::Code,
         "COM 7 is already open.\r\rPlease assign a different COM Port for Packing or set to Off."},
        {ENotOpenedByTapi::Code, "Unspecified error for COM 7."},
        {-1, "Unspecified error for COM 7."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Code);
        boxes.Boxes.clear();
        const int beeps = MessageBeepCount();
        Serial().ModalResult = QDialog::Accepted;
        Serial().ReportPortError(c.Code, 3);
        ASSERT_EQ(boxes.Boxes.size(), 1u);
        EXPECT_EQ(boxes.Boxes[0].Caption, "Error");
        EXPECT_EQ(boxes.Boxes[0].Icon, MessageIcon::Error);
        EXPECT_EQ(boxes.Boxes[0].Text, c.Text);
        EXPECT_EQ(MessageBeepCount(), beeps + 1);
        EXPECT_EQ(Serial().ModalResult, 0);
    }
}

TEST_F(SerialFormTest, OkWithAStartedLineSetToOffStopsAndGreysIt) {
    StartUp("[ComPortSettings]\nComPortB=1\n");
    StartLine(2, settings.Folder() + "two.txt");
    CompleteReportLine(2, "LOT 1");
    ASSERT_TRUE(Main().StartLineBtns[1]->isChecked());
    bool closed = false;
    ModalDriver driver([&](QWidget*) {
        Serial().Ports[1].ComPort->setCurrentIndex(16);
        QTest::mouseClick(Serial().OKBtn, Qt::LeftButton);
        closed = !Serial().isVisible();
    });
    EXPECT_EQ(Serial().exec(), QDialog::Accepted);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(Main().StartLineBtns[1]->isChecked());
    EXPECT_FALSE(Main().StartLineBtns[1]->isEnabled());
    EXPECT_EQ(Main().LineGroups[1]->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    EXPECT_TRUE(Main().LineWindows[1]->Text().isEmpty());
    EXPECT_TRUE(forms->LineForms[1]->LineWindow->Text().isEmpty());
    EXPECT_EQ(settings.Value("ComPortSettings", "ComPortB"), "16");
    EXPECT_EQ(settings.Value("ComPortSettings", "ComPort"), "0");
    EXPECT_EQ(settings.Value("ComPortSettings", "StopBitsH"), "0");
    EXPECT_FALSE(Serial().ComPorts[1]->Open());

    // Back on a port: the button is enabled again, but the line stays stopped.
    Serial().Ports[1].ComPort->setCurrentIndex(3);
    Serial().OKBtnClick();
    EXPECT_TRUE(Main().StartLineBtns[1]->isEnabled());
    EXPECT_FALSE(Main().StartLineBtns[1]->isChecked());
    EXPECT_EQ(Main().LineWindows[1]->Background(), QColor(0, 0, 128));
    EXPECT_EQ(Serial().ComPorts[1]->ComNumber(), 4);
}

TEST_F(SerialFormTest, OkKeepsStartedLinesThatStayOnCapturing) {
    StartUp("[ComPortSettings]\nComPortB=1\n");
    const std::string file = settings.Folder() + "two.txt";
    StartLine(2, file);
    Serial().OKBtnClick();
    EXPECT_TRUE(Main().StartLineBtns[1]->isChecked());
    CompleteReportLine(2, "after OK");
    EXPECT_EQ(FileText(file), "07-Dec-26,15:04:09,after OK\r\n");
}

TEST_F(SerialFormTest, OkWhoseSettingsCannotBeWrittenStillSetsUpThePortsAndStaysOpen) {
    StartUp();
    settings.MakeUnwritable();
    bool openAfterOk = false;
    bool lineFourOn = false;
    ModalDriver driver([&](QWidget*) {
        Serial().Ports[3].ComPort->setCurrentIndex(7);
        Serial().Ports[3].BaudRate->setCurrentIndex(4);
        QTest::mouseClick(Serial().OKBtn, Qt::LeftButton);
        openAfterOk = Serial().isVisible();
        lineFourOn = Main().StartLineBtns[3]->isEnabled();
        Serial().reject();
    });
    Serial().exec();
    EXPECT_TRUE(openAfterOk);
    EXPECT_TRUE(lineFourOn) << "the panels follow the lists all the same";
    EXPECT_EQ(Serial().ComPorts[3]->ComNumber(), 8);
    EXPECT_EQ(Serial().ComPorts[3]->Baud(), 19200);
    // Cancel afterwards shows what the ports use, not the file's older settings.
    EXPECT_EQ(Serial().Ports[3].ComPort->currentIndex(), 7);
    EXPECT_EQ(Serial().Ports[3].BaudRate->currentIndex(), 4);
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Caption, "Tolvane");
    EXPECT_EQ(boxes.Boxes[0].Text,
              "Unable to write to " + settings.UnwritablePath("Tolvane.ini") + ".");
    EXPECT_FALSE(driver.Stuck);
}

TEST_F(SerialFormTest, CancelPutsTheListsBackAndLeavesThePorts) {
    StartUp("[ComPortSettings]\nComPortB=1\nBaudRateB=2\n");
    bool cancelledClosed = false;
    ModalDriver driver([&](QWidget*) {
        Serial().Ports[1].ComPort->setCurrentIndex(9);
        Serial().Ports[1].BaudRate->setCurrentIndex(0);
        Serial().Ports[4].ComPort->setCurrentIndex(3);
        QTest::mouseClick(Serial().CancelBtn, Qt::LeftButton);
        cancelledClosed = !Serial().isVisible();
    });
    EXPECT_EQ(Serial().exec(), QDialog::Rejected);
    EXPECT_TRUE(cancelledClosed);
    EXPECT_EQ(Serial().Ports[1].ComPort->currentIndex(), 1);
    EXPECT_EQ(Serial().Ports[1].BaudRate->currentIndex(), 2);
    EXPECT_EQ(Serial().Ports[4].ComPort->currentIndex(), 16);
    EXPECT_EQ(Serial().ComPorts[1]->ComNumber(), 2);
    EXPECT_EQ(Serial().ComPorts[1]->Baud(), 4800);
    EXPECT_FALSE(settings.Exists() && settings.Value("ComPortSettings", "ComPortE") != "<missing>");
}

TEST_F(SerialFormTest, EscapeActsAsCancel) {
    StartUp();
    ModalDriver driver([&](QWidget*) {
        Serial().Ports[0].ComPort->setCurrentIndex(16);
        QTest::keyClick(&Serial(), Qt::Key_Escape);
    });
    EXPECT_EQ(Serial().exec(), QDialog::Rejected);
    EXPECT_EQ(Serial().Ports[0].ComPort->currentIndex(), 0);
    EXPECT_TRUE(Main().StartLineBtns[0]->isEnabled());
}

TEST_F(SerialFormTest, TwoLinesOnOnePortReportTheSecondAsAlreadyOpen) {
    StartUp("[LineLabels]\nLine4=Wrapping\n[ComPortSettings]\nComPortD=0\n");
    EXPECT_TRUE(Serial().ComPorts[0]->Open());
    EXPECT_FALSE(Serial().ComPorts[3]->Open());
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Caption, "Error");
    EXPECT_EQ(
        boxes.Boxes[0].Text,
        "COM 1 is already open.\r\rPlease assign a different COM Port for Wrapping or set to Off.");
    // The failed line still looks on and can be started; it receives nothing.
    EXPECT_TRUE(Main().StartLineBtns[3]->isEnabled());
}

TEST_F(SerialFormTest, EachLinesPortStateFollowsItsLatestSetUp) {
    StartUp("[ComPortSettings]\nComPortB=0\nComPortC=2\n");
    EXPECT_EQ(Line(1).PortStatus, PortState::Open);
    EXPECT_EQ(Line(2).PortStatus, PortState::Waiting) << "COM1 is line 1's until it is let go";
    EXPECT_EQ(Line(3).PortStatus, PortState::Open);
    EXPECT_EQ(Line(4).PortStatus, PortState::Closed);
    Serial().Ports[1].ComPort->setCurrentIndex(OffIndex);
    Serial().OKBtnClick();
    EXPECT_EQ(Line(1).PortStatus, PortState::Open);
    EXPECT_EQ(Line(2).PortStatus, PortState::Closed);
    EXPECT_EQ(Line(3).PortStatus, PortState::Open);
}

TEST_F(SerialFormTest, OkWithAMissingPortStaysOpenUntilTheLineIsSetOff) {
    StartUp();
    SetPortDevice(9, settings.Folder() + "no-such-device");
    int boxesAfterFirstOk = -1;
    bool openAfterFirstOk = false;
    ModalDriver driver([&](QWidget*) {
        Serial().Ports[2].ComPort->setCurrentIndex(8);
        QTest::mouseClick(Serial().OKBtn, Qt::LeftButton);
        boxesAfterFirstOk = static_cast<int>(boxes.Boxes.size());
        openAfterFirstOk = Serial().isVisible();
        Serial().Ports[2].ComPort->setCurrentIndex(16);
        QTest::mouseClick(Serial().OKBtn, Qt::LeftButton);
    });
    EXPECT_EQ(Serial().exec(), QDialog::Accepted);
    EXPECT_TRUE(openAfterFirstOk);
    EXPECT_EQ(boxesAfterFirstOk, 1);
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text,
              "COM 9 does not exist. Nothing is at " + settings.Folder() +
                  "no-such-device. Choose its device in Menu, Port Devices.\r\rPlease assign a "
                  "different COM Port for Line 3 or set to Off.");
    EXPECT_TRUE(Serial().ComPorts[0]->Open()) << "the other lines are set up all the same";
    EXPECT_FALSE(driver.Stuck);
    ClearPortDevice(9);
}

TEST_F(SerialFormTest, OkClosesAndReopensEveryPortThatIsOn) {
    StartUp("[ComPortSettings]\nComPortB=1\n");
    const std::uint16_t before = Line(2).Capture.LineTriggerHandle;
    ASSERT_NE(before, 0);
    ASSERT_TRUE(Serial().ComPorts[1]->Open());
    Serial().OKBtnClick();
    EXPECT_TRUE(Serial().ComPorts[0]->Open());
    EXPECT_TRUE(Serial().ComPorts[1]->Open());
    EXPECT_FALSE(Serial().ComPorts[2]->Open());
    EXPECT_NE(Line(2).Capture.LineTriggerHandle, 0);
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(SerialFormTest, PortFailureOfAnotherKindIsReportedAndTheLaterLinesAreStillSetUp) {
    // A driver that refuses the open with a system error, not a port error. (A folder named as
    // the device is no terminal, so it is a port that does not exist.)
    struct FailingDriver : TApdWin32Dispatcher {
        using TApdWin32Dispatcher::TApdWin32Dispatcher;
        HANDLE OpenDeviceHandle(const std::string&, DWORD, DWORD) override { return -1; }
        DWORD LastDeviceError() override { return ERROR_GEN_FAILURE; }
    };
    settings.Write("[ComPortSettings]\nComPortC=8\nComPortD=3\n");
    forms = std::make_unique<FormSet>();
    Serial().ComPorts[2]->SetDispatcherFactory(
        [](TApdCustomComPort& port) { return std::make_unique<FailingDriver>(&port); });
    Main().StartupTimerTimer();
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Caption, "Tolvane");
    EXPECT_FALSE(Serial().ComPorts[2]->Open());
    EXPECT_TRUE(Serial().ComPorts[3]->Open());
    EXPECT_TRUE(Main().StartLineBtns[3]->isEnabled()) << "the panels are refreshed all the same";

    bool openAfterOk = false;
    ModalDriver driver([&](QWidget*) {
        QTest::mouseClick(Serial().OKBtn, Qt::LeftButton);
        openAfterOk = Serial().isVisible();
        Serial().reject();
    });
    Serial().exec();
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ(boxes.Boxes.size(), 2u);
}
