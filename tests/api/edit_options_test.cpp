// Editing while converting through the reentrant interface, on the shipped
// sample (2005-04-02 00:00:00 to 00:59:30 GPS time, 30 s, GPS only): the
// header describes the kept epochs, the report counts them, bad values are
// refused before anything is read.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "api/rawconv_api.h"
#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

class EditOptionsTest : public SampleSessionFixture {
 protected:
  int Convert() { return rawconv_convert(session_, &o_, &report_); }

  std::vector<std::string> Header() const {
    std::vector<std::string> head;
    for (const std::string& line : Lines(ReadFile(report_.obs_path))) {
      head.push_back(line);
      if (line.find("END OF HEADER") == 60) break;
    }
    return head;
  }
  // Columns 1-60 of the first header line with this label ("" when none).
  std::string Field(const std::string& label) const {
    for (const std::string& line : Header())
      if (line.size() > 60 && line.compare(60, label.size(), label) == 0) return line.substr(0, 60);
    return "";
  }
  // RINEX 2 epoch records (event flag 0) of the output.
  int EpochRecords() const {
    int n = 0;
    for (const std::string& line : Lines(ReadFile(report_.obs_path)))
      if (line.size() > 29 && line.compare(0, 3, " 05") == 0 && line[28] == '0') ++n;
    return n;
  }
};

TEST_F(EditOptionsTest, WindowDecimationExclusionAndTypesShapeHeaderAndReport) {
  o_.from_time = "2005-04-02T00:10:00";
  o_.to_time = "2005-04-02 00:40:00";
  o_.interval = 300.0;
  o_.exclude = "G07,R";
  o_.obs_types = "P2,C1";
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ(6u, report_.epochs_written);
  EXPECT_EQ(6, EpochRecords());
  EXPECT_DOUBLE_EQ(300.0, report_.interval);
  EXPECT_NEAR(518400.0 + 600.0, report_.first_tow, 0.025);
  EXPECT_EQ("     2    C1    P2", Field("# / TYPES OF OBSERV").substr(0, 18));
  EXPECT_EQ("   300.000", Field("INTERVAL").substr(0, 10));
  EXPECT_EQ("  2005     4     2     0    10", Field("TIME OF FIRST OBS").substr(0, 30));
  const std::string text = ReadFile(report_.obs_path);
  EXPECT_EQ(std::string::npos, text.find("G 7", text.find("END OF HEADER")));
}

TEST_F(EditOptionsTest, MetadataAndFullHeader) {
  const char* comments[] = {"first line", "second line"};
  o_.marker_number = "10001M001";
  o_.receiver_number = "4711";
  o_.receiver_version = "2.32";
  o_.antenna_type = "TRM41249.00     NONE";
  o_.use_position = 1;
  o_.position[0] = 4000000.5;
  o_.position[1] = -1.25;
  o_.position[2] = 3.0;
  o_.use_antenna_delta = 1;
  o_.antenna_delta[0] = 1.465;
  o_.comments = comments;
  o_.comment_count = 2;
  o_.full_header = 1;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ("10001M001", Field("MARKER NUMBER").substr(0, 9));
  // Without a receiver type the GPB file's receiver stays.
  EXPECT_EQ("4711                RINEX TRIMBLE 5700  2.32",
            Field("REC # / TYPE / VERS").substr(0, 44));
  EXPECT_EQ("TRM41249.00     NONE", Field("ANT # / TYPE").substr(20, 20));
  EXPECT_EQ("  4000000.5000       -1.2500        3.0000",
            Field("APPROX POSITION XYZ").substr(0, 42));
  EXPECT_EQ("        1.4650        0.0000        0.0000",
            Field("ANTENNA: DELTA H/E/N").substr(0, 42));
  int comment_lines = 0, prn_lines = 0;
  for (const std::string& line : Header()) {
    if (line.find("COMMENT") == 60) ++comment_lines;
    if (line.find("PRN / # OF OBS") == 60) ++prn_lines;
  }
  EXPECT_EQ(2, comment_lines);
  EXPECT_EQ(report_.satellites, prn_lines);
  EXPECT_EQ(prn_lines, std::stoi(Field("# OF SATELLITES").substr(0, 6)));
  EXPECT_EQ("  2005     4     2     0    59", Field("TIME OF LAST OBS").substr(0, 30));
}

