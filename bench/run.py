"""Time quillmar's membership tests against the validators users pick today.

Every workload first asks each library for its verdict on the value; a peer
that disagrees with quillmar is reported and not timed. Times are the median
of several repeats of a timeit loop, after a warm-up.

    python bench/run.py            # the table
    python bench/run.py --json F   # the same figures as JSON, for comparing runs
"""


import argparse
import json
import os
import platform
import random
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
    run: Callable[[], Any] | None
    verdict: Callable[[], bool] | None
    note: str = ""
    ours: bool = False  # a quillmar row: the peers' ratios are taken against it
    missing: str = ""  # why the row cannot run at all


def strict(tp: Any) -> Any:
    """Mark a TypedDict strict for pydantic (a TypeAdapter refuses a config for one)."""
    tp.__pydantic_config__ = pydantic.ConfigDict(strict=True)
    return tp


@dataclass
class Workload:
    name: str
    expected: bool
    entries: list[Entry] = field(default_factory=list)
    size: int = 0  # bytes of a JSON document: the rows then show GB/s


def raises_to_bool(call: Callable[[], Any], rejection: type[BaseException] = Exception) -> Callable[[], bool]:
    """Member when the call returns; not a member when it raises `rejection`.

    Any other exception (a type the library cannot handle) propagates, and the
    row is reported as unable to run instead of as a verdict.
    """

    def verdict() -> bool:
        try:
            call()
        except rejection:
            return False
        return True

    return verdict


def strict_adapter(tp: Any) -> pydantic.TypeAdapter:
    # Every TypedDict here carries its own strict config; containers get it from the adapter.
    if hasattr(tp, "__pydantic_config__"):
        return pydantic.TypeAdapter(tp)
    return pydantic.TypeAdapter(tp, config=pydantic.ConfigDict(strict=True))


def pydantic_entry(tp: Any, value: Any, report: bool = False) -> Entry:
    adapter = strict_adapter(tp)

    def call() -> bool:
        try:
            adapter.validate_python(value)
        except pydantic.ValidationError as error:
            if report:
                error.errors()  # the report is built in full
            return False
        return True

    return Entry("pydantic strict", call, call)


def msgspec_entry(tp: Any, value: Any) -> Entry:
    call = lambda: msgspec.convert(value, type=tp, strict=True)  # noqa: E731
    verdict = raises_to_bool(call, msgspec.ValidationError)
    return Entry("msgspec convert", verdict, verdict)


def typeguard_entry(tp: Any, value: Any) -> Entry:
    def call() -> None:
        typeguard.check_type(value, tp, collection_check_strategy=typeguard.CollectionCheckStrategy.ALL_ITEMS)

    verdict = raises_to_bool(call, typeguard.TypeCheckError)
    return Entry("typeguard", verdict, verdict)


def beartype_entry(tp: Any, value: Any) -> Entry:
    call = lambda: beartype.door.is_bearable(value, tp)  # noqa: E731
    return Entry("beartype", call, call, note="samples one item per container")


def fastjsonschema_entry(schema: dict, value: Any) -> Entry:
    check = fastjsonschema.compile(schema)
    call = lambda: check(value)  # noqa: E731
    verdict = raises_to_bool(call, fastjsonschema.JsonSchemaException)
    return Entry("fastjsonschema", verdict, verdict)


def quillmar_entry(v: qm.Validator, value: Any, label: str = "quillmar is_valid") -> Entry:
    return Entry(label, lambda: v.is_valid(value), lambda: v.is_valid(value), ours=True)


def quillmar_method_entry(v: qm.Validator, method: str, value: Any, raises: bool) -> Entry:
    """A row for a method that may not exist yet: reported as not available instead of failing the run."""
    label = f"quillmar {method}"
    bound = getattr(v, method, None)
    if bound is None:
        return Entry(label, None, None, ours=True, missing="not available (no such method)")
    call = lambda: bound(value)  # noqa: E731
    return Entry(label, call, raises_to_bool(call, qm.ValidationError) if raises else call, ours=True)


def quillmar_report_entry(v: qm.Validator, value: Any) -> Entry:
    def report() -> bool:
        try:
            v.validate(value)
        except qm.ValidationError as error:
            error.errors  # the report is built in full
            return False
        return True

    return Entry("quillmar validate (report)", report, report, ours=True)


