"""loads and loads_all on the plain road: arguments, version choice,
conversion to Python objects, tag callbacks, warnings and errors."""

import datetime
import gc
import logging
import math
import pathlib
import threading
import weakref

import pytest

import kestrine
from kestrine import (
    KestrineComplexKeyError,
    KestrineDecodeError,
    KestrineDuplicateKeyError,
    KestrineParseError,
    KestrineTag,
)

TAGS_MESSAGE = "tags must be a dict (or Tags) mapping each tag name to a callable"


# --- arguments ------------------------------------------------------------------

def test_argument_count_and_keywords():
    with pytest.raises(TypeError):
        kestrine.loads()
    with pytest.raises(TypeError):
        kestrine.loads("a", 0)  # option is keyword-only
    with pytest.raises(TypeError, match="bogus"):
        kestrine.loads("a", bogus=1)
    with pytest.raises(TypeError):
        kestrine.loads(data="a")
    with pytest.raises(TypeError, match="include_dir"):
        kestrine.loads_all("a", include_dir=".")


@pytest.mark.parametrize("fn", [kestrine.loads, kestrine.loads_all])
def test_option_conversion(fn):
    assert fn("a", option=None) in ("a", ["a"])
    assert fn("a", option=True) in ("a", ["a"])  # an int through the index protocol
    with pytest.raises(TypeError, match=r"argument 'option' must be int, not str") as info:
        fn("a", option="1")
    assert "while processing 'option'" in info.value.__notes__  # as dumps and to_json give it
    with pytest.raises(TypeError, match="'option'"):
        fn("a", option=1.0)
    with pytest.raises(OverflowError, match="'option'"):
        fn("a", option=-1)
    with pytest.raises(OverflowError, match="'option'"):
        fn("a", option=1 << 64)
    # Unknown bits and the dumping options are ignored.
    assert fn("a", option=(1 << 63) | kestrine.OPT_SORT_KEYS) in ("a", ["a"])


def test_path_arguments():
    assert kestrine.loads("a: 1", include_dir=pathlib.Path("."), root_path="x.yaml") == {"a": 1}
    with pytest.raises(TypeError, match="'include_dir'"):
        kestrine.loads("a: 1", include_dir=5)
    with pytest.raises(TypeError, match="'root_path'"):
        kestrine.loads("a: 1", root_path=b"x.yaml")
    # The path check runs before the input is looked at.
    with pytest.raises(TypeError, match="'include_dir'"):
        kestrine.loads(5, include_dir=5)


def test_directive_callbacks_have_no_effect_on_the_plain_road():
    def boom(*args):
        raise AssertionError("called")

    assert kestrine.loads("a: !secret x", on_missing_secret=boom, on_missing_env_var=boom) == {"a": "x"}


