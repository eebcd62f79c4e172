// A scratch folder of a test: /tmp/<prefix>_XXXXXX, made new each time.
#ifndef RAWCONV_TESTS_SUPPORT_SCRATCH_DIR_H_
#define RAWCONV_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <stdlib.h>

#include <string>

namespace rawconv {
namespace testsupport {

// Makes the folder and returns its path; "" when it cannot be made.
inline std::string MakeScratchDir(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "_XXXXXX";
  return mkdtemp(&pattern[0]) != nullptr ? pattern : std::string();
}

}  // namespace testsupport
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_SCRATCH_DIR_H_
