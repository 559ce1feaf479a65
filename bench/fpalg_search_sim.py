#!/usr/bin/python3
"""Replays orders of the coarse search on every genuine probe's coarse peaks
(fpalg-eval's FPALG_EVAL_SURFACES: the best peak at every rotation on every
stored view) and counts, for each order, how often the true pose is among
the candidates kept for screening: which search losses a search could win
back, and at how many transforms per comparison. Only genuine pairs are
replayed: an order that finds more true poses also finds more chance
alignments between different fingers, so a promising order still needs a
full fpalg-eval run and the tail fit (fpalg_tailfit.py) to be judged.

An order is NAME:stride=S,view=V,seeds=N,steps=M,cands=C: every S-th angle on
every view first (the upright one among them); with view=1 the angles on
either side of each view's best; then, from the best N peaks of all views,
the rotation climbs to neighbouring angles while the peak rises, at most M
steps; the best C peaks are the candidates. "library" is the search as
match.cpp does it (stride=3,view=1,seeds=0,cands=8).

Counted over probes whose impressions register surely (peak >= 0.08) and
share at least a quarter of the crop with some enrolled view:
  found     the true pose (4.5 degrees, 6 px) is among the candidates
  won       of the search losses at the level (no verified alignment at the
            true pose), those whose true pose the order finds, and of these
            the ones whose true pose, verified, would pass (the oracle)
  dropped   pairs passing at the true pose today whose true pose it misses

  FPALG_EVAL_TRACE=/tmp/t.csv FPALG_EVAL_SURFACES=/tmp/s.csv FPALG_EVAL_GENUINE_ONLY=1 \\
      build/fpalg/fpalg-eval /tmp/crops /tmp/gen.csv
  bench/fpalg_search_sim.py /tmp/crops /tmp/gen.csv /tmp/t.csv /tmp/s.csv --level 45 \\
      wide:stride=4,view=0,seeds=16,steps=2,cands=8

usage: fpalg_search_sim.py PREFIX EVAL.csv TRACE.csv SURFACES.csv [--level L] [ORDER...]
"""
import argparse
import collections
import math

ap = argparse.ArgumentParser()
ap.add_argument("prefix")
ap.add_argument("eval")
ap.add_argument("trace")
ap.add_argument("surfaces")
ap.add_argument("--level", type=int, default=45, help="a genuine pair fails at or below this score")
ap.add_argument("orders", nargs="*")
a = ap.parse_intermixed_args()

STEP, COUNT = 30, 31  # the library's angle grid (tenths of a degree, angles)
truth = collections.defaultdict(dict)  # (finger, probe) -> capture -> (angle, dy, dx, quality, overlap)
for l in open(a.prefix + ".truth"):
    f, p, c, ang, dy, dx, q, ov = l.split()[:8]
    truth[int(f), int(p)][int(c)] = (int(ang), float(dy), float(dx), float(q), int(ov))

score = {}
for l in open(a.eval).readlines()[1:]:
    r = l.split(",")
    if r[3] == "genuine":
        score[int(r[0]), int(r[1])] = int(r[15])

sources = collections.defaultdict(dict)
aligns, final, oracle = collections.defaultdict(list), {}, {}
for l in open(a.trace):
    r = l.rstrip("\n").split(",")
    if r[0] == "V":
        sources[int(r[1])][int(r[2])] = int(r[3])
    elif r[0] in "AMO":
        p = (int(r[3]), int(r[4]), int(r[5]), int(r[6]), int(r[-1]))  # view, angle, dy, dx, score
        key = (int(r[1]), int(r[2]))
        if r[0] == "A":
            aligns[key].append(p)
        else:
            (final if r[0] == "M" else oracle)[key] = p

surf = collections.defaultdict(dict)  # (finger, probe) -> (view, angle index) -> (height, dy, dx)
for l in open(a.surfaces):
    r = l.split(",")
    surf[int(r[1]), int(r[2])][int(r[3]), int(r[4]) // STEP + COUNT // 2] = (float(r[5]), int(r[6]), int(r[7]))


def true_pose(key, view):
    return truth[key].get(sources[key[0]].get(view, -1))


def at_truth(key, view, angle_deci, dy, dx):
    t = true_pose(key, view)
    return t is not None and abs(angle_deci - t[0]) <= 45 and math.hypot(dy - t[1], dx - t[2]) <= 6


def sure(key):
    ts = truth[key].values()
    return bool(ts) and max(t[3] for t in ts) >= 0.08 and max(t[4] for t in ts) >= 2304


def replay(peaks, stride, view, seeds, steps, cands):
    """Candidates (height, view, angle index, dy, dx) of one order, and its transforms."""
    tried, transforms = {}, 0

    def pair(v, ks):
        nonlocal transforms
        ks = [k for k in ks if 0 <= k < COUNT and (v, k) not in tried]
        for k in ks:
            tried[v, k] = peaks[v, k]
        transforms += (len(ks) + 1) // 2

    for v in sorted({v for v, _ in peaks}):
        first = list(range((COUNT // 2) % stride, COUNT, stride))
        pair(v, first)
        if view:
            b = max(first, key=lambda k: peaks[v, k][0])
            pair(v, [b - 1, b + 1])
    for v, k in sorted(tried, key=lambda vk: -tried[vk][0])[:seeds]:
        for _ in range(steps):
            pair(v, [k - 1, k + 1])
            nxt = max((j for j in (k - 1, k, k + 1) if (v, j) in tried), key=lambda j: tried[v, j][0])
            if nxt == k:
                break
            k = nxt
    top = sorted(((h, v, k, dy, dx) for (v, k), (h, dy, dx) in tried.items()), reverse=True)[:cands]
    return top, transforms


def evaluate(name, stride=3, view=1, seeds=0, steps=1, cands=8):
    n = found = lost = won = won_oracle = dropped = transforms = covered = 0
    for key, peaks in surf.items():
        top, t = replay(peaks, stride, view, seeds, steps, cands)
        n += 1
        transforms += t
        hit = any(at_truth(key, v, (k - COUNT // 2) * STEP, dy, dx) for _, v, k, dy, dx in top)
        if not sure(key):
            continue
        covered += 1
        found += hit
        m = final.get(key)
        if m and score.get(key, -1) > a.level and at_truth(key, *m[:4]):
            dropped += not hit
        if score.get(key, -1) <= a.level and not any(at_truth(key, *p[:4]) for p in aligns[key]):
            lost += 1
            won += hit
            won_oracle += hit and key in oracle and oracle[key][4] > a.level
    print(f"{name:12s} transforms {transforms / max(n, 1):5.1f}  found {found}/{covered}  "
          f"won {won}/{lost} (oracle passes {won_oracle})  dropped {dropped}")


evaluate("library")
for o in a.orders:
    name, _, settings = o.partition(":")
    evaluate(name, **{k: int(v) for k, v in (x.split("=") for x in settings.split(",") if x)})
