#!/usr/bin/python3
"""Knots of the matcher's score scale from the tail of a large impostor pool.

The threshold (score 46) must hold the false match rate at or below 2e-6
per comparison, far beyond what even millions of comparisons show twice, so
it is projected from a fit of the impostor raw-evidence tail, never taken
from the highest impostor seen:

- Peaks over a threshold, as the benchmark harness does for scores: u is the level
  the top max(50, 0.1 %) impostors exceed, the excesses over u are fit with
  an exponential (the harness's model, one parameter, so the long
  extrapolation from 1e-3 to 2e-6 stays steady) and with a generalised
  Pareto (GPD) as a check on its shape. When the GPD shape is above 0 with
  95 % confidence the tail is heavier than exponential and the GPD is used.
- The 95 % interval comes from resampling whole probes and whole templates
  (each pair weighted by how often both were drawn): one probe's scores
  against many templates rise and fall together, and so do one template's
  against many probes; treating comparisons as independent would make the
  interval too narrow.
- kRaw30 is the raw value 1 impostor in 1,000 exceeds (counted),
  kRawThreshold the upper end of the interval for 2e-6 times a margin for
  users unlike any seen, kRawTop twice that.

Inputs are fpalg-eval CSVs (one pool; --idx names the crops' .idx so that
pairs fall into sets) and/or fpalg-genpool JSON files (one pool each). The
proposal takes the highest threshold any pool asks for. Also prints the
genuine FRR per set at the proposed threshold and at the pooled FAR
1/10,000 and 1/50,000 thresholds; --loso refits on seven sets of the
eval pool and reports the eighth.

usage: fpalg_tailfit.py [--idx CROPS.idx] [--margin M] [--loso] INPUT.csv|INPUT.json...
"""
import argparse
import csv
import json
import math
import os
import re
import sys

import numpy as np

# The knots the library uses today, read from params.h for comparison.
PARAMS_H = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fpalg", "params.h")
TARGET = 2e-6          # false matches per comparison allowed at score 46
FMR_30 = 1e-3          # false matches per comparison at score 30
FAR_TARGETS = (1e-4, 2e-5)


# --- pools -------------------------------------------------------------------

class Pool:
    """Impostor raw values (all of them, or only the highest) with the probe and the
    template of each pair, the impostor comparisons per probe, and the genuine attempts."""

    def __init__(self, name, n_imp, imp_raw, imp_probe, imp_tpl, probe_counts, templates, gen_raw, gen_set,
                 imp_sets=None):
        self.name = name
        self.n = int(n_imp)                    # impostor comparisons in all
        self.complete = len(imp_raw) == self.n
        order = np.argsort(-imp_raw, kind="stable")
        self.raw = imp_raw[order]              # stored impostor raw values, highest first
        self.probe = imp_probe[order]
        self.tpl = imp_tpl[order]
        self.counts = probe_counts             # impostor comparisons of each probe
        self.templates = templates             # templates compared with
        self.gen_raw = gen_raw                 # -inf for a probe that gave no template
        self.gen_set = gen_set
        self.imp_sets = None if imp_sets is None else (imp_sets[0][order], imp_sets[1][order])

    def subset(self, name, keep_imp, keep_gen):
        """The pool restricted to some impostor pairs (all of them stored) and genuine attempts."""
        counts = np.bincount(self.probe[keep_imp], minlength=len(self.counts))
        return Pool(name, counts.sum(), self.raw[keep_imp], self.probe[keep_imp], self.tpl[keep_imp], counts,
                    self.templates, self.gen_raw[keep_gen], self.gen_set[keep_gen])


def read_idx(path):
    sets = []
    with open(path) as f:
        for line in f:
            name = line.split()[0]
            sets.append(name.rsplit("/", 1)[0] if "/" in name else name)
    return sets


