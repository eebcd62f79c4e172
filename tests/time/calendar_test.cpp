#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>

#include "ephem/gps_time.h"
#include "time/calendar.h"

namespace rawconv {
namespace {

TEST(Calendar, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_TRUE(IsLeapYear(1600));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2100, 2), 28);
  EXPECT_EQ(DaysInMonth(2023, 4), 30);
  EXPECT_EQ(DaysInMonth(2023, 12), 31);
  EXPECT_EQ(DaysInMonth(2023, 0), 0);
  EXPECT_EQ(DaysInMonth(2023, 13), 0);
  EXPECT_EQ(DaysBeforeMonth(13, false), 365);
  EXPECT_EQ(DaysBeforeMonth(13, true), 366);
  EXPECT_EQ(DaysBeforeMonth(14, true), 0);
}

TEST(Calendar, DayOfYearOfKnownDates) {
  EXPECT_EQ(DayOfYear(2005, 1, 1), 1);
  EXPECT_EQ(DayOfYear(2005, 3, 1), 60);
  EXPECT_EQ(DayOfYear(2000, 3, 1), 61);
  EXPECT_EQ(DayOfYear(1900, 3, 1), 60);
  EXPECT_EQ(DayOfYear(2100, 12, 31), 365);
  EXPECT_EQ(DayOfYear(2000, 12, 31), 366);
  EXPECT_EQ(DayOfYear(2000, 0, 1), 0);
}

TEST(Calendar, DayCountsOfKnownDates) {
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(1969, 12, 31), -1);
  EXPECT_EQ(DaysFromCivil(1980, 1, 6), 3657);  // GPS week 0
  EXPECT_EQ(DaysFromCivil(2000, 1, 1), 10957);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1), 11017);  // after the century leap day
  EXPECT_EQ(DaysFromCivil(2100, 3, 1) - DaysFromCivil(2100, 2, 28), 1);
  EXPECT_EQ(DaysFromCivil(1600, 1, 1), -135140);
  int64_t year = 0;
  int month = 0, day = 0;
  CivilFromDays(-135140, year, month, day);
  EXPECT_EQ(year, 1600);
  EXPECT_EQ(month, 1);
  EXPECT_EQ(day, 1);
}

// Walks day by day over four centuries with the month lengths and checks
// both directions against the walk.
TEST(Calendar, DayCountsFollowAWalkThroughTheDays) {
  int64_t expected = DaysFromCivil(1800, 1, 1);
  int failures = 0;
  for (int64_t y = 1800; y < 2200 && failures < 5; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= DaysInMonth(y, m); ++d, ++expected) {
        int64_t year = 0;
        int month = 0, day = 0;
        CivilFromDays(expected, year, month, day);
        if (DaysFromCivil(y, m, d) != expected || year != y || month != m || day != d) {
          ADD_FAILURE() << y << "-" << m << "-" << d << " at day " << expected;
          ++failures;
        }
      }
    }
  }
  EXPECT_EQ(expected, DaysFromCivil(2200, 1, 1));
}

// The linear seconds of the GPS time module keep the four-year rule; within
// 1901..2099 they are the calendar's day count.
TEST(Calendar, LinearSecondsAgreeWithinTheirCenturies) {
  for (int64_t days = DaysFromCivil(1970, 1, 1); days < DaysFromCivil(2100, 1, 1); days += 13) {
    int64_t year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    std::tm t{};
    t.tm_year = static_cast<int>(year - 1900);
    t.tm_mon = month - 1;
    t.tm_mday = day;
    ASSERT_EQ(TmToSeconds(t), days * 86400) << year << "-" << month << "-" << day;
    const std::tm back = SecondsToTm(days * 86400);
    ASSERT_EQ(back.tm_mon, month - 1);
    ASSERT_EQ(back.tm_mday, day);
  }
}

}  // namespace
}  // namespace rawconv
