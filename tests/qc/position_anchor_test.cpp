// The position from the data against RTKLIB's rnx2rtkp: every real
// recording of the shared folder goes through GPB and EPP, is converted with
// the quality check, and rnx2rtkp solves the written observation and
// navigation files with the models of ours:
//   -p 0 (single point), -sys G, elevation mask 10 degrees (ours by
//   default), pos1-tropopt=saas (Saastamoinen), pos1-ionoopt=dual-freq with
//   pos1-frequency=l1+2 when the file has P2 (our ionosphere-free
//   combination), else pos1-ionoopt=off with l1 (our files carry no
//   ionosphere coefficients). Both take C1 before P1 on L1.
// A recording whose navigation file does not cover it (wsra0010: the
// ephemerides of four satellites at most for its epochs) has no solution
// from either.
// Our mean (the report's) must lie within 1 m of the same robust mean
// taken over rnx2rtkp's epoch solutions. The epochs are also compared one by
// one (matched by time), which is what tells for the moving rover.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "api/rawconv_api.h"
#include "ephem/gps_time.h"
#include "gpb/gpb.h"
#include "obs/obs_writer.h"
#include "qc/position.h"
#include "qc/qc.h"
#include "qc_json.h"
#include "support/file_bytes.h"
#include "support/outside_readers.h"
#include "support/real_data_fixture.h"

namespace rawconv {
namespace qctest {
namespace {

struct AnchorRow {
  std::string Name;
  bool IonoFree = false;
  size_t Ours = 0, Theirs = 0, Matched = 0;
  double MeanDistance = 0.0;       // our mean to the robust mean of theirs
  double PlainMeanDistance = 0.0;  // ... to their plain mean
  double EpochMedian = 0.0, EpochMax = 0.0;  // per-epoch 3D differences
};

std::vector<AnchorRow>& Table() {
  static std::vector<AnchorRow> rows;
  return rows;
}

class PositionAnchorTest : public realdata::RealDataTest<realdata::DataPair> {
 protected:
  PositionAnchorTest() : RealDataTest("rawconv_anchor", "RAWCONV_KEEP_ANCHOR") {}

  static void TearDownTestSuite() {
    if (Table().empty()) return;
    std::printf("\n%-22s %-5s %6s %6s %6s %9s %9s %9s %9s\n", "recording", "model", "ours", "rtklib",
                "paired", "mean d/m", "plain d/m", "epoch med", "epoch max");
    for (const AnchorRow& r : Table()) {
      std::printf("%-22s %-5s %6zu %6zu %6zu %9.3f %9.3f %9.3f %9.3f\n", r.Name.c_str(),
                  r.IonoFree ? "IF" : "L1", r.Ours, r.Theirs, r.Matched, r.MeanDistance, r.PlainMeanDistance,
                  r.EpochMedian, r.EpochMax);
    }
  }
};

double Distance(const qc::Vec3& a, const qc::Vec3& b) {
  return std::sqrt((a.X - b.X) * (a.X - b.X) + (a.Y - b.Y) * (a.Y - b.Y) + (a.Z - b.Z) * (a.Z - b.Z));
}

TEST_P(PositionAnchorTest, MeanWithinOneMetreOfRnx2rtkp) {
  if (!realdata::HasProgram("rnx2rtkp")) {
    if (outside::Required()) FAIL() << "rnx2rtkp (Debian package rtklib) not on the PATH";
    GTEST_SKIP() << "rnx2rtkp (Debian package rtklib) not on the PATH";
  }
  const realdata::DataPair pair = GetParam();
  rnxtest::RinexObsFile original;
  MakeGpbInput(pair, "rec", &original);
  if (HasFailure()) return;
  const bool dual = original.Header.TypeIndex("P2") >= 0;

  // Our conversion with the check: the report's position.
  rawconv_session* session = rawconv_session_new();
  rawconv_options options;
  rawconv_report report;
  rawconv_options_init(&options);
  rawconv_report_init(&report);
  const std::string gpb = Path("rec.gpb"), epp = Path("rec.epp");
  options.gpb_path = gpb.c_str();
  options.qc = RAWCONV_QC_WITH;
  options.single_thread = 1;
  options.no_sync = 1;
  const int result = rawconv_convert(session, &options, &report);
  rawconv_session_free(session);
  ASSERT_EQ(result, RAWCONV_OK) << report.error;
  Json json;
  std::string error;
  ASSERT_TRUE(ParseJson(testio::ReadBytes(report.qc_json_path), &json, &error)) << error;
  const Json& data = json["metadata"]["data_position"];
  if (data["ecef_m"].IsNull() && data["epochs_solved"].Number == 0) {
    // No solution of ours: rnx2rtkp must find none either.
    const std::string conf = Path("none.conf"), pos = Path("none.pos");
    testio::WriteBytes(conf, "pos1-posmode =single\npos1-elmask =10\npos1-tropopt =saas\n");
    const std::string command = "rnx2rtkp -k '" + conf + "' -p 0 -sys G -o '" + pos + "' '" + report.obs_path +
                                "' '" + report.nav_path + "' >/dev/null 2>&1";
    std::system(command.c_str());
    const std::string text = testio::ReadBytes(pos);
    size_t solutions = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) solutions += !line.empty() && line[0] != '%';
    EXPECT_EQ(solutions, 0u) << "rnx2rtkp solves what we do not: " << data["reason"].Text;
    AnchorRow row;
    row.Name = std::string(pair.Obs) + " (none)";
    Table().push_back(row);
    return;
  }
  ASSERT_EQ(data["ecef_m"].Type, Json::kArray) << "no position from the data in " << report.qc_json_path << ": "
                                                << data["reason"].Text;
  ASSERT_EQ(data["ecef_m"].Items.size(), 3u);
  qc::Vec3 ours;
  ours.X = data["ecef_m"].Items[0].Number;
  ours.Y = data["ecef_m"].Items[1].Number;
  ours.Z = data["ecef_m"].Items[2].Number;

