// Opening inputs: plain and gzip files told apart by their bytes, the
// reasons of failed opens, and the dialog library's bare opens.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "io/input_file.h"
#include "support/gzip_bytes.h"
#include "support/scratch_dir.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;
using gztest::Gzip;
using gztest::WriteBytes;

// Everything the stream of an opened file gives.
std::string ReadAll(std::FILE* stream) {
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, stream)) > 0) text.append(buf, n);
  return text;
}

// Bytes that compress poorly (a fixed pseudo-random run) and a long run of
// one byte, which inflates to many times its size: together they make every
// buffer of the decompression fill and drain at odd points.
std::string MixedBytes(size_t random_bytes, size_t run_bytes) {
  std::mt19937 gen(26);
  std::string bytes(random_bytes, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xff);
  bytes.append(run_bytes, 'x');
  bytes += "end";
  return bytes;
}

// Puts TMPDIR back as it was (nullptr: unset).
void RestoreTmpdir(const char* value) {
  if (value != nullptr) {
    setenv("TMPDIR", value, 1);
  } else {
    unsetenv("TMPDIR");
  }
}

class InputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeScratchDir("rawconv_input");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // The bytes read through InputFile from the file at name; "<failed>" and
  // the reason when it does not open.
  std::string ReadThrough(const std::string& name, bool* decompressed = nullptr) {
    InputFile file;
    if (!file.Open(Path(name).c_str())) return "<failed> " + file.Reason();
    if (decompressed) *decompressed = file.Decompressed();
    return ReadAll(file.Stream());
  }

  std::string dir_;
};

TEST_F(InputFileTest, GzipIsToldByItsBytesNotByItsName) {
  const std::string data = MixedBytes(300 * 1024, 3 * 1024 * 1024);
  ASSERT_TRUE(WriteBytes(Path("plain.gz"), data));          // plain, named .gz
  ASSERT_TRUE(WriteBytes(Path("packed.dat"), Gzip(data)));  // gzip, any name
  ASSERT_TRUE(WriteBytes(Path("members.gpb.gz"), Gzip(data, 5)));
  ASSERT_TRUE(WriteBytes(Path("empty.gz"), Gzip("")));

  bool decompressed = true;
  EXPECT_EQ(data, ReadThrough("plain.gz", &decompressed));
  EXPECT_FALSE(decompressed);
  EXPECT_EQ(data, ReadThrough("packed.dat", &decompressed));
  EXPECT_TRUE(decompressed);
  EXPECT_EQ(data, ReadThrough("members.gpb.gz"));  // concatenated members are one file
  EXPECT_EQ("", ReadThrough("empty.gz"));

  // The head is the start of the data, not of the compressed file; the
  // stream has read nothing yet, so its buffer can still be chosen.
  InputFile file;
  ASSERT_TRUE(file.Open(Path("packed.dat").c_str()));
  ASSERT_EQ(InputFile::kHeadSize, file.HeadSize());
  EXPECT_EQ(data.substr(0, InputFile::kHeadSize),
            std::string(reinterpret_cast<const char*>(file.Head()), file.HeadSize()));
  EXPECT_EQ(0, std::setvbuf(file.Stream(), nullptr, _IOFBF, 1 << 16));
  EXPECT_EQ(data, ReadAll(file.Stream()));
  // A decompressed file can be read again from its start.
  std::rewind(file.Stream());
  EXPECT_EQ(data.substr(0, 100), ReadAll(file.Stream()).substr(0, 100));
}

TEST_F(InputFileTest, DamagedGzipDataIsReportedAsSuch) {
  const std::string data = MixedBytes(64 * 1024, 64 * 1024);
  const std::string packed = Gzip(data);
  std::string bad_crc = packed;
  bad_crc[bad_crc.size() - 6] ^= 0x01;  // the CRC-32 of the trailer
  std::string bad_length = packed;
  bad_length[bad_length.size() - 1] ^= 0x01;  // ISIZE
  std::string bad_deflate = packed;
  bad_deflate[packed.size() / 2] ^= 0x55;
  const struct {
    const char* Name;
    std::string Bytes;
  } kCases[] = {
      {"cut_in_data", packed.substr(0, packed.size() / 2)},
      {"cut_in_trailer", packed.substr(0, packed.size() - 3)},
      {"magic_only", packed.substr(0, 2)},
      {"bad_crc", bad_crc},
      {"bad_length", bad_length},
      {"bad_deflate", bad_deflate},
      {"trailing_garbage", packed + "garbage"},
      {"cut_second_member", packed + packed.substr(0, 20)},
  };
  for (const auto& c : kCases) {
    ASSERT_TRUE(WriteBytes(Path(c.Name), c.Bytes));
    EXPECT_EQ("<failed> damaged gzip data", ReadThrough(c.Name)) << c.Name;
  }
}

