// Reading GPB epochs in blocks (rawconv_gpb_read) and opening a reader
// dated by a week, a day or an EPP file that must be usable
// (rawconv_gpb_open_dated).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "api/rawconv_api.h"
#include "support/conversion_fixture.h"
#include "support/real_data.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace convtest {
namespace {

void ExpectSameChannel(const rawconv_channel& a, const rawconv_channel& b, const std::string& at) {
  EXPECT_EQ(a.system, b.system) << at;
  EXPECT_EQ(a.prn, b.prn) << at;
  EXPECT_EQ(a.gpb_prn, b.gpb_prn) << at;
  EXPECT_EQ(a.have, b.have) << at;
  const double av[] = {a.c1, a.l1, a.l2, a.p1, a.p2, a.d1, a.s1, a.s2, a.lock_time1, a.lock_time2};
  const double bv[] = {b.c1, b.l1, b.l2, b.p1, b.p2, b.d1, b.s1, b.s2, b.lock_time1, b.lock_time2};
  for (size_t i = 0; i < sizeof av / sizeof av[0]; ++i) EXPECT_EQ(av[i], bv[i]) << at << " value " << i;
  EXPECT_EQ(a.lli1, b.lli1) << at;
  EXPECT_EQ(a.lli2, b.lli2) << at;
}

void ExpectSameEpoch(const rawconv_epoch& a, const rawconv_epoch& b, size_t index) {
  const std::string at = "epoch " + std::to_string(index);
  EXPECT_EQ(a.tow, b.tow) << at;
  EXPECT_EQ(a.week, b.week) << at;
  EXPECT_EQ(a.latitude, b.latitude) << at;
  EXPECT_EQ(a.longitude, b.longitude) << at;
  EXPECT_EQ(a.height, b.height) << at;
  EXPECT_EQ(a.position_valid, b.position_valid) << at;
  EXPECT_EQ(a.kinematic, b.kinematic) << at;
  EXPECT_EQ(a.clock_bias, b.clock_bias) << at;
  ASSERT_EQ(a.num_channels, b.num_channels) << at;
  for (int c = 0; c < a.num_channels; ++c)
    ExpectSameChannel(a.channels[c], b.channels[c], at + " channel " + std::to_string(c));
}

class BulkReadTest : public SampleSessionFixture {
 protected:
  rawconv_gpb_reader* Open(const std::string& gpb, const char* epp = nullptr, int32_t week = -1,
                           const char* date = nullptr) {
    why_[0] = 'x';
    return rawconv_gpb_open_dated(gpb.c_str(), epp, week, date, why_, sizeof why_);
  }

  // Every epoch through rawconv_gpb_next; *end is its last result.
  std::vector<rawconv_epoch> ReadOneByOne(rawconv_gpb_reader* r, int* end) {
    std::vector<rawconv_epoch> all;
    rawconv_epoch e;
    while ((*end = rawconv_gpb_next(r, &e)) == 1) all.push_back(e);
    return all;
  }

  // Every epoch through rawconv_gpb_read in blocks of `block`; *end is the
  // last result. Each full block returns 1.
  std::vector<rawconv_epoch> ReadInBlocks(rawconv_gpb_reader* r, size_t block, int* end) {
    std::vector<rawconv_epoch> all;
    std::vector<rawconv_epoch> buffer(block);
    for (;;) {
      size_t count = 99;
      *end = rawconv_gpb_read(r, buffer.data(), block, &count);
      EXPECT_LE(count, block);
      if (*end == 1) {
        EXPECT_EQ(block, count);
      }
      all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
      if (*end != 1) return all;
    }
  }

