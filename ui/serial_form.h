#pragma once

#include "capture/production_line.h"
#include "ui/fixed_dialog.h"

#include <array>
#include <cstdint>

class FormSet;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
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
// and the handlers through which the ports' events become report lines.
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
    void OKBtnClick();
    void CancelBtnClick();
    // Escape and the window manager's close act as Cancel.
    void reject() override;

    // The handlers of line N's port events; each reads its own line's port, whatever CP says.
    void ComPortTriggerAvail(int line, TApdCustomComPort& CP, std::uint16_t Count);
    void ComPortTriggerData(int line, TApdCustomComPort& CP, std::uint16_t TriggerHandle);

    // The result the dialog closes with after OK; ReportPortError sets it back to none (0).
    int ModalResult = 0;

private:
    void CreateLineGroup(int line);
    void CreatePort(int line);
    void SetUpPort(int line);

    FormSet& forms_;
    ProductionLines& lines_;
};
