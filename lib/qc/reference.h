// What the station's own records say about it (a site log, a row of a
// station table), kept beside the header so that the quality check can
// compare the data with it: the position the records give and the receiver
// and antenna they name for the recording's first epoch.
#ifndef RAWCONV_QC_REFERENCE_H_
#define RAWCONV_QC_REFERENCE_H_

#include <string>

namespace rawconv {
namespace qc {

struct StationReference {
  // Where the values come from, as the reports name it ("site log
  // abcd00dnk_20230101.log", "station table network.csv line 4"); empty
  // when there is no reference at all.
  std::string Source;
  bool HasPosition = false;
  double Position[3] = {0.0, 0.0, 0.0};  // X, Y, Z metres (ITRF / WGS 84)
  // Empty texts: the records say nothing of that field.
  std::string ReceiverType;
  std::string ReceiverNumber;
  std::string ReceiverVersion;
  std::string AntennaType;  // with its radome in columns 17-20
  std::string AntennaNumber;
};

}  // namespace qc
}  // namespace rawconv

#endif  // RAWCONV_QC_REFERENCE_H_
