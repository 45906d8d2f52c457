import re

import numpy as np
import pytest

from tessra import CoreArray, DType

from conftest import f32


def values(a):
    return a.to_list()


def test_constructor_from_data_and_shape():
    a = CoreArray([1, 2, 3, 4], [2, 2])
    assert (a.dtype, a.shape, values(a)) == (DType.Float32, [2, 2], [1.0, 2.0, 3.0, 4.0])
    assert CoreArray((0.5, 1.5), (2,)).to_list() == [0.5, 1.5]
    assert CoreArray(np.arange(3, dtype=np.float64), [3]).to_list() == [0.0, 1.0, 2.0]
    assert CoreArray(range(4), [4]).to_list() == [0.0, 1.0, 2.0, 3.0]


@pytest.mark.parametrize("data, shape, exc, message", [
    ([1.0, 2.0], [3], ValueError, "Data length 2 does not match shape [3] (expected 3)"),
    ([1.0] * 5, [2, 3], ValueError, "Data length 5 does not match shape [2, 3] (expected 6)"),
    ("abc", [3], TypeError, "argument 'data': Can't extract `str` to `Vec`"),
    ([[1.0]], [1], TypeError, "argument 'data': must be real number, not list"),
    (5, [1], TypeError, "argument 'data': 'int' object cannot be converted to 'Sequence'"),
])
def test_constructor_errors(data, shape, exc, message):
    with pytest.raises(exc, match="^" + re.escape(message) + "$"):
        CoreArray(data, shape)


def test_constructor_narrows_each_value_once():
    big = 2.0**200
    a = CoreArray([0.1, 1e-46, big, -big, 16777217], [5])
    assert values(a) == [f32(0.1), 0.0, float("inf"), float("-inf"), 16777216.0]


def test_zeros_ones_full():
    z = CoreArray.zeros([2, 3], DType.Int64)
    assert (z.nbytes, z.dtype) == (48, DType.Int64)
    e = CoreArray.zeros([0])
    assert (e.nbytes, e.data_ptr) == (0, 0)
    assert values(CoreArray.ones([2, 2])) == [1.0] * 4
    assert values(CoreArray.full([2], 0.1)) == [f32(0.1)] * 2
    assert values(CoreArray.full([], 7)) == [7.0]


def test_like_constructors_keep_shape():
    i32 = CoreArray.zeros([2, 3], DType.Int32)
    z = i32.zeros_like()
    assert (z.dtype, z.shape, z.nbytes) == (DType.Int32, [2, 3], 24)
    o = i32.ones_like()
    assert (o.dtype, o.shape, values(o)) == (DType.Float32, [2, 3], [1.0] * 6)
    f = i32.full_like(2.5)
    assert (f.dtype, values(f)) == (DType.Float32, [2.5] * 6)
    assert CoreArray([1], []).full_like(value=3).shape == []


@pytest.mark.parametrize("args, expected", [
    ((0, 1, 0.25), [0.0, 0.25, 0.5, 0.75]),
    ((3, 0), []),
    ((3, 0, -1), [3.0, 2.0, 1.0]),
    ((0, 5), [0.0, 1.0, 2.0, 3.0, 4.0]),
    ((5, 1, float("nan")), [5.0]),
    ((1, 5, float("nan")), []),
    ((0, 1, float("inf")), [0.0]),
])
def test_arange(args, expected):
    assert values(CoreArray.arange(*args)) == expected


def test_arange_accumulates_in_single_precision():
    got = values(CoreArray.arange(0, 1, 0.1))
    want, v = [], np.float32(0)
    while v < np.float32(1):
        want.append(float(v))
        v = np.float32(v + np.float32(0.1))
    assert got == want and len(got) == 10


@pytest.mark.parametrize("step", [0, 0.0, 1e-50, -1e-50])
def test_arange_zero_step(step):
    with pytest.raises(ValueError, match="^arange step cannot be zero$"):
        CoreArray.arange(0, 1, step)


@pytest.mark.parametrize("args", [(1e8, 2e8, 1.0), (0, float("inf"), 1.0), (0, -float("inf"), -1.0)])
def test_arange_that_stops_advancing_raises(args):
    with pytest.raises(ValueError, match="too small to advance"):
        CoreArray.arange(*args)


@pytest.mark.parametrize("args, expected", [
    ((0, 1, 5), [0.0, 0.25, 0.5, 0.75, 1.0]),
    ((2, 7, 1), [2.0]),
    ((2, 7, 0), []),
])
def test_linspace(args, expected):
    a = CoreArray.linspace(*args)
    assert (a.shape, values(a)) == ([len(expected)], expected)


def test_linspace_is_step_times_index_plus_start_in_float32():
    start, stop, num = np.float32(0.1), np.float32(0.7), 7
    step = np.float32((stop - start) / np.float32(num - 1))
    want = [float(np.float32(step * np.float32(i)) + start) for i in range(num)]
    assert values(CoreArray.linspace(0.1, 0.7, num)) == want


def test_concatenate_one_d_flattens_everything():
    a = CoreArray([1, 2, 3], [3])
    b = CoreArray([4, 5, 6, 7], [2, 2])
    c = CoreArray.concatenate([a, b, CoreArray([8], [])])
    assert (c.shape, values(c)) == ([8], [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0])


def test_concatenate_along_axis_zero():
    a = CoreArray(list(range(6)), [2, 3])
    b = CoreArray([6, 7, 8], [1, 3])
    c = CoreArray.concatenate((a, b))
    assert (c.shape, values(c)) == ([3, 3], [float(i) for i in range(9)])


@pytest.mark.parametrize("arrays, exc, message", [
    ([], ValueError, "need at least one array to concatenate"),
    ([CoreArray.zeros([2, 3]), CoreArray.zeros([2, 4])], ValueError,
     "incompatible shapes for concatenation: [2, 3] vs [2, 4]"),
    ([CoreArray.zeros([2, 3]), CoreArray.zeros([6])], ValueError,
     "incompatible shapes for concatenation: [2, 3] vs [6]"),
    ([CoreArray.zeros([2, 3]), CoreArray([1], [])], ValueError,
     "incompatible shapes for concatenation: [2, 3] vs []"),
    ([CoreArray.zeros([2]), CoreArray.zeros([2], DType.Int32)], TypeError,
     "concatenate() currently only supports Float32"),
    ([CoreArray([1], []), CoreArray.zeros([2])], ValueError,
     "zero-dimensional arrays cannot be concatenated"),
])
def test_concatenate_errors(arrays, exc, message):
    with pytest.raises(exc, match="^" + re.escape(message) + "$"):
        CoreArray.concatenate(arrays)


def test_concatenate_same_array_twice():
    a = CoreArray([1, 2], [2])
    assert values(CoreArray.concatenate([a, a])) == [1.0, 2.0, 1.0, 2.0]
