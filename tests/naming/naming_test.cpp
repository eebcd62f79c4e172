// Output names: the table of styles and compressions, station codes and ids,
// sessions, and the period and interval units of long names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "naming/naming.h"
#include "time/calendar.h"

namespace rawconv {
namespace {

// A full day from 2005-01-20 00:00, 30 s, GPS only.
NamingInput DayFile() {
  NamingInput in{};
  in.GpbPath = "/data/in/Usno0200.gpb";
  in.Marker = "USNO";
  in.StationId = "";
  in.RinexMajor = 3;
  in.Year = 2005;
  in.Month = 1;
  in.Day = 20;
  in.SpanSeconds = 86400.0;
  in.IntervalSeconds = 30.0;
  return in;
}

std::string Obs(const NamingInput& in, NameStyle s, Compression c) {
  char out[256];
  EXPECT_EQ(MakeObsFileName(in, s, c, out, sizeof out), kNameOk);
  return out;
}

std::string Nav(const NamingInput& in, NameStyle s, Compression c) {
  char out[256];
  EXPECT_EQ(MakeNavFileName(in, s, c, out, sizeof out), kNameOk);
  return out;
}

TEST(NamingTable, EveryStyleAndCompression) {
  const NamingInput in = DayFile();
  struct Row {
    NameStyle Style;
    Compression Comp;
    const char* ObsName;
    const char* NavName;
  };
  const Row rows[] = {
      {NameStyle::kInput, Compression::kNone, "Usno0200.05o", "Usno0200.05n"},
      {NameStyle::kInput, Compression::kGzip, "Usno0200.05o.gz", "Usno0200.05n.gz"},
      {NameStyle::kInput, Compression::kCrx, "Usno0200.05d", "Usno0200.05n"},
      {NameStyle::kInput, Compression::kCrxGzip, "Usno0200.05d.gz", "Usno0200.05n.gz"},
      {NameStyle::kShort, Compression::kNone, "usno0200.05o", "usno0200.05n"},
      {NameStyle::kShort, Compression::kCrxGzip, "usno0200.05d.gz", "usno0200.05n.gz"},
      {NameStyle::kLong, Compression::kNone, "USNO00XXX_R_20050200000_01D_30S_GO.rnx",
       "USNO00XXX_R_20050200000_01D_GN.rnx"},
      {NameStyle::kLong, Compression::kGzip, "USNO00XXX_R_20050200000_01D_30S_GO.rnx.gz",
       "USNO00XXX_R_20050200000_01D_GN.rnx.gz"},
      {NameStyle::kLong, Compression::kCrx, "USNO00XXX_R_20050200000_01D_30S_GO.crx",
       "USNO00XXX_R_20050200000_01D_GN.rnx"},
      {NameStyle::kLong, Compression::kCrxGzip, "USNO00XXX_R_20050200000_01D_30S_GO.crx.gz",
       "USNO00XXX_R_20050200000_01D_GN.rnx.gz"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Obs(in, r.Style, r.Comp), r.ObsName);
    EXPECT_EQ(Nav(in, r.Style, r.Comp), r.NavName);
  }
}

// Station codes from the marker or the file name; ids of nine characters;
// mixed data; sessions by the hour of the first epoch.
TEST(NamingTable, StationCodesSessionsAndMixedData) {
  NamingInput in = DayFile();
  in.Marker = "E2E";
  EXPECT_EQ(Obs(in, NameStyle::kShort, Compression::kNone), "e2e00200.05o");
  in.Marker = "";
  in.GpbPath = "C:\\data\\arl-1 site.gpb";
  EXPECT_EQ(Obs(in, NameStyle::kShort, Compression::kNone), "arl10200.05o");
  in.StationId = "arl100usa";
  in.Mixed = true;
  EXPECT_EQ(Obs(in, NameStyle::kLong, Compression::kNone),
            "ARL100USA_R_20050200000_01D_30S_MO.rnx");
  in.StationId = "TOOSHORT";
  EXPECT_EQ(Obs(in, NameStyle::kLong, Compression::kNone),
            "ARL100XXX_R_20050200000_01D_30S_MO.rnx");

  in.Hour = 10;
  in.Minute = 0;
  in.SpanSeconds = 3600.0;
  EXPECT_EQ(Obs(in, NameStyle::kShort, Compression::kNone), "arl1020k.05o");
  EXPECT_EQ(Nav(in, NameStyle::kLong, Compression::kNone), "ARL100XXX_R_20050201000_01H_GN.rnx");
  in.Hour = 0;  // starts at midnight but does not span the day
  EXPECT_EQ(Obs(in, NameStyle::kShort, Compression::kNone), "arl1020a.05o");
  in.Year = 2016;
  in.Month = 12;
  in.Day = 31;  // leap year
  in.Hour = 23;
  EXPECT_EQ(Obs(in, NameStyle::kShort, Compression::kNone), "arl1366x.16o");
}

// Split outputs: the span's start and length name the file, whatever the
// span of the data in it; input names become short ones.
TEST(NamingTable, SplitSpans) {
  NamingInput in = DayFile();
  in.Hour = 13;
  in.Minute = 45;
  in.SpanSeconds = 300.0;  // what the span holds; the name does not care
  in.SplitSeconds = 900.0;
  EXPECT_EQ(Obs(in, NameStyle::kShort, Compression::kNone), "usno020n45.05o");
  EXPECT_EQ(Obs(in, NameStyle::kInput, Compression::kCrxGzip), "usno020n45.05d.gz");
  EXPECT_EQ(Obs(in, NameStyle::kLong, Compression::kNone),
            "USNO00XXX_R_20050201345_15M_30S_GO.rnx");
  in.Minute = 0;
  in.SplitSeconds = 3600.0;
  EXPECT_EQ(Obs(in, NameStyle::kShort, Compression::kGzip), "usno020n.05o.gz");
  EXPECT_EQ(Obs(in, NameStyle::kLong, Compression::kCrx),
            "USNO00XXX_R_20050201300_01H_30S_GO.crx");
  in.Hour = 0;
  in.SplitSeconds = 86400.0;
  EXPECT_EQ(Obs(in, NameStyle::kShort, Compression::kNone), "usno0200.05o");
  EXPECT_EQ(Obs(in, NameStyle::kLong, Compression::kNone),
            "USNO00XXX_R_20050200000_01D_30S_GO.rnx");
}

TEST(NamingUnits, PeriodsAndIntervals) {
  const struct {
    double Seconds;
    const char* Period;
    const char* Interval;
  } cases[] = {
      {0.0, "00U", "00U"},       {0.01, "01M", "01C"},     {0.2, "01M", "05Z"},
      {0.5, "01M", "02Z"},       {1.0, "01M", "01S"},      {30.0, "01M", "30S"},
      {900.0, "15M", "15M"},     {3570.0, "01H", "01H"},   {3600.0, "01H", "01H"},
      {7200.0, "02H", "02H"},    {86400.0, "01D", "01D"},  {84600.0, "01D", "01D"},
      {2 * 86400.0, "02D", "02D"}, {365.0 * 86400.0, "01Y", "99D"},
  };
  for (const auto& c : cases) {
    char period[4], interval[4];
    FormatPeriod(c.Seconds, period);
    FormatInterval(c.Seconds, interval);
    EXPECT_STREQ(period, c.Period) << c.Seconds;
    EXPECT_STREQ(interval, c.Interval) << c.Seconds;
  }
}

TEST(NamingResults, BoundedBufferBadInputAndParsing) {
  NamingInput in = DayFile();
  char small[12];
  EXPECT_EQ(MakeObsFileName(in, NameStyle::kShort, Compression::kNone, small, sizeof small),
            kNameTooLong);
  EXPECT_STREQ(small, "");
  char fits[13];
  EXPECT_EQ(MakeObsFileName(in, NameStyle::kShort, Compression::kNone, fits, sizeof fits), kNameOk);
  EXPECT_STREQ(fits, "usno0200.05o");
  in.RinexMajor = 4;
  EXPECT_EQ(MakeObsFileName(in, NameStyle::kShort, Compression::kNone, fits, sizeof fits),
            kNameBadInput);
  in = DayFile();
  in.GpbPath = nullptr;
  EXPECT_EQ(MakeNavFileName(in, NameStyle::kInput, Compression::kNone, fits, sizeof fits),
            kNameBadInput);

  NameStyle style;
  Compression comp;
  EXPECT_TRUE(ParseNameStyle("long", &style));
  EXPECT_EQ(style, NameStyle::kLong);
  EXPECT_FALSE(ParseNameStyle("LONG", &style));
  EXPECT_TRUE(ParseCompression("crx.gz", &comp));
  EXPECT_EQ(comp, Compression::kCrxGzip);
  EXPECT_FALSE(ParseCompression("zip", &comp));
  EXPECT_EQ(DayOfYear(2000, 3, 1), 61);
  EXPECT_EQ(DayOfYear(1900, 3, 1), 60);
}

}  // namespace
}  // namespace rawconv
