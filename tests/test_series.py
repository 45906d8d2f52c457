import ctypes
import math

import numpy as np
import pytest

from tessra import CoreArray, DataFrame, DType, Series

from conftest import bits_of, f32, f32_bits, raises, to_tessra

NEG_ZERO, QNAN, NAN_PAYLOAD = 0x80000000, 0x7FC00000, 0x7FC00001


def test_construction_and_copies():
    s = Series("a", CoreArray([7], []))
    assert (s.index, s.data.shape, s.data.to_list()) == (["0"], [], [7.0])
    with raises(ValueError, "Index length must match data length"):
        Series("a", CoreArray([7], []), ["x", "y"])
    s = Series(name="n", data=CoreArray([1, 2], [2]), index=("p", "q"))
    assert (s.name, s.index, Series("n", CoreArray([1], [1]), index=None).index) == ("n", ["p", "q"], ["0"])
    # Values are copied in and out.
    src = CoreArray([1, 2, 3], [3])
    s = Series("a", src)
    ctypes.memmove(src.data_ptr, np.array([9, 9, 9], np.float32).ctypes.data, 12)
    out = s.data
    ctypes.memmove(out.data_ptr, np.array([8, 8, 8], np.float32).ctypes.data, 12)
    assert s.values.to_list() == [1.0, 2.0, 3.0]
    e = Series("e", CoreArray([], [0]))
    h = e.head(3)
    assert (e.index, h.dtype, h.data.shape, h.index) == ([], "Float32", [0], [])
    assert (e.unique().data.shape, e.value_counts()) == ([0], {})


@pytest.mark.parametrize("labels, method, n, values, expected_labels", [
    (None, "head", None, [0, 1, 2, 3, 4], ["0", "1", "2", "3", "4"]),
    (None, "head", 0, [], []),
    (None, "head", 2, [0, 1], ["0", "1"]),
    (None, "tail", 2, [4, 5], ["4", "5"]),
    (None, "tail", None, [1, 2, 3, 4, 5], ["1", "2", "3", "4", "5"]),
    (None, "tail", 100, [0, 1, 2, 3, 4, 5], ["0", "1", "2", "3", "4", "5"]),
    (list("abcdef"), "tail", 1, [5], ["f"]),
    (list("abcdef"), "head", 2, [0, 1], ["a", "b"]),
])
def test_head_and_tail_read_storage_order(labels, method, n, values, expected_labels):
    r = getattr(Series("m", CoreArray(range(6), [2, 3]), labels), method)(n=n)
    assert (r.name, r.data.shape, r.data.to_list(), r.index) == (
        "m", [len(values)], values, expected_labels)


def test_head_of_int32_gives_float32_and_of_float32_keeps_the_bits():
    s = Series("i", to_tessra([1, 2, 3], DType.Int32))
    h = s.head(None)
    assert (s.dtype, h.dtype, h.data.to_list()) == ("Int32", "Float32", [1.0, 2.0, 3.0])
    assert Series("b", to_tessra([2**24 + 1], DType.Int32)).tail(1).data.to_list() == [2.0**24]
    assert bits_of(Series("b", f32_bits(NEG_ZERO, NAN_PAYLOAD, QNAN)).head(None)) == [
        NEG_ZERO, NAN_PAYLOAD, QNAN]


@pytest.mark.parametrize("dtype, name", [(DType.Int64, "Int64"), (DType.Float64, "Float64"),
                                         (DType.Bool, "Bool")])
@pytest.mark.parametrize("call, word", [
    (lambda s: s.head(1), "head"), (lambda s: s.tail(1), "tail"),
    (lambda s: s.unique(), "unique"), (lambda s: s.value_counts(), "value_counts"),
])
def test_unsupported_dtypes(dtype, name, call, word):
    s = Series("x", to_tessra([1, 0], dtype))
    assert s.dtype == name
    with raises(TypeError, f"Unsupported DType for {word}"):
        call(s)


