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

// Half a unit of the twelfth significant digit of the D form of v.
double DFormHalfUnit(double v) {
  if (v == 0.0) return 0.5e-12;
  const double k = std::floor(std::log10(std::fabs(v))) + 1;  // mantissa in [0.1, 1)
  return 0.5e-12 * std::pow(10.0, k);
}

void ExpectNear(double original, double written, const std::string& what) {
  // Plus a few units of the doubles' own last place for the subtraction.
  const double tolerance = std::max(DFormHalfUnit(original), DFormHalfUnit(written)) +
                           8 * std::numeric_limits<double>::epsilon() *
                               std::max(std::fabs(original), std::fabs(written));
  EXPECT_LE(std::fabs(original - written), tolerance)
      << what << ": original " << original << ", written " << written;
}

class NavRoundTrip : public testing::Test {
 protected:
  void SetUp() override {
    Ctx().UseGpsWeek = 0;
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

    // Fields the EPP record carries: (orbit line, field) of each.
    const int carried[][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}, {1, 1}, {1, 2},
                              {1, 3}, {2, 0}, {2, 1}, {2, 2}, {2, 3}, {3, 0}, {3, 1},
                              {3, 2}, {3, 3}, {4, 0}, {4, 2}, {5, 2}, {5, 3}};
    for (size_t i = 0; i < original.Records.size(); ++i) {
      const rinexnav::NavRecord& a = original.Records[i];
      const rinexnav::NavRecord& b = written.Records[i];
      const std::string where = file.filename().string() + " record " + std::to_string(i + 1);
      EXPECT_EQ(a.Prn, b.Prn) << where;
      EXPECT_EQ(a.Year, b.Year) << where;
      EXPECT_EQ(a.Month, b.Month) << where;
      EXPECT_EQ(a.Day, b.Day) << where;
      EXPECT_EQ(a.Hour, b.Hour) << where;
      EXPECT_EQ(a.Minute, b.Minute) << where;
      EXPECT_DOUBLE_EQ(a.Second, b.Second) << where;
      for (int k = 0; k < 3; ++k) ExpectNear(a.Clock[k], b.Clock[k], where + " clock");
      for (const auto& f : carried) {
        ExpectNear(a.Orbit[f[0]][f[1]], b.Orbit[f[0]][f[1]],
                   where + " orbit " + std::to_string(f[0] + 1) + "." + std::to_string(f[1] + 1));
      }
      // Line 8: the toe as transmission time, the fit interval for 2.1 only.
      EXPECT_EQ(b.Orbit[6][0], a.Orbit[2][0]) << where;
      EXPECT_EQ(b.LastLineFields, rinex_version == 2 ? 2 : 1) << where;
      if (::testing::Test::HasFailure()) return;  // one broken record is enough
    }
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