def load_csvs(paths, idx):
    """fpalg-eval CSVs (columns read by name) as one pool."""
    pf, pi, tp, kind, raw = [], [], [], [], []
    for path in paths:
        with open(path, newline="") as f:
            r = csv.reader(f)
            head = next(r)
            c = {k: head.index(k) for k in ("probe_finger", "probe", "template", "kind", "raw")}
            for row in r:
                pf.append(int(row[c["probe_finger"]]))
                pi.append(int(row[c["probe"]]))
                tp.append(int(row[c["template"]]))
                kind.append(row[c["kind"]][0])
                raw.append(float(row[c["raw"]]) if row[c["raw"]] else -np.inf)
    pf, pi, tp, raw = np.array(pf), np.array(pi), np.array(tp), np.array(raw)
    kind = np.array(kind)
    fingers = max(pf.max(), tp.max()) + 1
    set_names = read_idx(idx) if idx else ["all"] * fingers
    if len(set_names) < fingers:
        sys.exit(f"{idx} has {len(set_names)} fingers, the CSV names finger {fingers - 1}")
    labels, finger_set = np.unique(np.array(set_names), return_inverse=True)
    _, probe_id = np.unique(pf * 100000 + pi, return_inverse=True)
    nprobe = probe_id.max() + 1
    imp = kind == "i"
    gen = (kind == "g") | (kind == "r")        # a rejected probe fails its genuine attempt
    raw = np.where(kind == "r", -np.inf, raw)
    counts = np.bincount(probe_id[imp], minlength=nprobe)
    pool = Pool(" + ".join(os.path.basename(p) for p in paths), imp.sum(), raw[imp], probe_id[imp], tp[imp], counts, fingers,
                raw[gen], labels[finger_set[pf[gen]]],
                imp_sets=(finger_set[pf[imp]], finger_set[tp[imp]]))
    pool.labels = labels
    return pool


def load_genpool(path):
    with open(path) as f:
        d = json.load(f)
    probes = d["probes"]
    counts = np.array([p[2] for p in probes])
    # Genuine attempts: probes of enrolled fingers; rejected ones fail.
    fte = set(d["fte_fingers"])
    gen_raw = np.array([-np.inf if p[3] is None else p[3] for p in probes if p[0] not in fte], float)
    tail = np.array(d["tail"], float).reshape(-1, 3)
    pool = Pool(os.path.basename(path), d["impostor"]["count"], tail[:, 2], tail[:, 0].astype(int),
                tail[:, 1].astype(int), counts, d["fingers"],
                gen_raw, np.array(["generated"] * len(gen_raw)))
    pool.labels = np.array(["generated"])
    pool.summary = (f"{d['fingers']} generated fingers (seed {d['seed']}, FTE {d['fte']}), "
                    f"{d['impostor']['above_threshold']} of {d['impostor']['count']} impostor scores above 45")
    return pool


# --- the tail fit ------------------------------------------------------------

def gpd_fit(x):
    """Maximum-likelihood generalised Pareto (shape xi, scale sigma) of excesses x > 0,
    by the profile likelihood in theta = xi / sigma (Grimshaw 1993)."""
    k, xmax, mean = len(x), x.max(), x.mean()

    def profile(s):          # s = theta * xmax, in (-1, inf)
        if abs(s) < 1e-9:
            return -k * math.log(mean) - k, 0.0, mean
        xi = float(np.mean(np.log1p(s / xmax * x)))
        sigma = xi / (s / xmax)
        if not sigma > 0 or xi < -1:        # below -1 the likelihood has no maximum
            return -np.inf, xi, sigma
        return -k * math.log(sigma) - k * (1 + xi), xi, sigma

    grid = np.concatenate([-1 + np.logspace(-6, 0, 60)[:-1], [0.0], np.logspace(-4, 4, 160)])
    ll = [profile(s)[0] for s in grid]
    j = int(np.argmax(ll))
    lo, hi = grid[max(j - 1, 0)], grid[min(j + 1, len(grid) - 1)]
    for _ in range(60):      # golden section between the grid neighbours
        a, b = hi - (hi - lo) / 1.618034, lo + (hi - lo) / 1.618034
        if profile(a)[0] > profile(b)[0]:
            hi = b
        else:
            lo = a
    _, xi, sigma = profile((lo + hi) / 2)
    return xi, sigma


def fit_tail(desc, n, share, min_tail, model):
    """Peaks over threshold on impostor raw values `desc` (the highest ones, highest
    first) out of n comparisons. Returns u, k, the exponential's mean excess, the GPD's
    shape and scale, and a function giving the raw level with FMR p under `model`."""
    k_want = max(min_tail, int(math.ceil(share * n)))
    if n < 20 * k_want or len(desc) <= k_want:   # as the harness: u must lie in the far tail
        return None
    u = desc[k_want]
    exc = desc[desc > u] - u
    k = len(exc)
    if k < min_tail // 2:
        return None
    mean = float(exc.mean())
    xi, sigma = gpd_fit(exc)

    def level(p, use):
        if p >= k / n:
            return float(desc[int(p * n)])
        r = k / (n * p)
        if use == "gpd" and abs(xi) > 1e-6:
            return u + sigma / xi * (r ** xi - 1)
        return u + mean * math.log(r)

    def fmr(t, use):
        if t <= u:
            return float(np.count_nonzero(desc > t)) / n
        if use == "gpd" and abs(xi) > 1e-6:
            z = 1 + xi * (t - u) / sigma
            return 0.0 if z <= 0 else k / n * z ** (-1 / xi)
        return k / n * math.exp(-(t - u) / mean)

    return {"u": float(u), "k": k, "mean": mean, "xi": xi, "sigma": sigma, "level": level, "fmr": fmr}


