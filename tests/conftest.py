"""Helpers shared by the test modules: moving data in and out of CoreArray, oracles and exact
comparisons, small frames, and fresh interpreters."""

import ctypes
import ctypes.util
import json
import os
import re
import stat
import struct
import subprocess
import sys

import numpy as np
import pytest

import tessra
from tessra import CoreArray, DataFrame, DType, Series

# Where the imported package lives; child interpreters use the same one (a sanitizer build's,
# for one).
PACKAGE_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(tessra.__file__)))

# AddressSanitizer maps its own memory as it goes, so a limit on the address space stops it
# rather than the code under test.
skip_under_address_sanitizer = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""), reason="address-space limits stop ASan itself")


def f32(x):
    """The nearest single-precision value to x, as a Python float."""
    return struct.unpack("f", struct.pack("f", x))[0]


def run_python(code, env=None, timeout=120):
    """Runs code in a fresh interpreter (for once-per-process and environment behaviour), which
    can import these helpers too. An env value of None removes that variable."""
    full_env = dict(os.environ, PYTHONPATH=PACKAGE_ROOT + os.pathsep + os.path.dirname(__file__))
    for name, value in (env or {}).items():
        if value is None:
            full_env.pop(name, None)
        else:
            full_env[name] = value
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=full_env, timeout=timeout)


def child(code, env=None, stderr="", timeout=120):
    """What code, run as run_python runs it, prints; it must succeed with `stderr` as its whole
    standard error (None: anything)."""
    r = run_python(code, env, timeout)
    assert r.returncode == 0 and stderr in (None, r.stderr), r.stderr
    return r.stdout


def fake_sysctl(tmp_path, script):
    """A directory whose only program is a `sysctl` running `script` (sh)."""
    path = tmp_path / "sysctl"
    path.write_text("#!/bin/sh\n" + script)
    path.chmod(path.stat().st_mode | stat.S_IXUSR)
    return str(tmp_path)


def raises(exc, message):
    """pytest.raises for exactly this message."""
    return pytest.raises(exc, match="^" + re.escape(message) + "$")


# ---- float32 data in and out of CoreArray ---------------------------------------------------

F32 = np.float32

_libm = ctypes.CDLL(ctypes.util.find_library("m"))


def to_tessra(values, dtype=DType.Float32):
    """A CoreArray of `dtype` and of the values' own shape, written through its data pointer."""
    # DType objects are unhashable: index by their integer value.
    np_type = [np.float32, np.float64, np.int32, np.int64, np.bool_][int(dtype)]
    src = np.ascontiguousarray(values, dtype=np_type)
    out = CoreArray.zeros(list(src.shape), dtype)
    if src.nbytes:
        ctypes.memmove(out.data_ptr, src.ctypes.data, src.nbytes)
    return out


def to_numpy(array):
    assert array.dtype == array.dtype.Float32
    out = np.empty(array.shape, F32)
    if out.nbytes:
        ctypes.memmove(out.ctypes.data, array.data_ptr, out.nbytes)
    return out


def libm(name, *args):
    """The C library's single-precision `name` applied element by element."""
    fn = getattr(_libm, name)
    fn.restype = ctypes.c_float
    fn.argtypes = [ctypes.c_float] * len(args)
    arrays = np.broadcast_arrays(*[np.asarray(a, F32) for a in args])
    flat = [a.ravel() for a in arrays]
    out = np.array([fn(*(float(a[i]) for a in flat)) for i in range(flat[0].size)], F32)
    return out.reshape(arrays[0].shape)


def int_view(x):
    """I(x): truncation toward zero to int32, saturating, NaN giving 0."""
    x = np.asarray(x, np.float64)
    t = np.trunc(np.nan_to_num(x, nan=0.0, posinf=2.0**31, neginf=-(2.0**31)))
    return np.clip(t, -(2.0**31), 2.0**31 - 1).astype(np.int32)


