#include "arguments.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "rawconv_api.h"

// A limit of the library's table as the text of its number, for the help
// and the messages.
#define LIMIT_TEXT(limit) LIMIT_TEXT_OF(limit)
#define LIMIT_TEXT_OF(limit) #limit

namespace gpb2rinex {
namespace {

const char kUsage[] =
    "usage: gpb2rinex [options] FILE.gpb...\n"
    "\n"
    "Converts each GPB file into a RINEX observation file (.YYo) and a RINEX\n"
    "navigation file (.YYn), YY being the year of the data.\n"
    "\n"
    "inputs:\n"
    "  --epp FILE              ephemeris file for every GPB file (default: FILE.epp\n"
    "                          beside each GPB file); its extension is set to .epp\n"
    "  --sta FILE              station file for every GPB file (default: FILE.sta\n"
    "                          beside each GPB file, when there is one)\n"
    "  --from-list FILE        also convert the GPB files listed in FILE, one a line\n"
    "                          ('#' starts a comment; '-' reads standard input)\n"
    "outputs:\n"
    "  -o, --output-dir DIR    write the RINEX files into DIR (made when missing)\n"
    "  -f, --force             replace existing output files\n"
    "      --skip-existing     leave a file whose outputs exist alone, count it as done\n"
    "      --no-sync           do not flush outputs to the disk before renaming them\n"
    "                          (scratch runs; by default a crash never leaves a\n"
    "                          cut file under an output's name)\n"
    "      --rinex VERSION     2.0, 2.1 (default), 2.11, 3.02, 3.03, 3.04, 3.05 or\n"
    "                          4.00; 2, 3 and 4 alone mean 2.11, 3.05 and 4.00\n"
    "      --names STYLE       input (default: FILE.YYo), short or long RINEX names\n"
    "      --station-id ID     nine-character station id of long names\n"
    "      --compress KIND     gz, crx or crx.gz\n"
    "header:\n"
    "      --marker NAME       MARKER NAME (up to " LIMIT_TEXT(RAWCONV_MARKER_MAX) " characters)\n"
    "      --antenna-height M  antenna height in metres (default 0)\n"
    "      --week N            GPS week of every epoch (default: from the ephemeris)\n"
    "      --run-by TEXT       RUN BY of both headers (up to " LIMIT_TEXT(RAWCONV_RUN_BY_MAX) " characters)\n"
    "      --observer TEXT     OBSERVER (up to " LIMIT_TEXT(RAWCONV_OBSERVER_MAX) " characters)\n"
    "      --agency TEXT       AGENCY (up to " LIMIT_TEXT(RAWCONV_AGENCY_MAX) " characters)\n"
    "      --marker-type TYPE  MARKER TYPE of RINEX 3 and 4 headers: GEODETIC,\n"
    "                          NON_GEODETIC, NON_PHYSICAL, SPACEBORNE, GROUND_CRAFT,\n"
    "                          WATER_CRAFT, AIRBORNE, FIXED_BUOY, FLOATING_BUOY,\n"
    "                          FLOATING_ICE, GLACIER, BALLISTIC, ANIMAL, HUMAN\n"
    "                          (default: no record, which means GEODETIC)\n"
    "quality check:\n"
    "  --qc                    also check each recording while converting: one\n"
    "                          summary line per file, the reports in OBS.qc.txt,\n"
    "                          .qc.json and .qc.html beside the observation file\n"
    "  --qc-only               check without writing RINEX (FILE.qc.txt, ...)\n"
    "  --elevation-mask DEG    elevation mask of the check (0 to 90; default 10)\n"
    "  --qc-dir DIR            write the reports into DIR (made when missing)\n"
    "  --info                  describe each GPB file (epochs, interval, times,\n"
    "                          observations, satellites, position, receiver);\n"
    "                          nothing is converted\n"
    "  --json                  with --info: one JSON document\n"
    "editing (the header describes what each file holds):\n"
    "      --from TIME         keep the epochs from TIME on (GPS time,\n"
    "                          YYYY-MM-DD HH:MM:SS or with T; inclusive)\n"
    "      --to TIME           keep the epochs before TIME (exclusive)\n"
    "      --interval SEC      keep the epochs on multiples of SEC in the GPS day\n"
    "                          (within 25 ms of clock steering); INTERVAL shows SEC\n"
    "      --exclude LIST      leave out systems and satellites: G,R,G05,R12\n"
    "      --obs-types LIST    write these types only: C1,L1,L2,P1,P2,D1,S1,S2 or\n"
    "                          C1C,L1C,L2W,C1W,C2W,D1C,S1C,S2W (GLONASS L2P,C1P,\n"
    "                          C2P,S2P), mixed freely, for any RINEX version\n"
    "      --split SPAN        one observation file per 15m, 1h or 1d of GPS time,\n"
    "                          aligned to the day, each with its own header and\n"
    "                          name (short names: ssssdddh.YYo, ssssdddhmm.YYo for\n"
    "                          15m, ssssddd0.YYo for 1d; input names become short\n"
    "                          ones); one navigation file per GPB file\n"
    "      --marker-number, --receiver-number, --receiver-type, --receiver-version,\n"
    "      --antenna-number, --antenna-type TEXT\n"
    "                          header texts of " LIMIT_TEXT(RAWCONV_RECEIVER_TEXT_MAX) " columns (antenna type with radome)\n"
    "      --position X,Y,Z    APPROX POSITION XYZ in metres\n"
    "      --antenna-delta H,E,N\n"
    "                          ANTENNA: DELTA H/E/N in metres\n"
    "      --comment TEXT      a COMMENT line (" LIMIT_TEXT(RAWCONV_COMMENT_MAX) " columns; repeatable, at most " LIMIT_TEXT(RAWCONV_COMMENT_COUNT_MAX) ")\n"
    "      --full-header       also TIME OF LAST OBS, # OF SATELLITES, PRN / # OF OBS\n"
    "running:\n"
    "  -j N                    convert N files at once on at most N cores (1 to 64;\n"
    "                          default: one file at a time)\n"
    "  -q                      print failures and warnings only\n"
    "  -h, --help              print this text\n"
    "      --version           print the library's version number and year\n"
    "\n"
    "Exit code: 0 every file converted (or skipped), 1 any file failed,\n"
    "2 bad arguments (nothing converted).\n";

// Codes of the options that have no short form.
enum LongOnly {
  kEpp = 256,
  kSta,
  kFromList,
  kSkipExisting,
  kNoSync,
  kRinex,
  kNames,
  kStationId,
  kCompress,
  kMarker,
  kAntennaHeight,
  kWeek,
  kRunBy,
  kObserver,
  kAgency,
  kVersion,
  kFixedRunDate,
  kQc,
  kQcOnly,
  kElevationMask,
  kQcDir,
  kInfo,
  kJson,
  kFrom,
  kTo,
  kInterval,
  kExclude,
  kObsTypes,
  kMarkerNumber,
  kReceiverNumber,
  kReceiverType,
  kReceiverVersion,
  kAntennaNumber,
  kAntennaType,
  kPosition,
  kAntennaDelta,
  kComment,
  kFullHeader,
  kSplit,
  kMarkerType,
};

const option kLongOptions[] = {
    {"epp", required_argument, nullptr, kEpp},
    {"sta", required_argument, nullptr, kSta},
    {"from-list", required_argument, nullptr, kFromList},
    {"output-dir", required_argument, nullptr, 'o'},
    {"force", no_argument, nullptr, 'f'},
    {"skip-existing", no_argument, nullptr, kSkipExisting},
    {"no-sync", no_argument, nullptr, kNoSync},
    {"rinex", required_argument, nullptr, kRinex},
    {"names", required_argument, nullptr, kNames},
    {"station-id", required_argument, nullptr, kStationId},
    {"compress", required_argument, nullptr, kCompress},
    {"marker", required_argument, nullptr, kMarker},
    {"antenna-height", required_argument, nullptr, kAntennaHeight},
    {"week", required_argument, nullptr, kWeek},
    {"run-by", required_argument, nullptr, kRunBy},
    {"observer", required_argument, nullptr, kObserver},
    {"agency", required_argument, nullptr, kAgency},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"fixed-run-date", required_argument, nullptr, kFixedRunDate},
    {"qc", no_argument, nullptr, kQc},
    {"qc-only", no_argument, nullptr, kQcOnly},
    {"elevation-mask", required_argument, nullptr, kElevationMask},
    {"qc-dir", required_argument, nullptr, kQcDir},
    {"info", no_argument, nullptr, kInfo},
    {"json", no_argument, nullptr, kJson},
    {"from", required_argument, nullptr, kFrom},
    {"to", required_argument, nullptr, kTo},
    {"interval", required_argument, nullptr, kInterval},
    {"exclude", required_argument, nullptr, kExclude},
    {"obs-types", required_argument, nullptr, kObsTypes},
    {"marker-number", required_argument, nullptr, kMarkerNumber},
    {"receiver-number", required_argument, nullptr, kReceiverNumber},
    {"receiver-type", required_argument, nullptr, kReceiverType},
    {"receiver-version", required_argument, nullptr, kReceiverVersion},
    {"antenna-number", required_argument, nullptr, kAntennaNumber},
    {"antenna-type", required_argument, nullptr, kAntennaType},
    {"position", required_argument, nullptr, kPosition},
    {"antenna-delta", required_argument, nullptr, kAntennaDelta},
    {"comment", required_argument, nullptr, kComment},
    {"full-header", no_argument, nullptr, kFullHeader},
    {"split", required_argument, nullptr, kSplit},
    {"marker-type", required_argument, nullptr, kMarkerType},
    {nullptr, 0, nullptr, 0},
};

// "-" first: operands come back in order (code 1) so that files named on
// the command line and in lists keep their places; ":" next: a missing
// value is told apart from an unknown option.
const char kShortOptions[] = "-:o:fqj:h";

int BadArgument(std::FILE* err, const std::string& why) {
  std::fprintf(err, "gpb2rinex: %s\nTry 'gpb2rinex --help'.\n", why.c_str());
  return 2;
}

std::string Quoted(const char* text) { return std::string("'") + text + "'"; }

// Decimal digits only, at most max_value.
bool ParseUnsigned(const char* text, long long max_value, long long& value) {
  if (!*text) return false;
  long long v = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + (*p - '0');
    if (v > max_value) return false;
  }
  value = v;
  return true;
}

