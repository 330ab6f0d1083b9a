"""How dumps and to_json see Python objects: built-in types, tags,
serializers, default, the duck-typed rules, and every conversion error."""

import dataclasses
import datetime
import decimal
import enum
import json
import os
import pathlib
import typing
import uuid

import pytest

import kestrine
from kestrine import KestrineEncodeError, KestrineTag, KestrineUnserializableError

TOO_DEEP = "object is too deeply nested to serialize (possible self-reference)"


def d(obj, option=0, **kw):
    return kestrine.dumps(obj, option=option, **kw).decode("utf-8")


def j(obj, option=0, **kw):
    return kestrine.to_json(obj, option=option, **kw).decode("utf-8")


def nested(levels):
    obj = []
    for _ in range(levels - 1):
        obj = [obj]
    return obj


# ---------------------------------------------------------------------------
# Built-in types


def test_depth_limit():
    out = d(nested(1000))
    assert out.count("-") == 999 and out.endswith("[]\n")
    assert j(nested(1000)) == "[" * 999 + "[]" + "]" * 999
    for conv in (kestrine.dumps, kestrine.to_json):
        with pytest.raises(KestrineEncodeError, match=r"^object is too deeply nested"):
            conv(nested(1001))
    deep = {}
    cur = deep
    for _ in range(999):
        cur["k"] = {}
        cur = cur["k"]
    cur["k"] = 1  # the scalar sits at depth 1000
    with pytest.raises(KestrineEncodeError, match=TOO_DEEP.replace("(", r"\(").replace(")", r"\)")):
        kestrine.dumps(deep)


def test_self_references_fail_cleanly():
    lst = []
    lst.append(lst)
    dct = {}
    dct["self"] = dct
    for obj in (lst, dct):
        with pytest.raises(KestrineEncodeError, match="possible self-reference"):
            kestrine.dumps(obj)
        with pytest.raises(KestrineEncodeError, match="possible self-reference"):
            kestrine.to_json(obj)


def test_integers():
    assert d([True, False, 0, -1]) == "- true\n- false\n- 0\n- -1\n"
    assert d(2 ** 63) == "9223372036854775808\n"
    assert d(-(2 ** 63)) == "-9223372036854775808\n"
    assert d(-(2 ** 63) - 1) == "-9223372036854775809\n"
    assert kestrine.loads(d(3 ** 200)) == 3 ** 200
    assert j([2 ** 100]) == "[1267650600228229401496703205376]"

    class MyInt(int):
        def __str__(self):
            return "not digits"

        __repr__ = __str__

    assert d([MyInt(5), MyInt(2 ** 70)]) == "- 5\n- 1180591620717411303424\n"


# Powers of two and their neighbours straddle every width an integer or a
# float may be held in (32, 53, 63, 64 bits): both writers, every road, and
# back through both readers, value and type unchanged.
@pytest.mark.parametrize("k", range(29, 67))
def test_powers_of_two_and_their_neighbours_read_back(k):
    values = [sign * (2 ** k + delta) for sign in (1, -1) for delta in (-1, 0, 1)]
    values += [2.0 ** k, -(2.0 ** k), 2.0 ** k * (1 + 2 ** -52), 2.0 ** -k, float(2 ** k - 1)]
    data = [values, {str(v): v for v in values}]
    for represent in (None, lambda o: None):
        for option in (0, kestrine.OPT_FLOW_STYLE):
            text = kestrine.dumps(data, option=option, represent=represent)
            for road in (0, kestrine.OPT_YAML_1_1, kestrine.OPT_ROUND_TRIP):
                back = kestrine.loads(text, option=road)
                back = back.to_dict() if road == kestrine.OPT_ROUND_TRIP else back
                assert back == data and [type(v) for v in back[0]] == [type(v) for v in values]
        assert kestrine.loads(kestrine.dumps({v: 1 for v in values}, represent=represent)) == {v: 1 for v in values}
    text = kestrine.to_json(data)
    assert text == json.dumps(data, separators=(",", ":")).encode()
    for back in (json.loads(text), kestrine.loads(text)):
        assert back == data and [type(v) for v in back[0]] == [type(v) for v in values]


def test_floats_and_their_subclasses():
    class F(float):
        pass

    assert d([F(2.5), float("nan"), float("-inf")]) == "- 2.5\n- .nan\n- -.inf\n"


