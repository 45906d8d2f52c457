import functools
import math
import re

import numpy as np
import pytest

from tessra import CoreArray, DType

F = np.float32
NAN = float("nan")
INF = float("inf")

FLOAT_METHODS = ["sum", "mean", "var", "std_dev", "prod", "nansum", "nanmean", "nanmax", "nanmin"]
ALL_METHODS = FLOAT_METHODS + ["argmax", "argmin", "cumsum", "cumprod"]


# ---- reference: the same single-precision operations, one at a time, in index order ---------

def ref_sum(xs):
    return functools.reduce(lambda acc, x: acc + x, xs, F(-0.0))


def ref_prod(xs):
    return functools.reduce(lambda acc, x: acc * x, xs, F(1.0))


def ref_mean(xs):
    return ref_sum(xs) / F(len(xs))


def ref_var(xs):
    m = ref_mean(xs)
    acc = F(-0.0)
    for x in xs:
        d = x - m
        acc = acc + d * d
    return acc / F(len(xs))


def ref_std_dev(xs):
    return np.sqrt(ref_var(xs))


def ref_nansum(xs):
    return ref_sum([x for x in xs if not np.isnan(x)])


def ref_nanmean(xs):
    kept = [x for x in xs if not np.isnan(x)]
    if not kept:
        return F(NAN)
    r = ref_sum(kept) / F(len(kept))
    return F(NAN) if np.isnan(r) else r


def _max_num(a, b):
    if a == b:  # of two zeros +0.0 is the larger
        return a if not np.signbit(a) else b
    return a if a > b else b


def _min_num(a, b):
    if a == b:
        return a if np.signbit(a) else b
    return a if a < b else b


def ref_nanmax(xs):
    return functools.reduce(_max_num, [x for x in xs if not np.isnan(x)], F(-INF))


def ref_nanmin(xs):
    return functools.reduce(_min_num, [x for x in xs if not np.isnan(x)], F(INF))


def _ref_arg(xs, better):
    best, at = xs[0], 0
    for i in range(1, len(xs)):
        if better(xs[i], best):
            best, at = xs[i], i
    return at


def _running(xs, acc, step):
    out = []
    for x in xs:
        acc = step(acc, x)
        out.append(acc)
    return np.array(out, dtype=F)


ref_argmax = functools.partial(_ref_arg, better=lambda x, best: x > best)
ref_argmin = functools.partial(_ref_arg, better=lambda x, best: x < best)
ref_cumsum = functools.partial(_running, acc=F(0.0), step=lambda a, x: a + x)
ref_cumprod = functools.partial(_running, acc=F(1.0), step=lambda a, x: a * x)

REFERENCES = {name: globals()["ref_" + name] for name in ALL_METHODS}


def bits(x):
    return np.array(x, dtype=F).view(np.uint32).tolist()


def inputs(kind, n, seed):
    rng = np.random.default_rng(seed)
    if kind == "wide":  # magnitudes far apart, so any reordering changes the bits
        v = rng.standard_normal(n) * 10.0 ** rng.integers(-6, 7, n)
    elif kind == "near_one":  # products that stay finite
        v = 1.0 + rng.standard_normal(n) * 0.01
    elif kind == "ties":  # few distinct values, both zeros, NaN and infinities
        v = rng.choice([0.0, -0.0, 1.0, -1.0, 3.0, NAN, INF, -INF], n)
    else:  # "nan": ordinary values with NaN sprinkled in
        v = rng.standard_normal(n)
        v[rng.random(n) < 0.2] = NAN
    return v.astype(F)


SIZES = [1, 2, 3, 7, 16, 17, 100, 1000, 2049, 4500]


@pytest.fixture(scope="module")
def cases():
    out = []
    for kind in ("wide", "near_one", "ties", "nan"):
        for i, n in enumerate(SIZES):
            if kind == "ties" and n > 1000:
                continue  # argmax across blocks is covered below with the same data kinds
            out.append(inputs(kind, n, seed=i))
    return out


@pytest.mark.parametrize("method", ALL_METHODS)
def test_matches_the_ordered_single_precision_reference(method, cases):
    with np.errstate(all="ignore"):
        for xs in cases:
            got = getattr(CoreArray(xs, [len(xs)]), method)()
            want = REFERENCES[method](list(xs))
            if method in ("argmax", "argmin"):
                assert got == want, (method, len(xs))
            elif method in ("cumsum", "cumprod"):
                assert got.dtype == DType.Float32
                assert bits(got.to_list()) == bits(want), (method, len(xs))
            else:
                assert isinstance(got, float)
                assert bits(got) == bits(want), (method, len(xs), got, want)


@pytest.mark.parametrize("data", [
    [5.0] * 3000 + [7.0] * 3 + [NAN] + [7.0],                 # ties across block ends
    list(range(6000)),                                          # every block improves
    list(range(6000, 0, -1)),                                   # the first value wins
    [NAN] + list(range(5000)),                                  # a NaN first stays best
    [-INF] * 4097 + [NAN] * 10,                                 # nothing beats -inf
    [0.0] * 2048 + [-0.0] + [1.0] * 2048 + [-1.0] + [1.0] * 5,  # equal zeros, first kept
])
@pytest.mark.parametrize("method", ["argmax", "argmin"])
def test_argmax_argmin_first_position_over_long_inputs(data, method):
    xs = np.array(data, dtype=F)
    assert getattr(CoreArray(xs, [len(xs)]), method)() == REFERENCES[method](list(xs))


