import os

import numpy as np
import pytest

import tessra
from conftest import (F32, SPECIALS, assert_same, child, ptr, raises, random_values,
                      recorded_operations)

BINARY = [("array_add_f32", np.add), ("array_sub_f32", np.subtract),
          ("array_mul_f32", np.multiply), ("array_div_f32", np.divide)]


@pytest.mark.parametrize("name, ufunc", BINARY)
@pytest.mark.parametrize("n", [0, 1003, 2**22 + 5])
def test_elementwise_matches_numpy(name, ufunc, n):
    # n = 0: every special value against every other. From 2**22 values on the stores skip the
    # caches, after a few that align the output.
    a, b = ([x.ravel().copy() for x in np.meshgrid(SPECIALS, SPECIALS)] if n == 0
            else (random_values(n, 0), random_values(n, 1)))
    out = np.full(a.size + 1, 7.0, F32)[1:]
    with np.errstate(all="ignore"):
        expected = ufunc(a, b)
    assert getattr(tessra, name)(ptr(a), ptr(b), ptr(out), a.size) is None
    assert_same(out, expected)


@pytest.mark.parametrize("name, ufunc", BINARY)
@pytest.mark.parametrize("a_at, b_at, out_at", [(0, 40, 0), (0, 40, 40), (0, 40, 1), (0, 40, 15),
                                                 (1, 40, 0), (0, 40, 16), (20, 40, 3)])
def test_overlapping_output_acts_as_the_ascending_loop(name, ufunc, a_at, b_at, out_at):
    buf = random_values(80, 3)
    buf[buf == 0] = 1.5
    expected = buf.copy()
    with np.errstate(all="ignore"):
        for i in range(37):
            expected[out_at + i] = ufunc(expected[a_at + i], expected[b_at + i])
    getattr(tessra, name)(ptr(buf, a_at), ptr(buf, b_at), ptr(buf, out_at), 37)
    assert_same(buf, expected)


# (function, number of addresses, the other arguments)
CALLS = [("array_add_f32", 3, (0,)), ("array_sub_f32", 3, (0,)), ("array_mul_f32", 3, (0,)),
         ("array_div_f32", 3, (0,)), ("array_sum_f32", 1, (0,)), ("array_mean_f32", 1, (0,)),
         ("array_sum_i32", 1, (0,)), ("array_any", 1, (0,)), ("array_all", 1, (0,)),
         ("array_dot_product_f32", 2, (0,)), ("array_matmul_f32", 2, (0,)),
         ("array_matmul_2d_f32", 3, (0, 0, 0)), ("array_sum_f32_strided", 1, ([], [])),
         ("array_mean_f32_strided", 1, ([], [])), ("array_max_f32_strided", 1, ([], [])),
         ("array_min_f32_strided", 1, ([], [])),
         # the Metal module functions check their addresses the same way
         ("metal_add_f32", 3, (0,)), ("metal_sub_f32", 3, (0,)), ("metal_mul_f32", 3, (0,)),
         ("metal_div_f32", 3, (0,)), ("metal_sum_f32", 1, (0,)), ("metal_mean_f32", 1, (0,)),
         ("metal_max_f32", 1, (0,)), ("metal_min_f32", 1, (0,)),
         ("metal_matmul_f32", 3, (0, 0, 0)), ("metal_transpose_f32", 2, (0, 0))]


@pytest.mark.parametrize("name, addresses, rest", CALLS)
def test_a_zero_address_is_refused_before_the_empty_exit_and_the_size_test(name, addresses, rest,
                                                                           profiling):
    shown = "array_dot_product_f32" if name == "array_matmul_f32" else name
    buf = np.zeros(4, F32)
    too_large = tuple([2**62] if r == [] else 2**64 - 1 for r in rest)
    for zero_at in range(addresses):
        for sizes in (rest, too_large):
            args = [ptr(buf)] * addresses
            args[zero_at] = 0
            with raises(ValueError, f"Null pointer passed to {shown}"):
                getattr(tessra, name)(*args, *sizes)
    assert recorded_operations() == {}


EMPTY = lambda kind: ValueError(f"Cannot compute {kind} of empty array")


