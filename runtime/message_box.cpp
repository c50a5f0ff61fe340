#include "runtime/message_box.h"

#include "runtime/system_log.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <cctype>
#include <cstdio>

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

WindowBoxes& Window() {
    static WindowBoxes window;
    return window;
}

// One line on standard error.
void SayOnStandardError(const MessageBoxRequest& request) {
    const std::string text = OnOneLine(request.Text);
    std::fprintf(stderr, "tolvane: %s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace

void ShowMessageBox(const MessageBoxRequest& request, std::function<void()> closed) {
    const bool logged = request.Icon == MessageIcon::Error || request.Icon == MessageIcon::Warning;
    if (logged)
        SystemLog(request.Icon == MessageIcon::Error ? LogLevel::Error : LogLevel::Warning,
                  request.Text);
    if (Presenter()) {
        Presenter()(request);
        if (closed)
            closed();
        return;
    }
    if (Window().Show) {
        Window().Show(request, std::move(closed));
        return;
    }
    // Without windows, standard error and the system log are where the box can go; an echoed
    // log entry has said it there already.
    if (!logged || !SystemLogEchoed())
        SayOnStandardError(request);
    if (closed)
        closed();
}

void SetWindowBoxes(WindowBoxes window) {
    Window() = std::move(window);
}

MessagePresenter SetMessagePresenter(MessagePresenter presenter) {
    MessagePresenter previous = std::move(Presenter());
    Presenter() = std::move(presenter);
    return previous;
}

bool AskYesNo(const MessageBoxRequest& request) {
    if (Questioner())
        return Questioner()(request);
    return Window().Ask ? Window().Ask(request) : false;
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
    if (Window().Beep)
        Window().Beep();
}

int MessageBeepCount() {
    return beepCount.load();
}

bool IsMainThread() {
    return QCoreApplication::instance() != nullptr &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}
