#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "memory_sink.h"
#include "obs/run_date.h"
#include "sink/crx_sink.h"
#include "support/crx_decoder.h"
#include "support/outside_readers.h"
#include "support/scratch_dir.h"

namespace {

using rawconv::CrxSink;
namespace outside = rawconv::outside;
using rawconv_test::CrxDecoder;
using rawconv_test::MemorySink;
using rawconv_test::TrimLines;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Compresses `text` in pieces of `piece` bytes.
std::string Compress(const std::string& text, size_t piece = 65536) {
  MemorySink out;
  CrxSink crx(&out);
  for (size_t at = 0; at < text.size(); at += piece) {
    const size_t n = text.size() - at < piece ? text.size() - at : piece;
    EXPECT_TRUE(crx.Write(text.data() + at, n)) << crx.Error();
  }
  EXPECT_TRUE(crx.Finish()) << crx.Error();
  EXPECT_TRUE(out.finished);
  return out.text;
}

// A scratch folder for the standard tools' files, made once.
const std::string& ToolDir() {
  static const std::string dir = rawconv::testsupport::MakeScratchDir("rawconv_crx_tools");
  return dir;
}

// The standard decoder on what CrxSink writes, and the standard encoder on
// the same RINEX text: both must give back `rinex` in the shape the decoder
// writes. When the tools are not built the check is skipped, unless the
// outside readers are required (scripts/test.sh).
void ExpectStandardToolsRestore(const std::string& rinex, const std::string& crx) {
  if (outside::RnxcmpTool("crx2rnx").empty() || outside::RnxcmpTool("rnx2crx").empty()) {
    if (outside::Required()) ADD_FAILURE() << outside::Missing();
    return;
  }
  const std::string want = outside::RestoredShape(rinex);
  std::string back, error;
  ASSERT_TRUE(outside::Crx2RnxText(ToolDir(), crx, &back, &error)) << "crx2rnx: " << error;
  EXPECT_EQ(outside::FirstDifference(want, outside::RestoredShape(back)), "") << "crx2rnx on ours";
  // The text itself is one the standard encoder takes and gives back.
  ASSERT_TRUE(outside::WriteText(ToolDir() + "/in.rnx", rinex));
  ASSERT_TRUE(outside::Rnx2Crx(ToolDir() + "/in.rnx", ToolDir() + "/theirs.crx")) << "rnx2crx refuses the text";
  ASSERT_TRUE(outside::Crx2Rnx(ToolDir() + "/theirs.crx", ToolDir() + "/theirs.rnx"));
  EXPECT_EQ(outside::FirstDifference(want, outside::RestoredShape(outside::ReadText(ToolDir() + "/theirs.rnx"))),
            "")
      << "rnx2crx and crx2rnx";
}

// Compresses `rinex` with CrxSink and restores it with the tests' decoder
// and with the standard one.
void ExpectRoundTrip(const std::string& rinex, size_t piece = 65536) {
  const std::string crx = Compress(rinex, piece);
  CrxDecoder decoder;
  std::string back;
  ASSERT_TRUE(decoder.Decode(crx, &back)) << decoder.Error();
  const std::string want = TrimLines(rinex);
  EXPECT_EQ(outside::FirstDifference(want, back), "") << "the tests' decoder";
  ExpectStandardToolsRestore(rinex, crx);
}

std::string Field(const char* value, char lli = ' ', char ssi = ' ') {
  std::string field(value);
  field.insert(0, field.size() < 14 ? 14 - field.size() : 0, ' ');
  return field + lli + ssi;
}

const char kHeader2[] =
    "     2.10           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE\n"
    "RAWCONV v7.00       TEST                1-JAN-20 00:00      PGM / RUN BY / DATE\n"
    "TEST                                                        MARKER NAME\n"
    "     6    L1    C1    L2    P2    D1    S1                  # / TYPES OF OBSERV\n"
    "                                                            END OF HEADER\n";

// A RINEX 2 epoch line (flag, satellites, optional clock) with its records.
std::string Epoch2(int second, int flag, const std::vector<std::string>& sats,
                   const char* clock = nullptr) {
  char head[64];
  std::snprintf(head, sizeof head, " 20  1  1 %2d %2d%11.7f  %d%3zu", second / 3600, second / 60 % 60,
                static_cast<double>(second % 60), flag, sats.size());
  std::string line = head;
  for (size_t i = 0; i < sats.size(); ++i) {
    if (i > 0 && i % 12 == 0) {
      line += "\n" + std::string(32, ' ');
    }
    line += sats[i];
    if (i == 11 || (i == sats.size() - 1 && i < 12)) {
      if (clock != nullptr && i < 12) {
        line.resize(line.size() + (68 - (32 + 3 * (i + 1))), ' ');
        line += clock;
      }
    }
  }
  return line + "\n";
}

// Some real files write numbers below one without the zero before the point
// (" -.340"). Compact RINEX keeps a number's digits, not its spelling, so
// these come back as printf writes them (" -0.340"); our writers always do.
std::string WithLeadingZeros(const std::string& text) {
  std::string out = text;
  size_t i = out.find("END OF HEADER");
  if (i == std::string::npos) return out;
  for (; i + 1 < out.size(); ++i) {
    if (out[i] != '.' || out[i + 1] < '0' || out[i + 1] > '9') continue;
    if (out[i - 1] == ' ') {
      out[i - 1] = '0';
    } else if (out[i - 1] == '-' && out[i - 2] == ' ') {
      out[i - 2] = '-';
      out[i - 1] = '0';
    }
  }
  return out;
}

TEST(CrxSink, RestoresEveryRealObservationFile) {
  const char* files[] = {"07590920.05o", "30400920.05o", "usno0200.05o",        "bahr1620.04o",
                         "bell0300.02o", "arlm200a.15o", "yamatogawa_rover.obs", "yamatogawa_master.obs",
                         "wsra0010.21o"};
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const std::string text = ReadFile(std::string(RAWCONV_SHARED_DATA_DIR) + "/" + name);
    ASSERT_FALSE(text.empty());
    ExpectRoundTrip(WithLeadingZeros(text));
  }
}

