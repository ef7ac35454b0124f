"""Membership for the kinds that test a value directly: type kinds, literals, lists and
tuples, sets and frozensets, instances."""

import enum

import pytest

import quillmar._quillmar as qm

Validator = qm.Validator


def check(schema, value, member, code=None, expected=None, path=()):
    """Every checking entry agrees; a non-member's first item has the given code and expected text."""
    v = Validator(schema)
    assert v.is_valid(value) is member
    assert (value in v) is member
    if member:
        assert v.validate(value) is None
        assert v.ensure(value) is value
        return None
    with pytest.raises(qm.ValidationError) as info:
        v.ensure(value)
    error = info.value
    if code is not None:
        assert (error.code, error.path) == (code, path)
    if expected is not None:
        assert error.expected == expected
    return error


class Color(enum.IntEnum):
    RED = 1


class Name(enum.StrEnum):
    ADA = "ada"


class Text(str):
    pass


class Number(int):
    pass


class Real(float):
    pass


class Items(list):
    def __getitem__(self, index):
        raise AssertionError("__getitem__ must not be called")

    def __iter__(self):
        raise AssertionError("__iter__ must not be called")

    def __len__(self):
        raise AssertionError("__len__ must not be called")


class Elements(set):
    def __iter__(self):
        raise AssertionError("__iter__ must not be called")


class FrozenElements(frozenset):
    def __iter__(self):
        raise AssertionError("__iter__ must not be called")


@pytest.mark.parametrize(
    ("schema", "value", "member", "code", "expected"),
    [
        (bool, True, True, None, None),
        (bool, 1, False, "bool_type", "bool"),
        (bool, Number(1), False, "bool_type", "bool"),
        (int, True, True, None, None),
        (int, Color.RED, True, None, None),
        (int, Number(5), True, None, None),
        (int, 1.0, False, "int_type", "int"),
        (int, "1", False, "int_type", "int"),
        (float, 1.5, True, None, None),
        (float, Real(1.5), True, None, None),
        (float, True, False, "float_type", "float"),
        (float, 1, False, "float_type", "float"),
        (str, "", True, None, None),
        (str, Text("a"), True, None, None),
        (str, Name.ADA, True, None, None),
        (str, b"a", False, "string_type", "str"),
        (bytes, b"", True, None, None),
        (bytes, bytearray(b"a"), False, "bytes_type", "bytes"),
        (bytes, memoryview(b"a"), False, "bytes_type", "bytes"),
        (None, None, True, None, None),
        (type(None), None, True, None, None),
        (None, 0, False, "none_type", "None"),
        (None, False, False, "none_type", "None"),
    ],
)
def test_type_kinds(schema, value, member, code, expected):
    check(schema, value, member, code, expected)


def test_nothing_admits_nothing():
    error = check(qm.nothing, None, False, "no_match", "nothing")
    assert error.value == "None"


@pytest.mark.parametrize(
    ("literal", "value", "member"),
    [
        (1, 1, True),
        (1, 10**0, True),
        (10**30, 10**30 + 0, True),
        (1, True, False),
        (True, 1, False),
        (True, True, True),
        (1, 1.0, False),
        (1.0, 1, False),
        (1.0, 1.0, True),
        (1, Number(1), False),
        (1, Color.RED, False),
        ("a", "a", True),
        ("a", Text("a"), False),
        (b"a", bytearray(b"a"), False),
        (frozenset({1}), frozenset({1}), True),
        (frozenset({1}), {1}, False),
        (..., ..., True),
    ],
)
def test_literals_are_type_exact(literal, value, member):
    error = check(literal, value, member)
    if error is not None:
        assert (error.code, error.expected) == ("literal_error", f"the literal {literal!r}")


@pytest.mark.parametrize("make_value", [lambda nan: nan, lambda nan: float("nan")], ids=["same", "distinct"])
def test_nan_is_never_equal(make_value):
    nan = float("nan")
    check(nan, make_value(nan), False, "literal_error", "the literal nan")


