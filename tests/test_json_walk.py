"""The JSON entry points over schemas: validate_json and load check the parsed object as
validate does, and is_valid_json walks the parsed tree to the answer is_valid gives for
json.loads of the document."""

import dataclasses
import enum
import json
import numbers
import tracemalloc
import typing
from typing import Annotated, Any, Literal, NamedTuple, Never, TypedDict

import annotated_types as at
import pytest

import quillmar._quillmar as qm

Validator = qm.Validator


def pattern(text):
    return type("Pattern", (), {"pattern": text})()


class Color(enum.IntEnum):
    RED = 1


class Plain:
    pass


class Movie(TypedDict, total=False):
    title: typing.Required[str]
    year: int


@dataclasses.dataclass
class Point:
    x: int
    y: int


class DictLike(type):
    """Makes a dataclass whose instances are the dicts and lists of a document."""

    def __instancecheck__(cls, value):
        return isinstance(value, (dict, list))


@dataclasses.dataclass
class HasCopy(metaclass=DictLike):
    copy: object  # dicts and lists have a copy method


@dataclasses.dataclass
class HasKeys(metaclass=DictLike):
    keys: object  # lists have none


class Pair(NamedTuple):
    left: int
    right: int


def leaked_placeholder():
    kept = []

    def builder(r):
        kept.append(r)
        return int

    qm.recursive(builder)
    return kept[0]


def even(value):
    return value % 2 == 0


def deep_lists(depth):
    return "[" * depth + "1" + "]" * depth


