"""The texts a report shows for values, classes and keys: cut, fallbacks, quoting."""

import sys

import pytest

import quillmar._quillmar as qm


def raised(schema, value):
    checker = qm.Validator(schema)
    with pytest.raises(qm.ValidationError) as info:
        checker.validate(value)
    return info.value


class Shown:
    """An object whose repr() is whatever the test needs: a text, or an exception raised."""

    def __init__(self, repr_result):
        self.repr_result = repr_result

    def __repr__(self):
        if isinstance(self.repr_result, BaseException):
            raise self.repr_result
        return self.repr_result


class UnprintableText(str):
    def __str__(self):
        raise RuntimeError("no text")


class TestValueText:
    @pytest.mark.parametrize(
        ("text", "shown"),
        [
            ("a" * 80, "a" * 80),
            ("a" * 81, "a" * 80 + "..."),
            # Cut by characters, not bytes: 81 two-byte and 81 four-byte characters.
            ("é" * 81, "é" * 80 + "..."),
            ("😀" * 81, "😀" * 80 + "..."),
            ("é" * 80, "é" * 80),
            # Lone surrogates: three replacement characters each.
            ("a\ud800b", "a\ufffd\ufffd\ufffdb"),
        ],
    )
    def test_repr_text(self, text, shown):
        assert raised(int, Shown(text)).value == shown

    # Exact builtins are shown without calling repr(); the text must still be repr()'s.
    @pytest.mark.parametrize(
        "value",
        [
            0, -1, 2**63 - 1, -(2**63), 2**63, -(2**64), 10**100,
            1.5, -0.0, 1e16, 1e-5, 1e22, 0.1 + 0.2, float("inf"), float("-inf"), float("nan"),
            None, True, False,
            "", "abc", " ~", "a'b", 'a"b', "a\\b", "tab\t", "\x7f", "é", "x" * 78, "x" * 79, "x" * 200,
        ],
    )
    def test_builtin_text_is_repr(self, value):
        text = repr(value)
        assert raised(bytes, value).value == (text if len(text) <= 80 else text[:80] + "...")

    @pytest.mark.parametrize("exception", [ValueError("bad"), KeyboardInterrupt(), SystemExit(1)])
    def test_failing_repr_is_unrepresentable_and_leaves_nothing_pending(self, exception):
        error = raised(int, Shown(exception))
        assert error.value == "<unrepresentable>"
        assert str(error) == "expected int, got <unrepresentable> [int_type]"

    def test_repr_that_cannot_become_str_goes_to_the_unraisable_hook(self, monkeypatch):
        seen = []
        monkeypatch.setattr(sys, "unraisablehook", seen.append)
        error = raised(int, Shown(UnprintableText("x")))
        assert error.value == "<unprintable UnprintableText object>"
        assert len(seen) == 1 and isinstance(seen[0].exc_value, RuntimeError)


class Nowhere:
    """A class no value is an instance of, so that any value fails and is shown."""


def shown(value):
    return raised(Nowhere, value).value


def cut_repr(value):
    text = repr(value)
    return text if len(text) <= 80 else text[:80] + "..."


def self_containing_list():
    loop = [1, "a"]
    loop.append(loop)
    return loop


def self_containing_dict():
    loop = {"it's": 1.5}
    loop['say "hi"'] = loop
    return loop


def nested_lists(depth):
    value = [1]
    for _ in range(depth):
        value = [value, 2]
    return value


# Containers of exact builtins are shown as far as the text is read; the text must still be repr()'s.
CONTAINERS = [
    [], (), {}, set(), frozenset(), [[]], ((),), (1,), [(1,)], [{}, set(), frozenset(), ()],
    list(range(100)), tuple(range(100)), {i: [i] for i in range(30)},
    # Around the cut: 79, 80, 81 and 82 characters.
    ["x" * 75], ["x" * 76], ["x" * 77], ["x" * 78], ("x" * 75,), ("x" * 76,),
    [1.5, -0.0, 1e16, 1e-5, 1e22, float("nan"), float("inf"), 0.1 + 0.2],
    [2**63, -(10**50), 10**100, 1, 2**64 - 1],
    {"it's": 1, 'say "hi"': 2, "both '\"": 3, "back\\slash": [4], "\n": None},
    {"k" * 100: 1}, {1: "v" * 100}, {(1, "a"): {True: False}},
    # str and bytes: the quote repr() picks depends on the whole text, also when only its start is shown.
    ["a" * 100 + "'"], ["a" * 100 + "'\""], ["'" + "a" * 100 + '"'], ["a'" * 60], ['a"' * 60], ["\\" * 60],
    ["\n" * 50], ["é漢😀" * 40], ["\t\x7f\u200b\xa0" * 30], ["\ud800" * 40], ["a\ud800b"],
    [b"", b"'", b'"', b"'\""], [b"a" * 100 + b"'"], [b"'" + b"a" * 100 + b'"'], [b"\x00\xff" * 50],
    {1, 2, 3}, frozenset({"a", "b"}), {(1, "x"), frozenset({2})}, frozenset({frozenset(), (1,), frozenset({3})}),
    {frozenset(range(50))}, frozenset(range(100)),
    [{"a": [1, {"b": (2, {3})}]}] * 5,
    self_containing_list(), self_containing_dict(), [self_containing_list()] * 3, nested_lists(100),
    # Other builtins inside are shown by their own repr().
    [1j, range(3), None, True, ..., int, bytearray(b"x")],
]


