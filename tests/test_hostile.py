"""Hostile input: schemas at the limits, huge and deeply nested values and documents, catastrophic
patterns, and objects that misbehave. Each gets a clear error or a correct answer, and returns."""

import dataclasses
import itertools
import json
import subprocess
import sys
import textwrap
from contextlib import nullcontext
from types import SimpleNamespace
from typing import Annotated, Any, Literal

import annotated_types as at
import pytest

import quillmar._quillmar as qm

Validator = qm.Validator


def errors(v, value, **kwargs):
    with pytest.raises(qm.ValidationError) as info:
        v.validate(value, **kwargs)
    assert v.is_valid(value) is False
    return [(e["code"], e["path"]) for e in info.value.errors]


# --- schemas at the three limits -----------------------------------------------------------------------------


def deepest():
    """A validator of depth exactly MAX_SCHEMA_DEPTH, built one level at a time."""
    v = Validator(int)
    while True:
        try:
            v = Validator({"k": v})
        except ValueError:
            return v


def most_definitions():
    """A union of MAX_DEFINITIONS distinct recursive validators."""
    members = [qm.recursive(lambda r, i=i: qm.union(Annotated[int, at.Ge(i)], list[r])) for i in range(qm.MAX_DEFINITIONS)]
    return qm.union(*members)


def most_nodes():
    """A union of records, refinements and recursion, padded with literals to exactly MAX_SCHEMA_NODES."""
    members = [{f"k{i}": int, "v?": Annotated[int, at.Ge(i)], "l": list[str]} for i in range(2000)]
    members.append(qm.recursive(lambda r: qm.union(None, {"next": r})))
    probe = qm.MAX_SCHEMA_NODES
    with pytest.raises(ValueError) as info:
        qm.union(*members, *range(probe))
    spanned = int(str(info.value).split(" spans ")[1].split(" ")[0])
    v = qm.union(*members, *range(qm.MAX_SCHEMA_NODES - (spanned - probe)))
    with pytest.raises(ValueError, match="spans 100001 nodes"):
        qm.union(*members, *range(qm.MAX_SCHEMA_NODES - (spanned - probe) + 1))
    return v


@pytest.fixture(scope="module")
def at_limits():
    return {"depth": deepest(), "definitions": most_definitions(), "nodes": most_nodes()}


def test_limits_are_reached_not_breached(at_limits):
    with pytest.raises(ValueError, match="too deep"):
        Validator({"k": at_limits["depth"]})
    with pytest.raises(ValueError, match="too many recursive definitions"):
        qm.union(at_limits["definitions"], qm.recursive(lambda r: list[r]))


@pytest.mark.parametrize("limit", ["depth", "definitions", "nodes"])
def test_decisions_at_the_limits_answer(at_limits, limit):
    v = at_limits[limit]
    assert v.is_empty() is False
    assert v.is_subtype_of(v) in (True, False)  # within the budget or not, an answer
    assert v.is_equivalent(v.simplify() if limit != "nodes" else v) in (True, False)
    assert v.is_subtype_of(qm.anything) is True
    assert Validator(int).is_subtype_of(v) in (True, False)


@pytest.mark.parametrize("limit", ["depth", "definitions", "nodes"])
def test_simplify_at_the_limits(at_limits, limit):
    v = at_limits[limit]
    try:
        simple = v.simplify()
    except ValueError as error:  # the normal form may grow past a limit: that is the clear error
        assert "past the limit" in str(error)
        return
    assert simple.is_valid(5) == v.is_valid(5)
    assert simple.is_valid("x") == v.is_valid("x")


def test_complement_of_a_wide_union_simplifies_or_refuses():
    wide = qm.union(*[{f"k{i}": int, f"j{i}": str} for i in range(200)])
    negated = qm.complement(qm.intersection(wide, qm.complement(wide)))
    try:
        simple = negated.simplify()
    except ValueError as error:
        assert "past the limit" in str(error)
    else:
        assert simple.is_valid(1) is True


def test_other_beyond_the_limits_is_decided():
    # Embedding validators at the depth limit into a record makes a deeper other; it is never finalized.
    v = deepest()
    deeper = {"a": v, "b": {"c": v}}
    assert v.is_subtype_of(deeper) is False
    assert v.is_equivalent(deeper) is False


