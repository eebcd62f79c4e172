// gpb2rinex: converts GPB files to RINEX 2 from the command line.
//
//   gpb2rinex [options] FILE.gpb...
//
// Each file is converted with the ephemeris file beside it (FILE.epp) or the
// one given with --epp, into FILE.YYo and FILE.YYn beside it or in
// --output-dir. Every file is tried even after a failure; the exit code is 0
// when all converted, 1 when any failed, 2 for bad arguments.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/file_ext.h"
#include "api/rawconv.h"

namespace {

const char kUsage[] =
    "usage: gpb2rinex [options] FILE.gpb...\n"
    "\n"
    "Converts each GPB file into a RINEX observation file (.YYo) and a RINEX\n"
    "navigation file (.YYn), YY being the year of the data.\n"
    "\n"
    "options:\n"
    "  --epp FILE            ephemeris file for every GPB file (default: FILE.epp\n"
    "                        beside each GPB file); its extension is set to .epp\n"
    "  --marker NAME         MARKER NAME of the observation header\n"
    "  --antenna-height M    antenna height in metres (default 0)\n"
    "  --week N              GPS week for every epoch (default: from the ephemeris)\n"
    "  --rinex 2.0|2.1       RINEX version written (default 2.1)\n"
    "  --run-by TEXT         RUN BY text of both headers\n"
    "  --observer TEXT       OBSERVER text\n"
    "  --agency TEXT         AGENCY text\n"
    "  --output-dir DIR      write the RINEX files into DIR\n"
    "  -q                    print failures only\n"
    "  --help                print this text\n"
    "  --version             print the library's version number and year\n";

struct Options {
  std::string epp;
  std::string marker;
  double antenna_height = 0.0;
  bool use_week = false;
  int32_t week = 0;
  int rinex_version = RINEX_VERSION_2_1;
  std::string run_by, observer, agency;
  std::string output_dir;
  bool quiet = false;
  std::vector<std::string> files;
};

int BadArgument(const char* format, const char* what) {
  std::fprintf(stderr, "gpb2rinex: ");
  std::fprintf(stderr, format, what);
  std::fprintf(stderr, "\nTry 'gpb2rinex --help'.\n");
  return 2;
}

// A GPS week: decimal digits only, within int32.
bool ParseWeek(const char* text, int32_t& week) {
  if (!*text) return false;
  long long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > 2147483647LL) return false;
  }
  week = static_cast<int32_t>(value);
  return true;
}

// An antenna height: a finite, non-negative decimal number.
bool ParseHeight(const char* text, double& height) {
  if (!*text) return false;
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0.0) return false;
  height = value;
  return true;
}

// Parses argv into options. Returns -1 to go on, else the exit code.
int ParseArguments(int argc, char** argv, Options& opt) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    auto value = [&](const char*& out) -> bool {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    const char* v = nullptr;
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(arg, "--version") == 0) {
      std::printf("gpb2rinex: rawconv version %.6f (%d)\n", _DLLVersionNumber_(),
                  static_cast<int>(_DLLVersionYear_()));
      return 0;
    } else if (std::strcmp(arg, "-q") == 0) {
      opt.quiet = true;
    } else if (std::strcmp(arg, "--") == 0) {
      for (++i; i < argc; ++i) opt.files.push_back(argv[i]);
    } else if (arg[0] == '-' && arg[1] != '\0') {
      const bool known =
          std::strcmp(arg, "--epp") == 0 || std::strcmp(arg, "--marker") == 0 ||
          std::strcmp(arg, "--antenna-height") == 0 || std::strcmp(arg, "--week") == 0 ||
          std::strcmp(arg, "--rinex") == 0 || std::strcmp(arg, "--run-by") == 0 ||
          std::strcmp(arg, "--observer") == 0 || std::strcmp(arg, "--agency") == 0 ||
          std::strcmp(arg, "--output-dir") == 0;
      if (!known) return BadArgument("unknown option '%s'", arg);
      if (!value(v)) return BadArgument("option '%s' needs a value", arg);
      const size_t kTextMax = 127;  // header texts live in 128-byte fields
      if (std::strcmp(arg, "--epp") == 0) {
        opt.epp = v;
      } else if (std::strcmp(arg, "--marker") == 0) {
        if (std::strlen(v) > kTextMax) return BadArgument("marker name longer than 127 characters: '%s'", v);
        opt.marker = v;
      } else if (std::strcmp(arg, "--antenna-height") == 0) {
        if (!ParseHeight(v, opt.antenna_height))
          return BadArgument("antenna height must be a non-negative number: '%s'", v);
      } else if (std::strcmp(arg, "--week") == 0) {
        if (!ParseWeek(v, opt.week)) return BadArgument("GPS Week must be an unsigned integer: '%s'", v);
        opt.use_week = true;
      } else if (std::strcmp(arg, "--rinex") == 0) {
        if (std::strcmp(v, "2.0") == 0) {
          opt.rinex_version = RINEX_VERSION_2_0;
        } else if (std::strcmp(v, "2.1") == 0) {
          opt.rinex_version = RINEX_VERSION_2_1;
        } else {
          return BadArgument("RINEX version must be 2.0 or 2.1: '%s'", v);
        }
      } else {
        if (std::strlen(v) > kTextMax) return BadArgument("header text longer than 127 characters: '%s'", v);
        if (std::strcmp(arg, "--run-by") == 0) opt.run_by = v;
        if (std::strcmp(arg, "--observer") == 0) opt.observer = v;
        if (std::strcmp(arg, "--agency") == 0) opt.agency = v;
        if (std::strcmp(arg, "--output-dir") == 0) opt.output_dir = v;
      }
    } else {
      opt.files.push_back(arg);
    }
  }
  if (opt.files.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return -1;
}

