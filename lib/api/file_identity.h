// Whether two paths name the same file, by the file's identity rather than
// by the spelling of the paths: hard links, symbolic links, "./x" and
// "../dir/x" all name one file. Used before an output file is opened for
// writing, so that a conversion never truncates one of its own inputs.
#ifndef RAWCONV_API_FILE_IDENTITY_H_
#define RAWCONV_API_FILE_IDENTITY_H_

#include <cstdint>

namespace rawconv {

// The identity of an existing file: on POSIX systems the device and inode
// numbers, on Windows the volume serial number and the file index.
struct FileIdentity {
  uint64_t Volume;
  uint64_t Index;
};

// 0 with *id filled when path names an existing file (links followed); 1
// when it names nothing that can be inspected (missing, empty path, no
// permission to look).
int GetFileIdentity(const char* path, FileIdentity* id);

// true when both paths name the same existing file; false when they differ
// or either cannot be inspected.
bool SameFile(const char* a, const char* b);

// Size of a file in bytes; 0 when it cannot be read.
uint64_t FileSizeOf(const char* path);

}  // namespace rawconv

#endif  // RAWCONV_API_FILE_IDENTITY_H_
