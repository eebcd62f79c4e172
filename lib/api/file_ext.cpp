#include "api/file_ext.h"

#include <cstring>

namespace rawconv {

int SetFileExt(char* path, const char* ext, size_t capacity) {
  size_t lead = 0;
  while (path[lead] == ' ') ++lead;
  if (lead > 0) std::memmove(path, path + lead, std::strlen(path + lead) + 1);

  // A "." after the last separator starts the extension. The backslash is the
  // separator of the paths the front end passes; the slash is accepted too so
  // that POSIX paths name their files the same way.
  char* dot = std::strrchr(path, '.');
  const char* back = std::strrchr(path, '\\');
  const char* slash = std::strrchr(path, '/');
  const char* sep = back > slash ? back : slash;
  size_t stem = std::strlen(path);
  if (dot && (!sep || dot > sep)) stem = static_cast<size_t>(dot - path);

  size_t ext_len = std::strlen(ext);
  if (stem + ext_len + 1 > capacity) return 1;
  std::memcpy(path + stem, ext, ext_len + 1);
  return 0;
}

}  // namespace rawconv
