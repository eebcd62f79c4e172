// One whole conversion from one input split in three files:
//
//   byte 0      options: bit 0 RINEX 2.1 (else 2.0), bit 1 week override,
//               bit 2 no station file, bit 3 the same files once more with
//               the quality check and the position from the data in the
//               header (the newer interfaces' flow)
//   bytes 1-2   length of the GPB part (little-endian), then that many bytes
//   bytes 3-4   length of the EPP part, then that many bytes after the GPB
//   the rest    the station file beside the GPB file
//
// Lengths beyond the input are cut to what is there.
#include <cmath>
#include <cstring>

#include "api/context.h"
#include "api/conversion.h"
#include "fuzz_support.h"
#include "obs/run_date.h"

using namespace rawconv;

namespace {

size_t TakeLength(const uint8_t* p, size_t available) {
  const size_t n = static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8;
  return n < available ? n : available;
}

std::string ReadAll(const char* path) {
  std::string text;
  if (std::FILE* f = std::fopen(path, "rb")) {
    char buf[16384];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

void SetPath(char (&field)[256], const std::string& path) {
  std::snprintf(field, sizeof field, "%s", path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  Context context{};
  ContextScope scope(context);
  SetRunClockForTesting(1133965800);

  const uint8_t options = data[0];
  const size_t gpb_size = TakeLength(data + 1, size - 5);
  const size_t epp_size = TakeLength(data + 3, size - 5 - gpb_size);
  const uint8_t* gpb = data + 5;
  const uint8_t* epp = gpb + gpb_size;
  const uint8_t* sta = epp + epp_size;
  const size_t sta_size = size - 5 - gpb_size - epp_size;

  ObsRequest obs{};
  NavRequest nav{};
  obs.StructSize = sizeof obs;
  nav.StructSize = sizeof nav;
  SetPath(obs.GpbFile, fuzz::WriteScratch("site.gpb", gpb, gpb_size));
  SetPath(nav.EppFile, fuzz::WriteScratch("site.epp", epp, epp_size));
  const std::string station = fuzz::ScratchPath("site.sta");
  if (options & 4) {
    std::remove(station.c_str());
  } else {
    fuzz::WriteScratch("site.sta", sta, sta_size);
  }
  SetPath(obs.ObsFile, fuzz::ScratchPath("site.obs"));
  SetPath(nav.NavFile, fuzz::ScratchPath("site.nav"));
  std::snprintf(obs.MarkerName, sizeof obs.MarkerName, "FUZZ");
  std::snprintf(obs.RunBy, sizeof obs.RunBy, "fuzz");
  std::snprintf(nav.RunBy, sizeof nav.RunBy, "fuzz");
  obs.AntHeight = 1.5;
  obs.UseGpsWeek = (options & 2) ? 1 : 0;
  obs.GpsWeek = 1316;

  const int result = ConvertGpbFile(&obs, &nav, (options & 1) ? 2 : 1);
  FUZZ_CHECK(result == 0 || result == 1 || result == -1);
  // For looking at one input by hand: RAWCONV_FUZZ_VERBOSE=1 conversion_fuzzer FILE
  if (std::getenv("RAWCONV_FUZZ_VERBOSE") != nullptr) {
    std::fprintf(stderr, "result %d: %s\n", result, context.ErrorText);
  }
  FUZZ_CHECK(fuzz::Terminated(context.ErrorText, sizeof context.ErrorText));
  FUZZ_CHECK(fuzz::Terminated(obs.ObsFile, sizeof obs.ObsFile));
  FUZZ_CHECK(fuzz::Terminated(nav.NavFile, sizeof nav.NavFile));
  // What a conversion writes is text: no NUL byte in either file, and the
  // navigation file is three header lines and eight per record.
  if (result == 0) {
    const std::string obs_text = ReadAll(obs.ObsFile);
    const std::string nav_text = ReadAll(nav.NavFile);
    FUZZ_CHECK(obs_text.find('\0') == std::string::npos);
    FUZZ_CHECK(nav_text.find('\0') == std::string::npos);
    size_t lines = 0;
    for (char c : nav_text) lines += c == '\n';
    FUZZ_CHECK(lines >= 3 && (lines - 3) % 8 == 0);
  }
  std::remove(obs.ObsFile);
  std::remove(nav.NavFile);
  if (options & 8) {
    ConversionJob job;
    job.Obs.GpbFile = fuzz::ScratchPath("site.gpb");
    job.Obs.ObsFile = fuzz::ScratchPath("check.obs");
    job.Obs.MarkerName = "FUZZ";
    job.Obs.UseGpsWeek = (options & 2) ? 1 : 0;
    job.Obs.GpsWeek = 1316;
    job.Nav.EppFile = fuzz::ScratchPath("site.epp");
    job.Nav.NavFile = fuzz::ScratchPath("check.nav");
    job.FixedNames = true;
    job.UserMessages = true;
    job.EppGiven = true;
    job.Sync = false;
    job.Qc = QcMode::kWith;
    job.Station = (options & 4) ? kStationNone : kStationBeside;
    DataPositionRequest position;
    position.Edits.Metadata = &position.Metadata;
    job.Edits = &position.Edits;
    job.PositionFromData = &position;
    job.Reference.Source = "fuzz";
    job.Reference.HasPosition = true;
    job.Reference.Position[0] = 1112189.9;
    job.Reference.Position[1] = -4842955.0;
    job.Reference.Position[2] = 3985352.2;
    job.Reference.ReceiverType = "FUZZ RECEIVER";
    QcFacts facts{};
    job.QcResult = &facts;
    const int checked = RunConversion(job);
    FUZZ_CHECK(checked == kConversionOk || checked == kConversionFailed || checked == kConversionBadGpb);
    if (checked == kConversionOk) {
      // A position was found, and it is a number the header can hold.
      FUZZ_CHECK(position.Solved && position.Result.Valid);
      for (double v : position.Metadata.Position) FUZZ_CHECK(std::isfinite(v));
      const std::string json = ReadAll(facts.Paths.Path[1]);
      FUZZ_CHECK(json.find("nan") == std::string::npos && json.find("inf") == std::string::npos);
    }
    std::remove(job.Obs.ObsFile.c_str());
    std::remove(job.Nav.NavFile.c_str());
    for (const char* path : facts.Paths.Path) std::remove(path);
  }
  return 0;
}
