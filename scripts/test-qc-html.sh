#!/usr/bin/env bash
# Quality-report stage: converts a real recording (BAHR 2004-06-10, all eight
# observation types) into the GPB and EPP formats with the test tools, runs
# gpb2rinex --qc on it as a user would, screenshots the report page and each
# of its four figures with headless Chromium, and checks that the figures
# were drawn: every image has the size the page gives it, is not blank, and
# shows coloured data, not only its axes. Then the same for a synthetic day
# at 1 Hz (86,400 epochs, 14 satellites), whose skyplot is the crowded one:
# Chromium lays out each skyplot's texts, and no two of their boxes may
# overlap (the screenshot of that check shows the boxes it measured).
#
# Usage: scripts/test-qc-html.sh [OUTPUT_DIR]   (default: build/qc-html)
# Leaves bahr1620.04o.qc.{txt,json,html} (with the RINEX files),
# bahr1620.qc.png (the whole page) and one PNG per figure in OUTPUT_DIR, the
# 1 Hz day's day1hz.qc.{txt,json,html}, day1hz.qc.png and day1hz-skyplot.png,
# and <name>-labels.png for each overlap check. RAWCONV_BUILD_DIR picks the
# build tree.
# On a fresh Debian machine, run as root, it first installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
build=${RAWCONV_BUILD_DIR:-$root/build}
out=${1:-$build/qc-html}

. "$root/scripts/ensure-tools.sh"
ensure_packages "cmd:cmake=cmake" "cmd:g++=g++" "file:/usr/include/gtest/gtest.h=libgtest-dev" \
  "cmd:chromium=chromium" "cmd:identify=imagemagick" "cmd:python3=python3"

if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "== configure $build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAWCONV_WERROR=ON >/dev/null
fi
echo "== build gpb2rinex and the test tools"
cmake --build "$build" -j "$jobs" --target gpb2rinex rnx2gpb nav2epp make_synthetic_gpb >/dev/null

mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.svg "$out"/*-labels.html "$out"/bahr1620.* "$out"/day1hz.*
echo "== gpb2rinex --qc bahr1620.gpb"
. "$root/scripts/shared-data.sh"
find_shared_data "$root"
data=$RAWCONV_SHARED_DATA
"$build/tools/rnx2gpb" "$data/bahr1620.04o" "$out/bahr1620.gpb" >/dev/null
"$build/tools/nav2epp" "$data/bahr1620.04n" "$out/bahr1620.epp" >/dev/null
line=$("$build/cli/gpb2rinex" --qc --fixed-run-date 1136073600 "$out/bahr1620.gpb")
echo "$line"
case $line in
  *"bahr1620.gpb: 2004-06-10 00:00:00.000 to "*) ;;
  *) echo "FAIL: no summary line from gpb2rinex --qc" >&2; exit 1 ;;
esac
html=$out/bahr1620.04o.qc.html
for f in "$html" "$out/bahr1620.04o.qc.json" "$out/bahr1620.04o.qc.txt" "$out/bahr1620.04o"; do
  [ -s "$f" ] || { echo "FAIL: $f was not written" >&2; exit 1; }
done
python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$out/bahr1620.04o.qc.json" ||
  { echo "FAIL: bahr1620.04o.qc.json is not valid JSON" >&2; exit 1; }

# Headless Chromium keeps its profile in a scratch folder; no sandbox when
# run as root.
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
# Headless Chromium now and then exits without writing its screenshot on a
# loaded machine (seen once in a CI run while other builds ran): up to three
# tries, each with a fresh profile.
shot() {  # shot URL PNG WIDTH HEIGHT
  local try
  for try in 1 2 3; do
    rm -rf "$profile"/*
    timeout 120 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars \
      --user-data-dir="$profile" --default-background-color=ffffffff \
      --window-size="$3,$4" --screenshot="$2" "$1" >/dev/null 2>&1 || true
    [ -s "$2" ] && return 0
    echo "   no screenshot $2 (try $try)" >&2
  done
  echo "FAIL: no screenshot $2" >&2
  exit 1
}

fail=0
# check PNG WIDTH HEIGHT MIN_COLOURED: size, spread of grey levels, and the
# share of saturated (coloured) pixels.
check() {
  local png=$1 w=$2 h=$3 min_colour=$4 size sd colour
  size=$(identify -format '%w %h' "$png")
  sd=$(convert "$png" -colorspace Gray -format '%[fx:standard_deviation]' info:)
  colour=$(convert "$png" -colorspace HSL -channel G -separate +channel -threshold 35% \
    -format '%[fx:mean]' info:)
  printf '   %-28s %s  grey spread %.3f  coloured %.4f\n' "$(basename "$png")" "$size" "$sd" "$colour"
  if [ "$size" != "$w $h" ]; then
    echo "FAIL: $png is $size, expected $w $h" >&2; fail=1
  fi
  if ! awk -v v="$sd" 'BEGIN { exit !(v > 0.02) }'; then
    echo "FAIL: $png is blank" >&2; fail=1
  fi
  if ! awk -v v="$colour" -v m="$min_colour" 'BEGIN { exit !(v >= m) }'; then
    echo "FAIL: $png shows no data (coloured share $colour < $min_colour)" >&2; fail=1
  fi
}

# figure HTML ID SVG: the <svg id="ID"> element of the page HTML alone in
# SVG; prints its width and height.
figure() {
  awk -v id="$2" '
    index($0, "<svg id=\"" id "\"") { on = 1 }
    on { line = $0; sub(/<\/figure>$/, "", line); print line }
    on && /<\/svg>/ { exit }' "$1" >"$3"
  local w h
  w=$(sed -n '1s/.* width="\([0-9]*\)".*/\1/p' "$3")
  h=$(sed -n '1s/.* height="\([0-9]*\)".*/\1/p' "$3")
  [ -n "$w" ] && [ -n "$h" ] || { echo "FAIL: figure $2 not found in $1" >&2; exit 1; }
  echo "$w $h"
}

