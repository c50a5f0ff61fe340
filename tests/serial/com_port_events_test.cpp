// The com port's events: bytes played on a pseudo-terminal's master reach the handlers in order,
// the port window routes every message kind, handler failures are reported, and a line that goes
// away mid-report harms nothing.
#include "runtime/message_box.h"
#include "serial/apd_com_port.h"
#include "serial/apd_exceptions.h"
#include "tests/serial/com_port_test_support.h"
#include "tests/support/message_box_recorder.h"

#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

// The text the avail handlers took between consecutive data events.
std::vector<std::string> LinesByDataEvent(const std::vector<PortEvent>& events) {
    std::vector<std::string> lines;
    std::string text;
    for (const auto& e : events) {
        if (e.Kind == 'D') {
            lines.push_back(text);
            text.clear();
        }
        text += e.Taken;
    }
    return lines;
}

TEST(ComPortEvents, BytesArriveAsAvailAndDataEventsInOrder) {
    RecordingPort p(70);
    const auto lf = p.Port.AddDataTrigger("\n", false);
    ASSERT_TRUE(p.Line.Write("ABC\r\nDEF"));
    ASSERT_TRUE(WaitUntil([&] { return p.Taken() == "ABC\r\nDEF"; }));
    EXPECT_EQ(TakenBeforeData(p.Events, lf), "ABC\r");
    EXPECT_EQ(LinesByDataEvent(p.Events), std::vector<std::string>{"ABC\r"});
    for (const auto& e : p.Events)
        if (e.Kind == 'A') {
            EXPECT_EQ(e.Value, e.Taken.size()) << "the count offered is what could be taken";
        }
}

TEST(ComPortEvents, EveryLineOfABurstGetsItsDataEvent) {
    RecordingPort p(71);
    const auto lf = p.Port.AddDataTrigger("\n", false);
    std::string burst;
    std::vector<std::string> expected;
    for (int i = 0; i < 200; ++i) {
        const std::string line = "LOT " + std::to_string(i) + " OK\r";
        expected.push_back(i == 0 ? line : "\n" + line);
        burst += line + "\n";
    }
    ASSERT_TRUE(p.Line.Write(burst));
    ASSERT_TRUE(WaitUntil([&] { return LinesByDataEvent(p.Events).size() == expected.size(); }));
    const auto lines = LinesByDataEvent(p.Events);
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], expected[i]) << i;
    EXPECT_EQ(TakenBeforeData(p.Events, lf), "LOT 0 OK\r");
}

TEST(ComPortEvents, EventsTheGuiThreadWasTooBusyToTakeComeLaterAndNoneIsLost) {
    RecordingPort p(72);
    const auto lf = p.Port.AddDataTrigger("\n", false);
    p.Port.Dispatcher()->SendTimeoutMs = 20;
    ASSERT_TRUE(p.Line.Write("ONE\r\nTWO\r\n"));
    // The GUI thread does not look at its events for far longer than the dispatcher waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(WaitUntil([&] { return LinesByDataEvent(p.Events).size() == 2; }));
    PumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(LinesByDataEvent(p.Events), (std::vector<std::string>{"ONE\r", "\nTWO\r"}));
    EXPECT_EQ(p.Taken(), "ONE\r\nTWO\r\n");
    EXPECT_EQ(TakenBeforeData(p.Events, lf), "ONE\r");
}

TEST(ComPortEvents, GetCharBeyondTheOfferedCountRaisesBufferIsEmpty) {
    RecordingPort p(72);
    int offers = 0;
    int raised = 0;
    std::string taken;
    p.Port.SetOnTriggerAvail([&](TApdCustomComPort& cp, std::uint16_t count) {
        ++offers;
        for (int i = 0; i < count; ++i)
            taken += cp.GetChar();
        try {
            cp.GetChar();
        } catch (const EBufferIsEmpty& error) {
            EXPECT_EQ(error.ErrorCode, -3007);
            ++raised;
        }
    });
    p.Port.AddDataTrigger("\n", false);
    ASSERT_TRUE(p.Line.Write("xyz"));
    ASSERT_TRUE(WaitUntil([&] { return taken == "xyz"; }));
    EXPECT_GE(offers, 1);
    EXPECT_EQ(raised, offers) << "every call past the count raises";
}

