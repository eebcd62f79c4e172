// Opening the library's input files (GPB, EPP, station files) for reading.
//
// An input is either a plain file or a gzip file (one or more members),
// told apart by its first two bytes (1f 8b), never by its name. A gzip
// input is decompressed whole when it is opened, into a temporary file that
// is unlinked at once (it disappears with the stream, whatever happens),
// and the caller reads that file's stream as it would read the plain file:
// the readers seek and rewind (the GPB reader's passes, the station
// reader's two passes) and take sizes from the stream, which a
// forward-only decompressing stream could not give them, and a damaged
// gzip input is found before any record is read, so that it is reported as
// damaged compressed data rather than as a damaged input. Memory stays
// bounded whatever the size of the data; the temporary file goes into
// $TMPDIR (else /tmp). Plain files are opened with a single fopen and cost
// one fstat and one small pread more than a bare fopen.
//
// A folder is refused ("it is a folder"): fopen succeeds on one on POSIX
// systems, and reading it then fails in ways that blame the file's content.
//
// The dialog library's conversions open their inputs as they always have:
// a bare fopen, no gzip, no folder check (see InputRules). Every failure
// leaves the reason in Reason(): the system's text for the open's errno
// ("No such file or directory", "Permission denied"), "it is a folder",
// "damaged gzip data", or what went wrong with the temporary file.
#ifndef RAWCONV_IO_INPUT_FILE_H_
#define RAWCONV_IO_INPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace rawconv {

// How inputs are opened on the calling thread.
enum class InputRules {
  kCurrent,  // gzip inputs decompressed, folders refused (the default)
  kDialog,   // a bare fopen, as the dialog library's conversions open them
};

// The rules of the calling thread.
InputRules CurrentInputRules();

struct DecompressedFiles;

// Sets the calling thread's rules for the scope's lifetime (the previous
// rules come back after it). Every input of a conversion is opened on the
// thread that runs it, so one scope around the conversion covers them all.
//
// Within a scope, a gzip input is decompressed once: a conversion opens its
// GPB file three times (the check of its first epoch, the pre-scan, the
// writing pass) and its EPP file twice, and each later open of the same
// unchanged file (same device, inode, size and modification time) gets a
// stream of its own on the first open's temporary file. Where the system
// cannot reopen an unlinked file (outside Linux), each open decompresses
// again. The temporary files go with the scope.
class InputRulesScope {
 public:
  explicit InputRulesScope(InputRules rules);
  ~InputRulesScope();
  InputRulesScope(const InputRulesScope&) = delete;
  InputRulesScope& operator=(const InputRulesScope&) = delete;

 private:
  InputRules saved_;
  DecompressedFiles* saved_files_;
  DecompressedFiles* files_;
};

// Reasons given by InputFile besides the system's texts.
constexpr char kReasonFolder[] = "it is a folder";
constexpr char kReasonDamagedGzip[] = "damaged gzip data";

// True when the path ends in ".gz" (any letter case).
bool HasGzipSuffix(const char* path);

// The system's text for an error number ("No such file or directory"), safe
// to call from several threads at once (strerror is not).
std::string SystemReason(int error);

class InputFile {
 public:
  // Bytes of the (decompressed) start of the file that Head() keeps.
  static constexpr size_t kHeadSize = 16;

  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens path for reading under the calling thread's rules; text selects
  // the platform's text mode for plain files ("r" rather than "rb"; the
  // same on POSIX systems; a decompressed file is always read in binary
  // mode). A file already open is closed first. true with Stream() at the
  // first byte, no byte of it read through the stream yet (so that the
  // caller may still set its buffer); false with Reason() set.
  bool Open(const char* path, bool text = false);

  // The open stream (nullptr when none); stays owned by the object.
  std::FILE* Stream() const { return stream_; }
  // Hands the stream over to the caller, who closes it with fclose.
  std::FILE* Release();
  void Close();

  // Whether the open file was decompressed.
  bool Decompressed() const { return decompressed_; }
  // The first bytes of the (decompressed) file, up to kHeadSize; fewer
  // when the file is shorter or its start could not be read.
  const uint8_t* Head() const { return head_; }
  size_t HeadSize() const { return head_size_; }

  // Why the last Open failed; empty after a successful one.
  const std::string& Reason() const { return reason_; }

 private:
  bool Decompress(std::FILE* packed);

  std::FILE* stream_ = nullptr;
  bool decompressed_ = false;
  uint8_t head_[kHeadSize] = {};
  size_t head_size_ = 0;
  std::string reason_;
};

// Opens path as InputFile does and hands the stream over (nullptr on
// failure, with the reason in *reason when reason is given).
std::FILE* OpenInputStream(const char* path, bool text, std::string* reason);

// Reads a whole input of at most max_bytes (decompressed) into *text, for
// the small text files read at once (site logs, station tables).
enum class ReadTextResult {
  kOk,
  kCannotOpen,  // *reason: InputFile's
  kCannotRead,  // *reason: the system's
  kTooLarge,    // more than max_bytes: not the file it should be
};
ReadTextResult ReadInputText(const char* path, size_t max_bytes, std::string* text,
                             std::string* reason);

}  // namespace rawconv

#endif  // RAWCONV_IO_INPUT_FILE_H_
