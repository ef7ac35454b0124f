"""Record membership read by entry type and declared key order agrees with the reported walk."""

import pytest

import quillmar as qm


class Key(str):
    pass


POINT = qm.Validator({"x": float, "y": float})
META = qm.Validator(dict[str, int])

CASES = [
    (POINT, {"x": 1.0, "y": 2.0}, True),
    (POINT, {"y": 2.0, "x": 1.0}, True),
    (POINT, {Key("x"): 1.0, "y": 2.0}, True),
    (POINT, {"x": 1.0, "y": 2}, False),
    (POINT, {"x": 1.0}, False),
    (POINT, {"x": 1.0, "y": 2.0, "z": 3.0}, False),
    (POINT, {"x": 1.0, 1: 2.0, "y": 2.0}, False),
    (META, {}, True),
    (META, {"a": 1, "b": True}, True),
    (META, {Key("a"): 1}, True),
    (META, {"a": 1, "b": 1.5}, False),
    (META, {"a": 1, 2: 2}, False),
]


@pytest.mark.parametrize(("validator", "value", "member"), CASES)
def test_membership_matches_report(validator, value, member):
    assert validator.is_valid(value) is member
    if member:
        validator.validate(value)
    else:
        with pytest.raises(qm.ValidationError):
            validator.validate(value)
