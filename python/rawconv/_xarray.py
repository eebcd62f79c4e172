"""load(): a GPB file as an xarray.Dataset laid out as a RINEX 3 file is."""

import os

import numpy as np

from . import _native as n
from ._gpb import read_gpb

_INSTALL_HINT = "pip install xarray or apt install python3-xarray"

# Types whose values carry a loss-of-lock indicator (the phases), and the
# frequency (1 or 2) whose signal strength follows each other type's value;
# the S types carry neither. Index: the bit of the type in rawconv_channel.have.
_PHASE_LLI = {1: "lli1", 2: "lli2"}
_FREQUENCY = {0: 1, 1: 1, 2: 2, 3: 1, 4: 2, 5: 1}


def _xarray():
    try:
        import xarray
    except ImportError as err:
        raise ImportError("rawconv.load needs xarray: " + _INSTALL_HINT) from err
    return xarray


def _epp_beside(path):
    """The EPP file beside a GPB file (its name, without ".gz", with .epp in
    either case, or .epp.gz), or None."""
    base = os.fsdecode(path)
    if base.lower().endswith(".gz"):
        base = base[:-3]
    stem = os.path.splitext(base)[0]
    for ext in (".epp", ".EPP", ".epp.gz", ".EPP.gz"):
        if os.path.isfile(stem + ext):
            return stem + ext
    return None


def _codes(lib):
    """{system: [code of each of the eight types]} as the writers name them."""
    return {system: [n.text(lib.rawconv_rinex3_code(system.encode(), t)) for t in range(8)]
            for system in ("G", "R")}


def _strengths(lib, cn0):
    """Signal strength indicators (0 for a blank) of an array of dB-Hz."""
    flat = np.ascontiguousarray(cn0, dtype=np.float64).ravel()
    out = np.zeros(flat.shape, dtype=np.uint8)
    lib.rawconv_strength_indicators(flat.ctypes.data, flat.size, out.ctypes.data)
    return out.reshape(np.shape(cn0))


def _interval(time):
    """The most common step between epochs, in seconds (NaN for fewer than
    two epochs)."""
    if len(time) < 2:
        return float("nan")
    steps = np.diff(time).astype("timedelta64[ns]").astype(np.int64)
    steps = steps[steps > 0]
    if not len(steps):
        return float("nan")
    values, counts = np.unique(steps, return_counts=True)
    return float(values[np.argmax(counts)]) / 1e9


def load(path, epp=None, week=None, date=None):
    """Reads a GPB file into an xarray.Dataset laid out as the RINEX 3
    observation file convert(rinex="3.04") writes from it, value for value:

    - dimensions ``time`` (GPS time, datetime64[ns], one per epoch) and
      ``sv`` (satellites as RINEX names them: "G07", "R09"; GPS, then
      GLONASS, each by number);
    - one float64 variable per RINEX 3 observation code that holds a value
      ("C1C", "L1C", "L2W", "C1W", "C2W", "D1C", "S1C", "S2W" for GPS;
      "L2P", "C1P", "C2P", "S2P" for GLONASS, whose other codes are GPS's),
      in RINEX units and signs (metres, cycles, Hz, dB-Hz); NaN where the
      file has a blank: the satellite was not tracked at that epoch, the
      receiver gave no such value, or gave 0;
    - for each phase variable, ``<code>lli`` (uint8: 1 where lock was lost
      at that epoch, else 0); for each variable but the S ones,
      ``<code>ssi`` (uint8: the signal strength indicator 1 to 9 written
      after the value, 0 where it is blank or the value is); the names are
      those of the common xarray RINEX readers ("L1Clli", "L1Cssi");
    - coordinates ``latitude``, ``longitude``, ``height`` and
      ``position_valid`` along ``time`` (the receiver's position of each
      epoch);
    - attributes ``receiver`` (the receiver description), ``interval``
      (seconds: the most common step between epochs), ``position_llh``
      (latitude and longitude in degrees, WGS 84, and height in metres above
      the ellipsoid: the mean of the epochs whose position the receiver
      flagged valid, NaN without one), ``damaged`` (1 when the file ended in
      a damaged or truncated record; the epochs before it are here) and
      ``error`` (the reason then, else "").

    ``epp``, ``week`` and ``date`` date the epochs as in read_gpb; with none
    of them, the EPP file beside the GPB file (its name with .epp) does, as
    convert() finds it. Raises ValueError when nothing dates the epochs,
    GpbError and ValueError as read_gpb does, and ImportError ("pip install
    xarray or apt install python3-xarray") when xarray is not installed.
    The rest of the package works without xarray."""
    xr = _xarray()
    if epp is None and week is None and date is None:
        epp = _epp_beside(path)
        if epp is None:
            raise ValueError("epp: no EPP file beside %s to date the epochs; give epp, "
                             "week or date" % os.fsdecode(path))
    data = read_gpb(path, epp=epp, week=week, date=date)
    lib = n.library()
    codes = _codes(lib)

    # Every used channel of every epoch, and the column of its satellite.
    rows, cols = np.nonzero(data.sat != "")
    glonass = data.system[rows, cols] == "R"
    numbers, where = np.unique(glonass * 256 + data.prn[rows, cols], return_inverse=True)
    svs = [("R%02d" % (k - 256)) if k >= 256 else ("G%02d" % k) for k in numbers]
    shape = (len(data), len(svs))

    variables = {}
    strengths = {1: data.obs["S1"][rows, cols], 2: data.obs["S2"][rows, cols]}
    ssi = {f: _strengths(lib, v) for f, v in strengths.items()}
    for bit, obs_type in enumerate(n.OBS_TYPES):
        values = data.obs[obs_type][rows, cols]
        given = np.isfinite(values) & (values != 0.0)
        for system, in_system in (("G", ~glonass), ("R", glonass)):
            code = codes[system][bit]
            pick = given & in_system
            if not pick.any():
                continue
            grid = variables.get(code)
            if grid is None:
                grid = variables[code] = {"values": np.full(shape, np.nan)}
                if bit in _PHASE_LLI:
                    grid["lli"] = np.zeros(shape, np.uint8)
                if bit in _FREQUENCY:
                    grid["ssi"] = np.zeros(shape, np.uint8)
            r, c = rows[pick], where[pick]
            grid["values"][r, c] = values[pick]
            if bit in _PHASE_LLI:
                grid["lli"][r, c] = getattr(data, _PHASE_LLI[bit])[rows, cols][pick]
            if bit in _FREQUENCY:
                grid["ssi"][r, c] = ssi[_FREQUENCY[bit]][pick]

    dims = ("time", "sv")
    data_vars = {}
    for code in variables:  # the writers' order of types, GPS's code first
        grid = variables[code]
        data_vars[code] = (dims, grid["values"])
        if "lli" in grid:
            data_vars[code + "lli"] = (dims, grid["lli"])
        if "ssi" in grid:
            data_vars[code + "ssi"] = (dims, grid["ssi"])

    valid = data.position_valid
    position = ([float(np.mean(data.latitude[valid])), float(np.mean(data.longitude[valid])),
                 float(np.mean(data.height[valid]))] if valid.any() else [float("nan")] * 3)
    return xr.Dataset(
        data_vars,
        coords={
            "time": data.time,
            "sv": np.array(svs, dtype="U3"),
            "latitude": ("time", data.latitude),
            "longitude": ("time", data.longitude),
            "height": ("time", data.height),
            "position_valid": ("time", data.position_valid),
        },
        attrs={
            "receiver": data.receiver,
            "interval": _interval(data.time),
            "position_llh": position,
            "damaged": int(data.damaged),
            "error": data.error,
        },
    )
