#include "station/station_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "api/context.h"

namespace rawconv {
namespace {

// A station file written into the test temp dir, removed at the end.
class StationFileTest : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    path_ = testing::TempDir() + "station_" + info->name() + ".sta";
    std::memset(&file_, 0, sizeof file_);
    std::memset(&context_, 0, sizeof context_);
    scope_ = new ContextScope(context_);
  }
  void TearDown() override {
    ReleaseStationFile(&file_);
    delete scope_;
    std::remove(path_.c_str());
  }

  void Write(const std::string& text) {
    std::FILE* f = std::fopen(path_.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }

  int Read(const std::string& text, uint32_t mask = kStationAllKinds) {
    Write(text);
    return ReadStationFile(path_.c_str(), mask, &file_);
  }

  const char* Error() const { return file_.Message; }

  std::string path_;
  StationFile file_;
  Context context_;
  ContextScope* scope_ = nullptr;
};

// A recording of a day with every kind of block.
const char kSurveyFile[] =
    "$STAINFO version 2 written by the field unit\n"
    "; station information of one recording\n"
    "hdr {\n"
    "  Time: 16:23:13.25 GPS\n"
    "  Date: 11/30/05\n"
    "  Proj: \"North Dam\"\n"
    "  User: jw\n"
    "  RxName: RX12 ; receiver\n"
    "  RxSub: L1L2\n"
    "}\n"
    "sta {\n"
    "  ID: \"Base 1\"        ; comment\n"
    "  Desc: \"Roof pillar\"\n"
    "  Rem: ok\n"
    "  GTim: 318193.25 1351\n"
    "  Pos: 47.5 8.25 512.125 ELL\n"
    "  Mode: RTFX\n"
    "  Hi: 1.523 SLANT\n"
    "  Ant: 0.1 0.2 \"Choke ring\"\n"
    "}\n"
    "sta {\n"
    "  ID: LOST          ; no time: dropped\n"
    "  Desc: none\n"
    "}\n"
    "note {\n"
    "  ID: NOTE\n"
    "  GTim: 1 1351\n"
    "}\n"
    "mrk {\n"
    "  Event: \"Gate A\"\n"
    "  UTim: 318300\n"
    "  Desc: \"west gate\"\n"
    "}\n"
    "gis {\n"
    "  Count: 7\n"
    "  Type: LINE START CW\n"
    "  Feat: Fence\n"
    "  Attrib: Height\n"
    "  Value: 2m\n"
    "  Rem: wooden\n"
    "  GTim: 318400 1351\n"
    "}\n"
    "GIS {\n"
    "  Feat: Fence\n"
    "  Type: line END\n"
    "  GTim: 318500 1351\n"
    "}\n"
    "rtk {\n"
    "  GTim: 318600 1351\n"
    "  Pos: 47.5 8.25 512.5\n"
    "  Std: 0.01 0.02 0.03\n"
    "  Nsv: 9 7 8\n"
    "}\n"
    "rtk {\n"
    "  GTim: 318700 1351\n"
    "  Enable: 1\n"
    "}\n"
    "sta {\n"
    "  ID: END2\n"
    "  GTim: 318800 1351\n"
    "  Hi: 2.0\n"
    "}\n";

TEST_F(StationFileTest, ReadsEveryKindInFileOrder) {
  ASSERT_EQ(Read(kSurveyFile), 0) << Error();
  EXPECT_STREQ(file_.Path, path_.c_str());
  EXPECT_EQ(file_.SectionMask, kStationAllKinds);
  ASSERT_EQ(file_.Count, 8);
  EXPECT_STREQ(Error(), "");

  const StationRecord& hdr = file_.Records[0];
  EXPECT_EQ(hdr.Kind, kStationHdr);
  EXPECT_STREQ(hdr.Name, "North Dam");
  EXPECT_STREQ(hdr.Text1, "jw");
  EXPECT_STREQ(hdr.Text2, "RX12");
  EXPECT_STREQ(hdr.Text3, "L1L2");
  EXPECT_EQ(hdr.TimeSystem, 2);
  EXPECT_EQ(hdr.Week, 1351);
  EXPECT_DOUBLE_EQ(hdr.Seconds, 318193.25);

  const StationRecord& base = file_.Records[1];
  EXPECT_EQ(base.Kind, kStationSta);
  EXPECT_STREQ(base.Name, "Base_1");
  EXPECT_STREQ(base.Text1, "Roof pillar");
  EXPECT_STREQ(base.Text2, "ok");
  EXPECT_EQ(base.TimeSystem, 1);
  EXPECT_EQ(base.Week, 1351);
  EXPECT_DOUBLE_EQ(base.Seconds, 318193.25);
  EXPECT_DOUBLE_EQ(base.Position[0], 47.5);
  EXPECT_DOUBLE_EQ(base.Position[1], 8.25);
  EXPECT_FLOAT_EQ(base.PositionHeight, 512.125f);
  EXPECT_EQ(base.HeightSystem, 1);
  EXPECT_EQ(base.SolutionMode, 5);
  EXPECT_EQ(base.HeightType, 2);
  EXPECT_DOUBLE_EQ(base.AntennaHeight, 1.523);
  EXPECT_DOUBLE_EQ(base.AntennaValue1, 0.1);
  EXPECT_DOUBLE_EQ(base.AntennaValue2, 0.2);
  EXPECT_STREQ(base.AntennaName, "Choke ring");

  // The dropped "LOST" block and the "note" block leave no trace.
  const StationRecord& gate = file_.Records[2];
  EXPECT_EQ(gate.Kind, kStationMrk);
  EXPECT_STREQ(gate.Name, "Gate_A");
  EXPECT_STREQ(gate.Text1, "west gate");
  EXPECT_EQ(gate.TimeSystem, 2);
  EXPECT_EQ(gate.Week, -1);
  EXPECT_DOUBLE_EQ(gate.Seconds, 318300.0);
  EXPECT_EQ(gate.SolutionMode, 0);

  const StationRecord& fence = file_.Records[3];
  EXPECT_EQ(fence.Kind, kStationGis);
  EXPECT_STREQ(fence.Name, "Fence");
  EXPECT_STREQ(fence.Text1, "Height");
  EXPECT_STREQ(fence.Text2, "wooden");
  EXPECT_STREQ(fence.Text3, "2m");
  EXPECT_EQ(fence.FeatureNumber, 7);
  EXPECT_EQ(fence.FeatureType, 1);
  EXPECT_EQ(fence.FeatureEnd, 1);
  EXPECT_EQ(fence.FeatureDirection, 1);

  // Block names and words are taken in any letter case; "Type:" with two
  // words sets nothing.
  const StationRecord& fence_end = file_.Records[4];
  EXPECT_EQ(fence_end.Kind, kStationGis);
  EXPECT_EQ(fence_end.FeatureNumber, 8);
  EXPECT_EQ(fence_end.FeatureType, 0);
  EXPECT_EQ(fence_end.FeatureEnd, 0);

  const StationRecord& rtk1 = file_.Records[5];
  EXPECT_EQ(rtk1.Kind, kStationRtk);
  EXPECT_STREQ(rtk1.Name, "Rtk#00001");
  EXPECT_EQ(rtk1.SolutionMode, 7);  // position without "Mode:"
  EXPECT_EQ(rtk1.HeightSystem, 0);
  EXPECT_EQ(rtk1.HasStd, 1);
  EXPECT_DOUBLE_EQ(rtk1.Std[2], 0.03);
  EXPECT_EQ(rtk1.HasNsv, 1);
  EXPECT_EQ(rtk1.Nsv[0], 7);
  EXPECT_EQ(rtk1.Nsv[1], 8);
  EXPECT_EQ(rtk1.Nsv[2], 9);
  EXPECT_STREQ(file_.Records[6].Name, "Rtk#00002");
  EXPECT_EQ(file_.Records[6].HasEnable, 1);
  EXPECT_EQ(file_.Records[6].Enable, 1);

  const StationRecord& last = file_.Records[7];
  EXPECT_STREQ(last.Name, "END2");
  EXPECT_EQ(last.HeightType, 1);
  EXPECT_DOUBLE_EQ(last.AntennaHeight, 2.0);
}

TEST_F(StationFileTest, MaskSelectsKinds) {
  ASSERT_EQ(Read(kSurveyFile, kStationSta | kStationRtk), 0);
  ASSERT_EQ(file_.Count, 4);
  EXPECT_EQ(file_.SectionMask, kStationSta | kStationRtk);
  EXPECT_STREQ(file_.Records[0].Name, "Base_1");
  EXPECT_STREQ(file_.Records[1].Name, "Rtk#00001");
  EXPECT_STREQ(file_.Records[2].Name, "Rtk#00002");
  EXPECT_STREQ(file_.Records[3].Name, "END2");
}

TEST_F(StationFileTest, FailuresAndTheirMessages) {
  std::string missing = testing::TempDir() + "no_such_station_file.sta";
  EXPECT_EQ(ReadStationFile(missing.c_str(), 31, &file_), 1);
  EXPECT_EQ(std::string(Error()), "Unable to open " + missing);
  EXPECT_EQ(file_.Records, nullptr);

  EXPECT_EQ(Read(""), 1);
  EXPECT_EQ(std::string(Error()), "Missing (first) $STAINFO line in " + path_);

  EXPECT_EQ(Read("$stainfo\nsta {\n ID: A\n GTim: 1\n}\n"), 1);
  EXPECT_EQ(std::string(Error()), "File " + path_ + " is not the NewSta format");

  // Only blocks of unwanted kinds: no records, but not a failure.
  EXPECT_EQ(Read("$STAINFO\nnote {\n ID: A\n}\nsta {\n ID: B\n GTim: 5\n}\n", kStationGis), 0);
  EXPECT_EQ(std::string(Error()), "No station records found in " + path_);
  EXPECT_EQ(file_.Count, 0);
  EXPECT_EQ(file_.Records, nullptr);
  EXPECT_EQ(Read("$STAINFO\n"), 0);
  EXPECT_EQ(std::string(Error()), "No station records found in " + path_);

  // Every candidate dropped: sta without "ID:", sta without time, gis
  // without "Feat:", rtk without time.
  EXPECT_EQ(Read("$STAINFO\n"
                 "sta {\n GTim: 5 1351\n}\n"
                 "sta {\n ID: B\n}\n"
                 "gis {\n GTim: 5 1351\n}\n"
                 "rtk {\n Pos: 1 2 3\n}\n"),
            1);
  EXPECT_EQ(std::string(Error()), "4 station records found in " + path_ + ", but all rejected");
  EXPECT_EQ(file_.Count, 0);
  EXPECT_EQ(file_.Records, nullptr);
}

TEST_F(StationFileTest, RunningNumbersCountDroppedBlocks) {
  ASSERT_EQ(Read("$STAINFO\n"
                 "rtk {\n Pos: 1 2 3\n}\n"  // dropped: no time
                 "rtk {\n GTim: 10 1351\n}\n"
                 "gis {\n Feat: A\n GTim: 1\n}\n"              // 0
                 "gis {\n Feat: B\n GTim: 2\n}\n"              // 1
                 "gis {\n Count: 40\n Feat: C\n GTim: 3\n}\n"  // 40
                 "gis {\n GTim: 4\n}\n"                        // 41, dropped
                 "gis {\n Feat: E\n GTim: 5\n}\n"              // 42
                 "gis {\n Count: 3\n Feat: F\n GTim: 6\n}\n"   // 3
                 "gis {\n Feat: G\n GTim: 7\n}\n"),            // 4
            0);
  ASSERT_EQ(file_.Count, 7);
  EXPECT_STREQ(file_.Records[0].Name, "Rtk#00002");
  const int expected[] = {0, 1, 40, 42, 3, 4};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(file_.Records[i + 1].FeatureNumber, expected[i]) << "gis record " << i;
  }
}

