"""One validator shared by many threads answers as it does on one thread, and the lazily filled
state (a validator's check tables, the process-wide caches) fills once under a race."""

import subprocess
import sys
import textwrap
import threading
from types import SimpleNamespace
from typing import Annotated, Literal, TypedDict

import annotated_types as at
import pytest

import quillmar._quillmar as qm

Validator = qm.Validator

THREADS = 8
ROUNDS = 200


class Movie(TypedDict):
    title: Annotated[str, at.MinLen(1)]
    year: Annotated[int, at.Ge(1888)]


def schema():
    return qm.union(
        Movie,
        list[Annotated[int, at.Gt(0)] | Literal["x", "y", "z"]],
        {"kind": Literal["a", "b", "c", "d", "e", "f", "g", "h"], "tags?": frozenset[str]},
        Annotated[str, at.MinLen(2), at.MaxLen(8), SimpleNamespace(pattern=r"\w+")],
        qm.recursive(lambda r: qm.union(None, {"next": r, "value": int})),
    )


VALUES = [
    {"title": "Metropolis", "year": 1927},
    {"title": "", "year": 1927},
    {"title": "x", "year": 1800},
    [1, 2, "x", "z"],
    [1, 0, "w"],
    {"kind": "c", "tags": frozenset({"a"})},
    {"kind": "q"},
    {"kind": "a", "extra": 1},
    "word",
    "a-very-long-word",
    {"next": {"next": None, "value": 2}, "value": 1},
    {"next": {"next": 3, "value": 2}, "value": 1},
    3.5,
]

DOCUMENTS = [
    '{"title": "Nosferatu", "year": 1922}',
    '{"title": "Nosferatu", "year": 1700}',
    '[1, 2, 3, "y"]',
    '[1, 2, -3]',
    '{"kind": "h"}',
    '{"kind": "h", "tags": ["t"]}',  # a JSON list is never a frozenset
    '{"next": null, "value": 7}',
    '{"next": {"next": null, "value": "7"}, "value": 7}',
    '[1, 2',
    b'"ok"',
]


def outcomes(v):
    """Everything observable of one pass over the values and documents."""
    seen = []
    for value in VALUES:
        seen.append(v.is_valid(value))
        try:
            v.validate(value)
            seen.append(None)
        except qm.ValidationError as error:
            seen.append(str(error))
    for document in DOCUMENTS:
        seen.append(v.is_valid_json(document))
        try:
            seen.append(repr(v.load(document)))
        except qm.ValidationError as error:
            seen.append(str(error))
    return seen


def run_together(work, threads=THREADS):
    """work(i) on `threads` threads released at once; their results, or the first exception."""
    start = threading.Barrier(threads)
    results = [None] * threads
    failures = []

    def body(i):
        try:
            start.wait()
            results[i] = work(i)
        except BaseException as error:  # noqa: BLE001 - handed back to the test
            failures.append(error)

    workers = [threading.Thread(target=body, args=(i,)) for i in range(threads)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    if failures:
        raise failures[0]
    return results


@pytest.fixture(autouse=True)
def short_switch_interval():
    # Switch threads often so the walks interleave inside one check, not only between checks.
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


def test_shared_validator_answers_as_on_one_thread():
    v = Validator(schema())
    expected = outcomes(Validator(schema()))
    assert True in expected and False in expected  # both answers are exercised

    def work(i):
        for _ in range(ROUNDS // 4):
            got = outcomes(v)
            if got != expected:
                return got
        return expected

    assert run_together(work) == [expected] * THREADS


def test_first_check_races_fill_the_check_tables_once():
    # Each round a fresh validator, so every thread may be the one that fills its tables.
    expected = outcomes(Validator(schema()))
    for _ in range(ROUNDS // 4):
        v = Validator(schema())
        assert run_together(lambda i: outcomes(v)) == [expected] * THREADS


def test_threads_building_and_deriving_validators():
    base = Validator(schema())
    expected = outcomes(base)

    def work(i):
        made = [Validator(schema()), base | int, qm.intersection(base, base), base.open().close(), base.simplify()]
        return [outcomes(m) == expected for m in made[:1]] + [repr(m) for m in made]

    results = run_together(work)
    assert all(result == results[0] for result in results)
    assert results[0][0] is True


PROCESS_WIDE = textwrap.dedent(
    """
    import sys, threading
    from typing import Annotated, Literal, NotRequired, Optional, TypedDict, Union
    sys.setswitchinterval(1e-6)

    class Row(TypedDict):
        a: int
        b: NotRequired[Optional[str]]

    start = threading.Barrier(8)
    results = [None] * 8

    def body(i):
        start.wait()
        import quillmar._quillmar as qm
        # The first compile of a typing form fills the typing cache; the first failure makes
        # ValidationError's report.
        v = qm.Validator(Union[Row, list[Literal[1, 2]], Annotated[int, "doc"]])
        try:
            v.validate({"a": "x", "b": 1})
        except qm.ValidationError as error:
            results[i] = (v.is_valid({"a": 1}), repr(v), type(error) is qm.ValidationError, str(error))

    threads = [threading.Thread(target=body, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results[0] is not None, results
    assert all(r == results[0] for r in results), results
    print("same", results[0][:3])
    """
)


@pytest.mark.parametrize("run", range(3))
def test_process_wide_state_fills_once_under_a_race(run):
    # The typing cache and the ValidationError class live as long as the process: a fresh one each run.
    done = subprocess.run([sys.executable, "-c", PROCESS_WIDE], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith("same (True, "), done.stdout
    assert done.stderr == ""