def test_schema_argument_rules():
    with pytest.raises(ValueError) as info:
        kestrine.loads("a: 1", schema_resolver=lambda ref: None)
    assert str(info.value) == 'schema_resolver requires schema="auto"'
    with pytest.raises(ValueError) as info:
        kestrine.loads("a: 1", schema="auto")
    assert str(info.value) == ('schema="auto" requires a schema_resolver callable to resolve the '
                               'in-file reference')
    # No documents: nothing to validate.
    assert kestrine.loads("# nothing", schema={"type": "object"}) is None
    # A resolver beside a schema object is ignored; "auto" without a
    # reference in the text never calls the resolver.
    with pytest.raises(kestrine.KestrineSchemaError):
        kestrine.loads("a: 1", schema={"type": "array"}, schema_resolver=lambda ref: 1 / 0)
    assert kestrine.loads("a: 1", schema="auto", schema_resolver=lambda ref: 1 / 0) == {"a": 1}
    # A schema is a dict (subclasses too) or a boolean: anything else would
    # accept every document, most likely a path or URL meant to be read.
    # Refused before the text is read, for schema= and for what a resolver
    # returns (None there means no schema).
    modeline = "# yaml-language-server: $schema=s.json\n"
    for wrong in ("schema.json", "https://example.com/s.json", "AUTO", "", b"{}", 5, 1.5, [{}], ({},), {1}):
        name = type(wrong).__name__
        for text in ("a: 1", "", "a: ["):
            with pytest.raises(TypeError) as info:
                kestrine.loads(text, schema=wrong)
            assert str(info.value) == f'schema must be a dict, True, False or "auto" (with schema_resolver), not {name}'
            with pytest.raises(TypeError) as info:
                kestrine.loads(modeline + text, schema="auto", schema_resolver=lambda ref: wrong)
            assert str(info.value) == f"schema_resolver must return a dict, True, False or None, not {name}"
    import collections
    for good in (collections.OrderedDict(type="array"), kestrine.loads("type: array", option=kestrine.OPT_ANNOTATED)):
        with pytest.raises(kestrine.KestrineSchemaError):
            kestrine.loads("a: 1", schema=good)
    with pytest.raises(kestrine.KestrineSchemaError):
        kestrine.loads(modeline + "a: 1", schema="auto", schema_resolver=lambda ref: False)


def test_tags_must_be_a_dict_and_is_checked_before_parsing():
    for fn in (kestrine.loads, kestrine.loads_all):
        with pytest.raises(TypeError) as info:
            fn("a: [", tags=[("!x", str)])
        assert str(info.value) == TAGS_MESSAGE
    with pytest.raises(TypeError, match="tags must be a dict"):
        kestrine.loads("a: 1", option=kestrine.OPT_ROUND_TRIP, tags=[])

    class Tags(dict):
        pass

    assert kestrine.loads("a: !x 1", tags=Tags({"!x": int})) == {"a": 1}


def test_loads_all_roads_and_include_options():
    for option in (kestrine.OPT_INCLUDES, kestrine.OPT_SECRETS, kestrine.OPT_ENV_VAR):
        with pytest.raises(ValueError) as info:
            kestrine.loads_all("a: 1", option=option)
        assert str(info.value) == ("loads_all() does not support OPT_INCLUDES, OPT_SECRETS, or OPT_ENV_VAR; "
                                   "use loads() for include resolution")
    # The input check comes first.
    with pytest.raises(TypeError, match="requires str, bytes"):
        kestrine.loads_all(5, option=kestrine.OPT_INCLUDES)
    # Recursion alone does not leave the plain road.
    assert kestrine.loads("a: 1", option=kestrine.OPT_INCLUDE_DIR_RECURSIVE) == {"a": 1}


# --- version choice -------------------------------------------------------------

@pytest.mark.parametrize("text, option, expected", [
    ("x: yes", 0, "yes"),
    ("x: yes", kestrine.OPT_YAML_1_1, True),
    ("x: yes", kestrine.OPT_UPGRADE_1_1, True),
    ("x: yes", kestrine.OPT_PYYAML_COMPAT, True),
    ("%YAML 1.1\n---\nx: yes", 0, True),
    ("%YAML 1.2\n---\nx: yes", kestrine.OPT_YAML_1_1, "yes"),
    ("%YAML 1.2\n---\nx: yes", kestrine.OPT_PYYAML_COMPAT, True),
    ("%YAML 2.0\n---\nx: yes", kestrine.OPT_YAML_1_1, "yes"),
    ("x: 010", 0, "010"),
    ("x: 010", kestrine.OPT_YAML_1_1, 8),
])
def test_version_choice(text, option, expected):
    assert kestrine.loads(text, option=option) == {"x": expected}


def test_directive_of_the_first_document_governs_the_stream():
    docs = kestrine.loads_all("%YAML 1.1\n---\na: on\n...\n---\nb: on\n")
    assert docs == [{"a": True}, {"b": True}]


