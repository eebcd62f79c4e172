#include "meta/sitelog.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "io/input_file.h"
#include "meta/text_fields.h"
#include "time/calendar.h"

namespace rawconv {
namespace meta {
namespace {

// One "Key : value" line of the form, its key folded to lower case with
// single blanks.
struct Field {
  std::string Key;
  std::string Value;
  int Line;
};

// The section number at column 0 of a line ("3.", "3.1", "4.x", "8.1.1"):
// its text and where the rest of the line starts; false when the line does
// not start with one.
bool SectionNumber(const std::string& line, std::string* number, size_t* rest) {
  size_t i = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
  if (i == 0 || i > 2 || i >= line.size() || line[i] != '.') return false;
  ++i;
  while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '.'))
    ++i;
  if (i < line.size() && line[i] != ' ' && line[i] != '\t') return false;
  *number = line.substr(0, i);
  *rest = i;
  return true;
}

std::string FoldKey(const std::string& key) { return Lower(CollapsedBlanks(key)); }

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// A field line's key and value; false for a line without a key (a
// continuation of the field before, a blank line, free text).
bool SplitField(const std::string& text, int line, Field* field) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  field->Key = FoldKey(text.substr(0, colon));
  if (field->Key.empty()) return false;
  field->Value = Trim(text.substr(colon + 1));
  // The form's own placeholders: "(CCYY-MM-DDThh:mmZ)", "(F8.4)", "(A20, ...)".
  if (!field->Value.empty() && field->Value.front() == '(') field->Value.clear();
  field->Line = line;
  return true;
}

bool IsId(const std::string& text, size_t length) {
  return text.size() == length && AllAlnum(text);
}


std::string FirstWord(const std::string& text) {
  const size_t end = text.find_first_of(" \t");
  return end == std::string::npos ? text : text.substr(0, end);
}

std::string Where(const SiteLog& log, int line) {
  return "Site log " + log.Path + " line " + std::to_string(line) + ": ";
}

// A number of the form, with its unit if any ("0.1657 m", "+3611640.014").
bool ReadNumber(const std::string& text, double* value) {
  if (text.empty()) return false;
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(start, &end);
  if (end == start || errno == ERANGE || !std::isfinite(v)) return false;
  for (const char* p = end; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c != ' ' && c != '\t' && !std::isalpha(c)) return false;
  }
  *value = v;
  return true;
}

bool NumberField(const SiteLog& log, const Field& f, const char* what, double* value,
                 std::string* error) {
  if (ReadNumber(f.Value, value)) return true;
  *error = Where(log, f.Line) + what + " '" + f.Value + "' is not a number";
  return false;
}

bool TimeField(const SiteLog& log, const Field& f, const char* what, int64_t* value,
               std::string* error) {
  if (ParseLogTime(f.Value, value)) return true;
  *error = Where(log, f.Line) + what + " '" + f.Value + "' is not a date";
  return false;
}

// The fields of one numbered entry of section 3 or 4, in file order.
struct Entry {
  std::string Number;
  int Line = 0;
  std::vector<Field> Fields;
  const Field* Find(const char* key, bool prefix = false) const {
    for (const Field& f : Fields)
      if (prefix ? StartsWith(f.Key, key) : f.Key == key) return &f;
    return nullptr;
  }
  bool Empty() const {
    for (const Field& f : Fields)
      if (!f.Value.empty()) return false;
    return true;
  }
};

// The words logs write for an entry not removed yet, and the form's date
// placeholder left without its parentheses ("CCYY-MM-DDThh:mmZ").
bool StillInstalled(const std::string& value) {
  const std::string v = Lower(value);
  if (v.compare(0, 4, "ccyy") == 0) return true;
  for (const char* word : {"-", "--", "none", "n/a", "na", "present", "open", "current", "active",
                           "still installed", "in use"})
    if (v == word) return true;
  return false;
}

