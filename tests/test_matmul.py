import re

import numpy as np
import pytest

import tessra
from tessra import CoreArray, DType
from conftest import to_numpy, to_tessra

T = tessra._tessra_rust


@pytest.fixture
def policy():
    """Sets a policy for one test and restores Default after it."""
    yield T.set_backend_policy
    T.set_backend_policy(0)


def random_pair(m, k, n, seed):
    rng = np.random.default_rng(seed)
    return (rng.uniform(-1, 1, (m, k)).astype(np.float32),
            rng.uniform(-1, 1, (k, n)).astype(np.float32))


def assert_product(a, b, c):
    """c agrees with the exact product within the float32 error bound of a k-term dot product."""
    ref = a.astype(np.float64) @ b.astype(np.float64)
    bound = np.abs(a).astype(np.float64) @ np.abs(b) * (2 * a.shape[1] * 2.0 ** -24) + 1e-30
    assert c.shape == ref.shape
    assert np.all(np.abs(c - ref) <= bound)


# Both sides of the own kernel's limit (64 * 64 * 64) and of the 32-row jobs of the split product.
SHAPES = [(1, 1, 1), (3, 7, 5), (64, 64, 64), (64, 64, 65), (5, 481, 109), (200, 1, 300),
          (1000, 8, 3), (3, 8, 1000), (33, 512, 64), (31, 512, 40), (257, 129, 255)]


@pytest.mark.parametrize("p", [0, 1, 8])
@pytest.mark.parametrize("m,k,n", SHAPES)
def test_product_agrees_with_numpy(policy, p, m, k, n):
    policy(p)
    a, b = random_pair(m, k, n, seed=m * 7 + k * 3 + n)
    assert_product(a, b, to_numpy(to_tessra(a).matmul(to_tessra(b))))


def test_self_product_and_keyword():
    a = np.arange(9, dtype=np.float32).reshape(3, 3)
    x = to_tessra(a)
    np.testing.assert_array_equal(to_numpy(x.matmul(other=x)), a @ a)


# ---- the own kernel's order of operations, bit for bit ----------------------------------

def fma32(a, b, c):
    """Single-precision fused multiply-add: a*b + c rounded once."""
    p = a * b  # exact: two 24-bit significands fit a double
    s = p + c
    t = s - p
    e = (p - (s - t)) + (c - t)  # s + e is the exact sum
    r = np.float32(s)
    if e != 0 and float(r) != s:
        other = np.nextafter(r, np.float32(np.inf if s > float(r) else -np.inf))
        if abs(float(other) - s) == abs(s - float(r)):  # s is halfway: e decides
            r = other if (float(other) > s) == (e > 0) else r
    return float(r)


def model_kernel(a, b, fused_columns):
    m, k = a.shape
    n = b.shape[1]
    c = np.zeros((m, n), dtype=np.float32)
    for i in range(m):
        for j in range(n):
            acc = np.float32(0)
            for p in range(k):
                x, y = a[i, p], b[p, j]
                acc = np.float32(fma32(float(x), float(y), float(acc))) if j < fused_columns \
                    else np.float32(acc + np.float32(x * y))
            c[i, j] = acc
    return c


@pytest.mark.parametrize("m,k,n", [(5, 7, 5), (6, 33, 9), (4, 16, 20), (9, 3, 3), (2, 40, 17)])
def test_own_kernel_bits(m, k, n):
    rng = np.random.default_rng(k)
    a = (rng.standard_normal((m, k)) * 10.0 ** rng.integers(-3, 3, (m, k))).astype(np.float32)
    b = (rng.standard_normal((k, n)) * 10.0 ** rng.integers(-3, 3, (k, n))).astype(np.float32)
    got = to_numpy(to_tessra(a).matmul(to_tessra(b)))
    fused = n // 4 * 4
    want = model_kernel(a, b, fused)
    np.testing.assert_array_equal(got.view(np.uint32), want.view(np.uint32))
    if fused and k > 8:
        # The two orders differ somewhere, so the comparison above can tell them apart.
        unfused = model_kernel(a, b, 0)
        assert np.any(unfused[:, :fused].view(np.uint32) != want[:, :fused].view(np.uint32))


# ---- checks and errors ------------------------------------------------------------------

ONLY_F32 = "matmul() currently only supports Float32"
ONLY_2D = "matmul() currently only supports 2D arrays"


@pytest.mark.parametrize("left, right, exc, message", [
    (([3], DType.Float64), ([2, 2],), TypeError, ONLY_F32),  # the type before the shape
    (([2, 2],), ([2, 2], DType.Int32), TypeError, ONLY_F32),
    (([3],), ([3, 2],), ValueError, ONLY_2D), (([2, 3],), ([3],), ValueError, ONLY_2D),
    (([1, 2, 2],), ([2, 2],), ValueError, ONLY_2D), (([],), ([1, 1],), ValueError, ONLY_2D),
    (([2, 3],), ([4, 5],), ValueError,
     "matmul() shape mismatch: inner dimensions 3 and 4 must match"),
    (([2, 2],), [[1, 0], [0, 1]], TypeError, "argument 'other'"),
])
def test_checks(left, right, exc, message):
    right = CoreArray.zeros(*right) if isinstance(right, tuple) else right
    with pytest.raises(exc, match=re.escape(message)):
        CoreArray.zeros(*left).matmul(right)


@pytest.mark.parametrize("left,right", [([0, 3], [3, 4]), ([2, 0], [0, 4]), ([2, 3], [3, 0]),
                                        ([0, 0], [0, 0])])
def test_zero_dimension_gives_zeros(left, right):
    c = CoreArray.ones(left).matmul(CoreArray.ones(right))
    assert (c.shape, c.to_list()) == ([left[0], right[1]], [0.0] * (left[0] * right[1]))