def test_str_subclasses_and_non_ascii_text():
    class S(str):
        pass

    text = "h\u00e9llo \u4e16\u754c \U0001f600"
    assert kestrine.loads(d([S("sub"), text, S(text)])) == ["sub", text, text]
    long_text = "\u00e9" * 5000 + "x" * 5000
    assert kestrine.loads(d({"k": long_text})) == {"k": long_text}


def test_unpaired_surrogates_are_refused():
    msg = r"^cannot serialize a str containing unpaired surrogates"
    for obj in ("a\ud800b", {"\udfff": 1}, ["ok", "x\ud83d"]):
        with pytest.raises(KestrineEncodeError, match=msg):
            kestrine.dumps(obj)
        with pytest.raises(KestrineEncodeError, match=msg):
            kestrine.to_json(obj)


def test_bytes():
    assert d(b"caf\xc3\xa9") == "caf\u00e9\n"
    assert d([b"x" * 2000]) == "- " + "x" * 2000 + "\n"
    for bad in (b"\xff", b"\xed\xa0\x80", b"\xc0\xaf"):
        with pytest.raises(KestrineEncodeError, match=r"^cannot serialize bytes that are not valid UTF-8"):
            kestrine.dumps(bad)
    with pytest.raises(KestrineUnserializableError, match="^type bytearray is not YAML serializable$"):
        kestrine.dumps(bytearray(b"x"))
    assert d(bytearray(b"x"), default=bytes) == "x\n"


def test_tuples_sets_and_container_subclasses():
    class L(list):
        def __iter__(self):
            return reversed(list(list.__iter__(self)))

    class T(tuple):
        pass

    assert d((1, 2)) == "- 1\n- 2\n"
    assert d(T((1, 2))) == "- 1\n- 2\n"
    assert d(L([1, 2, 3])) == "- 3\n- 2\n- 1\n"  # subclasses iterate their own way
    assert d({3}) == "- 3\n"
    assert d(frozenset()) == "[]\n"
    assert sorted(kestrine.loads(d({1, 2, 3}))) == [1, 2, 3]


def test_dict_subclasses_and_keys_of_any_kind():
    import collections

    od = collections.OrderedDict([("b", 1), ("a", 2), ("c", 3)])
    od.move_to_end("b")
    assert d(od) == "a: 2\nc: 3\nb: 1\n"  # its own order, not the storage's
    assert j(od, kestrine.OPT_SORT_KEYS) == '{"a":2,"b":1,"c":3}'
    assert d({(1, 2): 3}) == "[1, 2]: 3\n"
    assert d({None: 1, 2: 3, 1.5: 4, False: 5}) == "null: 1\n2: 3\n1.5: 4\nfalse: 5\n"


def test_unserializable_objects_name_their_type():
    class Thing:
        pass

    with pytest.raises(KestrineUnserializableError, match="^type Thing is not YAML serializable$"):
        kestrine.dumps({"a": [Thing()]})
    with pytest.raises(TypeError):  # also a TypeError for code not written for kestrine
        kestrine.to_json(Thing())
    with pytest.raises(KestrineUnserializableError, match="^type complex is not YAML serializable$"):
        kestrine.dumps(1j)


# ---------------------------------------------------------------------------
# default


def test_default_is_applied_once_per_object():
    class A:
        pass

    class B:
        pass

    seen = []

    def default(obj):
        seen.append(type(obj).__name__)
        return B() if isinstance(obj, A) else "b"

    with pytest.raises(KestrineUnserializableError, match="^type B is not YAML serializable$"):
        kestrine.dumps(A(), default=default)
    assert seen == ["A"]
    assert d([B(), {"k": B()}], default=default) == "- b\n- k: b\n"


def test_default_results_are_converted_like_data():
    class P:
        def __init__(self, x):
            self.x = x

    def default(obj):
        return {"x": obj.x, "big": "s" * 3000, "t": KestrineTag("!p", obj.x)}

    out = d([P(1), P(2)], default=default)
    assert out.count("!p") == 2
    assert kestrine.loads(d([P(1)], default=lambda o: [o.x, "y" * 4000])) == [[1, "y" * 4000]]


def test_exceptions_from_default_pass_through():
    class Boom(Exception):
        pass

    def default(obj):
        raise Boom("no")

    with pytest.raises(Boom, match="^no$"):
        kestrine.dumps(object(), default=default)
    with pytest.raises(Boom):
        kestrine.to_json([object()], default=default)


