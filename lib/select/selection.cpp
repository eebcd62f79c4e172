// Epoch and content selection (rules in selection.h).
#include "select/selection.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "obs/rinex3_codes.h"
#include "time/calendar.h"

namespace rawconv {
namespace {

constexpr int kGpsSatellites = 32;
constexpr int kGlonassSlots = 64;
// Texts of the command line longer than this are refused before parsing.
constexpr size_t kMaxArgumentText = 1024;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly `digits` digits at *p.
bool ReadDigits(const char** p, int digits, int* value) {
  int v = 0;
  for (int i = 0; i < digits; ++i) {
    if (!IsDigit((*p)[i])) return false;
    v = v * 10 + ((*p)[i] - '0');
  }
  *p += digits;
  *value = v;
  return true;
}

bool Expect(const char** p, char c) {
  if (**p != c) return false;
  ++*p;
  return true;
}

constexpr int64_t kGpsEpochDays = 3657;  // 1980-01-06 after 1970-01-01

bool TooLong(const char* text) {
  return std::memchr(text, '\0', kMaxArgumentText + 1) == nullptr;
}

// Next comma-separated item of *p, blanks around it dropped; false at the
// end of the text.
bool NextItem(const char** p, char* item, size_t size, bool* too_long) {
  *too_long = false;
  if (**p == '\0') return false;
  const char* start = *p;
  const char* end = std::strchr(start, ',');
  if (end == nullptr) end = start + std::strlen(start);
  *p = *end == ',' ? end + 1 : end;
  while (start < end && (*start == ' ' || *start == '\t')) ++start;
  while (end > start && (end[-1] == ' ' || end[-1] == '\t')) --end;
  const size_t length = static_cast<size_t>(end - start);
  if (length >= size) {
    *too_long = true;
    std::snprintf(item, size, "%.*s", static_cast<int>(size - 1), start);
    return true;
  }
  std::memcpy(item, start, length);
  item[length] = '\0';
  return true;
}

// A list whose last item is empty ("G05,"): the item reader would not see
// that item.
bool EndsWithComma(const char* text) {
  size_t n = std::strlen(text);
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  return n > 0 && text[n - 1] == ',';
}

}  // namespace

CheckResult CheckOk() {
  CheckResult r{};
  r.Ok = 1;
  return r;
}

CheckResult CheckFailed(const char* format, ...) {
  CheckResult r{};
  r.Ok = 0;
  va_list args;
  va_start(args, format);
  std::vsnprintf(r.Message, sizeof r.Message, format, args);
  va_end(args);
  return r;
}

bool SelectsNothing(const Selection& s) {
  if (s.HasFrom || s.HasTo || s.Interval > 0.0 || s.ExcludeGps || s.ExcludeGlonass) return false;
  if ((s.KeptTypes & kAllTypesMask) != 0 && (s.KeptTypes & kAllTypesMask) != kAllTypesMask)
    return false;
  for (uint8_t excluded : s.ExcludedSatellites)
    if (excluded) return false;
  return true;
}

double GpsSeconds(int week, double seconds_of_week) {
  return static_cast<double>(week) * kSecondsPerGpsWeek + seconds_of_week;
}

double ClockTolerance(const Selection& s) {
  double tol = s.Tolerance > 0.0 ? s.Tolerance : kDefaultClockTolerance;
  if (s.Interval > 0.0 && tol > s.Interval / 4.0) tol = s.Interval / 4.0;
  return tol;
}

bool KeepEpochTime(const Selection& s, int week, double seconds_of_week) {
  const double tol = ClockTolerance(s);
  if (s.HasFrom || s.HasTo) {
    const double t = GpsSeconds(week, seconds_of_week);
    if (s.HasFrom && !(t >= s.From - tol)) return false;
    if (s.HasTo && !(t < s.To - tol)) return false;
  }
  if (s.Interval > 0.0) {
    // The time of day from the time of week alone keeps its precision
    // (a week holds whole days).
    double tod = std::fmod(seconds_of_week, kSecondsPerDay);
    if (tod < 0.0) tod += kSecondsPerDay;
    const double off = std::fmod(tod + tol, s.Interval);
    if (!(off <= 2.0 * tol)) return false;
  }
  return true;
}

bool KeepSatellite(const Selection& s, int prn) {
  if (prn > kGpsSatellites ? s.ExcludeGlonass : s.ExcludeGps) return false;
  if (prn >= 0 && prn <= kMaxSelectableSatellite && s.ExcludedSatellites[prn]) return false;
  return true;
}

bool KeepType(const Selection& s, int index) {
  if (index < 0 || index >= kSelectableTypes) return false;
  const uint32_t kept = s.KeptTypes & kAllTypesMask;
  return kept == 0 || (kept & (1u << index)) != 0;
}

bool SelectEpoch(const Selection& s, int week, const GpbEpoch& epoch, const GpbChannel* channels,
                 GpbEpoch* out, GpbChannel* out_channels) {
  if (!KeepEpochTime(s, week, epoch.RcvTime)) return false;
  *out = epoch;
  int n = epoch.NumChannels < kMaxChannels ? epoch.NumChannels : kMaxChannels;
  if (n < 0) n = 0;
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    if (KeepSatellite(s, channels[i].Prn)) out_channels[kept++] = channels[i];
  }
  if (n > 0 && kept == 0) return false;
  out->NumChannels = static_cast<int16_t>(kept);
  return true;
}

