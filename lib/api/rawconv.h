/*
 * rawconv.h -- the public interface of the rawconv conversion library.
 *
 * rawconv turns one GPB raw data file into two RINEX 2 files: an observation
 * file made from the GPB epochs and a GPS navigation file made from the
 * broadcast ephemerides of an EPP file. A station file beside the GPB file
 * (same name, extension ".sta") adds new-site-occupation blocks.
 *
 * Usage: fill one ObsRequest and one NavRequest, call Gpb_To_Rinex_Ver, and on
 * a non-zero result fetch the one-line reason with Get_Error_Str.
 *
 *     ObsRequest obs = {0};  NavRequest nav = {0};
 *     obs.StructSize = sizeof obs;  nav.StructSize = sizeof nav;
 *     strcpy(obs.GpbFile, "/data/site1.gpb");
 *     strcpy(obs.ObsFile, "/data/site1.obs");
 *     strcpy(nav.EppFile, "/data/site1.epp");
 *     strcpy(nav.NavFile, "/data/site1.nav");
 *     if (Gpb_To_Rinex_Ver(&obs, &nav, RINEX_VERSION_2_1) != 0) {
 *         char why[256];  Get_Error_Str(why);  ...
 *     }
 *     // obs.ObsFile is now "/data/site1.05o", nav.NavFile "/data/site1.05n"
 *
 * Threading: the library keeps module-wide state (the error text). Calls
 * into one loaded library must not overlap.
 *
 * This header is plain C and may be included from C and C++. All records are
 * fixed little-endian byte layouts shared with existing callers; every field
 * offset is checked at compile time below.
 */
#ifndef RAWCONV_RAWCONV_H_
#define RAWCONV_RAWCONV_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calling convention of the exports: __stdcall on 32-bit Windows, which gives
 * the decorated names _Gpb_To_Rinex@8 and so on; the platform default
 * elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define RAWCONV_CALL __stdcall
#else
#define RAWCONV_CALL
#endif

#if defined(_WIN32)
#define RAWCONV_EXPORT
#elif defined(RAWCONV_BUILDING_LIBRARY)
#define RAWCONV_EXPORT __attribute__((visibility("default")))
#else
#define RAWCONV_EXPORT
#endif

/* Third argument of Gpb_To_Rinex_Ver. */
enum {
  RINEX_VERSION_2_0 = 1, /* RINEX 2.0: six observation types, 2.0 layouts */
  RINEX_VERSION_2_1 = 2  /* RINEX 2.1: adds S1/S2, 2.1 layouts */
};

/* DataTypes values set by the front end (the library does not act on them:
 * the observation types written are those found in the GPB file). */
enum {
  RAWCONV_DATATYPES_CA_CODE = 9,
  RAWCONV_DATATYPES_L1 = 11,
  RAWCONV_DATATYPES_L1_L2 = 31,
  RAWCONV_DATATYPES_AUTO = 0xFFFF
};

#pragma pack(push, 4)

/* The observation request, 1176 bytes. Texts are NUL-terminated 8-bit strings
 * inside their arrays. The library reads every field but StructSize, DataTypes
 * and the reserved tail, and writes back only ObsFile. */
typedef struct ObsRequest {
  int32_t StructSize;     /* 1176; set by the caller, not read */
  char GpbFile[256];      /* full path of the GPB input file */
  char ObsFile[256];      /* observation output path; its extension is replaced
                             by ".YYo" (year of the data) and written back */
  char RunBy[128];        /* "RUN BY" column of PGM / RUN BY / DATE */
  char MarkerName[128];   /* MARKER NAME */
  char Observer[128];     /* first column of OBSERVER / AGENCY */
  char Agency[128];       /* second column of OBSERVER / AGENCY */
  double AntHeight;       /* metres, H of ANTENNA: DELTA H/E/N */
  int32_t DataTypes;      /* front end selection; not read by the library */
  int32_t GpsWeek;        /* full GPS week used for every epoch when UseGpsWeek is 1 */
  int32_t UseGpsWeek;     /* 1: use GpsWeek; 0: resolve weeks from the EPP file */
  char Reserved[128];     /* neither side reads or writes it */
} ObsRequest;

