"""read_csv as a caller sees it: the frame it builds and the exceptions it raises. The reader's
rules (records, quotes, numbers, UTF-8, error positions) are tested in its C++ tests, beside its
fuzz harness and against the C library's correctly rounded numbers."""

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
