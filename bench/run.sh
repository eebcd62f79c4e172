#!/usr/bin/env bash
# Throughput benchmark of gpb2rinex against what a user would use instead.
#
#   bash bench/run.sh [--large] [--compress-only] [--no-batch] [--sync-only] [--read-only]
#                     [--side-only]
#
# Builds a Release library, gpb2rinex and our data tools into build-bench/,
# makes two inputs with those tools
#   real       the real day ../shared/data/usno0200.05o (2880 epochs at 30 s)
#              as GPB, with brdc0200.05n as EPP;
#   synthetic  a synthetic day: 86,400 epochs at 1 Hz, 14 satellites, new
#              format, L1/L2, all eight observation types, with its EPP file;
# and times, as whole processes, the median of BENCH_RUNS runs (default 5):
#   rawconv    gpb2rinex converting the GPB file (RINEX 2.1 obs + nav);
#   convbin    RTKLIB's convbin converting the same content RINEX 2 -> 2.11
#              (the original file for "real", our output for "synthetic");
#   cp         cp of our observation file: the floor of writing those bytes;
#   rinex3     gpb2rinex --rinex 3.04 on the same input (with cp3, cp of its
#              observation file);
#   gz, crx, crx.gz
#              gpb2rinex --compress gz, crx and crx.gz on the same input;
#   gzip6      `gzip -6` of our plain observation file (what a user would
#              run instead of --compress gz), and gzip6-crx, `gzip -6` of our
#              Compact RINEX file (the size crx.gz is held to).
# The compressed rows are timed in the same run as the plain conversion and
# compared with it (times) and with gzip6-crx (size of the observation file):
# on the synthetic day crx.gz within 2 times the plain conversion and 1.05
# times the size of gzip6-crx, gz within 4 times the plain conversion.
# side-plain, side-crx.gz, rnx2crx-gzip6, side-cp: the plain conversion,
# --compress crx.gz, `rnx2crx - < ours | gzip -6` (the standard Compact
# RINEX tools, built from ../shared/tools/rnxcmp, on our plain file: what a
# user would run instead) and cp of our plain file, taking turns run by run;
# on the synthetic day crx.gz within 2 times plain, a quarter of the time of
# rnx2crx | gzip -6 and 1.05 times the size of its file, plain within 3
# times cp.
# --compress-only leaves out convbin and cp (convbin takes a minute a run).
# --side-only runs just the side-by-side rows and convbin on the synthetic
# day, and prints their targets.
# batch: 8 copies of the synthetic day under distinct names converted by one
# gpb2rinex -j 1 (one core) and one gpb2rinex -j 2; the throughput of -j 2
# against -j 1 (target 1.7 on a 2-core machine) with the core count; and,
# beside them, the same batch without -j (one file at a time, each using a
# second core). --no-batch leaves it
# out.
# BENCH_BASELINE=path/to/another/gpb2rinex adds it as "baseline" beside
# rawconv (same options), for before/after figures from one run.
# It prints epochs/s, MB/s of RINEX written and the peak resident memory of
# each, the ratios convbin/rawconv and rawconv/cp, and writes them to
# build-bench/bench/results.csv. --large also converts a GPB file of about
# 1 GB (10 Hz for 34 hours, about 2.4 GB of RINEX) to show that the memory
# does not grow with the file.
# Every rawconv row runs with --no-sync (cp and convbin do not flush either);
# the "sync" rows time a default run, which flushes each output to the disk
# before its rename, against --no-sync: on the synthetic day and on a batch
# of 100 copies of the one-hour sample (--sync-only runs just those).
# The times and memory figures come from bench/timeit.c (fork, exec, wait4).
# Before every timed run the previous output is deleted and the disk synced.
# read: the Python package reading the synthetic day, as whole processes
# taking turns, run by run, with `gpb2rinex --info` on it (which reads every
# epoch too): "read_gpb" (rawconv.read_gpb with its EPP file), "load"
# (rawconv.load, the xarray Dataset) and "python" (the interpreter importing
# rawconv and NumPy only: the part of both that is not reading); target
# read_gpb/info <= 2. --read-only runs just these.
# On a fresh Debian machine, run as root, it first installs what is missing
# (rtklib for convbin; NumPy and xarray for Debian's python3).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build-bench
work=$build/bench
. "$root/scripts/shared-data.sh"
find_shared_data "$root"
data=$RAWCONV_SHARED_DATA
runs=${BENCH_RUNS:-5}
cores=$(nproc 2>/dev/null || echo 1)
large=0
sync_only=0
read_only=0
compress_only=0
side_only=0
batch=1
for arg in "$@"; do
  case $arg in
    --large) large=1 ;;
    --compress-only) compress_only=1 ;;
    --no-batch) batch=0 ;;
    --sync-only) sync_only=1 ;;
    --read-only) read_only=1 ;;
    --side-only) side_only=1 ;;
    *) echo "usage: bash bench/run.sh [--large] [--compress-only] [--no-batch] [--sync-only]" \
         "[--read-only] [--side-only]" >&2
       exit 2 ;;
  esac
