# Every public function, method, property and special method, fed wrong and extreme arguments in
# child processes: no signal, no hang and no PanicException beyond the one allocation-limit
# invariant. New functions and methods are swept as soon as they exist; a parameter's filler (the
# good value used while another parameter gets the bad one) is chosen by its name. The functions
# on caller-owned memory also get sizes no buffer can have, with and without the software Metal
# device, and must refuse them with the expected error.
#
# Run as a script, this file is the child: `python test_sweep.py GROUP START END` makes the calls
# START..END of GROUP, printing each call's number before it runs and each panic (or unexpected
# outcome) after.

import collections.abc
import concurrent.futures
import ctypes
import inspect
import operator
import os
import subprocess
import sys
import tempfile

import pytest

import tessra
from tessra import _tessra_rust as native
from tessra import CoreArray, DataFrame, DType, RngAlgorithm, Series

from conftest import PACKAGE_ROOT

# Panics that ordinary input may reach: the byte limit of one allocation, for sizes past it.
ALLOWED_PANICS = {"Invalid layout for aligned allocation": ("=2**62)", "=2**63)")}

CALL_TIMEOUT = 20  # seconds a child may spend on one call before it counts as a hang
CALLS_PER_CHILD = 1000

NAN = float("nan")
CSV_PATH = os.path.join(tempfile.gettempdir(), "tessra_sweep_%d.csv" % os.getuid())


# ---- values ------------------------------------------------------------------------------

class RaisingFloat:
    def __float__(self):
        raise ValueError("no float")

    __index__ = __float__


class RaisingLen(collections.abc.Sequence):
    def __len__(self):
        raise ValueError("no len")

    def __getitem__(self, i):
        if i >= 2:
            raise IndexError(i)
        return 1.0


class RaisingIter(RaisingLen):
    __len__ = lambda self: 2

    def __iter__(self):
        raise ValueError("no iter")


class LyingLen(RaisingLen):
    # Says it holds far more (or fewer) items than it yields.
    def __init__(self, claimed):
        self.claimed = claimed

    __len__ = lambda self: self.claimed
    __getitem__ = lambda self, i: [1.0, 2.0, 3.0][i]
    __iter__ = lambda self: iter([1.0, 2.0, 3.0])


class FloatSub(float):
    pass


class ClearingItem:
    # Empties the list that holds it (its only owner) while it converts; the float subclass it
    # returns makes the interpreter look at the item again afterwards.
    def __init__(self, holder):
        self.holder = holder

    def __float__(self):
        self.holder.clear()
        return FloatSub(1.0)

    def __index__(self):
        self.holder.clear()
        return 1


def clearing_list():
    holder = []
    holder.extend(ClearingItem(holder) for _ in range(4))
    return holder


# Plain values, as the text that makes a fresh one for each call.
PLAIN = ["None", "True", "0", "-1", "2**62", "2**63", "2**64", "-2**63-1", "10**30", "NAN",
         "float('inf')", "float('-inf')", "-0.0", "1.5", "''", "'a\\0b'", "'\\udc80'", "'x'",
         "b'x'", "[]", "[None]", "[[1.0]]", "[NAN]", "['a']", "[2**64]", "[-1]", "[0, 0]",
         "[2**62, 2**62, 0]", "[0, 2**62, 2**62]", "[2**63, 0]", "(1.0,)", "{}",
         "{'a': 'b', 1: None}"]


