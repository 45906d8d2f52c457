import json

import pytest

import tessra
from conftest import child, fake_sysctl

T = tessra._tessra_rust

# L2 of 1000 bytes and L3 of 10000 bytes, so small sizes reach both cache branches.
CACHES = 'case "$2" in hw.l2cachesize) echo 1000;; hw.l3cachesize) echo 10000;; *) exit 1;; esac\n'
F24 = 1 << 24

# (flops, memory_bytes, answer): "big" is MKL with AVX-512 else Faer, "default" the SIMD fallback.
RECOMMEND = [
    (100_000_000, 1, "big"),  # not above a hundred million: no GPU even when one exists
    (100_000, 200_000, "big"),  # r = 0.5 is not below one half
    (99_999, 1, "default"),  # r >= 0.5 but too few operations
    (0, 0, "default"),  # M = 1
    (1, 999, "default"),  # below L2
    (1, 1000, "Faer"),  # at L2
    (1, 9999, "Faer"),
    (1, 10000, "OpenBLAS"),  # at L3
    # the ratio is taken in single precision: both round to exactly one half
    (F24 + 3, 2 * F24 + 7, "big"),
]


@pytest.mark.parametrize("emulation", [None, "1"])
def test_recommend_backend(tmp_path, emulation):
    cases = RECOMMEND + [(100_000_001, 1, "Metal" if emulation else "big")]
    code = ("import json, tessra\nT = tessra._tessra_rust\nprint(json.dumps([T.get_system_capabilities()"
            f"['cpu'], [T.recommend_backend(f, m, False) for f, m, _ in {cases!r}]]))")
    cpu, got = json.loads(child(code, {"PATH": fake_sysctl(tmp_path, CACHES),
                                       "TESSRA_METAL_EMULATION": emulation}))
    assert (cpu["l2_cache"], cpu["l3_cache"]) == (1000, 10000)
    simd = ("CustomAVX2" if cpu["has_avx2"] or cpu["has_avx512"]
            else "CustomNeon" if cpu["has_neon"] else "GenericCPU")
    named = {"big": "MKL" if cpu["has_avx512"] else "Faer", "default": simd}
    assert got == [named.get(answer, answer) for _, _, answer in cases]


def cpuinfo():
    """Vendor and AVX flags as the kernel reports them."""
    try:
        lines = open("/proc/cpuinfo").read().splitlines()
    except OSError:
        pytest.skip("no /proc/cpuinfo")
    fields = {k.strip(): v.strip() for k, _, v in (line.partition(":") for line in lines)}
    if "vendor_id" not in fields:
        pytest.skip("not an x86 processor")
    vendor = {"GenuineIntel": "Intel", "AuthenticAMD": "Amd"}.get(fields["vendor_id"], "Unknown")
    flags = fields.get("flags", "").split()
    return vendor, "avx2" in flags, "avx512f" in flags


ANALYSE = """
import json, os, tessra
T = tessra._tessra_rust
out = [T.analyse_workload(64, 64, 1024), T.analyse_workload(2048, 64, 1024),
       T.analyse_workload(matrix_size=1024, small_threshold=64, gpu_threshold=1024)]
# a fresh device every call: switching emulation on afterwards is seen at once
os.environ["TESSRA_METAL_EMULATION"] = "1"
out.append(T.analyse_workload(2048, 64, 1024))
print(json.dumps(out))
"""


def text(vendor, avx2, avx512, gpu, n, tier, reason, perf_class):
    yes = {True: "Yes", False: "No"}
    return (f"Hardware Summary:\nCPU: {vendor}\nAVX2: {yes[avx2]}\nAVX512: {yes[avx512]}\n"
            f"GPU: {'Available (Tessra Software GPU)' if gpu else 'None (N/A)'}\n\n"
            f"Workload: {n}x{n} matmul\n\nDecision:\n\u2192 {tier} selected\nReason: {reason}\n"
            f"Expected Performance Class: {perf_class}\n"
            "Fallback Chain: Cuda/Metal \u2192 MKL \u2192 OpenBLAS \u2192 Faer \u2192 SIMD \u2192 Naive")


@pytest.mark.parametrize("emulation", [None, "1"])
def test_analyse_workload_text(emulation):
    hw = cpuinfo()
    small, big, middle, switched = json.loads(child(ANALYSE, {"TESSRA_METAL_EMULATION": emulation}))
    assert small == text(*hw, emulation, 64, "Simd",
                         "Small matrix (64 <= 64) with SIMD features available", "Medium (Small Kernel)")
    metal = ("Metal", "GPU available + large matrix (2048 > 1024)", "HPC")
    faer = ("Faer", "Pure Rust fallback (default safe)", "Medium")
    assert big == text(*hw, emulation, 2048, *(metal if emulation else faer))
    assert middle == text(*hw, emulation, 1024, *faer)  # 1024 is not above 1024
    assert switched == text(*hw, True, 2048, *metal)


def test_largest_sizes():
    top = (1 << 64) - 1
    assert T.recommend_backend(top, top, True) in {"CUDA", "Metal", "MKL", "Faer"}
    assert f"Workload: {top}x{top} matmul" in T.analyse_workload(top, top, top)
