// RINEX 3 GPS navigation files (versions 3.04 and 3.05) written from EPP
// ephemeris files, with the same values as the RINEX 2 navigation writer.
//
// Layout:
//
//        3.04           N: GNSS NAV DATA    G: GPS              RINEX VERSION / TYPE
//   RAWCONV v7.00       <RunBy, cut to 20>  20051207 143000 LCL PGM / RUN BY / DATE
//   <60 blanks>END OF HEADER
//
//   one record of eight lines per ephemeris:
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

namespace rawconv {

constexpr int kNav3FieldWidth = 19;
constexpr int kNav3RecordBufferSize = 720;

// Writes the three header lines. minor: 4 (3.04) or 5 (3.05). 0; 1 when the
// run date cannot be made (the version line has then been written); 2 when
// minor is neither 4 nor 5 (nothing written).
int WriteNav3Header(Sink& out, const char* run_by, int minor);

// Checks the EPP header and writes one record per "GpsEph" record, in file
// order. 0; 1 when the EPP header is invalid (message in the error text); 2
// when minor is neither 4 nor 5. Every record read is also appended to
// *records when it is given.
int ConvertEppToNav3(std::FILE* epp, Sink& out, int minor,
                     std::vector<EphemerisRecord>* records = nullptr);

// The eight lines of one record, each ending in a line feed, into buffer
// (kNav3RecordBufferSize bytes). The epoch of line 1 is the time of clock in
// the record's week, or in the override week when Ctx().UseGpsWeek is set;
// line 6 carries the record's week. Returns the length written.
int FormatNav3Record(const EphemerisRecord& record, char* buffer);

// value as a D19.12 field (19 characters and a NUL into buffer, at least 20
// bytes), from FormatRinexReal's digits.
void FormatNav3Real(double value, char* buffer);

}  // namespace rawconv

#endif  // RAWCONV_EPHEM_NAV3_WRITER_H_
