// The "$STAINFO" station file reader on any text: the format probe, a read
// of all kinds and one of the kinds picked by the input, and the station
// table the epoch writer builds from it with a lookup of every record time.
#include "api/context.h"
#include "fuzz_support.h"
#include "obs/station_table.h"
#include "station/station_file.h"

using namespace rawconv;

namespace {

void CheckRecords(const StationFile& file) {
  FUZZ_CHECK(file.Count >= 0);
  FUZZ_CHECK((file.Count == 0) == (file.Records == nullptr));
  for (int i = 0; i < file.Count; ++i) {
    const StationRecord& r = file.Records[i];
    FUZZ_CHECK(fuzz::Terminated(r.Name, sizeof r.Name));
    FUZZ_CHECK(fuzz::Terminated(r.Text1, sizeof r.Text1));
    FUZZ_CHECK(fuzz::Terminated(r.Text2, sizeof r.Text2));
    FUZZ_CHECK(fuzz::Terminated(r.Text3, sizeof r.Text3));
    FUZZ_CHECK(fuzz::Terminated(r.AntennaName, sizeof r.AntennaName));
    FUZZ_CHECK(r.Kind == kStationHdr || r.Kind == kStationSta || r.Kind == kStationMrk ||
               r.Kind == kStationGis || r.Kind == kStationRtk);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Context context{};
  ContextScope scope(context);
  const std::string path = fuzz::WriteScratch("input.sta", data, size);

  IsStationInfoFile(path.c_str());
  StationFile file{};
  const int result = ReadStationFile(path.c_str(), kStationAllKinds, &file);
  FUZZ_CHECK(result == 0 || file.Count == 0);
  CheckRecords(file);
  ReleaseStationFile(&file);

  const uint32_t mask = size > 0 ? data[size - 1] & kStationAllKinds : 0;
  ReadStationFile(path.c_str(), mask, &file);
  CheckRecords(file);
  FUZZ_CHECK(fuzz::Terminated(file.Message, sizeof file.Message));
  ReleaseStationFile(&file);
  FUZZ_CHECK(fuzz::Terminated(context.ErrorText, sizeof context.ErrorText));

  StationTable table;
  const int count = table.LoadFile(path.c_str());
  FUZZ_CHECK(count == table.Count());
  StationEvent event;
  if (ReadStationFile(path.c_str(), kStationAllKinds, &file) == 0) {
    for (int i = 0; i < file.Count; ++i) {
      if (table.Find(file.Records[i].Seconds, &event)) {
        FUZZ_CHECK(fuzz::Terminated(event.Name, sizeof event.Name));
      }
    }
  }
  ReleaseStationFile(&file);
  table.Find(0.0, &event);
  return 0;
}
