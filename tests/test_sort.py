"""CoreArray.sort and CoreArray.argsort against numpy's stable sort, across the method changes."""

import re

import numpy as np
import pytest

from tessra import CoreArray, DType

from conftest import F32, child, to_numpy, to_tessra

# Boundaries where the sorting method changes, and sizes around them.
SIZES = [2, 3, 19, 20, 21, 22, 1000, 99_999, 100_000, 100_001, 300_000]
SERIAL_MAX = 100_000

NEG_NAN, PAYLOAD_NAN = np.array([0xFFC00000, 0x7FC00123], np.uint32).view(F32)
# Keys shared by several values (0.0 with -0.0, NaNs of several payloads and signs), beside
# infinities and the tiniest values.
SPECIAL = np.array([np.nan, NEG_NAN, PAYLOAD_NAN, 0.0, -0.0, np.inf, -np.inf, 1e-45, -1e-45,
                    2e-39], F32)


def _specials(n, rng):
    v = rng.integers(-5, 5, n).astype(F32)
    pick = rng.random(n) < 0.4
    v[pick] = SPECIAL[rng.integers(0, len(SPECIAL), pick.sum())]
    return v


KINDS = {
    "normal": lambda n, rng: rng.standard_normal(n).astype(F32),
    "specials": _specials,
    "zeros_nans": lambda n, rng: SPECIAL[[0, 1, 2, 3, 4, 7, 8, 9]][rng.integers(0, 8, n)],
    "ascending": lambda n, rng: np.sort(rng.standard_normal(n).astype(F32)),
    "descending": lambda n, rng: np.sort(rng.standard_normal(n).astype(F32))[::-1].copy(),
    "constant": lambda n, rng: np.full(n, 2.5, F32),
    # One sign and exponent, so every key shares its top bits; then only the lowest 11 bits.
    "narrow": lambda n, rng: (1 + rng.random(n) * 0.25).astype(F32),
    "low_bits": lambda n, rng: (1 + rng.integers(0, 2048, n) * 2.0**-23).astype(F32),
    # Every bit position varies, so no radix digit is shared.
    "wide": lambda n, rng: rng.integers(0, 2**32, n, dtype=np.uint32).view(F32),
}


def bits(v):
    return np.ascontiguousarray(v, dtype=F32).view(np.uint32)


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
    v = KINDS[kind](n, np.random.default_rng(n))
    a = to_tessra(v)
    stable, order = np.sort(v, kind="stable"), np.argsort(v, kind="stable").astype(F32)
    check_sorted_values(to_numpy(a.sort()), stable, n)
    check_sorted_values(to_numpy(a.sort(descending=True)), stable[::-1], n)
    assert np.array_equal(to_numpy(a.argsort()), order)
    assert np.array_equal(to_numpy(a.argsort(descending=True)), order[::-1])
    assert np.array_equal(bits(to_numpy(a)), bits(v))  # the receiver is left as it was


@pytest.mark.parametrize("threads", [1, 2, 3])
def test_parallel_sort_with_small_pools(threads):
    script = (
        "import numpy as np\n"
        "from conftest import to_tessra, to_numpy\n"
        "rng = np.random.default_rng(3)\n"
        "for v in [rng.standard_normal(300_000), 1 + rng.random(300_000) * 0.25]:\n"
        "    v = v.astype(np.float32)\n"
        "    assert np.array_equal(to_numpy(to_tessra(v).sort()), np.sort(v))\n"
        "print('ok')\n")
    assert child(script, {"RAYON_NUM_THREADS": str(threads)}) == "ok\n"


@pytest.mark.parametrize("values, shape, method, descending, expected", [
    ([6, 5, 4, 3, 2, 1], [2, 3], "sort", False, [1, 2, 3, 4, 5, 6]),
    ([6, 5, 4, 3, 2, 1], [2, 3], "argsort", False, [5, 4, 3, 2, 1, 0]),
    ([4.5], [], "sort", True, [4.5]),
    ([4.5], [], "argsort", False, [0]),
    ([], [2, 0], "sort", False, []),
    ([], [0, 3, 4], "argsort", True, []),
])
def test_other_shapes_are_kept(values, shape, method, descending, expected):
    r = getattr(CoreArray(values, shape), method)(np.bool_(descending))
    assert (r.shape, r.dtype, r.to_list()) == (shape, DType.Float32, expected)


@pytest.mark.parametrize("method", ["sort", "argsort"])
def test_descending_is_converted_before_the_type_check(method):
    with pytest.raises(TypeError, match="^argument 'descending': "):
        getattr(CoreArray.zeros([3], DType.Int32), method)(1)
    with pytest.raises(TypeError, match=re.escape(f"{method}() currently only supports Float32")):
        getattr(CoreArray.zeros([3], DType.Float64), method)()
