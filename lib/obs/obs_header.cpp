// Pre-scan of the GPB file and the RINEX observation header.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "ephem/epp.h"
#include "ephem/gps_time.h"
#include "gpb/gpb.h"
#include "obs/obs_writer.h"
#include "obs/rinex_format.h"
#include "obs/rinex_versions.h"
#include "obs/run_date.h"
#include "sink/sink.h"

namespace rawconv {
namespace {

// WGS 84 ellipsoid.
constexpr double kSemiMajorAxis = 6378137.0;
constexpr double kEccentricitySquared = 0.006694380066764658;
constexpr double kDegreesToRadians = 0.017453292519943295;

constexpr int kGpbBufferSize = 4096;

// One observation type of the header list: its name and whether the summary
// holds it. Table order is the order of the list and of the epoch values.
struct TypeEntry {
  const char* Name;
  int32_t ObsHeaderSummary::*Flag;
};

constexpr TypeEntry kTypes[8] = {
    {"C1", &ObsHeaderSummary::HasC1}, {"L1", &ObsHeaderSummary::HasL1},
    {"L2", &ObsHeaderSummary::HasL2}, {"P1", &ObsHeaderSummary::HasP1},
    {"P2", &ObsHeaderSummary::HasP2}, {"D1", &ObsHeaderSummary::HasD1},
    {"S1", &ObsHeaderSummary::HasS1}, {"S2", &ObsHeaderSummary::HasS2},
};
constexpr int kTypesRinex20 = 6;  // RINEX 2.0 has no S1/S2

// Marks the types present on one channel.
void NoteTypes(const GpbChannel& c, ObsHeaderSummary* s) {
  const double values[8] = {c.C1, c.L1, c.L2, c.P1, c.P2, c.D1, c.Cn0L1, c.Cn0L2};
  for (int i = 0; i < 8; ++i) {
    int32_t& flag = s->*kTypes[i].Flag;
    if (values[i] != 0.0 && flag == 0) {
      flag = 1;
      ++s->NumObsTypes;
    }
  }
}

// Adds the non-zero values of one channel to its satellite's counts.
void CountValues(const GpbChannel& c, int32_t* counts) {
  const double values[8] = {c.C1, c.L1, c.L2, c.P1, c.P2, c.D1, c.Cn0L1, c.Cn0L2};
  for (int i = 0; i < 8; ++i) counts[i] += values[i] != 0.0 ? 1 : 0;
}

// GLONASS L1 carrier of frequency channel k: 1602 MHz + k x 562.5 kHz.
constexpr double kSpeedOfLight = 299792458.0;
constexpr double kGlonassL1Base = 1602.0e6;
constexpr double kGlonassL1Step = 0.5625e6;
constexpr int kGlonassChannelMin = -7;
constexpr int kGlonassChannelMax = 6;
// A frequency channel is taken from a lock arc over which the pseudorange
// changed by at least this much, and only when the carrier it gives lies
// within a fifth of a channel step of a channel's carrier.
constexpr double kMinArcRangeChange = 2000.0;  // metres
constexpr double kMaxChannelResidual = 0.2;    // channel steps

// Finds the frequency channel of each GLONASS satellite from its data: over
// an arc of continuous L1 lock, the change of the L1 phase (cycles) over the
// change of the C1 pseudorange (metres) is f / c. The longest arc of each
// satellite decides.
class GlonassChannelFinder {
 public:
  void Add(const GpbChannel& c) {
    const int slot = GlonassSlot(c.Prn);
    if (slot == 0) return;
    Arc& arc = arcs_[slot];
    const double phase = 0.0 - c.L1;  // GPB phases carry the opposite sign
    if (c.C1 == 0.0 || c.L1 == 0.0 || !(c.LockTime1 > 0.0)) {
      arc.Open = false;
      return;
    }
    if (!arc.Open || !(c.LockTime1 > arc.LastLock)) {
      arc.Open = true;
      arc.StartRange = c.C1;
      arc.StartPhase = phase;
    } else {
      const double range_change = c.C1 - arc.StartRange;
      if (std::fabs(range_change) > std::fabs(arc.BestRangeChange)) {
        arc.BestRangeChange = range_change;
        arc.BestPhaseChange = phase - arc.StartPhase;
      }
    }
    arc.LastLock = c.LockTime1;
  }

