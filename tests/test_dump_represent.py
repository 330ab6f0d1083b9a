"""dumps(represent=...): the callback, node descriptors, comments, styles and
anchors for shared and self-referential objects."""

import copy
import dataclasses
import enum
import pickle
import typing

import pytest

import kestrine
from kestrine import (KestrineEncodeError, KestrineMapping, KestrineScalar, KestrineSequence, KestrineTag,
                      KestrineUnserializableError)

hypothesis = pytest.importorskip("hypothesis")
yaml = pytest.importorskip("yaml")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402


def none(obj):
    return None


def rd(obj, represent=none, **kw):
    return kestrine.dumps(obj, represent=represent, **kw).decode()


def on(cls, make):
    """A callback that describes instances of `cls` (bools excepted) with `make`."""
    return lambda o: make(o) if isinstance(o, cls) and not isinstance(o, bool) else None


# ---------------------------------------------------------------------------
# The callback


def test_the_callback_sees_every_object_in_document_order():
    seen = []
    data = {"a": [1, None], (2,): "b"}
    assert rd(data, lambda o: seen.append(o)) == kestrine.dumps(data).decode()
    assert seen == [data, "a", [1, None], 1, None, (2,), 2, "b"]


@pytest.mark.parametrize("option", [0, kestrine.OPT_FLOW_STYLE, kestrine.OPT_INDENT_4 | kestrine.OPT_SORT_KEYS,
                                    kestrine.OPT_INDENTLESS_SEQUENCES | kestrine.OPT_SINGLE_QUOTES,
                                    kestrine.OPT_NULL_AS_TILDE | kestrine.OPT_EXPLICIT_START
                                    | kestrine.OPT_EXPLICIT_END])
def test_returning_none_everywhere_writes_what_the_plain_road_writes(option):
    data = {"name": "x: y", "n": [1, 2.5, None, True, {"deep": ["yes", "a\nb\n"]}], "e": [], "m": {}}
    assert rd(data, option=option) == kestrine.dumps(data, option=option).decode()


# ---------------------------------------------------------------------------
# Shared and self-referential objects


class Color(enum.Enum):
    RED = [1, 2]


class End:
    """Stands last in a document: described as the plain text "end", it makes
    the dumper give up its fast walk for plain data after everything else."""


plain_texts = st.text(st.sampled_from(list("ab :#-?,[]{}'\"\n\t\\|>&*!%@`~=0.eyN") + ["é", "\u2028", "\x85", "\x00"]),
                      max_size=12) | st.sampled_from(["", "yes", "a\n ", "a\n\t", "\n\n", " a\nb", "x" * 300])
plain_scalars = (st.none() | st.booleans() | st.integers() | st.integers(-2**70, 2**70) | st.floats() | plain_texts
                 | st.sampled_from([b"x", Color.RED, {1}]))
plain_data = st.recursive(plain_scalars, lambda c: st.lists(c, max_size=4) | st.lists(c, max_size=3).map(tuple)
                          | st.dictionaries(plain_scalars.filter(lambda k: not isinstance(k, (bytes, set)))
                                            | st.tuples(plain_texts, plain_texts), c, max_size=4), max_leaves=25)
PLAIN_LAYOUTS = [0, kestrine.OPT_INDENT_4 | kestrine.OPT_INDENTLESS_SEQUENCES, kestrine.OPT_SINGLE_QUOTES,
                 kestrine.OPT_NULL_AS_TILDE | kestrine.OPT_EXPLICIT_START | kestrine.OPT_EXPLICIT_END,
                 kestrine.OPT_YAML_1_1, kestrine.OPT_NULL_AS_KEYWORD | kestrine.OPT_PYYAML_COMPAT]


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(plain_data, st.sampled_from(PLAIN_LAYOUTS))
def test_plain_data_writes_and_asks_the_same_whichever_walk_takes_it(data, option):
    # The first document is taken by the fast walk (as far as it can go), the
    # second by the node walk, which replays what the fast walk asked and read.
    fast_calls, node_calls = [], []
    fast = kestrine.dumps([data, "end"], option=option, represent=lambda o: fast_calls.append(o))
    node = kestrine.dumps([data, End()], option=option, represent=lambda o: node_calls.append(o)
                          or (KestrineScalar("end") if isinstance(o, End) else None))
    assert fast == node
    assert [id(o) for o in fast_calls[1:-1]] == [id(o) for o in node_calls[1:-1]]


