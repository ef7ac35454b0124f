"""Exceptions raised by user code during a check: ordinary ones make the value a
non-member, fatal ones end the check as the very object raised."""

import dataclasses
import os
import subprocess
import sys
import textwrap
from typing import Annotated

import annotated_types as at
import pytest

import quillmar._quillmar as qm

Validator = qm.Validator


class Raising:
    """Its == raises the exception it was given (same type as the literal it is compared with)."""

    def __init__(self, exception=None, seen=None):
        self.exception = exception
        self.seen = seen

    def __eq__(self, other):
        if self.seen is not None:
            self.seen.append(self)
        if self.exception is not None:
            raise self.exception
        return True

    __hash__ = object.__hash__


def instance_check_raising(exception):
    class Meta(type):
        def __instancecheck__(cls, instance):
            raise exception

    return Meta("Guarded", (), {})


ORDINARY = [ValueError("bad"), TypeError("bad"), ZeroDivisionError(), LookupError(), RuntimeError("bad")]
FATAL = [
    KeyboardInterrupt(),
    SystemExit(3),
    MemoryError(),
    RecursionError(),
    GeneratorExit(),
    type("Custom", (BaseException,), {})(),
    type("Exhausted", (MemoryError,), {})(),
]


def checks(v, value, **options):
    """Each checking entry, so a test covers them all."""
    return [
        lambda: v.validate(value, **options),
        lambda: v.is_valid(value),
        lambda: v.ensure(value),
        lambda: value in v,
    ]


@pytest.mark.parametrize("exception", ORDINARY, ids=lambda e: type(e).__name__)
class TestOrdinary:
    def test_literal_comparison_folds_to_non_member(self, exception):
        v = Validator(Raising())
        value = Raising(exception)
        assert v.is_valid(value) is False and (value in v) is False
        with pytest.raises(qm.ValidationError) as info:
            v.validate(value)
        assert info.value.code == "literal_error"

    def test_isinstance_folds_to_non_member(self, exception):
        v = Validator(instance_check_raising(exception))
        assert v.is_valid(1) is False
        with pytest.raises(qm.ValidationError) as info:
            v.validate(1)
        assert (info.value.code, info.value.expected) == ("instance_type", "Guarded")


@pytest.mark.parametrize("exception", FATAL, ids=lambda e: type(e).__name__)
class TestFatal:
    def test_literal_comparison_propagates_the_very_object(self, exception):
        v = Validator(Raising())
        for run in checks(v, Raising(exception)) + checks(v, Raising(exception), fail_fast=True):
            with pytest.raises(BaseException) as info:
                run()
            assert info.value is exception

    def test_isinstance_propagates_the_very_object(self, exception):
        v = Validator(instance_check_raising(exception))
        for run in checks(v, 1):
            with pytest.raises(BaseException) as info:
                run()
            assert info.value is exception

    def test_after_recorded_failures_no_report_is_built(self, exception):
        # Positions 0 and 1 fail and are recorded first; the fatal one at 2 still wins.
        v = Validator([1, Raising(), Raising()])
        for run in (lambda: v.validate(values), lambda: v.ensure(values)):
            values = [2, Raising(ValueError()), Raising(exception)]
            with pytest.raises(BaseException) as info:
                run()
            assert info.value is exception


class TestUnwinding:
    def test_first_fatal_wins_and_no_user_code_runs_after_it(self):
        seen = []
        first, second = KeyboardInterrupt(), SystemExit()
        values = [Raising(seen=seen), Raising(first, seen), Raising(), Raising(second, seen), Raising(seen=seen)]
        v = Validator([Raising()] * 5)
        with pytest.raises(KeyboardInterrupt) as info:
            v.validate(values)
        assert info.value is first
        assert [id(x) for x in seen] == [id(x) for x in values[:2]]

    def test_set_elements_stop_too(self):
        seen = []

        class Meta(type):
            def __instancecheck__(cls, instance):
                seen.append(instance)
                raise KeyboardInterrupt

        v = Validator(set[Meta("Guarded", (), {})])
        with pytest.raises(KeyboardInterrupt):
            v.validate({1, 2, 3})
        assert len(seen) == 1


class Loud:
    """Records every use of its texts; its comparisons raise KeyboardInterrupt."""

    def __init__(self, seen):
        self.seen = seen

    def __repr__(self):
        self.seen.append("repr")
        return "Loud"

    def __eq__(self, other):
        raise KeyboardInterrupt

    def __ge__(self, other):
        raise KeyboardInterrupt

    __hash__ = object.__hash__


