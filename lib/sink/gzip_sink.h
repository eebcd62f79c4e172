// GzipSink: compresses what it is given and passes the gzip stream on to the
// next sink of the chain. GzipCoder: the compression of one block into one
// gzip member, which a thread stage (sink/thread_sink.h) runs on several
// blocks side by side.
//
// The stream is a series of gzip members, one per block of input (kBlockSize
// bytes, the last one shorter). A gzip reader (zcat, gzip -d, zlib's
// inflate with gzip decoding) restores the concatenation of all members, so
// the result reads as one file. Members are independent of each other, so
// they can be compressed in any order and on any thread, and the stream is
// the same bytes whichever way it was made. Memory stays at one input
// block, one output block and the compressor's state per coder, whatever
// the size of the output.
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
// GzipSink compresses on the caller's thread, a full block as it fills; the
// chain uses it where there are no threads, and a thread stage with
// GzipCoders otherwise.
//
// Builds without the library (the Windows cross build) compile the classes
// but every GzipSink and GzipCoder fails: GzipAvailable() tells beforehand.
#ifndef RAWCONV_SINK_GZIP_SINK_H_
#define RAWCONV_SINK_GZIP_SINK_H_

#include <cstddef>
#include <cstdint>

#include "sink/sink.h"

namespace rawconv {

// True when this build can write gzip.
bool GzipAvailable();

// One gzip member per call, for blocks of up to GzipSink::kBlockSize bytes.
class GzipCoder final : public BlockCoder {
 public:
  // `level` 1 (fastest) .. 12 (smallest); out of range is clamped.
  explicit GzipCoder(int level);
  ~GzipCoder() override;
  GzipCoder(const GzipCoder&) = delete;
  GzipCoder& operator=(const GzipCoder&) = delete;

  // False for a block longer than kBlockSize, or when the coder could not
  // be made (Error() then says why).
  bool Code(const char* in, size_t length, const char** out, size_t* out_length) override;

  // Why the coder cannot work ("" when it can).
  const char* Error() const { return error_; }

 private:
  void* compressor_ = nullptr;
  char* out_ = nullptr;  // room for one compressed block
  size_t out_size_ = 0;
  const char* error_ = "";
};

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
  GzipCoder coder_;
  char* block_ = nullptr;  // kBlockSize bytes
  size_t held_ = 0;
  bool failed_ = false;
  bool done_ = false;
  uint64_t bytes_in_ = 0;
  uint64_t bytes_out_ = 0;
  const char* error_ = "";
};

}  // namespace rawconv

#endif  // RAWCONV_SINK_GZIP_SINK_H_
