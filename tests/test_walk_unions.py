"""The walk of unions, intersections, complements, recursive references and unresolved placeholders."""

import dataclasses
from typing import Annotated, Literal

import annotated_types as at
import pytest

import quillmar._quillmar as qm


def items(checker, value, **options):
    with pytest.raises(qm.ValidationError) as info:
        checker.validate(value, **options)
    return [(e["code"], e["path"], e["expected"]) for e in info.value.errors]


class Counted:
    """A literal whose == is counted, to see how often a check compares."""

    calls = 0

    def __init__(self, tag):
        self.tag = tag

    def __eq__(self, other):
        Counted.calls += 1
        return isinstance(other, Counted) and other.tag == self.tag

    __hash__ = object.__hash__

    def __repr__(self):
        return f"Counted({self.tag})"


@pytest.fixture
def counted():
    Counted.calls = 0
    return Counted


class RaisesOnEq:
    def __init__(self, exception):
        self.exception = exception

    def __eq__(self, other):
        raise self.exception

    __hash__ = object.__hash__


class StrSub(str):
    pass


@dataclasses.dataclass
class Point:
    x: int


class IntSub(int):
    pass


class TestUnionMembership:
    @pytest.mark.parametrize(
        ("members", "value", "member"),
        [
            ((int, None), 1, True),
            ((int, None), None, True),
            ((int, None), "x", False),
            ((), None, False),
            # Literal members demand the exact type, however the union is decided.
            ((1, 2, "a"), 1, True),
            ((1, 2, "a"), "a", True),
            ((1, 2, "a"), 3, False),
            ((1, 2, "a"), "b", False),
            ((1, 2, "a"), True, False),
            ((1, 2, "a"), 1.0, False),
            ((1, 2, "a"), IntSub(1), False),
            ((1, 2, "a"), StrSub("a"), False),
            ((True, 1), True, True),
            # Values outside 64 bits and texts without UTF-8 are still compared.
            ((2**70, "a"), 2**70, True),
            ((2**70, "a"), -(2**70), False),
            ((-(2**63), 1), -(2**63), True),
            (("\ud800", 1), "\ud800", True),
            (("\ud800", 1), "\udc00", False),
            ((1, b"a"), b"a", True),
            ((1, int), True, True),
        ],
    )
    def test_membership(self, members, value, member):
        checker = qm.union(*members)
        assert checker.is_valid(value) is member
        assert (value in checker) is member
        if member:
            checker.validate(value)
            checker.validate(value, fail_fast=True)
        else:
            with pytest.raises(qm.ValidationError):
                checker.validate(value)

    def test_membership_stops_at_the_first_accepting_member(self, counted):
        checker = qm.union(counted(1), counted(2), counted(3))
        assert checker.is_valid(counted(1))
        assert counted.calls == 1
        # A member is found by the boolean pass alone: no report is walked.
        checker.validate(counted(2))
        assert counted.calls == 3

    def test_a_non_member_walks_the_members_again_for_its_report(self, counted):
        checker = qm.union(counted(1), counted(2))
        assert not checker.is_valid(counted(9))
        assert counted.calls == 2
        items(checker, counted(9))
        assert counted.calls == 6

    @pytest.mark.parametrize(
        ("exception", "member"),
        [(ValueError("ordinary"), None), (KeyboardInterrupt(), KeyboardInterrupt), (MemoryError(), MemoryError)],
    )
    def test_exceptions_in_a_member(self, exception, member):
        raiser = RaisesOnEq(exception)
        checker = qm.union(raiser, RaisesOnEq)
        if member is None:
            # The ordinary exception folds to "not this member"; the next member decides.
            assert checker.is_valid(raiser)
            assert not qm.union(raiser).is_valid(RaisesOnEq(exception))
        else:
            with pytest.raises(member):
                checker.is_valid(raiser)
            with pytest.raises(member):
                checker.validate(raiser)


