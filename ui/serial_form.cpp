#include "ui/serial_form.h"

#include "lines/line_ports.h"
#include "runtime/ansi_text.h"
#include "runtime/message_box.h"
#include "settings/profile.h"
#include "settings/settings_groups.h"
#include "ui/design_fonts.h"
#include "ui/form_set.h"
#include "ui/handler_guard.h"
#include "ui/line_letter.h"
#include "ui/port_item_tips.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <optional>

namespace {

// One of the five lists of a line's group, with its label, items, hint and place in the group.
struct ListDesign {
    const char* Name;
    const char* Label;
    std::vector<const char*> Items;
    const char* Hint;
    QRect LabelPlace;
    QRect ListPlace;
    QComboBox* PortLists::*List;
};

// In the order of PortSettingKinds.
const std::vector<ListDesign>& ListDesigns() {
    static const std::vector<ListDesign> designs = {
        {"ComPort",
         "COM Port",
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16",
          "Off"},
         "Click to change COM Port",
         {12, 31, 72, 16},
         {92, 28, 81, 22},
         &PortLists::ComPort},
        {"BaudRate",
         "Baud Rate",
         {"1200", "2400", "4800", "9600", "19200"},
         "Click to change baud rate",
         {12, 71, 72, 16},
         {92, 68, 81, 22},
         &PortLists::BaudRate},
        {"Parity",
         "Parity",
         {"none", "odd", "even"},
         "Click to change parity",
         {12, 111, 72, 16},
         {92, 108, 81, 22},
         &PortLists::Parity},
        {"DataBits",
         "Data Bits",
         {"7", "8"},
         "Click to change data bits",
         {188, 71, 72, 16},
         {268, 68, 81, 22},
         &PortLists::DataBits},
        {"StopBits",
         "Stop Bits",
         {"1", "2"},
         "Click to change stop bits",
         {188, 111, 72, 16},
         {268, 108, 81, 22},
         &PortLists::StopBits},
    };
    return designs;
}

constexpr int GroupWidth = 369;
constexpr int GroupHeight = 153;
constexpr int GroupLeft[2] = {16, 400};
constexpr int GroupTop[4] = {16, 177, 338, 499};
constexpr int VisiblePortItems = 9;

} // namespace

TSerialForm::TSerialForm(FormSet& forms)
    : TFixedDialog(QStringLiteral("TSerialForm"), QStringLiteral("Configure COM Ports"),
                   QSize(785, 701), false),
      ComPorts(forms.Ports.ComPorts), lines_(forms.Lines), ports_(forms.Ports) {
    for (int line = 1; line <= LineCount; ++line)
        CreateLineGroup(line);

    AddOkCancelButtons(
        OKBtn, CancelBtn, QPoint(305, 664), QPoint(405, 664),
        QStringLiteral("Click to accept changes"), QStringLiteral("Click to discard changes"),
        [this] { OKBtnClick(); }, [this] { CancelBtnClick(); });

    connect(&lines_, &ProductionLines::CaptionChanged, this, [this](int line) {
        ComPortGroups[line - 1]->setTitle(AnsiToQString(lines_.Line(line).Caption));
    });
    KeepPortItemTipsCurrent(this);
}

TSerialForm::~TSerialForm() = default;

void TSerialForm::CreateLineGroup(int line) {
    const int i = line - 1;
    const QString letter = LineLetter(line);
    auto* group = new QGroupBox(QStringLiteral("Line %1").arg(line), this);
    group->setObjectName(QStringLiteral("ComPort%1Group").arg(letter));
    group->setGeometry(GroupLeft[i % 2], GroupTop[i / 2], GroupWidth, GroupHeight);
    group->setFont(DesignFont(true));
    ComPortGroups[i] = group;

    const auto& designs = ListDesigns();
    for (std::size_t k = 0; k < designs.size(); ++k) {
        const ListDesign& design = designs[k];
        const QString name = QString::fromLatin1(design.Name) + letter;
        auto* label = new QLabel(QString::fromLatin1(design.Label), group);
        label->setObjectName(name + QStringLiteral("Label"));
        label->setFont(DesignFont());
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setGeometry(design.LabelPlace);

        auto* list = new QComboBox(group);
        list->setObjectName(name + QStringLiteral("ComboBox"));
        list->setFont(DesignFont());
        list->setGeometry(design.ListPlace);
        for (const char* item : design.Items)
            list->addItem(QString::fromLatin1(item));
        list->setToolTip(QString::fromLatin1(design.Hint));
        label->setBuddy(list);
        Ports[i].*design.List = list;
        const PortSettingKind& kind = PortSettingKinds[k];
        Q_ASSERT(static_cast<int>(design.Items.size()) == kind.Choices);
        connect(list, &QComboBox::currentIndexChanged, this,
                [this, line, &kind](int index) { lines_.Line(line).Port.*kind.Index = index; });
    }
    Ports[i].ComPort->setMaxVisibleItems(VisiblePortItems);
}

void TSerialForm::ShowPortSettings() {
    const auto& designs = ListDesigns();
    for (int line = 1; line <= LineCount; ++line) {
        for (std::size_t k = 0; k < designs.size(); ++k)
            (Ports[line - 1].*designs[k].List)
                ->setCurrentIndex(lines_.Line(line).Port.*PortSettingKinds[k].Index);
    }
}

void TSerialForm::ApplyComPortSettings() {
    if (!ports_.ApplyComPortSettings())
        ModalResult = 0;
}

void TSerialForm::ReportPortError(std::int32_t errorCode, int line) {
    ports_.ReportPortError(errorCode, line);
    ModalResult = 0;
}

bool TSerialForm::SetUpPortsAgain() {
    ModalResult = QDialog::Accepted;
    if (!ports_.SetUpPortsAgain())
        ModalResult = 0;
    return ModalResult != 0;
}

void TSerialForm::OKBtnClick() {
    // Written while every port still reads: however long the settings file takes, no byte waits.
    // A file that cannot be written is reported once the ports are set up from the lists.
    std::optional<EIniFileException> writeFailure;
    try {
        SaveComPortSettings(lines_);
    } catch (const EIniFileException& error) {
        writeFailure = error;
    }
    SetUpPortsAgain();
    unsaved_.reset();
    if (writeFailure) {
        unsaved_.emplace();
        for (int line = 1; line <= LineCount; ++line)
            (*unsaved_)[static_cast<std::size_t>(line - 1)] = lines_.Line(line).Port;
        ShowException(*writeFailure);
        ModalResult = 0;
    }
    if (ModalResult != 0)
        done(ModalResult);
}

void TSerialForm::CancelBtnClick() {
    if (unsaved_) {
        for (int line = 1; line <= LineCount; ++line)
            lines_.Line(line).Port = (*unsaved_)[static_cast<std::size_t>(line - 1)];
    } else {
        LoadComPortSettings(lines_);
    }
    ShowPortSettings();
    QDialog::reject();
}

void TSerialForm::reject() {
    // Escape and the window manager's close act as Cancel, so the lists never keep unsaved edits.
    RunHandler([this] { CancelBtnClick(); });
}