def bad_values():
    import numpy as np
    return [(text, lambda text=text: eval(text)) for text in PLAIN] + [
        ("object()", object), ("raising_float", RaisingFloat),
        ("[raising_float]", lambda: [RaisingFloat()]), ("raising_len", RaisingLen),
        ("raising_iter", RaisingIter), ("len_2**62", lambda: LyingLen(2**62)),
        ("len_1", lambda: LyingLen(1)), ("clearing_list", clearing_list),
        ("np.float32", lambda: np.float32(1.0)), ("np.bool_", lambda: np.bool_(True)),
        ("np.array", lambda: np.zeros(3, np.float32)), ("float_type", lambda: float),
        ("array_1", lambda: CoreArray([1.0], [1])), ("array_empty", lambda: CoreArray.zeros([0])),
        ("array_int32", lambda: CoreArray.zeros([3], DType.Int32)),
        ("DataFrame()", DataFrame), ("series", lambda: Series("s", CoreArray([1.0], [1]))),
        ("DType.Int64", lambda: DType.Int64), ("RngAlgorithm.PCG64", lambda: RngAlgorithm.PCG64),
    ]


# ---- receivers and fillers -----------------------------------------------------------------

def frame():
    df = DataFrame()
    df.insert("k", Series("k", CoreArray([1.0, 1.0, 2.0], [3])))
    df.insert("v", Series("v", CoreArray([0.5, NAN, -1.0], [3])))
    df.insert("i", Series("i", CoreArray.zeros([3], DType.Int32)))
    df.insert("d", Series("d", CoreArray.zeros([3], DType.Float64)))
    return df


# Per class: (label, factory, swept with every bad value).
def receivers():
    return {
        CoreArray: [
            ("f32_2x3", lambda: CoreArray([0.5, -1.0, 2.0, NAN, float("inf"), 0.0], [2, 3]), True),
            ("f32_empty", lambda: CoreArray.zeros([0]), True),
            ("f32_0x3", lambda: CoreArray.zeros([0, 3]), False),
            ("f32_transposed", lambda: CoreArray.ones([2, 3]).transpose(), False),
        ] + [(str(d), lambda d=d: CoreArray.zeros([2, 3] if d == DType.Int32 else [3], d), False)
             for d in (DType.Int32, DType.Float64, DType.Int64, DType.Bool)],
        DataFrame: [("frame", frame, True), ("empty", DataFrame, True),
                    ("no_rows", lambda: frame().iloc(0, 0), False)],
        Series: [("f32", lambda: Series("s", CoreArray([2.0, -0.0, 0.0, NAN], [4])), True),
                 ("int32", lambda: frame().get_column("i"), False),
                 ("empty", lambda: Series("e", CoreArray.zeros([0])), False)],
        tessra.GroupBy: [("by_k", lambda: frame().groupby("k"), True)],
        DType: [("Float32", lambda: DType.Float32, True)],
        RngAlgorithm: [("PCG64", lambda: RngAlgorithm.PCG64, True)],
    }


def write_csv():
    with open(CSV_PATH, "w") as f:
        f.write("k,v\n1,2\n3,x\n")
    return CSV_PATH


def same_shape(r, value):
    return CoreArray.full(list(r.shape) if isinstance(r, CoreArray) else [2, 3], value)


# Fillers by parameter name: the text of a fresh value, or a function of the receiver (None for
# functions), so operands can match its shape.
FILLERS = {
    "shape": "[2, 3]", "new_shape": "[3, 2]", "seed": "7", "algo": "RngAlgorithm.PCG64",
    "path": lambda r: write_csv(), "start": "0", "stop": "3", "end": "2", "step": "1", "num": "4",
    "value": "1.0", "dtype": "DType.Float32", "exponent": "2.0", "min_val": "0.0", "max_val": "1.0",
    "index": "0", "indices": "CoreArray([0.0, 1.0], [2])", "descending": "False",
    "ascending": "True", "n": "2", "col_name": "'v'", "name": "'v'", "by": "'k'",
    "arrays": "[CoreArray.ones([2, 3]), CoreArray.zeros([1, 3])]",
    "other": lambda r: same_shape(r, 2.0), "mask": lambda r: same_shape(r, 1.0),
    "series": "Series('w', CoreArray([1.0, 2.0, 3.0], [3]))",
}
OWNER_FILLERS = {
    (CoreArray, "data"): "[1.0, 2.0, 3.0, 4.0, 5.0, 6.0]", (Series, "name"): "'s'",
    (Series, "data"): "CoreArray([1.0, 2.0], [2])", (Series, "index"): "None",
    (DataFrame, "drop", "columns"): "['v']", (DataFrame, "rename", "columns"): "{'v': 'w'}",
    (DataFrame, "join", "other"): "frame()", (DataFrame, "left_on"): "'k'",
    (DataFrame, "right_on"): "'k'", (DataFrame, "how"): "'inner'",
    (DataFrame, "pivot", "index"): "'k'",
    (DataFrame, "pivot", "columns"): "'i'", (DataFrame, "pivot", "values"): "'v'",
}


