#pragma once

#include "capture/production_line.h"
#include "ui/fixed_dialog.h"

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;

// The date and time stamping dialog. Its controls write into the lines as they change: a check
// box acts on the line's next report line at once, before OK; a delimiter acts from OK (or
// Cancel) on, when the delimiter characters are recomputed.
class TStampingForm : public TFixedDialog {
    Q_OBJECT

public:
    explicit TStampingForm(ProductionLines& lines);

    // Line N's controls at index N - 1.
    std::array<QGroupBox*, LineCount> StampingGroups{};
    std::array<QCheckBox*, LineCount> DateStampBoxes{};
    std::array<QCheckBox*, LineCount> TimeStampBoxes{};
    std::array<QComboBox*, LineCount> DelimiterBoxes{};
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    // Shows the lines' stamping settings in the controls.
    void ShowStampingSettings();
    void OKBtnClick();
    void CancelBtnClick();
    // Escape and the window manager's close act as Cancel.
    void reject() override;

private:
    void CreateLineGroup(int line);

    ProductionLines& lines_;
};
