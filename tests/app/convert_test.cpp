// The main dialog: its start state and commands, the radio groups, how the
// requests are filled, and the Convert command's batch against the real
// shared library.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "fake_platform.h"
#include "support/epp_fixture.h"
#include "support/file_bytes.h"
#include "support/gpb_builder.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;
using apptest::FakePlatform;

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = std::make_unique<FrontEnd>();
    std::memset(app_.get(), 0, sizeof(FrontEnd));
    fake_ = std::make_unique<FakePlatform>(*app_);
    MainDialogInit(*fake_, *app_, FakePlatform::MainDialog());
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  int Command(int id) { return MainDialogCommand(*fake_, *app_, FakePlatform::MainDialog(), id); }
  void Convert() { Command(IDC_CONVERT); }
  void Choose(const int* ids, int count, int id) {
    SetRadioGroup(*fake_, FakePlatform::MainDialog(), count, ids, id);
    Command(id);
  }
  std::string Status() { return fake_->Main(IDC_STATUS).Text; }

  // A slot filled as Add and the station dialog would fill it.
  FileEntry& Put(int slot, const std::string& path, const char* station = "", float height = 0) {
    FileEntry& e = app_->FileTable[slot];
    std::memset(&e, 0, sizeof e);
    e.InUse = 1;
    std::snprintf(e.Path, sizeof e.Path, "%s", path.c_str());
    std::snprintf(e.StationName, sizeof e.StationName, "%s", station);
    e.AntHeight = height;
    app_->FileCount += 1;
    return e;
  }

  // A directory with a small new-format GPB file <stem>.gpb of week 1341
  // (2005) and its EPP file.
  std::string MakeData(const std::string& stem) {
    if (dir_.empty()) {
      char pattern[] = "/tmp/wrawconv_test_XXXXXX";
      EXPECT_NE(nullptr, mkdtemp(pattern));
      dir_ = pattern;
    }
    gpbtest::GpbFileBuilder file = gpbtest::GpbFileBuilder::New(6, "TEST RX");
    for (int i = 0; i < 3; ++i) {
      GpbEpoch e{};
      e.Flags = kEpochPositionValid;
      e.Latitude = 35.0;
      e.Longitude = 139.0;
      e.Height = 80.0f;
      e.RcvTime = e.RawRcvTime = 345600.0 + 30.0 * i;
      GpbChannel ch[4]{};
      for (int k = 0; k < 4; ++k) {
        ch[k].Prn = 3 + k;
        ch[k].ObsMask = kObsC1 | kObsL1 | kObsLock1;
        ch[k].C1 = 20000000.0 + 1000.0 * k + i;
        ch[k].L1 = 100000.25 + k;
      }
      e.NumChannels = 4;
      file.AddEpoch(e, ch, 4, false);
    }
    EXPECT_TRUE(file.Write(dir_ + "/" + stem + ".gpb"));
    EXPECT_TRUE(epptest::WriteEppFile(dir_ + "/" + stem + ".epp", {{1341, 345600}}));
    return dir_ + "/" + stem + ".gpb";
  }

  static std::string ReadText(const std::string& path) { return testio::ReadBytes(path); }

  std::unique_ptr<FrontEnd> app_;
  std::unique_ptr<FakePlatform> fake_;
  std::string dir_;
};

TEST_F(MainDialogTest, StartStateAndCommands) {
  EXPECT_TRUE(fake_->Main(IDC_DATA_AUTO).Checked);
  EXPECT_FALSE(fake_->Main(IDC_DATA_CA_CODE).Checked);
  EXPECT_TRUE(fake_->Main(IDC_WEEK_AUTO).Checked);
  EXPECT_FALSE(fake_->Main(IDC_WEEK_SET).Checked);
  EXPECT_TRUE(fake_->Main(IDC_VERSION_21).Checked);
  EXPECT_FALSE(fake_->Main(IDC_VERSION_20).Checked);
  EXPECT_FALSE(fake_->Main(IDC_WEEK_EDIT).Enabled);

  EXPECT_EQ(0, Command(IDC_WEEK_SET));
  EXPECT_TRUE(fake_->Main(IDC_WEEK_EDIT).Enabled);
  EXPECT_EQ(0, Command(IDC_WEEK_AUTO));
  EXPECT_FALSE(fake_->Main(IDC_WEEK_EDIT).Enabled);

  EXPECT_EQ(0, Command(IDC_QUIT));
  EXPECT_EQ((std::vector<int>{0}), fake_->Quits);
  EXPECT_TRUE(fake_->MainEnded.empty());
  EXPECT_EQ(1, Command(IDC_MAIN_CANCEL));  // the close box
  EXPECT_EQ((std::vector<int>{-1}), fake_->MainEnded);
  EXPECT_EQ((std::vector<int>{0, 0}), fake_->Quits);
  EXPECT_EQ(0, Command(4242));

  // Initialisation empties the table and LastDir.
  Put(3, "C:\\x.gpb");
  std::snprintf(app_->LastDir, sizeof app_->LastDir, "C:\\gps");
  MainDialogInit(*fake_, *app_, FakePlatform::MainDialog());
  EXPECT_EQ(0, app_->FileCount);
  EXPECT_EQ(0, app_->FileTable[3].InUse);
  EXPECT_STREQ("", app_->LastDir);
}

