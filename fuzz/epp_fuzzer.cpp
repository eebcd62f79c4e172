// The EPP readers on any text: the header check and the sequential record
// reader (every record formatted as a navigation record, every number in the
// "D" form checked for its width), then the reference lookup and the week
// and date arithmetic that uses its result.
#include <cmath>
#include <cstring>

#include "api/context.h"
#include "ephem/epp.h"
#include "ephem/gps_time.h"
#include "ephem/nav_writer.h"
#include "fuzz_support.h"
#include "sink/sink.h"

using namespace rawconv;

namespace {

// A "D" form number fits its field: 17 characters, 18 when negative.
void CheckReal(double value) {
  char text[kRinexRealBufferSize];
  const int n = FormatRinexReal(value, text);
  const size_t length = std::strlen(text);
  FUZZ_CHECK(static_cast<size_t>(n) == length + 1);
  FUZZ_CHECK(length == 17 || length == 18);
  FUZZ_CHECK(text[length - 4] == 'D');
}

void CheckRecord(const EphemerisRecord& r) {
  const double reals[] = {r.Tgd, r.Af2, r.Af1, r.Af0, r.DeltaN, r.M0, r.Ecc, r.SqrtA, r.Cic,
                          r.Crc, r.Cis, r.Crs, r.Cuc, r.Cus, r.Omega0, r.Omega, r.I0,
                          r.OmegaDot, r.Idot};
  for (double v : reals) CheckReal(v);
  char text[kNavRecordBufferSize];
  FormatNavRecord(r, 1, text);
  FUZZ_CHECK(fuzz::Terminated(text, sizeof text));
  FormatNavRecord(r, 2, text);
  FUZZ_CHECK(fuzz::Terminated(text, sizeof text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Context context{};
  ContextScope scope(context);
  const std::string path = fuzz::WriteScratch("input.epp", data, size);

  if (std::FILE* epp = std::fopen(path.c_str(), "r")) {
    if (CheckEppHeader(epp) == 0) {
      EphemerisRecord record{};
      while (ReadEphemerisRecord(epp, &record) == 0) CheckRecord(record);
    }
    std::fclose(epp);
  }
  // The week override only moves the date of line 1.
  NavWriting run;
  run.Week.Use = 1;
  run.Week.Week = size > 0 ? static_cast<int32_t>(data[0]) * 1000 - 100000 : 0;
  if (std::FILE* epp = std::fopen(path.c_str(), "r")) {
    if (std::FILE* out = std::fopen("/dev/null", "w")) {
      StdioSink sink(out);
      ConvertEppToNav(epp, sink, 2, nullptr, &run);
      sink.Finish();
      std::fclose(out);
    }
    std::fclose(epp);
  }

  int week = 0;
  double toe = 0.0;
  if (FindReferenceEphemeris(path.c_str(), &week, &toe) == 0) {
    FUZZ_CHECK(week >= 0 && week <= kMaxReferenceWeek);
    FUZZ_CHECK(toe >= 0.0 && toe <= 604800.0);
    for (double t : {0.0, toe, 302400.0, 604799.5}) {
      const int full = ResolveGpsWeek(week, toe, t);
      int hour, minute, month, day, year;
      double seconds;
      GpsToDate(full, t, hour, minute, seconds, month, day, year);
      FUZZ_CHECK(month >= 1 && month <= 12 && day >= 1 && day <= 31);
    }
  }
  FUZZ_CHECK(fuzz::Terminated(context.ErrorText, sizeof context.ErrorText));
  return 0;
}
