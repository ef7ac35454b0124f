"""Refined schemas: the base first, then each constraint of Annotated metadata, with its
code, expected text and value text."""

import threading
import warnings
from types import SimpleNamespace
from typing import Annotated, Any

import annotated_types as at
import pytest

import quillmar._quillmar as qm

Validator = qm.Validator


def pattern(text):
    return SimpleNamespace(pattern=text)


def items(schema, value, fail_fast=False):
    """(code, path, expected, value) of every item; the boolean entries agree the value fails."""
    v = Validator(schema)
    assert v.is_valid(value) is False
    with pytest.raises(qm.ValidationError) as info:
        v.validate(value, fail_fast=fail_fast)
    return [(e["code"], e["path"], e["expected"], e["value"]) for e in info.value.errors]


def positive(x):
    return x > 0


class Unorderable:
    def __repr__(self):
        return "Unorderable()"


CONSTRAINT_ROWS = [
    # metadata, members, non-member, code, expected
    (at.Ge(5), [5, 6, 5.0], 4, "greater_than_equal", ">= 5"),
    (at.Gt(5), [6, 5.5], 5, "greater_than", "> 5"),
    (at.Le(5), [5, 4], 6, "less_than_equal", "<= 5"),
    (at.Lt(5), [4, -1], 5, "less_than", "< 5"),
    (at.Ge(5), [], "a", "greater_than_equal", ">= 5"),  # the comparison raises TypeError: folded
    (at.Ge(5), [], Unorderable(), "greater_than_equal", ">= 5"),
    (at.MinLen(2), ["ab", [1, 2], {1: 1, 2: 2}], "a", "too_short", "length >= 2"),
    (at.MinLen(2), [], 10, "too_short", "length >= 2"),  # no size at all
    (at.MaxLen(2), ["ab", "", ()], "abc", "too_long", "length <= 2"),
    (at.MultipleOf(3), [9, 9.0, 0, -3], 10, "multiple_of", "a multiple of 3"),
    (at.MultipleOf(3), [], "abc", "multiple_of", "a multiple of 3"),  # str % is formatting: TypeError
    (at.MultipleOf(2.5), [5.0, 7.5], 5, "multiple_of", "a multiple of 2.5"),  # int.__mod__(float): NotImplemented
    (at.Predicate(positive), [1, 2.5], 0, "predicate_failed", "a passing predicate"),
    (at.Predicate(len), ["a", [0]], "", "predicate_failed", "a passing predicate"),  # the truth of a non-bool
    (pattern("a|b"), ["a", "b"], "ab", "string_pattern_mismatch", 'a string matching "a|b"'),
    (pattern("a|b"), [], 1, "string_pattern_mismatch", 'a string matching "a|b"'),
    (pattern("a|b"), [], b"a", "string_pattern_mismatch", 'a string matching "a|b"'),
    (pattern(".*"), [""], "\ud800", "string_pattern_mismatch", 'a string matching ".*"'),  # no UTF-8 text
    (pattern(r"\d+"), ["12", "\u0663"], "x1", "string_pattern_mismatch", 'a string matching "\\\\d+"'),
]


@pytest.mark.parametrize(("metadata", "members", "outsider", "code", "expected"), CONSTRAINT_ROWS)
def test_constraint_row(metadata, members, outsider, code, expected):
    v = Validator(Annotated[Any, metadata])
    for member in members:
        assert v.is_valid(member) is True, member
        assert v.validate(member) is None
    assert items(Annotated[Any, metadata], outsider) == [(code, (), expected, repr(outsider))]


# Exact ints and floats are compared without a Python call; the answers must be Python's.
BOUND_NUMBERS = [0, 1, -1, 2**30 - 1, 2**30, -(2**30), 2**62, 2**63 - 1, 2**63, -(2**63), -(2**63) - 1, 2**64]
BOUND_FLOATS = [0.0, -0.0, 1.5, -1.5, float("inf"), float("-inf"), float("nan")]


@pytest.mark.parametrize(
    ("bound_type", "bounds"), [(int, BOUND_NUMBERS), (float, BOUND_FLOATS)]
)
@pytest.mark.parametrize(
    ("make", "holds"),
    [
        (at.Ge, lambda v, b: v >= b),
        (at.Gt, lambda v, b: v > b),
        (at.Le, lambda v, b: v <= b),
        (at.Lt, lambda v, b: v < b),
    ],
)
def test_native_comparisons_agree_with_python(bound_type, bounds, make, holds):
    for bound in bounds:
        v = Validator(Annotated[bound_type, make(bound)])
        assert [v.is_valid(x) for x in bounds] == [holds(x, bound) for x in bounds], bound


class Text(str):
    pass


