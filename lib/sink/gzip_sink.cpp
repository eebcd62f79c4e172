#include "sink/gzip_sink.h"

#include <cstdlib>
#include <cstring>

#if defined(RAWCONV_HAVE_GZIP)
#include <libdeflate.h>
#endif

namespace rawconv {

#if defined(RAWCONV_HAVE_GZIP)

bool GzipAvailable() { return true; }

GzipSink::GzipSink(Sink* next, int level) : next_(next), level_(level) {
  if (level_ < 1) level_ = 1;
  if (level_ > 12) level_ = 12;
  libdeflate_compressor* c = libdeflate_alloc_compressor(level_);
  if (c == nullptr) {
    Fail("gzip: cannot allocate the compressor");
    return;
  }
  compressor_ = c;
  out_size_ = libdeflate_gzip_compress_bound(c, kBlockSize);
  block_ = static_cast<char*>(std::malloc(kBlockSize));
  out_ = static_cast<char*>(std::malloc(out_size_));
  if (block_ == nullptr || out_ == nullptr) Fail("gzip: out of memory");
}

GzipSink::~GzipSink() {
  if (!done_) Abort();
  if (compressor_ != nullptr) libdeflate_free_compressor(static_cast<libdeflate_compressor*>(compressor_));
  std::free(block_);
  std::free(out_);
}

// The held block in, one gzip member out to the next sink. An empty block
// makes the one empty member of an empty file.
bool GzipSink::CompressBlock() {
  const size_t n = libdeflate_gzip_compress(static_cast<libdeflate_compressor*>(compressor_), block_,
                                            held_, out_, out_size_);
  held_ = 0;
  if (n == 0) return Fail("gzip: compression failed");
  if (!next_->Write(out_, n)) return Fail("gzip: the compressed output could not be written");
  bytes_out_ += n;
  return true;
}

#else  // no gzip library in this build

bool GzipAvailable() { return false; }

GzipSink::GzipSink(Sink* next, int level) : next_(next), level_(level) {
  Fail("gzip output is not available in this build");
}

GzipSink::~GzipSink() {
  if (!done_) Abort();
}

bool GzipSink::CompressBlock() { return false; }

#endif

bool GzipSink::Fail(const char* message) {
  if (!failed_) error_ = message;
  failed_ = true;
  return false;
}

bool GzipSink::Write(const char* data, size_t length) {
  if (failed_ || done_) return false;
  bytes_in_ += length;
  while (length > 0) {
    const size_t room = kBlockSize - held_;
    const size_t part = length < room ? length : room;
    std::memcpy(block_ + held_, data, part);
    held_ += part;
    data += part;
    length -= part;
    if (held_ == kBlockSize && !CompressBlock()) return false;
  }
  return true;
}

bool GzipSink::Finish() {
  if (done_) return false;
  // The last block, and an empty file's one empty member.
  if (!failed_ && (held_ > 0 || bytes_in_ == 0)) CompressBlock();
  if (failed_) {
    Abort();
    return false;
  }
  done_ = true;
  if (!next_->Finish()) {
    Fail("gzip: the output could not be completed");
    return false;
  }
  return true;
}

void GzipSink::Abort() {
  done_ = true;
  held_ = 0;
  next_->Abort();
}

}  // namespace rawconv