def assert_same(got, expected):
    """Same shape, NaN in the same places, every other value bit for bit (zeros by sign)."""
    got = np.asarray(got, F32)
    expected = np.asarray(expected, F32)
    assert got.shape == expected.shape
    nan_got, nan_exp = np.isnan(got), np.isnan(expected)
    bad = (nan_got != nan_exp) | (~nan_exp & (got.view(np.int32) != expected.view(np.int32)))
    if bad.any():
        i = np.flatnonzero(bad.ravel())[:8]
        raise AssertionError(f"{bad.sum()} differ; at {i.tolist()}: got {got.ravel()[i].tolist()}"
                             f" expected {expected.ravel()[i].tolist()}")


def ulp_distance(a, b):
    """Distance in units in the last place between finite float32 values."""
    def ordered(x):
        i = np.asarray(x, F32).view(np.int32).astype(np.int64)
        return np.where(i < 0, -(i & 0x7FFFFFFF), i)
    return np.abs(ordered(a) - ordered(b))


_MAX = np.finfo(F32).max
_TINY = np.finfo(F32).tiny

# Values every function is tried on: signed zeros, infinities, NaN, subnormals, huge values,
# halfway cases, the edges of the 32-bit integer view and of exact float integers.
SPECIALS = np.array([
    0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 1.5, -1.5, 2.5, -2.5, 3.5, 2.0, -2.0, 3.0, -7.0, 7.0,
    0.1, -0.4, 0.7, -0.7, 5.7, -5.7, 1e-10, -1e-10, np.inf, -np.inf, np.nan, -np.nan,
    1e-45, -1e-45, 1e-40, -3e-39, _TINY, -_TINY, _MAX, -_MAX, 1e30, -1e30, 3e9, -3e9,
    2147483520.0, 2147483648.0, -2147483648.0, 16777216.0, 16777217.0, 8388607.5, -8388608.5,
    31.0, 32.0, 33.0, 1e-3, 88.7, -103.0, 3.1415927, 1.5707964,
], F32)


def random_values(n, seed=0):
    """float32 values over many magnitudes and both signs; a fifth of them whole numbers."""
    rng = np.random.default_rng(seed)
    v = rng.standard_normal(n) * 10.0 ** rng.uniform(-6, 6, n)
    whole = rng.random(n) < 0.2
    v[whole] = np.round(rng.uniform(-50, 50, whole.sum()))
    return v.astype(F32)


def f32_bits(*bits):
    """A Float32 CoreArray holding the given 32-bit patterns."""
    return to_tessra(np.array(bits, dtype=np.uint32).view(np.float32))


def bits_of(series):
    return np.array(series.data.to_list(), np.float32).view(np.uint32).tolist()


# ---- frames ---------------------------------------------------------------------------------

def frame(**columns):
    """A frame of columns given as Float32 lists, (values, DType) pairs or ready Series, inserted
    in keyword order."""
    df = DataFrame()
    for key, c in columns.items():
        if not isinstance(c, Series):
            c = Series(key, to_tessra(*c) if isinstance(c, tuple) else CoreArray(c, [len(c)]))
        df.insert(key, c)
    return df


def col(df, key):
    return df.get_column(key).data.to_list()


# ---- caller-owned buffers and the profiler's records ------------------------------------------

def ptr(array, index=0):
    """The address of element `index` of a numpy array."""
    return array.ctypes.data + index * array.itemsize


def recorded_operations():
    """{operation: (count, primary_backend)} of the stored profile records."""
    ops = json.loads(tessra.get_profile_report())["operations"]
    return {name: (o["count"], o["primary_backend"]) for name, o in ops.items()}


@pytest.fixture
def profiling():
    """Profiling on with no stored records; off and cleared afterwards."""
    tessra.clear_profile()
    tessra.enable_profiling()
    yield
    tessra.disable_profiling()
    tessra.clear_profile()
