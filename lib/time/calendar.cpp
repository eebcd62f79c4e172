#include "time/calendar.h"

namespace rawconv {
namespace {

// Days in a 400-year era and from 0000-03-01 to 1970-01-01. Counting years
// from March puts the leap day at the end of the year, so the month lengths
// before it follow the fixed pattern 31, 30, 31, 30, 31 from March on.
constexpr int64_t kDaysPerEra = 146097;
constexpr int64_t kDaysTo1970 = 719468;

constexpr int kCumulativeDays[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

// Floor division for the eras of years before 0.
int64_t FloorDiv(int64_t a, int64_t b) { return (a >= 0 ? a : a - (b - 1)) / b; }

}  // namespace

bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int64_t year, int month) {
  if (month < 1 || month > 12) return 0;
  const int leap = IsLeapYear(year) ? 1 : 0;
  return kCumulativeDays[leap][month] - kCumulativeDays[leap][month - 1];
}

int DaysBeforeMonth(int month, bool leap) {
  if (month < 1 || month > 13) return 0;
  return kCumulativeDays[leap ? 1 : 0][month - 1];
}

int DayOfYear(int64_t year, int month, int day) {
  if (month < 1 || month > 12) return 0;
  return DaysBeforeMonth(month, IsLeapYear(year)) + day;
}

int64_t DaysFromCivil(int64_t year, int month, int day) {
  const int64_t y = year - (month <= 2 ? 1 : 0);
  const int64_t era = FloorDiv(y, 400);
  const int64_t year_of_era = y - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * kDaysPerEra + day_of_era - kDaysTo1970;
}

void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
  const int64_t z = days + kDaysTo1970;
  const int64_t era = FloorDiv(z, kDaysPerEra);
  const int64_t day_of_era = z - era * kDaysPerEra;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t shifted_month = (5 * day_of_year + 2) / 153;  // 0 is March
  day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace rawconv
