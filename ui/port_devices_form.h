#pragma once

#include "settings/settings_groups.h"
#include "ui/fixed_dialog.h"

#include <QBasicTimer>
#include <array>
#include <string>

class FormSet;
class QComboBox;
class QLabel;
class QPushButton;

// The dialog that names the Linux device of each of COM1 to COM16: per port a list of the serial
// devices found, in which a path may also be typed, and a mark telling whether that device is
// there now. OK stores the devices and sets the ports up again as the COM Ports dialog's OK does.
class TPortDevicesForm : public TFixedDialog {
    Q_OBJECT

public:
    explicit TPortDevicesForm(FormSet& forms);

    // COM n's controls at index n - 1.
    std::array<QComboBox*, PortDeviceCount> DeviceBoxes{};
    std::array<QLabel*, PortDeviceCount> DeviceMarks{};
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    // Lists the devices found now and shows the settings file's device of each port.
    void ShowPortDevices();
    // COM n's device as it would be stored: the path in its field, blanks trimmed; empty for the
    // default device.
    std::string Device(int n) const;
    void OKBtnClick();
    void CancelBtnClick();
    // Escape and the window manager's close act as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void CreateRow(int n);
    void ShowMark(int n);

    FormSet& forms_;
    // While shown, the marks follow devices that come and go.
    QBasicTimer marksTimer_;
};
