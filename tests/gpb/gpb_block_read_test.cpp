// Files larger than the reader's blocks: records that straddle block
// boundaries, rewinds inside and outside the block held, and the input's
// own limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gpb/gpb_input.h"
#include "gpb_test_env.h"

namespace rawconv {
namespace gpbtest {
namespace {

GpbChannel Channel(int prn, int epoch) {
  GpbChannel ch{};
  ch.Prn = prn;
  ch.ObsMask = kObsC1 | kObsL1 | kObsP2 | kObsL2;
  ch.C1 = 2.0e7 + epoch * 10.0 + prn;
  ch.L1 = 1.0e8 + epoch;
  ch.P2 = 2.0e7 + epoch * 10.0 + prn + 2.5;
  ch.L2 = 8.0e7 + epoch;
  return ch;
}

// Epoch i has i % 25 channels (0 to 24), so record sizes vary and record
// starts fall at every distance from the block boundaries. Enough epochs
// for several full blocks in either format.
GpbFileBuilder ManyEpochs(bool is_new, int count) {
  GpbFileBuilder b = is_new ? GpbFileBuilder::New() : GpbFileBuilder::Old();
  GpbChannel ch[kMaxChannels];
  for (int i = 0; i < count; ++i) {
    const int n = i % 25;
    for (int c = 0; c < n; ++c) ch[c] = Channel(c + 1, i);
    b.AddEpoch(MakeEpoch(1000.0 + i), ch, n);
  }
  return b;
}

constexpr int kEpochs = 2000;  // about 1.4 MB new, 1.1 MB old
constexpr bool kFormats[] = {false, true};

TEST(GpbBlockRead, EveryRecordOfAFileOfManyBlocks) {
  for (const bool is_new : kFormats) {
    SCOPED_TRACE(is_new ? "new format" : "old format");
    const GpbFileBuilder b = ManyEpochs(is_new, kEpochs);
    ASSERT_GT(b.Bytes().size(), 3 * GpbInput::kMaxRead);
    ScratchFile file;
    ASSERT_TRUE(b.Write(file.str()));
    GpbClass reader;
    ASSERT_EQ(OpenForReading(reader, file), 0);
    GpbEpoch e{};
    GpbChannel ch[kMaxChannels]{};
    int i = 0;
    for (; reader.ReadGpbEpoch(&e, ch) == 0; ++i) {
      ASSERT_EQ(e.RcvTime, 1000.0 + i);
      ASSERT_EQ(e.NumChannels, i % 25);
      if (e.NumChannels > 0) {
        const int last = e.NumChannels - 1;
        ASSERT_EQ(ch[last].Prn, last + 1);
        ASSERT_EQ(ch[last].C1, 2.0e7 + i * 10.0 + last + 1) << "epoch " << i;
        ASSERT_EQ(ch[last].L2, 8.0e7 + i) << "epoch " << i;
      }
      ASSERT_EQ(reader.BytesUsed(), b.RecordOffset(static_cast<size_t>(i) + 1));
    }
    EXPECT_EQ(i, kEpochs);
    EXPECT_EQ(reader.PassEnd(), GpbPassEnd::kClean);
    EXPECT_EQ(reader.BytesUsed(), b.Bytes().size());
  }
}

TEST(GpbBlockRead, RewindFromNearAndFar) {
  struct Case {
    const char* what;
    int epochs;
    int reads_before_rewind;
  };
  const Case cases[] = {
      {"small file, within the first block", 5, 3},
      {"large file, after the end", kEpochs, kEpochs + 1},
      {"large file, in the middle", kEpochs, 1200},
  };
  for (const bool is_new : kFormats) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(is_new ? "new format, " : "old format, ") + c.what);
      const GpbFileBuilder b = ManyEpochs(is_new, c.epochs);
      ScratchFile file;
      ASSERT_TRUE(b.Write(file.str()));
      GpbClass reader;
      ASSERT_EQ(OpenForReading(reader, file), 0);
      for (int i = 0; i < c.reads_before_rewind; ++i) reader.ReadGpbEpoch(nullptr, nullptr);
      reader.RewindGpbFile();
      for (int i = 0; i < 3; ++i) {
        GpbEpoch e{};
        ASSERT_EQ(reader.ReadGpbEpoch(&e, nullptr), 0);
        EXPECT_EQ(e.RcvTime, 1000.0 + i);
      }
      EXPECT_EQ(reader.BytesUsed(), b.RecordOffset(3));
    }
  }
}

