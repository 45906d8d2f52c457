"""Shape and indexing against numpy."""

import numpy as np

from harness import compare
from tessra import CoreArray

N = 10_000_000


def run():
    rng = np.random.default_rng(11)
    side = 4096
    m = rng.standard_normal((side, side)).astype(np.float32)
    cm = CoreArray(m.ravel(), [side, side])
    compare(f"transpose {side}x{side}", cm.transpose, lambda: np.ascontiguousarray(m.T))

    data = rng.standard_normal(N).astype(np.float32)
    a = CoreArray(data, [N])
    positions = rng.integers(0, N, N)
    idx = CoreArray(positions.astype(np.float32), [N])
    positions = positions.astype(np.float32).astype(np.int64)  # the same positions after rounding
    compare("take 10M", lambda: a.take(idx), lambda: np.take(data, positions))

    keep = rng.random(N) < 0.5
    mask = CoreArray(keep.astype(np.float32), [N])
    compare("boolean_index 10M", lambda: a.boolean_index(mask), lambda: data[keep])
