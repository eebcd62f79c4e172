// The front end's data model: the file table and everything else the dialog
// program keeps while it runs, in one struct.
#ifndef WRAWCONV_FRONT_END_H_
#define WRAWCONV_FRONT_END_H_

#include <cstddef>
#include <cstdint>

#include "api/rawconv.h"

namespace rawconv {

constexpr int kMaxFiles = 16;

// One slot of the file table. A packed byte layout without gaps; texts are
// NUL-terminated inside their arrays. A free slot is all zero.
#pragma pack(push, 1)
struct FileEntry {
  uint8_t InUse;          // 1 = the slot holds a file
  char Path[256];         // directory, a backslash and the file name; the list line
  char FileName[64];      // the name as the open-file dialog returned it
  char StationName[68];   // the station dialog stores at most 49 characters
  float AntHeight;        // metres
  uint8_t UseAltEph;      // 1 = convert with AltEphFile
  char AltEphFile[256];   // the station dialog stores at most 254 characters
};
#pragma pack(pop)

static_assert(offsetof(FileEntry, InUse) == 0, "InUse");
static_assert(offsetof(FileEntry, Path) == 1, "Path");
static_assert(offsetof(FileEntry, FileName) == 257, "FileName");
static_assert(offsetof(FileEntry, StationName) == 321, "StationName");
static_assert(offsetof(FileEntry, AntHeight) == 389, "AntHeight");
static_assert(offsetof(FileEntry, UseAltEph) == 393, "UseAltEph");
static_assert(offsetof(FileEntry, AltEphFile) == 394, "AltEphFile");
static_assert(sizeof(FileEntry) == 650, "FileEntry size");

// Entries of the conversion library, found by their export names.
using GpbToRinexVerEntry = int32_t(RAWCONV_CALL*)(ObsRequest*, NavRequest*, int32_t);
using GetErrorStrEntry = int32_t(RAWCONV_CALL*)(char*);

// Room for message box texts and the library's error text (which needs 256).
constexpr size_t kMessageTextSize = 512;
// Room for the directory of the last chosen file.
constexpr size_t kLastDirSize = 256;

// Everything the front end keeps while it runs. All zero at start.
struct FrontEnd {
  void* Instance;                    // the program's module handle
  void* Library;                     // rawconv, loaded during a Convert command only
  GpbToRinexVerEntry GpbToRinexVer;  // looked up at each Convert
  GetErrorStrEntry GetErrorStr;      // looked up at each Convert
  ObsRequest Obs;                    // filled before each call, reused for every file
  NavRequest Nav;
  char MessageText[kMessageTextSize];
  FileEntry FileTable[kMaxFiles];
  int FileCount;                     // slots in use, 0..16
  char LastDir[kLastDirSize];        // both open-file dialogs start here
  int CurrentStation;                // slot edited by the open station dialog
};

}  // namespace rawconv

#endif  // WRAWCONV_FRONT_END_H_