def chi2_lower(p_low, dof):
    z = 1.959964 if p_low == 0.025 else 1.644854
    return dof * (1 - 2 / (9 * dof) - z * math.sqrt(2 / (9 * dof))) ** 3


def estimate(pool, args, rng, boots):
    """Fit, model choice and resampled 95 % interval of the raw level at FMR `TARGET`."""
    fit = fit_tail(pool.raw, pool.n, args.tail_share, args.min_tail, args.model)
    if fit is None:
        return None
    # Resample whole probes and whole templates: every pair of a drawn probe with a drawn
    # template comes along, as often as both were drawn.
    live = np.flatnonzero(pool.counts > 0)
    # Only the highest values can reach a resample's tail: 20 times its expected size.
    top = 20 * max(args.min_tail, int(math.ceil(args.tail_share * pool.n)))
    levels = {"exp": [], "gpd": []}
    xis = []
    for _ in range(boots):
        wp = np.zeros(len(pool.counts), int)
        wp[live] = rng.multinomial(len(live), np.full(len(live), 1 / len(live)))
        wt = rng.multinomial(pool.templates, np.full(pool.templates, 1 / pool.templates)) \
            if args.resample == "both" else np.ones(pool.templates, int)
        w = wp[pool.probe] * wt[pool.tpl]
        # Comparisons in the resample: exact when every pair is stored, else each probe's
        # count scaled by the mean template weight of its pool (1 but for the own finger).
        n_b = int(w.sum()) if pool.complete else int(wp @ pool.counts)
        vals = np.repeat(pool.raw[:top], w[:top])   # stays highest first
        f = fit_tail(vals, n_b, args.tail_share, args.min_tail, args.model)
        if f is None:
            continue
        for m in levels:
            levels[m].append(f["level"](TARGET, m))
        xis.append(f["xi"])
    if len(xis) < boots // 2:
        return None
    xi_lo, xi_hi = np.percentile(xis, [2.5, 97.5])
    use = args.model if args.model != "auto" else ("gpd" if xi_lo > 0 else "exp")
    lo, hi = np.percentile(levels[use], [2.5, 97.5])
    # The bound as if comparisons were independent (the harness's chi-square on the mean
    # excess and a Poisson bound on the count above u), for comparison.
    k = fit["k"]
    mean_hi = 2 * k * fit["mean"] / chi2_lower(0.025, 2 * k)
    iid_hi = fit["u"] + mean_hi * math.log((k + 1.96 * math.sqrt(k) + 1) / (pool.n * TARGET))
    return dict(fit, use=use, est=fit["level"](TARGET, use), lo=float(lo), hi=float(hi), xi_ci=(xi_lo, xi_hi),
                boots=len(xis), iid_hi=iid_hi, raw30=fit["level"](FMR_30, "exp"))


# --- reports -----------------------------------------------------------------

def far_threshold(pool, target):
    """The harness's rule: the lowest observed level with FAR <= target (match: raw > level),
    given only with at least 3/target comparisons."""
    if pool.n < 3 / target or len(pool.raw) <= int(target * pool.n):
        return None
    return float(pool.raw[int(target * pool.n)])


def current_knots():
    knots = {}
    try:
        with open(PARAMS_H) as f:
            for m in re.finditer(r"(kRaw\w+)\s*=\s*([0-9.]+)f", f.read()):
                knots[m.group(1)] = float(m.group(2))
    except OSError:
        pass
    return knots


def frr(gen, level, inclusive):
    """Share of genuine attempts not matched: raw < level at the score threshold (a raw value
    at the knot scores 46), raw <= level at a FAR threshold (match: raw above every level
    that many impostors reach)."""
    if len(gen) == 0 or level is None:
        return None
    return float(np.mean(gen < level) if inclusive else np.mean(gen <= level))


def fmt(x, layout):
    return "n/a" if x is None else format(x, layout)


