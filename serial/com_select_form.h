#pragma once
// The port selection dialog: lists the ports that exist (also those another program holds) so
// that a com port opened without a port number can be given one.

#include <QDialog>
#include <cstdint>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

class TComSelectForm : public QDialog {
public:
    // The dialog's result when it was left with Cancel.
    static constexpr int mrAbort = 3;

    explicit TComSelectForm(QWidget* owner);

    // The number of the selected port ("COM12" gives 12); 0 when none is selected.
    std::uint16_t SelectedComNumber() const;
    // A port is available when it opens, or when it exists but another program holds it.
    static bool IsPortAvailable(int number);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QFrame* Bevel1 = nullptr;
    QComboBox* PortsComboBox = nullptr;
    QPushButton* OkBtn = nullptr;
    QPushButton* AbortBtn = nullptr;

private:
    void FormCreate();
    void OkBtnClick();
    void AbortBtnClick();
};

// Shows the dialog and returns the port chosen, 0 when none; the com port's ComNumberPrompt.
int AskWithComSelectForm();
