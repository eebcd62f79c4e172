// nav2epp: turns a RINEX 2 GPS navigation file into an EPP ephemeris file
// ("$EPHREC" header, one "GpsEph" block per navigation record, in file
// order), so that real broadcast ephemerides can be fed to the converter.
//
//   nav2epp IN.nav OUT.epp
//
// Exponents may be written with "D" or "E"; the header is only checked for
// its "END OF HEADER" line and the "N" file type. Fields that EPP records do
// not carry (L2 codes, accuracy, health, transmission time, fit interval)
// are dropped.
#include <cstdio>
#include <string>

#include "support/rinex_nav.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: nav2epp IN.nav OUT.epp\n");
    return 2;
  }
  std::string error;
  if (!rawconv::rinexnav::ConvertNavToEpp(argv[1], argv[2], error)) {
    std::fprintf(stderr, "nav2epp: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  return 0;
}
