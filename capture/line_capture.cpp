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
    char bytes[512];
    std::size_t left = count;
    while (left > 0) {
        const std::size_t taken = endpoints.TakeChars(bytes, std::min(left, sizeof bytes));
        if (taken == 0)
            return; // nothing is made up for bytes that are not there
        for (std::size_t i = 0; i < taken; ++i)
            if (bytes[i] != CR && bytes[i] != LF)
                pending.push_back(bytes[i]);
        left -= taken;
    }
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
