// The steps the conversion flows share: the week reference, naming and
// checking the outputs, the navigation and observation steps, the
// existing-output policy, the check's reports and the commit. The flows
// themselves are in conversion.cpp (one observation file; the check alone)
// and conversion_split.cpp (one observation file per span). Internal to
// lib/api.
#ifndef RAWCONV_API_CONVERSION_STEPS_H_
#define RAWCONV_API_CONVERSION_STEPS_H_

#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "api/context.h"
#include "api/conversion.h"
#include "api/file_identity.h"
#include "ephem/epp.h"
#include "ephem/gps_time.h"
#include "ephem/nav3_writer.h"
#include "ephem/nav_writer.h"
#include "gpb/gpb.h"
#include "naming/file_ext.h"
#include "naming/path.h"
#include "obs/obs_writer.h"
#include "obs/rinex3_obs.h"
#include "obs/rinex_format.h"
#include "obs/rinex_versions.h"
#include "obs/station_table.h"
#include "sink/chain.h"
#include "sink/sink.h"

namespace rawconv {
namespace steps {

// The room for one file name made by the naming module (file systems take
// 255 bytes; a longer name fails when its file is opened).
constexpr size_t kNameSize = 4096;

// True when path fits the job's path limit (see ConversionJob::PathLimit).
bool FitsLimit(const ConversionJob& job, const std::string& path);

// Closes a stream if it is open.
void CloseStream(std::FILE*& stream);

// The week reference of the conversion: the reference ephemeris of the EPP
// file, looked up once. Without one, a week override stands in for it (its
// week is then used as it is for every date of the call); without either the
// reference is unusable and no date can be given to the data.
// A day given by the caller (job.DateRef) stands in for the EPP file's
// reference, and the week override for both.
WeekReference ConversionWeekReference(const ConversionJob& job);

bool IsUsable(const WeekReference& ref);

// Puts every file of the call in place, or none (OutputSet), unless the
// caller's progress callback cancels the call during the commit. The result
// code, with the message of a failure.
int CommitOutputs(OutputSet* set, const ConversionJob& job);

// The edits the RINEX 2 writers are handed: the job's, with its satellite
// naming. A zero record writes as none.
ObsEdits Rinex2Edits(const ConversionJob& job);

// The edits the RINEX 3 writers are handed: the job's, with the session's
// number formatting. A zero record writes as none.
ObsEdits Rinex3Edits(const ConversionJob& job);

const Selection* SelectionOf(const ConversionJob& job);

bool PassProgress(void*, uint64_t bytes);

// The clock of the call's run dates: the session's fixed one, else the
// writers' default.
RunClock ClockOf();

// A reading pass of the job: its station source, helper threads and
// progress from the call's context; observer (null for none) sees the kept
// epochs.
ReadingPass PassOf(const ConversionJob& job, EpochObserver* observer = nullptr);

// Keeps the facts of a writing pass for the call's report.
void KeepPassFacts(const ReadingPass& pass);

// The pre-scan of the job: over the epochs, satellites and types its edits
// keep. False (with the message) when a type asked for is not in the data.
bool Prescan(const ConversionJob& job, const WeekReference& ref, ObsHeaderSummary* summary);

// Output naming: both extensions become ".YY" + "o"/"n" after the year of the
// first epoch. Returns 0, or 1 with a message when a path cannot hold its
// new extension.
int NameOutputs(ConversionJob& job, const WeekReference& ref, double first_rcv_time);

// Refuses outputs that would destroy data before anything is opened for
// writing: an output that is one of the call's inputs (the GPB file, the EPP
// file, the station file beside the GPB file), by file identity, so that a
// hard link or another spelling of the path is caught too, or an
// observation output that is the navigation output. 0 when both outputs
// are safe to write; 1 with a message otherwise.
int CheckOutputs(const ConversionJob& job, const char* obs_file, const char* nav_file,
                 const char* gpb_file,
                 const char* epp_file);

// A sink that takes everything and keeps nothing: the navigation step of a
// call whose navigation output cannot be named still reads the EPP file.
class DiscardSink final : public Sink {
 public:
  bool Write(const char*, size_t) override { return true; }
  bool Finish() override { return true; }
  void Abort() override {}
};

bool IsRinex3(int rinex_version);

// The version line of a RINEX 2 navigation file: 2.11 with 2.11
// observation files, else 2.10 (the 2.00 observation file's too).
double Nav2Version(int rinex_version);

// Opens the temporary file of an output. Messages as the steps give them.
bool OpenOutput(FileSink* file, const char* path, const ConversionJob& job);

// Navigation step: EPP file -> RINEX navigation file.
// `file` is null when the output is not to be written (no name, or an
// existing output that is skipped); the EPP file is then read all the same.
// The records read are kept in *records when it is given (for the check).
int NavigationStep(const NavInput& nav, const char* epp_file, const ConversionJob& job,
                   FileSink* file, std::vector<EphemerisRecord>* records = nullptr);

// Observation step: pre-scan (unless *scanned), header and epochs of the
// GPB file into `file` (its temporary file, not yet moved into place).
// observer (null for none) sees every epoch written.
int ObservationStep(const ConversionJob& job, const WeekReference& ref, FileSink* file,
                    ObsHeaderSummary* summary, bool scanned, uint64_t gpb_size,
                    EpochObserver* observer);

// Replaces the file name part of path (after the last separator) by name;
// 1 (path unchanged) when the result would not fit the job's path limit.
int ReplaceFileName(const ConversionJob& job, std::string* path, const char* name);

// What the naming module needs of the job and of a first date.
NamingInput NamingInputOf(const ConversionJob& job, const EpochDate& first);

// Names both outputs through the naming module, from the pre-scan's facts.
int NameOutputsByStyle(ConversionJob& job, const WeekReference& ref,
                       const ObsHeaderSummary& summary);

// Output paths that exist already, under the job's policy: kConversionOk to
// go on (with *skip_obs / *skip_nav / skip_qc[] set for outputs left alone),
// or kConversionExists / kConversionSkipped with nothing to write. The
// RINEX outputs take part unless check_rinex is false; the report files
// when qc is not null.
int ApplyExistingPolicy(const ConversionJob& job, bool check_rinex, const QcPaths* qc,
                        bool* skip_obs, bool* skip_nav, bool skip_qc[kQcFiles]);

// A reading pass that writes nothing: the epochs go to the context's
// observer only.
class IgnoreEpochs final : public EpochVisitor {
 public:
  void StationBlock(const EpochDate&, const StationEvent&) override {}
  void KinematicEvent(const EpochDate&, int, int, const char*) override {}
  void Epoch(const EpochDate&, const GpbEpoch&, const GpbChannel*) override {}
};

// The report files must not name an input of the call or a RINEX output.
int CheckQcOutputs(const QcPaths& paths, const char* const* others, size_t count);

bool AllSkipped(const bool skip[kQcFiles]);

void CopyQcPaths(const ConversionJob& job, const QcPaths& paths);

// The quality check's pre-scan and report names; the one-line summary is
// copied into the job's result and the check's station warnings into the
// job's warnings ("Quality check: ..." lines).
void RenderQc(ConversionJob& job, QcStep* step);

// Hands the check what it compares the data with: APPROX POSITION XYZ as
// the header has it (the job's metadata, else the pre-scan's mean), the GPB
// file's receiver text, the header's antenna, the job's reference, and the
// position from the data when the pre-scan found it.
void PrepareStation(const ConversionJob& job, const ObsHeaderSummary& summary, QcStep* step);

// The position from the data in a pre-scan (job.PositionFromData, not yet
// solved): StartDataPosition loads the ephemerides and makes the solver
// (none when there is nothing to solve), the pre-scan feeds it, and
// FinishDataPosition puts its mean into the request's metadata. false with
// the message (error field "position_source").
bool StartDataPosition(const ConversionJob& job, std::unique_ptr<qc::PositionSolver>* solver);
bool FinishDataPosition(const ConversionJob& job, const qc::PositionSolver* solver);

// The solver fed by a pre-scan's pass (ReadingPass::Observer).
class SolverObserver final : public EpochObserver {
 public:
  explicit SolverObserver(qc::PositionSolver* solver) : solver_(solver) {}
  void Observe(const GpbEpoch& epoch, const GpbChannel* channels, int week) override {
    solver_->AddEpoch(epoch, channels, week);
  }

