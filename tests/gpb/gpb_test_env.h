// Shared helpers of the GPB reader tests: scratch file paths and a reader
// opened the way the converter opens it.
#ifndef RAWCONV_TESTS_GPB_GPB_TEST_ENV_H_
#define RAWCONV_TESTS_GPB_GPB_TEST_ENV_H_

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "gpb/gpb.h"
#include "support/gpb_builder.h"

namespace rawconv {
namespace gpbtest {

// A scratch path unique to the running test; the file is removed when the
// object goes out of scope.
class ScratchFile {
 public:
  explicit ScratchFile(const char* suffix = ".gpb") {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps parallel runs of the suite (several build trees)
    // apart.
    path_ = ::testing::TempDir() + "gpb_" + std::to_string(getpid()) + "_" +
            info->test_suite_name() + "_" + info->name() + "_" + std::to_string(counter()++) +
            suffix;
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const char* c_str() const { return path_.c_str(); }
  const std::string& str() const { return path_; }

 private:
  static int& counter() {
    static int n = 0;
    return n;
  }
  std::string path_;
};

// A message of the reader formatted with a path, for comparing ErrorText.
inline std::string WithPath(const char* format, const std::string& path) {
  char text[1024];
  std::snprintf(text, sizeof text, format, path.c_str());
  return text;
}

// WGS 84 geodetic position to earth-centred X, Y, Z in metres.
inline void ToEcef(double lat_deg, double lon_deg, double h, double* x, double* y, double* z) {
  const double a = 6378137.0;
  const double e2 = 0.006694380066764658;
  const double phi = lat_deg * 0.017453292519943295;
  const double lam = lon_deg * 0.017453292519943295;
  const double n = a / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
  *x = (n + h) * std::cos(phi) * std::cos(lam);
  *y = (n + h) * std::cos(phi) * std::sin(lam);
  *z = (n * (1.0 - e2) + h) * std::sin(phi);
}

// Opens like the converter: a 4096-byte buffer.
inline int OpenForReading(GpbClass& reader, const ScratchFile& file) {
  return reader.OpenGpbFile(file.c_str(), 4096);
}

}  // namespace gpbtest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_GPB_GPB_TEST_ENV_H_
