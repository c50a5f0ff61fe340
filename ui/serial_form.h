#pragma once

#include "capture/production_line.h"
#include "ui/fixed_dialog.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

class FormSet;
class LinePorts;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class TApdComPort;

// A line's five lists in the port dialog.
struct PortLists {
    QComboBox* ComPort = nullptr;
    QComboBox* BaudRate = nullptr;
    QComboBox* Parity = nullptr;
    QComboBox* DataBits = nullptr;
    QComboBox* StopBits = nullptr;
};

// The port configuration dialog. Its lists write into the lines' port settings as they change;
// the settings act when the ports are set up, by the lines' ports, on OK.
class TSerialForm : public TFixedDialog {
    Q_OBJECT

public:
    explicit TSerialForm(FormSet& forms);
    ~TSerialForm() override;

    // Line N's objects at index N - 1.
    std::array<QGroupBox*, LineCount> ComPortGroups{};
    std::array<PortLists, LineCount> Ports{};
    // The lines' port components, which the lines' ports own.
    std::array<TApdComPort*, LineCount>& ComPorts;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    // Shows the lines' port settings in the lists.
    void ShowPortSettings();
    // Sets up the ports from the lines' settings; a box shown leaves the dialog open.
    void ApplyComPortSettings();
    // The error box for a failed set-up of a line; the dialog then stays open.
    void ReportPortError(std::int32_t errorCode, int line);
    // Sets the ports up again from the lines' settings and devices, closing only the ports that
    // need it; false when a box was shown.
    bool SetUpPortsAgain();
    void OKBtnClick();
    void CancelBtnClick();
    // Escape and the window manager's close act as Cancel.
    void reject() override;

    // The result the dialog closes with after OK; a box shown sets it back to none (0).
    int ModalResult = 0;

private:
    void CreateLineGroup(int line);

    ProductionLines& lines_;
    LinePorts& ports_;
    // The settings the ports were set up from at an OK whose settings file could not take them:
    // Cancel then goes back to these, which the ports use, not to the file's.
    std::optional<std::array<PortSettings, LineCount>> unsaved_;
};
