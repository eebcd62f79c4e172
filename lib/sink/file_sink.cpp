#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "naming/path.h"
#include "sink/sink.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <cstdlib>

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
int SyncFile(int fd) { return _commit(fd); }
// Folders cannot be synced through the C runtime; NTFS journals renames.
void SyncFolderOf(const char*) {}
bool IsPlainFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
// A second name for a file: moved there (no links on every Windows volume).
// 0 when moved, -1 on failure.
int KeepAsideAs(const char* target, const char* aside) {
  return MoveFileExA(target, aside, 0) ? 0 : -1;
}
int PutBack(const char* aside, const char* target) {
  return MoveFileExA(aside, target, MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
}
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
int SyncFile(int fd) {
  int result;
  do {
    result = ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  return result;
}
// Makes the folder's entries (a rename into it) durable.
void SyncFolderOf(const char* path) {
  const size_t name = FileNameStart(path);
  const std::string folder = name == 0   ? std::string(".")
                             : name == 1 ? std::string("/")
                                         : std::string(path, name - 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  SyncFile(fd);
  ::close(fd);
}
bool IsPlainFile(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}
// A second name for a file: a hard link where the file system has them (the
// target keeps its name throughout), else the file moved there. 1 when
// linked, 0 when moved, -1 on failure.
int KeepAsideAs(const char* target, const char* aside) {
  if (::link(target, aside) == 0) return 1;
  if (errno == EEXIST) return -1;
  return ::rename(target, aside) == 0 ? 0 : -1;
}
int PutBack(const char* aside, const char* target) { return ::rename(aside, target); }
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

// Longest file name (one path component) the common file systems take.
constexpr size_t kNameMax = 255;

// The name of a temporary file beside `target`: "<target><tag><suffix>",
// the target's file name shortened (never its folder) so that the name stays
// within kNameMax bytes. false when the path would not fit `size` bytes.
bool TempNameFor(const char* target, const char* tag, const char* suffix, char* out,
                 size_t size) {
  const size_t length = std::strlen(target);
  const size_t name_start = FileNameStart(target);
  const size_t extra = std::strlen(tag) + std::strlen(suffix);
  size_t keep = length - name_start;
  if (keep + extra > kNameMax) keep = kNameMax > extra ? kNameMax - extra : 0;
  const size_t total = name_start + keep + extra;
  if (total + 1 > size) return false;
  std::memcpy(out, target, name_start + keep);
  std::snprintf(out + name_start + keep, size - name_start - keep, "%s%s", tag, suffix);
  return true;
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

// For tests only (see OutputSet in sink.h): stops the process at `point`
// when RAWCONV_TEST_STOP_AT names it.
void StopHereForTests(const char* point) {
#if !defined(_WIN32)
  const char* at = std::getenv("RAWCONV_TEST_STOP_AT");
  if (at != nullptr && std::strcmp(at, point) == 0) ::raise(SIGSTOP);
#else
  (void)point;
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
  error_ = 0;
  written_ = 0;
  existing_ = existing;
  const size_t length = std::strlen(target);
  if (length == 0 || length >= kPathMax) {
    error_ = length == 0 ? ENOENT : ENAMETOOLONG;
    return false;
  }
  std::memcpy(target_, target, length + 1);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    char suffix[8];
    TempSuffix(suffix, attempt);
    if (!TempNameFor(target_, ".part-", suffix, temp_, sizeof temp_)) break;
    fd_ = OpenExclusive(temp_, mode == Mode::kText);
    if (fd_ >= 0) return true;
    error_ = errno;
    if (errno != EEXIST) break;
  }
  if (error_ == 0) error_ = ENAMETOOLONG;
  temp_[0] = '\0';
  return false;
}

bool FileSink::Write(const char* data, size_t length) {
  if (fd_ < 0 || failed_) return false;
  while (length > 0) {
    const long n = WriteSome(fd_, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (!failed_) error_ = n < 0 ? errno : ENOSPC;
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
  if (sync_ && !failed_ && SyncFile(fd_) != 0) {
    error_ = errno;
    failed_ = true;
  }
  const bool close_failed = CloseFile(fd_) != 0;
  if (close_failed && error_ == 0) error_ = errno;
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
    error_ = errno;
    failed_ = true;
    Abort();
    return false;
  }
  temp_[0] = '\0';
  if (sync_) SyncFolderOf(target_);
  return true;
}

void OutputSet::Add(FileSink* file) {
  if (file != nullptr) files_.push_back(file);
}

void OutputSet::Abort() {
  for (FileSink* file : files_) file->Abort();
}

bool OutputSet::Commit() {
  failed_target_ = "";
  target_existed_ = false;
  folder_in_the_way_ = false;
  stopped_ = false;
  error_ = 0;
  auto fail = [&](const FileSink* file) {
    failed_target_ = file->target_;
    if (error_ == 0) error_ = file->error_;
    Abort();
    return false;
  };
  auto stop = [&]() {
    stopped_ = true;
    Abort();
    return false;
  };
  // 1. Every target checked before anything moves.
  for (FileSink* file : files_) {
    if (file->fd_ >= 0 || file->failed_ || file->temp_[0] == '\0') return fail(file);
    if (!PathExists(file->target_)) continue;
    if (!IsPlainFile(file->target_)) {
      folder_in_the_way_ = true;
      return fail(file);
    }
    if (file->existing_ == ExistingFile::kRefuse) {
      target_existed_ = true;
      return fail(file);
    }
  }
  StopHereForTests("commit");
  if (StopRequested()) return stop();
  // 2. Existing targets kept aside, 3. temporaries moved onto the targets.
  struct Placed {
    FileSink* File;
    std::string Aside;  // empty: the target did not exist
  };
  std::vector<Placed> placed;
  placed.reserve(files_.size());
  auto take_back = [&]() {
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
      if (it->Aside.empty()) {
        RemoveFile(it->File->target_);
      } else {
        PutBack(it->Aside.c_str(), it->File->target_);
      }
    }
  };
  for (FileSink* file : files_) {
    Placed p{file, std::string()};
    bool linked = false;
    if (PathExists(file->target_)) {
      // Checked again: a folder put there since step 1 must fail the
      // commit, never be moved aside and left behind.
      if (!IsPlainFile(file->target_)) {
        take_back();
        folder_in_the_way_ = true;
        return fail(file);
      }
      bool kept = false;
      for (unsigned attempt = 0; attempt < 100 && !kept; ++attempt) {
        char suffix[8];
        TempSuffix(suffix, attempt);
        char aside[FileSink::kPathMax];
        if (!TempNameFor(file->target_, ".old-", suffix, aside, sizeof aside)) break;
        p.Aside = aside;
        const int how = KeepAsideAs(file->target_, p.Aside.c_str());
        kept = how >= 0;
        linked = how == 1;
        if (!kept && !PathExists(p.Aside.c_str())) break;
      }
      if (!kept) {
        error_ = errno;
        take_back();
        return fail(file);
      }
    }
    bool existed = false;
    // The target is kept aside, so the move may replace its name: under
    // kRefuse a file that appeared since the check still fails it.
    const ExistingFile policy = p.Aside.empty() ? file->existing_ : ExistingFile::kReplace;
    if (MoveIntoPlace(file->temp_, file->target_, policy, &existed) != 0) {
      error_ = errno;
      // The old file is still under its name when it was linked aside.
      if (linked) {
        RemoveFile(p.Aside.c_str());
      } else if (!p.Aside.empty()) {
        PutBack(p.Aside.c_str(), file->target_);
      }
      take_back();
      target_existed_ = existed;
      return fail(file);
    }
    file->temp_[0] = '\0';
    placed.push_back(p);
  }
  if (StopRequested()) {
    take_back();
    return stop();
  }
  // 4. The old files go; the new names are made durable.
  for (const Placed& p : placed) {
    if (!p.Aside.empty()) RemoveFile(p.Aside.c_str());
  }
  for (const Placed& p : placed) {
    if (p.File->sync_) SyncFolderOf(p.File->target_);
  }
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
