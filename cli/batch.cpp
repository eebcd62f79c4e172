#include "batch.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "progress.h"
#include "rawconv_api.h"
#include "threads.h"

namespace gpb2rinex {

volatile std::sig_atomic_t g_stop_signal = 0;

namespace {

namespace fs = std::filesystem;

// Files of the batch by outcome.
struct Counts {
  size_t converted = 0, skipped = 0, failed = 0, cancelled = 0;
};

// What became of one GPB file of the batch.
struct Item {
  std::string gpb;
  uint64_t size = 0;

  // Planning
  int plan_result = RAWCONV_OK;
  std::string plan_error;
  std::string plan_field;  // the options field the plan's error is about
  std::vector<std::string> planned;  // every output path, as the library lists them

  // Conversion
  bool started = false;
  int result = RAWCONV_FAILED;
  std::string error;
  std::string obs_path, nav_path;
  std::vector<std::string> obs_written;  // observation files written, in time order
  std::vector<std::string> left;         // outputs that existed and were left alone
  std::string qc_summary;
  std::string warnings;  // the library's warning lines, each ending in '\n'
  std::string error_field;
  bool qc_skipped = false;
  bool damaged = false;
  uint64_t bytes_used = 0, file_size = 0;
};

// The library's options for one file. Every pointer refers into args, gpb
// or comments (filled here), which outlive the call.
rawconv_options MakeOptions(const Arguments& args, const std::string& gpb,
                            std::vector<const char*>& comments) {
  rawconv_options o;
  rawconv_options_init(&o);
  o.gpb_path = gpb.c_str();
  o.epp_path = args.epp.empty() ? nullptr : args.epp.c_str();
  if (!args.sta.empty()) {
    o.station = RAWCONV_STATION_FILE;
    o.station_path = args.sta.c_str();
  }
  o.output_dir = args.output_dir.empty() ? nullptr : args.output_dir.c_str();
  o.obs_path = args.obs_file.empty() ? nullptr : args.obs_file.c_str();
  o.nav_path = args.nav_file.empty() ? nullptr : args.nav_file.c_str();
  o.rinex = args.rinex;
  o.names = args.names;
  o.compress = args.compress;
  o.existing = args.existing;
  o.no_sync = args.no_sync ? 1 : 0;
  o.marker_name = args.marker.c_str();
  o.observer = args.observer.c_str();
  o.agency = args.agency.c_str();
  o.run_by = args.run_by.c_str();
  o.station_id = args.station_id.empty() ? nullptr : args.station_id.c_str();
  o.single_thread = HelperThreads(args.jobs, args.jobs_given, args.files.size(), UsableCores()) ? 0 : 1;
  o.antenna_height = args.antenna_height;
  o.use_week = args.use_week ? 1 : 0;
  o.week = args.week;
  o.date = args.date.empty() ? nullptr : args.date.c_str();
  o.use_run_date = args.fixed_run_date ? 1 : 0;
  o.run_date = args.run_date;
  o.qc = args.qc;
  o.use_elevation_mask = args.use_elevation_mask ? 1 : 0;
  o.elevation_mask = args.elevation_mask;
  o.qc_dir = args.qc_dir.empty() ? nullptr : args.qc_dir.c_str();
  o.from_time = args.from.c_str();
  o.to_time = args.to.c_str();
  o.interval = args.interval;
  o.exclude = args.exclude.c_str();
  o.obs_types = args.obs_types.c_str();
  o.marker_type = args.marker_type.c_str();
  o.marker_number = args.marker_number.c_str();
  o.receiver_number = args.receiver_number.c_str();
  o.receiver_type = args.receiver_type.c_str();
  o.receiver_version = args.receiver_version.c_str();
  o.antenna_number = args.antenna_number.c_str();
  o.antenna_type = args.antenna_type.c_str();
  o.sitelog_path = args.sitelog.empty() ? nullptr : args.sitelog.c_str();
  o.stations_path = args.stations.empty() ? nullptr : args.stations.c_str();
  o.use_position = args.use_position ? 1 : 0;
  o.use_antenna_delta = args.use_antenna_delta ? 1 : 0;
  for (int i = 0; i < 3; ++i) {
    o.position[i] = args.position[i];
    o.antenna_delta[i] = args.antenna_delta[i];
  }
  comments.clear();
  for (const std::string& comment : args.comments) comments.push_back(comment.c_str());
  o.comments = comments.empty() ? nullptr : comments.data();
  o.comment_count = static_cast<int32_t>(comments.size());
  o.full_header = args.full_header ? 1 : 0;
  o.split = args.split;
  o.position_source = args.position_source;
  return o;
}

std::string ErrorOf(const rawconv_report& report, int result) {
  if (report.error[0] != '\0') return report.error;
  return rawconv_result_name(result);
}

// Runs work(session, i) for every index on up to `jobs` threads, each with
// a library session of its own, taking the indexes in order. On this thread
// calls ready(i) for each index in order as soon as it is done, and
// tick(count done) now and then while waiting.
void RunInOrder(size_t count, int jobs, const std::function<void(rawconv_session*, size_t)>& work,
                const std::function<void(size_t)>& ready, const std::function<void(size_t)>& tick) {
  if (count == 0) return;
  std::vector<char> done(count, 0);
  std::atomic<size_t> next{0};
  std::atomic<size_t> finished{0};
  std::mutex mutex;
  std::condition_variable changed;

  auto worker = [&]() {
    rawconv_session* session = rawconv_session_new();
    for (size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) {
      work(session, i);
      std::lock_guard<std::mutex> lock(mutex);
      done[i] = 1;
      finished.fetch_add(1);
      changed.notify_one();
    }
    rawconv_session_free(session);
  };
  const size_t threads = static_cast<size_t>(jobs) < count ? static_cast<size_t>(jobs) : count;
  std::vector<std::thread> pool;
  for (size_t t = 0; t < threads; ++t) pool.emplace_back(worker);

  for (size_t i = 0; i < count; ++i) {
    std::unique_lock<std::mutex> lock(mutex);
    while (!done[i]) {
      changed.wait_for(lock, std::chrono::milliseconds(100));
      lock.unlock();
      tick(finished.load());
      lock.lock();
    }
    lock.unlock();
    ready(i);
    tick(finished.load());
  }
  for (std::thread& t : pool) t.join();
}

// Result lines: successes on stdout, failures and warnings on stderr, each
// flushed as it is printed. Once stdout cannot be written (a closed pipe)
// nothing more goes there; the conversions go on.
class Printer {
 public:
  explicit Printer(ProgressLine& progress) : progress_(progress) {}

