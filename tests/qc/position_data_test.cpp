// The position from the data in conversions: written into APPROX POSITION
// XYZ on request (position_source), refused or failing with its reason, and
// the station warnings of the check handed to the caller.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "api/context.h"
#include "api/conversion.h"
#include "api/rawconv_api.h"
#include "qc_json.h"
#include "support/file_bytes.h"
#include "support/scratch_dir.h"

namespace rawconv {
namespace qctest {
namespace {

namespace fs = std::filesystem;

class PositionDataTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeScratchDir("rawconv_position_data");
    ASSERT_FALSE(dir_.empty());
    const std::string examples = std::string(RAWCONV_SOURCE_DIR) + "/examples/";
    fs::copy_file(examples + "sample.gpb", Path("s.gpb"));
    fs::copy_file(examples + "sample.epp", Path("s.epp"));
    session_ = rawconv_session_new();
    gpb_ = Path("s.gpb");
    Reset();
  }
  void TearDown() override {
    rawconv_session_free(session_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void Reset() {
    rawconv_options_init(&o_);
    rawconv_report_init(&r_);
    o_.gpb_path = gpb_.c_str();
    o_.use_run_date = 1;
    o_.run_date = 1133965800;
    o_.no_sync = 1;
    o_.existing = RAWCONV_EXISTING_REPLACE;
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  int Convert() { return rawconv_convert(session_, &o_, &r_); }

  std::string dir_, gpb_;
  rawconv_session* session_ = nullptr;
  rawconv_options o_;
  rawconv_report r_;
};

// The APPROX POSITION XYZ line of a header, and the text without it.
std::string ApproxLine(const std::string& text, std::string* rest = nullptr) {
  std::istringstream in(text);
  std::string line, found;
  if (rest) rest->clear();
  while (std::getline(in, line)) {
    if (line.find("APPROX POSITION XYZ") != std::string::npos) found = line;
    else if (rest) *rest += line + "\n";
  }
  return found;
}

std::string Formatted(const Json& ecef) {
  char text[64];
  std::snprintf(text, sizeof text, "%14.4f%14.4f%14.4f", ecef.Items[0].Number, ecef.Items[1].Number,
                ecef.Items[2].Number);
  return text;
}

TEST_F(PositionDataTest, WritesTheMeanIntoTheHeaderOfEveryVersion) {
  for (int rinex : {RAWCONV_RINEX_2_11, RAWCONV_RINEX_3_04}) {
    SCOPED_TRACE(rinex);
    Reset();
    o_.rinex = rinex;
    ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
    std::string plain_rest;
    const std::string plain = ApproxLine(testio::ReadBytes(r_.obs_path), &plain_rest);

    Reset();
    o_.rinex = rinex;
    o_.qc = RAWCONV_QC_WITH;
    o_.position_source = RAWCONV_POSITION_DATA;
    ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
    EXPECT_STREQ("", r_.warnings);
    std::string rest;
    const std::string line = ApproxLine(testio::ReadBytes(r_.obs_path), &rest);
    Json j;
    std::string error;
    ASSERT_TRUE(ParseJson(testio::ReadBytes(r_.qc_json_path), &j, &error)) << error;
    const Json& data = j["metadata"]["data_position"];
    ASSERT_EQ(data["ecef_m"].Items.size(), 3u);
    // The header has the data's mean, the check compares with it, and
    // nothing else of the file changes.
    EXPECT_EQ(line.substr(0, 42), Formatted(data["ecef_m"]));
    EXPECT_NE(line, plain);
    EXPECT_EQ(rest, plain_rest);
    EXPECT_EQ(Formatted(j["metadata"]["approx_position"]["ecef_m"]), Formatted(data["ecef_m"]));
    EXPECT_LT(j["metadata"]["approx_position"]["difference"]["distance_m"].Number, 1e-3);
    // The receiver's mean fix lies a few metres away.
    std::istringstream fix(plain.substr(0, 42));
    double x = 0, y = 0, z = 0;
    fix >> x >> y >> z;
    const double dx = x - data["ecef_m"].Items[0].Number, dy = y - data["ecef_m"].Items[1].Number,
                 dz = z - data["ecef_m"].Items[2].Number;
    EXPECT_LT(std::sqrt(dx * dx + dy * dy + dz * dz), 10.0);
  }
}

TEST_F(PositionDataTest, EverySpanFileHasTheMeanOfTheWhole) {
  o_.position_source = RAWCONV_POSITION_DATA;
  o_.split = RAWCONV_SPLIT_15M;
  o_.names = RAWCONV_NAMES_SHORT;
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  EXPECT_EQ(r_.obs_files, 4u);
  Reset();
  o_.position_source = RAWCONV_POSITION_DATA;
  o_.obs_path = "";
  fs::create_directory(Path("whole"));
  const std::string obs = Path("whole/s.05o"), nav = Path("whole/s.05n");
  o_.obs_path = obs.c_str();
  o_.nav_path = nav.c_str();
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  const std::string whole = ApproxLine(testio::ReadBytes(obs));
  ASSERT_FALSE(whole.empty());
  int spans = 0;
  for (const auto& e : fs::directory_iterator(dir_)) {
    const std::string name = e.path().filename().string();
    if (name.size() != 14 || name.substr(name.size() - 4) != ".05o") continue;
    EXPECT_EQ(ApproxLine(testio::ReadBytes(e.path().string())), whole) << name;
    ++spans;
  }
  EXPECT_EQ(spans, 4);
}

TEST_F(PositionDataTest, FailsNamingWhyWithoutEphemeridesOrSolution) {
  fs::remove(Path("s.epp"));
  o_.position_source = RAWCONV_POSITION_DATA;
  o_.date = "2005-04-02";
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_STREQ("position_source", r_.error_field);
  EXPECT_EQ("No ephemeris file " + Path("s.epp") + ": the position from the data needs the broadcast ephemerides",
            std::string(r_.error));
  // A plan fails alike, and nothing is written.
  Reset();
  o_.position_source = RAWCONV_POSITION_DATA;
  o_.date = "2005-04-02";
  EXPECT_EQ(RAWCONV_FAILED, rawconv_plan(session_, &o_, &r_));
  EXPECT_STREQ("position_source", r_.error_field);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"s.gpb"});

  // Ephemerides of no use for these epochs: no solution.
  {
    std::FILE* f = std::fopen(Path("s.epp").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("$EPHREC 1 1\n", f);
    std::fclose(f);
  }
  Reset();
  o_.position_source = RAWCONV_POSITION_DATA;
  o_.date = "2005-04-02";
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_STREQ("position_source", r_.error_field);
  EXPECT_NE(std::string(r_.error).find("holds no ephemeris: no position from the data"), std::string::npos)
      << r_.error;
}

TEST_F(PositionDataTest, RefusedWithAGivenPositionOrAnUnknownSource) {
  o_.position_source = RAWCONV_POSITION_DATA;
  o_.use_position = 1;
  EXPECT_EQ(RAWCONV_INVALID, Convert());
  EXPECT_STREQ("position_source", r_.error_field);
  EXPECT_STREQ("Give a position or the position from the data, not both", r_.error);
  Reset();
  o_.position_source = 7;
  EXPECT_EQ(RAWCONV_INVALID, Convert());
  EXPECT_STREQ("position_source", r_.error_field);
  // The receiver's position by name is the default.
  Reset();
  o_.position_source = RAWCONV_POSITION_RECEIVER;
  EXPECT_EQ(RAWCONV_OK, Convert()) << r_.error;
}

TEST_F(PositionDataTest, StationWarningsOfTheCheckReachTheCaller) {
  // A header position 200 m off the station.
  o_.qc = RAWCONV_QC_WITH;
  o_.use_position = 1;
  o_.position[0] = -3976219.5082 + 200.0;
  o_.position[1] = 3382372.5671;
  o_.position[2] = 3652512.9849;
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  const std::string warnings = r_.warnings;
  EXPECT_EQ(0u, warnings.find("Quality check: the position from the data is 20")) << warnings;
  EXPECT_NE(std::string::npos, warnings.find(" m from APPROX POSITION XYZ (more than 30.0 m)\n")) << warnings;
  EXPECT_NE(std::string::npos, testio::ReadBytes(r_.qc_text_path).find("WARNING: the position from the data is 20"));
}

TEST_F(PositionDataTest, TheStationRecordsOfTheJobAreCompared) {
  Context context{};
  ContextScope scope(context);
  ConversionJob job;
  job.Obs.GpbFile = Path("s.gpb");
  job.Obs.ObsFile = Path("s.obs");
  job.Nav.EppFile = Path("s.epp");
  job.Nav.NavFile = Path("s.nav");
  job.UserMessages = true;
  job.Qc = QcMode::kWith;
  job.Reference.Source = "site log samp00jpn_20050101.log";
  job.Reference.HasPosition = true;
  job.Reference.Position[0] = -3976219.5082;
  job.Reference.Position[1] = 3382372.5671 + 12.0;
  job.Reference.Position[2] = 3652512.9849;
  job.Reference.ReceiverType = "LEICA GRX1200PRO";
  job.Reference.AntennaType = "LEIAT504       LEIS";
  ASSERT_EQ(kConversionOk, RunConversion(job)) << Ctx().ErrorText;
  EXPECT_NE(std::string::npos,
            job.Warnings.find(" m from the position of site log samp00jpn_20050101.log (more than 5.0 m)\n"))
      << job.Warnings;
  EXPECT_NE(std::string::npos, job.Warnings.find("Quality check: the GPB file's receiver \"RINEX TRIMBLE 5700\" is "
                                                 "not the receiver \"LEICA GRX1200PRO\" of site log "
                                                 "samp00jpn_20050101.log\n"))
      << job.Warnings;
  // No antenna in the header: nothing to compare it with.
  EXPECT_EQ(std::string::npos, job.Warnings.find("antenna")) << job.Warnings;
  Json j;
  std::string error;
  ASSERT_TRUE(ParseJson(testio::ReadBytes(Path("s.05o.qc.json")), &j, &error)) << error;
  EXPECT_EQ(j["metadata"]["reference"]["source"].Text, "site log samp00jpn_20050101.log");
  EXPECT_EQ(j["metadata"]["reference"]["difference"]["warning"].Number, 1);
  EXPECT_EQ(j["metadata"]["reference"]["antenna_type"].Text, "LEIAT504       LEIS");
  EXPECT_TRUE(j["metadata"]["antenna"]["type_agrees"].IsNull());
}

}  // namespace
}  // namespace qctest
}  // namespace rawconv
