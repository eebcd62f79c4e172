"""read_gpb(): the epochs of a GPB file as NumPy arrays."""

import ctypes
import dataclasses

import numpy as np

from . import _native as n
from ._convert import date_week_noon

# Start of GPS time; week and seconds of week count from here.
_GPS_EPOCH = np.datetime64("1980-01-06T00:00:00", "ns")


def _numpy_dtype(ctype):
    """The NumPy dtype with the exact layout of a ctypes record or scalar."""
    if isinstance(ctype, type) and issubclass(ctype, ctypes.Structure):
        names, formats, offsets = [], [], []
        for name, field_type in ctype._fields_:
            names.append(name)
            formats.append(_numpy_dtype(field_type))
            offsets.append(getattr(ctype, name).offset)
        return np.dtype({"names": names, "formats": formats, "offsets": offsets,
                         "itemsize": ctypes.sizeof(ctype)})
    if isinstance(ctype, type) and issubclass(ctype, ctypes.Array):
        return np.dtype((_numpy_dtype(ctype._type_), (ctype._length_,)))
    if ctype is ctypes.c_char:
        return np.dtype("S1")
    return np.dtype(ctype)


_EPOCH_DTYPE = _numpy_dtype(n.Epoch)


class GpbError(OSError):
    """A GPB file could not be opened (str(error) is the library's reason)."""


@dataclasses.dataclass
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


def _read_records(lib, reader):
    """Every epoch record of an open reader as one structured array, and the
    status of the last rawconv_gpb_next (0 end, -1 damaged)."""
    epoch = n.Epoch()
    data = bytearray()
    count = 0
    while True:
        status = lib.rawconv_gpb_next(reader, ctypes.byref(epoch))
        if status != 1:
            break
        data += bytes(epoch)
        count += 1
    return np.frombuffer(bytes(data), dtype=_EPOCH_DTYPE, count=count), status


def _arrays(records, receiver, status, error):
    count = len(records)
    channels = records["channels"]  # (n, 24) structured
    used = np.arange(n.MAX_CHANNELS)[None, :] < records["num_channels"][:, None]

    system = np.char.decode(channels["system"], "ascii", "replace").astype("U1")
    system = np.where(used, system, "")
    prn = np.where(used, channels["prn"], 0).astype(np.int32)
    prn_text = np.char.zfill(prn.astype("U3"), 2)
    sat = np.where(used, np.char.add(system, prn_text), "")

    have = channels["have"]
    obs = {}
    for bit, name in enumerate(n.OBS_TYPES):
        present = used & ((have >> bit) & 1).astype(bool)
        obs[name] = np.where(present, channels[name.lower()], np.nan)

    week = records["week"].astype(np.int32)
    time = np.full(count, np.datetime64("NaT"), dtype="datetime64[ns]")
    known = week >= 0
    seconds = week[known].astype(np.int64) * 604800
    nanos = np.round(records["tow"][known] * 1e9).astype(np.int64)
    time[known] = _GPS_EPOCH + (seconds * 1_000_000_000 + nanos).astype("timedelta64[ns]")

    return GpbData(
        tow=records["tow"].copy(),
        week=week,
        time=time,
        num_channels=records["num_channels"].astype(np.int32),
        latitude=records["latitude"].copy(),
        longitude=records["longitude"].copy(),
        height=records["height"].copy(),
        position_valid=records["position_valid"] != 0,
        kinematic=records["kinematic"] != 0,
        clock_bias=records["clock_bias"].copy(),
        sat=sat,
        system=system,
        prn=prn,
        gpb_prn=np.where(used, channels["gpb_prn"], 0).astype(np.int32),
        obs=obs,
        lock_time1=np.where(used, channels["lock_time1"], np.nan),
        lock_time2=np.where(used, channels["lock_time2"], np.nan),
        lli1=np.where(used, channels["lli1"], 0).astype(np.int8),
        lli2=np.where(used, channels["lli2"], 0).astype(np.int8),
        receiver=receiver,
        damaged=status < 0,
        error=error,
    )


def read_gpb(path, epp=None, week=None, date=None):
    """Reads every epoch of a GPB file into a GpbData of NumPy arrays.

    ``epp`` names an EPP file whose reference ephemeris dates the epochs
    (their full GPS week); ``week`` gives the week directly instead (it
    wins over ``epp``), and
    ``date`` ("YYYY-MM-DD" or a datetime.date, a day of the recording in
    GPS time) dates each epoch as convert(date=...) does: at the time
    nearest noon of that day with its time of week (not with ``epp`` or
    ``week``). With none of them, ``week`` is -1 and ``time`` NaT wherever the file itself
    does not date its epochs. Paths are used exactly as given; a NUL in one
    is refused with ValueError. A file that ends in a damaged or truncated
    record gives the epochs before it, with ``damaged`` set and the reason
    in ``error``. Raises GpbError when the file cannot be opened and
    LibraryNotFoundError when librawconv_api cannot be loaded."""
    noon = None
    if date is not None:
        if epp is not None or week is not None:
            raise ValueError("date: give one of epp, week and date")
        noon = date_week_noon(date)
    gpb_path = n.path_bytes(path, "path")
    epp_path = n.path_bytes(epp, "epp")
    lib = n.library()
    why = ctypes.create_string_buffer(n.ERROR_MAX)
    week = -1 if week is None else n.week_value(week)
    reader = lib.rawconv_gpb_open(gpb_path, epp_path, week, why, len(why))
    if not reader:
        raise GpbError(n.text(why.value) or "cannot open %s" % path)
    try:
        records, status = _read_records(lib, reader)
        error = n.text(lib.rawconv_gpb_error(reader)) if status < 0 else ""
        receiver = n.text(lib.rawconv_gpb_receiver(reader))
    finally:
        lib.rawconv_gpb_close(reader)
    if noon is not None and len(records):
        # Each epoch's week: the one that puts it nearest noon of the day.
        records = records.copy()
        records["week"] = np.floor((noon - records["tow"]) / 604800.0 + 0.5).astype(np.int32)
    return _arrays(records, receiver, status, error)