  void Out(const std::string& line) {
    progress_.Clear();
    if (!stdout_open_) return;
    if (std::fputs(line.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
      stdout_open_ = false;
      std::clearerr(stdout);
    }
  }
  void Err(const std::string& line) {
    progress_.Clear();
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
  }

 private:
  ProgressLine& progress_;
  bool stdout_open_ = true;
};

const char* BaseName(const std::string& path) {
  const size_t sep = path.find_last_of("/\\");
  return path.c_str() + (sep == std::string::npos ? 0 : sep + 1);
}

// One spelling per file for comparing planned outputs: the absolute path
// with symbolic links of its existing part resolved.
std::string Identity(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) return path;
  fs::path canonical = fs::weakly_canonical(p, ec);
  return (ec ? p.lexically_normal() : canonical).string();
}

// Reports every output path that two files of the batch would both write.
// Returns true when there is none.
bool DistinctOutputs(const std::vector<Item>& items) {
  std::map<std::string, size_t> writer;
  bool distinct = true;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].plan_result != RAWCONV_OK) continue;
    for (const std::string& out : items[i].planned) {
      if (out.empty()) continue;
      auto inserted = writer.emplace(Identity(out), i);
      if (inserted.second || inserted.first->second == i) continue;
      std::fprintf(stderr, "gpb2rinex: %s and %s would both write %s\n",
                   items[inserted.first->second].gpb.c_str(), items[i].gpb.c_str(), out.c_str());
      distinct = false;
    }
  }
  return distinct;
}

int OnProgress(void* user, uint64_t done, uint64_t total) {
  FileProgress* file = static_cast<FileProgress*>(user);
  file->done.store(done, std::memory_order_relaxed);
  file->total.store(total, std::memory_order_relaxed);
  return g_stop_signal != 0 ? 1 : 0;
}

// Output callbacks: every planned path; the observation files written.
void OnPlanned(void* user, int32_t, const char* path, int32_t) {
  static_cast<Item*>(user)->planned.push_back(path);
}

