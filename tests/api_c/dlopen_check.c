/* Loads the shared library by path with dlopen, as a C caller that knows only
 * the public header, and checks the exports. Arguments: the library path and
 * a scratch directory. Prints one line per failed check; exit 0 when all pass. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "rawconv.h"

typedef int32_t (*ConvertVerFn)(ObsRequest*, NavRequest*, int32_t);
typedef int32_t (*ConvertFn)(ObsRequest*, NavRequest*);
typedef int32_t (*TextFn)(char*);
typedef double (*NumberFn)(void);
typedef int32_t (*YearFn)(void);

static int failures = 0;
static void check(int ok, const char* what) {
  if (!ok) {
    printf("FAILED: %s\n", what);
    failures++;
  }
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    printf("dlopen: %s\n", dlerror());
    return 1;
  }
  ConvertVerFn convert_ver = (ConvertVerFn)dlsym(lib, "Gpb_To_Rinex_Ver");
  ConvertFn convert = (ConvertFn)dlsym(lib, "Gpb_To_Rinex");
  TextFn get_error = (TextFn)dlsym(lib, "Get_Error_Str");
  TextFn test_kvo = (TextFn)dlsym(lib, "Test_Kvo");
  NumberFn version = (NumberFn)dlsym(lib, "_DLLVersionNumber_");
  YearFn year = (YearFn)dlsym(lib, "_DLLVersionYear_");
  check(convert_ver && convert && get_error && test_kvo && version && year, "all six exports found");
  if (failures) return 1;

  char text[256];
  memset(text, 'x', sizeof text);
  check(get_error(text) == 1 && text[0] == '\0', "error text empty right after load");

  memset(text, 'x', sizeof text);
  check(test_kvo(text) == 5 && memcmp(text, "TOLM", 5) == 0, "Test_Kvo writes TOLM");

  char number[64];
  snprintf(number, sizeof number, "%.16g", version());
  check(strcmp(number, "7.601121999999999") == 0, "version number prints as 7.601121999999999");
  check(year() == 2005, "version year 2005");

  /* A missing GPB file fails validation: -1 from the versioned call, 1 from
   * the plain one, the reader's message, and no output files. */
  ObsRequest obs;
  NavRequest nav;
  memset(&obs, 0, sizeof obs);
  memset(&nav, 0, sizeof nav);
  obs.StructSize = sizeof obs;
  nav.StructSize = sizeof nav;
  snprintf(obs.GpbFile, sizeof obs.GpbFile, "%s/dlopen_missing.gpb", argv[2]);
  snprintf(obs.ObsFile, sizeof obs.ObsFile, "%s/dlopen_missing.obs", argv[2]);
  snprintf(nav.EppFile, sizeof nav.EppFile, "%s/dlopen_missing.epp", argv[2]);
  snprintf(nav.NavFile, sizeof nav.NavFile, "%s/dlopen_missing.nav", argv[2]);
  check(convert_ver(&obs, &nav, RINEX_VERSION_2_1) == -1, "missing GPB file: -1");
  check(convert(&obs, &nav) == 1, "missing GPB file: 1 from Gpb_To_Rinex");
  int32_t n = get_error(text);
  char expected[400];
  snprintf(expected, sizeof expected, "GPB file '%s' does not exits or cannot be opened",
           obs.GpbFile);
  check(strcmp(text, expected) == 0, "missing GPB file: reader's message");
  check(n == (int32_t)strlen(text) + 1, "Get_Error_Str returns length + 1");
  struct stat st;
  check(stat(obs.ObsFile, &st) != 0, "no observation file created");
  check(stat(nav.NavFile, &st) != 0, "no navigation file created");

  dlclose(lib);
  if (failures == 0) printf("dlopen_check: all checks passed\n");
  return failures ? 1 : 0;
}
