"""Schemas that run no Python code have their JSON documents checked as the text is read, and load
makes its objects in the same pass. Every answer must stay the one the parsed object gives:
is_valid_json as is_valid of json.loads, validate_json and load raising what validate raises (or
the reader's json_invalid error), and load returning json.loads's object, key order included."""

import json
from typing import Annotated, Any, Literal, NotRequired, TypedDict

import annotated_types as at
import pytest
from hypothesis import HealthCheck, given, seed, settings
from hypothesis import strategies as st

import quillmar._quillmar as qm

from test_leaks import assert_no_leak

Validator = qm.Validator

# Runs Python code, so it reads the whole document before checking it: the reader's own answer.
READER = Validator(Annotated[Any, at.Predicate(lambda value: True)])


def pattern(text):
    return type("Pattern", (), {"pattern": text})()


def same(a, b):
    """Equal with exact types and dict key order."""
    if type(a) is not type(b):
        return False
    if type(a) is list:
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if type(a) is dict:
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


def outcome(call):
    """("ok", what call returned) or ("error", the ValidationError's message and items)."""
    try:
        return "ok", call()
    except qm.ValidationError as error:
        return "error", (str(error), error.errors)


def reading(data):
    """The object json.loads makes of data, or None with the reader's refusal."""
    refused = outcome(lambda: READER.validate_json(data))
    if refused[0] == "error":
        assert refused[1][1][0]["code"] == "json_invalid"
        return None, refused
    value = json.loads(data)
    assert same(READER.load(data), value)
    return value, None


def forms(document):
    """The document as str and as bytes; bytes stand for themselves."""
    if isinstance(document, bytes):
        return [document]
    return [document, document.encode("utf-8", "surrogatepass")]


def check_document(v, data):
    value, refused = reading(data)
    member = refused is None and v.is_valid(value)
    assert v.is_valid_json(data) is member, data
    for fail_fast in (False, True):
        expected = refused or outcome(lambda: v.validate(value, fail_fast=fail_fast))
        assert outcome(lambda: v.validate_json(data, fail_fast=fail_fast)) == expected, (data, fail_fast)
        loaded = outcome(lambda: v.load(data, fail_fast=fail_fast))
        if member:
            assert loaded[0] == "ok" and same(loaded[1], value), (data, loaded)
        else:
            assert loaded == expected, (data, fail_fast)


class Movie(TypedDict):
    title: str
    year: NotRequired[int]


def members(count, value):
    return ", ".join('"k%d": %s' % (i, value(i)) for i in range(count))


def obj(*parts):
    return "{" + ", ".join(parts) + "}"


def deep(depth, inner, left="[", right="]"):
    return left * depth + inner + right * depth


BIG = "7" * 4301
# "é" raw and escaped, and "été" escaped. Value strings next to them are escaped too: reading one
# overwrites the buffer an escaped key was decoded into.
E_RAW, E_ESCAPED = '"\u00e9"', '"\\u00e9"'
ETE = '"\\u00e9t\\u00e9"'
RECURSIVE = qm.recursive(lambda r: qm.union(None, int, str, list[r], dict[str, r]))
TREE = qm.recursive(lambda r: {"value": int, "children?": list[r]})
# Two members that take the same arrays, so that a failed one's steps are walked again.
OVERLAPPING = qm.recursive(lambda r: qm.union(list[r], list[int | r], str))

