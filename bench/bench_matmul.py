"""Square float32 matrix products against numpy's a @ b, with GFLOP/s and the machine's peak."""

import os
import re

import numpy as np

import harness
from harness import compare, _median_time
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


def run():
    if harness._only and not any(p in "matmul" for p in harness._only):
        return
    peak, how = _peak_gflops()
    print(f"matmul: numpy BLAS {_numpy_blas()}; tessra road {T.get_math_backend_info()['backend']}")
    if peak:
        print(f"matmul: FP32 peak {peak:.0f} GFLOP/s ({how})")
    rng = np.random.default_rng(3)
    for n in SIZES:
        a = rng.standard_normal((n, n)).astype(np.float32)
        b = rng.standard_normal((n, n)).astype(np.float32)
        ta, tb = CoreArray(a.ravel(), [n, n]), CoreArray(b.ravel(), [n, n])
        repeat = 7 if n <= 1024 else 5
        T.set_backend_policy(0)
        t = _median_time(lambda: ta.matmul(tb), repeat, 1 if n >= 1024 else 20)
        r = _median_time(lambda: a @ b, repeat, 1 if n >= 1024 else 20)
        compare(f"matmul f32 {n}", lambda: ta.matmul(tb), lambda: a @ b,
                extra=f"  [tessra {_gflops(n, t):.0f} GFLOP/s, numpy {_gflops(n, r):.0f} GFLOP/s]")
        if n == 2048:
            T.set_backend_policy(8)
            p8 = _median_time(lambda: ta.matmul(tb), repeat, 1)
            T.set_backend_policy(0)
            default = _median_time(lambda: ta.matmul(tb), repeat, 1)
            print(f"matmul f32 {n} row blocks (policy 8): tessra/default road {p8 / default:.2f}"
                  f"  [{_gflops(n, p8):.0f} vs {_gflops(n, default):.0f} GFLOP/s]")