TEST_F(MainDialogTest, RadioGroups) {
  DialogRef dlg = FakePlatform::MainDialog();
  SetRadioGroup(*fake_, dlg, 4, kDataTypeIds, IDC_DATA_L1);
  EXPECT_TRUE(fake_->Main(IDC_DATA_L1).Checked);
  EXPECT_FALSE(fake_->Main(IDC_DATA_AUTO).Checked);
  EXPECT_EQ(IDC_DATA_L1, GetRadioGroup(*fake_, *app_, dlg, "Data Type to Export", 4, kDataTypeIds));
  // An identifier outside the group checks the group's first button.
  SetRadioGroup(*fake_, dlg, 4, kDataTypeIds, IDC_WEEK_SET);
  EXPECT_TRUE(fake_->Main(IDC_DATA_AUTO).Checked);
  EXPECT_FALSE(fake_->Main(IDC_DATA_L1).Checked);
  EXPECT_FALSE(fake_->Main(IDC_WEEK_SET).Checked);
  EXPECT_TRUE(fake_->Boxes.empty());

  fake_->Main(IDC_WEEK_AUTO).Checked = false;
  EXPECT_EQ(-1, GetRadioGroup(*fake_, *app_, dlg, "GPS Week", 2, kGpsWeekIds));
  fake_->Main(IDC_VERSION_20).Checked = true;
  EXPECT_EQ(-1, GetRadioGroup(*fake_, *app_, dlg, "Version Type", 2, kVersionIds));
  ASSERT_EQ(2u, fake_->Boxes.size());
  EXPECT_EQ("No selection found for GPS Week", fake_->Boxes[0].Text);
  EXPECT_EQ("Error", fake_->Boxes[0].Caption);
  EXPECT_EQ("More than one selection found for Version Type", fake_->Boxes[1].Text);
  EXPECT_EQ("Error", fake_->Boxes[1].Caption);

  // Convert stops at the broken group, with the library released.
  Convert();
  ASSERT_EQ(3u, fake_->Boxes.size());
  EXPECT_EQ("No selection found for GPS Week", fake_->Boxes[2].Text);
  EXPECT_EQ(fake_->Opens, fake_->Closes);
  EXPECT_EQ(nullptr, app_->Library);
}

TEST_F(MainDialogTest, GpsWeekText) {
  int32_t week = -1;
  EXPECT_TRUE(ParseGpsWeek("1341", &week));
  EXPECT_EQ(1341, week);
  EXPECT_TRUE(ParseGpsWeek(" 0 ", &week));
  EXPECT_EQ(0, week);
  EXPECT_TRUE(ParseGpsWeek("2147483647", &week));
  EXPECT_EQ(2147483647, week);
  for (const char* bad : {"", " ", "+1341", "-5", "13a", "abc", "1 2", "2147483648",
                          "99999999999999999999"}) {
    EXPECT_FALSE(ParseGpsWeek(bad, &week)) << bad;
  }
}

