"""convert() and plan(): one GPB file to RINEX through a session of its own."""

import collections
import ctypes
import dataclasses
import datetime
import numbers
import os
import threading
import warnings as _warnings

from . import _native as n


class ConversionError(Exception):
    """A conversion did not succeed.

    str(error) is the library's one-line reason, with the keyword to use
    where the library gives advice: an existing output ends in "; existing=
    'skip' leaves it, existing='replace' replaces it", a recording without
    its ephemeris file in "; give epp=FILE, week=N or date=..." (the
    report's ``error`` keeps the library's own words). Attributes: ``code``
    (the result code, one of the RESULT_* constants), ``name`` (its short
    name, e.g. "failed"), ``message`` (the one-line reason, as str(error)),
    ``field`` (the keyword argument to change, e.g. "epp", "from_time",
    "marker", "existing", "output_dir", or None when no one argument is at
    fault) and ``report`` (the Report of the call, with whatever it had
    reached; None when the call stopped before the library was asked,
    as for an output folder that cannot be made)."""

    def __init__(self, code, name, message, report=None, field=None):
        super().__init__(message)
        self.code = code
        self.name = name
        self.message = message
        self.report = report
        self.field = field


class ConversionWarning(UserWarning):
    """Something a conversion that succeeded wants its caller to hear of
    (say, an observation file written without a navigation file). convert()
    and plan() issue one per line of the report's ``warnings``; filter them
    with the warnings module like any other warning."""


@dataclasses.dataclass(frozen=True)
class Report:
    """What one conversion did.

    ``result`` is the result code (0 ok, 3 skipped) and ``result_name`` its
    name; ``obs_path`` and ``nav_path`` the outputs as written (or planned),
    ``obs_skipped``/``nav_skipped`` true when an existing output was left
    alone under existing="skip". ``epochs_read`` and ``epochs_written``
    count epochs; ``satellites`` the distinct satellites seen. The first and
    last epochs are given as full GPS week and seconds of week
    (``first_week`` -1 when unknown) and as text ``first_time``/``last_time``
    ("2005-04-02 00:00:00.0000000", GPS time). ``interval`` is in seconds,
    ``nav_records`` counts navigation records. ``gpb_damaged`` is true when
    the GPB file ended in a damaged or truncated record: only
    ``gpb_bytes_used`` of ``gpb_file_size`` bytes were converted.

    With a quality check (``qc=True`` or ``qc="only"``), ``qc_summary`` is
    its one-line summary and ``qc_text_path``, ``qc_json_path`` and
    ``qc_html_path`` the report files ("" without a check);
    ``qc_skipped`` is true when every report existed and was left alone
    under existing="skip".

    ``obs_paths`` lists every observation file written (planned, by plan()),
    in time order: one without splitting, one per span with ``split`` (files
    left alone under existing="skip" are not in it; ``obs_path`` is the
    first span's file). ``outputs`` lists every output of the call as
    (kind, path, skipped) with kind "obs", "nav" or "qc".

    ``warnings`` holds the library's warning lines (without line ends), the
    same texts convert() issues as ConversionWarning; () when there were
    none. ``error_field`` is the keyword argument a failure is about (as
    ConversionError.field), "" otherwise."""

    result: int
    result_name: str
    error: str
    obs_path: str
    nav_path: str
    obs_skipped: bool
    nav_skipped: bool
    epochs_read: int
    epochs_written: int
    satellites: int
    first_week: int
    first_tow: float
    last_week: int
    last_tow: float
    first_time: str
    last_time: str
    interval: float
    nav_records: int
    gpb_damaged: bool
    gpb_bytes_used: int
    gpb_file_size: int
    qc_summary: str = ""
    qc_text_path: str = ""
    qc_json_path: str = ""
    qc_html_path: str = ""
    qc_skipped: bool = False
    obs_paths: tuple = ()
    outputs: tuple = ()
    warnings: tuple = ()
    error_field: str = ""

    @property
    def ok(self):
        """True for a finished conversion (written, or skipped as done)."""
        return self.result in (n.OK, n.SKIPPED)


_KINDS = {n.OUTPUT_OBS: "obs", n.OUTPUT_NAV: "nav", n.OUTPUT_QC: "qc"}


