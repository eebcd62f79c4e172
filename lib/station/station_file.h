// Station information files in the block layout: a first line beginning with
// "$STAINFO", then "hdr", "sta", "mrk", "gis" and "rtk" blocks.
#ifndef RAWCONV_STATION_STATION_FILE_H_
#define RAWCONV_STATION_STATION_FILE_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace rawconv {

// Record kinds (bits of the kind mask).
constexpr uint32_t kStationHdr = 1;
constexpr uint32_t kStationSta = 2;
constexpr uint32_t kStationMrk = 4;
constexpr uint32_t kStationGis = 8;
constexpr uint32_t kStationRtk = 16;
constexpr uint32_t kStationAllKinds = 31;

struct StationRecord {
  uint32_t Kind;
  char Name[64];
  char Text1[64];
  char Text2[64];
  char Text3[64];
  int32_t FeatureNumber;
  int32_t FeatureType;
  int32_t FeatureEnd;
  int32_t FeatureDirection;
  int32_t TimeSystem;  // 0 none, 1 GPS, 2 UTC, 3 local
  double Seconds;      // seconds of week of the time tag
  int32_t Week;        // -1 when the time line gave none
  int32_t HeightType;  // 1 vertical, 2 slant
  double AntennaHeight;
  char AntennaName[32];
  double AntennaValue1;
  double AntennaValue2;
  int32_t SolutionMode;
  double Position[2];
  float PositionHeight;  // third value of "Pos:", single precision
  int32_t HeightSystem;
  int32_t HasAge;
  double Age;
  int32_t HasStd;
  double Std[3];
  int32_t HasDop;
  double Dop[3];
  int32_t HasRms;
  double Rms[2];
  int32_t HasNsv;
  int32_t Nsv[3];
  int32_t OffsetKind;
  double Offset[3];
  int32_t HasAttitude;
  double Attitude[3];
  int32_t HasEnable;
  int32_t Enable;
};

struct StationFile {
  char Path[256];          // the path as passed, cut to 255 characters
  uint32_t SectionMask;
  int32_t Count;
  StationRecord* Records;  // Count records, allocated by ReadStationFile; the
                           // caller releases them with ReleaseStationFile
  char Message[256];       // what the last read had to say; empty when none
  // Why the file could not be opened (with "Unable to open %s"): the
  // system's reason, "it is a folder", "damaged gzip data", ...; empty when
  // it was opened.
  char OpenReason[128];
};

// Opens a station file (either layout) for reading, plain or gzip (see
// lib/io/input_file.h; a folder is refused). The stream is the caller's,
// closed with fclose. nullptr when it cannot be opened, with the reason in
// *reason when reason is given, for messages of the form "cannot open
// station file X: <reason>".
std::FILE* OpenStationFile(const char* path, std::string* reason);

// 1 when the file opens and its first line begins with "$STAINFO"; else 0.
// Sets no message.
int IsStationInfoFile(const char* path);

// Reads the records of the kinds in mask (a sum of kStation* values) into
// file, which is overwritten: release records of an earlier read first. The
// records stand in the order of their blocks; blocks of other names or kinds
// are passed over, and a block lacking what its kind needs (sta "ID:", mrk
// "Event:", gis "Feat:", or for these and rtk a "GTim:"/"UTim:" time) is
// dropped. Results and messages (into file->Message):
//   1  "Unable to open %s"
//   1  "Missing (first) $STAINFO line in %s"
//   1  "File %s is not the NewSta format"
//   1  "Not enough memory"
//   0  "No station records found in %s" (Count 0, no records)
//   1  "Not enough memory for station records"
//   1  "%d station records found in %s, but all rejected" (Count 0)
//   0  records read (Count > 0); no message.
// The file is closed and all working memory released on every path; on
// result 1 file holds no records.
int ReadStationFile(const char* path, uint32_t mask, StationFile* file);

// Releases the records of a StationFile and sets Count to 0.
void ReleaseStationFile(StationFile* file);

}  // namespace rawconv

#endif  // RAWCONV_STATION_STATION_FILE_H_