def test_yaml11_warnings(caplog):
    warn = kestrine.OPT_YAML_1_1 | kestrine.OPT_YAML_1_1_WARN
    with caplog.at_level(logging.WARNING, logger="kestrine"):
        assert kestrine.loads("a: 1\nx: yes\n", option=warn) == {"a": 1, "x": True}
    assert [r.name for r in caplog.records] == ["kestrine"]
    assert "'yes'" in caplog.records[0].getMessage()
    assert "line 2, column 4" in caplog.records[0].getMessage()
    caplog.clear()
    # A %YAML 1.2 directive turns the warnings off, even under OPT_PYYAML_COMPAT.
    with caplog.at_level(logging.WARNING, logger="kestrine"):
        kestrine.loads("%YAML 1.2\n---\nx: yes\n", option=kestrine.OPT_PYYAML_COMPAT | warn)
    assert caplog.records == []


# --- conversion -----------------------------------------------------------------

def test_scalar_types():
    doc = kestrine.loads(
        "n: null\nt: true\ni: -42\nf: 1.5\ns: text\nq: '1'\nbig: 123456789012345678901234567890\n"
        "nbig: -18446744073709551616\ninf: .inf\nninf: -.inf\nnan: .nan\nhex: 0x1F\nempty:\n")
    assert doc["n"] is None and doc["empty"] is None and doc["t"] is True
    assert type(doc["i"]) is int and doc["i"] == -42
    assert type(doc["f"]) is float and doc["f"] == 1.5
    assert doc["s"] == "text" and doc["q"] == "1"
    assert doc["big"] == 123456789012345678901234567890 and type(doc["big"]) is int
    assert doc["nbig"] == -18446744073709551616
    assert doc["inf"] == math.inf and doc["ninf"] == -math.inf and math.isnan(doc["nan"])
    assert doc["hex"] == 31


def test_big_integers_in_yaml11():
    opt = kestrine.OPT_YAML_1_1
    assert kestrine.loads("x: 1_000_000_000_000_000_000_000", option=opt) == {"x": 10 ** 21}
    assert kestrine.loads("x: 0x1_0000_0000_0000_0000", option=opt) == {"x": 1 << 64}
    assert kestrine.loads("x: -0b1" + "0" * 70, option=opt) == {"x": -(1 << 70)}


def test_strings_keep_their_text():
    text = "a: 'it''s'\nb: \"tab\\there \\u00e9 \\U0001F600\"\nc: |\n  line 1\n  line 2\nd: Grüße\n"
    assert kestrine.loads(text) == {"a": "it's", "b": "tab\there é 😀", "c": "line 1\nline 2\n",
                                    "d": "Grüße"}


def test_escapes_make_non_ascii_text_in_ascii_input():
    # The input is ASCII; only the escapes make other characters, in values,
    # keys, anchored texts and every document of a stream.
    text = 'a: "\\u00e9t\\xe9"\nb: [&x "\\N\\_", *x]\n"\\u00fc": "\\U0001F600"\n'
    expected = {"a": "\u00e9t\u00e9", "b": ["\x85\xa0", "\x85\xa0"], "\u00fc": "\U0001F600"}
    assert kestrine.loads(text) == expected
    assert kestrine.loads_all("x\n---\n" + text) == ["x", expected]
    assert kestrine.loads('"\\u00e9"') == "\u00e9" and kestrine.loads("'plain'") == "plain"


def test_collections_and_order():
    doc = kestrine.loads("z: 1\na: [1, [2, [3]], {}]\nm: {k: v}\n")
    assert list(doc) == ["z", "a", "m"]
    assert doc == {"z": 1, "a": [1, [2, [3]], {}], "m": {"k": "v"}}
    assert kestrine.loads("{}") == {} and kestrine.loads("[]") == []


def test_empty_streams_and_documents():
    for text in ("", "# only a comment\n", "\n\n"):
        assert kestrine.loads(text) is None
        assert kestrine.loads_all(text) == []
    assert kestrine.loads("---") is None
    assert kestrine.loads_all("---\n---\na: 1\n") == [None, {"a": 1}]


