// GzipSink: compresses what it is given and passes the gzip stream on to the
// next sink of the chain.
//
// The stream is a series of gzip members, one per block of input (kBlockSize
// bytes, the last one shorter). A gzip reader (zcat, gzip -d, zlib's
// inflate with gzip decoding) restores the concatenation of all members, so
// the result reads as one file. Memory stays at one input block, one output
// block and the compressor's state, whatever the size of the output.
//
// Compressor: libdeflate. Measured on RINEX 2 observation text (58 MB, a
// real day file repeated), against zlib as a stream:
//   zlib level 6: 21.06 MB in 5.1 s   libdeflate level 6: 20.47 MB in 1.9 s
//   zlib level 1: 24.74 MB in 1.0 s   libdeflate level 4: 21.01 MB in 1.3 s
//   gzip -6 (the program): 21.06 MB
// libdeflate gives smaller files at every level in well under half the
// time; the member boundaries cost about 0.3 % at 256 KB blocks. Which level
// each kind of text gets is the chain's choice (sink/chain.h).
//
// Compression runs on a thread of its own beside the writer: a full block is
// handed over and the writer goes on filling the other one, so a conversion
// and its compression share two cores. The thread starts with the first full
// block (a short output is compressed by the caller at Finish), ends at
// Finish or Abort, and is the only one to touch the next sink while it runs.
// A failure it meets is reported by the next Write or by Finish. When no
// thread can be started the caller compresses each block itself.
//
// Builds without the library (the Windows cross build) compile the class but
// every GzipSink fails: GzipAvailable() tells beforehand.
#ifndef RAWCONV_SINK_GZIP_SINK_H_
#define RAWCONV_SINK_GZIP_SINK_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sink/sink.h"

namespace rawconv {

// True when this build can write gzip.
bool GzipAvailable();

class GzipSink final : public Sink {
 public:
  static constexpr size_t kBlockSize = 256 * 1024;
  static constexpr int kDefaultLevel = 4;

  // `next` receives the compressed stream; it must outlive this sink.
  // `level` 1 (fastest) .. 12 (smallest).
  explicit GzipSink(Sink* next, int level = kDefaultLevel);
  ~GzipSink() override;
  GzipSink(const GzipSink&) = delete;
  GzipSink& operator=(const GzipSink&) = delete;

  bool Write(const char* data, size_t length) override;
  // Compresses what is held, then finishes the next sink.
  bool Finish() override;
  // Aborts the next sink.
  void Abort() override;

  // Why the sink failed ("" while it has not).
  const char* Error() const { return error_; }
  uint64_t BytesIn() const { return bytes_in_; }
  // Compressed bytes passed on; complete after Finish.
  uint64_t BytesOut() const { return bytes_out_; }
  // True once a compressor thread has been started (tests).
  bool Threaded() const { return threaded_; }

 private:
  struct Worker;

  // Compresses `length` bytes of `block` into one member and passes it on
  // (the worker thread's task, or the caller's without one), adding its size
  // to `*written`. false with `*error` set when that failed.
  bool CompressBlock(const char* block, size_t length, uint64_t* written, const char** error);
  // Hands the input block over (full, or the `last` one); false when the
  // sink has failed.
  bool HandOver(bool last);
  // Waits for the worker to finish, ends it and takes over its results.
  void StopWorker();
  void Fail(const char* message);

  Sink* next_;
  int level_;
  void* compressor_ = nullptr;
  char* blocks_[2] = {nullptr, nullptr};  // kBlockSize bytes each
  int filling_ = 0;                       // the block the writer fills
  char* out_ = nullptr;                   // room for one compressed block
  size_t out_size_ = 0;
  size_t held_ = 0;
  bool failed_ = false;
  bool done_ = false;
  bool no_worker_ = false;  // a thread could not be started: compress inline
  bool threaded_ = false;
  std::unique_ptr<Worker> worker_;
  uint64_t bytes_in_ = 0;
  uint64_t bytes_out_ = 0;  // up to date when no block is being compressed
  const char* error_ = "";
};

}  // namespace rawconv

#endif  // RAWCONV_SINK_GZIP_SINK_H_
