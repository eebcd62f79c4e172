#include "meta/station_csv.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "io/input_file.h"
#include "meta/sitelog.h"
#include "meta/text_fields.h"

namespace rawconv {
namespace meta {
namespace {

constexpr size_t kMaxTableBytes = 16u << 20;

// One record of the file: its cells and the line it starts on.
struct Record {
  int Line = 0;
  std::vector<std::string> Cells;
};

// Splits the text into records (RFC 4180). false with the reason for a
// quote left open.
bool SplitRecords(const std::string& text, const std::string& path, std::vector<Record>* out,
                  std::string* error) {
  size_t i = 0;
  int line = 1;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;  // a byte order mark
  while (i < text.size()) {
    Record r;
    r.Line = line;
    std::string cell;
    bool quoted_cell = false;
    bool any = false;
    for (;;) {
      if (i >= text.size()) {
        r.Cells.push_back(cell);
        break;
      }
      char c = text[i];
      if (c == '"' && cell.empty() && !quoted_cell) {
        // A quoted cell: up to the closing quote, "" standing for one.
        quoted_cell = true;
        any = true;
        const int start = line;
        ++i;
        for (;;) {
          if (i >= text.size()) {
            *error = "Station table " + path + " line " + std::to_string(start) +
                     ": a quote is not closed";
            return false;
          }
          if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
              cell += '"';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          if (text[i] == '\n') ++line;
          cell += text[i++];
        }
        continue;
      }
      if (c == ',') {
        r.Cells.push_back(cell);
        cell.clear();
        quoted_cell = false;
        any = true;
        ++i;
        continue;
      }
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i, c = '\n';
      if (c == '\n') {
        ++i;
        ++line;
        r.Cells.push_back(cell);
        break;
      }
      if (c != ' ' && c != '\t') any = true;
      cell += c;
      ++i;
    }
    // Blank lines and comments.
    if (!any && (r.Cells.size() == 1 && Trim(r.Cells[0]).empty())) continue;
    if (!r.Cells.empty() && !r.Cells[0].empty() && Trim(r.Cells[0])[0] == '#' && r.Line > 1)
      continue;
    out->push_back(r);
  }
  return true;
}

enum class Column {
  kMarker, kFrom, kTo, kMarkerNumber, kStationId, kObserver, kAgency, kReceiverNumber,
  kReceiverType, kReceiverVersion, kAntennaNumber, kAntennaType, kAntennaHeight,
  kAntennaDelta, kPosition, kPositionX, kPositionY, kPositionZ,
};

struct ColumnName {
  const char* Name;
  Column Id;
};
constexpr ColumnName kColumns[] = {
    {"marker", Column::kMarker},
    {"from", Column::kFrom},
    {"to", Column::kTo},
    {"marker_number", Column::kMarkerNumber},
    {"station_id", Column::kStationId},
    {"observer", Column::kObserver},
    {"agency", Column::kAgency},
    {"receiver_number", Column::kReceiverNumber},
    {"receiver_type", Column::kReceiverType},
    {"receiver_version", Column::kReceiverVersion},
    {"antenna_number", Column::kAntennaNumber},
    {"antenna_type", Column::kAntennaType},
    {"antenna_height", Column::kAntennaHeight},
    {"antenna_delta", Column::kAntennaDelta},
    {"position", Column::kPosition},
    {"position_x", Column::kPositionX},
    {"position_y", Column::kPositionY},
    {"position_z", Column::kPositionZ},
};

std::string FoldName(const std::string& text) {
  std::string out = Trim(text);
  for (char& c : out) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c == '-') c = '_';
  }
  return out;
}

bool IsId(const std::string& text) {
  return (text.size() == 4 || text.size() == 9) && AllAlnum(text);
}

bool ReadDouble(const std::string& text, double* value) {
  const std::string t = Trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || errno == ERANGE || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

class RowReader {
 public:
  RowReader(const std::string& path, const StationTextLimits& limits, int line,
            std::string* error)
      : path_(path), limits_(limits), line_(line), error_(error) {}

  bool Fail(const char* column, const std::string& what) {
    *error_ = "Station table " + path_ + " line " + std::to_string(line_) + " column " + column +
              ": " + what;
    return false;
  }

  bool Text(const char* column, const std::string& cell, size_t width, std::string* out) {
    const std::string t = Trim(cell);
    if (const size_t at = FirstUnprintable(t)) {
      char where[80];
      std::snprintf(where, sizeof where, "not printable ASCII (byte 0x%02x at %zu)",
                    static_cast<unsigned char>(t[at - 1]), at);
      return Fail(column, where);
    }
    if (t.size() > width)
      return Fail(column, "'" + t + "' is longer than " + std::to_string(width) + " characters");
    *out = t;
    return true;
  }

  bool Number(const char* column, const std::string& cell, double* out) {
    if (!ReadDouble(cell, out) || std::fabs(*out) >= limits_.MaxNumber)
      return Fail(column, "'" + Trim(cell) + "' is not a number that fits F14.4");
    return true;
  }

  bool Triple(const char* column, const std::string& cell, double out[3]) {
    const std::string t = Trim(cell);
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
      const size_t comma = t.find(',', start);
      if ((i < 2) != (comma != std::string::npos))
        return Fail(column, "'" + t + "' is not three numbers separated by commas");
      const std::string part = t.substr(start, comma == std::string::npos ? std::string::npos
                                                                           : comma - start);
      if (!ReadDouble(part, &out[i]) || std::fabs(out[i]) >= limits_.MaxNumber)
        return Fail(column, "'" + t + "' is not three numbers that fit F14.4");
      start = comma + 1;
    }
    return true;
  }

  bool Time(const char* column, const std::string& cell, int64_t* out) {
    if (!ParseLogTime(cell, out))
      return Fail(column, "'" + Trim(cell) + "' is not a date (YYYY-MM-DD or YYYY-MM-DD hh:mm)");
    return true;
  }

 private:
  const std::string& path_;
  const StationTextLimits& limits_;
  int line_;
  std::string* error_;
};

bool ReadRow(const Record& record, const std::vector<Column>& columns,
             const std::vector<std::string>& names, const std::string& path,
             const StationTextLimits& limits, StationRow* row, std::string* error) {
  RowReader read(path, limits, record.Line, error);
  row->Line = record.Line;
  bool has_xyz[3] = {false, false, false};
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string& cell = record.Cells[i];
    const char* name = names[i].c_str();
    if (Trim(cell).empty()) continue;
    bool ok = true;
    switch (columns[i]) {
      case Column::kMarker:
        row->Marker = Trim(cell);
        if (!IsId(row->Marker))
          return read.Fail(name, "'" + row->Marker + "' is not a 4- or 9-character station ID");
        break;
      case Column::kFrom: ok = read.Time(name, cell, &row->From); break;
      case Column::kTo: ok = read.Time(name, cell, &row->To); break;
      case Column::kMarkerNumber: ok = read.Text(name, cell, limits.Header, &row->MarkerNumber); break;
      case Column::kStationId:
        ok = read.Text(name, cell, 9, &row->StationId);
        if (ok && (row->StationId.size() != 9 || !IsId(row->StationId)))
          return read.Fail(name, "'" + row->StationId + "' is not a nine-character station ID");
        break;
      case Column::kObserver: ok = read.Text(name, cell, limits.Observer, &row->Observer); break;
      case Column::kAgency: ok = read.Text(name, cell, limits.Agency, &row->Agency); break;
      case Column::kReceiverNumber: ok = read.Text(name, cell, limits.Header, &row->ReceiverNumber); break;
      case Column::kReceiverType: ok = read.Text(name, cell, limits.Header, &row->ReceiverType); break;
      case Column::kReceiverVersion: ok = read.Text(name, cell, limits.Header, &row->ReceiverVersion); break;
      case Column::kAntennaNumber: ok = read.Text(name, cell, limits.Header, &row->AntennaNumber); break;
      case Column::kAntennaType: ok = read.Text(name, cell, limits.Header, &row->AntennaType); break;
      case Column::kAntennaHeight:
        ok = read.Number(name, cell, &row->AntennaHeight);
        if (ok && row->AntennaHeight < 0.0) return read.Fail(name, "the height is negative");
        row->HasAntennaHeight = true;
        break;
      case Column::kAntennaDelta:
        ok = read.Triple(name, cell, row->AntennaDelta);
        row->HasAntennaDelta = true;
        break;
      case Column::kPosition:
        ok = read.Triple(name, cell, row->Position);
        row->HasPosition = true;
        break;
      case Column::kPositionX:
      case Column::kPositionY:
      case Column::kPositionZ: {
        const int axis = static_cast<int>(columns[i]) - static_cast<int>(Column::kPositionX);
        ok = read.Number(name, cell, &row->Position[axis]);
        has_xyz[axis] = true;
        break;
      }
    }
    if (!ok) return false;
  }
  if (row->Marker.empty()) return read.Fail("marker", "no marker");
  if (has_xyz[0] || has_xyz[1] || has_xyz[2]) {
    if (!(has_xyz[0] && has_xyz[1] && has_xyz[2]))
      return read.Fail("position_x", "give position_x, position_y and position_z together");
    row->HasPosition = true;
  }
  if (row->To <= row->From) return read.Fail("to", "the period ends before it begins");
  return true;
}

}  // namespace