  // Our epoch solutions, the same solver over the same input.
  std::vector<EphemerisRecord> records;
  ASSERT_TRUE(qc::LoadEphemerides(epp.c_str(), &records, &error)) << error;
  qc::PositionSolver solver(qc::kDefaultElevationMask);
  solver.SetEphemerides(records);
  const WeekReference ref = LookupWeekReference(epp.c_str());
  GpbClass reader;
  ASSERT_EQ(reader.OpenGpbFile(gpb.c_str(), 4096), 0) << reader.ErrorText();
  GpbEpoch epoch{};
  GpbChannel channels[kMaxChannels];
  while (reader.ReadGpbEpoch(&epoch, channels) == 0)
    solver.AddEpoch(epoch, channels, ReferenceWeekOf(ref, epoch.RcvTime));
  reader.CloseGpbFile();
  const qc::DataPosition mine = solver.Result();
  ASSERT_TRUE(mine.Valid) << mine.Reason;
  EXPECT_LT(Distance(mine.Mean, ours), 1e-3) << "the report's position is the solver's";

  // rnx2rtkp on the files the conversion wrote.
  const std::string conf = Path("single.conf"), pos = Path("single.pos");
  {
    std::ofstream out(conf);
    out << "pos1-posmode =single\n"
        << "pos1-frequency =" << (dual ? "l1+2" : "l1") << "\n"
        << "pos1-elmask =" << qc::kDefaultElevationMask << "\n"
        << "pos1-ionoopt =" << (dual ? "dual-freq" : "off") << "\n"
        << "pos1-tropopt =saas\n"
        << "pos1-navsys =1\n"
        << "out-solformat =xyz\n"
        << "out-timesys =gpst\n"
        << "out-timeform =tow\n";
  }
  const std::string command = "rnx2rtkp -k '" + conf + "' -p 0 -sys G -o '" + pos + "' '" + report.obs_path +
                              "' '" + report.nav_path + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream in(pos);
  ASSERT_TRUE(in.good()) << pos;
  std::map<long long, qc::Vec3> theirs;  // by time of week in milliseconds
  std::vector<qc::Vec3> points;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '%') continue;
    std::istringstream fields(line);
    int week = 0;
    double tow = 0.0;
    qc::Vec3 p;
    if (!(fields >> week >> tow >> p.X >> p.Y >> p.Z)) continue;
    theirs[std::llround(tow * 1000.0)] = p;
    points.push_back(p);
  }
  ASSERT_GT(points.size(), 3u) << "rnx2rtkp gave no solutions: " << command;
  const qc::RobustMeanResult robust = qc::RobustMean(points);
  ASSERT_TRUE(robust.Valid);
  qc::Vec3 plain;
  for (const qc::Vec3& p : points) {
    plain.X += p.X / static_cast<double>(points.size());
    plain.Y += p.Y / static_cast<double>(points.size());
    plain.Z += p.Z / static_cast<double>(points.size());
  }

  // Epoch by epoch.
  std::vector<double> differences;
  for (const qc::EpochSolution& s : solver.Solutions()) {
    // rnx2rtkp dates a solution by the receiver's time less its clock
    // bias: the nearest within half a second is the same epoch.
    const double tow = std::fmod(s.Time, kSecondsPerWeek) - s.ClockMetres / 299792458.0;
    const auto it = theirs.lower_bound(std::llround((tow - 0.5) * 1000.0));
    if (it != theirs.end() && std::fabs(it->first / 1000.0 - tow) < 0.5)
      differences.push_back(Distance(s.Position, it->second));
  }
  AnchorRow row;
  row.Name = pair.Obs;
  row.IonoFree = mine.IonoFreeEpochs * 2 > mine.EpochsSolved;
  row.Ours = solver.Solutions().size();
  row.Theirs = points.size();
  row.Matched = differences.size();
  row.MeanDistance = Distance(ours, robust.Mean);
  row.PlainMeanDistance = Distance(ours, plain);
  if (!differences.empty()) {
    std::sort(differences.begin(), differences.end());
    row.EpochMedian = differences[differences.size() / 2];
    row.EpochMax = differences.back();
  }
  Table().push_back(row);
  EXPECT_EQ(row.IonoFree, dual);
  EXPECT_LT(row.MeanDistance, 1.0) << pair.Obs;
  // Nearly every epoch is solved by both, and a typical epoch agrees to
  // well within a metre.
  EXPECT_GT(row.Matched, std::min(row.Ours, row.Theirs) * 9 / 10);
  EXPECT_LT(row.EpochMedian, 1.0);
}

INSTANTIATE_TEST_SUITE_P(RealData, PositionAnchorTest, testing::ValuesIn(realdata::kPairs),
                         [](const testing::TestParamInfo<realdata::DataPair>& info) {
                           std::string name = info.param.Obs;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace qctest
}  // namespace rawconv
