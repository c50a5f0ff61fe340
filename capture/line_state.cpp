#include "capture/line_state.h"

#include "capture/production_line.h"
#include "capture/stamps.h"

#include <QDateTime>

LineState LineStateOf(const ProductionLines& lines, int line) {
    const ProductionLine& production = lines.Line(line);
    if (lines.SwitchedOff(line))
        return LineState::Off;
    if (production.PortStatus == PortState::Waiting)
        return LineState::Waiting;
    if (production.Reports && production.Reports->Status().ErrorCode != 0)
        return LineState::FileFailing;
    if (production.Silent)
        return LineState::Silent;
    return production.Started ? LineState::Capturing : LineState::Stopped;
}

const char* LineStateName(LineState state) {
    switch (state) {
    case LineState::Waiting:
        return "waiting for device";
    case LineState::FileFailing:
        return "file failing";
    case LineState::Silent:
        return "silent";
    case LineState::Capturing:
        return "capturing";
    case LineState::Off:
    case LineState::Stopped:
        break;
    }
    return "stopped";
}

std::string LastReportTime(const ProductionLine& line) {
    const QDateTime last = QDateTime::fromMSecsSinceEpoch(line.LastReportAt.Load());
    // A silence that began on another day says which.
    const bool today = last.date() == CurrentDateTime().date();
    return last.toString(today ? QStringLiteral("hh:mm:ss") : QStringLiteral("yyyy-MM-dd hh:mm:ss"))
        .toStdString();
}

std::string SilenceNews(const ProductionLine& line) {
    return "no report since " + LastReportTime(line);
}
