#include "ui/serial_form.h"

#include "runtime/ansi_text.h"
#include "runtime/message_box.h"
#include "runtime/system_log.h"
#include "serial/apd_com_port.h"
#include "serial/apd_exceptions.h"
#include "serial/platform/port_map.h"
#include "settings/profile.h"
#include "settings/settings_groups.h"
#include "ui/design_fonts.h"
#include "ui/form_line_endpoints.h"
#include "ui/form_set.h"
#include "ui/handler_guard.h"
#include "ui/line_letter.h"
#include "ui/main_form.h"
#include "ui/port_item_tips.h"
#include "ui/report_view.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <optional>

namespace {

// One of the five lists of a line's group, with its label, items, hint and place in the group.
struct ListDesign {
    const char* Name;
    const char* Label;
    std::vector<const char*> Items;
    const char* Hint;
    QRect LabelPlace;
    QRect ListPlace;
    QComboBox* PortLists::*List;
};

// In the order of PortSettingKinds.
const std::vector<ListDesign>& ListDesigns() {
    static const std::vector<ListDesign> designs = {
        {"ComPort",
         "COM Port",
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16",
          "Off"},
         "Click to change COM Port",
         {12, 31, 72, 16},
         {92, 28, 81, 22},
         &PortLists::ComPort},
        {"BaudRate",
         "Baud Rate",
         {"1200", "2400", "4800", "9600", "19200"},
         "Click to change baud rate",
         {12, 71, 72, 16},
         {92, 68, 81, 22},
         &PortLists::BaudRate},
        {"Parity",
         "Parity",
         {"none", "odd", "even"},
         "Click to change parity",
         {12, 111, 72, 16},
         {92, 108, 81, 22},
         &PortLists::Parity},
        {"DataBits",
         "Data Bits",
         {"7", "8"},
         "Click to change data bits",
         {188, 71, 72, 16},
         {268, 68, 81, 22},
         &PortLists::DataBits},
        {"StopBits",
         "Stop Bits",
         {"1", "2"},
         "Click to change stop bits",
         {188, 111, 72, 16},
         {268, 108, 81, 22},
         &PortLists::StopBits},
    };
    return designs;
}

constexpr int GroupWidth = 369;
constexpr int GroupHeight = 153;
constexpr int GroupLeft[2] = {16, 400};
constexpr int GroupTop[4] = {16, 177, 338, 499};
constexpr int VisiblePortItems = 9;
constexpr int PortRetryMs = 1000;

// A port whose device is missing or held by another program is tried again until it opens.
bool DeviceMayAppear(std::int32_t errorCode) {
    return errorCode == EBadId::Code || errorCode == EAlreadyOpen::Code;
}

// "COM 3 (/dev/ttyUSB0) lost at 14:02:11, waiting for it".
std::string WaitingNews(int comNumber, const char* what) {
    return "COM " + std::to_string(comNumber) + " (" + PortDevicePath(comNumber) + ") " + what +
           " " + QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString() +
           ", waiting for it";
}

// The integer value of the item's text ("9600" -> 9600).
int ItemValue(const QComboBox* list, int index) {
    return list->itemText(index).toInt();
}

// The design values a port component is created with, applied as while loading.
template <class Port> void ApplyDesignValues(Port& port, int line) {
    port.SetLoading(true);
    port.SetComNumber(line == 1 || line == 5 ? 1 : 0);
    port.SetBaud(9600);
    port.SetInSize(1024);
    port.SetOutSize(1024);
    if constexpr (requires { port.Loaded(); })
        port.Loaded();
    else
        port.SetLoading(false);
}

} // namespace

