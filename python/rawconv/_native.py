"""ctypes mirror of rawconv_api.h and the loader of librawconv_api.

The records here copy the C layouts field by field, in order; ctypes lays
them out with the platform's C alignment, as the C compiler does. Keep them
in step with rawconv_api.h: the records only ever grow at their end, and the
size field tells the library how much of them this package knows.
"""

import ctypes
import ctypes.util
import numbers
import os
import sys
import threading

# Result codes (enum rawconv_result).
OK = 0
FAILED = 1
BAD_GPB = -1
EXISTS = 2
SKIPPED = 3
CANCELLED = 4
INVALID = 5

# Option values.
# RINEX versions are read by the library's own table
# (rawconv_rinex_from_text), so the package takes the texts gpb2rinex does.
EXISTING = {"refuse": 0, "replace": 1, "skip": 2}
STATION_BESIDE, STATION_NONE, STATION_FILE = 0, 1, 2
NAMES = {"input": 0, "short": 1, "long": 2}
COMPRESS = {"none": 0, "gz": 1, "crx": 2, "crx.gz": 3}
QC_NONE, QC_WITH, QC_ONLY = 0, 1, 2

PATH_MAX = 4096
ERROR_MAX = 256
QC_LINE_MAX = 1024
ERROR_FIELD_MAX = 32
# Full GPS weeks the writers can date (RAWCONV_WEEK_MAX).
WEEK_MAX = 5216
MAX_CHANNELS = 24

# Observation types in the order of their bits in rawconv_channel.have.
OBS_TYPES = ("C1", "L1", "L2", "P1", "P2", "D1", "S1", "S2")

API_VERSION = 1

PROGRESS_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_uint64, ctypes.c_uint64)
# Output list callback: user, kind, path, skipped.
OUTPUT_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int32, ctypes.c_char_p,
                             ctypes.c_int32)
OUTPUT_OBS, OUTPUT_NAV, OUTPUT_QC = 0, 1, 2
# Splitting (enum rawconv_split): the span's length in seconds.
SPLIT = {"none": 0, "15m": 900, "1h": 3600, "1d": 86400}


class Options(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("gpb_path", ctypes.c_char_p),
        ("epp_path", ctypes.c_char_p),
        ("station", ctypes.c_int32),
        ("station_path", ctypes.c_char_p),
        ("output_dir", ctypes.c_char_p),
        ("obs_path", ctypes.c_char_p),
        ("nav_path", ctypes.c_char_p),
        ("rinex", ctypes.c_int32),
        ("names", ctypes.c_int32),
        ("compress", ctypes.c_int32),
        ("existing", ctypes.c_int32),
        ("marker_name", ctypes.c_char_p),
        ("observer", ctypes.c_char_p),
        ("agency", ctypes.c_char_p),
        ("run_by", ctypes.c_char_p),
        ("station_id", ctypes.c_char_p),
        ("antenna_height", ctypes.c_double),
        ("use_week", ctypes.c_int32),
        ("week", ctypes.c_int32),
        ("progress", PROGRESS_FN),
        ("progress_user", ctypes.c_void_p),
        ("use_run_date", ctypes.c_int32),
        ("run_date", ctypes.c_int64),
        ("qc", ctypes.c_int32),
        ("use_elevation_mask", ctypes.c_int32),
        ("elevation_mask", ctypes.c_double),
        ("qc_dir", ctypes.c_char_p),
        ("from_time", ctypes.c_char_p),
        ("to_time", ctypes.c_char_p),
        ("interval", ctypes.c_double),
        ("exclude", ctypes.c_char_p),
        ("obs_types", ctypes.c_char_p),
        ("marker_number", ctypes.c_char_p),
        ("receiver_number", ctypes.c_char_p),
        ("receiver_type", ctypes.c_char_p),
        ("receiver_version", ctypes.c_char_p),
        ("antenna_number", ctypes.c_char_p),
        ("antenna_type", ctypes.c_char_p),
        ("use_position", ctypes.c_int32),
        ("position", ctypes.c_double * 3),
        ("use_antenna_delta", ctypes.c_int32),
        ("antenna_delta", ctypes.c_double * 3),
        ("comments", ctypes.POINTER(ctypes.c_char_p)),
        ("comment_count", ctypes.c_int32),
        ("full_header", ctypes.c_int32),
        ("split", ctypes.c_int32),
        ("output", OUTPUT_FN),
        ("output_user", ctypes.c_void_p),
        ("single_thread", ctypes.c_int32),
        ("marker_type", ctypes.c_char_p),
        ("no_sync", ctypes.c_int32),
        ("date", ctypes.c_char_p),
        ("sitelog_path", ctypes.c_char_p),
        ("stations_path", ctypes.c_char_p),
        ("position_source", ctypes.c_int32),
    ]


