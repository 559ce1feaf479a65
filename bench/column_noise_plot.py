#!/usr/bin/python3
"""Draws column-noise-bench's table: false non-match and false match rates,
and the share of fingers that enrolled, against the spread of the sensor's
column offsets.

  bench/column_noise_plot.py column_noise.csv column_noise.png
"""

import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main(src, dst):
    with open(src) as f:
        rows = list(csv.DictReader(f))
    sigma = [float(r["column_sigma"]) for r in rows]
    fnmr = [100 * float(r["fnmr"]) for r in rows]
    fmr = [100 * float(r["fmr"]) for r in rows]
    probes = int(rows[0]["genuine"]) // max(1, int(rows[0]["enrolled"]))
    total = max(int(r["enrolled"]) for r in rows) or 1
    enrolled = [100 * int(r["enrolled"]) / total for r in rows]
    fig, ax = plt.subplots(figsize=(7, 4.2))
    ax.plot(sigma, fnmr, "o-", label="false non-matches (%)")
    ax.plot(sigma, fmr, "s-", label="false matches (%)")
    ax.plot(sigma, enrolled, "^--", label="fingers enrolled (%)")
    ax.set_xlabel("spread of the column offsets (standard deviation, 12-bit counts)")
    ax.set_ylabel("%")
    ax.set_ylim(-2, 102)
    ax.set_title("Accuracy against column noise (%d generated fingers, %d probes each)" % (total, probes))
    ax.grid(alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(dst, dpi=110)
    print("wrote", dst)


if __name__ == "__main__":
    main(*sys.argv[1:3])
