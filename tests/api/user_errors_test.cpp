// The reentrant interface as a user meets it, on a copy of the shipped
// sample (2005-04-02 00:00:00 to 00:59:30 GPS time, week 1316): a recording
// without its EPP file, selections that keep nothing, station files that
// cannot be used, failures that say why, and the field each refusal names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "api/rawconv_api.h"
#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class UserErrorsTest : public SampleSessionFixture {
 protected:
  int Convert() {
    rawconv_report_init(&report_);
    return rawconv_convert(session_, &o_, &report_);
  }
  int Plan() {
    rawconv_report_init(&report_);
    return rawconv_plan(session_, &o_, &report_);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Error() const { return report_.error; }
  std::string Field() const { return report_.error_field; }
  std::string Warnings() const { return report_.warnings; }
};

// ---- A recording without its EPP file ----

TEST_F(UserErrorsTest, AWeekOrADayDatesARecordingWithoutEphemerides) {
  fs::remove(Path("sample.epp"));
  o_.use_week = 1;
  o_.week = 1316;
  ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_STREQ("", report_.nav_path);
  EXPECT_EQ(0u, report_.nav_records);
  EXPECT_EQ("No ephemeris file " + Path("sample.epp") + ": observation file only\n", Warnings());
  EXPECT_EQ(std::vector<std::string>{"sample.05o"}, Files());
  const std::string by_week = ReadFile(Path("out/sample.05o"));
  EXPECT_TRUE(Contains(by_week, "  2005     4     2     0     0    0.0000000                 TIME OF FIRST OBS"));

  // The day before or the day itself: each epoch is nearest that day's noon.
  for (const char* day : {"2005-04-02", "2005-04-01"}) {
    SCOPED_TRACE(day);
    fs::remove(Path("out/sample.05o"));
    o_.use_week = 0;
    o_.date = day;
    ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
    EXPECT_EQ(1316, report_.first_week);
    EXPECT_STREQ("2005-04-02 00:59:30.0050000", report_.last_time);  // the receiver's clock
    EXPECT_EQ(by_week, ReadFile(Path("out/sample.05o")));
  }
  // Three weeks on, the same times of week are three weeks later.
  fs::remove(Path("out/sample.05o"));
  o_.date = "2005-04-23";
  ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_EQ(1319, report_.first_week);
  EXPECT_STREQ("2005-04-23 00:00:00.0000000", report_.first_time);
}

TEST_F(UserErrorsTest, EveryFlowRunsWithoutEphemeridesWhenDated) {
  fs::remove(Path("sample.epp"));
  o_.date = "2005-04-02";
  o_.names = RAWCONV_NAMES_SHORT;
  o_.split = RAWCONV_SPLIT_15M;
  ASSERT_EQ(RAWCONV_OK, Plan()) << Error();
  EXPECT_STREQ("", report_.nav_path);
  EXPECT_EQ(4u, report_.obs_files);
  ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_EQ((std::vector<std::string>{"samp092a00.05o", "samp092a15.05o", "samp092a30.05o",
                                      "samp092a45.05o"}),
            Files());
  EXPECT_TRUE(Contains(Warnings(), "observation file only"));

  // The check alone, without orbits: it runs and says what it lacks.
  o_.split = RAWCONV_SPLIT_NONE;
  o_.qc = RAWCONV_QC_ONLY;
  o_.qc_dir = out_.c_str();
  ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_TRUE(fs::exists(Path("out/sample.qc.txt")));
  EXPECT_EQ("No ephemeris file " + Path("sample.epp") +
                ": the quality check has no azimuths or elevations\n",
            Warnings());
  EXPECT_NE('\0', report_.qc_summary[0]);

  // Converting with the check: both lines.
  o_.qc = RAWCONV_QC_WITH;
  o_.existing = RAWCONV_EXISTING_REPLACE;
  o_.split = RAWCONV_SPLIT_1D;
  ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_TRUE(Contains(Warnings(), "observation file only\n"));
  EXPECT_TRUE(Contains(Warnings(), "no azimuths or elevations\n"));
}

