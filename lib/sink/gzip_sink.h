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
// Compression runs on the caller's thread: a full block is compressed as it
// fills. The chain puts a thread stage (sink/thread_sink.h) in front, so
// that a conversion and its compression share two cores.
//
// Builds without the library (the Windows cross build) compile the class but
// every GzipSink fails: GzipAvailable() tells beforehand.
#ifndef RAWCONV_SINK_GZIP_SINK_H_
#define RAWCONV_SINK_GZIP_SINK_H_

#include <cstddef>
#include <cstdint>

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
  // Compressed bytes passed on.
  uint64_t BytesOut() const { return bytes_out_; }

 private:
  // Compresses the held bytes into one member, passes it on and empties the
  // block; false (the sink failed) when that did not work.
  bool CompressBlock();
  bool Fail(const char* message);  // records the first failure; false

  Sink* next_;
  int level_;
  void* compressor_ = nullptr;
  char* block_ = nullptr;  // kBlockSize bytes
  char* out_ = nullptr;    // room for one compressed block
  size_t out_size_ = 0;
  size_t held_ = 0;
  bool failed_ = false;
  bool done_ = false;
  uint64_t bytes_in_ = 0;
  uint64_t bytes_out_ = 0;
  const char* error_ = "";
};

}  // namespace rawconv

#endif  // RAWCONV_SINK_GZIP_SINK_H_
