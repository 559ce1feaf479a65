#!/bin/bash
# Do generated fingers behave like real ones? An impostor pool of generated
# fingers (fpalg-genpool, the generator's default style) beside the
# benchmark's crops of every image set (fpalg-eval, K=2), compared by
# bench/fpgen_fidelity.py; fpgen_stats.py on generated and real prints; and
# a contact sheet of generated and real 96 x 96 crops side by side.
#   bench/fpgen_fidelity.sh [--million | --fingers N] [BUILD_DIR] [SHARED_DIR]
# Default pool: 120 fingers x 4 probes (57,000 impostor pairs, minutes on
# two cores); --million: 500 fingers x 4 probes (998,000 pairs, about an
# hour on two idle cores). Without the image sets only the generated side is measured.
# Results stay in BUILD_DIR/fpgen-fidelity (scores and the sheet; the
# crops of the real images live in a scratch folder under /tmp, removed on
# exit). The sheet holds real crops: never commit or ship it.
set -euo pipefail
fingers=120
case "${1:-}" in
  --million) fingers=500; shift ;;
  --fingers) fingers=$2; shift 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shared=${2:-$root/../shared}
out=$build/fpgen-fidelity
for tool in "$build/fpalg/fpalg-genpool" "$build/fpalg/fpalg-eval" "$build/fpgen/vorl2547-fpgen"; do
  if [ ! -x "$tool" ]; then
    echo "fpgen fidelity: $tool not built" >&2
    exit 1
  fi
done
mkdir -p "$out"
scratch=$(mktemp -d /tmp/fpgen-fidelity.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

"$build/fpalg/fpalg-genpool" --fingers "$fingers" --probes 4 --keep 0.02 --out "$out/genpool.json"
"$build/fpgen/vorl2547-fpgen" --batch "$scratch/generated" --fingers 40 --impressions 2 --seed 7321
real=()
if [ -d "$shared/fpdata" ] && [ -f "$shared/bench/fpbench.py" ]; then
  real=("$shared"/fpdata/*/)
  /usr/bin/python3 "$root/bench/fpalg_crops.py" "$scratch/crops" "${real[@]}" --k 2 --bench "$shared/bench"
  "$build/fpalg/fpalg-eval" "$scratch/crops" "$scratch/eval.0.csv" 1 2 0 2>/dev/null &
  first=$!
  "$build/fpalg/fpalg-eval" "$scratch/crops" "$scratch/eval.1.csv" 1 2 1 2>/dev/null
  wait "$first"
  { cat "$scratch/eval.0.csv"; tail -n +2 "$scratch/eval.1.csv"; } > "$out/eval.csv"
  cp "$scratch/crops.idx" "$out/sets.idx"
  /usr/bin/python3 "$root/bench/fpgen_fidelity.py" --eval "$out/eval.csv" --idx "$out/sets.idx" "$out/genpool.json"
  /usr/bin/python3 "$root/bench/fpgen_contact.py" "$out/contact_sheet.png" --generated "$build/fpgen/vorl2547-fpgen" \
    --crops "$scratch/crops"
else
  echo "fpgen fidelity: no image sets at $shared/fpdata, generated pool only"
  /usr/bin/python3 "$root/bench/fpgen_fidelity.py" "$out/genpool.json"
fi
/usr/bin/python3 "$root/bench/fpgen_stats.py" "$scratch/generated" "${real[@]}"
