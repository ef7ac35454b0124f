"""Checks whose naive walk is exponential: values past the recursion limit, chained definitions, values that share
or hold themselves, repeated record keys and reports that find one failure by many routes. Each answers in time
polynomial in the value, with the answers and reports of the walk without reuse."""

import json
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import quillmar._quillmar as qm

sys.path.insert(0, str(Path(__file__).parent))
from test_overlapping_recursion import BUILDERS, make, outcomes  # noqa: E402

recursive, union, intersection = qm.recursive, qm.union, qm.intersection

def nest(levels, leaf, *opens):
    text = leaf
    for i in reversed(range(levels)):
        opener = opens[i % len(opens)]
        text = opener + text + ("}" if opener.startswith("{") else "]")
    return text


def chain(k, leaf):
    node = leaf
    for _ in range(k):
        node = (lambda inner: recursive(lambda r: union(inner, list[r])))(node)
    return node


def grid(n):
    cells = [[{"id": i * n + j, "neighbors": []} for j in range(n)] for i in range(n)]
    for i in range(n):
        for j in range(n):
            for di, dj in ((0, 1), (1, 0), (0, -1), (-1, 0)):
                if 0 <= i + di < n and 0 <= j + dj < n:
                    cells[i][j]["neighbors"].append(cells[i + di][j + dj])
    return cells


def mutual(n):
    lists = [[] for _ in range(n)]
    for each in lists:
        each.extend(lists)
    return lists[0]


def doubled(levels, wrap=lambda child: [child, child]):
    value = 1
    for _ in range(levels):
        value = wrap(value)
    return value


def nested_lists(levels):
    schema = int
    for _ in range(levels):
        schema = list[schema]
    return schema


def json_value(j):
    return union(None, bool, int, str, list[j], dict[str, j], list[dict[str, j]])


def examples():
    """Each example: the schema and the value, a JSON text where JSON can hold it. Without reuse each takes
    from seconds to hours."""
    return {
        "past the limit": (recursive(lambda r: union(list[r], list[list[r]])), nest(131, '"x"', "[")),
        "json value past the limit": (recursive(json_value), nest(132, "1.5", "[", '{"k":')),
        "four chained definitions": (chain(4, str), nest(125, "1", "[")),
        "127 chained definitions": (chain(127, str), nest(3, "1", "[")),
        "repeated key": (recursive(lambda r: union(None, {"a": r, "a?": r})), nest(26, "null", '{"a":')),
        "repeated key report": (recursive(lambda r: union(None, {"a": r, "a?": union(r, int)})),
                                nest(20, "1.5", '{"a":')),
        "intersection report": (recursive(lambda r: union(None, intersection(list[r], list[union(r, int)]))),
                                nest(20, "1.5", "[")),
        "shared": (recursive(lambda r: union(int, list[r])), doubled(30)),
        "shared failing": (recursive(lambda r: union(str, list[r], list[list[r]])), doubled(30)),
        "shared dicts": (recursive(lambda r: union(int, {"a": r, "b?": r})), doubled(30, lambda c: {"a": c, "b": c})),
        "shared tuples": (recursive(lambda r: union(int, tuple[r, r])), doubled(30, lambda c: (c, c))),
        "shared sets": (recursive(lambda r: union(int, frozenset[r])),
                        doubled(30, lambda c: frozenset([c, frozenset([c, 1])]))),
        "shared, no recursion": (nested_lists(30), doubled(30)),
        "grid": (recursive(lambda n: {"id": int, "neighbors": list[n]}), grid(5)[0][0]),
        "mutual lists": (recursive(lambda r: list[r]), mutual(9)),
    }


# The child runs every entry point that applies and prints what each answered.
CHILD = textwrap.dedent(
    """
    import json, sys
    sys.path.insert(0, {tests!r})
    import quillmar._quillmar as qm
    from test_polynomial_time import examples

    def report(call):
        try:
            call()
            return None
        except qm.ValidationError as error:
            return [[e["code"], list(e["path"]), e["expected"], e["value"]] for e in error.errors]

    schema, value = examples()[sys.argv[1]]
    v = qm.Validator(schema)
    got = {{}}
    if isinstance(value, str):
        doc, value = value, json.loads(value)
        got["is_valid_json"] = v.is_valid_json(doc)
        for fail_fast in (False, True):
            got[f"validate_json {{fail_fast}}"] = report(lambda: v.validate_json(doc, fail_fast=fail_fast))
            got[f"load {{fail_fast}}"] = report(lambda: v.load(doc, fail_fast=fail_fast))
    got["is_valid"] = v.is_valid(value)
    got["in"] = value in v
    if sys.argv[2:] != ["membership"]:
        got["ensure"] = report(lambda: v.ensure(value))
        for fail_fast in (False, True):
            got[f"validate {{fail_fast}}"] = report(lambda: v.validate(value, fail_fast=fail_fast))
    print(json.dumps(got))
    """
).format(tests=str(Path(__file__).parent))

