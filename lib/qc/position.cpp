#include "qc/position.h"

#include <algorithm>
#include <cmath>

#include "ephem/gps_time.h"

namespace rawconv {
namespace qc {
namespace {

constexpr double kGamma = (kFreqL1 / kFreqL2) * (kFreqL1 / kFreqL2);
// -2 sqrt(mu) / c^2, s / sqrt(m): the relativistic clock term's factor.
constexpr double kRelativity = -4.442807633e-10;
constexpr double kMinCode = 1.0e7, kMaxCode = 4.0e7;  // m: a GPS code at all
constexpr int kMaxIterations = 10;
constexpr double kConvergedMetres = 1e-4;
// Inside this distance from the earth's centre the position is still on
// its way from the centre: no elevations, no troposphere yet.
constexpr double kNearSurface = 6.0e6;
constexpr double kFrameMetres = 1.0;
// Error budget of a range (see position.h).
constexpr double kCodeSigma = 0.3, kOrbitSigma = 2.4, kIonoSigma = 5.0, kTropoSigma = 0.3;

bool Has(const GpbChannel& ch, uint32_t bit) { return (ch.ObsMask & bit) != 0; }

bool UsableCode(double v) { return std::isfinite(v) && v > kMinCode && v < kMaxCode; }

// One satellite's range of an epoch, its position and clock fixed.
struct Range {
  int Prn = 0;
  double Code = 0.0;      // m, the clock terms already taken out
  Vec3 Sat;               // earth-fixed at transmission
  bool Used = true;      // not dropped by the residual check
  bool Counted = false;  // above the mask at the last solution
};

// Solves the 4x4 symmetric positive system a x = b in place by Cholesky;
// false when it is not positive definite. inverse (when given) gets a^-1.
bool SolveNormal(double a[4][4], double b[4], double inverse[4][4]) {
  double l[4][4] = {};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j <= i; ++j) {
      double s = a[i][j];
      for (int k = 0; k < j; ++k) s -= l[i][k] * l[j][k];
      if (i == j) {
        if (!(s > 1e-12)) return false;
        l[i][i] = std::sqrt(s);
      } else {
        l[i][j] = s / l[j][j];
      }
    }
  }
  auto solve = [&l](double v[4]) {
    for (int i = 0; i < 4; ++i) {
      for (int k = 0; k < i; ++k) v[i] -= l[i][k] * v[k];
      v[i] /= l[i][i];
    }
    for (int i = 3; i >= 0; --i) {
      for (int k = i + 1; k < 4; ++k) v[i] -= l[k][i] * v[k];
      v[i] /= l[i][i];
    }
  };
  solve(b);
  if (inverse != nullptr) {
    for (int c = 0; c < 4; ++c) {
      double e[4] = {0.0, 0.0, 0.0, 0.0};
      e[c] = 1.0;
      solve(e);
      for (int r = 0; r < 4; ++r) inverse[r][c] = e[r];
    }
  }
  return true;
}

double Median(std::vector<double> v) {
  const size_t n = v.size();
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n / 2), v.end());
  const double upper = v[n / 2];
  if (n % 2 == 1) return upper;
  const double lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n / 2));
  return 0.5 * (lower + upper);
}


// A solution of one set of ranges, from its starting point: position and
// clock, and at them the residuals, the satellites above the mask and the
// PDOP of their geometry.
struct Fix {
  Vec3 Position;
  double Clock = 0.0;  // m
  int Used = 0;
  double WorstResidual = 0.0;     // largest |residual| (m)
  double SquaredResiduals = 0.0;  // their sum of squares (m^2)
  double Pdop = 0.0;
};

