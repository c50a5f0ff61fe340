#pragma once

#include "ui/fixed_dialog.h"

#include <QTimer>

class FormSet;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The dialog "Plant Broker": whether and where report lines are forwarded (section Broker), and a
// line saying how forwarding stands now, kept current while the dialog is open. OK checks the
// fields, writes the group and connects again; a field in error is told in the dialog and nothing
// is stored. Cancel changes nothing.
class TPlantBrokerForm : public TFixedDialog {
    Q_OBJECT

public:
    explicit TPlantBrokerForm(FormSet& forms);

    QCheckBox* EnabledCheckBox = nullptr;
    QLineEdit* UrlEdit = nullptr;
    QLineEdit* TopicPrefixEdit = nullptr;
    QLineEdit* ClientIdEdit = nullptr;
    QLineEdit* UsernameEdit = nullptr;
    QLineEdit* PasswordEdit = nullptr;
    QLabel* StatusLabel = nullptr;
    QLabel* ErrorLabel = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    // Shows the settings file's [Broker] in the fields.
    void ShowBrokerSettings();
    void ShowStatus();
    void OKBtnClick();
    void CancelBtnClick();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QLineEdit* AddField(const char* name, const QString& label, int row, const QString& tip);

    FormSet& forms_;
    QTimer statusTimer_;
};
