// The quality check of a real conversion (USNO, 2005-01-20, 30 s, L1/L2)
// against numbers made independently of it: the counts, completeness and
// multipath from the RINEX observation file the same call wrote, read back
// by the test's own reader, and the azimuths and elevations that RTKLIB's
// rnx2rtkp computes from the written observation and navigation files.
// The report compared is the JSON file the conversion wrote.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "api/rawconv_api.h"
#include "ephem/gps_time.h"
#include "ephem/nav3_writer.h"
#include "ephem/nav_writer.h"
#include "gpb/gpb.h"
#include "qc/mp_reference.h"
#include "qc/qc.h"
#include "qc_json.h"
#include "support/real_data.h"
#include "support/rinex_nav.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"
#include "support/scratch_dir.h"

namespace rawconv {
namespace qctest {
namespace {

namespace fs = std::filesystem;
using rnxtest::RinexObsEpoch;
using rnxtest::RinexObsFile;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Continuous GPS seconds of a calendar date (GPS time), counted in days
// from 1980-01-06 by the civil-from-days rule.
double GpsSecondsOf(int year, int month, int day, int hour, int minute, double second) {
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days_since_1970 = static_cast<long>(era) * 146097 + doe - 719468;
  const long gps_days = days_since_1970 - 3657;  // 1980-01-06
  return gps_days * 86400.0 + hour * 3600.0 + minute * 60.0 + second;
}

double EpochSeconds(const RinexObsEpoch& e) {
  return GpsSecondsOf(e.Year, e.Month, e.Day, e.Hour, e.Minute, e.Second);
}

// The report's time text of an epoch.
std::string EpochText(const RinexObsEpoch& e) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%06.3f", e.Year, e.Month, e.Day, e.Hour,
                e.Minute, e.Second);
  return text;
}

// A value the file has: RINEX 2 writes a missing one blank or as 0.000
// (ours does the latter where a later type of the satellite is present).
bool Has(const rnxtest::RinexObsValue& v) { return v.Present && v.Value != 0.0; }

std::string SatName(const rnxtest::RinexSatObs& s) {
  char text[8];
  std::snprintf(text, sizeof text, "%c%02d", s.System, s.Prn);
  return text;
}

// One conversion with the check, shared by the tests of the suite.
struct WrittenDay {
  bool Ok = false;
  std::string Error;
  std::string Dir, Gpb, Epp;
  RinexObsFile Obs;     // the observation file written
  std::string ObsPath, NavPath;
  Json Report;          // its .qc.json
};

WrittenDay* ConvertRealDay() {
  std::unique_ptr<WrittenDay> day(new WrittenDay);
  day->Dir = testsupport::MakeScratchDir("rawconv_qc_written");
  if (day->Dir.empty()) {
    day->Error = "no scratch folder";
    return day.release();
  }
  day->Gpb = day->Dir + "/usno.gpb";
  day->Epp = day->Dir + "/usno.epp";
  rnxtest::RnxToGpbOptions to_gpb;
  rnxtest::RnxToGpbSummary summary;
  if (!rnxtest::ConvertRinexObsFileToGpb(realdata::DataPath("usno0200.05o"), day->Gpb, to_gpb, &summary,
                                         &day->Error) ||
      !rinexnav::ConvertNavToEpp(realdata::DataPath("brdc0200.05n"), day->Epp, day->Error)) {
    return day.release();
  }
  rawconv_session* session = rawconv_session_new();
  rawconv_options options;
  rawconv_report report;
  rawconv_options_init(&options);
  rawconv_report_init(&report);
  options.gpb_path = day->Gpb.c_str();
  options.qc = RAWCONV_QC_WITH;
  const int result = rawconv_convert(session, &options, &report);
  rawconv_session_free(session);
  if (result != RAWCONV_OK) {
    day->Error = std::string("conversion failed: ") + report.error;
    return day.release();
  }
  day->ObsPath = report.obs_path;
  day->NavPath = report.nav_path;
  if (!rnxtest::ReadRinexObsFile(day->ObsPath, &day->Obs, &day->Error)) return day.release();
  if (!ParseJson(ReadText(report.qc_json_path), &day->Report, &day->Error)) {
    day->Error = std::string(report.qc_json_path) + ": " + day->Error;
    return day.release();
  }
  day->Ok = true;
  return day.release();
}

class QcWrittenFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (day_ == nullptr) day_ = ConvertRealDay();
  }
  static void TearDownTestSuite() {
    if (day_ != nullptr && !day_->Dir.empty()) fs::remove_all(day_->Dir);
    delete day_;
    day_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(day_->Ok) << day_->Error; }

  // The observation epochs of the written file (events left out).
  static std::vector<const RinexObsEpoch*> Epochs() {
    std::vector<const RinexObsEpoch*> epochs;
    for (const RinexObsEpoch& e : day_->Obs.Epochs) {
      if (!e.IsEvent()) epochs.push_back(&e);
    }
    return epochs;
  }
  static WrittenDay* day_;
};
WrittenDay* QcWrittenFilesTest::day_ = nullptr;

