#!/usr/bin/python3
"""Writes the benchmark's crops (enrollment captures and probes, exactly as
fpbench makes them) to a scratch file for fpalg_eval, the quick in-process
evaluation used while tuning the matcher. The output must stay outside the
repository: it is made of the real images.

usage: fpalg_crops.py OUT_PREFIX SET_DIR... [--max-fingers N] [--k K]
writes OUT_PREFIX.idx (one line per finger: name identity captures probes)
and OUT_PREFIX.raw (96x96 uint8 crops, captures then probes, finger by finger)
"""
import argparse
import sys
from pathlib import Path

ap = argparse.ArgumentParser()
ap.add_argument("out")
ap.add_argument("sets", nargs="+")
ap.add_argument("--max-fingers", type=int)
ap.add_argument("--k", type=int, default=4, help="probes per impression, as fpbench's --probes-per-impression")
ap.add_argument("--bench", default=str(Path(__file__).resolve().parents[2] / "shared" / "bench"))
a = ap.parse_args()
sys.path.insert(0, a.bench)
import fpbench  # noqa: E402

fingers = fpbench.build_fingers(a.sets, a.k, 1, a.max_fingers)
with open(a.out + ".idx", "w") as idx, open(a.out + ".raw", "wb") as raw:
    for f in fingers:
        idx.write(f"{f.name} {f.identity} {len(f.captures)} {len(f.probes)}\n")
        for c in f.captures:
            raw.write(c.tobytes())
        for _, p in f.probes:
            raw.write(p.tobytes())
print(f"{len(fingers)} fingers", file=sys.stderr)
