#include "app/main_dialog.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "api/file_ext.h"
#include "app/file_list.h"
#include "app/resource.h"

namespace rawconv {

const int kDataTypeIds[4] = {IDC_DATA_AUTO, IDC_DATA_CA_CODE, IDC_DATA_L1, IDC_DATA_L1_L2};
const int kGpsWeekIds[2] = {IDC_WEEK_AUTO, IDC_WEEK_SET};
const int kVersionIds[2] = {IDC_VERSION_21, IDC_VERSION_20};

namespace {

// "Converting file, " and a whole GpbFile always fit.
constexpr size_t kStatusTextSize = 320;

int32_t DataTypesFor(int id) {
  switch (id) {
    case IDC_DATA_CA_CODE: return RAWCONV_DATATYPES_CA_CODE;
    case IDC_DATA_L1: return RAWCONV_DATATYPES_L1;
    case IDC_DATA_L1_L2: return RAWCONV_DATATYPES_L1_L2;
    default: return RAWCONV_DATATYPES_AUTO;
  }
}

bool CopyField(char* field, size_t size, const char* text) {
  size_t length = std::strlen(text);
  if (length >= size) return false;
  std::memcpy(field, text, length + 1);
  return true;
}

// A copy of path in field with its extension set to ext.
bool PathWithExt(char* field, size_t size, const char* path, const char* ext) {
  return CopyField(field, size, path) && SetFileExt(field, ext, size) == 0;
}

void ShowMessage(Platform& platform, FrontEnd& app, DialogRef dialog, const char* caption) {
  platform.ShowError(dialog, app.MessageText, caption);
}

void ReleaseLibrary(Platform& platform, FrontEnd& app) {
  if (app.Library) platform.CloseLibrary(app.Library);
  app.Library = nullptr;
  app.GpbToRinexVer = nullptr;
  app.GetErrorStr = nullptr;
}

// Loads the library and finds both entries; false after a message box.
bool BindLibrary(Platform& platform, FrontEnd& app, DialogRef dialog) {
  app.Library = platform.OpenLibrary("rawconv.dll");
  if (!app.Library) {
    std::snprintf(app.MessageText, sizeof app.MessageText, "Could not open rawconv.dll");
    ShowMessage(platform, app, dialog, "ERROR");
    return false;
  }
  app.GpbToRinexVer = reinterpret_cast<GpbToRinexVerEntry>(
      platform.FindLibraryEntry(app.Library, "_Gpb_To_Rinex_Ver@12"));
  if (!app.GpbToRinexVer) {
    std::snprintf(app.MessageText, sizeof app.MessageText, "Could not find Gpb_To_Rinex address");
    ShowMessage(platform, app, dialog, "ERROR");
    return false;
  }
  app.GetErrorStr = reinterpret_cast<GetErrorStrEntry>(
      platform.FindLibraryEntry(app.Library, "_Get_Error_Str@4"));
  if (!app.GetErrorStr) {
    std::snprintf(app.MessageText, sizeof app.MessageText,
                  "Could not find Get_Error_Str address");
    ShowMessage(platform, app, dialog, "ERROR");
    return false;
  }
  return true;
}

// Reads the options of the dialog into the requests; false after a message
// box. rinex_version receives the third argument of the conversion call.
bool ReadOptions(Platform& platform, FrontEnd& app, DialogRef dialog, int32_t* rinex_version) {
  app.Obs.StructSize = static_cast<int32_t>(sizeof(ObsRequest));
  app.Nav.StructSize = static_cast<int32_t>(sizeof(NavRequest));

  int data = GetRadioGroup(platform, app, dialog, "Data Type to Export", 4, kDataTypeIds);
  if (data < 0) return false;
  app.Obs.DataTypes = DataTypesFor(data);

  int week = GetRadioGroup(platform, app, dialog, "GPS Week", 2, kGpsWeekIds);
  if (week < 0) return false;
  if (week == IDC_WEEK_SET) {
    app.Obs.UseGpsWeek = 1;
    char text[64] = "";
    platform.GetControlText(dialog, IDC_WEEK_EDIT, text, sizeof text);
    int32_t value = 0;
    // A text that fills the whole buffer may have been cut: refuse it.
    if (std::strlen(text) >= sizeof text - 1 || !ParseGpsWeek(text, &value)) {
      std::snprintf(app.MessageText, sizeof app.MessageText,
                    "GPS Week must be an unsigned integer");
      ShowMessage(platform, app, dialog, "ERROR");
      return false;
    }
    app.Obs.GpsWeek = value;
  } else {
    app.Obs.UseGpsWeek = 0;  // GpsWeek keeps the last value typed
  }

  int version = GetRadioGroup(platform, app, dialog, "Version Type", 2, kVersionIds);
  if (version < 0) return false;
  *rinex_version = version == IDC_VERSION_21 ? RINEX_VERSION_2_1 : RINEX_VERSION_2_0;

  platform.GetControlText(dialog, IDC_RUN_BY, app.Obs.RunBy, sizeof app.Obs.RunBy);
  platform.GetControlText(dialog, IDC_RUN_BY, app.Nav.RunBy, sizeof app.Nav.RunBy);
  platform.GetControlText(dialog, IDC_OBSERVER, app.Obs.Observer, sizeof app.Obs.Observer);
  platform.GetControlText(dialog, IDC_AGENCY, app.Obs.Agency, sizeof app.Obs.Agency);
  return true;
}

}  // namespace

void SetRadioGroup(Platform& platform, DialogRef dialog, int count, const int* ids, int wanted) {
  bool found = false;
  for (int i = 0; i < count; ++i) {
    platform.SetChecked(dialog, ids[i], false);
    if (ids[i] == wanted) found = true;
  }
  if (count > 0) platform.SetChecked(dialog, found ? wanted : ids[0], true);
}

int GetRadioGroup(Platform& platform, FrontEnd& app, DialogRef dialog, const char* group_name,
                  int count, const int* ids) {
  int checked = 0;
  int last = -1;
  for (int i = 0; i < count; ++i) {
    if (platform.IsChecked(dialog, ids[i])) {
      ++checked;
      last = ids[i];
    }
  }
  if (checked == 0) {
    std::snprintf(app.MessageText, sizeof app.MessageText, "No selection found for %s",
                  group_name);
    ShowMessage(platform, app, dialog, "Error");
    return -1;
  }
  if (checked > 1) {
    std::snprintf(app.MessageText, sizeof app.MessageText,
                  "More than one selection found for %s", group_name);
    ShowMessage(platform, app, dialog, "Error");
    return -1;
  }
  return last;
}

bool ParseGpsWeek(const char* text, int32_t* week) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  int64_t value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    value = value * 10 + (*p - '0');
    if (value > INT32_MAX) return false;
  }
  while (*p == ' ' || *p == '\t') ++p;
  if (*p != '\0') return false;
  *week = static_cast<int32_t>(value);
  return true;
}