// Last path component (after the last slash or backslash).
const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  return base;
}

// Copies text into a fixed request field; false when it does not fit.
bool CopyField(char* field, size_t size, const std::string& text) {
  if (text.size() >= size) return false;
  std::memcpy(field, text.c_str(), text.size() + 1);
  return true;
}

// Fills the two records for one GPB file the way the dialog front end does.
bool FillRequests(const Options& opt, const std::string& gpb, ObsRequest& obs, NavRequest& nav,
                  std::string& why) {
  std::memset(&obs, 0, sizeof obs);
  std::memset(&nav, 0, sizeof nav);
  obs.StructSize = sizeof obs;
  nav.StructSize = sizeof nav;
  obs.DataTypes = RAWCONV_DATATYPES_AUTO;
  obs.UseGpsWeek = opt.use_week ? 1 : 0;
  obs.GpsWeek = opt.use_week ? opt.week : 0;
  obs.AntHeight = opt.antenna_height;

  std::string out_base = gpb;
  if (!opt.output_dir.empty()) {
    out_base = opt.output_dir;
    if (out_base.back() != '/' && out_base.back() != '\\') out_base += '/';
    out_base += BaseName(gpb.c_str());
  }
  const std::string epp = opt.epp.empty() ? gpb : opt.epp;
  if (!CopyField(obs.GpbFile, sizeof obs.GpbFile, gpb) ||
      !CopyField(obs.ObsFile, sizeof obs.ObsFile, out_base) ||
      !CopyField(nav.NavFile, sizeof nav.NavFile, out_base) ||
      !CopyField(nav.EppFile, sizeof nav.EppFile, epp) ||
      rawconv::SetFileExt(obs.ObsFile, ".obs") != 0 ||
      rawconv::SetFileExt(nav.NavFile, ".nav") != 0 ||
      rawconv::SetFileExt(nav.EppFile, ".epp") != 0) {
    why = "path longer than 255 characters";
    return false;
  }
  CopyField(obs.MarkerName, sizeof obs.MarkerName, opt.marker);
  CopyField(obs.RunBy, sizeof obs.RunBy, opt.run_by);
  CopyField(nav.RunBy, sizeof nav.RunBy, opt.run_by);
  CopyField(obs.Observer, sizeof obs.Observer, opt.observer);
  CopyField(obs.Agency, sizeof obs.Agency, opt.agency);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  int rc = ParseArguments(argc, argv, opt);
  if (rc >= 0) return rc;

  int failures = 0;
  for (const std::string& gpb : opt.files) {
    ObsRequest obs;
    NavRequest nav;
    std::string why;
    if (!FillRequests(opt, gpb, obs, nav, why)) {
      std::printf("%s: %s\n", gpb.c_str(), why.c_str());
      ++failures;
      continue;
    }
    if (Gpb_To_Rinex_Ver(&obs, &nav, opt.rinex_version) != 0) {
      char text[256];
      Get_Error_Str(text);
      std::printf("%s: %s\n", gpb.c_str(), text);
      ++failures;
      continue;
    }
    if (!opt.quiet)
      std::printf("%s -> %s %s\n", gpb.c_str(), BaseName(obs.ObsFile), BaseName(nav.NavFile));
  }
  std::fflush(stdout);
  return failures ? 1 : 0;
}