class Interrupting(type):
    def __instancecheck__(cls, instance):
        raise KeyboardInterrupt

    @property
    def __name__(cls):
        cls.seen.append("__name__")
        return "Interrupted"


def interrupted_class(seen):
    return Interrupting("Interrupted", (), {"seen": seen})


def interrupted_record(seen):
    shared = seen

    @dataclasses.dataclass
    class Record(metaclass=Interrupting):
        seen = shared
        x: int

    return Record


# Each makes a schema and a value whose check is interrupted.
NO_TEXT_AFTER_FATAL = {
    "literal": lambda seen: (Loud(seen), Loud(seen)),
    "instance": lambda seen: (interrupted_class(seen), Loud(seen)),
    "object": lambda seen: (interrupted_record(seen), Loud(seen)),
    "union": lambda seen: (qm.union(interrupted_class(seen), int), Loud(seen)),
    "intersection": lambda seen: (qm.intersection(interrupted_class(seen), Loud(seen)), Loud(seen)),
    "bound": lambda seen: (Annotated[object, at.Ge(0)], Loud(seen)),
    "list": lambda seen: (list[interrupted_class(seen)], [Loud(seen), Loud(seen)]),
}


class TestNoUserCodeAfterFatal:
    """The report of a check that a fatal exception ends is dropped, so its texts are never made."""

    @pytest.mark.parametrize("make", NO_TEXT_AFTER_FATAL.values(), ids=NO_TEXT_AFTER_FATAL.keys())
    @pytest.mark.parametrize("fail_fast", [False, True])
    def test_no_repr_or_name_after_the_interrupt(self, make, fail_fast):
        seen = []
        schema, value = make(seen)
        v = Validator(schema)
        seen.clear()  # what building the class and the validator used
        with pytest.raises(KeyboardInterrupt):
            v.validate(value, fail_fast=fail_fast)
        assert seen == []


OUT_OF_MEMORY = textwrap.dedent(
    """
    import os, resource
    import quillmar._quillmar as qm

    v = qm.Validator(list[int])
    values = [None] * 2_000_000
    with open("/proc/self/statm") as f:
        in_use = int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
    # Far less room than the two million items of the report need.
    resource.setrlimit(resource.RLIMIT_AS, (in_use + 64 * 2**20, resource.RLIM_INFINITY))
    try:
        v.validate(values)
    except MemoryError:
        print("MemoryError")
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    print(v.is_valid([1]), v.is_valid(values))
    """
)


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer's allocator aborts instead")
def test_memory_exhaustion_raises_memory_error():
    done = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY], capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stdout, done.stderr) == (0, "MemoryError\nTrue False\n", "")


class TestSetChangedSize:
    """A set that changes under the check aborts the whole call with CPython's own error."""

    @staticmethod
    def growing(target):
        class Meta(type):
            def __instancecheck__(cls, instance):
                target.add(object())
                return True

        return Meta("Grows", (), {})

    @pytest.mark.parametrize("fail_fast", [False, True])
    def test_validate_raises_runtime_error(self, fail_fast):
        target = {1, 2}
        v = Validator(set[self.growing(target)])
        with pytest.raises(RuntimeError, match="^Set changed size during iteration$"):
            v.validate(target, fail_fast=fail_fast)

    def test_membership_raises_runtime_error(self):
        target = {1, 2}
        v = Validator(set[self.growing(target)])
        with pytest.raises(RuntimeError, match="^Set changed size during iteration$"):
            v.is_valid(target)
        with pytest.raises(RuntimeError):
            target in v

    @pytest.mark.parametrize(
        "wrap",
        [
            lambda inner, target: (Validator(list[inner]), [set(), target, "not a set"]),
            # Never folded into "not a member", not even inside a boolean pass.
            lambda inner, target: (qm.union(inner, str), target),
            lambda inner, target: (qm.complement(inner), target),
        ],
        ids=["list", "union", "complement"],
    )
    def test_nested_it_still_aborts(self, wrap, capfd):
        target = {1, 2}
        v, value = wrap(set[self.growing(target)], target)
        for run in (lambda: v.validate(value), lambda: v.is_valid(value)):
            with pytest.raises(RuntimeError, match="^Set changed size during iteration$"):
                run()
        assert capfd.readouterr() == ("", "")
