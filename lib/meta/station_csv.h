// The station table of a network: a CSV file (RFC 4180: commas, fields in
// double quotes may hold commas, quotes ("") and line ends; LF or CRLF)
// with a header row naming its columns and one row per station and period,
// keyed by the station's marker. Column names are those of the
// command-line options they stand for, in any letter case, "-" or "_":
//
//   marker            4- or 9-character station ID (required); the key
//   from, to          validity period, UTC: "YYYY-MM-DD" or
//                     "YYYY-MM-DD hh:mm[:ss]" ("T" and a trailing "Z"
//                     allowed); from is the first time of the row, to the
//                     first time after it; empty: open
//   marker_number     MARKER NUMBER
//   station_id        nine-character ID of long names
//   observer, agency  OBSERVER / AGENCY
//   receiver_number, receiver_type, receiver_version    REC # / TYPE / VERS
//   antenna_number, antenna_type (with its radome)     ANT # / TYPE
//   antenna_height    metres, H of ANTENNA: DELTA H/E/N
//   antenna_delta     "H,E,N" metres
//   position          "X,Y,Z" metres, or the three columns
//   position_x, position_y, position_z
//
// An empty cell gives nothing (the other sources fill that field). Blank
// lines and lines starting with "#" are skipped. A marker may have several
// rows for different periods; rows of one station whose periods overlap
// are an error naming both lines. Unknown columns, a row with more or fewer
// cells than the header, numbers that do not read and texts that do not fit
// their header columns fail naming the file, line and column.
#ifndef RAWCONV_META_STATION_CSV_H_
#define RAWCONV_META_STATION_CSV_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rawconv {
namespace meta {

// The widths the texts must fit (their header columns), given by the caller.
struct StationTextLimits {
  size_t Observer = 20;
  size_t Agency = 40;
  size_t Header = 20;       // marker_number, receiver_*, antenna_*
  double MaxNumber = 1e9;   // the most a number of F14.4 holds (exclusive)
};

struct StationRow {
  int Line = 0;        // line of the row in the file
  std::string Marker;  // as written
  int64_t From = INT64_MIN;  // seconds since 1970 (see sitelog.h)
  int64_t To = INT64_MAX;
  std::string MarkerNumber, StationId, Observer, Agency;
  std::string ReceiverNumber, ReceiverType, ReceiverVersion;
  std::string AntennaNumber, AntennaType;
  bool HasAntennaHeight = false;
  double AntennaHeight = 0.0;
  bool HasAntennaDelta = false;
  double AntennaDelta[3] = {0.0, 0.0, 0.0};  // H, E, N
  bool HasPosition = false;
  double Position[3] = {0.0, 0.0, 0.0};
};

struct StationTable {
  std::string Path;
  std::vector<StationRow> Rows;
};

// Reads a table from its text; path names it in messages. false with the
// reason ("Station table net.csv line 4 column antenna_height: 'x' is not a
// number").
bool ParseStationTable(const std::string& text, const std::string& path,
                       const StationTextLimits& limits, StationTable* table, std::string* error);

// Reads the file (plain or gzip, at most 16 MB) and parses it.
bool ReadStationTable(const std::string& path, const StationTextLimits& limits,
                      StationTable* table, std::string* error);

// The row of a station at a time: its marker matches the row's (case
// aside; a four-character key matches every nine-character ID starting
// with it) and the time lies in the row's period. nullptr when none does;
// *has_rows then tells whether the station has rows for other times.
const StationRow* FindStationRow(const StationTable& table, const std::string& marker,
                                 int64_t at, bool* has_rows);

}  // namespace meta
}  // namespace rawconv

#endif  // RAWCONV_META_STATION_CSV_H_