done

. "$root/scripts/ensure-tools.sh"
ensure_packages "cmd:cmake=cmake" "cmd:g++=g++" "cmd:cc=gcc" "cmd:convbin=rtklib" "cmd:gzip=gzip" \
  "file:/usr/bin/python3=python3" "file:/usr/lib/python3/dist-packages/numpy=python3-numpy" \
  "file:/usr/lib/python3/dist-packages/xarray=python3-xarray"

# The standard Compact RINEX tools: what a user compresses with otherwise.
build_rnxcmp "$build/rnxcmp"

echo "== build (Release) into build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRAWCONV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$cores" --target rawconv rawconv_api gpb2rinex rnx2gpb nav2epp \
  make_synthetic_gpb >/dev/null
gpb2rinex=$build/cli/gpb2rinex
# The throughput rows time the conversion's own work, as cp and convbin do
# theirs: without flushing to the disk (--no-sync). The cost of the flush,
# which a default run pays, is timed on its own (the "sync" rows).
rawconv=("$gpb2rinex" -q --no-sync)
# The timer: wall clock and peak memory of one whole process (wait4).
timeit=$build/timeit
cc -O2 -Wall -Wextra -Werror -o "$timeit" "$root/bench/timeit.c"

echo "== inputs"
rm -rf "$work"
mkdir -p "$work"
real_epochs=$("$build/tools/rnx2gpb" "$data/usno0200.05o" "$work/real.gpb" |
  sed -n 's/.*: \([0-9]*\) epochs.*/\1/p')
"$build/tools/nav2epp" "$data/brdc0200.05n" "$work/real.epp"
"$build/tools/make_synthetic_gpb" "$work/synthetic.gpb" "$work/synthetic.epp" >/dev/null
synthetic_epochs=86400
echo "real: $real_epochs epochs, $(stat -c %s "$work/real.gpb") bytes of GPB"
echo "synthetic: $synthetic_epochs epochs, $(stat -c %s "$work/synthetic.gpb") bytes of GPB"

# settle DIR: removes DIR (a previous run's output) and writes back
# earlier runs' dirty pages (sync), so that no run is slowed by the
# write-back of another's output.
settle() {
  rm -rf "$1"
  mkdir -p "$1"
  sync
}