def _report_from(lib, raw, outputs=()):
    outputs = tuple(outputs)
    return Report(
        obs_paths=tuple(p for kind, p, skipped in outputs if kind == "obs" and not skipped),
        outputs=outputs,
        result=raw.result,
        result_name=n.text(lib.rawconv_result_name(raw.result)),
        error=n.text(raw.error),
        obs_path=n.text(raw.obs_path),
        nav_path=n.text(raw.nav_path),
        obs_skipped=bool(raw.obs_skipped),
        nav_skipped=bool(raw.nav_skipped),
        epochs_read=raw.epochs_read,
        epochs_written=raw.epochs_written,
        satellites=raw.satellites,
        first_week=raw.first_week,
        first_tow=raw.first_tow,
        last_week=raw.last_week,
        last_tow=raw.last_tow,
        first_time=n.text(raw.first_time),
        last_time=n.text(raw.last_time),
        interval=raw.interval,
        nav_records=raw.nav_records,
        gpb_damaged=bool(raw.gpb_damaged),
        gpb_bytes_used=raw.gpb_bytes_used,
        gpb_file_size=raw.gpb_file_size,
        qc_summary=n.text(raw.qc_summary),
        qc_text_path=n.text(raw.qc_text_path),
        qc_json_path=n.text(raw.qc_json_path),
        qc_html_path=n.text(raw.qc_html_path),
        qc_skipped=bool(raw.qc_skipped),
        warnings=tuple(line for line in n.text(raw.warnings).split("\n") if line),
        error_field=_keyword_of(n.text(raw.error_field)),
    )


# Fields of the options record whose Python keyword is spelled otherwise
# (None: a field this package fills itself, which no keyword changes);
# every other field is its own keyword.
_KEYWORDS = {
    "gpb_path": "gpb",
    "epp_path": "epp",
    "station_path": "station",
    "marker_name": "marker",
    "use_week": "week",
    "use_run_date": "run_date",
    "use_elevation_mask": "elevation_mask",
    "use_position": "position",
    "position_source": "position",
    "use_antenna_delta": "antenna_delta",
    "comment_count": "comments",
    "no_sync": "sync",
    "progress_user": "progress",
    "size": None,
    "output": None,
    "output_user": None,
    "single_thread": None,
    "sitelog_path": "sitelog",
    "stations_path": "stations",
}


def _keyword_of(field):
    """The options record's field name as this package's keyword ("" for
    none, and for a field this package fills itself)."""
    return _KEYWORDS.get(field, field) or ""


def _choice(option, value, table):
    key = str(value).lower()
    if key not in table:
        raise ValueError("%s=%r: expected one of %s" % (option, value, ", ".join(sorted(table))))
    return table[key]


# The largest run date the header lines take: twelve digits of seconds, as
# gpb2rinex's --fixed-run-date.
RUN_DATE_MAX = 999999999999
# Characters of a station id (the start of long names).
STATION_ID_LENGTH = 9


def _whole(option, value, low, high):
    """An integer option: an int (or another integral type such as numpy's)
    from low to high. A float is refused even when it holds a whole number
    (1316.0): it is taken for a value computed by mistake, not cut."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        if isinstance(value, numbers.Real) and float(value).is_integer():
            raise TypeError("%s must be an int, not %s: give %d, not %r"
                            % (option, type(value).__name__, int(value), value))
        raise TypeError("%s must be an int, not %s" % (option, type(value).__name__))
    if not low <= value <= high:
        raise ValueError("%s=%d: expected a whole number from %d to %d" % (option, value, low, high))
    return int(value)


def _real(option, value):
    """A numeric option: an int or a float (not a bool, not a text)."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError("%s must be a number, not %s" % (option, type(value).__name__))
    return float(value)


def _interval_value(value):
    """interval= in seconds. The record's 0 means "no interval", so
    interval=0 would silently keep every epoch where gpb2rinex refuses it;
    it is refused here (None, or no keyword, keeps every epoch). Every
    other value is the library's to check (above 0, at most a day)."""
    seconds = _real("interval", value)
    if seconds == 0.0:
        raise ValueError("interval=%r: expected a number of seconds above 0 (None keeps every epoch)"
                         % (value,))
    return seconds


def _station_id_value(value):
    text = _header_text("station_id", value)
    if text is not None and len(text) != STATION_ID_LENGTH:
        raise ValueError("station_id=%r: expected %d characters" % (value, STATION_ID_LENGTH))
    return text


