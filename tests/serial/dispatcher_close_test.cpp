// Closing from inside an event handler, handler changes during a delivery, and handlers that do
// not answer in time.
#include "tests/serial/dispatcher_fixture.h"

namespace {

class DispatcherClose : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(device.OpenDefault(), 0);
        device.SetAvailThreshold(1);
        handle = device.AddDataTrigger(reinterpret_cast<const BYTE*>("\n"), 1, false);
    }
    TestDevice device;
    Receiver first{device};
    Receiver second{device};
    int handle = 0;
};

TEST_F(DispatcherClose, CloseFromAHandlerIsDeferredAndStopsTheDelivery) {
    first.OnEvent = [&](UINT msg, WPARAM) {
        if (msg == TriggerAvailMessage)
            device.CloseComm();
    };
    device.Feed("ABC\r\nDEF");
    RunPass(device);

    EXPECT_TRUE(device.ClosePending());
    EXPECT_EQ(first.Events, std::vector{Avail(4)});
    EXPECT_TRUE(second.Events.empty()) << "the delivery stops at the close";
    EXPECT_FALSE(device.Delivering());
    EXPECT_EQ(device.DeviceCloses(), 1);
    EXPECT_TRUE(device.HasReceiveBuffer()) << "released only when the dispatch thread ends";

    // The dispatch thread leaves its loop and releases everything on its way out.
    device.CountInDispatchThreadForTest();
    device.SetTeardownOnExit();
    RunOnWorker([&] { device.ThreadFinished(DispatcherThreadKind::Dispatch); });
    EXPECT_FALSE(device.HasReceiveBuffer());
    EXPECT_FALSE(device.HasOutputBuffer());
    EXPECT_FALSE(device.ThreadsActive());
    EXPECT_FALSE(device.TeardownOnExit());
}

TEST_F(DispatcherClose, WindowDeregisteredDuringADeliveryIsRemovedAfterIt) {
    first.OnEvent = [&](UINT msg, WPARAM count) {
        if (msg == TriggerAvailMessage)
            first.Take(static_cast<int>(count));
        device.DeregisterHandlerWindow(second.Handle());
    };
    device.Feed("ab");
    RunPass(device);
    EXPECT_TRUE(second.Events.empty()) << "a window removed during a delivery is passed over";
    EXPECT_EQ(device.HandlerWindowCount(), 1u);
    EXPECT_FALSE(device.RemovalPending());
    EXPECT_TRUE(device.DeliverEvents()) << "the owner still wants events";

    device.UpdateHandlerService(HandlerService::OwnerHasNone);
    EXPECT_FALSE(device.DeliverEvents()) << "its own window alone is served only on request";
}

TEST_F(DispatcherClose, UnansweredSendIsAbandonedAndNeverRuns) {
    device.DeregisterHandlerWindow(second.Handle());
    device.SendTimeoutMs = 20;
    device.Feed("AB");
    // The GUI thread is busy (here: waiting for the pass) and does not handle the message.
    std::thread pass([&] { device.RunCommPass(); });
    pass.join();
    EXPECT_EQ(device.UnreadCount(), 2u) << "nothing taken, nothing lost";
    ProcessOneMessage();
    EXPECT_TRUE(first.Events.empty()) << "the abandoned message is skipped";

    device.SendTimeoutMs = TApdBaseDispatcher::DefaultSendTimeoutMs;
    device.Feed("C\n");
    RunPass(device);
    EXPECT_EQ(first.Events, (std::vector{Avail(3), Data(handle), Avail(1)}));
    EXPECT_EQ(first.Taken, "ABC\n");
}

} // namespace
