import math
import struct

import numpy as np
import pandas as pd
import pytest

from tessra import DataFrame, read_csv

from conftest import raises

NAN = float("nan")


def write(tmp_path, data, name="t.csv"):
    path = tmp_path / name
    path.write_bytes(data)
    return str(path)


def table(df):
    return {key: s.data.to_list() for key, s in df.columns.items()}


def same(a, b):
    return len(a) == len(b) and all(
        (math.isnan(x) and math.isnan(y)) or struct.pack("f", x) == struct.pack("f", y)
        for x, y in zip(a, b))


@pytest.mark.parametrize("data, expected", [
    (b"", {}),
    (b"a,b\n", {"a": [], "b": []}),
    (b"a,b\n1,2\n3,x\n", {"a": [1, 3], "b": [2, NAN]}),
    (b'a,b\n"3","1,5"\n', {"a": [3], "b": [NAN]}),
    (b'a,"b ""q"""\n1,"2"\n', {"a": [1], 'b "q"': [2]}),
    (b"a,b\r\n1,2\r\n3,4\r\n", {"a": [1, 3], "b": [2, 4]}),
    (b"a,b\n1,2\n3,4", {"a": [1, 3], "b": [2, 4]}),
    (b"a,b\n\n1,2\n\n\n3,4\n\n", {"a": [1, 3], "b": [2, 4]}),
    (b"x,y,x\n1,2,3\n", {"x": [3], "y": [2]}),
    (b" a\n1\n", {" a": [1]}),
    (b"v\n 1.5\n\n1e40\n-0\nNaN\n-inf\n.5\n5.\n+2E-1\n0x10\n1_0\n", {"v": [NAN, math.inf, -0.0, NAN, -math.inf, 0.5, 5.0, 0.2, NAN, NAN]}),
])
def test_read_csv(tmp_path, data, expected):
    df = read_csv(write(tmp_path, data))
    got = table(df)
    assert list(got) == list(expected)
    for key in expected:
        assert same(got[key], [float(v) for v in expected[key]]), key
    rows = len(next(iter(expected.values()), []))
    assert df.row_count == rows
    for s in df.columns.values():
        assert (s.dtype, s.data.shape, s.index) == ("Float32", [rows], [str(i) for i in range(rows)])


def test_blank_cell_in_one_column_file(tmp_path):
    # A line holding only an empty field is a blank line, not an empty cell.
    assert table(read_csv(write(tmp_path, b"v\n1\n\n2\n"))) == {"v": [1.0, 2.0]}


@pytest.mark.parametrize("data, start, end", [
    (b"a,b\n1,2\n3\n", "Failed to read record: ", "found record with 1 fields, but the previous record has 2 fields"),
    (b"a,b\n1,2,3\n", "Failed to read record: ", "found record with 3 fields, but the previous record has 2 fields"),
    (b"a,b\n1,\xff\n", "Failed to read record: ", None),
    (b"a,\xff\n1,2\n", "Failed to read headers: ", None),
])
def test_rejected_records(tmp_path, data, start, end):
    with pytest.raises(ValueError) as info:
        read_csv(write(tmp_path, data))
    text = str(info.value)
    assert text.startswith(start)
    if end:
        assert text.endswith(end)


def test_open_failures(tmp_path):
    with pytest.raises(OSError) as info:
        read_csv(str(tmp_path / "missing.csv"))
    assert str(info.value).startswith("Failed to open file: ")
    assert "(os error 2)" in str(info.value)
    with raises(OSError, "Failed to open file: file name contained an unexpected NUL byte"):
        read_csv("a\0b.csv")
    with raises(TypeError, "argument 'path': 'int' object cannot be converted to 'PyString'"):
        read_csv(3)


def test_read_then_group(tmp_path):
    df = read_csv(path=write(tmp_path, b"k,v\n1,10\n2,20\n1,30\n"))
    assert isinstance(df, DataFrame)
    s = df.groupby("k").sum()
    assert (table(s), s.row_count) == ({"k": [1.0, 2.0], "v": [40.0, 20.0]}, 2)
    empty = read_csv(write(tmp_path, b"k,v\n", "e.csv")).groupby("k").sum()
    assert (table(empty), empty.row_count) == ({"k": [], "v": []}, 0)


def numeric_text(rng, n):
    """Decimal texts of at most 7 significant digits over a wide range of exponents."""
    digits = rng.integers(1, 8, n)
    mantissa = rng.random(n) * 10
    exponent = rng.integers(-30, 30, n)
    sign = np.where(rng.random(n) < 0.3, "-", "")
    return [f"{s}{m * 10.0 ** e:.{d}g}" for s, m, e, d in zip(sign, mantissa, exponent, digits)]


@pytest.mark.filterwarnings("ignore:The .float_precision. argument is deprecated")
@pytest.mark.parametrize("seed", [1, 2])
def test_matches_pandas_round_trip(tmp_path, seed):
    rng = np.random.default_rng(seed)
    cols = {f"c{i}": numeric_text(rng, 3000) for i in range(3)}
    cols["ints"] = [str(v) for v in rng.integers(-10**7, 10**7, 3000)]
    lines = [",".join(cols)] + [",".join(row) for row in zip(*cols.values())]
    path = write(tmp_path, ("\n".join(lines) + "\n").encode())
    ref = pd.read_csv(path, float_precision="round_trip")
    df = read_csv(path)
    for key in cols:
        want = ref[key].to_numpy(np.float64).astype(np.float32).view(np.uint32)
        got = np.array(df.get_column(key).data.to_list(), np.float32).view(np.uint32)
        assert np.array_equal(got, want), key
