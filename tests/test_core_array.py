"""The CoreArray record and its constructors."""

import math
import sys

import numpy as np
import pytest

from tessra import CoreArray, DType, random_uniform_f32

from conftest import child, f32, raises, to_numpy

Z = CoreArray.zeros


@pytest.mark.parametrize("shape, dtype, strides", [
    ([], None, []), ([0, 3], None, [12, 4]), ([1], None, [4]), ([7], None, [4]),
    ([1000, 1000], None, [4000, 4]), ([3, 5, 7], None, [140, 28, 4]),
    ([2, 2], DType.Bool, [2, 1]), ([2, 2], DType.Int64, [16, 8]),
])
def test_layout(shape, dtype, strides):
    a = CoreArray.zeros(shape, dtype)
    count = math.prod(shape)
    assert (a.ndim, a.shape, a.strides, a.element_count) == (len(shape), shape, strides, count)
    assert a.dtype is (dtype or DType.Float32) and a.nbytes == count * a.dtype.itemsize
    assert a.data_ptr % 64 == 0 and (a.data_ptr == 0) == (count == 0)
    assert a.is_contiguous()


def test_large_buffers_come_back_zeroed_after_reuse():
    n = 10 << 20  # 40 MiB: mappings that are kept for the next buffer of their size
    for _ in range(3):
        CoreArray.full([n], 7.0)
    assert not to_numpy(CoreArray.zeros([n])).any()


# A kept mapping left unused is lent to the kernel (LazyFree), which may then take it back under
# pressure without swap; a forked child lends its own.
@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
def test_kept_buffers_are_lent_to_the_kernel_once_unused():
    out = child("""
import os, time, warnings
from tessra import CoreArray
warnings.simplefilter("ignore", DeprecationWarning)  # forking with threads running is the point

def lazy_free():
    with open("/proc/self/smaps_rollup") as f:
        return next((int(l.split()[1]) << 10 for l in f if l.startswith("LazyFree:")), None)

def lent_when_idle():
    CoreArray.full([10 << 20], 7.0)  # 40 MiB, kept as it is freed
    for _ in range(500):
        if lazy_free() >= 32 << 20:  # most of it: the kernel may keep a page or two
            return True
        time.sleep(0.01)
    return False

if lazy_free() is None:
    print("no LazyFree here")
else:
    print(lent_when_idle())
    CoreArray.full([12 << 20], 7.0)  # the lender starts again and waits to lend it
    # Fork while the lender waits, not while it starts: a sanitizer's allocator is not safe
    # across a fork that meets another thread inside it.
    while "tessra-lend" not in [open(f"/proc/self/task/{t}/comm").read().strip()
                                for t in os.listdir("/proc/self/task")]:
        time.sleep(0.001)
    time.sleep(0.01)
    pid = os.fork()
    if pid == 0:
        os._exit(0 if lent_when_idle() else 1)
    print(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
""", timeout=60)
    assert out in ("True\n0\n", "no LazyFree here\n")


@pytest.mark.parametrize("array, text", [
    (CoreArray([2.5], []), "shape=[], dtype=Float32, data=[2.5]"),
    (CoreArray([], [0, 3]), "shape=[0, 3], dtype=Float32, data=[]"),
    (CoreArray.arange(0, 8), "shape=[8], dtype=Float32, data=[0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0]"),
    (CoreArray.arange(0, 9), "shape=[9], dtype=Float32, data=[9 elements]"),
    (CoreArray.zeros([2], DType.Int32), "shape=[2], dtype=Int32, data=[2 elements]"),
])
def test_repr_prints_up_to_eight_float32_values(array, text):
    assert repr(array) == f"CoreArray({text})"


def _text(value):
    return repr(CoreArray([value], [1]))[len("CoreArray(shape=[1], dtype=Float32, data=["):-2]


@pytest.mark.parametrize("value, text", [
    (1e-5, "1e-5"), (1e20, "1e20"), (0.0001, "0.0001"), (-0.0, "-0.0"), (0.0, "0.0"), (0.1, "0.1"),
    (123456.78, "123456.78"), (1e16, "1e16"), (9.999999e15, "9999999000000000.0"),
    (1e15, "1000000000000000.0"), (16777216.0, "16777216.0"), (3.4028235e38, "3.4028235e38"),
    (-2.5e20, "-2.5e20"), (1.5e-5, "1.5e-5"), (float("nan"), "NaN"), (float("inf"), "inf"),
    (float("-inf"), "-inf"), (3.0, "3.0"), (1e-45, "1e-45"),
])
def test_float_text(value, text):
    assert _text(value) == text


