// A call that fails while replacing existing outputs leaves every one of
// them as it was: a folder in the way of any one output, in turn, fails the
// call before any other output is touched, for plain, split, compressed and
// check-only calls alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

struct CommitCase {
  const char* Name;
  int32_t Split;
  int32_t Compress;
  int32_t Qc;
};

class CommitTest : public SampleSessionFixture, public testing::WithParamInterface<CommitCase> {
 protected:
  static void Collect(void* user, int32_t, const char* path, int32_t) {
    static_cast<std::vector<std::string>*>(user)->push_back(path);
  }

  int Run(std::vector<std::string>* outputs = nullptr) {
    const CommitCase& c = GetParam();
    o_.split = c.Split;
    o_.compress = c.Compress;
    o_.qc = c.Qc;
    o_.existing = RAWCONV_EXISTING_REPLACE;
    o_.output = outputs ? &Collect : nullptr;
    o_.output_user = outputs;
    rawconv_report_init(&report_);
    return rawconv_convert(session_, &o_, &report_);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_P(CommitTest, AFolderInTheWayOfAnyOutputLeavesTheOthersAsTheyWere) {
  std::vector<std::string> outputs;
  ASSERT_EQ(RAWCONV_OK, Run(&outputs)) << report_.error;
  ASSERT_GE(outputs.size(), 2u);
  for (const std::string& path : outputs) WriteFile(path, "USER " + path);
  const std::vector<std::string> names = Names();

  for (size_t blocked = 0; blocked < outputs.size(); ++blocked) {
    SCOPED_TRACE(outputs[blocked]);
    fs::remove(outputs[blocked]);
    fs::create_directory(outputs[blocked]);
    EXPECT_EQ(RAWCONV_FAILED, Run());
    EXPECT_NE(std::string::npos, std::string(report_.error).find(outputs[blocked]))
        << report_.error;
    for (size_t i = 0; i < outputs.size(); ++i) {
      if (i == blocked) continue;
      EXPECT_EQ("USER " + outputs[i], ReadFile(outputs[i]));
    }
    EXPECT_TRUE(fs::is_directory(outputs[blocked]));
    EXPECT_EQ(names, Names());  // no temporary or kept-aside file
    fs::remove(outputs[blocked]);
    WriteFile(outputs[blocked], "USER " + outputs[blocked]);
  }
  // Without the folder the call replaces them all.
  ASSERT_EQ(RAWCONV_OK, Run()) << report_.error;
  for (const std::string& path : outputs) EXPECT_NE("USER " + path, ReadFile(path));
  EXPECT_EQ(names, Names());
}

const CommitCase kCases[] = {
    {"PlainWithCheck", RAWCONV_SPLIT_NONE, RAWCONV_COMPRESS_NONE, RAWCONV_QC_WITH},
    {"SplitWithCheck", RAWCONV_SPLIT_15M, RAWCONV_COMPRESS_NONE, RAWCONV_QC_WITH},
    {"CompactGzip", RAWCONV_SPLIT_NONE, RAWCONV_COMPRESS_CRX_GZ, RAWCONV_QC_NONE},
    {"CheckOnly", RAWCONV_SPLIT_NONE, RAWCONV_COMPRESS_NONE, RAWCONV_QC_ONLY},
};

INSTANTIATE_TEST_SUITE_P(Calls, CommitTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CommitCase>& info) {
                           return std::string(info.param.Name);
                         });

}  // namespace
}  // namespace convtest
}  // namespace rawconv