TEST_F(EditOptionsTest, Rinex3HeaderListsTheKeptTypesOnly) {
  o_.rinex = RAWCONV_RINEX_3_04;
  o_.obs_types = "C1,L1";
  o_.interval = 60.0;
  o_.full_header = 1;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ(60u, report_.epochs_written);
  const std::string types = Field("SYS / # / OBS TYPES");
  EXPECT_EQ("G    2 C1C L1C", types.substr(0, 14));
  EXPECT_EQ("    60.000", Field("INTERVAL").substr(0, 10));
  EXPECT_NE("", Field("PRN / # OF OBS"));
}

TEST_F(EditOptionsTest, AWindowAroundTheWholeFileChangesNoByte) {
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  const std::string plain = ReadFile(report_.obs_path);
  const uint64_t plain_epochs = report_.epochs_written;
  fs::remove(report_.obs_path);
  fs::remove(report_.nav_path);
  o_.from_time = "2005-04-01 00:00:00";
  o_.to_time = "2005-04-03 00:00:00";
  o_.exclude = "R";
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ(plain, ReadFile(report_.obs_path));
  EXPECT_EQ(plain_epochs, report_.epochs_written);
}

TEST_F(EditOptionsTest, TypeAbsentFromTheDataFailsAndLeavesNothing) {
  o_.obs_types = "C1,S2";
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_STREQ("Observation type S2 is not in the data", report_.error);
  EXPECT_TRUE(fs::is_empty(out_));
  // The same check with the report names made from the pre-scan.
  o_.names = RAWCONV_NAMES_LONG;
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_TRUE(fs::is_empty(out_));
}

TEST_F(EditOptionsTest, BadValuesAreInvalidBeforeAnythingIsRead) {
  struct Case {
    void (*Set)(rawconv_options*);
    const char* Start;
  };
  static const char* const kLong = "123456789012345678901";
  static const char* const kNull[] = {nullptr};
  const Case cases[] = {
      {[](rawconv_options* o) { o->from_time = "2005-04-31 00:00:00"; }, "Bad time"},
      {[](rawconv_options* o) {
         o->from_time = "2005-04-02 01:00:00";
         o->to_time = "2005-04-02 00:00:00";
       },
       "Bad time window"},
      {[](rawconv_options* o) { o->interval = -1.0; }, "Bad interval"},
      {[](rawconv_options* o) { o->interval = 86401.0; }, "Bad interval"},
      {[](rawconv_options* o) { o->exclude = "G33"; }, "Bad exclusion"},
      {[](rawconv_options* o) { o->obs_types = "C1,"; }, "Bad observation types"},
      {[](rawconv_options* o) { o->receiver_type = kLong; }, "Bad receiver type"},
      {[](rawconv_options* o) { o->marker_number = "tab\there"; }, "Bad marker number"},
      {[](rawconv_options* o) {
         o->use_antenna_delta = 1;
         o->antenna_delta[2] = 1e10;
       },
       "Bad antenna delta"},
      {[](rawconv_options* o) { o->comment_count = 1; }, "Bad comments"},
      {[](rawconv_options* o) {
         o->comments = kNull;
         o->comment_count = 1;
       },
       "Bad comment"},
  };
  for (const Case& c : cases) {
    rawconv_options o = o_;
    c.Set(&o);
    char why[RAWCONV_ERROR_MAX] = "x";
    EXPECT_EQ(RAWCONV_INVALID, rawconv_check_edits(&o, why, sizeof why)) << c.Start;
    EXPECT_EQ(0, std::string(why).find(c.Start)) << why;
    EXPECT_EQ(std::string::npos, std::string(why).find('\n'));
    rawconv_report r;
    rawconv_report_init(&r);
    EXPECT_EQ(RAWCONV_INVALID, rawconv_convert(session_, &o, &r)) << c.Start;
    EXPECT_STREQ(why, r.error);
  }
  EXPECT_TRUE(fs::is_empty(out_));
  EXPECT_EQ(RAWCONV_OK, rawconv_check_edits(&o_, nullptr, 0));
  EXPECT_EQ(RAWCONV_INVALID, rawconv_check_edits(nullptr, nullptr, 0));
}