# take_turns CALLBACK N NAME...: times the named commands in turn, run by
# run, N timed rounds after one untimed warm-up round (page cache, first
# touches), so that a slow spell of the machine falls on all of them alike.
# CALLBACK NAME sets TURN_CMD (the command, an array) and TURN_OUT (the
# folder it writes into, emptied before each run). Sets, per name,
# TURN_MEDIAN (seconds), TURN_RSS (peak resident kB, the largest of the
# runs), TURN_BYTES (bytes in its folder after the last run) and
# TURN_OBS_BYTES (those of the observation file: NAME.YYo, .YYd, either with
# .gz, or .obs*; not the quality reports beside it). A command that fails stops the benchmark.
declare -A TURN_MEDIAN TURN_RSS TURN_BYTES TURN_OBS_BYTES TURN_DIR
take_turns() {
  local callback=$1 n=$2 i name seconds kb code
  shift 2
  local -A times=() rss=()
  for ((i = 0; i <= n; i++)); do
    for name in "$@"; do
      "$callback" "$name"
      TURN_DIR[$name]=$TURN_OUT
      settle "$TURN_OUT"
      read -r seconds kb code < <("$timeit" "${TURN_CMD[@]}")
      if [ "$code" != 0 ]; then
        echo "failed (exit code $code): ${TURN_CMD[*]}" >&2
        exit 1
      fi
      [ "$i" -eq 0 ] && continue
      times[$name]+="$seconds "
      [ "$kb" -gt "${rss[$name]:-0}" ] && rss[$name]=$kb
    done
  done
  for name in "$@"; do
    TURN_MEDIAN[$name]=$(printf '%s\n' ${times[$name]} | sort -g | sed -n "$((n / 2 + 1))p")
    TURN_RSS[$name]=${rss[$name]}
    TURN_BYTES[$name]=$(find "${TURN_DIR[$name]}" -type f -printf '%s\n' |
      awk '{ n += $1 } END { print n + 0 }')
    TURN_OBS_BYTES[$name]=$(find "${TURN_DIR[$name]}" -type f \
      \( -name '*.[0-9][0-9][od]*' -o -name '*.obs*' \) ! -name '*.qc.*' -printf '%s\n' |
      awk '{ n += $1 } END { print n + 0 }')
  done
}

# measure OUTDIR COMMAND...: take_turns with one command, `runs` rounds;
# sets MEDIAN, RSS, BYTES and OBS_BYTES for record.
measure_command() {
  TURN_CMD=("${MEASURE_CMD[@]}")
  TURN_OUT=$MEASURE_OUT
}
measure() {
  MEASURE_OUT=$1
  shift
  MEASURE_CMD=("$@")
  take_turns measure_command "$runs" one
  use_turn one
}

# use_turn NAME: MEDIAN, RSS, BYTES and OBS_BYTES of NAME's turns, for record.
use_turn() {
  MEDIAN=${TURN_MEDIAN[$1]}
  RSS=${TURN_RSS[$1]}
  BYTES=${TURN_BYTES[$1]}
  OBS_BYTES=${TURN_OBS_BYTES[$1]}
}

csv=$work/results.csv
echo "input,tool,epochs,median_s,epochs_per_s,mb_written,mb_per_s,peak_rss_mb,runs,cores,obs_bytes" \
  >"$csv"
declare -A SECONDS_OF OBS_BYTES_OF
record() {  # input tool epochs
  local mb
  mb=$(awk -v b="$BYTES" 'BEGIN { printf "%.1f", b / 1e6 }')
  SECONDS_OF[$1/$2]=$MEDIAN
  OBS_BYTES_OF[$1/$2]=$OBS_BYTES
  awk -v input="$1" -v tool="$2" -v e="$3" -v s="$MEDIAN" -v mb="$mb" -v kb="$RSS" \
    -v runs="$runs" -v cores="$cores" -v obs="$OBS_BYTES" 'BEGIN {
      printf "%s,%s,%d,%.4f,%.0f,%.1f,%.1f,%.1f,%d,%d,%d\n", input, tool, e, s, e / s, mb, mb / s,
             kb / 1024, runs, cores, obs }' >>"$csv"
}

