#!/usr/bin/env bash
# Windows stage: cross-builds rawconv.dll and wrawconv.exe for 32-bit Windows
# into build-win32/ and tests them under Wine, headless under Xvfb:
#   (a) the export names of both files, their imports and version resource;
#   (b) a Windows program loads rawconv.dll by name, finds its entries by
#       their export names and converts the shipped sample; the output must
#       equal the Linux output apart from CR LF line ends and the run date;
#   (c) a scripted session of the real wrawconv.exe (Add through the real
#       open-file dialog, the station dialog, a bad week, a good conversion),
#       and Convert with no rawconv.dll;
#   (d) screenshots of the main and the station dialog, as PNG files.
# On a fresh Debian machine, run as root, it first installs what is missing.
# Runs unattended; Wine gets its own prefix inside the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$root/build-win32
jobs=$(nproc 2>/dev/null || echo 2)
. "$root/scripts/ensure-tools.sh"

# --- the Xvfb part: runs inside xvfb-run, called back by the main part ----
if [ "${1:-}" = "--gui-session" ]; then
  wine=$2 drv=$3 exe=$4 gpb=$5 alt=$6 shots=$7 nodll_exe=$8
  shots_win=$9
  # Screenshots on request of the driver: NAME.ready -> NAME.png, NAME.done.
  (
    while :; do
      for f in "$shots"/*.ready; do
        [ -e "$f" ] || continue
        name=$(basename "$f" .ready)
        # The whole screen, cut to the windows on it (no window manager).
        import -window root "$shots/$name.png" 2>/dev/null &&
          mogrify -trim +repage "$shots/$name.png" 2>/dev/null || true
        rm -f "$f"
        touch "$shots/$name.done"
      done
      sleep 0.2
    done
  ) &
  poller=$!
  rc=0
  timeout 300 "$wine" "$drv" session "$exe" "$gpb" "$alt" "$shots_win" </dev/null || rc=1
  timeout 120 "$wine" "$drv" nodll "$nodll_exe" </dev/null || rc=1
  kill "$poller" 2>/dev/null || true
  wait "$poller" 2>/dev/null || true
  exit $rc
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# --- tools ----------------------------------------------------------------
if [ "$(id -u)" = 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "== enabling the i386 architecture"
  dpkg --add-architecture i386
  unset RAWCONV_APT_UPDATED
fi
ensure_packages "cmd:cmake=cmake" "cmd:i686-w64-mingw32-g++=g++-mingw-w64-i686" \
  "cmd:wine=wine" "file:/usr/lib/wine/wine=wine32:i386" "cmd:xvfb-run=xvfb" "cmd:xauth=xauth" \
  "cmd:xdotool=xdotool" "cmd:import=imagemagick" "cmd:g++=g++"

# 32-bit x86 code runs natively on most hosts. Some kernels are set up
# without it (32-bit programs fail with "Exec format error", and Wine's WoW64
# cannot enter 32-bit code either); there the Wine tests run a 64-bit build
# of the same sources, with the same export names, and the 32-bit files are
# checked statically only.
native32=0
if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && timeout 60 /usr/lib/wine/wine --version >/dev/null 2>&1; then
  native32=1
fi
if [ $native32 = 0 ]; then
  ensure_packages "cmd:x86_64-w64-mingw32-g++=g++-mingw-w64-x86-64-win32" \
    "file:/usr/lib/wine/wine64=wine64"
fi

# --- cross build ----------------------------------------------------------
cross_build() {  # dir arch
  echo "== configure $1 ($2)"
  cmake -S "$root" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
    -DRAWCONV_MINGW_ARCH="$2" -DCMAKE_BUILD_TYPE=Release -DRAWCONV_WERROR=ON >/dev/null
  echo "== build $1"
  cmake --build "$1" -j "$jobs" --target rawconv wrawconv rawconv_api >/dev/null
  local cxx=$2-w64-mingw32-g++
  for prog in dll_check gui_driver; do
    $cxx -std=c++17 -O2 -Wall -Wextra -Werror -static -I"$root/lib" \
      "$root/tests/windows/$prog.cpp" -o "$1/$prog.exe"
  done
}
cross_build "$out" i686
dll=$out/lib/rawconv.dll
exe=$out/app/wrawconv.exe
echo "== the Windows files: $dll and $exe"

# --- (a) static checks of the 32-bit files --------------------------------
objdump=i686-w64-mingw32-objdump
exports() { "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' '; }
expected_dll="_Get_Error_Str@4 _Gpb_To_Rinex@8 _Gpb_To_Rinex_Ver@12 _Test_Kvo@4 __DLLVersionNumber_@0 __DLLVersionYear_@0 "
expected_exe="__DLLVersionNumber_@0 __DLLVersionYear_@0 "
got=$(exports "$dll")
[ "$got" = "$expected_dll" ] && pass "rawconv.dll exports exactly: $got" ||
  fail "rawconv.dll exports: '$got', expected '$expected_dll'"
api_dll=$out/lib/rawconv_api.dll
got=$(exports "$api_dll")
if [ -n "$got" ] && [ -z "$(echo "$got" | tr ' ' '\n' | grep -v -e '^rawconv_' -e '^$' || true)" ]; then
  pass "rawconv_api.dll exports only rawconv_ names: $got"
else
  fail "rawconv_api.dll exports: '$got'"
fi
got=$(exports "$exe")
[ "$got" = "$expected_exe" ] && pass "wrawconv.exe exports exactly: $got" ||
  fail "wrawconv.exe exports: '$got', expected '$expected_exe'"
for f in "$dll" "$exe"; do
  "$objdump" -f "$f" | grep -q "file format pei-i386" && pass "$(basename "$f") is 32-bit" ||
    fail "$(basename "$f") is not a 32-bit PE file"
  imports=$("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' ')
  extra=$(echo "$imports" | tr ' ' '\n' | grep -v -x -E 'kernel32.dll|msvcrt.dll|user32.dll|gdi32.dll|comdlg32.dll|' || true)
  [ -z "$extra" ] && pass "$(basename "$f") needs only system libraries: $imports" ||
    fail "$(basename "$f") needs non-system libraries: $extra"
done
strings -el "$exe" | grep -qx "7.60.1122.0" && pass "wrawconv.exe version resource 7.60.1122.0" ||
  fail "wrawconv.exe has no version 7.60.1122.0"

# --- Wine -----------------------------------------------------------------
if [ $native32 = 1 ]; then
  test_dir=$out
  wine=/usr/lib/wine/wine
  export WINEARCH=win32 WINEPREFIX=$out/wine-prefix
else
  echo "NOTE: this host cannot run 32-bit x86 code; the Wine tests below run the"
  echo "NOTE: 64-bit build of the same sources (build-win32/x64-test)."
  cross_build "$out/x64-test" x86_64
  test_dir=$out/x64-test
  wine=/usr/lib/wine/wine64
  export WINEARCH=win64 WINEPREFIX=$out/wine-prefix64
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
run_wine() { timeout 300 "$wine" "$@" </dev/null; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

echo "== Wine prefix $WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  run_wine wineboot -i >/dev/null 2>&1 || true
fi
wineserver -w || true

work=$out/wine-test
rm -rf "$work"
mkdir -p "$work/bin" "$work/nodll" "$work/data" "$work/alt" "$work/dll-out" "$work/linux-out" "$work/shots"
cp "$test_dir/lib/rawconv.dll" "$test_dir/app/wrawconv.exe" "$test_dir/dll_check.exe" \
  "$test_dir/gui_driver.exe" "$work/bin/"
cp "$test_dir/app/wrawconv.exe" "$work/nodll/"

# Entries by name, with no sample needed.
if run_wine "$work/bin/dll_check.exe" >"$work/dll_check.txt" 2>&1; then
  pass "rawconv.dll loaded by name under Wine, entries found by their export names"
else
  cat "$work/dll_check.txt"; fail "dll_check under Wine"
fi

sample=$root/examples/sample.gpb
if [ ! -f "$sample" ]; then
  echo "SKIPPED: sample conversion and wrawconv session (examples/sample.gpb is absent)"
else
  cp "$root"/examples/sample.* "$work/data/"

  # --- (b) the sample through the DLL, compared with the Linux converter ---
  gpb2rinex=$root/build/cli/gpb2rinex
  if [ ! -x "$gpb2rinex" ]; then
    cmake -S "$root" -B "$root/build-windows-linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DRAWCONV_WERROR=ON >/dev/null
    cmake --build "$root/build-windows-linux" -j "$jobs" --target gpb2rinex >/dev/null
    gpb2rinex=$root/build-windows-linux/cli/gpb2rinex
  fi
  "$gpb2rinex" -q --output-dir "$work/linux-out" --marker SAMPLE --antenna-height 1.465 \
    --run-by "WINE CHECK" --observer OBSERVER --agency AGENCY --rinex 2.1 "$work/data/sample.gpb"
  if run_wine "$work/bin/dll_check.exe" "$(winpath "$work/data/sample.gpb")" \
      "$(winpath "$work/data/sample.epp")" "$(winpath "$work/dll-out")" >"$work/dll_convert.txt" 2>&1; then
    pass "sample converted by rawconv.dll under Wine"
  else
    cat "$work/dll_convert.txt"; fail "sample conversion under Wine"
  fi
  # The run date (columns 41-60 of the PGM / RUN BY / DATE lines) differs.
  normalize() { sed -e 's/\r$//' -e '/PGM \/ RUN BY \/ DATE/s/^\(.\{40\}\).\{20\}/\1<run date>          /' "$1"; }
  for linux_file in "$work"/linux-out/sample.*; do
    name=$(basename "$linux_file")
    win_file=$work/dll-out/$name
    if [ ! -f "$win_file" ]; then fail "Windows output $name missing"; continue; fi
    lines=$(wc -l <"$win_file")
    crlf=$(grep -c $'\r$' "$win_file" || true)
    [ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] && pass "$name: all $lines lines end with CR LF" ||
      fail "$name: $crlf of $lines lines end with CR LF"
    # The run date as the Windows locale services wrote it, e.g. 7-DEC-05 14:30.
    date_text=$(grep "PGM / RUN BY / DATE" "$win_file" | cut -c41-56)
    echo "$date_text" | grep -qE '^[0-9]{1,2}-[A-Z]{3}-[0-9]{2} [0-9]{2}:[0-9]{2} *$' &&
      pass "$name: run date '$date_text'" || fail "$name: run date '$date_text'"
    if cmp -s <(normalize "$linux_file") <(normalize "$win_file"); then
      pass "$name equals the Linux output apart from line ends and run date"
    else
      diff <(normalize "$linux_file") <(normalize "$win_file") | head -20
      fail "$name differs from the Linux output"
    fi
  done

  # --- (c), (d) the real program under Xvfb ---------------------------------
  cp "$work/data/sample.epp" "$work/alt/brdc.epp"
  wineserver -k 2>/dev/null || true  # the desktop process starts again with the display
  if xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --gui-session "$wine" \
      "$work/bin/gui_driver.exe" "$(winpath "$work/bin/wrawconv.exe")" \
      "$(winpath "$work/data/sample.gpb")" "$(winpath "$work/alt/brdc.epp")" "$work/shots" \
      "$(winpath "$work/nodll/wrawconv.exe")" "$(winpath "$work/shots")" >"$work/session.txt" 2>&1; then
    pass "wrawconv session under Wine"
  else
    fail "wrawconv session under Wine"
  fi
  grep -E "^(ok|FAIL|   )" "$work/session.txt" | sed 's/^/  | /' || true
  grep -q "^FAIL" "$work/session.txt" && fail "a check of the session failed"
  obs=$(ls "$work"/data/sample.[0-9][0-9]o 2>/dev/null | head -1)
  nav=$(ls "$work"/data/sample.[0-9][0-9]n 2>/dev/null | head -1)
  if [ -n "$obs" ] && [ -n "$nav" ]; then
    pass "session wrote $(basename "$obs") and $(basename "$nav")"
    grep -q "^TESTSTA1 .*MARKER NAME" "$obs" && pass "typed station name in MARKER NAME" ||
      fail "MARKER NAME is not the typed station name"
    grep -q "^        1.2345        0.0000        0.0000 .*ANTENNA: DELTA H/E/N" "$obs" &&
      pass "typed antenna height in ANTENNA: DELTA H/E/N" || fail "antenna height not in the header"
    grep -q "WINE SESSION.*PGM / RUN BY / DATE" "$nav" && pass "Program Run By in the navigation header" ||
      fail "Program Run By not in the navigation header"
  else
    fail "session wrote no RINEX files"
  fi
  for shot in main_dialog station_dialog; do
    [ -s "$work/shots/$shot.png" ] && pass "screenshot $work/shots/$shot.png" ||
      fail "no screenshot $shot.png"
  done
fi
wineserver -k 2>/dev/null || true

if [ $failures -gt 0 ]; then
  echo "== Windows stage: $failures check(s) failed"
  exit 1
fi
echo "== Windows stage passed"
