// What gpb2rinex writes, read back by the readers its users run. Every
// real recording of the shared data folder, turned into GPB and EPP input,
// and the example recording with its station file, are converted by the
// command-line program to every RINEX version it offers, plain, gz, crx and
// crx.gz, whole and split by the hour. Then:
// - every compressed file unpacks (gzip, the standard crx2rnx) to the text
//   of the plain file of the same version and split, apart from what the
//   Compact RINEX decoder itself respells (trailing blanks, ".123" for
//   "0.123");
// - the standard rnx2crx compresses each plain observation file, and
//   crx2rnx gives back the same text;
// - convbin reads each plain observation file with the epochs and
//   satellite records that the file holds, and its values (those RTKLIB
//   can file: a phase, Doppler or strength beside its signal's
//   pseudorange);
// - rnx2rtkp computes the same single-point positions from every version.
// The compressed cells are proven equal to their plain cell, so the
// readers of plain text run once per distinct plain file.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/obs_compare.h"
#include "support/outside_readers.h"
#include "support/real_data.h"
#include "support/real_data_fixture.h"
#include "support/rinex_nav.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;
using namespace realdata;
using outside::ObsCounts;

// The versions gpb2rinex offers, and which outside readers of plain text
// apply to each (every version goes through the Compact RINEX tools).
struct OutputVersion {
  const char* Arg;   // the value of --rinex
  bool Convbin;      // convbin reads it back
  bool Rnx2rtkp;     // rnx2rtkp computes positions from it
};
constexpr OutputVersion kVersions[] = {
    {"2.00", true, true}, {"2.10", true, true}, {"2.11", true, true},
    {"3.02", true, true}, {"3.03", true, true}, {"3.04", true, true},
    {"3.05", true, true}, {"4.00", true, true},
};

constexpr const char* kCompressions[] = {"gz", "crx", "crx.gz"};


constexpr long long kRunDate = 1133965800;  // every header's date, fixed

