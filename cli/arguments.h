// The command line of gpb2rinex: what the user asked for, read in order
// (long options by their whole name only, short ones alone or grouped) and
// checked before anything is converted.
#ifndef RAWCONV_CLI_ARGUMENTS_H_
#define RAWCONV_CLI_ARGUMENTS_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace gpb2rinex {

// The header texts' limits are the library's (RAWCONV_*_MAX in
// rawconv_api.h).
constexpr int kMaxJobs = 64;

struct Arguments {
  // Inputs
  std::vector<std::string> files;  // GPB files in argument order
  std::string epp;                 // --epp, as given
  std::string sta;                 // --sta, as given
  std::string sitelog;             // --sitelog FILE|FOLDER, as given
  std::string stations;            // --stations FILE, as given

  // Outputs
  std::string output_dir;
  std::string obs_file, nav_file;  // --obs-file, --nav-file (one input only)
  bool dry_run = false;            // --dry-run: print the output paths only
  int rinex = 0;     // enum rawconv_rinex
  int names = 0;     // enum rawconv_names
  int compress = 0;  // enum rawconv_compress
  int existing = 0;  // enum rawconv_existing
  bool no_sync = false;  // --no-sync

  // Header texts
  std::string marker, observer, agency, run_by, station_id;
  double antenna_height = 0.0;
  bool use_week = false;
  int32_t week = 0;       // 0 .. RAWCONV_WEEK_MAX
  std::string date;       // --date as YYYY-MM-DD, empty when not given
  int64_t date_days = 0;  // that day, in days since 1980-01-06

  // Quality check and file information
  int qc = 0;                 // enum rawconv_qc
  bool use_elevation_mask = false;
  double elevation_mask = 0.0;  // degrees
  std::string qc_dir;
  bool info = false;  // --info: describe the files, convert nothing
  bool json = false;  // --info as one JSON document

  // Editing while converting (checked by the library's rules; texts as
  // given, empty when not given)
  std::string from, to;       // GPS time, "YYYY-MM-DD HH:MM:SS" or with 'T'
  double interval = 0.0;      // seconds; 0 keeps every epoch
  std::string exclude;        // "G,R05,G12"
  std::string obs_types;      // "C1,L1,P2" or "C1C,L1C,C2W"
  std::string marker_type;    // MARKER TYPE (RINEX 3 and 4), as given
  std::string marker_number, receiver_number, receiver_type, receiver_version,
      antenna_number, antenna_type;
  bool use_position = false;
  double position[3] = {0.0, 0.0, 0.0};  // X, Y, Z metres
  int position_source = 0;  // enum rawconv_position_source (--position data)
  bool use_antenna_delta = false;
  double antenna_delta[3] = {0.0, 0.0, 0.0};  // H, E, N metres
  std::vector<std::string> comments;
  bool full_header = false;
  int split = 0;  // enum rawconv_split (seconds of a span; 0: one file)

  // Running
  bool quiet = false;
  int jobs = 1;
  bool jobs_given = false;  // -j was on the command line (cli/threads.h)

  // Not in the usage text: the run date of the headers, in seconds since
  // 1970, so that runs can be compared byte for byte.
  bool fixed_run_date = false;
  int64_t run_date = 0;
};

// Reads argv into args. Returns -1 when the batch is to run, otherwise the
// exit code (0 after --help or --version, 2 for a bad argument, whose reason
// has been printed on err). List files named "-" are read from `in`.
int ParseArguments(int argc, char** argv, Arguments& args, std::FILE* in, std::FILE* out,
                   std::FILE* err);

// "YYYY-MM-DD" or "YYYY/MM/DD", a real day from 1980-01-06 on whose GPS
// week is at most RAWCONV_WEEK_MAX -> days since 1980-01-06.
bool ParseDay(const char* text, int64_t& days);

// Calendar date of a day count since 1970-01-01 (proleptic Gregorian), and
// the reverse.
void CivilFromDays(int64_t z, int* year, int* month, int* day);
int64_t DaysFromCivil(int year, int month, int day);

// GPS time starts on 1980-01-06, day 3657 after 1970-01-01.
constexpr int64_t kGpsEpochUnixDays = 3657;

// The path with the extension of its last component replaced by ext (or
// ext appended when it has none), after leading blanks are removed. Both
// slash and backslash separate components.
std::string WithExtension(const std::string& path, const char* ext);

}  // namespace gpb2rinex

#endif  // RAWCONV_CLI_ARGUMENTS_H_
