// Adding the n-th report line to a line's two views (the main window's, shown, and the expanded
// one, hidden until asked for), for n up to 200,000, and the memory the views then hold: the
// resident size's growth and the heap's (the resident size of a later case may reuse memory an
// earlier one freed). "batch" lines go in before the views take them into their documents: 1 is a
// line arriving on its own, 100 a flood. With "events" the event loop runs after each batch, so
// layout and painting of the shown view count. Times are per line.

#include "bench/resident_bytes.h"
#include "ui/report_view.h"

#include <QApplication>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <malloc.h>

namespace {

// The heap in use: unlike the resident size, it falls again when an earlier case frees its views.
double HeapBytes() {
    return static_cast<double>(mallinfo2().uordblks);
}

QString ReportLine(long number) {
    return QStringLiteral("07-Dec-26,15:04:09,LOT %1 COUNT 42 PASS").arg(number, 6, 10, QChar('0'));
}

// state.range(0): lines already in both views; state.range(1): lines per batch; state.range(2):
// 1 to run the event loop after each batch.
void BM_AddReportLine(benchmark::State& state) {
    const long held = state.range(0);
    const long batch = state.range(1);
    const bool events = state.range(2) != 0;
    const double rssBefore = ResidentBytes();
    const double heapBefore = HeapBytes();
    QWidget mainWindow;
    mainWindow.resize(480, 200);
    auto* mainView = new TReportView(&mainWindow, false);
    mainView->setGeometry(8, 8, 460, 180);
    mainWindow.show();
    QWidget expandedWindow;
    auto* expandedView = new TReportView(&expandedWindow, true);
    expandedView->setGeometry(24, 23, 937, 594);
    for (long n = 0; n < held; ++n) {
        const QString line = ReportLine(n);
        mainView->AddLine(line);
        expandedView->AddLine(line);
    }
    QApplication::processEvents();
    const double rssHeld = ResidentBytes();
    const double heapHeld = HeapBytes();

    long n = held;
    for (auto _ : state) {
        for (long i = 0; i < batch; ++i) {
            const QString line = ReportLine(n++);
            mainView->AddLine(line);
            expandedView->AddLine(line);
        }
        if (events) {
            QApplication::processEvents();
        } else {
            mainView->FlushLines();
            expandedView->FlushLines();
        }
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["views_MiB"] = (rssHeld - rssBefore) / 1048576.0;
    state.counters["heap_MiB"] = (heapHeld - heapBefore) / 1048576.0;
    state.counters["heap_per_line"] = held > 0 ? (heapHeld - heapBefore) / held : 0.0;
    state.counters["lines"] = static_cast<double>(n);
}

BENCHMARK(BM_AddReportLine)
    ->ArgsProduct({{0, 10000, 200000}, {1, 100}, {0, 1}})
    ->ArgNames({"held", "batch", "events"})
    ->Unit(benchmark::kMicrosecond);

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
