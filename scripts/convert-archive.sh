#!/usr/bin/env bash
# Converts one share of a list of GPB files: the task's part of a whole
# archive. Written for a Slurm array job; it runs as well by hand, under GNU
# parallel, or under any scheduler that gives each task a number.
#
#   sbatch --array=0-99 --cpus-per-task=8 scripts/convert-archive.sh LIST [gpb2rinex options...]
#   TASK_ID=3 TASK_COUNT=10 bash scripts/convert-archive.sh LIST [options...]
#
# LIST holds one GPB path a line (blank lines are ignored). Task k of n takes
# the lines k, k+n, k+2n, ... (counting from 0), so every share holds files
# from all over the list and the shares stay even when the list is sorted by
# size or date. The task's files go to one gpb2rinex process with
# --skip-existing -j N (N: the task's CPUs), read from standard input with
# --from-list -; any further arguments are passed on (for example
# "-o DIR --rinex 3.04 --names long --compress crx.gz").
#
# Running the same array again is the retry: files already converted are
# skipped, and only those that failed (or whose task was stopped) are
# converted. A task that is cancelled or reaches its time limit gets SIGTERM:
# the script then waits for gpb2rinex, which cancels the conversions under
# way and removes their partial files, so the task ends with finished
# outputs only (the scheduler's grace time, Slurm's KillWait, must cover
# one conversion). A task killed outright (SIGKILL, a node lost) leaves at
# most temporary "NAME.part-XXXXXX" and "NAME.old-XXXXXX" files beside the
# outputs, never a cut output; the next run of the same task removes those
# of its own outputs (named by a dry run) before converting. So one task
# must not run twice at once; different tasks never touch each other's
# files, in shared folders too.
#
# The exit code is gpb2rinex's: 0 all converted or skipped, 1 some files
# failed (their lines are on stderr, the task's log), 2 bad arguments, 143
# (or 130) stopped by SIGTERM (SIGINT).
#
# Environment: TASK_ID / TASK_COUNT (default: Slurm's SLURM_ARRAY_TASK_ID
# less SLURM_ARRAY_TASK_MIN and SLURM_ARRAY_TASK_COUNT, else 0 and 1), JOBS
# (default SLURM_CPUS_PER_TASK, else the cores of the machine), GPB2RINEX
# (default: gpb2rinex on the PATH).
#SBATCH --job-name=gpb2rinex
#SBATCH --output=gpb2rinex-%A_%a.log
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 LIST [gpb2rinex options...]" >&2
  exit 2
fi
list=$1
shift
if [ ! -r "$list" ]; then
  echo "$0: cannot read the file list $list" >&2
  exit 2
fi

task=${TASK_ID:-$(( ${SLURM_ARRAY_TASK_ID:-0} - ${SLURM_ARRAY_TASK_MIN:-0} ))}
tasks=${TASK_COUNT:-${SLURM_ARRAY_TASK_COUNT:-1}}
jobs=${JOBS:-${SLURM_CPUS_PER_TASK:-$(nproc 2>/dev/null || echo 1)}}
tool=${GPB2RINEX:-gpb2rinex}
if ! [ "$tasks" -ge 1 ] 2>/dev/null || ! [ "$task" -ge 0 ] 2>/dev/null || [ "$task" -ge "$tasks" ]; then
  echo "$0: task $task of $tasks is not a task of this array" >&2
  exit 2
fi
[ "$jobs" -gt 64 ] && jobs=64

share() { awk -v n="$tasks" -v k="$task" 'NF && (c++ % n) == k' "$list"; }

# Leftovers of an earlier run of this task that was killed outright.
share | "$tool" --dry-run "$@" --from-list - 2>/dev/null |
  while IFS= read -r out; do
    rm -f -- "$out".part-?????? "$out".old-??????
  done || true

# gpb2rinex runs in the background so that this shell, stopped by the
# scheduler, waits for it to clean up rather than ending the task at once
# (when the task's shell ends, the scheduler kills what is left). The stop
# is passed on as SIGINT, for schedulers that signal the shell alone; when
# gpb2rinex was signalled too (Slurm signals every process of the task),
# it takes the two as one stop, as they come within a second.
share | "$tool" --skip-existing -j "$jobs" "$@" --from-list - &
pid=$!
trap 'kill -INT "$pid" 2>/dev/null || true' TERM INT
rc=0
wait "$pid" || rc=$?
while kill -0 "$pid" 2>/dev/null; do
  rc=0
  wait "$pid" || rc=$?
done
exit "$rc"
