// The byte trace and the event log, and their dump files.
#include "serial/error_message_text.h"
#include "serial/trace_file.h"
#include "tests/serial/dispatcher_fixture.h"
#include "tests/support/pty_pair.h"

#include <QTemporaryDir>

#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class TraceAndLog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        ASSERT_EQ(device.OpenDefault(), 0);
    }
    std::string File(const char* name) const { return folder.filePath(name).toStdString(); }
    // Receives bytes and takes them with GetChar outside any event.
    void Take(const std::string& bytes) {
        device.Feed(bytes);
        RunOnWorker([&] { device.FillReceiveBuffer(); });
        BYTE c = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            ASSERT_EQ(device.GetChar(c), 0);
    }

    QTemporaryDir folder;
    TestDevice device;
};

TEST_F(TraceAndLog, TraceDumpWritesTakenBytesUnderTheirDirection) {
    ASSERT_EQ(device.StartTrace(100), 0);
    Take("AB\r");
    ASSERT_EQ(device.DumpTrace(File("plain.trc"), false, false, false), 0);
    EXPECT_EQ(ReadFile(File("plain.trc")), "Receive: \r\nAB[13]\r\n");
    EXPECT_FALSE(device.TraceOn);
    EXPECT_FALSE(device.Trace.Exists()) << "a dump frees the trace";

    ASSERT_EQ(device.StartTrace(100), 0);
    Take("A B\r");
    device.AddTraceEntry('T', 'x');
    device.AddTraceEntry('Z', 0xFF);
    ASSERT_EQ(device.DumpTrace(File("hex.trc"), false, true, false), 0);
    EXPECT_EQ(ReadFile(File("hex.trc")),
              "Receive: \r\nA[20]B[0D]\r\nTransmit: \r\nx\r\nSpecial-Z: \r\n[FF]\r\n");

    ASSERT_EQ(device.StartTrace(100), 0);
    Take("A ");
    ASSERT_EQ(device.DumpTrace(File("hex.trc"), true, false, true), 0);
    EXPECT_EQ(ReadFile(File("hex.trc")),
              "Receive: \r\nA[20]B[0D]\r\nTransmit: \r\nx\r\nSpecial-Z: \r\n[FF]\r\n"
              "Receive: \r\n[41][20]\r\n")
        << "appended";
}

TEST_F(TraceAndLog, TraceKeepsTheNewestEntriesAndBreaksLongLines) {
    ASSERT_EQ(device.StartTrace(3), 0);
    Take("12345");
    ASSERT_EQ(device.DumpTrace(File("wrap.trc"), false, false, false), 0);
    EXPECT_EQ(ReadFile(File("wrap.trc")), "Receive: \r\n345\r\n");

    ASSERT_EQ(device.StartTrace(200), 0);
    Take(Bytes(100, 'x'));
    ASSERT_EQ(device.DumpTrace(File("long.trc"), false, false, false), 0);
    EXPECT_EQ(ReadFile(File("long.trc")),
              "Receive: \r\n" + Bytes(78, 'x') + "\r\n" + Bytes(22, 'x') + "\r\n");
}

TEST_F(TraceAndLog, TraceStartLimitsAndPause) {
    EXPECT_EQ(device.StartTrace(4000001), TApdBaseDispatcher::ecBadArgument);
    EXPECT_FALSE(device.TraceOn);

    ASSERT_EQ(device.StartTrace(10), 0);
    Take("ab");
    EXPECT_EQ(device.StartTrace(4000001), 0) << "an existing buffer is only emptied";
    EXPECT_EQ(device.Trace.Capacity(), 10u);
    EXPECT_FALSE(device.Trace.HasEntries());

    device.PauseTrace();
    Take("c");
    device.ResumeTrace();
    Take("d");
    ASSERT_EQ(device.DumpTrace(File("pause.trc"), false, false, false), 0);
    EXPECT_EQ(ReadFile(File("pause.trc")), "Receive: \r\nd\r\n");

    EXPECT_EQ(device.DumpTrace(File("none.trc"), false, false, false), 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(File("none.trc"))))
        << "nothing traced, nothing written";
}

TEST_F(TraceAndLog, TraceDumpFailureIsReportedAndTheTraceFreed) {
    ASSERT_EQ(device.StartTrace(10), 0);
    Take("a");
    EXPECT_LT(device.DumpTrace(File("missing/folder.trc"), false, false, false), 0);
    EXPECT_FALSE(device.Trace.Exists());
    EXPECT_FALSE(device.TraceOn);
}