TSerialForm::TSerialForm(FormSet& forms)
    : TFixedDialog(QStringLiteral("TSerialForm"), QStringLiteral("Configure COM Ports"),
                   QSize(785, 701), false),
      forms_(forms), lines_(forms.Lines) {
    for (int line = 1; line <= LineCount; ++line)
        CreateLineGroup(line);

    AddOkCancelButtons(
        OKBtn, CancelBtn, QPoint(305, 664), QPoint(405, 664),
        QStringLiteral("Click to accept changes"), QStringLiteral("Click to discard changes"),
        [this] { OKBtnClick(); }, [this] { CancelBtnClick(); });

    for (int line = 1; line <= LineCount; ++line)
        CreatePort(line);

    PortRetryTimer = new QTimer(this);
    PortRetryTimer->setObjectName(QStringLiteral("PortRetryTimer"));
    PortRetryTimer->setInterval(PortRetryMs);
    connect(PortRetryTimer, &QTimer::timeout, this,
            [this] { RunHandler([this] { RetryWaitingPorts(); }); });
    LineNoiseTimer = new QTimer(this);
    LineNoiseTimer->setObjectName(QStringLiteral("LineNoiseTimer"));
    LineNoiseTimer->setInterval(PortRetryMs);
    connect(LineNoiseTimer, &QTimer::timeout, this, [this] { GatherLineNoise(); });
    LineNoiseTimer->start();

    connect(&lines_, &ProductionLines::CaptionChanged, this, [this](int line) {
        ComPortGroups[line - 1]->setTitle(AnsiToQString(lines_.Line(line).Caption));
    });
    KeepPortItemTipsCurrent(this);
}

TSerialForm::~TSerialForm() {
    StopDeliveries();
    for (TApdComPort*& port : ComPorts) {
        delete port;
        port = nullptr;
    }
}

void TSerialForm::StopDeliveries() {
    PortRetryTimer->stop();
    LineNoiseTimer->stop();
    for (TApdComPort* port : ComPorts) {
        port->ServeTriggersOnPortThread({});
        port->SetOnDeviceLost({});
    }
    for (int line = 1; line <= LineCount; ++line) {
        ComPorts[line - 1]->SetOpen(false);
        lines_.Line(line).PortStatus = PortState::Closed;
    }
}

void TSerialForm::CreateLineGroup(int line) {
    const int i = line - 1;
    const QString letter = LineLetter(line);
    auto* group = new QGroupBox(QStringLiteral("Line %1").arg(line), this);
    group->setObjectName(QStringLiteral("ComPort%1Group").arg(letter));
    group->setGeometry(GroupLeft[i % 2], GroupTop[i / 2], GroupWidth, GroupHeight);
    group->setFont(DesignFont(true));
    ComPortGroups[i] = group;

    const auto& designs = ListDesigns();
    for (std::size_t k = 0; k < designs.size(); ++k) {
        const ListDesign& design = designs[k];
        const QString name = QString::fromLatin1(design.Name) + letter;
        auto* label = new QLabel(QString::fromLatin1(design.Label), group);
        label->setObjectName(name + QStringLiteral("Label"));
        label->setFont(DesignFont());
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setGeometry(design.LabelPlace);

        auto* list = new QComboBox(group);
        list->setObjectName(name + QStringLiteral("ComboBox"));
        list->setFont(DesignFont());
        list->setGeometry(design.ListPlace);
        for (const char* item : design.Items)
            list->addItem(QString::fromLatin1(item));
        list->setToolTip(QString::fromLatin1(design.Hint));
        label->setBuddy(list);
        Ports[i].*design.List = list;
        const PortSettingKind& kind = PortSettingKinds[k];
        Q_ASSERT(static_cast<int>(design.Items.size()) == kind.Choices);
        connect(list, &QComboBox::currentIndexChanged, this,
                [this, line, &kind](int index) { lines_.Line(line).Port.*kind.Index = index; });
    }
    Ports[i].ComPort->setMaxVisibleItems(VisiblePortItems);
}

void TSerialForm::CreatePort(int line) {
    const int i = line - 1;
    auto* port = new TApdComPort(this);
    port->setObjectName(QStringLiteral("ComPort") + LineLetter(line));
    ApplyDesignValues(*port, line);
    port->SetOnDeviceLost([this, line](QObject&) { ComPortDeviceLost(line); });
    ComPorts[i] = port;
}

void TSerialForm::ShowPortSettings() {
    const auto& designs = ListDesigns();
    for (int line = 1; line <= LineCount; ++line) {
        for (std::size_t k = 0; k < designs.size(); ++k)
            (Ports[line - 1].*designs[k].List)
                ->setCurrentIndex(lines_.Line(line).Port.*PortSettingKinds[k].Index);
    }
}

