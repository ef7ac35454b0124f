"""Dict records (declared keys and extras pairs) and objects (dataclasses, named tuples):
membership and the items of their reports in every mode."""

import dataclasses
import json
import sys
from typing import Annotated, NamedTuple

import annotated_types as at
import pytest

import quillmar._quillmar as qm

Validator = qm.Validator


def items(schema, value, fail_fast=False):
    """(code, path, expected, value) of every item; the boolean entries agree the value fails."""
    v = Validator(schema)
    assert v.is_valid(value) is False
    assert (value in v) is False
    with pytest.raises(qm.ValidationError) as info:
        v.validate(value, fail_fast=fail_fast)
    return [(e["code"], e["path"], e["expected"], e["value"]) for e in info.value.errors]


def missing(key):
    return ("missing_key", (key,), f'required key "{key}"', "missing")


def forbidden(key):
    return ("extra_forbidden", (key,), "no unexpected key", f'"{key}"')


class Text(str):
    pass


class OwnHash(str):
    """A str whose hash and equality are its own: a dict keeps it apart from the plain str."""

    def __hash__(self):
        return 12345

    def __eq__(self, other):
        return self is other


class Guarded(dict):
    """Every overridable read raises: the walk must read the storage."""

    def _refuse(self, *args):
        raise AssertionError("dict methods must not be called")

    __getitem__ = __iter__ = __contains__ = keys = items = values = get = __missing__ = __len__ = _refuse


class StrRaises:
    def __str__(self):
        raise ValueError("no text")

    def __repr__(self):
        return "StrRaises()"


class Longstr:
    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text


# --- records: membership -------------------------------------------------------------


@pytest.mark.parametrize(
    ("schema", "value", "member"),
    [
        ({"a": int, "b?": str}, {"a": 1}, True),
        ({"a": int, "b?": str}, {"a": 1, "b": "x"}, True),
        ({"a?": int}, {}, True),
        ({"a": int}, {Text("a"): 1}, True),  # a str subclass key is the declared key of its text
        ({"a": int}, {OwnHash("a"): 1}, True),
        ({"a": int}, Guarded(a=1), True),
        ({"a": int, str: int}, {"a": 1, "b": 2, "c": 3}, True),
        (dict[str, int], {}, True),
        ({"a": int}, {"a": 1, "b": 2}, False),  # closed: no extras pairs
        ({"a": int, str: int}, {"a": 1, 2: 2}, False),  # every declared key present, an entry rejected
        ({"a": int}, [("a", 1)], False),
        ({"a": int}, {"\ud800": 1, "a": 1}, False),  # a lone surrogate key is undeclared
    ],
)
def test_record_membership(schema, value, member):
    assert Validator(schema).is_valid(value) is member


# --- records: reports ----------------------------------------------------------------


@pytest.mark.parametrize(
    ("schema", "value", "expected"),
    [
        ({"a": int}, [1], [("dict_type", (), "dict", "[1]")]),
        ({"a": int}, {}, [missing("a")]),
        ({"a": int, "b?": str}, {"a": "x", "b": 2}, [("int_type", ("a",), "int", "'x'"), ("string_type", ("b",), "str", "2")]),
        ({"a": {"b": int}}, {"a": {"b": None}}, [("int_type", ("a", "b"), "int", "None")]),
        (dict[str, int], {"a": "x"}, [("int_type", ("a",), "int", "'x'")]),
        (dict[str, int], {1: 2}, [("string_type", ("1",), "str", "1")]),
        ({"a": int}, Guarded(b=1), [missing("a"), forbidden("b")]),
        # a key with the declared text but its own hash is still found by its text
        ({"a": int}, {OwnHash("a"): "x"}, [("int_type", ("a",), "int", "'x'")]),
        ({"a": int}, {(1, 2): 1, "a": 1}, [forbidden("(1, 2)")]),
    ],
)
def test_record_report(schema, value, expected):
    assert items(schema, value) == expected


def test_report_order_and_fail_fast():
    schema = {"a": int, "b": int}
    value = {"y": 1, "b": "x", "z": 2}
    every = [missing("a"), ("int_type", ("b",), "int", "'x'"), forbidden("y"), forbidden("z")]
    assert items(schema, value) == every
    assert items(schema, value, fail_fast=True) == every[:1]
    assert items(schema, {"a": 1, "b": "x", "z": 2}, fail_fast=True) == [every[1]]
    assert items(dict[str, int], {"p": "x", "q": "y"}, fail_fast=True) == [("int_type", ("p",), "int", "'x'")]


