#include "app/file_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/resource.h"

namespace rawconv {
namespace {

const char kAddFilter[] = "GPS Raw Data (*.gpb)\0*.gpb\0All Files (*.*)\0*.*\0";
const char kEphemerisFilter[] = "Ephemeris File (*.epp)\0*.epp\0All Files (*.*)\0*.*\0";

// Copies text into a field of size bytes; false (and the field untouched)
// when it does not fit.
bool CopyIfFits(char* field, size_t size, const char* text) {
  size_t length = std::strlen(text);
  if (length >= size) return false;
  std::memcpy(field, text, length + 1);
  return true;
}

int LowestFreeSlot(const FrontEnd& app) {
  for (int slot = 0; slot < kMaxFiles; ++slot) {
    if (app.FileTable[slot].InUse == 0) return slot;
  }
  return -1;
}

void ShowMessage(Platform& platform, FrontEnd& app, DialogRef owner) {
  platform.ShowError(owner, app.MessageText, "ERROR");
}

// The slot of the selected list line, with that line's index; -1 when no
// line is selected or no slot matches.
int SelectedSlot(Platform& platform, const FrontEnd& app, DialogRef main_dialog, int* index) {
  *index = platform.SelectedListLine(main_dialog, IDC_FILE_LIST);
  if (*index < 0) return -1;
  char text[sizeof app.FileTable[0].Path + 1] = "";
  if (!platform.GetListLine(main_dialog, IDC_FILE_LIST, *index, text, sizeof text)) return -1;
  return FindFileEntry(app, text);
}

// Puts one chosen file into the lowest free slot (there is one) and the list
// box, then lets the user describe its station. Paths and names that do not
// fit their fields are refused with a message instead of being cut.
void AddOneFile(Platform& platform, FrontEnd& app, DialogRef main_dialog, const char* dir,
                const char* name) {
  FileEntry& entry = app.FileTable[LowestFreeSlot(app)];
  char path[kAddResultSize + 2] = "";
  // A drive's root comes back as "C:\" from a multiple selection: no second
  // backslash then.
  size_t dir_length = std::strlen(dir);
  const char* separator = (dir_length > 0 && dir[dir_length - 1] == '\\') ? "" : "\\";
  if (dir_length == 0) separator = "";
  const int length = std::snprintf(path, sizeof path, "%s%s%s", dir, separator, name);
  if (length < 0 || static_cast<size_t>(length) >= sizeof entry.Path ||
      std::strlen(name) >= sizeof entry.FileName) {
    // The message shows as much of the path as fits.
    if (std::snprintf(app.MessageText, sizeof app.MessageText,
                      "File name too long, it will be ignored: %s", path) < 0) {
      app.MessageText[0] = '\0';
    }
    ShowMessage(platform, app, main_dialog);
    return;
  }
  const int slot = static_cast<int>(&entry - app.FileTable);
  std::memset(&entry, 0, sizeof entry);
  entry.InUse = 1;
  CopyIfFits(entry.Path, sizeof entry.Path, path);
  CopyIfFits(entry.FileName, sizeof entry.FileName, name);
  app.FileCount += 1;
  platform.AddListLine(main_dialog, IDC_FILE_LIST, entry.Path);
  // The file stays in the table whether the user presses OK or Cancel.
  platform.RunStationDialog(app.Instance, main_dialog, slot);
}

}  // namespace

int FindFileEntry(const FrontEnd& app, const char* text) {
  for (int slot = 0; slot < kMaxFiles; ++slot) {
    const FileEntry& entry = app.FileTable[slot];
    if (entry.InUse && std::strncmp(entry.Path, text, sizeof entry.Path) == 0 &&
        std::strlen(text) < sizeof entry.Path) {
      return slot;
    }
  }
  return -1;
}

int SplitPath(const char* path, char* dir, size_t dir_size, char* name, size_t name_size) {
  const char* back = std::strrchr(path, '\\');
  size_t dir_length = back ? static_cast<size_t>(back - path) + 1 : 0;
  const char* rest = path + dir_length;
  int result = 0;
  if (dir_length < dir_size) {
    std::memcpy(dir, path, dir_length);
    dir[dir_length] = '\0';
  } else {
    if (dir_size > 0) dir[0] = '\0';
    result = 1;
  }
  if (!CopyIfFits(name, name_size, rest)) {
    if (name_size > 0) name[0] = '\0';
    result = 1;
  }
  return result;
}

void AddFiles(Platform& platform, FrontEnd& app, DialogRef main_dialog) {
  if (app.FileCount >= kMaxFiles) {
    std::snprintf(app.MessageText, sizeof app.MessageText,
                  "A maximum of %d files can be decoded at once", kMaxFiles);
    ShowMessage(platform, app, main_dialog);
    return;
  }

  // Two spare NULs after the dialog's buffer, so that the list below always
  // ends in an empty string.
  char result[kAddResultSize + 2];
  std::memset(result, 0, sizeof result);
  const OpenFileOptions options = {"Select Files to Convert", kAddFilter, "gpb", app.LastDir,
                                   true};
  if (!platform.OpenFileDialog(main_dialog, options, result, kAddResultSize)) return;

  // One form for both answers: the directory, then the names, each ended by
  // a NUL, then an empty string. A single selection is one full path, cut at
  // its last backslash.
  const char* dir = result;
  const char* names = result + std::strlen(result) + 1;
  if (*names == '\0') {
    char* back = std::strrchr(result, '\\');
    if (back) {
      *back = '\0';
      names = back + 1;
    } else {
      dir = "";
      names = result;
    }
  }

  // LastDir keeps its old text when the directory does not fit.
  CopyIfFits(app.LastDir, sizeof app.LastDir, dir);

  bool extras = false;
  for (const char* name = names; *name; name += std::strlen(name) + 1) {
    if (LowestFreeSlot(app) < 0) {
      extras = true;
      break;
    }
    AddOneFile(platform, app, main_dialog, dir, name);
  }
  if (extras) {
    std::snprintf(app.MessageText, sizeof app.MessageText,
                  "Too many files selected, the extras will be ignored");
    ShowMessage(platform, app, main_dialog);
  }
}

void EditFileEntry(Platform& platform, FrontEnd& app, DialogRef main_dialog) {
  int index = -1;
  int slot = SelectedSlot(platform, app, main_dialog, &index);
  if (slot < 0) return;
  platform.RunStationDialog(app.Instance, main_dialog, slot);
}

void DeleteFileEntry(Platform& platform, FrontEnd& app, DialogRef main_dialog) {
  int index = -1;
  int slot = SelectedSlot(platform, app, main_dialog, &index);
  if (slot < 0) return;
  std::memset(&app.FileTable[slot], 0, sizeof app.FileTable[slot]);
  app.FileCount -= 1;
  platform.DeleteListLine(main_dialog, IDC_FILE_LIST, index);
}

void StationDialogInit(Platform& platform, FrontEnd& app, DialogRef dialog, int slot) {
  app.CurrentStation = slot;
  const FileEntry& entry = app.FileTable[slot];
  platform.SetControlText(dialog, IDC_STATION_FILE, entry.FileName);
  platform.SetControlText(dialog, IDC_STATION_NAME, entry.StationName);
  char height[64];
  std::snprintf(height, sizeof height, "%.3f", static_cast<double>(entry.AntHeight));
  platform.SetControlText(dialog, IDC_ANT_HEIGHT, height);
  if (entry.UseAltEph == 1) {
    platform.SetChecked(dialog, IDC_USE_ALT_EPH, true);
    platform.SetControlText(dialog, IDC_ALT_EPH_FILE, entry.AltEphFile);
  } else {
    platform.SetChecked(dialog, IDC_USE_ALT_EPH, false);
    platform.EnableControl(dialog, IDC_ALT_EPH_LABEL, false);
    platform.EnableControl(dialog, IDC_BROWSE, false);
    platform.EnableControl(dialog, IDC_ALT_EPH_FILE, false);
  }
}

bool StationDialogCommand(Platform& platform, FrontEnd& app, DialogRef dialog, int id) {
  switch (id) {
    case IDC_STATION_OK: {
      FileEntry& entry = app.FileTable[app.CurrentStation];
      platform.GetControlText(dialog, IDC_STATION_NAME, entry.StationName, 50);
      char height[50] = "";
      platform.GetControlText(dialog, IDC_ANT_HEIGHT, height, sizeof height);
      entry.AntHeight = static_cast<float>(std::atof(height));
      if (platform.IsChecked(dialog, IDC_USE_ALT_EPH)) {
        entry.UseAltEph = 1;
        platform.GetControlText(dialog, IDC_ALT_EPH_FILE, entry.AltEphFile, 255);
      } else {
        entry.UseAltEph = 0;  // AltEphFile keeps its text, unused
      }
      platform.EndDialog(dialog, 1);
      return true;
    }
    case IDC_STATION_CANCEL:
      platform.EndDialog(dialog, 2);
      return true;
    case IDC_USE_ALT_EPH: {
      bool on = platform.IsChecked(dialog, IDC_USE_ALT_EPH);
      platform.EnableControl(dialog, IDC_ALT_EPH_LABEL, on);
      platform.EnableControl(dialog, IDC_BROWSE, on);
      platform.EnableControl(dialog, IDC_ALT_EPH_FILE, on);
      return true;
    }
    case IDC_BROWSE: {
      char chosen[kBrowseResultSize];
      std::memset(chosen, 0, sizeof chosen);
      if (BrowseAltEphemeris(platform, app, dialog, chosen)) {
        platform.SetControlText(dialog, IDC_ALT_EPH_FILE, chosen);
      }
      return true;
    }
    default:
      return false;
  }
}

int BrowseAltEphemeris(Platform& platform, FrontEnd& app, DialogRef owner, char* buffer) {
  const OpenFileOptions options = {"Select Alternate Ephemeris", kEphemerisFilter, "epp",
                                   app.LastDir, false};
  if (!platform.OpenFileDialog(owner, options, buffer, kBrowseResultSize)) return 0;
  char dir[kBrowseResultSize] = "";
  char name[kBrowseResultSize] = "";
  if (SplitPath(buffer, dir, sizeof dir, name, sizeof name) == 0) {
    CopyIfFits(app.LastDir, sizeof app.LastDir, dir);
  }
  return 1;
}

}  // namespace rawconv
