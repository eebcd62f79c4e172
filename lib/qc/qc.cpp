#include "qc/qc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "ephem/gps_time.h"

namespace rawconv {
namespace qc {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kAlpha = (kFreqL1 / kFreqL2) * (kFreqL1 / kFreqL2);
constexpr double kLambdaWide = kSpeedOfLight / (kFreqL1 - kFreqL2);
constexpr size_t kMaxStepRuns = 20000;

bool Has(const GpbChannel& ch, uint32_t bit) { return (ch.ObsMask & bit) != 0; }

// Running sums of one combination over one arc, taken relative to the
// arc's first value so that large ambiguities do not cost precision.
struct ArcSums {
  double Ref = 0.0;
  int64_t N = 0;
  double Sum = 0.0, SumSq = 0.0;
  void Add(double v) {
    if (N == 0) Ref = v;
    const double d = v - Ref;
    ++N;
    Sum += d;
    SumSq += d * d;
  }
  double Mean() const { return N > 0 ? Sum / static_cast<double>(N) : 0.0; }
  // Sum of squared deviations from the arc mean.
  double Deviations() const {
    const double m = Mean();
    const double d = SumSq - static_cast<double>(N) * m * m;
    return d > 0.0 ? d : 0.0;
  }
};

struct SatState {
  QcSatellite Out;
  bool Seen = false;
  double LastTime = 0.0;
  // Combination state of the current arc.
  bool ArcOpen = false;
  int ArcId = -1;
  int GfCount = 0;
  double Gf1 = 0.0, Gf2 = 0.0;  // the latest and the one before
  int64_t MwCount = 0;
  double MwMean = 0.0, MwM2 = 0.0;
  bool HasCmp = false;
  double Cmp = 0.0;
  ArcSums Mp1, Mp2;
  // Totals over closed arcs.
  double Mp1Dev = 0.0, Mp2Dev = 0.0;
  double S1Sum = 0.0, S2Sum = 0.0;
  int64_t S1Count = 0, S2Count = 0;
  size_t Ephemeris = 0;  // index into the satellite's ephemeris list
  // Observation masks are counted a run of equal masks at a time.
  uint32_t RunMask = 0;
  int64_t RunLength = 0;
  SatelliteTrack Track;
};

struct StepRun {
  double Step = 0.0;
  double Start = 0.0;  // time of the epoch before the first step of the run
  int64_t Count = 0;
};

// A figure sample until the end: its direction stays a vector until the
// thinning is over, so that only the samples kept pay for the angles.
struct PendingSample {
  QcSample Sample;
  Enu Direction;
  bool HasDirection = false;
  int Arc = -1;  // arc of its multipath values, -1 without
  int64_t Epoch = 0;
};

// Mean of the arc's MP values relative to its reference, or NaN when the
// arc was too short to be used.
struct ArcMeans {
  double Ref1 = kNaN, Mean1 = kNaN, Ref2 = kNaN, Mean2 = kNaN;
};

// Holds a stream's lock for a scope (POSIX; elsewhere nothing).
class StreamLock {
 public:
  explicit StreamLock(std::FILE* f) : f_(f) {
#if !defined(_WIN32)
    flockfile(f_);
#endif
  }
  ~StreamLock() {
#if !defined(_WIN32)
    funlockfile(f_);
#endif
  }
  StreamLock(const StreamLock&) = delete;
  StreamLock& operator=(const StreamLock&) = delete;

 private:
  std::FILE* f_;
};

}  // namespace

const char* QcObsTypeName(int type) {
  static const char* const kNames[kQcObsTypes] = {"C1", "L1", "L2", "P1", "P2", "D1", "S1", "S2"};
  return type >= 0 && type < kQcObsTypes ? kNames[type] : "";
}

const char* QcSlipKindName(int kind) {
  static const char* const kNames[kQcSlipKinds] = {"GF", "MW", "CMP"};
  return kind >= 0 && kind < kQcSlipKinds ? kNames[kind] : "";
}

bool LoadEphemerides(const char* epp_path, std::vector<EphemerisRecord>* out, std::string* error) {
  out->clear();
  std::FILE* f = OpenEppFile(epp_path, nullptr);
  if (f == nullptr) {
    if (error) *error = std::string("Cannot open ephemeris file ") + epp_path;
    return false;
  }
  if (CheckEppHeader(f) != 0) {
    std::fclose(f);
    if (error) *error = std::string("Header of EPP file invalid, not EPP file: ") + epp_path;
    return false;
  }
  EphemerisRecord r{};
  {
    // The reader takes the file a character at a time; holding the
    // stream's lock once spares a lock and unlock per character when other
    // threads run (most of the reading time otherwise).
    StreamLock hold(f);
    while (ReadEphemerisRecord(f, &r) == 0) out->push_back(r);
  }
  std::fclose(f);
  return true;
}

struct QcObserver::State {
  QcOptions Options;
  EphemerisIndex Ephemerides;
  bool HasPosition = false;
  bool PositionGiven = false;
  Vec3 Position;
  LocalFrame Frame;
  double SinMask = 0.0;  // sine of the elevation mask

