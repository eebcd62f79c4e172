// InputFile: plain and gzip inputs, folders refused, the system's reasons.
#include "io/input_file.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#if defined(RAWCONV_HAVE_GZIP_INPUT)
#include <zlib.h>
#endif

namespace rawconv {
namespace {

thread_local InputRules t_rules = InputRules::kCurrent;
thread_local DecompressedFiles* t_files = nullptr;

constexpr uint8_t kGzipMagic0 = 0x1f;
constexpr uint8_t kGzipMagic1 = 0x8b;

// strerror_r comes in two kinds: the GNU one returns the text, the POSIX
// one fills the buffer and returns 0.
[[maybe_unused]] std::string ReasonText(const char* text, const char*) { return text; }
[[maybe_unused]] std::string ReasonText(int failed, const char* buffer) {
  return failed == 0 ? std::string(buffer) : std::string();
}

}  // namespace

std::string SystemReason(int error) {
  char buffer[256] = "";
#if defined(_WIN32)
  std::string text = strerror_s(buffer, sizeof buffer, error) == 0 ? buffer : "";
#else
  std::string text = ReasonText(strerror_r(error, buffer, sizeof buffer), buffer);
#endif
  if (text.empty()) text = "error " + std::to_string(error);
  return text;
}

namespace {

int DescriptorOf(std::FILE* stream) {
#if defined(_WIN32)
  return _fileno(stream);
#else
  return fileno(stream);
#endif
}

bool IsFolder(int fd) {
#if defined(_WIN32)
  struct _stati64 st;
  return _fstati64(fd, &st) == 0 && (st.st_mode & _S_IFDIR) != 0;
#else
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

// Reads up to size bytes from the start of the file behind fd without
// moving its position, so that the stream on it has seen nothing. Returns
// the bytes read (0 when none can be, as for a folder or a pipe).
size_t ReadStart(int fd, uint8_t* out, size_t size) {
#if defined(_WIN32)
  const __int64 at = _lseeki64(fd, 0, SEEK_CUR);
  if (at < 0 || _lseeki64(fd, 0, SEEK_SET) < 0) return 0;
  const int got = _read(fd, out, static_cast<unsigned>(size));
  _lseeki64(fd, at, SEEK_SET);
  return got > 0 ? static_cast<size_t>(got) : 0;
#else
  size_t total = 0;
  while (total < size) {
    const ssize_t got = pread(fd, out + total, size - total, static_cast<off_t>(total));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<size_t>(got);
  }
  return total;
#endif
}

#if defined(RAWCONV_HAVE_GZIP_INPUT)

// An unlinked temporary file open for writing and reading: in $TMPDIR
// (else /tmp) on POSIX systems, tmpfile's folder on Windows.
std::FILE* OpenScratch(std::string* reason) {
#if defined(_WIN32)
  std::FILE* file = std::tmpfile();
  if (file == nullptr) *reason = "cannot create a temporary file: " + SystemReason(errno);
  return file;
#else
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
  std::string name = folder;
  name += "/rawconv-input-XXXXXX";
  std::vector<char> text(name.begin(), name.end());
  text.push_back('\0');
#if defined(__linux__)
  const int fd = mkostemp(text.data(), O_CLOEXEC);  // not inherited by child processes
#else
  const int fd = mkstemp(text.data());
#endif
  if (fd < 0) {
    *reason = "cannot create a temporary file in " + std::string(folder) + ": " +
              SystemReason(errno);
    return nullptr;
  }
  unlink(text.data());
  std::FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) {
    *reason = "cannot create a temporary file: " + SystemReason(errno);
    close(fd);
  }
  return file;
#endif
}

#endif  // RAWCONV_HAVE_GZIP_INPUT

}  // namespace

// The gzip inputs a scope has decompressed, by the identity of the gzip
// file: a descriptor of each temporary file, from which a new stream is
// opened for each later open. A few entries serve a conversion (GPB, EPP
// and station file); the oldest makes room for a new one.
struct DecompressedFiles {
  struct Entry {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = -1;
    int64_t ModifiedSeconds = 0;
    int64_t ModifiedNanoseconds = 0;
    int Descriptor = -1;
  };
  static constexpr int kEntries = 4;
  Entry Entries[kEntries];
  int Next = 0;

  ~DecompressedFiles() {
#if defined(__linux__)
    for (Entry& e : Entries)
      if (e.Descriptor >= 0) close(e.Descriptor);
#endif
  }

#if defined(__linux__)
  static bool Same(const Entry& e, const struct stat& st) {
    return e.Descriptor >= 0 && e.Device == static_cast<uint64_t>(st.st_dev) &&
           e.Inode == static_cast<uint64_t>(st.st_ino) && e.Size == st.st_size &&
           e.ModifiedSeconds == st.st_mtim.tv_sec && e.ModifiedNanoseconds == st.st_mtim.tv_nsec;
  }

