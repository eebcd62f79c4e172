// The conversion call through the exported entry points: validation, output
// naming, the navigation and observation steps and their failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "api/context.h"
#include "api/rawconv.h"
#include "obs/run_date.h"
#include "support/conversion_fixture.h"
#include "support/epp_fixture.h"
#include "support/gpb_builder.h"

namespace rawconv {
namespace convtest {
namespace {

using epptest::WriteEppFile;
using gpbtest::GpbFileBuilder;


// The shared conversion fixture with GPB files of four satellites.
class ConversionTest : public ConversionFixture {
 protected:
  // A new-format GPB file of n epochs, 30 s apart from tow.
  void WriteGpb(const std::string& name, double tow, int n = 3) {
    WriteFile(Path(name), AsText(GpbBytes(tow, n)));
  }
};

TEST_F(ConversionTest, ValidationFailuresCreateNoOutput) {
  Fill("missing");
  EXPECT_EQ(-1, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1));
  EXPECT_EQ("GPB file '" + Path("missing.gpb") + "' does not exits or cannot be opened",
            ErrorText());
  EXPECT_EQ(1, Gpb_To_Rinex(&obs_, &nav_));

  // A header without epochs: the reader's end-of-file text.
  ASSERT_TRUE(GpbFileBuilder::New(6, "").Write(Path("empty.gpb")));
  Fill("empty");
  ASSERT_TRUE(WriteEppFile(Path("empty.epp"), {{1341, 345600}}));
  EXPECT_EQ(-1, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1));
  EXPECT_EQ("Reached end of file", ErrorText());

  // Neither format.
  WriteFile(Path("text.gpb"), "not a gpb file\n");
  Fill("text");
  EXPECT_EQ(-1, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_0));
  EXPECT_EQ("Invalid GPB file type for '" + Path("text.gpb") + "'--neither new or old format",
            ErrorText());

  for (const char* name : {"missing", "empty", "text"}) {
    for (const char* ext : {".obs", ".nav", ".05o", ".05n"})
      EXPECT_FALSE(fs::exists(Path(std::string(name) + ext))) << name << ext;
  }
}

TEST_F(ConversionTest, NamesOutputsAfterTheYearOfTheFirstEpoch) {
  // Week 1000 is March 1999.
  WriteGpb("x.gpb", 345600.0 + 3600.0);
  ASSERT_TRUE(WriteEppFile(Path("x.epp"), {{1000, 345600}}));
  Fill("x");
  std::snprintf(obs_.ObsFile, sizeof obs_.ObsFile, "  %s", Path("x.obs").c_str());
  ASSERT_EQ(0, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1)) << ErrorText();
  EXPECT_STREQ(Path("x.99o").c_str(), obs_.ObsFile);  // leading blanks removed
  EXPECT_STREQ(Path("x.99n").c_str(), nav_.NavFile);
  EXPECT_TRUE(fs::exists(Path("x.99o")));
  EXPECT_TRUE(fs::exists(Path("x.99n")));
  EXPECT_NE(std::string::npos,
            ReadFile(Path("x.99o")).find("  1999     3    11     1     0    0.0000000"));
}

TEST_F(ConversionTest, WeekOverrideDatesNamesFirstObsAndEpochsAlike) {
  WriteGpb("x.gpb", 345600.0 + 3600.0);
  ASSERT_TRUE(WriteEppFile(Path("x.epp"), {{1000, 345600}}));
  Fill("x");
  obs_.UseGpsWeek = 1;
  obs_.GpsWeek = 1341;  // September 2005
  ASSERT_EQ(0, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1)) << ErrorText();
  // A header or a name of 1999 over epochs of 2005 would contradict the data.
  EXPECT_STREQ(Path("x.05o").c_str(), obs_.ObsFile);
  EXPECT_STREQ(Path("x.05n").c_str(), nav_.NavFile);
  EXPECT_FALSE(fs::exists(Path("x.99o")));
  const std::string text = ReadFile(Path("x.05o"));
  EXPECT_NE(std::string::npos, text.find("  2005     9    22     1     0"));  // TIME OF FIRST OBS
  EXPECT_NE(std::string::npos, text.find("\n 05  9 22  1  0  0.0000000  0  4G 3G 4G 5G 6"));
}

TEST_F(ConversionTest, NavigationStepFailures) {
  WriteGpb("x.gpb", 345600.0);
  Fill("x");
  // Missing ephemeris file: its own message, no observation file, names kept.
  EXPECT_EQ(1, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1));
  EXPECT_EQ("Error opening input epp file " + Path("x.epp"), ErrorText());
  EXPECT_STREQ(Path("x.obs").c_str(), obs_.ObsFile);
  EXPECT_FALSE(fs::exists(Path("x.obs")));

  // Not an EPP file: its message, and a file of the navigation output's
  // name (which keeps its extension: no year is known) is left as it was.
  WriteFile(Path("x.nav"), "keep\n");
  WriteFile(Path("x.epp"), "NOTEPP 1 0\nGpsEph {\n}\n");
  EXPECT_EQ(1, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1));
  EXPECT_EQ("Header of EPP file invalid, not EPP file", ErrorText());
  EXPECT_EQ("keep\n", ReadFile(Path("x.nav")));
  EXPECT_FALSE(fs::exists(Path("x.obs")));
  fs::remove(Path("x.nav"));

  // A navigation file that cannot be created.
  ASSERT_TRUE(WriteEppFile(Path("x.epp"), {{1341, 345600}}));
  std::snprintf(nav_.NavFile, sizeof nav_.NavFile, "%s", Path("no/such/dir/x.nav").c_str());
  EXPECT_EQ(1, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1));
  EXPECT_EQ("Error opening ouput nav file " + Path("no/such/dir/x.05n"), ErrorText());
}

