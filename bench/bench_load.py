#!/usr/bin/env python3
"""Load speed of kestrine against its peers, on the same inputs in one run.

usage: bench_load.py [--mb MB] [--repeat N] [--full] [--no-memory] [--scalars N]
                     [--scalars-only] [--out DIR]

Inputs:
  corpus  every .yaml/.yml file of ../shared/testdata/bench-corpus (relative
          to the repository), restricted to the files every loader accepts;
  config  a generated configuration-like file of MB megabytes (default 20),
          written by bench/gen_config.py into the temporary directory, and
          a 2 MB one from the same generator (a medium-sized file).

Loaders (a peer that is not installed is skipped):
  kestrine.loads_all; PyYAML with its C loader (CSafeLoader) and its pure
  loader (SafeLoader); ruamel.yaml safe C loader (needs ruamel.yaml.clib)
  and round-trip loader;
  rapidyaml's Python binding (parse_in_arena: it builds a tree, not Python
  objects); json.loads, orjson.loads and ujson.loads of the same data
  re-encoded as JSON.

Packed scalars (--scalars N, default 1000000 values per input): flow and
block sequences of N booleans, nulls, small integers or short floats, and a
block mapping of N such values mixed, each loaded by the plain loaders that
keep up with that size (kestrine.loads, rapidyaml, and the JSON loaders on
the same data as JSON); PyYAML's C loader reads a tenth of each input and
its time is scaled ('*').  The "kestrine / orjson" column is the target row
of these inputs (at most 2.5x).  --scalars-only runs this table alone and
writes it to DIR/bench_load_scalars.txt.

The richer roads of kestrine run on the same inputs:
  kestrine annotated   loads_all(..., option=OPT_ANNOTATED);
  kestrine round-trip  loads_all(..., option=OPT_ROUND_TRIP);
  kestrine rt+dumps    the same, then kestrine.dumps(doc) of every (unedited)
                       document;
against ruamel.yaml's round-trip loader (YAML(typ="rt").load_all, "ruamel rt")
and that load followed by dump_all of the loaded documents ("ruamel rt+dump").
Below each table, "targets" compares each road with its counterpart:
plain kestrine against orjson on the same data, annotated against plain
kestrine, the round-trip peers against the kestrine round-trip rows.

Every figure is the best of --repeat passes over the whole input, after one
warm-up pass (a loader whose warm-up pass takes over 2 s is timed by that
pass alone).  Unless --full is given, the slow loaders
read a 2 MB file from the same generator (a prefix of the big one) and their
speed is marked with '*'.  "vs kestrine" is the loader's time divided by
kestrine's time for the same data (above 1: kestrine is faster).

Peak memory is measured in a fresh process per loader, as the growth of the
peak resident set size during one load of the config input (input already
read).  Thread scaling runs 1, 2, 4 and 8 threads at once, each loading the
2 MB config on its own (plain, annotated and round-trip loads) or dumping
the data loaded from it; the figure is the aggregate throughput over that
of one thread.

The table is printed and written to DIR/bench_load.txt (default
bench/results), the bar chart to DIR/bench_load.png.
"""

import argparse
import gc
import io
import json
import os
import pathlib
import resource
import subprocess
import sys
import tempfile
import threading
import time

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
CORPUS = REPO.parent / "shared" / "testdata" / "bench-corpus"
SLOW = {"PyYAML pure", "ruamel rt", "ruamel rt+dump", "ruamel safe C", "ruamel safe (pure)"}
# (label, slower row, faster row, bound, kind): the slower row's time over the
# faster row's; kind "max" means the ratio should stay at or below the bound,
# "min" at or above it.
TARGETS = [
    ("plain load, orjson vs kestrine", "orjson.loads", "kestrine", 1.0, "min"),
    ("annotated vs plain load", "kestrine annotated", "kestrine", 2.5, "max"),
    ("round-trip load, ruamel rt vs kestrine", "ruamel rt", "kestrine round-trip", 30.0, "min"),
    ("round-trip load+dump, ruamel vs kestrine", "ruamel rt+dump", "kestrine rt+dumps", None, "min"),
]


