#include "capture/line_capture.h"

#include "capture/daily_report_file.h"
#include "capture/stamps.h"

#include <algorithm>

namespace {

constexpr char CR = 13;
constexpr char LF = 10;

} // namespace

void HandleTriggerAvail(ProductionLine& line, LineEndpoints& endpoints, std::uint16_t count) {
    std::string& pending = line.Capture.PendingText;
    const std::size_t at = pending.size();
    pending.resize(at + count);
    // Nothing is made up for bytes that are not there.
    pending.resize(at + endpoints.TakeChars(pending.data() + at, count));
    pending.erase(std::remove_if(pending.begin() + static_cast<std::ptrdiff_t>(at), pending.end(),
                                 [](char c) { return c == CR || c == LF; }),
                  pending.end());
    line.Capture.MidLine.store(!pending.empty(), std::memory_order_relaxed);
}

void HandleTriggerData(ProductionLine& production, LineEndpoints& endpoints,
                       std::uint16_t triggerHandle) {
    LineCapture& line = production.Capture;
    if (triggerHandle != line.LineTriggerHandle)
        return;
    // Before the stamping settings are first loaded the delimiter is still zero; a NUL byte must
    // never reach a report file, so such a line gets the comma that every unknown code gets.
    const char set = line.Delimiter;
    const char delimiter = set != 0 ? set : DelimiterFromCode(-1);
    line.ReportLine.clear();
    // One reading of the clock for both stamps: read separately, a line completed at midnight
    // could carry the old day's date with the new day's time, a day off. The same reading picks
    // a daily line's file, so that a line stamped on the new day is in the new day's file.
    const bool date = production.DateStamp;
    const bool time = production.TimeStamp;
    const QDateTime now = CurrentDateTime();
    if (date)
        line.ReportLine = DateStamp(now) + delimiter;
    if (time)
        line.ReportLine += TimeStamp(now) + delimiter;
    line.ReportLine += line.PendingText;
    line.PendingText.clear();
    line.MidLine.store(false, std::memory_order_relaxed);
    if (!production.Started)
        return;
    production.LastReportAt.Store(now.toMSecsSinceEpoch());
    // Handed to the line's writer first: the disk is never waited for inside a port's event, and
    // the file never waits for the views. The forwarder's hand-over is an enqueue in memory.
    const std::string file = ReportFileAt(production, production.ReportFile.Get(), now);
    production.Writer().Submit(file, line.ReportLine);
    if (ReportLineSink* sink = production.Forward.Get())
        sink->ReportLineCompleted(file, line.ReportLine,
                                  std::chrono::system_clock::time_point(
                                      std::chrono::milliseconds(now.toMSecsSinceEpoch())));
    endpoints.AddToViews(line.ReportLine);
}
