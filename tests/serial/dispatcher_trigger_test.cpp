// Trigger handles, lengths, removal, snapshots, the matching of patterns, status and timer
// triggers.
#include "tests/serial/dispatcher_fixture.h"

namespace {

int AddTrigger(TApdBaseDispatcher& d, const std::string& pattern, bool ignoreCase = false) {
    return d.AddDataTrigger(reinterpret_cast<const BYTE*>(pattern.data()),
                            static_cast<DWORD>(pattern.size()), ignoreCase);
}

class DispatcherTriggers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(device.OpenDefault(), 0);
        device.SetAvailThreshold(1);
    }
    TestDevice device;
};

TEST_F(DispatcherTriggers, HandlesAreMultiplesOfEightFromEightAfterEachOpen) {
    EXPECT_EQ(AddTrigger(device, "\n"), 8);
    EXPECT_EQ(AddTrigger(device, "\r"), 16);
    device.CloseComm();
    ASSERT_EQ(device.OpenDefault(), 0);
    EXPECT_EQ(AddTrigger(device, "\n"), 8);
}

TEST_F(DispatcherTriggers, AfterTheSequenceRunsOutTheFirstFreeHandleIsTaken) {
    for (int i = 1; i < 4096; ++i)
        ASSERT_EQ(AddTrigger(device, "x"), 8 * i);
    ASSERT_EQ(device.RemoveTrigger(24), 0);
    ASSERT_EQ(device.RemoveTrigger(800), 0);
    EXPECT_EQ(AddTrigger(device, "x"), 24);
    EXPECT_EQ(AddTrigger(device, "x"), 800);
    EXPECT_EQ(AddTrigger(device, "x"), 32768);
}

TEST_F(DispatcherTriggers, RestoredTriggersKeepTheirHandlesAndNewOnesAvoidThem) {
    AddTrigger(device, "\n");
    AddTrigger(device, "\r");
    device.SetAvailThreshold(3);
    TriggerSnapshot saved;
    device.SnapshotTriggers(saved);
    device.CloseComm();

    ASSERT_EQ(device.OpenDefault(), 0);
    EXPECT_EQ(device.AvailThreshold(), 0u);
    device.RestoreTriggers(saved);
    EXPECT_EQ(device.AvailThreshold(), 3u);
    TriggerSnapshot restored;
    device.SnapshotTriggers(restored);
    ASSERT_EQ(restored.DataTriggers.size(), 2u);
    EXPECT_EQ(restored.DataTriggers[1].Handle, 16u);
    EXPECT_EQ(AddTrigger(device, "x"), 24) << "8 and 16 belong to restored triggers";
    TApdBaseDispatcher::FreeTriggerSnapshot(saved);
    EXPECT_TRUE(saved.DataTriggers.empty());
}

TEST_F(DispatcherTriggers, LengthLimitsAndRemoval) {
    EXPECT_EQ(AddTrigger(device, std::string(22, 'a')), TApdBaseDispatcher::ecTriggerTooLong);
    TriggerSnapshot none;
    device.SnapshotTriggers(none);
    EXPECT_TRUE(none.DataTriggers.empty());
    const int longest = AddTrigger(device, std::string(21, 'a'));
    EXPECT_EQ(longest, 8);
    const int empty = AddTrigger(device, "");
    EXPECT_EQ(empty, 16);

    EXPECT_EQ(device.RemoveTrigger(0), TApdBaseDispatcher::ecBadTriggerHandle);
    EXPECT_EQ(device.RemoveTrigger(12345), TApdBaseDispatcher::ecBadTriggerHandle);
    EXPECT_EQ(device.RemoveTrigger(longest), 0);
    EXPECT_EQ(device.RemoveTrigger(longest), TApdBaseDispatcher::ecBadTriggerHandle);
    EXPECT_EQ(device.RemoveTrigger(1), 0);
    EXPECT_EQ(device.AvailThreshold(), 0u);
}

TEST_F(DispatcherTriggers, EmptyTriggerNeverFiresAndThresholdRemovalStopsAvailEvents) {
    Receiver receiver{device};
    AddTrigger(device, "");
    device.Feed("abc");
    RunPass(device);
    EXPECT_EQ(receiver.Events, std::vector{Avail(3)});

    ASSERT_EQ(device.RemoveTrigger(1), 0);
    device.Feed("def");
    RunPass(device);
    EXPECT_EQ(receiver.Events.size(), 1u);
    EXPECT_EQ(device.UnreadCount(), 3u);
}

