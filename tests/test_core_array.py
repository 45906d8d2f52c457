import numpy as np
import pytest

from tessra import CoreArray, DType

from conftest import f32


@pytest.mark.parametrize("shape, dtype, strides", [
    ([], None, []), ([0, 3], None, [12, 4]), ([1], None, [4]), ([7], None, [4]),
    ([1000, 1000], None, [4000, 4]), ([3, 5, 7], None, [140, 28, 4]),
    ([2, 2], DType.Bool, [2, 1]), ([2, 2], DType.Int64, [16, 8]),
])
def test_layout(shape, dtype, strides):
    a = CoreArray.zeros(shape, dtype)
    count = int(np.prod(shape))
    assert (a.ndim, a.shape, a.strides, a.element_count) == (len(shape), shape, strides, count)
    assert a.dtype is (dtype or DType.Float32) and a.nbytes == count * a.dtype.itemsize
    assert a.data_ptr % 64 == 0 and (a.data_ptr == 0) == (count == 0)
    assert a.is_contiguous()


@pytest.mark.parametrize("array, text", [
    (CoreArray([2.5], []), "shape=[], dtype=Float32, data=[2.5]"),
    (CoreArray([], [0, 3]), "shape=[0, 3], dtype=Float32, data=[]"),
    (CoreArray.arange(0, 8), "shape=[8], dtype=Float32, data=[0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0]"),
    (CoreArray.arange(0, 9), "shape=[9], dtype=Float32, data=[9 elements]"),
    (CoreArray.zeros([2], DType.Int32), "shape=[2], dtype=Int32, data=[2 elements]"),
])
def test_repr_prints_up_to_eight_float32_values(array, text):
    assert repr(array) == f"CoreArray({text})"


@pytest.mark.parametrize("value, text", [
    (1e-5, "1e-5"), (1e20, "1e20"), (0.0001, "0.0001"), (-0.0, "-0.0"), (0.0, "0.0"), (0.1, "0.1"),
    (123456.78, "123456.78"), (1e16, "1e16"), (9.999999e15, "9999999000000000.0"),
    (1e15, "1000000000000000.0"), (16777216.0, "16777216.0"), (3.4028235e38, "3.4028235e38"),
    (-2.5e20, "-2.5e20"), (1.5e-5, "1.5e-5"), (float("nan"), "NaN"), (float("inf"), "inf"),
    (float("-inf"), "-inf"), (3.0, "3.0"), (1e-45, "1e-45"),
])
def test_float_text(value, text):
    assert repr(CoreArray([value], [1])) == f"CoreArray(shape=[1], dtype=Float32, data=[{text}])"


def test_to_list_is_flat_and_exact():
    values = [0.1, -2.5, 1e-40, 3.4e38]
    assert CoreArray(values, [2, 2]).to_list() == [f32(v) for v in values]
    with pytest.raises(TypeError, match="^to_list\\(\\) currently only supports Float32$"):
        CoreArray.zeros([2], DType.Float64).to_list()


def test_subclass_constructor_returns_subclass():
    class Mine(CoreArray):
        pass

    m = Mine([1, 2], [2])
    assert type(m) is Mine and m.to_list() == [1.0, 2.0]


def test_huge_but_valid_allocation_raises_memory_error():
    with pytest.raises(MemoryError):
        CoreArray.zeros([2**42])
    assert CoreArray.zeros([3]).to_list() == [0.0] * 3  # the process is still healthy
