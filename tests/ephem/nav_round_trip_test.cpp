// Real broadcast navigation files: RINEX -> EPP (nav2epp's conversion) ->
// RINEX through ConvertEppToNav, record by record against the original.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "api/context.h"
#include "ephem/nav_writer.h"
#include "obs/run_date.h"
#include "support/nav_compare.h"
#include "support/rinex_nav.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;

// Navigation files under the shared data folder: *.YYn, *.nav and their
// gzip-compressed forms.
std::vector<fs::path> NavFiles() {
  std::vector<fs::path> files;
  const fs::path dir = RAWCONV_SHARED_DATA_DIR;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0)
      name.resize(name.size() - 3);
    const std::string ext = fs::path(name).extension().string();
    const bool yyn = ext.size() == 4 && std::isdigit(static_cast<unsigned char>(ext[1])) &&
                     std::isdigit(static_cast<unsigned char>(ext[2])) &&
                     (ext[3] == 'n' || ext[3] == 'N');
    if (yyn || ext == ".nav") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool HasGzip() { return std::system("gzip --version >/dev/null 2>&1") == 0; }

class NavRoundTrip : public testing::Test {
 protected:
  void SetUp() override {
    SetRunClockForTesting(1133965800);
  }
  std::string Temp(const std::string& name) {
    return testing::TempDir() + "nav_round_trip_" + name;
  }

  // The original as plain text (gzip files decompressed); empty when it
  // cannot be had.
  std::string PlainCopy(const fs::path& file) {
    if (file.extension() != ".gz") return file.string();
    if (!HasGzip()) return std::string();
    const std::string out = Temp(file.stem().string());
    const std::string command = "gzip -dc '" + file.string() + "' > '" + out + "'";
    return std::system(command.c_str()) == 0 ? out : std::string();
  }

  void RoundTrip(const fs::path& file, int rinex_version, size_t& records) {
    const std::string plain = PlainCopy(file);
    if (plain.empty()) {
      std::printf("skipped %s: no gzip\n", file.filename().string().c_str());
      return;
    }
    std::string error;
    rinexnav::NavFile original;
    ASSERT_TRUE(rinexnav::ReadNavFile(plain, original, error)) << error;
    ASSERT_FALSE(original.Records.empty());

    const std::string epp_path = Temp(file.filename().string() + ".epp");
    ASSERT_TRUE(rinexnav::ConvertNavToEpp(plain, epp_path, error)) << error;

    const std::string nav_path = Temp(file.filename().string() + ".out");
    std::FILE* epp = std::fopen(epp_path.c_str(), "r");
    std::FILE* nav = std::fopen(nav_path.c_str(), "w");
    ASSERT_NE(epp, nullptr);
    ASSERT_NE(nav, nullptr);
    ASSERT_EQ(WriteNavHeader(nav, "round trip"), 0);
    ASSERT_EQ(ConvertEppToNav(epp, nav, rinex_version), 0);
    std::fclose(epp);
    std::fclose(nav);

    rinexnav::NavFile written;
    ASSERT_TRUE(rinexnav::ReadNavFile(nav_path, written, error)) << error;
    EXPECT_EQ(written.VersionText, "2.10");
    ASSERT_EQ(written.Records.size(), original.Records.size());

    navcompare::CompareNavRecords(original, written, rinex_version, file.filename().string());
    records += original.Records.size();
    std::printf("%s: %u records\n", file.filename().string().c_str(),
                static_cast<unsigned>(original.Records.size()));
    std::remove(epp_path.c_str());
    std::remove(nav_path.c_str());
  }
};

TEST_F(NavRoundTrip, EveryRealNavigationFile) {
  const std::vector<fs::path> files = NavFiles();
  ASSERT_GE(files.size(), 9u) << RAWCONV_SHARED_DATA_DIR;
  size_t records = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    RoundTrip(file, 2, records);
    if (HasFailure()) return;
  }
  EXPECT_GT(records, 1900u);
  // RINEX 2.0 output on one file.
  size_t more = 0;
  RoundTrip(files.front(), 1, more);
}

// The nav2epp program itself, when it has been built beside the tests.
TEST_F(NavRoundTrip, Nav2eppProgram) {
  const fs::path tool = fs::path(RAWCONV_BINARY_DIR) / "tools" / "nav2epp";
  if (!fs::exists(tool)) GTEST_SKIP() << "nav2epp not built";
  const std::string in = std::string(RAWCONV_SHARED_DATA_DIR) + "/bahr1620.04n";
  const std::string out = Temp("tool.epp");
  const std::string command = "'" + tool.string() + "' '" + in + "' '" + out + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string text;
  ASSERT_TRUE(rinexnav::ReadFileText(out, text));
  rinexnav::NavFile nav;
  std::string error;
  ASSERT_TRUE(rinexnav::ReadNavFile(in, nav, error)) << error;
  EXPECT_EQ(text, rinexnav::EppFileText(nav));
  EXPECT_NE(std::system(("'" + tool.string() + "' 2>/dev/null").c_str()), 0);
  EXPECT_NE(std::system(("'" + tool.string() + "' /no/such.nav '" + out + "' 2>/dev/null").c_str()),
            0);
  std::remove(out.c_str());
}

}  // namespace
}  // namespace rawconv