# side_by_side NAME EPOCHS OURS: the plain conversion, --compress crx.gz,
# what a user would run instead (`rnx2crx - < ours | gzip -6`, the standard
# tools on our plain file) and cp of our plain file, taking turns run by run,
# so that the ratios between them come from the same spell of the machine.
# Rows side-plain, side-crx.gz, rnx2crx-gzip6 and side-cp.
side_turn() {
  TURN_OUT=$SIDE_OUT/$1
  case $1 in
    side-plain) TURN_CMD=("${rawconv[@]}" --output-dir "$TURN_OUT" "$SIDE_GPB") ;;
    side-crx.gz) TURN_CMD=("${rawconv[@]}" --compress crx.gz --output-dir "$TURN_OUT" "$SIDE_GPB") ;;
    rnx2crx-gzip6)
      TURN_CMD=(sh -c '"$1" - <"$2" | gzip -6 >"$3"' sh "$RAWCONV_RNXCMP_DIR/rnx2crx" "$SIDE_OURS"
                "$TURN_OUT/$SIDE_NAME.obs.crx.gz") ;;
    side-cp) TURN_CMD=(cp "$SIDE_OURS" "$TURN_OUT/$SIDE_NAME.obs") ;;
  esac
}
side_by_side() {
  SIDE_NAME=$1 SIDE_GPB=$work/$1.gpb SIDE_OURS=$3 SIDE_OUT=$work/out
  echo "== $1: side by side: plain, --compress crx.gz, rnx2crx | gzip -6, cp"
  local names=(side-plain side-crx.gz rnx2crx-gzip6 side-cp) n
  take_turns side_turn "$runs" "${names[@]}"
  for n in "${names[@]}"; do
    use_turn "$n"
    record "$1" "$n" "$2"
  done
}

bench_input() {  # name epochs original-rinex-or-empty
  local name=$1 epochs=$2 original=$3 out=$work/out
  echo "== $name: rawconv"
  measure "$out/rawconv" "${rawconv[@]}" --output-dir "$out/rawconv" "$work/$name.gpb"
  record "$name" rawconv "$epochs"
  if [ -n "${BENCH_BASELINE:-}" ]; then
    echo "== $name: baseline"
    measure "$out/baseline" "$BENCH_BASELINE" -q --output-dir "$out/baseline" "$work/$name.gpb"
    record "$name" baseline "$epochs"
  fi
  # Keep our output as the input of convbin, cp and gzip.
  local ours=$work/$name.ours.obs
  cp "$out/rawconv/$name".*o "$ours"
  local kind
  for kind in gz crx crx.gz; do
    echo "== $name: --compress $kind"
    measure "$out/$kind" "${rawconv[@]}" --compress "$kind" --output-dir "$out/$kind" \
      "$work/$name.gpb"
    record "$name" "$kind" "$epochs"
  done
  echo "== $name: gzip -6"
  measure "$out/gzip6" sh -c 'gzip -6 -c "$1" >"$2"' sh "$ours" "$out/gzip6/$name.obs.gz"
  record "$name" gzip6 "$epochs"
  local crx_file
  crx_file=$(find "$out/crx" -name "$name.*d")
  cp "$crx_file" "$work/$name.ours.crx"
  echo "== $name: gzip -6 of our Compact RINEX"
  measure "$out/gzip6-crx" sh -c 'gzip -6 -c "$1" >"$2"' sh "$work/$name.ours.crx" \
    "$out/gzip6-crx/$name.obs.crx.gz"
  record "$name" gzip6-crx "$epochs"
  side_by_side "$name" "$epochs" "$ours"
  [ "$compress_only" = 1 ] && return
  local in=${original:-$ours}
  echo "== $name: convbin"
  measure "$out/convbin" convbin -r rinex -v 2.11 -od -os -o "$out/convbin/$name.obs" "$in"
  record "$name" convbin "$epochs"
  echo "== $name: cp"
  measure "$out/cp" cp "$ours" "$out/cp/$name.obs"
  record "$name" cp "$epochs"
  echo "== $name: --rinex 3.04"
  measure "$out/rinex3" "${rawconv[@]}" --rinex 3.04 --output-dir "$out/rinex3" "$work/$name.gpb"
  record "$name" rinex3 "$epochs"
  local ours3=$work/$name.ours3.obs
  cp "$out/rinex3/$name".*o "$ours3"
  echo "== $name: cp of the RINEX 3 file"
  measure "$out/cp3" cp "$ours3" "$out/cp3/$name.obs"
  record "$name" cp3 "$epochs"
}

