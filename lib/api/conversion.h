// One conversion: validation of the GPB file, output naming, the navigation
// step and the observation step, each output written to a temporary file and
// moved into place only when the whole conversion went well.
#ifndef RAWCONV_API_CONVERSION_H_
#define RAWCONV_API_CONVERSION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "api/qc_step.h"
#include "api/station_meta.h"
#include "api/rawconv.h"
#include "naming/naming.h"
#include "obs/obs_writer.h"
#include "qc/qc.h"
#include "qc/reference.h"
#include "sink/compression.h"

namespace rawconv {

// Result codes of RunConversion (the values of rawconv_api.h's
// rawconv_result).
enum ConversionResult {
  kConversionOk = 0,
  kConversionFailed = 1,
  kConversionBadGpb = -1,
  kConversionExists = 2,
  kConversionSkipped = 3,
  kConversionCancelled = 4,
  kConversionInvalid = 5,
};

// What happens to an output whose name exists already.
enum class OutputPolicy { kReplace, kRefuse, kSkip };

// What a conversion found and wrote, for the caller's report.
struct ConversionFacts {
  int32_t ObsSkipped;  // the output existed and was left alone (kSkip)
  int32_t NavSkipped;
  uint64_t EpochsRead;
  uint64_t EpochsWritten;
  int32_t Satellites;
  int32_t FirstWeek;  // -1 when the data could not be dated
  double FirstTow;
  int32_t LastWeek;
  double LastTow;
  double Interval;
  uint32_t NavRecords;
  int32_t GpbDamaged;
  uint64_t GpbBytesUsed;
  uint64_t GpbFileSize;
  uint32_t ObsFiles;  // observation files written (planned, with PlanOnly)
};

// One output file of a conversion, for callers that list them.
enum class OutputKind { kObservation, kNavigation, kQcReport };
struct OutputFile {
  OutputKind Kind;
  std::string Path;
  bool Skipped;  // it existed and was left alone (OutputPolicy::kSkip)
};

// The navigation file of a conversion: its input, output and header text.
struct NavInput {
  std::string EppFile;  // the EPP ephemeris file read
  std::string NavFile;  // the navigation output (set by the naming step)
  std::string RunBy;    // "RUN BY" column of the navigation header
};

// The position from the data written into APPROX POSITION XYZ: the
// pre-scan solves the epochs (qc/position.h) with the EPP file's
// ephemerides and puts the mean into Metadata, which the writers get
// through Edits (the job's edits with this Metadata).
struct DataPositionRequest {
  HeaderMetadata Metadata{};
  ObsEdits Edits{};
  qc::DataPosition Result;
  bool Solved = false;
};

// One conversion request. Obs and Nav hold the paths and texts, of any
// length; Obs.ObsFile and Nav.NavFile are rewritten with the final output
// paths (as far as the call got).
struct ConversionJob {
  ObsInput Obs;
  NavInput Nav;
  // 0: paths of any length. The dialog library's records give the size of
  // their path fields (256): a GPB path that does not fit is refused as the
  // GPB reader refuses a missing file, an output path that does not fit
  // (with its new extension or name) fails "Output path too long".
  size_t PathLimit = 0;
  // Where the station blocks come from: the station file beside the GPB
  // file, none, or StationPath (kStationFile).
  StationSource Station = kStationBeside;
  std::string StationPath;
  // RINEX_VERSION_2_0 / RINEX_VERSION_2_1, or one of obs/rinex_versions.h
  // (211, 302 to 305, 400). RINEX 3 and 4 outputs take the RINEX 3 writers
  // with the version; the navigation file follows the observation file's
  // major version.
  int RinexVersion = RINEX_VERSION_2_1;
  OutputPolicy Existing = OutputPolicy::kReplace;
  // false: the extensions of ObsFile and NavFile are replaced by ".YYo" and
  // ".YYn" (the year of the data); true: both are used as they are.
  bool FixedNames = false;
  // true: name the outputs and check them against the inputs, then stop
  // without writing (and without applying the existing-output policy).
  bool PlanOnly = false;
  // Output names (when FixedNames is false) and compression. The input
  // style with no compression and RINEX 2 keeps the extension rule above;
  // every other choice names the outputs through the naming module, in the
  // folder of ObsFile / NavFile.
  NameStyle Names = NameStyle::kInput;
  Compression Compress = Compression::kNone;
  const char* StationId = nullptr;  // nine characters for long names
  ConversionFacts* Facts = nullptr;  // filled when not null
  // Quality check. kWith: the writing pass feeds the check (an observation
  // output that is skipped as existing gets a reading pass of its own);
  // kOnly: no RINEX output at all (ObsFile and NavFile are cleared), one
  // reading pass after the pre-scan. The report files are
  // "<name>.qc.txt/.qc.json/.qc.html", name being the observation output's
  // file name (kWith) or the GPB file's name without extension (kOnly); they
  // go into QcDir, or when it is null or empty beside the observation output
  // (kWith) or the GPB file (kOnly). They follow the existing-output policy
  // and the whole-or-nothing rule of the RINEX outputs.
  QcMode Qc = QcMode::kNone;
  double ElevationMask = qc::kDefaultElevationMask;  // degrees
  const char* QcDir = nullptr;
  QcFacts* QcResult = nullptr;  // filled when not null
  // The station's records (site log, station table) for the check to
  // compare the data with; filled by the flow when a site log or station
  // table gave values for this input, Source empty otherwise.
  qc::StationReference Reference;
  // The station's records named by the caller (a site log or a folder of
  // them, a station table; empty paths: none) and what they gave for this
  // input, resolved once its first epoch is known (see station_meta.h):
  // they fill the header facts the options left empty, Reference and
  // Warnings; a record that cannot be used fails the call.
  StationRecords Records;
  // Not null: the position from the data replaces APPROX POSITION XYZ
  // (Edits must then be &PositionFromData->Edits). Without an EPP file, or
  // when no epoch has a solution, the call fails naming the reason
  // (ErrorField "position_source").
  DataPositionRequest* PositionFromData = nullptr;
  // Editing while converting: the selection and the header facts of the
  // observation file. Null (or a zero ObsEdits) converts as without it. The
  // pre-scan, the header and the epochs all apply it, so that the header
  // describes what the file holds; EpochsWritten counts the kept epochs. A
  // kept observation type the data does not hold fails the call.
  const ObsEdits* Edits = nullptr;
  // RINEX 2 output names GLONASS satellites by slot under "M (MIXED)" (see
  // ObsEdits::GlonassSlots). false for the dialog library's files, whose
  // callers rely on their bytes; true for every other caller.
  bool GlonassSlots = false;
  // The inputs are opened as the dialog library always opened them: no
  // gzip inputs, a folder not refused (see lib/io InputRules). true for the
  // dialog library's conversions only; the others read gzip inputs and
  // refuse folders.
  bool DialogInputs = false;
  // Outputs flushed to the disk before their rename and their folders after
  // (see FileSink); false for scratch runs.
  bool Sync = true;
  // Splitting: one observation file per span of this many seconds of GPS
  // time (900, 3600 or 86400; 0 writes one file), the spans aligned to the
  // GPS day (see SpanIndexOf). Each span that holds a kept epoch gets a
  // complete file of its own: its own header from the pre-scan's summary of
  // the span (ScanObsSpans: one pre-scan, one writing pass for all spans)
  // and its own name (the naming module's split names, in the folder of
  // ObsFile); ObsFile is set to the first span's path. The navigation file
  // is written once, named as without splitting. Every span file follows
  // the existing-output policy on its own and the whole-or-nothing rule of
  // the call: all files are committed together at the end, or none. The
  // quality check covers the whole input; its reports are named after the
  // GPB file ("<gpb name without extension>.qc.txt", ...) in QcDir or the
  // outputs' folder. Needs named outputs (FixedNames false).
  double SplitSeconds = 0.0;
  // Filled when not null and the call succeeds (or is skipped, or planned):
  // every output of the call, the observation files first (in time order),
  // then the navigation file and the quality reports.
  std::vector<OutputFile>* Outputs = nullptr;

