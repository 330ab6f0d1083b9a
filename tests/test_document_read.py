"""Reading a round-trip document: item access on documents and views, node
handles, multi-document streams, aliases, snapshots, the leaf walk, texts
read from CRLF with a byte-order mark, and readers on several threads.
Borrow conflicts with an edit and stale handles are covered by the C++ tests
(tests/cpp/bridge_document_test.cpp)."""

import sys
import threading

import pytest

import kestrine

from document_support import RT, load, outcome


# ---------------------------------------------------------------------------
# Navigation


@pytest.mark.parametrize("text, read, expected", [
    ("a: 1\na: 2\n", lambda d: (d["a"], d.keys(), len(d), "a" in d), (2, ["a"], 1, True)),
    # Python equality picks the pair; `in` compares key texts.
    ("1: x\n", lambda d: (d[1], d[True], outcome(lambda: d["1"]), 1 in d, "1" in d),
     ("x", "x", "KeyError: '1'", False, True)),
    # Intended: a step keeps only the key text, so the int 1 (which matches
    # the plain key) reaches the last pair with the text 1, the quoted one.
    ("1: a\n'1': b\n", lambda d: (d[1], d["1"]), ("b", "b")),
    ("- a\n- b\n", lambda d: (d[1], outcome(lambda: d[5]), outcome(lambda: d["x"]), outcome(lambda: d[-1]), len(d)),
     ("b", "IndexError: index out of range", "IndexError: index out of range",
      "TypeError: mapping keys must be str or int", 2)),
    ("hello\n", lambda d: (len(d), outcome(lambda: d["a"]), outcome(d.keys), d.to_dict()),
     (1, "KeyError: 'a'", "TypeError: node is not a mapping", "hello")),
    ("a: 1\n", lambda d: (d.get("zz", None), d.get(-1, 0), outcome(lambda: d.get("a"))),
     (None, 0, "TypeError: get() missing required argument 'default' (pos 2)")),
    ("[1, 2]: x\nb: {c: [1, {d: 2}]}\n", lambda d: (d.keys(), d["b"]["c"][1]["d"], d["b"]["c"][0]),
     ([[1, 2], "b"], 2, 1)),
    ("servers:\n  - port: 1\n  - port: 2\n",
     lambda d: (d.locate(["servers", 1, "port"]).value, outcome(lambda: d.locate("port")), d.locate(["missing"]),
                d.locate([0]), outcome(lambda: d.locate([1.5])), repr(d.locate([]))),
     (2, "TypeError: locate() takes a sequence of str/int path segments, not a str", None, None,
      "TypeError: mapping keys must be str or int", "KestrineNode(mapping)")),
])
def test_document_item_access(text, read, expected):
    assert read(load(text)) == expected


def test_views_are_live_proxies():
    doc = load("# c\nm: {b: [1, {c: 2}], s: x}\nl: [a, b]\n")
    m, lst = doc["m"], doc["l"]
    assert (repr(m), repr(lst)) == ("KestrineDocumentView(mapping)", "KestrineDocumentView(sequence)")
    assert (len(lst), lst[0], outcome(lambda: lst["x"]), outcome(lst.keys), "a" in lst, 0 in lst) == \
        (2, "a", "IndexError: index out of range", "TypeError: node is not a mapping", False, False)
    assert (m.keys(), len(m), "s" in m, m.get("nope", 0), m["b"][1]["c"]) == (["b", "s"], 2, True, 0, 2)
    assert m.walk() == [(("b", 0), 1), (("b", 1, "c"), 2), (("s",), "x")]
    assert m.unwrap() == m.to_dict() == {"b": [1, {"c": 2}], "s": "x"}
    assert m.range() == (2, 4, 2, 25)
    assert m.to_yaml() == b"{b: [1, {c: 2}], s: x}\n"
    assert m.node.value == m.to_dict() and m["b"].node.style == "flow"
    assert kestrine.dumps(lst) == kestrine.dumps(lst.to_dict()) and kestrine.to_json(m) == b'{"b":[1,{"c":2}],"s":"x"}'
    assert type(m).__module__ == "builtins" and not hasattr(m, "__dict__")


def test_reading_never_edits():
    text = "a: &x {k: v}   # c\nb: *x\nl: [1, 2]\n"
    doc = load(text)
    doc["a"]["k"], doc.to_dict(), doc.walk(), doc.to_tree(), doc.node["b"]["k"].value, doc.anchors
    assert doc.to_yaml() == text.encode()


# ---------------------------------------------------------------------------
# Node handles


