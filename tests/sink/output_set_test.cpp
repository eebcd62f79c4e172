// The files of one call go into place together or not at all: whatever
// fails, the user's files are byte for byte as before and no temporary or
// kept-aside file is left beside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sink/sink.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using rawconv::ExistingFile;
using rawconv::FileSink;
using rawconv::OutputSet;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class OutputSetTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = rawconv::testsupport::MakeScratchDir("output_set");
    ASSERT_FALSE(dir_.empty());
    for (const char* name : {"a", "b", "c"}) targets_.push_back(dir_ + "/" + name);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Finished files of the three targets, holding "new a", "new b", ...
  void Write(ExistingFile policy = ExistingFile::kReplace, OutputSet* set = nullptr) {
    for (size_t i = 0; i < 3; ++i) {
      files_[i].DeferCommit();
      files_[i].SetSync(false);
      ASSERT_TRUE(files_[i].Open(targets_[i].c_str(), policy));
      const std::string text = "new " + fs::path(targets_[i]).filename().string();
      ASSERT_TRUE(files_[i].Write(text.data(), text.size()));
      ASSERT_TRUE(files_[i].Finish());
      (set ? set : &set_)->Add(&files_[i]);
    }
  }

  // Every name in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
  std::vector<std::string> targets_;
  FileSink files_[3];
  OutputSet set_;
};

TEST_F(OutputSetTest, ReplacesEveryTargetAndLeavesNothingElse) {
  WriteText(targets_[0], "user a");
  WriteText(targets_[2], "user c");
  Write();
  ASSERT_TRUE(set_.Commit());
  EXPECT_EQ("new a", Read(targets_[0]));
  EXPECT_EQ("new b", Read(targets_[1]));
  EXPECT_EQ("new c", Read(targets_[2]));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), Names());
}

TEST_F(OutputSetTest, AFolderInTheWayOfAnyTargetChangesNothing) {
  for (size_t blocked = 0; blocked < 3; ++blocked) {
    SCOPED_TRACE(blocked);
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    for (size_t i = 0; i < 3; ++i) {
      if (i == blocked) {
        fs::create_directory(targets_[i]);
      } else {
        WriteText(targets_[i], "user " + std::to_string(i));
      }
    }
    OutputSet set;
    FileSink files[3];
    for (size_t i = 0; i < 3; ++i) {
      files[i].DeferCommit();
      files[i].SetSync(false);
      ASSERT_TRUE(files[i].Open(targets_[i].c_str(), ExistingFile::kReplace));
      ASSERT_TRUE(files[i].Write("new", 3));
      ASSERT_TRUE(files[i].Finish());
      set.Add(&files[i]);
    }
    EXPECT_FALSE(set.Commit());
    EXPECT_TRUE(set.FolderInTheWay());
    EXPECT_EQ(targets_[blocked], set.FailedTarget());
    for (size_t i = 0; i < 3; ++i) {
      if (i == blocked) {
        EXPECT_TRUE(fs::is_directory(targets_[i]));
      } else {
        EXPECT_EQ("user " + std::to_string(i), Read(targets_[i]));
      }
    }
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), Names());
  }
}

TEST_F(OutputSetTest, AnExistingTargetUnderRefuseChangesNothing) {
  WriteText(targets_[1], "user b");
  Write(ExistingFile::kRefuse);
  EXPECT_FALSE(set_.Commit());
  EXPECT_TRUE(set_.TargetExisted());
  EXPECT_EQ(targets_[1], set_.FailedTarget());
  EXPECT_EQ("user b", Read(targets_[1]));
  EXPECT_EQ((std::vector<std::string>{"b"}), Names());
}

