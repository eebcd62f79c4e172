// Compact RINEX facts in one place: the layout the CrxSink writes.
//
// Header: two lines in front of the RINEX header, which follows unchanged:
//   "1.0" or "3.0" (columns 1-20), "COMPACT RINEX FORMAT" (21-60),
//   label "CRINEX VERS   / TYPE" (61-80);
//   program (1-20), blanks (21-40), date (41-60), label "CRINEX PROG / DATE".
// Version 1.0 carries RINEX 2 observation files, 3.0 RINEX 3 and 4 ones.
//
// Body, per epoch:
//  1. The epoch line. Version 1.0: columns 1-32 of the RINEX 2 epoch line
//     followed by the whole satellite list on the same line (the clock
//     offset and the continuation lines go). Version 3.0: columns 1-41 of
//     the RINEX 3 epoch line followed by the satellite names of the data
//     records. The line is written as a text difference to the previous
//     epoch line: an unchanged character becomes a blank, a character
//     changed to a blank becomes "&", any other change is the new character.
//     A line that starts anew (first epoch, after an event) is written
//     whole, its first character replaced by "&" in version 1.0 (a RINEX 3
//     epoch line keeps its ">").
//  2. The receiver clock offset line: the offset's digits as an integer
//     (9 decimals in RINEX 2, 12 in RINEX 3), coded as a differential arc
//     like the values below; an empty line when the epoch has none.
//  3. One line per satellite of the list: for each observation type its
//     field, separated by one blank, then a blank and the text difference
//     of the flag characters (loss of lock and signal strength of every
//     type, two characters each) against the satellite's previous flags.
//     A field is empty for a missing value (version 1.0 readers then blank
//     its flags, so they are taken as blank; version 3.0 keeps them); "<order>&<value>" starts an arc
//     (the value's digits as an integer, three decimals); otherwise it is
//     the difference of the order the arc has reached: first differences in
//     the arc's second epoch, second in its third, up to the arc's order.
// Trailing blanks of every line are dropped.
//
// Event epochs (flags 2 to 5) and cycle-slip epochs (flag 6) are written
// whole, like a starting epoch line, followed by as many lines as their
// count says, unchanged, and without a clock line; the next epoch line
// starts anew, and so do the clock and every satellite. A satellite missing from the
// previous epoch starts its arcs anew and its flags are written whole: in
// version 3.0 every flag character, "&" standing for a blank (a reader
// starts such a satellite's flags empty and takes exactly what is written);
// in version 1.0 the characters that are not blank, "&" where the
// satellite's old flag was not blank (a reader starts from blanks).
// Version 3.0 carries RINEX 4 observation files too.
#ifndef RAWCONV_SINK_CRX_FORMAT_H_
#define RAWCONV_SINK_CRX_FORMAT_H_

#include <cstdint>

namespace rawconv {
namespace crx {

constexpr char kVersion1[] = "1.0";
constexpr char kVersion3[] = "3.0";
constexpr char kFormatText[] = "COMPACT RINEX FORMAT";
constexpr char kLabelVersion[] = "CRINEX VERS   / TYPE";
constexpr char kLabelProgram[] = "CRINEX PROG / DATE";

constexpr int kArcOrder = 3;  // highest order of the differences
// A difference of this size or more starts the arc anew: every number
// written keeps at most the 13 digits of a RINEX value field.
constexpr int64_t kDifferenceLimit = 10000000000000LL;

// RINEX 2 epoch line: flag in column 29, count in 30-32, satellites from
// column 33 (12 per line), clock offset in columns 69-80 ("%12.9f").
constexpr int kEpoch2Fixed = 32;
constexpr int kEpoch2FlagColumn = 28;  // zero-based
constexpr int kEpoch2SatsPerLine = 12;
constexpr int kEpoch2ClockStart = 68;
constexpr int kEpoch2ClockWidth = 12;
constexpr int kEpoch2ClockDecimals = 9;
constexpr int kValues2PerLine = 5;

// RINEX 3 epoch line: ">" in column 1, flag in column 32, count in 33-35,
// clock offset in columns 42-56 ("%15.12f"); data records start with the
// three-character satellite name.
constexpr int kEpoch3Fixed = 41;
constexpr int kEpoch3FlagColumn = 31;  // zero-based
constexpr int kEpoch3ClockStart = 41;
constexpr int kEpoch3ClockWidth = 15;
constexpr int kEpoch3ClockDecimals = 12;
constexpr int kSatNameColumns = 3;

// Observation field: "%14.3f", then loss of lock and signal strength.
constexpr int kValueWidth = 14;
constexpr int kValueDecimals = 3;
constexpr int kFieldColumns = 16;

}  // namespace crx
}  // namespace rawconv

#endif  // RAWCONV_SINK_CRX_FORMAT_H_
