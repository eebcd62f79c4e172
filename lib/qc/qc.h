// Quality check of a recording: a QcObserver is fed the epochs of one file
// in time order and fills a QcSummary at the end. It measures, it does not
// render (qc_report.h turns a summary into text, JSON and HTML).
//
//   QcObserver qc(options);
//   qc.SetEphemerides(records);          // optional: broadcast ephemerides
//   qc.SetPosition(x, y, z);             // optional: else the first valid
//                                        // epoch position is taken
//   qc.SetStation(facts);                // optional: header and records to
//                                        // compare the data with
//   for each epoch: qc.AddEpoch(epoch, channels, full_week);
//   QcSummary summary;
//   qc.Finish(&summary);
//
// What is measured, and how:
// - Time: epoch times are continuous GPS seconds (week * 604800 + RcvTime).
//   Epochs not later than the previous one are skipped and counted. The
//   interval is the most frequent step between epochs (steps within
//   kStepToleranceSeconds of each other count as equal); every step longer
//   than kGapFactor intervals is a gap. Expected epochs span the first to
//   the last epoch at the interval.
// - Observations: the eight GPB types C1 L1 L2 P1 P2 D1 S1 (C/N0 on L1) and
//   S2 (C/N0 on L2), per satellite, as the channel's observation mask has
//   them. A loss-of-lock indicator is a phase whose lock time is 0 (the
//   indicator the observation file carries).
// - Cycle slips, GPS only (GLONASS carriers depend on a channel number the
//   data lacks). Phases are taken with the sign of the observation file
//   (GPB stores them negated). With L1, L2 and codes on both bands:
//     geometry-free  GF = lambda1 L1 - lambda2 L2 (m): a slip when GF leaves
//       its linear prediction from the two previous epochs by more than
//       kGeometryFreeSlipMetres;
//     Melbourne-Wuebbena  MW = wide-lane phase - narrow-lane code (cycles of
//       the wide lane): a slip when it leaves the running arc mean by more
//       than kMwSlipSigmas standard deviations and kMwSlipMinCycles cycles,
//       once the arc holds kMwMinEpochs values.
//   With L1 alone: code minus phase C - lambda1 L1 (m): a slip when it moves
//   more than kCodeMinusPhaseSlipMetres from one epoch to the next.
//   An arc ends at a slip, a loss-of-lock indicator, or when the satellite
//   is missing for more than kMaxArcGapSeconds; the tests restart then.
// - Multipath, GPS with L1, L2 and P1 (or C1) / P2, alpha = (f1/f2)^2:
//     MP1 = P1 - (1 + 2/(alpha-1)) lambda1 L1 + (2/(alpha-1)) lambda2 L2
//     MP2 = P2 - (2 alpha/(alpha-1)) lambda1 L1 + (2 alpha/(alpha-1) - 1) lambda2 L2
//   corrected by the mean of its arc (ambiguities and hardware delays);
//   arcs shorter than kMinMultipathArcEpochs are left out. RMS per
//   satellite and over all satellites (every value weighs the same).
// - Signal strength: mean S1 and S2 (dB-Hz) of the values above 0.
// - Geometry: azimuth and elevation of each GPS satellite at each epoch
//   from the broadcast ephemeris nearest in time (at most
//   kMaxEphemerisAgeSeconds from its toe) and the receiver position;
//   satellite-epochs below the elevation mask are counted.
// - Station: the position from the data (position.h: a single-point
//   solution per epoch and their robust mean, above the same elevation
//   mask), unless one was handed over (SetDataPosition), compared with the
//   header and the station's records (metadata.h).
// Memory is constant per satellite except the lists the reports need:
// gaps, slips, tracked spans and the figure samples, which are thinned to
// at most kMaxSamples by keeping every 2nd, 4th, ... epoch.
#ifndef RAWCONV_QC_QC_H_
#define RAWCONV_QC_QC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ephem/epp.h"
#include "gpb/gpb.h"
#include "qc/metadata.h"
#include "qc/orbit.h"
#include "qc/position.h"

