import re

import numpy as np
import pytest

from tessra import CoreArray, DType

NAN = float("nan")


def raises(exc, message):
    return pytest.raises(exc, match="^" + re.escape(message) + "$")


def as_numpy(a):
    return np.array(a.to_list(), dtype=np.float32).reshape(a.shape)


# ---- reshape -----------------------------------------------------------------------------------

@pytest.mark.parametrize("dtype, shape, new_shape, strides", [
    (DType.Int32, [2, 3], [3, 2], [8, 4]),
    (DType.Float64, [2, 3], [6], [8]),
    (DType.Bool, [4], [2, 1, 2], [2, 2, 1]),
    (DType.Float32, [1], [], []),
    (DType.Float32, [], [1, 1], [4, 4]),
    (DType.Int64, [0, 3], [3, 0], [0, 8]),
])
def test_reshape_keeps_type_and_bytes(dtype, shape, new_shape, strides):
    a = CoreArray.zeros(shape, dtype)
    r = a.reshape(new_shape)
    assert (r.shape, r.strides, r.dtype, r.nbytes) == (new_shape, strides, dtype, a.nbytes)
    if a.nbytes:
        assert r.data_ptr != a.data_ptr and r.data_ptr % 64 == 0
    else:
        assert r.data_ptr == 0


def test_reshape_copies_the_values():
    a = CoreArray([1, 2, 3, 4, 5, 6], [2, 3])
    r = a.reshape(new_shape=(3, 2))
    assert r.to_list() == a.to_list() and r.shape == [3, 2]


@pytest.mark.parametrize("shape, new_shape, message", [
    ([6], [4, 2], "Cannot reshape array of 6 elements into shape [4, 2] (8 elements)"),
    ([2, 3], [], "Cannot reshape array of 6 elements into shape [] (1 elements)"),
    ([0], [1], "Cannot reshape array of 0 elements into shape [1] (1 elements)"),
])
def test_reshape_count_mismatch(shape, new_shape, message):
    with raises(ValueError, message):
        CoreArray.zeros(shape).reshape(new_shape)


# ---- transpose ---------------------------------------------------------------------------------

def test_transpose_small():
    t = CoreArray([1, 2, 3, 4, 5, 6], [2, 3]).transpose()
    assert (t.shape, t.strides, t.to_list()) == ([3, 2], [8, 4], [1.0, 4.0, 2.0, 5.0, 3.0, 6.0])


@pytest.mark.parametrize("shape", [
    [0, 3], [3, 0], [1, 1], [1, 9], [9, 1], [4, 4], [5, 7], [17, 33], [64, 48],
    [257, 300], [3, 30001], [30001, 3], [1, 70000], [70000, 1],
])
def test_transpose_matches_numpy(shape):
    m = np.random.default_rng(sum(shape)).standard_normal(shape).astype(np.float32)
    t = CoreArray(m.ravel(), shape).transpose()
    assert t.shape == shape[::-1]
    assert np.array_equal(as_numpy(t), m.T)


@pytest.mark.parametrize("shape, dtype, exc, message", [
    ([2, 2, 2], DType.Int32, ValueError, "transpose() requires 2D array, got 3D"),
    ([4], DType.Float32, ValueError, "transpose() requires 2D array, got 1D"),
    ([], DType.Float32, ValueError, "transpose() requires 2D array, got 0D"),
    ([2, 2], DType.Int64, TypeError, "transpose() currently only supports Float32"),
])
def test_transpose_errors(shape, dtype, exc, message):
    with raises(exc, message):
        CoreArray.zeros(shape, dtype).transpose()


# ---- getitem and get_scalar --------------------------------------------------------------------

@pytest.mark.parametrize("index, shape, values", [
    (-1, [2], [5.0, 6.0]),
    (0, [2], [1.0, 2.0]),
    (-3, [2], [1.0, 2.0]),
    (1, [2], [3.0, 4.0]),
])
def test_getitem_rows(index, shape, values):
    r = CoreArray([1, 2, 3, 4, 5, 6], [3, 2]).getitem(index)
    assert (r.shape, r.dtype, r.to_list()) == (shape, DType.Float32, values)


def test_getitem_of_1d_and_3d():
    r = CoreArray([7, 8, 9], [3]).getitem(-1)
    assert (r.shape, r.to_list()) == ([1], [9.0])
    block = CoreArray(list(range(24)), [2, 3, 4]).getitem(1)
    assert (block.shape, block.to_list()) == ([3, 4], [float(v) for v in range(12, 24)])
    empty_rows = CoreArray.zeros([2, 0]).getitem(1)
    assert (empty_rows.shape, empty_rows.data_ptr) == ([0], 0)


@pytest.mark.parametrize("shape, index, exc, message", [
    ([3, 2], 3, IndexError, "index 3 out of bounds for axis 0 with size 3"),
    ([3, 2], -4, IndexError, "index -4 out of bounds for axis 0 with size 3"),
    ([0, 2], 0, IndexError, "index 0 out of bounds for axis 0 with size 0"),
    ([0, 2], -1, IndexError, "index -1 out of bounds for axis 0 with size 0"),
    ([3], -(2**63), IndexError, f"index {-(2**63)} out of bounds for axis 0 with size 3"),
    ([], 0, IndexError, "cannot index a scalar array"),
])
def test_getitem_errors(shape, index, exc, message):
    with raises(exc, message):
        CoreArray.zeros(shape).getitem(index)


