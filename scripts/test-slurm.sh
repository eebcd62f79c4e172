#!/usr/bin/env bash
# Slurm stage: starts a one-node Slurm cluster on this machine (munged,
# slurmctld and slurmd in a temporary folder, 2 CPUs) and runs the README's
# archive recipe, scripts/convert-archive.sh as an array job, on 200 small
# recordings and three damaged files:
#   1. an array of 4 tasks with --cpus-per-task=1, then with 2 (from empty);
#   2. from empty again, one task cancelled with scancel in the middle of
#      its share, one interrupted (SIGINT to all its processes) and one killed
#      outright (SIGKILL);
#   3. the same array submitted again.
# After 1 and 3 every output exists once, alike a single-process run, no
# temporary file is left, the damaged files are in the task logs and each
# task's exit code is 1 when its share holds a failing file, else 0. While
# the tasks of 1 CPU run, their gpb2rinex processes are sampled from /proc:
# each must be confined to one CPU, run with -j 1 and never hold more than
# one conversion thread besides its main thread (which hands out the files
# and prints the results). Everything started here is stopped on exit.
# Prints the figures of the README: files a second per core, and the time
# to redo after the cancel.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${RAWCONV_BUILD:-$root/build}

. "$root/scripts/ensure-tools.sh"
ensure_packages "cmd:slurmctld=slurm-wlm" "cmd:munged=munge"
cmake --build "$build" -j 2 --target gpb2rinex make_synthetic_gpb >/dev/null

tmp=$(mktemp -d "${TMPDIR:-/tmp}/rawconv-slurm.XXXXXX")
pids=()
stop_all() {
  local pid
  # Jobs of this cluster still running (after a failed check) go first, so
  # that no task outlives its slurmd.
  if [ -n "${SLURM_CONF:-}" ] && [ "${#pids[@]}" -ge 3 ]; then
    scancel --partition=main 2>/dev/null || true
    for _ in $(seq 50); do
      [ -z "$(squeue -h 2>/dev/null)" ] && break
      sleep 0.1
    done
  fi
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
trap stop_all EXIT
trap 'exit 143' TERM INT

. "$root/scripts/archive-checks.sh"
fail() { echo "test-slurm: $*" >&2; exit 1; }

# --- the cluster -------------------------------------------------------------
# Daemons run as this user in the foreground (-D, -F) so that their process
# ids are ours to stop. Ports apart from Slurm's usual ones, so that a
# machine's own cluster is not disturbed.
echo "== slurm: start munged, slurmctld, slurmd in $tmp"
mkdir -p "$tmp/munge" "$tmp/state" "$tmp/spool" "$tmp/work"
chmod 700 "$tmp/munge"
head -c 1024 /dev/urandom >"$tmp/munge/munge.key"
chmod 400 "$tmp/munge/munge.key"
munged -F --force --socket="$tmp/munge/socket" --key-file="$tmp/munge/munge.key" \
  --pid-file="$tmp/munge/munged.pid" --log-file="$tmp/munge/munged.log" \
  --seed-file="$tmp/munge/seed" >"$tmp/munge/munged.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$tmp/munge/socket" ] && break; sleep 0.1; done
[ -S "$tmp/munge/socket" ] || fail "munged did not start: $(cat "$tmp/munge/munged.log")"

host=$(hostname -s)
user=$(id -un)
port=$((17000 + $$ % 1000 * 2))
# proctrack/linuxproc tracks a task's processes by their parents and
# task/affinity binds each task to the CPUs it was given (sched_setaffinity):
# neither needs cgroups or systemd.
cat >"$tmp/slurm.conf" <<EOF
ClusterName=rawconv
SlurmctldHost=$host
SlurmUser=$user
SlurmdUser=$user
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$tmp/munge/socket
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/affinity
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/backfill
MpiDefault=none
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MinJobAge=600
KillWait=30
NodeName=$host CPUs=2 Sockets=1 CoresPerSocket=2 ThreadsPerCore=1 RealMemory=1000 State=UNKNOWN
PartitionName=main Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$tmp/slurm.conf
slurmctld -D -i -f "$SLURM_CONF" >"$tmp/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" >"$tmp/slurmd.out" 2>&1 &
pids+=($!)
state=
for _ in $(seq 300); do
  state=$(sinfo -h -n "$host" -o %t 2>/dev/null || true)
  [ "$state" = idle ] && break
  sleep 0.2
