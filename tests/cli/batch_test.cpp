// Batches on the command line that must neither lose nor mix data: outputs
// two inputs would share, existing outputs, failing inputs, write failures,
// a reader that goes away, damaged GPB files.
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_fixture.h"

namespace rawconv {
namespace clitest {
namespace {

using BatchTest = CliTest;
using Args = std::vector<std::string>;

TEST_F(BatchTest, TwoInputsWritingOneFileStopTheBatch) {
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("-j ") + jobs);
    WriteInput("d1/site");
    WriteInput("d2/site");
    WriteInput("other");
    ToolRun run = Run({"-j", jobs, "--output-dir", "out", "other.gpb", "d1/site.gpb", "d2/site.gpb"});
    EXPECT_EQ(2, run.Code);
    EXPECT_NE(std::string::npos, run.Err.find("d1/site.gpb and d2/site.gpb"));
    EXPECT_EQ("", run.Out);
    EXPECT_FALSE(Exists("out/site.05o"));
    EXPECT_FALSE(Exists("out/other.05o"));  // nothing of the batch is converted

    // The same file twice, spelled differently.
    run = Run({"-j", jobs, "other.gpb", "./d1/../other.gpb"});
    EXPECT_EQ(2, run.Code);
    EXPECT_NE(std::string::npos, run.Err.find("other.gpb and ./d1/../other.gpb"));
    EXPECT_FALSE(Exists("other.05o"));
  }
}

TEST_F(BatchTest, ExistingOutputsRefusedReplacedOrSkipped) {
  WriteInput("a");
  WriteInput("b");
  Write("a.05o", "keep obs\n");
  Write("a.05n", "keep nav\n");

  // Refused: that file fails, the batch goes on.
  ToolRun run = Run({"a.gpb", "b.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_EQ("b.gpb -> b.05o b.05n\n", run.Out);
  EXPECT_EQ(0u, run.Err.find("a.gpb: "));
  EXPECT_NE(std::string::npos,
            run.Err.find("exists; --skip-existing leaves it, --force replaces it\n"));
  EXPECT_EQ("keep obs\n", Read("a.05o"));
  EXPECT_EQ("keep nav\n", Read("a.05n"));

  // Skipped: counted as done, left alone, reported on stdout with the
  // batch's account on stderr.
  run = Run({"--skip-existing", "a.gpb", "b.gpb"});
  EXPECT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("a.gpb: skipped; left alone (exists): a.05o, a.05n\n"
            "b.gpb: skipped; left alone (exists): b.05o, b.05n\n",
            run.Out);
  EXPECT_EQ("gpb2rinex: 0 converted, 2 skipped, 0 failed\n", run.Err);
  EXPECT_EQ("keep obs\n", Read("a.05o"));
  run = Run({"-q", "--skip-existing", "a.gpb"});
  EXPECT_EQ(0, run.Code);
  EXPECT_EQ("", run.Out + run.Err);

  // Replaced.
  run = Run({"-f", "a.gpb"});
  EXPECT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("a.gpb -> a.05o a.05n\n", run.Out);
  EXPECT_NE(std::string::npos, Read("a.05o").find("OBSERVATION DATA"));
  EXPECT_NE(std::string::npos, Read("a.05n").find("NAV DATA"));
}

TEST_F(BatchTest, MissingEphemerisLeavesNoFileAndKeepsExistingOnes) {
  WriteInput("a");
  fs::remove(Path("a.epp"));
  Write("a.nav", "keep\n");
  ToolRun run = Run({"a.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_EQ("a.gpb: No ephemeris file a.epp to date the recording; give --epp FILE, --week N or --date "
            "DATE\n",
            run.Err.substr(0, run.Err.find('\n') + 1));
  EXPECT_EQ("keep\n", Read("a.nav"));
  EXPECT_TRUE(FilesContaining(".05").empty());
  EXPECT_TRUE(FilesContaining(".part").empty());

  // The good files of an earlier run survive a failing re-run, even forced.
  Write("a.05o", "earlier obs\n");
  Write("a.05n", "earlier nav\n");
  run = Run({"--force", "a.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_EQ("earlier obs\n", Read("a.05o"));
  EXPECT_EQ("earlier nav\n", Read("a.05n"));
  EXPECT_TRUE(FilesContaining(".part").empty());
}

TEST_F(BatchTest, FileSizeLimitIsAWriteErrorNotADeath) {
  CopySample("s.gpb", "s.epp");
  RunSetup limited;
  limited.FileSizeLimit = 16 * 1024;  // the sample's outputs are larger
  const ToolRun run = Run({"s.gpb"}, limited);
  EXPECT_EQ(1, run.Code) << run.Err;
  EXPECT_NE(std::string::npos, run.Err.find("s.gpb: Cannot write ")) << run.Err;
  EXPECT_NE(std::string::npos, run.Err.find(": File too large")) << run.Err;
  EXPECT_TRUE(FilesContaining("s.05").empty());
  EXPECT_TRUE(FilesContaining(".part").empty());
}

TEST_F(BatchTest, ClosedStdoutDoesNotStopTheBatch) {
  std::string files;
  for (int i = 0; i < 8; ++i) {
    const std::string stem = "s" + std::to_string(i);
    CopySample(stem + ".gpb", stem + ".epp");
    files += " " + stem + ".gpb";
  }
  const ToolRun run = Shell("{ \"$TOOL\" -j 2" + files + "; echo $? > code; } | head -1");
  EXPECT_EQ("s0.gpb -> s0.05o s0.05n\n", run.Out);
  EXPECT_EQ("0\n", Read("code"));
  for (int i = 0; i < 8; ++i) {
    const std::string stem = "s" + std::to_string(i);
    EXPECT_TRUE(Exists(stem + ".05o")) << stem;
    EXPECT_TRUE(Exists(stem + ".05n")) << stem;
  }
}

TEST_F(BatchTest, ParallelLinesInArgumentOrderWithoutProgressInPipes) {
  Args args = {"-j", "3"};
  std::string expected;
  for (const char* stem : {"e", "d", "c", "b", "a"}) {
    WriteInput(stem);
    args.push_back(std::string(stem) + ".gpb");
    expected += std::string(stem) + ".gpb -> " + stem + ".05o " + stem + ".05n\n";
  }
  const ToolRun run = Run(args);
  EXPECT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ(expected, run.Out);
  // No progress line when stderr is no terminal: the account alone.
  EXPECT_EQ("gpb2rinex: 5 converted, 0 skipped, 0 failed\n", run.Err);
}

TEST_F(BatchTest, TruncatedGpbFileWarns) {
  CopySample("s.gpb", "s.epp");
  const uintmax_t size = fs::file_size(Path("s.gpb"));
  fs::resize_file(Path("s.gpb"), size - 100);
  const ToolRun run = Run({"-q", "s.gpb"});
  EXPECT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("", run.Out);
  const std::string prefix = "s.gpb: warning: file ends in a damaged or truncated record; ";
  const std::string suffix = " of " + std::to_string(size - 100) + " bytes converted\n";
  ASSERT_EQ(0u, run.Err.find(prefix)) << run.Err;
  ASSERT_GE(run.Err.size(), prefix.size() + suffix.size());
  EXPECT_EQ(suffix, run.Err.substr(run.Err.size() - suffix.size()));
  // Without -q the file's line and the batch's account come too.
  const ToolRun full = Run({"-f", "s.gpb"});
  EXPECT_EQ("s.gpb -> s.05o s.05n\n", full.Out);
  EXPECT_NE(std::string::npos, full.Err.find("warning: "));
}

}  // namespace
}  // namespace clitest
}  // namespace rawconv