  // A new stream at the start of the temporary file of the gzip file
  // behind packed_fd, or nullptr when it has none here.
  std::FILE* Reopen(int packed_fd) const {
    struct stat st;
    if (fstat(packed_fd, &st) != 0) return nullptr;
    for (const Entry& e : Entries) {
      if (!Same(e, st)) continue;
      // A new open file description: its offset is its own.
      char name[64];
      std::snprintf(name, sizeof name, "/proc/self/fd/%d", e.Descriptor);
      return std::fopen(name, "rb");
    }
    return nullptr;
  }

  // Keeps a descriptor of the temporary file behind stream for the gzip
  // file behind packed_fd.
  void Keep(int packed_fd, std::FILE* stream) {
    struct stat st;
    if (fstat(packed_fd, &st) != 0) return;
    const int copy = fcntl(DescriptorOf(stream), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return;
    Entry& e = Entries[Next];
    Next = (Next + 1) % kEntries;
    if (e.Descriptor >= 0) close(e.Descriptor);
    e.Device = static_cast<uint64_t>(st.st_dev);
    e.Inode = static_cast<uint64_t>(st.st_ino);
    e.Size = st.st_size;
    e.ModifiedSeconds = st.st_mtim.tv_sec;
    e.ModifiedNanoseconds = st.st_mtim.tv_nsec;
    e.Descriptor = copy;
  }
#else
  std::FILE* Reopen(int) const { return nullptr; }
  void Keep(int, std::FILE*) {}
#endif
};

InputRules CurrentInputRules() { return t_rules; }

InputRulesScope::InputRulesScope(InputRules rules)
    : saved_(t_rules), saved_files_(t_files), files_(new DecompressedFiles) {
  t_rules = rules;
  t_files = files_;
}

InputRulesScope::~InputRulesScope() {
  t_rules = saved_;
  t_files = saved_files_;
  delete files_;
}

bool HasGzipSuffix(const char* path) {
  if (path == nullptr) return false;
  const size_t n = std::strlen(path);
  return n >= 3 && path[n - 3] == '.' &&
         std::tolower(static_cast<unsigned char>(path[n - 2])) == 'g' &&
         std::tolower(static_cast<unsigned char>(path[n - 1])) == 'z';
}

InputFile::~InputFile() { Close(); }

void InputFile::Close() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  decompressed_ = false;
  head_size_ = 0;
}

std::FILE* InputFile::Release() {
  std::FILE* stream = stream_;
  stream_ = nullptr;
  decompressed_ = false;
  return stream;
}

bool InputFile::Open(const char* path, bool text) {
  Close();
  reason_.clear();
  if (path == nullptr || path[0] == '\0') {
    reason_ = SystemReason(ENOENT);
    return false;
  }
  const bool dialog = t_rules == InputRules::kDialog;
#if defined(_WIN32)
  // Windows refuses to open a folder with a permission error: tell it first.
  struct _stati64 st;
  if (!dialog && _stati64(path, &st) == 0 && (st.st_mode & _S_IFDIR) != 0) {
    reason_ = kReasonFolder;
    return false;
  }
#endif
  errno = 0;
  std::FILE* file = std::fopen(path, text ? "r" : "rb");
  if (file == nullptr) {
    reason_ = SystemReason(errno != 0 ? errno : ENOENT);
    return false;
  }
  const int fd = DescriptorOf(file);
  if (!dialog && IsFolder(fd)) {
    std::fclose(file);
    reason_ = kReasonFolder;
    return false;
  }
  head_size_ = ReadStart(fd, head_, kHeadSize);
  if (dialog || head_size_ < 2 || head_[0] != kGzipMagic0 || head_[1] != kGzipMagic1) {
    stream_ = file;
    return true;
  }
  if (t_files != nullptr) {
    std::FILE* again = t_files->Reopen(fd);
    if (again != nullptr) {
      std::fclose(file);
      head_size_ = ReadStart(DescriptorOf(again), head_, kHeadSize);
      stream_ = again;
      decompressed_ = true;
      return true;
    }
  }
  const bool ok = Decompress(file);
  if (ok && t_files != nullptr) t_files->Keep(fd, stream_);
  std::fclose(file);
  return ok;
}

#if defined(RAWCONV_HAVE_GZIP_INPUT)

// Inflates every member of the gzip file into a scratch file, then opens a
// fresh stream on it at its start. A stream that ends inside a member, a
// member that fails its checks (CRC, length) or bytes after the last member
// that begin no new one are damaged data.
bool InputFile::Decompress(std::FILE* packed) {
  head_size_ = 0;
  std::FILE* scratch = OpenScratch(&reason_);
  if (scratch == nullptr) return false;

  constexpr size_t kChunk = 256 * 1024;
  std::unique_ptr<uint8_t[]> in(new uint8_t[kChunk]);
  std::unique_ptr<uint8_t[]> out(new uint8_t[kChunk]);
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
    std::fclose(scratch);
    reason_ = "cannot decompress: not enough memory";
    return false;
  }
  bool damaged = false;
  bool in_member = true;  // inside a member that has not ended yet
  bool write_failed = false;
  int write_error = 0;
  bool read_failed = false;
  int read_error = 0;
  bool draining = false;  // the last inflate filled the output: more may be pending
  while (!damaged && !write_failed) {
    if (z.avail_in == 0 && !draining) {
      const size_t got = std::fread(in.get(), 1, kChunk, packed);
      if (got == 0) {
        if (std::ferror(packed)) {
          read_failed = true;
          read_error = errno;
        }
        break;
      }
      z.next_in = in.get();
      z.avail_in = static_cast<uInt>(got);
    }
    if (!in_member) {
      // Another member must begin here (its magic may straddle two reads:
      // a lone first byte at the end of the file is damage either way).
      if (z.next_in[0] != kGzipMagic0 || (z.avail_in > 1 && z.next_in[1] != kGzipMagic1)) {
        damaged = true;
        break;
      }
      inflateReset(&z);
      in_member = true;
    }
    z.next_out = out.get();
    z.avail_out = static_cast<uInt>(kChunk);
    const int result = inflate(&z, Z_NO_FLUSH);
    const size_t produced = kChunk - z.avail_out;
    draining = z.avail_out == 0;
    if (produced > 0) {
      if (head_size_ < kHeadSize) {
        const size_t take = produced < kHeadSize - head_size_ ? produced : kHeadSize - head_size_;
        std::memcpy(head_ + head_size_, out.get(), take);
        head_size_ += take;
      }
      if (std::fwrite(out.get(), 1, produced, scratch) != produced) {
        write_failed = true;
        write_error = errno;
      }
    }
    if (result == Z_STREAM_END) {
      in_member = false;
      draining = false;
    } else if (result != Z_OK && !(result == Z_BUF_ERROR && z.avail_in == 0)) {
      damaged = true;
    }
  }
  inflateEnd(&z);
  if (in_member) damaged = true;  // the file ended inside a member

