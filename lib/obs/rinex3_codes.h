// The RINEX 3 observation codes this system writes, one for each of the
// eight observation types (in the order of the RINEX 2 types C1 L1 L2 P1 P2
// D1 S1 S2), per satellite system. The RINEX 3 writer (rinex3_obs.h) writes
// them; the selection reads them in --obs-types lists.
#ifndef RAWCONV_OBS_RINEX3_CODES_H_
#define RAWCONV_OBS_RINEX3_CODES_H_

#include <cstring>

namespace rawconv {

constexpr int kRinex3CodeCount = 8;
constexpr const char* kRinex3GpsCodes[kRinex3CodeCount] = {"C1C", "L1C", "L2W", "C1W",
                                                           "C2W", "D1C", "S1C", "S2W"};
constexpr const char* kRinex3GlonassCodes[kRinex3CodeCount] = {"C1C", "L1C", "L2P", "C1P",
                                                               "C2P", "D1C", "S1C", "S2P"};

// The type index (0..7) of a code of either system; -1 for any other text.
inline int Rinex3CodeIndex(const char* code) {
  if (code == nullptr) return -1;
  for (int i = 0; i < kRinex3CodeCount; ++i)
    if (std::strcmp(code, kRinex3GpsCodes[i]) == 0 || std::strcmp(code, kRinex3GlonassCodes[i]) == 0)
      return i;
  return -1;
}

}  // namespace rawconv

#endif  // RAWCONV_OBS_RINEX3_CODES_H_