def test_collections_changed_by_the_callback_are_written_as_first_read():
    for last in ("end", End()):
        inner = [1, 2]
        data = {"k": inner, "z": last}

        def grow(obj):
            if obj == 2:  # both collections have been read by now
                inner.append("late")
                data["late"] = 1
            return KestrineScalar("end") if isinstance(obj, End) else None

        assert rd(data, grow) == "k:\n  - 1\n  - 2\nz: end\n"


def shared_cases():
    a, b, d, s = {"a": 1}, [2], {"k": 1}, [1]
    selfish = [1]
    selfish.append(selfish)
    itself = {}
    itself["me"] = itself
    tagged = KestrineTag("!t", [1])
    return [
        ([a, b, a, b], "- &id001\n  a: 1\n- &id002\n  - 2\n- *id001\n- *id002\n"),
        ([{"x": 1}, {"x": 1}], "- x: 1\n- x: 1\n"),
        ([7, 7, "s", "s", None, None, (), (), b"x", b"x", 1.5, 1.5], None),
        (selfish, "&id001\n- 1\n- *id001\n"),
        (itself, "&id001\nme: *id001\n"),
        ([Color.RED, Color.RED], "- &id001\n  - 1\n  - 2\n- *id001\n"),
        ([tagged, tagged], "- !t &id001\n  - 1\n- *id001\n"),
        ([KestrineTag("!t", d), d], "- !t\n  k: 1\n- k: 1\n"),
        ({"one": s, "two": {"three": s}}, "one: &id001\n  - 1\ntwo:\n  three: *id001\n"),
    ]


@pytest.mark.parametrize("obj, text", shared_cases())
def test_shared_objects_are_written_once_then_aliased(obj, text):
    out = rd(obj)
    if text is None:
        assert "&" not in out and "*" not in out
    else:
        assert out == text


def test_anchor_names_count_up_in_document_order():
    shared = [{"i": i} for i in range(1000)]
    out = rd(shared + shared[::-1])
    assert out.count("&id") == 1000 and out.startswith("- &id001\n  i: 0\n- &id002\n")
    assert "- &id1000\n  i: 999\n- *id1000\n" in out and out.endswith("- *id001\n")


def test_a_descriptor_may_hold_the_object_it_describes():
    assert rd([5], on(list, lambda o: KestrineSequence([o, o]))) == "&id001\n- *id001\n- *id001\n"


# ---------------------------------------------------------------------------
# Errors


class Thing:
    pass


def deep_list(levels):
    root = cur = []
    for _ in range(levels - 1):
        cur.append([])
        cur = cur[0]
    return root


def error_cases():
    d = {"k": 1}
    looped = [1]
    looped.append(looped)
    thing = Thing()
    recurse = lambda o: recurse(o)  # noqa: E731
    too_deep = "object is too deeply nested to serialize (possible self-reference)"
    shared_tag = "cannot attach a tag to a self-referential or shared value"
    return [
        (1, dict(represent=lambda o: 5), TypeError,
         "a represent callback must return a kestrine.KestrineScalar, kestrine.KestrineSequence, "
         "kestrine.KestrineMapping, or None"),
        ({"a": 1}, dict(represent=on(dict, lambda o: KestrineMapping([["a", 1]]))), ValueError,
         "a KestrineMapping pair must be a (key, value) tuple"),
        ({"a": 1}, dict(represent=on(dict, lambda o: KestrineMapping([("a", 1, 2)]))), ValueError,
         "a KestrineMapping pair must be a (key, value) tuple of exactly two items"),
        ({"a": 1}, dict(represent=on(int, lambda o: KestrineScalar("a: b", style="plain"))), ValueError,
         'a plain scalar cannot represent this value without changing it on reload '
         '(it contains a \':\' mapping indicator); use "double" or the default style'),
        ({1: 1}, dict(represent=on(int, lambda o: KestrineScalar("k", comment="c"))), ValueError,
         "a mapping key cannot carry an inline comment or comment_after"),
        ({(1,): 1}, dict(represent=on(int, lambda o: KestrineScalar("k", comment_before="c"))), ValueError,
         "a comment inside a mapping key is not supported, since the key must stay on one line"),
        ([1], dict(represent=on(int, lambda o: KestrineScalar("1", comment_after="c"))), ValueError,
         "comment_after is only supported on a block mapping, a block sequence, or the document root"),
        ([{}], dict(represent=on(dict, lambda o: KestrineMapping([], comment_after="c"))), ValueError,
         "comment_after is only supported on a block mapping, a block sequence, or the document root"),
        (1, dict(represent=lambda o: KestrineScalar("x", tag="a")), KestrineEncodeError,
         "invalid tag \"a\": a tag must start with '!'"),
        (KestrineTag("!t", KestrineTag("!u", 1)), {}, KestrineEncodeError,
         "cannot attach a tag to a value that already carries a tag"),
        (KestrineTag("!t", looped), {}, ValueError, shared_tag),
        ([d, KestrineTag("!t", d)], {}, ValueError, shared_tag),
        (thing, dict(default=lambda o: [o]), ValueError, "cannot serialize a value that refers only to itself"),
        ([thing], dict(serializers={Thing: lambda o: ["!t", 1]}), KestrineEncodeError,
         "a tags callback must return a KestrineTag or a (tag, value) tuple"),
        (thing, {}, KestrineUnserializableError, "type Thing is not YAML serializable"),
        (1, dict(represent=recurse), KestrineUnserializableError, too_deep),
        (deep_list(1001), {}, KestrineUnserializableError, too_deep),
    ]


