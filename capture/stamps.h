#pragma once
// Date and time stamps from the local clock and the user's locale (QLocale's default locale, which
// is the system's unless the program chose another).

#include <QDateTime>
#include <functional>
#include <string>

// "dd-mmm-yy" with the locale's abbreviated month name.
std::string DateStamp(const QDateTime& at);
// "hh:mm:ss" on the 24-hour clock, the colons written as the locale's time separator.
std::string TimeStamp(const QDateTime& at);
// The same for the current moment, each reading the clock on its own.
std::string DateStamp();
std::string TimeStamp();

// The clock the stamps read; tests fix it. An empty function restores the local clock.
void SetClock(std::function<QDateTime()> clock);
// The local time to the second (the stamps show no finer): the local clock's reading is worked
// out once per second, not for every report line of a flood.
QDateTime CurrentDateTime();
