"""Patterns of `pattern` metadata: RE2 syntax, whole-string matching, and Unicode-aware \\d \\w \\s."""

from typing import Annotated

import pytest

from quillmar import Validator


class Pattern:
    def __init__(self, pattern):
        self.pattern = pattern


def checker(pattern):
    return Validator(Annotated[str, Pattern(pattern)])


CLASS_REFUSAL = (
    "{0} cannot be used inside a character class, since its Unicode meaning has no member form; "
    "write it as an alternative, as in (?:[...]|{0})"
)


@pytest.mark.parametrize(
    "pattern",
    [
        r"\d+",
        r"[\d\w\s-]+",
        r"[^\D]",
        r"[\s-z]",
        r"\W\S",
        r"[]\d]",
        r"[[:alpha:]\d]",
        r"\\W",
        r"[\\]W",
        r"\Q[\W\E",
        r"\Qunclosed [",
        r"\p{Greek}+\b",
        r"(?i)é",
        "",
    ],
)
def test_valid_patterns_compile(pattern):
    checker(pattern)


@pytest.mark.parametrize(
    "pattern, reason",
    [
        ("[", "missing ]: ["),
        ("(", "missing ): ("),
        ("a)|(b", "unexpected ): a)|(b"),
        ("a)(b", "unexpected ): a)(b"),
        ("x{2,1001}", "invalid repetition size: {2,1001}"),
        ("(?<=a)b", "invalid perl operator: (?<"),
        ("a\\", "trailing \\"),
        (r"[\W]", CLASS_REFUSAL.format(r"\W")),
        (r"[a-z\S]", CLASS_REFUSAL.format(r"\S")),
        (r"[^\W\d]", CLASS_REFUSAL.format(r"\W")),
    ],
)
def test_invalid_patterns_are_value_errors(pattern, reason, capfd):
    quoted = '"' + pattern.replace("\\", "\\\\") + '"'
    with pytest.raises(ValueError) as raised:
        checker(pattern)
    assert type(raised.value) is ValueError
    assert str(raised.value) == f"invalid regular expression {quoted}: {reason}"
    assert capfd.readouterr().err == ""


def test_pattern_is_kept_as_written():
    assert checker(r"\d") == checker(r"\d")
    assert checker(r"\d") != checker(r"\p{Nd}")
    assert checker(r"[\d]") != checker(r"\d")


MATCHES = [
    (r"\d+", "١٢٣", True),
    (r"\d+", "１２", True),
    (r"\d", "a", False),
    (r"\D", "٣", False),
    (r"\D", "x", True),
    (r"\w+", "héllo_wörld", True),
    (r"\w+", "日本語", True),
    (r"\w", "-", False),
    (r"\W", "é", False),
    (r"\W", "!", True),
    (r"\s", "\u3000", True),
    (r"\s", "\xa0", True),
    (r"\s", "\u2028", True),
    (r"\s", "\x85", True),
    (r"\s", "x", False),
    (r"\S+", "ab", True),
    (r"\S", "\u2029", False),
    (r"[\d]+", "٣٤", True),
    (r"[^\d]", "٣", False),
    (r"[\w-]+", "é-x", True),
    (r"[\s,]+", "\u2028, \t", True),
    (r"[\s-z]", "-", True),
    (r"[\s-z]", "y", False),
    (r"[]\d]", "]", True),
    (r"\\d", "\\d", True),
    (r"\\d", "5", False),
    (r"\Q\d\E", "\\d", True),
    (r"\Q\d\E", "5", False),
    (r"\Qa.b", "a.b", True),
    (r"\Qa.b", "axb", False),
    # \b keeps RE2's ASCII meaning: 'é' is not a word character to it
    (r"a\bé", "aé", True),
    # the whole string must match
    ("abc", "xabcx", False),
    ("abc", "abc\n", False),
    ("a|b", "ab", False),
    ("a|b", "b", True),
    ("", "", True),
]


@pytest.mark.parametrize("pattern, text, expected", MATCHES)
def test_matching(pattern, text, expected):
    assert checker(pattern).is_valid(text) is expected


