#include "ui/port_devices_form.h"

#include "runtime/message_box.h"
#include "serial/platform/port_inspection.h"
#include "serial/platform/port_map.h"
#include "serial/platform/serial_devices.h"
#include "settings/profile.h"
#include "ui/design_fonts.h"
#include "ui/form_set.h"
#include "ui/handler_guard.h"
#include "ui/serial_form.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTimerEvent>
#include <optional>

namespace {

constexpr QSize DevicesClientSize(760, 520);
constexpr int RowTop = 16;
constexpr int DevicesRowPitch = 28;
constexpr QRect LabelPlace(16, 3, 52, 16);
constexpr QRect BoxPlace(76, 0, 520, 22);
constexpr QRect MarkPlace(608, 3, 136, 16);

QString PathText(const std::string& path) {
    return QFile::decodeName(path.c_str());
}

std::string PathBytes(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

// What the mark says of a device, and in which colour.
struct Mark {
    QString Text;
    QColor Colour;
    QString Tip;
};

Mark MarkOf(const PortInspection& device) {
    const QColor missing(128, 0, 0);
    const QString path = PathText(device.Device.Path);
    if (!device.Exists) {
        const QString why = device.Problem.empty() ? QStringLiteral("there is no such device now")
                                                   : QString::fromLocal8Bit(device.Problem.c_str());
        return {QStringLiteral("not present"), missing, path + QStringLiteral(": ") + why};
    }
    const QString real = PathText(device.RealPath);
    if (device.Driver.empty())
        return {QStringLiteral("not a serial device"), missing,
                path + QStringLiteral(" (") + real + QStringLiteral(") is not a terminal")};
    QString tip = path + QStringLiteral(": ") + real + QStringLiteral(", driver ") +
                  QString::fromLocal8Bit(device.Driver.c_str());
    if (!device.ReadWrite)
        tip += QStringLiteral("; this user may not open it (see the dialout group)");
    return {QStringLiteral("present"), QColor(0, 128, 0), tip};
}

} // namespace

TPortDevicesForm::TPortDevicesForm(FormSet& forms)
    : TFixedDialog(QStringLiteral("TPortDevicesForm"), QStringLiteral("Configure Port Devices"),
                   DevicesClientSize, false),
      forms_(forms) {
    for (int n = 1; n <= PortDeviceCount; ++n)
        CreateRow(n);
    const int buttonsTop = RowTop + PortDeviceCount * DevicesRowPitch + 8;
    AddOkCancelButtons(
        OKBtn, CancelBtn, QPoint(DevicesClientSize.width() / 2 - 87, buttonsTop),
        QPoint(DevicesClientSize.width() / 2 + 12, buttonsTop),
        QStringLiteral("Click to accept changes"), QStringLiteral("Click to discard changes"),
        [this] { OKBtnClick(); }, [this] { CancelBtnClick(); });
}

void TPortDevicesForm::CreateRow(int n) {
    const int i = n - 1;
    const QPoint rowAt(0, RowTop + i * DevicesRowPitch);
    const QString com = QStringLiteral("Com%1Device").arg(n);

    auto* label = new QLabel(QStringLiteral("COM %1").arg(n), this);
    label->setObjectName(com + QStringLiteral("Label"));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(LabelPlace.translated(rowAt));

    auto* box = new QComboBox(this);
    box->setObjectName(com + QStringLiteral("ComboBox"));
    box->setGeometry(BoxPlace.translated(rowAt));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    // An item's text also tells where a by-id name points; completing to it would store that text.
    box->setCompleter(nullptr);
    const QString defaultDevice = PathText(DefaultPortDevicePath(n));
    box->setToolTip(QStringLiteral("Click to choose the device of COM %1, or type its path; "
                                   "leave it empty for %2")
                        .arg(n)
                        .arg(defaultDevice));
    label->setBuddy(box);
    // A chosen item puts its path in the field, which is what is stored; choosing the current item
    // again changes no index, but would put its text back.
    const auto showPath = [box](int index) {
        if (index >= 0)
            box->setEditText(box->itemData(index).toString());
    };
    connect(box, &QComboBox::currentIndexChanged, this, showPath);
    connect(box, &QComboBox::activated, this, showPath);
    connect(box, &QComboBox::editTextChanged, this, [this, n] { ShowMark(n); });
    DeviceBoxes[i] = box;

    auto* mark = new QLabel(this);
    mark->setObjectName(com + QStringLiteral("Mark"));
    mark->setFont(DesignFont(true));
    mark->setGeometry(MarkPlace.translated(rowAt));
    DeviceMarks[i] = mark;
}

void TPortDevicesForm::showEvent(QShowEvent* event) {
    TFixedDialog::showEvent(event);
    // Adapters come and go between showings, and the file may have been edited by hand.
    ShowPortDevices();
    marksTimer_.start(1000, this);
}

void TPortDevicesForm::hideEvent(QHideEvent* event) {
    marksTimer_.stop();
    TFixedDialog::hideEvent(event);
}

void TPortDevicesForm::timerEvent(QTimerEvent* event) {
    if (event->timerId() != marksTimer_.timerId())
        return TFixedDialog::timerEvent(event);
    for (int n = 1; n <= PortDeviceCount; ++n)
        ShowMark(n);
}

void TPortDevicesForm::ShowPortDevices() {
    const std::vector<SerialDeviceChoice> found = FindSerialDevices();
    const PortDeviceNames stored = LoadPortDevices();
    for (int n = 1; n <= PortDeviceCount; ++n) {
        QComboBox* box = DeviceBoxes[n - 1];
        const QSignalBlocker quiet(box);
        box->clear();
        for (const SerialDeviceChoice& device : found) {
            const QString path = PathText(device.Path);
            const QString text = device.Target.empty() ? path
                                                       : path + QStringLiteral("  \u2192  ") +
                                                             PathText(device.Target);
            box->addItem(text, path);
        }
        box->setCurrentIndex(-1);
        box->setEditText(PathText(stored[n - 1]));
        // A device set in this process (the simulator's, a test's) is the one in use, and it can
        // change while the program runs.
        const PortDevice inUse = ResolvePortDevice(n);
        box->lineEdit()->setPlaceholderText(
            inUse.Source == PortDeviceSource::Override
                ? PathText(inUse.Path) + QStringLiteral(" [set in this process]")
                : PathText(DefaultPortDevicePath(n)) + QStringLiteral(" (default)"));
        // The drop-down shows the long by-id names whole.
        box->view()->setMinimumWidth(box->view()->sizeHintForColumn(0) + 24);
        ShowMark(n);
    }
}

std::string TPortDevicesForm::Device(int n) const {
    const QComboBox* box = DeviceBoxes[n - 1];
    const QString text = box->currentText().trimmed();
    // An item's text that stayed in the field stands for the item's path.
    const int item = box->findText(text, Qt::MatchExactly);
    return PathBytes(item >= 0 ? box->itemData(item).toString() : text);
}

void TPortDevicesForm::ShowMark(int n) {
    // The mark tells of the device the port opens: one set in this process wins over the field.
    const PortDevice inUse = ResolvePortDevice(n);
    const bool setHere = inUse.Source == PortDeviceSource::Override;
    std::string device = setHere ? inUse.Path : Device(n);
    if (device.empty())
        device = DefaultPortDevicePath(n);
    Mark mark = MarkOf(InspectDevice(device));
    if (setHere)
        mark.Tip = QStringLiteral("Set in this process: ") + mark.Tip;
    QLabel* label = DeviceMarks[n - 1];
    label->setText(mark.Text);
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, mark.Colour);
    label->setPalette(colours);
    label->setToolTip(mark.Tip);
}

void TPortDevicesForm::OKBtnClick() {
    PortDeviceNames devices;
    for (int n = 1; n <= PortDeviceCount; ++n)
        devices[n - 1] = Device(n);
    // A settings file that cannot be written must not leave the ports closed: they are set up all
    // the same (with the devices the file still names), and the failure is reported.
    std::optional<EIniFileException> writeFailure;
    try {
        SavePortDevices(devices);
    } catch (const EIniFileException& error) {
        writeFailure = error;
    }
    // The ports read their devices as they open: they are set up again as the COM Ports
    // dialog's OK does, with its error boxes, and a port whose device changed is reopened.
    const bool clean = forms_.SerialForm->SetUpPortsAgain();
    if (writeFailure)
        ShowException(*writeFailure);
    // As in the COM Ports dialog, a box leaves the dialog open so that a device can be chosen
    // again.
    if (!writeFailure && clean)
        accept();
}

void TPortDevicesForm::CancelBtnClick() {
    QDialog::reject();
}

void TPortDevicesForm::reject() {
    RunHandler([this] { CancelBtnClick(); });
}