class Odd:
    pass


@pytest.mark.parametrize("road", ["dumps default", "dumps serializers", "to_json default"])
def test_callbacks_that_mutate_the_container_being_walked(road):
    # A container is converted as it was when its walk began: a callback
    # that empties or refills it changes neither the items nor their number.
    cases = [
        ([Odd(), "a", Odd(), "b" * 600, [Odd()]], [0, "a", 0, "b" * 600, [0]]),
        ({"a": Odd(), "b": "kept" * 300, "c": Odd(), "d": [Odd()]}, {"a": 0, "b": "kept" * 300, "c": 0, "d": [0]}),
        ({"a": 1, "b": Odd(), "c": 2}, {"a": 1, "b": 0, "c": 2}),
        # The callback runs inside a nested container and changes the outer one.
        ({"x": [Odd()], "y": "after" * 200}, {"x": [0], "y": "after" * 200}),
        ([{"k": Odd()}, "after"], [{"k": 0}, "after"]),
    ]
    if road != "to_json default":
        cases.append(({3: Odd(), "b": Odd()}, {3: 0, "b": 0}))  # a key that is not a str first
    for obj, expected in cases:
        def callback(_):
            if isinstance(obj, list):
                obj[:] = [1] * 50
            else:
                obj.clear()
                obj["new"] = 1
            return KestrineTag("!!int", 0) if road == "dumps serializers" else 0

        if road == "to_json default":
            assert json.loads(j(obj, default=callback)) == expected
        elif road == "dumps default":
            assert kestrine.loads(d(obj, default=callback)) == expected
        else:
            assert kestrine.loads(d(obj, serializers={Odd: callback})) == expected


# ---------------------------------------------------------------------------
# Tags and serializers


def test_kestrine_tag_values():
    assert d({"p": KestrineTag("!point", [1, 2])}) == "p: !point\n  - 1\n  - 2\n"
    assert d([KestrineTag("!!str", 5)]) == "- !!str 5\n"
    assert d([KestrineTag("!<tag:x.org,2002:y>", "v")]) == "- !<tag:x.org,2002:y> v\n"
    assert d([KestrineTag("!a[b{c", 1)]) == "- !a[b{c 1\n"
    with pytest.raises(KestrineEncodeError, match="^cannot attach a tag to a value that already carries a tag$"):
        kestrine.dumps(KestrineTag("!a", KestrineTag("!b", 1)))


@pytest.mark.parametrize("tag, message", [
    ("", "invalid tag \"\": a tag must start with '!'"),
    ("x", "invalid tag \"x\": a tag must start with '!'"),
    ("!a b", "invalid tag \"!a b\": a tag cannot contain whitespace or control characters (found ' ')"),
    ("!a\tb", "invalid tag \"!a\\tb\": a tag cannot contain whitespace or control characters (found '\\t')"),
    ("!a\u00a0", "invalid tag \"!a\\u{a0}\": a tag cannot contain whitespace or control characters "
                 "(found '\\u{a0}')"),
    ("!<>", "invalid tag \"!<>\": a verbatim tag must be '!<...>' with non-empty content and no interior '>'"),
    ("!<a>b>", "invalid tag \"!<a>b>\": a verbatim tag must be '!<...>' with non-empty content and no "
               "interior '>'"),
    ("!<a", "invalid tag \"!<a\": a verbatim tag must be '!<...>' with non-empty content and no interior '>'"),
    ("!e!x", "invalid tag \"!e!x\": a named tag handle (!name!suffix) needs a %TAG directive, which dumps "
             "does not emit; use a primary (!suffix), secondary (!!suffix), or verbatim (!<uri>) tag"),
    ("!!a!b", "invalid tag \"!!a!b\": a named tag handle"),
    ("!a,b", "invalid tag \"!a,b\": a shorthand tag cannot contain a flow indicator (found ',')"),
    ("!a}", "invalid tag \"!a}\": a shorthand tag cannot contain a flow indicator (found '}')"),
])
def test_invalid_tags(tag, message):
    with pytest.raises(KestrineEncodeError) as info:
        kestrine.dumps(KestrineTag(tag, 1))
    assert str(info.value).startswith(message)


