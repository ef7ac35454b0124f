"""The JSON reader, seen through load, validate_json and is_valid_json."""

import json
import random
import sys
from typing import Annotated, Literal

import annotated_types as at
import pytest

import quillmar._quillmar as qm

from json_fuzz_cases import CUT as CUT_MESSAGE
from json_fuzz_cases import KINDS
from json_fuzz_cases import REJECTION as MESSAGE


def cut(message):
    return message if len(message) <= 80 else message[:80] + "..."


def rejection(data):
    """The json_invalid error of load, after checking validate_json and
    is_valid_json refuse the document the same way."""
    with pytest.raises(qm.ValidationError) as raised:
        qm.anything.load(data)
    error = raised.value
    assert error.code == "json_invalid"
    assert error.expected == "valid JSON"
    assert error.path == ()
    with pytest.raises(qm.ValidationError) as again:
        qm.anything.validate_json(data)
    assert again.value.value == error.value
    assert qm.anything.is_valid_json(data) is False
    return error.value


def same(a, b):
    """Equal with exact types, float bits and key order."""
    if type(a) is not type(b):
        return False
    if type(a) is float:
        return a.hex() == b.hex()
    if type(a) is list:
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if type(a) is dict:
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


def nested(depth, inner):
    return "[" * depth + inner + "]" * depth


