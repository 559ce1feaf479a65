#!/usr/bin/python3
"""Do generated fingers behave like real ones to the matcher?

Puts side by side, for pools of generated fingers (fpalg-genpool JSON) and
the real image sets (an fpalg-eval CSV of the benchmark's crops, with the
crops' .idx naming each finger's set):
  * genuine FRR at score > 45 (a rejected probe fails), per real set too;
  * impostor comparisons above 45, counted and projected: the harness's
    geometric fit of the integer scores above the level the top
    max(50, 0.1 %) exceed;
  * the 99th, 99.9th and 99.99th percentiles of the impostor raw evidence;
  * for a generated pool, how often its top impostor pairs share a pattern
    class, against all its pairs (look-alike flow within a class).
Then each generated pool against the targets: projected rate within 10x of
the real sets', percentiles within 25 %, FRR between the easiest and the
hardest real set. The real reference is the sets that are not synthetic
(no "_db4_" in the name); the synthetic ones are listed for comparison.

usage: fpgen_fidelity.py [--eval EVAL.csv --idx CROPS.idx] POOL.json...
"""
import argparse
import csv
import json
import math
import sys

import numpy as np

THRESHOLD = 45
QUANTILES = (99.0, 99.9, 99.99)


def projected_rate(hist, n):
    """Harness tail model on integer scores: FAR(> THRESHOLD)."""
    hist = np.asarray(hist, dtype=float)
    top = max(50, int(math.ceil(0.001 * n)))
    above = np.cumsum(hist[::-1])[::-1]  # above[s] = count with score >= s
    u = next((s for s in range(len(hist)) if above[s] <= top), len(hist) - 1)
    u = max(u - 1, 0)  # the level the top ones exceed
    n_u = above[u + 1] if u + 1 < len(hist) else 0
    if n_u == 0:
        return 0.0
    scores = np.arange(len(hist))
    sel = scores > u
    mean_excess = float((hist[sel] * (scores[sel] - u)).sum() / n_u)
    q = 1.0 - 1.0 / max(mean_excess, 1.0 + 1e-9)  # geometric: P(excess > k) = q^k
    if THRESHOLD <= u:
        return float(above[THRESHOLD + 1] / n)
    return float(n_u / n * q ** (THRESHOLD - u))


def quantiles(top_raw, n):
    """Percentiles of the full impostor raw distribution from its top values."""
    top = np.sort(np.asarray(top_raw, dtype=float))[::-1]
    out = []
    for q in QUANTILES:
        k = int(round((1 - q / 100.0) * n))  # values above the percentile
        out.append(float(top[k]) if 0 <= k < len(top) else float("nan"))
    return out


def summary(name, gen_fail, gen_count, imp_hist, imp_n, top_raw):
    return {
        "name": name,
        "frr": gen_fail / gen_count if gen_count else float("nan"),
        "genuine": gen_count,
        "impostor": imp_n,
        "above": int(sum(imp_hist[THRESHOLD + 1:])),
        "projected": projected_rate(imp_hist, imp_n) if imp_n else float("nan"),
        "q": quantiles(top_raw, imp_n) if imp_n else [float("nan")] * 3,
    }


def same_class(d, top):
    """Share of the `top` highest impostor pairs whose fingers share a pattern class, and the
    share expected if class did not matter; None for a pool without classes."""
    cls = d.get("classes")
    if not cls:
        return None
    probe_finger = [p[0] for p in d["probes"]]
    tail = d["tail"][:top]
    seen = sum(cls[probe_finger[p]] == cls[t] for p, t, _ in tail) / max(1, len(tail))
    counts = {}
    for c in cls:
        counts[c] = counts.get(c, 0) + 1
    n = len(cls)
    return seen, sum(k * (k - 1) for k in counts.values()) / (n * (n - 1)), len(tail)


def read_pool(path):
    d = json.load(open(path))
    g = d["genuine"]
    gen_fail = g["count"] - g["accepted"]
    top = [t[2] for t in d["tail"]]
    name = f"generated {d.get('style', '?')} seed {d['seed']} ({d['fingers']} fingers)"
    r = summary(name, gen_fail, g["count"], d["impostor"]["histogram"], d["impostor"]["count"], top)
    r["same_class"] = same_class(d, max(50, int(math.ceil(0.001 * d["impostor"]["count"]))))
    return r


