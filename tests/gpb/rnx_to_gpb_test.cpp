// The RINEX observation reader of the test support and the RINEX -> GPB
// conversion, read back through GpbClass.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "gpb_test_env.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace gpbtest {
namespace {

using namespace rnxtest;

std::string DataFile(const char* name) { return std::string(RAWCONV_SHARED_DATA_DIR) + "/" + name; }

std::string Line(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return std::string(text) + "\n";
}

std::string Header(const std::string& content, const char* label) {
  return Line("%-60s%-20s", content.c_str(), label);
}

// Epoch line with up to 12 satellites; the rest on continuation lines.
std::string EpochLine(int minute, int second, int flag, const std::vector<std::string>& sats) {
  std::string out = Line(" 05  1 20  0 %2d %10.7f  %d%3d", minute, static_cast<double>(second), flag,
                         static_cast<int>(sats.size()));
  out.pop_back();
  for (size_t i = 0; i < sats.size(); ++i) {
    if (i > 0 && i % 12 == 0) out += "\n" + std::string(32, ' ');
    out += sats[i];
  }
  return out + "\n";
}

// Observation lines for the ten types below: values given in order, "" for
// a blank field, with an optional LLI digit after a '|'.
std::string ObsLines(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string& f = fields[i];
    const size_t bar = f.find('|');
    const std::string value = f.substr(0, bar);
    if (value.empty()) {
      out += std::string(16, ' ');
    } else {
      char text[32];
      std::snprintf(text, sizeof text, "%14.3f%c ", std::stod(value),
                    bar == std::string::npos ? ' ' : f[bar + 1]);
      out += text;
    }
    if (i % 5 == 4 || i + 1 == fields.size()) out += "\n";
  }
  return out;
}

const char* kTypes =
    "    10    C1    L1    L2    P1    P2    D1    S1    S2    C2";
const char* kTypesMore = "          D2";

std::string SmallFile() {
  std::string t;
  t += Header("     2.10           OBSERVATION DATA    M (MIXED)", "RINEX VERSION / TYPE");
  t += Header("SITE", "MARKER NAME");
  t += Header("123                 TEST RECEIVER X     1.0", "REC # / TYPE / VERS");
  t += Header("  1112189.9031 -4842955.0319  3985352.2376", "APPROX POSITION XYZ");
  t += Header(kTypes, "# / TYPES OF OBSERV");
  t += Header(kTypesMore, "# / TYPES OF OBSERV");
  t += Header("    30.000", "INTERVAL");
  t += Header("  2005     1    20     0     0    0.0000000     GPS", "TIME OF FIRST OBS");
  t += Header("", "END OF HEADER");
  // Epoch 0: G01 full, R05, E11 and S20 dropped, G02 with a lost L1 lock.
  t += EpochLine(0, 0, 0, {"G01", "R05", "E11", "S20", " 02"});
  t += ObsLines({"21000000.5", "110000000.25", "85000000.75", "21000001.5", "21000002.5",
                 "-1234.5", "45.25", "38.5", "21000003.5", "-999.5"});
  t += ObsLines({"22000000", "-5000000", "", "", "", "100", "", "", "", ""});
  t += ObsLines({"23000000", "1", "", "", "", "", "", "", "", ""});
  t += ObsLines({"24000000", "2", "", "", "", "", "", "", "", ""});
  t += ObsLines({"25000000", "7000000|1", "", "", "", "", "", "", "", ""});
  // Event: antenna starts moving, one header record.
  t += Line(" 05  1 20  0  0 15.0000000  2  1");
  t += Header("START MOVING", "COMMENT");
  // Epoch 30: 26 GPS satellites, the last two beyond 24 channels.
  std::vector<std::string> sats;
  for (int i = 1; i <= 26; ++i) sats.push_back(Line("G%02d", i).substr(0, 3));
  t += EpochLine(0, 30, 0, sats);
  for (int i = 1; i <= 26; ++i) {
    t += ObsLines({std::to_string(20000000 + i), std::to_string(1000 + i) + "|4", "", "", "", "", "",
                   "", "", ""});
  }
  // Event without a date: new site occupation, two header records.
  t += Line("%28s3  2", "");
  t += Header("NEW", "MARKER NAME");
  t += Header("        1.0000        0.0000        0.0000", "ANTENNA: DELTA H/E/N");
  // Epoch 60: G01 lost lock, G03 still tracked, G30 new.
  t += EpochLine(1, 0, 0, {"G01", "G03", "G30"});
  t += ObsLines({"21000000", "5|1", "6", "", "", "", "", "", "", ""});
  t += ObsLines({"21000000", "5", "6|1", "", "", "", "", "", "", ""});
  t += ObsLines({"21000000", "5", "", "", "", "", "", "", "", ""});
  return t;
}

