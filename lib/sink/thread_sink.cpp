#include "sink/thread_sink.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace rawconv {

// The thread and what it shares with the writer. Everything below the mutex
// is read and written under it.
struct ThreadSink::Worker {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable changed;
  const char* block = nullptr;  // handed over, not yet passed on
  size_t length = 0;
  bool busy = false;            // a block is waiting or being passed on
  bool stop = false;            // no more blocks: end the thread
  bool failed = false;          // the next sink refused a block
};

ThreadSink::ThreadSink(Sink* next, size_t block_size)
    : next_(next), block_size_(block_size > 0 ? block_size : kBlockSize) {}

ThreadSink::~ThreadSink() {
  if (!done_) Abort();
  StopWorker();
  std::free(blocks_[0]);
  std::free(blocks_[1]);
}

bool ThreadSink::Write(const char* data, size_t length) {
  if (failed_ || done_) return false;
  while (length > 0) {
    if (blocks_[filling_] == nullptr) {
      blocks_[filling_] = static_cast<char*>(std::malloc(block_size_));
      if (blocks_[filling_] == nullptr) {
        failed_ = true;
        return false;
      }
    }
    const size_t n = length < block_size_ - held_ ? length : block_size_ - held_;
    std::memcpy(blocks_[filling_] + held_, data, n);
    held_ += n;
    data += n;
    length -= n;
    if (held_ == block_size_ && !HandOver()) return false;
  }
  return true;
}

bool ThreadSink::HandOver() {
  const char* block = blocks_[filling_];
  const size_t length = held_;
  held_ = 0;
  if (worker_ == nullptr && !thread_tried_) {
    thread_tried_ = true;  // one attempt per output
    std::unique_ptr<Worker> w(new Worker);
    Worker* shared = w.get();
    Sink* next = next_;
    auto run = [next, shared] {
      std::unique_lock<std::mutex> lock(shared->mutex);
      while (true) {
        shared->changed.wait(lock, [shared] { return shared->busy || shared->stop; });
        if (!shared->busy) return;  // stopped with nothing left
        const char* todo = shared->block;
        const size_t todo_length = shared->length;
        const bool skip = shared->failed;
        lock.unlock();
        const bool ok = skip || next->Write(todo, todo_length);
        lock.lock();
        if (!ok) shared->failed = true;
        shared->busy = false;
        shared->changed.notify_all();
      }
    };
    try {
      w->thread = std::thread(run);
      worker_ = std::move(w);
      threaded_ = true;
    } catch (const std::system_error&) {
      // passed on by the caller from here on
    }
  }
  if (worker_ == nullptr) {
    if (!next_->Write(block, length)) failed_ = true;
    return !failed_;
  }
  Worker& w = *worker_;
  std::unique_lock<std::mutex> lock(w.mutex);
  w.changed.wait(lock, [&w] { return !w.busy; });
  if (w.failed) {
    failed_ = true;
    return false;
  }
  w.block = block;
  w.length = length;
  w.busy = true;
  w.changed.notify_all();
  filling_ ^= 1;  // the thread has this block; fill the other one
  return true;
}

void ThreadSink::StopWorker() {
  if (worker_ == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(worker_->mutex);
    worker_->stop = true;
    worker_->changed.notify_all();
  }
  worker_->thread.join();
  if (worker_->failed) failed_ = true;
  worker_.reset();
}

bool ThreadSink::Finish() {
  if (done_) return false;
  if (!failed_ && held_ > 0) {
    // The last block: to the thread when there is one, else passed on here
    // (an output of one block never starts a thread).
    if (worker_ != nullptr) {
      HandOver();
    } else if (!next_->Write(blocks_[filling_], held_)) {
      failed_ = true;
    }
    held_ = 0;
  }
  StopWorker();
  done_ = true;
  if (failed_) {
    next_->Abort();
    return false;
  }
  return next_->Finish();
}

void ThreadSink::Abort() {
  StopWorker();
  held_ = 0;
  done_ = true;
  next_->Abort();
}

}  // namespace rawconv
