// The "STA:" list reader on any text: the whole file, the record parser on
// the raw input as one record text, and the station table built from a list.
#include <cstring>
#include <memory>

#include "api/context.h"
#include "fuzz_support.h"
#include "obs/sta_list.h"
#include "obs/station_table.h"

using namespace rawconv;

namespace {

void CheckRecord(const StaRecord& r) {
  FUZZ_CHECK(fuzz::Terminated(r.StaName, sizeof r.StaName));
  FUZZ_CHECK(fuzz::Terminated(r.StaComment1, sizeof r.StaComment1));
  FUZZ_CHECK(fuzz::Terminated(r.StaComment2, sizeof r.StaComment2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Context context{};
  ContextScope scope(context);
  const std::string path = fuzz::WriteScratch("input.sta", data, size);

  // One table for every run (the reader fills what it reads; the rest is
  // cleared here), so a run does not pay for a large allocation.
  static StaRecord* const table = new StaRecord[kMaxStaRecords];
  std::memset(table, 0, sizeof(StaRecord) * kMaxStaRecords);
  const int count = ReadStaList(path.c_str(), table);
  FUZZ_CHECK(count >= 0 && count <= kMaxStaRecords);
  for (int i = 0; i < count; ++i) CheckRecord(table[i]);

  std::unique_ptr<char[]> text(new char[size + 1]);
  std::memcpy(text.get(), data, size);
  text[size] = '\0';
  StaRecord record{};
  ParseStaLine(text.get(), &record);
  CheckRecord(record);

  StationTable stations;
  stations.LoadFile(path.c_str());
  StationEvent event;
  for (int i = 0; i < count; ++i) {
    if (stations.Find(table[i].StaTime, &event)) {
      FUZZ_CHECK(fuzz::Terminated(event.Name, sizeof event.Name));
    }
  }
  return 0;
}
