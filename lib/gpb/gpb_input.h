// GpbInput: sequential reading of a GPB file in large blocks.
//
// The records of a GPB file are small (84 to 1428 bytes) and are read one
// after the other. Instead of a library call per record, the input keeps a
// window of the file in a buffer it owns and hands out records as pointers
// into that window; the file is read in blocks that grow from kFirstRead to
// kMaxRead bytes (a caller that reads one record touches little memory, a
// pass over a whole file makes few system calls). The file is announced to
// the system as read sequentially, where it can be. Memory stays the same
// whatever the file size: one buffer of kMaxRead + kMaxTake bytes plus the
// stream's own.
//
// The reads go through the caller's stdio stream: its buffer size and mode
// are the caller's business, and with a buffer smaller than a block the
// stream library reads straight into ours.
//
// Read-ahead (Attach's read_ahead): once the reads have grown to kMaxRead, a
// thread of the input reads the next block into a second buffer while the
// caller decodes the current one, so the kernel's copy of the file runs
// beside the decoding. The caller must then leave the stream alone between
// Attach and Detach (Seek, which waits for the read under way, is the way
// to move). The bytes handed out are the same either way. The Windows
// build always reads in line (its compiler's thread model has no
// std::thread).
#ifndef RAWCONV_GPB_GPB_INPUT_H_
#define RAWCONV_GPB_GPB_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace rawconv {

class GpbInput {
 public:
  // 256 KB blocks: a few hundred reads for a day of 1 Hz data, and a block
  // small enough to stay in the processor's cache between the copy out of
  // the kernel and the decoding.
  static constexpr size_t kFirstRead = 64 * 1024;
  static constexpr size_t kMaxRead = 256 * 1024;
  // Longest run of bytes Take hands out at once; a GPB record is shorter.
  static constexpr size_t kMaxTake = 16 * 1024;

  GpbInput();
  ~GpbInput();
  GpbInput(const GpbInput&) = delete;
  GpbInput& operator=(const GpbInput&) = delete;

  // Starts reading `stream` (positioned at `offset`, which is also where
  // Position() starts). The stream stays the caller's. False when the
  // buffer cannot be obtained; the input is then detached. read_ahead: see
  // above (when its thread or buffer cannot be had, reads stay in line).
  bool Attach(std::FILE* stream, uint64_t offset, bool read_ahead = false);
  // Ends any read-ahead, forgets the stream and releases the buffers.
  void Detach();

  // The next n bytes (n at most kMaxTake), valid until the next call of
  // Take or Seek, or nullptr when the file ends before them. After nullptr
  // every byte of the file has been consumed (as a short fread leaves a
  // stream at its end) and ShortBy() tells how many bytes were there.
  const uint8_t* Take(size_t n);

  // Bytes that were left when the last Take returned nullptr; 0 when the
  // file ended exactly at a record boundary.
  size_t ShortBy() const { return short_by_; }

  // Offset of the next byte Take hands out.
  uint64_t Position() const { return window_offset_ + static_cast<uint64_t>(next_); }

  // Moves to an absolute offset. A target inside the window costs nothing;
  // otherwise the stream is repositioned. False when that fails.
  bool Seek(uint64_t offset);

 private:
  struct Ahead;
  // Makes n bytes available from next_; false at the end of the file.
  bool Fill(size_t n);
  // Asks the read-ahead thread for the next kMaxRead bytes of the stream
  // (into the buffer not in use); starts the thread the first time.
  void StartAhead();
  // Waits for the read under way; returns the bytes it got.
  size_t WaitAhead();

  std::FILE* stream_ = nullptr;
  uint8_t* memory_[2] = {nullptr, nullptr};  // kCapacity bytes each
  int current_ = 0;             // the memory buffer_ points into
  bool read_ahead_ = false;
  bool ahead_pending_ = false;  // a read of the other buffer is under way
  std::unique_ptr<Ahead> ahead_;
  uint8_t* buffer_ = nullptr;   // the window: inside memory_[current_]
  size_t next_ = 0;             // first unconsumed byte of the window
  size_t end_ = 0;              // end of the valid bytes
  size_t read_size_ = 0;        // size of the next block read
  uint64_t window_offset_ = 0;  // file offset of buffer_[0]
  size_t short_by_ = 0;
  bool at_end_ = false;         // the stream reported the end of the file
};

// Size in bytes of the file behind an open stream, or 0 when it cannot be
// told. Works for files larger than 2 GB on every platform we build for.
uint64_t StreamFileSize(std::FILE* stream);

// Repositions a stream at an absolute offset (64-bit on every platform).
// 0 on success.
int SeekStream(std::FILE* stream, uint64_t offset);

}  // namespace rawconv

#endif  // RAWCONV_GPB_GPB_INPUT_H_