class TestUnionReport:
    @pytest.mark.parametrize(
        ("members", "value", "names"),
        [
            ((int, None), "x", "int, None"),
            ((1, 2, 3), 4, "literal, literal, literal"),
            ((), 1, ""),
            ((str, bytes, float, bool, KeyError), 1, "str, bytes, float, bool, instance"),
            ((qm.nothing, qm.union(str, bytes), qm.intersection(str), qm.complement(int)), 1,
             "nothing, union, intersection, complement"),
            ((list[int], tuple[int], set[int], frozenset[int], dict[str, int], Point), 1,
             "list, tuple, set, frozenset, dict, object"),
            # A refined member is named by its base, a recursive one by its reference.
            ((Annotated[int, at.Ge(0)], qm.recursive(lambda r: qm.union(int, list[r]))), "x", "int, value"),
            ((Annotated[int, at.Ge(0)], None), -1, "int, None"),
        ],
    )
    def test_top_level_failures_give_one_union_error(self, members, value, names):
        found = items(qm.union(*members), value)
        assert found == [("union_error", (), f"one of: {names}")]

    def test_union_error_item_texts(self):
        with pytest.raises(qm.ValidationError) as info:
            qm.union(int, None).validate("x")
        error = info.value
        assert (error.code, error.value, error.path) == ("union_error", "'x'", ())
        assert str(error) == "expected one of: int, None, got 'x' [union_error]"

    def test_empty_union_text_ends_in_a_blank(self):
        [(_, _, expected)] = items(qm.union(), None)
        assert expected == "one of: "

    @pytest.mark.parametrize(
        ("make", "value", "expected"),
        [
            # A failure inside a member beats one at the union's own level.
            (lambda: qm.union(list[int], None), [1, None], [("int_type", (1,), "int")]),
            (lambda: qm.union(None, list[int]), [1, "x", 2.5],
             [("int_type", (1,), "int"), ("int_type", (2,), "int")]),
            # The deepest member wins wherever it stands.
            (lambda: qm.union(list[int], list[list[int]]), [[None]], [("int_type", (0, 0), "int")]),
            (lambda: qm.union(list[list[int]], list[int]), [[None]], [("int_type", (0, 0), "int")]),
            # Equal depth: the first member in order.
            (lambda: qm.union(list[int], list[str]), [None], [("int_type", (0,), "int")]),
            (lambda: qm.union(list[str], list[int]), [None], [("string_type", (0,), "str")]),
            # Tagged records: the member that matches the tag fails deeper inside the value.
            (lambda: qm.union({"kind": Literal["a"], "x": int}, {"kind": Literal["b"], "y": {"z": int}}),
             {"kind": "b", "y": {"z": None}}, [("int_type", ("y", "z"), "int")]),
            (lambda: qm.union({"a": int}, {"a": str}), {"a": None}, [("int_type", ("a",), "int")]),
            # A length mismatch is a failure at the union's own level.
            (lambda: qm.union(tuple[int], None), (1, 2), [("union_error", (), "one of: tuple, None")]),
        ],
    )
    def test_report_of_the_deepest_member(self, make, value, expected):
        assert items(make(), value) == expected

    def test_depth_counts_from_the_union_not_the_root(self):
        checker = qm.Validator(list[qm.union(list[int], list[str])])
        assert items(checker, [[1], [None]]) == [("int_type", (1, 0), "int")]
        assert items(checker, [[1], 5]) == [("union_error", (1,), "one of: list, list")]

    @pytest.mark.parametrize(
        ("position", "deep"),
        [(0, True), (63, True), (64, False), (69, False)],
    )
    def test_only_the_first_64_members_choose_the_report(self, position, deep):
        deeper = qm.Validator(list[int])
        members = [str] * 70
        members[position] = deeper
        found = items(qm.union(*members), ["x"])
        if deep:
            assert found == [("int_type", (0,), "int")]
        else:
            names = ", ".join("list" if i == position else "str" for i in range(70))
            assert found == [("union_error", (), f"one of: {names}")]

    @pytest.mark.parametrize("fail_fast", [False, True])
    def test_only_the_items_kept_get_a_value_text(self, fail_fast):
        shown = []

        class Shown:
            def __repr__(self):
                shown.append("repr")
                return "Shown()"

        # int and str fail at the union's own level with the whole list as their value; their items are dropped.
        checker = qm.union(int, str, list[int])
        with pytest.raises(qm.ValidationError) as info:
            checker.validate([Shown()], fail_fast=fail_fast)
        assert [(e["code"], e["path"], e["value"]) for e in info.value.errors] == [("int_type", (0,), "Shown()")]
        assert shown == ["repr"]

    def test_fail_fast_keeps_every_item_of_the_chosen_member(self):
        checker = qm.union(list[int], None)
        both = [("int_type", (0,), "int"), ("int_type", (1,), "int")]
        assert items(checker, ["a", "b"], fail_fast=True) == both
        # Beside it, a list on its own stops at its first failure.
        assert items(qm.Validator(list[int]), ["a", "b"], fail_fast=True) == both[:1]

    def test_fail_fast_still_stops_the_container_around_a_union(self):
        checker = qm.Validator(list[qm.union(int, None)])
        assert items(checker, ["a", "b"], fail_fast=True) == [("union_error", (0,), "one of: int, None")]
        assert len(items(checker, ["a", "b"])) == 2


