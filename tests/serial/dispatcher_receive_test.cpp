// The order and counts of the events that received bytes produce, and taking bytes from the ring.
#include "tests/serial/dispatcher_fixture.h"

namespace {

class DispatcherReceive : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(device.OpenDefault(), 0);
        device.SetAvailThreshold(1);
    }
    int AddTrigger(const std::string& pattern, bool ignoreCase = false) {
        return device.AddDataTrigger(reinterpret_cast<const BYTE*>(pattern.data()),
                                     static_cast<DWORD>(pattern.size()), ignoreCase);
    }
    // Feeds each chunk and runs one pass per chunk.
    void Play(const std::vector<std::string>& chunks) {
        for (const auto& chunk : chunks) {
            device.Feed(chunk);
            RunPass(device);
        }
    }
    // Moves the ring's head and tail to position by receiving and taking filler bytes.
    void MoveRingTo(DWORD position) {
        device.Feed(Bytes(position, '.'));
        RunPass(device);
        receiver.Events.clear();
        receiver.Taken.clear();
        ASSERT_EQ(device.UnreadCount(), 0u);
    }

    TestDevice device;
    Receiver receiver{device};
};

struct OrderCase {
    const char* Name;
    std::string Pattern;
    std::vector<std::string> Chunks;
    std::vector<ReceivedEvent> Expected;
};

class DispatcherEventOrder : public DispatcherReceive,
                             public ::testing::WithParamInterface<OrderCase> {};

TEST_P(DispatcherEventOrder, DeliversEventsInTheLineOrder) {
    const auto& c = GetParam();
    const int handle = AddTrigger(c.Pattern);
    ASSERT_EQ(handle, 8);
    Play(c.Chunks);
    EXPECT_EQ(receiver.Events, c.Expected);
    std::string all;
    for (const auto& chunk : c.Chunks)
        all += chunk;
    EXPECT_EQ(receiver.Taken, all) << "every byte is offered exactly once";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, DispatcherEventOrder,
    ::testing::Values(
        OrderCase{"LineThenRest", "\n", {"ABC\r\nDEF"}, {Avail(4), Data(8), Avail(4)}},
        OrderCase{"LoneLineFeed", "\n", {"XY", "\n"}, {Avail(2), Data(8), Avail(1)}},
        OrderCase{"PatternSplitOverTwoReads", "ABC", {"AB", "C"}, {Avail(2), Data(8, 3), Avail(1)}},
        OrderCase{"TwoLinesInOneRead",
                  "\n",
                  {"a\nbc\n"},
                  {Avail(1), Data(8), Avail(3), Data(8), Avail(1)}},
        OrderCase{"NoMatch", "\n", {"abc", "de"}, {Avail(3), Avail(2)}}),
    [](const auto& info) { return info.param.Name; });

TEST_F(DispatcherReceive, HandlersTakingFewerBytesLeaveTheRestForLater) {
    Receiver second{device};
    for (Receiver* r : {&receiver, &second})
        r->OnEvent = [r](UINT msg, WPARAM) {
            if (msg == TriggerAvailMessage)
                r->Take(3);
        };
    Play({"ABCDE"});
    EXPECT_EQ(receiver.Taken, "ABC");
    EXPECT_EQ(second.Taken, "ABC") << "both handlers see the same bytes";
    EXPECT_EQ(device.UnreadCount(), 2u) << "the tail moves by the largest take";

    RunPass(device);
    EXPECT_EQ(receiver.Events, std::vector{Avail(5)}) << "no new offer before new bytes";

    for (Receiver* r : {&receiver, &second})
        r->OnEvent = nullptr;
    Play({"F"});
    EXPECT_EQ(receiver.Events, (std::vector{Avail(5), Avail(3)}));
    EXPECT_EQ(receiver.Taken, "ABCDEF");
}

TEST_F(DispatcherReceive, PatternAcrossTheEndOfTheRingMatches) {
    const int handle = AddTrigger("XYZ");
    MoveRingTo(ReceiveBufferSize - 2);
    // Two reads in one pass: two bytes up to the end of the ring, one from its start.
    Play({"XYZ"});
    EXPECT_EQ(receiver.Events, (std::vector{Data(handle, 3), Avail(3)}));
    EXPECT_EQ(receiver.Taken, "XYZ");
}

TEST_F(DispatcherReceive, FailedReadBringsNoBytes) {
    MoveRingTo(ReceiveBufferSize - 2);
    device.FailReadNumber(2); // the read at the start of the ring
    device.Feed("abcd");
    RunOnWorker([&] { device.FillReceiveBuffer(); });
    EXPECT_EQ(device.ReadErrors(), 1);
    EXPECT_EQ(device.UnreadCount(), 2u);
    RunPass(device);
    EXPECT_EQ(receiver.Taken, "abcd");
}

