#pragma once

#include "capture/production_line.h"
#include "serial/apd_base_dispatcher.h"
#include "ui/fixed_dialog.h"

#include <array>
#include <cstdint>
#include <string>

class FormSet;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;
class TApdComPort;
class TApdCustomComPort;

// A line's five lists in the port dialog.
struct PortLists {
    QComboBox* ComPort = nullptr;
    QComboBox* BaudRate = nullptr;
    QComboBox* Parity = nullptr;
    QComboBox* DataBits = nullptr;
    QComboBox* StopBits = nullptr;
};

// The port configuration dialog. Its lists write into the lines' port settings as they change;
// the settings act when the ports are set up. It owns the eight port components, one per line,
// whose data and characters-available triggers run the lines' capture on the ports' own threads.
class TSerialForm : public TFixedDialog {
    Q_OBJECT

public:
    explicit TSerialForm(FormSet& forms);
    ~TSerialForm() override;

    // Line N's objects at index N - 1.
    std::array<QGroupBox*, LineCount> ComPortGroups{};
    std::array<PortLists, LineCount> Ports{};
    std::array<TApdComPort*, LineCount> ComPorts{};
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    // Shows the lines' port settings in the lists.
    void ShowPortSettings();
    // Sets up the port of every line that is not "Off" from its settings and installs its LF
    // trigger; each line's port state follows, and the lines then report the set-up.
    void ApplyComPortSettings();
    // The error box for a failed set-up of a line; the dialog then stays open.
    void ReportPortError(std::int32_t errorCode, int line);
    // Ends every port's deliveries, then closes the ports: closing one port runs the others'
    // pending events, which must reach no handler once any window may be going.
    void StopDeliveries();
    // Sets the ports up again from the lines' settings and devices, closing only the ports that
    // need it; false when a box was shown.
    bool SetUpPortsAgain();
    void OKBtnClick();
    void CancelBtnClick();
    // Escape and the window manager's close act as Cancel.
    void reject() override;

    // Line N's port device went away: the port is closed at once, so that a returning USB
    // adapter gets its old name, and is tried again every second. The line stays started, with its
    // report file and the text pending at the loss.
    void ComPortDeviceLost(int line);
    // Sets up every waiting line's port again; one that opens captures as before.
    void RetryWaitingPorts();

    // The result the dialog closes with after OK; ReportPortError sets it back to none (0).
    int ModalResult = 0;
    QTimer* PortRetryTimer = nullptr;
    // Gathers the open ports' line errors into their lines every second.
    QTimer* LineNoiseTimer = nullptr;
    void GatherLineNoise();

private:
    void CreateLineGroup(int line);
    void CreatePort(int line);
    // Opens the line's closed port with its settings and LF trigger, or gives an open one the
    // settings it may keep while open.
    void SetUpPort(int line);
    // The line's port is open on the COM number its list names: nothing needs closing it.
    bool KeepsPort(int line) const;
    void ReleasePort(int line);
    void StartWaiting(int line, const std::string& what);
    void LoseDevice(int line);

    bool settingUp_ = false;                             // no retry runs inside a set-up
    std::array<std::string, LineCount> openedDevices_;   // each open port's device path
    std::array<LineErrorCounts, LineCount> noiseSeen_{}; // each open port's tally, as last added

    FormSet& forms_;
    ProductionLines& lines_;
};
