#!/usr/bin/env python3
"""Editing a round-trip document: how little text one edit changes, and how
fast edited documents render.

usage: bench_edit.py [--mb MB] [--repeat N] [--edits N] [--all-leaves] [--show N] [--out DIR]

Diff minimality, over every .yaml/.yml file of ../shared/testdata/bench-corpus
that loads with OPT_ROUND_TRIP and holds a scalar leaf that is not an alias:
one leaf per file, picked at random (seeded by the file's name), gets a new
value of its kind (a str gains a suffix, a number grows, a bool flips, a null
becomes a str) through its node handle.  A file counts as minimal when every
line that differs between the text read and to_yaml() lies within the lines
of that scalar (its own line for a one-line scalar), and the rendered text
loads to the edited data.  With --all-leaves every leaf of every file is
edited once (each on a fresh load), which reports the share over all edits.
Files that are not minimal are listed by cause; --show N prints the first N
diffs.

Speed, on the generated configuration file of bench_load.py (MB megabytes,
default 20), best of --repeat runs, each on a document loaded outside the
timer:
  one edit, then to_yaml  to_yaml() of a document with one scalar edit
  full re-render          the same document written from its nodes alone
                          (a view of the root, whose to_yaml never copies)
  N edits + to_yaml       --edits (default 10000) scalar edits spread over
                          the services, then to_yaml()
  dumps (plain road)      kestrine.dumps of the same data as plain objects
Targets: one edit + to_yaml at least 3x faster than the full re-render; N
edits + to_yaml no slower than dumps.  The report is printed and written to
DIR/bench_edit.txt (default bench/results).
"""

import argparse
import collections
import difflib
import gc
import pathlib
import random
import sys
import time
import zlib

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
sys.path.insert(0, str(HERE))
sys.path.append(str(REPO / "python"))  # PYTHONPATH, when set, comes first

import kestrine  # noqa: E402
from bench_load import corpus_files, generated  # noqa: E402
from bench_schema import write_report  # noqa: E402

RT = kestrine.OPT_ROUND_TRIP


# --- diff minimality -----------------------------------------------------------------

def new_value(value):
    if isinstance(value, bool):
        return not value
    if isinstance(value, int):
        return value + 1
    if isinstance(value, float):
        return value + 1.5 if value == value else 0.5
    if isinstance(value, str):
        return value + "-x"
    return "set"


def scalar_leaves(doc):
    """(root, path) of every leaf that is a scalar node, root None for a single document."""
    roots = [None] if len(doc) == 1 or not isinstance(doc.to_dict(), list) else range(len(doc))
    out = []
    for root in roots:
        try:
            base = doc if root is None else doc[root]
            records = base.walk() if root is not None else doc.walk()
        except Exception:  # a scalar document, or an alias bomb: nothing to edit
            continue
        for path, _ in records:
            node = handle(doc, root, path)
            if node is not None and node.style not in ("alias",) and node.kind_is_scalar():
                out.append((root, path))
    return out


def handle(doc, root, path):
    node = doc.node if root is None else doc[root].node
    try:
        for step in path:
            node = node[step]
    except Exception:
        return None
    return NodeView(node)


class NodeView:
    """A node handle with the two facts the measure needs."""

    def __init__(self, node):
        self.node = node
        self.style = node.style

    def kind_is_scalar(self):
        return self.style in ("plain", "single", "double", "literal", "folded", "null")


def set_path(data, path, value):
    for step in path[:-1]:
        data = data[step]
    data[path[-1]] = value


def changed_old_lines(old, new):
    """0-based numbers of the old lines that differ, and whether lines were only inserted elsewhere."""
    a, b = old.splitlines(), new.splitlines()
    lines, inserts = set(), set()
    for tag, i1, i2, _, _ in difflib.SequenceMatcher(None, a, b, autojunk=False).get_opcodes():
        if tag == "equal":
            continue
        if i1 == i2:
            inserts.add(i1)
        lines.update(range(i1, i2))
    return lines, inserts


def edit_once(text, root, path):
    """('ok' | cause, diff) for one edit of a fresh load."""
    doc = kestrine.loads(text, option=RT)
    node = handle(doc, root, path).node
    first, _, last, _ = node.range()
    empty = node.style == "null" and node.offset == 0
    if empty and path:
        # An empty value has no place of its own: it stands on its key's
        # line, somewhere within the collection that holds it.
        first, _, last, _ = handle(doc, root, path[:-1]).node.range()
        first = last = -1 if first == last else first
    value = node.value
    node.value = new_value(value)
    out = doc.to_yaml()
    expected = kestrine.loads(text)
    if root is None:
        if path:
            set_path(expected, path, new_value(value))
        else:
            expected = new_value(value)
    else:
        expected = kestrine.loads_all(text)
        set_path(expected[root], path, new_value(value)) if path else expected.__setitem__(root, new_value(value))
    try:
        reread = kestrine.loads(out) if root is None else kestrine.loads_all(out)
    except Exception as exc:
        return f"does not load: {type(exc).__name__}", out
    if reread != expected:
        return "loads to other data", out
    old_text, new_text = text.decode("utf-8-sig"), out.decode("utf-8-sig")
    lines, inserts = changed_old_lines(old_text, new_text)
    # The edited scalar's lines, 0-based; a key's value may also begin on
    # the key's line.
    allowed = set(range(first - 1, last))
    if first == -1 or empty:
        allowed = lines if len(lines) == 1 and not inserts else set()
    if lines <= allowed and inserts <= allowed | {last}:
        return "ok", out
    return "other lines change", out


