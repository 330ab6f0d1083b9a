#!/usr/bin/env python3
"""Schema validation speed: kestrine.loads(schema=...) against plain loads and
against peer validators, on the same data in one run.

usage: bench_schema.py [--files N] [--rotation N] [--mb MB] [--repeat N] [--out DIR]

Configuration files: the cases of schema_cases/, each a schema in
the style of the published schemas for configuration files (`$ref`
definitions, `oneOf`, `patternProperties`, `enum`, `pattern`,
`additionalProperties: false`) with N small files that follow it (default
200, 0.8 to 5 KB each).  Per case, the time of one pass over its files:
  loads                 kestrine.loads(text)
  loads + schema        kestrine.loads(text, schema=SCHEMA), one schema object
                        for every file, as an application keeps it
  ... new schema object the same with a fresh copy of the schema for every
                        file and run (made before timing): nothing carries over
  jsonschema_rs         kestrine.loads(text), then a validator built once
                        (jsonschema_rs.validator_for) checks the data
  jsonschema            the same with jsonschema.Draft6Validator (one pass)
and the ratio of each to the loads row.

Schemas in rotation: a tool that checks a repository hands over a different
schema object from file to file.  N schema objects (copies of the cases'
schemas, each kept by the caller) and ROTATION files, file i checked against
schema i mod N, for N = 8, 9 and 50:
  loads                 kestrine.loads(text)
  loads + schema        kestrine.loads(text, schema=SCHEMAS[i % N])
  jsonschema_rs         kestrine.loads(text), then the validator built once
                        for that schema object checks the data

A large document: the generated configuration file of bench_load.py
(bench/gen_config.py, MB megabytes, default 4) and SCHEMA below, a schema of
about 40 keywords in the shape real configuration schemas take:
  loads                      kestrine.loads(text)
  loads + schema             kestrine.loads(text, schema=SCHEMA), a valid document
  validation alone           the difference of the two rows above
  loads + schema, invalid    the same text with one wrong value near its end:
                             the failure is located by composing the text
  annotated + schema         loads(text, option=OPT_ANNOTATED, schema=SCHEMA)
  round-trip + schema        loads(text, option=OPT_ROUND_TRIP, schema=SCHEMA)
  jsonschema                 Draft6Validator(SCHEMA).validate(data), data
                             already loaded (one run: it is slow)

Targets: loads + schema at most 2x loads on every configuration-file case, at most
1.5x on the large document.  Every figure is the best of --repeat runs after
a warm-up run, the approaches taking turns within each run.  The tables are
printed and written to DIR/bench_schema.txt (default bench/results).
"""

import argparse
import copy
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
from schema_cases import CASES  # noqa: E402

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


def timed(fn):
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter()
        fn()
        return time.perf_counter() - start
    finally:
        gc.enable()


def best_times(fns, repeat):
    """The best time of each function over `repeat` runs after a warm-up
    run; the functions take turns within each run."""
    for fn in fns.values():
        fn()  # warm-up: first-use imports, caches
    best = {name: None for name in fns}
    for _ in range(repeat):
        for name, fn in fns.items():
            t = timed(fn)
            best[name] = t if best[name] is None else min(best[name], t)
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


def peer_validators(schema):
    """(name, check) of each peer that is installed; check(data) raises on
    an invalid instance."""
    peers = []
    try:
        import jsonschema_rs
        peers.append(("jsonschema_rs", jsonschema_rs.validator_for(schema).validate))
    except ImportError:
        pass
    try:
        import jsonschema
        peers.append(("jsonschema", jsonschema.Draft6Validator(schema).validate))
    except ImportError:
        pass
    return peers


def case_rows(case, files, repeat):
    """Configuration-file rows of one case: (name, seconds, repeat used)."""
    texts = case.documents(files)
    schema = case.schema
    for text in texts:  # every file must be valid
        kestrine.loads(text, schema=schema)
    # One set of copies per run (the warm-up and each repeat): an object
    # handed over again would be one the caller keeps.
    fresh = iter([[copy.deepcopy(schema) for _ in texts] for _ in range(repeat + 1)])

    def loads():
        for text in texts:
            kestrine.loads(text)

    def with_schema():
        for text in texts:
            kestrine.loads(text, schema=schema)

    def new_schema_each():
        for text, s in zip(texts, next(fresh)):
            kestrine.loads(text, schema=s)

    fns = {"loads": loads, "loads + schema": with_schema, "... new schema object": new_schema_each}
    peers = peer_validators(schema)
    for name, check in peers:
        def peer(check=check):
            for text in texts:
                check(kestrine.loads(text))
        fns[name] = peer
    slow = {name for name, _ in peers if name == "jsonschema"}
    times = best_times({k: v for k, v in fns.items() if k not in slow}, repeat)
    times.update(best_times({k: v for k, v in fns.items() if k in slow}, 1))
    size = sum(len(t) for t in texts)
    return [(name, times[name]) for name in fns], size, len(json_text(schema))


def json_text(value):
    import json
    return json.dumps(value)