// The public table of limits is what a call enforces: every text at its
// limit is taken and one character more is invalid; the comment count and
// the antenna height likewise.
TEST_F(EditOptionsTest, TheLimitsTableIsWhatACallEnforces) {
  struct Text {
    void (*Set)(rawconv_options*, const char*);
    size_t Max;
  };
  const Text texts[] = {
      {[](rawconv_options* o, const char* t) { o->marker_name = t; }, RAWCONV_MARKER_MAX},
      {[](rawconv_options* o, const char* t) { o->observer = t; }, RAWCONV_OBSERVER_MAX},
      {[](rawconv_options* o, const char* t) { o->agency = t; }, RAWCONV_AGENCY_MAX},
      {[](rawconv_options* o, const char* t) { o->run_by = t; }, RAWCONV_RUN_BY_MAX},
      {[](rawconv_options* o, const char* t) { o->marker_number = t; }, RAWCONV_MARKER_NUMBER_MAX},
      {[](rawconv_options* o, const char* t) { o->receiver_number = t; }, RAWCONV_RECEIVER_TEXT_MAX},
      {[](rawconv_options* o, const char* t) { o->receiver_type = t; }, RAWCONV_RECEIVER_TEXT_MAX},
      {[](rawconv_options* o, const char* t) { o->receiver_version = t; },
       RAWCONV_RECEIVER_TEXT_MAX},
      {[](rawconv_options* o, const char* t) { o->antenna_number = t; }, RAWCONV_ANTENNA_TEXT_MAX},
      {[](rawconv_options* o, const char* t) { o->antenna_type = t; }, RAWCONV_ANTENNA_TEXT_MAX},
  };
  auto plan = [this](const rawconv_options& o) {
    rawconv_report r;
    rawconv_report_init(&r);
    return rawconv_plan(session_, &o, &r);
  };
  for (const Text& t : texts) {
    for (const size_t length : {t.Max, t.Max + 1}) {
      SCOPED_TRACE(length);
      const std::string text(length, 'X');
      rawconv_options o = o_;
      t.Set(&o, text.c_str());
      EXPECT_EQ(length == t.Max ? RAWCONV_OK : RAWCONV_INVALID, plan(o));
    }
  }
  // A station id of its nine characters names long files.
  rawconv_options o = o_;
  o.names = RAWCONV_NAMES_LONG;
  const std::string id(RAWCONV_STATION_ID_MAX, 'S');
  o.station_id = id.c_str();
  EXPECT_EQ(RAWCONV_OK, plan(o));
  const std::string longer = id + "S";
  o.station_id = longer.c_str();
  EXPECT_EQ(RAWCONV_INVALID, plan(o));

  const std::string comment(RAWCONV_COMMENT_MAX, 'C');
  const std::vector<const char*> comments(RAWCONV_COMMENT_COUNT_MAX + 1, comment.c_str());
  o = o_;
  o.comments = comments.data();
  o.comment_count = RAWCONV_COMMENT_COUNT_MAX;
  EXPECT_EQ(RAWCONV_OK, plan(o));
  o.comment_count = RAWCONV_COMMENT_COUNT_MAX + 1;
  EXPECT_EQ(RAWCONV_INVALID, plan(o));
  const std::string wider = comment + "C";
  const char* one[] = {wider.c_str()};
  o.comments = one;
  o.comment_count = 1;
  EXPECT_EQ(RAWCONV_INVALID, plan(o));

  o = o_;
  o.antenna_height = RAWCONV_ANTENNA_HEIGHT_MAX;
  EXPECT_EQ(RAWCONV_OK, plan(o));
  o.antenna_height = RAWCONV_ANTENNA_HEIGHT_MAX + 0.001;
  EXPECT_EQ(RAWCONV_INVALID, plan(o));
  EXPECT_TRUE(fs::is_empty(out_));
}

TEST_F(EditOptionsTest, OlderCallersRecordEndsBeforeTheEditingFields) {
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  const std::string plain = ReadFile(report_.obs_path);
  fs::remove(report_.obs_path);
  fs::remove(report_.nav_path);
  // Whatever lies beyond the caller's record is never read.
  o_.size = static_cast<uint32_t>(offsetof(rawconv_options, from_time));
  o_.obs_types = "S2";
  o_.interval = -5.0;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ(plain, ReadFile(report_.obs_path));
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
