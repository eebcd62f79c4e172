// Quality checks through the reentrant interface: reports beside the RINEX
// outputs or alone, the existing-output policy and whole-or-nothing outputs
// applied to the report files too.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "api/rawconv_api.h"
#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

class QcConversionTest : public ConversionFixture {
 protected:
  void SetUp() override {
    ConversionFixture::SetUp();
    session_ = rawconv_session_new();
    rawconv_options_init(&o_);
    rawconv_report_init(&r_);
    WriteInputs("a", 40);
    gpb_ = Path("a.gpb");
    o_.gpb_path = gpb_.c_str();
    o_.use_run_date = 1;
    o_.run_date = 1133965800;
  }
  void TearDown() override {
    rawconv_session_free(session_);
    ConversionFixture::TearDown();
  }
  int Convert() { return rawconv_convert(session_, &o_, &r_); }
  // Every file of the scratch folder (and below), by name.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir_))
      if (e.is_regular_file()) names.push_back(fs::relative(e.path(), dir_).string());
    std::sort(names.begin(), names.end());
    return names;
  }

  rawconv_session* session_ = nullptr;
  rawconv_options o_;
  rawconv_report r_;
  std::string gpb_;
};

TEST_F(QcConversionTest, ChecksWhileConvertingWithoutChangingTheRinexFiles) {
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  const std::string plain = ReadFile(Path("a.05o"));
  EXPECT_STREQ("", r_.qc_summary);
  EXPECT_STREQ("", r_.qc_text_path);
  fs::remove(Path("a.05o"));
  fs::remove(Path("a.05n"));

  o_.qc = RAWCONV_QC_WITH;
  rawconv_report_init(&r_);
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  EXPECT_EQ(plain, ReadFile(Path("a.05o")));
  EXPECT_EQ(Path("a.05o.qc.txt"), r_.qc_text_path);
  EXPECT_EQ(Path("a.05o.qc.json"), r_.qc_json_path);
  EXPECT_EQ(Path("a.05o.qc.html"), r_.qc_html_path);
  const std::string line = r_.qc_summary;
  EXPECT_EQ(0u, line.rfind(gpb_ + ": 2005-", 0)) << line;
  EXPECT_NE(std::string::npos, line.find("40/40 epochs (100.0%)")) << line;
  EXPECT_NE(std::string::npos, line.find("4 satellites")) << line;
  // The text file starts with the summary line; the JSON has the counts.
  EXPECT_EQ(0u, ReadFile(r_.qc_text_path).rfind(line + "\n\n", 0));
  const std::string json = ReadFile(r_.qc_json_path);
  EXPECT_NE(std::string::npos, json.find("\"epochs_present\": 40")) << json.substr(0, 400);
  EXPECT_NE(std::string::npos, json.find("\"file\": \"" + gpb_ + "\""));
  EXPECT_NE(std::string::npos, ReadFile(r_.qc_html_path).find("<svg id=\"skyplot\""));
  EXPECT_EQ(0, r_.qc_skipped);
  EXPECT_EQ(40u, r_.epochs_written);
}

TEST_F(QcConversionTest, ElevationMaskAndReportFolder) {
  fs::create_directory(Path("reports"));
  const std::string reports = Path("reports");
  o_.qc = RAWCONV_QC_WITH;
  o_.use_elevation_mask = 1;
  o_.elevation_mask = 0.0;  // a true zero, not the default
  o_.qc_dir = reports.c_str();
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  EXPECT_EQ(Path("reports/a.05o.qc.json"), r_.qc_json_path);
  EXPECT_NE(std::string::npos,
            ReadFile(r_.qc_json_path).find("\"elevation_mask_deg\": 0,"));

  rawconv_options_init(&o_);
  o_.gpb_path = gpb_.c_str();
  o_.qc = RAWCONV_QC_ONLY;
  o_.existing = RAWCONV_EXISTING_REPLACE;
  o_.qc_dir = reports.c_str();
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  EXPECT_NE(std::string::npos,
            ReadFile(r_.qc_json_path).find("\"elevation_mask_deg\": 10,"));
}

TEST_F(QcConversionTest, CheckAloneWritesNoRinex) {
  o_.qc = RAWCONV_QC_ONLY;
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  EXPECT_STREQ("", r_.obs_path);
  EXPECT_STREQ("", r_.nav_path);
  EXPECT_EQ(0u, r_.epochs_written);
  EXPECT_EQ(40u, r_.epochs_read);
  EXPECT_EQ(Path("a.qc.txt"), r_.qc_text_path);
  EXPECT_EQ((std::vector<std::string>{"a.epp", "a.gpb", "a.qc.html", "a.qc.json", "a.qc.txt"}),
            Names());
  EXPECT_NE(std::string::npos, std::string(r_.qc_summary).find("40/40 epochs"));

  // The output folder takes the reports when no report folder is named.
  fs::create_directory(Path("out"));
  const std::string out = Path("out");
  o_.output_dir = out.c_str();
  rawconv_report_init(&r_);
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  EXPECT_EQ(Path("out/a.qc.html"), r_.qc_html_path);
  EXPECT_TRUE(fs::exists(Path("out/a.qc.html")));
}

