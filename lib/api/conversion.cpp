#include "api/conversion.h"

#include <cstdio>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "api/context.h"
#include "naming/file_ext.h"
#include "api/file_identity.h"
#include "ephem/epp.h"
#include "ephem/gps_time.h"
#include "ephem/nav3_writer.h"
#include "ephem/nav_writer.h"
#include "gpb/gpb.h"
#include "obs/obs_writer.h"
#include "obs/rinex3_obs.h"
#include "obs/rinex_format.h"
#include "obs/rinex_versions.h"
#include "obs/station_table.h"
#include "sink/chain.h"
#include "sink/sink.h"

namespace rawconv {
namespace {

// The room for one file name made by the naming module (file systems take
// 255 bytes; a longer name fails when its file is opened).
constexpr size_t kNameSize = 4096;

// True when path fits the job's path limit (see ConversionJob::PathLimit).
bool FitsLimit(const ConversionJob& job, const std::string& path) {
  return job.PathLimit == 0 || path.size() < job.PathLimit;
}

// Closes a stream if it is open.
void CloseStream(std::FILE*& stream) {
  if (stream) std::fclose(stream);
  stream = nullptr;
}

// The week reference of the conversion: the reference ephemeris of the EPP
// file, looked up once. Without one, a week override stands in for it (its
// week is then used as it is for every date of the call); without either the
// reference is unusable and no date can be given to the data.
WeekReference ConversionWeekReference(const ObsInput& obs, const char* epp_file) {
  WeekReference ref = LookupWeekReference(epp_file);
  // The week override dates every epoch; the names and TIME OF FIRST OBS
  // follow it too, so a file never contradicts its own epochs.
  if (obs.UseGpsWeek == 1) {
    ref.Week = obs.GpsWeek;
    ref.Toe = 0.0;
    ref.FixedWeek = 1;
  }
  return ref;
}

bool IsUsable(const WeekReference& ref) { return ref.Found || ref.FixedWeek; }

// Puts every file of the call in place, or none (OutputSet). The result
// code, with the message of a failure.
// Asked by the output set while it puts the files in place: the caller's
// progress callback, with all the work done, may still cancel the call.
bool CommitCancelled(void*) {
  return !ReportProgress(Ctx().ProgressTotal);
}

int CommitOutputs(OutputSet* set) {
  set->StopWhen(&CommitCancelled, nullptr);
  if (set->Commit()) return kConversionOk;
  if (set->Stopped()) {
    SetErrorText("Conversion cancelled");
    return kConversionCancelled;
  }
  if (set->TargetExisted()) {
    SetErrorText("Output file %s exists", set->FailedTarget());
    return kConversionExists;
  }
  SetErrorText("Error writing %s", set->FailedTarget());
  return kConversionFailed;
}

// The edits the RINEX 2 writers are handed: the job's, with its satellite
// naming. A zero record writes as none.
ObsEdits Rinex2Edits(const ConversionJob& job) {
  ObsEdits edits = job.Edits ? *job.Edits : ObsEdits{};
  edits.GlonassSlots = job.GlonassSlots ? 1 : 0;
  edits.ReferenceFormatting = Ctx().ReferenceFormatting ? 1 : 0;
  return edits;
}

// The edits the RINEX 3 writers are handed: the job's, with the session's
// number formatting. A zero record writes as none.
ObsEdits Rinex3Edits(const ConversionJob& job) {
  ObsEdits edits = job.Edits ? *job.Edits : ObsEdits{};
  edits.ReferenceFormatting = Ctx().ReferenceFormatting ? 1 : 0;
  return edits;
}

const Selection* SelectionOf(const ConversionJob& job) {
  return job.Edits ? job.Edits->Select : nullptr;
}

bool PassProgress(void*, uint64_t bytes) { return ReportProgress(bytes); }

// The clock of the call's run dates: the session's fixed one, else the
// writers' default.
RunClock ClockOf() {
  const Context& c = Ctx();
  if (!c.RunTimeFixed) return DefaultRunClock();
  RunClock clock;
  clock.Fixed = 1;
  clock.Seconds = c.FixedRunTime;
  return clock;
}

// A reading pass of the job: its station source, helper threads and
// progress from the call's context; observer (null for none) sees the kept
// epochs.
ReadingPass PassOf(const ConversionJob& job, EpochObserver* observer = nullptr) {
  const Context& c = Ctx();
  ReadingPass pass;
  pass.Station = job.Station;
  if (job.Station == kStationFile) pass.StationPath = job.StationPath;
  pass.ReadAhead = !c.SingleThread;
  pass.Progress = &PassProgress;
  pass.Observer = observer;
  return pass;
}

// Keeps the facts of a writing pass for the call's report.
void KeepPassFacts(const ReadingPass& pass) {
  // A station file that could not be used does not fail the call; its
  // message stays in the error text.
  if (!pass.StationMessage.empty()) CopyErrorText(pass.StationMessage.c_str());
  Context& c = Ctx();
  c.EpochsWritten += pass.EpochsKept;
  c.GpbDamaged = pass.GpbDamaged;
  c.GpbBytesUsed = pass.GpbBytesUsed;
  c.GpbFileSize = pass.GpbFileSize;
}

// The pre-scan of the job: over the epochs, satellites and types its edits
// keep. False (with the message) when a type asked for is not in the data.
bool Prescan(const ConversionJob& job, const WeekReference& ref, ObsHeaderSummary* summary) {
  *summary = ObsHeaderSummary{};
  const ReadingPass pass = PassOf(job);
  if (!job.Edits) {
    ScanObsSummary(job.Obs, summary, ref, ObsEdits{}, &pass);
    return true;
  }
  ScanObsSummary(job.Obs, summary, ref, *job.Edits, &pass);
  const Selection* select = job.Edits->Select;
  if (select && select->KeptTypes != 0 && !Ctx().Cancelled) {
    const CheckResult present = CheckTypesPresent(select->KeptTypes, summary->PresentTypes);
    if (!present.Ok) {
      SetErrorText("%s", present.Message);
      return false;
    }
  }
  return true;
}

// Output naming: both extensions become ".YY" + "o"/"n" after the year of the
// first epoch. Returns 0, or 1 with a message when a path cannot hold its
// new extension.
int NameOutputs(ConversionJob& job, const WeekReference& ref, double first_rcv_time) {
  int hour = 0, minute = 0, month = 0, day = 0, year = 0;
  double seconds = 0.0;
  GpsToDate(ReferenceWeekOf(ref, first_rcv_time), first_rcv_time, hour, minute, seconds, month,
            day, year);
  // The last two digits are the third and fourth characters of the year.
  char year_text[16];
  std::snprintf(year_text, sizeof year_text, "%d", year);
  const char* digits = std::strlen(year_text) >= 4 ? year_text + 2 : "00";
  char obs_ext[8], nav_ext[8];
  std::snprintf(obs_ext, sizeof obs_ext, ".%.2so", digits);
  std::snprintf(nav_ext, sizeof nav_ext, ".%.2sn", digits);
  if (SetFileExt(&job.Obs.ObsFile, obs_ext, job.PathLimit) != 0) {
    SetErrorText("Output path too long: %s", job.Obs.ObsFile.c_str());
    return 1;
  }
  if (SetFileExt(&job.Nav.NavFile, nav_ext, job.PathLimit) != 0) {
    SetErrorText("Output path too long: %s", job.Nav.NavFile.c_str());
    return 1;
  }
  return 0;
}

// Refuses outputs that would destroy data before anything is opened for
// writing: an output that is one of the call's inputs (the GPB file, the EPP
// file, the station file beside the GPB file), by file identity, so that a
// hard link or another spelling of the path is caught too, or an
// observation output that is the navigation output. 0 when both outputs
// are safe to write; 1 with a message otherwise.
int CheckOutputs(const ConversionJob& job, const char* obs_file, const char* nav_file,
                 const char* gpb_file,
                 const char* epp_file) {
  std::string station_file;
  if (job.Station == kStationFile) {
    station_file = job.StationPath;
  } else if (job.Station == kStationBeside) {
    station_file = StationFileName(gpb_file);
  }
  const char* const inputs[] = {gpb_file, epp_file, station_file.c_str()};
  const char* const outputs[] = {nav_file, obs_file};
  for (const char* output : outputs) {
    for (const char* input : inputs) {
      if (SameFile(output, input)) {
        SetErrorText("Output file %s is an input of the conversion; it is not overwritten",
                     output);
        return 1;
      }
    }
  }
  if (SameFile(obs_file, nav_file)) {
    SetErrorText("Output file %s is also the navigation output %s", obs_file, nav_file);
    return 1;
  }
  return 0;
}

// A sink that takes everything and keeps nothing: the navigation step of a
// call whose navigation output cannot be named still reads the EPP file.
class DiscardSink final : public Sink {
 public:
  bool Write(const char*, size_t) override { return true; }
  bool Finish() override { return true; }
  void Abort() override {}
};

bool IsRinex3(int rinex_version) { return UsesRinex3Records(rinex_version); }

// The version line of a RINEX 2 navigation file: 2.11 with 2.11
// observation files, else 2.10 (the 2.00 observation file's too).
double Nav2Version(int rinex_version) {
  return rinex_version == kRinex211 ? RinexVersionNumber(kRinex211) : kNavFormatVersion;
}

// Opens the temporary file of an output. Messages as the steps give them.
bool OpenOutput(FileSink* file, const char* path, const ConversionJob& job) {
  file->DeferCommit();
  file->SetSync(job.Sync);
  const OutputPolicy existing = job.Existing;
  const Compression compress = job.Compress;
  return file->Open(path,
                    existing == OutputPolicy::kReplace ? ExistingFile::kReplace
                                                       : ExistingFile::kRefuse,
                    compress == Compression::kNone ? FileSink::Mode::kText
                                                   : FileSink::Mode::kBinary);
}

// Navigation step: EPP file -> RINEX navigation file.
// `file` is null when the output is not to be written (no name, or an
// existing output that is skipped); the EPP file is then read all the same.
// The records read are kept in *records when it is given (for the check).
int NavigationStep(const NavInput& nav, const char* epp_file, const ConversionJob& job,
                   FileSink* file, std::vector<EphemerisRecord>* records = nullptr) {
  // Both opens are tried before either result is looked at.
  std::FILE* epp = std::fopen(epp_file, "r");
  DiscardSink discard;
  OutputChain chain;
  bool out_open = true;
  Sink* out = &discard;
  if (file) {
    out_open = OpenOutput(file, nav.NavFile.c_str(), job);
    out = out_open ? chain.Build(file, job.Compress, false, IsRinex3(job.RinexVersion) ? 3 : 2,
                                     !Ctx().SingleThread, ClockOf())
                   : file;
  }
  int result = 1;
  NavWriting run;
  run.Week.Use = job.Obs.UseGpsWeek;
  run.Week.Week = job.Obs.GpsWeek;
  const bool v3 = IsRinex3(job.RinexVersion);
  if (!epp) {
    SetErrorText("Error opening input epp file %s", epp_file);
  } else if (!out_open) {
    SetErrorText("Error opening ouput nav file %s", nav.NavFile.c_str());
  } else if (!out) {
    SetErrorText("%s", chain.Error());
    out = file;
  } else if ((v3 ? WriteNav3Header(*out, nav.RunBy.c_str(), job.RinexVersion, ClockOf())
                 : WriteNavHeader(*out, nav.RunBy.c_str(), Nav2Version(job.RinexVersion),
                                  ClockOf())) != 0) {
    // The date text could not be made; the header writer left no message.
  } else {
    const int converted = v3 ? ConvertEppToNav3(epp, *out, job.RinexVersion, records, &run)
                             : ConvertEppToNav(epp, *out, job.RinexVersion, records, &run);
    if (converted == 1) SetErrorText("%s", kInvalidEppHeader);
    result = converted == 0 ? 0 : 1;
  }
  Ctx().NavRecordsWritten = run.Written;
  CloseStream(epp);
  if (result != 0) {
    out->Abort();
    return result;
  }
  // A write failure fails a step that went well so far.
  if (!out->Finish()) {
    SetErrorText("Error writing %s", nav.NavFile.c_str());
    return 1;
  }
  return 0;
}

// Observation step: pre-scan (unless *scanned), header and epochs of the
// GPB file into `file` (its temporary file, not yet moved into place).
// observer (null for none) sees every epoch written.
int ObservationStep(const ConversionJob& job, const WeekReference& ref, FileSink* file,
                    ObsHeaderSummary* summary, bool scanned, uint64_t gpb_size,
                    EpochObserver* observer) {
  const ObsInput& obs = job.Obs;
  if (!OpenOutput(file, obs.ObsFile.c_str(), job)) {
    SetErrorText("Error opening obs file %s.", obs.ObsFile.c_str());
    return 1;
  }
  const bool v3 = IsRinex3(job.RinexVersion);
  OutputChain chain;
  Sink* out = chain.Build(file, job.Compress, true, v3 ? 3 : 2, !Ctx().SingleThread, ClockOf());
  if (!out) {
    SetErrorText("%s", chain.Error());
    file->Abort();
    return 1;
  }
  if (!scanned) {
    Ctx().ProgressBase = 0;
    if (!Prescan(job, ref, summary)) {
      out->Abort();
      return 1;
    }
  }
  // A header cut short by a date failure does not stop the epochs.
  Ctx().ProgressBase = gpb_size;
  if (!Ctx().Cancelled) {
    ReadingPass pass = PassOf(job, observer);
    if (v3) {
      const ObsEdits edits = Rinex3Edits(job);
      WriteObs3Header(*out, obs, *summary, job.RinexVersion, ref, &edits, ClockOf());
      WriteObs3Epochs(*out, obs, *summary, job.RinexVersion, ref, &edits, &pass);
    } else {
      const ObsEdits edits = Rinex2Edits(job);
      WriteObsHeader(*out, obs, *summary, job.RinexVersion, ref, &edits, ClockOf());
      WriteObsEpochs(*out, obs, *summary, job.RinexVersion, ref, &edits, &pass);
    }
    KeepPassFacts(pass);
  }
  if (Ctx().Cancelled) {
    out->Abort();
    SetErrorText("Conversion cancelled");
    return 1;
  }
  if (!out->Finish()) {
    SetErrorText("Error writing %s", obs.ObsFile.c_str());
    return 1;
  }
  return 0;
}

// Replaces the file name part of path (after the last separator) by name;
// 1 (path unchanged) when the result would not fit the job's path limit.
int ReplaceFileName(const ConversionJob& job, std::string* path, const char* name) {
  const std::string replaced = FolderOf(path->c_str()) + name;
  if (!FitsLimit(job, replaced)) return 1;
  *path = replaced;
  return 0;
}

// What the naming module needs of the job and of a first date.
NamingInput NamingInputOf(const ConversionJob& job, const EpochDate& first) {
  NamingInput input{};
  input.GpbPath = job.Obs.GpbFile.c_str();
  input.Marker = job.Obs.MarkerName.c_str();
  input.StationId = job.StationId;
  input.RinexMajor = IsRinex3(job.RinexVersion) ? 3 : 2;
  input.Year = first.Year;
  input.Month = first.Month;
  input.Day = first.Day;
  input.Hour = first.Hour;
  input.Minute = first.Minute;
  return input;
}

// Names both outputs through the naming module, from the pre-scan's facts.
int NameOutputsByStyle(ConversionJob& job, const WeekReference& ref,
                       const ObsHeaderSummary& summary) {
  const int first_week = ReferenceWeekOf(ref, summary.FirstObsTime);
  const int last_week = ReferenceWeekOf(ref, summary.LastObsTime);
  const EpochDate first = DateOfGpsTime(first_week, summary.FirstObsTime);
  NamingInput input = NamingInputOf(job, first);
  input.IntervalSeconds = summary.Interval;
  input.SpanSeconds = (static_cast<double>(last_week) - first_week) * 604800.0 +
                      summary.LastObsTime - summary.FirstObsTime + summary.Interval;
  input.Mixed = summary.HasGlonass != 0;
  char obs_name[kNameSize], nav_name[kNameSize];
  if (MakeObsFileName(input, job.Names, job.Compress, obs_name, sizeof obs_name) != kNameOk ||
      ReplaceFileName(job, &job.Obs.ObsFile, obs_name) != 0) {
    SetErrorText("Output path too long: %s", job.Obs.ObsFile.c_str());
    return 1;
  }
  if (MakeNavFileName(input, job.Names, job.Compress, nav_name, sizeof nav_name) != kNameOk ||
      ReplaceFileName(job, &job.Nav.NavFile, nav_name) != 0) {
    SetErrorText("Output path too long: %s", job.Nav.NavFile.c_str());
    return 1;
  }
  return 0;
}

// Output paths that exist already, under the job's policy: kConversionOk to
// go on (with *skip_obs / *skip_nav / skip_qc[] set for outputs left alone),
// or kConversionExists / kConversionSkipped with nothing to write. The
// RINEX outputs take part unless check_rinex is false; the report files
// when qc is not null.
int ApplyExistingPolicy(const ConversionJob& job, bool check_rinex, const QcPaths* qc,
                        bool* skip_obs, bool* skip_nav, bool skip_qc[kQcFiles]) {
  *skip_obs = false;
  *skip_nav = false;
  for (int i = 0; i < kQcFiles; ++i) skip_qc[i] = false;
  if (job.Existing == OutputPolicy::kReplace) return kConversionOk;
  std::vector<const char*> paths;
  if (check_rinex) {
    paths.push_back(job.Nav.NavFile.c_str());
    paths.push_back(job.Obs.ObsFile.c_str());
  }
  if (qc)
    for (int i = 0; i < kQcFiles; ++i) paths.push_back(qc->Path[i]);
  std::vector<bool> exists(paths.size());
  bool all = !paths.empty();
  const char* first = nullptr;
  for (size_t i = 0; i < paths.size(); ++i) {
    exists[i] = PathExists(paths[i]);
    all = all && exists[i];
    if (exists[i] && !first) first = paths[i];
  }
  if (job.Existing == OutputPolicy::kRefuse) {
    if (first) {
      SetErrorText("Output file %s exists", first);
      return kConversionExists;
    }
    return kConversionOk;
  }
  size_t next = 0;
  if (check_rinex) {
    *skip_nav = exists[next++];
    *skip_obs = exists[next++];
  }
  if (qc)
    for (int i = 0; i < kQcFiles; ++i) skip_qc[i] = exists[next++];
  return all ? kConversionSkipped : kConversionOk;
}

// A reading pass that writes nothing: the epochs go to the context's
// observer only.
class IgnoreEpochs final : public EpochVisitor {
 public:
  void StationBlock(const EpochDate&, const StationEvent&) override {}
  void KinematicEvent(const EpochDate&, int, int, const char*) override {}
  void Epoch(const EpochDate&, const GpbEpoch&, const GpbChannel*) override {}
};

// The report files must not name an input of the call or a RINEX output.
int CheckQcOutputs(const QcPaths& paths, const char* const* others, size_t count) {
  for (int i = 0; i < kQcFiles; ++i) {
    for (size_t k = 0; k < count; ++k) {
      if (others[k][0] != '\0' && SameFile(paths.Path[i], others[k])) {
        SetErrorText("Output file %s is an input or output of the conversion", paths.Path[i]);
        return 1;
      }
    }
  }
  return 0;
}

bool AllSkipped(const bool skip[kQcFiles]) {
  for (int i = 0; i < kQcFiles; ++i)
    if (!skip[i]) return false;
  return true;
}

void CopyQcPaths(const ConversionJob& job, const QcPaths& paths) {
  if (job.QcResult) job.QcResult->Paths = paths;
}

// The quality check's pre-scan and report names; the one-line summary is
// copied into the job's result.
void RenderQc(const ConversionJob& job, QcStep* step) {
  step->Render(FileNameOf(job.Obs.GpbFile.c_str()));
  if (job.QcResult)
    std::snprintf(job.QcResult->Summary, sizeof job.QcResult->Summary, "%s",
                  step->Summary().c_str());
}

ExistingFile FilePolicy(OutputPolicy policy) {
  return policy == OutputPolicy::kReplace ? ExistingFile::kReplace : ExistingFile::kRefuse;
}

void FillFacts(ConversionFacts* facts, const ObsHeaderSummary& summary, const WeekReference& ref) {
  if (!facts) return;
  facts->Interval = summary.Interval;
  facts->FirstTow = summary.FirstObsTime;
  facts->FirstWeek = ReferenceWeekOf(ref, summary.FirstObsTime);
  facts->LastTow = summary.LastObsTime;
  facts->LastWeek = ReferenceWeekOf(ref, summary.LastObsTime);
  facts->EpochsRead = static_cast<uint64_t>(summary.EpochCount);
  facts->Satellites = summary.SatelliteCount;
  facts->EpochsWritten = Ctx().EpochsWritten;
  facts->NavRecords = Ctx().NavRecordsWritten;
  facts->GpbDamaged = Ctx().GpbDamaged;
  facts->GpbBytesUsed = Ctx().GpbBytesUsed;
  facts->GpbFileSize = Ctx().GpbFileSize;
}

constexpr const char* kUndatedMessage =
    "No usable ephemeris record in %s: the GPS week of the data is unknown";

// A check without RINEX outputs: the report names, the existing-output
// policy, the pre-scan, one reading pass into the check, and the reports.
int RunQcOnly(ConversionJob& job, const WeekReference& ref, uint64_t gpb_size) {
  const char* const gpb_file = job.Obs.GpbFile.c_str();
  const char* const epp_file = job.Nav.EppFile.c_str();
  job.Obs.ObsFile.clear();
  job.Nav.NavFile.clear();
  if (!IsUsable(ref)) {
    SetErrorText(kUndatedMessage, epp_file);
    return kConversionFailed;
  }
  const std::string folder =
      job.QcDir && *job.QcDir ? std::string(job.QcDir) : FolderOf(gpb_file);
  QcPaths paths{};
  if (!MakeQcPaths(folder.c_str(), StemOf(gpb_file).c_str(), &paths)) {
    SetErrorText("Output path too long: %s", folder.c_str());
    return kConversionFailed;
  }
  CopyQcPaths(job, paths);
  const char* const inputs[] = {gpb_file, epp_file};
  if (CheckQcOutputs(paths, inputs, 2) != 0) return kConversionFailed;
  if (job.PlanOnly) return kConversionOk;

  bool skip_obs = false, skip_nav = false, skip_qc[kQcFiles];
  const int policy = ApplyExistingPolicy(job, false, &paths, &skip_obs, &skip_nav, skip_qc);
  if (job.QcResult) job.QcResult->Skipped = AllSkipped(skip_qc) ? 1 : 0;
  if (policy != kConversionOk) return policy;

  ObsHeaderSummary summary{};
  Ctx().ProgressBase = 0;
  if (!Prescan(job, ref, &summary)) return kConversionFailed;
  QcStep step(job.ElevationMask);
  if (!Ctx().Cancelled) {
    step.Prepare(epp_file, summary.ApproxX, summary.ApproxY, summary.ApproxZ);
    Ctx().ProgressBase = gpb_size;
    ReadingPass pass = PassOf(job, &step);
    IgnoreEpochs ignore;
    StreamObsEpochs(job.Obs, ref, ignore, SelectionOf(job), &pass);
    KeepPassFacts(pass);
  }
  if (Ctx().Cancelled) {
    SetErrorText("Conversion cancelled");
    return kConversionCancelled;
  }
  FillFacts(job.Facts, summary, ref);
  if (job.Facts) job.Facts->EpochsWritten = 0;
  RenderQc(job, &step);
  if (!step.Write(paths, skip_qc, FilePolicy(job.Existing), job.Sync)) return kConversionFailed;
  OutputSet set;
  step.AddTo(&set);
  return CommitOutputs(&set);
}


// ---- Split conversions: one observation file per span of GPS time ----

// The observation output of one span.
struct SpanOutput {
  const SpanSummary* Span = nullptr;
  std::string Path;
  bool Skip = false;     // it exists and is left alone (kSkip)
  bool Written = false;  // its complete temporary file waits for the commit
  FileSink File;
};
using SpanOutputs = std::vector<std::unique_ptr<SpanOutput>>;

// The writing pass of a split conversion: the epoch stream's visitor that
// sends each epoch, with the events that go out with it, to the writer of
// its span's file. A span's file is opened (temporary file, compression
// chain, its own header) when its first epoch comes and finished (not yet
// committed) when the next span begins, so one file is open at a time.
class SpanWriter final : public EpochVisitor {
 public:
  SpanWriter(const ConversionJob& job, const WeekReference& ref, SpanOutputs& outputs,
             double tolerance)
      : job_(job), ref_(ref), outputs_(outputs), tolerance_(tolerance) {}

