import json
import re

import pytest

import tessra
from conftest import run_python

T = tessra._tessra_rust

THREAD_VARS = ["OMP_NUM_THREADS", "MKL_NUM_THREADS", "MKL_DYNAMIC", "MKL_THREADING_LAYER",
               "BLIS_NUM_THREADS", "OPENBLAS_NUM_THREADS", "OPENBLAS_VERBOSE", "RAYON_NUM_THREADS"]
CLEAN = {name: None for name in THREAD_VARS + ["TESSRA_BACKEND", "TESSRA_METAL_EMULATION"]}

# No numpy before the checks of what import starts: numpy loads a BLAS of its own.
BARE = """
import ctypes, json, os
import tessra
from tessra import CoreArray
T = tessra._tessra_rust
_getenv = ctypes.CDLL(None).getenv
_getenv.restype = ctypes.c_char_p
def getenv(name):  # os.environ does not see variables the process sets later
    v = _getenv(name.encode())
    return v.decode(errors="replace") if v is not None else None
def threads():
    return sorted(open(f"/proc/self/task/{t}/comm").read().strip()
                  for t in os.listdir("/proc/self/task"))
def blas_loaded():
    return "/libopenblas.so" in open("/proc/self/maps").read()
"""
PRELUDE = BARE + """
import numpy as np
def product(m, k, n):
    rng = np.random.default_rng(m + k + n)
    a = rng.uniform(-1, 1, (m, k)).astype(np.float32)
    b = rng.uniform(-1, 1, (k, n)).astype(np.float32)
    c = CoreArray(a.ravel().tolist(), [m, k]).matmul(CoreArray(b.ravel().tolist(), [k, n]))
    c = np.array(c.to_list(), dtype=np.float64).reshape(m, n)
    ref = a.astype(np.float64) @ b.astype(np.float64)
    assert np.allclose(c, ref, rtol=1e-4, atol=1e-4 * k), (m, k, n)
    return T.explain_last_dispatch()
def mm_threads():
    return [t for t in threads() if t.startswith("tessra-mm-")]
"""


def run(code, env=None, prelude=PRELUDE):
    r = run_python(prelude + code, {**CLEAN, **(env or {})})
    assert r.returncode == 0, r.stderr
    return r


def explained(text):
    m = re.fullmatch(r"matmul → (.+) \(size=(\d+)x(\d+)x(\d+), policy=(\w+), (\d+)µs ago\)",
                     text)
    assert m, text
    return m.group(1), tuple(int(g) for g in m.group(2, 3, 4)), m.group(5)


# Bytes 1-8 are kept, other bytes mean Default; a value that is no byte changes nothing.
RANGE = "^out of range integral type conversion attempted$"


@pytest.mark.parametrize("value, stored", [
    (0, 0), (1, 1), (8, 8), (9, 0), (255, 0), (256, (OverflowError, RANGE)),
    (-1, (OverflowError, RANGE)), (2**70, (OverflowError, None)),
    (1.0, (TypeError, "argument 'policy'"))])
def test_policy_values(value, stored):
    T.set_backend_policy(6)
    try:
        if isinstance(stored, int):
            T.set_backend_policy(policy=value)
        else:
            with pytest.raises(stored[0], match=stored[1]):
                T.set_backend_policy(value)
            stored = 6
        assert T.get_backend_policy() == stored
    finally:
        T.set_backend_policy(0)


