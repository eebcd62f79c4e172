// A sink that keeps what it gets in memory, and can be told to fail.
#ifndef RAWCONV_TESTS_SINK_MEMORY_SINK_H_
#define RAWCONV_TESTS_SINK_MEMORY_SINK_H_

#include <string>

#include "sink/sink.h"

namespace rawconv_test {

class MemorySink final : public rawconv::Sink {
 public:
  bool Write(const char* data, size_t length) override {
    if (fail_writes_ || writes == fail_after_writes) return false;
    ++writes;
    text.append(data, length);
    return true;
  }
  bool Finish() override {
    finished = true;
    return !fail_writes_;
  }
  void Abort() override { aborted = true; }

  bool fail_writes_ = false;
  int fail_after_writes = -1;  // the writes that succeed before all fail (-1: no limit)
  int writes = 0;
  bool finished = false;
  bool aborted = false;
  std::string text;
};

}  // namespace rawconv_test

#endif  // RAWCONV_TESTS_SINK_MEMORY_SINK_H_
