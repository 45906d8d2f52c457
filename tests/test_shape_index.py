import re

import numpy as np
import pytest

from tessra import CoreArray, DType

from conftest import to_numpy

NAN = float("nan")
Z = CoreArray.zeros
T = CoreArray([10, 20, 30], [3])


def _f(*values):
    return CoreArray(values, [len(values)])


@pytest.mark.parametrize("dtype, shape, new_shape, strides", [
    (DType.Int32, [2, 3], [3, 2], [8, 4]),
    (DType.Float64, [2, 3], [6], [8]),
    (DType.Bool, [4], [2, 1, 2], [2, 2, 1]),
    (DType.Float32, [1], [], []),
    (DType.Float32, [], [1, 1], [4, 4]),
    (DType.Int64, [0, 3], [3, 0], [0, 8]),
])
def test_reshape_copies_type_and_bytes(dtype, shape, new_shape, strides):
    a = CoreArray.zeros(shape, dtype)
    r = a.reshape(new_shape)
    assert (r.shape, r.strides, r.dtype, r.nbytes) == (new_shape, strides, dtype, a.nbytes)
    assert r.data_ptr % 64 == 0 and (r.data_ptr == 0) == (a.nbytes == 0)
    assert r.data_ptr != a.data_ptr or a.nbytes == 0
    a = CoreArray(range(6), [2, 3])
    assert a.reshape(new_shape=(3, 2)).to_list() == a.to_list()


@pytest.mark.parametrize("shape", [
    [0, 3], [3, 0], [1, 1], [1, 9], [9, 1], [4, 4], [5, 7], [17, 33], [64, 48],
    [257, 300], [3, 30001], [30001, 3], [1, 70000], [70000, 1],
])
def test_transpose_matches_numpy(shape):
    m = np.random.default_rng(sum(shape)).standard_normal(shape).astype(np.float32)
    t = CoreArray(m.ravel(), shape).transpose()
    assert np.array_equal(to_numpy(t), m.T)


@pytest.mark.parametrize("data, shape, index, expected_shape, values", [
    (range(6), [3, 2], -1, [2], [4, 5]),
    (range(6), [3, 2], 0, [2], [0, 1]),
    (range(6), [3, 2], -3, [2], [0, 1]),
    (range(6), [3, 2], 1, [2], [2, 3]),
    ([7, 8, 9], [3], -1, [1], [9]),
    (range(24), [2, 3, 4], 1, [3, 4], range(12, 24)),
    ([], [2, 0], 1, [0], []),
])
def test_getitem(data, shape, index, expected_shape, values):
    r = CoreArray(data, shape).getitem(index)
    assert (r.shape, r.dtype, r.to_list()) == (expected_shape, DType.Float32, [float(v) for v in values])
    assert (r.data_ptr == 0) == (not values)


def test_get_scalar_reads_storage_order():
    a = CoreArray([1, 2, 3, 4, 5, 6.5], [2, 3])
    assert (a.get_scalar(5), a.get_scalar(index=0), CoreArray([2.5], []).get_scalar(0)) == (6.5, 1.0, 2.5)


@pytest.mark.parametrize("call, shape, values", [
    (lambda: T.take(CoreArray([2.9, -1.0], [2])), [2], [30, 10]),
    (lambda: T.take(CoreArray([NAN, 1.0, 0.5, 2.0], [2, 2])), [2, 2], [10, 20, 10, 30]),
    (lambda: T.take(CoreArray([], [0])), [0], []),
    (lambda: T.take(CoreArray([1.0], [])), [], [20]),
    (lambda: _f(1, 2, 3).boolean_index(_f(0.0, NAN, -0.0)), [1], [2]),
    (lambda: CoreArray([1, 2, 3, 4], [2, 2]).boolean_index(_f(1, 0, 0, 2)), [2], [1, 4]),
    (lambda: _f(1, 2, 3, 4).boolean_index(CoreArray([0, 0, 0, 0], [2, 2])), [0], []),
    (lambda: _f().boolean_index(_f()), [0], []),
    (lambda: CoreArray([5], []).boolean_index(CoreArray([-1e-45], [])), [1], [5]),
])
def test_take_and_boolean_index(call, shape, values):
    r = call()
    assert (r.shape, r.dtype, r.to_list()) == (shape, DType.Float32, [float(v) for v in values])


