// rnx2gpb: turns a RINEX 2 observation file into a GPB file (test data).
//
//   rnx2gpb [--old] IN.obs OUT.gpb
//
// Writes the new format unless --old is given, and prints one summary line.
// What is kept and what is dropped is described in support/rnx_to_gpb.h.
#include <cstdio>
#include <cstring>
#include <string>

#include "support/rnx_to_gpb.h"

int main(int argc, char** argv) {
  rawconv::rnxtest::RnxToGpbOptions options;
  const char* paths[2] = {nullptr, nullptr};
  int npaths = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--old") == 0) {
      options.NewFormat = false;
    } else if (argv[i][0] == '-' || npaths == 2) {
      npaths = -1;
      break;
    } else {
      paths[npaths++] = argv[i];
    }
  }
  if (npaths != 2) {
    std::fprintf(stderr, "usage: rnx2gpb [--old] IN.obs OUT.gpb\n");
    return 2;
  }
  rawconv::rnxtest::RnxToGpbSummary summary;
  std::string error;
  if (!rawconv::rnxtest::ConvertRinexObsFileToGpb(paths[0], paths[1], options, &summary, &error)) {
    std::fprintf(stderr, "rnx2gpb: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: %d epochs (%s format), %d satellites dropped (%d other systems, %d over 24 "
              "channels), %d event records skipped\n",
              paths[1], summary.Epochs, options.NewFormat ? "new" : "old",
              summary.SatellitesDropped(), summary.OtherSystemDropped, summary.OverflowDropped,
              summary.EventsSkipped);
  return 0;
}
