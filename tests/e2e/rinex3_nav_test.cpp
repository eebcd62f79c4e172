// RINEX 3 navigation files: the header, the record layout and the values,
// which must be those of the RINEX 2 record of the same ephemeris.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "api/context.h"
#include "ephem/nav3_writer.h"
#include "ephem/nav_writer.h"
#include "obs/run_date.h"
#include "support/epp_fixture.h"

namespace rawconv {
namespace {

// A sink that keeps everything in a string.
class StringSink final : public Sink {
 public:
  bool Write(const char* data, size_t length) override {
    text.append(data, length);
    return true;
  }
  bool Finish() override { return true; }
  void Abort() override {}
  std::string text;
};

class Nav3Test : public testing::Test {
 protected:
  void SetUp() override {
    std::memset(&context_, 0, sizeof context_);
    scope_ = new ContextScope(context_);
    SetRunClockForTesting(1133965800);
  }
  void TearDown() override { delete scope_; }
  Context context_;
  ContextScope* scope_ = nullptr;
};

// The numeric fields of a record's lines (19 columns from first_offset on
// the first line of a record, from offset on the others): the RINEX 2 form
// ".ddd" and the RINEX 3 form "0.ddd" both reduce to the text from the point.
std::vector<std::string> Mantissas(const std::string& text, size_t first_offset,
                                   size_t offset) {
  std::vector<std::string> out;
  size_t at = 0;
  int line_index = 0;
  while (at < text.size()) {
    const bool first = line_index++ % 8 == 0;
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    for (size_t p = first ? first_offset : offset; p + 19 <= line.size(); p += 19) {
      std::string f = line.substr(p, 19);
      const size_t dot = f.find('.');
      out.push_back((f.find('-') != std::string::npos && f.find('-') < dot ? "-" : "") +
                    f.substr(dot));
    }
    at = end + 1;
  }
  return out;
}

TEST_F(Nav3Test, HeaderRecordLayoutAndSameValuesAsRinex2) {
  StringSink header;
  ASSERT_EQ(WriteNav3Header(header, "tester", 304), 0);
  EXPECT_EQ(header.text,
            "     3.04           N: GNSS NAV DATA    G: GPS              RINEX VERSION / TYPE\n"
            "RAWCONV v7.00       tester              20051207 143000 LCL PGM / RUN BY / DATE \n"
            "                                                            END OF HEADER       \n");
  StringSink none;
  EXPECT_EQ(WriteNav3Header(none, "tester", 301), 2);
  EXPECT_EQ(none.text, "");

  const std::string path =
      testing::TempDir() + "nav3_" + std::to_string(getpid()) + ".epp";
  ASSERT_TRUE(epptest::WriteEppFile(path, {{1317, 518400, 1}, {1317, 7200, 23}}));
  std::FILE* epp = std::fopen(path.c_str(), "r");
  ASSERT_NE(epp, nullptr);
  StringSink body;
  EXPECT_EQ(ConvertEppToNav3(epp, body, 304), 0);
  std::fclose(epp);
  epp = std::fopen(path.c_str(), "r");
  StringSink v2;
  EXPECT_EQ(ConvertEppToNav(epp, v2, 2), 0);
  std::fclose(epp);
  std::remove(path.c_str());

  // Two records of eight lines; line 1 as RINEX 3 writes it, then 4X and
  // 19-column fields; the first record's clock on 2005-04-09 00:00:00.
  const std::string first_line = body.text.substr(0, body.text.find('\n'));
  EXPECT_EQ(first_line.substr(0, 23), "G01 2005 04 09 00 00 00");
  EXPECT_EQ(first_line.size(), 23u + 3 * 19);
  EXPECT_EQ(first_line.substr(23), " 0.106420181692D-03-0.568434188608D-12 0.000000000000D+00");
  EXPECT_EQ(std::count(body.text.begin(), body.text.end(), '\n'), 16);
  EXPECT_NE(body.text.find("\nG23 2005 04 03 02 00 00"), std::string::npos);
  const std::string second = body.text.substr(body.text.find('\n') + 1);
  EXPECT_EQ(second.substr(0, 4 + 19), "     0.100000000000D+03");

  // Every value is the RINEX 2 value (the 2.1 record has toe and the fit
  // interval on its last line, as RINEX 3 has).
  EXPECT_EQ(Mantissas(body.text, 23, 4), Mantissas(v2.text, 22, 3));
}

// Every version of the RINEX 3 family has its number in the version line;
// 4.00 opens each record with "> EPH Gnn LNAV" and writes the 3.0x record
// under it unchanged. convbin reads the 4.00 file with the records and
// values of the 3.05 file.
TEST_F(Nav3Test, VersionLinesAndRinex4RecordLines) {
  for (const char* number : {"3.02", "3.03", "3.04", "3.05", "4.00"}) {
    const int version = static_cast<int>(std::lround(std::atof(number) * 100));
    StringSink header;
    ASSERT_EQ(WriteNav3Header(header, "tester", version), 0) << number;
    EXPECT_EQ(header.text.substr(0, 80), std::string("     ") + number +
                                             "           N: GNSS NAV DATA    G: GPS              "
                                             "RINEX VERSION / TYPE")
        << number;
    EXPECT_EQ(std::count(header.text.begin(), header.text.end(), '\n'), 3);
  }

  const std::string dir = testing::TempDir() + "nav4_" + std::to_string(getpid());
  const std::string epp_path = dir + ".epp";
  ASSERT_TRUE(epptest::WriteEppFile(epp_path, {{1317, 518400, 1}, {1317, 7200, 23}, {1317, 7200, 5}}));
  std::string files[2];
  const int versions[2] = {305, 400};
  for (int i = 0; i < 2; ++i) {
    std::FILE* epp = std::fopen(epp_path.c_str(), "r");
    ASSERT_NE(epp, nullptr);
    StringSink out;
    ASSERT_EQ(WriteNav3Header(out, "tester", versions[i]), 0);
    EXPECT_EQ(ConvertEppToNav3(epp, out, versions[i]), 0);
    std::fclose(epp);
    files[i] = out.text;
  }
  std::remove(epp_path.c_str());
  const std::string body3 = files[0].substr(files[0].find("END OF HEADER") + 21);
  const std::string body4 = files[1].substr(files[1].find("END OF HEADER") + 21);

  // Each record line names the satellite of the record under it; without
  // them the body is the 3.05 body.
  std::string stripped;
  int record_lines = 0;
  size_t at = 0;
  while (at < body4.size()) {
    const size_t end = body4.find('\n', at);
    const std::string line = body4.substr(at, end - at + 1);
    if (line[0] == '>') {
      ++record_lines;
      EXPECT_EQ(line.size(), 15u) << line;
      EXPECT_EQ(line.substr(0, 6), "> EPH ");
      EXPECT_EQ(line.substr(9), " LNAV\n");
      EXPECT_EQ(line.substr(6, 3), body4.substr(end + 1, 3));
    } else {
      stripped += line;
    }
    at = end + 1;
  }
  EXPECT_EQ(record_lines, 3);
  EXPECT_EQ(stripped, body3);
  char line[kNav4RecordLineSize];
  EphemerisRecord r{};
  r.Prn = 7;
  EXPECT_EQ(FormatNav4RecordLine(r, line), 15);
  EXPECT_STREQ(line, "> EPH G07 LNAV\n");

  // RTKLIB's convbin, a reader we did not write, turns both files into the
  // same RINEX 3.04 navigation file.
  if (std::system("command -v convbin >/dev/null 2>&1") != 0) GTEST_SKIP() << "convbin not installed";
  std::string converted[2];
  for (int i = 0; i < 2; ++i) {
    const std::string in = dir + "_" + std::to_string(versions[i]) + ".rnx";
    const std::string out = in + ".out";
    std::FILE* f = std::fopen(in.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(files[i].c_str(), f);
    std::fclose(f);
    // convbin removes an output it wrote nothing to: its observation output
    // goes to a scratch file, never to /dev/null (which it would delete).
    const std::string obs = in + ".obs";
    ASSERT_EQ(std::system(("convbin -r rinex -v 3.04 -o '" + obs + "' -n '" + out + "' '" + in +
                           "' >/dev/null 2>&1").c_str()),
              0);
    std::FILE* g = std::fopen(out.c_str(), "r");
    ASSERT_NE(g, nullptr);
    char text[256];
    while (std::fgets(text, sizeof text, g)) {
      // The header names the input file and the run time.
      if (std::strstr(text, "COMMENT") || std::strstr(text, "PGM / RUN BY")) continue;
      converted[i] += text;
    }
    std::fclose(g);
    std::remove(in.c_str());
    std::remove(out.c_str());
  }
  EXPECT_NE(converted[1].find("\nG23 2005 04 03 02 00 00"), std::string::npos);
  EXPECT_EQ(converted[1], converted[0]);
}

// The override week moves the clock epoch of line 1 but not the week field.
TEST_F(Nav3Test, WeekOverrideMovesOnlyTheClockEpoch) {
  EphemerisRecord r{};
  r.Prn = 7;
  r.Week = 1317;
  r.Toc = 0;
  char buffer[kNav3RecordBufferSize];
  FormatNav3Record(r, buffer);
  EXPECT_EQ(std::string(buffer, 23), "G07 2005 04 03 00 00 00");
  WeekOverride week;
  week.Use = 1;
  week.Week = 1318;
  const int length = FormatNav3Record(r, buffer, week);
  EXPECT_EQ(std::string(buffer, 23), "G07 2005 04 10 00 00 00");
  EXPECT_EQ(static_cast<size_t>(length), std::strlen(buffer));
  EXPECT_NE(std::string(buffer).find(" 0.131700000000D+04"), std::string::npos);
}

}  // namespace
}  // namespace rawconv