CASES = [
    # declared keys: only the last member with a key counts
    ({"a": int, "b?": str}, [
        '{"a": "x", "a": 1}', '{"a": 1, "a": "x"}', '{"a": 1, "b": 2, "b": "s"}', '{"b": "s", "a": 1, "b": 2}',
        '{"a": 1, "a": 2, "a": "x", "a": 3}', '{"a": [1, {"x": [null]}], "a": 4}', '{"a": 4, "a": {"x": [1]}}',
        '{"\\u0061": "x", "a": 1}', '{"a": 1, "\\u0061": "x"}', '{"b": "s"}', '{"b": "s", "b": "t", "a": 0}',
        '{"a": 1, "c": 1}', '{"c": 1, "a": 1}', '{}', '[]', '{"a": 1,}', '{"a": "x", "a": 1', '{"a": 1} 1',
        '{"a": "x", "a": 1, "c": [}', '{"a": 1, "a": "\\ud800"}',
    ]),
    (Movie, ['{"title": 1, "year": 2, "title": "t"}', '{"year": "x", "title": "t", "year": 1999}',
             '{"title": "t", "year": 1999, "year": null}', '{"year": 1}']),
    # a record of many declared keys, listed out of order and repeated
    ({"k%d" % i: int for i in range(20)}, [
        obj(members(20, str)), obj(members(20, lambda i: '"x"'), members(20, str)),
        obj(members(20, str), '"k19": "x"'), obj(members(20, str), '"k3": "x"', '"k3": 3'),
    ]),
    # undeclared keys, each with its last value
    (dict[str, int], [
        '{"k": "x", "k": 1}', '{"k": 1, "k": "x"}', '{"k": "x", "j": 1, "k": 2}', '{"k": "x", "j": 1}',
        obj(E_ESCAPED + ': "x"', E_RAW + ": 1"), obj(E_RAW + ": 1", E_ESCAPED + ': "x"'),
        obj(ETE + ': "\\u0041"', '"\u00e9t\u00e9": 2'), '{"\\u0000": "x", "\\u0000": 0}',
        # past eight failed keys at once the object is decided another way; the answers stay
        obj(members(8, lambda i: '"x"'), members(8, str)), obj(members(9, lambda i: '"x"'), members(9, str)),
        obj(members(9, lambda i: '"x"'), members(8, str)), obj(members(12, lambda i: '"x"')),
        obj(members(9, lambda i: '"x"'), members(9, str), '"k4": []'),
        '{"k": "x", "k": 1, }', '{"k": "x", "k": 1}]', b'{"k": "x", "k": 1, "\xff": 2}', '{"\\udc00": 1}',
        '{"k": "x", "k": 1, "j": ' + BIG + "}",
    ]),
    # declared keys with extras, some of them repeated
    ({"a": int, str: list[int]}, [
        '{"a": 1, "b": [1], "b": "x"}', '{"b": "x", "a": 1, "b": [2]}', '{"a": [1], "a": 1, "b": []}',
        '{"b": [], "b": [1, "x"]}', '{"a": 1, "\\u0062": "x", "b": [3]}',
    ]),
    # several extras pairs: a key that one pair takes and whose value fails there is tried on the next,
    # its bytes kept across reading the value
    ({"id": int, Literal["x", "y"]: str, str: int}, [
        '{"id": 1, "x": 1}', '{"id": 1, "x": "s", "z": 2}', '{"id": 1, "x": [1]}', '{"id": 1, "z": "s"}',
        '{"id": 1, "\\u0078": 1}', '{"id": 1, "\\u0078": "\\u0041"}', '{"id": 1, "x": 1, "x": null}',
        '{"id": 1, "x": null, "\\u0078": 2}',
    ]),
    ({Annotated[str, at.MinLen(2)]: int, Annotated[str, pattern("\u00e9.*")]: str}, [
        obj(ETE + ': "\\u0041BC"'), obj(ETE + ': 1'), obj(ETE + ': "\\u0041BC"', '"\\u0061\\u0062": "\\u0043"'),
        obj('"\u00e9t\u00e9": "x"', ETE + ": [1]"), obj(ETE + ": [1]", '"\u00e9t\u00e9": "x"'),
        obj('"\\u0061\\u0062": "\\u00e9\\u00e9"', '"\u00e9": "\\u0041"', '"\\u00e9\\u00e9\\u00e9": 3'),
        obj('"a": "x"'), obj(E_ESCAPED + ': "x"', E_RAW + ": 1"),
    ]),
    ({Annotated[str, pattern("[a-z]+")]: int, Annotated[str, at.MaxLen(1)]: Literal["a", "b"]}, [
        '{"ab": 1, "\\u00e9": "a"}', '{"\\u00e9": "c"}', '{"A": "b", "Z": "a"}', '{"AB": 1}', '{"a": "b"}',
        '{"\\u4e2d": "a", "\\u4e2d": 1}', '{"\\ud83d\\ude00": "b"}',
    ]),
    # one key declared twice, required and optional: the last member must pass both
    ({"a": int, "a?": Literal[1, 2, "x"]},
     ['{"a": 1}', '{"a": 3}', '{"a": "x"}', "{}", '{"a": 3, "a": 2}', '{"a": 2, "a": 3}']),
    # a large record, its keys found out of declared order
    ({"k%d" % i: int for i in range(300)}, [
        json.dumps({"k%d" % i: i for i in reversed(range(300))}), json.dumps({"k%d" % i: i for i in range(299)}),
        obj(members(300, lambda i: '"x"'), members(300, str)), obj(members(300, str), '"k150": null'),
    ]),
    # a declared key outside ASCII, spelt raw or escaped, and an open record
    ({"\u00e9": int, "b?": [int, str]}, [
        obj(E_RAW + ": 1"), obj(E_ESCAPED + ": 1"), obj(E_ESCAPED + ': "x"', E_RAW + ": 1"),
        obj(E_RAW + ": 1", E_ESCAPED + ': "x"'), obj(E_RAW + ": 1", '"b": [1, "s"]'), obj(E_RAW + ": 1", '"b": [1]'),
        obj(E_RAW + ": 1", '"b": [1, "s", 2]'), obj(E_RAW + ": 1", '"b": ["s", 1]', '"b": [2, "t"]'), '{"e": 1}',
    ]),
    (Validator({"a": int}).open(), ['{"a": 1, "b": [1, {}], "b": "x"}', '{"b": 1, "a": "x", "a": 2}', '{"b": 1}']),
    # arrays of a fixed prefix and a repeated tail
    ([int, {"a": str}, ...], ['[1]', '[1, {"a": "s"}, {"a": "t", "a": "u"}]', '[1, {"a": 1, "a": "s"}]',
                              '[1, {"a": "s", "a": 1}]', '[]', '[{"a": "s"}]', '[1, {"a": "s"}, ]']),
    # unions and intersections of containers: the text is read again for each member
    (qm.union(dict[str, int], dict[str, str]), [
        '{"a": 1, "b": "x"}', '{"a": "x", "a": 1}', '{"a": 1, "a": "x"}', '{}', '{"a": 1, "b": 2, "a": "x"}',
        obj(E_ESCAPED + ": 1", E_RAW + ': "x"'),
    ]),
    (qm.union({"kind": Literal["a"], "v": int}, {"kind": Literal["b"], "v": str}, list[int]), [
        '{"kind": "a", "v": 1}', '{"kind": "b", "v": 1}', '{"kind": "a", "v": "x", "kind": "b"}',
        '{"v": 1, "kind": "b", "v": "s"}', '[1, 2]', '[1, "a"]', '{"kind": "c", "v": 1}', '[1, 2',
        '{"kind": "b", "v": "s"} ]',
    ]),
    (qm.union(list[int], list[str], dict[str, list[int]]), [
        '[1, 2]', '["a", "b"]', '[1, "a"]', '[]', '{"k": [1], "k": []}', '{"k": ["x"], "k": [1]}', '[["a"]]',
        '[1, "a", ]', '["a", 1] x', '["a", ' + BIG + "]",
    ]),
    (qm.intersection({"a": int, str: Any}, {"b?": str, str: int | str}), [
        '{"a": 1}', '{"a": 1, "b": "s", "c": 2}', '{"a": 1, "b": 2}', '{"a": 1, "c": [1]}',
        '{"a": 1, "b": 2, "b": "s"}',
        '{"a": 1, "c": [1], "c": 3}', '{"a": 1, "\\u0063": null, "c": "s"}', '{"b": "s", "c": 1}',
    ]),
    # the objects a failed member made are dropped before the next member reads the value again
    (dict[str, qm.union({"a": int}, {"a": str, "b": list[int]}, list[int | str])], [
        '{"k": {"a": "x", "b": [1]}, "k": {"a": 1}}', '{"k": {"a": 1}, "j": [1, "a"], "k": {"a": "s", "b": []}}',
        '{"k": {"b": [1], "a": "s", "b": [2]}}', '{"k": {"a": "s", "b": ["x"]}}', '{"k": [1, "a", [2]]}',
    ]),
    (qm.union(dict, list[int]), ['{"a": [1], "a": null}', "[1, 2]", '[1, "a"]']),
    (qm.intersection({"a": int, str: Any}, {"a": Literal[1, 2], "b?": str, str: Any}), [
        '{"a": 1}', '{"a": 3}', '{"a": 3, "a": 2, "b": "s"}', '{"a": 2, "a": 3}', '{"a": 1, "b": 1, "b": "s", "c": []}',
    ]),
    (qm.intersection(list[int | str], qm.complement(list[str])), ['[1, "a"]', '["a"]', "[]", "[1]", '["a", null]']),
    # complements over containers
    (qm.complement(list[int]), ['[1, "x"]', "[1]", "{}", "1", '[1, "x", }', '[1, "x"] 2', '["x", [' * 3]),
    (qm.complement(dict[str, int]), ['{"a": "x", "a": 1}', '{"a": 1, "a": "x"}', '{"a": 1}', "[]"]),
    (qm.complement(qm.complement(list[str])), ['["a"]', "[1]", '["a", "\\udc00"]']),
    # recursive schemas
    (RECURSIVE, [
        '[1, "a", null, {"k": [2, {"j": [[]]}]}]', '{"k": 1.5}', '[[[true]]]', '{"a": {"a": 1.5, "a": 1}}',
        '{"a": {"a": 1, "a": 1.5}}', deep(127, "1"), deep(128, "1"), deep(127, "1", '{"k": ', "}"),
        deep(128, "{}", '{"k": ', "}"), deep(127, "1.5"),
    ]),
    # two levels of nesting per recursion step reach the reader's nesting limit inside the check
    (qm.recursive(lambda r: qm.union(int, list[list[r]])),
     [deep(200, "1"), deep(201, "1"), deep(202, "1"), deep(200, ""), deep(201, ""), deep(202, ""), deep(203, "")]),
    (qm.recursive(lambda r: qm.union(int, {"k": {"k?": r}})),
     [deep(200, "1", '{"k": ', "}"), deep(201, "1", '{"k": ', "}"), deep(201, "{}", '{"k": ', "}"),
      deep(202, "{}", '{"k": ', "}")]),
    (TREE, [
        '{"value": 1, "children": [{"value": 2}, {"value": 3, "children": []}]}',
        '{"value": 1, "children": [{"value": "x", "value": 2}]}',
        '{"value": 1, "children": [{"value": 2, "value": "x"}]}',
        '{"value": 1, "children": [{"value": 2, "other": 3}]}', '{"children": [], "value": 1, "children": [{}]}',
    ]),
    (OVERLAPPING, ['[[1, [2]], ["a", [[3]]]]', '[[1, [2]], ["a", [[3.5]]]]', '["a", [1], [[[["b"]]]]]', '[[null]]']),
    # lengths of arrays, patterns on strings, literal unions
    (Annotated[list[int], at.MinLen(2), at.MaxLen(3)], [
        "[1]", "[1, 2]", "[1, 2, 3]", "[1, 2, 3, 4]", '[1, "x"]', '[1, "x", 3, 4]', "[1, 2, ]", "[[1], 2]",
    ]),
    (qm.union(Annotated[list[int], at.MinLen(2)], Annotated[list[str], at.MaxLen(1)]), [
        "[1, 2]", "[1]", '["a"]', '["a", "b"]', "[]", '[1, "a"]',
    ]),
    (Annotated[dict[str, int], at.MinLen(2)], ['{"a": 1, "a": 2}', '{"a": 1, "b": 2}', '{"a": 1, "b": "x", "b": 2}']),
    (list[Annotated[Any, at.MinLen(1)]], ['[[0], "a", {"a": 1}]', "[[]]", '[""]', '[{"a": 1, "a": 2}]', "[1]"]),
    ({"name": Annotated[str, pattern("[a-z]+\\d")], "tags?": list[Annotated[str, at.MaxLen(2)]]}, [
        '{"name": "abc1"}', '{"name": "abc"}', '{"name": "x\\u0663"}',
        '{"name": "a1", "tags": ["ab", "\\u00e9\\u00e9"]}',
        '{"name": "a1", "tags": ["abc"]}', '{"name": "ab", "name": "ab1"}', '{"name": ["a1"]}',
    ]),
    (list[Annotated[Any, pattern(".*")]], ['["a", ""]', "[[]]", '["a", {}]', "[1]"]),
    (list[Literal[1, 2, "a", "\u00e9", True, None]], [
        '[1, 2, "a", "\\u00e9", "\u00e9", true, null]', "[3]", '["b"]', "[1.0]", "[false]", "[[1]]", '[{"a": 1}]',
    ]),
    ({"kind": Literal["x", "y"], str: Literal[True, None]}, [
        '{"kind": "x", "z": true}', '{"kind": "z"}', '{"kind": "x", "z": false, "z": null}', '{"kind": ["x"]}',
    ]),
    # reading ends in refusal after the check has decided
    (qm.union(list[int], qm.complement(list[str])),
     [deep(200, "1"), deep(201, "1"), deep(201, '"x"'), deep(200, '"x"'), "[" + deep(200, "1") + ', "x"]']),
    (list[Any], [deep(199, "1"), deep(200, "1"), deep(200, ""), deep(201, ""), "[" * 201, '[1, "\\ud800"]', "[1] ]"]),
    ({"a": Any, "b": int}, [
        obj('"a": ' + deep(198, "{}"), '"b": 1'), obj('"a": ' + deep(199, "{}"), '"b": 1'),
        obj('"a": ' + deep(200, "1"), '"b": 1'), obj('"b": "x"', '"a": ' + deep(250, "1")),
    ]),
    (list[int], [
        "[1, " + BIG + "]", '[1, "x", ' + BIG + "]", '[1, "x", }', '["x", 1, 2', "[1, 2] x", "[1, 2],",
        b'[1, "x", "\xff"]', b'[1, "\xc3("]', '[1, "\ud800"]', "[1, 7" + "0" * 4299 + "]",
    ]),
    (list[str], [b'["ok", "\xff"]', b'["ok", "\xed\xa0\x80"]', '["\\ud800"]', '["\\ud800\\udc00"]', '["a", "\ud800"]']),
    # lists of one plain type are read item by item from the first byte; integers of every run length
    # around the eight bytes read at once, at the end of the text and before each kind of byte after
    (list[int], ["[" + ", ".join(str(10**k + k) for k in range(25)) + "]",
                 "[" + ",".join(str(-(10**k) - 7) for k in range(25)) + "]",
                 "[9223372036854775807, -9223372036854775808, 9223372036854775808, -9223372036854775809]",
                 "[12345678]", "[123456789]", "[1234567,12345678 ,123456789]", "[1234567e1]", "[12345678.5]",
                 "[00]", "[-]", "[1.]", "[-0, 0, 1E400]", "[1, true, false]", "[1, null]", '[1, "1"]', "[1, [1]]"]),
    (list[float], ["[1.5, -0.25e-3, 12345678.125]", "[1.5, 2]", "[1e400, -1e-400]", '[1.5, "1.5"]', "[1.5, {}]"]),
    (list[str], ['["a", "\\u00e9\\n", "\u00e9"]', '["a", 1]', '["a", ["b"]]', '["a", null]', '["\\x"]',
                 b'["\xc3\\u0041"]', b'["\\u00e9\xa9"]', b'["\xe6\x97\xa5\\n\xe6\x9c\xac"]', b'["\xe6\x97\\n"]']),
    # values only passed over are checked as reading them would check them
    (list[Any], [b'[["\xff"]]', b'[{"\xff": 1}]', '[{"a": "\\x"}]', '[["\\ud800"]]', '[{"a": "\\ud800\\udc00"}]',
                 b'[{"\xc3\xa9": ["\xc3\\u0041"]}]', '[{"a": 1 "b": 2}]', '[{"a" 1}]', '["a\tb"]']),
    # an array at the nesting limit may be empty only; its items would stand past it (two levels a
    # step keep the check under its own recursion limit)
    *[(qm.recursive(lambda r, plain=plain: qm.union(list[plain], list[qm.union(list[plain], list[r])])),
       [deep(199, "[1]"), deep(199, '["a"]'), deep(200, "[]"), deep(200, "[1]"), deep(200, '["a"]'), deep(200, "[[]]")])
      for plain in (int, str, float, Any)],
]


