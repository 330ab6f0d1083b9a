"""What loads gives is what the text says, on every road: malformed flow
collections are refused, block scalars, escapes, core tags and merge keys
read the same on the plain road, the located roads (annotated results,
configuration directives) and, where the round-trip road reads values (its
duplicate-key checks), there too; aliases never copy the texts they name."""

import copy
import functools
import itertools
import math
import operator
import random
import re

import pytest

import kestrine
from kestrine import KestrineDuplicateKeyError, KestrineParseError
from test_located_load import plain, warnings_of

COMPAT = kestrine.OPT_PYYAML_COMPAT
DUP_ERROR = kestrine.OPT_DUPLICATE_KEYS_ERROR
DUP_WARN = kestrine.OPT_DUPLICATE_KEYS_WARN

# The roads that return Python values, by the options that select them.
VALUE_ROADS = {
    "plain": 0,
    "annotated": kestrine.OPT_ANNOTATED,
    "includes": kestrine.OPT_INCLUDES,
}
ALL_ROADS = {**VALUE_ROADS, "round-trip": kestrine.OPT_ROUND_TRIP}


def load(text, road, option=0, **kwargs):
    return kestrine.loads(text, option=ALL_ROADS[road] | option, **kwargs)


MISSING_COMMA = "missing ',' between flow collection entries"
AFTER_ITEM = "unexpected content after a block sequence item"
DEEPER_ENTRY = "a sequence entry is indented past its sequence"
EXPECTED_COLON = "expected ':' after mapping key"

# (text, message, line, column)
SYNTAX_ERRORS = [
    ("{foo: bar: 2}", MISSING_COMMA, 1, 10),
    ("{a: b, c: d e: f}", MISSING_COMMA, 1, 14),
    ("[foo: 1 bar: 2]", MISSING_COMMA, 1, 12),
    ("---\n{\n foo: 1\n bar: 2 }\n", MISSING_COMMA, 3, 7),  # yaml-test-suite T833
    ("key: [ word1\n#  xxx\n  word2 ]\n", MISSING_COMMA, 3, 3),  # yaml-test-suite CML9
    ("[a, |\n  b]", "'|' cannot start a scalar inside a flow collection", 1, 5),
    ("k: [>]", "'>' cannot start a scalar inside a flow collection", 1, 5),
    ('"\\udca9\\ud83d"', "invalid unicode code point: U+DCA9", 1, 1),
    ('"\\ud83d"', "invalid unicode code point: U+D83D", 1, 1),
    # An alias inside the node its anchor names (as a self-referencing list
    # is dumped) can never be read.
    ("&id001\n- *id001\n", "unknown alias: *id001 (the alias refers to the node that contains it)", 2, 3),
    ("a: &a {b: [*a]}", "unknown alias: *a (the alias refers to the node that contains it)", 1, 12),
    ("a: &a x\n---\nb: *a\n", "unknown alias: *a", 3, 4),
    # A comment line ends a plain scalar; what follows must start an entry.
    ("- one\n  # c\n  two\n- b\n", AFTER_ITEM, 3, 3),
    ("- - one\n    # c\n    two\n", AFTER_ITEM, 3, 5),
    ("- a: 1\n b: 2\n", AFTER_ITEM, 2, 2),
    ("- &a x\n- *a b\n", AFTER_ITEM, 2, 6),
    ("- [1, 2]\n  - [3, 4]\n", DEEPER_ENTRY, 2, 3),
    ('- "q"\n  - z\n', DEEPER_ENTRY, 2, 3),
    ("a:\n  - x\n  # c\n    - y\n", DEEPER_ENTRY, 4, 5),
    # At a block mapping's key column only a key stands: no value, "?" key
    # or item of a sequence at that column.
    ("k:\n  one\n  # c\n  two\n", EXPECTED_COLON, 4, 3),
    ("k:\nv\n", EXPECTED_COLON, 2, 1),
    ("k: &a v\nj:\n*a\n", EXPECTED_COLON, 3, 1),
    ("k: v\n[a]\n", EXPECTED_COLON, 2, 1),
    ("? k\ny z\n", EXPECTED_COLON, 2, 1),
    ("k:\n-\n'x'\n", EXPECTED_COLON, 3, 1),
    ("? k\n- x\n", "a block collection cannot be a mapping key", 2, 1),
    ("!t\n!u x\n", "a node cannot have two tags", 2, 1),
]


