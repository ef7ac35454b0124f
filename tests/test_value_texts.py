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
