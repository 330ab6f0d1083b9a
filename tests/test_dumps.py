"""dumps: arguments, layout options and the exact YAML text written."""

import os
import subprocess
import sys
import threading

import pytest

import kestrine
from kestrine import KestrineTag


def d(obj, option=0, **kw):
    return kestrine.dumps(obj, option=option, **kw).decode("utf-8")


# ---------------------------------------------------------------------------
# Arguments


def test_result_is_bytes_and_options_default_to_none():
    assert kestrine.dumps({"a": 1}) == b"a: 1\n"
    assert kestrine.dumps({"a": 1}, default=None, option=None, serializers=None, width=None,
                          represent=None) == b"a: 1\n"


@pytest.mark.parametrize("name, value, exc", [
    ("option", -1, OverflowError),
    ("option", 1 << 64, OverflowError),
    ("option", "1", TypeError),
    ("option", 1.0, TypeError),
    ("width", -5, OverflowError),
    ("width", [], TypeError),
])
def test_bad_integer_arguments_carry_a_note_naming_them(name, value, exc):
    calls = []
    with pytest.raises(exc) as info:
        kestrine.dumps(object(), default=calls.append, **{name: value})
    assert f"while processing '{name}'" in info.value.__notes__
    assert calls == []  # nothing was converted


def test_integer_arguments_accept_index_objects():
    class Four:
        def __index__(self):
            return kestrine.OPT_INDENT_4

    assert d({"a": {"b": 1}}, option=Four()) == "a:\n    b: 1\n"
    assert d(["aaaa", "bbbb", "cccc"], option=kestrine.OPT_FLOW_STYLE, width=True) == \
        "[aaaa,\n  bbbb,\n  cccc]\n"


def test_serializers_must_be_a_dict():
    with pytest.raises(TypeError, match="serializers") as info:
        kestrine.dumps(1, serializers=[(int, str)])
    assert "while processing 'serializers'" in info.value.__notes__

    class D(dict):
        pass

    assert d(1, serializers=D()) == "1\n"


def test_null_options_are_mutually_exclusive():
    with pytest.raises(ValueError, match="^OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive$"):
        kestrine.dumps(None, option=kestrine.OPT_NULL_AS_KEYWORD | kestrine.OPT_NULL_AS_TILDE)


def test_unknown_option_bits_are_ignored():
    assert d({"a": 1}, option=kestrine.OPT_ROUND_TRIP | (1 << 60)) == "a: 1\n"


# ---------------------------------------------------------------------------
# Roots


@pytest.mark.parametrize("obj, option, text", [
    (None, 0, "null\n"),
    (None, kestrine.OPT_NULL_AS_TILDE, "~\n"),
    (None, kestrine.OPT_NULL_AS_KEYWORD, "null\n"),
    ({}, 0, "{}\n"),
    ([], 0, "[]\n"),
    (True, 0, "true\n"),
    (-12, 0, "-12\n"),
    (1.5, 0, "1.5\n"),
    ("plain", 0, "plain\n"),
    ("yes", 0, '"yes"\n'),
    ("", 0, '""\n'),
    ("", kestrine.OPT_SINGLE_QUOTES, "''\n"),
    ("a\nb\n", 0, "|\n  a\n  b\n"),
    ("a\nb", 0, "|-\n  a\n  b\n"),
    ("a\nb\n", kestrine.OPT_INDENT_4, "|\n    a\n    b\n"),
    ("a\n\n", 0, "|+\n  a\n\n"),
])
def test_root_values(obj, option, text):
    assert d(obj, option) == text


def test_explicit_document_markers():
    both = kestrine.OPT_EXPLICIT_START | kestrine.OPT_EXPLICIT_END
    assert d({"a": 1}, both) == "---\na: 1\n...\n"
    assert d([1], kestrine.OPT_EXPLICIT_START) == "---\n- 1\n"
    assert d("x", kestrine.OPT_EXPLICIT_END) == "x\n...\n"
    assert d("a\nb\n", both) == "---\n|\n  a\n  b\n...\n"


def test_tagged_root():
    assert d(KestrineTag("!t", 5)) == "!t 5\n"
    assert d(KestrineTag("!t", {"a": 1})) == "!t\n  a: 1\n"
    assert d(KestrineTag("!t", [1, 2])) == "!t\n  - 1\n  - 2\n"


# ---------------------------------------------------------------------------
# Block layout