def _path_value(option, value):
    """A path option; an empty one is refused (it would mean "not given" to
    the library and quietly put the outputs elsewhere)."""
    raw = n.path_bytes(value, option)
    if raw is not None and not raw:
        raise ValueError("%s: empty path (leave the keyword out for the default)" % option)
    return raw


def _rinex_value(value):
    """A RINEX version as the user gave it -> the library's enum value. A
    number becomes the text it is written as (3 -> "3", 2.1 -> "2.1", 3.05
    -> "3.05"), so rinex=2 and rinex="2" mean the same; the library's table
    reads the text."""
    if isinstance(value, bool) or not isinstance(value, (str, numbers.Real)):
        raise TypeError("rinex must be a str or a number, not %s" % type(value).__name__)
    lib = n.library()
    parsed = ctypes.c_int32()
    if lib.rawconv_rinex_from_text(str(value).encode("ascii", "replace"),
                                   ctypes.byref(parsed)) != n.OK:
        raise ValueError("rinex=%r: expected one of %s"
                         % (value, n.text(lib.rawconv_rinex_texts())))
    return parsed.value


def _compress_value(value):
    if value is None or value is False:
        return n.COMPRESS["none"]
    key = str(value).lower().replace("+", ".").lstrip(".")
    return _choice("compress", key, n.COMPRESS)


def _header_text(option, value):
    return n.text_bytes(value, option)


_TEXT_OPTIONS = {
    "marker": "marker_name",
    "observer": "observer",
    "agency": "agency",
    "run_by": "run_by",
    "station_id": "station_id",
}

# Header texts of 20 columns of the observation header.
_METADATA_OPTIONS = ("marker_number", "receiver_number", "receiver_type", "receiver_version",
                     "antenna_number", "antenna_type")

# The station's records: a site log (or a folder of them) and a station
# table, path-like keywords -> their options fields.
_RECORD_OPTIONS = {"sitelog": "sitelog_path", "stations": "stations_path"}

# position="data" / "receiver": where APPROX POSITION XYZ comes from
# (enum rawconv_position_source).
_POSITION_SOURCES = {"receiver": 0, "data": 1}

_EDIT_OPTIONS = ["from_time", "to_time", "interval", "exclude", "obs_types", "position",
                 "antenna_delta", "comments", "full_header"] + list(_METADATA_OPTIONS)

OPTION_NAMES = frozenset(
    ["rinex", "names", "compress", "existing", "antenna_height", "week", "output_dir",
     "obs_path", "nav_path", "station", "progress", "run_date", "qc", "elevation_mask",
     "qc_dir", "split", "marker_type", "sync", "date"] + list(_TEXT_OPTIONS) + _EDIT_OPTIONS
    + list(_RECORD_OPTIONS))


def _time_value(option, value):
    """A GPS time as the library reads it: a text or a datetime (naive,
    taken as GPS time)."""
    if value is None:
        return None
    if isinstance(value, datetime.datetime):
        if value.tzinfo is not None:
            raise ValueError("%s: give GPS time as a naive datetime" % option)
        value = value.strftime("%Y-%m-%d %H:%M:%S.%f")
    return _header_text(option, value)


def _date_text(value):
    """date= as the library's day text: a str ("YYYY-MM-DD" or "YYYY/MM/DD",
    which the library reads alike), or a datetime.date (a datetime gives its
    day). The library checks the day itself."""
    if value is None:
        return None
    if isinstance(value, datetime.date):
        return value.strftime("%Y-%m-%d").encode("ascii")
    return n.text_bytes(value, "date")


def _list_value(option, value):
    """"G,R05" or an iterable of items -> the comma-separated text."""
    if value is None:
        return None
    if not isinstance(value, str):
        items = list(value)
        for item in items:
            if not isinstance(item, str):
                raise TypeError("%s items must be str, not %s" % (option, type(item).__name__))
        value = ",".join(items)
    return _header_text(option, value)


def _triple(option, value):
    if isinstance(value, (str, bytes)):
        raise TypeError("%s must be three numbers, not a text" % option)
    try:
        values = [_real(option, v) for v in value]
    except TypeError:
        raise TypeError("%s must be three numbers" % option) from None
    if len(values) != 3:
        raise ValueError("%s must be three numbers, not %d" % (option, len(values)))
    return values


def _qc_value(value):
    if value is None or value is False:
        return n.QC_NONE
    if value is True:
        return n.QC_WITH
    if isinstance(value, str) and value.lower() == "only":
        return n.QC_ONLY
    raise ValueError("qc=%r: expected False, True or \"only\"" % (value,))