def configuration_files(args, lines):
    lines.append(f"configuration files, {args.files} per case, time of one pass")
    lines.append(f"  {'case / road':40} {'time ms':>9}   vs loads")
    worst = 0.0
    for case in CASES:
        rows, size, schema_size = case_rows(case, args.files, args.repeat)
        lines.append(f"  {case.name} ({size / args.files / 1e3:.1f} KB a file, schema {schema_size / 1e3:.1f} KB)")
        plain = rows[0][1]
        for name, seconds in rows:
            lines.append(f"    {name:38} {seconds * 1e3:9.2f}   {seconds / plain:6.2f}x")
        worst = max(worst, rows[1][1] / plain)
    lines.append(f"  target: loads + schema vs loads, worst case   {worst:6.2f}x   "
                 f"(target <= 2x: {'met' if worst <= 2 else 'NOT met'})")


def rotation_rows(count, files, repeat):
    """(name, seconds) of the rotation rows for `count` schema objects."""
    schemas = [copy.deepcopy(CASES[k % len(CASES)].schema) for k in range(count)]
    documents = {case.name: case.documents(max(files // len(CASES), 1)) for case in CASES}
    pairs = []
    for i in range(files):
        k = i % count
        texts = documents[CASES[k % len(CASES)].name]
        pairs.append((texts[i // count % len(texts)], schemas[k]))
    for text, schema in pairs:  # every file must be valid
        kestrine.loads(text, schema=schema)

    def loads():
        for text, _ in pairs:
            kestrine.loads(text)

    def with_schema():
        for text, schema in pairs:
            kestrine.loads(text, schema=schema)

    fns = {"loads": loads, "loads + schema": with_schema}
    validators = {}
    for name, _ in peer_validators(schemas[0]):
        if name != "jsonschema_rs":
            continue  # jsonschema takes minutes here
        import jsonschema_rs
        validators = {id(s): jsonschema_rs.validator_for(s).validate for s in schemas}

        def peer():
            for text, schema in pairs:
                validators[id(schema)](kestrine.loads(text))
        fns[name] = peer
    times = best_times(fns, repeat)
    return [(name, times[name]) for name in fns]


def schemas_in_rotation(args, lines):
    lines.append(f"schemas in rotation: {args.rotation} files, file i checked against schema i mod N")
    lines.append(f"  {'schemas / road':40} {'time ms':>9}   vs loads")
    for count in (8, 9, 50):
        rows = rotation_rows(count, args.rotation, args.repeat)
        lines.append(f"  {count} schemas")
        plain = rows[0][1]
        for name, seconds in rows:
            lines.append(f"    {name:38} {seconds * 1e3:9.2f}   {seconds / plain:6.2f}x")


def large_document(args, lines):
    text = generated(args.mb).read_bytes()
    bad = invalid_text(text.decode()).encode()
    data = kestrine.loads(text)
    kestrine.loads(text, schema=SCHEMA)  # the generated file must be valid
    try:
        kestrine.loads(bad, schema=SCHEMA)
        sys.exit("the invalid input was accepted")
    except kestrine.KestrineSchemaError as exc:
        failure = str(exc)

    def invalid():
        try:
            kestrine.loads(bad, schema=SCHEMA)
        except kestrine.KestrineSchemaError:
            pass

    fns = {
        "loads": lambda: kestrine.loads(text),
        "loads + schema": lambda: kestrine.loads(text, schema=SCHEMA),
        "loads + schema, invalid": invalid,
        "annotated": lambda: kestrine.loads(text, option=kestrine.OPT_ANNOTATED),
        "annotated + schema": lambda: kestrine.loads(text, option=kestrine.OPT_ANNOTATED, schema=SCHEMA),
        "round-trip": lambda: kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP),
        "round-trip + schema": lambda: kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP, schema=SCHEMA),
    }
    times = best_times(fns, args.repeat)
    plain, with_schema = times["loads"], times["loads + schema"]
    validation = max(with_schema - plain, 1e-9)
    rows = [("loads", plain), ("loads + schema", with_schema), ("validation alone", validation)]
    rows += [(name, times[name]) for name in list(fns)[2:]]
    peer = None
    for name, check in peer_validators(SCHEMA):
        start = time.perf_counter()
        check(data)
        seconds = time.perf_counter() - start
        rows.append((f"{name} (1 run, data loaded)", seconds))
        peer = seconds if name == "jsonschema" else peer

    lines.append(f"large document: generated configuration ({len(text) / 1e6:.2f} MB), "
                 f"schema of {count_keywords(SCHEMA)} keywords")
    lines.append(f"  {'road':40} {'time ms':>9}   vs loads")
    for name, seconds in rows:
        lines.append(f"  {name:40} {seconds * 1e3:9.1f}   {seconds / plain:6.2f}x")
    ratio = with_schema / plain
    lines.append(f"  target: loads + schema vs loads                {ratio:6.2f}x   "
                 f"(target <= 1.5x: {'met' if ratio <= 1.5 else 'NOT met'})")
    if peer is not None:
        lines.append(f"          jsonschema vs validation alone         {peer / validation:6.0f}x")
    lines.append(f"  the invalid input raises: {failure}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=200)
    parser.add_argument("--rotation", type=int, default=500)
    parser.add_argument("--mb", type=float, default=4)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--out", default=str(HERE / "results"))
    args = parser.parse_args()

    lines = []
    configuration_files(args, lines)
    lines.append("")
    schemas_in_rotation(args, lines)
    lines.append("")
    large_document(args, lines)
    write_report(lines, args.out, "bench_schema.txt")


if __name__ == "__main__":
    main()
