// FileSink with its writing thread: files of many blocks arrive byte for
// byte, and a write that fails on the thread, or an abort while it writes,
// leaves no file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sink/sink.h"

namespace {

namespace fs = std::filesystem;
using rawconv::ExistingFile;
using rawconv::FileSink;

class FileSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/rawconv_filesink_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    target_ = dir_ + "/out.05o";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Entries of the folder: the target and any temporary file.
  size_t Entries() const {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir_)) n += e.is_regular_file() ? 1 : 0;
    return n;
  }

  // Text of `size` bytes in lines of varying length, so that no two blocks
  // look alike.
  static std::string Lines(size_t size) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i)
      text += std::to_string(i * 7919) + std::string(i % 80, 'x') + "\n";
    text.resize(size);
    return text;
  }

  std::string dir_;
  std::string target_;
};

TEST_F(FileSinkTest, ManyBlocksInUnevenPiecesArriveWhole) {
  const std::string text = Lines(5 * FileSink::kBlockSize + 12345);
  FileSink file;
  ASSERT_TRUE(file.Open(target_.c_str(), ExistingFile::kReplace));
  for (size_t at = 0, piece = 1; at < text.size(); at += piece, piece = piece * 3 % 70001 + 1)
    ASSERT_TRUE(file.Write(text.data() + at, std::min(piece, text.size() - at)));
  EXPECT_TRUE(file.Threaded());
  EXPECT_EQ(text.size(), file.BytesWritten());
  ASSERT_TRUE(file.Finish());
  std::ifstream in(target_, std::ios::binary);
  std::stringstream back;
  back << in.rdbuf();
  EXPECT_TRUE(back.str() == text);
  EXPECT_EQ(1u, Entries());

  // A file of less than a block is written by the caller.
  FileSink small;
  ASSERT_TRUE(small.Open((dir_ + "/small.05n").c_str(), ExistingFile::kReplace));
  ASSERT_TRUE(small.Write("abc\n", 4));
  ASSERT_TRUE(small.Finish());
  EXPECT_FALSE(small.Threaded());
  EXPECT_EQ(4u, fs::file_size(dir_ + "/small.05n"));
}

TEST_F(FileSinkTest, AWriteFailingOnTheThreadFailsTheFileAndLeavesNothing) {
  // In a child, so that the size limit stays there.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {3 * FileSink::kBlockSize / 2, 3 * FileSink::kBlockSize / 2};
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string text = Lines(4 * FileSink::kBlockSize);
    FileSink file;
    if (!file.Open(target_.c_str(), ExistingFile::kReplace)) _exit(10);
    bool ok = true;
    for (size_t at = 0; at < text.size() && ok; at += 4096)
      ok = file.Write(text.data() + at, 4096);
    const bool threaded = file.Threaded();
    ok = file.Finish() && ok;
    _exit(ok ? 11 : threaded ? 0 : 12);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));  // 11: success reported; 12: never threaded
  EXPECT_EQ(0u, Entries());
}

TEST_F(FileSinkTest, AbortWhileTheThreadWritesRemovesTheFile) {
  const std::string text = Lines(3 * FileSink::kBlockSize);
  {
    FileSink file;
    ASSERT_TRUE(file.Open(target_.c_str(), ExistingFile::kReplace));
    ASSERT_TRUE(file.Write(text.data(), text.size()));
    file.Abort();
    EXPECT_FALSE(file.Write("x", 1));
  }
  {
    FileSink dropped;  // destroyed without Finish
    ASSERT_TRUE(dropped.Open(target_.c_str(), ExistingFile::kReplace));
    ASSERT_TRUE(dropped.Write(text.data(), text.size()));
  }
  EXPECT_EQ(0u, Entries());
}

}  // namespace
