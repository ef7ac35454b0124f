"""Every entry point, called many times, releases what it takes: the interpreter's allocated blocks,
the C heap and the reference counts of the objects a validator's pool holds end where they started."""

import copy
import ctypes
import ctypes.util
import dataclasses
import gc
import os
import sys
import typing
from typing import Annotated, Any, Literal, NamedTuple, Optional, TypedDict

import annotated_types as at
import pytest

import quillmar._quillmar as qm

Validator = qm.Validator

# PYTHONMALLOC=malloc (the sanitizer run) keeps no block count, and tracemalloc's byte count is too noisy
# there to tell a leak from churn; that run checks the reference counts only.
COUNTS_BLOCKS = sys.getallocatedblocks() > 0
CALLS = 2000 if COUNTS_BLOCKS else 200
WARMUP = 50


def _libc_in_use():
    """Bytes in use on the C heap, which holds the module's C++ allocations; None where unknown."""
    name = ctypes.util.find_library("c")
    if not name or "LD_PRELOAD" in os.environ:  # a sanitizer's allocator keeps its own books
        return None
    libc = ctypes.CDLL(name)
    if not hasattr(libc, "mallinfo2"):
        return None

    class MallInfo2(ctypes.Structure):
        _fields_ = [(field, ctypes.c_size_t) for field in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
            "keepcost")]

    libc.mallinfo2.restype = MallInfo2
    return lambda: libc.mallinfo2().uordblks + libc.mallinfo2().hblkhd


C_HEAP = _libc_in_use()


def _measure():
    gc.collect()
    return sys.getallocatedblocks(), C_HEAP() if C_HEAP else 0


def growth(call, calls):
    """(Python blocks, C heap bytes) gained over `calls` calls."""
    blocks, heap = _measure()
    for _ in range(calls):
        call()
    after_blocks, after_heap = _measure()
    return after_blocks - blocks, after_heap - heap


def assert_no_leak(call, watched=(), calls=CALLS):
    """One leaked object or allocation per call shows as at least `calls` blocks or bytes in every
    round; a cache or free list that fills once shows in one round only, so any clean round passes."""
    for _ in range(WARMUP):
        call()
    gc.collect()
    counts = [sys.getrefcount(obj) for obj in watched]
    for _ in range(3 if COUNTS_BLOCKS else 1):
        blocks, heap = growth(call, calls)
        if blocks < calls // 10 and heap < calls * 4:
            break
    assert blocks < calls // 10, f"{blocks} Python blocks gained over {calls} calls"
    assert heap < calls * 4, f"{heap} C heap bytes gained over {calls} calls"
    assert [sys.getrefcount(obj) for obj in watched] == counts


def raises(error, call, *args, **kwargs):
    def run():
        try:
            call(*args, **kwargs)
        except error:
            return
        raise AssertionError(f"{call} did not raise {error}")

    return run


# --- a schema whose pool holds objects we can watch ----------------------------------------------------------


class Token:
    pass


@dataclasses.dataclass
class Point:
    x: int
    y: str


class Pair(NamedTuple):
    left: int
    right: str


class Movie(TypedDict):
    title: str
    year: int


def positive(x):
    return x > 0


BOUND = 10**30  # an int past the small-int cache, so its count is the pool's alone
WORD = "leak-watch-word"
WATCHED = (Token, Point, positive, BOUND, WORD)

RICH = Annotated[
    list[
        qm.union(
            Token,
            Point,
            Pair,
            Movie,
            Annotated[int, at.Gt(-BOUND), at.Lt(BOUND), at.Predicate(positive), at.MultipleOf(1)],
            Annotated[str, at.MinLen(1), at.MaxLen(50)],
            Literal[WORD, 2, None],
            {"a": int, "b?": tuple[int, ...]},
            dict[str, frozenset[int]],
            tuple[int, str],
            set[bytes],
        )
    ],
    at.MaxLen(100),
]

GOOD = [Token(), Point(1, "a"), Pair(1, "b"), {"title": "t", "year": 1}, 7, "word", WORD, None, {"a": 1},
        {"a": 1, "b": (1, 2)}, {"k": frozenset({1})}, (1, "x"), {b"x"}]
