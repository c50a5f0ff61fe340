#include "ui/fixed_dialog.h"

#include "ui/design_fonts.h"
#include "ui/handler_guard.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

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

void TFixedDialog::AddOkCancelButtons(QPushButton*& ok, QPushButton*& cancel, QPoint okAt,
                                      QPoint cancelAt, const QString& okHint,
                                      const QString& cancelHint, std::function<void()> okClick,
                                      std::function<void()> cancelClick) {
    ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKBtn"));
    ok->setGeometry(QRect(okAt, QSize(75, 25)));
    ok->setToolTip(okHint);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [click = std::move(okClick)] { RunHandler(click); });

    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    cancel->setGeometry(QRect(cancelAt, QSize(75, 25)));
    cancel->setToolTip(cancelHint);
    connect(cancel, &QPushButton::clicked, this,
            [click = std::move(cancelClick)] { RunHandler(click); });
}

void CentreOnScreen(QWidget* window) {
    QScreen* screen =
        window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    // A window larger than the screen keeps its top left corner on it, so that its title, menu
    // and first controls can be reached.
    window->move(area.x() + std::max(0, (area.width() - window->width()) / 2),
                 area.y() + std::max(0, (area.height() - window->height()) / 2));
}

void FitOnScreen(QWidget* window) {
    QScreen* screen =
        window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    // Room for the title bar that a window manager adds above the window.
    constexpr int TitleAllowance = 32;
    const QRect area = screen->availableGeometry();
    const double factor =
        std::min({1.0, static_cast<double>(area.width()) / window->width(),
                  static_cast<double>(area.height() - TitleAllowance) / window->height()});
    if (factor < 1.0)
        window->resize(static_cast<int>(window->width() * factor),
                       static_cast<int>(window->height() * factor));
}