# schema, documents that are members, documents that are not. Together the rows
# reach every node kind: anything, any, nothing, the six type kinds, literals and
# literal unions, lists and tuples, sets and frozensets, instances, records,
# objects, unions, intersections, complements, refs, placeholders and refinements.
ROWS = [
    (lambda: qm.anything, ["null", "[1, {}]", '{"a": "b"}'], []),
    (lambda: Any, ["1.5", '"x"'], []),
    (lambda: Never, [], ["null", "[]", "0"]),
    (lambda: None, ["null"], ["0", "false", "[]", '""']),
    (lambda: bool, ["true", "false"], ["0", "1", "null"]),
    (lambda: int, ["0", "-7", "true", "123456789012345678901234567890"], ["1.0", "1e2", '"1"', "null"]),
    (lambda: float, ["1.0", "-0.0", "1e400", "5e-324"], ["1", "true", '"1.0"']),
    (lambda: str, ['""', '"\\u00e9\\ud83d\\ude00"'], ["1", "null", "[]"]),
    (lambda: bytes, [], ['""', '"abc"', "[]"]),
    # literals demand the exact type before they compare
    (lambda: Literal[1], ["1"], ["true", "1.0", "2", '"1"']),
    (lambda: Literal[True], ["true"], ["1", "false"]),
    (lambda: Literal[None], ["null"], ["0", "false"]),
    (lambda: Literal[1.5], ["1.5", "15e-1"], ["1", "2.5"]),
    (lambda: Literal[2**70], [str(2**70)], [str(2**70 + 1), "1", f"{2**70}.0"]),
    (lambda: Literal["\u00e9x"], ['"\u00e9x"', '"\\u00e9x"'], ['"\u00e9"', '"ex"', "1"]),
    (lambda: Literal[Color.RED], [], ["1"]),
    (lambda: Literal[1, 2, "a", "b"], ["1", "2", '"a"'], ["3", '"c"', "true", "1.0", "null"]),
    (lambda: Literal[1, True, None, 2**70, 2.5], ["1", "true", "null", str(2**70), "2.5"], ["false", "2", "0.5"]),
    (lambda: Literal[()], [], ["1", '"a"']),
    # sequences: JSON arrays are lists, never tuples
    (lambda: list[int], ["[]", "[1, 2, true]"], ["[1, 2.0]", "{}", '"12"', '[1, "2"]']),
    (lambda: [int, str], ['[1, "a"]'], ["[1]", '[1, "a", 2]', '["a", 1]']),
    (lambda: [int, str, ...], ["[1]", '[1, "a", "b"]'], ["[]", '[1, "a", 2]', '["a"]']),
    (lambda: list, ["[]", '[1, "a", null]'], ["{}", '""']),
    (lambda: tuple[int, ...], [], ["[]", "[1]"]),
    (lambda: tuple[()], [], ["[]"]),
    (lambda: set[int], [], ["[]", "[1]", "{}"]),
    (lambda: frozenset[int], [], ["[]", "[1]"]),
    # instances: builtin classes read from the tree, others through isinstance
    (lambda: Plain, [], ["{}", "1"]),
    (lambda: Color, [], ["1"]),
    (lambda: numbers.Number, ["1", "1.5", "true", str(2**70)], ['"1"', "null", "[]"]),
    (lambda: typing.SupportsInt, ["1", "2.5", "true"], ['"1"', "[]", "{}"]),
    # records: the last duplicate decides, as in the dict json.loads builds
    (lambda: {"a": int, "b?": str}, ['{"a": 1}', '{"a": 1, "b": "x"}', '{"a": "x", "a": 2}'],
     ['{}', '{"a": 1, "c": 2}', '{"a": 1, "b": 2}', '{"a": 1, "a": "x"}', "[]", '{"b": "x"}']),
    (lambda: {"a?": int}, ["{}", '{"a": 1}'], ['{"a": null}', '{"b": 1}']),
    (lambda: dict[str, int], ["{}", '{"a": 1, "b": 2}', '{"a": "x", "a": 1}'],
     ['{"a": "x"}', '{"a": 1, "a": "x"}', "[]"]),
    (lambda: dict[int, int], ["{}"], ['{"1": 1}']),
    (lambda: dict, ["{}", '{"a": [1]}'], ["[]", "null"]),
    (lambda: {"a": int, str: int}, ['{"a": 1, "b": 2, "c": 3}'], ['{"a": 1, "b": "x"}', '{"b": 2}']),
    (lambda: {"a": int, Literal["x", "y"]: str}, ['{"a": 1, "x": "1"}'], ['{"a": 1, "z": "1"}']),
    (lambda: Validator({"a": int}).open(), ['{"a": 1, "b": [null]}'], ['{"b": 1}']),
    (lambda: Movie, ['{"title": "x"}', '{"title": "x", "year": 1999}'], ['{"year": 1999}', '{"title": "x", "cast": []}']),
    (lambda: {"k%d" % i: int for i in range(300)}, [json.dumps({"k%d" % i: i for i in range(300)})],
     [json.dumps({"k%d" % i: i for i in range(299)})]),
    # a large object: its repeated keys are found through a table of keys
    (lambda: dict[str, int], [json.dumps({"k%d" % i: i for i in range(40)})[:-1] + ', "k3": "x", "k3": 3}'],
     [json.dumps({"k%d" % i: i for i in range(40)})[:-1] + ', "k3": 3, "k3": "x"}']),
    # objects read attributes of the document's Python form
    (lambda: Point, [], ['{"x": 1, "y": 2}', "[1, 2]"]),
    (lambda: Pair, [], ["[1, 2]"]),
    (lambda: HasCopy, ["{}", "[1]"], ["1", '"a"']),
    (lambda: HasKeys, ['{"a": 1}'], ["[1]"]),
    # unions, intersections, complements
    (lambda: int | None, ["1", "null"], ['"x"', "1.5"]),
    (lambda: list[int] | dict[str, str], ["[1]", '{"a": "b"}'], ['{"a": 1}', "[null]"]),
    (lambda: qm.union(), [], ["null"]),
    (lambda: qm.intersection(int, Annotated[int, at.Ge(0)]), ["0", "5"], ["-1", "1.5"]),
    (lambda: qm.intersection(), ["null", "[]"], []),
    (lambda: qm.complement(str), ["1", "[]", "null"], ['"x"']),
    (lambda: qm.complement(Literal[1, "a"]), ["2", '"b"', "true"], ["1", '"a"']),
    # recursion
    (lambda: qm.recursive(lambda r: int | list[r]), ["1", "[1, [2, [3]]]", deep_lists(127)],
     ['[1, "x"]', deep_lists(128), "[[[null]]]"]),
    (lambda: qm.recursive(lambda r: {"value": int, "children?": list[r]}),
     ['{"value": 1, "children": [{"value": 2}, {"value": 3, "children": []}]}'],
     ['{"value": 1, "children": [{"value": "2"}]}']),
    (leaked_placeholder, [], ["1", "null"]),
    (lambda: list[leaked_placeholder()], ["[]"], ["[1]"]),
    # refinements: lengths count code points, patterns see the whole text
    (lambda: Annotated[str, at.MinLen(2), at.MaxLen(3)], ['"\u00e9\U0001f600"', '"abc"'], ['"\u00e9"', '"abcd"']),
    (lambda: Annotated[list, at.MinLen(2)], ["[1, 2]"], ["[1]"]),
    (lambda: Annotated[dict, at.MinLen(2)], ['{"a": 1, "b": 2}'], ['{"a": 1, "a": 2}']),
    (lambda: Annotated[Any, at.MinLen(1)], ['"a"', "[0]", '{"a": 1}'], ["1", "true", "null", "1.5", '""']),
    (lambda: Annotated[str, pattern("[a-z]+\\d")], ['"abc1"', '"x\u0663"'], ['"abc"', '"1abc1"', "1"]),
    (lambda: Annotated[Any, pattern(".*")], ['""', '"\u00e9"'], ["1", "null", "[]"]),
    (lambda: Annotated[int, at.Ge(0), at.Lt(10)], ["0", "9", "true"], ["-1", "10", str(2**70)]),
    (lambda: Annotated[float, at.Gt(0.5)], ["0.75", "1e400"], ["0.5", "-1e400"]),
    (lambda: Annotated[int | float, at.Le(2.5)], ["2", "2.5", "-1"], ["3", "2.75"]),
    (lambda: Annotated[float, at.Ge(2**53 + 1)], [], [f"{float(2**53):.1f}"]),  # exact int-float comparison
    (lambda: Annotated[int, at.Le(2**70)], [str(2**70), "-5"], [str(2**70 + 1)]),
    (lambda: Annotated[Any, at.Ge(1)], ["1", "2.5", "true"], ['"a"', "null", "[1]", "false"]),
    (lambda: Annotated[int, at.MultipleOf(3)], ["9", "0", "-3", "-9223372036854775806"], ["10", "true", "-9223372036854775808"]),
    (lambda: Annotated[int, at.MultipleOf(-1)], ["-9223372036854775808", "7"], []),
    (lambda: Annotated[Any, at.MultipleOf(2.5)], ["5.0", "7.5"], ["5", '"a"']),
    (lambda: Annotated[int, at.MultipleOf(2**70)], ["0", str(2**71)], [str(2**70 + 1), "2"]),
    (lambda: Annotated[int, at.Predicate(even)], ["2", "0"], ["1"]),
    (lambda: Annotated[Any, at.Predicate(lambda v: v == [1, {"a": None}])], ['[1, {"a": null}]'], ['[1, {"a": 0}]']),
    (lambda: list[Annotated[int, at.Predicate(even)]], ["[2, 4]"], ["[2, 3]"]),
]


