// RINEX 3 navigation files: the header, the record layout and the values,
// which must be those of the RINEX 2 record of the same ephemeris.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
  ASSERT_EQ(WriteNav3Header(header, "tester", 4), 0);
  EXPECT_EQ(header.text,
            "     3.04           N: GNSS NAV DATA    G: GPS              RINEX VERSION / TYPE\n"
            "RAWCONV v7.00       tester              20051207 143000 LCL PGM / RUN BY / DATE \n"
            "                                                            END OF HEADER       \n");
  StringSink none;
  EXPECT_EQ(WriteNav3Header(none, "tester", 3), 2);
  EXPECT_EQ(none.text, "");

  const std::string path =
      testing::TempDir() + "nav3_" + std::to_string(getpid()) + ".epp";
  ASSERT_TRUE(epptest::WriteEppFile(path, {{1317, 518400, 1}, {1317, 7200, 23}}));
  std::FILE* epp = std::fopen(path.c_str(), "r");
  ASSERT_NE(epp, nullptr);
  StringSink body;
  EXPECT_EQ(ConvertEppToNav3(epp, body, 4), 0);
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

// The override week moves the clock epoch of line 1 but not the week field.
TEST_F(Nav3Test, WeekOverrideMovesOnlyTheClockEpoch) {
  EphemerisRecord r{};
  r.Prn = 7;
  r.Week = 1317;
  r.Toc = 0;
  char buffer[kNav3RecordBufferSize];
  FormatNav3Record(r, buffer);
  EXPECT_EQ(std::string(buffer, 23), "G07 2005 04 03 00 00 00");
  Ctx().UseGpsWeek = 1;
  Ctx().GpsWeek = 1318;
  const int length = FormatNav3Record(r, buffer);
  EXPECT_EQ(std::string(buffer, 23), "G07 2005 04 10 00 00 00");
  EXPECT_EQ(static_cast<size_t>(length), std::strlen(buffer));
  EXPECT_NE(std::string(buffer).find(" 0.131700000000D+04"), std::string::npos);
}

}  // namespace
}  // namespace rawconv
