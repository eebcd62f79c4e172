#include "threads.h"

#if defined(__linux__)
#include <sched.h>
#endif

#include <thread>

namespace gpb2rinex {

unsigned UsableCores() {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
#endif
  return std::thread::hardware_concurrency();
}

}  // namespace gpb2rinex
