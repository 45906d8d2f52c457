"""The raw-address functions on numpy's own buffers: against numpy and against the plain C loop
in the same order of additions; and the profiler's cost per scope."""

import ctypes
import os
import subprocess

import numpy as np

import harness
from bench_reductions import _chain_library, _ptr
from harness import compare
import tessra

HERE = os.path.dirname(os.path.abspath(__file__))
N = 10_000_000


def _scope_costs():
    exe = os.path.join(os.path.dirname(HERE), "build", "profiler_scope_bench")
    if not os.path.exists(exe):
        print("profiler scope: skipped (build/profiler_scope_bench not built)")
        return
    for _ in range(1):
        print(subprocess.run([exe], capture_output=True, text=True, check=True).stdout, end="")


def run():
    rng = np.random.default_rng(3)
    a = rng.standard_normal(N).astype(np.float32)
    b = rng.standard_normal(N).astype(np.float32)
    c = np.empty(N, np.float32)
    pa, pb, pc = a.ctypes.data, b.ctypes.data, c.ctypes.data

    compare("array_add_f32 10M", lambda: tessra.array_add_f32(pa, pb, pc, N),
            lambda: np.add(a, b, out=c))
    compare("array_sum_f32 10M", lambda: tessra.array_sum_f32(pa, N), lambda: np.add.reduce(a))
    compare("array_dot_product_f32 10M", lambda: tessra.array_dot_product_f32(pa, pb, N),
            lambda: np.dot(a, b))

    lib = _chain_library()
    if lib is None:
        print("raw sum/dot: tessra/c_loop skipped (no C compiler)")
    else:
        f32p, size = ctypes.POINTER(ctypes.c_float), ctypes.c_size_t
        lib.chain_dot.argtypes = [f32p, f32p, size]
        lib.chain_dot.restype = ctypes.c_float
        fa, fb = _ptr(a), _ptr(b)
        dot = tessra.array_dot_product_f32(pa, pb, N)
        same = np.float32(dot).tobytes() == np.float32(lib.chain_dot(fa, fb, N)).tobytes()
        compare("array_dot_product_f32 10M", lambda: tessra.array_dot_product_f32(pa, pb, N),
                lambda: lib.chain_dot(fa, fb, N), ref="c_loop",
                extra="" if same else "  RESULTS DIFFER")
        # At 10M the sum is chunked over the pool; the C loop is the one-chain order.
        compare("array_sum_f32 10M", lambda: tessra.array_sum_f32(pa, N),
                lambda: lib.chain_sum(fa, N), ref="c_loop")
        m = 999_999
        same = (np.float32(tessra.array_sum_f32(pa, m)).tobytes()
                == np.float32(lib.chain_sum(fa, m)).tobytes())
        compare("array_sum_f32 999,999 (one chain)", lambda: tessra.array_sum_f32(pa, m),
                lambda: lib.chain_sum(fa, m), ref="c_loop",
                extra="" if same else "  RESULTS DIFFER")

    if not harness._only or any(p in "profiler scope" for p in harness._only):
        _scope_costs()
