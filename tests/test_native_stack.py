"""Schemas at the depth limits compile, render, simplify, decide, open and close, and the deepest values the
limits admit are checked, on a 128 KiB thread stack (a common default outside glibc). Each case runs in a
subprocess: a native stack overflow kills the process."""

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

    def embedded():
        # Grown one level per compile up to MAX_SCHEMA_DEPTH.
        v = qm.Validator(int)
        for i in range(1000):
            try:
                v = qm.Validator([v] if i % 2 else {"k": v})
            except ValueError:
                return v
        raise AssertionError("no depth limit")

    name = sys.argv[1]
    if name == "embedded":
        build = embedded
    else:
        form = globals()[name]
        n = deepest(form)
        build = lambda: qm.Validator(form(n))
        print(n)

    def run():
        v = build()
        assert repr(v)
        s = v.simplify()
        assert v.is_empty() is False
        assert v.is_subtype_of(v) in (True, False)
        assert v.is_equivalent(s) in (True, False)
        opened, closed = v.open(), v.close()
        repr(opened), repr(closed)
        assert closed.is_subtype_of(opened) in (True, False)
        print("done")

    threading.stack_size(128 * 1024)
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
@pytest.mark.parametrize(
    "form, least_depth",
    [
        ("literal", 80),  # {"k": [{"k": ...}]}, a list counting two levels of schema depth
        ("generic", 80),  # dict[str, list[dict[str, ...]]]
        ("annotated", 60),  # Annotated[list[None | ...], 1]
        ("classes", 99),  # typed dicts and dataclasses, each a field of the next
        ("embedded", None),  # validators embedded one level at a time, to MAX_SCHEMA_DEPTH
    ],
)
def test_deepest_schemas_run_on_a_small_thread_stack(form, least_depth):
    child = subprocess.run(
        [sys.executable, "-c", CHILD, form], capture_output=True, text=True, timeout=300
    )
    assert child.returncode == 0, (child.returncode, child.stderr[-2000:])
    lines = child.stdout.split()
    assert lines[-1] == "done"
    if least_depth is not None:
        assert int(lines[0]) >= least_depth


WALK_CHILD = textwrap.dedent(
    """
    import json, sys, threading
    import quillmar._quillmar as qm

    def nested(levels, leaf):
        value = leaf
        for i in range(levels):
            value = [value] if i % 2 else {"k": value}
        return value

    schemas = {
        "union": lambda r: qm.union(int, list[r], {"k": r}),
        "overlapping": lambda r: qm.union(int, list[r], list[r], {"k": r}, {"k": r, "j?": int}),
        "intersection": lambda r: qm.intersection(qm.union(int, list[r], {"k": r}), qm.union(int, str, list[r], {"k": r})),
        "complement": lambda r: qm.union(int, list[qm.complement(qm.complement(r))], {"k": r}),
    }
    v = qm.Validator(qm.recursive(schemas[sys.argv[1]]))

    def check(value):
        doc = json.dumps(value)
        v.is_valid(value)
        value in v
        v.is_valid_json(doc)
        for call in (v.validate, v.ensure, v.validate_json, v.load):
            for kwargs in ({}, {"fail_fast": True}) if call is not v.ensure else ({},):
                try:
                    call(value if call in (v.validate, v.ensure) else doc, **kwargs)
                except qm.ValidationError:
                    pass

    def run():
        for leaf in (1, "s", None):
            check(nested(127, leaf))  # the deepest recursion the level limit admits
        v.is_valid_json("[" * 199 + "1" + "]" * 199)  # and past it, at the JSON nesting limit
        try:
            v.validate_json("[" * 199 + "1" + "]" * 199)
        except qm.ValidationError:
            pass

    threading.stack_size(128 * 1024)
    worker = threading.Thread(target=run)
    worker.start()
    worker.join()
    """
)



# Objects nested to the JSON limit through records with extras, checked as the document is read (a
# report of such a document is made by the Python walk, whose frames are larger).
READING_CHILD = textwrap.dedent(
    """
    import sys, threading
    from typing import Any
    import quillmar._quillmar as qm

    schemas = {
        "extras": lambda r: qm.union(None, int, str, {str: qm.union(None, {str: qm.union(None, r)})}),
        "declared and extras": lambda r: qm.union(None, int, {"id?": int, str: qm.union(None, {"id?": int, str: r})}),
        "intersection": lambda r: qm.union(int, None, qm.intersection({str: qm.union(None, {str: r})}, {"x?": int, str: Any})),
    }
    v = qm.Validator(qm.recursive(schemas[sys.argv[1]]))

    def run():
        member = '{"k": ' * 200 + "1" + "}" * 200
        assert v.is_valid_json(member) and v.validate_json(member) is None
        assert not v.is_valid_json('{"k": ' * 199 + "1" + "}" * 199)

    threading.stack_size(128 * 1024)
    worker = threading.Thread(target=run)
    worker.start()
    worker.join()
    """
)


@UNDER_SANITIZER
@pytest.mark.parametrize("schema", ["extras", "declared and extras", "intersection"])
def test_documents_at_the_nesting_limit_are_read_on_a_small_thread_stack(schema):
    child = subprocess.run([sys.executable, "-c", READING_CHILD, schema], capture_output=True, text=True, timeout=120)
    assert child.returncode == 0, (child.returncode, child.stderr[-2000:])


@UNDER_SANITIZER
@pytest.mark.parametrize("schema", ["union", "overlapping", "intersection", "complement"])
def test_deepest_values_are_checked_on_a_small_thread_stack(schema):
    child = subprocess.run([sys.executable, "-c", WALK_CHILD, schema], capture_output=True, text=True, timeout=120)
    assert child.returncode == 0, (child.returncode, child.stderr[-2000:])
