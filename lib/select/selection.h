// What a conversion keeps of the GPB data: a time window, a decimation
// interval, excluded systems and satellites and the observation types
// written. The pre-scan and the writing pass apply the same Selection, so the
// header always describes the epochs that follow it.
//
// A zero Selection (Selection{}) keeps everything: the output is then the
// same as without one.
//
// Times are GPS time, as seconds since the GPS epoch 1980-01-06 00:00:00
// (week * 604800 + seconds of week); there are no leap seconds in it.
//
// Clock tolerance: receivers steer their clock towards GPS time, and some
// let it run off by several milliseconds before a correction (epochs at
// 29.989 s instead of 30 s). An epoch counts as lying on a time when it is
// within the tolerance of it: kDefaultClockTolerance (25 ms), but never more
// than a quarter of the decimation interval. Decimation therefore suits data
// of up to 20 epochs a second.
//   window:     keep t when  From - tol <= t  and  t < To - tol
//   decimation: keep t when its GPS time of day is within tol of a multiple
//               of Interval
#ifndef RAWCONV_SELECT_SELECTION_H_
#define RAWCONV_SELECT_SELECTION_H_

#include <cstddef>
#include <cstdint>

#include "gpb/gpb.h"

namespace rawconv {

constexpr double kSecondsPerGpsWeek = 604800.0;
constexpr double kSecondsPerDay = 86400.0;
constexpr double kDefaultClockTolerance = 0.025;  // seconds

// Satellite numbers a selection can name (GPB numbers; GLONASS above 32).
constexpr int kMaxSelectableSatellite = 255;

// The eight observation types, by index: bit (1 << index) of KeptTypes.
constexpr int kSelectableTypes = 8;
constexpr const char* kSelectableTypeNames[kSelectableTypes] = {"C1", "L1", "L2", "P1",
                                                                "P2", "D1", "S1", "S2"};
constexpr uint32_t kAllTypesMask = 0xFF;

struct Selection {
  int32_t HasFrom;  // 1: epochs before From are dropped
  double From;      // GPS seconds, inclusive
  int32_t HasTo;    // 1: epochs from To on are dropped
  double To;        // GPS seconds, exclusive
  double Interval;  // seconds; 0 keeps every epoch
  double Tolerance;  // seconds; 0 takes kDefaultClockTolerance
  int32_t ExcludeGps;      // every satellite 1..32
  int32_t ExcludeGlonass;  // every satellite above 32
  uint8_t ExcludedSatellites[kMaxSelectableSatellite + 1];  // 1: dropped
  uint32_t KeptTypes;  // bits of the types written; 0 keeps them all
};

// The result of a check or a parse: Ok 1, or 0 and a message for the user.
constexpr size_t kCheckMessageSize = 160;
struct CheckResult {
  int32_t Ok;
  char Message[kCheckMessageSize];
};
CheckResult CheckOk();
CheckResult CheckFailed(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// True when the selection drops nothing.
bool SelectsNothing(const Selection& selection);

// week * 604800 + seconds of week.
double GpsSeconds(int week, double seconds_of_week);

// The tolerance in force (see above).
double ClockTolerance(const Selection& selection);

// True when an epoch at that GPS time passes the window and the decimation.
bool KeepEpochTime(const Selection& selection, int week, double seconds_of_week);

// True when satellite prn (GPB number) is kept.
bool KeepSatellite(const Selection& selection, int prn);

// True when type index (0..7, C1 L1 L2 P1 P2 D1 S1 S2) is written.
bool KeepType(const Selection& selection, int index);

// Applies the whole selection to one epoch of GPS week `week`. False when
// the epoch is dropped: outside the window, off the interval, or every one
// of its satellites excluded. Otherwise *out is the epoch with
// NumChannels the kept satellites, out_channels (kMaxChannels) those
// channels in their order. An epoch that had no satellite at all stays.
bool SelectEpoch(const Selection& selection, int week, const GpbEpoch& epoch,
                 const GpbChannel* channels, GpbEpoch* out, GpbChannel* out_channels);

// ---- The texts of the command line ----

// "YYYY-MM-DD HH:MM:SS", "YYYY-MM-DDTHH:MM:SS" or "YYYY/MM/DD HH:MM:SS"
// (seconds may carry a fraction), or a date alone, "YYYY-MM-DD" or
// "YYYY/MM/DD", meaning its 00:00:00; GPS time, from 1980-01-06 on -> GPS
// seconds. Blanks around the text are allowed.
CheckResult ParseGpsTime(const char* text, double* gps_seconds);

// Window from its two texts (either may be null or empty: open on that
// side). The start must lie before the end.
CheckResult ParseWindow(const char* from, const char* to, Selection* selection);

// A positive number of seconds, at most a day: the decimation interval.
CheckResult ParseInterval(const char* text, double* seconds);

// "G,R05,G12": systems (G, R) and satellites (Gnn 01..32, Rnn GLONASS slot
// 01..64, GPB number 32 + nn). Adds to the exclusions of *selection.
CheckResult ParseExclusions(const char* text, Selection* selection);

// "C1,L1,P2" or "C1C,L1C,C2W": observation types kept -> type bits. RINEX
// 2 types and RINEX 3 codes of either system (obs/rinex3_obs.h) may be
// mixed; a RINEX 3 code names the type written under it.
CheckResult ParseObsTypes(const char* text, uint32_t* types);

// The kept types that the data does not hold (present: type bits the
// pre-scan found); a message naming the first of them when there is one.
CheckResult CheckTypesPresent(uint32_t kept, uint32_t present);

}  // namespace rawconv

#endif  // RAWCONV_SELECT_SELECTION_H_
