// A line's two views (the main window's and the expanded one, both shown) over the store they
// share:
// - BM_AddReportLine: adding the n-th report line, for n up to 5 million, and the heap that the
//   held lines take, per line (the resident size would count memory an earlier case freed).
//   "batch" lines go in before the views take them: 1 is a line arriving on its own, 100 a flood.
//   With "events" the event loop runs after each batch, so painting counts too. CPU per line.
// - BM_LongReportLine: one report line of "bytes" bytes added, taken in and painted by both views.
// - BM_RewrapHeldLines: the expanded view made wider or narrower while it holds "held" lines.

#include "ui/report_view.h"

#include <QApplication>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <memory>
#include <string>

namespace {

// The heap in use, the blocks it maps on their own included: unlike the resident size, it falls
// again when an earlier case frees its views.
double HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

std::string ReportLine(long number) {
    char line[64];
    std::snprintf(line, sizeof line, "07-Dec-26,15:04:09,LOT %06ld COUNT 42 PASS", number);
    return line;
}

// The two views of one line at their sizes in the program, both windows showing.
struct LineViews {
    QWidget MainWindow;
    QWidget ExpandedWindow;
    TReportView* Main;
    TReportView* Expanded;

    LineViews() {
        MainWindow.resize(480, 200);
        Main = new TReportView(&MainWindow, false);
        Main->setGeometry(8, 8, 405, 121);
        ExpandedWindow.resize(985, 639);
        Expanded = new TReportView(&ExpandedWindow, true, Main->SharedStore());
        Expanded->setGeometry(24, 23, 937, 594);
        MainWindow.show();
        ExpandedWindow.show();
        QApplication::processEvents();
    }
    ReportStore& Store() { return Main->Store(); }
};

// state.range(0): lines already held; state.range(1): lines per batch; state.range(2): 1 to run
// the event loop after each batch.
void BM_AddReportLine(benchmark::State& state) {
    const long held = state.range(0);
    const long batch = state.range(1);
    const bool events = state.range(2) != 0;
    // After the windows, whose backing stores and fonts cost the same however many lines.
    auto views = std::make_unique<LineViews>();
    const double heapBefore = HeapBytes();
    double textBytes = 0;
    for (long n = 0; n < held; ++n) {
        const std::string line = ReportLine(n);
        textBytes += static_cast<double>(line.size());
        views->Store().Append(line);
    }
    QApplication::processEvents();
    const double heapHeld = HeapBytes();

    long n = held;
    for (auto _ : state) {
        for (long i = 0; i < batch; ++i)
            views->Store().Append(ReportLine(n++));
        if (events) {
            QApplication::processEvents();
        } else {
            views->Main->FlushLines();
            views->Expanded->FlushLines();
        }
    }
    state.counters["per_line"] = benchmark::Counter(static_cast<double>(batch),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
    if (held > 0) {
        state.counters["text_per_line"] = textBytes / static_cast<double>(held);
        state.counters["heap_per_line"] = (heapHeld - heapBefore) / static_cast<double>(held);
    }
}

BENCHMARK(BM_AddReportLine)
    ->ArgsProduct({{0, 100000, 1000000, 5000000}, {1, 100}, {0, 1}})
    ->ArgNames({"held", "batch", "events"})
    ->Unit(benchmark::kMicrosecond);

// state.range(0): bytes in the line. Wall time: this is how long every line waits.
void BM_LongReportLine(benchmark::State& state) {
    LineViews views;
    for (long n = 0; n < 10000; ++n)
        views.Store().Append(ReportLine(n));
    QApplication::processEvents();
    const std::string line(static_cast<std::size_t>(state.range(0)), 'X');
    for (auto _ : state) {
        views.Store().Append(line);
        QApplication::processEvents();
        // Painted now, whatever the window system would have asked for.
        views.Main->viewport()->repaint();
        views.Expanded->viewport()->repaint();
    }
}

BENCHMARK(BM_LongReportLine)
    ->Arg(256 * 1024)
    ->Arg(1024 * 1024)
    ->ArgName("bytes")
    ->Iterations(30)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// state.range(0): lines held. Each pass changes the expanded view's width, so every row is
// counted again, and paints it.
void BM_RewrapHeldLines(benchmark::State& state) {
    LineViews views;
    for (long n = 0; n < state.range(0); ++n)
        views.Store().Append(ReportLine(n) + (n % 10 == 0 ? std::string(300, 'W') : std::string()));
    QApplication::processEvents();
    bool wide = false;
    for (auto _ : state) {
        wide = !wide;
        views.Expanded->resize(wide ? 1200 : 937, 594);
        views.Expanded->viewport()->repaint();
    }
}

BENCHMARK(BM_RewrapHeldLines)
    ->Arg(5000000)
    ->ArgName("held")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
