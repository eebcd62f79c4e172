#include "sink/thread_sink.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace rawconv {

// The values of the epochs handed while a block filled, flat, so that the
// arrays keep their room from one round of the ring to the next.
struct SlotValues {
  struct Kept {
    EpochValues epoch;  // the arrays set when passed on
    size_t at;          // where its values start in values and flags
    size_t present_at;  // in present
    size_t named_at;    // in names (three characters a record)
  };
  std::vector<Kept> epochs;
  std::vector<int64_t> values;
  std::vector<char> flags;
  std::vector<uint8_t> present;
  std::vector<char> names;
};

bool ThreadSink::PassValuesOn(Sink* next, SlotValues* slot) {
  bool ok = true;
  for (const SlotValues::Kept& kept : slot->epochs) {
    EpochValues e = kept.epoch;
    if (e.Values != nullptr) {
      e.Values = slot->values.data() + kept.at;
      e.Flags = slot->flags.data() + 2 * kept.at;
      if (e.Present != nullptr) e.Present = slot->present.data() + kept.present_at;
      if (e.Names != nullptr) e.Names = slot->names.data() + 3 * kept.named_at;
    } else {
      e.Flags = nullptr;
      e.Present = nullptr;
      e.Names = nullptr;
    }
    if (ok) ok = next->Values(e);
  }
  slot->epochs.clear();
  slot->values.clear();
  slot->flags.clear();
  slot->present.clear();
  slot->names.clear();
  return ok;
}

#if !defined(_WIN32)

// The threads and what they share with the writer. Everything below the
// mutex is read and written under it. Blocks go round the ring in order:
// the writer hands over block after block, the threads pass them on in the
// same order, so the blocks in flight are always the ones handed over last.
//
// Without coders one thread takes every waiting block at once (first,
// waiting, taking). With coders the blocks are counted from the first:
// block n lies in ring slot n % kRing; `taken` blocks have been taken by a
// coder thread and `passed` passed on, and block n is passed on only when
// passed == n.
struct ThreadSink::Worker {
  std::vector<std::thread> threads;
  std::mutex mutex;
  std::condition_variable work;  // the threads wait here for blocks
  std::condition_variable room;  // the writer waits here for a free block
  std::condition_variable turn;  // coder threads wait here to pass theirs on
  size_t lengths[kRing] = {};
  int first = 0;       // oldest waiting block
  int waiting = 0;     // blocks handed over, not yet taken by the thread
  int taking = 0;      // blocks the thread is passing on now
  uint64_t handed = 0;  // with coders: blocks handed over,
  uint64_t taken = 0;   // taken by a coder thread,
  uint64_t passed = 0;  // and passed on (or dropped after a failure)
  bool stop = false;   // no more blocks: pass on what waits, then end
  bool drop = false;   // aborted: end without passing anything on
  bool failed = false; // the next sink refused a block; the rest are dropped

  // Blocks in flight, whose slots the writer may not fill.
  int InFlight(bool coders) const {
    return coders ? static_cast<int>(handed - passed) : waiting + taking;
  }
};

// Passes each batch on outside the lock.
void ThreadSink::PassOn(Worker* w, Sink* next, char* const* blocks, SlotValues* values) {
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
      if (values != nullptr) ok = PassValuesOn(next, &values[b]);
      if (ok) ok = next->Write(blocks[b], w->lengths[b]);
    }
    lock.lock();
    if (!ok) w->failed = true;
    w->taking = 0;
    w->room.notify_one();
  }
}

// Codes outside the lock; passes on outside it too, once every earlier
// block has been passed on (no other thread passes on meanwhile).
void ThreadSink::CodeAndPassOn(Worker* w, Sink* next, char* const* blocks, BlockCoder* coder) {
  std::unique_lock<std::mutex> lock(w->mutex);
  while (true) {
    w->work.wait(lock, [w] { return w->taken < w->handed || w->stop || w->drop; });
    if (w->drop || w->taken == w->handed) return;  // aborted, or stopped with nothing left
    const uint64_t n = w->taken++;
    const int slot = static_cast<int>(n % kRing);
    const size_t length = w->lengths[slot];
    bool ok = !w->failed;
    lock.unlock();
    const char* out = nullptr;
    size_t out_length = 0;
    if (ok) ok = coder->Code(blocks[slot], length, &out, &out_length);
    lock.lock();
    w->turn.wait(lock, [w, n] { return w->passed == n || w->drop; });
    if (w->drop) return;
    if (ok && !w->failed) {
      lock.unlock();
      ok = next->Write(out, out_length);
      lock.lock();
    }
    if (!ok) w->failed = true;
    ++w->passed;
    w->turn.notify_all();
    w->room.notify_one();
  }
}

#else  // the Windows build: its compiler's thread model has no std::thread