class _Call:
    """One filled options record and what it keeps alive during the call
    (the encoded texts and the progress trampoline)."""

    def __init__(self, gpb, epp, options):
        unknown = set(options) - OPTION_NAMES
        if unknown:
            raise TypeError("unknown option(s): %s" % ", ".join(sorted(unknown)))
        # Zeroed here rather than by rawconv_options_init, so that the
        # library never writes past the record this package knows.
        rec = n.Options()
        rec.size = ctypes.sizeof(n.Options)
        rec.gpb_path = _path_value("gpb", gpb)
        rec.epp_path = _path_value("epp", epp)

        station = options.get("station", "beside")
        if station is None:
            rec.station = n.STATION_NONE
        elif isinstance(station, str) and station == "beside":
            rec.station = n.STATION_BESIDE
        else:
            rec.station = n.STATION_FILE
            rec.station_path = _path_value("station", station)

        for option in ("output_dir", "obs_path", "nav_path", "qc_dir"):
            setattr(rec, option, _path_value(option, options.get(option)))
        rec.rinex = _rinex_value(options.get("rinex", "2.10"))
        rec.names = _choice("names", options.get("names", "input"), n.NAMES)
        rec.compress = _compress_value(options.get("compress"))
        rec.existing = _choice("existing", options.get("existing", "refuse"), n.EXISTING)
        for option, field in _TEXT_OPTIONS.items():
            setattr(rec, field, _header_text(option, options.get(option)))
        rec.station_id = _station_id_value(options.get("station_id"))
        height = options.get("antenna_height")
        rec.antenna_height = 0.0 if height is None else _real("antenna_height", height)

        week = options.get("week")
        if week is not None:
            rec.use_week = 1
            rec.week = n.week_value(_whole("week", week, 0, n.WEEK_MAX))
        run_date = options.get("run_date")
        if run_date is not None:
            rec.use_run_date = 1
            rec.run_date = _whole("run_date", run_date, 0, RUN_DATE_MAX)

        rec.qc = _qc_value(options.get("qc"))
        mask = options.get("elevation_mask")
        if mask is not None:
            rec.use_elevation_mask = 1
            rec.elevation_mask = _real("elevation_mask", mask)
        if rec.qc == n.QC_NONE:
            for option in ("elevation_mask", "qc_dir"):
                if options.get(option) is not None:
                    raise ValueError("%s goes with qc=True or qc=\"only\"" % option)

        rec.from_time = _time_value("from_time", options.get("from_time"))
        rec.to_time = _time_value("to_time", options.get("to_time"))
        interval = options.get("interval")
        if interval is not None:
            rec.interval = _interval_value(interval)
        rec.exclude = _list_value("exclude", options.get("exclude"))
        rec.obs_types = _list_value("obs_types", options.get("obs_types"))
        rec.marker_type = _header_text("marker_type", options.get("marker_type"))
        rec.no_sync = 0 if options.get("sync", True) else 1
        rec.date = _date_text(options.get("date"))
        for option, field in _RECORD_OPTIONS.items():
            setattr(rec, field, _path_value(option, options.get(option)))
        for option in _METADATA_OPTIONS:
            setattr(rec, option, _header_text(option, options.get(option)))
        position = options.get("position")
        if isinstance(position, str):
            # A source instead of coordinates.
            if position not in _POSITION_SOURCES:
                raise TypeError("position must be (X, Y, Z), \"data\" or \"receiver\", not %r"
                                 % (position,))
            rec.position_source = _POSITION_SOURCES[position]
            position = None
        for option, flag, value in (("position", "use_position", position),
                                    ("antenna_delta", "use_antenna_delta",
                                     options.get("antenna_delta"))):
            if value is not None:
                setattr(rec, flag, 1)
                getattr(rec, option)[:] = _triple(option, value)
        comments = options.get("comments")
        if isinstance(comments, str):
            comments = [comments]
        texts = [_header_text("comments", c) for c in (comments or [])]
        self._comments = (ctypes.c_char_p * max(len(texts), 1))(*texts)
        if texts:
            rec.comments = ctypes.cast(self._comments, ctypes.POINTER(ctypes.c_char_p))
            rec.comment_count = len(texts)
        rec.full_header = 1 if options.get("full_header") else 0
        split = options.get("split")
        rec.split = n.SPLIT["none"] if split is None else _choice("split", split, n.SPLIT)
        if rec.split != n.SPLIT["none"] and rec.qc == n.QC_ONLY:
            raise ValueError("split writes RINEX files; qc=\"only\" writes none")

        # The library lists every output of the call through this callback.
        self.outputs = []

        def listed(_user, kind, path, skipped):
            self.outputs.append((_KINDS.get(kind, "obs"), n.text(path), bool(skipped)))

        self._output = n.OUTPUT_FN(listed)
        rec.output = self._output

        self.callback_error = None
        self._trampoline = None
        progress = options.get("progress")
        if progress is not None:
            if not callable(progress):
                raise TypeError("progress must be callable")

            def trampoline(_user, done, total):
                try:
                    return 1 if progress(done, total) else 0
                except BaseException as err:  # stop, and raise it after the call
                    self.callback_error = err
                    return 1

            self._trampoline = n.PROGRESS_FN(trampoline)
            rec.progress = self._trampoline
        self.record = rec


