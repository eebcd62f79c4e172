// A stage of an output chain that runs the rest of the chain on a thread of
// its own: the writer's bytes are gathered into blocks of kBlockSize, and
// while the writer fills one block the thread passes the other on to the
// next sink. The two cores then share the formatting and what follows it:
// the Compact RINEX encoding, the compression, the kernel's work of taking
// the bytes into a file.
//
//   writer -> ThreadSink -> FileSink
//   writer -> ThreadSink -> CrxSink -> FileSink
//   writer -> [ThreadSink -> CrxSink ->] ThreadSink (gzip coders) -> FileSink
//
// The blocks form a ring of kRing. The thread is woken when kWakeBatch
// blocks are waiting and then passes on all that wait, so that it sleeps
// and wakes once per few blocks rather than once per block (a wake-up is a
// system call and a switch on both sides); the writer waits only when every
// block of the ring is full. An output of one block or less never starts
// the thread: Finish passes it on from the caller's thread. When a thread
// cannot be started, and always in the Windows build (its compiler's
// thread model has no std::thread), the blocks are passed on by the
// caller. A failure of the next sink on the thread is reported by the next
// Write or by Finish. Memory: kRing blocks.
//
// With block coders (gzip members, sink/gzip_sink.h) the stage runs one
// thread per coder instead: each takes the oldest block not yet taken,
// codes it, waits until the blocks before it have been passed on, and
// passes its result on. The coded blocks so reach the next sink in the
// writer's order, and the output is the same bytes as one coder would
// make; several cores share the coding. Each block is woken for (coding a
// block takes far longer than a wake-up). Without threads the first coder
// codes every block on the caller's thread. An output that hands nothing
// over still codes one empty block (an empty gzip file is one empty member).
#ifndef RAWCONV_SINK_THREAD_SINK_H_
#define RAWCONV_SINK_THREAD_SINK_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sink/sink.h"

namespace rawconv {

// The epoch values kept with one block of the ring (sink/thread_sink.cpp).
struct SlotValues;

class ThreadSink final : public Sink {
 public:
  // Measured on the synthetic day (169 MB of RINEX 2.1, medians of 9
  // alternating runs): two blocks of 1 MB 0.180 s, two of 128 KB 0.175 s
  // (0.19 s without the thread); a ring of 128 KB blocks woken per batch
  // 0.142 s for 8 blocks woken per 4, 0.139 s for 16 per 8 and 32 per 16,
  // 0.155 s for 16 per 12 and 8 per 6 (the batch leaves the cache before
  // the thread copies it).
  static constexpr size_t kBlockSize = 128 * 1024;
  static constexpr int kRing = 16;
  static constexpr int kWakeBatch = 8;

  // next must outlive this sink. block_size: the bytes of each hand-over
  // (kBlockSize unless the next sink works in blocks of its own: a stage in
  // front of a compressor hands over one compressor block at a time, so
  // that the writer fills a whole block while the thread compresses one).
  explicit ThreadSink(Sink* next, size_t block_size = kBlockSize);
  // A stage that codes each block before passing it on, on one thread per
  // coder (at least one coder; coders.size() threads). block_size must be
  // one the coders take.
  ThreadSink(Sink* next, size_t block_size, std::vector<std::unique_ptr<BlockCoder>> coders);
  ~ThreadSink() override;
  ThreadSink(const ThreadSink&) = delete;
  ThreadSink& operator=(const ThreadSink&) = delete;

  bool Write(const char* data, size_t length) override;
  // Passes the last block on, waits for the thread, then finishes the next
  // sink. false (the chain aborted) when any block could not be passed on.
  bool Finish() override;
  // Ends the thread (blocks not yet passed on are dropped) and aborts the
  // next sink.
  void Abort() override;

  // Epoch values travel with the block being filled when they come (the
  // epoch's text is in it or in a later block) and are handed to the next
  // sink just before that block.
  bool WantsValues() const override { return coders_.empty() && next_->WantsValues(); }
  bool ValuesReplaceRecords() const override {
    return coders_.empty() && next_->ValuesReplaceRecords();
  }
  bool Values(const EpochValues& values) override;

  // True once the thread has been started (tests).
  bool Threaded() const { return threaded_; }

 private:
  struct Worker;
  // The thread's loop: waits for a batch of blocks and passes it on.
  static void PassOn(Worker* w, Sink* next, char* const* blocks, SlotValues* values);
  // A coder thread's loop: takes a block, codes it, passes it on in turn.
  static void CodeAndPassOn(Worker* w, Sink* next, char* const* blocks, BlockCoder* coder);
  bool HandOver();  // the full block to the thread (or to next_ without one)
  bool StartThreads();
  // The caller's way without threads: next_ gets the block (coded by the
  // first coder when there are coders).
  bool PassOnHere(const char* block, size_t length);
  void StopWorker();
  // Hands the values kept with ring slot b to next (and forgets them).
  static bool PassValuesOn(Sink* next, SlotValues* slot);

  Sink* next_;
  size_t block_size_;
  char* ring_ = nullptr;      // kRing blocks, allocated with the first bytes
  char* blocks_[kRing] = {};  // the blocks of the ring
  std::vector<std::unique_ptr<BlockCoder>> coders_;
  size_t held_ = 0;  // bytes in blocks_[filling_]
  int filling_ = 0;
  bool failed_ = false;
  bool done_ = false;  // Finish or Abort has run
  bool thread_tried_ = false;
  bool threaded_ = false;
  std::unique_ptr<Worker> worker_;
  // Per ring slot, the epoch values that go before its block.
  std::unique_ptr<SlotValues[]> values_;
};

}  // namespace rawconv

#endif  // RAWCONV_SINK_THREAD_SINK_H_
