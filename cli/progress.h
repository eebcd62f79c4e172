// The progress line of gpb2rinex on a terminal: files done of the batch,
// throughput and the time left, redrawn in place on standard error.
#ifndef RAWCONV_CLI_PROGRESS_H_
#define RAWCONV_CLI_PROGRESS_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace gpb2rinex {

// One file's share of the work, updated by its converting thread through the
// library's progress callback and read by the printing thread.
struct FileProgress {
  std::atomic<uint64_t> done{0};
  std::atomic<uint64_t> total{0};
  std::atomic<bool> finished{false};
};

class ProgressLine {
 public:
  // sizes: bytes of every GPB file of the batch (0 when unknown). The line
  // is shown only when `enabled` and the batch has several files or a large
  // one.
  ProgressLine(std::FILE* stream, bool enabled, const std::vector<uint64_t>& sizes);

  FileProgress& File(size_t index) { return files_[index]; }

  // Redraws the line when it is due (at most a few times a second, and not
  // in the first moments of a run, so short runs never show one).
  void Tick(size_t files_done);
  // Removes the line before a result line is printed.
  void Clear();

 private:
  std::string Text(size_t files_done, double seconds) const;

  std::FILE* stream_;
  bool enabled_;
  std::vector<uint64_t> sizes_;
  uint64_t total_bytes_ = 0;
  std::unique_ptr<FileProgress[]> files_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  size_t drawn_width_ = 0;
};

// "1:05", "12:00:07".
std::string FormatDuration(double seconds);

}  // namespace gpb2rinex

#endif  // RAWCONV_CLI_PROGRESS_H_
