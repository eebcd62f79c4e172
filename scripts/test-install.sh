#!/usr/bin/env bash
# Installation stage: builds a Release tree, installs it into a temporary
# prefix, builds two small C consumers of the installed library (one through
# the CMake package, one through pkg-config) and runs them on the sample,
# runs the installed gpb2rinex, then builds the Debian package and checks
# its file list.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
build=${RAWCONV_INSTALL_BUILD:-$root/build-install}

. "$root/scripts/ensure-tools.sh"
ensure_packages "cmd:cmake=cmake" "cmd:cc=gcc" "cmd:pkg-config=pkg-config" \
  "cmd:dpkg-deb=dpkg" "cmd:dpkg-shlibdeps=dpkg-dev"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/rawconv-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

fail() { echo "test-install: $*" >&2; exit 1; }

# --- build and install ------------------------------------------------------
# Configured for /usr, as the package is; the test installs elsewhere with
# --prefix, which the package config and pkg-config files must follow.
echo "== install: configure and build $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DRAWCONV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null
echo "== install: into a temporary prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
[ -n "$libdir" ] || fail "no CMAKE_INSTALL_LIBDIR in the cache"
(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$tmp/installed.txt"

expected=(
  "$libdir/librawconv.so"
  "$libdir/librawconv.so.1"
  "$libdir/librawconv_api.so"
  "$libdir/librawconv_api.so.1"
  include/rawconv/rawconv.h
  include/rawconv/rawconv_api.h
  bin/gpb2rinex
  share/man/man1/gpb2rinex.1
  share/bash-completion/completions/gpb2rinex
  "$libdir/cmake/rawconv/rawconvConfig.cmake"
  "$libdir/cmake/rawconv/rawconvConfigVersion.cmake"
  "$libdir/cmake/rawconv/rawconvTargets.cmake"
  "$libdir/pkgconfig/rawconv.pc"
  "$libdir/pkgconfig/rawconv_api.pc"
)
for f in "${expected[@]}"; do
  grep -qxF "$f" "$tmp/installed.txt" || fail "not installed: $f"
done
for lib in librawconv librawconv_api; do
  [ -L "$prefix/$libdir/$lib.so" ] && [ -L "$prefix/$libdir/$lib.so.1" ] \
    || fail "$lib.so and $lib.so.1 are not symlinks"
  real=$(readlink -f "$prefix/$libdir/$lib.so")
  soname=$(objdump -p "$real" | awk '/SONAME/ {print $2}')
  [ "$soname" = "$lib.so.1" ] || fail "$lib has SONAME '$soname'"
done
# The dialog library still exports its six functions and nothing else.
nexports=$(nm -D --defined-only "$prefix/$libdir/librawconv.so" | wc -l)
[ "$nexports" -eq 6 ] || fail "librawconv.so defines $nexports symbols, not its six functions"

# --- consumers ----------------------------------------------------------------
work=$tmp/work
mkdir -p "$work/cmake-out" "$work/pc-out"
cp "$root/examples/sample.gpb" "$root/examples/sample.epp" "$work/"

echo "== install: consumer through find_package"
cmake -S "$root/tests/install" -B "$tmp/consumer-cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/consumer-cmake" -j "$jobs" >/dev/null
"$tmp/consumer-cmake/consumer" "$work/sample.gpb" "$work/cmake-out"
"$tmp/consumer-cmake/dialog_consumer"

echo "== install: consumer through pkg-config"
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
pkg-config --exists --print-errors "rawconv_api >= 7" || fail "pkg-config does not find rawconv_api"
pc_libdir=$(pkg-config --variable=libdir rawconv_api)
[ "$(readlink -f "$pc_libdir")" = "$(readlink -f "$prefix/$libdir")" ] \
  || fail "pkg-config libdir $pc_libdir is not the install's"
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -o "$tmp/consumer-pc" "$root/tests/install/consumer.c" \
  $(pkg-config --cflags --libs rawconv_api) -Wl,-rpath,"$pc_libdir"
"$tmp/consumer-pc" "$work/sample.gpb" "$work/pc-out"
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -o "$tmp/dialog-pc" "$root/tests/install/dialog_consumer.c" \
  $(pkg-config --cflags --libs rawconv) -Wl,-rpath,"$pc_libdir"
"$tmp/dialog-pc"
for f in "$work"/cmake-out/*; do
  cmp -s "$f" "$work/pc-out/$(basename "$f")" || fail "the two consumers wrote different $(basename "$f")"
done

echo "== install: installed gpb2rinex"
mkdir -p "$work/cli"
cp "$work/sample.gpb" "$work/sample.epp" "$work/cli/"
(cd "$work/cli" && env -u LD_LIBRARY_PATH "$prefix/bin/gpb2rinex" sample.gpb) \
  || fail "installed gpb2rinex failed on the sample"
ls "$work/cli"/sample.05o "$work/cli"/sample.05n >/dev/null || fail "gpb2rinex wrote no outputs"

# --- Debian package -----------------------------------------------------------
echo "== install: Debian package"
(cd "$build" && cpack -G DEB >"$tmp/cpack.log" 2>&1) || { cat "$tmp/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$(ls -t "$build"/rawconv_*.deb | head -n 1)
[ -f "$deb" ] || fail "no package built"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||; s| ->.*||' | sort >"$tmp/deb.txt"
for f in "${expected[@]}"; do
  grep -qxF "usr/$f" "$tmp/deb.txt" || fail "not in the package: /usr/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
case $depends in *libc6*) ;; *) fail "package depends on '$depends'";; esac
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "package without a maintainer"

echo "installed files:"
sed 's/^/  /' "$tmp/installed.txt"
echo "== install test passed: $(wc -l <"$tmp/installed.txt") files installed," \
  "find_package and pkg-config consumers converted the sample," \
  "$(basename "$deb") holds $(grep -c '[^/]$' "$tmp/deb.txt") files (Depends: $depends)"