BAD = [[0, -3, Point("x", 1), Pair("a", 1), {"title": 1}, "", "x" * 60, 3.5, {"a": "x", "b": ["y"]},
        {"k": {1}}, (1, 2), {1}, object()]]

GOOD_JSON = '[7, "word", {"a": 1, "b": [1, 2]}, null, {"title": "t", "year": 1999}]'
BAD_JSON = '[0, "", {"a": "x"}, 1.5, {"title": 2}]'
MALFORMED_JSON = '[1, {"a": 2,]'


@pytest.fixture(scope="module")
def rich():
    return Validator(RICH)


def test_the_watched_objects_are_in_the_pool(rich):
    # Without this, the refcount checks below would watch nothing.
    before = sys.getrefcount(positive)
    again = Validator(RICH)
    assert sys.getrefcount(positive) > before
    del again
    assert sys.getrefcount(positive) == before


@typing.runtime_checkable
class Checked(typing.Protocol):
    def run(self): ...


class Unchecked(typing.Protocol):
    def run(self): ...


# --- construction --------------------------------------------------------------------------------------------


def _recursive():
    return qm.recursive(lambda r: qm.union(int, list[r], {"next": r}))


SCHEMAS = [
    int, str, bytes, float, bool, None, Any, object, Token,
    list[int], [int], tuple[int, ...], tuple[int, str], tuple[()], set[int], frozenset[str],
    dict[str, int], {str: int}, {"a": int, "b?": str}, Movie, Point, Pair,
    Checked, Literal[1, "a", None], WORD, BOUND, Optional[int], int | str | None,
    Annotated[int, at.Ge(0), at.Le(BOUND)], Annotated[str, at.MinLen(1), at.MaxLen(3)],
    Annotated[int, at.Predicate(positive)], Annotated[float, at.MultipleOf(0.5)],
    RICH,
]


@pytest.mark.parametrize("schema", SCHEMAS, ids=repr)
def test_construction(schema):
    assert_no_leak(lambda: Validator(schema), WATCHED)


@pytest.mark.parametrize(
    "make",
    [
        pytest.param(lambda: Validator(Validator(RICH)), id="embedded"),
        pytest.param(_recursive, id="recursive"),
        pytest.param(lambda: Validator([_REC, _REC]), id="embedded-recursive"),
    ],
)
def test_construction_from_validators(make):
    assert_no_leak(make, WATCHED)


_REC = _recursive()


@pytest.mark.parametrize(
    "call",
    [
        pytest.param(raises(TypeError, Validator), id="no-argument"),
        pytest.param(raises(TypeError, Validator, int, schema=int), id="twice"),
        pytest.param(raises(NotImplementedError, Validator, list[Unchecked]), id="not-a-schema"),
        pytest.param(raises((TypeError, NotImplementedError), Validator, list[Token, positive]), id="bad-generic"),
        pytest.param(raises(ValueError, Validator, Annotated[str, at.Predicate(positive), at.MultipleOf(0)]),
                     id="zero-divisor"),
        pytest.param(raises(ValueError, Validator, {"a": Token, "\ud800": int}), id="surrogate-key"),
    ],
)
def test_construction_errors(call):
    assert_no_leak(call, WATCHED)


def test_limit_breach():
    deep = Validator(Token)
    while True:
        try:
            deeper = Validator(list[deep])
        except ValueError:
            break
        deep = deeper
    assert_no_leak(raises(ValueError, Validator, {"a": list[deep], "b": Point}), WATCHED)


def test_compile_error_from_user_code():
    @dataclasses.dataclass
    class Broken:
        a: Token
        b: "Missing"  # noqa: F821

    assert_no_leak(raises(NameError, Validator, Broken), WATCHED)


# --- checking ------------------------------------------------------------------------------------------------


