#!/usr/bin/env python3
"""Dump speed: kestrine.dumps and kestrine.to_json against their peers.

usage: bench_dump.py [--corpus DIR] [--mb N] [--repeat N] [--out DIR] [--no-ruamel] [--cpu N]
                     [--only GROUP,...]

Two data sets, the same objects for every library:
  corpus     the YAML files of the bench corpus, loaded (with kestrine.loads
             when it works, else PyYAML's CSafeLoader) into one list;
  generated  a configuration-like structure of about N MB of YAML text
             (bench/gen_config.py), loaded the same way;
  openapi    (JSON only) an OpenAPI-like description built in memory: many
             paths, operations, parameters and schemas, short keys, prose;
  floattext  (JSON only) measurement records: floats of every magnitude
             beside place names and notes in many scripts (non-ASCII).

YAML: kestrine.dumps against PyYAML's C dumper (CSafeDumper),
ruamel.yaml's dumper and rapidyaml's emitter (emit_yaml of a tree parsed
beforehand from kestrine's output: it writes a tree, not Python objects).
JSON: kestrine.to_json against json.dumps, orjson.dumps and ujson.dumps, on
a JSON-safe copy of the data (timestamps as text, keys as text).  REPR: the represent road, `dumps(data, represent=lambda o: None)`,
against the plain `dumps(data)` (the base), then the data with 1000 objects
of a custom class added, written by a `represent` callback and by PyYAML's C
dumper with a representer for that class.  SHARED: N references to N/100
shared dicts through the represent road, which writes each dict once with an
anchor and then aliases (time and output size should grow linearly).  Every figure is the best of at least --repeat runs, more while
within one second (one run for the slow pure Python dumpers), with the
cyclic garbage collector paused.  Throughput is each library's own output size divided by
its time; "x base" is the base library's time over this library's time.

Prints a table and writes bench/results/bench_dump.{txt,png}.
"""

import argparse
import datetime
import gc
import io
import os
import random
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
DEFAULT_CORPUS = os.path.join(ROOT, "..", "shared", "testdata", "bench-corpus")

import yaml  # noqa: E402

import kestrine  # noqa: E402


def load_text(text):
    try:
        return kestrine.loads(text)
    except NotImplementedError:
        return yaml.load(text, Loader=yaml.CSafeLoader)


def loader_name():
    try:
        kestrine.loads("a: 1")
        return "kestrine.loads"
    except NotImplementedError:
        return "yaml.CSafeLoader"


def load_corpus(directory):
    docs = []
    for dirpath, _, files in sorted(os.walk(directory)):
        for name in sorted(files):
            if not name.endswith((".yml", ".yaml")):
                continue
            with open(os.path.join(dirpath, name), encoding="utf-8", errors="replace") as f:
                text = f.read()
            try:
                docs.append(load_text(text))
            except Exception:  # files that hold several documents or bad YAML
                continue
    return docs


def load_generated(megabytes):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "generated.yaml")
        subprocess.run([sys.executable, os.path.join(HERE, "gen_config.py"), path, str(megabytes)],
                       check=True)
        with open(path, encoding="utf-8") as f:
            return load_text(f.read())


LORE = ("Zürich Genève Köln Malmö Kraków Łódź São Paulo Bogotá Reykjavík Ærøskøbing "
        "Москва Санкт-Петербург Київ Αθήνα Θεσσαλονίκη 東京都 大阪 北京市 上海 서울 부산 "
        "القاهرة بيروت ירושלים मुंबई दिल्ली กรุงเทพ Hà Nội İstanbul naïve café façade 🌍 🚀 ✓").split()


