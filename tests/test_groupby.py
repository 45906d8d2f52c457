import numpy as np
import pytest

from tessra import CoreArray, DType, Series

from conftest import bits_of, col, f32_bits, frame, raises


@pytest.mark.parametrize("dtype", [DType.Float32, DType.Int32])
def test_sum_and_mean(dtype):
    g = frame(k=([2, -1, 2], dtype), v=([10, 20, 35], dtype)).groupby(by="k")
    s, m = g.sum(), g.mean()
    assert (col(s, "k"), col(s, "v"), col(m, "k"), col(m, "v")) == (
        [-1.0, 2.0], [20.0, 45.0], [-1.0, 2.0], [20.0, 22.5])
    assert (s.row_count, s.get_column("v").index, s.get_column("k").dtype) == (2, ["0", "1"], "Float32")
    assert col(g.sum(), "v") == [20.0, 45.0]  # the GroupBy can be used again


def test_keys_group_by_bit_pattern():
    df = frame(k=Series("k", f32_bits(0x00000000, 0x80000000, 0x7FC00000, 0x7FC00001, 0x7FC00000)),
               v=[1.0, 2.0, 3.0, 4.0, 5.0])
    s = df.groupby("k").sum()
    rows = dict(zip(bits_of(s.get_column("k")), col(s, "v")))
    assert rows == {0x00000000: 1.0, 0x80000000: 2.0, 0x7FC00000: 8.0, 0x7FC00001: 4.0}
    assert s.row_count == 4


@pytest.mark.parametrize("dtype", [DType.Int64, DType.Bool, DType.Float64])
@pytest.mark.parametrize("method", ["sum", "mean"])
def test_other_value_dtypes_give_zero(dtype, method):
    out = getattr(frame(k=[1.0, 2.0, 1.0], w=([5, 6, 7], dtype)).groupby("k"), method)()
    assert (col(out, "w"), out.get_column("w").dtype) == ([0.0, 0.0], "Float32")
    with raises(TypeError, "Unsupported grouping column dtype"):
        frame(k=[1.0], f=([1.0], DType.Float64)).groupby("f")


def test_result_is_a_copy_named_after_the_keys():
    df = frame(k=Series("kk", CoreArray([1, 1], [2])), v=Series("y", CoreArray([1, 2], [2])))
    g = df.groupby("k")
    df.insert("w", Series("w", CoreArray([5, 5], [2])))
    df.drop(["v"])
    assert [(key, s.name) for key, s in g.sum().columns.items()] == [("k", "k"), ("v", "v")]
    out = frame(k=[], v=[]).groupby("k").sum()
    assert (out.row_count, col(out, "k"), col(out, "v")) == (0, [], [])


@pytest.mark.parametrize("n, distinct", [(1000, 7), (700_000, 300)])
def test_sums_follow_row_order_exactly(n, distinct):
    rng = np.random.default_rng(n)
    keys = rng.integers(-distinct, distinct, n).astype(np.float32)
    values = (rng.standard_normal(n) * 1000).astype(np.float32)
    g = frame(k=(keys, DType.Float32), v=(values, DType.Float32)).groupby("k")
    unique = np.unique(keys)
    # cumsum accumulates in row order in float32.
    sums = np.array([np.cumsum(values[keys == k], dtype=np.float32)[-1] for k in unique])
    counts = np.array([np.count_nonzero(keys == k) for k in unique], np.float32)
    s = g.sum()
    assert col(s, "k") == unique.tolist()
    assert np.array_equal(np.array(col(s, "v"), np.float32), sums)
    assert np.array_equal(np.array(col(g.mean(), "v"), np.float32), sums / counts)


def test_nan_keys_do_not_fail():
    s = frame(k=[2.0, float("nan"), 1.0, float("nan")] * 10, v=[1.0] * 40).groupby("k").sum()
    assert col(s, "k")[:2] == [1.0, 2.0] and col(s, "v") == [10.0, 10.0, 20.0]
