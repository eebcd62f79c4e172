// No conversion destroys data: an output that names one of its inputs is
// refused before anything is written, and a failed write or close of an
// output is reported as a failure instead of a success with a cut file.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "api/file_identity.h"
#include "support/child_process.h"
#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

using OutputSafetyTest = ConversionFixture;

std::string Refusal(const std::string& output) {
  return "Output file " + output + " is an input of the conversion; it is not overwritten";
}

TEST_F(OutputSafetyTest, FileIdentityFollowsLinksAndSpellings) {
  WriteFile(Path("a"), "a");
  WriteFile(Path("b"), "b");
  ASSERT_EQ(0, link(Path("a").c_str(), Path("hard").c_str()));
  ASSERT_EQ(0, symlink(Path("a").c_str(), Path("soft").c_str()));
  fs::create_directory(Path("sub"));
  EXPECT_TRUE(SameFile(Path("a").c_str(), Path("./a").c_str()));
  EXPECT_TRUE(SameFile(Path("a").c_str(), Path("sub/../a").c_str()));
  EXPECT_TRUE(SameFile(Path("a").c_str(), Path("hard").c_str()));
  EXPECT_TRUE(SameFile(Path("soft").c_str(), Path("a").c_str()));
  EXPECT_FALSE(SameFile(Path("a").c_str(), Path("b").c_str()));
  EXPECT_FALSE(SameFile(Path("a").c_str(), Path("missing").c_str()));
  EXPECT_FALSE(SameFile("", ""));
  EXPECT_FALSE(SameFile(Path("missing").c_str(), Path("missing").c_str()));
}

TEST_F(OutputSafetyTest, GpbFileWithTheOutputNameIsNotOverwritten) {
  // site.05o is the GPB file; the observation output of data of 2005 named
  // site.obs becomes site.05o.
  WriteInputs("site");
  fs::rename(Path("site.gpb"), Path("site.05o"));
  const std::string gpb = ReadFile(Path("site.05o"));
  for (const std::string& obs : {Path("site.obs"), Path("site.05o"), Path("./site.05o")}) {
    Fill(Path("site.05o"), obs, Path("site.epp"), Path("site.nav"));
    EXPECT_EQ(1, Convert());
    EXPECT_EQ(Refusal(obs_.ObsFile), ErrorText());
    EXPECT_EQ(gpb, ReadFile(Path("site.05o")));
    // Refused before the navigation step: nothing at all was written.
    EXPECT_FALSE(fs::exists(Path("site.05n")));
  }
}

TEST_F(OutputSafetyTest, EphemerisFileAsNavigationOutputIsNotOverwritten) {
  WriteInputs("x");
  fs::rename(Path("x.epp"), Path("x.05n"));
  fs::create_directory(Path("sub"));
  ASSERT_EQ(0, link(Path("x.05n").c_str(), Path("linked.05n").c_str()));
  const std::string epp = ReadFile(Path("x.05n"));
  // Another spelling of the same path, and a hard link with another name.
  for (const std::string& nav : {Path("sub/../x.nav"), Path("./x.nav"), Path("linked.nav")}) {
    Fill(Path("x.gpb"), Path("x.obs"), Path("x.05n"), nav);
    EXPECT_EQ(1, Convert());
    EXPECT_EQ(Refusal(nav_.NavFile), ErrorText());
    EXPECT_EQ(epp, ReadFile(Path("x.05n")));
    EXPECT_FALSE(fs::exists(Path("x.05o")));
  }

  // Without a usable reference the names keep their extensions: the
  // navigation output given as the EPP path itself is refused too.
  WriteFile(Path("plain.epp"), "$EPHREC 1 0\n");
  Fill(Path("x.gpb"), Path("x.obs"), Path("plain.epp"), Path("./plain.epp"));
  EXPECT_EQ(1, Convert());
  EXPECT_EQ(Refusal(Path("./plain.epp")), ErrorText());
  EXPECT_EQ("$EPHREC 1 0\n", ReadFile(Path("plain.epp")));
}

TEST_F(OutputSafetyTest, StationFileAndNavigationOutputAreProtected) {
  WriteInputs("site");
  const std::string station = "STA: *345630.0*\"BASE\"*1.5*\"first\"*\"second\"*\n";
  WriteFile(Path("site.sta"), station);
  // The observation output is a symbolic link to the station file.
  ASSERT_EQ(0, symlink(Path("site.sta").c_str(), Path("alias.05o").c_str()));
  Fill(Path("site.gpb"), Path("alias.obs"), Path("site.epp"), Path("site.nav"));
  EXPECT_EQ(1, Convert());
  EXPECT_EQ(Refusal(Path("alias.05o")), ErrorText());
  EXPECT_EQ(station, ReadFile(Path("site.sta")));

  // Both outputs one file: the navigation file is not overwritten by the
  // observation file.
  WriteFile(Path("out.05n"), "previous navigation file\n");
  ASSERT_EQ(0, link(Path("out.05n").c_str(), Path("out.05o").c_str()));
  Fill(Path("site.gpb"), Path("out.obs"), Path("site.epp"), Path("out.nav"));
  EXPECT_EQ(1, Convert());
  EXPECT_EQ("Output file " + Path("out.05o") + " is also the navigation output " +
                Path("out.05n"),
            ErrorText());
  EXPECT_EQ("previous navigation file\n", ReadFile(Path("out.05n")));

  // Outputs of an earlier run are no inputs: converting again replaces them.
  Fill("site");
  ASSERT_EQ(0, Convert()) << ErrorText();
  Fill("site");
  ASSERT_EQ(0, Convert()) << ErrorText();
  EXPECT_EQ(station, ReadFile(Path("site.sta")));
  EXPECT_NE(std::string::npos, ReadFile(Path("site.05o")).find("BASE"));
}

