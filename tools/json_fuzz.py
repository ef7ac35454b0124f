"""A long run of the JSON reader fuzzer: `make fuzz`, or python tools/json_fuzz.py --cases N --seed S."""

import argparse
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

import json_fuzz_cases  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cases", type=int, default=200_000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--chunk", type=int, default=10_000, help="cases per reported step, each its own seed")
    args = parser.parse_args()
    started = time.monotonic()
    totals = {}
    done = 0
    step = 0
    while done < args.cases:
        cases = min(args.chunk, args.cases - done)
        seed = args.seed * 1_000_003 + step
        for kind, count in json_fuzz_cases.run(seed, cases).items():
            totals[kind] = totals.get(kind, 0) + count
        done += cases
        step += 1
        print(f"{done} cases, {time.monotonic() - started:.0f}s", flush=True)
    for kind, count in sorted(totals.items(), key=lambda item: -item[1]):
        print(f"{count:8} {'parsed' if kind is None else kind}")


if __name__ == "__main__":
    main()