// A dump file is a file, whatever it names: an I/O error while writing it is the file error
// ERROR_IO_DEVICE, not a serial device that went away.
TEST(TraceFile, AnInputOutputErrorIsAFileError) {
    PtyPair line(62);
    // Nobody reads the master: the write blocks once the terminal is full, until the hang-up.
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        line.Close();
    });
    const int result = WriteTraceFile(line.SlavePath(), std::string(1 << 20, 'x'), false);
    unplug.join();
    EXPECT_EQ(result, -static_cast<int>(ERROR_IO_DEVICE));
}

TEST_F(TraceAndLog, LogDumpHasHeadingsAndOneLinePerEvent) {
    device.StartLog(10000);
    device.AddDataTrigger(reinterpret_cast<const BYTE*>("\n"), 1, false);
    device.SetAvailThreshold(1);
    Take("hi");
    device.LogEvent(ltStatus, lsModemStatus, 0x11);
    device.LogEvent(ltAllocTrigger, lsStatusTrigger, 16 | stLine);
    ASSERT_EQ(device.DumpLog(File("dump.log"), false, true, false), 0);
    EXPECT_FALSE(device.LogOn);
    EXPECT_FALSE(device.Log.Exists());

    const std::string text = ReadFile(File("dump.log"));
    EXPECT_NE(text.find("\r\nCompiler : "), std::string::npos);
    EXPECT_NE(text.find("\r\nOperating System : "), std::string::npos);
    EXPECT_NE(text.find("Time      Type      SubType       Data      OtherData\r\n"
                        "--------  --------  ------------  --------  ---------\r\n"),
              std::string::npos);

    auto line = [](int type, int subtype, const char* value, const std::string& rest) {
        char fields[512];
        std::snprintf(fields, sizeof fields, "  %-8s  %-12s  %s  ",
                      ErrorMessageText(15001 + type).c_str(),
                      ErrorMessageText(15100 + subtype).c_str(), value);
        return std::string(fields) + rest + "\r\n";
    };
    EXPECT_NE(text.find(line(ltAllocTrigger, lsDataTrigger, "00000008", "[0A]")),
              std::string::npos);
    EXPECT_NE(text.find(line(ltTriggerSetting, lsAvailTrigger, "00000001", "")), std::string::npos);
    EXPECT_NE(text.find(line(ltDispatch, lsReadCom, "00000002", "hi")), std::string::npos);
    EXPECT_NE(text.find(line(ltStatus, lsModemStatus, "00000011",
                             "(" + ErrorMessageText(15601) + " " + ErrorMessageText(15605) + ")")),
              std::string::npos);
    EXPECT_NE(text.find(line(ltAllocTrigger, lsStatusTrigger, "00000012", "(Line status)")),
              std::string::npos);
    const std::string first = text.substr(text.find("---------\r\n") + 11, 10);
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(first[0])) && first[4] == '.' &&
                first.substr(8) == "  ")
        << "time in seconds with three decimals: " << first;
}

TEST_F(TraceAndLog, LogDropsItsOldestEntriesAndKeepsThemOnAFailedDump) {
    device.StartLog(3 * EventLog::HeaderSize);
    for (DWORD value = 1; value <= 5; ++value)
        device.LogEvent(ltTrigger, lsData, value);
    const BYTE big[64] = {};
    device.LogEvent(ltDispatch, lsReadCom, 99, big, sizeof big); // larger than the whole log

    EXPECT_LT(device.DumpLog(File("missing/folder.log"), false, true, false), 0);
    EXPECT_TRUE(device.Log.HasEntries()) << "kept for another try";
    EXPECT_FALSE(device.LogOn);

    ASSERT_EQ(device.DumpLog(File("kept.log"), false, true, false), 0);
    const std::string text = ReadFile(File("kept.log"));
    for (const char* gone : {"00000001", "00000002", "00000063"})
        EXPECT_EQ(text.find(gone), std::string::npos) << gone;
    for (const char* kept : {"00000003", "00000004", "00000005"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept;
}

TEST_F(TraceAndLog, LogDumpWithNothingLoggedWritesNothing) {
    device.StartLog(1000);
    device.PauseLog();
    device.LogEvent(ltTrigger, lsData, 1);
    EXPECT_EQ(device.DumpLog(File("empty.log"), false, true, false), 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(File("empty.log"))));
}

} // namespace
