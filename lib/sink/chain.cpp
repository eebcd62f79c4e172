#include "sink/chain.h"

namespace rawconv {

Sink* OutputChain::Build(FileSink* file, Compression compression, bool observation_file,
                         int rinex_major, bool threads) {
  crx_.reset();
  thread_.reset();
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
  // The thread stage: in front of the compressor, or of a plain
  // observation file.
  if (threads && (gzip || (observation_file && !crx))) {
    thread_.reset(new ThreadSink(head, gzip ? GzipSink::kBlockSize : ThreadSink::kBlockSize));
    head = thread_.get();
  }
  if (crx) {
    crx_.reset(new CrxSink(head));
    head = crx_.get();
  }
  return head;
}

const char* CompressionSuffix(Compression compression, bool observation_file) {
  (void)observation_file;
  return compression == Compression::kGzip || compression == Compression::kCrxGzip ? ".gz" : "";
}

}  // namespace rawconv
