// ScanGpbFile: the epoch index, the interval search, the counters and the
// mean position; the scan inside OpenGpbFile; a scan of a real day of data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gpb_test_env.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace gpbtest {
namespace {

// Channels with a long L1 lock: four of them make an epoch count for the
// mean position.
void TrackedChannels(GpbChannel* ch, int n, int lock_seconds = 60) {
  for (int i = 0; i < n; ++i) {
    ch[i] = GpbChannel{};
    ch[i].Prn = i + 1;
    ch[i].ObsMask = kObsC1 | kObsL1 | kObsLock1;
    ch[i].C1 = 2.0e7;
    ch[i].L1 = 1.0e8;
    ch[i].LockTime1 = lock_seconds;
    ch[i].LockSec1 = static_cast<uint8_t>(lock_seconds);
  }
}

GpbFileBuilder EpochsAt(const std::vector<double>& times, bool is_new = true) {
  GpbFileBuilder b = is_new ? GpbFileBuilder::New() : GpbFileBuilder::Old();
  GpbChannel ch[4];
  TrackedChannels(ch, 4);
  for (double t : times) b.AddEpoch(MakeEpoch(t), ch, 4);
  return b;
}

std::vector<double> Spaced(int n, double step, double start = 1000.0) {
  std::vector<double> t;
  for (int i = 0; i < n; ++i) t.push_back(start + i * step);
  return t;
}

// Writes the file, opens it and scans; the reader stays open.
struct Scanned {
  ScratchFile file;
  GpbClass reader;
  int result = -99;
  const GpbScanResults& r() const { return reader.ScanResults(); }
};

void Scan(Scanned& s, const GpbFileBuilder& b, int ptr_alloc_size = 0, int max_scan_rec = -1) {
  ASSERT_TRUE(b.Write(s.file.str()));
  ASSERT_EQ(OpenForReading(s.reader, s.file), 0) << s.reader.ErrorText();
  s.result = s.reader.ScanGpbFile(ptr_alloc_size, max_scan_rec);
}

TEST(GpbScan, FailuresWithoutAFileOrWithBothLimits) {
  GpbClass reader;
  EXPECT_EQ(reader.ScanGpbFile(0, -1), 1);
  EXPECT_STREQ(reader.ErrorText(), "GPB File not Opened");
  Scanned s;
  Scan(s, EpochsAt(Spaced(3, 1.0)), 5, 5);
  EXPECT_EQ(s.result, 1);
  EXPECT_STREQ(s.reader.ErrorText(),
               "GpbClass error: Both PtrAllocSize and MaxScanRec cannot be used in ScanGpbFile()");
  EXPECT_EQ(s.reader.ScanIndex(), nullptr);
  // The file stays usable.
  EXPECT_EQ(s.reader.ReadGpbEpoch(nullptr, nullptr), 0);
}

TEST(GpbScan, EmptyAndSingleEpochFiles) {
  Scanned empty;
  Scan(empty, GpbFileBuilder::New());
  EXPECT_EQ(empty.result, 0);
  EXPECT_EQ(empty.r().ScanEpochCount, 0);
  EXPECT_EQ(empty.reader.ScanIndex(), nullptr);
  EXPECT_EQ(empty.r().IndexValid, 0);

  for (bool is_new : {true, false}) {
    Scanned one;
    Scan(one, EpochsAt({5000.25}, is_new));
    EXPECT_EQ(one.result, 0);
    EXPECT_EQ(one.r().ScanEpochCount, 1);
    EXPECT_DOUBLE_EQ(one.r().FirstRcvTime, 5000.25);
    EXPECT_DOUBLE_EQ(one.r().LastRcvTime, 604800.0);
    EXPECT_DOUBLE_EQ(one.r().EpochInterval, 0.0);
    const GpbScanEntry* index = one.reader.ScanIndex();
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(index[0].TimeMs, 5000250);
    EXPECT_EQ(index[0].FilePos, is_new ? 512 : 202);
    EXPECT_EQ(index[0].NumChannels, 4);
    EXPECT_EQ(index[0].Flags, 1);
    EXPECT_DOUBLE_EQ(index[0].Latitude, 38.9);
    EXPECT_DOUBLE_EQ(index[0].Longitude, -77.07);
    EXPECT_FLOAT_EQ(index[0].Height, 50.0f);
    EXPECT_EQ(index[1].TimeMs, 1000000000);
    EXPECT_EQ(index[1].FilePos, is_new ? 512 + 84 + 4 * 56 : 202 + 68 + 4 * 44);
  }
}

TEST(GpbScan, IntervalLooksPastTheFirstEpochs) {
  struct Case {
    std::vector<double> times;
    double interval;
  };
  // Under 10 epochs only the differences from epoch 3 on count: the 0.5 s
  // steps at epochs 1 and 2 are ignored.
  const Case cases[] = {
      {{0.0, 0.5, 1.0, 3.0, 4.0}, 1.0},
      {Spaced(5, 1.0), 1.0},
      {Spaced(5, 600.0), 0.0},        // smallest 600: not below 300
      {Spaced(5, 299.0), 299.0},
      {{0.0, 1.0, 2.0, 2.002, 2.006}, 0.0},  // 0.002 and 0.004 are too small
      {{0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 2.5, 4.5, 6.5, 8.5, 10.5}, 2.0},  // 11 epochs: from epoch 6
  };
  for (const Case& c : cases) {
    Scanned s;
    Scan(s, EpochsAt(c.times));
    EXPECT_EQ(s.result, 0);
    EXPECT_NEAR(s.r().EpochInterval, c.interval, 1e-9) << c.times.size() << " " << c.times[1];
    EXPECT_DOUBLE_EQ(s.r().LastRcvTime, c.times.back());
  }
}

TEST(GpbScan, PlannedSizeAndCountLimit) {
  GpbFileBuilder b = EpochsAt(Spaced(40, 1.0));
  const size_t file_size = b.Bytes().size();
  {
    // No counting pass: the index pass ends at the end of the file; with a
    // planned count of 1000 differences count only after epoch 50.
    Scanned s;
    Scan(s, b, 1000, 0);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.r().ScanEpochCount, 40);
    EXPECT_DOUBLE_EQ(s.r().EpochInterval, 0.0);
    const GpbScanEntry* index = s.reader.ScanIndex();
    ASSERT_NE(index, nullptr);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(index[i].FilePos, static_cast<int32_t>(b.RecordOffset(i)));
    EXPECT_EQ(index[40].TimeMs, 1000000000);
    EXPECT_EQ(index[40].FilePos, static_cast<int32_t>(file_size));
    // The scan leaves the stream at the first epoch.
    ASSERT_EQ(s.reader.ReadGpbEpoch(nullptr, nullptr), 0);
    EXPECT_DOUBLE_EQ(s.reader.InternalEpoch().RcvTime, 1000.0);
  }
  {
    Scanned s;
    Scan(s, b, 0, 10);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.r().ScanEpochCount, 10);
    EXPECT_DOUBLE_EQ(s.r().LastRcvTime, 1009.0);
    EXPECT_DOUBLE_EQ(s.r().EpochInterval, 1.0);
    EXPECT_EQ(s.reader.ScanIndex()[10].FilePos, static_cast<int32_t>(b.RecordOffset(10)));
  }
  {
    // Without limits all 40 are counted and indexed (10..99: from epoch 6).
    Scanned s;
    Scan(s, b);
    EXPECT_EQ(s.r().ScanEpochCount, 40);
    EXPECT_DOUBLE_EQ(s.r().EpochInterval, 1.0);
  }
}

