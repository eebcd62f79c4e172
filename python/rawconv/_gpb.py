"""read_gpb(): the epochs of a GPB file as NumPy arrays."""

import ctypes
import dataclasses

import numpy as np

from . import _native as n
from ._convert import _date_text

# Start of GPS time; week and seconds of week count from here.
_GPS_EPOCH = np.datetime64("1980-01-06T00:00:00", "ns")

# Epochs per call of rawconv_gpb_read_columns (the arrays are allocated
# whole beforehand, so the block size only bounds the time between calls).
_BLOCK = 65536
_COUNT_BLOCK = 1 << 30

# Satellite names by system and number: index 256 * (GLONASS) + prn; the
# last entry, "", is an empty channel's.
_SAT_NAMES = np.array(["G%02d" % i for i in range(256)] + ["R%02d" % i for i in range(256)] + [""])
_SYSTEMS = np.array(["G"] * 256 + ["R"] * 256 + [""])
_EMPTY = len(_SAT_NAMES) - 1


class GpbError(OSError):
    """A GPB file could not be opened (str(error) is the library's reason)."""


@dataclasses.dataclass(repr=False)
class GpbData:
    """The epochs of a GPB file, one row per epoch (n epochs) and one column
    per receiver channel (24 columns, in the file's channel order; channels
    beyond an epoch's ``num_channels`` are empty).

    Per epoch, shape (n,):
      ``tow``            GPS seconds of week (float64)
      ``week``           full GPS week (int32), -1 where not known
      ``time``           GPS time as datetime64[ns], NaT where the week is
                         not known
      ``num_channels``   channels in use (int32)
      ``latitude``, ``longitude`` (degrees, WGS 84), ``height`` (metres
                         above the ellipsoid): the receiver's position
      ``position_valid`` the receiver flagged the position valid (bool)
      ``kinematic``      the receiver was moving (bool)
      ``clock_bias``     receiver clock bias, metres

    Per epoch and channel, shape (n, 24):
      ``sat``            satellite as RINEX names it, "G03", "R12"; "" for
                         an empty channel (str)
      ``system``         "G", "R" or "" (str)
      ``prn``            number within the system, 0 for an empty channel
      ``gpb_prn``        number as in the GPB file (GLONASS: number + 32)
      ``obs``            dict of the eight observation types "C1", "L1",
                         "L2", "P1", "P2", "D1", "S1", "S2" -> float64
                         arrays in RINEX units and signs (metres, cycles,
                         Hz, dB-Hz); NaN where the receiver gave no value
      ``lock_time1``, ``lock_time2``  seconds of continuous lock (NaN for
                         an empty channel; 0 after a loss of lock)
      ``lli1``, ``lli2`` 1 where lock was lost at this epoch (int8)

    And for the file: ``receiver`` (receiver description, "" when unknown),
    ``damaged`` (the file ended in a damaged or truncated record; the epochs
    before it are here) and ``error`` (the reason then, else "").
    """

    tow: np.ndarray
    week: np.ndarray
    time: np.ndarray
    num_channels: np.ndarray
    latitude: np.ndarray
    longitude: np.ndarray
    height: np.ndarray
    position_valid: np.ndarray
    kinematic: np.ndarray
    clock_bias: np.ndarray
    sat: np.ndarray
    system: np.ndarray
    prn: np.ndarray
    gpb_prn: np.ndarray
    obs: dict
    lock_time1: np.ndarray
    lock_time2: np.ndarray
    lli1: np.ndarray
    lli2: np.ndarray
    receiver: str
    damaged: bool
    error: str

    def __len__(self):
        return len(self.tow)

    def __repr__(self):
        # One line: shape, span, receiver (arrays are for printing on their own).
        count = len(self)
        if count == 0:
            span = "no epochs"
        elif not np.isnat(self.time).any():
            span = "%s to %s" % (_time_text(self.time[0]), _time_text(self.time[-1]))
        else:
            span = "tow %.7g to %.7g, week unknown" % (self.tow[0], self.tow[-1])
        text = "GpbData(%d epochs x %d channels, %s, %d satellites, receiver %r" % (
            count, self.sat.shape[1] if self.sat.ndim == 2 else n.MAX_CHANNELS, span,
            len(self.satellites()), self.receiver)
        if self.damaged:
            text += ", damaged: %s" % self.error
        return text + ")"

    def satellites(self):
        """The satellites seen in the file, sorted ("G03", ..., "R01", ...)."""
        return sorted(s for s in np.unique(self.sat) if s)

    def series(self, obs_type, sat):
        """One observation type of one satellite over all epochs, shape (n,),
        NaN where it was not tracked or not measured."""
        values = self.obs[obs_type]
        mask = self.sat == sat
        out = np.full(len(self), np.nan)
        rows, cols = np.nonzero(mask)
        out[rows] = values[rows, cols]
        return out


