"""A first look at quillmar: compile a schema once, then test values against it."""

import enum

from quillmar import ValidationError, Validator


class Color(enum.Enum):
    RED = "red"
    GREEN = "green"


# A class is a schema; so is a plain value, which stands for itself.
count = Validator(int)
color = Validator(Color)
answer = Validator(42)
scores = Validator(dict[str, list[int]])

# is_valid and `in` answer membership without building a report.
print("count.is_valid(3):", count.is_valid(3))
print("'3' in count:", "3" in count)
print("True in count (bool is an int):", True in count)
print("42.0 in answer (literals are type-exact):", 42.0 in answer)

# ensure hands back the very object it checked.
shade = color.ensure(Color.RED)
print("color.ensure(Color.RED) is Color.RED:", shade is Color.RED)

# validate returns nothing for a member and raises ValidationError otherwise,
# with a report of what failed and where.
scores.validate({"ada": [1, 2]})
print("scores.validate({'ada': [1, 2]}) passed")
for validator, value in ((count, "three"), (color, "red"), (answer, True)):
    try:
        validator.validate(value)
    except ValidationError as error:
        print(f"\n{value!r} rejected: {error}")
        print("  code:", error.code)
        print("  expected:", error.expected)
        print("  got:", error.value)

# Every independent failure is reported, each with its path into the value;
# fail_fast=True stops each container at its first failure.
bad_scores = {"ada": [1, "two", 3.0], "bob": None}
for fail_fast in (False, True):
    try:
        scores.validate(bad_scores, fail_fast=fail_fast)
    except ValidationError as error:
        print(f"\nfail_fast={fail_fast}: {error}")
        for item in error.errors:
            print("  path", item["path"], "->", item["code"])

# JSON documents are checked the same way, from str or bytes.
print("\nscores.is_valid_json('{\"ada\": [1, 2]}'):", scores.is_valid_json('{"ada": [1, 2]}'))
try:
    scores.validate_json(b'{"ada": [1, "2"]}')
except ValidationError as error:
    print("JSON rejected:", error)