def test_fail_fast_report_ends_once_any_item_stands():
    # The key fails first; the value is still walked, and its own report ends after its first field.
    schema = dict[int, {"a": int, "b": int}]
    key_item = ("int_type", ("x",), "int", "'x'")
    assert items(schema, {"x": {"a": 1}}, fail_fast=True) == [key_item]
    assert items(schema, {"x": {"a": 1}}) == [key_item, ("missing_key", ("x", "b"), 'required key "b"', "missing")]


@pytest.mark.parametrize(
    ("schema", "key", "path_key", "value_text"),
    [
        # extras keys are cut to 40 characters; a forbidden key stands whole
        (dict[int, int], "k" * 50, "k" * 40 + "...", None),
        ({"a?": int}, "k" * 50, "k" * 50, '"' + "k" * 50 + '"'),
        (dict[int, int], Longstr("é" * 41), "é" * 40 + "...", None),  # cut in characters, not bytes
        # str() raising: the key's repr where extras exist, the empty text otherwise
        (dict[int, int], StrRaises(), "StrRaises()", None),
        ({"a?": int}, StrRaises(), "", '""'),
    ],
)
def test_undeclared_key_text(schema, key, path_key, value_text):
    [(code, path, _, value)] = items(schema, {key: 1})
    assert path == (path_key,)
    if value_text is not None:
        assert (code, value) == ("extra_forbidden", value_text)


class UnprintableText(str):
    def __str__(self):
        raise RuntimeError("no text")


class StrIsUnprintable:
    def __str__(self):
        return UnprintableText("key")


@pytest.mark.parametrize("schema", [dict[int, int], {"a?": int}], ids=["extras", "closed"])
def test_unprintable_key_text_goes_to_the_unraisable_hook(schema, monkeypatch):
    # str(key) gives a str whose own str() raises: shown as a value text is, hook included.
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    [(_, path, _, _)] = items(schema, {StrIsUnprintable(): 1})
    assert path == ("<unprintable UnprintableText object>",)
    assert [type(u.exc_value) for u in seen] == [RuntimeError]


def test_extras_pairs_tried_in_order_and_reported_against_the_first():
    schema = {str: int, int: str}
    assert Validator(schema).is_valid({"k": 1, 1: "v"})
    # (2, 2) fits neither pair: the report walks key and value against the first pair only
    assert items(schema, {2: 2}) == [("string_type", ("2",), "str", "2")]
    assert items(schema, {"k": "v"}) == [("int_type", ("k",), "int", "'v'")]
    assert items(schema, {3: 3.5}) == [
        ("string_type", ("3",), "str", "3"),
        ("int_type", ("3",), "int", "3.5"),
    ]


def test_extras_stop_at_the_first_accepting_pair():
    calls = []

    def seen(tag):
        return at.Predicate(lambda _: calls.append(tag) or True)

    schema = {str: Annotated[int, seen("first")], object: Annotated[object, seen("second")]}
    assert Validator(schema).is_valid({"k": 1})
    assert calls == ["first"]


# --- records that declare a key twice -------------------------------------------------

TWICE = {"a": int, "a?": Annotated[int, at.Ge(0)]}


def test_repeated_key_stands_for_all_its_fields():
    v = Validator(TWICE)
    assert v.is_valid({"a": 1}) is True  # matches both fields
    assert v.validate({"a": 1}) is None
    assert items(TWICE, {"a": -1}) == [("greater_than_equal", ("a",), ">= 0", "-1")]
    # Both fields find the same failure; a report holds it once.
    assert items(TWICE, {"a": "x"}) == [("int_type", ("a",), "int", "'x'")]


@pytest.mark.parametrize("schema", [{"a?": int, "a": int}, {"a": int, "a?": int}], ids=["optional-first", "required-first"])
def test_repeated_key_is_required_when_any_field_is(schema):
    assert Validator(schema).is_valid({"a": 1})  # whichever field the key was declared with last
    assert items(schema, {}) == [missing("a")]  # one item for the key, not one per field


