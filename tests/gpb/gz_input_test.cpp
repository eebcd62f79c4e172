// gzip GPB files read as the files they hold, and the reasons of failed
// opens beside the reader's own messages.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gpb_test_env.h"
#include "io/input_file.h"
#include "support/gzip_bytes.h"

namespace rawconv {
namespace gpbtest {
namespace {

namespace fs = std::filesystem;

std::string AsString(const ByteVec& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A file of `epochs` epochs of eight satellites, 1 s apart: some hundred
// kilobytes, so that a pass spans several of the reader's blocks.
ByteVec ManyEpochs(bool is_new, int epochs) {
  GpbFileBuilder b = is_new ? GpbFileBuilder::New(34, "OEM4") : GpbFileBuilder::Old(2);
  for (int i = 0; i < epochs; ++i) {
    GpbChannel ch[8]{};
    for (int k = 0; k < 8; ++k) {
      ch[k].Prn = 1 + (i / 50 + k) % 32;
      ch[k].ObsMask = kObsC1 | kObsL1 | kObsP2 | kObsL2;
      ch[k].C1 = 20000000.0 + 1000.0 * k + i;
      ch[k].L1 = 100000.25 + k + 0.5 * i;
      ch[k].P2 = 20000003.0 + 1000.0 * k + i;
      ch[k].L2 = 80000.5 + k + 0.25 * i;
    }
    b.AddEpoch(MakeEpoch(345600.0 + i), ch, 8);
  }
  return b.Bytes();
}

// What a whole pass of the reader gives, as text to compare.
std::string Pass(GpbClass& reader) {
  std::string seen;
  GpbEpoch e;
  GpbChannel ch[kMaxChannels];
  char line[160];
  int result;
  while ((result = reader.ReadGpbEpoch(&e, ch)) == 0) {
    std::snprintf(line, sizeof line, "%.3f %d|", e.RcvTime, e.NumChannels);
    seen += line;
    for (int k = 0; k < e.NumChannels; ++k) {
      std::snprintf(line, sizeof line, "%d %x %.3f %.3f %.3f %.3f;", ch[k].Prn, ch[k].ObsMask,
                    ch[k].C1, ch[k].L1, ch[k].P2, ch[k].L2);
      seen += line;
    }
  }
  std::snprintf(line, sizeof line, "end %d pass %d used %llu of %llu", result,
                static_cast<int>(reader.PassEnd()),
                static_cast<unsigned long long>(reader.BytesUsed()),
                static_cast<unsigned long long>(reader.FileSize()));
  return seen + line;
}

TEST(GpbGzipInput, BothGenerationsReadAsThePlainFile) {
  for (const bool is_new : {true, false}) {
    for (const size_t cut : {size_t{0}, size_t{7}}) {  // whole, and the last record cut short
      SCOPED_TRACE(std::string(is_new ? "new" : "old") + (cut ? " cut" : " whole"));
      ByteVec bytes = ManyEpochs(is_new, 1500);
      bytes.resize(bytes.size() - cut);
      ScratchFile plain, packed(".gpb.gz");
      ASSERT_TRUE(WriteBytes(plain.str(), bytes));
      ASSERT_TRUE(gztest::WriteBytes(packed.str(), gztest::Gzip(AsString(bytes), 3)));

      GpbClass a, b;
      ASSERT_EQ(0, a.OpenGpbFile(plain.c_str(), 4096)) << a.OpenReason();
      ASSERT_EQ(0, b.OpenGpbFile(packed.c_str(), 4096)) << b.OpenReason();
      EXPECT_EQ(a.IsNewFormat(), b.IsNewFormat());
      EXPECT_EQ(a.ReceiverType(), b.ReceiverType());
      EXPECT_EQ(bytes.size(), b.FileSize());  // the size of the data, not of the gzip file
      const std::string expected = Pass(a);
      EXPECT_EQ(expected, Pass(b));
      // A second pass (the conversion's pre-scan and writing pass) too.
      b.RewindGpbFile();
      EXPECT_EQ(expected, Pass(b));
      EXPECT_STREQ(packed.c_str(), b.Path());
    }
  }
}

TEST(GpbGzipInput, FailedOpensSayWhyAndKeepTheirMessages) {
  ScratchFile missing, folder, text, text_gz(".gpb.gz"), damaged(".gpb.gz"), bad_header,
      short_header(".gpb.gz"), locked;
  fs::create_directory(folder.str());
  ASSERT_TRUE(WriteBytes(text.str(), {'n', 'o', 't', ' ', 'g', 'p', 'b'}));
  ASSERT_TRUE(gztest::WriteBytes(text_gz.str(), gztest::Gzip("not a gpb file")));
  std::string packed = gztest::Gzip(AsString(ManyEpochs(true, 20)));
  ASSERT_TRUE(gztest::WriteBytes(damaged.str(), packed.substr(0, packed.size() - 10)));
  ByteVec h = NewHeader(6, "", 511);
  ASSERT_TRUE(WriteBytes(bad_header.str(), h));
  ByteVec cut = NewHeader(6, "");
  cut.resize(300);
  ASSERT_TRUE(gztest::WriteBytes(short_header.str(), gztest::Gzip(AsString(cut))));
  ASSERT_TRUE(WriteBytes(locked.str(), ManyEpochs(true, 1)));
  ASSERT_EQ(0, chmod(locked.c_str(), 0));

  const char* const kCannotOpen = "GPB file '%s' does not exits or cannot be opened";
  const char* const kNeither = "Invalid GPB file type for '%s'--neither new or old format";
  struct Case {
    const ScratchFile* File;
    const char* Reason;
    const char* Message;  // ErrorText, the same as before reasons were given
  };
  std::vector<Case> cases = {
      {&missing, "No such file or directory", kCannotOpen},
      {&folder, "it is a folder", kCannotOpen},
      {&text, GpbClass::kReasonNotGpb, kNeither},
      {&text_gz, GpbClass::kReasonNotGpb, kNeither},
      {&damaged, "damaged gzip data", kCannotOpen},
      {&bad_header, GpbClass::kReasonBadHeader, "File '%s' is not a GPB file--Invalid header"},
      {&short_header, GpbClass::kReasonShortHeader, "Failure to read header for '%s'"},
  };
  if (geteuid() != 0) cases.push_back({&locked, "Permission denied", kCannotOpen});
  for (const Case& c : cases) {
    GpbClass reader;
    EXPECT_EQ(1, reader.OpenGpbFile(c.File->c_str(), 4096)) << c.Reason;
    EXPECT_EQ(c.Reason, reader.OpenReason());
    EXPECT_EQ(WithPath(c.Message, c.File->str()), reader.ErrorText()) << c.Reason;
    EXPECT_EQ(1, reader.ReadGpbEpoch(nullptr, nullptr));
  }

  // A good open clears the reason of a failed one; a second open while a
  // file is open has a reason of its own.
  GpbClass reader;
  ScratchFile good;
  ASSERT_TRUE(WriteBytes(good.str(), ManyEpochs(false, 2)));
  EXPECT_EQ(1, reader.OpenGpbFile(missing.c_str(), 4096));
  EXPECT_EQ(0, reader.OpenGpbFile(good.c_str(), 4096));
  EXPECT_EQ("", reader.OpenReason());
  EXPECT_EQ(1, reader.OpenGpbFile(good.c_str(), 4096));
  EXPECT_EQ("another file is open", reader.OpenReason());
  fs::remove(folder.str());
}

// The dialog library's conversions open GPB files as they always did: a
// gzip file and a folder are files of neither format.
TEST(GpbGzipInput, DialogRulesKeepTheirOldOutcome) {
  ScratchFile packed(".gpb.gz"), folder;
  ASSERT_TRUE(gztest::WriteBytes(packed.str(), gztest::Gzip(AsString(ManyEpochs(true, 3)))));
  fs::create_directory(folder.str());
  const InputRulesScope dialog(InputRules::kDialog);
  for (const ScratchFile* file : {&packed, &folder}) {
    GpbClass reader;
    EXPECT_EQ(1, reader.OpenGpbFile(file->c_str(), 4096));
    EXPECT_EQ(WithPath("Invalid GPB file type for '%s'--neither new or old format", file->str()),
              reader.ErrorText());
    EXPECT_EQ(-1, reader.GetGpbFileType(file->c_str()));
  }
  fs::remove(folder.str());
}

}  // namespace
}  // namespace gpbtest
}  // namespace rawconv