  void BeginEpoch(int week, double time_of_week) override {
    const int64_t index =
        SpanIndexOf(GpsSeconds(week, time_of_week), job_.SplitSeconds, tolerance_);
    if (current_ != nullptr && current_->Span->Index == index) return;
    Close();
    current_ = nullptr;
    while (next_ < outputs_.size() && outputs_[next_]->Span->Index < index) ++next_;
    if (next_ == outputs_.size() || outputs_[next_]->Span->Index != index) {
      // The pre-scan saw other epochs than this pass: the file changed.
      Fail("The GPB file changed while it was converted");
      return;
    }
    current_ = outputs_[next_++].get();
    Open();
  }
  void StationBlock(const EpochDate& date, const StationEvent& event) override {
    if (writer_) writer_->StationBlock(date, event);
  }
  void KinematicEvent(const EpochDate& date, int flag, int count, const char* text) override {
    if (writer_) writer_->KinematicEvent(date, flag, count, text);
  }
  void Epoch(const EpochDate& date, const GpbEpoch& epoch, const GpbChannel* channels) override {
    if (writer_) writer_->Epoch(date, epoch, channels);
  }

  // Finishes the last span's file. false when any span file failed (the
  // message is in the error text).
  bool Finish() {
    Close();
    return !failed_;
  }

