#include "obs/station_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "api/context.h"

namespace rawconv {
namespace {

class StationTableTest : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    stem_ = testing::TempDir() + "table_" + info->name();
    std::memset(&context_, 0, sizeof context_);
    scope_ = new ContextScope(context_);
  }
  void TearDown() override {
    delete scope_;
    std::remove((stem_ + ".sta").c_str());
  }

  // Writes the station file that belongs to the GPB path returned.
  std::string WriteStationFile(const std::string& text) {
    std::FILE* f = std::fopen((stem_ + ".sta").c_str(), "w");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
    }
    return stem_ + ".Gpb";
  }

  std::string stem_;
  Context context_;
  ContextScope* scope_ = nullptr;
};

TEST(StationFileNameTest, ReplacesOrAppends) {
  char out[kStationPathSize];
  ASSERT_EQ(MakeStationFileName("C:\\data\\site.GPB", out, sizeof out), 0);
  EXPECT_STREQ(out, "C:\\data\\site.sta");
  ASSERT_EQ(MakeStationFileName("/data/site.dat", out, sizeof out), 0);
  EXPECT_STREQ(out, "/data/site.dat.sta");
  ASSERT_EQ(MakeStationFileName("a.gpb.gpb", out, sizeof out), 0);
  EXPECT_STREQ(out, "a.gpb.sta");
  ASSERT_EQ(MakeStationFileName(".gpb", out, sizeof out), 0);
  EXPECT_STREQ(out, ".sta");
  ASSERT_EQ(MakeStationFileName("gpb", out, sizeof out), 0);
  EXPECT_STREQ(out, "gpb.sta");

  std::string longest(256, 'p');
  ASSERT_EQ(MakeStationFileName(longest.c_str(), out, sizeof out), 0);
  EXPECT_EQ(std::strlen(out), 260u);
  EXPECT_EQ(MakeStationFileName((longest + "q").c_str(), out, sizeof out), 1);
  char small[10];
  EXPECT_EQ(MakeStationFileName("abcde.gpb", small, sizeof small), 0);
  EXPECT_STREQ(small, "abcde.sta");
  EXPECT_EQ(MakeStationFileName("abcdef.gpb", small, sizeof small), 1);
  EXPECT_STREQ(small, "");
}

TEST_F(StationTableTest, StationFileFoundWhateverTheCaseOfItsExtension) {
  const std::string upper = stem_ + ".STA";
  std::FILE* f = std::fopen(upper.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("STA: *3600*\"UP\"*1.5*\"\"*\"\"*\n", f);
  std::fclose(f);
  char out[kStationPathSize];
  ASSERT_EQ(MakeStationFileName((stem_ + ".GPB").c_str(), out, sizeof out), 0);
  EXPECT_EQ(upper, out);
  StationTable table;
  EXPECT_EQ(table.Load((stem_ + ".GPB").c_str()), 1);
  StationEvent event;
  ASSERT_TRUE(table.Find(3600.0, &event));
  EXPECT_STREQ(event.Name, "UP");

  // The lower-case spelling comes first.
  const std::string gpb = WriteStationFile("STA: *3600*\"LOW\"*1.5*\"\"*\"\"*\n");
  EXPECT_EQ(table.Load(gpb.c_str()), 1);
  ASSERT_TRUE(table.Find(3600.0, &event));
  EXPECT_STREQ(event.Name, "LOW");
  std::remove(upper.c_str());
}

TEST_F(StationTableTest, NoStationFileLeavesNoEventsAndNoMessage) {
  StationTable table;
  EXPECT_EQ(table.Load((stem_ + ".gpb").c_str()), 0);
  StationEvent event;
  EXPECT_FALSE(table.Find(0.0, &event));
  EXPECT_STREQ(table.Message(), "");
}

TEST_F(StationTableTest, StaListLookup) {
  std::string gpb = WriteStationFile(
      "STA: *3600*\"MT01\"*1.5*\"first\"*\"occupation\"*\n"
      "STA: *7200*\"MT02\"*2.5*\"c1\"*\"c2\"*\n"
      "STA: *1800*\"MT00\"*0.5*\"\"*\"\"*\n"
      "STA: *3600*\"DUP1\"*9.5*\"later\"*\"ignored\"*\n");
  StationTable table;
  ASSERT_EQ(table.Load(gpb.c_str()), 4);
  StationEvent event;
  ASSERT_TRUE(table.Find(3600.0, &event));
  EXPECT_DOUBLE_EQ(event.Time, 3600.0);
  EXPECT_STREQ(event.Name, "MT01");  // the first of two equal times
  EXPECT_DOUBLE_EQ(event.AntennaHeight, 1.5);
  EXPECT_STREQ(event.Comment1, "first");
  EXPECT_STREQ(event.Comment2, "occupation");
  ASSERT_TRUE(table.Find(1800.0, &event));
  EXPECT_STREQ(event.Name, "MT00");
  EXPECT_FALSE(table.Find(3600.5, &event));
  EXPECT_FALSE(table.Find(std::nan(""), &event));
  EXPECT_STREQ(table.Message(), "");
}

TEST_F(StationTableTest, StationInfoLookup) {
  std::string gpb = WriteStationFile(
      "$STAINFO\n"
      "hdr {\n Proj: P\n}\n"  // no time: seconds 0
      "rtk {\n GTim: 500 1351\n Hi: 3.0\n}\n"
      "sta {\n ID: \"Base 1\"\n Desc: \"on the roof\"\n Rem: r\n GTim: 100 1351\n Hi: 1.25\n}\n"
      "mrk {\n Event: M\n GTim: 100 1352\n}\n");  // same seconds, another week
  StationTable table;
  ASSERT_EQ(table.Load(gpb.c_str()), 4);
  StationEvent event;
  ASSERT_TRUE(table.Find(100.0, &event));
  EXPECT_STREQ(event.Name, "Base_1");
  EXPECT_DOUBLE_EQ(event.AntennaHeight, 1.25);
  EXPECT_STREQ(event.Comment1, "on the roof");
  EXPECT_STREQ(event.Comment2, "r");
  ASSERT_TRUE(table.Find(500.0, &event));
  EXPECT_STREQ(event.Name, "Rtk#00001");
  ASSERT_TRUE(table.Find(0.0, &event));
  EXPECT_STREQ(event.Name, "P");

  // Loading again releases the old records first.
  EXPECT_EQ(table.Load(gpb.c_str()), 4);
  table.Release();
  EXPECT_EQ(table.Count(), 0);
  EXPECT_FALSE(table.Find(100.0, &event));
}

TEST_F(StationTableTest, UnusableStationInfoFileKeepsItsMessage) {
  std::string gpb = WriteStationFile("$STAINFO\nsta {\n ID: A\n}\n");
  StationTable table;
  EXPECT_EQ(table.Load(gpb.c_str()), 0);
  std::string expected = "1 station records found in " + stem_ + ".sta, but all rejected";
  EXPECT_EQ(std::string(table.Message()), expected);
  StationEvent event;
  EXPECT_FALSE(table.Find(0.0, &event));
}

TEST(AntennaHeightFitsTest, FourteenColumnsAfterRounding) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double h : {0.0, -0.0, 1.5, -0.00001, 999999999.9999, 999999999.99994, 123456789.0,
                   -99999999.9999, -99999999.99994, -1.0e-300}) {
    EXPECT_TRUE(AntennaHeightFits(h)) << h;
  }
  // 15 columns and more: "1000000000.0000", "-100000000.0000", ...
  for (double h : {999999999.99996, 1.0e9, 9999999999.9999, -99999999.99996, -100000000.0,
                   -999999999.9999, 1.0e308, -1.0e308, inf, -inf, std::nan("")}) {
    EXPECT_FALSE(AntennaHeightFits(h)) << h;
  }
}