TEST_F(QcWrittenFilesTest, EpochsGapsAndCompletenessAgreeWithTheWrittenFile) {
  const std::vector<const RinexObsEpoch*> epochs = Epochs();
  ASSERT_GT(epochs.size(), 2000u);
  std::map<long long, int64_t> steps;  // step in ms -> count
  for (size_t i = 1; i < epochs.size(); ++i) {
    ++steps[std::llround(1000.0 * (EpochSeconds(*epochs[i]) - EpochSeconds(*epochs[i - 1])))];
  }
  long long interval_ms = 0;
  int64_t most = 0;
  for (const auto& s : steps) {
    if (s.second > most) {
      most = s.second;
      interval_ms = s.first;
    }
  }
  const double interval = interval_ms / 1000.0;
  const double span = EpochSeconds(*epochs.back()) - EpochSeconds(*epochs.front());
  const int64_t expected = std::llround(span / interval) + 1;
  int64_t gaps = 0;
  for (const auto& s : steps) gaps += s.first > 1.5 * interval_ms ? s.second : 0;

  const Json& time = day_->Report["time"];
  EXPECT_EQ(time["first"].Text, EpochText(*epochs.front()));
  EXPECT_EQ(time["last"].Text, EpochText(*epochs.back()));
  EXPECT_DOUBLE_EQ(time["interval_s"].Number, interval);
  EXPECT_EQ(time["epochs_present"].Number, static_cast<double>(epochs.size()));
  EXPECT_EQ(time["epochs_expected"].Number, static_cast<double>(expected));
  EXPECT_EQ(time["gap_count"].Number, static_cast<double>(gaps));
  EXPECT_EQ(time["gaps"].Items.size(), static_cast<size_t>(gaps));
  EXPECT_NEAR(time["completeness_percent"].Number, 100.0 * epochs.size() / expected, 1e-4);
  // The header's interval says the same.
  EXPECT_DOUBLE_EQ(day_->Obs.Header.Interval, interval);
}

