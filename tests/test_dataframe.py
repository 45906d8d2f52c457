import math
import re

import numpy as np
import pytest

from tessra import CoreArray, DataFrame, DType, Series

from test_series import bits_of, f32_bits, raises, typed


def frame(**columns):
    """A frame of Float32 columns (lists) or ready Series, inserted in keyword order."""
    df = DataFrame()
    for key, col in columns.items():
        df.insert(key, col if isinstance(col, Series) else Series(key, CoreArray(col, [len(col)])))
    return df


def col(df, key):
    return df.get_column(key).data.to_list()


def test_new_frame():
    df = DataFrame()
    assert (repr(df), df.row_count, df.columns) == ("DataFrame(rows=0, cols=0)", 0, {})
    assert repr(frame(a=[1, 2, 3], b=[4, 5, 6])) == "DataFrame(rows=3, cols=2)"


def test_insert_sets_and_checks_row_count():
    df = DataFrame()
    df.row_count = 7
    df.insert("a", Series("a", CoreArray([1, 2, 3], [3])))
    assert df.row_count == 3
    with raises(ValueError, "Column length mismatch"):
        df.insert("b", Series("b", CoreArray([1, 2, 3, 4], [4])))
    assert list(df.columns) == ["a"]
    df.insert("b", Series("b", CoreArray([4, 5, 6], [3])))
    df.insert("a", Series("a2", CoreArray([7, 8, 9], [3])))
    # Replacing a column keeps its place.
    assert list(df.columns) == ["a", "b"]
    assert (col(df, "a"), df.get_column("a").name) == ([7.0, 8.0, 9.0], "a2")


def test_insert_copies_the_series_and_keeps_its_name():
    s = Series("y", CoreArray([1, 2], [2]))
    df = DataFrame()
    df.insert("x", s)
    s.name = "changed"
    s.data = CoreArray([0, 0], [2])
    got = df.get_column("x")
    assert (got.name, got.data.to_list()) == ("y", [1.0, 2.0])


@pytest.mark.parametrize("call, exc, message", [
    (lambda df: df.get_column("zz"), KeyError, "Column zz not found"),
    (lambda df: df.filter_eq("zz", 1.0), KeyError, "Column zz not found"),
    (lambda df: df.sort_values("zz", True), KeyError, "Column zz not found"),
    (lambda df: df.rename({"a": "c", "zz": "d"}), KeyError, "Column zz not found"),
    (lambda df: df.rename({"a": 1}), TypeError,
     "argument 'columns': 'int' object cannot be converted to 'PyString'"),
    (lambda df: setattr(df, "columns", {"a": 1}), TypeError,
     "argument 'columns': 'int' object cannot be converted to 'Series'"),
    (lambda df: setattr(df, "columns", {1: Series("a", CoreArray([1], [1]))}), TypeError,
     "argument 'columns': 'int' object cannot be converted to 'PyString'"),
])
def test_failed_calls_leave_the_frame(call, exc, message):
    df = frame(a=[1, 2])
    with pytest.raises(exc) as info:
        call(df)
    assert info.value.args[0] == message
    assert (list(df.columns), df.row_count) == (["a"], 2)


def test_drop():
    df = frame(a=[1, 2], b=[3, 4])
    df.drop(["zz", "a", "a"])
    assert list(df.columns) == ["b"]
    df.drop(("b",))
    assert (df.columns, df.row_count) == ({}, 2)


@pytest.mark.parametrize("mapping, expected", [
    ({"a": "b", "b": "a"}, [("b", [1.0]), ("a", [2.0]), ("c", [3.0])]),  # names swap, places stay
    ({"a": "c"}, [("c", [1.0]), ("b", [2.0])]),  # overwrites the column that is not renamed
    ({"a": "z", "b": "z"}, [("z", [2.0]), ("c", [3.0])]),  # the later pair wins
    ({}, [("a", [1.0]), ("b", [2.0]), ("c", [3.0])]),
])
def test_rename(mapping, expected):
    df = frame(a=[1], b=[2], c=[3])
    df.rename(mapping)
    assert [(k, s.name, s.data.to_list()) for k, s in df.columns.items()] == [
        (k, k, v) for k, v in expected]
    assert df.row_count == 1


