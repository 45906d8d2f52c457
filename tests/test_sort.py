"""CoreArray.sort and CoreArray.argsort against numpy's stable sort, across the method changes."""

import ctypes
import re

import numpy as np
import pytest

from tessra import CoreArray, DType

from conftest import run_python

# Boundaries where the sorting method changes, and sizes around them.
SIZES = [2, 3, 19, 20, 21, 22, 1000, 99_999, 100_000, 100_001, 300_000]
SERIAL_MAX = 100_000


def array_of(values):
    """A CoreArray holding exactly these float32 bit patterns (signalling NaNs included)."""
    values = np.ascontiguousarray(values, dtype=np.float32)
    a = CoreArray.zeros(list(values.shape))
    if values.size:
        ctypes.memmove(a.data_ptr, values.ctypes.data, values.nbytes)
    return a


def numpy_of(a):
    """The array's values (bit patterns kept) as a numpy float32 array of its shape."""
    n = a.element_count
    buf = (ctypes.c_float * n).from_address(a.data_ptr) if n else []
    return np.array(buf, dtype=np.float32).reshape(a.shape)


def bits(v):
    return np.ascontiguousarray(v, dtype=np.float32).view(np.uint32)


NEG_NAN = np.uint32(0xFFC00000).view(np.float32)
PAYLOAD_NAN = np.uint32(0x7FC00123).view(np.float32)


def make(kind, n, rng):
    if kind == "normal":
        return rng.standard_normal(n).astype(np.float32)
    if kind == "specials":
        # NaNs of several payloads and signs, both zeros, infinities, duplicates.
        v = rng.integers(-5, 5, n).astype(np.float32)
        pool = np.array([np.nan, NEG_NAN, PAYLOAD_NAN, 0.0, -0.0, np.inf, -np.inf, 1e-45, -1e-45],
                        dtype=np.float32)
        pick = rng.random(n) < 0.4
        v[pick] = pool[rng.integers(0, len(pool), pick.sum())]
        return v
    if kind == "ascending":
        return np.sort(rng.standard_normal(n).astype(np.float32))
    if kind == "descending":
        return np.sort(rng.standard_normal(n).astype(np.float32))[::-1].copy()
    if kind == "constant":
        return np.full(n, 2.5, np.float32)
    if kind == "zeros_nans":
        # Keys shared by several values: 0.0 with -0.0, and NaNs, beside the tiniest values.
        pool = np.array([0.0, -0.0, 1e-45, 2e-39, -1e-45, np.nan, NEG_NAN, PAYLOAD_NAN],
                        dtype=np.float32)
        return pool[rng.integers(0, len(pool), n)]
    if kind == "narrow":
        # One sign, one exponent: everything shares the top bits of its key.
        return (1 + rng.random(n) * 0.25).astype(np.float32)
    if kind == "low_bits":
        # Only the lowest 11 bits differ.
        return (1 + rng.integers(0, 2048, n) * 2.0**-23).astype(np.float32)
    if kind == "wide":
        # Every bit position varies, so no radix digit is shared.
        return rng.integers(0, 2**32, n, dtype=np.uint32).view(np.float32)
    raise ValueError(kind)


KINDS = ["normal", "specials", "zeros_nans", "ascending", "descending", "constant", "narrow", "low_bits", "wide"]


def check_sorted_values(got, expected, n):
    if n <= SERIAL_MAX:
        # Stable methods: equivalent values (0.0 and -0.0, NaNs) keep their input order.
        assert np.array_equal(bits(got), bits(expected))
    else:
        # The parallel method may order 0.0 and -0.0 either way, never change a value.
        assert np.array_equal(got, expected, equal_nan=True)
        assert np.array_equal(np.sort(bits(got)), np.sort(bits(expected)))


@pytest.mark.parametrize("n", SIZES)
@pytest.mark.parametrize("kind", KINDS)
def test_sort_and_argsort_match_numpy_stable(kind, n):
    v = make(kind, n, np.random.default_rng(n))
    a = array_of(v)
    stable = np.sort(v, kind="stable")
    order = np.argsort(v, kind="stable")
    check_sorted_values(numpy_of(a.sort()), stable, n)
    check_sorted_values(numpy_of(a.sort(descending=True)), stable[::-1], n)
    assert np.array_equal(numpy_of(a.argsort()), order.astype(np.float32))
    assert np.array_equal(numpy_of(a.argsort(descending=True)), order[::-1].astype(np.float32))


