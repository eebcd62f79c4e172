// The file table behind the main dialog's list: Add, Edit and Delete, the
// station dialog, the alternate-ephemeris browser and the path helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "fake_platform.h"

namespace rawconv {
namespace {

using apptest::FakePlatform;
using apptest::OpenFileAnswer;
using apptest::Selection;

class FileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = std::make_unique<FrontEnd>();
    std::memset(app_.get(), 0, sizeof(FrontEnd));
    fake_ = std::make_unique<FakePlatform>(*app_);
    MainDialogInit(*fake_, *app_, FakePlatform::MainDialog());
  }

  void Add(const OpenFileAnswer& answer) {
    fake_->FileAnswers.push_back(answer);
    AddFiles(*fake_, *app_, FakePlatform::MainDialog());
  }
  void Select(const std::string& line) {
    fake_->Selected = -1;
    for (size_t i = 0; i < fake_->Lines.size(); ++i) {
      if (fake_->Lines[i] == line) fake_->Selected = static_cast<int>(i);
    }
  }
  FileEntry& Slot(int slot) { return app_->FileTable[slot]; }
  // A copy: the entry packs its fields, so no reference may bind to them.
  float Height(int slot) const { return app_->FileTable[slot].AntHeight; }

  std::unique_ptr<FrontEnd> app_;
  std::unique_ptr<FakePlatform> fake_;
};

TEST_F(FileListTest, AddFillsLowestSlotsInDialogOrder) {
  Add(Selection("C:\\gps", {"day3.gpb", "day1.gpb", "day2.gpb"}));
  EXPECT_EQ(3, app_->FileCount);
  EXPECT_STREQ("C:\\gps\\day3.gpb", Slot(0).Path);
  EXPECT_STREQ("day3.gpb", Slot(0).FileName);
  EXPECT_STREQ("C:\\gps\\day1.gpb", Slot(1).Path);
  EXPECT_STREQ("C:\\gps\\day2.gpb", Slot(2).Path);
  EXPECT_EQ(1, Slot(2).InUse);
  EXPECT_EQ(0, Slot(3).InUse);
  EXPECT_EQ((std::vector<int>{0, 1, 2}), fake_->StationSlots);
  EXPECT_STREQ("C:\\gps", app_->LastDir);
  // The list box sorts; the table keeps the dialog's order.
  EXPECT_EQ((std::vector<std::string>{"C:\\gps\\day1.gpb", "C:\\gps\\day2.gpb",
                                      "C:\\gps\\day3.gpb"}),
            fake_->Lines);
  EXPECT_TRUE(fake_->Boxes.empty());

  // The dialog as the user sees it, and the next one starts in LastDir.
  const apptest::OpenFileSeen& seen = fake_->FileDialogs.at(0);
  EXPECT_EQ("Select Files to Convert", seen.Title);
  EXPECT_EQ(std::string("GPS Raw Data (*.gpb)\0*.gpb\0All Files (*.*)\0*.*\0", 47), seen.Filter);
  EXPECT_EQ("gpb", seen.DefaultExt);
  EXPECT_TRUE(seen.MultiSelect);
  EXPECT_EQ(1024u, seen.Capacity);
  EXPECT_EQ("", seen.InitialDir);
  Add(Selection("C:\\gps", {"day4.gpb"}));
  EXPECT_EQ("C:\\gps", fake_->FileDialogs.at(1).InitialDir);
}

TEST_F(FileListTest, SingleSelectionsAndDriveRoots) {
  Add({true, "C:\\day1.gpb"});
  EXPECT_STREQ("C:\\day1.gpb", Slot(0).Path);
  EXPECT_STREQ("day1.gpb", Slot(0).FileName);
  EXPECT_STREQ("C:", app_->LastDir);

  Add({true, "D:\\data\\site\\x.gpb"});
  EXPECT_STREQ("D:\\data\\site\\x.gpb", Slot(1).Path);
  EXPECT_STREQ("D:\\data\\site", app_->LastDir);

  // A multiple selection in a root names the directory with its backslash.
  Add(Selection("E:\\", {"a.gpb", "b.gpb"}));
  EXPECT_STREQ("E:\\a.gpb", Slot(2).Path);
  EXPECT_STREQ("E:\\b.gpb", Slot(3).Path);

  // Cancelled (or failed) dialogs change nothing.
  Add({false, ""});
  EXPECT_EQ(4, app_->FileCount);
  EXPECT_EQ(4u, fake_->StationSlots.size());
  EXPECT_TRUE(fake_->Boxes.empty());
}

