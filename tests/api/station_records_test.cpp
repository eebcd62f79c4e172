// Site logs and station tables through the reentrant interface: headers
// filled from real public logs (tests/data/sitelogs) match the logs field by
// field, at the dates the logs cover; the records' precedence; the lookup in
// a folder; failures name the record, and rawconv_plan fails alike.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "api/conversion.h"
#include "api/rawconv_api.h"
#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

const std::string kLogs = std::string(RAWCONV_SOURCE_DIR) + "/tests/data/sitelogs/";

class StationRecordsTest : public ConversionFixture {
 protected:
  void SetUp() override {
    ConversionFixture::SetUp();
    out_ = Path("out");
    logs_ = Path("logs");
    fs::create_directory(out_);
    fs::create_directory(logs_);
    rawconv_options_init(&o_);
    o_.output_dir = out_.c_str();
    o_.use_run_date = 1;
    o_.run_date = 1133965800;
    o_.existing = RAWCONV_EXISTING_REPLACE;
    session_ = rawconv_session_new();
    rawconv_report_init(&report_);
  }
  void TearDown() override {
    rawconv_session_free(session_);
    ConversionFixture::TearDown();
  }

  // <stem>.gpb: n epochs from (week, tow), dated by the week.
  void Recording(const std::string& stem, int week, double tow, int n = 3,
                 double interval = 30.0) {
    gpb_ = Path(stem + ".gpb");
    WriteFile(gpb_, AsText(GpbBytes(tow, n, interval)));
    o_.gpb_path = gpb_.c_str();
    o_.use_week = 1;
    o_.week = week;
  }
  void CopyLog(const std::string& name, const std::string& as = "") {
    fs::copy_file(kLogs + name, logs_ + "/" + (as.empty() ? name : as),
                  fs::copy_options::overwrite_existing);
  }
  int Convert() { return rawconv_convert(session_, &o_, &report_); }

  // Columns 1-60 of the header line with this label ("" when none).
  std::string Field(const std::string& label) const {
    for (const std::string& line : Lines(ReadFile(report_.obs_path))) {
      if (line.size() > 60 && line.compare(60, label.size(), label) == 0) return line.substr(0, 60);
      if (line.find("END OF HEADER") == 60) break;
    }
    return "";
  }
  bool Warned(const std::string& part) const {
    return std::string(report_.warnings).find(part) != std::string::npos;
  }

  std::string out_, logs_, gpb_, sitelog_, stations_;
  rawconv_options o_;
  rawconv_session* session_ = nullptr;
  rawconv_report report_;
};

std::string Padded(const std::string& text) {
  std::string out = text;
  out.resize(20, ' ');
  return out;
}

TEST_F(StationRecordsTest, Version2LogFillsTheHeaderFieldByField) {
  // AGGO00ARG on 2022-10-10: receiver 3.2, antenna 4.2.
  Recording("aggo2830", 2231, 86400.0);
  sitelog_ = kLogs + "aggo00arg_20230608.log";
  o_.sitelog_path = sitelog_.c_str();
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ(Padded("AGGO") + std::string(40, ' '), Field("MARKER NAME"));
  EXPECT_EQ(Padded("41596M001") + std::string(40, ' '), Field("MARKER NUMBER"));
  EXPECT_EQ(Padded("3228290") + Padded("SEPT POLARX5TR") + Padded("5.4.0"),
            Field("REC # / TYPE / VERS"));
  EXPECT_EQ(Padded("726722") + "LEIAR25.R4      LEIT" + std::string(20, ' '), Field("ANT # / TYPE"));
  EXPECT_EQ("  2765120.9000 -4449250.2500 -3626405.6000" + std::string(18, ' '),
            Field("APPROX POSITION XYZ"));
  EXPECT_EQ("        0.1550        0.0000        0.0000" + std::string(18, ' '),
            Field("ANTENNA: DELTA H/E/N"));
  EXPECT_FALSE(Warned("spans a change")) << report_.warnings;
}

