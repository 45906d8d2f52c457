import math

import numpy as np
import pandas as pd
import pytest

from tessra import CoreArray, DType, Series

from conftest import f32_bits, frame, to_numpy

M = "nan:7fc00000"  # the missing value: the positive quiet NaN, no other


def exact(x):
    """A value as compared here: a NaN as the text of its bits, -0.0 apart from 0.0."""
    if math.isnan(x):
        return f"nan:{np.float32(x).view(np.uint32):08x}"
    return "-0" if x == 0 and math.copysign(1, x) < 0 else float(x)


def rows_of(df):
    """{key: (series name, exact values)} in the frame's order."""
    return {k: (s.name, [exact(x) for x in s.data.to_list()]) for k, s in df.columns.items()}


def expect(columns):
    """rows_of's form of {key: values, or (series name, values) where the name is not the key}."""
    named = {k: v if isinstance(v, tuple) else (k, v) for k, v in columns.items()}
    return {k: (name, [x if isinstance(x, str) else float(x) for x in v]) for k, (name, v) in named.items()}


def values_of(df, key):
    return to_numpy(df.get_column(key).data)


def float32_frame(columns):
    return frame(**{k: (v, DType.Float32) for k, v in columns.items()})


# ---- join ---------------------------------------------------------------------------------

PAIRS_L, PAIRS_R = dict(k=[1, 2, 2], a=[10, 20, 30]), dict(k=[2, 2, 3], b=[5, 6, 7])
BITS_L = dict(k=Series("k", f32_bits(0x00000000, 0x7FC00000, 0x7FC00001, 0x80000000)), a=[1, 2, 3, 4])
BITS_R = dict(k=Series("k", f32_bits(0x80000000, 0x7FC00000)), b=[10, 20])


@pytest.mark.parametrize("left, right, how, expected", [
    # Left rows in order, each with its right rows ascending; an unmatched left row has NaN.
    (PAIRS_L, PAIRS_R, "inner", {"k": [2, 2, 2, 2], "a": [20, 20, 30, 30], "b": [5, 6, 5, 6]}),
    (PAIRS_L, PAIRS_R, "left", {"k": [1, 2, 2, 2, 2], "a": [10, 20, 20, 30, 30], "b": [M, 5, 6, 5, 6]}),
    # Float keys match by bit pattern.
    (BITS_L, BITS_R, "inner", {"k": [M, "-0"], "a": [2, 4], "b": [20, 10]}),
    (BITS_L, BITS_R, "left", {"k": [0, M, "nan:7fc00001", "-0"], "a": [1, 2, 3, 4], "b": [M, 20, M, 10]}),
    # Int32 keys and values come out as Float32.
    (dict(k=([7, -3], DType.Int32), a=([1, 2], DType.Int32)),
     dict(k=([-3, 7], DType.Int32), b=([70, 30], DType.Int32)), "inner", {"k": [7, -3], "a": [1, 2], "b": [30, 70]}),
    # Right columns whose key the left has take "_y", with their own name; the left "v_y" is replaced.
    (dict(k=[1, 2], v=[10, 20], v_y=[0, 0]), dict(k=[2, 1], v=[7, 8], b=Series("own", CoreArray([5, 6], [2]))),
     "inner", {"k": [1, 2], "v": [10, 20], "v_y": ("v", [8, 7]), "b": [6, 5]}),
])
def test_join_by_hand(left, right, how, expected):
    out = frame(**left).join(frame(**right), "k", "k", how)
    assert rows_of(out) == expect(expected)
    n = len(expected["k"])
    assert out.row_count == n and out.get_column("b").index == [str(i) for i in range(n)]
    assert {s.dtype for s in out.columns.values()} == {"Float32"}


def test_join_with_itself():
    df = frame(k=[1, 1], v=[2, 3])
    assert rows_of(df.join(df, "k", "k", "inner")) == expect(
        {"k": [1] * 4, "v": [2, 2, 3, 3], "v_y": ("v", [2, 3, 2, 3])})


@pytest.mark.parametrize("how", ["inner", "left"])
@pytest.mark.parametrize("dtype", [DType.Float64, DType.Int64, DType.Bool])
def test_keys_of_other_types_pair_nothing(dtype, how):
    out = frame(k=([1, 1], dtype), a=[1, 2]).join(frame(k=([1, 1], dtype), b=[3, 4]), "k", "k", how)
    assert out.row_count == 0
    assert {k: (s.dtype, s.data.shape) for k, s in out.columns.items()} == {
        "k": ("Float32", [0]), "a": ("Float32", [0]), "b": ("Float32", [0])}


def _short():
    short = frame(k=[1, 2, 3])
    short.columns = {"k": Series("k", CoreArray([1, 2, 3], [3])), "v": Series("v", CoreArray([1], [1]))}
    return short


@pytest.mark.parametrize("call, exc, message", [
    (lambda l, r: l.join(r, "zz", "zz", "outer"), KeyError, "Column zz not found in left DataFrame"),
    (lambda l, r: l.join(r, "k", "zz", "outer"), KeyError, "Column zz not found in right DataFrame"),
    (lambda l, r: l.join(r, "k", "i", "outer"), TypeError, "Join columns must have the same dtype"),
    (lambda l, r: l.join(r, "k", "k", "Left"), ValueError, "Only 'inner' and 'left' joins are supported"),
    (lambda l, r: l.join(r, "k", "k", "outer"), ValueError, "Only 'inner' and 'left' joins are supported"),
    (lambda l, r: _short().join(r, "k", "k", "left"), ValueError, "Column v has 1 values for 3 rows"),
    (lambda l, r: r.join(_short(), "k", "k", "left"), ValueError, "Column v has 1 values for 3 rows"),
])
def test_join_checks_in_order(call, exc, message):
    with pytest.raises(exc) as info:
        call(frame(k=[1]), frame(k=[1, 2, 3], i=([1, 2, 3], DType.Int32)))
    assert info.value.args == (message,)


