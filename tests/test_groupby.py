import numpy as np
import pytest

from tessra import CoreArray, DataFrame, DType, Series

from test_dataframe import col, frame
from test_series import bits_of, f32_bits, raises, typed


def test_sum_and_mean():
    df = frame(k=[2.0, 1.0, 2.0], v=[10.0, 20.0, 30.0])
    g = df.groupby("k")
    s, m = g.sum(), g.mean()
    assert (col(s, "k"), col(s, "v"), col(m, "v"), col(m, "k")) == (
        [1.0, 2.0], [20.0, 40.0], [20.0, 20.0], [1.0, 2.0])
    assert (s.row_count, s.get_column("v").index, s.get_column("v").dtype) == (2, ["0", "1"], "Float32")
    assert col(g.sum(), "v") == [20.0, 40.0]  # the GroupBy can be used again


def test_int32_keys_and_values():
    df = frame(k=Series("k", typed([3, -1, 3], DType.Int32)), v=Series("v", typed([1, 2, 4], DType.Int32)))
    s = df.groupby(by="k").sum()
    assert (col(s, "k"), col(s, "v"), s.get_column("k").dtype) == ([-1.0, 3.0], [2.0, 5.0], "Float32")
    assert col(df.groupby("k").mean(), "v") == [2.0, 2.5]


def test_keys_group_by_bit_pattern():
    df = frame(k=Series("k", f32_bits(0x00000000, 0x80000000, 0x7FC00000, 0x7FC00001, 0x7FC00000)),
               v=[1.0, 2.0, 3.0, 4.0, 5.0])
    s = df.groupby("k").sum()
    assert s.row_count == 4
    rows = dict(zip(bits_of(s.get_column("k")), col(s, "v")))
    assert rows == {0x00000000: 1.0, 0x80000000: 2.0, 0x7FC00000: 8.0, 0x7FC00001: 4.0}


@pytest.mark.parametrize("dtype", [DType.Int64, DType.Bool, DType.Float64])
@pytest.mark.parametrize("method", ["sum", "mean"])
def test_other_value_dtypes_give_zero(dtype, method):
    df = frame(k=[1.0, 2.0, 1.0], w=Series("w", typed([5, 6, 7], dtype)))
    out = getattr(df.groupby("k"), method)()
    assert (col(out, "w"), out.get_column("w").dtype) == ([0.0, 0.0], "Float32")


def test_grouping_errors():
    df = frame(k=[1.0], f=Series("f", typed([1.0], DType.Float64)))
    with raises(TypeError, "Unsupported grouping column dtype"):
        df.groupby("f")
    with pytest.raises(KeyError) as info:
        df.groupby("zz")
    assert info.value.args == ("Column zz not found for groupby",)


def test_groupby_holds_a_copy():
    df = frame(k=[1.0, 1.0], v=[1.0, 2.0])
    g = df.groupby("k")
    df.insert("w", Series("w", CoreArray([5, 5], [2])))
    df.drop(["v"])
    assert list(g.sum().columns) == ["k", "v"]


def test_result_columns_are_named_after_their_keys():
    df = DataFrame()
    df.insert("k", Series("kk", CoreArray([1, 1], [2])))
    df.insert("x", Series("y", CoreArray([1, 2], [2])))
    out = df.groupby("k").sum()
    assert [(key, s.name) for key, s in out.columns.items()] == [("k", "k"), ("x", "x")]


def test_frame_without_rows():
    df = frame(k=[], v=[])
    out = df.groupby("k").sum()
    assert (out.row_count, col(out, "k"), col(out, "v")) == (0, [], [])


def sequential_f32_sums(keys, values):
    """Per-key sums accumulated in float32 in row order (cumsum is sequential)."""
    out = {}
    for k in np.unique(keys):
        out[k] = np.cumsum(values[keys == k], dtype=np.float32)[-1]
    return out


@pytest.mark.parametrize("n, distinct", [(1000, 7), (700_000, 300)])
def test_sums_follow_row_order_exactly(n, distinct):
    rng = np.random.default_rng(n)
    keys = rng.integers(-distinct, distinct, n).astype(np.float32)
    values = (rng.standard_normal(n) * 1000).astype(np.float32)
    df = frame(k=Series("k", typed(keys)), v=Series("v", typed(values)))
    g = df.groupby("k")
    s, m = g.sum(), g.mean()
    ref = sequential_f32_sums(keys, values)
    expected_keys = sorted(ref)
    assert col(s, "k") == [float(k) for k in expected_keys]
    assert np.array_equal(np.array(col(s, "v"), np.float32), np.array([ref[k] for k in expected_keys]))
    counts = np.array([np.count_nonzero(keys == k) for k in expected_keys], np.float32)
    means = np.array([ref[k] for k in expected_keys], np.float32) / counts
    assert np.array_equal(np.array(col(m, "v"), np.float32), means)


def test_value_column_shorter_than_the_key_column_is_an_error():
    df = frame(k=[1.0, 2.0, 1.0])
    df.columns = {"k": Series("k", CoreArray([1, 2, 1], [3])), "v": Series("v", CoreArray([5], [1]))}
    g = df.groupby("k")
    with raises(ValueError, "Column v has 1 values for 3 rows"):
        g.sum()


def test_nan_keys_do_not_fail():
    df = frame(k=[2.0, float("nan"), 1.0, float("nan")] * 10, v=[1.0] * 40)
    s = df.groupby("k").sum()
    assert col(s, "k")[:2] == [1.0, 2.0] and col(s, "v") == [10.0, 10.0, 20.0]