int FillFileRequests(FrontEnd& app, const FileEntry& entry) {
  ObsRequest& obs = app.Obs;
  NavRequest& nav = app.Nav;
  const char* epp_source = entry.UseAltEph == 1 ? entry.AltEphFile : entry.Path;
  bool fits = CopyField(obs.GpbFile, sizeof obs.GpbFile, entry.Path) &&
              PathWithExt(obs.ObsFile, sizeof obs.ObsFile, entry.Path, ".obs") &&
              PathWithExt(nav.EppFile, sizeof nav.EppFile, epp_source, ".epp") &&
              PathWithExt(nav.NavFile, sizeof nav.NavFile, entry.Path, ".nav");
  CopyField(obs.MarkerName, sizeof obs.MarkerName, entry.StationName);
  obs.AntHeight = static_cast<double>(entry.AntHeight);
  return fits ? 0 : 1;
}

void MainDialogInit(Platform& platform, FrontEnd& app, DialogRef dialog) {
  std::memset(app.FileTable, 0, sizeof app.FileTable);
  app.FileCount = 0;
  std::memset(app.LastDir, 0, sizeof app.LastDir);
  SetRadioGroup(platform, dialog, 4, kDataTypeIds, IDC_DATA_AUTO);
  SetRadioGroup(platform, dialog, 2, kGpsWeekIds, IDC_WEEK_AUTO);
  SetRadioGroup(platform, dialog, 2, kVersionIds, IDC_VERSION_21);
  platform.EnableControl(dialog, IDC_WEEK_EDIT, false);
}

int MainDialogCommand(Platform& platform, FrontEnd& app, DialogRef dialog, int id) {
  switch (id) {
    case IDC_CONVERT:
      ConvertFiles(platform, app, dialog);
      return 0;
    case IDC_MAIN_CANCEL:
      platform.EndDialog(dialog, -1);
      platform.PostQuit(0);
      return 1;
    case IDC_WEEK_AUTO:
      platform.EnableControl(dialog, IDC_WEEK_EDIT, false);
      return 0;
    case IDC_WEEK_SET:
      platform.EnableControl(dialog, IDC_WEEK_EDIT, true);
      return 0;
    case IDC_ADD:
      AddFiles(platform, app, dialog);
      return 0;
    case IDC_EDIT:
      EditFileEntry(platform, app, dialog);
      return 0;
    case IDC_DELETE:
      DeleteFileEntry(platform, app, dialog);
      return 0;
    case IDC_QUIT:
      platform.PostQuit(0);
      return 0;
    default:
      return 0;
  }
}

void ConvertFiles(Platform& platform, FrontEnd& app, DialogRef dialog) {
  int32_t rinex_version = RINEX_VERSION_2_1;
  if (BindLibrary(platform, app, dialog) && ReadOptions(platform, app, dialog, &rinex_version)) {
    char status[kStatusTextSize];
    for (int slot = 0; slot < kMaxFiles; ++slot) {
      const FileEntry& entry = app.FileTable[slot];
      if (entry.InUse == 0) continue;
      if (FillFileRequests(app, entry) != 0) {
        std::snprintf(status, sizeof status, "File path too long to convert: %s", entry.Path);
        platform.SetControlText(dialog, IDC_STATUS, status);
        continue;
      }
      std::snprintf(status, sizeof status, "Converting file, %s", app.Obs.GpbFile);
      platform.SetControlText(dialog, IDC_STATUS, status);
      if (app.GpbToRinexVer(&app.Obs, &app.Nav, rinex_version) != 0) {
        app.GetErrorStr(app.MessageText);
        platform.SetControlText(dialog, IDC_STATUS, app.MessageText);
      } else {
        platform.SetControlText(dialog, IDC_STATUS, "Conversion complete");
      }
    }
  }
  ReleaseLibrary(platform, app);
}

}  // namespace rawconv
