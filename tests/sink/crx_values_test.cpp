// Compact RINEX coded from the values the RINEX 2 writer hands beside its
// text must be the bytes coded from the text alone, through the thread
// stage or without it, whatever the values and events of the epochs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "gpb/gpb.h"
#include "memory_sink.h"
#include "obs/obs_writer.h"
#include "obs/rinex3_obs.h"
#include "obs/rinex_versions.h"
#include "sink/crx_sink.h"
#include "sink/thread_sink.h"

namespace {

using namespace rawconv;
using rawconv_test::MemorySink;

const char kHeader[] =
    "     2.11           OBSERVATION DATA    M (MIXED)           RINEX VERSION / TYPE\n"
    "     8    C1    L1    L2    P1    P2    D1    S1    S2      # / TYPES OF OBSERV\n"
    "                                                            END OF HEADER\n";
const char kHeader3[] =
    "     3.04           OBSERVATION DATA    M (MIXED)           RINEX VERSION / TYPE\n"
    "G    8 C1C L1C L2W C1W C2W D1C S1C S2W                      SYS / # / OBS TYPES\n"
    "R    8 C1C L1C L2P C1P C2P D1C S1C S2P                      SYS / # / OBS TYPES\n"
    "                                                            END OF HEADER\n";

// A sink that counts the epoch values and text bytes it is handed and passes
// everything on; `replace` passes on whether the sinks after it need the
// data records' text (else the writer always sends it).
class ValueCounter final : public Sink {
 public:
  explicit ValueCounter(Sink* next, bool replace = false) : next_(next), replace_(replace) {}
  bool Write(const char* data, size_t length) override {
    bytes += length;
    return next_->Write(data, length);
  }
  bool Finish() override { return next_->Finish(); }
  void Abort() override { next_->Abort(); }
  bool WantsValues() const override { return next_->WantsValues(); }
  bool ValuesReplaceRecords() const override { return replace_ && next_->ValuesReplaceRecords(); }
  bool Values(const EpochValues& values) override {
    ++handed;
    if (values.Values == nullptr) ++without;
    return next_->Values(values);
  }
  int handed = 0;
  int without = 0;
  size_t bytes = 0;

