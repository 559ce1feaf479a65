"""bench/fpalg_tailfit.py must recover the quantile of a known impostor tail:
a wrong level there moves the library's match threshold without any other
test noticing."""
import math
import re
import sys
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
import fpalg_tailfit  # noqa: E402


def test_exponential_tail_gives_its_quantile_with_an_interval_around_it(tmp_path, capsys):
    # 100 fingers in two sets, 10 probes each: 99,000 impostor pairs whose raw
    # evidence is exponential with mean 2, so FMR 2e-6 lies at 2 ln(500,000).
    rng = np.random.default_rng(5)
    fingers, probes, scale = 100, 10, 2.0
    (tmp_path / "crops.idx").write_text("".join(f"set{'ab'[f % 2]}/{f} id{f} 9 {probes}\n" for f in range(fingers)))
    rows = ["probe_finger,probe,template,kind,raw,score"]
    for f in range(fingers):
        for p in range(probes):
            rows.append(f"{f},{p},{f},genuine,{20 + f % 2 * 20},0")
            raws = rng.exponential(scale, fingers)
            rows += [f"{f},{p},{t},impostor,{raws[t]:.4f},0" for t in range(fingers) if t != f]
    (tmp_path / "eval.csv").write_text("\n".join(rows) + "\n")

    fpalg_tailfit.main(["--idx", str(tmp_path / "crops.idx"), "--boots", "100", "--loso", "--loso-boots", "20",
                        str(tmp_path / "eval.csv")])
    out = capsys.readouterr().out
    truth = scale * math.log(1 / 2e-6)
    est, lo, hi = map(float, re.search(r"FMR 2e-06: ([\d.]+), 95 % interval ([\d.]+) \.\. ([\d.]+)", out).groups())
    assert "-> exponential" in out
    assert abs(est - truth) < 0.1 * truth and lo < truth < hi
    assert float(re.search(r"kRawThreshold = ([\d.]+)f", out).group(1)) == round(hi * 1.1, 2)
    # Genuine raw 20 in set a, 40 in set b: set a fails at the proposed threshold, b passes.
    assert re.search(r"seta\s+500\s+100.0", out) and re.search(r"setb\s+500\s+0.0", out)
    assert "leave one set out" in out