def test_unique_and_value_counts():
    u = Series("u", CoreArray([1.0, -0.0, 0.0, 1.0, 2.0], [5])).unique()  # by bit pattern
    assert (bits_of(u), u.index, u.name) == ([0x3F800000, NEG_ZERO, 0, 0x40000000], ["0", "1", "2", "3"], "u")
    assert bits_of(Series("n", f32_bits(QNAN, NAN_PAYLOAD, QNAN)).unique()) == [QNAN, NAN_PAYLOAD]
    # Two ints that round to one float are still two distinct values.
    big = 2**24 + 1
    u = Series("i", to_tessra([5, -3, 5, big, big - 1, -3], DType.Int32)).unique()
    assert u.data.to_list() == [5.0, -3.0, float(2**24), float(2**24)]
    vc = Series("i", to_tessra([3, 1, 3], DType.Int32)).value_counts()
    assert vc == {3: 2, 1: 1} and all(type(k) is int for k in vc)
    assert Series("f", CoreArray([0.1, 2.5, 0.1], [3])).value_counts() == {f32(0.1): 2, 2.5: 1}
    nan = Series("n", f32_bits(QNAN, QNAN, NAN_PAYLOAD)).value_counts()
    assert sorted(nan.values()) == [1, 2] and all(math.isnan(k) for k in nan)


# -0.0 and 0.0 are one dict key: their counts add up under the zero met first.
@pytest.mark.parametrize("values, zeros, first_sign", [
    ([-0.0, 0.0, 0.0, 1.0], 3, -1.0),
    ([1.0, 0.0, -0.0, -0.0, 1.0], 3, 1.0),
    ([0.0, 1.0, 0.0], 2, 1.0),
])
def test_value_counts_adds_equal_keys_under_the_first_met(values, zeros, first_sign):
    vc = Series("z", CoreArray(values, [len(values)])).value_counts()
    assert vc == {0.0: zeros, 1.0: len(values) - zeros}
    assert [math.copysign(1.0, k) for k in vc if k == 0] == [first_sign]


def test_setters_replace_one_field():
    s = Series("a", CoreArray([1, 2], [2]))
    s.name = "b"
    s.index = ["x", "y", "z"]  # no length check
    new = CoreArray([5, 6, 7, 8], [4])
    s.data = new
    ctypes.memmove(new.data_ptr, np.zeros(4, np.float32).ctypes.data, 16)
    assert (s.name, s.data.to_list(), s.index) == ("b", [5.0, 6.0, 7.0, 8.0], ["x", "y", "z"])


@pytest.mark.parametrize("prop, value, message", [
    ("data", [1.0], "argument 'data': 'list' object cannot be converted to 'CoreArray'"),
    ("index", "ab", "argument 'index': Can't extract `str` to `Vec`"),
    ("index", 3, "argument 'index': 'int' object cannot be converted to 'Sequence'"),
    ("index", ["a", 1], "argument 'index': 'int' object cannot be converted to 'PyString'"),
])
def test_setter_conversion_errors(prop, value, message):
    s = Series("a", CoreArray([1], [1]))
    with raises(TypeError, message):
        setattr(s, prop, value)
    assert (s.name, s.index, s.data.to_list()) == ("a", ["0"], [1.0])


@pytest.mark.parametrize("cls, prop", [(Series, "name"), (Series, "data"), (Series, "index"),
                                       (DataFrame, "columns"), (DataFrame, "row_count")])
def test_properties_have_no_deleter(cls, prop):
    obj = cls("a", CoreArray([1], [1])) if cls is Series else cls()
    with raises(AttributeError, "property has no deleter"):
        delattr(obj, prop)


@pytest.mark.parametrize("name, labels, call, message", [
    ("s", ["a", "b"], lambda s: s.head(3), "Series s has 2 labels for 5 values"),
    ("s", ["a", "b"], lambda s: s.head(None), "Series s has 2 labels for 5 values"),
    ("s\0t", ["a"], lambda s: s.tail(3), "Series s\0t has 1 labels for 5 values"),
])
def test_window_past_the_labels_is_an_error(name, labels, call, message):
    s = Series(name, CoreArray(range(5), [5]))
    s.index = labels
    with raises(ValueError, message):
        call(s)


def test_borrow_conflict_while_a_method_reads():
    s = Series("a", CoreArray([1, 2, 3], [3]))

    class Sneaky:
        def __index__(self):
            s.name = "changed"
            return 1

    with raises(RuntimeError, "Already borrowed"):
        s.head(Sneaky())
    assert s.name == "a"