def case_id(case):
    return repr(Validator(case[0]))[:50]


@pytest.mark.parametrize(("schema", "documents"), CASES, ids=map(case_id, CASES))
def test_answers_as_the_parsed_object(schema, documents):
    v = Validator(schema)
    for document in documents:
        for data in forms(document):
            check_document(v, data)


# What load made of a member that failed, or of a value read again, is released.
LEAK_SCHEMA = qm.union(
    qm.intersection({"a": int, str: Any}, {"a": Literal[1, 2], str: list[int] | str}),
    dict[str, qm.union({"a": int}, {"a": str, "b": list[int]})],
    qm.complement(list[str]),
)
LEAK_DOCUMENTS = [
    '{"a": 1, "k": [1, 2], "k": "s"}', '{"a": 1, "a": 3, "k": [1]}', '{"k": {"a": "x", "b": [1]}, "k": {"a": 1}}',
    '{"\\u00e9\\u00e9": {"a": "\\u0041\\u0042", "b": [1, "x"]}}', '{"k": 1}', '{"k": {"a": "x", "b": [1]}',
    '[1, "a", {"b": [2]}]', '["a", "b"]', '["a", 1] x',
]


def test_nothing_leaks_from_objects_dropped_while_reading():
    v = Validator(LEAK_SCHEMA)

    def call():
        for document in LEAK_DOCUMENTS:
            try:
                v.load(document)
            except qm.ValidationError:
                pass
            v.is_valid_json(document.encode())

    assert_no_leak(call)