@pytest.mark.parametrize("road", ALL_ROADS)
@pytest.mark.parametrize("text, message, line, column", SYNTAX_ERRORS)
def test_malformed_text_is_refused_at_the_offending_token(road, text, message, line, column):
    with pytest.raises(KestrineParseError) as info:
        load(text, road)
    assert str(info.value) == f"{message} at line {line}, column {column}"
    assert (info.value.line, info.value.column) == (line, column)
    with pytest.raises(KestrineParseError):
        kestrine.loads_all(text, option=ALL_ROADS[road] & ~kestrine.OPT_INCLUDES)


# (text, value): the plain road's value, which every road must give.
VALUES = [
    # The end of the text ends a block scalar's last line: no break is added.
    ("k: |\n  a", {"k": "a"}),
    ("k: |+\n  a", {"k": "a"}),
    ("k: >\n  a\n  b", {"k": "a b"}),
    ("k: |\n  a\n", {"k": "a\n"}),
    ("k: |\n  a\n   ", {"k": "a\n \n"}),  # a last line of blanks is still a line
    # JSON's escapes for characters beyond the BMP.
    ('"\\ud83d\\udca9"', "\U0001f4a9"),
    ('["\\uD83D\\uDE00", "\\u00e9"]', ["\U0001f600", "\u00e9"]),
    # A verbatim tag naming a core type is that type.
    ("!<tag:yaml.org,2002:int> 12", 12),
    ("[!<tag:yaml.org,2002:str> 12, !<tag:yaml.org,2002:float> 1, !<tag:yaml.org,2002:null> ~]", ["12", 1.0, None]),
    # Merge keys: under YAML 1.1 a !!merge key merges whatever its text and a
    # !!merge value reads "<<"; YAML 1.2 has no such type (a plain << merges
    # in both); custom-tagged values are not merged, keys equal as Python
    # values keep the earlier mapping's value, own keys win.
    ("%YAML 1.1\n---\nb: &b {x: 1}\nm: {!!merge <<: *b}", {"b": {"x": 1}, "m": {"x": 1}}),
    ("%YAML 1.1\n---\nb: &b {x: 1}\nm: {!<tag:yaml.org,2002:merge> <<: *b, z: 2}",
     {"b": {"x": 1}, "m": {"x": 1, "z": 2}}),
    ("%YAML 1.1\n---\nm: {!!merge x: 5, a: !!merge x, b: !!merge }", {"m": {"<<": 5, "a": "<<", "b": "<<"}}),
    ("b: &b {x: 1}\nm: {!!merge <<: *b}", {"b": {"x": 1}, "m": {"<<": {"x": 1}}}),
    ("m: {!!merge x: 5, a: !!merge x, b: !!merge , <<: {c: 1}}", {"m": {"x": 5, "a": "x", "b": "", "c": 1}}),
    ("m: {<<: !custom {x: 1}}", {"m": {"<<": {"x": 1}}}),
    ("m: {<<: [!custom {x: 1}, {y: 2}]}", {"m": {"y": 2, "<<": [{"x": 1}]}}),
    ("m: {<<: [{1: a}, {1.0: b}, {true: c}]}", {"m": {1: "a"}}),
    ("m: {1.0: own, <<: {1: merged}}", {"m": {1.0: "own"}}),
    ("%YAML 1.1\n---\nm: {<<: [{1: a}, {1.0: b}]}", {"m": {1: "a"}}),
]


@pytest.mark.parametrize("road", VALUE_ROADS)
@pytest.mark.parametrize("text, expected", VALUES)
def test_values_read_the_same_on_every_road(road, text, expected):
    seen = []
    got = load(text, road, tag_handler=lambda tag, value: seen.append(tag) or value)
    assert plain(got) == expected
    assert type(plain(got)) is type(expected)
    assert seen == (["!custom"] if "!custom" in text else [])  # core tags never reach the handler


