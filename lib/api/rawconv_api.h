/*
 * rawconv_api.h -- the reentrant interface of the rawconv library
 * (librawconv_api.so; rawconv_api.dll on Windows).
 *
 * rawconv turns a GPB raw data file into RINEX files: an observation file
 * made from the GPB epochs and a GPS navigation file made from the broadcast
 * ephemerides of an EPP file; a station file adds new-site-occupation
 * blocks. This interface converts any number of files at once, each on its
 * own session, reports what each conversion did, and reads GPB epochs
 * without writing RINEX.
 *
 * A conversion in four lines:
 *
 *     rawconv_session* s = rawconv_session_new();
 *     rawconv_options o;  rawconv_options_init(&o);
 *     o.gpb_path = "/data/site1.gpb";            // EPP file beside it
 *     rawconv_report r;   rawconv_report_init(&r);
 *     if (rawconv_convert(s, &o, &r) != RAWCONV_OK) fprintf(stderr, "%s\n", r.error);
 *     else printf("%s %s\n", r.obs_path, r.nav_path);
 *     rawconv_session_free(s);
 *
 * Threads: the library keeps no module-wide state. A session may be used by
 * one thread at a time; any number of sessions may convert in parallel
 * threads. Every function here is safe to call from any thread.
 *
 * Memory: the library never frees what the caller passed in and the caller
 * frees nothing the library owns except through the *_free and *_close
 * functions below. Texts are NUL-terminated 8-bit strings (paths in the
 * system's own encoding).
 *
 * Errors: no function lets an exception or a signal escape; every failure is
 * a result code, with a one-line reason in the report's error text: the
 * file or value at fault as the caller gave it and, for a file that could
 * not be opened, read or written, the system's reason ("Cannot open
 * ephemeris file /data/a.epp: No such file or directory", "Cannot write
 * /data/a.05o: No space left on device", "...: it is a folder"). The
 * report's error_field names the options field to change, when there is
 * one; its warnings tell what a call that succeeded left out.
 *
 * Versioning: the options and report records start with their own size. A
 * caller compiled against an older header passes its smaller size; the
 * library reads and fills only the fields inside that size, and later
 * versions only add fields at the end.
 */
#ifndef RAWCONV_API_H_
#define RAWCONV_API_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#if defined(RAWCONV_BUILDING_API)
#define RAWCONV_API __declspec(dllexport)
#else
#define RAWCONV_API __declspec(dllimport)
#endif
#elif defined(RAWCONV_BUILDING_API)
#define RAWCONV_API __attribute__((visibility("default")))
#else
#define RAWCONV_API
#endif

/* Version of this interface; rawconv_api_version() gives the library's. */
#define RAWCONV_API_VERSION 1

/* ---------------------------------------------------------------------- */
/* Result codes                                                             */

enum rawconv_result {
  RAWCONV_OK = 0,         /* every output written */
  RAWCONV_FAILED = 1,     /* a step failed (an input could not be read, an
                             output could not be written, the selection
                             kept no epoch); no output of the call is left
                             behind and existing files of the outputs'
                             names are untouched */
  RAWCONV_BAD_GPB = -1,   /* the GPB file cannot be used (missing, not a GPB
                             file, no epoch); nothing was written */
  RAWCONV_EXISTS = 2,     /* an output exists and existing is
                             RAWCONV_EXISTING_REFUSE; nothing was written */
  RAWCONV_SKIPPED = 3,    /* existing is RAWCONV_EXISTING_SKIP and every
                             output exists already; nothing was written and
                             the file counts as done */
  RAWCONV_CANCELLED = 4,  /* the progress callback asked to stop; no output
                             of the call is left behind */
  RAWCONV_INVALID = 5     /* a NULL or too small record, a missing GPB path,
                             an unknown option value or a text that does not
                             fit its field; nothing was read or written.
                             report.error_field names the field */
};

/* Short English name of a result code ("ok", "failed", ...); never NULL. */
RAWCONV_API const char* rawconv_result_name(int result);

/* ---------------------------------------------------------------------- */
/* Sessions                                                                 */

typedef struct rawconv_session rawconv_session;

/* A new session holding all state of the conversions run on it. NULL only
 * when memory is exhausted. Free it with rawconv_session_free. */
RAWCONV_API rawconv_session* rawconv_session_new(void);

/* Frees a session (NULL is allowed). It must not be in use by a call. */
RAWCONV_API void rawconv_session_free(rawconv_session* session);

/* The library's version number and year (the same as the dialog library's
 * _DLLVersionNumber_ and _DLLVersionYear_). */
RAWCONV_API double rawconv_version_number(void);
RAWCONV_API int32_t rawconv_version_year(void);
/* The release as users see it, "7.60.1122": the text every interface built
 * on this library prints (gpb2rinex --version, the Python package). Static
 * storage, never NULL. */
RAWCONV_API const char* rawconv_version_text(void);
/* The version of this interface the library implements (RAWCONV_API_VERSION
 * of the header it was built with). */
RAWCONV_API int32_t rawconv_api_version(void);

/* ---------------------------------------------------------------------- */
/* Options                                                                  */

/* RINEX version of the outputs (options.rinex). 0 and 1 keep their old
 * meaning; 210 and 200 are accepted as the same as 0 and 1. The navigation
 * file follows the observation file's major version: a RINEX 2 GPS
 * navigation file (version line 2.11 with 2.11, else 2.10), a RINEX 3 one
 * of the same minor version, or a RINEX 4.00 one ("> EPH Gnn LNAV"
 * records). README.md has a table of what each version writes.
 * GLONASS satellites are named by slot in every version (GPB number 33 + n
 * is R(n+1)), and a file holding them says "M (MIXED)", RINEX 2 included. */