// Least squares over the ranges still Used (Counted tells which of them
// are above the mask at the solution). false when fewer than four take
// part, the normal matrix is singular or the iteration does not converge.
bool SolveRanges(Range* ranges, int count, double sin_mask, bool iono_free, Fix* fix) {
  Vec3 x = fix->Position;
  double clock = fix->Clock;
  bool converged = false;
  // The local frame and height of the elevations and the troposphere,
  // made again only when the position has moved by more than
  // kFrameMetres: a metre changes an elevation by a millionth of a degree
  // and the troposphere below a millimetre.
  LocalFrame frame;
  bool framed = false;
  double height = 0.0;
  for (int iteration = 0; iteration < kMaxIterations && !converged; ++iteration) {
    const double radius = std::sqrt(x.X * x.X + x.Y * x.Y + x.Z * x.Z);
    const bool near = radius > kNearSurface;
    if (near) {
      const double dx = x.X - frame.Origin.X, dy = x.Y - frame.Origin.Y, dz = x.Z - frame.Origin.Z;
      if (!framed || dx * dx + dy * dy + dz * dz > kFrameMetres * kFrameMetres) {
        frame = MakeLocalFrame(x);
        double lat = 0.0, lon = 0.0;
        EcefToGeodetic(x, &lat, &lon, &height);
        framed = true;
      }
    }
    double a[4][4] = {}, b[4] = {};
    int rows = 0;
    for (int k = 0; k < count; ++k) {
      const Range& r = ranges[k];
      if (!r.Used) continue;
      const double dx = r.Sat.X - x.X, dy = r.Sat.Y - x.Y, dz = r.Sat.Z - x.Z;
      const double rho = std::sqrt(dx * dx + dy * dy + dz * dz);
      if (!(rho > 0.0)) continue;
      // The earth turns while the signal travels.
      const double sagnac = kEarthRotation * (r.Sat.X * x.Y - r.Sat.Y * x.X) / kSpeedOfLight;
      double weight = 1.0, tropo = 0.0;
      if (near) {
        const Enu d = ToLocal(frame, r.Sat);
        if (BelowElevation(d, sin_mask)) continue;
        const double sin_el = std::max(1e-3, d.Up / rho);
        tropo = TroposphereDelay(height, std::asin(std::min(1.0, sin_el)));
        const double code = kCodeSigma * (iono_free ? 3.0 : 1.0);
        const double trop = kTropoSigma / (sin_el + 0.1);
        weight = 1.0 / (code * code + kOrbitSigma * kOrbitSigma + (iono_free ? 0.0 : kIonoSigma * kIonoSigma) +
                        trop * trop);
      }
      const double v = r.Code - (rho + sagnac + clock + tropo);
      const double h[4] = {-dx / rho, -dy / rho, -dz / rho, 1.0};
      for (int i = 0; i < 4; ++i) {
        b[i] += weight * h[i] * v;
        for (int j = 0; j < 4; ++j) a[i][j] += weight * h[i] * h[j];
      }
      ++rows;
    }
    if (rows < kMinPositionSatellites || !SolveNormal(a, b, nullptr)) return false;
    x.X += b[0];
    x.Y += b[1];
    x.Z += b[2];
    clock += b[3];
    converged = near && std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]) < kConvergedMetres;
  }
  if (!converged) return false;
  // Residuals at the solution, and the geometry of the satellites used
  // (in the frame of the last iteration).
  double a[4][4] = {}, unused[4] = {0.0, 0.0, 0.0, 0.0}, q[4][4] = {};
  fix->Used = 0;
  fix->WorstResidual = 0.0;
  fix->SquaredResiduals = 0.0;
  for (int k = 0; k < count; ++k) {
    Range& r = ranges[k];
    r.Counted = false;
    if (!r.Used) continue;
    const Enu d = ToLocal(frame, r.Sat);
    if (BelowElevation(d, sin_mask)) continue;
    const double dx = r.Sat.X - x.X, dy = r.Sat.Y - x.Y, dz = r.Sat.Z - x.Z;
    const double rho = std::sqrt(dx * dx + dy * dy + dz * dz);
    const double sagnac = kEarthRotation * (r.Sat.X * x.Y - r.Sat.Y * x.X) / kSpeedOfLight;
    const double elevation = std::asin(std::min(1.0, std::max(1e-3, d.Up / rho)));
    const double v = r.Code - (rho + sagnac + clock + TroposphereDelay(height, elevation));
    const double h[4] = {-dx / rho, -dy / rho, -dz / rho, 1.0};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) a[i][j] += h[i] * h[j];
    r.Counted = true;
    ++fix->Used;
    fix->WorstResidual = std::max(fix->WorstResidual, std::fabs(v));
    fix->SquaredResiduals += v * v;
  }
  if (fix->Used < kMinPositionSatellites || !SolveNormal(a, unused, q)) return false;
  fix->Position = x;
  fix->Clock = clock;
  fix->Pdop = std::sqrt(std::max(0.0, q[0][0] + q[1][1] + q[2][2]));
  return true;
}
}  // namespace