# The non-specific tag "!" and the bare handle "!!" are written as given, on
# both roads; what they tag reads back untagged, a scalar as a string.
@pytest.mark.parametrize("represent", [None, lambda o: None], ids=["plain", "represent"])
@pytest.mark.parametrize("tag", ["!", "!!"])
@pytest.mark.parametrize("make, option, text, back", [
    (lambda t: {"a": KestrineTag(t, 12)}, 0, "a: {t} 12\n", {"a": "12"}),
    (lambda t: {"a": KestrineTag(t, "12")}, 0, 'a: {t} "12"\n', {"a": "12"}),
    (lambda t: {"a": KestrineTag(t, None)}, 0, "a: {t}\n", {"a": ""}),
    (lambda t: {"a": KestrineTag(t, [1, 2])}, 0, "a: {t}\n  - 1\n  - 2\n", {"a": [1, 2]}),
    (lambda t: {"a": KestrineTag(t, {"x": 1})}, 0, "a: {t}\n  x: 1\n", {"a": {"x": 1}}),
    (lambda t: {"a": KestrineTag(t, [1, 2])}, kestrine.OPT_FLOW_STYLE, "{{a: {t} [1, 2]}}\n", {"a": [1, 2]}),
    (lambda t: [KestrineTag(t, "x"), KestrineTag(t, 3)], kestrine.OPT_FLOW_STYLE, "[{t} x, {t} 3]\n", ["x", "3"]),
    (lambda t: KestrineTag(t, 12), 0, "{t} 12\n", "12"),
    (lambda t: {KestrineTag(t, "k"): 1, KestrineTag(t, "j"): 2}, 0, "{t} k: 1\n? {t} j\n: 2\n",
     {"k": 1, "j": 2}),
])
def test_bare_tag_handles(represent, tag, make, option, text, back):
    written = d(make(tag), option=option, represent=represent)
    assert written == text.format(t=tag)
    for road in (0, kestrine.OPT_ROUND_TRIP):
        loaded = kestrine.loads(written, option=road)
        assert (loaded.to_dict() if road else loaded) == back


# A global tag (a URI, as a %TAG handle expands to on loading) is written
# verbatim, on both dump roads, and loads back as the same tag and value.
@pytest.mark.parametrize("represent", [None, lambda o: None], ids=["plain", "represent"])
@pytest.mark.parametrize("text, written", [
    ('%TAG !e! tag:example.com,2000:app/\n---\n!e!foo "bar"\n', "!<tag:example.com,2000:app/foo> bar\n"),
    ("k: !<tag:example.com,2000:m> {a: [1, 2]}\n", "k: !<tag:example.com,2000:m>\n  a:\n    - 1\n    - 2\n"),
    ("- !<urn:x-kestrine:seq> [x]\n", "- !<urn:x-kestrine:seq>\n  - x\n"),
    ("%TAG ! tag:example.com,2000:\n---\n!k a: 1\n", "!<tag:example.com,2000:k> a: 1\n"),
])
def test_passed_through_global_tags_dump_back(represent, text, written):
    def unwrapped(v):  # KestrineTag compares by identity
        if isinstance(v, KestrineTag):
            return ("tag", v.tag, unwrapped(v.value))
        if isinstance(v, dict):
            return {unwrapped(k): unwrapped(x) for k, x in v.items()}
        return [unwrapped(x) for x in v] if isinstance(v, list) else v

    loaded = kestrine.loads(text, option=kestrine.OPT_PASSTHROUGH_TAG)
    assert d(loaded, represent=represent) == written
    again = kestrine.loads(written, option=kestrine.OPT_PASSTHROUGH_TAG)
    assert unwrapped(again) == unwrapped(loaded)


def test_passed_through_bare_tags_dump_back():
    value = kestrine.loads("a: ! 12", option=kestrine.OPT_PASSTHROUGH_TAG)
    assert (value["a"].tag, value["a"].value) == ("!", "12")
    for represent in (None, lambda o: None):
        text = kestrine.dumps(value, represent=represent)
        assert text == b'a: ! "12"\n'
        again = kestrine.loads(text, option=kestrine.OPT_PASSTHROUGH_TAG)
        assert (again["a"].tag, again["a"].value) == ("!", "12")