@pytest.mark.parametrize(
    ("document", "message"),
    [
        # the document as a whole
        ("", "EOF while parsing a value at line 1 column 0"),
        ("   ", "EOF while parsing a value at line 1 column 3"),
        ("\n", "EOF while parsing a value at line 2 column 0"),
        (" \t\r\n ", "EOF while parsing a value at line 2 column 1"),
        ("1 1", "trailing characters at line 1 column 3"),
        ("[]\n\n]", "trailing characters at line 3 column 1"),
        ("\ufeff1", "expected value at line 1 column 1"),
        ("\x0c1", "expected value at line 1 column 1"),
        # words and values
        ("NaN", "expected value at line 1 column 1"),
        ("Infinity", "expected value at line 1 column 1"),
        ("-Infinity", "invalid number at line 1 column 2"),
        ("[,1]", "expected value at line 1 column 2"),
        ("]", "expected value at line 1 column 1"),
        ("tru", "EOF while parsing a value at line 1 column 3"),
        ("trux", "expected ident at line 1 column 4"),
        ("nul", "EOF while parsing a value at line 1 column 3"),
        ("[nulL]", "expected ident at line 1 column 5"),
        ("fals", "EOF while parsing a value at line 1 column 4"),
        # arrays
        ("[", "EOF while parsing a list at line 1 column 1"),
        ("[1 ", "EOF while parsing a list at line 1 column 3"),
        ("[1,", "EOF while parsing a value at line 1 column 3"),
        ("[1, ]", "trailing comma at line 1 column 5"),
        ("[1 2]", "expected `,` or `]` at line 1 column 4"),
        ("[1}", "expected `,` or `]` at line 1 column 3"),
        ("[1,\n 2,\n x]", "expected value at line 3 column 2"),
        ("[\r\n x]", "expected value at line 2 column 2"),
        # objects
        ("{", "EOF while parsing an object at line 1 column 1"),
        ('{"a"', "EOF while parsing an object at line 1 column 4"),
        ('{"a":', "EOF while parsing a value at line 1 column 5"),
        ('{"a":1', "EOF while parsing an object at line 1 column 6"),
        ('{"a":1,', "EOF while parsing a value at line 1 column 7"),
        ('{"a":1,}', "trailing comma at line 1 column 8"),
        ('{"a":1,2}', "key must be a string at line 1 column 8"),
        ("{1:2}", "key must be a string at line 1 column 2"),
        ("{'a':1}", "key must be a string at line 1 column 2"),
        ('{"a" 1}', "expected `:` at line 1 column 6"),
        ('{"a":1 "b":2}', "expected `,` or `}` at line 1 column 8"),
        ('{"a":1]', "expected `,` or `}` at line 1 column 7"),
        # numbers
        ("-", "EOF while parsing a value at line 1 column 1"),
        ("-a", "invalid number at line 1 column 2"),
        ("+1", "expected value at line 1 column 1"),
        ("01", "invalid number at line 1 column 2"),
        ("-00", "invalid number at line 1 column 3"),
        (".5", "expected value at line 1 column 1"),
        ("1.", "EOF while parsing a value at line 1 column 2"),
        ("1.e5", "invalid number at line 1 column 3"),
        ("1e", "EOF while parsing a value at line 1 column 2"),
        ("1E+", "EOF while parsing a value at line 1 column 3"),
        ("1e-x", "invalid number at line 1 column 4"),
        ("[1.5e]", "invalid number at line 1 column 6"),
        # an integer of more than 4300 digits, the sign not counted, at the byte after its 4301st digit
        ("1" * 4301, "number out of range at line 1 column 4301"),
        ("-" + "1" * 4301, "number out of range at line 1 column 4302"),
        ("[" + "9" * 5000 + "]", "number out of range at line 1 column 4303"),
        ("[" + "9" * 5000 + "x]", "number out of range at line 1 column 4303"),
        # strings
        ('"abc', "EOF while parsing a string at line 1 column 4"),
        ('"a\\', "EOF while parsing a string at line 1 column 3"),
        ('"a\nb"', "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"),
        ('"\x00"', "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"),
        ('"\\x"', "invalid escape at line 1 column 3"),
        ('"\\U0041"', "invalid escape at line 1 column 3"),
        ('"\\u12"', "EOF while parsing a string at line 1 column 6"),
        ('"\\u12g4"', "invalid escape at line 1 column 6"),
        ('"\\udc00"', "lone leading surrogate in hex escape at line 1 column 7"),
        ('"\\ud800\\u0041"', "lone leading surrogate in hex escape at line 1 column 13"),
        ('"\\ud800\\ud800"', "lone leading surrogate in hex escape at line 1 column 13"),
        ('"\\ud800"', "unexpected end of hex escape at line 1 column 8"),
        ('"\\ud800x"', "unexpected end of hex escape at line 1 column 8"),
        ('"\\ud800\\n"', "unexpected end of hex escape at line 1 column 9"),
        ('"\\ud800', "EOF while parsing a string at line 1 column 7"),
        ('"\\ud800\\', "EOF while parsing a string at line 1 column 8"),
        ('"\\ud800\\udc0', "EOF while parsing a string at line 1 column 12"),
        ('"\\ud800\\udcxx"', "invalid escape at line 1 column 12"),
        # nesting: the value at level 201 is refused at its first byte
        (nested(201, "1"), "recursion limit exceeded at line 1 column 202"),
        (nested(202, ""), "recursion limit exceeded at line 1 column 202"),
        ('{"a":' * 201 + "1" + "}" * 201, "recursion limit exceeded at line 1 column 1006"),
        ("[" * 201 + "x", "recursion limit exceeded at line 1 column 202"),
    ],
)
def test_malformed_document_message(document, message):
    assert MESSAGE.fullmatch(message)
    assert rejection(document) == cut(message)
    assert rejection(document.encode()) == cut(message)


