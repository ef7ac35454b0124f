"""quillmar in type-checked code: the package ships its stubs, so mypy --strict
accepts this file and checks each assert_type against them."""

import copy
from typing import assert_type

from quillmar import ValidationError, Validator, anything, complement, recursive, union


def port_of(config: dict[str, int]) -> int:
    # ensure hands back its argument, typed as it came in.
    checked = Validator({"port": int}).ensure(config)
    assert_type(checked, dict[str, int])
    return checked["port"]


def first_failure(validator: Validator, value: object) -> str:
    try:
        validator.validate(value, fail_fast=True)
    except ValidationError as error:
        assert_type(error.path, tuple[int | str, ...])
        where = ".".join(str(step) for step in error.path)
        return f"{error.code} at {where or 'the root'}"
    return "valid"


def failure_codes(validator: Validator, document: bytes) -> list[str]:
    try:
        validator.validate_json(document)
    except ValidationError as error:
        return [item["code"] for item in error.errors]
    return []


tree = recursive(lambda node: {"name": str, "children": [node]})
names = union(str, bytes) | None
assert_type(names, Validator)
not_a_name = complement(names)
loaded = Validator({"id": int}).load(b'{"id": 7}')
same: bool = copy.deepcopy(tree) == tree and anything.is_subtype_of(anything)

print("port_of:", port_of({"port": 443}))
print("first_failure:", first_failure(Validator({"id": int}), {"id": "7"}))
print("failure_codes:", failure_codes(Validator([int]), b'[1, "2", 3.5]'))
print("tree accepts a leaf:", tree.is_valid({"name": "leaf", "children": []}))
print("None is a name:", names.is_valid(None), "| 3 is not:", 3 in not_a_name)
print("loaded:", loaded, "| a deep copy is equal:", same)
