// make_synthetic_gpb: writes a synthetic GPB recording and its EPP file
// (benchmark input).
//
//   make_synthetic_gpb [--epochs N] [--interval S] [--satellites K] OUT.gpb OUT.epp
//
// Defaults: 86,400 epochs at 1 s (one day, 2005-01-16), 14 GPS satellites,
// new format with L2 blocks and all eight observation types. The records are
// streamed to the file one at a time. The model is in perf/synthetic_gpb.h.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "perf/synthetic_gpb.h"

namespace {

bool ParseNumber(const char* text, double min, double max, double* value) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= min && v <= max)) return false;
  *value = v;
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: make_synthetic_gpb [--epochs N] [--interval S] [--satellites K] "
               "OUT.gpb OUT.epp\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  rawconv::synthetic::SyntheticDay day;
  const char* paths[2] = {nullptr, nullptr};
  int npaths = 0;
  for (int i = 1; i < argc; ++i) {
    double v = 0.0;
    if (std::strcmp(argv[i], "--epochs") == 0 && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 1, 2.0e7, &v)) return Usage();
      day.Epochs = static_cast<int>(v);
    } else if (std::strcmp(argv[i], "--interval") == 0 && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 0.001, 3600.0, &v)) return Usage();
      day.Interval = v;
    } else if (std::strcmp(argv[i], "--satellites") == 0 && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 1, 24, &v)) return Usage();
      day.Satellites = static_cast<int>(v);
    } else if (argv[i][0] == '-' || npaths == 2) {
      return Usage();
    } else {
      paths[npaths++] = argv[i];
    }
  }
  if (npaths != 2) return Usage();
  if (!rawconv::synthetic::WriteSyntheticGpb(paths[0], day)) {
    std::fprintf(stderr, "make_synthetic_gpb: cannot write %s\n", paths[0]);
    return 1;
  }
  if (!rawconv::synthetic::WriteSyntheticEpp(paths[1], day)) {
    std::fprintf(stderr, "make_synthetic_gpb: cannot write %s\n", paths[1]);
    return 1;
  }
  std::printf("%s: %d epochs, %d satellites, interval %.3f s\n", paths[0], day.Epochs,
              day.Satellites, day.Interval);
  return 0;
}
