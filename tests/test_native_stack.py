"""Schemas at the depth limits compile, render, simplify, decide, open and close, and the deepest values the
limits admit are checked, reported and loaded by every entry point, on a 128 KiB thread stack (a common default
outside glibc). On smaller stacks every call answers or raises RecursionError, and the thread goes on checking.
Each case runs in a subprocess: a native stack overflow kills the process, and an exception in the worker thread
makes the process exit non-zero."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

CHILD = textwrap.dedent(
    """
    import dataclasses, sys, threading, typing
    from typing import Annotated, TypedDict
    import quillmar._quillmar as qm

    def literal(n):
        s = int
        for i in range(n):
            s = [s] if i % 2 else {"k": s}
        return s

    def generic(n):
        s = int
        for i in range(n):
            s = list[s] if i % 2 else dict[str, s]
        return s

    def annotated(n):
        s = int
        for i in range(n):
            s = Annotated[list[s], 1] if i % 2 else typing.Union[None, s]
        return s

    def classes(n):
        s = int
        for i in range(n):
            s = TypedDict(f"T{i}", {"k": s}) if i % 2 else dataclasses.make_dataclass(f"D{i}", [("k", s)])
        return s

    def deepest(form):
        # The last nesting that the compile limits admit.
        n = 1
        while True:
            try:
                qm.Validator(form(n + 1))
            except (ValueError, NotImplementedError):
                return n
            n += 1

    def chained(n):
        # Each definition refers to the one before it.
        s = qm.recursive(lambda r: qm.union(int, list[r]))
        for _ in range(n - 1):
            s = qm.recursive(lambda r, inner=s: qm.union(inner, list[r], {"k": r}))
        return s

    def embedded():
        # Grown one level per compile up to MAX_SCHEMA_DEPTH.
        v = qm.Validator(int)
        for i in range(1000):
            try:
                v = qm.Validator([v] if i % 2 else {"k": v})
            except ValueError:
                return v
        raise AssertionError("no depth limit")

    name, kib = sys.argv[1], int(sys.argv[2])
    if name == "embedded":
        build = embedded
    elif name == "chained":
        n = MAX_DEFINITIONS = 128
        qm.Validator(chained(n))
        try:
            qm.Validator(chained(n + 1))
        except ValueError:
            pass
        else:
            raise AssertionError("no definitions limit")
        build = lambda: qm.Validator(chained(n))
        print(n)
    else:
        form = globals()[name]
        n = deepest(form)
        build = lambda: qm.Validator(form(n))
        print(n)

    def attempt(call):
        # Below 128 KiB a call may give up with RecursionError, never crash.
        try:
            return call()
        except RecursionError:
            if kib >= 128:
                raise
            return None

    def run():
        v = attempt(build)
        if v is None:
            print("done")
            return
        attempt(lambda: repr(v))
        s = attempt(v.simplify)
        assert v.is_empty() is False
        assert v.is_subtype_of(v) in (True, False)
        if s is not None:
            assert v.is_equivalent(s) in (True, False)
        opened, closed = attempt(v.open), attempt(v.close)
        if opened is not None and closed is not None:
            attempt(lambda: (repr(opened), repr(closed)))
            assert closed.is_subtype_of(opened) in (True, False)
        assert qm.Validator([int]).is_valid([1])
        print("done")

    threading.stack_size(kib * 1024)
    failures = []
    def target():
        try:
            run()
        except BaseException as e:
            failures.append(e)
    thread = threading.Thread(target=target)
    thread.start()
    thread.join()
    if failures:
        raise failures[0]
    """
)


UNDER_SANITIZER = pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer's redzones make every frame larger"
)


@UNDER_SANITIZER
@pytest.mark.parametrize("kib", [128, 64])
@pytest.mark.parametrize(
    "form, least_depth",
    [
        ("literal", 80),  # {"k": [{"k": ...}]}, a list counting two levels of schema depth
        ("generic", 80),  # dict[str, list[dict[str, ...]]]
        ("annotated", 60),  # Annotated[list[None | ...], 1]
        ("classes", 99),  # typed dicts and dataclasses, each a field of the next
        ("embedded", None),  # validators embedded one level at a time, to MAX_SCHEMA_DEPTH
        ("chained", 128),  # MAX_DEFINITIONS recursive definitions, each inside the next
    ],
)
def test_deepest_schemas_run_on_a_small_thread_stack(form, least_depth, kib):
    child = subprocess.run(
        [sys.executable, "-c", CHILD, form, str(kib)], capture_output=True, text=True, timeout=300
    )
    assert child.returncode == 0, (child.returncode, child.stderr[-2000:])
    lines = child.stdout.split()
    assert lines[-1] == "done"
    if least_depth is not None:
        assert int(lines[0]) >= least_depth


WALK_CHILD = textwrap.dedent(
    """
    import json, sys, threading
    from typing import Annotated, Any
    import annotated_types as at
    import quillmar._quillmar as qm

    # name: (builder, one more recursive level around a value, JSON nesting per level, member leaf, failing leaf)
    def alternating(v, i):
        return [v] if i % 2 else {"k": v}

    SHAPES = {
        "union": (lambda r: qm.union(int, list[r], {"k": r}), alternating, 1, 1, "s"),
        "overlapping": (lambda r: qm.union(int, list[r], list[r], {"k": r}, {"k": r, "j?": int}), alternating, 1, 1, "s"),
        "intersection": (
            lambda r: qm.intersection(qm.union(int, list[r], {"k": r}), qm.union(int, str, list[r], {"k": r})),
            alternating, 1, 1, "s",
        ),
        "complement": (lambda r: qm.union(int, list[qm.complement(qm.complement(r))], {"k": r}), alternating, 1, 1, "s"),
        "extras": (lambda r: qm.union(None, int, {str: qm.union(None, {str: r})}), lambda v, i: {"k": {"k": v}}, 2, 1, "s"),
        "extras, three unions": (
            lambda r: qm.union(None, int, str, {str: qm.union(None, {str: qm.union(None, r)})}),
            lambda v, i: {"k": {"k": v}}, 2, 1, [],
        ),
        "declared and extras": (
            lambda r: qm.union(None, int, {"id?": int, str: qm.union(None, {"id?": int, str: r})}),
            lambda v, i: {"k": {"k": v}}, 2, 1, "s",
        ),
        "intersection of records": (
            lambda r: qm.union(int, None, qm.intersection({str: qm.union(None, {str: r})}, {"x?": int, str: Any})),
            lambda v, i: {"k": {"k": v}}, 2, 1, "s",
        ),
        "list of records": (lambda r: qm.union(int, list[{"x?": int, str: r}]), lambda v, i: [{"k": v}], 2, 1, "s"),
        "refined list": (lambda r: qm.union(int, Annotated[list[r], at.MinLen(1)]), lambda v, i: [v], 1, 1, []),
    }

    name, kib = sys.argv[1], int(sys.argv[2])
    build, wrap, json_levels, good, bad = SHAPES[name]
    v = qm.Validator(qm.recursive(build))

    def nested(levels, leaf):
        value = leaf
        for i in range(levels):
            value = wrap(value, i)
        return value

    # 127 levels around the leaf take the 128 Ref steps the level limit admits; one more is refused.
    DEEPEST = 127
    values = [(nested(DEEPEST, good), True), (nested(DEEPEST, bad), False), (nested(DEEPEST + 1, good), False)]
    # The deepest documents the JSON nesting limit admits, made here: the interpreter's own encoder need not
    # fit the smallest thread.
    JSON_DEEPEST = min(DEEPEST, 200 // json_levels)
    limit_document = "[" * 199 + "1" + "]" * 199
    documents = [
        (json.dumps(nested(JSON_DEEPEST, good)), True),
        (json.dumps(nested(JSON_DEEPEST, bad)), False),
        (limit_document, v.is_valid(json.loads(limit_document))),
    ]

    def member_by(call, *args, **kwargs):
        try:
            call(*args, **kwargs)
        except qm.ValidationError:
            return False
        return True

    def calls(value, document, member):
        yield "is_valid", member, lambda: v.is_valid(value)
        yield "in", member, lambda: value in v
        yield "is_valid_json", document[1], lambda: v.is_valid_json(document[0])
        for fail_fast in (False, True):
            yield "validate", member, lambda: member_by(v.validate, value, fail_fast=fail_fast)
            yield "validate_json", document[1], lambda: member_by(v.validate_json, document[0], fail_fast=fail_fast)
            yield "load", document[1], lambda: member_by(v.load, document[0], fail_fast=fail_fast)
        yield "ensure", member, lambda: member_by(v.ensure, value)

    def reports():
        # The items of every failing value's report, by entry point.
        failing = [(value, document) for (value, member), (document, _) in zip(values, documents) if not member]
        found = []
        for value, document in failing:
            for label, call in [
                ("validate", lambda: v.validate(value)),
                ("validate fail_fast", lambda: v.validate(value, fail_fast=True)),
                ("validate_json", lambda: v.validate_json(document)),
                ("load", lambda: v.load(document)),
            ]:
                try:
                    call()
                except qm.ValidationError as error:
                    found.append((label, error.errors))
                except RecursionError:
                    found.append((label, "RecursionError"))
        return found

    outcomes = []
    worker_reports = []

    def run():
        for (value, member), document in zip(values, documents):
            for label, expected, call in calls(value, document, member):
                try:
                    answer = call()
                except RecursionError:
                    outcomes.append([label, expected, "RecursionError"])
                    continue
                assert answer == expected, (label, expected)
                outcomes.append([label, expected, "answer"])
        worker_reports.extend(reports())
        # Whatever the deepest values met, the thread goes on checking.
        shallow = nested(3, good)
        assert v.is_valid(shallow) and not v.is_valid(nested(3, bad))
        assert v.load(json.dumps(shallow)) == shallow

    threading.stack_size(kib * 1024)
    failures = []

    def target():
        try:
            run()
        except BaseException as e:
            failures.append(e)

    worker = threading.Thread(target=target)
    worker.start()
    worker.join()
    if failures:
        raise failures[0]
    # A report made on the small stack is the one the main thread's stack makes, item for item.
    for (label, items), (_, reference) in zip(worker_reports, reports(), strict=True):
        assert reference != "RecursionError", label
        assert items == reference or (kib < 128 and items == "RecursionError"), label
    print(json.dumps(outcomes))
    """
)

SHAPES = [
    "union",
    "overlapping",
    "intersection",
    "complement",
    "extras",
    "extras, three unions",
    "declared and extras",
    "intersection of records",
    "list of records",
    "refined list",
]

def walk_outcomes(schema, kib):
    child = subprocess.run(
        [sys.executable, "-c", WALK_CHILD, schema, str(kib)], capture_output=True, text=True, timeout=300
    )
    assert child.returncode == 0, (child.returncode, child.stderr[-2000:])
    return json.loads(child.stdout)


@UNDER_SANITIZER
@pytest.mark.parametrize("kib", [128, 64])
@pytest.mark.parametrize("schema", SHAPES)
def test_deepest_values_are_checked_on_a_small_thread_stack(schema, kib):
    outcomes = walk_outcomes(schema, kib)
    assert {label for label, _, _ in outcomes} >= {"is_valid", "in", "is_valid_json", "validate", "ensure"}
    if kib < 128:
        return  # every call answered rightly or raised RecursionError
    gave_up = [(label, member) for label, member, outcome in outcomes if outcome != "answer"]
    assert gave_up == []


@UNDER_SANITIZER
@pytest.mark.parametrize("schema", ["union", "extras", "refined list"])
def test_the_deepest_values_raise_recursion_error_on_a_32_kib_stack(schema):
    outcomes = walk_outcomes(schema, 32)
    by_python_value = [outcome for label, _, outcome in outcomes if label in ("is_valid", "in", "validate", "ensure")]
    assert by_python_value and set(by_python_value) == {"RecursionError"}
