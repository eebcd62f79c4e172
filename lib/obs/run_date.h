// The date text of the "PGM / RUN BY / DATE" header lines.
#ifndef RAWCONV_OBS_RUN_DATE_H_
#define RAWCONV_OBS_RUN_DATE_H_

#include <cstdint>

namespace rawconv {

// Writes the local date and time as "d-MMM-yy HH:mm" with the month in
// capitals (7-DEC-05 14:30) into buffer (at least 128 bytes). 0, or 1 when
// the date or time cannot be formatted.
int FormatRunDate(char* buffer);

// The same moment in the RINEX 3 form "yyyymmdd hhmmss LCL" (local time),
// e.g. "20051207 143000 LCL", into buffer (at least 128 bytes). 0, or 1 when
// the time cannot be read.
int FormatRunDateRinex3(char* buffer);

// Fixes the clock of FormatRunDate for the current context (seconds since
// 1970, read as local time), so that whole files can be compared byte for
// byte. For tests.
void SetRunClockForTesting(int64_t seconds_since_1970);

}  // namespace rawconv

#endif  // RAWCONV_OBS_RUN_DATE_H_
