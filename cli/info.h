// gpb2rinex --info: what a GPB file holds, from one reading pass through the
// library's public GPB reader, without converting anything.
#ifndef RAWCONV_CLI_INFO_H_
#define RAWCONV_CLI_INFO_H_

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "arguments.h"

namespace gpb2rinex {

// What the scan of one file found.
struct GpbInfo {
  std::string file;
  std::string error;  // the file could not be read at all; nothing else is set
  std::string receiver;
  uint64_t epochs = 0;
  int32_t first_week = -1, last_week = -1;  // -1: the data could not be dated
  double first_tow = 0.0, last_tow = 0.0;
  double interval = 0.0;           // the most frequent step between epochs, s
  uint64_t obs[8] = {};            // per type, in the order C1 L1 L2 P1 P2 D1 S1 S2
  std::set<std::string> satellites;  // "G05", "R07"
  uint64_t position_epochs = 0;    // epochs with a valid position
  double latitude = 0.0, longitude = 0.0, height = 0.0;  // their mean
  bool damaged = false;            // ended in a damaged or truncated record
  std::string damage;              // the reader's reason
  std::string undated;             // why the times are unknown ("" when dated)
};

// How the epochs of a file are dated: by the EPP file (epp, or FILE.epp
// beside it in any case of the extension when epp is empty), by a fixed
// week, or by a day of the recording (days since 1980-01-06: each epoch
// takes the week that puts it nearest noon of that day).
struct Dating {
  std::string epp;
  bool use_week = false;
  int32_t week = 0;
  bool use_day = false;
  int64_t day = 0;
};

// Reads the whole file.
GpbInfo ScanGpbInfo(const std::string& gpb, const Dating& dating);

// "2005-04-02 00:00:00.000" (GPS time) of a full week and seconds of week.
std::string GpsDateText(int32_t week, double tow);

// One block of text per file, a blank line between files.
std::string InfoText(const GpbInfo& info);
// One JSON object per file; InfoJson of all files is {"files": [...]}.
// Numbers that are not finite are written as null. Strings are UTF-8: a
// byte that is not part of a valid UTF-8 sequence (a file name in another
// encoding) is written as the escape \udcXX, XX being the byte (U+DC80 to
// U+DCFF, the lone surrogates that Python's "surrogateescape" error
// handler reads back to the same bytes).
std::string InfoJsonObject(const GpbInfo& info);

// A JSON string of text, escaped as above.
std::string JsonString(const std::string& text);

// Runs --info over args.files: text or (--json) one JSON document on out,
// failures on err. Exit code 0, or 1 when any file could not be read or
// out could not be written (with the system's reason on err).
int RunInfo(const Arguments& args, std::FILE* out, std::FILE* err);

}  // namespace gpb2rinex

#endif  // RAWCONV_CLI_INFO_H_
