"""The composite schema forms: subscripted generics, list and dict literals, typed dicts, dataclasses,
named tuples and Annotated constraints."""

import collections
import collections.abc
import dataclasses
import functools
import operator
import re
import subprocess
import sys
import textwrap
import typing
from typing import (
    Annotated,
    Any,
    Callable,
    ClassVar,
    Dict,
    List,
    Literal,
    NamedTuple,
    NotRequired,
    Optional,
    Protocol,
    Required,
    Tuple,
    TypedDict,
    Union,
)

import annotated_types as at
import pytest

from quillmar import ValidationError, Validator


class Meta:
    """A metadata item that carries exactly the attributes it is given."""

    def __init__(self, **attributes):
        self.__dict__.update(attributes)

    def __repr__(self):
        return f"Meta({self.__dict__})"


class TD(TypedDict):
    a: int
    b: NotRequired[str]


class Partial(TypedDict, total=False):
    a: Required[int]
    b: str


@dataclasses.dataclass
class Point:
    x: int
    y: int = 0


@dataclasses.dataclass
class Point3(Point):
    z: str = ""


class Pair(NamedTuple):
    left: int
    right: str


Plain = collections.namedtuple("Plain", "a b")


@dataclasses.dataclass
class Tagged:
    tags: list = dataclasses.field(default_factory=list)


# A default does not make a field optional: an instance without the attribute is no member.
UNTAGGED = Tagged()
del UNTAGGED.tags



# --- compiled nodes, compared through an equivalent spelling -------------------------------------------------

EQUAL = [
    ([int], list[int]),
    ([int, ...], list[int]),
    (List[int], list[int]),
    (Optional[int], int | None),
    (Union[int, str], int | str),
    (Union[int, None], Optional[int]),
    (Literal["a"], "a"),
    (Literal[None], None),
    (Literal[int], int),
    (Literal[1, None], Union[Literal[1], None]),
    (Literal["a", "b"], Literal["a"] | Literal["b"]),
    (Required[int], int),
    (NotRequired[int], int),
    ({str: int}, dict[str, int]),
    (Dict[str, int], dict[str, int]),
    (Tuple, tuple[()]),
    (Tuple[int, ...], tuple[int, ...]),
    (Callable[[int], str], Callable),
    (Callable[..., int], collections.abc.Callable[[str], bytes]),
    (TD, {"a": int, "b?": str}),
    (Partial, {"a": int, "b?": str}),
    ({"a": NotRequired[int]}, {"a": int}),
    (list[Annotated[int, "doc"]], list[int]),
    (Annotated[int, "doc", None], int),
    (frozenset[Literal[1]], frozenset[1]),
]


@pytest.mark.parametrize("schema, same", EQUAL)
def test_equivalent_spellings_compile_to_one_node(schema, same):
    assert Validator(schema) == Validator(same)


def test_typed_dicts_match_structurally():
    class Other(TypedDict):
        a: int
        b: NotRequired[str]

    assert Validator(TD) == Validator(Other)


DIFFERENT = [
    (tuple[int], tuple[int, ...]),
    ([int], tuple[int, ...]),
    ([int, str], tuple[int, str]),
    ([], [int]),
    ([int, str], [int, str, ...]),
    (tuple[()], tuple[int, ...]),
    (Union[int, str], Union[str, int]),
    (Literal[1], Literal[True]),
    (Literal[True], bool),
    ({"a": int}, {"a?": int}),
    ({"a?": int}, {"a??": int}),
    ({"?": int}, {"": int}),
    ({"a": int, "a?": int}, {"a": int}),
    ({"a": int, str: int}, {"a": int}),
    (set[int], frozenset[int]),
]


@pytest.mark.parametrize("schema, other", DIFFERENT)
def test_distinct_forms_stay_distinct(schema, other):
    assert Validator(schema) != Validator(other)


def test_object_classes_are_told_apart_by_class():
    @dataclasses.dataclass
    class Twin:
        x: int
        y: int = 0

    assert Validator(Point) == Validator(Point)
    assert Validator(Point) != Validator(Twin)


