import numpy as np
import pandas as pd

from bench_tables import _series
from harness import compare
from tessra import DataFrame

try:
    import polars as pl
except ImportError:  # benchmark-only package: `make bench` installs it
    pl = None


def _frame(cols):
    df = DataFrame()
    for name, values in cols.items():
        df.insert(name, _series(name, values))
    return df


def _join_sides(n, seed):
    """Two sides of n rows, each with n distinct Float32 keys out of 1.25 n (so about 80% of
    the left rows find their key on the right) and one value column."""
    rng = np.random.default_rng(seed)
    sides = []
    for v in ("a", "b"):
        keys = rng.choice(n * 5 // 4, n, replace=False).astype(np.float32)
        sides.append({"key": keys, v: rng.random(n, dtype=np.float32)})
    return sides


def run():
    left, right = _join_sides(1_000_000, 3)
    tl, tr = _frame(left), _frame(right)
    pdl, pdr = pd.DataFrame(left), pd.DataFrame(right)
    for how in ("inner", "left"):
        name = f"join {how} 1M x 1M"
        compare(name, lambda: tl.join(tr, "key", "key", how),
                lambda: pdl.merge(pdr, left_on="key", right_on="key", how=how), ref="pandas", repeat=9)
        if pl is not None:
            pll, plr = pl.DataFrame(left), pl.DataFrame(right)
            compare(name, lambda: tl.join(tr, "key", "key", how),
                    lambda: pll.join(plr, left_on="key", right_on="key", how=how), ref="polars",
                    repeat=9)

    rng = np.random.default_rng(4)
    n = 1_000_000
    cols = {"i": rng.integers(0, 1000, n).astype(np.float32),
            "c": rng.integers(0, 100, n).astype(np.float32),
            "v": rng.random(n, dtype=np.float32)}
    tf, pdf = _frame(cols), pd.DataFrame(cols)
    name = "pivot 1M into 1000 x 100"
    compare(name, lambda: tf.pivot("i", "c", "v"),
            lambda: pdf.pivot_table(index="i", columns="c", values="v", aggfunc="last"),
            ref="pandas", repeat=9)
    if pl is not None:
        plf = pl.DataFrame(cols)
        compare(name, lambda: tf.pivot("i", "c", "v"),
                lambda: plf.pivot(on="c", index="i", values="v", aggregate_function="last"),
                ref="polars", repeat=9)
