// gui_driver: runs wrawconv.exe and works its dialogs from outside, with
// FindWindow and window messages, the way a user would with the mouse.
//
//   gui_driver.exe session EXE GPB ALTEPP SHOTDIR
//     Add GPB through the real open-file dialog, fill the station dialog
//     (the alternate ephemeris picked with Browse, then typed with another
//     extension), try "Set Week" with a bad week, convert with good options,
//     read the status line, quit.
//   gui_driver.exe nodll EXE
//     Convert with no rawconv.dll to be found.
//
// SHOTDIR\NAME.ready asks the caller for a screenshot; the driver goes on
// when SHOTDIR\NAME.done appears (or after a while without one).
// Prints one line per check and exits with the number of failed checks.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kOpenFileNameCombo = 0x47c;

int g_failed = 0;
int g_passed = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
  std::fflush(stdout);
  if (ok) ++g_passed;
  else ++g_failed;
}

void Note(const std::string& text) {
  std::printf("   %s\n", text.c_str());
  std::fflush(stdout);
}

// A top-level dialog of the given caption, waited for up to timeout_ms.
HWND WaitDialog(const char* caption, DWORD timeout_ms = 30000) {
  for (DWORD waited = 0; waited < timeout_ms; waited += 100) {
    HWND window = FindWindowA("#32770", caption);
    if (window && IsWindowVisible(window)) return window;
    Sleep(100);
  }
  return nullptr;
}

bool WaitGone(HWND window, DWORD timeout_ms = 30000) {
  for (DWORD waited = 0; waited < timeout_ms; waited += 100) {
    if (!IsWindow(window) || !IsWindowVisible(window)) return true;
    Sleep(100);
  }
  return false;
}

// The text of a control of another process (WM_GETTEXT is carried across).
std::string Text(HWND window) {
  char buffer[1024] = "";
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                           SMTO_BLOCK, 2000, &copied)) {
    return "";
  }
  return buffer;
}

std::string ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

void SetItemText(HWND dialog, int id, const std::string& text) {
  SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// A push button: the command goes to the dialog as a click would send it.
void Press(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Radio buttons and check boxes: a real click, so that they change state.
void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

bool IsChecked(HWND dialog, int id) {
  return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM param) {
  char name[32] = "";
  GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Static") == 0) {
    std::string text = Text(child);
    if (!text.empty()) reinterpret_cast<std::vector<std::string>*>(param)->push_back(text);
  }
  return TRUE;
}

// Waits for a message box with the caption, checks its text and closes it.
void ExpectMessageBox(const char* caption, const std::string& text) {
  HWND box = WaitDialog(caption);
  Check(box != nullptr, std::string("message box \"") + caption + "\" shown");
  if (!box) return;
  std::vector<std::string> texts;
  EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&texts));
  bool found = false;
  for (const std::string& t : texts) found = found || t == text;
  Check(found, "message box says \"" + text + "\"");
  for (const std::string& t : texts) Note("box text: " + t);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  Check(WaitGone(box), "message box closed");
}

// Fills the file name of a real open-file dialog and presses its OK.
bool PickFile(const char* title, const std::string& path) {
  HWND dialog = WaitDialog(title);
  Check(dialog != nullptr, std::string("open-file dialog \"") + title + "\" shown");
  if (!dialog) return false;
  Sleep(500);
  HWND name = GetDlgItem(dialog, kOpenFileNameCombo);
  Check(name != nullptr, "file name box of the open-file dialog found");
  if (!name) return false;
  SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  bool closed = WaitGone(dialog);
  Check(closed, std::string("open-file dialog \"") + title + "\" closed with " + path);
  return closed;
}

std::string g_shot_dir;

