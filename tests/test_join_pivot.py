import math

import numpy as np
import pandas as pd
import pytest

from tessra import CoreArray, DataFrame, DType, Series

from conftest import bits_of, f32_bits, frame, raises, to_numpy

NAN_BITS = 0x7FC00000


def values_of(df, key):
    return to_numpy(df.get_column(key).data)


def bits_of_column(df, key):
    return bits_of(df.get_column(key))


def float32_frame(columns):
    return frame(**{k: (v, DType.Float32) for k, v in columns.items()})


def rows_of(df):
    """{key: (series name, values as a list)} of every column, in the frame's order."""
    return {k: (s.name, s.data.to_list()) for k, s in df.columns.items()}


# ---- join ---------------------------------------------------------------------------------

def test_join_pairs_left_rows_in_order_with_right_rows_ascending():
    left = frame(k=[1, 2, 2], a=[10, 20, 30])
    right = frame(k=[2, 2, 3], b=[5, 6, 7])
    inner = left.join(right, "k", "k", "inner")
    assert (inner.row_count, list(inner.columns)) == (4, ["k", "a", "b"])
    assert values_of(inner, "a").tolist() == [20, 20, 30, 30]
    assert values_of(inner, "b").tolist() == [5, 6, 5, 6]
    assert inner.get_column("b").index == ["0", "1", "2", "3"]

    outer = left.join(right, left_on="k", right_on="k", how="left")
    assert outer.row_count == 5
    assert values_of(outer, "a").tolist() == [10, 20, 20, 30, 30]
    assert bits_of_column(outer, "b")[0] == NAN_BITS
    assert values_of(outer, "b")[1:].tolist() == [5, 6, 5, 6]


@pytest.mark.parametrize("how", ["inner", "left"])
def test_float_keys_match_by_bit_pattern(how):
    left = frame(k=Series("k", f32_bits(0x00000000, NAN_BITS, 0x7FC00001, 0x80000000)), a=[1, 2, 3, 4])
    right = frame(k=Series("k", f32_bits(0x80000000, NAN_BITS)), b=[10, 20])
    out = left.join(right, "k", "k", how)
    b = values_of(out, "b")
    if how == "inner":
        assert (values_of(out, "a").tolist(), b.tolist()) == ([2, 4], [20, 10])
    else:
        assert values_of(out, "a").tolist() == [1, 2, 3, 4]
        assert bits_of_column(out, "b") == [NAN_BITS, bits_of_column(right, "b")[1], NAN_BITS,
                                            bits_of_column(right, "b")[0]]


@pytest.mark.parametrize("how", ["inner", "left"])
@pytest.mark.parametrize("dtype", [DType.Float64, DType.Int64, DType.Bool])
def test_keys_of_other_types_pair_nothing(dtype, how):
    left = frame(k=([1, 1], dtype), a=[1, 2])
    right = frame(k=([1, 1], dtype), b=[3, 4])
    out = left.join(right, "k", "k", how)
    assert out.row_count == 0
    assert {k: (s.dtype, s.data.shape) for k, s in out.columns.items()} == {
        "k": ("Float32", [0]), "a": ("Float32", [0]), "b": ("Float32", [0])}


def test_output_names():
    left = frame(id=[1, 2], v=[10, 20], v_y=[0, 0])
    right = frame(id=[2, 1], v=[7, 8], w=Series("own", CoreArray([5, 6], [2])))
    out = left.join(right, "id", "id", "inner")
    assert rows_of(out) == {
        "id": ("id", [1.0, 2.0]),
        "v": ("v", [10.0, 20.0]),
        "v_y": ("v", [8.0, 7.0]),  # the right v replaces the left v_y
        "w": ("w", [6.0, 5.0]),    # named after its key, not the Series' own name
    }


