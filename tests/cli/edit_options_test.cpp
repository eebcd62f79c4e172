// gpb2rinex's editing options on the shipped sample (2005-04-02 00:00:00 to
// 00:59:30 GPS time, 30 s): what they change in the files, what they refuse.
#include <string>
#include <vector>

#include "cli/cli_fixture.h"

namespace rawconv {
namespace clitest {
namespace {

using EditOptionsCliTest = CliTest;
using Args = std::vector<std::string>;

const char kRunDate[] = "--fixed-run-date=1133965800";

// Columns 1-60 of the first header line with this label ("" when none).
std::string HeaderField(const std::string& text, const std::string& label) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (line.size() > 60 && line.compare(60, label.size(), label) == 0) return line.substr(0, 60);
    if (line.find("END OF HEADER") == 60) break;
    at = end + 1;
  }
  return "";
}

// Epoch records (event flag 0) of a RINEX 2 observation file.
int EpochRecords(const std::string& text) {
  int n = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (line.size() > 29 && line.compare(0, 3, " 05") == 0 && line[28] == '0') ++n;
    at = end + 1;
  }
  return n;
}

TEST_F(EditOptionsCliTest, EditsWhileConverting) {
  CopySample("s.gpb", "s.epp", "s.sta");
  const ToolRun run = Run({kRunDate, "-o", "out", "--from", "2005-04-02 00:30:00", "--to",
                           "2005-04-02T00:50:00", "--interval", "120", "--exclude", "G07",
                           "--obs-types", "C1,L2", "--marker-number", "10001M001",
                           "--receiver-number", "4711", "--receiver-type", "TRIMBLE 5700",
                           "--receiver-version", "2.32", "--antenna-number", "88",
                           "--antenna-type", "TRM41249.00     NONE", "--position=1,2,3",
                           "--antenna-delta", "1.5,0,0", "--comment", "one", "--comment",
                           "two", "--full-header", "s.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  const std::string obs = Read("out/s.05o");
  EXPECT_EQ(10, EpochRecords(obs));
  EXPECT_EQ("     2    C1    L2", HeaderField(obs, "# / TYPES OF OBSERV").substr(0, 18));
  // The gap between kept epochs, clock steering included (milliseconds).
  EXPECT_NEAR(120.0, std::stod(HeaderField(obs, "INTERVAL").substr(0, 10)), 0.025);
  EXPECT_EQ("  2005     4     2     0    30", HeaderField(obs, "TIME OF FIRST OBS").substr(0, 30));
  EXPECT_EQ("  2005     4     2     0    48", HeaderField(obs, "TIME OF LAST OBS").substr(0, 30));
  EXPECT_EQ("10001M001", HeaderField(obs, "MARKER NUMBER").substr(0, 9));
  EXPECT_EQ("4711                TRIMBLE 5700        2.32",
            HeaderField(obs, "REC # / TYPE / VERS").substr(0, 44));
  EXPECT_EQ("88                  TRM41249.00     NONE", HeaderField(obs, "ANT # / TYPE").substr(0, 40));
  EXPECT_EQ("        1.0000        2.0000        3.0000",
            HeaderField(obs, "APPROX POSITION XYZ").substr(0, 42));
  EXPECT_EQ("one", HeaderField(obs, "COMMENT").substr(0, 3));
  EXPECT_NE("", HeaderField(obs, "PRN / # OF OBS"));
  const size_t body = obs.find("END OF HEADER");
  EXPECT_EQ(std::string::npos, obs.find("G 7", body));
  // Every kept epoch lies on the 120 s grid.
  EXPECT_EQ(std::string::npos, obs.find(" 05  4  2  0 31", body));
}

TEST_F(EditOptionsCliTest, WithoutEditingOptionsTheFileIsTheUneditedOne) {
  CopySample("s.gpb", "s.epp", "s.sta");
  ASSERT_EQ(0, Run({kRunDate, "-o", "plain", "s.gpb"}).Code);
  // A selection that drops nothing and no header option changes no byte.
  ASSERT_EQ(0, Run({kRunDate, "-o", "edited", "--from", "2005-04-01 23:00:00", "--exclude", "R",
                    "s.gpb"})
                   .Code);
  EXPECT_EQ(Read("plain/s.05o"), Read("edited/s.05o"));
  EXPECT_EQ(Read("plain/s.05n"), Read("edited/s.05n"));
  EXPECT_EQ(120, EpochRecords(Read("plain/s.05o")));
}

TEST_F(EditOptionsCliTest, BadValuesAreBadArguments) {
  CopySample("s.gpb", "s.epp");
  const std::string long21(21, 'x');
  const std::string long61(61, 'c');
  const std::vector<Args> bad = {
      {"--from", "2005-04-02 12", "s.gpb"},
      {"--to", "yesterday", "s.gpb"},
      {"--from", "2005-04-02 01:00:00", "--to", "2005-04-02 00:00:00", "s.gpb"},
      {"--interval", "0", "s.gpb"},
      {"--interval", "90000", "s.gpb"},
      {"--interval", "30s", "s.gpb"},
      {"--exclude", "E", "s.gpb"},
      {"--exclude", "G1,", "s.gpb"},
      {"--obs-types", "C2", "s.gpb"},
      {"--marker-number", long21, "s.gpb"},
      {"--receiver-number", long21, "s.gpb"},
      {"--receiver-type", long21, "s.gpb"},
      {"--receiver-version", long21, "s.gpb"},
      {"--antenna-number", long21, "s.gpb"},
      {"--antenna-type", long21, "s.gpb"},
      {"--position", "1,2", "s.gpb"},
      {"--position", "1,2,3,4", "s.gpb"},
      {"--position", "Data", "s.gpb"},
      {"--antenna-delta", "1e12,0,0", "s.gpb"},
      {"--comment", long61, "s.gpb"},
      {"--split", "2h", "s.gpb"},
      {"--split", "1h", "--qc-only", "s.gpb"},
  };
  for (const Args& args : bad) {
    const ToolRun run = Run(args);
    EXPECT_EQ(2, run.Code) << args[0] << " " << args[1];
    EXPECT_NE(std::string::npos, run.Err.find("gpb2rinex: ")) << args[0];
  }
  EXPECT_TRUE(FilesContaining(".05").empty());
  Args many = {"s.gpb"};
  for (int i = 0; i < 33; ++i) many.insert(many.begin(), {"--comment", "c"});
  EXPECT_EQ(2, Run(many).Code);
  EXPECT_NE(std::string::npos,
            Run({"--antenna-type", long21, "s.gpb"}).Err.find("Bad antenna type"));
}

// --position data: the position from the data into the header; the last
// --position given counts; a file without ephemerides fails naming the
// option.
TEST_F(EditOptionsCliTest, PositionFromTheData) {
  CopySample("s.gpb", "s.epp");
  ASSERT_EQ(0, Run({kRunDate, "-o", "rx", "s.gpb"}).Code);
  ASSERT_EQ(0, Run({kRunDate, "-o", "data", "--position", "1,2,3", "--position", "data", "s.gpb"}).Code);
  ASSERT_EQ(0, Run({kRunDate, "-o", "back", "--position", "data", "--position", "receiver", "s.gpb"}).Code);
  const std::string receiver = HeaderField(Read("rx/s.05o"), "APPROX POSITION XYZ");
  const std::string data = HeaderField(Read("data/s.05o"), "APPROX POSITION XYZ");
  EXPECT_EQ(receiver, " -3976219.5082  3382372.5671  3652512.9849                  ");
  EXPECT_EQ(data, " -3976220.6169  3382374.0026  3652514.1461                  ");
  EXPECT_EQ(receiver, HeaderField(Read("back/s.05o"), "APPROX POSITION XYZ"));

  fs::remove(Path("s.epp"));
  const ToolRun run = Run({kRunDate, "-o", "none", "--position", "data", "--date", "2005-04-02", "s.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_NE(std::string::npos,
            run.Err.find("s.gpb: No ephemeris file s.epp: the position from the data needs the broadcast "
                         "ephemerides (--position data)\n"))
      << run.Err;
}

TEST_F(EditOptionsCliTest, TypeAbsentFromAFileFailsThatFile) {
  CopySample("s.gpb", "s.epp");
  const ToolRun run = Run({kRunDate, "--obs-types", "C1,S2", "s.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_NE(std::string::npos, run.Err.find("Observation type S2 is not in the data"));
  EXPECT_TRUE(FilesContaining(".05").empty());
}

// Hourly files of a quarter hour each (15m): every span file is printed,
// the first with the navigation file, as an unsplit conversion prints them.
TEST_F(EditOptionsCliTest, SplitPrintsEveryFileWritten) {
  CopySample("s.gpb", "s.epp", "s.sta");
  const ToolRun run = Run({kRunDate, "-o", "out", "--split", "15m", "--names", "short",
                           "--interval", "60", "--antenna-type", "TRM55971.00     NONE",
                           "s.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("s.gpb -> s000092a00.05o s000092a.05n\n"
            "s.gpb -> s000092a15.05o\n"
            "s.gpb -> s000092a30.05o\n"
            "s.gpb -> s000092a45.05o\n",
            run.Out);
  const std::string first = Read("out/s000092a15.05o");
  EXPECT_EQ(15, EpochRecords(first));
  EXPECT_EQ("    60.000", HeaderField(first, "INTERVAL").substr(0, 10));
  EXPECT_EQ("  2005     4     2     0    15", HeaderField(first, "TIME OF FIRST OBS").substr(0, 30));
  EXPECT_EQ("TRM55971.00     NONE", HeaderField(first, "ANT # / TYPE").substr(20, 20));
}

// Two inputs whose spans would share a file name stop the batch before
// anything is written, whichever span it is.
TEST_F(EditOptionsCliTest, SplitClashesAreFoundBeforeConverting) {
  CopySample("a/s.gpb", "a/s.epp");
  CopySample("b/s.gpb", "b/s.epp");
  const ToolRun run = Run({"-o", "out", "--split", "1h", "--names", "long", "--from",
                           "2005-04-02 00:30:00", "a/s.gpb", "b/s.gpb"});
  EXPECT_EQ(2, run.Code);
  EXPECT_NE(std::string::npos, run.Err.find("would both write"));
  EXPECT_NE(std::string::npos, run.Err.find("_01H_30S_GO.rnx"));
  EXPECT_TRUE(FilesContaining("S00XXX").empty());
}

}  // namespace
}  // namespace clitest
}  // namespace rawconv