class TestSequences:
    @pytest.mark.parametrize(
        ("schema", "value", "member", "code", "expected"),
        [
            (list[int], [], True, None, None),
            (list[int], [1, True], True, None, None),
            (list[int], (1,), False, "list_type", "list"),
            (list[int], Items([1, 2]), True, None, None),
            (tuple[int, ...], (), True, None, None),
            (tuple[int, ...], [1], False, "tuple_type", "tuple"),
            (tuple[int, str], (1, "a"), True, None, None),
            (tuple[int, str], (1,), False, "tuple_length", "tuple of length 2"),
            (tuple[int, str], (1, "a", None), False, "tuple_length", "tuple of length 2"),
            (tuple[()], (), True, None, None),
            ([int, float], [1, 2.0], True, None, None),
            ([int, float], [1], False, "list_length", "list of length 2"),
            ([int, float], (1, 2.0), False, "list_type", "list"),
            # A prefix with a repeated tail.
            ([int, float, ...], [], False, "list_length", "list of length at least 1"),
            ([int, float, ...], [1], True, None, None),
            ([int, float, ...], [1, 2.0, 3.0], True, None, None),
        ],
    )
    def test_shape(self, schema, value, member, code, expected):
        check(schema, value, member, code, expected)

    def test_positions_are_read_from_storage(self):
        # A subclass's __len__, __getitem__ and __iter__ are never consulted.
        error = check(list[int], Items([1, "x"]), False, "int_type", "int", path=(1,))
        assert error.value == "'x'"

    def test_tail_positions_report_their_index(self):
        error = check([int, str, ...], [1, "a", 2, "b", 3], False, "string_type", "str", path=(2,))
        assert [item["path"] for item in error.errors] == [(2,), (4,)]

    @pytest.mark.parametrize(
        ("edit", "checked"),
        [(list.clear, [1]), (lambda items: items.append(0), [1, 2, 3])],
        ids=["emptied", "grown"],
    )
    def test_a_list_changed_by_the_check_is_read_within_both_lengths(self, edit, checked):
        target = [1, 2, 3]
        seen = []

        class Meta(type):
            def __instancecheck__(cls, instance):
                seen.append(instance)
                edit(target)
                return True

        v = Validator(list[Meta("Edits", (), {})])
        for run in (v.is_valid, v.validate):
            target[:] = [1, 2, 3]
            seen.clear()
            assert run(target) in (True, None)
            assert seen == checked

    def test_fail_fast_stops_at_the_first_position(self):
        v = Validator(tuple[int, ...])
        with pytest.raises(qm.ValidationError) as info:
            v.validate((None, 1, None), fail_fast=True)
        assert [item["path"] for item in info.value.errors] == [(0,)]


class TestSets:
    @pytest.mark.parametrize(
        ("schema", "value", "member", "code", "expected"),
        [
            (set[int], set(), True, None, None),
            (set[int], {1, 2}, True, None, None),
            (set[int], frozenset({1}), False, "set_type", "set"),
            (set[int], [1], False, "set_type", "set"),
            (set[int], Elements({1}), True, None, None),
            (frozenset[int], frozenset(), True, None, None),
            (frozenset[int], {1}, False, "frozen_set_type", "frozenset"),
            (frozenset[int], frozenset({"a"}), False, "int_type", "int"),
            (frozenset[int], FrozenElements({1}), True, None, None),
            (frozenset[int], FrozenElements({"a"}), False, "int_type", "int"),
        ],
    )
    def test_kind(self, schema, value, member, code, expected):
        check(schema, value, member, code, expected)

    def test_element_failures_carry_the_path_of_the_set(self):
        error = check(set[int], {1, None}, False, "int_type", "int", path=())
        assert len(error.errors) == 1
        error = check(list[set[int]], [set(), {"a", "b"}], False, "int_type", "int", path=(1,))
        assert [item["path"] for item in error.errors] == [(1,), (1,)]

    def test_subclass_iterator_is_not_used(self):
        check(set[int], Elements({1, "a"}), False, "int_type", "int")


class Base:
    pass


class Derived(Base):
    pass


class Anything(type):
    def __instancecheck__(cls, instance):
        return True


class TestInstances:
    @pytest.mark.parametrize(
        ("schema", "value", "member"),
        [
            (Base, Base(), True),
            (Base, Derived(), True),
            (Derived, Base(), False),
            (Color, Color.RED, True),
            (Color, 1, False),
            (Number, Number(1), True),
            (Number, 1, False),
            # The unsubscripted containers are plain classes.
            (list, Items(), True),
            (list, (), False),
            (dict, {}, True),
            (Anything("Open", (), {}), 1, True),
        ],
    )
    def test_isinstance_decides(self, schema, value, member):
        error = check(schema, value, member)
        if error is not None:
            assert (error.code, error.expected) == ("instance_type", schema.__name__)

    def test_expected_text_is_the_whole_class_name(self):
        long = type("N" * 100, (), {})
        error = check(long, 1, False, "instance_type")
        assert error.expected == "N" * 100
