"""Build backend of the rawconv Python package (PEP 517 and PEP 660).

Written with the standard library alone, so that `pip install ./python`
works with build isolation and without a network: pip has nothing to
download before it calls these hooks.

The wheel holds the pure-Python package and librawconv_api, built here with
CMake from the C++ sources (Release, the library target alone, in a
temporary folder) and shipped as rawconv/_lib/. The C++ sources are looked
for, in order, in RAWCONV_SOURCE_DIR, in the native/ folder of an sdist made
by build_sdist, and in the source tree this package folder sits in
(python/..).

Settings (pip's --config-settings, or the environment):
  jobs / CMAKE_BUILD_PARALLEL_LEVEL  parallel compile jobs (default: cores)
  cmake-args / RAWCONV_CMAKE_ARGS    extra arguments of the configure step
"""

import ast
import base64
import gzip
import hashlib
import io
import os
import re
import shlex
import shutil
import stat
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile

NAME = "rawconv"
# The package folder (python/) is this file's folder's parent.
PACKAGE_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# What build_sdist copies of the C++ tree, under native/.
NATIVE_PARTS = ("CMakeLists.txt", "cmake", "lib", "cli", "tools", "app")
LIB_DIR = "rawconv/_lib"
# Zip entries are dated to the start of 1980 (zip's earliest date) unless
# SOURCE_DATE_EPOCH says otherwise: the same sources give the same wheel.
ZIP_EPOCH = (1980, 1, 1, 0, 0, 0)


class BuildError(RuntimeError):
    """A build that cannot go on; the text says what to do."""


# --- project facts -------------------------------------------------------------

def _project_table():
    """The [project] table of pyproject.toml as a dict."""
    path = os.path.join(PACKAGE_ROOT, "pyproject.toml")
    with open(path, "rb") as f:
        raw = f.read()
    try:
        import tomllib
    except ImportError:  # Python before 3.11: the simple forms used here
        return _read_project_table(raw.decode("utf-8"))
    return tomllib.loads(raw.decode("utf-8")).get("project", {})


def _read_project_table(text):
    """The [project] table's `key = value` entries whose values are strings
    or lists of strings (a list may run over several lines)."""
    table, inside, pending = {}, False, None
    for line in text.splitlines():
        stripped = line.strip()
        if pending is not None:
            pending[1].append(stripped)
            value = " ".join(pending[1])
            if value.count("[") == value.count("]"):
                table[pending[0]] = ast.literal_eval(value)
                pending = None
            continue
        if stripped.startswith("["):
            inside = stripped == "[project]"
            continue
        if not inside or not stripped or stripped.startswith("#") or "=" not in stripped:
            continue
        key, value = (part.strip() for part in stripped.split("=", 1))
        if value.startswith("[") and value.count("[") != value.count("]"):
            pending = (key, [value])
        elif value.startswith(("\"", "'", "[")):
            table[key] = ast.literal_eval(value)
    return table


def _version():
    """The release text, written once as rawconv.__version__."""
    path = os.path.join(PACKAGE_ROOT, "rawconv", "__init__.py")
    with open(path, encoding="utf-8") as f:
        found = re.search(r'^__version__\s*=\s*"([^"]+)"', f.read(), re.M)
    if not found:
        raise BuildError("%s: no __version__ line" % path)
    return found.group(1)


def _metadata():
    """METADATA (core metadata 2.1) of the package, as text."""
    project = _project_table()
    lines = [
        "Metadata-Version: 2.1",
        "Name: %s" % project.get("name", NAME),
        "Version: %s" % _version(),
    ]
    if project.get("description"):
        lines.append("Summary: %s" % project["description"])
    if project.get("requires-python"):
        lines.append("Requires-Python: %s" % project["requires-python"])
    lines += ["Classifier: %s" % c for c in project.get("classifiers", [])]
    lines += ["Requires-Dist: %s" % d for d in project.get("dependencies", [])]
    body = ""
    readme = project.get("readme")
    if isinstance(readme, str) and os.path.exists(os.path.join(PACKAGE_ROOT, readme)):
        lines.append("Description-Content-Type: text/markdown")
        with open(os.path.join(PACKAGE_ROOT, readme), encoding="utf-8") as f:
            body = f.read()
    return "\n".join(lines) + "\n\n" + body


def _dist_info():
    return "%s-%s.dist-info" % (NAME, _version())