def test_repeated_keys_keep_the_first_position_and_the_last_value():
    doc = kestrine.loads("a: 1\nb: 2\na: 3\n")
    assert doc == {"a": 3, "b": 2}
    assert list(doc) == ["a", "b"]


def test_equal_keys_share_one_string():
    docs = kestrine.loads_all("- name: a\n  value: 1\n- name: b\n---\n{name: c}\n")
    first, second = docs[0][0], docs[0][1]
    k1 = next(iter(first))
    k2 = next(iter(second))
    k3 = next(iter(docs[1]))
    assert k1 == "name" and k1 is k2 and k2 is k3
    # Values are not shared: equal value strings are separate objects.
    values = kestrine.loads("[some text, some text]")
    assert values[0] == values[1] and values[0] is not values[1]
    # So too past the size at which the cache starts to load its slots ahead.
    keys = [f"key{i}" if i % 3 else f"cl\u00e9{i}" for i in range(20000)]
    block = "".join(f"  {k}: {i}\n" for i, k in enumerate(keys))
    big = kestrine.loads(f"-\n{block}-\n{block}")
    assert list(big[0]) == keys and all(a is b for a, b in zip(big[0], big[1]))


def test_keys_that_differ_in_one_byte_stay_apart():
    # Every length the key cache compares in its own way, each byte changed
    # once, in one mapping per length and repeated in sibling mappings.
    for n in range(1, 21):
        keys = ["k" * n, "\u00e9" * n] + ["k" * i + "x" + "k" * (n - i - 1) for i in range(n)]
        pairs = "".join(f"  {k}: {j}\n" for j, k in enumerate(keys))
        doc = kestrine.loads(f"- \n{pairs}- \n{pairs}".replace("- \n  ", "- "))
        assert doc == [dict((k, j) for j, k in enumerate(keys))] * 2
        assert all(a is b for a, b in zip(doc[0], doc[1]))


def test_aliases_become_independent_objects():
    doc = kestrine.loads("a: &x {k: [1]}\nb: *x\n")
    assert doc["a"] == doc["b"]
    assert doc["a"] is not doc["b"] and doc["a"]["k"] is not doc["b"]["k"]
    doc["a"]["k"].append(2)
    assert doc["b"]["k"] == [1]


def test_merge_keys():
    doc = kestrine.loads("base: &b {x: 1, y: 2}\nder:\n  <<: *b\n  y: 3\n")
    assert doc["der"] == {"x": 1, "y": 3}


def test_collection_keys_become_tuples():
    doc = kestrine.loads("? [1, 2]\n: seq\n? {a: 1}\n: map\n? [[1], {b: 2}]\n: nested\n")
    assert doc == {(1, 2): "seq", (("a", 1),): "map", ((1,), (("b", 2),)): "nested"}


def test_unhashable_key_is_a_decode_error():
    # A tag callback may make a key unhashable (a tag alone never does).
    with pytest.raises(KestrineDecodeError) as info:
        kestrine.loads("? !custom [1, 2]\n: x\n", tags={"!custom": list})
    assert str(info.value) == "mapping key is not hashable in Python"
    assert isinstance(info.value.__cause__, TypeError)
    assert kestrine.loads("? !custom [1, 2]\n: x\n", tags={"!custom": tuple}) == {(1, 2): "x"}


def test_complex_keys_can_be_refused():
    with pytest.raises(KestrineComplexKeyError, match=r"complex mapping key \(a sequence used as a key\)"):
        kestrine.loads("? [1]\n: x\n", option=kestrine.OPT_REJECT_COMPLEX_KEYS)


# --- timestamps -----------------------------------------------------------------

