"""The ctypes records against the C header, and the library loader."""

import ctypes
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import rawconv
from rawconv import _native

HEADER_DIR = pathlib.Path(__file__).resolve().parents[2] / "lib" / "api"

RECORDS = {
    "rawconv_options": _native.Options,
    "rawconv_report": _native.Report,
    "rawconv_channel": _native.Channel,
    "rawconv_epoch": _native.Epoch,
}


@pytest.mark.skipif(shutil.which("cc") is None, reason="no C compiler")
def test_records_have_the_c_layout(tmp_path):
    lines = ['#include <stdio.h>', '#include "rawconv_api.h"', "int main(void) {"]
    for cname, record in RECORDS.items():
        lines.append('printf("%s size %%zu\\n", sizeof(%s));' % (cname, cname))
        for field, _ in record._fields_:
            lines.append('printf("%s %s %%zu\\n", offsetof(%s, %s));' % (cname, field, cname, field))
    lines += ["return 0;", "}"]
    src = tmp_path / "layout.c"
    src.write_text("\n".join(lines) + "\n")
    exe = tmp_path / "layout"
    subprocess.run(["cc", "-std=c11", "-I", str(HEADER_DIR), "-o", str(exe), str(src)], check=True)
    expected = subprocess.run([str(exe)], check=True, capture_output=True, text=True).stdout
    mine = []
    for cname, record in RECORDS.items():
        mine.append("%s size %d" % (cname, ctypes.sizeof(record)))
        for field, _ in record._fields_:
            mine.append("%s %s %d" % (cname, field, getattr(record, field).offset))
    assert expected.splitlines() == mine


def test_library_answers_its_versions():
    number, year, interface = rawconv.library_version_info()
    assert (year, interface) == (2005, 1)
    assert number == pytest.approx(7.601122)


def run_python(code, **env):
    full = dict(os.environ, **env)
    full["PYTHONPATH"] = str(pathlib.Path(rawconv.__file__).resolve().parents[1])
    return subprocess.run([sys.executable, "-c", code], env=full, capture_output=True, text=True)


def test_missing_library_is_a_clear_error(tmp_path):
    result = run_python(
        "import rawconv\n"
        "try:\n"
        "    rawconv.convert('x.gpb')\n"
        "except rawconv.LibraryNotFoundError as err:\n"
        "    print('not found:', err)\n",
        RAWCONV_LIBRARY=str(tmp_path / "librawconv_api.so.1"))
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("not found:") and "RAWCONV_LIBRARY" in result.stdout


def test_library_beside_the_package_is_found(tmp_path):
    real = os.environ.get("RAWCONV_LIBRARY")
    if not real:
        pytest.skip("RAWCONV_LIBRARY not set")
    package = tmp_path / "rawconv"
    shutil.copytree(pathlib.Path(rawconv.__file__).parent, package,
                    ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(real, package / "librawconv_api.so.1")
    env = dict(os.environ, PYTHONPATH=str(tmp_path))
    env.pop("RAWCONV_LIBRARY")
    result = subprocess.run(
        [sys.executable, "-c", "import rawconv, rawconv._native as n; rawconv.library_version();"
         " print(n.library()._name)"], env=env, cwd=tmp_path, capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == str(package / "librawconv_api.so.1")
