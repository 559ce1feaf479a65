#!/usr/bin/python3
"""Weights of the matcher's learned stage (fpalg/learned_stage.*): a logistic
regression over the score terms of the best alignment, trained on genuine and
impostor pairs of fpalg-eval CSVs, validated leave-one-set-out.

The evidence the library computes by hand (block agreement beyond
self-similarity, rigid share, overlap, coarse peak, minutiae) stays one of the
inputs; the other terms (ridge direction and spacing agreement, good-block
share, the evidence of the best other pose, union area, ambiguity) may correct
it where it is weak, on noisy small overlaps. The stage's output, the
regression's log-odds above a floor, is the raw evidence the score scale's
knots are fitted on (fpalg_tailfit.py).

Impostor pairs are weighted by how high the hand-made evidence puts them, so
that the fit looks at the tail that decides the threshold rather than at the
mass of impostors no one would confuse.

For each held-out set: genuine FRR at the level the other sets' impostors
reach at FAR 1/10,000 (counted) and at a projected 2e-6 (exponential tail of
the top 0.1 %), the learned stage against the hand-made evidence.

The weights of record are trained on the real sets only: generated and
synthetic fingers differ from real ones in ways a regression learns readily
(with them in training every real set held out got worse), and they stay a
check on fingers of a kind never trained on.

usage: fpalg_learn.py CROPS.idx EVAL.csv... [--train-without SET,...] [--write fpalg/learned_weights.h]
  bench/fpalg_crops.py /tmp/crops ../shared/fpdata/*/
  build/fpalg/fpalg-eval /tmp/crops /tmp/eval.0.csv 1 2 0 & build/fpalg/fpalg-eval /tmp/crops /tmp/eval.1.csv 1 2 1
  bench/fpalg_learn.py /tmp/crops.idx /tmp/eval.[01].csv \
      --train-without fvc2000_db4_b,fvc2002_db4_b,fvc2004_db4_b --write fpalg/learned_weights.h
(the terms do not depend on the weights, so any build's CSVs serve; skips
with exit 0 when a CSV is absent)
"""
import argparse
import csv
import math
import os
import sys

import numpy as np

ap = argparse.ArgumentParser()
ap.add_argument("idx")
ap.add_argument("evals", nargs="+")
ap.add_argument("--write", help="header to write the weights to (trained on all sets)")
ap.add_argument("--l2", type=float, default=1.0)
ap.add_argument("--detail-floor", type=float, default=None,
                help="simulate minutiae looked for only at this rigid evidence (default: the library's)")
ap.add_argument("--imp-power", type=float, default=1.0, help="impostors weigh (1 + evidence) to this power")
ap.add_argument("--train-without", default="", help="sets (comma-separated) never trained on")
ap.add_argument("--features", default=None, help="comma-separated subset of the feature names")
a = ap.parse_args()

for p in [a.idx] + a.evals:
    if not os.path.exists(p):
        print(f"fpalg_learn: skipped, {p} absent")
        sys.exit(0)

# --- the library's constants this script mirrors ----------------------------
AMB_WEIGHT, PEAK_WEIGHT, PAIRS_FULL = 0.5, 3.0, 3
ELASTIC_FLOOR = 2.0
RAW_THRESHOLD = 24.24
DETAIL_FLOOR = a.detail_floor if a.detail_floor is not None else 0.35 * RAW_THRESHOLD

sets_of = []
for line in open(a.idx):
    name = line.split()[0]
    sets_of.append(name.rsplit("/", 1)[0])
sets_of = np.array(sets_of)

cols = {}
rows = []
for path in a.evals:
    with open(path, newline="") as f:
        r = csv.reader(f)
        head = next(r)
        for row in r:
            if row[3] == "same":
                continue
            rows.append(row)
        cols = {k: i for i, k in enumerate(head)}


def col(name, rs, kind=float, default=0.0):
    i = cols[name]
    return np.array([kind(x[i]) if len(x) > i and x[i] != "" else default for x in rs])


kind = np.array([r[3][0] for r in rows])
pf = col("probe_finger", rows, int)
tp = col("template", rows, int)
probe_set = sets_of[pf]
tpl_set = np.where(tp >= 0, sets_of[np.maximum(tp, 0)], "")
gen = (kind == "g") | (kind == "r")
imp = kind == "i"

