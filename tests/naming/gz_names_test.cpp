// Names made from a gzip input's name: the ".gz" is no part of it, and the
// files beside it may be gzip files too.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "io/input_file.h"
#include "naming/file_ext.h"
#include "naming/naming.h"
#include "obs/station_table.h"
#include "support/scratch_dir.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;

TEST(GzipInputNames, OutputNamesLeaveOutTheGz) {
  NamingInput in{};
  in.RinexMajor = 2;
  in.Year = 2005;
  in.Month = 4;
  in.Day = 2;
  in.SpanSeconds = 3600.0;
  in.IntervalSeconds = 1.0;
  char plain[256], packed[256];
  for (const NameStyle style : {NameStyle::kInput, NameStyle::kShort, NameStyle::kLong}) {
    for (const Compression c : {Compression::kNone, Compression::kCrxGzip}) {
      in.GpbPath = "/data/Site1.gpb";
      ASSERT_EQ(kNameOk, MakeObsFileName(in, style, c, plain, sizeof plain));
      in.GpbPath = "/data/Site1.gpb.GZ";
      ASSERT_EQ(kNameOk, MakeObsFileName(in, style, c, packed, sizeof packed));
      EXPECT_STREQ(plain, packed);
      ASSERT_EQ(kNameOk, MakeNavFileName(in, style, c, packed, sizeof packed));
      in.GpbPath = "/data/Site1.gpb";
      ASSERT_EQ(kNameOk, MakeNavFileName(in, style, c, plain, sizeof plain));
      EXPECT_STREQ(plain, packed);
    }
  }
  in.GpbPath = "d\\site1.gpb.gz";
  ASSERT_EQ(kNameOk, MakeObsFileName(in, NameStyle::kInput, Compression::kNone, packed,
                                     sizeof packed));
  EXPECT_STREQ("site1.05o", packed);

  EXPECT_EQ("site1", InputStemOf("/data/site1.gpb.gz"));
  EXPECT_EQ("site1", InputStemOf("d\\site1.gpb"));
  EXPECT_EQ("site1", InputStemOf("site1.gz"));
  EXPECT_EQ("a.b", InputStemOf("a.b.gpb.gz"));
}

class BesideGzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeScratchDir("rawconv_gznames");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Touch(const std::string& name) const { std::ofstream(Path(name)) << "x"; }
  std::string Beside(const std::string& gpb, const char* ext) const {
    return BesideFile(Path(gpb).c_str(), ext);
  }
  std::string dir_;
};

TEST_F(BesideGzipTest, PlainFileFirstThenGzipFile) {
  // None exists: the plain name, for the message about the missing file.
  EXPECT_EQ(Path("site1.epp"), Beside("site1.gpb.gz", ".epp"));
  EXPECT_EQ(Path("site1.sta"), StationFileName(Path("site1.gpb.gz").c_str()));

  Touch("site1.epp.gz");
  Touch("site1.STA.GZ");
  EXPECT_EQ(Path("site1.epp.gz"), Beside("site1.gpb.gz", ".epp"));
  EXPECT_EQ(Path("site1.epp.gz"), Beside("site1.gpb", ".epp"));
  EXPECT_EQ(Path("site1.STA.GZ"), StationFileName(Path("site1.gpb.gz").c_str()));
  EXPECT_EQ(Path("site1.STA.GZ"), StationFileName(Path("site1.GPB").c_str()));

  Touch("site1.EPP");
  Touch("site1.sta");
  EXPECT_EQ(Path("site1.EPP"), Beside("site1.gpb.gz", ".epp"));
  EXPECT_EQ(Path("site1.sta"), StationFileName(Path("site1.gpb.gz").c_str()));

  // A folder of the name is no file.
  fs::create_directory(Path("other.epp"));
  Touch("other.epp.gz");
  EXPECT_EQ(Path("other.epp.gz"), Beside("other.gpb.gz", ".epp"));
}

TEST_F(BesideGzipTest, DialogRulesNeverLookForGzipFiles) {
  Touch("site1.epp.gz");
  Touch("site1.sta.gz");
  const InputRulesScope dialog(InputRules::kDialog);
  EXPECT_EQ(Path("site1.epp"), Beside("site1.gpb", ".epp"));
  EXPECT_EQ(Path("site1.sta"), StationFileName(Path("site1.gpb").c_str()));
}

}  // namespace
}  // namespace rawconv
