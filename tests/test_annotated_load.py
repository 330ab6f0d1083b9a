"""loads/loads_all with OPT_ANNOTATED: annotated containers and scalars with
their positions, file name and provenance; anchors, merges and tags on the
annotated road."""

import datetime
import pathlib
import pickle

import pytest

import kestrine
from kestrine import KestrineAnnotatedFloat, KestrineAnnotatedInt, KestrineAnnotatedList, KestrineAnnotatedStr

ANN = kestrine.OPT_ANNOTATED
NUM = kestrine.OPT_ANNOTATED | kestrine.OPT_ANNOTATE_NUMBERS


def where(x):
    """(type, line, column, end line, end column, offset, end offset, style)."""
    return (type(x).__name__.removeprefix("KestrineAnnotated"), x.__line__, x.__column__, x.__end_line__,
            x.__end_column__, x.__offset__, x.__end_offset__, getattr(x, "__style__", None))


def walk(x, out=None):
    """`where` of every annotated value, in document order (keys before values)."""
    out = [] if out is None else out
    if hasattr(x, "__line__"):
        out.append(where(x))
    if isinstance(x, dict):
        for k, v in x.items():
            walk(k, out)
            walk(v, out)
    elif isinstance(x, list):
        for v in x:
            walk(v, out)
    return out


# ---------------------------------------------------------------------------
# Positions (checked by hand against the texts)


def test_block_mapping_keys_values_and_nested_collections():
    doc = kestrine.loads("a: hello\nb:\n  - x\n  - [1, 2.5]\n", option=NUM)
    assert walk(doc) == [
        ("Dict", 1, 1, 4, 12, 0, 29, None),
        ("Str", 1, 1, 1, 2, 0, 1, "plain"),
        ("Str", 1, 4, 1, 9, 3, 8, "plain"),
        ("Str", 2, 1, 2, 2, 9, 10, "plain"),
        ("List", 3, 3, 4, 12, 14, 29, None),
        ("Str", 3, 5, 3, 6, 16, 17, "plain"),
        ("List", 4, 5, 4, 12, 22, 29, None),
        ("Int", 4, 6, 4, 7, 23, 24, "plain"),
        ("Float", 4, 9, 4, 12, 26, 29, "plain"),
    ]


def test_flow_mapping_with_explicit_key():
    assert walk(kestrine.loads("{a: b, ? c : 'd'}", option=ANN)) == [
        ("Dict", 1, 1, 1, 17, 0, 16, None),
        ("Str", 1, 2, 1, 3, 1, 2, "plain"),
        ("Str", 1, 5, 1, 6, 4, 5, "plain"),
        ("Str", 1, 10, 1, 11, 9, 10, "plain"),
        ("Str", 1, 14, 1, 17, 13, 16, "single"),
    ]


def test_multi_line_scalars():
    doc = kestrine.loads('k: |\n  one\n  two\nz: >-\n  f\n  g\nq: "a\n  b"\np: x\n  y\n', option=ANN)
    assert doc == {"k": "one\ntwo\n", "z": "f g", "q": "a b", "p": "x y"}
    assert walk(doc)[1:] == [
        ("Str", 1, 1, 1, 2, 0, 1, "plain"),
        ("Str", 1, 4, 4, 1, 3, 17, "literal"),
        ("Str", 4, 1, 4, 2, 17, 18, "plain"),
        ("Str", 4, 4, 7, 1, 20, 31, "folded"),
        ("Str", 7, 1, 7, 2, 31, 32, "plain"),
        ("Str", 7, 4, 8, 5, 34, 41, "double"),
        ("Str", 9, 1, 9, 2, 42, 43, "plain"),
        ("Str", 9, 4, 10, 4, 45, 50, "plain"),
    ]


def test_crlf_and_byte_order_mark():
    # Offsets count the bytes of the mark; columns count characters after it.
    doc = kestrine.loads(b'\xef\xbb\xbfa: 1\r\nb: "q\r\n  r"\r\n', option=NUM)
    assert walk(doc) == [
        ("Dict", 1, 1, 3, 5, 3, 20, None),
        ("Str", 1, 1, 1, 2, 3, 4, "plain"),
        ("Int", 1, 4, 1, 5, 6, 7, "plain"),
        ("Str", 2, 1, 2, 2, 9, 10, "plain"),
        ("Str", 2, 4, 3, 5, 12, 20, "double"),
    ]
    # UTF-16 input is read as its UTF-8 text: positions are the same.
    again = kestrine.loads('\ufeffa: 1\r\nb: "q\r\n  r"\r\n'.encode("utf-16-le"), option=NUM)
    assert walk(again) == walk(doc)