@pytest.mark.parametrize("obj, kwargs, exc, message", error_cases())
def test_errors(obj, kwargs, exc, message):
    kwargs.setdefault("represent", none)
    with pytest.raises(exc) as info:
        kestrine.dumps(obj, **kwargs)
    assert str(info.value) == message
    if kwargs["represent"] is not none and message.startswith("object is too deeply"):
        assert isinstance(info.value.__cause__, RecursionError)


def test_nesting_limit_and_the_default_callable():
    assert rd(deep_list(1000)).count("-") == 999
    assert rd([Thing(), Thing()], default=lambda o: {"x": 1}) == "- x: 1\n- x: 1\n"
    # default is applied once: never to its own result.
    with pytest.raises(KestrineUnserializableError, match="type Thing is not"):
        rd(Thing(), default=lambda o: [Thing()])


# ---------------------------------------------------------------------------
# Scalars: automatic and requested styles, tags


@pytest.mark.parametrize("descriptor, option, text", [
    (KestrineScalar("42", tag="!!int"), 0, "a: 42\n"),
    (KestrineScalar("abc", tag="!!int"), 0, "a: !!int 'abc'\n"),
    (KestrineScalar("42", tag="!!str"), 0, "a: '42'\n"),
    (KestrineScalar("word", tag="tag:yaml.org,2002:str"), 0, "a: word\n"),
    (KestrineScalar("x", tag="!t"), 0, "a: !t 'x'\n"),
    (KestrineScalar("yes"), 0, 'a: "yes"\n'),
    (KestrineScalar("yes"), kestrine.OPT_SINGLE_QUOTES, "a: 'yes'\n"),
    (KestrineScalar("it's: x"), kestrine.OPT_SINGLE_QUOTES, "a: \"it's: x\"\n"),
    (KestrineScalar("x\ny\n"), 0, "a: |\n  x\n  y\n"),
    (KestrineScalar("x\ny\n"), kestrine.OPT_FLOW_STYLE, '{a: "x\\ny\\n"}\n'),
    (KestrineScalar("x\ny\n", style="literal"), kestrine.OPT_FLOW_STYLE, '{a: "x\\ny\\n"}\n'),
    (KestrineScalar("x y", style="folded"), 0, "a: >-\n  x y\n"),
    (KestrineScalar("true", style="plain"), 0, "a: true\n"),
    (KestrineScalar("a\tb", style="double"), 0, 'a: "a\\tb"\n'),
    (KestrineScalar("q", style="single", tag="!t"), 0, "a: !t 'q'\n"),
    (KestrineScalar("\n\n"), 0, 'a: "\\n\\n"\n'),
])
def test_scalar_descriptors(descriptor, option, text):
    assert rd({"a": 1}, on(int, lambda o: descriptor), option=option) == text


