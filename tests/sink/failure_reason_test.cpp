// Why an output failed, as the sinks keep it for the conversion's message:
// the system's error number of the file, and the Compact RINEX encoder's own
// account behind a chain.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "sink/chain.h"
#include "sink/sink.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

class FailureReasonTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = rawconv::testsupport::MakeScratchDir("failure_reason"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string dir_;
};

TEST_F(FailureReasonTest, AFileThatCannotBeCreatedKeepsTheSystemsReason) {
  rawconv::FileSink file;
  EXPECT_FALSE(file.Open((dir_ + "/no/such/folder/x.05o").c_str(), rawconv::ExistingFile::kReplace));
  EXPECT_EQ(ENOENT, file.SystemError());
  EXPECT_TRUE(file.Open((dir_ + "/x.05o").c_str(), rawconv::ExistingFile::kReplace));
  EXPECT_EQ(0, file.SystemError());
  file.Abort();
}

TEST_F(FailureReasonTest, TheEncodersOwnAccountSurvivesTheChain) {
  rawconv::FileSink file;
  ASSERT_TRUE(file.Open((dir_ + "/x.05d").c_str(), rawconv::ExistingFile::kReplace));
  for (bool threads : {false, true}) {
    SCOPED_TRACE(threads);
    rawconv::OutputChain chain;
    rawconv::Sink* head = chain.Build(&file, rawconv::Compression::kCrx, true, 2, threads);
    ASSERT_NE(nullptr, head);
    EXPECT_STREQ("", chain.StreamError());
    const std::string text = "not a RINEX header line at all\n";
    head->Write(text.data(), text.size());
    EXPECT_FALSE(head->Finish());
    EXPECT_EQ(0u, std::string(chain.StreamError()).find("Compact RINEX: ")) << chain.StreamError();
  }
  file.Abort();
  EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
