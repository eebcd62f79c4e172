// Format probe, opening, both headers, receiver types and the object's
// lifecycle (second open, rewind, close).
#include <gtest/gtest.h>

#include <string>

#include "api/context.h"
#include "gpb_test_env.h"

namespace rawconv {
namespace gpbtest {
namespace {

// One good new-format file with two epochs one second apart.
void WriteTwoEpochFile(const ScratchFile& file, bool is_new = true) {
  GpbFileBuilder b = is_new ? GpbFileBuilder::New(34, "OEM4") : GpbFileBuilder::Old(2);
  GpbChannel ch{};
  ch.Prn = 7;
  ch.ObsMask = kObsC1;
  ch.C1 = 21000000.0;
  b.AddEpoch(MakeEpoch(1000.0), &ch, 1);
  b.AddEpoch(MakeEpoch(1001.0), &ch, 1);
  ASSERT_TRUE(b.Write(file.str()));
}

TEST(GpbProbe, TellsTheFormatFromTheFirstBytes) {
  GpbClass reader;
  ScratchFile new_file, old_file, short_old, empty, other, missing;
  ASSERT_TRUE(GpbFileBuilder::New().Write(new_file.str()));
  ASSERT_TRUE(GpbFileBuilder::Old().Write(old_file.str()));
  ASSERT_TRUE(WriteBytes(short_old.str(), {202, 0, 1}));
  ASSERT_TRUE(WriteBytes(empty.str(), {}));
  ASSERT_TRUE(WriteBytes(other.str(), {'$', 'N', 'E', 'W', 'G', 'P', 'X', 0}));

  EXPECT_EQ(reader.GetGpbFileType(new_file.c_str()), 1);
  EXPECT_EQ(reader.GetGpbFileType(old_file.c_str()), 0);
  EXPECT_EQ(reader.GetGpbFileType(short_old.c_str()), 0);
  EXPECT_EQ(reader.GetGpbFileType(empty.c_str()), -1);
  EXPECT_EQ(reader.GetGpbFileType(other.c_str()), -1);
  EXPECT_EQ(reader.GetGpbFileType(missing.c_str()), -2);
  EXPECT_EQ(reader.ErrorText(), WithPath("Unable to open GPB file %s for reading", missing.str()));
  EXPECT_EQ(reader.State(), 0);
}

TEST(GpbOpen, FailuresReportTheirMessageAndState) {
  ScratchFile missing, neither, bad_new_size, bad_old_size, short_header, good;
  ASSERT_TRUE(WriteBytes(neither.str(), {1, 2, 3, 4, 5, 6, 7, 8}));
  ByteVec h = NewHeader(6, "", 511);
  ASSERT_TRUE(WriteBytes(bad_new_size.str(), h));
  ByteVec o = OldHeader(2);
  o[1] = 1;  // size field 0x01CA
  ASSERT_TRUE(WriteBytes(bad_old_size.str(), o));
  ByteVec cut = NewHeader(6, "");
  cut.resize(300);
  ASSERT_TRUE(WriteBytes(short_header.str(), cut));
  WriteTwoEpochFile(good);

  struct Case {
    const ScratchFile* file;
    int buffer_size;
    const char* message;
    int state;  // State after the failure
  };
  const Case cases[] = {
      {&missing, 4096, "GPB file '%s' does not exits or cannot be opened", 0},
      {&neither, 4096, "Invalid GPB file type for '%s'--neither new or old format", 0},
      {&bad_new_size, 4096, "File '%s' is not a GPB file--Invalid header", -1},
      {&bad_old_size, 4096, "File '%s' is not a GPB file--Invalid header", -1},
      {&short_header, 4096, "Failure to read header for '%s'", -1},
      {&good, 0, "Unable to create file buffer for '%s'", -1},
      {&good, 1, "Unable to create file buffer for '%s'", -1},
  };
  for (const Case& c : cases) {
    GpbClass reader;
    EXPECT_EQ(reader.OpenGpbFile(c.file->c_str(), c.buffer_size), 1);
    EXPECT_EQ(reader.ErrorText(), WithPath(c.message, c.file->str())) << c.message;
    EXPECT_EQ(reader.State(), c.state) << c.message;
    EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 1);
    EXPECT_STREQ(reader.ErrorText(), "Invalid GPB class setup");
  }