class TestIntersection:
    @pytest.mark.parametrize(
        ("members", "value", "member"),
        [
            ((int, qm.complement(bool)), 1, True),
            ((int, qm.complement(bool)), True, False),
            ((), None, True),
            ((), object(), True),
            ((str,), "x", True),
            ((str,), 1, False),
        ],
    )
    def test_membership(self, members, value, member):
        assert qm.intersection(*members).is_valid(value) is member

    @pytest.mark.parametrize(
        ("options", "expected"),
        [
            ({}, [("string_type", (), "str"), ("bytes_type", (), "bytes")]),
            ({"fail_fast": False}, [("string_type", (), "str"), ("bytes_type", (), "bytes")]),
            ({"fail_fast": True}, [("string_type", (), "str")]),
        ],
    )
    def test_reporting_modes(self, options, expected):
        assert items(qm.intersection(str, int, bytes), 1, **options) == expected

    def test_records_no_item_of_its_own(self):
        assert items(qm.intersection(int, qm.complement(bool)), True) == [("unexpected_match", (), "not bool")]

    @pytest.mark.parametrize(("check", "calls"), [("is_valid", 0), ("fail_fast", 0), ("collect_all", 1)])
    def test_only_collect_all_walks_past_the_first_rejecting_member(self, counted, check, calls):
        checker = qm.intersection(str, counted(1))
        value = counted(1)
        if check == "is_valid":
            assert not checker.is_valid(value)
        else:
            items(checker, value, fail_fast=check == "fail_fast")
        assert counted.calls == calls

    def test_collect_all_reports_inside_every_member(self):
        checker = qm.intersection(list[int], list[qm.complement(None)])
        assert items(checker, [None, "x"]) == [
            ("int_type", (0,), "int"),
            ("int_type", (1,), "int"),
            ("unexpected_match", (0,), "not None"),
        ]
        assert items(checker, [None, "x"], fail_fast=True) == [("int_type", (0,), "int")]


class TestComplement:
    @pytest.mark.parametrize(
        ("inner", "value", "expected"),
        [
            (int, 1, "not int"),
            (int, True, "not int"),
            (qm.union(int, str), "x", "not union"),
            (qm.complement(int), "x", "not complement"),
            (None, None, "not None"),
            (qm.anything, object(), "not anything"),
        ],
    )
    def test_unexpected_match(self, inner, value, expected):
        checker = qm.complement(inner)
        assert not checker.is_valid(value)
        assert items(checker, value) == [("unexpected_match", (), expected)]

    @pytest.mark.parametrize(("inner", "value"), [(int, "x"), (int, None), (qm.nothing, 1), (qm.union(), 1)])
    def test_member_when_the_inner_rejects(self, inner, value):
        checker = qm.complement(inner)
        assert checker.is_valid(value)
        checker.validate(value)

    def test_inner_failures_are_never_reported(self):
        checker = qm.complement(list[int])
        assert items(checker, [1, 2]) == [("unexpected_match", (), "not list")]
        assert checker.is_valid([1, "x"])

    def test_ordinary_exception_in_the_inner_makes_a_member(self):
        raiser = RaisesOnEq(ValueError("no"))
        assert qm.complement(raiser).is_valid(RaisesOnEq(ValueError("no")))

    def test_fatal_exception_in_the_inner_ends_the_check(self):
        raiser = RaisesOnEq(KeyboardInterrupt())
        checker = qm.complement(raiser)
        for check in (checker.is_valid, checker.validate):
            with pytest.raises(KeyboardInterrupt):
                check(RaisesOnEq(KeyboardInterrupt()))


