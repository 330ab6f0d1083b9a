"""Source positions on every road that reports them, checked against a
line/column count made from the byte offsets by brute force.

Every node of the YAML test suite's documents and of the bench corpus is
checked: annotated containers and scalars (loads and loads_all), round-trip
node handles, views and `locate`, positions of files read through include
tags, of syntax errors and of schema errors.  A line ends at LF, CR or CR LF;
a column counts characters; an end position lies just past the last
character.  Hand-checked positions of small texts live beside each road's
own tests; this sweep catches what only long or unusual texts show (ends
many lines below the start, multi-byte characters, CR line breaks, a
byte-order mark)."""

import bisect
import pathlib
import re

import pytest

import kestrine
from suite_data import SUITE, suite_cases

DATA = pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "testdata"
CORPUS = DATA / "bench-corpus"
CONFIG = DATA / "config-trees" / "frenck-home-assistant-config"
NUM = kestrine.OPT_ANNOTATED | kestrine.OPT_ANNOTATE_NUMBERS
RT = kestrine.OPT_ROUND_TRIP


class Lines:
    """(line, column), both 0-based, of any byte offset of a UTF-8 text."""

    def __init__(self, data):
        self.data = data
        self.starts = [3 if data.startswith(b"\xef\xbb\xbf") else 0]
        self.starts += [m.end() for m in re.finditer(rb"\r\n|\r|\n", data)]

    def at(self, offset):
        assert 0 <= offset <= len(self.data), offset
        line = max(bisect.bisect_right(self.starts, offset) - 1, 0)
        start = min(self.starts[line], offset)
        # Decoding fails when the offset splits a character.
        return line, len(self.data[start:offset].decode("utf-8"))


def _made_texts():
    """Ends far below their starts, characters of two to three bytes, a tab,
    and every kind of line break, with and without a byte-order mark."""
    body = ("k\u00e4y: |\n" + "".join(f"  line {i} \u00e9\n" for i in range(40))
            + "flow: [a, {b: c}, \"d\u00f6\n  e\", [x]: y, \u00fc: \"\u00fc\tt\"]\n"
            + "plain: one\n  two \u4e09\n\n  four\n"
            + "seq:\n- \u00e0\n- - 1\n  - {z: [\n     2]}\n")
    return [(f"made {brk!r}{' with a mark' if mark else ''}", mark + body.replace("\n", brk).encode())
            for brk in ("\n", "\r\n", "\r") for mark in (b"", b"\xef\xbb\xbf")]


def _texts():
    """(name, UTF-8 bytes) of the made texts, every suite case and every
    corpus file."""
    out = _made_texts() + [(case, (folder / "in.yaml").read_bytes()) for case, folder in suite_cases()]
    if CORPUS.is_dir():
        out += [(str(p.relative_to(CORPUS)), p.read_bytes())
                for p in sorted(CORPUS.rglob("*")) if p.suffix in (".yaml", ".yml")]
    good = []
    for name, data in out:
        try:
            data.decode("utf-8")
        except UnicodeDecodeError:
            continue
        good.append((name, data))
    return good


TEXTS = _texts()
needs_texts = pytest.mark.skipif(len(TEXTS) == len(_made_texts()),
                                 reason="yaml-test-suite and bench corpus not present")


def _loads(load, data, option):
    try:
        return load(data, option=option)
    except kestrine.KestrineError:
        return None


# ---------------------------------------------------------------------------
# Annotated road


def _check_one(value, lines, where, written=True):
    """An annotated object's start and end against the count; with
    `written`, also that a one-line plain str reads as its source text."""
    start, end = value.__offset__, value.__end_offset__
    assert start <= end, (where, value)
    got = (value.__line__ - 1, value.__column__ - 1, value.__end_line__ - 1, value.__end_column__ - 1)
    assert got == lines.at(start) + lines.at(end), (where, repr(value)[:60])
    if written and getattr(value, "__style__", None) == "plain" and isinstance(value, str):
        text = lines.data[start:end].decode("utf-8")
        if "\n" not in text and "\r" not in text:
            assert text == value, where


def _check_annotated(value, lines, where, parent=None, seen=None):
    """Checks every annotated object below `value`; with `parent` (a
    container's (offset, end offset)), also that each lies inside it."""
    seen = set() if seen is None else seen
    if not hasattr(value, "__line__") or id(value) in seen:
        return
    seen.add(id(value))
    _check_one(value, lines, where)
    start, end = value.__offset__, value.__end_offset__
    if parent is not None:
        assert parent[0] <= start and end <= parent[1], (where, repr(value)[:60], parent)
    if isinstance(value, (dict, list)):
        inside = (start, end) if parent is not None else None
        for child in (x for pair in value.items() for x in pair) if isinstance(value, dict) else value:
            _check_annotated(child, lines, where, inside, seen)


def test_annotated_positions_match_a_brute_force_count():
    checked = 0
    for name, data in TEXTS:
        lines = Lines(data)
        # Aliases and merge keys place one object in several containers.
        nested = b"*" not in data
        first = _loads(kestrine.loads, data, NUM)
        documents = _loads(kestrine.loads_all, data, NUM) or []
        for value in [first, *documents]:
            _check_annotated(value, lines, name, (0, len(data)) if nested else None)
            checked += 1
    assert checked > len(TEXTS) // 2