TEST_F(DispatcherReceive, FullRingStopsReadingUntilBytesAreTaken) {
    receiver.OnEvent = [](UINT, WPARAM) {}; // takes nothing
    device.Feed(Bytes(9000, 'x'));
    RunPass(device);
    EXPECT_TRUE(device.ReceiveFull());
    EXPECT_EQ(device.UnreadCount(), ReceiveBufferSize);
    EXPECT_EQ(device.Pending(), 9000 - ReceiveBufferSize);
    EXPECT_EQ(receiver.Events, std::vector{Avail(ReceiveBufferSize)});

    RunPass(device);
    EXPECT_EQ(device.Pending(), 9000 - ReceiveBufferSize) << "nothing read while full";
    EXPECT_EQ(receiver.Events.size(), 1u) << "an untouched full ring is not offered again";

    BYTE c = 0;
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(device.GetChar(c), 0);
    EXPECT_FALSE(device.ReceiveFull());
    RunPass(device);
    EXPECT_EQ(device.Pending(), 9000 - ReceiveBufferSize - 100);
    EXPECT_EQ(receiver.Events.back(), Avail(ReceiveBufferSize));
}

TEST_F(DispatcherReceive, FullRingIsOfferedAgainAfterBeingEmptied) {
    // The head comes back to where the last offer was made; the ring must still be offered.
    device.Feed(Bytes(2 * ReceiveBufferSize, 'x'));
    RunPass(device);
    RunPass(device);
    EXPECT_EQ(receiver.Events, (std::vector{Avail(ReceiveBufferSize), Avail(ReceiveBufferSize)}));
    EXPECT_EQ(receiver.Taken.size(), 2 * ReceiveBufferSize);
}

TEST_F(DispatcherReceive, ReadFillingTheWholeRingIsScannedForTriggers) {
    const int handle = AddTrigger("\n");
    MoveRingTo(100);
    std::string lines;
    while (lines.size() < ReceiveBufferSize)
        lines += Bytes(62, 'r') + "\r\n";
    Play({lines});
    const auto dataEvents =
        std::count(receiver.Events.begin(), receiver.Events.end(), Data(handle));
    EXPECT_EQ(dataEvents, static_cast<long>(ReceiveBufferSize / 64));
    EXPECT_EQ(receiver.Taken, lines);
}

TEST_F(DispatcherReceive, GetCharInsideAnEventReadsAheadAndTheDeliveryMovesTheTail) {
    DWORD unreadInside = 0;
    DWORD receivedInside = 0;
    int overTake = 0;
    receiver.OnEvent = [&](UINT msg, WPARAM count) {
        if (msg != TriggerAvailMessage)
            return;
        receiver.Take(static_cast<int>(count) - 1);
        unreadInside = device.UnreadCount();
        receivedInside = device.ReceivedCount();
        BYTE c = 0;
        while (device.GetChar(c) == 0)
            ++overTake;
    };
    Play({"hello"});
    EXPECT_EQ(unreadInside, 5u) << "the tail does not move during the event";
    EXPECT_EQ(receivedInside, 1u);
    EXPECT_EQ(overTake, 1) << "read-ahead stops at the last unread byte";
    EXPECT_EQ(device.UnreadCount(), 0u);

    BYTE c = 'q';
    EXPECT_EQ(device.GetChar(c), TApdBaseDispatcher::ecBufferIsEmpty);
    EXPECT_EQ(c, 'q');
}

TEST_F(DispatcherReceive, FlushReceiveDropsUnreadBytesAndPartialMatches) {
    const int handle = AddTrigger("OK");
    receiver.OnEvent = [](UINT, WPARAM) {};
    Play({"xxO"});
    EXPECT_EQ(device.FlushReceive(), 0);
    EXPECT_EQ(device.UnreadCount(), 0u);
    receiver.OnEvent = nullptr;
    Play({"K"});
    EXPECT_EQ(std::count(receiver.Events.begin(), receiver.Events.end(), Data(handle, 2)), 0);
}

TEST_F(DispatcherReceive, EventsStopWhenDeliveryIsSwitchedOff) {
    device.UpdateHandlerService(HandlerService::OwnerHasNone);
    Play({"abc"});
    EXPECT_TRUE(receiver.Events.empty());
    EXPECT_EQ(device.UnreadCount(), 3u);
    device.UpdateHandlerService(HandlerService::OwnerHasHandlers);
    Play({"d"});
    EXPECT_EQ(receiver.Events, std::vector{Avail(4)});
}

TEST_F(DispatcherReceive, HandlerProcsRunOnTheDispatchThreadBeforeWindows) {
    std::vector<UINT> procEvents;
    std::thread::id procThread;
    const int id = device.RegisterHandlerProc([&](UINT msg, WPARAM, LPARAM lParam) {
        procEvents.push_back(msg);
        procThread = std::this_thread::get_id();
        EXPECT_EQ(lParam >> 16, device.DispatcherNumber);
        EXPECT_TRUE(receiver.Events.empty()) << "procedures are served first";
    });
    Play({"ab"});
    EXPECT_EQ(procEvents, std::vector<UINT>{TriggerAvailMessage});
    EXPECT_NE(procThread, std::this_thread::get_id());
    EXPECT_EQ(receiver.Events, std::vector{Avail(2)});
    device.DeregisterHandlerProc(id);
    Play({"c"});
    EXPECT_EQ(procEvents.size(), 1u);
}

} // namespace
