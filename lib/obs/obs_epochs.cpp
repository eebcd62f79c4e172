// The epoch records of the RINEX observation file, with the new-site blocks
// of the station file and the kinematic start/end events.
#include <cstdio>
#include <cstring>
#include <memory>

#include "obs/rinex_versions.h"
#include "gpb/gpb.h"
#include "obs/obs_writer.h"
#include "obs/rinex_format.h"
#include "obs/station_table.h"
#include "select/selection.h"
#include "sink/sink.h"

namespace rawconv {
namespace {

constexpr int kGpbBufferSize = 4096;
constexpr uint32_t kLockBitL1 = kObsLock1;  // 0x0008
constexpr uint32_t kLockBitL2 = kObsLock2;  // 0x0100

// Room reserved for one epoch line (date, counts, up to 24 satellites on
// two lines) and for one satellite's value lines: every numeric field may
// take kFixedFieldMax bytes while it is written.
constexpr size_t kEpochLineRoom = 1024;
constexpr size_t kSatelliteRoom = 1024;

char* PutBlank(char* p) {
  *p = ' ';
  return p + 1;
}

// value as "%2ld" at p (the dates' parts and satellite numbers); returns the
// length. 0..99 straight from the digit table.
size_t PutTwoColumns(const RinexBuffer& out, char* p, long value) {
  if (value < 0 || value > 99 || out.Reference) return PutInt(out, p, value, 2);
  const uint32_t text = kFourDigitTable.Text[value] >> 16;  // the last two digits
  p[0] = value < 10 ? ' ' : static_cast<char>(text & 0xFF);
  p[1] = static_cast<char>(text >> 8);
  return 2;
}

// " yy mm dd hh mm ss.sssssss": the date part of an epoch or event line,
// written at p; returns the end.
char* PutEpochDate(const RinexBuffer& out, char* p, const EpochDate& d) {
  char year[kFixedFieldMax];
  const size_t length = PutInt(out, year, d.Year, 0);
  // The last two digits of the four-digit year, as text.
  p = PutBlank(p);
  const size_t take = length >= 2 ? 2 : length;
  std::memcpy(p, year + length - take, take);
  p += take;
  const int32_t parts[4] = {d.Month, d.Day, d.Hour, d.Minute};
  for (int32_t part : parts) {
    p = PutBlank(p);
    p += PutTwoColumns(out, p, part);
  }
  p = PutBlank(p);
  return p + PutFixed(out, p, d.Seconds, kFmtEpochSec);
}

void AppendEpochDate(RinexBuffer* out, const EpochDate& d) {
  char* start = RinexReserve(out, kEpochLineRoom);
  out->Length += static_cast<size_t>(PutEpochDate(*out, start, d) - start);
}

// The satellites of channels [first, last), at most 12: "Gnn", or "Rnn"
// above 32 (the number unchanged, or the GLONASS slot with glonass_slots),
// padded to 36 columns; written at p.
char* PutSatelliteList(const RinexBuffer& out, char* p, const GpbChannel* channels, int first,
                       int last, bool glonass_slots) {
  char* const start = p;
  for (int i = first; i < last; ++i) {
    const int prn = channels[i].Prn;
    const bool glonass = prn > kGpsPrnMax;
    *p++ = glonass ? 'R' : 'G';
    p += PutTwoColumns(out, p, glonass && glonass_slots ? GlonassSlot(prn) : prn);
  }
  const size_t used = static_cast<size_t>(p - start);
  if (used < kSatListColumns) {
    std::memset(p, ' ', kSatListColumns - used);
    p += kSatListColumns - used;
  }
  return p;
}

// Epoch line with its satellite list; satellites 13 to 24 go on a
// continuation line starting in column 33.
// Returns the bytes appended.
size_t AppendEpochLine(RinexBuffer* out, const EpochDate& date, const GpbEpoch& epoch,
                       const GpbChannel* channels, bool glonass_slots) {
  int n = epoch.NumChannels;
  if (n < 0) n = 0;
  if (n > kMaxChannels) n = kMaxChannels;
  char* const start = RinexReserve(out, kEpochLineRoom);
  char* p = PutEpochDate(*out, start, date);
  p += PutInt(*out, p, kEpochFlagOk, 3);
  p += PutInt(*out, p, epoch.NumChannels, 3);
  p = PutSatelliteList(*out, p, channels, 0, n < kSatsPerLine ? n : kSatsPerLine, glonass_slots);
  *p++ = '\n';
  if (n > kSatsPerLine) {
    std::memset(p, ' ', kContinuationIndent);
    p += kContinuationIndent;
    p = PutSatelliteList(*out, p, channels, kSatsPerLine, n, glonass_slots);
    *p++ = '\n';
  }
  out->Length += static_cast<size_t>(p - start);
  return static_cast<size_t>(p - start);
}

// One epoch with its channels. The loop reads into one of two and keeps the
// other as the previous epoch for the continuity test, swapping them after
// each epoch instead of copying.
struct EpochSlot {
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

namespace {

// The types written for each satellite, in the order C1 L1 L2 P1 P2 D1 S1
// S2 (S1 S2 only in RINEX 2.1): worked out once per file, not per value.
struct ObsTypeList {
  int Count;
  int Index[8];
};

ObsTypeList SelectedTypes(const ObsHeaderSummary& summary, int rinex_version) {
  const bool v21 = UsesRinex21Records(rinex_version);
  const bool selected[8] = {summary.HasC1 != 0,        summary.HasL1 != 0, summary.HasL2 != 0,
                            summary.HasP1 != 0,        summary.HasP2 != 0, summary.HasD1 != 0,
                            v21 && summary.HasS1 != 0, v21 && summary.HasS2 != 0};
  ObsTypeList list{};
  for (int i = 0; i < 8; ++i) {
    if (selected[i]) list.Index[list.Count++] = i;
  }
  return list;
}

// What a writer that hands on its values keeps of one satellite's fields:
// each value in thousandths and its two flag characters. exact turns false
// when a field was not formatted by the fast path (its text then has to be
// read back).
struct ValueCapture {
  int64_t* Thousandths;
  char* Flags;
  bool* Exact;
};

// The eight fields of a channel as the file gives them, in the order C1 L1
// L2 P1 P2 D1 S1 S2, with their loss-of-lock characters.
struct ChannelFields {
  double Values[8];
  char Lost[8];
};

ChannelFields FieldsOf(const GpbChannel& channel) {
  // Phases are stored with the opposite sign; 0.0 - x keeps an absent 0.0
  // from turning into -0.000.
  ChannelFields f{{channel.C1, 0.0 - channel.L1, 0.0 - channel.L2, channel.P1, channel.P2,
                   channel.D1, channel.Cn0L1, channel.Cn0L2},
                  {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}};
  if ((channel.ObsMask & kLockBitL1) != 0 && !(channel.LockTime1 > 0.0)) f.Lost[1] = '1';
  if ((channel.ObsMask & kLockBitL2) != 0 && !(channel.LockTime2 > 0.0)) f.Lost[2] = '1';
  return f;
}

// What WriteObsLines hands on of one satellite, without its text: false
// when a field is not one the fast path formats (the text must then be
// written, and read back).
bool CaptureObsValues(const GpbChannel& channel, const ObsTypeList& types, int64_t* thousandths,
                      char* flags) {
  const ChannelFields f = FieldsOf(channel);
  for (int k = 0; k < types.Count; ++k) {
    const int i = types.Index[k];
    if (!ObsThousandths(f.Values[i], &thousandths[k])) return false;
    flags[2 * k] = f.Lost[i];
    flags[2 * k + 1] = ' ';
  }
  return true;
}

// Every value goes straight into the buffer: C1 whole, however wide; the
// others cut to 14 columns, then the loss-of-lock digit or a blank and the
// (always blank) strength column; five values to a line. Returns the bytes
// appended.
size_t WriteObsLines(const GpbChannel& channel, const ObsTypeList& types, RinexBuffer* out,
                     const ValueCapture* capture = nullptr) {
  const ChannelFields f = FieldsOf(channel);
  const double* const values = f.Values;
  const char* const lost = f.Lost;
  const bool reference = out->Reference != 0;
  char* const start = RinexReserve(out, kSatelliteRoom);
  char* p = start;
  for (int k = 0; k < types.Count; ++k) {
    const int i = types.Index[k];
    if (!reference &&
        PutObsColumns(values[i], p, capture != nullptr ? &capture->Thousandths[k] : nullptr)) {
      p += kObsValueColumns;
    } else {
      size_t length = PutObsValue(*out, p, values[i]);
      if (i != 0 && length > kObsValueColumns) length = kObsValueColumns;
      p += length;
      if (capture != nullptr) *capture->Exact = false;
    }
    if (capture != nullptr) {
      capture->Flags[2 * k] = lost[i];
      capture->Flags[2 * k + 1] = ' ';
    }
    p[0] = lost[i];
    p[1] = ' ';
    p += 2;
    if (k == kValuesPerLine - 1) *p++ = '\n';
  }
  if (types.Count % kValuesPerLine != 0) *p++ = '\n';
  out->Length += static_cast<size_t>(p - start);
  return static_cast<size_t>(p - start);
}

}  // namespace

void WriteObsValues(const GpbChannel& channel, RinexBuffer* out, const ObsHeaderSummary& summary,
                    int rinex_version) {
  WriteObsLines(channel, SelectedTypes(summary, rinex_version), out);
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

void AppendStationRecords(RinexBuffer* out, const StationEvent& event, int max_text) {
  auto text = [&](const char* value, size_t size, int width) {
    size_t length = BoundedLength(value, size);
    if (max_text > 0 && length > static_cast<size_t>(max_text)) length = static_cast<size_t>(max_text);
    AppendPadded(out, value, length, width, true);
  };
  text(event.Name, sizeof event.Name, 60);
  AppendLabel(out, kLabelMarkerName);
  AppendFixed(out, event.AntennaHeight, kFmtPosition);
  AppendFixed(out, 0.0, kFmtPosition);
  AppendFixed(out, 0.0, kFmtPosition);
  AppendBlanks(out, 18);
  AppendText(out, kLabelAntennaDelta);
  AppendNewline(out);
  text(event.Comment1, sizeof event.Comment1, 60);
  AppendLabel(out, kLabelComment);
  text(event.Comment2, sizeof event.Comment2, 60);
  AppendLabel(out, kLabelComment);
}

namespace {

// RINEX 2 event line without a date: 28 blanks, the flag, the count.
void AppendUndatedEventLine(RinexBuffer* out, int flag, int count) {
  AppendInt(out, flag, 29);
  AppendInt(out, count, 3);
  AppendNewline(out);
}

// The RINEX 2 writer of the epoch stream.
class Rinex2EpochWriter final : public EpochRecordWriter {
 public:
  Rinex2EpochWriter(Sink& sink, const ObsHeaderSummary& summary, int rinex_version,
                    bool glonass_slots, bool reference)
      : types_(SelectedTypes(summary, rinex_version)),
        glonass_slots_(glonass_slots),
        sink_(sink),
        hand_values_(sink.WantsValues()),
        values_only_(hand_values_ && sink.ValuesReplaceRecords() && !reference) {
    RinexBufferInit(&out_, &sink, reference);
  }

  void StationBlock(const EpochDate&, const StationEvent& event) override {
    AppendUndatedEventLine(&out_, kEpochFlagNewSite, kNewSiteRecordCount);
    AppendStationRecords(&out_, event, 0);
  }

  void KinematicEvent(const EpochDate& date, int flag, int count, const char* text) override {
    if (flag == kEpochFlagKinematicStart) {
      AppendEpochDate(&out_, date);
      AppendInt(&out_, flag, 3);
      AppendInt(&out_, count, 3);
      AppendNewline(&out_);
    } else {
      AppendUndatedEventLine(&out_, flag, count);
    }
    AppendText(&out_, text);
  }

  void Epoch(const EpochDate& date, const GpbEpoch& epoch, const GpbChannel* channels) override {
    if (glonass_slots_) {
      // Named by slot: satellites without a RINEX number are left out.
      const int n = epoch.NumChannels < kMaxChannels ? epoch.NumChannels : kMaxChannels;
      int kept = 0;
      for (int i = 0; i < n; ++i) {
        const int prn = channels[i].Prn;
        if (prn >= 1 && (prn <= kGpsPrnMax || GlonassSlot(prn) != 0)) kept_[kept++] = channels[i];
      }
      if (kept != n) {
        GpbEpoch copy = epoch;
        copy.NumChannels = kept;
        WriteEpoch(date, copy, kept_);
        return;
      }
    }
    WriteEpoch(date, epoch, channels);
  }

  void Flush() override { RinexFlush(&out_); }

 private:
  void WriteEpoch(const EpochDate& date, const GpbEpoch& epoch, const GpbChannel* channels) {
    if (hand_values_) {
      WriteEpochWithValues(date, epoch, channels);
      return;
    }
    AppendEpochLine(&out_, date, epoch, channels, glonass_slots_);
    const int n = epoch.NumChannels < kMaxChannels ? epoch.NumChannels : kMaxChannels;
    for (int i = 0; i < n; ++i) WriteObsLines(channels[i], types_, &out_);
  }

  // The same text, and its values handed to the sink before it: the whole
  // epoch is formatted into the block at once (room is made first), so none
  // of its text can reach the sink before its values do. When the sink
  // needs no records (values_only_), the text is the epoch line alone.
  void WriteEpochWithValues(const EpochDate& date, const GpbEpoch& epoch,
                            const GpbChannel* channels) {
    static_assert(kEpochLineRoom + kMaxChannels * kSatelliteRoom <= kRinexBufferSize,
                  "an epoch fits the block");
    const int n = epoch.NumChannels < 0 ? 0 : epoch.NumChannels < kMaxChannels ? epoch.NumChannels
                                                                               : kMaxChannels;
    const int types = types_.Count;
    // A count that differs from the records written is read back as text.
    bool exact = epoch.NumChannels == n;
    if (values_only_ && exact) {
      // The sink needs no records: the epoch line and the values alone,
      // unless a value has no fast-path text.
      for (int i = 0; i < n && exact; ++i) {
        exact = CaptureObsValues(channels[i], types_, &thousandths_[i * types],
                                 &flags_[2 * i * types]);
      }
      if (exact) {
        if (kRinexBufferSize - out_.Length < kEpochLineRoom) RinexFlush(&out_);
        const size_t bytes = AppendEpochLine(&out_, date, epoch, channels, glonass_slots_);
        sink_.Values(EpochValues{bytes, n, types, thousandths_, flags_, nullptr, nullptr});
        return;
      }
    }
    const size_t room = kEpochLineRoom + static_cast<size_t>(n) * kSatelliteRoom;
    if (kRinexBufferSize - out_.Length < room) RinexFlush(&out_);
    size_t bytes = AppendEpochLine(&out_, date, epoch, channels, glonass_slots_);
    for (int i = 0; i < n; ++i) {
      const ValueCapture capture{&thousandths_[i * types], &flags_[2 * i * types], &exact};
      bytes += WriteObsLines(channels[i], types_, &out_, &capture);
    }
    const EpochValues values{bytes, n, types, exact ? thousandths_ : nullptr,
                             exact ? flags_ : nullptr, nullptr, nullptr};
    sink_.Values(values);
  }

  const ObsTypeList types_;
  const bool glonass_slots_;
  Sink& sink_;
  const bool hand_values_;
  const bool values_only_;  // the records' text left out (see Sink)
  int64_t thousandths_[kMaxChannels * 8];
  char flags_[2 * kMaxChannels * 8];
  GpbChannel kept_[kMaxChannels];
  RinexBuffer out_;
};

}  // namespace

std::unique_ptr<EpochRecordWriter> MakeRinex2EpochWriter(Sink& sink,
                                                         const ObsHeaderSummary& summary,
                                                         int rinex_version,
                                                         bool glonass_slots, bool reference) {
  return std::unique_ptr<EpochRecordWriter>(
      new Rinex2EpochWriter(sink, summary, rinex_version, glonass_slots, reference));
}

void WriteStationEvent(RinexBuffer* out, double rcv_time, const StationTable& table) {
  StationEvent event;
  if (!table.Find(rcv_time, &event)) return;
  AppendUndatedEventLine(out, kEpochFlagNewSite, kNewSiteRecordCount);
  AppendStationRecords(out, event, 0);
}

namespace {

// Events of dropped epochs, waiting for the next kept epoch.
class PendingEvents {
 public:
  void AddStation(const StationEvent& event) {
    Entry& e = Push();
    e.Station = true;
    e.Event = event;
  }
  void AddKinematic(int flag, int count, const char* text) {
    Entry& e = Push();
    e.Station = false;
    e.Flag = flag;
    e.Count = count;
    std::snprintf(e.Text, sizeof e.Text, "%s", text);
  }
  // Hands every waiting event to visitor, oldest first, dated `date`.
  void Deliver(EpochVisitor& visitor, const EpochDate& date) {
    for (int i = 0; i < size_; ++i) {
      const Entry& e = entries_[(first_ + i) % kMaxPendingEvents];
      if (e.Station) {
        visitor.StationBlock(date, e.Event);
      } else {
        visitor.KinematicEvent(date, e.Flag, e.Count, e.Text);
      }
    }
    first_ = 0;
    size_ = 0;
  }

 private:
  struct Entry {
    bool Station;
    StationEvent Event;
    int Flag;
    int Count;
    char Text[kKinematicTextSize];
  };
  // A full queue gives up its oldest entry.
  Entry& Push() {
    if (size_ == kMaxPendingEvents) {
      first_ = (first_ + 1) % kMaxPendingEvents;
      --size_;
    }
    Entry& e = entries_[(first_ + size_) % kMaxPendingEvents];
    ++size_;
    return e;
  }
  Entry entries_[kMaxPendingEvents];
  int first_ = 0;
  int size_ = 0;
};

}  // namespace

void StreamObsEpochs(const ObsInput& request, const WeekReference& ref, EpochVisitor& visitor,
                     const Selection* selection, ReadingPass* pass) {
  if (selection != nullptr && SelectsNothing(*selection)) selection = nullptr;
  const char* path = request.GpbFile.c_str();
  ReadingPass no_pass;
  if (pass == nullptr) pass = &no_pass;

  // Station events: read once before the first epoch; never fails the call.
  StationTable stations;
  stations.Load(path, pass->Station, pass->StationPath.c_str());
  pass->StationMessage = stations.Message();
  pass->StationRecords = stations.Count();
  pass->StationOpenReason = stations.OpenReason();

  GpbClass reader;
  reader.SetReadAhead(pass->ReadAhead);
  reader.OpenGpbFile(path, kGpbBufferSize);  // a failed open reads no epochs

  EpochSlot slots[2]{};  // before the first epoch the previous one has no channels
  EpochSlot* current = &slots[0];
  EpochSlot* previous = &slots[1];
  KinematicState state = kStatic;
  char event_text[kKinematicTextSize];
  StationEvent station;
  uint64_t count = 0;
  // With a selection: the kept part of the current epoch, and the events of
  // dropped epochs (allocated only then).
  GpbEpoch kept_epoch{};
  GpbChannel kept_channels[kMaxChannels];
  std::unique_ptr<PendingEvents> pending;
  if (selection != nullptr) pending.reset(new PendingEvents());
  while (reader.ReadGpbEpoch(&current->Epoch, current->Channels) == 0) {
    if (count++ % kProgressEpochs == 0 && !pass->Report(reader.BytesUsed())) break;
    const GpbEpoch& read_epoch = current->Epoch;
    const int week =
        request.UseGpsWeek ? request.GpsWeek : ReferenceWeekOf(ref, read_epoch.RcvTime);
    const EpochDate date = DateOfGpsTime(week, read_epoch.RcvTime);
    const bool kept = selection == nullptr ||
                      SelectEpoch(*selection, week, read_epoch, current->Channels, &kept_epoch,
                                  kept_channels);
    const GpbEpoch& epoch = selection == nullptr ? read_epoch : kept_epoch;
    const GpbChannel* channels = selection == nullptr ? current->Channels : kept_channels;
    if (kept) visitor.BeginEpoch(week, read_epoch.RcvTime);
    if (kept && pending) pending->Deliver(visitor, date);

    if (stations.Find(read_epoch.RcvTime, &station)) {
      ++pass->StationBlocks;
      if (kept) {
        visitor.StationBlock(date, station);
      } else {
        pending->AddStation(station);
      }
    }

    // The kinematic state follows every epoch read, kept or not.
    int count = 0;
    const int flag = CheckKinematicEvent(read_epoch, current->Channels, previous->Epoch,
                                         previous->Channels, &state, &count, event_text);
    if (flag != 0) {
      if (kept) {
        visitor.KinematicEvent(date, flag, count, event_text);
      } else {
        pending->AddKinematic(flag, count, event_text);
      }
    }

    if (!kept) {
      EpochSlot* read_slot = current;
      current = previous;
      previous = read_slot;
      continue;
    }
    visitor.Epoch(date, epoch, channels);
    if (pass->Observer) pass->Observer->Observe(epoch, channels, week);

    ++pass->EpochsKept;

    EpochSlot* written = current;
    current = previous;
    previous = written;
  }
  pass->GpbDamaged = reader.EndedInDamage() ? 1 : 0;
  pass->GpbBytesUsed = reader.BytesUsed();
  pass->GpbFileSize = reader.FileSize();
  pass->Report(reader.FileSize());
  reader.CloseGpbFile();
  stations.Release();
}

int WriteObsEpochs(std::FILE* stream, const ObsInput& request,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref,
                   const ObsEdits* edits) {
  StdioSink sink(stream);
  return WriteObsEpochs(sink, request, summary, rinex_version, ref, edits);
}

int WriteObsEpochs(Sink& sink, const ObsInput& request, const ObsHeaderSummary& summary,
                   int rinex_version, const WeekReference& ref, const ObsEdits* edits,
                   ReadingPass* pass) {
  Rinex2EpochWriter writer(sink, summary, rinex_version,
                           edits != nullptr && edits->GlonassSlots != 0,
                           edits != nullptr && edits->ReferenceFormatting != 0);
  StreamObsEpochs(request, ref, writer, edits != nullptr ? edits->Select : nullptr, pass);
  writer.Flush();
  return 0;
}

}  // namespace rawconv