void OnWritten(void* user, int32_t kind, const char* path, int32_t skipped) {
  Item* item = static_cast<Item*>(user);
  if (skipped) item->left.push_back(path);
  else if (kind == RAWCONV_OUTPUT_OBS) item->obs_written.push_back(path);
}

void Plan(const Arguments& args, rawconv_session* session, Item& item) {
  if (session == nullptr) {
    item.plan_result = RAWCONV_FAILED;
    item.plan_error = "out of memory";
    return;
  }
  std::vector<const char*> comments;
  rawconv_options options = MakeOptions(args, item.gpb, comments);
  options.output = OnPlanned;
  options.output_user = &item;
  std::unique_ptr<rawconv_report> report(new rawconv_report);
  rawconv_report_init(report.get());
  item.planned.clear();
  item.plan_result = rawconv_plan(session, &options, report.get());
  if (item.plan_result != RAWCONV_OK) {
    item.plan_error = ErrorOf(*report, item.plan_result);
    item.plan_field = report->error_field;
    item.planned.clear();
  }
}

void Convert(const Arguments& args, rawconv_session* session, Item& item, FileProgress& progress) {
  if (g_stop_signal != 0) return;
  item.started = true;
  std::vector<const char*> comments;
  rawconv_options options = MakeOptions(args, item.gpb, comments);
  if (item.plan_result != RAWCONV_OK) {
    // Its outputs are unknown, so they were not checked against the others:
    // the conversion may fail with its own message, but never replaces a file.
    if (options.existing == RAWCONV_EXISTING_REPLACE) options.existing = RAWCONV_EXISTING_REFUSE;
  }
  options.progress = OnProgress;
  options.progress_user = &progress;
  options.output = OnWritten;
  options.output_user = &item;
  std::unique_ptr<rawconv_report> report(new rawconv_report);
  rawconv_report_init(report.get());
  item.result = rawconv_convert(session, &options, report.get());
  item.error = item.result == RAWCONV_OK || item.result == RAWCONV_SKIPPED
                   ? std::string()
                   : ErrorOf(*report, item.result);
  item.obs_path = report->obs_path;
  item.nav_path = report->nav_path;
  item.qc_summary = report->qc_summary;
  item.warnings = report->warnings;
  item.error_field = report->error_field;
  // Without the output callback's account (a call that left everything
  // alone), the report's own flags say what existed.
  if (item.result == RAWCONV_SKIPPED && item.left.empty()) {
    if (report->obs_skipped && report->obs_path[0]) item.left.push_back(report->obs_path);
    if (report->nav_skipped && report->nav_path[0]) item.left.push_back(report->nav_path);
  }
  item.qc_skipped = report->qc_skipped != 0;
  item.damaged = report->gpb_damaged != 0;
  item.bytes_used = report->gpb_bytes_used;
  item.file_size = report->gpb_file_size;
}

bool Contains(const std::vector<std::string>& paths, const std::string& path) {
  for (const std::string& p : paths)
    if (p == path) return true;
  return false;
}

// "FILE: left alone (exists): a.05o, a.05n" when outputs existed and were
// left alone; "" otherwise.
std::string LeftLine(const Item& item) {
  if (item.left.empty()) return "";
  std::string line = item.gpb + ": left alone (exists): ";
  for (size_t i = 0; i < item.left.size(); ++i)
    line += (i ? ", " : "") + std::string(BaseName(item.left[i]));
  return line + "\n";
}

// The lines of a converted file: "FILE -> OBS NAV" with the files written
// (with splitting, the first span's file with the navigation file and one
// line per further span), then what was left alone.
void PrintWritten(const Item& item, Printer& printer) {
  const std::string head = item.gpb + " -> ";
  const bool nav_written = !item.nav_path.empty() && !Contains(item.left, item.nav_path);
  const std::string nav = nav_written ? std::string(BaseName(item.nav_path)) : std::string();
  std::string first;
  if (!item.obs_written.empty()) first = BaseName(item.obs_written[0]);
  if (!nav.empty()) first += (first.empty() ? "" : " ") + nav;
  if (!first.empty()) printer.Out(head + first + "\n");
  for (size_t i = 1; i < item.obs_written.size(); ++i)
    printer.Out(head + BaseName(item.obs_written[i]) + "\n");
  printer.Out(LeftLine(item));
}

