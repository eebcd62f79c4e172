// gpb2rinex without an ephemeris file: the hint that names the ways to date
// the epochs, and the warning of a conversion that wrote the observation
// file alone. The library's own account (the field at fault, the warning
// lines) is what the command line turns into these lines.
#include <string>
#include <vector>

#include "cli/cli_fixture.h"

namespace rawconv {
namespace clitest {
namespace {

class EphemerisHintsTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (IsSkipped()) return;
    WriteInput("a");
    fs::remove(Path("a.epp"));
  }
};

TEST_F(EphemerisHintsTest, MissingEphemerisNamesTheWaysOut) {
  const ToolRun run = Run({"a.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_EQ(0u, run.Err.find("a.gpb: ")) << run.Err;
  EXPECT_NE(std::string::npos, run.Err.find("a.epp")) << run.Err;
  // Once, whether the library or the command line words it.
  const std::string hint = "--epp FILE, --week N or --date DATE";
  const size_t at = run.Err.find(hint);
  EXPECT_NE(std::string::npos, at) << run.Err;
  EXPECT_EQ(std::string::npos, run.Err.find(hint, at + 1)) << run.Err;
  EXPECT_TRUE(FilesContaining(".05").empty());
}

// The advice is for a recording nothing dates; a file the user named that
// is not an EPP file, or is missing, is told as it is.
TEST_F(EphemerisHintsTest, ANamedEphemerisFileIsToldWithoutTheAdvice) {
  Write("b.sta", "$STAINFO\n");
  for (const std::string& epp : {std::string("b.sta"), std::string("nothere.epp")}) {
    const ToolRun run = Run({"--epp", epp, "a.gpb"});
    EXPECT_EQ(1, run.Code) << epp;
    EXPECT_EQ(0u, run.Err.find("a.gpb: ")) << run.Err;
    EXPECT_NE(std::string::npos, run.Err.find(epp)) << run.Err;
    EXPECT_EQ(std::string::npos, run.Err.find("--week N")) << run.Err;
  }
}

// A run that wrote nothing leaves no output folder it made behind; one that
// wrote keeps it.
TEST_F(EphemerisHintsTest, AFailedRunTakesAwayTheFoldersItMade) {
  ToolRun run = Run({"-o", "made/deeper", "a.gpb"});
  EXPECT_EQ(1, run.Code) << run.Err;
  EXPECT_FALSE(fs::exists(Path("made"))) << run.Err;
  run = Run({"-o", "made/deeper", "--week", "1341", "a.gpb"});
  EXPECT_EQ(0, run.Code) << run.Err;
  EXPECT_TRUE(fs::exists(Path("made/deeper/a.05o"))) << run.Err;
}

TEST_F(EphemerisHintsTest, WeekOrDayGiveTheObservationFileWithAWarning) {
  for (const std::vector<std::string>& dating :
       {std::vector<std::string>{"--week", "1341"}, std::vector<std::string>{"--date", "2005-09-22"}}) {
    std::vector<std::string> args = dating;
    args.push_back("-f");
    args.push_back("a.gpb");
    const ToolRun run = Run(args);
    ASSERT_EQ(0, run.Code) << dating[0] << ": " << run.Err;
    EXPECT_TRUE(Exists("a.05o")) << dating[0];
    EXPECT_NE(std::string::npos,
              Read("a.05o").find("  2005     9    22     0     0    0.0000000"))
        << dating[0];
    // The library's warning, told with the input.
    EXPECT_NE(std::string::npos, run.Err.find("a.gpb: warning: ")) << run.Err;
    EXPECT_EQ("gpb2rinex: 1 converted, 0 skipped, 0 failed\n",
              run.Err.substr(run.Err.rfind("gpb2rinex: ")));
  }
}

}  // namespace
}  // namespace clitest
}  // namespace rawconv
