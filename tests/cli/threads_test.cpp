// The cores a gpb2rinex run takes: -j N is a budget of N cores, and a
// scheduler's allotment (the process's CPU affinity) is what the machine has.
#include <gtest/gtest.h>

#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

#include "threads.h"

namespace gpb2rinex {
namespace {

TEST(CliThreads, HelpersOnlyOnCoresTheRunLeavesIdle) {
  // Without -j: one conversion at a time, helped when there is a second core.
  EXPECT_TRUE(HelperThreads(1, false, 1, 2));
  EXPECT_TRUE(HelperThreads(1, false, 8, 2));
  EXPECT_FALSE(HelperThreads(1, false, 8, 1));
  EXPECT_FALSE(HelperThreads(1, false, 1, 0));  // unknown: one core
  // -j 1 is one core, whatever the machine.
  EXPECT_FALSE(HelperThreads(1, true, 1, 16));
  EXPECT_FALSE(HelperThreads(1, true, 8, 16));
  // -j N with N files or more: N conversions fill the share.
  EXPECT_FALSE(HelperThreads(2, true, 8, 2));
  EXPECT_FALSE(HelperThreads(2, true, 8, 16));
  EXPECT_FALSE(HelperThreads(16, true, 1000, 64));
  // Fewer files than N: the conversions may use the rest, up to the cores.
  EXPECT_TRUE(HelperThreads(2, true, 1, 2));
  EXPECT_TRUE(HelperThreads(8, true, 3, 16));
  EXPECT_FALSE(HelperThreads(8, true, 3, 3));
  EXPECT_FALSE(HelperThreads(8, true, 4, 2));
}

#if defined(__linux__)
// A task that a scheduler pinned to one CPU has one core, however many the
// machine has.
TEST(CliThreads, UsableCoresFollowTheAffinity) {
  const unsigned all = UsableCores();
  ASSERT_GE(all, 1u);
  unsigned pinned = 0;
  std::thread t([&pinned] {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0) return;
    int first = 0;
    while (first < CPU_SETSIZE && !CPU_ISSET(first, &set)) ++first;
    CPU_ZERO(&set);
    CPU_SET(first, &set);
    if (sched_setaffinity(0, sizeof(set), &set) == 0) pinned = UsableCores();
  });
  t.join();
  EXPECT_EQ(1u, pinned);
}
#endif

}  // namespace
}  // namespace gpb2rinex
