// The main dialog G2R_MAIN_DLG: its initialisation and commands, the radio
// group routines, and the Convert command that loads rawconv.dll and runs
// the batch over the file table.
#ifndef WRAWCONV_MAIN_DIALOG_H_
#define WRAWCONV_MAIN_DIALOG_H_

#include <cstdint>

#include "app/front_end.h"
#include "app/platform.h"

namespace rawconv {

// The three radio groups: control identifiers in order, the first being the
// group's default.
extern const int kDataTypeIds[4];
extern const int kGpsWeekIds[2];
extern const int kVersionIds[2];

// Unchecks every button of the group, then checks `wanted` when it is one of
// them, else the group's first button.
void SetRadioGroup(Platform& platform, DialogRef dialog, int count, const int* ids, int wanted);

// The identifier of the group's one checked button; -1 after a message box
// when none or several are checked. group_name names the group in the text.
int GetRadioGroup(Platform& platform, FrontEnd& app, DialogRef dialog, const char* group_name,
                  int count, const int* ids);

// Reads text as an unsigned decimal GPS week (blanks around the digits are
// allowed). false for an empty text, a sign, other characters or a value
// above the range of the request field.
bool ParseGpsWeek(const char* text, int32_t* week);

// Fills the per-file fields of both requests from one table slot. Returns 0,
// or 1 when a path with its new extension does not fit its field.
int FillFileRequests(FrontEnd& app, const FileEntry& entry);

// Dialog initialisation: empty table, default buttons, week edit disabled.
void MainDialogInit(Platform& platform, FrontEnd& app, DialogRef dialog);

// A command of the main dialog. Returns what the dialog procedure returns:
// nonzero for Cancel only.
int MainDialogCommand(Platform& platform, FrontEnd& app, DialogRef dialog, int id);

// The Convert command (1).
void ConvertFiles(Platform& platform, FrontEnd& app, DialogRef dialog);

}  // namespace rawconv

#endif  // WRAWCONV_MAIN_DIALOG_H_