def pct(x):
    return "  n/a" if x is None else f"{100 * x:5.1f}"


def is_real(label):
    return "db4" not in label and label != "generated"


def describe(pool, e, units, margin):
    print(f"{pool.name}: {pool.n:,} impostor comparisons from {np.count_nonzero(pool.counts)} probes, "
          f"{len(pool.gen_raw):,} genuine attempts ({np.count_nonzero(np.isinf(pool.gen_raw))} probes gave no template)")
    if hasattr(pool, "summary"):
        print(f"  {pool.summary}")
    if e is None:
        print("  too few impostor comparisons to fit the tail")
        return
    print(f"  tail: the top {e['k']} values above u = {e['u']:.3f}; exponential mean excess {e['mean']:.3f}; "
          f"GPD shape {e['xi']:+.3f} (95 %: {e['xi_ci'][0]:+.3f} .. {e['xi_ci'][1]:+.3f}), scale {e['sigma']:.3f} "
          f"-> {'GPD' if e['use'] == 'gpd' else 'exponential'}")
    print(f"  raw at FMR 1e-3: {e['raw30']:.3f} (counted)")
    print(f"  raw at FMR {TARGET:g}: {e['est']:.3f}, 95 % interval {e['lo']:.3f} .. {e['hi']:.3f} "
          f"({e['boots']} resamples of whole {units}; the harness's bound as if pairs were independent: "
          f"{e['iid_hi']:.3f})")
    print(f"  threshold this pool asks for: {e['hi']:.3f} x margin {margin:g} = {e['hi'] * margin:.3f}")
    seen = np.count_nonzero(pool.raw >= e["hi"])
    print(f"  impostors at or above the interval's upper end: {seen} of {pool.n:,}; highest impostor raw "
          f"{pool.raw[0]:.3f}")


def per_set_table(pool, thr):
    fars = [far_threshold(pool, t) for t in FAR_TARGETS]
    print(f"  {'set':28s} {'attempts':>8s} {'FRR at thr':>10s} " +
          " ".join(f"{'FAR 1/' + str(round(1 / t)):>11s}" for t in FAR_TARGETS))
    print(f"  {'(pooled FAR level, raw)':28s} {'':8s} {thr:10.3f} " +
          " ".join(f"{fmt(f, '.3f'):>11s}" for f in fars))
    real = []
    for label in pool.labels:
        g = pool.gen_raw[pool.gen_set == label]
        row = [frr(g, thr, True)] + [frr(g, f, False) for f in fars]
        if is_real(label):
            real.append((row, label))
        print(f"  {label:28s} {len(g):8d} {pct(row[0]):>10s} " + " ".join(f"{pct(x):>11s}" for x in row[1:]))
    if len(real) > 1:
        for c, head in enumerate(["at thr"] + [f"at FAR 1/{round(1 / t)}" for t in FAR_TARGETS]):
            vals = [(r[c], lab) for r, lab in real if r[c] is not None]
            if vals:
                worst = max(vals)
                print(f"  real sets ({len(real)}), FRR {head}: mean {pct(np.mean([v for v, _ in vals])).strip()} %, "
                      f"worst {pct(worst[0]).strip()} % ({worst[1]})")


