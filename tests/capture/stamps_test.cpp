#include "capture/stamps.h"

#include <QLocale>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>
#include <utility>

namespace {

class StampsTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetClock({});
        QLocale::setDefault(QLocale::system());
    }
    static void FixClock(int year, int month, int day, int h, int m, int s) {
        SetClock([=] { return QDateTime(QDate(year, month, day), QTime(h, m, s)); });
    }
};

TEST_F(StampsTest, EnglishMonthAbbreviationsAndTwoDigitFields) {
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        QLocale::setDefault(locale);
        for (int month = 1; month <= 12; ++month) {
            FixClock(2009, month, 3, 7, 5, 1);
            EXPECT_EQ(DateStamp(), std::string("03-") + months[month - 1] + "-09");
        }
        // The US format is "h:mm AP": the stamp is still two-digit hours on the 24-hour clock.
        FixClock(2000, 1, 31, 23, 0, 9);
        EXPECT_EQ(DateStamp(), "31-Jan-00");
        EXPECT_EQ(TimeStamp(), "23:00:09");
        FixClock(2026, 12, 7, 0, 4, 0);
        EXPECT_EQ(TimeStamp(), "00:04:00");
    }
}

TEST_F(StampsTest, TheLocalClockReadsTheCurrentMillisecondInLocalTime) {
    for (int i = 0; i < 4; ++i) {
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const QDateTime read = CurrentDateTime();
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        // To the millisecond: the forwarded time of a report line carries them.
        EXPECT_GE(read.toMSecsSinceEpoch(), before);
        EXPECT_LE(read.toMSecsSinceEpoch(), after);
        // The stamps show its date and time: those of the local clock.
        EXPECT_EQ(read.date(), read.toLocalTime().date());
        EXPECT_EQ(read.time(), read.toLocalTime().time());
        if (i == 1)
            QThread::msleep(1100); // the next reading falls in a later second
        if (i == 2)
            QThread::msleep(150); // most likely within the same second
    }
}

// The zone is read once a second for the whole program: a change of it (or of daylight saving)
// must still reach every thread's stamps within about a second.
TEST_F(StampsTest, AChangeOfTimeZoneReachesEveryThreadWithinASecond) {
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    const QByteArray zoneWas = qgetenv("TZ");
    const auto nextSecond = [] {
        const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
        while (QDateTime::currentMSecsSinceEpoch() / 1000 == second)
            QThread::msleep(10);
    };
    // POSIX zone texts: no zone files needed.
    for (const auto& [zone, offset] : {std::pair{"UTC0", 0}, std::pair{"IST-5:30", 19800}}) {
        (void)CurrentDateTime(); // the reading of this second is taken before the change
        qputenv("TZ", zone);
        nextSecond();
        EXPECT_EQ(CurrentDateTime().offsetFromUtc(), offset) << zone;
        int onAnotherThread = -1;
        std::thread([&] { onAnotherThread = CurrentDateTime().offsetFromUtc(); }).join();
        EXPECT_EQ(onAnotherThread, offset) << zone;
    }
    if (hadZone)
        qputenv("TZ", zoneWas);
    else
        qunsetenv("TZ");
}

TEST_F(StampsTest, TimeSeparatorFollowsTheLocale) {
    FixClock(2026, 12, 7, 15, 4, 9);
    const struct {
        QLocale::Language Language;
        QLocale::Territory Territory;
        const char* Expected;
    } cases[] = {{QLocale::Finnish, QLocale::Finland, "15.04.09"},
                 {QLocale::Danish, QLocale::Denmark, "15.04.09"},
                 {QLocale::German, QLocale::Germany, "15:04:09"}};
    for (const auto& c : cases) {
        QLocale::setDefault(QLocale(c.Language, c.Territory));
        EXPECT_EQ(TimeStamp(), c.Expected) << QLocale().name().toStdString();
    }
}

} // namespace
