// The site-log reader on real public logs (tests/data/sitelogs) and on the
// faults and variations real logs hold: what it reads must be what the log
// says, field by field, and what it cannot read must be named by file and
// line, never crash.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstring>
#include <string>

#include "meta/sitelog.h"

namespace rawconv {
namespace meta {
namespace {

namespace fs = std::filesystem;

std::string LogPath(const std::string& name) {
  return std::string(RAWCONV_SOURCE_DIR) + "/tests/data/sitelogs/" + name;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

int64_t At(const char* text) {
  int64_t t = 0;
  EXPECT_TRUE(ParseLogTime(text, &t)) << text;
  return t;
}

SiteLog Read(const std::string& name) {
  SiteLog log;
  std::string error;
  EXPECT_TRUE(ReadSiteLog(LogPath(name), &log, &error)) << error;
  return log;
}

// The parse of a log's text with one line replaced: (ok, error).
std::string ParseError(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(std::string::npos, at) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  SiteLog log;
  std::string error;
  return ParseSiteLog(text, "x.log", &log, &error) ? std::string() : error;
}

TEST(SiteLogRealTest, ClassicLayoutFieldByField) {
  const SiteLog log = Read("fyha_20161220.log");
  // The log's own ID field holds "FHAggggg": the file name gives it.
  EXPECT_EQ("FYHA", log.Id4);
  EXPECT_EQ("", log.Id9);
  EXPECT_FALSE(log.Version2);
  EXPECT_EQ("10126M001", log.Domes);
  EXPECT_EQ("Fynshav", log.SiteName);
  ASSERT_TRUE(log.HasPosition);
  EXPECT_DOUBLE_EQ(3611640.0140, log.Position[0]);  // written "3611640.0140 m"
  EXPECT_DOUBLE_EQ(635936.1650, log.Position[1]);
  EXPECT_DOUBLE_EQ(5201014.6360, log.Position[2]);
  ASSERT_EQ(4u, log.Receivers.size());  // the 3.x template is not an entry
  const SiteLogReceiver& r = log.Receivers[2];
  EXPECT_EQ("3.3", r.Entry);
  EXPECT_EQ("LEICA GR25", r.Type);
  EXPECT_EQ("1830135", r.Number);
  EXPECT_EQ("3.22/6.521", r.Version);
  EXPECT_EQ(At("2016-04-04T17:19Z"), r.Installed);
  EXPECT_EQ(At("2016-12-20T08:55Z"), r.Removed);
  EXPECT_EQ(kOpenEnd, log.Receivers[3].Removed);  // "(CCYY-MM-DDThh:mmZ)"
  ASSERT_EQ(2u, log.Antennas.size());
  const SiteLogAntenna& a = log.Antennas[1];
  EXPECT_EQ("LEIAR25.R4", a.Type);
  EXPECT_EQ("LEIT", a.Radome);
  EXPECT_EQ("10351006", a.Number);
  EXPECT_TRUE(a.HasDelta);
  EXPECT_DOUBLE_EQ(0.1663, a.Up);
  EXPECT_DOUBLE_EQ(0.0, a.North);
  EXPECT_DOUBLE_EQ(0.0, a.East);
  EXPECT_EQ(At("2014-11-24T13:30Z"), a.Installed);
  EXPECT_DOUBLE_EQ(0.1657, log.Antennas[0].Up);
}

TEST(SiteLogRealTest, Version2LayoutFieldByField) {
  const SiteLog log = Read("abmf00glp_20240710.log");
  EXPECT_EQ("ABMF00GLP", log.Id9);
  EXPECT_EQ("ABMF", log.Id4);
  EXPECT_TRUE(log.Version2);
  EXPECT_EQ("97103M001", log.Domes);
  EXPECT_DOUBLE_EQ(-5383745.0, log.Position[1]);
  ASSERT_EQ(3u, log.Receivers.size());  // headings "3.1 Receiver Type" with one blank
  EXPECT_EQ("SEPT POLARX5", log.Receivers[1].Type);
  EXPECT_EQ("5.2.0", log.Receivers[1].Version);
  ASSERT_EQ(3u, log.Antennas.size());
  EXPECT_EQ("AERAT2775_43", log.Antennas[0].Type);
  EXPECT_EQ("SPKE", log.Antennas[0].Radome);
  EXPECT_DOUBLE_EQ(0.05, log.Antennas[0].Up);  // "000.0500"
  EXPECT_EQ("TRM57971.00", log.Antennas[2].Type);
  EXPECT_EQ("NONE", log.Antennas[2].Radome);
  EXPECT_EQ("1441112501", log.Antennas[2].Number);
  // The classic layout of the same station reads the same.
  const SiteLog classic = Read("abmf_20240710.log");
  EXPECT_FALSE(classic.Version2);
  EXPECT_EQ("", classic.Id9);
  ASSERT_EQ(log.Receivers.size(), classic.Receivers.size());
  for (size_t i = 0; i < log.Receivers.size(); ++i) {
    EXPECT_EQ(log.Receivers[i].Type, classic.Receivers[i].Type);
    EXPECT_EQ(log.Receivers[i].Installed, classic.Receivers[i].Installed);
  }
}

TEST(SiteLogRealTest, LineEndsAndBlanksDoNotChangeWhatIsRead) {
  const std::string text = Slurp(LogPath("aggo00arg_20230608.log"));
  std::string crlf, blanks;
  for (char c : text) {
    if (c == '\n') {
      crlf += "\r\n";
      blanks += "   \t\n";
    } else {
      crlf += c;
      blanks += c;
    }
  }
  SiteLog a, b, c;
  std::string error;
  ASSERT_TRUE(ParseSiteLog(text, "aggo00arg_20230608.log", &a, &error)) << error;
  ASSERT_TRUE(ParseSiteLog(crlf, "aggo00arg_20230608.log", &b, &error)) << error;
  ASSERT_TRUE(ParseSiteLog("\xEF\xBB\xBF" + blanks, "aggo00arg_20230608.log", &c, &error)) << error;
  for (const SiteLog* other : {&b, &c}) {
    EXPECT_EQ(a.Id9, other->Id9);
    ASSERT_EQ(a.Antennas.size(), other->Antennas.size());
    for (size_t i = 0; i < a.Antennas.size(); ++i) {
      EXPECT_EQ(a.Antennas[i].Type, other->Antennas[i].Type);
      EXPECT_EQ(a.Antennas[i].Radome, other->Antennas[i].Radome);
      EXPECT_EQ(a.Antennas[i].Up, other->Antennas[i].Up);
      EXPECT_EQ(a.Antennas[i].Removed, other->Antennas[i].Removed);
    }
    ASSERT_EQ(a.Receivers.size(), other->Receivers.size());
    EXPECT_EQ(a.Receivers[1].Version, other->Receivers[1].Version);
  }
}

TEST(SiteLogFaultTest, MessagesNameFileLineAndValue) {
  const std::string text = Slurp(LogPath("aggo00arg_20230608.log"));
  EXPECT_EQ("Site log x.log line 52: X coordinate 'abc' is not a number",
            ParseError(text, "2765120.9", "abc"));
  // An ID field left unfilled: the title gives it, else nothing does.
  EXPECT_EQ("", ParseError(text, "AGGO00ARG\n", "(A9)\n"));
  std::string untitled = text;
  untitled.replace(untitled.find("AGGO00ARG Site"), 9, "The");
  EXPECT_EQ("Site log x.log has no Four Character ID or Nine Character ID",
            ParseError(untitled, "AGGO00ARG\n", "(A9)\n"));
  EXPECT_EQ("Site log x.log has no section 4 (GNSS Antenna Information)",
            ParseError(text.substr(0, text.find("4.   GNSS Antenna")), "AGGO00ARG\n", "AGGO00ARG\n"));
  // Words for "not removed" read as the placeholder does.
  EXPECT_EQ("", ParseError(text, "2022-10-11T13:30Z\n     Additional Information   : Antenna cable",
                           "present\n     Additional Information   : Antenna cable"));
  // So does the placeholder without its parentheses, as some logs keep it:
  // the entry stays installed.
  std::string bare = text;
  const std::string removed = "2022-10-11T13:30Z\n     Additional Information   : Antenna cable";
  bare.replace(bare.find(removed), 17, "CCYY-MM-DDThh:mmZ");
  SiteLog log;
  std::string error;
  ASSERT_TRUE(ParseSiteLog(bare, "x.log", &log, &error)) << error;
  SiteLogPick pick;
  EXPECT_TRUE(PickEntries(log, At("2021-01-01"), At("2021-01-01"), &pick, &error)) << error;
}

// A faulty receiver or antenna entry fails the times it may describe, named
// by its line, and leaves the times after the next good entry alone.
TEST(SiteLogFaultTest, FaultyEntryFailsTheTimesItMayDescribe) {
  const std::string text = Slurp(LogPath("aggo00arg_20230608.log"));
  struct Case {
    const char* From;
    const char* To;
    const char* Message;
    const char* Later;  // a time after the next good entry
  };
  const Case cases[] = {
      {"2016-11-11T10:45Z", "2016-13-11T10:45Z",
       "line 68: Date Installed '2016-13-11T10:45Z' is not a date", "2020-01-01"},
      {"2016-11-11T10:45Z", "(CCYY-MM-DDThh:mmZ)", "line 68: entry 3.1 has no Date Installed",
       "2020-01-01"},
      {"2018-12-06T20:35Z", "2015-01-01T00:00Z",
       "line 69: Date Removed '2015-01-01T00:00Z' is before Date Installed of entry 3.1",
       "2020-01-01"},
      {"2018-12-06T20:35Z", "soon", "line 69: Date Removed 'soon' is not a date", "2020-01-01"},
      {"Marker->ARP Up Ecc. (m)  : 000.1550", "Marker->ARP Up Ecc. (m)  : 0,155",
       "line 100: Marker->ARP Up Ecc. '0,155' is not a number", "2022-01-01"},
  };
  for (const Case& c : cases) {
    std::string changed = text;
    changed.replace(changed.find(c.From), std::strlen(c.From), c.To);
    SiteLog log;
    std::string error;
    ASSERT_TRUE(ParseSiteLog(changed, "x.log", &log, &error)) << error;
    SiteLogPick pick;
    EXPECT_FALSE(PickEntries(log, At("2017-01-01"), At("2017-01-01"), &pick, &error)) << c.To;
    EXPECT_EQ(std::string("Site log x.log ") + c.Message, error);
    EXPECT_TRUE(PickEntries(log, At(c.Later), At(c.Later), &pick, &error)) << error;
  }
}

TEST(SiteLogFaultTest, OddInputNeverCrashes) {
  const std::string text = Slurp(LogPath("fyha_20161220.log"));
  std::string error;
  SiteLog log;
  for (size_t cut = 0; cut < text.size(); cut += 97)
    ParseSiteLog(text.substr(0, cut), "cut.log", &log, &error);
  EXPECT_FALSE(ParseSiteLog("", "empty.log", &log, &error));
  EXPECT_FALSE(ParseSiteLog(std::string("\0\0\n3.\n4.\n", 9), "nul.log", &log, &error));
  // A log without entries reads; it has nothing installed at any time.
  ASSERT_TRUE(ParseSiteLog("1. \n Four Character ID : ABCD\n3. GNSS\n4. GNSS\n", "a.log", &log, &error))
      << error;
  SiteLogPick pick;
  EXPECT_FALSE(PickEntries(log, At("2020-01-01"), At("2020-01-01"), &pick, &error));
  EXPECT_EQ("Site log a.log has no receiver installed at 2020-01-01 00:00:00", error);
  EXPECT_FALSE(ReadSiteLog(LogPath("no_such_20200101.log"), &log, &error));
  EXPECT_NE(std::string::npos, error.find("Cannot open site log ")) << error;
  EXPECT_FALSE(ReadSiteLog(LogPath(""), &log, &error));
  EXPECT_NE(std::string::npos, error.find("it is a folder")) << error;
}

TEST(SiteLogTimeTest, FormsRealLogsWrite) {
  EXPECT_EQ(At("2016-12-20T08:55Z"), At("2016-12-20 08:55"));
  EXPECT_EQ(At("2016-12-20T08:55Z"), At("2016-12-20t08:55:00z"));
  EXPECT_EQ(At("2016-12-20"), At("2016-12-20Thh:mmZ"));  // the time left unfilled
  EXPECT_EQ(At("2016-12-20") + 8 * 3600 + 55 * 60, At("2016-12-20T08:55Z"));
  EXPECT_EQ(At("2016-12-20T08:55Z"), At("2016-12-20T08:55 UTC"));
  EXPECT_EQ(At("2016-12-20T08:55Z"), At("2016-12-20T08:55Z (approx.)"));
  int64_t t = 0;
  for (const char* bad : {"", "2016-12-32", "2016-02-30", "20161220", "2016-12-20T25:00Z",
                          "2016-12-20T08:5Z", "2016-12-20 approx", "(CCYY-MM-DD)"})
    EXPECT_FALSE(ParseLogTime(bad, &t)) << bad;
  EXPECT_EQ("2014-11-24 13:05:00", TimeText(At("2014-11-24T13:05Z")));
}

TEST(SiteLogPickTest, EntriesAtTheFirstEpochAndChangesWithin) {
  const SiteLog log = Read("aggo00arg_20230608.log");
  SiteLogPick pick;
  std::string error;
  // Before and after the antenna's new height.
  ASSERT_TRUE(PickEntries(log, At("2022-10-10"), At("2022-10-10T23:59Z"), &pick, &error)) << error;
  EXPECT_EQ("4.2", pick.Antenna->Entry);
  EXPECT_TRUE(pick.Warnings.empty());
  ASSERT_TRUE(PickEntries(log, At("2022-10-12"), At("2022-10-12T23:59Z"), &pick, &error)) << error;
  EXPECT_EQ("4.3", pick.Antenna->Entry);
  EXPECT_EQ("3.2", pick.Receiver->Entry);
  // A day that spans it: the first epoch's entry, and a warning.
  ASSERT_TRUE(PickEntries(log, At("2022-10-11"), At("2022-10-11T23:59Z"), &pick, &error)) << error;
  EXPECT_EQ("4.2", pick.Antenna->Entry);
  ASSERT_EQ(1u, pick.Warnings.size());
  EXPECT_EQ("Recording 2022-10-11 00:00:00 to 2022-10-11 23:59:00 spans a change of antenna in "
            "site log " + log.Path + " (entry 4.2 removed 2022-10-11 13:30:00): the header "
            "gives the antenna of 2022-10-11 00:00:00",
            pick.Warnings[0]);
  // Removal is the first time without the entry.
  ASSERT_TRUE(PickEntries(log, At("2022-10-11T13:30Z"), At("2022-10-11T13:30Z"), &pick, &error));
  EXPECT_EQ("4.3", pick.Antenna->Entry);
  // Five minutes without a receiver: named by its time.
  EXPECT_FALSE(PickEntries(log, At("2018-12-06T20:37Z"), At("2018-12-06T21:00Z"), &pick, &error));
  EXPECT_EQ("Site log " + log.Path + " has no receiver installed at 2018-12-06 20:37:00", error);
  // FYHA's antenna was away for 25 minutes.
  const SiteLog fyha = Read("fyha_20161220.log");
  EXPECT_FALSE(PickEntries(fyha, At("2014-11-24T13:10Z"), At("2014-11-24T13:10Z"), &pick, &error));
  EXPECT_EQ("Site log " + fyha.Path + " has no antenna installed at 2014-11-24 13:10:00", error);
  // A receiver installed within a recording is a change too.
  ASSERT_TRUE(PickEntries(fyha, At("2016-12-19"), At("2016-12-21"), &pick, &error));
  EXPECT_EQ("3.3", pick.Receiver->Entry);
  ASSERT_EQ(1u, pick.Warnings.size());
  EXPECT_NE(std::string::npos, pick.Warnings[0].find("change of receiver")) << pick.Warnings[0];
}

class SiteLogFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("rawconv_sitelogs_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Touch(const std::string& name) { std::ofstream(dir_ / name) << "x"; }
  std::string Find(const std::string& marker) {
    std::string path, error;
    if (!FindSiteLog(dir_.string(), marker, &path, &error)) return "error: " + error;
    return fs::path(path).filename().string();
  }
  fs::path dir_;
};

TEST_F(SiteLogFolderTest, UsualNamesAnyCaseNewestFirst) {
  Touch("abmf_20190101.log");
  Touch("abmf_20240710.log");
  Touch("FYHA_20161220.LOG");
  Touch("aggo00arg_20230608.log");
  Touch("aggo00arg_20230608.log.bak");
  Touch("aggo_notes.txt");
  EXPECT_EQ("abmf_20240710.log", Find("ABMF"));
  EXPECT_EQ("FYHA_20161220.LOG", Find("fyha"));
  EXPECT_EQ("aggo00arg_20230608.log", Find("aggo"));
  EXPECT_EQ("aggo00arg_20230608.log", Find("AGGO00ARG"));
  // A nine-character marker takes the four-character names of its station.
  EXPECT_EQ("abmf_20240710.log", Find("ABMF00GLP"));
  // On one date the nine-character name comes first.
  Touch("abmf00glp_20240710.log");
  EXPECT_EQ("abmf00glp_20240710.log", Find("abmf"));
  // The log of another nine-character station is not its log.
  EXPECT_EQ("error: No site log for station AGGO01ARG in folder " + dir_.string() +
                " (looked for aggo01arg*_CCYYMMDD.log)",
            Find("AGGO01ARG"));
  Touch("aggo01arg_20230101.log");
  EXPECT_NE(std::string::npos, Find("AGGO").find("Site logs of two stations match marker AGGO"));
  EXPECT_EQ("aggo01arg_20230101.log", Find("AGGO01ARG"));
}

TEST(SiteLogNameTest, IdAndDateOfTheName) {
  std::string id;
  int32_t date = 0;
  ASSERT_TRUE(SiteLogName("ABCD00DNK_20230101.log", &id, &date));
  EXPECT_EQ("ABCD00DNK", id);
  EXPECT_EQ(20230101, date);
  ASSERT_TRUE(SiteLogName("abcd.LOG", &id, &date));
  EXPECT_EQ("ABCD", id);
  EXPECT_EQ(0, date);
  for (const char* bad : {"abc_20230101.log", "abcd_2023010.log", "abcd_20230101.txt",
                          "abcd-20230101.log", "abcd00dnk_2023o101.log", ".log"})
    EXPECT_FALSE(SiteLogName(bad, &id, &date)) << bad;
}

}  // namespace
}  // namespace meta
}  // namespace rawconv
