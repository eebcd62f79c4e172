#!/usr/bin/env bash
# Installation stage: builds a Release tree, installs it into a temporary
# prefix, builds two small C consumers of the installed library (one through
# the CMake package, one through pkg-config) and runs them on the sample,
# runs the installed gpb2rinex and data tools, checks that a user's default
# build does not turn warnings into errors, then builds the Debian package
# and checks its files (documents, manual page, tools, the Python package,
# which converts the sample from the unpacked package; lintian when it is
# installed).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
build=${RAWCONV_INSTALL_BUILD:-$root/build-install}

. "$root/scripts/ensure-tools.sh"
ensure_packages "cmd:cmake=cmake" "cmd:cc=gcc" "cmd:pkg-config=pkg-config" \
  "cmd:dpkg-deb=dpkg" "cmd:dpkg-shlibdeps=dpkg-dev" "file:/usr/bin/python3=python3" \
  "file:/usr/lib/python3/dist-packages/numpy=python3-numpy"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/rawconv-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

fail() { echo "test-install: $*" >&2; exit 1; }

# --- build and install ------------------------------------------------------
# Configured for /usr, as the package is; the test installs elsewhere with
# --prefix, which the package config and pkg-config files must follow.
echo "== install: configure and build $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DRAWCONV_BUILD_TESTS=OFF -DRAWCONV_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
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
  share/man/man1/gpb2rinex.1.gz
  lib/rawconv/make_synthetic_gpb
  lib/rawconv/rnx2gpb
  lib/rawconv/nav2epp
  share/doc/rawconv/copyright
  share/doc/rawconv/changelog.gz
  share/bash-completion/completions/gpb2rinex
  "$libdir/cmake/rawconv/rawconvConfig.cmake"
  "$libdir/cmake/rawconv/rawconvConfigVersion.cmake"
  "$libdir/cmake/rawconv/rawconvTargets.cmake"
  "$libdir/pkgconfig/rawconv.pc"
  "$libdir/pkgconfig/rawconv_api.pc"
  lib/python3/dist-packages/rawconv/__init__.py
  lib/python3/dist-packages/rawconv/_native.py
  "lib/python3/dist-packages/rawconv-$(sed -n 's/^__version__ = "\(.*\)"$/\1/p' "$root/python/rawconv/__init__.py").dist-info/METADATA"
)
for f in "${expected[@]}"; do
  grep -qxF "$f" "$tmp/installed.txt" || fail "not installed: $f"
done
grep -qxF share/man/man1/gpb2rinex.1 "$tmp/installed.txt" && fail "the man page is installed uncompressed"
# The installed Python package uses the installed library, not a copy.
grep -E '^lib/python3/dist-packages/rawconv/(_lib/|.*\.(so|pyc)|__pycache__)' "$tmp/installed.txt" \
  && fail "the Python package is installed with a library or byte code of its own"
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

echo "== install: installed data tools"
# The README's recipe for inputs: a short synthetic recording, converted by
# the installed gpb2rinex; a RINEX file back to GPB and to EPP.
mkdir -p "$work/tools"
tools=$prefix/lib/rawconv
"$tools/make_synthetic_gpb" --epochs 120 "$work/tools/syn.gpb" "$work/tools/syn.epp" >/dev/null \
  || fail "installed make_synthetic_gpb failed"
env -u LD_LIBRARY_PATH "$prefix/bin/gpb2rinex" -q "$work/tools/syn.gpb" \
  || fail "gpb2rinex failed on the synthetic recording"
ls "$work/tools"/syn.05o >/dev/null || fail "no observation file of the synthetic recording"
"$tools/rnx2gpb" "$work/cli/sample.05o" "$work/tools/back.gpb" >/dev/null || fail "installed rnx2gpb failed"
"$tools/nav2epp" "$work/cli/sample.05n" "$work/tools/back.epp" >/dev/null || fail "installed nav2epp failed"
[ -s "$work/tools/back.gpb" ] && [ -s "$work/tools/back.epp" ] || fail "rnx2gpb or nav2epp wrote nothing"