// The installation period of an entry: Date Installed is needed, an empty
// Date Removed leaves it open.
bool Period(const SiteLog& log, const Entry& e, int64_t* installed, int64_t* removed,
            std::string* error) {
  const Field* in = e.Find("date installed");
  if (in == nullptr || in->Value.empty()) {
    *error = Where(log, in ? in->Line : e.Line) + "entry " + e.Number + " has no Date Installed";
    return false;
  }
  if (!TimeField(log, *in, "Date Installed", installed, error)) return false;
  *removed = kOpenEnd;
  const Field* out = e.Find("date removed");
  if (out != nullptr && !out->Value.empty() && !StillInstalled(out->Value)) {
    if (!TimeField(log, *out, "Date Removed", removed, error)) return false;
    if (*removed < *installed) {
      *error = Where(log, out->Line) + "Date Removed '" + out->Value +
               "' is before Date Installed of entry " + e.Number;
      return false;
    }
  }
  return true;
}

std::string ValueOf(const Entry& e, const char* key) {
  const Field* f = e.Find(key);
  return f ? f->Value : std::string();
}

bool ReadReceiver(const SiteLog& log, const Entry& e, SiteLogReceiver* r, std::string* error) {
  r->Entry = e.Number;
  r->Line = e.Line;
  r->Type = ValueOf(e, "receiver type");
  r->Number = ValueOf(e, "serial number");
  r->Version = ValueOf(e, "firmware version");
  return Period(log, e, &r->Installed, &r->Removed, error);
}

bool ReadAntenna(const SiteLog& log, const Entry& e, SiteLogAntenna* a, std::string* error) {
  a->Entry = e.Number;
  a->Line = e.Line;
  // "TRM55971.00     NONE": the code (no blanks in it) and the radome in
  // columns 17-20; the radome field stands in when the type has none.
  const std::string type = ValueOf(e, "antenna type");
  a->Type = FirstWord(type);
  std::string radome = Trim(type.substr(a->Type.size()));
  if (radome.empty()) radome = FirstWord(ValueOf(e, "antenna radome type"));
  a->Radome = radome.empty() ? "NONE" : Upper(radome);
  a->Number = ValueOf(e, "serial number");
  const struct {
    const char* Key;
    const char* Name;
    double* Value;
  } eccs[] = {{"marker->arp up ecc", "Marker->ARP Up Ecc.", &a->Up},
              {"marker->arp north ecc", "Marker->ARP North Ecc.", &a->North},
              {"marker->arp east ecc", "Marker->ARP East Ecc.", &a->East}};
  for (const auto& ecc : eccs) {
    const Field* f = e.Find(ecc.Key, true);
    if (f == nullptr || f->Value.empty()) continue;
    if (!NumberField(log, *f, ecc.Name, ecc.Value, error)) return false;
    if (ecc.Value == &a->Up) a->HasDelta = true;
  }
  return Period(log, e, &a->Installed, &a->Removed, error);
}

// The file name part of a path (after / or \).
std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void TakeId(const std::string& value, SiteLog* log) {
  const std::string id = FirstWord(value);
  if (IsId(id, 9)) {
    log->Id9 = Upper(id);
    log->Id4 = log->Id9.substr(0, 4);
  } else if (IsId(id, 4) && log->Id4.empty()) {
    log->Id4 = Upper(id);
  }
}

}  // namespace

