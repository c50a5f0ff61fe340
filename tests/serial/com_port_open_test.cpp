// Opening and closing the com port over pseudo-terminals: the open on first use, open failures,
// triggers that survive a close, closes asked for from inside an event, and port number changes.
#include "serial/apd_com_port.h"
#include "serial/apd_exceptions.h"
#include "serial/apd_win32_dispatcher.h"
#include "tests/serial/com_port_test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <utility>

namespace {

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ComPortOpen, AddDataTriggerOpensThePortAndReturnsEight) {
    RecordingPort p(51);
    EXPECT_EQ(p.Port.AddDataTrigger("\n", false), 8);
    EXPECT_EQ(p.Port.State(), ComPortState::Open);
    EXPECT_TRUE(p.Port.Open());
    ASSERT_NE(p.Port.Dispatcher(), nullptr);
    EXPECT_NE(p.Port.PortWindow(), NullWindow);
    EXPECT_EQ(p.Port.AddDataTrigger("OK", true), 16);
    EXPECT_THROW(p.Port.AddDataTrigger(std::string(22, 'x'), false), ETriggerTooLong);
    EXPECT_EQ(p.Port.AddDataTrigger(std::string(21, 'x'), false), 24);
}

// An open that fails leaves the port closed, with no dispatcher, and a later try opens it once
// the cause is gone.
struct OpenFailure {
    const char* Name;
    std::uint16_t ComNumber;
    // Makes the open fail; the returned object keeps it failing while it lives.
    std::function<std::shared_ptr<void>(int number)> Block;
    int Code;
    const char* Message;
};

class OpenFailures : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(OpenFailures, LeaveThePortClosedAndARetryWorks) {
    constexpr int number = 52;
    const OpenFailure& c = GetParam();
    auto block = c.Block(number);
    TApdComPort port(nullptr);
    port.SetPromptForPort(false);
    port.SetComNumber(c.ComNumber);
    port.SetBaud(9600);
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            port.AddDataTrigger("\n", false);
            FAIL() << "the open succeeded";
        } catch (const EAPDException& error) {
            EXPECT_EQ(error.ErrorCode, c.Code);
            EXPECT_STREQ(error.what(), c.Message);
        }
        EXPECT_EQ(port.State(), ComPortState::Closed);
        EXPECT_FALSE(port.Open());
        EXPECT_EQ(port.Dispatcher(), nullptr);
        EXPECT_EQ(port.Baud(), 9600) << "settings stay";
    }
    block.reset();
    PtyPair line(number);
    port.SetComNumber(number);
    EXPECT_EQ(port.AddDataTrigger("\n", false), 8);
    EXPECT_EQ(port.State(), ComPortState::Open);
}

