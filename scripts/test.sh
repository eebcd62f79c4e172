#!/usr/bin/env bash
# Builds rawconv and runs the whole test suite: a normal build, then the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer.
# On a fresh Debian machine, run as root, it first installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# --- tools -----------------------------------------------------------------
. "$root/scripts/ensure-tools.sh"
ensure_packages "cmd:cmake=cmake" "cmd:g++=g++" "cmd:gcc=gcc" "cmd:nm=binutils" \
  "file:/usr/include/gtest/gtest.h=libgtest-dev" "cmd:rnx2rtkp=rtklib" "cmd:convbin=rtklib" \
  "file:/usr/include/libdeflate.h=libdeflate-dev" "file:/usr/include/zlib.h=zlib1g-dev" \
  "cmd:pkg-config=pkg-config" "cmd:dpkg-shlibdeps=dpkg-dev" \
  "file:/usr/lib/python3/dist-packages/numpy=python3-numpy" \
  "file:/usr/lib/python3/dist-packages/pytest=python3-pytest" \
  "cmd:chromium=chromium" "cmd:identify=imagemagick"

# --- the real data the tests read --------------------------------------------
. "$root/scripts/shared-data.sh"
find_shared_data "$root"
echo "== real data: $RAWCONV_SHARED_DATA"
# The outside readers the conformance tests run: here they must be present,
# a missing one fails those tests instead of skipping them.
build_rnxcmp "$root/build/rnxcmp"
echo "== Compact RINEX tools: $RAWCONV_RNXCMP_DIR"
export RAWCONV_REQUIRE_OUTSIDE_READERS=1

run_suite() {
  local dir=$1; shift
  echo "== configure $dir"
  cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAWCONV_BUILD_TESTS=ON -DRAWCONV_WERROR=ON "$@" >/dev/null
  echo "== build $dir"
  cmake --build "$root/$dir" -j "$jobs" >/dev/null
  echo "== test $dir"
  ctest --test-dir "$root/$dir" --output-on-failure -j "$jobs"
}

run_suite build
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DRAWCONV_SANITIZE=ON
# Further stages, each in a script of its own: the parallel batch under
# ThreadSanitizer, the fuzz targets, a valgrind run, installation and
# packaging, the Python package, the archive recipe on a one-node Slurm
# cluster and under GNU parallel.
for stage in test-tsan test-fuzz test-valgrind test-install test-python test-qc-html \
  test-slurm test-parallel; do
  if [ -f "$root/scripts/$stage.sh" ]; then
    bash "$root/scripts/$stage.sh"
  fi
done
# Windows build and its tests under Wine, when the stage is present.
if [ -f "$root/scripts/test-windows.sh" ]; then
  bash "$root/scripts/test-windows.sh"
fi
echo "== all test stages passed"