namespace rawconv {
namespace qc {

constexpr double kStepToleranceSeconds = 0.01;
constexpr double kGapFactor = 1.5;
constexpr double kGeometryFreeSlipMetres = 0.08;
constexpr double kMwSlipSigmas = 4.0;
constexpr double kMwSlipMinCycles = 4.0;
constexpr int kMwMinEpochs = 10;
constexpr double kCodeMinusPhaseSlipMetres = 20.0;
constexpr double kMaxArcGapSeconds = 300.0;
constexpr int kMinMultipathArcEpochs = 10;
constexpr double kDefaultElevationMask = 10.0;  // degrees

constexpr int kMaxSatelliteNumber = 72;      // GPB satellite numbers 1..72; above 32 GLONASS
constexpr size_t kMaxSamples = 6000;         // figure samples kept
constexpr size_t kMaxListEntries = 5000;     // gaps, slips; the totals count on
constexpr size_t kMaxSpansPerSatellite = 2000;

// L1/L2 carrier wavelengths of GPS (the frequencies are in orbit.h).
constexpr double kLambdaL1 = kSpeedOfLight / kFreqL1;
constexpr double kLambdaL2 = kSpeedOfLight / kFreqL2;

// The observation types in report order.
enum QcObsType { kQcC1, kQcL1, kQcL2, kQcP1, kQcP2, kQcD1, kQcS1, kQcS2, kQcObsTypes };
const char* QcObsTypeName(int type);  // "C1" .. "S2"

enum QcSlipKind { kSlipGeometryFree, kSlipMelbourneWuebbena, kSlipCodeMinusPhase, kQcSlipKinds };
const char* QcSlipKindName(int kind);  // "GF", "MW", "CMP"

struct QcOptions {
  double ElevationMask = kDefaultElevationMask;  // degrees
  // Nominal interval in seconds; 0 takes the most frequent step.
  double NominalInterval = 0.0;
  // Figure samples kept at most (thinned beyond); SIZE_MAX keeps every
  // satellite-epoch, for checks of the geometry.
  size_t MaxSamples = kMaxSamples;
};

struct QcGap {
  double Start = 0.0;  // continuous GPS seconds of the last epoch before the gap
  double End = 0.0;    // and of the first after it
  int64_t MissingEpochs = 0;
};

struct QcSlip {
  int Prn = 0;
  double Time = 0.0;  // continuous GPS seconds
  int Kind = 0;       // QcSlipKind
  double Jump = 0.0;  // how far the combination moved (m, or cycles for MW)
};

// A run of consecutive epochs in which a satellite was tracked.
struct QcSpan {
  double Start = 0.0;
  double End = 0.0;
};

struct QcSatellite {
  int Prn = 0;
  int64_t Epochs = 0;
  int64_t Obs[kQcObsTypes] = {};
  int64_t LossOfLock = 0;
  int64_t Slips[kQcSlipKinds] = {};
  int64_t Mp1Count = 0, Mp2Count = 0;
  double Mp1Rms = 0.0, Mp2Rms = 0.0;  // m
  double MeanS1 = 0.0, MeanS2 = 0.0;  // dB-Hz, 0 without values
  int64_t WithAzEl = 0;               // satellite-epochs with a computed elevation
  int64_t BelowMask = 0;
  std::vector<QcSpan> Spans;
  bool SpansTruncated = false;
  int64_t TotalSlips() const { return Slips[0] + Slips[1] + Slips[2]; }
};

// One satellite at one (kept) epoch, for the figures. NaN marks a value
// that does not exist (no ephemeris, no S2, no multipath arc...).
struct QcSample {
  int Prn = 0;
  double Time = 0.0;  // continuous GPS seconds
  float Azimuth = 0.0f, Elevation = 0.0f;
  float S1 = 0.0f, S2 = 0.0f;
  float Mp1 = 0.0f, Mp2 = 0.0f;
};

struct QcSummary {
  // Time
  int64_t PresentEpochs = 0;
  int64_t ExpectedEpochs = 0;
  int64_t SkippedEpochs = 0;  // not later than the epoch before
  double FirstTime = 0.0, LastTime = 0.0;
  double Interval = 0.0;
  double CompletenessPercent = 0.0;
  std::vector<QcGap> Gaps;
  int64_t GapCount = 0;  // all gaps, also those past the list's limit
  // Satellites, by number
  std::vector<QcSatellite> Satellites;
  int64_t Obs[kQcObsTypes] = {};
  int64_t LossOfLock = 0;
  int64_t Slips[kQcSlipKinds] = {};
  std::vector<QcSlip> SlipList;
  // Multipath and signal
  int64_t Mp1Count = 0, Mp2Count = 0;
  double Mp1Rms = 0.0, Mp2Rms = 0.0;
  int64_t S1Count = 0, S2Count = 0;
  double MeanS1 = 0.0, MeanS2 = 0.0;
  // Geometry
  bool HasPosition = false;
  Vec3 Position;
  int EphemerisCount = 0;
  double ElevationMask = kDefaultElevationMask;
  int64_t WithAzEl = 0;
  int64_t WithoutEphemeris = 0;  // GPS satellite-epochs without a usable ephemeris
  int64_t BelowMask = 0;
  // Station: the position from the data and the comparisons.
  QcMetadata Metadata;
  // Figures
  std::vector<QcSample> Samples;
  int SampleStride = 1;  // samples are of every SampleStride-th epoch

  int64_t TotalSlips() const { return Slips[0] + Slips[1] + Slips[2]; }
  int SatelliteCount() const { return static_cast<int>(Satellites.size()); }
};

// Reads every ephemeris record of an EPP file. false with a message in
// *error when the file cannot be opened or has no valid header.
bool LoadEphemerides(const char* epp_path, std::vector<EphemerisRecord>* out, std::string* error);

class QcObserver {
 public:
  explicit QcObserver(const QcOptions& options = QcOptions());
  ~QcObserver();
  QcObserver(const QcObserver&) = delete;
  QcObserver& operator=(const QcObserver&) = delete;

  void SetEphemerides(const std::vector<EphemerisRecord>& records);
  void SetPosition(const Vec3& ecef);
  // What the reports compare the data with: HasHeaderPosition,
  // HeaderPosition, ReceiverText, HeaderAntenna and Reference of facts.
  void SetStation(const QcMetadata& facts);
  // The position from the data, found already (by the pre-scan): the check
  // does not solve the epochs again.
  void SetDataPosition(const DataPosition& position);

  // One epoch: its channels (epoch.NumChannels of them, at most
  // kMaxChannels read) and the full GPS week of epoch.RcvTime.
  void AddEpoch(const GpbEpoch& epoch, const GpbChannel* channels, int full_week);

  // Closes the open arcs and fills *summary; the observer is then spent.
  void Finish(QcSummary* summary);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qc
}  // namespace rawconv

#endif  // RAWCONV_QC_QC_H_
