"""The algebra methods: is_empty, is_subtype_of, is_equivalent, simplify, open and close,
with the pool oracle that answers their questions about Python objects."""

import abc
import collections.abc
import dataclasses
import enum
import math
import pathlib
import sys
import threading
import types
import typing
from typing import Annotated, Any, Literal, Never

import annotated_types as at
import pytest

import quillmar._quillmar as qm

Validator = qm.Validator
V = Validator

class Base:
    pass


class Derived(Base):
    pass


@dataclasses.dataclass
class PointA:
    x: int


@dataclasses.dataclass
class PointB(PointA):
    pass


class Raises:
    """A bound whose every comparison raises the given exception."""

    def __init__(self, exception):
        self.exception = exception

    def _raise(self, other):
        raise self.exception

    __eq__ = __lt__ = __gt__ = __le__ = __ge__ = _raise
    __hash__ = object.__hash__


def raising(exception):
    def predicate(value):
        raise exception

    return predicate


def positive_sign(x):
    return math.copysign(1.0, x) > 0


class Unroundable(float):
    """A bound that orders like a float but interrupts when rounded to an integer."""

    def __floor__(self):
        raise KeyboardInterrupt

    __ceil__ = __floor__


# ---------------------------------------------------------------- is_empty

IS_EMPTY_ROWS = [
    (lambda: int, False),
    (lambda: qm.nothing, True),
    (lambda: Never, True),
    (lambda: qm.union(), True),
    (lambda: qm.union(qm.nothing, qm.intersection(int, str)), True),
    (lambda: qm.intersection(), False),
    (lambda: qm.complement(qm.anything), True),
    (lambda: qm.complement(qm.nothing), False),
    # intersections of disjoint kinds; bool with int overlap
    (lambda: qm.intersection(int, str), True),
    (lambda: qm.intersection(float, int), True),
    (lambda: qm.intersection(bool, int), False),
    (lambda: qm.intersection(int | None, str | bytes), True),
    (lambda: qm.intersection(list[int], tuple[int, ...]), True),
    # complement pairs, except for Any
    (lambda: qm.intersection(int, qm.complement(int)), True),
    (lambda: qm.intersection(qm.complement(Literal[3]), Literal[3]), True),
    (lambda: qm.intersection(list[str], qm.complement(list[str])), True),
    (lambda: qm.intersection(Any, qm.complement(Any)), False),
    (lambda: qm.complement(Any), False),
    (lambda: qm.complement(Literal[3]), False),
    # a literal never settles disjointness
    (lambda: qm.intersection(Literal[1], str), False),
    # contradictory bounds on int and on float
    (lambda: Annotated[int, at.Ge(3), at.Le(1)], True),
    (lambda: Annotated[int, at.Ge(3), at.Le(3)], False),
    (lambda: Annotated[int, at.Gt(3), at.Le(3)], True),
    (lambda: Annotated[int, at.Gt(3), at.Lt(4)], True),
    (lambda: Annotated[int, at.Ge(2.5), at.Le(2.9)], True),
    (lambda: Annotated[float, at.Gt(3), at.Lt(4)], False),
    (lambda: Annotated[float, at.Ge(2.5), at.Lt(2.5)], True),
    (lambda: qm.intersection(Annotated[int, at.Ge(5)], Annotated[int, at.Le(3)]), True),
    # 1 == 1.0, so a strict bound at either one closes the range; a str bound cannot be ordered
    (lambda: Annotated[int, at.Ge(1), at.Lt(1.0)], True),
    (lambda: Annotated[int, at.Ge(1), at.Le("a")], False),
    # lengths
    (lambda: Annotated[str, at.MinLen(5), at.MaxLen(3)], True),
    (lambda: Annotated[str, at.MinLen(3), at.MaxLen(3)], False),
    # sequences: an impossible position empties a fixed form, not a variadic one or a set
    (lambda: tuple[int, Never], True),
    (lambda: list[Never], False),
    (lambda: frozenset[Never], False),
    # required Never fields versus optional ones
    (lambda: {"a": int, "b": Never}, True),
    (lambda: {"a": int, "b?": Never}, False),
    # a repeated key stands for all its fields, and is required when any of them is
    (lambda: {"a": int, "a?": str}, True),
    (lambda: {"a?": Never, "a": int}, True),
    (lambda: {"a": int, "a?": bool}, False),
    # recursive bodies with and without a base case
    (lambda: qm.recursive(lambda r: tuple[int, r]), True),
    (lambda: qm.recursive(lambda r: {"next": r}), True),
    (lambda: qm.recursive(lambda r: int | list[r]), False),
    (lambda: qm.recursive(lambda r: list[r]), False),
    (lambda: qm.recursive(lambda r: {"next?": r}), False),
]