TEST_F(StationRecordsTest, AntennaChangeGivesEachRecordingItsAntenna) {
  sitelog_ = kLogs + "aggo00arg_20230608.log";
  o_.sitelog_path = sitelog_.c_str();
  // The day after the new height (entry 4.3, 0.4100 m).
  Recording("aggo2850", 2231, 259200.0);
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ("        0.4100", Field("ANTENNA: DELTA H/E/N").substr(0, 14));
  EXPECT_FALSE(Warned("spans a change")) << report_.warnings;
  // 13:00 to 14:00 on the day of the change (13:30): the first epoch's
  // antenna, and a warning.
  Recording("aggo2841", 2231, 219600.0, 3, 1800.0);
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ("        0.1550", Field("ANTENNA: DELTA H/E/N").substr(0, 14));
  EXPECT_TRUE(Warned("Recording 2022-10-11 13:00:00 to 2022-10-11 14:00:00 spans a change of "
                     "antenna in site log " + sitelog_ + " (entry 4.2 removed 2022-10-11 13:30:00)"))
      << report_.warnings;
  // A window that starts after the change takes the new antenna.
  o_.from_time = "2022-10-11 13:30:00";
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ("        0.4100", Field("ANTENNA: DELTA H/E/N").substr(0, 14));
  o_.from_time = nullptr;
  rawconv_report plan;
  rawconv_report_init(&plan);
  EXPECT_EQ(RAWCONV_OK, rawconv_plan(session_, &o_, &plan)) << plan.error;
}

TEST_F(StationRecordsTest, ClassicLogAndItsGap) {
  // FYHA on 2015-01-01: receiver 3.1 (firmware 2.00), antenna 4.2.
  Recording("fyha0010", 1825, 345600.0);
  sitelog_ = kLogs + "fyha_20161220.log";
  o_.sitelog_path = sitelog_.c_str();
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ(Padded("FYHA"), Field("MARKER NAME").substr(0, 20));
  EXPECT_EQ(Padded("10126M001"), Field("MARKER NUMBER").substr(0, 20));
  EXPECT_EQ(Padded("1830135") + Padded("LEICA GR25") + Padded("2.00"), Field("REC # / TYPE / VERS"));
  EXPECT_EQ(Padded("10351006") + "LEIAR25.R4      LEIT", Field("ANT # / TYPE").substr(0, 40));
  EXPECT_EQ("  3611640.0140   635936.1650  5201014.6360", Field("APPROX POSITION XYZ").substr(0, 42));
  EXPECT_EQ("        0.1663", Field("ANTENNA: DELTA H/E/N").substr(0, 14));
  // 25 minutes without an antenna: nothing is written, the log and the
  // time are named.
  Recording("fyha3280", 1820, 133800.0);
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("Site log " + sitelog_ + " has no antenna installed at 2014-11-24 13:10:00",
            std::string(report_.error));
  EXPECT_STREQ("sitelog_path", report_.error_field);
  for (const auto& entry : fs::directory_iterator(out_))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find("fyha3280")) << entry.path();
  rawconv_report plan;
  rawconv_report_init(&plan);
  EXPECT_EQ(RAWCONV_FAILED, rawconv_plan(session_, &o_, &plan));
  EXPECT_STREQ(report_.error, plan.error);
}

TEST_F(StationRecordsTest, FolderFindsTheLogByEitherNameAnyCase) {
  CopyLog("abmf_20240710.log", "ABMF_20240710.LOG");
  CopyLog("abmf00glp_20240710.log");
  CopyLog("aggo00arg_20230608.log");
  CopyLog("fyha_20161220.log", "fyha_20150101.log");
  o_.sitelog_path = logs_.c_str();
  // Long names: the nine-character ID of the 2.0 log names the file.
  Recording("abmf2750", 2073, 259200.0);
  o_.rinex = RAWCONV_RINEX_3_05;
  o_.names = RAWCONV_NAMES_LONG;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ("ABMF00GLP_R_20192750000", fs::path(report_.obs_path).filename().string().substr(0, 23));
  EXPECT_EQ(Padded("3013312") + Padded("SEPT POLARX5") + Padded("5.3.0"), Field("REC # / TYPE / VERS"));
  EXPECT_EQ(Padded("1441112501") + "TRM57971.00     NONE", Field("ANT # / TYPE").substr(0, 40));
  // The marker given by name, in another case, finds the classic name too.
  o_.rinex = RAWCONV_RINEX_2_11;
  o_.names = RAWCONV_NAMES_INPUT;
  Recording("rec1", 1825, 345600.0);
  o_.marker_name = "fyha";
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ(Padded("fyha"), Field("MARKER NAME").substr(0, 20));
  EXPECT_EQ(Padded("10126M001"), Field("MARKER NUMBER").substr(0, 20));
  // No log of the station: a failure naming the station and the folder.
  o_.marker_name = "ZZZZ";
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("No site log for station ZZZZ in folder " + logs_ + " (looked for zzzz*_CCYYMMDD.log)",
            std::string(report_.error));
  EXPECT_STREQ("sitelog_path", report_.error_field);
  // A log given as a file must be of the input's station.
  o_.marker_name = nullptr;
  sitelog_ = kLogs + "aggo00arg_20230608.log";
  o_.sitelog_path = sitelog_.c_str();
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("Site log " + sitelog_ + " is of station AGGO00ARG, not of REC1 (the marker of the "
            "GPB file's name); give marker_name or station_id",
            std::string(report_.error));
}

