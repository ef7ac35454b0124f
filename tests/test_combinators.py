"""The module functions union, intersection, complement and recursive, and the `|` operator."""

import copy
import inspect
import typing

import pytest

import quillmar._quillmar as qm

NOT_CONTRACTIVE = (
    "recursive schema is not contractive: the recursive reference must occur under a structural constructor "
    "(a list, tuple, set, dict, record, or object)"
)


def item_codes(checker, value):
    with pytest.raises(qm.ValidationError) as info:
        checker.validate(value)
    return [(e["code"], e["path"]) for e in info.value.errors]


def nested_pairs(levels):
    value = None
    for _ in range(levels):
        value = [value]
    return value


class TestArguments:
    @pytest.mark.parametrize(
        ("call", "message"),
        [
            (lambda: qm.union(schema=int), "union() got an unexpected keyword argument 'schema'"),
            (lambda: qm.union(int, schemas=str), "union() got an unexpected keyword argument 'schemas'"),
            (lambda: qm.intersection(x=1), "intersection() got an unexpected keyword argument 'x'"),
            (lambda: qm.complement(), "complement() missing 1 required positional argument: 'schema'"),
            (lambda: qm.complement(int, str), "complement() takes 1 positional arguments but 2 were given"),
            (lambda: qm.complement(int, schema=int), "complement() got multiple values for argument 'schema'"),
            (lambda: qm.complement(scheme=int), "complement() got an unexpected keyword argument 'scheme'"),
            (lambda: qm.recursive(), "recursive() missing 1 required positional argument: 'builder'"),
            (lambda: qm.recursive(len, len), "recursive() takes 1 positional arguments but 2 were given"),
            (lambda: qm.recursive(len, builder=len), "recursive() got multiple values for argument 'builder'"),
            (lambda: qm.recursive(build=len), "recursive() got an unexpected keyword argument 'build'"),
        ],
    )
    def test_argument_errors(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    def test_keywords_name_the_single_parameter(self):
        assert qm.complement(schema=int) == qm.complement(int)
        assert qm.recursive(builder=lambda r: int) == qm.recursive(lambda r: int)

    @pytest.mark.parametrize(
        ("function", "signature", "doc"),
        [
            (qm.union, "(*schemas)", "The union of the given schemas: a value in at least one of their sets."),
            (qm.intersection, "(*schemas)",
             "The intersection of the given schemas: a value in every one of their sets."),
            (qm.complement, "(schema)",
             "The complement of a schema: every value not in its set.\n"
             "\n"
             "Membership is decided by the inner schema: a value belongs to the complement\n"
             "exactly when it is not a member of the inner. When deciding the inner raises\n"
             "an ordinary Python exception \u2014 a value whose comparison or `__eq__` throws \u2014\n"
             "that value folds to a non-member of the inner, and therefore a **member** of\n"
             "the complement. A filter of the form `complement(P)` over values whose own\n"
             "methods can raise should not rely on the complement alone to exclude them;\n"
             "intersect with a positive type that pins the shape instead."),
            (qm.recursive, "(builder)",
             "Build a recursive schema as a checked fixpoint.\n"
             "\n"
             "`builder` receives a placeholder validator standing for the schema being\n"
             "defined and returns its body. The placeholder's self-reference is resolved\n"
             "to a back edge, and a non-contractive body \u2014 one whose recursive reference\n"
             "is not under a structural constructor \u2014 is rejected."),
        ],
    )
    def test_signature_and_docstring(self, function, signature, doc):
        assert str(inspect.signature(function)) == signature
        assert function.__doc__ == doc
        assert function.__module__ == "quillmar._quillmar"


class TestUnionAndIntersection:
    @pytest.mark.parametrize("value", [None, 0, "", [], object()])
    def test_no_members(self, value):
        assert not qm.union().is_valid(value)
        assert qm.intersection().is_valid(value)

    def test_members_keep_their_order_and_are_never_merged(self):
        assert qm.union(int, str) == qm.union(int, str)
        assert qm.union(int, str) != qm.union(str, int)
        # One member still makes a union node, and a union member stays one member.
        assert qm.union(int) != qm.Validator(int)
        assert qm.intersection(int) != qm.Validator(int)
        assert qm.intersection(int) != qm.union(int)
        assert qm.union(qm.union(int, str), bytes) != qm.union(int, str, bytes)
        assert qm.union(qm.union(int, str), bytes).is_valid("x")

    @pytest.mark.parametrize(
        ("call", "error"),
        [
            (lambda: qm.union(int, ()), NotImplementedError),
            (lambda: qm.intersection({1}, int), NotImplementedError),
            (lambda: qm.complement(()), NotImplementedError),
        ],
    )
    def test_an_uncompilable_argument_ends_the_call(self, call, error):
        with pytest.raises(error):
            call()

    def test_one_object_given_twice_is_pooled_once(self):
        a, b = 1000, int("1000")
        assert a is not b and a == b
        # Both members of union(a, a) name one pool entry; union(a, b) has two.
        assert qm.union(a, a) != qm.union(a, b)
        assert qm.union(a, b) == qm.union(b, a)

    def test_later_arguments_are_not_compiled_after_a_failure(self):
        class Loud:
            def __getattr__(self, name):
                raise AssertionError(f"compiled: {name}")

        with pytest.raises(NotImplementedError):
            qm.union((), Loud())

    def test_a_breached_limit_is_a_value_error(self):
        deep = qm.Validator(int)
        with pytest.raises(ValueError, match="nesting is too deep"):
            for _ in range(qm.MAX_SCHEMA_DEPTH + 1):
                deep = qm.union(deep)


class TestUnionOperator:
    @pytest.fixture
    def v(self):
        return qm.union(1, "a")

    @pytest.mark.parametrize(
        ("make", "equal_to"),
        [
            (lambda v: v | int, lambda v: qm.union(v, int)),
            (lambda v: int | v, lambda v: qm.union(int, v)),
            (lambda v: v | None, lambda v: qm.union(v, None)),
            (lambda v: None | v, lambda v: qm.union(None, v)),
            (lambda v: v | 2, lambda v: qm.union(v, 2)),
            (lambda v: v | qm.Validator(str), lambda v: qm.union(v, str)),
            (lambda v: v | v, lambda v: qm.union(v, v)),
        ],
    )
    def test_the_left_operand_is_the_first_member(self, v, make, equal_to):
        assert make(v) == equal_to(v)

    def test_a_reflected_operand_is_interned_after_the_validator_pool(self, v):
        # v keeps its pool indices, so 2 lands after them, unlike in union(2, v).
        assert (2 | v) != qm.union(2, v)
        assert (2 | v) == (2 | v)

    def test_order_matters(self, v):
        assert (v | int) != (int | v)
        assert (v | 2).is_valid(2) and (2 | v).is_valid("a")
        assert not (v | 2).is_valid(3)

    @pytest.mark.parametrize(
        "make",
        [
            lambda v: v | (),
            lambda v: () | v,
            lambda v: v | {1},
            lambda v: {1} | v,
            lambda v: v | typing.TypeVar("T"),
            lambda v: v | typing.ClassVar,
        ],
    )
    def test_an_uncompilable_operand_raises_the_compiler_error(self, v, make):
        with pytest.raises(NotImplementedError):
            make(v)

    @pytest.mark.parametrize("other", [3.5, int, "b", qm.union(bytes, 7), ()])
    def test_the_validator_operand_is_unchanged(self, v, other):
        before = copy.copy(v)
        digest = hash(v)
        for combine in (lambda: v | other, lambda: other | v):
            try:
                combine()
            except NotImplementedError:
                pass
        assert v == before and v == v
        assert hash(v) == digest
        assert [v.is_valid(x) for x in (1, "a", 3.5, "b", 7)] == [True, True, False, False, False]

    def test_embedding_keeps_the_left_pool_indices(self):
        left = qm.Validator(1)
        right = qm.union("a", 1)
        joined = left | right
        assert all(joined.is_valid(x) for x in (1, "a"))
        assert not joined.is_valid(2)
        # right's 1 is the same pool entry as left's: the schema equals one built at once.
        assert joined == qm.union(1, qm.union("a", 1))

    def test_repeated_self_union_reaches_a_limit(self):
        v = qm.union(int, str)
        with pytest.raises(ValueError, match="too large"):
            for _ in range(40):
                v = v | v

    def test_the_other_operand_definitions_come_after_the_validator_ones(self):
        ints = qm.recursive(lambda r: qm.union(int, list[r]))
        strs = qm.recursive(lambda r: qm.union(str, list[r]))
        assert (ints | strs) == qm.union(ints, strs)

    def test_a_recursive_operand_keeps_its_definitions(self):
        tree = qm.recursive(lambda r: qm.union(None, list[r]))
        joined = tree | int
        assert joined.is_valid(3) and joined.is_valid([[None], None])
        assert not joined.is_valid(["x"])
        both = tree | tree
        assert both.is_valid(nested_pairs(5))
        assert not both.is_valid([1])


class TestRecursive:
    def test_builder_gets_one_placeholder_validator(self):
        seen = []

        def builder(*args, **kwargs):
            seen.append((args, kwargs))
            return int

        assert qm.recursive(builder).is_valid(1)
        [(args, kwargs)] = seen
        assert kwargs == {} and len(args) == 1 and type(args[0]) is qm.Validator

    def test_builder_errors_pass_through(self):
        class Failure(Exception):
            pass

        failure = Failure("from the builder")

        def builder(r):
            raise failure

        with pytest.raises(Failure) as info:
            qm.recursive(builder)
        assert info.value is failure
        with pytest.raises(TypeError, match="not callable"):
            qm.recursive(3)

    def test_an_uncompilable_result_raises_the_compiler_error(self):
        with pytest.raises(NotImplementedError):
            qm.recursive(lambda r: ())

    def test_a_body_without_the_placeholder(self):
        checker = qm.recursive(lambda r: qm.union(int, str))
        assert checker.is_valid(1) and not checker.is_valid(None)

    @pytest.mark.parametrize(
        "body",
        [
            lambda r: r,
            lambda r: qm.Validator(r),
            lambda r: qm.union(int, r),
            lambda r: r | None,
            lambda r: None | r,
            lambda r: qm.intersection(r),
            lambda r: qm.complement(r),
            lambda r: qm.complement(qm.union(str, qm.intersection(int, r))),
        ],
    )
    def test_non_contractive_bodies(self, body):
        with pytest.raises(ValueError) as info:
            qm.recursive(body)
        assert str(info.value) == NOT_CONTRACTIVE

    @pytest.mark.parametrize(
        ("body", "member", "non_member"),
        [
            (lambda r: list[r], [[], [[]]], [1]),
            (lambda r: [r], [[[]], []], [1]),
            (lambda r: qm.union(int, list[r]), [1, [2]], ["x"]),
            (lambda r: qm.union(int, tuple[int, r]), (1, (2, 3)), (1, 2, 3)),
            (lambda r: qm.union(None, set[r]), set(), {1}),
            (lambda r: qm.union(int, {str: r}), {"a": {"b": 1}}, {"a": "x"}),
            (lambda r: qm.union(int, dict[str, r]), {"a": {"b": 1}}, {1: 1}),
        ],
    )
    def test_contractive_bodies(self, body, member, non_member):
        checker = qm.recursive(body)
        assert checker.is_valid(member)
        assert not checker.is_valid(non_member)

    def test_the_placeholder_is_bound_in_the_whole_body(self):
        checker = qm.recursive(lambda r: qm.union(None, list[qm.union(int, r)], tuple[r, r]))
        assert checker.is_valid([1, [2, None], (None, [3])])
        assert not checker.is_valid([1, (None, "x")])


class TestNestedRecursion:
    """A placeholder that ends up in a definition of an inner recursive(...) is bound too."""

    def test_outer_placeholder_inside_an_inner_recursive(self):
        checker = qm.recursive(lambda p: qm.recursive(lambda q: qm.union(int, list[p])))
        assert checker.is_valid([1, [2, [3]]])
        assert not checker.is_valid([1, ["x"]])

    def test_mutual_recursion(self):
        # a = int | list[b]; b = str | list[a]
        checker = qm.recursive(lambda a: qm.union(int, list[qm.recursive(lambda b: qm.union(str, list[a]))]))
        for value in (1, [], ["x"], [[1]], [[[]]], [[["y"]]]):
            assert checker.is_valid(value), value
        for value in ("x", [1], [["x"]], [[1, "x"]]):
            assert not checker.is_valid(value), value

    def test_both_placeholders_in_one_inner_body(self):
        checker = qm.recursive(lambda p: qm.recursive(lambda q: {"a": p | None, "b": list[q]}))
        leaf = {"a": None, "b": []}
        assert checker.is_valid(leaf)
        assert checker.is_valid({"a": leaf, "b": [leaf, {"a": leaf, "b": []}]})
        assert not checker.is_valid({"a": {"a": 1, "b": []}, "b": []})
        assert not checker.is_valid({"a": None, "b": [{"a": None}]})

    def test_three_levels(self):
        # The middle call binds its placeholder in the innermost definition; the outer one binds in both.
        def body(a, b, c):
            return {"n": int, "a?": a, "b?": list[b], "c?": tuple[c, ...]}

        checker = qm.recursive(lambda a: qm.recursive(lambda b: qm.recursive(lambda c: body(a, b, c))))
        leaf = {"n": 1}
        assert checker.is_valid({"n": 1, "a": {"n": 2, "b": [leaf]}, "c": (leaf,)})
        assert not checker.is_valid({"n": 1, "a": {"n": 2, "b": [{"n": "x"}]}})
        assert not checker.is_valid({"n": 1, "c": ({},)})

    def test_reported_failures_inside_the_inner_definition(self):
        checker = qm.recursive(lambda p: qm.recursive(lambda q: qm.union(int, list[p])))
        assert item_codes(checker, [[1], ["x"]]) == [("union_error", (1, 0))]

    @pytest.mark.parametrize(
        "body",
        [
            lambda p: qm.recursive(lambda q: p | list[q]),
            lambda p: qm.recursive(lambda q: qm.union(list[q], qm.complement(p))),
            lambda p: qm.union(None, qm.recursive(lambda q: qm.intersection(p, list[q]))),
        ],
    )
    def test_an_unguarded_cycle_through_an_inner_definition(self, body):
        with pytest.raises(ValueError) as info:
            qm.recursive(body)
        assert str(info.value) == NOT_CONTRACTIVE

    @pytest.mark.parametrize(
        ("body", "member"),
        [
            # The cycle p -> inner -> p is guarded on one side or the other.
            (lambda p: list[qm.recursive(lambda q: p | list[q])], [[[]], []]),
            (lambda p: qm.recursive(lambda q: qm.union(list[p], list[q])), [[[]], []]),
        ],
    )
    def test_a_guarded_cycle_through_an_inner_definition(self, body, member):
        checker = qm.recursive(body)
        assert checker.is_valid(member)
        assert not checker.is_valid([1])