def test_int32_keys_and_values_come_out_as_float32():
    left = frame(k=([7, -3], DType.Int32), a=([1, 2], DType.Int32))
    right = frame(k=([-3, 7], DType.Int32), b=([70, 30], DType.Int32))
    out = left.join(right, "k", "k", "inner")
    assert rows_of(out) == {"k": ("k", [7.0, -3.0]), "a": ("a", [1.0, 2.0]), "b": ("b", [30.0, 70.0])}
    assert {s.dtype for s in out.columns.values()} == {"Float32"}


def test_join_with_itself():
    df = frame(k=[1, 1], v=[2, 3])
    out = df.join(df, "k", "k", "inner")
    assert rows_of(out) == {"k": ("k", [1.0] * 4), "v": ("v", [2.0, 2.0, 3.0, 3.0]),
                            "v_y": ("v", [2.0, 3.0, 2.0, 3.0])}


@pytest.mark.parametrize("left_on, right_on, how, exc, message", [
    ("zz", "zz", "outer", KeyError, "Column zz not found in left DataFrame"),
    ("k", "zz", "outer", KeyError, "Column zz not found in right DataFrame"),
    ("k", "i", "outer", TypeError, "Join columns must have the same dtype"),
    ("k", "k", "Left", ValueError, "Only 'inner' and 'left' joins are supported"),
    ("k", "k", "outer", ValueError, "Only 'inner' and 'left' joins are supported"),
])
def test_join_checks_in_order(left_on, right_on, how, exc, message):
    right = frame(k=[1], i=([1], DType.Int32))
    with pytest.raises(exc) as info:
        frame(k=[1]).join(right, left_on, right_on, how)
    assert info.value.args == (message,)


def test_join_argument_types():
    with raises(TypeError, "argument 'other': 'dict' object cannot be converted to 'DataFrame'"):
        frame(k=[1]).join({}, "k", "k", "inner")


@pytest.mark.parametrize("side", ["left", "right"])
def test_join_refuses_a_short_column(side):
    short = frame(k=[1, 2, 3])
    short.columns = {"k": Series("k", CoreArray([1, 2, 3], [3])), "v": Series("v", CoreArray([1], [1]))}
    full = frame(k=[1, 2, 3], w=[4, 5, 6])
    pair = (short, full) if side == "left" else (full, short)
    with raises(ValueError, "Column v has 1 values for 3 rows"):
        pair[0].join(pair[1], "k", "k", "left")


def test_a_pair_list_larger_than_memory_is_a_memory_error():
    df = float32_frame({"k": np.ones(200_000, np.float32)})
    with pytest.raises(MemoryError):
        df.join(df, "k", "k", "inner")


def _random_sides(rng, n, m, distinct):
    left = {"k": rng.integers(0, distinct, n).astype(np.float32), "a": rng.random(n, dtype=np.float32),
            "lrow": np.arange(n, dtype=np.float32)}
    right = {"k": rng.integers(0, distinct, m).astype(np.float32), "b": rng.random(m, dtype=np.float32),
             "rrow": np.arange(m, dtype=np.float32)}
    return left, right


@pytest.mark.parametrize("how", ["inner", "left"])
@pytest.mark.parametrize("n, m, distinct, shift", [
    (50, 40, 10, 0),            # duplicates on both sides
    (30, 30, 1000, 5000),       # no matches
    (300, 300, 300, 0),         # mostly single matches
    (200_000, 150_000, 120_000, 0),  # the partitioned path
])
def test_join_matches_pandas_merge(how, n, m, distinct, shift):
    rng = np.random.default_rng(n + m)
    left, right = _random_sides(rng, n, m, distinct)
    right["k"] += shift
    out = float32_frame(left).join(float32_frame(right), "k", "k", how)
    ref = pd.DataFrame(left).merge(pd.DataFrame(right), on="k", how=how)
    ref = ref.sort_values(["lrow", "rrow"], kind="stable")
    assert out.row_count == len(ref)
    got_rows = values_of(out, "rrow")
    # Our order is left rows in order, right rows ascending; unmatched rows have NaN.
    order = np.lexsort((np.nan_to_num(got_rows, nan=-1), values_of(out, "lrow")))
    assert np.array_equal(order, np.arange(len(order)))
    for key in ["k", "a", "lrow", "b", "rrow"]:
        np.testing.assert_array_equal(values_of(out, key), ref[key].to_numpy(np.float32))


