#include "arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

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
    "  --epp FILE              ephemeris file for every GPB file, used as named\n"
    "                          (default: FILE.epp beside each GPB file)\n"
    "  --sta FILE              station file for every GPB file (default: FILE.sta\n"
    "                          beside each GPB file, when there is one)\n"
    "  --from-list FILE        also convert the GPB files listed in FILE, one a line\n"
    "                          ('#' starts a comment; '-' reads standard input)\n"
    "outputs:\n"
    "  -o, --output-dir DIR    write the RINEX files into DIR (made when missing)\n"
    "  -f, --force             replace existing output files\n"
    "      --skip-existing     leave a file whose outputs exist alone, count it as done\n"
    "      --obs-file FILE     with one GPB file: write the observation file to FILE\n"
    "      --nav-file FILE     with one GPB file: write the navigation file to FILE\n"
    "      --dry-run           print every output path of the batch, one a line;\n"
    "                          write nothing\n"
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
    "      --week N            GPS week of every epoch, 0 to " LIMIT_TEXT(
        RAWCONV_WEEK_MAX) " (default: from\n"
    "                          the ephemeris); without an ephemeris file the\n"
    "                          observation file alone is written\n"
    "      --date DAY          a day of the recording, YYYY-MM-DD: dates the\n"
    "                          epochs without an ephemeris file (as --week)\n"
    "      --run-by TEXT       RUN BY of both headers (up to " LIMIT_TEXT(RAWCONV_RUN_BY_MAX) " characters)\n"
    "      --observer TEXT     OBSERVER (up to " LIMIT_TEXT(RAWCONV_OBSERVER_MAX) " characters)\n"
    "      --agency TEXT       AGENCY (up to " LIMIT_TEXT(RAWCONV_AGENCY_MAX) " characters)\n"
    "      --marker-type TYPE  MARKER TYPE of RINEX 3 and 4 headers: GEODETIC,\n"
    "                          NON_GEODETIC, NON_PHYSICAL, SPACEBORNE, GROUND_CRAFT,\n"
    "                          WATER_CRAFT, AIRBORNE, FIXED_BUOY, FLOATING_BUOY,\n"
    "                          FLOATING_ICE, GLACIER, BALLISTIC, ANIMAL, HUMAN\n"
    "                          (default: no record, which means GEODETIC)\n"
    "station records (options given here win over both, the table over the log):\n"
    "      --sitelog FILE|DIR  IGS site log, or a folder of them found by each\n"
    "                          file's marker (abcd00dnk_20230101.log or\n"
    "                          abcd_20230101.log, the newest): MARKER NAME and\n"
    "                          NUMBER, receiver, antenna with radome, antenna\n"
    "                          delta and position at the first epoch\n"
    "      --stations FILE     station table, CSV keyed by marker, columns named\n"
    "                          as the header options (marker, from, to,\n"
    "                          receiver_type, antenna_height, position, ...)\n"
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
    "  --json                  with --info: one JSON document (UTF-8; a byte of a\n"
    "                          file name that is not UTF-8 is written \\udcXX)\n"
    "editing (the header describes what each file holds):\n"
    "      --from TIME         keep the epochs from TIME on (GPS time, inclusive):\n"
    "                          YYYY-MM-DD HH:MM:SS, YYYY-MM-DDTHH:MM:SS,\n"
    "                          YYYY/MM/DD HH:MM:SS or a date alone (its 00:00:00)\n"
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
    "      --position X,Y,Z    APPROX POSITION XYZ in metres (or X/Y/Z)\n"
    "      --position data     APPROX POSITION XYZ from the data: the mean of\n"
    "                          single-point solutions with the EPP ephemerides\n"
    "      --position receiver the receiver's own fixes (the default)\n"
    "      --antenna-delta H,E,N (or H/E/N)\n"
    "                          ANTENNA: DELTA H/E/N in metres\n"
    "      --comment TEXT      a COMMENT line (" LIMIT_TEXT(RAWCONV_COMMENT_MAX) " columns; repeatable, at most " LIMIT_TEXT(RAWCONV_COMMENT_COUNT_MAX) ")\n"
    "      --full-header       also TIME OF LAST OBS, # OF SATELLITES, PRN / # OF OBS\n"
    "running:\n"
    "  -j N                    convert N files at once on at most N cores (1 to 64;\n"
    "                          default: one file at a time)\n"
    "  -q                      print failures and warnings only\n"
    "  -h, --help              print this text\n"
    "      --version           print \"gpb2rinex\" and the release number\n"
    "\n"
    "Long options are taken by their whole name only. Each run ends with the\n"
    "line \"gpb2rinex: N converted, N skipped, N failed\" on standard error\n"
    "(with -q only when a file failed).\n"
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
  kDate,
  kDryRun,
  kObsFile,
  kNavFile,
  kSitelog,
  kStations,
};

