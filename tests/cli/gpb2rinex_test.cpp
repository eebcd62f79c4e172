// The command-line converter as a user runs it: arguments, exit codes,
// messages and the files it writes.
#include <algorithm>
#include <string>
#include <vector>

#include "api/rawconv_api.h"
#include "cli/cli_fixture.h"

namespace rawconv {
namespace clitest {
namespace {

using Gpb2RinexTest = CliTest;
using Args = std::vector<std::string>;

// Every header line of a RINEX file fits 80 columns.
void ExpectHeaderWithin80Columns(const std::string& text) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    EXPECT_LE(line.size(), 80u) << line;
    if (line.find("END OF HEADER") != std::string::npos) break;
    at = end + 1;
  }
}

TEST_F(Gpb2RinexTest, BadArgumentsConvertNothing) {
  WriteInput("a");
  const std::vector<Args> bad = {
      {"--bogus", "a.gpb"},
      {"-x", "a.gpb"},
      {"a.gpb", "--marker"},
      {"--week", "abc", "a.gpb"},
      {"--week", "-5", "a.gpb"},
      {"--week", "99999999999", "a.gpb"},
      {"--antenna-height", "1m", "a.gpb"},
      {"--rinex", "3.0", "a.gpb"},
      {"--rinex", "3.01", "a.gpb"},
      {"--rinex", "4.01", "a.gpb"},
      {"--marker-type", "TRIPOD", "a.gpb"},
      {"--marker-type", "GEODETIC", "a.gpb"},                      // RINEX 2.10 by default
      {"--marker-type", "GEODETIC", "--rinex", "2.11", "a.gpb"},
      {"--rinex", "3", "--marker-type", "HUMAN", "--rinex", "2", "a.gpb"},  // the last --rinex
      {"--obs-types", "C1C,L5Q", "a.gpb"},
      {"--names", "odd", "a.gpb"},
      {"--compress", "zip", "a.gpb"},
      {"--station-id", "ABCD", "a.gpb"},
      {"-j", "0", "a.gpb"},
      {"-j65", "a.gpb"},
      {"--force", "--skip-existing", "a.gpb"},
      {"--from-list", "no-such-list", "a.gpb"},
      {},
  };
  for (const Args& args : bad) {
    const ToolRun run = Run(args);
    const std::string joined = args.empty() ? "(none)" : args[0];
    EXPECT_EQ(2, run.Code) << joined;
    EXPECT_FALSE(run.Err.empty()) << joined;
    EXPECT_EQ("", run.Out) << joined;
  }
  EXPECT_FALSE(Exists("a.05o"));
  EXPECT_NE(std::string::npos, Run({"--week", "x", "a.gpb"}).Err.find("GPS week must be a whole number from 0 to 5216"));
}

// Version texts read by the library's table (tested there in full), the
// navigation file of each family, and the messages that name what the user
// gave.
TEST_F(Gpb2RinexTest, RinexVersionsMarkerTypeAndObservationCodes) {
  WriteInput("a");
  const struct {
    const char* Given;
    const char* Obs;  // columns 1-9 of both files' first lines
    const char* Nav;
  } kVersions[] = {{"2", "     2.11", "     2.11"},
                   {"2.0", "     2", "     2.10"},
                   {"3.02", "     3.02", "     3.02"},
                   {"4", "     4.00", "     4.00"}};
  for (const auto& v : kVersions) {
    const std::string out = std::string("v") + v.Given;
    const ToolRun run = Run({"-q", "--rinex", v.Given, "-o", out, "a.gpb"});
    ASSERT_EQ(0, run.Code) << v.Given << run.Err;
    EXPECT_EQ(v.Obs, Read(out + "/a.05o").substr(0, std::string(v.Obs).size())) << v.Given;
    EXPECT_EQ(v.Nav, Read(out + "/a.05n").substr(0, 9)) << v.Given;
  }
  ToolRun run = Run({"--rinex", "3.01", "a.gpb"});
  EXPECT_NE(std::string::npos, run.Err.find("'3.01'")) << run.Err;
  EXPECT_NE(std::string::npos, run.Err.find("3.02, 3.03")) << run.Err;
  run = Run({"--rinex", "2", "--marker-type", "human", "a.gpb"});
  EXPECT_NE(std::string::npos, run.Err.find("RINEX 2.11 has no MARKER TYPE record")) << run.Err;
  run = Run({"--marker-type", "tripod", "--rinex", "3", "a.gpb"});
  EXPECT_NE(std::string::npos, run.Err.find("\"tripod\"")) << run.Err;
  run = Run({"--obs-types", "C1,L5Q", "a.gpb"});
  EXPECT_NE(std::string::npos, run.Err.find("\"L5Q\"")) << run.Err;

  // The marker type in upper case after MARKER NAME, whichever option
  // comes first; RINEX 3 codes select types in a RINEX 2 file.
  CopySample("s.gpb", "s.epp");
  run = Run({"-q", "--marker-type", "ground_craft", "--rinex", "4", "-o", "mt", "--marker", "CAR",
             "--obs-types", "C1C,L1C", "s.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  const std::string obs = Read("mt/s.05o");
  EXPECT_NE(std::string::npos,
            obs.find("MARKER NAME         \nGROUND_CRAFT" + std::string(48, ' ') + "MARKER TYPE"));
  EXPECT_NE(std::string::npos, obs.find("G    2 C1C L1C "));
  run = Run({"-q", "--obs-types", "L1C,C1C", "-o", "codes", "s.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_NE(std::string::npos, Read("codes/s.05o").find("     2    C1    L1"));
}

TEST_F(Gpb2RinexTest, HeaderValuesBeyondTheirColumnsAreBadArguments) {
  WriteInput("a");
  const std::vector<Args> too_wide = {
      {"--marker", std::string(61, 'M')},       {"--observer", std::string(21, 'O')},
      {"--agency", std::string(41, 'A')},       {"--run-by", std::string(21, 'R')},
      {"--antenna-height", "1000000000"},       {"--antenna-height", "-0.5"},
      {"--antenna-height", "nan"},              {"--marker=" + std::string(100, 'M')},
  };
  for (Args args : too_wide) {
    args.push_back("a.gpb");
    const ToolRun run = Run(args);
    EXPECT_EQ(2, run.Code) << args[0];
    EXPECT_FALSE(run.Err.empty()) << args[0];
  }
  EXPECT_FALSE(Exists("a.05o"));

  // The widest values that fit are accepted.
  ToolRun run = Run({"--marker", std::string(60, 'M'), "--observer", std::string(20, 'O'),
                     "--agency", std::string(40, 'A'), "--run-by", std::string(20, 'R'),
                     "--antenna-height", "999999999.9999", "a.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  const std::string obs = Read("a.05o");
  EXPECT_NE(std::string::npos, obs.find("\n" + std::string(60, 'M') + "MARKER NAME"));
  EXPECT_NE(std::string::npos, obs.find(std::string(20, 'O') + std::string(40, 'A') + "OBSERVER / AGENCY"));
  EXPECT_NE(std::string::npos, obs.find("\n999999999.9999        0.0000        0.0000"));

  // As many comment lines as the library's table allows, not one more.
  Args comments;
  for (int i = 0; i <= RAWCONV_COMMENT_COUNT_MAX; ++i) {
    comments.push_back("--comment");
    comments.push_back("line " + std::to_string(i));
  }
  comments.push_back("a.gpb");
  run = Run(comments);
  EXPECT_EQ(2, run.Code);
  EXPECT_NE(std::string::npos, run.Err.find("at most 32 --comment lines")) << run.Err;
  comments.erase(comments.end() - 3, comments.end() - 1);
  comments.insert(comments.begin(), "-f");
  run = Run(comments);
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_NE(std::string::npos, Read("a.05o").find("line 31"));

  // Within the columns the header keeps its 80 columns.
  run = Run({"-f", "--marker", std::string(20, 'M'), "--observer", std::string(20, 'O'), "--agency",
             std::string(40, 'A'), "--run-by", std::string(20, 'R'), "--antenna-height",
             "999999999.9999", "a.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  ExpectHeaderWithin80Columns(Read("a.05o"));
  ExpectHeaderWithin80Columns(Read("a.05n"));
}

TEST_F(Gpb2RinexTest, HelpAndVersion) {
  ToolRun run = Run({"--help"});
  EXPECT_EQ(0, run.Code);
  EXPECT_NE(std::string::npos, run.Out.find("usage: gpb2rinex"));
  EXPECT_NE(std::string::npos, run.Out.find("--skip-existing"));
  run = Run({"--version"});
  EXPECT_EQ(0, run.Code);
  EXPECT_EQ("gpb2rinex 7.60.1122\n", run.Out);
}

TEST_F(Gpb2RinexTest, SuccessLinesOnStdoutFailureLinesOnStderr) {
  WriteInput("a");
  WriteInput("b");
  const ToolRun run =
      Run({"--marker", "SITE", "--antenna-height", "1.5", "--rinex", "2.0", "a.gpb", "missing.gpb", "b.gpb"});
  EXPECT_EQ(1, run.Code);  // one file failed
  EXPECT_EQ("a.gpb -> a.05o a.05n\nb.gpb -> b.05o b.05n\n", run.Out);
  EXPECT_EQ(0u, run.Err.find("missing.gpb: Cannot open GPB file missing.gpb: No such file or directory\n"))
      << run.Err;
  EXPECT_EQ(1u, std::count(run.Err.begin(), run.Err.end(), '\n') - 1) << run.Err;
  const std::string text = Read("b.05o");
  EXPECT_EQ(0u, text.find("     2              OBSERVATION DATA"));
  EXPECT_NE(std::string::npos, text.find("SITE                                                        MARKER NAME"));
  EXPECT_NE(std::string::npos, text.find("        1.5000        0.0000        0.0000"));
}

TEST_F(Gpb2RinexTest, OptionValuesAfterEqualsSignsAndShortForms) {
  WriteInput("a");
  WriteInput("b");
  ToolRun run = Run({"--marker=ABCD", "--rinex=2.10", "--output-dir=x/y", "a.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_NE(std::string::npos, Read("x/y/a.05o").find("ABCD                                                        MARKER NAME"));
  run = Run({"-q", "-o", "deep/er/still", "-j2", "b.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("", run.Out);
  EXPECT_TRUE(Exists("deep/er/still/b.05o"));
  EXPECT_TRUE(Exists("deep/er/still/b.05n"));
  EXPECT_FALSE(Exists("b.05o"));
  // An output folder that cannot be made fails without converting.
  Write("plain", "not a folder");
  run = Run({"-o", "plain/sub", "a.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_NE(std::string::npos, run.Err.find("plain/sub"));
}

TEST_F(Gpb2RinexTest, AlternateEphemerisFile) {
  WriteInput("a", "brdc.dat");
  // The alternate file is named with any extension, and read as named.
  ToolRun run = Run({"-q", "--epp", "brdc.dat", "--output-dir", "out", "a.gpb"});
  EXPECT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("", run.Out + run.Err);
  EXPECT_TRUE(Exists("out/a.05o"));
  EXPECT_TRUE(Exists("out/a.05n"));
  EXPECT_FALSE(Exists("a.05o"));
  // Without it the missing a.epp is reported.
  run = Run({"a.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_NE(std::string::npos, run.Err.find("No ephemeris file a.epp"));
}

TEST_F(Gpb2RinexTest, WeekOverride) {
  WriteInput("a");
  const ToolRun run = Run({"--week", "1400", "a.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  // Week 1400 + 345600 s is 2006-11-09.
  EXPECT_NE(std::string::npos, Read("a.06o").find("\n 06 11  9  0  0  0.0000000  0  1G 5"));
}

TEST_F(Gpb2RinexTest, UpperCaseFilesBesideEachOther) {
  CopySample("UPPER.GPB", "UPPER.EPP", "UPPER.STA");
  const ToolRun run = Run({"UPPER.GPB"});
  ASSERT_EQ(0, run.Code) << run.Err;
  const std::vector<std::string> obs = FilesContaining(".05o");
  ASSERT_EQ(1u, obs.size());
  EXPECT_NE(std::string::npos, Slurp(obs[0]).find("pillar on the roof"));
  EXPECT_EQ(1u, FilesContaining(".05n").size());
}

TEST_F(Gpb2RinexTest, StationFileForEveryInput) {
  CopySample("d1/s.gpb", "d1/s.epp");
  CopySample("d2/t.gpb", "d2/t.epp", "common.sta");
  ToolRun run = Run({"--sta", "common.sta", "d1/s.gpb", "d2/t.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_NE(std::string::npos, Read("d1/s.05o").find("pillar on the roof"));
  EXPECT_NE(std::string::npos, Read("d2/t.05o").find("pillar on the roof"));
  run = Run({"--force", "--sta", "missing.sta", "d1/s.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_NE(std::string::npos, run.Err.find("d1/s.gpb: "));
}

TEST_F(Gpb2RinexTest, FilesFromListsInArgumentOrder) {
  WriteInput("a");
  WriteInput("b");
  WriteInput("c");
  WriteInput("sub/d");
  Write("list.txt", "# today's files\n\n  b.gpb  \r\nsub/d.gpb\r\n   # done\n");
  ToolRun run = Run({"a.gpb", "--from-list", "list.txt", "c.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("a.gpb -> a.05o a.05n\nb.gpb -> b.05o b.05n\nsub/d.gpb -> d.05o d.05n\n"
            "c.gpb -> c.05o c.05n\n",
            run.Out);

  RunSetup input;
  input.Stdin = "c.gpb\nmissing.gpb\n";
  run = Run({"-f", "-j", "2", "--from-list=-"}, input);
  EXPECT_EQ(1, run.Code);
  EXPECT_EQ("c.gpb -> c.05o c.05n\n", run.Out);
  EXPECT_NE(std::string::npos, run.Err.find("missing.gpb: "));

  // An empty list converts nothing and is no failure.
  Write("empty.txt", "# nothing yet\n");
  run = Run({"--from-list", "empty.txt"});
  EXPECT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("", run.Out);
}

// A --force run that fails at its last output (a folder in the way of the
// observation file) leaves the user's navigation file and reports as they
// were, with or without --split, and without --no-sync alike.
TEST_F(Gpb2RinexTest, AFailedForcedRunKeepsTheUsersFiles) {
  CopySample("sample.gpb", "sample.epp");
  const std::vector<std::string> users = {"sample.05n", "sample.05o.qc.txt", "sample.05o.qc.json",
                                          "sample.05o.qc.html"};
  for (const std::string& name : users) Write(name, "USER\n");
  fs::create_directory(Path("sample.05o"));
  for (const bool no_sync : {false, true}) {
    std::vector<std::string> args = {"-f", "--qc", "sample.gpb"};
    if (no_sync) args.insert(args.begin(), "--no-sync");
    const ToolRun run = Run(args);
    EXPECT_EQ(1, run.Code) << run.Err;
    EXPECT_NE(std::string::npos, run.Err.find("sample.05o")) << run.Err;
    for (const std::string& name : users) EXPECT_EQ("USER\n", Read(name)) << name;
    EXPECT_TRUE(FilesContaining(".part-").empty());
    EXPECT_TRUE(FilesContaining(".old-").empty());
  }
  // Split: the second span's file is blocked.
  for (const char* name : {"samp092a.05n", "samp092a00.05o", "sample.qc.txt"}) Write(name, "USER\n");
  fs::create_directory(Path("samp092a15.05o"));
  const ToolRun split = Run({"-f", "--qc", "--names", "short", "--split", "15m", "sample.gpb"});
  EXPECT_EQ(1, split.Code) << split.Err;
  for (const char* name : {"samp092a.05n", "samp092a00.05o", "sample.qc.txt"})
    EXPECT_EQ("USER\n", Read(name)) << name;
  EXPECT_FALSE(Exists("samp092a30.05o"));
  EXPECT_TRUE(FilesContaining(".part-").empty());
}

}  // namespace
}  // namespace clitest
}  // namespace rawconv
