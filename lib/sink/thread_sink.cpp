#include "sink/thread_sink.h"

#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace rawconv {

#if !defined(_WIN32)

// The thread and what it shares with the writer. Everything below the mutex
// is read and written under it. Blocks go round the ring in order: the
// writer hands over block after block, the thread passes them on in the
// same order, so the blocks in flight are always the ones handed over last.
struct ThreadSink::Worker {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable work;  // the thread waits here
  std::condition_variable room;  // the writer waits here for a free block
  size_t lengths[kRing] = {};
  int first = 0;       // oldest waiting block
  int waiting = 0;     // blocks handed over, not yet taken by the thread
  int taking = 0;      // blocks the thread is passing on now
  bool stop = false;   // no more blocks: pass on what waits, then end
  bool drop = false;   // aborted: end without passing anything on
  bool failed = false; // the next sink refused a block; the rest are dropped
};

// Passes each batch on outside the lock.
void ThreadSink::PassOn(Worker* w, Sink* next, char* const* blocks) {
  std::unique_lock<std::mutex> lock(w->mutex);
  while (true) {
    w->work.wait(lock, [w] { return w->waiting >= kWakeBatch || w->stop || w->drop; });
    if (w->drop || w->waiting == 0) return;  // aborted, or stopped with nothing left
    const int first = w->first;
    const int count = w->waiting;
    w->first = (first + count) % kRing;
    w->waiting = 0;
    w->taking = count;
    bool ok = !w->failed;
    lock.unlock();
    for (int i = 0; i < count && ok; ++i) {
      const int b = (first + i) % kRing;
      ok = next->Write(blocks[b], w->lengths[b]);
    }
    lock.lock();
    if (!ok) w->failed = true;
    w->taking = 0;
    w->room.notify_one();
  }
}

#else  // the Windows build: its compiler's thread model has no std::thread

// Every block is passed on from the caller's thread.
struct ThreadSink::Worker {};
void ThreadSink::PassOn(Worker*, Sink*, char* const*) {}

#endif

ThreadSink::ThreadSink(Sink* next, size_t block_size)
    : next_(next), block_size_(block_size > 0 ? block_size : kBlockSize) {}

ThreadSink::~ThreadSink() {
  if (!done_) Abort();
  StopWorker();
  std::free(ring_);
}

bool ThreadSink::Write(const char* data, size_t length) {
  if (failed_ || done_) return false;
  if (ring_ == nullptr && length > 0) {
    // The ring in one piece: the allocator then keeps its memory for the
    // next output instead of handing each block back to the system, which
    // made a batch of small files spend its time in page faults (16 blocks
    // of 128 KB, one at a time, were returned and faulted in again for
    // every file). Pages are touched only as blocks fill.
    ring_ = static_cast<char*>(std::malloc(kRing * block_size_));
    if (ring_ == nullptr) {
      failed_ = true;
      return false;
    }
    for (int i = 0; i < kRing; ++i) blocks_[i] = ring_ + static_cast<size_t>(i) * block_size_;
  }
  while (length > 0) {
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
  const size_t length = held_;
  held_ = 0;
#if !defined(_WIN32)
  if (worker_ == nullptr && !thread_tried_) {
    thread_tried_ = true;  // one attempt per output
    std::unique_ptr<Worker> w(new Worker);
    try {
      w->thread = std::thread(PassOn, w.get(), next_, blocks_);
      worker_ = std::move(w);
      threaded_ = true;
    } catch (const std::system_error&) {
      // passed on by the caller from here on
    }
  }
#endif
  if (worker_ == nullptr) {
    if (!next_->Write(blocks_[filling_], length)) failed_ = true;
    return !failed_;
  }
#if !defined(_WIN32)
  Worker& w = *worker_;
  std::unique_lock<std::mutex> lock(w.mutex);
  if (w.failed) {
    failed_ = true;
    return false;
  }
  w.lengths[filling_] = length;
  ++w.waiting;
  if (w.waiting >= kWakeBatch) w.work.notify_one();
  // The next block of the ring is free unless every block is in flight.
  w.room.wait(lock, [&w] { return w.waiting + w.taking < kRing; });
  filling_ = (filling_ + 1) % kRing;
#endif
  return true;
}

void ThreadSink::StopWorker() {
  if (worker_ == nullptr) return;
#if !defined(_WIN32)
  {
    std::lock_guard<std::mutex> lock(worker_->mutex);
    worker_->stop = true;
    worker_->work.notify_one();
  }
  worker_->thread.join();
  if (worker_->failed) failed_ = true;
#endif
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
#if !defined(_WIN32)
  if (worker_ != nullptr) {
    std::lock_guard<std::mutex> lock(worker_->mutex);
    worker_->drop = true;
    worker_->work.notify_one();
  }
#endif
  StopWorker();
  held_ = 0;
  done_ = true;
  next_->Abort();
}

}  // namespace rawconv