bn = col("block_ncc", rows)
amb = col("amb", rows)
ncc = col("ncc", rows)
blocks = col("blocks", rows)
good = col("good", rows)
peak = col("peak", rows)
mq = col("mq", rows)
ms = col("ms", rows)
mp = col("mp", rows)
rbn = col("rbn", rows)
union = col("union", rows)
overlap = col("overlap", rows)
fc = col("fc", rows)
fd = col("fd", rows)
fs = col("fs", rows, default=1.0)
runner = col("runner", rows)
rraw = col("rraw", rows)
dc = col("dc", rows, int)
# fpalg-eval CSVs of an earlier build lack the column; minutiae were looked for there whenever the elastic fit ran.
staged_col = col("staged", rows, int) if "staged" in cols else dc

# The library's own evidence, as it would be with minutiae looked for only above DETAIL_FLOOR.
checked = (dc == 1) & (rraw >= DETAIL_FLOOR)
detail = np.where(checked, np.sqrt(np.minimum(1.0, (mq + 1) / (PAIRS_FULL + 1))), 0.5)
base = np.where(kind == "r", -np.inf, rraw * detail)
mq_c = np.where(checked, mq, 0)
ms_c = np.where(checked, ms, 0)
mp_c = np.where(checked, mp, 0)
staged = (staged_col == 1) & (kind != "r")  # pairs the learned stage sees (the elastic fit ran)


def features():
    disc = AMB_WEIGHT * amb
    b = np.maximum(0.0, bn - disc) / (1 - disc)
    rigid = np.where(bn > 0, np.clip(ncc / np.where(bn > 0, bn, 1), 0, 1), 0)
    eps = 1e-3
    f = {
        "log_base": np.log(np.maximum(base, eps)),
        "log_b": np.log(np.maximum(b, 0.02)),
        "log_rigid": np.log(np.maximum(rigid, 0.02)),
        "log_blocks": np.log(np.maximum(blocks, 1)),
        "log_peak": np.log1p(PEAK_WEIGHT * np.maximum(peak, 0)),
        "good_share": good / np.maximum(blocks, 1),
        "elastic_gain": bn - rbn,
        "amb": amb,
        "pairs": np.log1p(mq_c),
        "pair_share": mq_c / np.maximum(1, np.minimum(ms_c, mp_c)),
        "unpaired": np.log1p(np.maximum(0, np.minimum(ms_c, mp_c) - mq_c)),
        "checked": checked.astype(float),
        "flow_dir": np.where(fc > 0, fd, 0),
        "flow_space": np.where(fc > 0, fs, 0.5),
        "log_cells": np.log1p(fc),
        "runner": np.log((runner + 0.5) / (rraw + 0.5)),
        "union_share": union / np.maximum(overlap, 1),
    }
    return f


F = features()
names = a.features.split(",") if a.features else list(F)
X = np.stack([F[n] for n in names], 1)
y = gen.astype(float)


def fit(Xt, yt, wt, l2):
    """Weighted, L2-penalised logistic regression by Newton's method on standardised inputs."""
    mu, sd = Xt.mean(0), Xt.std(0) + 1e-9
    Z = np.hstack([(Xt - mu) / sd, np.ones((len(Xt), 1))])
    w = np.zeros(Z.shape[1])
    reg = np.full(Z.shape[1], l2)
    reg[-1] = 0
    for _ in range(50):
        p = 1 / (1 + np.exp(-np.clip(Z @ w, -30, 30)))
        g = Z.T @ (wt * (p - yt)) + reg * w
        H = (Z * (wt * p * (1 - p))[:, None]).T @ Z + np.diag(reg)
        step = np.linalg.solve(H, g)
        w -= step
        if np.abs(step).max() < 1e-8:
            break
    coef = w[:-1] / sd
    return coef, w[-1] - coef @ mu


def weights_for(m):
    """Genuine pairs weigh as many as impostors in all; among impostors the ones the
    hand-made evidence puts high weigh more."""
    w = np.ones(m.sum())
    yi = y[m]
    bi = base[m]
    imp_w = (1.0 + np.clip(bi, 0, None)) ** a.imp_power
    w = np.where(yi == 0, imp_w, 1.0)
    w[yi == 1] *= w[yi == 0].sum() / max(1, (yi == 1).sum())
    return w


def tail_level(values, n_total, p):
    """Exponential peaks-over-threshold level with FMR p (values: the impostors' scores)."""
    v = np.sort(values)[::-1]
    k = max(50, int(math.ceil(1e-3 * n_total)))
    if len(v) <= k:
        return float(v[0])
    u = v[k]
    exc = v[:k] - u
    return float(u + exc.mean() * math.log(k / (n_total * p)))


def counted_level(values, p):
    v = np.sort(values)[::-1]
    i = int(p * len(v))
    return float(v[i])