def test_multi_byte_characters_count_one_column():
    doc = kestrine.loads("ä: ö\n", option=ANN)
    key, value = next(iter(doc.items()))
    assert where(key) == ("Str", 1, 1, 1, 2, 0, 2, "plain")
    assert where(value) == ("Str", 1, 4, 1, 5, 4, 6, "plain")


# ---------------------------------------------------------------------------
# Values


def test_scalar_types_and_numbers():
    doc = kestrine.loads("s: '5'\ni: 5\nf: 1.5\nb: true\nn: null\nbig: 123456789012345678901234567890\n",
                         option=ANN)
    assert doc == {"s": "5", "i": 5, "f": 1.5, "b": True, "n": None, "big": 123456789012345678901234567890}
    assert type(doc["s"]) is KestrineAnnotatedStr
    assert [type(doc[k]) for k in ("i", "f", "b", "n", "big")] == [int, float, bool, type(None), int]
    numbers = kestrine.loads("i: 5\nf: 1.5\nbig: 123456789012345678901234567890\n", option=NUM)
    assert type(numbers["i"]) is KestrineAnnotatedInt and type(numbers["f"]) is KestrineAnnotatedFloat
    assert type(numbers["big"]) is int
    # Numeric keys are annotated too.
    assert all(type(k) is KestrineAnnotatedInt for k in kestrine.loads("1: a\n2: b\n", option=NUM))


def test_root_path_is_the_file_name():
    text = "a: [x]\n"
    for root_path in ("conf/app.yaml", pathlib.Path("conf/app.yaml")):
        doc = kestrine.loads(text, option=ANN, root_path=root_path)
        assert {doc.__file__, doc["a"].__file__, doc["a"][0].__file__, next(iter(doc)).__file__} \
            == {str(pathlib.Path("conf/app.yaml"))}
    assert kestrine.loads(text, option=ANN).__file__ is None
    # loads_all results carry no file name.
    assert kestrine.loads_all(text, option=ANN)[0]["a"][0].__file__ is None
    with pytest.raises(TypeError, match="root_path"):
        kestrine.loads(text, option=ANN, root_path=5)


def test_anchors_give_the_same_object_within_a_document():
    doc = kestrine.loads("a: &x [1, 2]\nb: *x\nc: &s text\nd: *s\n", option=ANN)
    assert doc["b"] is doc["a"] and type(doc["a"]) is KestrineAnnotatedList
    assert doc["d"] is doc["c"] and doc["d"].__line__ == 3
    # An alias met before its anchor's conversion is finished gets its own copy.
    docs = kestrine.loads_all("a: &x {k: v}\nb: *x\n---\na: &x [1]\nb: *x\n", option=ANN)
    assert docs[0]["b"] is docs[0]["a"] and docs[1]["b"] is docs[1]["a"]
    assert docs[1]["a"] == [1]


def test_custom_tags():
    doc = kestrine.loads("a: !custom x\nb: !!str 5\n", option=ANN)
    assert doc["a"] == "x" and doc["a"].__source_tag__ == "!custom" and doc["a"].__source_target__ is None
    assert doc["b"] == "5" and doc["b"].__source_tag__ is None
    seen = []

    def handler(tag, value):
        seen.append((tag, type(value).__name__, value.__line__))
        return value.upper()

    assert kestrine.loads("a: !up x\n", option=ANN, tag_handler=handler) == {"a": "X"}
    assert seen == [("!up", "KestrineAnnotatedStr", 1)]
    got = kestrine.loads_all("- !t 1\n", option=ANN, tags={"!t": lambda v: ("t", v)})
    assert got == [[("t", "1")]]

    def boom(value):
        raise LookupError("no")

    with pytest.raises(LookupError):
        kestrine.loads("a: !t x\n", option=ANN, tags={"!t": boom})


