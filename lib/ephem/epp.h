// EPP ephemeris files: a "$EPHREC" header line, then "GpsEph" blocks of GPS
// broadcast ephemerides in RINEX units:
//
//     $EPHREC word word
//     GpsEph {
//       key PRN
//       El1: week extra TGD IODC toc
//       key af2 af1 af0
//       key IODE Crs delta-n M0
//       key Cuc e Cus sqrt-A
//       El5: toe Cic OMEGA0 Cis
//       key i0 Crc omega OMEGA-DOT IDOT
//     }
//
// Integers are read as "%i" reads them ("0x" hexadecimal, leading "0"
// octal), reals in any decimal or exponent form. The reference lookup also
// reads files without the header in a plain layout of six lines per record
// (line 1: PRN and week first, line 5: toe first).
#ifndef RAWCONV_EPHEM_EPP_H_
#define RAWCONV_EPHEM_EPP_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace rawconv {

// Largest week (as read) that the reference lookup accepts: full week numbers
// after the 2019 rollover count, up to the 12-bit week range.
constexpr int kMaxReferenceWeek = 4095;

struct EphemerisRecord {
  int32_t Prn;
  int32_t Week;  // below 700 in the file: stored plus 1024
  int32_t Extra;
  double Tgd;
  int32_t Iodc;
  int32_t Toc;
  double Af2;
  double Af1;
  double Af0;
  int32_t Iode;
  double DeltaN;
  double M0;
  double Ecc;
  double SqrtA;
  int32_t Toe;
  double Cic;
  double Crc;
  double Cis;
  double Crs;
  double Cuc;
  double Cus;
  double Omega0;
  double Omega;
  double I0;
  double OmegaDot;
  double Idot;
};

// Opens an EPP file for reading, plain or gzip (see lib/io/input_file.h; a
// folder is refused). The stream is the caller's, closed with fclose.
// nullptr when it cannot be opened, with the reason in *reason when reason
// is given ("No such file or directory", "Permission denied", "is a
// folder", "damaged gzip data", ...), for messages of the form "cannot
// open EPP file X: <reason>".
std::FILE* OpenEppFile(const char* path, std::string* reason);

// Reads the first three words of the stream; the first must be "$EPHREC".
// 0 valid; 1 not an EPP file (the caller's message: kInvalidEppHeader).
int CheckEppHeader(std::FILE* stream);

// The message of an EPP file whose header CheckEppHeader refuses.
constexpr char kInvalidEppHeader[] = "Header of EPP file invalid, not EPP file";

// Reads the next "GpsEph" record: searches words up to "GpsEph" (letter
// case significant), then takes the record's words in order whatever the
// line structure. Values are not checked: a word that is no number gives its
// numeric prefix, else 0. 0 read; -1 when the stream ends before a complete
// record (the record is then left as it was).
int ReadEphemerisRecord(std::FILE* stream, EphemerisRecord* record);

// A conversion's week override: with Use set, the clock epoch of every
// navigation record is dated in Week instead of the record's own week.
struct WeekOverride {
  int32_t Use = 0;
  int32_t Week = 0;
};

// The navigation writers' part of one call: the week override in, the
// number of records written out (added to Written).
struct NavWriting {
  WeekOverride Week;
  uint32_t Written = 0;
};

// Week (as read, no completion) and toe of the reference ephemeris of the
// file: of the first kMaxTimeTags acceptable records (week 0..4095, toe
// 0..604800, an "El1:" entry of 5 values and an "El5:" entry of 4), the last
// one whose toe is not 0, else the last one. Block layout when the first
// line begins with "$EPHREC" (only 249 characters of that line are read;
// the rest of a longer one is read as blocks), six-line layout otherwise.
// 0 found; 1 (no message) when the path is empty or missing, the file cannot
// be read, or it holds no acceptable record. tags_read (when given) gets the
// number of acceptable records looked at (0..kMaxTimeTags).
constexpr int kMaxTimeTags = 128;
int FindReferenceEphemeris(const char* path, int* week, double* toe, int* tags_read = nullptr);

}  // namespace rawconv

#endif  // RAWCONV_EPHEM_EPP_H_
