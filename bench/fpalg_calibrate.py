#!/usr/bin/python3
"""Knots of the matcher's score scale from an fpalg-eval CSV of all sets:
the raw evidence reached by 1 impostor in 1,000 maps to 30, a level just
above every impostor seen (at least 1 in 100,000) maps to 46, the
threshold, and twice that to 100. Prints them for fpalg/calibration.cpp.

usage: fpalg_calibrate.py EVAL.csv [MARGIN]
"""
import sys

import numpy as np

d = np.genfromtxt(sys.argv[1], delimiter=",", names=True, dtype=None, encoding=None)
margin = float(sys.argv[2]) if len(sys.argv) > 2 else 1.05
d = d[d["kind"] != "rejected"]
imp = np.sort(d["raw"][d["kind"] == "impostor"])
gen = d["raw"][d["kind"] == "genuine"]
n = len(imp)
k5 = max(int(np.floor(1e-5 * n)), 0)
thr = imp[n - 1 - k5] * margin
q999 = imp[int(0.999 * n)]
top = 2 * thr
print(f"impostors {n}, genuine {len(gen)}")
print(f"kRaw30 = {q999:.2f}f  kRawThreshold = {thr:.2f}f  kRawTop = {top:.2f}f")
for t in (q999, thr):
    print(f"  raw > {t:.2f}: FAR {np.mean(imp > t):.2e}  FRR {np.mean(gen <= t):.2%}")
