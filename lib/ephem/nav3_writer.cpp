#include "ephem/nav3_writer.h"

#include <cstdio>
#include <cstring>

#include "ephem/gps_time.h"
#include "ephem/nav_writer.h"
#include "obs/rinex_versions.h"
#include "obs/run_date.h"
#include "sink/sink.h"

namespace rawconv {
namespace {

constexpr char kNav3TypeText[] = "N: GNSS NAV DATA    G: GPS              ";  // columns 21-60

// The satellite of a record as its two digits (the writers keep the field's
// width for any number).
int SatelliteDigits(const EphemerisRecord& record) {
  return record.Prn % 100 < 0 ? 0 : record.Prn % 100;
}

bool WriteText(Sink& out, const char* text, int length) {
  return length > 0 && out.Write(text, static_cast<size_t>(length));
}

}  // namespace

void FormatNav3Real(double value, char* buffer) {
  char d[kRinexRealBufferSize];
  FormatRinexReal(value, d);  // ".ddd...D+ee" or "-.ddd...D+ee"
  const bool negative = d[0] == '-';
  const char* digits = d + (negative ? 1 : 0);
  size_t length = std::strlen(digits);
  if (length > kNav3FieldWidth - 2) length = kNav3FieldWidth - 2;
  buffer[0] = negative ? '-' : ' ';
  buffer[1] = '0';
  std::memcpy(buffer + 2, digits, length);
  buffer[2 + length] = '\0';
}

int WriteNav3Header(Sink& out, const char* run_by, int version, const RunClock& clock) {
  if (!IsRinex3Writable(version)) return 2;
  char line[128];
  int n = std::snprintf(line, sizeof line, "%9.2f%11s%s%-20s\n", RinexVersionNumber(version), "",
                        kNav3TypeText, kNavVersionLabel);
  WriteText(out, line, n);
  char date[128];
  if (FormatRunDateRinex3(date, clock) != 0) return 1;
  n = std::snprintf(line, sizeof line, "%-20s%-20.20s%-20.20s%-20s\n", kNavProgramText,
                    run_by ? run_by : "", date, kNavRunByLabel);
  WriteText(out, line, n);
  n = std::snprintf(line, sizeof line, "%60s%-20s\n", "", kNavEndLabel);
  WriteText(out, line, n);
  return 0;
}

int FormatNav3Record(const EphemerisRecord& record, char* buffer, const WeekOverride& week) {
  const int clock_week = week.Use ? week.Week : record.Week;
  int hour = 0, minute = 0, month = 0, day = 0, year = 0;
  double seconds = 0.0;
  GpsToDate(clock_week, static_cast<double>(record.Toc), hour, minute, seconds, month, day, year);
  double values[kNavRecordLines][4];
  NavRecordValues(record, values);
  const int fields[8] = {3, 4, 4, 4, 4, 4, 4, 2};
  // The satellite number and the date fields keep their widths for any value.
  int n = std::snprintf(buffer, kNav3RecordBufferSize, "G%02d %04d %02d %02d %02d %02d %02d",
                        SatelliteDigits(record), year % 10000, month, day,
                        hour, minute, static_cast<int>(seconds) % 100);
  for (int l = 0; l < 8 && n >= 0 && n < kNav3RecordBufferSize; ++l) {
    if (l > 0) n += std::snprintf(buffer + n, static_cast<size_t>(kNav3RecordBufferSize - n), "    ");
    for (int i = 0; i < fields[l] && n < kNav3RecordBufferSize; ++i) {
      char f[kNav3FieldWidth + 1];
      FormatNav3Real(values[l][i], f);
      n += std::snprintf(buffer + n, static_cast<size_t>(kNav3RecordBufferSize - n), "%s", f);
    }
    if (n < kNav3RecordBufferSize - 1) buffer[n++] = '\n';
    buffer[n] = '\0';
  }
  return n;
}

int FormatNav4RecordLine(const EphemerisRecord& record, char* buffer) {
  const int n = std::snprintf(buffer, kNav4RecordLineSize, "> EPH G%02d LNAV\n",
                              SatelliteDigits(record));
  return n < 0 ? 0 : n;
}

int ConvertEppToNav3(std::FILE* epp, Sink& out, int version,
                     std::vector<EphemerisRecord>* records, NavWriting* run) {
  const WeekOverride week = run ? run->Week : WeekOverride();
  if (!IsRinex3Writable(version)) return 2;
  if (CheckEppHeader(epp) != 0) return 1;
  const bool record_lines = IsRinex4(version);
  EphemerisRecord record{};
  char text[kNav3RecordBufferSize];
  while (ReadEphemerisRecord(epp, &record) == 0) {
    if (records) records->push_back(record);
    if (record_lines) WriteText(out, text, FormatNav4RecordLine(record, text));
    const int length = FormatNav3Record(record, text, week);
    WriteText(out, text, length);
    if (run) ++run->Written;
  }
  return 0;
}

}  // namespace rawconv