bool ParseLogTime(const std::string& text, int64_t* seconds) {
  std::string t = Trim(text);
  // A remark after the date: "2016-11-11T10:45Z (approx.)".
  const size_t remark = t.find(" (");
  if (remark != std::string::npos && t.back() == ')') t = Trim(t.substr(0, remark));
  // The time scale written out: "10:45 UTC", "10:45UT".
  for (const char* scale : {"UTC", "UT", "GMT"}) {
    const size_t n = std::strlen(scale);
    if (t.size() > 10 + n && Lower(t.substr(t.size() - n)) == Lower(scale)) {
      t = Trim(t.substr(0, t.size() - n));
      break;
    }
  }
  if (t.size() < 10 || t[4] != '-' || t[7] != '-') return false;
  for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
  const int year = std::atoi(t.c_str());
  const int month = std::atoi(t.c_str() + 5);
  const int day = std::atoi(t.c_str() + 8);
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  int hour = 0, minute = 0, second = 0;
  std::string rest = t.substr(10);
  // A date with the form's time placeholder left in ("2016-11-11Thh:mmZ").
  if (Lower(rest) == "thh:mmz" || Lower(rest) == "z") rest.clear();
  if (!rest.empty()) {
    if (rest[0] != 'T' && rest[0] != 't' && rest[0] != ' ') return false;
    rest = Trim(rest.substr(1));
    if (!rest.empty() && (rest.back() == 'Z' || rest.back() == 'z')) rest.pop_back();
    auto two = [&rest](size_t at, int* value, int limit) {
      if (rest.size() < at + 2 || !std::isdigit(static_cast<unsigned char>(rest[at])) ||
          !std::isdigit(static_cast<unsigned char>(rest[at + 1])))
        return false;
      *value = (rest[at] - '0') * 10 + (rest[at + 1] - '0');
      return *value <= limit;
    };
    if (!two(0, &hour, 23) || rest.size() < 5 || rest[2] != ':' || !two(3, &minute, 59))
      return false;
    if (rest.size() == 8 && rest[5] == ':') {
      if (!two(6, &second, 60)) return false;
    } else if (rest.size() != 5) {
      return false;
    }
  }
  *seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

std::string TimeText(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int64_t year;
  int month, day;
  CivilFromDays(days, year, month, day);
  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d", static_cast<long long>(year),
                month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

bool SiteLogName(const std::string& file_name, std::string* id, int32_t* date) {
  std::string name = file_name;
  if (name.size() < 5) return false;
  if (Lower(name.substr(name.size() - 4)) != ".log") return false;
  name.resize(name.size() - 4);
  const size_t bar = name.find('_');
  const std::string code = name.substr(0, bar);
  if (!IsId(code, 4) && !IsId(code, 9)) return false;
  int32_t day = 0;
  if (bar != std::string::npos) {
    const std::string digits = name.substr(bar + 1);
    if (digits.size() != 8) return false;
    for (char c : digits)
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    day = std::atoi(digits.c_str());
  }
  *id = Upper(code);
  *date = day;
  return true;
}

bool ParseSiteLog(const std::string& text, const std::string& path, SiteLog* log,
                  std::string* error) {
  *log = SiteLog{};
  log->Path = path;
  int major = -1;
  bool seen[5] = {false, false, false, false, false};
  std::vector<Entry> receivers, antennas;
  Entry* entry = nullptr;  // the numbered entry of section 3 or 4 being read
  bool template_entry = false;
  std::string title_id;  // the first word of the form's title
  const Field* coordinates[3] = {nullptr, nullptr, nullptr};
  std::vector<Field> location;
  location.reserve(8);

  size_t pos = 0;
  int line_number = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line_number == 1 && StartsWith(line, "\xEF\xBB\xBF")) line.erase(0, 3);

    std::string number;
    size_t rest = 0;
    std::string body = line;
    if (SectionNumber(line, &number, &rest)) {
      major = std::atoi(number.c_str());
      if (major >= 0 && major < 5) seen[major] = true;
      const size_t dot = number.find('.');
      const std::string sub = number.substr(dot + 1);
      entry = nullptr;
      template_entry = false;
      if ((major == 3 || major == 4) && !sub.empty()) {
        if (sub == "x" || sub == "X") {
          template_entry = true;
        } else {
          std::vector<Entry>& list = major == 3 ? receivers : antennas;
          list.emplace_back();
          entry = &list.back();
          entry->Number = number;
          entry->Line = line_number;
        }
      }
      body = line.substr(rest);
    }
    // The title: "ABCD00DNK Site Information Form (site log v2.0)".
    if (major < 0 && title_id.empty() && line.find("Site Information Form") != std::string::npos) {
      title_id = FirstWord(Trim(line));
      if (line.find("v2.0") != std::string::npos) log->Version2 = true;
    }
    Field f;
    if (!SplitField(body, line_number, &f)) continue;
    if (major == 1) {
      if (f.Key == "four character id" || f.Key == "nine character id") {
        if (f.Key[0] == 'n') log->Version2 = true;
        TakeId(f.Value, log);
      } else if (f.Key == "iers domes number") {
        log->Domes = FirstWord(f.Value);
      } else if (f.Key == "site name") {
        log->SiteName = f.Value;
      }
    } else if (major == 2) {
      location.push_back(f);
    } else if ((major == 3 || major == 4) && entry != nullptr && !template_entry) {
      entry->Fields.push_back(f);
    }
  }

  // The ID: the log's own, else its title's, else its file name's.
  if (log->Id4.empty()) TakeId(title_id, log);
  if (log->Id4.empty()) {
    std::string id;
    int32_t date = 0;
    if (SiteLogName(BaseName(path), &id, &date)) {
      if (id.size() == 9) log->Id9 = id;
      log->Id4 = id.substr(0, 4);
    }
  }
  if (log->Id4.empty()) {
    *error = "Site log " + path + " has no Four Character ID or Nine Character ID";
    return false;
  }
  for (int section : {3, 4}) {
    if (!seen[section]) {
      *error = "Site log " + path + " has no section " + std::to_string(section) + " (" +
               (section == 3 ? "GNSS Receiver Information" : "GNSS Antenna Information") + ")";
      return false;
    }
  }

  for (const Field& f : location) {
    for (int axis = 0; axis < 3; ++axis) {
      const char* keys[] = {"x coordinate", "y coordinate", "z coordinate"};
      if (StartsWith(f.Key, keys[axis]) && coordinates[axis] == nullptr) coordinates[axis] = &f;
    }
  }
  int given = 0;
  for (const Field* f : coordinates) given += f != nullptr && !f->Value.empty();
  if (given == 3) {
    const char* names[] = {"X coordinate", "Y coordinate", "Z coordinate"};
    for (int axis = 0; axis < 3; ++axis)
      if (!NumberField(*log, *coordinates[axis], names[axis], &log->Position[axis], error))
        return false;
    // All zero is the form left unfilled.
    log->HasPosition = log->Position[0] != 0.0 || log->Position[1] != 0.0 ||
                       log->Position[2] != 0.0;
  }

  for (const Entry& e : receivers) {
    if (e.Empty()) continue;  // an entry of the form left unfilled
    SiteLogReceiver r;
    // An entry that does not read is kept with its fault: it fails only a
    // recording it may describe (see PickEntries).
    if (!ReadReceiver(*log, e, &r, &r.Problem)) r.Installed = 0, r.Removed = kOpenEnd;
    log->Receivers.push_back(r);
  }
  for (const Entry& e : antennas) {
    if (e.Empty()) continue;
    SiteLogAntenna a;
    if (!ReadAntenna(*log, e, &a, &a.Problem)) a.Installed = 0, a.Removed = kOpenEnd;
    log->Antennas.push_back(a);
  }
  return true;
}

