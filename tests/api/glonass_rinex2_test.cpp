// GLONASS in RINEX 2 files, read back by a reader we did not write: the
// GPS+GLONASS recording of the shared data folder converted through the
// reentrant library names its GLONASS satellites by slot under "M (MIXED)",
// satellite for satellite as the receiver's own RINEX file does, and
// convbin keeps every one of their records. The dialog library's writer,
// whose callers rely on its bytes, keeps the GPB numbers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "api/rawconv_api.h"
#include "obs/obs_writer.h"
#include "support/conversion_fixture.h"
#include "support/real_data.h"
#include "support/real_data_fixture.h"
#include "support/rinex_nav.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace {

using namespace realdata;

constexpr DataPair kMixed = {"wsra0010.21o", "cbw10010.21n.gz"};

class GlonassRinex2Test : public RealDataTest<int> {
 protected:
  GlonassRinex2Test() : RealDataTest("glonass2", "RAWCONV_KEEP_GLONASS2") {}

  void SetUp() override {
    RealDataTest::SetUp();
    if (HasFatalFailure()) return;
    MakeGpbInput(kMixed, "wsra", &original_);
  }

  // Converts through the reentrant library; the observation file's path.
  std::string Convert(const char* out_dir, int32_t split, int32_t full_header) {
    const std::string dir = Path(out_dir);
    std::filesystem::create_directories(dir);
    rawconv_session* session = rawconv_session_new();
    rawconv_options o;
    rawconv_options_init(&o);
    const std::string gpb = Path("wsra.gpb");
    o.gpb_path = gpb.c_str();
    o.output_dir = dir.c_str();
    o.split = split;
    o.full_header = full_header;
    o.use_run_date = 1;
    o.run_date = 1133965800;
    rawconv_report r;
    rawconv_report_init(&r);
    const int result = rawconv_convert(session, &o, &r);
    rawconv_session_free(session);
    EXPECT_EQ(RAWCONV_OK, result) << r.error;
    return r.obs_path;
  }

  rnxtest::RinexObsFile original_;
};

// The satellites of each data epoch, as "G 5"-style names made uniform.
std::vector<std::vector<std::string>> SatelliteLists(const rnxtest::RinexObsFile& file) {
  std::vector<std::vector<std::string>> lists;
  for (const rnxtest::RinexObsEpoch& e : file.Epochs) {
    if (e.IsEvent()) continue;
    std::vector<std::string> names;
    char name[8];
    for (const rnxtest::RinexSatObs& s : e.Sats) {
      std::snprintf(name, sizeof name, "%c%02d", s.System, s.Prn);
      names.push_back(name);
    }
    lists.push_back(names);
  }
  return lists;
}

// Records per system in a RINEX 3 file convbin wrote.
std::map<char, int> RecordsBySystem(const std::string& path) {
  std::map<char, int> counts;
  bool body = false;
  for (const std::string& line : convtest::Lines(convtest::ReadFile(path))) {
    if (!body) {
      body = line.find("END OF HEADER") != std::string::npos;
      continue;
    }
    if (!line.empty() && line[0] != '>') ++counts[line[0]];
  }
  return counts;
}

TEST_F(GlonassRinex2Test, SlotsUnderMixedReadBackByConvbin) {
  const std::string obs = Convert("plain", RAWCONV_SPLIT_NONE, 1);
  ASSERT_FALSE(obs.empty());
  rnxtest::RinexObsFile ours;
  std::string error;
  ASSERT_TRUE(rnxtest::ReadRinexObsFile(obs, &ours, &error)) << error;
  EXPECT_EQ('M', ours.Header.System);
  // The receiver's own file names the same satellites in the same order.
  EXPECT_EQ(SatelliteLists(original_), SatelliteLists(ours));
  // PRN / # OF OBS names them as the epochs do.
  const std::string text = convtest::ReadFile(obs);
  EXPECT_NE(std::string::npos, text.find("   R 9"));
  EXPECT_EQ(std::string::npos, text.find("   R41"));

  int glonass = 0;
  for (const rnxtest::RinexObsEpoch& e : ours.Epochs)
    for (const rnxtest::RinexSatObs& s : e.Sats) glonass += s.System == 'R' ? 1 : 0;
  ASSERT_GT(glonass, 0);
  if (!HasProgram("convbin")) GTEST_SKIP() << "rtklib not installed";
  const std::string back = Path("back.obs");
  const std::string command = "convbin -r rinex -v 3.04 -o '" + back + "' '" + obs + "' >/dev/null 2>&1";
  ASSERT_EQ(0, std::system(command.c_str()));
  EXPECT_EQ(glonass, RecordsBySystem(back)['R']);
}

TEST_F(GlonassRinex2Test, EverySpanNamedBySlot) {
  const std::string first = Convert("split", RAWCONV_SPLIT_15M, 0);
  ASSERT_FALSE(first.empty());
  std::set<std::string> known;
  for (const auto& list : SatelliteLists(original_)) known.insert(list.begin(), list.end());
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Path("split"))) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 4 || name.back() != 'o') continue;
    rnxtest::RinexObsFile span;
    std::string error;
    ASSERT_TRUE(rnxtest::ReadRinexObsFile(entry.path().string(), &span, &error)) << error;
    EXPECT_EQ('M', span.Header.System) << name;
    for (const auto& list : SatelliteLists(span))
      for (const std::string& sat : list) EXPECT_EQ(1u, known.count(sat)) << name << " " << sat;
    ++files;
  }
  EXPECT_GT(files, 0);
}

// The writer of the dialog library's files, unchanged: GPB numbers after
// "R" under "G (GPS)".
TEST_F(GlonassRinex2Test, DialogLibraryWriterKeepsGpbNumbers) {
  ObsInput request;
  request.GpbFile = Path("wsra.gpb");
  ObsHeaderSummary summary{};
  ScanObsSummary(request, &summary);
  WeekReference ref = LookupWeekReference(Path("wsra.epp").c_str());
  ASSERT_TRUE(ref.Found);
  const std::string path = Path("dialog.obs");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  WriteObsHeader(f, request, summary, RINEX_VERSION_2_1, ref);
  WriteObsEpochs(f, request, summary, RINEX_VERSION_2_1, ref);
  std::fclose(f);
  const std::string text = convtest::ReadFile(path);
  EXPECT_NE(std::string::npos, text.find("OBSERVATION DATA    G (GPS)"));
  EXPECT_NE(std::string::npos, text.find("R41"));
}

}  // namespace
}  // namespace rawconv