@pytest.mark.parametrize("make, empty", IS_EMPTY_ROWS)
def test_is_empty(make, empty):
    assert V(make()).is_empty() is empty


def definition_chain(length):
    """Definitions that each nest records around the one before, down to a required Never:
    every tree is shallow, but the decision path runs through all of them."""
    v = qm.nothing
    for _ in range(length):
        body = v
        for _ in range(90):
            body = {"k": body}
        try:
            v = qm.recursive(lambda r, body=body: body)
        except ValueError:  # as many definitions as a schema may hold
            break
    return v


def test_is_empty_cuts_off_a_path_longer_than_a_thread_stack_holds():
    assert definition_chain(3).is_empty() is True
    longest = definition_chain(qm.MAX_DEFINITIONS + 1)
    answers = []
    previous = threading.stack_size(4 << 20)  # a path of 10,000 records does not fit
    try:
        worker = threading.Thread(target=lambda: answers.append(longest.is_empty()))
        worker.start()
        worker.join()
    finally:
        threading.stack_size(previous)
    assert answers == [False]  # not proven within the nesting cap, and no crash


# ---------------------------------------------------------------- the pool oracle


class TestOracleClearsEveryException:
    @pytest.mark.parametrize("exception", [ValueError("boom"), KeyboardInterrupt(), SystemExit(3)])
    def test_a_bound_whose_comparison_raises(self, exception):
        v = V(Annotated[int, at.Ge(Raises(exception)), at.Le(1)])
        assert v.is_empty() is False
        assert V(Annotated[int, at.Ge(5)]).is_subtype_of(Annotated[int, at.Ge(Raises(exception))]) is False
        assert sys.exc_info() == (None, None, None)

    @pytest.mark.parametrize("exception", [ValueError("boom"), KeyboardInterrupt()])
    def test_a_predicate_that_raises_during_a_decision(self, exception):
        sup = Annotated[int, at.Predicate(raising(exception))]
        assert V(Literal[5]).is_subtype_of(sup) is False
        assert V(Literal[5]).is_subtype_of(Annotated[int, at.Predicate(lambda x: x > 0)]) is True

    @pytest.mark.parametrize(
        "lo, hi",
        [
            (at.Gt(3.5), at.Lt(math.inf)),  # math.floor(inf) raises OverflowError
            (at.Ge(math.nan), at.Le(math.nan)),  # no comparison holds
            (at.Ge("a"), at.Le("b")),  # ordered, but math.ceil('a') raises
            (at.Gt(Unroundable(3.5)), at.Lt(4)),  # math.floor interrupts
        ],
    )
    def test_bounds_the_integer_test_cannot_read(self, lo, hi):
        assert V(Annotated[int, lo, hi]).is_empty() is False

    def test_a_subclass_check_that_raises(self):
        class Meta(type):
            def __subclasscheck__(cls, sub):
                raise KeyboardInterrupt

        class Guarded(metaclass=Meta):
            pass

        assert V(Base).is_subtype_of(Guarded) is False

    def test_math_floor_and_ceil_are_read_once(self, monkeypatch):
        empty = Annotated[int, at.Gt(3), at.Lt(4)]
        assert V(empty).is_empty() is True

        def broken(x):
            raise AssertionError("math was read again")

        monkeypatch.setattr(math, "floor", broken)
        monkeypatch.setattr(math, "ceil", broken)
        assert V(empty).is_empty() is True