bool ReadSiteLog(const std::string& path, SiteLog* log, std::string* error) {
  std::string text;
  if (!ReadRecordFile(path, kMaxSiteLogBytes, "site log", &text, error)) return false;
  return ParseSiteLog(text, path, log, error);
}

namespace {

template <typename T>
const T* Installed(const std::vector<T>& entries, int64_t at) {
  const T* chosen = nullptr;
  for (const T& e : entries)
    if (e.Problem.empty() && e.Installed <= at && at < e.Removed &&
        (chosen == nullptr || e.Installed >= chosen->Installed))
      chosen = &e;
  return chosen;
}

// The fault of an entry that may describe time `at`: entries follow each
// other in time, so one that does not read lies before the next one that
// does; it matters unless that next one was installed by `at`.
template <typename T>
const T* FaultAt(const std::vector<T>& entries, int64_t at) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].Problem.empty()) continue;
    size_t next = i + 1;
    while (next < entries.size() && !entries[next].Problem.empty()) ++next;
    if (next == entries.size() || at < entries[next].Installed) return &entries[i];
  }
  return nullptr;
}

// The warning of a recording that runs past the chosen entry: its removal,
// or the installation of another entry within the recording.
template <typename T>
void SpanWarning(const SiteLog& log, const std::vector<T>& entries, const T& chosen, int64_t first,
                 int64_t last, const char* what, std::vector<std::string>* warnings) {
  std::string change;
  if (chosen.Removed != kOpenEnd && last >= chosen.Removed) {
    change = "entry " + chosen.Entry + " removed " + TimeText(chosen.Removed);
  } else {
    for (const T& e : entries) {
      if (&e != &chosen && e.Problem.empty() && e.Installed > first && e.Installed <= last) {
        change = "entry " + e.Entry + " installed " + TimeText(e.Installed);
        break;
      }
    }
  }
  if (change.empty()) return;
  warnings->push_back("Recording " + TimeText(first) + " to " + TimeText(last) +
                      " spans a change of " + what + " in site log " + log.Path + " (" + change +
                      "): the header gives the " + what + " of " + TimeText(first));
}

}  // namespace