 private:
  void Fail(const std::string& message) {
    if (!failed_) SetErrorText("%s", message.c_str());
    failed_ = true;
  }

  void Open() {
    SpanOutput* o = current_;
    if (failed_ || o->Skip) return;
    if (!OpenOutput(&o->File, o->Path.c_str(), job_)) {
      Fail("Error opening obs file " + o->Path + ".");
      return;
    }
    const bool v3 = IsRinex3(job_.RinexVersion);
    chain_.reset(new OutputChain());
    head_ = chain_->Build(&o->File, job_.Compress, true, v3 ? 3 : 2, !Ctx().SingleThread,
                          ClockOf());
    if (!head_) {
      Fail(chain_->Error());
      o->File.Abort();
      return;
    }
    // A header cut short by a date failure does not stop the epochs.
    const ObsHeaderSummary& summary = o->Span->Summary;
    if (v3) {
      const ObsEdits edits = Rinex3Edits(job_);
      WriteObs3Header(*head_, job_.Obs, summary, job_.RinexVersion, ref_, &edits, ClockOf());
      writer_ = MakeRinex3EpochWriter(*head_, summary, edits.ReferenceFormatting != 0);
    } else {
      const ObsEdits edits = Rinex2Edits(job_);
      WriteObsHeader(*head_, job_.Obs, summary, job_.RinexVersion, ref_, &edits, ClockOf());
      writer_ = MakeRinex2EpochWriter(*head_, summary, job_.RinexVersion, job_.GlonassSlots,
                                      edits.ReferenceFormatting != 0);
    }
  }