LEAF_ROWS = [
    # classes through their real bases
    (Derived, Base, True),
    (Base, Derived, False),
    (bool, int, True),
    # a literal through the membership walk, only where its type has no other equal value
    (Literal[5], int, True),
    (Literal[5], str, False),
    (Literal[True], int, True),
    (Literal["a"], str, True),
    (Literal[b"x"], bytes, True),
    (Literal[1.5], float, True),
    (Literal[5], Annotated[int, at.Ge(3)], True),
    # {1.0} is a member of the literal frozenset({1}) but not of frozenset[int]
    (frozenset({1}), frozenset[int], False),
    # -0.0 is a member of Literal[0.0] but fails the predicate
    (Literal[0.0], Annotated[float, at.Predicate(positive_sign)], False),
]


@pytest.mark.parametrize("sub, sup, expected", LEAF_ROWS)
def test_leaf_inclusion(sub, sup, expected):
    assert V(sub).is_subtype_of(sup) is expected


def test_literal_inclusion_is_refused_exactly_where_an_equal_value_escapes():
    # The reason the frozenset literal is not proven included: an equal frozenset of
    # floats is a member of the literal and not of frozenset[int].
    assert V(frozenset({1})).is_valid(frozenset({1.0}))
    assert not V(frozenset[int]).is_valid(frozenset({1.0}))


# ---------------------------------------------------------------- class inclusion
# A subclass test may be answered by a hook that judges a subclass of sub otherwise, so only a real base
# proves inclusion, and only where no hook on the way can refuse a member of sub.


class Unhashable(Base):
    __hash__ = None


class Measured:
    def __len__(self):
        return 0


class Unmeasured(Measured):
    __len__ = None


class Walkable:
    def __iter__(self):
        return iter(())


class Unwalkable(Walkable):
    __iter__ = None


class Picky(abc.ABC):
    """Refuses, as itself, any class that says so, whatever its bases."""

    @classmethod
    def __subclasshook__(cls, other):
        return False if cls is Picky and getattr(other, "refused", False) else NotImplemented


class PickyMember(Picky):
    pass


class PickyRefused(PickyMember):
    refused = True


class Outsider:
    pass


Picky.register(Outsider)


class OutsiderRefused(Outsider):
    refused = True


class AbstractDerived(Base, abc.ABC):
    pass


class Stranger:
    pass


AbstractDerived.register(Stranger)


class Judging(type):
    def __instancecheck__(cls, value):
        return getattr(value, "judged", False)


class Strict(metaclass=Judging):
    pass


class StrictChild(Strict):
    pass


class Judged(Base, metaclass=Judging):
    pass


@typing.runtime_checkable
class Closes(typing.Protocol):
    def close(self): ...


class File:
    def close(self):
        pass


class Shape(abc.ABC):
    pass


class Square(Shape):
    pass


class Box(collections.abc.Sized):
    def __len__(self):
        return 1


class Deck(collections.abc.Sequence):
    def __len__(self):
        return 0

    def __getitem__(self, index):
        raise IndexError(index)


class Colour(enum.Enum):
    RED = 1


class Level(enum.IntEnum):
    LOW = 1


# (sub, sup, a member of sub that sup refuses)
ESCAPING_MEMBER_ROWS = [
    (Base, collections.abc.Hashable, Unhashable()),
    (Measured, collections.abc.Sized, Unmeasured()),
    (Walkable, collections.abc.Iterable, Unwalkable()),
    # a hook that refuses a real subclass, and a registered class's subclass
    (PickyMember, Picky, PickyRefused()),
    (Outsider, Picky, OutsiderRefused()),
    # an abstract sub admits what is registered with it, which need not have the plain base
    (AbstractDerived, Base, Stranger()),
    # a metaclass's own instance test, on either side; a runtime protocol admits by structure
    (StrictChild, Strict, StrictChild()),
    (Judged, Base, types.SimpleNamespace(judged=True)),
    (Closes, typing.Generic, File()),
]


@pytest.mark.parametrize("sub, sup, member", ESCAPING_MEMBER_ROWS)
def test_class_inclusion_is_not_claimed_where_a_member_escapes(sub, sup, member):
    assert V(sub).is_valid(member) and not V(sup).is_valid(member)
    assert V(sub).is_subtype_of(sup) is False


