#include "ephem/nav_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "api/context.h"
#include "obs/run_date.h"

namespace rawconv {
namespace {

// The D form built the plain way: "%.11e", then the point moved one place
// left and the exponent raised by one on its digits.
std::string ReferenceDForm(double v) {
  if (v == 0.0) return ".000000000000D+00";
  char text[64];
  std::snprintf(text, sizeof text, "%.11e", std::fabs(v));
  const int e = std::atoi(text + 14);
  char out[64];
  std::snprintf(out, sizeof out, "%s.%c%.11sD%c%02d", v < 0 ? "-" : "", text[0], text + 2,
                e < 0 ? '-' : '+', std::abs(e + 1));
  return out;
}

std::string DForm(double v) {
  char buffer[kRinexRealBufferSize + 8];
  std::memset(buffer, '#', sizeof buffer);
  const int n = FormatRinexReal(v, buffer);
  EXPECT_EQ(n, static_cast<int>(std::strlen(buffer)) + 1) << v;
  EXPECT_LE(n, kRinexRealBufferSize) << v;
  EXPECT_EQ(buffer[kRinexRealBufferSize], '#') << v;
  return buffer;
}

TEST(FormatRinexReal, ExamplesAndEdges) {
  EXPECT_EQ(DForm(1.0), ".100000000000D+01");
  EXPECT_EQ(DForm(-1.5e-8), "-.150000000000D-07");
  EXPECT_EQ(DForm(0.5), ".500000000000D-00");
  EXPECT_EQ(DForm(0.0), ".000000000000D+00");
  EXPECT_EQ(DForm(-0.0), ".000000000000D+00");
  EXPECT_EQ(DForm(9.99999999999949e-01), ".100000000000D+01");  // rounds up a decade
  EXPECT_EQ(DForm(-9.999999999995e-9), "-.100000000000D-07");
  EXPECT_EQ(DForm(345600.0), ".345600000000D+06");
  EXPECT_EQ(DForm(5153.63115501), ".515363115501D+04");
  EXPECT_EQ(DForm(0.0999999999999), ".999999999999D-01");
  // Ties between two twelve-digit mantissas round as printf does.
  EXPECT_EQ(DForm(1000000000005.0), ReferenceDForm(1000000000005.0));
  EXPECT_EQ(DForm(1000000000015.0), ReferenceDForm(1000000000015.0));
  EXPECT_EQ(DForm(123456789012.5), ReferenceDForm(123456789012.5));
  EXPECT_EQ(DForm(-123456789013.5), ReferenceDForm(-123456789013.5));
  // The two-digit exponent range and beyond.
  EXPECT_EQ(DForm(1e98), ".100000000000D+99");
  EXPECT_EQ(DForm(1e-100), ".100000000000D-99");
  EXPECT_EQ(DForm(1e99), ".999999999999D+99");
  EXPECT_EQ(DForm(-1e300), "-.999999999999D+99");
  EXPECT_EQ(DForm(std::numeric_limits<double>::infinity()), ".999999999999D+99");
  EXPECT_EQ(DForm(-std::numeric_limits<double>::infinity()), "-.999999999999D+99");
  EXPECT_EQ(DForm(1e-101), ".000000000000D+00");
  EXPECT_EQ(DForm(-4.9e-324), ".000000000000D+00");
  EXPECT_EQ(DForm(std::nan("")), ".000000000000D+00");
  EXPECT_EQ(DForm(std::numeric_limits<double>::max()), ".999999999999D+99");
}

TEST(FormatRinexReal, MatchesReferenceOnManyValues) {
  std::mt19937_64 rng(20051130);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-99, 97);
  std::uniform_int_distribution<uint64_t> bits;
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    double v = mantissa(rng) * std::pow(10.0, exponent(rng));
    if (i % 2) v = -v;
    ASSERT_EQ(DForm(v), ReferenceDForm(v)) << v;
    ++checked;
  }
  // Raw bit patterns inside the range the form holds.
  for (int i = 0; i < 200000; ++i) {
    uint64_t b = bits(rng);
    double v = 0;
    std::memcpy(&v, &b, sizeof v);
    if (!std::isfinite(v) || std::fabs(v) < 1e-100 || std::fabs(v) >= 9.9999999999e98) continue;
    ASSERT_EQ(DForm(v), ReferenceDForm(v)) << v;
    ++checked;
  }
  // Decimal ties and near-ties at the twelfth digit, and decade boundaries.
  for (int64_t k = 1000000000000; k < 1000000000000 + 2000; ++k) {
    const double tie = static_cast<double>(k) + 0.5;  // exact in binary
    ASSERT_EQ(DForm(tie), ReferenceDForm(tie)) << k;
    const double scaled = static_cast<double>(k * 10 + 5);
    ASSERT_EQ(DForm(scaled), ReferenceDForm(scaled)) << k;
    ASSERT_EQ(DForm(std::nextafter(scaled, 0.0)), ReferenceDForm(std::nextafter(scaled, 0.0)));
  }
  for (int e = -99; e <= 97; ++e) {
    const double p = std::pow(10.0, e);
    for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, 1e300), p * 0.99999999999949,
                     p * 0.9999999999995, -p}) {
      ASSERT_EQ(DForm(v), ReferenceDForm(v)) << v;
    }
  }
  EXPECT_GT(checked, 250000);
}

