import numpy as np
import pytest

from tessra import CoreArray, DataFrame, DType, Series

from conftest import bits_of, child, col, f32, f32_bits, frame, raises, to_numpy, to_tessra


def test_new_frame_insert_and_properties():
    df = DataFrame()
    assert (repr(df), df.row_count, df.columns) == ("DataFrame(rows=0, cols=0)", 0, {})
    df.row_count = 7
    s = Series("a", CoreArray([1, 2, 3], [3]))
    df.insert("a", s)
    s.name, s.data = "changed", CoreArray([0, 0, 0], [3])  # the frame holds a copy
    assert (df.row_count, col(df, "a"), df.get_column("a").name) == (3, [1.0, 2.0, 3.0], "a")
    for rows in (4, 2):
        with raises(ValueError, "Column length mismatch"):
            df.insert("b", Series("b", CoreArray([1] * rows, [rows])))
    df.insert("b", Series("b", CoreArray([4, 5, 6], [3])))
    df.insert("a", Series("a2", CoreArray([7, 8, 9], [3])))  # replacing keeps the place
    assert (list(df.columns), col(df, "a"), df.get_column("a").name) == (
        ["a", "b"], [7.0, 8.0, 9.0], "a2")
    assert repr(df) == "DataFrame(rows=3, cols=2)"
    cols = df.columns  # a copy
    cols["a"].data, cols["a"].name = CoreArray([9, 9, 9], [3]), "zz"
    assert (col(df, "a"), df.get_column("a").name) == ([7.0, 8.0, 9.0], "a2")
    df.row_count = 1
    assert col(df.iloc(None, None), "a") == [7.0]
    df.columns = {"y": Series("n", CoreArray([1, 2, 3], [3])),
                  "x": Series("x", CoreArray([4], [1]))}
    # The row count stays as it was.
    assert (list(df.columns), df.row_count, df.get_column("y").name) == (["y", "x"], 1, "n")