def is_address(param):
    return "ptr" in param or "addr" in param


def filler(owner, method, param):
    keys = [k for k in ((owner, method, param), (owner, param)) if k in OWNER_FILLERS]
    # a null address must be refused, never read
    f = OWNER_FILLERS[keys[0]] if keys else "0" if is_address(param) else FILLERS.get(param, "1")
    return f if callable(f) else lambda r: eval(f)


def parameters(fn):
    try:
        sig = inspect.signature(fn)
    except (TypeError, ValueError):
        return None
    return [p.name for p in sig.parameters.values()
            if p.name != "self" and p.kind not in (p.VAR_POSITIONAL, p.VAR_KEYWORD)]


# ---- the calls -------------------------------------------------------------------------------

# (label, make) for one callable; make(receiver) gives (args, kwargs).
def argument_sets(owner, method, params, full):
    fill = [filler(owner, method, p) for p in params]
    sets = [("fillers", lambda r: ([f(r) for f in fill], {})),
            ("no args", lambda r: ([], {})),
            ("extra arg", lambda r: ([f(r) for f in fill] + [1], {})),
            ("bad keyword", lambda r: ([], {"no_such_parameter": 1}))]
    if params:
        sets.append(("keywords", lambda r: ([], {p: f(r) for p, f in zip(params, fill)})))
    for i, p in enumerate(params if full else []):
        for label, make in bad_values():
            try:  # reading a non-null address is the caller's promise
                if is_address(p) and 0 < operator.index(make()) < 2**64:
                    continue
            except Exception:
                pass

            def build(r, i=i, make=make):
                args = [f(r) for f in fill]
                args[i] = make()
                return args, {}
            sets.append(("%s=%s" % (p, label), build))
    return sets


def call_with(fn, make, receiver=None):
    args, kwargs = make(receiver)
    return fn(*args, **kwargs)


def call_method(attr, receiver, make):
    r = receiver()
    return call_with(getattr(r, attr), make, r)


def module_calls():
    functions = [(name, getattr(native, name)) for name in native.__all__
                 if not isinstance(getattr(native, name), type)]
    return [("%s(%s)" % (name, label), lambda fn=fn, make=make: call_with(fn, make))
            for name, fn in functions
            for label, make in argument_sets(None, name, parameters(fn) or [], True)]


def class_calls(cls):
    calls = []
    for attr, item in sorted(vars(cls).items()):
        if attr.startswith("__"):
            continue
        if isinstance(item, staticmethod):
            fn = getattr(cls, attr)
            calls += [("%s.%s(%s)" % (cls.__name__, attr, label),
                       lambda fn=fn, make=make: call_with(fn, make))
                      for label, make in argument_sets(cls, attr, parameters(fn) or [], True)]
            continue
        for rlabel, receiver, full in receivers()[cls]:
            prefix = "%s.%s[%s]" % (cls.__name__, attr, rlabel)
            if inspect.isdatadescriptor(item) or not callable(item):
                calls.append((prefix, lambda attr=attr, receiver=receiver:
                              repr(getattr(receiver(), attr))))
                continue
            calls += [("%s(%s)" % (prefix, label),
                       lambda attr=attr, receiver=receiver, make=make:
                       call_method(attr, receiver, make))
                      for label, make in argument_sets(cls, attr, parameters(item) or [], full)]
    # The class itself and its special methods.
    if parameters(cls) is not None:
        calls += [("%s(%s)" % (cls.__name__, label), lambda make=make: call_with(cls, make))
                  for label, make in argument_sets(cls, "__new__", parameters(cls), True)]
    else:
        calls.append(("%s()" % cls.__name__, lambda: cls()))
    for rlabel, r, _ in receivers()[cls]:
        name = "%s[%s]" % (cls.__name__, rlabel)
        calls += [("%s(%s)" % (f.__name__, name), lambda r=r, f=f: f(r())) for f in (repr, int, hash)]
        for label, make in bad_values():
            calls += [("%s == %s" % (name, label), lambda r=r, make=make: r() == make()),
                      ("%s < %s" % (name, label), lambda r=r, make=make: r() < make())]
    return calls


