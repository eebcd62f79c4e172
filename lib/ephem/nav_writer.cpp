#include "ephem/nav_writer.h"

#include <charconv>
#include <cstdarg>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ephem/gps_time.h"
#include "obs/rinex_versions.h"
#include "obs/run_date.h"
#include "sink/sink.h"

namespace rawconv {
namespace {

constexpr char kZeroText[] = ".000000000000D+00";
constexpr char kLargestMantissa[] = "999999999999";

// Writes the D form from the twelve mantissa digits and the decimal
// exponent e of d.ddddddddddd x 10^e.
int WriteDForm(bool negative, const char* digits, int e, char* buffer) {
  const int shifted = e + 1;
  const int magnitude = shifted < 0 ? -shifted : shifted;
  const int n = std::snprintf(buffer, kRinexRealBufferSize, "%s.%.12sD%c%02d", negative ? "-" : "",
                              digits, e < 0 ? '-' : '+', magnitude);
  return n + 1;
}

int WriteZero(char* buffer) {
  std::memcpy(buffer, kZeroText, sizeof kZeroText);
  return static_cast<int>(sizeof kZeroText);
}

// snprintf into a std::string, growing it to fit: header texts are written
// whole, however long.
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(n));
  }
  va_end(args);
  return text;
}

// Two-digit year text of a four-digit year ("05" for 2005): the last two
// digits, so that no year can widen line 1.
void TwoDigitYear(int year, char (&text)[3]) {
  std::snprintf(text, sizeof text, "%02d", ((year % 100) + 100) % 100);
}

}  // namespace

int FormatRinexReal(double value, char* buffer) {
  if (std::isnan(value) || value == 0.0) return WriteZero(buffer);
  const bool negative = value < 0.0;
  const double magnitude = std::fabs(value);
  if (std::isinf(magnitude)) return WriteDForm(negative, kLargestMantissa, 98, buffer);

  // d.ddddddddddde+XX, rounded to nearest like printf's "%.11e".
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text - 1, magnitude,
                                               std::chars_format::scientific, 11);
  *r.ptr = '\0';
  char digits[13];
  digits[0] = text[0];
  std::memcpy(digits + 1, text + 2, 11);
  digits[12] = '\0';
  const int e = std::atoi(text + 14);  // after "d.ddddddddddde"

  // Beyond two exponent digits: clamp large values, flush tiny ones.
  if (e + 1 > 99) return WriteDForm(negative, kLargestMantissa, 98, buffer);
  if (e + 1 < -99) return WriteZero(buffer);
  return WriteDForm(negative, digits, e, buffer);
}

int WriteNavHeader(std::FILE* out, const char* run_by) {
  StdioSink sink(out);
  return WriteNavHeader(sink, run_by);
}

int WriteNavHeader(Sink& out, const char* run_by, double version, const RunClock& clock) {
  std::string line = Format(kNavVersionFormat, version, "", "", kNavVersionLabel);
  out.Write(line.data(), line.size());

  char date[128];
  if (FormatRunDate(date, clock) != 0) return 1;
  date[kNavRunDateChars] = '\0';
  line = Format(kNavRunByFormat, kNavProgramText, run_by ? run_by : "", date, kNavRunByLabel);
  out.Write(line.data(), line.size());
  line = Format(kNavEndFormat, "", kNavEndLabel);
  out.Write(line.data(), line.size());
  return 0;
}

void NavRecordValues(const EphemerisRecord& record, double values[kNavRecordLines][4]) {
  const double table[kNavRecordLines][4] = {
      {record.Af0, record.Af1, record.Af2, 0.0},
      {static_cast<double>(record.Iode), record.Crs, record.DeltaN, record.M0},
      {record.Cuc, record.Ecc, record.Cus, record.SqrtA},
      {static_cast<double>(record.Toe), record.Cic, record.Omega0, record.Cis},
      {record.I0, record.Crc, record.Omega, record.OmegaDot},
      {record.Idot, 0.0, static_cast<double>(record.Week), 0.0},
      {0.0, 0.0, record.Tgd, static_cast<double>(record.Iodc)},
      {static_cast<double>(record.Toe), 0.0, 0.0, 0.0},
  };
  std::memcpy(values, table, sizeof table);
}

void FormatNavRecord(const EphemerisRecord& record, int rinex_version, char* buffer,
                     const WeekOverride& week) {
  const int clock_week = week.Use ? week.Week : record.Week;
  int hour = 0;
  int minute = 0;
  double seconds = 0.0;
  int month = 0;
  int day = 0;
  int year = 0;
  GpsToDate(clock_week, static_cast<double>(record.Toc), hour, minute, seconds, month, day, year);
  char yy[3];
  TwoDigitYear(year, yy);

  double values[kNavRecordLines][4];
  NavRecordValues(record, values);
  char f[kNavRecordLines][4][kRinexRealBufferSize];
  for (int l = 0; l < kNavRecordLines; ++l) {
    for (int i = 0; i < 4; ++i) FormatRinexReal(values[l][i], f[l][i]);
  }

  int n = std::snprintf(buffer, kNavRecordBufferSize, kNavFirstLineFormat, record.Prn, yy, month,
                        day, hour, minute, seconds, f[0][0], f[0][1], f[0][2]);
  for (int l = 1; l <= 6 && n >= 0 && n < kNavRecordBufferSize; ++l) {
    n += std::snprintf(buffer + n, static_cast<size_t>(kNavRecordBufferSize - n), kNavLineFormat,
                       f[l][0], f[l][1], f[l][2], f[l][3]);
  }
  if (n >= 0 && n < kNavRecordBufferSize) {
    if (UsesRinex21Records(rinex_version)) {
      std::snprintf(buffer + n, static_cast<size_t>(kNavRecordBufferSize - n),
                    kNavLastLineFormat21, f[7][0], f[7][1]);
    } else {
      std::snprintf(buffer + n, static_cast<size_t>(kNavRecordBufferSize - n),
                    kNavLastLineFormat20, f[7][0]);
    }
  }
}

int ConvertEppToNav(std::FILE* epp, std::FILE* out, int rinex_version) {
  StdioSink sink(out);
  return ConvertEppToNav(epp, sink, rinex_version);
}

int ConvertEppToNav(std::FILE* epp, Sink& out, int rinex_version,
                    std::vector<EphemerisRecord>* records, NavWriting* run) {
  const WeekOverride week = run ? run->Week : WeekOverride();
  if (CheckEppHeader(epp) != 0) return 1;
  EphemerisRecord record{};
  char text[kNavRecordBufferSize + 1];
  while (ReadEphemerisRecord(epp, &record) == 0) {
    if (records) records->push_back(record);
    FormatNavRecord(record, rinex_version, text, week);
    const size_t length = std::strlen(text);
    text[length] = '\n';
    out.Write(text, length + 1);
    if (run) ++run->Written;
  }
  return 0;
}

}  // namespace rawconv
