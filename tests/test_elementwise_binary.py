import math
import re

import numpy as np
import pytest

from tessra import CoreArray, DType

from conftest import f32, run_python
from elementwise_support import (F32, SPECIALS, assert_same, int_view, libm, random_values,
                                 to_numpy, to_tessra)

NAN, INF = float("nan"), float("inf")


def _shift_left(a, b):
    count = (int_view(b) & 31).astype(np.uint32)
    return (int_view(a).view(np.uint32) << count).view(np.int32).astype(F32)


def _truth(x):
    return np.asarray(x).astype(F32)


# Independent statements of every two-array member, on float32 numpy arrays.
REFERENCE = {
    "add": lambda a, b: a + b,
    "sub": lambda a, b: a - b,
    "mul": lambda a, b: a * b,
    "div": lambda a, b: a / b,
    "power": lambda a, b: libm("powf", a, b),
    "mod_op": lambda a, b: libm("fmodf", a, b),
    "floor_div": lambda a, b: np.floor(a / b),
    "hypot": lambda a, b: libm("hypotf", a, b),
    "arctan2": lambda a, b: libm("atan2f", a, b),
    "copysign": lambda a, b: np.where(np.isnan(b), F32(NAN), np.copysign(np.abs(a), b)),
    "eq": lambda a, b: _truth(a == b),
    "ne": lambda a, b: _truth(a != b),
    "gt": lambda a, b: _truth(a > b),
    "lt": lambda a, b: _truth(a < b),
    "ge": lambda a, b: _truth(a >= b),
    "le": lambda a, b: _truth(a <= b),
    "logical_and": lambda a, b: _truth(np.logical_and(a, b)),
    "logical_or": lambda a, b: _truth(np.logical_or(a, b)),
    "logical_xor": lambda a, b: _truth(np.logical_xor(a, b)),
    "bitwise_and": lambda a, b: (int_view(a) & int_view(b)).astype(F32),
    "bitwise_or": lambda a, b: (int_view(a) | int_view(b)).astype(F32),
    "bitwise_xor": lambda a, b: (int_view(a) ^ int_view(b)).astype(F32),
    "left_shift": _shift_left,
    "right_shift": lambda a, b: np.right_shift(int_view(a), int_view(b) & 31).astype(F32),
}
WORD = {name: name.removesuffix("_op") for name in REFERENCE}


def _pairs():
    a, b = np.meshgrid(SPECIALS, SPECIALS)
    a, b = a.ravel(), b.ravel()
    ra, rb = random_values(1500, 1), random_values(1500, 2)
    return np.concatenate([a, ra, ra]), np.concatenate([b, rb, ra])  # also equal pairs


PAIRS = _pairs()


@pytest.mark.parametrize("name", sorted(REFERENCE))
def test_matches_reference_on_special_and_random_pairs(name):
    a, b = PAIRS
    with np.errstate(all="ignore"):
        expected = REFERENCE[name](a, b)
    assert_same(to_numpy(getattr(to_tessra(a), name)(to_tessra(b))), expected)