@pytest.mark.parametrize("obj, option, text", [
    ({"a": None}, 0, "a:\n"),
    ({"a": None}, kestrine.OPT_NULL_AS_KEYWORD, "a: null\n"),
    ({"a": None}, kestrine.OPT_NULL_AS_TILDE, "a: ~\n"),
    ([None], 0, "-\n"),
    ([None], kestrine.OPT_NULL_AS_TILDE, "- ~\n"),
    ({"a": []}, 0, "a: []\n"),
    ({"a": {}}, 0, "a: {}\n"),
    ({"a": [1, 2]}, 0, "a:\n  - 1\n  - 2\n"),
    ({"a": [1, 2]}, kestrine.OPT_INDENTLESS_SEQUENCES, "a:\n- 1\n- 2\n"),
    ({"a": [1, 2]}, kestrine.OPT_INDENT_4, "a:\n    - 1\n    - 2\n"),
    ([[1, 2]], 0, "-\n  - 1\n  - 2\n"),
    ([{"a": 1, "b": 2}], 0, "- a: 1\n  b: 2\n"),
    ([{"a": 1, "b": 2}], kestrine.OPT_INDENT_4, "- a: 1\n  b: 2\n"),
    ({"a": {"b": 1}}, 0, "a:\n  b: 1\n"),
    ({"a": {"b": 1}}, kestrine.OPT_INDENT_4, "a:\n    b: 1\n"),
    ({"a": {"b": [{"c": None}]}}, 0, "a:\n  b:\n    - c:\n"),
])
def test_block_layout(obj, option, text):
    assert d(obj, option) == text


def test_literal_blocks_for_multi_line_values():
    assert d({"k": "a\nb\n"}) == "k: |\n  a\n  b\n"
    assert d({"k": "a\nb"}) == "k: |-\n  a\n  b\n"
    assert d(["a\nb\n"]) == "- |\n  a\n  b\n"
    assert d({"k": {"j": "x\ny\n"}}, kestrine.OPT_INDENT_4) == "k:\n    j: |\n        x\n        y\n"


def test_quoting_follows_the_quote_preference():
    assert d({"k": "yes"}) == 'k: "yes"\n'
    assert d({"k": "yes"}, kestrine.OPT_SINGLE_QUOTES) == "k: 'yes'\n"
    assert d({"k": ""}) == 'k: ""\n'
    assert d({"k": ""}, kestrine.OPT_SINGLE_QUOTES) == "k: ''\n"
    # Single quotes cannot carry an apostrophe next to a reserved word... or
    # control characters: those fall back to double quotes.
    assert d({"k": "it's: x"}, kestrine.OPT_SINGLE_QUOTES) == "k: \"it's: x\"\n"
    assert d({"k": "a\x01"}, kestrine.OPT_SINGLE_QUOTES) == 'k: "a\\x01"\n'


@pytest.mark.parametrize("option", [0, kestrine.OPT_YAML_1_1, kestrine.OPT_YAML_1_1 | kestrine.OPT_PYYAML_COMPAT])
def test_strings_any_reader_takes_for_something_else_are_quoted_in_every_mode(option):
    # YAML 1.1 readers (booleans, base 60, timestamps, underscores anywhere),
    # the YAML 1.2 core schema (leading zeros) and PyYAML (an empty "0x_")
    # would read these plain texts as something other than the string.
    texts = ["y", "N", "1:30", "2001-12-14", "1_000", "_-1.5", "__-1.5", "_-1e5", "08", "+09", "0089",
             "0x_", "0b_"]
    assert d(texts, option) == "".join(f'- "{t}"\n' for t in texts)
    assert d(["1:60", "0:30", "x_1", "1.2.3"], option) == "- 1:60\n- 0:30\n- x_1\n- 1.2.3\n"


def test_commas_force_quotes_only_in_flow_context():
    assert d(["a,b"]) == "- a,b\n"
    assert d(["a,b", "[x]", "{y}"], kestrine.OPT_FLOW_STYLE) == '["a,b", "[x]", "{y}"]\n'
    assert d({"k": "a]b"}, kestrine.OPT_FLOW_STYLE) == '{k: "a]b"}\n'


def test_flow_style():
    assert d({"a": [1, 2]}, kestrine.OPT_FLOW_STYLE) == "{a: [1, 2]}\n"
    assert d([{"a": None}, []], kestrine.OPT_FLOW_STYLE) == "[{a: null}, []]\n"
    assert d({"a": {"b": "c"}}, kestrine.OPT_FLOW_STYLE | kestrine.OPT_NULL_AS_TILDE) == "{a: {b: c}}\n"


def test_flow_wrapping_at_width():
    assert d(["aaaa", "bbbb", "cccc"], kestrine.OPT_FLOW_STYLE, width=8) == "[aaaa, bbbb,\n  cccc]\n"
    assert d(["aaaa", "bbbb", "cccc"], kestrine.OPT_FLOW_STYLE) == "[aaaa, bbbb, cccc]\n"


def test_long_strings_fold_at_width_and_read_back():
    text = " ".join(["word"] * 30)
    out = d({"key": text}, width=30)
    lines = out.splitlines()
    assert len(lines) > 3
    assert all(len(line) <= 31 for line in lines)
    assert kestrine.loads(out) == {"key": text}
    # Keys never wrap.
    out = d({text: 1}, width=20)
    assert out == text + ": 1\n"


def test_folding_never_breaks_next_to_a_tab():
    text = "aaa \tbbb\t ccc ddd\t eee fff \tggg"
    for width in range(4, 40):
        out = d([text], width=width)
        assert kestrine.loads(out) == [text], (width, out)


def test_tagged_keys_after_the_first_take_the_explicit_form():
    obj = {KestrineTag("!t", "a"): 1, KestrineTag("!t", "b"): 2}
    assert d(obj) == "!t a: 1\n? !t b\n: 2\n"