def row_id(row):
    try:
        return repr(Validator(row[0]()))[:40]
    except Exception:
        return "schema"


def validator_of(make):
    schema = make()
    return schema if isinstance(schema, Validator) else Validator(schema)


@pytest.mark.parametrize(("make", "members", "others"), ROWS, ids=map(row_id, ROWS))
def test_is_valid_json_answers_as_is_valid_on_the_parsed_value(make, members, others):
    v = validator_of(make)
    for document, expected in [(d, True) for d in members] + [(d, False) for d in others]:
        assert v.is_valid(json.loads(document)) is expected, document
        assert v.is_valid_json(document) is expected, document
        assert v.is_valid_json(document.encode()) is expected, document


CORPUS = [
    "null", "true", "false", "0", "1", "-1", "2", "3", "9", "10", "2.5", "-0.0", "1e400",
    str(2**70), str(-(2**70)), '""', '"a"', '"b"', '"\u00e9x"', '"abc1"', '"x\u0663"',
    "[]", "[1]", "[1, 2]", '[1, "a"]', '[1, "a", "b"]', "[[1], [2, [3]]]", "[null]", "[true, 1.5]",
    "{}", '{"a": 1}', '{"a": "x"}', '{"a": 1, "b": "x"}', '{"a": 1, "b": 2}', '{"a": 1, "a": "x"}',
    '{"a": "x", "a": 1}', '{"title": "x", "year": 1}', '{"x": 1, "y": 2}', '{"value": 1, "children": []}',
    '{"a": {"b": [1, {"c": null}]}}', '{"1": 1}',
]


