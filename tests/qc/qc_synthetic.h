// Synthetic dual-frequency tracking data for the quality-check tests: the
// observables of one satellite are made from a range, an ionospheric delay,
// ambiguities and code multipath, so every combination has a known value.
#ifndef RAWCONV_TESTS_QC_QC_SYNTHETIC_H_
#define RAWCONV_TESTS_QC_QC_SYNTHETIC_H_

#include <cmath>
#include <vector>

#include "gpb/gpb.h"
#include "qc/qc.h"

namespace rawconv {
namespace qctest {

constexpr int kWeek = 1306;
constexpr double kPi = 3.141592653589793;

struct SyntheticSat {
  int Prn = 1;
  double Range0 = 21.0e6;      // m at t = 0
  double RangeRate = 300.0;    // m/s
  double Iono0 = 4.0;          // L1 delay, m
  double IonoRate = 1.0e-4;    // m/s
  double N1 = 1000.0, N2 = 2000.0;  // ambiguities, cycles
  double Mp1Amplitude = 0.0, Mp2Amplitude = 0.0;  // code multipath, m
  double MpPeriod = 600.0;     // s
  bool DualFrequency = true;
  double S1 = 45.0, S2 = 38.0;

  // A channel at t seconds of the week (RINEX signs turned into GPB's).
  GpbChannel At(double t) const {
    const double alpha = (qc::kFreqL1 / qc::kFreqL2) * (qc::kFreqL1 / qc::kFreqL2);
    const double rho = Range0 + RangeRate * t;
    const double iono = Iono0 + IonoRate * t;
    const double mp = std::sin(2.0 * kPi * t / MpPeriod);
    GpbChannel ch{};
    ch.Prn = Prn;
    ch.C1 = rho + iono + Mp1Amplitude * mp;
    ch.P1 = ch.C1;
    ch.L1 = -((rho - iono) / qc::kLambdaL1 + N1);
    ch.LockTime1 = 100.0;
    ch.Cn0L1 = S1;
    ch.D1 = -RangeRate / qc::kLambdaL1;
    ch.ObsMask = kObsC1 | kObsL1 | kObsD1 | kObsLock1 | kObsCn0L1;
    if (DualFrequency) {
      ch.P2 = rho + alpha * iono + Mp2Amplitude * mp;
      ch.L2 = -((rho - alpha * iono) / qc::kLambdaL2 + N2);
      ch.LockTime2 = 100.0;
      ch.Cn0L2 = S2;
      ch.ObsMask |= kObsP1 | kObsP2 | kObsL2 | kObsLock2 | kObsCn0L2;
    }
    return ch;
  }
};

inline GpbEpoch EpochAt(double t, int channels) {
  GpbEpoch e{};
  e.RcvTime = t;
  e.RawRcvTime = t;
  e.NumChannels = static_cast<int16_t>(channels);
  return e;
}

// Feeds the epochs at the given times, each with every satellite.
inline void Feed(qc::QcObserver& observer, const std::vector<double>& times,
                 const std::vector<SyntheticSat>& sats) {
  for (double t : times) {
    std::vector<GpbChannel> ch;
    for (const SyntheticSat& s : sats) ch.push_back(s.At(t));
    observer.AddEpoch(EpochAt(t, static_cast<int>(ch.size())), ch.data(), kWeek);
  }
}

inline std::vector<double> Times(double first, double step, int count) {
  std::vector<double> t;
  for (int i = 0; i < count; ++i) t.push_back(first + step * i);
  return t;
}

}  // namespace qctest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_QC_QC_SYNTHETIC_H_
