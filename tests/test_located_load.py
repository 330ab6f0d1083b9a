"""The located road of loads/loads_all (OPT_ANNOTATED): the same values and
the same refusals as the plain road, the duplicate-key and YAML 1.1 checks
in their order, and the limits."""

import math

import pytest

import kestrine
from kestrine import KestrineComplexKeyError, KestrineDecodeError, KestrineDuplicateKeyError, KestrineParseError
from test_roundtrip_load import CASES, needs_suite
from test_yaml_suite import ROADS

ANN = kestrine.OPT_ANNOTATED


def warnings_of(caplog):
    return [r.getMessage() for r in caplog.records if r.name == "kestrine"]


def plain(x):
    """The annotated result as built-in objects, NaN made comparable."""
    if isinstance(x, dict):
        return {plain(k): plain(v) for k, v in x.items()}
    if isinstance(x, list):
        return [plain(v) for v in x]
    if isinstance(x, tuple):
        return tuple(plain(v) for v in x)
    if isinstance(x, bool) or x is None:
        return x
    for base in (str, int, float):
        if isinstance(x, base):
            x = base(x)
            return "nan" if base is float and math.isnan(x) else x
    return x


def outcome(fn):
    try:
        return "ok", plain(fn())
    except Exception as err:  # compared by class
        return "error", type(err).__name__


# A first document opened by "---" without content is None on every road,
# never the next document's value.
EMPTY_EXPLICIT_DOCUMENT = "---\n---\na: 1\n"


def test_empty_first_document_is_none_on_every_road():
    assert kestrine.loads(EMPTY_EXPLICIT_DOCUMENT) is None
    assert kestrine.loads(EMPTY_EXPLICIT_DOCUMENT, option=ANN) is None
    assert kestrine.loads(EMPTY_EXPLICIT_DOCUMENT, option=kestrine.OPT_REJECT_COMPLEX_KEYS) is None
    assert kestrine.loads_all(EMPTY_EXPLICIT_DOCUMENT, option=ANN) == kestrine.loads_all(EMPTY_EXPLICIT_DOCUMENT)


@needs_suite
def test_annotated_values_equal_plain_values_on_the_suite():
    for cid, data in CASES:
        expected = outcome(lambda: kestrine.loads_all(data))
        assert outcome(lambda: kestrine.loads_all(data, option=ANN)) == expected, cid
        assert outcome(lambda: kestrine.loads_all(data, option=ANN | kestrine.OPT_ANNOTATE_NUMBERS)) == expected, cid
        first = outcome(lambda: kestrine.loads(data, option=ANN))
        if expected[0] == "error":
            continue
        assert first == ("ok", expected[1][0] if expected[1] else None), cid


@pytest.mark.parametrize("text", [
    "%YAML 1.2\n",                                    # a directive without a document
    "%YAML 1.2\n%YAML 1.2\n---\na\n",                 # duplicate %YAML
    "%YAML 1.2.3\n---\na\n",                          # malformed %YAML
    "%TAG !p! tag:x,2000:\n--- a\n...\n--- !p!b c\n",  # tag handles do not carry over
    "%TAG !p! a:\n%TAG !p! b:\n--- 1\n",               # a handle declared twice
])
def test_what_the_plain_road_refuses_the_located_road_refuses(text):
    with pytest.raises(KestrineParseError):
        kestrine.loads(text)
    with pytest.raises(KestrineParseError) as info:
        kestrine.loads(text, option=ANN)
    assert info.value.file is None
    with pytest.raises(KestrineParseError):
        kestrine.loads_all(text, option=ANN)
    with pytest.raises(KestrineParseError):
        kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP)


