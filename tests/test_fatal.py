"""Exceptions raised by user code during a check: ordinary ones make the value a
non-member, fatal ones end the check as the very object raised."""

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

    def test_inside_a_list_it_still_aborts(self):
        target = {1, 2}
        v = Validator(list[set[self.growing(target)]])
        with pytest.raises(RuntimeError, match="^Set changed size during iteration$"):
            v.validate([set(), target, "not a set"])
