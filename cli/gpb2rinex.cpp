// gpb2rinex: converts GPB files to RINEX 2 from the command line.
//
//   gpb2rinex [options] FILE.gpb...
//
// Each file is converted with the ephemeris file beside it (FILE.epp) or the
// one given with --epp, into FILE.YYo and FILE.YYn beside it or in
// --output-dir. Every file is tried even after a failure; the exit code is 0
// when all converted, 1 when any failed, 2 for bad arguments.
//
// With -j N, N files are converted at once by worker threads, each with its
// own library context; the per-file lines still come in the order of the
// arguments.
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/context.h"
#include "api/conversion.h"
#include "api/file_ext.h"
#include "api/rawconv.h"
#include "obs/run_date.h"

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
    "  -j N                  convert N files at once (default 1)\n"
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
  int jobs = 1;
  // Test-only (--fixed-run-date, not in the usage text): the run date of
  // both headers, in seconds since 1970, so runs can be compared byte for
  // byte.
  bool fixed_run_date = false;
  int64_t run_date = 0;
  std::vector<std::string> files;
};

constexpr int kMaxJobs = 64;

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

// A count of jobs: decimal digits only, 1 to kMaxJobs.
bool ParseJobs(const char* text, int& jobs) {
  int32_t value = 0;
  if (!ParseWeek(text, value) || value < 1 || value > kMaxJobs) return false;
  jobs = static_cast<int>(value);
  return true;
}

// Seconds since 1970: decimal digits only, at most 12 of them.
bool ParseRunDate(const char* text, int64_t& seconds) {
  const size_t length = std::strlen(text);
  if (length == 0 || length > 12) return false;
  int64_t value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
  }
  seconds = value;
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
    } else if (std::strncmp(arg, "-j", 2) == 0 && std::strcmp(arg, "-j") != 0) {
      if (!ParseJobs(arg + 2, opt.jobs))
        return BadArgument("number of jobs must be an integer from 1 to 64: '%s'", arg + 2);
    } else if (std::strcmp(arg, "--") == 0) {
      for (++i; i < argc; ++i) opt.files.push_back(argv[i]);
    } else if (arg[0] == '-' && arg[1] != '\0') {
      const bool known =
          std::strcmp(arg, "--epp") == 0 || std::strcmp(arg, "--marker") == 0 ||
          std::strcmp(arg, "--antenna-height") == 0 || std::strcmp(arg, "--week") == 0 ||
          std::strcmp(arg, "--rinex") == 0 || std::strcmp(arg, "--run-by") == 0 ||
          std::strcmp(arg, "--observer") == 0 || std::strcmp(arg, "--agency") == 0 ||
          std::strcmp(arg, "--output-dir") == 0 || std::strcmp(arg, "-j") == 0 ||
          std::strcmp(arg, "--fixed-run-date") == 0;
      if (!known) return BadArgument("unknown option '%s'", arg);
      if (!value(v)) return BadArgument("option '%s' needs a value", arg);
      const size_t kTextMax = 127;  // header texts live in 128-byte fields
      if (std::strcmp(arg, "-j") == 0) {
        if (!ParseJobs(v, opt.jobs))
          return BadArgument("number of jobs must be an integer from 1 to 64: '%s'", v);
      } else if (std::strcmp(arg, "--fixed-run-date") == 0) {
        if (!ParseRunDate(v, opt.run_date)) return BadArgument("bad run date: '%s'", v);
        opt.fixed_run_date = true;
      } else if (std::strcmp(arg, "--epp") == 0) {
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

// The outcome of one file: its line (empty for a success under -q) and
// whether it failed.
struct FileResult {
  std::string Line;
  bool Failed = false;
  bool Done = false;
};

// Converts one file on the calling thread's current library context.
FileResult ConvertOne(const Options& opt, const std::string& gpb) {
  FileResult result;
  ObsRequest obs;
  NavRequest nav;
  std::string why;
  if (!FillRequests(opt, gpb, obs, nav, why)) {
    result.Line = gpb + ": " + why + "\n";
    result.Failed = true;
    return result;
  }
  if (opt.fixed_run_date) rawconv::SetRunClockForTesting(opt.run_date);
  int code = 1;
  try {
    code = rawconv::ConvertGpbFile(&obs, &nav, opt.rinex_version);
  } catch (...) {
    rawconv::CopyErrorText("Internal error during conversion");
  }
  if (code != 0) {
    char text[rawconv::kErrorTextSize];
    std::snprintf(text, sizeof text, "%s", rawconv::Ctx().ErrorText);
    result.Line = gpb + ": " + text + "\n";
    result.Failed = true;
  } else if (!opt.quiet) {
    result.Line = gpb + " -> " + BaseName(obs.ObsFile) + " " + BaseName(nav.NavFile) + "\n";
  }
  return result;
}

// The files one after the other on the library's default context, each line
// printed as soon as its file is done. Returns the number of failures.
int ConvertSequentially(const Options& opt) {
  int failures = 0;
  for (const std::string& gpb : opt.files) {
    const FileResult result = ConvertOne(opt, gpb);
    std::fputs(result.Line.c_str(), stdout);
    if (result.Failed) ++failures;
  }
  return failures;
}

// The files on opt.jobs worker threads. Each worker converts one file at a
// time, in argument order, on its own context, made fresh for every file so
// that nothing of one file's conversion reaches another. The lines are
// printed by this thread in argument order as the files finish. Returns the
// number of failures.
int ConvertInParallel(const Options& opt) {
  const size_t count = opt.files.size();
  std::vector<FileResult> results(count);
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::condition_variable finished;

  auto worker = [&]() {
    rawconv::Context context{};
    rawconv::ContextScope scope(context);
    for (size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) {
      context = rawconv::Context{};
      FileResult result = ConvertOne(opt, opt.files[i]);
      std::lock_guard<std::mutex> lock(mutex);
      results[i] = std::move(result);
      results[i].Done = true;
      finished.notify_one();
    }
  };
  const size_t threads = static_cast<size_t>(opt.jobs) < count ? static_cast<size_t>(opt.jobs) : count;
  std::vector<std::thread> pool;
  for (size_t t = 0; t < threads; ++t) pool.emplace_back(worker);

  int failures = 0;
  for (size_t i = 0; i < count; ++i) {
    std::unique_lock<std::mutex> lock(mutex);
    finished.wait(lock, [&] { return results[i].Done; });
    const FileResult result = std::move(results[i]);
    lock.unlock();
    std::fputs(result.Line.c_str(), stdout);
    std::fflush(stdout);
    if (result.Failed) ++failures;
  }
  for (std::thread& t : pool) t.join();
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  int rc = ParseArguments(argc, argv, opt);
  if (rc >= 0) return rc;

  const int failures =
      (opt.jobs > 1 && opt.files.size() > 1) ? ConvertInParallel(opt) : ConvertSequentially(opt);
  std::fflush(stdout);
  return failures ? 1 : 0;
}
