// wrawconv on Windows: program entry and message loop, the two dialog
// procedures, and the Platform interface over the Win32 calls.
#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "app/file_list.h"
#include "app/front_end.h"
#include "app/main_dialog.h"
#include "app/platform.h"
#include "app/resource.h"

namespace rawconv {
namespace {

INT_PTR CALLBACK StationDlgProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

HWND AsWindow(DialogRef dialog) { return static_cast<HWND>(dialog); }

class Win32Platform final : public Platform {
 public:
  void SetControlText(DialogRef dialog, int id, const char* text) override {
    SetDlgItemTextA(AsWindow(dialog), id, text);
    // The batch runs inside one command: show each status text at once.
    HWND control = GetDlgItem(AsWindow(dialog), id);
    if (control) UpdateWindow(control);
  }
  void GetControlText(DialogRef dialog, int id, char* buffer, int capacity) override {
    if (capacity <= 0) return;
    buffer[0] = '\0';
    GetDlgItemTextA(AsWindow(dialog), id, buffer, capacity);
  }
  void EnableControl(DialogRef dialog, int id, bool enable) override {
    EnableWindow(GetDlgItem(AsWindow(dialog), id), enable ? TRUE : FALSE);
  }
  void SetChecked(DialogRef dialog, int id, bool checked) override {
    CheckDlgButton(AsWindow(dialog), id, checked ? BST_CHECKED : BST_UNCHECKED);
  }
  bool IsChecked(DialogRef dialog, int id) override {
    return IsDlgButtonChecked(AsWindow(dialog), id) == BST_CHECKED;
  }
  void AddListLine(DialogRef dialog, int id, const char* text) override {
    SendDlgItemMessageA(AsWindow(dialog), id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }
  int SelectedListLine(DialogRef dialog, int id) override {
    LRESULT index = SendDlgItemMessageA(AsWindow(dialog), id, LB_GETCURSEL, 0, 0);
    return index == LB_ERR ? -1 : static_cast<int>(index);
  }
  bool GetListLine(DialogRef dialog, int id, int index, char* buffer, size_t capacity) override {
    LRESULT length = SendDlgItemMessageA(AsWindow(dialog), id, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR || static_cast<size_t>(length) >= capacity) return false;
    LRESULT copied = SendDlgItemMessageA(AsWindow(dialog), id, LB_GETTEXT, index,
                                         reinterpret_cast<LPARAM>(buffer));
    return copied != LB_ERR;
  }
  void DeleteListLine(DialogRef dialog, int id, int index) override {
    SendDlgItemMessageA(AsWindow(dialog), id, LB_DELETESTRING, index, 0);
  }
  void ShowError(DialogRef owner, const char* text, const char* caption) override {
    MessageBoxA(AsWindow(owner), text, caption, MB_OK | MB_ICONERROR | MB_APPLMODAL);
  }
  bool OpenFileDialog(DialogRef owner, const OpenFileOptions& options, char* buffer,
                      size_t capacity) override {
    OPENFILENAMEA request;
    std::memset(&request, 0, sizeof request);
    request.lStructSize = sizeof request;
    request.hwndOwner = AsWindow(owner);
    request.lpstrFilter = options.Filter;
    request.lpstrFile = buffer;
    request.nMaxFile = static_cast<DWORD>(capacity);
    request.lpstrInitialDir = options.InitialDir;
    request.lpstrTitle = options.Title;
    request.lpstrDefExt = options.DefaultExt;
    request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (options.MultiSelect) request.Flags |= OFN_ALLOWMULTISELECT;
    return GetOpenFileNameA(&request) != 0;
  }
  int RunStationDialog(void* instance, DialogRef owner, int slot) override {
    return static_cast<int>(DialogBoxParamA(static_cast<HINSTANCE>(instance), "G2R_STATION_DLG",
                                            AsWindow(owner), StationDlgProc, slot));
  }
  void EndDialog(DialogRef dialog, int result) override {
    ::EndDialog(AsWindow(dialog), result);
  }
  void PostQuit(int code) override { PostQuitMessage(code); }
  void* OpenLibrary(const char* file_name) override { return LoadLibraryA(file_name); }
  LibraryEntry FindLibraryEntry(void* library, const char* export_name) override {
    return reinterpret_cast<LibraryEntry>(
        GetProcAddress(static_cast<HMODULE>(library), export_name));
  }
  void CloseLibrary(void* library) override { FreeLibrary(static_cast<HMODULE>(library)); }
};

// The program's whole state, and the stateless platform calls.
FrontEnd g_front_end;
Win32Platform g_platform;

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      MainDialogInit(g_platform, g_front_end, dialog);
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return FALSE;
    case WM_COMMAND:
      return MainDialogCommand(g_platform, g_front_end, dialog, LOWORD(wparam));
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK StationDlgProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      StationDialogInit(g_platform, g_front_end, dialog, static_cast<int>(lparam));
      return TRUE;
    case WM_COMMAND:
      return StationDialogCommand(g_platform, g_front_end, dialog, LOWORD(wparam)) ? TRUE : FALSE;
    case WM_DESTROY:
      ::EndDialog(dialog, 2);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace
}  // namespace rawconv

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using rawconv::g_front_end;
  HWND dialog = CreateDialogParamA(instance, "G2R_MAIN_DLG", nullptr, rawconv::MainDlgProc, 0);
  if (!dialog) return 0;
  g_front_end.Instance = instance;
  // Keyboard navigation between the controls (Tab, arrows, Enter for
  // Convert) comes from IsDialogMessage.
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (IsWindow(dialog) && IsDialogMessageA(dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
