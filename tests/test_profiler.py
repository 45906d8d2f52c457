import datetime
import json
import re
import threading
import uuid

import numpy as np
import pytest

import tessra

TIMESTAMP = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{3}|\.\d{6}|\.\d{9})?\+00:00")


def _layout_of(text):
    """The report re-written by Python's pretty printer: same indentation, separators and
    shortest float text as the report must have."""
    return json.dumps(json.loads(text), indent=2, ensure_ascii=False)


@pytest.fixture(autouse=True)
def _fresh_profiler():
    tessra.disable_profiling()
    tessra.clear_profile()
    tessra.set_profile_context(None)
    yield
    tessra.disable_profiling()
    tessra.clear_profile()
    tessra.set_profile_context()


@pytest.mark.parametrize("context", [None, "no such context", 'quote " back \\ é \n tab\t'])
def test_report_without_records(context):
    text = tessra.get_profile_report(context)
    assert text == _layout_of(text)
    report = json.loads(text)
    assert list(report) == ["metadata", "operations", "total_time_ms", "operation_count"]
    meta = report["metadata"]
    assert list(meta) == ["session_id", "start_timestamp", "version", "context"]
    assert meta["version"] == "3.0.0" and meta["context"] == context
    assert report["operations"] == {} and report["operation_count"] == 0
    assert '"total_time_ms": 0.0,' in text


def test_each_report_has_a_fresh_id_and_the_time_of_the_call():
    before = datetime.datetime.now(datetime.timezone.utc)
    first, second = (json.loads(tessra.get_profile_report())["metadata"] for _ in range(2))
    after = datetime.datetime.now(datetime.timezone.utc)
    assert first["session_id"] != second["session_id"]
    for meta in (first, second):
        sid = uuid.UUID(meta["session_id"])
        assert str(sid) == meta["session_id"] and sid.version == 4
        assert sid.variant == uuid.RFC_4122
        stamp = meta["start_timestamp"]
        assert TIMESTAMP.fullmatch(stamp), stamp
        # Python reads at most six fraction digits.
        parsed = datetime.datetime.fromisoformat(re.sub(r"(\.\d{6})\d+", r"\1", stamp))
        assert before - datetime.timedelta(milliseconds=1) <= parsed <= after


def test_a_context_labels_only_its_own_threads_later_records():
    buf = np.ones(4, np.float32)
    p = buf.ctypes.data
    both_set = threading.Barrier(2)

    def work(context, call, times):
        tessra.set_profile_context(context)
        both_set.wait()  # a context shared by the threads would now be the last one set
        for _ in range(times):
            call(p, 4)

    tessra.enable_profiling()
    tessra.array_all(p, 4)  # no context
    threads = [threading.Thread(target=work, args=("a", tessra.array_sum_f32, 2)),
               threading.Thread(target=work, args=("b", tessra.array_mean_f32, 3))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    tessra.array_any(p, 4)  # still no context on this thread

    def counts(context=None):
        ops = json.loads(tessra.get_profile_report(context))["operations"]
        return {name: o["count"] for name, o in ops.items()}
    assert counts("a") == {"sum": 2} and counts("b") == {"mean": 3}
    assert counts() == {"all": 1, "sum": 2, "mean": 3, "any": 1}
