"""repr() of a Validator: the schema written back as annotation text."""

import dataclasses
import enum
import types
import typing
from typing import Annotated, Any, Literal, Optional

import annotated_types as at
import pytest

import quillmar._quillmar as qm


def built(make):
    """A validator from a factory that returns either a schema or a validator."""
    made = make()
    return made if isinstance(made, qm.Validator) else qm.Validator(made)


class Shown:
    """An object whose repr() is whatever the test needs: a text, or an exception raised."""

    def __init__(self, repr_result):
        self.repr_result = repr_result

    def __repr__(self):
        if isinstance(self.repr_result, BaseException):
            raise self.repr_result
        return self.repr_result


class Plain:
    pass


class Colour(enum.Enum):
    RED = 1


@dataclasses.dataclass
class Point:
    x: int
    y: int


class Movie(typing.TypedDict, total=False):
    title: typing.Required[str]
    year: int


class Nameless(type):
    """A metaclass whose classes have no readable __name__."""

    @property
    def __name__(cls):
        raise AttributeError("no name")


class Hidden(metaclass=Nameless):
    pass


def pattern(text):
    """A metadata item carrying only a regular expression."""
    return types.SimpleNamespace(pattern=text)


def tree():
    return qm.recursive(lambda node: list[node] | int)


# --- scalars, classes and literals -------------------------------------------------------------


@pytest.mark.parametrize(
    ("schema", "text"),
    [
        (int, "int"),
        (str, "str"),
        (float, "float"),
        (bool, "bool"),
        (bytes, "bytes"),
        (None, "None"),
        (type(None), "None"),
        (Any, "Any"),
        (object, "anything"),
        (qm.anything, "anything"),
        (qm.nothing, "nothing"),
        (Plain, "Plain"),
        (Colour, "Colour"),
        (Point, "Point"),
        (1, "Literal[1]"),
        ("a", "Literal['a']"),
        (b"\x00", "Literal[b'\\x00']"),
        (Literal["a"], "Literal['a']"),
        (Shown("x" * 81), "Literal[" + "x" * 80 + "...]"),
        (Shown("x" * 80), "Literal[" + "x" * 80 + "]"),
        (Shown(ValueError("no repr")), "Literal[<unrepresentable>]"),
        (Shown(KeyboardInterrupt()), "Literal[<unrepresentable>]"),
    ],
)
def test_leaf_text(schema, text):
    assert repr(qm.Validator(schema)) == text


def test_module_constants_and_repr_leave_no_exception_pending():
    assert (repr(qm.anything), repr(qm.nothing)) == ("anything", "nothing")
    broken = qm.Validator(Shown(RuntimeError("boom")))
    assert [repr(broken) for _ in range(2)] == ["Literal[<unrepresentable>]"] * 2
    assert str(broken) == repr(broken)


def test_class_without_name_is_shown_by_its_repr():
    assert repr(qm.Validator(Hidden)) == repr(Hidden)


# --- sequences, sets, records ------------------------------------------------------------------


@pytest.mark.parametrize(
    ("schema", "text"),
    [
        (list[int], "list[int]"),
        (typing.List[str], "list[str]"),
        ([int], "list[int]"),
        ([int, ...], "list[int]"),
        ([], "[]"),
        ([int, str], "[int, str]"),
        ([int, str, ...], "[int, str, ...]"),
        ([int, str, bytes, ...], "[int, str, bytes, ...]"),
        (tuple[int, ...], "tuple[int, ...]"),
        (tuple[int], "tuple[int]"),
        (tuple[int, str], "tuple[int, str]"),
        (tuple[int, str, ...], "tuple[int, str, ...]"),
        (tuple[()], "tuple[()]"),
        (list[list[tuple[int, ...]]], "list[list[tuple[int, ...]]]"),
        (set[int], "set[int]"),
        (frozenset[str], "frozenset[str]"),
        (set[frozenset[bytes]], "set[frozenset[bytes]]"),
    ],
)
def test_sequence_and_set_text(schema, text):
    assert repr(qm.Validator(schema)) == text


@pytest.mark.parametrize(
    ("schema", "text"),
    [
        (dict[str, int], "dict[str, int]"),
        ({str: int}, "dict[str, int]"),
        (dict[object, object], "dict[anything, anything]"),
        ({}, "{}"),
        ({"a": int, "b?": str}, "{'a': int, 'b?': str}"),
        ({"a??": int, "?": str}, "{'a??': int, '?': str}"),
        # keys are written as Python writes the str
        ({"it's": int}, "{\"it's\": int}"),
        ({"it's?": int, 'say "hi"': str}, "{\"it's?\": int, 'say \"hi\"': str}"),
        ({"both ' and \"": int}, "{'both \\' and \"': int}"),
        ({"a\nb\\": int, "\x00\u00e9": str}, "{'a\\nb\\\\': int, '\\x00\u00e9': str}"),
        ({"a": int, str: bytes}, "{'a': int, str: bytes}"),
        ({str: int, bytes: str}, "{str: int, bytes: str}"),
        ({"a": int, object: object}, "{'a': int, ...}"),
        ({"a": {"b?": list[int]}}, "{'a': {'b?': list[int]}}"),
        (Movie, "{'title': str, 'year?': int}"),
    ],
)
def test_record_text(schema, text):
    assert repr(qm.Validator(schema)) == text