@pytest.mark.parametrize(
    ("document", "message"),
    [
        (b'"\xff"', "invalid unicode code point at line 1 column 3"),
        # reported one byte past the bad one
        (b'["ok", "a\xc3("]', "invalid unicode code point at line 1 column 11"),
        (b'"ab\xe2\x82"', "invalid unicode code point at line 1 column 5"),  # cut short
        (b'"\xc0\xaf"', "invalid unicode code point at line 1 column 3"),  # overlong
        (b'"\xed\xa0\x80"', "invalid unicode code point at line 1 column 3"),  # surrogate
        (b'"\xf4\x90\x80\x80"', "invalid unicode code point at line 1 column 3"),  # past U+10FFFF
        # the offset is counted in the decoded bytes: \u00e9 decodes to two
        (b'"\\u00e9\xff"', "invalid unicode code point at line 1 column 5"),
        (b'{"\xff": 1}', "invalid unicode code point at line 1 column 4"),
        # a string that is not closed fails on that before its bytes are checked
        (b'"\xff', "EOF while parsing a string at line 1 column 2"),
        (b"\xff", "expected value at line 1 column 1"),
        # bytes are never decoded first: no BOM or UTF-16 detection
        (b"\xef\xbb\xbf1", "expected value at line 1 column 1"),
        (b"\xff\xfe1\x00", "expected value at line 1 column 1"),
    ],
)
def test_bytes_are_parsed_undecoded(document, message):
    assert rejection(document) == message


def test_long_message_is_cut_to_80_characters():
    # A tab as the fifth byte: the full message is 81 characters long.
    full = "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 5"
    assert len(full) == 81
    assert rejection('"abc\tdef"') == full[:80] + "..."


def test_lone_surrogate_in_str():
    document = '["\ud800"]'
    for method in (qm.anything.load, qm.anything.validate_json):
        with pytest.raises(qm.ValidationError) as raised:
            method(document)
        assert raised.value.code == "json_invalid"
        assert raised.value.value == "input string is not valid UTF-8 (contains a lone surrogate)"
    assert qm.anything.is_valid_json(document) is False


@pytest.mark.parametrize("data", [bytearray(b"[1]"), memoryview(b"[1]"), None, 1, ["[1]"]])
def test_non_text_input_refused(data):
    for method in (qm.anything.load, qm.anything.validate_json):
        with pytest.raises(TypeError, match=r"^JSON input must be a str or bytes object$"):
            method(data)
    assert qm.anything.is_valid_json(data) is False


def test_str_and_bytes_subclasses_read_by_their_data():
    class Text(str):
        def __str__(self):
            return "[2]"

        def encode(self, *args, **kwargs):
            return b"[3]"

        def __iter__(self):
            return iter("[4]")

    class Data(bytes):
        def __bytes__(self):
            return b"[2]"

    for document in (Text('{"a": [1, "\u00e9"]}'), Data('{"a": [1, "\u00e9"]}'.encode())):
        assert same(qm.anything.load(document), {"a": [1, "\u00e9"]})
        assert qm.anything.validate_json(document) is None
        assert qm.anything.is_valid_json(document) is True


@pytest.mark.parametrize(
    ("depth", "inner"),
    [(200, "1"), (201, ""), (199, '{"a":{}}'), (198, '{"a":[1]}')],
)
def test_deepest_documents_that_parse(depth, inner):
    expected = json.loads(nested(depth, inner))
    assert qm.anything.load(nested(depth, inner)) == expected
    assert qm.anything.is_valid_json(nested(depth, inner)) is True
    assert qm.anything.is_valid_json(nested(depth, inner).encode()) is True


def test_duplicate_keys_last_wins_first_place_kept():
    loaded = qm.anything.load('{"a": 1, "b": 0, "a": 2}')
    assert list(loaded.items()) == [("a", 2), ("b", 0)]


