// The com port's settings while it is closed: stored without touching the device, with the flow
// thresholds, RS-485 and the trace and log states worked out as the port will use them.
#include "runtime/exceptions.h"
#include "serial/apd_com_port.h"
#include "serial/apd_exceptions.h"
#include "tests/serial/com_port_test_support.h"

#include <gtest/gtest.h>
#include <termios.h>

namespace {

// Writes that must only store the value while the port is closed, whatever the value.
struct ClosedWrite {
    const char* Name;
    std::function<void(TApdComPort&)> Write;
    std::function<bool(const TApdComPort&)> Stored;
};

class ClosedWrites : public ::testing::TestWithParam<ClosedWrite> {};

TEST_P(ClosedWrites, OnlyStoreAndNeverTouchTheDevice) {
    PtyPair line(41);
    termios before{};
    const int probe = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(tcgetattr(probe, &before), 0);
    close(probe);
    TApdComPort port(nullptr);
    port.SetComNumber(41);
    port.SetPromptForPort(false);

    EXPECT_NO_THROW(GetParam().Write(port));
    EXPECT_TRUE(GetParam().Stored(port));
    EXPECT_EQ(port.State(), ComPortState::Closed);
    EXPECT_FALSE(port.Open());

    // The device is neither held nor reconfigured: another opener gets it unchanged.
    const int fd = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0) << "the port holds the device";
    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    close(fd);
}

