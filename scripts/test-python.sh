#!/usr/bin/env bash
# Python stage: runs the Python package's tests against the built
# librawconv_api, then installs the package offline into a throw-away virtual
# environment and converts the sample through it.
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
  "file:/usr/lib/python3/dist-packages/setuptools=python3-setuptools" \
  "file:/usr/lib/python3/dist-packages/pip=python3-pip" \
  "file:/usr/lib/python3/dist-packages/xarray=python3-xarray"
# Debian's interpreter, which sees Debian's numpy and pytest.
py=/usr/bin/python3

echo "== python: build librawconv_api in $build"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAWCONV_WERROR=ON >/dev/null
fi
# rnx2gpb turns the real recordings into GPB files for the xarray tests.
cmake --build "$build" -j "$jobs" --target rawconv_api rnx2gpb >/dev/null
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

echo "== python: tests"
(cd "$root/python" && PYTHONPATH="$root/python" PYTHONDONTWRITEBYTECODE=1 \
  "$py" -m pytest -q -p no:cacheprovider tests)

echo "== python: offline install into a virtual environment"
"$py" -m venv --system-site-packages --without-pip "$tmp/venv"
cp -r "$root/python" "$tmp/src"
"$tmp/venv/bin/python" -m pip install -q --no-index --no-build-isolation --no-deps "$tmp/src"
cp "$root/examples/sample.gpb" "$root/examples/sample.epp" "$tmp/"
mkdir "$tmp/out"
(cd "$tmp" && "$tmp/venv/bin/python" - <<'PY'
import importlib.metadata, os, rawconv
assert os.path.dirname(rawconv.__file__).startswith(os.path.abspath("venv")), rawconv.__file__
# One release text: the installed package's metadata, the module, the library.
versions = (importlib.metadata.version("rawconv"), rawconv.__version__, rawconv.library_version())
assert versions == ("7.60.1122",) * 3, versions
report = rawconv.convert("sample.gpb", output_dir="out")
data = rawconv.read_gpb("sample.gpb", epp="sample.epp")
assert len(data) == report.epochs_read
print("installed package:", report.obs_path, report.nav_path, len(data), "epochs")
PY
)
echo "== python stage passed"
