#include "ui/fixed_dialog.h"

#include "ui/design_fonts.h"

#include <QGuiApplication>
#include <QScreen>

TFixedDialog::TFixedDialog(const QString& name, const QString& title, QSize client, bool closeBox)
    : QDialog(nullptr) {
    setObjectName(name);
    setWindowTitle(title);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (closeBox)
        flags |= Qt::WindowCloseButtonHint;
    setWindowFlags(flags);
    setFixedSize(client);
    setFont(DesignFont());
}

void TFixedDialog::showEvent(QShowEvent* event) {
    // Any earlier move (the start-up moves the port dialog) gives way to the first centring.
    if (!placed_) {
        CentreOnScreen(this);
        placed_ = true;
    }
    QDialog::showEvent(event);
}

void CentreOnScreen(QWidget* window) {
    QScreen* screen =
        window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    window->move(area.x() + (area.width() - window->width()) / 2,
                 area.y() + (area.height() - window->height()) / 2);
}