TEST(CrxSink, WritesTheHeaderPairAndStartsTheFirstEpochWhole) {
  rawconv::SetRunClockForTesting(1577836800);  // 2020-01-01 00:00
  std::string text = kHeader2;
  text += Epoch2(0, 0, {"G01"});
  text += Field("123.456", '1', '7') + Field("-0.001") + "\n" + Field("5.000") + "\n";
  const std::string crx = Compress(text);
  std::istringstream in(crx);
  std::string l0, l1;
  std::getline(in, l0);
  std::getline(in, l1);
  EXPECT_EQ(l0.substr(0, 20), "1.0                 ");
  EXPECT_EQ(l0.substr(20, 40), std::string("COMPACT RINEX FORMAT") + std::string(20, ' '));
  EXPECT_EQ(l0.substr(60), "CRINEX VERS   / TYPE");
  EXPECT_EQ(l1.substr(60), "CRINEX PROG / DATE");
  EXPECT_EQ(l1.substr(0, 13), "RAWCONV v7.00");
  // The body: "&"-started epoch line, empty clock line, one data record.
  const size_t body = crx.find("END OF HEADER\n") + 14;
  EXPECT_EQ(crx.substr(body),
            "&20  1  1  0  0  0.0000000  0  1G01\n"
            "\n"
            "3&123456 3&-1    3&5000 17\n");
}

TEST(CrxSink, DifferencesGrowToThirdOrderAndEpochLinesAreTextDifferences) {
  std::string text = kHeader2;
  const char* values[] = {"100.000", "110.000", "130.000", "160.000", "200.000"};
  for (int e = 0; e < 5; ++e) {
    text += Epoch2(e, 0, {"G05"});
    text += Field(values[e]) + "\n" + "\n";
  }
  const std::string crx = Compress(text);
  const std::string body = crx.substr(crx.find("END OF HEADER\n") + 14);
  // Epoch lines after the first carry only the changed seconds digit.
  EXPECT_EQ(body,
            "&20  1  1  0  0  0.0000000  0  1G05\n\n3&100000\n"
            "                 1\n\n10000\n"  // first difference
            "                 2\n\n10000\n"  // second: 20000 - 10000
            "                 3\n\n0\n"      // third: 10000 - 10000 - 0
            "                 4\n\n0\n");
  ExpectRoundTrip(text);
}

