// The IGS site-log reader on any text: a read either gives a log whose
// entries are whole (ID of 4 or 9 characters, periods that end after they
// begin) or a message naming the log; the pick of entries at a time taken
// from the input and at every entry's own dates never fails on a log that
// read, other than by naming the time.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "meta/sitelog.h"

using namespace rawconv;
using namespace rawconv::meta;

namespace {

template <typename T>
void CheckPeriods(const std::vector<T>& entries) {
  for (const T& e : entries) {
    if (!e.Problem.empty()) {
      FUZZ_CHECK(e.Problem.compare(0, 9, "Site log ") == 0);
      continue;
    }
    FUZZ_CHECK(e.Removed >= e.Installed);
    FUZZ_CHECK(!e.Entry.empty());
    FUZZ_CHECK(e.Line > 0);
  }
}

void Pick(const SiteLog& log, int64_t first, int64_t last) {
  SiteLogPick pick;
  std::string error;
  if (PickEntries(log, first, last, &pick, &error)) {
    FUZZ_CHECK(pick.Receiver != nullptr && pick.Antenna != nullptr);
    FUZZ_CHECK(pick.Receiver->Installed <= first && first < pick.Receiver->Removed);
    FUZZ_CHECK(pick.Antenna->Installed <= first && first < pick.Antenna->Removed);
    FUZZ_CHECK(pick.Warnings.size() <= 2);
  } else {
    FUZZ_CHECK(error.compare(0, 9, "Site log ") == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  SiteLog log;
  std::string error;
  // The name gives the ID when the log's own is unusable.
  const char* name = size > 0 && (data[0] & 1) ? "abcd00dnk_20230101.log" : "fuzz.log";
  if (!ParseSiteLog(text, name, &log, &error)) {
    FUZZ_CHECK(error.compare(0, 9, "Site log ") == 0);
    return 0;
  }
  FUZZ_CHECK(log.Id4.size() == 4);
  FUZZ_CHECK(log.Id9.empty() || (log.Id9.size() == 9 && log.Id9.compare(0, 4, log.Id4) == 0));
  CheckPeriods(log.Receivers);
  CheckPeriods(log.Antennas);
  for (const SiteLogAntenna& a : log.Antennas) FUZZ_CHECK(!a.Radome.empty());
  int64_t at = 0;
  if (size >= 8) std::memcpy(&at, data + size - 8, sizeof at);
  at %= int64_t{1} << 40;
  Pick(log, at, at + 86400);
  for (const SiteLogReceiver& r : log.Receivers) Pick(log, r.Installed, r.Installed + 3600);
  for (const SiteLogAntenna& a : log.Antennas) {
    Pick(log, a.Installed, a.Installed);
    if (a.Removed != kOpenEnd) Pick(log, a.Removed - 1, a.Removed);
  }
  TimeText(at);
  return 0;
}