# A block mapping line whose key has no ':' of its own is refused as a plain
# word is (never read as a key with a null value), on every road and inside
# an included file; an empty key (": v") is a key.
@pytest.mark.parametrize("text, line, column", [
    ("a: 1\nx\nb: 2\n", 2, 1),
    ("a: 1\n[x]\nb: 2\n", 2, 1),
    ("a: 1\n{x: 1}\nb: 2\n", 2, 1),
    ("a: 1\n!t x\nb: 2\n", 2, 1),
    ("a: 1\n&n x\nb: 2\n", 2, 1),
    ("a: &n 1\n*n\nb: 2\n", 2, 1),
    ("a: 1\n!t: x\n", 2, 1),
    ("a:\n  b: 1\n x\n: d\n", 3, 2),  # a key at an orphan column, its ':' below
    ("- a: 1\n  [x]\n", 2, 3),
])
def test_a_key_without_its_colon_is_refused_on_every_road(text, line, column, tmp_path):
    message = f"expected ':' after mapping key at line {line}, column {column}"
    (tmp_path / "part.yaml").write_text(text)
    roads = dict(ROADS, included=lambda d: kestrine.loads("k: !include part.yaml\n", option=kestrine.OPT_INCLUDES,
                                                          include_dir=str(tmp_path)))
    for road, load in dict(roads, plain=kestrine.loads).items():
        with pytest.raises(KestrineParseError) as info:
            load(text)
        assert str(info.value) == message, road
    assert kestrine.loads("a: 1\n: v\n") == kestrine.loads("a: 1\n: v\n", option=ANN) == {"a": 1, None: "v"}


# A tag alone never makes a key unhashable: a tagged collection key is the
# tuple its untagged form gives, and the tag callbacks (for the key's own tag
# and those inside it) receive that form, on every road.  A callback may
# still return an unhashable key, which fails.
TAGGED_KEYS = "? !n [1, !m [2]]\n: v\n!o {a: 1}: w\n"


@pytest.mark.parametrize("kwargs, expected", [
    ({}, {(1, (2,)): "v", (("a", 1),): "w"}),
    ({"tags": {"!n": frozenset}}, {frozenset({1, (2,)}): "v", (("a", 1),): "w"}),
    ({"tag_handler": lambda tag, value: (tag, value)}, {("!n", (1, ("!m", (2,)))): "v", ("!o", (("a", 1),)): "w"}),
    ({"option": kestrine.OPT_PASSTHROUGH_TAG}, [("!n", (1, ("!m", (2,)))), ("!o", (("a", 1),))]),
    ({"tags": {"!n": list}}, (KestrineDecodeError, TypeError)),
])
def test_tagged_collection_keys_are_hashable_on_every_road(kwargs, expected):
    def tag_tree(key):
        return (key.tag, tag_tree(key.value)) if isinstance(key, kestrine.KestrineTag) else \
            tuple(tag_tree(k) for k in key) if isinstance(key, tuple) else key

    option = kwargs.pop("option", 0)
    first_of_all = lambda text, **kw: kestrine.loads_all(text, **kw)[0]  # noqa: E731
    for load, extra in ((kestrine.loads, 0), (kestrine.loads, ANN), (kestrine.loads, kestrine.OPT_INCLUDES),
                        (first_of_all, 0), (first_of_all, ANN)):
        if isinstance(expected, tuple):
            with pytest.raises(expected):
                load(TAGGED_KEYS, option=option | extra, **kwargs)
            continue
        got = load(TAGGED_KEYS, option=option | extra, **kwargs)
        assert (plain(got) if isinstance(expected, dict) else [tag_tree(k) for k in got]) == expected, extra
    if not kwargs and not option:  # documents call no callback
        assert kestrine.loads(TAGGED_KEYS, option=kestrine.OPT_ROUND_TRIP).to_dict() == expected


# Texts whose tags go through %TAG handles, and the tags a handler sees for
# them (sorted).  A handle that expands to the core prefix makes a core tag.
HANDLE_TEXTS = [
    ("%TAG !e! tag:example.com,2000:\n---\na: !e!x 1\nb: [!e!y {c: !e! 2}]\n",
     ["tag:example.com,2000:", "tag:example.com,2000:x", "tag:example.com,2000:y"]),
    ("%TAG ! tag:example.com,2000:\n---\na: !x 1\nb: !<!v> 2\n", ["!v", "tag:example.com,2000:x"]),
    ("%TAG !! tag:example.com,2000:\n--- {a: !!int 1}\n", ["tag:example.com,2000:int"]),
    ("%TAG !c! tag:yaml.org,2002:\n--- {a: !c!int '12', b: !c!str 13, !c!merge '<<': {m: 1}, d: !l x}\n",
     ["!l"]),
    ("%TAG !e! tag:a.com,2000:\n--- !e!x a\n...\n%TAG !e! tag:b.com,2000:\n--- !e!x b\n", ["tag:a.com,2000:x"]),
]