TEST(CrxSink, JumpsBeyondTheDifferenceLimitStartTheArcAnew) {
  std::string text = kHeader2;
  const char* values[] = {"-999999999.999", "9999999999.999", "-999999999.999", "0.000"};
  for (int e = 0; e < 4; ++e) {
    text += Epoch2(e, 0, {"G07"});
    text += Field(values[e]) + Field("1.000") + "\n" + "\n";
  }
  const std::string crx = Compress(text);
  EXPECT_NE(crx.find("3&9999999999999 "), std::string::npos);
  EXPECT_NE(crx.find("3&-999999999999 "), std::string::npos);
  ExpectRoundTrip(text);
}

TEST(CrxSink, RestoresEventsGapsSatellitesComingAndGoingAndFlagChanges) {
  std::string text = kHeader2;
  std::vector<std::string> many;
  for (int p = 1; p <= 14; ++p) {
    char s[4];
    std::snprintf(s, sizeof s, "G%02d", p);
    many.push_back(s);
  }
  auto record = [](int e, int p, bool blank_l2, char lli, char ssi) {
    char v[32];
    std::string r;
    std::snprintf(v, sizeof v, "%.3f", 20000000.0 + p * 1000.0 + e * 123.457 + e * e * 0.011);
    r += Field(v, lli, ssi);
    std::snprintf(v, sizeof v, "%.3f", 2000000.0 + p * 10.0 - e * 3.5);
    r += Field(v, ' ', ssi);
    r += blank_l2 ? Field("") : Field("-12.345", lli);
    r += Field("21000000.125");
    std::snprintf(v, sizeof v, "%.3f", -1234.5 + e);
    r += Field(v) + "\n";
    r += Field("45.250", ' ', ssi) + "\n";
    return r;
  };
  int second = 0;
  for (int e = 0; e < 12; ++e) {
    if (e == 4) second += 3600;  // a gap
    std::vector<std::string> sats;
    for (size_t i = 0; i < many.size(); ++i) {
      if ((e == 2 || e == 3) && i == 3) continue;  // G04 goes and comes back
      if (e >= 6 && i == 13) continue;             // G14 sets
      sats.push_back(many[i]);
    }
    if (e == 7) sats.push_back("R09");  // a new system letter rises
    const char* clock = e % 5 == 4 ? nullptr : (e % 2 ? "-0.000123456" : " 0.000120001");
    text += Epoch2(second, e == 9 ? 1 : 0, sats, clock);
    for (size_t i = 0; i < sats.size(); ++i) {
      const int p = std::atoi(sats[i].c_str() + 1);
      const char lli = (e == 5 && p == 2) ? '1' : ' ';
      const char ssi = static_cast<char>('5' + (e + p) % 4);
      text += record(e, p, e == 8 && p % 3 == 0, lli, e == 10 && p == 1 ? ' ' : ssi);
    }
    second += 30;
    if (e == 2) {
      // Header records inside the data (flag 4), with a comment.
      text += "                            4  2\n";
      text += "EVENT COMMENT                                               COMMENT\n";
      text += "     1     0                                                WAVELENGTH FACT L1/2\n";
    }
    if (e == 5) {
      // New site occupation (flag 3) with a marker name; kinematic start (2).
      text += " 20  1  1  1  3  0.0000000  3  1\n";
      text += "SITE2                                                       MARKER NAME\n";
      text += "                            2  0\n";
    }
    if (e == 8) {
      // An external event (flag 5).
      text += " 20  1  1  1  9 12.5000000  5  0\n";
    }
  }
  ExpectRoundTrip(text);
  ExpectRoundTrip(text, 7);  // the same text in small, unaligned pieces
}