TEST(ComPortEvents, AnExceptionFromAHandlerIsReportedAndDeliveryGoesOn) {
    MessageBoxRecorder boxes;
    RecordingPort p(73);
    // The data event can take the LF read ahead; the next call finds nothing and raises.
    p.AfterData = [](TApdCustomComPort& cp) {
        for (;;)
            cp.GetChar();
    };
    const auto lf = p.Port.AddDataTrigger("\n", false);
    ASSERT_TRUE(p.Line.Write("one\n"));
    ASSERT_TRUE(WaitUntil([&] { return !boxes.Boxes.empty(); }));
    EXPECT_EQ(boxes.Boxes[0].Caption, "Tolvane");
    EXPECT_EQ(boxes.Boxes[0].Text, "Buffer is empty.");
    EXPECT_EQ(boxes.Boxes[0].Icon, MessageIcon::Error);
    EXPECT_EQ(p.Port.State(), ComPortState::Open);

    p.AfterData = nullptr;
    p.Events.clear();
    ASSERT_TRUE(p.Line.Write("two\n"));
    ASSERT_TRUE(WaitUntil([&] { return HasData(p.Events, lf); }));
    EXPECT_EQ(TakenBeforeData(p.Events, lf), "two") << "the handler took the LF before it failed";
}

// The port window's routing: what each message raises, in order.
struct RoutingCase {
    const char* Name;
    UINT Msg;
    WPARAM WParam;
    WORD Low;
    DWORD LineErrors;
    std::vector<std::string> Raised;
};

class PortWindowRouting : public ::testing::TestWithParam<RoutingCase> {};

TEST_P(PortWindowRouting, RaisesTheGenericEventThenTheSpecificOnes) {
    const RoutingCase& c = GetParam();
    PtyPair line(74);
    TApdComPort port(nullptr);
    port.SetComNumber(74);
    std::vector<std::string> raised;
    auto note = [&](std::string event, auto... numbers) {
        ((event += " " + std::to_string(numbers)), ...);
        raised.push_back(event);
    };
    port.SetOnTrigger(
        [&](TApdCustomComPort&, std::uint16_t msg, std::uint16_t handle, std::uint16_t data) {
            std::ostringstream name;
            name << "Trigger " << std::hex << msg;
            note(name.str(), handle, data);
        });
    port.SetOnTriggerAvail([&](TApdCustomComPort&, std::uint16_t n) { note("Avail", n); });
    port.SetOnTriggerData([&](TApdCustomComPort&, std::uint16_t h) { note("Data", h); });
    port.SetOnTriggerTimer([&](TApdCustomComPort&, std::uint16_t h) { note("Timer", h); });
    port.SetOnTriggerStatus([&](TApdCustomComPort&, std::uint16_t h) { note("Status", h); });
    port.SetOnTriggerLineError(
        [&](TApdCustomComPort&, std::uint16_t e, bool b) { note("LineError", e, b); });
    port.SetOnTriggerModemStatus([&](QObject&) { note("ModemStatus"); });
    port.SetOnTriggerOutbuffFree([&](QObject&) { note("OutbuffFree"); });
    port.SetOnTriggerOutbuffUsed([&](QObject&) { note("OutbuffUsed"); });
    port.SetOnTriggerOutSent([&](QObject&) { note("OutSent"); });
    port.SetOpen(true);
    TApdBaseDispatcher& d = *port.Dispatcher();
    d.SetLineErrorsForTest(c.LineErrors);
    const LPARAM lParam = static_cast<LPARAM>(d.DispatcherNumber) * 65536 + c.Low;
    LRESULT result = -1;
    ASSERT_TRUE(SendMessageTimeout(port.PortWindow(), c.Msg, c.WParam, lParam, 3000, &result));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(raised, c.Raised);
}