TEST_F(OutputSafetyTest, PathFieldsWithoutTerminatorAreNotReadPastTheirEnd) {
  WriteInputs("x");
  // A GPB path that fills its whole field is no path of an existing file.
  Fill("x");
  std::memset(obs_.GpbFile, 'g', sizeof obs_.GpbFile);
  EXPECT_EQ(-1, Convert());
  EXPECT_EQ(0u, ErrorText().find("GPB file '" + std::string(200, 'g')));
  // An output field without terminator cannot take its new extension.
  Fill("x");
  std::memset(obs_.ObsFile, 'o', sizeof obs_.ObsFile);
  EXPECT_EQ(1, Convert());
  EXPECT_EQ("Output path too long: " + std::string(233, 'o'), ErrorText());
  EXPECT_FALSE(fs::exists(Path("x.05n")));
}

// Runs the conversion in a child process whose files may not grow beyond
// limit bytes. Returns the result and the error text.
testsupport::Outcome ConvertWithFileSizeLimit(ObsRequest* obs, NavRequest* nav, long limit) {
  testsupport::Injection how;
  how.FileSizeLimit = limit;
  return testsupport::InChild(
      [&]() {
        testsupport::Outcome out;
        out.Code = Gpb_To_Rinex_Ver(obs, nav, RINEX_VERSION_2_1);
        char text[256] = {};
        Get_Error_Str(text);
        out.Message = text;
        return out;
      },
      how);
}

TEST_F(OutputSafetyTest, WriteFailuresOfEitherOutputFailTheCall) {
  // Forty ephemerides make a navigation file of about 26 KB, and 300 epochs
  // an observation file of about 60 KB; a file of one ephemeris about 900
  // bytes.
  WriteInputs("big_nav", 3, 40);
  WriteInputs("big_obs", 300, 1);

  Fill("big_nav");
  testsupport::Outcome r = ConvertWithFileSizeLimit(&obs_, &nav_, 8192);
  EXPECT_EQ(1, r.Code);
  EXPECT_EQ("Error writing " + Path("big_nav.05n"), r.Message);
  EXPECT_FALSE(fs::exists(Path("big_nav.05o")));

  Fill("big_obs");
  r = ConvertWithFileSizeLimit(&obs_, &nav_, 8192);
  EXPECT_EQ(1, r.Code);
  EXPECT_EQ("Error writing " + Path("big_obs.05o"), r.Message);
  // Neither output of the failed call stays, nor a temporary file.
  EXPECT_FALSE(fs::exists(Path("big_obs.05o")));
  EXPECT_FALSE(fs::exists(Path("big_obs.05n")));
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(std::string::npos, entry.path().string().find(".part-")) << entry.path();

  // With room for both files the same calls succeed.
  Fill("big_nav");
  EXPECT_EQ(0, ConvertWithFileSizeLimit(&obs_, &nav_, 1 << 20).Code);
  Fill("big_obs");
  EXPECT_EQ(0, ConvertWithFileSizeLimit(&obs_, &nav_, 1 << 20).Code);
}

TEST_F(OutputSafetyTest, FailedCallsLeaveExistingOutputsAsTheyWere) {
  // A good earlier result survives a re-run that fails, and a run that
  // succeeds replaces it with a complete file.
  WriteInputs("x");
  Fill("x");
  ASSERT_EQ(0, Convert()) << ErrorText();
  const std::string good_obs = ReadFile(Path("x.05o"));
  const std::string good_nav = ReadFile(Path("x.05n"));
  WriteFile(Path("x.epp"), "NOTEPP 1 0\n");  // now fails in the navigation step
  Fill("x");
  EXPECT_EQ(1, Convert());
  EXPECT_EQ(good_obs, ReadFile(Path("x.05o")));
  EXPECT_EQ(good_nav, ReadFile(Path("x.05n")));

  // The same under a file size limit that fails the observation output.
  WriteInputs("x", 300, 1);
  Fill("x");
  const testsupport::Outcome r = ConvertWithFileSizeLimit(&obs_, &nav_, 8192);
  EXPECT_EQ(1, r.Code);
  EXPECT_EQ(good_obs, ReadFile(Path("x.05o")));
  EXPECT_EQ(good_nav, ReadFile(Path("x.05n")));
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
