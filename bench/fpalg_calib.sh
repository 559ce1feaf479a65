#!/bin/bash
# Data for the score scale's knots, and their fit: an impostor pool of
# generated fingers (fpalg-genpool at its default size, about an hour on two
# idle cores) and, when the image sets are present, every set at K=21
# through fpalg-eval (two halves at once); then bench/fpalg_tailfit.py with
# leave-one-set-out on both pools.
#   bench/fpalg_calib.sh [BUILD_DIR] [SHARED_DIR] [fpalg-genpool options...]
# Results stay in BUILD_DIR/fpalg-calib (scores only; the crops of the real
# images live in a scratch folder under /tmp, removed on exit).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shared=${2:-$root/../shared}
shift $(( $# > 2 ? 2 : $# ))
pool=$build/fpalg/fpalg-genpool
eval_tool=$build/fpalg/fpalg-eval
out=$build/fpalg-calib

for tool in "$pool" "$eval_tool"; do
  if [ ! -x "$tool" ]; then
    echo "fpalg calibration: $tool not built" >&2
    exit 1
  fi
done
mkdir -p "$out"
"$pool" --out "$out/genpool.json" "$@"
inputs=("$out/genpool.json")
idx=()
if [ -d "$shared/fpdata" ] && [ -f "$shared/bench/fpbench.py" ]; then
  scratch=$(mktemp -d /tmp/fpalg-calib.XXXXXX)
  trap 'rm -rf "$scratch"' EXIT
  /usr/bin/python3 "$root/bench/fpalg_crops.py" "$scratch/crops" "$shared"/fpdata/*/ --k 21 \
    --bench "$shared/bench"
  cp "$scratch/crops.idx" "$out/sets.idx"
  "$eval_tool" "$scratch/crops" "$out/eval.0.csv" 1 2 0 2>"$out/eval.0.log" &
  first=$!
  "$eval_tool" "$scratch/crops" "$out/eval.1.csv" 1 2 1 2>"$out/eval.1.log"
  wait "$first"
  inputs+=("$out/eval.0.csv" "$out/eval.1.csv")
  idx=(--idx "$out/sets.idx")
else
  echo "fpalg calibration: no image sets at $shared/fpdata, generated pool only"
fi
exec /usr/bin/python3 "$root/bench/fpalg_tailfit.py" "${idx[@]}" --loso "${inputs[@]}"
