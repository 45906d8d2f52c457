"""The module surface shared by every class: exports, enumerations, the one argument parser and
its converters, docstrings and signatures, and process-wide behaviour."""

import re
import subprocess

import pytest

import tessra
from tessra import _tessra_rust as native
from tessra import (CoreArray, DataFrame, DType, GroupBy, RngAlgorithm, Series,
                    random_uniform_f32)

from conftest import child, run_python


def test_all_lists_functions_then_classes_in_exec_order():
    names = native.__all__
    first_class = names.index("CoreArray")
    assert names[first_class:] == ["CoreArray", "DType", "DataFrame", "Series", "GroupBy",
                                   "RngAlgorithm"]
    assert all(n[0].islower() for n in names[:first_class])
    assert all(hasattr(native, n) for n in names) and tessra.__all__ == names


def test_extension_exports_only_its_init_function():
    out = subprocess.run(["nm", "-D", "--defined-only", native.__file__],
                         capture_output=True, text=True, check=True)
    assert [line.split()[-1] for line in out.stdout.splitlines()] == ["PyInit__tessra_rust"]


def test_small_work_starts_no_thread_and_a_panic_is_a_base_exception_with_its_place():
    out = run_python(
        "import os\n"
        "from tessra import CoreArray\n"
        "print(len(os.listdir('/proc/self/task')))\n"
        "a = CoreArray([float(i) for i in range(5000)], [5000])\n"
        "a.add(a).sqrt().sin().mod_op(a)\n"
        "print(len(os.listdir('/proc/self/task')))\n"
        "try:\n"
        "    CoreArray.zeros([2**62])\n"
        "except Exception:\n"
        "    print('caught as Exception')\n"
        "except BaseException as e:\n"
        "    print(type(e).__module__, type(e).__name__, e)\n")
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == [
        "1", "1", "pyo3_runtime PanicException Invalid layout for aligned allocation"]
    assert "panicked at" in out.stderr and "Invalid layout for aligned allocation" in out.stderr


# ---- enumerations --------------------------------------------------------------------------

@pytest.mark.parametrize("obj, text, value, itemsize", [
    (DType.Float32, "DType.Float32", 0, 4), (DType.Float64, "DType.Float64", 1, 8),
    (DType.Int32, "DType.Int32", 2, 4), (DType.Int64, "DType.Int64", 3, 8),
    (DType.Bool, "DType.Bool", 4, 1),
    (RngAlgorithm.PCG64, "RngAlgorithm.PCG64", 0, None),
    (RngAlgorithm.Xoshiro256PP, "RngAlgorithm.Xoshiro256PP", 1, None),
])
def test_enum_text_int_and_itemsize(obj, text, value, itemsize):
    assert (repr(obj), str(obj), int(obj), obj == value) == (text, text, value, True)
    assert getattr(obj, "itemsize", None) == itemsize


def test_enum_instances_are_shared_and_compare_without_hash_or_order():
    assert CoreArray.zeros([2], DType.Int64).dtype is DType.Int64
    assert not (DType.Int64 != DType.Int64) and DType.Int32 != DType.Int64
    assert not (DType.Float32 == 256) and not (DType.Float32 == "Float32")
    with pytest.raises(TypeError):
        DType.Int32 < DType.Int64
    with pytest.raises(TypeError):
        hash(DType.Int32)


@pytest.mark.parametrize("cls", [DType, RngAlgorithm, GroupBy])
def test_classes_without_constructor_cannot_be_instantiated(cls):
    with pytest.raises(TypeError, match=re.escape(
            f"cannot create 'tessra._tessra_rust.{cls.__name__}' instances")):
        cls()


# ---- the argument parser and its converters --------------------------------------------------

A = CoreArray.zeros([2])
FRAME = DataFrame()


class BadIndex:
    def __index__(self):
        raise TypeError("bad\0index")