  if (read_failed || write_failed || damaged || std::fflush(scratch) != 0) {
    if (!read_failed && !write_failed && !damaged) {
      write_failed = true;
      write_error = errno;
    }
    std::fclose(scratch);
    head_size_ = 0;
    if (read_failed) {
      reason_ = SystemReason(read_error != 0 ? read_error : EIO);
    } else if (write_failed) {
      reason_ = "cannot decompress into a temporary file: " +
                SystemReason(write_error != 0 ? write_error : EIO);
    } else {
      reason_ = kReasonDamagedGzip;
    }
    return false;
  }

  // A stream of its own on the scratch file, at its start and with no I/O
  // done yet, so that the caller may still choose its buffer.
#if defined(_WIN32)
  const int copy = _dup(DescriptorOf(scratch));
  std::FILE* stream = copy >= 0 ? _fdopen(copy, "rb") : nullptr;
  if (stream != nullptr) _lseeki64(copy, 0, SEEK_SET);
#else
  const int copy = fcntl(DescriptorOf(scratch), F_DUPFD_CLOEXEC, 0);
  std::FILE* stream = copy >= 0 ? fdopen(copy, "rb") : nullptr;
  if (stream != nullptr) lseek(copy, 0, SEEK_SET);
#endif
  const int error = errno;
#if defined(_WIN32)
  if (stream == nullptr && copy >= 0) _close(copy);
#else
  if (stream == nullptr && copy >= 0) close(copy);
#endif
  std::fclose(scratch);
  if (stream == nullptr) {
    head_size_ = 0;
    reason_ = "cannot reopen the decompressed data: " + SystemReason(error);
    return false;
  }
  stream_ = stream;
  decompressed_ = true;
  return true;
}

#else  // !RAWCONV_HAVE_GZIP_INPUT

bool InputFile::Decompress(std::FILE*) {
  head_size_ = 0;
  reason_ = "gzip data, which this build cannot read (built without zlib)";
  return false;
}

#endif  // RAWCONV_HAVE_GZIP_INPUT

std::FILE* OpenInputStream(const char* path, bool text, std::string* reason) {
  InputFile file;
  if (!file.Open(path, text)) {
    if (reason != nullptr) *reason = file.Reason();
    return nullptr;
  }
  if (reason != nullptr) reason->clear();
  return file.Release();
}

ReadTextResult ReadInputText(const char* path, size_t max_bytes, std::string* text,
                             std::string* reason) {
  text->clear();
  reason->clear();
  InputFile in;
  if (!in.Open(path)) {
    *reason = in.Reason();
    return ReadTextResult::kCannotOpen;
  }
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in.Stream())) > 0) {
    if (n > max_bytes - text->size()) return ReadTextResult::kTooLarge;
    text->append(buffer, n);
  }
  if (std::ferror(in.Stream())) {
    *reason = SystemReason(errno);
    return ReadTextResult::kCannotRead;
  }
  return ReadTextResult::kOk;
}

}  // namespace rawconv
