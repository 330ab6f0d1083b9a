"""to_json: arguments, layout and the JSON text written."""

import json

import pytest

import kestrine
from kestrine import KestrineEncodeError, KestrineTag


def j(obj, option=0, **kw):
    return kestrine.to_json(obj, option=option, **kw).decode("utf-8")


def test_compact_output_without_final_line_feed():
    assert kestrine.to_json({"a": [1, 2.5, None, True], "b": "x"}) == b'{"a":[1,2.5,null,true],"b":"x"}'
    assert j("s") == '"s"'
    assert j(None) == "null"


def test_indentation():
    assert j({"a": [1]}, kestrine.OPT_INDENT_2) == '{\n  "a": [\n    1\n  ]\n}'
    assert j({"a": [1]}, kestrine.OPT_INDENT_4) == '{\n    "a": [\n        1\n    ]\n}'
    assert j({"a": [1]}, kestrine.OPT_INDENT_2 | kestrine.OPT_INDENT_4) == j({"a": [1]}, kestrine.OPT_INDENT_4)
    assert j({"a": [], "b": {}}, kestrine.OPT_INDENT_2) == '{\n  "a": [],\n  "b": {}\n}'
    assert j([], kestrine.OPT_INDENT_4) == "[]"


def test_yaml_layout_options_are_ignored():
    yaml_bits = (kestrine.OPT_FLOW_STYLE | kestrine.OPT_EXPLICIT_START | kestrine.OPT_SINGLE_QUOTES |
                 kestrine.OPT_NULL_AS_KEYWORD | kestrine.OPT_NULL_AS_TILDE | kestrine.OPT_YAML_1_1)
    assert j({"a": None}, yaml_bits) == '{"a":null}'


def test_sort_keys_by_text():
    obj = {"b": 1, "a": 2, 10: 3, 9: 4, None: 5}
    assert j(obj, kestrine.OPT_SORT_KEYS) == '{"10":3,"9":4,"a":2,"b":1,"null":5}'
    assert j(obj) == '{"b":1,"a":2,"10":3,"9":4,"null":5}'


def test_non_finite_floats_are_null():
    assert j([float("nan"), float("inf"), float("-inf")]) == "[null,null,null]"
    assert j({float("nan"): 1, float("inf"): 2}) == '{"null":1,"null":2}'


def test_scalar_keys_become_text():
    assert j({None: 0, True: 1, 2: 2, 1.5: 3, 2 ** 70: 4}) == \
        '{"null":0,"true":1,"2":2,"1.5":3,"1180591620717411303424":4}'
    # Keys with the same text are all written.
    assert j({1: "a", "1": "b"}) == '{"1":"a","1":"b"}'


def test_collection_keys_fail():
    msg = "^a collection cannot be a JSON object key$"
    with pytest.raises(KestrineEncodeError, match=msg):
        kestrine.to_json({(1, 2): 3})
    with pytest.raises(KestrineEncodeError, match=msg):
        kestrine.to_json([{"a": [{"b": {(): 1}}]}])
    with pytest.raises(KestrineEncodeError, match=msg):
        kestrine.to_json({KestrineTag("!t", (1,)): 1})


def test_tags_are_dropped():
    assert j({"p": KestrineTag("!point", [1, 2]), KestrineTag("!k", "key"): 1}) == '{"p":[1,2],"key":1}'


def test_string_escapes():
    assert j("\x01\x1f\b\t\n\f\r\"\\") == '"\\u0001\\u001f\\b\\t\\n\\f\\r\\"\\\\"'
    assert j("\u00e9\x7f") == '"\u00e9\x7f"'
    assert j("\u2028\u2029") == '"\\u2028\\u2029"'
    assert j("\U0001f600") == '"\U0001f600"'


def test_same_conversion_as_dumps():
    import datetime
    import decimal

    class X:
        pass

    obj = {"d": datetime.date(2024, 1, 2), "dec": decimal.Decimal("0.5"), "b": b"x", "t": (1, 2),
           "x": X()}
    assert json.loads(j(obj, default=lambda o: "X")) == \
        {"d": "2024-01-02", "dec": 0.5, "b": "x", "t": [1, 2], "x": "X"}


def test_arguments():
    with pytest.raises(TypeError):
        kestrine.to_json(1, serializers={})
    with pytest.raises(OverflowError) as info:
        kestrine.to_json(1, option=-1)
    assert "while processing 'option'" in info.value.__notes__
    assert j([1], option=None, default=None) == "[1]"


# ---------------------------------------------------------------------------
# Plain data is written straight from the objects, anything sorted through a
# converted tree: both give the same text, and the same error.

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402


class Text(str):
    pass


class Number(int):
    pass


SCALARS = (st.none() | st.booleans() | st.integers() | st.integers(min_value=2 ** 62, max_value=2 ** 80)
           | st.floats() | st.text() | st.text().map(Text) | st.integers().map(Number)
           | st.binary(max_size=8) | st.sampled_from(["\ud800", "\u2028x", "a\"\\\x01", "é" * 20]))
KEYS = (st.none() | st.booleans() | st.integers() | st.floats() | st.tuples(st.integers())
        | st.text().map(lambda s: KestrineTag("!k", s)))


def json_data():
    def extend(inner):
        # Members in key-text order, so that sorting changes nothing; other
        # keys alone in their object.
        in_order = st.dictionaries(st.text(max_size=6), inner, max_size=5).map(
            lambda d: dict(sorted(d.items(), key=lambda kv: kv[0].encode("utf-8", "surrogatepass"))))
        return (st.lists(inner, max_size=5) | st.tuples(inner, inner) | in_order
                | st.builds(lambda k, v: {k: v}, KEYS, inner) | inner.map(lambda v: KestrineTag("!t", v)))
    return st.recursive(SCALARS, extend, max_leaves=25)


def outcome(obj, option):
    try:
        return kestrine.to_json(obj, option=option, default=repr)
    except Exception as exc:  # noqa: BLE001 - the two roads must fail alike
        return type(exc), str(exc)


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(json_data(), st.sampled_from([0, kestrine.OPT_INDENT_2]))
def test_written_straight_as_through_a_tree(obj, option):
    assert outcome(obj, option) == outcome(obj, option | kestrine.OPT_SORT_KEYS)