# ---------------------------------------------------------------------------
# Round-trip road: node handles, locate and views


def _positions(handle):
    line, column, end_line, end_column = handle.range()
    assert (line, column) == (handle.line, handle.column)
    return (line - 1, column - 1, end_line - 1, end_column - 1), handle.offset, handle.end_offset


def _check_nodes(doc, handle, snapshot, path, lines_of, where):
    """Every node below `handle` (whose snapshot is `snapshot`); `lines_of`
    gives the Lines of the file a handle's node was read from."""
    got, start, end = _positions(handle)
    assert start <= end and got == lines_of(handle).at(start) + lines_of(handle).at(end), (where, path, handle)
    if path:
        assert _positions(doc.locate(path)) == (got, start, end), (where, path)
    if snapshot.kind == "mapping":
        keys = [k.value for k, _ in snapshot.value]
        for key, value in snapshot.value:
            # A step names a scalar key by its text: str keys read as written,
            # once (an empty key written as a bare tag is no scalar).
            if (key.kind, isinstance(key.value, str)) == ("scalar", True) and key.style != "null" \
                    and keys.count(key.value) == 1:
                _check_nodes(doc, handle[key.value], value, path + [key.value], lines_of, where)
    elif snapshot.kind == "sequence":
        for index, item in enumerate(snapshot.value):
            _check_nodes(doc, handle[index], item, path + [index], lines_of, where)


def test_round_trip_positions_match_a_brute_force_count():
    checked = 0
    for name, data in TEXTS:
        lines = Lines(data)
        for doc in _loads(kestrine.loads_all, data, RT) or []:
            snapshot = doc.to_tree()
            if snapshot is None:
                continue
            _check_nodes(doc, doc.node, snapshot, [], lambda handle: lines, name)
            assert doc.range() == doc.node.range()
            view = doc[0] if snapshot.kind == "sequence" and snapshot.value else None
            if isinstance(view, kestrine.KestrineDocumentView):
                assert view.range() == doc.node[0].range()
            checked += 1
    assert checked > len(TEXTS) // 2


# ---------------------------------------------------------------------------
# Files read through include tags: positions count in the file they name


@pytest.mark.skipif(not (CONFIG / "configuration.yaml").exists(), reason="config trees not present")
def test_included_positions_count_in_their_own_file():
    config = CONFIG / "configuration.yaml"
    files = {}

    def lines_of(name):
        if name not in files:
            files[name] = Lines(pathlib.Path(name).read_bytes())
        return files[name]

    def load(option):
        return kestrine.loads(config.read_bytes(), option=option | kestrine.OPT_INCLUDES
                              | kestrine.OPT_INCLUDE_DIR_RECURSIVE, include_dir=str(CONFIG), root_path=str(config))

    pending = [load(NUM)]
    while pending:
        v = pending.pop()
        if hasattr(v, "__line__"):
            # (Keys made from file names are written nowhere.)
            _check_one(v, lines_of(v.__file__), v.__file__, written=False)
        if isinstance(v, dict):
            pending += [*v.keys(), *v.values()]
        elif isinstance(v, list):
            pending += v
    assert len(files) > 5
    doc = load(RT)
    _check_nodes(doc, doc.node, doc.to_tree(), [], lambda handle: lines_of(handle.file), str(config))


# ---------------------------------------------------------------------------
# Errors


@pytest.mark.skipif(not SUITE.is_dir(), reason="yaml-test-suite not present")
def test_syntax_error_positions_lie_inside_the_text():
    checked = 0
    for case, folder in suite_cases():
        if not (folder / "error").exists():
            continue
        data = (folder / "in.yaml").read_bytes()
        lines = Lines(data)
        for option in (0, NUM, RT):
            with pytest.raises(kestrine.KestrineParseError) as info:
                kestrine.loads(data, option=option)
            line, column = info.value.line - 1, info.value.column - 1
            assert 0 <= line < len(lines.starts), case
            line_end = lines.starts[line + 1] if line + 1 < len(lines.starts) else len(data)
            assert 0 <= column <= len(data[lines.starts[line]:line_end].decode("utf-8")), case
        checked += 1
    assert checked > 50


def _first_leaf(doc):
    """The path of the first scalar leaf when every step is a str key or an
    index 0 (so a schema built for it fails there first) and the leaf is
    written (empty content has no place of its own), else None."""
    for path, value in doc.walk():
        if value is not None and all(isinstance(s, str) or (type(s) is int and s == 0) for s in path):
            return list(path)
        return None
    return None


@needs_texts
def test_schema_error_is_located_at_the_failing_node():
    checked = 0
    for name, data in TEXTS[::3]:
        if any(mark in data for mark in (b"*", b"<<", b"%YAML")):
            continue
        docs = _loads(kestrine.loads_all, data, RT)
        if not docs or len(docs) != 1:
            continue
        doc = docs[0]
        path = _first_leaf(doc)
        if not path:
            continue
        schema = False
        for step in reversed(path):
            schema = {"properties": {step: schema}} if isinstance(step, str) else {"items": schema}
        node = doc.locate(path)
        for option in (0, NUM, RT):
            with pytest.raises(kestrine.KestrineSchemaError) as info:
                kestrine.loads(data, option=option, schema=schema)
            assert (info.value.line, info.value.column) == (node.line, node.column), (name, path, option)
        checked += 1
    assert checked > 50