# (text, option): two keys that load as one Python key.
SAME_KEYS = [
    ("2002-1-5 10:00:00: 1\n2002-01-05 10:00:00: 2\n", COMPAT),
    ("2002-01-05 10:00:00Z: 1\n2002-01-05 11:00:00+01:00: 2\n", COMPAT),
    ("2002-01-05: 1\n2002-01-05: 2\n", COMPAT),
    ("!<tag:yaml.org,2002:int> 1: a\n1: b\n", 0),
]


@pytest.mark.parametrize("road", ALL_ROADS)
@pytest.mark.parametrize("text, option", SAME_KEYS)
def test_keys_equal_once_loaded_are_duplicates(road, text, option, caplog):
    with pytest.raises(KestrineDuplicateKeyError) as info:
        load(text, road, option | DUP_ERROR)
    assert info.value.line == 2
    caplog.clear()
    load(text, road, option | DUP_WARN)
    [warning] = warnings_of(caplog)
    assert warning.endswith("at line 2, column 1; keeping the last value")


TAG_T = {"tags": {"!t": lambda value: ("t", value)}}
HANDLER = {"tag_handler": lambda tag, value: (tag, value)}
STR_T = {"tags": {"!t": str}}
PASS = kestrine.OPT_PASSTHROUGH_TAG

# (text of two pairs, option, keywords, whether the two keys are one key in
# Python on the roads that return values, and on the round-trip road, whose
# conversions apply no tag handler).  A custom tag no handler takes is
# dropped by the conversion; an alias is the key it names.
KEYS_AS_IN_PYTHON = [
    ("!t a: 1\na: 2\n", 0, {}, True, True),
    ("a: 1\n! a: 2\n", 0, {}, True, True),
    ("!<!t> a: 1\na: 2\n", 0, {}, True, True),
    ("!u a: 1\na: 2\n", 0, TAG_T, True, True),
    ("!t a: 1\na: 2\n", PASS, {}, False, True),
    ("!t a: 1\na: 2\n", 0, TAG_T, False, True),
    ("!<!t> a: 1\na: 2\n", 0, TAG_T, False, True),
    ("!t a: 1\na: 2\n", 0, HANDLER, False, True),
    ("!t 1: a\n1: b\n", 0, {}, False, False),
    ("!t : a\n'': b\n", 0, {}, True, True),
    ("&k a: 1\n*k : 3\n", 0, {}, True, True),
    ("&k 1: a\n*k : 3\n", PASS, {}, True, True),
    ("? &k [a, !t b]\n: 1\n? *k\n: 2\n", 0, {}, True, True),
    ("? [a, !t b]\n: 1\n? [a, b]\n: 2\n", 0, {}, True, True),
    ("? [a, !t b]\n: 1\n? [a, b]\n: 2\n", PASS, {}, False, True),
    ("'<<': 1\n'<<': 2\n", 0, {}, True, True),
    # A mapping key is the tuple of its pairs, a sequence key the tuple of
    # its items: both are () when empty.
    ("[[a, 1]] : x\n{a: 1} : y\n", 0, {}, True, True),
    ("[] : 1\n{} : 2\n", 0, {}, True, True),
    ("? [<<]\n: 1\n? ['<<']\n: 2\n", 0, {}, True, True),
    # What a tag callback returns decides, and only the built dict knows it.
    ("!t a: 1\na: 2\n", 0, STR_T, True, True),
    ("? [!t a]\n: 1\n? [a]\n: 2\n", 0, STR_T, True, True),
    ("!x a: 1\n!y b: 2\n", 0, {"tag_handler": lambda tag, value: "same"}, True, False),
    ("!t a: 1\n!t b: 2\n", 0, {"tags": {"!t": lambda value: 0}}, True, False),
    # Within one merge source keys repeat as in the source's own dict.
    ("<<: {!t a: 1, a: 2}\n", 0, STR_T, True, True),
    ("<<: [{!t a: 1, a: 2}, {a: 3}]\n", 0, STR_T, True, True),
]


