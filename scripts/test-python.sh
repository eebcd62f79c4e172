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
  "file:/usr/lib/python3/dist-packages/pip=python3-pip"
# Debian's interpreter, which sees Debian's numpy and pytest.
py=/usr/bin/python3

echo "== python: build librawconv_api in $build"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "$jobs" --target rawconv_api >/dev/null
lib=$(ls "$build"/lib/librawconv_api.so.[0-9]* 2>/dev/null | head -n 1 || true)
[ -n "$lib" ] || { echo "test-python: no librawconv_api in $build/lib" >&2; exit 1; }
export RAWCONV_LIBRARY=$lib

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
import os, rawconv
assert os.path.dirname(rawconv.__file__).startswith(os.path.abspath("venv")), rawconv.__file__
report = rawconv.convert("sample.gpb", output_dir="out")
data = rawconv.read_gpb("sample.gpb", epp="sample.epp")
assert len(data) == report.epochs_read
print("installed package:", report.obs_path, report.nav_path, len(data), "epochs")
PY
)
echo "== python stage passed"
