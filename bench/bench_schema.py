#!/usr/bin/env python3
"""Schema validation speed: kestrine.loads(schema=...) against plain loads and
against the jsonschema package, on the same data in one run.

usage: bench_schema.py [--mb MB] [--repeat N] [--out DIR]

Input: the generated configuration file of bench_load.py (bench/gen_config.py,
MB megabytes, default 20) and SCHEMA below, a schema of about 40 keywords in
the shape real configuration schemas take: nested objects, `$ref`
definitions, enums, patterns, numeric bounds, `patternProperties`,
`propertyNames`, `additionalProperties: false`.

Rows (best of --repeat runs after a warm-up run):
  loads                      kestrine.loads(text)
  loads + schema             kestrine.loads(text, schema=SCHEMA), a valid document
  validation alone           the difference of the two rows above
  loads + schema, invalid    the same text with one wrong value near its end:
                             the failure is located by composing the text
  annotated + schema         loads(text, option=OPT_ANNOTATED, schema=SCHEMA)
  round-trip + schema        loads(text, option=OPT_ROUND_TRIP, schema=SCHEMA)
  jsonschema                 Draft6Validator(SCHEMA).validate(data), data
                             already loaded (one run: it is slow)

Targets: loads + schema at most 1.5x loads; jsonschema at least 20x the
validation alone.  The table is printed and written to DIR/bench_schema.txt
(default bench/results).
"""

import argparse
import gc
import pathlib
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
sys.path.insert(0, str(HERE))
sys.path.append(str(REPO / "python"))  # PYTHONPATH, when set, comes first

import kestrine  # noqa: E402
from bench_load import generated  # noqa: E402

REGIONS = ["eu-west-1", "us-east-1", "ap-south-1", "eu-central-1", "us-west-2"]

SCHEMA = {
    "$schema": "http://json-schema.org/draft-06/schema#",
    "type": "object",
    "required": ["services"],
    "properties": {
        "services": {
            "type": "object",
            "propertyNames": {"pattern": r"^[a-z]+-[a-z]+-\d+$"},
            "additionalProperties": {"$ref": "#/definitions/service"},
        },
    },
    "definitions": {
        "word": {"pattern": "^[a-z]+$"},
        "service": {
            "type": "object",
            "required": ["enabled", "replicas", "region", "image", "ports", "health"],
            "additionalProperties": False,
            "properties": {
                "enabled": {"type": "boolean"},
                "replicas": {"type": "integer", "minimum": 1, "maximum": 64},
                "weight": {},
                "region": {"enum": REGIONS},
                "description": {},
                "owner": {"pattern": r"^[a-z]+@example\.com$"},
                "image": {"pattern": r"^registry\.example\.com/[a-z]+/[a-z]+:\d+\.\d+\.\d+$"},
                "timeout": {"type": "integer"},
                "fallback": {},
                "tags": {"items": {"$ref": "#/definitions/word"}},
                "limits": {"type": "object", "required": ["cpu", "memory"]},
                "env": {
                    "patternProperties": {"^[A-Z]+_[A-Z]+$": {"type": ["string", "integer"]}},
                    "additionalProperties": False,
                },
                "ports": {
                    "minItems": 1,
                    "items": {
                        "type": "object",
                        "required": ["name", "port", "protocol"],
                        "properties": {
                            "name": {"$ref": "#/definitions/word"},
                            "port": {"type": "integer", "minimum": 1024, "maximum": 65535},
                            "protocol": {"enum": ["TCP", "UDP"]},
                        },
                    },
                },
                "dependencies": {"items": {"pattern": "^[a-z]+-[a-z]+$"}},
                "script": {},
                "notes": {},
                "health": {"properties": {"interval": {"pattern": "^[0-9]+s$"}}},
            },
        },
    },
}

# Keywords this validator evaluates ("definitions" and "$schema" are not).
KEYWORDS = {"type", "required", "additionalProperties", "properties", "propertyNames", "$ref", "pattern",
            "minimum", "maximum", "enum", "minItems", "items", "patternProperties"}


