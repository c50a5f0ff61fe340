#include "serial/platform/comm_api.h"
#include "serial/platform/comm_custom_baud.h"
#include "serial/platform/comm_line_settings.h"
#include "tests/serial/open_port.h"
#include "tests/support/pty_pair.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

class CommState : public ::testing::Test {
protected:
    void SetUp() override {
        // Taken before the port's open, which makes the terminal exclusive.
        deviceView = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(deviceView, 0);
        handle = Open();
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
    }
    void TearDown() override {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        close(deviceView);
    }
    HANDLE Open() { return OpenPort(line.DeviceName()); }
    // The settings as the device holds them, read from the terminal as a fresh handle reads them
    // (a handle gives the terminal its own settings back when it closes).
    DCB ReadBackFromDevice() {
        termios t{};
        EXPECT_EQ(tcgetattr(deviceView, &t), 0);
        DWORD customBaud = 0;
        if (HasCustomBaud(t)) {
            EXPECT_EQ(GetCustomBaud(deviceView, customBaud), 0);
        }
        return DcbFromTermios(t, customBaud);
    }
    static DCB Line(DWORD baud, BYTE size, BYTE parity, BYTE stop) {
        DCB dcb;
        dcb.BaudRate = baud;
        dcb.ByteSize = size;
        dcb.Parity = parity;
        dcb.StopBits = stop;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        return dcb;
    }

    PtyPair line{2};
    int deviceView = -1;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

void ExpectSameLine(const DCB& got, const DCB& want) {
    EXPECT_EQ(got.BaudRate, want.BaudRate);
    EXPECT_EQ(got.ByteSize, want.ByteSize);
    EXPECT_EQ(got.Parity, want.Parity);
    EXPECT_EQ(got.StopBits, want.StopBits);
    EXPECT_EQ(got.fOutxCtsFlow, want.fOutxCtsFlow);
    EXPECT_EQ(got.fOutxDsrFlow, want.fOutxDsrFlow);
    EXPECT_EQ(got.fDtrControl, want.fDtrControl);
    EXPECT_EQ(got.fRtsControl, want.fRtsControl);
    EXPECT_EQ(got.fOutX, want.fOutX);
    EXPECT_EQ(got.fInX, want.fInX);
    EXPECT_EQ(got.XonChar, want.XonChar);
    EXPECT_EQ(got.XoffChar, want.XoffChar);
    EXPECT_EQ(got.XonLim, want.XonLim);
    EXPECT_EQ(got.XoffLim, want.XoffLim);
}

} // namespace

TEST_F(CommState, ReadsBackTheSettingsWrittenEvenWhereTheTerminalRewritesThem) {
    // A pseudo-terminal forces eight bits and no parity; the port still reports what was asked.
    DCB written = Line(1200, 7, EVENPARITY, TWOSTOPBITS);
    written.fOutxDsrFlow = true;
    written.fDtrControl = DTR_CONTROL_HANDSHAKE;
    written.XonLim = 100;
    written.XoffLim = 824;
    ASSERT_TRUE(SetCommState(handle, &written)) << GetLastError();
    DCB got;
    ASSERT_TRUE(GetCommState(handle, &got));
    ExpectSameLine(got, written);
}

TEST_F(CommState, SettingsReadFromTheDeviceCanBeChangedAndWrittenAgainAndAgain) {
    // The open sequence's way: read the port's own settings, change the line format, write;
    // later changes write the same format again.
    DCB dcb;
    ASSERT_TRUE(GetCommState(handle, &dcb));
    for (const BYTE parity : {EVENPARITY, EVENPARITY, ODDPARITY, NOPARITY, NOPARITY}) {
        dcb.BaudRate = 9600;
        dcb.ByteSize = parity == NOPARITY ? 8 : 7;
        dcb.Parity = parity;
        dcb.StopBits = TWOSTOPBITS;
        EXPECT_TRUE(SetCommState(handle, &dcb)) << int(parity) << ": " << GetLastError();
        ASSERT_TRUE(GetCommState(handle, &dcb));
    }
}