@pytest.mark.parametrize("road", ALL_ROADS)
@pytest.mark.parametrize("text, option, kw, value_roads, round_trip", KEYS_AS_IN_PYTHON)
def test_duplicate_keys_are_the_keys_python_merges(road, text, option, kw, value_roads, round_trip, caplog):
    one_key = round_trip if road == "round-trip" else value_roads
    loaded = load(text, road, option, **kw)
    assert len(loaded.to_dict() if road == "round-trip" else loaded) == (1 if one_key else 2)
    loads = [lambda o: load(text, road, o, **kw)]
    if road != "includes":
        loads.append(lambda o: kestrine.loads_all(text, option=ALL_ROADS[road] | o, **kw))
    for load_with in loads:
        caplog.clear()
        load_with(option | DUP_WARN)
        assert len(warnings_of(caplog)) == one_key
        if one_key:
            with pytest.raises(KestrineDuplicateKeyError):
                load_with(option | DUP_ERROR)
        else:
            load_with(option | DUP_ERROR)


SAME_K = {"tags": {"!k": lambda value: "same"}}

# (text, keywords, the value on the roads that return values, on the
# round-trip road).  A merged pair never beats an own key nor an earlier
# source's, whatever tags the keys carry: keys compare as they stand in
# Python (a tag no handler takes is dropped, "!" reads a string, a kept tag
# makes another key), and keys that only a tag callback makes equal meet in
# the dict without replacing the winner.  None of it is a duplicate.
MERGED_KEYS_AS_IN_PYTHON = [
    ("a: 0\n<<: {! a: 1}\n", {}, {"a": 0}, {"a": 0}),
    ("!u a: 0\n<<: {a: 1}\n", {}, {"a": 0}, {"a": 0}),
    ("!<!u> a: 0\n<<: {a: 1}\n", {}, {"a": 0}, {"a": 0}),
    ("%TAG !e! tag:example.com,2000:\n---\n!e!u a: 0\n<<: {a: 1}\n", {}, {"a": 0}, {"a": 0}),
    ("!u a: 0\n<<: {a: 1}\n", STR_T, {"a": 0}, {"a": 0}),
    ("<<: {!u a: 1}\na: 0\n", {}, {"a": 0}, {"a": 0}),
    ("<<: [{!x a: 1}, {a: 2}]\n", {}, {"a": 1}, {"a": 1}),
    ("b1: &b1 {!x a: 1}\nm: {<<: [*b1, {a: 2}]}\n", {}, {"b1": {"a": 1}, "m": {"a": 1}},
     {"b1": {"a": 1}, "m": {"a": 1}}),
    ("!t a: 0\n<<: {a: 1}\n", TAG_T, {("t", "a"): 0, "a": 1}, {"a": 0}),
    ("<<: {same: a}\n!k x: b\n", SAME_K, {"same": "b"}, {"same": "a", "x": "b"}),
    ("!k x: b\n<<: {same: a}\n", SAME_K, {"same": "b"}, {"x": "b", "same": "a"}),
    ("<<: [{!k 1: a}, {!k 2: c}]\n", SAME_K, {"same": "a"}, {"1": "a", "2": "c"}),
    ("<<: [{same: a}, {same: c}]\n", SAME_K, {"same": "a"}, {"same": "a"}),
    ("<<: {!k x: a}\n<<: {same: c}\nz: 1\n", SAME_K, {"same": "a", "z": 1}, {"x": "a", "same": "c", "z": 1}),
    ("<<: [{!k 1: a}, {same: c}]\nsame: own\n", SAME_K, {"same": "own"}, {"1": "a", "same": "own"}),
    ("<<: [{!k 1: a}, 5, {same: c}]\n", {"tag_handler": lambda tag, value: "same"}, {"same": "a", "<<": [5]},
     {"1": "a", "same": "c", "<<": [5]}),
]


@pytest.mark.parametrize("road", ALL_ROADS)
@pytest.mark.parametrize("text, kw, value_roads, round_trip", MERGED_KEYS_AS_IN_PYTHON)
def test_merged_pairs_never_beat_own_or_earlier_keys(road, text, kw, value_roads, round_trip, caplog):
    expected = round_trip if road == "round-trip" else value_roads
    for option in (0, DUP_WARN, DUP_ERROR):
        caplog.clear()
        loaded = load(text, road, option, **kw)
        assert plain(loaded.to_dict() if road == "round-trip" else loaded) == expected
        assert warnings_of(caplog) == []
    if road != "includes":
        every = kestrine.loads_all(text, option=ALL_ROADS[road] | DUP_ERROR, **kw)
        assert plain(every[0].to_dict() if road == "round-trip" else every[0]) == expected
    # Validation reads the members the load returns (what a callback makes
    # of a key is beyond it).
    if road == "round-trip" or not kw:
        members = {k: v for k, v in expected.items() if isinstance(k, str) and not isinstance(v, dict)}
        schema = {"minProperties": len(expected), "maxProperties": len(expected),
                  "properties": {k: {"const": v} for k, v in members.items()}}
        load(text, road, 0, schema=schema, **kw)