@pytest.mark.parametrize("text, style, reason", [
    ("", "plain", "an empty string has no plain rendering"),
    ("a\rb", "plain", "a plain scalar cannot hold a line break"),
    ("a\tb", "plain", "it contains a tab or control character"),
    ("\ufeffa", "plain", "a leading byte order mark would be stripped on reload"),
    (" a", "plain", "leading or trailing spaces would be trimmed on reload"),
    ("- a", "plain", "it begins with a YAML indicator"),
    ("--- a", "plain", "it re-reads as a document marker"),
    ("a #b", "plain", "it contains a ' #' comment starter"),
    ("a:", "plain", "it contains a ':' mapping indicator"),
    ("a\x85b", "plain", "it holds a character that a plain scalar cannot carry here"),
    ("a\nb", "single", "single quotes cannot hold a line break"),
    ("a\x7fb", "single", "single quotes cannot escape a control character"),
    ("a\r\n", "literal", "it contains a carriage return"),
    ("a\x00\n", "literal", "it contains a non-printable control character"),
    ("a\nb", "folded", "folding would rewrite its line breaks"),
    ("  a\nb", "literal", "its first line begins with whitespace"),
])
def test_requested_styles_that_would_change_the_text_are_refused(text, style, reason):
    with pytest.raises(ValueError) as info:
        rd(1, lambda o: KestrineScalar(text, style=style))
    assert str(info.value) == (f"a {style} scalar cannot represent this value without changing it on reload "
                               f"({reason}); use \"double\" or the default style")


# A plain "<<" key would read back as a merge key and take its pair with it:
# it is quoted, as the automatic style quotes it.  Elsewhere "<<" stays
# plain, and so does a tagged key (the tag says what it is).
@pytest.mark.parametrize("option, text", [
    (0, '"<<":\n  x: 1\nv: <<\nt: !t <<\n'),
    (kestrine.OPT_SINGLE_QUOTES, "'<<':\n  x: 1\nv: <<\nt: !t <<\n"),
    (kestrine.OPT_YAML_1_1, '"<<":\n  x: 1\nv: <<\nt: !t <<\n'),
    (kestrine.OPT_FLOW_STYLE, '{"<<": {x: 1}, v: <<, t: !t <<}\n'),
])
def test_a_plain_merge_key_text_stays_a_key(option, text):
    def plain(o):
        if o == "<<":
            return KestrineScalar("<<", style="plain")
        return KestrineScalar("<<", style="plain", tag="!t") if o == "T" else None

    data = {"<<": {"x": 1}, "v": "<<", "t": "T"}
    assert rd(data, plain, option=option) == text
    back = {"<<": {"x": 1}, "v": "<<", "t": "<<"}
    assert kestrine.loads(text, option=option & kestrine.OPT_YAML_1_1) == back
    assert kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP).to_dict() == back
    tagged_key = rd({"T": 1}, plain, option=option)
    assert kestrine.loads(tagged_key) == {"<<": 1}


# ---------------------------------------------------------------------------
# Comments and flow


def test_comments_on_built_nodes():
    root = on(int, lambda o: KestrineScalar(str(o), comment_before="b1\r\nb2\n", comment="c",
                                            comment_after="after"))
    assert rd(1, root) == '# b1\n# b2\n"1" # c\n# after\n'
    values = on(dict, lambda o: KestrineMapping(list(o.items()), comment_before="above", comment_after="below"))
    assert rd({"a": {"b": 1}}, values) == "# above\n# above\na:\n  b: 1\n  # below\n# below\n"
    items = lambda o: (KestrineSequence(o, comment_before="top") if isinstance(o, list)  # noqa: E731
                       else KestrineScalar(str(o), comment="n"))
    assert rd([1, 2], items, option=kestrine.OPT_SINGLE_QUOTES) == "# top\n- '1' # n\n- '2' # n\n"
    keys = on(tuple, lambda o: KestrineSequence(o, comment_before="key"))
    assert rd({(1, 2): "v"}, keys) == "# key\n[1, 2]: v\n"


@pytest.mark.parametrize("flow, text", [(None, "k:\n  - 1\n"), (True, "k: [1]\n"), (False, "k:\n  - 1\n")])
def test_flow_choice(flow, text):
    assert rd({"k": [1]}, on(list, lambda o: KestrineSequence(o, flow=flow))) == text
    # Inside a flow collection everything is in flow.
    assert rd({"k": [1]}, on(list, lambda o: KestrineSequence(o, flow=flow)),
              option=kestrine.OPT_FLOW_STYLE) == "{k: [1]}\n"


# ---------------------------------------------------------------------------
# Mended behaviour


@dataclasses.dataclass
class WithPseudoFields:
    x: int
    shared: typing.ClassVar[int] = 5
    seed: dataclasses.InitVar[int] = 0


