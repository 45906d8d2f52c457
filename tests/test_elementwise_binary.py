import numpy as np
import pytest

from tessra import CoreArray, DType

from conftest import (F32, SPECIALS, assert_same, f32, int_view, libm, random_values, raises,
                      to_numpy, to_tessra)

NAN, INF = float("nan"), float("inf")


def _shift_left(a, b):
    count = (int_view(b) & 31).astype(np.uint32)
    return (int_view(a).view(np.uint32) << count).view(np.int32).astype(F32)


def _truth(op):
    return lambda a, b: op(a, b).astype(F32)


def _ints(op):
    return lambda a, b: op(int_view(a), int_view(b)).astype(F32)


# Independent statements of every two-array member, on float32 numpy arrays.
REFERENCE = {
    "add": lambda a, b: a + b, "sub": lambda a, b: a - b,
    "mul": lambda a, b: a * b, "div": lambda a, b: a / b,
    "power": lambda a, b: libm("powf", a, b), "mod_op": lambda a, b: libm("fmodf", a, b),
    "floor_div": lambda a, b: np.floor(a / b), "hypot": lambda a, b: libm("hypotf", a, b),
    "arctan2": lambda a, b: libm("atan2f", a, b),
    "copysign": lambda a, b: np.where(np.isnan(b), F32(NAN), np.copysign(np.abs(a), b)),
    "eq": _truth(np.equal), "ne": _truth(np.not_equal), "gt": _truth(np.greater),
    "lt": _truth(np.less), "ge": _truth(np.greater_equal), "le": _truth(np.less_equal),
    "logical_and": _truth(np.logical_and), "logical_or": _truth(np.logical_or),
    "logical_xor": _truth(np.logical_xor),
    "bitwise_and": _ints(np.bitwise_and), "bitwise_or": _ints(np.bitwise_or),
    "bitwise_xor": _ints(np.bitwise_xor), "left_shift": _shift_left,
    "right_shift": lambda a, b: np.right_shift(int_view(a), int_view(b) & 31).astype(F32),
}
WORD = {name: name.removesuffix("_op") for name in REFERENCE}

_A, _B = (g.ravel() for g in np.meshgrid(SPECIALS, SPECIALS))
_RA, _RB = random_values(1500, 1), random_values(1500, 2)
PAIRS = np.concatenate([_A, _RA, _RA]), np.concatenate([_B, _RB, _RA])  # also equal pairs


@pytest.mark.parametrize("name", sorted(REFERENCE))
def test_matches_reference_on_special_and_random_pairs(name):
    a, b = PAIRS
    with np.errstate(all="ignore"):
        expected = REFERENCE[name](a, b)
    assert_same(to_numpy(getattr(to_tessra(a), name)(to_tessra(b))), expected)


# Hand-worked answers for the members whose reference above is a model rather than a library
# call or a numpy operation.
@pytest.mark.parametrize("name, a, b, expected", [
    ("bitwise_and", 3e9, 3e9, 2147483648.0), ("bitwise_or", NAN, 5.0, 5.0),
    ("bitwise_xor", 2.9, 1.0, 3.0), ("bitwise_and", -1.0, 255.9, 255.0),
    ("bitwise_or", -3e9, 0.0, -2147483648.0),
    ("left_shift", 1.0, 31.0, -2147483648.0), ("left_shift", 1.0, 32.0, 1.0),
    ("left_shift", 1.0, -1.0, -2147483648.0), ("left_shift", 5.0, 30.0, 1073741824.0),
    ("left_shift", 1.0, 2.9, 4.0), ("left_shift", 3.0, 33.0, 6.0),
    ("right_shift", -8.0, 1.0, -4.0), ("right_shift", -1.0, 31.0, -1.0),
    ("right_shift", 1024.0, 2.9, 256.0),
    ("copysign", 3.0, -0.0, -3.0), ("copysign", -3.0, 0.0, 3.0), ("copysign", 3.0, NAN, NAN),
    ("copysign", NAN, 1.0, NAN),
    ("floor_div", 7.0, -2.0, -4.0), ("floor_div", 1.0, 0.0, INF), ("floor_div", -1.0, 0.0, -INF),
    ("floor_div", 0.0, 0.0, NAN), ("floor_div", 1.0, 0.1, 10.0),
])
def test_edge_values(name, a, b, expected):
    assert_same(getattr(CoreArray([a], [1]), name)(CoreArray([b], [1])).to_list(), [expected])


