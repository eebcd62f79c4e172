// Geometry helpers of the quality check on cases with known answers.
#include <gtest/gtest.h>

#include <cmath>

#include "qc/orbit.h"

namespace rawconv {
namespace qc {
namespace {

TEST(QcOrbitTest, GeodeticRoundTrip) {
  const double cases[][3] = {{38.9189, -77.0662, 60.0}, {-33.9, 151.2, 20.0}, {0.0, 0.0, 0.0},
                             {89.99, 45.0, 3000.0}, {-60.0, 179.9, -30.0}};
  for (const auto& c : cases) {
    double lat = 0, lon = 0, h = 0;
    EcefToGeodetic(GeodeticToEcef(c[0], c[1], c[2]), &lat, &lon, &h);
    EXPECT_NEAR(lat, c[0], 1e-9);
    EXPECT_NEAR(lon, c[1], 1e-9);
    EXPECT_NEAR(h, c[2], 1e-4);
  }
  // The equator at the prime meridian lies on the x axis at the semi-major axis.
  EXPECT_NEAR(GeodeticToEcef(0.0, 0.0, 0.0).X, kWgs84A, 1e-6);
}

TEST(QcOrbitTest, AzimuthElevationOfKnownDirections) {
  const Vec3 rx = GeodeticToEcef(45.0, 10.0, 100.0);
  const Vec3 up = GeodeticToEcef(45.0, 10.0, 20100.0e3);
  double az = 0, el = 0;
  AzimuthElevation(rx, up, &az, &el);
  EXPECT_NEAR(el, 90.0, 1e-6);
  // A point a little north along the meridian at the same height lies due
  // north, just below the horizon (the earth curves away).
  AzimuthElevation(rx, GeodeticToEcef(45.1, 10.0, 100.0), &az, &el);
  EXPECT_NEAR(std::remainder(az, 360.0), 0.0, 1e-6);
  EXPECT_LT(el, 0.0);
  EXPECT_GT(el, -0.1);
  AzimuthElevation(rx, GeodeticToEcef(45.0, 10.1, 100.0), &az, &el);
  EXPECT_NEAR(az, 90.0, 0.1);
  AzimuthElevation(rx, GeodeticToEcef(44.9, 10.0, 5000.0), &az, &el);
  EXPECT_NEAR(az, 180.0, 1e-6);
  EXPECT_GT(el, 0.0);
  AzimuthElevation(rx, GeodeticToEcef(45.0, 9.9, 100.0), &az, &el);
  EXPECT_NEAR(az, 270.0, 0.1);
}

// A circular, equatorial orbit without corrections: the radius is the
// semi-major axis and the satellite turns at the mean motion, seen from
// the rotating earth.
TEST(QcOrbitTest, BroadcastOrbitOfAPlainCircle) {
  EphemerisRecord e{};
  e.SqrtA = std::sqrt(26560.0e3);
  e.Toe = 0;
  const double a = e.SqrtA * e.SqrtA;
  const double n = std::sqrt(kGpsMu / (a * a * a));
  for (double t : {0.0, 1000.0, 7200.0}) {
    const Vec3 p = BroadcastPosition(e, 0.0, t);
    EXPECT_NEAR(std::sqrt(p.X * p.X + p.Y * p.Y + p.Z * p.Z), a, 1e-6);
    EXPECT_NEAR(p.Z, 0.0, 1e-6);
    double angle = (n - kEarthRotation) * t;
    angle = std::remainder(angle, 2 * kGpsPi);
    EXPECT_NEAR(std::atan2(p.Y, p.X), angle, 1e-9);
  }
  e.Week = 1306;
  EXPECT_DOUBLE_EQ(EphemerisTime(e, 1306), 1306 * 604800.0);
  e.Week = 282;  // ten-bit week of 1306
  EXPECT_DOUBLE_EQ(EphemerisTime(e, 1306), 1306 * 604800.0);
  e.Week = 2100;
  EXPECT_DOUBLE_EQ(EphemerisTime(e, 2099), 2100 * 604800.0);
}

}  // namespace
}  // namespace qc
}  // namespace rawconv