# Workload 1: a small record.
@strict
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
        quillmar_entry(v, SMALL_BAD),
        quillmar_report_entry(v, SMALL_BAD),
        pydantic_entry(Small, SMALL_BAD, report=True),
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


@strict
class Point(TypedDict):
    x: float
    y: float


@strict
class Item(TypedDict):
    id: int
    status: Status
    weight: Annotated[int, at.Ge(0)]
    tags: list[str]
    points: list[Point]
    meta: dict[str, int]
    note: NotRequired[str]


def make_document(records: int = 1000) -> list[dict]:
    """Records of about 1 kB each as JSON."""
    doc = []
    for i in range(records):
        item = {
            "id": i,
            "status": STATUSES[i % 8],
            "weight": i % 97,
            "tags": [f"t{i % 13}", f"u{i % 7}", "common", f"tag-{i % 101}", "shared", f"v{i % 5}"],
            "points": [{"x": float(j) + i / 1000, "y": j * 0.5 - i / 7} for j in range(20)],
            "meta": {f"key{k}": i * k for k in range(8)},
        }
        if i % 3 == 0:
            item["note"] = f"note number {i}: some free text that a person wrote"
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
    adapter = strict_adapter(list[Item])
    decoder = msgspec.json.Decoder(list[Item])
    js = Workload(f"4 the document as JSON ({len(data) / 1e6:.2f} MB)", True, size=len(data))
    js.entries = [
        quillmar_method_entry(v, "is_valid_json", data, raises=False),
        quillmar_method_entry(v, "validate_json", data, raises=True),
        quillmar_method_entry(v, "load", data, raises=True),
        Entry("msgspec json decode", lambda: decoder.decode(data), raises_to_bool(lambda: decoder.decode(data))),
        Entry(
            "pydantic validate_json",
            lambda: adapter.validate_json(data),
            raises_to_bool(lambda: adapter.validate_json(data)),
        ),
        Entry("orjson loads (no check)", lambda: orjson.loads(data), lambda: True, note="parse only"),
    ]
    return [objects, js]


# Workloads 7 to 12: the JSON reader on one kind of content at a time.
def json_workload(name: str, tp: Any, value: Any, ensure_ascii: bool = True) -> Workload:
    data = json.dumps(value, ensure_ascii=ensure_ascii).encode()
    v = qm.Validator(tp)
    decoder = msgspec.json.Decoder(tp)
    w = Workload(f"{name} ({len(data) / 1e6:.2f} MB)", True, size=len(data))
    w.entries = [
        quillmar_method_entry(v, "load", data, raises=True),
        quillmar_method_entry(v, "is_valid_json", data, raises=False),
        Entry("msgspec json decode", lambda: decoder.decode(data), raises_to_bool(lambda: decoder.decode(data))),
        Entry("orjson loads (no check)", lambda: orjson.loads(data), lambda: True, note="parse only"),
    ]
    return w


@strict
class Address(TypedDict):
    city: str
    zip: str
    geo: dict[str, int]


@strict
class Person(TypedDict):
    name: str
    age: int
    active: bool
    address: Address


@strict
class Entity(TypedDict):
    id: int
    owner: Person
    labels: dict[str, str]


