// The file list of the main dialog: the 16-slot table behind list box 111,
// the Add, Edit and Delete commands, and the station dialog that gives each
// file its station name, antenna height and optional alternate ephemeris.
#ifndef WRAWCONV_FILE_LIST_H_
#define WRAWCONV_FILE_LIST_H_

#include <cstddef>

#include "app/front_end.h"
#include "app/platform.h"

namespace rawconv {

// Result buffer of the Add open-file dialog and of BrowseAltEphemeris.
constexpr size_t kAddResultSize = 1024;
constexpr size_t kBrowseResultSize = 256;

// The first slot (lowest number) whose Path equals text byte for byte, or -1.
int FindFileEntry(const FrontEnd& app, const char* text);

// Splits path after its last backslash: dir gets everything up to and
// including that backslash (empty when there is none), name the rest.
// Returns 0, or 1 when a part does not fit (that part is then empty).
int SplitPath(const char* path, char* dir, size_t dir_size, char* name, size_t name_size);

// Add command (112): picks files with the open-file dialog, puts each into
// the lowest free slot and the list box, and opens the station dialog for it.
void AddFiles(Platform& platform, FrontEnd& app, DialogRef main_dialog);

// Edit command (113): opens the station dialog for the selected line's slot.
void EditFileEntry(Platform& platform, FrontEnd& app, DialogRef main_dialog);

// Delete command (114): frees the selected line's slot and removes the line.
void DeleteFileEntry(Platform& platform, FrontEnd& app, DialogRef main_dialog);

// The station dialog: initialisation for table slot `slot`, and its
// commands (OK, Cancel, the check box 120, Browse). StationDialogCommand
// returns true when it handled the command.
void StationDialogInit(Platform& platform, FrontEnd& app, DialogRef dialog, int slot);
bool StationDialogCommand(Platform& platform, FrontEnd& app, DialogRef dialog, int id);

// Runs the alternate-ephemeris open-file dialog into buffer (256 bytes,
// emptied by the caller). When a file was chosen, LastDir becomes its
// directory with the trailing backslash. Returns nonzero when a file was
// chosen.
int BrowseAltEphemeris(Platform& platform, FrontEnd& app, DialogRef owner, char* buffer);

}  // namespace rawconv

#endif  // WRAWCONV_FILE_LIST_H_