@pytest.mark.parametrize("road", ALL_ROADS)
def test_timestamp_texts_are_distinct_keys_where_they_stay_strings(road, caplog):
    # Without timestamps both keys stay two different strings.
    load("2002-1-5 10:00:00: 1\n2002-01-05 10:00:00: 2\n", road, DUP_ERROR)


@pytest.mark.parametrize("road", ALL_ROADS)
def test_a_repeated_key_is_reported_once_however_often_merged(road, caplog):
    text = "src: &m {!t a: 1, a: 2}\nm1: {<<: *m}\nm2: {<<: *m}\nm3: {<<: [*m, *m]}\n"
    loaded = load(text, road, DUP_WARN, **STR_T)
    assert plain(loaded.to_dict() if road == "round-trip" else loaded) == {
        "src": {"a": 2}, "m1": {"a": 2}, "m2": {"a": 2}, "m3": {"a": 2}}
    assert warnings_of(caplog) == ["duplicate mapping key 'a' at line 1, column 19; keeping the last value"]


# (text, keywords, the key as messages show it): a key under a kept tag
# reads as written.
TAGGED_KEY_MESSAGES = [
    ("same: c\n!k x: b\n", SAME_K, "!k x"),
    ("same: c\n!<!k> x: b\n", SAME_K, "!<!k> x"),
    ("x: c\n<<: {!k 1: a, !k 2: b}\n", SAME_K, "!k 2"),
]


@pytest.mark.parametrize("road", VALUE_ROADS)
@pytest.mark.parametrize("text, kw, shown", TAGGED_KEY_MESSAGES)
def test_tagged_keys_read_in_messages_as_written(road, text, kw, shown, caplog):
    with pytest.raises(KestrineDuplicateKeyError) as info:
        load(text, road, DUP_ERROR, **kw)
    assert str(info.value).startswith(f"duplicate mapping key: {shown} at line 2, column ")
    load(text, road, DUP_WARN, **kw)
    [warning] = warnings_of(caplog)
    assert warning.startswith(f"duplicate mapping key '{shown}' at line 2, column ")


@pytest.mark.parametrize("road", ALL_ROADS)
def test_nan_keys_warn_what_happens(road, caplog):
    result = load(".nan: 1\n.nan: 2\n", road, DUP_WARN)
    assert warnings_of(caplog) == [
        "duplicate mapping key '" + ("Float(NaN)" if road == "plain" else ".nan")
        + "' at line 2, column 1; NaN keys never compare equal, so both pairs are kept"]
    if road != "round-trip":
        assert len(result) == 2 and all(math.isnan(k) for k in result)


def test_annotated_syntax_error_names_the_root_path():
    with pytest.raises(KestrineParseError) as info:
        kestrine.loads("a: [b", option=kestrine.OPT_ANNOTATED, root_path="conf/app.yaml")
    assert info.value.file == "conf/app.yaml"
    assert (info.value.line, info.value.column) == (1, 6)


@pytest.mark.parametrize("road", VALUE_ROADS)
def test_aliases_share_the_texts_they_name(road):
    big = "x" * 100_000
    aliases = 2_000  # 200 MB if every alias copied the text
    text = f"a: &a {big}\nl: &l [{big}, 123456789012345678901234567890]\nk: &k [{big}]\n"
    text += "b:\n" + "".join("- *a\n" for _ in range(aliases))
    text += "c:\n" + "".join("- *l\n" for _ in range(aliases))
    text += "d:\n" + "".join("- {? *k : 1}\n" for _ in range(aliases))
    result = load(text, road)
    assert result["b"][0] == big and all(x is result["b"][0] for x in result["b"])
    assert all(x[0] is result["c"][0][0] and x[1] is result["c"][0][1] for x in result["c"])
    keys = [next(iter(m)) for m in result["d"]]
    assert keys[0] == (big,) and all(k[0] is keys[0][0] for k in keys)


