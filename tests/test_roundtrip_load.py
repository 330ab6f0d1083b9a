"""loads/loads_all with OPT_ROUND_TRIP: KestrineDocument results, the checks
run on their trees (YAML 1.1 warnings, upgrade, duplicate keys), and writing
them back with to_yaml() and dumps()."""

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import kestrine
from kestrine import KestrineDuplicateKeyError, KestrineParseError
from suite_data import suite_cases

RT = kestrine.OPT_ROUND_TRIP

# (case id, in.yaml bytes) of every yaml-test-suite case, or [].
CASES = [(cid, (folder / "in.yaml").read_bytes()) for cid, folder in suite_cases()]
needs_suite = pytest.mark.skipif(not CASES, reason="yaml-test-suite not present")


def warnings_of(caplog):
    return [r.getMessage() for r in caplog.records if r.name == "kestrine"]


# ---------------------------------------------------------------------------
# Writing back unchanged


@needs_suite
def test_every_accepted_suite_case_round_trips_byte_for_byte():
    accepted = 0
    for cid, data in CASES:
        try:
            doc = kestrine.loads(data, option=RT)
        except KestrineParseError:
            continue
        accepted += 1
        assert kestrine.dumps(doc) == data, cid
        assert doc.to_yaml() == data, cid
        docs = kestrine.loads_all(data, option=RT)
        assert all(isinstance(d, kestrine.KestrineDocument) for d in docs)
        if docs:
            assert b"".join(d.to_yaml() for d in docs) == data, cid
    assert accepted > 200


@pytest.mark.parametrize("text", [
    "# head\na: 1   # trailing\n\n\nb: [x,  y]\n",
    "\ufeffkey: 'v'\r\nother: |\r\n  lit\r\n",
    "%YAML 1.2\n%TAG !e! tag:example.com,2000:\n---\n!e!x {a: &a b, c: *a}\n...\n",
    "- >-\n   folded\n   text\n- \"dq\\n\"\n",
    "",
    "# only a comment\n",
    "plain",
])
def test_documents_write_back_their_text(text):
    doc = kestrine.loads(text, option=RT)
    assert kestrine.dumps(doc) == text.encode()
    # Bytes input and other encodings give the same UTF-8 text back.
    assert kestrine.dumps(kestrine.loads(text.encode(), option=RT)) == text.encode()
    assert kestrine.dumps(kestrine.loads(text.encode("utf-16"), option=RT)).lstrip(b"\xef\xbb\xbf") \
        == text.encode().lstrip(b"\xef\xbb\xbf")


def test_dumps_of_a_document_ignores_every_other_argument():
    doc = kestrine.loads("a:   1\nb: ~\n", option=RT)
    both_nulls = kestrine.OPT_NULL_AS_KEYWORD | kestrine.OPT_NULL_AS_TILDE
    out = kestrine.dumps(doc, option=both_nulls | kestrine.OPT_INDENT_4 | kestrine.OPT_SORT_KEYS, width=5,
                         default=str, serializers={int: str}, represent=lambda o: o)
    assert out == b"a:   1\nb: ~\n"
    # Arguments are still checked first.
    with pytest.raises(TypeError):
        kestrine.dumps(doc, option="x")


def test_empty_stream_gives_a_document_without_roots():
    doc = kestrine.loads("", option=RT)
    assert isinstance(doc, kestrine.KestrineDocument)
    assert doc.to_yaml() == b""
    assert kestrine.loads_all("# nothing\n", option=RT) == []
    assert kestrine.loads_all("", option=RT) == []


def test_repr_counts_the_roots():
    assert repr(kestrine.loads("", option=RT)) == "KestrineDocument(documents=0)"
    assert repr(kestrine.loads("a: 1\n---\nb: 2\n", option=RT)) == "KestrineDocument(documents=2)"
    assert repr(kestrine.loads("a: 1\n", option=RT)) == "KestrineDocument(documents=1)"
    # loads_all gives one single-root document per YAML document.
    docs = kestrine.loads_all("a: 1\n---\nb: 2\n", option=RT)
    assert [repr(d) for d in docs] == ["KestrineDocument(documents=1)"] * 2
    # Empty documents are documents, with a null root, on every road.
    text = "---\n---\n--- yes\n"
    assert repr(kestrine.loads(text, option=RT)) == "KestrineDocument(documents=3)"
    assert [d.to_yaml() for d in kestrine.loads_all(text, option=RT)] == [b"---\n", b"---\n", b"--- yes\n"]
    assert kestrine.loads_all(text) == kestrine.loads_all(text, option=kestrine.OPT_ANNOTATED) == [None, None, "yes"]


