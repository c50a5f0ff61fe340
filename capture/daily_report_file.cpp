#include "capture/daily_report_file.h"

#include "capture/production_line.h"

#include <cstdio>

std::string DatedFileName(const std::string& chosen, const QDate& day) {
    char date[16];
    std::snprintf(date, sizeof date, "_%04d-%02d-%02d", day.year() % 10000, day.month(), day.day());
    const std::size_t slash = chosen.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t stemStart = chosen.find_first_not_of('.', nameStart);
    const std::size_t dot = chosen.rfind('.');
    if (stemStart == std::string::npos || dot == std::string::npos || dot < stemStart)
        return chosen + date;
    return chosen.substr(0, dot) + date + chosen.substr(dot);
}

QDate ReportDay(const QDateTime& now, int newFileAt) {
    const qint64 start = static_cast<qint64>(newFileAt) * 60 * 1000;
    return now.time().msecsSinceStartOfDay() < start ? now.date().addDays(-1) : now.date();
}

std::string ReportFileAt(const ProductionLine& line, const std::string& chosen,
                         const QDateTime& now) {
    if (!line.NewFileEachDay.Load())
        return chosen;
    return DatedFileName(chosen, ReportDay(now, line.NewFileAt.Load()));
}