@pytest.mark.parametrize(
    ("document", "expected"),
    [
        ("-0", 0),
        ("-0.0", -0.0),
        ("0.0", 0.0),
        ("1E2", 100.0),
        ("1e400", float("inf")),
        ("-1e400", float("-inf")),
        ("1e-400", 0.0),
        ("-1e-400", -0.0),
        ("5e-324", 5e-324),
        ("0.1", 0.1),
        ("2.2250738585072011e-308", 2.2250738585072011e-308),
        ("9007199254740993.0", 9007199254740992.0),
        ("1" + "0" * 400 + ".5e-400", float("1" + "0" * 400 + ".5e-400")),
        ("9007199254740993", 9007199254740993),
        ("9223372036854775807", 2**63 - 1),
        ("9223372036854775808", 2**63),
        ("-9223372036854775808", -(2**63)),
        ("-9223372036854775809", -(2**63) - 1),
        ("123456789012345678901234567890", 123456789012345678901234567890),
        ("1" * 4300, int("1" * 4300)),
        ("-" + "1" * 4300, -int("1" * 4300)),  # the sign is not a digit
        # the digit limit is for integers: a float's integer part may be of any length
        ("1" + "0" * 4400 + "e-4400", 1.0),
        ("-25" + "0" * 5000 + ".5e-5001", -2.5),
        ("1" * 4301 + ".0", float("1" * 4301 + ".0")),
        ("9" * 5000 + "e1", float("inf")),
        ('"\\u00e9\\ud83d\\ude00\\/\\b\\f\\n\\r\\t\\"\\\\"', "\u00e9\U0001f600/\b\f\n\r\t\"\\"),
        ('"\x7f\u00e9\u4e2d\U0001f600"', "\x7f\u00e9\u4e2d\U0001f600"),
        ("[true, false, null]", [True, False, None]),
    ],
)
def test_values(document, expected):
    assert same(qm.anything.load(document), expected)
    assert same(qm.anything.load(document.encode()), expected)


# Either side of the short-decimal conversion's limits (a mantissa up to
# 2**53, a power of ten up to 22) and of its digit count.
@pytest.mark.parametrize(
    "text",
    [
        "9007199254740992.0",
        "9007199254740993e0",
        "1e22",
        "1e23",
        "-1.0e+22",
        "3.0E-22",
        "3.0E-23",
        "4.35e-22",
        "123456789012345e-22",
        "0.30000000000000004",
        "1234567890123456789e-5",
        "12345678901234567890e-3",
        "0.0000000000000000000000001",
        "-0.000",
        "0.1e1",
        "1.7976931348623157e308",
        "99999999999999999999e-22",
    ],
)
def test_floats_convert_as_python_does(text):
    assert same(qm.anything.load(text), float(text))
    assert qm.Validator(Literal[float(text)]).is_valid_json(text) is True


def test_big_integers_ignore_the_int_digit_limit():
    limit = sys.get_int_max_str_digits()
    sys.set_int_max_str_digits(640)
    try:
        digits = "7" * 4000
        loaded = qm.anything.load("[-%s]" % digits)[0]
        assert loaded + 7 * (10**4000 - 1) // 9 == 0
        assert qm.Validator(int).is_valid_json(digits) is True
    finally:
        sys.set_int_max_str_digits(limit)


@pytest.mark.parametrize(
    ("schema", "document", "verdict"),
    [
        (int, "-0", True),
        (float, "-0", False),
        (float, "-0.0", True),
        (int, "1e2", False),
        (int, "123456789012345678901234567890", True),
        (Literal[123456789012345678901234567890], "123456789012345678901234567890", True),
        (Literal[-(2**63)], "-9223372036854775808", True),
        (Literal["\u00e9\U0001f600\n"], '"\\u00e9\\ud83d\\ude00\\n"', True),
        (Literal["\u00e9\U0001f600\n"], '"\u00e9\U0001f600\\n"', True),
        (str, '"\\u00e9"', True),
        (Literal[True], "true", True),
        (Literal[True], "1", False),
    ],
)
def test_is_valid_json_reads_the_parsed_values(schema, document, verdict):
    validator = qm.Validator(schema)
    assert validator.is_valid_json(document) is verdict
    assert validator.is_valid_json(document.encode()) is verdict


