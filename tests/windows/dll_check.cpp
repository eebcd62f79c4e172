// dll_check: loads rawconv.dll by name the way the front end does, finds all
// six entries by their export names, checks the fixed ones and converts one
// GPB file.
//
//   dll_check.exe                 checks the entries only
//   dll_check.exe GPB EPP OUTDIR  also converts GPB with EPP into OUTDIR
//                                 (RINEX 2.1, the texts below)
//
// Prints one line per check and exits with the number of failed checks.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "api/rawconv.h"

namespace {

using GpbToRinexFn = int32_t(RAWCONV_CALL*)(ObsRequest*, NavRequest*);
using GpbToRinexVerFn = int32_t(RAWCONV_CALL*)(ObsRequest*, NavRequest*, int32_t);
using TextFn = int32_t(RAWCONV_CALL*)(char*);
using NumberFn = double(RAWCONV_CALL*)(void);
using YearFn = int32_t(RAWCONV_CALL*)(void);

int g_failed = 0;
int g_passed = 0;

void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
  if (ok) ++g_passed;
  else ++g_failed;
}

template <typename T>
T Entry(HMODULE library, const char* name) {
  FARPROC entry = GetProcAddress(library, name);
  char what[128];
  std::snprintf(what, sizeof what, "export %s found", name);
  Check(entry != nullptr, what);
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(entry));
}

// dir\stem.ext for the stem of the file name in path.
void OutputPath(char* out, size_t size, const char* dir, const char* path, const char* ext) {
  const char* name = std::strrchr(path, '\\');
  name = name ? name + 1 : path;
  char stem[256];
  std::snprintf(stem, sizeof stem, "%s", name);
  if (char* dot = std::strrchr(stem, '.')) *dot = '\0';
  std::snprintf(out, size, "%s\\%s%s", dir, stem, ext);
}

}  // namespace

int main(int argc, char** argv) {
  HMODULE library = LoadLibraryA("rawconv.dll");
  Check(library != nullptr, "LoadLibraryA(\"rawconv.dll\")");
  if (!library) return 1;

  auto to_rinex = Entry<GpbToRinexFn>(library, "_Gpb_To_Rinex@8");
  auto to_rinex_ver = Entry<GpbToRinexVerFn>(library, "_Gpb_To_Rinex_Ver@12");
  auto error_str = Entry<TextFn>(library, "_Get_Error_Str@4");
  auto test_kvo = Entry<TextFn>(library, "_Test_Kvo@4");
  auto version = Entry<NumberFn>(library, "__DLLVersionNumber_@0");
  auto year = Entry<YearFn>(library, "__DLLVersionYear_@0");
  if (g_failed) return g_failed;

  char text[256];
  std::memset(text, 'x', sizeof text);
  Check(error_str(text) == 1 && text[0] == '\0', "error text empty right after load");
  std::memset(text, 'x', sizeof text);
  Check(test_kvo(text) == 5 && std::memcmp(text, "TOLM", 5) == 0, "Test_Kvo gives TOLM and 5");
  const double expected = 0x1.e678c868b9fdbp+2;
  const double got = version();
  Check(std::memcmp(&got, &expected, sizeof got) == 0, "version number 7.601122 (stored value)");
  std::printf("   version %.16g\n", got);
  Check(year() == 2005, "version year 2005");

  // A GPB file that does not exist: -1 from the versioned call, 1 from the
  // plain one, the reader's message in both cases.
  ObsRequest obs;
  NavRequest nav;
  std::memset(&obs, 0, sizeof obs);
  std::memset(&nav, 0, sizeof nav);
  obs.StructSize = sizeof obs;
  nav.StructSize = sizeof nav;
  std::snprintf(obs.GpbFile, sizeof obs.GpbFile, "C:\\no\\such\\file.gpb");
  std::snprintf(obs.ObsFile, sizeof obs.ObsFile, "C:\\no\\such\\file.obs");
  std::snprintf(nav.EppFile, sizeof nav.EppFile, "C:\\no\\such\\file.epp");
  std::snprintf(nav.NavFile, sizeof nav.NavFile, "C:\\no\\such\\file.nav");
  Check(to_rinex_ver(&obs, &nav, RINEX_VERSION_2_1) == -1, "missing GPB file gives -1");
  error_str(text);
  Check(std::strcmp(text, "GPB file 'C:\\no\\such\\file.gpb' does not exits or cannot be opened") == 0,
        "missing GPB file message");
  std::printf("   %s\n", text);
  Check(to_rinex(&obs, &nav) == 1, "Gpb_To_Rinex gives 1 for the same job");

  if (argc >= 4) {
    std::memset(&obs, 0, sizeof obs);
    std::memset(&nav, 0, sizeof nav);
    obs.StructSize = sizeof obs;
    nav.StructSize = sizeof nav;
    std::snprintf(obs.GpbFile, sizeof obs.GpbFile, "%s", argv[1]);
    OutputPath(obs.ObsFile, sizeof obs.ObsFile, argv[3], argv[1], ".obs");
    std::snprintf(nav.EppFile, sizeof nav.EppFile, "%s", argv[2]);
    OutputPath(nav.NavFile, sizeof nav.NavFile, argv[3], argv[1], ".nav");
    std::snprintf(obs.RunBy, sizeof obs.RunBy, "WINE CHECK");
    std::snprintf(nav.RunBy, sizeof nav.RunBy, "WINE CHECK");
    std::snprintf(obs.MarkerName, sizeof obs.MarkerName, "SAMPLE");
    std::snprintf(obs.Observer, sizeof obs.Observer, "OBSERVER");
    std::snprintf(obs.Agency, sizeof obs.Agency, "AGENCY");
    obs.AntHeight = 1.465;
    obs.DataTypes = RAWCONV_DATATYPES_AUTO;
    int32_t result = to_rinex_ver(&obs, &nav, RINEX_VERSION_2_1);
    if (result != 0) {
      error_str(text);
      std::printf("   error text: %s\n", text);
    }
    Check(result == 0, "sample converts");
    std::printf("   observation file %s\n   navigation file %s\n", obs.ObsFile, nav.NavFile);
  }

  Check(FreeLibrary(library) != 0, "FreeLibrary");
  std::printf("dll_check: %d passed, %d failed\n", g_passed, g_failed);
  return g_failed;
}
