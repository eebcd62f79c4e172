#include "sink/chain.h"

namespace rawconv {

Sink* OutputChain::Build(FileSink* file, Compression compression, bool observation_file,
                         int rinex_major) {
  thread_.reset();
  crx_.reset();
  gzip_.reset();
  error_.clear();
  const bool crx = observation_file &&
                   (compression == Compression::kCrx || compression == Compression::kCrxGzip);
  const bool gzip = compression == Compression::kGzip || compression == Compression::kCrxGzip;
  if (crx && rinex_major != 2 && rinex_major != 3) {
    error_ = "Compact RINEX needs a RINEX 2 or RINEX 3 observation file";
    return nullptr;
  }
  if (gzip && !GzipAvailable()) {
    error_ = "gzip output is not available in this build";
    return nullptr;
  }
  Sink* head = file;
  if (gzip) {
    gzip_.reset(new GzipSink(head, crx ? kCompactGzipLevel : kTextGzipLevel));
    if (gzip_->Error()[0] != '\0') {
      error_ = gzip_->Error();
      gzip_.reset();
      return nullptr;
    }
    head = gzip_.get();
  }
  if (crx) {
    crx_.reset(new CrxSink(head));
    head = crx_.get();
  }
  if (observation_file && !crx && !gzip) {
    thread_.reset(new ThreadSink(head));
    head = thread_.get();
  }
  return head;
}

const char* CompressionSuffix(Compression compression, bool observation_file) {
  (void)observation_file;
  return compression == Compression::kGzip || compression == Compression::kCrxGzip ? ".gz" : "";
}

}  // namespace rawconv
