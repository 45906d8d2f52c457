"""The per-thread Arena seen from Python: sin, exp, log and sqrt hold the calling thread's Arena,
which that thread makes at its first such call with TESSRA_ARENA_SIZE bytes. The buffer's size
shows in the process's virtual memory, so a large size is easy to tell from the default."""

import sys

import pytest

from conftest import run_python

BIG = 2_000_000_000

PRELUDE = """
import os, threading, time
from tessra import CoreArray, DType

def vm():
    with open('/proc/self/status') as f:
        for line in f:
            if line.startswith('VmSize:'):
                return int(line.split()[1]) * 1024

def growth(call):
    before = vm()
    call()
    return vm() - before

a = CoreArray([0.5, 2.0, 4.0], [3])
"""

pytestmark = pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")


def _run(body, size=None):
    env = {} if size is None else {"TESSRA_ARENA_SIZE": size}
    out = run_python(PRELUDE + body, env)
    assert out.returncode == 0, out.stderr
    assert out.stderr == ""
    return [int(x) for x in out.stdout.split()]


@pytest.mark.parametrize("size, big", [
    (None, False), ("+2000000000", True), ("2000000000", True), ("2000000000 ", False),
    (" 2000000000", False), ("-2000000000", False), ("2_000_000_000", False), ("", False),
    ("+", False), ("18446744073709551616", False), ("0", False),
])
def test_size_is_read_from_the_environment(size, big):
    (grown,) = _run("print(growth(a.sqrt))", size)
    if big:
        assert grown >= BIG
    else:
        assert grown < 64 << 20


@pytest.mark.parametrize("method", ["sin", "exp", "log", "sqrt"])
def test_the_four_arena_scoped_methods_make_the_arena(method):
    (grown,) = _run(f"print(growth(a.{method}))", "2000000000")
    assert grown >= BIG


@pytest.mark.parametrize("method", ["cos", "floor_op", "log1p", "exp2", "square"])
def test_other_methods_leave_the_arena_alone(method):
    grown, then = _run(f"print(growth(a.{method})); print(growth(a.sin))", "2000000000")
    assert grown < 64 << 20 and then >= BIG


def test_made_once_per_thread_and_read_at_that_threads_first_use():
    body = """
print(growth(a.exp))                       # default size
os.environ['TESSRA_ARENA_SIZE'] = '2000000000'
print(growth(a.exp))                       # this thread already has its Arena
inside = []
t = threading.Thread(target=lambda: inside.append(growth(a.log)))
before = vm(); t.start(); t.join()
print(inside[0])                           # a new thread reads the new value
for _ in range(500):                       # join can return before the thread's exit
    if vm() - before < 1 << 30:            # destructors have run
        break
    time.sleep(0.01)
print(vm() - before)                       # it frees its Arena when it ends
"""
    first, again, other_thread, after_join = _run(body)
    assert first < 64 << 20 and again < 64 << 20
    assert other_thread >= BIG
    assert after_join < BIG // 2


def test_refused_element_type_does_not_make_the_arena():
    body = """
try:
    CoreArray.zeros([2], DType.Int32).sin()
except TypeError as e:
    print(growth(lambda: None))
print(growth(lambda: CoreArray.zeros([0]).log()))
"""
    nothing, empty_receiver = _run(body, "2000000000")
    assert nothing == 0
    assert empty_receiver >= BIG