def openapi_data(operations=6000):
    """An OpenAPI-like description: paths with operations, parameters and
    responses, and component schemas with typed properties."""
    rng = random.Random(20250101)
    words = ("account user order item invoice payment shipment address product review "
             "catalog price tax discount session token webhook event report export").split()

    def prose(lo, hi):
        return " ".join(rng.choice(words) for _ in range(rng.randint(lo, hi))).capitalize() + "."

    schemas = {}
    for name in words:
        props = {}
        for k in range(rng.randint(4, 14)):
            kind = rng.choice(["string", "integer", "number", "boolean", "array"])
            prop = {"type": kind, "description": prose(3, 12)}
            if kind == "string":
                prop.update(maxLength=rng.choice([32, 64, 255]), example=f"{rng.choice(words)}-{k}")
            elif kind == "integer":
                prop.update(format="int64", minimum=0, example=rng.randint(0, 10 ** 6))
            elif kind == "number":
                prop.update(format="double", example=round(rng.uniform(0, 1000), 2))
            elif kind == "array":
                prop["items"] = {"$ref": f"#/components/schemas/{rng.choice(words).title()}"}
            props[f"{rng.choice(words)}_{k}"] = prop
        schemas[name.title()] = {"type": "object", "required": list(props)[:3], "properties": props}
    paths = {}
    for i in range(operations // 3):
        res = rng.choice(words)
        item = {}
        for method in ("get", "put", "delete"):
            item[method] = {
                "summary": prose(2, 6), "description": prose(8, 30), "operationId": f"{method}{res.title()}{i}",
                "tags": [res], "deprecated": rng.random() < 0.05,
                "parameters": [{"name": "id", "in": "path", "required": True,
                                "schema": {"type": "string", "format": "uuid"}},
                               {"name": "limit", "in": "query", "required": False,
                                "schema": {"type": "integer", "minimum": 1, "maximum": 500, "default": 50}}],
                "responses": {"200": {"description": "OK", "content": {"application/json": {
                                  "schema": {"$ref": f"#/components/schemas/{res.title()}"}}}},
                              "404": {"description": "Not found"}},
            }
        paths[f"/v1/{res}s/{i}/{{id}}"] = item
    return {"openapi": "3.0.3", "info": {"title": "Example API", "version": "1.4.2", "description": prose(20, 40)},
            "servers": [{"url": "https://api.example.com"}], "paths": paths, "components": {"schemas": schemas}}


def float_text_data(records=10000):
    """Measurement records: floats of every magnitude and non-ASCII text."""
    rng = random.Random(20250102)
    out = []
    for i in range(records):
        out.append({"id": i, "place": " ".join(rng.choice(LORE) for _ in range(rng.randint(1, 3))),
                    "lat": rng.uniform(-90, 90), "lon": rng.uniform(-180, 180),
                    "elevation": rng.gauss(300, 400), "scale": 10 ** rng.uniform(-12, 12),
                    "readings": [rng.gauss(0, 1) * 10 ** rng.randint(-6, 6) for _ in range(8)],
                    "note": " ".join(rng.choice(LORE) for _ in range(rng.randint(3, 12)))})
    return out


def json_safe(obj):
    """The data with what JSON lacks turned into text."""
    if isinstance(obj, dict):
        return {k if isinstance(k, str) else str(k): json_safe(v) for k, v in obj.items()}
    if isinstance(obj, (list, tuple)):
        return [json_safe(v) for v in obj]
    if isinstance(obj, (datetime.date, datetime.time)):
        return obj.isoformat()
    if isinstance(obj, bytes):
        return obj.decode("utf-8", "replace")
    if isinstance(obj, float) and obj != obj:
        return None
    return obj


def best_time(fn, repeat, budget=1.0):
    """Best time of at least `repeat` runs, going on while within `budget`
    seconds (up to 500 runs), with the cyclic collector paused during each
    run (a collection between runs would only flush the caches)."""
    best = None
    result = None
    runs = 0
    spent = 0.0
    gc.collect()
    while runs < repeat or (spent < budget and runs < 500):
        gc.disable()
        try:
            start = time.perf_counter()
            result = fn()
            elapsed = time.perf_counter() - start
        finally:
            gc.enable()
        best = elapsed if best is None else min(best, elapsed)
        runs += 1
        spent += elapsed
    return best, result


def dumpers_yaml(use_ruamel):
    out = [("kestrine.dumps", lambda d: kestrine.dumps(d), False),
           ("yaml CSafeDumper", lambda d: yaml.dump(d, Dumper=yaml.CSafeDumper, allow_unicode=True,
                                                   sort_keys=False).encode(), True)]
    if use_ruamel:
        try:
            from ruamel.yaml import YAML
        except ImportError:
            print("ruamel.yaml not installed: skipped", file=sys.stderr)
        else:
            def ruamel_dump(d):
                y = YAML(typ="safe", pure=True)
                buf = io.BytesIO()
                y.dump(d, buf)
                return buf.getvalue()
            out.append(("ruamel.yaml", ruamel_dump, True))
    try:
        import ryml
    except ImportError:
        print("rapidyaml not installed: skipped", file=sys.stderr)
    else:
        trees = {}

        def ryml_emit(d):
            # The tree is parsed once per data set, outside the timing.
            tree = trees.get(id(d))
            if tree is None:
                tree = trees[id(d)] = (d, ryml.parse_in_arena(kestrine.dumps(d)))
            return ryml.emit_yaml(tree[1]).encode()

        out.append(("rapidyaml emit", ryml_emit, False))
    return out


def dumpers_json():
    import json
    out = [("kestrine.to_json", lambda d: kestrine.to_json(d), False),
           ("json.dumps", lambda d: json.dumps(d, ensure_ascii=False, separators=(",", ":")).encode(), False)]
    try:
        import orjson
    except ImportError:
        print("orjson not installed: skipped", file=sys.stderr)
    else:
        out.append(("orjson.dumps", lambda d: orjson.dumps(d), False))
    try:
        import ujson
    except ImportError:
        print("ujson not installed: skipped", file=sys.stderr)
    else:
        out.append(("ujson.dumps", lambda d: ujson.dumps(d, ensure_ascii=False).encode(), False))
    return out


class Point:
    """The custom class of the REPR group."""

    def __init__(self, x, y):
        self.x = x
        self.y = y


def represent_point(obj):
    if type(obj) is Point:
        return kestrine.KestrineMapping([("x", obj.x), ("y", obj.y)], tag="!point")
    return None


class PointDumper(yaml.CSafeDumper):
    pass


PointDumper.add_representer(Point, lambda dumper, p: dumper.represent_mapping("!point", {"x": p.x, "y": p.y}))


def with_points(data):
    return {"data": data, "points": [Point(i, -i) for i in range(1000)]}


def dumpers_repr():
    return [("kestrine.dumps", lambda d: kestrine.dumps(d), False, False),
            ("kestrine repr=None", lambda d: kestrine.dumps(d, represent=lambda o: None), False, False),
            ("kestrine repr+cls", lambda d: kestrine.dumps(d, represent=represent_point), False, True),
            ("yaml C repr+cls", lambda d: yaml.dump(d, Dumper=PointDumper, allow_unicode=True,
                                                    sort_keys=False).encode(), True, True)]


def shared_data(refs):
    shared = [{"id": i, "name": f"item-{i}", "tags": ["a", "b"]} for i in range(refs // 100)]
    return [shared[i % len(shared)] for i in range(refs)]


def run_shared(repeat):
    rows = []
    for refs, name in ((10_000, "10k/100"), (100_000, "100k/1k"), (1_000_000, "1M/10k")):
        data = shared_data(refs)
        seconds, text = best_time(lambda: kestrine.dumps(data, represent=lambda o: None), repeat)
        anchors = text.count(b"&id")
        assert anchors == refs // 100, anchors
        print(f"  SHARED {name:<9} {seconds * 1e3:10.1f} ms, {anchors} anchors", file=sys.stderr)
        rows.append(("SHARED", name, "kestrine repr=None", seconds, len(text), seconds))
    return rows


def run(data_sets, repeat, use_ruamel, groups):
    rows = []  # (group, data set, library, seconds, output bytes, base seconds)
    for set_name, data, set_groups in data_sets:
        safe = json_safe(data)
        plan = [("YAML", dumpers_yaml(use_ruamel), "yaml CSafeDumper"),
                ("JSON", dumpers_json(), "json.dumps"),
                ("REPR", dumpers_repr(), "kestrine.dumps")]
        for group, dumpers, base_name in plan:
            if group not in groups or group not in set_groups:
                continue
            payloads = {False: safe if group == "JSON" else data, True: with_points(data)}
            times = {}
            for name, fn, slow, *points in dumpers:
                payload = payloads[bool(points and points[0])]
                try:
                    seconds, text = best_time(lambda: fn(payload), 1 if slow else repeat,
                                              0.0 if slow else 1.0)
                except Exception as exc:  # a peer that cannot handle this data
                    print(f"  {group} {set_name:<9} {name}: failed: {type(exc).__name__}", file=sys.stderr)
                    continue
                times[name] = (seconds, len(text))
                print(f"  {group} {set_name:<9} {name:<18} {seconds * 1e3:10.1f} ms", file=sys.stderr)
            base = times[base_name][0]
            for name, (seconds, size) in times.items():
                rows.append((group, set_name, name, seconds, size, base))
    if "SHARED" in groups:
        rows += run_shared(repeat)
    return rows


def format_table(rows, loader):
    lines = [f"data loaded with {loader}; Python {sys.version.split()[0]}",
             "",
             f"{'group':<6} {'data':<9} {'library':<18} {'time ms':>10} {'out MB':>8} {'MB/s':>9} {'x base':>8}",
             "-" * 74]
    for group, set_name, name, seconds, size, base in rows:
        mb = size / 1e6
        lines.append(f"{group:<6} {set_name:<9} {name:<18} {seconds * 1e3:10.1f} {mb:8.2f} "
                     f"{mb / seconds:9.1f} {base / seconds:8.2f}")
    times = {(r[0], r[1], r[2]): r[3] for r in rows}
    summary = []
    for set_name in dict.fromkeys(r[1] for r in rows if r[0] == "REPR"):
        plain, none = times[("REPR", set_name, "kestrine.dumps")], times[("REPR", set_name, "kestrine repr=None")]
        ours, peer = times[("REPR", set_name, "kestrine repr+cls")], times[("REPR", set_name, "yaml C repr+cls")]
        summary.append(f"REPR {set_name}: represent=None takes {none / plain:.2f}x plain dumps "
                       f"(target <= 3x: {'met' if none / plain <= 3.0 else 'NOT met'}); "
                       f"with a custom class {peer / ours:.1f}x faster than PyYAML's C dumper")
    for set_name in dict.fromkeys(r[1] for r in rows if r[0] == "JSON"):
        ours, orjson_time = times.get(("JSON", set_name, "kestrine.to_json")), times.get(("JSON", set_name, "orjson.dumps"))
        if ours and orjson_time:
            summary.append(f"JSON {set_name}: to_json takes {ours / orjson_time:.2f}x orjson.dumps "
                           f"(target <= 1.25x: {'met' if ours <= 1.25 * orjson_time else 'NOT met'})")
    return "\n".join(lines + ([""] + summary if summary else []))


def chart(rows, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib not installed: no chart", file=sys.stderr)
        return
    groups = []
    for row in rows:
        if row[0] == "SHARED":
            continue
        key = (row[0], row[1])
        if key not in groups:
            groups.append(key)
    fig, axes = plt.subplots(1, len(groups), figsize=(4 * len(groups), 4))
    if len(groups) == 1:
        axes = [axes]
    for ax, (group, set_name) in zip(axes, groups):
        sel = [r for r in rows if r[0] == group and r[1] == set_name]
        names = [r[2] for r in sel]
        speeds = [r[4] / 1e6 / r[3] for r in sel]
        bars = ax.bar(range(len(sel)), speeds, color=["#c0392b"] + ["#7f8c8d"] * (len(sel) - 1))
        ax.set_xticks(range(len(sel)))
        ax.set_xticklabels(names, rotation=30, ha="right", fontsize=8)
        ax.set_yscale("log")
        ax.set_title(f"{group} — {set_name}")
        ax.set_ylabel("MB/s of output (log)")
        for bar, speed in zip(bars, speeds):
            ax.annotate(f"{speed:.0f}" if speed >= 10 else f"{speed:.1f}", (bar.get_x() + bar.get_width() / 2, bar.get_height()),
                        ha="center", va="bottom", fontsize=7)
    fig.tight_layout()
    fig.savefig(path, dpi=120)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--corpus", default=DEFAULT_CORPUS)
    ap.add_argument("--mb", type=float, default=20.0)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--out", default=os.path.join(HERE, "results"))
    ap.add_argument("--no-ruamel", action="store_true")
    ap.add_argument("--cpu", type=int, help="pin the process to this CPU")
    ap.add_argument("--only", default="YAML,JSON,REPR,SHARED", help="groups to run, comma-separated")
    args = ap.parse_args()
    groups = set(args.only.split(","))
    if args.cpu is not None:
        os.sched_setaffinity(0, {args.cpu})

    loader = loader_name()
    print(f"loading data with {loader} ...", file=sys.stderr)
    every = {"YAML", "JSON", "REPR"}
    data_sets = [("corpus", load_corpus(args.corpus), every), ("generated", load_generated(args.mb), every),
                 ("openapi", openapi_data(), {"JSON"}), ("floattext", float_text_data(), {"JSON"})]
    rows = run(data_sets, args.repeat, not args.no_ruamel, groups)
    table = format_table(rows, loader)
    print(table)
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "bench_dump.txt"), "w", encoding="utf-8") as f:
        f.write(table + "\n")
    chart(rows, os.path.join(args.out, "bench_dump.png"))


if __name__ == "__main__":
    main()