def loso(pool, args, rng):
    """Each set in turn left out: the FAR 1/10,000 level and the knots fit on the pairs
    whose probe and template both lie in the other sets, the left-out set's genuine FRR
    there, and how its own impostor pairs (probe or template in it) fare at that level."""
    print(f"\nleave one set out ({pool.name}): levels fit without the set, its genuine FRR (%) there;")
    print("  'own FAR' counts its impostor pairs (probe or template in it) above the FAR 1/10000 level,")
    print("  'ratio' is its own FAR 1/10000 level over the fitted one (the margin it would have needed)")
    print(f"  {'set left out':24s} {'impostors':>9s} {'FAR 1e-4 lvl':>12s} {'FRR':>6s} {'own FAR':>16s} "
          f"{'ratio':>6s} {'kRaw30':>7s} {'kRawThr':>8s} {'FRR':>6s}")
    pset, tset = pool.imp_sets
    real, ratios = [], []
    for s, label in enumerate(pool.labels):
        keep_imp = (pset != s) & (tset != s)
        train = pool.subset(label, keep_imp, pool.gen_set != label)
        e = estimate(train, args, rng, args.loso_boots)
        lvl = far_threshold(train, 1e-4)
        g = pool.gen_raw[pool.gen_set == label]
        thr = None if e is None else e["hi"] * args.margin
        r1, r2 = frr(g, lvl, False), frr(g, thr, True)
        own = pool.raw[~keep_imp]              # highest first
        far_own = ratio = None
        if lvl is not None and len(own):
            above = int(np.count_nonzero(own > lvl))
            far_own = f"{above}/{len(own)} {above / len(own):.0e}"
            ratio = own[min(int(1e-4 * len(own)), len(own) - 1)] / lvl
            ratios.append((ratio, label))
        if is_real(label) and r1 is not None:
            real.append((r1, label))
        print(f"  {label:24s} {train.n:9d} {fmt(lvl, '.3f'):>12s} {pct(r1):>6s} {fmt(far_own, 's'):>16s} "
              f"{fmt(ratio, '.2f'):>6s} {fmt(None if e is None else e['raw30'], '.2f'):>7s} {fmt(thr, '.2f'):>8s} "
              f"{pct(r2):>6s}")
    if real:
        worst = max(real)
        print(f"  real sets: mean FRR at FAR 1/10000 {100 * np.mean([r for r, _ in real]):.1f} %, "
              f"worst {100 * worst[0]:.1f} % ({worst[1]})")
    if ratios:
        top = max(ratios)
        print(f"  largest ratio {top[0]:.2f} ({top[1]}): a set unlike the others can need that much above "
              f"a level fit without it")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("inputs", nargs="+", help="fpalg-eval CSVs (one pool) and/or fpalg-genpool JSON files")
    ap.add_argument("--idx", help="the crops' .idx: its first field names each finger's set")
    ap.add_argument("--margin", type=float, default=1.10,
                    help="factor on the interval's upper end for the threshold (default 1.10)")
    ap.add_argument("--model", choices=("auto", "exp", "gpd"), default="auto")
    ap.add_argument("--tail-share", type=float, default=1e-3, help="share of impostors above u (default 1e-3)")
    ap.add_argument("--min-tail", type=int, default=50, help="at least this many above u (default 50)")
    ap.add_argument("--boots", type=int, default=400, help="resamples for the interval (default 400)")
    ap.add_argument("--resample", choices=("both", "probes"), default="both",
                    help="units resampled for the interval: probes and templates (default), or probes")
    ap.add_argument("--loso", action="store_true", help="leave each set of the eval pool out in turn")
    ap.add_argument("--loso-boots", type=int, default=100)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args(argv)
    rng = np.random.default_rng(args.seed)

    csvs = [p for p in args.inputs if not p.endswith(".json")]
    pools = ([load_csvs(csvs, args.idx)] if csvs else []) + [load_genpool(p) for p in args.inputs
                                                                  if p.endswith(".json")]
    fits = []
    for pool in pools:
        e = estimate(pool, args, rng, args.boots)
        describe(pool, e, "probes and templates" if args.resample == "both" else "probes", args.margin)
        fits.append(e)
    ok = [(e, p) for e, p in zip(fits, pools) if e is not None]
    if not ok:
        sys.exit("no pool large enough for a tail fit")
    e, worst = max(ok, key=lambda ep: ep[0]["hi"])
    thr = e["hi"] * args.margin
    raw30 = max(f["raw30"] for f, _ in ok)
    print(f"\nproposed knots (threshold: the upper end for FMR {TARGET:g} in {worst.name}, times margin "
          f"{args.margin:g}):")
    print(f"  kRaw30 = {raw30:.2f}f  kRawThreshold = {thr:.2f}f  kRawTop = {2 * thr:.2f}f")
    cur = current_knots()
    if "kRawThreshold" in cur:
        print(f"  today: kRaw30 = {cur.get('kRaw30', float('nan')):.2f}f  kRawThreshold = "
              f"{cur['kRawThreshold']:.2f}f  kRawTop = {cur.get('kRawTop', float('nan')):.2f}f")
        for f, p in ok:
            print(f"  projected FMR at today's threshold in {p.name}: {f['fmr'](cur['kRawThreshold'], f['use']):.1e}")
    for pool in pools:
        print(f"\ngenuine FRR (%) per set of {pool.name}, at the proposed threshold (raw >= {thr:.3f} "
              f"scores 46) and at this pool's FAR levels:")
        per_set_table(pool, thr)
    if args.loso:
        for pool in pools:
            if pool.imp_sets is not None and len(pool.labels) > 1:
                loso(pool, args, rng)
    return 0


if __name__ == "__main__":
    sys.exit(main())
