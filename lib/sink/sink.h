// Output sinks: where the writers' finished bytes go.
//
// A writer formats lines into its 64 KB block (RinexBuffer) and hands each
// full block to a Sink. A sink may pass the bytes on to another sink (a
// compressor in front of a file), so one output is a chain ending in a file:
//
//   plain:             writer -> ThreadSink -> FileSink
//   gzip:              writer -> ThreadSink (gzip coders) -> FileSink
//   Compact RINEX:     writer -> ThreadSink -> CrxSink -> FileSink
//   Compact + gzip:    writer -> ThreadSink -> CrxSink -> ThreadSink (gzip coders) -> FileSink
//   (without threads no ThreadSink, and a GzipSink does the compressing)
//
// Every sink keeps a bounded amount of memory whatever the size of the output.
//
// Beside the bytes, the RINEX 2 and RINEX 3 observation writers hand each
// epoch's values (EpochValues) down the same chain when a sink in it asks
// for them (WantsValues): the Compact RINEX encoder then codes the values it was
// handed instead of reading them back from the text. When the values are
// all the chain needs (ValuesReplaceRecords), the writer leaves the data
// records' text out and sends only the epoch lines. The thread stage
// carries the values with its blocks, ahead of their text.
//
// Life of a sink: any number of Write calls, then exactly one of Finish (the
// output is complete) or Abort (it is to be thrown away). A sink destroyed
// without either aborts. After a failed Write every later Write fails too;
// Finish then fails as well and leaves nothing behind.
#ifndef RAWCONV_SINK_SINK_H_
#define RAWCONV_SINK_SINK_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace rawconv {

// The values of one observation epoch, handed by a writer beside its text
// to a sink that codes values (Compact RINEX), so that it need not read
// them back from the text. A view: the arrays belong to the caller and are
// valid during the call only.
//
// The epoch's text reaches the sink after its values (never before), and a
// writer that hands values hands them for every epoch of flag 0 or 1 it
// writes, in order; events come as text only.
struct EpochValues {
  // Bytes of the epoch's text: its epoch line(s) and data records (the
  // epoch line(s) alone when the records were left out: see
  // Sink::ValuesReplaceRecords).
  uint64_t TextBytes;
  int32_t Satellites;  // data records of the epoch
  int32_t Types;       // values per record
  // Satellites * Types values, record by record, each the integer the
  // text's "F14.3" field says in thousandths, and two flag characters per
  // value (loss of lock, strength; a digit or a blank). Null Values: this
  // epoch's text is to be read instead (a field the writer formatted
  // another way).
  const int64_t* Values;
  const char* Flags;
  // RINEX 3 and 4, whose epoch line names no satellite: each record's
  // satellite, three characters a record ("G05"), and whether each value
  // is there (1) or its field blank (0; its flags blank too). Null Names:
  // the epoch line names the satellites (RINEX 2); null Present: every
  // value is there.
  const char* Names;
  const uint8_t* Present;
};

class Sink {
 public:
  virtual ~Sink() = default;

  // Takes the next `length` bytes of the output. false when they could not
  // be taken (a write failed now or earlier).
  virtual bool Write(const char* data, size_t length) = 0;

  // Ends the output: everything held is passed on and the chain's end is
  // made final. false when any part of the output could not be written; the
  // chain has then cleaned up as Abort does.
  virtual bool Finish() = 0;

  // Throws the output away: nothing of it remains (a file sink removes its
  // temporary file). Safe to call more than once, and after Finish.
  virtual void Abort() = 0;

  // True when the sink (or one it passes its text to) takes epoch values;
  // a writer asks once, before its first epoch, and hands values only then.
  virtual bool WantsValues() const { return false; }
  // True when the values are all the sink (and every sink after it) needs
  // of an epoch's data records: a writer that hands values may then leave
  // the records out of the text, sending the epoch line(s) alone
  // (EpochValues::TextBytes counts those). An epoch handed without values
  // still sends its records. Implies WantsValues.
  virtual bool ValuesReplaceRecords() const { return false; }
  // Takes the values of the next epoch (see EpochValues). false when they
  // could not be taken. The default ignores them.
  virtual bool Values(const EpochValues& values) {
    (void)values;
    return true;
  }
};

// Work on one block of an output that does not depend on any other block
// (compressing it into a gzip member), so that blocks can be coded side by
// side and passed on in order (sink/thread_sink.h).
class BlockCoder {
 public:
  virtual ~BlockCoder() = default;
  // Codes in[0..length) and points *out at the result, *out_length bytes,
  // which stay valid until the next call. length may be 0. false when the
  // block could not be coded.
  virtual bool Code(const char* in, size_t length, const char** out, size_t* out_length) = 0;
};

// A sink over a stdio stream that the caller owns (tests, tools, the
// RINEX writers' FILE* entry points). Finish flushes the stream and reports
// whether any write to it failed; the stream is never closed. Abort does
// nothing: the caller owns what was written.
class StdioSink final : public Sink {
 public:
  explicit StdioSink(std::FILE* stream) : stream_(stream) {}
  bool Write(const char* data, size_t length) override;
  bool Finish() override;
  void Abort() override {}

 private:
  std::FILE* stream_;
};

// What a FileSink does when its target name already exists at Finish.
enum class ExistingFile {
  kReplace,  // the new file takes the name (atomically where the system can)
  kRefuse,   // Finish fails and the existing file stays as it was
};

