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


# Large frames are numbered in chunks on several threads and copied in pieces.
@pytest.mark.parametrize("n, distinct, dtype", [(1000, 7, DType.Float32), (700_000, 300, DType.Float32),
                                                (1_200_000, 60_000, DType.Float32),
                                                (1_200_000, 60_000, DType.Int32)])
def test_sums_follow_row_order_exactly(n, distinct, dtype):
    rng = np.random.default_rng(n + distinct)
    keys = rng.integers(-distinct, distinct, n)
    values = (rng.standard_normal(n) * 100).astype(np.float32)
    g = frame(k=(keys, dtype), v=(values, DType.Float32)).groupby("k")
    unique, inverse, counts = np.unique(keys, return_inverse=True, return_counts=True)
    sums = np.zeros(len(unique), np.float32)
    np.add.at(sums, inverse, values)  # unbuffered: row order, float32 accumulation
    s = g.sum()
    assert np.array_equal(np.array(col(s, "k"), np.float32), unique.astype(np.float32))
    assert np.array_equal(np.array(col(s, "v"), np.float32), sums)
    assert np.array_equal(np.array(col(g.mean(), "v"), np.float32), sums / counts.astype(np.float32))