def test_many_tag_handles_load():
    handles = 80_000
    text = "".join(f"%TAG !h{i}! tag:example.com,2000:{i}:\n" for i in range(handles)) + f"--- !h{handles - 1}!x a\n"
    assert kestrine.loads(text, tag_handler=lambda tag, value: (tag, value)) == (
        f"tag:example.com,2000:{handles - 1}:x", "a")


@pytest.mark.parametrize("text, expected", [(t, e) for t, e in VALUES if "!custom" not in t])
def test_round_trip_documents_read_the_same(text, expected):
    assert kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP).to_dict() == expected


# Under the YAML 1.1 upgrade a text reads one way: on every road, and as the
# upgraded document written back and read as YAML 1.2.  Every core tag (and
# none) meets texts that read differently under 1.1 and 1.2, in each
# quoting, as a key and as a value.
UPGRADE_TAGS = ["", "!!int", "!!float", "!!bool", "!!null", "!!str", "!!merge", "!!timestamp", "!!binary",
                "!!seq", "!!map", "!!set", "!!omap", "!<tag:yaml.org,2002:int>"]
UPGRADE_TEXTS = [
    "", "0o17", "+0o7", "-0o17", "0o77777777777777777777777", "0x1F", "+0x1F", "0b101", "-0b11", "0777", "08",
    "00", "-0", "1:30", "-1:30", "190:20:30", "1:30.5", "yes", "No", "on", "OFF", "y", "n", "true", "False",
    "~", "null", "NULL", ".NaN", ".nan", "nan", ".inf", "-.Inf", "inf", "1_000", "1_000.5", "_1", "1_", "+1",
    "+12", "1e5", "1.0e+5", "1.", ".5", "1.5", "<<", "2001-12-14", "2001-12-14t21:59:43.10-05:00", "abc",
    "0xFFFFFFFFFFFFFFFFF", "+1_000_000_000_000_000_000_000", "-9223372036854775808",
]
QUOTINGS = {"plain": "{}", "single": "'{}'", "double": '"{}"', "literal": "|-\n    {}"}


def _tagged_pairs(tag, quoting):
    nodes = [f"{tag} {QUOTINGS[quoting].format(t)}".strip() for t in UPGRADE_TEXTS]
    return "".join(f"- ? {n}\n  : {n}\n" for n in nodes)


UPGRADE_ONE_READING = [
    pytest.param(_tagged_pairs(tag, quoting), id=f"{tag or 'untagged'}-{quoting}")
    for tag in UPGRADE_TAGS for quoting in QUOTINGS
] + [
    # An empty !!merge key merges, in every form, through an alias too.
    "m:\n  !!merge : {b: 2}\n  c: 3\n",
    "m:\n  ? !!merge\n  : {b: 2}\n",
    "m: {!!merge : {b: 2}, c: 1}\n",
    "m: {? !!merge : {b: 2}}\n",
    "m:\n  &a !!merge : {b: 2}\nn:\n  *a : {c: 3}\n  d: *a\n",
    "x: &a !!merge\nm:\n  *a : {b: 2}\n",
    "m:\n  !!merge : 5\n  <<: 6\n  !!merge :\n",
    "m:\n  !!merge : [{b: 2}, {c: 3}]\n  b: 1\n",
    "%TAG !e! tag:yaml.org,2002:\n---\nm:\n  !e!merge : {b: 1}\nk: !e!int 0o17\n",
    "x: !!merge {a: 1}\n!!merge [a]: !!int [1]\n!!seq {b: 2}: !!map [c]\n",
]


def _typed(x):
    """Every leaf with its type, so that 1, 1.0, True and "1" (NaN and "nan") stay apart."""
    if isinstance(x, dict):
        return {_typed(k): _typed(v) for k, v in x.items()}
    if isinstance(x, (list, tuple)):
        return type(x)(_typed(v) for v in x)
    return "float" if isinstance(x, float) else type(plain(x)).__name__, plain(x)


def _read(load_with):
    try:
        return _typed(load_with())
    except kestrine.exceptions.KestrineError as e:
        return type(e).__name__


