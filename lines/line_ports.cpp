#include "lines/line_ports.h"

#include "runtime/message_box.h"
#include "runtime/system_log.h"
#include "serial/apd_com_port.h"
#include "serial/apd_exceptions.h"
#include "serial/platform/port_inspection.h"
#include "serial/platform/port_map.h"

#include <QTime>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace {

constexpr int PortRetryMs = 1000;

// A device that is missing, held or not yet ours to open (its group or mode still to be set) is
// tried again until it opens: each can be mended without the program.
bool DeviceMayAppear(std::int32_t errorCode) {
    return errorCode == EBadId::Code || errorCode == EAlreadyOpen::Code ||
           errorCode == EPortAccessDenied::Code;
}

// "in use by tio (pid 812) since".
std::string UsedBy(const PortHolder& holder) {
    return "in use by " + holder.Command + " (pid " + std::to_string(holder.Pid) + ") since";
}

// Nothing may unwind into the event loop: what escapes a timer's work is reported.
template <class Work> void RunGuarded(Work&& work) noexcept {
    try {
        work();
    } catch (const std::exception& error) {
        ShowException(error);
    }
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

// The lines' settings as a set-up reads them: an unchosen item is the key's default.
PortSettings ChosenSettings(const ProductionLines& lines, int line) {
    PortSettings chosen;
    for (const PortSettingKind& kind : PortSettingKinds)
        chosen.*kind.Index = lines.PortChoice(line, kind);
    return chosen;
}

} // namespace

int PortSettingValue(std::size_t kind, int index) {
    static constexpr int Bauds[] = {1200, 2400, 4800, 9600, 19200};
    switch (kind) {
    case 0:
        return index + 1; // COM1 to COM16
    case 1:
        return Bauds[index];
    case 2:
        return index; // pNone, pOdd, pEven
    case 3:
        return 7 + index;
    default:
        return 1 + index;
    }
}

std::size_t LinePorts::DispatcherEndpoints::TakeChars(char* into, std::size_t count) {
    return dispatcher_ ? dispatcher_->GetChars(reinterpret_cast<BYTE*>(into), count) : 0;
}

void LinePorts::DispatcherEndpoints::AddToViews(const std::string& reportLine) {
    if (views_)
        views_->AddToViews(reportLine);
}

LinePorts::LinePorts(ProductionLines& lines) : lines_(lines) {
    for (int line = 1; line <= LineCount; ++line)
        CreatePort(line);

    PortRetryTimer = new QTimer(this);
    PortRetryTimer->setObjectName(QStringLiteral("PortRetryTimer"));
    PortRetryTimer->setInterval(PortRetryMs);
    connect(PortRetryTimer, &QTimer::timeout, this,
            [this] { RunGuarded([this] { RetryWaitingPorts(); }); });
    LineNoiseTimer = new QTimer(this);
    LineNoiseTimer->setObjectName(QStringLiteral("LineNoiseTimer"));
    LineNoiseTimer->setInterval(PortRetryMs);
    connect(LineNoiseTimer, &QTimer::timeout, this, [this] { GatherLineNoise(); });
    LineNoiseTimer->start();
}

LinePorts::~LinePorts() {
    StopDeliveries();
    for (TApdComPort*& port : ComPorts) {
        delete port;
        port = nullptr;
    }
}

void LinePorts::SetViews(int line, LineViews* views) {
    views_[static_cast<std::size_t>(line - 1)] = views;
}

void LinePorts::CreatePort(int line) {
    const auto i = static_cast<std::size_t>(line - 1);
    auto* port = new TApdComPort(this);
    port->setObjectName(line == 1 ? QStringLiteral("ComPort")
                                  : QStringLiteral("ComPort") + QChar(u'A' + line - 1));
    ApplyDesignValues(*port, line);
    port->SetOnDeviceLost([this, line](QObject&) { ComPortDeviceLost(line); });
    ComPorts[i] = port;
}

