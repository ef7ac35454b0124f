"""A seeded generator of JSON documents, well formed and mutated, and the checks every one of them must
pass. Shared by tests/test_json_fuzz.py (a fixed number of cases) and tools/json_fuzz.py (a long run)."""

import json
import math
import random
import re
from typing import Annotated, Any, Literal

import annotated_types as at

import quillmar._quillmar as qm

KINDS = [
    "EOF while parsing a list",
    "EOF while parsing an object",
    "EOF while parsing a string",
    "EOF while parsing a value",
    "expected `:`",
    "expected `,` or `]`",
    "expected `,` or `}`",
    "expected ident",
    "expected value",
    "invalid escape",
    "invalid number",
    "number out of range",
    "invalid unicode code point",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "key must be a string",
    "lone leading surrogate in hex escape",
    "trailing comma",
    "trailing characters",
    "unexpected end of hex escape",
    "recursion limit exceeded",
]
REJECTION = re.compile("(?:%s) at line ([0-9]+) column ([0-9]+)" % "|".join(map(re.escape, KINDS)))
CUT = re.compile(re.escape(KINDS[13]) + r" at line [0-9]+(?: c(?:o(?:l(?:u(?:m(?:n(?: [0-9]*)?)?)?)?)?)?)?\.\.\.")
UNDECODABLE = "input string is not valid UTF-8 (contains a lone surrogate)"
# Kinds the standard library's reader does not share: it has no nesting or digit limit and takes lone
# surrogate escapes.
OWN_LIMITS = ("recursion limit exceeded", "number out of range", "lone leading surrogate in hex escape",
              "unexpected end of hex escape")

# Schemas whose walk over the parsed tree (is_valid_json) must agree with the walk over the parsed
# Python value (is_valid of what load returns).
SCHEMAS = [
    qm.anything,
    qm.Validator(list[int]),
    qm.Validator(list[Any]),
    qm.Validator(dict[str, Any]),
    qm.Validator(dict[str, int | str | None]),
    qm.Validator(qm.union(int, float, str, bool, None)),
    qm.Validator(Annotated[int, at.Ge(-1000), at.Lt(10**20)]),
    qm.Validator(Annotated[float, at.Gt(0.5)]),
    qm.Validator(Annotated[str, at.MinLen(1), at.MaxLen(5)]),
    qm.Validator(Literal[0, 1, "a", True, None]),
    qm.Validator(qm.union({"a": int, "b?": list[str]}, {"c": Any})),
    qm.recursive(lambda r: qm.union(None, int, str, list[r], dict[str, r])),
    qm.Validator(qm.complement(list[int])),
]

ALPHABET = "ab /\x7fé€\U0001f600\ud7ff\ue000"
RAW = "\"\\\b\f\n\r\t\x00\x1f"  # refused unescaped, so drawn rarely
ESCAPES = ['\\"', "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t", "\\u0041", "\\u00e9", "\\ud83d\\ude00",
           "\\ud800", "\\udc00", "\\ud800\\u0041", "\\u12", "\\x", "\\U0041"]
TOKENS = ["[", "]", "{", "}", ",", ":", '"', "\\", "-", "+", ".", "e", "E", "0", "1", "9", "t", "f", "n",
          "true", "false", "null", "NaN", "Infinity", " ", "\n", "\t", "\r", "\x00", "\x1f", "\xff", "\ud800"]