TEST_F(FileListTest, SixteenSlotsAtMost) {
  std::vector<std::string> five, twenty;
  for (int i = 0; i < 5; ++i) five.push_back("f" + std::to_string(i) + ".gpb");
  for (int i = 0; i < 20; ++i) twenty.push_back("g" + std::to_string(i) + ".gpb");
  Add(Selection("C:\\a", five));
  Add(Selection("C:\\b", twenty));
  EXPECT_EQ(16, app_->FileCount);
  EXPECT_STREQ("C:\\b\\g10.gpb", Slot(15).Path);
  ASSERT_EQ(1u, fake_->Boxes.size());
  EXPECT_EQ("Too many files selected, the extras will be ignored", fake_->Boxes[0].Text);
  EXPECT_EQ("ERROR", fake_->Boxes[0].Caption);
  EXPECT_EQ(16u, fake_->Lines.size());

  // A full table refuses Add before the dialog opens.
  size_t dialogs = fake_->FileDialogs.size();
  Add(Selection("C:\\c", {"h.gpb"}));
  EXPECT_EQ(dialogs, fake_->FileDialogs.size());
  ASSERT_EQ(2u, fake_->Boxes.size());
  EXPECT_EQ("A maximum of 16 files can be decoded at once", fake_->Boxes[1].Text);
  EXPECT_EQ("ERROR", fake_->Boxes[1].Caption);

  // After one Delete the freed slot is filled again.
  Select("C:\\a\\f2.gpb");
  DeleteFileEntry(*fake_, *app_, FakePlatform::MainDialog());
  EXPECT_EQ(15, app_->FileCount);
  EXPECT_EQ(0, Slot(2).InUse);
  Add(Selection("C:\\c", {"h.gpb"}));
  EXPECT_STREQ("C:\\c\\h.gpb", Slot(2).Path);
  EXPECT_EQ(16, app_->FileCount);
}

TEST_F(FileListTest, PathsAndNamesThatDoNotFitAreRefused) {
  const std::string dir = "C:\\" + std::string(240, 'd');
  const std::string long_name = std::string(60, 'n') + ".gpb";  // 64 characters
  Add(Selection(dir, {"ok.gpb", std::string(20, 'x') + ".gpb"}));
  // dir\ok.gpb has 250 characters; dir\xxxx...gpb has 268.
  EXPECT_EQ(1, app_->FileCount);
  EXPECT_EQ(dir + "\\ok.gpb", Slot(0).Path);
  ASSERT_EQ(1u, fake_->Boxes.size());
  EXPECT_EQ("File name too long, it will be ignored: " + dir + "\\" + std::string(20, 'x') +
                ".gpb",
            fake_->Boxes[0].Text);
  EXPECT_EQ("ERROR", fake_->Boxes[0].Caption);

  Add(Selection("C:\\gps", {long_name, std::string(59, 'n') + ".gpb"}));
  EXPECT_EQ(2, app_->FileCount);
  EXPECT_EQ(std::string(59, 'n') + ".gpb", Slot(1).FileName);
  EXPECT_EQ(2u, fake_->Boxes.size());

  // A directory longer than LastDir leaves LastDir as it was.
  const std::string deep = "C:\\" + std::string(300, 'e');
  Add(Selection(deep, {"a.gpb"}));
  EXPECT_STREQ("C:\\gps", app_->LastDir);
  EXPECT_EQ(2, app_->FileCount);
  EXPECT_EQ(3u, fake_->Boxes.size());
}

TEST_F(FileListTest, EditAndDeleteFindTheLowestMatchingSlot) {
  Add(Selection("C:\\gps", {"same.gpb", "other.gpb", "same.gpb"}));
  ASSERT_EQ(3, app_->FileCount);
  fake_->StationSlots.clear();

  // Nothing selected: neither command does anything.
  fake_->Selected = -1;
  EditFileEntry(*fake_, *app_, FakePlatform::MainDialog());
  DeleteFileEntry(*fake_, *app_, FakePlatform::MainDialog());
  EXPECT_TRUE(fake_->StationSlots.empty());
  EXPECT_EQ(3, app_->FileCount);

  // The two identical lines are the last two of the sorted list.
  fake_->Selected = 2;
  EditFileEntry(*fake_, *app_, FakePlatform::MainDialog());
  fake_->Selected = 1;
  EditFileEntry(*fake_, *app_, FakePlatform::MainDialog());
  EXPECT_EQ((std::vector<int>{0, 0}), fake_->StationSlots);

  fake_->Selected = 2;
  DeleteFileEntry(*fake_, *app_, FakePlatform::MainDialog());
  EXPECT_EQ(2, app_->FileCount);
  EXPECT_EQ(0, Slot(0).InUse);
  EXPECT_EQ('\0', Slot(0).Path[0]);
  EXPECT_EQ(1, Slot(2).InUse);
  EXPECT_EQ((std::vector<std::string>{"C:\\gps\\other.gpb", "C:\\gps\\same.gpb"}), fake_->Lines);
  EXPECT_EQ(2, FindFileEntry(*app_, "C:\\gps\\same.gpb"));
  EXPECT_EQ(-1, FindFileEntry(*app_, "C:\\gps\\none.gpb"));
}

