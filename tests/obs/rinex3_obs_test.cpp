// RINEX 3 observation files from synthetic GPB data: a whole short file byte
// for byte, GLONASS numbering and the mixed-file header records, the value
// fields with their indicators, and the events.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "obs/obs_writer.h"
#include "obs/rinex3_obs.h"
#include "obs_test_util.h"
#include "sink/sink.h"
#include "support/gpb_builder.h"

namespace rawconv {
namespace obstest {
namespace {

using gpbtest::GpbFileBuilder;
using gpbtest::MakeEpoch;

class Rinex3ObsTest : public ObsFileTest {
 protected:
  void WriteEpochs(const std::vector<std::vector<GpbChannel>>& epochs,
                   const std::vector<int16_t>& flags, double step = 30.0) {
    GpbFileBuilder b = GpbFileBuilder::New(6, "");
    for (size_t i = 0; i < epochs.size(); ++i) {
      GpbEpoch e = MakeEpoch(kT0 + step * static_cast<double>(i));
      e.Flags = flags[i];
      b.AddEpoch(e, epochs[i].data(), static_cast<int>(epochs[i].size()), true);
    }
    WriteGpb(b);
  }

  // Pre-scan, RINEX 3 header and epochs; the whole file.
  std::string Convert3(int version, const WeekReference& ref = TestReference()) {
    ScanObsSummary(request_, &summary_);
    std::FILE* out = std::fopen(request_.ObsFile.c_str(), "w");
    if (out == nullptr) return "";
    StdioSink sink(out);
    header_result_ = WriteObs3Header(sink, request_, summary_, version, ref);
    epochs_result_ = WriteObs3Epochs(sink, request_, summary_, version, ref);
    sink.Finish();
    std::fclose(out);
    return ReadText(request_.ObsFile);
  }
};

// GPS data of three epochs with a station block, a kinematic START and END,
// loss of lock on both carriers and a satellite with a single type: the whole
// file, byte for byte.
TEST_F(Rinex3ObsTest, GoldenGpsFile) {
  GpbChannel a0 = MakeChannel(5, 21000000.123, 110000000.25, 85000000.5, 0, 21000002.25, -1234.5,
                              45.25, 29.0, /*lock1=*/10.0, /*lock2=*/10.0);
  GpbChannel a1 = a0;
  a1.LockTime1 = 40.0;
  a1.C1 = 21000100.5;
  GpbChannel a2 = a1;
  a2.LockTime1 = 70.0;
  a2.LockTime2 = 0.0;  // lock lost: indicator on L2W
  GpbChannel b = MakeChannel(12, 0, 0, 0, 0, 23456789.0);  // only P2
  b.LockTime1 = 0.0;
  b.ObsMask = kObsP2;
  WriteEpochs({{a0, b}, {a1}, {a2, b}}, {1, 3, 1});
  WriteText(StationPath(), "STA: *345630.0*\"MT01\"*2.5*\"first comment\"*\"second\"*\n");
  const std::string expected =
      "     3.05           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE\n"
      "RAWCONV v7.00       tester              20051207 143000 LCL PGM / RUN BY / DATE \n"
      "SITE                                                        MARKER NAME         \n"
      "obs                 agency                                  OBSERVER / AGENCY   \n"
      "                    RINEX                                   REC # / TYPE / VERS \n"
      "                                                            ANT # / TYPE        \n"
      "        0.0000        0.0000        0.0000                  APPROX POSITION XYZ \n"
      "        1.5000        0.0000        0.0000                  ANTENNA: DELTA H/E/N\n"
      "G    7 C1C L1C L2W C2W D1C S1C S2W                          SYS / # / OBS TYPES \n"
      "DBHZ                                                        SIGNAL STRENGTH UNIT\n"
      "    30.000                                                  INTERVAL            \n"
      "  2005    10    27     0     0    0.0000000     GPS         TIME OF FIRST OBS   \n"
      "  2005    10    27     0     1    0.0000000     GPS         TIME OF LAST OBS    \n"
      "G L1C  0.00000                                              SYS / PHASE SHIFT   \n"
      "G L2W  0.00000                                              SYS / PHASE SHIFT   \n"
      "                                                            END OF HEADER       \n"
      "> 2005 10 27 00 00  0.0000000  0  2\n"
      "G05  21000000.123 7-110000000.250 7 -85000000.500 4  21000002.250 4     -1234.500 7        45.250          29.000  \n"
      "G12                                                  23456789.000                                                  \n"
      "> 2005 10 27 00 00 30.0000000  3  4\n"
      "MT01                                                        MARKER NAME         \n"
      "        2.5000        0.0000        0.0000                  ANTENNA: DELTA H/E/N\n"
      "first comment                                               COMMENT             \n"
      "second                                                      COMMENT             \n"
      "> 2005 10 27 00 00 30.0000000  2  1\n"
      "*** START OF KINEMATIC DATA ***                             COMMENT             \n"
      "> 2005 10 27 00 00 30.0000000  0  1\n"
      "G05  21000100.500 7-110000000.250 7 -85000000.500 4  21000002.250 4     -1234.500 7        45.250          29.000  \n"
      "> 2005 10 27 00 01  0.0000000  3  3\n"
      "STA                                                         MARKER NAME         \n"
      "                                                            ANTENNA: DELTA H/E/N\n"
      "*** END OF KINEMATIC DATA ***                               COMMENT             \n"
      "> 2005 10 27 00 01  0.0000000  0  2\n"
      "G05  21000100.500 7-110000000.250 7 -85000000.50014  21000002.250 4     -1234.500 7        45.250          29.000  \n"
      "G12                                                  23456789.000                                                  \n";
  EXPECT_EQ(Convert3(305), expected);
  EXPECT_EQ(header_result_, 0);
  EXPECT_EQ(epochs_result_, 0);
}

// GLONASS satellite R08 (GPB 40) on frequency channel -4 over a long lock
// arc, R09 (GPB 41) seen once: a mixed file lists both systems with their
// own codes, the slot and channel of R08 only, and the code-phase bias
// record; the epochs name GLONASS satellites by slot.
TEST_F(Rinex3ObsTest, GlonassNumberingAndMixedHeader) {
  const double carrier = 1602.0e6 - 4 * 0.5625e6;
  std::vector<std::vector<GpbChannel>> epochs;
  for (int i = 0; i < 4; ++i) {
    const double range = 20000000.0 + 3000.0 * i;
    GpbChannel r = MakeChannel(40, range, -(range * carrier / 299792458.0 + 12345.0), 0, 0,
                               range + 0.5, 0, 0, 0, 10.0 + i);
    GpbChannel g = MakeChannel(3, 22000000.0, 1000.0, 0, 0, 22000001.0, 0, 0, 0, 10.0 + i);
    epochs.push_back({g, r});
  }
  epochs.back().push_back(MakeChannel(41, 19000000.0, 0, 0, 0, 19000001.0));
  WriteEpochs(epochs, {1, 1, 1, 1});
  const std::string file = Convert3(304);
  EXPECT_EQ(summary_.GlonassFrequency[8], -4);
  EXPECT_EQ(summary_.GlonassFrequency[9], kGlonassFrequencyUnknown);
  EXPECT_EQ(summary_.HasGps, 1);
  EXPECT_EQ(summary_.HasGlonass, 1);
  EXPECT_EQ(summary_.EpochCount, 4);
  EXPECT_DOUBLE_EQ(summary_.LastObsTime, kT0 + 90.0);
  const std::string header[] = {
      HeaderLine("     3.04           OBSERVATION DATA    M (MIXED)", "RINEX VERSION / TYPE"),
      HeaderLine("G    3 C1C L1C C2W", "SYS / # / OBS TYPES"),
      HeaderLine("R    3 C1C L1C C2P", "SYS / # / OBS TYPES"),
      HeaderLine("G L1C  0.00000", "SYS / PHASE SHIFT"),
      HeaderLine("R L1C  0.00000", "SYS / PHASE SHIFT"),
      HeaderLine("  1 R08 -4", "GLONASS SLOT / FRQ #"),
      HeaderLine(" C1C          C1P          C2C          C2P", "GLONASS COD/PHS/BIS"),
  };
  size_t at = 0;
  for (const std::string& line : header) {
    const size_t found = file.find(line, at);
    ASSERT_NE(found, std::string::npos) << line;
    at = found;  // in this order
  }
  const std::string last = Body(file).substr(Body(file).rfind("> "));
  EXPECT_EQ(last.substr(0, 36), "> 2005 10 27 00 01 30.0000000  0  3\n");
  EXPECT_NE(last.find("\nR08  20009000.000"), std::string::npos);
  EXPECT_NE(last.find("\nR09  19000000.000"), std::string::npos);
  EXPECT_EQ(file.find("R40"), std::string::npos);
}

// The same mixed data in every RINEX 3 and 4 version offered: each header
// carries the records its version requires (SYS / PHASE SHIFT and GLONASS
// COD/PHS/BIS in 3.0x, not in 4.00, where they are deprecated; GLONASS
// SLOT / FRQ # in all), and the records after the header are the same.
TEST_F(Rinex3ObsTest, HeaderRecordsOfEachVersion) {
  const double carrier = 1602.0e6 + 3 * 0.5625e6;
  std::vector<std::vector<GpbChannel>> epochs;
  for (int i = 0; i < 4; ++i) {
    const double range = 20000000.0 + 3000.0 * i;
    epochs.push_back({MakeChannel(3, 22000000.0, 1000.0, 0, 0, 22000001.0, 0, 0, 0, 10.0 + i),
                      MakeChannel(36, range, -(range * carrier / 299792458.0 + 7.0), 0, 0,
                                  range + 0.5, 0, 0, 0, 10.0 + i)});
  }
  WriteEpochs(epochs, {1, 1, 1, 1});
  const std::string reference_body = Body(Convert3(305));
  ASSERT_FALSE(reference_body.empty());
  struct Expected {
    int Version;
    const char* Number;
    bool Deprecated;  // SYS / PHASE SHIFT, GLONASS COD/PHS/BIS
  };
  for (const Expected& e : {Expected{302, "3.02", true}, Expected{303, "3.03", true},
                            Expected{304, "3.04", true}, Expected{305, "3.05", true},
                            Expected{400, "4.00", false}}) {
    const std::string file = Convert3(e.Version);
    EXPECT_EQ(header_result_, 0) << e.Number;
    EXPECT_EQ(file.substr(0, 80),
              HeaderLine(std::string("     ") + e.Number + "           OBSERVATION DATA    M (MIXED)",
                         "RINEX VERSION / TYPE")
                  .substr(0, 80));
    EXPECT_EQ(LabelLines(file, "SYS / PHASE SHIFT").size(), e.Deprecated ? 2u : 0u) << e.Number;
    EXPECT_EQ(LabelLines(file, "GLONASS COD/PHS/BIS").size(), e.Deprecated ? 1u : 0u) << e.Number;
    EXPECT_EQ(LabelLines(file, "GLONASS SLOT / FRQ #"),
              std::vector<std::string>{Pad("  1 R04  3", 60)})
        << e.Number;
    EXPECT_EQ(LabelLines(file, "SYS / # / OBS TYPES").size(), 2u);
    EXPECT_EQ(LabelLines(file, "MARKER TYPE").size(), 0u);  // none asked for
    EXPECT_EQ(Body(file), reference_body) << e.Number;
  }
}

// MARKER TYPE names: any case in, upper case out; nothing else passes.
TEST(MarkerTypeTest, NamesInAnyCase) {
  char upper[kMarkerTypeColumns + 1] = "unchanged";
  EXPECT_TRUE(ParseMarkerType("floating_ice", upper));
  EXPECT_STREQ(upper, "FLOATING_ICE");
  for (const char* name : kMarkerTypeNames) {
    ASSERT_TRUE(ParseMarkerType(name, upper)) << name;
    EXPECT_STREQ(upper, name);
  }
  std::snprintf(upper, sizeof upper, "unchanged");
  for (const char* bad : {"", "GEODETIC ", " GEODETIC", "GEODETICS", "NON-GEODETIC",
                          "A_VERY_LONG_MARKER_TYPE_NAME"}) {
    EXPECT_FALSE(ParseMarkerType(bad, upper)) << bad;
  }
  EXPECT_FALSE(ParseMarkerType(nullptr, upper));
  EXPECT_STREQ(upper, "unchanged");
}

// More than eight GLONASS slots with known channels continue on a second
// "GLONASS SLOT / FRQ #" line that begins with four blanks.
TEST_F(Rinex3ObsTest, GlonassSlotContinuationLine) {
  ScanObsSummary(request_, &summary_);  // no file: the zero summary
  summary_.HasGlonass = 1;
  summary_.HasL1 = 1;
  for (int slot = 1; slot <= 10; ++slot) summary_.GlonassFrequency[slot] = static_cast<int8_t>(slot - 7);
  std::FILE* out = std::fopen(request_.ObsFile.c_str(), "w");
  ASSERT_NE(out, nullptr);
  StdioSink sink(out);
  ASSERT_EQ(WriteObs3Header(sink, request_, summary_, 304, TestReference()), 0);
  std::fclose(out);
  const std::string file = ReadText(request_.ObsFile);
  EXPECT_NE(file.find(HeaderLine(" 10 R01 -6 R02 -5 R03 -4 R04 -3 R05 -2 R06 -1 R07  0 R08  1",
                                 "GLONASS SLOT / FRQ #") +
                      HeaderLine("    R09  2 R10  3", "GLONASS SLOT / FRQ #")),
            std::string::npos);
}

// The frequency channel is only taken from an arc long enough to tell
// neighbouring channels apart, and never across a lock restart.
TEST_F(Rinex3ObsTest, GlonassChannelNeedsLongUnbrokenArc) {
  const double carrier = 1602.0e6 + 2 * 0.5625e6;
  std::vector<std::vector<GpbChannel>> epochs;
  for (int i = 0; i < 4; ++i) {
    const double range = 20000000.0 + 1500.0 * i;  // 1.5 km per arc at most
    const double lock = i < 2 ? 10.0 + i : 1.0 + i;  // restarted at the third epoch
    epochs.push_back({MakeChannel(35, range, -(range * carrier / 299792458.0), 0, 0, 0, 0, 0, 0,
                                  lock)});
  }
  WriteEpochs(epochs, {1, 1, 1, 1});
  Convert3(304);
  EXPECT_EQ(summary_.GlonassFrequency[3], kGlonassFrequencyUnknown);
}

// Signal strength indicators from the carrier-to-noise density, the
// versions written and a version that is not one.
TEST_F(Rinex3ObsTest, StrengthIndicatorsAndVersions) {
  std::vector<std::vector<GpbChannel>> epochs;
  for (double cn0 : {5.0, 12.0, 35.0, 53.0, 54.0, 70.0})
    epochs.push_back({MakeChannel(1, 20000000.0, 0, 0, 0, 0, 0, cn0)});
  WriteEpochs(epochs, {1, 1, 1, 1, 1, 1}, 1.0);
  const std::string body = Body(Convert3(304));
  std::string indicators;
  for (size_t at = body.find("\nG01"); at != std::string::npos; at = body.find("\nG01", at + 1))
    indicators += body[at + 4 + 15];  // after value and LLI
  EXPECT_EQ(indicators, "125899");
  EXPECT_EQ(Convert3(305).substr(0, 9), "     3.05");
  EXPECT_EQ(Convert3(301), "");
  EXPECT_EQ(header_result_, 2);
  EXPECT_EQ(epochs_result_, 2);
}

}  // namespace
}  // namespace obstest
}  // namespace rawconv
