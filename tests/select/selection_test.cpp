// The selection's texts and rules: times, windows, intervals, exclusion and
// type lists, the clock tolerance, and the checks of the user's header facts.
#include <gtest/gtest.h>

#include <string>

#include "obs/header_metadata.h"
#include "select/selection.h"

namespace rawconv {
namespace {

TEST(ParseGpsTime, BothSeparatorsFractionsAndTheGpsEpoch) {
  double t = -1.0;
  ASSERT_TRUE(ParseGpsTime("1980-01-06 00:00:00", &t).Ok);
  EXPECT_EQ(t, 0.0);
  // 2005-04-02 is week 1316, day 6 (Saturday).
  ASSERT_TRUE(ParseGpsTime("2005-04-02 00:30:00", &t).Ok);
  EXPECT_EQ(t, GpsSeconds(1316, 6 * 86400.0 + 1800.0));
  double u = -1.0;
  ASSERT_TRUE(ParseGpsTime("2005-04-02T00:30:00", &u).Ok);
  EXPECT_EQ(u, t);
  ASSERT_TRUE(ParseGpsTime("2024-02-29 23:59:59.5", &u).Ok);  // leap day
  EXPECT_EQ(u, GpsSeconds(2303, 4 * 86400.0 + 86399.5));
}

TEST(ParseGpsTime, SlashedDatesAndDatesAlone) {
  double t = -1.0, u = -2.0;
  ASSERT_TRUE(ParseGpsTime("2005-04-02 00:30:00", &t).Ok);
  ASSERT_TRUE(ParseGpsTime("2005/04/02 00:30:00", &u).Ok);
  EXPECT_EQ(u, t);
  ASSERT_TRUE(ParseGpsTime("2005/04/02 00:30:00.25", &u).Ok);
  EXPECT_EQ(u, t + 0.25);
  // A date alone is its midnight, with either separator.
  ASSERT_TRUE(ParseGpsTime("2005-04-02 00:00:00", &t).Ok);
  ASSERT_TRUE(ParseGpsTime("2005-04-02", &u).Ok);
  EXPECT_EQ(u, t);
  ASSERT_TRUE(ParseGpsTime(" 2005/04/02 ", &u).Ok);
  EXPECT_EQ(u, t);
  Selection s{};
  ASSERT_TRUE(ParseWindow("2005/04/02", "2005-04-03", &s).Ok);
  EXPECT_EQ(s.To - s.From, 86400.0);
}

TEST(ParseGpsTime, RefusesMalformedAndImpossibleTimes) {
  double t = 0.0;
  for (const char* bad : {"", "2005-4-02 00:30:00", "2005-04-02 24:00:00",
                          "2005-02-29 00:00:00", "2005-13-01 00:00:00", "2005-04-02 00:60:00",
                          "1980-01-05 23:59:59", "2005-04-02 00:30:00x", "2005/04-02 00:30:00",
                          "2005/04/02T00:30:00", "2005-04-02 00:30", "2005-02-30", "2005/04/2",
                          "2005-04-02 00:30:00."}) {
    const CheckResult r = ParseGpsTime(bad, &t);
    EXPECT_FALSE(r.Ok) << bad;
    EXPECT_NE(std::string(r.Message), "") << bad;
  }
  EXPECT_FALSE(ParseGpsTime(nullptr, &t).Ok);
  EXPECT_FALSE(ParseGpsTime(std::string(5000, '1').c_str(), &t).Ok);
}

TEST(ParseWindow, OpenSidesAndOrder) {
  Selection s{};
  ASSERT_TRUE(ParseWindow("2005-04-02 00:30:00", nullptr, &s).Ok);
  EXPECT_EQ(s.HasFrom, 1);
  EXPECT_EQ(s.HasTo, 0);
  ASSERT_TRUE(ParseWindow("", "2005-04-02 01:00:00", &s).Ok);
  EXPECT_EQ(s.HasFrom, 0);
  EXPECT_EQ(s.HasTo, 1);
  Selection kept = s;
  EXPECT_FALSE(ParseWindow("2005-04-02 01:00:00", "2005-04-02 01:00:00", &s).Ok);
  EXPECT_FALSE(ParseWindow("2005-04-02 01:00:00", "bad", &s).Ok);
  EXPECT_EQ(s.HasFrom, kept.HasFrom);  // a refused window leaves the selection
}

TEST(ParseInterval, PositiveUpToADay) {
  double v = 0.0;
  ASSERT_TRUE(ParseInterval("30", &v).Ok);
  EXPECT_EQ(v, 30.0);
  ASSERT_TRUE(ParseInterval("0.5", &v).Ok);
  EXPECT_EQ(v, 0.5);
  for (const char* bad : {"", "0", "-30", "30s", "nan", "inf", "86401"})
    EXPECT_FALSE(ParseInterval(bad, &v).Ok) << bad;
}

TEST(ParseExclusions, SystemsAndSatellites) {
  Selection s{};
  ASSERT_TRUE(ParseExclusions("G, R05 ,G12", &s).Ok);
  EXPECT_EQ(s.ExcludeGps, 1);
  EXPECT_EQ(s.ExcludeGlonass, 0);
  EXPECT_EQ(s.ExcludedSatellites[12], 1);
  EXPECT_EQ(s.ExcludedSatellites[37], 1);  // R05 is GPB 37
  EXPECT_FALSE(KeepSatellite(s, 3));
  EXPECT_FALSE(KeepSatellite(s, 37));
  EXPECT_TRUE(KeepSatellite(s, 38));
  Selection t{};
  ASSERT_TRUE(ParseExclusions("R", &t).Ok);
  EXPECT_TRUE(KeepSatellite(t, 32));
  EXPECT_FALSE(KeepSatellite(t, 33));
  for (const char* bad : {"", "E", "G5", "G00", "G33", "R65", "G05,", "G05,,R01", "GPS", "X01"}) {
    Selection u{};
    EXPECT_FALSE(ParseExclusions(bad, &u).Ok) << bad;
    EXPECT_TRUE(SelectsNothing(u)) << bad;  // nothing taken from a refused list
  }
}

TEST(ParseObsTypes, KnownTypesOnlyAndPresence) {
  uint32_t types = 0;
  ASSERT_TRUE(ParseObsTypes("C1,L1,P2", &types).Ok);
  EXPECT_EQ(types, (1u << 0) | (1u << 1) | (1u << 4));
  ASSERT_TRUE(ParseObsTypes("S2, S1,S1", &types).Ok);
  EXPECT_EQ(types, (1u << 6) | (1u << 7));
  for (const char* bad : {"", "C2", "c1", "C1,L5", "C1X", "c1c", "L1P", "C5Q", "C1CC", ","})
    EXPECT_FALSE(ParseObsTypes(bad, &types).Ok) << bad;

  // RINEX 3 codes name the same types, GPS and GLONASS spellings alike,
  // mixed with RINEX 2 types in one list.
  const char* const rinex3[8] = {"C1C", "L1C", "L2W", "C1W", "C2W", "D1C", "S1C", "S2W"};
  const char* const glonass[8] = {"C1C", "L1C", "L2P", "C1P", "C2P", "D1C", "S1C", "S2P"};
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(ParseObsTypes(rinex3[i], &types).Ok) << rinex3[i];
    EXPECT_EQ(types, 1u << i) << rinex3[i];
    ASSERT_TRUE(ParseObsTypes(glonass[i], &types).Ok) << glonass[i];
    EXPECT_EQ(types, 1u << i) << glonass[i];
  }
  ASSERT_TRUE(ParseObsTypes("C1C,L2P, P2,S1", &types).Ok);
  EXPECT_EQ(types, (1u << 0) | (1u << 2) | (1u << 4) | (1u << 6));
  const CheckResult unknown = ParseObsTypes("C1C,L5Q", &types);
  EXPECT_FALSE(unknown.Ok);
  EXPECT_NE(std::string(unknown.Message).find("\"L5Q\""), std::string::npos) << unknown.Message;
  EXPECT_NE(std::string(unknown.Message).find("C1C L1C L2W C1W C2W D1C S1C S2W"), std::string::npos);

