#include "ui/report_files_form.h"

#include "runtime/ansi_text.h"
#include "settings/settings_groups.h"
#include "ui/design_fonts.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>

namespace {

constexpr int FirstRowTop = 40;
constexpr int RowHeight = 28;
constexpr int BoxLeft = 180;
constexpr int MinutesLeft = 330;

// What a line's settings in this dialog are.
struct LineReportFiles {
    bool NewFileEachDay;
    int NewFileAt;
    int SilenceMinutes;
};

LineReportFiles Of(const ProductionLine& line) {
    return {line.NewFileEachDay.Load(), line.NewFileAt.Load(), line.SilenceMinutes};
}

void Give(ProductionLine& line, const LineReportFiles& settings) {
    line.NewFileEachDay.Store(settings.NewFileEachDay);
    line.NewFileAt.Store(settings.NewFileAt);
    line.SilenceMinutes = settings.SilenceMinutes;
}

QLabel* AddLabel(QWidget* parent, const QString& name, const QString& text, QRect place) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(place);
    return label;
}

} // namespace

TReportFilesForm::TReportFilesForm(ProductionLines& lines)
    : TFixedDialog(QStringLiteral("TReportFilesForm"), QStringLiteral("Report Files"),
                   QSize(450, 370), false),
      lines_(lines) {
    AddLabel(this, QStringLiteral("NewFileEachDayLabel"), QStringLiteral("Daily files"),
             QRect(BoxLeft, 14, 140, 18));
    AddLabel(this, QStringLiteral("SilenceMinutesLabel"), QStringLiteral("Silent after"),
             QRect(MinutesLeft, 14, 100, 18));
    for (int line = 1; line <= LineCount; ++line)
        CreateLineRow(line);

    const int timeTop = FirstRowTop + LineCount * RowHeight + 12;
    QLabel* timeLabel =
        AddLabel(this, QStringLiteral("NewFileAtLabel"), QStringLiteral("Each day begins at"),
                 QRect(16, timeTop + 3, 150, 18));
    NewFileAtEdit = new QTimeEdit(this);
    NewFileAtEdit->setObjectName(QStringLiteral("NewFileAtEdit"));
    NewFileAtEdit->setDisplayFormat(QStringLiteral("HH:mm"));
    NewFileAtEdit->setGeometry(BoxLeft, timeTop, 80, 22);
    NewFileAtEdit->setToolTip(
        QStringLiteral("The time at which the lines with daily files begin a new report file"));
    timeLabel->setBuddy(NewFileAtEdit);

    AddOkCancelButtons(
        OKBtn, CancelBtn, QPoint(137, timeTop + 44), QPoint(238, timeTop + 44),
        QStringLiteral("Click to accept changes"), QStringLiteral("Click to discard changes"),
        [this] { OKBtnClick(); }, [this] { CancelBtnClick(); });

    connect(&lines_, &ProductionLines::CaptionChanged, this, [this](int line) {
        LineLabels[line - 1]->setText(AnsiToQString(lines_.Line(line).Caption));
    });
}

void TReportFilesForm::CreateLineRow(int line) {
    const int i = line - 1;
    const QString n = QString::number(line);
    const int top = FirstRowTop + i * RowHeight;
    LineLabels[i] = AddLabel(this, QStringLiteral("ReportFiles%1Label").arg(n),
                             QStringLiteral("Line ") + n, QRect(16, top + 3, 156, 18));
    LineLabels[i]->setFont(DesignFont(true));

    auto* daily = new QCheckBox(QStringLiteral("New file each day"), this);
    daily->setObjectName(QStringLiteral("NewFileEachDay%1Box").arg(n));
    daily->setGeometry(BoxLeft, top, 140, 22);
    daily->setToolTip(QStringLiteral("Check to write each day's reports to a file of its own"));
    NewFileEachDayBoxes[i] = daily;

    auto* minutes = new QSpinBox(this);
    minutes->setObjectName(QStringLiteral("SilenceMinutes%1Box").arg(n));
    minutes->setGeometry(MinutesLeft, top, 100, 22);
    minutes->setRange(0, MaxSilenceMinutes);
    minutes->setSpecialValueText(QStringLiteral("off"));
    minutes->setSuffix(QStringLiteral(" min"));
    minutes->setToolTip(QStringLiteral("Minutes without a report line after which the line's "
                                       "caption turns orange"));
    SilenceMinutesBoxes[i] = minutes;
}

void TReportFilesForm::ShowReportFileSettings() {
    for (int line = 1; line <= LineCount; ++line) {
        const ProductionLine& settings = lines_.Line(line);
        NewFileEachDayBoxes[line - 1]->setChecked(settings.NewFileEachDay.Load());
        SilenceMinutesBoxes[line - 1]->setValue(settings.SilenceMinutes);
    }
    NewFileAtEdit->setTime(QTime(0, 0).addSecs(lines_.Line(1).NewFileAt.Load() * 60));
}

void TReportFilesForm::OKBtnClick() {
    const QTime at = NewFileAtEdit->time();
    std::array<LineReportFiles, LineCount> before{};
    for (int line = 1; line <= LineCount; ++line) {
        before[line - 1] = Of(lines_.Line(line));
        Give(lines_.Line(line),
             {NewFileEachDayBoxes[line - 1]->isChecked(), at.hour() * 60 + at.minute(),
              SilenceMinutesBoxes[line - 1]->value()});
    }
    try {
        SaveReportFileSettings(lines_);
    } catch (...) {
        for (int line = 1; line <= LineCount; ++line)
            Give(lines_.Line(line), before[line - 1]);
        throw;
    }
    for (int line = 1; line <= LineCount; ++line)
        emit lines_.LineStateChanged(line);
    accept();
}

void TReportFilesForm::CancelBtnClick() {
    reject();
}