  void Result(int8_t* frequency) const {
    frequency[0] = kGlonassFrequencyUnknown;
    for (int slot = 1; slot <= kGlonassSlots; ++slot) {
      frequency[slot] = kGlonassFrequencyUnknown;
      const Arc& arc = arcs_[slot];
      if (!(std::fabs(arc.BestRangeChange) >= kMinArcRangeChange)) continue;
      const double carrier = arc.BestPhaseChange / arc.BestRangeChange * kSpeedOfLight;
      const double steps = (carrier - kGlonassL1Base) / kGlonassL1Step;
      const double k = std::floor(steps + 0.5);
      if (k < kGlonassChannelMin || k > kGlonassChannelMax) continue;
      if (std::fabs(steps - k) > kMaxChannelResidual) continue;
      frequency[slot] = static_cast<int8_t>(k);
    }
  }

 private:
  struct Arc {
    bool Open = false;
    double LastLock = 0.0;
    double StartRange = 0.0;
    double StartPhase = 0.0;
    double BestRangeChange = 0.0;
    double BestPhaseChange = 0.0;
  };
  Arc arcs_[kGlonassSlots + 1];
};

// A text of the request, whole, padded to width columns.
void AppendRequestText(RinexBuffer* out, const std::string& text, int width) {
  AppendPadded(out, text.data(), text.size(), width, true);
}

// "TIME OF FIRST OBS" / "TIME OF LAST OBS" of RINEX 2.
void AppendObsTimeLine(RinexBuffer* out, const WeekReference& ref, double time, bool v21,
                       const char* label) {
  AppendObsTimeRecord(out, ref, time, v21 ? ObsTimeLayout::kRinex21 : ObsTimeLayout::kRinex20,
                      label);
}

constexpr int kCountsPerLine = 9;  // PRN / # OF OBS: nine counts to a line

}  // namespace

void GeodeticToEcef(double latitude_deg, double longitude_deg, double height, double* x,
                    double* y, double* z) {
  const double phi = latitude_deg * kDegreesToRadians;
  const double lambda = longitude_deg * kDegreesToRadians;
  const double e = std::sqrt(kEccentricitySquared);
  const double es = e * std::sin(phi);
  const double n = kSemiMajorAxis / std::sqrt(1.0 - es * es);
  *x = (n + height) * std::cos(phi) * std::cos(lambda);
  *y = (n + height) * std::cos(phi) * std::sin(lambda);
  *z = (n * (1.0 - kEccentricitySquared) + height) * std::sin(phi);
}

namespace {

// The running facts of the pre-scan over a run of kept epochs: the whole
// file, or one span of a split conversion. Finish turns them into the
// summary's remaining fields.
class SummaryBuilder {
 public:
  // glonass: find the GLONASS frequency channels (the whole file only).
  SummaryBuilder(ObsHeaderSummary* summary, bool glonass) : s_(summary) {
    if (glonass) glonass_.reset(new GlonassChannelFinder());
  }

  void Add(const GpbEpoch& epoch, const GpbChannel* channels) {
    ObsHeaderSummary* s = s_;
    if (count_ == 0) s->FirstObsTime = epoch.RcvTime;
    s->LastObsTime = epoch.RcvTime;
    if (epoch.NumChannels > 0) NoteTypes(channels[0], s);
    const int n = epoch.NumChannels < kMaxChannels ? epoch.NumChannels : kMaxChannels;
    for (int i = 0; i < n; ++i) {
      const int32_t prn = channels[i].Prn;
      if (prn >= 0 && prn <= kMaxSatelliteNumber) {
        if (!s->SatelliteSeen[prn]) {
          s->SatelliteSeen[prn] = 1;
          ++s->SatelliteCount;
        }
        CountValues(channels[i], s->ObsCounts[prn]);
      }
      if (channels[i].Prn > kGpsPrnMax) {
        s->HasGlonass = 1;
        if (glonass_) glonass_->Add(channels[i]);
      } else {
        s->HasGps = 1;
      }
    }
    // The empty position (0, 0) is no fix, whatever the flags say.
    if (epoch.Flags != 0 && epoch.NumChannels >= 4 &&
        !(epoch.Latitude == 0.0 && epoch.Longitude == 0.0)) {
      // A receiver that stays put reports the same position epoch after
      // epoch: its earth-centred position is worked out once.
      if (!have_geodetic_ || std::memcmp(&epoch.Latitude, &latitude_, sizeof latitude_) != 0 ||
          std::memcmp(&epoch.Longitude, &longitude_, sizeof longitude_) != 0 ||
          std::memcmp(&epoch.Height, &height_, sizeof height_) != 0) {
        latitude_ = epoch.Latitude;
        longitude_ = epoch.Longitude;
        height_ = epoch.Height;
        have_geodetic_ = true;
        GeodeticToEcef(latitude_, longitude_, height_, &x_, &y_, &z_);
      }
      sum_x_ += x_;
      sum_y_ += y_;
      sum_z_ += z_;
      ++positions_;
    }
    // The interval is the time from the second to the third epoch. A file
    // of two epochs takes their difference instead, and a file of one epoch
    // keeps 0, which the INTERVAL line shows as "     0" (2.0) or
    // "     0.000" (2.1): a reader sees at once that no interval is known.
    if (count_ == 1) {
      second_time_ = epoch.RcvTime;
      s->Interval = epoch.RcvTime - s->FirstObsTime;
    } else if (count_ == 2) {
      s->Interval = epoch.RcvTime - second_time_;
    }
    ++count_;
  }