// A stop waits until every started line has been quiet at the end of a report line for a while
// longer than a busy port's pause between reads (the bytes its device holds are then in), or
// until its patience is out: a line that keeps sending is cut there.
void LinePorts::TakeInWhatCame(const std::array<bool, LineCount>& which) {
    using Clock = std::chrono::steady_clock;
    constexpr auto patience = std::chrono::milliseconds(400);
    constexpr auto quietFor = std::chrono::milliseconds(30);
    const Clock::time_point start = Clock::now();
    Clock::time_point quietSince = start;
    for (Clock::time_point now = start; now - start < patience; now = Clock::now()) {
        bool quiet = true;
        for (int line = 1; line <= LineCount; ++line) {
            TApdComPort* port = ComPorts[line - 1];
            TApdBaseDispatcher* dispatcher = port ? port->Dispatcher() : nullptr;
            if (!which[static_cast<std::size_t>(line - 1)] || dispatcher == nullptr ||
                !port->Open() || !lines_.Line(line).Started)
                continue;
            if (dispatcher->UnreadCount() > 0 || lines_.Line(line).Capture.MidLine)
                quiet = false;
        }
        if (!quiet)
            quietSince = now;
        else if (now - quietSince >= quietFor)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void LinePorts::StopDeliveries() {
    std::array<bool, LineCount> all{};
    all.fill(true);
    TakeInWhatCame(all);
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

void LinePorts::ComPortTrigger(int line, TApdBaseDispatcher* Dispatcher, UINT Msg,
                               std::uint16_t Value) {
    DispatcherEndpoints endpoints(Dispatcher, views_[static_cast<std::size_t>(line - 1)]);
    if (Msg == TriggerAvailMessage)
        HandleTriggerAvail(lines_.Line(line), endpoints, Value);
    else
        HandleTriggerData(lines_.Line(line), endpoints, Value);
}

bool LinePorts::ApplyComPortSettings() {
    const bool nested = settingUp_;
    settingUp_ = true;
    bool clean = true;
    for (int line = 1; line <= LineCount; ++line) {
        if (lines_.SwitchedOff(line))
            continue;
        const auto i = static_cast<std::size_t>(line - 1);
        ProductionLine& production = lines_.Line(line);
        production.PortNews.clear();
        // Whatever the outcome, these are the settings the port is retried with.
        inEffect_[i] = ChosenSettings(lines_, line);
        try {
            SetUpPort(line, inEffect_[i]);
            production.PortStatus = PortState::Open;
        } catch (const EAPDException& error) {
            production.PortStatus = PortState::Refused;
            const bool waits = DeviceMayAppear(error.ErrorCode);
            if (waits)
                StartWaiting(line, WaitingSince(line, error.ErrorCode));
            ReportPortError(error.ErrorCode, line);
            // The panel says that the line waits; without one, the log must.
            if (waits)
                SystemLog(LogLevel::Notice, production.Caption + ": " + production.PortNews);
            clean = false;
        } catch (const std::exception& error) {
            production.PortStatus = PortState::Refused;
            // A failure of another kind is one port's failure too: it is reported in the standard
            // error box and the remaining lines are still set up.
            ShowException(error);
            clean = false;
        }
    }
    settingUp_ = nested;
    emit lines_.PortsSetUp();
    return clean;
}

std::string LinePorts::WaitingSince(int line, std::int32_t errorCode) {
    if (errorCode == EAlreadyOpen::Code)
        return HeldSince(line);
    // A path that names something else (a file, a folder, another kind of device) is no missing
    // adapter: the operator must name another device.
    if (errorCode == EBadId::Code) {
        const PortInspection port =
            InspectPort(ComPorts[static_cast<std::size_t>(line - 1)]->ComNumber());
        return port.Exists && port.Driver.empty() ? "there but not a serial device, since"
                                                  : "missing since";
    }
    return "refused (permission denied) since";
}

std::string LinePorts::HeldSince(int line) {
    const auto i = static_cast<std::size_t>(line - 1);
    holders_[i] = 0;
    const int comNumber = ComPorts[i]->ComNumber();
    const std::string device = PortDevicePath(comNumber);
    for (int other = 1; other <= LineCount; ++other) {
        const TApdComPort* port = ComPorts[static_cast<std::size_t>(other - 1)];
        if (other != line && port->Open() && PortDevicePath(port->ComNumber()) == device)
            return "in use by " + lines_.Line(other).Caption + " since";
    }
    // Looked for once, when the port is refused: who else has it, if anyone. The lock's holder
    // first: a pty's provider also has it open, but is not what keeps it.
    if (const std::optional<PortHolder> locker = LockHolder(device);
        locker && locker->Pid != ::getpid()) {
        holders_[i] = locker->Pid;
        return UsedBy(*locker);
    }
    std::vector<PortInspection> ports{InspectPort(comNumber)};
    FindPortHolders(ports);
    const PortInspection& inspected = ports.front();
    for (const PortHolder& holder : inspected.Holders)
        if (holder.Pid != ::getpid()) {
            holders_[i] = holder.Pid;
            return UsedBy(holder);
        }
    if (!inspected.Holders.empty())
        return "in use by another line since";
    // A program killed while it had the port can leave the tty marked for exclusive use with
    // nobody holding it; only root may open it then, until the device is plugged in again.
    if (!inspected.Exists)
        return "in use since";
    return inspected.HoldersComplete
               ? "locked for exclusive use by a program that ended, since"
               : "in use by a program this user cannot see, or left locked by one that ended, "
                 "since";
}

void LinePorts::SetUpPort(int line, const PortSettings& settings) {
    const auto i = static_cast<std::size_t>(line - 1);
    const auto value = [&](std::size_t kind) {
        return PortSettingValue(kind, settings.*PortSettingKinds[kind].Index);
    };
    TApdComPort* port = ComPorts[i];
    // An open port is only ever kept on its own COM number (KeepsPort), so this never reopens
    // it; the character format goes to an open port without closing it.
    port->SetComNumber(static_cast<std::uint16_t>(value(0)));
    port->SetBaud(value(1));
    port->SetParity(static_cast<TParity>(value(2)));
    port->SetDataBits(static_cast<std::uint16_t>(value(3)));
    port->SetStopBits(static_cast<std::uint16_t>(value(4)));
    if (port->Open())
        return;
    // Adding the trigger opens the closed port with the settings just made.
    lines_.Line(line).Capture.LineTriggerHandle = port->AddDataTrigger(std::string(1, '\n'), false);
    // Only now that the trigger exists: every byte is scanned against it, also those that came
    // while the port opened.
    port->ServeTriggersOnPortThread(
        [this, line](TApdBaseDispatcher& dispatcher, UINT msg, std::uint16_t value) {
            ComPortTrigger(line, &dispatcher, msg, value);
        });
    openedDevices_[i] = PortDevicePath(port->ComNumber());
    noiseSeen_[i] = {};
}

void LinePorts::GatherLineNoise() {
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

bool LinePorts::KeepsPort(int line) const {
    const TApdComPort* port = ComPorts[line - 1];
    return !lines_.SwitchedOff(line) && lines_.Line(line).PortStatus == PortState::Open &&
           port->Open() &&
           port->ComNumber() == PortSettingValue(0, lines_.PortChoice(line, PortSettingKinds[0])) &&
           PortDevicePath(port->ComNumber()) == openedDevices_[static_cast<std::size_t>(line - 1)];
}

void LinePorts::ReleasePort(int line) {
    TApdComPort* port = ComPorts[line - 1];
    ProductionLine& production = lines_.Line(line);
    production.PortStatus = PortState::Closed;
    production.PortNews.clear();
    port->RemoveTrigger(production.Capture.LineTriggerHandle);
    port->SetOpen(false);
}

std::string LinePorts::WaitingNews(int line, const std::string& what) const {
    const auto i = static_cast<std::size_t>(line - 1);
    const int comNumber = ComPorts[i]->ComNumber();
    return "COM " + std::to_string(comNumber) + " (" + PortDevicePath(comNumber) + ") " + what +
           " " + waitingSince_[i] + ", waiting for it";
}

void LinePorts::StartWaiting(int line, const std::string& what) {
    ProductionLine& production = lines_.Line(line);
    production.PortStatus = PortState::Waiting;
    waitingSince_[static_cast<std::size_t>(line - 1)] =
        QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
    production.PortNews = WaitingNews(line, what);
    if (!PortRetryTimer->isActive())
        PortRetryTimer->start();
}

void LinePorts::ComPortDeviceLost(int line) {
    // Not inside the port's own message: its close waits for the threads, pumping messages.
    QTimer::singleShot(0, this, [this, line] { RunGuarded([this, line] { LoseDevice(line); }); });
}

void LinePorts::LoseDevice(int line) {
    if (lines_.Line(line).PortStatus != PortState::Open)
        return;
    try {
        ReleasePort(line);
    } catch (const std::exception&) {
        // A device that is gone cannot refuse anything that matters: the port is closed.
    }
    StartWaiting(line, "lost at");
    SystemLog(LogLevel::Warning, lines_.Line(line).Caption + ": " + lines_.Line(line).PortNews);
    emit lines_.PortChanged(line);
}

void LinePorts::RetryWaitingPorts() {
    // Opening a port may pump events, among them this timer's next tick. A dialog's unconfirmed
    // edits do not matter: a retry takes the settings of the port's last set-up.
    if (settingUp_)
        return;
    settingUp_ = true;
    bool waiting = false;
    for (int line = 1; line <= LineCount; ++line) {
        ProductionLine& production = lines_.Line(line);
        if (production.PortStatus != PortState::Waiting)
            continue;
        try {
            SetUpPort(line, inEffect_[static_cast<std::size_t>(line - 1)]);
        } catch (const EAPDException& error) {
            waiting = true; // still missing or held; the box was shown when it first failed
            // The program named as its holder may have ended and another taken it: the panel
            // names the one that holds it now. Looked into only then, not at every retry.
            const int holder = holders_[static_cast<std::size_t>(line - 1)];
            if (error.ErrorCode == EAlreadyOpen::Code && holder > 0 && ::kill(holder, 0) != 0 &&
                errno == ESRCH) {
                const std::string news = WaitingNews(line, HeldSince(line));
                if (news != production.PortNews) {
                    production.PortNews = news;
                    SystemLog(LogLevel::Notice, production.Caption + ": " + news);
                    emit lines_.PortChanged(line);
                }
            }
            continue;
        } catch (const std::exception&) {
            waiting = true;
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

void LinePorts::ReportPortError(std::int32_t errorCode, int line) {
    const std::string n = std::to_string(ComPorts[line - 1]->ComNumber());
    const std::string& c = lines_.Line(line).Caption;
    MessageBeep();
    const std::string advice =
        "\r\rPlease assign a different COM Port for " + c + " or set to Off.";
    const std::string device = PortDevicePath(ComPorts[line - 1]->ComNumber());
    std::string text;
    if (errorCode == EBadId::Code) {
        // What is at the path tells a missing adapter from a name that is no serial device.
        const PortInspection port = InspectPort(ComPorts[line - 1]->ComNumber());
        const bool serial = port.Exists && !port.Driver.empty();
        const std::string key = "COM" + n + "= under [PortDevices] in the settings file.";
        text = "COM " + n + " does not exist. " +
               (!port.Exists ? "Nothing is at " + device + ". "
                : !serial    ? device + " is there, but is not a serial device. "
                             : std::string());
        if (!WithoutWindow)
            text += "Choose its device in Menu, Port Devices.";
        else if (port.Device.Source != PortDeviceSource::Settings)
            text += "Name its device as " + key;
        else
            text += (port.Exists ? "Name another device as "
                                 : "Plug it in, or name another device as ") +
                    key;
        text += advice;
    } else if (errorCode == EAlreadyOpen::Code) {
        text = "COM " + n + " is already open." + advice;
    } else if (errorCode == EPortAccessDenied::Code) {
        text = "COM " + n + " cannot be opened: permission denied for its device " + device +
               ".\r\rAdd the user to the dialout group, or choose another COM Port for " + c + ".";
    } else {
        text = "Unspecified error for COM " + n + ".";
    }
    ShowMessageBox({"Error", text, MessageIcon::Error});
}

bool LinePorts::SetUpPortsAgain() {
    const bool nested = settingUp_;
    settingUp_ = true;
    // Only a port that moves to another COM number or device, or whose line is switched off, is
    // closed, and all of those before any opens, so that lines may swap ports. A port that stays
    // keeps its LF trigger and every byte it holds: a report line is never split by a reopen.
    // What a started line's port has read by now, and a report line it is in the middle of, are
    // its to write first.
    std::array<bool, LineCount> closing{};
    for (int line = 1; line <= LineCount; ++line)
        closing[static_cast<std::size_t>(line - 1)] = !KeepsPort(line);
    TakeInWhatCame(closing);
    for (int line = 1; line <= LineCount; ++line) {
        if (closing[static_cast<std::size_t>(line - 1)])
            ReleasePort(line);
    }
    // The set-up ends with the lines reporting it, on which the main window's panels follow.
    const bool clean = ApplyComPortSettings();
    settingUp_ = nested;
    return clean;
}
