// The program's own version exports, with the library's values.
#include "api/rawconv.h"

namespace {

// 7.601122 as the library stores it: one unit in the last place below the
// double nearest to 7.601122.
constexpr double kVersionNumber = 0x1.e678c868b9fdbp+2;
constexpr int32_t kVersionYear = 2005;

}  // namespace

extern "C" {

double RAWCONV_CALL _DLLVersionNumber_(void) { return kVersionNumber; }

int32_t RAWCONV_CALL _DLLVersionYear_(void) { return kVersionYear; }

}  // extern "C"
