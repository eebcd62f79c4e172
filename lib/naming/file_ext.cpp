#include "naming/file_ext.h"

#include <cctype>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#if !defined(_WIN32)
#include <dirent.h>
#endif

#include "io/input_file.h"
#include "naming/path.h"

namespace rawconv {
namespace {

char LowerAscii(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Writes ext into out in the letter case that convert gives each character.
void WriteExt(char* out, const char* ext, size_t ext_length, char (*convert)(char)) {
  for (size_t i = 0; i < ext_length; ++i) out[i] = convert(ext[i]);
  out[ext_length] = '\0';
}

#if !defined(_WIN32)

char UpperAscii(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool IsFile(const struct stat& st) { return !S_ISDIR(st.st_mode); }

bool IsFileAt(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && IsFile(st);
}

bool SameTextIgnoringCase(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// Step 3 of the lookup: out holds the folder, the base name and ext (in some
// spelling) from base_at on. Scans the folder for files named by the base
// name and ext in any case; on a find, out's extension becomes the smallest
// such spelling. true when one was found.
bool FindInFolder(char* out, size_t base_at, size_t ext_length) {
  const size_t base_length = std::strlen(out + base_at) - ext_length;
  char* const out_ext = out + base_at + base_length;
  DIR* dir = nullptr;
  if (base_at == 0) {
    dir = opendir(".");
  } else {
    // The folder is out's text up to its last slash, that slash included
    // ("/" for a file in the root folder).
    const char kept = out[base_at];
    out[base_at] = '\0';
    dir = opendir(out);
    out[base_at] = kept;
  }
  if (dir == nullptr) return false;
  const int dir_fd = dirfd(dir);
  bool found = false;
  while (const struct dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strlen(name) != base_length + ext_length) continue;
    if (std::memcmp(name, out + base_at, base_length) != 0) continue;
    const char* name_ext = name + base_length;
    if (!SameTextIgnoringCase(name_ext, out_ext, ext_length)) continue;
    if (found && std::memcmp(name_ext, out_ext, ext_length) >= 0) continue;
    struct stat st;
    if (dir_fd < 0 || fstatat(dir_fd, name, &st, 0) != 0 || !IsFile(st)) continue;
    std::memcpy(out_ext, name_ext, ext_length);
    found = true;
  }
  closedir(dir);
  return found;
}

#endif  // !_WIN32

// Whether path names something that is not a folder.
bool ExistsAsFile(const char* path) {
#if defined(_WIN32)
  struct _stati64 st;
  return _stati64(path, &st) == 0 && (st.st_mode & _S_IFDIR) == 0;
#else
  return IsFileAt(path);
#endif
}

// Length of path without the extension of its last component. The paths
// the front end passes separate their folders with backslashes; slashes are
// accepted too so that POSIX paths name their files the same way.
size_t StemLength(const char* path) {
  return WithoutExtensionLength(path, PathRule::kEitherSlash);
}

}  // namespace

int SetFileExt(char* path, const char* ext, size_t capacity) {
  size_t lead = 0;
  while (path[lead] == ' ') ++lead;
  if (lead > 0) std::memmove(path, path + lead, std::strlen(path + lead) + 1);

  const size_t stem = StemLength(path);
  size_t ext_len = std::strlen(ext);
  if (stem + ext_len + 1 > capacity) return 1;
  std::memcpy(path + stem, ext, ext_len + 1);
  return 0;
}

int SetFileExt(std::string* path, const char* ext, size_t capacity) {
  const size_t lead = path->find_first_not_of(' ');
  path->erase(0, lead);
  const size_t stem = StemLength(path->c_str());
  const size_t ext_len = std::strlen(ext);
  if (capacity != 0 && stem + ext_len + 1 > capacity) return 1;
  path->resize(stem);
  path->append(ext);
  return 0;
}

int FindFileAnyCaseExt(const char* stem, size_t stem_length, const char* ext, char* out,
                       size_t size) {
  const size_t ext_length = std::strlen(ext);
  if (size == 0) return 1;
  if (stem_length > size - 1 || ext_length > size - 1 - stem_length) {
    out[0] = '\0';
    return 1;
  }
  std::memcpy(out, stem, stem_length);
  char* const out_ext = out + stem_length;
  WriteExt(out_ext, ext, ext_length, LowerAscii);
#if !defined(_WIN32)
  if (IsFileAt(out)) return 0;
  WriteExt(out_ext, ext, ext_length, UpperAscii);
  if (IsFileAt(out)) return 0;
  size_t base_at = stem_length;  // the base name follows the last slash
  while (base_at > 0 && !IsPathSeparator(out[base_at - 1])) --base_at;
  if (FindInFolder(out, base_at, ext_length)) return 0;
  // None exists: the lower-case spelling.
  WriteExt(out_ext, ext, ext_length, LowerAscii);
#endif
  return 0;
}

size_t WithoutGzipSuffixLength(const char* path) {
  const size_t length = std::strlen(path);
  return HasGzipSuffix(path) ? length - 3 : length;
}

std::string InputStemOf(const char* path) {
  const std::string name(path, WithoutGzipSuffixLength(path));
  return StemOf(name.c_str(), PathRule::kEitherSlash);
}

int FindInputFileAnyCaseExt(const char* stem, size_t stem_length, const char* ext, char* out,
                            size_t size) {
  if (FindFileAnyCaseExt(stem, stem_length, ext, out, size) != 0) return 1;
  if (ExistsAsFile(out) || CurrentInputRules() != InputRules::kCurrent) return 0;
  const std::string packed = std::string(ext) + ".gz";
  std::vector<char> other(size > 0 ? size : 1);
  if (FindFileAnyCaseExt(stem, stem_length, packed.c_str(), other.data(), other.size()) == 0 &&
      ExistsAsFile(other.data())) {
    std::memcpy(out, other.data(), std::strlen(other.data()) + 1);
  }
  return 0;
}

int FindBesideFile(const char* gpb_path, const char* ext, char* out, size_t size) {
  // Leading blanks are no part of the name, as for SetFileExt; nor is the
  // ".gz" of a gzip input.
  while (*gpb_path == ' ') ++gpb_path;
  const std::string name(gpb_path, WithoutGzipSuffixLength(gpb_path));
  return FindInputFileAnyCaseExt(name.c_str(), StemLength(name.c_str()), ext, out, size);
}

std::string BesideFile(const char* gpb_path, const char* ext) {
  std::vector<char> out(std::strlen(gpb_path) + std::strlen(ext) + 4);
  if (FindBesideFile(gpb_path, ext, out.data(), out.size()) != 0) return std::string();
  return out.data();
}

}  // namespace rawconv
