// The station-table reader on any text: a read either gives rows whose
// markers are station IDs, whose periods end after they begin and do not
// overlap for one station, or a message naming the table; the lookup of
// every row's marker at its own start finds that row.
#include <string>

#include "fuzz_support.h"
#include "meta/sitelog.h"
#include "meta/station_csv.h"

using namespace rawconv;
using namespace rawconv::meta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  StationTable table;
  std::string error;
  if (!ParseStationTable(text, "fuzz.csv", StationTextLimits(), &table, &error)) {
    FUZZ_CHECK(error.compare(0, 14, "Station table ") == 0);
    return 0;
  }
  for (const StationRow& row : table.Rows) {
    FUZZ_CHECK(row.Marker.size() == 4 || row.Marker.size() == 9);
    FUZZ_CHECK(row.From < row.To);
    FUZZ_CHECK(row.ReceiverType.size() <= 20 && row.AntennaType.size() <= 20);
    FUZZ_CHECK(row.StationId.empty() || row.StationId.size() == 9);
    bool has_rows = false;
    const StationRow* found = FindStationRow(table, row.Marker, row.From, &has_rows);
    FUZZ_CHECK(has_rows);
    FUZZ_CHECK(found == &row);
  }
  return 0;
}
