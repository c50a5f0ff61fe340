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

// Shows the box through the installed presenter, else through the window's boxes, else (a
// program without windows) as one line on standard error. Errors and warnings also go to the
// system log.
void ShowMessageBox(const MessageBoxRequest& request);
// Installs a presenter in place of the real box; an empty one restores it. Returns the previous
// one.
MessagePresenter SetMessagePresenter(MessagePresenter presenter);

// The application's standard error report: caption "Tolvane", error icon, OK, the message with a
// full stop added when it ends in a letter or digit.
void ShowException(const std::exception& error);
std::string ExceptionReportText(const std::string& message);

// How the windows show a box and sound the beep; set by the window layer, which alone uses
// widgets, so that a program without windows needs no display library.
struct WindowBoxes {
    MessagePresenter Show;
    std::function<void()> Beep;
};
void SetWindowBoxes(WindowBoxes window);

// The system's exclamation beep, where there is a window. Counted, so that tests can see that it
// sounded.
void MessageBeep();
int MessageBeepCount();

// True on the thread that runs the application's event loop.
bool IsMainThread();