TEST_F(ConversionTest, ObservationFileThatCannotBeCreated) {
  WriteGpb("x.gpb", 345600.0);
  ASSERT_TRUE(WriteEppFile(Path("x.epp"), {{1341, 345600}}));
  Fill("x");
  std::snprintf(obs_.ObsFile, sizeof obs_.ObsFile, "%s", Path("no/such/dir/x.obs").c_str());
  EXPECT_EQ(1, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1));
  EXPECT_EQ("Error opening obs file " + Path("no/such/dir/x.05o") + ".", ErrorText());
  // Nothing of a failed call stays, not even its complete navigation file.
  EXPECT_FALSE(fs::exists(Path("x.05n")));
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(std::string::npos, entry.path().string().find(".part-")) << entry.path();
}

TEST_F(ConversionTest, EphemerisWithoutRecords) {
  WriteGpb("x.gpb", 345600.0);
  Fill("x");
  WriteFile(Path("x.epp"), "$EPHREC 1 0\n");
  // Without a week override the data cannot be dated: the call fails after
  // the navigation step and writes no observation file.
  EXPECT_EQ(1, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1));
  EXPECT_NE(std::string::npos, ErrorText().find(Path("x.epp")));
  EXPECT_STREQ(Path("x.obs").c_str(), obs_.ObsFile);
  // A navigation file without a year in its name is never written.
  EXPECT_FALSE(fs::exists(Path("x.nav")));
  EXPECT_FALSE(fs::exists(Path("x.obs")));

  // With the override its week dates everything.
  obs_.UseGpsWeek = 1;
  obs_.GpsWeek = 1341;
  ASSERT_EQ(0, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1)) << ErrorText();
  EXPECT_STREQ(Path("x.05o").c_str(), obs_.ObsFile);
  const std::string text = ReadFile(Path("x.05o"));
  EXPECT_NE(std::string::npos, text.find("  2005     9    22     0     0"));
  EXPECT_NE(std::string::npos, text.find("\n 05  9 22  0  0  0.0000000  0  4"));
}

TEST_F(ConversionTest, StationFileBesideTheGpbFileAddsBlocks) {
  WriteGpb("site.gpb", 345600.0);
  ASSERT_TRUE(WriteEppFile(Path("site.epp"), {{1341, 345600}}));
  WriteFile(Path("site.sta"), "STA: *345630.0*\"BASE\"*1.5*\"first\"*\"second\"*\n");
  Fill("site");
  ASSERT_EQ(0, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1)) << ErrorText();
  const std::string text = ReadFile(Path("site.05o"));
  EXPECT_NE(std::string::npos,
            text.find("                            3  4\nBASE                "));
}

TEST_F(ConversionTest, FailureThenSuccessInTheSameLibrary) {
  Fill("missing");
  EXPECT_EQ(-1, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1));
  const std::string failure = ErrorText();

  WriteGpb("x.gpb", 345600.0);
  ASSERT_TRUE(WriteEppFile(Path("x.epp"), {{1341, 345600}}));
  Fill("x");
  EXPECT_EQ(0, Gpb_To_Rinex(&obs_, &nav_));
  EXPECT_EQ(failure, ErrorText());  // the text is never cleared
  const std::string text = ReadFile(Path("x.05o"));
  EXPECT_EQ(0u, text.find("     2              OBSERVATION DATA    G (GPS)"));  // RINEX 2.0
  EXPECT_STREQ(Path("x.05n").c_str(), nav_.NavFile);
}

TEST_F(ConversionTest, RunDateAndVersionInBothHeaders) {
  WriteGpb("x.gpb", 345600.0);
  ASSERT_TRUE(WriteEppFile(Path("x.epp"), {{1341, 345600}}));
  Fill("x");
  std::snprintf(obs_.RunBy, sizeof obs_.RunBy, "OPERATOR");
  std::snprintf(nav_.RunBy, sizeof nav_.RunBy, "OPERATOR");
  ASSERT_EQ(0, Gpb_To_Rinex_Ver(&obs_, &nav_, RINEX_VERSION_2_1)) << ErrorText();
  const std::string pgm = "RAWCONV v7.00       OPERATOR            7-DEC-05 14:30      PGM / RUN BY / DATE";
  EXPECT_NE(std::string::npos, ReadFile(Path("x.05o")).find(pgm));
  EXPECT_NE(std::string::npos, ReadFile(Path("x.05n")).find(pgm));
  EXPECT_EQ(0u, ReadFile(Path("x.05o")).find("     2.10           OBSERVATION DATA"));
  EXPECT_EQ(0u, ReadFile(Path("x.05n")).find("     2.10           N: GPS NAV DATA"));
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
