/* Links the installed dialog library through its package and checks that
 * its version exports answer. */
#include <rawconv/rawconv.h>

#include <stdio.h>
#include <string.h>

int main(void) {
  char tag[5];
  if (Test_Kvo(tag) != 5 || strcmp(tag, "TOLM") != 0) {
    fprintf(stderr, "dialog_consumer: Test_Kvo gave %s\n", tag);
    return 1;
  }
  if (_DLLVersionYear_() != 2005 || _DLLVersionNumber_() < 7.0) {
    fprintf(stderr, "dialog_consumer: unexpected version\n");
    return 1;
  }
  printf("dialog_consumer: library version %.6f (%d)\n", _DLLVersionNumber_(), (int)_DLLVersionYear_());
  return 0;
}
