#pragma once

#include "capture/line_capture.h"
#include "settings/settings_groups.h"
#include "ui/fixed_dialog.h"

#include <array>
#include <cstdint>

class FormSet;
class QGroupBox;
class QLabel;
class QPushButton;
class TApdComPort;
class TApdCustomComPort;

// The port configuration dialog. It owns the eight port components, one per line, the capture
// state of the eight lines and the handlers through which the ports' events become report lines.
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
    CaptureLines Lines{};

    // Sets up the port of every line that is not "Off" from the lists and installs its LF trigger.
    void ApplyComPortSettings();
    // The error box for a failed set-up of a line; the dialog then stays open.
    void ReportPortError(std::int32_t errorCode, int line);
    void OKBtnClick();
    void CancelBtnClick();
    // Escape and the window manager's close act as Cancel.
    void reject() override;

    // The handlers of line N's port events; each reads its own line's port, whatever CP says.
    void ComPortTriggerAvail(int line, TApdCustomComPort& CP, std::uint16_t Count);
    void ComPortTriggerData(int line, TApdCustomComPort& CP, std::uint16_t TriggerHandle);

    // The line's COM port item index, 16 meaning "Off". A list without a selection counts as the
    // key's default: COM1 for line 1, "Off" for the others.
    int PortIndex(int line) const;

    // The result the dialog closes with after OK; ReportPortError sets it back to none (0).
    int ModalResult = 0;

private:
    void CreateLineGroup(int line);
    void CreatePort(int line);
    void SetUpPort(int line);

    FormSet& forms_;
};