@pytest.mark.parametrize(
    ("metadata", "value", "member"),
    [
        # lengths count code points, not bytes: three characters in nine bytes
        (at.MinLen(3), "é€😀", True),
        (at.MaxLen(3), "é€😀", True),
        (at.MaxLen(2), "é€😀", False),
        (at.MinLen(4), "é€😀", False),
        (pattern("..."), "é€😀", True),
        (pattern("[a-z]+"), Text("abc"), True),  # a str subclass is a str
        (pattern("a"), "ba", False),  # matched in full, not searched
    ],
)
def test_lengths_and_patterns(metadata, value, member):
    assert Validator(Annotated[str, metadata]).is_valid(value) is member


def test_base_failure_records_only_the_base_item():
    calls = []
    schema = Annotated[int, at.Predicate(lambda x: calls.append(x) or True)]
    assert items(schema, "x") == [("int_type", (), "int", "'x'")]
    assert calls == []  # no constraint runs when the base rejects


def test_several_failures_in_stored_order_and_fail_fast():
    schema = Annotated[int, at.Ge(10), at.MultipleOf(3), at.Lt(0)]
    every = [
        ("greater_than_equal", (), ">= 10", "5"),
        ("multiple_of", (), "a multiple of 3", "5"),
        ("less_than", (), "< 0", "5"),
    ]
    assert items(schema, 5) == every
    assert items(schema, 5, fail_fast=True) == every[:1]


def test_one_interval_item_gives_its_bounds_in_order():
    schema = Annotated[int, at.Interval(ge=1, lt=3)]
    assert Validator(schema).is_valid(2)
    assert [code for code, *_ in items(schema, 0)] == ["greater_than_equal"]
    assert [code for code, *_ in items(schema, 3)] == ["less_than"]


def test_constraint_items_stand_at_the_refined_position():
    schema = list[Annotated[int, at.Ge(0)]]
    assert items(schema, [1, -1]) == [("greater_than_equal", (1,), ">= 0", "-1")]


class Falsy:
    def __bool__(self):
        raise ValueError("no truth")


class Mute(Exception):
    def __str__(self):
        raise RuntimeError("cannot show")


class Outer:
    class Inner(Exception):
        pass


def raiser(exception):
    def predicate(_):
        raise exception

    return predicate


@pytest.mark.parametrize(
    ("predicate", "shown"),
    [
        (raiser(ValueError("bad")), "ValueError: bad"),
        (lambda _: Falsy(), "ValueError: no truth"),  # the truth test of the result raises
        (raiser(Mute()), "Mute: <exception str() failed>"),
        (raiser(Outer.Inner("deep")), "Outer.Inner: deep"),  # the qualified name
    ],
)
def test_predicate_error_names_the_exception(predicate, shown):
    assert items(Annotated[int, at.Predicate(predicate)], 1) == [
        ("predicate_error", (), f"a predicate that does not raise (raised {shown})", "1")
    ]


@pytest.mark.parametrize("fatal", [KeyboardInterrupt, SystemExit, MemoryError, RecursionError])
def test_fatal_predicate_ends_the_check(fatal):
    later = []
    schema = Annotated[int, at.Ge(10), at.Predicate(raiser(fatal("stop"))), at.Predicate(later.append)]
    v = Validator(schema)
    with pytest.raises(fatal):
        v.is_valid(20)
    with pytest.raises(fatal):
        v.validate(1)  # an item was already recorded for Ge; the fatal exception still wins
    assert later == []  # the answer is settled: no later constraint runs


def test_fatal_comparison_ends_the_check():
    class Interrupting:
        def __ge__(self, other):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        Validator(Annotated[Any, at.Ge(0)]).validate(Interrupting())


class ModNotImplemented:
    def __mod__(self, other):
        return NotImplemented

    def __repr__(self):
        return "ModNotImplemented()"


class Absorbing:
    """Claims every left operand is a multiple of it, through __rmod__ only."""

    def __rmod__(self, other):
        return 0

    def __repr__(self):
        return "Absorbing()"


def test_multiple_of_notimplemented_is_not_a_multiple_without_a_truth_test():
    v = Validator(Annotated[Any, at.MultipleOf(2.5)])
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        assert v.is_valid(5) is False
        assert v.is_valid(ModNotImplemented()) is False
    # bool(NotImplemented) warns (and raises in later Pythons): it is never asked
    assert [w for w in caught if issubclass(w.category, DeprecationWarning)] == []


def test_multiple_of_never_tries_the_divisor_rmod():
    assert items(Annotated[int, at.MultipleOf(Absorbing())], 4) == [
        ("multiple_of", (), "a multiple of Absorbing()", "4")
    ]


def test_multiple_of_uses_the_value_own_mod():
    class Even(int):
        def __mod__(self, other):
            return 0

    assert Validator(Annotated[int, at.MultipleOf(7)]).is_valid(Even(3))


def test_patterns_are_shared_by_threads():
    v = Validator(Annotated[str, pattern("[a-z]+[0-9]")])
    answers = []

    def run():
        answers.append([v.is_valid(s) for s in ("ab1", "AB1", "ab", "z9")])

    threads = [threading.Thread(target=run) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert answers == [[True, False, False, True]] * 8