CheckResult ParseGpsTime(const char* text, double* gps_seconds) {
  if (text == nullptr || TooLong(text)) return CheckFailed("Bad time: text missing or too long");
  const char* p = text;
  while (*p == ' ') ++p;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool ok = ReadDigits(&p, 4, &year);
  // The date's separator, '-' or '/', the same twice.
  const char separator = ok && (*p == '-' || *p == '/') ? *p : '\0';
  ok = ok && separator != '\0' && Expect(&p, separator) && ReadDigits(&p, 2, &month) &&
       Expect(&p, separator) && ReadDigits(&p, 2, &day);
  // A date alone is its midnight.
  const char* rest = p;
  while (*rest == ' ') ++rest;
  const bool date_only = ok && *rest == '\0';
  if (date_only) {
    p = rest;
  } else if (ok && (*p == ' ' || (*p == 'T' && separator == '-'))) {
    ++p;
    ok = ReadDigits(&p, 2, &hour) && Expect(&p, ':') && ReadDigits(&p, 2, &minute) &&
         Expect(&p, ':') && ReadDigits(&p, 2, &second);
  } else {
    ok = false;
  }
  double fraction = 0.0;
  if (ok && *p == '.') {
    const char* start = p;
    ++p;
    if (!IsDigit(*p)) ok = false;
    while (IsDigit(*p)) ++p;
    if (ok) fraction = std::strtod(start, nullptr);
  }
  while (ok && *p == ' ') ++p;
  if (!ok || *p != '\0')
    return CheckFailed(
        "Bad time \"%.40s\": expected YYYY-MM-DD HH:MM:SS, YYYY/MM/DD HH:MM:SS or a date alone",
        text);
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59)
    return CheckFailed("Bad time \"%.40s\": no such date or time", text);
  const int64_t days = DaysFromCivil(year, month, day) - kGpsEpochDays;
  if (days < 0) return CheckFailed("Bad time \"%.40s\": before the GPS epoch 1980-01-06", text);
  *gps_seconds = static_cast<double>(days) * kSecondsPerDay + hour * 3600.0 + minute * 60.0 +
                 second + fraction;
  return CheckOk();
}

CheckResult ParseWindow(const char* from, const char* to, Selection* selection) {
  double start = 0.0, end = 0.0;
  const bool has_from = from != nullptr && from[0] != '\0';
  const bool has_to = to != nullptr && to[0] != '\0';
  if (has_from) {
    const CheckResult r = ParseGpsTime(from, &start);
    if (!r.Ok) return r;
  }
  if (has_to) {
    const CheckResult r = ParseGpsTime(to, &end);
    if (!r.Ok) return r;
  }
  if (has_from && has_to && !(start < end))
    return CheckFailed("Bad time window: the start must lie before the end");
  selection->HasFrom = has_from ? 1 : 0;
  selection->From = start;
  selection->HasTo = has_to ? 1 : 0;
  selection->To = end;
  return CheckOk();
}

