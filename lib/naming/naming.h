// Output file names of a conversion: the GPB file's own name, the RINEX 2
// short names and the RINEX 3 long names, with the compression suffixes.
// Names only, never a folder.
//
//   style  observation                              navigation
//   input  <gpb base>.yyo   (.yyd with crx)         <gpb base>.yyn
//   short  ssssdddf.yyo     (.yyd with crx)         ssssdddf.yyn
//   long   SSSSMRCCC_R_YYYYDDDHHMM_PPU_FFU_MO.rnx   SSSSMRCCC_R_YYYYDDDHHMM_PPU_GN.rnx
//          (GO for GPS-only data; .crx with crx)
//   gz and crx.gz add ".gz". Navigation files are never Hatanaka-compressed:
//   crx leaves them plain, crx.gz only gzips them.
//
// <gpb base>: the GPB file's name without its extension, and without the
// ".gz" of a gzip input first (site1.gpb.gz -> site1).
//
// ssss: the four-character station code, lower case (upper case in long
// names): the first four letters and digits of the marker name, else of the
// GPB base name; other characters are left out and a code of fewer than
// four characters is filled with '0'. ddd: day of year of the first epoch.
// f: session, '0' for a file that starts at 00:00 and spans the whole day,
// else 'a'..'x' for the hour of the first epoch. yy: two-digit year.
//
// Split outputs (SplitSeconds set; the date is then the span's start):
//   short  daily spans ssssddd0.yyo, hourly spans ssssdddf.yyo with f the
//          hour's letter 'a'..'x', 15-minute spans ssssdddfmm.yyo with mm
//          the span's first minute (00, 15, 30, 45)
//   long   SSSSMRCCC_R_YYYYDDDHHMM_PPU_FFU_MO.rnx with the span's start and
//          its length as the period: 01D, 01H, 15M
//   input  as short: the GPB file's name alone cannot tell the spans apart
//
// SSSSMRCCC: the nine-character station id when one of nine letters/digits
// is given (upper case), else the station code, "00" and "XXX". R: data
// source, always 'R' (receiver). PPU: the file period, FFU: the observation
// interval, in the standard units (see FormatPeriod and FormatInterval).
#ifndef RAWCONV_NAMING_NAMING_H_
#define RAWCONV_NAMING_NAMING_H_

#include <cstddef>
#include <string>

#include "sink/compression.h"

namespace rawconv {

enum class NameStyle { kInput, kShort, kLong };

// Results of the naming functions.
constexpr int kNameOk = 0;
constexpr int kNameTooLong = 1;   // does not fit the output buffer (out is then empty)
constexpr int kNameBadInput = 2;  // missing GPB path, bad date, version not 2 or 3

struct NamingInput {
  const char* GpbPath;    // path of the GPB file (its base name is used)
  const char* Marker;     // marker name, may be null or empty
  const char* StationId;  // nine-character station id, may be null or empty
  int RinexMajor;         // 2 or 3
  // Date and time of the first epoch (GPS time).
  int Year;               // four digits
  int Month;
  int Day;
  int Hour;
  int Minute;
  double SpanSeconds;      // last epoch - first epoch + interval
  double IntervalSeconds;  // observation interval; 0 when unknown
  bool Mixed;              // GLONASS satellites present
  // Length of the span of a split output (900, 3600 or 86400 seconds), the
  // date above being its start; 0 for a file that is not split. The period
  // of a long name is then the span's length, not SpanSeconds.
  double SplitSeconds;
};

// Parses "input", "short", "long" / "none", "gz", "crx", "crx.gz". true
// when the text is one of them.
bool ParseNameStyle(const char* text, NameStyle* style);
bool ParseCompression(const char* text, Compression* compression);

// The observation and navigation file names. out holds size bytes.
int MakeObsFileName(const NamingInput& input, NameStyle style, Compression compression, char* out,
                    size_t size);
int MakeNavFileName(const NamingInput& input, NameStyle style, Compression compression, char* out,
                    size_t size);

// The name of the plain RINEX file an observation output of that
// compression stands for, the compression's marks taken off: ".gz" when
// gzipped, and with Compact RINEX ".yyd" back to ".yyo" and ".crx" back to
// ".rnx" ("site0920.05d.gz" -> "site0920.05o",
// "..._MO.crx.gz" -> "..._MO.rnx"). A part the name lacks stays as it is.
std::string PlainObsFileName(const std::string& name, Compression compression);

// The period of a long name ("01D", "01H", "15M", "00U" for none): days
// from 23.5 hours on, hours from 59.5 minutes on, else minutes (at least
// 1), each rounded to the nearest whole unit and at most 99 (longer spans
// in years, "01Y" ...). out holds at least 4 bytes.
void FormatPeriod(double seconds, char* out);

// The interval of a long name: below one second in hertz ("05Z" for 0.2 s;
// "01C" ... in hundreds of hertz from 100 Hz on), then seconds ("30S"),
// minutes ("05M"), hours ("01H"), days ("01D"), each rounded to the nearest
// whole unit; "00U" when unknown. out holds at least 4 bytes.
void FormatInterval(double seconds, char* out);

}  // namespace rawconv

#endif  // RAWCONV_NAMING_NAMING_H_