@pytest.mark.parametrize(
    "sub, sup, proven",
    [
        (Derived, Base, True),
        (Square, Shape, True),
        # collections.abc's hooks never refuse a subclass, on sup or on the way down to sub
        (Box, collections.abc.Sized, True),
        (Deck, collections.abc.Sized, True),
        (Deck, collections.abc.Sequence, True),
        (Colour, enum.Enum, True),
        (Level, enum.IntEnum, True),
        (Level, enum.Enum, True),
        # registered, not a base: not proven, even where no subclass could escape
        (range, collections.abc.Sequence, False),
        (Base, Derived, False),
    ],
)
def test_class_inclusion_by_real_base(sub, sup, proven):
    assert V(sub).is_subtype_of(sup) is proven


# ---------------------------------------------------------------- is_subtype_of

SUBTYPE_ROWS = [
    (bool, int, True),
    (int, bool, False),
    (qm.nothing, int, True),
    (int, qm.anything, True),
    (qm.intersection(int, str), bytes, True),
    (qm.complement(int), qm.complement(bool), True),
    (Literal["a"], qm.complement(int), False),
    (int | str, str | int | None, True),
    (int | str, int, False),
    # Any is not the set of all values for the decision
    (int, Any, False),
    (qm.anything, Any, False),
    (Literal[1], Any, True),
    (Any, qm.anything, True),
    (Any, Any, True),
    (Any, int, False),
    # containers
    (list[bool], list[int], True),
    (list[int], list[int | str], True),
    (tuple[int, str], tuple[int, ...], False),
    (tuple[int, int], tuple[int, ...], True),
    (list[int], tuple[int, ...], False),
    (tuple[int, ...], list[int], False),
    # at least one int (a prefix of one, then a tail) within any number, not the reverse
    (tuple[int, int, ...], tuple[int, ...], True),
    (tuple[int, ...], tuple[int, int, ...], False),
    ([int, int, ...], list[int], True),
    (list[int], [int, int, ...], False),
    (set[bool], set[int], True),
    ({"a": int}, {"a": int, "b?": str}, True),
    ({"a": int, "b": str}, {"a": int}, False),
    ({"a": int}, dict[str, int], True),
    ({"a": int}, {Literal["a"]: int}, False),
    (dict[str, int], dict[str, int | float], True),
    # an optional field the subtype does not declare takes every extras value
    (dict[str, int], {"b?": int, str: int}, True),
    (dict[str, int], {"b?": str, str: int}, False),
    (dict[str, int], {"b": int, str: int}, False),
    ({"a": bool, str: bool}, {"a": int, str: int}, True),
    # refinements
    (Annotated[int, at.Ge(5)], Annotated[int, at.Ge(3)], True),
    (Annotated[int, at.Ge(5)], int, True),
    (int, Annotated[int, at.Ge(3)], False),
    (Annotated[str, at.MinLen(3)], Annotated[str, at.MinLen(2)], True),
    # objects of different classes are never proven, even a subclass
    (PointB, PointA, False),
    (PointA, PointA, True),
]


@pytest.mark.parametrize("sub, sup, expected", SUBTYPE_ROWS)
def test_is_subtype_of(sub, sup, expected):
    assert V(sub).is_subtype_of(sup) is expected
    # a validator operand is the same question
    assert V(sub).is_subtype_of(V(sup)) is expected


class TestRepeatedRecordKeys:
    """A key declared twice stands for both fields: its value must match each, and it is
    required when either is."""

    def test_on_the_right_the_value_must_fit_every_field(self):
        sup = {"a": bool, "a?": int}
        assert not V(sup).is_valid({"a": 2})
        assert V({"a": int}).is_subtype_of(sup) is False
        assert V({"a": bool}).is_subtype_of(sup) is True

    def test_on_the_left_the_value_matches_every_field(self):
        sub = {"a": int, "a?": bool}
        assert V(sub).is_subtype_of({"a": bool}) is True
        assert V(sub).is_subtype_of({"a": str}) is False


