#!/usr/bin/env bash
# Fuzz stage: builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz, writes their seed corpora and
# runs each target for a bounded time (RAWCONV_FUZZ_SECONDS, default 30).
# Fails when any target reports a finding; the input that caused it is kept
# in build-fuzz/findings/. Prints the executions of every target.
# On a fresh Debian machine, run as root, it first installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
seconds=${RAWCONV_FUZZ_SECONDS:-30}
build=$root/build-fuzz

. "$root/scripts/ensure-tools.sh"
ensure_packages "cmd:cmake=cmake" "cmd:clang=clang" "cmd:clang++=clang"
# The fuzzer runtime comes with compiler-rt, in a package of its own.
runtime="$(clang -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a"
if [ ! -e "$runtime" ]; then
  version=$(clang -dumpversion | cut -d. -f1)
  ensure_packages "file:$runtime=libclang-rt-$version-dev"
fi

echo "== configure build-fuzz"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DRAWCONV_FUZZ=ON -DRAWCONV_BUILD_TESTS=OFF -DRAWCONV_WERROR=ON >/dev/null
echo "== build build-fuzz"
cmake --build "$build" -j "$jobs" --target rawconv_fuzzers >/dev/null

seeds=$build/seeds
rm -rf "$seeds"
. "$root/scripts/shared-data.sh"
find_shared_data "$root"
data=$RAWCONV_SHARED_DATA
"$build/fuzz/make_fuzz_seeds" "$root" "$data" "$seeds"
# Whole real files through the test-data tools; the fuzzer takes the first
# max_len bytes of each.
if [ -f "$data/07590920.05o" ] && [ -x "$build/tools/rnx2gpb" ]; then
  "$build/tools/rnx2gpb" "$data/07590920.05o" "$seeds/gpb/tool_rnx2gpb_new" >/dev/null
  "$build/tools/rnx2gpb" --old "$data/07590920.05o" "$seeds/gpb/tool_rnx2gpb_old" >/dev/null
fi
if [ -f "$data/07590920.05n" ] && [ -x "$build/tools/nav2epp" ]; then
  "$build/tools/nav2epp" "$data/07590920.05n" "$seeds/epp/tool_nav2epp"
  cp "$seeds/epp/tool_nav2epp" "$seeds/block/tool_nav2epp"
fi

# Scratch files of the targets: a memory file system when there is one.
scratch_base=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch_base=/dev/shm; fi
scratch=$(mktemp -d "$scratch_base/rawconv-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

mkdir -p "$build/findings" "$build/logs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
summary=()
for target in gpb epp block station sta_list conversion sitelog station_csv; do
  max_len=8192
  # Whole conversions and whole site logs (about 6 to 20 kB) need more.
  [ "$target" = conversion ] && max_len=16384
  [ "$target" = sitelog ] && max_len=24576
  corpus=$build/corpus/$target
  log=$build/logs/$target.log
  mkdir -p "$corpus"
  echo "== fuzz $target (${seconds}s)"
  status=0
  TMPDIR=$scratch "$build/fuzz/${target}_fuzzer" \
    -max_total_time="$seconds" -max_len="$max_len" -timeout=20 -rss_limit_mb=2048 \
    -dict="$root/fuzz/rawconv.dict" -print_final_stats=1 \
    -artifact_prefix="$build/findings/$target-" \
    "$corpus" "$seeds/$target" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summary+=("$(printf '%-12s %10s executions' "$target" "${runs:-?}")")
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    echo "-- $target: finding (exit $status), log $log:"
    grep -E 'ERROR|SUMMARY|check failed|artifact|Test unit written' "$log" | head -20 || true
  fi
done

echo "== fuzz executions"
printf '%s\n' "${summary[@]}" | tee "$build/fuzz-executions.txt"
if [ ${#failed[@]} -ne 0 ]; then
  echo "== fuzz findings in: ${failed[*]} (inputs in $build/findings)" >&2
  exit 1
fi
echo "== fuzz stage passed"
