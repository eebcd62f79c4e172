// The epoch records of the RINEX observation file, with the new-site blocks
// of the station file and the kinematic start/end events.
#include <cstdio>
#include <cstring>

#include "api/context.h"
#include "gpb/gpb.h"
#include "obs/obs_writer.h"
#include "obs/rinex_format.h"
#include "obs/station_table.h"

namespace rawconv {
namespace {

constexpr int kGpbBufferSize = 4096;
constexpr uint32_t kLockBitL1 = kObsLock1;  // 0x0008
constexpr uint32_t kLockBitL2 = kObsLock2;  // 0x0100

// " yy mm dd hh mm ss.sssssss": the date part of an epoch or event line.
void AppendEpochDate(RinexBuffer* out, const EpochDate& d) {
  char year[16];
  std::snprintf(year, sizeof year, "%d", d.Year);
  // The last two digits of the four-digit year, as text.
  const size_t length = std::strlen(year);
  AppendText(out, " ");
  AppendBytes(out, length >= 2 ? year + length - 2 : year, length >= 2 ? 2 : length);
  AppendText(out, " ");
  AppendInt(out, d.Month, 2);
  AppendText(out, " ");
  AppendInt(out, d.Day, 2);
  AppendText(out, " ");
  AppendInt(out, d.Hour, 2);
  AppendText(out, " ");
  AppendInt(out, d.Minute, 2);
  AppendText(out, " ");
  AppendFixed(out, d.Seconds, kFmtEpochSec);
}

// The satellites of channels [first, last), at most 12: "Gnn", or "Rnn"
// above 32 (the number unchanged), padded to 36 columns.
void AppendSatelliteList(RinexBuffer* out, const GpbChannel* channels, int first, int last) {
  char list[kSatsPerLine * 8];  // a satellite takes at most 5 characters ("G-128")
  size_t used = 0;
  list[0] = '\0';
  for (int i = first; i < last && used < sizeof list; ++i) {
    const int prn = channels[i].Prn;
    int n = std::snprintf(list + used, sizeof list - used, "%c%2d", prn > kGpsPrnMax ? 'R' : 'G',
                          prn);
    if (n < 0) break;
    used += static_cast<size_t>(n);
  }
  if (used >= sizeof list) used = sizeof list - 1;
  AppendPadded(out, list, used, kSatListColumns, true);
}

// Epoch line with its satellite list; satellites 13 to 24 go on a
// continuation line starting in column 33.
void AppendEpochLine(RinexBuffer* out, const EpochDate& date, const GpbEpoch& epoch,
                     const GpbChannel* channels) {
  int n = epoch.NumChannels;
  if (n < 0) n = 0;
  if (n > kMaxChannels) n = kMaxChannels;
  AppendEpochDate(out, date);
  AppendInt(out, kEpochFlagOk, 3);
  AppendInt(out, epoch.NumChannels, 3);
  AppendSatelliteList(out, channels, 0, n < kSatsPerLine ? n : kSatsPerLine);
  AppendNewline(out);
  if (n > kSatsPerLine) {
    AppendBlanks(out, kContinuationIndent);
    AppendSatelliteList(out, channels, kSatsPerLine, n);
    AppendNewline(out);
  }
}

// One observation value in 16 columns: the value cut to 14 columns, then the
// loss-of-lock digit or a blank, then the (always blank) strength column.
void AppendValue(RinexBuffer* out, double value, bool loss_of_lock) {
  char field[kFixedFieldMax];
  size_t length = FormatFixed(value, kFmtObsValue, field, sizeof field);
  if (length > kObsValueColumns) length = kObsValueColumns;
  AppendBytes(out, field, length);
  AppendText(out, loss_of_lock ? "1 " : "  ");
}

// A copy of the epoch just written, for the continuity test of the next one.
struct PreviousEpoch {
  GpbEpoch Epoch;
  GpbChannel Channels[kMaxChannels];
};

// True when a satellite of the epoch was in the previous epoch with a
// smaller L1 lock time: tracked without interruption across the two.
bool TrackedAcross(const GpbEpoch& epoch, const GpbChannel* channels, const GpbEpoch& previous,
                   const GpbChannel* previous_channels) {
  const int n = epoch.NumChannels < kMaxChannels ? epoch.NumChannels : kMaxChannels;
  const int m = previous.NumChannels < kMaxChannels ? previous.NumChannels : kMaxChannels;
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < m; ++k) {
      if (previous_channels[k].Prn == channels[i].Prn &&
          previous_channels[k].LockTime1 < channels[i].LockTime1)
        return true;
    }
  }
  return false;
}

}  // namespace

void WriteObsValues(const GpbChannel& channel, RinexBuffer* out, const ObsHeaderSummary& summary,
                    int rinex_version) {
  const bool v21 = rinex_version == RINEX_VERSION_2_1;
  // Phases are stored with the opposite sign; 0.0 - x keeps an absent 0.0
  // from turning into -0.000.
  struct Value {
    bool Selected;
    double Number;
    bool LossOfLock;
  };
  const Value values[8] = {
      {summary.HasC1 != 0, channel.C1, false},
      {summary.HasL1 != 0, 0.0 - channel.L1,
       (channel.ObsMask & kLockBitL1) != 0 && !(channel.LockTime1 > 0.0)},
      {summary.HasL2 != 0, 0.0 - channel.L2,
       (channel.ObsMask & kLockBitL2) != 0 && !(channel.LockTime2 > 0.0)},
      {summary.HasP1 != 0, channel.P1, false},
      {summary.HasP2 != 0, channel.P2, false},
      {summary.HasD1 != 0, channel.D1, false},
      {v21 && summary.HasS1 != 0, channel.Cn0L1, false},
      {v21 && summary.HasS2 != 0, channel.Cn0L2, false},
  };
  int on_line = 0;
  for (int i = 0; i < 8; ++i) {
    if (!values[i].Selected) continue;
    if (i == 0) {
      // C1 is written whole, however wide.
      AppendFixed(out, values[i].Number, kFmtObsValue);
      AppendText(out, "  ");
    } else {
      AppendValue(out, values[i].Number, values[i].LossOfLock);
    }
    if (++on_line == kValuesPerLine) {
      AppendNewline(out);
      on_line = 0;
    }
  }
  if (on_line > 0) AppendNewline(out);
}