# targets_side: the side-by-side targets on the synthetic day (with convbin
# when it was timed), from results.csv.
targets_side() {
  awk -F, -v cores="$cores" -v c="${SECONDS_OF[synthetic/convbin]:-}" '
  $1 == "synthetic" && $2 == "side-plain" { sp = $4 }
  $1 == "synthetic" && $2 == "side-crx.gz" { sc = $4; sc_bytes = $11 }
  $1 == "synthetic" && $2 == "rnx2crx-gzip6" { su = $4; su_bytes = $11 }
  $1 == "synthetic" && $2 == "side-cp" { scp = $4 }
  END {
    printf "side by side (one run, medians, %d cores): plain %.3f s, crx.gz %.3f s," \
           " rnx2crx | gzip -6 %.3f s, cp %.3f s\n", cores, sp, sc, su, scp
    printf "target crx.gz/plain <= 2:     %.2f  %s\n", sc / sp, ((sc / sp <= 2) ? "met" : "MISSED")
    printf "target crx.gz/(rnx2crx | gzip -6) <= 0.25: %.3f  %s\n", sc / su,
           ((sc / su <= 0.25) ? "met" : "MISSED")
    printf "target crx.gz/(rnx2crx | gzip -6) size <= 1.05: %.3f (%d / %d bytes)  %s\n",
           sc_bytes / su_bytes, sc_bytes, su_bytes, ((sc_bytes / su_bytes <= 1.05) ? "met" : "MISSED")
    printf "target plain/cp <= 3:         %.2f  %s\n", sp / scp, ((sp / scp <= 3) ? "met" : "MISSED")
    if (c != "")
      printf "target convbin/plain >= 80:   %.1f (convbin %.3f s)  %s\n", c / sp, c,
             ((c / sp >= 80) ? "met" : "MISSED")
  }' "$csv"
}

if [ "$side_only" = 1 ]; then
  mkdir -p "$work/out/side-first"
  "${rawconv[@]}" --output-dir "$work/out/side-first" "$work/synthetic.gpb"
  cp "$work/out/side-first/synthetic".*o "$work/synthetic.ours.obs"
  side_by_side synthetic "$synthetic_epochs" "$work/synthetic.ours.obs"
  echo "== synthetic: convbin"
  measure "$work/out/convbin" convbin -r rinex -v 2.11 -od -os -o "$work/out/convbin/synthetic.obs" \
    "$work/synthetic.ours.obs"
  record synthetic convbin "$synthetic_epochs"
  echo
  echo "rawconv benchmark: median of $runs runs, whole processes, $cores cores"
  awk -F, 'NR == 1 { next }
    { printf "%-10s %-13s %8.3f s %10.0f epochs/s %8.1f MB RSS %11d obs bytes\n", $1, $2, $4, $5, $8, $11 }' "$csv"
  targets_side
  echo "figures: $csv"
  exit 0
fi

# --- durable commits: the cost of flushing outputs to the disk -------------
# Each output is flushed (fsync) before its rename and its folder after;
# --no-sync leaves that out. Timed alternately, run by run, on the synthetic
# day and on a batch of 100 small files (copies of the shipped one-hour
# sample, one process), the default against --no-sync ("sync" rows in
# results.csv; the ratios are printed at the end).
# --- reading from Python: read_gpb and load against gpb2rinex --info ------
READ_LINES=()
read_command() {  # info | read_gpb | load | python
  TURN_OUT=$work/out/read-$1
  local script
  case $1 in
    info) TURN_CMD=("$gpb2rinex" --info "$work/synthetic.gpb"); return ;;
    read_gpb) script='import rawconv, sys; rawconv.read_gpb(sys.argv[1], epp=sys.argv[2])' ;;
    load) script='import rawconv, sys; rawconv.load(sys.argv[1], epp=sys.argv[2])' ;;
    python) script='import rawconv, numpy' ;;
  esac
  TURN_CMD=(env "RAWCONV_LIBRARY=$build/lib/librawconv_api.so.1" "PYTHONPATH=$root/python"
    /usr/bin/python3 -c "$script" "$work/synthetic.gpb" "$work/synthetic.epp")
}
bench_read() {
  echo "== synthetic: read_gpb, load and python against gpb2rinex --info, alternating"
  take_turns read_command "$runs" info read_gpb load python
  local name
  for name in info read_gpb load python; do
    use_turn "$name"
    record synthetic "$name" "$synthetic_epochs"
  done
  READ_LINES+=("$(awk -v i="${TURN_MEDIAN[info]}" -v r="${TURN_MEDIAN[read_gpb]}" \
    -v l="${TURN_MEDIAN[load]}" -v p="${TURN_MEDIAN[python]}" -v cores="$cores" 'BEGIN {
    printf "read      synthetic --info %.3f s, read_gpb %.3f s, load %.3f s, python alone %.3f s (%d cores)\n",
           i, r, l, p, cores
    printf "target synthetic read_gpb/info <= 2: %.2f  %s", r / i, ((r / i <= 2) ? "met" : "MISSED") }')")
}
if [ "$read_only" = 1 ]; then
  bench_read
  echo
  echo "rawconv benchmark: median of $runs runs, whole processes, $cores cores"
  printf '%s\n' "${READ_LINES[@]}"
  echo "figures: $csv"
  exit 0
