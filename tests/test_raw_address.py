import math

import numpy as np
import pytest

import tessra
from conftest import (F32, SPECIALS, assert_same, ptr, raises, random_values, recorded_operations,
                      run_python)

BINARY = [("array_add_f32", np.add), ("array_sub_f32", np.subtract),
          ("array_mul_f32", np.multiply), ("array_div_f32", np.divide)]


def _pairs(n, seed=0):
    """Every special value against every other when n is 0, else n random pairs."""
    if n == 0:
        a, b = np.meshgrid(SPECIALS, SPECIALS)
        return a.ravel().copy(), b.ravel().copy()
    return random_values(n, seed), random_values(n, seed + 1)


@pytest.mark.parametrize("name, ufunc", BINARY)
@pytest.mark.parametrize("n", [0, 1, 5, 17, 1003])
def test_elementwise_matches_numpy(name, ufunc, n):
    a, b = _pairs(n)
    out = np.full(a.size, 7.0, F32)
    with np.errstate(all="ignore"):
        expected = ufunc(a, b)
    assert getattr(tessra, name)(ptr(a), ptr(b), ptr(out), a.size) is None
    assert_same(out, expected)


def _ascending(op, buf, a_at, b_at, out_at, count):
    """The element-by-element loop on one buffer, for overlapping arguments."""
    for i in range(count):
        buf[out_at + i] = op(buf[a_at + i], buf[b_at + i])


@pytest.mark.parametrize("name, ufunc", BINARY)
@pytest.mark.parametrize("a_at, b_at, out_at", [(0, 40, 0), (0, 40, 40), (0, 40, 1), (0, 40, 15),
                                                 (1, 40, 0), (0, 40, 16), (20, 40, 3)])
def test_overlapping_output_acts_as_the_ascending_loop(name, ufunc, a_at, b_at, out_at):
    buf = random_values(80, 3)
    buf[buf == 0] = 1.5
    expected = buf.copy()
    with np.errstate(all="ignore"):
        _ascending(lambda x, y: ufunc(x, y), expected, a_at, b_at, out_at, 37)
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


@pytest.mark.parametrize("call, result", [
    (lambda p: tessra.array_add_f32(p, p, p, 0), None),
    (lambda p: tessra.array_div_f32(p, p, p, 0), None),
    (lambda p: tessra.array_sum_f32(p, 0), 0.0),
    (lambda p: tessra.array_sum_i32(p, 0), 0),
    (lambda p: tessra.array_any(p, 0), False),
    (lambda p: tessra.array_all(p, 0), True),
    (lambda p: tessra.array_dot_product_f32(p, p, 0), 0.0),
    (lambda p: tessra.array_matmul_f32(p, p, 0), 0.0),
    (lambda p: tessra.array_sum_f32_strided(p, [], [4]), 0.0),
])
def test_empty_inputs_return_at_once_and_record_nothing(call, result, profiling):
    buf = np.full(4, 9.0, F32)
    got = call(ptr(buf))
    assert got == result and type(got) is type(result)
    assert (buf == 9.0).all()
    assert recorded_operations() == {}


@pytest.mark.parametrize("call, kind", [
    (lambda p: tessra.array_mean_f32(p, 0), "mean"),
    (lambda p: tessra.array_mean_f32_strided(p, [], []), "mean"),
    (lambda p: tessra.array_max_f32_strided(p, [], [4]), "max"),
    (lambda p: tessra.array_min_f32_strided(p, [], []), "min"),
])
def test_empty_reductions_without_a_value_raise(call, kind, profiling):
    with raises(ValueError, f"Cannot compute {kind} of empty array"):
        call(ptr(np.zeros(1, F32)))
    assert recorded_operations() == {}


def _sequential_sum(x):
    return np.add.accumulate(np.asarray(x, F32), dtype=F32)[-1]


@pytest.mark.parametrize("n", [1, 2, 1000, 999_999])
def test_sum_and_mean_keep_index_order(n):
    x = random_values(n, 5)
    s = _sequential_sum(x)
    assert_same(tessra.array_sum_f32(ptr(x), n), s)
    assert_same(tessra.array_mean_f32(ptr(x), n), s / F32(n))


def test_large_sum_runs_in_chunks_and_stays_close():
    x = np.random.default_rng(1).random(3_000_001).astype(F32)
    assert math.isclose(tessra.array_sum_f32(ptr(x), x.size), float(x.sum(dtype=np.float64)),
                        rel_tol=1e-6)