SPACES = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"
NOT_SPACES = "\u200b\u180e\u2060\ufeffa_"
DIGITS = "0\u0663\uff11\u07c0\U0001d7ce"
NOT_DIGITS = "\xb2\u2460\u216ba"
WORD = "a\xe9\u65e5_\u203f\u0301\u0663"
NOT_WORD = " -!\u3000\u2028"


# Each class, alone and as a bracket member, against every character it names and some neighbours.
@pytest.mark.parametrize(
    "patterns, members, outsiders",
    [
        ([r"\s", r"[\s]", r"[\s\d]"], SPACES, NOT_SPACES),
        ([r"\S", r"[^\s]"], NOT_SPACES, SPACES),
        ([r"\d", r"[\d]", r"[^\D]"], DIGITS, NOT_DIGITS),
        ([r"\D", r"[\D]", r"[^\d]"], NOT_DIGITS, DIGITS),
        ([r"\w", r"[\w]"], WORD, NOT_WORD),
        ([r"\W", r"[^\w]"], NOT_WORD, WORD),
    ],
    ids=["s", "S", "d", "D", "w", "W"],
)
def test_class_members(patterns, members, outsiders):
    for pattern in patterns:
        check = checker(pattern)
        assert [c for c in members if not check.is_valid(c)] == [], pattern
        assert [c for c in outsiders if check.is_valid(c)] == [], pattern


# Plain patterns (ASCII literals and classes, groups, alternation, counted
# repetition) are matched without the regex engine; they must agree with it.
# Each case is checked on a lone str and on list items, the two ways in.
PLAIN_MATCHES = [
    ("^ab$", "ab", True),
    ("^a|b$", "b", True),
    ("^a|b$", "ab", False),
    (r"a\$", "a$", True),
    (r"a\\$", "a\\", True),
    ("[-a]+", "-a-", True),
    ("[a-]+", "a-b", False),
    ("[a-c-]", "-", True),
    ("(?:ab)*", "abab", True),
    ("(?:ab)*", "aba", False),
    ("(a|)b", "b", True),
    ("x{2,3}", "xxxx", False),
    ("x{2,}", "xxxx", True),
    ("x{2}?", "xx", True),
    ("[a-z]{2,8}-[0-9]{1,6}", "ab-12", True),
    ("[a-z]{2,8}-[0-9]{1,6}", "abé-12", False),
    ("a+", "aaa\n", False),
    ("", "a", False),
]


@pytest.mark.parametrize("pattern, text, expected", PLAIN_MATCHES)
def test_plain_pattern_matching(pattern, text, expected):
    assert checker(pattern).is_valid(text) is expected
    assert Validator(list[Annotated[str, Pattern(pattern)]]).is_valid([text] * 3) is expected


def _plain_patterns():
    from hypothesis import strategies as st

    atom = st.sampled_from(["a", "b", "-", r"\.", ".", "[ab]", "[a-c]", "[-b]", "[0-9x]"])
    quantifier = st.sampled_from(["", "", "*", "+", "?", "{2}", "{1,3}", "{0,}", "*?"])
    piece = st.builds(lambda a, q: a + q, atom, quantifier)
    return st.recursive(
        st.lists(piece, min_size=0, max_size=4).map("".join),
        lambda inner: st.one_of(
            st.lists(inner, min_size=2, max_size=3).map("|".join),
            st.builds(lambda p, q: f"(?:{p}){q}", inner, quantifier),
            st.builds(lambda p: f"({p})", inner),
        ),
        max_leaves=6,
    )


def test_plain_patterns_agree_with_python_re():
    import re

    from hypothesis import given, settings
    from hypothesis import strategies as st

    @settings(max_examples=300, deadline=None)
    @given(_plain_patterns(), st.lists(st.text("ab-.x0é", max_size=6), min_size=1, max_size=4))
    def agree(pattern, texts):
        scalar = checker(pattern)
        listed = Validator(list[Annotated[str, Pattern(pattern)]])
        expected = [re.fullmatch(pattern, t) is not None for t in texts]
        assert [scalar.is_valid(t) for t in texts] == expected
        assert listed.is_valid(texts) is all(expected)

    agree()
