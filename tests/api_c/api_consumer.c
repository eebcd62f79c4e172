/* A C program that knows only rawconv_api.h, linked against
 * librawconv_api: converts the shipped sample into a scratch folder and
 * checks what the interface promises. Arguments: the sample folder and a
 * scratch folder. Prints one line per failed check; exit 0 when all pass. */
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "rawconv_api.h"

static int failures = 0;
static void check(int ok, const char* what) {
  if (!ok) {
    printf("FAILED: %s\n", what);
    failures++;
  }
}

static int exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

static int calls = 0;
static int stop_at_first(void* user, uint64_t done, uint64_t total) {
  (void)user;
  (void)done;
  (void)total;
  ++calls;
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  char gpb[1024], obs_path[1024], nav_path[1024], text[256];
  snprintf(gpb, sizeof gpb, "%s/sample.gpb", argv[1]);
  snprintf(obs_path, sizeof obs_path, "%s/sample.05o", argv[2]);
  snprintf(nav_path, sizeof nav_path, "%s/sample.05n", argv[2]);
  remove(obs_path);
  remove(nav_path);

  check(rawconv_api_version() == RAWCONV_API_VERSION, "interface version");
  check(rawconv_version_year() == 2005, "version year");

  rawconv_session* s = rawconv_session_new();
  check(s != NULL, "session");
  rawconv_options o;
  rawconv_options_init(&o);
  check(o.size == sizeof o, "options size");
  o.gpb_path = gpb;
  o.output_dir = argv[2];
  o.use_run_date = 1;
  o.run_date = 1133965800;
  rawconv_report r;
  rawconv_report_init(&r);

  /* Planning names the outputs and writes nothing. */
  check(rawconv_plan(s, &o, &r) == RAWCONV_OK, "plan");
  check(strcmp(r.obs_path, obs_path) == 0, "planned observation path");
  check(!exists(obs_path) && !exists(nav_path), "planning writes nothing");

  /* A cancelled conversion leaves nothing behind. */
  o.progress = stop_at_first;
  check(rawconv_convert(s, &o, &r) == RAWCONV_CANCELLED, "cancel");
  check(calls == 1, "progress called once before the stop");
  check(!exists(obs_path) && !exists(nav_path), "cancel leaves nothing");
  o.progress = NULL;

  check(rawconv_convert(s, &o, &r) == RAWCONV_OK, "convert");
  check(r.result == RAWCONV_OK && r.error[0] == '\0', "report of a success");
  check(exists(obs_path) && exists(nav_path), "outputs written");
  check(r.epochs_read == 120 && r.epochs_written == 120, "epoch counts");
  check(r.first_week == 1316, "first week");
  check(strcmp(r.first_time, "2005-04-02 00:00:00.0000000") == 0, "first time");
  check(r.interval == 30.0, "interval");
  check(r.nav_records > 0, "navigation records");
  check(r.satellites > 0, "satellites");
  check(!r.gpb_damaged && r.gpb_bytes_used == r.gpb_file_size && r.gpb_file_size > 0,
        "whole GPB file used");

  /* Existing outputs: refused by default, skipped, replaced. */
  check(rawconv_convert(s, &o, &r) == RAWCONV_EXISTS, "refuse existing");
  check(strstr(r.error, "exists") != NULL, "refusal text");
  o.existing = RAWCONV_EXISTING_SKIP;
  check(rawconv_convert(s, &o, &r) == RAWCONV_SKIPPED, "skip existing");
  check(r.obs_skipped && r.nav_skipped, "both skipped");
  o.existing = RAWCONV_EXISTING_REPLACE;
  check(rawconv_convert(s, &o, &r) == RAWCONV_OK, "replace existing");

  /* A text wider than its column is an invalid request. */
  o.observer = "an observer name wider than twenty";
  check(rawconv_convert(s, &o, &r) == RAWCONV_INVALID, "observer too long");
  o.observer = NULL;

  /* A missing GPB file. */
  o.gpb_path = "/nonexistent/x.gpb";
  check(rawconv_convert(s, &o, &r) == RAWCONV_BAD_GPB, "missing GPB file");
  check(r.error[0] != '\0', "its message");
  rawconv_session_free(s);

  /* The epoch reader gives the epochs of the file. */
  char epp[1024];
  snprintf(epp, sizeof epp, "%s/sample.epp", argv[1]);
  rawconv_gpb_reader* reader = rawconv_gpb_open(gpb, epp, -1, text, sizeof text);
  check(reader != NULL, "reader open");
  if (reader) {
    rawconv_epoch e;
    int count = 0, code;
    while ((code = rawconv_gpb_next(reader, &e)) == 1) {
      if (count == 0) {
        check(e.week == 1316 && e.num_channels > 0, "first epoch");
        check(e.channels[0].system == 'G' && (e.channels[0].have & RAWCONV_HAVE_C1), "channel");
      }
      ++count;
    }
    check(code == 0 && count == 120, "every epoch, clean end");
    check(rawconv_gpb_next(reader, &e) == 0, "end stays");
    rawconv_gpb_close(reader);
  }
  check(rawconv_gpb_open("/nonexistent.gpb", NULL, -1, text, sizeof text) == NULL && text[0],
        "reader open failure");

  if (failures == 0) printf("api consumer: all checks passed\n");
  return failures ? 1 : 0;
}