  void Close() {
    if (!writer_) return;
    writer_->Flush();
    writer_.reset();
    if (head_->Finish()) {
      current_->Written = true;
    } else {
      Fail("Error writing " + current_->Path);
    }
    head_ = nullptr;
    chain_.reset();
  }

  const ConversionJob& job_;
  const WeekReference& ref_;
  SpanOutputs& outputs_;
  const double tolerance_;
  size_t next_ = 0;
  SpanOutput* current_ = nullptr;
  std::unique_ptr<OutputChain> chain_;
  Sink* head_ = nullptr;
  std::unique_ptr<EpochRecordWriter> writer_;
  bool failed_ = false;
};

// Names every span's file (in the folder of the observation output).
int NameSpanOutputs(const ConversionJob& job, const std::vector<SpanSummary>& spans,
                    SpanOutputs* outputs) {
  const std::string folder = FolderOf(job.Obs.ObsFile.c_str());
  std::set<std::string> names;
  for (const SpanSummary& span : spans) {
    const double week = std::floor(span.Start / kSecondsPerGpsWeek);
    const EpochDate start =
        DateOfGpsTime(static_cast<int>(week), span.Start - week * kSecondsPerGpsWeek);
    NamingInput input = NamingInputOf(job, start);
    input.IntervalSeconds = span.Summary.Interval;
    input.SpanSeconds = job.SplitSeconds;
    input.SplitSeconds = job.SplitSeconds;
    input.Mixed = span.Summary.HasGlonass != 0;
    char name[kNameSize];
    if (MakeObsFileName(input, job.Names, job.Compress, name, sizeof name) != kNameOk ||
        !FitsLimit(job, folder + name)) {
      SetErrorText("Output path too long: %s%s", folder.c_str(), name);
      return 1;
    }
    std::unique_ptr<SpanOutput> output(new SpanOutput());
    output->Span = &span;
    output->Path = folder + name;
    if (!names.insert(output->Path).second) {
      SetErrorText("Two spans would both be written to %s", output->Path.c_str());
      return 1;
    }
    outputs->push_back(std::move(output));
  }
  return 0;
}

void AbortSpans(SpanOutputs& outputs) {
  for (auto& o : outputs) o->File.Abort();
}

void ListOutputs(const ConversionJob& job, const SpanOutputs& spans, bool with_qc,
                 const QcPaths& qc_paths, const bool skip_qc[kQcFiles], bool skip_nav) {
  if (!job.Outputs) return;
  job.Outputs->clear();
  for (const auto& o : spans) job.Outputs->push_back({OutputKind::kObservation, o->Path, o->Skip});
  job.Outputs->push_back({OutputKind::kNavigation, job.Nav.NavFile, skip_nav});
  if (with_qc)
    for (int i = 0; i < kQcFiles; ++i)
      job.Outputs->push_back({OutputKind::kQcReport, qc_paths.Path[i], skip_qc[i]});
}

// A split conversion (job.SplitSeconds > 0), from the naming on: the same
// steps as a conversion into one file, over a list of span outputs.
// The outputs of a split conversion, from the plan to the commit.
struct SplitOutputs {
  std::unique_ptr<ObsHeaderSummary> Whole{new ObsHeaderSummary()};
  std::vector<SpanSummary> Spans;
  SpanOutputs Files;  // one per span
  bool WithQc = false;
  QcPaths QcPathSet{};
  bool SkipNav = false;
  bool SkipQc[kQcFiles] = {false, false, false};
  FileSink NavOut;
  FileSink* NavFile = nullptr;  // &NavOut when the navigation file is written
  bool Checking = false;
};

// Prescan: the whole file's facts and those of every span, in one pass.
int PrescanSpans(ConversionJob& job, const WeekReference& ref, SplitOutputs* out) {
  const ObsEdits no_edits{};
  const ObsEdits& edits = job.Edits ? *job.Edits : no_edits;
  Ctx().ProgressBase = 0;
  const ReadingPass scan_pass = PassOf(job);
  const CheckResult scanned = ScanObsSpans(job.Obs, out->Whole.get(), ref, edits,
                                           job.SplitSeconds, &out->Spans, &scan_pass);
  if (Ctx().Cancelled) {
    SetErrorText("Conversion cancelled");
    return kConversionCancelled;
  }
  if (!scanned.Ok) {
    SetErrorText("%s", scanned.Message);
    return kConversionFailed;
  }
  const Selection* select = SelectionOf(job);
  if (select && select->KeptTypes != 0) {
    const CheckResult present = CheckTypesPresent(select->KeptTypes, out->Whole->PresentTypes);
    if (!present.Ok) {
      SetErrorText("%s", present.Message);
      return kConversionFailed;
    }
  }
  return kConversionOk;
}

// Plan: the navigation file named as without splitting, one file per span,
// the reports named after the input; all checked against the inputs.
int PlanSpans(ConversionJob& job, const WeekReference& ref, SplitOutputs* out) {
  const char* const gpb_file = job.Obs.GpbFile.c_str();
  const char* const epp_file = job.Nav.EppFile.c_str();
  if (NameOutputsByStyle(job, ref, *out->Whole) != 0) return kConversionFailed;
  if (NameSpanOutputs(job, out->Spans, &out->Files) != 0) return kConversionFailed;
  job.Obs.ObsFile = out->Files.empty() ? std::string() : out->Files.front()->Path;
  const char* const nav_path = job.Nav.NavFile.c_str();
  for (const auto& o : out->Files)
    if (CheckOutputs(job, o->Path.c_str(), nav_path, gpb_file, epp_file) != 0)
      return kConversionFailed;

  // The reports of the check cover the whole input: named after it.
  out->WithQc = job.Qc == QcMode::kWith;
  if (out->WithQc) {
    const std::string folder =
        job.QcDir && *job.QcDir ? std::string(job.QcDir) : FolderOf(nav_path);
    if (!MakeQcPaths(folder.c_str(), StemOf(gpb_file).c_str(), &out->QcPathSet)) {
      SetErrorText("Output path too long: %s", folder.c_str());
      return kConversionFailed;
    }
    CopyQcPaths(job, out->QcPathSet);
    std::vector<const char*> others = {gpb_file, epp_file, nav_path,
                                       job.Station == kStationFile ? job.StationPath.c_str() : ""};
    for (const auto& o : out->Files) others.push_back(o->Path.c_str());
    if (CheckQcOutputs(out->QcPathSet, others.data(), others.size()) != 0)
      return kConversionFailed;
  }
  if (job.Station == kStationFile && !PathExists(job.StationPath.c_str())) {
    SetErrorText("Error opening station file %s", job.StationPath.c_str());
    return kConversionFailed;
  }
  return kConversionOk;
}

// The existing-output policy, for every file of the call. kConversionSkipped
// when every one exists and is left alone.
int ApplySplitPolicy(ConversionJob& job, const WeekReference& ref, SplitOutputs* out) {
  if (job.Existing == OutputPolicy::kReplace) return kConversionOk;
  std::vector<const char*> paths = {job.Nav.NavFile.c_str()};
  for (const auto& o : out->Files) paths.push_back(o->Path.c_str());
  if (out->WithQc)
    for (int i = 0; i < kQcFiles; ++i) paths.push_back(out->QcPathSet.Path[i]);
  std::vector<bool> exists(paths.size());
  bool all = true;
  for (size_t i = 0; i < paths.size(); ++i) {
    exists[i] = PathExists(paths[i]);
    all = all && exists[i];
    if (exists[i] && job.Existing == OutputPolicy::kRefuse) {
      SetErrorText("Output file %s exists", paths[i]);
      return kConversionExists;
    }
  }
  size_t next = 0;
  out->SkipNav = exists[next++];
  bool all_obs = !out->Files.empty();
  for (auto& o : out->Files) {
    o->Skip = exists[next++];
    all_obs = all_obs && o->Skip;
  }
  if (out->WithQc)
    for (int i = 0; i < kQcFiles; ++i) out->SkipQc[i] = exists[next++];
  if (job.Facts) {
    job.Facts->ObsSkipped = all_obs ? 1 : 0;
    job.Facts->NavSkipped = out->SkipNav ? 1 : 0;
  }
  if (job.QcResult && out->WithQc) job.QcResult->Skipped = AllSkipped(out->SkipQc) ? 1 : 0;
  if (!all) return kConversionOk;
  FillFacts(job.Facts, *out->Whole, ref);
  if (job.Facts) job.Facts->EpochsWritten = 0;
  ListOutputs(job, out->Files, out->WithQc, out->QcPathSet, out->SkipQc, out->SkipNav);
  return kConversionSkipped;
}

// One writing pass over every span; the check sees every kept epoch.
int WriteSpanPass(ConversionJob& job, const WeekReference& ref, uint64_t gpb_size,
                  QcStep* step, SplitOutputs* out) {
  const Selection* select = SelectionOf(job);
  bool writing = false;
  for (const auto& o : out->Files) writing = writing || !o->Skip;
  Ctx().ProgressBase = gpb_size;
  bool written = true;
  if (writing || out->Checking) {
    ReadingPass pass = PassOf(job, out->Checking ? step : nullptr);
    if (writing) {
      const double tolerance =
          select != nullptr ? ClockTolerance(*select) : kDefaultClockTolerance;
      SpanWriter writer(job, ref, out->Files, tolerance);
      StreamObsEpochs(job.Obs, ref, writer, select, &pass);
      written = writer.Finish();
    } else {
      IgnoreEpochs ignore;
      StreamObsEpochs(job.Obs, ref, ignore, select, &pass);
    }
    KeepPassFacts(pass);
  }
  if (Ctx().Cancelled || !written) {
    AbortSpans(out->Files);
    out->NavOut.Abort();
    if (!Ctx().Cancelled) return kConversionFailed;
    SetErrorText("Conversion cancelled");
    return kConversionCancelled;
  }
  FillFacts(job.Facts, *out->Whole, ref);
  if (job.Facts) {
    uint64_t skipped_epochs = 0;
    uint32_t files = 0;
    for (const auto& o : out->Files) {
      if (o->Skip) skipped_epochs += static_cast<uint64_t>(o->Span->Summary.EpochCount);
      else ++files;
    }
    job.Facts->EpochsWritten = writing ? Ctx().EpochsWritten - skipped_epochs : 0;
    job.Facts->ObsFiles = files;
  }
  return kConversionOk;
}

// Write: the navigation file, every span's file and the reports, each into
// its temporary file.
int WriteSpans(ConversionJob& job, const WeekReference& ref, uint64_t gpb_size, QcStep* step,
               SplitOutputs* out) {
  out->NavFile = out->SkipNav ? nullptr : &out->NavOut;
  std::vector<EphemerisRecord> ephemerides;
  if (NavigationStep(job.Nav, job.Nav.EppFile.c_str(), job, out->NavFile,
                     out->WithQc ? &ephemerides : nullptr) != 0)
    return kConversionFailed;
  out->Checking = out->WithQc && !AllSkipped(out->SkipQc);
  if (out->Checking)
    step->Prepare(ephemerides, out->Whole->ApproxX, out->Whole->ApproxY, out->Whole->ApproxZ);
  const int pass = WriteSpanPass(job, ref, gpb_size, step, out);
  if (pass != kConversionOk) return pass;
  if (out->Checking) {
    RenderQc(job, step);
    if (!step->Write(out->QcPathSet, out->SkipQc, FilePolicy(job.Existing), job.Sync)) {
      AbortSpans(out->Files);
      out->NavOut.Abort();
      return kConversionFailed;
    }
  }
  return kConversionOk;
}

int RunSplit(ConversionJob& job, const WeekReference& ref, uint64_t gpb_size) {
  const char* const epp_file = job.Nav.EppFile.c_str();
  if (job.FixedNames) {
    SetErrorText("Splitting names its outputs: it cannot write to a fixed observation path");
    return kConversionFailed;
  }
  if (!IsUsable(ref)) {
    // The EPP file's own fault first, as an unsplit conversion reports it.
    if (NavigationStep(job.Nav, epp_file, job, nullptr) == 0)
      SetErrorText(kUndatedMessage, epp_file);
    return kConversionFailed;
  }
  SplitOutputs out;
  int result = PrescanSpans(job, ref, &out);
  if (result == kConversionOk) result = PlanSpans(job, ref, &out);
  if (result != kConversionOk) return result;
  if (job.PlanOnly) {
    FillFacts(job.Facts, *out.Whole, ref);
    if (job.Facts) {
      job.Facts->EpochsWritten = 0;
      job.Facts->ObsFiles = static_cast<uint32_t>(out.Files.size());
    }
    ListOutputs(job, out.Files, out.WithQc, out.QcPathSet, out.SkipQc, false);
    return kConversionOk;
  }
  result = ApplySplitPolicy(job, ref, &out);
  if (result != kConversionOk) return result;
  QcStep step(job.ElevationMask);
  result = WriteSpans(job, ref, gpb_size, &step, &out);
  if (result != kConversionOk) return result;

  // Every file is complete: all go into place together, or none.
  OutputSet set;
  set.Add(out.NavFile);
  if (out.Checking) step.AddTo(&set);
  for (auto& o : out.Files)
    if (!o->Skip && o->Written) set.Add(&o->File);
  result = CommitOutputs(&set);
  if (result != kConversionOk) return result;
  ListOutputs(job, out.Files, out.WithQc, out.QcPathSet, out.SkipQc, out.SkipNav);
  return kConversionOk;
}

}  // namespace

int ValidateGpbFile(const char* gpb_path, double* first_rcv_time, size_t path_limit) {
  GpbClass reader;
  if (path_limit != 0) reader.LimitPathLength(path_limit);
  if (reader.OpenGpbFile(gpb_path, 0, 4096, GIO_READ, 0) != 0) {
    CopyErrorText(reader.ErrorText());
    return -1;
  }
  GpbEpoch epoch{};
  GpbChannel channels[kMaxChannels]{};
  if (reader.ReadGpbEpoch(&epoch, channels) != 0) {
    CopyErrorText(reader.ErrorText());
    return -1;
  }
  reader.CloseGpbFile();
  *first_rcv_time = epoch.RcvTime;
  return 0;
}

namespace {

// The outputs of a conversion into one observation file: their names and
// skips, and the files being written, from the plan to the commit.
struct WholeFileOutputs {
  ObsHeaderSummary Summary{};
  bool Scanned = false;  // Summary holds the pre-scan's facts
  bool WithQc = false;
  QcPaths QcPathSet{};
  bool SkipObs = false, SkipNav = false;
  bool SkipQc[kQcFiles] = {true, true, true};
  FileSink NavOut, ObsOut;
  FileSink* NavFile = nullptr;  // &NavOut when the navigation file is written
  bool Checking = false;        // the quality check runs
};

// Plan: names every output of the call and checks them against the inputs
// and each other. kConversionOk when the call may go on.
int PlanWholeFile(ConversionJob& job, const WeekReference& ref, double first_rcv_time,
                  WholeFileOutputs* out) {
  const char* const gpb_file = job.Obs.GpbFile.c_str();
  const char* const epp_file = job.Nav.EppFile.c_str();
  // The dialog's naming rule, or the naming module (which needs the
  // pre-scan's facts: it then runs first, and only once).
  const bool by_style = job.Names != NameStyle::kInput || job.Compress != Compression::kNone ||
                        IsRinex3(job.RinexVersion);
  if (IsUsable(ref) && !job.FixedNames) {
    if (by_style) {
      Ctx().ProgressBase = 0;
      if (!Prescan(job, ref, &out->Summary)) return kConversionFailed;
      out->Scanned = true;
      if (Ctx().Cancelled) {
        SetErrorText("Conversion cancelled");
        return kConversionCancelled;
      }
      if (NameOutputsByStyle(job, ref, out->Summary) != 0) return kConversionFailed;
    } else if (NameOutputs(job, ref, first_rcv_time) != 0) {
      return kConversionFailed;
    }
  }
  const char* const obs_path = job.Obs.ObsFile.c_str();
  const char* const nav_path = job.Nav.NavFile.c_str();
  if (CheckOutputs(job, obs_path, nav_path, gpb_file, epp_file) != 0) return kConversionFailed;

  // The report files of the check, named after the observation output.
  out->WithQc = job.Qc == QcMode::kWith;
  if (out->WithQc) {
    const std::string folder =
        job.QcDir && *job.QcDir ? std::string(job.QcDir) : FolderOf(obs_path);
    if (!MakeQcPaths(folder.c_str(), FileNameOf(obs_path), &out->QcPathSet)) {
      SetErrorText("Output path too long: %s", obs_path);
      return kConversionFailed;
    }
    CopyQcPaths(job, out->QcPathSet);
    const char* const others[] = {gpb_file, epp_file, obs_path, nav_path,
                                  job.Station == kStationFile ? job.StationPath.c_str() : ""};
    if (CheckQcOutputs(out->QcPathSet, others, 5) != 0) return kConversionFailed;
  }

  // A station file named by the caller must be there.
  if (job.Station == kStationFile && !PathExists(job.StationPath.c_str())) {
    SetErrorText("Error opening station file %s", job.StationPath.c_str());
    return kConversionFailed;
  }
  return kConversionOk;
}

// A plan-only call ends after the plan: the facts it can give, or the
// failure the conversion would meet first.
int FinishPlanOnly(ConversionJob& job, const WeekReference& ref, double first_rcv_time) {
  const char* const epp_file = job.Nav.EppFile.c_str();
  if (!IsUsable(ref)) {
    // The EPP file's own fault, as the conversion would report it.
    if (NavigationStep(job.Nav, epp_file, job, nullptr) == 0) {
      SetErrorText(kUndatedMessage, epp_file);
    }
    return kConversionFailed;
  }
  if (job.Facts) {
    job.Facts->FirstWeek = ReferenceWeekOf(ref, first_rcv_time);
    job.Facts->FirstTow = first_rcv_time;
  }
  return kConversionOk;
}

// The existing-output policy over every planned output.
int ApplyWholeFilePolicy(ConversionJob& job, const WeekReference& ref, WholeFileOutputs* out) {
  if (!IsUsable(ref)) return kConversionOk;
  const int policy = ApplyExistingPolicy(job, true, out->WithQc ? &out->QcPathSet : nullptr,
                                         &out->SkipObs, &out->SkipNav, out->SkipQc);
  if (!out->WithQc)
    for (bool& skip : out->SkipQc) skip = true;
  if (job.Facts) {
    job.Facts->ObsSkipped = out->SkipObs ? 1 : 0;
    job.Facts->NavSkipped = out->SkipNav ? 1 : 0;
  }
  if (job.QcResult && out->WithQc) job.QcResult->Skipped = AllSkipped(out->SkipQc) ? 1 : 0;
  return policy;
}

// The observation file's pass: written, or, when it is left alone, read
// for the check only. Aborts the navigation file on failure.
int ObservationPass(ConversionJob& job, const WeekReference& ref, uint64_t gpb_size,
                    QcStep* step, WholeFileOutputs* out) {
  if (!out->SkipObs) {
    const int result = ObservationStep(job, ref, &out->ObsOut, &out->Summary, out->Scanned,
                                       gpb_size, out->Checking ? step : nullptr);
    if (result != 0) {
      out->NavOut.Abort();
      return Ctx().Cancelled ? kConversionCancelled : kConversionFailed;
    }
    return kConversionOk;
  }
  if (!out->Scanned && !Prescan(job, ref, &out->Summary)) {
    out->NavOut.Abort();
    return kConversionFailed;
  }
  if (out->Checking && !Ctx().Cancelled) {
    // The observation file stays as it is: a reading pass feeds the check.
    Ctx().ProgressBase = gpb_size;
    ReadingPass pass = PassOf(job, step);
    IgnoreEpochs ignore;
    StreamObsEpochs(job.Obs, ref, ignore, SelectionOf(job), &pass);
    KeepPassFacts(pass);
    Ctx().EpochsWritten = 0;
  }
  if (Ctx().Cancelled) {
    out->NavOut.Abort();
    SetErrorText("Conversion cancelled");
    return kConversionCancelled;
  }
  return kConversionOk;
}

// Write: the navigation file, the observation file (or the check's reading
// pass) and the reports, each into its temporary file.
int WriteWholeFile(ConversionJob& job, const WeekReference& ref, uint64_t gpb_size,
                   QcStep* step, WholeFileOutputs* out) {
  const char* const epp_file = job.Nav.EppFile.c_str();
  const bool dated = IsUsable(ref);
  // Without a year the navigation output has no name: it is not written.
  out->NavFile = (dated && !out->SkipNav) ? &out->NavOut : nullptr;
  std::vector<EphemerisRecord> ephemerides;
  if (NavigationStep(job.Nav, epp_file, job, out->NavFile,
                     out->WithQc ? &ephemerides : nullptr) != 0)
    return kConversionFailed;
  if (!dated) {
    SetErrorText(kUndatedMessage, epp_file);
    return kConversionFailed;
  }
  // The check needs the pre-scan's position before the writing pass.
  out->Checking = out->WithQc && !AllSkipped(out->SkipQc);
  if (out->Checking) {
    if (!out->Scanned) {
      Ctx().ProgressBase = 0;
      if (!Prescan(job, ref, &out->Summary)) {
        out->NavOut.Abort();
        return kConversionFailed;
      }
      out->Scanned = true;
    }
    step->Prepare(ephemerides, out->Summary.ApproxX, out->Summary.ApproxY,
                  out->Summary.ApproxZ);
  }
  const int pass = ObservationPass(job, ref, gpb_size, step, out);
  if (pass != kConversionOk) return pass;
  FillFacts(job.Facts, out->Summary, ref);
  if (out->Checking) {
    RenderQc(job, step);
    if (!step->Write(out->QcPathSet, out->SkipQc, FilePolicy(job.Existing), job.Sync)) {
      out->ObsOut.Abort();
      out->NavOut.Abort();
      return kConversionFailed;
    }
  }
  return kConversionOk;
}

// Plan, write and commit of a conversion into one observation file. The
// call's first checks (the GPB file, the output paths' limit, the week
// reference) are done by the caller.
int RunWholeFile(ConversionJob& job, const WeekReference& ref, double first_rcv_time,
                 uint64_t gpb_size) {
  WholeFileOutputs out;
  int result = PlanWholeFile(job, ref, first_rcv_time, &out);
  if (result != kConversionOk) return result;
  if (job.PlanOnly) return FinishPlanOnly(job, ref, first_rcv_time);
  result = ApplyWholeFilePolicy(job, ref, &out);
  if (result != kConversionOk) return result;
  QcStep step(job.ElevationMask);
  result = WriteWholeFile(job, ref, gpb_size, &step, &out);
  if (result != kConversionOk) return result;
  // Every output is complete: all go into place together, or none.
  OutputSet set;
  set.Add(out.NavFile);
  if (out.Checking) step.AddTo(&set);
  if (!out.SkipObs) set.Add(&out.ObsOut);
  return CommitOutputs(&set);
}

int RunConversionSteps(ConversionJob& job) {
  if (job.Facts) {
    *job.Facts = ConversionFacts{};
    job.Facts->FirstWeek = -1;
    job.Facts->LastWeek = -1;
  }
  if (job.QcResult) *job.QcResult = QcFacts{};
  Ctx().Cancelled = 0;
  Ctx().EpochsWritten = 0;
  Ctx().NavRecordsWritten = 0;

  const char* const gpb_file = job.Obs.GpbFile.c_str();
  double first_rcv_time = 0.0;
  if (ValidateGpbFile(gpb_file, &first_rcv_time, job.PathLimit) != 0) return kConversionBadGpb;

  // Output paths must fit the job's limit before they are given their names.
  if (!FitsLimit(job, job.Obs.ObsFile) || !FitsLimit(job, job.Nav.NavFile)) {
    const std::string& path = FitsLimit(job, job.Obs.ObsFile) ? job.Nav.NavFile : job.Obs.ObsFile;
    SetErrorText("Output path too long: %s", path.c_str());
    return kConversionFailed;
  }

  const WeekReference ref = ConversionWeekReference(job.Obs, job.Nav.EppFile.c_str());
  const uint64_t gpb_size = FileSizeOf(gpb_file);
  Ctx().ProgressTotal = 2 * gpb_size;  // the pre-scan and the writing pass

  if (job.Qc == QcMode::kOnly) return RunQcOnly(job, ref, gpb_size);
  if (job.SplitSeconds > 0.0) return RunSplit(job, ref, gpb_size);
  return RunWholeFile(job, ref, first_rcv_time, gpb_size);
}

}  // namespace

// Helper threads (the output's writing thread, the GPB read-ahead) pay for
// their start and hand-overs on large files only. Measured with -j 1 on 400
// real 30 s days (1.6 MB of GPB each): 3.3 s with them against 3.0 s
// without; on the synthetic 1 s day (75 MB) 0.13 s against 0.16 s.
constexpr uint64_t kHelperThreadsMinBytes = 8u << 20;

// Turns the helper threads off for one call on a small GPB file; the
// caller's choice comes back at the end of the call (the dialog's default
// context lives on between calls).
class HelperThreadsScope {
 public:
  explicit HelperThreadsScope(const ObsInput& obs) : saved_(Ctx().SingleThread) {
    if (!saved_ && FileSizeOf(obs.GpbFile.c_str()) < kHelperThreadsMinBytes)
      Ctx().SingleThread = 1;
  }
  ~HelperThreadsScope() { Ctx().SingleThread = saved_; }
  HelperThreadsScope(const HelperThreadsScope&) = delete;
  HelperThreadsScope& operator=(const HelperThreadsScope&) = delete;

