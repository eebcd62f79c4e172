// Character reads of the text readers (EPP files, blocks).
#ifndef RAWCONV_EPHEM_STREAM_CHAR_H_
#define RAWCONV_EPHEM_STREAM_CHAR_H_

#include <cstdio>

namespace rawconv {

// The next character of a stream, as getc. The readers' streams are each
// used by one thread at a time, so on POSIX systems the stream's lock is
// not taken for every character: an ephemeris file of a day is read a
// character at a time, and the lock was most of the cost.
inline int ReadChar(std::FILE* stream) {
#if defined(_WIN32)
  return std::getc(stream);
#else
  return getc_unlocked(stream);
#endif
}

}  // namespace rawconv

#endif  // RAWCONV_EPHEM_STREAM_CHAR_H_