// Text of one observation field per type: present values drift from epoch
// to epoch, some are blank (with flags in RINEX 3), one jumps far (epoch 7)
// and then past the difference limit (epoch 8).
std::string Fields(int epoch, int prn, int types, bool rinex3) {
  std::string r;
  for (int t = 0; t < types; ++t) {
    const bool jump = prn == 5 && t == 1 && (epoch == 7 || epoch == 8);
    const bool blank = (epoch + prn + t) % 7 == 0 && !jump;
    char v[32];
    double value = 20000000.0 + prn * 1000.5 + t * 1e5 + epoch * (123.457 + t) + epoch * epoch * 0.011 * prn;
    if (prn == 5 && t == 1 && epoch == 7) value = -999999999.999;
    if (prn == 5 && t == 1 && epoch == 8) value = 9999999999.999;
    std::snprintf(v, sizeof v, "%.3f", value);
    const char lli = (epoch + prn) % 5 == 0 ? '1' : ' ';
    const char ssi = static_cast<char>('4' + (epoch * t + prn) % 5);
    if (blank) {
      r += rinex3 ? Field("", lli, (prn % 2) ? ssi : ' ') : Field("");
    } else {
      r += Field(v, t == 0 ? lli : ' ', ssi);
    }
    if (!rinex3 && (t % 5 == 4 || t == types - 1)) r += "\n";
  }
  return rinex3 ? r + "\n" : r;
}

// Satellites of an epoch: 26 of them (more than 12 and 24), in changing
// order; G04 vanishes for two epochs, G26 sets, R07 rises.
std::vector<std::string> Sky(int epoch) {
  std::vector<std::string> sats;
  for (int p = 1; p <= 26; ++p) {
    if ((epoch == 3 || epoch == 4) && p == 4) continue;
    if (epoch >= 9 && p == 26) continue;
    char s[4];
    std::snprintf(s, sizeof s, "G%02d", p);
    sats.push_back(s);
  }
  if (epoch >= 6) sats.push_back("R07");
  if (epoch % 4 == 2) std::reverse(sats.begin(), sats.end());
  if (epoch % 4 == 3) std::rotate(sats.begin(), sats.begin() + 5, sats.end());
  return sats;
}

// The clock offset of an epoch: present, absent for a while, back.
const char* Clock(int epoch, bool rinex3) {
  if (epoch >= 4 && epoch <= 5) return nullptr;
  static char text[32];
  std::snprintf(text, sizeof text, rinex3 ? "%15.12f" : "%12.9f", -0.000123456789 + epoch * 1.1e-8);
  return text;
}

TEST(CrxSink, Rinex2CrowdedEpochsEventsRedefinedTypesClocksAndSatellitesOnTheMove) {
  std::string text = kHeader2;
  int types = 6;
  for (int e = 0; e < 14; ++e) {
    const std::vector<std::string> sats = Sky(e);
    text += Epoch2(e * 30, e == 10 ? 1 : 0, sats, Clock(e, false));
    for (const std::string& sat : sats) text += Fields(e, std::atoi(sat.c_str() + 1), types, false);
    if (e == 2) {
      text += " 20  1  1  0  1 30.0000000  2  1\n";  // the antenna starts moving
      text += "ROVER                                                       MARKER NAME\n";
    }
    if (e == 5) {
      // Header records inside the data that change the observation types.
      text += "                            4  3\n";
      text += "TYPES CHANGE                                                COMMENT\n";
      text += "     4    L1    C1    L2    P2                              # / TYPES OF OBSERV\n";
      text += "    30.000                                                  INTERVAL\n";
      types = 4;
    }
    if (e == 7) text += " 20  1  1  0  3 45.0000000  3  0\n";  // new occupation, no records
    if (e == 9) text += " 20  1  1  0  4 45.5000000  5  0\n";  // external event
  }
  ExpectRoundTrip(text);
  ExpectRoundTrip(text, 11);
  EXPECT_NE(Compress(text).find(" 3&9999999999999 "), std::string::npos) << "the arc starts anew";
}

