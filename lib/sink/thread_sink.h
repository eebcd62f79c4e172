// A stage of an output chain that runs the rest of the chain on a thread of
// its own: the writer's bytes are gathered into blocks of kBlockSize, and
// while the writer fills one block the thread passes the other on to the
// next sink. The two cores then share the formatting and what follows it:
// the compression, the kernel's work of taking the bytes into a file.
//
//   writer -> ThreadSink -> FileSink
//   writer -> [CrxSink ->] ThreadSink -> GzipSink -> FileSink
//
// An output of one block or less never starts the thread: Finish passes it
// on from the caller's thread. When a thread cannot be started the blocks
// are passed on by the caller. A failure of the next sink on the thread is
// reported by the next Write or by Finish. Memory: two blocks.
#ifndef RAWCONV_SINK_THREAD_SINK_H_
#define RAWCONV_SINK_THREAD_SINK_H_

#include <cstddef>
#include <memory>

#include "sink/sink.h"

namespace rawconv {

class ThreadSink final : public Sink {
 public:
  // 128 KB: measured against 1 MB on the synthetic day, a block small
  // enough to stay in the cache between the writer and the thread is
  // faster (0.175 s against 0.18 s, 0.19 s without the thread).
  static constexpr size_t kBlockSize = 128 * 1024;

  // next must outlive this sink. block_size: the bytes of each hand-over
  // (kBlockSize unless the next sink works in blocks of its own: a stage in
  // front of a compressor hands over one compressor block at a time, so
  // that the writer fills a whole block while the thread compresses one).
  explicit ThreadSink(Sink* next, size_t block_size = kBlockSize);
  ~ThreadSink() override;
  ThreadSink(const ThreadSink&) = delete;
  ThreadSink& operator=(const ThreadSink&) = delete;

  bool Write(const char* data, size_t length) override;
  // Passes the last block on, waits for the thread, then finishes the next
  // sink. false (the chain aborted) when any block could not be passed on.
  bool Finish() override;
  // Waits for the block under way, ends the thread and aborts the next sink.
  void Abort() override;

  // True once the thread has been started (tests).
  bool Threaded() const { return threaded_; }

 private:
  struct Worker;
  bool HandOver();  // the full block to the thread (or to next_ without one)
  void StopWorker();

  Sink* next_;
  size_t block_size_;
  char* blocks_[2] = {nullptr, nullptr};  // allocated as they are needed
  size_t held_ = 0;  // bytes in blocks_[filling_]
  int filling_ = 0;
  bool failed_ = false;
  bool done_ = false;  // Finish or Abort has run
  bool thread_tried_ = false;
  bool threaded_ = false;
  std::unique_ptr<Worker> worker_;
};

}  // namespace rawconv

#endif  // RAWCONV_SINK_THREAD_SINK_H_