def test_node_positions_styles_and_provenance():
    doc = load("port: 8080\nq: 'single'\nlit: |\n  x\nf: {a: 1}\nd: &d 1\ne: *d\nn:\n"
               "s: !!str 1\nc: !custom t\nsec: !secret db\n")
    port = doc.node["port"]
    assert (doc.node.line, doc.node.column, doc.node.range()[:2]) == (1, 1, (1, 1))
    assert (port.line, port.column, port.offset, port.end_offset, port.range()) == (1, 7, 6, 10, (1, 7, 1, 11))
    assert [doc.node[k].style for k in ("port", "q", "lit", "f", "e", "n")] == \
        ["plain", "single", "literal", "flow", "alias", "null"]
    assert [(doc.node[k].tag, doc.node[k].source_tag) for k in ("s", "c", "port")] == \
        [("!!str", None), ("!custom", "!custom"), (None, None)]
    sec = doc.node["sec"]
    assert (sec.is_secret, sec.is_env_var, sec.is_include, sec.source_target, sec.file) == (True, False, False, None, None)
    assert (doc.node["e"].is_alias, doc.node["d"].anchor, doc.node["d"].target, repr(doc.node["f"]["a"])) == \
        (True, "d", None, "KestrineNode(scalar)")
    assert [outcome(lambda k=k: doc.node["f"][k]) for k in (0, -1, 1.5)] == \
        ["KeyError: '0'", "TypeError: mapping keys must be str or int", "TypeError: mapping keys must be str or int"]
    assert outcome(lambda: load("s: [a]\n").node["s"]["x"]) == "IndexError: index out of range"
    assert load("a: 1\na: 2\n").node["a"].value == 2


def test_node_comments_follow_where_the_composer_keeps_them():
    doc = load("# top\na: 1  # one\n# above b\nb:\n  - # on the dash\n    # below the dash\n    k: v\n"
               "  - x\n# foot\n")
    n = doc.node
    assert (n.comment_before, n["a"].comment_before, n["a"].comment, n["b"].comment_before) == \
        ("top", "top", "one", "above b")
    item = n["b"][0]
    assert (item.comment, item.comment_before, item["k"].comment_before) == ("on the dash", None, "below the dash")
    assert (n.comment_after, n["b"][1].comment_after) == ("foot", None)


def test_includes_report_their_file_and_bind_aliases_per_file(tmp_path):
    (tmp_path / "part.yaml").write_text("inner: &x included\nuse: *x\n")
    doc = load("a: &x main\nb: !include part.yaml\nc: *x\n", option=RT | kestrine.OPT_INCLUDES,
               include_dir=str(tmp_path))
    assert doc.to_dict() == {"a": "main", "b": {"inner": "included", "use": "included"}, "c": "main"}
    b = doc.node["b"]
    assert (b.is_include, b.source_tag, b.source_target, b.file) == \
        (True, "!include", "part.yaml", str(tmp_path / "part.yaml"))
    assert (doc.node["c"].target.value, b["use"].target.value, doc.node["a"].file) == \
        ("main", "included", str(tmp_path / "<root>"))


# ---------------------------------------------------------------------------
# Multi-document streams


def test_multi_document_streams():
    empty = load("")
    assert (len(empty), empty.to_dict(), empty.walk(), empty.range(), empty.locate([]), "a" in empty,
            outcome(lambda: empty[0]), outcome(lambda: empty["a"]), empty.to_tree(), empty.anchors,
            empty.explicit_start, repr(empty), kestrine.to_json(empty)) == \
        (0, [], [], None, None, False, "IndexError: index out of range",
         "KeyError: 'multi-document access requires an integer index'", None, {}, False,
         "KestrineDocument(documents=0)", b"null")
    doc = load("k: &x first\nr: *x\n---\n- &x 1\n- *x\n- {y: *x}\n--- scalar\n")
    assert (doc[0]["k"], doc[1][0], doc[2], len(doc), doc.to_dict()) == \
        ("first", 1, "scalar", 3, [{"k": "first", "r": "first"}, [1, 1, {"y": 1}], "scalar"])
    assert (outcome(doc.keys), doc.walk(), doc.range(), "k" in doc, outcome(doc.to_tree)) == \
        ("TypeError: keys() is only available on a single mapping document", [(("k",), "first"), (("r",), "first")],
         (1, 1, 2, 4), False, "ValueError: to_tree() requires one document; use loads_all(option=OPT_ROUND_TRIP)")
    # An alias binds within its own document, also through handles made there.
    second = doc[1]
    assert (second[2]["y"], second.node[1].target.range(), second.node[1].target.value) == (1, (4, 6, 4, 7), 1)
    assert kestrine.to_json(doc) == b'[{"k":"first","r":"first"},[1,1,{"y":1}],"scalar"]'
    assert list(doc.anchors) == ["x"] and doc.anchors["x"].value == "first"  # the first document's anchors
    assert (load("---\na: 1\n").explicit_start, load("a: 1\n").explicit_start) == (True, False)


