"""ValidationError: the class, the report of a failed check, and its round trip through pickle."""

import contextlib
import multiprocessing
import pickle
from concurrent.futures import ProcessPoolExecutor
from typing import Annotated

import annotated_types as at
import pytest

import quillmar._quillmar as qm

ATTRIBUTES = ("code", "expected", "value", "message", "path", "errors")
ERROR_KEYS = ["code", "path", "message", "expected", "value"]


def raised(schema, value, **options):
    checker = qm.Validator(schema)
    with pytest.raises(qm.ValidationError) as info:
        checker.validate(value, **options)
    return info.value


def raised_json(schema, document):
    checker = qm.Validator(schema)
    with pytest.raises(qm.ValidationError) as info:
        checker.validate_json(document)
    return info.value


def state(error):
    return error.args, {name: getattr(error, name) for name in ATTRIBUTES}


class TestClass:
    def test_identity(self):
        cls = qm.ValidationError
        assert cls.__name__ == "ValidationError"
        assert cls.__qualname__ == "ValidationError"
        assert cls.__module__ == "quillmar._quillmar"
        assert cls.__doc__ == "Raised when a value is not a member of a schema's set."
        assert cls.__bases__ == (Exception,)

    def test_defines_nothing_of_its_own(self):
        assert set(vars(qm.ValidationError)) <= {"__module__", "__doc__", "__dict__", "__weakref__"}

    def test_pickle_restores_attributes_set_on_an_instance(self):
        error = qm.ValidationError("expected int, got 'x' [int_type]")
        error.code, error.path, error.errors = "int_type", ("xs", 3), ({"code": "int_type"},)
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            back = pickle.loads(pickle.dumps(error, protocol))
            assert type(back) is qm.ValidationError
            assert back.args == error.args
            assert (back.code, back.path, back.errors) == (error.code, error.path, error.errors)


class TestReport:
    def test_single_item_at_the_root(self):
        error = raised(int, "x")
        line = "expected int, got 'x' [int_type]"
        assert str(error) == line
        assert error.args == (line,)
        assert (error.code, error.expected, error.value, error.message) == ("int_type", "int", "'x'", line)
        assert error.path == ()
        assert error.errors == ({"code": "int_type", "path": (), "message": line, "expected": "int", "value": "'x'"},)
        assert list(error.errors[0]) == ERROR_KEYS
        assert list(vars(error)) == list(ATTRIBUTES)

    def test_several_items_make_a_counted_message(self):
        error = raised(list[int], [1, None, 2.5])
        first = "at [1]: expected int, got None [int_type]"
        second = "at [2]: expected int, got 2.5 [int_type]"
        assert str(error) == f"2 validation errors:\n{first}\n{second}"
        # The attributes describe the first item only; errors holds them all, in order.
        assert (error.message, error.value, error.path) == (first, "None", (1,))
        assert type(error.errors) is tuple
        assert [e["message"] for e in error.errors] == [first, second]
        assert [e["path"] for e in error.errors] == [(1,), (2,)]
        assert all(list(e) == ERROR_KEYS for e in error.errors)

    def test_fail_fast_reports_one_line(self):
        error = raised(list[int], [1, None, 2.5], fail_fast=True)
        assert str(error) == "at [1]: expected int, got None [int_type]"
        assert len(error.errors) == 1

    @pytest.mark.parametrize(
        ("schema", "value", "collected", "first_only"),
        [
            (list[int], [None, 1, "x"], [(0,), (2,)], [(0,)]),
            (tuple[int, ...], ("a", "b"), [(0,), (1,)], [(0,)]),
            (set[int], {"a", "b"}, [(), ()], [()]),
            # The outer list stops at its first failing position, which stops at its own first.
            (list[list[int]], [["a", "b"], ["c"]], [(0, 0), (0, 1), (1, 0)], [(0, 0)]),
            ({"a": int, "b": str}, {"a": "x", "b": 1}, [("a",), ("b",)], [("a",)]),
            (Annotated[int, at.Ge(5), at.MultipleOf(2)], 3, [(), ()], [()]),
            # A failing union still reports every item of the member it chooses.
            (qm.union(None, list[int]), ["a", "b"], [(0,), (1,)], [(0,), (1,)]),
        ],
    )
    def test_fail_fast_stops_each_container_at_its_first_failure(self, schema, value, collected, first_only):
        assert [e["path"] for e in raised(schema, value).errors] == collected
        assert [e["path"] for e in raised(schema, value, fail_fast=True).errors] == first_only

    def test_a_failure_that_records_nothing_gets_the_synthetic_item(self):
        # The boolean pass rejects, the report's own pass then finds nothing wrong.
        class Flaky:
            calls = 0

            def __eq__(self, other):
                Flaky.calls += 1
                return Flaky.calls > 1

            __hash__ = object.__hash__

        error = raised({"a": Flaky()}, {"a": Flaky()})
        line = "expected a member of the schema's set, got  [validation_error]"
        assert str(error) == error.message == line
        assert (error.code, error.expected, error.value, error.path) == (
            "validation_error", "a member of the schema's set", "", ())
        assert error.errors == ({"code": "validation_error", "path": (), "message": line,
                                 "expected": "a member of the schema's set", "value": ""},)

    @pytest.mark.parametrize(
        ("schema", "value", "path", "path_text"),
        [
            (dict[str, list[int]], {"xs": [1, 2, 3, "x"]}, ("xs", 3), "xs[3]"),
            (list[dict[str, int]], [{"a": "x"}], (0, "a"), "[0].a"),
            (dict[str, dict[str, int]], {"a": {"b": "x"}}, ("a", "b"), "a.b"),
            (list[list[int]], [[0], [0, 0, "x"]], (1, 2), "[1][2]"),
            # Keys are written unchanged, dots and brackets included.
            (dict[str, list[int]], {"a.b[0]": ["x"]}, ("a.b[0]", 0), "a.b[0][0]"),
            # An empty key adds no text, but still separates after an index.
            (dict[str, dict[str, int]], {"": {"b": "x"}}, ("", "b"), "b"),
            (list[dict[str, int]], [{"": "x"}], (0, ""), "[0]."),
        ],
    )
    def test_path_tuple_and_text(self, schema, value, path, path_text):
        error = raised(schema, value)
        assert error.path == path
        assert [type(part) for part in error.path] == [type(part) for part in path]
        assert str(error) == f"at {path_text}: expected int, got 'x' [int_type]"

    def test_path_of_only_empty_keys_has_no_at_part(self):
        error = raised(dict[str, int], {"": "x"})
        assert error.path == ("",)
        assert str(error) == "expected int, got 'x' [int_type]"

    def test_each_errors_dict_has_its_own_path_tuple(self):
        error = raised(dict[str, list[int]], {"xs": [1, 2, 3, "x"]})
        assert error.errors[0]["path"] == error.path == ("xs", 3)
        assert error.errors[0]["path"] is not error.path


