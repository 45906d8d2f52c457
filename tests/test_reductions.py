import math
from functools import reduce

import numpy as np
import pytest

from tessra import CoreArray, DType

from conftest import raises

F = np.float32
NAN, INF = float("nan"), float("inf")
QNAN = np.uint32(0x7FC00000).view(F)

FLOAT_METHODS = ["sum", "mean", "var", "std_dev", "prod", "nansum", "nanmean", "nanmax", "nanmin"]
ALL_METHODS = FLOAT_METHODS + ["argmax", "argmin", "cumsum", "cumprod"]


# ---- reference: the same single-precision operations, one at a time, in index order ---------

def _sum(xs):
    return reduce(lambda acc, x: acc + x, xs, F(-0.0))


def _var(xs):
    m = _sum(xs) / F(len(xs))
    return _sum([(x - m) * (x - m) for x in xs]) / F(len(xs))


def _numbers(xs):
    return [x for x in xs if not np.isnan(x)]


def _nanmean(xs):
    kept = _numbers(xs)
    r = _sum(kept) / F(len(kept)) if kept else QNAN
    return QNAN if np.isnan(r) else r


def _extreme(xs, sign):
    # Of two equal values keep +0.0 for the maximum and -0.0 for the minimum.
    pick = lambda a, b: b if sign * b > sign * a or (a == b and np.signbit(a) == (sign > 0)) else a
    return reduce(pick, _numbers(xs), F(-sign * INF))


def _arg(xs, better):
    return reduce(lambda i, j: j if better(xs[j], xs[i]) else i, range(len(xs)))


REFERENCES = {
    "sum": _sum, "mean": lambda xs: _sum(xs) / F(len(xs)), "var": _var,
    "std_dev": lambda xs: np.sqrt(_var(xs)),
    "prod": lambda xs: reduce(lambda acc, x: acc * x, xs, F(1.0)),
    "nansum": lambda xs: _sum(_numbers(xs)), "nanmean": _nanmean,
    "nanmax": lambda xs: _extreme(xs, 1), "nanmin": lambda xs: _extreme(xs, -1),
    "argmax": lambda xs: _arg(xs, lambda x, best: x > best),
    "argmin": lambda xs: _arg(xs, lambda x, best: x < best),
    # accumulate runs in index order, from 0.0 and 1.0.
    "cumsum": lambda xs: np.add.accumulate(np.array([0.0] + xs, F))[1:],
    "cumprod": lambda xs: np.multiply.accumulate(np.array([1.0] + xs, F))[1:],
}


def bits(x):
    return np.array(x, dtype=F).view(np.uint32).tolist()


def bits_any_nan(x):
    """The bit patterns with every NaN alike: which NaN an addition keeps depends on the CPU and
    on the compiler's order of the operands."""
    x = np.array(x, dtype=F)
    return np.where(np.isnan(x), -1, x.view(np.uint32).astype(np.int64)).tolist()


def _with_nan(v, rng):
    v[rng.random(len(v)) < 0.2] = NAN
    return v


INPUTS = {
    # Magnitudes far apart, so any reordering changes the bits.
    "wide": lambda n, rng: rng.standard_normal(n) * 10.0 ** rng.integers(-6, 7, n),
    "near_one": lambda n, rng: 1.0 + rng.standard_normal(n) * 0.01,  # products stay finite
    # Few distinct values, both zeros, NaN and infinities.
    "ties": lambda n, rng: rng.choice([0.0, -0.0, 1.0, -1.0, 3.0, NAN, INF, -INF], n),
    "nan": lambda n, rng: _with_nan(rng.standard_normal(n), rng),
}
# Sizes around the vector lanes and the 2048-value blocks that argmax and argmin scan.
SIZES = [1, 2, 3, 7, 16, 17, 100, 1000, 2049, 4500]
CASES = [INPUTS[kind](n, np.random.default_rng(i)).astype(F) for kind in INPUTS
         for i, n in enumerate(SIZES)]


