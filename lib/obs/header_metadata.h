// Header facts the user supplies for the observation file: marker number,
// receiver and antenna, a surveyed position, the antenna eccentricity and
// comment lines. The RINEX 2 and RINEX 3 header writers put them in when
// given; a zero HeaderMetadata (or none) leaves the header as it was.
//
// Columns (values 1-60 of the header line):
//   MARKER NUMBER         A20                  (line written only when set)
//   REC # / TYPE / VERS   A20 number, A20 type, A20 version
//                         (an empty type keeps the receiver of the GPB file)
//   ANT # / TYPE          A20 number, A20 type (type with its radome, e.g.
//                         "TRM55971.00     NONE")
//   APPROX POSITION XYZ   3F14.4 (replaces the mean of the receiver's fixes)
//   ANTENNA: DELTA H/E/N  3F14.4 (replaces the antenna height of the request)
//   COMMENT               A60, one line each, after PGM / RUN BY / DATE
//   MARKER TYPE           A20 (RINEX 3 and 4 only; see rinex3_obs.h)
#ifndef RAWCONV_OBS_HEADER_METADATA_H_
#define RAWCONV_OBS_HEADER_METADATA_H_

#include <cstddef>
#include <cstdint>

#include "select/selection.h"

namespace rawconv {

constexpr int kMetadataTextColumns = 20;
constexpr int kCommentColumns = 60;
constexpr int kMaxMetadataComments = 32;

enum class MetadataField {
  kMarkerNumber,
  kReceiverNumber,
  kReceiverType,
  kReceiverVersion,
  kAntennaNumber,
  kAntennaType,
};

struct HeaderMetadata {
  char MarkerNumber[kMetadataTextColumns + 1];
  char ReceiverNumber[kMetadataTextColumns + 1];
  char ReceiverType[kMetadataTextColumns + 1];
  char ReceiverVersion[kMetadataTextColumns + 1];
  char AntennaNumber[kMetadataTextColumns + 1];
  char AntennaType[kMetadataTextColumns + 1];
  int32_t HasPosition;
  double Position[3];  // X, Y, Z metres
  int32_t HasAntennaDelta;
  double AntennaDelta[3];  // H, E, N metres
  int32_t CommentCount;
  char Comments[kMaxMetadataComments][kCommentColumns + 1];
  // MARKER TYPE of RINEX 3 and 4 headers, upper case ("" : no record).
  char MarkerType[kMetadataTextColumns + 1];
};

// True when text (NUL-terminated) fits `columns` columns of a header line:
// at most that many characters, all printable ASCII.
bool HeaderTextFits(const char* text, int columns);

// True when value can be written as F14.4 without widening the field.
bool HeaderNumberFits(double value);

// Checks text against the field's 20 columns and stores it.
CheckResult SetMetadataText(HeaderMetadata* metadata, MetadataField field, const char* text);

// Checks text against 60 columns and adds it as a comment line.
CheckResult AddMetadataComment(HeaderMetadata* metadata, const char* text);

// "X,Y,Z" / "H,E,N": three numbers that fit F14.4. what names the values in
// the message ("position", "antenna delta").
CheckResult ParseHeaderTriple(const char* text, const char* what, double values[3]);

// The value of one text field ("" for an unknown field).
const char* MetadataText(const HeaderMetadata& metadata, MetadataField field);

// ---- Header lines shared by the RINEX 2 and RINEX 3 writers ----
// metadata may be null: each line is then the one written without it.
struct RinexBuffer;

// COMMENT lines of the metadata (none without).
void AppendMetadataComments(RinexBuffer* out, const HeaderMetadata* metadata);
// MARKER NUMBER, only when one is set.
void AppendMarkerNumber(RinexBuffer* out, const HeaderMetadata* metadata);
// REC # / TYPE / VERS: receiver_text (the GPB file's, cut to 20 columns)
// unless the metadata names a type.
void AppendReceiverLine(RinexBuffer* out, const HeaderMetadata* metadata,
                        const char* receiver_text, size_t receiver_size);
// ANT # / TYPE.
void AppendAntennaLine(RinexBuffer* out, const HeaderMetadata* metadata);
// APPROX POSITION XYZ: the metadata's position, else x, y, z.
void AppendPositionLine(RinexBuffer* out, const HeaderMetadata* metadata, double x, double y,
                        double z);
// ANTENNA: DELTA H/E/N: the metadata's delta, else height, 0, 0.
void AppendAntennaDeltaLine(RinexBuffer* out, const HeaderMetadata* metadata, double height);

}  // namespace rawconv

#endif  // RAWCONV_OBS_HEADER_METADATA_H_
