// A scripted stand-in for the Win32 layer: controls are texts and flags in
// a map, message boxes and open-file dialogs are recorded, the station
// dialog runs a scripted user, and "rawconv.dll" is the real shared library
// of this build, loaded with dlopen.
#ifndef WRAWCONV_TESTS_APP_FAKE_PLATFORM_H_
#define WRAWCONV_TESTS_APP_FAKE_PLATFORM_H_

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/file_list.h"
#include "app/front_end.h"
#include "app/main_dialog.h"
#include "app/platform.h"
#include "app/resource.h"

namespace rawconv {
namespace apptest {

struct FakeControl {
  std::string Text;
  bool Checked = false;
  bool Enabled = true;
};

struct MessageBoxSeen {
  std::string Text;
  std::string Caption;
};

// One open-file dialog as it was asked for, and the answer given.
struct OpenFileSeen {
  std::string Title;
  std::string Filter;  // with its NULs
  std::string DefaultExt;
  std::string InitialDir;
  bool MultiSelect = false;
  size_t Capacity = 0;
};

// What the user does in the open-file dialog: cancel, or choose `Result`
// (NULs inside as the dialog returns them).
struct OpenFileAnswer {
  bool Chosen = false;
  std::string Result;
};

// A dialog result of a multiple selection: the directory and the names.
inline OpenFileAnswer Selection(const std::string& dir, const std::vector<std::string>& names) {
  OpenFileAnswer answer{true, dir};
  for (const std::string& name : names) {
    answer.Result.push_back('\0');
    answer.Result += name;
  }
  return answer;
}

class FakePlatform final : public Platform {
 public:
  static DialogRef MainDialog() { return const_cast<char*>(&kMainTag); }
  static DialogRef StationDialog() { return const_cast<char*>(&kStationTag); }

  explicit FakePlatform(FrontEnd& app) : app_(app) {}
  ~FakePlatform() override {
    if (library_) dlclose(library_);
  }

  FakeControl& Control(DialogRef dialog, int id) { return controls_[{dialog, id}]; }
  FakeControl& Main(int id) { return Control(MainDialog(), id); }
  FakeControl& Station(int id) { return Control(StationDialog(), id); }

  // --- Platform ---
  void SetControlText(DialogRef dialog, int id, const char* text) override {
    Control(dialog, id).Text = text;
    if (dialog == MainDialog() && id == IDC_STATUS) StatusHistory.push_back(text);
  }
  void GetControlText(DialogRef dialog, int id, char* buffer, int capacity) override {
    const std::string& text = Control(dialog, id).Text;
    size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    ControlsRead.insert(id);
  }
  void EnableControl(DialogRef dialog, int id, bool enable) override {
    Control(dialog, id).Enabled = enable;
  }
  void SetChecked(DialogRef dialog, int id, bool checked) override {
    Control(dialog, id).Checked = checked;
  }
  bool IsChecked(DialogRef dialog, int id) override { return Control(dialog, id).Checked; }

  // List box 111 keeps its lines sorted, as the real one does.
  void AddListLine(DialogRef, int, const char* text) override {
    Lines.insert(std::upper_bound(Lines.begin(), Lines.end(), std::string(text)), text);
  }
  int SelectedListLine(DialogRef, int) override { return Selected; }
  bool GetListLine(DialogRef, int, int index, char* buffer, size_t capacity) override {
    if (index < 0 || index >= static_cast<int>(Lines.size())) return false;
    const std::string& line = Lines[static_cast<size_t>(index)];
    if (line.size() >= capacity) return false;
    std::memcpy(buffer, line.c_str(), line.size() + 1);
    return true;
  }
  void DeleteListLine(DialogRef, int, int index) override {
    Lines.erase(Lines.begin() + index);
    Selected = -1;
  }

  void ShowError(DialogRef owner, const char* text, const char* caption) override {
    Boxes.push_back({text, caption});
    BoxOwners.push_back(owner);
  }