BAD_BYTES = [b"\xff", b"\xc3", b"\xe2\x82", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xc0\xaf", b"\x80", b"\x00"]


def random_string(rng):
    parts = []
    for _ in range(rng.randrange(6)):
        roll = rng.random()
        if roll < 0.3:
            parts.append(rng.choice(ESCAPES))
        elif roll < 0.33:
            parts.append(rng.choice(RAW))
        else:
            parts.append(rng.choice(ALPHABET))
    return '"' + "".join(parts) + '"'


def random_number(rng):
    roll = rng.random()
    if roll < 0.3:
        return str(rng.randint(-(2**70), 2**70))
    if roll < 0.4:
        return rng.choice(["0", "-0", "9223372036854775807", "9223372036854775808", "-9223372036854775808",
                           "-9223372036854775809", "1" * rng.choice([19, 20, 300, 4299, 4300, 4301])])
    if roll < 0.7:
        return repr(rng.uniform(-1e6, 1e6))
    mantissa = rng.choice(["0", "1", "12", "0.5", "1.0", "123.456", "-2", "00", "1.", ".5", "-"])
    exponent = rng.choice(["", "e5", "E-5", "e+308", "e309", "e-324", "e-400", "e", "e+", "E00", "e99999999999"])
    return mantissa + exponent


def random_value(rng, depth=0):
    roll = rng.random()
    if depth > 6 or roll < 0.35:
        return rng.choice([random_string, random_number, lambda r: r.choice(["true", "false", "null"])])(rng)
    space = lambda: rng.choice(["", "", " ", "\n", "\t ", "\r\n"])  # noqa: E731
    count = rng.randrange(5)
    if roll < 0.7:
        items = [random_value(rng, depth + 1) for _ in range(count)]
        return "[" + space() + ("," + space()).join(items) + space() + "]"
    members = [random_string(rng) + space() + ":" + space() + random_value(rng, depth + 1) for _ in range(count)]
    return "{" + space() + ("," + space()).join(members) + space() + "}"


def deep(rng):
    depth = rng.choice([199, 200, 201, 202, 1000])
    inner = rng.choice(["", "1", "[]", "{}", '"x"'])
    if rng.random() < 0.5:
        return "[" * depth + inner + "]" * depth
    return '{"k":' * depth + (inner or "0") + "}" * depth


def mutate(rng, text):
    for _ in range(rng.randrange(1, 4)):
        at = rng.randrange(len(text) + 1)
        roll = rng.random()
        if roll < 0.25 and text:
            text = text[:at] + text[at + 1:]
        elif roll < 0.5:
            text = text[:at] + rng.choice(TOKENS) + text[at:]
        elif roll < 0.7 and text:
            text = text[:at] + rng.choice(TOKENS) + text[at + 1:]
        elif roll < 0.85:
            text = text[:at]
        else:
            end = min(len(text), at + rng.randrange(1, 10))
            text = text[:at] + text[at:end] * 2 + text[end:]
    return text


def document(rng):
    """One document: a str or bytes, well formed or not."""
    roll = rng.random()
    text = deep(rng) if roll < 0.05 else random_value(rng)
    if roll > 0.4:
        text = mutate(rng, text)
    if rng.random() < 0.1:
        text = rng.choice(["", " ", "\ufeff"]) + text + rng.choice(["", " ", "\n", "x", ",", "]"])
    if rng.random() < 0.3:
        data = text.encode("utf-8", "surrogatepass")
        if rng.random() < 0.3:
            at = rng.randrange(len(data) + 1)
            data = data[:at] + rng.choice(BAD_BYTES) + data[at:]
        return data
    return text


def oracle(data):
    """The standard library's reading, with NaN and the infinities refused: (read, value)."""
    def refuse(constant):
        raise ValueError(constant)

    try:
        # Bytes decoded strictly first: json.loads would take a byte-order mark and other encodings.
        text = data.decode("utf-8") if isinstance(data, bytes) else data
        return True, json.loads(text, parse_constant=refuse)
    except (ValueError, RecursionError, UnicodeDecodeError):
        return False, None


def same(a, b):
    if isinstance(a, float) and isinstance(b, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


def check(data):
    """Every check one document must pass; returns the rejection kind, or None when it parsed."""
    try:
        value = qm.anything.load(data)
    except qm.ValidationError as error:
        assert error.code == "json_invalid", error
        message = error.errors[0]["value"]
        if message == UNDECODABLE:
            assert isinstance(data, str)
            kind = "undecodable"
        elif REJECTION.fullmatch(message):
            kind = next(k for k in KINDS if message.startswith(k))
        else:
            # Only the control character message is long enough to be cut to 80 characters.
            assert CUT.fullmatch(message), message
            kind = KINDS[13]
        assert qm.anything.is_valid_json(data) is False
        with_raises = False
        try:
            qm.anything.validate_json(data)
        except qm.ValidationError as again:
            with_raises = again.errors[0]["value"] == message
        assert with_raises, "validate_json and load disagree"
        read, expected = oracle(data)
        if read and kind not in OWN_LIMITS and kind != "undecodable":
            raise AssertionError(f"refused with {message!r}, but the standard library reads {expected!r}")
        return kind
    assert qm.anything.is_valid_json(data) is True
    qm.anything.validate_json(data)
    read, expected = oracle(data)
    assert read or _beyond_stdlib(data), f"read as {value!r}, but the standard library refuses"
    if read:
        assert same(value, expected), (value, expected)
    for schema in SCHEMAS:
        assert schema.is_valid_json(data) is schema.is_valid(value), (schema, data)
    return None


def _beyond_stdlib(data):
    # Integers past the interpreter's digit limit: the standard library refuses, the reader does not.
    text = data.decode("utf-8", "replace") if isinstance(data, bytes) else data
    return re.search(r"[0-9]{4300}", text) is not None


def run(seed, cases):
    """Check `cases` documents from `seed`; the count of each outcome."""
    rng = random.Random(seed)
    counts = {}
    for i in range(cases):
        data = document(rng)
        try:
            kind = check(data)
        except AssertionError as failure:
            raise AssertionError(f"case {i} of seed {seed}: {data!r}: {failure}") from None
        counts[kind] = counts.get(kind, 0) + 1
    return counts