// The check's summary line, which starts with the GPB file: as the user
// named it, so that d1/x.gpb and d2/x.gpb give lines of their own.
std::string SummaryLine(const Item& item) {
  const std::string& line = item.qc_summary;
  if (line.compare(0, item.gpb.size() + 1, item.gpb + ":") == 0) return line + "\n";
  const std::string base = BaseName(item.gpb);
  if (line.compare(0, base.size() + 1, base + ":") == 0)
    return item.gpb + line.substr(base.size()) + "\n";
  return item.gpb + ": " + line + "\n";
}

// A failed file's message in the words of this command: the library's
// message with the option at fault named (field: the library's error_field).
// The library ends a missing-ephemeris message with its own advice in terms
// of its options record; here that advice names the options.
std::string Explained(int result, const std::string& field, const std::string& error) {
  if (result == RAWCONV_EXISTS || field == "existing")
    return error + "; --skip-existing leaves it, --force replaces it";
  const size_t advice = error.find("; give ");
  if (field == "epp_path" && advice != std::string::npos)
    return error.substr(0, advice) + "; give --epp FILE, --week N or --date DATE";
  // A site log that cannot be told from the file's marker.
  const std::string marker_advice = "; give marker_name or station_id";
  if ((field == "sitelog_path" || field == "stations_path") && advice != std::string::npos &&
      error.compare(advice, std::string::npos, marker_advice) == 0)
    return error.substr(0, advice) + "; give --marker NAME or --station-id ID";
  if (field == "position_source") return error + " (--position data)";
  return error;
}

// Prints the lines of one file and counts it.
void Report(const Arguments& args, const Item& item, Printer& printer, Counts& counts) {
  if (!item.started) return;
  switch (item.result) {
    case RAWCONV_OK:
      ++counts.converted;
      if (args.quiet) break;
      // The check alone prints its summary line only.
      if (args.qc != RAWCONV_QC_ONLY) PrintWritten(item, printer);
      else printer.Out(LeftLine(item));
      if (!item.qc_summary.empty()) printer.Out(SummaryLine(item));
      break;
    case RAWCONV_SKIPPED:
      ++counts.skipped;
      if (!args.quiet) {
        const std::string left = LeftLine(item);
        printer.Out(left.empty() ? item.gpb + ": skipped, outputs exist\n"
                                 : item.gpb + ": skipped; " + left.substr(item.gpb.size() + 2));
      }
      break;
    case RAWCONV_CANCELLED:  // interrupted: told by the batch's last line
      ++counts.cancelled;
      printer.Err(item.gpb + ": " + item.error + "\n");
      break;
    default:
      ++counts.failed;
      printer.Err(item.gpb + ": " + Explained(item.result, item.error_field, item.error) + "\n");
      break;
  }
  size_t begin = 0;
  while (begin < item.warnings.size()) {
    size_t end = item.warnings.find('\n', begin);
    if (end == std::string::npos) end = item.warnings.size();
    if (end > begin)
      printer.Err(item.gpb + ": warning: " + item.warnings.substr(begin, end - begin) + "\n");
    begin = end + 1;
  }
  if (item.damaged) {
    printer.Err(item.gpb + ": warning: file ends in a damaged or truncated record; " +
                std::to_string(item.bytes_used) + " of " + std::to_string(item.file_size) +
                " bytes converted\n");
  }
}

// "gpb2rinex: 3 converted, 1 skipped, 0 failed": the last line of a batch.
std::string CountsLine(const Arguments& args, const Counts& counts) {
  return "gpb2rinex: " + std::to_string(counts.converted) +
         (args.qc == RAWCONV_QC_ONLY ? " checked, " : " converted, ") +
         std::to_string(counts.skipped) + " skipped, " + std::to_string(counts.failed) + " failed";
}

// --dry-run: every planned output path on stdout, one a line, the files
// that cannot be planned on stderr. Nothing is written.
int PrintPlan(const std::vector<Item>& items) {
  size_t planned = 0, failed = 0;
  bool out_open = true;
  for (const Item& item : items) {
    if (item.plan_result != RAWCONV_OK) {
      ++failed;
      std::fprintf(stderr, "%s: %s\n", item.gpb.c_str(),
                   Explained(item.plan_result, item.plan_field, item.plan_error).c_str());
      continue;
    }
    ++planned;
    for (const std::string& path : item.planned)
      if (out_open && std::printf("%s\n", path.c_str()) < 0) out_open = false;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) out_open = false;
  std::fprintf(stderr, "gpb2rinex: dry run, nothing written: %zu planned, %zu failed\n", planned,
               failed);
  if (!out_open) {
    std::fprintf(stderr, "gpb2rinex: cannot write the plan to standard output\n");
    return 1;
  }
  return failed ? 1 : 0;
}