def test_collection_keys_are_written_in_flow_form():
    assert d({(1, 2): "x", None: 1}) == "[1, 2]: x\nnull: 1\n"


def test_sort_keys_orders_by_kind_then_value():
    obj = {"b": 1, 2: 2, 1.5: 3, True: 4, None: 5, "a": 6}
    out = d(obj, kestrine.OPT_SORT_KEYS)
    assert [line.split(":")[0] for line in out.splitlines()] == ["null", "true", "1.5", "2", "a", "b"]
    # Collection keys compare equal: insertion order is kept.
    out = d({(2,): 1, (1,): 2}, kestrine.OPT_SORT_KEYS)
    assert out == "[2]: 1\n[1]: 2\n"
    assert d({"b": {"d": 1, "c": 2}, "a": 0}, kestrine.OPT_SORT_KEYS | kestrine.OPT_FLOW_STYLE) == \
        "{a: 0, b: {c: 2, d: 1}}\n"


# ---------------------------------------------------------------------------
# Texts that must read back unchanged


@pytest.mark.parametrize("text", ["\n", "\n\n", "a\n\n\n", " a\nb\n", "\ta\n", "a\r\nb\n", "a\x85b\n",
                                  "x\u2028y", "- a", "#c", "a #b", "a: b", "null", "~", "0x1F",
                                  "0o17", "1e3", ".5", "+1", "-.inf", "2001-12-14 21:59:43.10 -5",
                                  "\ufeffbom", "\u00e9t\u00e9", "\U0001f600", "'", '"', "\\"])
@pytest.mark.parametrize("option", [0, kestrine.OPT_YAML_1_1, kestrine.OPT_SINGLE_QUOTES,
                                    kestrine.OPT_FLOW_STYLE])
def test_awkward_strings_read_back(text, option):
    for obj in (text, [text], {"k": text}, {text: "v"}):
        out = kestrine.dumps(obj, option=option)
        assert kestrine.loads(out, option=option & kestrine.OPT_YAML_1_1) == obj, out


def test_a_lone_line_feed_is_double_quoted():
    assert d("\n") == '"\\n"\n'
    assert d({"k": "\n\n"}) == 'k: "\\n\\n"\n'


@pytest.mark.parametrize("value", [0.0, -0.0, 1.0, 1e16, 1e-7, 123456789.123, 2.5e-300, 1.7976931348623157e308,
                                   float("inf"), float("-inf")])
def test_floats_read_back_as_floats_under_both_versions(value):
    for option in (0, kestrine.OPT_YAML_1_1):
        back = kestrine.loads(kestrine.dumps([value], option=option), option=option)[0]
        assert type(back) is float and back == value
        assert str(back) == str(value)


def test_float_nan():
    assert d(float("nan")) == ".nan\n"


# ---------------------------------------------------------------------------
# The interpreter lock


def test_other_threads_run_while_writing():
    data = [{"name": f"item{i}", "values": list(range(20))} for i in range(20000)]
    results = []

    def work():
        results.append(kestrine.dumps(data))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(set(results)) == 1
    assert kestrine.loads(results[0]) == data


def test_mutating_the_data_from_another_thread_is_safe():
    # The writer runs without the lock: the tree must not depend on objects
    # that another thread can free meanwhile.
    data = {f"k{i}": "v" * (i % 1200) for i in range(3000)}
    stop = threading.Event()

    def churn():
        while not stop.is_set():
            for i in range(0, 3000, 7):
                data[f"k{i}"] = "w" * (i % 1300)

    t = threading.Thread(target=churn)
    t.start()
    try:
        for _ in range(20):
            out = kestrine.dumps(data)
            assert len(kestrine.loads(out)) == 3000
    finally:
        stop.set()
        t.join()


EXIT_WHILE_THREADS_WORK = """
import sys, threading, time
import kestrine

data = [{"name": f"item{i}", "values": list(range(30)), "text": "x" * 50} for i in range(8000)]
text = kestrine.dumps(data)
calls = [lambda: kestrine.dumps(data), lambda: kestrine.to_json(data),
         lambda: kestrine.loads(text, option=kestrine.OPT_ANNOTATED), lambda: kestrine.loads(text)]
for call in calls:
    call()  # first uses (imports) are over before the threads start

def work(call):
    while True:
        call()

for call in calls:
    threading.Thread(target=work, args=(call,), daemon=True).start()
time.sleep(float(sys.argv[1]))
"""


def test_the_interpreter_exits_cleanly_while_daemon_threads_work():
    # The main thread ends while four daemon threads dump and load, mostly
    # with the lock released: each must be stopped without a crash.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    runs = [subprocess.Popen([sys.executable, "-c", EXIT_WHILE_THREADS_WORK, str(0.05 + 0.02 * i)], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE) for i in range(20)]
    results = [(run.wait(timeout=120), run.stderr.read().decode(errors="replace")) for run in runs]
    for run in runs:
        run.stderr.close()
    assert results == [(0, "")] * 20