struct MatchCase {
    const char* Name;
    std::string Pattern;
    bool IgnoreCase;
    std::string Input;
    int Completions;
};

class MatchDataTrigger : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchDataTrigger, CountsCompletions) {
    const auto& c = GetParam();
    DataTriggerRecord record;
    record.Length = static_cast<DWORD>(c.Pattern.size());
    record.IgnoreCase = c.IgnoreCase;
    for (std::size_t i = 0; i < c.Pattern.size(); ++i)
        record.Pattern[i] = c.IgnoreCase ? TriggerTable::CharUpperAnsi(c.Pattern[i])
                                         : static_cast<BYTE>(c.Pattern[i]);
    int completions = 0;
    for (char b : c.Input)
        completions += TriggerTable::Match(record, static_cast<BYTE>(b));
    EXPECT_EQ(completions, c.Completions);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, MatchDataTrigger,
    ::testing::Values(MatchCase{"OverlapStartingWithCompletingByte", "aa", false, "aaa", 2},
                      MatchCase{"OverlapNotStartingWithIt", "abab", false, "ababab", 1},
                      MatchCase{"IgnoreCase", "ok", true, "OK Ok oK ok", 4},
                      MatchCase{"CaseKept", "ok", false, "OK Ok oK ok", 1},
                      MatchCase{"RestartAfterMismatch", "aab", false, "aaab", 1},
                      MatchCase{"SingleByte", "\n", false, "a\nb\n\n", 3},
                      MatchCase{"LongestPattern", "abcdefghijklmnopqrstu", false,
                                "xxabcdefghijklmnopqrstuabcdefghijklmnopqrstu", 2},
                      MatchCase{"AnsiLetters", "\xE9t\xE9", true, "\xC9T\xC9", 1},
                      MatchCase{"Empty", "", false, "abc", 0}),
    [](const auto& info) { return info.param.Name; });

TEST(CharUpperAnsi, FollowsWindows1252) {
    const std::vector<std::pair<int, int>> cases = {
        {'a', 'A'},   {'z', 'Z'},   {'A', 'A'},   {'0', '0'},   {0xE0, 0xC0},
        {0xFE, 0xDE}, {0xF7, 0xF7}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E},
        {0xFF, 0x9F}, {0xDF, 0xDF}, {0xB5, 0xB5}};
    for (auto [lower, upper] : cases)
        EXPECT_EQ(TriggerTable::CharUpperAnsi(static_cast<BYTE>(lower)), upper) << "byte " << lower;
}

TEST_F(DispatcherTriggers, StatusAndTimerTriggersFireOnceWhenTheirConditionHolds) {
    Receiver receiver{device};
    TriggerSnapshot saved;
    saved.AvailThreshold = 1;
    saved.StatusTriggers = {
        {8 | stModem, stModem, static_cast<WORD>(MS_CTS_ON << 8), true, false},
        {16 | stLine, stLine, static_cast<WORD>(CE_FRAME), true, false},
        {24 | stOutFree, stOutFree, 1024, true, false},
    };
    saved.TimerTriggers = {{32, 0, 0, true}};
    device.RestoreTriggers(saved);

    device.SetModemLines(MS_CTS_ON);
    device.ReportLineErrors(CE_FRAME);
    device.NoteLineEvents(EV_CTS | EV_ERR);
    RunOnWorker([&] {
        device.RunCommPass();
        device.RunTimerPass();
    });
    // Modem changes are checked first, line errors after they are polled, then the rest.
    const std::vector<ReceivedEvent> expected = {{TriggerStatusMessage, 8 | stModem, 0},
                                                 {TriggerStatusMessage, 24 | stOutFree, 1024},
                                                 {TriggerStatusMessage, 16 | stLine, 0},
                                                 {TriggerTimerMessage, 32, 0}};
    EXPECT_EQ(receiver.Events, expected);
    TriggerSnapshot after;
    device.SnapshotTriggers(after);
    EXPECT_EQ(after.StatusTriggers[1].Value, CE_FRAME) << "takes the errors that fired it";

    RunOnWorker([&] {
        device.RunCommPass();
        device.RunTimerPass();
    });
    EXPECT_EQ(receiver.Events.size(), expected.size()) << "fired triggers are disarmed";
}

} // namespace
