// RINEX 3 GPS navigation files (versions 3.02 to 3.05) and RINEX 4.00 GPS
// LNAV navigation files, written from EPP ephemeris files, with the same
// values as the RINEX 2 navigation writer.
//
// Layout:
//
//        3.04           N: GNSS NAV DATA    G: GPS              RINEX VERSION / TYPE
//   RAWCONV v7.00       <RunBy, cut to 20>  20051207 143000 LCL PGM / RUN BY / DATE
//   <60 blanks>END OF HEADER
//
// The header is the same for every version but its number (4.00: "4.00"
// in columns 1-9; the records 4.00 keeps optional, LEAP SECONDS and the
// rest, are not written, and 4.00 has no IONOSPHERIC CORR or TIME SYSTEM
// CORR header records).
//
// 4.00 only: every record opens with its record line
//   > EPH G01 LNAV                                (A1,1X,A3,1X,A3,1X,A4)
// followed by the eight lines below, unchanged.
//
//   one record of eight lines per ephemeris (3.0x):
//   G01 2005 04 02 00 00 00 af0 af1 af2         (A1,I2.2,1X,I4,5(1X,I2.2),3D19.12)
//       IODE Crs delta-n M0                      (4X,4D19.12; lines 2 to 8)
//       Cuc e Cus sqrt-A
//       toe Cic OMEGA0 Cis
//       i0 Crc omega OMEGA-DOT
//       IDOT 0(L2 codes) week 0(L2 P flag)
//       0(accuracy) 0(health) TGD IODC
//       toe(transmission time) 0(fit interval)
//
// A D19.12 field is "0.", twelve significant digits, "D" and a signed
// two-digit exponent, with a blank or "-" in front: the twelve digits of the
// RINEX 2 field, so both files carry the same values.
#ifndef RAWCONV_EPHEM_NAV3_WRITER_H_
#define RAWCONV_EPHEM_NAV3_WRITER_H_

#include <cstdio>
#include <vector>

#include "ephem/epp.h"
#include "sink/sink.h"
#include "obs/run_date.h"

namespace rawconv {

constexpr int kNav3FieldWidth = 19;
constexpr int kNav3RecordBufferSize = 720;

// Writes the three header lines. version: 302, 303, 304, 305 or 400
// (obs/rinex_versions.h). 0; 1 when the run date cannot be made (the version
// line has then been written); 2 for any other version (nothing written).
int WriteNav3Header(Sink& out, const char* run_by, int version,
                    const RunClock& clock = DefaultRunClock());

// Checks the EPP header and writes one record per "GpsEph" record, in file
// order (4.00: each after its "> EPH" line). 0; 1 when the EPP header is
// invalid (kInvalidEppHeader); 2 for a version WriteNav3Header does
// not take. Every record read is also appended to *records when it is given.
int ConvertEppToNav3(std::FILE* epp, Sink& out, int version,
                     std::vector<EphemerisRecord>* records = nullptr, NavWriting* run = nullptr);

// The eight lines of one record, each ending in a line feed, into buffer
// (kNav3RecordBufferSize bytes). The epoch of line 1 is the time of clock in
// the record's week, or in the override week when week.Use is set; line 6
// carries the record's week. Returns the length written.
int FormatNav3Record(const EphemerisRecord& record, char* buffer,
                     const WeekOverride& week = WeekOverride());

// The "> EPH Gnn LNAV" line of a RINEX 4 record, with its line feed, into
// buffer (at least kNav4RecordLineSize bytes). Returns the length written.
constexpr int kNav4RecordLineSize = 32;
int FormatNav4RecordLine(const EphemerisRecord& record, char* buffer);

// value as a D19.12 field (19 characters and a NUL into buffer, at least 20
// bytes), from FormatRinexReal's digits.
void FormatNav3Real(double value, char* buffer);

}  // namespace rawconv

#endif  // RAWCONV_EPHEM_NAV3_WRITER_H_
