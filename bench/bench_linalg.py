import numpy as np

from harness import compare
from tessra import CoreArray


def _spd(n, seed):
    m = np.random.default_rng(seed).standard_normal((n, n))
    return (m @ m.T / n + np.eye(n)).astype(np.float32)


def run():
    for n in (256, 1024):
        s = _spd(n, n)
        a = CoreArray(s.ravel().tolist(), [n, n])
        compare(f"cholesky f32 {n}", a.cholesky, lambda: np.linalg.cholesky(s),
                flops=n ** 3 / 3)