// A finite number from 0 to what fits the header's "%14.4f".
bool ParseHeight(const char* text, double& height) {
  if (!*text) return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0.0 ||
      value > RAWCONV_ANTENNA_HEIGHT_MAX)
    return false;
  height = value;
  return true;
}

// A finite number of degrees from 0 to 90.
bool ParseMask(const char* text, double& mask) {
  if (!*text) return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0.0 || value > 90.0)
    return false;
  mask = value;
  return true;
}

bool ParseRinex(const char* text, int& rinex) {
  int32_t value = 0;
  if (rawconv_rinex_from_text(text, &value) != RAWCONV_OK) return false;
  rinex = value;
  return true;
}

bool ParseNames(const char* text, int& names) {
  if (std::strcmp(text, "input") == 0) names = RAWCONV_NAMES_INPUT;
  else if (std::strcmp(text, "short") == 0) names = RAWCONV_NAMES_SHORT;
  else if (std::strcmp(text, "long") == 0) names = RAWCONV_NAMES_LONG;
  else return false;
  return true;
}

bool ParseSplit(const char* text, int& split) {
  if (std::strcmp(text, "15m") == 0) split = RAWCONV_SPLIT_15M;
  else if (std::strcmp(text, "1h") == 0) split = RAWCONV_SPLIT_1H;
  else if (std::strcmp(text, "1d") == 0) split = RAWCONV_SPLIT_1D;
  else return false;
  return true;
}

