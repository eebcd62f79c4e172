// How many cores a gpb2rinex run may use, and whether its conversions get
// the library's helper threads.
//
// -j N is the run's share of the machine: at most N conversions at once,
// and no more than N cores busy between them, as with make, xz -T or a
// scheduler's allotment (a cluster task given 16 cores runs -j 16). A
// conversion of a large file can use a core of its own for reading ahead
// and writing (single_thread = 0 in the library's options); it does so only
// when that core is idle:
//   without -j       one conversion at a time; helpers when the machine
//                    has a second core;
//   -j N             helpers only when fewer than N files are converted at
//                    once (-j 2 with one file) and fewer than the cores;
//                    -j 1 is one core.
#ifndef RAWCONV_CLI_THREADS_H_
#define RAWCONV_CLI_THREADS_H_

#include <cstddef>

namespace gpb2rinex {

// Cores this process may run on: its CPU affinity where the system has one
// (a scheduler's allotment is a cpuset), else the machine's count; 0 when
// unknown.
unsigned UsableCores();

// True when conversions may use helper threads. jobs: -j (1 when not given),
// jobs_given: -j was on the command line, files: inputs of the run, cores:
// UsableCores() (0: unknown, taken as one).
inline bool HelperThreads(int jobs, bool jobs_given, size_t files, unsigned cores) {
  const size_t at_once = static_cast<size_t>(jobs) < files ? static_cast<size_t>(jobs) : files;
  if (at_once >= cores) return false;
  return !jobs_given || at_once < static_cast<size_t>(jobs);
}

}  // namespace gpb2rinex

#endif  // RAWCONV_CLI_THREADS_H_
