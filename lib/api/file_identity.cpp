#include "api/file_identity.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace rawconv {

int GetFileIdentity(const char* path, FileIdentity* id) {
  if (path == nullptr || path[0] == '\0') return 1;
#if defined(_WIN32)
  // No access rights are asked for: the handle only serves the query, and
  // it opens even a file that another program holds open for writing.
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 1;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  if (!ok) return 1;
  id->Volume = info.dwVolumeSerialNumber;
  id->Index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
#else
  struct stat st;
  if (stat(path, &st) != 0) return 1;
  id->Volume = static_cast<uint64_t>(st.st_dev);
  id->Index = static_cast<uint64_t>(st.st_ino);
#endif
  return 0;
}

bool SameFile(const char* a, const char* b) {
  FileIdentity first{};
  FileIdentity second{};
  if (GetFileIdentity(a, &first) != 0 || GetFileIdentity(b, &second) != 0) return false;
  return first.Volume == second.Volume && first.Index == second.Index;
}

uint64_t FileSizeOf(const char* path) {
  if (path == nullptr || path[0] == '\0') return 0;
#if defined(_WIN32)
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
#else
  struct stat st;
  if (stat(path, &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
#endif
}

}  // namespace rawconv