// A long option: its whole name, whether it takes a value, its code (the
// short letter where it has one).
struct LongOption {
  const char* name;
  bool value;
  int code;
};

const LongOption kLongOptions[] = {
    {"epp", true, kEpp},
    {"sta", true, kSta},
    {"from-list", true, kFromList},
    {"output-dir", true, 'o'},
    {"force", false, 'f'},
    {"skip-existing", false, kSkipExisting},
    {"no-sync", false, kNoSync},
    {"rinex", true, kRinex},
    {"names", true, kNames},
    {"station-id", true, kStationId},
    {"compress", true, kCompress},
    {"marker", true, kMarker},
    {"antenna-height", true, kAntennaHeight},
    {"week", true, kWeek},
    {"run-by", true, kRunBy},
    {"observer", true, kObserver},
    {"agency", true, kAgency},
    {"help", false, 'h'},
    {"version", false, kVersion},
    {"fixed-run-date", true, kFixedRunDate},
    {"qc", false, kQc},
    {"qc-only", false, kQcOnly},
    {"elevation-mask", true, kElevationMask},
    {"qc-dir", true, kQcDir},
    {"info", false, kInfo},
    {"json", false, kJson},
    {"from", true, kFrom},
    {"to", true, kTo},
    {"interval", true, kInterval},
    {"exclude", true, kExclude},
    {"obs-types", true, kObsTypes},
    {"marker-number", true, kMarkerNumber},
    {"receiver-number", true, kReceiverNumber},
    {"receiver-type", true, kReceiverType},
    {"receiver-version", true, kReceiverVersion},
    {"antenna-number", true, kAntennaNumber},
    {"antenna-type", true, kAntennaType},
    {"position", true, kPosition},
    {"antenna-delta", true, kAntennaDelta},
    {"comment", true, kComment},
    {"full-header", false, kFullHeader},
    {"split", true, kSplit},
    {"marker-type", true, kMarkerType},
    {"date", true, kDate},
    {"dry-run", false, kDryRun},
    {"obs-file", true, kObsFile},
    {"nav-file", true, kNavFile},
    {"sitelog", true, kSitelog},
    {"stations", true, kStations},
};

// Short options and whether each takes a value.
struct ShortOption {
  char letter;
  bool value;
};
const ShortOption kShortOptions[] = {{'o', true}, {'f', false}, {'q', false}, {'j', true},
                                     {'h', false}};

// A value in quotes for a message, control bytes written as \xNN.
std::string Quoted(const char* text) {
  std::string out = "'";
  for (const char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += *p;
    }
  }
  return out + "'";
}

constexpr int kOperand = 1;
constexpr int kEnd = -1;
constexpr int kError = -2;

// Edit distance of two names: insertions, deletions, substitutions and
// swaps of neighbours each count one.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1, 0));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t best = d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      if (d[i - 1][j] + 1 < best) best = d[i - 1][j] + 1;
      if (d[i][j - 1] + 1 < best) best = d[i][j - 1] + 1;
      const bool swapped = i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1];
      if (swapped && d[i - 2][j - 2] + 1 < best) best = d[i - 2][j - 2] + 1;
      d[i][j] = best;
    }
  }
  return d[a.size()][b.size()];
}