@pytest.mark.parametrize(
    "make",
    [
        pytest.param(lambda: qm.recursive(lambda r: list[list[list[r]]]), id="no-base-case"),
        pytest.param(lambda: qm.recursive(lambda r: qm.union(int, {"a": r, "b": list[r], "c": tuple[r, r]})),
                     id="branching"),
        pytest.param(lambda: qm.intersection(*[qm.recursive(lambda r, i=i: qm.union(Annotated[int, at.Ge(i)],
                                                                                  list[r], {"k": r}))
                                               for i in range(60)]), id="intersection-of-recursive"),
        pytest.param(lambda: qm.complement(qm.recursive(lambda r: qm.union(None, list[qm.complement(r)]))),
                     id="complemented-recursion"),
    ],
)
def test_decisions_on_nested_recursive_schemas(make):
    v = make()
    w = qm.recursive(lambda r: qm.union(int, list[r], {"a": r}))
    for answer in (v.is_empty(), v.is_subtype_of(w), w.is_subtype_of(v), v.is_equivalent(w), v.is_equivalent(v)):
        assert answer in (True, False)
    assert v.simplify().is_valid([[[]]]) == v.is_valid([[[]]])


# --- huge and deep values ------------------------------------------------------------------------------------


def nested_list(depth, leaf=1):
    value = leaf
    for _ in range(depth):
        value = [value]
    return value


def test_value_nested_10000_deep():
    deep = nested_list(10_000)
    assert qm.anything.is_valid(deep) is True
    assert Validator(list).is_valid(deep) is True
    assert Validator(list[list[int]]).is_valid(deep) is False
    assert errors(Validator(list[list[int]]), deep) == [("int_type", (0, 0))]
    tree = qm.recursive(lambda r: qm.union(int, list[r]))
    assert ("recursion_limit" in {code for code, _ in errors(tree, deep)})
    assert tree.is_valid(nested_list(100)) is True


def test_self_referencing_containers():
    loop = []
    loop.append(loop)
    cycle = {}
    cycle["self"] = cycle
    tree = qm.recursive(lambda r: qm.union(int, list[r]))
    assert tree.is_valid(loop) is False
    assert errors(tree, loop)[-1][0] in ("recursion_loop", "recursion_limit")
    node = qm.recursive(lambda r: {"self": r})
    assert node.is_valid(cycle) is False
    with pytest.raises(qm.ValidationError) as info:
        Validator(int).validate(loop)
    assert info.value.errors[0]["value"] == "[[...]]"
    assert Validator(list[Any]).is_valid(loop) is True


def test_ten_megabyte_string():
    text = "a" * 10_000_000
    assert Validator(str).is_valid(text) is True
    assert Validator(Annotated[str, at.MaxLen(10)]).is_valid(text) is False
    assert Validator(Annotated[str, SimpleNamespace(pattern="a*")]).is_valid(text) is True
    assert Validator(Annotated[str, SimpleNamespace(pattern="a*b")]).is_valid(text) is False
    with pytest.raises(qm.ValidationError) as info:
        Validator(int).validate(text)
    shown = info.value.errors[0]["value"]
    assert shown == repr(text)[:80] + "..."


@pytest.mark.parametrize("digits", [4300, 4301, 100_000])
def test_huge_integers(digits):
    big = 10 ** (digits - 1)
    assert Validator(Annotated[int, at.Ge(0)]).is_valid(big) is True
    assert Validator(Annotated[int, at.Lt(big)]).is_valid(big) is False
    with pytest.raises(qm.ValidationError) as info:
        Validator(str).validate(big)
    shown = info.value.errors[0]["value"]
    # Past the interpreter's digit limit repr() refuses, and the fallback text stands in.
    assert shown == ("<unrepresentable>" if digits > sys.get_int_max_str_digits() else repr(big)[:80] + "...")


