// Record checks of both formats, their order, and where the stream stands
// after each failure.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gpb_test_env.h"

namespace rawconv {
namespace gpbtest {
namespace {

GpbChannel C1Channel(int prn) {
  GpbChannel ch{};
  ch.Prn = prn;
  ch.ObsMask = kObsC1 | kObsL1;
  ch.C1 = 2.0e7 + prn;
  ch.L1 = 1.0e8 + prn;
  return ch;
}

// Three records at 10, 11, 12 s with two channels each; `damage` changes
// the middle one. Returns the results and messages of four reads.
struct Outcome {
  std::string path;
  std::vector<int> results;
  std::vector<std::string> errors;
  std::vector<double> times;
};

Outcome ReadDamaged(bool is_new, const std::function<void(ByteVec&)>& damage, bool with_l2 = true,
                    int middle_channels = 2) {
  GpbFileBuilder b = is_new ? GpbFileBuilder::New() : GpbFileBuilder::Old();
  const GpbChannel ch[2] = {C1Channel(3), C1Channel(9)};
  b.AddEpoch(MakeEpoch(10.0), ch, 2, with_l2);
  const size_t middle = b.AddEpoch(MakeEpoch(11.0), ch, middle_channels, with_l2);
  b.AddEpoch(MakeEpoch(12.0), ch, 2, with_l2);
  damage(b.Record(middle));
  ScratchFile file;
  Outcome out;
  out.path = file.str();
  if (!b.Write(file.str())) return out;
  GpbClass reader;
  if (OpenForReading(reader, file) != 0) return out;
  for (int i = 0; i < 4; ++i) {
    GpbEpoch e{};
    GpbChannel got[kMaxChannels]{};
    out.results.push_back(reader.ReadGpbEpoch(&e, got));
    out.errors.push_back(reader.ErrorText());
    out.times.push_back(e.RcvTime);
  }
  return out;
}

TEST(GpbNewRecordChecks, EachHeaderFieldIsChecked) {
  struct Case {
    const char* what;
    std::function<void(ByteVec&)> damage;
    const char* message;
  };
  const char* kHeader = "Corruption detected in GPB file '%s'--invalid record header";
  const char* kChannels =
      "Too many channels in data. Possible corruption detected in GPB file '%s'";
  const Case cases[] = {
      {"sync", [](ByteVec& r) { SetSync(r, 0x3CC3); }, kHeader},
      {"type", [](ByteVec& r) { SetRecordType(r, 2); }, kHeader},
      {"block size", [](ByteVec& r) { SetBlockSize(r, 67); }, kHeader},
      {"bytes per channel", [](ByteVec& r) { SetBytesPerChannel(r, 42); }, kHeader},
      {"reserved", [](ByteVec& r) { SetReserved(r, 0x01000000); }, kHeader},
      {"25 channels", [](ByteVec& r) { SetNewChannelCount(r, 25); }, kChannels},
      {"negative channels", [](ByteVec& r) { SetNewChannelCount(r, -1); }, kChannels},
      {"checksum", [](ByteVec& r) { SetChecksum(r, static_cast<uint16_t>(GetU16(r.data() + 6) + 1)); },
       "Invalid Record Checksum in %s--file may have been corrupted"},
      {"length", [](ByteVec& r) { SetRecordLength(r, static_cast<uint16_t>(r.size() + 1)); },
       "Invalid Record Data Length in %s--possibly file corruption"},
      {"checksum and length",
       [](ByteVec& r) {
         SetRecordLength(r, 84);
         SetChecksum(r, 0);
       },
       "Invalid Record Checksum in %s--file may have been corrupted"},
      {"a channel byte",
       [](ByteVec& r) { r[84 + 10] ^= 0x40; },
       "Invalid Record Checksum in %s--file may have been corrupted"},
  };
  for (const Case& c : cases) {
    // With no channels in the damaged record, its 84 bytes are all the
    // header: after a header-level failure the next read finds the next
    // record whole. With channels, a checksum or length failure consumes
    // the whole record.
    const int middle_channels = (c.message == kHeader || c.message == kChannels) ? 0 : 2;
    Outcome out = ReadDamaged(true, c.damage, true, middle_channels);
    ASSERT_EQ(out.results.size(), 4u) << c.what;
    EXPECT_EQ(out.results[0], 0) << c.what;
    EXPECT_EQ(out.results[1], 1) << c.what;
    EXPECT_EQ(out.errors[1], WithPath(c.message, out.path)) << c.what;
    EXPECT_EQ(out.results[2], 0) << c.what << ": " << out.errors[2];
    EXPECT_DOUBLE_EQ(out.times[2], 12.0) << c.what;
    EXPECT_EQ(out.results[3], -1) << c.what;
  }
}

TEST(GpbNewRecordChecks, StreamStaysAfterTheHeaderOfAFailedRecord) {
  // A bad sync word on a record with channels: the next read starts at its
  // first channel block, which is no record header either. Nothing searches
  // for the next sync word.
  Outcome out = ReadDamaged(true, [](ByteVec& r) { SetSync(r, 0); });
  ASSERT_EQ(out.results.size(), 4u);
  EXPECT_EQ(out.results[1], 1);
  EXPECT_EQ(out.results[2], 1);
  EXPECT_NE(out.errors[2].find("invalid record header"), std::string::npos) << out.errors[2];
}

TEST(GpbNewRecordChecks, EmptyRecordIsHeaderOnly) {
  GpbFileBuilder b = GpbFileBuilder::New();
  for (bool with_l2 : {false, true}) {
    const size_t i = b.AddEpoch(MakeEpoch(5.0), nullptr, 0, with_l2);
    EXPECT_EQ(b.Record(i).size(), 84u);
    EXPECT_EQ(GetU16(b.Record(i).data() + 4), 84);
  }
  ScratchFile file;
  ASSERT_TRUE(b.Write(file.str()));
  GpbClass reader;
  ASSERT_EQ(OpenForReading(reader, file), 0);
  EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0);
  EXPECT_EQ(reader.InternalEpoch().NumChannels, 0);
  EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0);
  EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), -1);
}