  // true for the reentrant interface and everything built on it; false
  // keeps the dialog library's texts and behaviours byte for byte. With it:
  //   - every open and write failure carries the system's reason, and the
  //     GPB, EPP and station files are named in messages of their own;
  //   - a selection that keeps no epoch fails, naming SelectionText and
  //     the recording's span, before anything is written;
  //   - a missing EPP file that was not named (EppGiven false) with a week
  //     or a date (DateRef) converts to the observation file alone, with a
  //     line in Warnings; without either it fails naming the file;
  //   - a station file named by the caller must hold station records, and a
  //     station file that gives no block is a warning;
  //   - an existing output under kRefuse is named observation file first.
  bool UserMessages = false;
  bool EppGiven = false;
  // The day the caller dated the recording by: a reference at noon of that
  // day, each epoch taking the week that puts it nearest that noon. Found
  // is 0 when no day was given.
  WeekReference DateRef{};
  // The selection in the caller's words, for the message of a selection
  // that keeps no epoch ("window 2005-04-02 00:00:00 to (open)").
  std::string SelectionText;
  // Set by the flow: no EPP file, so no navigation file (NavFile empty).
  bool ObsOnly = false;
  // Filled by the flow (UserMessages): lines, each ending in '\n', of what
  // the caller should hear although the call succeeded.
  std::string Warnings;
  // Filled by the flow with a failure: the options field it is about
  // ("epp_path", "station_path", "existing", ...), or empty.
  std::string ErrorField;
};

// Runs one conversion on the current context (see context.h); the message
// of any result other than kConversionOk, kConversionSkipped is in
// Ctx().ErrorText. Outputs appear whole or not at all:
//   - each output is written to "<name>.part-XXXXXX" beside its name and
//     moved onto it only after both outputs were written and closed without
//     error, the navigation file first;
//   - a failing step, a cancellation or a refused existing output leaves no
//     file of the call behind, and an existing file of an output's name is
//     touched only when it is replaced by a complete new file;
//   - a navigation output whose name could not be given a year (the EPP
//     file gives no reference ephemeris and no week is set) is never
//     written: the EPP file is still read, so that its own faults report
//     their messages, and the call then fails with "No usable ephemeris
//     record in %s: the GPS week of the data is unknown".
// An output that names an input of the call (the GPB file, the EPP file, the
// station file; by file identity) or the observation output naming the
// navigation output fails before anything is opened for writing.
int RunConversion(ConversionJob& job);

// The dialog library's conversion (Gpb_To_Rinex_Ver): RunConversion with
// replaced existing outputs and the extensions of the caller's paths
// replaced. Returns 0 on success, -1 when the GPB file cannot be used, 1
// otherwise, the message in Ctx().ErrorText.
int ConvertGpbFile(ObsRequest* obs, NavRequest* nav, int rinex_version);

// Opens the GPB file, reads its first epoch and closes it again. On success
// returns 0 and stores the first epoch's RcvTime, and the size of the GPB
// data (decompressed, for a gzip file) in *data_size when data_size is
// given; otherwise copies the reader's message into the error text and
// returns -1. A path of path_limit characters or more (0: no limit) is
// refused like a missing file.
// user_messages: the newer interfaces' message ("Cannot open GPB file X:
// reason") instead of the reader's own text.
int ValidateGpbFile(const char* gpb_path, double* first_rcv_time, size_t path_limit = 0,
                    bool user_messages = false, uint64_t* data_size = nullptr);

}  // namespace rawconv

#endif  // RAWCONV_API_CONVERSION_H_