TEST(RinexObsReader, ParsesHeaderEpochsEventsAndValues) {
  RinexObsFile f;
  std::string error;
  ASSERT_TRUE(ParseRinexObs(SmallFile(), &f, &error)) << error;
  const RinexObsHeader& h = f.Header;
  EXPECT_DOUBLE_EQ(h.Version, 2.1);
  EXPECT_EQ(h.FileType, 'O');
  EXPECT_EQ(h.System, 'M');
  EXPECT_EQ(h.MarkerName, "SITE");
  EXPECT_EQ(h.ReceiverType, "TEST RECEIVER X");
  EXPECT_TRUE(h.HasApproxPosition);
  EXPECT_DOUBLE_EQ(h.ApproxY, -4842955.0319);
  ASSERT_EQ(h.ObsTypes.size(), 10u);
  EXPECT_EQ(h.ObsTypes[9], "D2");
  EXPECT_EQ(h.TypeIndex("S2"), 7);
  EXPECT_EQ(h.TypeIndex("L5"), -1);
  EXPECT_DOUBLE_EQ(h.Interval, 30.0);
  EXPECT_EQ(h.FirstYear, 2005);
  EXPECT_EQ(h.FirstTimeSystem, "GPS");

  ASSERT_EQ(f.Epochs.size(), 5u);
  const RinexObsEpoch& e0 = f.Epochs[0];
  EXPECT_EQ(e0.Year, 2005);
  EXPECT_EQ(e0.Day, 20);
  ASSERT_EQ(e0.Sats.size(), 5u);
  EXPECT_EQ(e0.Sats[1].System, 'R');
  EXPECT_EQ(e0.Sats[4].System, 'G');  // blank letter
  EXPECT_EQ(e0.Sats[4].Prn, 2);
  ASSERT_EQ(e0.Sats[0].Values.size(), 10u);
  EXPECT_DOUBLE_EQ(e0.Sats[0].Values[9].Value, -999.5);
  EXPECT_FALSE(e0.Sats[1].Values[2].Present);
  EXPECT_EQ(e0.Sats[4].Values[1].Lli, 1);
  EXPECT_EQ(e0.Sats[4].Values[0].Lli, -1);

  EXPECT_TRUE(f.Epochs[1].IsEvent());
  EXPECT_EQ(f.Epochs[1].Flag, 2);
  EXPECT_DOUBLE_EQ(f.Epochs[1].Second, 15.0);
  ASSERT_EQ(f.Epochs[1].EventLines.size(), 1u);
  EXPECT_EQ(f.Epochs[2].Sats.size(), 26u);
  EXPECT_EQ(f.Epochs[2].Sats[25].Prn, 26);
  EXPECT_EQ(f.Epochs[3].Flag, 3);
  EXPECT_FALSE(f.Epochs[3].HasDate);
  EXPECT_EQ(f.Epochs[3].EventLines.size(), 2u);
  EXPECT_EQ(f.Epochs[4].Minute, 1);

  // A file cut inside the observations is refused with its line.
  std::string cut = SmallFile();
  cut.resize(cut.rfind('\n', cut.size() - 2) + 1);  // without the last line
  EXPECT_FALSE(ParseRinexObs(cut, &f, &error));
  EXPECT_NE(error.find("cut short"), std::string::npos) << error;
}