class TestRecursive:
    def test_two_spellings_of_one_recursive_schema(self):
        a = qm.recursive(lambda r: list[r])
        b = qm.recursive(lambda s: list[s])
        assert a.is_subtype_of(b) and b.is_subtype_of(a)
        assert a.is_equivalent(b)

    def test_a_recursive_schema_within_a_wider_one(self):
        narrow = qm.recursive(lambda r: int | list[r])
        wide = qm.recursive(lambda r: int | str | list[r])
        assert narrow.is_subtype_of(wide) is True
        assert wide.is_subtype_of(narrow) is False

    def test_values_past_the_recursion_limit_are_outside_the_contract(self):
        # Both denote int and nested lists of ints, but the check refuses a value that
        # needs more than MAX_RECURSION_LEVELS unfoldings, which the second reaches later.
        one_level = qm.recursive(lambda r: int | list[r])
        two_levels = qm.recursive(lambda r: int | list[int | list[r]])
        assert two_levels.is_subtype_of(one_level) is True
        deep = 1
        for _ in range(200):
            deep = [deep]
        assert two_levels.is_valid(deep) and not one_level.is_valid(deep)
        readme = (pathlib.Path(__file__).parent.parent / "README.md").read_text()
        decisions = readme.split("## Decisions", 1)[1].split("\n## ", 1)[0]
        for clause in ["sets the schemas denote", "well-behaved", "side-effect-free", "`MAX_RECURSION_LEVELS`"]:
            assert clause in decisions


class TestOperand:
    def test_argument_errors(self):
        v = V(int)
        cases = [
            (lambda: v.is_subtype_of(), "Validator.is_subtype_of() missing 1 required positional argument: 'other'"),
            (lambda: v.is_subtype_of(int, str), "Validator.is_subtype_of() takes 1 positional arguments but 2 were given"),
            (lambda: v.is_equivalent(oth=int), "Validator.is_equivalent() got an unexpected keyword argument 'oth'"),
        ]
        for call, message in cases:
            with pytest.raises(TypeError) as info:
                call()
            assert str(info.value) == message
        assert v.is_subtype_of(other=bool) is False
        assert v.is_equivalent(other=int) is True

    @pytest.mark.parametrize("method", ["is_subtype_of", "is_equivalent"])
    def test_an_operand_the_compiler_refuses_raises_its_error(self, method):
        with pytest.raises(NotImplementedError, match="a tuple literal is not a schema"):
            getattr(V(int), method)((int, str))

    def test_an_operand_past_the_limits_is_decided(self):
        deep = V(int)
        while True:  # as deep as the limit allows
            try:
                deep = V(list[deep])
            except ValueError:
                break
        assert deep.is_subtype_of(list[list[deep]]) is False
        assert V(int).is_subtype_of(int | list[list[deep]]) is True

    def test_the_receiver_is_unchanged(self):
        v = V(int | str)
        before = v.__copy__()
        v.is_subtype_of(int | str | bytes)
        v.is_equivalent(str | int)
        assert v == before


def test_a_decision_past_the_budget_answers_false():
    def pair(n):
        # every member of the left is in the right, found only after a long scan
        sub = qm.union(*[list[Literal[i]] for i in range(n)])
        sup = qm.union(*[list[Literal[i]] for i in reversed(range(n))])
        return sub, sup

    sub, sup = pair(50)
    assert sub.is_subtype_of(sup) is True
    sub, sup = pair(1500)
    assert sub.is_subtype_of(sup) is False
    assert sub.is_equivalent(sup) is False


# ---------------------------------------------------------------- is_equivalent

EQUIVALENT_ROWS = [
    (bool | int, int, True),
    (int, bool, False),
    (str | int, int | str, True),
    (qm.complement(qm.complement(int)), int, True),
    (qm.intersection(int, str), qm.nothing, True),
    (int | qm.complement(bool), qm.anything, True),
    (list[bool | int], list[int], True),
    (Annotated[int, at.Ge(3)], Annotated[int, at.Ge(3)], True),
]


@pytest.mark.parametrize("a, b, expected", EQUIVALENT_ROWS)
def test_is_equivalent(a, b, expected):
    assert V(a).is_equivalent(b) is expected
    assert V(b).is_equivalent(a) is expected


def test_is_equivalent_stops_when_the_first_direction_fails():
    calls = []

    def counted(x):
        calls.append(x)
        return True

    refined = Annotated[int, at.Predicate(counted)]
    # refined within Literal[5] is not proven; the reverse would walk 5 through the predicate
    assert V(refined).is_equivalent(Literal[5]) is False
    assert calls == []
    assert V(Literal[5]).is_subtype_of(refined) is True
    assert calls == [5]


