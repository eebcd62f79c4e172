// The RINEX observation file: pre-scan of the GPB file, header, epoch records
// with kinematic and new-site events.
//
// One conversion runs: ScanObsSummary (first pass over the GPB file),
// LookupWeekReference (once), WriteObsHeader, WriteObsEpochs (second pass).
//
// The second pass is one epoch stream (StreamObsEpochs) that reads the GPB
// file, finds the station and kinematic events and works out each epoch's
// date; a writer (EpochVisitor) turns what it is handed into lines. The
// RINEX 2 writer lives in obs_epochs.cpp, the RINEX 3 one in rinex3_obs.cpp.
#ifndef RAWCONV_OBS_OBS_WRITER_H_
#define RAWCONV_OBS_OBS_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "gpb/gpb.h"
#include "obs/header_metadata.h"
#include "obs/rinex_format.h"
#include "obs/station_table.h"
#include "select/selection.h"
#include "sink/sink.h"
#include "obs/run_date.h"

namespace rawconv {

// What the caller gives for one observation file: the input, the output
// path and the header texts, each of any length (the header writers cut
// nothing: a text is written whole, padded to its columns).
struct ObsInput {
  std::string GpbFile;     // the GPB file read by both passes
  std::string ObsFile;     // the observation output (set by the naming step)
  std::string RunBy;       // "RUN BY" column of PGM / RUN BY / DATE
  std::string MarkerName;  // MARKER NAME
  std::string Observer;    // first column of OBSERVER / AGENCY
  std::string Agency;      // second column of OBSERVER / AGENCY
  double AntHeight = 0.0;  // metres, H of ANTENNA: DELTA H/E/N
  int32_t UseGpsWeek = 0;  // 1: GpsWeek is the week of every epoch
  int32_t GpsWeek = 0;
};

class EpochObserver;

// Epochs between two progress reports of a reading pass.
constexpr long kProgressEpochs = 512;

// What one reading pass over the GPB file takes from its call, and the facts
// it gives back. The default record reads with the GPB reader's read-ahead,
// the station file beside the GPB file, no progress reports and no
// observer.
struct ReadingPass {
  // Where the station blocks come from (the writing pass only).
  StationSource Station = kStationBeside;
  std::string StationPath;  // with kStationFile
  bool ReadAhead = true;
  // Called every kProgressEpochs epochs, and at the end of a writing pass,
  // with the bytes of the GPB file read so far; false stops the pass.
  bool (*Progress)(void* user, uint64_t bytes) = nullptr;
  void* ProgressUser = nullptr;
  // Sees every kept epoch of a writing pass as it is handed on, and of a
  // pre-scan (ScanObsSummary, ScanObsSpans) as it is counted.
  EpochObserver* Observer = nullptr;
  // Facts of the last writing pass.
  uint64_t EpochsKept = 0;  // epochs handed to the visitor (added to)
  int32_t GpbDamaged = 0;   // it ended in a damaged or cut record
  uint64_t GpbBytesUsed = 0;
  uint64_t GpbFileSize = 0;
  // The station file's message (see StationTable::Load); empty when none.
  std::string StationMessage;
  // Records of the station file read and the station blocks they gave.
  int32_t StationRecords = 0;
  uint64_t StationBlocks = 0;
  // Why the station file could not be opened (StationTable::OpenReason);
  // empty when it was, or when none was looked for.
  std::string StationOpenReason;

