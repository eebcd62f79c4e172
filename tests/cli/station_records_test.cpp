// gpb2rinex --sitelog and --stations over batches of several stations: each
// file takes its own station's records, a file without its site log fails
// alone (and in --dry-run), and the messages name the options.
#include <gtest/gtest.h>

#include <string>

#include "cli/cli_fixture.h"

namespace rawconv {
namespace clitest {
namespace {

const std::string kLogs = std::string(RAWCONV_SOURCE_DIR) + "/tests/data/sitelogs/";

class StationRecordsCliTest : public CliTest {
 protected:
  // <stem>.gpb of three epochs from (week, tow) and its EPP file, which
  // dates it.
  void Recording(const std::string& stem, int week, int tow) const {
    ASSERT_TRUE(
        WriteThreeEpochGpb(Path(stem + ".gpb"), gpbtest::MakeEpoch(tow, -34.87, -58.14, 40.0f)));
    ASSERT_TRUE(epptest::WriteEppFile(Path(stem + ".epp"), {{week, tow}}));
  }
  // Columns 1-60 of a header line of an output file.
  std::string Field(const std::string& file, const std::string& label) const {
    const std::string text = Read(file);
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find('\n', start);
      const std::string line = text.substr(start, end - start);
      if (line.size() > 60 && line.compare(60, label.size(), label) == 0) return line.substr(0, 60);
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return "";
  }
};

TEST_F(StationRecordsCliTest, StationTableDrivesABatchOfANetwork) {
  WriteInput("abcd0920");
  WriteInput("efgh0920");
  WriteInput("ijkl0920");
  Write("network.csv",
        "marker,receiver_type,antenna_type,antenna_height,marker_number,position,observer\n"
        "ABCD,TRIMBLE NETR9,TRM57971.00     NONE,1.5000,,,\n"
        "efgh,,,,10999M001,\"4000000,1000000,4800000\",FIELD CREW\n");
  ToolRun run = Run({"--stations", "network.csv", "-o", "out", "abcd0920.gpb", "efgh0920.gpb",
                     "ijkl0920.gpb"});
  EXPECT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("TRIMBLE NETR9", Field("out/abcd0920.05o", "REC # / TYPE / VERS").substr(20, 13));
  EXPECT_EQ("TRM57971.00     NONE", Field("out/abcd0920.05o", "ANT # / TYPE").substr(20, 20));
  EXPECT_EQ("        1.5000", Field("out/abcd0920.05o", "ANTENNA: DELTA H/E/N").substr(0, 14));
  EXPECT_EQ("ABCD", Field("out/abcd0920.05o", "MARKER NAME").substr(0, 4));
  EXPECT_EQ("", Field("out/abcd0920.05o", "MARKER NUMBER"));
  EXPECT_EQ("10999M001", Field("out/efgh0920.05o", "MARKER NUMBER").substr(0, 9));
  EXPECT_EQ("  4000000.0000  1000000.0000  4800000.0000",
            Field("out/efgh0920.05o", "APPROX POSITION XYZ").substr(0, 42));
  EXPECT_EQ("FIELD CREW", Field("out/efgh0920.05o", "OBSERVER / AGENCY").substr(0, 10));
  // The station without a row: converted, with a warning.
  EXPECT_TRUE(Exists("out/ijkl0920.05o"));
  EXPECT_NE(std::string::npos,
            run.Err.find("ijkl0920.gpb: warning: Station table network.csv has no row for station IJKL"))
      << run.Err;
  // A table that cannot be used fails each file, naming line and column.
  Write("network.csv", "marker,antena_type\nABCD,x\n");
  run = Run({"--stations", "network.csv", "-f", "-o", "out", "abcd0920.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_NE(std::string::npos,
            run.Err.find("abcd0920.gpb: Station table network.csv line 1 column 2: unknown column "
                         "'antena_type'"))
      << run.Err;
}

TEST_F(StationRecordsCliTest, SitelogFolderForAMixedBatch) {
  Recording("aggo2830", 2231, 86400);
  Recording("abmf2750", 2073, 259200);
  Recording("zzzz2830", 2231, 86400);
  fs::create_directories(Path("logs"));
  for (const char* log : {"aggo00arg_20230608.log", "abmf_20240710.log", "fyha_20161220.log"})
    fs::copy_file(kLogs + log, Path(std::string("logs/") + log));
  // The dry run fails the file without a log as the conversion does.
  ToolRun plan = Run({"--sitelog", "logs", "--dry-run", "-o", "out", "aggo2830.gpb", "abmf2750.gpb",
                      "zzzz2830.gpb"});
  EXPECT_EQ(1, plan.Code);
  EXPECT_NE(std::string::npos,
            plan.Err.find("zzzz2830.gpb: No site log for station ZZZZ in folder logs"))
      << plan.Err;
  ToolRun run = Run({"--sitelog", "logs", "-o", "out", "aggo2830.gpb", "abmf2750.gpb", "zzzz2830.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_NE(std::string::npos, run.Err.find("zzzz2830.gpb: No site log for station ZZZZ in folder logs"))
      << run.Err;
  EXPECT_FALSE(Exists("out/zzzz2830.22o"));
  EXPECT_EQ("726722              LEIAR25.R4      LEIT",
            Field("out/aggo2830.22o", "ANT # / TYPE").substr(0, 40));
  EXPECT_EQ("3013312             SEPT POLARX5        5.3.0",
            Field("out/abmf2750.19o", "REC # / TYPE / VERS").substr(0, 45));
  EXPECT_EQ("97103M001", Field("out/abmf2750.19o", "MARKER NUMBER").substr(0, 9));
  // A log file of another station: the message names the options to mend it.
  run = Run({"--sitelog", "logs/fyha_20161220.log", "-f", "-o", "out", "aggo2830.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_NE(std::string::npos,
            run.Err.find("aggo2830.gpb: Site log logs/fyha_20161220.log is of station FYHA, not of "
                         "AGGO (the marker of the GPB file's name); give --marker NAME or "
                         "--station-id ID"))
      << run.Err;
  // Empty paths are bad arguments.
  EXPECT_EQ(2, Run({"--sitelog", "", "aggo2830.gpb"}).Code);
  EXPECT_EQ(2, Run({"--stations", "", "aggo2830.gpb"}).Code);
}

}  // namespace
}  // namespace clitest
}  // namespace rawconv
