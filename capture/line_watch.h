#pragma once

#include "capture/production_line.h"

#include <QDate>
#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>

// Looks at the lines once a second. A started line that has completed no report line for its
// silence minutes falls silent, and its next report line ends that, each told once to the system
// log; a line with a new file each day turns to the next day's file. Each change is told through
// ProductionLines::LineStateChanged. The lines own it, so the windowed and the headless program
// share it.
class LineWatch : public QObject {
public:
    explicit LineWatch(ProductionLines& lines);

    // One look at every line, at the clock's present reading.
    void Look();

private:
    ProductionLines& lines_;
    QTimer timer_;
    std::array<QDate, LineCount> fileDays_{}; // the day of each daily line's file, as last told
    // Each silent line's latest report line when it fell silent: a newer one ends the silence.
    std::array<std::int64_t, LineCount> silentAfter_{};
};