# --- loaders -----------------------------------------------------------------------

def make_loaders():
    """name -> (kind, function of bytes); kind is "yaml" or "json"."""
    loaders = {}
    try:
        sys.path.append(str(REPO / "python"))  # PYTHONPATH, when set, comes first
        import kestrine
        loaders["kestrine"] = ("yaml", kestrine.loads_all)
        annotated, round_trip = kestrine.OPT_ANNOTATED, kestrine.OPT_ROUND_TRIP
        loaders["kestrine annotated"] = ("yaml", lambda b: kestrine.loads_all(b, option=annotated))
        loaders["kestrine round-trip"] = ("yaml", lambda b: kestrine.loads_all(b, option=round_trip))
        loaders["kestrine rt+dumps"] = (
            "yaml", lambda b: [kestrine.dumps(d) for d in kestrine.loads_all(b, option=round_trip)])
    except ImportError as exc:
        sys.exit(f"kestrine is not importable: {exc}")
    try:
        import yaml
        if getattr(yaml, "CSafeLoader", None) is not None:
            loaders["PyYAML C"] = ("yaml", lambda b: list(yaml.load_all(b, Loader=yaml.CSafeLoader)))
        loaders["PyYAML pure"] = ("yaml", lambda b: list(yaml.load_all(b, Loader=yaml.SafeLoader)))
    except ImportError:
        pass
    try:
        from ruamel.yaml import YAML
        safe = YAML(typ="safe", pure=False)
        rt = YAML(typ="rt")
        # Repeated keys keep the last value, as in every other loader here.
        safe.allow_duplicate_keys = rt.allow_duplicate_keys = True
        # Without ruamel.yaml.clib the "C" loader silently runs in pure Python.
        c_name = "ruamel safe C" if "CParser" in getattr(safe.Parser, "__name__", "") else "ruamel safe (pure)"
        loaders[c_name] = ("yaml", lambda b: list(safe.load_all(b)))
        loaders["ruamel rt"] = ("yaml", lambda b: list(rt.load_all(b)))

        def ruamel_rt_dump(b):
            out = io.BytesIO()
            rt.dump_all(list(rt.load_all(b)), out)
            return out.getvalue()

        loaders["ruamel rt+dump"] = ("yaml", ruamel_rt_dump)
    except ImportError:
        pass
    try:
        import ryml
        loaders["rapidyaml (tree)"] = ("yaml", lambda b: ryml.parse_in_arena(b))
    except ImportError:
        pass
    loaders["json.loads"] = ("json", json.loads)
    try:
        import orjson
        loaders["orjson.loads"] = ("json", orjson.loads)
    except ImportError:
        pass
    try:
        import ujson
        loaders["ujson.loads"] = ("json", ujson.loads)
    except ImportError:
        pass
    return loaders


# --- inputs ------------------------------------------------------------------------

def generated(mb):
    path = pathlib.Path(tempfile.gettempdir()) / "kestrine-bench" / f"config-{mb:g}mb.yaml"
    if not path.exists():
        path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run([sys.executable, str(HERE / "gen_config.py"), str(path), str(mb)], check=True)
    return path


def corpus_files():
    if not CORPUS.is_dir():
        return []
    return sorted(p for p in CORPUS.rglob("*") if p.suffix in (".yaml", ".yml") and p.is_file())


def to_json(docs):
    return json.dumps(docs, default=str, ensure_ascii=False)


class InputSet:
    """A list of YAML byte strings and the same data as JSON."""

    def __init__(self, name, yaml_texts, kestrine_loads):
        self.name = name
        self.yaml = yaml_texts
        self.json = [to_json(kestrine_loads(t)) for t in yaml_texts]
        self.json_bytes = [s.encode() for s in self.json]
        self.yaml_size = sum(len(t) for t in yaml_texts)
        self.json_size = sum(len(b) for b in self.json_bytes)

    def payload(self, kind, name):
        if kind == "yaml":
            return self.yaml
        return self.json_bytes if name.startswith("orjson") else self.json

    def size(self, kind):
        return self.yaml_size if kind == "yaml" else self.json_size