@pytest.mark.parametrize(
    "pattern, text",
    [
        ("(a+)+$", "a" * 100_000 + "!"),
        ("(a|aa)*c", "a" * 100_000),
        ("(x+x+)+y", "x" * 50_000),
        (r"(\w+\s?)*$", "word " * 20_000 + "!"),
    ],
)
def test_nested_quantifiers_run_in_linear_time(pattern, text):
    v = Validator(Annotated[str, SimpleNamespace(pattern=pattern)])
    assert v.is_valid(text) is False
    assert v.is_valid(text[:-1] + text[-2]) in (True, False)


# --- JSON ----------------------------------------------------------------------------------------------------


@pytest.mark.parametrize("open_, close", [("[", "]"), ('{"a":', "}")])
def test_documents_nested_10000_deep(open_, close):
    document = open_ * 10_000 + "1" + close * 10_000
    for parse in (qm.anything.load, qm.anything.validate_json):
        with pytest.raises(qm.ValidationError) as info:
            parse(document)
        assert info.value.code == "json_invalid"
        assert str(info.value.errors[0]["value"]).startswith("recursion limit exceeded at line 1 column ")
    assert qm.anything.is_valid_json(document) is False
    assert qm.anything.is_valid_json(document.encode()) is False


def test_json_ten_megabyte_string():
    text = "é" * 5_000_000
    document = '"%s"' % text
    assert qm.anything.load(document) == text
    assert qm.anything.load(document.encode()) == text
    assert Validator(Annotated[str, at.MinLen(5_000_000)]).is_valid_json(document) is True
    assert Validator(Annotated[str, at.MaxLen(10)]).is_valid_json(document) is False


@pytest.mark.parametrize("sign", ["", "-"])
def test_json_integers_at_the_digit_limit(sign):
    # Integers of up to 4300 digits, the sign not counted, are read exactly; one digit more is refused.
    at_limit = sign + "7" * 4300
    assert qm.anything.load(at_limit) == int(at_limit)
    assert Validator(list[Annotated[int, at.Ge(0)]]).is_valid_json("[%s]" % at_limit) is (sign == "")
    assert Validator(Annotated[int, at.Ge(0)]).is_valid_json(at_limit) is (sign == "")
    past = at_limit + "7"
    for parse in (qm.anything.load, qm.anything.validate_json):
        with pytest.raises(qm.ValidationError) as info:
            parse(past)
        assert info.value.errors[0]["value"] == f"number out of range at line 1 column {len(past)}"
    assert qm.anything.is_valid_json(past) is False


@pytest.mark.parametrize("sign", ["", "-"])
def test_json_floats_past_the_digit_limit(sign):
    # The limit is for integers: a fraction or an exponent makes a float, read as float() reads it.
    text = sign + "1" + "0" * 4400 + "e-4400"
    assert qm.anything.load(text) == float(text) == float(sign + "1")
    assert Validator(float).validate_json(text) is None
    assert Validator(list[Annotated[float, at.Ge(0)]]).is_valid_json("[%s]" % text) is (sign == "")
    assert Validator(Literal[float(text)]).is_valid_json(text) is True
    assert Validator(int).is_valid_json(text) is False


def test_json_with_deep_value_against_a_recursive_schema():
    tree = qm.recursive(lambda r: qm.union(int, list[r]))
    document = "[" * 200 + "1" + "]" * 200
    assert tree.is_valid_json(document) is False  # 200 levels of arrays pass 128 recursion levels
    assert "recursion_limit" in {e["code"] for e in pytest.raises(qm.ValidationError, tree.validate_json,
                                                                  document).value.errors}


# MurmurHash64A as libstdc++'s std::hash of a string has it: its 8-byte blocks enter through a bijection
# followed by a multiplication, so for any first block of a 16-byte pair a second block that restores a chosen
# state can be computed.
_M64 = 2**64 - 1
_MUL = 0xC6A4A7935BD1E995
_INV = pow(_MUL, -1, 2**64)
_SEED = 0xC70F6907


def _shift_mix(v):
    return v ^ (v >> 47)


def _block_in(word):
    return _shift_mix(word * _MUL & _M64) * _MUL & _M64


def _block_out(mixed):
    return _shift_mix(mixed * _INV & _M64) * _INV & _M64


