#!/usr/bin/env python3
"""Configuration directives: expansion speed, reads, memory and the
directory walk.

usage: bench_includes.py [--files N] [--mb MB] [--repeat N] [--out DIR]

Inputs, written into a temporary directory:
  tree    N files (default 2000) of configuration-like YAML (services from
          bench/gen_config.py, unique top-level keys), MB megabytes in all
          (default 10), in nested directories conf/gNN/sNN/fNNNN.yaml; the
          top-level text is "services: !include_dir_merge_named conf" loaded
          with OPT_INCLUDES | OPT_INCLUDE_DIR_RECURSIVE;
  concat  the same files put together into one text: a mapping equal to the
          expanded "services" (checked), loaded on the plain road;
  walk    directories of 1,000 to 16,000 files that are not YAML: the
          listing is walked and sorted, nothing is loaded;
  secrets 200 files in 20 directories under 4 groups, 5 `!secret` tags
          each (1,000 in all), names defined in the file's own directory,
          its group and the root: 25 secrets.yaml files;
  write   the 2,000 files of `tree` included one by one (`!include`) into
          a round-trip document, unedited;
  real    ../shared/testdata/config-trees/frenck-home-assistant-config, if
          present (its configuration.yaml, directives on).

Figures:
  expansion + load   MB/s of included text (best of --repeat after a warm-up),
                     against the plain load of `concat`;
  round-trip doc     the same tree loaded as a round-trip document: the
                     expansion without the conversion to Python objects;
  bytes read         read(2) bytes during one expanded load (/proc/self/io
                     rchar) over the included bytes: 1.00 means each file
                     was read once;
  peak memory        growth of the peak resident set during one load, in a
                     fresh process each, expanded against plain `concat`;
  walk               microseconds per directory entry;
  secrets            the load with OPT_SECRETS against the same tree with
                     the tags left unresolved (per-tag cost), and bytes
                     read over included + secrets bytes (1.00: each
                     secrets.yaml read once);
  write              dump_includes_map against reading the same files; save()
                     with one included file edited; dump_includes_map with
                     a pair added to every file.
The table is printed and written to DIR/bench_includes.txt (default
bench/results).
"""

import argparse
import gc
import pathlib
import random
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
REAL_TREE = REPO.parent / "shared" / "testdata" / "config-trees" / "frenck-home-assistant-config"
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(REPO / "python"))

import kestrine  # noqa: E402
from bench_load import peak_rss_mb  # noqa: E402
from gen_config import service  # noqa: E402

OPTIONS = kestrine.OPT_INCLUDES | kestrine.OPT_INCLUDE_DIR_RECURSIVE
TOP = "services: !include_dir_merge_named conf\n"


def generate_tree(root, files, megabytes):
    """Writes the tree; returns the included bytes and the concatenated text."""
    rng = random.Random(20240607)
    per_file = int(megabytes * 1e6 / files)
    parts = []
    n = 0
    for i in range(files):
        path = root / "conf" / f"g{i // 100:02d}" / f"s{i // 10 % 10:02d}" / f"f{i:04d}.yaml"
        path.parent.mkdir(parents=True, exist_ok=True)
        chunks, size = [], 0
        while size < per_file:
            block = service(rng, n)
            n += 1
            chunks.append(block)
            size += len(block.encode())
        text = "".join(chunks)
        path.write_text(text)
        parts.append(text)
    concat = "".join(parts)
    return len(concat.encode()), concat


def best_time(fn, repeat):
    fn()
    best = float("inf")
    for _ in range(repeat):
        gc.collect()
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def read_bytes_during(fn):
    def rchar():
        with open("/proc/self/io") as f:
            for line in f:
                if line.startswith("rchar:"):
                    return int(line.split()[1])
        return 0
    before = rchar()
    fn()
    return rchar() - before


def memory_child(kind, root):
    root = pathlib.Path(root)
    if kind == "expanded":
        def fn():
            return kestrine.loads(TOP, option=OPTIONS, include_dir=str(root))
    else:
        text = (root / "concat.yaml").read_text()

        def fn():
            return kestrine.loads(text)
    kestrine.loads("a: 1\n")
    gc.collect()
    before = peak_rss_mb(reset=True)
    result = fn()
    after = peak_rss_mb()
    del result
    print(after - before)


def peak_memory(kind, root):
    out = subprocess.run([sys.executable, __file__, "--memory-child", kind, str(root)],
                         check=True, capture_output=True, text=True).stdout
    return float(out.strip().splitlines()[-1])


def walk_cost(root, entries, repeat):
    directory = root / f"walk{entries}"
    directory.mkdir()
    for i in range(entries):
        (directory / f"entry{i:06d}.txt").touch()
    text = f"x: !include_dir_list walk{entries}\n"
    seconds = best_time(lambda: kestrine.loads(text, option=kestrine.OPT_INCLUDES, include_dir=str(root)), repeat)
    return seconds / entries * 1e6


def generate_secrets_tree(root):
    """Writes the secrets tree; returns its top-level text and the bytes of
    the included and the secrets files."""
    top = root / "sec"
    included = secrets = 0

    def put(path, text):
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
        return len(text.encode())
    secrets += put(top / "secrets.yaml", "".join(f"root{i}: root value {i}\n" for i in range(50)))
    n = 0
    for g in range(4):
        secrets += put(top / f"g{g}" / "secrets.yaml", "".join(f"group{i}: group {g} value {i}\n" for i in range(20)))
        for d in range(5):
            directory = top / f"g{g}" / f"s{d}"
            secrets += put(directory / "secrets.yaml", "".join(f"own{i}: {g}.{d} value {i}\n" for i in range(20)))
            for _ in range(10):
                tags = [f"own{n % 20}", f"group{n % 20}", f"root{n % 50}", f"root{(n + 7) % 50}", f"own{(n + 3) % 20}"]
                included += put(directory / f"f{n:03d}.yaml",
                                f"f{n}:\n" + "".join(f"  k{j}: !secret {t}\n" for j, t in enumerate(tags)))
                n += 1
    return "all: !include_dir_merge_named sec\n", included, secrets