INSTANTIATE_TEST_SUITE_P(
    ComPortEvents, PortWindowRouting,
    ::testing::Values(
        RoutingCase{"Avail", 0x7E01, 5, 0, 0, {"Trigger 7e01 5 5", "Avail 5"}},
        RoutingCase{"Data", 0x7E02, 16, 3, 0, {"Trigger 7e02 16 3", "Data 16"}},
        RoutingCase{"Timer", 0x7E03, 24, 0, 0, {"Trigger 7e03 24 0", "Timer 24"}},
        RoutingCase{
            "ModemStatus", 0x7E04, 33, 0, 0, {"Trigger 7e04 33 0", "Status 33", "ModemStatus"}},
        // The break is taken before the error, so a break alone is no error.
        RoutingCase{"LineBreak",
                    0x7E04,
                    34,
                    0,
                    CE_BREAK,
                    {"Trigger 7e04 34 0", "Status 34", "LineError 0 1"}},
        RoutingCase{"Overrun",
                    0x7E04,
                    34,
                    0,
                    CE_OVERRUN | CE_FRAME,
                    {"Trigger 7e04 34 0", "Status 34", "LineError 2 0"}},
        RoutingCase{
            "OutbuffFree", 0x7E04, 35, 700, 0, {"Trigger 7e04 35 700", "Status 35", "OutbuffFree"}},
        RoutingCase{
            "OutbuffUsed", 0x7E04, 36, 3, 0, {"Trigger 7e04 36 3", "Status 36", "OutbuffUsed"}},
        RoutingCase{"OutSent", 0x7E04, 37, 0, 0, {"Trigger 7e04 37 0", "Status 37", "OutSent"}},
        RoutingCase{"UnknownStatusKind", 0x7E04, 38, 0, 0, {"Trigger 7e04 38 0", "Status 38"}},
        RoutingCase{"OtherMessage", 0x7E05, 1, 0, 0, {}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ComPortEvents, AMessageNamingAnotherDispatcherRaisesNothing) {
    PtyPair first(75), second(76);
    TApdComPort a(nullptr), b(nullptr);
    a.SetComNumber(75);
    b.SetComNumber(76);
    int raised = 0;
    a.SetOnTrigger([&](TApdCustomComPort&, auto, auto, auto) { ++raised; });
    a.SetOpen(true);
    b.SetOpen(true);
    const LPARAM others = static_cast<LPARAM>(b.Dispatcher()->DispatcherNumber) * 65536;
    SendMessageTimeout(a.PortWindow(), TriggerDataMessage, 8, others, 3000);
    SendMessageTimeout(a.PortWindow(), TriggerDataMessage, 8, 0x7FFF0000, 3000);
    EXPECT_EQ(raised, 0);
}

TEST(ComPortEvents, ALineThatGoesAwayMidReportHarmsNothing) {
    RecordingPort gone(77);
    RecordingPort other(78);
    gone.Port.AddDataTrigger("\n", false);
    const auto lf = other.Port.AddDataTrigger("\n", false);
    auto* dispatcher = gone.Port.Dispatcher();
    ASSERT_TRUE(gone.Line.Write("HALF A LI"));
    ASSERT_TRUE(WaitUntil([&] { return gone.Taken() == "HALF A LI"; }));
    gone.Line.Close();
    // The comm thread's wait fails and it ends; the dispatch thread keeps its passes.
    ASSERT_TRUE(WaitUntil([&] { return !dispatcher->ThreadRunning(DispatcherThreadKind::Comm); }));
    PumpFor(std::chrono::milliseconds(120));
    EXPECT_TRUE(dispatcher->ThreadRunning(DispatcherThreadKind::Dispatch));
    EXPECT_TRUE(dispatcher->ThreadsActive());
    EXPECT_EQ(gone.Port.State(), ComPortState::Open);

    ASSERT_TRUE(other.Line.Write("still here\n"));
    ASSERT_TRUE(WaitUntil([&] { return HasData(other.Events, lf); }));
    EXPECT_EQ(TakenBeforeData(other.Events, lf), "still here");

    gone.Port.SetOpen(false);
    EXPECT_EQ(gone.Port.State(), ComPortState::Closed);
    EXPECT_EQ(gone.Port.Dispatcher(), nullptr);
}

} // namespace

TEST(ComPortEvents, PortThreadTriggersTakeEveryLineWhileTheGuiThreadIsBusy) {
    RecordingPort p(74);
    p.Port.SetOnTriggerAvail({});
    p.Port.SetOnTriggerData({});
    bool lostOnGuiThread = false;
    p.Port.SetOnDeviceLost([&](QObject&) { lostOnGuiThread = IsMainThread(); });
    const auto lf = p.Port.AddDataTrigger("\n", false);
    std::mutex mutex;
    std::vector<PortEvent> events;
    bool onGuiThread = false;
    p.Port.ServeTriggersOnPortThread([&](TApdBaseDispatcher& d, UINT msg, std::uint16_t value) {
        std::lock_guard lock(mutex);
        onGuiThread = onGuiThread || IsMainThread();
        PortEvent e{msg == TriggerAvailMessage ? 'A' : 'D', value, {}};
        for (BYTE c = 0; e.Kind == 'A' && e.Taken.size() < value && d.GetChar(c) == 0;)
            e.Taken += static_cast<char>(c);
        events.push_back(e);
    });
    ASSERT_TRUE(p.Line.Write("ONE\r\nTWO\r\n"));
    // The GUI thread handles no event meanwhile.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto dataEvents = [&] {
        std::lock_guard lock(mutex);
        return LinesByDataEvent(events);
    };
    while (dataEvents().size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(dataEvents(), (std::vector<std::string>{"ONE\r", "\nTWO\r"}));
    {
        std::lock_guard lock(mutex);
        EXPECT_FALSE(onGuiThread);
        EXPECT_EQ(TakenBeforeData(events, lf), "ONE\r");
    }
    EXPECT_TRUE(p.Events.empty()) << "the GUI thread's trigger handlers are not served";
    p.Line.Close();
    EXPECT_TRUE(WaitUntil([&] { return lostOnGuiThread; })) << "a lost device still reaches it";
}