# ---------------------------------------------------------------------------
# Aliases


def laughs(levels):
    lines = ["l0: &l0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]"]
    lines += [f"l{i}: &l{i} [" + ", ".join([f"*l{i - 1}"] * 10) + "]" for i in range(1, levels)]
    return "\n".join(lines) + "\n"


def test_views_and_handles_through_aliases_address_the_anchored_node():
    doc = load("base: &b {x: 1, y: {z: 2}}\nref: *b\nm:\n  <<: *b\n  x: 3\n")
    ref = doc["ref"]
    assert (repr(ref), ref["y"]["z"], ref.keys(), len(ref), "x" in ref, ref.walk()) == \
        ("KestrineDocumentView(mapping)", 2, ["x", "y"], 2, True, [(("x",), 1), (("y", "z"), 2)])
    assert ref.node.anchor == "b" and ref["y"].node.range() == doc["base"]["y"].node.range()
    assert doc["m"].to_dict() == {"x": 3, "y": {"z": 2}}
    handle = doc.node["ref"]
    assert (handle.value, handle["y"]["z"].value, "x" in handle, handle.target.anchor) == \
        ({"x": 1, "y": {"z": 2}}, 2, True, "b")
    assert doc.walk()[-3:] == [(("ref",), {"x": 1, "y": {"z": 2}}), (("m", "<<"), {"x": 1, "y": {"z": 2}}),
                               (("m", "x"), 3)]


def test_an_alias_bomb_fails_cleanly_and_navigation_stays_cheap():
    doc = load(laughs(10))  # 10**10 nodes if expanded
    bomb = "ValueError: document expands to too many nodes (possible alias bomb)"
    for read in (doc.to_dict, doc.walk, lambda: doc["l9"].to_dict(), lambda: doc.node["l9"].value,
                 lambda: kestrine.to_json(doc), lambda: doc["l9"][3][0].walk()):
        assert outcome(read) == bomb
    # Navigating and reading small parts expands nothing.
    assert (repr(doc["l9"][3][0]), doc["l9"][3][0][0][0][0][0][0][0][0][0], doc["l3"].to_dict()[0][0][0][0]) == \
        ("KestrineDocumentView(sequence)", "lol", "lol")
    # Nesting alone is no limit, as on the plain road.
    chain = "a0: &a0 end\n" + "".join(f"a{i}: &a{i} [*a{i - 1}]\n" for i in range(1, 300))
    assert load(chain)["a299"].to_dict() == kestrine.loads(chain)["a299"]


def test_reads_share_one_object_per_anchor_within_the_plain_budget():
    # 1000 aliases of a 1000-item list stand for a million nodes, which every
    # road loads; every conversion of a document reads it too.
    text = "a: &a [" + ", ".join(["1"] * 1000) + "]\nb:\n" + "  - *a\n" * 1000
    expected = kestrine.loads(text)
    doc = load(text)
    whole = doc.to_dict()
    assert whole == expected and all(item is whole["a"] for item in whole["b"])
    for read, want in ((lambda: doc["b"].to_dict(), expected["b"]), (lambda: doc.node["b"].value, expected["b"]),
                       (lambda: len(doc.walk()), 2000), (lambda: kestrine.to_json(doc), kestrine.to_json(expected))):
        assert read() == want


def test_an_alias_inside_its_own_anchor_is_refused_at_load():
    with pytest.raises(kestrine.KestrineParseError, match="unknown alias"):
        load("a: &a [*a]\n")


# ---------------------------------------------------------------------------
# Snapshots and the leaf walk