// An output file written whole or not at all. Open creates a temporary file
// in the target's folder (so the final rename stays on one file system);
// the bytes go there; Finish flushes and closes it and only then renames it
// onto the target name. Abort (or a failed Finish, or destruction without
// Finish) removes the temporary file. An existing file of the target name is
// never touched before Finish, and never by a failure.
//
// The temporary file is named "<target>.part-XXXXXX" (six random characters,
// created exclusively), so a killed conversion leaves at most such a file;
// for a target whose file name is too long for that, the file name is
// shortened within the 255 bytes file systems take (the folder never).
//
// Durability: unless SetSync(false), Finish flushes the file's bytes to the
// disk before it closes the file, and a commit syncs the target's folder
// after the rename, so that after a power cut a committed name never holds
// a short or empty file.
class FileSink final : public Sink {
 public:
  FileSink() = default;
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Creates the temporary file for `target`. false when it cannot be created
  // (missing folder, no permission, path too long); nothing exists then.
  // A text file gets the system's line ends (CR LF on Windows, as the
  // writers' stdio streams always gave); a binary file (a compressed
  // stream) gets its bytes unchanged.
  enum class Mode { kText, kBinary };
  bool Open(const char* target, ExistingFile existing, Mode mode = Mode::kText);

  bool Write(const char* data, size_t length) override;
  // false when a write, the close or the rename failed, or when the target
  // exists and the policy is kRefuse (TargetExisted() then says so).
  bool Finish() override;
  void Abort() override;

  // Two-phase use, for outputs that must appear together: after
  // DeferCommit, Finish only closes the complete temporary file and Commit
  // moves it onto the target later (false as for Finish, the temporary file
  // then removed). Abort before Commit removes the temporary file.
  void DeferCommit() { defer_commit_ = true; }
  bool Commit();

  // True when Finish failed because the target existed under kRefuse.
  bool TargetExisted() const { return target_existed_; }
  // Bytes written so far.
  uint64_t BytesWritten() const { return written_; }
  // The system's error number of the first failure of Open, Write, Finish
  // or Commit (ENOSPC for a write that took nothing); 0 when none failed or
  // the system gave none.
  int SystemError() const { return error_; }
  const char* Target() const { return target_; }

  // false: no flush to the disk (scratch runs); set before Finish.
  void SetSync(bool sync) { sync_ = sync; }

 private:
  friend class OutputSet;
  static constexpr size_t kPathMax = 4096;
  char target_[kPathMax] = "";
  char temp_[kPathMax] = "";
  ExistingFile existing_ = ExistingFile::kReplace;
  int fd_ = -1;  // POSIX descriptor or a C runtime descriptor on Windows
  bool failed_ = false;
  bool target_existed_ = false;
  int error_ = 0;
  bool defer_commit_ = false;
  bool sync_ = true;
  uint64_t written_ = 0;
};

// The files of one call, put in place together or not at all. Each file is
// a FileSink opened with DeferCommit and finished; the set borrows it.
//
// Commit:
//  1. checks every target before anything is renamed: a folder (or anything
//     but a file) in the way fails, and so does an existing target of a
//     kRefuse file (TargetExisted);
//  2. keeps each existing target aside under "<target>.old-XXXXXX" (named as
//     the temporary files are, shortened likewise; a second
//     link to the same file where the file system has links, else the file
//     moved there);
//  3. renames every temporary file onto its target, in the order added;
//  4. removes the kept-aside names and syncs the folders (files that synced).
// Any failure takes back what the set did: the files it put in place are
// removed, the kept-aside files return to their names, and every temporary
// file is removed. The user's files are then as they were before the call.
// A process killed during a commit leaves at most ".part-" and ".old-" files
// beside the targets; every target then holds a complete file, old or new.
//
// A stop request (StopWhen) is asked after step 1 and again after step 3,
// the last moment at which everything can still be taken back; when it says
// stop, the commit is taken back as for a failure and Stopped() says why.
//
// For tests only: when the environment variable RAWCONV_TEST_STOP_AT is
// "commit", a process stops itself (SIGSTOP) in every commit after step 1,
// so that a test can act (signal it, put something in a target's way) in
// that phase and continue it. Without the variable nothing happens.
class OutputSet {
 public:
  OutputSet() = default;
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // Adds a finished file; null is ignored.
  void Add(FileSink* file);
  // Puts every file in place (see above). true on success; false with
  // FailedTarget() naming the target that failed.
  bool Commit();
  // Removes every temporary file of the set (after a failure elsewhere).
  void Abort();
  // Asked during Commit (see above); true means stop. user is passed back.
  // Null (the default): never stops.
  void StopWhen(bool (*stop)(void* user), void* user) {
    stop_ = stop;
    stop_user_ = user;
  }

  const char* FailedTarget() const { return failed_target_; }
  // True when the failure was an existing target under kRefuse.
  bool TargetExisted() const { return target_existed_; }
  // True when the failure was a folder or other non-file in a target's way.
  bool FolderInTheWay() const { return folder_in_the_way_; }
  // The system's error number of the failure (the failed file's, or of the
  // rename that failed); 0 when it gave none.
  int SystemError() const { return error_; }
  // True when the commit was taken back because StopWhen's function said so
  // (FailedTarget() is then "").
  bool Stopped() const { return stopped_; }

 private:
  bool StopRequested() const { return stop_ != nullptr && stop_(stop_user_); }

  std::vector<FileSink*> files_;
  const char* failed_target_ = "";
  bool target_existed_ = false;
  bool folder_in_the_way_ = false;
  int error_ = 0;
  bool stopped_ = false;
  bool (*stop_)(void*) = nullptr;
  void* stop_user_ = nullptr;
};

// True when a file or folder of this name exists.
bool PathExists(const char* path);

}  // namespace rawconv

#endif  // RAWCONV_SINK_SINK_H_