int CheckKinematicEvent(const GpbEpoch& epoch, const GpbChannel* channels,
                        const GpbEpoch& previous, const GpbChannel* previous_channels,
                        KinematicState* state, int* count, char* text) {
  text[0] = '\0';
  *count = 0;
  int flag = 0;
  const bool kinematic = (epoch.Flags & kEpochKinematic) != 0;
  if (kinematic && *state == kStatic) {
    flag = kEpochFlagKinematicStart;
    *state = kKinematic;
  } else if (!kinematic && *state == kKinematic) {
    flag = kEpochFlagNewSite;
    *state = kStatic;
  }
  if (flag == 0) return 0;
  if (epoch.NumChannels < 1 || !TrackedAcross(epoch, channels, previous, previous_channels))
    return 0;
  if (flag == kEpochFlagKinematicStart) {
    std::snprintf(text, kKinematicTextSize, "%-60s%-20s\n", kKinematicStartText, kLabelComment);
    *count = 1;
  } else {
    std::snprintf(text, kKinematicTextSize, "%-60s%-20s\n%-60s%-20s\n%-60s%-20s\n",
                  kKinematicEndMarker, kLabelMarkerName, "", kLabelAntennaDelta,
                  kKinematicEndText, kLabelComment);
    *count = 3;
  }
  return flag;
}

void WriteStationEvent(RinexBuffer* out, double rcv_time, const StationTable& table) {
  StationEvent event;
  if (!table.Find(rcv_time, &event)) return;
  AppendInt(out, kEpochFlagNewSite, 29);
  AppendInt(out, kNewSiteRecordCount, 3);
  AppendNewline(out);
  AppendPadded(out, event.Name, BoundedLength(event.Name, sizeof event.Name), 60, true);
  AppendLabel(out, kLabelMarkerName);
  AppendFixed(out, event.AntennaHeight, kFmtPosition);
  AppendFixed(out, 0.0, kFmtPosition);
  AppendFixed(out, 0.0, kFmtPosition);
  AppendBlanks(out, 18);
  AppendText(out, kLabelAntennaDelta);
  AppendNewline(out);
  AppendPadded(out, event.Comment1, BoundedLength(event.Comment1, sizeof event.Comment1), 60,
               true);
  AppendLabel(out, kLabelComment);
  AppendPadded(out, event.Comment2, BoundedLength(event.Comment2, sizeof event.Comment2), 60,
               true);
  AppendLabel(out, kLabelComment);
}

int WriteObsEpochs(std::FILE* stream, const ObsRequest& request, const NavRequest& saved_nav,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref) {
  (void)saved_nav;
  char path[sizeof request.GpbFile + 1];
  std::snprintf(path, sizeof path, "%.*s",
                static_cast<int>(BoundedLength(request.GpbFile, sizeof request.GpbFile)),
                request.GpbFile);

  // Station events: read once before the first epoch; never fails the call.
  StationTable stations;
  stations.Load(path);

  GpbClass reader;
  reader.OpenGpbFile(path, 0, kGpbBufferSize, GIO_READ, 0);  // a failed open reads no epochs

  RinexBuffer buffer;
  RinexBuffer* out = &buffer;
  RinexBufferInit(out, stream);
  PreviousEpoch previous_epoch{};  // before the first epoch: no channels
  PreviousEpoch* previous = &previous_epoch;
  KinematicState state = kStatic;
  char event_text[kKinematicTextSize];
  GpbEpoch epoch{};
  GpbChannel channels[kMaxChannels]{};
  while (reader.ReadGpbEpoch(&epoch, channels) == 0) {
    const int week = Ctx().UseGpsWeek ? Ctx().GpsWeek : ReferenceWeekOf(ref, epoch.RcvTime);
    const EpochDate date = DateOfGpsTime(week, epoch.RcvTime);

    WriteStationEvent(out, epoch.RcvTime, stations);

    int count = 0;
    const int flag = CheckKinematicEvent(epoch, channels, previous->Epoch, previous->Channels,
                                         &state, &count, event_text);
    if (flag == kEpochFlagKinematicStart) {
      AppendEpochDate(out, date);
      AppendInt(out, flag, 3);
      AppendInt(out, count, 3);
      AppendNewline(out);
      AppendText(out, event_text);
    } else if (flag == kEpochFlagNewSite) {
      AppendInt(out, flag, 29);
      AppendInt(out, count, 3);
      AppendNewline(out);
      AppendText(out, event_text);
    }

    AppendEpochLine(out, date, epoch, channels);
    const int n = epoch.NumChannels < kMaxChannels ? epoch.NumChannels : kMaxChannels;
    for (int i = 0; i < n; ++i) WriteObsValues(channels[i], out, summary, rinex_version);

    previous->Epoch = epoch;
    if (n > 0) std::memcpy(previous->Channels, channels, sizeof(GpbChannel) * static_cast<size_t>(n));
  }
  RinexFlush(out);
  reader.CloseGpbFile();
  stations.Release();
  return 0;
}

}  // namespace rawconv
