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

QuestionPresenter& Questioner() {
    static QuestionPresenter presenter;
    return presenter;
}

std::atomic<int> beepCount{0};

QString DisplayText(const std::string& text) {
    QString shown = AnsiToQString(text);
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

} // namespace

void ShowMessageBox(const MessageBoxRequest& request, std::function<void()> closed) {
    if (request.Icon == MessageIcon::Error || request.Icon == MessageIcon::Warning)
        SystemLog(request.Icon == MessageIcon::Error ? LogLevel::Error : LogLevel::Warning,
                  request.Text);
    if (Presenter()) {
        Presenter()(request);
        if (closed)
            closed();
        return;
    }
    // Without widgets (no QApplication) the system log is the only place the box can go.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        if (closed)
            closed();
        return;
    }
    auto* box = new QMessageBox(BoxIcon(request.Icon), AnsiToQString(request.Caption),
                                DisplayText(request.Text), QMessageBox::Ok, BoxParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    if (closed)
        QObject::connect(box, &QMessageBox::finished, box,
                         [closed = std::move(closed)] { closed(); });
    box->show();
}

MessagePresenter SetMessagePresenter(MessagePresenter presenter) {
    MessagePresenter previous = std::move(Presenter());
    Presenter() = std::move(presenter);
    return previous;
}

bool AskYesNo(const MessageBoxRequest& request) {
    if (Questioner())
        return Questioner()(request);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return false;
    QMessageBox box(BoxIcon(request.Icon), AnsiToQString(request.Caption),
                    DisplayText(request.Text), QMessageBox::Yes | QMessageBox::No, BoxParent());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QuestionPresenter SetQuestionPresenter(QuestionPresenter presenter) {
    QuestionPresenter previous = std::move(Questioner());
    Questioner() = std::move(presenter);
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
