// Times the output chain on its own: reads a RINEX file in 64 KB blocks, as
// the writers hand them on, and writes it through the sinks of one kind of
// compression into a file.
//
//   sink_speed none|gz|crx|crx.gz INPUT OUTPUT
//
// Prints the CPU and wall time of the writing and the bytes written.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "sink/chain.h"
#include "sink/sink.h"

int main(int argc, char** argv) {
  using rawconv::Compression;
  if (argc != 4) {
    std::fprintf(stderr, "usage: sink_speed none|gz|crx|crx.gz INPUT OUTPUT\n");
    return 2;
  }
  Compression kind;
  if (std::strcmp(argv[1], "none") == 0) {
    kind = Compression::kNone;
  } else if (std::strcmp(argv[1], "gz") == 0) {
    kind = Compression::kGzip;
  } else if (std::strcmp(argv[1], "crx") == 0) {
    kind = Compression::kCrx;
  } else if (std::strcmp(argv[1], "crx.gz") == 0) {
    kind = Compression::kCrxGzip;
  } else {
    std::fprintf(stderr, "sink_speed: unknown kind %s\n", argv[1]);
    return 2;
  }
  std::FILE* in = std::fopen(argv[2], "rb");
  if (in == nullptr) {
    std::perror(argv[2]);
    return 1;
  }
  // The RINEX major version from the first header line.
  char first[81] = "";
  if (std::fgets(first, sizeof first, in) == nullptr) return 1;
  std::rewind(in);
  const int major = first[5] == '3' ? 3 : 2;

  const std::clock_t cpu0 = std::clock();
  const auto wall0 = std::chrono::steady_clock::now();
  rawconv::FileSink file;
  const bool binary = kind == Compression::kGzip || kind == Compression::kCrxGzip;
  if (!file.Open(argv[3], rawconv::ExistingFile::kReplace,
                 binary ? rawconv::FileSink::Mode::kBinary : rawconv::FileSink::Mode::kText)) {
    std::fprintf(stderr, "sink_speed: cannot create %s\n", argv[3]);
    return 1;
  }
  rawconv::OutputChain chain;
  rawconv::Sink* head = chain.Build(&file, kind, true, major);
  if (head == nullptr) {
    std::fprintf(stderr, "sink_speed: %s\n", chain.Error());
    return 1;
  }
  std::vector<char> block(64 * 1024);
  size_t n;
  while ((n = std::fread(block.data(), 1, block.size(), in)) > 0) {
    if (!head->Write(block.data(), n)) {
      std::fprintf(stderr, "sink_speed: a write failed\n");
      return 1;
    }
  }
  std::fclose(in);
  if (!head->Finish()) {
    std::fprintf(stderr, "sink_speed: finishing failed\n");
    return 1;
  }
  const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  std::printf("%s: %.3f s CPU, %.3f s wall, %llu bytes\n", argv[1], cpu, wall,
              static_cast<unsigned long long>(file.BytesWritten()));
  return 0;
}