MEMBERS = [
    ([], [[]], [[1], ()]),
    ([int], [[], [1, 2]], [[1, "a"], (1,)]),
    ([int, str], [[1, "a"]], [[1], [1, "a", 2], ["a", 1]]),
    ([int, str, ...], [[1], [1, "a", "b"]], [[], [1, 2]]),
    (tuple[int], [(1,)], [(), (1, 2), [1]]),
    (tuple[()], [()], [(1,)]),
    (Tuple, [()], [(1,)]),
    (tuple[int, str, ...], [(1,), (1, "a", "b")], [(), ("a",)]),
    (set[int], [set(), {1, 2}], [{"a"}, frozenset({1}), [1]]),
    (frozenset[int], [frozenset(), frozenset({1})], [{1}, frozenset({"a"})]),
    (Callable[[int], str], [len, int], [1, "len"]),
]


@pytest.mark.parametrize("schema, accepted, rejected", MEMBERS)
def test_container_forms_admit_their_members(schema, accepted, rejected):
    checker = Validator(schema)
    assert all(checker.is_valid(value) for value in accepted)
    assert not any(checker.is_valid(value) for value in rejected)


@pytest.mark.parametrize(
    "schema, accepted, rejected",
    [
        (Literal[()], [], [None, 0, ()]),
        (Optional[int], [None, 3], ["3"]),
        (Literal[1, None], [1, None], [2, True]),
    ],
)
def test_union_forms(schema, accepted, rejected):
    checker = Validator(schema)
    assert all(checker.is_valid(value) for value in accepted)
    assert not any(checker.is_valid(value) for value in rejected)


@pytest.mark.parametrize(
    "schema, accepted, rejected",
    [
        (TD, [{"a": 1}, {"a": 1, "b": "x"}], [{"b": "x"}, {"a": 1, "c": 2}, {"a": "1"}]),
        (Partial, [{"a": 1}, {"a": 1, "b": "x"}], [{}, {"b": "x"}]),
        ({"a??": int}, [{}, {"a?": 1}], [{"a": 1}]),
        ({"?": int}, [{}, {"": 1}], [{"?": 1}]),
        ({"a": int, str: int}, [{"a": 1, "z": 2}], [{"a": 1, "z": "2"}, {"z": 2}]),
        ({1: str}, [{1: "x"}, {}], [{2: "x"}, {1: 2}]),
        (dict[str, int], [{}, {"a": 1}], [{1: 1}, {"a": "1"}, [("a", 1)]]),
    ],
)
def test_record_forms(schema, accepted, rejected):
    checker = Validator(schema)
    assert all(checker.is_valid(value) for value in accepted)
    assert not any(checker.is_valid(value) for value in rejected)


@pytest.mark.parametrize(
    "schema, accepted, rejected",
    [
        (Point, [Point(1, 2), Point3(1, 2, "z")], [Point("1", 2), (1, 2), {"x": 1, "y": 2}]),
        (Point3, [Point3(1, 2, "z")], [Point3(1, 2, 3), Point(1, 2)]),
        (Pair, [Pair(1, "a")], [Pair("1", "a"), (1, "a")]),
        (Plain, [Plain(1, 2), Plain("anything", None)], [(1, 2)]),
        (Tagged, [Tagged(), Tagged([1])], [UNTAGGED]),
    ],
)
def test_object_forms(schema, accepted, rejected):
    checker = Validator(schema)
    assert all(checker.is_valid(value) for value in accepted)
    assert not any(checker.is_valid(value) for value in rejected)


def test_object_fields_follow_the_hints_order():
    with pytest.raises(ValidationError) as raised:
        Validator(Point3).validate(Point3("a", "b", 3))
    assert [error["path"] for error in raised.value.errors] == [("x",), ("y",), ("z",)]


# --- compile errors ------------------------------------------------------------------------------------------

class Unchecked(Protocol):
    def run(self) -> None: ...


def _annotated_with(metadata):
    form = Meta(__origin__=int)
    form.__metadata__ = metadata
    return form


