#!/usr/bin/env bash
# GNU parallel stage: the README's command, the list of an archive fed in
# chunks (--pipe -N) to gpb2rinex on local "hosts" (-S 2/:), on the archive
# of the Slurm stage (200 small recordings and three damaged files):
#   1. the whole list;
#   2. from empty again, parallel stopped in the middle with SIGTERM (it
#      stops its running chunks with --termseq);
#   3. the same command again.
# After 1 and 3 every output exists once, alike a single-process run, no
# temporary file is left, the damaged files are in the log and each chunk's
# exit code (parallel's job log) is 1 when it holds a failing file, else 0.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${RAWCONV_BUILD:-$root/build}

. "$root/scripts/ensure-tools.sh"
ensure_packages "cmd:parallel=parallel"
cmake --build "$build" -j 2 --target gpb2rinex make_synthetic_gpb >/dev/null

tmp=$(mktemp -d "${TMPDIR:-/tmp}/rawconv-parallel.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
. "$root/scripts/archive-checks.sh"
fail() { echo "test-parallel: $*" >&2; exit 1; }

echo "== parallel: make the archive and the single-process run"
make_archive "$tmp/a" "$build"
list=$tmp/a/all.txt
chunk=50
# As in the README, with the local host twice in place of the nodes, and
# one core a job. A stopped parallel stops its running jobs with its
# --termseq: here one SIGINT, and time for gpb2rinex to remove its partial
# files (parallel's default ends in SIGKILL within 400 ms).
command=(parallel --will-cite --pipe -N "$chunk" -S 2/: --termseq INT,30000,KILL,25
  "$build/cli/gpb2rinex" --skip-existing -q -j 1 --fixed-run-date "$ARCHIVE_RUN_DATE" --from-list -)
convert() { "${command[@]:0:2}" --joblog "$1" "${command[@]:2}" <"$list"; }

# Each chunk's exit code: 1 for the chunks holding a failing file.
check_chunks() {
  local joblog=$1 expect
  expect=$(for f in $ARCHIVE_FAILING; do
    awk -v n="$chunk" -v f="/$f" 'substr($0, length($0) - length(f) + 1) == f { print int((NR - 1) / n) + 1 }' "$list"
  done | sort -u)
  awk 'NR > 1 { print $1, $7, $8 }' "$joblog" | sort -n | while read -r seq code sig; do
    if grep -qx "$seq" <<<"$expect"; then want=1; else want=0; fi
    [ "$code" = "$want" ] && [ "$sig" = 0 ] || fail "chunk $seq ended with $code (signal $sig), not $want"
  done
  local chunks
  chunks=$(awk 'NF' "$list" | wc -l)
  [ "$(awk 'NR > 1' "$joblog" | wc -l)" = $(((chunks + 1 + chunk - 1) / chunk)) ] ||
    fail "the job log holds $(awk 'NR > 1' "$joblog" | wc -l) chunks"
}

# --- 1. the whole list -------------------------------------------------------------
echo "== parallel: --pipe -N $chunk -S 2/:"
rc=0
convert "$tmp/joblog-1" 2>"$tmp/log-1" || rc=$?
[ "$rc" = 2 ] || fail "parallel ended with $rc, not 2 (two chunks failed)"
check_outputs "$tmp/a"
check_damaged_reported "$tmp/log-1"
check_chunks "$tmp/joblog-1"

# --- 2. stopped in the middle ------------------------------------------------------
echo "== parallel: stopped in the middle"
clean_outputs "$tmp/a"
# A simple command, so that $! is parallel itself.
"${command[@]:0:2}" --joblog "$tmp/joblog-2" "${command[@]:2}" <"$list" 2>"$tmp/log-2" &
pid=$!
stopped=
for _ in $(seq 600); do
  n=$(find "$tmp/a/tree" -name '*.05o' | wc -l)
  if [ "$n" -ge 20 ]; then
    kill -TERM "$pid"
    stopped=$n
    break
  fi
  sleep 0.02
done
wait "$pid" || true
[ -n "$stopped" ] || fail "no progress to stop"
# parallel ends when its job wrappers end, which may be a moment before a
# stopped gpb2rinex has removed its partial files.
for _ in $(seq 100); do
  pgrep -f "^$build/cli/gpb2rinex " >/dev/null || break
  sleep 0.1
done
pgrep -f "^$build/cli/gpb2rinex " >/dev/null && fail "gpb2rinex still runs 10 s after parallel ended"
n=$(find "$tmp/a/tree" -name '*.05o' | wc -l)
[ "$n" -lt $((ARCHIVE_GOOD + 1)) ] || fail "parallel converted everything before it was stopped"
left=$(find "$tmp/a/tree" \( -name '*.part-*' -o -name '*.old-*' \) | wc -l)
echo "   stopped with $n of $((ARCHIVE_GOOD + 1)) recordings converted; $left temporary files left"
[ "$left" = 0 ] || fail "the stopped chunks left temporary files"

# --- 3. the same command again -----------------------------------------------------
echo "== parallel: the same command again"
rc=0
convert "$tmp/joblog-3" 2>"$tmp/log-3" || rc=$?
[ "$rc" = 2 ] || fail "parallel ended with $rc, not 2 (two chunks failed)"
check_outputs "$tmp/a"
check_damaged_reported "$tmp/log-1" "$tmp/log-2" "$tmp/log-3"
check_chunks "$tmp/joblog-3"
echo "== parallel: passed"
