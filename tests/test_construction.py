import numpy as np
import pytest

from tessra import CoreArray, DType

from conftest import f32, raises


def test_constructor_from_data_and_shape():
    a = CoreArray([1, 2, 3, 4], [2, 2])
    assert (a.dtype, a.shape, a.to_list()) == (DType.Float32, [2, 2], [1.0, 2.0, 3.0, 4.0])
    assert CoreArray((0.5, 1.5), (2,)).to_list() == [0.5, 1.5]
    assert CoreArray(np.arange(3, dtype=np.float64), [3]).to_list() == [0.0, 1.0, 2.0]
    assert CoreArray(range(4), [4]).to_list() == [0.0, 1.0, 2.0, 3.0]
    # Each value is narrowed once, straight from the Python float.
    big = 2.0**200
    assert CoreArray([0.1, 1e-46, big, -big, 16777217], [5]).to_list() == [
        f32(0.1), 0.0, float("inf"), float("-inf"), 16777216.0]
    with raises(ValueError, "Data length 5 does not match shape [2, 3] (expected 6)"):
        CoreArray([1.0] * 5, [2, 3])


def test_zeros_ones_full_and_like():
    assert CoreArray.zeros([2, 3], DType.Int64).nbytes == 48
    assert CoreArray.ones([2, 2]).to_list() == [1.0] * 4
    assert CoreArray.full([2], 0.1).to_list() == [f32(0.1)] * 2
    assert CoreArray.full([], 7).to_list() == [7.0]
    i32 = CoreArray.zeros([2, 3], DType.Int32)
    z, o, f = i32.zeros_like(), i32.ones_like(), i32.full_like(2.5)
    assert (z.dtype, z.shape, z.nbytes) == (DType.Int32, [2, 3], 24)
    assert (o.dtype, o.shape, o.to_list()) == (DType.Float32, [2, 3], [1.0] * 6)
    assert (f.dtype, f.shape, f.to_list()) == (DType.Float32, [2, 3], [2.5] * 6)
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
    assert CoreArray.arange(*args).to_list() == expected


def test_arange_accumulates_in_single_precision():
    want, v = [], np.float32(0)
    while v < np.float32(1):
        want.append(float(v))
        v = np.float32(v + np.float32(0.1))
    assert CoreArray.arange(0, 1, 0.1).to_list() == want and len(want) == 10


@pytest.mark.parametrize("args, message", [
    ((0, 1, 0), "arange step cannot be zero"),
    ((0, 1, -1e-50), "arange step cannot be zero"),
    ((1e8, 2e8, 1.0), "arange step 1.0 is too small to advance from 100000000.0 towards 200000000.0"),
    ((0, float("inf"), 1.0), "arange step 1.0 is too small to advance from 16777216.0 towards inf"),
    ((0, -float("inf"), -1.0),
     "arange step -1.0 is too small to advance from -16777216.0 towards -inf"),
])
def test_arange_that_cannot_advance_raises(args, message):
    with raises(ValueError, message):
        CoreArray.arange(*args)


STEP = (np.float32(0.7) - np.float32(0.1)) / np.float32(6)


@pytest.mark.parametrize("args, expected", [
    ((0, 1, 5), [0.0, 0.25, 0.5, 0.75, 1.0]),
    ((2, 7, 1), [2.0]),
    ((2, 7, 0), []),
    # step * index + start in single precision; the last value is not forced to stop.
    ((0.1, 0.7, 7), [float(STEP * np.float32(i) + np.float32(0.1)) for i in range(7)]),
])
def test_linspace(args, expected):
    a = CoreArray.linspace(*args)
    assert (a.shape, a.to_list()) == ([len(expected)], expected)


A = CoreArray([1, 2], [2])


