# The general pool seen from Python: its size comes from RAYON_NUM_THREADS, read once, and shows
# in which chunks a seeded fill uses; threads that cannot start are reported, not fatal.

import functools
import json
import os
import sys

import pytest

from conftest import run_python, skip_under_address_sanitizer

N, SEED = 60, 11
CORES = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()

FILL_SCRIPT = """
import json, os, tessra
a = tessra.CoreArray([1.0, 2.0], [2])
{prelude}
fill = tessra.random_uniform_f32([{n}], {seed}).to_list()
firsts = [tessra.random_uniform_f32([1], {seed} + c).to_list()[0] for c in range({n})]
print(json.dumps([fill, firsts]))
"""


@functools.lru_cache(maxsize=None)
def fill_under(value, prelude=""):
    # The fill of N values and the first value of every chunk seed, with RAYON_NUM_THREADS=value.
    res = run_python(FILL_SCRIPT.format(prelude=prelude, n=N, seed=SEED),
                     {"RAYON_NUM_THREADS": value})
    assert (res.returncode, res.stderr) == (0, "")  # no warning, even past the cores
    return json.loads(res.stdout)


def chunked_by(threads, fill, firsts):
    # Whether fill is cut into one chunk per thread, chunk c seeded SEED + c.
    length = -(-N // threads)
    return all(fill[start] == firsts[c] for c, start in enumerate(range(0, N, length)))


# None: unparsable or zero, which means the size the variable's absence gives.
@pytest.mark.parametrize("value, threads", [
    ("+5", 5), ("007", 7), ("1", 1), ("1000", 1000), ("18446744073709551615", 2**64 - 1),
    (" 5", None), ("5 ", None), ("-5", None), ("5x", None), ("0x5", None), ("1_0", None),
    ("0", None), ("+", None), ("++5", None), ("18446744073709551616", None)])
def test_pool_size_from_the_variable(value, threads):
    fill, firsts = fill_under(value)
    if threads is None:
        assert fill == fill_under("")[0]
    else:
        assert chunked_by(threads, fill, firsts)


@pytest.mark.parametrize("first", ["a.add(a)", "a.sin()", "a.take(tessra.CoreArray([0.0], [1]))",
                                   "tessra.random_uniform_f32([1], 0)", None])
def test_size_is_settled_by_the_first_small_loop(first):
    # Before any loop a change of the variable still counts.
    later = "os.environ['RAYON_NUM_THREADS'] = '7'"
    assert chunked_by(7 if first is None else 3, *fill_under("3", f"{first or ''}\n{later}"))


RLIMIT_SCRIPT = """
import resource, tessra
a = tessra.CoreArray.zeros([1_000_000])
with open('/proc/self/status') as f:
    used = next(int(l.split()[1]) * 1024 for l in f if l.startswith('VmSize:'))
resource.setrlimit(resource.RLIMIT_AS, (used + {margin} * 2**20, resource.RLIM_INFINITY))
try:
    a.add(a)
    print('ok')
except (MemoryError, RuntimeError) as e:
    print(type(e).__name__)
resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
print(a.add(tessra.CoreArray.full([1_000_000], 2.0)).sum())
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
@skip_under_address_sanitizer
def test_threads_that_cannot_start_raise_and_a_later_call_retries():
    # The result takes 4 MB; each worker wants about 5 MiB beside it.
    outcomes = set()
    for margin in [4 + 5 * k for k in range(CORES)] + [16 + 5 * CORES]:
        res = run_python(RLIMIT_SCRIPT.format(margin=margin))
        assert (res.returncode, res.stderr) == (0, ""), margin
        outcome, total = res.stdout.split()
        assert float(total) == 2_000_000.0
        outcomes.add(outcome)
    assert "ok" in outcomes and (CORES == 1 or "RuntimeError" in outcomes), outcomes


FORK_SCRIPT = """
import os, signal, warnings, tessra
from tessra import CoreArray
warnings.simplefilter("ignore", DeprecationWarning)  # forking with threads running is the point

def use_every_pool():
    sums = []
    for policy, n in [(8, 256), (1, 512)]:  # the product pool, then CBLAS
        tessra.set_backend_policy(policy)
        m = CoreArray.ones([n, n])
        sums.append(m.matmul(m).sum())
    a = CoreArray.ones([1_000_000])
    sums.append(a.add(a).sum())  # the general pool
    return sums

expected = use_every_pool()
assert expected == [256.0**3, 512.0**3, 2e6], expected
pid = os.fork()
if pid == 0:
    signal.alarm(30)  # a hang ends the child
    os._exit(0 if use_every_pool() == expected else 1)
print(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
"""


@pytest.mark.skipif(not hasattr(os, "fork"), reason="no fork")
def test_a_forked_child_can_use_every_pool():
    res = run_python(FORK_SCRIPT)
    assert (res.returncode, res.stdout, res.stderr) == (0, "0\n", "")