// Channel fields the record does not carry read as 0 whatever the caller's
// buffer held before.
TEST(GpbBlockRead, AbsentChannelValuesAreZeroInAReusedBuffer) {
  GpbFileBuilder b = GpbFileBuilder::New();
  GpbChannel in{};
  in.Prn = 12;
  in.ObsMask = kObsC1;
  in.C1 = 2.2e7;
  b.AddEpoch(MakeEpoch(50.0), &in, 1, false);  // L1 blocks only
  ScratchFile file;
  ASSERT_TRUE(b.Write(file.str()));
  GpbClass reader;
  ASSERT_EQ(OpenForReading(reader, file), 0);
  GpbChannel out[kMaxChannels];
  std::memset(out, 0x5A, sizeof out);
  GpbEpoch e{};
  ASSERT_EQ(reader.ReadGpbEpoch(&e, out), 0);
  const GpbChannel& ch = out[0];
  EXPECT_EQ(ch.Prn, 12);
  EXPECT_EQ(ch.ObsMask, kObsC1);
  EXPECT_EQ(ch.Reserved, 0);
  EXPECT_EQ(ch.C1, 2.2e7);
  for (double v : {ch.L1, ch.D1, ch.LockTime1, ch.Cn0L1, ch.P1, ch.P2, ch.L2, ch.LockTime2,
                   ch.Cn0L2}) {
    EXPECT_EQ(v, 0.0);
  }
  EXPECT_EQ(ch.LockSec1, 0);
  EXPECT_EQ(ch.Spare, 0);
}

// Every byte handed out is the file's, in line and with the read-ahead
// thread, across block boundaries, seeks near and far, and the short end.
TEST(GpbInputTest, TakeAcrossBlocksSeekAndShortEnd) {
  ScratchFile file(".bin");
  // Bytes that tell their own offset (mod 251) for a file of 6.5 blocks.
  std::vector<uint8_t> bytes(GpbInput::kMaxRead * 13 / 2);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i % 251);
  ASSERT_TRUE(WriteBytes(file.str(), bytes));
  for (const bool ahead : {false, true}) {
    SCOPED_TRACE(ahead ? "read-ahead" : "in line");
    std::FILE* f = std::fopen(file.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(StreamFileSize(f), bytes.size());
    GpbInput input;
    ASSERT_TRUE(input.Attach(f, 0, ahead));
    EXPECT_EQ(input.Take(GpbInput::kMaxTake + 1), nullptr) << "longer than a record can be";
    ASSERT_TRUE(input.Seek(0));
    // Reads from `from` to the end in pieces of 1000 bytes (many straddle
    // a block boundary), then the short end.
    auto read_to_end = [&](size_t from) {
      size_t at = from;
      for (; at + 1000 <= bytes.size(); at += 1000) {
        const uint8_t* p = input.Take(1000);
        ASSERT_NE(p, nullptr) << at;
        ASSERT_EQ(std::memcmp(p, bytes.data() + at, 1000), 0) << at;
        ASSERT_EQ(input.Position(), at + 1000);
      }
      const size_t left = bytes.size() - at;
      ASSERT_GT(left, 0u);
      EXPECT_EQ(input.Take(1000), nullptr);
      EXPECT_EQ(input.ShortBy(), left);
      EXPECT_EQ(input.Position(), bytes.size());
      EXPECT_EQ(input.Take(1), nullptr);
      EXPECT_EQ(input.ShortBy(), 0u);
    };
    read_to_end(0);
    // Back to an offset long gone from the buffer, and to one still in it.
    ASSERT_TRUE(input.Seek(7));
    const uint8_t* p = input.Take(3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 7);
    ASSERT_TRUE(input.Seek(5));
    p = input.Take(2);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[1], 6);
    // Far forward while the reads are under way, then on to the end again.
    for (int i = 0; i < 300; ++i) ASSERT_NE(input.Take(1000), nullptr);
    const size_t far = GpbInput::kMaxRead * 5 + 17;
    ASSERT_TRUE(input.Seek(far));
    read_to_end(far);
    input.Detach();
    std::fclose(f);
  }
}

}  // namespace
}  // namespace gpbtest
}  // namespace rawconv
