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


def compare_peers(name, tessra_fn, peers, repeat=7):
    """Times tessra and each available peer in alternating rounds (so machine noise falls on all
    of them alike) and prints one `NAME: tessra/PEER RATIO` line per peer; returns the ratios."""
    if _only and not any(p in name for p in _only):
        return {}
    fns = {"tessra": tessra_fn, **{p: f for p, f in peers.items() if f is not None}}
    for fn in fns.values():
        fn()  # warm-up (first-touch, lazy pools)
    number = max(_calls_per_run(fn) for fn in fns.values())
    times = {p: [] for p in fns}
    for _ in range(repeat):
        for p, fn in fns.items():
            start = time.perf_counter()
            for _ in range(number):
                fn()
            times[p].append((time.perf_counter() - start) / number)
    t = statistics.median(times["tessra"])
    ratios = {}
    for p in fns:
        if p == "tessra":
            continue
        r = statistics.median(times[p])
        ratios[p] = t / r
        print(f"{name}: tessra/{p} {ratios[p]:.2f}  ({t * 1e3:.2f} ms vs {r * 1e3:.2f} ms)")
    sys.stdout.flush()
    return ratios
