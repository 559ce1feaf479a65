#!/usr/bin/python3
"""A contact sheet of generated and real 96 x 96 captures side by side.

Left half: generated fingers (the generator's default style, seed 7321),
one finger per row, impressions across. Right half: real fingers, one per
row from the benchmark's crops (fpalg_crops.py output), their probe crops
across, rows taken from every set in turn. Each tile is shown at twice its
size. The sheet holds real crops: keep it under build/, never commit it.

usage: fpgen_contact.py OUT.png --generated VORL2547_FPGEN --crops PREFIX [--rows N] [--cols N]
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

SIDE = 96


def generated_tiles(tool, rows, cols, seed):
    tiles = []
    with tempfile.TemporaryDirectory() as tmp:
        for f in range(rows):
            row = []
            for i in range(cols):
                path = os.path.join(tmp, f"{f}_{i}.pgm")
                subprocess.run([tool, "--seed", str(seed), "--finger", str(f), "--impression", str(30 + i), "--out",
                                path], check=True)
                row.append(np.asarray(Image.open(path), dtype=np.uint8))
            tiles.append(row)
    return tiles


def real_tiles(prefix, rows, cols):
    fingers = []
    with open(prefix + ".idx") as idx:
        for line in idx:
            name, _, nc, np_ = line.split()
            fingers.append((name.split("/")[0], int(nc), int(np_)))
    raw = np.memmap(prefix + ".raw", dtype=np.uint8, mode="r")
    offsets, pos = [], 0
    for _, nc, np_ in fingers:
        offsets.append(pos)
        pos += (nc + np_) * SIDE * SIDE
    by_set = {}
    for k, (s, _, _) in enumerate(fingers):
        by_set.setdefault(s, []).append(k)
    # One finger from each set in turn, so every kind of capture shows.
    order = []
    sets = sorted(by_set)
    depth = 0
    while len(order) < rows and any(depth < len(v) for v in by_set.values()):
        for s in sets:
            if depth < len(by_set[s]) and len(order) < rows:
                order.append(by_set[s][depth])
        depth += 1
    tiles = []
    for k in order:
        _, nc, np_ = fingers[k]
        row = []
        for i in range(min(cols, np_)):
            start = offsets[k] + (nc + i * max(1, np_ // cols)) * SIDE * SIDE
            start = min(start, offsets[k] + (nc + np_ - 1) * SIDE * SIDE)
            row.append(np.asarray(raw[start:start + SIDE * SIDE]).reshape(SIDE, SIDE))
        tiles.append(row)
    return tiles


def paste(sheet, tiles, x0, scale, gap):
    for r, row in enumerate(tiles):
        for c, t in enumerate(row):
            img = Image.fromarray(t).resize((SIDE * scale, SIDE * scale), Image.NEAREST)
            sheet.paste(img, (x0 + c * (SIDE * scale + gap), gap + r * (SIDE * scale + gap)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--generated", required=True, help="the vorl2547-fpgen tool")
    ap.add_argument("--crops", required=True, help="prefix of fpalg_crops.py's output")
    ap.add_argument("--rows", type=int, default=8)
    ap.add_argument("--cols", type=int, default=5)
    ap.add_argument("--seed", type=int, default=7321)
    a = ap.parse_args()
    scale, gap, middle = 2, 4, 24
    gen = generated_tiles(a.generated, a.rows, a.cols, a.seed)
    real = real_tiles(a.crops, a.rows, a.cols)
    half = a.cols * (SIDE * scale + gap)
    sheet = Image.new("L", (2 * half + middle + gap, a.rows * (SIDE * scale + gap) + gap), 255)
    paste(sheet, gen, gap, scale, gap)
    paste(sheet, real, gap + half + middle, scale, gap)
    sheet.save(a.out)
    print(f"contact sheet: {a.out} (generated left, real right)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
