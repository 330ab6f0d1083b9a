"""Property tests: what dumps and to_json write reads back as the same data,
with kestrine's own reader, with PyYAML as an independent YAML 1.1 reader,
and with the json module."""

import json
import math
import re

import pytest

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import kestrine  # noqa: E402

LAYOUTS = [
    0,
    kestrine.OPT_INDENT_4,
    kestrine.OPT_INDENTLESS_SEQUENCES,
    kestrine.OPT_INDENT_4 | kestrine.OPT_INDENTLESS_SEQUENCES,
    kestrine.OPT_FLOW_STYLE,
    kestrine.OPT_SORT_KEYS,
    kestrine.OPT_EXPLICIT_START | kestrine.OPT_EXPLICIT_END,
    kestrine.OPT_SINGLE_QUOTES,
    kestrine.OPT_NULL_AS_KEYWORD,
    kestrine.OPT_NULL_AS_TILDE | kestrine.OPT_FLOW_STYLE,
]
VERSIONS = [0, kestrine.OPT_YAML_1_1, kestrine.OPT_YAML_1_1 | kestrine.OPT_PYYAML_COMPAT]
WIDTHS = [None, 1, 12, 40, 80]

texts = st.text(max_size=40) | st.sampled_from(
    ["", "null", "~", "yes", "No", "on", "y", "1_000", "0x1F", "0o17", "017", "1:30", "1e3", ".5",
     "2001-12-14", "2001-12-14 21:59:43.10 -5", "- a", "a: b", "a #b", "#x", "\n", "a\n", "a\n\n",
     " lead", "trail ", "a\tb", "a,b", "[x]", "{y}", "'q'", '"q"', "<<", "...", "---", "\x85", "\u2028",
     "word " * 12])
floats = st.floats(allow_nan=False)
scalars = st.none() | st.booleans() | st.integers() | floats | texts
keys = texts | st.integers() | st.booleans() | st.none()


def nested(leaves, key_strategy):
    return st.recursive(
        leaves,
        lambda children: st.lists(children, max_size=6) | st.dictionaries(key_strategy, children, max_size=6),
        max_leaves=25)


data = nested(scalars, keys)
json_data = nested(st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False, allow_infinity=False)
                   | st.text(max_size=30), st.text(max_size=20))

SETTINGS = settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])


def loads_available():
    try:
        kestrine.loads("a: 1")
        return True
    except NotImplementedError:
        return False


def read_back(text, version):
    if loads_available():
        return kestrine.loads(text, option=version)
    import yaml
    return yaml.safe_load(text)


def same(a, b):
    """Equality that also tells 1 from True and 1.0 from 1."""
    if isinstance(a, float) or isinstance(b, float):
        return type(a) is type(b) and (a == b or (math.isnan(a) and math.isnan(b)))
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return a == b


@SETTINGS
@given(data, st.sampled_from(LAYOUTS), st.sampled_from(VERSIONS), st.sampled_from(WIDTHS))
def test_dumps_reads_back_with_kestrine(obj, layout, version, width):
    text = kestrine.dumps(obj, option=layout | version, width=width)
    assert same(read_back(text, version), obj), text.decode()


@SETTINGS
@given(data, st.sampled_from(LAYOUTS), st.sampled_from(WIDTHS))
def test_dumps_yaml_1_1_reads_back_with_pyyaml(obj, layout, width):
    yaml = pytest.importorskip("yaml")
    text = kestrine.dumps(obj, option=layout | kestrine.OPT_YAML_1_1, width=width)
    assert same(yaml.safe_load(text), obj), text.decode()


def core_schema_loader():
    """A strict YAML 1.2 core-schema reader: PyYAML's parser with the core
    schema's resolvers in place of its own."""
    yaml = pytest.importorskip("yaml")

    class CoreSchemaLoader(yaml.SafeLoader):
        yaml_implicit_resolvers = {}

    rules = [
        ("null", r"^(?:~|null|Null|NULL|)$", "~nN"),
        ("bool", r"^(?:true|True|TRUE|false|False|FALSE)$", "tTfF"),
        ("int", r"^(?:[-+]?[0-9]+|0o[0-7]+|0x[0-9a-fA-F]+)$", "-+0123456789"),
        ("float", r"^(?:[-+]?(?:\.[0-9]+|[0-9]+(?:\.[0-9]*)?)(?:[eE][-+]?[0-9]+)?"
                  r"|[-+]?\.(?:inf|Inf|INF)|\.(?:nan|NaN|NAN))$", "-+0123456789."),
    ]
    for name, pattern, first in rules:
        CoreSchemaLoader.add_implicit_resolver("tag:yaml.org,2002:" + name, re.compile(pattern), list(first))
    CoreSchemaLoader.add_implicit_resolver("tag:yaml.org,2002:null", re.compile("^$"), [""])
    return CoreSchemaLoader


number_like = st.text(alphabet="0123456789_.+-:eExobOXT ZynifMs", max_size=14) | st.sampled_from(
    ["_-1.5", "__-1.5", "_-1e5", "0x_", "0b_", "-0x_", "08", "09", "+09", "0089", "0o17", "1:30", "1:2.",
     "y", "N", "2001-12-14", "2001-1-2 1:02:03", "1_000", ".5_", "1.", "+.5e5", "0:30"])


@settings(max_examples=1500, deadline=None)
@given(number_like, st.sampled_from(VERSIONS), st.booleans())
def test_plain_strings_read_back_as_strings_with_every_reader(text, version, flow):
    """A string is written so that our three readings, PyYAML and a strict
    YAML 1.2 core-schema reader all load it as that very string."""
    yaml = pytest.importorskip("yaml")
    option = version | (kestrine.OPT_FLOW_STYLE if flow else 0)
    out = kestrine.dumps([text], option=option)
    for mode in VERSIONS:
        assert kestrine.loads(out, option=mode) == [text], out
    assert yaml.safe_load(out) == [text], out
    node = yaml.compose(out, Loader=core_schema_loader()).value[0]
    assert (node.tag, node.value) == ("tag:yaml.org,2002:str", text), out


@SETTINGS
@given(json_data, st.sampled_from([0, kestrine.OPT_INDENT_2, kestrine.OPT_INDENT_4, kestrine.OPT_SORT_KEYS]))
def test_to_json_reads_back_with_json(obj, option):
    text = kestrine.to_json(obj, option=option)
    assert same(json.loads(text), obj), text.decode()
    if option == 0:
        assert json.loads(text) == json.loads(json.dumps(obj))
