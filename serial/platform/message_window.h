#pragma once
// Stand-in for a hidden window and its message queue. A MessageWindow lives on the thread that
// created it (the GUI thread); messages reach its procedure as custom events processed by that
// thread's event loop. Windows are named by handles that are never reused, so a message for a
// window that has gone away fails cleanly instead of touching freed memory.

#include <QObject>
#include <cstdint>
#include <functional>

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HWND = std::uintptr_t; // 0 names no window
constexpr HWND NullWindow = 0;

using WindowProcedure = std::function<LRESULT(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)>;

class MessageWindow : public QObject {
public:
    explicit MessageWindow(WindowProcedure procedure, QObject* parent = nullptr);
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;
    ~MessageWindow() override;

    HWND Handle() const { return handle_; }
    // Runs the procedure on the calling thread (the window's own thread).
    LRESULT CallProcedure(UINT msg, WPARAM wParam, LPARAM lParam);

protected:
    bool event(QEvent* e) override;

private:
    WindowProcedure procedure_;
    HWND handle_;
};

// Sends a message and waits for the procedure's result. From the window's own thread the procedure
// is called directly. From another thread the message is queued; if the window's thread has not
// started handling it within timeoutMs the send is abandoned (the message will be skipped, never
// run) and false is returned. Once handling has started the sender waits for it to finish, however
// long it takes, so the sender never goes on while the handler is still running.
bool SendMessageTimeout(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, int timeoutMs,
                        LRESULT* result = nullptr);
// Runs work on the window's thread under the same rules as SendMessageTimeout: directly when
// called there, otherwise queued, abandoned unrun if not started within timeoutMs, and waited for
// once started. One hand-over can so carry any number of messages the work sends to windows there.
bool SendWorkTimeout(HWND window, const std::function<void()>& work, int timeoutMs);
// Queues a message for the window and returns at once; false when the window does not exist.
bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
// Handles the messages pending for the calling thread (one pass of its event loop) and returns.
// Safe on a thread without an event loop, where it does nothing.
void ProcessOneMessage();
// From now on ProcessOneMessage handles only the port windows' messages, nothing of the window
// system: for a stop after the display has gone, whose connection must not be read again.
void PumpOnlyPortMessages();
// True while a window with this handle exists.
bool IsWindow(HWND window);