def test_snapshots():
    tree = load("# top\na: 1\n# c\nb: ~\nc: \"123\"\nd:\nbase: &base {k: 1}\n"
                "m:\n  <<: *base\n  '<<': q\nl: [x]\nn: 1  # after\n").to_tree()
    assert (tree.kind, tree.style, tree.comment_before, tree.anchor) == ("mapping", "block", "top", None)
    pairs = {k.value: (k, v) for k, v in tree.value}
    assert [(v.kind, v.value, v.style) for v in (pairs[x][1] for x in "abcd")] == \
        [("scalar", 1, "plain"), ("scalar", None, "plain"), ("scalar", "123", "double"), ("scalar", None, "null")]
    assert (pairs["a"][1].comment_before, pairs["b"][0].comment_before, pairs["b"][1].comment_before) == \
        ("top", "c", "c")
    merge, quoted = pairs["m"][1].value
    assert (merge[0].is_merge_key, merge[1].kind, merge[1].value, quoted[0].is_merge_key) == (True, "alias", "base", False)
    items = pairs["l"][1]
    assert (items.kind, items.style, items.value[0].value, pairs["n"][1].comment) == ("sequence", "flow", "x", "after")
    assert pairs["base"][1].anchor == "base" and not hasattr(tree, "__dict__")
    deep = "[" * 900 + "]" * 900 + "\n"
    assert load(deep).to_tree().kind == "sequence"


@pytest.mark.parametrize("text, leaves", [
    ("a: 1\nb: [x, y]\n", [(("a",), 1), (("b", 0), "x"), (("b", 1), "y")]),
    ("x\n", [((), "x")]),
    ("{}\n", []),
    ("a: {}\nb: []\n[k]: skipped\n1: one\n", [((1,), "one")]),
    ("a: 1\na: 2\n", [(("a",), 1), (("a",), 2)]),
])
def test_walk(text, leaves):
    assert load(text).walk() == leaves


# ---------------------------------------------------------------------------
# CRLF text with a byte-order mark


def test_every_read_of_crlf_text_with_a_bom():
    lf = ("# head\nservers:  # trail\n  - name: a  # c\n    port: 1\n  # before b\n  - name: 'b'\n"
          "    text: |\n      two\n      lines\n# foot\n")
    crlf = "\ufeff" + lf.replace("\n", "\r\n")
    plain, doc = load(lf), load(crlf.encode())
    assert doc.to_yaml() == crlf.encode()
    assert (doc.to_dict(), doc.walk(), doc.keys(), len(doc)) == (plain.to_dict(), plain.walk(), ["servers"], 1)
    servers = doc["servers"]
    assert (servers[1]["text"], servers.walk(), servers.to_dict()) == ("two\nlines\n", plain["servers"].walk(),
                                                                       plain["servers"].to_dict())
    n, p = doc.node, plain.node
    for path in ([], ["servers"], ["servers", 0, "name"], ["servers", 1], ["servers", 1, "text"]):
        a, b = doc.locate(path), plain.locate(path)
        assert (a.comment, a.comment_before, a.comment_after, a.line, a.column, a.range(), a.value, a.style) == \
            (b.comment, b.comment_before, b.comment_after, b.line, b.column, b.range(), b.value, b.style), path
    assert (n.comment_before, n["servers"].comment, n["servers"][1].comment_before, n.comment_after) == \
        ("head", "trail", "before b", "foot")
    # Byte offsets count the mark and the carriage returns.
    assert (n["servers"].offset, p["servers"].offset) == (3 + 8 + 19 + 2, 7 + 18 + 2)
    t, u = doc.to_tree(), plain.to_tree()
    assert (t.comment_before, t.comment_after, t.value[0][1].comment) == (u.comment_before, u.comment_after, "trail")
    assert b"\r" not in servers[1].to_yaml().replace(b"\r\n      two\r\n      lines\r\n", b"")


# ---------------------------------------------------------------------------
# Threads


def test_readers_on_four_threads(monkeypatch):
    monkeypatch.setattr(sys, "getswitchinterval", sys.getswitchinterval)
    sys.setswitchinterval(1e-6)
    doc = load("".join(f"s{i}: {{port: {i}, tags: [a, b], ref: *x}}\n" if i else "s0: &x {port: 0}\n"
                       for i in range(200)))
    expected, walked = doc.to_dict(), doc.walk()

    class Key(str):
        """A key compared by Python equality, which reads the document meanwhile."""

        def __eq__(self, other):
            doc["s1"]["port"]
            return str.__eq__(self, other)

        __hash__ = str.__hash__

    errors = []

    def reader(n):
        try:
            for i in range(300):
                k = f"s{(i * 7 + n) % 199 + 1}"
                assert doc[k]["port"] == expected[k]["port"]
                assert doc[Key(k)]["tags"][1] == "b"
                assert doc.node[k]["ref"]["port"].value == 0
                if i % 100 == 0:
                    assert doc.to_dict() == expected and doc.walk() == walked
        except Exception as exc:  # reported below
            errors.append(exc)

    try:
        threads = [threading.Thread(target=reader, args=(n,)) for n in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(0.005)
    assert errors == []
