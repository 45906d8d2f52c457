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
import ctypes, json, os, re
import tessra
from tessra import CoreArray
T = tessra._tessra_rust
_getenv = ctypes.CDLL(None).getenv
_getenv.restype = ctypes.c_char_p
def getenv(name):  # os.environ does not see variables the process sets later
    v = _getenv(name.encode())
    return v.decode() if v is not None else None
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
def mm_threads():
    return [t for t in threads() if t.startswith("tessra-mm-")]
"""


def run(code, env=None, prelude=PRELUDE):
    r = run_python(prelude + code, {**CLEAN, **(env or {})})
    assert r.returncode == 0, r.stderr
    return r


def explained(text):
    m = re.fullmatch(r"matmul → (.+) \(size=(\d+)x(\d+)x(\d+), policy=(\w+), (\d+)µs ago\)", text)
    assert m, text
    return m.group(1), tuple(int(g) for g in m.group(2, 3, 4)), m.group(5)


# ---- policy --------------------------------------------------------------------------------

@pytest.fixture
def restore_policy():
    yield
    T.set_backend_policy(0)


@pytest.mark.parametrize("value,stored", [(0, 0), (1, 1), (4, 4), (8, 8), (9, 0), (255, 0)])
def test_policy_values(restore_policy, value, stored):
    T.set_backend_policy(value)
    assert T.get_backend_policy() == stored


@pytest.mark.parametrize("value", [256, -1, 2 ** 70])
def test_policy_out_of_range_keeps_previous(restore_policy, value):
    T.set_backend_policy(6)
    with pytest.raises(OverflowError):
        T.set_backend_policy(value)
    assert T.get_backend_policy() == 6


def test_policy_range_message(restore_policy):
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        T.set_backend_policy(300)


def test_policy_must_be_an_integer(restore_policy):
    with pytest.raises(TypeError, match="argument 'policy'"):
        T.set_backend_policy(1.0)
    T.set_backend_policy(policy=2)
    assert T.get_backend_policy() == 2


# ---- the last-dispatch record ---------------------------------------------------------------

def test_small_kernel_limit_and_record():
    r = run("""
out = [T.explain_last_dispatch()]
product(64, 64, 64)          # 262,144 multiply-adds: the own kernel
out.append(T.explain_last_dispatch())
product(5, 481, 109)         # 262,145: the policy road
out.append(T.explain_last_dispatch())
product(64, 64, 64)
out.append(T.explain_last_dispatch())
T.set_backend_policy(2)
product(100, 200, 300)
out.append(T.explain_last_dispatch())
print(json.dumps(out))
""")
    out = json.loads(r.stdout)
    assert out[0] == out[1] == "Tessra NEON backend"
    name, size, policy = explained(out[2])
    assert (size, policy) == ((5, 109, 481), "Default")
    assert explained(out[3]) == (name, size, policy)
    assert explained(out[4]) == ("OpenBLAS", (100, 300, 200), "Blas")


def test_every_policy_records_its_road():
    r = run("""
detected = T.get_math_backend_info()["backend"]
out = {"detected": detected}
for p in range(9):
    T.set_backend_policy(p)
    product(100, 100, 100)
    out[p] = T.explain_last_dispatch()
print(json.dumps(out))
""")
    out = json.loads(r.stdout)
    detected = out.pop("detected")
    expect = {"0": (detected, "Default"), "1": ("OpenBLAS", "Openblas"), "2": ("OpenBLAS", "Blas"),
              "3": (detected, "Cuda"), "4": (detected, "Metal"), "5": ("MKL", "Mkl"),
              "6": ("AOCL", "Aocl"), "7": (detected, "Accelerate"),
              "8": ("RustParallel", "RustParallel")}
    for p, (backend, policy) in expect.items():
        name, size, got_policy = explained(out[p])
        assert (name, size, got_policy) == (backend, (100, 100, 100), policy), p


# ---- the matmul pool ------------------------------------------------------------------------

def test_pool_threads_are_named_and_sized_by_the_first_product():
    r = run("""
T.set_backend_policy(8)
product(100, 100, 100)   # t = 1: one product on the calling thread, no pool
product(31, 512, 512)    # t = 4 but fewer than 32 rows: not split
before = mm_threads()
product(33, 512, 64)     # t = 4: jobs of 32 and 1 rows
first = mm_threads()
product(64, 2048, 64)    # t = 8: cut by 8, run on the pool of 4
print(json.dumps([before, first, mm_threads(), T.explain_last_dispatch(), getenv("RAYON_NUM_THREADS")]))
""", {"RAYON_NUM_THREADS": None})
    before, first, later, text, rayon = json.loads(r.stdout)
    assert before == []
    assert first == later == [f"tessra-mm-{i}" for i in range(4)]
    assert explained(text) == ("RustParallel", (64, 64, 2048), "RustParallel")
    assert rayon == "1"  # the first product's count decides the variable


# ---- environment ----------------------------------------------------------------------------

def test_import_starts_nothing():
    r = run("""
print(json.dumps([threads(), {v: getenv(v) for v in %r}, blas_loaded()]))
""" % THREAD_VARS, prelude=BARE)
    names, env, loaded = json.loads(r.stdout)
    assert len(names) == 1
    assert all(v is None for v in env.values())
    assert not loaded
    assert r.stderr == ""


def test_small_products_touch_no_library_or_variable():
    r = run("""
a = CoreArray.ones([64, 64])
a.matmul(a)
print(json.dumps([len(threads()), blas_loaded(), [v for v in %r if getenv(v)]]))
""" % THREAD_VARS, prelude=BARE)
    assert json.loads(r.stdout) == [1, False, []]
    assert r.stderr == ""


def test_exported_variables_and_presets():
    r = run("""
T.set_backend_policy(1)
product(300, 300, 300)
T.set_backend_policy(5)
product(600, 600, 600)
T.set_backend_policy(1)
product(1100, 40, 40)   # a later, larger count changes nothing already set
print(json.dumps({v: getenv(v) for v in %r}))
""" % THREAD_VARS, {"OMP_NUM_THREADS": "2"})
    env = json.loads(r.stdout)
    assert env["OMP_NUM_THREADS"] == "2"
    assert env["OPENBLAS_NUM_THREADS"] == "1" and env["OPENBLAS_VERBOSE"] == "0"
    assert env["MKL_DYNAMIC"] == "FALSE" and env["MKL_THREADING_LAYER"] == "INTEL"
    assert env["MKL_NUM_THREADS"].isdigit()
    assert env["BLIS_NUM_THREADS"] is None and env["RAYON_NUM_THREADS"] is None


@pytest.mark.parametrize("override,backend", [("apple", "Accelerate"), ("rust", "RustParallel"),
                                              ("mkl", "MKL"), ("blis", "AOCL")])
def test_default_policy_follows_the_detected_library(override, backend):
    r = run("""
product(512, 512, 512)
print(json.dumps([T.explain_last_dispatch(), mm_threads()]))
""", {"TESSRA_BACKEND": override})
    text, pool = json.loads(r.stdout)
    assert explained(text) == (backend, (512, 512, 512), "Default")
    if backend != "RustParallel":  # the CBLAS road never starts the matmul pool
        assert pool == []
