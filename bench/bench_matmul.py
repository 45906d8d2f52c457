"""Square float32 matrix products against numpy's a @ b, with GFLOP/s and the machine's peak."""

import os
import re
import statistics
import sys
import time

import numpy as np

import harness
from harness import _median_time
from tessra import CoreArray
import tessra

T = tessra._tessra_rust
SIZES = [64, 256, 512, 1024, 2048]


def _numpy_blas():
    try:
        from threadpoolctl import threadpool_info
    except ImportError:
        return "unknown (threadpoolctl missing)"
    for lib in threadpool_info():
        if lib.get("user_api") == "blas":
            return (f"{lib['internal_api']} {lib.get('version')} ({lib.get('architecture')}, "
                    f"{lib['num_threads']} threads)")
    return "unknown"


def _peak_gflops():
    """Cores x clock x FMA lanes x 2 FMA units x 2 flops."""
    try:
        info = open("/proc/cpuinfo").read()
    except OSError:
        return None, ""
    mhz = [float(x) for x in re.findall(r"cpu MHz\s*:\s*([\d.]+)", info)]
    flags = re.search(r"flags\s*:(.*)", info)
    flags = flags.group(1).split() if flags else []
    lanes = 16 if "avx512f" in flags else 8 if "avx2" in flags and "fma" in flags else 4
    cores = os.cpu_count() or 1
    if not mhz:
        return None, ""
    ghz = max(mhz) / 1000
    return cores * ghz * lanes * 2 * 2, f"{cores} cores x {ghz:.2f} GHz x {lanes} lanes x 2 FMA units x 2"


def _gflops(n, seconds):
    return 2 * n ** 3 / seconds / 1e9


def _paired(fa, fb, repeat, number):
    """Medians of fa and fb, each timed in its own phase after a pause: a threaded BLAS keeps its
    threads spinning for a while after a call, which would otherwise slow the other side."""
    times = []
    for f in (fa, fb):
        time.sleep(0.5)
        f()
        times.append(_median_time(f, repeat, number))
    return times


def _line(label, t, r, n, ref):
    print(f"{label}: tessra/{ref} {t / r:.2f}  ({t * 1e6:.0f} us vs {r * 1e6:.0f} us)"
          f"  [{_gflops(n, t):.0f} vs {_gflops(n, r):.0f} GFLOP/s]")
    sys.stdout.flush()


def run():
    if harness._only and not any(p in "matmul f32" for p in harness._only):
        return
    peak, how = _peak_gflops()
    print(f"matmul: numpy BLAS {_numpy_blas()}; tessra default road "
          f"{T.get_math_backend_info()['backend']}")
    if peak:
        print(f"matmul: FP32 peak {peak:.0f} GFLOP/s ({how})")
    rng = np.random.default_rng(3)
    for n in SIZES:
        a = rng.standard_normal((n, n)).astype(np.float32)
        b = rng.standard_normal((n, n)).astype(np.float32)
        ta, tb = CoreArray(a.ravel(), [n, n]), CoreArray(b.ravel(), [n, n])
        number = 1 if n >= 1024 else 4 if n >= 256 else 200
        repeat = 5 if n >= 2048 else 9

        def tessra_mm():
            return ta.matmul(tb)

        def numpy_mm():
            return a @ b

        T.set_backend_policy(0)
        tessra_mm(), numpy_mm()
        t, r = _paired(tessra_mm, numpy_mm, repeat, number)
        _line(f"matmul f32 {n}", t, r, n, "numpy")
        if n == 2048:
            T.set_backend_policy(8)
            tessra_mm()
            def rows_mm():
                return ta.matmul(tb)

            def default_mm():
                T.set_backend_policy(0)
                out = ta.matmul(tb)
                T.set_backend_policy(8)
                return out

            p8, d = _paired(rows_mm, default_mm, repeat, 1)
            T.set_backend_policy(0)
            _line(f"matmul f32 {n} row blocks (policy 8)", p8, d, n, "default_road")