def test_mends():
    # A collection as a key is in flow unless block form is asked for, which
    # gives the explicit form.
    assert rd({(1, 2): "v"}, on(tuple, lambda o: KestrineSequence(o))) == "[1, 2]: v\n"
    assert rd({(1, 2): "v"}, on(tuple, lambda o: KestrineSequence(o, flow=False))) == "?\n  - 1\n  - 2\n: v\n"
    # A plain text holding a flow indicator is refused in a flow collection and as a key.
    for data, option in (({"a": [1]}, kestrine.OPT_FLOW_STYLE), ({1: "v"}, 0)):
        with pytest.raises(ValueError, match=r"\(it contains a flow indicator"):
            rd(data, on(int, lambda o: KestrineScalar("a,b", style="plain")), option=option)
    assert rd({"a": 1}, on(int, lambda o: KestrineScalar("a[b", style="plain"))) == "a: a[b\n"
    # A text of line feeds only is never a block of empty lines.
    with pytest.raises(ValueError, match="it has no content line"):
        rd({"a": 1}, on(int, lambda o: KestrineScalar("\n\n", style="literal")))
    assert rd("\n\n") == '"\\n\\n"\n'
    # No fold beside a tab; ClassVar and InitVar entries are no fields.
    text = "word " * 6 + "\t" + " word" * 6
    assert kestrine.loads(rd([text], width=12)) == [text]
    assert rd(WithPseudoFields(3)) == "x: 3\n"


def test_sort_keys_order():
    data = {"b": 1, 2.5: 0, 1: 0, None: 0, False: 0, "a": 0, (1,): 5, 10 ** 30: 1, -3: 2}
    assert rd(data, option=kestrine.OPT_SORT_KEYS) == (
        "null: 0\nfalse: 0\n-3: 2\n1: 0\n2.5: 0\n1000000000000000000000000000000: 1\na: 0\nb: 1\n[1]: 5\n")


# ---------------------------------------------------------------------------
# Copy and pickle


@pytest.mark.parametrize("obj", [
    KestrineTag("!x", [1, {"a": 2}]),
    KestrineScalar("v", tag="!t", style="literal", comment="c", comment_before="a\r\nb", comment_after="z"),
    KestrineMapping([("a", 1)], tag="!m", flow=True, comment="c"),
    KestrineSequence((1, 2), flow=False),
])
def test_tags_and_descriptors_copy_and_pickle(obj):
    fields = ("tag", "value", "items", "pairs", "style", "flow", "comment", "comment_before", "comment_after")
    state = lambda o: [getattr(o, f) for f in fields if hasattr(o, f)]  # noqa: E731
    copies = [copy.copy(obj), copy.deepcopy(obj)] + [pickle.loads(pickle.dumps(obj, p)) for p in (0, 2, 5)]
    for c in copies:
        assert type(c) is type(obj) and state(c) == state(obj)
    loaded = kestrine.loads("a: !custom [1, 2]", option=kestrine.OPT_PASSTHROUGH_TAG)
    assert copy.deepcopy(loaded)["a"].value == [1, 2]


# ---------------------------------------------------------------------------
# Round trips of shared and self-referential data

scalars = (st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False)
           | st.text(max_size=12) | st.sampled_from(["yes", "0o17", "a: b", "#x", "- a", "a\n", "\n", " x"]))
keys = st.text(max_size=8) | st.integers()


@st.composite
def shared_graphs(draw):
    """Lists and dicts whose children are scalars or any of the containers,
    so that containers are shared and cycles occur."""
    containers = [[] if draw(st.booleans()) else {} for _ in range(draw(st.integers(1, 6)))]
    for container in containers:
        for _ in range(draw(st.integers(0, 4))):
            child = draw(scalars) if draw(st.booleans()) else draw(st.sampled_from(containers))
            if isinstance(container, list):
                container.append(child)
            else:
                container[draw(keys)] = child
    return containers[0]


def kind(obj):
    """The built-in type an object is (annotated results are subclasses)."""
    return next(t for t in (bool, int, float, str, list, dict, type(None)) if isinstance(obj, t))


def same_graph(a, b, seen):
    """Equal values with the same sharing: one object of `a` is one object of `b`."""
    if kind(a) is not kind(b):
        return False
    if isinstance(a, (list, dict)):
        if id(a) in seen:
            return seen[id(a)] is b
        seen[id(a)] = b
        if len(a) != len(b):
            return False
        if isinstance(a, list):
            return all(same_graph(x, y, seen) for x, y in zip(a, b))
        return a.keys() == b.keys() and all(same_graph(a[k], b[k], seen) for k in a)
    return a == b


