// Writes minimal EPP ephemeris files for tests (header-only): a "$EPHREC"
// header line and one "GpsEph" block per record, every element line with
// the number of values the readers expect ("El1:" five, "El5:" four).
#ifndef RAWCONV_TESTS_SUPPORT_EPP_FIXTURE_H_
#define RAWCONV_TESTS_SUPPORT_EPP_FIXTURE_H_

#include <cstdio>
#include <string>
#include <vector>

namespace rawconv {
namespace epptest {

struct EppTag {
  int Week;  // as written to the file
  int Toe;   // seconds of week (also written as toc)
  int Prn = 1;
};

inline std::string EppText(const std::vector<EppTag>& tags) {
  std::string text = "$EPHREC 1 0\n";
  char block[512];
  for (const EppTag& t : tags) {
    std::snprintf(block, sizeof block,
                  "GpsEph {\n"
                  "  PRN: %d\n"
                  "  El1: %d 0 -1.16415321827e-08 100 %d\n"
                  "  El2: 0.0 -5.68434188608e-13 1.06420181692e-04\n"
                  "  El3: 100 -6.89375000000e+01 4.48518682322e-09 1.09386052024\n"
                  "  El4: -3.43099236488e-06 6.45089708269e-03 8.86246562004e-06 5.15365264511e+03\n"
                  "  El5: %d 1.11758708954e-08 -2.07830626124 -7.26431608200e-08\n"
                  "  El6: 9.68418627581e-01 2.24906250000e+02 -1.89640294462 "
                  "-7.87032783213e-09 -3.92873788252e-10\n"
                  "}\n",
                  t.Prn, t.Week, t.Toe, t.Toe);
    text += block;
  }
  return text;
}

// Writes the file; true on success.
inline bool WriteEppFile(const std::string& path, const std::vector<EppTag>& tags) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const std::string text = EppText(tags);
  const bool ok = std::fputs(text.c_str(), f) >= 0;
  return std::fclose(f) == 0 && ok;
}

}  // namespace epptest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_EPP_FIXTURE_H_