  // A buffer of 2 bytes is enough.
  GpbClass reader;
  EXPECT_EQ(reader.OpenGpbFile(good.c_str(), 2), 0);
  EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0);
}

TEST(GpbOpen, TooLongPathIsRefusedLikeAMissingFile) {
  // Path holds 255 characters: a longer path is never copied into it.
  const std::string long_path = ::testing::TempDir() + std::string(300, 'x') + ".gpb";
  GpbClass reader;
  EXPECT_EQ(reader.OpenGpbFile(long_path.c_str(), 4096), 1);
  const std::string text = reader.ErrorText();
  EXPECT_EQ(text.rfind("GPB file '", 0), 0u) << text;
  EXPECT_LT(text.size(), 512u);
  EXPECT_EQ(reader.State(), 0);
  EXPECT_STREQ(reader.Path(), "");

  // The same refusal leaves an open file untouched.
  ScratchFile good;
  WriteTwoEpochFile(good);
  ASSERT_EQ(OpenForReading(reader, good), 0);
  EXPECT_EQ(reader.OpenGpbFile(long_path.c_str(), 4096), 1);
  EXPECT_EQ(reader.State(), 1);
  EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0);
}

TEST(GpbOpen, HeadersGiveReceiverTypeAndDescription) {
  ScratchFile old_file, new_file, long_desc;
  ASSERT_TRUE(GpbFileBuilder::Old(0x85).Write(old_file.str()));
  ASSERT_TRUE(GpbFileBuilder::New(16, "Z-XII3T  1Y07").Write(new_file.str()));
  const std::string forty(40, 'D');
  ASSERT_TRUE(GpbFileBuilder::New(40, forty.c_str()).Write(long_desc.str()));

  GpbClass reader;
  char name[25];
  ASSERT_EQ(OpenForReading(reader, old_file), 0);
  EXPECT_EQ(reader.State(), 1);
  EXPECT_EQ(reader.IsNewFormat(), 0);
  EXPECT_EQ(reader.ReceiverType(), static_cast<int8_t>(0x85));
  EXPECT_STREQ(reader.ReceiverDescription(), "");
  EXPECT_EQ(reader.GetReceiverTypeName(name), 0);
  EXPECT_STREQ(name, "UNKNOWN");
  EXPECT_STREQ(reader.Path(), old_file.c_str());
  EXPECT_STREQ(reader.ErrorText(), "");
  EXPECT_EQ(reader.OldHeaderImage()[0], 202);
  EXPECT_EQ(reader.OldHeaderImage()[6], 0x85);
  EXPECT_EQ(reader.NewHeaderImage()[0], 0);
  reader.CloseGpbFile();

  ASSERT_EQ(OpenForReading(reader, new_file), 0);
  EXPECT_EQ(reader.IsNewFormat(), 1);
  EXPECT_EQ(reader.ReceiverType(), 16);
  EXPECT_STREQ(reader.ReceiverDescription(), "Z-XII3T  1Y07");
  reader.GetReceiverTypeName(name);
  EXPECT_STREQ(name, "GpbMerge Resampled");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.NewHeaderImage()), 7), "$NEWGPB");
  EXPECT_EQ(reader.OldHeaderImage()[0], 0);
  reader.CloseGpbFile();

  // A description of 32 or more characters is cut to the 31 the member holds.
  ASSERT_EQ(OpenForReading(reader, long_desc), 0);
  EXPECT_EQ(std::string(reader.ReceiverDescription()), forty.substr(0, 31));
  reader.GetReceiverTypeName(name);
  EXPECT_STREQ(name, "Leica System 1200");
}