// A move that fails after others were made: the files already moved are
// taken back and the user's old files return to their names.
TEST_F(OutputSetTest, AFailedMoveTakesBackTheMovesBeforeIt) {
  const std::string other = dir_ + "/sub";
  fs::create_directory(other);
  targets_[2] = other + "/c";
  WriteText(targets_[0], "user a");
  WriteText(targets_[1], "user b");
  Write();
  fs::remove_all(other);  // the last temporary file is gone with its folder
  EXPECT_FALSE(set_.Commit());
  EXPECT_EQ(targets_[2], set_.FailedTarget());
  EXPECT_EQ("user a", Read(targets_[0]));
  EXPECT_EQ("user b", Read(targets_[1]));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Names());
}

// A stop asked for before anything moved, or after every file is in place
// but before the old ones are gone: either way the commit is taken back.
TEST_F(OutputSetTest, AStopDuringTheCommitTakesItBack) {
  for (int stop_at = 1; stop_at <= 2; ++stop_at) {
    SCOPED_TRACE(stop_at);
    WriteText(targets_[0], "user a");
    WriteText(targets_[2], "user c");
    OutputSet set;
    Write(ExistingFile::kReplace, &set);
    struct Poll {
      int Asked;
      int StopAt;
    } poll{0, stop_at};
    set.StopWhen(
        [](void* user) {
          Poll* p = static_cast<Poll*>(user);
          return ++p->Asked == p->StopAt;
        },
        &poll);
    EXPECT_FALSE(set.Commit());
    EXPECT_TRUE(set.Stopped());
    EXPECT_EQ(std::string(), set.FailedTarget());
    EXPECT_EQ(stop_at, poll.Asked);
    EXPECT_EQ("user a", Read(targets_[0]));
    EXPECT_EQ("user c", Read(targets_[2]));
    EXPECT_EQ((std::vector<std::string>{"a", "c"}), Names());
  }
  // Not stopped: asked twice, and the files are in place.
  Write();
  int asked = 0;
  set_.StopWhen([](void* user) { return ++*static_cast<int*>(user) > 2; }, &asked);
  EXPECT_TRUE(set_.Commit());
  EXPECT_FALSE(set_.Stopped());
  EXPECT_EQ(2, asked);
  EXPECT_EQ("new b", Read(targets_[1]));
}

// A folder that appears in a target's way after the targets were checked
// fails the commit; it is neither moved aside nor left under another name.
TEST_F(OutputSetTest, AFolderAppearingAfterTheCheckFailsTheCommit) {
  WriteText(targets_[0], "user a");
  WriteText(targets_[1], "user b");
  Write();
  set_.StopWhen(
      [](void* user) {
        const std::string& target = *static_cast<std::string*>(user);
        if (!fs::is_directory(target)) {
          fs::remove(target);
          fs::create_directory(target);
        }
        return false;
      },
      &targets_[1]);
  EXPECT_FALSE(set_.Commit());
  EXPECT_TRUE(set_.FolderInTheWay());
  EXPECT_EQ(targets_[1], set_.FailedTarget());
  EXPECT_EQ("user a", Read(targets_[0]));
  EXPECT_TRUE(fs::is_directory(targets_[1]));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Names());
}

// A file name of 250 bytes: the temporary and kept-aside names are
// shortened to fit the file system, the target keeps its name.
TEST_F(OutputSetTest, LongFileNamesFitTheirTemporaryNames) {
  targets_[0] = dir_ + "/" + std::string(246, 'n') + ".05o";
  WriteText(targets_[0], "user");
  FileSink file;
  file.DeferCommit();
  file.SetSync(false);
  ASSERT_TRUE(file.Open(targets_[0].c_str(), ExistingFile::kReplace));
  ASSERT_TRUE(file.Write("new", 3));
  ASSERT_TRUE(file.Finish());
  OutputSet set;
  set.Add(&file);
  ASSERT_TRUE(set.Commit()) << set.FailedTarget();
  EXPECT_EQ("new", Read(targets_[0]));
  EXPECT_EQ((std::vector<std::string>{fs::path(targets_[0]).filename().string()}), Names());
}

}  // namespace