# --- the README's examples ---------------------------------------------------
# Every example of README.md runs from what is installed and shipped: the
# block that makes the inputs once, then each other example in a fresh copy
# of that folder (gpb2rinex and the tools of the prefix on the search path;
# the Python examples against the installed library, when NumPy is there).
echo "== install: the README's examples"
readme=$tmp/readme
mkdir -p "$readme/examples" "$readme/inputs"
awk -v dir="$readme/examples" -f - "$root/README.md" <<'AWK'
# Writes the README's runnable examples into dir: sh-N.sh for every ```sh
# block that runs gpb2rinex or a data tool (inputs.sh for the block that
# makes the inputs), cli-N.sh for every transcript whose first command is
# gpb2rinex ("$ " lines and their continuations), py-N.py for every
# ```python block.
function emit(   name, i, lines, count, out, cont) {
  if (lang == "sh") {
    if (buf !~ /gpb2rinex|make_synthetic_gpb/ || buf ~ /sbatch|parallel|bash scripts\//) return
    name = (buf ~ /^# Inputs of the examples/) ? "inputs.sh" : "sh-" n ".sh"
    printf "%s", buf > (dir "/" name)
  } else if (lang == "python") {
    printf "%s", buf > (dir "/py-" n ".py")
  } else if (lang == "" && buf ~ /^\$ gpb2rinex/) {
    count = split(buf, lines, "\n")
    out = ""; cont = 0
    for (i = 1; i <= count; i++) {
      if (cont) { out = out lines[i] "\n" }
      else if (substr(lines[i], 1, 2) == "$ ") { out = out substr(lines[i], 3) "\n" }
      else continue
      cont = (lines[i] ~ /\\$/)
    }
    printf "%s", out > (dir "/cli-" n ".sh")
  }
}
/^```/ {
  if (!inblock) { inblock = 1; lang = substr($0, 4); n++; buf = ""; next }
  inblock = 0; emit(); next
}
inblock { buf = buf $0 "\n" }
AWK
[ -f "$readme/examples/inputs.sh" ] || fail "README.md has no block making the examples' inputs"
cp -r "$root/examples" "$readme/inputs/"
export_path="$prefix/bin:$prefix/lib/rawconv:$PATH"
(cd "$readme/inputs" && env -u LD_LIBRARY_PATH PATH="$export_path" bash -e "$readme/examples/inputs.sh" >/dev/null) \
  || fail "README.md: the block making the inputs failed"
have_numpy=0
/usr/bin/python3 -c 'import numpy' 2>/dev/null && have_numpy=1
ran=0
for example in "$readme"/examples/*; do
  name=$(basename "$example")
  case $name in
    inputs.sh) continue ;;
    *.py) [ "$have_numpy" = 1 ] || { echo "  $name: no NumPy, left out"; continue; }
          run=(/usr/bin/python3 "$example") ;;
    *) run=(bash -e "$example") ;;
  esac
  dir=$readme/run-${name%.*}
  cp -al "$readme/inputs" "$dir"
  if ! (cd "$dir" && env -u LD_LIBRARY_PATH PATH="$export_path" \
          PYTHONPATH="$prefix/lib/python3/dist-packages" PYTHONDONTWRITEBYTECODE=1 \
          RAWCONV_LIBRARY="$prefix/$libdir/librawconv_api.so.1" "${run[@]}" >"$dir.log" 2>&1); then
    sed 's/^/    /' "$example" >&2
    sed 's/^/  | /' "$dir.log" >&2
    fail "README.md: the example above failed"
  fi
  ran=$((ran + 1))
done
[ "$ran" -ge 6 ] || fail "only $ran examples found in README.md"
echo "  $ran examples ran"

# --- warnings -----------------------------------------------------------------
# Warnings fail the project's own builds (this one) and never a user's: the
# README's install configure compiles with -Wall -Wextra and without -Werror.
echo "== install: warnings are errors only when asked for"
grep -q -- '-Werror' "$build/compile_commands.json" || fail "RAWCONV_WERROR=ON does not add -Werror"
cmake -S "$root" -B "$tmp/default-build" -DCMAKE_BUILD_TYPE=Release -DRAWCONV_BUILD_TESTS=OFF \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
grep -q -- '-Wextra' "$tmp/default-build/compile_commands.json" || fail "a default build has no -Wextra"
if grep -q -- '-Werror' "$tmp/default-build/compile_commands.json"; then
  fail "a default build turns warnings into errors: $(grep -o -- '-Werror[^ ]*' "$tmp/default-build/compile_commands.json" | sort -u | tr '\n' ' ')"
fi

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
grep -qxF usr/share/man/man1/gpb2rinex.1 "$tmp/deb.txt" && fail "the package's man page is uncompressed"

# The files themselves, as a user's system gets them.
x=$tmp/deb-root
dpkg-deb -x "$deb" "$x"
version=$(dpkg-deb -f "$deb" Version)
doc=$x/usr/share/doc/rawconv
# gzip -9n: no file name and no time stamp in the gzip header, so the same
# text always gives the same bytes.
gzip_plain() {  # file: exits 0 when it is gzip data without name and time
  local b
  read -r -a b < <(od -An -tx1 -N8 "$1")
  [ "${b[0]}${b[1]}" = 1f8b ] && (( (16#${b[3]} & 8) == 0 )) && [ "${b[4]}${b[5]}${b[6]}${b[7]}" = 00000000 ]
}
for gz in "$x/usr/share/man/man1/gpb2rinex.1.gz" "$doc/changelog.gz"; do
  gzip -t "$gz" 2>/dev/null || fail "$(basename "$gz") is not gzip data"
  gzip_plain "$gz" || fail "$(basename "$gz") carries a name or a time stamp (not gzip -n)"
done
cmp -s <(zcat "$x/usr/share/man/man1/gpb2rinex.1.gz") "$root/cli/gpb2rinex.1" \
  || fail "the packaged man page is not cli/gpb2rinex.1"
cmp -s "$x/usr/share/man/man1/gpb2rinex.1.gz" <(gzip -9n -c "$root/cli/gpb2rinex.1") \
  || fail "the packaged man page is not gzip -9n of cli/gpb2rinex.1"
# Debian changelog: "rawconv (VERSION) DIST; urgency=U" ... " -- NAME <MAIL>  DATE".
top=$(zcat "$doc/changelog.gz" | head -n 1)
[ "$top" = "rawconv ($version) unstable; urgency=medium" ] \
  || fail "the changelog's newest entry '$top' is not version $version"
zcat "$doc/changelog.gz" | grep -qE '^ -- .+ <[^>]+>  [A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9:]{8} [+-][0-9]{4}$' \
  || fail "the changelog has no trailer line in Debian's form"
# Machine-readable copyright file: the format line, a Files paragraph with
# its Copyright and License.
head -n 1 "$doc/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  || fail "copyright is not a machine-readable copyright file"
for field in '^Files: \*' '^Copyright: ' '^License: '; do
  grep -qE "$field" "$doc/copyright" || fail "copyright has no '$field' field"
done
for tool in make_synthetic_gpb rnx2gpb nav2epp; do
  [ -x "$x/usr/lib/rawconv/$tool" ] || fail "/usr/lib/rawconv/$tool is not an executable"
done
"$x/usr/lib/rawconv/make_synthetic_gpb" --epochs 10 "$tmp/deb.gpb" "$tmp/deb.epp" >/dev/null \
  || fail "the packaged make_synthetic_gpb does not run"

# The Python package as python3 of a system with the package installed
# finds it: the package in dist-packages, the library through the loader
# (the unpacked root's library folder stands for the system's).
echo "== install: the packaged Python package"
mkdir -p "$tmp/deb-python/out"
cp "$root/examples/sample.gpb" "$root/examples/sample.epp" "$tmp/deb-python/"
(cd "$tmp/deb-python" && env -u RAWCONV_LIBRARY PYTHONDONTWRITEBYTECODE=1 \
    PYTHONPATH="$x/usr/lib/python3/dist-packages" LD_LIBRARY_PATH="$x/usr/$libdir" \
    /usr/bin/python3 - "$x" <<'PY'
import importlib.metadata, os, sys
import rawconv
root = os.path.realpath(sys.argv[1]) + "/"
assert os.path.realpath(rawconv.__file__).startswith(root), rawconv.__file__
versions = (importlib.metadata.version("rawconv"), rawconv.__version__, rawconv.library_version())
assert len(set(versions)) == 1, versions
report = rawconv.convert("sample.gpb", output_dir="out")
assert report.epochs_written > 0 and os.path.exists(report.obs_path), report
with open("/proc/self/maps") as maps:
    loaded = {line.split()[-1] for line in maps if "librawconv_api" in line}
assert [os.path.realpath(p).startswith(root) for p in loaded] == [True], loaded
print("  packaged Python package:", os.path.basename(report.obs_path), report.epochs_written, "epochs")
PY
) || fail "the packaged Python package did not convert the sample"

# lintian when it is there: the report is shown; its errors and the tags of
# the files checked above fail the stage.
if command -v lintian >/dev/null 2>&1; then
  echo "== install: lintian"
  lintian --tag-display-limit 0 "$deb" >"$tmp/lintian.txt" 2>&1 || true
  sed 's/^/  /' "$tmp/lintian.txt"
  if grep -E '^E: |: (no-copyright-file|copyright-file-compressed|no-changelog|changelog-file-missing-in-native-package|debian-changelog-file-missing|changelog-not-compressed-with-max-compression|uncompressed-manual-page|manpage-not-compressed|manpage-not-compressed-with-max-compression|package-contains-timestamped-gzip)\b' \
      "$tmp/lintian.txt" >"$tmp/lintian-bad.txt"; then
    cat "$tmp/lintian-bad.txt" >&2
    fail "lintian finds errors in the package or its documents wanting"
  fi
else
  echo "== install: lintian is not installed; its check is left out"
fi

echo "installed files:"
sed 's/^/  /' "$tmp/installed.txt"
echo "== install test passed: $(wc -l <"$tmp/installed.txt") files installed," \
  "find_package and pkg-config consumers converted the sample," \
  "$(basename "$deb") holds $(grep -c '[^/]$' "$tmp/deb.txt") files (Depends: $depends)"