TEST(CrxSink, Rinex3CrowdedEpochsEventsRedefinedTypesClocksBlankFlagsAndSatellitesOnTheMove) {
  std::string text =
      "     3.04           OBSERVATION DATA    M (MIXED)           RINEX VERSION / TYPE\n"
      "G    6 C1C L1C L2W C1W C2W D1C                              SYS / # / OBS TYPES\n"
      "R    4 C1C L1C C2P L2P                                      SYS / # / OBS TYPES\n"
      "                                                            END OF HEADER\n";
  int gps_types = 6;
  for (int e = 0; e < 14; ++e) {
    const std::vector<std::string> sats = Sky(e);
    char line[128];
    std::snprintf(line, sizeof line, "> 2020 01 01 00 %02d %10.7f  %d%3zu", e / 2, (e % 2) * 30.0,
                  e == 10 ? 1 : 0, sats.size());
    std::string head = line;
    if (const char* clock = Clock(e, true)) head += std::string(6, ' ') + clock;
    text += head + "\n";
    for (const std::string& sat : sats) {
      text += sat + Fields(e, std::atoi(sat.c_str() + 1), sat[0] == 'G' ? gps_types : 4, true);
    }
    if (e == 2) {
      text += "> 2020 01 01 00 01 15.0000000  2  1\n";
      text += "ROVER                                                       MARKER NAME\n";
    }
    if (e == 5) {
      text += ">                              4  2\n";
      text += "TYPES CHANGE                                                COMMENT\n";
      text += "G    4 C1C L1C C2W L2W                                      SYS / # / OBS TYPES\n";
      gps_types = 4;
    }
    if (e == 7) text += "> 2020 01 01 00 03 45.0000000  3  0\n";
    if (e == 9) text += "> 2020 01 01 00 04 45.5000000  5  0\n";
  }
  ExpectRoundTrip(text);
  ExpectRoundTrip(text, 13);
  EXPECT_NE(Compress(text).find(" 3&9999999999999 "), std::string::npos) << "the arc starts anew";
}

TEST(CrxSink, CarriesCycleSlipRecordsAsTheLinesTheirCountSays) {
  // RINEX 3, and RINEX 2 with one line a satellite: the records follow the
  // epoch line unchanged and everything after them starts anew.
  std::string text3 =
      "     3.05           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE\n"
      "G    3 C1C L1C S1C                                          SYS / # / OBS TYPES\n"
      "                                                            END OF HEADER\n";
  std::string text2 =
      "     2.11           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE\n"
      "     3    C1    L1    S1                                    # / TYPES OF OBSERV\n"
      "                                                            END OF HEADER\n";
  for (int e = 0; e < 5; ++e) {
    std::vector<std::string> sats = {"G02", "G09", "G17"};
    char line[128];
    std::snprintf(line, sizeof line, "> 2020 01 01 00 00 %10.7f  %d%3d\n", e * 1.0, e == 2 ? 6 : 0, e == 2 ? 1 : 3);
    text3 += line;
    text2 += Epoch2(e, e == 2 ? 6 : 0, e == 2 ? std::vector<std::string>{"G09"} : sats);
    if (e == 2) sats = {"G09"};
    for (const std::string& sat : sats) {
      text3 += sat + Fields(e, std::atoi(sat.c_str() + 1), 3, true);
      text2 += Fields(e, std::atoi(sat.c_str() + 1), 3, false);
    }
  }
  ExpectRoundTrip(text3);
  ExpectRoundTrip(text2);

  // RINEX 2 records of two lines a satellite are more lines than the count.
  std::string text = kHeader2;
  text += Epoch2(0, 0, {"G01"}) + Fields(0, 1, 6, false);
  text += Epoch2(1, 6, {"G01"}) + Fields(1, 1, 6, false);
  MemorySink out;
  CrxSink crx(&out);
  EXPECT_FALSE(crx.Write(text.data(), text.size()));
  EXPECT_NE(std::string(crx.Error()).find("cycle-slip"), std::string::npos) << crx.Error();
}

TEST(CrxSink, Rinex2FlagsOfBlankValuesAreBlankAsReadersHaveThem) {
  // Compact RINEX 1.0 cannot carry them: what comes back has them blank,
  // and the flags after them are written against blanks.
  std::string text = kHeader2;
  std::string want = kHeader2;
  const char* lli[] = {"1", "1", "1", "1"};
  for (int e = 0; e < 4; ++e) {
    text += Epoch2(e, 0, {"G01"});
    want += Epoch2(e, 0, {"G01"});
    const bool blank = e == 1;
    text += Field(blank ? "" : "100.000", lli[e][0], '7') + "\n\n";
    want += Field(blank ? "" : "100.000", blank ? ' ' : lli[e][0], blank ? ' ' : '7') + "\n\n";
  }
  const std::string crx = Compress(text);
  CrxDecoder decoder;
  std::string back;
  ASSERT_TRUE(decoder.Decode(crx, &back)) << decoder.Error();
  EXPECT_EQ(outside::FirstDifference(TrimLines(want), back), "");
  if (!outside::RnxcmpTool("crx2rnx").empty()) {
    std::string standard, error;
    ASSERT_TRUE(outside::Crx2RnxText(ToolDir(), crx, &standard, &error)) << error;
    EXPECT_EQ(outside::FirstDifference(outside::RestoredShape(want), outside::RestoredShape(standard)), "");
  }
}

