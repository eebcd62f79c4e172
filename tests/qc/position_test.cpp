// The position from the data: the robust mean on numbers made for it, the
// single-point solver on a real day (USNO, 2005-01-20, whose header holds
// the station's surveyed position) with faults put into its epochs, and the
// station comparisons with their thresholds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "gpb/gpb.h"
#include "obs/obs_writer.h"
#include "qc/metadata.h"
#include "qc/position.h"
#include "qc/qc.h"
#include "support/real_data.h"
#include "support/rinex_nav.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace qc {
namespace {

Vec3 At(double x, double y, double z) {
  Vec3 p;
  p.X = x;
  p.Y = y;
  p.Z = z;
  return p;
}

double Distance(const Vec3& a, const Vec3& b) {
  return std::sqrt((a.X - b.X) * (a.X - b.X) + (a.Y - b.Y) * (a.Y - b.Y) + (a.Z - b.Z) * (a.Z - b.Z));
}

// A point north, east and up of p (metres).
Vec3 Moved(const Vec3& p, double north, double east, double up) {
  double lat = 0.0, lon = 0.0, h = 0.0;
  EcefToGeodetic(p, &lat, &lon, &h);
  const double sl = std::sin(lat / kDegPerRad), cl = std::cos(lat / kDegPerRad);
  const double so = std::sin(lon / kDegPerRad), co = std::cos(lon / kDegPerRad);
  return At(p.X - sl * co * north - so * east + cl * co * up, p.Y - sl * so * north + co * east + cl * so * up,
            p.Z + cl * north + sl * up);
}

const Vec3 kUsno = At(1112189.9031, -4842955.0319, 3985352.2376);

TEST(RobustMeanTest, LeavesOutlyingEpochsAndGivesTheSpreadOfTheRest) {
  // A grid of 216 epochs over +-1 m in X, +-0.5 m in Y, +-2 m in Z around
  // the station, and ten wild ones 80 m off in Z: the mean stays on the
  // station, the spread is that of the grid.
  std::vector<Vec3> points;
  const double steps[6] = {-1.0, -0.6, -0.2, 0.2, 0.6, 1.0};
  for (double x : steps)
    for (double y : steps)
      for (double z : steps) points.push_back(At(kUsno.X + x, kUsno.Y + 0.5 * y, kUsno.Z + 2.0 * z));
  for (int i = 0; i < 10; ++i) points.push_back(At(kUsno.X + 1.0, kUsno.Y, kUsno.Z + 80.0 + i));
  const RobustMeanResult r = RobustMean(points);
  ASSERT_TRUE(r.Valid);
  EXPECT_EQ(r.Used, 216u);
  EXPECT_LT(Distance(r.Mean, kUsno), 1e-6);
  // The 3D RMS does not depend on the frame: the grid's variances
  // (0.56 m^2 per unit of step, n - 1 = 215) in X, Y, Z add up to it.
  const double unit = 36.0 * (1.0 + 0.36 + 0.04) * 2.0 / 215.0;
  EXPECT_NEAR(r.Rms3d * r.Rms3d, unit * (1.0 + 0.25 + 4.0), 1e-6);
  EXPECT_NEAR(r.Rms3d * r.Rms3d,
              r.SigmaNorth * r.SigmaNorth + r.SigmaEast * r.SigmaEast + r.SigmaUp * r.SigmaUp, 1e-9);
  // Z of this station is mostly north and up.
  EXPECT_LT(r.SigmaEast, r.SigmaNorth);
  // The plain mean would be metres off.
  Vec3 plain;
  for (const Vec3& p : points) {
    plain.X += p.X / points.size();
    plain.Y += p.Y / points.size();
    plain.Z += p.Z / points.size();
  }
  EXPECT_GT(Distance(plain, kUsno), 3.0);
}

TEST(RobustMeanTest, EqualEpochsAndNone) {
  const RobustMeanResult same = RobustMean(std::vector<Vec3>(5, kUsno));
  ASSERT_TRUE(same.Valid);
  EXPECT_EQ(same.Used, 5u);
  EXPECT_EQ(same.Rms3d, 0.0);
  EXPECT_LT(Distance(same.Mean, kUsno), 1e-6);
  const RobustMeanResult one = RobustMean({kUsno});
  EXPECT_TRUE(one.Valid);
  EXPECT_EQ(one.Rms3d, 0.0);
  EXPECT_FALSE(RobustMean({}).Valid);
}

TEST(PositionModelTest, TroposphereAndSatelliteClock) {
  // Saastamoinen at sea level in the zenith: 2.3 m dry and 0.1 to 0.2 m
  // wet; about 1 / sin(elevation) times that lower down.
  const double zenith = TroposphereDelay(0.0, 90.0 / kDegPerRad);
  EXPECT_NEAR(zenith, 2.45, 0.1);
  EXPECT_NEAR(TroposphereDelay(0.0, 30.0 / kDegPerRad), 2.0 * zenith, 1e-9);
  EXPECT_LT(TroposphereDelay(2000.0, 90.0 / kDegPerRad), zenith * 0.85);
  EXPECT_EQ(TroposphereDelay(0.0, -1.0 / kDegPerRad), 0.0);
  EXPECT_EQ(TroposphereDelay(20000.0, 1.0), 0.0);
  EphemerisRecord e{};
  e.Toe = 7200;
  e.Toc = 7200;
  e.Af0 = 1e-4;
  e.Af1 = 1e-11;
  e.Af2 = 1e-18;
  const double toe = 1306 * 604800.0 + 7200;
  EXPECT_DOUBLE_EQ(SatelliteClock(e, toe, toe + 100), 1e-4 + 1e-9 + 1e-14);
  // toc on the other side of a week's end than toe.
  e.Toc = 604000;
  EXPECT_NEAR(SatelliteClock(e, toe, toe), 1e-4 + 1e-11 * 8000 + 1e-18 * 8000 * 8000, 1e-15);
}

// The real day's epochs in memory, with the ephemerides of its navigation
// file.
struct RealEpochs {
  std::string Error;
  std::vector<EphemerisRecord> Ephemerides;
  std::vector<GpbEpoch> Epochs;
  std::vector<std::vector<GpbChannel>> Channels;
  int Week = 0;
};

const RealEpochs& Usno() {
  static const RealEpochs* day = [] {
    RealEpochs* d = new RealEpochs;
    rinexnav::NavFile nav;
    if (!rinexnav::ReadNavFile(realdata::DataPath("brdc0200.05n"), nav, d->Error)) return d;
    for (const rinexnav::NavRecord& r : nav.Records) d->Ephemerides.push_back(rinexnav::ToEphemerisRecord(r));
    const std::string gpb = ::testing::TempDir() + "position_usno_" + std::to_string(getpid()) + ".gpb";
    rnxtest::RnxToGpbSummary summary;
    if (!rnxtest::ConvertRinexObsFileToGpb(realdata::DataPath("usno0200.05o"), gpb, {}, &summary, &d->Error))
      return d;
    GpbClass reader;
    if (reader.OpenGpbFile(gpb.c_str(), 4096) != 0) {
      d->Error = reader.ErrorText();
      return d;
    }
    GpbEpoch epoch{};
    GpbChannel channels[kMaxChannels];
    while (reader.ReadGpbEpoch(&epoch, channels) == 0) {
      d->Epochs.push_back(epoch);
      d->Channels.emplace_back(channels, channels + std::min<int>(epoch.NumChannels, kMaxChannels));
    }
    reader.CloseGpbFile();
    std::remove(gpb.c_str());
    d->Week = 1306;
    return d;
  }();
  return *day;
}

class PositionSolverTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Usno().Error.empty()) << Usno().Error;
    ASSERT_EQ(Usno().Epochs.size(), 2880u);
  }
  static bool Solve(PositionSolver& solver, const GpbEpoch& epoch, const std::vector<GpbChannel>& channels,
                    EpochSolution* out) {
    GpbEpoch e = epoch;
    e.NumChannels = static_cast<int16_t>(channels.size());
    return solver.SolveEpoch(e, channels.data(), Usno().Week, out);
  }
};