def fit_model(m):
    """Weights, and the log-odds to raw-evidence map: the log-odds the hand-made
    evidence alone gives are c0 log(raw) + b0, so exp((z - b0) / c0) puts the
    stage's log-odds z on the hand-made scale (a mere power of the evidence
    would move the projected tail without telling fingers apart any better)."""
    coef, icpt = fit(X[m], y[m], weights_for(m), a.l2)
    Xb = F["log_base"][m][:, None]
    (c0,), b0 = fit(Xb, y[m], weights_for(m), a.l2)
    return coef, icpt - b0, 1.0 / c0


def score(model, m):
    """The stage's output on the hand-made scale, and nothing for pairs it never sees."""
    coef, icpt, scale = model
    z = (X[m] @ coef + icpt) * scale
    return np.where(staged[m], np.exp(np.clip(z, -30, 30)), 0.0)


set_names = sorted(set(sets_of))
left_out = [x for x in a.train_without.split(",") if x]
trainable = ~np.isin(probe_set, left_out) & ~np.isin(tpl_set, left_out)
print(f"{gen.sum()} genuine, {imp.sum()} impostor pairs; {staged[imp].mean():.3f} of impostors reach the stage; "
      f"minutiae looked for at rigid evidence >= {DETAIL_FLOOR:.2f}")
print("features:", ", ".join(names))
print("FRR of each held-out set at the level the other sets' impostors reach (hand / learned)")
print("| held-out set | genuine | FAR 1e-4 counted | FAR 3e-5 counted | FAR 2e-6 projected |")
print("|---" * 5 + "|")
res = []
for s in set_names:
    train_fit = (probe_set != s) & ((tpl_set != s) | gen) & staged & trainable
    model = fit_model(train_fit)
    imp_tr = imp & (probe_set != s) & (tpl_set != s)
    gen_te = gen & (probe_set == s)
    row = [s, int(gen_te.sum())]
    out = []
    for name, vals_imp, vals_gen in (
            ("hand", np.maximum(base[imp_tr], 0), base[gen_te]),
            ("learned", score(model, imp_tr), score(model, gen_te))):
        out.append((100 * np.mean(vals_gen <= counted_level(vals_imp, 1e-4)),
                    100 * np.mean(vals_gen <= counted_level(vals_imp, 3e-5)),
                    100 * np.mean(vals_gen <= tail_level(vals_imp, len(vals_imp), 2e-6))))
    row += [out[0][0], out[1][0], out[0][1], out[1][1], out[0][2], out[1][2]]
    res.append(row)
    print(f"| {s} | {row[1]} | {row[2]:.1f} / {row[3]:.1f} | {row[4]:.1f} / {row[5]:.1f} | {row[6]:.1f} / {row[7]:.1f} |")
r = np.array([x[2:] for x in res])
m = r.mean(0)
print(f"| mean | | {m[0]:.1f} / {m[1]:.1f} | {m[2]:.1f} / {m[3]:.1f} | {m[4]:.1f} / {m[5]:.1f} |")

coef, icpt, scale = fit_model(staged & trainable)
print("weights on all sets:", ", ".join(f"{n} {c * scale:+.4f}" for n, c in zip(names, coef)),
      f"intercept {icpt * scale:+.4f}")

if a.write:
    if names != list(F):
        sys.exit("--write needs every feature")
    enum = ["k" + "".join(w.capitalize() for w in n.split("_")) for n in names]
    trained = ", ".join(x for x in set_names if x not in left_out)
    with open(a.write, "w") as f:
        f.write("// Weights of the learned stage, written by bench/fpalg_learn.py (do not edit):\n")
        opts = f" --train-without {a.train_without}" if a.train_without else ""
        f.write(f"//   bench/fpalg_learn.py CROPS.idx EVAL.csv...{opts}\n//       --write fpalg/learned_weights.h\n")
        f.write(f"// trained on {trained};\n// {int((staged & trainable & gen).sum())} genuine and "
                f"{int((staged & trainable & imp).sum())} impostor pairs.\n")
        f.write("#pragma once\n\nnamespace fpalg::learned {\n\n")
        f.write("enum Input {\n" + "".join(f"    {e},\n" for e in enum) + "    kInputs\n};\n\n")
        f.write("// clang-format off\ninline constexpr float kWeights[kInputs] = {\n")
        f.write("".join(f"    {c * scale:.9g}f,  // {n}\n" for n, c in zip(names, coef)) + "};\n// clang-format on\n")
        f.write(f"inline constexpr float kIntercept = {icpt * scale:.9g}f;\n\n}}  // namespace fpalg::learned\n")
    print("wrote", a.write)