@pytest.mark.parametrize(
    ("schema", "text"),
    [
        ({"a": int, "b?": str}, "{'a': int, 'b?': str, ...}"),
        ({"a": {"b": int}}, "{'a': {'b': int, ...}, ...}"),
        # Only records that declare a field are opened.
        (dict[str, int], "dict[str, int]"),
        ({}, "{}"),
    ],
)
def test_open_record_ends_in_extras_item(schema, text):
    closed = qm.Validator(schema)
    opened = closed.open()
    assert repr(opened) == text
    assert repr(opened.close()) == repr(closed)


# --- unions and the combinators ----------------------------------------------------------------


@pytest.mark.parametrize(
    ("make", "text"),
    [
        (lambda: int | str, "int | str"),
        (lambda: Optional[int], "int | None"),
        (lambda: typing.Union[list[int], dict[str, int]], "list[int] | dict[str, int]"),
        (lambda: Literal["a", 1], "Literal['a'] | Literal[1]"),
        (lambda: Literal[()], ""),
        (lambda: list[int | None], "list[int | None]"),
        # A member union's members simply continue the list.
        (lambda: int | qm.Validator(str | bytes), "int | str | bytes"),
        (lambda: qm.Validator(int) | str, "int | str"),
        (lambda: qm.union(int, str), "int | str"),
        (lambda: qm.union(), ""),
        (lambda: qm.intersection(), "intersection()"),
        (lambda: qm.intersection(int, str | None), "intersection(int, str | None)"),
        (lambda: qm.complement(int), "complement(int)"),
        (lambda: qm.complement(qm.union(int, str)), "complement(int | str)"),
        (lambda: list[qm.complement(qm.intersection(int, bool))], "list[complement(intersection(int, bool))]"),
    ],
)
def test_combination_text(make, text):
    assert repr(built(make)) == text


# --- Annotated constraints ---------------------------------------------------------------------


def is_even(value):
    return value % 2 == 0


@pytest.mark.parametrize(
    ("schema", "text"),
    [
        (Annotated[int, at.Ge(0), at.Lt(10)], "Annotated[int, Ge(0), Lt(10)]"),
        (Annotated[int, at.Interval(gt=1, le=5)], "Annotated[int, Gt(1), Le(5)]"),
        (Annotated[float, at.Gt(0.5)], "Annotated[float, Gt(0.5)]"),
        (Annotated[str, at.Len(2, 5)], "Annotated[str, MinLen(2), MaxLen(5)]"),
        (Annotated[list[int], at.MinLen(0)], "Annotated[list[int], MinLen(0)]"),
        (Annotated[int, at.MultipleOf(3)], "Annotated[int, MultipleOf(3)]"),
        (Annotated[int, at.Predicate(is_even)], "Annotated[int, Predicate(...)]"),
        (Annotated[int, lambda value: True], "Annotated[int, Predicate(...)]"),
        (Annotated[str, pattern("[a-z]+")], 'Annotated[str, Regex("[a-z]+")]'),
        (Annotated[str, pattern('say "\\d"')], 'Annotated[str, Regex("say \\"\\\\d\\"")]'),
        (Annotated[str, pattern("a\tb")], 'Annotated[str, Regex("a\\tb")]'),
        (Annotated[int, at.Ge(Shown("x" * 90))], "Annotated[int, Ge(" + "x" * 80 + "...)]"),
        (Annotated[int, at.Le(Shown(ValueError()))], "Annotated[int, Le(<unrepresentable>)]"),
        (Annotated[int, "documentation only"], "int"),
        (list[Annotated[int, at.Ge(1)]], "list[Annotated[int, Ge(1)]]"),
        (Annotated[Literal["a"], at.Ge("a")], "Annotated[Literal['a'], Ge('a')]"),
    ],
)
def test_annotated_text(schema, text):
    assert repr(qm.Validator(schema)) == text


def test_refined_base_that_is_itself_refined_keeps_both_layers():
    inner = qm.Validator(Annotated[int, at.Ge(0)])
    assert repr(qm.Validator(Annotated[inner, at.Le(5), at.Le(5)])) == "Annotated[Annotated[int, Ge(0)], Le(5), Le(5)]"


# --- recursion and the depth limit -------------------------------------------------------------


def test_recursive_body_once_with_back_edge():
    assert repr(built(tree)) == "list[...] | int"