def test_serializers():
    class Point:
        def __init__(self, x, y):
            self.x, self.y = x, y

    class SubPoint(Point):
        pass

    ser = {
        Point: lambda p: ("!point", [p.x, p.y]),
        int: lambda i: ("!never", i),
        str: lambda s: ("!never", s),
    }
    assert d([Point(1, 2), 3, "s"], serializers=ser) == "- !point\n  - 1\n  - 2\n- 3\n- s\n"
    with pytest.raises(KestrineUnserializableError, match="^type SubPoint is not YAML serializable$"):
        kestrine.dumps(SubPoint(1, 2), serializers=ser)
    ser2 = {Point: lambda p: KestrineTag("!p", {"x": p.x})}
    assert d(Point(1, 2), serializers=ser2) == "!p\n  x: 1\n"


@pytest.mark.parametrize("result, exc, message", [
    (("!t", KestrineTag("!u", 1)), KestrineEncodeError, "cannot attach a tag to a value that already carries a tag"),
    (["!t", 1], KestrineEncodeError, "a tags callback must return a KestrineTag or a (tag, value) tuple"),
    (("!t", 1, 2), KestrineEncodeError, "a tags callback must return a KestrineTag or a (tag, value) tuple"),
    ("plain", KestrineEncodeError, "a tags callback must return a KestrineTag or a (tag, value) tuple"),
    ((5, 1), TypeError, None),
    (("bad", 1), KestrineEncodeError, "invalid tag \"bad\": a tag must start with '!'"),
])
def test_bad_serializer_results(result, exc, message):
    class X:
        pass

    with pytest.raises(exc) as info:
        kestrine.dumps(X(), serializers={X: lambda x: result})
    if message is not None:
        assert str(info.value) == message


def test_serializer_exceptions_pass_through():
    class X:
        pass

    def boom(x):
        raise LookupError("boom")

    with pytest.raises(LookupError, match="boom"):
        kestrine.dumps([X()], serializers={X: boom})


# ---------------------------------------------------------------------------
# Dates and times


UTC = datetime.timezone.utc
DT_AWARE = datetime.datetime(2024, 5, 1, 12, 30, 0, 250000, tzinfo=UTC)
DT_NAIVE = datetime.datetime(2024, 5, 1, 12, 30, 0, 250000)
DT_OFFSET = datetime.datetime(2024, 5, 1, 12, 30, tzinfo=datetime.timezone(datetime.timedelta(hours=5, minutes=30)))
DT_SECONDS = datetime.datetime(2024, 5, 1, 12, 30, tzinfo=datetime.timezone(
    datetime.timedelta(hours=5, minutes=30, seconds=15)))
DT_MICRO_OFFSET = datetime.datetime(2024, 5, 1, 12, 30, 0, 7, tzinfo=datetime.timezone(
    -datetime.timedelta(hours=1, seconds=15, microseconds=5)))
DATE = datetime.date(2024, 5, 1)
TIME = datetime.time(8, 15, 30, 5)


@pytest.mark.parametrize("value, option, text", [
    (DT_AWARE, 0, "2024-05-01T12:30:00.250000+00:00"),
    (DT_AWARE, kestrine.OPT_UTC_Z, "2024-05-01T12:30:00.250000Z"),
    (DT_AWARE, kestrine.OPT_UTC_Z | kestrine.OPT_OMIT_MICROSECONDS, "2024-05-01T12:30:00Z"),
    (DT_NAIVE, 0, "2024-05-01T12:30:00.250000"),
    (DT_NAIVE, kestrine.OPT_UTC_Z, "2024-05-01T12:30:00.250000"),
    (DT_NAIVE, kestrine.OPT_NAIVE_UTC, "2024-05-01T12:30:00.250000+00:00"),
    (DT_NAIVE, kestrine.OPT_NAIVE_UTC | kestrine.OPT_UTC_Z, "2024-05-01T12:30:00.250000Z"),
    (DT_NAIVE, kestrine.OPT_OMIT_MICROSECONDS, "2024-05-01T12:30:00"),
    (DT_OFFSET, kestrine.OPT_UTC_Z | kestrine.OPT_NAIVE_UTC, "2024-05-01T12:30:00+05:30"),
    # Offsets with seconds are offsets: the naive-only flag leaves them.
    (DT_SECONDS, kestrine.OPT_NAIVE_UTC | kestrine.OPT_UTC_Z, "2024-05-01T12:30:00+05:30:15"),
    (DT_MICRO_OFFSET, kestrine.OPT_NAIVE_UTC | kestrine.OPT_OMIT_MICROSECONDS, "2024-05-01T12:30:00-01:00:15.000005"),
    (DATE, kestrine.OPT_NAIVE_UTC | kestrine.OPT_UTC_Z, "2024-05-01"),
    (TIME, kestrine.OPT_NAIVE_UTC, "08:15:30.000005"),
    (TIME, kestrine.OPT_OMIT_MICROSECONDS, "08:15:30"),
])
def test_datetimes(value, option, text):
    assert j([value], option) == f'["{text}"]'
    assert kestrine.loads(d([value], option)) == [text]


