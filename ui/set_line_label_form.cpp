#include "ui/set_line_label_form.h"

#include "runtime/ansi_text.h"
#include "runtime/message_box.h"
#include "settings/profile.h"
#include "settings/settings_groups.h"
#include "ui/design_fonts.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, QRect place, bool bold,
                 Qt::Alignment alignment) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(DesignFont(bold));
    label->setTextFormat(Qt::PlainText); // a caption is shown as typed, never as markup
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setGeometry(place);
    return label;
}

} // namespace

TSetLineLabelForm::TSetLineLabelForm(ProductionLines& lines)
    : TFixedDialog(QStringLiteral("TSetLineLabelForm"), QStringLiteral("Set Line Label"),
                   QSize(468, 169), false),
      lines_(lines) {
    AddLabel(this, "OldLabel", QStringLiteral("Old Label:"), {16, 28, 80, 18}, false,
             Qt::AlignRight);
    OldCaption = AddLabel(this, "OldCaption", QString(), {104, 28, 348, 18}, true, Qt::AlignLeft);
    QLabel* newLabel = AddLabel(this, "NewLabel", QStringLiteral("New Label:"), {16, 68, 80, 18},
                                false, Qt::AlignRight);

    NewEdit = new QLineEdit(this);
    NewEdit->setObjectName(QStringLiteral("NewEdit"));
    NewEdit->setFont(DesignFont());
    NewEdit->setGeometry(104, 66, 348, 22);
    NewEdit->setMaxLength(MaxLabelLength);
    newLabel->setBuddy(NewEdit);

    AddOkCancelButtons(
        OKBtn, CancelBtn, QPoint(146, 124), QPoint(247, 124),
        QStringLiteral("Click to accept the new label"),
        QStringLiteral("Click to keep the old label"), [this] { OKBtnClick(); },
        [this] { CancelBtnClick(); });
}

void TSetLineLabelForm::showEvent(QShowEvent* event) {
    TFixedDialog::showEvent(event);
    NewEdit->setFocus();
}

void TSetLineLabelForm::ApplyLineLabel(int line, const std::string& label) {
    // Every window that names the line follows its caption. A line is never left without one:
    // an empty or blank label gives it back its default, which is what is stored.
    const bool blank = label.find_first_not_of(" \t") == std::string::npos;
    if (line >= 1 && line <= LineCount)
        lines_.SetCaption(line, blank ? "Line " + std::to_string(line) : label);
    SaveLineLabels(lines_);
}

void TSetLineLabelForm::OKBtnClick() {
    // Only what the settings file can hold becomes the label, so the captions shown are the ones
    // read back at the next start.
    const std::string label = QStringToAnsi(NewEdit->text());
    try {
        ApplyLineLabel(LineNumber, label);
    } catch (const EIniFileException& error) {
        // The captions have changed already: the dialog closes, and the failure is reported.
        accept();
        ShowException(error);
        return;
    }
    accept();
}

void TSetLineLabelForm::CancelBtnClick() {
    QDialog::reject();
}