 private:
  Sink* next_;
  bool replace_;
};

GpbChannel Channel(int prn, int epoch, int k) {
  GpbChannel c{};
  c.Prn = prn;
  const double t = epoch + 0.37 * k;
  c.C1 = 20000000.0 + 712.3456 * t + 0.01 * std::sin(t);
  c.L1 = -(105000000.0 + 3741.2189 * t + 0.0004 * t * t);
  c.L2 = -(81000000.0 + 2915.2391 * t);
  c.P1 = c.C1 + 0.25;
  c.P2 = c.C1 + 1.75;
  c.D1 = -1234.5678 + 0.001 * t;
  c.Cn0L1 = 45.0 + 0.125 * (k % 3);
  c.Cn0L2 = 38.5;
  c.ObsMask = kObsLock1 | kObsLock2;
  c.LockTime1 = (epoch + k) % 17 == 0 ? 0.0 : 10.0;  // a loss of lock now and then
  c.LockTime2 = (epoch + k) % 23 == 0 ? 0.0 : 10.0;
  return c;
}

// The epochs of the RINEX 2 (major 2) or RINEX 3 writer: satellites coming
// and going (up to 24, two epoch lines above 12 in RINEX 2), GLONASS (some
// without a RINEX 3 number, which RINEX 3 leaves out), values on a
// thousandths tie (formatted by the slow path: that epoch's text is read),
// negative zeros, the widest values a field takes, absent values (a blank
// field in RINEX 3), and station and kinematic events between epochs.
void WriteDay(Sink* sink, int major = 2) {
  const char* header = major == 2 ? kHeader : kHeader3;
  ASSERT_TRUE(sink->Write(header, std::strlen(header)));
  ObsHeaderSummary summary{};
  summary.HasC1 = summary.HasL1 = summary.HasL2 = summary.HasP1 = summary.HasP2 = 1;
  summary.HasD1 = summary.HasS1 = summary.HasS2 = 1;
  std::unique_ptr<EpochRecordWriter> writer = major == 2
                                                  ? MakeRinex2EpochWriter(*sink, summary, kRinex211)
                                                  : MakeRinex3EpochWriter(*sink, summary);
  GpbChannel channels[kMaxChannels];
  for (int e = 0; e < 600; ++e) {
    const EpochDate date{2005, 1, 20, e / 3600, e / 60 % 60, static_cast<double>(e % 60)};
    if (e % 97 == 50) {
      StationEvent station{};
      std::strcpy(station.Name, "SITE");
      station.AntennaHeight = 1.5;
      std::strcpy(station.Comment1, "moved");
      writer->StationBlock(date, station);
    }
    if (e % 131 == 70) {
      writer->KinematicEvent(date, kEpochFlagKinematicStart, 1,
                             "kinematic                                                   COMMENT\n");
    }
    const int n = (e / 40) % 26 < 25 ? (e / 40) % 26 : 0;  // 0..24 satellites
    for (int k = 0; k < n && k < kMaxChannels; ++k) {
      const int prn = k < 16 ? 1 + (k + e / 50) % 32 : 33 + k;  // GLONASS above 32
      channels[k] = Channel(prn, e, k);
    }
    if (n > 3 && e % 29 == 0) channels[1].D1 = 0.0005;          // a tie
    if (n > 3 && e % 31 == 0) channels[2].D1 = -0.0001;         // "-0.000"
    if (n > 3 && e % 37 == 0) channels[3].C1 = 9999999999.999;  // ten whole digits
    if (n > 3 && e % 41 == 0) channels[3].D1 = -999999999.999;
    if (n > 5 && e % 7 == 0) channels[5].P1 = 0.0;  // absent
    if (n > 5 && e % 11 == 0) channels[4].Cn0L2 = 0.0;
    GpbEpoch epoch{};
    epoch.NumChannels = static_cast<int16_t>(n);
    writer->Epoch(date, epoch, channels);
  }
  writer->Flush();
}

std::string CodeOfText(const std::string& text) {
  MemorySink out;
  CrxSink crx(&out);
  EXPECT_TRUE(crx.Write(text.data(), text.size())) << crx.Error();
  EXPECT_TRUE(crx.Finish()) << crx.Error();
  EXPECT_EQ(crx.EpochsFromValues(), 0u);
  return out.text;
}

// One run of the writer's day into the encoder, through a stage of `block`
// bytes (0: none).
void Check(const std::string& want, size_t text_bytes, size_t block, bool replace, int major) {
  MemorySink out;
  CrxSink crx(&out);
  std::unique_ptr<ThreadSink> stage;
  Sink* head = &crx;
  if (block != 0) {
    stage.reset(new ThreadSink(&crx, block));
    head = stage.get();
  }
  ValueCounter counter(head, replace);
  ASSERT_TRUE(counter.WantsValues());
  WriteDay(&counter, major);
  ASSERT_TRUE(counter.Finish()) << crx.Error();
  EXPECT_EQ(out.text, want);
  EXPECT_EQ(counter.handed, 600);  // every epoch, never an event
  EXPECT_GT(counter.without, 0);   // the ties
  EXPECT_EQ(crx.EpochsFromValues(), static_cast<uint64_t>(counter.handed - counter.without));
  // Without records the text is the header, the events, the epoch lines
  // and the records of the epochs handed without values only.
  if (replace) {
    EXPECT_LT(counter.bytes, text_bytes / 3);
  } else {
    EXPECT_EQ(counter.bytes, text_bytes);
  }
}

TEST(CrxValues, TheWritersValuesGiveTheBytesOfItsText) {
  for (int major : {2, 3}) {
    MemorySink text;
    WriteDay(&text, major);
    ASSERT_TRUE(text.Finish());
    const std::string want = CodeOfText(text.text);

    // Straight into the encoder, and through thread stages of small and of
    // the usual blocks (values then travel with the blocks, ahead of text);
    // with the data records' text beside the values, and without it.
    for (bool replace : {false, true}) {
      for (size_t block : {size_t{0}, size_t{1000}, size_t{4096}, ThreadSink::kBlockSize}) {
        SCOPED_TRACE(testing::Message() << "RINEX " << major << " block " << block << " replace "
                                        << replace);
        Check(want, text.text.size(), block, replace, major);
      }
    }
  }
}

TEST(CrxValues, SinksThatCodeNoValuesAreNotHandedAny) {
  MemorySink file;
  ThreadSink plain(&file);
  EXPECT_FALSE(plain.WantsValues());
  ValueCounter counter(&plain);
  WriteDay(&counter);
  ASSERT_TRUE(counter.Finish());
  EXPECT_EQ(counter.handed, 0);
}

TEST(CrxValues, ValuesOutOfStepWithTheTextFail) {
  MemorySink out;
  CrxSink crx(&out);
  ASSERT_TRUE(crx.Write(kHeader, std::strlen(kHeader)));
  const int64_t values[8] = {};
  const char flags[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                          ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  // One satellite handed, two in the epoch line.
  ASSERT_TRUE(crx.Values(EpochValues{100, 1, 8, values, flags, nullptr, nullptr}));
  const std::string epoch = " 05  1 20  0  0  0.0000000  0  2G01G02\n";
  EXPECT_FALSE(crx.Write(epoch.data(), epoch.size()));
  EXPECT_NE(std::string(crx.Error()).find("out of step"), std::string::npos) << crx.Error();
}

}  // namespace
