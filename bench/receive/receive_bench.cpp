// Throughput of the receive path: bytes read into the ring and scanned for the LF trigger, and the
// matching of one byte against patterns of several lengths.
#include "serial/apd_base_dispatcher.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// A device whose driver queue always holds more report lines of 80 bytes (78 characters, CR LF).
class LineStreamDevice : public TApdBaseDispatcher {
public:
    LineStreamDevice() : TApdBaseDispatcher(nullptr) {
        for (int i = 0; i < 64; ++i) {
            std::string line = "LOT " + std::to_string(1000 + i) + " COUNT 42 PASS";
            line.resize(78, ' ');
            stream_ += line + "\r\n";
        }
    }
    ~LineStreamDevice() override { CloseForDestroy(); }

    int EscapeLine(DWORD) override { return 0; }
    int PurgeQueue(QueueSide) override { return 0; }
    DWORD PollComError(COMSTAT& status) override {
        status.cbInQue = ReceiveBufferSize;
        return 0;
    }
    void NoteReadError(int) override {}
    int ReadComState(DCB& dcb) override {
        dcb = dcb_;
        return 0;
    }
    int ReadBlock(BYTE* destination, DWORD count) override {
        for (DWORD done = 0; done < count;) {
            const DWORD n = std::min<DWORD>(count - done, stream_.size() - offset_);
            std::memcpy(destination + done, stream_.data() + offset_, n);
            done += n;
            offset_ = (offset_ + n) % stream_.size();
        }
        return static_cast<int>(count);
    }
    int WriteComState(const DCB& dcb) override {
        dcb_ = dcb;
        return 0;
    }
    int QueueOutput(const BYTE*, DWORD count) override { return static_cast<int>(count); }
    bool WaitLineEvent(DWORD&, OverlappedBlock*) override { return false; }
    bool SetQueueSizes(DWORD, DWORD) override { return true; }
    void StartThreads() override {}
    void StopThreads() override {}
    HANDLE OpenDeviceHandle(const std::string&, DWORD, DWORD) override { return 1; }
    int CloseDeviceHandle() override {
        DeviceHandle = INVALID_HANDLE_VALUE;
        return 0;
    }
    int YieldSlice() override { return 0; }
    DWORD ReadModemStatus() override { return 0; }
    DWORD LastDeviceError() override { return 0; }

private:
    std::string stream_;
    DWORD offset_ = 0;
    DCB dcb_;
};

// Opens the device as the program does: 9600 8N1, threshold 1, one LF data trigger.
void OpenWithLineTrigger(LineStreamDevice& device) {
    device.OpenComm("COM1", 9600, NOPARITY, 8, 1, 1024, 1024, 0x03);
    device.SetAvailThreshold(1);
    const BYTE lf = '\n';
    device.AddDataTrigger(&lf, 1, false);
}

// Delivery to a handler that takes every offered byte with GetChar, as the capture handler does;
// it runs on the dispatch thread, so the figure leaves out the hand-over to the GUI thread.
void BM_ReceivePathTakingEverything(benchmark::State& state) {
    LineStreamDevice device;
    OpenWithLineTrigger(device);
    std::int64_t lines = 0;
    device.RegisterHandlerProc([&](UINT msg, WPARAM count, LPARAM) {
        if (msg == TriggerDataMessage) {
            ++lines;
            return;
        }
        BYTE c = 0;
        for (WPARAM i = 0; i < count; ++i)
            device.GetChar(c);
    });
    std::int64_t bytes = 0;
    for (auto _ : state) {
        device.FillReceiveBuffer(); // the ring is empty here, so this fills it
        bytes += device.UnreadCount();
        while (device.ScanReceiveTriggers()) {
        }
    }
    if (device.UnreadCount() != 0)
        state.SkipWithError("the handler left bytes behind");
    state.SetBytesProcessed(bytes);
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReceivePathTakingEverything);

// Delivery switched off: reading and scanning alone; the ring is emptied after each pass.
void BM_ReceivePathDeliveryOff(benchmark::State& state) {
    LineStreamDevice device;
    OpenWithLineTrigger(device);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        device.FillReceiveBuffer();
        bytes += device.UnreadCount();
        while (device.ScanReceiveTriggers()) {
        }
        device.FlushReceive();
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ReceivePathDeliveryOff);

void BM_MatchDataTrigger(benchmark::State& state) {
    const auto length = static_cast<DWORD>(state.range(0));
    DataTriggerRecord trigger;
    trigger.Length = length;
    const std::string pattern = std::string("LOT 1042 COUNT 42 PASS").substr(0, length);
    std::copy(pattern.begin(), pattern.end(), trigger.Pattern.begin());
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += "LOT " + std::to_string(1000 + i % 100) + " COUNT 42 PASS\r\n";
    int matches = 0;
    for (auto _ : state) {
        for (unsigned char b : text)
            matches += TriggerTable::Match(trigger, b);
        benchmark::DoNotOptimize(matches);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_MatchDataTrigger)->Arg(1)->Arg(4)->Arg(21);

} // namespace

BENCHMARK_MAIN();