  void Finish(const Selection* selection) {
    ObsHeaderSummary* s = s_;
    s->EpochCount = static_cast<int32_t>(count_);
    if (glonass_) glonass_->Result(s->GlonassFrequency);
    // Types the data holds, then those not kept leave the list.
    for (int i = 0; i < kObsTypeCount; ++i) {
      int32_t& flag = s->*kTypes[i].Flag;
      if (flag == 0) continue;
      s->PresentTypes |= 1u << i;
      if (selection != nullptr && !KeepType(*selection, i)) {
        flag = 0;
        --s->NumObsTypes;
      }
    }
    if (positions_ > 0) {
      s->ApproxX = sum_x_ / static_cast<double>(positions_);
      s->ApproxY = sum_y_ / static_cast<double>(positions_);
      s->ApproxZ = sum_z_ / static_cast<double>(positions_);
    }
    // Decimated data: the kept epochs lie on multiples of the step, give or
    // take the receiver's clock steering, so the measured gap (120.001) is
    // the step or a multiple of it (data sparser than the step).
    if (selection != nullptr && selection->Interval > 0.0 && s->Interval > 0.0) {
      const double steps = std::floor(s->Interval / selection->Interval + 0.5);
      s->Interval = (steps < 1.0 ? 1.0 : steps) * selection->Interval;
    }
  }