TEST_F(MainDialogTest, RequestFieldsFromOneSlot) {
  FileEntry& e = Put(0, "C:\\data\\site1.gpb", "SITE1", 1.5f);
  ASSERT_EQ(0, FillFileRequests(*app_, e));
  EXPECT_STREQ("C:\\data\\site1.gpb", app_->Obs.GpbFile);
  EXPECT_STREQ("C:\\data\\site1.obs", app_->Obs.ObsFile);
  EXPECT_STREQ("C:\\data\\site1.epp", app_->Nav.EppFile);
  EXPECT_STREQ("C:\\data\\site1.nav", app_->Nav.NavFile);
  EXPECT_STREQ("SITE1", app_->Obs.MarkerName);
  double height = app_->Obs.AntHeight;  // a copy: the record packs its fields
  EXPECT_EQ(1.5, height);

  // The alternate ephemeris always gets ".epp".
  e.UseAltEph = 1;
  const char* cases[][2] = {{"D:\\eph\\brdc.txt", "D:\\eph\\brdc.epp"},
                            {"D:\\eph\\brdc", "D:\\eph\\brdc.epp"},
                            {"D:\\eph.old\\brdc", "D:\\eph.old\\brdc.epp"}};
  for (const auto& c : cases) {
    std::snprintf(e.AltEphFile, sizeof e.AltEphFile, "%s", c[0]);
    ASSERT_EQ(0, FillFileRequests(*app_, e));
    EXPECT_STREQ(c[1], app_->Nav.EppFile);
    EXPECT_STREQ("C:\\data\\site1.nav", app_->Nav.NavFile);
  }
  // Switched off, the kept AltEphFile is not used.
  e.UseAltEph = 0;
  ASSERT_EQ(0, FillFileRequests(*app_, e));
  EXPECT_STREQ("C:\\data\\site1.epp", app_->Nav.EppFile);

  // A 1.2345 m height reaches the request widened from single precision.
  e.AntHeight = 1.2345f;
  FillFileRequests(*app_, e);
  height = app_->Obs.AntHeight;
  EXPECT_EQ(static_cast<double>(1.2345f), height);

  // An extension that no longer fits the field is reported, not cut.
  std::string longest = "C:\\" + std::string(251, 'a');  // 254 characters, no extension
  std::snprintf(e.Path, sizeof e.Path, "%s", longest.c_str());
  EXPECT_EQ(1, FillFileRequests(*app_, e));
}

TEST_F(MainDialogTest, ConvertWithoutTheLibrary) {
  fake_->LibraryPresent = false;
  Put(0, "C:\\data\\site1.gpb");
  fake_->Main(IDC_STATUS).Text = "before";
  // A bad week would give a second message if the options were read.
  Choose(kGpsWeekIds, 2, IDC_WEEK_SET);
  fake_->Main(IDC_WEEK_EDIT).Text = "x";
  Convert();
  EXPECT_EQ((std::vector<std::string>{"rawconv.dll"}), fake_->LibraryNames);
  ASSERT_EQ(1u, fake_->Boxes.size());
  EXPECT_EQ("Could not open rawconv.dll", fake_->Boxes[0].Text);
  EXPECT_EQ("ERROR", fake_->Boxes[0].Caption);
  EXPECT_EQ(FakePlatform::MainDialog(), fake_->BoxOwners[0]);
  EXPECT_TRUE(fake_->ControlsRead.empty());
  EXPECT_EQ("before", Status());
  EXPECT_EQ(0, app_->Obs.StructSize);

  // Missing entries: their own messages, the library released each time.
  fake_->LibraryPresent = true;
  fake_->MissingEntries = {"_Gpb_To_Rinex_Ver@12"};
  Convert();
  fake_->MissingEntries = {"_Get_Error_Str@4"};
  Convert();
  ASSERT_EQ(3u, fake_->Boxes.size());
  EXPECT_EQ("Could not find Gpb_To_Rinex address", fake_->Boxes[1].Text);
  EXPECT_EQ("Could not find Get_Error_Str address", fake_->Boxes[2].Text);
  EXPECT_EQ("ERROR", fake_->Boxes[2].Caption);
  EXPECT_EQ(2, fake_->Opens);
  EXPECT_EQ(2, fake_->Closes);
  EXPECT_EQ("before", Status());
}

