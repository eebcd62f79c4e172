#include <gtest/gtest.h>

#include <string>

#include "naming/path.h"

namespace rawconv {
namespace {

TEST(PathParts, SplitsAtTheLastSlash) {
  EXPECT_STREQ(FileNameOf("/data/site1.gpb"), "site1.gpb");
  EXPECT_EQ(FolderOf("/data/site1.gpb"), "/data/");
  EXPECT_EQ(StemOf("/data/site1.gpb"), "site1");
  EXPECT_STREQ(FileNameOf("site1.gpb"), "site1.gpb");
  EXPECT_EQ(FolderOf("site1.gpb"), "");
  EXPECT_STREQ(FileNameOf("/data/"), "");
  EXPECT_EQ(FolderOf("/"), "/");
  EXPECT_EQ(FileNameStart("a/b/c"), 4u);
}

TEST(PathParts, StemsAndExtensions) {
  EXPECT_EQ(StemOf("a.b/site.tar.gz"), "site.tar");
  EXPECT_EQ(StemOf("a.b/site"), "site");  // the folder's dot is no extension
  EXPECT_EQ(StemOf("dir/.hidden"), ".hidden");
  EXPECT_EQ(WithoutExtensionLength("a.b/site.gpb"), 8u);
  EXPECT_EQ(WithoutExtensionLength("a.b/site"), 8u);
  EXPECT_EQ(WithoutExtensionLength("dir/.hidden"), 4u);
}

TEST(PathParts, BackslashesSplitOnlyUnderTheEitherSlashRule) {
  const char* path = "C:\\data\\site1.gpb";
  EXPECT_STREQ(FileNameOf(path, PathRule::kEitherSlash), "site1.gpb");
  EXPECT_EQ(WithoutExtensionLength("x.y\\site", PathRule::kEitherSlash), 8u);
#if defined(_WIN32)
  EXPECT_STREQ(FileNameOf(path), "site1.gpb");
#else
  // On POSIX a backslash is part of a file name.
  EXPECT_STREQ(FileNameOf(path), path);
  EXPECT_EQ(WithoutExtensionLength("x.y\\site"), 1u);
#endif
}

TEST(PathParts, JoinAddsOneSeparator) {
  EXPECT_EQ(JoinPath("", "a.txt"), "a.txt");
  EXPECT_EQ(JoinPath("out", "a.txt"), "out/a.txt");
  EXPECT_EQ(JoinPath("out/", "a.txt"), "out/a.txt");
  EXPECT_EQ(JoinPath("out\\", "a.txt", PathRule::kEitherSlash), "out\\a.txt");
}

}  // namespace
}  // namespace rawconv
