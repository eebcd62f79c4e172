#include "api/conversion_steps.h"

#include <cerrno>

#include <sys/stat.h>

#include "io/input_file.h"

namespace rawconv {
namespace steps {

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
WeekReference ConversionWeekReference(const ConversionJob& job) {
  const ObsInput& obs = job.Obs;
  WeekReference ref = job.ObsOnly ? WeekReference{} : LookupWeekReference(job.Nav.EppFile.c_str());
  // The day the caller named dates the recording, whatever the EPP file says.
  if (job.DateRef.Found || job.DateRef.FixedWeek) ref = job.DateRef;
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
static bool CommitCancelled(void*) {
  return !ReportProgress(Ctx().ProgressTotal);
}

int CommitOutputs(OutputSet* set, const ConversionJob& job) {
  set->StopWhen(&CommitCancelled, nullptr);
  if (set->Commit()) return kConversionOk;
  if (set->Stopped()) {
    SetErrorText("Conversion cancelled");
    return kConversionCancelled;
  }
  if (set->TargetExisted()) {
    SetErrorText("Output file %s exists", set->FailedTarget());
    SetErrorField("existing");
    return kConversionExists;
  }
  if (!job.UserMessages) {
    SetErrorText("Error writing %s", set->FailedTarget());
  } else if (set->FolderInTheWay()) {
    SetErrorText("Cannot write %s: %s", set->FailedTarget(), kReasonFolder);
  } else {
    SetErrorText("Cannot write %s: %s", set->FailedTarget(),
                 set->SystemError() != 0 ? SystemReason(set->SystemError()).c_str() : "the file could not be put in place");
  }
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
ReadingPass PassOf(const ConversionJob& job, EpochObserver* observer) {
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
  c.StationRecords = pass.StationRecords;
  c.StationBlocks += pass.StationBlocks;
  c.EpochsWritten += pass.EpochsKept;
  c.GpbDamaged = pass.GpbDamaged;
  c.GpbBytesUsed = pass.GpbBytesUsed;
  c.GpbFileSize = pass.GpbFileSize;
}

// ---- The position from the data (ConversionJob::PositionFromData) ----

bool StartDataPosition(const ConversionJob& job, std::unique_ptr<qc::PositionSolver>* solver) {
  solver->reset();
  if (job.PositionFromData == nullptr || job.PositionFromData->Solved) return true;
  SetErrorField("position_source");
  const char* const epp_file = job.Nav.EppFile.c_str();
  if (job.ObsOnly) {
    SetErrorText("No ephemeris file %s: the position from the data needs the broadcast ephemerides",
                 epp_file);
    return false;
  }
  std::vector<EphemerisRecord> records;
  std::string error;
  if (!qc::LoadEphemerides(epp_file, &records, &error)) {
    SetErrorText("%s: the position from the data needs the broadcast ephemerides", error.c_str());
    return false;
  }
  if (records.empty()) {
    SetErrorText("Ephemeris file %s holds no ephemeris: no position from the data", epp_file);
    return false;
  }
  SetErrorField("");
  solver->reset(new qc::PositionSolver(job.ElevationMask));
  (*solver)->SetEphemerides(records);
  return true;
}

bool FinishDataPosition(const ConversionJob& job, const qc::PositionSolver* solver) {
  if (solver == nullptr || Ctx().Cancelled) return true;
  DataPositionRequest& request = *job.PositionFromData;
  request.Result = solver->Result();
  if (!request.Result.Valid) {
    SetErrorText("No position from the data of %s: %s", job.Obs.GpbFile.c_str(),
                 request.Result.Reason.c_str());
    SetErrorField("position_source");
    return false;
  }
  request.Metadata.HasPosition = 1;
  request.Metadata.Position[0] = request.Result.Mean.X;
  request.Metadata.Position[1] = request.Result.Mean.Y;
  request.Metadata.Position[2] = request.Result.Mean.Z;
  request.Solved = true;
  return true;
}

// The pre-scan of the job: over the epochs, satellites and types its edits
// keep. False (with the message) when a type asked for is not in the data.
bool Prescan(const ConversionJob& job, const WeekReference& ref, ObsHeaderSummary* summary) {
  *summary = ObsHeaderSummary{};
  std::unique_ptr<qc::PositionSolver> solver;
  if (!StartDataPosition(job, &solver)) return false;
  SolverObserver observer(solver.get());
  const ReadingPass pass = PassOf(job, solver ? &observer : nullptr);
  if (!job.Edits) {
    ScanObsSummary(job.Obs, summary, ref, ObsEdits{}, &pass);
    return FinishDataPosition(job, solver.get());
  }
  ScanObsSummary(job.Obs, summary, ref, *job.Edits, &pass);
  if (!Ctx().Cancelled && !CheckSomethingKept(job, ref, *summary)) return false;
  if (!FinishDataPosition(job, solver.get())) return false;
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
  if (job.UserMessages) {
    for (const char* output : {obs_file, nav_file}) {
      if (*output != '\0' && IsFolder(output)) {
        SetErrorText("Output file %s is a folder", output);
        if (job.FixedNames) SetErrorField(output == obs_file ? "obs_path" : "nav_path");
        return 1;
      }
    }
  }
  return 0;
}

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
                   FileSink* file, std::vector<EphemerisRecord>* records) {
  // Both opens are tried before either result is looked at.
  std::string epp_reason;
  std::FILE* epp = OpenEppFile(epp_file, &epp_reason);
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
  if (!epp && !job.UserMessages) {
    SetErrorText("Error opening input epp file %s", epp_file);
  } else if (!epp) {
    SetErrorText("Cannot open ephemeris file %s: %s", epp_file, epp_reason.c_str());
    SetErrorField("epp_path");
  } else if (!out_open) {
    FailOpening(job, "navigation file", nav.NavFile.c_str(), *file,
                "Error opening ouput nav file %s");
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
    if (converted == 1 && !job.UserMessages) SetErrorText("%s", kInvalidEppHeader);
    if (converted == 1 && job.UserMessages) {
      SetErrorText("Ephemeris file %s is not an EPP file (no $EPHREC header)", epp_file);
      SetErrorField("epp_path");
    }
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
    FailWriting(job, nav.NavFile.c_str(), *file, &chain);
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
    FailOpening(job, "observation file", obs.ObsFile.c_str(), *file,
                "Error opening obs file %s.");
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
    FailWriting(job, obs.ObsFile.c_str(), *file, &chain);
    return 1;
  }
  return 0;
}

// Replaces the file name part of path (after the last separator) by name;
// 1 (path unchanged) when the result would not fit the job's path limit.
int ReplaceFileName(const ConversionJob& job, std::string* path, const char* name) {
  const std::string replaced = FolderOf(path->c_str(), PathRule::kEitherSlash) + name;
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
  // The observation file first: a refused call names it before the
  // navigation file.
  if (check_rinex) {
    paths.push_back(job.Obs.ObsFile.c_str());
    paths.push_back(job.Nav.NavFile.c_str());
  }
  if (qc)
    for (int i = 0; i < kQcFiles; ++i) paths.push_back(qc->Path[i]);
  std::vector<bool> exists(paths.size());
  bool all = !paths.empty();
  const char* first = nullptr;
  for (size_t i = 0; i < paths.size(); ++i) {
    // No navigation file (no EPP file): nothing to find.
    exists[i] = *paths[i] != '\0' && PathExists(paths[i]);
    all = all && (exists[i] || *paths[i] == '\0');
    if (exists[i] && !first) first = paths[i];
  }
  if (job.Existing == OutputPolicy::kRefuse) {
    if (first) {
      SetErrorText("Output file %s exists", first);
      SetErrorField("existing");
      return kConversionExists;
    }
    return kConversionOk;
  }
  size_t next = 0;
  if (check_rinex) {
    *skip_obs = exists[next++];
    *skip_nav = exists[next++];
  }
  if (qc)
    for (int i = 0; i < kQcFiles; ++i) skip_qc[i] = exists[next++];
  return all ? kConversionSkipped : kConversionOk;
}

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
// copied into the job's result. The reports name the GPB file by its path
// as the caller gave it: d1/x.gpb and d2/x.gpb stay apart.
void RenderQc(ConversionJob& job, QcStep* step) {
  step->Render(job.Obs.GpbFile);
  if (job.QcResult)
    std::snprintf(job.QcResult->Summary, sizeof job.QcResult->Summary, "%s",
                  step->Summary().c_str());
  if (job.UserMessages)
    for (const std::string& line : step->Warnings()) job.Warnings += "Quality check: " + line + "\n";
}

void PrepareStation(const ConversionJob& job, const ObsHeaderSummary& summary, QcStep* step) {
  qc::QcMetadata facts;
  const HeaderMetadata* metadata = job.Edits ? job.Edits->Metadata : nullptr;
  if (metadata && metadata->HasPosition) {
    facts.HasHeaderPosition = true;
    facts.HeaderPosition.X = metadata->Position[0];
    facts.HeaderPosition.Y = metadata->Position[1];
    facts.HeaderPosition.Z = metadata->Position[2];
  } else if (summary.ApproxX != 0.0 || summary.ApproxY != 0.0 || summary.ApproxZ != 0.0) {
    facts.HasHeaderPosition = true;
    facts.HeaderPosition.X = summary.ApproxX;
    facts.HeaderPosition.Y = summary.ApproxY;
    facts.HeaderPosition.Z = summary.ApproxZ;
  }
  facts.ReceiverText = summary.ReceiverText;
  if (metadata) facts.HeaderAntenna = metadata->AntennaType;
  facts.Reference = job.Reference;
  step->SetStation(facts);
  if (job.PositionFromData && job.PositionFromData->Solved) step->SetDataPosition(job.PositionFromData->Result);
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

void FailUndated(const ConversionJob& job, const char* epp_file) {
  if (!job.UserMessages) {
    SetErrorText(kUndatedMessage, epp_file);
    return;
  }
  SetErrorText("No usable ephemeris record in %s to date the recording; give a GPS week or a day "
               "of the recording",
               epp_file);
}

bool IsFolder(const char* path) {
  struct stat st;
  return path != nullptr && *path != '\0' && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string InputProblem(const char* path) {
  InputFile file;
  return file.Open(path) ? std::string() : file.Reason();
}

void FailOpening(const ConversionJob& job, const char* what, const char* path,
                 const FileSink& file, const char* dialog_format) {
  if (!job.UserMessages) {
    SetErrorText(dialog_format, path);
    return;
  }
  // The temporary file beside the output is what failed to open: its
  // folder's fault, or the name's.
  const int error = file.SystemError();
  SetErrorText("Cannot write %s %s: %s", what, path,
               error != 0 ? SystemReason(error).c_str() : "the file cannot be created");
}

void FailWriting(const ConversionJob& job, const char* path, const FileSink& file,
                 const OutputChain* chain) {
  if (!job.UserMessages) {
    SetErrorText("Error writing %s", path);
    return;
  }
  const char* stream = chain ? chain->StreamError() : "";
  const int error = file.SystemError();
  if (*stream != '\0' && error != 0) {
    SetErrorText("Cannot write %s: %s (%s)", path, stream, SystemReason(error).c_str());
  } else if (*stream != '\0') {
    SetErrorText("Cannot write %s: %s", path, stream);
  } else {
    SetErrorText("Cannot write %s: %s", path,
                 error != 0 ? SystemReason(error).c_str() : "the output could not be completed");
  }
}

namespace {

// "2005-04-02 00:59:30": whole seconds, as a receiver's clock offset of a
// few milliseconds is no part of the time a user names; tenths for data of
// more than one epoch a second.
std::string TimeText(int week, double time_of_week) {
  const double whole = std::floor(time_of_week + 0.5);
  const bool round = std::fabs(time_of_week - whole) < 0.05;
  const EpochDate d = DateOfGpsTime(week, round ? whole : time_of_week);
  char text[48];
  if (round) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d.Year, d.Month, d.Day,
                  d.Hour, d.Minute, static_cast<int>(d.Seconds));
  } else {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%04.1f", d.Year, d.Month, d.Day,
                  d.Hour, d.Minute, d.Seconds);
  }
  return text;
}

}  // namespace

bool CheckSomethingKept(const ConversionJob& job, const WeekReference& ref,
                        const ObsHeaderSummary& summary) {
  if (!job.UserMessages || SelectionOf(job) == nullptr || summary.EpochCount > 0) return true;
  // The recording's own span, for the message: a pass without the selection.
  std::unique_ptr<ObsHeaderSummary> whole(new ObsHeaderSummary());
  const ReadingPass pass = PassOf(job);
  ScanObsSummary(job.Obs, whole.get(), ref, ObsEdits{}, &pass);
  std::string span = "the recording holds no epoch";
  if (whole->EpochCount > 0) {
    span = "the recording spans " +
           TimeText(ReferenceWeekOf(ref, whole->FirstObsTime), whole->FirstObsTime) + " to " +
           TimeText(ReferenceWeekOf(ref, whole->LastObsTime), whole->LastObsTime);
  }
  SetErrorText("No epoch kept: %s; %s", job.SelectionText.c_str(), span.c_str());
  return false;
}

bool CheckStationFile(const ConversionJob& job) {
  if (job.Station != kStationFile) return true;
  const char* path = job.StationPath.c_str();
  if (!job.UserMessages) {
    if (PathExists(path)) return true;
    SetErrorText("Error opening station file %s", path);
    return false;
  }
  SetErrorField("station_path");
  const std::string problem = InputProblem(path);
  if (!problem.empty()) {
    SetErrorText("Cannot open station file %s: %s", path, problem.c_str());
    return false;
  }
  StationTable table;
  if (table.LoadFile(path) == 0) {
    std::string why = table.Message();
    if (why.compare(0, 19, "No station records ") == 0) why.clear();
    SetErrorText("Station file %s holds no station record%s%s", path, why.empty() ? "" : ": ",
                 why.c_str());
    return false;
  }
  SetErrorField("");
  return true;
}

int RunFlow(ConversionFlow& flow, const ConversionJob& job) {
  int result = flow.Plan();
  if (result != kConversionOk) return result;
  if (job.PlanOnly) return flow.FinishPlanOnly();
  result = flow.ApplyPolicy();
  if (result != kConversionOk) return result;
  result = flow.Write();
  if (result != kConversionOk) return result;
  // Every output is complete: all go into place together, or none.
  OutputSet set;
  flow.AddOutputs(&set);
  result = CommitOutputs(&set, job);
  if (result == kConversionOk) flow.Committed();
  return result;
}

}  // namespace steps
}  // namespace rawconv
