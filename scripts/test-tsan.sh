#!/usr/bin/env bash
# Thread stage: builds the library, gpb2rinex and the perf tests with
# ThreadSanitizer into build-tsan and runs the parallel batch tests there:
# threads converting at once, each on its own context, in process and
# through gpb2rinex -j. Any data race fails the stage.
# On a fresh Debian machine, run as root, it first installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
build=$root/build-tsan

. "$root/scripts/ensure-tools.sh"
ensure_packages "cmd:cmake=cmake" "cmd:g++=g++" "file:/usr/include/gtest/gtest.h=libgtest-dev"

echo "== configure build-tsan"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAWCONV_TSAN=ON \
  -DRAWCONV_BUILD_TESTS=ON -DRAWCONV_WERROR=ON >/dev/null
echo "== build build-tsan"
cmake --build "$build" -j "$jobs" --target perf_tests api_tests sink_tests gpb_tests gpb2rinex >/dev/null
echo "== test build-tsan (parallel batches under ThreadSanitizer)"
# halt_on_error makes a race fail the test process (gpb2rinex included).
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  "$build/tests/perf_tests" --gtest_filter='Parallel*'
# Sessions of the reentrant library converting at once.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  "$build/tests/api_tests" --gtest_filter='SessionTest.Parallel*:HelperThreads*'
# The output chain's threads (the thread stage, alone and with gzip coders on
# several threads, on outputs of many blocks, failures and aborts included)
# and the GPB reader's read-ahead thread.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  "$build/tests/sink_tests" --gtest_filter='ThreadSink*:GzipSink*:OutputChain*'
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  "$build/tests/gpb_tests" --gtest_filter='GpbInput*:GpbBlockRead*'
