import numpy as np
import pytest

import tessra
from conftest import assert_same, child, ptr, raises, random_values, recorded_operations

PRELUDE = "import json, numpy as np, tessra\np = lambda a: a.ctypes.data\n"


def test_without_a_device_every_kernel_call_fails_and_is_recorded():
    out = child(PRELUDE + """
a = np.arange(1, 5, dtype=np.float32); out = np.full(4, 9.0, np.float32)
tessra.enable_profiling()
print(tessra.metal_is_available(), tessra.metal_is_available())
calls = [(k, (p(a), p(a), p(out), n)) for k, n in (("add", 4), ("sub", 4), ("mul", 0), ("div", 4))]
calls += [(k, (p(a), 4)) for k in ("sum", "mean", "max", "min")]
for name, args in calls + [("matmul", (p(a), p(a), p(out), 2, 2, 2))]:
    try:
        getattr(tessra, f"metal_{name}_f32")(*args)
    except RuntimeError as e:
        print(e)
print(out.tolist())
ops = json.loads(tessra.get_profile_report())["operations"]
print(sorted((k, v["count"], v["primary_backend"]) for k, v in ops.items()))
""", {"TESSRA_METAL_EMULATION": None})
    assert out.splitlines() == [
        "False False",
        *(f"Execution error: Metal {k}_f32 failed" for k in
          ("add", "sub", "mul", "div", "sum", "sum", "max", "min", "matmul")),
        "[9.0, 9.0, 9.0, 9.0]",
        str(sorted((k, 1, "Metal") for k in
                   ("add", "sub", "mul", "div", "sum", "mean", "max", "min", "matmul")))]


def test_the_software_device_runs_the_kernels():
    out = child(PRELUDE + """
a = np.array([1.5, -2.0, 0.0, 7.25, 3.0, -0.5], np.float32)
b = np.array([0.5, 4.0, 0.0, -1.0, 2.0, 8.0], np.float32)
print(tessra.metal_is_available())
for name, ufunc in (("add", np.add), ("sub", np.subtract), ("mul", np.multiply),
                    ("div", np.divide)):
    out = np.zeros(6, np.float32)
    getattr(tessra, f"metal_{name}_f32")(p(a), p(b), p(out), 6)
    with np.errstate(all="ignore"):
        same = np.array_equal(out, ufunc(a, b), equal_nan=True)
    print(name, same)
untouched = np.full(2, 9.0, np.float32)
print(tessra.metal_add_f32(p(a), p(b), p(untouched), 0), untouched.tolist())
print(tessra.metal_sum_f32(p(a), 6), tessra.metal_mean_f32(p(a), 6),
      tessra.metal_max_f32(p(a), 6), tessra.metal_min_f32(p(a), 6))
# A NaN is kept only where it comes first.
nans = [np.array(v, np.float32) for v in ([np.nan, 1, 2], [1, np.nan, 2], [1, np.nan, -2])]
print(tessra.metal_max_f32(p(nans[0]), 3), tessra.metal_max_f32(p(nans[1]), 3),
      tessra.metal_min_f32(p(nans[2]), 3))
m = np.arange(6, dtype=np.float32); c = np.zeros(15, np.float32)
tessra.metal_matmul_f32(p(m), p(np.arange(10, dtype=np.float32)), p(c), 3, 2, 5)
print(c.tolist())
# The raw-address add may run on the device; it is recorded under the CPU all the same.
tessra.set_backend_policy(4)
tessra.enable_profiling()
tessra.array_add_f32(p(a), p(b), p(untouched), 2)
ops = json.loads(tessra.get_profile_report())["operations"]
print(untouched.tolist(), ops["add"]["primary_backend"], ops["add"]["count"])
""", {"TESSRA_METAL_EMULATION": "1"})
    assert out.splitlines() == [
        "True", "add True", "sub True", "mul True", "div True", "None [9.0, 9.0]",
        "9.25 1.5416666269302368 7.25 -2.0", "nan 2.0 -2.0",
        str([5.0, 6.0, 7.0, 8.0, 9.0, 15.0, 20.0, 25.0, 30.0, 35.0, 25.0, 34.0, 43.0, 52.0, 61.0]),
        "[2.0, 2.0] CPU 1"]


@pytest.mark.parametrize("m, n", [(2, 3), (35, 17), (0, 3), (3, 0)])
def test_transpose_runs_on_the_cpu(m, n, profiling):
    x = random_values(m * n + 1, 2)
    y = np.full_like(x, 9.0)
    assert tessra.metal_transpose_f32(ptr(x), ptr(y), m, n) is None
    assert_same(y[:-1].reshape(n, m), x[:-1].reshape(m, n).T)
    assert y[-1] == 9.0
    assert recorded_operations() == {"transpose": (1, "Metal")}


def _broadcast(out_ptr=8, shape=(2, 2), strides_a=(4, 4), strides_b=(4, 4), op=0):
    # Unmapped addresses: a read or write would crash the test process.
    return tessra.metal_broadcast_op(op, 8, 8, out_ptr, list(shape), list(strides_a),
                                     list(strides_b), 4, 4, 4)


RANGE = "out of range integral type conversion attempted"


@pytest.mark.parametrize("kwargs, exc, message", [
    ({}, NotImplementedError, "Metal broadcast operation is not implemented"),
    ({"out_ptr": 0, "strides_a": [4]}, ValueError, "Null pointer passed to metal_broadcast_op"),
    ({"strides_a": [4]}, ValueError, "Strides rank mismatch in metal_broadcast_op"),
    ({"strides_b": [4, 4, 4]}, ValueError, "Strides rank mismatch in metal_broadcast_op"),
    ({"shape": [2**31]}, OverflowError, RANGE), ({"op": -2**31 - 1}, OverflowError, RANGE),
    ({"strides_b": [4, 2**70]}, OverflowError, RANGE),
])
def test_broadcast_op_checks_and_touches_nothing(kwargs, exc, message, profiling):
    with raises(exc, message):
        _broadcast(**kwargs)
    assert recorded_operations() == {}


def test_cuda_is_absent(profiling):
    assert tessra.cuda_is_available() is False
    with raises(RuntimeError, "CUDA is not enabled in this build"):
        tessra.cuda_add_f32(1, 2, 3, 4)
    with pytest.raises(OverflowError):
        tessra.cuda_add_f32(1, 2, 3, -4)
    with pytest.raises(TypeError, match="argument 'count'"):
        tessra.cuda_add_f32(1, 2, 3, "4")
    assert recorded_operations() == {}
