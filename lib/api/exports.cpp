// The six exported functions. Each one runs on the library's default context
// and never lets a C++ exception escape.
#include <cstdio>
#include <cstring>

#include "api/context.h"
#include "api/conversion.h"
#include "api/rawconv.h"

using rawconv::Ctx;

namespace {

// 7.601122 as stored by the library: one unit in the last place below the
// double nearest to 7.601122 (prints as 7.601121999999999 with %.16g).
constexpr double kVersionNumber = 0x1.e678c868b9fdbp+2;
constexpr int32_t kVersionYear = 2005;

}  // namespace

extern "C" {

RAWCONV_EXPORT int32_t RAWCONV_CALL Gpb_To_Rinex_Ver(ObsRequest* obs, NavRequest* nav,
                                                     int32_t RinexVersion) {
  try {
    return rawconv::ConvertGpbFile(obs, nav, RinexVersion);
  } catch (...) {
    rawconv::CopyErrorText("Internal error during conversion");
    return 1;
  }
}

RAWCONV_EXPORT int32_t RAWCONV_CALL Gpb_To_Rinex(ObsRequest* obs, NavRequest* nav) {
  return Gpb_To_Rinex_Ver(obs, nav, RINEX_VERSION_2_0) != 0 ? 1 : 0;
}

RAWCONV_EXPORT int32_t RAWCONV_CALL Get_Error_Str(char* buffer) {
  const char* text = Ctx().ErrorText;
  size_t length = strnlen(text, sizeof Ctx().ErrorText - 1);
  if (buffer) {
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
  }
  return static_cast<int32_t>(length + 1);
}

RAWCONV_EXPORT int32_t RAWCONV_CALL Test_Kvo(char* buffer) {
  if (buffer) std::memcpy(buffer, "TOLM", 5);
  return 5;
}

RAWCONV_EXPORT double RAWCONV_CALL _DLLVersionNumber_(void) { return kVersionNumber; }

RAWCONV_EXPORT int32_t RAWCONV_CALL _DLLVersionYear_(void) { return kVersionYear; }

}  // extern "C"