bool ParseCompress(const char* text, int& compress) {
  if (std::strcmp(text, "none") == 0) compress = RAWCONV_COMPRESS_NONE;
  else if (std::strcmp(text, "gz") == 0) compress = RAWCONV_COMPRESS_GZ;
  else if (std::strcmp(text, "crx") == 0) compress = RAWCONV_COMPRESS_CRX;
  else if (std::strcmp(text, "crx.gz") == 0) compress = RAWCONV_COMPRESS_CRX_GZ;
  else return false;
  return true;
}

// A header text that must fit `columns` columns.
bool FitText(std::FILE* err, const char* what, const char* text, size_t columns,
             std::string& field, int& rc) {
  if (std::strlen(text) > columns) {
    rc = BadArgument(err, std::string(what) + " longer than " + std::to_string(columns) +
                              " characters: " + Quoted(text));
    return false;
  }
  field = text;
  return true;
}

// Checks one editing value the way the library will: fill sets the field
// of a record that is otherwise empty.
template <typename Fill>
bool CheckEdit(std::FILE* err, Fill fill, int& rc) {
  rawconv_options o;
  rawconv_options_init(&o);
  fill(o);
  char why[RAWCONV_ERROR_MAX];
  if (rawconv_check_edits(&o, why, sizeof why) == RAWCONV_OK) return true;
  rc = BadArgument(err, why);
  return false;
}

