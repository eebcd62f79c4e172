// RINEX 3 observation header and epoch records (layout in rinex3_obs.h).
#include "obs/rinex3_obs.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "obs/obs_writer.h"
#include "obs/rinex3_codes.h"
#include "obs/rinex_format.h"
#include "obs/rinex_versions.h"
#include "obs/run_date.h"
#include "sink/sink.h"

namespace rawconv {

namespace {

constexpr int kTypeCount = 8;
// Frequency of each type (C1 L1 L2 P1 P2 D1 S1 S2): 1 or 2.
constexpr int kTypeFrequency[kTypeCount] = {1, 1, 2, 1, 2, 1, 1, 2};
constexpr bool kTypeIsPhase[kTypeCount] = {false, true, true, false, false, false, false, false};
constexpr bool kTypeIsStrength[kTypeCount] = {false, false, false, false, false, false, true, true};
static_assert(kRinex3CodeCount == kTypeCount, "one code per type");
// The four codes of the GLONASS code-phase bias record, in its order.
constexpr const char* kGlonassBiasCodes[4] = {"C1C", "C1P", "C2C", "C2P"};

constexpr int kMaxRinex3Prn = kGpsPrnMax + kGlonassSlots;
constexpr size_t kLineRoom = 1024;
constexpr int kValueColumns = 14;
constexpr int kFieldColumns = 16;  // value, LLI, SSI
// The longest satellite line: the name, every field (values wider than
// their columns are cut to them) and the line end.
constexpr size_t kSatelliteLineBytes = 3 + kTypeCount * kFieldColumns + 1;

void Selected(const ObsHeaderSummary& s, bool* selected) {
  const int32_t flags[kTypeCount] = {s.HasC1, s.HasL1, s.HasL2, s.HasP1,
                                     s.HasP2, s.HasD1, s.HasS1, s.HasS2};
  for (int i = 0; i < kTypeCount; ++i) selected[i] = flags[i] != 0;
}


// A request text cut to width columns and padded to it.
void AppendCut(RinexBuffer* out, const std::string& text, int width) {
  size_t length = text.size();
  if (length > static_cast<size_t>(width)) length = static_cast<size_t>(width);
  AppendPadded(out, text.data(), length, width, true);
}

// value written with exactly `digits` digits, leading zeros (value 0..10^digits-1).
char* PutZeroPadded(char* p, long value, int digits) {
  if (value < 0) value = 0;
  for (int i = digits - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return p + digits;
}

// "> yyyy mm dd hh mm ss.sssssss  f nn\n"
void AppendEpochRecordLine(RinexBuffer* out, const EpochDate& d, int flag, int count) {
  char* const start = RinexReserve(out, kLineRoom);
  char* p = start;
  *p++ = '>';
  *p++ = ' ';
  p = PutZeroPadded(p, d.Year, 4);
  const int32_t parts[4] = {d.Month, d.Day, d.Hour, d.Minute};
  for (int32_t part : parts) {
    *p++ = ' ';
    p = PutZeroPadded(p, part, 2);
  }
  p += PutFixed(*out, p, d.Seconds, kFmtRinex3EpochSec);
  *p++ = ' ';
  *p++ = ' ';
  p += PutInt(*out, p, flag, 1);
  p += PutInt(*out, p, count, 3);
  *p++ = '\n';
  out->Length += static_cast<size_t>(p - start);
}

// "Gnn" / "Rnn"; false for a satellite without a RINEX 3 number.
bool PutSatellite(char* p, int prn) {
  if (prn < 1 || prn > kMaxRinex3Prn) return false;
  const int slot = GlonassSlot(prn);
  p[0] = slot != 0 ? 'R' : 'G';
  PutZeroPadded(p + 1, slot != 0 ? slot : prn, 2);
  return true;
}

// The strength digit written after a value of each frequency (index 1 and
// 2; blank where the channel has no carrier-to-noise density).
char StrengthDigit(double cn0) {
  const int ssi = StrengthIndicator(cn0);
  return ssi != 0 ? static_cast<char>('0' + ssi) : ' ';
}

// The eight fields of a satellite's line, in the order C1 L1 L2 P1 P2 D1
// S1 S2, and the two flag characters written after each.
struct SatelliteFields {
  double Values[kTypeCount];
  char Flags[2 * kTypeCount];  // loss of lock, strength
};

SatelliteFields FieldsOf(const GpbChannel& c) {
  // Phases are stored with the opposite sign; 0.0 - x keeps an absent 0.0
  // from turning into -0.000.
  SatelliteFields f{{c.C1, 0.0 - c.L1, 0.0 - c.L2, c.P1, c.P2, c.D1, c.Cn0L1, c.Cn0L2}, {}};
  const bool lost[kTypeCount] = {
      false,
      (c.ObsMask & kObsLock1) != 0 && !(c.LockTime1 > 0.0),
      (c.ObsMask & kObsLock2) != 0 && !(c.LockTime2 > 0.0),
      false, false, false, false, false};
  const char strength[3] = {' ', StrengthDigit(c.Cn0L1), StrengthDigit(c.Cn0L2)};
  for (int i = 0; i < kTypeCount; ++i) {
    f.Flags[2 * i] = lost[i] && kTypeIsPhase[i] ? '1' : ' ';
    f.Flags[2 * i + 1] = kTypeIsStrength[i] ? ' ' : strength[kTypeFrequency[i]];
  }
  return f;
}

// One satellite line: the satellite and every selected type (a value of 0
// is a blank field).
void AppendSatelliteLine(RinexBuffer* out, const GpbChannel& c, const bool* selected) {
  char* const start = RinexReserve(out, kLineRoom + kTypeCount * kFixedFieldMax);
  if (!PutSatellite(start, c.Prn)) return;
  char* p = start + 3;
  const SatelliteFields f = FieldsOf(c);
  const bool reference = out->Reference != 0;
  for (int i = 0; i < kTypeCount; ++i) {
    if (!selected[i]) continue;
    if (f.Values[i] == 0.0) {
      std::memset(p, ' ', kFieldColumns);
      p += kFieldColumns;
      continue;
    }
    if (!reference && PutObsColumns(f.Values[i], p)) {
      p += kValueColumns;
    } else {
      char field[kFixedFieldMax];
      size_t length = PutObsValue(*out, field, f.Values[i]);
      if (length > kValueColumns) length = kValueColumns;  // keeps the columns of what follows
      std::memcpy(p, field, length);
      p += length;
    }
    *p++ = f.Flags[2 * i];
    *p++ = f.Flags[2 * i + 1];
  }
  *p++ = '\n';
  out->Length += static_cast<size_t>(p - start);
}

// What AppendSatelliteLine writes of a satellite with a RINEX 3 number, as
// the values handed beside it: its name, each selected value in
// thousandths, whether it is there and its flags. false when a value has
// no fast-path text (the text must then be written, and read back).
bool CaptureSatellite(const GpbChannel& c, const bool* selected, char* name, int64_t* values,
                      uint8_t* present, char* flags) {
  if (!PutSatellite(name, c.Prn)) return false;
  const SatelliteFields f = FieldsOf(c);
  int k = 0;
  for (int i = 0; i < kTypeCount; ++i) {
    if (!selected[i]) continue;
    present[k] = f.Values[i] != 0.0;
    values[k] = 0;
    if (present[k] != 0 && !ObsThousandths(f.Values[i], &values[k])) return false;
    flags[2 * k] = present[k] != 0 ? f.Flags[2 * i] : ' ';
    flags[2 * k + 1] = present[k] != 0 ? f.Flags[2 * i + 1] : ' ';
    ++k;
  }
  return true;
}

int SatellitesWithNumber(const GpbEpoch& epoch, const GpbChannel* channels) {
  const int n = epoch.NumChannels < kMaxChannels ? epoch.NumChannels : kMaxChannels;
  int count = 0;
  for (int i = 0; i < n; ++i) count += channels[i].Prn >= 1 && channels[i].Prn <= kMaxRinex3Prn;
  return count;
}

class Rinex3EpochWriter final : public EpochRecordWriter {
 public:
  Rinex3EpochWriter(Sink& sink, const ObsHeaderSummary& summary, bool reference)
      : sink_(sink),
        hand_values_(sink.WantsValues() && !reference),
        values_only_(hand_values_ && sink.ValuesReplaceRecords()) {
    RinexBufferInit(&out_, &sink, reference);
    Selected(summary, selected_);
    for (bool s : selected_) types_ += s ? 1 : 0;
  }

  void StationBlock(const EpochDate& date, const StationEvent& event) override {
    AppendEpochRecordLine(&out_, date, kEpochFlagNewSite, kNewSiteRecordCount);
    AppendStationRecords(&out_, event, 60);
  }

  void KinematicEvent(const EpochDate& date, int flag, int count, const char* text) override {
    AppendEpochRecordLine(&out_, date, flag, count);
    AppendText(&out_, text);
  }

  void Epoch(const EpochDate& date, const GpbEpoch& epoch, const GpbChannel* channels) override {
    const int count = SatellitesWithNumber(epoch, channels);
    const int n = epoch.NumChannels < kMaxChannels ? epoch.NumChannels : kMaxChannels;
    if (!hand_values_) {
      AppendEpochRecordLine(&out_, date, kEpochFlagOk, count);
      for (int i = 0; i < n; ++i) AppendSatelliteLine(&out_, channels[i], selected_);
      return;
    }
    // The values first, then the text: the whole epoch is formatted into
    // the block at once (room is made first), so none of its text can reach
    // the sink before its values do. When the sink needs no records
    // (values_only_), the text is the epoch line alone.
    bool exact = true;
    for (int i = 0, k = 0; i < n && exact; ++i) {
      if (channels[i].Prn < 1 || channels[i].Prn > kMaxRinex3Prn) continue;
      exact = CaptureSatellite(channels[i], selected_, &names_[3 * k], &values_[k * types_],
                               &present_[k * types_], &flags_[2 * k * types_]);
      ++k;
    }
    // The epoch line's room, what every satellite line but the last can
    // take, and the room the last one asks for.
    constexpr size_t kLastLineRoom = kLineRoom + kTypeCount * kFixedFieldMax;
    static_assert(kLineRoom + kMaxChannels * kSatelliteLineBytes + kLastLineRoom <=
                      kRinexBufferSize,
                  "an epoch fits the block");
    const size_t room =
        kLineRoom + static_cast<size_t>(n > 0 ? n : 0) * kSatelliteLineBytes + kLastLineRoom;
    if (kRinexBufferSize - out_.Length < room) RinexFlush(&out_);
    const size_t before = out_.Length;
    AppendEpochRecordLine(&out_, date, kEpochFlagOk, count);
    if (!(values_only_ && exact)) {
      for (int i = 0; i < n; ++i) AppendSatelliteLine(&out_, channels[i], selected_);
    }
    const uint64_t bytes = out_.Length - before;
    if (exact) {
      sink_.Values(EpochValues{bytes, count, types_, values_, flags_, names_, present_});
    } else {
      sink_.Values(EpochValues{bytes, count, types_, nullptr, nullptr, nullptr, nullptr});
    }
  }

  void Flush() override { RinexFlush(&out_); }

 private:
  Sink& sink_;
  const bool hand_values_;  // the sink codes values (Compact RINEX)
  const bool values_only_;  // and needs no records' text
  bool selected_[kTypeCount];
  int types_ = 0;
  char names_[3 * kMaxChannels];
  int64_t values_[kMaxChannels * kTypeCount];
  uint8_t present_[kMaxChannels * kTypeCount];
  char flags_[2 * kMaxChannels * kTypeCount];
  RinexBuffer out_;
};

void AppendDateLine(RinexBuffer* out, const WeekReference& ref, double time, const char* label) {
  AppendObsTimeRecord(out, ref, time, ObsTimeLayout::kRinex3, label);
}

void AppendObsTypes(RinexBuffer* out, char system, const bool* selected) {
  int listed = 0;
  for (int i = 0; i < kTypeCount; ++i) listed += selected[i] ? 1 : 0;
  char head[2] = {system, '\0'};
  AppendText(out, head);
  AppendBlanks(out, 2);
  AppendInt(out, listed, 3);
  for (int i = 0; i < kTypeCount; ++i) {
    if (!selected[i]) continue;
    AppendBlanks(out, 1);
    AppendText(out, Rinex3ObsCode(i, system == 'R'));
  }
  AppendBlanks(out, 60 - 6 - 4 * listed);
  AppendLabel(out, kLabelSysObsTypes);
}

void AppendPhaseShifts(RinexBuffer* out, char system, const bool* selected) {
  for (int i = 0; i < kTypeCount; ++i) {
    if (!selected[i] || !kTypeIsPhase[i]) continue;
    char head[2] = {system, '\0'};
    AppendText(out, head);
    AppendBlanks(out, 1);
    AppendText(out, Rinex3ObsCode(i, system == 'R'));
    AppendBlanks(out, 1);
    AppendFixed(out, 0.0, kFmtPhaseShift);
    AppendBlanks(out, 60 - 14);
    AppendLabel(out, kLabelPhaseShift);
  }
}

// "nnn Rss kk Rss kk ..." eight satellites to a line, continuation lines
// begin with four blanks.
void AppendGlonassSlots(RinexBuffer* out, const ObsHeaderSummary& summary) {
  int known = 0;
  for (int slot = 1; slot <= kGlonassSlots; ++slot)
    known += summary.GlonassFrequency[slot] != kGlonassFrequencyUnknown;
  AppendInt(out, known, 3);
  AppendBlanks(out, 1);
  int on_line = 0;
  for (int slot = 1; slot <= kGlonassSlots; ++slot) {
    const int k = summary.GlonassFrequency[slot];
    if (k == kGlonassFrequencyUnknown) continue;
    if (on_line == kGlonassSlotsPerLine) {
      AppendBlanks(out, 60 - 4 - 7 * on_line);
      AppendLabel(out, kLabelGlonassSlots);
      AppendBlanks(out, 4);
      on_line = 0;
    }
    char entry[16];
    entry[0] = 'R';
    PutZeroPadded(entry + 1, slot, 2);
    entry[3] = '\0';
    AppendText(out, entry);
    AppendInt(out, k, 3);
    AppendBlanks(out, 1);
    ++on_line;
  }
  AppendBlanks(out, 60 - 4 - 7 * on_line);
  AppendLabel(out, kLabelGlonassSlots);
}

void AppendGlonassBiases(RinexBuffer* out) {
  for (const char* code : kGlonassBiasCodes) {
    AppendBlanks(out, 1);
    AppendText(out, code);
    AppendBlanks(out, 9);  // bias unknown: blank
  }
  AppendBlanks(out, 60 - 4 * 13);
  AppendLabel(out, kLabelGlonassBiases);
}

}  // namespace

int StrengthIndicator(double cn0) {
  if (!(cn0 > 0.0)) return 0;
  const double step = std::floor(cn0 / 6.0);
  if (!(step >= 1.0)) return 1;
  if (step >= 9.0) return 9;
  return static_cast<int>(step);
}

const char* Rinex3ObsCode(int index, bool glonass) {
  if (index < 0 || index >= kTypeCount) return "   ";
  return glonass ? kRinex3GlonassCodes[index] : kRinex3GpsCodes[index];
}

bool ParseMarkerType(const char* text, char* upper) {
  if (text == nullptr) return false;
  char folded[kMarkerTypeColumns + 1];
  size_t length = 0;
  for (; text[length] != '\0'; ++length) {
    if (length == kMarkerTypeColumns) return false;
    const char c = text[length];
    folded[length] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  folded[length] = '\0';
  for (const char* name : kMarkerTypeNames) {
    if (std::strcmp(folded, name) == 0) {
      std::memcpy(upper, folded, length + 1);
      return true;
    }
  }
  return false;
}

int WriteObs3Header(Sink& sink, const ObsInput& request, const ObsHeaderSummary& summary,
                    int version, const WeekReference& ref, const ObsEdits* edits,
                    const RunClock& clock) {
  if (!IsRinex3Writable(version)) return 2;
  const bool deprecated_records = !IsRinex4(version);  // 3.0x: phase shifts, GLONASS biases
  const HeaderMetadata* metadata = edits != nullptr ? edits->Metadata : nullptr;
  const bool full = edits != nullptr && edits->FullHeader != 0;
  RinexBuffer buffer;
  RinexBuffer* out = &buffer;
  RinexBufferInit(out, &sink, edits != nullptr && edits->ReferenceFormatting != 0);
  const bool glonass = summary.HasGlonass != 0;
  const bool gps = summary.HasGps != 0 || !glonass;
  bool selected[kTypeCount];
  Selected(summary, selected);

  // RINEX VERSION / TYPE
  AppendFixed(out, RinexVersionNumber(version), kFmtRinex3Version);
  AppendBlanks(out, 11);
  AppendText(out, kRinex3ObsTypeText);
  AppendLeft(out, glonass ? kRinex3SystemMixed : kRinex3SystemGps, kLabelColumns);
  AppendLabel(out, kLabelVersionType);

  // PGM / RUN BY / DATE
  char date[128] = "";
  if (FormatRunDateRinex3(date, clock) != 0) {
    RinexFlush(out);
    return 1;
  }
  AppendLeft(out, kProgramText, kLabelColumns);
  AppendCut(out, request.RunBy, kLabelColumns);
  AppendPadded(out, date, BoundedLength(date, kLabelColumns), kLabelColumns, true);
  AppendLabel(out, kLabelPgmRunByDate);
  AppendMetadataComments(out, metadata);

  AppendCut(out, request.MarkerName, 60);
  AppendLabel(out, kLabelMarkerName);
  AppendMarkerNumber(out, metadata);
  if (metadata != nullptr && metadata->MarkerType[0] != '\0') {
    AppendCut(out, metadata->MarkerType, kMarkerTypeColumns);
    AppendBlanks(out, 60 - kMarkerTypeColumns);
    AppendLabel(out, kLabelMarkerType);
  }

  AppendCut(out, request.Observer, kLabelColumns);
  AppendCut(out, request.Agency, 2 * kLabelColumns);
  AppendLabel(out, kLabelObserverAgency);

  AppendReceiverLine(out, metadata, summary.ReceiverText, kReceiverColumns);
  AppendAntennaLine(out, metadata);
  AppendPositionLine(out, metadata, summary.ApproxX, summary.ApproxY, summary.ApproxZ);
  AppendAntennaDeltaLine(out, metadata, request.AntHeight);

  if (gps) AppendObsTypes(out, 'G', selected);
  if (glonass) AppendObsTypes(out, 'R', selected);

  if (selected[6] || selected[7]) {
    AppendLeft(out, kRinex3SignalUnit, 60);
    AppendLabel(out, kLabelSignalUnit);
  }

  if (summary.Interval > 0.0) {
    AppendFixed(out, summary.Interval, kFmtInterval21);  // F10.3
    AppendBlanks(out, 50);
    AppendLabel(out, kLabelInterval);
  }

  AppendDateLine(out, ref, summary.FirstObsTime, kLabelFirstObs);
  if (summary.EpochCount > 0) AppendDateLine(out, ref, summary.LastObsTime, kLabelLastObs);

  if (gps && deprecated_records) AppendPhaseShifts(out, 'G', selected);
  if (glonass) {
    if (deprecated_records) AppendPhaseShifts(out, 'R', selected);
    AppendGlonassSlots(out, summary);
    if (deprecated_records) AppendGlonassBiases(out);
  }
  if (full) AppendSatelliteCountLines(out, summary, selected, true);

  AppendBlanks(out, 60);
  AppendLabel(out, kLabelEndOfHeader);
  RinexFlush(out);
  return 0;
}

std::unique_ptr<EpochRecordWriter> MakeRinex3EpochWriter(Sink& sink,
                                                         const ObsHeaderSummary& summary,
                                                         bool reference) {
  return std::unique_ptr<EpochRecordWriter>(new Rinex3EpochWriter(sink, summary, reference));
}

int WriteObs3Epochs(Sink& sink, const ObsInput& request, const ObsHeaderSummary& summary,
                    int version, const WeekReference& ref, const ObsEdits* edits,
                    ReadingPass* pass) {
  if (!IsRinex3Writable(version)) return 2;
  Rinex3EpochWriter writer(sink, summary, edits != nullptr && edits->ReferenceFormatting != 0);
  StreamObsEpochs(request, ref, writer, edits != nullptr ? edits->Select : nullptr, pass);
  writer.Flush();
  return 0;
}

}  // namespace rawconv