# Strings of 2 to 63 decoded bytes, keys and values, are shared across documents.
@pytest.mark.parametrize(
    ("text", "shared"),
    [
        ("ab", True),
        ("\u4e2d", True),  # one character, three bytes
        ("\u4e2d" * 21, True),  # 63 bytes
        ("\u4e2d" * 21 + "a", False),  # 64 bytes
        ("k" * 63, True),
        ("k" * 64, False),
    ],
)
def test_short_strings_shared_across_documents(text, shared):
    raw, escaped = json.dumps(text, ensure_ascii=False), json.dumps(text)
    first = qm.anything.load("[%s, {%s: 0}]" % (raw, raw))
    second = qm.anything.load(("[%s, {%s: 0}]" % (escaped, escaped)).encode())
    assert first == second == [text, {text: 0}]
    assert (first[0] is second[0]) is shared
    assert (next(iter(first[1])) is next(iter(second[1]))) is shared


# Keys are always shared; ASCII value strings only while they repeat within the document.
@pytest.mark.parametrize(
    ("values", "shared"),
    [
        ([f"v{i}" for i in range(2000)], False),
        ([f"v{i % 50}" for i in range(2000)], True),
    ],
)
def test_value_strings_shared_while_they_repeat(values, shared):
    document = json.dumps([{"key": value} for value in values])
    first, second = qm.anything.load(document), qm.anything.load(document)
    assert first == second == [{"key": value} for value in values]
    assert (first[-1]["key"] is second[-1]["key"]) is shared
    assert next(iter(first[-1])) is next(iter(second[-1]))


def test_values_made_for_python_rules_are_not_shared():
    seen = []
    v = qm.Validator(list[Annotated[str, at.Predicate(seen.append)]])
    loaded = qm.anything.load('["shared text"]')[0]
    v.is_valid_json('["shared text"]')
    assert seen == [loaded] and seen[0] is not loaded


def test_load_returns_the_validated_object():
    validator = qm.Validator(list[int])
    assert validator.load("[1, 2]") == [1, 2]
    with pytest.raises(qm.ValidationError) as raised:
        validator.load('[1, "2"]')
    assert raised.value.code != "json_invalid"
    assert validator.validate_json("[1, 2]") is None


# A generated document checked against the standard library's reader, as str
# and as bytes, before and after random edits.

class Disagree(Exception):
    """The two readers may differ here by design."""


def _constant(name):
    raise Disagree(name)  # NaN and the infinities


def _int(text):
    if len(text.lstrip("-")) > 4300:
        raise Disagree(text)
    return int(text)


def _has_surrogate(value):
    if type(value) is str:
        return any(0xD800 <= ord(c) <= 0xDFFF for c in value)
    if type(value) is list:
        return any(map(_has_surrogate, value))
    if type(value) is dict:
        return any(_has_surrogate(k) or _has_surrogate(v) for k, v in value.items())
    return False


def _pairs(pairs):
    # Checked here, before a later duplicate can drop a surrogate from view.
    if any(_has_surrogate(k) or _has_surrogate(v) for k, v in pairs):
        raise Disagree("surrogate")
    return dict(pairs)


def oracle(text):
    """("ok", value), ("reject", None) or ("skip", None)."""
    try:
        value = json.loads(
            text, parse_constant=_constant, parse_int=_int, object_pairs_hook=_pairs
        )
    except Disagree:
        return "skip", None
    except ValueError:
        return "reject", None
    if _has_surrogate(value):
        return "skip", None
    return "ok", value


CHARS = ["a", "Z", " ", "\u00e9", "\u4e2d", "\U0001f600", "\x7f", '"', "\\", "/", "\n", "\t"]
ESCAPES = ['\\"', "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t", "\\u0041", "\\u00E9", "\\u4e2d",
           "\\ud83d\\ude00", "\\u0000", "\\u001f"]
NUMBERS = ["0", "-0", "7", "-12", "0.5", "-0.0", "1e5", "2E-3", "1.5e+300", "1e400", "-1e-400",
           "9223372036854775807", "9223372036854775808", "-9223372036854775809", "1" * 40, "3.14159",
           "123.456e-7", "5e-324", "0.30000000000000004"]
WHITESPACE = ["", "", "", " ", "\n", "\t", "\r\n", "  "]