class Logged:
    """An element whose repr() is recorded, in the order it runs."""

    def __init__(self, log, name):
        self.log = log
        self.name = name

    def __repr__(self):
        self.log.append(self.name)
        return self.name


class Repr:
    def __init__(self, make_text):
        self.make_text = make_text

    def __repr__(self):
        return self.make_text()


def refers_to_its_list():
    items = []
    items.append(Repr(lambda: "R" + repr(items)))
    return items


def empties_its_list():
    items = []
    items.append(Repr(lambda: (items.clear(), "C" + repr(items))[1]))
    return items


def grows_its_list():
    items = [0]
    items.append(Repr(lambda: (items.append(len(items)) if len(items) < 40 else None, "G")[1]))
    return items


def empties_its_dict():
    items = {}
    items[1] = Repr(lambda: (items.clear(), "C" + repr(items))[1])
    return items


def grows_its_dict():
    items = {0: 0}
    items[1] = Repr(lambda: (items.setdefault(len(items), 0) if len(items) < 40 else None, "G")[1])
    return items


class Hashed(Repr):
    def __hash__(self):
        return 1


def empties_its_set():
    items = set()
    items.add(Hashed(lambda: (items.clear(), "C" + repr(items))[1]))
    return items


def grows_its_set():
    items = {1, 2, 3}
    items.add(Hashed(lambda: (items.add(len(items)) if len(items) < 40 else None, "G")[1]))
    return items


class TestContainerText:
    @pytest.mark.parametrize("value", CONTAINERS)
    def test_text_is_cut_repr(self, value):
        assert shown(value) == cut_repr(value)

    # repr() of an element may read or change its container; each is built twice, for us and for repr().
    @pytest.mark.parametrize(
        "make",
        [
            refers_to_its_list,
            empties_its_list,
            grows_its_list,
            empties_its_dict,
            grows_its_dict,
            empties_its_set,
            grows_its_set,
            lambda: (refers_to_its_list(),),
            lambda: {"k": refers_to_its_list()},
        ],
    )
    def test_element_repr_that_uses_its_container(self, make):
        assert shown(make()) == cut_repr(make())

    def test_element_reprs_run_in_order_up_to_the_cut(self):
        log = []
        value = [Logged(log, f"e{i:02d}") for i in range(40)]
        text = shown(value)
        # "[e00, e01, ..., e15, " fills the 81 characters that decide the cut; e16 and later are never shown.
        assert log == [f"e{i:02d}" for i in range(16)]
        assert text == cut_repr(value)

    @pytest.mark.parametrize(
        ("value", "text"),
        [
            ([1, Repr(lambda: 1 / 0)], "<unrepresentable>"),
            ({"k": Repr(lambda: 5)}, "<unrepresentable>"),
            ((Repr(lambda: 1 / 0),), "<unrepresentable>"),
            # Past the cut, a repr() that would fail is never asked.
            (["x" * 90, Repr(lambda: 1 / 0)], "['" + "x" * 78 + "..."),
            ([1] * 40 + [Repr(lambda: 1 / 0)], "[" + "1, " * 26 + "1..."),
        ],
    )
    def test_failing_element_repr(self, value, text):
        assert shown(value) == text

    def test_subclasses_keep_their_own_repr(self):
        class Items(list):
            def __repr__(self):
                return "Items!"

        log = []
        value = [Items([1]), Logged(log, "last")]
        assert shown(value) == "[Items!, last]"
        assert shown(Items(range(100))) == "Items!"
        assert log == ["last"]


class NameIsNotText(type):
    @property
    def __name__(cls):
        return 5


class NameRaises(type):
    @property
    def __name__(cls):
        raise KeyboardInterrupt


class TestClassName:
    def test_long_name_is_whole(self):
        cls = type("L" * 100, (), {})
        assert raised(cls, 1).expected == "L" * 100

    @pytest.mark.parametrize("meta", [NameIsNotText, NameRaises])
    def test_unusable_name_falls_back_to_repr(self, meta):
        cls = meta("Odd", (), {})
        text = repr(cls)
        assert raised(cls, 1).expected == (text if len(text) <= 80 else text[:80] + "...")


class TestQuotedKeys:
    @pytest.mark.parametrize(
        ("key", "quoted"),
        [
            ('a"b', '"a\\"b"'),
            ("a\\b", '"a\\\\b"'),
            ("a\tb\r\n\0", '"a\\tb\\r\\n\\0"'),
            ("it's", '"it\'s"'),
            ("a b", '"a b"'),
            ("é漢😀", '"é漢😀"'),
            ("\xa0", '"\\u{a0}"'),
            ("\x7f\u200b\u2028\ue000", '"\\u{7f}\\u{200b}\\u{2028}\\u{e000}"'),
            # Combining marks and the other grapheme extenders.
            ("e\u0301", '"e\\u{301}"'),
            ("\u09be\u200c", '"\\u{9be}\\u{200c}"'),
        ],
    )
    def test_missing_key_and_undeclared_key(self, key, quoted):
        missing = raised({key: int}, {})
        assert (missing.code, missing.expected, missing.value) == ("missing_key", f"required key {quoted}", "missing")
        assert missing.path == (key,)

        undeclared = raised({"known": int}, {"known": 1, key: 2})
        assert (undeclared.code, undeclared.expected) == ("extra_forbidden", "no unexpected key")
        assert undeclared.value == quoted
        assert undeclared.path == (key,)

    def test_undeclared_key_is_not_cut(self):
        key = "k" * 100
        error = raised({"known": int}, {"known": 1, key: 2})
        assert error.path == (key,)
        assert error.value == f'"{key}"'
