// GPS time: week number plus seconds of week, civil dates read on a calendar
// with no time zone and no leap seconds, counted from 1980-01-06 00:00:00.
//
// Linear seconds (seconds since 1970-01-01 00:00:00 with the four-year leap
// rule) are kept in 64 bits, so dates after 2038-01-19 convert correctly;
// every result inside 1970..2038 is the same as with a 32-bit count.
#ifndef RAWCONV_EPHEM_GPS_TIME_H_
#define RAWCONV_EPHEM_GPS_TIME_H_

#include <cstdint>
#include <ctime>

namespace rawconv {

constexpr double kSecondsPerWeek = 604800.0;

// Record -> linear seconds. Reads tm_sec, tm_min, tm_hour, tm_mday, tm_mon
// and tm_year (0..69 meaning 2000..2069); no normalisation.
int64_t TmToSeconds(const std::tm& t);

// Linear seconds -> calendar record (tm_wday is 0). Prints "Internal error: Bad day number\n" on
// standard output for instants a day or more before 1970 (January is then
// taken as the month).
std::tm SecondsToTm(int64_t seconds);

// Week (below 700: plus 1024) and seconds of week -> calendar date and time;
// the fraction of the seconds is kept (none for a NaN or out-of-range time).
// year has four digits, month is 1..12.
void GpsToDate(int week, double seconds_of_week, int& hour, int& minute, double& seconds,
               int& month, int& day, int& year);

// Calendar date and time -> week (reduced once by 1024 when above 1023) and
// seconds of week. year may be four-digit, years since 1900 or two-digit.
void DateToGps(int hour, int minute, double seconds, int month, int day, int year, int& week,
               double& seconds_of_week);

// Full week of a data time of week, given a reference week and time of
// ephemeris (as FindReferenceEphemeris returns them).
int ResolveGpsWeek(int reference_week, double reference_toe, double data_time_of_week);

// "h:m:s" -> hour, minute, seconds. Hours up to 255, minutes 0..60, seconds
// 0.0..60.0 from the run of digits and points after the second colon. 0
// parsed; 1 rejected, also for texts over 31 characters (outputs then partly
// written).
int ParseTimeStr(const char* text, int& hour, int& minute, double& seconds);

// "month/day/year" -> month, day, four-digit year (below 50: 20yy, below
// 1900: 19yy). 0 parsed; 1 rejected, also for months outside 1..12 and texts
// over 31 characters.
int ParseDateStr(const char* text, int& month, int& day, int& year);

// Time and date texts -> continuous GPS seconds (week * 604800 + seconds of
// week). The week is the full week of the date, except that weeks below 700
// (dates before 1993-06-06) are taken 1024 weeks later. 0 converted, 1
// either text rejected.
int DateStrToGps(const char* time_text, const char* date_text, double& gps_seconds);

}  // namespace rawconv

#endif  // RAWCONV_EPHEM_GPS_TIME_H_