# ---------------------------------------------------------------- simplify

PROBES = [None, True, 0, 1, 3, 5, 7, -1, 1.5, "", "a", "abc", b"x", [], [1], [1, "a"], {}, {"a": 1}, {"a": "x"}]

SIMPLIFY_ROWS = [
    (lambda: qm.union(int, int, str), "int | str"),
    (lambda: qm.union(str, int), "int | str"),
    (lambda: qm.union(int, qm.nothing), "int"),
    (lambda: qm.union(), "nothing"),
    (lambda: qm.intersection(), "anything"),
    (lambda: qm.union(int, qm.union(str, bytes)), "int | str | bytes"),
    (lambda: qm.intersection(bool, int), "intersection(bool, int)"),
    (lambda: qm.intersection(int, qm.complement(int)), "nothing"),
    (lambda: qm.union(list[int], qm.complement(list[int])), "anything"),
    (lambda: qm.complement(qm.anything), "nothing"),
    (lambda: qm.union(int, qm.complement(bool)), "anything"),
    (lambda: qm.union(qm.complement(int), qm.complement(str)), "anything"),
    (lambda: qm.intersection(int, str), "nothing"),
    (lambda: qm.complement(qm.complement(int)), "int"),
    (lambda: qm.complement(int | str), "intersection(complement(int), complement(str))"),
    (lambda: qm.union(Literal[2], Literal[1]), "Literal[2] | Literal[1]"),
    (lambda: qm.union(Any, qm.complement(Any)), "Any | complement(Any)"),
    (lambda: V(Annotated[V(Annotated[int, at.Le(5)]), at.Ge(1)]), "Annotated[int, Ge(1), Le(5)]"),
    # the same bound object is one pool entry, so its repeat goes; bounds stay in pool order, unmerged
    (lambda: V(Annotated[V(Annotated[int, at.Ge(1)]), at.Ge(1)]), "Annotated[int, Ge(1)]"),
    (lambda: V(Annotated[V(Annotated[int, at.Ge(2)]), at.Ge(1)]), "Annotated[int, Ge(2), Ge(1)]"),
    (lambda: {"a": int, "a?": str}, "{'a': int, 'a?': str}"),
    (lambda: list[qm.union(str, int, str)], "list[int | str]"),
]


@pytest.mark.parametrize("make, text", SIMPLIFY_ROWS)
def test_simplify(make, text):
    v = V(make())
    before = v.__copy__()
    s = v.simplify()
    assert s is not v and v == before
    assert s.simplify() == s
    for value in PROBES:
        assert s.is_valid(value) == v.is_valid(value), value
    assert repr(s) == text


def test_simplify_leaves_definitions_alone():
    r = qm.recursive(lambda r: qm.union(int, int, list[r]))
    s = r.simplify()
    assert s == r  # the root is a Ref; the body is carried over as it is
    assert s.is_valid([1, [2, []]]) and not s.is_valid([1, "x"])


def test_simplify_can_grow_past_the_node_limit():
    n = 60_000  # the union and its complement fit; the intersection of n complements does not
    v = qm.complement(qm.union(*[Literal[i] for i in range(n)]))
    with pytest.raises(ValueError, match="schema is too large"):
        v.simplify()


# ---------------------------------------------------------------- open and close


class TestOpenClose:
    def test_open_and_close(self):
        v = V({"a": int})
        before = v.__copy__()
        opened, closed = v.open(), v.close()
        assert opened is not v and closed is not v and v == before
        assert opened.is_valid({"a": 1, "b": "x"})
        assert not closed.is_valid({"a": 1, "b": "x"})
        assert not V({"a": int, str: int}).close().is_valid({"a": 1, "b": 2})
        assert opened.close() == closed

    def test_a_record_without_fields_keeps_its_extras(self):
        assert V(dict[str, int]).close().is_valid({"k": 1})
        assert not V(dict[str, int]).open().is_valid({"k": "x"})

    def test_records_behind_a_ref_are_opened_and_closed(self):
        chain = qm.recursive(lambda r: {"a": int, "next?": r})
        deep_extra = {"a": 1, "next": {"a": 2, "extra": True}}
        assert not chain.is_valid(deep_extra)
        assert chain.open().is_valid(deep_extra)
        assert not chain.open().close().is_valid(deep_extra)
        assert chain.open().close() == chain
        assert chain.is_subtype_of(chain.open()) is True
        assert chain.open().is_subtype_of(chain) is False
        assert chain.close().is_equivalent(chain) is True

    def test_text_signatures(self):
        for name in ["is_empty", "open", "close", "simplify"]:
            assert getattr(Validator, name).__text_signature__ == "($self)"
        for name in ["is_subtype_of", "is_equivalent"]:
            assert getattr(Validator, name).__text_signature__ == "($self, other)"


