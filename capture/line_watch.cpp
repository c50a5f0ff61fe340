#include "capture/line_watch.h"

#include "capture/daily_report_file.h"
#include "capture/line_state.h"
#include "capture/stamps.h"
#include "runtime/system_log.h"

namespace {

bool SilentAt(const ProductionLine& line, std::int64_t now) {
    if (!line.Started || line.SilenceMinutes <= 0)
        return false;
    return now - line.LastReportAt.Load() >= std::int64_t{line.SilenceMinutes} * 60 * 1000;
}

} // namespace

LineWatch::LineWatch(ProductionLines& lines) : lines_(lines) {
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &LineWatch::Look);
    timer_.start();
}

void LineWatch::Look() {
    const QDateTime now = CurrentDateTime();
    for (int n = 1; n <= LineCount; ++n) {
        ProductionLine& line = lines_.Line(n);
        bool changed = false;
        const bool silent = SilentAt(line, now.toMSecsSinceEpoch());
        std::int64_t& silentAfter = silentAfter_[static_cast<std::size_t>(n - 1)];
        if (silent != line.Silent) {
            line.Silent = silent;
            changed = true;
            if (silent) {
                silentAfter = line.LastReportAt.Load();
                SystemLog(LogLevel::Warning, line.Caption + ": silent, " + SilenceNews(line));
            } else if (line.Started && line.LastReportAt.Load() != silentAfter) {
                SystemLog(LogLevel::Notice, line.Caption + ": reporting again, a report line at " +
                                                LastReportTime(line));
            }
        }
        const QDate day = line.Started && line.NewFileEachDay.Load()
                              ? ReportDay(now, line.NewFileAt.Load())
                              : QDate();
        QDate& toldDay = fileDays_[static_cast<std::size_t>(n - 1)];
        if (day != toldDay) {
            // A start says its file itself; a new day's file is told here.
            if (day.isValid() && toldDay.isValid())
                SystemLog(LogLevel::Notice, line.Caption + ": reporting to " +
                                                ReportFileAt(line, line.ReportFile, now));
            toldDay = day;
            changed = true;
        }
        if (changed)
            emit lines_.LineStateChanged(n);
    }
}