def test_timestamps_only_when_asked():
    text = "d: 2002-12-14\n"
    assert kestrine.loads(text) == {"d": "2002-12-14"}
    assert kestrine.loads(text, option=kestrine.OPT_YAML_1_1) == {"d": "2002-12-14"}
    for option in (kestrine.OPT_TIMESTAMPS, kestrine.OPT_PYYAML_COMPAT):
        assert kestrine.loads(text, option=option) == {"d": datetime.date(2002, 12, 14)}


def test_timestamp_forms():
    doc = kestrine.loads(
        "naive: 2001-12-15 2:59:43.10\n"
        "offset: 2001-12-14t21:59:43.10-05:00\n"
        "india: 2001-12-14T21:59:43+05:30\n"
        "utc: 2001-12-14T21:59:43Z\n"
        "quoted: '2002-12-14'\n"
        "tagged: !!str 2002-12-14\n"
        "invalid: 2002-02-29\n"
        "seq: [2000-02-29]\n",
        option=kestrine.OPT_TIMESTAMPS)
    assert doc["naive"] == datetime.datetime(2001, 12, 15, 2, 59, 43, 100000)
    assert doc["naive"].tzinfo is None
    assert doc["offset"].utcoffset() == datetime.timedelta(hours=-5)
    assert doc["offset"].microsecond == 100000
    assert doc["india"].utcoffset() == datetime.timedelta(hours=5, minutes=30)
    assert doc["utc"].tzinfo is datetime.timezone.utc
    assert doc["quoted"] == "2002-12-14" and doc["tagged"] == "2002-12-14"
    assert doc["invalid"] == "2002-02-29"
    assert doc["seq"] == [datetime.date(2000, 2, 29)]


def test_timestamp_keys():
    doc = kestrine.loads("2002-12-14: a\n", option=kestrine.OPT_TIMESTAMPS)
    assert doc == {datetime.date(2002, 12, 14): "a"}


# --- tag callbacks --------------------------------------------------------------

def test_tags_dict_entries_are_called_with_the_converted_value():
    calls = []

    def point(value):
        calls.append(value)
        return ("point", tuple(value))

    doc = kestrine.loads("a: !point [1, 2]\nb: !<!point> [3, 4]\nc: !other 5\n",
                         tags={"!point": point}, tag_handler=lambda tag, value: (tag, value))
    assert doc == {"a": ("point", (1, 2)), "b": ("point", (3, 4)), "c": ("!other", "5")}
    assert calls == [[1, 2], [3, 4]]


def test_tags_lookup_ignores_dict_subclass_overrides():
    class Tags(dict):
        def __getitem__(self, key):
            raise AssertionError("not used")

        def __missing__(self, key):
            raise AssertionError("not used")

    assert kestrine.loads("a: !x 1\nb: !y 2", tags=Tags({"!x": int})) == {"a": 1, "b": "2"}


def test_nested_tags_are_applied_inside_out():
    doc = kestrine.loads("!outer {a: !inner 1}", tag_handler=lambda tag, value: [tag, value])
    assert doc == ["!outer", {"a": ["!inner", "1"]}]


def test_core_tags_never_reach_the_callbacks():
    def handler(tag, value):
        raise AssertionError(tag)

    assert kestrine.loads("a: !!str 1\nb: !!int '2'\nc: !!map {}", tag_handler=handler) == \
        {"a": "1", "b": 2, "c": {}}


def test_unhandled_tags_are_dropped_or_passed_through():
    assert kestrine.loads("a: !x [1]") == {"a": [1]}
    doc = kestrine.loads("a: !x [1]\nb: !<tag:example.com,2000:y> v", option=kestrine.OPT_PASSTHROUGH_TAG)
    assert isinstance(doc["a"], KestrineTag)
    assert doc["a"].tag == "!x" and doc["a"].value == [1]
    assert doc["b"].tag == "tag:example.com,2000:y" and doc["b"].value == "v"
    # A callback wins over the passthrough.
    doc = kestrine.loads("a: !x 1", option=kestrine.OPT_PASSTHROUGH_TAG, tags={"!x": int})
    assert doc == {"a": 1}