TEST_F(QcConversionTest, PlanNamesTheReportsWithoutWriting) {
  o_.qc = RAWCONV_QC_WITH;
  ASSERT_EQ(RAWCONV_OK, rawconv_plan(session_, &o_, &r_)) << r_.error;
  EXPECT_EQ(Path("a.05o.qc.txt"), r_.qc_text_path);
  o_.qc = RAWCONV_QC_ONLY;
  ASSERT_EQ(RAWCONV_OK, rawconv_plan(session_, &o_, &r_)) << r_.error;
  EXPECT_EQ(Path("a.qc.json"), r_.qc_json_path);
  EXPECT_STREQ("", r_.obs_path);
  EXPECT_EQ((std::vector<std::string>{"a.epp", "a.gpb"}), Names());
}

TEST_F(QcConversionTest, ExistingReportsUnderEachPolicy) {
  o_.qc = RAWCONV_QC_WITH;
  WriteFile(Path("a.05o.qc.json"), "old");
  // Refused: nothing is written, the old report stays.
  EXPECT_EQ(RAWCONV_EXISTS, Convert());
  EXPECT_NE(std::string::npos, std::string(r_.error).find("a.05o.qc.json exists")) << r_.error;
  EXPECT_EQ((std::vector<std::string>{"a.05o.qc.json", "a.epp", "a.gpb"}), Names());
  EXPECT_EQ("old", ReadFile(Path("a.05o.qc.json")));

  // Skipped: the old report stays, the missing ones and the RINEX files
  // are written.
  o_.existing = RAWCONV_EXISTING_SKIP;
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  EXPECT_EQ("old", ReadFile(Path("a.05o.qc.json")));
  EXPECT_TRUE(fs::exists(Path("a.05o.qc.txt")));
  EXPECT_TRUE(fs::exists(Path("a.05o")));
  EXPECT_EQ(0, r_.qc_skipped);
  // Everything there: the file counts as done.
  EXPECT_EQ(RAWCONV_SKIPPED, Convert());
  EXPECT_EQ(1, r_.qc_skipped);

  // Replaced: a complete new report takes the name.
  o_.existing = RAWCONV_EXISTING_REPLACE;
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  EXPECT_EQ('{', ReadFile(Path("a.05o.qc.json"))[0]);
}

TEST_F(QcConversionTest, SkippedObservationFileGetsAReadingPassForTheCheck) {
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  const std::string obs = ReadFile(Path("a.05o"));
  o_.qc = RAWCONV_QC_WITH;
  o_.existing = RAWCONV_EXISTING_SKIP;
  rawconv_report_init(&r_);
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  EXPECT_EQ(1, r_.obs_skipped);
  EXPECT_EQ(obs, ReadFile(Path("a.05o")));
  EXPECT_NE(std::string::npos, std::string(r_.qc_summary).find("40/40 epochs"));
  EXPECT_NE(std::string::npos, ReadFile(Path("a.05o.qc.json")).find("\"epochs_present\": 40"));
}

TEST_F(QcConversionTest, FailureLeavesNothingBehind) {
  o_.qc = RAWCONV_QC_WITH;
  const std::string missing = Path("no/such/folder");
  o_.qc_dir = missing.c_str();
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_NE(std::string::npos, std::string(r_.error).find("quality report")) << r_.error;
  EXPECT_EQ((std::vector<std::string>{"a.epp", "a.gpb"}), Names());

  // A report that would overwrite an input is refused before anything is
  // written.
  o_.qc_dir = nullptr;
  o_.qc = RAWCONV_QC_ONLY;
  o_.existing = RAWCONV_EXISTING_REPLACE;
  fs::create_directory(Path("in"));
  const std::string gpb = Path("in/x.gpb");
  const std::string epp = Path("x.qc.txt");
  fs::copy_file(Path("a.gpb"), gpb);
  fs::copy_file(Path("a.epp"), epp);
  const std::string in_dir = Path("");
  o_.gpb_path = gpb.c_str();
  o_.epp_path = epp.c_str();
  o_.qc_dir = in_dir.c_str();
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ(ReadFile(Path("a.epp")), ReadFile(epp));
}

TEST_F(QcConversionTest, CancelledCheckLeavesNothing) {
  o_.qc = RAWCONV_QC_ONLY;
  o_.progress = [](void*, uint64_t done, uint64_t total) { return done * 2 > total ? 1 : 0; };
  EXPECT_EQ(RAWCONV_CANCELLED, Convert());
  EXPECT_EQ((std::vector<std::string>{"a.epp", "a.gpb"}), Names());
  EXPECT_STREQ("", r_.qc_summary);
}

TEST_F(QcConversionTest, BadQcOptionsAreInvalid) {
  o_.qc = 7;
  EXPECT_EQ(RAWCONV_INVALID, Convert());
  o_.qc = RAWCONV_QC_WITH;
  o_.use_elevation_mask = 1;
  o_.elevation_mask = 90.5;
  EXPECT_EQ(RAWCONV_INVALID, Convert());
  EXPECT_NE(std::string::npos, std::string(r_.error).find("Elevation mask")) << r_.error;
  EXPECT_EQ((std::vector<std::string>{"a.epp", "a.gpb"}), Names());
}

TEST_F(QcConversionTest, UndatedDataFailsTheCheckAlone) {
  WriteFile(Path("a.epp"), "");
  o_.qc = RAWCONV_QC_ONLY;
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_NE(std::string::npos, std::string(r_.error).find("to date the recording; give a GPS week or a day"))
      << r_.error;
  // A fixed week dates the epochs; the check runs without ephemerides.
  o_.use_week = 1;
  o_.week = 1341;
  ASSERT_EQ(RAWCONV_OK, Convert()) << r_.error;
  EXPECT_TRUE(fs::exists(Path("a.qc.html")));
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