def json_workloads() -> list[Workload]:
    rng = random.Random(7)
    ints = [rng.randrange(-(10**12), 10**12) >> rng.randrange(40) for _ in range(100_000)]
    short = [f"s{i:05d}-{'abcdefgh'[: i % 8]}" for i in range(10_000)]
    # Quotes, a tab, a line feed and a control character escaped; accents, CJK and an emoji as raw UTF-8.
    escaped = [f'caf\u00e9 "{i}"\t\u65e5\u672c\n\x01 \u2713 {i} \U0001f600 end' for i in range(10_000)]
    nested = [
        {
            "id": i,
            "owner": {
                "name": f"person {i % 50}",
                "age": 20 + i % 60,
                "active": i % 2 == 0,
                "address": {"city": ("Oslo", "Lima", "Kyiv", "Pune")[i % 4], "zip": f"{i % 9973:05d}",
                            "geo": {"lat": i % 90, "lon": i % 180}},
            },
            "labels": {"team": ("core", "web", "ops")[i % 3], "tier": ("a", "b")[i % 2]},
        }
        for i in range(10_000)
    ]
    floats = [rng.random() * 1000 for _ in range(100_000)]  # 16 to 17 significant digits
    return [
        json_workload("7 list[int] of 100,000 as JSON", list[int], ints),
        json_workload("8 list[str] of 10,000 short ASCII strings", list[str], short),
        json_workload("9 list[str] of 10,000 with escapes and non-ASCII", list[str], escaped, ensure_ascii=False),
        json_workload("10 10,000 nested records, repeated keys", list[Entity], nested),
        json_workload("11 list[float] of 100,000 as JSON", list[float], floats),
        json_workload("12 the document as JSON, 10,000 records", list[Item], make_document(10_000)),
    ]


# Workload 5: a union of ten record shapes.
def union_workload() -> Workload:
    shapes = []
    schemas = []
    for k in range(10):
        fields = {f"k{k}_{j}": int for j in range(3)}
        fields["kind"] = str
        shapes.append(strict(TypedDict(f"Shape{k}", fields)))  # type: ignore[operator]
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
        Entry("typeguard", None, None, missing="not applicable: checks no string pattern"),
        Entry("beartype", None, None, missing="not applicable: checks no string pattern"),
    ]
    return w


class _Pattern:
    """Annotated metadata carrying a pattern, read by attribute."""

    def __init__(self, pattern: str) -> None:
        self.pattern = pattern


# Workload 13: a union whose members overlap and recurse, on a failing document: without reuse of the
# recursive steps' outcomes its check doubles with every level.
def overlapping_recursion_workload() -> Workload:
    v = qm.Validator(qm.recursive(lambda t: qm.union({"children": [t], "name": str}, {"children": [t], "id": int})))
    node: dict = {"children": [], "name": 1}
    while len(json.dumps(node)) < 1000:
        node = {"children": [node], "name": "n"}
    doc = json.dumps(node)
    w = Workload(f"13 overlapping recursive union, failing 1 KB document ({len(doc)} bytes)", False)
    w.entries = [
        quillmar_method_entry(v, "is_valid_json", doc, raises=False),
        Entry("quillmar validate_json (report)", *[raises_to_bool(lambda: v.validate_json(doc), qm.ValidationError)] * 2,
              ours=True),
        quillmar_report_entry(v, node),
    ]
    return w


def past_the_limit_workload() -> Workload:
    v = qm.Validator(qm.recursive(lambda j: qm.union(None, bool, int, str, list[j], dict[str, j], list[dict[str, j]])))
    levels = 131  # three past the recursion limit, with a float at the bottom
    opens = ["[" if i % 3 != 1 else '{"k":' for i in range(levels)]
    doc = "".join(opens) + "1.5" + "".join("]" if o == "[" else "}" for o in reversed(opens))
    value = json.loads(doc)
    w = Workload(f"14 recursive JSON-value schema, document {levels} levels deep ({len(doc)} bytes)", False)
    w.entries = [
        quillmar_method_entry(v, "is_valid_json", doc, raises=False),
        Entry("quillmar validate_json (report)", *[raises_to_bool(lambda: v.validate_json(doc), qm.ValidationError)] * 2,
              ours=True),
        Entry("quillmar load (report)", *[raises_to_bool(lambda: v.load(doc), qm.ValidationError)] * 2, ours=True),
        quillmar_entry(v, value),
        quillmar_report_entry(v, value),
    ]
    return w