TEST(CrxSink, RestoresRinex3WithSystemsOfDifferentTypeCounts) {
  std::string text =
      "     3.04           OBSERVATION DATA    M (MIXED)           RINEX VERSION / TYPE\n"
      "G    4 C1C L1C D1C S1C                                      SYS / # / OBS TYPES\n"
      "R    6 C1C L1C D1C S1C C2P L2P                              SYS / # / OBS TYPES\n"
      "                                                            END OF HEADER\n";
  for (int e = 0; e < 6; ++e) {
    char line[128];
    const int n = e == 3 ? 2 : 3;
    if (e == 2) {
      std::snprintf(line, sizeof line, "> 2020 01 01 00 %02d %10.7f  0%3d      %15.12f\n", e, 0.0, n,
                    -0.000123456789 + e * 1e-9);
    } else {
      std::snprintf(line, sizeof line, "> 2020 01 01 00 %02d %10.7f  0%3d\n", e, 0.5, n);
    }
    text += line;
    for (int s = 0; s < n; ++s) {
      const bool glonass = s == 1;
      const int prn = glonass ? 9 : (s == 0 ? 3 : 31);
      std::snprintf(line, sizeof line, "%c%02d", glonass ? 'R' : 'G', prn);
      text += line;
      const int types = glonass ? 6 : 4;
      for (int t = 0; t < types; ++t) {
        char v[32];
        std::snprintf(v, sizeof v, "%.3f", 21000000.0 + prn * 77 + t * 1e6 + e * (t + 1) * 1.001);
        text += (t == 2 && e == 4) ? Field("") : Field(v, t == 1 && e == 1 ? '1' : ' ', '7');
      }
      text += "\n";
    }
    if (e == 4) {
      text += ">                              4  1\n";
      text += "MID-FILE COMMENT                                            COMMENT\n";
    }
  }
  const std::string crx = Compress(text);
  EXPECT_EQ(crx.substr(0, 3), "3.0");
  EXPECT_NE(crx.find("> 2020 01 01 00 00  0.5000000  0  3      G03R09G31\n"), std::string::npos);
  ExpectRoundTrip(text);
}

TEST(CrxSink, ReadsValuesOfEveryWidthAndSignExactly) {
  // Whole parts of 0 to 10 digits, both signs, around the column where an
  // eight-column word starts; every one must come back as written.
  std::vector<std::string> values;
  const char* spelled[] = {"0.000",          "-0.001",         "0.009",          "1.000",
                           "-9.999",         "12345678.901",   "-1234567.890",   "99999999.999",
                           "-99999999.999",  "123456789.012",  "-123456789.012", "999999999.999",
                           "-999999999.999", "1000000000.000", "9999999999.999", "10000000.000"};
  for (const char* v : spelled) values.push_back(v);
  uint64_t whole = 7;
  for (int digits = 1; digits <= 10; ++digits, whole = whole * 10 + static_cast<uint64_t>(digits % 10)) {
    for (int sign : {1, -1}) {
      if (sign < 0 && digits == 10) continue;  // 15 columns
      char v[32];
      std::snprintf(v, sizeof v, "%s%llu.%03d", sign < 0 ? "-" : "",
                    static_cast<unsigned long long>(whole), digits * 37 % 1000);
      values.push_back(v);
    }
  }
  std::string text = kHeader2;
  for (size_t e = 0; e < values.size(); ++e) {
    text += Epoch2(static_cast<int>(e), 0, {"G01", "G02"});
    // Both keep arcs through them, in opposite orders, with gaps.
    const std::string& v = values[e];
    const std::string& w = values[values.size() - 1 - e];
    text += Field(v.c_str()) + Field(w.c_str(), '1', '9') + Field("") + Field(v.c_str()) +
            Field(w.c_str()) + "\n" + Field(v.c_str()) + "\n";
    text += Field(w.c_str()) + Field(v.c_str()) + Field(w.c_str()) + Field("") + Field(v.c_str()) +
            "\n" + Field(w.c_str(), ' ', '4') + "\n";
  }
  ExpectRoundTrip(text);
}

