// IGS site logs: the station's own record of its identity, position and
// equipment history, as the IGS publishes it in two layouts (the classic
// one with a "Four Character ID" and version 2.0 with a "Nine Character
// ID"). Only what a RINEX header needs is read:
//   1.    Four / Nine Character ID, IERS DOMES Number, Site Name
//   2.    X / Y / Z coordinate (m) of the approximate position
//   3.n   Receiver Type, Serial Number, Firmware Version, Date Installed,
//         Date Removed
//   4.n   Antenna Type (with its radome in columns 17-20), Serial Number,
//         Antenna Radome Type, Marker->ARP Up / North / East Ecc.,
//         Date Installed, Date Removed
// Everything else of the form is skipped.
//
// What real logs hold and how it is read:
//   - line ends LF or CRLF, tabs, trailing blanks, a value cut by its own
//     units ("3611640.0140 m", "0.1657 m") are all taken;
//   - a value in parentheses is the form's own placeholder
//     ("(CCYY-MM-DDThh:mmZ)", "(F8.4)", "(A20, ...)") and counts as empty;
//   - the template entries "3.x" and "4.x" are skipped;
//   - dates are "CCYY-MM-DDThh:mmZ", "CCYY-MM-DDThh:mm", "CCYY-MM-DD hh:mm",
//     with or without seconds, "UTC" or a remark in parentheses after them,
//     or a date alone (its 00:00, also "CCYY-MM-DDThh:mmZ" with the time
//     left unfilled); an empty or placeholder Date Removed, or one of
//     "none", "present", "-", "n/a", means "still installed";
//   - an ID that is not four (nine) letters and digits is taken from the
//     form's title ("ABCD Site Information Form (site log)"), else from the
//     file name when that follows the usual names (abcd_20230101.log,
//     abcd00dnk_20230101.log);
//   - a missing Up eccentricity leaves the antenna delta to the other
//     sources, missing North / East eccentricities are 0.
// Faults that make a log unusable (no ID, no receiver or antenna section, a
// coordinate that does not read) fail the read with the file and line
// named. A receiver or antenna entry that does not read (no Date Installed,
// a date or eccentricity that does not read, a removal before the
// installation) is kept with its fault, which fails the pick of entries for
// any time that entry may describe: entries follow each other in time, so
// an old faulty entry does not stop the log serving recordings after the
// next good one.
#ifndef RAWCONV_META_SITELOG_H_
#define RAWCONV_META_SITELOG_H_

#include <cstdint>
#include <string>
#include <vector>

namespace rawconv {
namespace meta {

// Times are seconds since 1970-01-01 00:00 of the calendar, as the logs
// write them (UTC); kOpenEnd marks an entry still installed.
constexpr int64_t kOpenEnd = INT64_MAX;

struct SiteLogReceiver {
  std::string Entry;  // "3.2"
  int Line = 0;       // line of the entry's first field
  std::string Type;
  std::string Number;
  std::string Version;
  int64_t Installed = 0;
  int64_t Removed = kOpenEnd;
  // Why the entry does not read ("Site log X line 57: Date Installed
  // '2012-13-01' is not a date"); empty when it does.
  std::string Problem;
};

struct SiteLogAntenna {
  std::string Entry;  // "4.1"
  int Line = 0;
  std::string Type;    // the antenna code, without its radome
  std::string Radome;  // four characters; "NONE" when the log names none
  std::string Number;
  bool HasDelta = false;  // the Up eccentricity was given
  double Up = 0.0, North = 0.0, East = 0.0;
  int64_t Installed = 0;
  int64_t Removed = kOpenEnd;
  std::string Problem;  // as SiteLogReceiver's
};

struct SiteLog {
  std::string Path;        // as read, for messages
  std::string Id4;         // upper case, four characters
  std::string Id9;         // upper case, nine characters; empty in the classic layout
  bool Version2 = false;   // the layout with a Nine Character ID
  std::string Domes;       // IERS DOMES number, empty when not given
  std::string SiteName;
  bool HasPosition = false;
  double Position[3] = {0.0, 0.0, 0.0};
  std::vector<SiteLogReceiver> Receivers;
  std::vector<SiteLogAntenna> Antennas;
};

// Reads a log from its text. path names the log in messages and gives the
// ID when the log's own is unusable. false with the reason in *error
// ("Site log X line 52: X coordinate 'abc' is not a number").
bool ParseSiteLog(const std::string& text, const std::string& path, SiteLog* log,
                  std::string* error);

// Reads the file at path (plain or gzip, at most kMaxSiteLogBytes) and
// parses it; false with the reason (the system's for a file that cannot be
// opened: "Cannot open site log X: No such file or directory").
constexpr size_t kMaxSiteLogBytes = 4u << 20;
bool ReadSiteLog(const std::string& path, SiteLog* log, std::string* error);

// The receiver and antenna of a log for a recording from `first` to `last`
// (last >= first): the entries installed at `first` (the latest installed
// when entries overlap). A faulty entry that may describe `first` fails it
// with the entry's fault. A recording that runs into another entry (its
// last time is at or after the chosen entry's removal or another entry's
// installation) gets a warning line each for the receiver and the antenna.
struct SiteLogPick {
  const SiteLogReceiver* Receiver = nullptr;
  const SiteLogAntenna* Antenna = nullptr;
  std::vector<std::string> Warnings;  // without line ends
};
bool PickEntries(const SiteLog& log, int64_t first, int64_t last, SiteLogPick* pick,
                 std::string* error);

// "2005-04-02 00:00:00" for messages.
std::string TimeText(int64_t seconds);

// Reads "CCYY-MM-DD" with an optional time ("Thh:mm", " hh:mm", seconds,
// a trailing "Z" or "UTC", a remark in parentheses); false for any other
// text.
bool ParseLogTime(const std::string& text, int64_t* seconds);

// The station ID of a site log's file name ("abcd00dnk_20230101.log" gives
// "ABCD00DNK", "abcd_20230101.log" "ABCD") and its date (20230101; 0 when
// the name has none). false when the name does not follow the usual form
// (an ID of 4 or 9 letters and digits, "_" and 8 digits or nothing, ".log"
// in any case).
bool SiteLogName(const std::string& file_name, std::string* id, int32_t* date);

// The log of a station in a folder, by the usual names, in any letter case:
// "abcd00dnk_20230101.log" and "abcd_20230101.log" (also without the date).
// marker is the station's 4- or 9-character ID: a four-character marker
// takes the logs of every nine-character ID starting with it, a nine-
// character one its own and the four-character ones of its first four.
// Of several logs the newest by the date in the name is taken (the log's
// content decides what was installed when); on the same date the
// nine-character name. Logs of two different nine-character IDs for a
// four-character marker are ambiguous. false with the reason ("No site log
// for station ABCD in folder X", the system's reason for a folder that
// cannot be read).
bool FindSiteLog(const std::string& folder, const std::string& marker, std::string* path,
                 std::string* error);

// Whether a log's ID and a marker (4 or 9 characters, any case) name the
// same station: their first four characters match, and all nine when both
// have nine.
bool SameStation(const std::string& a, const std::string& b);

}  // namespace meta
}  // namespace rawconv

#endif  // RAWCONV_META_SITELOG_H_