def test_sum_i32_wraps():
    x = np.array([2147483647, 1], np.int32)
    assert tessra.array_sum_i32(ptr(x), 2) == -2147483648


@pytest.mark.parametrize("n", [16, 999_999, 1_000_000, 3_000_017])
def test_sum_i32_is_the_sum_modulo_2_32_on_both_sides_of_the_threshold(n):
    x = np.random.default_rng(n).integers(-2**31, 2**31, n, dtype=np.int64).astype(np.int32)
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


def _dot(a, b):
    s = F32(-0.0)
    with np.errstate(all="ignore"):
        for x, y in zip(a, b):
            s = F32(s + F32(x * y))
    return s


@pytest.mark.parametrize("a, b", [([-0.0], [1.0]), ([0.0], [1.0]), ([1e30, 1e30, -1e30], [1e10, -1e10, 1]),
                                  (random_values(1001, 7), random_values(1001, 8))])
def test_dot_product_adds_rounded_products_in_order(a, b):
    a, b = np.asarray(a, F32), np.asarray(b, F32)
    expected = _dot(a, b)
    assert_same(tessra.array_dot_product_f32(ptr(a), ptr(b), a.size), expected)
    assert_same(tessra.array_matmul_f32(a_ptr=ptr(a), b_ptr=ptr(b), count=a.size), expected)


def test_dot_product_does_not_fuse_multiply_and_add():
    # Fused, 1·1 + e·e would keep e² (2^-24); rounded first it is lost against 1.
    e = F32(2.0 ** -12)
    a = np.array([1, e], F32)
    assert tessra.array_dot_product_f32(ptr(a), ptr(a), 2) == 1.0


@pytest.mark.parametrize("m, k, n", [(1, 1, 1), (3, 4, 5), (17, 9, 33)])
def test_matmul_2d(m, k, n):
    rng = np.random.default_rng(m)
    a = rng.integers(-4, 5, (m, k)).astype(F32)
    b = rng.integers(-4, 5, (k, n)).astype(F32)
    out = np.empty((m, n), F32)
    assert tessra.array_matmul_2d_f32(ptr(a), ptr(b), ptr(out), m, k, n) is None
    assert_same(out, a @ b)


# ---- strided views ----------------------------------------------------------------------

def _walk(buf, start, shape, strides):
    """The visited values: an odometer over the index tuples, missing strides counting 0 and
    byte offsets truncated toward zero to element indices."""
    out = []
    for idx in np.ndindex(*shape):
        offset = sum(i * s for i, s in zip(idx, strides))
        out.append(buf[start + int(offset / 4)])
    return np.array(out, F32)


VIEWS = [  # (start element, shape, strides)
    (0, [2, 3], [12, 4]), (0, [3, 2], [4, 12]), (0, [2, 3], [12]), (5, [2, 3], [-12, -4]),
    (8, [3], [-6]), (0, [2], [4, 100]), (3, [2, 2, 2], [16, -4, 8]), (0, [4], [0]), (1, [7], [7]),
]


@pytest.mark.parametrize("start, shape, strides", VIEWS)
def test_strided_reductions_follow_the_walk(start, shape, strides):
    buf = random_values(64, 11)
    buf[2] = np.nan
    seen = _walk(buf, start, shape, strides)
    p = ptr(buf, start)
    s = _sequential_sum(seen)
    assert_same(tessra.array_sum_f32_strided(p, shape, strides), s)
    assert_same(tessra.array_mean_f32_strided(p, shape, strides), s / F32(seen.size))
    m, n = seen[0], seen[0]
    for v in seen[1:]:
        m, n = (v if v > m else m), (v if v < n else n)
    assert_same(tessra.array_max_f32_strided(p, shape, strides), m)
    assert_same(tessra.array_min_f32_strided(p, shape, strides), n)


@pytest.mark.parametrize("values, largest, smallest", [([1.0, np.nan, 3.0], 3.0, 1.0),
                                                       ([np.nan, 1.0], np.nan, np.nan)])
def test_a_nan_only_wins_when_visited_first(values, largest, smallest):
    x = np.array(values, F32)
    assert_same(tessra.array_max_f32_strided(ptr(x), [x.size], [4]), largest)
    assert_same(tessra.array_min_f32_strided(ptr(x), [x.size], [4]), smallest)