  bool OpenFileDialog(DialogRef, const OpenFileOptions& options, char* buffer,
                      size_t capacity) override {
    OpenFileSeen seen;
    seen.Title = options.Title;
    const char* f = options.Filter;
    while (*f) f += std::strlen(f) + 1;
    seen.Filter.assign(options.Filter, static_cast<size_t>(f - options.Filter));
    seen.DefaultExt = options.DefaultExt;
    seen.InitialDir = options.InitialDir;
    seen.MultiSelect = options.MultiSelect;
    seen.Capacity = capacity;
    FileDialogs.push_back(seen);
    if (FileAnswers.empty()) return false;
    OpenFileAnswer answer = FileAnswers.front();
    FileAnswers.pop_front();
    // The real dialog fails when the selection does not fit its buffer.
    if (!answer.Chosen || answer.Result.size() + 2 > capacity) return false;
    std::memcpy(buffer, answer.Result.data(), answer.Result.size());
    buffer[answer.Result.size()] = '\0';
    buffer[answer.Result.size() + 1] = '\0';
    return true;
  }

  // Runs the station dialog: its controls start as the resource has them,
  // then the initialisation, then the scripted user (OK when none).
  int RunStationDialog(void*, DialogRef, int slot) override {
    StationSlots.push_back(slot);
    for (auto it = controls_.begin(); it != controls_.end();) {
      it = it->first.first == StationDialog() ? controls_.erase(it) : std::next(it);
    }
    StationResult = 0;
    StationDialogInit(*this, app_, StationDialog(), slot);
    if (StationUser) {
      StationUser(*this);
    } else {
      StationDialogCommand(*this, app_, StationDialog(), IDC_STATION_OK);
    }
    return StationResult;
  }
  void EndDialog(DialogRef dialog, int result) override {
    if (dialog == StationDialog()) StationResult = result;
    else MainEnded.push_back(result);
  }
  void PostQuit(int code) override { Quits.push_back(code); }

  void* OpenLibrary(const char* file_name) override {
    LibraryNames.push_back(file_name);
    if (!LibraryPresent) return nullptr;
    library_ = dlopen(RAWCONV_BINARY_DIR "/lib/librawconv.so", RTLD_NOW | RTLD_LOCAL);
    if (library_) ++Opens;
    return library_;
  }
  // The 32-bit export names of the DLL, mapped to this platform's names.
  LibraryEntry FindLibraryEntry(void* library, const char* export_name) override {
    static const std::map<std::string, std::string> kNames = {
        {"_Gpb_To_Rinex_Ver@12", "Gpb_To_Rinex_Ver"}, {"_Get_Error_Str@4", "Get_Error_Str"}};
    auto it = kNames.find(export_name);
    if (it == kNames.end() || MissingEntries.count(export_name)) return nullptr;
    return reinterpret_cast<LibraryEntry>(dlsym(library, it->second.c_str()));
  }
  void CloseLibrary(void* library) override {
    if (library == library_) {
      dlclose(library_);
      library_ = nullptr;
      ++Closes;
    }
  }

  // --- recorded and scripted state ---
  std::vector<std::string> Lines;
  int Selected = -1;
  std::vector<MessageBoxSeen> Boxes;
  std::vector<DialogRef> BoxOwners;
  std::vector<OpenFileSeen> FileDialogs;
  std::deque<OpenFileAnswer> FileAnswers;
  std::vector<int> StationSlots;
  std::function<void(FakePlatform&)> StationUser;
  int StationResult = 0;
  std::vector<int> MainEnded;
  std::vector<int> Quits;
  std::vector<std::string> StatusHistory;
  std::set<int> ControlsRead;
  std::vector<std::string> LibraryNames;
  bool LibraryPresent = true;
  std::set<std::string> MissingEntries;
  int Opens = 0;
  int Closes = 0;

  FrontEnd& App() { return app_; }

 private:
  static constexpr char kMainTag = 'm';
  static constexpr char kStationTag = 's';
  FrontEnd& app_;
  std::map<std::pair<DialogRef, int>, FakeControl> controls_;
  void* library_ = nullptr;
};

}  // namespace apptest
}  // namespace rawconv

#endif  // WRAWCONV_TESTS_APP_FAKE_PLATFORM_H_