def test_round_trip_wins_over_annotated():
    doc = kestrine.loads("a: 1\n", option=RT | kestrine.OPT_ANNOTATED)
    assert isinstance(doc, kestrine.KestrineDocument)
    docs = kestrine.loads_all("a: 1\n", option=RT | kestrine.OPT_ANNOTATED)
    assert [type(d) for d in docs] == [kestrine.KestrineDocument]


# ---------------------------------------------------------------------------
# loads_all: one document per YAML document


def test_loads_all_documents_hold_their_own_slice():
    text = "# intro\na: 1\n---\nb: 2\n...\n%YAML 1.1\n---\nc: yes\n# tail\n"
    docs = kestrine.loads_all(text, option=RT)
    assert [d.to_yaml() for d in docs] == [b"# intro\na: 1\n", b"---\nb: 2\n...\n",
                                           b"%YAML 1.1\n---\nc: yes\n# tail\n"]
    # Empty explicit documents are documents of their own.
    docs = kestrine.loads_all("---\n---\na: 1\n", option=RT)
    assert [d.to_yaml() for d in docs] == [b"---\n", b"---\na: 1\n"]


def test_loads_all_reads_each_document_by_its_own_directive(caplog):
    text = "%YAML 1.1\n---\na: yes\n---\nb: yes\n"
    # Only the first document is YAML 1.1; the second is read by the options.
    kestrine.loads_all(text, option=kestrine.OPT_YAML_1_1_WARN | RT)
    assert warnings_of(caplog) == ["YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 3, column 4"]
    # With a version option, the second document is YAML 1.1 too.
    first, second = kestrine.loads_all(text, option=RT | kestrine.OPT_UPGRADE_1_1)
    assert b"a: true" in first.to_yaml() and b"b: true" in second.to_yaml()
    # A document's own %YAML 1.2 wins over the options.
    first, second = kestrine.loads_all("a: yes\n...\n%YAML 1.2\n---\nb: yes\n", option=RT | kestrine.OPT_UPGRADE_1_1)
    assert b"a: true" in first.to_yaml() and b"b: yes" in second.to_yaml()
    # The plain and annotated roads read the whole stream by its first directive.
    assert kestrine.loads_all(text) == [{"a": True}, {"b": True}]
    assert kestrine.loads_all(text, option=kestrine.OPT_ANNOTATED) == [{"a": True}, {"b": True}]


def test_loads_all_null_style_pair_is_refused_only_with_a_document(caplog):
    both = RT | kestrine.OPT_NULL_AS_KEYWORD | kestrine.OPT_NULL_AS_TILDE
    assert kestrine.loads_all("# none\n", option=both) == []
    with pytest.raises(ValueError, match="^OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive$"):
        kestrine.loads_all("a: 1\na: 2\n", option=both | kestrine.OPT_DUPLICATE_KEYS_WARN)
    # The first document's checks ran before the refusal.
    assert len(warnings_of(caplog)) == 1
    with pytest.raises(ValueError, match="mutually exclusive"):
        kestrine.loads("", option=both)


def test_loads_all_duplicate_key_in_a_later_document_raises():
    with pytest.raises(KestrineDuplicateKeyError) as info:
        kestrine.loads_all("a: 1\n---\nb: 1\nb: 2\n", option=RT | kestrine.OPT_DUPLICATE_KEYS_ERROR)
    assert (info.value.line, info.value.column) == (4, 1)


# ---------------------------------------------------------------------------
# Checks on the trees


def test_warnings_come_before_the_upgrade_and_the_upgrade_is_written(caplog):
    option = RT | kestrine.OPT_UPGRADE_1_1 | kestrine.OPT_YAML_1_1_WARN
    doc = kestrine.loads("a: yes\nb: 'no'\nc: 0777\n", option=option)
    assert warnings_of(caplog) == [
        "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4",
        "YAML 1.1 syntax '0777' resolves as int in 1.1 but str in 1.2 at line 3, column 4",
    ]
    out = kestrine.dumps(doc)
    assert out.startswith(b"%YAML 1.2\n")
    assert b"a: true\nb: 'no'\nc: 511\n" in out
    assert kestrine.loads(out) == {"a": True, "b": "no", "c": 511}