def test_an_extent_of_0_reads_nothing():
    # The address is not mapped: any read would end the child process.
    code = """
import tessra
for shape in ([0], [3, 0], [0, 2]):
    assert tessra.array_sum_f32_strided(64, shape, [4, 4]) == 0.0
    assert tessra.array_mean_f32_strided(64, shape, [4, 4]) == 0.0
    for fn, kind in ((tessra.array_max_f32_strided, "max"), (tessra.array_min_f32_strided, "min")):
        try:
            fn(64, shape, [4, 4])
        except ValueError as e:
            assert str(e) == f"Cannot compute {kind} of empty array"
        else:
            raise AssertionError(kind)
print("ok")
"""
    r = run_python(code)
    assert r.returncode == 0 and r.stdout == "ok\n", r.stderr


@pytest.mark.parametrize("name", ["array_sum_f32_strided", "array_mean_f32_strided",
                                  "array_max_f32_strided", "array_min_f32_strided"])
def test_strided_argument_errors(name):
    fn = getattr(tessra, name)
    buf = np.zeros(4, F32)
    with raises(ValueError, "shape extents must be non-negative"):
        fn(ptr(buf), [2, -1], [4, 4])
    with pytest.raises(TypeError, match="argument 'shape'"):
        fn(ptr(buf), "ab", [4])
    with pytest.raises(OverflowError):
        fn(ptr(buf), [1], [2**63])


@pytest.mark.parametrize("a, b, text", [(2, 3, "5"), (0, 0, "0"),
                                        (2**64 - 1, 1, "18446744073709551616"),
                                        (2**64 - 1, 2**64 - 1, "36893488147419103230")])
def test_sum_as_string_is_exact(a, b, text):
    assert tessra.sum_as_string(a, b) == text


@pytest.mark.parametrize("call", [lambda: tessra.sum_as_string(-1, 2),
                                  lambda: tessra.array_sum_f32(2**64, 1),
                                  lambda: tessra.array_add_f32(1, 1, 1, -1)])
def test_addresses_and_counts_are_unsigned_64_bit(call):
    with pytest.raises(OverflowError):
        call()


# ---- profiling ----------------------------------------------------------------------------

def test_each_call_is_recorded_under_its_operation_with_cpu(profiling):
    f = np.arange(1, 9, dtype=F32)
    i = np.arange(8, dtype=np.int32)
    p, q = ptr(f), ptr(i)
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


def test_add_on_the_metal_back_end_is_recorded_as_cpu():
    code = """
import json, numpy as np, tessra
a = np.arange(5, dtype=np.float32); out = np.zeros(5, np.float32)
tessra.set_backend_policy(4)
tessra.enable_profiling()
tessra.array_add_f32(a.ctypes.data, a.ctypes.data, out.ctypes.data, 5)
ops = json.loads(tessra.get_profile_report())["operations"]
print(out.tolist(), ops["add"]["primary_backend"], ops["add"]["count"])
"""
    r = run_python(code, {"TESSRA_METAL_EMULATION": "1"})
    assert r.stdout == "[0.0, 2.0, 4.0, 6.0, 8.0] CPU 1\n", r.stderr


def test_text_signatures():
    assert tessra.array_add_f32.__text_signature__ == "(a_ptr, b_ptr, out_ptr, count)"
    assert tessra.array_matmul_2d_f32.__text_signature__ == "(a_ptr, b_ptr, out_ptr, m, k, n)"
    assert tessra.array_max_f32_strided.__text_signature__ == "(data_ptr, shape, strides)"
    assert tessra.sum_as_string.__text_signature__ == "(a, b)"
    assert tessra.metal_broadcast_op.__text_signature__ == (
        "(op, a_ptr, b_ptr, out_ptr, shape, strides_a, strides_b, size, size_a, size_b)")


def test_threads_record_under_their_own_context(profiling):
    import threading
    x = np.ones(100, F32)

    def work(i):
        tessra.set_profile_context(f"t{i}")
        for _ in range(50 + i):
            tessra.array_sum_f32(ptr(x), 100)
        tessra.array_dot_product_f32(ptr(x), ptr(x), 100)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    import json
    for i in range(6):
        report = json.loads(tessra.get_profile_report(f"t{i}"))
        assert {k: v["count"] for k, v in report["operations"].items()} == {"sum": 50 + i,
                                                                          "dot_product": 1}
        shares = sum(v["percent_total"] for v in report["operations"].values())
        assert report["total_time_ms"] == 0.0 or abs(shares - 100.0) < 1e-9
    assert recorded_operations()["sum"] == (sum(50 + i for i in range(6)), "CPU")