TEST_F(StationFileTest, HeaderTime) {
  ASSERT_EQ(Read("$STAINFO\n"
                 "hdr {\n Time: 16:23:13.25 local\n Date: 11/30/05\n}\n"
                 "hdr {\n Time: 16:23:13.25\n Date: 11/30/05\n}\n"   // no zone word
                 "hdr {\n Date: 11/30/05\n}\n"                        // no time
                 "hdr {\n Time: 16:61:00 UTC\n Date: 11/30/05\n}\n"   // rejected
                 "hdr {\n}\n"),
            0);
  ASSERT_EQ(file_.Count, 5);
  EXPECT_EQ(file_.Records[0].TimeSystem, 3);
  EXPECT_EQ(file_.Records[0].Week, 1351);
  EXPECT_DOUBLE_EQ(file_.Records[0].Seconds, 318193.25);
  for (int i = 1; i < 5; ++i) {
    EXPECT_EQ(file_.Records[i].TimeSystem, 0) << i;
    EXPECT_EQ(file_.Records[i].Week, 0) << i;
    EXPECT_EQ(file_.Records[i].Seconds, 0.0) << i;
  }
}

TEST_F(StationFileTest, CommonKeys) {
  ASSERT_EQ(Read("$STAINFO\n"
                 "mrk {\n Event: A\n GTim: 1 1351\n"
                 "  Vel: 2 90 0.5\n OffL: 4 5 6\n"  // the later "OffL:" decides
                 "  Ant: 1 2 NoHi\n"                // ignored without "Hi:"
                 "  Mode: FIX\n"                    // ignored without "Pos:"
                 "  Std: 1 2\n"                     // fewer than 3: not taken
                 "  Dop: 1.5 2.5 3.5\n Rms: 0.1 0.2\n Age: 3\n Att: 10 20 30\n"
                 "  Pos: 1 2\n"                     // fewer than 3: not taken
                 "}\n"
                 "mrk {\n Event: B\n GTim: 2 1351\n OffB: 1 2 3\n Vel: 2 30 7\n"
                 "  Pos: 1 2 3 ORTHO\n Mode: bogus\n Enable: x\n}\n"
                 "mrk {\n Event: C\n GTim: 3 1351\n Vel: 2 30 7\n Hi: 1.5 vert\n}\n"),
            0);
  ASSERT_EQ(file_.Count, 3);
  const StationRecord& a = file_.Records[0];
  EXPECT_EQ(a.OffsetKind, 2);
  EXPECT_DOUBLE_EQ(a.Offset[0], 4.0);
  EXPECT_DOUBLE_EQ(a.Offset[2], 6.0);
  EXPECT_STREQ(a.AntennaName, "");
  EXPECT_EQ(a.AntennaValue1, 0.0);
  EXPECT_EQ(a.HeightType, 0);
  EXPECT_EQ(a.SolutionMode, 0);
  EXPECT_EQ(a.Position[0], 0.0);
  EXPECT_EQ(a.HasStd, 0);
  EXPECT_EQ(a.Std[0], 0.0);
  EXPECT_EQ(a.HasDop, 1);
  EXPECT_DOUBLE_EQ(a.Dop[1], 2.5);
  EXPECT_EQ(a.HasRms, 1);
  EXPECT_DOUBLE_EQ(a.Rms[1], 0.2);
  EXPECT_EQ(a.HasAge, 1);
  EXPECT_DOUBLE_EQ(a.Age, 3.0);
  EXPECT_EQ(a.HasAttitude, 1);
  EXPECT_DOUBLE_EQ(a.Attitude[2], 30.0);
  EXPECT_EQ(a.HasEnable, 0);

  // "OffB:" comes after "Vel:" in the lookup order, whatever the file order.
  const StationRecord& b = file_.Records[1];
  EXPECT_EQ(b.OffsetKind, 3);
  EXPECT_DOUBLE_EQ(b.Offset[0], 1.0);
  EXPECT_EQ(b.HeightSystem, 2);
  EXPECT_EQ(b.SolutionMode, 7);
  EXPECT_EQ(b.HasEnable, 1);  // a non-numeric word still converts, to 0
  EXPECT_EQ(b.Enable, 0);

  const StationRecord& c = file_.Records[2];
  EXPECT_EQ(c.OffsetKind, 1);
  EXPECT_NEAR(c.Offset[0], 1.0, 1e-12);            // 2 sin 30
  EXPECT_NEAR(c.Offset[1], std::sqrt(3.0), 1e-12);  // 2 cos 30
  EXPECT_DOUBLE_EQ(c.Offset[2], 7.0);
  EXPECT_EQ(c.HeightType, 1);
}

