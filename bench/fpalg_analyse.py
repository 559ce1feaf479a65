#!/usr/bin/python3
"""Error rates of the score terms in an fpalg-eval CSV: for the calibrated
score and for candidate raw formulas, EER and FRR at a few FAR targets,
plus the worst impostors and genuines. Used while tuning the matcher.

usage: fpalg_analyse.py EVAL.csv [EXPR ...]   (EXPR over the CSV columns, numpy syntax)
"""
import sys

import numpy as np

d = np.genfromtxt(sys.argv[1], delimiter=",", names=True, dtype=None, encoding=None)
d = d[d["kind"] != "rejected"]
gen, imp = d["kind"] == "genuine", d["kind"] == "impostor"
cols = {n: d[n].astype(float) for n in d.dtype.names if n not in ("kind",)}


def rates(s):
    g, i = np.sort(s[gen]), np.sort(s[imp])
    out = []
    for far in (1e-2, 1e-3, 1e-4):
        k = int(np.floor(far * len(i)))
        t = i[len(i) - 1 - k] if k < len(i) else -np.inf
        out.append(np.mean(g <= t))
    ts = np.unique(np.concatenate([g, i]))
    far = 1 - np.searchsorted(i, ts, side="right") / len(i)
    frr = np.searchsorted(g, ts, side="right") / len(g)
    k = np.argmin(np.abs(far - frr))
    return (far[k] + frr[k]) / 2, out


print(f"genuine {gen.sum()} impostor {imp.sum()}")
exprs = sys.argv[2:] or ["score", "raw"]
for e in exprs:
    s = eval(e, {"np": np}, cols)
    eer, fr = rates(s)
    print(f"{e:60s} EER {100*eer:5.2f}%  FRR@1e-2 {100*fr[0]:5.2f}%  @1e-3 {100*fr[1]:5.2f}%  @1e-4 {100*fr[2]:5.2f}%")
s = cols["raw"]
print("top impostors:")
for k in np.argsort(np.where(imp, s, -1))[::-1][:6]:
    print("  ", {n: d[n][k] for n in ("probe_finger", "probe", "template", "view", "angle", "overlap", "ncc", "blocks", "good", "block_ncc", "raw")})
print("raw quantiles impostor:", np.percentile(s[imp], [50, 90, 99, 99.9, 100]).round(2))
print("raw quantiles genuine:", np.percentile(s[gen], [5, 10, 25, 50]).round(2))