def count_keywords(schema):
    """Keyword entries of every schema object (the names under `properties`
    and `patternProperties` are member names, not keywords)."""
    if not isinstance(schema, dict):
        return 0
    n = 0
    for key, value in schema.items():
        if key in ("properties", "patternProperties", "definitions"):
            n += (key != "definitions") + sum(count_keywords(v) for v in value.values())
        elif key in KEYWORDS:
            n += 1 + count_keywords(value)
    return n


def best_time(fn, repeat):
    fn()  # warm-up: first-use imports, caches
    best = None
    for _ in range(repeat):
        gc.collect()
        gc.disable()
        try:
            start = time.perf_counter()
            fn()
            elapsed = time.perf_counter() - start
        finally:
            gc.enable()
        best = elapsed if best is None else min(best, elapsed)
    return best


def write_report(lines, out_dir, name):
    """Prints the table and writes it to out_dir/name."""
    report = "\n".join(lines)
    print(report)
    out = pathlib.Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    (out / name).write_text(report + "\n")


def invalid_text(text):
    """The text with the last `replicas` value out of range."""
    at = text.rindex("  replicas: ")
    end = text.index("\n", at)
    return text[:at] + "  replicas: 65" + text[end:]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mb", type=float, default=20)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--out", default=str(HERE / "results"))
    args = parser.parse_args()

    text = generated(args.mb).read_bytes()
    bad = invalid_text(text.decode()).encode()
    data = kestrine.loads(text)
    kestrine.loads(text, schema=SCHEMA)  # the generated file must be valid
    try:
        kestrine.loads(bad, schema=SCHEMA)
        sys.exit("the invalid input was accepted")
    except kestrine.KestrineSchemaError as exc:
        failure = str(exc)

    rows = []
    plain = best_time(lambda: kestrine.loads(text), args.repeat)
    rows.append(("loads", plain))
    with_schema = best_time(lambda: kestrine.loads(text, schema=SCHEMA), args.repeat)
    rows.append(("loads + schema", with_schema))
    validation = max(with_schema - plain, 1e-9)
    rows.append(("validation alone", validation))

    def invalid():
        try:
            kestrine.loads(bad, schema=SCHEMA)
        except kestrine.KestrineSchemaError:
            pass

    rows.append(("loads + schema, invalid", best_time(invalid, args.repeat)))
    annotated = best_time(lambda: kestrine.loads(text, option=kestrine.OPT_ANNOTATED), args.repeat)
    rows.append(("annotated", annotated))
    rows.append(("annotated + schema", best_time(
        lambda: kestrine.loads(text, option=kestrine.OPT_ANNOTATED, schema=SCHEMA), args.repeat)))
    round_trip = best_time(lambda: kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP), args.repeat)
    rows.append(("round-trip", round_trip))
    rows.append(("round-trip + schema", best_time(
        lambda: kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP, schema=SCHEMA), args.repeat)))

    peer = None
    try:
        import jsonschema
        validator = jsonschema.Draft6Validator(SCHEMA)
        start = time.perf_counter()
        validator.validate(data)
        peer = time.perf_counter() - start
        rows.append(("jsonschema (1 run)", peer))
    except ImportError:
        rows.append(("jsonschema (not installed)", None))

    lines = [f"schema validation, generated config ({len(text) / 1e6:.2f} MB), "
             f"schema of {count_keywords(SCHEMA)} keywords",
             f"  {'road':32} {'time ms':>9}   vs loads"]
    for name, seconds in rows:
        if seconds is None:
            lines.append(f"  {name:32} {'-':>9}")
        else:
            lines.append(f"  {name:32} {seconds * 1e3:9.1f}   {seconds / plain:6.2f}x")
    ratio = with_schema / plain
    lines.append(f"  target: loads + schema vs loads            {ratio:6.2f}x   "
                 f"(target <= 1.5x: {'met' if ratio <= 1.5 else 'NOT met'})")
    if peer is not None:
        speedup = peer / validation
        lines.append(f"  target: jsonschema vs validation alone     {speedup:6.0f}x   "
                     f"(target >= 20x: {'met' if speedup >= 20 else 'NOT met'})")
        lines.append(f"          jsonschema vs loads + schema       {peer / with_schema:6.0f}x")
    lines.append(f"  the invalid input raises: {failure}")
    write_report(lines, args.out, "bench_schema.txt")


if __name__ == "__main__":
    main()