def test_float_text_reads_back_at_every_exponent():
    for e in range(-149, 128):
        v = f32(math.ldexp(1.2345678, e))
        assert v == 0 or math.isinf(v) or f32(float(_text(v))) == v, e


def test_to_list_subclass_and_memory_error():
    values = [0.1, -2.5, 1e-40, 3.4e38]
    assert CoreArray(values, [2, 2]).to_list() == [f32(v) for v in values]
    with raises(TypeError, "to_list() currently only supports Float32"):
        Z([2], DType.Float64).to_list()
    Mine = type("Mine", (CoreArray,), {})
    assert type(Mine([1, 2], [2])) is Mine and Mine([1, 2], [2]).to_list() == [1.0, 2.0]
    with pytest.raises(MemoryError):
        Z([2**42])
    assert Z([3]).to_list() == [0.0] * 3  # the process is still healthy


# ---- constructors ---------------------------------------------------------------------------

def test_constructors():
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
    assert CoreArray.ones([2, 2]).to_list() == [1.0] * 4
    assert CoreArray.full([2], 0.1).to_list() == [f32(0.1)] * 2
    assert CoreArray.full([], 7).to_list() == [7.0]
    i32 = Z([2, 3], DType.Int32)
    z, o, f = i32.zeros_like(), i32.ones_like(), i32.full_like(2.5)
    assert (z.dtype, z.shape, z.nbytes) == (DType.Int32, [2, 3], 24)
    assert (o.dtype, o.shape, o.to_list()) == (DType.Float32, [2, 3], [1.0] * 6)
    assert (f.dtype, f.shape, f.to_list()) == (DType.Float32, [2, 3], [2.5] * 6)
    assert CoreArray([1], []).full_like(value=3).shape == []


def _arange_by_hand(start, stop, step):
    want, v = [], np.float32(start)
    while v < np.float32(stop):
        want.append(float(v))
        v = np.float32(v + np.float32(step))
    return want


STEP = (np.float32(0.7) - np.float32(0.1)) / np.float32(6)


@pytest.mark.parametrize("make, expected", [
    (lambda: CoreArray.arange(0, 1, 0.25), [0.0, 0.25, 0.5, 0.75]),
    (lambda: CoreArray.arange(3, 0), []),
    (lambda: CoreArray.arange(3, 0, -1), [3.0, 2.0, 1.0]),
    (lambda: CoreArray.arange(0, 5), [0.0, 1.0, 2.0, 3.0, 4.0]),
    (lambda: CoreArray.arange(5, 1, float("nan")), [5.0]),
    (lambda: CoreArray.arange(1, 5, float("nan")), []),
    (lambda: CoreArray.arange(0, 1, float("inf")), [0.0]),
    # The running value is accumulated in single precision.
    (lambda: CoreArray.arange(0, 1, 0.1), _arange_by_hand(0, 1, 0.1)),
    (lambda: CoreArray.linspace(0, 1, 5), [0.0, 0.25, 0.5, 0.75, 1.0]),
    (lambda: CoreArray.linspace(2, 7, 1), [2.0]),
    (lambda: CoreArray.linspace(2, 7, 0), []),
    # step * index + start in single precision; the last value is not forced to stop.
    (lambda: CoreArray.linspace(0.1, 0.7, 7), [float(STEP * np.float32(i) + np.float32(0.1)) for i in range(7)]),
])
def test_arange_and_linspace(make, expected):
    a = make()
    assert (a.shape, a.to_list()) == ([len(expected)], expected)


@pytest.mark.parametrize("args, message", [
    ((0, 1, 0), "arange step cannot be zero"),
    ((0, 1, -1e-50), "arange step cannot be zero"),
    ((1e8, 2e8, 1.0), "arange step 1.0 is too small to advance from 100000000.0 towards 200000000.0"),
    ((0, -float("inf"), -1.0), "arange step -1.0 is too small to advance from -16777216.0 towards -inf"),
])
def test_arange_that_cannot_advance_raises(args, message):
    with raises(ValueError, message):
        CoreArray.arange(*args)