bool SameStation(const std::string& a, const std::string& b) {
  const std::string ua = Upper(a), ub = Upper(b);
  if (ua.size() < 4 || ub.size() < 4 || ua.compare(0, 4, ub, 0, 4) != 0) return false;
  return ua.size() == 4 || ub.size() == 4 || ua == ub;
}

bool FindSiteLog(const std::string& folder, const std::string& marker, std::string* path,
                 std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(fs::u8path(folder), ec);
  if (ec) {
    *error = "Cannot read site log folder " + folder + ": " + SystemReason(ec.value());
    return false;
  }
  std::string best, best_id, other_id, other_name;
  int32_t best_date = -1;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) {
      *error = "Cannot read site log folder " + folder + ": " + SystemReason(ec.value());
      return false;
    }
    const std::string name = it->path().filename().u8string();
    std::string id;
    int32_t date = 0;
    if (!SiteLogName(name, &id, &date) || !SameStation(id, marker)) continue;
    std::error_code type_ec;
    if (it->is_directory(type_ec)) continue;
    // Two nine-character IDs for one four-character marker: which station
    // is meant cannot be told.
    if (id.size() == 9 && !best_id.empty() && best_id.size() == 9 && id != best_id) {
      other_id = id;
      other_name = name;
    }
    const bool newer = date > best_date || (date == best_date && id.size() > best_id.size()) ||
                       (date == best_date && id.size() == best_id.size() && name > best);
    if (newer) {
      if (id.size() == 9 && best_id.size() == 9 && id != best_id) {
        other_id = best_id;
        other_name = best;
      }
      best = name;
      best_id = id;
      best_date = date;
    }
  }
  if (best.empty()) {
    *error = "No site log for station " + Upper(marker) + " in folder " + folder +
             " (looked for " + Lower(marker) + "*_CCYYMMDD.log)";
    return false;
  }
  if (!other_id.empty()) {
    *error = "Site logs of two stations match marker " + Upper(marker) + " in folder " + folder +
             ": " + best + " and " + other_name + "; give the nine-character station_id";
    return false;
  }
  *path = (fs::u8path(folder) / fs::u8path(best)).u8string();
  return true;
}

bool PickEntries(const SiteLog& log, int64_t first, int64_t last, SiteLogPick* pick,
                 std::string* error) {
  *pick = SiteLogPick{};
  if (last < first) last = first;
  if (const SiteLogReceiver* r = FaultAt(log.Receivers, first)) {
    *error = r->Problem;
    return false;
  }
  if (const SiteLogAntenna* a = FaultAt(log.Antennas, first)) {
    *error = a->Problem;
    return false;
  }
  pick->Receiver = Installed(log.Receivers, first);
  if (pick->Receiver == nullptr) {
    *error = "Site log " + log.Path + " has no receiver installed at " + TimeText(first);
    return false;
  }
  pick->Antenna = Installed(log.Antennas, first);
  if (pick->Antenna == nullptr) {
    *error = "Site log " + log.Path + " has no antenna installed at " + TimeText(first);
    return false;
  }
  SpanWarning(log, log.Receivers, *pick->Receiver, first, last, "receiver", &pick->Warnings);
  SpanWarning(log, log.Antennas, *pick->Antenna, first, last, "antenna", &pick->Warnings);
  return true;
}

}  // namespace meta
}  // namespace rawconv
