#include "ui/message_box_window.h"

#include "runtime/ansi_text.h"
#include "runtime/message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace {

QString DisplayText(const std::string& text) {
    QString shown = AnsiToQString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QChar('\r'), QChar('\n'));
    return shown;
}

void ShowModalBox(const MessageBoxRequest& request) {
    QMessageBox::Icon icon = QMessageBox::Critical;
    if (request.Icon == MessageIcon::Information)
        icon = QMessageBox::Information;
    else if (request.Icon == MessageIcon::Warning)
        icon = QMessageBox::Warning;
    QMessageBox box(icon, AnsiToQString(request.Caption), DisplayText(request.Text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

} // namespace

void UseMessageBoxWindows() {
    SetWindowBoxes({ShowModalBox, [] { QApplication::beep(); }});
}