TEST_F(QcWrittenFilesTest, ObservationAndLossOfLockCountsAgreeWithTheWrittenFile) {
  const rnxtest::RinexObsHeader& h = day_->Obs.Header;
  const char* const names[] = {"C1", "L1", "L2", "P1", "P2", "D1", "S1", "S2"};
  struct Counts {
    int64_t Epochs = 0, Lli = 0;
    int64_t Obs[8] = {};
  };
  std::map<std::string, Counts> per_sat;
  Counts total;
  const int l1 = h.TypeIndex("L1"), l2 = h.TypeIndex("L2");
  ASSERT_GE(l1, 0);
  ASSERT_GE(l2, 0);
  for (const RinexObsEpoch* e : Epochs()) {
    for (const rnxtest::RinexSatObs& sat : e->Sats) {
      Counts& c = per_sat[SatName(sat)];
      ++c.Epochs;
      for (int k = 0; k < 8; ++k) {
        const int i = h.TypeIndex(names[k]);
        if (i >= 0 && static_cast<size_t>(i) < sat.Values.size() && Has(sat.Values[i])) {
          ++c.Obs[k];
          ++total.Obs[k];
        }
      }
      bool lost = false;
      for (int i : {l1, l2}) {
        const rnxtest::RinexObsValue& v = sat.Values[static_cast<size_t>(i)];
        lost = lost || (Has(v) && v.Lli > 0 && (v.Lli & 1));
      }
      c.Lli += lost;
      total.Lli += lost;
    }
  }
  const Json& r = day_->Report;
  EXPECT_EQ(r["satellite_count"].Number, static_cast<double>(per_sat.size()));
  for (int k = 0; k < 8; ++k) EXPECT_EQ(r["observations"][names[k]].Number, total.Obs[k]) << names[k];
  EXPECT_EQ(r["loss_of_lock"].Number, static_cast<double>(total.Lli));
  ASSERT_EQ(r["satellites"].Items.size(), per_sat.size());
  for (const Json& sat : r["satellites"].Items) {
    const std::string name = sat["sat"].Text;
    SCOPED_TRACE(name);
    ASSERT_EQ(per_sat.count(name), 1u);
    const Counts& c = per_sat[name];
    EXPECT_EQ(sat["epochs"].Number, static_cast<double>(c.Epochs));
    for (int k = 0; k < 8; ++k) EXPECT_EQ(sat["observations"][names[k]].Number, c.Obs[k]) << names[k];
    EXPECT_EQ(sat["loss_of_lock"].Number, static_cast<double>(c.Lli));
  }
  // A real day: both frequencies nearly everywhere, some lost locks.
  EXPECT_GT(total.Obs[2], total.Obs[1] * 9 / 10);
  EXPECT_GT(total.Lli, 0);
}

// MP1 and MP2 made again the plain way from the written file: whole arcs in
// memory, cut where a phase reports lost lock, at a slip of the report's
// list, or after five minutes without the satellite; arcs under ten values
// left out; RMS about each arc's mean.
TEST_F(QcWrittenFilesTest, MultipathAgreesWithAPlainReimplementation) {
  const rnxtest::RinexObsHeader& h = day_->Obs.Header;
  const qctest::MpTypeIndex types{h.TypeIndex("L1"), h.TypeIndex("L2"), h.TypeIndex("P1"),
                                  h.TypeIndex("C1"), h.TypeIndex("P2")};
  ASSERT_TRUE(types.L1 >= 0 && types.L2 >= 0 && types.P1 >= 0 && types.C1 >= 0 && types.P2 >= 0);
  std::set<std::pair<std::string, std::string>> slips;
  for (const Json& slip : day_->Report["slips"]["list"].Items) slips.insert({slip["sat"].Text, slip["time"].Text});
  ASSERT_EQ(slips.size(), static_cast<size_t>(day_->Report["slips"]["total"].Number));

  std::map<std::string, qctest::MpArcs> arcs;
  for (const RinexObsEpoch* e : Epochs()) {
    const double t = EpochSeconds(*e);
    const std::string when = EpochText(*e);
    for (const rnxtest::RinexSatObs& sat : e->Sats) {
      if (sat.System != 'G') continue;
      arcs[SatName(sat)].Feed(t, sat.Values, types, slips.count({SatName(sat), when}) > 0, Has);
    }
  }
  const qctest::MpTotals total = qctest::CloseAll(arcs);
  const double dev1 = total.dev1, dev2 = total.dev2;
  const int64_t n1 = total.n1, n2 = total.n2;
  ASSERT_GT(n1, 10000);
  const Json& mp = day_->Report["multipath"];
  EXPECT_EQ(mp["mp1_count"].Number, static_cast<double>(n1));
  EXPECT_EQ(mp["mp2_count"].Number, static_cast<double>(n2));
  // The report prints six significant digits.
  EXPECT_NEAR(mp["mp1_rms_m"].Number, std::sqrt(dev1 / n1), 1e-5);
  EXPECT_NEAR(mp["mp2_rms_m"].Number, std::sqrt(dev2 / n2), 1e-5);
  int compared = 0;
  for (const Json& sat : day_->Report["satellites"].Items) {
    const qctest::MpArcs& x = arcs[sat["sat"].Text];
    if (x.n1 == 0) {
      EXPECT_TRUE(sat["mp1_rms_m"].IsNull()) << sat["sat"].Text;
      continue;
    }
    EXPECT_NEAR(sat["mp1_rms_m"].Number, std::sqrt(x.dev1 / x.n1), 1e-5) << sat["sat"].Text;
    EXPECT_NEAR(sat["mp2_rms_m"].Number, std::sqrt(x.dev2 / x.n2), 1e-5) << sat["sat"].Text;
    ++compared;
  }
  EXPECT_GT(compared, 20);
}

