// gpb2rinex on gzip inputs: site.gpb.gz converts as site.gpb does, with
// its EPP and station files plain or gzip, and the outputs are named
// without the ".gz".
#include <string>
#include <vector>

#include "cli/cli_fixture.h"
#include "support/gzip_bytes.h"

namespace rawconv {
namespace clitest {
namespace {

using GzipInputCliTest = CliTest;

TEST_F(GzipInputCliTest, GzipFilesConvertAsThePlainOnes) {
  CopySample("plain/s.gpb", "plain/s.epp", "plain/s.sta");
  fs::create_directories(Path("packed"));
  for (const char* ext : {".gpb", ".epp", ".sta"}) {
    const std::string name = std::string("s") + ext;
    ASSERT_TRUE(gztest::WriteBytes(Path("packed/" + name + ".gz"),
                                   gztest::Gzip(Read("plain/" + name))));
  }
  ToolRun run = Run({"plain/s.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  run = Run({"packed/s.gpb.gz"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("packed/s.gpb.gz -> s.05o s.05n\n", run.Out);
  // The files differ only in their run date, which follows the clock.
  const auto without_run_date = [](std::string text) {
    const size_t at = text.find("PGM / RUN BY / DATE");
    return at == std::string::npos ? text : text.erase(at - 60, 60);
  };
  EXPECT_EQ(without_run_date(Read("plain/s.05o")), without_run_date(Read("packed/s.05o")));
  EXPECT_EQ(without_run_date(Read("plain/s.05n")), without_run_date(Read("packed/s.05n")));
  EXPECT_NE(std::string::npos, Read("packed/s.05o").find("pillar on the roof"));  // from s.sta.gz

  // --info dates the epochs by the gzip EPP file beside the gzip GPB file.
  run = Run({"--info", "packed/s.gpb.gz"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_NE(std::string::npos, run.Out.find("first epoch     2005-04-02 00:00:00")) << run.Out;

  // Named outright too.
  run = Run({"--sta", "packed/s.sta.gz", "-o", "named", "plain/s.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ(without_run_date(Read("plain/s.05o")), without_run_date(Read("named/s.05o")));
}

TEST_F(GzipInputCliTest, DamagedGzipFileFailsAndWritesNothing) {
  CopySample("s.gpb", "s.epp");
  const std::string packed = gztest::Gzip(Read("s.gpb"));
  Write("cut.gpb.gz", packed.substr(0, packed.size() - 100));
  const ToolRun run = Run({"cut.gpb.gz"});
  EXPECT_EQ(1, run.Code);
  EXPECT_NE(std::string::npos, run.Err.find("cut.gpb.gz")) << run.Err;
  EXPECT_FALSE(Exists("cut.05o"));
  EXPECT_FALSE(Exists("cut.05n"));
}

}  // namespace
}  // namespace clitest
}  // namespace rawconv