@pytest.mark.parametrize("n", [2, 5, 16, 17, 33, 64])
@pytest.mark.parametrize("method, fill, odd, want", [
    ("nanmax", -0.0, 0.0, 0.0),
    ("nanmax", 0.0, -0.0, 0.0),
    ("nanmin", 0.0, -0.0, -0.0),
    ("nanmin", -0.0, 0.0, -0.0),
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
    ("sum", [], -0.0), ("sum", [-0.0], -0.0), ("sum", [0.0], 0.0),
    ("prod", [], 1.0),
    ("nansum", [], -0.0), ("nansum", [NAN, NAN], -0.0),
    ("nanmax", [NAN], -INF), ("nanmax", [], -INF), ("nanmin", [], INF),
    ("var", [1.0, 2.0, 3.0, 4.0], 1.25),
    ("std_dev", [1.0, 2.0, 3.0, 4.0], float(np.sqrt(F(1.25)))),
    ("mean", [1.0, 2.0], 1.5),
    ("sum", [INF, -INF], NAN), ("prod", [0.0, INF], NAN), ("sum", [1.0, NAN, 2.0], NAN),
    ("nanmax", [-0.0, 0.0], 0.0), ("nanmax", [0.0, -0.0], 0.0),
    ("nanmin", [-0.0, 0.0], -0.0), ("nanmin", [0.0, -0.0], -0.0),
])
def test_fixed_results(method, data, want):
    got = getattr(CoreArray(data, [len(data)]), method)()
    if math.isnan(want):
        assert math.isnan(got)
    else:
        assert bits(got) == bits(want)


@pytest.mark.parametrize("data", [[], [NAN], [NAN, NAN], [INF, -INF, NAN]])
def test_nanmean_without_a_number_is_positive_quiet_nan(data):
    got = CoreArray(data, [len(data)]).nanmean()
    assert bits(got) == 0x7FC00000


@pytest.mark.parametrize("method, data, want", [
    ("argmax", [1.0, 3.0, 3.0], 1),
    ("argmin", [NAN, 0.0, -1.0], 0),
    ("argmin", [0.0, NAN, -1.0], 2),
    ("argmax", [-0.0, 0.0], 0),
    ("argmax", [2.0], 0),
])
def test_arg_positions(method, data, want):
    assert getattr(CoreArray(data, [len(data)]), method)() == want


def test_zero_dimensional_receiver_reads_its_one_value():
    a = CoreArray([5.0], [])
    assert (a.sum(), a.mean(), a.var(), a.prod(), a.argmax(), a.argmin()) == (5.0, 5.0, 0.0, 5.0, 0, 0)
    c = a.cumsum()
    assert (c.shape, c.to_list()) == ([], [5.0])


def test_cumulative_keep_shape_and_storage_order():
    a = CoreArray([1, 2, 3, 4, 5, 6], [2, 3])
    s = a.cumsum()
    assert (s.shape, s.strides, s.dtype) == ([2, 3], [12, 4], DType.Float32)
    assert s.to_list() == [1.0, 3.0, 6.0, 10.0, 15.0, 21.0]
    assert a.cumprod().to_list() == [1.0, 2.0, 6.0, 24.0, 120.0, 720.0]
    assert a.to_list() == [1.0, 2.0, 3.0, 4.0, 5.0, 6.0]


@pytest.mark.parametrize("method, want", [("cumsum", [0.0]), ("cumprod", [-0.0])])
def test_cumulative_start_values(method, want):
    assert bits(getattr(CoreArray([-0.0], [1]), method)().to_list()) == bits(want)


@pytest.mark.parametrize("shape", [[0], [2, 0]])
@pytest.mark.parametrize("method", ["cumsum", "cumprod"])
def test_cumulative_of_empty(shape, method):
    r = getattr(CoreArray.zeros(shape), method)()
    assert (r.shape, r.dtype, r.nbytes, r.data_ptr) == (shape, DType.Float32, 0, 0)


@pytest.mark.parametrize("method, word", [
    ("mean", "mean"), ("var", "var"), ("std_dev", "std"), ("argmax", "argmax"), ("argmin", "argmin"),
])
@pytest.mark.parametrize("shape", [[0], [3, 0]])
def test_empty_input_is_refused(method, word, shape):
    with pytest.raises(ValueError, match="^" + re.escape(f"{word} of empty array") + "$"):
        getattr(CoreArray.zeros(shape), method)()


@pytest.mark.parametrize("dtype", [DType.Float64, DType.Int32, DType.Int64, DType.Bool])
@pytest.mark.parametrize("method", ALL_METHODS)
@pytest.mark.parametrize("shape", [[5], [0]])
def test_non_float32_receiver_is_refused_before_anything_is_read(method, dtype, shape):
    # The type check comes before the empty check, and no method reads storage of another type.
    with pytest.raises(TypeError, match="^" + re.escape(f"{method}() requires Float32") + "$"):
        getattr(CoreArray.zeros(shape, dtype), method)()