TEST_F(InputFileTest, FailedOpensGiveTheSystemsReason) {
  ASSERT_TRUE(WriteBytes(Path("locked"), "text"));
  ASSERT_EQ(0, chmod(Path("locked").c_str(), 0));
  fs::create_directory(Path("folder"));

  EXPECT_EQ("<failed> No such file or directory", ReadThrough("missing"));
  EXPECT_EQ("<failed> it is a folder", ReadThrough("folder"));
  EXPECT_EQ("<failed> No such file or directory", ReadThrough("missing/inside"));
  EXPECT_EQ("<failed> Not a directory", ReadThrough("locked/inside"));
  InputFile file;
  EXPECT_FALSE(file.Open(""));
  EXPECT_EQ("No such file or directory", file.Reason());
  if (geteuid() != 0) {
    EXPECT_EQ("<failed> Permission denied", ReadThrough("locked"));
  }

  // The temporary file of a gzip input goes where TMPDIR says; a folder
  // that cannot take it is named in the reason.
  ASSERT_TRUE(WriteBytes(Path("packed"), Gzip("data")));
  const char* saved = std::getenv("TMPDIR");
  const std::string saved_text = saved ? saved : "";
  setenv("TMPDIR", Path("no_such_folder").c_str(), 1);
  const std::string result = ReadThrough("packed");
  RestoreTmpdir(saved ? saved_text.c_str() : nullptr);
  EXPECT_EQ("<failed> cannot create a temporary file in " + Path("no_such_folder") +
                ": No such file or directory",
            result);
  // The temporary file leaves nothing behind.
  fs::create_directory(Path("tmp"));
  setenv("TMPDIR", Path("tmp").c_str(), 1);
  {
    InputFile open_file;
    EXPECT_TRUE(open_file.Open(Path("packed").c_str()));
    EXPECT_EQ("data", ReadAll(open_file.Stream()));
    EXPECT_TRUE(fs::is_empty(Path("tmp")));
  }
  RestoreTmpdir(saved ? saved_text.c_str() : nullptr);
}

TEST_F(InputFileTest, DialogRulesOpenFilesAsGiven) {
  const std::string packed = Gzip("data");
  ASSERT_TRUE(WriteBytes(Path("packed.gz"), packed));
  fs::create_directory(Path("folder"));
  {
    const InputRulesScope scope(InputRules::kDialog);
    EXPECT_EQ(InputRules::kDialog, CurrentInputRules());
    EXPECT_EQ(packed, ReadThrough("packed.gz"));  // the bytes of the file
    InputFile folder;
    EXPECT_TRUE(folder.Open(Path("folder").c_str()));  // fopen takes a folder on POSIX
    EXPECT_EQ(0u, folder.HeadSize());
    EXPECT_EQ("<failed> No such file or directory", ReadThrough("missing"));
  }
  EXPECT_EQ(InputRules::kCurrent, CurrentInputRules());
  EXPECT_EQ("data", ReadThrough("packed.gz"));
}

// Open descriptors of this process.
int OpenDescriptors() {
  int n = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++n;
  }
  return n;
}

TEST_F(InputFileTest, AScopeDecompressesAnUnchangedFileOnce) {
  const std::string data = MixedBytes(200 * 1024, 100 * 1024);
  ASSERT_TRUE(WriteBytes(Path("a.gz"), Gzip(data)));
  ASSERT_TRUE(WriteBytes(Path("b.gz"), Gzip("other")));
  const int before = OpenDescriptors();
  {
    const InputRulesScope scope(InputRules::kCurrent);
    // Two streams of one file at once: each has its own position.
    InputFile first, second, other;
    ASSERT_TRUE(first.Open(Path("a.gz").c_str()));
    ASSERT_TRUE(other.Open(Path("b.gz").c_str()));
    ASSERT_TRUE(second.Open(Path("a.gz").c_str()));
    EXPECT_TRUE(second.Decompressed());
    EXPECT_EQ(data.substr(0, InputFile::kHeadSize),
              std::string(reinterpret_cast<const char*>(second.Head()), second.HeadSize()));
    char start[100];
    ASSERT_EQ(sizeof start, std::fread(start, 1, sizeof start, first.Stream()));
    EXPECT_EQ(data, ReadAll(second.Stream()));
    EXPECT_EQ(data.substr(sizeof start), ReadAll(first.Stream()));
    EXPECT_EQ("other", ReadAll(other.Stream()));

    // A file changed since is decompressed again.
    ASSERT_TRUE(WriteBytes(Path("a.gz"), Gzip(data + "more")));
    EXPECT_EQ(data + "more", ReadThrough("a.gz"));
    ASSERT_TRUE(WriteBytes(Path("a.gz"), "\x1f\x8b cut"));
    EXPECT_EQ("<failed> damaged gzip data", ReadThrough("a.gz"));
  }
  // The scope's temporary files went with it.
  EXPECT_EQ(before, OpenDescriptors());
}

}  // namespace
}  // namespace rawconv
