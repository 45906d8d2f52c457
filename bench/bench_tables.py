import ctypes
import os
import tempfile

import numpy as np
import pandas as pd

from harness import compare
from tessra import CoreArray, DataFrame, DType, Series, read_csv


def _series(name, values):
    values = np.ascontiguousarray(values, dtype=np.float32)
    a = CoreArray.zeros([len(values)], DType.Float32)
    ctypes.memmove(a.data_ptr, values.ctypes.data, values.nbytes)
    return Series(name, a)


def _frames(n, seed):
    """The same data as a tessra frame and a pandas frame: a key with 1,000 distinct values and
    four value columns."""
    rng = np.random.default_rng(seed)
    cols = {"key": rng.integers(0, 1000, n).astype(np.float32)}
    for i in range(4):
        cols[f"v{i}"] = rng.random(n, dtype=np.float32)
    df = DataFrame()
    for name, values in cols.items():
        df.insert(name, _series(name, values))
    return df, pd.DataFrame(cols)


def _csv_file(directory, rows=1_000_000, cols=6):
    rng = np.random.default_rng(7)
    data = np.round(rng.random((rows, cols)) * 1000, 3).astype(np.float32)
    path = os.path.join(directory, "numbers.csv")
    pd.DataFrame(data, columns=[f"c{i}" for i in range(cols)]).to_csv(path, index=False)
    return path


def run():
    with tempfile.TemporaryDirectory() as tmp:
        path = _csv_file(tmp)
        compare("read_csv 1M x 6", lambda: read_csv(path),
                lambda: pd.read_csv(path, dtype=np.float32), ref="pandas", repeat=5)

    df, pdf = _frames(10_000_000, 1)
    compare("groupby(key).sum() 10M x 4, 1000 keys", lambda: df.groupby("key").sum(),
            lambda: pdf.groupby("key").sum(), ref="pandas", repeat=5)
    compare("groupby(key).mean() 10M x 4, 1000 keys", lambda: df.groupby("key").mean(),
            lambda: pdf.groupby("key").mean(), ref="pandas", repeat=5)
    compare("filter_eq 10M", lambda: df.filter_eq("key", 7.0),
            lambda: pdf[pdf["key"] == np.float32(7.0)], ref="pandas")
    del df, pdf

    df, pdf = _frames(1_000_000, 2)
    compare("sort_values 1M", lambda: df.sort_values("v0", True),
            lambda: pdf.sort_values("v0"), ref="pandas")