def is_cyclic(obj, path=()):
    if not isinstance(obj, (list, dict)):
        return False
    if any(p is obj for p in path):
        return True
    return any(is_cyclic(c, path + (obj,)) for c in (obj.values() if isinstance(obj, dict) else obj))


LAYOUTS = [0, kestrine.OPT_FLOW_STYLE, kestrine.OPT_INDENT_4 | kestrine.OPT_INDENTLESS_SEQUENCES,
           kestrine.OPT_SORT_KEYS | kestrine.OPT_SINGLE_QUOTES]
SETTINGS = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])


@SETTINGS
@given(shared_graphs(), st.sampled_from(LAYOUTS), st.sampled_from([None, 10, 80]))
def test_shared_graphs_read_back_with_their_sharing(graph, layout, width):
    text = kestrine.dumps(graph, represent=none, option=layout | kestrine.OPT_YAML_1_1, width=width)
    assert same_graph(graph, yaml.safe_load(text), {}), text.decode()
    anchors = [w for w in text.decode().split() if w.startswith("&id")]
    assert len(anchors) == len(set(anchors))
    if not is_cyclic(graph):
        option = layout | kestrine.OPT_YAML_1_1
        assert same_graph(graph, kestrine.loads(text, option=option | kestrine.OPT_ANNOTATED), {})
        assert kestrine.loads(text, option=option) == graph


def describe(obj):
    """A callback that returns a descriptor for every container and string,
    with a flow choice and comments picked from the object's size."""
    n = len(obj) if isinstance(obj, (list, dict, str)) else 0
    flow = (None, True, False)[n % 3]
    if isinstance(obj, list):
        return KestrineSequence(obj, flow=flow, comment_before="items" if n % 2 else None)
    if isinstance(obj, dict):
        return KestrineMapping(list(obj.items()), flow=flow, comment="pairs" if flow is False and n else None)
    if isinstance(obj, str):
        return KestrineScalar(obj, style=("auto", "double")[n % 2])
    return None


@SETTINGS
@given(shared_graphs(), st.sampled_from(LAYOUTS))
def test_descriptor_trees_read_back(graph, layout):
    text = kestrine.dumps(graph, represent=describe, option=layout | kestrine.OPT_YAML_1_1)
    assert same_graph(graph, yaml.safe_load(text), {}), text.decode()


class Key:
    """A collection used as a mapping key: its items, or its pairs, and the
    flow choice of its descriptor."""

    def __init__(self, parts, flow, pairs):
        self.parts, self.flow, self.pairs = parts, flow, pairs

    __hash__ = object.__hash__


def key_descriptor(obj):
    if isinstance(obj, Key):
        return (KestrineMapping if obj.pairs else KestrineSequence)(list(obj.parts), flow=obj.flow)
    return None


def read_as(obj, key):
    """What `obj` loads back as: as a key, tuples (pairs for a mapping); else lists and dicts."""
    if not isinstance(obj, Key):
        return obj
    if obj.pairs:
        pairs = [(k, read_as(v, key)) for k, v in obj.parts]
        return tuple(pairs) if key else dict(pairs)
    return (tuple if key else list)(read_as(p, key) for p in obj.parts)


key_leaves = st.integers() | st.text(max_size=5) | st.sampled_from(["a\nb", "- x", "? y", ": z", "#c", ""])
flows = st.sampled_from([None, True, False])
key_trees = st.recursive(key_leaves, lambda inner: (
    st.builds(Key, st.lists(inner, max_size=3), flows, st.just(False))
    | st.builds(Key, st.dictionaries(st.text(max_size=4), inner, max_size=3).map(lambda d: list(d.items())), flows,
                st.just(True))), max_leaves=8)


@SETTINGS
@given(key_trees, st.sampled_from([0, kestrine.OPT_INDENT_4 | kestrine.OPT_INDENTLESS_SEQUENCES,
                                   kestrine.OPT_FLOW_STYLE]))
def test_collection_keys_in_any_form_read_back(key, layout):
    # The key stands as a key, in a nested mapping, and (shared) as an item.
    data = {"a": 1, key: {key: [key]}}
    text = kestrine.dumps(data, represent=key_descriptor, option=layout)
    expected = {"a": 1, read_as(key, True): {read_as(key, True): [read_as(key, False)]}}
    assert kestrine.loads(text) == expected, text.decode()
