import numpy as np
import pytest

import tessra
from conftest import F32, assert_same, ptr, raises, random_values, recorded_operations, run_python

NO_DEVICE = {"TESSRA_METAL_EMULATION": None}
EMULATED = {"TESSRA_METAL_EMULATION": "1"}


def _run(code, env):
    r = run_python("import json, numpy as np, tessra\n"
                   "p = lambda a: a.ctypes.data\n" + code, env)
    assert r.returncode == 0, r.stderr
    return r.stdout


@pytest.mark.parametrize("name, result", [("metal_sum_f32", 0.0), ("metal_mean_f32", "mean"),
                                          ("metal_max_f32", "max"), ("metal_min_f32", "min")])
def test_empty_reductions_record_nothing(name, result, profiling):
    buf = np.zeros(1, F32)
    if isinstance(result, float):
        assert getattr(tessra, name)(ptr(buf), 0) == result
    else:
        with raises(ValueError, f"Cannot compute {result} of empty array"):
            getattr(tessra, name)(ptr(buf), 0)
    assert recorded_operations() == {}


def test_without_a_device_every_kernel_call_fails_and_is_recorded():
    out = _run("""
a = np.arange(1, 5, dtype=np.float32); out = np.full(4, 9.0, np.float32)
calls = [(tessra.metal_add_f32, (p(a), p(a), p(out), 4)), (tessra.metal_sub_f32, (p(a), p(a), p(out), 4)),
         (tessra.metal_mul_f32, (p(a), p(a), p(out), 0)), (tessra.metal_div_f32, (p(a), p(a), p(out), 4)),
         (tessra.metal_sum_f32, (p(a), 4)), (tessra.metal_mean_f32, (p(a), 4)),
         (tessra.metal_max_f32, (p(a), 4)), (tessra.metal_min_f32, (p(a), 4)),
         (tessra.metal_matmul_f32, (p(a), p(a), p(out), 2, 2, 2))]
tessra.enable_profiling()
print(tessra.metal_is_available(), tessra.metal_is_available())
for fn, args in calls:
    try:
        fn(*args)
    except RuntimeError as e:
        print(e)
print(out.tolist())
ops = json.loads(tessra.get_profile_report())["operations"]
print(sorted((k, v["count"], v["primary_backend"]) for k, v in ops.items()))
""", NO_DEVICE)
    assert out.splitlines() == [
        "False False",
        *(f"Execution error: Metal {k} failed" for k in
          ("add_f32", "sub_f32", "mul_f32", "div_f32", "sum_f32", "sum_f32", "max_f32", "min_f32",
           "matmul_f32")),
        "[9.0, 9.0, 9.0, 9.0]",
        "[('add', 1, 'Metal'), ('div', 1, 'Metal'), ('matmul', 1, 'Metal'), ('max', 1, 'Metal'), "
        "('mean', 1, 'Metal'), ('min', 1, 'Metal'), ('mul', 1, 'Metal'), ('sub', 1, 'Metal'), "
        "('sum', 1, 'Metal')]"]


def test_the_software_device_runs_the_kernels():
    out = _run("""
a = np.array([1.5, -2.0, 0.0, 7.25, 3.0, -0.5], np.float32)
b = np.array([0.5, 4.0, 0.0, -1.0, 2.0, 8.0], np.float32)
print(tessra.metal_is_available())
for name, ufunc in (("add", np.add), ("sub", np.subtract), ("mul", np.multiply), ("div", np.divide)):
    out = np.zeros(6, np.float32)
    getattr(tessra, f"metal_{name}_f32")(p(a), p(b), p(out), 6)
    with np.errstate(all="ignore"):
        same = np.array_equal(out, ufunc(a, b), equal_nan=True)
    print(name, same)
untouched = np.full(2, 9.0, np.float32)
print(tessra.metal_add_f32(p(a), p(b), p(untouched), 0), untouched.tolist())
print(tessra.metal_sum_f32(p(a), 6), tessra.metal_mean_f32(p(a), 6),
      tessra.metal_max_f32(p(a), 6), tessra.metal_min_f32(p(a), 6))
m = np.arange(6, dtype=np.float32); c = np.zeros(4, np.float32)
tessra.metal_matmul_f32(p(m), p(m), p(c), 2, 3, 2)
print(c.tolist())
""", EMULATED)
    assert out.splitlines() == ["True", "add True", "sub True", "mul True", "div True",
                                "None [9.0, 9.0]", "9.25 1.5416666269302368 7.25 -2.0",
                                "[10.0, 13.0, 28.0, 40.0]"]


def test_transpose_runs_on_the_cpu(profiling):
    a = np.arange(1, 7, dtype=F32)
    out = np.zeros(6, F32)
    assert tessra.metal_transpose_f32(ptr(a), ptr(out), 2, 3) is None
    assert_same(out, [1, 4, 2, 5, 3, 6])
    x = random_values(35 * 17, 2)
    y = np.empty_like(x)
    tessra.metal_transpose_f32(ptr(x), ptr(y), 35, 17)
    assert_same(y.reshape(17, 35), x.reshape(35, 17).T)
    assert recorded_operations() == {"transpose": (2, "Metal")}


@pytest.mark.parametrize("m, n", [(0, 3), (3, 0), (0, 0)])
def test_transpose_of_an_empty_matrix_writes_nothing_and_is_recorded(m, n, profiling):
    out = np.full(4, 9.0, F32)
    tessra.metal_transpose_f32(ptr(out), ptr(out), m, n)
    assert (out == 9.0).all()
    assert recorded_operations() == {"transpose": (1, "Metal")}


def _broadcast(out_ptr=8, shape=(2, 2), strides_a=(4, 4), strides_b=(4, 4), op=0):
    # Unmapped addresses: a read or write would crash the test process.
    return tessra.metal_broadcast_op(op, 8, 8, out_ptr, list(shape), list(strides_a),
                                     list(strides_b), 4, 4, 4)


@pytest.mark.parametrize("kwargs, exc, message", [
    ({}, NotImplementedError, "Metal broadcast operation is not implemented"),
    ({"out_ptr": 0, "strides_a": [4]}, ValueError, "Null pointer passed to metal_broadcast_op"),
    ({"strides_a": [4]}, ValueError, "Strides rank mismatch in metal_broadcast_op"),
    ({"strides_b": [4, 4, 4]}, ValueError, "Strides rank mismatch in metal_broadcast_op"),
    ({"shape": [2**31]}, OverflowError, "out of range integral type conversion attempted"),
    ({"op": -2**31 - 1}, OverflowError, "out of range integral type conversion attempted"),
    ({"strides_b": [4, 2**70]}, OverflowError, "out of range integral type conversion attempted"),
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

