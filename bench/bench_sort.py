import numpy as np

from harness import compare
from tessra import CoreArray


def _pair(n, seed):
    v = np.random.default_rng(seed).standard_normal(n).astype(np.float32)
    return CoreArray(v.tolist(), [n]), v


def run():
    for n, label in [(1_000_000, "1M"), (10_000_000, "10M")]:
        a, v = _pair(n, n)
        compare(f"sort f32 {label}", a.sort, lambda: np.sort(v))
    a, v = _pair(1_000_000, 7)
    compare("argsort f32 1M", a.argsort, lambda: np.argsort(v, kind="stable"))
    a, v = _pair(50_000, 5)
    compare("sort f32 50k (calling thread)", a.sort, lambda: np.sort(v, kind="stable"))