TEST_F(PositionSolverTest, FindsTheSurveyedStationFromAWholeDay) {
  PositionSolver solver(kDefaultElevationMask);
  solver.SetEphemerides(Usno().Ephemerides);
  for (size_t i = 0; i < Usno().Epochs.size(); ++i) {
    const GpbChannel* ch = Usno().Channels[i].data();
    solver.AddEpoch(Usno().Epochs[i], ch, Usno().Week);
  }
  const DataPosition d = solver.Result();
  ASSERT_TRUE(d.Valid) << d.Reason;
  EXPECT_EQ(d.EpochsTried, 2880);
  EXPECT_EQ(d.EpochsSolved, 2880);
  EXPECT_EQ(d.IonoFreeEpochs, 2880);
  EXPECT_EQ(d.Stride, 1);
  EXPECT_GT(d.EpochsUsed, 2500);
  // The IGS position of the header: within a metre, spread of metres.
  EXPECT_LT(Distance(d.Mean, kUsno), 1.0);
  EXPECT_LT(d.Rms3d, 5.0);
  EXPECT_GT(d.Rms3d, 0.3);
  double lat = 0.0, lon = 0.0, h = 0.0;
  EcefToGeodetic(d.Mean, &lat, &lon, &h);
  EXPECT_DOUBLE_EQ(d.Latitude, lat);
  EXPECT_DOUBLE_EQ(d.Height, h);
}

