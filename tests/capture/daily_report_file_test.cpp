#include "capture/daily_report_file.h"

#include <gtest/gtest.h>

TEST(DailyReportFile, DateGoesBeforeTheExtensionOfTheNameAlone) {
    const QDate day(2026, 12, 9);
    EXPECT_EQ(DatedFileName("/data/press.txt", day), "/data/press_2026-12-09.txt");
    EXPECT_EQ(DatedFileName("/data/press", day), "/data/press_2026-12-09");
    EXPECT_EQ(DatedFileName("/data/shift.a/press", day), "/data/shift.a/press_2026-12-09");
    EXPECT_EQ(DatedFileName("/data/.hidden", day), "/data/.hidden_2026-12-09");
    EXPECT_EQ(DatedFileName("/data/.press.csv", day), "/data/.press_2026-12-09.csv");
    EXPECT_EQ(DatedFileName("press.log.txt", day), "press.log_2026-12-09.txt");
}

TEST(DailyReportFile, DayBeginsAtTheNewFileTime) {
    const QDate day(2026, 12, 9);
    EXPECT_EQ(ReportDay(QDateTime(day, QTime(5, 59, 59)), 6 * 60), QDate(2026, 12, 8));
    EXPECT_EQ(ReportDay(QDateTime(day, QTime(6, 0, 0)), 6 * 60), day);
    EXPECT_EQ(ReportDay(QDateTime(day, QTime(0, 0, 0)), 0), day);
}
