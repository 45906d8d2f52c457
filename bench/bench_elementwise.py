import ctypes
import time

import numpy as np

import harness
from harness import compare
from tessra import CoreArray

SIZES = [("1k", 1_000), ("100k", 100_000), ("10M", 10_000_000)]


def _tessra_copy(values):
    """A CoreArray holding the values of a float32 numpy array."""
    out = CoreArray.zeros(list(values.shape))
    if values.nbytes:
        ctypes.memmove(out.data_ptr, values.ctypes.data, values.nbytes)
    return out


def _best_time(fn, repeat=5):
    fn()
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def _bandwidth():
    """numpy copyto of 100M float32 (bytes read + written per second), and add at 10M against it."""
    n = 100_000_000
    src = np.ones(n, np.float32)
    dst = np.empty_like(src)
    copy_gbs = 2 * src.nbytes / _best_time(lambda: np.copyto(dst, src)) / 1e9
    del src, dst
    print(f"memory bandwidth (numpy copyto 100M f32): {copy_gbs:.1f} GB/s")
    m = 10_000_000
    rng = np.random.default_rng(7)
    a = _tessra_copy(rng.random(m, dtype=np.float32))
    b = _tessra_copy(rng.random(m, dtype=np.float32))
    add_gbs = 3 * 4 * m / _best_time(lambda: a.add(b)) / 1e9
    print(f"add f32 10M bandwidth: {add_gbs:.1f} GB/s ({100 * add_gbs / copy_gbs:.0f}% of copy)")


def run():
    rng = np.random.default_rng(1)
    for label, n in SIZES:
        na = rng.uniform(0.1, 10.0, n).astype(np.float32)
        nb = rng.uniform(0.1, 10.0, n).astype(np.float32)
        a, b = _tessra_copy(na), _tessra_copy(nb)
        cases = [
            ("add", lambda: a.add(b), lambda: np.add(na, nb)),
            ("mul", lambda: a.mul(b), lambda: np.multiply(na, nb)),
            ("div", lambda: a.div(b), lambda: np.divide(na, nb)),
            # tessra's comparisons give Float32 1.0 / 0.0: numpy's equivalent casts its bools.
            ("gt", lambda: a.gt(b), lambda: np.greater(na, nb).astype(np.float32)),
            ("clip", lambda: a.clip(1.0, 5.0), lambda: np.clip(na, 1.0, 5.0)),
            ("sin", a.sin, lambda: np.sin(na)),
            ("exp", a.exp, lambda: np.exp(na)),
            ("log", a.log, lambda: np.log(na)),
            ("sqrt", a.sqrt, lambda: np.sqrt(na)),
            ("floor_op", a.floor_op, lambda: np.floor(na)),
            ("abs", a.abs, lambda: np.abs(na)),
        ]
        for name, ours, ref in cases:
            compare(f"{name} f32 {label}", ours, ref)
        compare(f"gt f32 {label} (numpy bool result)", lambda: a.gt(b), lambda: np.greater(na, nb))
    if not harness._only or any(p in "memory bandwidth add" for p in harness._only):
        _bandwidth()
