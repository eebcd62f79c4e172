#include "progress.h"

#include <cmath>

namespace gpb2rinex {
namespace {

// A single file this large gets a progress line of its own.
constexpr uint64_t kLargeFile = 64ull << 20;
// No line before this many seconds of a run, and at most one redraw per
// kRedrawSeconds.
constexpr double kFirstDrawSeconds = 0.5;
constexpr double kRedrawSeconds = 0.25;

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

std::string FormatDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  if (seconds > 359999) seconds = 359999;  // 99:59:59
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

ProgressLine::ProgressLine(std::FILE* stream, bool enabled, const std::vector<uint64_t>& sizes)
    : stream_(stream),
      enabled_(enabled),
      sizes_(sizes),
      files_(new FileProgress[sizes.size() ? sizes.size() : 1]),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {
  bool large = false;
  for (uint64_t s : sizes_) {
    total_bytes_ += s;
    if (s >= kLargeFile) large = true;
  }
  if (sizes_.size() < 2 && !large) enabled_ = false;
}

std::string ProgressLine::Text(size_t files_done, double seconds) const {
  // Bytes of the GPB files worked through: whole files for the finished,
  // the fraction the callback reported for those under way.
  double bytes = 0;
  for (size_t i = 0; i < sizes_.size(); ++i) {
    if (files_[i].finished.load(std::memory_order_relaxed)) {
      bytes += static_cast<double>(sizes_[i]);
      continue;
    }
    const uint64_t total = files_[i].total.load(std::memory_order_relaxed);
    const uint64_t done = files_[i].done.load(std::memory_order_relaxed);
    if (total > 0 && done <= total)
      bytes += static_cast<double>(sizes_[i]) * static_cast<double>(done) / static_cast<double>(total);
  }
  const double rate = seconds > 0 ? bytes / seconds : 0;
  char text[160];
  int n = std::snprintf(text, sizeof text, "%zu of %zu files, %.1f MB/s", files_done, sizes_.size(),
                        rate / 1e6);
  if (rate > 0 && n > 0 && static_cast<size_t>(n) < sizeof text) {
    const double left = (static_cast<double>(total_bytes_) - bytes) / rate;
    std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ", %s left",
                  FormatDuration(left).c_str());
  }
  return text;
}

void ProgressLine::Tick(size_t files_done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (Seconds(now - start_) < kFirstDrawSeconds) return;
  if (drawn_width_ > 0 && Seconds(now - last_draw_) < kRedrawSeconds) return;
  last_draw_ = now;
  const std::string text = Text(files_done, Seconds(now - start_));
  // Pad over the rest of a longer previous line.
  const size_t width = text.size() < drawn_width_ ? drawn_width_ : text.size();
  std::fprintf(stream_, "\r%-*s", static_cast<int>(width), text.c_str());
  std::fflush(stream_);
  drawn_width_ = text.size();
}

void ProgressLine::Clear() {
  if (drawn_width_ == 0) return;
  std::fprintf(stream_, "\r%*s\r", static_cast<int>(drawn_width_), "");
  std::fflush(stream_);
  drawn_width_ = 0;
}

}  // namespace gpb2rinex