def test_datetime_keys_and_yaml_1_1_quoting():
    out = d({DATE: DT_NAIVE}, kestrine.OPT_YAML_1_1)
    assert out == '"2024-05-01": "2024-05-01T12:30:00.250000"\n'


def test_minus_zero_offset_stays():
    class Iso:
        def isoformat(self):
            return "2024-01-01T00:00:00-00:00"

    assert j([Iso()], kestrine.OPT_UTC_Z) == '["2024-01-01T00:00:00-00:00"]'


def test_isoformat_duck_typing():
    class NotCallable:
        isoformat = 5

    class Raising:
        @property
        def isoformat(self):
            raise RuntimeError("hidden")

    class NotText:
        def isoformat(self):
            return 42

    with pytest.raises(TypeError, match="not callable"):
        kestrine.dumps(NotCallable())
    with pytest.raises(KestrineUnserializableError, match="^type Raising is not YAML serializable$"):
        kestrine.dumps(Raising())
    with pytest.raises(KestrineUnserializableError, match="^type NotText is not YAML serializable$"):
        kestrine.dumps(NotText())


def test_passthrough_datetime_reaches_default():
    seen = []

    def default(obj):
        seen.append(obj)
        return "seen"

    assert d(DATE, kestrine.OPT_PASSTHROUGH_DATETIME, default=default) == "seen\n"
    assert seen == [DATE]
    with pytest.raises(KestrineUnserializableError, match="^type datetime is not YAML serializable$"):
        kestrine.dumps(DT_NAIVE, option=kestrine.OPT_PASSTHROUGH_DATETIME)


# ---------------------------------------------------------------------------
# Enumerations


def test_enumerations():
    class Color(enum.Enum):
        RED = "red"
        PAIR = (1, 2)

    class Level(enum.IntEnum):
        LOW = 1

    class Name(str, enum.Enum):
        A = "yes"

    class Outer(enum.Enum):
        WRAP = Color.RED

    assert d([Color.RED, Color.PAIR, Level.LOW, Name.A, Outer.WRAP]) == \
        '- red\n-\n  - 1\n  - 2\n- 1\n- "yes"\n- red\n'
    assert j({Level.LOW: Color.RED}) == '{"1":"red"}'


def test_enum_metaclass_under_another_name_is_not_recognised():
    class Meta(enum.EnumMeta):
        pass

    class Odd(enum.Enum, metaclass=Meta):
        X = 1

    with pytest.raises(KestrineUnserializableError, match="^type Odd is not YAML serializable$"):
        kestrine.dumps(Odd.X)
    assert d(Odd.X, default=lambda o: o.name) == "X\n"


# ---------------------------------------------------------------------------
# Dataclasses


@dataclasses.dataclass
class Inner:
    value: int


@dataclasses.dataclass
class Record:
    name: str
    inner: Inner
    tags: list = dataclasses.field(default_factory=list)
    counter: typing.ClassVar[int] = 0
    seed: dataclasses.InitVar[int] = 0

    def __post_init__(self, seed):
        self.derived = seed * 2


@dataclasses.dataclass(slots=True, frozen=True)
class Slotted:
    a: int
    b: str = "b"


def test_dataclasses():
    r = Record("r", Inner(1), ["x"], seed=3)
    # ClassVar and InitVar pseudo-fields are not instance data.
    assert d(r) == "name: r\ninner:\n  value: 1\ntags:\n  - x\n"
    assert j([Slotted(1)]) == '[{"a":1,"b":"b"}]'


def test_dataclass_classes_and_passthrough():
    with pytest.raises(KestrineUnserializableError, match="^type type is not YAML serializable$"):
        kestrine.dumps(Record)
    with pytest.raises(KestrineUnserializableError, match="^type Slotted is not YAML serializable$"):
        kestrine.dumps(Slotted(1), option=kestrine.OPT_PASSTHROUGH_DATACLASS)
    assert d(Slotted(1), kestrine.OPT_PASSTHROUGH_DATACLASS, default=lambda o: o.b) == "b\n"


