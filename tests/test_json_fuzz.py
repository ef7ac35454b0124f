"""The JSON reader against seeded random and mutated documents: never a crash, every refusal one of
the reader's error kinds with its position, agreement with the standard library's reader where both
must agree, and the same answer from the tree walk as from the walk over the loaded value."""

import pytest

import json_fuzz_cases


@pytest.mark.parametrize("seed", range(4))
def test_random_and_mutated_documents(seed):
    counts = json_fuzz_cases.run(seed, 2500)
    # The generator reaches both sides and a spread of refusals; otherwise the run proves little.
    assert counts.get(None, 0) > 250
    assert len([kind for kind in counts if kind is not None]) >= 8


@pytest.mark.parametrize(
    "data",
    ["[" * 201 + "1" + "]" * 201, "[" * 201 + "]" * 201, '"\\ud800"', '"\\udc00"', "1" * 4301, "-0.0e-400",
     b'"\xed\xa0\x80"', "\ud800", '{"a":1,}', "[1,]", "1e99999999999999999999", '"\x1f"' * 30],
)
def test_documents_at_the_edges(data):
    json_fuzz_cases.check(data)
