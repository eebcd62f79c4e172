// RINEX 2 GPS navigation files written from EPP ephemeris files.
//
// Layout (every line ends with the stream's text line end):
//
//   header, label from column 61:
//        2.10           N: GPS NAV DATA                         RINEX VERSION / TYPE
//   RAWCONV v7.00       <RunBy, padded to 20> <run date, cut to 16, padded to 20>PGM / RUN BY / DATE
//   <60 blanks>END OF HEADER
//
//   one record of eight lines per ephemeris:
//   PP YY MM DD hh mm ss.s  af0  af1  af2                    (line 1)
//       IODE Crs delta-n M0                                   (line 2)
//       Cuc e Cus sqrt-A                                      (line 3)
//       toe Cic OMEGA0 Cis                                    (line 4)
//       i0 Crc omega OMEGA-DOT                                (line 5)
//       IDOT 0(L2 codes) week 0(L2 P flag)                    (line 6)
//       0(accuracy) 0(health) TGD IODC                        (line 7)
//       toe(transmission time) [0(fit interval), 2.1 only]    (line 8)
//
// Each number field is 19 columns: a blank and an 18-column right-aligned
// number in the "D" form with the mantissa below one (.123456789012D+03);
// lines 2 to 8 begin with four blanks (three plus the field's own blank).
#ifndef RAWCONV_EPHEM_NAV_WRITER_H_
#define RAWCONV_EPHEM_NAV_WRITER_H_

#include <cstdio>
#include <vector>

#include "ephem/epp.h"
#include "sink/sink.h"
#include "obs/run_date.h"

namespace rawconv {

constexpr const char kNavProgramText[] = "RAWCONV v7.00";
constexpr const char kNavVersionLabel[] = "RINEX VERSION / TYPE";
constexpr const char kNavRunByLabel[] = "PGM / RUN BY / DATE";
constexpr const char kNavEndLabel[] = "END OF HEADER";
constexpr double kNavFormatVersion = 2.10;  // written for 2.00 and 2.10 observation files
constexpr int kNavRunDateChars = 16;        // the run date text is cut to this

// Formats of the header lines and of the record lines.
constexpr const char kNavVersionFormat[] = "%9.2f%11sN: GPS NAV DATA%25s%s\n";
constexpr const char kNavRunByFormat[] = "%-20s%-20s%-20s%-s\n";
constexpr const char kNavEndFormat[] = "%60s%s\n";
constexpr const char kNavFirstLineFormat[] = "%2i %s %2i %2i %2i %2i%5.1f %18s %18s %18s";
constexpr const char kNavLineFormat[] = "\n    %18s %18s %18s %18s";
constexpr const char kNavLastLineFormat21[] = "\n    %18s %18s";
constexpr const char kNavLastLineFormat20[] = "\n    %18s";

// Buffer sizes FormatNavRecord and FormatRinexReal need.
constexpr int kNavRecordBufferSize = 640;
constexpr int kRinexRealBufferSize = 19;

// The values of the eight lines of a navigation record, four fields a
// line, as both RINEX versions write them (see the layout above): line 1
// the clock (af0 af1 af2; its fourth field unused), lines 2 to 8 the
// broadcast orbits; L2 codes, L2 P flag, accuracy, health and the fit
// interval are 0 (EPP files do not carry them).
constexpr int kNavRecordLines = 8;
void NavRecordValues(const EphemerisRecord& record, double values[kNavRecordLines][4]);

// Writes the three header lines, the version line with `version` (2.10
// unless 2.11 is asked for). 0; 1 when the run date cannot be made (the
// version line has then been written, the other two not).
// The date of the run comes from clock.
int WriteNavHeader(Sink& out, const char* run_by, double version = kNavFormatVersion,
                   const RunClock& clock = DefaultRunClock());
int WriteNavHeader(std::FILE* out, const char* run_by);

// Checks the EPP header and writes one navigation record per "GpsEph"
// record, in file order. rinex_version 2 (RINEX 2.1) and 211 (2.11) write
// the fit interval on line 8, any other value (1, RINEX 2.0) does not. 0; 1 when the EPP
// header is invalid (kInvalidEppHeader). Every record read is also
// appended to *records when it is given.
// run (when given) gives the week override and counts the records.
int ConvertEppToNav(std::FILE* epp, Sink& out, int rinex_version,
                    std::vector<EphemerisRecord>* records = nullptr, NavWriting* run = nullptr);
int ConvertEppToNav(std::FILE* epp, std::FILE* out, int rinex_version);

// The eight lines of one navigation record, without the final line end, into
// buffer (kNavRecordBufferSize bytes). The epoch of line 1 is the time of
// clock in the record's week, or in the override's week when week.Use is
// set; line 6 always carries the record's week.
void FormatNavRecord(const EphemerisRecord& record, int rinex_version, char* buffer,
                     const WeekOverride& week = WeekOverride());

// value in the "D" form: ".", twelve significant digits (to nearest, as
// printf rounds), "D", the sign of the decimal exponent e of d.ddd...e and
// the two digits of |e + 1|; a "-" in front for negative values. Zero of
// either sign is ".000000000000D+00". Values the form cannot hold keep the
// field width: magnitudes that would need a three-digit exponent are written
// as zero when below 1e-100 and as +-.999999999999D+99 from 1e99 on (also
// for infinities); NaN is written as zero. Writes at most 18 characters and
// a NUL into buffer (kRinexRealBufferSize bytes); returns the length plus
// one.
int FormatRinexReal(double value, char* buffer);

}  // namespace rawconv

#endif  // RAWCONV_EPHEM_NAV_WRITER_H_
