// Epoch records of both formats: field decoding, value tests, lock limits,
// clock rebuild.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "gpb_test_env.h"

namespace rawconv {
namespace gpbtest {
namespace {

TEST(GpbEpochRead, NewFormatFieldsRoundTrip) {
  ScratchFile file;
  GpbFileBuilder b = GpbFileBuilder::New(34, "OEM4 test");
  GpbEpoch e = MakeEpoch(345600.25, 38.92, -77.06, 57.5f, 3);
  e.RawRcvTime = 345600.2;
  e.ClockRefTime = 12.5;
  e.ClockBias = 1234.5;
  e.ExtraFloat = 7.25f;
  e.ExtraWord1 = -3;
  e.ExtraWord2 = 9;
  GpbChannel ch[2]{};
  ch[0].Prn = 5;
  ch[0].ObsMask = kObsC1 | kObsL1 | kObsD1 | kObsLock1 | kObsCn0L1 | kObsP1 | kObsP2 | kObsL2 |
                  kObsLock2 | kObsCn0L2;
  ch[0].C1 = 21000000.125;
  ch[0].L1 = -110000000.5;
  ch[0].D1 = -1234.5;
  ch[0].LockTime1 = 60.0;
  ch[0].Cn0L1 = 45.25;
  ch[0].P1 = 21000001.5;
  ch[0].P2 = 21000002.5;
  ch[0].L2 = -85000000.25;
  ch[0].LockTime2 = 30.0;
  ch[0].Cn0L2 = 38.5;
  ch[1].Prn = 40;
  ch[1].ObsMask = kObsC1;
  ch[1].C1 = 22000000.0;
  b.AddEpoch(e, ch, 2, true);
  ASSERT_TRUE(b.Write(file.str()));

  GpbClass reader;
  ASSERT_EQ(OpenForReading(reader, file), 0) << reader.ErrorText();
  GpbEpoch got{};
  GpbChannel out[kMaxChannels]{};
  ASSERT_EQ(reader.ReadGpbEpoch(&got, out), 0) << reader.ErrorText();
  EXPECT_EQ(got.Flags, 3);
  EXPECT_EQ(got.NumChannels, 2);
  EXPECT_DOUBLE_EQ(got.Latitude, 38.92);
  EXPECT_DOUBLE_EQ(got.Longitude, -77.06);
  EXPECT_FLOAT_EQ(got.Height, 57.5f);
  EXPECT_DOUBLE_EQ(got.RawRcvTime, 345600.2);
  EXPECT_DOUBLE_EQ(got.RcvTime, 345600.25);
  EXPECT_DOUBLE_EQ(got.ClockRefTime, 12.5);
  EXPECT_EQ(got.RcvTimeMs, 345600250);
  EXPECT_DOUBLE_EQ(got.ClockBias, 1234.5);
  EXPECT_FLOAT_EQ(got.ExtraFloat, 7.25f);
  EXPECT_EQ(got.ExtraWord1, -3);
  EXPECT_EQ(got.ExtraWord2, 9);
  EXPECT_EQ(out[0].Prn, 5);
  EXPECT_EQ(out[0].ObsMask, ch[0].ObsMask);
  EXPECT_DOUBLE_EQ(out[0].C1, 21000000.125);
  EXPECT_DOUBLE_EQ(out[0].L1, -110000000.5);
  EXPECT_DOUBLE_EQ(out[0].D1, -1234.5);
  EXPECT_DOUBLE_EQ(out[0].LockTime1, 60.0);
  EXPECT_EQ(out[0].LockSec1, 60);
  EXPECT_DOUBLE_EQ(out[0].Cn0L1, 45.25);
  EXPECT_DOUBLE_EQ(out[0].P1, 21000001.5);
  EXPECT_DOUBLE_EQ(out[0].P2, 21000002.5);
  EXPECT_DOUBLE_EQ(out[0].L2, -85000000.25);
  EXPECT_DOUBLE_EQ(out[0].LockTime2, 30.0);
  EXPECT_DOUBLE_EQ(out[0].Cn0L2, 38.5);
  EXPECT_EQ(out[1].Prn, 40);
  EXPECT_EQ(out[1].ObsMask, kObsC1);
  EXPECT_EQ(reader.ReadGpbEpoch(&got, out), -1);
  EXPECT_STREQ(reader.ErrorText(), "Reached end of file");
}

// Reads the first epoch of a file built from one record.
struct ReadOne {
  int result = 0;
  GpbEpoch epoch{};
  GpbChannel ch[kMaxChannels]{};
  std::string error;
};

ReadOne ReadRecord(GpbFileBuilder& b, ByteVec record, GpbEpoch start = GpbEpoch{}) {
  ScratchFile file;
  b.Add(std::move(record));
  ReadOne r;
  if (!b.Write(file.str())) {
    r.result = 99;
    return r;
  }
  GpbClass reader;
  if (OpenForReading(reader, file) != 0) {
    r.result = 98;
    r.error = reader.ErrorText();
    return r;
  }
  r.epoch = start;
  r.result = reader.ReadGpbEpoch(&r.epoch, r.ch);
  r.error = reader.ErrorText();
  return r;
}

ReadOne ReadNewBlocks(const std::vector<L1Block>& l1, const std::vector<L2Block>& l2 = {}) {
  GpbFileBuilder b = GpbFileBuilder::New();
  GpbEpoch e = MakeEpoch(100.0);
  e.NumChannels = static_cast<int16_t>(l1.size());
  return ReadRecord(b, EncodeNewRecord(e, l1, l2));
}

TEST(GpbEpochRead, NewFormatSizeTestsAndStatusBits) {
  L1Block small;  // status set, values at or below the limits
  small.Status = 0x1F | 0x80;
  small.C1 = 10.0;
  small.L1 = -0.01;
  L1Block above = small;
  above.C1 = -10.001;
  above.L1 = 0.0101;
  L1Block unset;  // large values without status bits
  unset.C1 = 2.0e7;
  unset.L1 = 1.0e8;
  unset.D1 = 5.0f;
  unset.Lock = 100;
  unset.Cn0 = 100;
  L2Block small2;
  small2.Status = 0x3B;
  small2.P1 = 10.0;
  small2.P2 = -10.0;
  small2.L2 = 0.01;
  L2Block above2 = small2;
  above2.P1 = 10.5;
  above2.P2 = -10.5;
  above2.L2 = -0.02;
  L2Block unset2;
  unset2.P1 = unset2.P2 = 2.0e7;
  unset2.L2 = 1.0e8;

  ReadOne r = ReadNewBlocks({small, above, unset}, {small2, above2, unset2});
  ASSERT_EQ(r.result, 0) << r.error;
  // At the limit: absent, and no 0x10000 without C1.
  EXPECT_EQ(r.ch[0].ObsMask, kObsD1 | kObsLock1 | kObsCn0L1 | kObsLock2 | kObsCn0L2);
  EXPECT_EQ(r.ch[0].C1, 0.0);
  EXPECT_EQ(r.ch[0].L1, 0.0);
  EXPECT_EQ(r.ch[0].P1, 0.0);
  EXPECT_EQ(r.ch[0].P2, 0.0);
  EXPECT_EQ(r.ch[0].L2, 0.0);
  // Just above, in absolute value.
  EXPECT_EQ(r.ch[1].ObsMask, kObsC1 | kObsL1 | kObsD1 | kObsLock1 | kObsCn0L1 | kObsP1 | kObsP2 |
                                 kObsL2 | kObsLock2 | kObsCn0L2 | kObsL1Status80);
  EXPECT_DOUBLE_EQ(r.ch[1].C1, -10.001);
  EXPECT_DOUBLE_EQ(r.ch[1].L1, 0.0101);
  EXPECT_DOUBLE_EQ(r.ch[1].P1, 10.5);
  EXPECT_DOUBLE_EQ(r.ch[1].P2, -10.5);
  EXPECT_DOUBLE_EQ(r.ch[1].L2, -0.02);
  // Without status bits nothing is taken.
  EXPECT_EQ(r.ch[2].ObsMask, 0u);
  EXPECT_EQ(r.ch[2].C1, 0.0);
  EXPECT_EQ(r.ch[2].D1, 0.0);
  EXPECT_EQ(r.ch[2].LockTime1, 0.0);
  EXPECT_EQ(r.ch[2].Cn0L1, 0.0);
  EXPECT_EQ(r.ch[2].P2, 0.0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.ch[i].Prn, 1);
    EXPECT_EQ(r.ch[i].Reserved, 0);
    EXPECT_EQ(r.ch[i].Spare, 0);
  }
}

TEST(GpbEpochRead, NewFormatLockAndSignalScales) {
  auto lock = [](uint16_t count, uint8_t cn0) {
    L1Block b;
    b.Prn = 255;
    b.Status = 0x18;
    b.Lock = count;
    b.Cn0 = cn0;
    return b;
  };
  L2Block l2;
  l2.Status = 0x18;
  l2.Lock = 30000;
  l2.Cn0 = 255;
  ReadOne r = ReadNewBlocks({lock(30000, 181), lock(0, 0), lock(5119, 1), lock(5120, 2), lock(7, 3)},
                            {l2, l2, l2, l2, l2});
  ASSERT_EQ(r.result, 0) << r.error;
  EXPECT_EQ(r.ch[0].Prn, 255);
  EXPECT_DOUBLE_EQ(r.ch[0].LockTime1, 1200.0);
  EXPECT_EQ(r.ch[0].LockSec1, 255);
  EXPECT_DOUBLE_EQ(r.ch[0].Cn0L1, 45.25);
  EXPECT_DOUBLE_EQ(r.ch[1].LockTime1, 0.0);
  EXPECT_EQ(r.ch[1].LockSec1, 0);
  EXPECT_TRUE(r.ch[1].ObsMask & kObsLock1);
  EXPECT_TRUE(r.ch[1].ObsMask & kObsCn0L1);
  EXPECT_NEAR(r.ch[2].LockTime1, 255.95, 1e-9);
  EXPECT_EQ(r.ch[2].LockSec1, 255);
  EXPECT_DOUBLE_EQ(r.ch[3].LockTime1, 256.0);
  EXPECT_EQ(r.ch[3].LockSec1, 255);
  EXPECT_NEAR(r.ch[4].LockTime1, 0.35, 1e-12);
  EXPECT_EQ(r.ch[4].LockSec1, 0);
  EXPECT_DOUBLE_EQ(r.ch[0].LockTime2, 1200.0);
  EXPECT_DOUBLE_EQ(r.ch[0].Cn0L2, 63.75);
}

TEST(GpbEpochRead, OldFormatFieldsAndSizeTests) {
  GpbFileBuilder b = GpbFileBuilder::Old(2);
  OldPosition pos;
  pos.Flags = static_cast<int8_t>(0x83);
  pos.Latitude = -33.5;
  pos.Longitude = 151.25;
  pos.Height = 12.5f;
  pos.Time = 345600.0006;
  pos.ClockRefTime = 345600.0;
  pos.ClockBias = 299792.458;
  pos.ExtraValue = 2.5;
  pos.ExtraWord = -7;
  OldMeasurement m1;
  m1.Prn = 12;
  m1.Lock = 200;
  m1.C1 = 50.0;  // stored, but below the old-format limit
  m1.L1 = -100.0;
  m1.D1 = 0.0;
  m1.P2 = 100.5;
  m1.L2 = -250.0;
  OldMeasurement m2;
  m2.Prn = static_cast<int8_t>(-3);
  m2.C1 = -2.0e7;
  m2.L1 = 100.001;
  m2.P2 = 99.0;
  m2.L2 = 0.5;
  GpbEpoch start{};
  start.ExtraWord1 = 4321;
  ReadOne r = ReadRecord(b, EncodeOldRecord(pos, {m1, m2}), start);
  ASSERT_EQ(r.result, 0) << r.error;
  EXPECT_EQ(r.epoch.Flags, static_cast<int16_t>(-125));
  EXPECT_EQ(r.epoch.NumChannels, 2);
  EXPECT_DOUBLE_EQ(r.epoch.Latitude, -33.5);
  EXPECT_DOUBLE_EQ(r.epoch.Longitude, 151.25);
  EXPECT_FLOAT_EQ(r.epoch.Height, 12.5f);
  EXPECT_DOUBLE_EQ(r.epoch.RcvTime, 345600.0006);
  EXPECT_DOUBLE_EQ(r.epoch.RawRcvTime, 345600.0006);  // type 2: no clock rebuild
  EXPECT_EQ(r.epoch.RcvTimeMs, 345600001);
  EXPECT_DOUBLE_EQ(r.epoch.ClockRefTime, 345600.0);
  EXPECT_DOUBLE_EQ(r.epoch.ClockBias, 299792.458);
  EXPECT_FLOAT_EQ(r.epoch.ExtraFloat, 2.5f);
  EXPECT_EQ(r.epoch.ExtraWord2, -7);
  EXPECT_EQ(r.epoch.ExtraWord1, 4321);  // not part of old records

  EXPECT_EQ(r.ch[0].Prn, 12);
  EXPECT_DOUBLE_EQ(r.ch[0].C1, 50.0);
  EXPECT_DOUBLE_EQ(r.ch[0].L1, -100.0);
  EXPECT_DOUBLE_EQ(r.ch[0].P2, 100.5);
  EXPECT_DOUBLE_EQ(r.ch[0].L2, -250.0);
  EXPECT_DOUBLE_EQ(r.ch[0].LockTime1, 200.0);
  EXPECT_EQ(r.ch[0].LockSec1, 200);
  EXPECT_EQ(r.ch[0].ObsMask, kObsD1 | kObsLock1 | kObsP2 | kObsL2);
  EXPECT_EQ(r.ch[1].Prn, -3);
  EXPECT_DOUBLE_EQ(r.ch[1].P2, 99.0);
  EXPECT_DOUBLE_EQ(r.ch[1].L2, 0.5);
  EXPECT_EQ(r.ch[1].ObsMask, kObsC1 | kObsL1 | kObsD1 | kObsLock1);
  EXPECT_EQ(r.ch[1].P1, 0.0);
  EXPECT_EQ(r.ch[1].Cn0L1, 0.0);
}

TEST(GpbEpochRead, ClockRebuildOnlyForItsReceiverTypes) {
  OldPosition pos;
  pos.Latitude = 1.0;
  pos.Longitude = 1.0;
  pos.Time = 1000.0;
  pos.ClockRefTime = 999.5;
  pos.ClockBias = 299792458.0 * 0.25;
  for (int type : {6, 8, 15, 20, 24, 28, 31, 35}) {
    GpbFileBuilder b = GpbFileBuilder::Old(type);
    ReadOne r = ReadRecord(b, EncodeOldRecord(pos, {}));
    ASSERT_EQ(r.result, 0) << r.error;
    EXPECT_NEAR(r.epoch.RawRcvTime, 999.75, 1e-9) << type;
    EXPECT_DOUBLE_EQ(r.epoch.RcvTime, 1000.0);
  }
  for (int type : {2, 5, 7, 16, 30, 40}) {
    GpbFileBuilder b = GpbFileBuilder::Old(type);
    ReadOne r = ReadRecord(b, EncodeOldRecord(pos, {}));
    ASSERT_EQ(r.result, 0) << r.error;
    EXPECT_DOUBLE_EQ(r.epoch.RawRcvTime, 1000.0) << type;
  }
  // The new format never rebuilds: the stored raw time is kept.
  GpbFileBuilder b = GpbFileBuilder::New(31);
  GpbEpoch e = MakeEpoch(1000.0);
  e.RawRcvTime = 1000.5;
  e.ClockRefTime = 5.0;
  e.ClockBias = 1.0e9;
  ReadOne r = ReadRecord(b, EncodeNewRecord(e, {}));
  ASSERT_EQ(r.result, 0) << r.error;
  EXPECT_DOUBLE_EQ(r.epoch.RawRcvTime, 1000.5);
}

TEST(GpbEpochRead, PositionCheckAndMilliseconds) {
  struct Case {
    double lat, lon, time;
    int16_t flags_in, flags_out;
    int32_t ms;
  };
  const Case cases[] = {
      {0.0, 0.0, 345600.0004, 3, 2, 345600000},
      {0.0, 5.0, 345600.0006, 1, 1, 345600001},
      {5.0, 0.0, 0.0, 1, 1, 0},
      {0.0, 0.0, 604799.9996, 0, 0, 604800000},
  };
  for (const Case& c : cases) {
    for (bool is_new : {true, false}) {
      GpbFileBuilder b = is_new ? GpbFileBuilder::New() : GpbFileBuilder::Old();
      GpbEpoch e = MakeEpoch(c.time, c.lat, c.lon, 1.0f, c.flags_in);
      e.RcvTimeMs = 123;  // the stored value is never used
      ReadOne r = ReadRecord(b, b.IsNew() ? EncodeNewEpoch(e, nullptr, 0, false)
                                          : EncodeOldEpoch(e, nullptr, 0));
      ASSERT_EQ(r.result, 0) << r.error;
      EXPECT_EQ(r.epoch.Flags, c.flags_out) << c.lat << " " << c.lon << " new " << is_new;
      EXPECT_EQ(r.epoch.RcvTimeMs, c.ms) << c.time;
    }
  }
}

TEST(GpbEpochRead, TimingCheckAtThirtySeconds) {
  for (double offset : {30.0, -30.0}) {
    GpbFileBuilder b = GpbFileBuilder::New();
    GpbEpoch e = MakeEpoch(1000.0);
    e.RawRcvTime = 1000.0 + offset;
    EXPECT_EQ(ReadRecord(b, EncodeNewRecord(e, {})).result, 0) << offset;
  }
  GpbFileBuilder b = GpbFileBuilder::New();
  GpbEpoch e = MakeEpoch(1000.0);
  e.RawRcvTime = 969.9995;
  b.Add(EncodeNewRecord(MakeEpoch(999.0), {}));
  ScratchFile file;
  b.Add(EncodeNewRecord(e, {}));
  ASSERT_TRUE(b.Write(file.str()));
  GpbClass reader;
  ASSERT_EQ(OpenForReading(reader, file), 0);
  GpbEpoch got{};
  GpbChannel ch[kMaxChannels];
  ASSERT_EQ(reader.ReadGpbEpoch(&got, ch), 0);
  EXPECT_EQ(reader.ReadGpbEpoch(&got, ch), 1);
  EXPECT_EQ(std::string(reader.ErrorText()),
            "Timing error in " + file.str() + " (RawRcvTime 970.000 too distant from RcvTime 1000.000)");
  // The failed record's header was not copied out.
  EXPECT_DOUBLE_EQ(got.RcvTime, 999.0);
}

}  // namespace
}  // namespace gpbtest
}  // namespace rawconv