TEST(GpbScan, CorruptRecordInTheMiddle) {
  GpbFileBuilder b = EpochsAt(Spaced(10, 1.0));
  SetChecksum(b.Record(5), 0x1234);
  Scanned s;
  Scan(s, b);
  EXPECT_EQ(s.result, 0);
  // The counting pass skips the bad record (9 epochs); the index pass stops
  // at it.
  EXPECT_EQ(s.r().ScanEpochCount, 5);
  EXPECT_EQ(s.r().ScanErrorCount, 1);
  EXPECT_EQ(std::string(s.reader.ErrorText()),
            "Invalid Record Checksum in " + s.file.str() + "--file may have been corrupted");
  EXPECT_EQ(s.reader.ScanIndex()[5].TimeMs, 1000000000);
  EXPECT_EQ(s.reader.ScanIndex()[5].FilePos, static_cast<int32_t>(b.RecordOffset(6)));
  // The error count is not reset by a new scan, only by closing.
  EXPECT_EQ(s.reader.ScanGpbFile(0, -1), 0);
  EXPECT_EQ(s.r().ScanErrorCount, 2);
  s.reader.CloseGpbFile();
  EXPECT_EQ(s.r().ScanErrorCount, 0);
  EXPECT_EQ(s.reader.ScanIndex(), nullptr);
}

