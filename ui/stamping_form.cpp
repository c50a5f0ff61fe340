#include "ui/stamping_form.h"

#include "runtime/ansi_text.h"
#include "settings/profile.h"
#include "settings/settings_groups.h"
#include "ui/design_fonts.h"
#include "ui/handler_guard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr int StampGroupWidth = 210;
constexpr int StampGroupHeight = 141;
constexpr int StampGroupLeft[2] = {16, 248};
constexpr int StampGroupTop[4] = {16, 165, 314, 463};

} // namespace

TStampingForm::TStampingForm(ProductionLines& lines)
    : TFixedDialog(QStringLiteral("TStampingForm"),
                   QStringLiteral("Configure Date & Time Stamping"), QSize(474, 670), false),
      lines_(lines) {
    for (int line = 1; line <= LineCount; ++line)
        CreateLineGroup(line);

    AddOkCancelButtons(
        OKBtn, CancelBtn, QPoint(149, 626), QPoint(250, 626),
        QStringLiteral("Click to accept changes"), QStringLiteral("Click to discard changes"),
        [this] { OKBtnClick(); }, [this] { CancelBtnClick(); });

    connect(&lines_, &ProductionLines::CaptionChanged, this, [this](int line) {
        StampingGroups[line - 1]->setTitle(AnsiToQString(lines_.Line(line).Caption));
    });
}

void TStampingForm::CreateLineGroup(int line) {
    const int i = line - 1;
    const QString n = QString::number(line);
    auto* group = new QGroupBox(QStringLiteral("Line ") + n, this);
    group->setObjectName(QStringLiteral("Stamping%1Group").arg(n));
    group->setGeometry(StampGroupLeft[i % 2], StampGroupTop[i / 2], StampGroupWidth,
                       StampGroupHeight);
    group->setFont(DesignFont(true));
    StampingGroups[i] = group;

    auto* date = new QCheckBox(QStringLiteral("Date Stamp"), group);
    date->setObjectName(QStringLiteral("DateStamp%1Box").arg(n));
    date->setFont(DesignFont());
    date->setGeometry(24, 26, 160, 20);
    date->setToolTip(QStringLiteral("Check to include date stamp"));
    date->setChecked(true);
    connect(date, &QCheckBox::toggled, this,
            [this, line](bool on) { lines_.Line(line).DateStamp = on; });
    DateStampBoxes[i] = date;

    auto* time = new QCheckBox(QStringLiteral("Time Stamp"), group);
    time->setObjectName(QStringLiteral("TimeStamp%1Box").arg(n));
    time->setFont(DesignFont());
    time->setGeometry(24, 56, 160, 20);
    time->setToolTip(QStringLiteral("Check to include time stamp"));
    time->setChecked(true);
    connect(time, &QCheckBox::toggled, this,
            [this, line](bool on) { lines_.Line(line).TimeStamp = on; });
    TimeStampBoxes[i] = time;

    auto* label = new QLabel(QStringLiteral("Delimiter"), group);
    label->setObjectName(QStringLiteral("Delimiter%1Label").arg(n));
    label->setFont(DesignFont());
    label->setGeometry(24, 99, 60, 16);

    auto* delimiter = new QComboBox(group);
    delimiter->setObjectName(QStringLiteral("Delimiter%1Box").arg(n));
    delimiter->setFont(DesignFont());
    delimiter->setGeometry(88, 96, 97, 22);
    delimiter->addItems({QStringLiteral("comma"), QStringLiteral("space"), QStringLiteral("tab"),
                         QStringLiteral("semicolon")});
    delimiter->setToolTip(QStringLiteral("Click to specify delimiter "));
    label->setBuddy(delimiter);
    connect(delimiter, &QComboBox::currentIndexChanged, this,
            [this, line](int index) { lines_.Line(line).DelimiterCode = index; });
    DelimiterBoxes[i] = delimiter;
}

void TStampingForm::ShowStampingSettings() {
    for (int line = 1; line <= LineCount; ++line) {
        const ProductionLine& settings = lines_.Line(line);
        const int i = line - 1;
        DateStampBoxes[i]->setChecked(settings.DateStamp);
        TimeStampBoxes[i]->setChecked(settings.TimeStamp);
        DelimiterBoxes[i]->setCurrentIndex(settings.DelimiterCode);
    }
}

void TStampingForm::OKBtnClick() {
    // A failed write leaves the dialog open, so that OK can be tried again or Cancel chosen.
    SaveStampingSettings(lines_);
    accept();
}

void TStampingForm::CancelBtnClick() {
    LoadStampingSettings(lines_);
    ShowStampingSettings();
    QDialog::reject();
}

void TStampingForm::reject() {
    RunHandler([this] { CancelBtnClick(); });
}
