#pragma once

#include <QDialog>

// A fixed-size dialog box of the program: client area of the designed size, Arial 13 pixels,
// centred on the screen the first time it is shown and shown again where it was left after that.
class TFixedDialog : public QDialog {
    Q_OBJECT

public:
    TFixedDialog(const QString& name, const QString& title, QSize client, bool closeBox);

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool placed_ = false;
};

// Moves a window so that its client area is centred on its screen.
void CentreOnScreen(QWidget* window);