TEST(RinexObsReader, ReadsTheSampleFiles) {
  struct Case {
    const char* name;
    size_t epochs;
    size_t types;
  };
  for (const Case& c : {Case{"usno0200.05o", 2880 + 23, 7}, Case{"bell0300.02o", 2880, 5},
                        Case{"arlm200a.15o", 120, 10}, Case{"07590920.05o", 123, 4},
                        Case{"wsra0010.21o", 17, 7}}) {
    RinexObsFile f;
    std::string error;
    ASSERT_TRUE(ReadRinexObsFile(DataFile(c.name), &f, &error)) << c.name << ": " << error;
    EXPECT_EQ(f.Epochs.size(), c.epochs) << c.name;
    EXPECT_EQ(f.Header.ObsTypes.size(), c.types) << c.name;
  }
  RinexObsFile f;
  std::string error;
  ASSERT_TRUE(ReadRinexObsFile(DataFile("wsra0010.21o"), &f, &error)) << error;
  // 21 satellites: twelve on the epoch line, nine on its continuation.
  ASSERT_EQ(f.Epochs[0].Sats.size(), 21u);
  EXPECT_EQ(f.Epochs[0].Sats[0].System, 'R');
  EXPECT_EQ(f.Epochs[0].Sats[0].Prn, 9);
  EXPECT_EQ(f.Epochs[0].Sats[20].Prn, 16);
  EXPECT_NEAR(f.Epochs[0].Sats[0].Values[0].Value, 120726836.675, 1e-6);
  EXPECT_EQ(f.Epochs[0].Sats[0].Values[0].Ssi, 6);
  ASSERT_TRUE(ReadRinexObsFile(DataFile("usno0200.05o"), &f, &error)) << error;
  EXPECT_NEAR(f.Epochs[0].Sats[0].Values[1].Value, 4545549.902, 1e-6);
  EXPECT_EQ(f.Epochs[0].Sats[0].Values[1].Lli, 4);  // the A/S bit
  EXPECT_EQ(f.Epochs[0].Sats[0].Values[1].Ssi, 9);
  EXPECT_EQ(f.Epochs[0].Sats[0].Values[0].Ssi, -1);
  EXPECT_EQ(f.Epochs[0].Sats[0].Values[6].Present, true);  // D2 on the second line
}

TEST(RnxToGpb, EcefToGeodeticInvertsTheEcefFormula) {
  double lat = 0, lon = 0, h = 0, x = 0, y = 0, z = 0;
  EcefToGeodetic(1112189.9031, -4842955.0319, 3985352.2376, &lat, &lon, &h);
  ToEcef(lat, lon, h, &x, &y, &z);
  EXPECT_NEAR(x, 1112189.9031, 1e-4);
  EXPECT_NEAR(y, -4842955.0319, 1e-4);
  EXPECT_NEAR(z, 3985352.2376, 1e-4);
  EXPECT_NEAR(lat, 38.92, 0.01);
  EXPECT_NEAR(lon, -77.07, 0.01);
}

