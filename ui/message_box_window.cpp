#include "ui/message_box_window.h"

#include "runtime/ansi_text.h"
#include "runtime/message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

namespace {

constexpr int BoxDeafMs = 750;

QString DisplayText(const std::string& text) {
    QString shown = MessageToQString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QChar('\r'), QChar('\n'));
    return shown;
}

// The window a box belongs to: it stays above it and goes with it, so that a box left open never
// keeps the program running after its main window closed.
QWidget* BoxParent() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget* active = QApplication::activeWindow())
        return active;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->inherits("QMainWindow"))
            return window;
    return nullptr;
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Error:
        break;
    }
    return QMessageBox::Critical;
}

void ShowBox(const MessageBoxRequest& request, std::function<void()> closed) {
    auto* box = new QMessageBox(BoxIcon(request.Icon), AnsiToQString(request.Caption),
                                DisplayText(request.Text), QMessageBox::Ok, BoxParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    if (closed)
        QObject::connect(box, &QMessageBox::finished, box,
                         [closed = std::move(closed)] { closed(); });
    // A box comes when something goes wrong, not when the operator asks: keys meant for what
    // they were typing into must not close it unread.
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    ok->setEnabled(false);
    QTimer::singleShot(BoxDeafMs, ok, [ok] {
        ok->setEnabled(true);
        ok->setFocus();
    });
    box->show();
}

bool AskBox(const MessageBoxRequest& request) {
    QMessageBox box(BoxIcon(request.Icon), AnsiToQString(request.Caption),
                    DisplayText(request.Text), QMessageBox::Yes | QMessageBox::No, BoxParent());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

void UseMessageBoxWindows() {
    SetWindowBoxes({ShowBox, AskBox, [] { QApplication::beep(); }});
}
