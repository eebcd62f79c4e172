// The RINEX versions the writers produce, as one number each.
//
// The dialog's two codes stay as they are: 1 (RINEX 2.00 layouts) and 2
// (RINEX 2.10 layouts). Every other version is its number times 100: 211
// writes the records of 2.10 under a "2.11" version line; 302 to 305 are the
// RINEX 3 layout of rinex3_obs.h and nav3_writer.h; 400 is RINEX 4.00, the
// same observation records as RINEX 3 with the header 4.00 asks for, and
// navigation records opened by "> EPH Gnn LNAV" lines.
#ifndef RAWCONV_OBS_RINEX_VERSIONS_H_
#define RAWCONV_OBS_RINEX_VERSIONS_H_

namespace rawconv {

constexpr int kRinexLayout20 = 1;  // the dialog's RINEX_VERSION_2_0
constexpr int kRinexLayout21 = 2;  // the dialog's RINEX_VERSION_2_1
constexpr int kRinex211 = 211;
constexpr int kRinex302 = 302;
constexpr int kRinex303 = 303;
constexpr int kRinex304 = 304;
constexpr int kRinex305 = 305;
constexpr int kRinex400 = 400;

// The 2.10 records: S1/S2, the 2.10 epoch and header layouts.
constexpr bool UsesRinex21Records(int version) {
  return version == kRinexLayout21 || version == kRinex211;
}

// The RINEX 3 record layout (versions 3.0x and 4.00).
constexpr bool UsesRinex3Records(int version) { return version >= 300; }

// A version the RINEX 3 writers take.
constexpr bool IsRinex3Writable(int version) {
  return version == kRinex302 || version == kRinex303 || version == kRinex304 ||
         version == kRinex305 || version == kRinex400;
}

// Major version 4 and later.
constexpr bool IsRinex4(int version) { return version >= kRinex400; }

// The number of the version line: 2.11, 3.02, ..., 4.00.
constexpr double RinexVersionNumber(int version) { return version / 100.0; }

}  // namespace rawconv

#endif  // RAWCONV_OBS_RINEX_VERSIONS_H_
