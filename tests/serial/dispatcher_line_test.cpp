// Opening, line settings, DTR and RTS, line errors, modem status and flow control.
#include "tests/serial/dispatcher_fixture.h"

namespace {

class DispatcherLine : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(device.OpenDefault(), 0); }
    TestDevice device;
};

struct OpenFailure {
    const char* Name;
    HANDLE OpenResult;
    DWORD Error;
    bool QueueSizesFail;
    int WriteResult;
    int Expected;
};

class DispatcherOpenFailure : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(DispatcherOpenFailure, ReturnsTheCodeAndReleasesEverything) {
    const auto& c = GetParam();
    TestDevice device;
    device.OpenResult = c.OpenResult;
    device.OpenError = c.Error;
    device.QueueSizesFail = c.QueueSizesFail;
    device.WriteResult = c.WriteResult;
    EXPECT_EQ(device.OpenDefault(), c.Expected);
    EXPECT_FALSE(device.HasReceiveBuffer());
    EXPECT_FALSE(device.HasOutputBuffer());
    EXPECT_FALSE(device.HasSignals());
    EXPECT_LT(device.DeviceHandle, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DispatcherOpenFailure,
    ::testing::Values(OpenFailure{"NoSuchPort", -1, ERROR_FILE_NOT_FOUND, false, 0, -2},
                      OpenFailure{"PortInUse", -1, ERROR_ACCESS_DENIED, false, 0, -5},
                      OpenFailure{"NoSignals", -8, ERROR_SUCCESS, false, 0, -8},
                      OpenFailure{"QueueSizesRefused", 1, ERROR_INVALID_PARAMETER, true, 0, -87},
                      OpenFailure{"SettingsRefused", 1, ERROR_SUCCESS, false, -87, -87}),
    [](const auto& info) { return info.param.Name; });

TEST_F(DispatcherLine, OpenWritesTheLineSettingsAndDrivesDtrAndRts) {
    const DCB dcb = device.Dcb();
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_TRUE(device.DtrOn());
    EXPECT_TRUE(device.RtsOn());
    EXPECT_EQ(device.LastBaud, 9600u);
    EXPECT_TRUE(device.HasSignals());
}

TEST_F(DispatcherLine, KeepValuesChangeNothing) {
    const int writes = device.DcbWrites();
    const auto escapes = device.Escapes().size();
    EXPECT_EQ(device.SetLineParams(0, 5, 9, 3), 0);
    EXPECT_EQ(device.DcbWrites(), writes);
    EXPECT_EQ(device.Escapes().size(), escapes);
}

TEST_F(DispatcherLine, ChangedSettingsAreWritten) {
    const int writes = device.DcbWrites();
    EXPECT_EQ(device.SetLineParams(19200, EVENPARITY, 7, 2), 0);
    EXPECT_EQ(device.DcbWrites(), writes + 1);
    DCB dcb = device.Dcb();
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_FALSE(dcb.fParity);

    EXPECT_EQ(device.SetLineParams(0, 5, 5, 3), 0);
    EXPECT_EQ(device.Dcb().StopBits, ONE5STOPBITS) << "five data bits take one and a half";
    EXPECT_EQ(device.SetLineParams(0, 5, 8, 0), 0);
    EXPECT_EQ(device.Dcb().StopBits, ONESTOPBIT) << "below one counts as one";

    LineParams params;
    ASSERT_EQ(device.SetLineParams(0, 5, 9, 7), 0);
    ASSERT_EQ(device.GetLineParams(params), 0);
    EXPECT_EQ(params.Baud, 19200u);
    EXPECT_EQ(params.Parity, EVENPARITY);
    EXPECT_EQ(params.DataBits, 8);
    EXPECT_EQ(params.StopBits, 2) << "above two counts as two";
}

TEST(DispatcherDrain, WaitsEighteenCharacterTimes) {
    EXPECT_EQ(TApdBaseDispatcher::DrainDelayMs(9600, 8, NOPARITY, ONESTOPBIT), 19u);
    EXPECT_EQ(TApdBaseDispatcher::DrainDelayMs(19200, 7, EVENPARITY, TWOSTOPBITS), 11u);
    EXPECT_EQ(TApdBaseDispatcher::DrainDelayMs(1200, 8, NOPARITY, ONESTOPBIT), 150u);
    // Below one millisecond the time is doubled.
    EXPECT_EQ(TApdBaseDispatcher::DrainDelayMs(2000000, 8, NOPARITY, ONESTOPBIT), 1u);
    EXPECT_EQ(TApdBaseDispatcher::DrainDelayMs(0, 8, NOPARITY, ONESTOPBIT), 0u);

    EXPECT_EQ(TApdBaseDispatcher::BaudFromCode(0xFEFF), 115200u);
    EXPECT_EQ(TApdBaseDispatcher::BaudFromCode(0xFF16), 9600u);
    EXPECT_EQ(TApdBaseDispatcher::BaudFromCode(0xFF27), 256000u);
    EXPECT_EQ(TApdBaseDispatcher::BaudFromCode(0xFF19), 0xFF19u);
    EXPECT_EQ(TApdBaseDispatcher::BaudFromCode(4800), 4800u);
}

TEST_F(DispatcherLine, DtrAndRtsFollowTheRequestUnlessUnderFlowControl) {
    EXPECT_EQ(device.SetDtr(false), 0);
    EXPECT_EQ(device.SetRts(false), 0);
    EXPECT_EQ(device.Escapes().back(), CLRRTS);
    EXPECT_FALSE(device.DtrOn());

    ASSERT_EQ(device.SetHardwareFlow(921, 102, 0x01 | 0x08), 0);
    const auto escapes = device.Escapes().size();
    EXPECT_EQ(device.SetDtr(true), 1);
    EXPECT_EQ(device.Escapes().size(), escapes) << "DTR is left to the flow control";
    FlowOptions flow;
    ASSERT_EQ(device.GetFlowOptions(flow), 0);
    EXPECT_EQ(flow.Hardware, 0x09u);
    EXPECT_EQ(device.Dcb().XoffLim, 1024 - 921);
    EXPECT_EQ(device.Dcb().XonLim, 102);

    ASSERT_EQ(device.SetHardwareFlow(921, 102, 0), 0);
    EXPECT_EQ(device.SetDtr(true), 0);
    EXPECT_EQ(device.Escapes().back(), SETDTR);

    device.EscapeFails = true;
    EXPECT_EQ(device.SetRts(true), TApdBaseDispatcher::ecBadArgument);
}

TEST_F(DispatcherLine, FlowLevelsOutOfRangeAreRefused) {
    const int writes = device.DcbWrites();
    EXPECT_EQ(device.SetHardwareFlow(100, 200, 0x01), TApdBaseDispatcher::ecBadArgument);
    EXPECT_EQ(device.SetHardwareFlow(1025, 100, 0x01), TApdBaseDispatcher::ecBadArgument);
    EXPECT_EQ(device.SetSoftwareFlow(100, 200, 0x03), TApdBaseDispatcher::ecBadArgument);
    EXPECT_EQ(device.SetSoftwareFlow(2000, 200, 0x03), TApdBaseDispatcher::ecBadArgument);
    EXPECT_EQ(device.DcbWrites(), writes);
    EXPECT_FALSE(device.DtrByFlow());
}

TEST_F(DispatcherLine, SoftwareFlowResetsTheFlowCharacters) {
    ASSERT_EQ(device.SetFlowChars(1, 2), 0);
    ASSERT_EQ(device.SetSoftwareFlow(768, 256, 0x03), 0);
    FlowOptions flow;
    ASSERT_EQ(device.GetFlowOptions(flow), 0);
    EXPECT_EQ(flow.Software, 0x03u);
    EXPECT_EQ(flow.XonChar, 17);
    EXPECT_EQ(flow.XoffChar, 19);
    EXPECT_EQ(device.Dcb().XoffLim, 256);

    ASSERT_EQ(device.SetFlowChars(0x05, 0x06), 0);
    ASSERT_EQ(device.GetFlowOptions(flow), 0);
    EXPECT_EQ(flow.XonChar, 0x05);
    EXPECT_EQ(flow.XoffChar, 0x06);

    ASSERT_EQ(device.ClearSoftwareFlow(), 0);
    ASSERT_EQ(device.GetFlowOptions(flow), 0);
    EXPECT_EQ(flow.Software, 0u);
}

TEST_F(DispatcherLine, LineErrorsAreReportedOnceAndBreakSeparately) {
    device.ReportLineErrors(CE_OVERRUN | CE_FRAME);
    device.NoteLineEvents(EV_ERR);
    RunPass(device);
    EXPECT_EQ(device.TakeLineError(), 2);
    EXPECT_EQ(device.TakeLineError(), 0);

    device.ReportLineErrors(CE_BREAK | CE_RXPARITY);
    RunPass(device);
    EXPECT_EQ(device.TakeLineError(), 3);
    EXPECT_EQ(device.TakeLineError(), 9) << "reported while the break bit is set";
    EXPECT_TRUE(device.TakeLineBreak());
    EXPECT_FALSE(device.TakeLineBreak());
    EXPECT_EQ(device.TakeLineError(), 0);

    device.ReportLineErrors(CE_FRAME);
    RunPass(device);
    EXPECT_EQ(device.LineErrorTally(), (LineErrorCounts{2, 1, 1, 1}))
        << "every report counts, taken or not";
}

TEST_F(DispatcherLine, ModemChangesAccumulateBesideTheLineStates) {
    device.NoteLineEvents(EV_CTS);
    RunPass(device);
    EXPECT_EQ(device.ModemStatus() & 0xFF, 0u);

    device.SetModemLines(MS_CTS_ON | MS_DSR_ON);
    RunPass(device);
    EXPECT_EQ(device.ModemStatus() & 0xFF, 0x33u);

    device.SetModemLines(MS_DSR_ON);
    device.NoteRing();
    device.NoteLineEvents(EV_RING);
    RunPass(device);
    EXPECT_EQ(device.ModemStatus() & 0xFF, 0x27u) << "CTS went off, a ring came, changes stay";
    EXPECT_FALSE(device.RingSeen());

    EXPECT_EQ(device.RefreshModemStatus(0xF0), 0x27u);
    EXPECT_EQ(device.ModemStatus(), 0x20u) << "a refresh with mask 0xF0 drops the change bits";
}

} // namespace