enum rawconv_rinex {
  RAWCONV_RINEX_2_10 = 0,   /* RINEX 2.10 (the default): adds S1/S2 */
  RAWCONV_RINEX_2_00 = 1,   /* RINEX 2.00: six observation types */
  RAWCONV_RINEX_2_11 = 211, /* the records of 2.10 under a 2.11 header */
  /* RINEX 3: the same records in each version, with SYS / PHASE SHIFT and,
   * with GLONASS, GLONASS SLOT / FRQ # and GLONASS COD/PHS/BIS. */
  RAWCONV_RINEX_3_02 = 302,
  RAWCONV_RINEX_3_03 = 303,
  RAWCONV_RINEX_3_04 = 304,
  RAWCONV_RINEX_3_05 = 305,
  RAWCONV_RINEX_4_00 = 400  /* RINEX 4.00: the RINEX 3 records under the
                               4.00 header, which has no SYS / PHASE SHIFT
                               and no GLONASS COD/PHS/BIS */
};

/* Reads a RINEX version as a user writes it into *value (enum
 * rawconv_rinex): "2.0"/"2.00", "2.1"/"2.10", "2.11", "3.02", "3.03",
 * "3.04", "3.05", "4"/"4.0"/"4.00"; a major version alone is its newest
 * minor offered: "2" is 2.11, "3" is 3.05. Leading and trailing blanks are
 * not allowed. Returns RAWCONV_OK, or RAWCONV_INVALID (value untouched) for
 * NULL or any other text. The command line and the Python package read
 * their version texts with it, so all three take the same texts. */
RAWCONV_API int rawconv_rinex_from_text(const char* text, int32_t* value);
/* The texts rawconv_rinex_from_text takes, for messages:
 * "2.0, 2.00, 2.1, ..." (a static text). */
RAWCONV_API const char* rawconv_rinex_texts(void);

enum rawconv_existing {
  RAWCONV_EXISTING_REFUSE = 0,  /* the default: fail with RAWCONV_EXISTS */
  RAWCONV_EXISTING_REPLACE = 1, /* a complete new file takes the name */
  RAWCONV_EXISTING_SKIP = 2     /* leave an existing output alone */
};

enum rawconv_station {
  RAWCONV_STATION_BESIDE = 0, /* the .sta file beside the GPB file, when
                                 there is one (any case of the extension;
                                 else a .sta.gz file; named after the GPB
                                 file's name without ".gz"); one that gives
                                 no station block (no record, or none at the
                                 data's times) is a line in report.warnings */
  RAWCONV_STATION_NONE = 1,   /* no station blocks */
  RAWCONV_STATION_FILE = 2    /* station_path; a file that is missing, a
                                 folder, unreadable or without a station
                                 record fails (RAWCONV_FAILED, error_field
                                 "station_path"); one whose records miss
                                 the data's times is a warning */
};

enum rawconv_names {
  RAWCONV_NAMES_INPUT = 0, /* the GPB file's name with .YYo / .YYn (without
                              the ".gz" of a gzip file: site1.gpb.gz ->
                              site1.05o) */
  RAWCONV_NAMES_SHORT = 1, /* ssssdddf.YYo / .YYn */
  RAWCONV_NAMES_LONG = 2   /* SSSSMRCCC_R_YYYYDDDHHMM_PPU_FFU_MO.rnx, _GN.rnx */
};

/* Quality check of the recording (see "Quality reports" in README.md). */
enum rawconv_qc {
  RAWCONV_QC_NONE = 0,  /* the default: no quality check */
  RAWCONV_QC_WITH = 1,  /* check while converting: the writing pass feeds
                           the check, no extra pass over the GPB file */
  RAWCONV_QC_ONLY = 2   /* check only: no RINEX file is written (obs_path
                           and nav_path of the report stay empty) */
};

/* Where APPROX POSITION XYZ comes from (options.position_source). */
enum rawconv_position_source {
  RAWCONV_POSITION_RECEIVER = 0, /* the default: the mean of the receiver's
                                    own fixes in the GPB file (or
                                    options.position when use_position) */
  RAWCONV_POSITION_DATA = 1      /* the position from the data: the robust
                                    mean of single-point solutions of the
                                    GPS codes with the EPP file's broadcast
                                    ephemerides (see "Quality reports" in
                                    README.md), found by the pre-scan */
};

/* Splitting of the observation output (options.split): one file per span
 * of GPS time, the spans aligned to the GPS day. The values are the spans'
 * lengths in seconds. */
enum rawconv_split {
  RAWCONV_SPLIT_NONE = 0,
  RAWCONV_SPLIT_15M = 900,    /* 00:00, 00:15, 00:30, ... */
  RAWCONV_SPLIT_1H = 3600,    /* 00:00, 01:00, ... */
  RAWCONV_SPLIT_1D = 86400    /* one file per GPS day */
};

/* Kinds of output file (rawconv_output_fn). */
enum rawconv_output_kind {
  RAWCONV_OUTPUT_OBS = 0,  /* an observation file */
  RAWCONV_OUTPUT_NAV = 1,  /* the navigation file */
  RAWCONV_OUTPUT_QC = 2    /* a quality report (text, JSON, HTML) */
};

enum rawconv_compress {
  RAWCONV_COMPRESS_NONE = 0,
  RAWCONV_COMPRESS_GZ = 1,     /* gzip of both outputs */
  RAWCONV_COMPRESS_CRX = 2,    /* Compact RINEX observation file */
  RAWCONV_COMPRESS_CRX_GZ = 3  /* Compact RINEX, gzipped; navigation gzipped */
};

/* Progress of a conversion: `done` of `total` units of work (bytes of the
 * GPB file read over all passes; of its decompressed data for a gzip
 * file). Called from the converting thread now and
 * then, with done == total at the end of the last pass, and twice more with
 * done == total while the outputs are put in place (before the first is
 * moved and before the replaced files are let go: the last moments at which
 * the call can still be taken back whole). A non-zero return cancels the
 * conversion: the call then returns RAWCONV_CANCELLED, removes the outputs
 * it had begun and leaves the files they would have replaced as they were. */
typedef int (*rawconv_progress_fn)(void* user, uint64_t done, uint64_t total);

