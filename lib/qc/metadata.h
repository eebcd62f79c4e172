// The station facts of a recording against its data: the position from the
// data (position.h) against APPROX POSITION XYZ as the header has it and
// against the station's records (reference.h: a site log, a station table),
// and the receiver of the GPB file against the receiver and antenna those
// records name.
//
// Differences are data minus the other position, in north, east and up at
// the other position, and their 3D distance. Warnings, for the report and
// for the caller:
// - the data's position more than kHeaderPositionWarnMetres (30 m) from
//   APPROX POSITION XYZ. The header's position is the mean of the
//   receiver's own navigation fixes unless the user or the station's
//   records gave one; a receiver's fix is good to about 10 m, so a
//   difference above 30 m means a header of another place (a stale or
//   mistyped position, a receiver moved without new settings);
// - more than kReferencePositionWarnMetres (5 m) from the records'
//   position with the ionosphere-free combination, more than
//   kReferencePositionWarnSingleMetres (20 m) with L1 codes alone. A site
//   log's position is a survey's, good to centimetres; our mean is good to a
//   metre or two with both codes, and with L1 alone the ionosphere left in
//   the ranges (uncorrected: no broadcast coefficients) moves it by several
//   metres, mostly in height. Beyond that the records describe another
//   marker, or the marker moved;
// - a receiver type of the records that the GPB file's receiver text
//   (type name and description) does not contain, nor contains, compared on
//   letters and digits alone in upper case: "TRIMBLE NETR9" and "Trimble
//   NetR9" agree, "TRIMBLE 5700" and "LEICA GRX1200" do not;
// - an antenna type of the records other than the header's (when the
//   header has one; the GPB file names no antenna), compared with blanks
//   collapsed, the radome included;
// - no position from the data although ephemerides were at hand (why: the
//   solver's reason).
// A firmware version or serial number of the records is shown beside the
// GPB file's text but warns of nothing: the GPB file carries neither in a
// form that can be compared.
#ifndef RAWCONV_QC_METADATA_H_
#define RAWCONV_QC_METADATA_H_

#include <string>
#include <vector>

#include "qc/orbit.h"
#include "qc/position.h"
#include "qc/reference.h"

namespace rawconv {
namespace qc {

constexpr double kHeaderPositionWarnMetres = 30.0;
constexpr double kReferencePositionWarnMetres = 5.0;
constexpr double kReferencePositionWarnSingleMetres = 20.0;

// One position against another.
struct PositionDifference {
  bool Valid = false;
  double North = 0.0, East = 0.0, Up = 0.0;  // m, data minus the other
  double Distance = 0.0;                     // m
  double Threshold = 0.0;                    // m
  bool Warn = false;
};

// Text fields compared: Agrees is meaningful when Compared.
struct TextComparison {
  bool Compared = false;
  bool Agrees = false;
};

struct QcMetadata {
  // What the check was given.
  DataPosition Data;
  bool HasEphemerides = false;
  bool HasHeaderPosition = false;
  Vec3 HeaderPosition;        // APPROX POSITION XYZ as written
  std::string ReceiverText;   // the GPB file's receiver type name and description
  std::string HeaderAntenna;  // ANT # / TYPE's type as written, "" without
  StationReference Reference;
  // What CompareMetadata found.
  PositionDifference FromHeader;
  PositionDifference FromReference;
  TextComparison ReceiverType;     // records' type against the GPB's text
  TextComparison ReceiverVersion;  // records' version found in the GPB's text
  TextComparison AntennaType;      // records' antenna against the header's
  std::vector<std::string> Warnings;  // one line each, no line end
};

// Data minus other in north, east, up at other, and the distance.
PositionDifference Difference(const Vec3& data, const Vec3& other, double threshold);

// The letters and digits of text in upper case.
std::string Letters(const std::string& text);

// Fills the comparisons and warnings of m from what it was given.
void CompareMetadata(QcMetadata* m);

}  // namespace qc
}  // namespace rawconv

#endif  // RAWCONV_QC_METADATA_H_