TEST(GpbNewRecordChecks, L1OnlyRecordsAndTwentyFourChannels) {
  GpbChannel ch[kMaxChannels];
  for (int i = 0; i < kMaxChannels; ++i) {
    ch[i] = C1Channel(i + 1);
    ch[i].ObsMask |= kObsL2;
    ch[i].L2 = 5.0e7;
  }
  for (bool with_l2 : {false, true}) {
    GpbFileBuilder b = GpbFileBuilder::New();
    const size_t i = b.AddEpoch(MakeEpoch(5.0), ch, kMaxChannels, with_l2);
    EXPECT_EQ(b.Record(i).size(), 84u + 24u * (with_l2 ? 56u : 28u));
    ScratchFile file;
    ASSERT_TRUE(b.Write(file.str()));
    GpbClass reader;
    ASSERT_EQ(OpenForReading(reader, file), 0);
    ASSERT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0) << reader.ErrorText();
    EXPECT_EQ(reader.InternalEpoch().NumChannels, 24);
    EXPECT_EQ(reader.InternalChannels()[23].Prn, 24);
    EXPECT_DOUBLE_EQ(reader.InternalChannels()[23].C1, 2.0e7 + 24);
    EXPECT_EQ(reader.InternalChannels()[23].L2, with_l2 ? 5.0e7 : 0.0);
  }
}

TEST(GpbOldRecordChecks, SizesAndChannelCount) {
  const char* kChannels =
      "Too many channels in data. Possible corruption detected in GPB file '%s'";
  // Position record size: failure right after the 68-byte position record;
  // with no measurement records the next record follows.
  Outcome out = ReadDamaged(false, [](ByteVec& r) { SetOldPositionSize(r, 67); }, false, 0);
  ASSERT_EQ(out.results.size(), 4u);
  EXPECT_EQ(out.results[1], 1);
  EXPECT_EQ(out.errors[1],
            WithPath("Corruption detected in GPB file '%s'--invalid position record size", out.path));
  EXPECT_EQ(out.results[2], 0);
  EXPECT_DOUBLE_EQ(out.times[2], 12.0);

  for (int count : {25, 0x80, 0xFF}) {
    out = ReadDamaged(false, [count](ByteVec& r) { SetOldChannelCount(r, count); }, false, 0);
    ASSERT_EQ(out.results.size(), 4u);
    EXPECT_EQ(out.results[1], 1) << count;
    EXPECT_EQ(out.errors[1], WithPath(kChannels, out.path)) << count;
  }
}

TEST(GpbOldRecordChecks, BadSecondMeasurementAfterChannelZeroWasFilled) {
  GpbFileBuilder b = GpbFileBuilder::Old();
  const GpbChannel ch[2] = {C1Channel(3), C1Channel(9)};
  const size_t bad = b.AddEpoch(MakeEpoch(10.0), ch, 2);
  b.AddEpoch(MakeEpoch(11.0), ch, 2);
  SetOldMeasurementSize(b.Record(bad), 1, 40);
  ScratchFile file;
  ASSERT_TRUE(b.Write(file.str()));
  GpbClass reader;
  ASSERT_EQ(OpenForReading(reader, file), 0);
  GpbEpoch e{};
  GpbChannel got[kMaxChannels]{};
  EXPECT_EQ(reader.ReadGpbEpoch(&e, got), 1);
  EXPECT_EQ(reader.ErrorText(),
            WithPath("Corruption detected in GPB file '%s'--invalid measurement record size",
                     file.str()));
  EXPECT_EQ(got[0].Prn, 3);
  EXPECT_EQ(got[1].Prn, 0);
  EXPECT_DOUBLE_EQ(e.RcvTime, 10.0);
  // The stream stands after the measurement records of the bad record.
  EXPECT_EQ(reader.ReadGpbEpoch(&e, got), 0);
  EXPECT_DOUBLE_EQ(e.RcvTime, 11.0);
}

TEST(GpbRecordEnd, TruncatedLastRecordReadsAsEndOfFile) {
  for (bool is_new : {true, false}) {
    // Cut in the channel blocks, in the record header, one byte left of it.
    const size_t record_size = is_new ? 84 + 2 * 56 : 68 + 2 * 44;
    for (size_t cut : {size_t{20}, record_size - 30, record_size - 1}) {
      GpbFileBuilder b = is_new ? GpbFileBuilder::New() : GpbFileBuilder::Old();
      const GpbChannel ch[2] = {C1Channel(3), C1Channel(9)};
      b.AddEpoch(MakeEpoch(10.0), ch, 2);
      b.AddEpoch(MakeEpoch(11.0), ch, 2);
      b.TruncateBy(cut);
      ScratchFile file;
      ASSERT_TRUE(b.Write(file.str()));
      GpbClass reader;
      ASSERT_EQ(OpenForReading(reader, file), 0);
      EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0) << cut;
      EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), -1) << cut;
      EXPECT_STREQ(reader.ErrorText(), "Reached end of file");
    }
    GpbFileBuilder empty = is_new ? GpbFileBuilder::New() : GpbFileBuilder::Old();
    ScratchFile file;
    ASSERT_TRUE(empty.Write(file.str()));
    GpbClass reader;
    ASSERT_EQ(OpenForReading(reader, file), 0);
    EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), -1);
    EXPECT_STREQ(reader.ErrorText(), "Reached end of file");
  }
}

}  // namespace
}  // namespace gpbtest
}  // namespace rawconv
