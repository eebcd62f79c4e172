#include "api/qc_step.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "api/context.h"
#include "io/input_file.h"
#include "naming/path.h"
#include "qc/qc_report.h"

namespace rawconv {

namespace {

const char* const kQcExtensions[kQcFiles] = {".qc.txt", ".qc.json", ".qc.html"};

}  // namespace

bool MakeQcPaths(const char* folder, const char* stem, QcPaths* paths) {
  for (int i = 0; i < kQcFiles; ++i) {
    const std::string name = std::string(stem) + kQcExtensions[i];
    const std::string path = JoinPath(folder, name.c_str(), PathRule::kEitherSlash);
    if (path.size() >= kQcPathSize) {
      paths->Path[i][0] = '\0';
      return false;
    }
    std::memcpy(paths->Path[i], path.c_str(), path.size() + 1);
  }
  return true;
}

namespace {

qc::QcOptions MaskOptions(double elevation_mask) {
  qc::QcOptions options;
  options.ElevationMask = elevation_mask;
  return options;
}

}  // namespace

QcStep::QcStep(double elevation_mask) : observer_(MaskOptions(elevation_mask)) {}

void QcStep::Prepare(const char* epp_file, double x, double y, double z) {
  std::vector<EphemerisRecord> records;
  std::string error;
  if (!qc::LoadEphemerides(epp_file, &records, &error)) records.clear();
  Prepare(records, x, y, z);
}

void QcStep::Prepare(const std::vector<EphemerisRecord>& records, double x, double y, double z) {
  if (!records.empty()) observer_.SetEphemerides(records);
  // The pre-scan gives 0, 0, 0 when no epoch had a usable position.
  if (x != 0.0 || y != 0.0 || z != 0.0) {
    qc::Vec3 position;
    position.X = x;
    position.Y = y;
    position.Z = z;
    observer_.SetPosition(position);
  }
}

void QcStep::Observe(const GpbEpoch& epoch, const GpbChannel* channels, int week) {
  observer_.AddEpoch(epoch, channels, week);
}

void QcStep::Render(const std::string& name) {
  qc::QcSummary summary;
  observer_.Finish(&summary);
  line_ = qc::QcOneLine(summary, name);
  warnings_ = summary.Metadata.Warnings;
  const std::string text = qc::QcText(summary, name);
  texts_[0] = line_ + "\n\n" + text;
  texts_[1] = qc::QcJson(summary, name);
  texts_[2] = qc::QcHtml(summary, name, text);
}

bool QcStep::Write(const QcPaths& paths, const bool skip[kQcFiles], ExistingFile existing,
                   bool sync) {
  for (int i = 0; i < kQcFiles; ++i) {
    if (skip[i]) continue;
    files_[i].DeferCommit();
    files_[i].SetSync(sync);
    open_[i] = true;
    if (!files_[i].Open(paths.Path[i], existing)) {
      SetErrorText("Cannot write quality report %s: %s", paths.Path[i],
                   SystemReason(files_[i].SystemError()).c_str());
      Abort();
      return false;
    }
    if (!files_[i].Write(texts_[i].data(), texts_[i].size()) || !files_[i].Finish()) {
      SetErrorText("Cannot write %s: %s", paths.Path[i], SystemReason(files_[i].SystemError()).c_str());
      Abort();
      return false;
    }
  }
  return true;
}

void QcStep::AddTo(OutputSet* set) {
  for (int i = 0; i < kQcFiles; ++i)
    if (open_[i]) set->Add(&files_[i]);
}

void QcStep::Abort() {
  for (int i = 0; i < kQcFiles; ++i) {
    if (open_[i]) files_[i].Abort();
    open_[i] = false;
  }
}

}  // namespace rawconv