TEST_F(StationRecordsTest, OptionsWinOverTheTableWhichWinsOverTheLog) {
  Recording("aggo2830", 2231, 86400.0);
  sitelog_ = kLogs + "aggo00arg_20230608.log";
  stations_ = Path("net.csv");
  WriteFile(stations_,
            "marker,receiver_type,receiver_version,antenna_height,observer,agency\n"
            "AGGO,TABLE RX,,1.2345,TABLE OBS,NET AGENCY\n");
  o_.sitelog_path = sitelog_.c_str();
  o_.stations_path = stations_.c_str();
  o_.receiver_version = "OPT 9";
  o_.observer = "OPTION OBS";
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  // Type from the table, version from the options, number from the log.
  EXPECT_EQ(Padded("3228290") + Padded("TABLE RX") + Padded("OPT 9"), Field("REC # / TYPE / VERS"));
  EXPECT_EQ(Padded("OPTION OBS") + Padded("NET AGENCY"), Field("OBSERVER / AGENCY").substr(0, 40));
  // The table's height replaces the log's eccentricities.
  EXPECT_EQ("        1.2345        0.0000        0.0000", Field("ANTENNA: DELTA H/E/N").substr(0, 42));
  // An antenna height given for the call replaces both.
  o_.antenna_height = 2.0;
  o_.use_position = 1;
  o_.position[0] = 1.0;
  o_.position[1] = 2.0;
  o_.position[2] = 3.0;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ("        2.0000        0.0000        0.0000", Field("ANTENNA: DELTA H/E/N").substr(0, 42));
  EXPECT_EQ("        1.0000        2.0000        3.0000", Field("APPROX POSITION XYZ").substr(0, 42));
  EXPECT_EQ(Padded("726722") + "LEIAR25.R4      LEIT", Field("ANT # / TYPE").substr(0, 40));
}

TEST_F(StationRecordsTest, TableAloneAndItsFaults) {
  Recording("efgh0010", 1825, 345600.0);
  stations_ = Path("net.csv");
  WriteFile(stations_,
            "marker,station_id,marker_number,antenna_type,antenna_delta,position,from,to\n"
            "EFGH,EFGH00DNK,10999M001,TRM57971.00     NONE,\"0.1,0.2,0.3\",\"1,2,3\",,2015-01-01\n"
            "efgh,EFGH00DNK,10999M001,TRM59800.00     SCIS,\"0.4,0.5,0.6\",\"4,5,6\",2015-01-01,\n");
  o_.stations_path = stations_.c_str();
  o_.rinex = RAWCONV_RINEX_3_05;
  o_.names = RAWCONV_NAMES_LONG;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ("EFGH00DNK_R_2015001", fs::path(report_.obs_path).filename().string().substr(0, 19));
  EXPECT_EQ(Padded("efgh"), Field("MARKER NAME").substr(0, 20));
  EXPECT_EQ(Padded("10999M001"), Field("MARKER NUMBER").substr(0, 20));
  EXPECT_EQ(Padded("") + "TRM59800.00     SCIS", Field("ANT # / TYPE").substr(0, 40));
  EXPECT_EQ("        0.4000        0.5000        0.6000", Field("ANTENNA: DELTA H/E/N").substr(0, 42));
  EXPECT_EQ("        4.0000        5.0000        6.0000", Field("APPROX POSITION XYZ").substr(0, 42));
  // A station without a row converts from the other sources, with a warning.
  Recording("ijkl0010", 1825, 345600.0);
  o_.names = RAWCONV_NAMES_SHORT;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_TRUE(Warned("Station table " + stations_ + " has no row for station IJKL: its header "
                     "takes no values from it"))
      << report_.warnings;
  EXPECT_EQ("", Field("MARKER NUMBER"));
  // A table that cannot be used fails every input, naming line and column.
  WriteFile(stations_, "marker,antenna_height\nIJKL,high\n");
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("Station table " + stations_ + " line 2 column antenna_height: 'high' is not a number "
            "that fits F14.4",
            std::string(report_.error));
  EXPECT_STREQ("stations_path", report_.error_field);
}

