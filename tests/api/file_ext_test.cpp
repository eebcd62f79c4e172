#include "api/file_ext.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace rawconv
