"""Unions, intersections and complements over recursive schemas whose members walk the same values: each check
answers in time polynomial in the value, and reports exactly what a walk without reuse reports."""

import json
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import quillmar._quillmar as qm

Validator = qm.Validator
recursive, union, intersection, complement = qm.recursive, qm.union, qm.intersection, qm.complement

# Each builder takes the schema itself; recursive() closes it, and unroll() nests it by hand, which walks
# the same rules with no recursive reference to reuse.
BUILDERS = {
    "overlapping records": lambda t: union({"children": [t], "name": str}, {"children": [t], "id": int}),
    "repeated member": lambda r: union(None, list[r], list[r]),
    "list or tuple": lambda r: union(int, list[r], tuple[r, ...]),
    "intersection": lambda t: intersection({"children": [t], "name?": str}, {"children": [t], "id?": int}),
    "intersection of unions": lambda r: intersection(union(int, list[r]), union(int, str, list[r])),
    "complement": lambda r: union(str, list[r], list[r]),
    "extras pairs": lambda r: union(int, {str: r, "k?": int}, dict[str, union(str, r)]),
}


# Schemas that hold the recursive one rather than being it; the union keeps the complement's text the same
# whether its inner schema is recursive or unrolled.
OUTSIDE = {"complement": lambda schema: complement(union(schema, bytes))}


def make(name, schema):
    return OUTSIDE.get(name, Validator)(schema)


def unroll(builder, levels):
    schema = qm.nothing  # reached only by values deeper than the unrolled levels
    for _ in range(levels):
        schema = Validator(builder(schema))
    return schema


def records(depth, leaf, **level):
    node = {"children": [], **leaf}
    for _ in range(depth):
        node = {"children": [node], **level}
    return node


def lists(depth, leaf, wrap=list, filler=1):
    node = leaf
    for i in range(depth):
        node = wrap([node, filler] if i % 2 else [node])
    return node


def dicts(depth, leaf):
    node = leaf
    for i in range(depth):
        node = {"a": node, "k": "x"} if i % 2 else {"b": node}
    return node


def values(name, depth):
    if name == "overlapping records":
        return [records(depth, {"name": 1}, name="n"), records(depth, {"id": "x"}, name="n"),
                records(depth, {"name": "x"}, name="n"), records(depth, {"id": 1, "name": "x"}, id=2)]
    if name == "intersection":
        return [records(depth, {}), records(depth, {"name": "x"}, id=1), records(depth, {"name": 1}),
                records(depth, {"id": 1, "name": "x"}, name="n")]
    if name == "extras pairs":
        return [dicts(depth, 1), dicts(depth, "s"), dicts(depth, [1]), dicts(depth, {"k": "no"})]
    if name == "complement":
        return [lists(depth, "x", filler="y"), lists(depth, 1, filler="y"), lists(depth, "x", tuple, filler="y")]
    return [lists(depth, 1), lists(depth, "x"), lists(depth, None), lists(depth, (1,), tuple), lists(depth, "x", tuple)]


def report(call):
    try:
        return ("member", call())
    except qm.ValidationError as error:
        return ("failed", error.errors)


def outcomes(v, value):
    doc = json.dumps(value) if not isinstance(value, tuple) else None
    got = {
        "is_valid": v.is_valid(value),
        "in": value in v,
        "validate": report(lambda: v.validate(value)),
        "validate fail_fast": report(lambda: v.validate(value, fail_fast=True)),
        "ensure": report(lambda: v.ensure(value) is value),
    }
    if doc is not None:
        got |= {
            "is_valid_json": v.is_valid_json(doc),
            "validate_json": report(lambda: v.validate_json(doc)),
            "validate_json fail_fast": report(lambda: v.validate_json(doc, fail_fast=True)),
            "load": report(lambda: v.load(doc) == json.loads(doc)),
        }
    return got


@pytest.mark.parametrize("name", BUILDERS)
@pytest.mark.parametrize("depth", range(1, 9))
def test_reports_equal_the_unrolled_schema(name, depth):
    builder = BUILDERS[name]
    v, plain = make(name, recursive(builder)), make(name, unroll(builder, depth + 2))
    for value in values(name, depth):
        assert outcomes(v, value) == outcomes(plain, value), value


