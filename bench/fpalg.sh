#!/bin/bash
# Accuracy and speed of the matching library on the real image sets, with the
# benchmark's default protocol (all sets pooled), as one table.
#   bench/fpalg.sh [BUILD_DIR] [SHARED_DIR] [extra fpbench options...]
# BUILD_DIR defaults to build, SHARED_DIR to ../shared. Skips (exit 0) when
# the image sets or the harness are absent: they are never part of the tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shared=${2:-$root/../shared}
shift $(( $# > 2 ? 2 : $# ))
lib=$build/fpalg/libfpalg.so
harness=$shared/bench/fpbench.py

if [ ! -d "$shared/fpdata" ] || [ ! -f "$harness" ]; then
  echo "fpalg bench: skipped, no image sets at $shared/fpdata"
  exit 0
fi
if [ ! -f "$lib" ]; then
  echo "fpalg bench: $lib not built" >&2
  exit 1
fi
sets=("$shared"/fpdata/*/)
exec /usr/bin/python3 "$harness" --lib "$lib" --sets "${sets[@]}" "$@"
