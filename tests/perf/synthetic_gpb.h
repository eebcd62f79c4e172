// A synthetic GPB recording for benchmarks and throughput tests
// (header-only): a static receiver tracking a fixed set of GPS satellites at
// a regular interval, by default in the new format with L2 blocks and every
// one of the eight observation types present on every channel.
//
// Values vary smoothly: each satellite's range follows a slow sine of half a
// sidereal day around about 22,000 km, the phases follow the range, the
// Doppler its rate, and small deterministic noise keeps the digits varied.
// Records are written to the file one at a time, so a file of any length
// needs no more memory than one record.
//
//   SyntheticDay day;                     // 86,400 epochs, 1 s, 14 satellites
//   WriteSyntheticGpb("day.gpb", day);
//   WriteSyntheticEpp("day.epp", day);
#ifndef RAWCONV_TESTS_PERF_SYNTHETIC_GPB_H_
#define RAWCONV_TESTS_PERF_SYNTHETIC_GPB_H_

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "gpb/gpb.h"
#include "support/epp_fixture.h"
#include "support/gpb_builder.h"

namespace rawconv {
namespace synthetic {

struct SyntheticDay {
  int Epochs = 86400;
  double Interval = 1.0;     // seconds between epochs
  int Week = 1306;           // 2005-01-16 .. 2005-01-22
  double StartTime = 0.0;    // seconds of week of the first epoch
  int Satellites = 14;       // at most 24
  uint32_t Seed = 1;         // noise of the values
  int16_t Flags = kEpochPositionValid;
  bool NewFormat = true;  // false: old format (no P1, S1, S2; whole lock seconds)
  // Epochs [KinematicStart, KinematicEnd) carry the kinematic flag. Lock
  // times grow from the first epoch, so changes within the first 1200 s
  // (the longest lock time the format keeps) give START/END events.
  int KinematicStart = -1;
  int KinematicEnd = -1;
};

constexpr int kSyntheticPrns[24] = {2,  4,  5,  7,  9,  10, 13, 16, 17, 20, 23, 24,
                                    28, 30, 1,  3,  6,  8,  11, 14, 15, 18, 21, 25};

constexpr double kL1Wavelength = 0.190293672798365;  // metres
constexpr double kL2Wavelength = 0.244210213424568;
constexpr double kHalfSiderealDay = 43082.0;           // seconds
constexpr double kTwoPi = 6.283185307179586;

// Small deterministic noise in [-1, 1).
inline double Noise(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return static_cast<double>(*state >> 8) / 8388608.0 - 1.0;
}

// The channels of epoch k (n = day.Satellites).
inline void SyntheticEpoch(const SyntheticDay& day, int k, uint32_t* noise, GpbEpoch* epoch,
                           GpbChannel* channels) {
  const double t = day.StartTime + day.Interval * k;
  *epoch = gpbtest::MakeEpoch(t, 38.920575, -77.066264, 58.6f, day.Flags);
  epoch->ClockRefTime = t;
  if (k >= day.KinematicStart && k < day.KinematicEnd) {
    epoch->Flags = static_cast<int16_t>(epoch->Flags | kEpochKinematic);
  }
  const int n = day.Satellites < kMaxChannels ? day.Satellites : kMaxChannels;
  epoch->NumChannels = static_cast<int16_t>(n);
  const double elapsed = day.Interval * k;
  for (int i = 0; i < n; ++i) {
    GpbChannel& ch = channels[i];
    ch = GpbChannel{};
    ch.Prn = kSyntheticPrns[i];
    const double phase = kTwoPi * (t / kHalfSiderealDay) + 0.45 * i;
    const double range = 22.0e6 + 2.6e6 * std::sin(phase) + 1.0e5 * i;
    const double rate = 2.6e6 * std::cos(phase) * kTwoPi / kHalfSiderealDay;
    const double iono = 4.0 + 2.0 * std::sin(phase * 0.5 + i);
    ch.C1 = range + 0.35 * Noise(noise);
    ch.P1 = range + 0.12 + 0.05 * Noise(noise);
    ch.P2 = range + 1.65 * iono + 0.08 * Noise(noise);
    // Phases carry the opposite sign to RINEX in GPB terms.
    ch.L1 = -((range - iono) / kL1Wavelength + 0.002 * Noise(noise) + 1000.0 * i);
    ch.L2 = -((range - 1.65 * iono) / kL2Wavelength + 0.002 * Noise(noise) - 500.0 * i);
    ch.D1 = -rate / kL1Wavelength + 0.1 * Noise(noise);
    ch.Cn0L1 = 44.0 + 6.0 * std::sin(phase * 2.0);
    ch.Cn0L2 = ch.Cn0L1 - 7.5;
    ch.LockTime1 = elapsed + day.Interval;
    ch.LockTime2 = elapsed + day.Interval;
    ch.LockSec1 = static_cast<uint8_t>(ch.LockTime1 > 255.0 ? 255.0 : ch.LockTime1);
    ch.ObsMask = kObsC1 | kObsL1 | kObsD1 | kObsLock1 | kObsCn0L1 | kObsP1 | kObsP2 | kObsL2 |
                 kObsLock2 | kObsCn0L2;
  }
}

// Writes the GPB file record by record; true on success.
inline bool WriteSyntheticGpb(const std::string& path, const SyntheticDay& day) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const gpbtest::ByteVec header =
      day.NewFormat ? gpbtest::NewHeader(6, "SYNTHETIC L1/L2") : gpbtest::OldHeader(6);
  bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
  uint32_t noise = day.Seed;
  GpbEpoch epoch{};
  GpbChannel channels[kMaxChannels]{};
  for (int k = 0; k < day.Epochs && ok; ++k) {
    SyntheticEpoch(day, k, &noise, &epoch, channels);
    const gpbtest::ByteVec record =
        day.NewFormat ? gpbtest::EncodeNewEpoch(epoch, channels, epoch.NumChannels, true)
                      : gpbtest::EncodeOldEpoch(epoch, channels, epoch.NumChannels);
    ok = std::fwrite(record.data(), 1, record.size(), f) == record.size();
  }
  return std::fclose(f) == 0 && ok;
}

// An EPP file for the same satellites and week: one record per satellite
// every two hours of the span, times of ephemeris from the first whole two
// hours after the start.
inline bool WriteSyntheticEpp(const std::string& path, const SyntheticDay& day) {
  std::vector<epptest::EppTag> tags;
  const double end = day.StartTime + day.Interval * day.Epochs;
  const int n = day.Satellites < kMaxChannels ? day.Satellites : kMaxChannels;
  for (int toe = (static_cast<int>(day.StartTime) / 7200 + 1) * 7200;
       toe <= static_cast<int>(end) + 7200 && toe < 604800; toe += 7200) {
    for (int i = 0; i < n; ++i) tags.push_back({day.Week, toe, kSyntheticPrns[i]});
  }
  return epptest::WriteEppFile(path, tags);
}

}  // namespace synthetic
}  // namespace rawconv

#endif  // RAWCONV_TESTS_PERF_SYNTHETIC_GPB_H_