def accepted_by_all(files, loaders):
    keep = []
    for path in files:
        data = path.read_bytes()
        try:
            for kind, fn in loaders.values():
                if kind == "yaml":
                    fn(data)
        except Exception:
            continue
        keep.append(data)
    return keep


# --- timing ------------------------------------------------------------------------

def one_pass(fn, items):
    gc.collect()
    total = 0.0
    for item in items:
        start = time.perf_counter()
        result = fn(item)
        total += time.perf_counter() - start
        del result
    return total


def best_time(fn, items, repeat):
    first = one_pass(fn, items)  # warm-up; a loader this slow is timed once
    if first > 2.0:
        return first
    return min(one_pass(fn, items) for _ in range(repeat))


# --- memory (child process) --------------------------------------------------------

def peak_rss_mb(reset=False):
    """Peak resident set size of this process in MB.  On Linux the peak is
    reset on request (a child started by a large parent would otherwise
    inherit the parent's peak); elsewhere ru_maxrss is used as it stands."""
    try:
        if reset:
            with open("/proc/self/clear_refs", "w") as f:
                f.write("5")
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024.0
    except OSError:
        pass
    scale = 1024.0 * 1024.0 if sys.platform == "darwin" else 1024.0
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / scale


def memory_child(name, path):
    loaders = make_loaders()
    kind, fn = loaders[name]
    raw = pathlib.Path(path).read_bytes()
    if kind == "yaml":
        data, warm = raw, b"a: 1\n"
    elif name.startswith("orjson"):
        data, warm = raw, b"[1]"
    else:
        data, warm = raw.decode(), "[1]"
    del raw
    fn(warm)  # first-use imports and caches are not part of the figure
    gc.collect()
    before = peak_rss_mb(reset=True)
    result = fn(data)
    after = peak_rss_mb()
    del result
    print(after - before)


def peak_memory(name, path):
    out = subprocess.run([sys.executable, __file__, "--memory-child", name, str(path)],
                         check=True, capture_output=True, text=True).stdout
    return float(out.strip().splitlines()[-1])


# --- threads -----------------------------------------------------------------------

def thread_throughput(fn, data, threads, runs_per_thread=3):
    """Aggregate MB/s of `threads` threads each running fn(data) repeatedly.
    Each thread makes one untimed run first (a new thread's first load pays
    for fresh memory), then all start together."""
    ready = threading.Barrier(threads + 1)
    go = threading.Barrier(threads + 1)

    def work():
        fn(data)
        ready.wait()
        go.wait()
        for _ in range(runs_per_thread):
            fn(data)

    pool = [threading.Thread(target=work) for _ in range(threads)]
    for t in pool:
        t.start()
    ready.wait()
    gc.collect()
    start = time.perf_counter()
    go.wait()
    for t in pool:
        t.join()
    elapsed = time.perf_counter() - start
    return threads * runs_per_thread * len(data) / elapsed / 1e6


THREAD_COUNTS = (1, 2, 4, 8)
# (road, bound at 4 threads): the scaling targets.
THREAD_TARGETS = {"plain loads": 2.5, "annotated loads": 2.0, "round-trip loads": 3.0}


def thread_table(text):
    """Rows of (road, [(threads, MB/s, scaling)]) for the 2 MB config."""
    import kestrine
    data = kestrine.loads(text)
    size = len(kestrine.dumps(data))
    roads = [
        ("plain loads", lambda b: kestrine.loads(b), text),
        ("annotated loads", lambda b: kestrine.loads(b, option=kestrine.OPT_ANNOTATED), text),
        ("round-trip loads", lambda b: kestrine.loads(b, option=kestrine.OPT_ROUND_TRIP), text),
        # The "data" is a stand-in of the output's size, for the MB/s figure.
        ("dumps", lambda _: kestrine.dumps(data), b" " * size),
    ]
    rows = []
    for name, fn, payload in roads:
        cells = []
        single = None
        for n in THREAD_COUNTS:
            mbps = max(thread_throughput(fn, payload, n) for _ in range(2))
            single = single or mbps
            cells.append((n, mbps, mbps / single))
        rows.append((name, cells))
    return rows