@pytest.mark.parametrize("name, a, b, expected", [
    ("eq", NAN, NAN, 0.0), ("lt", NAN, 1.0, 0.0), ("ne", NAN, NAN, 1.0), ("ge", NAN, NAN, 0.0),
    ("eq", 0.0, -0.0, 1.0), ("gt", -1.0, 2.0, 0.0),
    ("logical_and", NAN, 1.0, 1.0), ("logical_and", -0.0, 1.0, 0.0),
    ("logical_or", 0.0, -0.0, 0.0), ("logical_xor", INF, 0.0, 1.0), ("logical_xor", NAN, 2.0, 0.0),
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
    ("arctan2", 1.0, 0.0, f32(math.pi / 2)), ("arctan2", 0.0, -1.0, f32(math.pi)),
    ("hypot", 3.0, 4.0, 5.0), ("hypot", INF, NAN, INF),
    ("floor_div", 7.0, -2.0, -4.0), ("floor_div", 1.0, 0.0, INF), ("floor_div", -1.0, 0.0, -INF),
    ("floor_div", 0.0, 0.0, NAN), ("floor_div", 1.0, 0.1, 10.0),
    ("div", 1.0, -0.0, -INF), ("div", 0.0, 0.0, NAN),
    ("mod_op", -7.0, 3.0, -1.0), ("mod_op", 7.0, -3.0, 1.0), ("mod_op", 5.0, 0.0, NAN),
    ("mod_op", INF, 2.0, NAN), ("mod_op", 5.0, INF, 5.0), ("mod_op", -0.0, 3.0, -0.0),
    ("power", -8.0, 1.0 / 3.0, NAN), ("power", NAN, 0.0, 1.0), ("power", 1.0, NAN, 1.0),
    ("power", -2.0, 3.0, -8.0),
])
def test_edge_values(name, a, b, expected):
    got = getattr(CoreArray([a], [1]), name)(CoreArray([b], [1])).to_list()[0]
    if math.isnan(expected):
        assert math.isnan(got)
    else:
        assert got == expected and math.copysign(1, got) == math.copysign(1, expected)


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
    got = CoreArray(values, [len(values)]).clip(lo, hi).to_list()
    assert_same(got, expected)


@pytest.mark.parametrize("exponent", [0.0, -0.0, 0.1, 2.0, -1.5, 1 / 3, NAN, INF, -INF, 1e300])
def test_pow_uses_the_exponent_narrowed_to_float32(exponent):
    with np.errstate(over="ignore"):
        narrowed = F32(exponent)
    assert_same(to_numpy(to_tessra(SPECIALS).pow(exponent)), libm("powf", SPECIALS, narrowed))


def test_pow_accepts_anything_float_accepts():
    class Half:
        def __float__(self):
            return 0.5
    assert CoreArray([4.0, 9.0], [2]).pow(exponent=Half()).to_list() == [2.0, 3.0]


# ---- shapes, results, operands -------------------------------------------------------------

def test_zero_d_and_empty_operands():
    r = CoreArray([2.0], []).hypot(CoreArray([1.5], []))
    assert (r.shape, r.strides, r.dtype, r.to_list()) == ([], [], DType.Float32, [2.5])
    r = CoreArray([], [0, 3]).power(CoreArray([], [0, 3]))
    assert (r.shape, r.strides, r.data_ptr, r.nbytes) == ([0, 3], [12, 4], 0, 0)
    assert CoreArray([], [0]).clip(0, 1).shape == [0]


def test_result_is_new_and_operands_stay():
    a = CoreArray([1.0, 2.0, 3.0, 4.0, 5.0, 6.0], [2, 3])
    b = CoreArray([6.0, 5.0, 4.0, 3.0, 2.0, 1.0], [2, 3])
    r = a.sub(b)
    assert (r.shape, r.strides, r.dtype) == ([2, 3], [12, 4], DType.Float32)
    assert r.data_ptr % 64 == 0 and r.data_ptr not in (a.data_ptr, b.data_ptr)
    assert r.to_list() == [-5.0, -3.0, -1.0, 1.0, 3.0, 5.0]
    assert a.to_list() == [1.0, 2.0, 3.0, 4.0, 5.0, 6.0]
    assert b.to_list() == [6.0, 5.0, 4.0, 3.0, 2.0, 1.0]
    assert a.add(a).to_list() == [2.0, 4.0, 6.0, 8.0, 10.0, 12.0]
    assert a.eq(other=a).to_list() == [1.0] * 6


# ---- errors ----------------------------------------------------------------------------------

@pytest.mark.parametrize("name", sorted(REFERENCE))
@pytest.mark.parametrize("left, right", [(DType.Float64, None), (None, DType.Int32),
                                          (DType.Bool, DType.Bool)])
def test_non_float32_operand_names_the_operation(name, left, right):
    a = CoreArray.zeros([2], left)
    b = CoreArray.zeros([2], right)
    with pytest.raises(TypeError, match=f"^{WORD[name]} currently only supports Float32$"):
        getattr(a, name)(b)


