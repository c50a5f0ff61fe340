// Messages to a window on the GUI thread: sent from its own thread, from another one, abandoned,
// posted, and to windows that are gone.
#include "serial/platform/message_window.h"
#include "tests/serial/dispatcher_fixture.h"

#include <QCoreApplication>
#include <QThread>

namespace {

struct Call {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    bool OnGuiThread;
};

class MessageWindowTest : public ::testing::Test {
protected:
    MessageWindow window{[this](HWND, UINT msg, WPARAM w, LPARAM l) {
        calls.push_back(
            {msg, w, l, QThread::currentThread() == QCoreApplication::instance()->thread()});
        if (onCall)
            onCall();
        return static_cast<LRESULT>(w * 2);
    }};
    std::vector<Call> calls;
    std::function<void()> onCall;
};

TEST_F(MessageWindowTest, SendFromTheWindowsThreadCallsTheProcedureDirectly) {
    LRESULT result = 0;
    EXPECT_TRUE(SendMessageTimeout(window.Handle(), 0x7E01, 21, 5, 0, &result));
    EXPECT_EQ(result, 42);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].LParam, 5);
}

TEST_F(MessageWindowTest, SendFromAnotherThreadRunsOnTheWindowsThread) {
    LRESULT result = 0;
    bool sent = false;
    RunOnWorker([&] { sent = SendMessageTimeout(window.Handle(), 0x7E02, 4, 7, 3000, &result); });
    EXPECT_TRUE(sent);
    EXPECT_EQ(result, 8);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].OnGuiThread);
}

TEST_F(MessageWindowTest, SendNotStartedInTimeIsAbandonedAndNeverRuns) {
    bool sent = true;
    std::thread worker([&] { sent = SendMessageTimeout(window.Handle(), 0x7E01, 1, 0, 10); });
    worker.join(); // this thread handles nothing meanwhile
    EXPECT_FALSE(sent);
    ProcessOneMessage();
    EXPECT_TRUE(calls.empty());
}

TEST_F(MessageWindowTest, StartedHandlerIsWaitedForBeyondTheTimeOut) {
    // Whether the handler starts within the time-out depends on scheduling; either way the sender
    // must never return while it runs, and must report success exactly when it ran.
    std::atomic<bool> running{false};
    std::atomic<bool> ranToEnd{false};
    onCall = [&] {
        running = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        running = false;
        ranToEnd = true;
    };
    bool sent = false;
    bool runningAtReturn = true;
    RunOnWorker([&] {
        sent = SendMessageTimeout(window.Handle(), 0x7E01, 1, 0, 50);
        runningAtReturn = running;
    });
    EXPECT_FALSE(runningAtReturn);
    EXPECT_EQ(sent, ranToEnd.load());
    ProcessOneMessage();
    EXPECT_EQ(calls.size(), sent ? 1u : 0u);
}

TEST_F(MessageWindowTest, PostedMessagesArriveInOrder) {
    EXPECT_TRUE(PostMessage(window.Handle(), 0x7E0A, 0, 1));
    EXPECT_TRUE(PostMessage(window.Handle(), 0x7E0A, 0, 2));
    EXPECT_TRUE(calls.empty()) << "posting does not wait";
    ProcessOneMessage();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].LParam, 1);
    EXPECT_EQ(calls[1].LParam, 2);
}

TEST(MessageWindow, MessagesForAWindowThatIsGoneFail) {
    int calls = 0;
    auto window = std::make_unique<MessageWindow>([&](HWND, UINT, WPARAM, LPARAM) {
        ++calls;
        return LRESULT{0};
    });
    const HWND handle = window->Handle();
    EXPECT_TRUE(IsWindow(handle));
    EXPECT_TRUE(PostMessage(handle, 1, 0, 0));
    window.reset(); // drops the message still queued
    ProcessOneMessage();
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_FALSE(PostMessage(handle, 1, 0, 0));
    bool sent = true;
    RunOnWorker([&] { sent = SendMessageTimeout(handle, 1, 0, 0, 1000); });
    EXPECT_FALSE(sent);
    EXPECT_FALSE(SendMessageTimeout(NullWindow, 1, 0, 0, 0));
}

} // namespace