def read_eval(path, idx_path):
    sets = [line.split()[0].split("/")[0] for line in open(idx_path)]
    per = {}
    for r in csv.DictReader(open(path)):
        if r["kind"] != "rejected" and not r.get("score"):
            continue  # a line cut short (a run still writing)
        s = sets[int(r["probe_finger"])]
        e = per.setdefault(s, {"gf": 0, "gc": 0, "hist": np.zeros(101), "raw": []})
        if r["kind"] == "rejected":
            e["gf"] += 1
            e["gc"] += 1
        elif r["kind"] == "genuine":
            e["gc"] += 1
            e["gf"] += int(r["score"]) <= THRESHOLD
        elif r["kind"] == "impostor":
            e["hist"][min(100, max(0, int(r["score"])))] += 1
            e["raw"].append(float(r["raw"]))
    rows = []
    for s in sorted(per):
        e = per[s]
        rows.append(summary(s, e["gf"], e["gc"], e["hist"], int(e["hist"].sum()), e["raw"]))
    real = [s for s in sorted(per) if "_db4_" not in s]
    if real:
        hist = sum(per[s]["hist"] for s in real)
        raw = [x for s in real for x in per[s]["raw"]]
        pooled = summary("real sets pooled", sum(per[s]["gf"] for s in real), sum(per[s]["gc"] for s in real), hist,
                         int(hist.sum()), raw)
    else:
        pooled = None
    return rows, pooled, [r for r in rows if r["name"] in real]


def show(r):
    q = " ".join(f"{x:7.2f}" for x in r["q"])
    print(f"{r['name']:44s} {100 * r['frr']:6.1f} % {r['genuine']:7d} {r['impostor']:9d} {r['above']:6d} "
          f"{r['above'] / max(1, r['impostor']):9.2e} {r['projected']:9.2e}  {q}")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--eval")
    ap.add_argument("--idx")
    ap.add_argument("pools", nargs="*")
    a = ap.parse_args()
    print(f"{'pool':44s} {'FRR>45':>8s} {'genuine':>7s} {'impostor':>9s} {'>45':>6s} {'counted':>9s} "
          f"{'projected':>9s}  raw p99 p99.9 p99.99")
    ref = None
    real_rows = []
    if a.eval and a.idx:
        rows, ref, real_rows = read_eval(a.eval, a.idx)
        for r in rows:
            show(r)
        if ref:
            show(ref)
    pools = [read_pool(p) for p in a.pools]
    for p in pools:
        show(p)
    for p in pools:
        if p["same_class"]:
            seen, expected, n = p["same_class"]
            print(f"{p['name']}: the top {n} impostor pairs share a pattern class in {100 * seen:.0f} % "
                  f"(all pairs: {100 * expected:.0f} %)")
    if not ref or not pools:
        return 0
    lo = min(r["frr"] for r in real_rows)
    hi = max(r["frr"] for r in real_rows)
    print(f"targets: projected rate within 10x of {ref['projected']:.2e}; raw percentiles within 25 % of "
          + ", ".join(f"{x:.2f}" for x in ref["q"]) + f"; FRR between {100 * lo:.1f} and {100 * hi:.1f} %")
    for p in pools:
        ratio = p["projected"] / ref["projected"] if ref["projected"] > 0 else float("inf")
        dev = [p["q"][i] / ref["q"][i] - 1 for i in range(3)]
        ok = (0.1 <= ratio <= 10, all(abs(d) <= 0.25 for d in dev), lo <= p["frr"] <= hi)
        print(f"{p['name']}: rate x{ratio:.2g} ({'ok' if ok[0] else 'MISSED'}), percentiles "
              + " ".join(f"{100 * d:+.0f} %" for d in dev) + f" ({'ok' if ok[1] else 'MISSED'}), FRR "
              f"{100 * p['frr']:.1f} % ({'ok' if ok[2] else 'MISSED'})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