def test_dataclass_field_errors_pass_through():
    @dataclasses.dataclass
    class Lazy:
        x: int

        def __getattribute__(self, name):
            if name == "x":
                raise KeyError("x is gone")
            return object.__getattribute__(self, name)

    with pytest.raises(KeyError, match="x is gone"):
        kestrine.dumps(Lazy(1))


def test_duck_typed_dataclass_field_names_must_be_text():
    class Fake:
        __dataclass_fields__ = {1: None}

    with pytest.raises(TypeError):
        kestrine.dumps(Fake())

    class Listed:
        __dataclass_fields__ = ["a"]
        a = 5

    assert d(Listed()) == "a: 5\n"


# ---------------------------------------------------------------------------
# UUID, Decimal, paths


def test_uuid():
    u = uuid.UUID("12345678-1234-5678-1234-567812345678")
    assert d(u) == "12345678-1234-5678-1234-567812345678\n"

    class UUID:  # same name, another module
        pass

    with pytest.raises(KestrineUnserializableError, match="^type UUID is not YAML serializable$"):
        kestrine.dumps(UUID())


@pytest.mark.parametrize("text, expected", [
    ("2.5", 2.5),
    ("0.10", 0.1),
    ("100", 100),
    ("1E+2", 100),
    ("-0", 0),
    ("1.00000000000000000001", "1.00000000000000000001"),
    ("123456789012345678901234567890", 123456789012345678901234567890),
    ("Infinity", float("inf")),
    ("-Infinity", float("-inf")),
])
def test_decimals(text, expected):
    back = kestrine.loads(d([decimal.Decimal(text)]))[0]
    assert back == expected and type(back) is type(expected)


def test_decimal_nans_become_float_nan():
    for text in ("NaN", "sNaN"):
        assert d(decimal.Decimal(text)) == ".nan\n"
    assert j([decimal.Decimal("NaN")]) == "[null]"


def test_paths():
    assert d(pathlib.PurePosixPath("/etc/x.yaml")) == "/etc/x.yaml\n"

    class BytesPath:
        def __fspath__(self):
            return b"/raw"

    class Broken:
        def __fspath__(self):
            raise OSError("gone")

    with pytest.raises(KestrineUnserializableError, match="^type BytesPath is not YAML serializable$"):
        kestrine.dumps(BytesPath())
    assert d(BytesPath(), default=lambda o: "fallback") == "fallback\n"
    with pytest.raises(OSError, match="gone"):
        kestrine.dumps(Broken())


def test_paths_that_are_not_utf8_say_so():
    # os.fsdecode keeps undecodable bytes as lone surrogates.
    path = pathlib.PurePosixPath(os.fsdecode(b"/srv/caf\xe9/\xff.yaml"))
    message = "^cannot serialize a path that is not valid UTF-8: '/srv/caf\\\\udce9/\\\\udcff.yaml'; "
    latin = lambda o: os.fsencode(o).decode("latin-1")  # noqa: E731
    for dump, kw in ((kestrine.dumps, {}), (kestrine.to_json, {}), (kestrine.dumps, {"represent": lambda o: None})):
        for obj in (path, [path], {"k": path}, {path: 1}):
            with pytest.raises(KestrineUnserializableError, match=message):
                dump(obj, **kw)
        assert kestrine.loads(dump([path], default=latin, **kw)) == ["/srv/caf\xe9/\xff.yaml"]  # default still asked


# ---------------------------------------------------------------------------
# numpy


def test_numpy():
    np = pytest.importorskip("numpy")
    arr = np.arange(6, dtype=np.int64).reshape(2, 3)
    opt = kestrine.OPT_SERIALIZE_NUMPY
    assert d({"a": arr}, opt) == "a:\n  -\n    - 0\n    - 1\n    - 2\n  -\n    - 3\n    - 4\n    - 5\n"
    assert j([np.float32(1.5), np.int8(-3), np.bool_(True), np.str_("s")], opt) == '[1.5,-3,true,"s"]'
    assert j(np.array([[1.5, np.nan]]), opt) == "[[1.5,null]]"
    with pytest.raises(KestrineUnserializableError, match="^type ndarray is not YAML serializable$"):
        kestrine.dumps(arr)
    assert d(arr, default=lambda a: a.shape) == "- 2\n- 3\n"
    # Without the option numpy scalars that subclass Python numbers still dump.
    assert d(np.float64(2.5)) == "2.5\n"
