// The receiver's position from its own data: a single-point solution per
// epoch from the GPS pseudoranges and the broadcast ephemerides, then a
// robust mean of the epoch positions.
//
// Per epoch (GPS satellites only: GLONASS would need its own ephemerides):
// - Ephemeris: the record of the satellite whose toe is nearest the epoch,
//   at most kMaxEphemerisAgeSeconds away.
// - Code: when at least four satellites of the epoch carry a code on each
//   band (C1, else P1, and P2), the ionosphere-free combination
//   (f1^2 L1code - f2^2 P2) / (f1^2 - f2^2) of those satellites; otherwise
//   the L1 code (C1, else P1) of every satellite, with the satellite's group
//   delay TGD taken off. C1 comes first because every receiver tracks it
//   and the common single-point programs take it so (without the P1-C1
//   bias, which is not in the broadcast message); on the real recordings
//   of the tests P1 instead moves the mean by up to 2 m (an Ashtech day),
//   C1 keeps it within 0.2 m of theirs. The ephemeris files carry no ionosphere
//   coefficients (no broadcast Klobuchar model): single-frequency ranges get
//   no ionosphere correction, which leaves metres of error in them (mostly
//   in the height).
// - Satellite: transmission time = epoch time - code / c - satellite clock;
//   the clock af0 + af1 dt + af2 dt^2 from toc, plus the relativistic term
//   -2 sqrt(mu a) e sin(E) / c^2; the broadcast orbit at that time, turned
//   by the earth's rotation during the signal's flight (Sagnac).
// - Troposphere: Saastamoinen's model with a standard atmosphere at the
//   receiver's height (1013.25 hPa and 15 degrees C at sea level, 6.5 K/km,
//   relative humidity 70 %), divided by the cosine of the zenith angle.
// - Least squares for X, Y, Z and the receiver clock, weighted by an error
//   budget per satellite: code noise 0.3 m (three times that for the
//   combination), 2.4 m of broadcast orbit and clock, 5 m of ionosphere
//   without a correction, 0.3 m / (sin(elevation) + 0.1) of what the
//   troposphere model leaves. Nearly even weights with both codes: the
//   orbit and clock dominate. Iterated from the previous epoch's solution (the earth's
//   centre at first) until the step is below 0.1 mm; the elevation mask
//   and the troposphere apply once the position is near the earth's
//   surface.
// - Checks: at least four satellites; while the largest residual exceeds
//   kMaxResidualIonoFree / kMaxResidualSingle metres, the epoch is solved
//   again without each satellite in turn and the satellite whose absence
//   leaves the smallest residuals is dropped (a receiver-autonomous check
//   of one fault at a time), at most kMaxDroppedSatellites of them and
//   never below four; no solution when the residuals stay beyond the limit,
//   the iteration does not converge or the PDOP exceeds kMaxPdop.
// Which epochs are solved: the first kDenseEpochs (600: ten minutes at
// 1 Hz, a short recording whole), then those at least kSparseSeconds (30 s,
// less half a second of clock offsets) after the last one taken: every
// epoch of 30 s data, one in 30 at 1 Hz. Of these, up to kMaxPositionEpochs
// are tried; past that the solutions of every other one are dropped and
// only every 2nd, 4th, ... is tried on (a day at 30 s, 2880 epochs, is
// tried whole; a day at 1 Hz costs about 3,500 solutions).
//
// Robust mean: per axis (X, Y, Z) the median and the median absolute
// deviation (MAD); the epochs within kRobustMadFactor * 1.4826 * MAD (at
// least kRobustFloorMetres) of the median on all three axes are kept, and
// their mean is the position. The spread is the standard deviation of the
// kept epochs in north, east and up around the mean, and their 3D RMS
// (the root of the sum of the three variances).
#ifndef RAWCONV_QC_POSITION_H_
#define RAWCONV_QC_POSITION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ephem/epp.h"
#include "gpb/gpb.h"
#include "qc/orbit.h"

