#include "sink/chain.h"

#include <utility>
#include <vector>

#if !defined(_WIN32)
#include <thread>
#endif

namespace rawconv {

Sink* OutputChain::Build(FileSink* file, Compression compression, bool observation_file,
                         int rinex_major, bool threads, const RunClock& clock) {
  crx_stage_.reset();
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
  const int level = crx ? kCompactGzipLevel : kTextGzipLevel;
  if (gzip && threads) {
    // The thread stage compresses, on GzipCoders() threads.
    std::vector<std::unique_ptr<BlockCoder>> coders;
    for (int i = 0; i < GzipCoders(); ++i) {
      std::unique_ptr<GzipCoder> coder(new GzipCoder(level));
      if (coder->Error()[0] != '\0') {
        error_ = coder->Error();
        return nullptr;
      }
      coders.push_back(std::move(coder));
    }
    thread_.reset(new ThreadSink(head, GzipSink::kBlockSize, std::move(coders)));
    head = thread_.get();
  } else if (gzip) {
    gzip_.reset(new GzipSink(head, level));
    if (gzip_->Error()[0] != '\0') {
      error_ = gzip_->Error();
      gzip_.reset();
      return nullptr;
    }
    head = gzip_.get();
  } else if (threads && observation_file && !crx) {
    // The thread stage in front of a plain observation file.
    thread_.reset(new ThreadSink(head));
    head = thread_.get();
  }
  if (crx) {
    crx_.reset(new CrxSink(head, nullptr, clock));
    head = crx_.get();
    // The encoder on a thread stage of its own, beside the writer.
    if (threads) {
      crx_stage_.reset(new ThreadSink(head));
      head = crx_stage_.get();
    }
  }
  return head;
}

const char* OutputChain::StreamError() const {
  if (crx_ && crx_->Error()[0] != '\0') return crx_->Error();
  if (gzip_ && gzip_->Error()[0] != '\0') return gzip_->Error();
  return "";
}

int GzipCoders() {
#if !defined(_WIN32)
  const unsigned cores = std::thread::hardware_concurrency();
  return cores <= 1 ? 1 : cores >= kMaxGzipCoders ? kMaxGzipCoders : static_cast<int>(cores);
#else
  return 1;
#endif
}

const char* CompressionSuffix(Compression compression, bool observation_file) {
  (void)observation_file;
  return compression == Compression::kGzip || compression == Compression::kCrxGzip ? ".gz" : "";
}

}  // namespace rawconv