SMALL_POOL_SCRIPT = """
import ctypes
import numpy as np
from tessra import CoreArray
rng = np.random.default_rng(3)
for v in [rng.standard_normal(300_000).astype(np.float32),
          (1 + rng.random(300_000) * 0.25).astype(np.float32)]:
    a = CoreArray.zeros([v.size])
    ctypes.memmove(a.data_ptr, v.ctypes.data, v.nbytes)
    s = a.sort()
    got = np.array((ctypes.c_float * v.size).from_address(s.data_ptr), dtype=np.float32)
    assert np.array_equal(got, np.sort(v)), "mismatch"
print("ok")
"""


@pytest.mark.parametrize("threads", [1, 2, 3])
def test_parallel_sort_with_small_pools(threads):
    res = run_python(SMALL_POOL_SCRIPT, {"RAYON_NUM_THREADS": str(threads)})
    assert res.returncode == 0 and res.stdout == "ok\n", res.stderr


@pytest.mark.parametrize("method", ["sort", "argsort"])
@pytest.mark.parametrize("shape", [[0], [2, 0], [0, 3, 4]])
def test_empty_arrays_keep_their_shape(method, shape):
    r = getattr(CoreArray.zeros(shape), method)()
    assert (r.shape, r.element_count, r.dtype) == (shape, 0, DType.Float32)


@pytest.mark.parametrize("descending", [False, True])
def test_zero_d(descending):
    a = CoreArray([4.5], [])
    assert (a.sort(descending).shape, a.sort(descending).to_list()) == ([], [4.5])
    assert (a.argsort(descending).shape, a.argsort(descending).to_list()) == ([], [0.0])


def test_keeps_shape_and_sorts_row_major():
    a = CoreArray([6, 5, 4, 3, 2, 1], [2, 3])
    assert (a.sort().shape, a.sort().to_list()) == ([2, 3], [1, 2, 3, 4, 5, 6])
    assert (a.argsort().shape, a.argsort().to_list()) == ([2, 3], [5, 4, 3, 2, 1, 0])


@pytest.mark.parametrize("values, descending, method, expected", [
    ([3, 1, 2], True, "sort", [3, 2, 1]),
    ([1, 1, 0], True, "argsort", [1, 0, 2]),
    ([3, 1, 2], False, "argsort", [1.0, 2.0, 0.0]),
    ([5, 5, 5], False, "argsort", [0.0, 1.0, 2.0]),
    ([5, 5, 5], True, "argsort", [2.0, 1.0, 0.0]),
    ([np.nan, 1, -np.inf], False, "argsort", [2.0, 1.0, 0.0]),
])
def test_small_examples(values, descending, method, expected):
    assert getattr(array_of(values), method)(descending=descending).to_list() == expected


def test_descending_accepts_numpy_bool():
    a = array_of([1, 3, 2])
    assert a.sort(np.bool_(True)).to_list() == [3, 2, 1]
    assert a.argsort(descending=np.bool_(False)).to_list() == [0, 2, 1]


def test_receiver_is_unchanged():
    v = make("specials", 200_000, np.random.default_rng(1))
    a = array_of(v)
    a.sort()
    a.argsort(True)
    assert np.array_equal(bits(numpy_of(a)), bits(v))


@pytest.mark.parametrize("method", ["sort", "argsort"])
@pytest.mark.parametrize("dtype", [DType.Int32, DType.Float64, DType.Bool])
def test_non_float32_receiver(method, dtype):
    with pytest.raises(TypeError, match=re.escape(f"{method}() currently only supports Float32")):
        getattr(CoreArray.zeros([3], dtype), method)()


@pytest.mark.parametrize("method", ["sort", "argsort"])
@pytest.mark.parametrize("arg", [1, 0, None, "yes", 1.0])
def test_descending_must_be_a_bool(method, arg):
    with pytest.raises(TypeError, match="^argument 'descending': "):
        getattr(array_of([2, 1]), method)(descending=arg)


def test_descending_is_converted_before_the_type_check():
    with pytest.raises(TypeError, match="^argument 'descending': "):
        CoreArray.zeros([3], DType.Int32).sort(1)
