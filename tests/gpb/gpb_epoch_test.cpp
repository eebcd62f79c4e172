// Epoch records of both formats: field decoding, value tests, lock limits,
// clock rebuild.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace gpbtest
}  // namespace rawconv