// "a,b,c": three numbers (their range is the library's to check).
bool ParseTriple(const char* text, double values[3]) {
  const char* p = text;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    errno = 0;
    values[i] = std::strtod(p, &end);
    if (end == p || errno != 0 || !std::isfinite(values[i])) return false;
    if (*end != (i < 2 ? ',' : '\0')) return false;
    p = end + 1;
  }
  return true;
}

// Seconds of the decimation interval: a plain number.
bool ParseSeconds(const char* text, double& seconds) {
  if (!*text) return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value) || value <= 0.0) return false;
  seconds = value;
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Adds the paths of a list: one a line, surrounding blanks removed, blank
// lines and lines starting with '#' skipped.
void ReadList(std::FILE* f, std::vector<std::string>& files) {
  std::string line;
  int c;
  bool more = true;
  while (more) {
    c = std::fgetc(f);
    if (c != EOF && c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    more = c != EOF;
    size_t begin = 0, end = line.size();
    while (begin < end && IsBlank(line[begin])) ++begin;
    while (end > begin && IsBlank(line[end - 1])) --end;
    if (end > begin && line[begin] != '#') files.push_back(line.substr(begin, end - begin));
    line.clear();
  }
}

}  // namespace

std::string WithExtension(const std::string& path, const char* ext) {
  size_t lead = 0;
  while (lead < path.size() && path[lead] == ' ') ++lead;
  std::string result = path.substr(lead);
  const size_t sep = result.find_last_of("/\\");
  const size_t dot = result.rfind('.');
  if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) result.resize(dot);
  return result + ext;
}

