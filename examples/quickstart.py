"""A first look at quillmar: compile a schema once, then test values against it."""

import enum

from quillmar._quillmar import ValidationError, Validator


class Color(enum.Enum):
    RED = "red"
    GREEN = "green"


# A class is a schema; so is a plain value, which stands for itself.
count = Validator(int)
color = Validator(Color)
answer = Validator(42)

# is_valid and `in` answer membership without building a report.
print("count.is_valid(3):", count.is_valid(3))
print("'3' in count:", "3" in count)
print("True in count (bool is an int):", True in count)
print("42.0 in answer (literals are type-exact):", 42.0 in answer)

# ensure hands back the very object it checked.
shade = color.ensure(Color.RED)
print("color.ensure(Color.RED) is Color.RED:", shade is Color.RED)

# validate raises ValidationError with a report of what failed and where.
for validator, value in ((count, "three"), (color, "red"), (answer, True)):
    try:
        validator.validate(value)
    except ValidationError as error:
        print(f"\n{value!r} rejected: {error}")
        print("  code:", error.code)
        print("  expected:", error.expected)
        print("  got:", error.value)
        print("  errors:", error.errors)