@pytest.mark.parametrize("make", [row[0] for row in ROWS], ids=map(row_id, ROWS))
def test_every_schema_agrees_on_a_shared_corpus(make):
    v = validator_of(make)
    for document in CORPUS:
        assert v.is_valid_json(document) is v.is_valid(json.loads(document)), document


# --- validate_json and load -------------------------------------------------------------


def outcome(call):
    """None, or what a ValidationError shows: its message and its items."""
    try:
        call()
    except qm.ValidationError as error:
        return str(error), error.errors
    return None


@pytest.mark.parametrize(
    ("schema", "document"),
    [
        (list[int], "[1, null, 2.5, 3]"),
        ({"a": int, "b": str}, '{"a": "x", "c": 1}'),
        ({"a": int}, '{"a": 1, "a": "x"}'),
        (dict[str, list[int]], '{"a": [1, "x"], "b": [null]}'),
        (int | None, '"x"'),
        (list[int] | None, "[1, null]"),
        (qm.recursive(lambda r: int | list[r]), '[1, [2, ["x"]]]'),
        (Annotated[str, at.MinLen(3), pattern("[0-9]+")], '"ab"'),
        (Annotated[int, at.Ge(0), at.MultipleOf(2)], "-3"),
        (Point, '{"x": 1, "y": 2}'),
        (Literal["a", "b"], '"c"'),
        (qm.complement(str), '"x"'),
        (tuple[int, ...], "[1]"),
        (list[int], "[1, 2]"),
    ],
)
@pytest.mark.parametrize("fail_fast", [False, True])
def test_validate_json_reports_as_validate_on_the_parsed_object(schema, document, fail_fast):
    v = schema if isinstance(schema, Validator) else Validator(schema)
    expected = outcome(lambda: v.validate(json.loads(document), fail_fast=fail_fast))
    assert outcome(lambda: v.validate_json(document, fail_fast=fail_fast)) == expected
    assert outcome(lambda: v.validate_json(document.encode(), fail_fast=fail_fast)) == expected
    assert outcome(lambda: v.load(document, fail_fast=fail_fast)) == expected


def test_load_returns_the_object_it_validated():
    seen = []

    def keep(value):
        seen.append(value)
        return True

    v = Validator({"items": Annotated[list[int], at.Predicate(keep)]})
    loaded = v.load('{"items": [1, 2]}')
    assert loaded == {"items": [1, 2]}
    assert seen[0] is loaded["items"]
    assert v.validate_json('{"items": [3]}') is None


def test_load_raises_for_a_non_member_and_returns_nothing():
    with pytest.raises(qm.ValidationError) as raised:
        Validator(list[int]).load('[1, "2"]')
    assert [(e["code"], e["path"]) for e in raised.value.errors] == [("int_type", (1,))]


@pytest.mark.parametrize("method", ["validate_json", "load"])
@pytest.mark.parametrize("data", ["[1,", b"\xff", bytearray(b"[]"), "[1]"])
def test_bad_fail_fast_wins_over_a_bad_document(method, data):
    with pytest.raises(TypeError) as raised:
        getattr(Validator(list[int]), method)(data, fail_fast="yes")
    assert "while processing 'fail_fast'" in raised.value.__notes__


