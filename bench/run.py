"""Time quillmar's membership tests against the validators users pick today.

Every workload first asks each library for its verdict on the value; a peer
that disagrees with quillmar is reported and not timed. Times are the median
of several repeats of a timeit loop, after a warm-up.

    python bench/run.py            # the table
    python bench/run.py --json F   # the same figures as JSON, for comparing runs
"""

from __future__ import annotations

import argparse
import json
import platform
import statistics
import sys
import timeit
from dataclasses import dataclass, field
from importlib import metadata
from typing import Annotated, Any, Callable, Literal, NotRequired, TypedDict

import annotated_types as at
import beartype.door
import fastjsonschema
import msgspec
import orjson
import pydantic
import typeguard

import quillmar._quillmar as qm

REPEATS = 7
TARGET_SECONDS = 0.2


@dataclass
class Entry:
    library: str
    run: Callable[[], Any]
    verdict: Callable[[], bool]
    note: str = ""


@dataclass
class Workload:
    name: str
    expected: bool
    entries: list[Entry] = field(default_factory=list)


def raises_to_bool(call: Callable[[], Any]) -> Callable[[], bool]:
    def verdict() -> bool:
        try:
            call()
        except Exception:
            return False
        return True

    return verdict


def pydantic_entry(tp: Any, value: Any) -> Entry:
    adapter = pydantic.TypeAdapter(tp, config=pydantic.ConfigDict(strict=True))
    call = lambda: adapter.validate_python(value)  # noqa: E731
    return Entry("pydantic strict", raises_to_bool(call), raises_to_bool(call))


def msgspec_entry(tp: Any, value: Any) -> Entry:
    call = lambda: msgspec.convert(value, type=tp, strict=True)  # noqa: E731
    return Entry("msgspec convert", raises_to_bool(call), raises_to_bool(call))


def typeguard_entry(tp: Any, value: Any) -> Entry:
    def call() -> None:
        typeguard.check_type(value, tp, collection_check_strategy=typeguard.CollectionCheckStrategy.ALL_ITEMS)

    return Entry("typeguard", raises_to_bool(call), raises_to_bool(call))


def beartype_entry(tp: Any, value: Any) -> Entry:
    call = lambda: beartype.door.is_bearable(value, tp)  # noqa: E731
    return Entry("beartype", call, call, note="samples one item per container")


def fastjsonschema_entry(schema: dict, value: Any) -> Entry:
    check = fastjsonschema.compile(schema)
    call = lambda: check(value)  # noqa: E731
    return Entry("fastjsonschema", raises_to_bool(call), raises_to_bool(call))


def quillmar_entry(v: qm.Validator, value: Any, label: str = "quillmar is_valid") -> Entry:
    return Entry(label, lambda: v.is_valid(value), lambda: v.is_valid(value))


def quillmar_report_entry(v: qm.Validator, value: Any) -> Entry:
    def report() -> bool:
        try:
            v.validate(value)
        except qm.ValidationError as error:
            error.errors  # the report is built in full
            return False
        return True

    return Entry("quillmar validate (report)", report, report)


# Workload 1: a small record.
class Small(TypedDict):
    id: int
    name: str
    tags: list[str]
    score: NotRequired[float]


SMALL = {"id": 1, "name": "ada", "tags": ["x", "y"], "score": 2.5}
SMALL_BAD = {"id": "1", "name": 2, "tags": ["x", 3]}
SMALL_JSON_SCHEMA = {
    "type": "object",
    "properties": {
        "id": {"type": "integer"},
        "name": {"type": "string"},
        "tags": {"type": "array", "items": {"type": "string"}},
        "score": {"type": "number"},
    },
    "required": ["id", "name", "tags"],
}


def small_workloads() -> list[Workload]:
    v = qm.Validator({"id": int, "name": str, "tags": [str], "score?": float})
    good = Workload("1a small record, valid", True)
    good.entries = [
        quillmar_entry(v, SMALL),
        pydantic_entry(Small, SMALL),
        msgspec_entry(Small, SMALL),
        typeguard_entry(Small, SMALL),
        beartype_entry(Small, SMALL),
        fastjsonschema_entry(SMALL_JSON_SCHEMA, SMALL),
    ]
    bad = Workload("1b small record, invalid with report", False)
    bad.entries = [
        quillmar_report_entry(v, SMALL_BAD),
        pydantic_entry(Small, SMALL_BAD),
        msgspec_entry(Small, SMALL_BAD),
        typeguard_entry(Small, SMALL_BAD),
        fastjsonschema_entry(SMALL_JSON_SCHEMA, SMALL_BAD),
    ]
    return [good, bad]