@pytest.mark.parametrize("text, expected", [
    # A string under 1.1 that 1.2 would read as a number is quoted.
    ("a: 0o17\nb: yes\n", '%YAML 1.2\n---\na: "0o17"\nb: true\n'),
    # A core tag that YAML 1.2 would read otherwise goes; "!!merge" on empty content is "<<".
    ("a: !!int 0o17\nb: &x !!int '+0o7'  # c\nm:\n  &m !!merge : {c: 1}\nq: {*m : {d: 2}}\n",
     "%YAML 1.2\n---\na: \"0o17\"\nb: &x '+0o7'  # c\nm:\n  &m <<: {c: 1}\nq: {*m : {d: 2}}\n"),
    # Comment bytes after the "#" are kept, the version line's comment too.
    ("%YAML 1.1 #X\n---\n#####\na: yes #Y\n#\tz\n", "%YAML 1.2 #X\n---\n#####\na: true #Y\n#\tz\n"),
    # Directive words are split at any white space, as the reader splits them.
    ("%YAML\u0085 1.1\u00a0#X\n---\na: yes\n", "%YAML 1.2\u00a0#X\n---\na: true\n"),
    ("%\u0085YAML 1.1\n---\na: yes\n", "%YAML 1.2\n---\na: true\n"),
    # A comment after a flow collection stays after it, on its line.
    ("a: [1, {b: 2}] # after\nc: yes\n", "%YAML 1.2\n---\na: [1, {b: 2}] # after\nc: true\n"),
    # Empty documents stay documents.
    ("---\n---\n--- yes\n", "%YAML 1.2\n---\n---\n---\ntrue\n"),
])
def test_the_upgrade_keeps_every_value_and_comment(text, expected):
    out = kestrine.dumps(kestrine.loads(text, option=RT | kestrine.OPT_UPGRADE_1_1))
    assert out.decode() == expected
    assert kestrine.loads_all(out) == kestrine.loads_all(text, option=kestrine.OPT_YAML_1_1)


# Lines around the head of a stream and between its documents, each ended
# by LF, CR LF or a CR alone.
_HEAD_LINES = ["%YAML 1.1", "%YAML 1.1 # c", "%YAML\u0085 1.1\u00a0# c", "%\u0085YAML 1.1", "%FOO bar", "%TAG !e! tag:e.com,2000:", "# c", "", " \t", "\ufeff",
               "---", "--- # c", '--- "foo"', "--- yes", "---\tyes", "--- |\n  text", "...", "... # c", "a: yes", "- on",
               "b: 1:30", "!e!t 0o17", "{k: off}", "? [a]\n: ~"]


@settings(max_examples=400, deadline=None)
@example([("%FOO bar", "\r"), ('--- "foo"', "\r")])
@example([("%YAML\u0085 1.1\u00a0# c", "\n"), ("---", "\n")])
@example([("# c", "\r"), ("...", "\r\n"), ("a: yes", "\n")])
@example([("# c", "\n")])
@given(st.lists(st.tuples(st.sampled_from(_HEAD_LINES), st.sampled_from(["\n", "\r\n", "\r"])), max_size=7))
def test_upgraded_text_loads_to_the_data_read(lines):
    text = "".join(line + end for line, end in lines).encode()
    try:
        doc = kestrine.loads(text, option=RT | kestrine.OPT_YAML_1_1 | kestrine.OPT_UPGRADE_1_1)
        data = kestrine.loads_all(text, option=kestrine.OPT_YAML_1_1)
    except KestrineParseError:
        return
    out = doc.to_yaml()
    assert kestrine.loads_all(out) == data, out