@pytest.mark.parametrize("compat", [False, True], ids=["1.1", "compat"])
@pytest.mark.parametrize("text", UPGRADE_ONE_READING)
def test_the_upgrade_keeps_one_reading(text, compat):
    opt = kestrine.OPT_UPGRADE_1_1 | (COMPAT if compat else 0)
    got = {road: _read(lambda: load(text, road, opt)) for road in VALUE_ROADS}
    doc = load(text, "round-trip", opt)
    got["round-trip"] = _read(doc.to_dict)
    # Timestamps are no matter of the version: they are read as the load read them.
    got["written, read as 1.2"] = _read(
        lambda: kestrine.loads(doc.to_yaml(), option=kestrine.OPT_TIMESTAMPS if compat else 0))
    assert all(v == got["plain"] for v in got.values()), (doc.to_yaml(), got)


MODES = {"1.2": 0, "1.1": kestrine.OPT_YAML_1_1, "compat": COMPAT, "upgrade": kestrine.OPT_UPGRADE_1_1}

# Texts whose reading once depended on the road: merge keys, aliases and
# tags on keys, YAML 1.1 scalars read through their tags.
ONE_READING = [
    "&m <<: {a: 1}\n*m : {b: 2}\n",  # an alias to a merge key merges
    "x: &m <<\n*m : {b: 2}\n",
    "base: &b {x: 1}\nm:\n  <<: *b\n  x: 2\n",
    "m:\n  x: 1\n  <<: {x: 2}\n",
    "m:\n  '<<': 1\n  <<: 2\n",
    "m:\n  <<: 1\n  <<: 2\n",
    "!!merge <<: {a: 1}\n",
    "!!merge foo: {a: 1}\nx: !!merge y\n",
    "&a a: 1\n*a : 2\n",
    "a: &v [1, 2]\n? *v\n: z\n",
    "x: !!bool 'yes'\ny: !!bool \"Off\"\n",
    "x: !!int '0777'\ny: !!int \"1:30\"\nz: !!float '1_000.5'\n",
    "x: !!int '-0b101'\ny: !!int '1_000'\nz: !!bool ''\n",
    "yes: 1\ntrue: 2\ny: 3\n",
    "x: 0o17\ny: 0777\nz: 1:30\nw: ~\n",
    "? !!str 1\n: a\n1: b\n",
    "[[a, 1]] : x\n{a: 1} : y\n",
    "m:\n  !u x: 1\n  <<: {x: 2, ! y: 3}\n  y: 4\n",
    "m:\n  <<: [{!u x: 1}, {!<!u> x: 2}, {x: 3}]\n  !u y: 4\n  y: 5\n",
]


def outcome(load_with):
    try:
        return repr(plain(load_with()))
    except kestrine.exceptions.KestrineError as e:
        return type(e).__name__


@pytest.mark.parametrize("option", [0, DUP_ERROR, DUP_WARN], ids=["", "error", "warn"])
@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("text", ONE_READING)
def test_one_text_reads_one_way_on_every_road(text, mode, option):
    opt = MODES[mode] | option
    got = {road: outcome(lambda: load(text, road, opt)) for road in VALUE_ROADS}
    got["round-trip"] = outcome(lambda: load(text, "round-trip", opt).to_dict())
    for road in ("plain", "annotated", "round-trip"):
        every = kestrine.loads_all(text, option=ALL_ROADS[road] | opt) if got["plain"][0] == "{" else []
        got["all " + road] = repr([plain(d.to_dict() if road == "round-trip" else d) for d in every][:1] or None)
    assert len({v for k, v in got.items() if not k.startswith("all ")}) == 1, got
    assert len({v for k, v in got.items() if k.startswith("all ")}) == 1, got


# ---------------------------------------------------------------------------
# Block structure, against two other YAML readers

