// Allocation failures of the station file reader. The reader allocates with
// nothrow new; this test binary replaces the nothrow forms so that a chosen
// allocation fails. Every other allocation is forwarded to the ordinary
// operators, so the sanitizers still see matching new/delete pairs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "api/context.h"
#include "station/station_file.h"

namespace {

// Number of nothrow allocations still to succeed before one fails; -1 never.
int g_allocations_before_failure = -1;

bool FailThisAllocation() {
  if (g_allocations_before_failure < 0) return false;
  if (g_allocations_before_failure-- == 0) return true;
  return false;
}

}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (FailThisAllocation()) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (FailThisAllocation()) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}

namespace rawconv {
namespace {

TEST(StationMemoryTest, AllocationFailuresAreReported) {
  Context context;
  std::memset(&context, 0, sizeof context);
  ContextScope scope(context);
  std::string path = testing::TempDir() + "station_memory.sta";
  std::FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("$STAINFO\nsta {\n ID: A\n GTim: 1 1351\n}\n", f);
  std::fclose(f);

  StationFile file;
  g_allocations_before_failure = 0;  // the block record
  EXPECT_EQ(ReadStationFile(path.c_str(), kStationAllKinds, &file), 1);
  EXPECT_STREQ(file.Message, "Not enough memory");
  EXPECT_EQ(file.Records, nullptr);

  g_allocations_before_failure = 1;  // the record array
  EXPECT_EQ(ReadStationFile(path.c_str(), kStationAllKinds, &file), 1);
  EXPECT_STREQ(file.Message, "Not enough memory for station records");
  EXPECT_EQ(file.Records, nullptr);
  EXPECT_EQ(file.Count, 0);

  g_allocations_before_failure = -1;
  EXPECT_EQ(ReadStationFile(path.c_str(), kStationAllKinds, &file), 0);
  EXPECT_EQ(file.Count, 1);
  ReleaseStationFile(&file);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace rawconv