def _unkeyed_hash(key: bytes) -> int:
    h = _SEED ^ (len(key) * _MUL & _M64)
    whole = len(key) & ~7
    for i in range(0, whole, 8):
        h = (h ^ _block_in(int.from_bytes(key[i : i + 8], "little"))) * _MUL & _M64
    if len(key) & 7:
        h = (h ^ int.from_bytes(key[whole:], "little")) * _MUL & _M64
    return _shift_mix(_shift_mix(h) * _MUL & _M64)


def colliding_keys(pairs, choices):
    """choices**pairs distinct keys of 16 * pairs bytes of UTF-8 that share one unkeyed std::hash."""
    state = _SEED ^ (16 * pairs * _MUL & _M64)
    spellings = []
    for pair in range(pairs):
        target = None
        found = []
        for n in itertools.count():
            first = f"{pair:02d}{n:06d}".encode()
            after = (state ^ _block_in(int.from_bytes(first, "little"))) * _MUL & _M64
            if target is None:
                second = b"anyblock"
                target = (after ^ _block_in(int.from_bytes(second, "little"))) * _MUL & _M64
            else:
                second = _block_out((target * _INV & _M64) ^ after).to_bytes(8, "little")
            try:
                found.append((first + second).decode())
            except UnicodeDecodeError:
                continue
            if len(found) == choices:
                break
        spellings.append(found)
        state = target
    return ["".join(parts) for parts in itertools.product(*spellings)]


FLOODED_OBJECTS = textwrap.dedent(
    """
    import json, sys
    import quillmar._quillmar as qm

    keys = json.loads(sys.stdin.read())
    members = ", ".join(f"{json.dumps(key)}: 1" for key in keys)
    first = json.dumps(keys[0])
    documents = {
        "all": "{" + members + "}",
        "first again, bad": "{" + members + ", " + first + ': "x"}',
        "first bad, then again": "{" + first + ': "x", ' + members + "}",
    }
    v = qm.Validator(dict[str, int])
    for name, document in documents.items():
        try:
            v.validate_json(document)
            raised = False
        except qm.ValidationError:
            raised = True
        print(name, v.is_valid_json(document), raised)
    """
)


def test_object_keys_made_to_collide_are_read_in_linear_time():
    # Were the table of keys unkeyed, each of these keys would probe past all the ones before it: minutes.
    keys = colliding_keys(3, 60)
    assert len(set(keys)) == len(keys) == 216_000
    assert len({_unkeyed_hash(key.encode()) for key in keys[::997]}) == 1
    done = subprocess.run([sys.executable, "-c", FLOODED_OBJECTS], input=json.dumps(keys), capture_output=True,
                          text=True, timeout=60)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.splitlines() == [
        "all True False",
        "first again, bad False True",
        "first bad, then again True False",
    ]


# A failing union reports the member that reaches deepest, after walking each; at every level of these values
# the members that fail at once see the whole value below them.
DEEP_UNION_REPORTS = textwrap.dedent(
    """
    import quillmar._quillmar as qm

    def report(check, value):
        try:
            check(value)
        except qm.ValidationError as error:
            return [(e["code"], len(e["path"]), e["value"]) for e in error.errors]

    json_tree = qm.recursive(lambda r: qm.union(None, bool, int, float, str, list[r], dict[str, r]))
    print(report(json_tree.validate_json, "[" * 130 + "1," * 1_000_000 + "1" + "]" * 130))
    int_tree = qm.recursive(lambda r: qm.union(int, list[r]))
    value = ["bad"] + [10**30] * 2_000_000
    for _ in range(120):
        value = [value]
    print(report(int_tree.validate, value))
    """
)


