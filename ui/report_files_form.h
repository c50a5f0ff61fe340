#pragma once

#include "capture/production_line.h"
#include "ui/fixed_dialog.h"

#include <array>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimeEdit;

// The Report Files dialog: per line, whether it starts a new report file each day and after how
// many minutes without a report line it counts as silent; and the time at which each day's files
// begin. The lines take the settings at OK, once they are stored.
class TReportFilesForm : public TFixedDialog {
    Q_OBJECT

public:
    explicit TReportFilesForm(ProductionLines& lines);

    // Line N's controls at index N - 1.
    std::array<QLabel*, LineCount> LineLabels{};
    std::array<QCheckBox*, LineCount> NewFileEachDayBoxes{};
    std::array<QSpinBox*, LineCount> SilenceMinutesBoxes{};
    QTimeEdit* NewFileAtEdit = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    // Shows the lines' settings in the controls.
    void ShowReportFileSettings();
    // Stores the controls' settings and gives them to the lines; a failed write leaves the lines
    // as they were and the dialog open.
    void OKBtnClick();
    void CancelBtnClick();

private:
    void CreateLineRow(int line);

    ProductionLines& lines_;
};
