"""Reductions against numpy and against the plain C loop over the same ordered chain."""

import ctypes
import os
import shutil
import subprocess
import tempfile

import numpy as np

import harness
from harness import compare, _median_time
from tessra import CoreArray

HERE = os.path.dirname(os.path.abspath(__file__))
N = 10_000_000


def _chain_library():
    """Builds chain_loop.c with cc -O2 into a temporary directory and loads it."""
    cc = shutil.which("cc") or shutil.which("gcc")
    if cc is None:
        return None
    out = os.path.join(tempfile.mkdtemp(prefix="tessra-bench-"), "chain_loop.so")
    subprocess.run([cc, "-O2", "-shared", "-fPIC", "-o", out, os.path.join(HERE, "chain_loop.c")],
                   check=True)
    lib = ctypes.CDLL(out)
    f32p, size = ctypes.POINTER(ctypes.c_float), ctypes.c_size_t
    for name in ("chain_sum", "chain_mean", "chain_prod"):
        getattr(lib, name).argtypes = [f32p, size]
        getattr(lib, name).restype = ctypes.c_float
    lib.chain_cumsum.argtypes = [f32p, f32p, size]
    lib.chain_cumsum.restype = None
    return lib


def _ptr(a):
    return a.ctypes.data_as(ctypes.POINTER(ctypes.c_float))


def run():
    rng = np.random.default_rng(7)
    data = rng.standard_normal(N).astype(np.float32)
    # Products of values near 1 stay finite over the whole chain.
    near_one = (1.0 + rng.standard_normal(N) * 1e-4).astype(np.float32)
    a = CoreArray(data, [N])
    p = CoreArray(near_one, [N])
    lib = _chain_library()

    cases = [
        ("sum", a, a.sum, lambda: np.add.reduce(data), "chain_sum", data),
        ("mean", a, a.mean, lambda: data.mean(), "chain_mean", data),
        ("prod", p, p.prod, lambda: np.multiply.reduce(near_one), "chain_prod", near_one),
        ("cumsum", a, a.cumsum, lambda: np.cumsum(data), "chain_cumsum", data),
    ]
    for name, arr, fn, ref, chain, values in cases:
        label = f"{name} 10M"
        if harness._only and not any(pat in label for pat in harness._only):
            continue
        compare(label, fn, ref)
        if name == "sum":
            t = _median_time(fn, 5, 3)
            print(f"{label}: tessra ns per element {t * 1e9 / N:.3f}")
        if lib is None:
            print(f"{label}: tessra/c_loop skipped (no C compiler)")
            continue
        ptr = _ptr(values)
        c_fn = getattr(lib, chain)
        if name == "cumsum":
            # The C loop also writes into a fresh array each call, as cumsum must.
            def c_call():
                out = np.empty(N, np.float32)
                c_fn(ptr, _ptr(out), N)
                return out
            same = np.array_equal(c_call().view(np.uint32), np.array(fn().to_list(), np.float32).view(np.uint32))
        else:
            def c_call():
                return c_fn(ptr, N)
            same = np.float32(c_call()).tobytes() == np.float32(fn()).tobytes()
        compare(label, fn, c_call, ref="c_loop", extra="" if same else "  RESULTS DIFFER")