def test_yaml11_warnings_precede_duplicate_key_warnings(caplog):
    text = "a: on\na: off\n"
    kestrine.loads(text, option=RT | kestrine.OPT_YAML_1_1 | kestrine.OPT_YAML_1_1_WARN
                   | kestrine.OPT_DUPLICATE_KEYS_WARN)
    got = warnings_of(caplog)
    assert [m.split()[0] for m in got] == ["YAML", "YAML", "duplicate"]
    assert got[2] == "duplicate mapping key 'a' at line 2, column 1; keeping the last value"


def test_duplicate_key_error_stops_at_the_first_bad_document_after_all_warnings(caplog):
    text = "x: yes\n---\na: 1\na: 2\n---\nb: 1\nb: 2\nz: on\n"
    option = RT | kestrine.OPT_YAML_1_1 | kestrine.OPT_YAML_1_1_WARN | kestrine.OPT_DUPLICATE_KEYS_ERROR
    with pytest.raises(KestrineDuplicateKeyError) as info:
        kestrine.loads(text, option=option)
    assert str(info.value).startswith("duplicate mapping key: a")
    assert (info.value.line, info.value.column) == (4, 1)
    # The YAML 1.1 warnings of all three documents were logged first.
    assert len(warnings_of(caplog)) == 2


def test_duplicate_policies(caplog):
    text = "k: 1\nk: 2\n"
    assert kestrine.loads(text, option=RT).to_yaml() == text.encode()
    assert warnings_of(caplog) == []
    kestrine.loads(text, option=RT | kestrine.OPT_DUPLICATE_KEYS_WARN)
    assert len(warnings_of(caplog)) == 1
    caplog.clear()
    with pytest.raises(KestrineDuplicateKeyError):
        kestrine.loads(text, option=RT | kestrine.OPT_DUPLICATE_KEYS_WARN | kestrine.OPT_DUPLICATE_KEYS_ERROR)
    assert warnings_of(caplog) == []
    # Keys equal as Python values are one key.
    with pytest.raises(KestrineDuplicateKeyError):
        kestrine.loads("1: a\n1.0: b\n", option=RT | kestrine.OPT_DUPLICATE_KEYS_ERROR)


def test_round_trip_road_runs_no_plain_decoder_pass():
    # Complex keys are kept; the option adds no check on this road.
    text = "? [1, 2]\n: x\n"
    doc = kestrine.loads(text, option=RT | kestrine.OPT_REJECT_COMPLEX_KEYS)
    assert doc.to_yaml() == text.encode()
    with pytest.raises(kestrine.KestrineComplexKeyError):
        kestrine.loads(text, option=kestrine.OPT_REJECT_COMPLEX_KEYS)


def test_composer_errors_are_parse_errors_with_positions():
    with pytest.raises(KestrineParseError) as info:
        kestrine.loads("a: [1, 2\n", option=RT)
    assert info.value.line is not None and info.value.column is not None
    with pytest.raises(KestrineParseError):
        kestrine.loads_all("ok: 1\n---\n- [\n", option=RT)


def test_tags_are_checked_but_unused():
    with pytest.raises(TypeError, match="tags must be a dict"):
        kestrine.loads_all("a: 1", option=RT, tags=[])
    calls = []
    doc = kestrine.loads("a: !x 1\n", option=RT, tags={"!x": calls.append}, tag_handler=calls.append)
    assert calls == [] and doc.to_yaml() == b"a: !x 1\n"


def test_schema_on_the_round_trip_road():
    with pytest.raises(kestrine.KestrineSchemaError):
        kestrine.loads("a: 1", option=RT, schema={"type": "array"})
    # Nothing to validate: the schema is not needed.
    assert kestrine.loads("", option=RT, schema={"type": "object"}).to_yaml() == b""


def test_documents_are_independent_of_the_input_object():
    data = bytearray(b"a: 1\n")
    doc = kestrine.loads(data, option=RT)
    data[:] = b"zzzzz"
    del data
    assert kestrine.dumps(doc) == b"a: 1\n"


def test_alias_bombs_load_without_expanding():
    lines = ["a: &a [x, x, x, x, x, x, x, x, x, x]"]
    for i in range(1, 10):
        prev, cur = chr(ord("a") + i - 1), chr(ord("a") + i)
        lines.append(f"{cur}: &{cur} [{', '.join(['*' + prev] * 10)}]")
    text = "\n".join(lines) + "\n"
    assert kestrine.dumps(kestrine.loads(text, option=RT)) == text.encode()