// "--a", "--a or --b", "--a, --b or --c".
std::string Alternatives(const std::vector<std::string>& names) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += "--" + names[i];
  }
  return text;
}

// The message for a long option name (without "--") that is none of ours:
// a beginning of one or more names lists them; otherwise the names nearest
// to it (at most two edits, and fewer than its length) are offered.
std::string UnknownLongOption(const std::string& name) {
  std::vector<std::string> longer;
  for (const LongOption& o : kLongOptions)
    if (!name.empty() && std::strncmp(o.name, name.c_str(), name.size()) == 0)
      longer.push_back(o.name);
  if (!longer.empty())
    return "option " + Quoted(("--" + name).c_str()) + " is not a whole option name; did you mean " +
           Alternatives(longer) + "?";
  size_t best = 3;
  std::vector<std::string> near;
  for (const LongOption& o : kLongOptions) {
    const size_t d = Distance(name, o.name);
    if (d >= name.size() || d > best) continue;
    if (d < best) near.clear();
    best = d;
    near.push_back(o.name);
  }
  std::string text = "unknown option " + Quoted(("--" + name).c_str());
  if (!near.empty()) text += "; did you mean " + Alternatives(near) + "?";
  return text;
}

// Reads argv in order: long options by their whole name only ("--name",
// "--name=value" or "--name value"), short ones alone or grouped ("-fq",
// "-j2", "-j 2"), operands in place, and everything after "--" as
// operands. "-" alone is an operand.
class CommandLine {
 public:
  CommandLine(int argc, char** argv) : argc_(argc), argv_(argv) {}

  // The next item: an option's code with its value (null when it takes
  // none) and its spelling for messages; kOperand with the operand as
  // value; kEnd; or kError with the message in *error.
  int Next(const char** value, std::string* given, std::string* error) {
    *value = nullptr;
    if (cluster_ != nullptr && *cluster_ != '\0') return NextShort(value, given, error);
    cluster_ = nullptr;
    if (index_ >= argc_) return kEnd;
    const char* arg = argv_[index_++];
    if (operands_only_ || arg[0] != '-' || arg[1] == '\0') {
      *value = arg;
      *given = arg;
      return kOperand;
    }
    if (std::strcmp(arg, "--") == 0) {
      operands_only_ = true;
      return Next(value, given, error);
    }
    if (arg[1] != '-') {
      cluster_ = arg + 1;
      return NextShort(value, given, error);
    }
    const char* name = arg + 2;
    const char* equals = std::strchr(name, '=');
    const std::string whole = equals ? std::string(name, static_cast<size_t>(equals - name)) : name;
    *given = "--" + whole;
    for (const LongOption& o : kLongOptions) {
      if (whole != o.name) continue;
      if (!o.value) {
        if (equals != nullptr) {
          *error = "option '" + *given + "' takes no value";
          return kError;
        }
        return o.code;
      }
      if (equals != nullptr) {
        *value = equals + 1;
      } else if (index_ < argc_) {
        *value = argv_[index_++];
      } else {
        *error = "option '" + *given + "' needs a value";
        return kError;
      }
      return o.code;
    }
    *error = UnknownLongOption(whole);
    return kError;
  }

 private:
  int NextShort(const char** value, std::string* given, std::string* error) {
    const char letter = *cluster_++;
    *given = std::string("-") + letter;
    for (const ShortOption& o : kShortOptions) {
      if (o.letter != letter) continue;
      if (!o.value) return letter;
      if (*cluster_ != '\0') {
        *value = cluster_;
      } else if (index_ < argc_) {
        *value = argv_[index_++];
      } else {
        *error = "option '" + *given + "' needs a value";
        return kError;
      }
      cluster_ = nullptr;
      return letter;
    }
    *error = "unknown option '" + *given + "'";
    return kError;
  }

  int argc_;
  char** argv_;
  int index_ = 1;
  const char* cluster_ = nullptr;  // the rest of a group of short options
  bool operands_only_ = false;
};

