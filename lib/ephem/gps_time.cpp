#include "ephem/gps_time.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "time/calendar.h"

namespace rawconv {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kSecondsPerHour = 3600;
constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kWholeSecondsPerWeek = 604800;

// Seconds in a four-year cycle (1461 days) and the starts of its second,
// third and fourth year (365, 730, 1096 days). The third year of every
// cycle counted from 1970 is the leap year (1972, 1976, ...). Linear seconds
// keep this four-year rule in every century, so they agree with the civil
// calendar (time/calendar.h) from 1901 to 2099 only; the month lengths are
// the calendar's.
constexpr int64_t kCycleSeconds = 126230400;
constexpr int64_t kYear2Start = 31536000;
constexpr int64_t kYear3Start = 63072000;
constexpr int64_t kYear4Start = 94694400;

// Weeks below the window start are taken as one rollover (1024 weeks) later.
constexpr int kWeekWindowStart = 700;
constexpr int kWeekRollover = 1024;

// Time-of-week difference at which the resolved week moves by one.
constexpr double kWeekChangeLimit = 300000.0;

// Texts longer than this are rejected by the time and date parsers.
constexpr size_t kMaxDateTextLength = 31;

// Linear seconds of the GPS epoch, 1980-01-06 00:00:00.
int64_t GpsEpochSeconds() {
  std::tm epoch{};
  epoch.tm_year = 80;
  epoch.tm_mon = 0;
  epoch.tm_mday = 6;
  return TmToSeconds(epoch);
}

// Decimal integer prefix the way atoi reads it (leading blanks, sign,
// digits; no digits gives 0), clamped to the int range instead of
// overflowing.
int ReadInt(const char* text) {
  const long long value = std::strtoll(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// Truncation toward zero of a double into int64, clamped so that nonsense
// input (huge values, NaN) cannot overflow the conversion.
int64_t TruncateToInt64(double value) {
  constexpr double kLimit = 4.0e18;
  if (std::isnan(value)) return 0;
  if (value >= kLimit) return static_cast<int64_t>(kLimit);
  if (value <= -kLimit) return -static_cast<int64_t>(kLimit);
  return static_cast<int64_t>(value);
}

// Clamps an int64 into the int range.
int ClampToInt(int64_t value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// Calendar date and time -> full week since the GPS epoch (not reduced) and
// seconds of week.
void DateToFullWeek(int hour, int minute, double seconds, int month, int day, int year,
                    int64_t& week, double& seconds_of_week) {
  const int64_t epoch = GpsEpochSeconds();
  const int64_t whole_seconds = TruncateToInt64(seconds);
  if (year > 1900) year -= 1900;
  std::tm fields{};
  fields.tm_sec = ClampToInt(whole_seconds);
  fields.tm_min = minute;
  fields.tm_hour = hour;
  fields.tm_mday = day;
  fields.tm_mon = month - 1;
  fields.tm_year = year;
  const int64_t since_epoch = TmToSeconds(fields) - epoch;
  week = since_epoch / kWholeSecondsPerWeek;
  const int64_t rest = since_epoch - kWholeSecondsPerWeek * week;
  seconds_of_week = static_cast<double>(rest) + (seconds - static_cast<double>(whole_seconds));
}

}  // namespace

int64_t TmToSeconds(const std::tm& t) {
  int64_t year = t.tm_year;
  int64_t month = t.tm_mon;
  // The day table covers months 0..11 only; a month outside that range is
  // carried into the year rather than read past the table.
  if (month < 0 || month > 11) {
    int64_t carry = month / 12;
    month -= carry * 12;
    if (month < 0) {
      month += 12;
      --carry;
    }
    year += carry;
  }
  const int leap = (year % 4 == 0) ? 1 : 0;
  const int64_t years = (year < 70) ? year + 30 : year - 70;
  const int64_t days = (years + 2) / 4 + 365 * years - leap +
                       DaysBeforeMonth(static_cast<int>(month) + 1, leap != 0) +
                       static_cast<int64_t>(t.tm_mday) - 1;
  return ((days * 24 + t.tm_hour) * 60 + t.tm_min) * 60 + t.tm_sec;
}

std::tm SecondsToTm(int64_t seconds) {
  std::tm out{};
  const int64_t t = seconds;
  const int64_t cycles = t / kCycleSeconds;
  int64_t rest = t - cycles * kCycleSeconds;
  int64_t years = 4 * cycles;
  int leap = 0;
  if (rest < kYear2Start) {
    leap = 0;
  } else if (rest < kYear3Start) {
    rest -= kYear2Start;
    years += 1;
  } else if (rest < kYear4Start) {
    rest -= kYear3Start;
    years += 2;
    leap = 1;
  } else if (rest < kCycleSeconds) {
    rest -= kYear4Start;
    years += 3;
  } else {
    std::fputs("Internal error: bad remaning time\n", stdout);
  }

  const int64_t day = rest / kSecondsPerDay;
  int month = -1;
  for (int m = 0; m < 12; ++m) {
    if (DaysBeforeMonth(m + 1, leap != 0) <= day && day < DaysBeforeMonth(m + 2, leap != 0)) {
      month = m;
      break;
    }
  }
  if (month < 0) {
    std::fputs("Internal error: Bad day number\n", stdout);
    month = 0;
  }

  int64_t s = rest - kSecondsPerDay * day;
  const int64_t hour = s / kSecondsPerHour;
  s -= kSecondsPerHour * hour;
  const int64_t minute = s / kSecondsPerMinute;
  const int64_t second = s - kSecondsPerMinute * minute;

  out.tm_sec = static_cast<int>(second);
  out.tm_min = static_cast<int>(minute);
  out.tm_hour = static_cast<int>(hour);
  out.tm_mday = ClampToInt(day - DaysBeforeMonth(month + 1, leap != 0) + 1);
  out.tm_mon = month;
  out.tm_year = ClampToInt(years + 70);
  out.tm_wday = 0;
  return out;
}

void GpsToDate(int week, double seconds_of_week, int& hour, int& minute, double& seconds,
               int& month, int& day, int& year) {
  const int64_t epoch = GpsEpochSeconds();
  int64_t full_week = week;
  if (full_week < kWeekWindowStart) full_week += kWeekRollover;
  const double total =
      static_cast<double>(full_week) * kSecondsPerWeek + static_cast<double>(epoch) +
      seconds_of_week;
  const int64_t whole = TruncateToInt64(total);
  const std::tm record = SecondsToTm(whole);
  const std::tm* fields = &record;
  hour = fields->tm_hour;
  minute = fields->tm_min;
  // The fraction of the second. A total held at the 64-bit limit (only
  // nonsense input, such as a time of week of 1e308, has one) or NaN has no
  // fraction to keep: the seconds stay those of the whole-second date
  // instead of taking the whole excess.
  double fraction = total - static_cast<double>(whole);
  if (!(fraction > -1.0 && fraction < 1.0)) fraction = 0.0;
  seconds = fields->tm_sec + fraction;
  month = fields->tm_mon + 1;
  day = fields->tm_mday;
  int y = fields->tm_year;
  if (y < 50) y += 100;
  // Years since 1900 become four-digit years. (A plain "below 199" test
  // would leave the years from 2099 on as they are; with 64-bit seconds
  // those dates are reachable, so every value below 1900 is completed.)
  if (y < 1900) y += 1900;
  year = y;
}

void DateToGps(int hour, int minute, double seconds, int month, int day, int year, int& week,
               double& seconds_of_week) {
  int64_t w = 0;
  DateToFullWeek(hour, minute, seconds, month, day, year, w, seconds_of_week);
  if (w > 1023) w -= kWeekRollover;  // once only: 2048 and above stay above 1023
  week = ClampToInt(w);
}

int ResolveGpsWeek(int reference_week, double reference_toe, double data_time_of_week) {
  int64_t week = (reference_toe == 0.0) ? int64_t{reference_week} + 1 : reference_week;
  const double diff = data_time_of_week - reference_toe;
  if (std::fabs(diff) >= kWeekChangeLimit) {
    // A large negative difference puts the data in the following week, a
    // large positive one in the preceding week.
    week = (diff < 0) ? week + 1 : week - 1;
  }
  if (week < kWeekWindowStart) week += kWeekRollover;
  return ClampToInt(week);
}

// Texts over 31 characters are rejected (result 1): the fields of a valid
// time text are far shorter, and a cut text could parse as something else.
int ParseTimeStr(const char* text, int& hour, int& minute, double& seconds) {
  if (text == nullptr) return 1;
  if (std::strlen(text) > kMaxDateTextLength) return 1;
  char work[kMaxDateTextLength + 1];
  std::snprintf(work, sizeof work, "%s", text);

  char* first = std::strchr(work, ':');
  if (first == nullptr) return 1;
  *first = '\0';
  const int h = ReadInt(work);
  if (h > 255) return 1;
  hour = h;

  char* minutes_text = first + 1;
  char* second = std::strchr(minutes_text, ':');
  if (second == nullptr) return 1;
  *second = '\0';
  const int m = ReadInt(minutes_text);
  if (m < 0 || m > 60) return 1;
  minute = m;

  // Seconds: the run of digits and points right after the second colon.
  char* run = second + 1;
  char* end = run;
  while ((*end >= '0' && *end <= '9') || *end == '.') ++end;
  *end = '\0';
  const double s = std::atof(run);
  if (s < 0.0 || s > 60.0) return 1;
  seconds = s;
  return 0;
}

// Texts over 31 characters are rejected like those of ParseTimeStr; months
// outside 1..12 are rejected as well.
int ParseDateStr(const char* text, int& month, int& day, int& year) {
  if (text == nullptr) return 1;
  if (std::strlen(text) > kMaxDateTextLength) return 1;
  char work[kMaxDateTextLength + 1];
  std::snprintf(work, sizeof work, "%s", text);

  char* first = std::strchr(work, '/');
  if (first == nullptr) return 1;
  *first = '\0';
  const int mo = ReadInt(work);
  if (mo < 1 || mo > 12) return 1;
  month = mo;

  char* day_text = first + 1;
  char* second = std::strchr(day_text, '/');
  if (second == nullptr) return 1;
  *second = '\0';
  day = ReadInt(day_text);

  int y = ReadInt(second + 1);
  if (y < 50) {
    y += 2000;
  } else if (y < 1900) {
    y += 1900;
  }
  year = y;
  return 0;
}

int DateStrToGps(const char* time_text, const char* date_text, double& gps_seconds) {
  int month = 0;
  int day = 0;
  int year = 0;
  if (ParseDateStr(date_text, month, day, year) != 0) return 1;
  int hour = 0;
  int minute = 0;
  double seconds = 0.0;
  if (ParseTimeStr(time_text, hour, minute, seconds) != 0) return 1;
  // The week comes from the full count since the GPS epoch rather than from
  // DateToGps's week reduced by one rollover: up to 2013-01-12 both give the
  // same after the window rule, and dates after it keep their true week
  // instead of falling 1024 weeks short.
  int64_t week = 0;
  double seconds_of_week = 0.0;
  DateToFullWeek(hour, minute, seconds, month, day, year, week, seconds_of_week);
  if (week < kWeekWindowStart) week += kWeekRollover;
  gps_seconds = static_cast<double>(week) * kSecondsPerWeek + seconds_of_week;
  return 0;
}

}  // namespace rawconv