TEST_F(FileListTest, StationDialogStoresWhatWasTyped) {
  fake_->StationUser = [](FakePlatform& f) {
    EXPECT_EQ("site1.gpb", f.Station(IDC_STATION_FILE).Text);
    EXPECT_EQ("0.000", f.Station(IDC_ANT_HEIGHT).Text);
    EXPECT_FALSE(f.Station(IDC_USE_ALT_EPH).Checked);
    EXPECT_FALSE(f.Station(IDC_ALT_EPH_FILE).Enabled);
    EXPECT_FALSE(f.Station(IDC_BROWSE).Enabled);
    EXPECT_FALSE(f.Station(IDC_ALT_EPH_LABEL).Enabled);
    f.Station(IDC_STATION_NAME).Text = std::string(60, 'S');
    f.Station(IDC_ANT_HEIGHT).Text = "1.2345";
    f.Station(IDC_USE_ALT_EPH).Checked = true;
    StationDialogCommand(f, f.App(), FakePlatform::StationDialog(), IDC_USE_ALT_EPH);
    EXPECT_TRUE(f.Station(IDC_ALT_EPH_FILE).Enabled);
    EXPECT_TRUE(f.Station(IDC_BROWSE).Enabled);
    EXPECT_TRUE(f.Station(IDC_ALT_EPH_LABEL).Enabled);
    f.Station(IDC_ALT_EPH_FILE).Text = "D:\\eph\\brdc.txt";
    StationDialogCommand(f, f.App(), FakePlatform::StationDialog(), IDC_STATION_OK);
  };
  Add({true, "C:\\data\\site1.gpb"});
  EXPECT_EQ(1, fake_->StationResult);
  EXPECT_EQ(std::string(49, 'S'), Slot(0).StationName);
  EXPECT_FLOAT_EQ(1.2345f, Height(0));
  EXPECT_EQ(1, Slot(0).UseAltEph);
  EXPECT_STREQ("D:\\eph\\brdc.txt", Slot(0).AltEphFile);

  // Reopened: the stored values, the height with three decimals; then the
  // alternate ephemeris is switched off and the height typed as text.
  fake_->StationUser = [](FakePlatform& f) {
    EXPECT_EQ(std::string(49, 'S'), f.Station(IDC_STATION_NAME).Text);
    EXPECT_EQ("1.235", f.Station(IDC_ANT_HEIGHT).Text);
    EXPECT_TRUE(f.Station(IDC_USE_ALT_EPH).Checked);
    EXPECT_TRUE(f.Station(IDC_ALT_EPH_FILE).Enabled);
    EXPECT_EQ("D:\\eph\\brdc.txt", f.Station(IDC_ALT_EPH_FILE).Text);
    f.Station(IDC_ANT_HEIGHT).Text = "abc";
    f.Station(IDC_USE_ALT_EPH).Checked = false;
    StationDialogCommand(f, f.App(), FakePlatform::StationDialog(), IDC_USE_ALT_EPH);
    EXPECT_FALSE(f.Station(IDC_ALT_EPH_FILE).Enabled);
    StationDialogCommand(f, f.App(), FakePlatform::StationDialog(), IDC_STATION_OK);
  };
  fake_->Selected = 0;
  EditFileEntry(*fake_, *app_, FakePlatform::MainDialog());
  EXPECT_EQ(0.0f, Height(0));
  EXPECT_EQ(0, Slot(0).UseAltEph);
  EXPECT_STREQ("D:\\eph\\brdc.txt", Slot(0).AltEphFile);  // kept, unused

  // Reopened again: the edit is empty; Cancel changes nothing.
  fake_->StationUser = [](FakePlatform& f) {
    EXPECT_EQ("", f.Station(IDC_ALT_EPH_FILE).Text);
    EXPECT_FALSE(f.Station(IDC_USE_ALT_EPH).Checked);
    f.Station(IDC_STATION_NAME).Text = "CHANGED";
    StationDialogCommand(f, f.App(), FakePlatform::StationDialog(), IDC_STATION_CANCEL);
  };
  EditFileEntry(*fake_, *app_, FakePlatform::MainDialog());
  EXPECT_EQ(2, fake_->StationResult);
  EXPECT_EQ(std::string(49, 'S'), Slot(0).StationName);
}

