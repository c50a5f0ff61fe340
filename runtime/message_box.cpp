#include "runtime/message_box.h"

#include "runtime/ansi_text.h"
#include "runtime/system_log.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <atomic>
#include <cctype>

namespace {

MessagePresenter& Presenter() {
    static MessagePresenter presenter;
    return presenter;
}

std::atomic<int> beepCount{0};

QString DisplayText(const std::string& text) {
    QString shown = AnsiToQString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QChar('\r'), QChar('\n'));
    return shown;
}

} // namespace

void ShowMessageBox(const MessageBoxRequest& request) {
    if (request.Icon == MessageIcon::Error || request.Icon == MessageIcon::Warning)
        SystemLog(request.Icon == MessageIcon::Error ? LogLevel::Error : LogLevel::Warning,
                  request.Text);
    if (Presenter()) {
        Presenter()(request);
        return;
    }
    QMessageBox::Icon icon = QMessageBox::Critical;
    if (request.Icon == MessageIcon::Information)
        icon = QMessageBox::Information;
    else if (request.Icon == MessageIcon::Warning)
        icon = QMessageBox::Warning;
    QMessageBox box(icon, AnsiToQString(request.Caption), DisplayText(request.Text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

MessagePresenter SetMessagePresenter(MessagePresenter presenter) {
    MessagePresenter previous = std::move(Presenter());
    Presenter() = std::move(presenter);
    return previous;
}

std::string ExceptionReportText(const std::string& message) {
    std::string text = message;
    if (!text.empty() && std::isalnum(static_cast<unsigned char>(text.back())))
        text.push_back('.');
    return text;
}

void ShowException(const std::exception& error) {
    ShowMessageBox({"Tolvane", ExceptionReportText(error.what()), MessageIcon::Error});
}

void MessageBeep() {
    ++beepCount;
    QApplication::beep();
}

int MessageBeepCount() {
    return beepCount.load();
}

bool IsMainThread() {
    return QCoreApplication::instance() != nullptr &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}