@pytest.mark.parametrize("call, message", [
    (lambda: CoreArray.zeros(), "zeros() missing 1 required positional argument: 'shape'"),
    (lambda: A.clip(), "clip() missing 2 required positional arguments: 'min_val' and 'max_val'"),
    (lambda: CoreArray.zeros([1], None, 3),
     "zeros() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: A.mul(A, A), "mul() takes 1 positional argument but 2 were given"),
    (lambda: DataFrame(1), "DataFrame() takes 0 positional arguments but 1 was given"),
    (lambda: CoreArray.zeros([1], bogus=1), "zeros() got an unexpected keyword argument 'bogus'"),
    (lambda: A.le(A, other=A), "le() got multiple values for argument 'other'"),
    # A keyword is matched and quoted whole, NUL bytes included.
    (lambda: CoreArray.zeros(**{"shape\0x": [1]}),
     "zeros() got an unexpected keyword argument 'shape\0x'"),
    (lambda: CoreArray.zeros([1], **{"dtype\0": None}),
     "zeros() got an unexpected keyword argument 'dtype\0'"),
    (lambda: CoreArray.zeros([BadIndex()]), "argument 'shape': bad\0index"),
    (lambda: A.sin(A), "CoreArray.sin() takes no arguments (1 given)"),
    (lambda: A.sin(x=1), "CoreArray.sin() takes no keyword arguments"),
    (lambda: CoreArray.zeros("ab"), "argument 'shape': Can't extract `str` to `Vec`"),
    (lambda: CoreArray(5, [1]), "argument 'data': 'int' object cannot be converted to 'Sequence'"),
    (lambda: CoreArray.zeros([1.5]),
     "argument 'shape': 'float' object cannot be interpreted as an integer"),
    (lambda: CoreArray.full([2], "x"), "argument 'value': must be real number, not str"),
    (lambda: CoreArray.zeros([2], 3),
     "argument 'dtype': 'int' object cannot be converted to 'DType'"),
    (lambda: random_uniform_f32([3], 1, None),
     "argument 'algo': 'NoneType' object cannot be converted to 'RngAlgorithm'"),
    (lambda: A.add(1.0), "argument 'other': 'float' object cannot be converted to 'CoreArray'"),
    (lambda: CoreArray.concatenate([A, 1]),
     "argument 'arrays': 'int' object cannot be converted to 'CoreArray'"),
    (lambda: Series(5, A), "argument 'name': 'int' object cannot be converted to 'PyString'"),
    (lambda: FRAME.insert("a", 1), "argument 'series': 'int' object cannot be converted to 'Series'"),
    (lambda: FRAME.rename(["a"]), "argument 'columns': 'list' object cannot be converted to 'PyDict'"),
    (lambda: FRAME.sort_values("a", 1),
     "argument 'ascending': 'int' object cannot be converted to 'PyBool'"),
    (lambda: setattr(FRAME, "row_count", "1"),
     "argument 'row_count': 'str' object cannot be interpreted as an integer"),
    (lambda: FRAME.join({}, "k", "k", "inner"),
     "argument 'other': 'dict' object cannot be converted to 'DataFrame'"),
    (lambda: native.recommend_backend(1, 1, 1),
     "argument 'is_batched': 'int' object cannot be converted to 'PyBool'"),
    (lambda: native.analyse_workload(64, 1.5, 1),
     "argument 'small_threshold': 'float' object cannot be interpreted as an integer"),
    (lambda: tessra.set_profile_context(5),
     "argument 'context': 'int' object cannot be converted to 'PyString'"),
    (lambda: tessra.get_profile_report(context=b"x"),
     "argument 'context': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: tessra.get_profile_report("a", "b"),
     "get_profile_report() takes from 0 to 1 positional argument but 2 were given"),
    (lambda: tessra.set_profile_context(ctx="a"),
     "set_profile_context() got an unexpected keyword argument 'ctx'"),
    (lambda: tessra.enable_profiling(1),
     "tessra._tessra_rust.enable_profiling() takes no arguments (1 given)"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError, match="^" + re.escape(message) + "$"):
        call()


# Errors other than TypeError pass through the converters without the argument's name.
@pytest.mark.parametrize("call", [
    lambda: CoreArray.zeros([-1]), lambda: CoreArray.zeros([2**64]),
    lambda: A.pow(10**400), lambda: A.getitem(2**63), lambda: random_uniform_f32([1], -1),
    lambda: native.recommend_backend(-1, 1, False), lambda: native.recommend_backend(1, 1 << 64, False),
    lambda: native.analyse_workload(1, 1, -1),
])
def test_overflow_passes_without_the_argument_name(call):
    with pytest.raises(OverflowError) as info:
        call()
    assert "argument" not in str(info.value)


class HugeLen:
    """A sequence whose __len__ claims far more items than it yields."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return 2**62

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.parametrize("call, expected", [
    (lambda: CoreArray(HugeLen(1.0, 2, 3.5), [3]).to_list(), [1.0, 2.0, 3.5]),
    (lambda: CoreArray.zeros(HugeLen(1, 2, 3)).shape, [1, 2, 3]),
    (lambda: Series("s", CoreArray([1, 2, 3], [3]), HugeLen("x", "y", "z")).index, ["x", "y", "z"]),
    (lambda: CoreArray.concatenate(HugeLen(A, A)).shape, [4]),
])
def test_len_of_a_sequence_is_only_a_hint(call, expected):
    assert call() == expected


# Freed memory is poisoned in the child, so reading an item after its own conversion dropped the
# caller's last reference to it crashes there.
def test_items_stay_alive_while_their_conversion_empties_the_list():
    out = child(
        "import warnings\n"
        "from tessra import CoreArray\n"
        "warnings.simplefilter('ignore')\n"
        "class F(float): pass\n"
        "class Clears:\n"
        "    def __init__(self, owner): self.owner = owner\n"
        "    def __float__(self):\n"
        "        self.owner.clear()\n"
        "        return F(2.5)\n"
        "class L(list): pass\n"
        "for kind in (list, L):\n"
        "    items = kind()\n"
        "    items += [Clears(items), 7.0]\n"
        "    print(CoreArray(items, [1]).to_list())\n", {"PYTHONMALLOC": "debug"})
    assert out == "[2.5]\n[2.5]\n"


def test_keyword_arguments_work_like_positional():
    assert CoreArray(shape=[2], data=[1, 2]).to_list() == [1.0, 2.0]
    assert CoreArray.arange(start=0, stop=3, step=None).to_list() == [0.0, 1.0, 2.0]
    assert A.eq(other=A).to_list() == [1.0, 1.0]


@pytest.mark.parametrize("obj, signature, doc", [
    (CoreArray, "(data, shape)", None),
    (CoreArray.zeros, "(shape, dtype=None)", "Create a array filled with zeros."),
    (CoreArray.full_like, "($self, value)", None),
    (CoreArray.neg, "($self)", "Element-wise negation: -self"),
    (CoreArray.rint, "($self)", ""),
    (CoreArray.add, "($self, other)", "Element-wise addition: self + other → new CoreArray"),
    (CoreArray.eq, "($self, other)",
     "Element-wise equality: self == other → Float32 CoreArray of 1.0 and 0.0"),
    (CoreArray.reshape, "($self, new_shape)",
     "Reshape the array: a new array holding a copy of the data in the new shape (same element "
     "count)."),
    (CoreArray.clip, "($self, min_val, max_val)", ""),
    (CoreArray.pow, "($self, exponent)", "Element-wise power: self^exponent (scalar)"),
    (Series, "(name, data, index=None)", None),
    (Series.head, "($self, n)", None),
    (DataFrame, "()", None),
    (DataFrame.sort_values, "($self, col_name, ascending)", None),
    (DataFrame.groupby, "($self, by)", None),
    (GroupBy.sum, "($self)", None),
])
def test_signatures_and_docs(obj, signature, doc):
    assert obj.__text_signature__ == signature
    if doc is not None:
        assert (obj.__doc__ or "") == doc
