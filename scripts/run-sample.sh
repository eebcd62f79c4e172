#!/usr/bin/env bash
# Builds gpb2rinex and converts the shipped sample (examples/sample.gpb with
# its ephemeris sample.epp and station file sample.sta) into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-tools.sh
ensure_packages "cmd:cmake=cmake" "cmd:g++=g++"
cmake -S . -B build-sample -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAWCONV_BUILD_TESTS=OFF >/dev/null
cmake --build build-sample -j "$(nproc 2>/dev/null || echo 2)" --target gpb2rinex >/dev/null
mkdir -p out
# The station file is found beside the GPB file; the outputs go to out/.
build-sample/cli/gpb2rinex --force --output-dir out --marker SAMPLE --antenna-height 1.465 \
  --run-by "rawconv sample" examples/sample.gpb
echo "output:"
ls -l out/sample.*