DOCSTRINGS = {
    "is_empty": (
        "Whether the schema is unsatisfiable \u2014 provably empty, so `is_valid`\n"
        "returns `False` for every value.\n\n"
        "Decided soundly: `True` only when no value can belong to the schema \u2014 an\n"
        "unsatisfiable intersection, a fixed sequence with an impossible position,\n"
        "a record with an impossible required field, a refinement whose bounds\n"
        "cannot hold together (a lower bound above an upper bound, or a minimum\n"
        "length above a maximum), or a recursive schema with no base case (a\n"
        "mandatory self-reference that can never bottom out). It never reports a\n"
        "satisfiable schema as empty; for forms it cannot decide it returns `False`.\n"
        "The decision is also bounded by a fixed work budget, so on a deeply nested\n"
        "adversarial schema a `False` can mean \"not proven empty within the bound\"\n"
        "rather than \"non-empty\"; a real schema decides far inside the bound.\n\n"
        "Returns:\n"
        "    `True` if the schema denotes the empty set, else `False`."
    ),
    "is_subtype_of": """Whether every value of this schema is also a value of `other` \u2014 set
inclusion, the subtyping relation.

`other` is any schema spec or compiled validator. The decision is sound:
`True` only when the inclusion provably holds (`bool` is a subtype of
`int`, `list[bool]` of `list[int]`, a recursive schema of a wider one, a
class of a base class). For the forms it cannot decide \u2014 an alternation of
sequence shapes, or a leaf relation the oracle declines \u2014 it returns
`False` rather than a relation it cannot justify. The decision is bounded by
a fixed work budget, so on a deeply nested adversarial schema a `False` can
mean "not proven a subtype within the bound"; a real schema decides far
inside the bound.

Args:
    other: The candidate supertype, as a schema spec or validator.

Returns:
    `True` if this schema is a subtype of `other`, else `False`.""",
    "is_equivalent": """Whether this schema and `other` denote the same set \u2014 mutual inclusion.

`other` is any schema spec or compiled validator. Sound, like
`is_subtype_of`: `True` only when the two are provably equivalent,
whatever their syntax (`bool | int` is equivalent to `int`). Bounded by the
same work budget as `is_subtype_of`, so on a deeply nested adversarial
schema a `False` can mean "not proven equivalent within the bound".

Args:
    other: The schema to compare, as a spec or validator.

Returns:
    `True` if the two schemas are equivalent, else `False`.""",
    "open": """Open every record in the schema: undeclared keys are admitted throughout.

Returns a new validator; this one is unchanged.

Returns:
    A validator whose every record admits keys beyond those declared.""",
    "close": """Close every record in the schema: only declared keys are admitted
throughout. The inverse of `open`.

Returns a new validator; this one is unchanged.

Returns:
    A validator whose every record admits only its declared keys.""",
    # The last clause owns up to the growth that test_simplify_can_grow_past_the_node_limit shows.
    "simplify": """An equivalent validator reduced by the lattice laws.

The result admits exactly the same values in a simpler form (flattened
and deduplicated unions and intersections, identities applied,
complements in negation-normal form). Returns a new validator; this one
is unchanged.

Returns:
    A validator denoting the same set in negation-normal form.

Raises:
    ValueError: If negation-normal form expands the schema past the size
        bound (distributing a complement over a wide union can grow the
        node count); a schema built within the bounds can still exceed
        it this way, and then `ValueError` is raised.""",
}


@pytest.mark.parametrize("name", DOCSTRINGS)
def test_docstrings(name):
    assert getattr(Validator, name).__doc__ == DOCSTRINGS[name]
