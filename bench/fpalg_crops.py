#!/usr/bin/python3
"""Writes the benchmark's crops (enrollment captures and probes, exactly as
fpbench makes them) to a scratch file for fpalg_eval, the quick in-process
evaluation used while tuning the matcher. The output must stay outside the
repository: it is made of the real images.

usage: fpalg_crops.py OUT_PREFIX SET_DIR... [--max-fingers N] [--k K]
writes OUT_PREFIX.idx (one line per finger: name identity captures probes),
OUT_PREFIX.raw (96x96 uint8 crops, captures then probes, finger by finger)
and OUT_PREFIX.pos (one line per crop, in the same order: finger index,
crop index, image file, impression, top row, left column in the image as
fpbench loads it), from which fpalg_truth.py learns where crops lie.
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
import numpy as np  # noqa: E402

# fpbench cuts crops without saying where; the crop is found again in its
# image (the first exact position, searched near where take_crop looks).
placed = []
take_crop = fpbench.take_crop


def locating_take_crop(img, ii, centre, off):
    crop, fg = take_crop(img, ii, centre, off)
    n = max(abs(int(off[0])), abs(int(off[1])), 1)
    for step in range(n + 1):
        f = 1 - step / n
        y0 = int(np.clip(round(centre[0] + off[0] * f) - fpbench.CROP // 2, 0, img.shape[0] - fpbench.CROP))
        x0 = int(np.clip(round(centre[1] + off[1] * f) - fpbench.CROP // 2, 0, img.shape[1] - fpbench.CROP))
        if np.array_equal(img[y0:y0 + fpbench.CROP, x0:x0 + fpbench.CROP], crop):
            placed.append((id(img), y0, x0))
            return crop, fg
    raise RuntimeError("crop not found in its image")


fpbench.take_crop = locating_take_crop
load_image = fpbench.load_image
loaded = {}


def remembering_load_image(path, dpi):
    img = load_image(path, dpi)
    loaded[id(img)] = (str(path), img)  # kept alive, so the id stays unique
    return img


fpbench.load_image = remembering_load_image
fingers = fpbench.build_fingers(a.sets, a.k, 1, a.max_fingers)
where = iter(placed)
with open(a.out + ".idx", "w") as idx, open(a.out + ".raw", "wb") as raw, open(a.out + ".pos", "w") as pos:
    for n, f in enumerate(fingers):
        idx.write(f"{f.name} {f.identity} {len(f.captures)} {len(f.probes)}\n")
        for c in f.captures:
            raw.write(c.tobytes())
        for _, p in f.probes:
            raw.write(p.tobytes())
        for i in range(len(f.captures) + len(f.probes)):
            key, y0, x0 = next(where)
            path = loaded[key][0]
            impr = int(Path(path).stem.rsplit("_", 1)[1])
            pos.write(f"{n} {i} {path} {impr} {y0} {x0}\n")
print(f"{len(fingers)} fingers", file=sys.stderr)
