// The station events of one observation conversion: the station file beside
// the GPB file, read once before the first epoch, and a per-epoch lookup of
// the record that begins at an epoch's receiver time.
//
// Typical use by the epoch writer:
//
//     StationTable stations;
//     stations.Load(request.GpbFile);          // never fails the conversion
//     ...
//     StationEvent event;
//     if (stations.Find(epoch.RcvTime, &event)) {
//       // write the new-site-occupation block from event
//     }
//
// Both station file layouts are handled: files whose first line begins with
// "$STAINFO" (block layout, all record kinds) and lists of "STA:" records.
#ifndef RAWCONV_OBS_STATION_TABLE_H_
#define RAWCONV_OBS_STATION_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "obs/sta_list.h"
#include "station/station_file.h"

namespace rawconv {

// Room for a station file name made from a GPB path that fills a whole
// 256-byte request field (no terminating zero there) plus ".sta" and the
// terminating zero.
constexpr size_t kStationPathSize = 261;

// Builds the station file name of a GPB file: the GPB path with a final
// ".gz" and then a final ".gpb" (any letter case) removed, then ".sta"
// appended (site.GPB -> site.sta, site.dat -> site.dat.sta, site.gpb.gz ->
// site.sta), its extension spelled as an existing file spells it: site.sta,
// else site.STA, else any other case, else site.sta.gz in any case when
// gzip inputs are read (see FindInputFileAnyCaseExt), else site.sta. out
// holds size bytes. Returns 0, or 1 when the name does not fit (out is then
// empty).
int MakeStationFileName(const char* gpb_path, char* out, size_t size);

// The same name for a GPB path of any length.
std::string StationFileName(const char* gpb_path);

// true when an antenna height is written within the 14 columns of its
// "%14.4f" field: finite and, once rounded to four decimals, at most
// 999999999.9999 or, negative, at least -99999999.9999. A station record's
// height that does not fit reads as no height (0), so that it cannot widen
// its header line.
bool AntennaHeightFits(double height);

// What the epoch writer needs of the record that starts at an epoch.
struct StationEvent {
  double Time;           // the record's time tag, seconds of week
  char Name[64];         // marker name (at most 4 characters from a STA: list)
  double AntennaHeight;  // metres; 0 for one that does not fit (AntennaHeightFits)
  char Comment1[128];
  char Comment2[128];
};

// Where a conversion's station blocks come from.
enum StationSource { kStationBeside = 0, kStationNone = 1, kStationFile = 2 };

// Owns the records of one station file. Not copyable; the records are
// released by Release() or the destructor.
class StationTable {
 public:
  StationTable();
  ~StationTable();
  StationTable(const StationTable&) = delete;
  StationTable& operator=(const StationTable&) = delete;

  // Loads the station file that belongs to gpb_path (see
  // MakeStationFileName), or, as source says, station_path or no file at
  // all. Records loaded before are released first.
  //  - no such file (or a name that does not fit): no records, the error
  //    text is not touched;
  //  - a "$STAINFO" file: ReadStationFile with all kinds; its result is not
  //    looked at, so a failing read leaves an empty table and its message in
  //    Message();
  //  - any other file: ReadStaList into a table of kMaxStaRecords records.
  // Returns the number of records loaded.
  int Load(const char* gpb_path, StationSource source = kStationBeside,
           const char* station_path = nullptr);

  // As Load, given the station file's own path.
  int LoadFile(const char* station_path);

  // The message of the last load of a "$STAINFO" file (see
  // ReadStationFile); empty when it had none.
  const char* Message() const { return file_.Message; }

  // Why the last load found no file to read: the reason its open failed
  // ("No such file or directory", "it is a folder", "damaged gzip data", ...;
  // see OpenStationFile); empty when the file was opened or none was
  // looked for.
  const std::string& OpenReason() const { return open_reason_; }

  // Finds the first record, in file order, whose time tag equals rcv_time
  // exactly (seconds of week; the week is not compared; records of every
  // kind count). Fills event and returns true; false when none matches.
  // Logarithmic in the number of records.
  bool Find(double rcv_time, StationEvent* event) const;

  // Number of records held.
  int Count() const { return count_; }

  // Releases the records; the table is then empty.
  void Release();

 private:
  struct IndexEntry {
    double Time;
    int32_t Position;  // index into the records
  };

  void BuildIndex();
  double RecordTime(int position) const;
  void FillEvent(int position, StationEvent* event) const;

  std::string open_reason_;
  StationFile file_;         // records of a "$STAINFO" file
  StaRecord* sta_records_;   // kMaxStaRecords records of a STA: list, or null
  int count_;                // records in use (of file_ or sta_records_)
  IndexEntry* index_;        // index_count_ entries sorted by (Time, Position)
  int index_count_;
};

}  // namespace rawconv

#endif  // RAWCONV_OBS_STATION_TABLE_H_
