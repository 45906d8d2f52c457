import re

import pytest

import tessra
from tessra import _tessra_rust as native
from tessra import CoreArray, DType, RngAlgorithm

from conftest import run_python


def test_all_lists_functions_then_classes_in_exec_order():
    names = native.__all__
    classes = [n for n in names if n[0].isupper()]
    assert classes == [c for c in ["CoreArray", "DType", "DataFrame", "Series", "GroupBy",
                                   "RngAlgorithm"] if hasattr(native, c)]
    # Functions come first, and every exported name is an attribute.
    first_class = names.index("CoreArray")
    assert all(n[0].islower() for n in names[:first_class])
    assert all(hasattr(native, n) for n in names)
    assert tessra.__all__ == names


def test_import_starts_no_thread_and_reads_no_environment():
    out = run_python(
        "import threading, os\n"
        "before = threading.active_count()\n"
        "import tessra\n"
        "import glob\n"
        "print(len(os.listdir('/proc/self/task')))\n")
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "1"
    assert out.stderr == ""


def test_enum_instances_are_shared():
    assert DType.Float32 is DType.Float32
    assert CoreArray.zeros([2]).dtype is DType.Float32
    assert CoreArray.zeros([2], DType.Int64).dtype is DType.Int64


@pytest.mark.parametrize("obj, text, value", [
    (DType.Float32, "DType.Float32", 0), (DType.Float64, "DType.Float64", 1),
    (DType.Int32, "DType.Int32", 2), (DType.Int64, "DType.Int64", 3), (DType.Bool, "DType.Bool", 4),
    (RngAlgorithm.PCG64, "RngAlgorithm.PCG64", 0),
    (RngAlgorithm.Xoshiro256PP, "RngAlgorithm.Xoshiro256PP", 1),
])
def test_enum_text_and_int(obj, text, value):
    assert repr(obj) == text
    assert str(obj) == text
    assert int(obj) == value


def test_enum_equality_without_hash_or_order():
    assert DType.Int64 == 3
    assert not (DType.Int64 != DType.Int64)
    assert DType.Int32 != DType.Int64
    assert not (DType.Float32 == 256)
    assert not (DType.Float32 == "Float32")
    assert RngAlgorithm.PCG64 == 0
    with pytest.raises(TypeError):
        DType.Int32 < DType.Int64
    with pytest.raises(TypeError):
        hash(DType.Int32)


@pytest.mark.parametrize("dtype, size", [(DType.Float32, 4), (DType.Float64, 8), (DType.Int32, 4),
                                         (DType.Int64, 8), (DType.Bool, 1)])
def test_itemsize(dtype, size):
    assert dtype.itemsize == size


@pytest.mark.parametrize("cls", [DType, RngAlgorithm])
def test_enumerations_cannot_be_instantiated(cls):
    with pytest.raises(TypeError, match=re.escape(f"cannot create 'tessra._tessra_rust.{cls.__name__}' instances")):
        cls()


def test_text_signatures():
    assert CoreArray.__text_signature__ == "(data, shape)"
    assert CoreArray.zeros.__text_signature__ == "(shape, dtype=None)"
    assert CoreArray.full_like.__text_signature__ == "($self, value)"
    assert CoreArray.zeros.__doc__ == "Create a array filled with zeros."


@pytest.mark.parametrize("call, message", [
    (lambda: CoreArray.zeros(), "zeros() missing 1 required positional argument: 'shape'"),
    (lambda: CoreArray.zeros([1], None, 3), "zeros() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: CoreArray.zeros([1], bogus=1), "zeros() got an unexpected keyword argument 'bogus'"),
    (lambda: CoreArray.zeros([1], shape=[1]), "zeros() got multiple values for argument 'shape'"),
    (lambda: CoreArray.zeros("ab"), "argument 'shape': Can't extract `str` to `Vec`"),
    (lambda: CoreArray.zeros([1.5]), "argument 'shape': 'float' object cannot be interpreted as an integer"),
    (lambda: CoreArray.zeros([2], 3), "argument 'dtype': 'int' object cannot be converted to 'DType'"),
    (lambda: CoreArray.full([2], "x"), "argument 'value': must be real number, not str"),
    (lambda: CoreArray.concatenate([1]), "argument 'arrays': 'int' object cannot be converted to 'CoreArray'"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError, match="^" + re.escape(message) + "$"):
        call()


@pytest.mark.parametrize("shape", [[-1], [2**64]])
def test_size_out_of_range_is_overflow_without_prefix(shape):
    with pytest.raises(OverflowError) as info:
        CoreArray.zeros(shape)
    assert "argument" not in str(info.value)


def test_keyword_arguments_work_like_positional():
    a = CoreArray.zeros(shape=[2, 2])
    assert a.shape == [2, 2]
    b = CoreArray(shape=[2], data=[1, 2])
    assert b.to_list() == [1.0, 2.0]
    assert CoreArray.arange(start=0, stop=3, step=None).to_list() == [0.0, 1.0, 2.0]


def test_panic_is_a_base_exception_with_location_on_stderr():
    out = run_python(
        "from tessra import CoreArray\n"
        "try:\n"
        "    CoreArray.zeros([2**62])\n"
        "except Exception:\n"
        "    print('caught as Exception')\n"
        "except BaseException as e:\n"
        "    print(type(e).__module__, type(e).__name__, e)\n")
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "pyo3_runtime PanicException Invalid layout for aligned allocation"
    assert "panicked at" in out.stderr and "Invalid layout for aligned allocation" in out.stderr