fi
# ---------------------------------------------------------------------------

SYNC_LINES=()
mkdir -p "$work/small"
for i in $(seq -w 1 100); do
  cp "$root/examples/sample.gpb" "$work/small/s$i.gpb"
  cp "$root/examples/sample.epp" "$work/small/s$i.epp"
done
sync_command() {  # sync | nosync, of SYNC_INPUT
  TURN_OUT=$work/out/sync-$1
  TURN_CMD=("$gpb2rinex" -q --output-dir "$TURN_OUT")
  if [ "$1" = nosync ]; then TURN_CMD+=(--no-sync); fi
  if [ "$SYNC_INPUT" = small100 ]; then
    TURN_CMD+=("$work/small/"s*.gpb)
  else
    TURN_CMD+=("$work/$SYNC_INPUT.gpb")
  fi
}
bench_sync() {  # input epochs
  local name=$1 epochs=$2
  echo "== $name: outputs synced against --no-sync, alternating"
  SYNC_INPUT=$name
  take_turns sync_command "$runs" sync nosync
  use_turn sync
  record "$name" sync "$epochs"
  use_turn nosync
  record "$name" nosync "$epochs"
  SYNC_LINES+=("$(awk -v input="$name" -v s="${TURN_MEDIAN[sync]}" -v n="${TURN_MEDIAN[nosync]}" \
    'BEGIN { printf "sync      %-9s synced %.3f s, --no-sync %.3f s: %+.1f%%", input, s, n,
             100 * (s - n) / n }')")
}
bench_sync synthetic "$synthetic_epochs"
bench_sync small100 $((100 * 120))
if [ "$sync_only" = 1 ]; then
  echo
  echo "rawconv benchmark: median of $runs runs, whole processes, $cores cores"
  printf '%s\n' "${SYNC_LINES[@]}"
  echo "figures: $csv"
  exit 0
fi
# ---------------------------------------------------------------------------

bench_input real "$real_epochs" "$data/usno0200.05o"
bench_input synthetic "$synthetic_epochs" ""
bench_read

# --- quality check: gpb2rinex --qc against the plain conversion -----------
# gpb2rinex --qc (the three reports beside the RINEX files) and the plain
# conversion are timed alternately, run by run, so that the machine's load
# falls on both alike; the ratio of the medians is held to 1.5 and printed
# with the targets at the end ("qc" rows in results.csv).
QC_LINES=()
qc_command() {  # plain | qc, of QC_INPUT
  TURN_OUT=$work/out/qc-$1
  TURN_CMD=("${rawconv[@]}" --output-dir "$TURN_OUT" "$work/$QC_INPUT.gpb")
  if [ "$1" = qc ]; then TURN_CMD+=(--qc); fi
}
bench_qc() {  # input epochs
  local name=$1 epochs=$2
  echo "== $name: --qc against plain, alternating"
  QC_INPUT=$name
  take_turns qc_command "$runs" plain qc
  use_turn qc
  record "$name" qc "$epochs"
  QC_LINES+=("$(awk -v input="$name" -v p="${TURN_MEDIAN[plain]}" -v q="$MEDIAN" 'BEGIN {
    printf "target %-9s --qc/plain <= 1.5: %.2f (%.3f s / %.3f s)  %s", input, q / p, q, p,
           ((q / p <= 1.5) ? "met" : "MISSED") }')")
}
bench_qc real "$real_epochs"
bench_qc synthetic "$synthetic_epochs"
# ---------------------------------------------------------------------------