def platform_tag():
    """The wheel's platform tag: the interpreter's platform ("linux_x86_64")."""
    return re.sub(r"[^A-Za-z0-9_]", "_", sysconfig.get_platform())


def wheel_tag():
    # The package is Python over ctypes: any Python 3, no ABI, one platform
    # (that of the library inside).
    return "py3-none-%s" % platform_tag()


# --- the C++ library -------------------------------------------------------------

def _is_source_tree(path):
    return (os.path.isfile(os.path.join(path, "CMakeLists.txt"))
            and os.path.isfile(os.path.join(path, "lib", "api", "rawconv_api.h")))


def source_root():
    """The folder holding the C++ sources (CMakeLists.txt, lib/, ...)."""
    tried = []
    env = os.environ.get("RAWCONV_SOURCE_DIR")
    candidates = ([env] if env else []) + [
        os.path.join(PACKAGE_ROOT, "native"),
        os.path.dirname(PACKAGE_ROOT),
    ]
    for path in candidates:
        if _is_source_tree(path):
            return os.path.abspath(path)
        tried.append(path)
    raise BuildError(
        "the C++ sources of rawconv were not found (looked in %s). The package "
        "builds librawconv_api from them: install from the python/ folder of a "
        "rawconv source tree (pip install ./python) or from an sdist made by this "
        "backend, or set RAWCONV_SOURCE_DIR to the source tree." % ", ".join(tried))


def _setting(config_settings, key, env):
    value = (config_settings or {}).get(key)
    return value if value is not None else os.environ.get(env)


def _run(args, **kwargs):
    print("rawconv build: " + " ".join(shlex.quote(a) for a in args), flush=True)
    try:
        subprocess.run(args, check=True, **kwargs)
    except FileNotFoundError:
        raise BuildError("%s not found: building librawconv_api needs CMake (3.20 or "
                         "later) and a C++17 compiler (Debian: apt-get install cmake g++)"
                         % args[0]) from None
    except subprocess.CalledProcessError as err:
        raise BuildError("building librawconv_api failed: %s exited with status %d"
                         % (args[0], err.returncode)) from None


def _built_library(build_dir):
    """The real (not symlinked) library file CMake wrote, and the name the
    package loads it by."""
    name = {"win32": "rawconv_api.dll",
            "darwin": "librawconv_api.1.dylib"}.get(sys.platform, "librawconv_api.so.1")
    for folder, _, files in os.walk(build_dir):
        if name in files:
            return os.path.realpath(os.path.join(folder, name)), name
    raise BuildError("CMake built no %s in %s" % (name, build_dir))


