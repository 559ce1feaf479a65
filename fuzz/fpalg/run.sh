#!/bin/bash
# Builds the matching library's libFuzzer targets with clang (AddressSanitizer
# and UBSan) in their own build directory and runs each for a while.
#   fuzz/fpalg/run.sh [SECONDS_PER_TARGET] [BUILD_DIR]
# Seeds (made from synthetic ridges) come from fuzz/fpalg/corpus/<target>/.
# Crashes land in BUILD_DIR/fpalg-fuzz/<target>/; keep each one as a unit test.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${2:-$root/build-fuzz}
targets="fuzz_fpalg_match fuzz_fpalg_merge fuzz_fpalg_create"

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DVORL_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j 2 --target $targets

for t in $targets; do
  work=$build/fpalg-fuzz/$t
  mkdir -p "$work/corpus"
  cp -n "$root/fuzz/fpalg/corpus/$t/"* "$work/corpus/" 2>/dev/null || true
  echo "== $t: ${seconds}s"
  (cd "$work" && "$build/fuzz/fpalg/$t" -max_total_time="$seconds" -max_len=28001 -rss_limit_mb=4096 \
     -print_final_stats=1 corpus 2>&1 | tail -n 12)
done