def test_a_pair_list_larger_than_memory_is_a_memory_error():
    df = float32_frame({"k": np.ones(200_000, np.float32)})
    with pytest.raises(MemoryError):
        df.join(df, "k", "k", "inner")


@pytest.mark.parametrize("how", ["inner", "left"])
@pytest.mark.parametrize("n, m, distinct, shift, spread", [
    (50, 40, 10, 0, 1),                   # duplicates on both sides
    (30, 30, 1000, 5000, 1),              # no matches
    (300, 300, 300, 0, 1),                # mostly single matches
    (200_000, 150_000, 120_000, 0, 1),    # the partitioned path
    (90_000, 120_000, None, 0, 1),        # distinct right keys, neighbouring
    (90_000, 120_000, None, 0, 1 << 20),  # distinct right keys far apart
])
def test_join_matches_pandas_merge(how, n, m, distinct, shift, spread):
    rng = np.random.default_rng(n + m + spread)
    right_keys = rng.integers(0, distinct, m) + shift if distinct else rng.permutation(m)
    left = {"k": rng.integers(0, distinct or m * 5 // 4, n) * spread, "a": rng.random(n), "lrow": np.arange(n)}
    right = {"k": right_keys * spread, "b": rng.random(m), "rrow": np.arange(m)}
    left, right = ({k: v.astype(np.float32) for k, v in side.items()} for side in (left, right))
    out = float32_frame(left).join(float32_frame(right), "k", "k", how)
    ref = pd.DataFrame(left).merge(pd.DataFrame(right), on="k", how=how)
    ref = ref.sort_values(["lrow", "rrow"], kind="stable")  # left rows in order, right ascending
    assert out.row_count == len(ref)
    for key in ["k", "a", "lrow", "b", "rrow"]:
        np.testing.assert_array_equal(values_of(out, key), ref[key].to_numpy(np.float32))


# ---- pivot --------------------------------------------------------------------------------

NAN_KEYS = f32_bits(0x7FC00001, 0x40000000, 0x7FC00000, 0xBF800000)


@pytest.mark.parametrize("df, args, expected", [
    # Later rows overwrite earlier ones; cells without a row are NaN.
    (frame(i=[1, 1, 2, 1], c=[10, 20, 10, 10], v=[5, 6, 7, 8]), "icv", {"i": [1, 2], "10": [8, 7], "20": [6, M]}),
    (frame(i=([3, -1], DType.Int32), c=([-12, 7], DType.Int32), v=([4, 5], DType.Int32)), "icv",
     {"i": [-1, 3], "-12": [M, 4], "7": [5, M]}),
    # Equal keys keep the order of their first occurrence: 0.0 and -0.0, the NaNs (which sort last).
    (frame(i=[0.0, -0.0], c=[1, 1], v=[1, 2]), "icv", {"i": [0, "-0"], "1": [1, 2]}),
    (frame(i=[-0.0, 0.0], c=[1, 1], v=[1, 2]), "icv", {"i": ["-0", 0], "1": [1, 2]}),
    # Both NaN column keys are named "NaN": the later one is what stays.
    (frame(i=Series("i", NAN_KEYS), c=Series("c", NAN_KEYS), v=[1, 2, 3, 4]), "icv",
     {"i": [-1, 2, "nan:7fc00001", M], "-1": [4, M, M, M], "2": [M, 2, M, M], "NaN": [M, M, M, 3]}),
    # A key whose text is the index name replaces the index column.
    (frame(**{"1": [5, 6], "c": [1, 2], "v": [7, 8]}), "1cv", {"1": [7, M], "2": [M, 8]}),
    (frame(k=[2, 1]), "kkk", {"k": [1, 2], "1": [1, M], "2": [M, 2]}),
    (frame(i=([], DType.Float64), c=([], DType.Bool), v=[]), "icv", {"i": []}),
])
def test_pivot_by_hand(df, args, expected):
    out = df.pivot(*args)
    assert rows_of(out) == expect(expected)
    n = len(expected[args[0]])
    assert out.row_count == n and all(s.index == [str(i) for i in range(n)] for s in out.columns.values())


@pytest.mark.parametrize("key, text", [
    (1.0, "1"), (2.5, "2.5"), (0.1, "0.1"), (1e20, "100000000000000000000"), (1e-7, "0.0000001"),
    (-0.0, "-0"), (math.inf, "inf"), (-math.inf, "-inf"), (math.nan, "NaN"), (-1.5, "-1.5"),
    (3.4028234663852886e38, "340282350000000000000000000000000000000"),
    (1.401298464324817e-45, "0.000000000000000000000000000000000000000000001"), (123456.5, "123456.5"),
])
def test_float_column_key_text(key, text):
    assert list(frame(i=[0], c=[key], v=[1]).pivot("i", "c", "v").columns) == ["i", text]


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
    (40, 5, 4, DType.Float32), (5000, 60, 30, DType.Float32), (300_000, 1000, 100, DType.Int32),
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
