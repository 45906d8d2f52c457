import ctypes
import os
import tempfile

import numpy as np
import pandas as pd

from harness import compare_peers
from tessra import CoreArray, DataFrame, DType, Series, read_csv


def _series(name, values):
    values = np.ascontiguousarray(values, dtype=np.float32)
    a = CoreArray.zeros([len(values)], DType.Float32)
    ctypes.memmove(a.data_ptr, values.ctypes.data, values.nbytes)
    return Series(name, a)


def _frames(n, seed, make_key=lambda rng, n: rng.integers(0, 1000, n)):
    """The same data as a tessra frame and a pandas frame: a key made by make_key(rng, n) (by
    default 1,000 distinct values) and four value columns uniform in [0, 1)."""
    rng = np.random.default_rng(seed)
    cols = {"key": np.asarray(make_key(rng, n), np.float32)}
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


def _optional(module):
    """A benchmark-only peer (`make bench` installs them), or None where it is missing."""
    try:
        return __import__(module)
    except ImportError:
        return None


pl = _optional("polars")
duckdb = _optional("duckdb")
pa_csv = None
if _optional("pyarrow"):
    import pyarrow as pa
    import pyarrow.csv as pa_csv


def _arrow(relation):
    """The query's result as an Arrow table (the method's name changed between releases)."""
    fetch = getattr(relation, "to_arrow_table", None) or relation.arrow
    return fetch()


def _duck(pdf):
    """A connection holding pdf as its own native table `t`."""
    con = duckdb.connect()
    con.register("src", pdf)
    con.execute("CREATE TABLE t AS SELECT * FROM src")
    con.unregister("src")
    return con


def _peers(pdf, pandas_fn, polars_fn, duck_sql):
    peers = {"pandas": pandas_fn}
    if pl:
        pldf = pl.from_pandas(pdf)
        peers["polars"] = lambda: polars_fn(pldf)
    if duckdb:
        con = _duck(pdf)
        peers["duckdb"] = lambda: _arrow(con.sql(duck_sql))
    return peers


def run():
    with tempfile.TemporaryDirectory() as tmp:
        path = _csv_file(tmp)
        names = [f"c{i}" for i in range(6)]
        peers = {"pandas": lambda: pd.read_csv(path, dtype=np.float32)}
        if pa_csv:
            opts = pa_csv.ConvertOptions(column_types={c: pa.float32() for c in names})
            peers["pyarrow.csv"] = lambda: pa_csv.read_csv(path, convert_options=opts)
        if pl:
            peers["polars"] = lambda: pl.read_csv(path, schema_overrides={c: pl.Float32 for c in names})
        if duckdb:
            con = duckdb.connect()
            cols = ", ".join(f"'{c}': 'FLOAT'" for c in names)
            sql = f"SELECT * FROM read_csv('{path}', header=true, columns={{{cols}}})"
            peers["duckdb"] = lambda: _arrow(con.sql(sql))
        compare_peers("read_csv 1M x 6", lambda: read_csv(path), peers, repeat=5)

    df, pdf = _frames(10_000_000, 1)
    values = ["v0", "v1", "v2", "v3"]
    for agg in ("sum", "mean"):
        sql = f"SELECT key, {', '.join(f'{agg}({v}) AS {v}' for v in values)} FROM t GROUP BY key ORDER BY key"
        peers = _peers(pdf, lambda: getattr(pdf.groupby("key"), agg)(),
                       lambda d: getattr(d.group_by("key"), agg)().sort("key"), sql)
        compare_peers(f"groupby(key).{agg}() 10M x 4, 1000 keys", lambda: getattr(df.groupby("key"), agg)(),
                      peers, repeat=5)
    peers = _peers(pdf, lambda: pdf[pdf["key"] == np.float32(7.0)],
                   lambda d: d.filter(pl.col("key") == 7.0), "SELECT * FROM t WHERE key = 7.0")
    compare_peers("filter_eq 10M x 5", lambda: df.filter_eq("key", 7.0), peers)
    del df, pdf, peers

    sort_keys = {
        "uniform [0, 1)": (lambda rng, n: rng.random(n, dtype=np.float32), True),
        "uniform [0, 1000)": (lambda rng, n: rng.uniform(0, 1000, n), True),
        "integers 0-999 descending": (lambda rng, n: rng.integers(0, 1000, n), False),
        "already sorted": (lambda rng, n: np.arange(n), True),
    }
    # Descending, the peers keep equal keys in source order where tessra reverses them; the
    # work is the same.
    for kind, (make_key, ascending) in sort_keys.items():
        df, pdf = _frames(1_000_000, 2, make_key)
        peers = _peers(pdf, lambda: pdf.sort_values("key", ascending=ascending, kind="stable"),
                       lambda d: d.sort("key", descending=not ascending, maintain_order=True),
                       f"SELECT * FROM t ORDER BY key {'ASC' if ascending else 'DESC'}")
        compare_peers(f"sort_values 1M x 5, {kind}", lambda: df.sort_values("key", ascending), peers)
