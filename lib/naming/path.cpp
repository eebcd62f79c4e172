#include "naming/path.h"

#include <cstring>

namespace rawconv {

bool IsPathSeparator(char c, PathRule rule) {
  if (c == '/') return true;
#if defined(_WIN32)
  (void)rule;
  return c == '\\';
#else
  return rule == PathRule::kEitherSlash && c == '\\';
#endif
}

size_t FileNameStart(const char* path, PathRule rule) {
  size_t start = 0;
  for (size_t i = 0; path[i] != '\0'; ++i)
    if (IsPathSeparator(path[i], rule)) start = i + 1;
  return start;
}

const char* FileNameOf(const char* path, PathRule rule) {
  return path + FileNameStart(path, rule);
}

std::string FolderOf(const char* path, PathRule rule) {
  return std::string(path, FileNameStart(path, rule));
}

std::string StemOf(const char* path, PathRule rule) {
  std::string name = FileNameOf(path, rule);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

size_t WithoutExtensionLength(const char* path, PathRule rule) {
  const size_t name = FileNameStart(path, rule);
  const char* dot = std::strrchr(path + name, '.');
  return dot != nullptr ? static_cast<size_t>(dot - path) : std::strlen(path);
}

std::string JoinPath(const std::string& folder, const char* name, PathRule rule) {
  std::string path = folder;
  if (!path.empty() && !IsPathSeparator(path.back(), rule)) path += '/';
  path += name;
  return path;
}

}  // namespace rawconv
