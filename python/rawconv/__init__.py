"""rawconv: GPB raw GPS receiver recordings to RINEX, from Python.

A thin layer over the reentrant C library librawconv_api (ctypes, no
compiled code of its own):

    import rawconv
    report = rawconv.convert("site1.gpb", output_dir="out", marker="SITE")
    print(report.obs_path, report.nav_path, report.epochs_written)

    data = rawconv.read_gpb("site1.gpb", epp="site1.epp")
    c1 = data.obs["C1"]          # (epochs, 24) metres, NaN where absent

    ds = rawconv.load("site1.gpb")   # xarray.Dataset, time x sv (needs xarray)

The library is looked for in this order: the path in the RAWCONV_LIBRARY
environment variable, the librawconv_api shipped inside this package
(rawconv/_lib/, where `pip install` puts the one it builds), one beside
this package, then the system's loader (an installed librawconv_api.so.1).
"""

from ._convert import ConversionError, ConversionWarning, Report, convert, plan
from ._gpb import GpbData, GpbError, read_gpb
from ._xarray import load
from ._native import (
    LibraryNotFoundError,
    OBS_TYPES,
    MAX_CHANNELS,
    OK as RESULT_OK,
    FAILED as RESULT_FAILED,
    BAD_GPB as RESULT_BAD_GPB,
    EXISTS as RESULT_EXISTS,
    SKIPPED as RESULT_SKIPPED,
    CANCELLED as RESULT_CANCELLED,
    INVALID as RESULT_INVALID,
)

# The release text, the one every interface prints (gpb2rinex --version,
# the library's rawconv_version_text, the package metadata).
__version__ = "7.60.1122"

__all__ = [
    "convert", "plan", "read_gpb", "load", "library_version", "library_version_info",
    "Report", "GpbData", "ConversionError", "ConversionWarning", "GpbError",
    "LibraryNotFoundError",
    "OBS_TYPES", "MAX_CHANNELS",
    "RESULT_OK", "RESULT_FAILED", "RESULT_BAD_GPB", "RESULT_EXISTS", "RESULT_SKIPPED",
    "RESULT_CANCELLED", "RESULT_INVALID",
]


def library_version():
    """The loaded library's release text, "7.60.1122" (the same as
    __version__ for a package and library of one release)."""
    from ._native import library, text

    return text(library().rawconv_version_text())


def library_version_info():
    """The loaded library's (version number, year, interface version): the
    number and year of the dialog library's exports, 7.601122 and 2005, and
    the version of the reentrant interface."""
    from ._native import library

    lib = library()
    return (lib.rawconv_version_number(), lib.rawconv_version_year(), lib.rawconv_api_version())