def nested_lists(levels, innermost=1):
    value = innermost
    for _ in range(levels):
        value = [value]
    return value


@pytest.fixture
def int_tree():
    """int | list[self]: one Ref step for the value and one per list position."""
    return qm.recursive(lambda r: qm.union(int, list[r]))


class TestRecursion:
    @pytest.mark.parametrize("value", [1, [], [1, [2, [3]], []], nested_lists(50)])
    def test_members(self, int_tree, value):
        assert int_tree.is_valid(value)
        int_tree.validate(value)

    def test_failure_deep_inside(self, int_tree):
        assert items(int_tree, [1, [2, ["x"]]]) == [("union_error", (1, 1, 0), "one of: int, list")]

    def test_127_levels_pass_and_128_hit_the_limit(self, int_tree):
        assert int_tree.is_valid(nested_lists(127))
        int_tree.validate(nested_lists(127))
        assert not int_tree.is_valid(nested_lists(128))
        assert items(int_tree, nested_lists(128)) == [
            ("recursion_limit", (0,) * 128, "at most 128 levels of recursion")
        ]
        # The limit counts active steps only: a wide value is not deep.
        assert int_tree.is_valid([nested_lists(120)] * 300)

    def test_a_value_that_contains_itself(self, int_tree):
        loop = [1]
        loop.append(loop)
        assert not int_tree.is_valid(loop)
        assert items(int_tree, loop) == [("recursion_loop", (1,), "a finite (non-cyclic) value")]
        with pytest.raises(qm.ValidationError) as info:
            int_tree.validate(loop)
        assert info.value.value == "[1, [...]]"

    def test_a_loop_further_down(self, int_tree):
        inner = []
        inner.append(inner)
        assert items(int_tree, [0, [inner]], fail_fast=True) == [
            ("recursion_loop", (1, 0, 0), "a finite (non-cyclic) value")
        ]

    @pytest.mark.parametrize("reuse", ["siblings", "cousins", "many"])
    def test_shared_acyclic_substructure_is_accepted(self, int_tree, reuse):
        shared = [1, [2]]
        value = {
            "siblings": [shared, shared],
            "cousins": [[shared], [[shared]], shared],
            "many": [shared] * 200,
        }[reuse]
        assert int_tree.is_valid(value)
        int_tree.validate(value)

    def test_each_check_starts_with_an_empty_guard(self, int_tree):
        loop = []
        loop.append(loop)
        for _ in range(3):
            assert not int_tree.is_valid(loop)
            assert int_tree.is_valid(nested_lists(127))

    def test_a_predicate_may_check_again_inside_a_check(self, int_tree):
        # The nested check has a guard of its own, so it sees none of the outer pairs.
        class Probe:
            seen = []

            def __eq__(self, other):
                Probe.seen.append(int_tree.is_valid(nested_lists(127)))
                return False

            __hash__ = object.__hash__

        probe = Probe()
        checker = qm.recursive(lambda r: qm.union(probe, list[r]))
        assert not checker.is_valid(nested_lists(100, Probe()))
        assert Probe.seen == [True]


class TestPlaceholder:
    @pytest.fixture
    def kept(self):
        stash = []

        def builder(placeholder):
            stash.append(placeholder)
            return int

        qm.recursive(builder)
        return stash[0]

    @pytest.mark.parametrize("value", [1, None, "x", [], object()])
    def test_a_placeholder_used_outside_its_builder_admits_nothing(self, kept, value):
        assert not kept.is_valid(value)
        assert items(kept, value) == [("unresolved_recursion", (), "a resolved recursive value")]

    def test_inside_other_schemas(self, kept):
        assert items(qm.union(kept, None), 1) == [("union_error", (), "one of: recursive value, None")]
        assert items(qm.Validator(kept), 1) == [("unresolved_recursion", (), "a resolved recursive value")]
        assert qm.complement(kept).is_valid(1)
        checker = qm.Validator(list[kept])
        assert items(checker, [1]) == [("unresolved_recursion", (0,), "a resolved recursive value")]
