import math

import numpy as np
import pytest

from tessra import CoreArray, DType

from conftest import (F32, SPECIALS, assert_same, int_view, libm, random_values, raises, to_numpy,
                      to_tessra, ulp_distance)

NAN, INF = float("nan"), float("inf")


def _bits(u):
    return np.array(u, np.uint32).view(F32)


def _arcsinh(x):
    a = np.abs(x)
    inv = F32(1) / a
    return np.copysign(libm("log1pf", a + a / (libm("hypotf", F32(1), inv) + inv)), x)


def _arccosh(x):
    root = np.sqrt(x - F32(1)) * np.sqrt(x + F32(1))
    return np.where(x < 1, _bits(0x7FC00000), libm("logf", x + root))


def _parity(x):
    return np.where(np.isfinite(x), libm("fmodf", x, F32(2)), F32(NAN))


# Independent statements of every member, on float32 numpy arrays.
REFERENCE = {name: (lambda x, f=name + "f": libm(f, x)) for name in [
    "cbrt", "sin", "cos", "tan", "sinh", "cosh", "tanh", "exp", "exp2", "log", "log2", "log10"]}
REFERENCE |= {name: (lambda x, f=f: libm(f, x)) for name, f in [
    ("arcsin", "asinf"), ("arccos", "acosf"), ("arctan", "atanf"), ("round_op", "roundf")]}
REFERENCE |= {
    "square": lambda x: x * x, "neg": lambda x: -x, "abs": np.abs,
    "reciprocal": lambda x: F32(1) / x, "sqrt": np.sqrt,
    "arcsinh": _arcsinh, "arccosh": _arccosh,
    "arctanh": lambda x: F32(0.5) * libm("log1pf", (x + x) / (F32(1) - x)),
    "expm1": lambda x: libm("expf", x) - F32(1),
    "log1p": lambda x: libm("logf", x + F32(1)),
    "degrees_op": lambda x: x * _bits(0x42652EE1), "radians_op": lambda x: x * _bits(0x3C8EFA35),
    "floor_op": np.floor, "ceil_op": np.ceil, "trunc_op": np.trunc,
    # Halfway cases to even; -0.5 comes out as +0.0 (-1 - (-1)).
    "rint": lambda x: np.where(x == F32(-0.5), F32(0), np.rint(x)),
    "sign_op": lambda x: np.where(x > 0, F32(1), np.where(x < 0, F32(-1), F32(0))),
    "logical_not": lambda x: (x == 0).astype(F32),
    "bitwise_not": lambda x: (~int_view(x)).astype(F32),
    "is_even": lambda x: (_parity(x) == 0).astype(F32),
    "is_odd": lambda x: (_parity(x) != 0).astype(F32),
}
assert len(REFERENCE) == 37
WORD = {name: name.removesuffix("_op") for name in REFERENCE}

VALUES = np.concatenate([SPECIALS, random_values(3000, 11), np.linspace(-3, 3, 301, dtype=F32),
                         np.arange(-40, 41, 0.5, dtype=F32)])


def _apply(name, values):
    return to_numpy(getattr(to_tessra(values), name)())


@pytest.mark.parametrize("name", sorted(REFERENCE))
def test_matches_reference_on_special_and_random_values(name):
    with np.errstate(all="ignore"):
        expected = REFERENCE[name](VALUES)
    assert_same(_apply(name, VALUES), expected)


# The exact value, from the float64 functions of Python's math rounded to float32, on ranges where
# the formulas of the system are accurate. Each bound is the error the formula can reach (the C
# library's float functions are within one unit; each extra rounding in a formula adds up to one),
# with room to spare, so that no CPU's choice of kernel can break it.
@pytest.mark.parametrize("name, ref, lo, hi, ulps", [
    ("sin", math.sin, -100, 100, 2), ("cos", math.cos, -100, 100, 2), ("exp", math.exp, -80, 80, 2),
    ("log", math.log, 1e-30, 1e30, 2), ("sqrt", math.sqrt, 0, 1e30, 0), ("tanh", math.tanh, -10, 10, 4),
    ("arcsinh", math.asinh, -1e15, 1e15, 4), ("arccosh", math.acosh, 1, 1e15, 6),
    ("arctanh", math.atanh, -0.99, 0.99, 40), ("expm1", math.expm1, 0.5, 80, 3),
    ("log1p", math.log1p, 0.5, 1e30, 3), ("degrees_op", math.degrees, -1e30, 1e30, 2),
    ("floor_op", math.floor, -1e9, 1e9, 0), ("rint", round, -1e7, 1e7, 0),
])
def test_within_bound_of_exact_value(name, ref, lo, hi, ulps):
    rng = np.random.default_rng(5)
    x = rng.uniform(lo, hi, 4000).astype(F32)
    if lo > 0 and hi / lo > 1e6:
        x = np.exp(rng.uniform(np.log(lo), np.log(hi), 4000)).astype(F32)
    got = _apply(name, x)
    expected = np.array([ref(float(v)) for v in x], np.float64).astype(F32)
    assert np.isfinite(got).all()
    assert ulp_distance(got, expected).max() <= ulps