# labels SVG NAME W H: Chromium lays out every text of the figure and a small
# script compares their boxes (getBBox, half a pixel of rounding allowed);
# the verdict is read back from the page's DOM, and the page, with each box
# outlined (red where two overlap), is screenshot as NAME-labels.png.
labels() {
  local svg=$1 name=$2 page=$out/$2-labels.html try dom verdict=""
  {
    echo '<!DOCTYPE html><html><head><meta charset="utf-8"></head><body style="margin:0">'
    cat "$svg"
    cat <<'SCRIPT'
<pre id="verdict">not measured</pre>
<script>
const svg = document.querySelector("svg");
const texts = Array.from(svg.querySelectorAll("text"));
const boxes = texts.map(t => t.getBBox());
const bad = [];
for (let i = 0; i < boxes.length; ++i) {
  for (let j = i + 1; j < boxes.length; ++j) {
    const a = boxes[i], b = boxes[j];
    if (a.x < b.x + b.width - 0.5 && b.x < a.x + a.width - 0.5 &&
        a.y < b.y + b.height - 0.5 && b.y < a.y + a.height - 0.5) {
      bad.push(texts[i].textContent + " / " + texts[j].textContent);
      texts[i].dataset.bad = texts[j].dataset.bad = "1";
    }
  }
}
texts.forEach((t, k) => {
  const b = boxes[k];
  const r = document.createElementNS("http://www.w3.org/2000/svg", "rect");
  r.setAttribute("x", b.x); r.setAttribute("y", b.y);
  r.setAttribute("width", b.width); r.setAttribute("height", b.height);
  r.setAttribute("fill", "none"); r.setAttribute("stroke-width", "0.5");
  r.setAttribute("stroke", t.dataset.bad ? "#ff0000" : "#0000ff");
  svg.appendChild(r);
});
document.getElementById("verdict").textContent =
  bad.length ? "OVERLAP " + bad.join(", ") : "LABELS CLEAR " + texts.length + " texts";
</script></body></html>
SCRIPT
  } >"$page"
  for try in 1 2 3; do
    rm -rf "$profile"/*
    dom=$(timeout 120 chromium --headless --no-sandbox --disable-gpu --user-data-dir="$profile" \
      --dump-dom "file://$page" 2>/dev/null || true)
    verdict=$(printf '%s\n' "$dom" | sed -n 's/.*<pre id="verdict">\([^<]*\)<\/pre>.*/\1/p')
    [ -n "$verdict" ] && break
    echo "   no layout of $page (try $try)" >&2
  done
  printf '   %-28s %s\n' "$name texts" "${verdict:-no verdict}"
  case $verdict in
    "LABELS CLEAR "*) ;;
    *) echo "FAIL: $name: texts of the figure overlap or were not measured: ${verdict:-none}" >&2; fail=1 ;;
  esac
  shot "file://$page" "$out/$name-labels.png" "$3" "$(($4 + 40))"
}

echo "== screenshot each figure"
# Least share of coloured pixels with data drawn: the skyplot's colour key
# alone covers 0.4 per cent of it.
declare -A min_colour=([skyplot]=0.008 [timeline]=0.002 [multipath]=0.002 [signal]=0.002)
for id in skyplot timeline multipath signal; do
  svg=$out/$id.svg
  read -r w h < <(figure "$html" "$id" "$svg")
  shot "file://$svg" "$out/$id.png" "$w" "$h"
  check "$out/$id.png" "$w" "$h" "${min_colour[$id]}"
done
labels "$out/skyplot.svg" bahr1620-skyplot 440 440

echo "== screenshot the page"
shot "file://$html" "$out/bahr1620.qc.png" 920 1900
check "$out/bahr1620.qc.png" 920 1900 0.01

echo "== gpb2rinex --qc-only on a synthetic day at 1 Hz"
"$build/tools/make_synthetic_gpb" "$out/day1hz.gpb" "$out/day1hz.epp" >/dev/null
"$build/cli/gpb2rinex" --qc-only "$out/day1hz.gpb"
day=$out/day1hz.qc.html
[ -s "$day" ] || { echo "FAIL: $day was not written" >&2; exit 1; }
python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$out/day1hz.qc.json" ||
  { echo "FAIL: day1hz.qc.json is not valid JSON" >&2; exit 1; }
read -r w h < <(figure "$day" skyplot "$out/day1hz-skyplot.svg")
shot "file://$out/day1hz-skyplot.svg" "$out/day1hz-skyplot.png" "$w" "$h"
# The synthetic tracks run low in the south: fewer coloured pixels than BAHR.
check "$out/day1hz-skyplot.png" "$w" "$h" 0.005
labels "$out/day1hz-skyplot.svg" day1hz-skyplot "$w" "$h"
shot "file://$day" "$out/day1hz.qc.png" 920 1900
check "$out/day1hz.qc.png" 920 1900 0.01
rm -f "$out/day1hz.gpb" "$out/day1hz.epp"

if [ "$fail" != 0 ]; then
  echo "quality report check FAILED (images in $out)" >&2
  exit 1
fi
echo "quality report check passed (images in $out)"