CHECKS = [
    pytest.param(lambda v: v.validate(GOOD), id="validate-accepts"),
    pytest.param(lambda v: raises(qm.ValidationError, v.validate, BAD)(), id="validate-fails"),
    pytest.param(lambda v: raises(qm.ValidationError, v.validate, BAD, fail_fast=True)(), id="validate-fail-fast"),
    pytest.param(lambda v: raises(qm.ValidationError, v.validate, 1)(), id="validate-fails-at-root"),
    pytest.param(lambda v: raises(TypeError, v.validate, GOOD, fail_fast=1)(), id="validate-bad-flag"),
    pytest.param(lambda v: raises(TypeError, v.validate, GOOD, nope=1)(), id="validate-bad-keyword"),
    pytest.param(lambda v: v.is_valid(GOOD) and not v.is_valid(BAD), id="is_valid"),
    pytest.param(lambda v: GOOD in v and BAD not in v, id="contains"),
    pytest.param(lambda v: v.ensure(GOOD), id="ensure-accepts"),
    pytest.param(lambda v: raises(qm.ValidationError, v.ensure, BAD)(), id="ensure-fails"),
    pytest.param(lambda v: str(raises_error(v)), id="error-text"),
    pytest.param(lambda v: raises_error(v).errors, id="error-items"),
    pytest.param(lambda v: repr(v), id="repr"),
    pytest.param(lambda v: hash(v), id="hash"),
    pytest.param(lambda v: v == Validator(RICH) and v != 1, id="eq"),
    pytest.param(lambda v: copy.copy(v), id="copy"),
    pytest.param(lambda v: copy.deepcopy(v), id="deepcopy"),
    pytest.param(lambda v: v.open(), id="open"),
    pytest.param(lambda v: v.close(), id="close"),
]


def raises_error(v):
    try:
        v.validate(BAD)
    except qm.ValidationError as error:
        return error
    raise AssertionError("BAD was accepted")


@pytest.mark.parametrize("call", CHECKS)
def test_checks(rich, call):
    call(rich)  # fails here, not in the loop, if the entry point is broken
    assert_no_leak(lambda: call(rich), WATCHED)


def test_recursive_check():
    value = [1, [2, [3, {"next": [4]}]], {"next": 5}]
    bad = [1, [2, ["x", {"next": [4.5]}]]]

    def call():
        assert _REC.is_valid(value)
        assert not _REC.is_valid(bad)
        raises(qm.ValidationError, _REC.validate, bad)()

    assert_no_leak(call)


def test_fatal_exception_from_a_predicate():
    def explode(value):
        raise KeyboardInterrupt

    v = Validator(Annotated[int, at.Predicate(explode)])
    assert_no_leak(raises(KeyboardInterrupt, v.is_valid, 1), [explode])
    assert_no_leak(raises(KeyboardInterrupt, v.validate, 1), [explode])


def test_folded_exception_from_a_predicate():
    def fails(value):
        raise ValueError(value)

    v = Validator(list[Annotated[int, at.Predicate(fails)]])
    assert_no_leak(raises(qm.ValidationError, v.validate, [1, 2, 3]), [fails])


# --- JSON ----------------------------------------------------------------------------------------------------


JSON_CALLS = [
    pytest.param(lambda v: v.validate_json(GOOD_JSON), id="validate_json-accepts"),
    pytest.param(lambda v: v.validate_json(GOOD_JSON.encode()), id="validate_json-bytes"),
    pytest.param(lambda v: raises(qm.ValidationError, v.validate_json, BAD_JSON)(), id="validate_json-fails"),
    pytest.param(lambda v: raises(qm.ValidationError, v.validate_json, BAD_JSON, fail_fast=True)(),
                 id="validate_json-fail-fast"),
    pytest.param(lambda v: raises(qm.ValidationError, v.validate_json, MALFORMED_JSON)(),
                 id="validate_json-malformed"),
    pytest.param(lambda v: raises(TypeError, v.validate_json, 1)(), id="validate_json-not-text"),
    pytest.param(lambda v: v.load(GOOD_JSON), id="load-accepts"),
    pytest.param(lambda v: raises(qm.ValidationError, v.load, BAD_JSON)(), id="load-fails"),
    pytest.param(lambda v: raises(qm.ValidationError, v.load, MALFORMED_JSON.encode())(), id="load-malformed"),
    pytest.param(lambda v: raises(qm.ValidationError, v.load, "\"\ud800\"")(), id="load-undecodable"),
    pytest.param(lambda v: v.load('{"big": 1%s, "f": 1.5e300, "s": "\\u00e9\\ud83d\\ude00"}' % ("0" * 400)),
                 id="load-big-numbers"),
    pytest.param(lambda v: v.is_valid_json(GOOD_JSON) and not v.is_valid_json(BAD_JSON), id="is_valid_json"),
    pytest.param(lambda v: v.is_valid_json(MALFORMED_JSON) or v.is_valid_json(b"[1"), id="is_valid_json-malformed"),
    pytest.param(lambda v: v.is_valid_json(1), id="is_valid_json-not-text"),
]