TEST_F(PositionSolverTest, DropsTheSatelliteWithAFaultyCode) {
  PositionSolver solver(kDefaultElevationMask);
  solver.SetEphemerides(Usno().Ephemerides);
  const size_t k = 1000;
  EpochSolution clean;
  ASSERT_TRUE(Solve(solver, Usno().Epochs[k], Usno().Channels[k], &clean));
  EXPECT_EQ(clean.Dropped, 0);
  EXPECT_TRUE(clean.IonoFree);
  EXPECT_LT(Distance(clean.Position, kUsno), 10.0);
  ASSERT_GE(clean.Satellites, 6);
  // 60 m on one satellite's codes: found and left out, the rest solve as
  // the epoch without it. A satellite below the mask is not used either
  // way.
  int dropped = 0;
  for (size_t i = 0; i < Usno().Channels[k].size(); ++i) {
    std::vector<GpbChannel> faulty = Usno().Channels[k];
    faulty[i].C1 += 60.0;
    faulty[i].P1 += 60.0;
    faulty[i].P2 += 60.0;
    EpochSolution fixed;
    ASSERT_TRUE(Solve(solver, Usno().Epochs[k], faulty, &fixed));
    if (fixed.Dropped == 0) {
      EXPECT_EQ(fixed.Satellites, clean.Satellites);
      EXPECT_LT(Distance(fixed.Position, clean.Position), 1e-4);
      continue;
    }
    ++dropped;
    EXPECT_EQ(fixed.Dropped, 1);
    EXPECT_EQ(fixed.Satellites, clean.Satellites - 1);
    // The very satellite: the same as the epoch without it.
    std::vector<GpbChannel> without = Usno().Channels[k];
    without.erase(without.begin() + static_cast<std::ptrdiff_t>(i));
    EpochSolution reference;
    ASSERT_TRUE(Solve(solver, Usno().Epochs[k], without, &reference));
    EXPECT_LT(Distance(fixed.Position, reference.Position), 0.01) << i;
    EXPECT_LT(Distance(fixed.Position, clean.Position), 10.0);
  }
  EXPECT_EQ(dropped, clean.Satellites);
}

TEST_F(PositionSolverTest, SingleFrequencyCodesWithoutL2) {
  PositionSolver solver(kDefaultElevationMask);
  solver.SetEphemerides(Usno().Ephemerides);
  int solved = 0;
  for (size_t k = 0; k < Usno().Epochs.size(); k += 97) {
    std::vector<GpbChannel> l1 = Usno().Channels[k];
    for (GpbChannel& ch : l1) ch.ObsMask &= ~(kObsP2 | kObsL2);
    EpochSolution s;
    if (!Solve(solver, Usno().Epochs[k], l1, &s)) continue;
    ++solved;
    EXPECT_FALSE(s.IonoFree);
    // No ionosphere model: tens of metres at worst in 2005, not hundreds.
    EXPECT_LT(Distance(s.Position, kUsno), 40.0) << k;
  }
  EXPECT_GT(solved, 25);
}

