#!/usr/bin/env python3
"""Schema validation on inputs built to make a validator work hard: the time
of kestrine.loads(text, schema=...) where it used to grow with the nesting
(branching `$ref`s, alias bombs), and a wide `oneOf` against the peers.

usage: bench_schema_limits.py [--repeat N] [--out DIR]

  step or group, depth D   a recursive schema (`anyOf` of two object
                           branches, both with `steps: {items: {$ref: step}}`)
                           and a document of D nested groups, valid, then
                           invalid at its deepest step
  nested list, depth D     `[[[...1...]]]` against an `anyOf` of two branches
                           that both read the items through `$ref: "#"`
  alias bomb, L levels     `a0: &a0 [[], ...]`, every level ten aliases to
                           the one before, against a recursive list schema
                           (round trip: the only road that loads 10 levels)
  oneOf, B branches        N records, each matching one of B object branches
                           told apart by their `kind`; the peers (when
                           installed) validate the loaded data
  cyclic $ref under not    a `$ref` loop that only `not` reaches: refused

The inputs are those of tests/test_schema.py.  Every figure is the best of
--repeat runs after a warm-up run.  The table is printed and written to
DIR/bench_schema_limits.txt (default bench/results).
"""

import argparse
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
sys.path.insert(0, str(HERE))
sys.path.insert(1, str(REPO / "tests"))
sys.path.append(str(REPO / "python"))  # PYTHONPATH, when set, comes first

import kestrine  # noqa: E402
from bench_schema import best_times, peer_validators, write_report  # noqa: E402
# The inputs of the tests (tests/test_schema.py).
from test_schema import LISTS, NESTED_LISTS, STEPS, alias_bomb, nested_groups  # noqa: E402


CYCLE_UNDER_NOT = {"properties": {"port": {"not": {"$ref": "#/properties/port"}}}}


def one_of_case(branches, records):
    """A list of records, each an object of one of `branches` kinds."""
    definitions = {"name": {"type": "string", "pattern": "^[a-z][a-z0-9-]*$"},
                   "port": {"type": "integer", "minimum": 1, "maximum": 65535}}
    kinds = []
    for b in range(branches):
        kinds.append({"type": "object", "required": ["kind", "name"], "additionalProperties": False,
                      "properties": {"kind": {"const": f"kind{b}"}, "name": {"$ref": "#/definitions/name"},
                                     "port": {"$ref": "#/definitions/port"},
                                     "tags": {"type": "array", "items": {"$ref": "#/definitions/name"}},
                                     "options": {"type": "object", "additionalProperties": {"type": "string"}}}})
    schema = {"type": "array", "items": {"oneOf": kinds}, "definitions": definitions}
    text = "".join(f"- kind: kind{r % branches}\n  name: item-{r}\n  port: {1000 + r}\n"
                   f"  tags: [a, b-{r}]\n  options: {{x: y, z: w}}\n" for r in range(records))
    return schema, text


def outcome(text, schema, option=0):
    try:
        kestrine.loads(text, schema=schema, option=option)
        return "valid"
    except kestrine.KestrineSchemaError as exc:
        return "refused: " + str(exc).removeprefix("schema validation failed: ")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--out", default=str(HERE / "results"))
    args = parser.parse_args()

    cases = []
    for depth in (22, 30):
        for verdict, leaf in (("valid", "{name: s, run: x}"), ("invalid", "{name: s, run: 5}")):
            cases.append((f"step or group, depth {depth}, {verdict}", nested_groups(depth, leaf), STEPS, 0))
    nested = "[" * 25 + "1" + "]" * 25 + "\n"
    cases.append((f"nested list, depth 25 ({len(nested)} B)", nested, NESTED_LISTS, 0))
    cases.append(("alias bomb, 6 levels, plain", alias_bomb(6), LISTS, 0))
    bomb = alias_bomb(10)
    cases.append((f"alias bomb, 10 levels ({len(bomb)} B), round trip", bomb, LISTS, kestrine.OPT_ROUND_TRIP))
    cases.append(("cyclic $ref under not", "port: 1\n", CYCLE_UNDER_NOT, 0))

    lines = ["inputs that make a validator work hard: loads(text, schema=...)",
             f"  {'case':46} {'time ms':>9}   outcome"]
    for name, text, schema, option in cases:
        times = best_times({name: lambda: outcome(text, schema, option)}, args.repeat)
        lines.append(f"  {name:46} {times[name] * 1000:9.2f}   {outcome(text, schema, option)[:70]}")

    schema, text = one_of_case(40, 500)
    data = kestrine.loads(text)
    fns = {"loads": lambda: kestrine.loads(text), "loads + schema": lambda: kestrine.loads(text, schema=schema)}
    for name, check in peer_validators(schema):
        fns[f"loads, then {name}"] = lambda check=check: check(kestrine.loads(text))
    times = best_times(fns, args.repeat)
    assert outcome(text, schema) == "valid" and data
    lines += ["", f"oneOf, 40 branches, 500 records ({len(text) / 1024:.1f} KB)",
              f"  {'road':46} {'time ms':>9}   vs loads"]
    for name, seconds in times.items():
        lines.append(f"  {name:46} {seconds * 1000:9.2f}   {seconds / times['loads']:6.2f}x")
    write_report(lines, args.out, "bench_schema_limits.txt")


if __name__ == "__main__":
    main()