// The output folders a run made. A run that wrote nothing into them (every
// file failed, or was interrupted before its outputs were in place) takes
// them away again, so that a failed run leaves no trace.
class CreatedFolders {
 public:
  CreatedFolders() = default;
  CreatedFolders(const CreatedFolders&) = delete;
  CreatedFolders& operator=(const CreatedFolders&) = delete;
  ~CreatedFolders() {
    std::error_code ec;
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) fs::remove(*it, ec);  // empty only
  }

  // create_directories, remembering each folder of the path it made.
  void Create(const std::string& folder, std::error_code* ec) {
    std::vector<fs::path> missing;
    for (fs::path p = fs::path(folder).lexically_normal(); !p.empty(); p = p.parent_path()) {
      std::error_code probe;
      if (fs::exists(p, probe) || p == p.parent_path()) break;
      missing.push_back(p);
    }
    fs::create_directories(folder, *ec);
    if (*ec) return;
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) made_.push_back(*it);
  }

 private:
  std::vector<fs::path> made_;  // outermost first
};

}  // namespace

int RunBatch(const Arguments& args) {
  std::vector<Item> items(args.files.size());
  std::vector<uint64_t> sizes(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].gpb = args.files[i];
    std::error_code ec;
    const uintmax_t size = fs::file_size(items[i].gpb, ec);
    sizes[i] = ec ? 0 : static_cast<uint64_t>(size);
  }

  CreatedFolders created;
  for (const std::string* folder : {&args.output_dir, &args.qc_dir}) {
    if (folder->empty() || args.dry_run) continue;
    std::error_code ec;
    created.Create(*folder, &ec);
    if (ec || !fs::is_directory(*folder)) {
      std::fprintf(stderr, "gpb2rinex: cannot create output folder %s: %s\n", folder->c_str(),
                   ec ? ec.message().c_str() : "not a folder");
      return 1;
    }
  }

  // Every output path first: two files that would write the same one stop
  // the batch before anything is written.
  RunInOrder(
      items.size(), args.jobs,
      [&](rawconv_session* session, size_t i) {
        if (g_stop_signal == 0) Plan(args, session, items[i]);
      },
      [](size_t) {}, [](size_t) {});
  if (g_stop_signal != 0) {
    std::fputs("gpb2rinex: interrupted; nothing converted\n", stderr);
    return 128 + g_stop_signal;
  }
  if (!DistinctOutputs(items)) {
    std::fputs("gpb2rinex: nothing converted\n", stderr);
    return 2;
  }
  if (args.dry_run) return PrintPlan(items);

  ProgressLine progress(stderr, !args.quiet && isatty(STDERR_FILENO) == 1, sizes);
  Printer printer(progress);
  Counts counts;
  RunInOrder(
      items.size(), args.jobs,
      [&](rawconv_session* session, size_t i) {
        if (session == nullptr) {
          items[i].started = true;
          items[i].error = "out of memory";
        } else {
          Convert(args, session, items[i], progress.File(i));
        }
        progress.File(i).finished.store(true);
      },
      [&](size_t i) {
        Report(args, items[i], printer, counts);
      },
      [&](size_t done) { progress.Tick(done); });
  progress.Clear();
  std::fflush(stdout);

  if (g_stop_signal != 0) {
    size_t left = 0;
    for (const Item& item : items)
      if (!item.started || item.result == RAWCONV_CANCELLED) ++left;
    std::fprintf(stderr, "gpb2rinex: interrupted; %zu file%s not converted; %s\n", left,
                 left == 1 ? "" : "s", CountsLine(args, counts).substr(11).c_str());
    return 128 + g_stop_signal;
  }
  // The account of the batch; -q keeps it for batches with a failure.
  if (!args.quiet || counts.failed > 0)
    std::fprintf(stderr, "%s\n", CountsLine(args, counts).c_str());
  return counts.failed ? 1 : 0;
}

}  // namespace gpb2rinex