def test_tag_callbacks_run_once_per_node_beside_merge_keys():
    # A mapping holding a merge key is filled from the merge fold: the pairs
    # before the key must not be converted, nor their callbacks run, twice.
    text = "base: &b {x: !t 1}\nm:\n  a: !t 2\n  <<: *b\n  c: !t 3\n"
    calls = {}
    for option in (0, ANN):
        seen = calls.setdefault(option, [])
        for use_handler in (False, True):
            kwargs = {"tag_handler": lambda tag, v: seen.append(str(v)) or v} if use_handler else {
                "tags": {"!t": lambda v: seen.append(str(v)) or v}}
            doc = kestrine.loads(text, option=option, **kwargs)
            assert doc["m"] == {"a": "2", "x": "1", "c": "3"}
    assert sorted(calls[ANN]) == sorted(calls[0]) and calls[0].count("2") == 2


def test_timestamps_only_under_pyyaml_compat():
    text = "d: 2001-12-14\n"
    assert type(kestrine.loads(text, option=ANN | kestrine.OPT_TIMESTAMPS)["d"]) is KestrineAnnotatedStr
    assert kestrine.loads(text, option=ANN | kestrine.OPT_PYYAML_COMPAT)["d"] == datetime.date(2001, 12, 14)


def test_empty_inputs():
    assert kestrine.loads("", option=ANN) is None
    assert kestrine.loads("# c\n", option=ANN) is None
    assert kestrine.loads_all("", option=ANN) == []
    assert kestrine.loads_all("---\n--- x\n", option=ANN) == [None, "x"]


def test_loaded_scalars_match_constructed_ones():
    text = b"port: 8080\nratio: 2.5\nname: 'web'\n" + b"\n" * 400 + b"far: [x, 1]\n"
    doc = kestrine.loads(text, option=NUM)
    scalars = [k for k in doc] + [doc["port"], doc["ratio"], doc["name"], *doc["far"]]
    for obj in scalars:
        base = type(obj).__mro__[2]
        meta = tuple(getattr(obj, f) for f in ("__line__", "__column__", "__file__", "__end_line__",
                                               "__end_column__", "__style__", "__source_tag__",
                                               "__source_target__", "__offset__", "__end_offset__"))
        built = type(obj)(base(obj), *meta)
        assert type(built) is type(obj) and built == obj
        assert tuple(getattr(built, f) for f in ("__line__", "__end_offset__")) == (meta[0], meta[-1])
        assert vars(built) == vars(obj) if isinstance(obj, int) else not hasattr(obj, "__dict__")
        # The loader's compact metadata reads, compares and pickles as the tuple.
        assert tuple(obj._meta) == meta == obj._meta and obj._meta[-1] == meta[-1]
        assert hash(obj._meta) == hash(meta) and pickle.loads(pickle.dumps(obj._meta)) == meta
        assert pickle.loads(pickle.dumps(obj)) == obj
    assert where(doc["far"][0]) == ("Str", 404, 7, 404, 8, 440, 441, "plain")


def test_garbage_collector_state_is_restored():
    import gc
    assert gc.isenabled()
    kestrine.loads(b"a: [b, 1]\n", option=NUM)
    assert gc.isenabled()
    gc.disable()
    try:
        kestrine.loads(b"a: [b, 1]\n", option=NUM)
        assert not gc.isenabled()
    finally:
        gc.enable()
    seen = []
    kestrine.loads(b"a: !x b\n", option=ANN, tag_handler=lambda tag, value: seen.append(gc.isenabled()))
    assert seen == [True]


def test_replaced_scalar_class_is_called_with_eleven_arguments():
    import subprocess
    import sys
    code = (
        "import kestrine\n"
        "class S(str):\n"
        "    def __new__(cls, value, *meta):\n"
        "        self = str.__new__(cls, value)\n"
        "        self.meta = meta\n"
        "        return self\n"
        "kestrine.KestrineAnnotatedStr = S\n"
        "doc = kestrine.loads(b'a: hello\\n', option=kestrine.OPT_ANNOTATED)\n"
        "print(type(doc['a']).__name__, doc['a'].meta)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert out.strip() == "S (1, 4, None, 1, 9, 'plain', None, None, 3, 8)"
