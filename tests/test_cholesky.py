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
    # Only the lower triangle is read.
    s[np.triu_indices(n, 1)] = np.nan
    np.testing.assert_array_equal(to_numpy(to_tessra(s).cholesky()), got)


@pytest.mark.parametrize("m, expected", [
    ([[4, 2], [2, 3]], [2.0, 0.0, 1.0, f32(math.sqrt(2))]), ([[9]], [3.0]), (np.zeros((0, 0)), []),
])
def test_small_factors_by_hand(m, expected):
    assert to_tessra(m).cholesky().to_list() == expected


@pytest.mark.parametrize("m", [
    [[0.0]], [[-1.0]], [[1, 2], [2, 1]], [[1, 0, 0], [0, 1, 0], [0, 0, -1e-3]],
    [[math.nan]], [[math.inf]], [[1, 0], [math.nan, 1]], [[4, 0], [math.inf, 4]],
    [[2, 0], [0, math.nan]], [[1e30, 0], [1e30, 1]],
])
def test_not_positive_definite(m):
    with raises(ValueError, NOT_PD):
        to_tessra(m).cholesky()


@pytest.mark.parametrize("shape, dtype, exc, message", [
    *[(shape, DType.Float32, ValueError, NOT_SQUARE) for shape in [[2, 3], [4], [2, 2, 2], [], [0, 1]]],
    *[([3, 3], dtype, TypeError, "cholesky() currently only supports Float32")
      for dtype in [DType.Float64, DType.Int32, DType.Int64, DType.Bool]],
    ([3, 2], DType.Int32, ValueError, NOT_SQUARE),  # the shape is checked first
])
def test_refused(shape, dtype, exc, message):
    with raises(exc, message):
        CoreArray.zeros(shape, dtype).cholesky()