# Workload 2: a long list of ints.
def int_list_workload() -> Workload:
    value = list(range(100_000))
    w = Workload("2 list[int] of 100,000", True)
    w.entries = [
        quillmar_entry(qm.Validator(list[int]), value),
        pydantic_entry(list[int], value),
        msgspec_entry(list[int], value),
        typeguard_entry(list[int], value),
        beartype_entry(list[int], value),
        fastjsonschema_entry({"type": "array", "items": {"type": "integer"}}, value),
    ]
    return w


# Workloads 3 and 4: a nested document.
STATUSES = ("new", "open", "held", "review", "merged", "closed", "stale", "gone")
Status = Literal["new", "open", "held", "review", "merged", "closed", "stale", "gone"]


class Point(TypedDict):
    x: float
    y: float


class Item(TypedDict):
    id: int
    status: Status
    weight: Annotated[int, at.Ge(0)]
    tags: list[str]
    points: list[Point]
    meta: dict[str, int]
    note: NotRequired[str]


def make_document() -> list[dict]:
    doc = []
    for i in range(1000):
        item = {
            "id": i,
            "status": STATUSES[i % 8],
            "weight": i % 97,
            "tags": [f"t{i % 13}", f"u{i % 7}", "common"],
            "points": [{"x": float(j), "y": j * 0.5} for j in range(4)],
            "meta": {"a": i, "b": i * 2, "c": 3},
        }
        if i % 3 == 0:
            item["note"] = f"note number {i}"
        doc.append(item)
    return doc


DOC_JSON_SCHEMA = {
    "type": "array",
    "items": {
        "type": "object",
        "properties": {
            "id": {"type": "integer"},
            "status": {"enum": list(STATUSES)},
            "weight": {"type": "integer", "minimum": 0},
            "tags": {"type": "array", "items": {"type": "string"}},
            "points": {
                "type": "array",
                "items": {
                    "type": "object",
                    "properties": {"x": {"type": "number"}, "y": {"type": "number"}},
                    "required": ["x", "y"],
                },
            },
            "meta": {"type": "object", "additionalProperties": {"type": "integer"}},
            "note": {"type": "string"},
        },
        "required": ["id", "status", "weight", "tags", "points", "meta"],
    },
}


def document_validator() -> qm.Validator:
    return qm.Validator(list[Item])


def document_workloads() -> list[Workload]:
    doc = make_document()
    v = document_validator()
    objects = Workload("3 nested document (1,000 records)", True)
    objects.entries = [
        quillmar_entry(v, doc),
        pydantic_entry(list[Item], doc),
        msgspec_entry(list[Item], doc),
        typeguard_entry(list[Item], doc),
        beartype_entry(list[Item], doc),
        fastjsonschema_entry(DOC_JSON_SCHEMA, doc),
    ]
    data = json.dumps(doc).encode()
    adapter = pydantic.TypeAdapter(list[Item], config=pydantic.ConfigDict(strict=True))
    decoder = msgspec.json.Decoder(list[Item])
    js = Workload(f"4 the document as JSON ({len(data) / 1e6:.2f} MB)", True)
    js.entries = [
        Entry("quillmar is_valid_json", lambda: v.is_valid_json(data), lambda: v.is_valid_json(data)),
        Entry("quillmar validate_json", lambda: v.validate_json(data), raises_to_bool(lambda: v.validate_json(data))),
        Entry("quillmar load", lambda: v.load(data), raises_to_bool(lambda: v.load(data))),
        Entry("msgspec json decode", lambda: decoder.decode(data), raises_to_bool(lambda: decoder.decode(data))),
        Entry(
            "pydantic validate_json",
            lambda: adapter.validate_json(data),
            raises_to_bool(lambda: adapter.validate_json(data)),
        ),
        Entry("orjson loads (no check)", lambda: orjson.loads(data), lambda: True),
    ]
    return [objects, js]