int BadArgument(std::FILE* err, const std::string& why) {
  std::fprintf(err, "gpb2rinex: %s\nTry 'gpb2rinex --help'.\n", why.c_str());
  return 2;
}


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
bool FitText(std::FILE* err, const std::string& option, const char* what, const char* text,
             size_t columns, std::string& field, int& rc) {
  for (const char* p = text; *p; ++p) {
    if (*p < 0x20 || *p > 0x7e) {
      rc = BadArgument(err, option + " must be printable ASCII: " + Quoted(text));
      return false;
    }
  }
  if (std::strlen(text) > columns) {
    rc = BadArgument(err, std::string(what) + " longer than " + std::to_string(columns) +
                              " characters: " + Quoted(text));
    return false;
  }
  field = text;
  return true;
}

// Checks one editing value the way the library will: fill sets the field
// of a record that is otherwise empty. The library's reason is told with
// the option it is about.
template <typename Fill>
bool CheckEdit(std::FILE* err, const std::string& option, Fill fill, int& rc) {
  rawconv_options o;
  rawconv_options_init(&o);
  fill(o);
  char why[RAWCONV_ERROR_MAX];
  if (rawconv_check_edits(&o, why, sizeof why) == RAWCONV_OK) return true;
  rc = BadArgument(err, option + ": " + why);
  return false;
}

// "a,b,c" or "a/b/c": three numbers, one separator throughout (their
// range is the library's to check).
bool ParseTriple(const char* text, double values[3]) {
  const char* p = text;
  char separator = '\0';
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    errno = 0;
    values[i] = std::strtod(p, &end);
    if (end == p || errno != 0 || !std::isfinite(values[i])) return false;
    if (i == 0 && (*end == ',' || *end == '/')) separator = *end;
    if (*end != (i < 2 ? separator : '\0') || (i < 2 && separator == '\0')) return false;
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
// lines and lines starting with '#' skipped. Returns 0, or the number of
// the first line that holds a NUL byte (a path cannot, and the part before
// it would name another file).
long ReadList(std::FILE* f, std::vector<std::string>& files) {
  std::string line;
  int c;
  bool more = true;
  long number = 0;
  while (more) {
    c = std::fgetc(f);
    if (c != EOF && c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    more = c != EOF;
    ++number;
    if (line.find('\0') != std::string::npos) return number;
    size_t begin = 0, end = line.size();
    while (begin < end && IsBlank(line[begin])) ++begin;
    while (end > begin && IsBlank(line[end - 1])) --end;
    if (end > begin && line[begin] != '#') files.push_back(line.substr(begin, end - begin));
    line.clear();
  }
  return 0;
}

// A path given where a file is expected: not empty, not a folder. Whether
// it exists is the conversion's to say.
bool InputFile(std::FILE* err, const std::string& option, const char* path, int& rc) {
  if (*path == '\0') {
    rc = BadArgument(err, "option '" + option + "' needs a file name");
    return false;
  }
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    rc = BadArgument(err, option + " " + Quoted(path) + " is a folder, not a file");
    return false;
  }
  return true;
}

}  // namespace

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