# Generated schemas, and documents aimed at them whose objects repeat keys, spelt raw or escaped,
# against unions, intersections and complements of containers.

SPELLINGS = {"a": ['"a"', '"\\u0061"'], "b": ['"b"', '"\\u0062"'], "\u00e9": ['"\u00e9"', '"\\u00e9"'], "c": ['"c"']}
KEY = st.sampled_from([spelling for spellings in SPELLINGS.values() for spelling in spellings])
SCALAR = st.sampled_from(["0", "1", "-2", "true", "false", "null", "1.5", '""', '"a"', '"\\u0061b"', '"\u00e9"',
                          '"\\u00e9\\u00e9"'])


def array_of(items):
    return st.lists(items, max_size=3).map(lambda xs: "[" + ", ".join(xs) + "]")


def object_of(members):
    return st.lists(members, max_size=4).map(lambda ms: "{" + ", ".join("%s: %s" % m for m in ms) + "}")


ANY_DOCUMENT = st.recursive(SCALAR, lambda c: array_of(c) | object_of(st.tuples(KEY, c)), max_leaves=8)

LEAVES = {
    "int": (int, st.sampled_from(["0", "-2", "true"])),
    "str": (str, st.sampled_from(['"a"', '"\\u00e9"', '""'])),
    "none": (None, st.just("null")),
    "any": (Any, ANY_DOCUMENT),
    "lit": (Literal["a", 1, "\u00e9"], st.sampled_from(['"a"', '"\\u0061"', "1", '"\\u00e9"', '"b"'])),
    "pattern": (Annotated[str, pattern("[ab]+")], st.sampled_from(['"ab"', '"\\u0062"', '"\u00e9"'])),
}


