// Conversions into one observation file per span of GPS time.
#include "api/conversion_steps.h"

namespace rawconv {
namespace steps {
namespace {

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
      FailOpening(job_, "observation file", o->Path.c_str(), o->File, "Error opening obs file %s.");
      failed_ = true;
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
    } else if (!failed_) {
      FailWriting(job_, current_->Path.c_str(), current_->File, chain_.get());
      failed_ = true;
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
  const std::string folder = FolderOf(job.Obs.ObsFile.c_str(), PathRule::kEitherSlash);
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
  if (!job.Nav.NavFile.empty())
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
  std::unique_ptr<qc::PositionSolver> solver;
  if (!StartDataPosition(job, &solver)) return kConversionFailed;
  SolverObserver feed(solver.get());
  const ReadingPass scan_pass = PassOf(job, solver ? &feed : nullptr);
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
  if (!CheckSomethingKept(job, ref, *out->Whole)) return kConversionFailed;
  if (!FinishDataPosition(job, solver.get())) return kConversionFailed;
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
        job.QcDir && *job.QcDir ? std::string(job.QcDir) : FolderOf(nav_path, PathRule::kEitherSlash);
    if (!MakeQcPaths(folder.c_str(), InputStemOf(gpb_file).c_str(), &out->QcPathSet)) {
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
  if (!CheckStationFile(job)) return kConversionFailed;
  // Without an EPP file there is no navigation file.
  if (job.ObsOnly) job.Nav.NavFile.clear();
  return kConversionOk;
}

// The existing-output policy, for every file of the call. kConversionSkipped
// when every one exists and is left alone.
int ApplySplitPolicy(ConversionJob& job, const WeekReference& ref, SplitOutputs* out) {
  if (job.Existing == OutputPolicy::kReplace) return kConversionOk;
  // The observation files first: a refused call names one of them before
  // the navigation file.
  std::vector<const char*> paths;
  for (const auto& o : out->Files) paths.push_back(o->Path.c_str());
  paths.push_back(job.Nav.NavFile.c_str());
  if (out->WithQc)
    for (int i = 0; i < kQcFiles; ++i) paths.push_back(out->QcPathSet.Path[i]);
  std::vector<bool> exists(paths.size());
  bool all = true;
  for (size_t i = 0; i < paths.size(); ++i) {
    // No navigation file (no EPP file): nothing to find.
    exists[i] = *paths[i] != '\0' && PathExists(paths[i]);
    all = all && (exists[i] || *paths[i] == '\0');
    if (exists[i] && job.Existing == OutputPolicy::kRefuse) {
      SetErrorText("Output file %s exists", paths[i]);
      SetErrorField("existing");
      return kConversionExists;
    }
  }
  size_t next = 0;
  bool all_obs = !out->Files.empty();
  for (auto& o : out->Files) {
    o->Skip = exists[next++];
    all_obs = all_obs && o->Skip;
  }
  out->SkipNav = exists[next++];
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
  out->NavFile = (out->SkipNav || job.ObsOnly) ? nullptr : &out->NavOut;
  std::vector<EphemerisRecord> ephemerides;
  if (!job.ObsOnly && NavigationStep(job.Nav, job.Nav.EppFile.c_str(), job, out->NavFile,
                                     out->WithQc ? &ephemerides : nullptr) != 0)
    return kConversionFailed;
  out->Checking = out->WithQc && !AllSkipped(out->SkipQc);
  if (out->Checking) {
    step->Prepare(ephemerides, out->Whole->ApproxX, out->Whole->ApproxY, out->Whole->ApproxZ);
    PrepareStation(job, *out->Whole, step);
  }
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

class SplitFlow final : public ConversionFlow {
 public:
  SplitFlow(ConversionJob& job, const WeekReference& ref, uint64_t gpb_size)
      : job_(job), ref_(ref), size_(gpb_size), step_(job.ElevationMask) {}

  int Plan() override {
    const char* const epp_file = job_.Nav.EppFile.c_str();
    if (job_.FixedNames) {
      SetErrorText("Splitting names its outputs: it cannot write to a fixed observation path");
      return kConversionFailed;
    }
    if (!IsUsable(ref_)) {
      // The EPP file's own fault first, as an unsplit conversion reports it.
      if (NavigationStep(job_.Nav, epp_file, job_, nullptr) == 0)
        FailUndated(job_, epp_file);
      return kConversionFailed;
    }
    const int result = PrescanSpans(job_, ref_, &out_);
    return result == kConversionOk ? PlanSpans(job_, ref_, &out_) : result;
  }

  int FinishPlanOnly() override {
    FillFacts(job_.Facts, *out_.Whole, ref_);
    if (job_.Facts) {
      job_.Facts->EpochsWritten = 0;
      job_.Facts->ObsFiles = static_cast<uint32_t>(out_.Files.size());
    }
    ListOutputs(job_, out_.Files, out_.WithQc, out_.QcPathSet, out_.SkipQc, false);
    return kConversionOk;
  }

  int ApplyPolicy() override { return ApplySplitPolicy(job_, ref_, &out_); }
  int Write() override { return WriteSpans(job_, ref_, size_, &step_, &out_); }

  void AddOutputs(OutputSet* set) override {
    set->Add(out_.NavFile);
    if (out_.Checking) step_.AddTo(set);
    for (auto& o : out_.Files)
      if (!o->Skip && o->Written) set->Add(&o->File);
  }

  void Committed() override {
    ListOutputs(job_, out_.Files, out_.WithQc, out_.QcPathSet, out_.SkipQc, out_.SkipNav);
  }

 private:
  ConversionJob& job_;
  const WeekReference& ref_;
  const uint64_t size_;
  SplitOutputs out_;
  QcStep step_;
};

}  // namespace

int RunSplit(ConversionJob& job, const WeekReference& ref, uint64_t gpb_size) {
  SplitFlow flow(job, ref, gpb_size);
  return RunFlow(flow, job);
}

}  // namespace steps
}  // namespace rawconv
