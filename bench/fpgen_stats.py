#!/usr/bin/python3
"""Fingerprint image statistics, computed the same way on any folder of PGMs.

For each folder (one set: a campaign's real prints, or a generated set) it
reports
  * the ridge period in pixels (dominant frequency of block FFTs),
  * minutiae per 96x96 window (Gabor enhancement, binarisation, thinning,
    crossing number; only inside the foreground, away from its border),
  * the fraction of 96x96 windows holding a core, a delta, or either
    (Poincare index of a smoothed block orientation field).
so that generated prints can be compared with real ones side by side.

Usage: fpgen_stats.py DIR [DIR ...]
"""
import os
import sys

import numpy as np

WIN = 96          # sensor window side
STRIDE = 48
BLOCK = 16        # foreground and period blocks
OBLOCK = 8        # orientation blocks for singular points
MIN_FG = 0.9      # share of a window that must be foreground


def read_pgm(path):
    with open(path, 'rb') as f:
        data = f.read()
    tokens = []
    pos = 0
    while len(tokens) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b'#':
            while data[pos:pos + 1] not in (b'\n', b''):
                pos += 1
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        tokens.append(data[start:pos])
    if tokens[0] != b'P5' or int(tokens[3]) > 255:
        raise ValueError(f'{path}: not an 8-bit binary PGM')
    w, h = int(tokens[1]), int(tokens[2])
    return np.frombuffer(data[pos + 1:pos + 1 + w * h], dtype=np.uint8).reshape(h, w).astype(np.float64)


def box(img, r):
    """Mean over a (2r+1)^2 box, edges replicated."""
    p = np.pad(img, r + 1, mode='edge')
    c = p.cumsum(0).cumsum(1)
    k = 2 * r + 1
    s = c[k:, k:] - c[:-k, k:] - c[k:, :-k] + c[:-k, :-k]
    return s[:img.shape[0], :img.shape[1]] / (k * k)


def gauss_blur(img, sigma):
    r = int(3 * sigma + 0.5)
    x = np.arange(-r, r + 1)
    g = np.exp(-x * x / (2 * sigma * sigma))
    g /= g.sum()
    p = np.pad(img, r, mode='edge')
    t = sum(g[i] * p[:, i:i + img.shape[1]] for i in range(2 * r + 1))
    return sum(g[i] * t[i:i + img.shape[0], :] for i in range(2 * r + 1))


def foreground(img):
    """Blocks whose grey-level spread shows ridges, cleaned up and eroded."""
    h, w = img.shape
    bh, bw = h // BLOCK, w // BLOCK
    blocks = img[:bh * BLOCK, :bw * BLOCK].reshape(bh, BLOCK, bw, BLOCK)
    std = blocks.std(axis=(1, 3))
    fg = std > max(8.0, 0.25 * np.percentile(std, 95))
    # Majority smoothing removes isolated blocks and fills small holes.
    for _ in range(2):
        p = np.pad(fg.astype(int), 1)
        n = sum(p[1 + dy:1 + dy + bh, 1 + dx:1 + dx + bw] for dy in (-1, 0, 1) for dx in (-1, 0, 1))
        fg = n >= 5
    mask = np.zeros((h, w), bool)
    mask[:bh * BLOCK, :bw * BLOCK] = np.kron(fg, np.ones((BLOCK, BLOCK), bool))
    return mask


def erode(mask, r):
    """Shrinks the mask by r pixels; outside the image counts as background."""
    p = np.pad(mask.astype(np.float64), r + 1)
    k = 2 * r + 1
    c = p.cumsum(0).cumsum(1)
    s = c[k:, k:] - c[:-k, k:] - c[k:, :-k] + c[:-k, :-k]
    return s[1:mask.shape[0] + 1, 1:mask.shape[1] + 1] > k * k - 0.5


