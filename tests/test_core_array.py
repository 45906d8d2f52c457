import re
import struct

import numpy as np
import pytest

from tessra import CoreArray, DType

from conftest import f32


def test_zero_d_array():
    a = CoreArray([2.5], [])
    assert (a.ndim, a.shape, a.strides, a.element_count, a.nbytes) == (0, [], [], 1, 4)
    assert repr(a) == "CoreArray(shape=[], dtype=Float32, data=[2.5])"
    assert a.is_contiguous()


def test_empty_array_has_no_storage():
    a = CoreArray([], [0, 3])
    assert (a.nbytes, a.data_ptr, a.strides, a.element_count) == (0, 0, [12, 4], 0)
    assert repr(a) == "CoreArray(shape=[0, 3], dtype=Float32, data=[])"
    assert a.to_list() == []


@pytest.mark.parametrize("shape", [[1], [7], [100], [1000, 1000], [3, 5, 7]])
def test_data_is_64_byte_aligned(shape):
    a = CoreArray.zeros(shape)
    assert a.data_ptr % 64 == 0
    assert a.strides == list(np.zeros(shape, np.float32).strides)


def test_repr_prints_up_to_eight_float32_values():
    assert repr(CoreArray.arange(0, 8)) == \
        "CoreArray(shape=[8], dtype=Float32, data=[0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0])"
    assert repr(CoreArray.arange(0, 9)) == "CoreArray(shape=[9], dtype=Float32, data=[9 elements])"
    assert repr(CoreArray.zeros([2], DType.Int32)) == "CoreArray(shape=[2], dtype=Int32, data=[2 elements])"


@pytest.mark.parametrize("value, text", [
    (1e-5, "1e-5"), (1e20, "1e20"), (0.0001, "0.0001"), (-0.0, "-0.0"), (0.1, "0.1"),
    (123456.78, "123456.78"), (1e16, "1e16"), (9.999999e15, "9999999000000000.0"),
    (-2.5e20, "-2.5e20"), (1.5e-5, "1.5e-5"), (float("nan"), "NaN"), (float("inf"), "inf"),
    (float("-inf"), "-inf"), (3.0, "3.0"), (1e-45, "1e-45"),
])
def test_float_text(value, text):
    assert repr(CoreArray([value], [1])) == f"CoreArray(shape=[1], dtype=Float32, data=[{text}])"


def test_to_list_is_flat_and_exact():
    values = [0.1, -2.5, 1e-40, 3.4e38]
    a = CoreArray(values, [2, 2])
    assert a.to_list() == [f32(v) for v in values]
    with pytest.raises(TypeError, match=re.escape("to_list() currently only supports Float32")):
        CoreArray.zeros([2], DType.Float64).to_list()


@pytest.mark.parametrize("dtype, nbytes, strides", [
    (None, 16, [8, 4]), (DType.Bool, 4, [2, 1]), (DType.Int64, 32, [16, 8]),
])
def test_zeros_layout(dtype, nbytes, strides):
    a = CoreArray.zeros([2, 2], dtype)
    assert (a.nbytes, a.strides) == (nbytes, strides)
    assert a.dtype is (dtype or DType.Float32)
    assert a.is_contiguous()


def test_properties_are_read_only():
    a = CoreArray.zeros([2])
    for name in ["data_ptr", "shape", "strides", "dtype", "ndim", "element_count", "nbytes"]:
        with pytest.raises(AttributeError):
            setattr(a, name, 1)


def test_subclass_constructor_returns_subclass():
    class Mine(CoreArray):
        pass

    m = Mine([1, 2], [2])
    assert type(m) is Mine and m.to_list() == [1.0, 2.0]
    del m


def test_huge_but_valid_allocation_raises_memory_error():
    with pytest.raises(MemoryError):
        CoreArray.zeros([2**42])
    # The process is still healthy afterwards.
    assert CoreArray.zeros([3]).to_list() == [0.0] * 3