def diff_text(text, out):
    return "\n".join(difflib.unified_diff(text.decode("utf-8-sig").splitlines(), out.decode("utf-8-sig").splitlines(),
                                          "read", "written", lineterm="", n=1))


def minimality(all_leaves, show):
    files = corpus_files()
    per_file = collections.Counter()
    per_edit = collections.Counter()
    causes = collections.defaultdict(list)
    shown = []
    for path in files:
        text = path.read_bytes()
        try:
            doc = kestrine.loads(text, option=RT)
            kestrine.loads_all(text)
            leaves = scalar_leaves(doc)
        except Exception:
            continue
        if not leaves:
            continue
        rng = random.Random(zlib.crc32(path.name.encode()))
        picked = rng.choice(leaves)
        cause, out = edit_once(text, *picked)
        per_file[cause] += 1
        if cause != "ok":
            causes[cause].append(path.relative_to(path.parents[1]))
            if len(shown) < show:
                shown.append(f"--- {path.name}: {cause}, edit at {list(picked[1])}\n{diff_text(text, out)}")
        if all_leaves:
            for leaf in leaves:
                per_edit[edit_once(text, *leaf)[0]] += 1
    lines = []
    total = sum(per_file.values())
    lines.append(f"diff minimality: {per_file['ok']} of {total} corpus files "
                 f"({100.0 * per_file['ok'] / max(total, 1):.1f}%) change only the edited scalar's lines")
    for cause, names in sorted(causes.items()):
        lines.append(f"  {cause}: {len(names)}: " + ", ".join(str(n) for n in names[:12]) +
                     (" ..." if len(names) > 12 else ""))
    if all_leaves:
        edits = sum(per_edit.values())
        lines.append(f"every leaf: {per_edit['ok']} of {edits} edits ({100.0 * per_edit['ok'] / max(edits, 1):.1f}%) "
                     "minimal; " + ", ".join(f"{c}: {n}" for c, n in per_edit.items() if c != "ok"))
    return lines, shown


# --- speed ---------------------------------------------------------------------------

def timed(prepare, run, repeat):
    """Best time of run(prepare()) over `repeat` runs after a warm-up run; each
    run gets a fresh state, made outside the timer (and dropped before the next
    is made, so that runs do not compete for memory)."""
    best = None
    for attempt in range(repeat + 1):
        state = prepare()
        gc.collect()
        gc.disable()
        try:
            start = time.perf_counter()
            run(state)
            elapsed = time.perf_counter() - start
        finally:
            gc.enable()
        del state
        if attempt > 0:
            best = elapsed if best is None else min(best, elapsed)
    return best


def speed(mb, repeat, edits):
    text = generated(mb).read_bytes()
    data = kestrine.loads(text)
    services = list(data["services"])
    rng = random.Random(20240607)
    picks = [(rng.choice(services), rng.choice(("replicas", "timeout", "region", "enabled"))) for _ in range(edits)]

    def edited_once():
        doc = kestrine.loads(text, option=RT)
        doc["services"][services[len(services) // 2]]["replicas"] = 7
        return doc

    def edit_many(doc):
        svc = doc["services"]
        for name, field in picks:
            svc[name][field] = 1
        doc.to_yaml()

    one = timed(edited_once, lambda doc: doc.to_yaml(), repeat)
    # A view of the root writes the whole tree from its nodes.
    full = timed(lambda: kestrine.loads(text + b"---\n0\n", option=RT), lambda doc: doc[0].to_yaml(), repeat)
    many = timed(lambda: kestrine.loads(text, option=RT), edit_many, repeat)
    dumps_time = timed(lambda: None, lambda _: kestrine.dumps(data), repeat)
    rows = [
        ("one edit, then to_yaml", one),
        ("full re-render", full),
        (f"{edits} edits + to_yaml", many),
        ("dumps (plain road)", dumps_time),
    ]
    lines = [f"speed on the generated {mb:g} MB configuration (best of {repeat}):"]
    lines += [f"  {name:<26}{seconds * 1000:10.1f} ms" for name, seconds in rows]
    lines.append(f"targets: full re-render / one edit's to_yaml = {full / one:.1f}x (at least 3x); "
                 f"{edits} edits + to_yaml / dumps = {many / dumps_time:.2f} (at most 1)")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mb", type=float, default=20)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--edits", type=int, default=10_000)
    parser.add_argument("--all-leaves", action="store_true")
    parser.add_argument("--show", type=int, default=0)
    parser.add_argument("--no-speed", action="store_true")
    parser.add_argument("--out", default=str(HERE / "results"))
    args = parser.parse_args()
    lines, shown = minimality(args.all_leaves, args.show)
    if not args.no_speed:
        lines += [""] + speed(args.mb, args.repeat, args.edits)
    write_report(lines, args.out, "bench_edit.txt")
    for block in shown:
        print(block)


if __name__ == "__main__":
    main()