int ParseArguments(int argc, char** argv, Arguments& args, std::FILE* in, std::FILE* out,
                   std::FILE* err) {
  bool force = false, skip = false, have_list = false;
  int rc = 2;
  opterr = 0;
  optind = 0;  // a full re-initialisation of GNU getopt
  for (;;) {
    const int c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
    if (c == -1) break;
    // The option as the user wrote it, for messages.
    const char* given = argv[optind - 1];
    const char* v = optarg;
    long long number = 0;
    switch (c) {
      case 1:
        args.files.push_back(v);
        break;
      case '?':
        if (optopt != 0 && std::strncmp(given, "--", 2) != 0)
          return BadArgument(err, std::string("unknown option '-") + static_cast<char>(optopt) + "'");
        return BadArgument(err, "unknown option " + Quoted(given));
      case ':':
        return BadArgument(err, "option " + Quoted(given) + " needs a value");
      case 'h':
        std::fputs(kUsage, out);
        return 0;
      case kVersion:
        std::fprintf(out, "gpb2rinex: rawconv version %.6f (%d)\n", rawconv_version_number(),
                     static_cast<int>(rawconv_version_year()));
        return 0;
      case 'q':
        args.quiet = true;
        break;
      case 'j':
        if (!ParseUnsigned(v, kMaxJobs, number) || number < 1)
          return BadArgument(err, "number of jobs must be an integer from 1 to 64: " + Quoted(v));
        args.jobs = static_cast<int>(number);
        args.jobs_given = true;
        break;
      case 'f':
        force = true;
        break;
      case kSkipExisting:
        skip = true;
        break;
      case kNoSync:
        args.no_sync = true;
        break;
      case 'o':
        if (!*v) return BadArgument(err, "empty output folder");
        args.output_dir = v;
        break;
      case kEpp:
        args.epp = WithExtension(v, ".epp");
        break;
      case kSta:
        if (!*v) return BadArgument(err, "empty station file name");
        args.sta = v;
        break;
      case kFromList: {
        have_list = true;
        const bool stdin_list = std::strcmp(v, "-") == 0;
        std::FILE* f = stdin_list ? in : std::fopen(v, "r");
        if (f == nullptr)
          return BadArgument(err, "cannot open list file " + Quoted(v) + ": " + std::strerror(errno));
        ReadList(f, args.files);
        const bool failed = std::ferror(f) != 0;
        if (!stdin_list) std::fclose(f);
        if (failed) return BadArgument(err, "cannot read list file " + Quoted(v));
        break;
      }
      case kRinex:
        if (!ParseRinex(v, args.rinex))
          return BadArgument(err, std::string("RINEX version must be one of ") +
                                      rawconv_rinex_texts() + ": " + Quoted(v));
        break;
      case kNames:
        if (!ParseNames(v, args.names))
          return BadArgument(err, "names must be input, short or long: " + Quoted(v));
        break;
      case kCompress:
        if (!ParseCompress(v, args.compress))
          return BadArgument(err, "compression must be gz, crx or crx.gz: " + Quoted(v));
        break;
      case kStationId:
        if (std::strlen(v) != RAWCONV_STATION_ID_MAX)
          return BadArgument(err, "station id must have " LIMIT_TEXT(RAWCONV_STATION_ID_MAX)
                                  " characters: " + Quoted(v));
        args.station_id = v;
        break;
      case kMarker:
        if (!FitText(err, "marker name", v, RAWCONV_MARKER_MAX, args.marker, rc)) return rc;
        break;
      case kObserver:
        if (!FitText(err, "observer", v, RAWCONV_OBSERVER_MAX, args.observer, rc)) return rc;
        break;
      case kAgency:
        if (!FitText(err, "agency", v, RAWCONV_AGENCY_MAX, args.agency, rc)) return rc;
        break;
      case kRunBy:
        if (!FitText(err, "run by", v, RAWCONV_RUN_BY_MAX, args.run_by, rc)) return rc;
        break;
      case kAntennaHeight:
        if (!ParseHeight(v, args.antenna_height))
          return BadArgument(err, "antenna height must be a number from 0 to " LIMIT_TEXT(
                                      RAWCONV_ANTENNA_HEIGHT_MAX) ": " +
                                      Quoted(v));
        break;
      case kWeek:
        if (!ParseUnsigned(v, 2147483647LL, number))
          return BadArgument(err, "GPS Week must be an unsigned integer: " + Quoted(v));
        args.week = static_cast<int32_t>(number);
        args.use_week = true;
        break;
      case kFixedRunDate:
        if (std::strlen(v) > 12 || !ParseUnsigned(v, 999999999999LL, number))
          return BadArgument(err, "bad run date: " + Quoted(v));
        args.run_date = number;
        args.fixed_run_date = true;
        break;
      case kQc:
      case kQcOnly: {
        const int mode = c == kQc ? RAWCONV_QC_WITH : RAWCONV_QC_ONLY;
        if (args.qc != 0 && args.qc != mode)
          return BadArgument(err, "--qc and --qc-only exclude each other");
        args.qc = mode;
        break;
      }
      case kElevationMask:
        if (!ParseMask(v, args.elevation_mask))
          return BadArgument(err, "elevation mask must be a number of degrees from 0 to 90: " +
                                      Quoted(v));
        args.use_elevation_mask = true;
        break;
      case kQcDir:
        if (!*v) return BadArgument(err, "empty report folder");
        args.qc_dir = v;
        break;
      case kInfo:
        args.info = true;
        break;
      case kJson:
        args.json = true;
        break;
      case kFrom:
        if (!CheckEdit(err, [v](rawconv_options& o) { o.from_time = v; }, rc)) return rc;
        args.from = v;
        break;
      case kTo:
        if (!CheckEdit(err, [v](rawconv_options& o) { o.to_time = v; }, rc)) return rc;
        args.to = v;
        break;
      case kInterval:
        if (!ParseSeconds(v, args.interval))
          return BadArgument(err, "interval must be a number of seconds above 0: " + Quoted(v));
        if (!CheckEdit(err, [&args](rawconv_options& o) { o.interval = args.interval; }, rc))
          return rc;
        break;
      case kExclude:
        if (!CheckEdit(err, [v](rawconv_options& o) { o.exclude = v; }, rc)) return rc;
        args.exclude = v;
        break;
      case kObsTypes:
        if (!CheckEdit(err, [v](rawconv_options& o) { o.obs_types = v; }, rc)) return rc;
        args.obs_types = v;
        break;
      case kMarkerNumber:
        if (!CheckEdit(err, [v](rawconv_options& o) { o.marker_number = v; }, rc)) return rc;
        args.marker_number = v;
        break;
      case kReceiverNumber:
        if (!CheckEdit(err, [v](rawconv_options& o) { o.receiver_number = v; }, rc)) return rc;
        args.receiver_number = v;
        break;
      case kReceiverType:
        if (!CheckEdit(err, [v](rawconv_options& o) { o.receiver_type = v; }, rc)) return rc;
        args.receiver_type = v;
        break;
      case kReceiverVersion:
        if (!CheckEdit(err, [v](rawconv_options& o) { o.receiver_version = v; }, rc)) return rc;
        args.receiver_version = v;
        break;
      case kAntennaNumber:
        if (!CheckEdit(err, [v](rawconv_options& o) { o.antenna_number = v; }, rc)) return rc;
        args.antenna_number = v;
        break;
      case kAntennaType:
        if (!CheckEdit(err, [v](rawconv_options& o) { o.antenna_type = v; }, rc)) return rc;
        args.antenna_type = v;
        break;
      case kPosition:
      case kAntennaDelta: {
        const bool position = c == kPosition;
        double* values = position ? args.position : args.antenna_delta;
        if (!ParseTriple(v, values))
          return BadArgument(err, std::string(position ? "position" : "antenna delta") +
                                      " must be three numbers a,b,c: " + Quoted(v));
        const bool fits = CheckEdit(
            err,
            [position, values](rawconv_options& o) {
              for (int i = 0; i < 3; ++i) (position ? o.position : o.antenna_delta)[i] = values[i];
              (position ? o.use_position : o.use_antenna_delta) = 1;
            },
            rc);
        if (!fits) return rc;
        (position ? args.use_position : args.use_antenna_delta) = true;
        break;
      }
      case kComment: {
        if (!CheckEdit(
                err,
                [v](rawconv_options& o) {
                  o.comments = &v;
                  o.comment_count = 1;
                },
                rc))
          return rc;
        args.comments.push_back(v);
        if (args.comments.size() > RAWCONV_COMMENT_COUNT_MAX)
          return BadArgument(err, "at most " LIMIT_TEXT(RAWCONV_COMMENT_COUNT_MAX)
                                  " --comment lines");
        break;
      }
      case kFullHeader:
        args.full_header = true;
        break;
      case kMarkerType:
        if (!CheckEdit(err, [v](rawconv_options& o) {
              o.rinex = RAWCONV_RINEX_3_05;
              o.marker_type = v;
            }, rc))
          return rc;
        args.marker_type = v;
        break;
      case kSplit:
        if (!ParseSplit(v, args.split))
          return BadArgument(err, "split must be 15m, 1h or 1d: " + Quoted(v));
        break;
      default:
        return BadArgument(err, "unknown option " + Quoted(given));
    }
  }
  // Operands after "--".
  for (int i = optind; i < argc; ++i) args.files.push_back(argv[i]);

  if (!args.from.empty() && !args.to.empty() &&
      !CheckEdit(
          err,
          [&args](rawconv_options& o) {
            o.from_time = args.from.c_str();
            o.to_time = args.to.c_str();
          },
          rc))
    return rc;
  // The marker type's name was checked where it was given; whether the
  // version has the record is known once every option is read.
  if (!args.marker_type.empty() &&
      !CheckEdit(
          err,
          [&args](rawconv_options& o) {
            o.rinex = args.rinex;
            o.marker_type = args.marker_type.c_str();
          },
          rc))
    return rc;
  if (force && skip) return BadArgument(err, "--force and --skip-existing exclude each other");
  if (args.json && !args.info) return BadArgument(err, "--json goes with --info");
  if (args.split != 0 && args.qc == RAWCONV_QC_ONLY)
    return BadArgument(err, "--split writes RINEX files; --qc-only writes none");
  if (args.info && args.qc != 0) return BadArgument(err, "--info converts and checks nothing; drop --qc");
  if (args.qc == 0 && (args.use_elevation_mask || !args.qc_dir.empty()))
    return BadArgument(err, "--elevation-mask and --qc-dir go with --qc or --qc-only");
  args.existing = force  ? RAWCONV_EXISTING_REPLACE
                  : skip ? RAWCONV_EXISTING_SKIP
                         : RAWCONV_EXISTING_REFUSE;
  if (args.files.empty() && !have_list) {
    std::fputs(kUsage, err);
    return 2;
  }
  return -1;
}

}  // namespace gpb2rinex