@pytest.mark.parametrize("method", ALL_METHODS)
def test_matches_the_ordered_single_precision_reference(method):
    with np.errstate(all="ignore"):
        for xs in CASES:
            got = getattr(CoreArray(xs, [len(xs)]), method)()
            want = REFERENCES[method](list(xs))
            if method in ("argmax", "argmin"):
                assert got == want, (method, len(xs))
            elif method in ("cumsum", "cumprod"):
                assert got.dtype == DType.Float32
                assert bits_any_nan(got.to_list()) == bits_any_nan(want), (method, len(xs))
            else:
                assert isinstance(got, float)
                assert bits_any_nan(got) == bits_any_nan(want), (method, len(xs), got, want)


# A single zero of the other sign (and a NaN beside it) at every position of the vector lanes.
@pytest.mark.parametrize("n", [2, 5, 16, 17, 33, 64])
@pytest.mark.parametrize("method, fill, odd, want", [
    ("nanmax", -0.0, 0.0, 0.0), ("nanmax", 0.0, -0.0, 0.0),
    ("nanmin", 0.0, -0.0, -0.0), ("nanmin", -0.0, 0.0, -0.0),
])
def test_nanmax_nanmin_order_the_zeros_at_every_position(n, method, fill, odd, want):
    for pos in range(n):
        xs = [fill] * n
        xs[pos] = odd
        if n > 2:
            xs[(pos + 1) % n] = NAN
        got = getattr(CoreArray(xs, [n]), method)()
        assert math.copysign(1.0, got) == math.copysign(1.0, want), (n, pos)


@pytest.mark.parametrize("method, data, want", [
    ("sum", [], -0.0), ("prod", [], 1.0), ("nansum", [], -0.0), ("nansum", [NAN, NAN], -0.0),
    ("nanmax", [NAN], -INF), ("nanmax", [], -INF), ("nanmin", [], INF),
    ("nanmean", [], QNAN), ("nanmean", [NAN, NAN], QNAN), ("nanmean", [INF, -INF, NAN], QNAN),
    ("argmin", [NAN, 0.0, -1.0], 0), ("argmin", [0.0, NAN, -1.0], 2), ("argmax", [-0.0, 0.0], 0),
    ("cumsum", [-0.0], [0.0]), ("cumprod", [-0.0], [-0.0]),
])
def test_fixed_results(method, data, want):
    got = getattr(CoreArray(data, [len(data)]), method)()
    if isinstance(want, int):
        assert got == want
    else:
        assert bits(got.to_list() if isinstance(want, list) else got) == bits(want)


def test_zero_dimensional_receiver_reads_its_one_value():
    a = CoreArray([5.0], [])
    assert (a.sum(), a.mean(), a.var(), a.prod(), a.argmax(), a.argmin()) == (5.0, 5.0, 0.0, 5.0, 0, 0)
    assert (a.cumsum().shape, a.cumsum().to_list()) == ([], [5.0])


@pytest.mark.parametrize("shape", [[2, 3], [0], [2, 0]])
def test_cumulative_keep_shape_and_storage_order(shape):
    n = int(np.prod(shape))
    a = CoreArray(range(1, n + 1), shape)
    s, p = a.cumsum(), a.cumprod()
    assert (s.shape, s.dtype, p.shape, s.nbytes) == (shape, DType.Float32, shape, 4 * n)
    assert s.to_list() == [1.0, 3.0, 6.0, 10.0, 15.0, 21.0][:n]
    assert p.to_list() == [1.0, 2.0, 6.0, 24.0, 120.0, 720.0][:n]
    assert a.to_list() == [float(i) for i in range(1, n + 1)]


@pytest.mark.parametrize("shape", [[0], [3, 0], [5]])
@pytest.mark.parametrize("method", ALL_METHODS)
def test_refusals_in_order(method, shape):
    # The type check comes before the empty check, and no method reads storage of another type.
    for dtype in [DType.Float64, DType.Int32, DType.Int64, DType.Bool]:
        with raises(TypeError, f"{method}() requires Float32"):
            getattr(CoreArray.zeros(shape, dtype), method)()
    word = {"mean": "mean", "var": "var", "std_dev": "std", "argmax": "argmax", "argmin": "argmin"}.get(method)
    if word and 0 in shape:
        with raises(ValueError, f"{word} of empty array"):
            getattr(CoreArray.zeros(shape), method)()