TEST_F(StationRecordsTest, LogOfAnotherStationAndTextsCutToTheirColumns) {
  Recording("abcd0010", 1825, 345600.0);
  std::string log = ReadFile(kLogs + "aggo00arg_20230608.log");
  log.replace(log.find("5.4.0"), 5, "5.4.0 build 2022-01-01 (rc)");
  log.replace(log.find("2018-12-06T20:40Z"), 17, "2014-12-06T20:40Z");
  log.replace(log.find("2016-11-11T10:45Z"), 17, "2014-11-11T10:45Z");
  log.replace(log.find("2016-11-11T10:30Z"), 17, "2014-11-11T10:30Z");
  WriteFile(logs_ + "/abcd_20230101.log", log);
  o_.sitelog_path = logs_.c_str();
  o_.marker_name = "AGGO";
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_NE(std::string::npos, std::string(report_.error).find("No site log for station AGGO"));
  o_.marker_name = "ABCD";
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_NE(std::string::npos, std::string(report_.error).find("is of station AGGO00ARG, not of ABCD"))
      << report_.error;
  o_.marker_name = nullptr;
  o_.sitelog_path = nullptr;
  const std::string file = logs_ + "/abcd_20230101.log";
  o_.station_id = "AGGO00ARG";
  o_.sitelog_path = file.c_str();
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ(Padded("3228290") + Padded("SEPT POLARX5TR") + "5.4.0 build 2022-01-", Field("REC # / TYPE / VERS"));
  EXPECT_TRUE(Warned("Site log " + file + " entry 3.2: Firmware Version '5.4.0 build 2022-01-01 (rc)' "
                     "cut to its 20 header columns"))
      << report_.warnings;
}

TEST_F(StationRecordsTest, SplitFilesAndTheCheckAloneTakeTheRecordsToo) {
  // 12:30 to 13:45 of the day AGGO's antenna changed (13:30), in hours.
  Recording("aggo2842", 2231, 217800.0, 6, 900.0);
  sitelog_ = kLogs + "aggo00arg_20230608.log";
  o_.sitelog_path = sitelog_.c_str();
  o_.split = RAWCONV_SPLIT_1H;
  std::vector<std::string> files;
  o_.output = [](void* user, int32_t kind, const char* path, int32_t) {
    if (kind == RAWCONV_OUTPUT_OBS) static_cast<std::vector<std::string>*>(user)->push_back(path);
  };
  o_.output_user = &files;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  ASSERT_EQ(2u, files.size());
  // Every span's header gives the equipment of the recording's first epoch.
  for (const std::string& file : files) {
    std::string delta;
    for (const std::string& line : Lines(ReadFile(file)))
      if (line.find("ANTENNA: DELTA H/E/N") == 60) delta = line.substr(0, 14);
    EXPECT_EQ("        0.1550", delta) << file;
  }
  EXPECT_TRUE(Warned("spans a change of antenna")) << report_.warnings;
  // The check alone reads the records as the conversion does.
  o_.split = RAWCONV_SPLIT_NONE;
  o_.output = nullptr;
  o_.qc = RAWCONV_QC_ONLY;
  Recording("aggo3280", 1820, 133800.0);
  EXPECT_EQ(RAWCONV_FAILED, Convert());
  EXPECT_EQ("Site log " + sitelog_ + " has no receiver installed at 2014-11-24 13:10:00",
            std::string(report_.error));
}