class _Folders:
    """The output folders a conversion made. Once the call is over, those
    it wrote nothing into are taken away again (innermost first), so that a
    call that failed leaves no trace; gpb2rinex does the same. Calls of
    other threads may write into the same folders: a folder that one of
    them still uses stays."""

    _lock = threading.Lock()
    _in_use = collections.Counter()  # absolute folder -> calls using it

    def __init__(self):
        self.made = []  # outermost first
        self.used = []

    def create(self, option, path):
        """Makes the folder `path` with its missing parents; ConversionError
        naming the keyword when it cannot be made."""
        shown = os.fsdecode(path)
        with self._lock:
            key = os.path.abspath(shown)
            self._in_use[key] += 1
            self.used.append(key)
            missing = []
            probe = os.path.normpath(shown)
            while probe and not os.path.lexists(probe):
                missing.append(probe)
                parent = os.path.dirname(probe)
                if parent == probe:
                    break
                probe = parent
            try:
                os.makedirs(path, exist_ok=True)
            except FileExistsError:
                reason = "not a folder"
            except OSError as err:
                reason = err.strerror or str(err)
            else:
                reason = None if os.path.isdir(path) else "not a folder"
            self.made.extend(p for p in reversed(missing) if os.path.isdir(p))
        if reason is not None:
            raise ConversionError(n.FAILED, n.text(n.library().rawconv_result_name(n.FAILED)),
                                  "Cannot create output folder %s: %s" % (shown, reason),
                                  None, option)

    def remove_empty(self):
        with self._lock:
            for key in self.used:
                self._in_use[key] -= 1
                if not self._in_use[key]:
                    del self._in_use[key]
            for folder in reversed(self.made):
                if os.path.abspath(folder) in self._in_use:
                    continue
                try:
                    os.rmdir(folder)  # an empty folder only
                except OSError:
                    pass
        self.made, self.used = [], []


# The library ends a missing-ephemeris message with its advice in its own
# words ("; give an EPP file, a GPS week or a day of the recording"); here
# the advice names the keywords.
_EPP_ADVICE = "; give epp=FILE, week=N or date=\"YYYY-MM-DD\""
# A site log that cannot be told from the input's marker: the library's
# advice names its fields, here the keywords.
_MARKER_ADVICE_LIB = "give marker_name or station_id"
_MARKER_ADVICE = "give marker=\"ABCD\" or station_id=\"ABCD00DNK\""
_EXISTING_HINT = "; existing='skip' leaves it, existing='replace' replaces it"


def _explained(code, field, message):
    """The library's message with the keyword to change named, as gpb2rinex
    names its options."""
    if code == n.EXISTS or field == "existing":
        return message + _EXISTING_HINT
    advice = message.find("; give ")
    if field == "epp" and advice >= 0:
        return message[:advice] + _EPP_ADVICE
    if field in ("sitelog", "stations") and message.endswith(_MARKER_ADVICE_LIB):
        return message[:-len(_MARKER_ADVICE_LIB)] + _MARKER_ADVICE
    return message


