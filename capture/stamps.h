#pragma once
// Date and time stamps from the local clock and the user's locale (QLocale's default locale, which
// is the system's unless the program chose another).

#include <QDateTime>
#include <functional>
#include <string>

// "dd-mmm-yy" with the locale's abbreviated month name.
std::string DateStamp();
// "hh:mm:ss" on the 24-hour clock, the colons written as the locale's time separator.
std::string TimeStamp();

// The clock the stamps read, once per stamp; tests fix it. An empty function restores the local
// clock.
void SetClock(std::function<QDateTime()> clock);
QDateTime CurrentDateTime();
