// gpb2rinex's quality check and file information options as a user runs
// them: what is printed, which files appear, and the argument checks.
#include <string>
#include <vector>

#include "cli/cli_fixture.h"

namespace rawconv {
namespace clitest {
namespace {

using QcCliTest = CliTest;
using Args = std::vector<std::string>;

TEST_F(QcCliTest, QcPrintsOneSummaryLinePerFileAndWritesTheReports) {
  WriteInput("a");
  WriteInput("b");
  const ToolRun run = Run({"--qc", "a.gpb", "b.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("a.gpb -> a.05o a.05n\n"
            "a.gpb: 2005-09-22 00:00:00.000 to 2005-09-22 00:01:00.000, 30 s, 3/3 epochs "
            "(100.0%), 0 gaps, 1 satellites, 0 slips\n"
            "b.gpb -> b.05o b.05n\n"
            "b.gpb: 2005-09-22 00:00:00.000 to 2005-09-22 00:01:00.000, 30 s, 3/3 epochs "
            "(100.0%), 0 gaps, 1 satellites, 0 slips\n",
            run.Out);
  for (const char* ext : {".qc.txt", ".qc.json", ".qc.html"}) {
    EXPECT_TRUE(Exists(std::string("a.05o") + ext)) << ext;
    EXPECT_TRUE(Exists(std::string("b.05o") + ext)) << ext;
  }
  EXPECT_EQ(0u, Read("a.05o.qc.txt").find("a.gpb: 2005-09-22"));

  // Refused like the RINEX files on a second run; -q keeps stdout empty.
  const ToolRun again = Run({"--qc", "-q", "a.gpb"});
  EXPECT_EQ(1, again.Code);
  EXPECT_EQ("", again.Out);
  const ToolRun forced = Run({"--qc", "-q", "--force", "a.gpb"});
  EXPECT_EQ(0, forced.Code) << forced.Err;
  EXPECT_EQ("", forced.Out);
}

TEST_F(QcCliTest, QcOnlyWritesReportsAndNoRinex) {
  WriteInput("in/a");
  const ToolRun run = Run({"--qc-only", "--elevation-mask", "5", "-o", "out", "in/a.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ(0u, run.Out.find("in/a.gpb: 2005-09-22 00:00:00.000 to")) << run.Out;
  EXPECT_EQ(1u, static_cast<size_t>(std::count(run.Out.begin(), run.Out.end(), '\n')));
  EXPECT_TRUE(Exists("out/a.qc.json"));
  EXPECT_NE(std::string::npos, Read("out/a.qc.json").find("\"elevation_mask_deg\": 5,"));
  EXPECT_TRUE(FilesContaining(".05o").empty());
  EXPECT_TRUE(FilesContaining(".05n").empty());

  // A report folder is made when missing.
  const ToolRun dir = Run({"--qc-only", "--qc-dir", "reports/day", "in/a.gpb"});
  ASSERT_EQ(0, dir.Code) << dir.Err;
  EXPECT_TRUE(Exists("reports/day/a.qc.html"));
}

TEST_F(QcCliTest, TwoFilesWritingTheSameReportStopTheBatch) {
  WriteInput("x/a");
  WriteInput("y/a");
  const ToolRun run = Run({"--qc-only", "-o", "out", "x/a.gpb", "y/a.gpb"});
  EXPECT_EQ(2, run.Code);
  EXPECT_NE(std::string::npos, run.Err.find("would both write")) << run.Err;
  EXPECT_FALSE(Exists("out/a.qc.txt"));
}

TEST_F(QcCliTest, QcArgumentsAreChecked) {
  WriteInput("a");
  const std::vector<Args> bad = {
      {"--qc", "--qc-only", "a.gpb"},
      {"--elevation-mask", "91", "--qc", "a.gpb"},
      {"--elevation-mask", "-1", "--qc", "a.gpb"},
      {"--elevation-mask", "ten", "--qc", "a.gpb"},
      {"--elevation-mask", "5", "a.gpb"},
      {"--qc-dir", "r", "a.gpb"},
      {"--json", "a.gpb"},
      {"--info", "--qc", "a.gpb"},
  };
  for (const Args& args : bad) {
    const ToolRun run = Run(args);
    EXPECT_EQ(2, run.Code) << args[0] << " " << args[1];
    EXPECT_FALSE(run.Err.empty());
  }
  EXPECT_TRUE(FilesContaining(".05").empty());
  EXPECT_TRUE(FilesContaining(".qc.").empty());
}

TEST_F(QcCliTest, InfoDescribesEachFileAndConvertsNothing) {
  WriteInput("a");
  CopySample("s.gpb", "s.epp");
  const ToolRun run = Run({"--info", "a.gpb", "s.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  const std::string& out = run.Out;
  EXPECT_EQ(0u, out.find("a.gpb\n  receiver        CLI"));
  EXPECT_NE(std::string::npos, out.find("  epochs          3\n"));
  EXPECT_NE(std::string::npos, out.find("  first epoch     2005-09-22 00:00:00.000\n"));
  EXPECT_NE(std::string::npos, out.find("  last epoch      2005-09-22 00:01:00.000\n"));
  EXPECT_NE(std::string::npos, out.find("  interval        30 s\n"));
  EXPECT_NE(std::string::npos, out.find("  satellites      1 G05\n"));
  EXPECT_NE(std::string::npos, out.find("C1 3 L1 0"));
  EXPECT_NE(std::string::npos, out.find("\n\ns.gpb\n")) << out;
  EXPECT_NE(std::string::npos, out.find("  end             complete\n"));
  EXPECT_TRUE(FilesContaining(".05o").empty());
  EXPECT_TRUE(FilesContaining(".qc.").empty());
}

TEST_F(QcCliTest, InfoJsonIsOneDocumentThatParses) {
  WriteInput("a");
  // The last record cut short: the end is reported as damaged.
  CopySample("cut.gpb", "cut.epp");
  fs::resize_file(Path("cut.gpb"), fs::file_size(Path("cut.gpb")) - 100);
  const ToolRun run = Shell(
      "$TOOL --info --json a.gpb cut.gpb missing.gpb | python3 -c '"
      "import json, sys\n"
      "d = json.load(sys.stdin)\n"
      "a, cut, missing = d[\"files\"]\n"
      "print(a[\"epochs\"], a[\"interval_s\"], a[\"first\"], a[\"satellites\"], a[\"damaged\"])\n"
      "print(a[\"observations\"][\"C1\"], a[\"observations\"][\"S2\"], a[\"mean_position\"] is None)\n"
      "print(cut[\"epochs\"] > 0, cut[\"damaged\"], bool(cut[\"damage\"]))\n"
      "print(missing[\"file\"], \"error\" in missing)\n"
      "'");
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("3 30 2005-09-22 00:00:00.000 ['G05'] False\n"
            "3 0 True\n"
            "True True True\n"
            "missing.gpb True\n",
            run.Out);
  // The missing file fails the run.
  EXPECT_EQ(1, Run({"--info", "--json", "missing.gpb"}).Code);
}

}  // namespace
}  // namespace clitest
}  // namespace rawconv
