#!/usr/bin/python3
"""Where genuine touches are lost: sorts every genuine comparison that fails
at the pooled FAR level into
  (a) coverage: the probe truly shares too little area with the enrolled crops,
  (b) search: no verified alignment lies at the true pose,
  (c) scoring: the true pose was verified, but its evidence stayed low,
      split by the term of the evidence that fell furthest below that of
      the genuine pairs that pass (block agreement, rigid share, minutiae,
      overlap, and the coarse peak, which noise flattens first),
and prints the table per set.

Inputs: the crops (fpalg_crops.py: PREFIX.idx), their true poses
(fpalg_truth.py: PREFIX.truth), an fpalg-eval CSV with impostor pairs (the
pooled FAR level), and fpalg-eval's trace of the genuine pairs
(FPALG_EVAL_TRACE; with PREFIX.truth present it holds the oracle).

usage: fpalg_losses.py PREFIX EVAL.csv TRACE.csv [--far 2e-5] [--coverage-px 2304] [--min-quality Q]
"""
import argparse
import collections
import math

import numpy as np

ap = argparse.ArgumentParser()
ap.add_argument("prefix")
ap.add_argument("eval")
ap.add_argument("trace")
ap.add_argument("--far", type=float, default=2e-5, help="pooled FAR level (default 1/50,000)")
ap.add_argument("--level", type=int, help="a failure is a score at or below this (instead of the FAR level)")
ap.add_argument("--coverage-px", type=int, default=2304,
                help="(a) when the probe shares fewer true pixels with every enrolled crop (default a quarter)")
ap.add_argument("--min-quality", type=float, default=0.08,
                help="probes whose impressions register with a lower peak are counted apart as unsure (below 0.08 "
                     "the true pose agrees with fewer than half of the matcher's confident matches)")
ap.add_argument("--angle-tol", type=int, default=45, help="tenths of a degree from the true angle")
ap.add_argument("--shift-tol", type=float, default=6.0, help="px from the true position")
a = ap.parse_args()

CROP, MID = 96, 47.5
TERMS = ("block", "rigid", "minutiae", "overlap", "noise")

fingers = [l.split() for l in open(a.prefix + ".idx")]
set_of = [f[0].split("/")[0] for f in fingers]

truth = collections.defaultdict(dict)  # (finger, probe) -> capture -> (angle, dy, dx, quality, overlap)
for l in open(a.prefix + ".truth"):
    f, p, c, ang, dy, dx, q, ov = l.split()[:8]
    truth[int(f), int(p)][int(c)] = (int(ang), float(dy), float(dx), float(q), int(ov))

# Pooled level: the lowest integer threshold whose FAR is at or below the target.
gen, imp = {}, []
for l in open(a.eval).readlines()[1:]:
    r = l.rstrip("\n").split(",")
    if r[3] == "impostor":
        imp.append(int(r[15]))
    elif r[3] == "genuine":
        gen[int(r[0]), int(r[1])] = int(r[15])
    elif r[3] == "rejected":
        gen[int(r[0]), int(r[1])] = -1
imp = np.sort(np.array(imp))
if a.level is not None:
    level = a.level
    print(f"level given: score > {level}")
else:
    level = next(t for t in range(-1, 101) if np.mean(imp > t) <= a.far)
    print(f"{len(imp)} impostor pairs; pooled FAR {a.far:g} level: score > {level}")

sources, frames = collections.defaultdict(dict), collections.defaultdict(dict)
cands, aligns, final, orac = (collections.defaultdict(list), collections.defaultdict(list), {}, {})
FIELDS = ("view", "angle", "dy", "dx", "peak", "overlap", "ncc", "blocks", "good", "block_ncc", "rigid_block_ncc",
          "amb", "ms", "mp", "mq", "union_px", "raw", "score")
for l in open(a.trace):
    r = l.rstrip("\n").split(",")
    if r[0] == "V":
        sources[int(r[1])][int(r[2])] = int(r[3])
        frames[int(r[1])][int(r[2])] = int(r[4])
        continue
    key = (int(r[1]), int(r[2]))
    if r[0] == "C":
        cands[key].append(tuple(float(x) for x in r[3:8]))
        continue
    p = dict(zip(FIELDS, (float(x) for x in r[3:])))
    {"A": lambda: aligns[key].append(p), "M": lambda: final.__setitem__(key, p),
     "O": lambda: orac.__setitem__(key, p)}[r[0]]()


def at_truth(key, view, angle, dy, dx):
    t = truth[key].get(sources[key[0]].get(int(view), -1))
    return t is not None and abs(angle - t[0]) <= a.angle_tol and math.hypot(dy - t[1], dx - t[2]) <= a.shift_tol


grid = np.stack(np.meshgrid(np.arange(CROP) - MID, np.arange(CROP) - MID), -1).reshape(-1, 2)


