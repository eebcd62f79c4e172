// GPB values that no receiver records (infinities, NaN, the largest and
// smallest doubles, times far outside a week) convert without harm: every
// observation value other than C1 keeps its 16 columns, C1 is written whole,
// each exactly as "%14.3f" writes the number.
#include <cmath>
#include <limits>

#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

using HostileGpbTest = ConversionFixture;

// 0.0 - value as the writer computes it at run time (a NaN keeps its sign
// there, which folding by the compiler need not do).
double Negated(double value) {
  volatile double zero = 0.0;
  return zero - value;
}

std::string Fixed(double value, size_t cut) {
  char text[400];
  std::snprintf(text, sizeof text, "%14.3f", value);
  std::string s = text;
  return s.size() > cut ? s.substr(0, cut) : s;
}

TEST_F(HostileGpbTest, ExtremeValuesKeepTheirColumns) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double values[] = {1e308,        -1e308,          inf,        -inf,
                           nan,          -nan,            4.9e-324,   -0.0005,
                           99999999999.9995, -9999999999.9995, 0.0005, 123456789012345.678,
                           std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()};
  gpbtest::GpbFileBuilder file = gpbtest::GpbFileBuilder::Old(2);
  std::vector<std::string> expected;
  int i = 0;
  for (double v : values) {
    GpbEpoch e = gpbtest::MakeEpoch(345600.0 + i);
    GpbChannel ch[1]{};
    ch[0].Prn = 5;
    ch[0].LockSec1 = 10;
    // Epoch 0 has every type, so all five are listed.
    ch[0].C1 = i == 0 ? 1.0 : v;
    ch[0].L1 = v;
    ch[0].L2 = Negated(v);
    ch[0].P2 = v;
    ch[0].D1 = v;
    file.AddEpoch(e, ch, 1);
    // The old format stores C1 L1 D1 P2 L2; the values written are C1, L1
    // and L2 with their sign reversed, P2 and D1.
    expected.push_back(Fixed(ch[0].C1, 400) + "  " + Fixed(Negated(ch[0].L1), 14) + "  " +
                       Fixed(Negated(ch[0].L2), 14) + "  " + Fixed(ch[0].P2, 14) + "  " +
                       Fixed(ch[0].D1, 14) + "  ");
    ++i;
  }
  // Epoch times and positions far out of range.
  for (double t : {nan, 1e308, -1e308, inf}) {
    GpbEpoch e = gpbtest::MakeEpoch(t, nan, inf, -std::numeric_limits<float>::max());
    GpbChannel ch[4]{};
    for (int k = 0; k < 4; ++k) {
      ch[k].Prn = 1 + k;
      ch[k].C1 = 2e7;
      ch[k].LockSec1 = 20;
    }
    file.AddEpoch(e, ch, 4);
  }
  WriteFile(Path("x.gpb"), AsText(file.Bytes()));
  WriteFile(Path("x.epp"), epptest::EppText({{1341, 345600}}));
  Fill("x");
  for (int version : {RINEX_VERSION_2_0, RINEX_VERSION_2_1}) {
    ASSERT_EQ(0, Convert(version)) << ErrorText();
    const std::string obs = ReadFile(Path("x.05o"));
    for (const std::string& line : expected) {
      EXPECT_NE(std::string::npos, obs.find("\n" + line + "\n")) << line;
    }
    // Four epochs of four satellites after the fourteen of one.
    EXPECT_EQ(14u, Count(obs, "  0  1G 5"));
    EXPECT_EQ(4u, Count(obs, "  0  4G 1G 2G 3G 4"));
    // Their dates are nonsense, but the seconds keep their ten columns.
    for (const std::string& line : Lines(obs)) {
      if (line.find("G 1G 2G 3G 4") != std::string::npos) {
        EXPECT_LE(line.size(), 80u) << line;
      }
    }
    Fill("x");
  }
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
