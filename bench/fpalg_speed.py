#!/usr/bin/python3
"""FpAlg_MatchScore and FpAlg_MergeFeature of two builds of the library side
by side in one process,
on the benchmark's crops (fpalg_crops.py): each library enrolls the fingers
and extracts the probes itself; then every probe is scored against every
template by both, the two calls taking turns (and the order alternating), so
that both see the same load. Prints the median and total time of each and
their ratios; the merges are those of the enrollments, each finger enrolled
by both libraries in turn. Times are the thread's CPU time, which a loaded machine disturbs
far less than wall time.

usage: fpalg_speed.py PREFIX OLD_LIB NEW_LIB [--fingers-step N] [--probe-step M]
"""
import argparse
import sys
import time
from pathlib import Path

import numpy as np

ap = argparse.ArgumentParser()
ap.add_argument("prefix")
ap.add_argument("old")
ap.add_argument("new")
ap.add_argument("--fingers-step", type=int, default=8)
ap.add_argument("--probe-step", type=int, default=5)
ap.add_argument("--bench", default=str(Path(__file__).resolve().parents[2] / "shared" / "bench"))
a = ap.parse_args()
sys.path.insert(0, a.bench)
import fpbench  # noqa: E402



def timed_call(self, name, *args):
    t = time.thread_time()
    r = getattr(self.lib, name)(*args)
    self.times.setdefault(name, []).append(time.thread_time() - t)
    return fpbench._s16(r)


fpbench.AbiMatcher._call = timed_call
libs = [fpbench.AbiMatcher(a.old), fpbench.AbiMatcher(a.new)]
raw = np.fromfile(a.prefix + ".raw", np.uint8).reshape(-1, 96, 96)
at, fingers = 0, []
for n, line in enumerate(open(a.prefix + ".idx")):
    _, _, nc, np_ = line.split()
    nc, np_ = int(nc), int(np_)
    if n % a.fingers_step == 0:
        fingers.append((raw[at:at + nc], raw[at + nc:at + nc + np_:a.probe_step]))
    at += nc + np_
gallery = []
for n, (caps, _) in enumerate(fingers):
    order = (0, 1) if n % 2 == 0 else (1, 0)
    made = {k: libs[k].enroll(list(caps))[0] for k in order}
    gallery.append([made[0], made[1]])
probes = [[lib.probe(p) for lib in libs] for _, ps in fingers for p in ps]
times = [[], []]
turn = 0
for pr in probes:
    for tp in gallery:
        if any(x is None for x in pr + tp):
            continue
        for k in ((0, 1) if turn % 2 == 0 else (1, 0)):
            stored = tp[k].copy()
            t = time.thread_time()
            libs[k].lib.FpAlg_MatchScore(stored.ctypes.data, pr[k].ctypes.data)
            times[k].append(time.thread_time() - t)
        turn += 1
merges = [np.array(lib.times.get("FpAlg_MergeFeature", [0.0])) * 1e3 for lib in libs]
print(f"FpAlg_MergeFeature: {len(merges[0])} calls each")
print(f"old: median {np.median(merges[0]):.3f} ms, new: median {np.median(merges[1]):.3f} ms, "
      f"new / old: median {np.median(merges[1]) / np.median(merges[0]):.3f}")
old, new = (np.array(t) * 1e3 for t in times)
print("FpAlg_MatchScore:")
print(f"{len(old)} comparisons each")
print(f"old {a.old}: median {np.median(old):.3f} ms, total {old.sum():.0f} ms")
print(f"new {a.new}: median {np.median(new):.3f} ms, total {new.sum():.0f} ms")
print(f"new / old: median {np.median(new) / np.median(old):.3f}, total {new.sum() / old.sum():.3f}")