TEST_F(PositionSolverTest, NoSolutionBelowFourGpsSatellitesOrWithoutEphemerides) {
  const size_t k = 500;
  std::vector<GpbChannel> three(Usno().Channels[k].begin(), Usno().Channels[k].begin() + 3);
  // GLONASS channels count for nothing.
  for (int i = 0; i < 3; ++i) {
    GpbChannel r = three[static_cast<size_t>(i)];
    r.Prn = 40 + i;
    three.push_back(r);
  }
  PositionSolver solver(kDefaultElevationMask);
  solver.SetEphemerides(Usno().Ephemerides);
  EpochSolution s;
  EXPECT_FALSE(Solve(solver, Usno().Epochs[k], three, &s));

  PositionSolver none(kDefaultElevationMask);
  for (size_t i = 0; i < 10; ++i) none.AddEpoch(Usno().Epochs[i], Usno().Channels[i].data(), Usno().Week);
  EXPECT_FALSE(none.Result().Valid);
  EXPECT_EQ(none.Result().Reason, "no ephemerides");
  // Ephemerides of another day: none within two hours of the epochs.
  std::vector<EphemerisRecord> old = Usno().Ephemerides;
  for (EphemerisRecord& e : old) e.Toe -= 86400;
  PositionSolver stale(kDefaultElevationMask);
  stale.SetEphemerides(old);
  for (size_t i = 0; i < 10; ++i) stale.AddEpoch(Usno().Epochs[i], Usno().Channels[i].data(), Usno().Week);
  EXPECT_FALSE(stale.Result().Valid);
  EXPECT_EQ(stale.Result().EpochsTried, 10);
  EXPECT_NE(stale.Result().Reason.find("no epoch has a solution"), std::string::npos);
}

TEST_F(PositionSolverTest, ThinsTheSolvedEpochsPastItsLimit) {
  PositionSolver solver(kDefaultElevationMask, 100);
  solver.SetEphemerides(Usno().Ephemerides);
  for (size_t i = 0; i < Usno().Epochs.size(); ++i)
    solver.AddEpoch(Usno().Epochs[i], Usno().Channels[i].data(), Usno().Week);
  const DataPosition d = solver.Result();
  ASSERT_TRUE(d.Valid);
  // 2880 epochs: 100 kept at most, every 32nd epoch.
  EXPECT_EQ(d.Stride, 32);
  EXPECT_EQ(d.EpochsSolved, 90);
  EXPECT_EQ(d.EpochsTried, 90);
  for (const EpochSolution& s : solver.Solutions()) EXPECT_EQ(s.Epoch % 32, 0);
  EXPECT_LT(Distance(d.Mean, kUsno), 2.0);

  // 10 s data: the first 600 epochs, then one in three (30 s apart).
  PositionSolver dense(kDefaultElevationMask);
  dense.SetEphemerides(Usno().Ephemerides);
  for (int i = 0; i < 1000; ++i) {
    GpbEpoch e = Usno().Epochs[0];
    e.RcvTime += 10.0 * i;
    dense.AddEpoch(e, Usno().Channels[0].data(), Usno().Week);
  }
  EXPECT_EQ(dense.Result().EpochsTried, 600 + 133);
}

// ---- the station comparisons

QcMetadata Solved(const Vec3& data, bool iono_free) {
  QcMetadata m;
  m.HasEphemerides = true;
  m.Data.Valid = true;
  m.Data.Mean = data;
  m.Data.EpochsSolved = 100;
  m.Data.IonoFreeEpochs = iono_free ? 100 : 0;
  m.ReceiverText = "NETR9 Trimble NetR9 4.17";
  return m;
}