TEST(GpbScan, CountersPerSatelliteAndType) {
  GpbFileBuilder b = GpbFileBuilder::New();
  GpbChannel ch[6]{};
  ch[0].Prn = 3;
  ch[0].ObsMask = kObsC1 | kObsL1 | kObsD1 | kObsCn0L1 | kObsLock1;
  ch[0].C1 = 2.0e7;
  ch[0].L1 = 1.0e8;
  ch[0].D1 = 10.0;
  ch[0].Cn0L1 = 25.0;
  ch[1].Prn = 40;  // GLONASS
  ch[1].ObsMask = kObsP1 | kObsP2 | kObsL2 | kObsCn0L1 | kObsCn0L2;
  ch[1].P1 = ch[1].P2 = 2.0e7;
  ch[1].L2 = 1.0e8;
  ch[1].Cn0L1 = 58.25;  // above the range
  ch[1].Cn0L2 = 58.0;
  ch[2].Prn = 71;
  ch[2].ObsMask = kObsCn0L2;
  ch[2].Cn0L2 = 24.75;  // below the range
  ch[3].Prn = 0;  // not counted
  ch[3].ObsMask = kObsC1;
  ch[3].C1 = 2.0e7;
  ch[4].Prn = 72;  // not counted
  ch[4].ObsMask = kObsC1;
  ch[4].C1 = 2.0e7;
  ch[5].Prn = 3;
  b.AddEpoch(MakeEpoch(10.0), ch, 6);
  b.AddEpoch(MakeEpoch(11.0), ch, 3);
  Scanned s;
  Scan(s, b);
  ASSERT_EQ(s.result, 0);
  const GpbScanResults& r = s.r();
  EXPECT_EQ(r.PrnChannelCount[3], 3);
  EXPECT_EQ(r.PrnChannelCount[40], 2);
  EXPECT_EQ(r.PrnChannelCount[71], 2);
  EXPECT_EQ(r.PrnChannelCount[0], 0);
  EXPECT_EQ(r.CountChannels, 7);
  EXPECT_EQ(r.CountC1, 2);
  EXPECT_EQ(r.CountL1, 2);
  EXPECT_EQ(r.CountD1, 2);
  EXPECT_EQ(r.CountP1, 2);
  EXPECT_EQ(r.CountP2, 2);
  EXPECT_EQ(r.CountL2, 2);
  EXPECT_EQ(r.CountGlonass, 4);  // 40 and 71, twice each
  EXPECT_EQ(r.CountCn0L1, 4);
  EXPECT_EQ(r.CountCn0L1InRange, 2);
  EXPECT_EQ(r.CountCn0L2InRange, 2);
  EXPECT_EQ(r.HasP1, 1);
  EXPECT_EQ(r.HasL2Phase, 1);
  // A second scan counts afresh.
  ASSERT_EQ(s.reader.ScanGpbFile(0, -1), 0);
  EXPECT_EQ(r.PrnChannelCount[3], 3);
  EXPECT_EQ(r.CountChannels, 7);
}

