// RINEX 2 observation data -> GPB file, for round-trip tests and the rnx2gpb
// tool (header-only).
//
//   RnxToGpbOptions options;            // new format, receiver type 6 "RINEX"
//   RnxToGpbSummary summary;
//   ConvertRinexObsFileToGpb("in.05o", "out.gpb", options, &summary);
//
// What the conversion does with each part of the RINEX data:
// - Satellites: GPS (G or blank) 1..32 keep their number; GLONASS (R) 1..32
//   become 33..64. Every other system, and numbers outside 1..32, are
//   dropped (OtherSystemDropped). An epoch keeps at most 24 satellites, the
//   first 24 in RINEX order; the rest are dropped (OverflowDropped).
// - Values: C1, L1, L2, P1, P2, D1 into the channel fields of the same name,
//   S1 into Cn0L1 and S2 into Cn0L2; each present value sets its ObsMask
//   bit. Phases change sign (GPB phases carry the opposite sign to RINEX).
//   Other types (C2, D2, ...) are dropped. The new format stores D1 as a
//   float and C/N0 in steps of 0.25 dB-Hz up to 63.75; the old format has no
//   room for P1, S1 and S2, and keeps whole lock seconds up to 255.
// - Lock time (LockTime1/LockSec1 with L1, LockTime2 with L2): 0 when the
//   phase's loss-of-lock indicator has bit 0 set; otherwise the lock time of
//   the previous epoch plus the time since it when the satellite was in the
//   previous epoch, else one epoch interval (the satellite was not reported
//   as lost, so it counts as tracked for one interval). The epoch interval is
//   the header's INTERVAL, else the time since the previous epoch, else 1 s.
//   The lock time shown by the reader is limited to 1200 s by the format.
// - Position: APPROX POSITION XYZ as geodetic WGS 84 latitude, longitude and
//   height on every epoch, with the position-valid flag when the header has
//   a position other than 0, 0, 0.
// - Events: event records (flags 2 to 5) write no GPB record. A flag 2
//   (antenna starts moving) sets the kinematic flag on the following epochs
//   until a flag 3 (new site occupation) clears it again. Flags 0, 1 and 6
//   are observation epochs.
// - Time: RcvTime = RawRcvTime = ClockRefTime = the epoch's GPS seconds of
//   week (ClockBias 0, so the old-format clock rebuild of receiver type 6
//   gives the same raw time). The receiver clock offset is not carried.
// - Header: receiver type 6 ("RINEX") unless the options say otherwise; the
//   new-format description is the REC # / TYPE / VERS receiver type, cut to
//   31 characters.
#ifndef RAWCONV_TESTS_SUPPORT_RNX_TO_GPB_H_
#define RAWCONV_TESTS_SUPPORT_RNX_TO_GPB_H_

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "ephem/gps_time.h"
#include "gpb/gpb.h"
#include "support/gpb_builder.h"
#include "support/rinex_obs.h"