TEST(StationComparisonTest, PositionThresholds) {
  QcMetadata m = Solved(kUsno, true);
  m.HasHeaderPosition = true;
  m.HeaderPosition = Moved(kUsno, 10.0, -20.0, 18.0);  // 28.7 m away
  CompareMetadata(&m);
  ASSERT_TRUE(m.FromHeader.Valid);
  // Data minus header, at the header.
  EXPECT_NEAR(m.FromHeader.North, -10.0, 1e-3);
  EXPECT_NEAR(m.FromHeader.East, 20.0, 1e-3);
  EXPECT_NEAR(m.FromHeader.Up, -18.0, 1e-3);
  EXPECT_NEAR(m.FromHeader.Distance, std::sqrt(100.0 + 400.0 + 324.0), 1e-3);
  EXPECT_FALSE(m.FromHeader.Warn);
  EXPECT_TRUE(m.Warnings.empty());
  m.HeaderPosition = Moved(kUsno, 0.0, 0.0, 30.5);
  CompareMetadata(&m);
  EXPECT_TRUE(m.FromHeader.Warn);
  ASSERT_EQ(m.Warnings.size(), 1u);
  EXPECT_EQ(m.Warnings[0], "the position from the data is 30.5 m from APPROX POSITION XYZ (more than 30.0 m)");

  // The records: 5 m with both codes, 20 m with L1 alone.
  m.HeaderPosition = kUsno;
  m.Reference.Source = "site log usno00usa_20050101.log";
  m.Reference.HasPosition = true;
  const Vec3 off = Moved(kUsno, 4.9, 0.0, 0.0);
  m.Reference.Position[0] = off.X;
  m.Reference.Position[1] = off.Y;
  m.Reference.Position[2] = off.Z;
  CompareMetadata(&m);
  EXPECT_FALSE(m.FromReference.Warn);
  EXPECT_NEAR(m.FromReference.North, -4.9, 1e-3);
  const Vec3 far = Moved(kUsno, 5.1, 0.0, 0.0);
  m.Reference.Position[0] = far.X;
  m.Reference.Position[1] = far.Y;
  m.Reference.Position[2] = far.Z;
  CompareMetadata(&m);
  EXPECT_TRUE(m.FromReference.Warn);
  EXPECT_EQ(m.FromReference.Threshold, kReferencePositionWarnMetres);
  ASSERT_EQ(m.Warnings.size(), 1u);
  EXPECT_EQ(m.Warnings[0],
            "the position from the data is 5.1 m from the position of site log usno00usa_20050101.log (more than "
            "5.0 m)");
  QcMetadata single = Solved(kUsno, false);
  single.Reference = m.Reference;
  CompareMetadata(&single);
  EXPECT_FALSE(single.FromReference.Warn);
  EXPECT_EQ(single.FromReference.Threshold, kReferencePositionWarnSingleMetres);
}

TEST(StationComparisonTest, ReceiverAndAntennaTexts) {
  QcMetadata m = Solved(kUsno, true);
  m.Reference.Source = "station table net.csv line 3";
  m.Reference.ReceiverType = "TRIMBLE NETR9";
  m.Reference.ReceiverVersion = "4.17";
  m.Reference.AntennaType = "TRM57971.00     NONE";
  m.HeaderAntenna = "trm57971.00 none";
  CompareMetadata(&m);
  EXPECT_TRUE(m.ReceiverType.Compared && m.ReceiverType.Agrees);
  EXPECT_TRUE(m.ReceiverVersion.Compared && m.ReceiverVersion.Agrees);
  EXPECT_TRUE(m.AntennaType.Compared && m.AntennaType.Agrees);
  EXPECT_TRUE(m.Warnings.empty());

  m.Reference.ReceiverType = "LEICA GR25";
  m.Reference.ReceiverVersion = "4.20";
  m.HeaderAntenna = "TRM59800.00     SCIS";
  CompareMetadata(&m);
  EXPECT_FALSE(m.ReceiverType.Agrees);
  EXPECT_FALSE(m.ReceiverVersion.Agrees);  // shown, no warning
  EXPECT_FALSE(m.AntennaType.Agrees);
  ASSERT_EQ(m.Warnings.size(), 2u);
  EXPECT_EQ(m.Warnings[0], "the GPB file's receiver \"NETR9 Trimble NetR9 4.17\" is not the receiver "
                           "\"LEICA GR25\" of station table net.csv line 3");
  EXPECT_EQ(m.Warnings[1], "the header's antenna \"TRM59800.00     SCIS\" is not the antenna "
                           "\"TRM57971.00     NONE\" of station table net.csv line 3");

  // Nothing named, nothing compared; a header without an antenna neither.
  QcMetadata quiet = Solved(kUsno, true);
  quiet.Reference.AntennaType = "TRM57971.00     NONE";
  CompareMetadata(&quiet);
  EXPECT_FALSE(quiet.ReceiverType.Compared);
  EXPECT_FALSE(quiet.AntennaType.Compared);
  EXPECT_TRUE(quiet.Warnings.empty());
}

TEST(StationComparisonTest, NoPositionWarnsOnlyWhenEphemeridesWereThere) {
  QcMetadata m;
  m.Data.Reason = "no epoch has a solution (...)";
  CompareMetadata(&m);
  EXPECT_TRUE(m.Warnings.empty());
  m.HasEphemerides = true;
  CompareMetadata(&m);
  ASSERT_EQ(m.Warnings.size(), 1u);
  EXPECT_EQ(m.Warnings[0], "no position from the data: no epoch has a solution (...)");
}

}  // namespace
}  // namespace qc
}  // namespace rawconv
