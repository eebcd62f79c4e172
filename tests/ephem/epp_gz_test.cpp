// EPP files as gzip files: the reference lookup and the open's reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ephem/epp.h"
#include "support/epp_fixture.h"
#include "support/gzip_bytes.h"
#include "support/scratch_dir.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;

class EppGzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeScratchDir("rawconv_eppgz");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

TEST_F(EppGzipTest, ReferenceEphemerisOfAGzipFileInEitherLayout) {
  // Block layout, and the six-line layout, which the lookup reads from the
  // start again after the block layout did not fit.
  const std::string blocks = epptest::EppText({{1341, 345600}, {1341, 352800, 2}});
  const std::string lines =
      "5 1316 0 0 0\n0 0 0\n0 0 0 0\n0 0 0 0\n518400 0 0 0\n0 0 0 0 0\n";
  ASSERT_TRUE(gztest::WriteBytes(Path("b.epp.gz"), gztest::Gzip(blocks)));
  ASSERT_TRUE(gztest::WriteBytes(Path("l.epp.gz"), gztest::Gzip(lines, 2)));
  int week = 0;
  double toe = 0.0;
  int tags = 0;
  ASSERT_EQ(0, FindReferenceEphemeris(Path("b.epp.gz").c_str(), &week, &toe, &tags));
  EXPECT_EQ(1341, week);
  EXPECT_EQ(352800.0, toe);
  EXPECT_EQ(2, tags);
  ASSERT_EQ(0, FindReferenceEphemeris(Path("l.epp.gz").c_str(), &week, &toe, &tags));
  EXPECT_EQ(1316, week);
  EXPECT_EQ(518400.0, toe);

  // The records themselves.
  std::FILE* f = OpenEppFile(Path("b.epp.gz").c_str(), nullptr);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(0, CheckEppHeader(f));
  EphemerisRecord r{};
  ASSERT_EQ(0, ReadEphemerisRecord(f, &r));
  ASSERT_EQ(0, ReadEphemerisRecord(f, &r));
  EXPECT_EQ(2, r.Prn);
  EXPECT_EQ(-1, ReadEphemerisRecord(f, &r));
  std::fclose(f);
}

TEST_F(EppGzipTest, FailedOpensSayWhy) {
  fs::create_directory(Path("folder.epp"));
  ASSERT_TRUE(gztest::WriteBytes(Path("bad.epp.gz"), "\x1f\x8b\x08 not deflate data"));
  const struct {
    const char* Name;
    const char* Reason;
  } kCases[] = {{"missing.epp", "No such file or directory"},
                {"folder.epp", "it is a folder"},
                {"bad.epp.gz", "damaged gzip data"}};
  for (const auto& c : kCases) {
    std::string reason;
    EXPECT_EQ(nullptr, OpenEppFile(Path(c.Name).c_str(), &reason));
    EXPECT_EQ(c.Reason, reason);
    int week = 0;
    double toe = 0.0;
    EXPECT_EQ(1, FindReferenceEphemeris(Path(c.Name).c_str(), &week, &toe));
  }
}

}  // namespace
}  // namespace rawconv
