#!/usr/bin/python3
"""Where every probe of the benchmark truly lies on its finger's enrollment
captures, for fpalg-eval's loss analysis (fpalg_losses.py).

The crops are 96 x 96 windows of full impressions; two impressions of a
finger share far more area than two crops, so they are registered with
each other first: band-passed, whitened ridges at half resolution, phase
correlation over rotations of +-60 degrees (globally), then again at full
resolution on a 160 x 160 window around the probe (locally, within
+-5 degrees and a wide shift of the global pose, where the skin's stretch
makes a global pose drift). The crops' known positions (fpalg_crops.py's
.pos file) then carry the local pose to every capture.

usage: fpalg_truth.py PREFIX [--fingers-step N] [--part I/N]
reads PREFIX.idx and PREFIX.pos, writes PREFIX.truth (PREFIX.truth.I with
--part; cat the parts together): one line per probe
and capture of the same finger from another impression:
finger probe capture angle_deci dy dx quality overlap_px
(the library's convention: the probe, turned by angle_deci tenths of a
degree about its centre, has pixel p on capture pixel p + (dy, dx));
quality is the phase-correlation peak of the local registration.
"""
import argparse
import sys
from pathlib import Path

import numpy as np
import scipy.fft
from scipy import ndimage

ap = argparse.ArgumentParser()
ap.add_argument("prefix")
ap.add_argument("--fingers-step", type=int, default=1)
ap.add_argument("--part", default="0/1", help="I/N: only fingers whose index is I modulo N (to run N at once)")
ap.add_argument("--bench", default=str(Path(__file__).resolve().parents[2] / "shared" / "bench"))
a = ap.parse_args()
sys.path.insert(0, a.bench)
import fpbench  # noqa: E402

CROP = fpbench.CROP
MID = (CROP - 1) / 2.0


def ridges(img):
    """Whitened band-passed ridges, zero off the finger."""
    f = img.astype(np.float64)
    bp = ndimage.gaussian_filter(f, 1.0) - ndimage.gaussian_filter(f, 4.0)
    rms = np.sqrt(ndimage.gaussian_filter(bp * bp, 8.0)) + 1e-3
    mask, _ = fpbench.foreground(img)
    mask = ndimage.binary_erosion(mask, iterations=4)
    return np.where(mask, bp / rms, 0.0)


def turn(img, deg, centre):
    """img turned by deg about centre (x, y): out(q) = img(R^-1 (q - c) + c), R = [[c, -s], [s, c]] on (x, y)."""
    t = np.deg2rad(deg)
    c, s = np.cos(t), np.sin(t)
    # affine_transform works on (row, col) = (y, x): input = M @ out + off
    m = np.array([[c, -s], [s, c]])  # R^-1 in (y, x) order
    cy, cx = centre[1], centre[0]
    off = np.array([cy, cx]) - m @ np.array([cy, cx])
    return ndimage.affine_transform(img, m, offset=off, order=1, mode="constant")


BANDS = {}


