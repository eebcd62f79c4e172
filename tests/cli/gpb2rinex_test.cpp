// The command-line converter as a user runs it: arguments, exit codes,
// messages and the files it writes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/epp_fixture.h"
#include "support/gpb_builder.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int Code;
  std::string Out;  // standard output and standard error
};

class Gpb2RinexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = std::string(RAWCONV_BINARY_DIR) + "/cli/gpb2rinex";
    if (!fs::exists(tool_)) GTEST_SKIP() << "gpb2rinex not built";
    char pattern[] = "/tmp/rawconv_cli_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  ToolRun Exec(const std::string& args) {
    const std::string command = "cd '" + dir_ + "' && '" + tool_ + "' " + args + " 2>&1";
    ToolRun run{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe)) run.Out += buf;
    const int status = pclose(pipe);
    run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  // dir/<stem>.gpb (three epochs of week 1341) and its ephemeris file.
  void WriteInput(const std::string& stem, const std::string& epp_name = "") {
    gpbtest::GpbFileBuilder file = gpbtest::GpbFileBuilder::New(6, "CLI");
    for (int i = 0; i < 3; ++i) {
      GpbEpoch e{};
      e.RcvTime = e.RawRcvTime = 345600.0 + 30.0 * i;
      GpbChannel ch[1]{};
      ch[0].Prn = 5;
      ch[0].ObsMask = kObsC1;
      ch[0].C1 = 21000000.0;
      e.NumChannels = 1;
      file.AddEpoch(e, ch, 1, false);
    }
    ASSERT_TRUE(file.Write(Path(stem + ".gpb")));
    ASSERT_TRUE(epptest::WriteEppFile(Path(epp_name.empty() ? stem + ".epp" : epp_name),
                                      {{1341, 345600}}));
  }

  std::string tool_;
  std::string dir_;
};

TEST_F(Gpb2RinexTest, BadArgumentsConvertNothing) {
  WriteInput("a");
  for (const char* args :
       {"--bogus a.gpb", "a.gpb --marker", "--week abc a.gpb", "--week -5 a.gpb",
        "--week 99999999999 a.gpb", "--antenna-height -1 a.gpb", "--antenna-height 1m a.gpb",
        "--rinex 3.0 a.gpb", ""}) {
    const ToolRun run = Exec(args);
    EXPECT_EQ(2, run.Code) << args;
    EXPECT_FALSE(run.Out.empty()) << args;
  }
  EXPECT_FALSE(fs::exists(Path("a.05o")));
  EXPECT_NE(std::string::npos, Exec("--week x a.gpb").Out.find("GPS Week must be an unsigned integer"));
}

TEST_F(Gpb2RinexTest, HelpAndVersion) {
  ToolRun run = Exec("--help");
  EXPECT_EQ(0, run.Code);
  EXPECT_NE(std::string::npos, run.Out.find("usage: gpb2rinex"));
  run = Exec("--version");
  EXPECT_EQ(0, run.Code);
  EXPECT_NE(std::string::npos, run.Out.find("7.601122 (2005)"));
}

TEST_F(Gpb2RinexTest, ConvertsEveryFileAndReportsEach) {
  WriteInput("a");
  WriteInput("b");
  const ToolRun run = Exec("--marker SITE --antenna-height 1.5 --rinex 2.0 a.gpb missing.gpb b.gpb");
  EXPECT_EQ(1, run.Code);  // one file failed
  EXPECT_NE(std::string::npos, run.Out.find("a.gpb -> a.05o a.05n\n"));
  EXPECT_NE(std::string::npos,
            run.Out.find("missing.gpb: GPB file 'missing.gpb' does not exits or cannot be opened\n"));
  EXPECT_NE(std::string::npos, run.Out.find("b.gpb -> b.05o b.05n\n"));
  std::string text;
  if (FILE* f = std::fopen(Path("b.05o").c_str(), "r")) {
    char buf[4096];
    size_t n = std::fread(buf, 1, sizeof buf, f);
    text.assign(buf, n);
    std::fclose(f);
  }
  EXPECT_EQ(0u, text.find("     2              OBSERVATION DATA"));
  EXPECT_NE(std::string::npos, text.find("SITE                                                        MARKER NAME"));
  EXPECT_NE(std::string::npos, text.find("        1.5000        0.0000        0.0000"));
}

TEST_F(Gpb2RinexTest, AlternateEphemerisOutputDirectoryAndQuiet) {
  WriteInput("a", "brdc.epp");
  fs::create_directory(Path("out"));
  // The alternate file is named with any extension; ".epp" is what is read.
  ToolRun run = Exec("-q --epp brdc.txt --output-dir out a.gpb");
  EXPECT_EQ(0, run.Code) << run.Out;
  EXPECT_EQ("", run.Out);
  EXPECT_TRUE(fs::exists(Path("out/a.05o")));
  EXPECT_TRUE(fs::exists(Path("out/a.05n")));
  EXPECT_FALSE(fs::exists(Path("a.05o")));
  // Without it the missing a.epp is reported.
  run = Exec("a.gpb");
  EXPECT_EQ(1, run.Code);
  EXPECT_NE(std::string::npos, run.Out.find("Error opening input epp file a.epp"));
}

TEST_F(Gpb2RinexTest, WeekOverride) {
  WriteInput("a");
  const ToolRun run = Exec("--week 1400 a.gpb");
  EXPECT_EQ(0, run.Code) << run.Out;
  std::string text;
  // The name follows the overriding week too.
  if (FILE* f = std::fopen(Path("a.06o").c_str(), "r")) {
    char buf[8192];
    text.assign(buf, std::fread(buf, 1, sizeof buf, f));
    std::fclose(f);
  }
  // Week 1400 + 345600 s is 2006-11-09.
  EXPECT_NE(std::string::npos, text.find("\n 06 11  9  0  0  0.0000000  0  1G 5"));
}

}  // namespace
}  // namespace rawconv