def secrets_figures(root, repeat):
    text, included, secrets = generate_secrets_tree(root)
    options = kestrine.OPT_INCLUDES | kestrine.OPT_INCLUDE_DIR_RECURSIVE

    def with_secrets():
        return kestrine.loads(text, option=options | kestrine.OPT_SECRETS, include_dir=str(root))

    def unresolved():
        return kestrine.loads(text, option=options, include_dir=str(root))
    tags = sum(len(v) for v in with_secrets()["all"].values())
    t_secrets = best_time(with_secrets, repeat)
    t_plain = best_time(unresolved, repeat)
    # Less what reading /proc/self/io itself counts.
    ratio = (read_bytes_during(with_secrets) - read_bytes_during(lambda: None)) / (included + secrets)
    return [f"secrets: {tags} !secret tags in 200 files, 25 secrets.yaml files",
            f"  load with secrets   {t_secrets * 1e3:7.2f} ms   (tags unresolved {t_plain * 1e3:.2f} ms: "
            f"{(t_secrets - t_plain) / tags * 1e6:.2f} us per tag)",
            f"  bytes read / (included + secrets bytes)   {ratio:.3f}"]


def write_back_figures(root, files, repeat):
    paths = sorted((root / "conf").rglob("*.yaml"))[:files]
    text = "".join(f"f{i}: !include {p.relative_to(root)}\n" for i, p in enumerate(paths))
    doc = kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP | kestrine.OPT_INCLUDES, include_dir=str(root))
    written = kestrine.dump_includes_map(doc)
    assert len(written) == len(paths) and all(written[str(p)] == p.read_bytes() for p in paths)
    t_map = best_time(lambda: kestrine.dump_includes_map(doc), repeat)
    t_read = best_time(lambda: [p.read_bytes() for p in paths], repeat)
    # Edited: one included file (save writes it), then a pair added to every
    # file (each one rendered, its other entries copied as read).
    doc.set_origin(str(root / "main.yaml"))
    doc["f0"]["bench_edit"] = 0
    t_save = best_time(doc.save, repeat)
    for i in range(1, len(paths)):
        doc[f"f{i}"]["bench_edit"] = i
    t_edited = best_time(lambda: kestrine.dump_includes_map(doc), repeat)
    return [f"write-back: {len(paths)} included files, unedited",
            f"  dump_includes_map   {t_map * 1e3:7.2f} ms   (reading the files {t_read * 1e3:.2f} ms: "
            f"ratio {t_map / t_read:.2f})",
            f"  save, one file edited             {t_save * 1e3:7.2f} ms",
            f"  dump_includes_map, every file edited   {t_edited * 1e3:7.2f} ms"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--mb", type=float, default=10.0)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--out", default=str(HERE / "results"))
    parser.add_argument("--memory-child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_child:
        memory_child(*args.memory_child)
        return 0

    lines = []
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        included, concat = generate_tree(root, args.files, args.mb)
        (root / "concat.yaml").write_text(concat)

        def expanded():
            return kestrine.loads(TOP, option=OPTIONS, include_dir=str(root))

        def plain():
            return kestrine.loads(concat)
        assert expanded()["services"] == plain(), "the expanded tree differs from the concatenated text"

        mb = included / 1e6
        t_expanded = best_time(expanded, args.repeat)
        t_plain = best_time(plain, args.repeat)
        t_round_trip = best_time(lambda: kestrine.loads(TOP, option=OPTIONS | kestrine.OPT_ROUND_TRIP,
                                                        include_dir=str(root)), args.repeat)
        ratio_read = read_bytes_during(expanded) / included
        mem_expanded = peak_memory("expanded", root)
        mem_plain = peak_memory("concat", root)
        lines.append(f"tree: {args.files} files, {mb:.2f} MB included, !include_dir_merge_named over nested directories")
        lines.append(f"  expansion + load   {mb / t_expanded:8.1f} MB/s   ({t_expanded * 1e3:.1f} ms)")
        lines.append(f"  plain load concat  {mb / t_plain:8.1f} MB/s   ({t_plain * 1e3:.1f} ms)")
        lines.append(f"  round-trip doc     {mb / t_round_trip:8.1f} MB/s   ({t_round_trip * 1e3:.1f} ms: "
                     "expansion, no conversion)")
        lines.append(f"  bytes read / included bytes   {ratio_read:.3f}")
        lines.append(f"  peak memory  expanded {mem_expanded:.1f} MB, plain concat {mem_plain:.1f} MB, "
                     f"ratio {mem_expanded / mem_plain:.2f}")
        lines.append("walk (directories of files that are not YAML):")
        for entries in (1000, 4000, 16000):
            lines.append(f"  {entries:6d} entries   {walk_cost(root, entries, args.repeat):6.2f} us per entry")
        lines.extend(write_back_figures(root, args.files, args.repeat))
        lines.extend(secrets_figures(root, args.repeat))

    config = REAL_TREE / "configuration.yaml"
    if config.exists():
        text = config.read_bytes()
        seconds = best_time(lambda: kestrine.loads(text, option=OPTIONS, include_dir=str(REAL_TREE),
                                                   root_path=str(config)), args.repeat)
        lines.append(f"real tree (frenck-home-assistant-config): {seconds * 1e3:.2f} ms per load")

    report = "\n".join(lines) + "\n"
    print(report, end="")
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    (out / "bench_includes.txt").write_text(report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