  EXPECT_TRUE(CheckTypesPresent(0x13, 0xFF).Ok);
  const CheckResult r = CheckTypesPresent((1u << 0) | (1u << 3), 0x07);
  EXPECT_FALSE(r.Ok);
  EXPECT_NE(std::string(r.Message).find("P1"), std::string::npos);
}

// Window ends and decimation with a receiver clock that runs a little off.
TEST(KeepEpochTime, WindowAndDecimationWithinTheClockTolerance) {
  Selection s{};
  const int week = 1316;
  const double day = 6 * 86400.0;
  s.HasFrom = 1;
  s.From = GpsSeconds(week, day + 1800.0);
  s.HasTo = 1;
  s.To = GpsSeconds(week, day + 3600.0);
  EXPECT_TRUE(KeepEpochTime(s, week, day + 1800.0));
  EXPECT_TRUE(KeepEpochTime(s, week, day + 1799.989));   // early clock: still the start
  EXPECT_FALSE(KeepEpochTime(s, week, day + 1799.0));
  EXPECT_TRUE(KeepEpochTime(s, week, day + 3599.0));
  EXPECT_FALSE(KeepEpochTime(s, week, day + 3600.0));    // end exclusive
  EXPECT_FALSE(KeepEpochTime(s, week, day + 3599.990));  // ... also when early
  EXPECT_FALSE(KeepEpochTime(s, week + 1, day + 2000.0));  // the week counts

  Selection d{};
  d.Interval = 30.0;
  EXPECT_EQ(ClockTolerance(d), kDefaultClockTolerance);
  EXPECT_TRUE(KeepEpochTime(d, week, 0.0));
  EXPECT_TRUE(KeepEpochTime(d, week, 86400.0 * 3 + 29.98));
  EXPECT_TRUE(KeepEpochTime(d, week, 60.02));
  EXPECT_FALSE(KeepEpochTime(d, week, 60.03));
  EXPECT_FALSE(KeepEpochTime(d, week, 31.0));
  // A time of day that is a multiple, not a time of week: 7 s steps restart
  // at midnight.
  d.Interval = 7.0;
  EXPECT_TRUE(KeepEpochTime(d, week, 86400.0));
  EXPECT_FALSE(KeepEpochTime(d, week, 86401.0));
  // Short intervals narrow the tolerance to a quarter of themselves.
  d.Interval = 0.04;
  EXPECT_DOUBLE_EQ(ClockTolerance(d), 0.01);
  EXPECT_TRUE(KeepEpochTime(d, week, 100.08));
  EXPECT_FALSE(KeepEpochTime(d, week, 100.02));
}

TEST(SelectEpoch, DropsEpochsLeftWithoutSatellites) {
  Selection s{};
  ASSERT_TRUE(ParseExclusions("G05,R", &s).Ok);
  GpbEpoch e{};
  e.RcvTime = 100.0;
  GpbChannel c[kMaxChannels]{};
  c[0].Prn = 5;
  c[1].Prn = 7;
  c[2].Prn = 40;
  e.NumChannels = 3;
  GpbEpoch out{};
  GpbChannel kept[kMaxChannels]{};
  ASSERT_TRUE(SelectEpoch(s, 1316, e, c, &out, kept));
  EXPECT_EQ(out.NumChannels, 1);
  EXPECT_EQ(kept[0].Prn, 7);
  EXPECT_EQ(out.RcvTime, 100.0);
  c[1].Prn = 33;
  EXPECT_FALSE(SelectEpoch(s, 1316, e, c, &out, kept));
  e.NumChannels = 0;  // an epoch that had no satellite stays
  EXPECT_TRUE(SelectEpoch(s, 1316, e, c, &out, kept));
}

TEST(SelectsNothing, OnlyTheZeroSelectionAndAllTypes) {
  Selection s{};
  EXPECT_TRUE(SelectsNothing(s));
  s.KeptTypes = kAllTypesMask;
  EXPECT_TRUE(SelectsNothing(s));
  s.KeptTypes = 1;
  EXPECT_FALSE(SelectsNothing(s));
  s = Selection{};
  s.ExcludedSatellites[200] = 1;
  EXPECT_FALSE(SelectsNothing(s));
}

TEST(HeaderMetadata, TextsAreCheckedAgainstTheirColumns) {
  HeaderMetadata m{};
  EXPECT_TRUE(SetMetadataText(&m, MetadataField::kAntennaType, "TRM55971.00     NONE").Ok);
  EXPECT_STREQ(MetadataText(m, MetadataField::kAntennaType), "TRM55971.00     NONE");
  EXPECT_FALSE(SetMetadataText(&m, MetadataField::kAntennaType, "TRM55971.00      NONE").Ok);
  EXPECT_STREQ(m.AntennaType, "TRM55971.00     NONE");  // unchanged by a refusal
  EXPECT_FALSE(SetMetadataText(&m, MetadataField::kReceiverType, "TAB\tHERE").Ok);
  EXPECT_FALSE(SetMetadataText(&m, MetadataField::kMarkerNumber, "caf\xc3\xa9").Ok);
  EXPECT_TRUE(SetMetadataText(&m, MetadataField::kMarkerNumber, "").Ok);
  EXPECT_TRUE(HeaderTextFits(std::string(60, 'x').c_str(), 60));
  EXPECT_FALSE(HeaderTextFits(std::string(61, 'x').c_str(), 60));

  EXPECT_TRUE(AddMetadataComment(&m, std::string(60, 'c').c_str()).Ok);
  EXPECT_FALSE(AddMetadataComment(&m, std::string(61, 'c').c_str()).Ok);
  for (int i = 1; i < kMaxMetadataComments; ++i) ASSERT_TRUE(AddMetadataComment(&m, "c").Ok);
  EXPECT_FALSE(AddMetadataComment(&m, "one too many").Ok);
  EXPECT_EQ(m.CommentCount, kMaxMetadataComments);
}

TEST(HeaderMetadata, TriplesFitF14_4) {
  double v[3] = {7.0, 7.0, 7.0};
  ASSERT_TRUE(ParseHeaderTriple("-1, 2.5 ,3e3", "position", v).Ok);
  EXPECT_EQ(v[0], -1.0);
  EXPECT_EQ(v[1], 2.5);
  EXPECT_EQ(v[2], 3000.0);
  EXPECT_TRUE(HeaderNumberFits(999999999.9999));
  EXPECT_FALSE(HeaderNumberFits(1e9));
  EXPECT_TRUE(HeaderNumberFits(-99999999.9999));
  EXPECT_FALSE(HeaderNumberFits(-100000000.0));
  for (const char* bad : {"", "1,2", "1,2,3,4", "1;2;3", "1,2,x", "1,2,1e10", "nan,0,0"}) {
    double w[3] = {7.0, 7.0, 7.0};
    const CheckResult r = ParseHeaderTriple(bad, "antenna delta", w);
    EXPECT_FALSE(r.Ok) << bad;
    EXPECT_NE(std::string(r.Message).find("antenna delta"), std::string::npos);
    EXPECT_EQ(w[0], 7.0) << bad;
  }
}

}  // namespace
}  // namespace rawconv