@pytest.mark.parametrize("arrays, shape, values", [
    ([CoreArray([1, 2, 3], [3]), CoreArray([4, 5, 6, 7], [2, 2]), CoreArray([8], [])], [8],
     [1, 2, 3, 4, 5, 6, 7, 8]),
    ((CoreArray(range(6), [2, 3]), CoreArray([6, 7, 8], [1, 3])), [3, 3], list(range(9))),
    ([A, A], [4], [1, 2, 1, 2]),
])
def test_concatenate(arrays, shape, values):
    c = CoreArray.concatenate(arrays)
    assert (c.shape, c.to_list()) == (shape, [float(v) for v in values])


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
    with raises(exc, message):
        CoreArray.concatenate(arrays)


# ---- shapes at the edge of 64 bits -------------------------------------------------------

BIG = 2**62


@pytest.mark.parametrize("make", [
    lambda s: CoreArray.zeros(s), lambda s: CoreArray.zeros(s, DType.Float32), lambda s: CoreArray.ones(s),
    lambda s: CoreArray.full(s, 2.0), lambda s: CoreArray([], s), lambda s: CoreArray.zeros([0]).reshape(s),
])
@pytest.mark.parametrize("shape, strides", [
    ([BIG, BIG, 0], [0, 0, 4]),
    ([0, 2**61], [2**63, 4]),
    ([2**63, 0, 5], [0, 20, 4]),
])
def test_an_extent_of_zero_anywhere_makes_an_empty_array(make, shape, strides):
    a = make(shape)
    assert (a.shape, a.strides, a.element_count, a.nbytes, a.data_ptr) == (shape, strides, 0, 0, 0)


def _random(shape):
    from tessra import random_uniform_f32
    return random_uniform_f32(shape, 1)


@pytest.mark.parametrize("make", [
    CoreArray.zeros, CoreArray.ones, lambda s: CoreArray.full(s, 2.0), lambda s: CoreArray([], s),
    lambda s: CoreArray.zeros([0]).reshape(s), lambda s: CoreArray.zeros([6]).reshape(s), _random,
])
@pytest.mark.parametrize("shape, what", [
    ([0, BIG, BIG], "stride"),          # the first stride would be 2^126
    ([0, 2**63, 4], "stride"),
    ([0, BIG], "stride"),
    ([BIG, BIG], "element count"),
    ([3, 2**32, 2**32], "element count"),
])
def test_counts_and_strides_past_64_bits_are_refused(make, shape, what):
    message = f"Shape {shape} is too large: its {what} does not fit in 64 bits"
    with raises(ValueError, message):
        make(shape)


# Results of empty operands whose own shape would not fit in 64 bits.
@pytest.mark.parametrize("call, message", [
    (lambda: CoreArray.zeros([2**63, 0]).transpose(), f"Shape [0, {2**63}] is too large: its stride"),
    (lambda: CoreArray.zeros([2**61, 0]).matmul(CoreArray.zeros([0, 2**61])),
     f"Shape [{2**61}, {2**61}] is too large: its element count"),
])
def test_results_past_64_bits_are_refused(call, message):
    with raises(ValueError, message + " does not fit in 64 bits"):
        call()


def test_empty_results_at_the_edge_of_64_bits():
    assert CoreArray.zeros([2**61, 0]).transpose().strides == [2**63, 4]
    assert CoreArray.zeros([2**61, 0]).matmul(CoreArray.zeros([0, 0])).shape == [2**61, 0]


@pytest.mark.parametrize("arrays, shape", [
    ([CoreArray.zeros([2**63, 0])] * 2, None),
    ([CoreArray.zeros([2**63, 0]), CoreArray.zeros([2**63 - 1, 0]), CoreArray.zeros([2, 0])], None),
    ([CoreArray.zeros([2**63, 0]), CoreArray.zeros([2**63 - 1, 0])], [2**64 - 1, 0]),
])
def test_concatenated_length_is_checked_for_overflow(arrays, shape):
    if shape is None:
        with raises(ValueError, "concatenated length along axis 0 does not fit in 64 bits"):
            CoreArray.concatenate(arrays)
    else:
        assert CoreArray.concatenate(arrays).shape == shape