def build_library(work_dir, config_settings=None):
    """Configures and builds librawconv_api in work_dir; returns (path of the
    library file, name to ship it under)."""
    root = source_root()
    jobs = _setting(config_settings, "jobs", "CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    extra = shlex.split(_setting(config_settings, "cmake-args", "RAWCONV_CMAKE_ARGS") or "")
    build_dir = os.path.join(work_dir, "cmake-build")
    _run(["cmake", "-S", root, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
          "-DRAWCONV_BUILD_TESTS=OFF"] + extra)
    _run(["cmake", "--build", build_dir, "--target", "rawconv_api", "-j", jobs])
    return _built_library(build_dir)


# --- wheel ------------------------------------------------------------------------

def _zip_time():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch and epoch.isdigit():
        import time
        stamp = time.gmtime(max(int(epoch), 315532800))
        return stamp[:6]
    return ZIP_EPOCH


def _record_hash(data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
    return "sha256=" + digest.decode("ascii")


def _package_files():
    """(name in the wheel, path) of the package's Python files, sorted."""
    files = []
    package = os.path.join(PACKAGE_ROOT, "rawconv")
    for folder, dirs, names in os.walk(package):
        dirs[:] = sorted(d for d in dirs if d not in ("__pycache__", "_lib"))
        for name in sorted(names):
            if name.endswith(".py"):
                path = os.path.join(folder, name)
                files.append((os.path.relpath(path, PACKAGE_ROOT).replace(os.sep, "/"), path))
    return files


def write_wheel(wheel_directory, members, tag=None):
    """Writes the wheel of members [(name in the wheel, bytes)] plus its
    .dist-info; returns the wheel's file name."""
    tag = tag or wheel_tag()
    dist_info = _dist_info()
    wheel_text = ("Wheel-Version: 1.0\nGenerator: rawconv_build\n"
                  "Root-Is-Purelib: false\nTag: %s\n" % tag)
    members = list(members) + [
        (dist_info + "/METADATA", _metadata().encode("utf-8")),
        (dist_info + "/WHEEL", wheel_text.encode("utf-8")),
        (dist_info + "/top_level.txt", b"rawconv\n"),
    ]
    record_name = dist_info + "/RECORD"
    record = "".join("%s,%s,%d\n" % (name, _record_hash(data), len(data))
                     for name, data in members) + record_name + ",,\n"
    members.append((record_name, record.encode("utf-8")))
    file_name = "%s-%s-%s.whl" % (NAME, _version(), tag)
    when = _zip_time()
    os.makedirs(wheel_directory, exist_ok=True)
    with zipfile.ZipFile(os.path.join(wheel_directory, file_name), "w",
                         zipfile.ZIP_DEFLATED) as zf:
        for name, data in members:
            info = zipfile.ZipInfo(name, when)
            # Plain files, rw-r--r-- (a shared library needs no x to load).
            info.external_attr = (stat.S_IFREG | 0o644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            zf.writestr(info, data)
    return file_name


def _read(path):
    with open(path, "rb") as f:
        return f.read()


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    dist_info = os.path.join(metadata_directory, _dist_info())
    os.makedirs(dist_info, exist_ok=True)
    with open(os.path.join(dist_info, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata())
    return _dist_info()


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    members = [(name, _read(path)) for name, path in _package_files()]
    with tempfile.TemporaryDirectory(prefix="rawconv-build-") as work:
        library, shipped = build_library(work, config_settings)
        members.append((LIB_DIR + "/" + shipped, _read(library)))
        return write_wheel(wheel_directory, members)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    """An editable install: a .pth file puts this folder on the path, and the
    library is built into rawconv/_lib/ of this folder."""
    with tempfile.TemporaryDirectory(prefix="rawconv-build-") as work:
        library, shipped = build_library(work, config_settings)
        target = os.path.join(PACKAGE_ROOT, "rawconv", "_lib")
        os.makedirs(target, exist_ok=True)
        shutil.copyfile(library, os.path.join(target, shipped))
    pth = (PACKAGE_ROOT + "\n").encode(sys.getfilesystemencoding())
    return write_wheel(wheel_directory, [("rawconv_editable.pth", pth)])


# --- sdist ------------------------------------------------------------------------

def _sdist_skip(name):
    return name in ("__pycache__", "_lib", ".pytest_cache") or name.endswith((".pyc", ".so"))


def build_sdist(sdist_directory, config_settings=None):
    """A source archive that builds without the source tree around it: the
    package folder, with the C++ sources it needs under native/."""
    base = "%s-%s" % (NAME, _version())
    root = source_root()
    file_name = base + ".tar.gz"
    os.makedirs(sdist_directory, exist_ok=True)
    mtime = int(os.environ.get("SOURCE_DATE_EPOCH", "0") or 0)

    def add(tar, path, arcname):
        if os.path.isdir(path):
            info = tar.gettarinfo(path, arcname)
            entries = sorted(e for e in os.listdir(path) if not _sdist_skip(e))
            _normalise(info, mtime)
            tar.addfile(info)
            for entry in entries:
                add(tar, os.path.join(path, entry), arcname + "/" + entry)
        elif os.path.isfile(path):
            info = tar.gettarinfo(path, arcname)
            _normalise(info, mtime)
            with open(path, "rb") as f:
                tar.addfile(info, f)

    # gzip without a file name in its header, and the time fixed.
    with open(os.path.join(sdist_directory, file_name), "wb") as raw, \
            gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=mtime) as packed, \
            tarfile.open(fileobj=packed, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for entry in sorted(os.listdir(PACKAGE_ROOT)):
            if entry == "native" or _sdist_skip(entry) or entry.startswith("."):
                continue
            add(tar, os.path.join(PACKAGE_ROOT, entry), base + "/" + entry)
        for part in NATIVE_PARTS:
            add(tar, os.path.join(root, part), base + "/native/" + part)
        pkg_info = _metadata().encode("utf-8")
        info = tarfile.TarInfo(base + "/PKG-INFO")
        info.size = len(pkg_info)
        _normalise(info, mtime)
        tar.addfile(info, io.BytesIO(pkg_info))
    return file_name


def _normalise(info, mtime):
    info.uid = info.gid = 0
    info.uname = info.gname = ""
    info.mtime = mtime
    info.mode = 0o755 if (info.isdir() or info.mode & 0o100) else 0o644

