// The civil calendar, in one place: leap years, month lengths, day of year
// and the count of days from 1970-01-01 and back. Proleptic Gregorian, no
// time zone. Every folder of the library may include this header; it
// depends on nothing else.
#ifndef RAWCONV_TIME_CALENDAR_H_
#define RAWCONV_TIME_CALENDAR_H_

#include <cstdint>

namespace rawconv {

// Gregorian leap year: divisible by 4, except centuries not divisible by 400.
bool IsLeapYear(int64_t year);

// Days in month 1..12 of a year; 0 for a month outside 1..12.
int DaysInMonth(int64_t year, int month);

// Days of the months before month 1..12 in a common (leap false) or leap
// year: 0 for January, 334 or 335 for December. Month 13 gives the length of
// the year; any other month gives 0.
int DaysBeforeMonth(int month, bool leap);

// Day of year, 1 for January 1st; the day is not checked against the month.
// 0 for a month outside 1..12.
int DayOfYear(int64_t year, int month, int day);

// Days from 1970-01-01 to a date (negative before it). The month is 1..12;
// the day is not checked, so day 0 is the last day of the month before.
int64_t DaysFromCivil(int64_t year, int month, int day);

// The date of a day count from 1970-01-01; month 1..12, day 1..31.
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day);

}  // namespace rawconv

#endif  // RAWCONV_TIME_CALENDAR_H_
