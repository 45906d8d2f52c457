import json
import os

import pytest

from conftest import child, fake_sysctl, run_python

CLEAN = {"TESSRA_BACKEND": None, "TESSRA_METAL_EMULATION": None, "ROCM_PATH": None,
         "OPENBLAS_PATH": None, "AOCL_ROOT": None}
# The processors the system is configured with, as the C library counts them.
CONFIGURED = os.sysconf("SC_NPROCESSORS_CONF")
DEFAULT_CACHES = [32768, 524288, 16777216]


def capabilities(env=None):
    code = ("import json, tessra\nT = tessra._tessra_rust\n"
            "print(json.dumps([T.get_system_capabilities(), T.get_capabilities_summary()]))")
    return json.loads(child(code, {**CLEAN, **(env or {})}))


# ---- SystemCapabilities ---------------------------------------------------------------------

def test_dict_layout_and_summary_without_gpu():
    caps, summary = capabilities()
    cpu, gpu = caps["cpu"], caps["gpu"]
    assert list(caps) == ["cpu", "gpu"]
    assert list(cpu) == ["arch", "cores", "physical_cores", "has_avx2", "has_avx512", "has_fma",
                         "has_neon", "l1_cache", "l2_cache", "l3_cache", "best_simd"]
    assert gpu == {"metal_available": False, "cuda_available": False, "rocm_available": False}
    assert cpu["cores"] == CONFIGURED and 1 <= cpu["physical_cores"] <= cpu["cores"]
    expect_simd = ("AVX-512" if cpu["has_avx512"] else "AVX2+FMA" if cpu["has_avx2"] and cpu["has_fma"]
                   else "NEON" if cpu["has_neon"] else "Scalar")
    assert cpu["best_simd"] == expect_simd
    assert summary == (f"CPU: {cpu['arch']} ({cpu['cores']} cores, {cpu['l2_cache']} L2 Cache, "
                       f"SIMD: {expect_simd}), GPU: None")


@pytest.mark.parametrize("script,caches", [
    # surrounding blanks and a failure status: the number is still used
    ('case "$2" in hw.l1dcachesize) echo " 65536 ";; hw.l2cachesize) printf "4194304\\n";;'
     ' *) echo "+33554432";; esac\nexit 3\n', [65536, 4194304, 33554432]),
    ('echo "64 KB"\n', DEFAULT_CACHES),
    ('echo "sysctl: unknown oid" >&2\nexit 255\n', DEFAULT_CACHES),
    ('echo 18446744073709551616\n', DEFAULT_CACHES),
    (None, DEFAULT_CACHES),  # no sysctl on the path
])
def test_cache_sizes_from_sysctl(tmp_path, script, caches):
    path = fake_sysctl(tmp_path, script) if script else str(tmp_path)
    caps, summary = capabilities({"PATH": path})
    cpu = caps["cpu"]
    assert [cpu["l1_cache"], cpu["l2_cache"], cpu["l3_cache"]] == caches
    assert f"{caches[1]} L2 Cache" in summary


@pytest.mark.parametrize("env, gpu, best", [
    ({"ROCM_PATH": ""}, {"rocm_available": True, "best_gpu": "ROCm"}, "ROCm"),  # empty counts
    ({"TESSRA_METAL_EMULATION": "1"}, {"metal_available": True, "best_gpu": "Metal"}, "Metal"),
    ({"TESSRA_METAL_EMULATION": "0"}, {}, "None"),
    ({"TESSRA_METAL_EMULATION": "true"}, {}, "None"),
])
def test_gpu_from_the_environment(env, gpu, best):
    caps, summary = capabilities(env)
    assert caps["gpu"] == {"metal_available": False, "cuda_available": False, "rocm_available": False,
                           **gpu}
    assert summary.endswith(f"GPU: {best}")


# ---- math-library discovery ---------------------------------------------------------------

def discovery(env=None):
    code = ("import json, tessra\nT = tessra._tessra_rust\nfirst = T.get_math_backend_info()\n"
            "T.get_math_backend_info()\nprint(json.dumps(first))")
    r = run_python(code, {**CLEAN, **(env or {})})
    assert r.returncode == 0, r.stderr
    return json.loads(r.stdout), r.stderr.splitlines()


