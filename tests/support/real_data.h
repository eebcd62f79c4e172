// The real RINEX pairs of the shared data folder (see its README) and the
// small helpers of the tests that run on them.
#ifndef RAWCONV_TESTS_SUPPORT_REAL_DATA_H_
#define RAWCONV_TESTS_SUPPORT_REAL_DATA_H_

#include <cstdlib>
#include <ostream>
#include <string>

namespace rawconv {
namespace realdata {

struct DataPair {
  const char* Obs;
  const char* Nav;
};

// Every observation file with its navigation file.
inline constexpr DataPair kPairs[] = {
    {"07590920.05o", "07590920.05n"},       {"30400920.05o", "30400920.05n"},
    {"usno0200.05o", "brdc0200.05n"},       {"bahr1620.04o", "bahr1620.04n"},
    {"bell0300.02o", "brdc0300.02n"},       {"arlm200a.15o", "arlm200a.15n"},
    {"yamatogawa_rover.obs", "yamatogawa_rover.nav"},
    {"yamatogawa_master.obs", "brdc0060.10n"}, {"wsra0010.21o", "cbw10010.21n.gz"},
};

inline void PrintTo(const DataPair& pair, std::ostream* os) { *os << pair.Obs; }

inline std::string DataPath(const char* name) {
  return std::string(RAWCONV_SHARED_DATA_DIR) + "/" + name;
}

// True when a program of this name is on the PATH.
inline bool HasProgram(const char* name) {
  const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace realdata
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_REAL_DATA_H_