def test_union_reports_over_deep_values_show_only_the_start_of_each_value():
    # Were each value's whole repr() made, for every member at every level: minutes.
    done = subprocess.run([sys.executable, "-c", DEEP_UNION_REPORTS], capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.splitlines() == [
        str([("recursion_limit", 128, "[[" + "1, " * 26 + "...")]),
        str([("union_error", 121, "'bad'")]),
    ]


# --- objects that misbehave ----------------------------------------------------------------------------------


class Raises:
    def __init__(self, error=ValueError):
        self.error = error

    def __call__(self, *args, **kwargs):
        raise self.error("hostile")


def hostile(**dunders):
    return type("Hostile", (), dunders)()


WRONG = [
    pytest.param(hostile(__eq__=Raises()), id="eq-raises"),
    pytest.param(hostile(__eq__=lambda self, other: hostile(__bool__=Raises())), id="eq-truth-raises"),
    pytest.param(hostile(__eq__=lambda self, other: "yes"), id="eq-returns-str"),
    pytest.param(hostile(__hash__=Raises()), id="hash-raises"),
    pytest.param(hostile(__hash__=lambda self: "h"), id="hash-returns-str"),
    pytest.param(hostile(__repr__=Raises()), id="repr-raises"),
    pytest.param(hostile(__repr__=lambda self: 5), id="repr-returns-int"),
    pytest.param(hostile(__repr__=Raises(KeyboardInterrupt)), id="repr-raises-fatal"),
    pytest.param(hostile(__len__=Raises()), id="len-raises"),
    pytest.param(hostile(__len__=lambda self: -1), id="len-negative"),
    pytest.param(hostile(__len__=lambda self: "3"), id="len-returns-str"),
    pytest.param(hostile(__len__=lambda self: 2**70), id="len-huge"),
    pytest.param(hostile(__getattr__=Raises()), id="getattr-raises"),
    pytest.param(hostile(__getattribute__=Raises(), __repr__=lambda self: "H()"), id="getattribute-raises"),
    pytest.param(hostile(__getattr__=lambda self, name: 1), id="getattr-returns-int"),
    pytest.param(hostile(__lt__=Raises(), __ge__=Raises(), __gt__=Raises(), __le__=Raises()), id="order-raises"),
    pytest.param(hostile(__mod__=Raises(), __rmod__=Raises()), id="mod-raises"),
    pytest.param(hostile(__class__=property(Raises())), id="class-raises"),
    pytest.param(hostile(__iter__=Raises(), __len__=lambda self: 0), id="iter-raises"),
]


@pytest.mark.parametrize("value", WRONG)
@pytest.mark.parametrize(
    "schema",
    [
        pytest.param(int, id="int"),
        pytest.param(qm.union(1, "a", None, 2.5, b"x"), id="literals"),
        pytest.param(Annotated[Any, at.Ge(0), at.MaxLen(3), at.MultipleOf(2)], id="refined"),
        pytest.param({"a": int}, id="record"),
        pytest.param(SimpleNamespace, id="object"),
        pytest.param(list[int], id="list"),
        pytest.param(set[int] | frozenset[int], id="sets"),
        pytest.param(tuple[int, str], id="tuple"),
    ],
)
def test_misbehaving_values_are_non_members(schema, value):
    v = Validator(schema)
    assert v.is_valid(value) is False
    with pytest.raises(qm.ValidationError) as info:
        v.validate(value)
    assert info.value.errors  # a report, with a text for the value whatever its repr did
    assert isinstance(str(info.value), str)


@pytest.mark.parametrize("value", WRONG)
def test_misbehaving_values_inside_containers(value):
    v = Validator(qm.union(list[int], dict[str, int], {"a": int}))
    assert v.is_valid([1, value]) is False
    assert v.is_valid({"k": value}) is False
    errors(v, [value, value])


@pytest.mark.parametrize("value", WRONG)
def test_misbehaving_values_as_schema_constants(value):
    # A hostile constant in the pool: compiling, checking, equality, hashing and repr hold up.
    try:
        v = Validator(qm.union(int, Annotated[Any, at.Ge(value)]))
    except Exception as error:  # noqa: BLE001 - the compiler may refuse it, with an ordinary error
        assert not isinstance(error, SystemError)
        return
    assert v.is_valid(1) is True
    assert v.is_valid("x") is False
    assert isinstance(repr(v), str)
    assert (v == Validator(qm.union(int, Annotated[Any, at.Ge(value)]))) in (True, False)
    assert hash(v) == hash(Validator(qm.union(int, Annotated[Any, at.Ge(value)])))


def test_fatal_exception_in_a_predicate_passes_through():
    v = Validator(list[Annotated[int, at.Predicate(Raises(KeyboardInterrupt))]])
    with pytest.raises(KeyboardInterrupt):
        v.is_valid([1])
    with pytest.raises(KeyboardInterrupt):
        v.validate([1, 2])


# --- containers changed by a predicate during the check -----------------------------------------------------


def grow(target):
    def predicate(value):
        if isinstance(target, dict):
            target[len(target) + 1000] = 1
        else:
            target.add(len(target) + 1000)
        return True

    return predicate


def shrink(target):
    def predicate(value):
        if target:
            if isinstance(target, dict):
                target.pop(next(iter(target)))
            else:
                target.pop()
        return True

    return predicate


def swap(target):
    def predicate(value):
        key = next(iter(target))
        del target[key]
        target[("swapped", key)] = 1
        return True

    return predicate


SIZE = "dictionary changed size during iteration"
KEYS = "dictionary keys changed during iteration"


@pytest.mark.parametrize(
    "schema, edit, outcome",
    [
        (lambda p: dict[Any, Annotated[int, at.Predicate(p)]], grow, SIZE),
        (lambda p: dict[Any, Annotated[int, at.Predicate(p)]], shrink, SIZE),
        (lambda p: dict[Any, Annotated[int, at.Predicate(p)]], swap, KEYS),
        (lambda p: dict[Annotated[Any, at.Predicate(p)], int], grow, SIZE),
        (lambda p: dict[Annotated[Any, at.Predicate(p)], int], swap, KEYS),
        (lambda p: {"a": Annotated[int, at.Predicate(p)], "b": int, "c": int}, grow, SIZE),
        (lambda p: {"a": Annotated[int, at.Predicate(p)], "b?": int, "c": int}, shrink, SIZE),
        # At constant size the record's own key lookups see the swap: "a" is gone, an undeclared key came.
        (lambda p: {"a": Annotated[int, at.Predicate(p)], "b": int, "c": int}, swap, None),
    ],
)
@pytest.mark.parametrize("method", ["is_valid", "validate"])
def test_dict_changed_by_a_predicate(schema, edit, outcome, method, capfd):
    value = {"a": 1, "b": 2, "c": 3}
    v = Validator(schema(edit(value)))
    if outcome is None:
        with pytest.raises(qm.ValidationError) if method == "validate" else nullcontext():
            assert getattr(v, method)(value) is False
    else:
        with pytest.raises(RuntimeError) as info:
            getattr(v, method)(value)
        assert type(info.value) is RuntimeError and str(info.value) == outcome
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize("edit", [grow, shrink])
@pytest.mark.parametrize("method", ["is_valid", "validate"])
def test_set_changed_by_a_predicate(edit, method, capfd):
    target = set(range(10))
    v = Validator(set[Annotated[int, at.Predicate(edit(target))]])
    with pytest.raises(RuntimeError, match="Set changed size during iteration"):
        getattr(v, method)(target)
    assert capfd.readouterr() == ("", "")


@dataclasses.dataclass
class Point:
    x: int
    y: int


@pytest.mark.parametrize(
    "dunders",
    [
        pytest.param({"__getattribute__": Raises()}, id="getattribute-raises"),
        pytest.param({"__getattribute__": lambda self, name: hostile(__eq__=Raises(), __index__=Raises())},
                     id="getattribute-returns-hostile"),
        pytest.param({"__getattribute__": Raises(), "__repr__": Raises()}, id="getattribute-and-repr-raise"),
        pytest.param({"x": property(Raises()), "y": property(lambda self: "y"), "__init__": lambda self, x, y: None},
                     id="field-properties"),
    ],
)
def test_misbehaving_instances_of_an_object_schema(dunders):
    value = type("Sly", (Point,), dunders)(1, 2)
    v = Validator(qm.union(Point, {"x": int}))
    assert v.is_valid(value) is False
    with pytest.raises(qm.ValidationError) as info:
        v.validate(value)
    assert info.value.errors


def test_fatal_exception_from_an_attribute_read_passes_through():
    value = type("Sly", (Point,), {"x": property(Raises(KeyboardInterrupt)), "__init__": lambda self, x, y: None})(1, 2)
    with pytest.raises(KeyboardInterrupt):
        Validator(Point).is_valid(value)
    with pytest.raises(KeyboardInterrupt):
        Validator(list[Point]).validate([value, value])
