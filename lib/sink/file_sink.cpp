#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "sink/sink.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rawconv {
namespace {

#if defined(_WIN32)
int OpenExclusive(const char* path, bool text) {
  return _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | (text ? _O_TEXT : _O_BINARY),
               _S_IREAD | _S_IWRITE);
}
long WriteSome(int fd, const char* data, size_t length) {
  const unsigned part = length > 0x40000000u ? 0x40000000u : static_cast<unsigned>(length);
  return _write(fd, data, part);
}
int CloseFile(int fd) { return _close(fd); }
int RemoveFile(const char* path) { return DeleteFileA(path) ? 0 : -1; }
unsigned long ProcessId() { return static_cast<unsigned long>(_getpid()); }
#else
int OpenExclusive(const char* path, bool /*text: the same bytes here*/) {
  // 0666 less the umask, as for any file a program creates.
  return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
long WriteSome(int fd, const char* data, size_t length) {
  return static_cast<long>(::write(fd, data, length));
}
int CloseFile(int fd) { return ::close(fd); }
int RemoveFile(const char* path) { return ::unlink(path); }
unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }
#endif

// Six characters for a temporary name: a mix of the process id, a counter
// shared by all sinks of the process and the clock, so that sinks of
// parallel threads and processes rarely meet; O_EXCL settles the rest.
void TempSuffix(char* out, unsigned attempt) {
  static std::atomic<unsigned long> counter{0};
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned long long x = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  x ^= static_cast<unsigned long long>(ProcessId()) << 32;
  x ^= (counter.fetch_add(1) + attempt) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 32;
  for (int i = 0; i < 6; ++i) {
    out[i] = kChars[x % 36];
    x /= 36;
  }
  out[6] = '\0';
}

// Moves the finished temporary file onto its name. 0, or -1 with
// *existed set when the policy refused an existing target.
int MoveIntoPlace(const char* temp, const char* target, ExistingFile existing, bool* existed) {
  *existed = false;
#if defined(_WIN32)
  const DWORD flags = existing == ExistingFile::kReplace ? MOVEFILE_REPLACE_EXISTING : 0;
  if (MoveFileExA(temp, target, flags)) return 0;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) *existed = true;
  return -1;
#else
  if (existing == ExistingFile::kReplace) return ::rename(temp, target) == 0 ? 0 : -1;
  // A hard link never replaces its target: the check and the move are one
  // step. File systems without hard links get the check, then the rename.
  if (::link(temp, target) == 0) {
    ::unlink(temp);
    return 0;
  }
  if (errno == EEXIST) {
    *existed = true;
    return -1;
  }
  if (PathExists(target)) {
    *existed = true;
    return -1;
  }
  return ::rename(temp, target) == 0 ? 0 : -1;
#endif
}

}  // namespace

bool StdioSink::Write(const char* data, size_t length) {
  if (length == 0) return std::ferror(stream_) == 0;
  return std::fwrite(data, 1, length, stream_) == length;
}

bool StdioSink::Finish() { return std::fflush(stream_) == 0 && std::ferror(stream_) == 0; }

bool PathExists(const char* path) {
#if defined(_WIN32)
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
#else
  struct stat st;
  return ::lstat(path, &st) == 0;
#endif
}

FileSink::~FileSink() { Abort(); }

bool FileSink::Open(const char* target, ExistingFile existing, Mode mode) {
  Abort();
  failed_ = false;
  target_existed_ = false;
  written_ = 0;
  existing_ = existing;
  const size_t length = std::strlen(target);
  // Room for the ".part-XXXXXX" suffix and the terminator.
  if (length == 0 || length + 13 >= kPathMax) return false;
  std::memcpy(target_, target, length + 1);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    char suffix[8];
    TempSuffix(suffix, attempt);
    // "<target>.part-XXXXXX": the length was checked above.
    std::memcpy(temp_, target_, length);
    std::memcpy(temp_ + length, ".part-", 6);
    std::memcpy(temp_ + length + 6, suffix, 7);
    fd_ = OpenExclusive(temp_, mode == Mode::kText);
    if (fd_ >= 0) return true;
    if (errno != EEXIST) break;
  }
  temp_[0] = '\0';
  return false;
}

bool FileSink::Write(const char* data, size_t length) {
  if (fd_ < 0 || failed_) return false;
  while (length > 0) {
    const long n = WriteSome(fd_, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      return false;
    }
    data += n;
    length -= static_cast<size_t>(n);
    written_ += static_cast<uint64_t>(n);
  }
  return true;
}

bool FileSink::Finish() {
  if (fd_ < 0) return false;
  const bool close_failed = CloseFile(fd_) != 0;
  fd_ = -1;
  if (failed_ || close_failed) {
    failed_ = true;
    Abort();
    return false;
  }
  return defer_commit_ ? true : Commit();
}

bool FileSink::Commit() {
  if (fd_ >= 0 || failed_ || temp_[0] == '\0') return false;
  if (MoveIntoPlace(temp_, target_, existing_, &target_existed_) != 0) {
    failed_ = true;
    Abort();
    return false;
  }
  temp_[0] = '\0';
  return true;
}

void FileSink::Abort() {
  if (fd_ >= 0) {
    CloseFile(fd_);
    fd_ = -1;
  }
  if (temp_[0] != '\0') {
    RemoveFile(temp_);
    temp_[0] = '\0';
  }
}

}  // namespace rawconv