namespace rawconv {
namespace rnxtest {

struct RnxToGpbOptions {
  bool NewFormat = true;
  bool WithL2 = true;      // new format: 56 bytes per channel (L2 blocks)
  int ReceiverType = 6;    // "RINEX"
};

struct RnxToGpbSummary {
  int Epochs = 0;              // GPB records written
  int EventsSkipped = 0;       // RINEX event records (flags 2..5)
  int OtherSystemDropped = 0;  // satellite observations of other systems
  int OverflowDropped = 0;     // satellite observations beyond 24 per epoch
  int Glonass = 0;             // GLONASS satellite observations kept
  int SatellitesDropped() const { return OtherSystemDropped + OverflowDropped; }
};

// WGS 84 geodetic latitude, longitude (degrees) and height (m) of an
// earth-centred position, by fixed-point iteration on the latitude.
inline void EcefToGeodetic(double x, double y, double z, double* lat, double* lon, double* h) {
  const double a = 6378137.0;
  const double e2 = 0.006694380066764658;
  const double kDeg = 57.29577951308232;
  const double p = std::hypot(x, y);
  double phi = std::atan2(z, p * (1.0 - e2));
  double height = 0.0;
  for (int i = 0; i < 20; ++i) {
    const double s = std::sin(phi);
    const double n = a / std::sqrt(1.0 - e2 * s * s);
    height = p / std::cos(phi) - n;
    phi = std::atan2(z, p * (1.0 - e2 * n / (n + height)));
  }
  *lat = phi * kDeg;
  *lon = std::atan2(y, x) * kDeg;
  *h = height;
}

// Satellite number in GPB terms, or 0 when the satellite is dropped.
inline int GpbPrnOf(const RinexSatObs& sat) {
  if (sat.Prn < 1 || sat.Prn > 32) return 0;
  if (sat.System == 'G' || sat.System == ' ') return sat.Prn;
  if (sat.System == 'R') return sat.Prn + 32;
  return 0;
}

// Converts parsed RINEX data into GPB records appended to *out (made with
// MakeGpbFileFor or any builder of the wanted format).
inline void ConvertRinexObs(const RinexObsFile& in, const RnxToGpbOptions& options,
                            gpbtest::GpbFileBuilder* out, RnxToGpbSummary* summary) {
  *summary = RnxToGpbSummary();
  const RinexObsHeader& h = in.Header;
  const int iC1 = h.TypeIndex("C1"), iL1 = h.TypeIndex("L1"), iL2 = h.TypeIndex("L2");
  const int iP1 = h.TypeIndex("P1"), iP2 = h.TypeIndex("P2"), iD1 = h.TypeIndex("D1");
  const int iS1 = h.TypeIndex("S1"), iS2 = h.TypeIndex("S2");

  double lat = 0.0, lon = 0.0, height = 0.0;
  const bool has_position = h.HasApproxPosition &&
                            (h.ApproxX != 0.0 || h.ApproxY != 0.0 || h.ApproxZ != 0.0);
  if (has_position) EcefToGeodetic(h.ApproxX, h.ApproxY, h.ApproxZ, &lat, &lon, &height);

  struct Lock {
    double L1 = 0.0, L2 = 0.0;
  };
  std::map<int, Lock> previous_locks;  // satellites of the previous epoch
  bool have_previous = false;
  double previous_time = 0.0;
  bool kinematic = false;

  for (const RinexObsEpoch& e : in.Epochs) {
    if (e.IsEvent()) {
      ++summary->EventsSkipped;
      if (e.Flag == 2) kinematic = true;
      if (e.Flag == 3) kinematic = false;
      continue;
    }
    int week = 0;
    double t = 0.0;
    DateToGps(e.Hour, e.Minute, e.Second, e.Month, e.Day, e.Year, week, t);
    double step = 0.0;
    if (have_previous) {
      step = t - previous_time;
      if (step < 0.0) step += 604800.0;  // week rollover
    }
    const double interval = (h.HasInterval && h.Interval > 0.0) ? h.Interval
                            : step > 0.0                          ? step
                                                                  : 1.0;

    GpbEpoch epoch = gpbtest::MakeEpoch(t, lat, lon, static_cast<float>(height),
                                        static_cast<int16_t>((has_position ? kEpochPositionValid : 0) |
                                                             (kinematic ? kEpochKinematic : 0)));
    epoch.ClockRefTime = t;
    GpbChannel channels[kMaxChannels]{};
    int n = 0;
    std::map<int, Lock> locks;
    for (const RinexSatObs& sat : e.Sats) {
      const int prn = GpbPrnOf(sat);
      if (prn == 0) {
        ++summary->OtherSystemDropped;
        continue;
      }
      if (n == kMaxChannels) {
        ++summary->OverflowDropped;
        continue;
      }
      if (prn > 32) ++summary->Glonass;
      GpbChannel& ch = channels[n++];
      ch.Prn = prn;
      auto value = [&](int index, uint32_t bit, double* field, double sign) {
        if (index < 0 || static_cast<size_t>(index) >= sat.Values.size()) return false;
        const RinexObsValue& v = sat.Values[static_cast<size_t>(index)];
        if (!v.Present) return false;
        *field = sign * v.Value;
        ch.ObsMask |= bit;
        return true;
      };
      value(iC1, kObsC1, &ch.C1, 1.0);
      value(iP1, kObsP1, &ch.P1, 1.0);
      value(iP2, kObsP2, &ch.P2, 1.0);
      value(iD1, kObsD1, &ch.D1, 1.0);
      value(iS1, kObsCn0L1, &ch.Cn0L1, 1.0);
      value(iS2, kObsCn0L2, &ch.Cn0L2, 1.0);

      const auto before = previous_locks.find(prn);
      auto lock_time = [&](int index, double Lock::*member) {
        const RinexObsValue& v = sat.Values[static_cast<size_t>(index)];
        if (v.Lli >= 0 && (v.Lli & 1)) return 0.0;
        if (before != previous_locks.end()) return before->second.*member + step;
        return interval;
      };
      Lock& lock = locks[prn];
      if (value(iL1, kObsL1, &ch.L1, -1.0)) {
        lock.L1 = lock_time(iL1, &Lock::L1);
        ch.LockTime1 = lock.L1;
        ch.LockSec1 = static_cast<uint8_t>(lock.L1 > 255.0 ? 255.0 : lock.L1);
        ch.ObsMask |= kObsLock1;
      }
      if (value(iL2, kObsL2, &ch.L2, -1.0)) {
        lock.L2 = lock_time(iL2, &Lock::L2);
        ch.LockTime2 = lock.L2;
        ch.ObsMask |= kObsLock2;
      }
    }
    out->AddEpoch(epoch, channels, n, options.WithL2);
    ++summary->Epochs;
    previous_locks.swap(locks);
    previous_time = t;
    have_previous = true;
  }
}

// An empty GPB file of the chosen format with the header taken from the
// RINEX header.
inline gpbtest::GpbFileBuilder MakeGpbFileFor(const RinexObsHeader& h,
                                              const RnxToGpbOptions& options) {
  if (!options.NewFormat) return gpbtest::GpbFileBuilder::Old(options.ReceiverType);
  const std::string description = h.ReceiverType.substr(0, 31);
  return gpbtest::GpbFileBuilder::New(options.ReceiverType, description.c_str());
}

// Reads a RINEX observation file and writes the GPB file. False with a
// message in *error when either file fails.
inline bool ConvertRinexObsFileToGpb(const std::string& in_path, const std::string& out_path,
                                     const RnxToGpbOptions& options, RnxToGpbSummary* summary,
                                     std::string* error = nullptr) {
  RinexObsFile rinex;
  if (!ReadRinexObsFile(in_path, &rinex, error)) return false;
  gpbtest::GpbFileBuilder gpb = MakeGpbFileFor(rinex.Header, options);
  ConvertRinexObs(rinex, options, &gpb, summary);
  if (!gpb.Write(out_path)) {
    if (error) *error = "cannot write " + out_path;
    return false;
  }
  return true;
}

}  // namespace rnxtest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_RNX_TO_GPB_H_
