// The extension rule shared by the library's output naming and the front
// end's request filling.
#ifndef RAWCONV_API_FILE_EXT_H_
#define RAWCONV_API_FILE_EXT_H_

#include <cstddef>

namespace rawconv {

// Removes leading blanks from path (in place), then replaces the extension
// of its last component by ext (which begins with "."), or appends ext when
// that component has none. Components are separated by backslashes (and,
// outside Windows paths, slashes). path holds capacity bytes; returns 0, or 1
// when the result would not fit (path is then left with its blanks removed).
int SetFileExt(char* path, const char* ext, size_t capacity = 256);

}  // namespace rawconv

#endif  // RAWCONV_API_FILE_EXT_H_