def coverage(key):
    """True pixels the probe shares with its best enrolled crop, and with all of them together."""
    union = np.zeros(len(grid), bool)
    best = 0
    for v, c in sources[key[0]].items():
        t = truth[key].get(c)
        if t is None:
            continue
        th = math.radians(t[0] / 10)
        r = np.array([[math.cos(th), -math.sin(th)], [math.sin(th), math.cos(th)]])
        q = grid @ r.T + np.array([t[2], t[1]]) + MID
        inside = (q[:, 0] >= 0) & (q[:, 0] <= CROP - 1) & (q[:, 1] >= 0) & (q[:, 1] <= CROP - 1)
        best = max(best, int(inside.sum()))
        union |= inside
    return best, int(union.sum())


def factors(p):
    """Log of each multiplicative term of the evidence (calibration.cpp)."""
    disc = 0.5 * p["amb"]
    b = max(1e-3, (p["block_ncc"] - disc) / (1 - disc))
    rigid = min(1.0, max(1e-3, p["ncc"] / p["block_ncc"])) if p["block_ncc"] > 0 else 1e-3
    return {"block": 3 * math.log(b), "rigid": math.log(rigid),
            "minutiae": 0.5 * math.log(min(1.0, (p["mq"] + 1) / 4)),
            "overlap": 0.5 * math.log(max(1.0, p["blocks"])), "noise": 2 * math.log(1 + 3 * max(0.0, p["peak"]))}


keys = sorted(k for k in gen if k in final or gen[k] < 0)
passing = [factors(final[k]) for k in keys if gen[k] > level and at_truth(k, *(final[k][f] for f in ("view", "angle", "dy", "dx")))]
ref = {t: float(np.median([f[t] for f in passing])) for t in TERMS} if passing else {t: 0.0 for t in TERMS}

rows = collections.OrderedDict()
diag = collections.Counter()
for k in keys:
    s = set_of[k[0]]
    row = rows.setdefault(s, collections.Counter())
    row["genuine"] += 1
    if gen[k] > level:
        if k in final and truth.get(k):
            diag["pass_at_truth" if at_truth(k, *(final[k][f] for f in ("view", "angle", "dy", "dx"))) else "pass_elsewhere"] += 1
        continue
    row["fail"] += 1
    if gen[k] < 0:
        row["rejected"] += 1
        continue
    if not truth.get(k):
        row["no truth"] += 1
        continue
    if max(t[3] for t in truth[k].values()) < a.min_quality:
        row["unsure"] += 1
        continue
    best, union = coverage(k)
    if best < a.coverage_px:
        row["a coverage"] += 1
        continue
    verified = [p for p in aligns[k] if at_truth(k, p["view"], p["angle"], p["dy"], p["dx"])]
    if not verified:
        row["b search"] += 1
        if any(at_truth(k, c[0], c[1], c[2], c[3]) for c in cands[k]):
            row["b: in coarse top, screened out"] += 1
        if k in orac and orac[k]["score"] > level:
            row["b: oracle passes"] += 1
        continue
    row["c scoring"] += 1
    m = final[k]
    p = m if at_truth(k, m["view"], m["angle"], m["dy"], m["dx"]) else orac.get(k, verified[0])
    f = factors(p)
    worst = max(TERMS, key=lambda t: ref[t] - f[t])
    row["c " + worst] += 1

cols = ["genuine", "fail", "rejected", "a coverage", "b search", "b: in coarse top, screened out", "b: oracle passes",
        "c scoring"] + ["c " + t for t in TERMS] + ["unsure", "no truth"]
print("reference (median log-term of passing genuine pairs at the true pose):",
      {t: round(v, 2) for t, v in ref.items()})
print("passing genuine pairs at the true pose / elsewhere:", diag["pass_at_truth"], "/", diag["pass_elsewhere"])
# How far the true poses can be trusted: matches scoring above 60 are almost
# surely right, so they should lie at the true pose.
agree = collections.defaultdict(lambda: [0, 0])
for k, p in final.items():
    t = truth.get(k, {}).get(sources[k[0]].get(int(p["view"]), -1))
    if gen.get(k, -1) > 60 and t is not None:
        b = agree[min(int(t[3] / 0.04), 6)]
        b[0] += 1
        b[1] += at_truth(k, p["view"], p["angle"], p["dy"], p["dx"])
print("matches above 60 at the true pose, by registration peak:",
      ", ".join(f"{0.04 * q:.2f}+: {100 * n[1] / n[0]:.0f} % of {n[0]}" for q, n in sorted(agree.items())))
print("| set | " + " | ".join(cols) + " |")
print("|---" * (len(cols) + 1) + "|")
total = collections.Counter()
for s, row in rows.items():
    total.update(row)
    print(f"| {s} | " + " | ".join(str(row[c]) for c in cols) + " |")
print("| all | " + " | ".join(str(total[c]) for c in cols) + " |")
