// The station's own records feed the observation header: an IGS site log
// (a file, or a folder of logs found by the station's marker) and a row of
// a network's station table (CSV). They are looked up per input once its
// first epoch is known and resolved into the header facts the writers take
// (HeaderMetadata, MARKER NAME, OBSERVER / AGENCY, the antenna height, the
// station ID of long names), under this precedence:
//   options given explicitly > station table row > site log > GPB file.
// The table is the operator's word for one station and period, so it
// corrects or completes a log; options given for the call apply to every
// input and win over both.
#ifndef RAWCONV_API_STATION_META_H_
#define RAWCONV_API_STATION_META_H_

#include <cstdint>
#include <string>

#include "meta/sitelog.h"
#include "obs/header_metadata.h"
#include "obs/obs_writer.h"

namespace rawconv {

struct ConversionJob;
struct WeekReference;

// The station records of one conversion: what the caller names, and what
// the flow made of them for the input.
struct StationRecords {
  std::string SitelogPath;   // a site log or a folder of them; empty: none
  std::string StationsPath;  // a station table; empty: none
  // Set by ApplyStationRecords when a record gave values.
  bool Applied = false;
  HeaderMetadata Metadata{};  // the header facts, records and options merged
  ObsEdits Edits{};           // the job's edits with Metadata
  std::string StationId;      // long names' ID when the records gave one
  bool HasLog = false;        // Log holds the site log used
  meta::SiteLog Log;
  int64_t First = 0;          // the recording's first epoch (seconds, see sitelog.h)
};

// Looks up the records of job's input at its first epoch (first_rcv_time
// in the week ref gives; the start of a time window of the edits when that
// is later) and resolves them into the job: job.Edits points
// at the merged metadata, job.Obs's marker name, observer, agency and
// antenna height and job.StationId are filled where the options left them
// empty, job.Reference holds what the records say, and job.Warnings the
// lines of what was cut or not found. Nothing is done without records, or
// when ref cannot date the recording (the flow fails on that itself).
// Returns kConversionOk, or kConversionFailed with the message and its
// options field ("sitelog_path", "stations_path") set.
int ApplyStationRecords(ConversionJob& job, const WeekReference& ref, double first_rcv_time);

// After a conversion: the warning lines of a recording that spans a change
// of receiver or antenna in the site log (its last epoch from job.Facts).
void AddStationWarnings(ConversionJob& job);

}  // namespace rawconv

#endif  // RAWCONV_API_STATION_META_H_