if [ "$large" = 1 ]; then
  echo "== large: 1,240,000 epochs at 10 Hz"
  "$build/tools/make_synthetic_gpb" --epochs 1240000 --interval 0.1 "$work/large.gpb" \
    "$work/large.epp" >/dev/null
  echo "large: $(stat -c %s "$work/large.gpb") bytes of GPB"
  saved_runs=$runs
  runs=1
  measure "$work/out/rawconv" "${rawconv[@]}" --output-dir "$work/out/rawconv" "$work/large.gpb"
  record large rawconv 1240000
  runs=$saved_runs
  rm -f "$work/large.gpb" "$work/out/rawconv/"*
fi

if [ "$batch" = 1 ]; then
  # One process converting eight copies of the day, each under its own name
  # (nothing shared but the disk), with one and with two parallel jobs (one
  # core and two), and without -j (one file at a time, using the second core
  # for reading and writing).
  echo "== batch: 8 synthetic days, -j 1, -j 2 and no -j"
  mkdir -p "$work/batch"
  for i in 1 2 3 4 5 6 7 8; do
    cp "$work/synthetic.gpb" "$work/batch/day$i.gpb"
    cp "$work/synthetic.epp" "$work/batch/day$i.epp"
  done
  # The three take turns, run by run (at least 7 runs each), so that a slow
  # spell of the machine's disk or memory falls on all of them rather than
  # on one.
  batch_command() {  # j1 | j2 | default
    TURN_OUT=$work/out/batch-$1
    case $1 in
      j1) TURN_CMD=("${rawconv[@]}" -j 1) ;;
      j2) TURN_CMD=("${rawconv[@]}" -j 2) ;;
      default) TURN_CMD=("${rawconv[@]}") ;;
    esac
    TURN_CMD+=(--output-dir "$TURN_OUT" "$work/batch/"day?.gpb)
  }
  batch_runs=$((runs > 7 ? runs : 7))
  take_turns batch_command "$batch_runs" j1 j2 default
  saved_runs=$runs
  runs=$batch_runs
  for variant in j1 j2 default; do
    use_turn "$variant"
    record batch8 "$variant" $((8 * synthetic_epochs))
    rm -rf "$work/out/batch-$variant"
  done
  runs=$saved_runs
fi

echo
echo "rawconv benchmark: median of $runs runs, whole processes, $cores cores"
awk -F, 'NR == 1 { next }
  { printf "%-10s %-9s %9d epochs %8.3f s %10.0f epochs/s %8.1f MB %8.1f MB/s %6.1f MB RSS %11d obs bytes\n",
           $1, $2, $3, $4, $5, $6, $7, $8, $11 }' "$csv"
