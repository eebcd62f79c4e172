// Comparison of a RINEX observation file written by rawconv with the
// original RINEX file its GPB input was made from (header-only): every epoch
// time, satellite list and value must come back within what the GPB format
// can carry.
#ifndef RAWCONV_TESTS_SUPPORT_OBS_COMPARE_H_
#define RAWCONV_TESTS_SUPPORT_OBS_COMPARE_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "api/rawconv.h"
#include "gpb/gpb.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace obscompare {

using rnxtest::RinexObsEpoch;
using rnxtest::RinexObsFile;
using rnxtest::RinexObsValue;
using rnxtest::RinexSatObs;

// Which GPB format the data went through and which RINEX version came out.
struct Format {
  bool NewFormat;
  int Version;
};

// The eight types the writer knows, in its order.
inline const char* const kWriterTypes[8] = {"C1", "L1", "L2", "P1", "P2", "D1", "S1", "S2"};

inline bool FormatCarries(const std::string& type, const Format& f) {
  if (!f.NewFormat && (type == "P1" || type == "S1" || type == "S2")) return false;
  if (f.Version == RINEX_VERSION_2_0 && (type == "S1" || type == "S2")) return false;
  return true;
}

// The original value as the GPB format stores it and the writer prints it.
inline double ExpectedValue(const std::string& type, const RinexObsValue& v, const Format& f) {
  if (!v.Present) return 0.0;
  if (!f.NewFormat) return v.Value;  // old format: every double stored as it is
  const bool code = type[0] == 'C' || type[0] == 'P';
  const bool phase = type[0] == 'L';
  if (code) return std::fabs(v.Value) > 10.0 ? v.Value : 0.0;
  if (phase) return std::fabs(v.Value) > 0.01 ? v.Value : 0.0;
  if (type == "D1") return static_cast<double>(static_cast<float>(v.Value));
  // C/N0: 0.25 dB-Hz steps up to 63.75.
  return std::min(63.75, std::floor(v.Value / 0.25 + 0.5) * 0.25);
}

inline double Tolerance(const std::string& type, const Format& f) {
  if (f.NewFormat && type[0] == 'S') return 0.0005;  // already on the 0.25 grid
  return 0.0006;  // both sides are printed with three decimals
}

// The satellites the GPB file keeps, as the writer names them: GPS 1..32 as
// G, GLONASS 1..32 as R with 32 added, at most 24.
inline std::vector<RinexSatObs> KeptSatellites(const RinexObsEpoch& e) {
  std::vector<RinexSatObs> kept;
  for (const RinexSatObs& s : e.Sats) {
    const int prn = rnxtest::GpbPrnOf(s);
    if (prn == 0 || kept.size() == static_cast<size_t>(kMaxChannels)) continue;
    RinexSatObs k = s;
    k.System = prn > 32 ? 'R' : 'G';
    k.Prn = prn;
    kept.push_back(k);
  }
  return kept;
}

inline std::vector<const RinexObsEpoch*> ObservationEpochs(const RinexObsFile& f) {
  std::vector<const RinexObsEpoch*> out;
  for (const RinexObsEpoch& e : f.Epochs)
    if (!e.IsEvent()) out.push_back(&e);
  return out;
}

// Full GPS week (counted from 6 January 1980, no rollover) and seconds of
// week of a calendar date.
inline int FullGpsWeek(int year, int month, int day, double* day_start_of_week) {
  auto days_from_civil = [](long y, long m, long d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  };
  const long days = days_from_civil(year, month, day) - days_from_civil(1980, 1, 6);
  *day_start_of_week = static_cast<double>(days % 7) * 86400.0;
  return static_cast<int>(days / 7);
}