done
[ "$state" = idle ] || {
  tail -20 "$tmp/slurmctld.log" "$tmp/slurmd.log" >&2 || true
  fail "the node is not idle (state: ${state:-none})"
}

# --- the archive -------------------------------------------------------------
echo "== slurm: make the archive and the single-process run"
make_archive "$tmp/a" "$build"
list=$tmp/a/all.txt
export GPB2RINEX=$build/cli/gpb2rinex
recipe=("$root/scripts/convert-archive.sh" "$list" --fixed-run-date "$ARCHIVE_RUN_DATE")

# Samples the gpb2rinex processes every 20 ms while it runs: process id,
# threads, allowed CPUs, the task's CPUs and the command line, one a line.
sample_threads() {
  local out=$1 p comm status threads cpus env cmd
  while [ -e "$tmp/sampling" ]; do
    for p in /proc/[0-9]*; do
      { read -r comm <"$p/comm"; } 2>/dev/null || continue
      [ "$comm" = gpb2rinex ] || continue
      status=$(cat "$p/status" 2>/dev/null) || continue
      threads=$(sed -n 's/^Threads:[[:space:]]*//p' <<<"$status")
      cpus=$(sed -n 's/^Cpus_allowed_list:[[:space:]]*//p' <<<"$status")
      env=$({ tr '\0' '\n' <"$p/environ"; } 2>/dev/null | sed -n 's/^SLURM_CPUS_PER_TASK=//p') || continue
      cmd=$({ tr '\0' ' ' <"$p/cmdline"; } 2>/dev/null) || continue
      case $cmd in *--dry-run*) continue ;; esac
      echo "${p#/proc/} $threads $cpus ${env:-none} $cmd"
    done
    sleep 0.02
  done >"$out"
}

# Task exit codes of an array job, "task code signal" a line, from slurmctld.
task_codes() {
  scontrol -o show job "$1" | sed -n 's/.*ArrayTaskId=\([0-9]*\) .*ExitCode=\([0-9]*\):\([0-9]*\).*/\1 \2 \3/p' | sort -n
}

check_codes() {
  local job=$1 expect task code sig
  expect=$(failing_shares "$list" 4)
  while read -r task code sig; do
    if grep -qx "$task" <<<"$expect"; then want=1; else want=0; fi
    [ "$code" = "$want" ] && [ "$sig" = 0 ] ||
      fail "task $task of job $job ended with $code:$sig, not $want"
  done < <(task_codes "$job")
  [ "$(task_codes "$job" | wc -l)" = 4 ] || fail "job $job does not show 4 tasks"
}

wait_job() {
  for _ in $(seq 1200); do
    [ -z "$(squeue -h -j "$1" 2>/dev/null)" ] && return 0
    sleep 0.05
  done
  fail "job $1 did not end"
}

# One array of 4 tasks, waited for. Prints the job id.
run_array() {
  local cpus=$1 logs=$2 job
  mkdir -p "$logs"
  job=$(sbatch --parsable --array=0-3 --cpus-per-task="$cpus" --output="$logs/%A_%a.log" "${recipe[@]}")
  job=${job%%;*}
  wait_job "$job"
  echo "$job"
}

# The tasks' times from their logs (made when a task starts, last written
# when its gpb2rinex ends): "first-start last-end core-seconds" where
# core-seconds is the sum of each task's time times its CPUs.
task_times() {
  local cpus=$1 f
  shift
  for f in "$@"; do echo "$(stat -c %.W "$f") $(date -r "$f" +%s.%N)"; done |
    awk -v c="$cpus" 'NR == 1 || $1 < s { s = $1 } $2 > e { e = $2 } { t += ($2 - $1) * c }
                      END { printf "%.3f %.3f %.3f\n", s, e, t }'
}