TEST_F(UserErrorsTest, WithoutEphemeridesOrDatingTheMessageSaysHowToMendIt) {
  fs::remove(Path("sample.epp"));
  const std::string expected = "No ephemeris file " + Path("sample.epp") +
                               " to date the recording; give an EPP file, a GPS week or a day "
                               "of the recording";
  for (int32_t qc : {RAWCONV_QC_NONE, RAWCONV_QC_ONLY}) {
    for (int32_t split : {RAWCONV_SPLIT_NONE, RAWCONV_SPLIT_1H}) {
      if (qc == RAWCONV_QC_ONLY && split) continue;
      o_.qc = qc;
      o_.split = split;
      EXPECT_EQ(RAWCONV_FAILED, Convert());
      EXPECT_EQ(expected, Error());
      EXPECT_EQ("epp_path", Field());
      EXPECT_EQ(RAWCONV_FAILED, Plan());
      EXPECT_EQ(expected, Error());
    }
  }
  EXPECT_TRUE(Files().empty());

  // A file the caller named must be there, dated or not.
  const std::string named = Path("named.epp");
  o_.qc = RAWCONV_QC_NONE;
  o_.split = RAWCONV_SPLIT_NONE;
  o_.epp_path = named.c_str();
  o_.use_week = 1;
  o_.week = 1316;
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("Cannot open ephemeris file " + named + ": No such file or directory", Error());
  EXPECT_EQ("epp_path", Field());
  fs::create_directory(named);
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("Cannot open ephemeris file " + named + ": it is a folder", Error());
  EXPECT_TRUE(Files().empty());

  // A file that is there but cannot date the recording, or is no EPP file.
  fs::remove(named);
  o_.use_week = 0;
  WriteFile(named, "$EPHREC no records\n");
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("No usable ephemeris record in " + named +
                " to date the recording; give a GPS week or a day of the recording",
            Error());
  WriteFile(named, "something else\n");
  o_.use_week = 1;
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("Ephemeris file " + named + " is not an EPP file (no $EPHREC header)", Error());
  EXPECT_EQ("epp_path", Field());
  EXPECT_TRUE(Files().empty());
}

TEST_F(UserErrorsTest, BadDatingIsRefusedNamingItsField) {
  struct Case {
    int32_t UseWeek;
    int32_t Week;
    const char* Date;
    const char* Field;
  };
  const Case cases[] = {
      {1, 99999, nullptr, "week"},       {1, -1, nullptr, "week"},
      {1, RAWCONV_WEEK_MAX + 1, nullptr, "week"},
      {1, 1316, "2005-04-02", "date"},   {0, 0, "2005-02-30", "date"},
      {0, 0, "2005-4-2", "date"},        {0, 0, "1979-12-31", "date"},
      {0, 0, "2005-04-02 12:00", "date"}, {0, 0, "2080-01-01", "date"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Week) + " " + (c.Date ? c.Date : "-"));
    o_.use_week = c.UseWeek;
    o_.week = c.Week;
    o_.date = c.Date;
    EXPECT_EQ(RAWCONV_INVALID, Convert());
    EXPECT_EQ(c.Field, Field());
    if (c.Date && !c.UseWeek) {
      EXPECT_TRUE(Contains(Error(), c.Date)) << Error();
    }
  }
  o_.use_week = 1;
  o_.week = RAWCONV_WEEK_MAX;
  o_.date = nullptr;
  EXPECT_EQ(RAWCONV_OK, Plan()) << Error();
  EXPECT_TRUE(Files().empty());
}

// ---- Nothing silent ----