@pytest.mark.parametrize("call", JSON_CALLS)
def test_json(call):
    v = Validator(qm.union(list[qm.union(int, str, None, {"a": int, "b?": list[int]}, Movie)], dict[str, Any]))
    call(v)
    assert_no_leak(lambda: call(v), WATCHED)


# --- combinators ---------------------------------------------------------------------------------------------


COMBINATORS = [
    pytest.param(lambda: qm.union(int, Token, Validator(RICH)), id="union"),
    pytest.param(lambda: qm.union(), id="union-empty"),
    pytest.param(lambda: qm.intersection(int, Annotated[int, at.Predicate(positive)]), id="intersection"),
    pytest.param(lambda: qm.complement(Point), id="complement"),
    pytest.param(lambda: qm.recursive(lambda r: Token | list[r]), id="recursive"),
    pytest.param(lambda: Validator(int) | Token, id="or"),
    pytest.param(lambda: Token | Validator(int), id="ror"),
    pytest.param(lambda: Validator(int) | Validator(RICH), id="or-validators"),
    pytest.param(raises(TypeError, qm.complement), id="complement-no-argument"),
    pytest.param(raises(NotImplementedError, qm.union, int, Unchecked), id="union-bad-member"),
    pytest.param(raises(ValueError, qm.recursive, lambda r: r | Token), id="recursive-not-contractive"),
    pytest.param(raises(ZeroDivisionError, qm.recursive, lambda r: 1 / 0), id="recursive-builder-raises"),
]


@pytest.mark.parametrize("make", COMBINATORS)
def test_combinators(make):
    make()
    assert_no_leak(make, WATCHED)


def test_union_past_the_node_limit():
    big = Validator(RICH)
    while True:
        try:
            big = big | big
        except ValueError:
            break
    assert_no_leak(raises(ValueError, lambda: big | big), WATCHED, calls=40)


# --- algebra -------------------------------------------------------------------------------------------------


ALGEBRA = [
    pytest.param(lambda v: v.is_empty(), id="is_empty"),
    pytest.param(lambda v: qm.intersection(int, str).is_empty(), id="is_empty-empty"),
    pytest.param(lambda v: v.is_subtype_of(v), id="is_subtype_of-self"),
    pytest.param(lambda v: v.is_subtype_of(RICH), id="is_subtype_of-compiled"),
    pytest.param(lambda v: v.is_subtype_of(int), id="is_subtype_of-false"),
    pytest.param(lambda v: raises(NotImplementedError, v.is_subtype_of, Unchecked)(),
                 id="is_subtype_of-bad-other"),
    pytest.param(lambda v: v.is_equivalent(Validator(RICH)), id="is_equivalent"),
    pytest.param(lambda v: v.is_equivalent(other=_REC), id="is_equivalent-recursive"),
    pytest.param(lambda v: v.simplify(), id="simplify"),
    pytest.param(lambda v: qm.complement(qm.union(int, Token, Point)).simplify(), id="simplify-complement"),
    pytest.param(lambda v: _REC.simplify().is_empty(), id="simplify-recursive"),
]


@pytest.mark.parametrize("call", ALGEBRA)
def test_algebra(rich, call):
    call(rich)
    assert_no_leak(lambda: call(rich), WATCHED)


def test_oracle_exceptions_are_released():
    class Grumpy:
        def __eq__(self, other):
            raise ValueError("no")

        def __lt__(self, other):
            raise ValueError("no")

        __hash__ = object.__hash__

    grumpy = Grumpy()
    v = Validator(Annotated[int, at.Ge(grumpy)])
    w = Validator(Annotated[int, at.Ge(Grumpy())])
    assert_no_leak(lambda: v.is_subtype_of(w) or v.is_equivalent(Literal[grumpy]), [grumpy])