A = CoreArray([1, 2], [2])


@pytest.mark.parametrize("arrays, shape, values", [
    ([CoreArray([1, 2, 3], [3]), CoreArray([4, 5, 6, 7], [2, 2]), CoreArray([8], [])], [8], range(1, 9)),
    ((CoreArray(range(6), [2, 3]), CoreArray([6, 7, 8], [1, 3])), [3, 3], range(9)),
    ([A, A], [4], [1, 2, 1, 2]),
    ([Z([2**63, 0]), Z([2**63 - 1, 0])], [2**64 - 1, 0], []),
])
def test_concatenate(arrays, shape, values):
    c = CoreArray.concatenate(arrays)
    assert (c.shape, c.to_list()) == (shape, [float(v) for v in values])


@pytest.mark.parametrize("arrays, exc, message", [
    ([], ValueError, "need at least one array to concatenate"),
    ([Z([2, 3]), Z([2, 4])], ValueError, "incompatible shapes for concatenation: [2, 3] vs [2, 4]"),
    ([Z([2, 3]), Z([6])], ValueError, "incompatible shapes for concatenation: [2, 3] vs [6]"),
    ([Z([2, 3]), CoreArray([1], [])], ValueError, "incompatible shapes for concatenation: [2, 3] vs []"),
    ([Z([2]), Z([2], DType.Int32)], TypeError, "concatenate() currently only supports Float32"),
    ([CoreArray([1], []), Z([2])], ValueError, "zero-dimensional arrays cannot be concatenated"),
    ([Z([2**63, 0])] * 2, ValueError, "concatenated length along axis 0 does not fit in 64 bits"),
    ([Z([2**63, 0]), Z([2**63 - 1, 0]), Z([2, 0])], ValueError,
     "concatenated length along axis 0 does not fit in 64 bits"),
])
def test_concatenate_errors(arrays, exc, message):
    with raises(exc, message):
        CoreArray.concatenate(arrays)


# ---- shapes at the edge of 64 bits -------------------------------------------------------

BIG = 2**62
MAKERS = [CoreArray.zeros, CoreArray.ones, lambda s: CoreArray.full(s, 2.0), lambda s: CoreArray([], s),
          lambda s: Z([0]).reshape(s)]


@pytest.mark.parametrize("make", MAKERS)
@pytest.mark.parametrize("shape, strides", [([BIG, BIG, 0], [0, 0, 4]), ([0, 2**61], [2**63, 4]),
                                            ([2**63, 0, 5], [0, 20, 4])])
def test_an_extent_of_zero_anywhere_makes_an_empty_array(make, shape, strides):
    a = make(shape)
    assert (a.shape, a.strides, a.element_count, a.nbytes, a.data_ptr) == (shape, strides, 0, 0, 0)


@pytest.mark.parametrize("make", MAKERS + [lambda s: Z([6]).reshape(s), lambda s: random_uniform_f32(s, 1)])
@pytest.mark.parametrize("shape, what", [
    ([0, BIG, BIG], "stride"),  # the first stride would be 2^126
    ([0, 2**63, 4], "stride"), ([0, BIG], "stride"), ([BIG, BIG], "element count"),
    ([3, 2**32, 2**32], "element count"),
])
def test_counts_and_strides_past_64_bits_are_refused(make, shape, what):
    with raises(ValueError, f"Shape {shape} is too large: its {what} does not fit in 64 bits"):
        make(shape)


# Results of empty operands whose own shape may not fit in 64 bits.
def test_empty_results_at_the_edge_of_64_bits():
    assert Z([2**61, 0]).transpose().strides == [2**63, 4]
    assert Z([2**61, 0]).matmul(Z([0, 0])).shape == [2**61, 0]
    with raises(ValueError, f"Shape [0, {2**63}] is too large: its stride does not fit in 64 bits"):
        Z([2**63, 0]).transpose()
    with raises(ValueError, f"Shape [{2**61}, {2**61}] is too large: its element count does not fit in 64 bits"):
        Z([2**61, 0]).matmul(Z([0, 2**61]))