TEST_F(FileListTest, CancelledStationDialogKeepsTheNewFile) {
  fake_->StationUser = [](FakePlatform& f) {
    f.Station(IDC_STATION_NAME).Text = "IGNORED";
    StationDialogCommand(f, f.App(), FakePlatform::StationDialog(), IDC_STATION_CANCEL);
  };
  Add({true, "C:\\data\\site1.gpb"});
  EXPECT_EQ(1, app_->FileCount);
  EXPECT_EQ(1, Slot(0).InUse);
  EXPECT_STREQ("", Slot(0).StationName);
  EXPECT_EQ(0.0f, Height(0));
  EXPECT_EQ(0, Slot(0).UseAltEph);
}

TEST_F(FileListTest, BrowseFillsTheEditAndLastDirOnly) {
  fake_->StationUser = [](FakePlatform& f) {
    f.FileAnswers.push_back({true, "D:\\eph\\brdc.epp"});
    f.Station(IDC_USE_ALT_EPH).Checked = true;
    StationDialogCommand(f, f.App(), FakePlatform::StationDialog(), IDC_USE_ALT_EPH);
    StationDialogCommand(f, f.App(), FakePlatform::StationDialog(), IDC_BROWSE);
    EXPECT_EQ("D:\\eph\\brdc.epp", f.Station(IDC_ALT_EPH_FILE).Text);
    EXPECT_EQ(0, f.App().FileTable[0].UseAltEph);  // not before OK
    EXPECT_STREQ("", f.App().FileTable[0].AltEphFile);
    // A cancelled browse leaves the edit alone.
    f.FileAnswers.push_back({false, ""});
    StationDialogCommand(f, f.App(), FakePlatform::StationDialog(), IDC_BROWSE);
    EXPECT_EQ("D:\\eph\\brdc.epp", f.Station(IDC_ALT_EPH_FILE).Text);
    StationDialogCommand(f, f.App(), FakePlatform::StationDialog(), IDC_STATION_OK);
  };
  Add({true, "C:\\gps\\day1.gpb"});
  EXPECT_STREQ("D:\\eph\\brdc.epp", Slot(0).AltEphFile);
  EXPECT_STREQ("D:\\eph\\", app_->LastDir);

  ASSERT_EQ(3u, fake_->FileDialogs.size());
  const apptest::OpenFileSeen& seen = fake_->FileDialogs[1];
  EXPECT_EQ("Select Alternate Ephemeris", seen.Title);
  EXPECT_EQ(std::string("Ephemeris File (*.epp)\0*.epp\0All Files (*.*)\0*.*\0", 49),
            seen.Filter);
  EXPECT_EQ("epp", seen.DefaultExt);
  EXPECT_FALSE(seen.MultiSelect);
  EXPECT_EQ(256u, seen.Capacity);
  EXPECT_EQ("C:\\gps", seen.InitialDir);
  EXPECT_EQ("D:\\eph\\", fake_->FileDialogs[2].InitialDir);

  // The next Add starts where the ephemeris was found.
  Add({false, ""});
  EXPECT_EQ("D:\\eph\\", fake_->FileDialogs.back().InitialDir);
}

TEST(SplitPathTest, DirectoryKeepsItsBackslash) {
  char dir[16], name[9];
  EXPECT_EQ(0, SplitPath("D:\\eph\\brdc.epp", dir, sizeof dir, name, sizeof name));
  EXPECT_STREQ("D:\\eph\\", dir);
  EXPECT_STREQ("brdc.epp", name);
  EXPECT_EQ(0, SplitPath("brdc.epp", dir, sizeof dir, name, sizeof name));
  EXPECT_STREQ("", dir);
  EXPECT_STREQ("brdc.epp", name);
  EXPECT_EQ(0, SplitPath("C:\\", dir, sizeof dir, name, sizeof name));
  EXPECT_STREQ("C:\\", dir);
  EXPECT_STREQ("", name);
  // Parts that do not fit come back empty, with result 1.
  EXPECT_EQ(1, SplitPath("C:\\a\\verylongname.epp", dir, sizeof dir, name, sizeof name));
  EXPECT_STREQ("C:\\a\\", dir);
  EXPECT_STREQ("", name);
  EXPECT_EQ(1, SplitPath("C:\\a-very-long-directory\\x", dir, sizeof dir, name, sizeof name));
  EXPECT_STREQ("", dir);
  EXPECT_STREQ("x", name);
}

}  // namespace
}  // namespace rawconv
