"""Side-by-side timing: each case runs tessra and the reference in the same process and prints
`NAME: tessra/REF RATIO` (median of several runs; below 1 means tessra is faster)."""

import statistics
import sys
import time

_only = None


def select(patterns):
    global _only
    _only = patterns or None


def _median_time(fn, repeat, number):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(number):
            fn()
        times.append((time.perf_counter() - start) / number)
    return statistics.median(times)


def _calls_per_run(fn):
    """Enough calls that one timed run lasts at least ~20 ms."""
    number = 1
    while True:
        start = time.perf_counter()
        for _ in range(number):
            fn()
        if time.perf_counter() - start >= 0.02 or number >= 1 << 20:
            return number
        number *= 4


def compare(name, tessra_fn, ref_fn, ref="numpy", repeat=7, extra="", flops=None):
    """Times both functions and prints one line; returns the ratio. With `flops` (work per
    call) both rates are printed in GFLOP/s."""
    if _only and not any(p in name for p in _only):
        return None
    tessra_fn()
    ref_fn()  # warm-up (first-touch, lazy pools)
    number = max(_calls_per_run(tessra_fn), _calls_per_run(ref_fn))
    t = _median_time(tessra_fn, repeat, number)
    r = _median_time(ref_fn, repeat, number)
    ratio = t / r
    tail = f"  ({t * 1e6:.2f} us vs {r * 1e6:.2f} us){extra}"
    if flops:
        tail += f"  [{flops / t / 1e9:.1f} vs {flops / r / 1e9:.1f} GFLOP/s]"
    print(f"{name}: tessra/{ref} {ratio:.2f}{tail}")
    sys.stdout.flush()
    return ratio
