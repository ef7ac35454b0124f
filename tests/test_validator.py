"""The module's surface and the Validator type: attributes, argument errors, fail_fast,
equality and hashing, copies, the schema limits."""

import copy
import gc
import importlib.util
import inspect
import re
import subprocess
import sys
import textwrap
import typing
import weakref

import pytest

import quillmar._quillmar as qm

Validator = qm.Validator

NAMES = [
    "ValidationError",
    "Validator",
    "union",
    "intersection",
    "complement",
    "recursive",
    "anything",
    "nothing",
    "MAX_SCHEMA_DEPTH",
    "MAX_DEFINITIONS",
    "MAX_SCHEMA_NODES",
]


class TestModule:
    def test_all_lists_the_attributes_in_the_order_they_were_added(self):
        assert qm.__all__ == NAMES
        assert [name for name in vars(qm) if name in NAMES] == NAMES

    def test_limit_constants(self):
        limits = (qm.MAX_SCHEMA_DEPTH, qm.MAX_DEFINITIONS, qm.MAX_SCHEMA_NODES)
        assert limits == (128, 128, 100000)
        assert all(type(limit) is int for limit in limits)

    def test_anything_and_nothing(self):
        class Hostile:
            def __getattribute__(self, name):
                raise KeyboardInterrupt

        cyclic = []
        cyclic.append(cyclic)
        assert type(qm.anything) is Validator and type(qm.nothing) is Validator
        # Admitted without a single Python call.
        for v in (qm.anything, Validator(typing.Any)):
            assert all(v.is_valid(x) for x in (None, object(), [[]], cyclic, Hostile(), qm.anything))
            assert v.validate(Hostile()) is None
        assert not any(qm.nothing.is_valid(x) for x in (None, 0, ""))

    def test_a_new_module_object_shares_the_types_but_not_the_validators(self):
        spec = qm.__spec__
        other = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(other)
        assert other.Validator is Validator and other.ValidationError is qm.ValidationError
        assert other.anything is not qm.anything and other.anything == qm.anything
        assert other.union is not qm.union and other.union.__module__ == "quillmar._quillmar"

    def test_refuses_subinterpreters(self):
        # The process-wide caches hold objects of one interpreter. A shared GIL
        # keeps the interpreter's own GIL out of the reason for the refusal.
        interpreters = pytest.importorskip("_interpreters")
        config = interpreters.new_config("isolated")
        config.gil = "shared"
        interp = interpreters.create(config)
        try:
            failure = interpreters.exec(interp, "import quillmar._quillmar")
            assert interpreters.exec(interp, "import json") is None
        finally:
            interpreters.destroy(interp)
        assert failure is not None and failure.type.__name__ == "ImportError"
        assert "does not support loading in subinterpreters" in failure.msg


DOC = """A compiled, immutable schema validator.

Build one by calling `Validator(schema)`, or with a combinator such as
`union`, `intersection`, or `recursive`. Then check values with `validate`,
`is_valid`, or `ensure`, and JSON documents with `validate_json` or
`is_valid_json`.

Validation is a membership test against the set the schema denotes: the value
is never copied or coerced. A validator never changes after it is built and
is safe to share across threads. Its `repr` is the annotation that produces
it, and it can be copied with `copy.copy`/`copy.deepcopy`."""


class TestType:
    def test_names_signature_and_doc(self):
        assert Validator.__module__ == "quillmar._quillmar"
        assert (Validator.__name__, Validator.__qualname__) == ("Validator", "Validator")
        assert str(inspect.signature(Validator)) == "(schema)"
        assert Validator.__doc__ == DOC

    @pytest.mark.parametrize(
        ("method", "signature"),
        [
            ("validate", "(self, /, obj, *, fail_fast=False)"),
            ("is_valid", "(self, /, obj)"),
            ("ensure", "(self, /, obj)"),
            ("__copy__", "(self, /)"),
            ("__deepcopy__", "(self, /, _memo)"),
        ],
    )
    def test_method_signatures(self, method, signature):
        assert str(inspect.signature(getattr(Validator, method))) == signature

    def test_cannot_be_subclassed(self):
        with pytest.raises(TypeError):
            type("Sub", (Validator,), {})

    def test_instances_have_no_dict_no_weakrefs_and_are_not_tracked(self):
        v = Validator(int)
        assert not hasattr(v, "__dict__")
        with pytest.raises(AttributeError):
            v.note = 1
        with pytest.raises(TypeError):
            weakref.ref(v)
        for each in (v, copy.copy(v), qm.anything, Validator(object())):
            assert not gc.is_tracked(each)

    @pytest.mark.parametrize("method", ["is_empty", "__copy__", "open", "close", "simplify"])
    def test_no_argument_methods_refuse_an_argument(self, method):
        with pytest.raises(TypeError):
            getattr(Validator(int), method)(1)