EphemerisRecord SampleRecord() {
  EphemerisRecord r{};
  r.Prn = 5;
  r.Week = 1341;
  r.Tgd = -1.1e-8;
  r.Iodc = 346;
  r.Toc = 0;
  r.Af2 = 0.0;
  r.Af1 = 0.5;
  r.Af0 = -1.5e-8;
  r.Iode = 90;
  r.Crs = -38.625;
  r.DeltaN = 5.01449458811e-09;
  r.M0 = 2.37108733125;
  r.Cuc = -2.17743217945e-06;
  r.Ecc = 0.0052654898027;
  r.Cus = 1.09504908323e-05;
  r.SqrtA = 5153.76806831;
  r.Toe = 352800;
  r.Cic = -5.40167093277e-08;
  r.Omega0 = -1.52094815689;
  r.Cis = -9.12696123123e-08;
  r.I0 = 0.935617824444;
  r.Crc = 151.375;
  r.Omega = 0.833656182315;
  r.OmegaDot = -8.15033949435e-09;
  r.Idot = -1.242908915e-10;
  return r;
}

const char kSampleBody[] =
    "\n     .900000000000D+02 -.386250000000D+02  .501449458811D-08  .237108733125D+01"
    "\n    -.217743217945D-05  .526548980270D-02  .109504908323D-04  .515376806831D+04"
    "\n     .352800000000D+06 -.540167093277D-07 -.152094815689D+01 -.912696123123D-07"
    "\n     .935617824444D-00  .151375000000D+03  .833656182315D-00 -.815033949435D-08"
    "\n    -.124290891500D-09  .000000000000D+00  .134100000000D+04  .000000000000D+00"
    "\n     .000000000000D+00  .000000000000D+00 -.110000000000D-07  .346000000000D+03"
    "\n     .352800000000D+06";

class NavWriterTest : public testing::Test {
 protected:
  static std::string ReadAll(std::FILE* f) {
    std::rewind(f);
    std::string text;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    return text;
  }
  static std::FILE* TextFile(const std::string& text) {
    std::FILE* f = std::tmpfile();
    std::fputs(text.c_str(), f);
    std::rewind(f);
    return f;
  }
};

TEST_F(NavWriterTest, RecordLayoutAndVersions) {
  char buffer[kNavRecordBufferSize];
  FormatNavRecord(SampleRecord(), 1, buffer);
  // Toc 0: midnight of the first day of week 1341 (2005-09-18).
  const std::string line1 =
      " 5 05  9 18  0  0  0.0 -.150000000000D-07  .500000000000D-00  .000000000000D+00";
  EXPECT_EQ(std::string(buffer), line1 + kSampleBody);

  FormatNavRecord(SampleRecord(), 2, buffer);
  EXPECT_EQ(std::string(buffer), line1 + kSampleBody + "  .000000000000D+00");
  // 2.11 writes the records of 2.10.
  char buffer211[kNavRecordBufferSize];
  FormatNavRecord(SampleRecord(), 211, buffer211);
  EXPECT_STREQ(buffer211, buffer);

  // A week override moves the epoch of line 1 only; line 6 keeps the week.
  WeekOverride week;
  week.Use = 1;
  week.Week = 1351;
  EphemerisRecord r = SampleRecord();
  r.Toc = 318193;
  r.Prn = 12;
  FormatNavRecord(r, 1, buffer, week);
  EXPECT_EQ(std::string(buffer).substr(0, 22), "12 05 11 30 16 23 13.0");
  EXPECT_NE(std::string(buffer).find(" .134100000000D+04 "), std::string::npos);

  // Years after 2009 and after the 2019 rollover.
  r.Week = 2140;
  r.Toc = 7200;
  FormatNavRecord(r, 2, buffer);
  EXPECT_EQ(std::string(buffer).substr(0, 22), "12 21  1 10  2  0  0.0");
  std::string text = buffer;
  size_t lines = 1;
  for (char c : text) lines += (c == '\n');
  EXPECT_EQ(lines, 8u);
}