class Unexpected(BaseException):  # an outcome other than the one a size case expects
    pass


SIZE_BUFFER = (ctypes.c_float * 16)()  # 64 bytes: a call that went ahead would pass its end
COUNTED = ([("%s_%s_f32" % (kind, op), 3) for kind in ("array", "metal")
            for op in ("add", "sub", "mul", "div")] +
           [(fn, 1) for fn in ("array_sum_f32", "array_mean_f32", "array_sum_i32", "metal_sum_f32",
                               "metal_mean_f32", "metal_max_f32", "metal_min_f32")] +
           [("array_dot_product_f32", 2), ("array_matmul_f32", 2)])


# Sizes past what any buffer can hold, each with the error it must raise (None: success).
def size_calls(emulated):
    P = ctypes.addressof(SIZE_BUFFER)
    big = lambda what: (ValueError, what + " is too large: its byte count does not fit in 64 bits")
    failed = lambda kernel: (RuntimeError, "Execution error: Metal %s failed" % kernel)
    cblas = (RuntimeError, "Invalid input: Matrix dimensions exceed the 32-bit range of CBLAS")
    cases = [(fn, (P,) * addresses + (count,), big("count"))
             for fn, addresses in COUNTED for count in (2**62, 2**64 - 1)]
    for m, k, n, what in [(2**62, 1, 1, "a (m x k)"), (2**40, 2**40, 1, "a (m x k)"),
                          (0, 2**62, 1, "b (k x n)"), (2**32, 1, 2**32, "%s (m x n)")]:
        cases += [("array_matmul_2d_f32", (P, P, P, m, k, n), big(what.replace("%s", "out"))),
                  ("metal_matmul_f32", (P, P, P, m, k, n), big(what.replace("%s", "c")))]
    cases += [(fn, (P, shape, strides), big("view"))
              for shape, strides in [([2**62], [4]), ([2**32, 2**32], [0, 0]), ([3], [-2**63])]
              for fn in ("array_sum_f32_strided", "array_mean_f32_strided",
                         "array_max_f32_strided", "array_min_f32_strided")]
    # Back-end and road go by the true m*k*n (2**90, which wraps to 0): CBLAS refuses these
    # sizes (policy 1), and so does the Metal kernel that selection picks for so large a product.
    huge = (P, P, P, 2**32, 2**29, 2**29)
    cases += [("array_matmul_2d_f32", (P, P, P, 0, 2**62 - 1, 1), None),
              ("metal_transpose_f32", (P, P, 2**32, 2**32), big("in (m x n)")),
              ("metal_transpose_f32", (P, P, 0, 2**64 - 1), None),
              ("metal_sum_f32", (P, 2**32), failed("sum_f32")),  # past the kernels' 32-bit words
              ("metal_matmul_f32", (P, P, P, 2**32, 1, 1), failed("matmul_f32")),
              ("array_matmul_2d_f32", huge, cblas, 1)]
    # CBLAS takes no size of 2**31 or more, and its int sizes have no room for one either.
    cases += [("array_matmul_2d_f32", (P, P, P) + s, cblas, 1)
              for s in [(2**31, 1, 1), (1, 2**31, 1)]]
    if emulated:
        cases.append(("array_matmul_2d_f32", huge, failed("matmul_f32")))

    def call(fn, args, expected, policy=0):
        native.set_backend_policy(policy)
        try:
            result = getattr(native, fn)(*args)
        except Exception as e:
            result = (type(e), str(e))
        native.set_backend_policy(0)
        if result != expected:
            raise Unexpected("%r instead of %r" % (result, expected))

    return [("%s(%s)" % (c[0], ", ".join("P" if a == P else repr(a) for a in c[1])),
             lambda c=c: call(*c)) for c in cases]