double TroposphereDelay(double height, double elevation) {
  if (!(elevation > 0.0) || height < -100.0 || height > 1.0e4) return 0.0;
  const double h = std::max(0.0, height);
  const double pressure = 1013.25 * std::pow(1.0 - 2.2557e-5 * h, 5.2568);   // hPa
  const double temperature = 15.0 - 6.5e-3 * h + 273.16;                     // K
  const double humidity = 0.7;
  const double vapour =
      6.108 * humidity * std::exp((17.15 * temperature - 4684.0) / (temperature - 38.45));  // hPa
  const double cos_z = std::sin(elevation);  // zenith angle = 90 deg - elevation
  const double dry = 0.0022768 * pressure / cos_z;
  const double wet = 0.002277 * (1255.0 / temperature + 0.05) * vapour / cos_z;
  return dry + wet;
}

double SatelliteClock(const EphemerisRecord& e, double toe_time, double t) {
  // toc lies in the week of toe give or take one.
  double toc = toe_time - e.Toe + e.Toc;
  if (toc - toe_time > 302400.0) toc -= kSecondsPerWeek;
  if (toc - toe_time < -302400.0) toc += kSecondsPerWeek;
  const double dt = t - toc;
  return e.Af0 + e.Af1 * dt + e.Af2 * dt * dt;
}

RobustMeanResult RobustMean(const std::vector<Vec3>& points) {
  RobustMeanResult r;
  if (points.empty()) return r;
  const size_t n = points.size();
  std::vector<double> axis[3];
  for (auto& a : axis) a.reserve(n);
  for (const Vec3& p : points) {
    axis[0].push_back(p.X);
    axis[1].push_back(p.Y);
    axis[2].push_back(p.Z);
  }
  double median[3], bound[3];
  for (int k = 0; k < 3; ++k) {
    median[k] = Median(axis[k]);
    std::vector<double> deviation(n);
    for (size_t i = 0; i < n; ++i) deviation[i] = std::fabs(axis[k][i] - median[k]);
    bound[k] = std::max(kRobustFloorMetres, kRobustMadFactor * 1.4826 * Median(deviation));
  }
  double sum[3] = {0.0, 0.0, 0.0};
  std::vector<size_t> kept;
  for (size_t i = 0; i < n; ++i) {
    bool inside = true;
    for (int k = 0; k < 3; ++k) inside = inside && std::fabs(axis[k][i] - median[k]) <= bound[k];
    if (!inside) continue;
    kept.push_back(i);
    // Relative to the median, so that the sums keep their precision.
    for (int k = 0; k < 3; ++k) sum[k] += axis[k][i] - median[k];
  }
  if (kept.empty()) return r;
  const double m = static_cast<double>(kept.size());
  r.Mean.X = median[0] + sum[0] / m;
  r.Mean.Y = median[1] + sum[1] / m;
  r.Mean.Z = median[2] + sum[2] / m;
  r.Used = kept.size();
  r.Valid = true;
  if (kept.size() > 1) {
    const LocalFrame frame = MakeLocalFrame(r.Mean);
    double ss[3] = {0.0, 0.0, 0.0};
    for (size_t i : kept) {
      const Enu d = ToLocal(frame, points[i]);
      ss[0] += d.North * d.North;
      ss[1] += d.East * d.East;
      ss[2] += d.Up * d.Up;
    }
    r.SigmaNorth = std::sqrt(ss[0] / (m - 1.0));
    r.SigmaEast = std::sqrt(ss[1] / (m - 1.0));
    r.SigmaUp = std::sqrt(ss[2] / (m - 1.0));
    r.Rms3d = std::sqrt(r.SigmaNorth * r.SigmaNorth + r.SigmaEast * r.SigmaEast + r.SigmaUp * r.SigmaUp);
  }
  return r;
}