def _tagged(x):
    """A result with every KestrineTag as (tag, value), annotations dropped."""
    if isinstance(x, kestrine.KestrineTag):
        return ("tag", x.tag, _tagged(x.value))
    if isinstance(x, dict):
        return {_tagged(k): _tagged(v) for k, v in x.items()}
    if isinstance(x, list):
        return [_tagged(v) for v in x]
    return plain(x)


@pytest.mark.parametrize("text, handler_tags", HANDLE_TEXTS)
def test_tag_handles_expand_alike_on_every_road(text, handler_tags, tmp_path):
    (tmp_path / "inc.yaml").write_text(text)

    def one(option=0, **kw):
        return kestrine.loads(text, option=option, **kw)

    def stream(option=0, **kw):
        return kestrine.loads_all(text, option=option, **kw)

    def included(option=0, **kw):
        # An included file reads its tags through its own handles.
        return kestrine.loads("v: !include inc.yaml\n", option=option | kestrine.OPT_INCLUDES,
                              include_dir=str(tmp_path), **kw)["v"]

    # road: (load, the plain road it must agree with)
    roads = {
        "annotated": (lambda option=0, **kw: one(option | ANN, **kw), one),
        "annotated loads_all": (lambda option=0, **kw: stream(option | ANN, **kw), stream),
        "includes": (lambda option=0, **kw: one(option | kestrine.OPT_INCLUDES, **kw), one),
        "included file": (included, one),
    }

    def run(load):
        seen = []
        value = load(tag_handler=lambda tag, v: seen.append(tag) or v)
        return plain(value), sorted(seen), _tagged(load(option=kestrine.OPT_PASSTHROUGH_TAG))

    assert run(one)[1] == handler_tags
    for road, (load, reference) in roads.items():
        assert run(load) == run(reference), road
    # The round-trip document reads the values the same way and writes every
    # tag back as it was written.
    assert kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP).to_yaml() == text.encode()
    docs = kestrine.loads_all(text, option=kestrine.OPT_ROUND_TRIP)
    assert [d.to_dict() for d in docs] == stream()
    assert b"".join(d.to_yaml() for d in docs) == text.encode()


def test_complex_keys():
    text = "? [1, 2]\n: x\n"
    assert kestrine.loads(text, option=ANN) == {(1, 2): "x"}
    for fn in (kestrine.loads, kestrine.loads_all):
        with pytest.raises(KestrineComplexKeyError):
            fn(text, option=ANN | kestrine.OPT_REJECT_COMPLEX_KEYS)


@pytest.mark.parametrize("tail, option, error", [
    ("last: [a, b]\n", 0, None),
    ("? [a]\n: b\n", kestrine.OPT_REJECT_COMPLEX_KEYS, KestrineComplexKeyError),  # the decoder's verdict
    ("bad: *nope\n", 0, KestrineParseError),
    ("x: [1, 2\n", 0, KestrineParseError),
])
def test_large_texts_read_as_small_ones(tail, option, error):
    # Past a few hundred KB the text is checked and composed at once: the
    # same result, or the same refusal at the same place.
    prefix = "".join(f"key{i}: value {i}\n" for i in range(30000))
    lines = prefix.count("\n")
    for first in (kestrine.loads, lambda *a, **kw: kestrine.loads_all(*a, **kw)[0]):
        if error is None:
            big, small = first(prefix + tail, option=ANN | option), first(tail, option=ANN | option)
            assert plain(big) == {**plain(first(prefix, option=ANN)), **plain(small)}
            assert big["last"].__line__ == lines + 1
            assert big["last"][1].__column__ == small["last"][1].__column__
            continue
        with pytest.raises(error) as big:
            first(prefix + tail, option=ANN | option)
        with pytest.raises(error) as small:
            first(tail, option=ANN | option)
        assert (big.value.line, big.value.column) == (small.value.line + lines, small.value.column)
        assert str(big.value).split(" at line ")[0] == str(small.value).split(" at line ")[0]


