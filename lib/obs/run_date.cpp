#include "obs/run_date.h"

#include <cctype>
#include <cstdio>
#include <ctime>


#if defined(_WIN32)
#include <windows.h>
#endif

namespace rawconv {
namespace {

// Wall-clock fields of the run date.
struct RunTime {
  int Year;  // four digits
  int Month; // 1..12
  int Day;
  int Hour;
  int Minute;
  int Second;
};

// The fixed clock of the calling thread's tests (Fixed 0: none).
thread_local RunClock t_test_clock;

// The moment of the run: the fixed clock, else now, as local time.
bool CurrentRunTime(const RunClock& clock, RunTime& out) {
  std::tm fields{};
  if (clock.Fixed) {
    // The fixed clock is taken as the local wall-clock time itself, so that a
    // fixed run date is the same in every time zone.
    std::time_t t = static_cast<std::time_t>(clock.Seconds);
#if defined(_WIN32)
    if (gmtime_s(&fields, &t) != 0) return false;
#else
    if (!gmtime_r(&t, &fields)) return false;
#endif
  } else {
    std::time_t t = std::time(nullptr);
#if defined(_WIN32)
    if (localtime_s(&fields, &t) != 0) return false;
#else
    if (!localtime_r(&t, &fields)) return false;
#endif
  }
  out = RunTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                fields.tm_min, fields.tm_sec};
  return true;
}

#if defined(_WIN32)
// Windows: the system default locale's pictures "d-MMM-yy" and "HH:mm".
bool FormatDateAndTime(const RunTime& t, char* date, int date_size, char* time_text,
                       int time_size) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.Year);
  st.wMonth = static_cast<WORD>(t.Month);
  st.wDay = static_cast<WORD>(t.Day);
  st.wHour = static_cast<WORD>(t.Hour);
  st.wMinute = static_cast<WORD>(t.Minute);
  if (GetDateFormatA(LOCALE_SYSTEM_DEFAULT, 0, &st, "d-MMM-yy", date, date_size) == 0)
    return false;
  if (GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, 0, &st, "HH:mm", time_text, time_size) == 0)
    return false;
  return true;
}
#else
// Elsewhere: English month abbreviations, so the text is always ASCII
// whatever the process locale.
bool FormatDateAndTime(const RunTime& t, char* date, int date_size, char* time_text,
                       int time_size) {
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (t.Month < 1 || t.Month > 12) return false;
  std::snprintf(date, static_cast<size_t>(date_size), "%d-%s-%02d", t.Day, kMonths[t.Month - 1],
                ((t.Year % 100) + 100) % 100);
  std::snprintf(time_text, static_cast<size_t>(time_size), "%02d:%02d", t.Hour, t.Minute);
  return true;
}
#endif

}  // namespace

RunClock DefaultRunClock() { return t_test_clock; }

int FormatRunDate(char* buffer, const RunClock& clock) {
  RunTime now{};
  if (!CurrentRunTime(clock, now)) return 1;
  char date[64] = "";
  char time_text[64] = "";
  if (!FormatDateAndTime(now, date, sizeof date, time_text, sizeof time_text)) return 1;
  for (char* p = date; *p; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  std::snprintf(buffer, 128, "%s %s", date, time_text);
  return 0;
}

int FormatRunDateRinex3(char* buffer, const RunClock& clock) {
  RunTime now{};
  if (!CurrentRunTime(clock, now)) return 1;
  std::snprintf(buffer, 128, "%04d%02d%02d %02d%02d%02d LCL", now.Year, now.Month, now.Day,
                now.Hour, now.Minute, now.Second);
  return 0;
}

void SetRunClockForTesting(int64_t seconds_since_1970) {
  t_test_clock.Fixed = 1;
  t_test_clock.Seconds = seconds_since_1970;
}

void ResetRunClockForTesting() { t_test_clock = RunClock(); }

}  // namespace rawconv