// Azimuth and elevation of every observation, as the check computes them
// from the EPP ephemerides and the position in the written header, against
// rnx2rtkp's solution status ($SAT lines: week, time of week, satellite,
// frequency, azimuth, elevation in tenths of a degree) of a single-point
// solution on the written observation and navigation files.
TEST_F(QcWrittenFilesTest, AzimuthElevationAgreeWithRnx2rtkp) {
  if (!realdata::HasProgram("rnx2rtkp")) GTEST_SKIP() << "rnx2rtkp (Debian package rtklib) not on the PATH";
  const std::string options = day_->Dir + "/single.conf", solution = day_->Dir + "/single.pos";
  {
    std::ofstream conf(options);
    conf << "pos1-posmode =single\npos1-elmask =0\nout-solstat =residual\n";
  }
  // -y 2: the residual-level status file, solution.stat.
  const std::string command = "rnx2rtkp -k '" + options + "' -y 2 -p 0 -o '" + solution + "' '" + day_->ObsPath +
                              "' '" + day_->NavPath + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream stat(solution + ".stat");
  ASSERT_TRUE(stat.good()) << solution << ".stat";

  // The check's own angles, every satellite-epoch kept.
  qc::QcOptions all;
  all.MaxSamples = SIZE_MAX;
  qc::QcObserver observer(all);
  std::vector<EphemerisRecord> records;
  std::string error;
  ASSERT_TRUE(qc::LoadEphemerides(day_->Epp.c_str(), &records, &error)) << error;
  ASSERT_FALSE(records.empty());
  observer.SetEphemerides(records);
  const rnxtest::RinexObsHeader& h = day_->Obs.Header;
  ASSERT_TRUE(h.HasApproxPosition);
  qc::Vec3 position;
  position.X = h.ApproxX;
  position.Y = h.ApproxY;
  position.Z = h.ApproxZ;
  observer.SetPosition(position);
  GpbClass gpb;
  ASSERT_EQ(gpb.OpenGpbFile(day_->Gpb.c_str(), 4096), 0) << gpb.ErrorText();
  GpbEpoch epoch{};
  GpbChannel channels[kMaxChannels];
  while (gpb.ReadGpbEpoch(&epoch, channels) == 0) {
    observer.AddEpoch(epoch, channels, ResolveGpsWeek(records.front().Week, records.front().Toe, epoch.RcvTime));
  }
  gpb.CloseGpbFile();
  qc::QcSummary summary;
  observer.Finish(&summary);
  std::map<std::pair<int, long long>, const qc::QcSample*> ours;
  for (const qc::QcSample& x : summary.Samples) ours[{x.Prn, std::llround(x.Time * 1000.0)}] = &x;
  ASSERT_EQ(static_cast<int64_t>(ours.size()), summary.WithAzEl + summary.WithoutEphemeris);

  std::string line;
  int64_t lines = 0, matched = 0;
  double worst_az = 0.0, worst_el = 0.0;
  while (std::getline(stat, line)) {
    if (line.rfind("$SAT,", 0) != 0) continue;
    int week = 0, prn = 0, frequency = 0;
    double tow = 0, az = 0, el = 0;
    char system = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "$SAT,%d,%lf,%c%d,%d,%lf,%lf", &week, &tow, &system, &prn, &frequency, &az,
                          &el),
              7)
        << line;
    if (system != 'G') continue;
    ++lines;
    const auto it = ours.find({prn, std::llround((week * 604800.0 + tow) * 1000.0)});
    if (it == ours.end()) {
      ADD_FAILURE() << "no azimuth/elevation of the check for " << line;
      continue;
    }
    ++matched;
    const double daz = std::fabs(std::remainder(it->second->Azimuth - az, 360.0));
    const double del = std::fabs(it->second->Elevation - el);
    worst_az = std::max(worst_az, daz);
    worst_el = std::max(worst_el, del);
    EXPECT_LE(daz, 0.1) << line << ": ours " << it->second->Azimuth;
    EXPECT_LE(del, 0.1) << line << ": ours " << it->second->Elevation;
  }
  std::printf("rnx2rtkp: %lld satellite-epochs compared, worst azimuth %.3f, elevation %.3f deg\n",
              static_cast<long long>(matched), worst_az, worst_el);
  // rnx2rtkp leaves out epochs without a solution only: nearly every GPS
  // observation is compared.
  EXPECT_EQ(matched, lines);
  EXPECT_GT(matched, summary.WithAzEl * 9 / 10);
  // The count below the mask is the count of angles below it.
  int64_t low = 0;
  for (const qc::QcSample& x : summary.Samples) low += x.Elevation < summary.ElevationMask;
  EXPECT_EQ(low, summary.BelowMask);
  EXPECT_EQ(day_->Report["geometry"]["below_mask"].Number, static_cast<double>(summary.BelowMask));
  EXPECT_EQ(day_->Report["geometry"]["with_azel"].Number, static_cast<double>(summary.WithAzEl));
}