TEST_F(StationFileTest, OverlongTextsAreCut) {
  std::string id(40, 'I');
  std::string desc(80, 'd');
  std::string ant(45, 'a');
  std::string user(40, 'u');
  ASSERT_EQ(Read("$STAINFO\n"
                 "hdr {\n User: " + user + "\n Proj: " + desc + "\n}\n"
                 "sta {\n ID: " + id + "\n Desc: " + desc + "\n GTim: 1\n Hi: 1\n Ant: 1 2 " + ant +
                 "\n}\n"),
            0);
  ASSERT_EQ(file_.Count, 2);
  EXPECT_EQ(std::string(file_.Records[0].Text1), std::string(31, 'u'));
  EXPECT_EQ(std::string(file_.Records[0].Name), std::string(63, 'd'));
  EXPECT_EQ(std::string(file_.Records[1].Name), std::string(31, 'I'));
  EXPECT_EQ(std::string(file_.Records[1].Text1), std::string(63, 'd'));
  EXPECT_EQ(std::string(file_.Records[1].AntennaName), std::string(31, 'a'));
  ReleaseStationFile(&file_);

  // A path longer than the Path field is kept cut in Path and named whole in
  // the message.
  std::string long_path = testing::TempDir() + std::string(300, 'p') + ".sta";
  EXPECT_EQ(ReadStationFile(long_path.c_str(), 31, &file_), 1);
  EXPECT_EQ(std::strlen(file_.Path), sizeof file_.Path - 1);
  EXPECT_EQ(std::string(file_.Path), long_path.substr(0, sizeof file_.Path - 1));
  EXPECT_EQ(std::strncmp(Error(), "Unable to open ", 15), 0);
}

TEST_F(StationFileTest, RecognisesTheFirstLine) {
  Write("$STAINFO\n");
  EXPECT_EQ(IsStationInfoFile(path_.c_str()), 1);
  Write("$STAINFO" + std::string(200, 'x') + "\nsta {\n ID: A\n GTim: 1\n}\n");
  EXPECT_EQ(IsStationInfoFile(path_.c_str()), 1);
  ASSERT_EQ(ReadStationFile(path_.c_str(), 31, &file_), 0);
  EXPECT_EQ(file_.Count, 1);
  Write("$STAINF\n");
  EXPECT_EQ(IsStationInfoFile(path_.c_str()), 0);
  Write(" $STAINFO\n");
  EXPECT_EQ(IsStationInfoFile(path_.c_str()), 0);
  Write("");
  EXPECT_EQ(IsStationInfoFile(path_.c_str()), 0);
  EXPECT_EQ(IsStationInfoFile((path_ + ".missing").c_str()), 0);
  EXPECT_STREQ(Error(), "");
}

}  // namespace
}  // namespace rawconv
