#pragma once
// A line that starts a new report file each day: its chosen file stands for one file per day,
// named by the date of the day that began at the new-file time.

#include <QDateTime>
#include <string>

struct ProductionLine;

// "press.txt" on 9 December 2026 gives "press_2026-12-09.txt": the date goes before the
// extension, or at the end of a name that has none. Only the last part of the path changes, and
// the leading dots of a name (".hidden") do not begin an extension.
std::string DatedFileName(const std::string& chosen, const QDate& day);
// The day running at `now` when each day begins `newFileAt` minutes after midnight.
QDate ReportDay(const QDateTime& now, int newFileAt);
// The file that a report line of the line, completed at `now`, goes to, when `chosen` is the file
// the operator chose.
std::string ReportFileAt(const ProductionLine& line, const std::string& chosen,
                         const QDateTime& now);