# Workload 5: a union of ten record shapes.
def union_workload() -> Workload:
    shapes = []
    schemas = []
    for k in range(10):
        fields = {f"k{k}_{j}": int for j in range(3)}
        fields["kind"] = str
        shapes.append(TypedDict(f"Shape{k}", fields))  # type: ignore[operator]
        schemas.append(fields)
    value = [{f"k9_{j}": j for j in range(3)} | {"kind": "last"} for _ in range(100)]
    union_annotation = shapes[0]
    for shape in shapes[1:]:
        union_annotation = union_annotation | shape
    v = qm.Validator(list[qm.union(*schemas)])
    json_schema = {
        "type": "array",
        "items": {
            "anyOf": [
                {
                    "type": "object",
                    "properties": {name: {"type": "integer" if tp is int else "string"} for name, tp in s.items()},
                    "required": list(s),
                    "additionalProperties": False,
                }
                for s in schemas
            ]
        },
    }
    w = Workload("5 union of 10 records, 100 values matching the last", True)
    w.entries = [
        quillmar_entry(v, value),
        pydantic_entry(list[union_annotation], value),
        msgspec_entry(list[union_annotation], value),
        typeguard_entry(list[union_annotation], value),
        beartype_entry(list[union_annotation], value),
        fastjsonschema_entry(json_schema, value),
    ]
    return w


# Workload 6: a pattern-constrained string field.
PATTERN = r"[a-z]{2,8}-[0-9]{1,6}"


def pattern_workload() -> Workload:
    value = [f"{'abcdefgh'[: 2 + i % 7]}-{i}" for i in range(10_000)]
    tp = list[Annotated[str, pydantic.StringConstraints(pattern=f"^{PATTERN}$")]]
    msgspec_tp = list[Annotated[str, msgspec.Meta(pattern=f"^{PATTERN}$")]]
    w = Workload("6 pattern on 10,000 strings", True)
    w.entries = [
        quillmar_entry(qm.Validator(list[Annotated[str, _Pattern(PATTERN)]]), value),
        pydantic_entry(tp, value),
        msgspec_entry(msgspec_tp, value),
        fastjsonschema_entry({"type": "array", "items": {"type": "string", "pattern": f"^{PATTERN}$"}}, value),
    ]
    return w


class _Pattern:
    """Annotated metadata carrying a pattern, read by attribute."""

    def __init__(self, pattern: str) -> None:
        self.pattern = pattern


def time_entry(entry: Entry) -> float:
    timer = timeit.Timer(entry.run)
    entry.run()  # warm-up
    number, elapsed = timer.autorange()
    number = max(1, int(number * TARGET_SECONDS / max(elapsed, 1e-9)))
    return statistics.median(t / number for t in timer.repeat(repeat=REPEATS, number=number))


def versions() -> dict[str, str]:
    names = ["quillmar", "pydantic", "msgspec", "beartype", "typeguard", "fastjsonschema", "orjson"]
    return {name: metadata.version(name) for name in names}


def run(selected: set[str] | None) -> dict:
    workloads = [*small_workloads(), int_list_workload(), *document_workloads(), union_workload(), pattern_workload()]
    results = []
    for w in workloads:
        if selected and w.name.split()[0].rstrip("ab") not in selected:
            continue
        rows = []
        base = None
        for entry in w.entries:
            verdict = entry.verdict()
            if verdict != w.expected:
                rows.append({"library": entry.library, "skipped": f"verdict {verdict}, expected {w.expected}"})
                continue
            seconds = time_entry(entry)
            if base is None:
                base = seconds
            rows.append({"library": entry.library, "seconds": seconds, "note": entry.note})
        for row in rows:
            if "seconds" in row and base:
                row["ratio"] = row["seconds"] / base
        results.append({"workload": w.name, "rows": rows})
    return {
        "machine": f"{platform.machine()} {platform.processor() or ''}".strip(),
        "python": sys.version.split()[0],
        "versions": versions(),
        "results": results,
    }


def print_table(report: dict) -> None:
    print(f"machine: {report['machine']}, Python {report['python']}")
    print("versions: " + ", ".join(f"{k} {v}" for k, v in report["versions"].items()))
    print("ratio = peer time / time of the workload's first quillmar row\n")
    for result in report["results"]:
        print(result["workload"])
        for row in result["rows"]:
            if "skipped" in row:
                print(f"  {row['library']:<28} not timed: {row['skipped']}")
                continue
            note = f"  ({row['note']})" if row.get("note") else ""
            print(f"  {row['library']:<28} {row['seconds'] * 1e6:12.2f} us  x{row['ratio']:7.2f}{note}")
        print()


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--json", metavar="FILE", help="also write the figures as JSON")
    parser.add_argument("--only", nargs="*", help="workload numbers to run, e.g. 1 4")
    args = parser.parse_args()
    report = run(set(args.only) if args.only else None)
    print_table(report)
    if args.json:
        with open(args.json, "w") as out:
            json.dump(report, out, indent=2)


if __name__ == "__main__":
    main()