def _time_text(value):
    """A datetime64 as "2005-04-02 00:00:00" (fractions of a second only
    when there are any)."""
    text = str(np.datetime_as_string(value, unit="ns")).replace("T", " ")
    return text.rstrip("0").rstrip(".") if "." in text else text


# Per-epoch and per-channel arrays rawconv_gpb_read_columns fills, with
# their NumPy types.
_PER_EPOCH = {"tow": np.float64, "week": np.int32, "latitude": np.float64,
              "longitude": np.float64, "height": np.float64, "position_valid": np.uint8,
              "kinematic": np.uint8, "clock_bias": np.float64, "num_channels": np.int32}
_PER_CHANNEL = {"system": np.uint8, "prn": np.int32, "gpb_prn": np.int32,
                "lock_time1": np.float64, "lock_time2": np.float64, "lli1": np.int8,
                "lli2": np.int8}


def _count(lib, reader):
    """The number of epochs an open reader has left (read through, nothing
    kept)."""
    record = n.Columns()
    record.size = ctypes.sizeof(n.Columns)
    total = 0
    count = ctypes.c_size_t(0)
    while True:
        status = lib.rawconv_gpb_read_columns(reader, ctypes.byref(record), _COUNT_BLOCK,
                                              ctypes.byref(count))
        total += count.value
        if status != 1:
            return total


def _end_status(lib, reader):
    """0 when the reader is at a clean end (or holds more epochs), -1 when
    the file ends in damage there."""
    record = n.Columns()
    record.size = ctypes.sizeof(n.Columns)
    count = ctypes.c_size_t(0)
    status = lib.rawconv_gpb_read_columns(reader, ctypes.byref(record), 1, ctypes.byref(count))
    return -1 if status < 0 else 0


def _read_columns(lib, reader, epochs):
    """Up to `epochs` epochs of an open reader as columns filled by the
    library straight into NumPy's arrays, in blocks of _BLOCK epochs; and
    how the file ends after them (0 clean, -1 damaged)."""
    columns = {name: np.empty(epochs, dtype) for name, dtype in _PER_EPOCH.items()}
    columns.update({name: np.empty((epochs, n.MAX_CHANNELS), dtype)
                    for name, dtype in _PER_CHANNEL.items()})
    obs = {name: np.empty((epochs, n.MAX_CHANNELS)) for name in n.OBS_TYPES}
    record = n.Columns()
    record.size = ctypes.sizeof(n.Columns)
    count = ctypes.c_size_t(0)
    row, status = 0, 1
    while row < epochs:
        for name, array in columns.items():
            setattr(record, name, array.ctypes.data + row * array.strides[0])
        for bit, name in enumerate(n.OBS_TYPES):
            record.obs[bit] = obs[name].ctypes.data + row * obs[name].strides[0]
        status = lib.rawconv_gpb_read_columns(reader, ctypes.byref(record),
                                              min(_BLOCK, epochs - row), ctypes.byref(count))
        row += count.value
        if status != 1:
            break
    if status == 1:
        # Every counted epoch is here: the next call tells how the file ends
        # (an epoch added since the count is left out).
        status = _end_status(lib, reader)
    columns = {name: array[:row] for name, array in columns.items()}
    columns["obs"] = {name: array[:row] for name, array in obs.items()}
    return columns, status


