// Splitting through the reentrant interface, on the shipped sample
// (2005-04-02 00:00:00 to 00:59:30 GPS time, 30 s): the list of outputs,
// planning, the existing-output policy per span file, and whole-or-nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "api/rawconv_api.h"
#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

struct Listed {
  int32_t Kind;
  std::string Name;  // file name only
  int32_t Skipped;
  bool operator==(const Listed& o) const {
    return Kind == o.Kind && Name == o.Name && Skipped == o.Skipped;
  }
};

void PrintTo(const Listed& l, std::ostream* os) {
  *os << l.Kind << ":" << l.Name << (l.Skipped ? " (skipped)" : "");
}

void Collect(void* user, int32_t kind, const char* path, int32_t skipped) {
  static_cast<std::vector<Listed>*>(user)->push_back(
      {kind, fs::path(path).filename().string(), skipped});
}

// Cancels once the writing pass is under way (past the pre-scan's bytes).
int CancelInWritingPass(void*, uint64_t done, uint64_t total) { return done > total / 2 + 1000; }

const std::vector<std::string> kQuarters = {"samp092a00.05o", "samp092a15.05o", "samp092a30.05o",
                                            "samp092a45.05o"};

class SplitTest : public SampleSessionFixture {
 protected:
  void SetUp() override {
    SampleSessionFixture::SetUp();
    o_.names = RAWCONV_NAMES_SHORT;
    o_.split = RAWCONV_SPLIT_15M;
    o_.output = Collect;
    o_.output_user = &listed_;
  }
  int Convert() {
    listed_.clear();
    return rawconv_convert(session_, &o_, &report_);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> ObsListed() const {
    std::vector<std::string> names;
    for (const Listed& l : listed_)
      if (l.Kind == RAWCONV_OUTPUT_OBS && !l.Skipped) names.push_back(l.Name);
    return names;
  }

  std::vector<Listed> listed_;
};

TEST_F(SplitTest, PlanListsTheFilesTheConversionWrites) {
  ASSERT_EQ(RAWCONV_OK, rawconv_plan(session_, &o_, &report_)) << report_.error;
  EXPECT_TRUE(fs::is_empty(out_));
  const std::vector<Listed> planned = listed_;
  EXPECT_EQ(4u, report_.obs_files);
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ(planned, listed_);
  EXPECT_EQ(kQuarters, ObsListed());
  EXPECT_EQ((Listed{RAWCONV_OUTPUT_NAV, "samp092a.05n", 0}), listed_.back());
  EXPECT_EQ(4u, report_.obs_files);
  EXPECT_EQ(120u, report_.epochs_written);
  EXPECT_EQ("samp092a00.05o", fs::path(report_.obs_path).filename());
}

TEST_F(SplitTest, SpansWithoutAKeptEpochGetNoFile) {
  o_.from_time = "2005-04-02 00:20:00";
  o_.to_time = "2005-04-02 00:40:00";
  o_.interval = 120.0;
  o_.names = RAWCONV_NAMES_LONG;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ((std::vector<std::string>{"SAMP00XXX_R_20050920015_15M_02M_GO.rnx",
                                      "SAMP00XXX_R_20050920030_15M_02M_GO.rnx"}),
            ObsListed());
  EXPECT_EQ(3u, Files().size());
  EXPECT_EQ(10u, report_.epochs_written);
}

TEST_F(SplitTest, ExistingPolicyAppliesToEachSpanFile) {
  WriteFile(out_ + "/samp092a30.05o", "mine");
  ASSERT_EQ(RAWCONV_EXISTS, Convert());
  EXPECT_EQ(std::vector<std::string>{"samp092a30.05o"}, Files());
  o_.existing = RAWCONV_EXISTING_SKIP;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ("mine", ReadFile(out_ + "/samp092a30.05o"));
  EXPECT_EQ((Listed{RAWCONV_OUTPUT_OBS, "samp092a30.05o", 1}), listed_[2]);
  EXPECT_EQ(3u, report_.obs_files);
  EXPECT_EQ(90u, report_.epochs_written);
  ASSERT_EQ(RAWCONV_SKIPPED, Convert());  // everything there now
  EXPECT_EQ(1, report_.obs_skipped);
}

TEST_F(SplitTest, AFailedOrCancelledCallLeavesNoFileOfIt) {
  // The third span's name is taken by a folder: its commit fails at the end,
  // after the navigation file and the first two spans went into place.
  fs::create_directory(out_ + "/samp092a30.05o");
  o_.existing = RAWCONV_EXISTING_REPLACE;
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ(std::vector<std::string>{"samp092a30.05o"}, Files());
  fs::remove(out_ + "/samp092a30.05o");
  o_.progress = CancelInWritingPass;
  EXPECT_EQ(RAWCONV_CANCELLED, Convert());
  EXPECT_TRUE(fs::is_empty(out_));
  EXPECT_TRUE(listed_.empty());
}

TEST_F(SplitTest, EveryCompressionAndVersionWithOneReportForTheInput) {
  o_.rinex = RAWCONV_RINEX_3_05;
  o_.names = RAWCONV_NAMES_INPUT;  // short names when splitting
  o_.compress = RAWCONV_COMPRESS_CRX_GZ;
  o_.split = RAWCONV_SPLIT_1H;
  o_.qc = RAWCONV_QC_WITH;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ(std::vector<std::string>{"samp092a.05d.gz"}, ObsListed());
  EXPECT_EQ((std::vector<std::string>{"samp092a.05d.gz", "sample.05n.gz", "sample.qc.html",
                                      "sample.qc.json", "sample.qc.txt"}),
            Files());
  EXPECT_NE(std::string::npos, std::string(report_.qc_summary).find("120/120 epochs"));
}

TEST_F(SplitTest, SplitIsCheckedAndOlderRecordsEndBeforeIt) {
  o_.split = 7200;
  EXPECT_EQ(RAWCONV_INVALID, Convert());
  o_.split = RAWCONV_SPLIT_1H;
  o_.obs_path = o_.nav_path = "x";
  EXPECT_EQ(RAWCONV_INVALID, Convert());
  // A record that ends before the split field converts into one file, and
  // the callback beyond it is not read either.
  o_.obs_path = o_.nav_path = nullptr;
  o_.size = static_cast<uint32_t>(offsetof(rawconv_options, split));
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ((std::vector<std::string>{"samp092a.05n", "samp092a.05o"}), Files());
  EXPECT_TRUE(listed_.empty());
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