class Report(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("result", ctypes.c_int32),
        ("error", ctypes.c_char * ERROR_MAX),
        ("obs_path", ctypes.c_char * PATH_MAX),
        ("nav_path", ctypes.c_char * PATH_MAX),
        ("obs_skipped", ctypes.c_int32),
        ("nav_skipped", ctypes.c_int32),
        ("epochs_read", ctypes.c_uint64),
        ("epochs_written", ctypes.c_uint64),
        ("satellites", ctypes.c_int32),
        ("first_week", ctypes.c_int32),
        ("first_tow", ctypes.c_double),
        ("last_week", ctypes.c_int32),
        ("last_tow", ctypes.c_double),
        ("first_time", ctypes.c_char * 32),
        ("last_time", ctypes.c_char * 32),
        ("interval", ctypes.c_double),
        ("nav_records", ctypes.c_uint32),
        ("gpb_damaged", ctypes.c_int32),
        ("gpb_bytes_used", ctypes.c_uint64),
        ("gpb_file_size", ctypes.c_uint64),
        ("qc_summary", ctypes.c_char * QC_LINE_MAX),
        ("qc_text_path", ctypes.c_char * PATH_MAX),
        ("qc_json_path", ctypes.c_char * PATH_MAX),
        ("qc_html_path", ctypes.c_char * PATH_MAX),
        ("qc_skipped", ctypes.c_int32),
        ("obs_files", ctypes.c_uint32),
        ("warnings", ctypes.c_char * QC_LINE_MAX),
        ("error_field", ctypes.c_char * ERROR_FIELD_MAX),
    ]


class Channel(ctypes.Structure):
    _fields_ = [
        ("system", ctypes.c_char),
        ("prn", ctypes.c_int32),
        ("gpb_prn", ctypes.c_int32),
        ("have", ctypes.c_uint32),
        ("c1", ctypes.c_double),
        ("l1", ctypes.c_double),
        ("l2", ctypes.c_double),
        ("p1", ctypes.c_double),
        ("p2", ctypes.c_double),
        ("d1", ctypes.c_double),
        ("s1", ctypes.c_double),
        ("s2", ctypes.c_double),
        ("lock_time1", ctypes.c_double),
        ("lock_time2", ctypes.c_double),
        ("lli1", ctypes.c_int32),
        ("lli2", ctypes.c_int32),
    ]


class Epoch(ctypes.Structure):
    _fields_ = [
        ("tow", ctypes.c_double),
        ("week", ctypes.c_int32),
        ("latitude", ctypes.c_double),
        ("longitude", ctypes.c_double),
        ("height", ctypes.c_double),
        ("position_valid", ctypes.c_int32),
        ("kinematic", ctypes.c_int32),
        ("clock_bias", ctypes.c_double),
        ("num_channels", ctypes.c_int32),
        ("channels", Channel * MAX_CHANNELS),
    ]


class Columns(ctypes.Structure):
    """rawconv_columns: pointers to the arrays rawconv_gpb_read_columns
    fills (NumPy's own buffers)."""
    _fields_ = [("size", ctypes.c_uint32)] + [
        (name, ctypes.c_void_p) for name in (
            "tow", "week", "latitude", "longitude", "height", "position_valid", "kinematic",
            "clock_bias", "num_channels", "system", "prn", "gpb_prn")
    ] + [("obs", ctypes.c_void_p * 8)] + [
        (name, ctypes.c_void_p) for name in ("lock_time1", "lock_time2", "lli1", "lli2")
    ]


class LibraryNotFoundError(OSError):
    """librawconv_api could not be loaded."""


if sys.platform == "win32":
    _FILE_NAMES = ("rawconv_api.dll",)
elif sys.platform == "darwin":
    _FILE_NAMES = ("librawconv_api.1.dylib", "librawconv_api.dylib")
else:
    _FILE_NAMES = ("librawconv_api.so.%d" % API_VERSION, "librawconv_api.so")

_lock = threading.Lock()
_lib = None


def _candidates(here=None):
    """Where the library is looked for, in order: the RAWCONV_LIBRARY
    environment variable (alone when set), the copy shipped in the package
    (_lib/, put there by the wheel's build), the package's own folder, the
    system's loader."""
    env = os.environ.get("RAWCONV_LIBRARY")
    if env:
        yield env
        return
    here = here or os.path.dirname(os.path.abspath(__file__))
    for folder in (os.path.join(here, "_lib"), here):
        for name in _FILE_NAMES:
            path = os.path.join(folder, name)
            if os.path.exists(path):
                yield path
    found = ctypes.util.find_library("rawconv_api")
    if found:
        yield found
    yield from _FILE_NAMES


