#include "qc/orbit.h"

#include <algorithm>
#include <cmath>

namespace rawconv {
namespace qc {

double EphemerisTime(const EphemerisRecord& e, int near_week) {
  // Whole 1024-week steps towards near_week until within 512 of it, in 64
  // bits: a record's week may be any number the file holds.
  int64_t week = e.Week;
  const int64_t near = near_week;
  if (week + 512 < near) week += 1024 * ((near - 512 - week + 1023) / 1024);
  else if (week - 512 > near) week -= 1024 * ((week - 512 - near + 1023) / 1024);
  return static_cast<double>(week) * 604800.0 + e.Toe;
}

Vec3 BroadcastPosition(const EphemerisRecord& e, double toe_time, double t, double* sin_e_out) {
  const double a = e.SqrtA * e.SqrtA;
  const double tk = t - toe_time;
  const double n = std::sqrt(kGpsMu / (a * a * a)) + e.DeltaN;
  const double m = e.M0 + n * tk;
  // Kepler's equation E - e sin E = M by Newton's method: two or three
  // steps at GPS eccentricities.
  double ecc_anomaly = m + e.Ecc * std::sin(m);
  double sin_e = std::sin(ecc_anomaly), cos_e = std::cos(ecc_anomaly);
  for (int i = 0; i < 20; ++i) {
    const double step = (ecc_anomaly - e.Ecc * sin_e - m) / (1.0 - e.Ecc * cos_e);
    ecc_anomaly -= step;
    sin_e = std::sin(ecc_anomaly);
    cos_e = std::cos(ecc_anomaly);
    if (!(std::fabs(step) >= 1e-14)) break;
  }
  if (sin_e_out != nullptr) *sin_e_out = sin_e;
  const double true_anomaly = std::atan2(std::sqrt(1.0 - e.Ecc * e.Ecc) * sin_e, cos_e - e.Ecc);
  const double phi = true_anomaly + e.Omega;
  const double s2 = std::sin(2.0 * phi), c2 = std::cos(2.0 * phi);
  const double u = phi + e.Cus * s2 + e.Cuc * c2;
  const double r = a * (1.0 - e.Ecc * cos_e) + e.Crs * s2 + e.Crc * c2;
  const double inc = e.I0 + e.Cis * s2 + e.Cic * c2 + e.Idot * tk;
  const double xp = r * std::cos(u), yp = r * std::sin(u);
  const double node = e.Omega0 + (e.OmegaDot - kEarthRotation) * tk - kEarthRotation * e.Toe;
  const double cn = std::cos(node), sn = std::sin(node), ci = std::cos(inc);
  Vec3 p;
  p.X = xp * cn - yp * ci * sn;
  p.Y = xp * sn + yp * ci * cn;
  p.Z = yp * std::sin(inc);
  return p;
}

Vec3 PositionAtReception(const EphemerisRecord& e, double toe_time, double t, const Vec3& receiver) {
  // From a typical light time the first solution is within about 50 m,
  // the second within a millimetre.
  double tau = 0.075;
  Vec3 rotated;
  for (int i = 0; i < 2; ++i) {
    const Vec3 p = BroadcastPosition(e, toe_time, t - tau);
    const double theta = kEarthRotation * tau;
    rotated.X = p.X * std::cos(theta) + p.Y * std::sin(theta);
    rotated.Y = -p.X * std::sin(theta) + p.Y * std::cos(theta);
    rotated.Z = p.Z;
    const double dx = rotated.X - receiver.X, dy = rotated.Y - receiver.Y, dz = rotated.Z - receiver.Z;
    tau = std::sqrt(dx * dx + dy * dy + dz * dz) / kSpeedOfLight;
  }
  return rotated;
}

namespace {

// The polynomial through the nodes at x_j = j - kBefore (j = 0 .. n - 1),
// in powers of u: coefficient k = sum over j of Power[k][j] * node j.
// Power[.][j] are the coefficients of the Lagrange basis polynomial
// c_j * prod over m != j of (u - x_m), c_j = 1 / prod over m != j of (j - m).
constexpr int kBefore = kTrackNodes / 2 - 1;

struct LagrangePowers {
  double Power[kTrackNodes][kTrackNodes];
  LagrangePowers() {
    for (int j = 0; j < kTrackNodes; ++j) {
      double poly[kTrackNodes] = {1.0};  // in powers of u, lowest first
      int degree = 0;
      double scale = 1.0;
      for (int m = 0; m < kTrackNodes; ++m) {
        if (m == j) continue;
        const double root = m - kBefore;
        // poly *= (u - root)
        for (int k = degree + 1; k > 0; --k) poly[k] = poly[k - 1] - root * poly[k];
        poly[0] *= -root;
        ++degree;
        scale *= static_cast<double>(j - m);
      }
      for (int k = 0; k < kTrackNodes; ++k) Power[k][j] = poly[k] / scale;
    }
  }
};

}  // namespace

void SatelliteTrack::Prepare(const EphemerisRecord& e, double toe_time, double cell, const Vec3& receiver) {
  static const LagrangePowers kL;
  if (!Same(e, toe_time, receiver)) {
    record_ = &e;
    toe_time_ = toe_time;
    receiver_ = receiver;
    valid_ = 0;
  }
  // Keep the nodes the new window shares with the old one.
  const int64_t first = static_cast<int64_t>(cell) - kBefore;
  const int64_t shift = first - first_;
  if (shift > 0 && shift < valid_) {
    const int keep = valid_ - static_cast<int>(shift);
    for (int i = 0; i < keep; ++i) nodes_[i] = nodes_[i + shift];
    valid_ = keep;
  } else if (shift != 0) {
    valid_ = 0;
  }
  first_ = first;
  for (; valid_ < kTrackNodes; ++valid_) {
    const double node_time = static_cast<double>(first + valid_) * kTrackNodeSeconds;
    nodes_[valid_] = PositionAtReception(e, toe_time, node_time, receiver);
  }
  for (int k = 0; k < kTrackNodes; ++k) {
    Vec3 c;
    for (int j = 0; j < kTrackNodes; ++j) {
      c.X += kL.Power[k][j] * nodes_[j].X;
      c.Y += kL.Power[k][j] * nodes_[j].Y;
      c.Z += kL.Power[k][j] * nodes_[j].Z;
    }
    coefficients_[k] = c;
  }
  start_ = cell * kTrackNodeSeconds;
}

Vec3 SatelliteTrack::At(const EphemerisRecord& e, double toe_time, double t, const Vec3& receiver) {
  if (!(t >= start_ && t < start_ + kTrackNodeSeconds) || !Same(e, toe_time, receiver)) {
    const double cell = std::floor(t / kTrackNodeSeconds);
    if (!(std::fabs(cell) <= 1e15)) return PositionAtReception(e, toe_time, t, receiver);
    Prepare(e, toe_time, cell, receiver);
  }
  const double u = (t - start_) * (1.0 / kTrackNodeSeconds);
  Vec3 p = coefficients_[kTrackNodes - 1];
  for (int k = kTrackNodes - 2; k >= 0; --k) {
    p.X = p.X * u + coefficients_[k].X;
    p.Y = p.Y * u + coefficients_[k].Y;
    p.Z = p.Z * u + coefficients_[k].Z;
  }
  return p;
}

Vec3 GeodeticToEcef(double lat_deg, double lon_deg, double height) {
  const double e2 = kWgs84F * (2.0 - kWgs84F);
  const double lat = lat_deg / kDegPerRad, lon = lon_deg / kDegPerRad;
  const double s = std::sin(lat);
  const double n = kWgs84A / std::sqrt(1.0 - e2 * s * s);
  Vec3 p;
  p.X = (n + height) * std::cos(lat) * std::cos(lon);
  p.Y = (n + height) * std::cos(lat) * std::sin(lon);
  p.Z = (n * (1.0 - e2) + height) * s;
  return p;
}

void EcefToGeodetic(const Vec3& p, double* lat_deg, double* lon_deg, double* height) {
  const double e2 = kWgs84F * (2.0 - kWgs84F);
  const double rho = std::hypot(p.X, p.Y);
  double lat = std::atan2(p.Z, rho * (1.0 - e2));
  double h = 0.0;
  for (int i = 0; i < 10; ++i) {
    const double s = std::sin(lat);
    const double n = kWgs84A / std::sqrt(1.0 - e2 * s * s);
    // Near the poles the height follows from z instead of the distance to the axis.
    h = std::fabs(std::cos(lat)) > 1e-9 ? rho / std::cos(lat) - n : std::fabs(p.Z) - n * (1.0 - e2);
    lat = std::atan2(p.Z, rho * (1.0 - e2 * n / (n + h)));
  }
  *lat_deg = lat * kDegPerRad;
  *lon_deg = std::atan2(p.Y, p.X) * kDegPerRad;
  *height = h;
}

LocalFrame MakeLocalFrame(const Vec3& receiver) {
  double lat = 0.0, lon = 0.0, h = 0.0;
  EcefToGeodetic(receiver, &lat, &lon, &h);
  LocalFrame f;
  f.Origin = receiver;
  f.SinLat = std::sin(lat / kDegPerRad);
  f.CosLat = std::cos(lat / kDegPerRad);
  f.SinLon = std::sin(lon / kDegPerRad);
  f.CosLon = std::cos(lon / kDegPerRad);
  return f;
}

Enu ToLocal(const LocalFrame& f, const Vec3& sat) {
  const double dx = sat.X - f.Origin.X, dy = sat.Y - f.Origin.Y, dz = sat.Z - f.Origin.Z;
  Enu d;
  d.East = -f.SinLon * dx + f.CosLon * dy;
  d.North = -f.SinLat * f.CosLon * dx - f.SinLat * f.SinLon * dy + f.CosLat * dz;
  d.Up = f.CosLat * f.CosLon * dx + f.CosLat * f.SinLon * dy + f.SinLat * dz;
  return d;
}

void AzimuthElevation(const Enu& d, double* az_deg, double* el_deg) {
  double az = std::atan2(d.East, d.North) * kDegPerRad;
  if (az < 0.0) az += 360.0;
  *az_deg = az;
  *el_deg = std::atan2(d.Up, std::hypot(d.East, d.North)) * kDegPerRad;
}

void AzimuthElevation(const LocalFrame& f, const Vec3& sat, double* az_deg, double* el_deg) {
  AzimuthElevation(ToLocal(f, sat), az_deg, el_deg);
}

void AzimuthElevation(const Vec3& receiver, const Vec3& sat, double* az_deg, double* el_deg) {
  AzimuthElevation(MakeLocalFrame(receiver), sat, az_deg, el_deg);
}

void EphemerisIndex::Set(const std::vector<EphemerisRecord>& records) {
  records_ = records;
  for (auto& list : entries_) list.clear();
  indexed_ = false;
}

void EphemerisIndex::Index(int week) {
  if (indexed_) return;
  for (const EphemerisRecord& r : records_) {
    if (r.Prn < 1 || r.Prn > kSatellites || !(r.SqrtA > 0.0)) continue;
    EphemerisEntry e;
    e.ToeTime = EphemerisTime(r, week);
    e.Record = r;
    entries_[r.Prn].push_back(e);
  }
  for (auto& list : entries_) {
    std::stable_sort(list.begin(), list.end(), [](const EphemerisEntry& a, const EphemerisEntry& b) {
      return a.ToeTime < b.ToeTime;
    });
  }
  indexed_ = true;
}

const std::vector<EphemerisEntry>& EphemerisIndex::Of(int prn) const {
  return entries_[prn >= 1 && prn <= kSatellites ? prn : 0];
}

const EphemerisEntry* EphemerisIndex::Nearest(int prn, double t) const {
  const std::vector<EphemerisEntry>& list = Of(prn);
  auto it = std::lower_bound(list.begin(), list.end(), t,
                             [](const EphemerisEntry& e, double time) { return e.ToeTime < time; });
  const EphemerisEntry* best = nullptr;
  if (it != list.end()) best = &*it;
  if (it != list.begin()) {
    const EphemerisEntry* before = &*(it - 1);
    if (best == nullptr || std::fabs(before->ToeTime - t) <= std::fabs(best->ToeTime - t))
      best = before;
  }
  if (best == nullptr || std::fabs(best->ToeTime - t) > kMaxEphemerisAgeSeconds) return nullptr;
  return best;
}

}  // namespace qc
}  // namespace rawconv