 private:
  int32_t saved_;
};

int RunConversion(ConversionJob& job) {
  const HelperThreadsScope threads(job.Obs);
  if (job.Outputs) job.Outputs->clear();
  const int result = RunConversionSteps(job);
  const bool listed = result == kConversionOk || result == kConversionSkipped;
  if (job.SplitSeconds > 0.0 || !listed) return result;
  // One observation file at most: the list from the request's paths.
  const bool obs_skipped = job.Facts && job.Facts->ObsSkipped;
  const bool written = !job.Obs.ObsFile.empty() && (job.PlanOnly || !obs_skipped);
  if (job.Facts) job.Facts->ObsFiles = written ? 1 : 0;
  if (!job.Outputs) return result;
  if (!job.Obs.ObsFile.empty())
    job.Outputs->push_back({OutputKind::kObservation, job.Obs.ObsFile, obs_skipped});
  if (!job.Nav.NavFile.empty())
    job.Outputs->push_back(
        {OutputKind::kNavigation, job.Nav.NavFile, job.Facts && job.Facts->NavSkipped});
  if (job.Qc != QcMode::kNone && job.QcResult)
    for (int i = 0; i < kQcFiles; ++i)
      job.Outputs->push_back({OutputKind::kQcReport, job.QcResult->Paths.Path[i],
                              job.QcResult->Skipped != 0});
  return result;
}

}  // namespace rawconv