TEST_F(MainDialogTest, OptionsReachTheRequests) {
  // An empty table: the library is loaded and the options read and checked,
  // but nothing is converted and the status line stays.
  fake_->Main(IDC_STATUS).Text = "before";
  Choose(kDataTypeIds, 4, IDC_DATA_CA_CODE);
  Choose(kGpsWeekIds, 2, IDC_WEEK_SET);
  for (const char* bad : {"", "-1", "13x", "99999999999"}) {
    fake_->Main(IDC_WEEK_EDIT).Text = bad;
    Convert();
    ASSERT_FALSE(fake_->Boxes.empty()) << bad;
    EXPECT_EQ("GPS Week must be an unsigned integer", fake_->Boxes.back().Text);
    EXPECT_EQ("ERROR", fake_->Boxes.back().Caption);
  }
  EXPECT_EQ(4u, fake_->Boxes.size());
  EXPECT_EQ(fake_->Opens, fake_->Closes);

  fake_->Main(IDC_WEEK_EDIT).Text = "1341";
  Choose(kVersionIds, 2, IDC_VERSION_20);
  fake_->Main(IDC_RUN_BY).Text = std::string(200, 'R');
  fake_->Main(IDC_OBSERVER).Text = "OBS";
  fake_->Main(IDC_AGENCY).Text = "AGENCY";
  Convert();
  EXPECT_EQ(4u, fake_->Boxes.size());
  EXPECT_EQ(1176, app_->Obs.StructSize);
  EXPECT_EQ(644, app_->Nav.StructSize);
  EXPECT_EQ(9, app_->Obs.DataTypes);
  EXPECT_EQ(1, app_->Obs.UseGpsWeek);
  EXPECT_EQ(1341, app_->Obs.GpsWeek);
  EXPECT_EQ(std::string(127, 'R'), app_->Obs.RunBy);
  EXPECT_EQ(std::string(127, 'R'), app_->Nav.RunBy);
  EXPECT_STREQ("OBS", app_->Obs.Observer);
  EXPECT_STREQ("AGENCY", app_->Obs.Agency);
  EXPECT_EQ("before", Status());
  EXPECT_TRUE(fake_->StatusHistory.empty());

  // The next batch reuses the records: Auto-Detect keeps the typed week.
  Choose(kGpsWeekIds, 2, IDC_WEEK_AUTO);
  Choose(kDataTypeIds, 4, IDC_DATA_AUTO);
  Convert();
  EXPECT_EQ(0, app_->Obs.UseGpsWeek);
  EXPECT_EQ(1341, app_->Obs.GpsWeek);
  EXPECT_EQ(65535, app_->Obs.DataTypes);
  for (int id : {IDC_DATA_L1, IDC_DATA_L1_L2}) {
    Choose(kDataTypeIds, 4, id);
    Convert();
    EXPECT_EQ(id == IDC_DATA_L1 ? 11 : 31, app_->Obs.DataTypes);
  }
  EXPECT_EQ(fake_->Opens, fake_->Closes);
}

TEST_F(MainDialogTest, BatchRunsEveryFileInSlotOrder) {
  const std::string good1 = MakeData("site1");
  const std::string good2 = MakeData("site2");
  const std::string missing = dir_ + "/missing.gpb";
  // Slot order, not list order: the failing file is in slot 0.
  Put(0, missing, "NONE");
  Put(2, good2, "SITE_TWO", 2.5f);
  Put(5, good1, "SITE_ONE", 1.2345f);
  fake_->Main(IDC_RUN_BY).Text = "TESTER";
  Choose(kVersionIds, 2, IDC_VERSION_20);
  Convert();

  EXPECT_TRUE(fake_->Boxes.empty());
  EXPECT_EQ((std::vector<std::string>{
                "Converting file, " + missing,
                "GPB file '" + missing + "' does not exits or cannot be opened",
                "Converting file, " + good2, "Conversion complete",
                "Converting file, " + good1, "Conversion complete"}),
            fake_->StatusHistory);
  EXPECT_EQ("Conversion complete", Status());
  EXPECT_EQ(1, fake_->Opens);
  EXPECT_EQ(1, fake_->Closes);

  const std::string obs1 = ReadText(dir_ + "/site1.05o");
  const std::string nav1 = ReadText(dir_ + "/site1.05n");
  ASSERT_FALSE(obs1.empty());
  ASSERT_FALSE(nav1.empty());
  EXPECT_EQ(0u, obs1.find("     2              OBSERVATION DATA"));  // RINEX 2.0
  EXPECT_NE(std::string::npos, obs1.find("SITE_ONE            "));
  EXPECT_NE(std::string::npos, obs1.find("        1.2345        0.0000        0.0000"));
  EXPECT_NE(std::string::npos, obs1.find("RAWCONV v7.00       TESTER"));
  EXPECT_NE(std::string::npos, nav1.find("TESTER"));
  EXPECT_NE(std::string::npos, ReadText(dir_ + "/site2.05o").find("SITE_TWO"));
  EXPECT_TRUE(fs::exists(dir_ + "/site2.05n"));
  EXPECT_FALSE(fs::exists(dir_ + "/missing.05o"));

  // The last file failing leaves its error text in the status line.
  app_->FileTable[5].InUse = 0;
  Put(7, missing);
  Convert();
  EXPECT_EQ("GPB file '" + missing + "' does not exits or cannot be opened", Status());
}

TEST_F(MainDialogTest, StatusTextHoldsTheWholePath) {
  // A path that fills GpbFile still shows whole after the prefix.
  const std::string path = "/tmp/" + std::string(246, 'p') + ".gpb";
  ASSERT_EQ(255u, path.size());
  Put(0, path);
  Convert();
  ASSERT_GE(fake_->StatusHistory.size(), 2u);
  EXPECT_EQ("Converting file, " + path, fake_->StatusHistory[0]);
}

}  // namespace
}  // namespace rawconv
