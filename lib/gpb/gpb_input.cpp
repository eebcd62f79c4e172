// GpbInput: block reads of a GPB file and the platform calls they need.
#include "gpb/gpb_input.h"

#include <cstring>
#include <new>

#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#endif

#include <sys/stat.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/types.h>
#endif

namespace rawconv {
namespace {

// Room for a full block behind the unconsumed tail of the previous one.
constexpr size_t kCapacity = GpbInput::kMaxRead + GpbInput::kMaxTake;

}  // namespace

#if !defined(_WIN32)
// The read-ahead thread and what it shares with the reader. Everything
// below the mutex is read and written under it.
struct GpbInput::Ahead {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable changed;
  std::FILE* stream = nullptr;
  uint8_t* target = nullptr;  // where the next read goes
  size_t want = 0;
  size_t got = 0;
  bool requested = false;  // a read is asked for or under way
  bool stop = false;

  void Run() {
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
      changed.wait(lock, [this] { return requested || stop; });
      if (!requested) return;
      uint8_t* into = target;
      const size_t size = want;
      lock.unlock();
      const size_t n = std::fread(into, 1, size, stream);
      lock.lock();
      got = n;
      requested = false;
      changed.notify_all();
    }
  }
};
#else
// The Windows build reads in line (its compiler's thread model has no
// std::thread).
struct GpbInput::Ahead {};
#endif

GpbInput::GpbInput() = default;
GpbInput::~GpbInput() { Detach(); }

bool GpbInput::Attach(std::FILE* stream, uint64_t offset, bool read_ahead) {
  Detach();
  memory_[0] = new (std::nothrow) uint8_t[kCapacity];
  if (memory_[0] == nullptr) return false;
  current_ = 0;
  buffer_ = memory_[0];
  stream_ = stream;
  window_offset_ = offset;
  read_size_ = kFirstRead;
  read_ahead_ = read_ahead;
#if !defined(_WIN32) && defined(POSIX_FADV_SEQUENTIAL)
  // Larger read-ahead for a file that is not yet in the page cache; only a
  // hint, so its result does not matter.
  (void)posix_fadvise(fileno(stream), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return true;
}

void GpbInput::Detach() {
#if !defined(_WIN32)
  if (ahead_ != nullptr) {
    WaitAhead();
    {
      std::lock_guard<std::mutex> lock(ahead_->mutex);
      ahead_->stop = true;
      ahead_->changed.notify_all();
    }
    ahead_->thread.join();
  }
#endif
  ahead_.reset();
  delete[] memory_[0];
  delete[] memory_[1];
  memory_[0] = memory_[1] = nullptr;
  buffer_ = nullptr;
  stream_ = nullptr;
  read_ahead_ = false;
  next_ = end_ = 0;
  read_size_ = 0;
  window_offset_ = 0;
  short_by_ = 0;
  at_end_ = false;
}

const uint8_t* GpbInput::Take(size_t n) {
  if (end_ - next_ < n && !Fill(n)) return nullptr;
  const uint8_t* bytes = buffer_ + next_;
  next_ += n;
  return bytes;
}

void GpbInput::StartAhead() {
#if defined(_WIN32)
  read_ahead_ = false;
#else
  if (memory_[1] == nullptr) {
    memory_[1] = new (std::nothrow) uint8_t[kCapacity];
    if (memory_[1] == nullptr) {
      read_ahead_ = false;  // reads stay in line
      return;
    }
  }
  if (ahead_ == nullptr) {
    std::unique_ptr<Ahead> a(new Ahead);
    a->stream = stream_;
    try {
      a->thread = std::thread(&Ahead::Run, a.get());
    } catch (const std::system_error&) {
      read_ahead_ = false;
      return;
    }
    ahead_ = std::move(a);
  }
  // The block goes behind room for the longest tail of the current window.
  std::lock_guard<std::mutex> lock(ahead_->mutex);
  ahead_->target = memory_[current_ ^ 1] + kMaxTake;
  ahead_->want = kMaxRead;
  ahead_->requested = true;
  ahead_->changed.notify_all();
  ahead_pending_ = true;
#endif
}

size_t GpbInput::WaitAhead() {
  if (!ahead_pending_) return 0;
#if defined(_WIN32)
  return 0;
#else
  std::unique_lock<std::mutex> lock(ahead_->mutex);
  ahead_->changed.wait(lock, [this] { return !ahead_->requested; });
  ahead_pending_ = false;
  return ahead_->got;
#endif
}

bool GpbInput::Fill(size_t n) {
  if (stream_ == nullptr || n > kMaxTake) {
    short_by_ = end_ - next_;
    next_ = end_;
    return false;
  }
  const size_t tail = end_ - next_;
  if (ahead_pending_) {
    // The next block is in the other buffer: the unconsumed tail (shorter
    // than n, so at most kMaxTake) goes right in front of it.
    const size_t got = WaitAhead();
    uint8_t* base = memory_[current_ ^ 1] + kMaxTake - tail;
    if (tail > 0) std::memcpy(base, buffer_ + next_, tail);
    window_offset_ += next_;
    current_ ^= 1;
    buffer_ = base;
    next_ = 0;
    end_ = tail + got;
    // A read error ends the file here, as it ends a short fread.
    if (got < kMaxRead) {
      at_end_ = true;
    } else {
      StartAhead();
    }
  } else {
    // The unconsumed tail moves to the front of the buffer in use; the
    // window starts there.
    uint8_t* front = memory_[current_];
    if (buffer_ != front || next_ > 0) {
      if (tail > 0) std::memmove(front, buffer_ + next_, tail);
      window_offset_ += next_;
      buffer_ = front;
      next_ = 0;
      end_ = tail;
    }
    while (end_ < n && !at_end_) {
      size_t want = read_size_;
      if (want > kCapacity - end_) want = kCapacity - end_;
      const size_t got = std::fread(buffer_ + end_, 1, want, stream_);
      end_ += got;
      if (got < want) at_end_ = true;
      if (read_size_ < kMaxRead) read_size_ *= 2;
    }
    // Reads of full size from here on: the next one goes ahead.
    if (read_ahead_ && !at_end_ && read_size_ == kMaxRead) StartAhead();
  }
  if (end_ >= n) return true;
  short_by_ = end_;
  next_ = end_;
  return false;
}

bool GpbInput::Seek(uint64_t offset) {
  if (stream_ == nullptr) return false;
  short_by_ = 0;
  if (offset >= window_offset_ && offset - window_offset_ <= end_) {
    next_ = static_cast<size_t>(offset - window_offset_);
    return true;
  }
  WaitAhead();  // its block is not the one wanted
  if (SeekStream(stream_, offset) != 0) return false;
  window_offset_ = offset;
  next_ = end_ = 0;
  at_end_ = false;
  return true;
}

uint64_t StreamFileSize(std::FILE* stream) {
  if (stream == nullptr) return 0;
#if defined(_WIN32)
  struct _stati64 st;
  if (_fstati64(_fileno(stream), &st) != 0 || st.st_size < 0) return 0;
#else
  struct stat st;
  if (fstat(fileno(stream), &st) != 0 || st.st_size < 0) return 0;
#endif
  return static_cast<uint64_t>(st.st_size);
}

int SeekStream(std::FILE* stream, uint64_t offset) {
#if defined(_WIN32)
  return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0 ? 0 : 1;
#else
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0 ? 0 : 1;
#endif
}

}  // namespace rawconv