def test_outcomes_met_at_the_level_limit_are_not_reused_elsewhere():
    # The same list is met near the top and at the limit: only the deep one fails with recursion_limit.
    shared = [[1]]
    deep = shared
    for _ in range(128):
        deep = [deep]
    v = Validator(recursive(lambda r: union(int, list[r], list[union(r, str)])))
    assert v.is_valid([shared, deep]) is False
    assert v.is_valid([shared, shared]) is True
    with pytest.raises(qm.ValidationError) as info:
        v.validate([shared, deep])
    assert {e["code"] for e in info.value.errors} == {"recursion_limit"}
    assert all(e["path"][0] == 1 for e in info.value.errors)


def test_a_reused_outcome_counts_its_levels_for_the_steps_around_it():
    # w reuses a's outcome near the top; w's own outcome must still need a's levels, so that met again 40
    # levels down it fails with recursion_limit as it would without reuse.
    v = Validator(recursive(lambda r: union(int, list[r], list[union(r, str)])))
    a = lists(100, 1, filler=1)
    w = [a]
    deep = w
    for _ in range(40):
        deep = [deep]
    value = [a, w, [deep]]
    assert v.is_valid([[deep]]) is False
    assert v.is_valid(value) is False
    assert v.is_valid_json(json.dumps(value)) is False
    with pytest.raises(qm.ValidationError) as info:
        v.validate(value)
    assert {e["code"] for e in info.value.errors} == {"recursion_limit"}
    assert all(e["path"][0] == 2 for e in info.value.errors)


def test_a_loop_is_reported_where_the_value_contains_itself():
    looped = [1]
    looped.append(looped)
    v = Validator(recursive(lambda r: union(int, list[r], list[union(r, str)])))
    assert v.is_valid([[1], looped]) is False
    with pytest.raises(qm.ValidationError) as info:
        v.validate([[1], looped])
    assert {e["code"] for e in info.value.errors} == {"recursion_loop"}


def test_a_predicate_that_drops_values_cannot_alias_them():
    # A value the memo keyed on stays alive, so a fresh object never takes its address and its answer.
    from typing import Annotated
    made = []

    def fresh(value):
        made.append([object()])
        return True

    v = Validator(recursive(lambda r: union(Annotated[int, fresh], list[r], list[union(r, str)])))
    value = lists(30, 1)
    assert v.is_valid(value) is True
    assert v.is_valid(lists(30, "s")) is True


def deep_values(name, depth):
    """A valid and a failing value of the given depth."""
    if name == "overlapping records":
        return records(depth, {"name": "x"}, name="n"), records(depth, {"name": 1}, name="n")
    if name == "intersection":
        return records(depth, {}), records(depth, {"name": 1})
    if name == "extras pairs":
        return dicts(depth, 1), dicts(depth, [1])
    if name == "repeated member":
        return lists(depth, None, filler=None), lists(depth, 1, filler=None)
    if name == "complement":
        return lists(depth, 1, filler="y"), lists(depth, "x", filler="y")
    return lists(depth, 1), lists(depth, "x")


DEEP = textwrap.dedent(
    """
    import json, sys
    import quillmar._quillmar as qm
    sys.path.insert(0, {tests!r})
    from test_overlapping_recursion import BUILDERS, deep_values, make
    name, depth = sys.argv[1], int(sys.argv[2])
    v = make(name, qm.recursive(BUILDERS[name]))
    valid, failing = deep_values(name, depth)
    for value in valid, failing:
        doc = json.dumps(value)
        calls = [lambda: v.is_valid(value), lambda: value in v, lambda: v.is_valid_json(doc),
                 lambda: v.validate(value), lambda: v.validate(value, fail_fast=True), lambda: v.ensure(value),
                 lambda: v.validate_json(doc), lambda: v.load(doc), lambda: v.load(doc, fail_fast=True)]
        for call in calls:
            try:
                call()
            except qm.ValidationError:
                pass
    if depth < 100:  # past the level limit a recursive walk fails, whatever the value
        assert v.is_valid(valid) and v.is_valid_json(json.dumps(valid))
        assert not v.is_valid(failing) and not v.is_valid_json(json.dumps(failing))
    """
)


@pytest.mark.parametrize("name", BUILDERS)
@pytest.mark.parametrize("depth", [60, 99, 140])
def test_deep_values_answer_without_backtracking(name, depth):
    # Without reuse these walks double with every level: hours at 60 levels, not a fraction of a second.
    script = DEEP.format(tests=str(Path(__file__).parent))
    subprocess.run([sys.executable, "-c", script, name, str(depth)], check=True, timeout=20)