def band(size, lo=2):
    """Frequencies kept by the phase correlation (rfft layout), and their count over the full plane."""
    if size not in BANDS:
        fy = np.fft.fftfreq(size)[:, None] * size
        fx = np.fft.rfftfreq(size)[None, :] * size
        r = np.hypot(fy, fx)
        BANDS[size] = (r >= lo) & (r <= size // 4)
    return BANDS[size]


def spectrum(img, size):
    return scipy.fft.rfft2(img.astype(np.float32), (size, size))


def poc(F, moving, size):
    """Shift (dy, dx) with moving(q) ~ fixed(q + d) by phase-only correlation (F: fixed's spectrum),
    and its peak height (1 where the two agree at every frequency of the band)."""
    c = F * np.conj(spectrum(moving, size))
    b = band(size)
    c = np.where(b, c / (np.abs(c) + 1e-9), 0)
    s = scipy.fft.irfft2(c, (size, size)) * size * size / (2 * b.sum())
    k = np.argmax(s)
    dy, dx = np.unravel_index(k, s.shape)

    def sub(v_m, v0, v_p):  # sub-pixel: parabola through the neighbours
        den = v_m - 2 * v0 + v_p
        return 0.5 * (v_m - v_p) / den if den < 0 else 0.0

    oy = sub(s[(dy - 1) % size, dx], s[dy, dx], s[(dy + 1) % size, dx])
    ox = sub(s[dy, (dx - 1) % size], s[dy, dx], s[dy, (dx + 1) % size])
    dy = dy - size if dy > size // 2 else dy
    dx = dx - size if dx > size // 2 else dx
    return s.flat[k], dy + oy, dx + ox


def register(F, moving, angles, size, centre):
    """Best angle and shift: moving turned by angle about centre (x, y), then shifted by d, lies on fixed."""
    best = (-1.0, 0.0, 0.0, 0.0)
    for t in angles:
        h, dy, dx = poc(F, turn(moving, t, centre), size)
        if h > best[0]:
            best = (h, t, dy, dx)
    return best


class Pose:
    """Point (x, y) of one image -> (x, y) of another: R(deg) (p - c) + c + (tx, ty)."""

    def __init__(self, deg, c, tx, ty):
        self.deg, self.c, self.t = deg, np.array(c, float), np.array([tx, ty], float)

    def __call__(self, p):
        th = np.deg2rad(self.deg)
        r = np.array([[np.cos(th), -np.sin(th)], [np.sin(th), np.cos(th)]])
        return (r @ (np.asarray(p, float) - self.c)) + self.c + self.t


def global_pose(fi, fj):
    """Impression j onto impression i, at half resolution."""
    hi, hj = fi[::2, ::2], fj[::2, ::2]
    size = 256  # holds either image; a wrapped correlation only adds noise to the peak
    c = ((hj.shape[1] - 1) / 2, (hj.shape[0] - 1) / 2)
    F = spectrum(hi, size)
    h, t, dy, dx = register(F, hj, np.arange(-60, 61, 4), size, c)
    h, t, dy, dx = register(F, hj, np.arange(t - 2, t + 2.1, 1), size, c)
    cf = (2 * c[0], 2 * c[1])
    return Pose(t, cf, 2 * dx, 2 * dy), h


W = 160


def window(img, cx, cy, w):
    """w x w window of img centred at (cx, cy) (zero outside), and its top-left (x, y)."""
    x0, y0 = int(round(cx - w / 2)), int(round(cy - w / 2))
    out = np.zeros((w, w))
    ys, xs = slice(max(0, y0), min(img.shape[0], y0 + w)), slice(max(0, x0), min(img.shape[1], x0 + w))
    out[ys.start - y0:ys.stop - y0, xs.start - x0:xs.stop - x0] = img[ys, xs]
    return out, (x0, y0)


def local_pose(fi, fj, g, cx, cy):
    """Refines the global pose g around point (cx, cy) of image j: a window of j against a wider one of i."""
    wj, (jx, jy) = window(fj, cx, cy, W)
    px, py = g((cx, cy))
    wi, (ix, iy) = window(fi, px, py, W + 64)  # the global pose is trusted to +-32 px here
    # In window coordinates the global pose is a turn about the window's centre plus a shift.
    cw = ((W - 1) / 2, (W - 1) / 2)
    F = spectrum(wi, 256)
    h, t, dy, dx = register(F, wj, np.arange(g.deg - 4, g.deg + 4.1, 2.0), 256, cw)
    h, t, dy, dx = max((h, t, dy, dx), register(F, wj, (t - 1, t + 1), 256, cw))
    h, t, dy, dx = max((h, t, dy, dx), register(F, wj, (t - 0.5, t + 0.5), 256, cw))
    # window j point q -> turned about cw -> shifted by (dx, dy) -> window i point
    return Pose(t, (jx + cw[0], jy + cw[1]), ix - jx + dx, iy - jy + dy), h


prefix = a.prefix
fingers = [l.split() for l in open(prefix + ".idx")]
pos = {}
for l in open(prefix + ".pos"):
    n, i, path, impr, y0, x0 = l.split()
    pos[int(n), int(i)] = (path, int(impr), int(y0), int(x0))

prep = {}


def ridges_of(path):
    if path not in prep:
        dpi = fpbench.set_dpi(Path(path).parent)
        prep[path] = ridges(fpbench.load_image(path, dpi))
    return prep[path]


grid = np.stack(np.meshgrid(np.arange(0, CROP, 2) - MID, np.arange(0, CROP, 2) - MID), -1).reshape(-1, 2)
part, parts = map(int, a.part.split("/"))
# Sets take turns, so that a run cut short still covers every set.
within = {}
for n, f in enumerate(fingers):
    within[n] = sum(1 for g in fingers[:n] if g[0].split("/")[0] == f[0].split("/")[0])
order = sorted(range(0, len(fingers), a.fingers_step), key=lambda n: (within[n], n))
with open(prefix + ".truth" + (f".{part}" if parts > 1 else ""), "w", buffering=1) as out:
    for rank, n in enumerate(order):
        if rank % parts != part:
            continue
        name, ident, nc, np_ = fingers[n][0], fingers[n][1], int(fingers[n][2]), int(fingers[n][3])
        prep.clear()
        caps = [pos[n, c] for c in range(nc)]
        enroll_paths = sorted({c[0] for c in caps})
        gposes = {}
        for pi in range(np_):
            path, impr, y0, x0 = pos[n, nc + pi]
            fj = ridges_of(path)
            cx, cy = x0 + MID, y0 + MID
            local = {}
            for ep in enroll_paths:
                fi = ridges_of(ep)
                if (ep, path) not in gposes:
                    gposes[ep, path] = global_pose(fi, fj)
                local[ep] = local_pose(fi, fj, gposes[ep, path][0], cx, cy)
            for c, (cpath, cimpr, cy0, cx0) in enumerate(caps):
                pose, h = local[cpath]
                centre = pose((cx, cy))
                dx, dy = centre[0] - (cx0 + MID), centre[1] - (cy0 + MID)
                th = np.deg2rad(pose.deg)
                r = np.array([[np.cos(th), -np.sin(th)], [np.sin(th), np.cos(th)]])
                q = grid @ r.T + np.array([dx, dy]) + MID
                inside = (q[:, 0] >= 0) & (q[:, 0] <= CROP - 1) & (q[:, 1] >= 0) & (q[:, 1] <= CROP - 1)
                out.write(f"{n} {pi} {c} {int(round(pose.deg * 10))} {dy:.2f} {dx:.2f} {h:.4f} {4 * int(inside.sum())}"
                          f" {gposes[cpath, path][1]:.4f}\n")
        print(f"{name} done", file=sys.stderr, flush=True)