  int64_t Present = 0, Skipped = 0;
  double First = 0.0, Last = 0.0;
  std::vector<StepRun> Runs;
  bool RunsFull = false;

  SatState Sats[kMaxSatelliteNumber + 1];
  std::vector<QcSlip> SlipList;
  std::vector<ArcMeans> Arcs;

  std::vector<PendingSample> Samples;
  int Stride = 1;

  QcMetadata Station;
  PositionSolver Solver;
  bool DataPositionGiven = false;

  explicit State(double mask) : Solver(mask) {}

  const EphemerisRecord* EphemerisFor(SatState& s, int prn, double t, double* toe_time);
  void AddStep(double step);
  void OpenArc(SatState& s);
  void CloseArc(SatState& s);
  void AddSlip(SatState& s, int prn, double t, int kind, double jump);
  void AddChannel(const GpbChannel& ch, double t, int64_t epoch_index, double previous_time);
  static void CountRun(SatState& s);
  void Thin();
};

const EphemerisRecord* QcObserver::State::EphemerisFor(SatState& s, int prn, double t,
                                                       double* toe_time) {
  const std::vector<EphemerisEntry>& list = Ephemerides.Of(prn);
  if (list.empty()) return nullptr;
  // Times only grow, so the nearest record only moves forward.
  while (s.Ephemeris + 1 < list.size() &&
         std::fabs(list[s.Ephemeris + 1].ToeTime - t) <= std::fabs(list[s.Ephemeris].ToeTime - t)) {
    ++s.Ephemeris;
  }
  const EphemerisEntry& e = list[s.Ephemeris];
  if (std::fabs(e.ToeTime - t) > kMaxEphemerisAgeSeconds) return nullptr;
  *toe_time = e.ToeTime;
  return &e.Record;
}

void QcObserver::State::AddStep(double step) {
  if (!Runs.empty() && std::fabs(step - Runs.back().Step) <= kStepToleranceSeconds) {
    ++Runs.back().Count;
    return;
  }
  if (Runs.size() >= kMaxStepRuns) {
    RunsFull = true;
    return;
  }
  StepRun r;
  r.Step = step;
  r.Start = Last;
  r.Count = 1;
  Runs.push_back(r);
}

void QcObserver::State::OpenArc(SatState& s) {
  s.ArcOpen = true;
  s.ArcId = static_cast<int>(Arcs.size());
  Arcs.push_back(ArcMeans());
  s.GfCount = 0;
  s.MwCount = 0;
  s.MwMean = s.MwM2 = 0.0;
  s.HasCmp = false;
  s.Mp1 = ArcSums();
  s.Mp2 = ArcSums();
}

void QcObserver::State::CloseArc(SatState& s) {
  if (!s.ArcOpen) return;
  s.ArcOpen = false;
  ArcMeans& m = Arcs[static_cast<size_t>(s.ArcId)];
  if (s.Mp1.N >= kMinMultipathArcEpochs) {
    s.Mp1Dev += s.Mp1.Deviations();
    s.Out.Mp1Count += s.Mp1.N;
    m.Ref1 = s.Mp1.Ref;
    m.Mean1 = s.Mp1.Mean();
  }
  if (s.Mp2.N >= kMinMultipathArcEpochs) {
    s.Mp2Dev += s.Mp2.Deviations();
    s.Out.Mp2Count += s.Mp2.N;
    m.Ref2 = s.Mp2.Ref;
    m.Mean2 = s.Mp2.Mean();
  }
}

void QcObserver::State::AddSlip(SatState& s, int prn, double t, int kind, double jump) {
  ++s.Out.Slips[kind];
  if (SlipList.size() < kMaxListEntries) {
    QcSlip slip;
    slip.Prn = prn;
    slip.Time = t;
    slip.Kind = kind;
    slip.Jump = jump;
    SlipList.push_back(slip);
  }
}

void QcObserver::State::AddChannel(const GpbChannel& ch, double t, int64_t epoch_index,
                                   double previous_time) {
  const int prn = ch.Prn;
  if (prn < 1 || prn > kMaxSatelliteNumber) return;
  SatState& s = Sats[prn];
  QcSatellite& out = s.Out;
  if (!s.Seen) {
    s.Seen = true;
    out.Prn = prn;
  }
  if (s.Out.Epochs > 0 && s.LastTime == previous_time && !out.Spans.empty()) {
    out.Spans.back().End = t;
  } else if (out.Spans.size() < kMaxSpansPerSatellite) {
    QcSpan span;
    span.Start = span.End = t;
    out.Spans.push_back(span);
  } else {
    out.SpansTruncated = true;
  }
  const double gap_since = s.Out.Epochs > 0 ? t - s.LastTime : 0.0;
  ++out.Epochs;
  s.LastTime = t;

  if (ch.ObsMask != s.RunMask) {
    CountRun(s);
    s.RunMask = ch.ObsMask;
  }
  ++s.RunLength;
  const bool has_l1 = Has(ch, kObsL1), has_l2 = Has(ch, kObsL2);
  const bool lli = (has_l1 && Has(ch, kObsLock1) && !(ch.LockTime1 > 0.0)) ||
                   (has_l2 && Has(ch, kObsLock2) && !(ch.LockTime2 > 0.0));
  if (lli) ++out.LossOfLock;
  double s1 = kNaN, s2 = kNaN;
  if (Has(ch, kObsCn0L1) && ch.Cn0L1 > 0.0) {
    s1 = ch.Cn0L1;
    s.S1Sum += s1;
    ++s.S1Count;
  }
  if (Has(ch, kObsCn0L2) && ch.Cn0L2 > 0.0) {
    s2 = ch.Cn0L2;
    s.S2Sum += s2;
    ++s.S2Count;
  }

  // Geometry; the angles themselves only for the figure samples.
  const bool sampled = epoch_index % Stride == 0;
  Enu direction;
  bool has_direction = false;
  if (prn <= 32 && HasPosition) {
    double toe_time = 0.0;
    const EphemerisRecord* e = EphemerisFor(s, prn, t, &toe_time);
    if (e != nullptr) {
      const Enu d = ToLocal(Frame, s.Track.At(*e, toe_time, t, Position));
      ++out.WithAzEl;
      if (BelowElevation(d, SinMask)) ++out.BelowMask;
      direction = d;
      has_direction = true;
    }
  }

  // Combinations (GPS only).
  double mp1 = kNaN, mp2 = kNaN;
  if (prn <= 32 && has_l1) {
    if (s.ArcOpen && (lli || gap_since > kMaxArcGapSeconds)) CloseArc(s);
    if (!s.ArcOpen) OpenArc(s);
    const double l1 = -ch.L1, l2 = -ch.L2;  // the observation file's sign
    const bool has_p1 = Has(ch, kObsP1), has_c1 = Has(ch, kObsC1), has_p2 = Has(ch, kObsP2);
    const double code1 = has_p1 ? ch.P1 : ch.C1;
    // Code minus phase follows every epoch with L1 and a code, so that a
    // satellite that loses L2 for a while is compared with its latest epoch.
    const double cmp = code1 - kLambdaL1 * l1;
    if (has_l2 && (has_p1 || has_c1) && has_p2) {
      const double gf = kLambdaL1 * l1 - kLambdaL2 * l2;
      const double mw = (l1 - l2) - (kFreqL1 * code1 + kFreqL2 * ch.P2) /
                                        ((kFreqL1 + kFreqL2) * kLambdaWide);
      bool slip = false;
      if (s.GfCount > 0) {
        const double predicted = s.GfCount >= 2 ? 2.0 * s.Gf1 - s.Gf2 : s.Gf1;
        const double jump = gf - predicted;
        if (std::fabs(jump) > kGeometryFreeSlipMetres) {
          AddSlip(s, prn, t, kSlipGeometryFree, jump);
          slip = true;
        }
      }
      if (s.MwCount >= kMwMinEpochs) {
        const double sd = std::sqrt(s.MwM2 / static_cast<double>(s.MwCount - 1));
        const double jump = mw - s.MwMean;
        if (std::fabs(jump) > std::max(kMwSlipMinCycles, kMwSlipSigmas * sd)) {
          AddSlip(s, prn, t, kSlipMelbourneWuebbena, jump);
          slip = true;
        }
      }
      if (slip) {
        CloseArc(s);
        OpenArc(s);
      }
      s.Gf2 = s.Gf1;
      s.Gf1 = gf;
      ++s.GfCount;
      ++s.MwCount;
      const double delta = mw - s.MwMean;
      s.MwMean += delta / static_cast<double>(s.MwCount);
      s.MwM2 += delta * (mw - s.MwMean);

      const double a1 = 2.0 / (kAlpha - 1.0), a2 = 2.0 * kAlpha / (kAlpha - 1.0);
      mp1 = code1 - (1.0 + a1) * kLambdaL1 * l1 + a1 * kLambdaL2 * l2;
      mp2 = ch.P2 - a2 * kLambdaL1 * l1 + (a2 - 1.0) * kLambdaL2 * l2;
      s.Mp1.Add(mp1);
      s.Mp2.Add(mp2);
      s.HasCmp = true;
      s.Cmp = cmp;
    } else if (has_p1 || has_c1) {
      if (s.HasCmp && std::fabs(cmp - s.Cmp) > kCodeMinusPhaseSlipMetres) {
        AddSlip(s, prn, t, kSlipCodeMinusPhase, cmp - s.Cmp);
        CloseArc(s);
        OpenArc(s);
      }
      s.HasCmp = true;
      s.Cmp = cmp;
    }
  }

  if (sampled) {
    PendingSample pending;
    QcSample& sample = pending.Sample;
    sample.Prn = prn;
    sample.Time = t;
    sample.Azimuth = sample.Elevation = static_cast<float>(kNaN);
    sample.S1 = static_cast<float>(s1);
    sample.S2 = static_cast<float>(s2);
    // Multipath values stay relative to the arc's first value until the
    // arc mean is known.
    sample.Mp1 = static_cast<float>(std::isnan(mp1) ? kNaN : mp1 - s.Mp1.Ref);
    sample.Mp2 = static_cast<float>(std::isnan(mp2) ? kNaN : mp2 - s.Mp2.Ref);
    pending.Direction = direction;
    pending.HasDirection = has_direction;
    pending.Arc = std::isnan(mp1) && std::isnan(mp2) ? -1 : s.ArcId;
    pending.Epoch = epoch_index;
    Samples.push_back(pending);
  }
}

void QcObserver::State::CountRun(SatState& s) {
  static const uint32_t kBits[kQcObsTypes] = {kObsC1, kObsL1,  kObsL2,    kObsP1,
                                              kObsP2, kObsD1,  kObsCn0L1, kObsCn0L2};
  for (int i = 0; i < kQcObsTypes; ++i) {
    if (s.RunMask & kBits[i]) s.Out.Obs[i] += s.RunLength;
  }
  s.RunLength = 0;
}

// Keeps the samples of every second kept epoch.
void QcObserver::State::Thin() {
  const int64_t next = static_cast<int64_t>(Stride) * 2;
  size_t kept = 0;
  for (size_t i = 0; i < Samples.size(); ++i) {
    if (Samples[i].Epoch % next != 0) continue;
    Samples[kept] = Samples[i];
    ++kept;
  }
  Samples.resize(kept);
  Stride = static_cast<int>(next);
}

QcObserver::QcObserver(const QcOptions& options) : state_(new State(options.ElevationMask)) {
  state_->Options = options;
  // A mask at or above the zenith has everything below it.
  const double mask = options.ElevationMask;
  state_->SinMask = mask >= 90.0 ? 2.0 : mask <= -90.0 ? -2.0 : std::sin(mask / kDegPerRad);
}

QcObserver::~QcObserver() = default;

void QcObserver::SetEphemerides(const std::vector<EphemerisRecord>& records) {
  state_->Ephemerides.Set(records);
  for (SatState& s : state_->Sats) {
    s.Ephemeris = 0;
    s.Track = SatelliteTrack();
  }
  state_->Solver.SetEphemerides(records);
}

void QcObserver::SetStation(const QcMetadata& facts) {
  QcMetadata& m = state_->Station;
  m.HasHeaderPosition = facts.HasHeaderPosition;
  m.HeaderPosition = facts.HeaderPosition;
  m.ReceiverText = facts.ReceiverText;
  m.HeaderAntenna = facts.HeaderAntenna;
  m.Reference = facts.Reference;
}

void QcObserver::SetDataPosition(const DataPosition& position) {
  state_->Station.Data = position;
  state_->DataPositionGiven = true;
}

void QcObserver::SetPosition(const Vec3& ecef) {
  state_->Position = ecef;
  state_->Frame = MakeLocalFrame(ecef);
  state_->HasPosition = true;
  state_->PositionGiven = true;
}

void QcObserver::AddEpoch(const GpbEpoch& epoch, const GpbChannel* channels, int full_week) {
  State& st = *state_;
  const double t = full_week * kSecondsPerWeek + epoch.RcvTime;
  if (!std::isfinite(t) || (st.Present > 0 && !(t > st.Last))) {
    ++st.Skipped;
    return;
  }
  st.Ephemerides.Index(full_week);
  if (!st.HasPosition && (epoch.Flags & kEpochPositionValid) &&
      (epoch.Latitude != 0.0 || epoch.Longitude != 0.0) && std::isfinite(epoch.Latitude) &&
      std::isfinite(epoch.Longitude) && std::isfinite(epoch.Height)) {
    st.Position = GeodeticToEcef(epoch.Latitude, epoch.Longitude, epoch.Height);
    st.Frame = MakeLocalFrame(st.Position);
    st.HasPosition = true;
  }
  const double previous = st.Last;
  if (st.Present == 0) {
    st.First = t;
  } else {
    st.AddStep(t - st.Last);
  }
  const int64_t index = st.Present;
  ++st.Present;
  st.Last = t;
  const int n = channels == nullptr ? 0 : std::min<int>(std::max<int>(epoch.NumChannels, 0), kMaxChannels);
  for (int i = 0; i < n; ++i) st.AddChannel(channels[i], t, index, index > 0 ? previous : kNaN);
  if (!st.DataPositionGiven) st.Solver.AddEpoch(epoch, channels, full_week);
  // Past a stride beyond the epochs so far only the first epoch's samples
  // are left: thinning ends there whatever the limit.
  while (st.Samples.size() > st.Options.MaxSamples && st.Stride < st.Present) st.Thin();
}

void QcObserver::Finish(QcSummary* out) {
  State& st = *state_;
  *out = QcSummary();
  out->ElevationMask = st.Options.ElevationMask;
  out->HasPosition = st.HasPosition;
  out->Position = st.Position;
  out->EphemerisCount = static_cast<int>(st.Ephemerides.Records().size());
  out->Metadata = st.Station;
  if (!st.DataPositionGiven) out->Metadata.Data = st.Solver.Result();
  out->Metadata.HasEphemerides = !st.Ephemerides.Records().empty();
  CompareMetadata(&out->Metadata);
  out->PresentEpochs = st.Present;
  out->SkippedEpochs = st.Skipped;
  out->FirstTime = st.First;
  out->LastTime = st.Last;

  // Interval: the nominal one, else the step most epochs follow.
  double interval = st.Options.NominalInterval;
  if (!(interval > 0.0)) {
    interval = 0.0;
    int64_t best = 0;
    for (size_t i = 0; i < st.Runs.size(); ++i) {
      int64_t count = 0;
      for (const StepRun& r : st.Runs) {
        if (std::fabs(r.Step - st.Runs[i].Step) <= kStepToleranceSeconds) count += r.Count;
      }
      if (count > best) {
        best = count;
        interval = st.Runs[i].Step;
      }
    }
    const double whole = std::round(interval);
    if (whole > 0.0 && std::fabs(interval - whole) <= kStepToleranceSeconds) interval = whole;
  }
  out->Interval = interval;
  if (st.Present > 0) {
    out->ExpectedEpochs =
        interval > 0.0 ? static_cast<int64_t>(std::llround((st.Last - st.First) / interval)) + 1 : 1;
    if (out->ExpectedEpochs < 1) out->ExpectedEpochs = 1;
    out->CompletenessPercent =
        std::min(100.0, 100.0 * static_cast<double>(st.Present) / static_cast<double>(out->ExpectedEpochs));
  }
  if (interval > 0.0) {
    for (const StepRun& r : st.Runs) {
      if (!(r.Step > kGapFactor * interval)) continue;
      for (int64_t k = 0; k < r.Count; ++k) {
        ++out->GapCount;
        if (out->Gaps.size() >= kMaxListEntries) continue;
        QcGap g;
        g.Start = r.Start + static_cast<double>(k) * r.Step;
        g.End = g.Start + r.Step;
        g.MissingEpochs = std::llround(r.Step / interval) - 1;
        out->Gaps.push_back(g);
      }
    }
  }

  // Satellites.
  double mp1_dev = 0.0, mp2_dev = 0.0, s1_sum = 0.0, s2_sum = 0.0;
  for (int prn = 1; prn <= kMaxSatelliteNumber; ++prn) {
    SatState& s = st.Sats[prn];
    if (!s.Seen) continue;
    st.CloseArc(s);
    st.CountRun(s);
    QcSatellite sat = s.Out;
    if (sat.Mp1Count > 0) sat.Mp1Rms = std::sqrt(s.Mp1Dev / static_cast<double>(sat.Mp1Count));
    if (sat.Mp2Count > 0) sat.Mp2Rms = std::sqrt(s.Mp2Dev / static_cast<double>(sat.Mp2Count));
    if (s.S1Count > 0) sat.MeanS1 = s.S1Sum / static_cast<double>(s.S1Count);
    if (s.S2Count > 0) sat.MeanS2 = s.S2Sum / static_cast<double>(s.S2Count);
    for (int i = 0; i < kQcObsTypes; ++i) out->Obs[i] += sat.Obs[i];
    for (int k = 0; k < kQcSlipKinds; ++k) out->Slips[k] += sat.Slips[k];
    out->LossOfLock += sat.LossOfLock;
    out->Mp1Count += sat.Mp1Count;
    out->Mp2Count += sat.Mp2Count;
    mp1_dev += s.Mp1Dev;
    mp2_dev += s.Mp2Dev;
    s1_sum += s.S1Sum;
    s2_sum += s.S2Sum;
    out->S1Count += s.S1Count;
    out->S2Count += s.S2Count;
    out->WithAzEl += sat.WithAzEl;
    out->BelowMask += sat.BelowMask;
    if (prn <= 32 && st.HasPosition) out->WithoutEphemeris += sat.Epochs - sat.WithAzEl;
    out->Satellites.push_back(sat);
  }
  if (out->Mp1Count > 0) out->Mp1Rms = std::sqrt(mp1_dev / static_cast<double>(out->Mp1Count));
  if (out->Mp2Count > 0) out->Mp2Rms = std::sqrt(mp2_dev / static_cast<double>(out->Mp2Count));
  if (out->S1Count > 0) out->MeanS1 = s1_sum / static_cast<double>(out->S1Count);
  if (out->S2Count > 0) out->MeanS2 = s2_sum / static_cast<double>(out->S2Count);
  out->SlipList = st.SlipList;
  std::stable_sort(out->SlipList.begin(), out->SlipList.end(),
                   [](const QcSlip& a, const QcSlip& b) { return a.Time < b.Time; });

  // Samples: multipath relative to the arc mean now that it is known, and
  // Angles of the samples kept.
  out->SampleStride = st.Stride;
  out->Samples.reserve(st.Samples.size());
  for (const PendingSample& pending : st.Samples) {
    QcSample s = pending.Sample;
    if (pending.HasDirection) {
      double az = 0.0, el = 0.0;
      AzimuthElevation(pending.Direction, &az, &el);
      s.Azimuth = static_cast<float>(az);
      s.Elevation = static_cast<float>(el);
    }
    const ArcMeans m = pending.Arc >= 0 ? st.Arcs[static_cast<size_t>(pending.Arc)] : ArcMeans();
    s.Mp1 = static_cast<float>(std::isnan(m.Mean1) ? kNaN : s.Mp1 - m.Mean1);
    s.Mp2 = static_cast<float>(std::isnan(m.Mean2) ? kNaN : s.Mp2 - m.Mean2);
    out->Samples.push_back(s);
  }
}

}  // namespace qc
}  // namespace rawconv