void TSerialForm::ApplyComPortSettings() {
    const bool nested = settingUp_;
    settingUp_ = true;
    for (int line = 1; line <= LineCount; ++line) {
        if (lines_.SwitchedOff(line))
            continue;
        ProductionLine& production = lines_.Line(line);
        production.PortNews.clear();
        try {
            SetUpPort(line);
            production.PortStatus = PortState::Open;
        } catch (const EAPDException& error) {
            production.PortStatus = PortState::Refused;
            if (DeviceMayAppear(error.ErrorCode))
                StartWaiting(line, WaitingNews(ComPorts[line - 1]->ComNumber(),
                                               error.ErrorCode == EBadId::Code ? "missing since"
                                                                               : "in use since"));
            ReportPortError(error.ErrorCode, line);
        } catch (const std::exception& error) {
            production.PortStatus = PortState::Refused;
            // A failure of another kind is one port's failure too: it is reported in the standard
            // error box and the remaining lines are still set up.
            ShowException(error);
            ModalResult = 0;
        }
    }
    settingUp_ = nested;
    emit lines_.PortsSetUp();
}

void TSerialForm::SetUpPort(int line) {
    const int i = line - 1;
    const auto choice = [&](std::size_t kind) {
        return lines_.PortChoice(line, PortSettingKinds[kind]);
    };
    const auto value = [&](std::size_t kind) {
        return ItemValue(Ports[i].*ListDesigns()[kind].List, choice(kind));
    };
    constexpr TParity Parities[] = {pNone, pOdd, pEven};
    TApdComPort* port = ComPorts[i];
    // An open port is only ever kept on its own COM number (KeepsPort), so this never reopens
    // it; the character format goes to an open port without closing it.
    port->SetComNumber(static_cast<std::uint16_t>(value(0)));
    port->SetBaud(value(1));
    port->SetParity(Parities[choice(2)]);
    port->SetDataBits(static_cast<std::uint16_t>(value(3)));
    port->SetStopBits(static_cast<std::uint16_t>(value(4)));
    if (port->Open())
        return;
    // Adding the trigger opens the closed port with the settings just made.
    lines_.Line(line).Capture.LineTriggerHandle = port->AddDataTrigger(std::string(1, '\n'), false);
    // Only now that the trigger exists: every byte is scanned against it, also those that came
    // while the port opened.
    port->ServeTriggersOnPortThread(LineCaptureOnPortThread(
        lines_.Line(line),
        forms_.MainForm->LineWindows[static_cast<std::size_t>(i)]->SharedStore()));
    openedDevices_[static_cast<std::size_t>(i)] = PortDevicePath(port->ComNumber());
    noiseSeen_[static_cast<std::size_t>(i)] = {};
}

void TSerialForm::GatherLineNoise() {
    for (int line = 1; line <= LineCount; ++line) {
        const auto i = static_cast<std::size_t>(line - 1);
        const LineErrorCounts now = ComPorts[i]->LineErrorTally();
        LineErrorCounts& seen = noiseSeen_[i];
        // A tally below the last one belongs to a port opened since.
        if (now.Framing < seen.Framing || now.Parity < seen.Parity || now.Overrun < seen.Overrun ||
            now.Breaks < seen.Breaks)
            seen = {};
        if (now == seen)
            continue;
        LineNoise& noise = lines_.Line(line).Noise;
        noise.Framing += now.Framing - seen.Framing;
        noise.Parity += now.Parity - seen.Parity;
        noise.Overrun += now.Overrun - seen.Overrun;
        noise.Breaks += now.Breaks - seen.Breaks;
        seen = now;
        emit lines_.PortChanged(line);
    }
}

bool TSerialForm::KeepsPort(int line) const {
    const TApdComPort* port = ComPorts[line - 1];
    return !lines_.SwitchedOff(line) && lines_.Line(line).PortStatus == PortState::Open &&
           port->Open() &&
           port->ComNumber() ==
               ItemValue(Ports[line - 1].ComPort, lines_.PortChoice(line, PortSettingKinds[0])) &&
           PortDevicePath(port->ComNumber()) == openedDevices_[static_cast<std::size_t>(line - 1)];
}

void TSerialForm::ReleasePort(int line) {
    TApdComPort* port = ComPorts[line - 1];
    ProductionLine& production = lines_.Line(line);
    production.PortStatus = PortState::Closed;
    production.PortNews.clear();
    port->RemoveTrigger(production.Capture.LineTriggerHandle);
    port->SetOpen(false);
}

void TSerialForm::StartWaiting(int line, const std::string& what) {
    ProductionLine& production = lines_.Line(line);
    production.PortStatus = PortState::Waiting;
    production.PortNews = what;
    if (!PortRetryTimer->isActive())
        PortRetryTimer->start();
}

