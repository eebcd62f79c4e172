// The GPB reader on any bytes, the way the conversions and rawconv_gpb_open
// read: format probe, open, every epoch until the end of the file (corrupt
// records skipped), the pass facts, rewind and a second pass, and the same
// reading with a small stream buffer on the caller's thread alone.
#include <vector>

#include "api/context.h"
#include "fuzz_support.h"
#include "gpb/gpb.h"

using namespace rawconv;

namespace {

void CheckEpoch(const GpbEpoch& epoch) {
  FUZZ_CHECK(epoch.NumChannels >= 0 && epoch.NumChannels <= kMaxChannels);
}

// The pass facts once a pass has ended.
void CheckPassEnd(const GpbClass& reader) {
  FUZZ_CHECK(reader.PassEnd() != GpbPassEnd::kNotEnded);
  FUZZ_CHECK(reader.BytesUsed() <= reader.FileSize());
  FUZZ_CHECK(reader.DamagedRecords() >= 0);
  FUZZ_CHECK(fuzz::Terminated(reader.ErrorText(), 512));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Context context{};
  ContextScope scope(context);
  const std::string path = fuzz::WriteScratch("input.gpb", data, size);

  GpbClass reader;
  reader.GetGpbFileType(path.c_str());
  const int opened = reader.OpenGpbFile(path.c_str(), 4096);
  // A failed open always says why; a good one has nothing to say.
  FUZZ_CHECK(reader.OpenReason().empty() == (opened == 0));
  if (opened == 0) {
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
      CheckPassEnd(reader);
      reader.RewindGpbFile();
    }
    if (reader.ReadGpbEpoch(nullptr, nullptr) == 0) CheckEpoch(reader.InternalEpoch());

    // A second open on the open object is refused and leaves it failed.
    reader.OpenGpbFile(path.c_str(), 4096);
    reader.ReadGpbEpoch(nullptr, nullptr);
    reader.CloseGpbFile();
  }
  FUZZ_CHECK(fuzz::Terminated(reader.ErrorText(), 512));

  GpbClass alone;
  alone.SetReadAhead(false);
  if (alone.OpenGpbFile(path.c_str(), 64) == 0) {
    GpbEpoch epoch{};
    GpbChannel channels[kMaxChannels]{};
    int result;
    while ((result = alone.ReadGpbEpoch(&epoch, channels)) != -1) {
      if (result == 0) CheckEpoch(epoch);
    }
    CheckPassEnd(alone);
  }
  alone.CloseGpbFile();
  return 0;
}