def test_each_use_of_a_recursive_validator_expands_in_full():
    shared = built(tree)
    assert repr(built(lambda: [shared, shared])) == "[list[...] | int, list[...] | int]"
    assert repr(built(lambda: {"left": shared, "right?": shared})) == (
        "{'left': list[...] | int, 'right?': list[...] | int}"
    )


def test_recursive_record():
    node = built(lambda: qm.recursive(lambda self: {"name": str, "children": list[self]}))
    assert repr(node) == "{'name': str, 'children': list[...]}"


def test_placeholder_inside_the_builder_is_a_back_edge():
    seen = []

    def body(placeholder):
        seen.append(repr(placeholder))
        return list[placeholder] | None

    made = built(lambda: qm.recursive(body))
    assert seen == ["..."]
    assert repr(made) == "list[...] | None"


@pytest.mark.parametrize(
    ("make", "text"),
    [
        (lambda: qm.recursive(lambda outer: qm.recursive(lambda inner: {"a": outer | None, "b": list[inner]})),
         "{'a': ... | None, 'b': list[...]}"),
        # Mutual recursion: the outer back edge sits inside the inner definition.
        (lambda: qm.recursive(lambda a: qm.union(int, list[qm.recursive(lambda b: qm.union(str, list[a]))])),
         "int | list[str | list[...]]"),
    ],
)
def test_nested_recursion_cuts_every_back_edge(make, text):
    assert repr(built(make)) == text


def test_recursive_inside_a_recursive_body_is_expanded():
    inner = built(tree)
    made = built(lambda: qm.recursive(lambda outer: {"tree": inner, "next?": outer}))
    assert repr(made) == "{'tree': list[...] | int, 'next?': ...}"


def chain(levels):
    """Each level a recursive list [previous level, itself]: two render levels per schema level."""
    current = int
    for _ in range(levels):
        current = qm.recursive(lambda self, previous=current: [previous, self])
    return current


@pytest.mark.parametrize(
    ("levels", "text"),
    [
        (2, "[[int, ...], ...]"),
        # The innermost int sits at depth 200, the last depth written in full.
        (100, "[" * 100 + "int" + ", ...]" * 100),
        (101, "[" * 100 + "..." + ", ...]" * 100),
        (120, "[" * 100 + "..." + ", ...]" * 100),
    ],
)
def test_depth_limit(levels, text):
    assert repr(built(lambda: chain(levels))) == text


# --- the text as an annotation again -----------------------------------------------------------

NAMESPACE = {
    "int": int,
    "str": str,
    "float": float,
    "bool": bool,
    "bytes": bytes,
    "list": list,
    "tuple": tuple,
    "dict": dict,
    "set": set,
    "frozenset": frozenset,
    "Literal": Literal,
    "Annotated": Annotated,
    "Any": Any,
    "Ge": at.Ge,
    "Gt": at.Gt,
    "Le": at.Le,
    "Lt": at.Lt,
    "MinLen": at.MinLen,
    "MaxLen": at.MaxLen,
    "MultipleOf": at.MultipleOf,
    "Regex": pattern,
    "anything": qm.anything,
    "nothing": qm.nothing,
    "intersection": qm.intersection,
    "complement": qm.complement,
    "Plain": Plain,
    "Colour": Colour,
    "Point": Point,
}


@pytest.mark.parametrize(
    "make",
    [
        lambda: int,
        lambda: None,
        lambda: Any,
        lambda: qm.anything,
        lambda: qm.nothing,
        lambda: Plain,
        lambda: Colour,
        lambda: Point,
        lambda: "text",
        lambda: 3,
        lambda: b"raw",
        lambda: Literal[True],
        lambda: list[int],
        lambda: [int, str],
        lambda: [int, str, ...],
        lambda: [],
        lambda: tuple[int, ...],
        lambda: tuple[int],
        lambda: tuple[int, str, ...],
        lambda: set[float],
        lambda: frozenset[bytes],
        lambda: dict[str, list[int]],
        lambda: dict[object, object],
        lambda: {},
        lambda: {"a": int, "b?": str, "c": {"d?": [bool]}},
        lambda: {"a": int, str: bytes},
        lambda: {"it's": int, 'say "hi"?': str, "both ' and \"": bytes, "a\nb\\\x00": bool},
        lambda: tuple[()],
        lambda: list[tuple[()]],
        lambda: Movie,
        lambda: int | str | None,
        lambda: Literal["a", "b"],
        lambda: list[int | None],
        lambda: Annotated[int, at.Ge(0), at.Lt(10)],
        lambda: Annotated[str, at.MinLen(1), at.MaxLen(8), pattern("[a-z]+")],
        lambda: Annotated[float, at.MultipleOf(0.5)],
        lambda: qm.intersection(int, qm.complement(bool)),
        lambda: list[qm.complement(qm.intersection(int, bool))],
    ],
)
def test_text_compiles_back_to_an_equal_validator(make):
    original = built(make)
    again = qm.Validator(eval(repr(original), dict(NAMESPACE)))
    assert again == original, repr(original)