def key_of(name):
    return st.sampled_from(SPELLINGS[name])


def node(children):
    pairs = st.tuples(children, children)
    return st.one_of(
        [children.map(lambda c, kind=kind: (kind, c)) for kind in ("list", "dict", "not", "len")]
        + [pairs.map(lambda p, kind=kind: (kind, *p)) for kind in ("rec", "open", "keys", "union", "inter")]
    )


TREES = st.recursive(st.sampled_from(sorted(LEAVES)).map(lambda name: (name,)), node, max_leaves=4)


def schema_of(t):
    if len(t) == 1:
        return LEAVES[t[0]][0]
    parts = [schema_of(c) for c in t[1:]]
    return {
        "list": lambda c: list[c],
        "dict": lambda c: dict[str, c],
        "not": qm.complement,
        "len": lambda c: Annotated[list[c], at.MinLen(1), at.MaxLen(2)],
        "rec": lambda c, d: {"a": c, "b?": d},
        "open": lambda c, d: {"a": c, str: d},
        "keys": lambda c, d: {"\u00e9?": c, Literal["a", "b"]: d, str: c},
        "union": qm.union,
        "inter": qm.intersection,
    }[t[0]](*parts)


def documents_of(t):
    """Documents aimed at the tree's members, with strays mixed in."""
    if len(t) == 1:
        return LEAVES[t[0]][1] | SCALAR
    kind, parts = t[0], [documents_of(c) for c in t[1:]]
    stray = st.tuples(KEY, ANY_DOCUMENT)
    aimed = {
        "list": lambda c: array_of(c),
        "len": lambda c: array_of(c),
        "dict": lambda c: object_of(st.tuples(KEY, c)),
        "not": lambda c: c,
        "rec": lambda c, d: object_of(st.tuples(key_of("a"), c) | st.tuples(key_of("b"), d) | stray),
        "open": lambda c, d: object_of(st.tuples(key_of("a"), c) | st.tuples(KEY, d) | stray),
        "keys": lambda c, d: object_of(st.tuples(KEY, c) | st.tuples(key_of("a") | key_of("b"), d) | stray),
        "union": lambda c, d: c | d,
        "inter": lambda c, d: c | d,
    }[kind](*parts)
    return aimed | ANY_DOCUMENT


@st.composite
def schema_and_documents(draw):
    t = draw(TREES)
    # Now and then the document is spoilt past the point where its check can decide.
    spoil = st.sampled_from(["", "", "", "", " x", ",", "]", "}"])
    documents = st.tuples(documents_of(t), spoil).map("".join)
    return t, draw(st.lists(documents, min_size=4, max_size=8))


@seed(5)
@settings(max_examples=300, deadline=None, database=None, suppress_health_check=[HealthCheck.too_slow])
@given(schema_and_documents())
def test_generated_documents_answer_as_the_parsed_object(case):
    t, documents = case
    v = Validator(schema_of(t))
    for document in documents:
        for data in forms(document):
            check_document(v, data)
