// gpb2rinex: converts GPB files to RINEX from the command line.
//
//   gpb2rinex [options] FILE.gpb...
//
// Each file is converted with the ephemeris file beside it (FILE.epp) or the
// one given with --epp, into FILE.YYo and FILE.YYn beside it or in
// --output-dir. Before anything is written every output path of the batch is
// planned, and two inputs that would write the same file stop the batch.
// Every file is then tried even after a failure; existing outputs are
// refused unless --force or --skip-existing says otherwise. One line per
// file, in argument order: successes on stdout, failures on stderr. The exit
// code is 0 when all converted (or were skipped), 1 when any failed, 2 for
// bad arguments.
//
// With --qc each file is also checked while it is converted (--qc-only:
// checked, not converted): a summary line per file, the reports beside the
// observation file. --info describes the files and converts nothing.
//
// Only the library's public interface (rawconv_api.h) is used: with -j N,
// N worker threads convert at once, each on a session of its own.
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "arguments.h"
#include "batch.h"
#include "info.h"

namespace {

#if defined(SIGKILL)  // POSIX
// A stop signal that comes again within a second (kRepeatNanoseconds) of
// the first is the same stop delivered twice (a scheduler signals every
// process of a task, and the task's script passes the stop on); one after
// that ends gpb2rinex at once, without its cleanup, as a second Ctrl-C is
// meant to.
constexpr int64_t kRepeatNanoseconds = 1000000000;
std::atomic<int64_t> g_first_stop{0};  // CLOCK_MONOTONIC ns of the first; 0: none
static_assert(std::atomic<int64_t>::is_always_lock_free, "usable in a signal handler");

void OnStopSignal(int signo) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const int64_t t = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec + 1;
  int64_t first = 0;
  if (g_first_stop.compare_exchange_strong(first, t)) {
    gpb2rinex::g_stop_signal = signo;  // the stop the exit code reports
    return;
  }
  if (t - first < kRepeatNanoseconds) return;
  std::signal(signo, SIG_DFL);
  std::raise(signo);
}
#else
void OnStopSignal(int signo) { gpb2rinex::g_stop_signal = signo; }
#endif

// Writes that fail (a file size limit, a closed pipe) are reported as
// failed writes rather than ending the process. The first SIGINT or SIGTERM
// cancels the batch cleanly; another one a second or more later ends it at
// once.
void InstallSignalHandlers() {
#if defined(SIGPIPE)
  std::signal(SIGPIPE, SIG_IGN);
#endif
#if defined(SIGXFSZ)
  std::signal(SIGXFSZ, SIG_IGN);
#endif
#if defined(SIGKILL)
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#else
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  gpb2rinex::Arguments args;
  const int rc = gpb2rinex::ParseArguments(argc, argv, args, stdin, stdout, stderr);
  if (rc >= 0) return rc;
  if (args.info) return gpb2rinex::RunInfo(args, stdout, stderr);
  InstallSignalHandlers();
  return gpb2rinex::RunBatch(args);
}