TEST(GpbScan, MeanPositionFromWellTrackedEpochs) {
  GpbChannel four[4], short_lock[4];
  TrackedChannels(four, 4, 13);
  TrackedChannels(short_lock, 4, 12);  // 12 s is not above 12
  {
    GpbFileBuilder b = GpbFileBuilder::New();
    b.AddEpoch(MakeEpoch(1.0, 10.0, 20.0, 100.0f), four, 4);
    b.AddEpoch(MakeEpoch(2.0, 12.0, 22.0, 110.0f), four, 4);
    b.AddEpoch(MakeEpoch(3.0, 50.0, 50.0, 900.0f), four, 3);        // three channels
    b.AddEpoch(MakeEpoch(4.0, 50.0, 50.0, 900.0f), short_lock, 4);  // short locks
    b.AddEpoch(MakeEpoch(5.0, 50.0, 50.0, 900.0f, 0), four, 4);     // no valid position
    b.AddEpoch(MakeEpoch(6.0, 0.0, 50.0, 900.0f, 1), four, 4);      // position flag stays, lat 0
    b.AddEpoch(MakeEpoch(7.0, 60.0, 60.0, 900.0f, 3), four, 4);     // kinematic
    Scanned s;
    Scan(s, b);
    ASSERT_EQ(s.result, 0);
    EXPECT_EQ(s.r().MeanPosValid, 1);
    EXPECT_DOUBLE_EQ(s.r().MeanLatitude, 11.0);
    EXPECT_DOUBLE_EQ(s.r().MeanLongitude, 21.0);
    EXPECT_FLOAT_EQ(s.r().MeanHeight, 105.0f);
  }
  {
    // Only kinematic epochs: the first one's position.
    GpbFileBuilder b = GpbFileBuilder::Old();
    b.AddEpoch(MakeEpoch(1.0, 10.0, 20.0, 100.0f, 3), four, 3);
    b.AddEpoch(MakeEpoch(2.0, 30.0, 40.0, 200.0f, 3), four, 4);
    b.AddEpoch(MakeEpoch(3.0, 31.0, 41.0, 201.0f, 3), four, 4);
    Scanned s;
    Scan(s, b);
    ASSERT_EQ(s.result, 0);
    EXPECT_EQ(s.r().MeanPosValid, 1);
    EXPECT_DOUBLE_EQ(s.r().MeanLatitude, 30.0);
    EXPECT_DOUBLE_EQ(s.r().MeanLongitude, 40.0);
    EXPECT_FLOAT_EQ(s.r().MeanHeight, 200.0f);
  }
  {
    GpbFileBuilder b = GpbFileBuilder::New();
    b.AddEpoch(MakeEpoch(1.0, 10.0, 20.0, 100.0f), short_lock, 4);
    Scanned s;
    Scan(s, b);
    EXPECT_EQ(s.r().MeanPosValid, 0);
    EXPECT_EQ(s.r().MeanLatitude, 0.0);
  }
}

TEST(GpbScan, PositionAndKinematicTests) {
  GpbClass reader;
  GpbEpoch e = MakeEpoch(1.0, 1.0, 1.0, 0.0f, 3);
  EXPECT_EQ(reader.IsPositionValid(&e), 1);
  EXPECT_EQ(reader.IsKinematic(&e), 1);
  e.Latitude = 0.0;
  EXPECT_EQ(reader.IsPositionValid(&e), 0);
  e = MakeEpoch(1.0, 1.0, 0.0, 0.0f, 1);
  EXPECT_EQ(reader.IsPositionValid(&e), 0);
  e.Flags = 0;
  e.Longitude = 1.0;
  EXPECT_EQ(reader.IsPositionValid(&e), 0);
  EXPECT_EQ(reader.IsKinematic(&e), 0);
  // Without an epoch: the internal buffer (zero after construction).
  EXPECT_EQ(reader.IsPositionValid(nullptr), 0);
  EXPECT_EQ(reader.IsKinematic(nullptr), 0);
}