def format_thread_table(rows):
    lines = ["\nthreads, each loading (or dumping) the 2 MB config on its own: aggregate MB/s and scaling",
             "  " + f"{'road':<18}" + "".join(f"{f'{n} thread' + ('s' if n > 1 else ''):>20}" for n in THREAD_COUNTS)]
    for name, cells in rows:
        lines.append("  " + f"{name:<18}" + "".join(f"{mbps:>10.1f} {scale:>7.2f}x " for _, mbps, scale in cells))
        bound = THREAD_TARGETS.get(name)
        if bound is not None:
            at4 = dict((n, scale) for n, _, scale in cells)[4]
            lines.append(f"  target: {name} at 4 threads {at4:.2f}x   (target >= {bound:g}x: "
                         f"{'met' if at4 >= bound else 'NOT met'})")
    return lines


# --- packed scalars ----------------------------------------------------------------

SCALAR_BOUND = 2.5  # kestrine.loads time over orjson.loads time, at most
SCALAR_LOADERS = ("kestrine", "PyYAML C", "rapidyaml (tree)", "json.loads", "orjson.loads", "ujson.loads")


def scalar_values(kind, n, rng):
    if kind == "booleans":
        return [rng.random() < 0.5 for _ in range(n)]
    if kind == "nulls":
        return [None] * n
    if kind == "small ints":
        return [rng.randint(-100, 10000) for _ in range(n)]
    if kind == "floats":
        return [round(rng.uniform(-1000.0, 1000.0), rng.randint(1, 6)) for _ in range(n)]
    choices = (True, False, None)
    return [rng.choice(choices) if rng.random() < 0.5 else
            (rng.randint(0, 999) if rng.random() < 0.5 else round(rng.random() * 100, 3)) for _ in range(n)]


def scalar_word(v):
    return "null" if v is None else "true" if v is True else "false" if v is False else repr(v)


def scalar_inputs(n):
    """(name, YAML bytes, the same data as JSON bytes) per packed-scalar case."""
    import random
    rng = random.Random(30)
    cases = []
    for kind in ("booleans", "nulls", "small ints", "floats"):
        values = scalar_values(kind, n, rng)
        words = [scalar_word(v) for v in values]
        as_json = json.dumps(values).encode()
        cases.append((f"flow sequence, {kind}", ("[" + ", ".join(words) + "]\n").encode(), as_json))
        cases.append((f"block sequence, {kind}", "".join(f"- {w}\n" for w in words).encode(), as_json))
    values = scalar_values("mixed", n, rng)
    mapping = {f"key{i}": v for i, v in enumerate(values)}
    text = "".join(f"{k}: {scalar_word(v)}\n" for k, v in mapping.items())
    cases.append(("block mapping, mixed", text.encode(), json.dumps(mapping).encode()))
    return cases


