#pragma once

#include "ui/fixed_dialog.h"

#include <string>

class ProductionLines;
class QLabel;
class QLineEdit;
class QPushButton;

// The line label dialog: renames one line, everywhere at once, and saves the labels.
class TSetLineLabelForm : public TFixedDialog {
    Q_OBJECT

public:
    explicit TSetLineLabelForm(ProductionLines& lines);

    QLabel* OldCaption = nullptr;
    QLineEdit* NewEdit = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    // The line whose label is being edited.
    int LineNumber = 0;

    // Gives line N the label (8-bit text) in every window that names the line, then saves all
    // eight labels. A line outside 1..8 changes no window; the labels are saved all the same.
    void ApplyLineLabel(int line, const std::string& label);
    void OKBtnClick();
    void CancelBtnClick();

    static constexpr int MaxLabelLength = 35;

protected:
    void showEvent(QShowEvent* event) override;

private:
    ProductionLines& lines_;
};
