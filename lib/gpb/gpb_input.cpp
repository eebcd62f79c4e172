// GpbInput: block reads of a GPB file and the platform calls they need.
#include "gpb/gpb_input.h"

#include <cstring>
#include <new>

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

GpbInput::~GpbInput() { Detach(); }

bool GpbInput::Attach(std::FILE* stream, uint64_t offset) {
  Detach();
  buffer_ = new (std::nothrow) uint8_t[kCapacity];
  if (buffer_ == nullptr) return false;
  stream_ = stream;
  window_offset_ = offset;
  read_size_ = kFirstRead;
#if !defined(_WIN32) && defined(POSIX_FADV_SEQUENTIAL)
  // Larger read-ahead for a file that is not yet in the page cache; only a
  // hint, so its result does not matter.
  (void)posix_fadvise(fileno(stream), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return true;
}

void GpbInput::Detach() {
  delete[] buffer_;
  buffer_ = nullptr;
  stream_ = nullptr;
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

bool GpbInput::Fill(size_t n) {
  if (stream_ == nullptr || n > kMaxTake) {
    short_by_ = end_ - next_;
    next_ = end_;
    return false;
  }
  // The unconsumed tail moves to the front; the window starts there.
  const size_t tail = end_ - next_;
  if (next_ > 0) {
    if (tail > 0) std::memmove(buffer_, buffer_ + next_, tail);
    window_offset_ += next_;
    next_ = 0;
    end_ = tail;
  }
  while (end_ < n && !at_end_) {
    size_t want = read_size_;
    if (want > kCapacity - end_) want = kCapacity - end_;
    const size_t got = std::fread(buffer_ + end_, 1, want, stream_);
    end_ += got;
    // A read error ends the file here, as it ends a short fread.
    if (got < want) at_end_ = true;
    if (read_size_ < kMaxRead) read_size_ *= 2;
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
