#pragma once

#include "capture/line_capture.h"
#include "ui/fixed_dialog.h"

#include <array>

class FormSet;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;

// The date and time stamping dialog. Its check boxes are the live stamping state: capture reads
// them for every report line, so a change acts at once, before OK.
class TStampingForm : public TFixedDialog {
    Q_OBJECT

public:
    explicit TStampingForm(FormSet& forms);

    // Line N's controls at index N - 1.
    std::array<QGroupBox*, LineCount> StampingGroups{};
    std::array<QCheckBox*, LineCount> DateStampBoxes{};
    std::array<QCheckBox*, LineCount> TimeStampBoxes{};
    std::array<QComboBox*, LineCount> DelimiterBoxes{};
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    void OKBtnClick();
    void CancelBtnClick();
    // Escape and the window manager's close act as Cancel.
    void reject() override;

private:
    void CreateLineGroup(int line);

    FormSet& forms_;
};
