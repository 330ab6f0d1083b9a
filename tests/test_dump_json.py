"""to_json: arguments, layout and the JSON text written."""

import codecs
import json
import sys
import threading

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
# The writer runs with the interpreter lock released.  With a long switch
# interval a thread waiting for the lock gets it only when to_json lets go
# of it, so what that thread does lands exactly while the tree is written.

def write_while_another_thread_runs(make_data, action, tries=10):
    """to_json(make_data()) while another thread waits to run `action(data)`
    as soon as it has the lock; the text and whether the action ran inside
    the call.  (Waking that thread may take longer than the writing on a
    busy machine: a miss is tried again.)"""
    for _ in range(tries):
        data = make_data()
        state = {"inside": False, "ran_inside": None}
        # A plain lock: releasing it never blocks (an Event's set may, and
        # would hand the interpreter lock over on its own).
        ready, gate = threading.Event(), threading.Lock()
        gate.acquire()

        def other():
            ready.set()
            with gate:
                state["ran_inside"] = state["inside"]
                action(data)

        interval = sys.getswitchinterval()
        sys.setswitchinterval(5.0)
        try:
            thread = threading.Thread(target=other)
            thread.start()
            ready.wait()
            state["inside"] = True
            gate.release()
            text = kestrine.to_json(data)
            state["inside"] = False
            thread.join(30)
        finally:
            sys.setswitchinterval(interval)
        if state["ran_inside"]:
            break
    return text, state["ran_inside"]


# Written first, it keeps the writer busy while the other thread wakes.
BALLAST = [i * 0.25 for i in range(500_000)]


def test_lock_released_while_the_writer_runs():
    text, ran_inside = write_while_another_thread_runs(lambda: [BALLAST], lambda data: None)
    assert ran_inside and json.loads(text) == [BALLAST]
    # Small texts are written without letting go of the lock.
    assert write_while_another_thread_runs(lambda: ["x"], lambda data: None, tries=1) == (b'["x"]', False)


def test_what_the_writer_reads_outlives_changes_by_other_threads():
    # Long texts (ASCII, bytes, and the UTF-8 form a str keeps) are read
    # where they live; the other thread drops the only other references to
    # them before the writer gets past the ballast.
    def make_data():
        long_texts = ["%d" % i + "a" * 700 for i in range(300)]
        kept_utf8 = ["é%d" % i * 300 for i in range(100)]
        for t in kept_utf8:
            size = sys.getsizeof(t)
            with pytest.raises(LookupError):
                codecs.lookup(t)  # reads the str as UTF-8, which it then keeps
            assert sys.getsizeof(t) > size
        return {"ballast": BALLAST, "texts": long_texts, "bytes": [t.encode() for t in long_texts],
                "non_ascii": kept_utf8, "nested": [{"k": t} for t in long_texts]}

    expected = make_data()
    expected = json.dumps({**expected, "bytes": expected["texts"]}, ensure_ascii=False,
                          separators=(",", ":")).encode()

    def drop_everything(data):
        for key in list(data):
            if key != "ballast":
                data[key].clear()
        data.clear()
        [("b" * 700 + str(i)) for i in range(2000)]  # noqa: B018 - reuse the freed memory

    text, ran_inside = write_while_another_thread_runs(make_data, drop_everything)
    assert ran_inside and text == expected


# ---------------------------------------------------------------------------
# Sorting members already in key order changes nothing: both give the same
# text, and the same error.

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
    except Exception as exc:  # noqa: BLE001 - both must fail alike
        return type(exc), str(exc)


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(json_data(), st.sampled_from([0, kestrine.OPT_INDENT_2]))
def test_sorting_members_already_in_order_changes_nothing(obj, option):
    assert outcome(obj, option) == outcome(obj, option | kestrine.OPT_SORT_KEYS)


PLAIN = st.recursive(
    st.none() | st.booleans() | st.integers(min_value=-2 ** 63, max_value=2 ** 63 - 1)
    | st.floats(allow_nan=False, allow_infinity=False) | st.text(max_size=40),
    lambda inner: st.lists(inner, max_size=6) | st.dictionaries(st.text(max_size=10), inner, max_size=6),
    max_leaves=30)


def texts_in(obj):
    if isinstance(obj, dict):
        for key, value in obj.items():
            yield key
            yield from texts_in(value)
    elif isinstance(obj, list):
        for item in obj:
            yield from texts_in(item)
    elif isinstance(obj, str):
        yield obj


@settings(max_examples=400, deadline=None)
@given(PLAIN)
def test_plain_data_reads_back_and_texts_are_written_as_the_json_module_writes_them(obj):
    # Floats read back exactly; texts of every storage width (Latin-1,
    # BMP, astral) come out as the json module writes them, but for the two
    # line separators JavaScript cannot hold raw.
    assert json.loads(kestrine.to_json(obj)) == obj
    texts = list(texts_in(obj))
    expected = json.dumps(texts, ensure_ascii=False, separators=(",", ":"))
    assert kestrine.to_json(texts).decode() == expected.replace("\u2028", "\\u2028").replace("\u2029", "\\u2029")