# --- 1. four tasks of 1 CPU, then of 2 ---------------------------------------
for cpus in 1 2; do
  echo "== slurm: array of 4 tasks, --cpus-per-task=$cpus"
  clean_outputs "$tmp/a"
  touch "$tmp/sampling"
  sample_threads "$tmp/samples-$cpus.txt" &
  sampler=$!
  job=$(run_array "$cpus" "$tmp/logs-$cpus")
  rm -f "$tmp/sampling"
  wait "$sampler"
  [ -n "$job" ] || fail "sbatch gave no job id"
  check_outputs "$tmp/a"
  check_damaged_reported "$tmp/logs-$cpus"/*.log
  check_codes "$job"
  files=$(grep -c ' -> ' "$tmp/logs-$cpus"/*.log | awk -F: '{ s += $2 } END { print s }')
  [ "$files" = $((ARCHIVE_GOOD + 1)) ] || fail "the logs show $files conversions"
  read -r start end core_seconds < <(task_times "$cpus" "$tmp/logs-$cpus"/*.log)
  awk -v f="$files" -v s="$start" -v e="$end" -v t="$core_seconds" \
    'BEGIN { printf "   %d files in %.2f s from the first task'"'"'s start to the last one'"'"'s end, %.2f core-seconds: %.0f files a second per core\n", f, e - s, t, f / t }'
done

# The tasks of 1 CPU: every sampled gpb2rinex of them was bound to one CPU,
# ran -j 1 and held at most two threads: the main one and one converting
# (the tasks of 2 CPUs are the control: two CPUs, up to three threads).
samples=$tmp/samples-1.txt
n=$(awk '$4 == 1' "$samples" | wc -l)
[ "$n" -ge 3 ] || fail "only $n samples of gpb2rinex in tasks of 1 CPU"
awk '$4 == 1 && ($2 > 2 || $3 ~ /[-,]/ || $0 !~ / -j 1 /) { print; bad = 1 } END { exit bad }' "$samples" ||
  fail "a task of 1 CPU ran gpb2rinex with more than one conversion thread or CPU (pid threads cpus task-cpus command above)"
echo "   tasks of 1 CPU: $n samples of gpb2rinex -j 1, each on one CPU ($(awk '$4 == 1 { print $3 }' "$samples" | sort -u | tr '\n' ' ')), at most $(awk '$4 == 1 { if ($2 > m) m = $2 } END { print m + 0 }' "$samples") threads (the main one and one converting)"
awk '$4 == 2 && $3 !~ /[-,]/ { print; bad = 1 } END { exit bad }' "$tmp/samples-2.txt" ||
  fail "a task of 2 CPUs was confined to one"
echo "   tasks of 2 CPUs: up to $(awk '$4 == 2 { if ($2 > m) m = $2 } END { print m + 0 }' "$tmp/samples-2.txt") threads on $(awk '$4 == 2 { print $3 }' "$tmp/samples-2.txt" | sort -u | tr '\n' ' ')"

# --- 2. tasks stopped in the middle of their shares --------------------------
# Task 1 is cancelled (scancel: SIGTERM, the task's shell waits for
# gpb2rinex to clean up), task 2 interrupted (scancel --full --signal=INT: every
# process of the task, gpb2rinex too, gets SIGINT, and the shell passes it
# on once more) and task 3 killed outright (SIGKILL to everything of the
# task), each once its log shows a few converted files.
echo "== slurm: cancel task 1, interrupt task 2 and kill task 3 in the middle of their shares"
clean_outputs "$tmp/a"
logs=$tmp/logs-cancel
mkdir -p "$logs"
job=$(sbatch --parsable --array=0-3 --cpus-per-task=1 --output="$logs/%A_%a.log" "${recipe[@]}")
job=${job%%;*}
share() { awk -v n=4 -v k="$1" 'NF && (c++ % n) == k' "$list" | wc -l; }
progress() {
  local n
  n=$(grep -c ' -> ' "$logs/${job}_$1.log" 2>/dev/null || true)
  echo "${n:-0}"
}
cancelled= interrupted= killed=
for _ in $(seq 1500); do
  if [ -z "$cancelled" ] && [ "$(progress 1)" -ge 3 ]; then
    scancel "${job}_1"
    cancelled=$(progress 1)
  fi
  if [ -z "$interrupted" ] && [ "$(progress 2)" -ge 3 ]; then
    scancel --full --signal=INT "${job}_2"
    interrupted=$(progress 2)
  fi
  if [ -z "$killed" ] && [ "$(progress 3)" -ge 3 ]; then
    scancel --full --signal=KILL "${job}_3"
    killed=$(progress 3)
  fi
  [ -n "$cancelled" ] && [ -n "$interrupted" ] && [ -n "$killed" ] && break
  sleep 0.02
done
[ -n "$cancelled" ] && [ -n "$interrupted" ] && [ -n "$killed" ] ||
  fail "tasks 1, 2 and 3 never showed progress"
wait_job "$job"
for task in 1 2 3; do
  [ "$(progress "$task")" -lt "$(share "$task")" ] ||
    fail "task $task converted its whole share before it was stopped"
done
scontrol -o show job "${job}_1" | grep -q 'JobState=CANCELLED' || fail "task 1 is not cancelled"
scontrol -o show job "${job}_2" | grep -q 'ExitCode=130:0' ||
  fail "task 2 did not end with gpb2rinex's code for SIGINT: $(scontrol -o show job "${job}_2" | grep -o 'ExitCode=[^ ]*')"
left=$(find "$tmp/a/tree" \( -name '*.part-*' -o -name '*.old-*' \) | wc -l)
echo "   task 1 cancelled after $(progress 1) of its $(share 1) files, task 2 interrupted after" \
  "$(progress 2) of $(share 2), task 3 killed after $(progress 3) of $(share 3);" \
  "$left temporary files left"
# A cancelled or interrupted task leaves nothing; a killed one may leave
# temporary files, which the rerun of its share removes. Two more, as a
# kill within a commit leaves them, beside outputs of task 3's share.
while IFS= read -r f; do
  for t in "${f%.gpb}".*.part-* "${f%.gpb}".*.old-*; do
    [ -e "$t" ] && fail "the stopped task 1 or 2 left $t"
  done
done < <(awk -v n=4 'NF { k = c++ % n; if (k == 1 || k == 2) print }' "$list")
for f in $(awk -v n=4 'NF && (c++ % n) == 3' "$list" | tail -2); do
  : >"${f%.gpb}.05o.part-Ab12Cd"
  : >"${f%.gpb}.05n.old-Xy34Zw"
done

# --- 3. the same array again --------------------------------------------------
echo "== slurm: the array again"
submitted=$(date +%s.%N)
job=$(run_array 1 "$tmp/logs-again")
read -r start end core_seconds < <(task_times 1 "$tmp/logs-again"/*.log)
check_outputs "$tmp/a"
check_codes "$job"
check_damaged_reported "$logs"/*.log "$tmp/logs-again"/*.log
redone=$(grep -h ' -> ' "$tmp/logs-again"/*.log | wc -l)
awk -v b="$submitted" -v s="$start" -v e="$end" -v r="$redone" -v t="$core_seconds" \
  'BEGIN { printf "   redone after the cancel: %d files; %.2f s from submission to the last task'"'"'s end, %.2f s of tasks, %.2f core-seconds\n", r, e - b, e - s, t }'
[ "$redone" -ge 1 ] && [ "$redone" -le $(($(share 1) + $(share 2) + $(share 3))) ] ||
  fail "the rerun converted $redone files"
echo "== slurm: passed"