def generate(rng, depth=0):
    ws = lambda: rng.choice(WHITESPACE)  # noqa: E731
    roll = rng.random()
    if depth > 5 or roll < 0.45:
        kind = rng.randrange(5)
        if kind == 0:
            return rng.choice(["null", "true", "false"])
        if kind in (1, 2):
            return rng.choice(NUMBERS) if kind == 1 else str(rng.randrange(-(10**30), 10**30))
        return generate_string(rng)
    if roll < 0.7:
        items = [ws() + generate(rng, depth + 1) + ws() for _ in range(rng.randrange(5))]
        return "[" + ",".join(items) + "]" if items else "[" + ws() + "]"
    keys = [generate_string(rng, key=True) for _ in range(rng.randrange(5))]
    if keys and rng.random() < 0.3:
        keys.append(rng.choice(keys))  # a duplicate
    members = [ws() + k + ws() + ":" + ws() + generate(rng, depth + 1) + ws() for k in keys]
    return "{" + ",".join(members) + "}" if members else "{" + ws() + "}"


def generate_string(rng, key=False):
    parts = []
    for _ in range(rng.randrange(4 if key else 12)):
        if rng.random() < 0.3:
            parts.append(rng.choice(ESCAPES))
        else:
            char = rng.choice(CHARS)
            parts.append({'"': '\\"', "\\": "\\\\", "\n": "\\n", "\t": "\\t"}.get(char, char))
    return '"' + "".join(parts) + '"'


EDIT_CHARS = list(',:[]{}"\\ 0123456789.-+eEnulltrfas\n\t\u00e9') + ["\\u", "\\ud800", "NaN", "Infinity"]


def mutate_text(rng, text):
    for _ in range(rng.randrange(1, 4)):
        at = rng.randrange(len(text) + 1)
        edit = rng.randrange(4)
        if edit == 0:
            text = text[:at] + text[at + 1:]
        elif edit == 1:
            text = text[:at] + rng.choice(EDIT_CHARS) + text[at:]
        elif edit == 2:
            text = text[:at] + rng.choice(EDIT_CHARS) + text[at + 1:]
        else:
            text = text[:at]
    return text


def mutate_bytes(rng, data):
    data = bytearray(data)
    for _ in range(rng.randrange(1, 3)):
        at = rng.randrange(len(data) + 1)
        byte = rng.choice([0x80, 0xBF, 0xC0, 0xC3, 0xE2, 0xED, 0xF0, 0xF4, 0xF5, 0xFF, 0x22, 0x5C])
        if rng.random() < 0.5:
            data[at:at] = bytes([byte])
        else:
            data[at:at + 1] = bytes([byte])
    return bytes(data)


def check_against_oracle(data, text):
    """text is data decoded, or None when data is not UTF-8."""
    verdict, expected = oracle(text) if text is not None else ("reject", None)
    message = None
    try:
        loaded = qm.anything.load(data)
    except qm.ValidationError as error:
        assert error.code == "json_invalid"
        message = error.value
        assert MESSAGE.fullmatch(message) or (len(message) == 83 and CUT_MESSAGE.fullmatch(message)), message
    accepted = message is None
    # The tree reader draws the same line as the object reader.
    assert qm.anything.is_valid_json(data) is accepted, data
    if verdict == "ok":
        assert accepted, (data, message)
        assert same(loaded, expected), data
    elif verdict == "reject":
        assert not accepted, data


@pytest.mark.parametrize("seed", range(8))
def test_generated_documents_agree_with_json_module(seed):
    rng = random.Random(seed)
    for _ in range(300):
        text = generate(rng)
        for candidate in (text, mutate_text(rng, text)):
            check_against_oracle(candidate, candidate)
            check_against_oracle(candidate.encode(), candidate)
        broken = mutate_bytes(rng, text.encode())
        try:
            decoded = broken.decode("utf-8")
        except UnicodeDecodeError:
            decoded = None
        check_against_oracle(broken, decoded)