 private:
  qc::PositionSolver* solver_;
};

ExistingFile FilePolicy(OutputPolicy policy);

void FillFacts(ConversionFacts* facts, const ObsHeaderSummary& summary, const WeekReference& ref);

// ---- Messages of the newer interfaces (ConversionJob::UserMessages) ----

// True when path names a folder.
bool IsFolder(const char* path);

// Why an input file cannot be read, as the input opener words it ("it is a
// folder", "damaged gzip data", or the system's reason such as "No such
// file or directory"); "" when it opens.
std::string InputProblem(const char* path);

// Sets the message of an output that could not be opened: the dialog's
// text (dialog_format, with the path) or "Cannot write <what> PATH: reason".
void FailOpening(const ConversionJob& job, const char* what, const char* path,
                 const FileSink& file, const char* dialog_format);

// Sets the message of an output that failed while written or finished:
// "Error writing PATH" for the dialog, else "Cannot write PATH: reason",
// the reason being the Compact RINEX encoder's or compressor's own account
// (chain may be null) and the system's.
void FailWriting(const ConversionJob& job, const char* path, const FileSink& file,
                 const OutputChain* chain);

// With UserMessages and a selection: false (with the message naming the
// selection and the recording's span) when summary holds no kept epoch.
bool CheckSomethingKept(const ConversionJob& job, const WeekReference& ref,
                        const ObsHeaderSummary& summary);

// A station file the caller named must be there and hold station records
// (the dialog's check: it must exist). false with the message.
bool CheckStationFile(const ConversionJob& job);

constexpr const char* kUndatedMessage =
    "No usable ephemeris record in %s: the GPS week of the data is unknown";

// Sets kUndatedMessage; the newer interfaces add how to mend it.
void FailUndated(const ConversionJob& job, const char* epp_file);

// One call's flow. The kinds of call (one observation file, one file per
// span, the check alone) differ in what they plan and write, never in the
// order of the steps or in the commit: RunFlow drives every kind.
class ConversionFlow {
 public:
  virtual ~ConversionFlow() = default;
  // Names every output and checks the outputs against the inputs and each
  // other. kConversionOk when the call may go on.
  virtual int Plan() = 0;
  // A plan-only call ends after the plan: the facts it can give, or the
  // failure the conversion would meet first.
  virtual int FinishPlanOnly() = 0;
  // The existing-output policy over every planned output; kConversionSkipped
  // when every output is left alone.
  virtual int ApplyPolicy() = 0;
  // Writes every output into its temporary file; on failure nothing of the
  // call stays behind.
  virtual int Write() = 0;
  // Adds every written file to the call's output set.
  virtual void AddOutputs(OutputSet* set) = 0;
  // After every output went into place.
  virtual void Committed() {}
};

// Plan, (plan only: stop), existing-output policy, write, commit. The
// result code of the call.
int RunFlow(ConversionFlow& flow, const ConversionJob& job);

// The conversion into one observation file per span of GPS time
// (conversion_split.cpp); the call's first checks are done by the caller.
int RunSplit(ConversionJob& job, const WeekReference& ref, uint64_t gpb_size);

}  // namespace steps
}  // namespace rawconv

#endif  // RAWCONV_API_CONVERSION_STEPS_H_