  char why_[RAWCONV_ERROR_MAX];
};

TEST_F(BulkReadTest, BlocksGiveTheEpochsOfTheOneByOneReader) {
  const std::string epp = Path("sample.epp");
  int end = 2;
  rawconv_gpb_reader* r = Open(gpb_, epp.c_str());
  ASSERT_NE(nullptr, r) << why_;
  EXPECT_STREQ("", why_);
  const std::vector<rawconv_epoch> one = ReadOneByOne(r, &end);
  EXPECT_EQ(0, end);
  rawconv_gpb_close(r);
  ASSERT_GT(one.size(), 10u);
  EXPECT_GE(one.front().week, 0);

  // A block that divides nothing evenly, one the exact size of the file and
  // one far larger.
  for (size_t block : {size_t{7}, one.size(), one.size() * 3}) {
    r = Open(gpb_, epp.c_str());
    ASSERT_NE(nullptr, r) << why_;
    const std::vector<rawconv_epoch> bulk = ReadInBlocks(r, block, &end);
    EXPECT_EQ(0, end) << block;
    ASSERT_EQ(one.size(), bulk.size()) << block;
    for (size_t i = 0; i < one.size(); ++i) ExpectSameEpoch(one[i], bulk[i], i);
    // Once ended, every further call says so with no epoch.
    rawconv_epoch spare;
    size_t count = 5;
    EXPECT_EQ(0, rawconv_gpb_read(r, &spare, 1, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(0, rawconv_gpb_next(r, &spare));
    rawconv_gpb_close(r);
  }
}

TEST_F(BulkReadTest, ColumnsHoldTheRecordsValues) {
  const std::string epp = Path("sample.epp");
  int end = 2;
  rawconv_gpb_reader* r = Open(gpb_, epp.c_str());
  ASSERT_NE(nullptr, r) << why_;
  const std::vector<rawconv_epoch> one = ReadOneByOne(r, &end);
  rawconv_gpb_close(r);

  // Blocks of 7 into arrays for the whole file, each call at its row.
  const size_t n = one.size(), cells = n * RAWCONV_MAX_CHANNELS;
  std::vector<double> tow(n), lat(n), lon(n), height(n), bias(n), lock1(cells), lock2(cells);
  std::vector<int32_t> week(n), channels(n), prn(cells), gpb_prn(cells);
  std::vector<uint8_t> valid(n), kinematic(n);
  std::vector<char> system(cells);
  std::vector<int8_t> lli1(cells), lli2(cells);
  std::vector<std::vector<double>> obs(8, std::vector<double>(cells));
  r = Open(gpb_, epp.c_str());
  ASSERT_NE(nullptr, r) << why_;
  size_t row = 0, count = 0;
  do {
    rawconv_columns c;
    rawconv_columns_init(&c);
    const size_t at = row * RAWCONV_MAX_CHANNELS;
    c.tow = &tow[row], c.week = &week[row], c.latitude = &lat[row], c.longitude = &lon[row];
    c.height = &height[row], c.position_valid = &valid[row], c.kinematic = &kinematic[row];
    c.clock_bias = &bias[row], c.num_channels = &channels[row];
    c.system = &system[at], c.prn = &prn[at], c.gpb_prn = &gpb_prn[at];
    for (int t = 0; t < 8; ++t) c.obs[t] = &obs[t][at];
    c.lock_time1 = &lock1[at], c.lock_time2 = &lock2[at], c.lli1 = &lli1[at], c.lli2 = &lli2[at];
    end = rawconv_gpb_read_columns(r, &c, std::min<size_t>(7, n - row), &count);
    row += count;
  } while (end == 1 && row < n);
  size_t spare = 9;
  rawconv_columns none;
  rawconv_columns_init(&none);
  EXPECT_EQ(0, rawconv_gpb_read_columns(r, &none, 5, &spare));
  EXPECT_EQ(0u, spare);
  rawconv_gpb_close(r);
  ASSERT_EQ(n, row);

  for (size_t i = 0; i < n; ++i) {
    const rawconv_epoch& e = one[i];
    EXPECT_EQ(e.tow, tow[i]);
    EXPECT_EQ(e.week, week[i]);
    EXPECT_EQ(e.latitude, lat[i]);
    EXPECT_EQ(e.longitude, lon[i]);
    EXPECT_EQ(e.height, height[i]);
    EXPECT_EQ(e.position_valid, valid[i]);
    EXPECT_EQ(e.kinematic, kinematic[i]);
    EXPECT_EQ(e.clock_bias, bias[i]);
    ASSERT_EQ(e.num_channels, channels[i]);
    for (int k = 0; k < RAWCONV_MAX_CHANNELS; ++k) {
      const size_t at = i * RAWCONV_MAX_CHANNELS + static_cast<size_t>(k);
      const std::string where = std::to_string(i) + "/" + std::to_string(k);
      if (k >= e.num_channels) {
        EXPECT_EQ(0, system[at]) << where;
        EXPECT_EQ(0, prn[at] | gpb_prn[at] | lli1[at] | lli2[at]) << where;
        EXPECT_TRUE(std::isnan(lock1[at]) && std::isnan(lock2[at])) << where;
        for (int t = 0; t < 8; ++t) EXPECT_TRUE(std::isnan(obs[t][at])) << where;
        continue;
      }
      const rawconv_channel& ch = e.channels[k];
      EXPECT_EQ(ch.system, system[at]) << where;
      EXPECT_EQ(ch.prn, prn[at]) << where;
      EXPECT_EQ(ch.gpb_prn, gpb_prn[at]) << where;
      EXPECT_EQ(ch.lock_time1, lock1[at]) << where;
      EXPECT_EQ(ch.lock_time2, lock2[at]) << where;
      EXPECT_EQ(ch.lli1, lli1[at]) << where;
      EXPECT_EQ(ch.lli2, lli2[at]) << where;
      const double values[8] = {ch.c1, ch.l1, ch.l2, ch.p1, ch.p2, ch.d1, ch.s1, ch.s2};
      for (int t = 0; t < 8; ++t) {
        if (ch.have & (1u << t)) {
          EXPECT_EQ(values[t], obs[t][at]) << where << " type " << t;
        } else {
          EXPECT_TRUE(std::isnan(obs[t][at])) << where << " type " << t;
        }
      }
    }
  }
  EXPECT_EQ(-1, rawconv_gpb_read_columns(nullptr, &none, 1, &count));
}

TEST_F(BulkReadTest, RealRecordingWithGlonassReadsAlikeBothWays) {
  // A day of a real receiver (GPS and GLONASS, up to 24 channels) turned
  // into a GPB file.
  const std::string gpb = Path("wsra.gpb");
  rnxtest::RnxToGpbOptions options;
  rnxtest::RnxToGpbSummary summary;
  std::string error;
  ASSERT_TRUE(rnxtest::ConvertRinexObsFileToGpb(realdata::DataPath("wsra0010.21o"), gpb, options,
                                                &summary, &error))
      << error;
  int end = 2;
  rawconv_gpb_reader* r = Open(gpb, nullptr, -1, "2021-01-01");
  ASSERT_NE(nullptr, r) << why_;
  const std::vector<rawconv_epoch> one = ReadOneByOne(r, &end);
  rawconv_gpb_close(r);
  ASSERT_EQ(static_cast<size_t>(summary.Epochs), one.size());
  bool glonass = false;
  for (const rawconv_epoch& e : one)
    for (int c = 0; c < e.num_channels; ++c) glonass |= e.channels[c].system == 'R';
  EXPECT_TRUE(glonass);

  r = Open(gpb, nullptr, -1, "2021-01-01");
  ASSERT_NE(nullptr, r) << why_;
  const std::vector<rawconv_epoch> bulk = ReadInBlocks(r, 1000, &end);
  rawconv_gpb_close(r);
  EXPECT_EQ(0, end);
  ASSERT_EQ(one.size(), bulk.size());
  for (size_t i = 0; i < one.size(); ++i) ExpectSameEpoch(one[i], bulk[i], i);
}

TEST_F(BulkReadTest, MixesWithTheOneByOneReaderAndRefusesMissingArguments) {
  rawconv_gpb_reader* r = Open(gpb_);
  ASSERT_NE(nullptr, r) << why_;
  rawconv_epoch first, block[2];
  ASSERT_EQ(1, rawconv_gpb_next(r, &first));
  EXPECT_EQ(-1, first.week);  // nothing dates it
  size_t count = 7;
  ASSERT_EQ(1, rawconv_gpb_read(r, block, 2, &count));
  EXPECT_EQ(2u, count);
  EXPECT_GT(block[0].tow, first.tow);
  EXPECT_GT(block[1].tow, block[0].tow);
  // A zero capacity reads nothing and leaves the reader where it was.
  EXPECT_EQ(1, rawconv_gpb_read(r, nullptr, 0, &count));
  EXPECT_EQ(0u, count);
  rawconv_epoch next;
  ASSERT_EQ(1, rawconv_gpb_next(r, &next));
  EXPECT_GT(next.tow, block[1].tow);

  EXPECT_EQ(-1, rawconv_gpb_read(r, nullptr, 3, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(-1, rawconv_gpb_read(r, block, 2, nullptr));
  EXPECT_EQ(-1, rawconv_gpb_read(nullptr, block, 2, &count));
  rawconv_gpb_close(r);
}

TEST_F(BulkReadTest, ADamagedEndGivesTheGoodEpochsAndTheReason) {
  const std::string bytes = AsText(GpbBytes(345600.0, 20));
  const std::string cut = Path("cut.gpb");
  WriteFile(cut, bytes.substr(0, bytes.size() - 10));

  int one_end = 2, bulk_end = 2;
  rawconv_gpb_reader* r = Open(cut);
  ASSERT_NE(nullptr, r) << why_;
  const std::vector<rawconv_epoch> one = ReadOneByOne(r, &one_end);
  const std::string one_error = rawconv_gpb_error(r);
  rawconv_gpb_close(r);

  r = Open(cut);
  ASSERT_NE(nullptr, r) << why_;
  const std::vector<rawconv_epoch> bulk = ReadInBlocks(r, 64, &bulk_end);
  EXPECT_EQ(-1, bulk_end);
  EXPECT_EQ(one_end, bulk_end);
  EXPECT_EQ(19u, bulk.size());
  ASSERT_EQ(one.size(), bulk.size());
  for (size_t i = 0; i < one.size(); ++i) ExpectSameEpoch(one[i], bulk[i], i);
  EXPECT_EQ(one_error, rawconv_gpb_error(r));
  EXPECT_NE("", one_error);
  rawconv_gpb_close(r);
}

TEST_F(BulkReadTest, DatesByWeekDayOrEphemeris) {
  // 345600 s is Thursday 00:00 of week 1341 (2005-09-22).
  const std::string gpb = Path("week.gpb");
  WriteFile(gpb, AsText(GpbBytes(345600.0, 3)));
  WriteFile(Path("week.epp"), epptest::EppText({{1341, 345600, 1}}));

  auto first_week = [&](const char* epp, int32_t week, const char* date) {
    rawconv_gpb_reader* r = Open(gpb, epp, week, date);
    EXPECT_NE(nullptr, r) << why_;
    if (!r) return -2;
    rawconv_epoch e;
    size_t count = 0;
    rawconv_gpb_read(r, &e, 1, &count);
    rawconv_gpb_close(r);
    return count == 1 ? e.week : -3;
  };
  const std::string epp = Path("week.epp");
  EXPECT_EQ(1341, first_week(epp.c_str(), -1, nullptr));
  EXPECT_EQ(1500, first_week(nullptr, 1500, nullptr));
  EXPECT_EQ(-1, first_week(nullptr, -1, nullptr));
  EXPECT_EQ(-1, first_week("", -1, ""));
  // As the conversion's date option does: the week that puts the epoch
  // nearest noon of the day (Monday to Saturday of that week; the next
  // Monday is nearer the next week's Thursday).
  EXPECT_EQ(1341, first_week(nullptr, -1, "2005-09-19"));
  EXPECT_EQ(1341, first_week(nullptr, -1, "2005-09-24"));
  EXPECT_EQ(1342, first_week(nullptr, -1, "2005-09-26"));
  EXPECT_EQ(1340, first_week(nullptr, -1, "2005-09-17"));
  // An early day (before the 1999 rollover) is dated in its own week.
  EXPECT_EQ(0, first_week(nullptr, -1, "1980-01-06"));
}

TEST_F(BulkReadTest, RefusesDatingItCannotFollow) {
  const std::string gpb = Path("week.gpb");
  WriteFile(gpb, AsText(GpbBytes(345600.0, 3)));
  WriteFile(Path("empty.epp"), epptest::EppText({}));
  const std::string missing = Path("nosuch.epp");
  const std::string empty = Path("empty.epp");
  const std::string folder = Path("out");

  struct Case {
    const char* epp;
    int32_t week;
    const char* date;
    std::string expected;
  };
  const Case cases[] = {
      {missing.c_str(), -1, nullptr,
       "Cannot open ephemeris file " + missing + ": No such file or directory"},
      {folder.c_str(), -1, nullptr, "Cannot open ephemeris file " + folder + ": "},
      {empty.c_str(), -1, nullptr,
       "Ephemeris file " + empty + " holds no ephemeris to date the recording"},
      {nullptr, 5217, nullptr, "GPS week 5217 out of range (0 to 5216)"},
      {nullptr, -2, nullptr, "GPS week -2 out of range (0 to 5216)"},
      {nullptr, -1, "2005-4-7", "Bad date \"2005-4-7\": expected YYYY-MM-DD or YYYY/MM/DD, a day of GPS weeks 0 to 5216"},
      {nullptr, -1, "2005-02-30", "Bad date \"2005-02-30\""},
      {nullptr, -1, "1980-01-05", "Bad date \"1980-01-05\""},
      {nullptr, 1341, "2005-09-22", "Give one of an EPP file, a GPS week and a day"},
      {empty.c_str(), 1341, nullptr, "Give one of an EPP file, a GPS week and a day"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(nullptr, Open(gpb, c.epp, c.week, c.date)) << c.expected;
    EXPECT_EQ(0u, std::string(why_).find(c.expected)) << why_;
  }
  // The GPB file's own reason comes as from rawconv_gpb_open.
  const std::string nogpb = Path("nosuch.gpb");
  EXPECT_EQ(nullptr, Open(nogpb));
  EXPECT_EQ("Cannot open GPB file " + nogpb + ": No such file or directory", std::string(why_));
  // The older open keeps reading a file whose EPP file gives no week.
  rawconv_gpb_reader* r = rawconv_gpb_open(gpb.c_str(), missing.c_str(), -1, why_, sizeof why_);
  ASSERT_NE(nullptr, r);
  rawconv_epoch e;
  ASSERT_EQ(1, rawconv_gpb_next(r, &e));
  EXPECT_EQ(-1, e.week);
  rawconv_gpb_close(r);
}

TEST(WriterLayout, CodesAndStrengthIndicatorsAsTheRinex3WritersGiveThem) {
  EXPECT_STREQ("C1C", rawconv_rinex3_code('G', 0));
  EXPECT_STREQ("L2W", rawconv_rinex3_code('G', 2));
  EXPECT_STREQ("C1P", rawconv_rinex3_code('R', 3));
  EXPECT_STREQ("S2P", rawconv_rinex3_code('R', 7));
  EXPECT_EQ(nullptr, rawconv_rinex3_code('E', 0));
  EXPECT_EQ(nullptr, rawconv_rinex3_code('G', 8));
  EXPECT_EQ(nullptr, rawconv_rinex3_code('G', -1));

  const double cn0[] = {0.0, -3.0, NAN, 0.5, 11.99, 12.0, 47.0, 53.99, 54.0, 99.0};
  const uint8_t expected[] = {0, 0, 0, 1, 1, 2, 7, 8, 9, 9};
  uint8_t ssi[sizeof cn0 / sizeof cn0[0]];
  rawconv_strength_indicators(cn0, sizeof cn0 / sizeof cn0[0], ssi);
  for (size_t i = 0; i < sizeof cn0 / sizeof cn0[0]; ++i) EXPECT_EQ(expected[i], ssi[i]) << cn0[i];
  rawconv_strength_indicators(nullptr, 0, nullptr);
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