def scalar_table(n, repeat):
    loaders = {name: fn for name, (_, fn) in make_loaders().items() if name in SCALAR_LOADERS}
    import kestrine  # importable once make_loaders has set the path
    loaders["kestrine"] = kestrine.loads
    names = list(loaders)
    lines = [f"\npacked scalars, {n} values per input: best time in ms (plain loads; JSON loaders on the same data as JSON)",
             "  " + f"{'input':<26}" + "".join(f"{name:>18}" for name in names) + f"{'kestrine / orjson':>19}"]
    worst = 0.0
    for label, yaml_bytes, json_bytes in scalar_inputs(n):
        if kestrine.loads(yaml_bytes) != json.loads(json_bytes):
            sys.exit(f"kestrine reads {label!r} differently from its JSON form")
        cells, times = [], {}
        for name, fn in loaders.items():
            data = json_bytes if "json" in name else yaml_bytes
            scale = 1.0
            if name == "PyYAML C":  # a tenth of the values, then scaled
                data = scalar_prefix(yaml_bytes, label)
                scale = len(yaml_bytes) / len(data)
            elif name == "json.loads" or name == "ujson.loads":
                data = json_bytes.decode()
            try:
                times[name] = best_time(fn, [data], repeat) * scale
                cells.append(f"{times[name] * 1000:>17.1f}{'*' if scale != 1.0 else ' '}")
            except Exception as exc:  # a peer that cannot read this input
                cells.append(f"{type(exc).__name__:>18}")
        ratio = times["kestrine"] / times["orjson.loads"] if "orjson.loads" in times else float("nan")
        worst = max(worst, ratio)
        lines.append("  " + f"{label:<26}" + "".join(cells) + f"{ratio:>18.2f}x")
    if "orjson.loads" in loaders:
        lines.append(f"  target: packed scalars, kestrine vs orjson, worst case {worst:.2f}x   "
                     f"(target <= {SCALAR_BOUND:g}x: {'met' if worst <= SCALAR_BOUND else 'NOT met'})")
    return lines