TEST_F(NavWriterTest, HeaderLines) {
  SetRunClockForTesting(1133965800);  // 2005-12-07 14:30
  std::FILE* f = std::tmpfile();
  ASSERT_EQ(WriteNavHeader(f, "Survey"), 0);
  EXPECT_EQ(ReadAll(f),
            "     2.10           N: GPS NAV DATA                         RINEX VERSION / TYPE\n"
            "RAWCONV v7.00       Survey              7-DEC-05 14:30      PGM / RUN BY / DATE\n"
            "                                                            END OF HEADER\n");
  std::fclose(f);

  // The version line of 2.11 files; the rest as for 2.10.
  f = std::tmpfile();
  StdioSink sink(f);
  ASSERT_EQ(WriteNavHeader(sink, "Survey", 2.11), 0);
  sink.Finish();
  EXPECT_EQ(ReadAll(f),
            "     2.11           N: GPS NAV DATA                         RINEX VERSION / TYPE\n"
            "RAWCONV v7.00       Survey              7-DEC-05 14:30      PGM / RUN BY / DATE\n"
            "                                                            END OF HEADER\n");
  std::fclose(f);

  // A run-by text longer than its column shifts the rest of the line.
  f = std::tmpfile();
  ASSERT_EQ(WriteNavHeader(f, "An agency with a long name"), 0);
  const std::string text = ReadAll(f);
  EXPECT_NE(text.find("RAWCONV v7.00       An agency with a long name7-DEC-05 14:30      PGM"),
            std::string::npos);
  std::fclose(f);
}

TEST_F(NavWriterTest, ConversionLoop) {
  const std::string block =
      "GpsEph {\n  PRN: 5\n  El1: 317 0 -1.1e-8 346 0\n  El2: 0 0.5 -1.5e-8\n"
      "  El3: 90 -38.625 5.01449458811e-09 2.37108733125\n"
      "  El4: -2.17743217945e-06 0.0052654898027 1.09504908323e-05 5153.76806831\n"
      "  El5: 352800 -5.40167093277e-08 -1.52094815689 -9.12696123123e-08\n"
      "  El6: 0.935617824444 151.375 0.833656182315 -8.15033949435e-09 -1.242908915e-10\n}\n";
  const std::string record =
      " 5 05  9 18  0  0  0.0 -.150000000000D-07  .500000000000D-00  .000000000000D+00" +
      std::string(kSampleBody) + "\n";

  std::FILE* epp = TextFile("$EPHREC 1 0\n" + block + block + "\n  }  \n\n   ");
  std::FILE* nav = std::tmpfile();
  ASSERT_EQ(ConvertEppToNav(epp, nav, 1), 0);
  EXPECT_EQ(ReadAll(nav), record + record);  // two identical records, written once each
  std::fclose(epp);
  std::fclose(nav);

  epp = TextFile("$EPHREC 1 0\n");
  nav = std::tmpfile();
  ASSERT_EQ(ConvertEppToNav(epp, nav, 2), 0);
  EXPECT_EQ(ReadAll(nav), "");
  std::fclose(epp);
  std::fclose(nav);

  epp = TextFile("EPHREC 1 0\n" + block);
  nav = std::tmpfile();
  EXPECT_EQ(ConvertEppToNav(epp, nav, 2), 1);
  EXPECT_EQ(ReadAll(nav), "");
  std::fclose(epp);
  std::fclose(nav);
}

}  // namespace
}  // namespace rawconv