def ridge_period(img, mask):
    """Median over foreground 32x32 blocks of the dominant FFT wavelength."""
    n = 32
    win = np.outer(np.hanning(n), np.hanning(n))
    fy = np.fft.fftfreq(n)[:, None]
    fx = np.fft.fftfreq(n)[None, :]
    radius = np.hypot(fx, fy)
    band = (radius > 1.0 / 20) & (radius < 1.0 / 4)
    periods = []
    h, w = img.shape
    for y in range(0, h - n + 1, n // 2):
        for x in range(0, w - n + 1, n // 2):
            if not mask[y:y + n, x:x + n].all():
                continue
            b = img[y:y + n, x:x + n]
            power = np.abs(np.fft.fft2((b - b.mean()) * win))
            power[~band] = 0
            i = np.unravel_index(np.argmax(power), power.shape)
            f = radius[i]
            # Refine with the spectrum-weighted radius around the peak.
            near = band & (np.abs(radius - f) < 1.5 / n)
            wgt = power[near] ** 2
            if wgt.sum() > 0:
                f = (radius[near] * wgt).sum() / wgt.sum()
            periods.append(1.0 / f)
    return float(np.median(periods)) if periods else float('nan')


def orientation(img, sigma):
    """Smoothed doubled-angle gradient field; returns ridge angle per pixel."""
    gy, gx = np.gradient(gauss_blur(img, 1.0))
    gxx = gauss_blur(gx * gx, sigma)
    gyy = gauss_blur(gy * gy, sigma)
    gxy = gauss_blur(gx * gy, sigma)
    return 0.5 * np.arctan2(2 * gxy, gxx - gyy) + np.pi / 2


def enhance(img, mask, period):
    """Oriented Gabor filtering at the image's ridge period (16 directions)."""
    theta = orientation(img, 5.0)
    centred = img - box(img, 8)
    norm = centred / (np.sqrt(np.maximum(box(centred ** 2, 8), 0.0)) + 1e-3)
    h, w = img.shape
    ph, pw = h + 32, w + 32
    F = np.fft.rfft2(np.pad(norm, 16, mode='reflect'), s=(ph, pw))
    out = np.zeros_like(img)
    bins = np.round(theta / (np.pi / 16)).astype(int) % 16
    r = 12
    yy, xx = np.mgrid[-r:r + 1, -r:r + 1].astype(np.float64)
    sig = 0.45 * period
    for k in range(16):
        sel = bins == k
        if not sel.any():
            continue
        t = k * np.pi / 16
        across = -xx * np.sin(t) + yy * np.cos(t)
        g = np.exp(-(xx ** 2 + yy ** 2) / (2 * sig * sig)) * np.cos(2 * np.pi * across / period)
        g -= g.mean()
        kern = np.zeros((ph, pw))
        kern[:2 * r + 1, :2 * r + 1] = g
        kern = np.roll(kern, (-r, -r), axis=(0, 1))
        res = np.fft.irfft2(F * np.fft.rfft2(kern), s=(ph, pw))[16:16 + h, 16:16 + w]
        out[sel] = res[sel]
    return out


def thin(b):
    """Zhang-Suen thinning of a boolean image."""
    img = np.pad(b, 1).astype(np.uint8)
    while True:
        changed = False
        for step in (0, 1):
            p = img
            n = [p[:-2, 1:-1], p[:-2, 2:], p[1:-1, 2:], p[2:, 2:], p[2:, 1:-1], p[2:, :-2], p[1:-1, :-2], p[:-2, :-2]]
            c = p[1:-1, 1:-1]
            bsum = sum(x.astype(int) for x in n)
            trans = sum(((n[i] == 0) & (n[(i + 1) % 8] == 1)).astype(int) for i in range(8))
            if step == 0:
                cond = (n[0] * n[2] * n[4] == 0) & (n[2] * n[4] * n[6] == 0)
            else:
                cond = (n[0] * n[2] * n[6] == 0) & (n[0] * n[4] * n[6] == 0)
            rm = (c == 1) & (bsum >= 2) & (bsum <= 6) & (trans == 1) & cond
            if rm.any():
                img[1:-1, 1:-1][rm] = 0
                changed = True
        if not changed:
            return img[1:-1, 1:-1].astype(bool)


def minutiae(img, mask, period):
    enh = enhance(255.0 - img, mask, period)   # ridges (dark) positive
    skel = thin((enh > 0) & mask)
    p = np.pad(skel, 1).astype(int)
    n = [p[:-2, 1:-1], p[:-2, 2:], p[1:-1, 2:], p[2:, 2:], p[2:, 1:-1], p[2:, :-2], p[1:-1, :-2], p[:-2, :-2]]
    cn = sum(np.abs(n[i] - n[(i + 1) % 8]) for i in range(8)) // 2
    valid = erode(mask, 12)
    ys, xs = np.nonzero(skel & valid & ((cn == 1) | (cn == 3)))
    pts = np.stack([xs, ys], 1).astype(np.float64)
    # Pairs closer than half a ridge period are breaks and spurs, not minutiae.
    if len(pts) > 1:
        d = np.hypot(pts[:, None, 0] - pts[None, :, 0], pts[:, None, 1] - pts[None, :, 1])
        np.fill_diagonal(d, np.inf)
        pts = pts[d.min(1) >= max(6.0, 0.6 * period)]
    return pts


def singular_points(img, mask):
    """Cores and deltas from the Poincare index on an 8-pixel block field."""
    theta = orientation(img, 8.0)
    h, w = img.shape
    bh, bw = h // OBLOCK, w // OBLOCK
    cy = np.arange(bh) * OBLOCK + OBLOCK // 2
    cx = np.arange(bw) * OBLOCK + OBLOCK // 2
    t = theta[np.ix_(cy, cx)]
    ok = erode(mask, 16)[np.ix_(cy, cx)]
    ring = [(-1, -1), (-1, 0), (-1, 1), (0, 1), (1, 1), (1, 0), (1, -1), (0, -1)]
    cores, deltas = [], []
    for by in range(1, bh - 1):
        for bx in range(1, bw - 1):
            if not ok[by - 1:by + 2, bx - 1:bx + 2].all():
                continue
            s = 0.0
            for i in range(8):
                a = t[by + ring[i][0], bx + ring[i][1]]
                b = t[by + ring[(i + 1) % 8][0], bx + ring[(i + 1) % 8][1]]
                d = b - a
                d = (d + np.pi / 2) % np.pi - np.pi / 2
                s += d
            pt = (cx[bx], cy[by])
            if s > 0.9 * np.pi:
                cores.append(pt)
            elif s < -0.9 * np.pi:
                deltas.append(pt)
    return merge(cores), merge(deltas)


def merge(points, dist=16):
    out = []
    for p in points:
        for q in out:
            if abs(p[0] - q[0]) <= dist and abs(p[1] - q[1]) <= dist:
                break
        else:
            out.append(p)
    return out


def analyse(path):
    img = read_pgm(path)
    mask = foreground(img)
    period = ridge_period(img, mask)
    if not np.isfinite(period):
        return period, [], []
    pts = minutiae(img, mask, period)
    cores, deltas = singular_points(img, mask)
    windows = []
    h, w = img.shape
    for y in range(0, h - WIN + 1, STRIDE):
        for x in range(0, w - WIN + 1, STRIDE):
            if mask[y:y + WIN, x:x + WIN].mean() < MIN_FG:
                continue
            inside = lambda q: x <= q[0] < x + WIN and y <= q[1] < y + WIN
            n = int(sum(1 for q in pts if inside(q)))
            windows.append((n, any(inside(q) for q in cores), any(inside(q) for q in deltas)))
    return period, windows, (len(cores), len(deltas))


def main(argv):
    if len(argv) < 2 or argv[1] in ('-h', '--help'):
        print(__doc__)
        return 0 if len(argv) >= 2 else 2
    rows = []
    for folder in argv[1:]:
        if not os.path.isdir(folder):
            print(f'{folder}: not a folder, skipped', file=sys.stderr)
            continue
        files = sorted(f for f in os.listdir(folder) if f.endswith('.pgm'))
        if not files:
            print(f'{folder}: no PGM files', file=sys.stderr)
            continue
        periods, wins = [], []
        for f in files:
            period, windows, _ = analyse(os.path.join(folder, f))
            if np.isfinite(period):
                periods.append(period)
            wins.extend(windows)
        counts = np.array([x[0] for x in wins], dtype=float)
        core = np.array([x[1] for x in wins])
        delta = np.array([x[2] for x in wins])
        rows.append((os.path.basename(os.path.normpath(folder)), len(files), np.mean(periods), len(wins),
                     counts.mean(), np.median(counts), np.percentile(counts, 10), np.percentile(counts, 90),
                     core.mean(), delta.mean(), (core | delta).mean()))
    if not rows:
        return 1
    print(f"{'set':24s} {'imgs':>5s} {'period':>7s} {'windows':>7s} {'min/win':>7s} {'median':>6s} "
          f"{'p10-p90':>8s} {'core':>6s} {'delta':>6s} {'either':>6s}")
    for r in rows:
        print(f'{r[0]:24s} {r[1]:5d} {r[2]:7.2f} {r[3]:7d} {r[4]:7.2f} {r[5]:6.1f} '
              f'{r[6]:3.0f}-{r[7]:<4.0f} {r[8]:6.1%} {r[9]:6.1%} {r[10]:6.1%}')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