def scalar_prefix(yaml_bytes, label):
    """About a tenth of a packed-scalar input, still a whole document."""
    cut = yaml_bytes.index(b"\n" if not label.startswith("flow") else b",", len(yaml_bytes) // 10)
    return yaml_bytes[:cut] + (b"]\n" if label.startswith("flow") else b"\n")


# --- report ------------------------------------------------------------------------

def chart(results, out):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no chart")
        return
    most = max(len(rows) for rows in results.values())
    fig, axes = plt.subplots(1, len(results), figsize=(7 * len(results), max(5.0, 1.2 + 0.4 * most)),
                             squeeze=False)
    for ax, (set_name, rows) in zip(axes[0], results.items()):
        names = [r["name"] for r in rows]
        speeds = [r["mbps"] for r in rows]
        colors = ["#d1495b" if n.startswith("kestrine") else ("#8d96a3" if "json" in n else "#00798c")
                  for n in names]
        bars = ax.barh(names[::-1], speeds[::-1], color=colors[::-1])
        ax.set_xscale("log")
        ax.set_xlabel("MB/s (log scale; JSON loaders: MB of JSON)")
        ax.set_title(set_name)
        for bar, speed in zip(bars, speeds[::-1]):
            ax.text(bar.get_width(), bar.get_y() + bar.get_height() / 2, f" {speed:.1f}", va="center", fontsize=8)
    fig.tight_layout()
    path = out / "bench_load.png"
    fig.savefig(path, dpi=110)
    print(f"chart: {path}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--mb", type=float, default=20.0)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--full", action="store_true", help="run the slow loaders on the full inputs")
    parser.add_argument("--no-memory", action="store_true")
    parser.add_argument("--scalars", type=int, default=1_000_000, help="values per packed-scalar input")
    parser.add_argument("--scalars-only", action="store_true", help="run the packed-scalar table alone")
    parser.add_argument("--out", type=pathlib.Path, default=HERE / "results")
    parser.add_argument("--memory-child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_child:
        memory_child(*args.memory_child)
        return

    if args.scalars_only:
        text = "\n".join(scalar_table(args.scalars, args.repeat))
        print(text)
        args.out.mkdir(parents=True, exist_ok=True)
        (args.out / "bench_load_scalars.txt").write_text(text.lstrip() + "\n", encoding="utf-8")
        return

    loaders = make_loaders()
    kestrine_loads = loaders["kestrine"][1]
    print("loaders:", ", ".join(loaders))
    big_path = generated(args.mb)
    small_path = generated(2.0)
    sets = {}
    files = corpus_files()
    if files:
        texts = accepted_by_all(files, {n: l for n, l in loaders.items() if n not in SLOW or args.full})
        sets[f"corpus ({len(texts)} of {len(files)} files)"] = InputSet("corpus", texts, kestrine_loads)
    else:
        print(f"corpus not found at {CORPUS}: skipped")
    small = InputSet("config-2", [small_path.read_bytes()], kestrine_loads)
    sets["config (2 MB)"] = small
    sets[f"config ({args.mb:g} MB)"] = InputSet("config", [big_path.read_bytes()], kestrine_loads)

    results = {}
    lines = []
    for set_name, inputs in sets.items():
        rows = []
        k_time = None
        for name, (kind, fn) in loaders.items():
            slow = name in SLOW and not args.full
            use = small if slow and inputs.name == "config" else inputs
            repeat = args.repeat
            try:
                t = best_time(fn, use.payload(kind, name), repeat)
            except Exception as exc:  # a peer that cannot read this input
                print(f"  {name}: failed on {set_name}: {type(exc).__name__}: {exc}")
                continue
            # Scale a measurement on the small variant to the full input.
            if use is not inputs:
                t *= inputs.size(kind) / use.size(kind)
            mbps = inputs.size(kind) / t / 1e6
            if name == "kestrine":
                k_time = t
            rows.append({"name": name, "time": t, "mbps": mbps, "scaled": use is not inputs})
        results[set_name] = rows
        lines.append(f"\n{set_name}: {inputs.yaml_size / 1e6:.2f} MB YAML, {inputs.json_size / 1e6:.2f} MB JSON")
        lines.append(f"  {'loader':<20} {'time ms':>10} {'MB/s':>9} {'vs kestrine':>12}")
        for r in rows:
            mark = "*" if r["scaled"] else " "
            lines.append(f"  {r['name']:<20} {r['time'] * 1000:>10.1f} {r['mbps']:>8.1f}{mark} "
                         f"{r['time'] / k_time:>11.2f}x")
        by_name = {r["name"]: r for r in rows}
        for label, slow_row, fast_row, bound, kind in TARGETS:
            if slow_row not in by_name or fast_row not in by_name:
                continue
            ratio = by_name[slow_row]["time"] / by_name[fast_row]["time"]
            if bound is None:
                verdict = ""
            else:
                met = ratio <= bound if kind == "max" else ratio >= bound
                sign = "<=" if kind == "max" else ">="
                verdict = f"   (target {sign} {bound:g}x: {'met' if met else 'NOT met'})"
            lines.append(f"  target: {label:<42} {ratio:>8.2f}x{verdict}")

    if not args.no_memory:
        lines.append(f"\npeak memory, one load of the {args.mb:g} MB config (growth of peak RSS):")
        json_path = pathlib.Path(tempfile.gettempdir()) / "kestrine-bench" / f"config-{args.mb:g}mb.json"
        json_path.write_text(sets[f"config ({args.mb:g} MB)"].json[0], encoding="utf-8")
        mem = {}
        for name, (kind, _) in loaders.items():
            if name in SLOW and not args.full:
                continue
            try:
                mem[name] = peak_memory(name, big_path if kind == "yaml" else json_path)
            except subprocess.CalledProcessError as exc:
                print(f"  {name}: memory run failed: {exc.stderr.strip()[-200:]}")
        base = mem.get("json.loads")
        for name, mb in mem.items():
            ratio = f"{mb / base:.2f}x json.loads" if base else ""
            lines.append(f"  {name:<20} {mb:>8.1f} MB   {ratio}")
        if "kestrine" in mem and "kestrine annotated" in mem:
            ratio = mem["kestrine annotated"] / mem["kestrine"]
            lines.append(f"  target: annotated vs plain memory {ratio:>8.2f}x   "
                         f"(target <= 3x: {'met' if ratio <= 3.0 else 'NOT met'})")

    lines += scalar_table(args.scalars, args.repeat)
    lines += format_thread_table(thread_table(small.yaml[0]))

    text = "\n".join(lines)
    print(text)
    args.out.mkdir(parents=True, exist_ok=True)
    (args.out / "bench_load.txt").write_text(text.lstrip() + "\n", encoding="utf-8")
    chart(results, args.out)


if __name__ == "__main__":
    main()