void TSerialForm::ComPortDeviceLost(int line) {
    // Not inside the port's own message: its close waits for the threads, pumping messages.
    QTimer::singleShot(0, this, [this, line] { RunHandler([this, line] { LoseDevice(line); }); });
}

void TSerialForm::LoseDevice(int line) {
    if (lines_.Line(line).PortStatus != PortState::Open)
        return;
    const int comNumber = ComPorts[line - 1]->ComNumber();
    try {
        ReleasePort(line);
    } catch (const std::exception&) {
        // A device that is gone cannot refuse anything that matters: the port is closed.
    }
    StartWaiting(line, WaitingNews(comNumber, "lost at"));
    SystemLog(LogLevel::Warning, lines_.Line(line).Caption + ": " + lines_.Line(line).PortNews);
    emit lines_.PortChanged(line);
}

void TSerialForm::RetryWaitingPorts() {
    // Opening a port may pump events, among them this timer's next tick. While the dialog is
    // open its lists hold edits not yet confirmed, which no port may be opened with.
    if (settingUp_ || isVisible())
        return;
    settingUp_ = true;
    bool waiting = false;
    for (int line = 1; line <= LineCount; ++line) {
        ProductionLine& production = lines_.Line(line);
        if (production.PortStatus != PortState::Waiting)
            continue;
        try {
            SetUpPort(line);
        } catch (const std::exception&) {
            waiting = true; // still missing or held; the box was shown when it first failed
            continue;
        }
        production.PortStatus = PortState::Open;
        production.PortNews.clear();
        const int comNumber = ComPorts[line - 1]->ComNumber();
        SystemLog(LogLevel::Notice, production.Caption + ": COM " + std::to_string(comNumber) +
                                        " (" + PortDevicePath(comNumber) + ") is back");
        emit lines_.PortChanged(line);
    }
    settingUp_ = false;
    if (!waiting)
        PortRetryTimer->stop();
}

void TSerialForm::ReportPortError(std::int32_t errorCode, int line) {
    const std::string n = std::to_string(ComPorts[line - 1]->ComNumber());
    const std::string c = QStringToAnsi(ComPortGroups[line - 1]->title());
    MessageBeep();
    const std::string advice =
        "\r\rPlease assign a different COM Port for " + c + " or set to Off.";
    std::string text;
    if (errorCode == EBadId::Code)
        text = "COM " + n + " does not exist. Choose its device in Menu, Port Devices." + advice;
    else if (errorCode == EAlreadyOpen::Code)
        text = "COM " + n + " is already open." + advice;
    else if (errorCode == EPortAccessDenied::Code)
        text = "COM " + n +
               " cannot be opened: permission denied.\r\rAdd the user to the dialout "
               "group, or choose another COM Port for " +
               c + ".";
    else
        text = "Unspecified error for COM " + n + ".";
    ShowMessageBox({"Error", text, MessageIcon::Error});
    ModalResult = 0;
}

bool TSerialForm::SetUpPortsAgain() {
    ModalResult = QDialog::Accepted;
    settingUp_ = true;
    // Only a port that moves to another COM number or device, or whose line is switched off, is
    // closed, and all of those before any opens, so that lines may swap ports. A port that stays
    // keeps its LF trigger and every byte it holds: a report line is never split by a reopen.
    for (int line = 1; line <= LineCount; ++line) {
        if (!KeepsPort(line))
            ReleasePort(line);
    }
    // The set-up ends with the lines reporting it, on which the main window's panels follow.
    ApplyComPortSettings();
    settingUp_ = false;
    return ModalResult != 0;
}

void TSerialForm::OKBtnClick() {
    // Written while every port still reads: however long the settings file takes, no byte waits.
    // A file that cannot be written is reported once the ports are set up from the lists.
    std::optional<EIniFileException> writeFailure;
    try {
        SaveComPortSettings(lines_);
    } catch (const EIniFileException& error) {
        writeFailure = error;
    }
    SetUpPortsAgain();
    if (writeFailure) {
        ShowException(*writeFailure);
        ModalResult = 0;
    }
    if (ModalResult != 0)
        done(ModalResult);
}

void TSerialForm::CancelBtnClick() {
    LoadComPortSettings(lines_);
    ShowPortSettings();
    QDialog::reject();
}

void TSerialForm::reject() {
    // Escape and the window manager's close act as Cancel, so the lists never keep unsaved edits.
    RunHandler([this] { CancelBtnClick(); });
}
