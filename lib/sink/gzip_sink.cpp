#include "sink/gzip_sink.h"

#include <cstdlib>
#include <cstring>

#if defined(RAWCONV_HAVE_GZIP)
#include <libdeflate.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace rawconv {

#if defined(RAWCONV_HAVE_GZIP)

bool GzipAvailable() { return true; }

// The compressor thread and what it shares with the writer. Everything below
// the mutex is read and written under it.
struct GzipSink::Worker {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable changed;
  const char* block = nullptr;  // handed over, not yet compressed
  size_t length = 0;
  bool busy = false;            // a block is waiting or being compressed
  bool stop = false;            // no more blocks: end the thread
  bool failed = false;
  const char* error = "";
  uint64_t written = 0;         // compressed bytes passed on
};

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
  blocks_[0] = static_cast<char*>(std::malloc(kBlockSize));
  blocks_[1] = static_cast<char*>(std::malloc(kBlockSize));
  out_ = static_cast<char*>(std::malloc(out_size_));
  if (blocks_[0] == nullptr || blocks_[1] == nullptr || out_ == nullptr) Fail("gzip: out of memory");
}

GzipSink::~GzipSink() {
  if (!done_) Abort();
  StopWorker();
  if (compressor_ != nullptr) libdeflate_free_compressor(static_cast<libdeflate_compressor*>(compressor_));
  std::free(blocks_[0]);
  std::free(blocks_[1]);
  std::free(out_);
}

// One block in, one gzip member out to the next sink. An empty block makes
// the one empty member of an empty file.
bool GzipSink::CompressBlock(const char* block, size_t length, uint64_t* written,
                             const char** error) {
  const size_t n = libdeflate_gzip_compress(static_cast<libdeflate_compressor*>(compressor_), block,
                                            length, out_, out_size_);
  if (n == 0) {
    *error = "gzip: compression failed";
    return false;
  }
  if (!next_->Write(out_, n)) {
    *error = "gzip: the compressed output could not be written";
    return false;
  }
  *written += n;
  return true;
}

bool GzipSink::HandOver(bool last) {
  const char* block = blocks_[filling_];
  const size_t length = held_;
  held_ = 0;
  // A thread for a file of more than one block only.
  if (worker_ == nullptr && !no_worker_ && !last) {
    std::unique_ptr<Worker> w(new Worker);
    Worker* shared = w.get();
    auto run = [this, shared] {
      std::unique_lock<std::mutex> lock(shared->mutex);
      while (true) {
        shared->changed.wait(lock, [shared] { return shared->busy || shared->stop; });
        if (!shared->busy) return;  // stopped with nothing left
        const char* todo = shared->block;
        const size_t todo_length = shared->length;
        const bool skip = shared->failed;
        lock.unlock();
        uint64_t written = 0;
        const char* error = "";
        const bool ok = skip || CompressBlock(todo, todo_length, &written, &error);
        lock.lock();
        shared->written += written;
        if (!ok) {
          shared->failed = true;
          shared->error = error;
        }
        shared->busy = false;
        shared->changed.notify_all();
      }
    };
    try {
      w->thread = std::thread(run);
      worker_ = std::move(w);
      threaded_ = true;
    } catch (const std::system_error&) {
      no_worker_ = true;  // compress on the caller's thread from now on
    }
  }
  if (worker_ == nullptr) {
    const char* error = "";
    if (!CompressBlock(block, length, &bytes_out_, &error)) {
      Fail(error);
      return false;
    }
    return true;
  }
  Worker& w = *worker_;
  std::unique_lock<std::mutex> lock(w.mutex);
  w.changed.wait(lock, [&w] { return !w.busy; });
  if (w.failed) {
    Fail(w.error);
    return false;
  }
  w.block = block;
  w.length = length;
  w.busy = true;
  w.changed.notify_all();
  filling_ ^= 1;  // the worker has this block; fill the other one
  return true;
}

void GzipSink::StopWorker() {
  if (worker_ == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(worker_->mutex);
    worker_->stop = true;
    worker_->changed.notify_all();
  }
  worker_->thread.join();
  bytes_out_ += worker_->written;
  if (worker_->failed) Fail(worker_->error);
  worker_.reset();
}

#else  // no gzip library in this build

bool GzipAvailable() { return false; }

struct GzipSink::Worker {};

GzipSink::GzipSink(Sink* next, int level) : next_(next), level_(level) {
  Fail("gzip output is not available in this build");
}

GzipSink::~GzipSink() {
  if (!done_) Abort();
}

bool GzipSink::CompressBlock(const char*, size_t, uint64_t*, const char**) { return false; }
bool GzipSink::HandOver(bool) { return false; }
void GzipSink::StopWorker() {}

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
    std::memcpy(blocks_[filling_] + held_, data, part);
    held_ += part;
    data += part;
    length -= part;
    if (held_ == kBlockSize && !HandOver(false)) return false;
  }
  return true;
}

bool GzipSink::Finish() {
  if (done_) return false;
  // The last block, and an empty file's one empty member.
  if (!failed_ && (held_ > 0 || bytes_in_ == 0)) HandOver(true);
  StopWorker();
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
  StopWorker();
  next_->Abort();
}

}  // namespace rawconv