TEST_F(StationRecordsTest, RecordsGoToTheQualityCheckAsTheySay) {
  // The records as they are, before the options, for the check to compare
  // the data with.
  Recording("aggo2830", 2231, 86400.0);
  stations_ = Path("net.csv");
  WriteFile(stations_, "marker,receiver_version\nAGGO,TABLE 1\n");
  ConversionJob job;
  job.Obs.GpbFile = gpb_;
  job.Obs.ObsFile = out_ + "/aggo2830.obs";
  job.Nav.NavFile = out_ + "/aggo2830.nav";
  job.Nav.EppFile = Path("aggo2830.epp");
  job.Obs.UseGpsWeek = 1;
  job.Obs.GpsWeek = 2231;
  job.UserMessages = true;
  job.PlanOnly = true;
  job.Records.SitelogPath = kLogs + "aggo00arg_20230608.log";
  job.Records.StationsPath = stations_;
  ASSERT_EQ(kConversionOk, RunConversion(job)) << Ctx().ErrorText;
  const qc::StationReference& r = job.Reference;
  EXPECT_EQ("site log aggo00arg_20230608.log, station table net.csv line 2", r.Source);
  ASSERT_TRUE(r.HasPosition);
  EXPECT_DOUBLE_EQ(2765120.9, r.Position[0]);
  EXPECT_DOUBLE_EQ(-3626405.6, r.Position[2]);
  EXPECT_EQ("SEPT POLARX5TR", r.ReceiverType);
  EXPECT_EQ("3228290", r.ReceiverNumber);
  EXPECT_EQ("TABLE 1", r.ReceiverVersion);
  EXPECT_EQ("LEIAR25.R4      LEIT", r.AntennaType);
  EXPECT_EQ("726722", r.AntennaNumber);
  // Without records there is no reference.
  ConversionJob plain;
  plain.Obs = job.Obs;
  plain.Nav = job.Nav;
  plain.UserMessages = true;
  plain.PlanOnly = true;
  ASSERT_EQ(kConversionOk, RunConversion(plain)) << Ctx().ErrorText;
  EXPECT_TRUE(plain.Reference.Source.empty());
}

// The shipped network example: real recordings of stations 0759 and 3040
// beside their EPP files, and their site logs. The position from the data
// wins over the log's in the header, and the check still sets the data
// against the log's position.
TEST_F(StationRecordsTest, ThePositionFromTheDataWinsOverTheLogsAndIsCheckedAgainstIt) {
  const std::string examples = std::string(RAWCONV_SOURCE_DIR) + "/examples/";
  gpb_ = Path("0759.gpb");
  fs::copy_file(examples + "sample.gpb", gpb_);
  fs::copy_file(examples + "sample.epp", Path("0759.epp"));
  const std::string folder = examples + "sitelogs";
  o_.gpb_path = gpb_.c_str();
  o_.sitelog_path = folder.c_str();
  o_.qc = RAWCONV_QC_WITH;
  const std::string from_log = " -3976219.5082  3382372.5671  3652512.9849";
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  EXPECT_EQ(from_log, Field("APPROX POSITION XYZ").substr(0, from_log.size()));
  EXPECT_EQ(Padded("99999M759"), Field("MARKER NUMBER").substr(0, 20));

  o_.position_source = RAWCONV_POSITION_DATA;
  ASSERT_EQ(RAWCONV_OK, Convert()) << report_.error;
  const std::string position = Field("APPROX POSITION XYZ");
  double x = 0, y = 0, z = 0;
  ASSERT_EQ(3, std::sscanf(position.c_str(), "%lf %lf %lf", &x, &y, &z)) << position;
  const double d = std::sqrt((x + 3976219.5082) * (x + 3976219.5082) +
                             (y - 3382372.5671) * (y - 3382372.5671) +
                             (z - 3652512.9849) * (z - 3652512.9849));
  EXPECT_GT(d, 0.5) << position;  // the data's, not the log's
  EXPECT_LT(d, 5.0) << position;
  EXPECT_EQ(Padded("99999M759"), Field("MARKER NUMBER").substr(0, 20));  // the rest stays the log's
  const std::string json = ReadFile(report_.qc_json_path);
  EXPECT_NE(std::string::npos, json.find("\"source\": \"site log 075900jpn_20050401.log\""));
  EXPECT_NE(std::string::npos, json.find("-3976219.5082")) << "the log's position as the reference";
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