# Workloads 15 and 16: a 200,000-key object under a length bound, which only the Python objects can
# decide, against the same schema with a predicate in place of the bound: each should be read once.
def length_bound_workloads() -> list[Workload]:
    bound = qm.Validator({"items": Annotated[dict[str, int], at.MinLen(1)], "x": int})
    predicate = qm.Validator({"items": Annotated[dict[str, int], at.Predicate(bool)], "x": int})
    items = {f"k{i}": i for i in range(200_000)}
    member = json.dumps({"items": items, "x": 1})
    failing = json.dumps({"items": items, "x": "1"})
    rows = []
    for number, expected, method, doc in ((15, True, "load", member), (16, False, "validate_json", failing)):
        w = Workload(f"{number} {method}, 200,000-key object under a length bound "
                     f"({'member' if expected else 'failing'}, {len(doc) / 1e6:.1f} MB)", expected, size=len(doc))
        for label, v in (("MinLen(1)", bound), ("Predicate", predicate)):
            call = lambda v=v, method=method, doc=doc: getattr(v, method)(doc)  # noqa: E731
            w.entries.append(Entry(f"quillmar {method}, {label}", call, raises_to_bool(call, qm.ValidationError),
                                   ours=True))
        rows.append(w)
    return rows


def time_entry(entry: Entry) -> float:
    assert entry.run is not None
    timer = timeit.Timer(entry.run)
    entry.run()  # warm-up
    number, elapsed = timer.autorange()
    number = max(1, int(number * TARGET_SECONDS / max(elapsed, 1e-9)))
    return statistics.median(t / number for t in timer.repeat(repeat=REPEATS, number=number))


def versions() -> dict[str, str]:
    names = ["quillmar", "pydantic", "pydantic_core", "msgspec", "beartype", "typeguard", "fastjsonschema", "orjson"]
    names.append("annotated-types")
    return {name: metadata.version(name) for name in names}


def machine() -> dict[str, Any]:
    cpu = platform.processor() or ""
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return {
        "platform": platform.platform(),
        "arch": platform.machine(),
        "cpu": cpu,
        "cpus": os.cpu_count(),
        "python": f"{platform.python_implementation()} {sys.version.split()[0]} ({platform.python_compiler()})",
        "gil": "disabled" if getattr(sys, "_is_gil_enabled", lambda: True)() is False else "enabled",
    }


def verdict_problem(entry: Entry, expected: bool) -> str:
    """Why a row must not be timed, or "" when its verdict is quillmar's."""
    if entry.missing:
        return entry.missing
    assert entry.verdict is not None
    try:
        verdict = entry.verdict()
    except Exception as error:  # a method not wired yet, or a type the peer cannot handle
        text = str(error).splitlines()[0] if str(error) else ""
        return f"{'not available' if entry.ours else 'cannot run'} ({type(error).__name__}: {text[:80]})"
    if verdict == expected:
        return ""
    if entry.ours:
        return f"wrong verdict: {'accepts' if verdict else 'rejects'} a value that is {'in' if expected else 'out'}"
    return "accepts what quillmar rejects" if verdict else "rejects what quillmar accepts"


def run(selected: set[str] | None) -> dict:
    workloads = [*small_workloads(), int_list_workload(), *document_workloads(), union_workload(), pattern_workload(),
                 *json_workloads(), overlapping_recursion_workload(), past_the_limit_workload(),
                 *length_bound_workloads()]
    results = []
    for w in workloads:
        if selected and w.name.split()[0].rstrip("ab") not in selected:
            continue
        rows = []
        # Every verdict is asked for before anything is timed.
        problems = [verdict_problem(entry, w.expected) for entry in w.entries]
        ours: dict[str, float] = {}
        for entry, problem in zip(w.entries, problems):
            row: dict[str, Any] = {"library": entry.library, "quillmar": entry.ours, "note": entry.note}
            if problem:
                row["skipped"] = problem
            else:
                row["seconds"] = time_entry(entry)
                if entry.ours:
                    ours[entry.library] = row["seconds"]
            rows.append(row)
        for row in rows:
            if "seconds" in row:
                row["ratios"] = {name: row["seconds"] / t for name, t in ours.items()}
        for row in rows:
            if "seconds" in row and w.size:
                row["gb_per_s"] = w.size / row["seconds"] / 1e9
        results.append({"workload": w.name, "rows": rows})
    return {"machine": machine(), "versions": versions(), "results": results, "targets": targets(results)}