@pytest.mark.parametrize("lo, hi, values, expected", [
    (0.0, 1.0, [NAN, -0.0, 2.0, 0.5, -INF], [0.0, 0.0, 1.0, 0.5, 0.0]),
    (2.0, 1.0, [NAN, 0.0, 1.5, 5.0], [1.0, 1.0, 1.0, 1.0]),
    (NAN, 1.0, [0.5, 1.0, 2.0, NAN, -INF], [0.5, 1.0, 1.0, 1.0, -INF]),
    (0.0, NAN, [-1.0, 5.0, NAN, INF], [0.0, 5.0, 0.0, INF]),
    (NAN, NAN, [-1.0, NAN], [-1.0, NAN]),
    (-1e300, 1e300, [-3e38, 3e38, NAN, -0.0], [f32(-3e38), f32(3e38), -INF, -0.0]),
    (-0.0, 0.0, [-0.0, 0.0, -1.0], [-0.0, 0.0, -0.0]),
    (0.1, 0.2, [0.0, 1.0], [f32(0.1), f32(0.2)]),
])
def test_clip(lo, hi, values, expected):
    assert_same(CoreArray(values, [len(values)]).clip(lo, hi).to_list(), expected)


@pytest.mark.parametrize("exponent", [0.0, -0.0, 0.1, 2.0, -1.5, 1 / 3, NAN, INF, -INF, 1e300])
def test_pow_uses_the_exponent_narrowed_to_float32(exponent):
    with np.errstate(over="ignore"):
        narrowed = F32(exponent)
    assert_same(to_numpy(to_tessra(SPECIALS).pow(exponent)), libm("powf", SPECIALS, narrowed))


def test_shapes_results_and_operands():
    a = CoreArray([1.0, 2.0, 3.0, 4.0, 5.0, 6.0], [2, 3])
    b = CoreArray([6.0, 5.0, 4.0, 3.0, 2.0, 1.0], [2, 3])
    r = a.sub(b)
    assert (r.shape, r.strides, r.dtype) == ([2, 3], [12, 4], DType.Float32)
    assert r.data_ptr % 64 == 0 and r.data_ptr not in (a.data_ptr, b.data_ptr)
    assert r.to_list() == [-5.0, -3.0, -1.0, 1.0, 3.0, 5.0]
    assert (a.to_list(), b.to_list()) == ([1.0, 2.0, 3.0, 4.0, 5.0, 6.0], [6.0, 5.0, 4.0, 3.0, 2.0, 1.0])
    assert a.add(a).to_list() == [2.0, 4.0, 6.0, 8.0, 10.0, 12.0]
    r = CoreArray([2.0], []).hypot(CoreArray([1.5], []))
    assert (r.shape, r.strides, r.to_list()) == ([], [], [2.5])
    r = CoreArray([], [0, 3]).power(CoreArray([], [0, 3]))
    assert (r.shape, r.strides, r.data_ptr, r.nbytes) == ([0, 3], [12, 4], 0, 0)
    assert CoreArray([], [0]).clip(0, 1).shape == [0]


I32 = CoreArray.zeros([2], DType.Int32)


@pytest.mark.parametrize("name", sorted(REFERENCE))
@pytest.mark.parametrize("left, right", [(DType.Float64, None), (None, DType.Int32),
                                          (DType.Bool, DType.Bool)])
def test_non_float32_operand_names_the_operation(name, left, right):
    with raises(TypeError, f"{WORD[name]} currently only supports Float32"):
        getattr(CoreArray.zeros([2], left), name)(CoreArray.zeros([2], right))


# Arguments are converted first, then the element type is checked, then the shapes.
@pytest.mark.parametrize("call, exc, text", [
    (lambda: CoreArray.zeros([2, 3]).add(CoreArray.zeros([3, 2])), ValueError,
     "Shape mismatch for add: [2, 3] vs [3, 2]"),
    (lambda: CoreArray.zeros([2]).add(CoreArray.zeros([])), ValueError, "Shape mismatch for add: [2] vs []"),
    (lambda: CoreArray.zeros([6]).mod_op(CoreArray.zeros([1, 6])), ValueError,
     "Shape mismatch for mod: [6] vs [1, 6]"),
    (lambda: CoreArray.zeros([0, 3]).right_shift(CoreArray.zeros([0])), ValueError,
     "Shape mismatch for right_shift: [0, 3] vs [0]"),
    (lambda: I32.mod_op(CoreArray.zeros([3])), TypeError, "mod currently only supports Float32"),
    (lambda: I32.clip("low", "high"), TypeError, "argument 'min_val': must be real number, not str"),
    (lambda: I32.clip(0.0, "high"), TypeError, "argument 'max_val': must be real number, not str"),
    (lambda: I32.clip(0.0, 1.0), TypeError, "clip currently only supports Float32"),
    (lambda: I32.pow(2.0), TypeError, "pow currently only supports Float32"),
])
def test_errors_in_order(call, exc, text):
    with raises(exc, text):
        call()
