/* Converts one GPB file through the installed reentrant library and checks
 * what the report says.
 * Usage: consumer FILE.gpb OUTPUT_DIR
 * Exit status 0 when the conversion succeeded and its report is sound. */
#include <rawconv/rawconv_api.h>

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "consumer: %s\n", what);
    ++failures;
  }
}

static int is_file(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

static int progress_calls = 0;

static int count_progress(void* user, uint64_t done, uint64_t total) {
  (void)user;
  if (done <= total) ++progress_calls;
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: consumer FILE.gpb OUTPUT_DIR\n");
    return 2;
  }
  check(rawconv_api_version() == RAWCONV_API_VERSION, "interface version differs");

  rawconv_session* session = rawconv_session_new();
  if (!session) return 1;

  rawconv_options options;
  rawconv_options_init(&options);
  options.gpb_path = argv[1];
  options.output_dir = argv[2];
  options.station = RAWCONV_STATION_NONE;
  options.progress = count_progress;
  options.use_run_date = 1;
  options.run_date = 1136073600;

  rawconv_report report;
  rawconv_report_init(&report);
  int rc = rawconv_convert(session, &options, &report);
  if (rc != RAWCONV_OK) {
    fprintf(stderr, "consumer: %s: %s\n", rawconv_result_name(rc), report.error);
    rawconv_session_free(session);
    return 1;
  }
  check(report.result == RAWCONV_OK, "report result is not ok");
  check(report.error[0] == '\0', "error text on success");
  check(is_file(report.obs_path), "observation file missing");
  check(is_file(report.nav_path), "navigation file missing");
  check(strncmp(report.obs_path, argv[2], strlen(argv[2])) == 0, "observation file outside the output folder");
  check(report.epochs_read > 0, "no epochs read");
  check(report.epochs_written > 0 && report.epochs_written <= report.epochs_read,
        "epochs written out of range");
  check(report.satellites > 0 && report.satellites <= 64, "satellite count out of range");
  check(report.first_week > 0 && report.last_week >= report.first_week, "weeks not set");
  check(report.interval > 0, "no interval");
  check(report.nav_records > 0, "no navigation records");
  check(report.gpb_damaged == 0, "sample reported damaged");
  check(report.gpb_bytes_used == report.gpb_file_size, "sample not used to its end");
  check(progress_calls > 0, "progress callback never called");

  /* A second call on the same session refuses to overwrite by default. */
  rawconv_report again;
  rawconv_report_init(&again);
  check(rawconv_convert(session, &options, &again) == RAWCONV_EXISTS, "existing output not refused");
  check(again.error[0] != '\0', "refusal without a reason");

  /* The epoch reader sees as many epochs as the conversion read. */
  char why[RAWCONV_ERROR_MAX];
  rawconv_gpb_reader* reader = rawconv_gpb_open(argv[1], NULL, -1, why, sizeof why);
  check(reader != NULL, "reader did not open");
  if (reader) {
    static rawconv_epoch epoch;
    uint64_t epochs = 0;
    while (rawconv_gpb_next(reader, &epoch) == 1) {
      check(epoch.num_channels >= 0 && epoch.num_channels <= RAWCONV_MAX_CHANNELS,
            "channel count out of range");
      ++epochs;
    }
    check(epochs == report.epochs_read, "reader and conversion disagree on epochs");
    rawconv_gpb_close(reader);
  }

  rawconv_session_free(session);
  printf("consumer: %s -> %s %s (%llu epochs, %d satellites)\n", argv[1], report.obs_path,
         report.nav_path, (unsigned long long)report.epochs_written, report.satellites);
  return failures == 0 ? 0 : 1;
}
