"""The per-thread Arena seen from Python: sin, exp, log and sqrt hold the calling thread's Arena,
which that thread makes at its first such call with TESSRA_ARENA_SIZE bytes. The buffer's size
shows in the process's virtual memory, so a large size is easy to tell from the default."""

import sys

import pytest

from conftest import child

# Large enough to stand out from thread stacks and the default, small enough for any machine.
BIG, SMALL = 512 << 20, 64 << 20

PRELUDE = """
import os, threading, time
from tessra import CoreArray, DType

def vm():
    with open('/proc/self/status') as f:
        return next(int(l.split()[1]) * 1024 for l in f if l.startswith('VmSize:'))

def growth(call):
    before = vm()
    call()
    return vm() - before

# The growth while `call` runs in a new thread, returned once that thread has freed its Arena.
def in_new_thread(call):
    out, before = [], vm()
    t = threading.Thread(target=lambda: out.append(growth(call)))
    t.start(); t.join()
    for _ in range(3000):  # join can return before the thread's destructors have run
        if vm() - before < BIG // 2:
            break
        time.sleep(0.01)
    return out[0]

a = CoreArray([0.5, 2.0, 4.0], [3])
"""

pytestmark = pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")


def _run(body, env):
    return [int(x) for x in child(f"BIG = {BIG}\n" + PRELUDE + body, env).split()]


def test_which_calls_make_the_arena():
    body = """
def refused():
    try:
        CoreArray.zeros([2], DType.Int32).sin()
    except TypeError:
        pass
calls = [a.sin, a.exp, a.log, a.sqrt, CoreArray.zeros([0]).log,
         a.cos, a.floor_op, a.log1p, a.exp2, a.square, refused]
for call in calls:
    print(in_new_thread(call))
"""
    grown = _run(body, {"TESSRA_ARENA_SIZE": str(BIG)})
    assert all(g >= BIG for g in grown[:5]) and all(g < SMALL for g in grown[5:]), grown


def test_made_once_per_thread_and_read_at_that_threads_first_use():
    body = """
print(growth(a.exp))                       # default size
os.environ['TESSRA_ARENA_SIZE'] = str(BIG)
print(growth(a.exp))                       # this thread already has its Arena
before = vm()
print(in_new_thread(a.log))                # a new thread reads the new value
print(vm() - before)                       # and frees its Arena when it ends
"""
    first, again, other_thread, after_join = _run(body, {})
    assert first < SMALL and again < SMALL and other_thread >= BIG and after_join < BIG // 2
