// The quality observer on synthetic data whose gaps, slips and multipath
// are known.
#include <gtest/gtest.h>

#include <cmath>

#include "qc/qc.h"
#include "qc_synthetic.h"

namespace rawconv {
namespace qctest {
namespace {

using qc::QcObserver;
using qc::QcSummary;

const qc::QcSatellite* Sat(const QcSummary& s, int prn) {
  for (const qc::QcSatellite& sat : s.Satellites) {
    if (sat.Prn == prn) return &sat;
  }
  return nullptr;
}

TEST(QcTimeTest, IntervalGapsAndCompleteness) {
  QcObserver observer;
  std::vector<double> times = Times(1000.0, 30.0, 10);      // 1000 .. 1270
  for (double t : Times(1390.0, 30.0, 5)) times.push_back(t);  // 3 epochs missing
  times.push_back(1570.0);                                  // one more missing
  SyntheticSat sat;
  Feed(observer, times, {sat});
  QcSummary s;
  observer.Finish(&s);
  EXPECT_DOUBLE_EQ(s.Interval, 30.0);
  EXPECT_EQ(s.PresentEpochs, 16);
  EXPECT_EQ(s.ExpectedEpochs, 20);
  EXPECT_NEAR(s.CompletenessPercent, 100.0 * 16 / 20, 1e-9);
  ASSERT_EQ(s.Gaps.size(), 2u);
  EXPECT_EQ(s.GapCount, 2);
  EXPECT_DOUBLE_EQ(s.Gaps[0].Start, kWeek * 604800.0 + 1270.0);
  EXPECT_DOUBLE_EQ(s.Gaps[0].End, kWeek * 604800.0 + 1390.0);
  EXPECT_EQ(s.Gaps[0].MissingEpochs, 3);
  EXPECT_EQ(s.Gaps[1].MissingEpochs, 1);
  EXPECT_DOUBLE_EQ(s.FirstTime, kWeek * 604800.0 + 1000.0);
  EXPECT_DOUBLE_EQ(s.LastTime, kWeek * 604800.0 + 1570.0);
  // Tracked in every epoch there is: one span (the gaps are the file's).
  ASSERT_EQ(s.Satellites.size(), 1u);
  EXPECT_EQ(s.Satellites[0].Spans.size(), 1u);
}

TEST(QcTimeTest, JitteredStepsAndRepeatedEpochs) {
  QcObserver observer;
  // Epoch times a few milliseconds off whole seconds; one repeated epoch.
  Feed(observer, {0.0, 30.004, 59.998, 59.998, 90.002, 150.001}, {SyntheticSat()});
  QcSummary s;
  observer.Finish(&s);
  EXPECT_DOUBLE_EQ(s.Interval, 30.0);
  EXPECT_EQ(s.PresentEpochs, 5);
  EXPECT_EQ(s.SkippedEpochs, 1);
  EXPECT_EQ(s.ExpectedEpochs, 6);
  EXPECT_EQ(s.GapCount, 1);

  QcObserver nominal(qc::QcOptions{10.0, 15.0});
  Feed(nominal, Times(0.0, 30.0, 4), {SyntheticSat()});
  nominal.Finish(&s);
  EXPECT_DOUBLE_EQ(s.Interval, 15.0);
  EXPECT_EQ(s.ExpectedEpochs, 7);
  EXPECT_EQ(s.GapCount, 3);
  EXPECT_DOUBLE_EQ(s.ElevationMask, 10.0);
}

TEST(QcTimeTest, EmptyAndSingleEpoch) {
  QcSummary s;
  QcObserver empty;
  empty.Finish(&s);
  EXPECT_EQ(s.PresentEpochs, 0);
  EXPECT_EQ(s.ExpectedEpochs, 0);
  EXPECT_TRUE(s.Satellites.empty());

  QcObserver one;
  Feed(one, {10.0}, {SyntheticSat()});
  one.Finish(&s);
  EXPECT_EQ(s.PresentEpochs, 1);
  EXPECT_EQ(s.ExpectedEpochs, 1);
  EXPECT_DOUBLE_EQ(s.CompletenessPercent, 100.0);
}

TEST(QcCountTest, ObservationsLossOfLockAndSignal) {
  QcObserver observer;
  SyntheticSat dual;
  dual.Prn = 5;
  SyntheticSat single;
  single.Prn = 40;  // GLONASS
  single.DualFrequency = false;
  single.S1 = 41.0;
  const std::vector<double> times = Times(0.0, 30.0, 20);
  for (size_t i = 0; i < times.size(); ++i) {
    GpbChannel ch[2] = {dual.At(times[i]), single.At(times[i])};
    if (i == 7) ch[0].LockTime2 = 0.0;  // L2 lost
    if (i == 8) ch[0].ObsMask &= ~kObsD1;
    // The GLONASS satellite is missing from epochs 10 and 11.
    observer.AddEpoch(EpochAt(times[i], i == 10 || i == 11 ? 1 : 2), ch, kWeek);
  }
  QcSummary s;
  observer.Finish(&s);
  ASSERT_EQ(s.SatelliteCount(), 2);
  const qc::QcSatellite* g = Sat(s, 5);
  const qc::QcSatellite* r = Sat(s, 40);
  ASSERT_TRUE(g && r);
  EXPECT_EQ(g->Obs[qc::kQcL2], 20);
  EXPECT_EQ(g->Obs[qc::kQcD1], 19);
  EXPECT_EQ(r->Obs[qc::kQcL2], 0);
  EXPECT_EQ(r->Obs[qc::kQcC1], 18);
  EXPECT_EQ(s.Obs[qc::kQcC1], 38);
  EXPECT_EQ(g->Spans.size(), 1u);
  ASSERT_EQ(r->Spans.size(), 2u);
  EXPECT_DOUBLE_EQ(r->Spans[0].End - r->Spans[0].Start, 270.0);
  EXPECT_DOUBLE_EQ(r->Spans[1].Start - r->Spans[0].End, 90.0);
  EXPECT_EQ(s.Obs[qc::kQcS2], 20);
  EXPECT_EQ(g->LossOfLock, 1);
  EXPECT_EQ(s.LossOfLock, 1);
  EXPECT_DOUBLE_EQ(g->MeanS1, 45.0);
  EXPECT_DOUBLE_EQ(g->MeanS2, 38.0);
  EXPECT_DOUBLE_EQ(r->MeanS1, 41.0);
  EXPECT_DOUBLE_EQ(s.MeanS1, (20 * 45.0 + 18 * 41.0) / 38);
  EXPECT_DOUBLE_EQ(s.MeanS2, 38.0);
  // Nothing to measure the geometry with, and no combinations for GLONASS.
  EXPECT_EQ(s.WithAzEl, 0);
  EXPECT_EQ(r->TotalSlips(), 0);
  EXPECT_EQ(r->Mp1Count, 0);
  EXPECT_STREQ(qc::QcObsTypeName(qc::kQcS2), "S2");
}

// Slips of a kind each combination sees, and one the other misses.
TEST(QcSlipTest, GeometryFreeAndMelbourneWuebbena) {
  struct Case {
    const char* name;
    double dn1, dn2;
    int64_t gf, mw;
  } cases[] = {
      {"L1 one cycle", 1, 0, 1, 0},
      {"L2 one cycle", 0, 1, 1, 0},
      {"both 77/60: invisible to geometry-free", 77, 60, 0, 1},
      {"L1 ten cycles", 10, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QcObserver observer;
    SyntheticSat sat;
    Feed(observer, Times(0.0, 30.0, 30), {sat});
    sat.N1 += c.dn1;
    sat.N2 += c.dn2;
    Feed(observer, Times(900.0, 30.0, 30), {sat});
    QcSummary s;
    observer.Finish(&s);
    EXPECT_EQ(s.Slips[qc::kSlipGeometryFree], c.gf);
    EXPECT_EQ(s.Slips[qc::kSlipMelbourneWuebbena], c.mw);
    ASSERT_FALSE(s.SlipList.empty());
    EXPECT_DOUBLE_EQ(s.SlipList[0].Time, kWeek * 604800.0 + 900.0);
    EXPECT_EQ(s.SlipList[0].Prn, 1);
  }
}

TEST(QcSlipTest, QuietDataHasNone) {
  QcObserver observer;
  SyntheticSat sat;
  sat.IonoRate = 5e-4;  // a busy ionosphere: 1.5 cm per epoch, smooth
  sat.Mp1Amplitude = 0.5;
  sat.Mp2Amplitude = 0.5;
  Feed(observer, Times(0.0, 30.0, 200), {sat});
  QcSummary s;
  observer.Finish(&s);
  EXPECT_EQ(s.TotalSlips(), 0);
}

TEST(QcSlipTest, CodeMinusPhaseOnSingleFrequency) {
  QcObserver observer;
  SyntheticSat sat;
  sat.DualFrequency = false;
  Feed(observer, Times(0.0, 30.0, 10), {sat});
  sat.N1 += 200;  // 38 m
  Feed(observer, Times(300.0, 30.0, 10), {sat});
  sat.N1 += 50;   // 9.5 m: below what code noise allows to see
  Feed(observer, Times(600.0, 30.0, 10), {sat});
  QcSummary s;
  observer.Finish(&s);
  EXPECT_EQ(s.Slips[qc::kSlipCodeMinusPhase], 1);
  EXPECT_EQ(s.Slips[qc::kSlipGeometryFree], 0);
  ASSERT_EQ(s.SlipList.size(), 1u);
  EXPECT_NEAR(s.SlipList[0].Jump, -200 * qc::kLambdaL1, 0.01);  // plus 30 s of ionosphere
}

// A sine of known amplitude on the codes over whole periods: the RMS is
// amplitude / sqrt 2 whatever the range, ionosphere and ambiguities.
TEST(QcMultipathTest, KnownAmplitudeRecovered) {
  QcObserver observer;
  SyntheticSat a;
  a.Mp1Amplitude = 0.6;
  a.Mp2Amplitude = 0.3;
  SyntheticSat b = a;
  b.Prn = 2;
  b.Mp1Amplitude = 0.0;
  b.Mp2Amplitude = 0.0;
  b.N1 = -3e6;
  Feed(observer, Times(0.0, 30.0, 40), {a, b});  // two periods of 600 s
  QcSummary s;
  observer.Finish(&s);
  const qc::QcSatellite* sa = Sat(s, 1);
  const qc::QcSatellite* sb = Sat(s, 2);
  ASSERT_TRUE(sa && sb);
  EXPECT_NEAR(sa->Mp1Rms, 0.6 / std::sqrt(2.0), 1e-6);
  EXPECT_NEAR(sa->Mp2Rms, 0.3 / std::sqrt(2.0), 1e-6);
  EXPECT_NEAR(sb->Mp1Rms, 0.0, 1e-6);
  EXPECT_EQ(sa->Mp1Count, 40);
  EXPECT_NEAR(s.Mp1Rms, std::sqrt((0.18 * 40 + 0.0) / 80), 1e-6);
  // The samples carry the arc-mean-corrected values.
  for (const qc::QcSample& x : s.Samples) {
    if (x.Prn != 1) continue;
    const double t = x.Time - kWeek * 604800.0;
    EXPECT_NEAR(x.Mp1, 0.6 * std::sin(2.0 * kPi * t / 600.0), 1e-3);
  }
}

TEST(QcMultipathTest, ArcsEndAtLossOfLockAndShortArcsAreLeftOut) {
  QcObserver observer;
  SyntheticSat sat;
  sat.Mp1Amplitude = 1.0;
  const std::vector<double> times = Times(0.0, 30.0, 45);
  for (size_t i = 0; i < times.size(); ++i) {
    GpbChannel ch = sat.At(times[i]);
    // New ambiguity with the lock reported lost at epoch 40: the 5 epochs
    // after it are too short an arc for multipath.
    if (i >= 40) ch.L1 -= 1e5;
    if (i == 40) ch.LockTime1 = 0.0;
    observer.AddEpoch(EpochAt(times[i], 1), &ch, kWeek);
  }
  QcSummary s;
  observer.Finish(&s);
  EXPECT_EQ(s.LossOfLock, 1);
  EXPECT_EQ(s.TotalSlips(), 0);  // the lost lock already ended the arc
  EXPECT_EQ(s.Mp1Count, 40);
  EXPECT_LT(s.Mp1Rms, 1.0);
}

TEST(QcSampleTest, ThinnedToABoundedCountOfEvenlySpacedEpochs) {
  QcObserver observer;
  std::vector<SyntheticSat> sats;
  for (int prn = 1; prn <= 12; ++prn) {
    SyntheticSat s;
    s.Prn = prn;
    sats.push_back(s);
  }
  Feed(observer, Times(0.0, 1.0, 3000), sats);
  QcSummary s;
  observer.Finish(&s);
  EXPECT_LE(s.Samples.size(), qc::kMaxSamples);
  EXPECT_GE(s.Samples.size(), qc::kMaxSamples / 2);
  EXPECT_EQ(s.SampleStride, 8);
  for (const qc::QcSample& x : s.Samples) {
    EXPECT_EQ(static_cast<int64_t>(x.Time - kWeek * 604800.0) % 8, 0);
  }
}

// A limit below one epoch's satellites cannot be met: thinning stops at the
// first epoch's samples instead of doubling its stride for ever.
TEST(QcSampleTest, ALimitBelowOneEpochEndsAtTheFirstEpoch) {
  qc::QcOptions options;
  options.MaxSamples = 0;
  QcObserver observer(options);
  SyntheticSat a, b;
  b.Prn = 9;
  Feed(observer, Times(0.0, 1.0, 50), {a, b});
  QcSummary s;
  observer.Finish(&s);
  ASSERT_EQ(s.Samples.size(), 2u);
  EXPECT_EQ(s.Samples[0].Time, kWeek * 604800.0);
  EXPECT_EQ(s.Samples[1].Time, kWeek * 604800.0);
  EXPECT_GE(s.SampleStride, 50);
}

}  // namespace
}  // namespace qctest
}  // namespace rawconv