def test_duplicate_key_policies(caplog):
    text = "a: 1\nb: 2\na: 3\n"
    for fn in (kestrine.loads, kestrine.loads_all):
        caplog.clear()
        result = fn(text, option=ANN)
        assert (result if fn is kestrine.loads else result[0]) == {"a": 3, "b": 2}
        assert warnings_of(caplog) == []
        fn(text, option=ANN | kestrine.OPT_DUPLICATE_KEYS_WARN)
        assert warnings_of(caplog) == ["duplicate mapping key 'a' at line 3, column 1; keeping the last value"]
        caplog.clear()
        with pytest.raises(KestrineDuplicateKeyError) as info:
            fn(text, option=ANN | kestrine.OPT_DUPLICATE_KEYS_WARN | kestrine.OPT_DUPLICATE_KEYS_ERROR)
        assert (info.value.line, info.value.column) == (3, 1)
        assert warnings_of(caplog) == []


def test_duplicate_in_a_later_document_is_checked(caplog):
    text = "x: 1\n---\na: 1\na: 2\n"
    with pytest.raises(KestrineDuplicateKeyError):
        kestrine.loads(text, option=ANN | kestrine.OPT_DUPLICATE_KEYS_ERROR)
    with pytest.raises(KestrineDuplicateKeyError):
        kestrine.loads_all(text, option=ANN | kestrine.OPT_DUPLICATE_KEYS_ERROR)
    assert kestrine.loads(text, option=ANN | kestrine.OPT_DUPLICATE_KEYS_WARN) == {"x": 1}
    assert len(warnings_of(caplog)) == 1


def test_duplicate_key_warnings_come_before_yaml11_warnings(caplog):
    text = "a: yes\na: no\n"
    option = ANN | kestrine.OPT_YAML_1_1 | kestrine.OPT_YAML_1_1_WARN | kestrine.OPT_DUPLICATE_KEYS_WARN
    for fn in (kestrine.loads, kestrine.loads_all):
        caplog.clear()
        fn(text, option=option)
        assert [m.split()[0] for m in warnings_of(caplog)] == ["duplicate", "YAML", "YAML"]


def test_version_choice(caplog):
    assert kestrine.loads("%YAML 1.1\n---\na: yes\n", option=ANN) == {"a": True}
    assert kestrine.loads("%YAML 1.2\n---\na: yes\n", option=ANN | kestrine.OPT_YAML_1_1) == {"a": "yes"}
    assert kestrine.loads("a: yes\n", option=ANN | kestrine.OPT_UPGRADE_1_1) == {"a": True}
    # YAML 1.1 warnings only when the 1.1 reading applies.
    kestrine.loads("a: yes\n", option=ANN | kestrine.OPT_YAML_1_1_WARN)
    assert warnings_of(caplog) == []
    kestrine.loads("a: yes\n", option=ANN | kestrine.OPT_YAML_1_1_WARN | kestrine.OPT_YAML_1_1)
    assert warnings_of(caplog) == ["YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4"]


def billion_laughs():
    lines = ["a: &a [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]"]
    for i in range(1, 9):
        prev, cur = chr(ord("a") + i - 1), chr(ord("a") + i)
        lines.append(f"{cur}: &{cur} [{', '.join(['*' + prev] * 10)}]")
    return "\n".join(lines) + "\n"


def test_billion_laughs_fails_cleanly():
    text = billion_laughs()
    for fn in (kestrine.loads, kestrine.loads_all):
        with pytest.raises(KestrineParseError, match="alias") as info:
            fn(text, option=ANN)
        assert info.value.line is not None


def test_deep_nesting_is_a_parse_error_not_a_crash():
    with pytest.raises(KestrineParseError):
        kestrine.loads("[" * 5000 + "]" * 5000, option=ANN)
    deep = "[" * 900 + "x" + "]" * 900
    value = kestrine.loads(deep, option=ANN)
    for _ in range(900):
        (value,) = value
    assert value == "x"


def test_schema_on_the_annotated_road():
    with pytest.raises(kestrine.KestrineSchemaError):
        kestrine.loads("a: 1", option=ANN, schema={"type": "array"})
    # No document: nothing to validate.
    assert kestrine.loads("", option=ANN, schema={"type": "object"}) is None
