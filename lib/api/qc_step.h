// The quality check of a conversion: a QcObserver fed as the reading pass's
// epoch observer (ReadingPass::Observer) during the writing pass (or a reading pass of its own when
// no RINEX is written), and its three report files written whole or not at
// all beside the RINEX outputs.
//
//   QcStep step(mask);
//   step.Prepare(epp_file, summary);      // ephemerides, approximate position
//   pass.Observer = &step; ...pass over the epochs...
//   step.Render(name);                    // summary line and report texts
//   step.Open(paths, policy) / Write() / Commit() or Abort()
#ifndef RAWCONV_API_QC_STEP_H_
#define RAWCONV_API_QC_STEP_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "obs/obs_writer.h"
#include "qc/qc.h"
#include "sink/sink.h"

namespace rawconv {

enum class QcMode { kNone, kWith, kOnly };

// The report files of one check, in the order text, JSON, HTML.
constexpr int kQcFiles = 3;
constexpr size_t kQcPathSize = 4096;
constexpr size_t kQcLineSize = 1024;

struct QcPaths {
  char Path[kQcFiles][kQcPathSize];
};

// What a check did, for the caller's report.
struct QcFacts {
  char Summary[kQcLineSize];  // the one-line summary, empty before the check ran
  QcPaths Paths;              // as written or planned; empty without a check
  int32_t Skipped;            // every report file existed and was left alone
};

// Names the three report files "<stem>.qc.txt", ".qc.json", ".qc.html" in
// `folder` (empty: no folder part). false when a path would not fit.
bool MakeQcPaths(const char* folder, const char* stem, QcPaths* paths);



class QcStep final : public EpochObserver {
 public:
  explicit QcStep(double elevation_mask);

  // Loads the EPP file's ephemerides (a file that cannot be read leaves the
  // check without azimuths and elevations) and takes the pre-scan's mean
  // position when it has one (else the check takes the first valid epoch
  // position of the data).
  void Prepare(const char* epp_file, double x, double y, double z);
  // The same with the records already read (by the navigation step).
  void Prepare(const std::vector<EphemerisRecord>& records, double x, double y, double z);

  // What the reports compare the data with (qc::QcObserver::SetStation),
  // and the position from the data when the pre-scan found it already.
  void SetStation(const qc::QcMetadata& facts) { observer_.SetStation(facts); }
  void SetDataPosition(const qc::DataPosition& position) { observer_.SetDataPosition(position); }

  void Observe(const GpbEpoch& epoch, const GpbChannel* channels, int week) override;

  // Ends the check and renders the summary line and the three texts; the
  // name is what the reports call the recording.
  void Render(const std::string& name);
  const std::string& Summary() const { return line_; }
  // The station warnings of the rendered check (qc/metadata.h), one line
  // each without a line end.
  const std::vector<std::string>& Warnings() const { return warnings_; }

  // Writes the rendered texts to temporary files of the three paths;
  // skip[i] leaves file i out. false with a message in the error text when
  // one cannot be written; nothing stays behind then. sync: flushed to the
  // disk before they are closed (FileSink::SetSync).
  bool Write(const QcPaths& paths, const bool skip[kQcFiles], ExistingFile existing,
             bool sync = true);
  // Adds the written files to the call's output set, which puts them in
  // place together with the RINEX files.
  void AddTo(OutputSet* set);
  void Abort();

 private:
  qc::QcObserver observer_;
  std::string line_;
  std::vector<std::string> warnings_;
  std::string texts_[kQcFiles];
  FileSink files_[kQcFiles];
  bool open_[kQcFiles] = {};
};

}  // namespace rawconv

#endif  // RAWCONV_API_QC_STEP_H_
