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
  in_ = static_cast<char*>(std::malloc(kBlockSize));
  out_ = static_cast<char*>(std::malloc(out_size_));
  if (in_ == nullptr || out_ == nullptr) Fail("gzip: out of memory");
}

GzipSink::~GzipSink() {
  if (!done_) Abort();
  if (compressor_ != nullptr) libdeflate_free_compressor(static_cast<libdeflate_compressor*>(compressor_));
  std::free(in_);
  std::free(out_);
}

// One block in, one gzip member out to the next sink.
bool GzipSink::CompressHeld() {
  if (held_ == 0) return true;
  const size_t n = libdeflate_gzip_compress(static_cast<libdeflate_compressor*>(compressor_), in_,
                                            held_, out_, out_size_);
  held_ = 0;
  if (n == 0) {
    Fail("gzip: compression failed");
    return false;
  }
  if (!next_->Write(out_, n)) {
    Fail("gzip: the compressed output could not be written");
    return false;
  }
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

bool GzipSink::CompressHeld() { return false; }

#endif

void GzipSink::Fail(const char* message) {
  if (!failed_) error_ = message;
  failed_ = true;
}

bool GzipSink::Write(const char* data, size_t length) {
  if (failed_ || done_) return false;
  bytes_in_ += length;
  while (length > 0) {
    const size_t room = kBlockSize - held_;
    const size_t part = length < room ? length : room;
    std::memcpy(in_ + held_, data, part);
    held_ += part;
    data += part;
    length -= part;
    if (held_ == kBlockSize && !CompressHeld()) return false;
  }
  return true;
}

bool GzipSink::Finish() {
  if (done_) return false;
  if (failed_ || !CompressHeld()) {
    Abort();
    return false;
  }
  // An empty input still makes a valid (empty) gzip file: one empty member.
  if (bytes_out_ == 0) {
#if defined(RAWCONV_HAVE_GZIP)
    const size_t n = libdeflate_gzip_compress(static_cast<libdeflate_compressor*>(compressor_), in_,
                                              0, out_, out_size_);
    if (n == 0 || !next_->Write(out_, n)) {
      Fail("gzip: the compressed output could not be written");
      Abort();
      return false;
    }
    bytes_out_ += n;
#endif
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