UNSUPPORTED = "unsupported typing form with origin {}; supported: list, set, dict, tuple, Union, Optional, Literal, Callable"
TUPLE_ELLIPSIS = "`...` may appear only as the last element of a tuple schema"
LIST_ELLIPSIS = "`...` may appear only as the last element of a list schema"
ONE_ARGUMENT = "expected exactly one type argument"
DICT_ARITY = "dict[...] needs a key type and a value type"
SURROGATE = "a record key must be valid Unicode; a field name cannot contain a lone surrogate"
ZERO_DIVISOR = "MultipleOf(0) is not a valid constraint: no value is a multiple of zero. Use a nonzero divisor."

ERRORS = [
    ((1, int), NotImplementedError, "a tuple literal is not a schema; write a fixed-length tuple as tuple[A, B] "
     "(the list literal [A, B] is the fixed-length list)"),
    ({int}, NotImplementedError, "a set literal is not a schema; write a set as set[T]"),
    (tuple[...], NotImplementedError, TUPLE_ELLIPSIS),
    (tuple[..., int], NotImplementedError, TUPLE_ELLIPSIS),
    (tuple[int, ..., ...], NotImplementedError, TUPLE_ELLIPSIS),
    ([...], NotImplementedError, LIST_ELLIPSIS),
    ([..., int], NotImplementedError, LIST_ELLIPSIS),
    ([int, ..., ...], NotImplementedError, LIST_ELLIPSIS),
    (list[int, str], NotImplementedError, ONE_ARGUMENT),
    (List, NotImplementedError, ONE_ARGUMENT),
    (set[int, str], NotImplementedError, ONE_ARGUMENT),
    (frozenset[()], NotImplementedError, ONE_ARGUMENT),
    (typing._GenericAlias(Required, (int, str)), NotImplementedError, ONE_ARGUMENT),
    (dict[str], NotImplementedError, DICT_ARITY),
    (Dict, NotImplementedError, DICT_ARITY),
    (type[int], NotImplementedError, UNSUPPORTED.format("<class 'type'>")),
    (collections.abc.Sequence[int], NotImplementedError, UNSUPPORTED.format("<class 'collections.abc.Sequence'>")),
    (ClassVar[int], NotImplementedError, UNSUPPORTED.format("typing.ClassVar")),
    (list[ClassVar[int]], NotImplementedError, UNSUPPORTED.format("typing.ClassVar")),
    # an unpacked tuple splices its elements: never read as a nested tuple
    (tuple[*tuple[int, ...]], NotImplementedError, UNSUPPORTED.format("typing.Unpack")),
    (tuple[int, *tuple[str, ...]], NotImplementedError, UNSUPPORTED.format("typing.Unpack")),
    (Tuple[int, *Tuple[str, ...]], NotImplementedError, UNSUPPORTED.format("typing.Unpack")),
    (list[*tuple[int]], NotImplementedError, UNSUPPORTED.format("typing.Unpack")),
    (Unchecked, NotImplementedError, "a Protocol must be @runtime_checkable to be used as a schema"),
    ({"a": int, "\ud800": int}, ValueError, SURROGATE),
    (TypedDict("Surrogate", {"\udfff": int}), ValueError, SURROGATE),
    (_annotated_with([at.Ge(1)]), TypeError, "'list' object is not an instance of 'tuple'"),
    (_annotated_with(None), TypeError, "'None' is not an instance of 'tuple'"),
    (Annotated[int, at.MultipleOf(0)], ValueError, ZERO_DIVISOR),
    (Annotated[float, Meta(multiple_of=0.0)], ValueError, ZERO_DIVISOR),
    (Annotated[int, Meta(multiple_of=False)], ValueError, ZERO_DIVISOR),
    (Annotated[str, Meta(pattern="[")], ValueError, 'invalid regular expression "[": missing ]: ['),
]


@pytest.mark.parametrize("schema, error, message", ERRORS)
def test_compile_errors(schema, error, message):
    with pytest.raises(error) as raised:
        Validator(schema)
    assert type(raised.value) is error
    assert str(raised.value) == message