def groups():
    return {"module": module_calls, "CoreArray": lambda: class_calls(CoreArray),
            "DataFrame": lambda: class_calls(DataFrame), "Series": lambda: class_calls(Series),
            "GroupBy": lambda: class_calls(tessra.GroupBy),
            "enums": lambda: class_calls(DType) + class_calls(RngAlgorithm),
            "sizes": lambda: size_calls(False), "sizes_emulated": lambda: size_calls(True)}


# Only "1" gives the process a software Metal device.
GROUP_ENV = {"sizes": {"TESSRA_METAL_EMULATION": "0"},
             "sizes_emulated": {"TESSRA_METAL_EMULATION": "1"}}


# ---- the child -------------------------------------------------------------------------------

def child(group, start, end):
    calls = groups()[group]()
    out = sys.stdout
    for k in range(start, min(end, len(calls))):
        out.write("> %d\n" % k)
        out.flush()
        try:
            calls[k][1]()
        except Exception:
            pass
        except BaseException as e:  # PanicException derives from BaseException
            allowed = ALLOWED_PANICS.get(str(e), ())
            if isinstance(e, Unexpected) or (type(e).__name__ == "PanicException"
                                             and not calls[k][0].endswith(allowed)):
                out.write("P %d %s: %s\n" % (k, type(e).__name__, str(e).replace("\n", " ")))


# ---- the parent ------------------------------------------------------------------------------

# Faults in calls start..end: (call number, what). A child that dies or hangs is restarted
# after the call it was making.
def run_range(group, start, end):
    faults = []
    env = dict(os.environ, PYTHONPATH=PACKAGE_ROOT, **GROUP_ENV.get(group, {}))
    while start < end:
        try:
            proc = subprocess.run([sys.executable, __file__, group, str(start), str(end)],
                                  capture_output=True, text=True, env=env,
                                  timeout=CALL_TIMEOUT + (end - start) * 0.01)
            out, status = proc.stdout, proc.returncode
        except subprocess.TimeoutExpired as e:
            out = (e.stdout or b"").decode(errors="replace") if isinstance(e.stdout, bytes) \
                else (e.stdout or "")
            status = "hang"
        last = start
        for line in out.splitlines():
            kind, _, rest = line.partition(" ")
            if kind == ">":
                last = int(rest)
            elif kind == "P":
                k, _, msg = rest.partition(" ")
                faults.append((int(k), msg))
        if status == 0:
            break
        faults.append((last, "hang" if status == "hang" else "exit status %s" % status))
        start = last + 1
    return faults


@pytest.mark.parametrize("group", sorted(groups()))
def test_bad_arguments_neither_crash_nor_hang_nor_panic(group):
    calls = groups()[group]()
    bounds = [(s, min(s + CALLS_PER_CHILD, len(calls)))
              for s in range(0, len(calls), CALLS_PER_CHILD)]
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(os.sched_getaffinity(0))) as pool:
        found = [f for part in pool.map(lambda b: run_range(group, *b), bounds) for f in part]
    faults = ["%s: %s" % (calls[k][0], what) for k, what in sorted(found)]
    assert not faults, "%d faults:\n%s" % (len(faults), "\n".join(faults[:60]))


if __name__ == "__main__":
    child(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]))