def test_callback_errors_propagate_unchanged():
    class Boom(Exception):
        pass

    def fail(value):
        raise Boom("bad value")

    with pytest.raises(Boom, match="bad value"):
        kestrine.loads("a: [1, !x 2]", tags={"!x": fail})
    with pytest.raises(Boom):
        kestrine.loads_all("a\n---\nb: !y 1", tag_handler=lambda t, v: fail(v))
    with pytest.raises(TypeError):
        kestrine.loads("a: !x 1", tags={"!x": "not callable"})


def test_callbacks_may_run_python_code_freely():
    # The collector stays usable, and callbacks may load recursively.
    def handler(tag, value):
        gc.collect()
        return kestrine.loads(value)

    assert kestrine.loads("a: !yaml '{b: [1, 2]}'", tag_handler=handler) == {"a": {"b": [1, 2]}}
    assert gc.isenabled()


def test_collector_state_is_restored():
    assert gc.isenabled()
    kestrine.loads_all("a: [1]\n---\nb: 2")
    assert gc.isenabled()
    gc.disable()
    try:
        kestrine.loads("a: [1]")
        assert not gc.isenabled()
    finally:
        gc.enable()


# --- KestrineTag ------------------------------------------------------------------

def test_kestrine_tag_class():
    value = [1, 2]
    t = KestrineTag("!t", value)
    assert t.tag == "!t" and t.value is value
    assert repr(t) == "KestrineTag('!t', ...)"
    assert repr(KestrineTag(tag="!it's", value=5)) == "KestrineTag('!it's', ...)"
    with pytest.raises(AttributeError):
        t.tag = "!u"
    with pytest.raises(AttributeError):
        t.value = 1
    with pytest.raises(TypeError, match="'tag'"):
        KestrineTag(5, 1)
    with pytest.raises(TypeError):
        KestrineTag("!t")
    with pytest.raises(TypeError):
        KestrineTag("!t", 1, 2)


def test_kestrine_tag_cycles_are_collected():
    class Payload:
        pass

    payload = Payload()
    items = [payload]
    tag = KestrineTag("!t", items)
    items.append(tag)
    ref = weakref.ref(payload)
    del payload, items, tag
    gc.collect()
    assert ref() is None


# --- warnings and errors ----------------------------------------------------------

def test_duplicate_key_policies(caplog):
    text = "a: 1\nb: 2\na: 3\n"
    with caplog.at_level(logging.WARNING, logger="kestrine"):
        assert kestrine.loads(text, option=kestrine.OPT_DUPLICATE_KEYS_WARN) == {"a": 3, "b": 2}
    assert [r.getMessage() for r in caplog.records] == [
        "duplicate mapping key 'a' at line 3, column 1; keeping the last value"]
    assert caplog.records[0].name == "kestrine" and caplog.records[0].levelno == logging.WARNING
    caplog.clear()
    both = kestrine.OPT_DUPLICATE_KEYS_WARN | kestrine.OPT_DUPLICATE_KEYS_ERROR
    with caplog.at_level(logging.WARNING, logger="kestrine"):
        with pytest.raises(KestrineDuplicateKeyError) as info:
            kestrine.loads(text, option=both)
    assert caplog.records == []
    assert str(info.value) == "duplicate mapping key: a at line 3, column 1"
    assert (info.value.line, info.value.column) == (3, 1)


def test_big_integer_keys_are_duplicates_whatever_their_sign():
    text = "+18446744073709551616: 1\n18446744073709551616: 2\n"
    with pytest.raises(KestrineDuplicateKeyError):
        kestrine.loads(text, option=kestrine.OPT_DUPLICATE_KEYS_ERROR)
    assert kestrine.loads(text) == {18446744073709551616: 2}