inline void CompareObservations(const RinexObsFile& original, const RinexObsFile& ours, const Format& f) {
  // Types: those of the original that the writer knows and the format
  // carries, in the writer's order, and that have a value on the first
  // satellite of some epoch (a header type without any value, like P1 of
  // bell0300.02o, is not listed).
  const std::vector<const RinexObsEpoch*> a = ObservationEpochs(original);
  const std::vector<const RinexObsEpoch*> b = ObservationEpochs(ours);
  std::vector<std::string> types;
  for (const char* t : kWriterTypes) {
    const int k = original.Header.TypeIndex(t);
    if (k < 0 || !FormatCarries(t, f)) continue;
    bool found = false;
    for (size_t i = 0; i < a.size() && !found; ++i) {
      const std::vector<RinexSatObs> kept = KeptSatellites(*a[i]);
      if (!kept.empty() && static_cast<size_t>(k) < kept[0].Values.size())
        found = ExpectedValue(t, kept[0].Values[static_cast<size_t>(k)], f) != 0.0;
    }
    if (found) types.push_back(t);
  }
  ASSERT_EQ(ours.Header.ObsTypes, types);

  ASSERT_EQ(a.size(), b.size());
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(ours.Header.HasFirstObs);
  EXPECT_EQ(ours.Header.FirstYear, a[0]->Year);
  EXPECT_EQ(ours.Header.FirstMonth, a[0]->Month);
  EXPECT_EQ(ours.Header.FirstDay, a[0]->Day);
  EXPECT_NEAR(ours.Header.FirstSecond, a[0]->Second, 5e-7);

  int failures = 0;
  auto fail = [&](size_t epoch, const std::string& what) {
    if (++failures <= 10) ADD_FAILURE() << "epoch " << epoch << ": " << what;
  };
  for (size_t i = 0; i < a.size() && failures <= 10; ++i) {
    const RinexObsEpoch& x = *a[i];
    const RinexObsEpoch& y = *b[i];
    if (x.Year != y.Year || x.Month != y.Month || x.Day != y.Day || x.Hour != y.Hour ||
        x.Minute != y.Minute || std::fabs(x.Second - y.Second) > 5e-8) {
      char text[128];
      std::snprintf(text, sizeof text, "time %d-%d-%d %d:%d:%.7f written as %d-%d-%d %d:%d:%.7f",
                    x.Year, x.Month, x.Day, x.Hour, x.Minute, x.Second, y.Year, y.Month, y.Day,
                    y.Hour, y.Minute, y.Second);
      fail(i, text);
    }
    const std::vector<RinexSatObs> kept = KeptSatellites(x);
    if (kept.size() != y.Sats.size()) {
      fail(i, "satellite count " + std::to_string(y.Sats.size()) + " instead of " +
                  std::to_string(kept.size()));
      continue;
    }
    for (size_t s = 0; s < kept.size(); ++s) {
      const RinexSatObs& want = kept[s];
      const RinexSatObs& got = y.Sats[s];
      if (want.System != got.System || want.Prn != got.Prn) {
        fail(i, std::string("satellite ") + got.System + std::to_string(got.Prn) +
                    " instead of " + want.System + std::to_string(want.Prn));
        continue;
      }
      for (size_t t = 0; t < types.size(); ++t) {
        const int k = original.Header.TypeIndex(types[t]);
        const RinexObsValue v = static_cast<size_t>(k) < want.Values.size()
                                    ? want.Values[static_cast<size_t>(k)]
                                    : RinexObsValue();
        const double expected = ExpectedValue(types[t], v, f);
        const RinexObsValue& w = got.Values[t];
        if (!w.Present || std::fabs(w.Value - expected) > Tolerance(types[t], f)) {
          char text[160];
          std::snprintf(text, sizeof text, "%c%02d %s: %.4f instead of %.4f", got.System,
                        got.Prn, types[t].c_str(), w.Value, expected);
          fail(i, text);
        }
        // Loss of lock on a phase the format stores comes back as the digit 1.
        const bool lli_kept = types[t] == "L1" || (types[t] == "L2" && f.NewFormat);
        if (lli_kept && expected != 0.0) {
          const bool lost = v.Lli >= 0 && (v.Lli & 1) != 0;
          if (lost != (w.Lli == 1)) fail(i, std::string("loss of lock of ") + types[t]);
        }
      }
    }
  }
  EXPECT_LE(failures, 0) << failures << " mismatches";
}


}  // namespace obscompare
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_OBS_COMPARE_H_
