// The six exported functions. Each one runs on the library's default context
// and never lets a C++ exception escape. The dialog's fixed records exist
// only here: they are read into a conversion job, and the output paths the
// job ends with are written back into them.
#include <cstdio>
#include <cstring>
#include <string>

#include "api/context.h"
#include "api/conversion.h"
#include "api/rawconv.h"
#include "obs/rinex_format.h"
#include "obs/rinex_versions.h"

using rawconv::Ctx;

namespace rawconv {
namespace {

static_assert(kRinexLayout20 == RINEX_VERSION_2_0 && kRinexLayout21 == RINEX_VERSION_2_1,
              "the dialog's version codes");

// Every path field of the records has this size.
constexpr size_t kFieldSize = sizeof(ObsRequest::GpbFile);
static_assert(sizeof(ObsRequest::ObsFile) == kFieldSize && sizeof(NavRequest::EppFile) ==
                  kFieldSize && sizeof(NavRequest::NavFile) == kFieldSize,
              "one path field size");

// A text field as the library reads it: up to its terminator, or the whole
// field when it holds none (never past its end).
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, BoundedLength(field, N));
}

// Writes a path the call ended with back into its field, when it changed.
// The job keeps output paths below kFieldSize, so it fits with its
// terminator.
void WriteBack(const std::string& path, const std::string& before, char* field) {
  if (path == before || path.size() >= kFieldSize) return;
  std::memcpy(field, path.c_str(), path.size() + 1);
}

}  // namespace

int ConvertGpbFile(ObsRequest* obs, NavRequest* nav, int rinex_version) {
  ConversionJob job;
  job.Obs.GpbFile = FieldText(obs->GpbFile);
  job.Obs.ObsFile = FieldText(obs->ObsFile);
  job.Obs.RunBy = FieldText(obs->RunBy);
  job.Obs.MarkerName = FieldText(obs->MarkerName);
  job.Obs.Observer = FieldText(obs->Observer);
  job.Obs.Agency = FieldText(obs->Agency);
  job.Obs.AntHeight = obs->AntHeight;
  job.Obs.UseGpsWeek = obs->UseGpsWeek;
  job.Obs.GpsWeek = obs->GpsWeek;
  job.Nav.EppFile = FieldText(nav->EppFile);
  job.Nav.NavFile = FieldText(nav->NavFile);
  job.Nav.RunBy = FieldText(nav->RunBy);
  job.PathLimit = kFieldSize;
  // The dialog's library knows 2 (2.10 layouts) and writes the 2.00 layouts
  // for every other value below 300, 2.11's number included.
  job.RinexVersion = rinex_version == kRinexLayout21 || rinex_version >= 300 ? rinex_version
                                                                             : kRinexLayout20;
  job.Existing = OutputPolicy::kReplace;
  job.DialogInputs = true;
  const std::string obs_before = job.Obs.ObsFile;
  const std::string nav_before = job.Nav.NavFile;
  const int result = RunConversion(job);
  WriteBack(job.Obs.ObsFile, obs_before, obs->ObsFile);
  WriteBack(job.Nav.NavFile, nav_before, nav->NavFile);
  if (result == kConversionOk) return 0;
  return result == kConversionBadGpb ? -1 : 1;
}

}  // namespace rawconv

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