# (workload prefix, quillmar row, peer row, least ratio peer/quillmar); a peer of None holds the row to a
# least throughput in GB/s instead.
# The membership test carries the targets on every workload. The full report of 1b is held against
# pydantic's, which also collects every failure; msgspec stops at the first one, so it checks less.
MEMBERSHIP = ["1a", "1b", "2", "3", "5", "6"]
JSON_READER = ["4", "7", "8", "9", "10", "11", "12"]
TARGETS = [
    *((n, "quillmar is_valid", "pydantic strict", 3.0) for n in MEMBERSHIP),
    ("1b", "quillmar validate (report)", "pydantic strict", 3.0),
    *((n, "quillmar is_valid", "msgspec convert", 1.5) for n in MEMBERSHIP),
    ("4", "quillmar validate_json", "msgspec json decode", 1.0),
    ("4", "quillmar is_valid_json", "orjson loads (no check)", 2.0),
    ("4", "quillmar is_valid_json", None, 1.0),
    *((n, "quillmar load", "msgspec json decode", 1.2) for n in JSON_READER),
    *((n, "quillmar is_valid_json", "orjson loads (no check)", 4.0) for n in JSON_READER),
]


def targets(results: list[dict]) -> list[dict]:
    out = []
    for prefix, ours, peer, least in TARGETS:
        result = next((r for r in results if r["workload"].split()[0] == prefix), None)
        if result is None:
            continue
        rows = {row["library"]: row for row in result["rows"]}
        seconds = {name: row.get("seconds") for name, row in rows.items()}
        if peer is None:
            ratio = rows[ours].get("gb_per_s")
            out.append({"workload": prefix, "quillmar": ours, "peer": None, "least": least, "ratio": ratio,
                        "met": ratio is not None and ratio >= least, "waived": False})
            continue
        ratio = seconds[peer] / seconds[ours] if seconds.get(peer) and seconds.get(ours) else None
        # A peer that cannot check the value sets no bar; a quillmar row that cannot run misses it.
        waived = peer in rows and "skipped" in rows[peer] and seconds.get(ours) is not None
        out.append({"workload": prefix, "quillmar": ours, "peer": peer, "least": least, "ratio": ratio,
                    "met": ratio is not None and ratio >= least, "waived": waived})
    return out


def print_table(report: dict) -> None:
    m = report["machine"]
    print(f"machine: {m['cpu']} ({m['cpus']} CPUs, {m['arch']}), {m['platform']}")
    print(f"python: {m['python']}, GIL {m['gil']}")
    print("versions: " + ", ".join(f"{k} {v}" for k, v in report["versions"].items()))
    print(f"median of {REPEATS} repeats of about {TARGET_SECONDS} s each, after a warm-up")
    print("xN = peer time / quillmar time (one column per quillmar row of the workload)\n")
    for result in report["results"]:
        ours = [row["library"] for row in result["rows"] if row["quillmar"] and "seconds" in row]
        heads = "".join(f"  {'/ ' + name.removeprefix('quillmar '):>16}" for name in ours)
        throughput = any("gb_per_s" in row for row in result["rows"])
        print(f"{result['workload']:<58}{heads}{'      GB/s' if throughput else ''}")
        for row in result["rows"]:
            if "skipped" in row:
                print(f"  {row['library']:<28} {'not timed: ' + row['skipped']}")
                continue
            ratios = "".join(f"  {'x' + format(row['ratios'][name], '.2f'):>16}" for name in ours)
            note = f"  ({row['note']})" if row.get("note") else ""
            rate = f"  {row['gb_per_s']:8.3f}" if "gb_per_s" in row else ""
            print(f"  {row['library']:<28} {row['seconds'] * 1e6:13.2f} us{ratios}{rate}{note}")
        print()
    if report["targets"]:
        print("targets (peer time / quillmar time)")
        for t in report["targets"]:
            status = "met" if t["met"] else "n/a: peer not timed" if t.get("waived") else "NOT MET"
            if t["peer"] is None:
                got = "n/a" if t["ratio"] is None else f"{t['ratio']:.2f}"
                print(f"  {t['workload']:<3} {t['quillmar']:<27} {'in GB/s':<27} >= {t['least']:<5} {got:>8}  {status}")
                continue
            got = "n/a" if t["ratio"] is None else f"x{t['ratio']:.2f}"
            print(f"  {t['workload']:<3} {t['quillmar']:<27} vs {t['peer']:<24} >= x{t['least']:<4} {got:>8}  {status}")


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