PositionSolver::PositionSolver(double elevation_mask_deg, size_t max_epochs)
    : max_epochs_(max_epochs < 1 ? 1 : max_epochs) {
  const double mask = elevation_mask_deg;
  sin_mask_ = mask >= 90.0 ? 2.0 : mask <= -90.0 ? -2.0 : std::sin(mask / kDegPerRad);
}

void PositionSolver::SetEphemerides(const std::vector<EphemerisRecord>& records) {
  ephemerides_.Set(records);
}

bool PositionSolver::SolveEpoch(const GpbEpoch& epoch, const GpbChannel* channels, int full_week,
                                EpochSolution* out) {
  const double t = full_week * kSecondsPerWeek + epoch.RcvTime;
  if (!std::isfinite(t) || channels == nullptr) return false;
  ephemerides_.Index(full_week);
  const int n = std::min<int>(std::max<int>(epoch.NumChannels, 0), kMaxChannels);

  // The codes of the epoch: the combination when four satellites have both.
  int dual = 0;
  for (int i = 0; i < n; ++i) {
    const GpbChannel& ch = channels[i];
    if (ch.Prn < 1 || ch.Prn > 32) continue;
    const bool l1 = (Has(ch, kObsC1) && UsableCode(ch.C1)) || (Has(ch, kObsP1) && UsableCode(ch.P1));
    if (l1 && Has(ch, kObsP2) && UsableCode(ch.P2)) ++dual;
  }
  const bool iono_free = dual >= kMinPositionSatellites;
  Range ranges[kMaxChannels];
  int count = 0;
  for (int i = 0; i < n; ++i) {
    const GpbChannel& ch = channels[i];
    if (ch.Prn < 1 || ch.Prn > 32) continue;
    double p1 = 0.0;
    if (Has(ch, kObsC1) && UsableCode(ch.C1)) p1 = ch.C1;
    else if (Has(ch, kObsP1) && UsableCode(ch.P1)) p1 = ch.P1;
    if (p1 == 0.0) continue;
    double code = p1;
    if (iono_free) {
      if (!(Has(ch, kObsP2) && UsableCode(ch.P2))) continue;
      code = (kGamma * p1 - ch.P2) / (kGamma - 1.0);
    }
    const EphemerisEntry* e = ephemerides_.Nearest(ch.Prn, t);
    if (e == nullptr) continue;
    // Transmission time by the satellite's clock, then by GPS time.
    double tx = t - code / kSpeedOfLight;
    tx -= SatelliteClock(e->Record, e->ToeTime, tx);
    double sin_e = 0.0;
    const Vec3 sat = BroadcastPosition(e->Record, e->ToeTime, tx, &sin_e);
    double clock = SatelliteClock(e->Record, e->ToeTime, tx) +
                   kRelativity * e->Record.Ecc * e->Record.SqrtA * sin_e;
    // TGD is the L1 code's delay against the combination.
    if (!iono_free) clock -= e->Record.Tgd;
    const double corrected = code + kSpeedOfLight * clock;
    if (!std::isfinite(corrected) || !std::isfinite(sat.X) || !std::isfinite(sat.Y) || !std::isfinite(sat.Z))
      continue;
    Range& r = ranges[count++];
    r.Prn = ch.Prn;
    r.Code = corrected;
    r.Sat = sat;
  }
  if (count < kMinPositionSatellites) return false;

  Fix fix;
  fix.Position = have_start_ ? start_ : Vec3();
  fix.Clock = have_start_ ? start_clock_ : 0.0;
  if (!SolveRanges(ranges, count, sin_mask_, iono_free, &fix)) return false;
  // One fault at a time: the satellite whose leaving out leaves the
  // smallest residuals goes, while the largest residual is beyond the
  // limit and a fifth satellite is there to tell.
  const double limit = iono_free ? kMaxResidualIonoFree : kMaxResidualSingle;
  int dropped = 0;
  while (fix.WorstResidual > limit) {
    if (fix.Used <= kMinPositionSatellites || dropped >= kMaxDroppedSatellites) return false;
    int best = -1;
    Fix best_fix;
    for (int k = 0; k < count; ++k) {
      if (!ranges[k].Used || !ranges[k].Counted) continue;
      ranges[k].Used = false;
      Fix trial = fix;
      if (SolveRanges(ranges, count, sin_mask_, iono_free, &trial) &&
          (best < 0 || trial.SquaredResiduals < best_fix.SquaredResiduals)) {
        best = k;
        best_fix = trial;
      }
      ranges[k].Used = true;
    }
    if (best < 0) return false;
    ranges[best].Used = false;
    fix = best_fix;
    ++dropped;
  }
  if (!(fix.Pdop <= kMaxPdop)) return false;
  out->Time = t;
  out->Position = fix.Position;
  out->ClockMetres = fix.Clock;
  out->Satellites = fix.Used;
  out->Dropped = dropped;
  out->IonoFree = iono_free;
  out->Pdop = fix.Pdop;
  return true;
}

