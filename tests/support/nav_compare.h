// Comparison of RINEX navigation records written by rawconv with the
// originals they were made from (header-only).
#ifndef RAWCONV_TESTS_SUPPORT_NAV_COMPARE_H_
#define RAWCONV_TESTS_SUPPORT_NAV_COMPARE_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "support/rinex_nav.h"

namespace rawconv {
namespace navcompare {

// Half a unit of the twelfth significant digit of the D form of v.
inline double DFormHalfUnit(double v) {
  if (v == 0.0) return 0.5e-12;
  const double k = std::floor(std::log10(std::fabs(v))) + 1;  // mantissa in [0.1, 1)
  return 0.5e-12 * std::pow(10.0, k);
}

inline void ExpectNear(double original, double written, const std::string& what) {
  // Plus a few units of the doubles' own last place for the subtraction.
  const double tolerance = std::max(DFormHalfUnit(original), DFormHalfUnit(written)) +
                           8 * std::numeric_limits<double>::epsilon() *
                               std::max(std::fabs(original), std::fabs(written));
  EXPECT_LE(std::fabs(original - written), tolerance)
      << what << ": original " << original << ", written " << written;
}

// Compares every record of a navigation file written by rawconv with the
// original it was made from (through EPP): the values EPP carries within the
// precision of the D form, the epoch exactly, line 8 by RINEX version.
inline void CompareNavRecords(const rinexnav::NavFile& original, const rinexnav::NavFile& written,
                              int rinex_version, const std::string& name) {
  ASSERT_EQ(written.Records.size(), original.Records.size()) << name;
  // Fields the EPP record carries: (orbit line, field) of each.
  const int carried[][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}, {1, 1}, {1, 2},
                            {1, 3}, {2, 0}, {2, 1}, {2, 2}, {2, 3}, {3, 0}, {3, 1},
                            {3, 2}, {3, 3}, {4, 0}, {4, 2}, {5, 2}, {5, 3}};
  for (size_t i = 0; i < original.Records.size(); ++i) {
    const rinexnav::NavRecord& a = original.Records[i];
    const rinexnav::NavRecord& b = written.Records[i];
    const std::string where = name + " record " + std::to_string(i + 1);
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
}

}  // namespace navcompare
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_NAV_COMPARE_H_
