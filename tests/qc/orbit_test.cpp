// Geometry helpers of the quality check on cases with known answers.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "qc/orbit.h"
#include "support/rinex_nav.h"

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

double Distance(const Vec3& a, const Vec3& b) { return std::hypot(a.X - b.X, a.Y - b.Y, a.Z - b.Z); }

// The interpolated track against the exact light-time solution for every
// record of a real day's navigation file, each over the four hours around
// its toe at an odd step (so that most times fall between nodes), from a
// receiver in the mid latitudes.
TEST(QcOrbitTest, SatelliteTrackFollowsTheExactPosition) {
  rinexnav::NavFile nav;
  std::string error;
  ASSERT_TRUE(rinexnav::ReadNavFile(std::string(RAWCONV_SHARED_DATA_DIR) + "/brdc0200.05n", nav, error)) << error;
  ASSERT_GT(nav.Records.size(), 30u);
  const Vec3 receiver = GeodeticToEcef(38.92, -77.07, 50.0);
  const LocalFrame frame = MakeLocalFrame(receiver);
  double worst_m = 0.0, worst_deg = 0.0;
  int between = 0;
  for (const rinexnav::NavRecord& r : nav.Records) {
    const EphemerisRecord e = rinexnav::ToEphemerisRecord(r);
    const double toe = EphemerisTime(e, 1306);
    SatelliteTrack track;
    for (double t = toe - 7200.0; t <= toe + 7200.0; t += 37.0) {
      const Vec3 exact = PositionAtReception(e, toe, t, receiver);
      const Vec3 fast = track.At(e, toe, t, receiver);
      worst_m = std::max(worst_m, Distance(exact, fast));
      double az0, el0, az1, el1;
      AzimuthElevation(frame, exact, &az0, &el0);
      AzimuthElevation(frame, fast, &az1, &el1);
      if (el0 > -5.0) {
        worst_deg = std::max(worst_deg, std::fabs(el1 - el0));
        worst_deg = std::max(worst_deg, std::fabs(std::remainder(az1 - az0, 360.0)) * std::cos(el0 / kDegPerRad));
      }
      between += std::fmod(t, kTrackNodeSeconds) != 0.0;
    }
  }
  std::printf("track: worst %.3f m, %.2e deg\n", worst_m, worst_deg);
  EXPECT_GT(between, 10000);
  EXPECT_LT(worst_m, 5.0);
  EXPECT_LT(worst_deg, 1e-4);
}

// On a node the exact value comes back; going back in time, changing the
// record or the receiver starts the nodes again instead of mixing them.
TEST(QcOrbitTest, SatelliteTrackStartsAgainOnAnotherRecordOrReceiver) {
  EphemerisRecord a{};
  a.SqrtA = std::sqrt(26560.0e3);
  a.Ecc = 0.01;
  a.I0 = 0.95;
  EphemerisRecord b = a;
  b.M0 = 1.0;
  const Vec3 rx1 = GeodeticToEcef(10.0, 20.0, 0.0), rx2 = GeodeticToEcef(-40.0, 120.0, 0.0);
  SatelliteTrack track;
  const double node = 10 * kTrackNodeSeconds;
  const Vec3 on = track.At(a, 0.0, node, rx1);
  const Vec3 exact = PositionAtReception(a, 0.0, node, rx1);
  EXPECT_EQ(on.X, exact.X);
  EXPECT_EQ(on.Y, exact.Y);
  EXPECT_EQ(on.Z, exact.Z);
  const struct {
    const EphemerisRecord* e;
    double toe, t;
    const Vec3* rx;
  } steps[] = {{&a, 0.0, node + 100.0, &rx1}, {&b, 0.0, node + 110.0, &rx1}, {&b, 0.0, node + 120.0, &rx2},
               {&b, 500.0, node + 130.0, &rx2}, {&b, 500.0, node - 1000.0, &rx2}, {&b, 500.0, node + 2000.0, &rx2},
               {&a, 0.0, node + 2300.0, &rx1}};
  for (const auto& s : steps) {
    EXPECT_LT(Distance(track.At(*s.e, s.toe, s.t, *s.rx), PositionAtReception(*s.e, s.toe, s.t, *s.rx)), 5.0)
        << s.t;
  }
}

}  // namespace
}  // namespace qc
}  // namespace rawconv