def caught(fail):
    try:
        fail()
    except qm.ValidationError as error:
        return error
    raise AssertionError("nothing raised")


@contextlib.contextmanager
def class_attributes(**attributes):
    """ValidationError with these class attributes for the length of the block."""
    for name, value in attributes.items():
        setattr(qm.ValidationError, name, value)
    try:
        yield
    finally:
        for name in attributes:
            delattr(qm.ValidationError, name)


class TestAttributeSets:
    """The six attributes are set one by one, in order, wherever the class could tell the difference."""

    @staticmethod
    def set_by_hand(args, values):
        # What six ordinary sets make of a new instance, for comparison.
        made = qm.ValidationError(*args)
        for name in ATTRIBUTES:
            setattr(made, name, values[name])
        return made

    @pytest.mark.parametrize(
        "fail",
        [
            lambda: qm.Validator(list[int]).validate([1, "a", None]),
            lambda: qm.Validator(int).validate_json('"x"'),
            lambda: qm.anything.validate_json("[1,"),
        ],
    )
    @pytest.mark.parametrize("customised", ["setattr", "descriptor", "init"])
    def test_the_class_sees_each_set_in_order(self, fail, customised):
        seen = []

        def recording(error, name, value):
            seen.append(name)
            Exception.__setattr__(error, name, value)

        def init(error, *args):
            Exception.__init__(error, *args)
            error.note = "set by __init__"

        def keep_path(error, value):
            seen.append("path")
            error.__dict__["kept_path"] = value

        # a descriptor under one of the six names takes that set
        path = property(lambda error: error.__dict__["kept_path"], keep_path)
        plain = caught(fail)
        values = {name: getattr(plain, name) for name in ATTRIBUTES}
        customisation = {"setattr": {"__setattr__": recording}, "descriptor": {"path": path},
                         "init": {"__init__": init}}[customised]
        with class_attributes(**customisation):
            error = caught(fail)
            seen_by_module, seen[:] = seen[:], []
            by_hand = self.set_by_hand(plain.args, values)
        assert seen_by_module == seen
        assert error.args == plain.args
        assert vars(error) == vars(by_hand)
        assert list(vars(error)) == list(vars(by_hand))

    @pytest.mark.parametrize("refused", ATTRIBUTES)
    def test_a_failing_set_is_the_error_raised(self, refused):
        seen = []

        def refusing(error, name, value):
            seen.append(name)
            if name == refused:
                raise LookupError(f"no {name}")
            Exception.__setattr__(error, name, value)

        with class_attributes(__setattr__=refusing):
            with pytest.raises(LookupError, match=f"^no {refused}$"):
                qm.Validator(int).validate("x")
        assert seen == list(ATTRIBUTES[: ATTRIBUTES.index(refused) + 1])
        assert type(caught(lambda: qm.Validator(int).validate("x"))) is qm.ValidationError


class TestJsonInvalid:
    def test_malformed_document(self):
        error = raised_json(int, "[1,")
        assert (error.code, error.expected, error.path) == ("json_invalid", "valid JSON", ())
        assert error.value.startswith("EOF while parsing")
        assert str(error) == error.message == f"expected valid JSON, got {error.value} [json_invalid]"
        assert len(error.errors) == 1

    def test_lone_surrogate(self):
        error = raised_json(int, "\ud800")
        value = "input string is not valid UTF-8 (contains a lone surrogate)"
        assert error.value == value
        assert str(error) == f"expected valid JSON, got {value} [json_invalid]"


def _fail_in_child(value):
    qm.Validator(int).validate(value)


class TestPickle:
    @pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
    def test_round_trip_keeps_the_report(self, protocol):
        error = raised(list[int], [1, "x", None])
        back = pickle.loads(pickle.dumps(error, protocol))
        assert type(back) is qm.ValidationError
        assert state(back) == state(error)
        assert str(back) == str(error)

    def test_error_raised_in_a_worker_process_arrives_whole(self):
        expected = raised(int, "x")
        context = multiprocessing.get_context("fork")
        with ProcessPoolExecutor(max_workers=1, mp_context=context) as pool:
            future = pool.submit(_fail_in_child, "x")
            with pytest.raises(qm.ValidationError) as info:
                future.result(timeout=60)
        assert state(info.value) == state(expected)
