#pragma once

#include "capture/line_capture.h"
#include "capture/production_line.h"
#include "serial/apd_base_dispatcher.h"

#include <QObject>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class QTimer;
class TApdComPort;
class TApdCustomComPort;

// What item `index` of port setting `kind` (in PortSettingKinds' order) stands for: the COM
// number, the baud rate, the TParity, the data bits or the stop bits.
int PortSettingValue(std::size_t kind, int index);

// The eight port components, one per line, and what keeps them going: their set-up from the
// lines' port settings, the once-a-second retry of ports that wait for their device, the loss of a
// device, and the line noise gathered into the lines. No widget: the window and the headless
// program share it. Errors reach the user through the message box presenter.
class LinePorts : public QObject {
    Q_OBJECT

public:
    explicit LinePorts(ProductionLines& lines);
    ~LinePorts() override;

    // Line N's port at index N - 1.
    std::array<TApdComPort*, LineCount> ComPorts{};
    // The headless program's boxes point at the settings file, not at a menu.
    bool WithoutWindow = false;

    // Where line N's report lines are shown besides their file; none by default. AddToViews runs
    // on the port's own threads. Set before the ports open; the views outlive the deliveries.
    void SetViews(int line, LineViews* views);

    // Sets up the port of every line that is not "Off" from its settings and installs its LF
    // trigger; each line's port state follows, and the lines then report the set-up. Those
    // settings stay in effect for the port's retries. False when an error box was shown.
    bool ApplyComPortSettings();
    // Sets the ports up again from the lines' settings and devices, closing only the ports that
    // need it; false when a box was shown.
    bool SetUpPortsAgain();
    // Ends every port's deliveries, then closes the ports: closing one port runs the others'
    // pending events, which must reach no handler once any window may be going. First, what
    // the ports have received is taken in, and a report line that is arriving may end.
    void StopDeliveries();
    // The error box for a failed set-up of a line.
    void ReportPortError(std::int32_t errorCode, int line);

    // Line N's capture of its port's characters-available (TriggerAvailMessage, the count) and
    // data triggers (TriggerDataMessage, the handle), run on the port's own threads: the
    // report line is completed, stamped and handed to its writer there, never waiting for the GUI
    // thread. The bytes come from the dispatcher; without one none are taken.
    void ComPortTrigger(int line, TApdBaseDispatcher* Dispatcher, UINT Msg, std::uint16_t Value);

    // Line N's port device went away: the port is closed at once, so that a returning USB
    // adapter gets its old name, and is tried again every second. The line stays started, with its
    // report file and the text pending at the loss.
    void ComPortDeviceLost(int line);
    // Sets up every waiting line's port again with the settings of its last set-up, whatever a
    // dialog holds unconfirmed; one that opens captures as before.
    void RetryWaitingPorts();
    // Gathers the open ports' line errors into their lines.
    void GatherLineNoise();

    QTimer* PortRetryTimer = nullptr;
    // Runs GatherLineNoise every second.
    QTimer* LineNoiseTimer = nullptr;

private:
    // Waits, 400 ms at most, until the started lines among `which` have been quiet at the end of
    // a report line, so that what their ports have read reaches their files before they close.
    void TakeInWhatCame(const std::array<bool, LineCount>& which);

    // The bytes of a port's dispatcher, the report lines to the line's views.
    class DispatcherEndpoints : public LineEndpoints {
    public:
        DispatcherEndpoints(TApdBaseDispatcher* dispatcher, LineViews* views)
            : dispatcher_(dispatcher), views_(views) {}
        std::size_t TakeChars(char* into, std::size_t count) override;
        void AddToViews(const std::string& reportLine) override;

    private:
        TApdBaseDispatcher* dispatcher_;
        LineViews* views_;
    };

    void CreatePort(int line);
    // Opens the line's closed port with these settings and its LF trigger, or gives an open one
    // the settings it may keep while open.
    void SetUpPort(int line, const PortSettings& settings);
    // What line N's port that would not open waits for: "missing since", "in use by Press 2
    // since", "in use by tio (pid 812) since" ...
    std::string WaitingSince(int line, std::int32_t errorCode);
    // The holder part of it, for a port that is in use; the holder's pid is kept in holders_.
    std::string HeldSince(int line);
    // "COM 3 (/dev/ttyUSB0) lost at 14:02:11, waiting for it", at the time the line began to wait.
    std::string WaitingNews(int line, const std::string& what) const;
    // The line's port is open on the COM number its settings name: nothing needs closing it.
    bool KeepsPort(int line) const;
    void ReleasePort(int line);
    // Line N waits for its port from now on, retried every second; `what` it waits for ("lost
    // at", "missing since" ...) and the time make its news.
    void StartWaiting(int line, const std::string& what);
    void LoseDevice(int line);

    ProductionLines& lines_;
    bool settingUp_ = false;                             // no retry runs inside a set-up
    std::array<std::string, LineCount> waitingSince_{};  // when each waiting line began to wait
    std::array<int, LineCount> holders_{};               // the process named as holding it, or 0
    std::array<PortSettings, LineCount> inEffect_{};     // each line's settings at its last set-up
    std::array<std::string, LineCount> openedDevices_;   // each open port's device path
    std::array<LineErrorCounts, LineCount> noiseSeen_{}; // each open port's tally, as last added
    std::array<LineViews*, LineCount> views_{};
};
