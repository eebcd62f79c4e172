#include "sink/gzip_sink.h"

#include <cstdlib>
#include <cstring>

#if defined(RAWCONV_HAVE_GZIP)
#include <libdeflate.h>
#endif

namespace rawconv {

#if defined(RAWCONV_HAVE_GZIP)

bool GzipAvailable() { return true; }

GzipCoder::GzipCoder(int level) {
  if (level < 1) level = 1;
  if (level > 12) level = 12;
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  if (c == nullptr) {
    error_ = "gzip: cannot allocate the compressor";
    return;
  }
  compressor_ = c;
  out_size_ = libdeflate_gzip_compress_bound(c, GzipSink::kBlockSize);
  out_ = static_cast<char*>(std::malloc(out_size_));
  if (out_ == nullptr) error_ = "gzip: out of memory";
}

GzipCoder::~GzipCoder() {
  if (compressor_ != nullptr) libdeflate_free_compressor(static_cast<libdeflate_compressor*>(compressor_));
  std::free(out_);
}

// An empty block makes the one empty member of an empty file.
bool GzipCoder::Code(const char* in, size_t length, const char** out, size_t* out_length) {
  if (error_[0] != '\0' || length > GzipSink::kBlockSize) return false;
  const size_t n = libdeflate_gzip_compress(static_cast<libdeflate_compressor*>(compressor_), in,
                                            length, out_, out_size_);
  if (n == 0) return false;
  *out = out_;
  *out_length = n;
  return true;
}

#else  // no gzip library in this build

bool GzipAvailable() { return false; }

GzipCoder::GzipCoder(int) { error_ = "gzip output is not available in this build"; }
GzipCoder::~GzipCoder() = default;
bool GzipCoder::Code(const char*, size_t, const char**, size_t*) { return false; }

#endif

GzipSink::GzipSink(Sink* next, int level) : next_(next), coder_(level) {
  if (coder_.Error()[0] != '\0') {
    Fail(coder_.Error());
    return;
  }
  block_ = static_cast<char*>(std::malloc(kBlockSize));
  if (block_ == nullptr) Fail("gzip: out of memory");
}

GzipSink::~GzipSink() {
  if (!done_) Abort();
  std::free(block_);
}

// The held block in, one gzip member out to the next sink.
bool GzipSink::CompressBlock() {
  const char* member = nullptr;
  size_t n = 0;
  const bool coded = coder_.Code(block_, held_, &member, &n);
  held_ = 0;
  if (!coded) return Fail("gzip: compression failed");
  if (!next_->Write(member, n)) return Fail("gzip: the compressed output could not be written");
  bytes_out_ += n;
  return true;
}

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