namespace rawconv {
namespace qc {

constexpr size_t kDenseEpochs = 600;
constexpr double kSparseSeconds = 30.0;
constexpr size_t kMaxPositionEpochs = 4096;
constexpr int kMinPositionSatellites = 4;
constexpr double kMaxResidualIonoFree = 10.0;  // m
constexpr double kMaxResidualSingle = 30.0;    // m: unmodelled ionosphere
constexpr double kMaxPdop = 30.0;
constexpr int kMaxDroppedSatellites = 2;  // per epoch
constexpr double kRobustMadFactor = 3.0;
constexpr double kRobustFloorMetres = 0.01;

// One solved epoch.
struct EpochSolution {
  double Time = 0.0;  // continuous GPS seconds of the epoch (receiver time tag)
  Vec3 Position;
  double ClockMetres = 0.0;  // receiver clock bias times c
  int Satellites = 0;        // used in the final solution
  int Dropped = 0;           // dropped by the residual check
  bool IonoFree = false;
  double Pdop = 0.0;
  int64_t Epoch = 0;  // index of the epoch among those taken (see above)
};

// The robust mean of a set of positions (see the comment at the top).
struct RobustMeanResult {
  bool Valid = false;
  Vec3 Mean;
  double SigmaNorth = 0.0, SigmaEast = 0.0, SigmaUp = 0.0;  // m
  double Rms3d = 0.0;                                       // m
  size_t Used = 0;                                          // points kept
};
RobustMeanResult RobustMean(const std::vector<Vec3>& points);

// The position of a recording from its data.
struct DataPosition {
  bool Valid = false;
  // Why there is none ("no ephemerides", ...), empty when Valid.
  std::string Reason;
  Vec3 Mean;
  double Latitude = 0.0, Longitude = 0.0, Height = 0.0;  // degrees, m (WGS 84)
  double SigmaNorth = 0.0, SigmaEast = 0.0, SigmaUp = 0.0, Rms3d = 0.0;
  int64_t EpochsTried = 0;     // epochs tried (every Stride-th of those taken)
  int64_t EpochsSolved = 0;    // solutions kept for the mean
  int64_t EpochsUsed = 0;      // of those, within the robust bound
  int64_t IonoFreeEpochs = 0;  // solved with the ionosphere-free combination
  int64_t SatellitesDropped = 0;
  int Stride = 1;              // every Stride-th epoch taken was tried
};

// Solves the epochs fed to it and gives their robust mean.
class PositionSolver {
 public:
  // max_epochs: the epochs tried before they are thinned.
  explicit PositionSolver(double elevation_mask_deg, size_t max_epochs = kMaxPositionEpochs);

  void SetEphemerides(const std::vector<EphemerisRecord>& records);
  bool HasEphemerides() const { return !ephemerides_.Records().empty(); }

  // One epoch with its channels (epoch.NumChannels, at most kMaxChannels)
  // and the full GPS week of epoch.RcvTime.
  void AddEpoch(const GpbEpoch& epoch, const GpbChannel* channels, int full_week);

  // Solves one epoch without keeping it; false when it has no solution.
  bool SolveEpoch(const GpbEpoch& epoch, const GpbChannel* channels, int full_week,
                  EpochSolution* out);

  // The robust mean of the solutions kept so far.
  DataPosition Result() const;
  const std::vector<EpochSolution>& Solutions() const { return solutions_; }

 private:
  double sin_mask_;
  size_t max_epochs_;
  EphemerisIndex ephemerides_;
  bool have_start_ = false;
  Vec3 start_;
  double start_clock_ = 0.0;
  std::vector<EpochSolution> solutions_;
  int64_t added_ = 0, candidates_ = 0, tried_ = 0;
  double last_candidate_ = 0.0;
  int stride_ = 1;
};

// Saastamoinen's troposphere delay (m) of the standard atmosphere at a
// height (m above the ellipsoid) for a satellite at an elevation (radians);
// 0 at or below the horizon and outside -100 m .. 10 km.
double TroposphereDelay(double height, double elevation);

// The clock correction (s) of a satellite at GPS time t from its record:
// af0 + af1 dt + af2 dt^2 from toc (toe_time is EphemerisTime of the
// record), without the relativistic term or TGD.
double SatelliteClock(const EphemerisRecord& e, double toe_time, double t);

}  // namespace qc
}  // namespace rawconv

#endif  // RAWCONV_QC_POSITION_H_