TEST_F(UserErrorsTest, ASelectionThatKeepsNoEpochFailsAndWritesNothing) {
  const std::string span = "the recording spans 2005-04-02 00:00:00 to 2005-04-02 00:59:30";
  o_.from_time = "2015-04-02 00:00:00";
  for (int32_t names : {RAWCONV_NAMES_INPUT, RAWCONV_NAMES_SHORT}) {
    for (int32_t split : {RAWCONV_SPLIT_NONE, RAWCONV_SPLIT_15M}) {
      for (int32_t qc : {RAWCONV_QC_NONE, RAWCONV_QC_WITH, RAWCONV_QC_ONLY}) {
        SCOPED_TRACE(std::to_string(names) + " " + std::to_string(split) + " " + std::to_string(qc));
        o_.names = names;
        o_.split = split;
        o_.qc = qc;
        EXPECT_EQ(RAWCONV_FAILED, Convert());
        EXPECT_EQ("No epoch kept: window 2015-04-02 00:00:00 to (open); " + span, Error());
        EXPECT_EQ(RAWCONV_FAILED, Plan());
        EXPECT_EQ("No epoch kept: window 2015-04-02 00:00:00 to (open); " + span, Error());
        EXPECT_TRUE(Files().empty());
        EXPECT_TRUE(!fs::exists(Path("sample.qc.txt")));
      }
    }
  }
  o_.names = RAWCONV_NAMES_INPUT;
  o_.split = RAWCONV_SPLIT_NONE;
  o_.qc = RAWCONV_QC_NONE;
  o_.from_time = nullptr;
  o_.exclude = "G";
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("No epoch kept: excluding G; " + span, Error());
  o_.exclude = nullptr;
  o_.from_time = "2005-04-02 00:10:00";
  o_.to_time = "2005-04-02 00:10:10";
  o_.interval = 7;
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("No epoch kept: window 2005-04-02 00:10:00 to 2005-04-02 00:10:10, interval 7 s; " +
                span,
            Error());
  EXPECT_TRUE(Files().empty());
  // One kept epoch is a file.
  o_.interval = 0;
  EXPECT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_EQ(1u, report_.epochs_written);
}

TEST_F(UserErrorsTest, AStationFileGivenMustHoldStationRecords) {
  o_.station = RAWCONV_STATION_FILE;
  const std::string folder = Path("stations");
  const std::string epp = Path("sample.epp");
  const std::string missing = Path("nothing.sta");
  fs::create_directory(folder);
  struct Case {
    const std::string& Path;
    std::string Message;
  };
  const Case cases[] = {
      {folder, "Cannot open station file " + folder + ": it is a folder"},
      {missing, "Cannot open station file " + missing + ": No such file or directory"},
      {epp, "Station file " + epp + " holds no station record"},
  };
  for (const Case& c : cases) {
    o_.station_path = c.Path.c_str();
    EXPECT_EQ(RAWCONV_FAILED, Convert());
    EXPECT_EQ(c.Message, Error());
    EXPECT_EQ("station_path", Field());
    EXPECT_TRUE(Files().empty());
  }
  const std::string good = Path("sample.sta");
  o_.station_path = good.c_str();
  EXPECT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_EQ("", Warnings());
  // Records, but none at the data's times: written, with a warning.
  const std::string other = Path("other.sta");
  WriteFile(other, "STA: *1000.0*\"ABCD\"*1.5*\"a\"*\"b\"*\n");
  o_.station_path = other.c_str();
  o_.existing = RAWCONV_EXISTING_REPLACE;
  EXPECT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_EQ("Station file " + other + " has no record for the times of the data: no station block\n",
            Warnings());
}

TEST_F(UserErrorsTest, AStationFileBesideWithoutRecordsForTheDataIsAWarning) {
  ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_EQ("", Warnings());
  WriteFile(Path("sample.sta"),
            "$STAINFO another day\nsta {\n  ID: 0759\n  GTim: 1000.0 1316\n  Hi: 1.0 VERT\n}\n");
  o_.existing = RAWCONV_EXISTING_REPLACE;
  ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_EQ("Station file " + Path("sample.sta") +
                " has no record for the times of the data: no station block\n",
            Warnings());
  WriteFile(Path("sample.sta"), "no records here\n");
  ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_EQ("Station file " + Path("sample.sta") + " holds no station record: no station block\n",
            Warnings());
}

