"""read_csv as a caller sees it: the frame it builds and the exceptions it raises. The reader's
rules (records, quotes, numbers, UTF-8, error positions) are tested in its C++ tests beside its
fuzz harness."""

import numpy as np
import pandas as pd
import pytest

from tessra import read_csv

from conftest import raises


def write(tmp_path, data, name="t.csv"):
    path = tmp_path / name
    path.write_bytes(data)
    return str(path)


def table(df):
    """Every column as (name, dtype, shape, labels, values), a NaN value as None."""
    return {key: (s.name, s.dtype, s.data.shape, s.index, [v if v == v else None for v in s.data.to_list()])
            for key, s in df.columns.items()}


@pytest.mark.parametrize("data, expected", [
    (b"", {}),
    (b"a,b\n", {"a": [], "b": []}),
    (b"k,v\n1,10\n2,x\n", {"k": [1.0, 2.0], "v": [10.0, None]}),
    (b"x,y,x\n1,2,3\n", {"x": [3.0], "y": [2.0]}),  # a repeated name keeps its place, the later values
])
def test_frame_of_float32_columns(tmp_path, data, expected):
    df = read_csv(path=write(tmp_path, data))
    rows = len(next(iter(expected.values()), []))
    assert df.row_count == rows
    labels = [str(i) for i in range(rows)]
    assert table(df) == {k: (k, "Float32", [rows], labels, v) for k, v in expected.items()}


def test_read_then_group(tmp_path):
    s = read_csv(write(tmp_path, b"k,v\n1,10\n2,20\n1,30\n")).groupby("k").sum()
    assert (s.row_count, s.get_column("k").data.to_list(), s.get_column("v").data.to_list()) == (
        2, [1.0, 2.0], [40.0, 20.0])


def test_failures(tmp_path):
    with pytest.raises(OSError) as info:
        read_csv(str(tmp_path / "missing.csv"))
    assert str(info.value).startswith("Failed to open file: ") and "(os error 2)" in str(info.value)
    with raises(OSError, "Failed to open file: file name contained an unexpected NUL byte"):
        read_csv("a\0b.csv")
    with raises(ValueError, "Failed to read headers: Is a directory (os error 21)"):
        read_csv(str(tmp_path))
    with raises(ValueError, "Failed to read record: CSV error: record 1 (line: 2, byte: 4): "
                            "found record with 1 fields, but the previous record has 2 fields"):
        read_csv(write(tmp_path, b"a,b\n1\n"))
    with raises(TypeError, "argument 'path': 'int' object cannot be converted to 'PyString'"):
        read_csv(3)


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
