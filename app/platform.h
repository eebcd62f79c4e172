// The front end's window of the platform: dialog controls, message boxes,
// open-file dialogs, the station dialog, the message loop's quit message and
// run-time library loading. The Win32 layer implements it with the real
// calls; the unit tests implement it with a scripted fake.
#ifndef WRAWCONV_PLATFORM_H_
#define WRAWCONV_PLATFORM_H_

#include <cstddef>

namespace rawconv {

// A dialog window (HWND on Windows). Opaque to the core.
using DialogRef = void*;

// An entry found in a loaded library. Callers cast it to the entry's type.
using LibraryEntry = void (*)();

// What an open-file dialog shows and accepts.
struct OpenFileOptions {
  const char* Title;
  const char* Filter;      // pairs of label and pattern, each ended by a NUL,
                           // the list ended by an empty string
  const char* DefaultExt;  // without the dot
  const char* InitialDir;  // may be empty
  bool MultiSelect;        // explorer style multiple selection
};

class Platform {
 public:
  virtual ~Platform();

  // Dialog controls, addressed by dialog and control identifier.
  virtual void SetControlText(DialogRef dialog, int id, const char* text) = 0;
  // Copies at most capacity - 1 characters and a NUL into buffer.
  virtual void GetControlText(DialogRef dialog, int id, char* buffer, int capacity) = 0;
  virtual void EnableControl(DialogRef dialog, int id, bool enable) = 0;
  virtual void SetChecked(DialogRef dialog, int id, bool checked) = 0;
  virtual bool IsChecked(DialogRef dialog, int id) = 0;

  // List box lines.
  virtual void AddListLine(DialogRef dialog, int id, const char* text) = 0;
  // Index of the selected line, or -1 when none is selected.
  virtual int SelectedListLine(DialogRef dialog, int id) = 0;
  // Copies the text of line index into buffer; false when there is no such
  // line or its text does not fit.
  virtual bool GetListLine(DialogRef dialog, int id, int index, char* buffer,
                           size_t capacity) = 0;
  virtual void DeleteListLine(DialogRef dialog, int id, int index) = 0;

  // A modal message box owned by owner, with the error icon and an OK button.
  virtual void ShowError(DialogRef owner, const char* text, const char* caption) = 0;

  // Runs a modal open-file dialog (the file must exist, no read-only box).
  // The result goes into buffer: one full path, or with MultiSelect and
  // several files the directory and the names, each ended by a NUL, the list
  // ended by an empty string. Returns false when the user cancelled or the
  // dialog failed.
  virtual bool OpenFileDialog(DialogRef owner, const OpenFileOptions& options, char* buffer,
                              size_t capacity) = 0;

  // Runs the station dialog for table slot `slot`, modally, owned by owner.
  // Returns the dialog's result (1 for OK, 2 for Cancel).
  virtual int RunStationDialog(void* instance, DialogRef owner, int slot) = 0;

  // Ends a dialog with a result; posts the quit message of the message loop.
  virtual void EndDialog(DialogRef dialog, int result) = 0;
  virtual void PostQuit(int code) = 0;

  // Run-time library loading by file name and by export name.
  virtual void* OpenLibrary(const char* file_name) = 0;
  virtual LibraryEntry FindLibraryEntry(void* library, const char* export_name) = 0;
  virtual void CloseLibrary(void* library) = 0;
};

}  // namespace rawconv

#endif  // WRAWCONV_PLATFORM_H_