TEST_F(CommState, TheDeviceTakesRateStopBitsAndFlowControl) {
    struct Case {
        DWORD Baud;
        BYTE Stop;
        bool Cts;
        bool OutX, InX;
        char Xon, Xoff;
    };
    for (const Case& c : {Case{1200, ONESTOPBIT, false, false, false, 17, 19},
                          Case{2400, TWOSTOPBITS, true, false, false, 17, 19},
                          Case{4800, ONESTOPBIT, false, true, true, 0x11, 0x13},
                          Case{9600, TWOSTOPBITS, false, true, false, 'Q', 'S'},
                          Case{19200, ONESTOPBIT, true, false, true, 17, 19},
                          Case{115200, ONESTOPBIT, false, false, false, 17, 19},
                          // Rates with no termios constant go to the device as numbers.
                          Case{14400, ONESTOPBIT, false, false, false, 17, 19},
                          Case{256000, TWOSTOPBITS, false, false, false, 17, 19}}) {
        SCOPED_TRACE(c.Baud);
        DCB written = Line(c.Baud, 8, NOPARITY, c.Stop);
        written.fOutxCtsFlow = c.Cts;
        written.fRtsControl = c.Cts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
        written.fOutX = c.OutX;
        written.fInX = c.InX;
        written.XonChar = c.Xon;
        written.XoffChar = c.Xoff;
        ASSERT_TRUE(SetCommState(handle, &written)) << GetLastError();
        ExpectSameLine(ReadBackFromDevice(), written);
    }
}

TEST_F(CommState, RefusedValuesFailAndLeaveTheSettingsAsTheyWere) {
    const DCB good = Line(9600, 8, NOPARITY, ONESTOPBIT);
    ASSERT_TRUE(SetCommState(handle, &good));
    struct Case {
        const char* What;
        DCB Dcb;
    };
    DCB sameFlowChars = good;
    sameFlowChars.fInX = true;
    sameFlowChars.XonChar = sameFlowChars.XoffChar = 19;
    DCB badDtr = good;
    badDtr.fDtrControl = 3;
    for (const Case& c :
         {Case{"rate 0", Line(0, 8, NOPARITY, ONESTOPBIT)},
          Case{"rate below 110", Line(75, 8, NOPARITY, ONESTOPBIT)},
          Case{"rate above 256000", Line(460800, 8, NOPARITY, ONESTOPBIT)},
          Case{"4 data bits", Line(9600, 4, NOPARITY, ONESTOPBIT)},
          Case{"9 data bits", Line(9600, 9, NOPARITY, ONESTOPBIT)},
          Case{"parity code 5", Line(9600, 8, 5, ONESTOPBIT)},
          Case{"stop code 3", Line(9600, 8, NOPARITY, 3)},
          Case{"1.5 stop bits with 8 data bits", Line(9600, 8, NOPARITY, ONE5STOPBITS)},
          Case{"2 stop bits with 5 data bits", Line(9600, 5, NOPARITY, TWOSTOPBITS)},
          Case{"XON equal to XOFF", sameFlowChars}, Case{"DTR control 3", badDtr}}) {
        SCOPED_TRACE(c.What);
        SetLastError(0);
        EXPECT_FALSE(SetCommState(handle, &c.Dcb));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        DCB got;
        ASSERT_TRUE(GetCommState(handle, &got));
        ExpectSameLine(got, good);
    }
    ExpectSameLine(ReadBackFromDevice(), good);
}

TEST_F(CommState, EveryCharacterFormatAUartMakesIsAccepted) {
    for (BYTE size = 5; size <= 8; ++size) {
        for (BYTE parity = NOPARITY; parity <= SPACEPARITY; ++parity) {
            const DCB dcb = Line(4800, size, parity, size == 5 ? ONE5STOPBITS : TWOSTOPBITS);
            EXPECT_TRUE(SetCommState(handle, &dcb))
                << int(size) << " bits, parity " << int(parity) << ": " << GetLastError();
        }
    }
}

TEST_F(CommState, AnOpenPortNeitherEchoesNorEditsNorTranslatesWhatArrives) {
    // Before any settings are written: the port is quiet from the moment it opens.
    ASSERT_TRUE(line.Write("ab\rc\x03\x7f"));
    std::string got;
    // Bounded, so a port that holds input back fails here instead of hanging.
    for (int tries = 0; got.size() < 6 && tries < 5000; ++tries) {
        char buffer[16];
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &read, nullptr)) << GetLastError();
        got.append(buffer, read);
        if (read == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(got, std::string("ab\rc\x03\x7f"));
    EXPECT_EQ(line.ReadAvailable(), "") << "nothing goes back down the line";
}
