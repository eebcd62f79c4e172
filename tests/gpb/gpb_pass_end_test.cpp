// How a reading pass ends: clean files, cut-short files and damaged records,
// with the bytes used up to the last good record and the file size.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "gpb_test_env.h"

namespace rawconv {
namespace gpbtest {
namespace {

GpbChannel Channel(int prn) {
  GpbChannel ch{};
  ch.Prn = prn;
  ch.ObsMask = kObsC1 | kObsL1 | kObsP2 | kObsL2;
  ch.C1 = 2.1e7 + prn;
  ch.L1 = 1.1e8 + prn;
  ch.P2 = 2.1e7 + prn + 3.0;
  ch.L2 = 8.5e7 + prn;
  return ch;
}

// Three epochs of three channels each, 1 s apart.
GpbFileBuilder ThreeEpochs(bool is_new) {
  GpbFileBuilder b = is_new ? GpbFileBuilder::New() : GpbFileBuilder::Old();
  const GpbChannel ch[3] = {Channel(2), Channel(7), Channel(30)};
  for (int i = 0; i < 3; ++i) b.AddEpoch(MakeEpoch(100.0 + i), ch, 3);
  return b;
}

struct Pass {
  int good = 0;           // reads that returned 0
  int last_result = 0;    // the read that ended the pass
  GpbPassEnd end = GpbPassEnd::kNotEnded;
  bool damaged = false;
  uint64_t used = 0;
  uint64_t size = 0;
};

// Reads the file until the first non-zero result, like the converter.
Pass ReadUntilFailure(const GpbFileBuilder& b) {
  ScratchFile file;
  Pass pass;
  if (!b.Write(file.str())) return pass;
  GpbClass reader;
  if (OpenForReading(reader, file) != 0) return pass;
  GpbEpoch e{};
  GpbChannel ch[kMaxChannels]{};
  while ((pass.last_result = reader.ReadGpbEpoch(&e, ch)) == 0) ++pass.good;
  pass.end = reader.PassEnd();
  pass.damaged = reader.EndedInDamage();
  pass.used = reader.BytesUsed();
  pass.size = reader.FileSize();
  return pass;
}

// Scratch file names come from the test names, so the two formats are a
// loop rather than test parameters.
constexpr bool kFormats[] = {false, true};

TEST(GpbPassEnd, WholeFileEndsClean) {
  for (const bool is_new : kFormats) {
    SCOPED_TRACE(is_new ? "new format" : "old format");
    const GpbFileBuilder b = ThreeEpochs(is_new);
    const Pass pass = ReadUntilFailure(b);
    EXPECT_EQ(pass.good, 3);
    EXPECT_EQ(pass.last_result, -1);
    EXPECT_EQ(pass.end, GpbPassEnd::kClean);
    EXPECT_FALSE(pass.damaged);
    EXPECT_EQ(pass.size, b.Bytes().size());
    EXPECT_EQ(pass.used, pass.size);
  }
}

TEST(GpbPassEnd, HeaderOnlyFileEndsClean) {
  for (const bool is_new : kFormats) {
    SCOPED_TRACE(is_new ? "new format" : "old format");
    GpbFileBuilder b = is_new ? GpbFileBuilder::New() : GpbFileBuilder::Old();
    const Pass pass = ReadUntilFailure(b);
    EXPECT_EQ(pass.good, 0);
    EXPECT_EQ(pass.end, GpbPassEnd::kClean);
    EXPECT_EQ(pass.used, b.Header().size());
    EXPECT_EQ(pass.size, b.Header().size());
  }
}

// One byte short, cut inside the channel data, and cut inside the epoch
// header.
TEST(GpbPassEnd, CutShortLastRecordIsTruncation) {
  for (const bool is_new : kFormats) {
    const size_t last_size = ThreeEpochs(is_new).Record(2).size();
    for (size_t cut : {size_t{1}, size_t{100}, last_size - 10}) {
      SCOPED_TRACE(std::string(is_new ? "new" : "old") + " format, cut " + std::to_string(cut));
      GpbFileBuilder b = ThreeEpochs(is_new);
      b.TruncateBy(cut);
      const Pass pass = ReadUntilFailure(b);
      EXPECT_EQ(pass.good, 2);
      EXPECT_EQ(pass.last_result, -1);
      EXPECT_EQ(pass.end, GpbPassEnd::kTruncated);
      EXPECT_TRUE(pass.damaged);
      EXPECT_EQ(pass.used, b.RecordOffset(2));
      EXPECT_EQ(pass.size, b.Bytes().size());
    }
  }
}

TEST(GpbPassEnd, FailedRecordCheckIsDamage) {
  for (const bool is_new : kFormats) {
    SCOPED_TRACE(is_new ? "new format" : "old format");
    GpbFileBuilder b = ThreeEpochs(is_new);
    if (is_new) {
      SetChecksum(b.Record(1), static_cast<uint16_t>(RecordChecksum(b.Record(1)) + 1));
    } else {
      SetOldMeasurementSize(b.Record(1), 2, 40);
    }
    const Pass pass = ReadUntilFailure(b);
    EXPECT_EQ(pass.good, 1);
    EXPECT_EQ(pass.last_result, 1);
    EXPECT_EQ(pass.end, GpbPassEnd::kDamaged);
    EXPECT_TRUE(pass.damaged);
    EXPECT_EQ(pass.used, b.RecordOffset(1));
    EXPECT_EQ(pass.size, b.Bytes().size());
  }
}

// A reader that goes on after a damaged record: a good record after it
// moves the bytes used on, and the end is judged by what follows the last
// good record.
TEST(GpbPassEnd, ReadingOnAfterDamage) {
  struct Case {
    const char* what;
    size_t damaged;  // record with a wrong checksum
    GpbPassEnd end;
    size_t used_records;  // good records up to BytesUsed
  };
  const Case cases[] = {
      {"damage in the middle", 1, GpbPassEnd::kClean, 3},
      {"damage at the end", 2, GpbPassEnd::kDamaged, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GpbFileBuilder b = ThreeEpochs(true);
    SetChecksum(b.Record(c.damaged), static_cast<uint16_t>(RecordChecksum(b.Record(c.damaged)) ^ 1));
    ScratchFile file;
    ASSERT_TRUE(b.Write(file.str()));
    GpbClass reader;
    ASSERT_EQ(OpenForReading(reader, file), 0);
    int results[4] = {};
    for (int& r : results) r = reader.ReadGpbEpoch(nullptr, nullptr);
    EXPECT_EQ(results[c.damaged], 1);
    EXPECT_EQ(results[3], -1);
    EXPECT_EQ(reader.DamagedRecords(), 1);
    EXPECT_EQ(reader.PassEnd(), c.end);
    EXPECT_EQ(reader.BytesUsed(), b.RecordOffset(c.used_records));
    // Reading again at the end of the file changes nothing.
    EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), -1);
    EXPECT_EQ(reader.PassEnd(), c.end);
  }
}

TEST(GpbPassEnd, ReadingAgainAfterTruncationStaysTruncated) {
  GpbFileBuilder b = ThreeEpochs(true);
  b.TruncateBy(10);
  ScratchFile file;
  ASSERT_TRUE(b.Write(file.str()));
  GpbClass reader;
  ASSERT_EQ(OpenForReading(reader, file), 0);
  while (reader.ReadGpbEpoch(nullptr, nullptr) == 0) {
  }
  EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), -1);
  EXPECT_EQ(reader.PassEnd(), GpbPassEnd::kTruncated);
  EXPECT_EQ(reader.BytesUsed(), b.RecordOffset(2));
}

