// The thread stage in front of a file: outputs of many blocks arrive byte
// for byte, and a write that fails on the thread, or an abort while it
// writes, leaves no file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sink/sink.h"
#include "sink/thread_sink.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using rawconv::ExistingFile;
using rawconv::FileSink;
using rawconv::ThreadSink;

class ThreadSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = rawconv::testsupport::MakeScratchDir("rawconv_threadsink");
    ASSERT_FALSE(dir_.empty());
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

TEST_F(ThreadSinkTest, ManyBlocksInUnevenPiecesArriveWhole) {
  const std::string text = Lines(5 * ThreadSink::kBlockSize + 12345);
  FileSink file;
  ASSERT_TRUE(file.Open(target_.c_str(), ExistingFile::kReplace));
  ThreadSink stage(&file);
  for (size_t at = 0, piece = 1; at < text.size(); at += piece, piece = piece * 3 % 70001 + 1)
    ASSERT_TRUE(stage.Write(text.data() + at, std::min(piece, text.size() - at)));
  EXPECT_TRUE(stage.Threaded());
  ASSERT_TRUE(stage.Finish());
  EXPECT_EQ(text.size(), file.BytesWritten());
  std::ifstream in(target_, std::ios::binary);
  std::stringstream back;
  back << in.rdbuf();
  EXPECT_TRUE(back.str() == text);
  EXPECT_EQ(1u, Entries());

  // An output of less than a block is passed on by the caller.
  FileSink small;
  ASSERT_TRUE(small.Open((dir_ + "/small.05n").c_str(), ExistingFile::kReplace));
  ThreadSink small_stage(&small);
  ASSERT_TRUE(small_stage.Write("abc\n", 4));
  ASSERT_TRUE(small_stage.Finish());
  EXPECT_FALSE(small_stage.Threaded());
  EXPECT_EQ(4u, fs::file_size(dir_ + "/small.05n"));
}

TEST_F(ThreadSinkTest, AWriteFailingOnTheThreadFailsTheFileAndLeavesNothing) {
  // In a child, so that the size limit stays there.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {3 * ThreadSink::kBlockSize / 2, 3 * ThreadSink::kBlockSize / 2};
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string text = Lines(4 * ThreadSink::kBlockSize);
    FileSink file;
    if (!file.Open(target_.c_str(), ExistingFile::kReplace)) _exit(10);
    ThreadSink stage(&file);
    bool ok = true;
    for (size_t at = 0; at < text.size() && ok; at += 4096)
      ok = stage.Write(text.data() + at, 4096);
    const bool threaded = stage.Threaded();
    ok = stage.Finish() && ok;
    _exit(ok ? 11 : threaded ? 0 : 12);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));  // 11: success reported; 12: never threaded
  EXPECT_EQ(0u, Entries());
}

TEST_F(ThreadSinkTest, AbortWhileTheThreadWritesRemovesTheFile) {
  const std::string text = Lines(3 * ThreadSink::kBlockSize);
  {
    FileSink file;
    ASSERT_TRUE(file.Open(target_.c_str(), ExistingFile::kReplace));
    ThreadSink stage(&file);
    ASSERT_TRUE(stage.Write(text.data(), text.size()));
    stage.Abort();
    EXPECT_FALSE(stage.Write("x", 1));
  }
  {
    FileSink file;
    ASSERT_TRUE(file.Open(target_.c_str(), ExistingFile::kReplace));
    ThreadSink dropped(&file);  // destroyed without Finish
    ASSERT_TRUE(dropped.Write(text.data(), text.size()));
  }
  EXPECT_EQ(0u, Entries());
}

// A coder that frames each block and takes a time of its own, so that
// threads finish blocks out of order; the `fail_at`-th block fails.
class FramingCoder final : public rawconv::BlockCoder {
 public:
  explicit FramingCoder(int fail_at = -1) : fail_at_(fail_at) {}
  bool Code(const char* in, size_t length, const char** out, size_t* out_length) override {
    const int n = calls_.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::microseconds((n * 7919) % 3000));
    if (n == fail_at_) return false;
    coded_ = "[" + std::to_string(length) + ":" + std::string(in, length) + "]";
    *out = coded_.data();
    *out_length = coded_.size();
    return true;
  }
  // Shared by all coders of a stage: the order in which blocks are coded.
  static std::atomic<int> calls_;

 private:
  int fail_at_;
  std::string coded_;
};
std::atomic<int> FramingCoder::calls_{0};

std::vector<std::unique_ptr<rawconv::BlockCoder>> Coders(int count, int fail_at = -1) {
  FramingCoder::calls_ = 0;
  std::vector<std::unique_ptr<rawconv::BlockCoder>> coders;
  for (int i = 0; i < count; ++i) coders.emplace_back(new FramingCoder(fail_at));
  return coders;
}

TEST_F(ThreadSinkTest, CodedBlocksArriveInTheWritersOrder) {
  constexpr size_t kBlock = 1000;
  // Two and a half rings, so that the writer waits for free blocks.
  const std::string text = Lines(5 * ThreadSink::kRing * kBlock / 2 + 17);
  std::string expected;
  for (size_t at = 0; at < text.size(); at += kBlock) {
    const std::string block = text.substr(at, kBlock);
    expected += "[" + std::to_string(block.size()) + ":" + block + "]";
  }
  for (int threads : {1, 4}) {
    SCOPED_TRACE(threads);
    FileSink file;
    ASSERT_TRUE(file.Open(target_.c_str(), ExistingFile::kReplace));
    ThreadSink stage(&file, kBlock, Coders(threads));
    for (size_t at = 0; at < text.size(); at += 333)
      ASSERT_TRUE(stage.Write(text.data() + at, std::min<size_t>(333, text.size() - at)));
    ASSERT_TRUE(stage.Finish());
    EXPECT_TRUE(stage.Threaded());
    std::ifstream in(target_, std::ios::binary);
    std::stringstream back;
    back << in.rdbuf();
    EXPECT_TRUE(back.str() == expected);
  }
  // Nothing written: one empty block is coded all the same.
  FileSink empty;
  ASSERT_TRUE(empty.Open(target_.c_str(), ExistingFile::kReplace));
  ThreadSink empty_stage(&empty, kBlock, Coders(2));
  ASSERT_TRUE(empty_stage.Finish());
  EXPECT_EQ(4u, fs::file_size(target_));  // "[0:]"
}

TEST_F(ThreadSinkTest, AFailedCodeOrAbortAmongCodersLeavesNoFile) {
  const std::string text = Lines(3 * ThreadSink::kRing * 1000);
  {
    FileSink file;
    ASSERT_TRUE(file.Open(target_.c_str(), ExistingFile::kReplace));
    ThreadSink stage(&file, 1000, Coders(3, /*fail_at=*/5));
    bool ok = true;
    for (size_t at = 0; at < text.size() && ok; at += 1000) ok = stage.Write(text.data() + at, 1000);
    EXPECT_FALSE(stage.Finish());
  }
  EXPECT_EQ(0u, Entries());
  {
    FileSink file;
    ASSERT_TRUE(file.Open(target_.c_str(), ExistingFile::kReplace));
    ThreadSink stage(&file, 1000, Coders(3));
    ASSERT_TRUE(stage.Write(text.data(), text.size() / 2));
    stage.Abort();  // while blocks wait and are coded
    EXPECT_FALSE(stage.Write("x", 1));
  }
  EXPECT_EQ(0u, Entries());
}

}  // namespace