@pytest.mark.parametrize(
    ("value", "member"),
    [({"a": 1}, True), ({"a": -1}, False), ({"a": "x"}, False), ({}, False), ({"a": 1, "b": 1}, False)],
)
def test_repeated_key_has_one_meaning_for_objects_and_json(value, member):
    v = Validator(TWICE)
    text = json.dumps(value)
    assert v.is_valid(value) is member
    assert v.is_valid_json(text) is member
    if member:
        assert v.validate_json(text) is None
        return
    with pytest.raises(qm.ValidationError) as from_object:
        v.validate(value)
    with pytest.raises(qm.ValidationError) as from_json:
        v.validate_json(text)
    assert from_json.value.errors == from_object.value.errors


def test_a_key_counts_once_however_many_entries_carry_its_text():
    schema = {"a": int, "b": int}
    value = {"a": 1, OwnHash("a"): 2}
    assert len(value) == 2
    assert items(schema, value) == [missing("b")]


# --- dicts changed while they are read ------------------------------------------------


def mutating(action):
    def predicate(value):
        action()
        return True

    return Annotated[int, at.Predicate(predicate)]


@pytest.mark.parametrize("method", ["is_valid", "validate"])
@pytest.mark.parametrize(
    ("change", "message"),
    [
        (lambda d: d.pop("b", None), "dictionary changed size during iteration"),
        (lambda d: (d.pop("a", None), d.setdefault("c", 3)), "dictionary keys changed during iteration"),
    ],
)
def test_dict_changed_during_the_check_aborts_it(method, change, message, capfd):
    value = {"a": 1, "b": 2}
    schema = {str: mutating(lambda: change(value))}
    with pytest.raises(RuntimeError, match=message):
        getattr(Validator(schema), method)(value)
    # never folded into not-a-member, even under a union that could try another member
    value.clear()
    value.update(a=1, b=2)
    with pytest.raises(RuntimeError, match=message):
        getattr(Validator(schema) | Validator(None), method)(value)
    assert capfd.readouterr().err == ""


# --- objects --------------------------------------------------------------------------


@dataclasses.dataclass
class Point:
    x: int
    y: int


class Pair(NamedTuple):
    left: int
    right: str


class Tracked(Point):
    """Records which declared attributes are read."""

    reads = []

    def __getattribute__(self, name):
        if name in ("x", "y"):
            Tracked.reads.append(name)
        return super().__getattribute__(name)


def prop_raising(exception):
    class Broken(Point):
        @property
        def x(self):
            raise exception

        @x.setter
        def x(self, value):
            pass

    return Broken(1, 2)


@pytest.mark.parametrize(
    ("schema", "value", "expected"),
    [
        (Point, Point(1, "y"), [("int_type", ("y",), "int", "'y'")]),
        (Point, Point("x", "y"), [("int_type", ("x",), "int", "'x'"), ("int_type", ("y",), "int", "'y'")]),
        (Point, (1, 2), [("instance_type", (), "Point", "(1, 2)")]),
        (Pair, Pair(1, 2), [("string_type", ("right",), "str", "2")]),
        (Pair, (1, "a"), [("instance_type", (), "Pair", "(1, 'a')")]),
        (Point, prop_raising(AttributeError("gone")), [("missing_attribute", ("x",), 'attribute "x"', "missing")]),
        (Point, prop_raising(ValueError("bad")), [("missing_attribute", ("x",), 'attribute "x"', "missing")]),
        ({"p": Point}, {"p": Point(1, None)}, [("int_type", ("p", "y"), "int", "None")]),
    ],
)
def test_object_report(schema, value, expected):
    assert items(schema, value) == expected


def test_objects_accept_their_instances():
    assert Validator(Point).is_valid(Point(1, 2))
    assert Validator(Point).is_valid(Tracked(1, 2))  # a subclass instance
    assert Validator(Pair).is_valid(Pair(1, "a"))


def test_object_fail_fast_stops_at_the_first_failing_attribute():
    assert items(Point, Point("x", "y"), fail_fast=True) == [("int_type", ("x",), "int", "'x'")]


def test_instance_type_comes_before_any_attribute_read():
    class Lookalike:
        def __getattr__(self, name):
            Tracked.reads.append(name)
            return 1

    Tracked.reads.clear()
    assert items(Point, Lookalike())[0][0] == "instance_type"
    assert Tracked.reads == []


def test_fatal_attribute_read_propagates():
    value = prop_raising(KeyboardInterrupt())
    with pytest.raises(KeyboardInterrupt):
        Validator(Point).is_valid(value)
    with pytest.raises(KeyboardInterrupt):
        Validator(Point).validate(value)
