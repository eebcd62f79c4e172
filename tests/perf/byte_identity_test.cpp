// Whole conversions with the integer formatter and with the snprintf
// reference formatting must write the same files, byte for byte: every
// observation file of the shared data folder turned into GPB files of both
// formats, both RINEX versions, and a synthetic recording with a station
// file, kinematic events and more than twelve satellites.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "api/context.h"
#include "api/conversion.h"
#include "obs/run_date.h"
#include "perf/synthetic_gpb.h"
#include "support/epp_fixture.h"
#include "support/file_bytes.h"
#include "support/obs_compare.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) { return testio::ReadBytes(path); }

// Names ending in ".yyo" or ".obs".
std::vector<std::string> ObservationFiles() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(RAWCONV_SHARED_DATA_DIR, ec)) {
    const std::string name = entry.path().filename().string();
    const size_t n = name.size();
    if (n < 5) continue;
    const bool rinex_name = name[n - 4] == '.' &&
                            std::isdigit(static_cast<unsigned char>(name[n - 3])) &&
                            std::isdigit(static_cast<unsigned char>(name[n - 2])) &&
                            (name[n - 1] == 'o' || name[n - 1] == 'O');
    if (rinex_name || name.substr(n - 4) == ".obs") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ByteIdentityTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::TempDir() + "byte_identity_" + std::to_string(getpid());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Converts dir/<stem>.gpb with dir/<stem>.epp on a fresh context; returns
  // the observation and navigation files' contents.
  std::string Convert(const std::string& stem, int rinex_version, bool reference, int week_override,
                      std::string* nav_text) {
    Context context{};
    ContextScope scope(context);
    SetRunClockForTesting(1133965800);
    Ctx().ReferenceFormatting = reference ? 1 : 0;
    ObsRequest obs{};
    NavRequest nav{};
    obs.StructSize = sizeof obs;
    nav.StructSize = sizeof nav;
    std::snprintf(obs.GpbFile, sizeof obs.GpbFile, "%s", Path(stem + ".gpb").c_str());
    std::snprintf(obs.ObsFile, sizeof obs.ObsFile, "%s", Path(stem + ".obs").c_str());
    std::snprintf(nav.EppFile, sizeof nav.EppFile, "%s", Path(stem + ".epp").c_str());
    std::snprintf(nav.NavFile, sizeof nav.NavFile, "%s", Path(stem + ".nav").c_str());
    std::snprintf(obs.MarkerName, sizeof obs.MarkerName, "IDENTITY");
    std::snprintf(obs.RunBy, sizeof obs.RunBy, "perf");
    obs.AntHeight = 1.2345;
    obs.UseGpsWeek = week_override > 0 ? 1 : 0;
    obs.GpsWeek = week_override;
    const int result = ConvertGpbFile(&obs, &nav, rinex_version);
    EXPECT_EQ(0, result) << Ctx().ErrorText;
    *nav_text = ReadAll(nav.NavFile);
    return ReadAll(obs.ObsFile);
  }

  // Both formatters, both versions: the same bytes.
  void ExpectIdentical(const std::string& stem, int week_override = 0) {
    for (int version : {RINEX_VERSION_2_0, RINEX_VERSION_2_1}) {
      SCOPED_TRACE(stem + (version == RINEX_VERSION_2_1 ? " RINEX 2.1" : " RINEX 2.0"));
      std::string nav_fast, nav_ref;
      const std::string fast = Convert(stem, version, false, week_override, &nav_fast);
      const std::string ref = Convert(stem, version, true, week_override, &nav_ref);
      ASSERT_GT(fast.size(), 10000u);  // epochs, not just the header
      if (fast != ref) {
        const size_t at = static_cast<size_t>(
            std::mismatch(fast.begin(), fast.end(), ref.begin(), ref.end()).first - fast.begin());
        ADD_FAILURE() << "files differ at byte " << at << ": '" << fast.substr(at, 60) << "' vs '"
                      << ref.substr(at, 60) << "'";
      }
      EXPECT_EQ(nav_fast, nav_ref);
    }
  }

  std::string dir_;
};

TEST_F(ByteIdentityTest, EveryRealObservationFileBothFormats) {
  const std::vector<std::string> files = ObservationFiles();
  ASSERT_GE(files.size(), 9u);
  for (const std::string& name : files) {
    rnxtest::RinexObsFile original;
    std::string error;
    ASSERT_TRUE(rnxtest::ReadRinexObsFile(std::string(RAWCONV_SHARED_DATA_DIR) + "/" + name,
                                          &original, &error))
        << error;
    const std::vector<const rnxtest::RinexObsEpoch*> epochs =
        obscompare::ObservationEpochs(original);
    ASSERT_FALSE(epochs.empty()) << name;
    // An ephemeris reference in the first epoch's week; weeks from 2048 on
    // are given as the week override.
    const rnxtest::RinexObsEpoch& first = *epochs.front();
    double day_start = 0.0;
    const int week = obscompare::FullGpsWeek(first.Year, first.Month, first.Day, &day_start);
    const int toe = std::max(1, static_cast<int>(day_start + first.Hour * 3600.0 + first.Minute * 60.0));
    for (bool new_format : {true, false}) {
      rnxtest::RnxToGpbOptions options;
      options.NewFormat = new_format;
      gpbtest::GpbFileBuilder gpb = rnxtest::MakeGpbFileFor(original.Header, options);
      rnxtest::RnxToGpbSummary summary;
      rnxtest::ConvertRinexObs(original, options, &gpb, &summary);
      const std::string stem = name + (new_format ? "_new" : "_old");
      ASSERT_TRUE(gpb.Write(Path(stem + ".gpb")));
      ASSERT_TRUE(epptest::WriteEppFile(Path(stem + ".epp"), {{week < 2048 ? week : 1000, toe}}));
      ExpectIdentical(stem, week < 2048 ? 0 : week);
      fs::remove(Path(stem + ".gpb"));
    }
  }
}

TEST_F(ByteIdentityTest, SyntheticRecordingWithEvents) {
  synthetic::SyntheticDay day;
  day.Epochs = 1800;
  day.Satellites = 24;  // two satellite lines
  day.StartTime = 345600.0;
  day.KinematicStart = 300;  // a START and an END event
  day.KinematicEnd = 900;
  ASSERT_TRUE(synthetic::WriteSyntheticGpb(Path("syn.gpb"), day));
  ASSERT_TRUE(synthetic::WriteSyntheticEpp(Path("syn.epp"), day));
  // Station blocks at two epochs.
  if (std::FILE* f = std::fopen(Path("syn.sta").c_str(), "w")) {
    std::fputs("STA: *345610.0*\"SYN1\"*1.4567*\"first\"*\"block\"*\n"
               "STA: *346000.0*\"SYN2\"*0.0005*\"second\"*\"block\"*\n",
               f);
    std::fclose(f);
  }
  ExpectIdentical("syn");
  // With a week override as well.
  ExpectIdentical("syn", 1400);
}

}  // namespace
}  // namespace rawconv