// The conversion hands the check the records its navigation step read: both
// navigation writers give every record of the file, as the check's own
// reader does.
TEST(QcEphemeridesTest, NavigationWritersKeepWhatTheyRead) {
  const std::string epp = ::testing::TempDir() + "qc_keep_" + std::to_string(getpid()) + ".epp";
  std::string error;
  ASSERT_TRUE(rinexnav::ConvertNavToEpp(realdata::DataPath("brdc0200.05n"), epp, error)) << error;
  std::vector<EphemerisRecord> read;
  ASSERT_TRUE(qc::LoadEphemerides(epp.c_str(), &read, &error)) << error;
  ASSERT_GT(read.size(), 100u);
  class Discard final : public Sink {
   public:
    bool Write(const char*, size_t) override { return true; }
    bool Finish() override { return true; }
    void Abort() override {}
  } discard;
  for (int version : {2, 3}) {
    SCOPED_TRACE(version);
    std::FILE* f = std::fopen(epp.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::vector<EphemerisRecord> kept;
    EXPECT_EQ(version == 2 ? ConvertEppToNav(f, discard, 2, &kept) : ConvertEppToNav3(f, discard, 304, &kept), 0);
    std::fclose(f);
    ASSERT_EQ(kept.size(), read.size());
    for (size_t i = 0; i < kept.size(); ++i) {
      const EphemerisRecord& a = kept[i];
      const EphemerisRecord& b = read[i];
      const bool same_ints = a.Prn == b.Prn && a.Week == b.Week && a.Extra == b.Extra && a.Iodc == b.Iodc &&
                             a.Toc == b.Toc && a.Iode == b.Iode && a.Toe == b.Toe;
      const double x[] = {a.Tgd, a.Af2, a.Af1, a.Af0, a.DeltaN, a.M0, a.Ecc, a.SqrtA, a.Cic, a.Crc, a.Cis,
                          a.Crs, a.Cuc, a.Cus, a.Omega0, a.Omega, a.I0, a.OmegaDot, a.Idot};
      const double y[] = {b.Tgd, b.Af2, b.Af1, b.Af0, b.DeltaN, b.M0, b.Ecc, b.SqrtA, b.Cic, b.Crc, b.Cis,
                          b.Crs, b.Cuc, b.Cus, b.Omega0, b.Omega, b.I0, b.OmegaDot, b.Idot};
      EXPECT_TRUE(same_ints && std::memcmp(x, y, sizeof x) == 0) << "record " << i;
    }
  }
  std::remove(epp.c_str());
}

}  // namespace
}  // namespace qctest
}  // namespace rawconv