  bool Report(uint64_t bytes) const { return Progress == nullptr || Progress(ProgressUser, bytes); }
};

// Satellite numbers counted by the pre-scan (GPB numbers; GLONASS above 32).
constexpr int kMaxSatelliteNumber = 255;
constexpr int kObsTypeCount = 8;  // C1 L1 L2 P1 P2 D1 S1 S2

// What the pre-scan found. The eight types are tested, listed and written in
// the order C1 L1 L2 P1 P2 D1 S1 S2 (S1/S2 only in RINEX 2.1).
struct ObsHeaderSummary {
  double ApproxX;       // mean ECEF position of qualifying epochs, metres;
  double ApproxY;       // 0 when none qualifies
  double ApproxZ;
  double Interval;      // seconds (see ScanObsSummary for short files)
  double FirstObsTime;  // RcvTime of the first epoch, seconds of week
  char ReceiverText[64];  // receiver type name, one blank, description
  int32_t NumObsTypes;
  int32_t HasC1;
  int32_t HasL1;
  int32_t HasL2;
  int32_t HasP1;
  int32_t HasP2;
  int32_t HasD1;
  int32_t HasS1;
  int32_t HasS2;
  // Read by the RINEX 3 writer and the file naming only (RINEX 2 output does
  // not depend on them).
  int32_t HasGps;      // a channel of any epoch carries a satellite 1..32
  int32_t HasGlonass;  // ... a satellite above 32 (GLONASS)
  double LastObsTime;  // RcvTime of the last epoch, seconds of week
  int32_t EpochCount;  // epochs read
  // GLONASS frequency channel numbers (-7..+6) by slot (index 1..kGlonassSlots;
  // index 0 unused), kGlonassFrequencyUnknown where the data did not tell.
  int8_t GlonassFrequency[65];
  int32_t SatelliteCount;  // distinct satellite numbers seen (0..kMaxSatelliteNumber)
  // Type bits (bit i: type i of C1 L1 L2 P1 P2 D1 S1 S2) the kept epochs
  // hold before the type selection: what a type selection may ask for.
  uint32_t PresentTypes;
  // Per satellite (GPB number): 1 when it is in a kept epoch, and the
  // number of its non-zero values of each type (PRN / # OF OBS).
  uint8_t SatelliteSeen[kMaxSatelliteNumber + 1];
  int32_t ObsCounts[kMaxSatelliteNumber + 1][kObsTypeCount];
};

// What the user asked to change in one observation file; every pointer may
// be null and a zero ObsEdits changes nothing.
//   Select      epochs, satellites and types kept (lib/select/selection.h),
//               applied by the pre-scan and by the epoch stream alike
//   Metadata    header facts supplied by the user (header_metadata.h)
//   FullHeader  1: TIME OF LAST OBS, # OF SATELLITES and PRN / # OF OBS from
//               the pre-scan's counts are written (RINEX 3 always has
//               TIME OF LAST OBS)
//   GlonassSlots  RINEX 2 only. 0: satellites above 32 are "R" and the GPB
//               number unchanged, under "G (GPS)", as the dialog library
//               writes them. 1: they are named by GLONASS slot like RINEX 3
//               does (GPB 33 is R 1), satellites without a RINEX number
//               (see GlonassSlot) are left out, and a file holding GLONASS
//               says "M (MIXED)": what RINEX 2 readers expect.
//   ReferenceFormatting  1: numbers are formatted with snprintf instead of
//               the writers' own integer code (tests compare the two; the
//               bytes are the same)
struct ObsEdits {
  const Selection* Select;
  const HeaderMetadata* Metadata;
  int32_t FullHeader;
  int32_t GlonassSlots;
  int32_t ReferenceFormatting;
};

// GPB satellites above 32 are GLONASS: GPB number 33 + n is slot n + 1
// (R01 for 33, R24 for 56). RINEX 3 writes the slot; RINEX 2 writes the GPB
// number unchanged after "R", or the slot with ObsEdits::GlonassSlots. Numbers beyond 32 + kGlonassSlots have no
// slot (see GlonassSlot).
constexpr int kGlonassSlots = 64;
constexpr int8_t kGlonassFrequencyUnknown = 99;

// The GLONASS slot of a GPB satellite number, or 0 when it is not a GLONASS
// number of a slot 1..kGlonassSlots.
inline int GlonassSlot(int prn) {
  return prn > kGpsPrnMax && prn <= kGpsPrnMax + kGlonassSlots ? prn - kGpsPrnMax : 0;
}

// Reads every epoch of request.GpbFile and fills summary (zeroed first).
// Types count only from the first channel of an epoch. An epoch adds to the
// position mean when its Flags word is non-zero, it has at least four
// channels and its position is not the empty one (latitude and longitude
// both 0). Interval is the time from the second to the third epoch; a file
// of two epochs gives their difference, a file of one epoch (or none) 0.
// A file that cannot be opened or read gives the zero summary with the
// receiver text "UNKNOWN " (the name of receiver type 0).
void ScanObsSummary(const ObsInput& request, ObsHeaderSummary* summary);

// WGS 84 geodetic latitude/longitude (degrees) and height (metres) ->
// earth-centred X, Y, Z in metres.
void GeodeticToEcef(double latitude_deg, double longitude_deg, double height, double* x,
                    double* y, double* z);

// The reference ephemeris of a conversion, looked up once: the file's result
// cannot change within one call.
struct WeekReference {
  int32_t Found;      // 1 when FindReferenceEphemeris gave a reference
  int32_t Week;       // reference week as read (or the fixed week)
  double Toe;         // reference time of ephemeris, seconds of week
  int32_t FixedWeek;  // 1: Week is the week of every time, unresolved
};

// FindReferenceEphemeris on epp_file, once. FixedWeek is 0; Found says
// whether a reference exists (the caller decides what to do without one).
WeekReference LookupWeekReference(const char* epp_file);

// The full week of a time of week: Week itself when FixedWeek is set, else
// ResolveGpsWeek(Week, Toe, time_of_week).
int ReferenceWeekOf(const WeekReference& ref, double time_of_week);

// The same pre-scan over the epochs edits.Select keeps (all without one):
// every fact of the summary, the interval included, describes the kept
// epochs, satellites and types. The week of an epoch, needed for the time
// window, is request.GpsWeek when request.UseGpsWeek is set, else
// ReferenceWeekOf(ref, RcvTime), as in the writing pass.
void ScanObsSummary(const ObsInput& request, ObsHeaderSummary* summary,
                    const WeekReference& ref, const ObsEdits& edits,
                    const ReadingPass* pass = nullptr);

// ---- Splitting into spans of GPS time ----
//
// A split conversion writes one observation file per span of GPS time, the
// spans aligned to the GPS day (00:00, 00:15, ... or 00:00, 01:00, ...).
// Span n covers the GPS seconds [n * span, (n + 1) * span); an epoch within
// the clock tolerance before a boundary counts as lying on it (as for the
// time window), so a steered clock's 00:59:59.990 opens the 01:00 span.

// The span of a time: floor((gps_seconds + tolerance) / span_seconds).
int64_t SpanIndexOf(double gps_seconds, double span_seconds, double tolerance);

// The pre-scan's facts of one span that holds kept epochs.
struct SpanSummary {
  int64_t Index;  // SpanIndexOf of its epochs
  double Start;   // GPS seconds of its start (Index * span)
  ObsHeaderSummary Summary;
};

// The pre-scan of a split conversion, in the same single pass: *summary
// describes the whole file as ScanObsSummary does, and spans gets one
// summary per span holding a kept epoch, in time order, each as if the span
// were a file of its own. Three facts come from the whole file: the receiver
// text, the GLONASS frequency channels (a short span may hold too little
// arc to find them) and, for a span of a single epoch, the interval. The
// tolerance is that of edits.Select (kDefaultClockTolerance without one).
// Fails, with spans holding what was found so far, when the epoch times go
// back across a span boundary: such a file cannot be written span by span.
CheckResult ScanObsSpans(const ObsInput& request, ObsHeaderSummary* summary,
                         const WeekReference& ref, const ObsEdits& edits, double span_seconds,
                         std::vector<SpanSummary>* spans, const ReadingPass* pass = nullptr);

// Calendar date of a GPS time. The whole seconds go through GpsToDate and
// the fraction of the second is added afterwards, so it keeps the precision
// of the time of week.
struct EpochDate {
  int32_t Year;  // four digits
  int32_t Month;
  int32_t Day;
  int32_t Hour;
  int32_t Minute;
  double Seconds;
};
EpochDate DateOfGpsTime(int week, double time_of_week);

// "# OF SATELLITES" and one "PRN / # OF OBS" line per satellite of the
// summary (counts of the types marked in listed, in their order). rinex3
// false: every satellite seen, named as in the RINEX 2 epoch lines (by
// slot, and those with a RINEX number only, when glonass_slots is set);
// true: those with a RINEX 3 number, "Gnn" then "Rnn" (GLONASS slot).
void AppendSatelliteCountLines(RinexBuffer* out, const ObsHeaderSummary& summary,
                               const bool* listed, bool rinex3, bool glonass_slots = false);

// rinex_version: RINEX_VERSION_2_1 gives the 2.1 layouts, kRinex211
// (rinex_versions.h) the same under a "2.11" version line; any other value
// the 2.0 ones.
//
// Writes the thirteen header lines to the sink (or a stdio stream). The run date comes from
// FormatRunDate; TIME OF FIRST OBS takes its week from ref, never from the
// week override. 0 when the whole header was written; 1 when the run date could
// not be formatted (only the first line is then written).
//
// edits: the user's metadata lines and the full-header records (see
// ObsEdits); null or zero writes the header above unchanged.
int WriteObsHeader(Sink& sink, const ObsInput& request,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref,
                   const ObsEdits* edits = nullptr,
                   const RunClock& clock = DefaultRunClock());
int WriteObsHeader(std::FILE* stream, const ObsInput& request,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref,
                   const ObsEdits* edits = nullptr,
                   const RunClock& clock = DefaultRunClock());

// Second pass: writes to the sink (or a stdio stream) every epoch of
// request.GpbFile with the station blocks
// of the station file beside it and the kinematic events. The week of an
// epoch is request.GpsWeek when request.UseGpsWeek is set, else
// ReferenceWeekOf(ref, RcvTime). Station file
// problems never fail the call (their message goes to pass->StationMessage).
// Result always 0. edits->Select (when given) picks the epochs and
// satellites as in StreamObsEpochs; the types written are those of summary.
int WriteObsEpochs(Sink& sink, const ObsInput& request,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref,
                   const ObsEdits* edits = nullptr, ReadingPass* pass = nullptr);
int WriteObsEpochs(std::FILE* stream, const ObsInput& request,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref,
                   const ObsEdits* edits = nullptr);

// The observation lines of one satellite: every type selected in summary
// (C1 L1 L2 P1 P2 D1, plus S1 S2 in RINEX 2.1), five values to a line,
// phases with their sign reversed and the loss-of-lock digit.
void WriteObsValues(const GpbChannel& channel, RinexBuffer* out, const ObsHeaderSummary& summary,
                    int rinex_version);

// Kinematic state between epochs of one pass.
enum KinematicState { kStatic = 0, kKinematic = 1 };
constexpr size_t kKinematicTextSize = 256;

// Updates *state from the epoch's kinematic bit and returns the event flag:
// 2 (start of kinematic data), 3 (end) or 0. An event stands only when a
// satellite of the epoch was in the previous epoch with a smaller LockTime1
// (tracked without interruption); the change of state stays either way.
// text (kKinematicTextSize bytes) receives the event's header records and
// *count their number.
int CheckKinematicEvent(const GpbEpoch& epoch, const GpbChannel* channels,
                        const GpbEpoch& previous, const GpbChannel* previous_channels,
                        KinematicState* state, int* count, char* text);

// Writes the new-site-occupation block of the first station record whose
// time equals rcv_time exactly; nothing when none does.
void WriteStationEvent(RinexBuffer* out, double rcv_time, const StationTable& table);

// The four header records of a new-site-occupation block (MARKER NAME,
// ANTENNA: DELTA H/E/N, two COMMENT lines), without the event line. Texts
// longer than max_text columns are cut to it; max_text 0 writes them whole.
void AppendStationRecords(RinexBuffer* out, const StationEvent& event, int max_text);

// ---- The epoch stream shared by the observation writers ----

// Receives one GPB file's epochs in order. Per epoch the calls come as
// StationBlock (when a station record starts at the epoch), KinematicEvent
// (when the kinematic state changes with a satellite tracked across), then
// Epoch. date is the epoch's calendar date in every call.
class EpochVisitor {
 public:
  virtual ~EpochVisitor() = default;
  virtual void StationBlock(const EpochDate& date, const StationEvent& event) = 0;
  // flag kEpochFlagKinematicStart or kEpochFlagNewSite; text holds count
  // header records (see CheckKinematicEvent).
  virtual void KinematicEvent(const EpochDate& date, int flag, int count, const char* text) = 0;
  // channels holds min(NumChannels, kMaxChannels) records.
  virtual void Epoch(const EpochDate& date, const GpbEpoch& epoch,
                     const GpbChannel* channels) = 0;
  // Called first for every epoch that is written, before the events that
  // go out with it: its full GPS week and time of week. Writers that split
  // their output by time switch files here.
  virtual void BeginEpoch(int week, double time_of_week) {
    (void)week;
    (void)time_of_week;
  }
};

// An epoch visitor that writes records into a sink through its own block
// buffer; Flush hands the buffered bytes to the sink. Callers that drive
// the epoch stream themselves (a split conversion) use these.
class EpochRecordWriter : public EpochVisitor {
 public:
  virtual void Flush() = 0;
};

// The RINEX 2 epoch writer of WriteObsEpochs, writing the types of summary
// (which must outlive it) into sink; glonass_slots as ObsEdits::GlonassSlots.
std::unique_ptr<EpochRecordWriter> MakeRinex2EpochWriter(Sink& sink,
                                                         const ObsHeaderSummary& summary,
                                                         int rinex_version,
                                                         bool glonass_slots = false,
                                                         bool reference = false);

// The time system of RINEX 3 time records.
constexpr char kObsTimeSystemGps[] = "GPS";

// "TIME OF FIRST OBS" / "TIME OF LAST OBS": year, month, day, hour, minute
// in 6-column fields, then the seconds: F12.6 and 18 blanks in RINEX 2.0,
// F13.7 and 17 blanks in 2.1, F13.7, 5 blanks, the time system and 9 blanks
// in RINEX 3. The week comes from ref.
enum class ObsTimeLayout { kRinex20, kRinex21, kRinex3 };
void AppendObsTimeRecord(RinexBuffer* out, const WeekReference& ref, double time,
                         ObsTimeLayout layout, const char* label);

// Something that looks at the epochs of the writing pass as they are
// written, without writing (the quality checks). Installed through the
// reading pass (ReadingPass::Observer); week is the epoch's full GPS week.
class EpochObserver {
 public:
  virtual ~EpochObserver() = default;
  virtual void Observe(const GpbEpoch& epoch, const GpbChannel* channels, int week) = 0;
};

// The second pass: loads the station file beside request.GpbFile (never
// fails the call), reads every epoch of the GPB file and hands it and its
// events to visitor. The week of an epoch is request.GpsWeek when the week
// override (request.UseGpsWeek) is set, else ReferenceWeekOf(ref, RcvTime).
// pass (when given) says where the station blocks come from, reports
// progress, feeds its observer and gets the pass's facts. A file that does not
// open gives no epochs.
//
// With a selection, only the epochs SelectEpoch keeps reach the visitor (and
// the observer), with their kept satellites only. Station and kinematic
// events of a dropped epoch are not lost: they are handed over, in their
// order and dated as that epoch, just before the next kept epoch's own
// events (up to kMaxPendingEvents; beyond that the oldest give way, the
// latest describe the site best). Events after the last kept epoch belong
// to no kept data and are not written. Kinematic state changes are found
// over every epoch read, as without a selection.
constexpr int kMaxPendingEvents = 16;
void StreamObsEpochs(const ObsInput& request, const WeekReference& ref, EpochVisitor& visitor,
                     const Selection* selection = nullptr, ReadingPass* pass = nullptr);

}  // namespace rawconv

#endif  // RAWCONV_OBS_OBS_WRITER_H_