def _declare(lib):
    c_char_p, c_int, c_int32 = ctypes.c_char_p, ctypes.c_int, ctypes.c_int32
    sig = {
        "rawconv_result_name": (c_char_p, [c_int]),
        "rawconv_session_new": (ctypes.c_void_p, []),
        "rawconv_session_free": (None, [ctypes.c_void_p]),
        "rawconv_version_number": (ctypes.c_double, []),
        "rawconv_version_year": (c_int32, []),
        "rawconv_version_text": (c_char_p, []),
        "rawconv_api_version": (c_int32, []),
        "rawconv_rinex_from_text": (c_int, [c_char_p, ctypes.POINTER(c_int32)]),
        "rawconv_rinex_texts": (c_char_p, []),
        "rawconv_convert": (c_int, [ctypes.c_void_p, ctypes.POINTER(Options), ctypes.POINTER(Report)]),
        "rawconv_plan": (c_int, [ctypes.c_void_p, ctypes.POINTER(Options), ctypes.POINTER(Report)]),
        "rawconv_gpb_open": (ctypes.c_void_p,
                             [c_char_p, c_char_p, c_int32, ctypes.c_char_p, ctypes.c_size_t]),
        "rawconv_gpb_next": (c_int, [ctypes.c_void_p, ctypes.POINTER(Epoch)]),
        "rawconv_gpb_error": (c_char_p, [ctypes.c_void_p]),
        "rawconv_gpb_receiver": (c_char_p, [ctypes.c_void_p]),
        "rawconv_gpb_close": (None, [ctypes.c_void_p]),
        "rawconv_gpb_open_dated": (ctypes.c_void_p,
                                   [c_char_p, c_char_p, c_int32, c_char_p, ctypes.c_char_p,
                                    ctypes.c_size_t]),
        # The epochs' array is passed as a bare pointer: NumPy's own buffer.
        "rawconv_gpb_read": (c_int, [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t,
                                     ctypes.POINTER(ctypes.c_size_t)]),
        "rawconv_gpb_read_columns": (c_int, [ctypes.c_void_p, ctypes.POINTER(Columns),
                                             ctypes.c_size_t, ctypes.POINTER(ctypes.c_size_t)]),
        "rawconv_rinex3_code": (c_char_p, [ctypes.c_char, c_int32]),
        "rawconv_strength_indicators": (None, [ctypes.c_void_p, ctypes.c_size_t,
                                               ctypes.c_void_p]),
    }
    for name, (restype, argtypes) in sig.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes


def library():
    """The loaded librawconv_api (loaded on first use, then shared)."""
    global _lib
    with _lock:
        if _lib is not None:
            return _lib
        tried = []
        for candidate in _candidates():
            try:
                lib = ctypes.CDLL(candidate)
            except OSError as err:
                tried.append("%s (%s)" % (candidate, err))
                continue
            try:
                _declare(lib)
            except AttributeError as err:
                tried.append("%s (%s)" % (candidate, err))
                continue
            if lib.rawconv_api_version() < API_VERSION:
                tried.append("%s (interface version %d, need %d)"
                             % (candidate, lib.rawconv_api_version(), API_VERSION))
                continue
            _lib = lib
            return lib
        raise LibraryNotFoundError(
            "librawconv_api not found; set RAWCONV_LIBRARY to its path. Tried: "
            + "; ".join(tried))


def text(raw):
    """A C text from the library as str (undecodable bytes escaped)."""
    if raw is None:
        return ""
    return raw.decode("utf-8", "surrogateescape")


def path_bytes(path, keyword):
    """A path-like, str or bytes as the bytes the library takes, or None.
    A NUL would end the C string early and name another file, so it is
    refused with a ValueError naming the keyword."""
    if path is None:
        return None
    raw = os.fsencode(path)
    if b"\0" in raw:
        raise ValueError("%s: the path holds a NUL character" % keyword)
    return raw


def text_bytes(value, keyword):
    """A str as the UTF-8 bytes the library takes, or None; a NUL (which
    would end the C string early) is refused with a ValueError naming the
    keyword."""
    if value is None:
        return None
    if not isinstance(value, str):
        raise TypeError("%s must be a str, not %s" % (keyword, type(value).__name__))
    if "\0" in value:
        raise ValueError("%s: the text holds a NUL character" % keyword)
    return value.encode("utf-8", "surrogateescape")


def week_value(week, keyword="week"):
    """A full GPS week as the int32 the library takes: 0 to WEEK_MAX. A
    larger int would wrap around in the C field and date another week."""
    if isinstance(week, bool) or not isinstance(week, numbers.Integral):
        raise TypeError("%s must be an int, not %s" % (keyword, type(week).__name__))
    if not 0 <= week <= WEEK_MAX:
        raise ValueError("%s=%d: expected a GPS week from 0 to %d" % (keyword, week, WEEK_MAX))
    return int(week)