bool IsObservationName(const std::string& name) {
  return !name.empty() && (name.back() == 'o' || name.back() == 'O');
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The name a plain file has in a compressed cell.
std::string CompressedName(const std::string& plain, const std::string& compression) {
  std::string name = plain;
  if (compression != "gz" && IsObservationName(name)) name.back() = name.back() == 'o' ? 'd' : 'D';
  if (compression != "crx") name += ".gz";
  return name;
}


class OutsideReadersTest : public RealDataTest<DataPair> {
 protected:
  OutsideReadersTest() : RealDataTest("rawconv_outside", "KEEP_OUTSIDE_READERS") {}

  void SetUp() override {
    RealDataTest::SetUp();
    if (HasFatalFailure()) return;
    tool_ = std::string(RAWCONV_BINARY_DIR) + "/cli/gpb2rinex";
    std::string missing = outside::Missing();
    if (!fs::exists(tool_)) missing += (missing.empty() ? "" : "; ") + std::string("gpb2rinex is not built");
    if (missing.empty()) return;
    if (outside::Required()) FAIL() << missing;
    GTEST_SKIP() << missing;
  }

  // x.gpb and x.epp from the recording, and the week to name for data
  // after the last week an ephemeris reference can name. The example
  // recording (no navigation file named) comes as it is, with its EPP and
  // station file.
  void MakeInput(const DataPair& pair) {
    if (pair.Nav == nullptr) {
      const std::string example = std::string(RAWCONV_SOURCE_DIR) + "/examples/sample.";
      for (const char* ext : {"gpb", "epp", "sta"}) {
        std::error_code ec;
        fs::copy_file(example + ext, Path(std::string("x.") + ext), ec);
        ASSERT_FALSE(ec) << example << ext << ": " << ec.message();
      }
      return;
    }
    rnxtest::RinexObsFile original;
    MakeGpbInput(pair, "x", &original);
    if (HasFatalFailure()) return;
    const auto epochs = obscompare::ObservationEpochs(original);
    ASSERT_FALSE(epochs.empty());
    double day_start = 0.0;
    const int week = obscompare::FullGpsWeek(epochs.front()->Year, epochs.front()->Month,
                                             epochs.front()->Day, &day_start);
    week_ = week >= 2048 ? week : 0;
  }

  // Converts x.gpb into a folder of its own; "" when gpb2rinex fails.
  std::string Convert(const OutputVersion& v, const std::string& compression, bool split) {
    const std::string dir =
        Path(std::string("out_") + v.Arg + "_" + (compression.empty() ? "plain" : compression) +
             (split ? "_1h" : ""));
    fs::create_directories(dir);
    std::string command = "'" + tool_ + "' --rinex " + v.Arg + " --fixed-run-date " +
                          std::to_string(kRunDate) + " --epp '" + Path("x.epp") + "' -o '" + dir + "'";
    if (!compression.empty()) command += " --compress " + compression;
    if (split) command += " --split 1h";
    if (week_ > 0) command += " --week " + std::to_string(week_);
    command += " '" + Path("x.gpb") + "' > '" + Path("convert.log") + "' 2>&1";
    if (std::system(command.c_str()) != 0) {
      ADD_FAILURE() << "gpb2rinex failed: " << command << "\n" << outside::ReadText(Path("convert.log"));
      return "";
    }
    return dir;
  }

  // Each plain observation file through the standard rnx2crx and crx2rnx,
  // and read by convbin.
  void CheckPlainCell(const std::string& cell, const OutputVersion& v, const std::string& dir) {
    for (const std::string& name : FilesIn(dir)) {
      if (!IsObservationName(name)) continue;
      SCOPED_TRACE(cell + ", " + name);
      const std::string path = dir + "/" + name;
      const std::string plain = outside::ReadText(path);
      ASSERT_TRUE(outside::Rnx2Crx(path, Path("again.crx"))) << "rnx2crx refuses " << cell << " " << name;
      ASSERT_TRUE(outside::Crx2Rnx(Path("again.crx"), Path("again.rnx")));
      const std::string again = outside::FirstDifference(
          outside::RestoredShape(plain), outside::RestoredShape(outside::ReadText(Path("again.rnx"))));
      EXPECT_EQ(again, "") << cell << " " << name << ": rnx2crx and crx2rnx change the text";
      if (!v.Convbin) continue;
      ObsCounts ours, theirs;
      ASSERT_TRUE(outside::CountObservations(plain, &ours)) << cell << " " << name;
      ASSERT_TRUE(outside::RunQuiet("convbin -r rinex -od -os -o '" + Path("convbin.obs") + "' '" + path + "'"))
          << "convbin fails on " << cell << " " << name;
      ASSERT_TRUE(outside::CountObservations(outside::ReadText(Path("convbin.obs")), &theirs))
          << "convbin's copy of " << cell << " " << name;
      EXPECT_GT(ours.Values, 0) << cell << " " << name;
      // Every epoch and record; every value that RTKLIB can file by signal
      // (a few whose digits fill all 14 columns it drops as well).
      EXPECT_EQ(ours.Epochs, theirs.Epochs) << cell << " " << name;
      EXPECT_EQ(ours.Records, theirs.Records) << cell << " " << name;
      EXPECT_TRUE(theirs.Values <= ours.Values && theirs.Values >= ours.Paired - ours.Paired / 1000)
          << cell << " " << name << ": ours " << ours << ", convbin's " << theirs;
    }
  }

  // A compressed cell holds the plain cell's files, compressed, each of
  // which unpacks to the plain text.
  void CheckCompressedCell(const std::string& cell, const std::string& compression,
                           const std::string& plain_dir, const std::string& dir) {
    std::vector<std::string> want;
    std::map<std::string, std::string> plain_of;
    for (const std::string& name : FilesIn(plain_dir)) {
      want.push_back(CompressedName(name, compression));
      plain_of[want.back()] = name;
    }
    std::sort(want.begin(), want.end());
    ASSERT_EQ(FilesIn(dir), want) << cell << ": the files written";
    for (const std::string& name : want) {
      const std::string plain = outside::ReadText(plain_dir + "/" + plain_of[name]);
      std::string path = dir + "/" + name;
      if (compression != "crx") {
        ASSERT_TRUE(outside::RunQuiet("gzip -dc '" + path + "' > '" + Path("unpacked") + "'"))
            << cell << " " << name << ": gzip cannot unpack it";
        path = Path("unpacked");
      }
      const bool compact = compression != "gz" && IsObservationName(plain_of[name]);
      if (!compact) {
        EXPECT_TRUE(outside::ReadText(path) == plain) << cell << " " << name << ": not the plain text";
        continue;
      }
      ASSERT_TRUE(outside::Crx2Rnx(path, Path("restored"))) << cell << " " << name << ": crx2rnx fails";
      EXPECT_EQ(outside::FirstDifference(outside::RestoredShape(plain),
                                         outside::RestoredShape(outside::ReadText(Path("restored")))),
                "")
          << cell << " " << name << ": crx2rnx restores another text";
    }
  }

  std::string tool_;
  int week_ = 0;
};

TEST_P(OutsideReadersTest, EveryVersionCompressionAndSplitReadsBack) {
  const DataPair pair = GetParam();
  MakeInput(pair);
  if (HasFatalFailure()) return;
  std::map<std::string, std::map<std::string, std::array<double, 3>>> positions;
  for (const OutputVersion& v : kVersions) {
    for (const bool split : {false, true}) {
      const std::string cell = std::string(pair.Obs) + " RINEX " + v.Arg + (split ? " split 1h" : "");
      const std::string plain_dir = Convert(v, "", split);
      ASSERT_FALSE(plain_dir.empty()) << cell;
      CheckPlainCell(cell + " plain", v, plain_dir);
      for (const char* compression : kCompressions) {
        const std::string dir = Convert(v, compression, split);
        ASSERT_FALSE(dir.empty()) << cell << " " << compression;
        CheckCompressedCell(cell + " " + compression, compression, plain_dir, dir);
      }
      if (split || !v.Rnx2rtkp) continue;
      std::string obs, nav;
      for (const std::string& name : FilesIn(plain_dir)) (IsObservationName(name) ? obs : nav) = name;
      const std::string out = Path(std::string("pos_") + v.Arg);
      ASSERT_TRUE(outside::SolveGpsPositions(plain_dir + "/" + obs, plain_dir + "/" + nav, Path("spp.conf"), out))
          << cell << ": rnx2rtkp fails";
      positions[v.Arg] = outside::ReadPositions(out);
    }
  }
  // The same positions from every version.
  ASSERT_FALSE(positions.empty());
  const auto& [first_version, first] = *positions.begin();
  std::printf("%s: %zu positions from every version\n", pair.Obs, first.size());
  for (const auto& [version, p] : positions) {
    EXPECT_EQ(p.size(), first.size()) << pair.Obs << ": positions from RINEX " << version << " and "
                                      << first_version;
    double worst = 0.0;
    for (const auto& [epoch, x] : first) {
      const auto it = p.find(epoch);
      if (it == p.end()) {
        ADD_FAILURE() << pair.Obs << ": RINEX " << version << " has no position at " << epoch;
        break;
      }
      for (int k = 0; k < 3; ++k) worst = std::max(worst, std::fabs(x[k] - it->second[k]));
    }
    EXPECT_LT(worst, 1e-4) << pair.Obs << ": positions from RINEX " << version << " and " << first_version;
  }
}

std::string PairName(const testing::TestParamInfo<DataPair>& info) {
  std::string name;
  for (const char* c = info.param.Obs; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(SharedData, OutsideReadersTest, testing::ValuesIn(kPairs), PairName);
// The example recording, whose station file adds station blocks.
INSTANTIATE_TEST_SUITE_P(Example, OutsideReadersTest, testing::Values(DataPair{"sample.gpb", nullptr}),
                         PairName);

}  // namespace
}  // namespace rawconv
