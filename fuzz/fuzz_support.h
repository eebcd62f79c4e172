// Shared pieces of the fuzz targets: the readers take paths, so every input
// is written to a scratch file first (in $TMPDIR, else /tmp; the test script
// points TMPDIR at a memory file system when it has one).
#ifndef RAWCONV_FUZZ_FUZZ_SUPPORT_H_
#define RAWCONV_FUZZ_FUZZ_SUPPORT_H_

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace rawconv {
namespace fuzz {

// A finding: the input broke a promise of the code under test.
#define FUZZ_CHECK(cond)                                                        \
  do {                                                                          \
    if (!(cond)) {                                                              \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                             \
    }                                                                           \
  } while (0)

// The scratch directory of this process, made on first use.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] ? base : "/tmp") + "/rawconv_fuzz_XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    return pattern;
  }();
  return dir;
}

inline std::string ScratchPath(const char* name) { return ScratchDir() + "/" + name; }

// Writes bytes to the scratch file name (binary, so the text readers see
// exactly these bytes) and returns its path.
inline std::string WriteScratch(const char* name, const uint8_t* data, size_t size) {
  const std::string path = ScratchPath(name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::perror(path.c_str());
    std::abort();
  }
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
  return path;
}

// true when text holds a terminator within size bytes.
inline bool Terminated(const char* text, size_t size) {
  return std::memchr(text, '\0', size) != nullptr;
}

}  // namespace fuzz
}  // namespace rawconv

#endif  // RAWCONV_FUZZ_FUZZ_SUPPORT_H_
