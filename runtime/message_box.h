#pragma once
// Every message box of the program goes through here, so that tests can read what would be shown.

#include <exception>
#include <functional>
#include <string>

enum class MessageIcon { Information, Warning, Error };

// One modal box with a single OK button. Text is 8-bit ANSI; a CR in it is a line break.
struct MessageBoxRequest {
    std::string Caption;
    std::string Text;
    MessageIcon Icon = MessageIcon::Error;
};

using MessagePresenter = std::function<void(const MessageBoxRequest&)>;

// Shows the box modally (QMessageBox) unless a presenter has been installed.
void ShowMessageBox(const MessageBoxRequest& request);
// Installs a presenter in place of the real box; an empty one restores it. Returns the previous
// one.
MessagePresenter SetMessagePresenter(MessagePresenter presenter);

// The application's standard error report: caption "Tolvane", error icon, OK, the message with a
// full stop added when it ends in a letter or digit.
void ShowException(const std::exception& error);
std::string ExceptionReportText(const std::string& message);

// The system's exclamation beep. Counted, so that tests can see that it sounded.
void MessageBeep();
int MessageBeepCount();

// True on the thread that runs the application's event loop.
bool IsMainThread();