def test_element_type_is_checked_before_shape():
    with pytest.raises(TypeError, match="^mod currently only supports Float32$"):
        CoreArray.zeros([2], DType.Float64).mod_op(CoreArray.zeros([3]))


@pytest.mark.parametrize("name, left, right, text", [
    ("add", [2, 3], [3, 2], "Shape mismatch for add: [2, 3] vs [3, 2]"),
    ("add", [2], [], "Shape mismatch for add: [2] vs []"),
    ("mod_op", [6], [1, 6], "Shape mismatch for mod: [6] vs [1, 6]"),
    ("right_shift", [0, 3], [0], "Shape mismatch for right_shift: [0, 3] vs [0]"),
])
def test_shapes_must_be_identical(name, left, right, text):
    with pytest.raises(ValueError, match=f"^{re.escape(text)}$"):
        getattr(CoreArray.zeros(left), name)(CoreArray.zeros(right))


@pytest.mark.parametrize("other", [1.0, [1.0, 2.0], None, "a"])
def test_other_must_be_a_core_array(other):
    with pytest.raises(TypeError, match=r"^argument 'other': .*CoreArray"):
        CoreArray.zeros([2]).add(other)


@pytest.mark.parametrize("call, text", [
    (lambda a: a.add(), "add() missing 1 required positional argument: 'other'"),
    (lambda a: a.mul(a, a), "mul() takes 1 positional argument but 2 were given"),
    (lambda a: a.mod_op(x=a), "mod_op() got an unexpected keyword argument 'x'"),
    (lambda a: a.le(a, other=a), "le() got multiple values for argument 'other'"),
    (lambda a: a.clip(1.0), "clip() missing 1 required positional argument: 'max_val'"),
    (lambda a: a.pow(), "pow() missing 1 required positional argument: 'exponent'"),
])
def test_argument_errors(call, text):
    with pytest.raises(TypeError, match=f"^{re.escape(text)}$"):
        call(CoreArray.zeros([2]))


def test_clip_converts_its_numbers_before_checking_the_element_type():
    ints = CoreArray.zeros([2], DType.Int32)
    with pytest.raises(TypeError, match="^argument 'min_val': "):
        ints.clip("low", 1.0)
    with pytest.raises(TypeError, match="^argument 'min_val': "):
        ints.clip("low", "high")
    with pytest.raises(TypeError, match="^argument 'max_val': "):
        ints.clip(0.0, "high")
    with pytest.raises(TypeError, match="^clip currently only supports Float32$"):
        ints.clip(0.0, 1.0)
    with pytest.raises(TypeError, match="^pow currently only supports Float32$"):
        ints.pow(2.0)


def test_pow_overflow_from_float_conversion_passes_unchanged():
    with pytest.raises(OverflowError) as err:
        CoreArray.zeros([1]).pow(10**400)
    assert not str(err.value).startswith("argument")


def test_receiver_must_be_a_core_array():
    with pytest.raises(TypeError):
        CoreArray.add(1.0, CoreArray.zeros([1]))


@pytest.mark.parametrize("name, doc", [
    ("add", "Element-wise addition: self + other → new CoreArray"),
    ("eq", "Element-wise equality: self == other → Bool CoreArray"),
    ("mod_op", "Element-wise modulo: self % other"),
    ("pow", "Element-wise power: self^exponent (scalar)"),
    ("logical_and", "Element-wise logical AND (0.0 = false, non-zero = true)"),
    ("hypot", None),
    ("clip", None),
])
def test_docs_and_signatures(name, doc):
    method = getattr(CoreArray, name)
    assert (method.__doc__ or None) == doc
    signature = {"clip": "($self, min_val, max_val)", "pow": "($self, exponent)"}
    assert method.__text_signature__ == signature.get(name, "($self, other)")


def test_small_arrays_start_no_thread():
    out = run_python(
        "import os\n"
        "from tessra import CoreArray\n"
        "a = CoreArray([float(i) for i in range(5000)], [5000])\n"
        "a.add(a).sqrt().sin().mod_op(a)\n"
        "print(len(os.listdir('/proc/self/task')))\n")
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "1"
