// Whole files as byte strings, for the tests' support headers.
#ifndef RAWCONV_TESTS_SUPPORT_FILE_BYTES_H_
#define RAWCONV_TESTS_SUPPORT_FILE_BYTES_H_

#include <cstdio>
#include <string>

namespace rawconv {
namespace testio {

// The bytes of the file at path; empty when it cannot be read.
inline std::string ReadBytes(const std::string& path) {
  std::string bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

// Writes bytes as the whole file at path; false when any step fails.
inline bool WriteBytes(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace testio
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_FILE_BYTES_H_
