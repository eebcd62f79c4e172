#!/usr/bin/env bash
# Python stage: runs the Python package's tests against the built
# librawconv_api, then installs the package as a user does (pip install
# ./python, offline, in a fresh virtual environment: the wheel builds and
# ships its own librawconv_api) and converts the sample through it.
# The library comes from $RAWCONV_BUILD_DIR (default build/, configured here
# when it is not yet).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
build=${RAWCONV_BUILD_DIR:-$root/build}

. "$root/scripts/ensure-tools.sh"
ensure_packages "cmd:cmake=cmake" "cmd:cc=gcc" "file:/usr/bin/python3=python3" \
  "file:/usr/lib/python3/dist-packages/numpy=python3-numpy" \
  "file:/usr/lib/python3/dist-packages/pytest=python3-pytest" \
  "file:/usr/lib/python3/dist-packages/pip=python3-pip" \
  "file:/usr/share/doc/python3-venv=python3-venv" \
  "file:/usr/lib/python3/dist-packages/xarray=python3-xarray"
# Debian's interpreter, which sees Debian's numpy and pytest.
py=/usr/bin/python3

echo "== python: build librawconv_api in $build"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAWCONV_WERROR=ON >/dev/null
fi
# gpb2rinex too: the parity tests run it beside the package; rnx2gpb turns
# the real recordings into GPB files for the xarray tests.
cmake --build "$build" -j "$jobs" --target rawconv_api gpb2rinex rnx2gpb >/dev/null
export RAWCONV_TOOLS_DIR=$build/tools
. "$root/scripts/shared-data.sh"
find_shared_data "$root"
lib=$(ls "$build"/lib/librawconv_api.so.[0-9]* 2>/dev/null | head -n 1 || true)
[ -n "$lib" ] || { echo "test-python: no librawconv_api in $build/lib" >&2; exit 1; }
export RAWCONV_LIBRARY=$lib
# A library built with the sanitizers (-DRAWCONV_SANITIZE=ON) needs their
# run-time loaded first into the interpreter; Python's own leaks are not ours.
preload=
for rt in libasan libubsan; do
  if ldd "$lib" | grep -q "$rt\.so"; then
    preload="$preload $(gcc -print-file-name="$rt.so")"
  fi
done
if [ -n "$preload" ]; then
  export LD_PRELOAD="${preload# }"
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  echo "== python: sanitizer run-time preloaded: $LD_PRELOAD"
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/rawconv-python.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "test-python: $*" >&2; exit 1; }

echo "== python: tests"
(cd "$root/python" && PYTHONPATH="$root/python" PYTHONDONTWRITEBYTECODE=1 \
  "$py" -m pytest -q -p no:cacheprovider tests)

# --- pip install ./python, offline, in a clean environment ---------------------
# A fresh virtual environment without the system's packages; pip without an
# index or configuration, with build isolation: the package's own backend
# builds librawconv_api with CMake and ships it inside the package. NumPy is
# not there, so this install leaves dependencies out (--no-deps).
echo "== python: pip install ./python in a clean virtual environment, offline"
clean=(env -u RAWCONV_LIBRARY -u PYTHONPATH -u LD_LIBRARY_PATH -u PIP_FIND_LINKS
       -u PIP_INDEX_URL -u PIP_EXTRA_INDEX_URL PIP_CONFIG_FILE=/dev/null PIP_NO_INDEX=1
       PIP_DISABLE_PIP_VERSION_CHECK=1 PYTHONDONTWRITEBYTECODE=1 CMAKE_BUILD_PARALLEL_LEVEL="$jobs")
"$py" -m venv "$tmp/venv"
touch "$tmp/stamp"
start=$(date +%s)
"${clean[@]}" "$tmp/venv/bin/pip" install -q "$root/python" --no-deps
echo "  built and installed in $(( $(date +%s) - start )) s"
site=$("$tmp/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
[ -f "$site/rawconv/_lib/librawconv_api.so.1" ] || fail "the wheel holds no librawconv_api"
[ -z "$(find "$root/python" -newer "$tmp/stamp" -not -path '*/__pycache__*' -print -quit)" ] \
  || fail "the build wrote into python/: $(find "$root/python" -newer "$tmp/stamp" | head -n 3)"
# Without NumPy the package's library layer still loads, and it loads the
# library shipped with it.
(cd "$tmp" && "${clean[@]}" "$tmp/venv/bin/python" - "$site" <<'PY'
import os, runpy, sys
site = sys.argv[1]
try:
    import numpy
except ImportError:
    pass
else:
    raise SystemExit("the clean environment sees NumPy at " + numpy.__file__)
native = runpy.run_path(os.path.join(site, "rawconv", "_native.py"))
lib = native["library"]()
assert lib._name == os.path.join(site, "rawconv", "_lib", "librawconv_api.so.1"), lib._name
print("  loads", lib._name, native["text"](lib.rawconv_version_text()))
PY
)

# The same environment given the system's packages (what
# `python3 -m venv --system-site-packages` writes): NumPy comes from Debian,
# every dependency the package declares is met, and the package converts
# the sample with the library shipped inside it.
echo "== python: the installed package with the system's NumPy"
sed -i 's/^include-system-site-packages = false$/include-system-site-packages = true/' "$tmp/venv/pyvenv.cfg"
cp "$root/examples/sample.gpb" "$root/examples/sample.epp" "$tmp/"
mkdir "$tmp/out"
(cd "$tmp" && "${clean[@]}" "$tmp/venv/bin/python" - "$site" <<'PY'
import importlib.metadata, os, sys
import rawconv
site = sys.argv[1]
for requirement in importlib.metadata.requires("rawconv"):
    name = requirement.split(";")[0].split("[")[0].split("<")[0].split(">")[0].split("=")[0].strip()
    importlib.metadata.version(name)  # raises when the dependency is missing
assert os.path.dirname(rawconv.__file__) == os.path.join(site, "rawconv"), rawconv.__file__
# One release text: the installed package's metadata, the module, the library.
versions = (importlib.metadata.version("rawconv"), rawconv.__version__, rawconv.library_version())
assert versions == ("7.60.1122",) * 3, versions
report = rawconv.convert("sample.gpb", output_dir="out")
data = rawconv.read_gpb("sample.gpb", epp="sample.epp")
assert len(data) == report.epochs_read
with open("/proc/self/maps") as maps:
    loaded = {line.split()[-1] for line in maps if "librawconv_api" in line}
shipped = os.path.realpath(os.path.join(site, "rawconv", "_lib", "librawconv_api.so.1"))
assert {os.path.realpath(p) for p in loaded} == {shipped}, loaded
print("  installed package:", report.obs_path, report.nav_path, len(data), "epochs")
PY
)
echo "== python stage passed"
