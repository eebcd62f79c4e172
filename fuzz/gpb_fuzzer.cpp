// The GPB reader on any bytes: format probe, open, every epoch until the end
// of the file (corrupt records skipped), rewind, the index scan in its three
// modes, and an open with the scan built in.
#include <vector>

#include "api/context.h"
#include "fuzz_support.h"
#include "gpb/gpb.h"

using namespace rawconv;

namespace {

void CheckEpoch(const GpbEpoch& epoch) {
  FUZZ_CHECK(epoch.NumChannels >= 0 && epoch.NumChannels <= kMaxChannels);
}

void CheckScan(const GpbClass& reader) {
  const GpbScanResults& scan = reader.ScanResults();
  FUZZ_CHECK(scan.ScanEpochCount >= 0);
  const GpbScanEntry* index = reader.ScanIndex();
  if (index != nullptr) {
    for (int i = 0; i < scan.ScanEpochCount; ++i) {
      FUZZ_CHECK(index[i].NumChannels >= 0 && index[i].NumChannels <= kMaxChannels);
    }
    FUZZ_CHECK(index[scan.ScanEpochCount].TimeMs == 1000000000);
  }
  FUZZ_CHECK(fuzz::Terminated(reader.ErrorText(), 512));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Context context{};
  ContextScope scope(context);
  const std::string path = fuzz::WriteScratch("input.gpb", data, size);

  GpbClass reader;
  reader.GetGpbFileType(path.c_str());
  if (reader.OpenGpbFile(path.c_str(), 0, 4096, GIO_READ, 0) == 0) {
    FUZZ_CHECK(fuzz::Terminated(reader.ReceiverDescription(), 32));
    char name[25];
    reader.GetReceiverTypeName(name);
    GpbEpoch epoch{};
    GpbChannel channels[kMaxChannels]{};
    // Every failed read consumes at least a record header, so the loop ends.
    // A second pass after a rewind reads the same records.
    struct Read {
      int Result;
      double RcvTime;
      int NumChannels;
    };
    std::vector<Read> first;
    for (int pass = 0; pass < 2; ++pass) {
      size_t n = 0;
      int result;
      while ((result = reader.ReadGpbEpoch(&epoch, channels)) != -1) {
        if (result == 0) CheckEpoch(epoch);
        reader.IsPositionValid(&epoch);
        reader.IsKinematic(&epoch);
        const Read read = {result, result == 0 ? epoch.RcvTime : 0.0,
                           result == 0 ? epoch.NumChannels : 0};
        if (pass == 0) {
          first.push_back(read);
        } else {
          FUZZ_CHECK(n < first.size() && first[n].Result == read.Result &&
                     first[n].NumChannels == read.NumChannels &&
                     (first[n].RcvTime == read.RcvTime ||
                      (first[n].RcvTime != first[n].RcvTime && read.RcvTime != read.RcvTime)));
        }
        ++n;
      }
      if (pass == 1) FUZZ_CHECK(n == first.size());
      reader.RewindGpbFile();
    }
    if (reader.ReadGpbEpoch(nullptr, nullptr) == 0) CheckEpoch(reader.InternalEpoch());

    reader.ScanGpbFile(0, -1);
    CheckScan(reader);
    reader.ScanGpbFile(0, 3);
    CheckScan(reader);
    reader.ScanGpbFile(40, 0);
    CheckScan(reader);
    reader.ScanGpbFile(5, 5);  // refused: both limits given
    // The stream stands at the first record again after a scan.
    if (reader.ReadGpbEpoch(&epoch, channels) == 0) CheckEpoch(epoch);
    // A second open on the open object is refused and leaves it failed.
    reader.OpenGpbFile(path.c_str(), 0, 4096, GIO_READ, 0);
    reader.ReadGpbEpoch(nullptr, nullptr);
    reader.CloseGpbFile();
  }
  FUZZ_CHECK(fuzz::Terminated(reader.ErrorText(), 512));

  GpbClass scanned;
  if (scanned.OpenGpbFile(path.c_str(), 1, 64, GIO_READ, 0) == 0) CheckScan(scanned);
  scanned.CloseGpbFile();
  return 0;
}
