#!/usr/bin/env python3
"""Reading speed of a round-trip document (KestrineDocument) on the generated
configuration file.

usage: bench_document.py [--mb MB] [--repeat N] [--lookups N] [--out DIR]

Input: the generated configuration file of bench_load.py (bench/gen_config.py,
MB megabytes, default 20), loaded once with OPT_ROUND_TRIP.

Rows (best of --repeat runs after a warm-up run, the rows taking turns):
  loads                 kestrine.loads(text), the plain road
  round-trip load       kestrine.loads(text, option=OPT_ROUND_TRIP)
  to_dict               doc.to_dict() of the unedited document
  walk                  doc.walk()
  to_tree               doc.to_tree()
  lookups               doc[k1][k2][k3] for --lookups (default 100000) random
                        existing depth-3 paths ending at scalars
                        ("services", service name, field)

Targets: at least 500k depth-3 lookups per second; to_dict within 1.5x the
plain loads; walk within 2x to_dict.  The table is printed and written to
DIR/bench_document.txt (default bench/results).
"""

import argparse
import gc
import pathlib
import random
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
sys.path.insert(0, str(HERE))
sys.path.append(str(REPO / "python"))  # PYTHONPATH, when set, comes first

import kestrine  # noqa: E402
from bench_load import generated  # noqa: E402
from bench_schema import best_times, write_report  # noqa: E402

SCALAR_FIELDS = ("enabled", "replicas", "weight", "region", "description", "owner", "image", "timeout",
                 "fallback")


def lookup_paths(data, count):
    """`count` random (service, field) pairs that exist and end at scalars."""
    rng = random.Random(20240607)
    services = list(data["services"])
    return [(rng.choice(services), rng.choice(SCALAR_FIELDS)) for _ in range(count)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mb", type=float, default=20)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--lookups", type=int, default=100_000)
    parser.add_argument("--out", default=str(HERE / "results"))
    args = parser.parse_args()

    text = generated(args.mb).read_bytes()
    doc = kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP)
    data = kestrine.loads(text)
    if doc.to_dict() != data:
        sys.exit("to_dict() differs from loads()")
    paths = lookup_paths(data, args.lookups)

    def lookups():
        for service, name in paths:
            doc["services"][service][name]

    lookup_row = f"{len(paths)} lookups"
    times = best_times({
        "loads": lambda: kestrine.loads(text),
        "round-trip load": lambda: kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP),
        "to_dict": doc.to_dict,
        "walk": doc.walk,
        "to_tree": doc.to_tree,
        lookup_row: lookups,
    }, args.repeat)
    rows = list(times.items())
    plain, to_dict, walk, lookup = times["loads"], times["to_dict"], times["walk"], times[lookup_row]

    lines = [f"round-trip document reads, generated config ({len(text) / 1e6:.2f} MB)",
             f"  {'operation':28} {'time ms':>9}   vs loads"]
    for name, seconds in rows:
        lines.append(f"  {name:28} {seconds * 1e3:9.1f}   {seconds / plain:6.2f}x")
    rate = len(paths) / lookup
    checks = [
        ("depth-3 lookups per second", rate, f"{rate / 1e3:.0f}k", rate >= 500_000, ">= 500k"),
        ("to_dict vs loads", to_dict / plain, f"{to_dict / plain:.2f}x", to_dict / plain <= 1.5, "<= 1.5x"),
        ("walk vs to_dict", walk / to_dict, f"{walk / to_dict:.2f}x", walk / to_dict <= 2.0, "<= 2x"),
    ]
    for label, _, shown, met, bound in checks:
        lines.append(f"  target: {label:30} {shown:>8}   (target {bound}: {'met' if met else 'NOT met'})")
    write_report(lines, args.out, "bench_document.txt")


if __name__ == "__main__":
    gc.collect()
    main()