 private:
  ObsHeaderSummary* s_;
  std::unique_ptr<GlonassChannelFinder> glonass_;
  double sum_x_ = 0.0, sum_y_ = 0.0, sum_z_ = 0.0;
  long positions_ = 0;
  bool have_geodetic_ = false;  // the last position converted, and its result
  double latitude_ = 0.0, longitude_ = 0.0;
  float height_ = 0.0f;
  double x_ = 0.0, y_ = 0.0, z_ = 0.0;
  double second_time_ = 0.0;
  long count_ = 0;  // epochs added
};

// The pre-scan, with one summary per span when span_seconds > 0.
CheckResult Scan(const ObsInput& request, ObsHeaderSummary* summary, const WeekReference& ref,
                 const ObsEdits& edits, double span_seconds, std::vector<SpanSummary>* spans,
                 const ReadingPass* pass) {
  const ReadingPass no_pass;
  if (pass == nullptr) pass = &no_pass;
  std::memset(summary, 0, sizeof *summary);
  if (spans != nullptr) spans->clear();
  const Selection* selection =
      edits.Select != nullptr && !SelectsNothing(*edits.Select) ? edits.Select : nullptr;
  const bool split = spans != nullptr && span_seconds > 0.0;
  const double tolerance =
      selection != nullptr ? ClockTolerance(*selection) : kDefaultClockTolerance;
  const char* path = request.GpbFile.c_str();

  GpbClass reader;
  reader.SetReadAhead(pass->ReadAhead);
  reader.OpenGpbFile(path, kGpbBufferSize);  // a failed open reads no epochs

  char name[64] = "";
  reader.GetReceiverTypeName(name);
  // Name, one blank, description; cut to the field (only 20 columns are
  // ever written).
  const int written = std::snprintf(summary->ReceiverText, sizeof summary->ReceiverText, "%s %s",
                                    name, reader.ReceiverDescription());
  (void)written;

  CheckResult result = CheckOk();
  SummaryBuilder whole(summary, true);
  std::unique_ptr<SummaryBuilder> span;
  long read = 0;  // epochs read
  GpbEpoch read_epoch{};
  GpbChannel read_channels[kMaxChannels]{};
  GpbEpoch kept_epoch{};
  GpbChannel kept_channels[kMaxChannels]{};
  while (reader.ReadGpbEpoch(&read_epoch, read_channels) == 0) {
    if (read++ % kProgressEpochs == 0 && !pass->Report(reader.BytesUsed())) break;
    const GpbEpoch* kept = &read_epoch;
    const GpbChannel* channels = read_channels;
    int week = 0;
    if (selection != nullptr || split || pass->Observer != nullptr)
      week = request.UseGpsWeek ? request.GpsWeek : ReferenceWeekOf(ref, read_epoch.RcvTime);
    if (selection != nullptr) {
      if (!SelectEpoch(*selection, week, read_epoch, read_channels, &kept_epoch, kept_channels))
        continue;
      kept = &kept_epoch;
      channels = kept_channels;
    }
    whole.Add(*kept, channels);
    if (pass->Observer != nullptr) pass->Observer->Observe(*kept, channels, week);
    if (!split) continue;
    const int64_t index = SpanIndexOf(GpsSeconds(week, kept->RcvTime), span_seconds, tolerance);
    if (spans->empty() || index != spans->back().Index) {
      if (!spans->empty() && index < spans->back().Index) {
        result = CheckFailed("Epoch times go back (to %.3f s of week %d): the file cannot be split",
                             kept->RcvTime, week);
        break;
      }
      if (span) span->Finish(selection);
      spans->emplace_back();
      SpanSummary& next = spans->back();
      std::memset(&next.Summary, 0, sizeof next.Summary);
      next.Index = index;
      next.Start = static_cast<double>(index) * span_seconds;
      span.reset(new SummaryBuilder(&next.Summary, false));
    }
    span->Add(*kept, channels);
  }
  whole.Finish(selection);
  if (span) span->Finish(selection);
  if (split) {
    // Facts of the recording rather than of a span: the receiver, and the
    // GLONASS channels (a short span may not show them); a span of a single
    // epoch takes the interval of the whole.
    for (SpanSummary& s : *spans) {
      std::memcpy(s.Summary.ReceiverText, summary->ReceiverText, sizeof s.Summary.ReceiverText);
      std::memcpy(s.Summary.GlonassFrequency, summary->GlonassFrequency,
                  sizeof s.Summary.GlonassFrequency);
      if (s.Summary.EpochCount < 2) s.Summary.Interval = summary->Interval;
    }
  }
  reader.CloseGpbFile();
  return result;
}

}  // namespace

void ScanObsSummary(const ObsInput& request, ObsHeaderSummary* summary) {
  ScanObsSummary(request, summary, WeekReference{}, ObsEdits{});
}

void ScanObsSummary(const ObsInput& request, ObsHeaderSummary* summary,
                    const WeekReference& ref, const ObsEdits& edits, const ReadingPass* pass) {
  Scan(request, summary, ref, edits, 0.0, nullptr, pass);
}

int64_t SpanIndexOf(double gps_seconds, double span_seconds, double tolerance) {
  return static_cast<int64_t>(std::floor((gps_seconds + tolerance) / span_seconds));
}

CheckResult ScanObsSpans(const ObsInput& request, ObsHeaderSummary* summary,
                         const WeekReference& ref, const ObsEdits& edits, double span_seconds,
                         std::vector<SpanSummary>* spans, const ReadingPass* pass) {
  return Scan(request, summary, ref, edits, span_seconds, spans, pass);
}

WeekReference LookupWeekReference(const char* epp_file) {
  WeekReference ref{};
  int week = 0;
  double toe = 0.0;
  if (FindReferenceEphemeris(epp_file, &week, &toe) == 0) {
    ref.Found = 1;
    ref.Week = week;
    ref.Toe = toe;
  }
  return ref;
}

int ReferenceWeekOf(const WeekReference& ref, double time_of_week) {
  if (ref.FixedWeek) return ref.Week;
  return ResolveGpsWeek(ref.Week, ref.Toe, time_of_week);
}

EpochDate DateOfGpsTime(int week, double time_of_week) {
  // Week * 604800 + seconds since 1970 is near 1.6e9 s, where a double keeps
  // only about 2e-7 s: the fraction is added after the whole-second date.
  const double whole = std::floor(time_of_week);
  EpochDate d{};
  int hour = 0, minute = 0, month = 0, day = 0, year = 0;
  double seconds = 0.0;
  GpsToDate(week, whole, hour, minute, seconds, month, day, year);
  d.Year = year;
  d.Month = month;
  d.Day = day;
  d.Hour = hour;
  d.Minute = minute;
  d.Seconds = seconds + (time_of_week - whole);
  return d;
}

void AppendSatelliteCountLines(RinexBuffer* out, const ObsHeaderSummary& summary,
                               const bool* listed, bool rinex3, bool glonass_slots) {
  // RINEX 2 names every satellite as its epoch lines do (GPB number after
  // G or R, or the slot); RINEX 3 and slot naming only those with a RINEX
  // number, GPS before GLONASS.
  const bool by_slot = rinex3 || glonass_slots;
  auto named = [&](int prn) {
    if (!summary.SatelliteSeen[prn]) return false;
    return !by_slot || (prn >= 1 && prn <= kGpsPrnMax + kGlonassSlots);
  };
  int satellites = 0;
  for (int prn = 0; prn <= kMaxSatelliteNumber; ++prn) satellites += named(prn) ? 1 : 0;
  AppendInt(out, satellites, 6);
  AppendBlanks(out, 54);
  AppendLabel(out, kLabelSatelliteCount);
  for (int prn = 0; prn <= kMaxSatelliteNumber; ++prn) {
    if (!named(prn)) continue;
    const bool glonass = prn > kGpsPrnMax;
    char name[16];
    if (rinex3) {
      std::snprintf(name, sizeof name, "   %c%02d", glonass ? 'R' : 'G',
                    glonass ? GlonassSlot(prn) : prn);
    } else {
      std::snprintf(name, sizeof name, "   %c%2d", glonass ? 'R' : 'G',
                    glonass && glonass_slots ? GlonassSlot(prn) : prn);
    }
    AppendText(out, name);
    int on_line = 0;
    for (int i = 0; i < kObsTypeCount; ++i) {
      if (!listed[i]) continue;
      if (on_line == kCountsPerLine) {  // continuation: 6 blanks, nine more counts
        AppendBlanks(out, 60 - 6 - 6 * on_line);
        AppendLabel(out, kLabelPrnObsCount);
        AppendBlanks(out, 6);
        on_line = 0;
      }
      AppendInt(out, summary.ObsCounts[prn][i], 6);
      ++on_line;
    }
    AppendBlanks(out, 60 - static_cast<int>(std::strlen(name)) - 6 * on_line);
    AppendLabel(out, kLabelPrnObsCount);
  }
}

void AppendObsTimeRecord(RinexBuffer* out, const WeekReference& ref, double time,
                         ObsTimeLayout layout, const char* label) {
  const EpochDate d = DateOfGpsTime(ReferenceWeekOf(ref, time), time);
  AppendInt(out, d.Year, 6);
  AppendInt(out, d.Month, 6);
  AppendInt(out, d.Day, 6);
  AppendInt(out, d.Hour, 6);
  AppendInt(out, d.Minute, 6);
  switch (layout) {
    case ObsTimeLayout::kRinex20:
      AppendFixed(out, d.Seconds, kFmtFirstObsSec20);
      AppendBlanks(out, 18);
      break;
    case ObsTimeLayout::kRinex21:
      AppendFixed(out, d.Seconds, kFmtFirstObsSec21);
      AppendBlanks(out, 17);
      break;
    case ObsTimeLayout::kRinex3:
      AppendFixed(out, d.Seconds, kFmtFirstObsSec21);  // F13.7
      AppendBlanks(out, 5);
      AppendText(out, kObsTimeSystemGps);
      AppendBlanks(out, 9);
      break;
  }
  AppendLabel(out, label);
}

int WriteObsHeader(std::FILE* stream, const ObsInput& request,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref,
                   const ObsEdits* edits, const RunClock& clock) {
  StdioSink sink(stream);
  return WriteObsHeader(sink, request, summary, rinex_version, ref, edits, clock);
}

int WriteObsHeader(Sink& sink, const ObsInput& request, const ObsHeaderSummary& summary,
                   int rinex_version, const WeekReference& ref, const ObsEdits* edits,
                   const RunClock& clock) {
  const HeaderMetadata* metadata = edits != nullptr ? edits->Metadata : nullptr;
  const bool full = edits != nullptr && edits->FullHeader != 0;
  const bool v21 = UsesRinex21Records(rinex_version);
  const bool slots = edits != nullptr && edits->GlonassSlots != 0;
  RinexBuffer buffer;
  RinexBuffer* out = &buffer;
  RinexBufferInit(out, &sink, edits != nullptr && edits->ReferenceFormatting != 0);

  // RINEX VERSION / TYPE
  if (v21) {
    AppendFixed(out, rinex_version == kRinex211 ? RinexVersionNumber(kRinex211) : 2.1,
                kFmtVersion21);
    AppendBlanks(out, 11);
  } else {
    AppendInt(out, 2, 6);
    AppendBlanks(out, 14);
  }
  AppendText(out, slots && summary.HasGlonass ? kObsTypeTextMixed : kObsTypeText);
  AppendLabel(out, kLabelVersionType);

  // PGM / RUN BY / DATE
  char date[128] = "";
  if (FormatRunDate(date, clock) != 0) {
    RinexFlush(out);
    return 1;
  }
  AppendLeft(out, kProgramText, kLabelColumns);
  AppendRequestText(out, request.RunBy, kLabelColumns);
  AppendPadded(out, date, BoundedLength(date, kRunDateColumns), kLabelColumns, true);
  AppendLabel(out, kLabelPgmRunByDate);
  AppendMetadataComments(out, metadata);

  // MARKER NAME: the name in the record's 60 columns (a name of up to 20
  // characters gives the same bytes as 20 columns and 40 blanks; a longer
  // one that fits no longer pushes the label out of place; one over 60 is
  // still written whole).
  AppendRequestText(out, request.MarkerName, 3 * kLabelColumns);
  AppendLabel(out, kLabelMarkerName);
  AppendMarkerNumber(out, metadata);

  // OBSERVER / AGENCY
  AppendRequestText(out, request.Observer, kLabelColumns);
  AppendRequestText(out, request.Agency, 2 * kLabelColumns);
  AppendLabel(out, kLabelObserverAgency);

  AppendReceiverLine(out, metadata, summary.ReceiverText, kReceiverColumns);
  AppendAntennaLine(out, metadata);
  AppendPositionLine(out, metadata, summary.ApproxX, summary.ApproxY, summary.ApproxZ);
  AppendAntennaDeltaLine(out, metadata, request.AntHeight);

  // WAVELENGTH FACT L1/2
  AppendInt(out, 1, 6);
  AppendInt(out, 1, 6);
  AppendBlanks(out, 6 + 42);
  AppendLabel(out, kLabelWavelength);

  // # / TYPES OF OBSERV: always 80 columns
  const int considered = v21 ? 8 : kTypesRinex20;
  int listed = 0;
  for (int i = 0; i < considered; ++i) listed += (summary.*kTypes[i].Flag) ? 1 : 0;
  AppendInt(out, listed, kTypeColumns);
  for (int i = 0; i < considered; ++i) {
    if (summary.*kTypes[i].Flag) AppendRight(out, kTypes[i].Name, kTypeColumns);
  }
  AppendBlanks(out, kTypeColumns * (kMaxTypesListed - listed));
  AppendLabel(out, kLabelObsTypes);

  // INTERVAL (0 for a file of a single epoch)
  if (v21) {
    AppendFixed(out, summary.Interval, kFmtInterval21);
    AppendBlanks(out, 50);
  } else {
    AppendFixed(out, summary.Interval, kFmtInterval20);
    AppendBlanks(out, 54);
  }
  AppendLabel(out, kLabelInterval);

  // TIME OF FIRST OBS: week from the ephemeris reference, not the override
  AppendObsTimeLine(out, ref, summary.FirstObsTime, v21, kLabelFirstObs);

  // Full header: TIME OF LAST OBS (same layout), # OF SATELLITES,
  // PRN / # OF OBS for the listed types.
  if (full) {
    AppendObsTimeLine(out, ref, summary.LastObsTime, v21, kLabelLastObs);
    bool listed_types[kObsTypeCount];
    for (int i = 0; i < kObsTypeCount; ++i)
      listed_types[i] = i < considered && (summary.*kTypes[i].Flag) != 0;
    AppendSatelliteCountLines(out, summary, listed_types, false, slots);
  }

  // END OF HEADER
  AppendBlanks(out, 60);
  AppendLabel(out, kLabelEndOfHeader);

  RinexFlush(out);
  return 0;
}

}  // namespace rawconv