INSTANTIATE_TEST_SUITE_P(
    ComPortSettings, ClosedWrites,
    ::testing::Values(ClosedWrite{"Baud", [](TApdComPort& p) { p.SetBaud(1234567); },
                                  [](const TApdComPort& p) { return p.Baud() == 1234567; }},
                      ClosedWrite{"BaudZero", [](TApdComPort& p) { p.SetBaud(0); },
                                  [](const TApdComPort& p) { return p.Baud() == 0; }},
                      ClosedWrite{"Parity", [](TApdComPort& p) { p.SetParity(pSpace); },
                                  [](const TApdComPort& p) { return p.Parity() == pSpace; }},
                      ClosedWrite{"DataBits", [](TApdComPort& p) { p.SetDataBits(3); },
                                  [](const TApdComPort& p) { return p.DataBits() == 3; }},
                      ClosedWrite{"StopBits", [](TApdComPort& p) { p.SetStopBits(7); },
                                  [](const TApdComPort& p) { return p.StopBits() == 7; }},
                      ClosedWrite{"ComNumber", [](TApdComPort& p) { p.SetComNumber(999); },
                                  [](const TApdComPort& p) { return p.ComNumber() == 999; }},
                      ClosedWrite{"InSize", [](TApdComPort& p) { p.SetInSize(1); },
                                  [](const TApdComPort& p) { return p.InSize() == 1; }},
                      ClosedWrite{"DTR", [](TApdComPort& p) { p.SetDTR(false); },
                                  [](const TApdComPort& p) { return !p.DTR(); }},
                      ClosedWrite{"XOnChar", [](TApdComPort& p) { p.SetXOnChar('A'); },
                                  [](const TApdComPort& p) { return p.XOnChar() == 'A'; }},
                      ClosedWrite{"RemoveUnknownTrigger",
                                  [](TApdComPort& p) { p.RemoveTrigger(4711); },
                                  [](const TApdComPort& p) { return p.Dispatcher() == nullptr; }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ComPortSettings, AnUnusableValueFailsOnlyAtTheNextOpen) {
    PtyPair line(42);
    TApdComPort port(nullptr);
    port.SetComNumber(42);
    port.SetPromptForPort(false);
    port.SetDataBits(3);
    try {
        port.SetOpen(true);
        FAIL() << "the device took 3 data bits";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.ErrorCode, 87);
    }
    EXPECT_EQ(port.State(), ComPortState::Closed);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
    port.SetDataBits(8);
    port.SetOpen(true);
    EXPECT_EQ(port.State(), ComPortState::Open);
}

TEST(ComPortSettings, DeviceLayerAcceptsOnlyTheSupportedLayerAndOnlyWhileClosed) {
    TApdComPort port(nullptr);
    for (TDeviceLayer layer : {dlFossil, dlWin16, dlWinsock}) {
        port.SetDeviceLayer(layer);
        EXPECT_EQ(port.DeviceLayer(), dlWin32) << layer;
    }
    port.SetDeviceLayer(dlWin32);
    EXPECT_EQ(port.DeviceLayer(), dlWin32);
}

// Flow thresholds worked out from InSize 1024 when the flow options are written.
struct ThresholdCase {
    const char* Name;
    std::function<void(TApdComPort&)> Write;
    std::uint16_t Full;
    std::uint16_t Resume;
};

class FlowThresholds : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(FlowThresholds, FollowTheReceiveSize) {
    TApdComPort port(nullptr);
    port.SetInSize(1024);
    GetParam().Write(port);
    EXPECT_EQ(port.BufferFull(), GetParam().Full);
    EXPECT_EQ(port.BufferResume(), GetParam().Resume);
}

INSTANTIATE_TEST_SUITE_P(
    ComPortSettings, FlowThresholds,
    ::testing::Values(ThresholdCase{"HardwareCts",
                                    [](TApdComPort& p) { p.SetHWFlowOptions({hwfRequireCTS}); },
                                    921, 102},
                      ThresholdCase{"SoftwareBoth",
                                    [](TApdComPort& p) { p.SetSWFlowOptions(swfBoth); }, 768, 256},
                      ThresholdCase{"SoftwareNoneKeepsZero",
                                    [](TApdComPort& p) { p.SetSWFlowOptions(swfNone); }, 0, 0},
                      ThresholdCase{"FullAboveInSizeWithoutFlow",
                                    [](TApdComPort& p) { p.SetBufferFull(2000); }, 1800, 0},
                      ThresholdCase{"FullAboveInSizeWithHardwareFlow",
                                    [](TApdComPort& p) {
                                        p.SetHWFlowOptions({hwfUseDTR});
                                        p.SetBufferFull(2000);
                                    },
                                    921, 102},
                      ThresholdCase{"ResumeAboveFull",
                                    [](TApdComPort& p) {
                                        p.SetBufferFull(500);
                                        p.SetBufferResume(600);
                                    },
                                    500, 50},
                      ThresholdCase{"SetThresholdsKept",
                                    [](TApdComPort& p) {
                                        p.SetBufferFull(800);
                                        p.SetBufferResume(100);
                                        p.SetHWFlowOptions({hwfRequireDSR});
                                    },
                                    800, 100}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ComPortSettings, Rs485ModeAndRtsHandshakeExcludeEachOther) {
    TApdComPort port(nullptr);
    port.SetHWFlowOptions({hwfUseRTS, hwfRequireCTS, hwfUseDTR});
    port.SetRS485Mode(true);
    EXPECT_TRUE(port.RS485Mode());
    EXPECT_EQ(port.HWFlowOptions(), (THWFlowOptionSet{hwfUseDTR}));
    EXPECT_FALSE(port.RTS());

    port.SetHWFlowOptions({hwfUseDTR, hwfRequireDSR});
    EXPECT_TRUE(port.RS485Mode()) << "neither RTS nor CTS is asked for";
    port.SetHWFlowOptions({hwfUseRTS});
    EXPECT_FALSE(port.RS485Mode());
}

TEST(ComPortSettings, ClosedPortKeepsOnlyOnOrOffForTraceAndLog) {
    const struct {
        TTraceLogState Written;
        TTraceLogState Stored;
    } cases[] = {{tlOn, tlOn},      {tlPause, tlOff}, {tlDump, tlOff},
                 {tlAppend, tlOff}, {tlClear, tlOff}, {tlOff, tlOff}};
    for (const auto& c : cases) {
        TApdComPort port(nullptr);
        port.SetTracing(tlOn);
        port.SetTracing(c.Written);
        port.SetLogging(tlOn);
        port.SetLogging(c.Written);
        EXPECT_EQ(port.Tracing(), c.Stored) << c.Written;
        EXPECT_EQ(port.Logging(), c.Stored) << c.Written;
    }
}

TEST(ComPortSettings, TraceAndLogSizesAreClamped) {
    TApdComPort port(nullptr);
    port.SetTraceSize(4000001);
    port.SetLogSize(99000000);
    EXPECT_EQ(port.TraceSize(), 4000000u);
    EXPECT_EQ(port.LogSize(), 16000000u);
    port.SetTraceName(std::string(300, 'x'));
    EXPECT_EQ(port.TraceName().size(), 255u);
}

TEST(ComPortSettings, LoadingOnlyRecordsAnOpenAndLoadedPerformsIt) {
    PtyPair line(43);
    TApdComPort port(nullptr);
    port.SetLoading(true);
    port.SetComNumber(43);
    port.SetPromptForPort(false);
    port.SetOpen(true);
    EXPECT_EQ(port.State(), ComPortState::Closed);
    port.Loaded();
    EXPECT_FALSE(port.Loading());
    EXPECT_EQ(port.State(), ComPortState::Open);
    EXPECT_TRUE(port.Open());
}

TEST(ComPortSettings, WithoutAutoOpenTheOperationsNeedAnOpenPort) {
    PtyPair line(44);
    TApdComPort port(nullptr);
    port.SetComNumber(44);
    port.SetAutoOpen(false);
    EXPECT_THROW(port.AddDataTrigger("\n", false), ECommNotOpen);
    EXPECT_THROW(port.GetChar(), ECommNotOpen);
    EXPECT_EQ(port.State(), ComPortState::Closed);
}

// Settings written while closed reach the dispatcher at the open; settings written while open
// reach it at once.
struct OpenSetting {
    const char* Name;
    std::function<void(TApdComPort&)> BeforeOpen;
    std::function<void(TApdComPort&)> WhileOpen;
    std::function<void(TApdComPort&, TApdBaseDispatcher&)> Check;
};

DCB LineState(TApdBaseDispatcher& d) {
    std::lock_guard lock(d.ControlLock);
    d.ReadComState(d.LineState);
    return d.LineState;
}

class OpenSettings : public ::testing::TestWithParam<OpenSetting> {};

TEST_P(OpenSettings, ReachTheDispatcher) {
    const OpenSetting& c = GetParam();
    PtyPair line(45);
    TApdComPort port(nullptr);
    port.SetComNumber(45);
    port.SetBaud(9600);
    port.SetInSize(1024);
    if (c.BeforeOpen)
        c.BeforeOpen(port);
    port.SetOpen(true);
    ASSERT_EQ(port.State(), ComPortState::Open);
    if (c.WhileOpen)
        c.WhileOpen(port);
    c.Check(port, *port.Dispatcher());
}

INSTANTIATE_TEST_SUITE_P(
    ComPortSettings, OpenSettings,
    ::testing::Values(
        OpenSetting{"LineParamsAtOpen",
                    // A pseudo-terminal takes any rate and stop bits, but on this kernel
                    // refuses a change to 7 data bits or to parity.
                    [](TApdComPort& p) {
                        p.SetBaud(2400);
                        p.SetStopBits(2);
                    },
                    nullptr,
                    [](TApdComPort&, TApdBaseDispatcher& d) {
                        LineParams params;
                        ASSERT_EQ(d.GetLineParams(params), 0);
                        EXPECT_EQ(params.Baud, 2400u);
                        EXPECT_EQ(params.Parity, NOPARITY);
                        EXPECT_EQ(params.DataBits, 8);
                        EXPECT_EQ(params.StopBits, 2);
                    }},
        OpenSetting{
            "BaudWhileOpen", nullptr, [](TApdComPort& p) { p.SetBaud(19200); },
            [](TApdComPort&, TApdBaseDispatcher& d) { EXPECT_EQ(LineState(d).BaudRate, 19200u); }},
        OpenSetting{"BaudZeroKeepsTheDeviceRate", nullptr, [](TApdComPort& p) { p.SetBaud(0); },
                    [](TApdComPort& p, TApdBaseDispatcher& d) {
                        EXPECT_EQ(p.Baud(), 0);
                        EXPECT_EQ(LineState(d).BaudRate, 9600u);
                    }},
        OpenSetting{"RefusedDataBitsStayStored", nullptr,
                    [](TApdComPort& p) {
                        try {
                            p.SetDataBits(3);
                            ADD_FAILURE() << "the device took 3 data bits";
                        } catch (const EInOutError& error) {
                            EXPECT_EQ(error.ErrorCode, 87);
                        }
                    },
                    [](TApdComPort& p, TApdBaseDispatcher& d) {
                        EXPECT_EQ(p.DataBits(), 3);
                        EXPECT_EQ(LineState(d).ByteSize, 8);
                        EXPECT_EQ(p.State(), ComPortState::Open);
                    }},
        OpenSetting{"DtrUnderHardwareFlowIsLeftAlone", nullptr,
                    [](TApdComPort& p) {
                        p.SetHWFlowOptions({hwfUseDTR});
                        p.SetDTR(false);
                    },
                    [](TApdComPort& p, TApdBaseDispatcher& d) {
                        EXPECT_TRUE(p.DTR()) << "the flow control owns the line";
                        EXPECT_TRUE(d.DtrByFlow());
                        EXPECT_EQ(LineState(d).fDtrControl, DTR_CONTROL_HANDSHAKE);
                        EXPECT_EQ(p.BufferFull(), 921);
                    }},
        OpenSetting{"DtrAndRtsAtOpen",
                    [](TApdComPort& p) {
                        p.SetDTR(false);
                        p.SetRTS(false);
                    },
                    nullptr,
                    [](TApdComPort&, TApdBaseDispatcher& d) {
                        EXPECT_FALSE(d.DtrOn());
                        EXPECT_FALSE(d.RtsOn());
                    }},
        OpenSetting{"SoftwareFlowNumbersAreReversed", nullptr,
                    [](TApdComPort& p) { p.SetSWFlowOptions(swfReceive); },
                    [](TApdComPort&, TApdBaseDispatcher& d) {
                        FlowOptions flow;
                        ASSERT_EQ(d.GetFlowOptions(flow), 0);
                        EXPECT_EQ(flow.Software, 0x02u) << "receive: send XON/XOFF";
                    }},
        OpenSetting{"FlowCharsAtOpen",
                    [](TApdComPort& p) {
                        p.SetXOnChar('A');
                        p.SetXOffChar('B');
                    },
                    nullptr,
                    [](TApdComPort&, TApdBaseDispatcher& d) {
                        FlowOptions flow;
                        ASSERT_EQ(d.GetFlowOptions(flow), 0);
                        EXPECT_EQ(flow.XonChar, 'A');
                        EXPECT_EQ(flow.XoffChar, 'B');
                    }},
        OpenSetting{"TriggerLengthAndEventWordAtOpen",
                    [](TApdComPort& p) {
                        p.SetTriggerLength(5);
                        p.SetUseEventWord(false);
                    },
                    nullptr,
                    [](TApdComPort&, TApdBaseDispatcher& d) {
                        std::lock_guard lock(d.ControlLock);
                        EXPECT_EQ(d.AvailThreshold(), 5u);
                        EXPECT_EQ(d.OptionFlags & 4, 0u);
                    }},
        OpenSetting{"EventWordWhileOpen", nullptr,
                    [](TApdComPort& p) {
                        p.SetUseEventWord(false);
                        p.SetUseEventWord(true);
                    },
                    [](TApdComPort&, TApdBaseDispatcher& d) {
                        std::lock_guard lock(d.ControlLock);
                        EXPECT_EQ(d.OptionFlags & 4, 4u);
                    }},
        OpenSetting{"Rs485AtOpen", [](TApdComPort& p) { p.SetRS485Mode(true); }, nullptr,
                    [](TApdComPort& p, TApdBaseDispatcher& d) {
                        std::lock_guard lock(d.ControlLock);
                        EXPECT_TRUE(d.Rs485Mode);
                        EXPECT_FALSE(p.RTS());
                        EXPECT_FALSE(d.RtsOn());
                    }},
        OpenSetting{"TracingOnAtOpen", [](TApdComPort& p) { p.SetTracing(tlOn); }, nullptr,
                    [](TApdComPort& p, TApdBaseDispatcher& d) {
                        EXPECT_TRUE(d.TraceOn);
                        EXPECT_EQ(p.Tracing(), tlOn);
                    }},
        OpenSetting{"TraceSizeWhileOn", [](TApdComPort& p) { p.SetTracing(tlOn); },
                    [](TApdComPort& p) { p.SetTraceSize(50); },
                    [](TApdComPort& p, TApdBaseDispatcher& d) {
                        EXPECT_TRUE(d.TraceOn);
                        EXPECT_EQ(p.Tracing(), tlOn);
                    }},
        OpenSetting{"TraceSizeWhilePaused", [](TApdComPort& p) { p.SetTracing(tlOn); },
                    [](TApdComPort& p) {
                        p.SetTracing(tlPause);
                        p.SetTraceSize(50);
                    },
                    [](TApdComPort& p, TApdBaseDispatcher& d) {
                        EXPECT_FALSE(d.TraceOn);
                        EXPECT_EQ(p.Tracing(), tlOff);
                    }},
        OpenSetting{
            "DeviceLayerIgnoredWhileOpen", nullptr,
            [](TApdComPort& p) { p.SetDeviceLayer(dlWin16); },
            [](TApdComPort& p, TApdBaseDispatcher&) { EXPECT_EQ(p.DeviceLayer(), dlWin32); }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ComPortSettings, AssignCopiesSettingsAndAnOpenSourcesTriggers) {
    PtyPair first(46), second(47);
    TApdComPort source(nullptr), copy(nullptr);
    source.SetComNumber(46);
    source.SetBaud(2400);
    source.SetHWFlowOptions({hwfRequireCTS});
    source.SetTracing(tlOn);
    int raised = 0;
    source.SetOnTriggerData([&](TApdCustomComPort&, std::uint16_t) { ++raised; });
    const auto ok = source.AddDataTrigger("OK", false);
    source.SetTracing(tlPause);

    copy.Assign(source);
    EXPECT_EQ(copy.State(), ComPortState::Closed);
    EXPECT_EQ(copy.Baud(), 2400);
    EXPECT_EQ(copy.HWFlowOptions(), (THWFlowOptionSet{hwfRequireCTS}));
    EXPECT_EQ(copy.BufferFull(), source.BufferFull());
    EXPECT_EQ(copy.Tracing(), tlOff) << "a closed port keeps no paused trace";
    EXPECT_TRUE(copy.OnTriggerData());

    copy.SetComNumber(47);
    copy.SetOpen(true);
    EXPECT_NO_THROW(copy.RemoveTrigger(ok)) << "the source's trigger came along";
}

} // namespace