def test_class_field_errors():
    @dataclasses.dataclass
    class WithClassVar:
        x: int
        limit: ClassVar[int] = 3

    @dataclasses.dataclass
    class Forward:
        x: "Undefined"  # noqa: F821

    with pytest.raises(NotImplementedError, match=re.escape(UNSUPPORTED.format("typing.ClassVar"))):
        Validator(WithClassVar)
    with pytest.raises(NameError, match="Undefined"):
        Validator(Forward)


@pytest.mark.parametrize("hint", [dataclasses.InitVar[int], dataclasses.InitVar])
def test_dataclass_init_only_field_is_refused(hint):
    @dataclasses.dataclass
    class Scaled:
        value: int
        factor: hint = 1

        def __post_init__(self, factor):
            self.value *= factor

    with pytest.raises(NotImplementedError) as raised:
        Validator(Scaled)
    assert str(raised.value) == (
        f"{hint!r} is a dataclass init-only field, not an attribute, and cannot be part of a schema"
    )


class Mutator:
    """A schema whose compile runs Python code that edits the dict being compiled."""

    def __init__(self, edit):
        self.edit = edit

    def __getattr__(self, name):
        if name == "__metadata__":
            self.edit()
        raise AttributeError(name)


def _grow(target):
    target["added"] = int


def _swap(target):
    del target["first"]
    target["added"] = int


@pytest.mark.parametrize(
    "edit, message",
    [(_grow, "dictionary changed size during iteration"), (_swap, "dictionary keys changed during iteration")],
)
def test_dict_literal_changed_while_compiling(edit, message, capfd):
    schema = {}
    schema["first"] = Mutator(lambda: edit(schema))
    schema["second"] = int
    with pytest.raises(RuntimeError) as raised:
        Validator(schema)
    assert type(raised.value) is RuntimeError
    assert str(raised.value) == message
    assert capfd.readouterr().err == ""


def test_list_literal_items_are_read_when_compiled():
    replacing = [None, int]
    replacing[0] = Mutator(lambda: replacing.__setitem__(1, str))
    assert Validator(replacing) == Validator([replacing[0], str])
    shrinking = [None, int]
    shrinking[0] = Mutator(shrinking.clear)
    with pytest.raises(IndexError):
        Validator(shrinking)


def test_class_hints_changed_while_compiling(monkeypatch, capfd):
    hints = {}
    hints["first"] = Mutator(lambda: hints.setdefault("added", int))
    hints["second"] = int
    monkeypatch.setattr(typing, "get_type_hints", lambda cls, include_extras=False: hints)

    @dataclasses.dataclass
    class Anything:
        pass

    for schema in (Anything, TD):
        hints.pop("added", None)
        with pytest.raises(RuntimeError, match="^dictionary changed size during iteration$"):
            Validator(schema)
    assert capfd.readouterr().err == ""


@pytest.mark.parametrize(
    "hints, message",
    [([("a", int)], "'list' object is not an instance of 'dict'"), (None, "'None' is not an instance of 'dict'")],
)
@pytest.mark.parametrize("schema", [Point, TD])
def test_type_hints_that_are_not_a_dict(monkeypatch, schema, hints, message):
    monkeypatch.setattr(typing, "get_type_hints", lambda cls, include_extras=False: hints)
    with pytest.raises(TypeError) as raised:
        Validator(schema)
    assert str(raised.value) == message


LOAD_REENTRY = textwrap.dedent(
    """
    import sys
    import quillmar

    class Finder:
        # Compiles from inside the first compile's load of the typing objects.
        def find_spec(self, name, path=None, target=None):
            if name == "enum":
                sys.meta_path.remove(self)
                try:
                    quillmar.Validator(int)
                except RuntimeError as error:
                    print("nested:", error)
            return None

    assert "enum" not in sys.modules
    sys.meta_path.insert(0, Finder())
    print("outer:", repr(quillmar.Validator(list[int])))
    """
)


def test_compile_during_the_typing_load_fails_instead_of_hanging():
    done = subprocess.run([sys.executable, "-c", LOAD_REENTRY], capture_output=True, text=True, timeout=20)
    assert done.returncode == 0, done.stderr
    nested, outer = done.stdout.splitlines()
    assert nested.startswith("nested: a schema cannot be compiled while this thread is loading")
    assert outer == "outer: list[int]"