def _gps_time(week, tow):
    """datetime64[ns] of full weeks and seconds of week; NaT where week < 0."""
    known = week >= 0
    nanos = (week.astype(np.int64) * 604800 * 1_000_000_000
             + np.round(tow * 1e9).astype(np.int64))
    time = _GPS_EPOCH + nanos.astype("timedelta64[ns]")
    time[~known] = np.datetime64("NaT")
    return time


def read_gpb(path, epp=None, week=None, date=None):
    """Reads every epoch of a GPB file into a GpbData of NumPy arrays.

    The epochs are dated (their full GPS week, and so ``time``) by at most
    one of: ``epp``, an EPP file whose reference ephemeris dates them;
    ``week``, the full GPS week of every epoch (0 to 5216; it wins over
    ``epp``, which is then not read); ``date`` ("YYYY-MM-DD" or a
    datetime.date, a day of the recording in GPS time), each epoch at the
    time nearest noon of that day with its time of week, as
    convert(date=...) dates it. With none of them, ``week`` is -1 and
    ``time`` NaT. Paths are used exactly as given; a NUL in one is refused
    with ValueError. A file that ends in a damaged or truncated record gives
    the epochs before it, with ``damaged`` set and the reason in ``error``.

    Raises GpbError when the GPB file cannot be opened or when the EPP file
    cannot date the epochs (missing, unreadable, or without an ephemeris to
    date by), ValueError for a ``date`` that is no day of GPS weeks 0 to 5216
    or that comes with ``epp`` or ``week``, and LibraryNotFoundError when
    librawconv_api cannot be loaded."""
    if date is not None and (epp is not None or week is not None):
        raise ValueError("date: give one of epp, week and date")
    gpb_path = n.path_bytes(path, "path")
    epp_path = n.path_bytes(epp, "epp")
    date_text = _date_text(date)
    week = -1 if week is None else n.week_value(week)
    if week >= 0:
        epp_path = None
    lib = n.library()

    def open_reader():
        why = ctypes.create_string_buffer(n.ERROR_MAX)
        reader = lib.rawconv_gpb_open_dated(gpb_path, epp_path, week, date_text, why, len(why))
        if not reader:
            reason = n.text(why.value)
            if date_text is not None and reason.startswith("Bad date"):
                raise ValueError("date: " + reason)
            raise GpbError(reason or "cannot open %s" % path)
        return reader

    # Two passes: one counts the epochs, so that the arrays are allocated
    # once at their size and the second fills them in place.
    reader = open_reader()
    try:
        epochs = _count(lib, reader)
    finally:
        lib.rawconv_gpb_close(reader)
    reader = open_reader()
    try:
        columns, status = _read_columns(lib, reader, epochs)
        error = n.text(lib.rawconv_gpb_error(reader)) if status < 0 else ""
        receiver = n.text(lib.rawconv_gpb_receiver(reader))
    finally:
        lib.rawconv_gpb_close(reader)
    # Satellite names by table: index 256 * GLONASS + number, or the empty
    # name's for an empty channel.
    for name in ("position_valid", "kinematic"):
        columns[name] = columns[name].view(bool)
    system = columns.pop("system")
    index = np.where(system == 0, _EMPTY,
                     (system == ord("R")) * 256 + np.clip(columns["prn"], 0, 255))
    return GpbData(
        time=_gps_time(columns["week"], columns["tow"]),
        sat=_SAT_NAMES[index],
        system=_SYSTEMS[index],
        receiver=receiver,
        damaged=status < 0,
        error=error,
        **columns,
    )
