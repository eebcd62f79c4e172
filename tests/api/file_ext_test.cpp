#include "naming/file_ext.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace rawconv {
namespace {

std::string WithExt(const char* path, const char* ext) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%s", path);
  EXPECT_EQ(0, SetFileExt(buf, ext));
  return buf;
}

TEST(SetFileExt, ReplacesOrAppendsTheExtensionOfTheLastComponent) {
  EXPECT_EQ("C:\\data\\site1.05o", WithExt("C:\\data\\site1.obs", ".05o"));
  EXPECT_EQ("C:\\data.old\\site1.05o", WithExt("C:\\data.old\\site1", ".05o"));
  EXPECT_EQ("D:\\out\\x.99n", WithExt("D:\\out\\x.nav", ".99n"));
  EXPECT_EQ("site.tar.epp", WithExt("site.tar.gz", ".epp"));
  EXPECT_EQ("noext.obs", WithExt("noext", ".obs"));
  // POSIX paths: a point in a directory name is not an extension either.
  EXPECT_EQ("/data.old/site1.05o", WithExt("/data.old/site1", ".05o"));
  EXPECT_EQ("/data/site1.05o", WithExt("/data/site1.gpb", ".05o"));
}

TEST(SetFileExt, RemovesLeadingBlanks) {
  EXPECT_EQ("C:\\x.05o", WithExt("   C:\\x.obs", ".05o"));
  EXPECT_EQ(".obs", WithExt("   ", ".obs"));
}

TEST(SetFileExt, RefusesAResultThatDoesNotFit) {
  char buf[256];
  std::string long_name(253, 'a');
  std::snprintf(buf, sizeof buf, "%s", long_name.c_str());
  EXPECT_EQ(1, SetFileExt(buf, ".obs"));
  EXPECT_EQ(long_name, buf);  // unchanged when refused
  std::string fits(251, 'a');
  std::snprintf(buf, sizeof buf, "%s", fits.c_str());
  EXPECT_EQ(0, SetFileExt(buf, ".obs"));
  EXPECT_EQ(255u, std::string(buf).size());
}

// A fresh folder per test for the files beside a GPB file.
class BesideFileTest : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = testing::TempDir() + "beside_" + info->name() + "_" + std::to_string(getpid());
    ASSERT_EQ(0, mkdir(dir_.c_str(), 0700));
  }
  void TearDown() override {
    for (const std::string& path : created_) std::remove(path.c_str());
    rmdir(dir_.c_str());
  }
  std::string Touch(const std::string& name) {
    const std::string path = dir_ + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "w");
    EXPECT_NE(f, nullptr) << path;
    if (f != nullptr) std::fclose(f);
    created_.insert(created_.begin(), path);
    return path;
  }
  void Folder(const std::string& name) {
    const std::string path = dir_ + "/" + name;
    ASSERT_EQ(0, mkdir(path.c_str(), 0700));
    created_.insert(created_.begin(), path);
  }
  std::string Beside(const std::string& gpb_name, const char* ext) {
    char out[512];
    EXPECT_EQ(0, FindBesideFile((dir_ + "/" + gpb_name).c_str(), ext, out, sizeof out));
    const std::string path = out;
    EXPECT_EQ(0u, path.rfind(dir_ + "/", 0)) << path;
    return path.substr(dir_.size() + 1);
  }

  std::string dir_;
  std::vector<std::string> created_;  // removed in reverse order of creation
};

TEST_F(BesideFileTest, LowerCaseThenUpperCaseThenAnyCase) {
  EXPECT_EQ("UPPER.epp", Beside("UPPER.GPB", ".epp"));  // none: the lower-case name
  Touch("UPPER.EPP");
  EXPECT_EQ("UPPER.EPP", Beside("UPPER.GPB", ".epp"));
  Touch("UPPER.epp");
  EXPECT_EQ("UPPER.epp", Beside("UPPER.GPB", ".epp"));
  EXPECT_EQ("UPPER.epp", Beside("UPPER.gpb", ".EPP"));  // ext in any case asks the same

  // Mixed spellings: the smallest in byte order, whatever the folder's order.
  Touch("site.ePP");
  Touch("site.EpP");
  EXPECT_EQ("site.EpP", Beside("site.gpb", ".epp"));
  Touch("site.EPp");
  EXPECT_EQ("site.EPp", Beside("site.dat", ".epp"));
  EXPECT_EQ("site.sta", Beside("site.gpb", ".sta"));
}

TEST_F(BesideFileTest, OnlyTheExtensionVariesAndFoldersDoNotCount) {
  Touch("SITE.epp");
  Touch("site.epp.bak");
  Touch("site.ep");
  EXPECT_EQ("site.epp", Beside("site.gpb", ".epp"));
  Folder("site.epp");
  Folder("site.EPP");
  EXPECT_EQ("site.epp", Beside("site.gpb", ".epp"));
  Touch("site.Epp");
  EXPECT_EQ("site.Epp", Beside("site.gpb", ".epp"));
  // A file without an extension, and leading blanks, as SetFileExt names.
  Touch("noext.STA");
  char out[512];
  ASSERT_EQ(0, FindBesideFile(("  " + dir_ + "/noext").c_str(), ".sta", out, sizeof out));
  EXPECT_EQ(dir_ + "/noext.STA", out);
}

TEST_F(BesideFileTest, FileInTheCurrentFolder) {
  Touch("here.Sta");
  char previous[4096];
  ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
  ASSERT_EQ(0, chdir(dir_.c_str()));
  char out[64];
  const int found = FindBesideFile("here.GPB", ".sta", out, sizeof out);
  const int missing = FindBesideFile("gone.GPB", ".sta", out + 32, 32);
  ASSERT_EQ(0, chdir(previous));
  EXPECT_EQ(0, found);
  EXPECT_STREQ("here.Sta", out);
  EXPECT_EQ(0, missing);
  EXPECT_STREQ("gone.sta", out + 32);
}

TEST_F(BesideFileTest, NamesThatDoNotFit) {
  char out[16];
  std::snprintf(out, sizeof out, "untouched");
  EXPECT_EQ(1, FindBesideFile("abcdefghijkl.gpb", ".epp", out, sizeof out));
  EXPECT_STREQ("", out);
  EXPECT_EQ(0, FindBesideFile("abcdefghijk.gpb", ".epp", out, sizeof out));
  EXPECT_STREQ("abcdefghijk.epp", out);
  EXPECT_EQ(1, FindBesideFile("a.gpb", ".epp", out, 0));
  EXPECT_EQ(1, FindBesideFile("", ".epp", out, 4));
  EXPECT_EQ(0, FindBesideFile("", ".epp", out, 5));
  EXPECT_STREQ(".epp", out);

  // Only the given part of the stem counts.
  Touch("ab.DAT");
  char path[512];
  ASSERT_EQ(0, FindFileAnyCaseExt((dir_ + "/abcdef").c_str(), dir_.size() + 3, ".dat", path,
                                  sizeof path));
  EXPECT_EQ(dir_ + "/ab.DAT", path);
}

}  // namespace
}  // namespace rawconv