@pytest.mark.parametrize("call, exc, message", [
    (lambda df: df.get_column("zz"), KeyError, "Column zz not found"),
    (lambda df: df.filter_eq("zz", 1.0), KeyError, "Column zz not found"),
    (lambda df: df.sort_values("zz", True), KeyError, "Column zz not found"),
    (lambda df: df.rename({"a": "c", "zz": "d"}), KeyError, "Column zz not found"),
    (lambda df: df.groupby("zz"), KeyError, "Column zz not found for groupby"),
    # A quoted name is quoted whole, past any NUL in it.
    (lambda df: df.get_column("a\0zz"), KeyError, "Column a\0zz not found"),
    (lambda df: df.filter_eq("a\0zz", 1.0), KeyError, "Column a\0zz not found"),
    (lambda df: df.sort_values("\0zz", True), KeyError, "Column \0zz not found"),
    (lambda df: df.rename({"a\0": "c"}), KeyError, "Column a\0 not found"),
    (lambda df: df.groupby("a\0zz"), KeyError, "Column a\0zz not found for groupby"),
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
    assert info.value.args == (message,)
    assert (list(df.columns), df.row_count) == (["a"], 2)


def test_drop():
    df = frame(a=[1, 2], b=[3, 4], c=[5, 6])
    df.drop(["zz", "a", "a"])
    assert (list(df.columns), col(df, "c")) == (["b", "c"], [5.0, 6.0])
    df.drop(("b", "c"))
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


@pytest.mark.parametrize("start, end, rows", [
    (None, None, [0, 1, 2]), (2, 1, []), (5, None, []), (1, 100, [1, 2]), (None, 2, [0, 1]),
])
def test_iloc(start, end, rows):
    out = frame(a=[10, 11, 12], b=([20, 21, 22], DType.Int32)).iloc(start, end)
    assert out.row_count == len(rows)
    for key, base in [("a", 10), ("b", 20)]:
        s = out.get_column(key)
        assert (s.dtype, s.data.shape, s.data.to_list(), s.index) == (
            "Float32", [len(rows)], [float(base + r) for r in rows], [str(r) for r in rows])
    empty = DataFrame()
    empty.row_count = 5
    assert (empty.iloc(1, 3).row_count, empty.iloc(1, 3).columns) == (2, {})


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
    out = frame(k=(values, dtype), v=list(range(len(values)))).filter_eq("k", value)
    v = out.get_column("v")
    assert (out.row_count, v.data.to_list(), v.index) == (
        len(rows), [float(r) for r in rows], [str(r) for r in rows])


@pytest.mark.parametrize("dtype", [DType.Float32, DType.Int32])
def test_filter_eq_finds_matches_at_every_boundary(dtype):
    n = 3 * 65536 + 37  # several scan chunks and a tail shorter than a block
    keys = np.arange(n) % 5 + 10
    hits = [0, 63, 64, 127, 65535, 65536, 131071, n - 38, n - 37, n - 1]
    keys[hits] = 7
    out = frame(k=(keys, dtype), v=(np.arange(n), DType.Int32)).filter_eq("k", 7.0)
    assert out.get_column("v").index == [str(r) for r in hits]
    assert out.get_column("v").data.to_list() == [float(r) for r in hits]


def test_filter_eq_keeps_float_bits_of_other_columns():
    df = frame(k=[1, 2, 1], v=Series("v", f32_bits(0x7FC00001, 0, 0x80000000)))
    assert bits_of(df.filter_eq("k", 1).get_column("v")) == [0x7FC00001, 0x80000000]


def test_int32_columns_and_labels_through_sort_and_filter():
    big = 2**24  # big + 1 has no float32 of its own
    w = Series("w", to_tessra([big + 1, 7, big, -3], DType.Int32), ["a", "b", "c", "d"])
    df = frame(k=([3, -7, 3, 2**31 - 1], DType.Int32), w=w)
    assert (col(df.filter_eq("k", -7), "w"), col(df.filter_eq("k", 3), "k")) == ([7.0], [3.0, 3.0])
    # An Int32 key sorts by integer value; its values come out as their nearest floats.
    s = df.sort_values("w", True).get_column("w")
    assert (s.dtype, s.data.to_list(), s.index) == (
        "Float32", [-3.0, 7.0, float(big), float(big)], ["d", "b", "c", "a"])
    assert col(df.sort_values("k", True), "k") == [-7.0, 3.0, 3.0, f32(2**31 - 1)]
    # After the filter the keys are Float32 and tie: descending is the exact reverse.
    out = df.filter_eq("k", 3).sort_values("w", False)
    w, k = out.get_column("w"), out.get_column("k")
    assert (w.data.to_list(), w.index, k.index) == (
        [float(big), float(big)], ["c", "a"], ["2", "0"])
    assert all(c.dtype == "Float32" for c in out.columns.values())


def test_rebuilt_columns_keep_their_own_labels_and_names():
    df = frame(k=[3.0, 1.0, 2.0],
               a=Series("a", CoreArray([10, 11, 12, 13, 14], [5])).tail(3),
               b=Series("own", CoreArray([4, 5, 6], [3]), ["x", "y", "z"]))
    out = df.sort_values("k", True)
    assert [out.get_column(c).index for c in "kab"] == [
        ["1", "2", "0"], ["3", "4", "2"], ["y", "z", "x"]]
    assert [col(out, c) for c in "ab"] == [[13.0, 14.0, 12.0], [5.0, 6.0, 4.0]]
    assert out.get_column("b").name == "own"


# ---- sort_values ------------------------------------------------------------------------------

def check_sorted(keys, dtype, ascending):
    # The stable ascending order (NaN last, -0.0 equal to 0.0); descending is its exact reverse.
    nan = np.isnan(keys)
    order = np.lexsort((np.where(nan, 0, keys), nan))
    order = order if ascending else order[::-1]
    out = frame(k=(keys, dtype), v=(np.arange(len(keys)), DType.Int32)).sort_values("k", ascending)
    v = out.get_column("v")
    assert np.array_equal(to_numpy(v.data), order)
    assert v.index == out.get_column("k").index == [str(i) for i in order]
    assert np.array_equal(to_numpy(out.get_column("k").data).view(np.uint32),
                          np.asarray(keys, np.float32)[order].view(np.uint32))


# Both sides of the insertion sort's limit (20 keys), the radix sort, and the pool's sort.
@pytest.mark.parametrize("n, dtype, spread", [
    (20, DType.Float32, 50), (21, DType.Int32, 50), (300, DType.Float32, 50),
    (5000, DType.Int32, 50),
    (300_001, DType.Float32, 2.0**20), (300_001, DType.Int32, 40), (300_001, DType.Int32, 2**31)])
def test_sort_values_is_stable(n, dtype, spread):
    keys = np.random.default_rng(n).uniform(-spread, spread, n)
    if dtype == DType.Int32:
        keys = np.clip(np.round(keys), -2**31, 2**31 - 1).astype(np.int32)
    else:
        keys = (np.round(keys * 4) / 4).astype(np.float32)
        for start, step, value in [(0, 7, -0.0), (0, 11, 0.0), (0, 13, np.inf), (5, 17, -np.inf),
                                   (3, 19, np.nan)]:
            keys[start::step] = value
    check_sorted(keys, dtype, True)
    check_sorted(keys, dtype, np.bool_(False))


# Keys already in order skip the sort; one pair out of place anywhere must not. The rows span
# the check's serial head (4096 pairs) and two of its parallel pieces (65536 pairs).
N_PRESORTED = 4096 + 65536 + 1000


def presorted_keys(kind):
    """Keys in ascending order: "ties" has a run of equal keys, -0.0/0.0 and NaNs at the top."""
    if kind == "equal":
        return np.where(np.arange(N_PRESORTED) % 2, 0.0, -0.0).astype(np.float32)
    if kind == "int":
        return np.arange(N_PRESORTED, dtype=np.int32) // 2
    keys = np.arange(N_PRESORTED, dtype=np.float32) - 5000
    if kind == "ties":
        keys[5050:5150] = keys[5050]  # across a piece edge when reversed
        keys[4999:5002] = [-0.0, 0.0, -0.0]
        keys[-3:] = np.array([0x7FC00000, 0xFFC00000, 0x7F800001], np.uint32).view(np.float32)
    return keys


@pytest.mark.parametrize("ascending, kind, swap", [
    (True, "ties", None), (True, "ties", 0), (True, "ties", 4095), (True, "ties", 4096),
    (True, "ties", 69631), (True, "ties", N_PRESORTED // 2), (True, "ties", N_PRESORTED - 4),
    (False, "ties", None), (False, "ties", 2), (False, "ties", N_PRESORTED // 2),
    (False, "ties", N_PRESORTED - 2), (False, "strict", None),
    (True, "equal", None), (False, "equal", None), (True, "int", None), (False, "int", None),
])
def test_sort_values_of_keys_in_order_matches_the_full_sort(ascending, kind, swap):
    keys = presorted_keys(kind)
    if not ascending:
        keys = keys[::-1].copy()
    if swap is not None:
        keys[[swap, swap + 1]] = keys[[swap + 1, swap]]
    check_sorted(keys, DType.Int32 if kind == "int" else DType.Float32, ascending)


def test_runs_across_pieces_reverse_alike_on_one_thread():
    # One thread runs the pieces in order: a run reaching into the next piece is written by both
    # unless that piece leaves it alone, and the later write is the one that stays.
    assert child("""
from tessra import DType
from test_dataframe import check_sorted, presorted_keys
for kind in ("ties", "equal"):
    check_sorted(presorted_keys(kind)[::-1].copy(), DType.Float32, False)
print("ok")
""", {"RAYON_NUM_THREADS": "1"}) == "ok\n"


# ---- frames made inconsistent through the setters: errors, never reads past the end ------

def with_rows(df, rows, **columns):
    if columns:
        df.columns = {k: Series(k, CoreArray(v, [len(v)])) for k, v in columns.items()}
    df.row_count = rows
    return df


def short_labels():
    s = Series("a", CoreArray([1, 2, 3], [3]))
    s.index = ["only"]
    return frame(a=s)


SHORT_COLUMN = lambda: with_rows(frame(a=[1, 2, 3]), 7)
SHORT_VALUES = lambda: with_rows(DataFrame(), 3, k=[1, 2, 1], v=[5])
INT64_COLUMN = lambda: frame(a=[1, 2, 3], w=([1, 2, 3], DType.Int64))
HUGE = 2**62
HUGE_LENGTH = f"Data length 0 does not match shape [{HUGE}] (expected {HUGE})"
HUGE_FLOAT64 = lambda: with_rows(frame(d=([1, 2], DType.Float64)), HUGE)
HUGE_INT32 = lambda: with_rows(frame(k=([1, 2], DType.Int32)), HUGE)


# A claimed row count far past the columns fails before anything is sized by it.
@pytest.mark.parametrize("make, call, message", [
    (SHORT_COLUMN, lambda df: df.iloc(None, None), "Column a has 3 values for 7 rows"),
    (SHORT_COLUMN, lambda df: df.iloc(2, 4), "Column a has 3 values for 4 rows"),
    (SHORT_COLUMN, lambda df: df.sort_values("a", True), "Column a has 3 values for 7 rows"),
    (SHORT_VALUES, lambda df: df.filter_eq("k", 1), "Column v has 1 values for 3 rows"),
    (SHORT_VALUES, lambda df: df.groupby("k").sum(), "Column v has 1 values for 3 rows"),
    (lambda: with_rows(DataFrame(), 2, **{"v\0w": [5]}), lambda df: df.iloc(None, None),
     "Column v\0w has 1 values for 2 rows"),
    (short_labels, lambda df: df.sort_values("a", True), "Column a has 1 labels for 3 rows"),
    # Columns of other types are read as no values at all.
    (INT64_COLUMN, lambda df: df.iloc(0, 2), "Data length 0 does not match shape [2] (expected 2)"),
    (INT64_COLUMN, lambda df: df.sort_values("w", False),
     "Data length 0 does not match shape [3] (expected 3)"),
    (HUGE_FLOAT64, lambda df: df.sort_values("d", False), HUGE_LENGTH),
    (HUGE_FLOAT64, lambda df: df.sort_values("d", True), HUGE_LENGTH),
    (HUGE_FLOAT64, lambda df: df.iloc(None, None), HUGE_LENGTH),
    (HUGE_INT32, lambda df: df.sort_values("k", False), f"Column k has 2 values for {HUGE} rows"),
    (HUGE_INT32, lambda df: df.iloc(1, None), f"Column k has 2 values for {HUGE} rows"),
])
def test_inconsistent_frames_are_an_error(make, call, message):
    with raises(ValueError, message):
        call(make())


def test_inconsistent_frames_where_no_row_is_missing():
    assert col(SHORT_VALUES().filter_eq("k", 7), "v") == []
    df = short_labels()
    assert df.iloc(0, 1).get_column("a").index == ["only"]
    assert df.iloc(3, None).get_column("a").index == []
    w = INT64_COLUMN().iloc(0, 0).get_column("w")
    assert (w.dtype, w.data.shape) == ("Float32", [0])


def test_borrow_conflicts():
    df = frame(a=[1, 2])

    class Sneaky:
        def __float__(self):
            df.insert(5, 5)  # the borrow conflict comes before the bad arguments
            return 1.0

    class Names:
        __len__ = lambda self: 1
        __getitem__ = lambda self, i: [df.get_column("a").name][i]

    with raises(RuntimeError, "Already borrowed"):
        df.filter_eq("a", Sneaky())
    with raises(RuntimeError, "Already mutably borrowed"):
        df.drop(Names())
    assert list(df.columns) == ["a"]