# Hand-worked answers for the members whose reference above is a model rather than a library call.
@pytest.mark.parametrize("name, values, expected", [
    ("sign_op", [-0.0, NAN, -INF, 3.0, INF, -1e-45], [0.0, 0.0, -1.0, 1.0, 1.0, -1.0]),
    ("rint", [0.5, 1.5, 2.5, -0.5, -2.5, 3.5, -0.4, -1.5], [0.0, 2.0, 2.0, 0.0, -2.0, 4.0, -0.0, -2.0]),
    ("round_op", [0.5, 2.5, -0.5, -0.4, 0.49999997], [1.0, 3.0, -1.0, -0.0, 0.0]),
    ("is_even", [4.0, -3.0, 2.5, -0.0, INF, NAN, 1e30, -4.0, 16777217.0],
     [1.0, 0.0, 0.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1.0]),
    ("is_odd", [4.0, -3.0, 2.5, -0.0, INF, NAN, 1e30, -INF], [0.0, 1.0, 1.0, 0.0, 1.0, 1.0, 0.0, 1.0]),
    ("logical_not", [0.0, -0.0, NAN, 2.0, -INF], [1.0, 1.0, 0.0, 0.0, 0.0]),
    ("bitwise_not", [0.0, 5.7, -5.7, NAN, 3e9, INF, -INF, -3e9],
     [-1.0, -6.0, 4.0, -1.0, -2147483648.0, -2147483648.0, 2147483648.0, 2147483648.0]),
    ("arccosh", [0.5, 1.0, -INF, INF, NAN], [NAN, 0.0, NAN, INF, NAN]),
    ("arctanh", [1.0, -1.0, 2.0, -0.0, INF], [INF, -INF, NAN, -0.0, NAN]),
    ("arcsinh", [-0.0, 0.0, INF, -INF], [-0.0, 0.0, INF, -INF]),
    ("expm1", [1e-10, -INF, 0.0], [0.0, -1.0, 0.0]),
    ("log1p", [1e-10, -1.0, -2.0], [0.0, -INF, NAN]),
])
def test_edge_values(name, values, expected):
    assert_same(getattr(CoreArray(values, [len(values)]), name)().to_list(), expected)


# Exact bit patterns where NaN payloads and signs or a rounding constant matter.
@pytest.mark.parametrize("name, given, expected", [
    ("arccosh", [0x3F000000, 0xFF800000, 0xF149F2CA], [0x7FC00000] * 3),
    ("neg", [0x7FC00001, 0xFFC00002, 0x7F800001], [0xFFC00001, 0x7FC00002, 0xFF800001]),
    ("abs", [0x7FC00001, 0xFFC00002, 0x7F800001], [0x7FC00001, 0x7FC00002, 0x7F800001]),
    ("radians_op", [0x43340000], [0x40490FDB]),  # 180 -> pi
    ("degrees_op", [0x40490FDB], [0x43340000]),
])
def test_exact_bits(name, given, expected):
    assert _apply(name, _bits(given)).view(np.uint32).tolist() == expected


@pytest.mark.parametrize("name", sorted(REFERENCE))
def test_shapes_results_receiver_and_other_types(name):
    values = [0.5, -2.0, 3.0, 7.5, -0.0, 1.0]
    a = CoreArray(values, [2, 3])
    r = getattr(a, name)()
    assert (r.shape, r.strides, r.dtype) == ([2, 3], [12, 4], DType.Float32)
    assert r.data_ptr % 64 == 0 and r.data_ptr != a.data_ptr
    assert_same(a.to_list(), values)
    r = getattr(CoreArray([], [0, 3]), name)()
    assert (r.shape, r.strides, r.data_ptr, r.nbytes) == ([0, 3], [12, 4], 0, 0)
    r = getattr(CoreArray([0.25], []), name)()
    assert (r.shape, r.strides) == ([], [])
    with np.errstate(invalid="ignore"):
        assert_same(r.to_list(), REFERENCE[name](np.array([0.25], F32)))
    for dtype in [DType.Float64, DType.Int32, DType.Int64, DType.Bool]:
        with raises(TypeError, f"{WORD[name]} currently only supports Float32"):
            getattr(CoreArray.zeros([3], dtype), name)()
