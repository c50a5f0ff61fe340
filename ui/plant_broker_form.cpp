#include "ui/plant_broker_form.h"

#include "broker/broker_config.h"
#include "broker/plant_broker.h"
#include "settings/profile.h"
#include "settings/settings_groups.h"
#include "ui/design_fonts.h"
#include "ui/form_set.h"
#include "ui/handler_guard.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

namespace {

constexpr QSize BrokerClientSize(520, 326);
constexpr int FieldsTop = 44;
constexpr int BrokerRowPitch = 30;
constexpr int LabelLeft = 16;
constexpr int LabelWidth = 110;
constexpr int FieldLeft = 132;
constexpr int FieldWidth = 372;

QString Text(const std::string& bytes) {
    return QString::fromUtf8(bytes.c_str());
}

std::string Bytes(const QLineEdit* edit) {
    return edit->text().trimmed().toUtf8().toStdString();
}

} // namespace

TPlantBrokerForm::TPlantBrokerForm(FormSet& forms)
    : TFixedDialog(QStringLiteral("TPlantBrokerForm"), QStringLiteral("Plant Broker"),
                   BrokerClientSize, false),
      forms_(forms) {
    EnabledCheckBox =
        new QCheckBox(QStringLiteral("Forward every report line to the broker"), this);
    EnabledCheckBox->setObjectName(QStringLiteral("EnabledCheckBox"));
    EnabledCheckBox->setGeometry(LabelLeft, 14, FieldLeft + FieldWidth - LabelLeft, 20);
    EnabledCheckBox->setToolTip(QStringLiteral("Click to forward the report lines of every "
                                               "started line to the MQTT broker below"));
    UrlEdit = AddField("UrlEdit", QStringLiteral("Broker:"), 0,
                       QStringLiteral("mqtt://host:port, or mqtts://host:port for TLS; the port "
                                      "is 1883 or 8883 when left out"));
    UrlEdit->setPlaceholderText(QStringLiteral("mqtt://broker.plant.example"));
    TopicPrefixEdit = AddField("TopicPrefixEdit", QStringLiteral("Topic prefix:"), 1,
                               QStringLiteral("Report lines go to <prefix>/line1 to "
                                              "<prefix>/line8"));
    TopicPrefixEdit->setPlaceholderText(Text(DefaultTopicPrefix()) + QStringLiteral(" (default)"));
    ClientIdEdit = AddField("ClientIdEdit", QStringLiteral("Client id:"), 2,
                            QStringLiteral("The name this PC gives the broker; unique per PC"));
    ClientIdEdit->setPlaceholderText(Text(DefaultClientId()) + QStringLiteral(" (default)"));
    UsernameEdit = AddField("UsernameEdit", QStringLiteral("User name:"), 3,
                            QStringLiteral("Leave empty for a broker that takes anyone"));
    PasswordEdit = AddField("PasswordEdit", QStringLiteral("Password:"), 4,
                            QStringLiteral("Kept in the settings file, which then only its owner "
                                           "may read"));
    PasswordEdit->setEchoMode(QLineEdit::Password);

    const int statusTop = FieldsTop + 5 * BrokerRowPitch + 6;
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    // Two rows: trying, waiting and not forwarded together run past one.
    StatusLabel->setGeometry(LabelLeft, statusTop, FieldLeft + FieldWidth - LabelLeft, 36);
    StatusLabel->setFont(DesignFont(true));
    StatusLabel->setWordWrap(true);
    StatusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ErrorLabel = new QLabel(this);
    ErrorLabel->setObjectName(QStringLiteral("ErrorLabel"));
    ErrorLabel->setGeometry(LabelLeft, statusTop + 38, FieldLeft + FieldWidth - LabelLeft, 36);
    ErrorLabel->setWordWrap(true);
    QPalette red = ErrorLabel->palette();
    red.setColor(QPalette::WindowText, QColor(139, 0, 0));
    ErrorLabel->setPalette(red);

    const int buttonsTop = BrokerClientSize.height() - 40;
    AddOkCancelButtons(
        OKBtn, CancelBtn, QPoint(BrokerClientSize.width() / 2 - 87, buttonsTop),
        QPoint(BrokerClientSize.width() / 2 + 12, buttonsTop),
        QStringLiteral("Click to accept changes"), QStringLiteral("Click to discard changes"),
        [this] { OKBtnClick(); }, [this] { CancelBtnClick(); });

    statusTimer_.setInterval(500);
    connect(&statusTimer_, &QTimer::timeout, this, &TPlantBrokerForm::ShowStatus);
}

QLineEdit* TPlantBrokerForm::AddField(const char* name, const QString& label, int row,
                                      const QString& tip) {
    const int top = FieldsTop + row * BrokerRowPitch;
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(FieldLeft, top, FieldWidth, 22);
    edit->setToolTip(tip);
    auto* caption = new QLabel(label, this);
    caption->setObjectName(
        QString::fromLatin1(name).replace(QStringLiteral("Edit"), QStringLiteral("Label")));
    caption->setGeometry(LabelLeft, top + 3, LabelWidth, 16);
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    caption->setBuddy(edit);
    return edit;
}

void TPlantBrokerForm::showEvent(QShowEvent* event) {
    TFixedDialog::showEvent(event);
    ShowBrokerSettings();
    ErrorLabel->clear();
    ShowStatus();
    statusTimer_.start();
}

void TPlantBrokerForm::hideEvent(QHideEvent* event) {
    statusTimer_.stop();
    TFixedDialog::hideEvent(event);
}

void TPlantBrokerForm::ShowBrokerSettings() {
    const BrokerSettings broker = LoadBrokerSettings();
    EnabledCheckBox->setChecked(broker.Enabled);
    UrlEdit->setText(Text(broker.Url));
    TopicPrefixEdit->setText(Text(broker.TopicPrefix));
    ClientIdEdit->setText(Text(broker.ClientId));
    UsernameEdit->setText(Text(broker.Username));
    PasswordEdit->setText(Text(broker.Password));
}

void TPlantBrokerForm::ShowStatus() {
    StatusLabel->setText(Text(forms_.Broker->StatusText()));
}

void TPlantBrokerForm::OKBtnClick() {
    BrokerSettings broker;
    broker.Enabled = EnabledCheckBox->isChecked();
    broker.Url = Bytes(UrlEdit);
    broker.TopicPrefix = Bytes(TopicPrefixEdit);
    broker.ClientId = Bytes(ClientIdEdit);
    broker.Username = Bytes(UsernameEdit);
    broker.Password = PasswordEdit->text().toUtf8().toStdString();
    // A switched-off broker may keep a half-typed address; one that is on, or any address given,
    // must be one we can connect to.
    std::string error;
    if ((broker.Enabled || !broker.Url.empty()) && !ResolveBrokerConfig(broker, error)) {
        ErrorLabel->setText(Text(error));
        return;
    }
    try {
        SaveBrokerSettings(broker);
    } catch (const EIniFileException& failure) {
        ErrorLabel->setText(QString::fromLocal8Bit(failure.what()));
        return;
    }
    forms_.Broker->ApplySettings();
    accept();
}

void TPlantBrokerForm::CancelBtnClick() {
    QDialog::reject();
}

void TPlantBrokerForm::reject() {
    RunHandler([this] { CancelBtnClick(); });
}
