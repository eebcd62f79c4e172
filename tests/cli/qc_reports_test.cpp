// gpb2rinex's quality reports as a user meets them: the summary lines name
// each input as it was typed, and the reports of a compressed conversion
// are named after the plain observation file.
#include <string>
#include <vector>

#include "cli/cli_fixture.h"

namespace rawconv {
namespace clitest {
namespace {

using QcReportsCliTest = CliTest;

TEST_F(QcReportsCliTest, SummaryLinesKeepTheFoldersOfTheInputs) {
  WriteInput("d1/x");
  WriteInput("d2/x");
  const ToolRun run = Run({"--qc", "d1/x.gpb", "d2/x.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  const std::string rest = ": 2005-09-22 00:00:00.000 to 2005-09-22 00:01:00.000, 30 s, 3/3 epochs (100.0%), "
                           "0 gaps, 1 satellites, 0 slips\n";
  EXPECT_NE(std::string::npos, run.Out.find("\nd1/x.gpb" + rest)) << run.Out;
  EXPECT_NE(std::string::npos, run.Out.find("\nd2/x.gpb" + rest)) << run.Out;
  EXPECT_EQ(0u, Read("d2/x.05o.qc.txt").find("d2/x.gpb" + rest + "\nQuality check of d2/x.gpb\n"));
}

TEST_F(QcReportsCliTest, ReportsOfCompressedOutputsHaveThePlainName) {
  WriteInput("s");
  for (const char* kind : {"gz", "crx", "crx.gz"}) {
    const ToolRun run = Run({"--qc", "-q", "--force", "--compress", kind, "s.gpb"});
    ASSERT_EQ(0, run.Code) << kind << ": " << run.Err;
    for (const char* ext : {".qc.txt", ".qc.json", ".qc.html"}) {
      EXPECT_TRUE(Exists(std::string("s.05o") + ext)) << kind << ext;
      fs::remove(Path(std::string("s.05o") + ext));
    }
    EXPECT_TRUE(FilesContaining(".gz.qc.").empty()) << kind;
    EXPECT_TRUE(FilesContaining(".05d.qc.").empty()) << kind;
  }
  const ToolRun run = Run({"--qc", "-q", "--names", "long", "--rinex", "3.04", "--compress", "crx.gz", "s.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  const std::vector<std::string> obs = FilesContaining("O.crx.gz");
  ASSERT_EQ(1u, obs.size());
  const std::string plain = obs[0].substr(0, obs[0].size() - std::string(".crx.gz").size()) + ".rnx";
  for (const char* ext : {".qc.txt", ".qc.json", ".qc.html"}) EXPECT_TRUE(fs::exists(plain + ext)) << plain << ext;
  EXPECT_TRUE(FilesContaining(".crx.gz.qc.").empty());
}

}  // namespace
}  // namespace clitest
}  // namespace rawconv
