#include "serial/com_select_form.h"

#include "serial/apd_win32_dispatcher.h"

#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int HighestProbedPort = 50;
constexpr int ProbeQueueSize = 64;

QFont DesignFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    // Where that face is missing, a plain sans face stands in.
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, 95, 85, 27);
    return button;
}

} // namespace

TComSelectForm::TComSelectForm(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("ComSelectForm"));
    setWindowTitle(QStringLiteral("Select Port"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(220, 131);
    setFont(DesignFont());
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    // The frame first, so the labels lie on top of it.
    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 201, 42);

    Label1 = new QLabel(QStringLiteral("The configured serial port is not valid."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(18, 14);
    Label1->adjustSize();
    Label2 = new QLabel(QStringLiteral("Please choose another port."), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(18, 30);
    Label2->adjustSize();

    PortsComboBox = new QComboBox(this);
    PortsComboBox->setObjectName(QStringLiteral("PortsComboBox"));
    PortsComboBox->setEditable(false);
    PortsComboBox->setGeometry(8, 64, 201, 21);

    OkBtn = MakeButton(this, "OkBtn", "OK", 8);
    OkBtn->setDefault(true);
    AbortBtn = MakeButton(this, "AbortBtn", "Cancel", 124);
    connect(OkBtn, &QPushButton::clicked, this, [this] { OkBtnClick(); });
    connect(AbortBtn, &QPushButton::clicked, this, [this] { AbortBtnClick(); });

    setTabOrder(OkBtn, AbortBtn);
    setTabOrder(AbortBtn, PortsComboBox);
    OkBtn->setFocus();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = rect();
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
    FormCreate();
}

void TComSelectForm::FormCreate() {
    for (int n = 1; n <= HighestProbedPort; ++n)
        if (IsPortAvailable(n))
            PortsComboBox->addItem(QStringLiteral("COM%1").arg(n));
    PortsComboBox->setCurrentIndex(PortsComboBox->count() > 0 ? 0 : -1);
}

void TComSelectForm::OkBtnClick() {
    // With no port to choose, OK cannot confirm anything: it counts as Cancel.
    if (PortsComboBox->currentIndex() < 0)
        done(mrAbort);
    else
        accept();
}

void TComSelectForm::AbortBtnClick() {
    done(mrAbort);
}

std::uint16_t TComSelectForm::SelectedComNumber() const {
    if (PortsComboBox->currentIndex() < 0)
        return 0;
    return static_cast<std::uint16_t>(PortsComboBox->currentText().mid(3, 255).toInt());
}

bool TComSelectForm::IsPortAvailable(int number) {
    if (number <= 0)
        return false;
    TApdWin32Dispatcher probe(nullptr);
    const std::string name = "\\\\.\\COM" + std::to_string(number);
    if (probe.OpenDeviceHandle(name, ProbeQueueSize, ProbeQueueSize) >= 0) {
        probe.CloseDeviceHandle();
        return true;
    }
    // Refused access: the port exists, another program has it open or this user may not open it.
    return probe.LastDeviceError() == ERROR_ACCESS_DENIED ||
           probe.LastDeviceError() == ERROR_PRIVILEGE_NOT_HELD;
}

int AskWithComSelectForm() {
    TComSelectForm form(nullptr);
    return form.exec() == QDialog::Accepted ? form.SelectedComNumber() : 0;
}
