// Pre-scan and header of the observation file, compared byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "obs/obs_writer.h"
#include "obs_test_util.h"
#include "support/epp_fixture.h"
#include "support/gpb_builder.h"

namespace rawconv {
namespace obstest {
namespace {

using gpbtest::GpbFileBuilder;
using gpbtest::MakeEpoch;

class ObsHeaderTest : public ObsFileTest {
 protected:
  // A new-format file of five epochs, one second apart. The first channel
  // carries C1, L1, L2, D1 and S1; P2 occurs only on the second channel.
  // Only epochs 0 and 1 qualify for the position mean: epoch 2 has Flags 0,
  // epoch 3 three channels, epoch 4 the kinematic bit but the empty (0, 0)
  // position.
  void WriteMixedFile() {
    GpbFileBuilder b = GpbFileBuilder::New(6, "v2");
    for (int i = 0; i < 5; ++i) {
      GpbChannel ch[4] = {
          MakeChannel(5, 21000000.5, 110000000.25, 85000000.5, 0, 0, -1234.5, 45.25),
          MakeChannel(7, 22000000.5, 0, 0, 0, 23000000.5),
          MakeChannel(9, 23000000.5, 0),
          MakeChannel(12, 24000000.5, 0),
      };
      GpbEpoch e = MakeEpoch(kT0 + i);
      int n = 4;
      if (i == 1) {
        e.Latitude = 38.9001;
        e.Longitude = -77.0702;
        e.Height = 52.5f;
      } else if (i == 2) {
        e.Flags = 0;
        e.Latitude = 10.0;
      } else if (i == 3) {
        e.Latitude = -30.0;
        n = 3;
      } else if (i == 4) {
        e.Flags = 2;
        e.Latitude = 0.0;
        e.Longitude = 0.0;
      }
      b.AddEpoch(e, ch, n, true);
    }
    WriteGpb(b);
  }
};

// Both versions of the header of one file: every line in order with the
// version-dependent layouts, the types found on first channels only, the
// position mean of the qualifying epochs and the interval.
TEST_F(ObsHeaderTest, WholeHeaderInBothVersions) {
  WriteMixedFile();
  const std::string common_top =
      HeaderLine("RAWCONV v7.00       tester              7-DEC-05 14:30", "PGM / RUN BY / DATE") +
      HeaderLine("SITE", "MARKER NAME") + HeaderLine("obs                 agency", "OBSERVER / AGENCY") +
      HeaderLine("                    RINEX v2", "REC # / TYPE / VERS") +
      HeaderLine("", "ANT # / TYPE") +
      HeaderLine("  1112157.7318 -4844317.3414  3983719.9839", "APPROX POSITION XYZ") +
      HeaderLine("        1.5000        0.0000        0.0000", "ANTENNA: DELTA H/E/N") +
      HeaderLine("     1     1", "WAVELENGTH FACT L1/2");

  const std::string v21 =
      HeaderLine("     2.10           OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE") +
      common_top + HeaderLine("     5    C1    L1    L2    D1    S1", "# / TYPES OF OBSERV") +
      HeaderLine("     1.000", "INTERVAL") +
      HeaderLine("  2005    10    27     0     0    0.0000000", "TIME OF FIRST OBS") +
      HeaderLine("", "END OF HEADER");
  std::string file = Convert(RINEX_VERSION_2_1);
  EXPECT_EQ(header_result_, 0);
  EXPECT_EQ(file.substr(0, v21.size()), v21);
  EXPECT_EQ(summary_.NumObsTypes, 5);
  EXPECT_EQ(summary_.HasP2, 0);
  EXPECT_EQ(summary_.FirstObsTime, kT0);

  const std::string v20 =
      HeaderLine("     2              OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE") +
      common_top + HeaderLine("     4    C1    L1    L2    D1", "# / TYPES OF OBSERV") +
      HeaderLine("     1", "INTERVAL") +
      HeaderLine("  2005    10    27     0     0    0.000000", "TIME OF FIRST OBS") +
      HeaderLine("", "END OF HEADER");
  file = Convert(RINEX_VERSION_2_0);
  EXPECT_EQ(file.substr(0, v20.size()), v20);
  // Every line of both headers is 80 columns.
  for (size_t at = 0, next; (next = v20.find('\n', at)) != std::string::npos; at = next + 1)
    EXPECT_EQ(next - at, 80u) << v20.substr(at, next - at);
}

// No qualifying position gives three 0.0000 columns; a single epoch gives
// interval 0; two epochs their difference. Old-format receiver 5 with no
// description leaves "Motorola Oncore " in the receiver column. A 25-
// character marker name lengthens its line to 85 columns.
TEST_F(ObsHeaderTest, EmptyPositionShortFilesAndLongTexts) {
  request_.MarkerName = "ABCDEFGHIJKLMNOPQRSTUVWXY";
  GpbFileBuilder one = GpbFileBuilder::Old(5);
  GpbChannel ch[3] = {MakeChannel(1, 21000000.5, 0), MakeChannel(2, 21000000.5, 0),
                      MakeChannel(3, 21000000.5, 0)};
  one.AddEpoch(MakeEpoch(kT0 + 12.5), ch, 3);
  WriteGpb(one);
  std::string file = Convert(RINEX_VERSION_2_1);
  EXPECT_NE(file.find(HeaderLine("        0.0000        0.0000        0.0000",
                                 "APPROX POSITION XYZ")),
            std::string::npos);
  EXPECT_NE(file.find(HeaderLine("     0.000", "INTERVAL")), std::string::npos);
  EXPECT_NE(file.find(HeaderLine("  2005    10    27     0     0   12.5000000",
                                 "TIME OF FIRST OBS")),
            std::string::npos);
  EXPECT_NE(file.find(HeaderLine("                    Motorola Oncore", "REC # / TYPE / VERS")),
            std::string::npos);
  // A name wider than 20 columns stays within the record's 60.
  const std::string marker = "ABCDEFGHIJKLMNOPQRSTUVWXY" + std::string(35, ' ') + "MARKER NAME" +
                             std::string(9, ' ') + "\n";
  EXPECT_EQ(marker.size(), 81u);
  EXPECT_NE(file.find(marker), std::string::npos);
  EXPECT_EQ(summary_.NumObsTypes, 1);  // C1 only

  file = Convert(RINEX_VERSION_2_0);
  EXPECT_NE(file.find(HeaderLine("     0", "INTERVAL")), std::string::npos);

  GpbFileBuilder two = GpbFileBuilder::Old(5);
  two.AddEpoch(MakeEpoch(kT0), ch, 3);
  two.AddEpoch(MakeEpoch(kT0 + 15), ch, 3);
  WriteGpb(two);
  file = Convert(RINEX_VERSION_2_1);
  EXPECT_NE(file.find(HeaderLine("    15.000", "INTERVAL")), std::string::npos);
  EXPECT_EQ(summary_.ApproxX, 0.0);  // three channels never qualify

  // A file that cannot be read: zero summary, "UNKNOWN " receiver.
  std::remove(request_.GpbFile.c_str());
  ScanObsSummary(request_, &summary_);
  EXPECT_STREQ(summary_.ReceiverText, "UNKNOWN ");
  EXPECT_EQ(summary_.NumObsTypes, 0);
  EXPECT_EQ(summary_.Interval, 0.0);
}

// TIME OF FIRST OBS takes the week from the ephemeris reference even when
// the week override is set; the epochs follow the override.
TEST_F(ObsHeaderTest, FirstObsIgnoresTheWeekOverride) {
  GpbFileBuilder b = GpbFileBuilder::New(6, "");
  GpbChannel ch[1] = {MakeChannel(3, 21000000.5, 0)};
  b.AddEpoch(MakeEpoch(kT0), ch, 1);
  WriteGpb(b);
  request_.UseGpsWeek = 1;
  request_.GpsWeek = 1500;  // 2008-10-09
  const std::string file = Convert(RINEX_VERSION_2_1);
  EXPECT_NE(file.find(HeaderLine("  2005    10    27     0     0    0.0000000",
                                 "TIME OF FIRST OBS")),
            std::string::npos);
  EXPECT_EQ(Body(file).substr(0, 27), " 08 10  9  0  0  0.0000000 ");
}

// The run date: day without leading zero, upper-case month, two-digit year,
// 24-hour time; a failing clock stops the header after its first line.
TEST_F(ObsHeaderTest, RunDateText) {
  char text[128];
  ASSERT_EQ(FormatRunDate(text), 0);
  EXPECT_STREQ(text, "7-DEC-05 14:30");
  SetRunClockForTesting(1262336700);  // 2010-01-01 09:05
  ASSERT_EQ(FormatRunDate(text), 0);
  EXPECT_STREQ(text, "1-JAN-10 09:05");
  SetRunClockForTesting(1222041600 + 86399);  // 2008-09-22 23:59:59
  ASSERT_EQ(FormatRunDate(text), 0);
  EXPECT_STREQ(text, "22-SEP-08 23:59");

  // The real clock gives the same form.
  ResetRunClockForTesting();
  ASSERT_EQ(FormatRunDate(text), 0);
  int day = 0, year = 0, hour = 0, minute = 0;
  char month[8] = "";
  ASSERT_EQ(std::sscanf(text, "%d-%3[A-Z]-%2d %2d:%2d", &day, month, &year, &hour, &minute), 5)
      << text;
  EXPECT_TRUE(day >= 1 && day <= 31 && hour < 24 && minute < 60) << text;
  EXPECT_NE(std::string("JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC").find(month), std::string::npos);
}

// The ephemeris reference is looked up once from the EPP file; a fixed week
// bypasses the week resolution.
TEST_F(ObsHeaderTest, WeekReference) {
  const std::string epp = base_ + ".epp";
  ASSERT_TRUE(epptest::WriteEppFile(epp, {{kWeek, 338400}, {kWeek, 345600}, {kWeek, 0}}));
  WeekReference ref = LookupWeekReference(epp.c_str());
  EXPECT_EQ(ref.Found, 1);
  EXPECT_EQ(ref.Week, kWeek);
  EXPECT_EQ(ref.Toe, 345600.0);
  EXPECT_EQ(ref.FixedWeek, 0);
  EXPECT_EQ(ReferenceWeekOf(ref, 604000.0), kWeek);
  EXPECT_EQ(ReferenceWeekOf(ref, 3600.0), kWeek + 1);  // early in the following week
  ref.FixedWeek = 1;
  EXPECT_EQ(ReferenceWeekOf(ref, 100.0), kWeek);
  std::remove(epp.c_str());
  EXPECT_EQ(LookupWeekReference(epp.c_str()).Found, 0);
  EXPECT_EQ(LookupWeekReference("").Found, 0);

  // Calendar date keeps the fraction of the second to the last digit.
  const EpochDate d = DateOfGpsTime(kWeek, 345629.999);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%10.7f", d.Seconds);
  EXPECT_STREQ(seconds, "29.9990000");
  EXPECT_EQ(d.Year * 10000 + d.Month * 100 + d.Day, 20051027);
}

// The ellipsoid conversion at known points.
TEST(GeodeticToEcefTest, KnownPoints) {
  double x, y, z;
  GeodeticToEcef(0.0, 0.0, 0.0, &x, &y, &z);
  EXPECT_DOUBLE_EQ(x, 6378137.0);
  EXPECT_NEAR(y, 0.0, 1e-9);
  EXPECT_NEAR(z, 0.0, 1e-9);
  GeodeticToEcef(90.0, 0.0, 100.0, &x, &y, &z);
  EXPECT_NEAR(z, 6356752.314000 + 100.0, 1e-5);
  EXPECT_NEAR(x, 0.0, 1e-6);
  GeodeticToEcef(0.0, 90.0, 0.0, &x, &y, &z);
  EXPECT_NEAR(y, 6378137.0, 1e-6);
}

}  // namespace
}  // namespace obstest
}  // namespace rawconv