@pytest.mark.parametrize("start, end, rows, labels", [
    (None, None, [0, 1, 2], ["0", "1", "2"]),
    (2, 1, [], []),
    (5, None, [], []),
    (1, 100, [1, 2], ["1", "2"]),
    (None, 2, [0, 1], ["0", "1"]),
])
def test_iloc(start, end, rows, labels):
    df = frame(a=[10, 11, 12], b=Series("b", typed([20, 21, 22], DType.Int32)))
    out = df.iloc(start, end)
    assert out.row_count == len(rows)
    for key, base in [("a", 10), ("b", 20)]:
        s = out.get_column(key)
        assert (s.dtype, s.data.shape, s.data.to_list(), s.index) == (
            "Float32", [len(rows)], [float(base + r) for r in rows], labels)


def test_iloc_of_a_frame_without_columns():
    df = DataFrame()
    df.row_count = 5
    out = df.iloc(1, 3)
    assert (out.row_count, out.columns) == (2, {})


def test_derived_frames_keep_custom_labels_and_names():
    df = DataFrame()
    df.insert("k", Series("own", CoreArray([3, 1, 2], [3]), ["x", "y", "z"]))
    out = df.sort_values("k", True).get_column("k")
    assert (out.name, out.index, out.data.to_list()) == ("own", ["y", "z", "x"], [1.0, 2.0, 3.0])


@pytest.mark.parametrize("dtype, values, value, rows", [
    (DType.Float32, [1, float("nan"), 0], float("nan"), []),
    (DType.Int32, [0, 5, 0], float("nan"), [0, 2]),
    (DType.Int32, [2, 3, 2, -2], 2.7, [0, 2]),
    (DType.Int32, [2, 3, 2, -2], -2.7, [3]),
    (DType.Float32, [0.0, 1.0, -0.0], -0.0, [0, 2]),
    (DType.Int32, [2**31 - 1, 0], 1e10, [0]),
    (DType.Int32, [-2**31, 0], -1e10, [0]),
    (DType.Int32, [16777216, 16777217], 16777217, [0]),
    (DType.Float32, [0.1, 0.2], 0.1, [0]),
    (DType.Int64, [1, 2], 1.0, []),
])
def test_filter_eq(dtype, values, value, rows):
    n = len(values)
    df = frame(k=Series("k", typed(values, dtype)), v=list(range(n)))
    out = df.filter_eq("k", value)
    assert out.row_count == len(rows)
    v = out.get_column("v")
    assert (v.data.to_list(), v.index) == ([float(r) for r in rows], [str(r) for r in rows])


def test_filter_eq_keeps_float_bits_of_other_columns():
    df = frame(k=[1, 2, 1], v=Series("v", f32_bits(0x7FC00001, 0, 0x80000000)))
    assert bits_of(df.filter_eq("k", 1).get_column("v")) == [0x7FC00001, 0x80000000]