// ---- Messages that say why ----

TEST_F(UserErrorsTest, InputAndOutputFailuresGiveTheSystemsReason) {
  const std::string missing = Path("missing.gpb");
  o_.gpb_path = missing.c_str();
  EXPECT_EQ(RAWCONV_BAD_GPB, Convert());
  EXPECT_EQ("Cannot open GPB file " + missing + ": No such file or directory", Error());
  EXPECT_EQ("gpb_path", Field());
  const std::string folder = Path("folder.gpb");
  fs::create_directory(folder);
  o_.gpb_path = folder.c_str();
  EXPECT_EQ(RAWCONV_BAD_GPB, Convert());
  EXPECT_EQ("Cannot open GPB file " + folder + ": it is a folder", Error());
  const std::string text = Path("text.gpb");
  WriteFile(text, "hello\n");
  o_.gpb_path = text.c_str();
  EXPECT_EQ(RAWCONV_BAD_GPB, Convert());
  EXPECT_EQ("Cannot open GPB file " + text +
                ": not a GPB file (neither the new nor the old format)",
            Error());

  o_.gpb_path = gpb_.c_str();
  const std::string nowhere = Path("out/no/such");
  o_.output_dir = nowhere.c_str();
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_TRUE(Contains(Error(), nowhere)) << Error();
  EXPECT_TRUE(Contains(Error(), ": No such file or directory")) << Error();

  // The reports of the check likewise.
  o_.output_dir = out_.c_str();
  o_.qc = RAWCONV_QC_ONLY;
  o_.qc_dir = nowhere.c_str();
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("Cannot write quality report " + nowhere + "/sample.qc.txt: No such file or directory",
            Error());
  o_.qc = RAWCONV_QC_NONE;
  o_.qc_dir = nullptr;

  // A folder where an output file is expected.
  const std::string obs = Path("out/x.obs"), nav = Path("out/x.nav");
  fs::create_directory(obs);
  o_.obs_path = obs.c_str();
  o_.nav_path = nav.c_str();
  for (int32_t existing : {RAWCONV_EXISTING_REFUSE, RAWCONV_EXISTING_SKIP, RAWCONV_EXISTING_REPLACE}) {
    o_.existing = existing;
    EXPECT_EQ(RAWCONV_FAILED, Convert());
    EXPECT_EQ("Output file " + obs + " is a folder", Error());
    EXPECT_EQ("obs_path", Field());
  }
  EXPECT_EQ(std::vector<std::string>{"x.obs"}, Files());
}

TEST_F(UserErrorsTest, TheEpochReaderSaysWhyItCannotOpen) {
  char why[RAWCONV_ERROR_MAX];
  const std::string missing = Path("missing.gpb");
  EXPECT_EQ(nullptr, rawconv_gpb_open(missing.c_str(), nullptr, -1, why, sizeof why));
  EXPECT_EQ("Cannot open GPB file " + missing + ": No such file or directory", std::string(why));
  EXPECT_EQ(nullptr, rawconv_gpb_open(out_.c_str(), nullptr, -1, why, sizeof why));
  EXPECT_EQ("Cannot open GPB file " + out_ + ": it is a folder", std::string(why));
}

TEST_F(UserErrorsTest, AnExistingOutputNamesTheObservationFileFirst) {
  ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_EQ(RAWCONV_EXISTS, Convert());
  EXPECT_EQ("Output file " + Path("out/sample.05o") + " exists", Error());
  EXPECT_EQ("existing", Field());
  o_.names = RAWCONV_NAMES_SHORT;
  o_.split = RAWCONV_SPLIT_1H;
  ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_EQ(RAWCONV_EXISTS, Convert());
  EXPECT_EQ("Output file " + Path("out/samp092a.05o") + " exists", Error());
  EXPECT_EQ("existing", Field());
}

