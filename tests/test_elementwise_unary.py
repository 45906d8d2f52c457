import math
import re
import threading

import numpy as np
import pytest

from tessra import CoreArray, DType

from elementwise_support import (F32, SPECIALS, assert_same, int_view, libm, random_values,
                                 to_numpy, to_tessra, ulp_distance)

NAN, INF = float("nan"), float("inf")


def _bits(u):
    return np.array(u, np.uint32).view(F32)


def _arcsinh(x):
    a = np.abs(x)
    inv = F32(1) / a
    h = libm("hypotf", F32(1), inv)
    return np.copysign(libm("log1pf", a + a / (h + inv)), x)


def _arccosh(x):
    root = np.sqrt(x - F32(1)) * np.sqrt(x + F32(1))
    return np.where(x < 1, _bits(0x7FC00000), libm("logf", x + root))


def _parity_remainder(x):
    return np.where(np.isfinite(x), libm("fmodf", x, F32(2)), F32(NAN))


# Independent statements of every member, on float32 numpy arrays.
REFERENCE = {
    "square": lambda x: x * x,
    "neg": lambda x: -x,
    "abs": np.abs,
    "reciprocal": lambda x: F32(1) / x,
    "cbrt": lambda x: libm("cbrtf", x),
    "sin": lambda x: libm("sinf", x),
    "cos": lambda x: libm("cosf", x),
    "tan": lambda x: libm("tanf", x),
    "arcsin": lambda x: libm("asinf", x),
    "arccos": lambda x: libm("acosf", x),
    "arctan": lambda x: libm("atanf", x),
    "sinh": lambda x: libm("sinhf", x),
    "cosh": lambda x: libm("coshf", x),
    "tanh": lambda x: libm("tanhf", x),
    "exp": lambda x: libm("expf", x),
    "exp2": lambda x: libm("exp2f", x),
    "log": lambda x: libm("logf", x),
    "log2": lambda x: libm("log2f", x),
    "log10": lambda x: libm("log10f", x),
    "sqrt": np.sqrt,
    "arcsinh": _arcsinh,
    "arccosh": _arccosh,
    "arctanh": lambda x: F32(0.5) * libm("log1pf", (x + x) / (F32(1) - x)),
    "expm1": lambda x: libm("expf", x) - F32(1),
    "log1p": lambda x: libm("logf", x + F32(1)),
    "degrees_op": lambda x: x * _bits(0x42652EE1),
    "radians_op": lambda x: x * _bits(0x3C8EFA35),
    "floor_op": np.floor,
    "ceil_op": np.ceil,
    "trunc_op": np.trunc,
    "round_op": lambda x: libm("roundf", x),
    # Halfway cases to even; -0.5 comes out as +0.0 (-1 - (-1)).
    "rint": lambda x: np.where(x == F32(-0.5), F32(0), np.rint(x)),
    "sign_op": lambda x: np.where(x > 0, F32(1), np.where(x < 0, F32(-1), F32(0))),
    "logical_not": lambda x: (x == 0).astype(F32),
    "bitwise_not": lambda x: (~int_view(x)).astype(F32),
    "is_even": lambda x: (_parity_remainder(x) == 0).astype(F32),
    "is_odd": lambda x: (_parity_remainder(x) != 0).astype(F32),
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


# numpy's own float32 functions as a second opinion, on ranges where the formulas of the
# system are accurate (tolerance in units in the last place; numpy's vector exp and log, and
# its degrees, are themselves a little less exact).
@pytest.mark.parametrize("name, ref, lo, hi, ulps", [
    ("sin", np.sin, -100, 100, 1), ("cos", np.cos, -100, 100, 1), ("exp", np.exp, -80, 80, 2),
    ("log", np.log, 1e-30, 1e30, 2), ("sqrt", np.sqrt, 0, 1e30, 0), ("tanh", np.tanh, -10, 10, 3),
    ("arcsinh", np.arcsinh, -1e15, 1e15, 4), ("arccosh", np.arccosh, 1, 1e15, 4),
    ("arctanh", np.arctanh, -0.99, 0.99, 32), ("expm1", np.expm1, 0.5, 80, 4),
    ("log1p", np.log1p, 0.5, 1e30, 2), ("degrees_op", np.degrees, -1e30, 1e30, 2),
    ("floor_op", np.floor, -1e9, 1e9, 0), ("rint", np.rint, -1e7, 1e7, 0),
])
def test_agrees_with_numpy_float32(name, ref, lo, hi, ulps):
    rng = np.random.default_rng(5)
    x = rng.uniform(lo, hi, 4000).astype(F32)
    if lo > 0 and hi / lo > 1e6:
        x = np.exp(rng.uniform(np.log(lo), np.log(hi), 4000)).astype(F32)
    got, expected = _apply(name, x), ref(x).astype(F32)
    assert np.isfinite(got).all()
    assert ulp_distance(got, expected).max() <= ulps


def _values(name, values):
    return getattr(CoreArray(values, [len(values)]), name)().to_list()


@pytest.mark.parametrize("name, values, expected", [
    ("sign_op", [-0.0, NAN, -INF, 3.0, INF, -1e-45], [0.0, 0.0, -1.0, 1.0, 1.0, -1.0]),
    ("rint", [0.5, 1.5, 2.5, -0.5, -2.5, 3.5, -0.4, -1.5], [0.0, 2.0, 2.0, 0.0, -2.0, 4.0, -0.0, -2.0]),
    ("round_op", [0.5, 1.5, 2.5, -0.5, -2.5, 3.5, -0.4, 0.49999997],
     [1.0, 2.0, 3.0, -1.0, -3.0, 4.0, -0.0, 0.0]),
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
    ("reciprocal", [-0.0, 0.0, INF], [-INF, INF, 0.0]),
    ("square", [-0.0, 1e30, -3.0], [0.0, INF, 9.0]),
    ("neg", [0.0, -0.0, INF], [-0.0, 0.0, -INF]),
    ("sqrt", [-0.0, -1.0, INF, 4.0], [-0.0, NAN, INF, 2.0]),
    ("ceil_op", [-0.5, 0.2, NAN, -INF], [-0.0, 1.0, NAN, -INF]),
    ("trunc_op", [-0.7, 2.9, INF], [-0.0, 2.0, INF]),
    ("floor_op", [-0.5, -0.0, 1e30, NAN], [-1.0, -0.0, 1e30, NAN]),
    ("log", [0.0, -1.0, 1.0, INF], [-INF, NAN, 0.0, INF]),
    ("exp", [-INF, 0.0, 100.0], [0.0, 1.0, INF]),
    ("sin", [-0.0, INF], [-0.0, NAN]),
])
def test_edge_values(name, values, expected):
    assert_same(_values(name, values), expected)


def test_arccosh_below_one_is_the_default_quiet_nan():
    got = _apply("arccosh", np.array([0.5, -INF, -1e30], F32))
    assert (got.view(np.uint32) == 0x7FC00000).all()


def test_neg_and_abs_change_only_the_sign_bit_of_nan():
    x = _bits([0x7FC00001, 0xFFC00002, 0x7F800001])
    assert (_apply("neg", x).view(np.uint32) == [0xFFC00001, 0x7FC00002, 0xFF800001]).all()
    assert (_apply("abs", x).view(np.uint32) == [0x7FC00001, 0x7FC00002, 0x7F800001]).all()


def test_angle_constants():
    pi = _apply("radians_op", np.array([180.0], F32))
    assert pi.view(np.uint32)[0] == 0x40490FDB
    assert _apply("degrees_op", pi)[0] == 180.0


# ---- shapes, results, receiver ---------------------------------------------------------------

@pytest.mark.parametrize("name", ["floor_op", "sin", "arctanh"])
def test_zero_d_and_empty_receivers(name):
    r = getattr(CoreArray([], [0, 3]), name)()
    assert (r.shape, r.strides, r.data_ptr, r.nbytes, r.dtype) == ([0, 3], [12, 4], 0, 0,
                                                                  DType.Float32)
    r = getattr(CoreArray([0.25], []), name)()
    assert (r.shape, r.strides) == ([], [])
    assert_same(r.to_list(), REFERENCE[name](np.array([0.25], F32)))


@pytest.mark.parametrize("name", sorted(REFERENCE))
def test_result_is_a_new_float32_array_and_the_receiver_stays(name):
    values = [0.5, -2.0, 3.0, 7.5, -0.0, 1.0]
    a = CoreArray(values, [2, 3])
    r = getattr(a, name)()
    assert (r.shape, r.strides, r.dtype) == ([2, 3], [12, 4], DType.Float32)
    assert r.data_ptr % 64 == 0 and r.data_ptr != a.data_ptr
    assert_same(a.to_list(), values)


@pytest.mark.parametrize("name", sorted(REFERENCE))
@pytest.mark.parametrize("dtype", [DType.Float64, DType.Int32, DType.Int64, DType.Bool])
def test_non_float32_receiver_names_the_operation(name, dtype):
    with pytest.raises(TypeError, match=f"^{WORD[name]} currently only supports Float32$"):
        getattr(CoreArray.zeros([3], dtype), name)()


@pytest.mark.parametrize("name", ["sin", "floor_op", "is_even"])
def test_any_argument_is_refused(name):
    a = CoreArray.zeros([2])
    with pytest.raises(TypeError, match=re.escape(f"{name}() takes no arguments (1 given)")):
        getattr(a, name)(a)
    with pytest.raises(TypeError, match=re.escape(f"{name}() takes no keyword arguments")):
        getattr(a, name)(x=1)


@pytest.mark.parametrize("name, doc", [
    ("neg", "Element-wise negation: -self"), ("sqrt", "Element-wise square root: sqrt(self)"),
    ("is_odd", "Element-wise is_odd: returns 1.0 where x % 2 != 0, else 0.0"),
    ("logical_not", "Element-wise logical NOT (unary)"), ("rint", None), ("degrees_op", None),
])
def test_docs_and_signatures(name, doc):
    method = getattr(CoreArray, name)
    assert (method.__doc__ or None) == doc
    assert method.__text_signature__ == "($self)"


def test_arena_scoped_members_work_repeatedly_and_on_other_threads():
    x = np.linspace(0.5, 4, 20000, dtype=F32)
    a = to_tessra(x)
    for name in ("sin", "exp", "log", "sqrt") * 2:
        assert_same(to_numpy(getattr(a, name)()), REFERENCE[name](x))
    results = []
    threads = [threading.Thread(target=lambda: results.append(to_numpy(a.log()))) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 3 and all((r == results[0]).all() for r in results)
