#include "capture/stamps.h"

#include "runtime/ansi_text.h"

#include <QLocale>
#include <utility>

namespace {

std::function<QDateTime()>& Clock() {
    static std::function<QDateTime()> clock;
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

} // namespace

void SetClock(std::function<QDateTime()> clock) {
    Clock() = std::move(clock);
}

QDateTime CurrentDateTime() {
    const auto& clock = Clock();
    return clock ? clock() : QDateTime::currentDateTime();
}

// The default locale is the system's unless the program (or a test) chose another.
std::string DateStamp() {
    const QDate date = CurrentDateTime().date();
    const QLocale locale;
    const QString text = TwoDigits(date.day()) + u'-' +
                         locale.monthName(date.month(), QLocale::ShortFormat) + u'-' +
                         TwoDigits(((date.year() % 100) + 100) % 100);
    return QStringToAnsi(text);
}

std::string TimeStamp() {
    const QTime time = CurrentDateTime().time();
    const QString separator = TimeSeparator(QLocale());
    const QString text = TwoDigits(time.hour()) + separator + TwoDigits(time.minute()) + separator +
                         TwoDigits(time.second());
    return QStringToAnsi(text);
}
