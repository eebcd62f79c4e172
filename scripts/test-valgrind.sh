#!/usr/bin/env bash
# Valgrind stage: converts the shipped sample end to end with gpb2rinex under
# valgrind's memory checker (invalid accesses, uninitialised values, leaks),
# once successfully and twice through failure paths (a missing ephemeris
# file; an output that would overwrite the GPB file). Any valgrind error
# fails the stage.
# On a fresh Debian machine, run as root, it first installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

. "$root/scripts/ensure-tools.sh"
ensure_packages "cmd:cmake=cmake" "cmd:g++=g++" "cmd:valgrind=valgrind"

# The normal build of scripts/test.sh when it is there, else one of our own.
build=$root/build
if [ ! -f "$build/CMakeCache.txt" ]; then
  build=$root/build-valgrind
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAWCONV_BUILD_TESTS=OFF -DRAWCONV_WERROR=ON >/dev/null
fi
echo "== build gpb2rinex in $(basename "$build")"
cmake --build "$build" -j "$jobs" --target gpb2rinex >/dev/null
cli=$build/cli/gpb2rinex

work=$(mktemp -d /tmp/rawconv-valgrind.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp examples/sample.gpb examples/sample.epp examples/sample.sta "$work/"
mkdir "$work/out"

# Exit code 99 stands for a valgrind finding; the converter's own results are
# 0 (converted) and 1 (failed).
memcheck() {
  valgrind --quiet --error-exitcode=99 --leak-check=full \
    --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
    "$@"
}
expect() {
  local want=$1 what=$2; shift 2
  local status=0
  memcheck "$@" >"$work/log" 2>&1 || status=$?
  if [ "$status" -ne "$want" ]; then
    echo "-- $what: exit $status, expected $want" >&2
    cat "$work/log" >&2
    exit 1
  fi
  echo "   $what: exit $status, no valgrind errors"
}

echo "== valgrind gpb2rinex"
expect 0 "sample conversion" "$cli" --output-dir "$work/out" --marker SAMPLE --antenna-height 1.465 \
  "$work/sample.gpb"
for f in "$work"/out/sample.05o "$work"/out/sample.05n; do
  [ -s "$f" ] || { echo "-- missing output $f" >&2; exit 1; }
done
expect 1 "missing ephemeris file" "$cli" -q --output-dir "$work/out" --epp "$work/none.epp" \
  "$work/sample.gpb"
cp "$work/sample.gpb" "$work/site.05o"
cp "$work/sample.epp" "$work/site.epp"
expect 1 "output naming the GPB file" "$cli" -q "$work/site.05o"
cmp -s "$work/sample.gpb" "$work/site.05o" || { echo "-- the GPB file was changed" >&2; exit 1; }
echo "== valgrind stage passed"