def test_later_documents_are_decoded_but_not_converted(caplog):
    with caplog.at_level(logging.WARNING, logger="kestrine"):
        first = kestrine.loads("a: 1\n---\nb: 1\nb: 2\n---\nc: !x 3\n",
                               option=kestrine.OPT_DUPLICATE_KEYS_WARN,
                               tag_handler=lambda t, v: pytest.fail("converted"))
    assert first == {"a": 1}
    assert len(caplog.records) == 1 and "line 4, column 1" in caplog.records[0].getMessage()
    with pytest.raises(KestrineParseError):
        kestrine.loads("a: 1\n---\nb: 2\n---\nc: [\n")


def test_a_failing_log_handler_does_not_fail_the_load():
    class Failing(logging.Handler):
        def emit(self, record):
            raise RuntimeError("handler broke")

    logger = logging.getLogger("kestrine")
    handler = Failing()
    logger.addHandler(handler)
    try:
        assert kestrine.loads("a: 1\na: 2\n", option=kestrine.OPT_DUPLICATE_KEYS_WARN) == {"a": 2}
    finally:
        logger.removeHandler(handler)


@pytest.mark.parametrize("text, line, column", [
    ("]", 1, 1),
    ("a: 1\nb: [1, 2\n", 3, 1),
    ("a: 1\nb: @x\n", 2, 4),
    ("a: *missing\n", 1, 4),
])
def test_parse_errors_carry_one_based_positions(text, line, column):
    with pytest.raises(KestrineParseError) as info:
        kestrine.loads(text)
    err = info.value
    assert (err.line, err.column) == (line, column)
    assert str(err).endswith(f" at line {line}, column {column}")
    assert err.file is None
    with pytest.raises(KestrineParseError):
        kestrine.loads_all(text)


def test_deep_nesting_is_converted_without_exhausting_the_stack():
    depth = 999
    doc = kestrine.loads("[" * depth + "x" + "]" * depth)
    for _ in range(depth):
        doc = doc[0]
    assert doc == "x"
    with pytest.raises(KestrineParseError, match="maximum nesting depth"):
        kestrine.loads("[" * 1001 + "]" * 1001)


# --- threads ---------------------------------------------------------------------

def _big_document(seed, services=3000):
    lines = ["services:"]
    for i in range(services):
        lines += [f"  svc-{seed}-{i}:", f"    replicas: {i % 7}", f"    ratio: {i / 8}",
                  f"    tags: [t{seed}, t{i % 13}]", f"    name: 'service {seed} {i}'"]
    return "\n".join(lines) + "\n"


def test_concurrent_loads_give_correct_results():
    texts = [_big_document(seed) for seed in range(4)]
    expected = [kestrine.loads(t) for t in texts]
    results = [None] * len(texts)
    barrier = threading.Barrier(len(texts))

    def work(i):
        barrier.wait()
        for _ in range(3):
            results[i] = kestrine.loads_all(texts[i].encode())

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(texts))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [[e] for e in expected]
    assert expected[1]["services"]["svc-1-5"] == {"replicas": 5, "ratio": 0.625, "tags": ["t1", "t5"],
                                                  "name": "service 1 5"}


def test_datetime_is_imported_only_when_a_date_is_made():
    import subprocess
    import sys
    code = (
        "import sys, kestrine\n"
        "for option in (0, kestrine.OPT_ANNOTATED, kestrine.OPT_ROUND_TRIP, kestrine.OPT_PYYAML_COMPAT):\n"
        "    kestrine.loads(b'a: [1, x]\\nb: 2001-12-14x\\n', option=option)\n"
        "kestrine.loads_all(b'a: 1\\n', option=kestrine.OPT_TIMESTAMPS)\n"
        "print('datetime' in sys.modules)\n"
        "doc = kestrine.loads(b'a: 2001-12-14\\n', option=kestrine.OPT_TIMESTAMPS)\n"
        "print('datetime' in sys.modules, repr(doc['a']))\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert out.split("\n")[:2] == ["False", "True datetime.date(2001, 12, 14)"]
