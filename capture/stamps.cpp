#include "capture/stamps.h"

#include "runtime/ansi_text.h"

#include <QLocale>
#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>

namespace {

// A test sets the clock on its thread while the ports' threads read it.
std::mutex clockMutex;
std::atomic<bool> clockSet{false};
std::shared_ptr<const std::function<QDateTime()>>& Clock() {
    static std::shared_ptr<const std::function<QDateTime()>> clock;
    return clock;
}

QString TwoDigits(int value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

// The text the locale's time format puts between the hours and the minutes, quotes removed.
QString TimeSeparator(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    qsizetype i = 0;
    while (i < format.size() && format[i] != u'h' && format[i] != u'H')
        ++i;
    while (i < format.size() && (format[i] == u'h' || format[i] == u'H'))
        ++i;
    QString separator;
    for (; i < format.size() && format[i] != u'm'; ++i) {
        if (format[i] != u'\'')
            separator.append(format[i]);
    }
    if (i >= format.size() || separator.isEmpty())
        return QStringLiteral(":");
    return separator;
}

// The second and the local offset at it, packed in one word so that every thread reads both at
// once without a lock: the second in the high bits, the offset (at most a day either way) in
// the low ones. Zero: none yet.
constexpr int OffsetBits = 18;
constexpr qint64 OffsetBias = qint64{1} << (OffsetBits - 1);
std::atomic<quint64> zoneReading{0};
std::atomic_flag zoneReadingTaken;

// The second that the instant falls in, rounded down also before 1970.
qint64 SecondOf(qint64 msecs) {
    return msecs / 1000 - (msecs % 1000 < 0 ? 1 : 0);
}

// The local clock's offset from UTC at the instant, in seconds. The thread that first finds
// the second new reads the zone; any other that finds it new meanwhile goes on with the last
// second's offset rather than wait, as a reading within that second would have.
int LocalOffsetAt(qint64 msecs) {
    const qint64 second = SecondOf(msecs);
    const quint64 last = zoneReading.load(std::memory_order_acquire);
    const auto offsetOf = [](quint64 reading) {
        return static_cast<int>(static_cast<qint64>(reading & ((quint64{1} << OffsetBits) - 1)) -
                                OffsetBias);
    };
    if (second < 0 || second >= (qint64{1} << (63 - OffsetBits)))
        return QDateTime::fromMSecsSinceEpoch(msecs).offsetFromUtc();
    if (last != 0 && static_cast<qint64>(last >> OffsetBits) == second)
        return offsetOf(last);
    if (last != 0 && zoneReadingTaken.test_and_set(std::memory_order_acquire))
        return offsetOf(last);
    const int offset = QDateTime::fromMSecsSinceEpoch(msecs).offsetFromUtc();
    zoneReading.store((static_cast<quint64>(second) << OffsetBits) |
                          static_cast<quint64>(offset + OffsetBias),
                      std::memory_order_release);
    if (last != 0)
        zoneReadingTaken.clear(std::memory_order_release);
    return offset;
}

} // namespace

void SetClock(std::function<QDateTime()> clock) {
    std::lock_guard lock(clockMutex);
    clockSet = static_cast<bool>(clock);
    Clock() =
        clock ? std::make_shared<const std::function<QDateTime()>>(std::move(clock)) : nullptr;
}

QDateTime CurrentDateTime() {
    if (clockSet) {
        std::shared_ptr<const std::function<QDateTime()>> clock;
        {
            std::lock_guard lock(clockMutex);
            clock = Clock();
        }
        if (clock)
            return (*clock)();
    }
    // Each local reading looks at the time zone afresh (file stats under the C library's zone
    // lock). The local offset is read once a second for the whole program, not once a second
    // on each port's thread: lines that end together on eight ports would otherwise queue on
    // that lock at every new second. The reading is kept as the same wall time at its fixed
    // offset: turning a local time into an instant (the line's last report, the forwarded time)
    // would look at the zone again, for every line. The milliseconds still move on: the
    // forwarded time carries them.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = SecondOf(now);
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local qint64 cachedAt = 0;
    thread_local QDateTime cached;
    if (second != cachedSecond) {
        cached = QDateTime::fromMSecsSinceEpoch(now, Qt::OffsetFromUTC, LocalOffsetAt(now));
        cachedSecond = second;
        cachedAt = now;
    }
    return now == cachedAt ? cached : cached.addMSecs(now - cachedAt);
}

// The default locale is the system's unless the program (or a test) chose another. A stamp's
// text is kept until its date, second or locale changes: a flood shares it across many lines.
std::string DateStamp(const QDateTime& at) {
    thread_local QDate cachedDate;
    thread_local QLocale cachedLocale;
    thread_local std::string cachedText;
    const QDate date = at.date();
    const QLocale locale;
    if (cachedText.empty() || date != cachedDate || locale != cachedLocale) {
        const QString text = TwoDigits(date.day()) + u'-' +
                             locale.monthName(date.month(), QLocale::ShortFormat) + u'-' +
                             TwoDigits(((date.year() % 100) + 100) % 100);
        cachedText = QStringToAnsi(text);
        cachedDate = date;
        cachedLocale = locale;
    }
    return cachedText;
}

std::string TimeStamp(const QDateTime& at) {
    thread_local int cachedSecond = -1;
    thread_local QLocale cachedLocale;
    thread_local std::string cachedText;
    const QTime time = at.time();
    const int second = time.msecsSinceStartOfDay() / 1000;
    const QLocale locale;
    if (second != cachedSecond || locale != cachedLocale) {
        const QString separator = TimeSeparator(locale);
        const QString text = TwoDigits(time.hour()) + separator + TwoDigits(time.minute()) +
                             separator + TwoDigits(time.second());
        cachedText = QStringToAnsi(text);
        cachedSecond = second;
        cachedLocale = locale;
    }
    return cachedText;
}

std::string DateStamp() {
    return DateStamp(CurrentDateTime());
}

std::string TimeStamp() {
    return TimeStamp(CurrentDateTime());
}