// Every block is passed on from the caller's thread.
struct ThreadSink::Worker {};
void ThreadSink::PassOn(Worker*, Sink*, char* const*, SlotValues*) {}
void ThreadSink::CodeAndPassOn(Worker*, Sink*, char* const*, BlockCoder*) {}

#endif

ThreadSink::ThreadSink(Sink* next, size_t block_size)
    : next_(next), block_size_(block_size > 0 ? block_size : kBlockSize) {}

ThreadSink::ThreadSink(Sink* next, size_t block_size,
                       std::vector<std::unique_ptr<BlockCoder>> coders)
    : next_(next), block_size_(block_size > 0 ? block_size : kBlockSize),
      coders_(std::move(coders)) {}

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

bool ThreadSink::Values(const EpochValues& values) {
  if (failed_ || done_) return false;
  if (!WantsValues()) return true;
  // Only the writer's thread touches the slot being filled; the thread
  // reads a slot only once its block has been handed over.
  if (values_ == nullptr) values_.reset(new SlotValues[kRing]);
  SlotValues& slot = values_[filling_];
  SlotValues::Kept kept{values, slot.values.size(), slot.present.size(), slot.names.size() / 3};
  if (values.Values != nullptr) {
    const size_t n = static_cast<size_t>(values.Satellites) * static_cast<size_t>(values.Types);
    slot.values.insert(slot.values.end(), values.Values, values.Values + n);
    slot.flags.insert(slot.flags.end(), values.Flags, values.Flags + 2 * n);
    if (values.Present != nullptr)
      slot.present.insert(slot.present.end(), values.Present, values.Present + n);
    if (values.Names != nullptr)
      slot.names.insert(slot.names.end(), values.Names,
                        values.Names + 3 * static_cast<size_t>(values.Satellites));
  }
  slot.epochs.push_back(kept);
  return true;
}

bool ThreadSink::PassOnHere(const char* block, size_t length) {
  if (values_ != nullptr && !PassValuesOn(next_, &values_[filling_])) return false;
  if (coders_.empty()) return next_->Write(block, length);
  const char* out = nullptr;
  size_t out_length = 0;
  return coders_[0]->Code(block, length, &out, &out_length) && next_->Write(out, out_length);
}

// One attempt per output. True when at least one thread runs; threads
// that cannot be started leave their coders unused.
bool ThreadSink::StartThreads() {
#if !defined(_WIN32)
  // The thread is given the slots' values from its start.
  if (values_ == nullptr && WantsValues()) values_.reset(new SlotValues[kRing]);
  std::unique_ptr<Worker> w(new Worker);
  try {
    if (coders_.empty()) {
      w->threads.emplace_back(PassOn, w.get(), next_, blocks_, values_.get());
    } else {
      for (std::unique_ptr<BlockCoder>& coder : coders_)
        w->threads.emplace_back(CodeAndPassOn, w.get(), next_, blocks_, coder.get());
    }
  } catch (const std::system_error&) {
    // passed on by the threads started, or by the caller when none was
  }
  if (w->threads.empty()) return false;
  worker_ = std::move(w);
  threaded_ = true;
  return true;
#else
  return false;
#endif
}

bool ThreadSink::HandOver() {
  const size_t length = held_;
  held_ = 0;
  if (worker_ == nullptr && !thread_tried_) {
    thread_tried_ = true;
    StartThreads();
  }
  if (worker_ == nullptr) {
    if (!PassOnHere(blocks_[filling_], length)) failed_ = true;
    return !failed_;
  }
#if !defined(_WIN32)
  Worker& w = *worker_;
  const bool coders = !coders_.empty();
  std::unique_lock<std::mutex> lock(w.mutex);
  if (w.failed) {
    failed_ = true;
    return false;
  }
  w.lengths[filling_] = length;
  if (coders) {
    ++w.handed;
    w.work.notify_one();
  } else {
    ++w.waiting;
    if (w.waiting >= kWakeBatch) w.work.notify_one();
  }
  // The next block of the ring is free unless every block is in flight.
  w.room.wait(lock, [&w, coders] { return w.InFlight(coders) < kRing; });
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
    worker_->work.notify_all();
  }
  for (std::thread& t : worker_->threads) t.join();
  if (worker_->failed) failed_ = true;
#endif
  worker_.reset();
}

bool ThreadSink::Finish() {
  if (done_) return false;
  // The last block (and a coded output's one block when nothing came, that
  // is, when the ring was never needed): to the threads when there are
  // some, else passed on here (an output of one block never starts a thread).
  if (!failed_ && (held_ > 0 || (!coders_.empty() && ring_ == nullptr))) {
    if (worker_ != nullptr) {
      HandOver();
    } else if (!PassOnHere(ring_ != nullptr ? blocks_[filling_] : "", held_)) {
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
    worker_->work.notify_all();
    worker_->turn.notify_all();
  }
#endif
  StopWorker();
  held_ = 0;
  done_ = true;
  next_->Abort();
}

}  // namespace rawconv