bool ParseStationTable(const std::string& text, const std::string& path,
                       const StationTextLimits& limits, StationTable* table, std::string* error) {
  *table = StationTable{};
  table->Path = path;
  std::vector<Record> records;
  if (!SplitRecords(text, path, &records, error)) return false;
  if (records.empty()) {
    *error = "Station table " + path + " is empty: it needs a header row";
    return false;
  }
  // The header row.
  const Record& head = records.front();
  std::vector<Column> columns;
  std::vector<std::string> names;
  bool seen[sizeof kColumns / sizeof kColumns[0]] = {};
  for (size_t i = 0; i < head.Cells.size(); ++i) {
    const std::string name = FoldName(head.Cells[i]);
    size_t found = sizeof kColumns / sizeof kColumns[0];
    for (size_t k = 0; k < sizeof kColumns / sizeof kColumns[0]; ++k)
      if (name == kColumns[k].Name) found = k;
    const std::string where =
        "Station table " + path + " line " + std::to_string(head.Line) + " column " +
        std::to_string(i + 1) + ": ";
    if (found == sizeof kColumns / sizeof kColumns[0]) {
      *error = where + "unknown column '" + Trim(head.Cells[i]) + "'";
      return false;
    }
    if (seen[found]) {
      *error = where + "column '" + name + "' appears twice";
      return false;
    }
    seen[found] = true;
    columns.push_back(kColumns[found].Id);
    names.push_back(kColumns[found].Name);
  }
  if (!seen[0]) {
    *error = "Station table " + path + " line " + std::to_string(head.Line) +
             ": no column 'marker'";
    return false;
  }
  const bool single = seen[static_cast<int>(Column::kPosition)];
  if (single && (seen[static_cast<int>(Column::kPositionX)] ||
                 seen[static_cast<int>(Column::kPositionY)] ||
                 seen[static_cast<int>(Column::kPositionZ)])) {
    *error = "Station table " + path + " line " + std::to_string(head.Line) +
             ": give the column 'position' or 'position_x/y/z', not both";
    return false;
  }
  for (size_t r = 1; r < records.size(); ++r) {
    const Record& record = records[r];
    if (record.Cells.size() != columns.size()) {
      *error = "Station table " + path + " line " + std::to_string(record.Line) + ": " +
               std::to_string(record.Cells.size()) + " cells, the header has " +
               std::to_string(columns.size());
      return false;
    }
    StationRow row;
    if (!ReadRow(record, columns, names, path, limits, &row, error)) return false;
    for (const StationRow& other : table->Rows) {
      if (SameStation(other.Marker, row.Marker) && row.From < other.To && other.From < row.To) {
        *error = "Station table " + path + " lines " + std::to_string(other.Line) + " and " +
                 std::to_string(row.Line) + ": the periods of station " + Upper(row.Marker) +
                 " overlap";
        return false;
      }
    }
    table->Rows.push_back(row);
  }
  return true;
}

bool ReadStationTable(const std::string& path, const StationTextLimits& limits,
                      StationTable* table, std::string* error) {
  std::string text;
  if (!ReadRecordFile(path, kMaxTableBytes, "station table", &text, error)) return false;
  return ParseStationTable(text, path, limits, table, error);
}

const StationRow* FindStationRow(const StationTable& table, const std::string& marker,
                                 int64_t at, bool* has_rows) {
  *has_rows = false;
  for (const StationRow& row : table.Rows) {
    if (!SameStation(row.Marker, marker)) continue;
    *has_rows = true;
    if (row.From <= at && at < row.To) return &row;
  }
  return nullptr;
}

}  // namespace meta
}  // namespace rawconv