def _run(entry, gpb, epp, options):
    lib = n.library()
    call = _Call(gpb, epp, options)
    raw = n.Report()
    raw.size = ctypes.sizeof(n.Report)
    folders = _Folders()
    try:
        if entry == "rawconv_convert":
            for option in ("output_dir", "qc_dir"):
                path = getattr(call.record, option)
                if path:
                    folders.create(option, path)
        session = lib.rawconv_session_new()
        if not session:
            raise MemoryError("rawconv_session_new failed")
        try:
            code = getattr(lib, entry)(session, ctypes.byref(call.record), ctypes.byref(raw))
        finally:
            lib.rawconv_session_free(session)
    finally:
        folders.remove_empty()
    report = _report_from(lib, raw, call.outputs)
    if call.callback_error is not None:
        raise call.callback_error
    if code not in (n.OK, n.SKIPPED):
        message = report.error or n.text(lib.rawconv_result_name(code))
        raise ConversionError(code, n.text(lib.rawconv_result_name(code)),
                              _explained(code, report.error_field, message), report,
                              report.error_field or None)
    for line in report.warnings:
        _warnings.warn(line, ConversionWarning, stacklevel=3)
    return report


def convert(gpb, epp=None, **options):
    """Converts one GPB file into a RINEX observation and navigation file.

    ``gpb`` is the GPB file's path; ``epp`` the EPP ephemeris file (default:
    the GPB file's name with .epp beside it). Every path is used exactly as
    given (str, bytes or path-like); a path or text holding a NUL character
    is refused with ValueError naming its keyword. Keyword options:

    - ``rinex``: "2.10" (default), "2.00", "2.11", "3.02", "3.03", "3.04",
      "3.05" or "4.00", as a str or a number; "2.0", "2.1", "4" and "4.0"
      too, and a major version alone is its newest minor: 2 is 2.11, 3 is
      3.05, 4 is 4.00 (rinex=2 and rinex="2" are the same). The navigation
      file follows the observation file's major version
    - ``marker_type``: MARKER TYPE of RINEX 3 and 4 headers, in any case:
      "GEODETIC", "NON_GEODETIC", "NON_PHYSICAL", "SPACEBORNE",
      "GROUND_CRAFT", "WATER_CRAFT", "AIRBORNE", "FIXED_BUOY",
      "FLOATING_BUOY", "FLOATING_ICE", "GLACIER", "BALLISTIC", "ANIMAL",
      "HUMAN" (default: no record, which means GEODETIC); with RINEX 2
      output ConversionError (RESULT_INVALID), as RINEX 2 has no such record
    - ``names``: "input" (default, GPB name with .YYo/.YYn), "short", "long"
    - ``compress``: None (default), "gz", "crx" or "crx.gz"
    - ``existing``: "refuse" (default), "replace" or "skip"
    - ``sync``: True (default): every output is flushed to the disk before
      its rename, so a crash never leaves a cut file under its name; False
      for scratch runs
    - ``marker``, ``observer``, ``agency``, ``run_by``: header texts;
      ``station_id``: the nine characters that start long names
    - ``antenna_height``: metres (a number)
    - ``week``: full GPS week for every epoch, instead of dating them from
      the EPP file: an int from 0 to 5216 (a float is refused, 1316.0 too,
      rather than cut to a week)
    - ``date``: a day of the recording, "YYYY-MM-DD" (or "YYYY/MM/DD") or
      a datetime.date (GPS time): dates the epochs without an EPP file, each at the time
      nearest noon of that day with its time of week; not with ``week``.
      With ``week`` or ``date`` and no EPP file the observation file is
      written alone, with a warning
    - ``output_dir``: folder of both outputs (default: beside the GPB file),
      made with its parents when missing; a call that writes nothing into
      the folders it made takes them away again, as gpb2rinex does
      (ConversionError with field "output_dir" when it cannot be made);
      ``obs_path``/``nav_path``: exact output paths, in folders that exist
    - ``station``: "beside" (default: the .sta file beside the GPB file
      when there is one), None (no station blocks) or a station file's path
    - ``sitelog``: an IGS site log (classic or 2.0 layout) or a folder of
      them (path-like): MARKER NAME, MARKER NUMBER, receiver, antenna with
      radome, antenna delta and APPROX POSITION XYZ from the entries
      installed at the first epoch; a folder gives the log of the input's
      station (marker, station_id or the GPB file's name) by the usual
      names, abcd00dnk_20230101.log or abcd_20230101.log, the newest
    - ``stations``: a station table, CSV with a header row and one row per
      station and period (columns as in README.md: marker, from, to and the
      header options' names). Keywords given to the call win over the
      table's row, the row over the site log, the site log over the GPB
      file. A log or table that cannot be used raises ConversionError with
      field "sitelog" or "stations"; a station without a row in the table
      is a warning
    - ``progress``: ``callable(done, total)`` called now and then with bytes
      done of total; a true return value cancels the conversion (raising
      ConversionError with code RESULT_CANCELLED); an exception raised in it
      cancels too and is raised again by convert
    - ``run_date``: seconds since 1970 for the run-date header lines, for
      reproducible files: an int from 0 to 999999999999
    - ``qc``: False (default), True (check the recording while converting;
      reports OBS.qc.txt, .qc.json and .qc.html beside the observation file)
      or "only" (check without writing RINEX; reports FILE.qc.* named after
      the GPB file, in output_dir or beside it)
    - ``elevation_mask``: degrees (0 to 90) of the check's mask; default 10
    - ``qc_dir``: folder of the reports (default as above), made when
      missing as ``output_dir`` is. ``elevation_mask`` and ``qc_dir`` go
      with ``qc`` (ValueError without it)

    Editing while converting (the observation header then describes what
    the file holds; ``epochs_written`` counts the epochs kept):

    - ``from_time``, ``to_time``: GPS time window, "YYYY-MM-DD HH:MM:SS"
      (or with "T") or a naive datetime in GPS time; the start inclusive,
      the end exclusive
    - ``interval``: seconds, above 0 and at most 86400 (0 is refused: leave
      the keyword out, or give None, to keep every epoch); keeps the epochs
      on multiples of it in the GPS day (within 25 ms of clock steering, at
      most a quarter of it)
    - ``exclude``: systems and satellites left out, "G,R05" or ["G", "R05"]
    - ``obs_types``: types kept, "C1,L1,P2" or a list, as RINEX 2 types (C1
      L1 L2 P1 P2 D1 S1 S2) or RINEX 3 codes (C1C L1C L2W C1W C2W D1C S1C
      S2W; GLONASS L2P C1P C2P S2P name the same types), mixed freely, for
      any version; each must be in the data (ConversionError otherwise)
    - ``marker_number``, ``receiver_number``, ``receiver_type``,
      ``receiver_version``, ``antenna_number``, ``antenna_type``: header
      texts of 20 columns (the antenna type with its radome)
    - ``position``: (X, Y, Z) metres for APPROX POSITION XYZ, or "data":
      the position from the data (the robust mean of single-point
      solutions of the GPS codes with the EPP file's ephemerides, found
      while the header is prepared; ConversionError with error_field
      "position" without an EPP file or a solvable epoch), or "receiver"
      (the default: the mean of the receiver's own fixes);
      ``antenna_delta``: (H, E, N) metres
    - ``comments``: a str or a list of COMMENT lines (60 columns, at most 32)
    - ``full_header``: True adds TIME OF LAST OBS, # OF SATELLITES and
      PRN / # OF OBS
    - ``split``: "15m", "1h" or "1d" writes one observation file per span of
      GPS time (aligned to the day), each with its own header and name
      (short names ssssdddh.YYo, ssssdddhmm.YYo for 15m, ssssddd0.YYo for
      1d; "input" names are short ones then; long names carry the span's
      start and 15M/01H/01D); one navigation file. The report's
      ``obs_paths`` lists the files written. Not with ``obs_path``, nor
      with ``qc="only"``, which writes no RINEX file.

    Warnings of a call that succeeded (the report's ``warnings``) are also
    issued through the warnings module as ConversionWarning, one per line.

    The values gpb2rinex refuses as bad arguments are refused here too,
    before anything is read or made: numbers are ints or floats (not bools
    or texts), integer options take ints only, paths are not empty.

    Returns a Report; raises ConversionError when the library reports a
    failure (existing="skip" with every output present is not one: the
    report's result is then RESULT_SKIPPED), ValueError/TypeError for an
    option this package cannot map or refuses (the message starts with the
    keyword) and LibraryNotFoundError when librawconv_api cannot be
    loaded. Each call runs on a session of its own, so threads may convert
    different files at the same time (into the same new folder too)."""
    return _run("rawconv_convert", gpb, epp, options)


def plan(gpb, epp=None, **options):
    """The output paths convert() would write for these arguments, as a
    Report (``obs_path``, ``nav_path``; with ``split`` every span's file in
    ``obs_paths``, found from the epoch times), without writing anything
    and without making the output folders. Raises ConversionError as
    convert() would before writing, ValueError/TypeError as convert()."""
    return _run("rawconv_plan", gpb, epp, options)
