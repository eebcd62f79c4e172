// Reader of RINEX 2 observation files for tests and tools (header-only).
//
//   RinexObsFile file;
//   std::string error;
//   if (!ReadRinexObsFile(path, &file, &error)) ...   // or ParseRinexObs(text, ...)
//
// Header: every line is kept in Lines; the labels below are also decoded:
// RINEX VERSION / TYPE, MARKER NAME, REC # / TYPE / VERS, ANT # / TYPE,
// APPROX POSITION XYZ, ANTENNA: DELTA H/E/N, # / TYPES OF OBSERV (with its
// continuation lines), INTERVAL, TIME OF FIRST OBS.
//
// Epochs, in file order, one RinexObsEpoch per epoch or event record:
// - flags 0, 1 and 6: observation epochs; the satellite list may continue on
//   further lines (12 satellites a line); a blank system letter means GPS;
//   then per satellite ceil(types / 5) lines of 16-column fields (F14.3, LLI,
//   signal strength); a blank field is missing, a short line has its missing
//   fields at the end.
// - flags 2 to 5: events; the count field is the number of header records
//   that follow, kept in EventLines; the date may be blank (HasDate false).
// Two-digit years are 1980..2079. Lines may end in CR LF.
#ifndef RAWCONV_TESTS_SUPPORT_RINEX_OBS_H_
#define RAWCONV_TESTS_SUPPORT_RINEX_OBS_H_

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace rawconv {
namespace rnxtest {

struct RinexObsValue {
  bool Present = false;
  double Value = 0.0;
  int Lli = -1;  // -1 blank, else 0..9
  int Ssi = -1;  // -1 blank, else 0..9
};

struct RinexSatObs {
  char System = 'G';  // 'G', 'R', 'E', 'S', ...; blank read as 'G'
  int Prn = 0;
  std::vector<RinexObsValue> Values;  // one per header observation type
};

struct RinexObsEpoch {
  bool HasDate = true;
  int Year = 0;  // four digits
  int Month = 0, Day = 0, Hour = 0, Minute = 0;
  double Second = 0.0;
  int Flag = 0;
  int Count = 0;  // satellites (observation epochs) or header records (events)
  bool HasClockOffset = false;
  double ClockOffset = 0.0;
  std::vector<RinexSatObs> Sats;
  std::vector<std::string> EventLines;  // header records of an event
  bool IsEvent() const { return Flag >= 2 && Flag <= 5; }
};

struct RinexObsHeader {
  double Version = 0.0;
  char FileType = ' ';
  char System = ' ';
  std::string MarkerName;
  std::string ReceiverNumber, ReceiverType, ReceiverVersion;
  std::string AntennaNumber, AntennaType;
  bool HasApproxPosition = false;
  double ApproxX = 0.0, ApproxY = 0.0, ApproxZ = 0.0;
  double AntennaH = 0.0, AntennaE = 0.0, AntennaN = 0.0;
  std::vector<std::string> ObsTypes;
  bool HasInterval = false;
  double Interval = 0.0;
  bool HasFirstObs = false;
  int FirstYear = 0, FirstMonth = 0, FirstDay = 0, FirstHour = 0, FirstMinute = 0;
  double FirstSecond = 0.0;
  std::string FirstTimeSystem;
  std::vector<std::string> Lines;  // every header line, END OF HEADER included

  // Index of an observation type ("C1"), or -1.
  int TypeIndex(const std::string& type) const {
    for (size_t i = 0; i < ObsTypes.size(); ++i) {
      if (ObsTypes[i] == type) return static_cast<int>(i);
    }
    return -1;
  }
};

struct RinexObsFile {
  RinexObsHeader Header;
  std::vector<RinexObsEpoch> Epochs;
};

namespace detail {

inline std::string Field(const std::string& line, size_t start, size_t width) {
  if (start >= line.size()) return std::string();
  return line.substr(start, width);
}

inline std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  const size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

inline bool IsBlank(const std::string& s) { return Trim(s).empty(); }

// Number in a fixed field; Fortran D exponents are accepted. False when the
// field is blank or not a number.
inline bool ParseDouble(const std::string& field, double* out) {
  std::string t = Trim(field);
  if (t.empty()) return false;
  for (char& c : t) {
    if (c == 'D' || c == 'd') c = 'E';
  }
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || *end != '\0') return false;
  *out = v;
  return true;
}

inline bool ParseInt(const std::string& field, int* out) {
  const std::string t = Trim(field);
  if (t.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(t.c_str(), &end, 10);
  if (end == t.c_str() || *end != '\0') return false;
  *out = static_cast<int>(v);
  return true;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(at, nl - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = nl + 1;
  }
  return lines;
}

inline bool Fail(std::string* error, size_t line_no, const std::string& what) {
  if (error) *error = "line " + std::to_string(line_no + 1) + ": " + what;
  return false;
}

inline int FullYear(int two_digit) { return two_digit < 80 ? 2000 + two_digit : 1900 + two_digit; }

inline bool ParseHeaderLine(const std::string& line, RinexObsHeader* h, bool* in_types,
                            int* types_wanted) {
  const std::string label = Trim(Field(line, 60, 20));
  h->Lines.push_back(line);
  if (label == "RINEX VERSION / TYPE") {
    ParseDouble(Field(line, 0, 9), &h->Version);
    h->FileType = line.size() > 20 ? line[20] : ' ';
    h->System = line.size() > 40 ? line[40] : ' ';
  } else if (label == "MARKER NAME") {
    h->MarkerName = Trim(Field(line, 0, 60));
  } else if (label == "REC # / TYPE / VERS") {
    h->ReceiverNumber = Trim(Field(line, 0, 20));
    h->ReceiverType = Trim(Field(line, 20, 20));
    h->ReceiverVersion = Trim(Field(line, 40, 20));
  } else if (label == "ANT # / TYPE") {
    h->AntennaNumber = Trim(Field(line, 0, 20));
    h->AntennaType = Trim(Field(line, 20, 20));
  } else if (label == "APPROX POSITION XYZ") {
    h->HasApproxPosition = ParseDouble(Field(line, 0, 14), &h->ApproxX) &&
                           ParseDouble(Field(line, 14, 14), &h->ApproxY) &&
                           ParseDouble(Field(line, 28, 14), &h->ApproxZ);
  } else if (label == "ANTENNA: DELTA H/E/N") {
    ParseDouble(Field(line, 0, 14), &h->AntennaH);
    ParseDouble(Field(line, 14, 14), &h->AntennaE);
    ParseDouble(Field(line, 28, 14), &h->AntennaN);
  } else if (label == "# / TYPES OF OBSERV") {
    int n = 0;
    if (ParseInt(Field(line, 0, 6), &n)) {
      *types_wanted = n;
      h->ObsTypes.clear();
    } else if (!*in_types) {
      return false;  // a continuation line without its first line
    }
    for (int i = 0; i < 9 && static_cast<int>(h->ObsTypes.size()) < *types_wanted; ++i) {
      const std::string t = Trim(Field(line, 6 + 6 * static_cast<size_t>(i), 6));
      if (t.empty()) break;
      h->ObsTypes.push_back(t);
    }
    *in_types = static_cast<int>(h->ObsTypes.size()) < *types_wanted;
  } else if (label == "INTERVAL") {
    h->HasInterval = ParseDouble(Field(line, 0, 10), &h->Interval);
  } else if (label == "TIME OF FIRST OBS") {
    h->HasFirstObs = ParseInt(Field(line, 0, 6), &h->FirstYear) &&
                     ParseInt(Field(line, 6, 6), &h->FirstMonth) &&
                     ParseInt(Field(line, 12, 6), &h->FirstDay) &&
                     ParseInt(Field(line, 18, 6), &h->FirstHour) &&
                     ParseInt(Field(line, 24, 6), &h->FirstMinute) &&
                     ParseDouble(Field(line, 30, 13), &h->FirstSecond);
    h->FirstTimeSystem = Trim(Field(line, 48, 3));
  }
  return true;
}

// Epoch line: date, flag, count and, for observation epochs, the first 12
// satellites and the clock offset.
inline bool ParseEpochLine(const std::string& line, RinexObsEpoch* e) {
  if (!ParseInt(Field(line, 28, 1), &e->Flag)) return false;
  if (!ParseInt(Field(line, 29, 3), &e->Count)) e->Count = 0;
  const std::string date = Field(line, 0, 26);
  if (IsBlank(date)) {
    e->HasDate = false;
  } else {
    int yy = 0;
    if (!ParseInt(Field(line, 1, 2), &yy) || !ParseInt(Field(line, 4, 2), &e->Month) ||
        !ParseInt(Field(line, 7, 2), &e->Day) || !ParseInt(Field(line, 10, 2), &e->Hour) ||
        !ParseInt(Field(line, 13, 2), &e->Minute) || !ParseDouble(Field(line, 15, 11), &e->Second)) {
      return false;
    }
    e->Year = FullYear(yy);
  }
  e->HasClockOffset = ParseDouble(Field(line, 68, 12), &e->ClockOffset);
  return true;
}

// Satellites of one line from column 32, up to `wanted` in total.
inline bool ParseSatellites(const std::string& line, size_t wanted, RinexObsEpoch* e) {
  for (size_t k = 0; k < 12 && e->Sats.size() < wanted; ++k) {
    const std::string s = Field(line, 32 + 3 * k, 3);
    RinexSatObs sat;
    sat.System = (s.empty() || s[0] == ' ') ? 'G' : s[0];
    if (!ParseInt(Field(s, 1, 2), &sat.Prn)) return false;
    e->Sats.push_back(sat);
  }
  return true;
}

inline RinexObsValue ParseValue(const std::string& line, size_t field) {
  RinexObsValue v;
  const size_t at = 16 * field;
  v.Present = ParseDouble(Field(line, at, 14), &v.Value);
  const std::string lli = Field(line, at + 14, 1);
  const std::string ssi = Field(line, at + 15, 1);
  if (!lli.empty() && lli[0] >= '0' && lli[0] <= '9') v.Lli = lli[0] - '0';
  if (!ssi.empty() && ssi[0] >= '0' && ssi[0] <= '9') v.Ssi = ssi[0] - '0';
  return v;
}

}  // namespace detail

// Parses the text of a RINEX 2 observation file. On failure returns false
// with the line number and the reason in *error.
inline bool ParseRinexObs(const std::string& text, RinexObsFile* out, std::string* error) {
  using namespace detail;
  *out = RinexObsFile();
  const std::vector<std::string> lines = SplitLines(text);
  size_t i = 0;
  bool in_types = false;
  int types_wanted = 0;
  bool ended = false;
  for (; i < lines.size(); ++i) {
    if (!ParseHeaderLine(lines[i], &out->Header, &in_types, &types_wanted)) {
      return Fail(error, i, "types of observ continuation without a count");
    }
    if (Trim(Field(lines[i], 60, 20)) == "END OF HEADER") {
      ++i;
      ended = true;
      break;
    }
  }
  if (!ended) return Fail(error, i, "no END OF HEADER");
  const size_t ntypes = out->Header.ObsTypes.size();
  const size_t lines_per_sat = (ntypes + 4) / 5;

  while (i < lines.size()) {
    if (IsBlank(lines[i])) {
      ++i;
      continue;
    }
    RinexObsEpoch e;
    if (!ParseEpochLine(lines[i], &e)) return Fail(error, i, "bad epoch line");
    const std::string& first = lines[i];
    ++i;
    if (e.IsEvent()) {
      for (int k = 0; k < e.Count; ++k, ++i) {
        if (i >= lines.size()) return Fail(error, i, "event records cut short");
        e.EventLines.push_back(lines[i]);
      }
      out->Epochs.push_back(e);
      continue;
    }
    if (e.Count < 0) return Fail(error, i - 1, "negative satellite count");
    const size_t nsat = static_cast<size_t>(e.Count);
    if (!ParseSatellites(first, nsat, &e)) return Fail(error, i - 1, "bad satellite list");
    while (e.Sats.size() < nsat) {
      if (i >= lines.size()) return Fail(error, i, "satellite list cut short");
      if (!ParseSatellites(lines[i], nsat, &e)) return Fail(error, i, "bad satellite list");
      ++i;
    }
    for (RinexSatObs& sat : e.Sats) {
      for (size_t l = 0; l < lines_per_sat; ++l, ++i) {
        if (i >= lines.size()) return Fail(error, i, "observations cut short");
        for (size_t f = 0; f < 5 && sat.Values.size() < ntypes; ++f) {
          sat.Values.push_back(ParseValue(lines[i], f));
        }
      }
    }
    out->Epochs.push_back(e);
  }
  return true;
}

// Reads a file in text mode and parses it.
inline bool ReadRinexObsFile(const std::string& path, RinexObsFile* out, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) {
    if (error) *error = "cannot open " + path;
    return false;
  }
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return ParseRinexObs(text, out, error);
}

}  // namespace rnxtest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_RINEX_OBS_H_