TEST(RnxToGpb, MapsSatellitesValuesLocksAndEvents) {
  RinexObsFile rinex;
  std::string error;
  ASSERT_TRUE(ParseRinexObs(SmallFile(), &rinex, &error)) << error;
  for (bool is_new : {true, false}) {
    RnxToGpbOptions options;
    options.NewFormat = is_new;
    GpbFileBuilder gpb = MakeGpbFileFor(rinex.Header, options);
    RnxToGpbSummary summary;
    ConvertRinexObs(rinex, options, &gpb, &summary);
    EXPECT_EQ(summary.Epochs, 3);
    EXPECT_EQ(summary.EventsSkipped, 2);
    EXPECT_EQ(summary.OtherSystemDropped, 2);
    EXPECT_EQ(summary.OverflowDropped, 2);
    EXPECT_EQ(summary.Glonass, 1);

    ScratchFile file;
    ASSERT_TRUE(gpb.Write(file.str()));
    GpbClass reader;
    ASSERT_EQ(OpenForReading(reader, file), 0) << reader.ErrorText();
    EXPECT_EQ(reader.ReceiverType(), 6);
    EXPECT_STREQ(reader.ReceiverDescription(), is_new ? "TEST RECEIVER X" : "");

    GpbEpoch e{};
    GpbChannel ch[kMaxChannels]{};
    ASSERT_EQ(reader.ReadGpbEpoch(&e, ch), 0) << reader.ErrorText();
    EXPECT_DOUBLE_EQ(e.RcvTime, 4 * 86400.0);
    EXPECT_DOUBLE_EQ(e.RawRcvTime, e.RcvTime);  // also after the old-format rebuild
    EXPECT_EQ(e.Flags, kEpochPositionValid);
    double x = 0, y = 0, z = 0;
    ToEcef(e.Latitude, e.Longitude, e.Height, &x, &y, &z);
    EXPECT_NEAR(x, 1112189.9031, 0.01);
    EXPECT_NEAR(z, 3985352.2376, 0.01);
    ASSERT_EQ(e.NumChannels, 3);
    EXPECT_EQ(ch[0].Prn, 1);
    EXPECT_EQ(ch[1].Prn, 37);
    EXPECT_EQ(ch[2].Prn, 2);
    EXPECT_DOUBLE_EQ(ch[0].C1, 21000000.5);
    EXPECT_DOUBLE_EQ(ch[0].L1, -110000000.25);
    EXPECT_DOUBLE_EQ(ch[0].L2, -85000000.75);
    EXPECT_DOUBLE_EQ(ch[0].P2, 21000002.5);
    EXPECT_DOUBLE_EQ(ch[0].D1, -1234.5);
    EXPECT_DOUBLE_EQ(ch[1].L1, 5000000.0);
    EXPECT_DOUBLE_EQ(ch[0].LockTime1, 30.0);  // new satellite: one interval
    EXPECT_DOUBLE_EQ(ch[2].LockTime1, 0.0);   // LLI bit 0
    EXPECT_TRUE(ch[2].ObsMask & kObsLock1);
    if (is_new) {
      EXPECT_DOUBLE_EQ(ch[0].P1, 21000001.5);
      EXPECT_DOUBLE_EQ(ch[0].Cn0L1, 45.25);
      EXPECT_DOUBLE_EQ(ch[0].Cn0L2, 38.5);
      EXPECT_DOUBLE_EQ(ch[0].LockTime2, 30.0);
      EXPECT_EQ(ch[0].ObsMask, kObsC1 | kObsL1 | kObsL2 | kObsP1 | kObsP2 | kObsD1 | kObsCn0L1 |
                                   kObsCn0L2 | kObsLock1 | kObsLock2);
      // Present values below the format's size limit are not seen.
      EXPECT_EQ(ch[1].ObsMask, kObsC1 | kObsL1 | kObsD1 | kObsLock1);
    } else {
      EXPECT_EQ(ch[0].P1, 0.0);
      EXPECT_EQ(ch[0].Cn0L1, 0.0);
    }

    ASSERT_EQ(reader.ReadGpbEpoch(&e, ch), 0);
    EXPECT_EQ(e.Flags, kEpochPositionValid | kEpochKinematic);
    EXPECT_EQ(e.NumChannels, 24);
    EXPECT_EQ(ch[23].Prn, 24);
    EXPECT_DOUBLE_EQ(ch[0].LockTime1, 60.0);  // tracked on: 30 + 30
    EXPECT_DOUBLE_EQ(ch[1].LockTime1, 30.0);  // lost before, tracked since (LLI 4 is not a loss)
    EXPECT_DOUBLE_EQ(ch[2].LockTime1, 30.0);  // new

    ASSERT_EQ(reader.ReadGpbEpoch(&e, ch), 0);
    EXPECT_EQ(e.Flags, kEpochPositionValid);
    EXPECT_DOUBLE_EQ(ch[0].LockTime1, 0.0);
    EXPECT_DOUBLE_EQ(ch[1].LockTime1, 60.0);
    EXPECT_DOUBLE_EQ(ch[2].LockTime1, 30.0);
    if (is_new) {
      EXPECT_DOUBLE_EQ(ch[0].LockTime2, 30.0);  // G01's L2 appears for the first time
      EXPECT_DOUBLE_EQ(ch[1].LockTime2, 0.0);
    }
    EXPECT_EQ(reader.ReadGpbEpoch(&e, ch), -1);
  }
}

TEST(RnxToGpb, FileConversionReportsFailures) {
  RnxToGpbSummary summary;
  std::string error;
  ScratchFile out;
  EXPECT_FALSE(ConvertRinexObsFileToGpb(DataFile("no-such-file.05o"), out.str(), RnxToGpbOptions(),
                                        &summary, &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);
  EXPECT_FALSE(ConvertRinexObsFileToGpb(DataFile("bell0300.02o"), "/nonexistent-dir/x.gpb",
                                        RnxToGpbOptions(), &summary, &error));
  EXPECT_NE(error.find("cannot write"), std::string::npos);
}

}  // namespace
}  // namespace gpbtest
}  // namespace rawconv