# A failing value shared through exponentially many paths has as many items at distinct paths: only its
# membership is bounded.
MEMBERSHIP_ONLY = {"shared failing"}

MEMBERS = {
    "past the limit": False,
    "json value past the limit": False,
    "four chained definitions": False,
    "127 chained definitions": False,
    "repeated key": True,
    "repeated key report": False,
    "intersection report": False,
    "shared": True,
    "shared failing": False,
    "shared dicts": True,
    "shared tuples": True,
    "shared sets": True,
    "shared, no recursion": True,
    "grid": False,
    "mutual lists": False,
}


def run_example(name):
    # In a child with a timeout: a check runs no Python code, so an exponential one cannot be interrupted.
    args = [name, "membership"] if name in MEMBERSHIP_ONLY else [name]
    child = subprocess.run([sys.executable, "-c", CHILD, *args], capture_output=True, text=True, timeout=30)
    assert child.returncode == 0, child.stderr[-2000:]
    return json.loads(child.stdout)


@pytest.mark.parametrize("name", MEMBERS)
def test_exponential_routes_answer_in_polynomial_time(name):
    got = run_example(name)
    member = MEMBERS[name]
    assert {got[k] for k in ("is_valid", "in", "is_valid_json") if k in got} == {member}
    reports = {k: r for k, r in got.items() if k.startswith(("validate", "load", "ensure"))}
    assert all((r is None) == member for r in reports.values()), reports
    if not member and reports:
        full = got["validate False"]
        assert got.get("validate_json False", full) == got.get("load False", full) == full
        assert len({json.dumps(item) for item in full}) == len(full)  # each item once


def test_a_repeated_key_report_holds_each_distinct_item():
    # Both fields of the key find the innermost failure: 2**20 routes, two distinct items.
    for name, step in ("repeated key report", "a"), ("intersection report", 0):
        items = run_example(name)["validate False"]
        assert [item[:2] for item in items] == [["union_error", [step] * 20]] * 2
        assert len(run_example(name)["validate_json False"]) == 2


def test_a_value_holding_itself_is_reported_in_proportion_to_it():
    got = run_example("grid")
    items = got["validate False"]
    assert {item[0] for item in items} == {"recursion_loop"}
    # 25 dicts with 80 references between them: each reference is walked at most once per route into it.
    assert 0 < len(items) <= 80
    mutual = run_example("mutual lists")["validate False"]
    assert {item[0] for item in mutual} == {"recursion_loop"} and 0 < len(mutual) <= 81


def test_a_failure_inside_a_cycle_is_reported_where_first_met():
    cells = grid(3)
    cells[1][1]["id"] = "x"
    v = qm.Validator(recursive(lambda n: {"id": int, "neighbors": list[n]}))
    assert v.is_valid(cells[0][0]) is False
    with pytest.raises(qm.ValidationError) as info:
        v.validate(cells[0][0])
    wrong = [e for e in info.value.errors if e["code"] == "int_type"]
    assert len(wrong) == 1 and wrong[0]["path"][-1] == "id" and wrong[0]["value"] == "'x'"


def test_a_cycle_with_a_way_out_is_a_member():
    looped = [1]
    looped.append(looped)
    v = qm.Validator(recursive(lambda r: union(int, list[r], list[object])))
    assert v.is_valid(looped) is True
    assert v.validate([looped, [looped]]) is None


def shared(name, depth):
    """Values of the overlapping-recursion builders in which each level holds the level below twice."""
    if name in ("overlapping records", "intersection"):
        node = {"children": [], "name": 1}
        for _ in range(depth):
            node = {"children": [node, node], "name": "n"}
        return node
    if name == "extras pairs":
        node = [1]
        for _ in range(depth):
            node = {"b": node, "c": node}
        return node
    node = "x" if name != "complement" else 1
    for _ in range(depth):
        node = [node, node]
    return node


@pytest.mark.parametrize("name", BUILDERS)
def test_shared_values_report_as_their_tree_copies(name):
    v = make(name, recursive(BUILDERS[name]))
    value = shared(name, 8)
    tree = json.loads(json.dumps(value))
    assert outcomes(v, value) == outcomes(v, tree)


def test_shared_values_near_the_level_limit_answer_as_their_tree_copies():
    # The shared list is met at several depths, one of them past the limit.
    v = qm.Validator(recursive(lambda r: union(int, list[r], list[union(r, str)])))
    inner = [[1, [1]], [[1]]]
    deep = inner
    for _ in range(125):
        deep = [deep, inner]
    value = [inner, deep]
    tree = json.loads(json.dumps(value))
    assert outcomes(v, value) == outcomes(v, tree)