# Empty inputs return (or raise) at once, write nothing and record nothing.
@pytest.mark.parametrize("call, result", [
    (lambda p: tessra.array_add_f32(p, p, p, 0), None),
    (lambda p: tessra.array_div_f32(p, p, p, 0), None),
    (lambda p: tessra.array_sum_f32(p, 0), 0.0),
    (lambda p: tessra.array_mean_f32(p, 0), EMPTY("mean")),
    (lambda p: tessra.array_sum_i32(p, 0), 0),
    (lambda p: tessra.array_any(p, 0), False),
    (lambda p: tessra.array_all(p, 0), True),
    (lambda p: tessra.array_dot_product_f32(p, p, 0), 0.0),
    (lambda p: tessra.array_matmul_f32(p, p, 0), 0.0),
    (lambda p: tessra.array_sum_f32_strided(p, [], [4]), 0.0),
    (lambda p: tessra.array_mean_f32_strided(p, [], []), EMPTY("mean")),
    (lambda p: tessra.array_max_f32_strided(p, [], [4]), EMPTY("max")),
    (lambda p: tessra.array_min_f32_strided(p, [], []), EMPTY("min")),
    (lambda p: tessra.metal_sum_f32(p, 0), 0.0),
    (lambda p: tessra.metal_mean_f32(p, 0), EMPTY("mean")),
    (lambda p: tessra.metal_max_f32(p, 0), EMPTY("max")),
    (lambda p: tessra.metal_min_f32(p, 0), EMPTY("min")),
])
def test_empty_inputs(call, result, profiling):
    buf = np.full(4, 9.0, F32)
    if isinstance(result, Exception):
        with raises(type(result), str(result)):
            call(ptr(buf))
    else:
        got = call(ptr(buf))
        assert got == result and type(got) is type(result)
    assert (buf == 9.0).all()
    assert recorded_operations() == {}


def _sequential_sum(x):
    return np.add.accumulate(np.asarray(x, F32), dtype=F32)[-1]


# In index order up to 999,999 values; in chunks, one per processor, from a million on. The
# large values are quarters whose every partial sum is a float32, so any order sums them exactly.
@pytest.mark.parametrize("n", [1, 1000, 999_999, 3_000_001])
def test_sum_and_mean(n):
    x = (random_values(n, 5) if n < 10**6
         else np.random.default_rng(1).integers(0, 5, n).astype(F32) / 4)
    s = tessra.array_sum_f32(ptr(x), n)
    assert_same(s, _sequential_sum(x) if n < 10**6 else x.sum(dtype=np.float64))
    assert_same(tessra.array_mean_f32(ptr(x), n), F32(s) / F32(n))


PROCESSORS = max(os.sysconf("SC_NPROCESSORS_CONF"), 1)  # the configured count the chunks follow