# --- Annotated metadata ---------------------------------------------------------------------------------------

class Indexable:
    def __index__(self):
        return 3


class Unequal:
    def __eq__(self, other):
        raise ValueError("no comparison")

    __hash__ = object.__hash__


UNEQUAL = Unequal()


class Exploding:
    """Every attribute read raises: the item counts as having none."""

    def __getattr__(self, name):
        raise ValueError(name)


class LeOnly:
    @property
    def ge(self):
        raise KeyError("ge")

    le = 5


def is_small(value):
    return value < 10


class CallableWithFunc:
    func = staticmethod(is_small)

    def __call__(self, value):
        return True


CALLABLE_ITEM = CallableWithFunc()
NOT_SMALL = at.Not(is_small)
POSITIVE = functools.partial(operator.lt, 0)

ANNOTATED_EQUAL = [
    (Annotated[int, Meta(ge=1, gt=2, le=3, lt=4)], Annotated[int, at.Ge(1), at.Gt(2), at.Le(3), at.Lt(4)]),
    (Annotated[int, at.Interval(ge=1, le=9)], Annotated[int, at.Ge(1), at.Le(9)]),
    (Annotated[int, Meta(ge=None, le=5)], Annotated[int, at.Le(5)]),
    (Annotated[str, at.Len(1, 3)], Annotated[str, at.MinLen(1), at.MaxLen(3)]),
    (Annotated[str, Meta(min_length=True)], Annotated[str, at.MinLen(1)]),
    (Annotated[str, Meta(min_length=Indexable())], Annotated[str, at.MinLen(3)]),
    (Annotated[str, Meta(max_length=0)], Annotated[str, at.MaxLen(0)]),
    (Annotated[str, Meta(min_length=-1)], str),
    (Annotated[str, Meta(min_length=1.5)], str),
    (Annotated[str, Meta(min_length=None)], str),
    (Annotated[str, Meta(max_length=-1)], str),
    (Annotated[str, Meta(max_length=2**64)], str),
    (Annotated[str, Meta(max_length=None, min_length=2**64 - 1)], Annotated[str, at.MinLen(2**64 - 1)]),
    (Annotated[int, Meta(multiple_of=None)], int),
    (Annotated[int, Meta(multiple_of=UNEQUAL)], Annotated[int, at.MultipleOf(UNEQUAL)]),
    (Annotated[str, Meta(pattern="[a-z]+", ge=1, min_length=2)], Annotated[str, Meta(pattern="[a-z]+")]),
    (Annotated[str, Meta(pattern=b"[a-z]+", ge=1)], Annotated[str, at.Ge(1)]),
    (Annotated[str, Meta(pattern=3, ge=1)], Annotated[str, at.Ge(1)]),
    (Annotated[str, Meta(pattern=None, ge=1)], Annotated[str, at.Ge(1)]),
    (Annotated[str, Meta(pattern="\ud800", ge=1)], Annotated[str, at.Ge(1)]),
    (Annotated[str, re.compile(r"\d+")], Annotated[str, Meta(pattern=r"\d+")]),
    (Annotated[int, Exploding()], int),
    (Annotated[int, LeOnly()], Annotated[int, at.Le(5)]),
    (Annotated[int, Meta(func=is_small)], Annotated[int, at.Predicate(is_small)]),
    (Annotated[int, Meta(func=3)], int),
    (Annotated[int, int], Annotated[int, at.Predicate(int)]),
    (Annotated[int, is_small], Annotated[int, at.Predicate(is_small)]),
    (Annotated[int, at.Interval(ge=1, le=9), at.Gt(0)], Annotated[int, at.Ge(1), at.Le(9), at.Gt(0)]),
    # a callable item is its own predicate, whatever its func says
    (Annotated[int, NOT_SMALL], Annotated[int, at.Predicate(NOT_SMALL)]),
    (Annotated[int, POSITIVE], Annotated[int, at.Predicate(POSITIVE)]),
    (Annotated[int, CALLABLE_ITEM], Annotated[int, at.Predicate(CALLABLE_ITEM)]),
]