def test_getitem_type_comes_before_scalar_check():
    with raises(TypeError, "getitem() only supports Float32"):
        CoreArray.zeros([], DType.Int32).getitem(0)
    with pytest.raises(OverflowError):
        CoreArray.zeros([2]).getitem(2**63)


def test_get_scalar():
    a = CoreArray([1, 2, 3, 4, 5, 6.5], [2, 3])
    assert a.get_scalar(5) == 6.5 and a.get_scalar(index=0) == 1.0
    assert CoreArray([2.5], []).get_scalar(0) == 2.5
    with raises(IndexError, "index 6 out of bounds for array with 6 elements"):
        a.get_scalar(6)
    with raises(TypeError, "get_scalar() only supports Float32"):
        CoreArray.zeros([2], DType.Float64).get_scalar(0)
    with pytest.raises(OverflowError):
        a.get_scalar(-1)


# ---- take ---------------------------------------------------------------------------------------

@pytest.mark.parametrize("indices, shape, values", [
    ([2.9, -1.0], [2], [30.0, 10.0]),
    ([NAN, 1.0, 0.5, 2.0], [2, 2], [10.0, 20.0, 10.0, 30.0]),
    ([], [0], []),
    ([1.0], [], [20.0]),
])
def test_take(indices, shape, values):
    r = CoreArray([10, 20, 30], [3]).take(CoreArray(indices, shape))
    assert (r.shape, r.dtype, r.to_list()) == (shape, DType.Float32, values)


@pytest.mark.parametrize("indices, message", [
    ([3.0], "index 3 out of bounds for array with 3 elements"),
    ([0.0, 1e30, 7.0], "index 18446744073709551615 out of bounds for array with 3 elements"),
    ([float("inf")], "index 18446744073709551615 out of bounds for array with 3 elements"),
    ([1.0, 2.0, 5.5, 4.0], "index 5 out of bounds for array with 3 elements"),
])
def test_take_out_of_bounds(indices, message):
    with raises(IndexError, message):
        CoreArray([10, 20, 30], [3]).take(CoreArray(indices, [len(indices)]))


def test_take_large_matches_numpy_and_reports_the_first_bad_index():
    n = 300_000
    rng = np.random.default_rng(3)
    data = rng.standard_normal(n).astype(np.float32)
    pos = rng.integers(0, n, n).astype(np.float32)
    a = CoreArray(data, [n])
    assert np.array_equal(as_numpy(a.take(CoreArray(pos, [n]))), data[pos.astype(np.int64)])
    pos[250_000] = n + 7  # a later task may meet its bad index first
    pos[100_001] = n + 1
    with raises(IndexError, f"index {n + 1} out of bounds for array with {n} elements"):
        a.take(CoreArray(pos, [n]))


@pytest.mark.parametrize("method, message", [
    ("take", "take() currently only supports Float32"),
    ("boolean_index", "boolean_index() currently only supports Float32"),
])
def test_take_and_boolean_index_types(method, message):
    f = CoreArray([1.0, 2.0], [2])
    i = CoreArray.zeros([2], DType.Int32)
    for receiver, argument in ((f, i), (i, f)):
        with raises(TypeError, message):
            getattr(receiver, method)(argument)
    name = "indices" if method == "take" else "mask"
    with pytest.raises(TypeError, match=f"^argument '{name}': "):
        getattr(f, method)([0.0, 1.0])


# ---- boolean_index ------------------------------------------------------------------------------

@pytest.mark.parametrize("data, shape, mask, mask_shape, values", [
    ([1, 2, 3], [3], [0.0, NAN, -0.0], [3], [2.0]),
    ([1, 2, 3, 4], [2, 2], [1, 0, 0, 2], [4], [1.0, 4.0]),
    ([1, 2, 3, 4], [4], [0, 0, 0, 0], [2, 2], []),
    ([], [0], [], [0], []),
    ([5], [], [-1e-45], [], [5.0]),
])
def test_boolean_index(data, shape, mask, mask_shape, values):
    r = CoreArray(data, shape).boolean_index(CoreArray(mask, mask_shape))
    assert (r.shape, r.to_list()) == ([len(values)], values)


def test_boolean_index_length_mismatch():
    with raises(ValueError, "boolean_index: array length 3 != mask length 2"):
        CoreArray([1, 2, 3], [3]).boolean_index(CoreArray([1, 1], [2]))


@pytest.mark.parametrize("density", [0.0, 0.01, 0.5, 0.99, 1.0])
def test_boolean_index_large_matches_numpy(density):
    n = 200_003
    rng = np.random.default_rng(int(density * 100))
    data = rng.standard_normal(n).astype(np.float32)
    mask = (rng.random(n) < density).astype(np.float32) * rng.choice([1.0, -1.0, NAN], n).astype(np.float32)
    mask[rng.random(n) < 0.01] = -0.0
    r = CoreArray(data, [n]).boolean_index(CoreArray(mask, [n]))
    assert np.array_equal(as_numpy(r), data[mask != 0])