// ---- Texts and the field of each refusal ----

TEST_F(UserErrorsTest, HeaderTextsMustBePrintableAscii) {
  struct Case {
    const char* rawconv_options::*Member;
    const char* Name;
    const char* Value;
    const char* Why;
  };
  const Case cases[] = {
      {&rawconv_options::marker_name, "marker_name", "a\nb", "(byte 0x0a at 2)"},
      {&rawconv_options::observer, "observer", "ab\r", "(byte 0x0d at 3)"},
      {&rawconv_options::agency, "agency", "\x1b[31m", "(byte 0x1b at 1)"},
      {&rawconv_options::run_by, "run_by", "Jos\xc3\xa9", "(byte 0xc3 at 4)"},
      {&rawconv_options::station_id, "station_id", "AB\x7f", "(byte 0x7f at 3)"},
      {&rawconv_options::marker_number, "marker_number", "1\t2", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    rawconv_options o = o_;
    o.*(c.Member) = c.Value;
    rawconv_report_init(&report_);
    EXPECT_EQ(RAWCONV_INVALID, rawconv_convert(session_, &o, &report_));
    EXPECT_EQ(c.Name, Field());
    EXPECT_TRUE(Contains(Error(), c.Why)) << Error();
    if (*c.Why) {
      EXPECT_EQ(std::string(c.Name) + ": not printable ASCII " + c.Why, Error());
    }
    EXPECT_EQ(RAWCONV_INVALID, rawconv_plan(session_, &o, &report_));
    char message[RAWCONV_ERROR_MAX];
    EXPECT_EQ(RAWCONV_INVALID, rawconv_check_edits(&o, message, sizeof message));
    EXPECT_EQ(Error(), message);
  }
  EXPECT_TRUE(Files().empty());
}

TEST_F(UserErrorsTest, EveryRefusedOptionNamesItsField) {
  struct Case {
    void (*Set)(rawconv_options*);
    const char* Field;
  };
  const Case cases[] = {
      {[](rawconv_options* o) { o->from_time = "2005-13-01 00:00:00"; }, "from_time"},
      {[](rawconv_options* o) { o->to_time = "yesterday"; }, "to_time"},
      {[](rawconv_options* o) {
         o->from_time = "2005-04-02 01:00:00";
         o->to_time = "2005-04-02 00:00:00";
       },
       "to_time"},
      {[](rawconv_options* o) { o->interval = -5; }, "interval"},
      {[](rawconv_options* o) { o->exclude = "X7"; }, "exclude"},
      {[](rawconv_options* o) { o->obs_types = "Q9"; }, "obs_types"},
      {[](rawconv_options* o) {
         static const std::string kLong(61, 'M');
         o->marker_name = kLong.c_str();
       },
       "marker_name"},
      {[](rawconv_options* o) { o->antenna_height = -1; }, "antenna_height"},
      {[](rawconv_options* o) {
         o->use_position = 1;
         o->position[1] = 1e300;
       },
       "position"},
      {[](rawconv_options* o) { o->marker_type = "ROOF"; }, "marker_type"},
      {[](rawconv_options* o) { o->rinex = 7; }, "rinex"},
      {[](rawconv_options* o) { o->existing = 9; }, "existing"},
      {[](rawconv_options* o) {
         o->station = RAWCONV_STATION_FILE;
         o->station_path = nullptr;
       },
       "station_path"},
      {[](rawconv_options* o) { o->obs_path = "x.obs"; }, "nav_path"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Field);
    rawconv_options o = o_;
    c.Set(&o);
    rawconv_report_init(&report_);
    EXPECT_EQ(RAWCONV_INVALID, rawconv_convert(session_, &o, &report_)) << report_.error;
    EXPECT_EQ(c.Field, Field()) << report_.error;
    EXPECT_NE("", Error());
  }
  // A call that succeeds names no field.
  ASSERT_EQ(RAWCONV_OK, Convert()) << Error();
  EXPECT_EQ("", Field());
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