/* The navigation request, 644 bytes. The library writes back only NavFile. */
typedef struct NavRequest {
  int32_t StructSize;     /* 644; set by the caller, not read */
  char EppFile[256];      /* full path of the EPP ephemeris input file */
  char NavFile[256];      /* navigation output path; extension replaced by ".YYn" */
  char RunBy[128];        /* "RUN BY" column of the navigation header */
} NavRequest;

#pragma pack(pop)

#if defined(__cplusplus)
#define RAWCONV_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define RAWCONV_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
#define RAWCONV_STATIC_ASSERT(cond, msg)
#endif

RAWCONV_STATIC_ASSERT(sizeof(ObsRequest) == 1176, "ObsRequest size");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, StructSize) == 0, "StructSize");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, GpbFile) == 4, "GpbFile");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, ObsFile) == 260, "ObsFile");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, RunBy) == 516, "RunBy");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, MarkerName) == 644, "MarkerName");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, Observer) == 772, "Observer");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, Agency) == 900, "Agency");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, AntHeight) == 1028, "AntHeight");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, DataTypes) == 1036, "DataTypes");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, GpsWeek) == 1040, "GpsWeek");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, UseGpsWeek) == 1044, "UseGpsWeek");
RAWCONV_STATIC_ASSERT(offsetof(ObsRequest, Reserved) == 1048, "Reserved");
RAWCONV_STATIC_ASSERT(sizeof(NavRequest) == 644, "NavRequest size");
RAWCONV_STATIC_ASSERT(offsetof(NavRequest, StructSize) == 0, "StructSize");
RAWCONV_STATIC_ASSERT(offsetof(NavRequest, EppFile) == 4, "EppFile");
RAWCONV_STATIC_ASSERT(offsetof(NavRequest, NavFile) == 260, "NavFile");
RAWCONV_STATIC_ASSERT(offsetof(NavRequest, RunBy) == 516, "RunBy");

/* Converts one GPB file as Gpb_To_Rinex_Ver with RINEX_VERSION_2_0.
 * Returns 0 on success and 1 on any failure. */
RAWCONV_EXPORT int32_t RAWCONV_CALL Gpb_To_Rinex(ObsRequest* obs, NavRequest* nav);

/* Converts one GPB file: checks that obs->GpbFile can be read, names both
 * outputs after the year of the data, writes nav->NavFile from nav->EppFile,
 * then writes obs->ObsFile from the GPB file.
 * Returns 0 on success, -1 when the GPB file cannot be used (no output file
 * is created), 1 when the navigation or observation step failed. On a
 * non-zero result Get_Error_Str gives the reason. */
RAWCONV_EXPORT int32_t RAWCONV_CALL Gpb_To_Rinex_Ver(ObsRequest* obs, NavRequest* nav,
                                                     int32_t RinexVersion);

/* Copies the last error text with its NUL into buffer, which must hold 256
 * bytes. Returns the length of the text plus one. The text is never cleared:
 * it is meaningful only after a call returned non-zero. */
RAWCONV_EXPORT int32_t RAWCONV_CALL Get_Error_Str(char* buffer);

/* Copies the tag "TOLM" and its NUL into buffer (5 bytes); returns 5. */
RAWCONV_EXPORT int32_t RAWCONV_CALL Test_Kvo(char* buffer);

/* Version number of the library: 7.601122. */
RAWCONV_EXPORT double RAWCONV_CALL _DLLVersionNumber_(void);

/* Year of the library version: 2005. */
RAWCONV_EXPORT int32_t RAWCONV_CALL _DLLVersionYear_(void);

#ifdef __cplusplus
}
#endif

#endif /* RAWCONV_RAWCONV_H_ */