@pytest.mark.parametrize("n", [20, 21, 300, 5000])
@pytest.mark.parametrize("dtype", [DType.Float32, DType.Int32])
def test_sort_values_matches_a_stable_argsort(n, dtype):
    rng = np.random.default_rng(n)
    keys = rng.integers(-50, 50, n)
    if dtype == DType.Float32:
        keys = keys * 0.25
        keys[rng.integers(0, n, n // 10)] = -0.0
    df = frame(k=Series("k", typed(keys, dtype)), v=list(range(n)))
    order = np.argsort(np.asarray(keys, np.float64), kind="stable")
    assert col(df.sort_values("k", True), "v") == [float(i) for i in order]
    assert col(df.sort_values("k", np.bool_(False)), "v") == [float(i) for i in order[::-1]]


def test_sort_values_places_nan_without_failing():
    keys = [3.0, float("nan"), 1.0, float("nan"), 2.0] * 10
    df = frame(k=keys, v=list(range(len(keys))))
    got = col(df.sort_values("k", True), "k")
    assert got[:30] == sorted(k for k in keys if not math.isnan(k))
    assert all(math.isnan(k) for k in got[30:])


def test_properties():
    df = frame(a=[1, 2])
    cols = df.columns  # a copy
    cols["a"].data = CoreArray([9, 9], [2])
    cols["a"].name = "zz"
    assert (col(df, "a"), df.get_column("a").name) == ([1.0, 2.0], "a")
    df.row_count = 1
    assert (df.row_count, col(df.iloc(None, None), "a")) == (1, [1.0])
    df.columns = {"y": Series("n", CoreArray([1, 2, 3], [3])), "x": Series("x", CoreArray([4], [1]))}
    # The row count stays as it was.
    assert (list(df.columns), df.row_count, df.get_column("y").name) == (["y", "x"], 1, "n")


# ---- frames made inconsistent through the setters: errors, never reads past the end ------

def short_column():
    df = frame(a=[1, 2, 3])
    df.row_count = 7
    return df


def short_value_column():
    df = DataFrame()
    df.columns = {"k": Series("k", CoreArray([1, 2, 1], [3])), "v": Series("v", CoreArray([5], [1]))}
    df.row_count = 3
    return df


def short_labels():
    s = Series("a", CoreArray([1, 2, 3], [3]))
    s.index = ["only"]
    df = DataFrame()
    df.insert("a", s)
    return df


def int64_column():
    return frame(a=[1, 2, 3], w=Series("w", typed([1, 2, 3], DType.Int64)))


@pytest.mark.parametrize("make, call, message", [
    (short_column, lambda df: df.iloc(None, None), "Column a has 3 values for 7 rows"),
    (short_column, lambda df: df.iloc(2, 4), "Column a has 3 values for 4 rows"),
    (short_column, lambda df: df.sort_values("a", True), "Column a has 3 values for 7 rows"),
    (short_value_column, lambda df: df.filter_eq("k", 1), "Column v has 1 values for 3 rows"),
    (short_labels, lambda df: df.sort_values("a", True), "Column a has 1 labels for 3 rows"),
    # Columns of other types are read as no values at all.
    (int64_column, lambda df: df.iloc(0, 2), "Data length 0 does not match shape [2] (expected 2)"),
    (int64_column, lambda df: df.sort_values("w", False),
     "Data length 0 does not match shape [3] (expected 3)"),
])
def test_inconsistent_frames_are_an_error(make, call, message):
    with raises(ValueError, message):
        call(make())


def test_inconsistent_frames_where_no_row_is_missing():
    assert col(short_value_column().filter_eq("k", 7), "v") == []
    df = short_labels()
    assert (df.iloc(0, 1).get_column("a").index, df.iloc(3, None).get_column("a").index) == (["only"], [])
    w = int64_column().iloc(0, 0).get_column("w")
    assert (w.dtype, w.data.shape) == ("Float32", [0])


# ---- borrows ---------------------------------------------------------------------------

def test_in_place_operation_while_the_frame_is_read():
    df = frame(a=[1, 2])

    class Sneaky:
        def __float__(self):
            df.insert(5, 5)  # the borrow conflict comes before the bad arguments
            return 1.0

    with raises(RuntimeError, "Already borrowed"):
        df.filter_eq("a", Sneaky())


def test_read_while_the_frame_is_changed():
    df = frame(a=[1, 2])

    class Names:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            if i:
                raise IndexError
            return df.get_column("a").name

    with raises(RuntimeError, "Already mutably borrowed"):
        df.drop(Names())
    assert list(df.columns) == ["a"]
