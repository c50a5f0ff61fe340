#include "serial/platform/message_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

// Where a sent message stands; shared by the sender and the queued event.
struct SendState {
    enum Stage { Waiting, Started, Done, Abandoned, Dropped };
    std::mutex Mutex;
    std::condition_variable Changed;
    Stage Current = Waiting;
    LRESULT Result = 0;

    void Finish(Stage stage, LRESULT result = 0) {
        std::lock_guard lock(Mutex);
        Current = stage;
        Result = result;
        Changed.notify_all();
    }
};

QEvent::Type MessageEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// What a queued event does on the window's thread: a message for its procedure, or other work.
using EventWork = std::function<LRESULT(MessageWindow& window)>;

class MessageEvent : public QEvent {
public:
    MessageEvent(EventWork work, std::shared_ptr<SendState> state)
        : QEvent(MessageEventType()), Work(std::move(work)), State(std::move(state)) {}
    // A queued send that is thrown away unhandled (its window was destroyed) releases its sender.
    ~MessageEvent() override {
        if (!State)
            return;
        std::lock_guard lock(State->Mutex);
        if (State->Current == SendState::Waiting) {
            State->Current = SendState::Dropped;
            State->Changed.notify_all();
        }
    }

    const EventWork Work;
    const std::shared_ptr<SendState> State;
};

EventWork MessageWork(UINT msg, WPARAM wParam, LPARAM lParam) {
    return [msg, wParam, lParam](MessageWindow& window) {
        return window.CallProcedure(msg, wParam, lParam);
    };
}

// The windows that exist, by handle. Posting happens under this lock, so a window cannot be
// destroyed between being found and receiving the event (its destruction removes the event).
struct WindowTable {
    std::mutex Mutex;
    std::unordered_map<HWND, MessageWindow*> Windows;
    HWND NextHandle = 1;
};

WindowTable& Table() {
    static auto* table = new WindowTable; // outlives every window, also those destroyed at exit
    return *table;
}

} // namespace

MessageWindow::MessageWindow(WindowProcedure procedure, QObject* parent)
    : QObject(parent), procedure_(std::move(procedure)) {
    auto& table = Table();
    std::lock_guard lock(table.Mutex);
    handle_ = table.NextHandle++;
    table.Windows.emplace(handle_, this);
}

MessageWindow::~MessageWindow() {
    auto& table = Table();
    std::lock_guard lock(table.Mutex);
    table.Windows.erase(handle_);
}

bool MessageWindow::event(QEvent* e) {
    {
        // Message events are made and posted under the table's lock. Taking it here makes that
        // hand-over visible to the thread sanitizer, which cannot see inside Qt's own locking.
        std::lock_guard lock(Table().Mutex);
    }
    if (e->type() != MessageEventType())
        return QObject::event(e);
    auto* message = static_cast<MessageEvent*>(e);
    const auto& state = message->State;
    if (state) {
        std::lock_guard lock(state->Mutex);
        if (state->Current == SendState::Abandoned)
            return true; // the sender gave up before we got here: the message must not run
        state->Current = SendState::Started;
    }
    // Completes the send also when the procedure throws, so the sender is never left waiting.
    struct Completion {
        SendState* State;
        LRESULT Result = 0;
        ~Completion() {
            if (State)
                State->Finish(SendState::Done, Result);
        }
    } completion{state.get()};
    completion.Result = message->Work(*this);
    return true;
}

LRESULT MessageWindow::CallProcedure(UINT msg, WPARAM wParam, LPARAM lParam) {
    return procedure_ ? procedure_(handle_, msg, wParam, lParam) : 0;
}

namespace {

// The sending half shared by messages and work: runs work on the window's thread and waits.
bool SendTimeout(HWND window, const EventWork& work, int timeoutMs, LRESULT* result) {
    auto& table = Table();
    auto state = std::make_shared<SendState>();
    {
        std::unique_lock lock(table.Mutex);
        auto found = table.Windows.find(window);
        if (found == table.Windows.end())
            return false;
        MessageWindow* target = found->second;
        if (target->thread() == QThread::currentThread()) {
            // Only this thread could destroy the window, so it stays valid after the unlock.
            lock.unlock();
            const LRESULT r = work(*target);
            if (result)
                *result = r;
            return true;
        }
        QCoreApplication::postEvent(target, new MessageEvent(work, state));
    }
    std::unique_lock lock(state->Mutex);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    state->Changed.wait_until(lock, deadline, [&] { return state->Current != SendState::Waiting; });
    if (state->Current == SendState::Waiting) {
        state->Current = SendState::Abandoned;
        return false;
    }
    state->Changed.wait(lock, [&] { return state->Current != SendState::Started; });
    if (state->Current != SendState::Done)
        return false;
    if (result)
        *result = state->Result;
    return true;
}

} // namespace

bool SendMessageTimeout(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, int timeoutMs,
                        LRESULT* result) {
    return SendTimeout(window, MessageWork(msg, wParam, lParam), timeoutMs, result);
}

bool SendWorkTimeout(HWND window, const std::function<void()>& work, int timeoutMs) {
    return SendTimeout(
        window,
        [&work](MessageWindow&) -> LRESULT {
            work();
            return 0;
        },
        timeoutMs, nullptr);
}

bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto& table = Table();
    std::lock_guard lock(table.Mutex);
    auto found = table.Windows.find(window);
    if (found == table.Windows.end())
        return false;
    QCoreApplication::postEvent(found->second,
                                new MessageEvent(MessageWork(msg, wParam, lParam), nullptr));
    return true;
}

namespace {
std::atomic<bool> onlyPortMessages{false};
} // namespace

void ProcessOneMessage() {
    if (onlyPortMessages)
        QCoreApplication::sendPostedEvents(nullptr, MessageEventType());
    else
        QCoreApplication::processEvents();
}

void PumpOnlyPortMessages() {
    onlyPortMessages = true;
}

bool IsWindow(HWND window) {
    auto& table = Table();
    std::lock_guard lock(table.Mutex);
    return table.Windows.count(window) != 0;
}
