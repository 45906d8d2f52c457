import math

import numpy as np
import pytest

from conftest import f32, raises, to_numpy, to_tessra
from tessra import CoreArray, DType

NOT_SQUARE = "Cholesky requires a square 2D matrix"
NOT_PD = "Matrix is not positive definite"


def _spd(n, seed):
    m = np.random.default_rng(seed).standard_normal((n, n))
    return (m @ m.T / n + np.eye(n)).astype(np.float32)


@pytest.mark.parametrize("n", [1, 2, 7, 31, 32, 33, 100, 257, 512])
def test_matches_numpy_in_float64_and_leaves_the_input_alone(n):
    s = _spd(n, n)
    a = to_tessra(s)
    before = a.to_list()
    l = a.cholesky()
    assert l.shape == [n, n] and l.dtype == DType.Float32
    got = to_numpy(l)
    ref = np.linalg.cholesky(s.astype(np.float64))
    np.testing.assert_allclose(got, ref, rtol=1e-4, atol=1e-5 * np.abs(ref).max())
    assert not np.triu(got, 1).any()
    assert a.to_list() == before


def test_only_the_lower_triangle_is_read():
    s = _spd(40, 1)
    s[np.triu_indices(40, 1)] = np.nan
    ref = np.linalg.cholesky(s.astype(np.float64))  # numpy reads the lower triangle too
    np.testing.assert_allclose(to_numpy(to_tessra(s).cholesky()), ref, rtol=1e-4, atol=1e-5)


@pytest.mark.parametrize("m, expected", [
    ([[4, 2], [2, 3]], [[2.0, 0.0], [1.0, f32(math.sqrt(2))]]),
    ([[9]], [[3.0]]),
])
def test_small_factors_by_hand(m, expected):
    assert to_tessra(m).cholesky().to_list() == [x for row in expected for x in row]


def test_emptyto_numpy():
    l = CoreArray.zeros([0, 0]).cholesky()
    assert l.shape == [0, 0] and l.to_list() == []


@pytest.mark.parametrize("shape", [[2, 3], [4], [2, 2, 2], [], [0, 1]])
def test_not_a_squareto_numpy(shape):
    with raises(ValueError, NOT_SQUARE):
        CoreArray.zeros(shape).cholesky()


@pytest.mark.parametrize("m", [
    [[0.0]], [[-1.0]], [[1, 2], [2, 1]], [[1, 0, 0], [0, 1, 0], [0, 0, -1e-3]],
    [[math.nan]], [[math.inf]], [[1, 0], [math.nan, 1]], [[4, 0], [math.inf, 4]],
    [[2, 0], [0, math.nan]], [[1e30, 0], [1e30, 1]],
])
def test_not_positive_definite(m):
    with raises(ValueError, NOT_PD):
        to_tessra(m).cholesky()


@pytest.mark.parametrize("dtype", [DType.Float64, DType.Int32, DType.Int64, DType.Bool])
def test_other_element_types(dtype):
    with raises(TypeError, "cholesky() currently only supports Float32"):
        CoreArray.zeros([3, 3], dtype).cholesky()
    # The shape is checked first.
    with raises(ValueError, NOT_SQUARE):
        CoreArray.zeros([3, 2], dtype).cholesky()