TEST(GpbPassEnd, FactsFollowThePassAndTheObject) {
  GpbFileBuilder b = ThreeEpochs(false);
  b.TruncateBy(5);
  ScratchFile file;
  ASSERT_TRUE(b.Write(file.str()));
  GpbClass reader;
  EXPECT_EQ(reader.FileSize(), 0u);
  EXPECT_EQ(reader.BytesUsed(), 0u);
  ASSERT_EQ(OpenForReading(reader, file), 0);
  // Open, nothing read: the header is used and nothing has ended.
  EXPECT_EQ(reader.PassEnd(), GpbPassEnd::kNotEnded);
  EXPECT_FALSE(reader.EndedInDamage());
  EXPECT_EQ(reader.BytesUsed(), b.Header().size());
  EXPECT_EQ(reader.FileSize(), b.Bytes().size());
  // Stopping early is no end.
  ASSERT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0);
  EXPECT_EQ(reader.PassEnd(), GpbPassEnd::kNotEnded);
  EXPECT_EQ(reader.BytesUsed(), b.RecordOffset(1));
  while (reader.ReadGpbEpoch(nullptr, nullptr) == 0) {
  }
  EXPECT_EQ(reader.PassEnd(), GpbPassEnd::kTruncated);
  // A rewind starts a new pass.
  reader.RewindGpbFile();
  EXPECT_EQ(reader.PassEnd(), GpbPassEnd::kNotEnded);
  EXPECT_EQ(reader.BytesUsed(), b.Header().size());
  EXPECT_EQ(reader.DamagedRecords(), 0);
  // Closing forgets the file.
  reader.CloseGpbFile();
  EXPECT_EQ(reader.FileSize(), 0u);
  EXPECT_EQ(reader.BytesUsed(), 0u);
  EXPECT_EQ(reader.PassEnd(), GpbPassEnd::kNotEnded);
}

}  // namespace
}  // namespace gpbtest
}  // namespace rawconv
