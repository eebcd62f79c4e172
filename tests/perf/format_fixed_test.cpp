// The integer fixed-point formatter against snprintf: the fields must be the
// same text, byte for byte, for every value, width and number of decimals.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "obs/rinex_format.h"

namespace rawconv {
namespace {

std::string Fast(double value, int width, int decimals, size_t room = kFixedFieldMax) {
  char field[kFixedFieldMax + 8];
  std::memset(field, '#', sizeof field);
  const size_t n = FormatFixed(value, FixedFormat{width, decimals}, field, room);
  EXPECT_EQ(std::strlen(field), n);
  return std::string(field, n);
}

std::string Printf(double value, int width, int decimals, size_t room = kFixedFieldMax) {
  char field[kFixedFieldMax + 8];
  const int n = std::snprintf(field, room, "%*.*f", width, decimals, value);
  EXPECT_GE(n, 0);
  return std::string(field);
}

double FromBits(uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// Compares one value; returns false (and reports it) on the first mismatch
// so that a broken formatter does not flood the log.
bool Same(double value, int width, int decimals) {
  const std::string fast = Fast(value, width, decimals);
  const std::string ref = Printf(value, width, decimals);
  if (fast == ref) return true;
  ADD_FAILURE() << "value " << std::hexfloat << value << std::defaultfloat << " (%" << width << "."
                << decimals << "f): got '" << fast << "', snprintf '" << ref << "'";
  return false;
}

// Ties on the exact binary value go to even; values just off a decimal tie
// round by what they really are; the sign stays on negative zero and on
// negative values that round to zero.
TEST(FixedFormatting, TiesSignsAndLimits) {
  EXPECT_EQ(Fast(0.0005, 0, 3), "0.001");  // stored a little above the tie
  EXPECT_EQ(Fast(2.675, 0, 2), "2.67");    // stored a little below
  EXPECT_EQ(Fast(1e15 + 0.5, 0, 0), "1000000000000000");  // exact tie, even
  EXPECT_EQ(Fast(1e15 + 1.5, 0, 0), "1000000000000002");
  EXPECT_EQ(Fast(0.125, 0, 2), "0.12");
  EXPECT_EQ(Fast(0.375, 0, 2), "0.38");
  EXPECT_EQ(Fast(2.5, 6, 0), "     2");
  EXPECT_EQ(Fast(-0.0, 14, 3), "        -0.000");
  EXPECT_EQ(Fast(-0.0004, 0, 3), "-0.000");
  EXPECT_EQ(Fast(-1e-300, 10, 7), "-0.0000000");
  EXPECT_EQ(Fast(0.9999995, 10, 6), "  1.000000");  // carry into the whole part
  EXPECT_EQ(Fast(99999999.9995, 0, 3), "100000000.000");  // above the tie: a ninth digit
  EXPECT_EQ(Fast(8.0625, 0, 3), "8.062");
  EXPECT_EQ(Fast(123456789012345.0, 14, 3), "123456789012345.000");

  const double specials[] = {
      0.0, -0.0, 0.5, 1.5, -2.5, 0.05, 0.15, 0.25, 0.35, 1e-5, 5e-324, -5e-324, 2.2250738585072014e-308,
      9007199254740991.0, 9007199254740992.0, 9007199254740993.0, 1e16, 9999999999999.9995,
      9999999999999999.0, 1e17, 18446744073709551615.0, 1e20, 1e300, -1e300, 1.7976931348623157e308,
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
      21999999.8155, 604799.9999999, 59.99999995, 30.0, 299792458.0};
  for (double v : specials) {
    for (int decimals = 0; decimals <= 12; ++decimals) {
      for (int width : {0, 1, 6, 14, 20, 63, 64, 65, 100}) {
        if (!Same(v, width, decimals)) return;
      }
    }
  }
}

// Millions of values: every bit pattern class, magnitudes from tiny to huge,
// exact binary ties, neighbours of decimal ties, and the values of real
// observation fields, in every format the writers use and random others.
TEST(FixedFormatting, MillionsOfRandomValuesMatchSnprintf) {
  std::mt19937_64 rng(20050120);
  const FixedFormat used[] = {kFmtVersion21,    kFmtPosition,      kFmtInterval20, kFmtInterval21,
                              kFmtFirstObsSec20, kFmtFirstObsSec21, kFmtEpochSec,   kFmtObsValue};
  std::uniform_int_distribution<int> width_of(0, 30);
  std::uniform_int_distribution<int> decimals_of(0, 10);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  long compared = 0;
  for (int i = 0; i < 150000; ++i) {
    // Any bit pattern: NaNs, infinities, subnormals, the whole range.
    const double any = FromBits(rng());
    // A magnitude between 1e-6 and 1e17 with a random sign.
    const double magnitude = std::pow(10.0, -6.0 + 23.0 * unit(rng)) * (rng() & 1 ? -1.0 : 1.0);
    // An exact binary fraction m / 2^j: many are ties at some precision.
    const double binary =
        std::ldexp(static_cast<double>(rng() % 100000000u), -static_cast<int>(rng() % 30)) *
        (rng() & 1 ? -1.0 : 1.0);
    // Neighbours of a decimal tie at the precision used.
    const int d = decimals_of(rng) % 9;
    const double tie = (static_cast<double>(rng() % 10000000000u) + 0.5) / std::pow(10.0, d);
    const double near_tie = std::nextafter(tie, (rng() & 1) ? 1e300 : -1e300);
    // A pseudorange, phase or Doppler as a receiver gives them.
    const double observation = (unit(rng) - 0.3) * 1.4e8;
    const FixedFormat f = used[rng() % 8];
    const double values[] = {any, magnitude, binary, tie, near_tie, observation};
    for (double v : values) {
      if (!Same(v, f.Width, f.Decimals)) return;
      if (!Same(v, width_of(rng), decimals_of(rng))) return;
      compared += 2;
    }
    if (!Same(tie, 0, d) || !Same(near_tie, 0, d)) return;
    compared += 2;
  }
  EXPECT_GE(compared, 2000000);
}

// The observation field's own path ("%14.3f" placed straight into its
// columns) against snprintf: values around every digit count, thousandths
// ties and their neighbours, negative values near the column limit.
TEST(FixedFormatting, ObservationValuesMatchSnprintf) {
  std::mt19937_64 rng(1306);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  char fast[kFixedFieldMax];
  char ref[kFixedFieldMax];
  auto same = [&](double v) {
    const size_t n = FormatObsValue(v, fast, sizeof fast);
    std::snprintf(ref, sizeof ref, "%14.3f", v);
    if (n == std::strlen(ref) && std::strcmp(fast, ref) == 0) return true;
    ADD_FAILURE() << std::hexfloat << v << std::defaultfloat << ": got '" << fast
                  << "', snprintf '" << ref << "'";
    return false;
  };
  for (double v : {0.0, -0.0, 0.0005, -0.0005, 0.0015, 0.0625, 999999999.9995, 9999999999.9994,
                   9999999999.9996, -999999999.9994, -999999999.9996, 1e10, -1e9, 1e12,
                   4503599627370.4955, 4503599627370.496, 21999999.8155, -1.5e-9}) {
    if (!same(v)) return;
  }
  long compared = 0;
  for (int i = 0; i < 250000; ++i) {
    const double sign = (rng() & 1) ? -1.0 : 1.0;
    const double magnitude = std::pow(10.0, -4.0 + 17.0 * unit(rng)) * sign;
    const double tie = (static_cast<double>(rng() % 100000000000u) + 0.5) / 1000.0 * sign;
    const double binary = std::ldexp(static_cast<double>(rng() % 1000000000u), -static_cast<int>(rng() % 20));
    const double values[] = {magnitude, tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1e300),
                             binary, (unit(rng) - 0.3) * 1.4e8, FromBits(rng())};
    for (double v : values) {
      if (!same(v)) return;
      ++compared;
    }
  }
  EXPECT_GE(compared, 1750000);
  // A small room: the same cut as FormatFixed.
  for (size_t room = 1; room < 20; ++room) {
    EXPECT_EQ(FormatObsValue(-1234.5678, fast, room), room - 1 < 14 ? room - 1 : 14u);
  }
}

// The writers' inline path: when it takes a value it writes exactly the 14
// columns snprintf writes and not a byte more; when it declines, it writes
// nothing, and only for the values it is meant to leave to the exact path.
// Ordinary observation values all take it.
TEST(FixedFormatting, ObservationColumnsTakeOrLeaveWhole) {
  std::mt19937_64 rng(2005);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  char area[48];
  char ref[kFixedFieldMax];
  // 1 taken, 0 declined, -1 wrong (reported).
  auto check = [&](double v) {
    std::memset(area, '#', sizeof area);
    const bool took = PutObsColumns(v, area + 16);
    const int n = std::snprintf(ref, sizeof ref, "%14.3f", v);
    if (took) {
      if (n == 14 && std::memcmp(area + 16, ref, 14) == 0 &&
          std::string(area, 16) == std::string(16, '#') &&
          std::string(area + 30, 18) == std::string(18, '#')) {
        return 1;
      }
      ADD_FAILURE() << std::hexfloat << v << std::defaultfloat << ": took '"
                    << std::string(area, sizeof area) << "', snprintf '" << ref << "'";
      return -1;
    }
    const double product = std::fabs(v) * 1000.0;
    const bool tie = product - std::floor(product) == 0.5;
    if (std::string(area, sizeof area) == std::string(sizeof area, '#') &&
        (!std::isfinite(v) || n > 14 || tie)) {
      return 0;
    }
    ADD_FAILURE() << std::hexfloat << v << std::defaultfloat << ": declined, snprintf '" << ref
                  << "'";
    return -1;
  };
  for (double v : {0.0, -0.0, 0.0005, 0.0015, 999999999.9995, 9999999999.9994, 9999999999.9996,
                   -999999999.9994, -999999999.9996, 1e10, -1e9, 99999999.9995, 100000000.0,
                   1e13, 1234.5625, -1234.5625, 5e-324,
                   std::numeric_limits<double>::quiet_NaN(),
                   std::numeric_limits<double>::infinity()}) {
    if (check(v) < 0) return;
  }
  long ordinary = 0;
  long taken = 0;
  for (int i = 0; i < 300000; ++i) {
    const double sign = (rng() & 1) ? -1.0 : 1.0;
    // Pseudoranges, phases, Doppler and strengths as receivers give them.
    const double observations[] = {sign * (1.9e7 + 7e6 * unit(rng)),
                                   sign * (0.8e8 + 0.6e8 * unit(rng)),
                                   sign * 5000.0 * unit(rng), 20.0 + 0.25 * (rng() % 160)};
    for (double v : observations) {
      const int result = check(v);
      if (result < 0) return;
      ++ordinary;
      taken += result;
    }
    const double tie = (static_cast<double>(rng() % 100000000000u) + 0.5) / 1000.0 * sign;
    for (double v : {tie, std::nextafter(tie, 0.0), FromBits(rng())}) {
      if (check(v) < 0) return;
    }
  }
  // A tie of the rounded product is the only reason to decline an ordinary
  // value: a handful in a million.
  EXPECT_EQ(ordinary, 1200000);
  EXPECT_GE(taken, ordinary - ordinary / 10000);
}

// A field cut by a small room is cut the way snprintf cuts it.
TEST(FixedFormatting, SmallRoomCutsLikeSnprintf) {
  for (size_t room = 1; room < 40; ++room) {
    for (double v : {2.1, -123456.789, 1e300, 0.0}) {
      EXPECT_EQ(Fast(v, 14, 3, room), Printf(v, 14, 3, room)) << room << " " << v;
    }
  }
}

// Integers as "%*ld" writes them, also the most negative value and widths
// past the integer path's limit.
TEST(FixedFormatting, IntegersMatchSnprintf) {
  std::mt19937_64 rng(7);
  char fast[kFixedFieldMax];
  char ref[kFixedFieldMax];
  auto same = [&](long v, int width) {
    const size_t n = FormatInt(v, width, fast);
    std::snprintf(ref, sizeof ref, "%*ld", width, v);
    ASSERT_STREQ(fast, ref) << v << " width " << width;
    ASSERT_EQ(n, std::strlen(ref));
  };
  for (long v : {0L, 1L, -1L, 9L, 10L, 99L, 100L, 999L, 1000L, 9999L, 10000L, LONG_MAX, LONG_MIN,
                 2005L, -128L, 255L}) {
    for (int width = 0; width < 70; ++width) same(v, width);
  }
  for (int i = 0; i < 200000; ++i) {
    const long v = static_cast<long>(rng() >> (rng() % 64));
    same(rng() & 1 ? v : ~v, static_cast<int>(rng() % 24));
  }
}

}  // namespace
}  // namespace rawconv
