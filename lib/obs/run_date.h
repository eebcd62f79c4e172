// The date text of the "PGM / RUN BY / DATE" header lines.
#ifndef RAWCONV_OBS_RUN_DATE_H_
#define RAWCONV_OBS_RUN_DATE_H_

#include <cstdint>

namespace rawconv {

// The clock of the run date: the system clock, or with Fixed a fixed moment
// (Seconds since 1970, taken as the local wall-clock time itself, so that a
// fixed run date is the same in every time zone).
struct RunClock {
  int32_t Fixed = 0;
  int64_t Seconds = 0;
};

// The clock of a writer given none: the system clock, unless a test fixed
// one for the calling thread (SetRunClockForTesting).
RunClock DefaultRunClock();

// Writes the local date and time as "d-MMM-yy HH:mm" with the month in
// capitals (7-DEC-05 14:30) into buffer (at least 128 bytes). 0, or 1 when
// the date or time cannot be formatted.
int FormatRunDate(char* buffer, const RunClock& clock = DefaultRunClock());

// The same moment in the RINEX 3 form "yyyymmdd hhmmss LCL" (local time),
// e.g. "20051207 143000 LCL", into buffer (at least 128 bytes). 0, or 1 when
// the time cannot be read.
int FormatRunDateRinex3(char* buffer, const RunClock& clock = DefaultRunClock());

// Fixes DefaultRunClock for the calling thread (seconds since 1970, read as
// local time), so that whole files can be compared byte for byte. For
// tests; ResetRunClockForTesting gives the system clock back.
void SetRunClockForTesting(int64_t seconds_since_1970);
void ResetRunClockForTesting();

}  // namespace rawconv

#endif  // RAWCONV_OBS_RUN_DATE_H_
