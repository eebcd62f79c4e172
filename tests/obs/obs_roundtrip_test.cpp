// Round trip on real data: every RINEX observation file of the shared data
// folder is turned into GPB files of both formats, written back with the
// observation writer and read again. Every epoch time, satellite list and
// value must come back as the original had it, within what each GPB format
// can carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "api/context.h"
#include "obs/obs_writer.h"
#include "obs/run_date.h"
#include "support/epp_fixture.h"
#include "support/rinex_obs.h"
#include "support/obs_compare.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace {

using rnxtest::RinexObsEpoch;
using rnxtest::RinexObsFile;
using rnxtest::RinexObsValue;
using rnxtest::RinexSatObs;
using obscompare::CompareObservations;
using obscompare::Format;
using obscompare::FullGpsWeek;
using obscompare::ObservationEpochs;

// Names ending in ".yyo" or ".obs".
std::vector<std::string> ObservationFiles() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(RAWCONV_SHARED_DATA_DIR, ec)) {
    const std::string name = entry.path().filename().string();
    const size_t n = name.size();
    if (n < 5) continue;
    const bool rinex_name = name[n - 4] == '.' && std::isdigit(static_cast<unsigned char>(name[n - 3])) &&
                            std::isdigit(static_cast<unsigned char>(name[n - 2])) &&
                            (name[n - 1] == 'o' || name[n - 1] == 'O');
    if (rinex_name || name.substr(n - 4) == ".obs") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ObsRoundTripTest : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    std::memset(&context_, 0, sizeof context_);
    scope_ = new ContextScope(context_);
    SetRunClockForTesting(1133965800);
  }
  void TearDown() override { delete scope_; }

  // Writes the observation file of one GPB file; false when it cannot.
  bool WriteObservationFile(const RinexObsFile& original, const Format& f, const std::string& base,
                            std::string* obs_path) {
    rnxtest::RnxToGpbOptions options;
    options.NewFormat = f.NewFormat;
    gpbtest::GpbFileBuilder gpb = rnxtest::MakeGpbFileFor(original.Header, options);
    rnxtest::RnxToGpbSummary converted;
    rnxtest::ConvertRinexObs(original, options, &gpb, &converted);
    const std::string gpb_path = base + (f.NewFormat ? "_new.gpb" : "_old.gpb");
    *obs_path = base + (f.NewFormat ? "_new.obs" : "_old.obs");
    if (!gpb.Write(gpb_path)) return false;

    ObsInput request;
    request.GpbFile = gpb_path;
    request.MarkerName = original.Header.MarkerName;

    // The week of the data: from an EPP file whose reference lies in the
    // first epoch's week. Weeks of 2048 and above cannot be named by an
    // ephemeris reference (weeks below 700 are read as 1024 later); for
    // those the user's week override is the only source, as in a
    // conversion call with a fixed week.
    const std::vector<const RinexObsEpoch*> epochs = ObservationEpochs(original);
    if (epochs.empty()) return false;
    const RinexObsEpoch& first = *epochs.front();
    double day_start = 0.0;
    const int week = FullGpsWeek(first.Year, first.Month, first.Day, &day_start);
    const double tow = day_start + first.Hour * 3600.0 + first.Minute * 60.0 + first.Second;
    WeekReference ref{};
    const std::string epp_path = base + ".epp";
    if (week < 2048) {
      const int toe = std::max(1, static_cast<int>(tow));  // toe 0 would mean the next week
      if (!epptest::WriteEppFile(epp_path, {{week, toe}})) return false;
      ref = LookupWeekReference(epp_path.c_str());
      std::remove(epp_path.c_str());
      if (!ref.Found) return false;
    } else {
      ref.Week = week;
      ref.FixedWeek = 1;
    }

    ObsHeaderSummary summary{};
    ScanObsSummary(request, &summary);
    std::FILE* out = std::fopen(obs_path->c_str(), "w");
    if (out == nullptr) return false;
    WriteObsHeader(out, request, summary, f.Version, ref);
    WriteObsEpochs(out, request, summary, f.Version, ref);
    std::fclose(out);
    std::remove(gpb_path.c_str());
    return true;
  }

  Context context_;
  ContextScope* scope_ = nullptr;
};

TEST_P(ObsRoundTripTest, EveryEpochSatelliteAndValue) {
  const std::string name = GetParam();
  RinexObsFile original;
  std::string error;
  ASSERT_TRUE(rnxtest::ReadRinexObsFile(std::string(RAWCONV_SHARED_DATA_DIR) + "/" + name,
                                        &original, &error))
      << error;
  const std::string base =
      testing::TempDir() + "obs_roundtrip_" + std::to_string(getpid()) + "_" + name;
  for (const Format f : {Format{true, RINEX_VERSION_2_1}, Format{false, RINEX_VERSION_2_0}}) {
    SCOPED_TRACE(f.NewFormat ? "new format, RINEX 2.1" : "old format, RINEX 2.0");
    std::string obs_path;
    ASSERT_TRUE(WriteObservationFile(original, f, base, &obs_path));
    RinexObsFile ours;
    ASSERT_TRUE(rnxtest::ReadRinexObsFile(obs_path, &ours, &error)) << error;
    CompareObservations(original, ours, f);
    std::remove(obs_path.c_str());
  }
}

std::string TestName(const testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (char c : info.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(SharedData, ObsRoundTripTest, testing::ValuesIn(ObservationFiles()),
                         TestName);

// The data folder is there and holds observation files: a round trip that
// silently found nothing would prove nothing.
TEST(ObsRoundTripDataTest, ObservationFilesPresent) {
  EXPECT_GE(ObservationFiles().size(), 9u);
}

}  // namespace
}  // namespace rawconv
