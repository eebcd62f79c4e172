// Satellite geometry for the quality check: the GPS broadcast orbit of an
// ephemeris record, earth-centred/geodetic conversions on WGS 84 and the
// azimuth and elevation of a satellite seen from a receiver.
//
// Times are continuous GPS seconds: full week * 604800 + seconds of week.
#ifndef RAWCONV_QC_ORBIT_H_
#define RAWCONV_QC_ORBIT_H_

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "ephem/epp.h"

namespace rawconv {
namespace qc {

// Constants of the GPS broadcast orbit and of WGS 84.
constexpr double kGpsMu = 3.986005e14;               // m^3/s^2, gravitational constant
constexpr double kEarthRotation = 7.2921151467e-5;   // rad/s
constexpr double kGpsPi = 3.1415926535898;           // the value the orbit definition uses
constexpr double kSpeedOfLight = 299792458.0;        // m/s
constexpr double kFreqL1 = 1575.42e6;                // Hz, GPS L1 carrier
constexpr double kFreqL2 = 1227.60e6;                // Hz, GPS L2 carrier
constexpr double kWgs84A = 6378137.0;                // semi-major axis, m
constexpr double kWgs84F = 1.0 / 298.257223563;      // flattening
constexpr double kDegPerRad = 57.29577951308232;
// The farthest an epoch may lie from the toe of the record used for it.
constexpr double kMaxEphemerisAgeSeconds = 7200.0;

struct Vec3 {
  double X = 0.0, Y = 0.0, Z = 0.0;
};

// Continuous time of the record's time of ephemeris; the record's week is
// taken modulo 1024 nearest to near_week (a full week) so that ten-bit and
// full week numbers both work.
double EphemerisTime(const EphemerisRecord& e, int near_week);

// Earth-centred, earth-fixed position of the satellite at continuous time t
// (transmission time), toe_time being EphemerisTime of the record. sin_e
// (when given) gets the sine of the eccentric anomaly, for the clock's
// relativistic term.
Vec3 BroadcastPosition(const EphemerisRecord& e, double toe_time, double t, double* sin_e = nullptr);

// Position of the satellite whose signal arrives at the receiver at t,
// expressed in the earth-fixed frame of the reception instant: the
// transmission time is found from the light time and the earth's rotation
// during it is taken out.
Vec3 PositionAtReception(const EphemerisRecord& e, double toe_time, double t, const Vec3& receiver);

// Spacing and number of the exactly evaluated positions a SatelliteTrack
// interpolates between.
constexpr double kTrackNodeSeconds = 600.0;
constexpr int kTrackNodes = 6;  // even: as many nodes after t as before

// PositionAtReception of one satellite and one fixed receiver, evaluated
// exactly every kTrackNodeSeconds (on multiples of it in continuous time)
// and in between by the polynomial through the kTrackNodes nodes around t.
// The earth-fixed position is smooth enough that it stays within a metre
// of the exact value (about a millionth of a degree seen from the ground);
// at 30 s sampling it saves 19 of 20 orbit solutions, at 1 s nearly all.
// Within one interval between nodes a position costs a few multiplications
// (the polynomial is kept in powers of the time). The nodes belong to one
// record: another record or receiver starts again. Times may come in any
// order; growing times reuse the nodes.
class SatelliteTrack {
 public:
  Vec3 At(const EphemerisRecord& e, double toe_time, double t, const Vec3& receiver);

 private:
  bool Same(const EphemerisRecord& e, double toe_time, const Vec3& receiver) const {
    return record_ == &e && toe_time_ == toe_time && receiver_.X == receiver.X && receiver_.Y == receiver.Y &&
           receiver_.Z == receiver.Z;
  }
  void Prepare(const EphemerisRecord& e, double toe_time, double cell, const Vec3& receiver);

  const EphemerisRecord* record_ = nullptr;
  double toe_time_ = 0.0;
  Vec3 receiver_;
  int64_t first_ = 0;  // node index of nodes_[0]
  int valid_ = 0;      // nodes_[0..valid_) hold their positions
  Vec3 nodes_[kTrackNodes];
  // The polynomial of the current interval [start_, start_ + spacing), in
  // powers of u = (t - start_) / spacing; none while start_ is NaN.
  double start_ = std::numeric_limits<double>::quiet_NaN();
  Vec3 coefficients_[kTrackNodes];
};

Vec3 GeodeticToEcef(double lat_deg, double lon_deg, double height);
void EcefToGeodetic(const Vec3& p, double* lat_deg, double* lon_deg, double* height);

// The local east-north-up frame of a receiver, made once per position.
struct LocalFrame {
  Vec3 Origin;
  double SinLat = 0.0, CosLat = 1.0, SinLon = 0.0, CosLon = 1.0;
};
LocalFrame MakeLocalFrame(const Vec3& receiver);

// The direction to sat in the frame: east, north and up components (m).
struct Enu {
  double East = 0.0, North = 0.0, Up = 0.0;
};
Enu ToLocal(const LocalFrame& frame, const Vec3& sat);
// Azimuth (0..360, clockwise from north) and elevation (-90..90) in
// degrees of a local direction.
void AzimuthElevation(const Enu& d, double* az_deg, double* el_deg);
// True when the direction lies below an elevation of sin_mask's angle,
// without the trigonometry (sin_mask = sine of the mask).
inline bool BelowElevation(const Enu& d, double sin_mask) {
  return d.Up < sin_mask * std::sqrt(d.East * d.East + d.North * d.North + d.Up * d.Up);
}

// Azimuth (0..360, clockwise from north) and elevation (-90..90) in
// degrees of sat seen from the frame's origin.
void AzimuthElevation(const LocalFrame& frame, const Vec3& sat, double* az_deg, double* el_deg);
void AzimuthElevation(const Vec3& receiver, const Vec3& sat, double* az_deg, double* el_deg);

// A broadcast ephemeris record with the continuous time of its toe.
struct EphemerisEntry {
  double ToeTime = 0.0;
  EphemerisRecord Record{};
};

// The broadcast ephemerides of a recording by GPS satellite (1..32), each
// satellite's records in order of toe. The records' weeks (ten-bit or full)
// are read nearest to the week of the data, which is known at its first
// epoch: Set keeps the records, Index(week) sorts them out once.
class EphemerisIndex {
 public:
  void Set(const std::vector<EphemerisRecord>& records);
  const std::vector<EphemerisRecord>& Records() const { return records_; }
  bool Indexed() const { return indexed_; }
  // Builds the lists (records of other satellites, or without an orbit,
  // are left out); once, until the next Set.
  void Index(int week);
  // The satellite's entries by toe (empty for a number outside 1..32).
  const std::vector<EphemerisEntry>& Of(int prn) const;
  // The entry whose toe is nearest t, when within kMaxEphemerisAgeSeconds;
  // nullptr otherwise.
  const EphemerisEntry* Nearest(int prn, double t) const;

 private:
  static constexpr int kSatellites = 32;
  std::vector<EphemerisRecord> records_;
  std::vector<EphemerisEntry> entries_[kSatellites + 1];
  bool indexed_ = false;
};

}  // namespace qc
}  // namespace rawconv

#endif  // RAWCONV_QC_ORBIT_H_