@pytest.mark.parametrize("method", ["validate_json", "load"])
def test_fail_fast_accepts_numpy_booleans(method):
    numpy = pytest.importorskip("numpy")
    with pytest.raises(qm.ValidationError) as raised:
        getattr(Validator(list[int]), method)('["a", "b"]', fail_fast=numpy.bool_(True))
    assert len(raised.value.errors) == 1


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda v: v.validate_json(), "missing 1 required positional argument: 'data'"),
        (lambda v: v.load("1", True), "takes 1 positional argument"),
        (lambda v: v.is_valid_json("1", fail_fast=True), "got an unexpected keyword argument 'fail_fast'"),
        (lambda v: v.validate_json(data="1", data2="2"), "got an unexpected keyword argument 'data2'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError, match=message):
        call(Validator(int))


def test_data_by_keyword():
    v = Validator(list[int])
    assert v.validate_json(data="[1]") is None
    assert v.load(data="[1]", fail_fast=True) == [1]
    assert v.is_valid_json(data="[1]") is True


ARGS = ["Args:", "    data: The JSON document, as `str` or `bytes`.",
        "    fail_fast: Stop at the first failure instead of aggregating.", ""]
RAISES = ["Raises:", "    ValidationError: If the document is malformed or undecodable JSON",
          "        (code `json_invalid`) or is not a member of the schema's set.",
          "    TypeError: If `data` is not `str` or `bytes`."]


@pytest.mark.parametrize(
    ("name", "signature", "head", "tail"),
    [
        ("validate_json", "(self, /, data, *, fail_fast=False)",
         ["Validate a JSON document, parsing it on the C++ path.", ""],
         ["value runs the same validation walk as a native object, so this reaches",
          "the same decision and the same errors as `validate` on the parsed object.",
          "`fail_fast` behaves as it does for `validate`.", "", *ARGS, "Returns:",
          "    `None` if the document parses and is a member of the schema's set.", "", *RAISES]),
        ("load", "(self, /, data, *, fail_fast=False)",
         ["Validate a JSON document and return the parsed value.", "",
          "Like `validate_json`, but returns the parsed Python object instead of",
          "discarding it, so a caller that needs the data does not parse it again."],
         ["same walk, reaching the same decision and errors as `validate`.", "", *ARGS, "Returns:",
          "    The parsed Python object, once it is confirmed a member of the set.", "", *RAISES]),
        ("is_valid_json", "(self, /, data)",
         ["Whether a JSON document parses and is a member of the schema's set.", "",
          "Check-only: malformed or undecodable JSON, or input that is neither `str`",
          "nor `bytes`, is simply not a member and returns `False`. The raising entries",
          "(`validate_json`/`load`) report the same undecodable input as a structured",
          "`json_invalid` error. The document is validated in place",
          "against the parsed value, with no intermediate Python objects for the",
          "structure it walks. It raises only if a membership comparison raises a",
          "fatal interpreter signal.", "", "Args:", "    data: The JSON document, as `str` or `bytes`.", "",
          "Returns:", "    `True` if `data` parses and is a member of the schema's set, else", "    `False`.", "",
          "Raises:", "    BaseException: If a membership comparison raises a fatal interpreter",
          "        signal, it propagates rather than being read as a non-member."],
         []),
    ],
)
def test_docstrings(name, signature, head, tail):
    method = getattr(Validator, name)
    assert str(__import__("inspect").signature(method)) == signature
    lines = method.__doc__.splitlines()
    assert lines[: len(head)] == head
    assert lines[len(lines) - len(tail):] == tail
    assert len(lines) >= len(head) + len(tail)


# --- exceptions raised by Python code during the JSON walk -------------------------------


def raising(exception):
    def predicate(value):
        raise exception

    return predicate


@pytest.mark.parametrize(
    ("schema", "document"),
    [
        (lambda p: list[Annotated[int, at.Predicate(p)]], "[1]"),
        (lambda p: {"a": Annotated[str, at.Predicate(p)]}, '{"a": "x"}'),
        (lambda p: dict[str, Annotated[Any, at.Predicate(p)]], '{"a": [1]}'),
        (lambda p: qm.complement(Annotated[Any, at.Predicate(p)]), "null"),
        (lambda p: qm.recursive(lambda r: Annotated[int, at.Predicate(p)] | list[r]), "[[1]]"),
        # declared keys are walked in declared order, not document order
        (lambda p: {"a": Annotated[int, at.Predicate(p)], "b": int}, '{"a": 1, "b": "x"}'),
    ],
)
def test_fatal_exceptions_propagate_and_ordinary_ones_reject(schema, document):
    ordinary = Validator(schema(raising(ValueError("no"))))
    assert ordinary.is_valid_json(document) is ordinary.is_valid(json.loads(document))
    fatal = Validator(schema(raising(KeyboardInterrupt)))
    with pytest.raises(KeyboardInterrupt):
        fatal.is_valid(json.loads(document))
    with pytest.raises(KeyboardInterrupt):
        fatal.is_valid_json(document)


@pytest.mark.parametrize(
    ("document", "member", "walked"),
    [
        ('{"z": 0, "c": 1, "b": 2, "a": 3}', True, [("a", 3), ("b", 2), ("c", 1), ("z", 0)]),
        # each key once, with its last value
        ('{"b": 1, "a": 2, "b": 3, "z": 4, "z": 5}', True, [("a", 2), ("b", 3), ("z", 5)]),
        # a missing required key ends the check before the keys declared after it
        ('{"c": 1, "z": 0, "a": 2}', False, [("a", 2)]),
    ],
)
def test_records_walk_declared_keys_in_order_then_the_others(document, member, walked):
    seen = []

    def step(name):
        return at.Predicate(lambda value: seen.append((name, value)) is None)

    v = Validator({"a": Annotated[int, step("a")], "b": Annotated[int, step("b")],
                   "c?": Annotated[int, step("c")], str: Annotated[int, step("z")]})
    assert v.is_valid_json(document) is member
    assert seen == walked


class FatalInstanceCheck(type):
    def __instancecheck__(cls, value):
        raise SystemExit(3)


class Guarded(metaclass=FatalInstanceCheck):
    pass


def test_a_fatal_instance_check_ends_the_check():
    with pytest.raises(SystemExit):
        Validator(list[Guarded]).is_valid_json("[1]")
    # an ordinary one only rejects
    assert Validator(list[int | Guarded]).is_valid_json("[1]") is True


# --- no Python objects for what the schema only type-checks -------------------------------


def peak_traced_bytes(call):
    """The most Python memory held at once during call, beyond what was held before."""
    call()  # fills the validator's tables
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        tracemalloc.reset_peak()
        call()
        return tracemalloc.get_traced_memory()[1] - before
    finally:
        tracemalloc.stop()


BIG = 2**200
RECORDS = json.dumps(
    [{"id": 1000 + i, "name": "n" * 500, "score": i + 0.5, "big": BIG, "tags": ["t" * 300] * 20,
      "meta": {"k%d" % j: "v" * 200 for j in range(20)}, "kind": "b"} for i in range(200)]
).encode()


@pytest.mark.parametrize(
    "schema",
    [
        qm.anything,
        list[dict],
        list[{"id": int, "name": str, "score": float, "big": int, "tags": list[str],
              "meta": dict[str, str], "kind": Literal["a", "b"]}],
        list[{"id": Annotated[int, at.Ge(0)], "name": Annotated[str, at.MaxLen(1000), pattern("n+")],
              "tags": Annotated[list[str], at.MinLen(1)], str: Any}],
    ],
)
def test_is_valid_json_makes_no_python_object_for_checked_structure(schema):
    v = Validator(schema)
    assert v.is_valid_json(RECORDS) is True
    # A 500-character name alone takes over 500 bytes as a str; ints past 256 take 28.
    assert peak_traced_bytes(lambda: v.is_valid_json(RECORDS)) < 28


def test_values_that_need_python_are_converted():
    # The contrast that shows the measure can see a conversion.
    v = Validator(list[{"name": Annotated[str, at.Predicate(lambda s: len(s) == 500)], str: Any}])
    assert v.is_valid_json(RECORDS) is True
    assert peak_traced_bytes(lambda: v.is_valid_json(RECORDS)) > 500


def test_validate_json_of_a_member_runs_each_predicate_once():
    # A member decided without Python objects must not skip or repeat Python code.
    seen = []
    v = Validator(list[Annotated[int, at.Predicate(lambda n: seen.append(n) is None)]])
    assert v.validate_json("[1, 2, 3]") is None
    assert seen == [1, 2, 3]