TEST(GpbScan, ScanOnOpen) {
  GpbFileBuilder b = EpochsAt(Spaced(20, 5.0));
  ScratchFile file;
  ASSERT_TRUE(b.Write(file.str()));
  GpbClass reader;
  ASSERT_EQ(reader.OpenGpbFile(file.c_str(), 1, 4096, GIO_READ, 0), 0) << reader.ErrorText();
  EXPECT_EQ(reader.ScanResults().ScanEpochCount, 20);
  EXPECT_DOUBLE_EQ(reader.ScanResults().EpochInterval, 5.0);
  ASSERT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0);
  EXPECT_DOUBLE_EQ(reader.InternalEpoch().RcvTime, 1000.0);
  reader.CloseGpbFile();

  // Append mode needs a planned size for the scan.
  ASSERT_EQ(reader.OpenGpbFile(file.c_str(), 1, 4096, GIO_APPEND, 30), 0) << reader.ErrorText();
  EXPECT_EQ(reader.ScanResults().ScanEpochCount, 20);
  EXPECT_EQ(reader.ScanIndex()[20].TimeMs, 1000000000);
  reader.CloseGpbFile();

  // A new open drops the index of the last scan.
  ASSERT_EQ(reader.OpenGpbFile(file.c_str(), 1, 4096, GIO_READ, 0), 0);
  ASSERT_NE(reader.ScanIndex(), nullptr);
  ScratchFile other;
  ASSERT_TRUE(GpbFileBuilder::Old().Write(other.str()));
  reader.CloseGpbFile();
  ASSERT_EQ(OpenForReading(reader, other), 0);
  EXPECT_EQ(reader.ScanIndex(), nullptr);
  EXPECT_EQ(reader.ScanResults().ScanEpochCount, 0);
}

TEST(GpbScan, RealDayOfData) {
  const std::string rinex_path = std::string(RAWCONV_SHARED_DATA_DIR) + "/usno0200.05o";
  rnxtest::RinexObsFile rinex;
  std::string error;
  ASSERT_TRUE(rnxtest::ReadRinexObsFile(rinex_path, &rinex, &error)) << error;
  for (bool is_new : {true, false}) {
    rnxtest::RnxToGpbOptions options;
    options.NewFormat = is_new;
    GpbFileBuilder gpb = rnxtest::MakeGpbFileFor(rinex.Header, options);
    rnxtest::RnxToGpbSummary summary;
    rnxtest::ConvertRinexObs(rinex, options, &gpb, &summary);
    ASSERT_EQ(summary.Epochs, 2880);
    Scanned s;
    Scan(s, gpb);
    ASSERT_EQ(s.result, 0) << s.reader.ErrorText();
    const GpbScanResults& r = s.r();
    EXPECT_EQ(r.ScanEpochCount, 2880);
    EXPECT_DOUBLE_EQ(r.EpochInterval, 30.0);
    EXPECT_DOUBLE_EQ(r.FirstRcvTime, 4 * 86400.0);
    EXPECT_DOUBLE_EQ(r.LastRcvTime, 5 * 86400.0 - 30.0);
    EXPECT_EQ(r.ScanErrorCount, 0);
    EXPECT_EQ(r.HasL2Phase, 1);
    EXPECT_EQ(r.HasP1, is_new ? 1 : 0);
    int per_satellite = 0;
    for (int prn = 1; prn <= 71; ++prn) per_satellite += r.PrnChannelCount[prn];
    EXPECT_EQ(per_satellite, r.CountChannels);
    EXPECT_GT(r.CountChannels, 2880 * 6);
    ASSERT_EQ(r.MeanPosValid, 1);
    double x = 0, y = 0, z = 0;
    ToEcef(r.MeanLatitude, r.MeanLongitude, r.MeanHeight, &x, &y, &z);
    EXPECT_NEAR(x, rinex.Header.ApproxX, 2.0);
    EXPECT_NEAR(y, rinex.Header.ApproxY, 2.0);
    EXPECT_NEAR(z, rinex.Header.ApproxZ, 2.0);
  }
}

}  // namespace
}  // namespace gpbtest
}  // namespace rawconv