void Screenshot(const char* name) {
  if (g_shot_dir.empty()) return;
  Sleep(1000);  // let the windows paint
  std::string ready = g_shot_dir + "\\" + name + ".ready";
  std::string done = g_shot_dir + "\\" + name + ".done";
  HANDLE file = CreateFileA(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  for (int i = 0; i < 300; ++i) {
    if (GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    Sleep(100);
  }
  Note(std::string("no screenshot taken for ") + name);
}

bool Start(const std::string& exe, PROCESS_INFORMATION* process) {
  std::string dir = exe.substr(0, exe.find_last_of('\\'));
  std::string command = "\"" + exe + "\"";
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  bool ok = CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           dir.c_str(), &startup, process) != 0;
  Check(ok, "started " + exe);
  return ok;
}

void Quit(HWND main_dialog, PROCESS_INFORMATION& process) {
  Press(main_dialog, 119);
  bool ended = WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
  DWORD code = 1;
  if (ended) GetExitCodeProcess(process.hProcess, &code);
  Check(ended && code == 0, "Quit ends the program with code 0");
  if (!ended) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

// The status line after a Convert: waits while the batch runs.
std::string WaitStatus(HWND main_dialog) {
  std::string status;
  for (int i = 0; i < 1200; ++i) {
    status = ItemText(main_dialog, 115);
    if (!status.empty() && status.rfind("Converting file, ", 0) != 0) break;
    Sleep(100);
  }
  return status;
}

int Session(const std::string& exe, const std::string& gpb, const std::string& alt_epp) {
  PROCESS_INFORMATION process;
  if (!Start(exe, &process)) return 1;
  HWND main_dialog = WaitDialog("GPB To RINEX Converter", 60000);
  Check(main_dialog != nullptr, "main dialog shown");
  if (!main_dialog) {
    TerminateProcess(process.hProcess, 1);
    return 1;
  }
  Check(IsChecked(main_dialog, 101) && IsChecked(main_dialog, 105) && IsChecked(main_dialog, 1000),
        "defaults Auto-Detect, Auto-Detect Week, Version 2.1");
  Check(!IsWindowEnabled(GetDlgItem(main_dialog, 107)), "week edit disabled at start");

  // Add: the real open-file dialog, then the station dialog.
  Press(main_dialog, 112);
  if (PickFile("Select Files to Convert", gpb)) {
    HWND station = WaitDialog("Station Properties");
    Check(station != nullptr, "station dialog opened after Add");
    if (station) {
      std::string name = gpb.substr(gpb.find_last_of('\\') + 1);
      Check(ItemText(station, 116) == name, "station dialog shows the file name " + name);
      Check(ItemText(station, 118) == "0.000", "antenna height starts at 0.000");
      Check(!IsWindowEnabled(GetDlgItem(station, 121)), "alternate ephemeris edit disabled");
      SetItemText(station, 117, "TESTSTA1");
      SetItemText(station, 118, "1.2345");
      Click(station, 120);
      Check(IsWindowEnabled(GetDlgItem(station, 121)) &&
                IsWindowEnabled(GetDlgItem(station, 122)),
            "Use Alternate Ephemeris enables the edit and Browse");
      Press(station, 122);
      if (PickFile("Select Alternate Ephemeris", alt_epp)) {
        Check(ItemText(station, 121) == alt_epp, "Browse puts the chosen file into the edit");
      }
      // Typed with another extension: the front end passes it as .epp.
      std::string typed = alt_epp.substr(0, alt_epp.find_last_of('.')) + ".txt";
      SetItemText(station, 121, typed);
      Screenshot("station_dialog");
      Press(station, 1);
      Check(WaitGone(station), "station dialog closed with OK");
    }
  }
  Check(SendMessageA(GetDlgItem(main_dialog, 111), LB_GETCOUNT, 0, 0) == 1,
        "the list holds one file");

  // Set Week with a bad week.
  Click(main_dialog, 106);
  Check(IsWindowEnabled(GetDlgItem(main_dialog, 107)), "Set Week enables the week edit");
  SetItemText(main_dialog, 107, "13x1");
  Press(main_dialog, 1);
  ExpectMessageBox("ERROR", "GPS Week must be an unsigned integer");

  // Good options, then Convert.
  Click(main_dialog, 105);
  Check(!IsWindowEnabled(GetDlgItem(main_dialog, 107)), "Auto-Detect Week disables the edit");
  SetItemText(main_dialog, 108, "WINE SESSION");
  SetItemText(main_dialog, 109, "DRIVER");
  SetItemText(main_dialog, 110, "TEST AGENCY");
  Press(main_dialog, 1);
  std::string status = WaitStatus(main_dialog);
  Check(status == "Conversion complete", "status line reads \"Conversion complete\"");
  Note("status: " + status);
  Screenshot("main_dialog");

  Quit(main_dialog, process);
  return 0;
}

int NoLibrary(const std::string& exe) {
  PROCESS_INFORMATION process;
  if (!Start(exe, &process)) return 1;
  HWND main_dialog = WaitDialog("GPB To RINEX Converter", 60000);
  Check(main_dialog != nullptr, "main dialog shown");
  if (!main_dialog) {
    TerminateProcess(process.hProcess, 1);
    return 1;
  }
  Press(main_dialog, 1);
  ExpectMessageBox("ERROR", "Could not open rawconv.dll");
  Check(ItemText(main_dialog, 115).empty(), "status line untouched");
  Quit(main_dialog, process);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "session" && argc >= 6) {
    g_shot_dir = argv[5];
    Session(argv[2], argv[3], argv[4]);
  } else if (mode == "nodll" && argc >= 3) {
    NoLibrary(argv[2]);
  } else {
    std::fprintf(stderr, "usage: gui_driver session EXE GPB ALTEPP SHOTDIR | nodll EXE\n");
    return 2;
  }
  std::printf("gui_driver %s: %d passed, %d failed\n", mode.c_str(), g_passed, g_failed);
  return g_failed;
}