INSTANTIATE_TEST_SUITE_P(
    ComPortOpen, OpenFailures,
    ::testing::Values(OpenFailure{"MissingDevice", 52,
                                  [](int n) { return std::make_shared<MissingPort>(n); },
                                  EBadId::Code, "ie_BadId - Specified comport doesn't exist"},
                      OpenFailure{"HeldByAnotherProcess", 52,
                                  [](int n) {
                                      struct Held {
                                          explicit Held(int n) : Line(n), Other(Line.SlavePath()) {}
                                          PtyPair Line;
                                          HeldByOtherProcess Other;
                                      };
                                      return std::make_shared<Held>(n);
                                  },
                                  EAlreadyOpen::Code, "ie_Open - device already open"},
                      OpenFailure{"NoNumberAndNoPrompt", 0,
                                  [](int) { return std::shared_ptr<void>(); },
                                  ENoPortSelected::Code,
                                  "The ComNumber property of the TApdComPort has not been set"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ComPortOpen, TriggersPresentAtCloseComeBackAtTheNextOpen) {
    RecordingPort p(53);
    const auto lf = p.Port.AddDataTrigger("\n", false);
    const auto ok = p.Port.AddDataTrigger("OK", false);
    ASSERT_EQ(ok, 16);
    p.Port.RemoveTrigger(lf);
    p.Port.SetOpen(false);
    EXPECT_EQ(p.Port.State(), ComPortState::Closed);
    EXPECT_EQ(p.Port.Dispatcher(), nullptr);

    p.Port.SetOpen(true);
    ASSERT_EQ(p.Port.State(), ComPortState::Open);
    ASSERT_TRUE(p.Line.Write("xOKy"));
    ASSERT_TRUE(WaitUntil([&] { return p.Taken() == "xOKy"; }));
    EXPECT_EQ(TakenBeforeData(p.Events, ok), "x") << "the OK trigger, with its old handle";
    EXPECT_FALSE(HasData(p.Events, lf)) << "the removed LF trigger came back";
    EXPECT_THROW(p.Port.RemoveTrigger(lf), EBadTriggerHandle);
    EXPECT_NO_THROW(p.Port.RemoveTrigger(ok));
}

TEST(ComPortOpen, SavedTriggersOutliveAFailedOpen) {
    auto line = std::make_unique<PtyPair>(54);
    TApdComPort port(nullptr);
    port.SetComNumber(54);
    const auto ok = port.AddDataTrigger("OK", false);
    port.SetOpen(false);
    line.reset();
    {
        MissingPort missing(54);
        EXPECT_THROW(port.SetOpen(true), EBadId);
    }
    line = std::make_unique<PtyPair>(54);
    port.SetOpen(true);
    EXPECT_NO_THROW(port.RemoveTrigger(ok));
}

TEST(ComPortOpen, ClosingAPortThatNeverReceivedAByteReturns) {
    RecordingPort p(55);
    p.Port.AddDataTrigger("\n", false);
    auto* dispatcher = p.Port.Dispatcher();
    ASSERT_NE(dispatcher, nullptr);
    EXPECT_TRUE(dispatcher->ThreadsActive());
    p.Port.SetOpen(false);
    EXPECT_EQ(p.Port.State(), ComPortState::Closed);
    EXPECT_EQ(p.Port.Dispatcher(), nullptr);
    EXPECT_EQ(p.Port.PortWindow(), NullWindow);
    // The device is free again.
    const int fd = open(p.Line.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
}

TEST(ComPortOpen, CloseFromInsideItsOwnDataEventCompletesLaterAndThePortReopens) {
    RecordingPort p(56);
    ComPortState stateInHandler = ComPortState::Open;
    std::uint16_t addedInHandler = 99;
    char charInHandler = 'x';
    bool once = false;
    p.AfterData = [&](TApdCustomComPort& cp) {
        if (std::exchange(once, true))
            return;
        cp.SetOpen(false);
        stateInHandler = cp.State();
        addedInHandler = cp.AddDataTrigger("Z", false);
        charInHandler = cp.GetChar();
        EXPECT_NO_THROW(cp.RemoveTrigger(4711));
    };
    p.Port.AddDataTrigger("\n", false);
    ASSERT_TRUE(p.Line.Write("ABC\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return p.Port.State() == ComPortState::Closed; }));
    EXPECT_EQ(stateInHandler, ComPortState::Closing);
    EXPECT_EQ(addedInHandler, 0);
    EXPECT_EQ(charInHandler, 0);
    EXPECT_EQ(p.Port.Dispatcher(), nullptr);
    EXPECT_EQ(p.Port.PortWindow(), NullWindow);
    EXPECT_FALSE(p.Port.Open());

    p.Events.clear();
    p.Port.SetOpen(true);
    ASSERT_EQ(p.Port.State(), ComPortState::Open);
    ASSERT_TRUE(p.Line.Write("DEF\n"));
    ASSERT_TRUE(WaitUntil([&] { return HasData(p.Events, 8); }))
        << "the trigger came back with the reopen";
    EXPECT_EQ(TakenBeforeData(p.Events, 8), "DEF");
}

TEST(ComPortOpen, OpenWhileClosingRunsWhenTheCloseCompletes) {
    RecordingPort p(57);
    ComPortState stateAfterReopenRequest = ComPortState::Open;
    bool once = false;
    p.AfterData = [&](TApdCustomComPort& cp) {
        if (std::exchange(once, true))
            return;
        cp.SetOpen(false);
        cp.SetOpen(true);
        stateAfterReopenRequest = cp.State();
    };
    p.Port.AddDataTrigger("\n", false);
    ASSERT_TRUE(p.Line.Write("1\n"));
    ASSERT_TRUE(WaitUntil([&] { return p.Events.size() >= 2; }));
    EXPECT_EQ(stateAfterReopenRequest, ComPortState::Closing);
    ASSERT_TRUE(WaitUntil([&] { return p.Port.State() == ComPortState::Open; }));
    EXPECT_TRUE(p.Port.Open());

    p.Events.clear();
    ASSERT_TRUE(p.Line.Write("2\n"));
    ASSERT_TRUE(WaitUntil([&] { return HasData(p.Events, 8); }));
    EXPECT_EQ(TakenBeforeData(p.Events, 8), "2");
}

TEST(ComPortOpen, CloseThenOpenAgainWhileClosingStaysClosed) {
    RecordingPort p(58);
    bool once = false;
    p.AfterData = [&](TApdCustomComPort& cp) {
        if (std::exchange(once, true))
            return;
        cp.SetOpen(false);
        cp.SetOpen(true);
        cp.SetOpen(false); // the last word is closed
    };
    p.Port.AddDataTrigger("\n", false);
    ASSERT_TRUE(p.Line.Write("1\n"));
    ASSERT_TRUE(WaitUntil([&] { return p.Port.State() == ComPortState::Closed; }));
    PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(p.Port.State(), ComPortState::Closed);
}

TEST(ComPortOpen, DestroyedWhileItsCloseIsPendingCleansUp) {
    auto line = std::make_unique<PtyPair>(59);
    auto port = std::make_unique<TApdComPort>(nullptr);
    port->SetComNumber(59);
    bool deleted = false;
    ComPortState stateAtDeletion = ComPortState::Open;
    port->SetOnTriggerData([&](TApdCustomComPort& cp, std::uint16_t) {
        cp.SetOpen(false);
        // Deleted as soon as the handler has returned, while the close still waits for the
        // dispatcher's threads.
        QTimer::singleShot(0, [&] {
            stateAtDeletion = port->State();
            port.reset();
            deleted = true;
        });
    });
    port->SetOnTriggerAvail([](TApdCustomComPort& cp, std::uint16_t count) {
        for (int i = 0; i < count; ++i)
            cp.GetChar();
    });
    port->AddDataTrigger("\n", false);
    ASSERT_TRUE(line->Write("x\n"));
    ASSERT_TRUE(WaitUntil([&] { return deleted; }));
    EXPECT_EQ(stateAtDeletion, ComPortState::Closing);
    // Whatever was still queued for the port must find nothing to touch.
    PumpFor(std::chrono::milliseconds(100));
    const int fd = open(line->SlavePath().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
}

TEST(ComPortOpen, ChangingTheNumberWhileOpenMovesTriggersAndTracing) {
    RecordingPort p(60);
    PtyPair second(61);
    const auto lf = p.Port.AddDataTrigger("\n", false);
    p.Port.SetTracing(tlOn);
    p.Port.SetComNumber(61);
    EXPECT_EQ(p.Port.ComNumber(), 61);
    EXPECT_EQ(p.Port.State(), ComPortState::Open);
    EXPECT_EQ(p.Port.Tracing(), tlOn);
    ASSERT_TRUE(second.Write("on 61\n"));
    ASSERT_TRUE(WaitUntil([&] { return HasData(p.Events, lf); }));
    EXPECT_EQ(TakenBeforeData(p.Events, lf), "on 61");
    // The first device was let go.
    const int fd = open(p.Line.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
}

TEST(ComPortOpen, AssigningOrClearingHandlersSwitchesTheEventMode) {
    RecordingPort p(62);
    p.Port.AddDataTrigger("\n", false);
    TApdBaseDispatcher& d = *p.Port.Dispatcher();
    EXPECT_TRUE(d.OwnerWantsEvents());
    p.Port.SetOnTriggerAvail({});
    EXPECT_TRUE(d.OwnerWantsEvents()) << "the data handler is still there";
    p.Port.SetOnTriggerData({});
    EXPECT_FALSE(d.OwnerWantsEvents());
    p.Port.SetOnWaitChar([](TApdCustomComPort&, char) {});
    EXPECT_FALSE(d.OwnerWantsEvents()) << "OnWaitChar does not count";
    p.Port.SetOnTriggerOutSent([](QObject&) {});
    EXPECT_TRUE(d.OwnerWantsEvents());
    p.Port.SetOnTriggerOutSent({});
    EXPECT_FALSE(d.OwnerWantsEvents());
}

TEST(ComPortOpen, TraceStatesWhileOpen) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("port.trc").toStdString();
    RecordingPort p(63);
    p.Port.SetTraceName(file);
    p.Port.AddDataTrigger("\n", false);

    p.Port.SetTracing(tlDump);
    EXPECT_EQ(p.Port.Tracing(), tlOff) << "never on: a dump changes nothing";
    EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
    p.Port.SetTracing(tlPause);
    EXPECT_EQ(p.Port.Tracing(), tlOff) << "only an active trace pauses";

    p.Port.SetTracing(tlOn);
    ASSERT_TRUE(p.Line.Write("AB\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return p.Taken() == "AB\r\n"; })) << p.Taken();
    p.Port.SetTracing(tlPause);
    EXPECT_EQ(p.Port.Tracing(), tlPause);
    p.Port.SetTracing(tlClear);
    EXPECT_EQ(p.Port.Tracing(), tlPause) << "clearing keeps the state";
    p.Port.SetTracing(tlOn);
    ASSERT_TRUE(p.Line.Write("C\n"));
    ASSERT_TRUE(WaitUntil([&] { return p.Taken() == "AB\r\nC\n"; })) << p.Taken();
    // Closing the port writes the active trace.
    p.Port.SetOpen(false);
    EXPECT_EQ(p.Port.Tracing(), tlOff);
    const std::string text = FileText(file);
    EXPECT_NE(text.find("Receive: "), std::string::npos) << text;
    EXPECT_NE(text.find("C[0A]"), std::string::npos) << text;
    EXPECT_EQ(text.find("AB"), std::string::npos) << "cleared before: " << text;
}

TEST(ComPortOpen, ADispatcherFactoryMakesTheDispatcherOfEveryOpen) {
    PtyPair line(64);
    TApdComPort port(nullptr);
    port.SetComNumber(64);
    int made = 0;
    port.SetDispatcherFactory([&](TApdCustomComPort& cp) -> std::unique_ptr<TApdBaseDispatcher> {
        ++made;
        return std::make_unique<TApdWin32Dispatcher>(&cp);
    });
    port.SetOpen(true);
    port.SetOpen(false);
    port.SetOpen(true);
    EXPECT_EQ(made, 2);
    EXPECT_EQ(port.State(), ComPortState::Open);

    port.SetOpen(false);
    port.SetDispatcherFactory([](TApdCustomComPort&) { return nullptr; });
    EXPECT_THROW(port.SetOpen(true), ENullApi);
    EXPECT_EQ(port.State(), ComPortState::Closed);
}

TEST(ComPortOpen, TapiModeFindsNoTelephonyDeviceAndAsksForNoPort) {
    TApdComPort port(nullptr); // ComNumber 0 and PromptForPort: would ask, but TAPI does not
    port.SetTapiMode(tmOn);
    try {
        port.SetOpen(true);
        FAIL() << "opened in TAPI mode";
    } catch (const ENotOpenedByTapi& error) {
        EXPECT_EQ(error.ErrorCode, ENotOpenedByTapi::Code);
    }
    EXPECT_EQ(port.State(), ComPortState::Closed);
    EXPECT_EQ(port.Dispatcher(), nullptr);
}

} // namespace