TEST_F(StationTableTest, LargeHeightsAreKeptUnlessTheyDoNotFit) {
  StationTable table;
  StationEvent event;
  ASSERT_EQ(table.Load(WriteStationFile("STA: *1*\"A\"*999999999.9999*\"\"*\"\"*\n"
                                        "STA: *2*\"B\"*-99999999.9999*\"\"*\"\"*\n"
                                        "STA: *3*\"C\"*1000000000*\"\"*\"\"*\n"
                                        "STA: *4*\"D\"*-99999999.99996*\"\"*\"\"*\n")
                            .c_str()),
            4);
  ASSERT_TRUE(table.Find(1.0, &event));
  EXPECT_EQ(event.AntennaHeight, 999999999.9999);
  ASSERT_TRUE(table.Find(2.0, &event));
  EXPECT_EQ(event.AntennaHeight, -99999999.9999);
  ASSERT_TRUE(table.Find(3.0, &event));
  EXPECT_EQ(event.AntennaHeight, 0.0);
  ASSERT_TRUE(table.Find(4.0, &event));
  EXPECT_EQ(event.AntennaHeight, 0.0);

  ASSERT_EQ(table.Load(WriteStationFile("$STAINFO\n"
                                        "sta {\n ID: A\n GTim: 10 1351\n Hi: 123456789.5\n}\n"
                                        "sta {\n ID: B\n GTim: 20 1351\n Hi: inf\n}\n"
                                        "sta {\n ID: C\n GTim: 30 1351\n Hi: 1e10\n}\n")
                            .c_str()),
            3);
  ASSERT_TRUE(table.Find(10.0, &event));
  EXPECT_EQ(event.AntennaHeight, 123456789.5);
  ASSERT_TRUE(table.Find(20.0, &event));
  EXPECT_EQ(event.AntennaHeight, 0.0);
  ASSERT_TRUE(table.Find(30.0, &event));
  EXPECT_EQ(event.AntennaHeight, 0.0);
}

// The sorted lookup agrees with a walk in file order, duplicates and signed
// zeros included.
TEST_F(StationTableTest, LookupMatchesFirstInFileOrder) {
  std::string text;
  double times[kMaxStaRecords];
  for (int i = 0; i < kMaxStaRecords; ++i) {
    times[i] = (i * 7919) % 97 * 1.5;  // many repeats, not in order
    if (i == 0) times[i] = 1000.0;
    if (i == 10) times[i] = -0.0;  // the first zero time of the file
    char line[96];
    std::snprintf(line, sizeof line, "STA: *%.1f*\"%c%03d\"*%d*\"\"*\"\"*\n", times[i],
                  'A' + i / 100, i % 100, i);
    text += line;
  }
  StationTable table;
  ASSERT_EQ(table.Load(WriteStationFile(text).c_str()), kMaxStaRecords);
  for (int step = -1; step < 100 * 3; ++step) {
    double t = step * 0.5;
    int first = -1;
    for (int i = 0; i < kMaxStaRecords && first < 0; ++i) {
      if (times[i] == t) first = i;
    }
    StationEvent event;
    ASSERT_EQ(table.Find(t, &event), first >= 0) << t;
    if (first >= 0) {
      EXPECT_DOUBLE_EQ(event.AntennaHeight, first) << t;
    }
  }
}

}  // namespace
}  // namespace rawconv
