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
};

// Reads the whole file. The epochs are dated from the EPP file (epp, or
// FILE.epp beside it in either case of the extension when epp is empty)
// or by the fixed week.
GpbInfo ScanGpbInfo(const std::string& gpb, const std::string& epp, bool use_week, int32_t week);

// "2005-04-02 00:00:00.000" (GPS time) of a full week and seconds of week.
std::string GpsDateText(int32_t week, double tow);

// One block of text per file, a blank line between files.
std::string InfoText(const GpbInfo& info);
// One JSON object per file; InfoJson of all files is {"files": [...]}.
std::string InfoJsonObject(const GpbInfo& info);

// Runs --info over args.files: text or (--json) one JSON document on out,
// failures on err. Exit code 0, or 1 when any file could not be read.
int RunInfo(const Arguments& args, std::FILE* out, std::FILE* err);

}  // namespace gpb2rinex

#endif  // RAWCONV_CLI_INFO_H_