TEST(CrxSink, RefusesValuesThatAreNotFixedPointWithThreeDecimals) {
  const char* bad[] = {"    12a45.678", "   12 45.678", "   -12-4.678", "  1234.5678",
                       "   --1234.567", " 1234-56.789", "   1234.5 7",   "       12.34x",
                       "-    1234.567", "12345678901.123"};
  for (const char* v : bad) {
    SCOPED_TRACE(v);
    std::string field = v;
    field.resize(14, ' ');
    std::string text = kHeader2;
    text += Epoch2(0, 0, {"G01"});
    text += Field("1.000") + field + "  " + Field("2.000") + "\n\n";
    MemorySink out;
    CrxSink crx(&out);
    EXPECT_FALSE(crx.Write(text.data(), text.size()));
    EXPECT_NE(std::string(crx.Error()).find("observation value"), std::string::npos);
  }
}

TEST(CrxSink, CarriesUpToItsLimitOfSatellites) {
  // Eight systems of 100 satellites each: more names than one file may have.
  std::string header = "     3.04           OBSERVATION DATA    M (MIXED)           RINEX VERSION / TYPE\n";
  const char systems[] = "GRECJSIL";
  for (int k = 0; k < 8; ++k) {
    header += std::string(1, systems[k]) + "    1 C1C" + std::string(50, ' ') + "SYS / # / OBS TYPES\n";
  }
  header += std::string(60, ' ') + "END OF HEADER\n";
  std::string text = header;
  size_t names = 0;
  for (int k = 0; k < 8; ++k) {
    char line[128];
    std::snprintf(line, sizeof line, "> 2020 01 01 00 00 %10.7f  0100\n", static_cast<double>(k));
    text += line;
    for (int prn = 0; prn < 100; ++prn, ++names) {
      std::snprintf(line, sizeof line, "%c%02d", systems[k], prn);
      text += line + Field("123.456") + "\n";
    }
  }
  ASSERT_GT(names, CrxSink::kMaxSatellites);
  MemorySink out;
  CrxSink crx(&out);
  EXPECT_FALSE(crx.Write(text.data(), text.size()));
  EXPECT_NE(std::string(crx.Error()).find("too many satellites"), std::string::npos);
  // Six hundred are carried.
  std::string first_half = header;
  const size_t cut = text.find("> 2020 01 01 00 00  6.0000000");
  ASSERT_NE(cut, std::string::npos);
  first_half.append(text, header.size(), cut - header.size());
  ExpectRoundTrip(first_half);
}

TEST(CrxSink, FailsOnTextItCannotCarry) {
  {
    std::string text = kHeader2;
    text += Epoch2(0, 0, {"G01"});
    text += Field("12.34") + "\n\n";  // two decimals
    MemorySink out;
    CrxSink crx(&out);
    EXPECT_FALSE(crx.Write(text.data(), text.size()));
    EXPECT_NE(std::string(crx.Error()).find("observation value"), std::string::npos);
    EXPECT_FALSE(crx.Finish());
    EXPECT_TRUE(out.aborted);
  }
  {
    std::string text = kHeader2;
    text += Epoch2(0, 0, {"G01", "G02"});
    text += Field("1.000") + "\n\n";  // the epoch ends early
    MemorySink out;
    CrxSink crx(&out);
    EXPECT_TRUE(crx.Write(text.data(), text.size()));
    EXPECT_FALSE(crx.Finish());
    EXPECT_NE(std::string(crx.Error()).find("inside an epoch"), std::string::npos);
    EXPECT_TRUE(out.aborted);
  }
  {
    const std::string nav =
        "     2.10           N: GPS NAV DATA                         RINEX VERSION / TYPE\n";
    MemorySink out;
    CrxSink crx(&out);
    EXPECT_FALSE(crx.Write(nav.data(), nav.size()));
  }
}

TEST(CrxSink, AFailedDownstreamWriteFailsFinish) {
  const std::string text = ReadFile(std::string(RAWCONV_SHARED_DATA_DIR) + "/07590920.05o");
  MemorySink out;
  out.fail_writes_ = true;
  CrxSink crx(&out);
  crx.Write(text.data(), text.size());
  EXPECT_FALSE(crx.Finish());
  EXPECT_TRUE(out.aborted);
}

}  // namespace
