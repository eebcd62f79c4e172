// The state of one session of the library's interfaces.
//
// What a session keeps between calls (the error text, which the dialog
// library's Get_Error_Str reads after a call) and the settings and running
// facts of its current call. Only lib/api sees it: the steps below are
// handed what they need as arguments (the job's ObsInput and NavInput, a
// ReadingPass, NavWriting, a RunClock, ObsEdits). The exports work on one
// default context (zero at load, like a freshly loaded library); a caller
// that runs conversions on several threads at once gives each thread its
// own Context through a ContextScope.
#ifndef RAWCONV_API_CONTEXT_H_
#define RAWCONV_API_CONTEXT_H_

#include <cstdint>

#include "api/rawconv.h"

namespace rawconv {

constexpr int kErrorTextSize = 256;

struct Context {
  // Last failure message of any step; never cleared, cut at 255 characters.
  char ErrorText[kErrorTextSize];
  // The options field (by its name in rawconv_options) the last failure of
  // a call of the reentrant interface is about; cleared when a conversion
  // starts, empty when no one field is at fault.
  char ErrorField[32];

  // The session's run date (options use_run_date / run_date): when
  // RunTimeFixed is set, the conversion hands its writers a clock fixed at
  // FixedRunTime (seconds since 1970, read as local time) instead of their
  // default (obs/run_date.h).
  int32_t RunTimeFixed;
  int64_t FixedRunTime;

  // Test hook: when set, the conversion asks the observation writers
  // (ObsEdits::ReferenceFormatting) to format their numbers with snprintf
  // instead of their own integer code, so tests can compare the two.
  int32_t ReferenceFormatting;

  // Progress of the running conversion (see ReportProgress): the caller's
  // callback, the work of the whole conversion and the part of it done
  // before the current pass. Cancelled is set once the callback asked to
  // stop; the reading passes then end early.
  int (*Progress)(void* user, uint64_t done, uint64_t total);
  void* ProgressUser;
  uint64_t ProgressTotal;
  uint64_t ProgressBase;
  int32_t Cancelled;

  // Facts gathered while writing, for the conversion report.
  uint32_t NavRecordsWritten;
  // Station records of the writing pass's station file and the station
  // blocks they gave (ReadingPass::StationRecords, StationBlocks).
  int32_t StationRecords;
  uint64_t StationBlocks;
  uint64_t EpochsWritten;
  int32_t GpbDamaged;     // the writing pass ended in a damaged or cut record
  uint64_t GpbBytesUsed;  // up to the end of its last good record
  uint64_t GpbFileSize;
  // 1: the conversion runs on its caller's thread alone, without the
  // writing thread of the output chain or the GPB reader's read-ahead.
  int32_t SingleThread;
};


// Tells the progress callback that `done` bytes of the current pass are read
// (the pass's own count; ProgressBase is added). Returns false when the
// conversion is to stop (now or earlier).
bool ReportProgress(uint64_t done);

// The context of the calling thread: the one installed by the innermost
// ContextScope, else the library's default context.
Context& Ctx();

// Installs a context for the calling thread for the scope's lifetime.
class ContextScope {
 public:
  explicit ContextScope(Context& context);
  ~ContextScope();
  ContextScope(const ContextScope&) = delete;
  ContextScope& operator=(const ContextScope&) = delete;

 private:
  Context* previous_;
};

// Formats a message into the current context's error text (cut at 255
// characters).
void SetErrorText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Copies text into the error text, cut at 255 characters.
void CopyErrorText(const char* text);

// Names the options field the failure is about (see Context::ErrorField).
void SetErrorField(const char* field);

}  // namespace rawconv

#endif  // RAWCONV_API_CONTEXT_H_
