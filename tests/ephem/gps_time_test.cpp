#include "ephem/gps_time.h"

#include <gtest/gtest.h>

#include <string>

namespace rawconv {
namespace {

struct Date {
  int hour, minute;
  double seconds;
  int month, day, year;
};

Date ToDate(int week, double sow) {
  Date d{};
  GpsToDate(week, sow, d.hour, d.minute, d.seconds, d.month, d.day, d.year);
  return d;
}

void ExpectDate(const Date& d, int year, int month, int day, int hour, int minute,
                double seconds) {
  EXPECT_EQ(d.year, year);
  EXPECT_EQ(d.month, month);
  EXPECT_EQ(d.day, day);
  EXPECT_EQ(d.hour, hour);
  EXPECT_EQ(d.minute, minute);
  EXPECT_DOUBLE_EQ(d.seconds, seconds);
}

std::tm Record(int year_since_1900, int mon, int mday, int hour = 0, int min = 0, int sec = 0) {
  std::tm t{};
  t.tm_year = year_since_1900;
  t.tm_mon = mon;
  t.tm_mday = mday;
  t.tm_hour = hour;
  t.tm_min = min;
  t.tm_sec = sec;
  return t;
}

TEST(LinearSeconds, KnownInstantsAndRoundTrip) {
  EXPECT_EQ(TmToSeconds(Record(70, 0, 1)), 0);
  EXPECT_EQ(TmToSeconds(Record(80, 0, 6)), 315964800);
  EXPECT_EQ(TmToSeconds(Record(138, 0, 19, 3, 14, 7)), 2147483647);
  // Years 0..69 mean 2000..2069.
  EXPECT_EQ(TmToSeconds(Record(5, 8, 18)), TmToSeconds(Record(105, 8, 18)));
  // Past the end of 32-bit seconds: 2038-01-19 03:14:08 and 2050-01-01.
  EXPECT_EQ(TmToSeconds(Record(138, 0, 19, 3, 14, 8)), 2147483648LL);
  EXPECT_EQ(TmToSeconds(Record(150, 0, 1)), 2524608000LL);

  // Every day from 1970 to 2060 survives the round trip.
  for (int64_t t = 0; t < 2840140800LL; t += 86400 + 3661) {
    std::tm copy = SecondsToTm(t);
    EXPECT_EQ(TmToSeconds(copy), t);
    EXPECT_EQ(copy.tm_wday, 0);
  }
}

TEST(LinearSeconds, MonthOutsideTableCarriedIntoYear) {
  EXPECT_EQ(TmToSeconds(Record(105, 12, 1)), TmToSeconds(Record(106, 0, 1)));
  EXPECT_EQ(TmToSeconds(Record(105, -1, 1)), TmToSeconds(Record(104, 11, 1)));
}

TEST(LinearSeconds, BadDayNumberPrintedBefore1970) {
  testing::internal::CaptureStdout();
  const int64_t t = -86400;
  const std::tm r = SecondsToTm(t);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Internal error: Bad day number\n");
  EXPECT_EQ(r.tm_mon, 0);
  EXPECT_EQ(r.tm_mday, 0);  // January, day d + 1 with d = -1
}

TEST(GpsToDate, WeekWindowAndFractions) {
  ExpectDate(ToDate(1341, 0.0), 2005, 9, 18, 0, 0, 0.0);
  ExpectDate(ToDate(317, 0.0), 2005, 9, 18, 0, 0, 0.0);
  ExpectDate(ToDate(700, 0.0), 1993, 6, 6, 0, 0, 0.0);
  ExpectDate(ToDate(699, 0.0), 2013, 1, 13, 0, 0, 0.0);
  ExpectDate(ToDate(1341, 604799.5), 2005, 9, 24, 23, 59, 59.5);
  ExpectDate(ToDate(1351, 318193.25), 2005, 11, 30, 16, 23, 13.25);
  ExpectDate(ToDate(0 + 1024, 0.0), 1999, 8, 22, 0, 0, 0.0);
  ExpectDate(ToDate(1565, 0.0), 2010, 1, 3, 0, 0, 0.0);
  // After the 2019 rollover and past 2038.
  ExpectDate(ToDate(2048, 0.0), 2019, 4, 7, 0, 0, 0.0);
  ExpectDate(ToDate(2138, 345600.0), 2020, 12, 31, 0, 0, 0.0);
  ExpectDate(ToDate(3000, 0.0), 2037, 7, 5, 0, 0, 0.0);
  ExpectDate(ToDate(4095, 0.0), 2058, 6, 30, 0, 0, 0.0);
}

TEST(DateToGps, WeeksLeapDaysAndYearForms) {
  for (int year : {2005, 105, 5}) {
    int week = -1;
    double sow = -1;
    DateToGps(16, 23, 13.25, 11, 30, year, week, sow);
    EXPECT_EQ(week, 327) << year;
    EXPECT_DOUBLE_EQ(sow, 318193.25) << year;
  }
  struct Case {
    int month, day, year, week;
    double sow;
  } cases[] = {
      {1, 6, 1980, 0, 0.0},       {8, 22, 1999, 0, 0.0},       {4, 7, 2019, 1024, 0.0},
      {2, 29, 2000, 27, 172800.0}, {3, 1, 2000, 27, 259200.0}, {2, 29, 2004, 236, 0.0},
      {12, 31, 2020, 1114, 345600.0}, {1, 1, 99, 990, 432000.0},
  };
  for (const Case& c : cases) {
    int week = -1;
    double sow = -1;
    DateToGps(0, 0, 0.0, c.month, c.day, c.year, week, sow);
    EXPECT_EQ(week, c.week) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_DOUBLE_EQ(sow, c.sow) << c.year << "-" << c.month << "-" << c.day;
  }
}

TEST(ResolveGpsWeek, ReferenceRules) {
  EXPECT_EQ(ResolveGpsWeek(1340, 590400.0, 3600.0), 1341);
  EXPECT_EQ(ResolveGpsWeek(1341, 0.0, 7200.0), 1342);
  EXPECT_EQ(ResolveGpsWeek(1341, 0.0, 590000.0), 1341);
  EXPECT_EQ(ResolveGpsWeek(1341, 400000.0, 50000.0), 1342);
  EXPECT_EQ(ResolveGpsWeek(300, 100.0, 200.0), 1324);
  EXPECT_EQ(ResolveGpsWeek(1341, 100.0, 300100.0), 1340);  // exactly at the limit
  EXPECT_EQ(ResolveGpsWeek(1341, 100.0, 300099.0), 1341);
  EXPECT_EQ(ResolveGpsWeek(2140, 7200.0, 3600.0), 2140);
}

TEST(ParseTimeStr, AcceptsAndRejects) {
  int h = -1, m = -1;
  double s = -1;
  EXPECT_EQ(ParseTimeStr("12:30:15.5Z", h, m, s), 0);
  EXPECT_EQ(h, 12);
  EXPECT_EQ(m, 30);
  EXPECT_DOUBLE_EQ(s, 15.5);
  EXPECT_EQ(ParseTimeStr("12:60:60", h, m, s), 0);
  EXPECT_EQ(ParseTimeStr("-3:00:00", h, m, s), 0);  // no lower limit on hours
  EXPECT_EQ(h, -3);
  EXPECT_EQ(ParseTimeStr("1:2: 5", h, m, s), 0);
  EXPECT_DOUBLE_EQ(s, 0.0);
  EXPECT_EQ(ParseTimeStr("1:2:-5", h, m, s), 0);
  EXPECT_DOUBLE_EQ(s, 0.0);

  EXPECT_EQ(ParseTimeStr("12:30", h, m, s), 1);
  EXPECT_EQ(ParseTimeStr("256:00:00", h, m, s), 1);
  EXPECT_EQ(ParseTimeStr("12:61:00", h, m, s), 1);
  EXPECT_EQ(ParseTimeStr("12:-1:00", h, m, s), 1);
  EXPECT_EQ(ParseTimeStr("12:00:60.5", h, m, s), 1);
  EXPECT_EQ(ParseTimeStr("99999999999999999999:00:00", h, m, s), 1);
  // 31 characters still parse; 32 are rejected.
  const std::string ok = "12:30:15.5" + std::string(21, 'x');
  EXPECT_EQ(ParseTimeStr(ok.c_str(), h, m, s), 0);
  EXPECT_EQ(ParseTimeStr((ok + "x").c_str(), h, m, s), 1);
}

TEST(ParseDateStr, YearsMonthsAndLength) {
  int mo = -1, d = -1, y = -1;
  EXPECT_EQ(ParseDateStr("11/30/49", mo, d, y), 0);
  EXPECT_EQ(y, 2049);
  EXPECT_EQ(ParseDateStr("11/30/50", mo, d, y), 0);
  EXPECT_EQ(y, 1950);
  EXPECT_EQ(ParseDateStr("11/30/1999", mo, d, y), 0);
  EXPECT_EQ(mo, 11);
  EXPECT_EQ(d, 30);
  EXPECT_EQ(y, 1999);
  EXPECT_EQ(ParseDateStr("11-30-05", mo, d, y), 1);
  EXPECT_EQ(ParseDateStr("11/30", mo, d, y), 1);
  EXPECT_EQ(ParseDateStr("0/30/05", mo, d, y), 1);
  EXPECT_EQ(ParseDateStr("13/30/05", mo, d, y), 1);
  EXPECT_EQ(ParseDateStr(("11/30/05" + std::string(24, ' ')).c_str(), mo, d, y), 1);
}

TEST(DateStrToGps, ContinuousSeconds) {
  double t = 0;
  EXPECT_EQ(DateStrToGps("16:23:13.25", "11/30/05", t), 0);
  EXPECT_DOUBLE_EQ(t, 1351 * 604800.0 + 318193.25);
  // After the 2019 rollover the week stays above 1024 once completed.
  EXPECT_EQ(DateStrToGps("00:00:00", "12/31/2020", t), 0);
  EXPECT_DOUBLE_EQ(t, 2138 * 604800.0 + 345600.0);
  EXPECT_EQ(DateStrToGps("16:23", "11/30/05", t), 1);
  EXPECT_EQ(DateStrToGps("16:23:00", "11.30.05", t), 1);
}

}  // namespace
}  // namespace rawconv