TEST(GpbReceiverTypes, NamesForEveryCode) {
  EXPECT_STREQ(ReceiverTypeName(1), "Leica MX");
  EXPECT_STREQ(ReceiverTypeName(6), "RINEX");
  EXPECT_STREQ(ReceiverTypeName(29), "Trimble Real-Time");
  EXPECT_STREQ(ReceiverTypeName(31), "SIRF Binary");
  EXPECT_STREQ(ReceiverTypeName(36), "Septentrio Binary Format");
  EXPECT_STREQ(ReceiverTypeName(39), "U-Blox");
  for (int code : {0, -1, -128, 30, 38, 41, 1000}) {
    EXPECT_STREQ(ReceiverTypeName(code), "UNKNOWN") << code;
  }
  // The texts are static: one call's text survives the next call.
  const char* first = ReceiverTypeName(2);
  const char* second = ReceiverTypeName(3);
  EXPECT_STRNE(first, second);
  EXPECT_STREQ(second, ReceiverTypeName(3));

  // Every named code has a name of at most 24 characters (the caller's buffer
  // of GetReceiverTypeName is 25 bytes).
  int named = 0;
  for (int code = -5; code <= 45; ++code) {
    const std::string n = ReceiverTypeName(code);
    EXPECT_LE(n.size(), 24u);
    if (n != "UNKNOWN") ++named;
  }
  EXPECT_EQ(named, 38);
}

TEST(GpbOpen, SecondOpenOnAnOpenObject) {
  ScratchFile first, second, missing;
  WriteTwoEpochFile(first);
  WriteTwoEpochFile(second, false);

  GpbClass reader;
  ASSERT_EQ(OpenForReading(reader, first), 0);
  // A missing path is refused before the object is looked at.
  EXPECT_EQ(OpenForReading(reader, missing), 1);
  EXPECT_EQ(reader.ErrorText(),
            WithPath("GPB file '%s' does not exits or cannot be opened", missing.str()));
  EXPECT_EQ(reader.State(), 1);
  GpbEpoch e{};
  GpbChannel ch[kMaxChannels];
  EXPECT_EQ(reader.ReadGpbEpoch(&e, ch), 0);
  EXPECT_DOUBLE_EQ(e.RcvTime, 1000.0);

  // An existing path puts the object into the failed state.
  EXPECT_EQ(OpenForReading(reader, second), 1);
  EXPECT_EQ(reader.ErrorText(),
            WithPath("Cannot create file--class already using a file %s", second.str()));
  EXPECT_EQ(reader.State(), -1);
  EXPECT_STREQ(reader.Path(), first.c_str());
  EXPECT_EQ(reader.ReadGpbEpoch(&e, ch), 1);
  EXPECT_STREQ(reader.ErrorText(), "Invalid GPB class setup");

  // From the failed state a new open is allowed; the stream left attached is
  // released (the leak check would see it otherwise).
  ASSERT_EQ(OpenForReading(reader, second), 0);
  EXPECT_EQ(reader.IsNewFormat(), 0);
  EXPECT_EQ(reader.ReadGpbEpoch(&e, ch), 0);
  EXPECT_DOUBLE_EQ(e.RcvTime, 1000.0);
}

TEST(GpbLifecycle, RewindCloseAndReopen) {
  for (bool is_new : {true, false}) {
    ScratchFile file;
    WriteTwoEpochFile(file, is_new);
    GpbClass reader;
    reader.RewindGpbFile();  // nothing open: does nothing
    ASSERT_EQ(OpenForReading(reader, file), 0);
    EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0);
    EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0);
    EXPECT_DOUBLE_EQ(reader.InternalEpoch().RcvTime, 1001.0);
    EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), -1);
    reader.RewindGpbFile();
    EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0);
    EXPECT_DOUBLE_EQ(reader.InternalEpoch().RcvTime, 1000.0);
    EXPECT_EQ(reader.InternalChannels()[0].Prn, 7);

    reader.CloseGpbFile();
    EXPECT_EQ(reader.State(), 0);
    EXPECT_STREQ(reader.Path(), "");
    EXPECT_STREQ(reader.ErrorText(), "");
    EXPECT_EQ(reader.ReceiverType(), 0);
    EXPECT_EQ(reader.IsNewFormat(), 0);
    EXPECT_EQ(reader.InternalEpoch().NumChannels, 0);
    reader.CloseGpbFile();  // twice is harmless
    EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 1);
    EXPECT_STREQ(reader.ErrorText(), "Invalid GPB class setup");

    ASSERT_EQ(OpenForReading(reader, file), 0);
    EXPECT_EQ(reader.ReadGpbEpoch(nullptr, nullptr), 0);
  }
  GpbClass never_opened;
  never_opened.CloseGpbFile();
  EXPECT_EQ(never_opened.State(), 0);
}


}  // namespace
}  // namespace gpbtest
}  // namespace rawconv
