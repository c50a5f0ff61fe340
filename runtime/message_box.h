#pragma once
// Every message box of the program goes through here, so that tests can read what would be shown.

#include <exception>
#include <functional>
#include <string>

enum class MessageIcon { Information, Warning, Error, Question };

// One box with a single OK button, or a question with Yes and No. Text is 8-bit ANSI; a CR in it
// is a line break.
struct MessageBoxRequest {
    std::string Caption;
    std::string Text;
    MessageIcon Icon = MessageIcon::Error;
};

using MessagePresenter = std::function<void(const MessageBoxRequest&)>;
using QuestionPresenter = std::function<bool(const MessageBoxRequest&)>;

// Shows the box and returns at once: no box waits for a person while a port, a retry or a timer
// has work to do. The box is modal to the application's windows, so the operator reads it before
// acting on them. `closed` runs on the GUI thread once it has been closed (with a presenter
// installed, as soon as the presenter returns).
void ShowMessageBox(const MessageBoxRequest& request, std::function<void()> closed = {});
// Installs a presenter in place of the real box; an empty one restores it. Returns the previous
// one.
MessagePresenter SetMessagePresenter(MessagePresenter presenter);

// Asks a question with Yes and No, No the default, and waits for the answer: only for the
// operator's own action, which cannot go on without it. True for Yes.
bool AskYesNo(const MessageBoxRequest& request);
QuestionPresenter SetQuestionPresenter(QuestionPresenter presenter);

// The application's standard error report: caption "Tolvane", error icon, OK, the message with a
// full stop added when it ends in a letter or digit.
void ShowException(const std::exception& error);
std::string ExceptionReportText(const std::string& message);

// The system's exclamation beep. Counted, so that tests can see that it sounded.
void MessageBeep();
int MessageBeepCount();

// True on the thread that runs the application's event loop.
bool IsMainThread();
