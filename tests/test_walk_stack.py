"""The walk's native stack: the deepest values the limits admit are checked inside a thread with a 128 KiB
stack, a common default outside glibc. A frame too large per level overflows it and kills the process, so
each case runs in a subprocess."""

import subprocess
import sys
import textwrap

import pytest

PROBE = textwrap.dedent(
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


@pytest.mark.parametrize("schema", ["union", "overlapping", "intersection", "complement"])
def test_deepest_values_fit_a_small_thread_stack(schema):
    done = subprocess.run([sys.executable, "-c", PROBE, schema], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