def test_every_policy_records_its_road():
    out = json.loads(run("""
out = [T.explain_last_dispatch(), product(64, 64, 64), product(5, 481, 109), product(64, 64, 64)]
for p in range(9):
    T.set_backend_policy(p)
    out.append(product(100, 200, 300))
print(json.dumps([T.get_math_backend_info()["backend"], out]))
""").stdout)
    detected, (before, small, edge, small_again, *by_policy) = out
    # 64*64*64 multiply-adds run on the own kernel and leave the record of a larger product.
    assert before == small == "Tessra NEON backend"
    assert explained(edge) == (detected, (5, 109, 481), "Default") == explained(small_again)
    roads = [(detected, "Default"), ("OpenBLAS", "Openblas"), ("OpenBLAS", "Blas"),
             (detected, "Cuda"), (detected, "Metal"), ("MKL", "Mkl"), ("AOCL", "Aocl"),
             (detected, "Accelerate"), ("RustParallel", "RustParallel")]
    assert [explained(t) for t in by_policy] == [(b, (100, 300, 200), p) for b, p in roads]


def test_pool_threads_are_named_and_sized_by_the_first_split_product():
    r = run("""
T.set_backend_policy(8)
product(100, 100, 100)   # one thread: the calling thread's product, no pool
product(31, 512, 512)    # fewer than 32 rows: not split
before = mm_threads()
product(33, 512, 64)     # half the cores: jobs of 32 and 1 rows
first = mm_threads()
text = product(64, 2048, 64)  # all the cores, on the pool as it is
print(json.dumps([before, first, mm_threads(), text, getenv("RAYON_NUM_THREADS"),
                  T.get_math_backend_info()["physical_cores"]]))
""")
    before, first, later, text, rayon, cores = json.loads(r.stdout)
    half = max(cores // 2, 1)
    names = lambda n: [f"tessra-mm-{i}" for i in range(n)] if n > 1 else []
    assert before == [] and first == names(half)
    assert later == (first or names(cores))
    assert explained(text) == ("RustParallel", (64, 64, 2048), "RustParallel")
    assert rayon == "1"  # the first product's count decides the variable


def test_import_and_small_products_start_and_set_nothing():
    r = run("""
seen = [threads(), blas_loaded()]
a = CoreArray.ones([64, 64])
a.matmul(a)
print(json.dumps(seen + [len(threads()), blas_loaded(), [v for v in %r if getenv(v)]]))
""" % THREAD_VARS, prelude=BARE)
    names, *rest = json.loads(r.stdout)
    assert (len(names), rest, r.stderr) == (1, [False, 1, False, []], "")


def test_exported_variables_and_presets():
    # Each group is set by its library's first product; a set variable stays, one that is not
    # valid UTF-8 counts as unset.
    r = run("""
T.set_backend_policy(1)
product(300, 300, 300)
T.set_backend_policy(5)
product(600, 600, 600)
T.set_backend_policy(6)
product(600, 600, 600)
T.set_backend_policy(1)
product(1100, 40, 40)   # a later, larger count changes nothing already set
print(json.dumps({v: getenv(v) for v in %r}))
""" % THREAD_VARS, {"MKL_DYNAMIC": "TRUE", "BLIS_NUM_THREADS": "\udcff"})
    env = json.loads(r.stdout)
    assert env["OPENBLAS_NUM_THREADS"] == env["OMP_NUM_THREADS"] == "1"
    assert env["OPENBLAS_VERBOSE"] == "0" and env["RAYON_NUM_THREADS"] is None
    assert env["MKL_DYNAMIC"] == "TRUE" and env["MKL_THREADING_LAYER"] == "INTEL"
    assert env["MKL_NUM_THREADS"].isdigit() and env["BLIS_NUM_THREADS"].isdigit()


@pytest.mark.parametrize("override,backend", [("apple", "Accelerate"), ("rust", "RustParallel"),
                                              ("mkl", "MKL"), ("blis", "AOCL")])
def test_default_policy_follows_the_detected_library(override, backend):
    r = run("""
print(json.dumps([product(512, 512, 512), mm_threads()]))
""", {"TESSRA_BACKEND": override})
    text, pool = json.loads(r.stdout)
    assert explained(text) == (backend, (512, 512, 512), "Default")
    if backend != "RustParallel":  # the CBLAS road never starts the matmul pool
        assert pool == []