void PositionSolver::AddEpoch(const GpbEpoch& epoch, const GpbChannel* channels, int full_week) {
  ++added_;
  if (ephemerides_.Records().empty()) return;
  // Past the first kDenseEpochs, epochs kSparseSeconds apart at most.
  const double t = full_week * kSecondsPerWeek + epoch.RcvTime;
  if (candidates_ >= static_cast<int64_t>(kDenseEpochs) && !(t - last_candidate_ >= kSparseSeconds - 0.5))
    return;
  last_candidate_ = t;
  const int64_t index = candidates_++;
  if (index % stride_ != 0) return;
  if (static_cast<size_t>(tried_) >= max_epochs_) {
    // Every other epoch tried gives way, and half as many are tried on.
    const int64_t next = static_cast<int64_t>(stride_) * 2;
    size_t kept = 0;
    for (const EpochSolution& x : solutions_)
      if (x.Epoch % next == 0) solutions_[kept++] = x;
    solutions_.resize(kept);
    tried_ = (index - 1) / next + 1;  // the candidates 0, next, 2 next, ... before this one
    stride_ = static_cast<int>(next);
    if (index % stride_ != 0) return;
  }
  ++tried_;
  EpochSolution s;
  if (!SolveEpoch(epoch, channels, full_week, &s)) return;
  s.Epoch = index;
  start_ = s.Position;
  start_clock_ = s.ClockMetres;
  have_start_ = true;
  solutions_.push_back(s);
}

DataPosition PositionSolver::Result() const {
  DataPosition d;
  d.EpochsTried = tried_;
  d.EpochsSolved = static_cast<int64_t>(solutions_.size());
  d.Stride = stride_;
  for (const EpochSolution& s : solutions_) {
    if (s.IonoFree) ++d.IonoFreeEpochs;
    d.SatellitesDropped += s.Dropped;
  }
  if (ephemerides_.Records().empty()) {
    d.Reason = "no ephemerides";
    return d;
  }
  if (added_ == 0) {
    d.Reason = "no epochs";
    return d;
  }
  if (solutions_.empty()) {
    d.Reason = "no epoch has a solution (at least 4 GPS satellites with codes, ephemerides and "
               "elevations above the mask, residuals and PDOP within bounds)";
    return d;
  }
  std::vector<Vec3> points;
  points.reserve(solutions_.size());
  for (const EpochSolution& s : solutions_) points.push_back(s.Position);
  const RobustMeanResult mean = RobustMean(points);
  if (!mean.Valid) {
    d.Reason = "no robust mean";
    return d;
  }
  d.Valid = true;
  d.Mean = mean.Mean;
  EcefToGeodetic(d.Mean, &d.Latitude, &d.Longitude, &d.Height);
  d.SigmaNorth = mean.SigmaNorth;
  d.SigmaEast = mean.SigmaEast;
  d.SigmaUp = mean.SigmaUp;
  d.Rms3d = mean.Rms3d;
  d.EpochsUsed = static_cast<int64_t>(mean.Used);
  return d;
}

}  // namespace qc
}  // namespace rawconv