# The search order and every spelling are checked in the C++ discovery tests against a made-up
# machine; here only that the variables and the real machine reach them.
@pytest.mark.parametrize("value,backend", [("  OpenBLAS \t", "OpenBLAS"), ("pure-rust", "RustParallel")])
def test_override_spellings(value, backend):
    info, lines = discovery({"TESSRA_BACKEND": value})
    assert info["backend"] == backend
    assert lines == [f"[tessra] TESSRA_BACKEND override → {backend}"]


def test_info_keys_and_values():
    info, _ = discovery({"TESSRA_BACKEND": "accelerate"})
    assert list(info) == ["backend", "vendor", "threads", "hyperthreading", "brand",
                          "physical_cores", "logical_cores"]
    assert info["threads"] == 1  # Accelerate runs every size on one thread
    assert info["logical_cores"] == CONFIGURED
    assert info["hyperthreading"] == (info["logical_cores"] > info["physical_cores"])


@pytest.mark.parametrize("override", [None, "", "cuda"])
def test_auto_detection_after_no_or_unknown_override(tmp_path, override):
    blas = tmp_path / "libopenblas.so"
    blas.write_bytes(b"")
    info, lines = discovery({"TESSRA_BACKEND": override, "OPENBLAS_PATH": str(blas), "MKLROOT": None,
                             "LD_LIBRARY_PATH": None, "VIRTUAL_ENV": None, "CONDA_PREFIX": None})
    vendor = info["vendor"]
    if vendor == "Apple Silicon":
        pytest.skip("Accelerate machine")
    expect = [f"[tessra] CPU vendor detected: {vendor}"]
    if vendor == "AMD":
        expect += ["[tessra] AMD CPU detected but AOCL not found — install from:", None,
                   "[tessra] Falling back to OpenBLAS for now."]
    elif vendor == "Intel":
        expect += ["[tessra] Intel CPU detected but MKL not found — install with:",
                   "         pip install mkl  OR  apt install intel-mkl",
                   "[tessra] Falling back to OpenBLAS for now."]
    expect += [f"[tessra] OpenBLAS found at {blas} → using OpenBLAS"]
    if override is not None:
        expect.insert(0, f"[tessra] Unknown TESSRA_BACKEND='{override}'; using auto-detection.")
    assert len(lines) == len(expect) and info["backend"] == "OpenBLAS"
    for got, want in zip(lines, expect):  # None: the hint line, nine blanks and a web address
        assert got == want or (want is None and got.startswith("         http")), got


# ---- Metal selection --------------------------------------------------------------------

METAL = """
import json, numpy as np, tessra
from tessra import CoreArray
T = tessra._tessra_rust
def product(m, k, n):
    rng = np.random.default_rng(m * k + n)
    a = rng.uniform(-1, 1, (m, k)).astype(np.float32)
    b = rng.uniform(-1, 1, (k, n)).astype(np.float32)
    c = CoreArray(a.ravel().tolist(), [m, k]).matmul(CoreArray(b.ravel().tolist(), [k, n]))
    # The GPU kernel's order: one rounded multiply and one rounded add per step, in order.
    ref = np.zeros((m, n), dtype=np.float32)
    for p in range(k):
        ref = ref + np.outer(a[:, p], b[p, :])
    got = np.array(c.to_list(), dtype=np.float32).reshape(m, n)
    return bool(np.array_equal(got.view(np.uint32), ref.view(np.uint32)))
out = []
for policy, shape in [(0, (500, 400, 250)), (0, (500, 400, 251)), (4, (100, 100, 100)),
                      (4, (2, 3, 2)), (7, (500, 400, 251))]:
    T.set_backend_policy(policy)
    before = T.explain_last_dispatch()
    exact = product(*shape)
    out.append([T.explain_last_dispatch() != before, exact])
print(json.dumps(out))
"""


@pytest.mark.parametrize("emulation", ["1", None])
def test_metal_takes_products_above_a_hundred_million_flops(emulation):
    out = json.loads(child(METAL, {**CLEAN, "TESSRA_METAL_EMULATION": emulation}, stderr=None))
    recorded = [o[0] for o in out]
    if emulation:
        # exactly 1e8 flops stays on the CPU; above it, and anything under policy 4, runs on
        # Metal, which leaves the CPU record alone and sums in the kernel's order
        assert recorded == [True, False, False, False, True]
        assert [o[1] for o in out[1:4]] == [True, True, True]
    else:
        assert recorded == [True, True, True, False, True]
