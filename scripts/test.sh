#!/usr/bin/env bash
# Builds rawconv and runs the whole test suite: a normal build, then the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer.
# On a fresh Debian machine, run as root, it first installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# --- tools -----------------------------------------------------------------
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v nm >/dev/null || need+=(binutils)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "== installing: ${need[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
  else
    echo "missing: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
fi

run_suite() {
  local dir=$1; shift
  echo "== configure $dir"
  cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  echo "== build $dir"
  cmake --build "$root/$dir" -j "$jobs" >/dev/null
  echo "== test $dir"
  ctest --test-dir "$root/$dir" --output-on-failure -j "$jobs"
}

run_suite build
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DRAWCONV_SANITIZE=ON
# Windows build and its tests under Wine, when the stage is present.
if [ -f "$root/scripts/test-windows.sh" ]; then
  bash "$root/scripts/test-windows.sh"
fi
echo "== all test stages passed"