def _chunked_sum(x):
    """The chunk sum for this machine's configured processor count: one chunk a processor,
    Kahan-compensated when it fits the default 1 MiB Arena and plain otherwise, each a leaf from
    -0.0, halves added left + right."""
    size = -(-x.size // PROCESSORS)
    count = -(-x.size // size)
    # Chunk by row; the short last one is padded in front, where zeros leave both sums unchanged.
    rows = np.zeros((count, size), F32)
    rows[:-1] = x[:(count - 1) * size].reshape(count - 1, size)
    rows[-1, count * size - x.size:] = x[(count - 1) * size:]
    if size > (1 << 20) // 4:
        sums = np.add.accumulate(rows, axis=1, dtype=F32)[:, -1]
    else:
        sums, c = np.zeros(count, F32), np.zeros(count, F32)
        for column in rows.T.copy():
            y = column - c
            t = sums + y
            c = (t - sums) - y
            sums = t

    def over(lo, hi):
        if hi - lo == 1:
            return F32(-0.0) + sums[lo]
        mid = lo + (hi - lo) // 2
        return over(lo, mid) + over(mid, hi)
    return over(0, count)


# Values whose float32 sum depends on the order tell the sequential road from the chunks.
@pytest.mark.parametrize("n", [999_999, 1_000_000])
def test_sum_takes_the_chunks_from_a_million_values(n):
    x = np.random.default_rng(n).uniform(0, 1, n).astype(F32)
    sequential, chunked = _sequential_sum(x), _chunked_sum(x)
    assert sequential != chunked or PROCESSORS == 1
    s = tessra.array_sum_f32(ptr(x), n)
    assert_same(s, sequential if n < 10**6 else chunked)
    assert_same(tessra.array_mean_f32(ptr(x), n), F32(s) / F32(n))


@pytest.mark.parametrize("n", [2, 16, 999_999, 1_000_000, 3_000_017])
def test_sum_i32_is_the_sum_modulo_2_32_on_both_sides_of_the_threshold(n):
    x = np.random.default_rng(n).integers(-2**31, 2**31, n, dtype=np.int64).astype(np.int32)
    x[:2] = [2**31 - 1, 1]
    exact = int(x.astype(np.int64).sum()) % 2**32
    assert tessra.array_sum_i32(ptr(x), n) == (exact - 2**32 if exact >= 2**31 else exact)
    ones = np.ones(n, np.int32)
    assert tessra.array_sum_i32(ptr(ones), n) == n


@pytest.mark.parametrize("values, any_, all_", [([0, 0, 2], True, False), ([1, 0, 1], True, False),
                                                ([1, 255], True, True), ([0], False, False)])
def test_any_and_all_read_bytes(values, any_, all_):
    x = np.array(values, np.uint8)
    assert tessra.array_any(ptr(x), x.size) is any_
    assert tessra.array_all(ptr(x), x.size) is all_


# From -0.0, each product rounded before it is added, in index order: fused, 1·1 + e·e would
# keep e² (2^-24), which rounded first is lost against 1.
@pytest.mark.parametrize("a, b", [
    ([-0.0], [1.0]), ([0.0], [1.0]), ([1e30, 1e30, -1e30], [1e10, -1e10, 1]),
    ([1, 2**-12], [1, 2**-12]), (random_values(1001, 7), random_values(1001, 8))])
def test_dot_product_adds_rounded_products_in_order(a, b):
    a, b = np.asarray(a, F32), np.asarray(b, F32)
    s = F32(-0.0)
    with np.errstate(all="ignore"):
        for x, y in zip(a, b):
            s = F32(s + F32(x * y))
    assert_same(tessra.array_dot_product_f32(ptr(a), ptr(b), a.size), s)
    assert_same(tessra.array_matmul_f32(a_ptr=ptr(a), b_ptr=ptr(b), count=a.size), s)


@pytest.mark.parametrize("m, k, n", [(1, 1, 1), (17, 9, 33)])
def test_matmul_2d(m, k, n):
    rng = np.random.default_rng(m)
    a = rng.integers(-4, 5, (m, k)).astype(F32)
    b = rng.integers(-4, 5, (k, n)).astype(F32)
    out = np.empty((m, n), F32)
    assert tessra.array_matmul_2d_f32(ptr(a), ptr(b), ptr(out), m, k, n) is None
    assert_same(out, a @ b)


# Rows of an output with no elements are not walked, whatever m claims; k = 0 writes zeros.
# Each call is still timed.
def test_an_empty_product_returns_at_once():
    out = child("""
import json, numpy as np, tessra
from conftest import ptr
tessra.enable_profiling()
buf = np.full(8, 7.0, np.float32)
p = ptr(buf)
for m, k, n in [(2**64 - 1, 0, 0), (2**40, 5, 0), (0, 0, 2**40), (3, 0, 2)]:
    tessra.array_matmul_2d_f32(p, p, p, m, k, n)
print(buf.tolist(), json.loads(tessra.get_profile_report())["operations"]["matmul_2d"]["count"])
""", timeout=30)
    assert out == f"{[0.0] * 6 + [7.0] * 2} 4\n"


# ---- strided views ----------------------------------------------------------------------

VIEWS = [  # (start element, shape, strides); element 2 holds a NaN
    (0, [2, 3], [12, 4]), (0, [3, 2], [4, 12]), (0, [2, 3], [12]), (5, [2, 3], [-12, -4]),
    (8, [3], [-6]), (0, [2], [4, 100]), (3, [3, 2, 2], [16, -4, 8]), (0, [4], [0]), (1, [7], [7]),
    (2, [3], [4]),
]


@pytest.mark.parametrize("start, shape, strides", VIEWS)
def test_strided_reductions_follow_the_walk(start, shape, strides):
    buf = random_values(64, 11)
    buf[2] = np.nan
    # An odometer over the index tuples, missing strides counting 0 and byte offsets truncated
    # toward zero to element indices.
    seen = np.array([buf[start + int(sum(i * s for i, s in zip(idx, strides)) / 4)]
                     for idx in np.ndindex(*shape)], F32)
    p = ptr(buf, start)
    s = _sequential_sum(seen)
    assert_same(tessra.array_sum_f32_strided(p, shape, strides), s)
    assert_same(tessra.array_mean_f32_strided(p, shape, strides), s / F32(seen.size))
    m, n = seen[0], seen[0]  # a NaN wins only where it comes first
    for v in seen[1:]:
        m, n = (v if v > m else m), (v if v < n else n)
    assert_same(tessra.array_max_f32_strided(p, shape, strides), m)
    assert_same(tessra.array_min_f32_strided(p, shape, strides), n)


def test_an_extent_of_0_reads_nothing():
    # The address is not mapped: any read would end the child process.
    out = child("""
import tessra
for shape in ([0], [3, 0], [0, 2]):
    for kind in ("sum", "mean", "max", "min"):
        try:
            print(getattr(tessra, f"array_{kind}_f32_strided")(64, shape, [4, 4]))
        except ValueError as e:
            print(e)
""")
    assert out.splitlines() == ["0.0", "0.0", "Cannot compute max of empty array",
                                "Cannot compute min of empty array"] * 3


@pytest.mark.parametrize("call, exc, message", [
    (lambda p: tessra.array_sum_f32_strided(p, [2, -1], [4, 4]), ValueError,
     "^shape extents must be non-negative$"),
    (lambda p: tessra.array_max_f32_strided(p, "ab", [4]), TypeError, "^argument 'shape'"),
    (lambda p: tessra.array_min_f32_strided(p, [1], [2**63]), OverflowError, None),
    # addresses and counts are unsigned 64-bit
    (lambda p: tessra.sum_as_string(-1, 2), OverflowError, None),
    (lambda p: tessra.array_sum_f32(2**64, 1), OverflowError, None),
    (lambda p: tessra.array_add_f32(p, p, p, -1), OverflowError, None),
])
def test_argument_errors(call, exc, message):
    with pytest.raises(exc, match=message):
        call(ptr(np.zeros(4, F32)))


@pytest.mark.parametrize("a, b, text", [(2, 3, "5"), (0, 0, "0"),
                                        (2**64 - 1, 1, "18446744073709551616"),
                                        (2**64 - 1, 2**64 - 1, "36893488147419103230")])
def test_sum_as_string_is_exact(a, b, text):
    assert tessra.sum_as_string(a, b) == text


def test_text_signatures():
    assert [getattr(tessra, f).__text_signature__ for f in (
        "array_add_f32", "array_matmul_2d_f32", "array_max_f32_strided", "sum_as_string",
        "metal_broadcast_op")] == [
        "(a_ptr, b_ptr, out_ptr, count)", "(a_ptr, b_ptr, out_ptr, m, k, n)",
        "(data_ptr, shape, strides)", "(a, b)",
        "(op, a_ptr, b_ptr, out_ptr, shape, strides_a, strides_b, size, size_a, size_b)"]


# ---- profiling ----------------------------------------------------------------------------

def test_each_call_is_recorded_under_its_operation_with_cpu(profiling):
    f = np.arange(1, 9, dtype=F32)
    p, q = ptr(f), ptr(np.arange(8, dtype=np.int32))
    for name in ("array_add_f32", "array_sub_f32", "array_mul_f32", "array_div_f32"):
        getattr(tessra, name)(p, p, p, 8)
    tessra.array_sum_f32(p, 8), tessra.array_mean_f32(p, 8), tessra.array_sum_i32(q, 8)
    tessra.array_any(q, 8), tessra.array_all(q, 8)
    tessra.array_dot_product_f32(p, p, 8), tessra.array_matmul_f32(p, p, 8)
    tessra.array_matmul_2d_f32(p, p, p, 2, 2, 2)
    for kind in ("sum", "mean", "max", "min"):
        getattr(tessra, f"array_{kind}_f32_strided")(p, [2, 1], [4, 4])
    tessra.sum_as_string(1, 2)
    assert recorded_operations() == {
        "add": (1, "CPU"), "sub": (1, "CPU"), "mul": (1, "CPU"), "div": (1, "CPU"),
        "sum": (2, "CPU"), "mean": (1, "CPU"), "any": (1, "CPU"), "all": (1, "CPU"),
        "dot_product": (2, "CPU"), "matmul_2d": (1, "CPU"), "sum_strided": (1, "CPU"),
        "mean_strided": (1, "CPU"), "max_strided": (1, "CPU"), "min_strided": (1, "CPU")}
