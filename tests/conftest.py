import ctypes
import os
import re
import struct
import subprocess
import sys

import numpy as np
import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def f32(x):
    """The nearest single-precision value to x, as a Python float."""
    return struct.unpack("f", struct.pack("f", x))[0]


def run_python(code, env=None):
    """Runs code in a fresh interpreter (for once-per-process and environment behaviour)."""
    full_env = dict(os.environ)
    full_env["PYTHONPATH"] = os.path.join(ROOT, "python")
    full_env.update(env or {})
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=full_env, timeout=120)


# ---- tables -------------------------------------------------------------------------------

_NUMPY_TYPES = ("float32", "float64", "int32", "int64", "bool")  # by DType code


def typed_array(values, dtype=None):
    """A 1-d CoreArray of `dtype` (Float32 by default) holding `values` bit for bit."""
    from tessra import CoreArray, DType
    dtype = DType.Float32 if dtype is None else dtype
    src = np.ascontiguousarray(values, dtype=_NUMPY_TYPES[int(dtype)])
    a = CoreArray.zeros([src.size], dtype)
    if src.nbytes:
        ctypes.memmove(a.data_ptr, src.ctypes.data, src.nbytes)
    return a


def table(**columns):
    """A frame of columns given as values (Float32), (values, DType) pairs or Series, inserted
    in keyword order."""
    from tessra import DataFrame, Series
    df = DataFrame()
    for key, c in columns.items():
        if not isinstance(c, Series):
            c = Series(key, typed_array(*c) if isinstance(c, tuple) else typed_array(c))
        df.insert(key, c)
    return df


def values_of(df, key):
    """A column's values as a float32 numpy array."""
    return np.array(df.get_column(key).data.to_list(), dtype=np.float32)


def bits_of_column(df, key):
    return values_of(df, key).view("uint32").tolist()


def raises_exactly(exc, message):
    return pytest.raises(exc, match="^" + re.escape(message) + "$")
