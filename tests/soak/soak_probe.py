"""The daemon's footprint from /proc, and the test of "stays flat".

Samples are taken at checkpoints, all in the same state (claimed, plugged,
no worker running), so that a claimed device's descriptors or a worker's
thread never look like growth.
"""

import os

# A settled daemon may still move a little: the allocator keeps what it
# freed, the bus library grows its caches once. Descriptors and threads
# have no reason to move at all. The matching library also keeps up to 1024
# stored views' spectra (about 9 MiB) between comparisons, filled as fingers
# are enrolled and matched: bounded, so not growth.
SPECTRUM_CACHE_KIB = 10 * 1024
RSS_MARGIN_KIB = 1024 + SPECTRUM_CACHE_KIB
FD_MARGIN = 0
THREAD_MARGIN = 0


def sample(pid):
    """(rss KiB, open descriptors, threads) of process pid, or None when gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
        fds = len(os.listdir("/proc/%d/fd" % pid))
        threads = len(os.listdir("/proc/%d/task" % pid))
    except (FileNotFoundError, ProcessLookupError, StopIteration):
        return None
    return rss, fds, threads


def growth(samples, warmup):
    """What grew: the last third's maximum against the first third's (after
    the first `warmup` samples) plus the margin. Needs six samples."""
    settled = samples[warmup:]
    if len(settled) < 6:
        return []
    third = len(settled) // 3
    first, last = settled[:third], settled[-third:]
    out = []
    for i, (name, margin) in enumerate((("RSS KiB", RSS_MARGIN_KIB), ("fds", FD_MARGIN),
                                        ("threads", THREAD_MARGIN))):
        a, b = max(s[i] for s in first), max(s[i] for s in last)
        if b > a + margin:
            out.append("%s grew from at most %d to %d" % (name, a, b))
    return out
