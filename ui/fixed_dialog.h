#pragma once

#include <QDialog>
#include <functional>

class QPushButton;

// A fixed-size dialog box of the program: client area of the designed size, Arial 13 pixels,
// centred on the screen the first time it is shown and shown again where it was left after that.
class TFixedDialog : public QDialog {
    Q_OBJECT

public:
    TFixedDialog(const QString& name, const QString& title, QSize client, bool closeBox);

protected:
    void showEvent(QShowEvent* event) override;
    // The dialog's OK (default) and Cancel buttons, side by side at the given tops-left, with
    // their hints; each click runs its handler through the standard error report.
    void AddOkCancelButtons(QPushButton*& ok, QPushButton*& cancel, QPoint okAt, QPoint cancelAt,
                            const QString& okHint, const QString& cancelHint,
                            std::function<void()> okClick, std::function<void()> cancelClick);

private:
    bool placed_ = false;
};

// Moves a window so that its client area is centred on its screen.
void CentreOnScreen(QWidget* window);
// Makes a resizable window that is larger than its screen smaller, as the operator's drag of its
// corner would, so that all of it can be seen.
void FitOnScreen(QWidget* window);