int64_t DaysFromCivil(int year, int month, int day) {
  const int64_t y = year - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool ParseDay(const char* text, int64_t& days) {
  // Four digits, the separator, two, the same separator, two.
  if (std::strlen(text) != 10) return false;
  const char separator = text[4];
  if ((separator != '-' && separator != '/') || text[7] != separator) return false;
  for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (text[i] < '0' || text[i] > '9') return false;
  const int year = std::atoi(text), month = std::atoi(text + 5), day = std::atoi(text + 8);
  if (month < 1 || month > 12 || day < 1) return false;
  int y = 0, m = 0, d = 0;
  const int64_t unix_days = DaysFromCivil(year, month, day);
  CivilFromDays(unix_days, &y, &m, &d);
  if (y != year || m != month || d != day) return false;  // 2005-02-30
  const int64_t gps_days = unix_days - kGpsEpochUnixDays;
  if (gps_days < 0 || gps_days / 7 > RAWCONV_WEEK_MAX) return false;
  days = gps_days;
  return true;
}

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
  CommandLine line(argc, argv);
  for (;;) {
    const char* v = nullptr;
    std::string given, error;
    const int c = line.Next(&v, &given, &error);
    if (c == kEnd) break;
    if (c == kError) return BadArgument(err, error);
    long long number = 0;
    switch (c) {
      case kOperand:
        args.files.push_back(v);
        break;
      case 'h':
        std::fputs(kUsage, out);
        return 0;
      case kVersion:
        std::fprintf(out, "gpb2rinex %s\n", rawconv_version_text());
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
        if (!InputFile(err, given, v, rc)) return rc;
        args.epp = v;
        break;
      case kSta:
        if (!InputFile(err, given, v, rc)) return rc;
        args.sta = v;
        break;
      case kObsFile:
      case kNavFile:
        if (!InputFile(err, given, v, rc)) return rc;  // written, but the same rules
        (c == kObsFile ? args.obs_file : args.nav_file) = v;
        break;
      case kDryRun:
        args.dry_run = true;
        break;
      case kDate:
        if (!ParseDay(v, args.date_days))
          return BadArgument(err, "date must be a day YYYY-MM-DD from 1980-01-06 to 2079-12-30: " +
                                      Quoted(v));
        args.date = v;
        // The library takes the day with dashes.
        for (char& ch : args.date)
          if (ch == '/') ch = '-';
        break;
      case kFromList: {
        have_list = true;
        const bool stdin_list = std::strcmp(v, "-") == 0;
        if (!stdin_list && !InputFile(err, given, v, rc)) return rc;
        std::FILE* f = stdin_list ? in : std::fopen(v, "r");
        if (f == nullptr)
          return BadArgument(err, "cannot open list file " + Quoted(v) + ": " + std::strerror(errno));
        const long nul_line = ReadList(f, args.files);
        const int read_errno = std::ferror(f) != 0 ? errno : 0;
        const bool failed = std::ferror(f) != 0;
        if (!stdin_list) std::fclose(f);
        if (failed)
          return BadArgument(err, "cannot read list file " + Quoted(v) + ": " +
                                      std::strerror(read_errno));
        if (nul_line > 0)
          return BadArgument(err, "list file " + Quoted(v) + ", line " + std::to_string(nul_line) +
                                      ": a NUL byte in a path");
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
        if (!FitText(err, given, "station id", v, RAWCONV_STATION_ID_MAX, args.station_id, rc))
          return rc;
        if (std::strlen(v) != RAWCONV_STATION_ID_MAX)
          return BadArgument(err, "station id must have " LIMIT_TEXT(RAWCONV_STATION_ID_MAX)
                                  " characters: " + Quoted(v));
        args.station_id = v;
        break;
      case kMarker:
        if (!FitText(err, given, "marker name", v, RAWCONV_MARKER_MAX, args.marker, rc)) return rc;
        break;
      case kObserver:
        if (!FitText(err, given, "observer", v, RAWCONV_OBSERVER_MAX, args.observer, rc)) return rc;
        break;
      case kAgency:
        if (!FitText(err, given, "agency", v, RAWCONV_AGENCY_MAX, args.agency, rc)) return rc;
        break;
      case kRunBy:
        if (!FitText(err, given, "run by", v, RAWCONV_RUN_BY_MAX, args.run_by, rc)) return rc;
        break;
      case kAntennaHeight:
        if (!ParseHeight(v, args.antenna_height))
          return BadArgument(err, "antenna height must be a number from 0 to " LIMIT_TEXT(
                                      RAWCONV_ANTENNA_HEIGHT_MAX) ": " +
                                      Quoted(v));
        break;
      case kWeek:
        if (!ParseUnsigned(v, RAWCONV_WEEK_MAX, number))
          return BadArgument(err, "GPS week must be a whole number from 0 to " LIMIT_TEXT(
                                      RAWCONV_WEEK_MAX) ": " + Quoted(v));
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
      case kSitelog:
        if (!*v) return BadArgument(err, "empty site log path");
        args.sitelog = v;
        break;
      case kStations:
        if (!*v) return BadArgument(err, "empty station table path");
        args.stations = v;
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
        if (!CheckEdit(err, given, [v](rawconv_options& o) { o.from_time = v; }, rc)) return rc;
        args.from = v;
        break;
      case kTo:
        if (!CheckEdit(err, given, [v](rawconv_options& o) { o.to_time = v; }, rc)) return rc;
        args.to = v;
        break;
      case kInterval:
        if (!ParseSeconds(v, args.interval))
          return BadArgument(err, "interval must be a number of seconds above 0: " + Quoted(v));
        if (!CheckEdit(err, given, [&args](rawconv_options& o) { o.interval = args.interval; }, rc))
          return rc;
        break;
      case kExclude:
        if (!CheckEdit(err, given, [v](rawconv_options& o) { o.exclude = v; }, rc)) return rc;
        args.exclude = v;
        break;
      case kObsTypes:
        if (!CheckEdit(err, given, [v](rawconv_options& o) { o.obs_types = v; }, rc)) return rc;
        args.obs_types = v;
        break;
      case kMarkerNumber:
        if (!CheckEdit(err, given, [v](rawconv_options& o) { o.marker_number = v; }, rc)) return rc;
        args.marker_number = v;
        break;
      case kReceiverNumber:
        if (!CheckEdit(err, given, [v](rawconv_options& o) { o.receiver_number = v; }, rc))
          return rc;
        args.receiver_number = v;
        break;
      case kReceiverType:
        if (!CheckEdit(err, given, [v](rawconv_options& o) { o.receiver_type = v; }, rc)) return rc;
        args.receiver_type = v;
        break;
      case kReceiverVersion:
        if (!CheckEdit(err, given, [v](rawconv_options& o) { o.receiver_version = v; }, rc))
          return rc;
        args.receiver_version = v;
        break;
      case kAntennaNumber:
        if (!CheckEdit(err, given, [v](rawconv_options& o) { o.antenna_number = v; }, rc)) return rc;
        args.antenna_number = v;
        break;
      case kAntennaType:
        if (!CheckEdit(err, given, [v](rawconv_options& o) { o.antenna_type = v; }, rc)) return rc;
        args.antenna_type = v;
        break;
      case kPosition:
        // A source instead of coordinates.
        if (std::strcmp(v, "data") == 0 || std::strcmp(v, "receiver") == 0) {
          args.position_source =
              std::strcmp(v, "data") == 0 ? RAWCONV_POSITION_DATA : RAWCONV_POSITION_RECEIVER;
          args.use_position = false;
          break;
        }
        args.position_source = RAWCONV_POSITION_RECEIVER;
        [[fallthrough]];
      case kAntennaDelta: {
        const bool position = c == kPosition;
        double* values = position ? args.position : args.antenna_delta;
        if (!ParseTriple(v, values))
          return BadArgument(err, std::string(position ? "position" : "antenna delta") +
                                      " must be three numbers a,b,c or a/b/c" +
                                      (position ? ", data or receiver: " : ": ") + Quoted(v));
        const bool fits = CheckEdit(
            err, given,
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
                err, given,
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
        if (!CheckEdit(err, given, [v](rawconv_options& o) {
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
        return BadArgument(err, "unknown option " + Quoted(given.c_str()));
    }
  }
  if (!args.from.empty() && !args.to.empty() &&
      !CheckEdit(
          err, "--from, --to",
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
          err, "--marker-type",
          [&args](rawconv_options& o) {
            o.rinex = args.rinex;
            o.marker_type = args.marker_type.c_str();
          },
          rc))
    return rc;
  if (args.use_week && !args.date.empty())
    return BadArgument(err, "--week and --date exclude each other");
  if (!args.obs_file.empty() || !args.nav_file.empty()) {
    if (args.files.size() > 1)
      return BadArgument(err, "--obs-file and --nav-file name the outputs of one input; " +
                                  std::to_string(args.files.size()) + " were given");
    if (args.split != 0) return BadArgument(err, "--obs-file and --nav-file do not go with --split");
  }
  if (args.dry_run && args.info) return BadArgument(err, "--info converts nothing; drop --dry-run");
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