@pytest.mark.parametrize("call, exc, message", [
    (lambda: Z([6]).reshape([4, 2]), ValueError,
     "Cannot reshape array of 6 elements into shape [4, 2] (8 elements)"),
    (lambda: Z([2, 3]).reshape([]), ValueError,
     "Cannot reshape array of 6 elements into shape [] (1 elements)"),
    (lambda: Z([0]).reshape([1]), ValueError,
     "Cannot reshape array of 0 elements into shape [1] (1 elements)"),
    (lambda: Z([2, 2, 2], DType.Int32).transpose(), ValueError,
     "transpose() requires 2D array, got 3D"),
    (lambda: Z([4]).transpose(), ValueError, "transpose() requires 2D array, got 1D"),
    (lambda: Z([]).transpose(), ValueError, "transpose() requires 2D array, got 0D"),
    (lambda: Z([2, 2], DType.Int64).transpose(), TypeError,
     "transpose() currently only supports Float32"),
    (lambda: Z([3, 2]).getitem(3), IndexError, "index 3 out of bounds for axis 0 with size 3"),
    (lambda: Z([3, 2]).getitem(-4), IndexError, "index -4 out of bounds for axis 0 with size 3"),
    (lambda: Z([0, 2]).getitem(0), IndexError, "index 0 out of bounds for axis 0 with size 0"),
    (lambda: Z([0, 2]).getitem(-1), IndexError, "index -1 out of bounds for axis 0 with size 0"),
    (lambda: Z([3]).getitem(-(2**63)), IndexError,
     f"index {-(2**63)} out of bounds for axis 0 with size 3"),
    (lambda: Z([]).getitem(0), IndexError, "cannot index a scalar array"),
    (lambda: Z([], DType.Int32).getitem(0), TypeError, "getitem() only supports Float32"),
    (lambda: Z([6]).get_scalar(6), IndexError, "index 6 out of bounds for array with 6 elements"),
    (lambda: Z([2], DType.Float64).get_scalar(0), TypeError, "get_scalar() only supports Float32"),
    (lambda: T.take(_f(3.0)), IndexError, "index 3 out of bounds for array with 3 elements"),
    (lambda: T.take(_f(0.0, 1e30, 7.0)), IndexError,
     "index 18446744073709551615 out of bounds for array with 3 elements"),
    (lambda: T.take(_f(float("inf"))), IndexError,
     "index 18446744073709551615 out of bounds for array with 3 elements"),
    (lambda: T.take(_f(1.0, 2.0, 5.5, 4.0)), IndexError,
     "index 5 out of bounds for array with 3 elements"),
    (lambda: T.take(Z([2], DType.Int32)), TypeError, "take() currently only supports Float32"),
    (lambda: Z([2], DType.Int32).take(T), TypeError, "take() currently only supports Float32"),
    (lambda: T.boolean_index(Z([3], DType.Bool)), TypeError,
     "boolean_index() currently only supports Float32"),
    (lambda: Z([3], DType.Int32).boolean_index(T), TypeError,
     "boolean_index() currently only supports Float32"),
    (lambda: T.boolean_index(_f(1, 1)), ValueError, "boolean_index: array length 3 != mask length 2"),
])
def test_errors(call, exc, message):
    with pytest.raises(exc, match="^" + re.escape(message) + "$"):
        call()


def test_take_large_matches_numpy_and_reports_the_first_bad_index():
    n = 300_000
    rng = np.random.default_rng(3)
    data = rng.standard_normal(n).astype(np.float32)
    pos = rng.integers(0, n, n).astype(np.float32)
    a = CoreArray(data, [n])
    assert np.array_equal(to_numpy(a.take(CoreArray(pos, [n]))), data[pos.astype(np.int64)])
    pos[250_000] = n + 7  # a later task may meet its bad index first
    pos[100_001] = n + 1
    with pytest.raises(IndexError, match=f"^index {n + 1} out of bounds for array with {n} elements$"):
        a.take(CoreArray(pos, [n]))


@pytest.mark.parametrize("density", [0.0, 0.01, 0.5, 0.99, 1.0])
def test_boolean_index_large_matches_numpy(density):
    n = 200_003
    rng = np.random.default_rng(int(density * 100))
    data = rng.standard_normal(n).astype(np.float32)
    mask = (rng.random(n) < density) * rng.choice([1.0, -1.0, NAN], n).astype(np.float32)
    mask[rng.random(n) < 0.01] = -0.0
    r = CoreArray(data, [n]).boolean_index(CoreArray(mask, [n]))
    assert np.array_equal(to_numpy(r), data[mask != 0])