/* One output file of a call: kind (enum rawconv_output_kind) and path.
 * rawconv_convert calls it once per output after every output is in place
 * (never for a call that failed), skipped 1 for a file that existed and was
 * left alone (RAWCONV_EXISTING_SKIP), on the calling thread; rawconv_plan
 * once per planned output (skipped 0). Order: the observation files in time
 * order, the navigation file, the reports. path is valid during the call
 * of the function only. */
typedef void (*rawconv_output_fn)(void* user, int32_t kind, const char* path, int32_t skipped);

/* Limits of the header texts of the options: the most characters each text
 * takes (its columns in the RINEX header), the most comment lines, and the
 * largest antenna height. A text, count or height beyond its limit makes a
 * call return RAWCONV_INVALID. Texts are printable ASCII (0x20 to 0x7e):
 * any other byte (a line end, an escape, a UTF-8 letter) makes the call
 * return RAWCONV_INVALID naming the field and the byte ("marker_name: not
 * printable ASCII (byte 0x0a at 2)", the position counted from 1). */
#define RAWCONV_MARKER_MAX 60           /* marker_name (MARKER NAME) */
#define RAWCONV_OBSERVER_MAX 20         /* observer (OBSERVER / AGENCY) */
#define RAWCONV_AGENCY_MAX 40           /* agency (OBSERVER / AGENCY) */
#define RAWCONV_RUN_BY_MAX 20           /* run_by (PGM / RUN BY / DATE) */
#define RAWCONV_STATION_ID_MAX 9        /* station_id (long names) */
#define RAWCONV_MARKER_NUMBER_MAX 20    /* marker_number (MARKER NUMBER) */
#define RAWCONV_RECEIVER_TEXT_MAX 20    /* receiver_number, receiver_type,
                                           receiver_version (REC # / TYPE / VERS) */
#define RAWCONV_ANTENNA_TEXT_MAX 20     /* antenna_number, antenna_type with its
                                           radome (ANT # / TYPE) */
#define RAWCONV_COMMENT_MAX 60          /* each of comments (COMMENT) */
#define RAWCONV_COMMENT_COUNT_MAX 32    /* comment_count */
/* GPS weeks (options.week) whose every day the writers can date: weeks 0
 * (6 January 1980) to 5216 (the last whole week before 2080, where the
 * two-digit years of RINEX 2 end). */
#define RAWCONV_WEEK_MAX 5216
#define RAWCONV_ANTENNA_HEIGHT_MAX 999999999.9999 /* antenna_height, metres:
                                                     the most F14.4 holds */

/* Everything one conversion needs. Start from rawconv_options_init; every
 * pointer is borrowed for the duration of the call only; NULL texts are
 * empty. */
typedef struct rawconv_options {
  uint32_t size;              /* sizeof(rawconv_options), set by init */

  /* Inputs. The GPB, EPP and station files may be gzip files (told by
   * their content, not their name; read whole into a temporary file in
   * $TMPDIR first); a folder is refused. */
  const char* gpb_path;       /* required */
  const char* epp_path;       /* NULL or "": the GPB file's name (without
                                 ".gz") with .epp (any case of the
                                 extension), else with .epp.gz. When no such
                                 file exists and use_week or date dates the
                                 recording, the observation file is written
                                 alone (no navigation file, report.nav_path
                                 empty, a line in report.warnings); without
                                 either the call fails naming the file
                                 (error_field "epp_path"). A file named here
                                 must exist (RAWCONV_FAILED otherwise). */
  int32_t station;            /* enum rawconv_station */
  const char* station_path;   /* with RAWCONV_STATION_FILE */

  /* Outputs */
  const char* output_dir;     /* NULL: beside the GPB file */
  const char* obs_path;       /* non-NULL: this exact observation path (no
                                 naming, no folder); nav_path likewise */
  const char* nav_path;
  int32_t rinex;              /* enum rawconv_rinex */
  int32_t names;              /* enum rawconv_names */
  int32_t compress;           /* enum rawconv_compress */
  int32_t existing;           /* enum rawconv_existing */

  /* Header texts. Each must be printable ASCII and fit its RINEX columns
   * (RAWCONV_MARKER_MAX, RAWCONV_OBSERVER_MAX, RAWCONV_AGENCY_MAX,
   * RAWCONV_RUN_BY_MAX, RAWCONV_STATION_ID_MAX characters; else
   * RAWCONV_INVALID naming the field). */
  const char* marker_name;
  const char* observer;
  const char* agency;
  const char* run_by;
  const char* station_id;     /* nine characters for long names; NULL: the
                                 four-character code + "00XXX" */
  double antenna_height;      /* metres, 0 .. RAWCONV_ANTENNA_HEIGHT_MAX
                                 (fits %14.4f) */

  /* Dating */
  int32_t use_week;           /* 1: every epoch is in GPS week `week` */
  int32_t week;               /* full week count, 0 .. RAWCONV_WEEK_MAX
                                 (else RAWCONV_INVALID, error_field "week") */

  /* Progress and cancellation */
  rawconv_progress_fn progress;
  void* progress_user;

  /* Run date of the "PGM / RUN BY / DATE" lines: when use_run_date is 1,
   * run_date (seconds since 1970, read as local time) instead of the
   * clock, for byte-exact reproducible files. */
  int32_t use_run_date;
  int64_t run_date;

  /* Quality check (enum rawconv_qc). Three report files are written, whole
   * or not at all and under the existing-output policy like the RINEX
   * files: NAME.qc.txt (the full text), NAME.qc.json (the schema is in
   * README.md) and NAME.qc.html (one page with its figures). NAME is the
   * observation output's file name while converting ("site1.05o.qc.txt"),
   * without the marks of compression: the plain RINEX name the file stands
   * for ("site1.05o.qc.txt" for site1.05d.gz too, "..._MO.rnx.qc.txt" for
   * "..._MO.crx.gz"),
   * the GPB file's name without its extension with RAWCONV_QC_ONLY
   * ("site1.qc.txt"). They go into qc_dir when given, else beside the
   * observation output, or with RAWCONV_QC_ONLY into output_dir, else
   * beside the GPB file. The folder must exist. */
  int32_t qc;
  /* Elevation mask of the check in degrees, 0 .. 90, used when
   * use_elevation_mask is 1; otherwise 10 degrees. Observations below it
   * are counted, not dropped. */
  int32_t use_elevation_mask;
  double elevation_mask;
  const char* qc_dir;

  /* Editing while converting (see "Editing while converting" in README.md).
   * All unset (zero, NULL, "") converts as without them, byte for byte.
   * The observation header describes what the file holds after selection
   * (INTERVAL, TIME OF FIRST OBS, the type list, the counts of
   * full_header), and report->epochs_written counts the epochs written.
   * A value that does not parse or fit fails with RAWCONV_INVALID and a
   * one-line message, before anything is read. A selection (window,
   * interval, exclusions) that keeps no epoch of the recording fails with
   * RAWCONV_FAILED and writes nothing, its message naming the selection and
   * the recording's span ("No epoch kept: window 2015-04-02 00:00:00 to
   * (open); the recording spans 2005-04-02 00:00:00 to 2005-04-02
   * 00:59:30").
   *
   * Epoch window, GPS time (no leap seconds), "YYYY-MM-DD HH:MM:SS",
   * "YYYY-MM-DDTHH:MM:SS" or "YYYY/MM/DD HH:MM:SS", seconds may carry a
   * fraction, or a date alone ("YYYY-MM-DD", "YYYY/MM/DD": its
   * 00:00:00): from_time is the
   * first time kept, to_time the first time dropped; either may be NULL
   * (open). An epoch within the clock tolerance (25 ms, at most a quarter
   * of the interval) of a bound counts as lying on it. */
  const char* from_time;
  const char* to_time;
  /* Decimation, seconds (0: every epoch; else more than 0, at most 86400):
   * the epochs whose GPS time of day lies within the clock tolerance of a
   * multiple of interval. */
  double interval;
  /* Systems and satellites left out: "G", "R", "G05", "R12" (GLONASS slot),
   * separated by commas. */
  const char* exclude;
  /* Observation types kept, in any order, as RINEX 2 types
   * "C1,L1,L2,P1,P2,D1,S1,S2" or RINEX 3 codes "C1C,L1C,L2W,C1W,C2W,D1C,
   * S1C,S2W" (the GLONASS spellings L2P, C1P, C2P, S2P name the same types
   * as L2W, C1W, C2W, S2W), mixed freely, for any output version. Each
   * must be present in the data, else the file fails (RAWCONV_FAILED)
   * naming the type. An unknown code fails with RAWCONV_INVALID naming it.
   * NULL: every type present. */
  const char* obs_types;
  /* Header texts of 20 printable ASCII columns each
   * (RAWCONV_MARKER_NUMBER_MAX, RAWCONV_RECEIVER_TEXT_MAX,
   * RAWCONV_ANTENNA_TEXT_MAX). An empty
   * receiver_type keeps the receiver of the GPB file; antenna_type with
   * its radome ("TRM55971.00     NONE"). marker_number adds a MARKER NUMBER
   * line. */
  const char* marker_number;
  const char* receiver_number;
  const char* receiver_type;
  const char* receiver_version;
  const char* antenna_number;
  const char* antenna_type;
  /* 1: position (X, Y, Z metres) replaces APPROX POSITION XYZ. */
  int32_t use_position;
  double position[3];
  /* 1: antenna_delta (H, E, N metres) replaces ANTENNA: DELTA H/E/N (and
   * antenna_height). Each value must fit F14.4. */
  int32_t use_antenna_delta;
  double antenna_delta[3];
  /* COMMENT lines of the observation header, up to RAWCONV_COMMENT_MAX (60)
   * printable ASCII columns each, at most RAWCONV_COMMENT_COUNT_MAX (32);
   * comments may be NULL when comment_count is 0. */
  const char* const* comments;
  int32_t comment_count;
  /* 1: TIME OF LAST OBS, # OF SATELLITES and PRN / # OF OBS, counted by the
   * pre-scan (no extra pass over the GPB file). */
  int32_t full_header;

  /* Splitting (enum rawconv_split): one observation file per span of GPS
   * time, aligned to the GPS day (an epoch within the clock tolerance
   * before a boundary counts as lying on it), for every RINEX version and
   * compression. Each span holding a kept epoch gets a complete file with
   * its own header (TIME OF FIRST OBS, INTERVAL, the types and, with
   * full_header, the counts of that span only; receiver and GLONASS
   * channels from the whole file) and its own name:
   *   RAWCONV_NAMES_SHORT  ssssddd0.yyo (1D), ssssdddh.yyo with the hour's
   *                        letter a..x (1H), ssssdddhmm.yyo with the
   *                        span's first minute 00/15/30/45 (15M)
   *   RAWCONV_NAMES_LONG   the span's start and period 01D / 01H / 15M
   *   RAWCONV_NAMES_INPUT  as RAWCONV_NAMES_SHORT
   * (Compact RINEX and gzip change the extensions as without splitting.)
   * The navigation file is written once, named as without splitting. The
   * existing policy applies to each file; all files are moved into place
   * together at the end, or none. The quality check covers the whole input,
   * its reports named after the GPB file ("site1.qc.txt") in qc_dir or the
   * outputs' folder. Not with obs_path / nav_path (RAWCONV_INVALID).
   * report->obs_path is the first span's file, report->obs_files their
   * number; output receives every path. rawconv_plan reads the epoch times
   * to name the spans. */
  int32_t split;
  /* Called with every output file of the call (see rawconv_output_fn);
   * NULL: not called. */
  rawconv_output_fn output;
  void* output_user;
  /* 0: a conversion of a GPB file of 8 MB or more uses helper threads
   * beside the caller's: one reads the GPB file ahead while the caller
   * decodes, and one writes the plain observation file while the caller
   * formats (with gzip output, one compressor thread per core, up to four,
   * instead); smaller files are converted on the caller's thread alone,
   * where starting the helpers costs more than they win.
   * 1: every conversion runs on the caller's thread alone. For callers that
   * already run one conversion per core, where the helpers only add work,
   * or that keep to a number of cores (gpb2rinex -j N). Outputs are the
   * same either way. */
  int32_t single_thread;

  /* MARKER TYPE of RINEX 3 and 4 observation headers, after MARKER NAME and
   * MARKER NUMBER: GEODETIC, NON_GEODETIC, NON_PHYSICAL, SPACEBORNE,
   * GROUND_CRAFT, WATER_CRAFT, AIRBORNE, FIXED_BUOY, FLOATING_BUOY,
   * FLOATING_ICE, GLACIER, BALLISTIC, ANIMAL or HUMAN, in any case, written
   * in upper case. NULL or "": no record (the marker counts as GEODETIC).
   * Any other text, or any type with RINEX 2 output (RINEX 2 has no MARKER
   * TYPE record), fails with RAWCONV_INVALID. Callers built before this
   * field pass a smaller size and get no record. */
  const char* marker_type;
  /* 0 (the default): every output file is flushed to the disk (fsync)
   * before it is renamed onto its name, and its folder after, so that after
   * a crash or a power cut a name never holds an empty or cut file. 1: no
   * flushing, for scratch runs whose outputs can be made again; faster on
   * slow disks (README.md, "Batch processing", gives the cost). */
  int32_t no_sync;
  /* "YYYY-MM-DD" (or "YYYY/MM/DD"), a day of the recording (GPS time): dates its epochs
   * without an EPP file (or instead of its reference), each at the time
   * nearest noon of that day with its time of week, so any day the
   * recording touches gives the same dates. A day of GPS weeks 0 to
   * RAWCONV_WEEK_MAX (1980-01-06 to 2079-12-30). NULL or "": not used.
   * Any other text, or a day with use_week, is RAWCONV_INVALID
   * (error_field "date"). */
  const char* date;

  /* Station records: the header facts of the station's own files (see
   * "Station metadata" in README.md). Each input is looked up by its
   * marker: station_id when given, else marker_name, else the GPB file's
   * name (its first four letters and digits, or a nine-character ID before
   * "_"), matched by 4 or 9 characters in any letter case. Times of the
   * records are UTC and are compared with the recording's first epoch, or
   * from_time when that is later (GPS time; the leap seconds between them
   * are below the records' minute).
   * Precedence, field by field: the options of this record given
   * explicitly (marker_name, marker_number, receiver_*, antenna_*,
   * antenna_height, antenna_delta, position, observer, agency, station_id),
   * then the station table's row, then the site log, then the GPB file. The
   * records need a dated recording (an EPP file, week or date). A record
   * that cannot be used fails the call (RAWCONV_FAILED, nothing written;
   * rawconv_plan fails the same way) with error_field naming the field.
   *
   * sitelog_path: an IGS site log (classic or version 2.0 layout, plain or
   * gzip), or a folder of them. A folder gives the log of the input's
   * station by the usual names "abcd00dnk_20230101.log" and
   * "abcd_20230101.log" in any letter case, the newest by the date in the
   * name (nine-character names first on the same date); no log of the
   * station in the folder fails ("No site log for station ABCD in folder
   * X"): a header is never written without the records asked for. A file
   * is used as given, but its ID must name the input's station. From the
   * receiver (3.n) and antenna (4.n) entries installed at the first epoch:
   *   MARKER NAME          the four-character ID (long names take the
   *                        nine-character ID of a 2.0 log as station_id)
   *   MARKER NUMBER        IERS DOMES Number
   *   REC # / TYPE / VERS  Serial Number, Receiver Type, Firmware Version
   *   ANT # / TYPE         Serial Number, Antenna Type padded to 16
   *                        columns with the radome (Antenna Type's own, else
   *                        Antenna Radome Type, else NONE) in 17-20
   *   ANTENNA: DELTA H/E/N Marker->ARP Up, East, North Ecc. (none without
   *                        an Up eccentricity)
   *   APPROX POSITION XYZ  X, Y, Z coordinate of section 2
   * A text longer than its 20 columns is cut, a byte outside printable
   * ASCII written as '?', each with a line in report.warnings. A recording
   * whose last epoch lies past a change of receiver or antenna gets a
   * warning line; its header describes the first epoch. Failures: a
   * missing or unreadable file, a log without ID, without section 3 or 4,
   * with a coordinate that does not read; a receiver or antenna entry
   * without Date Installed or with a date or number that does not read,
   * when the first epoch lies before the next entry that reads (the
   * message names the file and line: "Site log X line 57: Date Installed
   * '2012-13-01' is not a date"); no receiver or antenna installed at the
   * first epoch ("Site log X has no antenna installed at 2005-04-02
   * 00:00:00"); a log of another station. error_field "sitelog_path".
   *
   * stations_path: a station table, CSV with a header row and one row per
   * station and period (columns in README.md: marker, from, to,
   * marker_number, station_id, observer, agency, receiver_number,
   * receiver_type, receiver_version, antenna_number, antenna_type,
   * antenna_height, antenna_delta, position or position_x/y/z). The row of
   * the input's station valid at the first epoch gives MARKER NAME (its
   * marker), the texts and numbers of its non-empty cells, and a nine-
   * character marker or station_id the station_id of long names and of the
   * site-log lookup. An input whose station has no row is converted from
   * the other sources with a line in report.warnings. A table that cannot
   * be read, an unknown column, a bad number or date, a text that does not
   * fit, or two rows of one station with overlapping periods fail, naming
   * the file, line and column. error_field "stations_path".
   *
   * NULL or "": not used. Callers built before these fields pass a smaller
   * size and use none. */
  const char* sitelog_path;
  const char* stations_path;
  /* enum rawconv_position_source. RAWCONV_POSITION_DATA writes the position
   * from the data into APPROX POSITION XYZ of every observation file of the
   * call (with splitting: the mean of the whole input in each file): the
   * pre-scan solves the epochs (the first 600, then those 30 s apart, at
   * most 4096: a day of 30 s data whole, one epoch in 30 at 1 Hz; see
   * "Quality reports" in README.md) with the
   * ephemerides of the EPP file, GPS only, above the
   * elevation mask (elevation_mask, else 10 degrees), and takes their
   * robust mean; the writing pass and the quality check reuse it. It wins
   * over a position of the station's records. Fails with RAWCONV_FAILED,
   * error_field "position_source", when there is no EPP file ("No ephemeris
   * file X: the position from the data needs the broadcast ephemerides"),
   * it holds no ephemeris, or no epoch has a solution ("No position from
   * the data of X: <reason>"). With use_position: RAWCONV_INVALID
   * (error_field "position_source"); any other value: RAWCONV_INVALID. */
  int32_t position_source;
} rawconv_options;

/* Sets every field to its default (zero, NULL) and size to `size`, which
 * must be the caller's sizeof(rawconv_options): a library newer than the
 * caller's header then writes only the caller's part of the record. Use the
 * macro rawconv_options_init(&options), which passes it. */
RAWCONV_API void rawconv_options_init_sized(rawconv_options* options, uint32_t size);
#define rawconv_options_init(options) \
  rawconv_options_init_sized((options), (uint32_t)sizeof *(options))

/* Checks the editing fields of options only (from, to, interval, exclude,
 * obs_types, every header text (marker_name, observer, agency, run_by and
 * station_id too), position, antenna_delta, comments, marker_type against
 * rinex), as
 * rawconv_convert would. Returns RAWCONV_OK, or RAWCONV_INVALID with the
 * one-line reason in error (error_size bytes, always terminated; error may
 * be NULL). Whether a type is present in the data is not checked here. */
RAWCONV_API int rawconv_check_edits(const rawconv_options* options, char* error,
                                    size_t error_size);

/* ---------------------------------------------------------------------- */
/* Reports                                                                  */

#define RAWCONV_PATH_MAX 4096
#define RAWCONV_ERROR_MAX 256
#define RAWCONV_QC_LINE_MAX 1024

/* What one call did. Every rawconv_convert and rawconv_plan fills it, on
 * failure too (fields not reached stay zero/empty). */
typedef struct rawconv_report {
  uint32_t size;                 /* sizeof(rawconv_report), set by init */
  int32_t result;                /* the call's result code */
  char error[RAWCONV_ERROR_MAX]; /* one line, empty on success */
  char obs_path[RAWCONV_PATH_MAX]; /* outputs (as written or planned) */
  char nav_path[RAWCONV_PATH_MAX];
  int32_t obs_skipped;           /* 1: the observation output existed and was
                                    left alone (RAWCONV_EXISTING_SKIP); with
                                    splitting: every span's file did */
  int32_t nav_skipped;
  uint64_t epochs_read;          /* epochs of the GPB file (with a time
                                    window, decimation or exclusions: the
                                    epochs they keep) */
  uint64_t epochs_written;       /* epoch records written */
  int32_t satellites;            /* distinct satellites seen */
  int32_t first_week;            /* full GPS week of the first epoch, or -1 */
  double first_tow;              /* seconds of week of the first epoch */
  int32_t last_week;
  double last_tow;
  char first_time[32];           /* "2005-04-02 00:00:00.0000000" (GPS time) */
  char last_time[32];
  double interval;               /* seconds, as in the header */
  uint32_t nav_records;          /* navigation records written */
  int32_t gpb_damaged;           /* 1: the GPB file ended in a damaged or
                                    truncated record; the epochs before it
                                    were converted */
  uint64_t gpb_bytes_used;       /* bytes up to the end of the last good
                                    record */
  uint64_t gpb_file_size;        /* of the GPB data (decompressed) */

  /* Quality check (options.qc not RAWCONV_QC_NONE): the one-line summary
   * ("site1.gpb: 2005-04-02 00:00:00.000 to ..., 30 s, 2880/2880 epochs
   * (100.0%), 0 gaps, ..."; no line end; it starts with the GPB path as
   * options.gpb_path gave it, folders included) once the check ran, and
   * the paths of the three reports as written or planned. A report file
   * that existed and was left alone (RAWCONV_EXISTING_SKIP) keeps its path
   * and sets qc_skipped. */
  char qc_summary[RAWCONV_QC_LINE_MAX];
  char qc_text_path[RAWCONV_PATH_MAX];
  char qc_json_path[RAWCONV_PATH_MAX];
  char qc_html_path[RAWCONV_PATH_MAX];
  int32_t qc_skipped;

  /* Observation files written (planned by rawconv_plan); existing files
   * left alone are not counted. 1 without splitting, the number of spans
   * with splitting (0 when no epoch was kept). */
  uint32_t obs_files;

  /* What the call did that the caller should hear of although it
   * succeeded (RAWCONV_OK or RAWCONV_SKIPPED, rawconv_plan too): zero or
   * more lines, each ending in '\n', empty when there is nothing to say.
   * Cut at a line end when they do not fit. The lines:
   *   "No ephemeris file X: observation file only"
   *   "No ephemeris file X: the quality check has no azimuths or elevations"
   *   "Station file X has no record for the times of the data: no station block"
   *   "Station file X holds no station record: no station block"
   *   "Station table X has no row for station ABCD[ at TIME]: its header
   *    takes no values from it"
   *   "Recording A to B spans a change of antenna in site log X (entry 4.2
   *    installed T): the header gives the antenna of A" (and of receiver)
   *   "Site log X entry 3.1: Firmware Version '...' cut to its 20 header
   *    columns"
   *   "Quality check: <station warning>" for each difference of the quality
   *     check's station comparison beyond its threshold (the position from
   *     the data more than 30 m from APPROX POSITION XYZ, more than 5 m,
   *     or 20 m with L1 codes alone, from the station records' position; a
   *     receiver or antenna other than the records'; no position from the
   *     data although ephemerides were given; see "Quality reports" in
   *     README.md) */
  char warnings[RAWCONV_QC_LINE_MAX];
  /* With an error: the options field to change, by its name in
   * rawconv_options ("epp_path", "from_time", "marker_name", "existing",
   * ...), so that a caller can name its own spelling of it (gpb2rinex its
   * option, Python its keyword); empty when no one field is at fault. */
  char error_field[32];
} rawconv_report;

/* As rawconv_options_init_sized, for the report (first_week and last_week
 * are set to -1). Use the macro rawconv_report_init(&report). */
RAWCONV_API void rawconv_report_init_sized(rawconv_report* report, uint32_t size);
#define rawconv_report_init(report) \
  rawconv_report_init_sized((report), (uint32_t)sizeof *(report))

/* ---------------------------------------------------------------------- */
/* Conversion                                                               */

/* Converts one GPB file as `options` say and fills `report`.
 *
 * Outputs appear whole or not at all: each is written to a temporary file
 * ("NAME.part-XXXXXX") in its folder and renamed onto its name only when it
 * is complete. A failure, a cancellation or an existing output under the
 * refuse policy leaves no file behind and never touches an existing file.
 * An output that names one of the call's inputs (by file identity) fails.
 * The output folder must exist. Returns the result code (also in
 * report->result). report may be NULL only when the caller needs nothing
 * of it (the result code alone). */
RAWCONV_API int rawconv_convert(rawconv_session* session, const rawconv_options* options,
                                rawconv_report* report);

/* Fills report->obs_path and nav_path with the paths rawconv_convert would
 * write for these options, without writing anything (it reads the GPB file,
 * and the EPP file for the date of the data). Callers use it to find two
 * inputs of a batch that would write the same file. Result RAWCONV_OK, or
 * the code and message rawconv_convert would fail with before writing. The
 * existing policy is not applied. With a time window, interval or
 * exclusions it reads every epoch, and fails as rawconv_convert would when
 * they keep none. With options->split it reads every epoch
 * time, fills report->obs_files and hands every span's path (and the
 * navigation and report paths) to options->output: the full list a batch
 * must check. */
RAWCONV_API int rawconv_plan(rawconv_session* session, const rawconv_options* options,
                             rawconv_report* report);

/* ---------------------------------------------------------------------- */
/* Reading GPB epochs                                                       */

#define RAWCONV_MAX_CHANNELS 24

/* Bits of rawconv_channel.have: which values the receiver gave. */
enum rawconv_obs_bit {
  RAWCONV_HAVE_C1 = 1 << 0,
  RAWCONV_HAVE_L1 = 1 << 1,
  RAWCONV_HAVE_L2 = 1 << 2,
  RAWCONV_HAVE_P1 = 1 << 3,
  RAWCONV_HAVE_P2 = 1 << 4,
  RAWCONV_HAVE_D1 = 1 << 5,
  RAWCONV_HAVE_S1 = 1 << 6,
  RAWCONV_HAVE_S2 = 1 << 7
};

/* One tracked satellite. Values in RINEX's units and signs: ranges in
 * metres, phases in cycles (with RINEX's sign), Doppler in Hz, signal
 * strength in dB-Hz. A value whose bit is not in `have` is 0. */
typedef struct rawconv_channel {
  char system;              /* 'G' or 'R' */
  int32_t prn;              /* RINEX satellite number within the system */
  int32_t gpb_prn;          /* as in the GPB file (GLONASS: number + 32) */
  uint32_t have;            /* rawconv_obs_bit flags */
  double c1, l1, l2, p1, p2, d1, s1, s2;
  double lock_time1;        /* seconds of continuous L1 lock; 0: lost */
  double lock_time2;
  int32_t lli1;             /* 1: loss of lock on L1 at this epoch */
  int32_t lli2;
} rawconv_channel;

/* One epoch. */
typedef struct rawconv_epoch {
  double tow;               /* GPS seconds of week */
  int32_t week;             /* full GPS week, or -1 when not known */
  double latitude;          /* receiver position: degrees, WGS 84 */
  double longitude;
  double height;            /* metres above the ellipsoid */
  int32_t position_valid;   /* 1 when the receiver flagged it valid */
  int32_t kinematic;        /* 1 while the receiver is moving */
  double clock_bias;        /* metres */
  int32_t num_channels;
  rawconv_channel channels[RAWCONV_MAX_CHANNELS];
} rawconv_epoch;

typedef struct rawconv_gpb_reader rawconv_gpb_reader;

/* Opens a GPB file for reading its epochs in order. epp_path (may be NULL)
 * names an EPP file whose reference ephemeris dates the epochs (their full
 * week); week_override >= 0 gives the week directly instead. On failure
 * returns NULL and, when error is not NULL, writes the reason into error
 * (error_size bytes, always terminated). Close with rawconv_gpb_close. */
RAWCONV_API rawconv_gpb_reader* rawconv_gpb_open(const char* gpb_path, const char* epp_path,
                                                 int32_t week_override, char* error,
                                                 size_t error_size);

/* Reads the next epoch into *epoch. Returns 1 for an epoch, 0 at the end of
 * the file, -1 when the file ends in a damaged or truncated record (the
 * epochs before it were given; rawconv_gpb_error tells why). After 0 or -1
 * every further call returns the same. */
RAWCONV_API int rawconv_gpb_next(rawconv_gpb_reader* reader, rawconv_epoch* epoch);

/* Opens a GPB file as rawconv_gpb_open does, dated by at most one of:
 *   week     >= 0: every epoch in this full GPS week (0 to
 *            RAWCONV_WEEK_MAX); -1: not given;
 *   date     "YYYY-MM-DD" or "YYYY/MM/DD", a day of the recording (GPS time), as
 *            options.date dates a conversion: each epoch at the time nearest
 *            noon of that day with its time of week; NULL or "": not given;
 *   epp_path an EPP file whose reference ephemeris dates the epochs; NULL
 *            or "": not given. Unlike rawconv_gpb_open, a file named here
 *            that is missing, a folder, unreadable or without an ephemeris
 *            to date by fails the open.
 * Nothing given: every epoch's week is -1. Two given, a week out of range or
 * a date of any other form fails. On failure returns NULL with the reason in
 * error (error_size bytes, always terminated; error may be NULL): the GPB
 * file's as rawconv_gpb_open gives it, else "Cannot open ephemeris file X:
 * <the system's reason>", "Ephemeris file X holds no ephemeris to date the
 * recording", "Bad date \"...\": expected YYYY-MM-DD or YYYY/MM/DD, a day of GPS weeks 0
 * to 5216", "GPS week N out of range (0 to 5216)" (the texts
 * rawconv_convert gives for options.date and options.week) or "Give one of
 * an EPP file, a GPS week and a day".
 * Close with rawconv_gpb_close. */
RAWCONV_API rawconv_gpb_reader* rawconv_gpb_open_dated(const char* gpb_path, const char* epp_path,
                                                       int32_t week, const char* date,
                                                       char* error, size_t error_size);

/* Reads up to `capacity` epochs, in order, into the caller's array epochs[0]
 * .. epochs[capacity - 1], each exactly as rawconv_gpb_next would give it,
 * and sets *count to the number read. One call reads a large block of a
 * file with none of the per-call cost of rawconv_gpb_next (the Python
 * package fills its arrays this way); the two may be mixed on one reader.
 * Returns 1 when the array is full (*count == capacity; more epochs may
 * follow), 0 when the file ended cleanly (*count epochs before the end,
 * possibly none), -1 when it ended in a damaged or truncated record
 * (*count good epochs before it; rawconv_gpb_error tells why). After 0 or
 * -1 every further call returns the same with *count 0. A NULL reader,
 * array (with capacity > 0) or count returns -1 and reads nothing (*count,
 * when count is not NULL, is 0). Entries beyond *count are left as they
 * were. The array stays the caller's: the library keeps no pointer to it. */
RAWCONV_API int rawconv_gpb_read(rawconv_gpb_reader* reader, rawconv_epoch* epochs,
                                 size_t capacity, size_t* count);

/* The reason of the last -1 of rawconv_gpb_next; "" otherwise. Owned by the
 * reader, valid until the next call on it. */
RAWCONV_API const char* rawconv_gpb_error(const rawconv_gpb_reader* reader);

/* The caller's arrays that rawconv_gpb_read_columns fills, one value per
 * epoch or per epoch and channel, for callers that keep each value in an
 * array of its own (the Python package's NumPy arrays). Each pointer is
 * the first entry to fill, for the block's `capacity` epochs: per epoch,
 * `capacity` entries; per channel, capacity * RAWCONV_MAX_CHANNELS entries,
 * epoch by epoch (epoch i's channel c at i * RAWCONV_MAX_CHANNELS + c). A
 * NULL pointer is left out. Values are those of rawconv_epoch and
 * rawconv_channel, except that a value the receiver did not give (its bit
 * not in `have`) and every value of a channel past num_channels is NaN, and
 * such a channel's system is 0, its numbers, lli1 and lli2 are 0 and its
 * lock times NaN. Start from rawconv_columns_init. */
typedef struct rawconv_columns {
  uint32_t size;               /* sizeof(rawconv_columns), set by init */
  /* per epoch */
  double* tow;
  int32_t* week;
  double* latitude;
  double* longitude;
  double* height;
  uint8_t* position_valid;     /* 0 or 1 */
  uint8_t* kinematic;          /* 0 or 1 */
  double* clock_bias;
  int32_t* num_channels;
  /* per epoch and channel */
  char* system;                /* 'G', 'R' or 0 */
  int32_t* prn;
  int32_t* gpb_prn;
  double* obs[8];              /* by bit number of rawconv_obs_bit: C1 L1 L2
                                  P1 P2 D1 S1 S2 */
  double* lock_time1;
  double* lock_time2;
  int8_t* lli1;
  int8_t* lli2;
} rawconv_columns;

/* Sets every pointer to NULL and size to `size`; use the macro
 * rawconv_columns_init(&columns). */
RAWCONV_API void rawconv_columns_init_sized(rawconv_columns* columns, uint32_t size);
#define rawconv_columns_init(columns) \
  rawconv_columns_init_sized((columns), (uint32_t)sizeof *(columns))

/* As rawconv_gpb_read, into the arrays of *columns instead of an array of
 * records: reads up to `capacity` epochs, sets *count, and returns 1 (the
 * block is full), 0 (clean end) or -1 (damaged end, or a NULL reader,
 * columns or count). A record of an older, smaller size fills the arrays
 * that size holds. Entries beyond *count are left as they were; the library
 * keeps no pointer to the arrays. */
RAWCONV_API int rawconv_gpb_read_columns(rawconv_gpb_reader* reader,
                                         const rawconv_columns* columns, size_t capacity,
                                         size_t* count);

/* What the RINEX 3 and 4 writers make of the channel values, for readers
 * that lay the epochs out as those files do (the Python package's xarray
 * view):
 * rawconv_rinex3_code gives the observation code of observation type
 * `type` (its bit number in rawconv_obs_bit: 0 C1, 1 L1, 2 L2, 3 P1, 4 P2,
 * 5 D1, 6 S1, 7 S2) for a satellite of `system` 'G' or 'R': "C1C", "L2W",
 * "C1P", ... (a static text), or NULL for any other type or system. A value
 * of 0 is written as a blank, as a value not given is. */
RAWCONV_API const char* rawconv_rinex3_code(char system, int32_t type);
/* Fills ssi[0..n-1] with the signal strength indicator the writers put
 * after every value of a frequency (besides the S types), from that
 * frequency's signal strength cn0[i] (s1 or s2, dB-Hz): 1 to 9, or 0 where
 * they write a blank (a strength that is not above 0, NaN included). cn0
 * and ssi may be NULL only with n 0. */
RAWCONV_API void rawconv_strength_indicators(const double* cn0, size_t n, uint8_t* ssi);

/* Receiver description of the file ("" when unknown); owned by the reader. */
RAWCONV_API const char* rawconv_gpb_receiver(const rawconv_gpb_reader* reader);

/* Closes the reader (NULL is allowed). */
RAWCONV_API void rawconv_gpb_close(rawconv_gpb_reader* reader);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* RAWCONV_API_H_ */