# The constraints each spelling yields, read back through repr(): which attributes were read, and in what order.
METADATA_READ = [
    ((at.Ge(1), at.Gt(2), at.Le(3), at.Lt(4)), "Ge(1), Gt(2), Le(3), Lt(4)"),
    ((at.Le(3), at.Ge(1)), "Le(3), Ge(1)"),
    ((at.Interval(gt=0, le=9),), "Gt(0), Le(9)"),
    ((at.MinLen(1), at.MaxLen(3), at.Len(2, 5)), "MinLen(1), MaxLen(3), MinLen(2), MaxLen(5)"),
    ((at.MultipleOf(3), at.Predicate(is_small)), "MultipleOf(3), Predicate(...)"),
    ((Meta(lt=4, le=3, gt=2, ge=1),), "Ge(1), Gt(2), Le(3), Lt(4)"),
    ((Meta(func=is_small, multiple_of=2, max_length=3, min_length=1, le=7),),
     "Le(7), MinLen(1), MaxLen(3), MultipleOf(2), Predicate(...)"),
    ((Meta(pattern="a+", ge=1), Meta(ge=0)), 'Regex("a+"), Ge(0)'),
    ((Meta(min_length=-1), Meta(min_length=None), Meta(max_length=-1), Meta(ge=None, multiple_of=None), "doc"), None),
]


@pytest.mark.parametrize("metadata, constraints", METADATA_READ)
def test_metadata_is_read_by_attribute(metadata, constraints):
    expected = "int" if constraints is None else f"Annotated[int, {constraints}]"
    assert repr(Validator(Annotated[int, *metadata])) == expected


@pytest.mark.parametrize("schema, same", ANNOTATED_EQUAL)
def test_annotated_metadata(schema, same):
    assert Validator(schema) == Validator(same)


BIG, BIG_TWIN = int("1000"), int("1000")

ANNOTATED_DIFFERENT = [
    (Annotated[int, at.Ge(1), at.Le(3)], Annotated[int, at.Le(3), at.Ge(1)]),
    (Annotated[int, at.Interval(ge=1, le=9), at.Gt(0)], Annotated[int, at.Gt(0), at.Ge(1), at.Le(9)]),
    (Annotated[int, at.Ge(1), at.Ge(1)], Annotated[int, at.Ge(1)]),
    (Annotated[Validator(Annotated[int, at.Ge(1)]), at.Le(3)], Annotated[int, at.Ge(1), at.Le(3)]),
    (Annotated[int, Meta(ge=BIG, le=BIG_TWIN)], Annotated[int, Meta(ge=BIG, le=BIG)]),
    (Annotated[str, Meta(pattern="a")], Annotated[str, Meta(pattern="ab")]),
    (Annotated[str, Meta(pattern=r"\d")], Annotated[str, Meta(pattern=r"\p{Nd}")]),
    (Annotated[int, Meta(multiple_of=UNEQUAL)], int),
    (Annotated[int, NOT_SMALL], Annotated[int, at.Predicate(is_small)]),
]


@pytest.mark.parametrize("schema, other", ANNOTATED_DIFFERENT)
def test_annotated_metadata_distinctions(schema, other):
    assert Validator(schema) != Validator(other)


@pytest.mark.parametrize(
    "schema, accepted, rejected",
    [
        (Annotated[int, NOT_SMALL], [10, 50], [1, 9]),
        (Annotated[int, POSITIVE], [1, 7], [0, -1]),
        (Annotated[int, CALLABLE_ITEM], [1, 50], []),
        (Annotated[int, at.Predicate(is_small)], [1], [10]),
        (Annotated[str, at.MinLen(2), at.MaxLen(3)], ["ab", "abc"], ["a", "abcd"]),
    ],
)
def test_predicates_and_lengths_check(schema, accepted, rejected):
    checker = Validator(schema)
    assert all(checker.is_valid(value) for value in accepted)
    assert not any(checker.is_valid(value) for value in rejected)
