// Station files as gzip files (both layouts), and why one could not be
// opened.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "obs/sta_list.h"
#include "obs/station_table.h"
#include "station/station_file.h"
#include "support/gzip_bytes.h"
#include "support/scratch_dir.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;

class StationGzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeScratchDir("rawconv_stagz");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

TEST_F(StationGzipTest, GzipStationFilesReadAsThePlainOnes) {
  const std::string sample = std::string(RAWCONV_SOURCE_DIR) + "/examples/sample.sta";
  ASSERT_TRUE(gztest::WriteBytes(Path("s.sta.gz"), gztest::Gzip(gztest::ReadBytes(sample))));
  EXPECT_EQ(1, IsStationInfoFile(Path("s.sta.gz").c_str()));
  StationFile plain, packed;
  ASSERT_EQ(0, ReadStationFile(sample.c_str(), kStationAllKinds, &plain)) << plain.Message;
  ASSERT_EQ(0, ReadStationFile(Path("s.sta.gz").c_str(), kStationAllKinds, &packed))
      << packed.Message;
  ASSERT_EQ(plain.Count, packed.Count);
  ASSERT_GT(plain.Count, 0);
  for (int i = 0; i < plain.Count; ++i) {
    EXPECT_STREQ(plain.Records[i].Name, packed.Records[i].Name);
    EXPECT_EQ(plain.Records[i].Seconds, packed.Records[i].Seconds);
    EXPECT_EQ(plain.Records[i].AntennaHeight, packed.Records[i].AntennaHeight);
  }
  EXPECT_STREQ("", packed.OpenReason);
  ReleaseStationFile(&plain);
  ReleaseStationFile(&packed);

  // The "STA:" list layout.
  const std::string list =
      "STA: *345610.0*\"AAAA\"*1.0*\"one\"*\"a\"*\n"
      "STA: *345630.0*\"BBBB\"*2.0*\"two\"*\"b\"*\n";
  ASSERT_TRUE(gztest::WriteBytes(Path("l.sta.gz"), gztest::Gzip(list)));
  std::vector<StaRecord> table(kMaxStaRecords);
  ASSERT_EQ(2, ReadStaList(Path("l.sta.gz").c_str(), table.data()));
  EXPECT_STREQ("BBBB", table[1].StaName);
  EXPECT_EQ(2.0, table[1].StaHeight);
}

TEST_F(StationGzipTest, FailedOpensSayWhy) {
  fs::create_directory(Path("folder.sta"));
  ASSERT_TRUE(gztest::WriteBytes(Path("cut.sta.gz"), gztest::Gzip("$STAINFO x\n").substr(0, 12)));
  const struct {
    const char* Name;
    const char* Reason;
  } kCases[] = {{"missing.sta", "No such file or directory"},
                {"folder.sta", "it is a folder"},
                {"cut.sta.gz", "damaged gzip data"}};
  for (const auto& c : kCases) {
    StationFile file;
    const std::string path = Path(c.Name);
    EXPECT_EQ(1, ReadStationFile(path.c_str(), kStationAllKinds, &file));
    EXPECT_EQ("Unable to open " + path, std::string(file.Message));
    EXPECT_STREQ(c.Reason, file.OpenReason);
    EXPECT_EQ(0, IsStationInfoFile(path.c_str()));
    std::string reason;
    EXPECT_EQ(nullptr, OpenStationFile(path.c_str(), &reason));
    EXPECT_EQ(c.Reason, reason);
    StationTable table;
    EXPECT_EQ(0, table.Load("", kStationFile, path.c_str()));
    EXPECT_EQ(c.Reason, table.OpenReason());
  }
  // A file that opens has no reason, nor has a load that looks for none.
  StationTable table;
  const std::string sample = std::string(RAWCONV_SOURCE_DIR) + "/examples/sample.sta";
  EXPECT_GT(table.Load("", kStationFile, sample.c_str()), 0);
  EXPECT_EQ("", table.OpenReason());
  EXPECT_EQ(0, table.Load("", kStationFile, Path("missing.sta").c_str()));
  EXPECT_EQ(0, table.Load("", kStationNone));
  EXPECT_EQ("", table.OpenReason());
}

}  // namespace
}  // namespace rawconv
