// The RINEX observation file: pre-scan of the GPB file, header, epoch records
// with kinematic and new-site events.
//
// One conversion runs: ScanObsSummary (first pass over the GPB file),
// LookupWeekReference (once), WriteObsHeader, WriteObsEpochs (second pass).
#ifndef RAWCONV_OBS_OBS_WRITER_H_
#define RAWCONV_OBS_OBS_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "api/rawconv.h"
#include "gpb/gpb.h"
#include "obs/rinex_format.h"
#include "obs/station_table.h"
#include "sink/sink.h"

namespace rawconv {

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
};

// Reads every epoch of request.GpbFile and fills summary (zeroed first).
// Types count only from the first channel of an epoch. An epoch adds to the
// position mean when its Flags word is non-zero, it has at least four
// channels and its position is not the empty one (latitude and longitude
// both 0). Interval is the time from the second to the third epoch; a file
// of two epochs gives their difference, a file of one epoch (or none) 0.
// A file that cannot be opened or read gives the zero summary with the
// receiver text "UNKNOWN " (the name of receiver type 0).
void ScanObsSummary(const ObsRequest& request, ObsHeaderSummary* summary);

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

// rinex_version: RINEX_VERSION_2_1 gives the 2.1 layouts; any other value
// the 2.0 ones.
//
// Writes the thirteen header lines to the sink (or a stdio stream). The run date comes from
// FormatRunDate; TIME OF FIRST OBS takes its week from ref, never from the
// week override. saved_nav is not read (ref was looked up from its
// EppFile). 0 when the whole header was written; 1 when the run date could
// not be formatted (only the first line is then written).
int WriteObsHeader(Sink& sink, const ObsRequest& request, const NavRequest& saved_nav,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref);
int WriteObsHeader(std::FILE* stream, const ObsRequest& request, const NavRequest& saved_nav,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref);

// Second pass: writes to the sink (or a stdio stream) every epoch of
// request.GpbFile with the station blocks
// of the station file beside it and the kinematic events. The week of an
// epoch is Ctx().GpsWeek when the week override is set, else
// ReferenceWeekOf(ref, RcvTime). saved_nav is not read. Station file
// problems never fail the call (their message stays in the error text).
// Result always 0.
int WriteObsEpochs(Sink& sink, const ObsRequest& request, const NavRequest& saved_nav,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref);
int WriteObsEpochs(std::FILE* stream, const ObsRequest& request, const NavRequest& saved_nav,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref);

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

}  // namespace rawconv

#endif  // RAWCONV_OBS_OBS_WRITER_H_