@pytest.mark.parametrize("how", ["inner", "left"])
@pytest.mark.parametrize("spread", [1, 1 << 20])  # neighbouring keys, then keys far apart
def test_join_of_distinct_right_keys_matches_pandas_merge(how, spread):
    rng = np.random.default_rng(spread)
    m = 120_000
    right = {"k": (rng.permutation(m) * spread).astype(np.float32), "rrow": np.arange(m, dtype=np.float32)}
    left = {"k": (rng.integers(0, m * 5 // 4, 90_000) * spread).astype(np.float32),
            "lrow": np.arange(90_000, dtype=np.float32)}
    out = float32_frame(left).join(float32_frame(right), "k", "k", how)
    ref = pd.DataFrame(left).merge(pd.DataFrame(right), on="k", how=how)
    for key in ["k", "lrow", "rrow"]:
        np.testing.assert_array_equal(values_of(out, key), ref[key].to_numpy(np.float32))


# ---- pivot --------------------------------------------------------------------------------

def test_pivot_grid():
    out = frame(i=[1, 1, 2, 1], c=[10, 20, 10, 10], v=[5, 6, 7, 8]).pivot("i", "c", "v")
    assert list(out.columns) == ["i", "10", "20"]
    assert (values_of(out, "i").tolist(), values_of(out, "10").tolist()) == ([1, 2], [8, 7])
    assert bits_of_column(out, "20") == [np.float32(6).view(np.uint32), NAN_BITS]
    assert (out.row_count, out.get_column("20").name, out.get_column("20").index) == (2, "20", ["0", "1"])


@pytest.mark.parametrize("key, text", [
    (1.0, "1"), (2.5, "2.5"), (0.1, "0.1"), (1e20, "100000000000000000000"), (1e-7, "0.0000001"),
    (-0.0, "-0"), (math.inf, "inf"), (-math.inf, "-inf"), (math.nan, "NaN"), (-1.5, "-1.5"),
    (3.4028234663852886e38, "340282350000000000000000000000000000000"),
    (1.401298464324817e-45, "0.000000000000000000000000000000000000000000001"), (123456.5, "123456.5"),
])
def test_float_column_key_text(key, text):
    out = frame(i=[0], c=[key], v=[1]).pivot("i", "c", "v")
    assert list(out.columns) == ["i", text]


def test_int32_keys():
    out = frame(i=([3, -1], DType.Int32), c=([-12, 7], DType.Int32), v=([4, 5], DType.Int32)).pivot(
        "i", "c", "v")
    assert (list(out.columns), values_of(out, "i").tolist()) == (["i", "-12", "7"], [-1, 3])
    assert bits_of_column(out, "-12") == [NAN_BITS, np.float32(4).view(np.uint32)]
    assert bits_of_column(out, "7") == [np.float32(5).view(np.uint32), NAN_BITS]


@pytest.mark.parametrize("keys, order", [
    ([0.0, -0.0], [0x00000000, 0x80000000]),
    ([-0.0, 0.0], [0x80000000, 0x00000000]),
])
def test_signed_zero_index_keys_keep_first_occurrence_order(keys, order):
    out = frame(i=keys, c=[1, 1], v=[1, 2]).pivot("i", "c", "v")
    assert bits_of_column(out, "i") == order


def test_nan_keys_sort_last_in_first_occurrence_order():
    keys = f32_bits(0x7FC00001, 0x40000000, NAN_BITS, 0xBF800000)
    out = frame(i=Series("i", keys), c=Series("c", keys), v=[1, 2, 3, 4]).pivot("i", "c", "v")
    assert bits_of_column(out, "i") == [0xBF800000, 0x40000000, 0x7FC00001, NAN_BITS]
    # Both NaN column keys are named "NaN": the later one (NAN_BITS) is what stays.
    assert list(out.columns) == ["i", "-1", "2", "NaN"]
    assert np.isnan(values_of(out, "NaN")[:3]).all() and values_of(out, "NaN")[3] == 3


def test_key_text_equal_to_the_index_name_replaces_the_index_column():
    out = frame(**{"1": [5, 6], "c": [1, 2], "v": [7, 8]}).pivot("1", "c", "v")
    assert (list(out.columns), out.get_column("1").name) == (["1", "2"], "1")
    assert bits_of_column(out, "1") == [np.float32(7).view(np.uint32), NAN_BITS]


def test_one_column_as_index_columns_and_values():
    out = frame(k=[2, 1]).pivot("k", "k", "k")
    assert (values_of(out, "k").tolist(), bits_of_column(out, "1")[0], bits_of_column(out, "2")[1]) == (
        [1, 2], np.float32(1).view(np.uint32), np.float32(2).view(np.uint32))


def test_pivot_of_no_rows():
    df = frame(i=([], DType.Float64), c=([], DType.Bool), v=[])
    out = df.pivot("i", "c", "v")
    assert (out.row_count, rows_of(out)) == (0, {"i": ("i", [])})


@pytest.mark.parametrize("args, exc, message", [
    (("zz", "yy", "xx"), KeyError, "Column zz not found"),
    (("i", "yy", "xx"), KeyError, "Column yy not found"),
    (("i", "c", "xx"), KeyError, "Column xx not found"),
    (("i", "c", "w"), TypeError, "Unsupported pivot column dtype"),
    (("w", "c", "v"), TypeError, "Unsupported pivot column dtype"),
    (("i", "c", "s"), ValueError, "Column s has 1 values for 2 rows"),
])
def test_pivot_failures(args, exc, message):
    df = frame(i=[1, 2], c=[1, 2], v=[1, 2], w=([1, 2], DType.Int64))
    df.columns = {**df.columns, "s": Series("s", CoreArray([1], [1]))}
    with pytest.raises(exc) as info:
        df.pivot(*args)
    assert info.value.args == (message,)


def test_a_grid_larger_than_memory_is_a_memory_error():
    keys = np.arange(300_000, dtype=np.float32)
    with pytest.raises(MemoryError):
        float32_frame({"i": keys, "c": keys, "v": keys}).pivot("i", "c", "v")


@pytest.mark.parametrize("n, rows, cols, dtype", [
    (40, 5, 4, DType.Float32),
    (5000, 60, 30, DType.Float32),
    (300_000, 1000, 100, DType.Int32),
])
def test_pivot_matches_pandas_pivot_table(n, rows, cols, dtype):
    rng = np.random.default_rng(n)
    i = rng.integers(-rows, rows, n)
    c = rng.integers(0, cols, n) * 0.5
    v = rng.integers(-1000, 1000, n)
    out = frame(i=(i, dtype), c=(c, DType.Float32), v=(v, dtype)).pivot("i", "c", "v")
    ref = pd.DataFrame({"i": i, "c": c.astype(np.float32), "v": v}).pivot_table(
        index="i", columns="c", values="v", aggfunc="last")
    np.testing.assert_array_equal(values_of(out, "i"), ref.index.to_numpy(np.float32))
    assert list(out.columns)[1:] == [format(float(x), "g") if x != int(x) else str(int(x))
                                     for x in ref.columns]
    for x, name in zip(ref.columns, list(out.columns)[1:]):
        np.testing.assert_array_equal(values_of(out, name), ref[x].to_numpy(np.float32))