V = Validator(int)

ARGUMENT_ERRORS = [
    (lambda: Validator(), "Validator.__new__() missing 1 required positional argument: 'schema'"),
    (lambda: Validator(int, str), "Validator.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: Validator(int, schema=int), "Validator.__new__() got multiple values for argument 'schema'"),
    (lambda: Validator(scheme=int), "Validator.__new__() got an unexpected keyword argument 'scheme'"),
    # The count comes before the keywords, the keywords (in the order passed) before the missing check.
    (lambda: Validator(int, str, scheme=int), "Validator.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: Validator(scheme=int, schema=int), "Validator.__new__() got an unexpected keyword argument 'scheme'"),
    (lambda: V.validate(), "Validator.validate() missing 1 required positional argument: 'obj'"),
    # fail_fast is keyword-only.
    (lambda: V.validate(1, True), "Validator.validate() takes 1 positional arguments but 2 were given"),
    (lambda: V.validate(1, obj=1), "Validator.validate() got multiple values for argument 'obj'"),
    (lambda: V.validate(1, fail_fast=True, obj=1), "Validator.validate() got multiple values for argument 'obj'"),
    (lambda: V.validate(1, failfast=True), "Validator.validate() got an unexpected keyword argument 'failfast'"),
    (lambda: V.validate(bad=1, obj=1), "Validator.validate() got an unexpected keyword argument 'bad'"),
    (lambda: V.validate(fail_fast=True), "Validator.validate() missing 1 required positional argument: 'obj'"),
    (lambda: V.is_valid(), "Validator.is_valid() missing 1 required positional argument: 'obj'"),
    (lambda: V.is_valid(1, 2), "Validator.is_valid() takes 1 positional arguments but 2 were given"),
    (lambda: V.is_valid(1, fail_fast=True), "Validator.is_valid() got an unexpected keyword argument 'fail_fast'"),
    (lambda: V.ensure(), "Validator.ensure() missing 1 required positional argument: 'obj'"),
    (lambda: V.ensure(1, 2, 3), "Validator.ensure() takes 1 positional arguments but 3 were given"),
    (lambda: V.ensure(1, obj=2), "Validator.ensure() got multiple values for argument 'obj'"),
    (lambda: V.__deepcopy__(), "Validator.__deepcopy__() missing 1 required positional argument: '_memo'"),
    (lambda: V.__deepcopy__({}, {}), "Validator.__deepcopy__() takes 1 positional arguments but 2 were given"),
    (lambda: V.__deepcopy__(memo={}), "Validator.__deepcopy__() got an unexpected keyword argument 'memo'"),
]


class TestArguments:
    @pytest.mark.parametrize(("call", "message"), ARGUMENT_ERRORS)
    def test_argument_error_text(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    def test_every_parameter_may_be_passed_by_keyword(self):
        v = Validator(schema=int)
        assert v == V
        assert v.is_valid(obj=1) and v.ensure(obj=2) == 2 and v.validate(obj=3) is None
        assert v.__deepcopy__(_memo=None) == v


class Outer:
    class Inner:
        pass


def fake_numpy_bool(name, **namespace):
    # The numpy boolean is recognised by its type's module and name alone.
    return type(name, (), {"__module__": "numpy", **namespace})()


class TestFailFast:
    @pytest.mark.parametrize("flag", [True, False])
    def test_bool_and_numpy_bool_are_accepted(self, flag):
        np = pytest.importorskip("numpy")
        for value in (flag, np.bool_(flag)):
            assert V.validate(1, fail_fast=value) is None
            with pytest.raises(qm.ValidationError):
                V.validate("x", fail_fast=value)

    @pytest.mark.parametrize(
        ("flag", "message"),
        [
            (1, "'int' object is not an instance of 'bool'"),
            (0, "'int' object is not an instance of 'bool'"),
            (None, "'None' is not an instance of 'bool'"),
            ("yes", "'str' object is not an instance of 'bool'"),
            (Outer.Inner(), "'Outer.Inner' object is not an instance of 'bool'"),
            (fake_numpy_bool("bool_"), "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"),
            (fake_numpy_bool("int8"), "'int8' object is not an instance of 'bool'"),
        ],
    )
    def test_other_values_raise_with_a_note(self, flag, message):
        with pytest.raises(TypeError) as info:
            V.validate("x", fail_fast=flag)
        assert str(info.value) == message
        assert info.value.__notes__ == ["while processing 'fail_fast'"]

    def test_numpy_int_is_not_a_bool(self):
        np = pytest.importorskip("numpy")
        with pytest.raises(TypeError) as info:
            V.validate(1, fail_fast=np.int64(1))
        assert str(info.value) == "'int64' object is not an instance of 'bool'"

    def test_numpy_bool_truth_slot_decides(self):
        yes = fake_numpy_bool("bool", __bool__=lambda self: True)
        assert V.validate(1, fail_fast=yes) is None

        def refuse(self):
            raise ValueError("no truth")

        with pytest.raises(ValueError, match="no truth") as info:
            V.validate(1, fail_fast=fake_numpy_bool("bool", __bool__=refuse))
        assert info.value.__notes__ == ["while processing 'fail_fast'"]

    def test_raised_before_the_value_is_looked_at(self):
        looked = []

        class Meta(type):
            def __instancecheck__(cls, instance):
                looked.append(instance)
                raise KeyboardInterrupt

        v = Validator(Meta("Watched", (), {}))
        with pytest.raises(TypeError):
            v.validate(1, fail_fast=1)
        assert looked == []


class Bad:
    def __eq__(self, other):
        raise ValueError("no comparison")

    __hash__ = object.__hash__


NAN = float("nan")

EQUAL_PAIRS = [
    (lambda: Validator(int), lambda: Validator(int)),
    (lambda: Validator(None), lambda: Validator(type(None))),
    # Distinct but equal float objects, compared with ==.
    (lambda: Validator(float("1.5")), lambda: Validator(float("1.5"))),
    (lambda: Validator(NAN), lambda: Validator(NAN)),  # the same NaN object
    (lambda: Validator(int), lambda: Validator(Validator(int))),  # embedding
    (lambda: Validator(Outer), lambda: Validator(Outer)),
]

UNEQUAL_PAIRS = [
    (lambda: Validator(int), lambda: Validator(str)),
    (lambda: Validator(int), lambda: Validator(bool)),
    # Equal in Python, yet the validators accept different values.
    (lambda: Validator(1), lambda: Validator(True)),
    (lambda: Validator(1), lambda: Validator(1.0)),
    (lambda: Validator(0), lambda: Validator(False)),
    (lambda: Validator("a"), lambda: Validator(type("S", (str,), {})("a"))),
    (lambda: Validator(float("nan")), lambda: Validator(float("nan"))),
    (lambda: Validator(Bad()), lambda: Validator(Bad())),
    (lambda: Validator(Outer), lambda: Validator(Outer.Inner)),
]


class TestEquality:
    @pytest.mark.parametrize(("left", "right"), EQUAL_PAIRS)
    def test_equal_validators_hash_alike(self, left, right):
        a, b = left(), right()
        assert a == b and b == a
        assert not (a != b)
        assert hash(a) == hash(b)

    @pytest.mark.parametrize(("left", "right"), UNEQUAL_PAIRS)
    def test_unequal_validators(self, left, right):
        a, b = left(), right()
        assert a != b and b != a
        assert not (a == b)

    def test_constants_are_interned_by_identity(self):
        a, b = float("1.5"), float("1.5")  # distinct but equal
        # One pool entry for an object met twice, so both trees read the same.
        assert Validator([a, a]) == Validator([b, b])
        # Two entries for two objects: the trees name different constants.
        assert Validator([a, b]) != Validator([a, a])

    def test_an_exception_in_pool_equality_is_cleared(self):
        a, b = Validator(Bad()), Validator(Bad())
        assert (a == b) is False
        assert (a != b) is True

    @pytest.mark.parametrize("other", [1, None, int, "Validator(int)", object()])
    def test_against_other_objects(self, other):
        assert (V == other) is False and (other == V) is False
        assert (V != other) is True and (other != V) is True

    @pytest.mark.parametrize("compare", [lambda a, b: a < b, lambda a, b: a <= b, lambda a, b: a > b, lambda a, b: a >= b])
    def test_orderings_are_refused(self, compare):
        with pytest.raises(TypeError):
            compare(V, Validator(int))
        with pytest.raises(TypeError):
            compare(V, 1)

    def test_hash_is_an_int_and_never_minus_one(self):
        for v in (V, qm.anything, qm.nothing, Validator(-1), Validator(-2), Validator(None), Validator("x")):
            h = hash(v)
            assert type(h) is int and h != -1


class TestCopies:
    @pytest.mark.parametrize(
        "make",
        [lambda v: copy.copy(v), lambda v: copy.deepcopy(v), lambda v: v.__copy__(), lambda v: v.__deepcopy__({})],
    )
    def test_copy_is_a_new_equal_validator_sharing_the_pool(self, make):
        token = Outer.Inner()
        original = Validator(token)
        duplicate = make(original)
        assert duplicate is not original and type(duplicate) is Validator
        assert duplicate == original and hash(duplicate) == hash(original)
        # The literal is the very object, shared, so the copy still accepts it.
        assert duplicate.is_valid(token) and not duplicate.is_valid(Outer.Inner())

    def test_deepcopy_of_a_container_keeps_validators_working(self):
        box = copy.deepcopy({"v": V})
        assert box["v"] == V and box["v"] is not V and box["v"].is_valid(3)


class TestCompilerDispatch:
    """The forms that compile now, and the values that are refused outright."""

    @pytest.mark.parametrize(
        ("schema", "message"),
        [
            ((), "a tuple literal is not a schema; write a fixed-length tuple as tuple[A, B]"),
            ((int, str), "a tuple literal is not a schema; write a fixed-length tuple as tuple[A, B]"),
            (set(), "a set literal is not a schema; write a set as set[T]"),
            ({int}, "a set literal is not a schema; write a set as set[T]"),
            (type("Bag", (set,), {})(), "a set literal is not a schema; write a set as set[T]"),
            (typing.TypeVar("T"), "~T is a typing construct, not a value"),
            (typing.Final, "typing.Final is a typing construct, not a value"),
            (typing.Optional, "typing.Optional is a typing construct, not a value"),
        ],
    )
    def test_refused_values(self, schema, message):
        with pytest.raises(NotImplementedError) as info:
            Validator(schema)
        assert str(info.value).startswith(message)

    def test_protocol_must_be_runtime_checkable(self):
        class Plain(typing.Protocol):
            def run(self): ...

        with pytest.raises(NotImplementedError, match=r"^a Protocol must be @runtime_checkable to be used as a schema$"):
            Validator(Plain)

        @typing.runtime_checkable
        class Checked(typing.Protocol):
            def run(self): ...

        class Runner:
            def run(self):
                pass

        v = Validator(Checked)
        assert v.is_valid(Runner()) and not v.is_valid(1)

    @pytest.mark.parametrize(
        ("schema", "members", "non_members"),
        [
            (typing.Any, [None, object(), []], []),
            (object, [None, object(), []], []),
            (typing.Never, [], [None, 0, object()]),
            (typing.NoReturn, [], [None, 0]),
            (typing.NewType("UserId", int), [3, True], ["3", 3.0]),
            (typing.TypeAliasType("Alias", int), [3], [3.0]),
            (frozenset({1}), [frozenset({1})], [{1}, frozenset()]),
            (..., [...], [None]),
            # Unsubscripted containers are plain classes; tuple is no named tuple.
            (tuple, [(), (1, "a")], [[]]),
            (set, [set(), {1}], [frozenset()]),
            (frozenset, [frozenset()], [set()]),
            (typing.TypeVar, [typing.TypeVar("T")], [1]),
        ],
    )
    def test_simple_forms(self, schema, members, non_members):
        v = Validator(schema)
        assert all(v.is_valid(x) for x in members)
        assert not any(v.is_valid(x) for x in non_members)

    @staticmethod
    def new_types(count):
        schema = int
        for i in range(count):
            schema = typing.NewType(f"Level{i}", schema)
        return schema

    def test_nesting_guard(self):
        nesting = "schema nesting is too deep to compile; a class whose own type appears in its fields is recursive"
        # 99 NewTypes over int need exactly 100 active compiles.
        assert Validator(self.new_types(99)).is_valid(1)
        with pytest.raises(NotImplementedError, match=f"^{nesting}"):
            Validator(self.new_types(100))
        type Loop = list[Loop]
        with pytest.raises(NotImplementedError, match=f"^{nesting}"):
            Validator(Loop)
        # The count starts again from zero after a refusal.
        assert Validator(self.new_types(99)).is_valid(2)

    @pytest.mark.parametrize("attribute", ["__metadata__", "__supertype__"])
    def test_a_failing_attribute_read_passes_through(self, attribute):
        class Broken:
            def __getattr__(self, name):
                if name == attribute:
                    raise KeyError(name)
                raise AttributeError(name)

        with pytest.raises(KeyError, match=attribute):
            Validator(Broken())

    def test_a_failed_typing_load_fails_the_compile_and_is_tried_again(self):
        script = textwrap.dedent(
            """
            import typing
            saved = typing.Literal
            del typing.Literal
            import quillmar._quillmar as qm
            assert qm.Validator(None).is_valid(None)  # needs no typing object
            try:
                qm.Validator(int)
            except AttributeError as error:
                print(error)
            typing.Literal = saved
            print(qm.Validator(int).is_valid(1))
            """
        )
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
        assert (done.stdout, done.stderr) == ("module 'typing' has no attribute 'Literal'\nTrue\n", "")


def depth_message(depth):
    return (
        f"schema nesting is too deep: this validator reaches {depth} levels of nesting, past the limit of 128. "
        "A validator this deep comes from building in an unbounded loop; checking it would risk a native stack "
        "overflow. Express structural recursion with recursive(...) instead of nesting schemas."
    )


def nodes_message(count):
    return (
        f"schema is too large: this validator spans {count} nodes, past the limit of 100000. A schema this large "
        "comes from combining a validator with itself in an unbounded loop, which doubles its size each step; "
        "building it would exhaust memory."
    )


def definitions_message(count):
    return (
        f"schema holds too many recursive definitions: this validator has {count} of them, past the limit of 128. "
        "A validator with this many comes from chaining recursive schemas in an unbounded loop; rendering or "
        "deciding it would risk a native stack overflow."
    )


class TestLimits:
    def test_depth_past_128_is_refused_and_128_is_accepted(self):
        # Each list[...] adds the same number of levels; the first refusal
        # names 129 whether that is one level or two.
        v = Validator(int)
        while True:
            try:
                v = Validator(list[v])
            except ValueError as error:
                assert str(error) == depth_message(129)
                break
        # Copies are never held to the limits again, and the last one built works.
        assert copy.copy(v).is_valid([])

    def test_depth_of_exactly_128(self):
        v = Validator(int)
        for _ in range(63):
            v = Validator(list[v])  # 1 + 63 * 2 levels
        assert Validator(set[v]).is_valid(set())
        with pytest.raises(ValueError) as info:
            Validator(list[v])
        assert str(info.value) == depth_message(129)

    def test_nodes_of_exactly_100000(self):
        assert Validator([int] * 99999).is_valid([0] * 99999)
        with pytest.raises(ValueError) as info:
            Validator([int] * 100000)
        assert str(info.value) == nodes_message(100001)

    def test_doubling_a_validator_runs_into_the_node_limit(self):
        v = Validator(int)
        for _ in range(15):
            v = v | v
        with pytest.raises(ValueError) as info:
            v | v
        assert str(info.value) == nodes_message(131071)

    def test_depth_is_reported_before_size(self):
        schema = [int] * 100001
        for _ in range(64):
            schema = list[schema]
        with pytest.raises(ValueError) as info:
            Validator(schema)
        assert re.fullmatch(re.escape(depth_message(999)).replace("999", r"\d+"), str(info.value))

    def test_definitions_past_128_are_refused(self):
        def chain(i):
            return qm.recursive(lambda self: qm.union(i, list[self]))

        parts = [chain(i) for i in range(129)]
        assert qm.union(*parts[:128]).is_valid(0)
        with pytest.raises(ValueError) as info:
            qm.union(*parts)
        assert str(info.value) == definitions_message(129)

    def test_open_and_close_reach_a_recursive_schema(self):
        # The root of a recursive schema is only a reference: the records
        # live in its definition.
        node = qm.recursive(lambda self: {"value": int, "next": qm.union(self, None)})
        extra = {"value": 1, "next": {"value": 2, "next": None, "note": "x"}}
        assert node.open().is_valid(extra) and not node.close().is_valid(extra)
        assert node.open() != node.close()
        assert node.open().close() == node.close()