echo
ratios() {  # input
  local r=${SECONDS_OF[$1/rawconv]} c=${SECONDS_OF[$1/convbin]:-} p=${SECONDS_OF[$1/cp]:-}
  [ -n "$c" ] && awk -v input="$1" -v r="$r" -v c="$c" -v p="$p" 'BEGIN {
    printf "%-10s convbin/rawconv %6.1fx   rawconv/cp %5.1fx\n", input, c / r, r / p }'
  # RINEX 3 and crx.gz beside the plain RINEX 2.1 conversion: against
  # convbin (same content) and cp (of the plain RINEX 2.1 file; RINEX 3 also
  # against cp of its own file).
  local kind t
  if [ -n "$c" ]; then
    for kind in rinex3 crx.gz; do
      t=${SECONDS_OF[$1/$kind]}
      awk -v input="$1" -v kind="$kind" -v t="$t" -v c="$c" -v p="$p" \
        -v p3="${SECONDS_OF[$1/cp3]:-}" 'BEGIN {
        printf "%-10s convbin/%-7s %6.1fx   %s/cp %5.1fx", input, kind, c / t, kind, t / p
        if (kind == "rinex3" && p3 != "") printf "   rinex3/cp3 %5.1fx", t / p3
        printf "\n" }'
    done
  fi
  for kind in gz crx crx.gz gzip6 gzip6-crx; do
    awk -v input="$1" -v kind="$kind" -v r="$r" -v t="${SECONDS_OF[$1/$kind]}" \
      -v b="${OBS_BYTES_OF[$1/$kind]}" -v plain="${OBS_BYTES_OF[$1/rawconv]}" 'BEGIN {
      printf "%-10s %-9s time %5.2fx the plain conversion, observation file %6.3f of plain\n",
             input, kind, t / r, b / plain }'
  done
}
ratios real
ratios synthetic
if [ "$batch" = 1 ]; then
  awk -v j1="${SECONDS_OF[batch8/j1]}" -v j2="${SECONDS_OF[batch8/j2]}" -v cores="$cores" \
    -v d="${SECONDS_OF[batch8/default]}" 'BEGIN {
    printf "batch8     -j 1 %.3f s, -j 2 %.3f s: throughput -j 2 / -j 1 %.2fx on %d cores\n",
           j1, j2, j1 / j2, cores
    printf "batch8     without -j %.3f s: -j 2 / no -j %.2fx\n", d, d / j2 }'
fi
echo
# Targets on the synthetic day: 80 times convbin, within 3 times cp, peak
# memory below 16 MB; compressed outputs as described at the top; -j 2 on
# the batch at least 1.7 times the throughput of -j 1 (2 cores).
awk -F, -v c="${SECONDS_OF[synthetic/convbin]:-}" -v p="${SECONDS_OF[synthetic/cp]:-}" \
  -v j1="${SECONDS_OF[batch8/j1]:-}" -v j2="${SECONDS_OF[batch8/j2]:-}" -v cores="$cores" '
  $1 != "real" && $2 == "rawconv" && $8 > worst { worst = $8 }
  $1 == "synthetic" && $2 == "rawconv" { r = $4 }
  $1 == "synthetic" && $2 == "gz" { gz = $4 }
  $1 == "synthetic" && $2 == "crx.gz" { cg = $4; cg_bytes = $11 }
  $1 == "synthetic" && $2 == "gzip6-crx" { g6_bytes = $11 }
  END {
    if (c != "") {
      printf "target convbin/rawconv >= 80: %.1f  %s\n", c / r, ((c / r >= 80) ? "met" : "MISSED")
      printf "target rawconv/cp <= 3:       %.1f  %s\n", r / p, ((r / p <= 3) ? "met" : "MISSED")
    }
    printf "target peak RSS < 16 MB:      %.1f  %s\n", worst, ((worst < 16) ? "met" : "MISSED")
    printf "target crx.gz/rawconv <= 2:   %.2f  %s\n", cg / r, ((cg / r <= 2) ? "met" : "MISSED")
    printf "target crx.gz/gzip6-crx size <= 1.05: %.3f  %s\n", cg_bytes / g6_bytes,
           ((cg_bytes / g6_bytes <= 1.05) ? "met" : "MISSED")
    printf "target gz/rawconv <= 4:       %.2f  %s\n", gz / r, ((gz / r <= 4) ? "met" : "MISSED")
    if (j1 != "" && j2 != "")
      printf "target batch -j 2/-j 1 >= 1.7: %.2f  %s (%d cores)\n", j1 / j2,
             ((j1 / j2 >= 1.7) ? "met" : "MISSED"), cores
  }' "$csv"
targets_side
printf '%s\n' "${QC_LINES[@]}"
printf '%s\n' "${READ_LINES[@]}"
printf '%s\n' "${SYNC_LINES[@]}"
echo "figures: $csv"