# One line each (more with "\n"; "~" shifts a line by a random amount);
# "K" and "A" become fresh key and anchor names, "*P" names the last anchor.
BLOCK_LINES = [
    "- x", "- ", "-", "K: v", "K:", "# c", "", "x", "y z", "x:y", "'q'", '"q"', "[a, b]", "{a: b}", "- [a]",
    "- K: v", "- K:", "K: [a]", "- 'q'", "K: 'q'", "- - x", "- # c", "K: # c", "x # c", "? K", ": v", "? - x",
    "- ? K", "[a]: v", "'q': v", "K: &A v", "&A", "- &A", "*P", "- *P", "K: *P", "!t", "K: !t", "- !t", "!t x",
    "|\n  t", "- |\n  t", "K: >-\n  t\n\n  u", "[a,\n~b]", "K: {a: b,\n~c: d}", "'q\n~r'", "x\n~y", "K: x # c\n~y",
    "- x\n~y", "- [a]\n~- b", "K: 'q'\n~x", "? K\n~: v", "--- x", "...",
]


def block_texts(count, seed=20):
    rng, names, anchor = random.Random(seed), itertools.count(), ["a"]

    def name(m):
        if m.group() == "*P":
            return "*" + anchor[0]
        anchor[:1] = [f"a{next(names)}"] if m.group() == "A" else anchor[:1]
        return anchor[0] if m.group() == "A" else f"k{next(names)}"

    for _ in range(count):
        lines = []
        for _ in range(rng.randint(1, 5)):
            indent = rng.choice([0, 0, 1, 2, 2, 3, 4, 6])
            first, *rest = re.sub(r"\*P|[KA]", name, rng.choice(BLOCK_LINES)).split("\n")
            lines.append(" " * indent + first)
            for line in rest:
                shift = rng.choice([-2, -1, 0, 1, 2, 3]) if line.startswith("~") else 0
                lines.append(" " * max(0, indent + shift) + line.lstrip("~"))
        yield "\n".join(lines) + "\n"


def yaml_1_2_allows(text):
    """Forms the other readers refuse that YAML 1.2 allows: a document-end
    marker before any document (yaml-test-suite HWV9) and an empty key
    without "?" (2JQS)."""
    lines = [line for line in text.split("\n") if line.strip() and not line.strip().startswith("#")]
    if lines and lines[0] == "...":
        return True
    for i, line in enumerate(lines):
        indent, body = len(line) - len(line.lstrip()), line.strip()
        if body == ":" or body.startswith(": "):
            above = [x for x in lines[:i] if len(x) - len(x.lstrip()) <= indent]
            if not above or len(above[-1]) - len(above[-1].lstrip()) < indent or above[-1].strip()[:1] != "?":
                return True
    return False


def test_block_structure_the_other_readers_refuse_is_refused_on_every_road():
    yaml = pytest.importorskip("yaml")
    ruamel = pytest.importorskip("ruamel.yaml").YAML(typ="rt")
    for text in block_texts(6000):
        refused = set()
        for road in ALL_ROADS:
            try:
                load(text, road)
            except KestrineParseError as e:
                assert e.line >= 1 and e.column >= 1, text
                refused.add(road)
        assert refused in (set(), set(ALL_ROADS)), (text, refused)
        if refused or yaml_1_2_allows(text):
            continue
        for peer in (lambda t: list(yaml.compose_all(t, Loader=getattr(yaml, "CLoader", yaml.Loader))),
                     lambda t: list(ruamel.compose_all(t))):
            try:
                peer(text)
                break
            except Exception:
                pass
        else:
            pytest.fail(f"both other readers refuse {text!r}, which loads as {kestrine.loads(text)!r}")


def test_replacing_a_block_sequence_item_leaves_its_neighbours():
    def block_sequences(node, value, path=()):
        if isinstance(value, list) and node.style == "block":
            yield path, len(value)
        items = enumerate(value) if isinstance(value, list) else value.items() if isinstance(value, dict) else ()
        for key, item in items:
            if isinstance(key, (str, int)):
                yield from block_sequences(node[key], item, path + (key,))

    for text in block_texts(6000, seed=21):
        if "*" in text or "---" in text or "..." in text:
            continue
        try:
            want = kestrine.loads(text)
        except KestrineParseError:
            continue
        for path, count in list(block_sequences(load(text, "round-trip").node, want)):
            for i in range(count):
                doc, expected = load(text, "round-trip"), copy.deepcopy(want)
                functools.reduce(operator.getitem, path, doc)[i] = "z"
                functools.reduce(operator.getitem, path, expected)[i] = "z"
                assert kestrine.loads(doc.to_yaml()) == expected, (text, path, i, doc.to_yaml())