CheckResult ParseInterval(const char* text, double* seconds) {
  if (text == nullptr || TooLong(text))
    return CheckFailed("Bad interval: text missing or too long");
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  while (end != nullptr && *end == ' ') ++end;
  if (end == text || end == nullptr || *end != '\0' || !std::isfinite(value))
    return CheckFailed("Bad interval \"%.40s\": expected a number of seconds", text);
  if (!(value > 0.0) || value > kSecondsPerDay)
    return CheckFailed("Bad interval \"%.40s\": must be above 0 and at most 86400 s", text);
  *seconds = value;
  return CheckOk();
}

CheckResult ParseExclusions(const char* text, Selection* selection) {
  if (text == nullptr || TooLong(text))
    return CheckFailed("Bad exclusion list: text missing or too long");
  if (EndsWithComma(text)) return CheckFailed("Bad exclusion list \"%.40s\": empty item", text);
  Selection result = *selection;
  const char* p = text;
  char item[8];
  bool too_long = false;
  int items = 0;
  while (NextItem(&p, item, sizeof item, &too_long)) {
    ++items;
    const char system = item[0];
    if (too_long || (system != 'G' && system != 'R'))
      return CheckFailed("Bad exclusion \"%s\": expected G, R, Gnn or Rnn", item);
    if (item[1] == '\0') {
      (system == 'G' ? result.ExcludeGps : result.ExcludeGlonass) = 1;
      continue;
    }
    int number = 0;
    const char* q = item + 1;
    if (!ReadDigits(&q, 2, &number) || *q != '\0')
      return CheckFailed("Bad exclusion \"%s\": expected G, R, Gnn or Rnn", item);
    const int limit = system == 'G' ? kGpsSatellites : kGlonassSlots;
    if (number < 1 || number > limit)
      return CheckFailed("Bad exclusion \"%s\": %c satellites are 01..%02d", item, system, limit);
    result.ExcludedSatellites[system == 'G' ? number : kGpsSatellites + number] = 1;
  }
  if (items == 0) return CheckFailed("Bad exclusion list: empty");
  *selection = result;
  return CheckOk();
}

CheckResult ParseObsTypes(const char* text, uint32_t* types) {
  if (text == nullptr || TooLong(text))
    return CheckFailed("Bad observation types: text missing or too long");
  if (EndsWithComma(text)) return CheckFailed("Bad observation types \"%.40s\": empty item", text);
  uint32_t result = 0;
  const char* p = text;
  char item[8];
  bool too_long = false;
  while (NextItem(&p, item, sizeof item, &too_long)) {
    int found = -1;
    for (int i = 0; i < kSelectableTypes && !too_long; ++i)
      if (std::strcmp(item, kSelectableTypeNames[i]) == 0) found = i;
    if (found < 0 && !too_long) found = Rinex3CodeIndex(item);
    if (found < 0 || found >= kSelectableTypes)
      return CheckFailed(
          "Bad observation type \"%s\": expected C1 L1 L2 P1 P2 D1 S1 S2 or C1C L1C L2W C1W "
          "C2W D1C S1C S2W (GLONASS L2P C1P C2P S2P)",
          item);
    result |= 1u << found;
  }
  if (result == 0) return CheckFailed("Bad observation types: empty list");
  *types = result;
  return CheckOk();
}

CheckResult CheckTypesPresent(uint32_t kept, uint32_t present) {
  const uint32_t absent = kept & ~present & kAllTypesMask;
  for (int i = 0; i < kSelectableTypes; ++i) {
    if (absent & (1u << i))
      return CheckFailed("Observation type %s is not in the data", kSelectableTypeNames[i]);
  }
  return CheckOk();
}

}  // namespace rawconv
