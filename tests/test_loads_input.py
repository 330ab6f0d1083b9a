"""Input decoding for the reading functions, and the leading %YAML sniff."""

import array

import pytest

import kestrine
from kestrine import KestrineDecodeError

UNSUPPORTED = "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)"
DOC = "a: 1\nb: [x, y]\n"
EXPECTED = {"a": 1, "b": ["x", "y"]}


# --- accepted kinds and encodings ----------------------------------------------

@pytest.mark.parametrize("encoding", ["utf-8", "utf-8-sig", "utf-16", "utf-16-le", "utf-16-be",
                                      "utf-32", "utf-32-le", "utf-32-be"])
def test_every_encoding_with_and_without_mark(encoding):
    data = DOC.encode(encoding)
    assert kestrine.loads(data) == EXPECTED
    assert kestrine.loads_all(data) == [EXPECTED]


def test_non_ascii_content_survives_transcoding():
    text = "name: Grüße – 東京 🚀\n"
    for encoding in ("utf-8", "utf-16-le", "utf-16-be", "utf-32-le", "utf-32-be", "utf-16", "utf-32"):
        assert kestrine.loads(text.encode(encoding)) == {"name": "Grüße – 東京 🚀"}, encoding


@pytest.mark.parametrize("make", [bytes, bytearray, memoryview, lambda b: array.array("B", b),
                                  lambda b: memoryview(b).cast("B", shape=[len(b)])])
def test_byte_containers(make):
    assert kestrine.loads(make(DOC.encode())) == EXPECTED


def test_strided_buffer_is_copied_in_order():
    spread = b"".join(bytes([c]) + b"#" for c in DOC.encode())
    view = memoryview(spread)[::2]
    assert not view.c_contiguous
    assert kestrine.loads(view) == EXPECTED


def test_bytearray_is_copied_before_use():
    data = bytearray(b"key: value\nt: !x v\n")
    calls = []

    def handler(tag, value):
        data[:] = b"x" * len(data)  # mutating the input mid-load must not matter
        calls.append(value)
        return value

    assert kestrine.loads(data, tag_handler=handler) == {"key": "value", "t": "v"}
    assert calls == ["v"]
    assert data == b"x" * len(b"key: value\nt: !x v\n")


def test_empty_and_single_byte():
    assert kestrine.loads(b"") is None
    assert kestrine.loads_all(b"") == []
    assert kestrine.loads(b"a") == "a"


def test_zero_byte_patterns_without_a_mark():
    # 61 00 62 00 is UTF-16LE, 00 61 00 62 UTF-16BE, 61 00 00 00 UTF-32LE, 00 00 00 61 UTF-32BE.
    assert kestrine.loads(b"a\x00b\x00") == "ab"
    assert kestrine.loads(b"\x00a\x00b") == "ab"
    assert kestrine.loads(b"a\x00\x00\x00") == "a"
    assert kestrine.loads(b"\x00\x00\x00a") == "a"
    # Two bytes D8 00 without a mark: UTF-16LE, the character U+00D8.
    assert kestrine.loads(b"\xd8\x00") == "\u00d8"


def test_four_byte_mark_wins_over_the_two_byte_one():
    data = b"\xff\xfe\x00\x00" + "k: v".encode("utf-32-le")
    assert kestrine.loads(data) == {"k": "v"}


def test_utf16_mark_reads_like_utf8_mark():
    assert kestrine.loads(DOC.encode("utf-16")) == kestrine.loads(DOC.encode("utf-8-sig"))


def test_str_is_never_examined_for_marks():
    # As a str these are the characters ÿ and þ, not a UTF-16 mark.
    assert kestrine.loads("\xff\xfea: 1") == {"\xff\xfea": 1}
    # A leading U+FEFF in a str is kept in the text and skipped by the scanner.
    assert kestrine.loads("\ufeffa: 1") == {"a": 1}


# A byte order mark may also start a later line of a document prefix (the
# blank and comment lines before a document, at the start of the stream or
# after "..."): every road skips it there, the version sniff too, and a
# round-trip document writes its text back as read.  Inside a document it is
# content, as read.
@pytest.mark.parametrize("text, documents", [
    ("# c\n\ufeffversion: 1\nname: x\n", [{"version": 1, "name": "x"}]),
    ("\ufeff# c\n\n\ufeff# d\n\ufeff- 1\n", [[1]]),
    ("# c\r\n\ufeff#d\r\nx: 1\r\n", [{"x": 1}]),
    ("# c\n\ufeff%YAML 1.1\n---\nx: yes\n", [{"x": True}]),
    ("a: 1\n...\n\ufeffb: 2\n", [{"a": 1}, {"b": 2}]),
    ("a: 1\n\ufeffb: 2\n", [{"a": 1, "\ufeffb": 2}]),
])
def test_byte_order_marks_in_a_document_prefix(text, documents, tmp_path):
    assert kestrine.loads_all(text) == kestrine.loads_all(text, option=kestrine.OPT_ANNOTATED) == documents
    for option in (0, kestrine.OPT_ANNOTATED, kestrine.OPT_INCLUDES):
        assert kestrine.loads(text, option=option) == documents[0]
    doc = kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP)
    assert doc.to_dict() == (documents if len(documents) > 1 else documents[0])
    assert kestrine.dumps(doc) == text.encode()
    if "%YAML" not in text:  # (an included file's directive does not choose the version)
        (tmp_path / "part.yaml").write_bytes(text.encode())
        assert kestrine.loads("k: !include part.yaml\n", option=kestrine.OPT_INCLUDES,
                              include_dir=str(tmp_path)) == {"k": documents[0]}


# --- failures ------------------------------------------------------------------

def utf16(units, order, mark):
    """'a: ', the 16-bit code units given (paired or not) and a line feed."""
    units = [*(0xFEFF,) * mark, *b"a: ", *units, 0x0A]
    return b"".join(unit.to_bytes(2, order) for unit in units)


@pytest.mark.parametrize("data, message", [
    (b"a: \xff", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 3"),
    (b"\xe2\x28\xa1", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"),
    (b"ab\xf0\x90\x28x", "invalid UTF-8: invalid utf-8 sequence of 2 bytes from index 2"),
    (b"ab\xf0\x90\x80\x28", "invalid UTF-8: invalid utf-8 sequence of 3 bytes from index 2"),
    (b"ab\xed\xa0\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 2"),
    (b"ab\xc0\xaf", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 2"),
    (b"a: \xe2\x82", "invalid UTF-8: incomplete utf-8 byte sequence from index 3"),
    (b"a: \xf0", "invalid UTF-8: incomplete utf-8 byte sequence from index 3"),
    (b"\xfe\xff\x00a\x00", "invalid UTF-16: byte count is not a multiple of 2"),
    (b"\xfe\xff\xd8\x00", "invalid UTF-16: unpaired surrogate"),
    (b"\xff\xfe\x00\xdc", "invalid UTF-16: unpaired surrogate"),
    (b"\xff\xfe\x00\xd8a\x00", "invalid UTF-16: unpaired surrogate"),
    # Either byte order, with a mark or found by the first character: a lone
    # high or low half, one at the very end, a low half before a high one, and
    # two high halves before one low half.
    *[(utf16(units, order, mark), "invalid UTF-16: unpaired surrogate")
      for units in ([0xD800, 0x78], [0xDBFF], [0xDC00, 0x78], [0xDFFF, 0xD800], [0xD800, 0xD800, 0xDC00])
      for order in ("little", "big") for mark in (True, False)],
    (b"\x00\x00\xfe\xff\x00\x00\x00", "invalid UTF-32: byte count is not a multiple of 4"),
    (b"\x00\x00\xfe\xff\x00\x11\x00\x00", "invalid UTF-32: not a Unicode scalar value"),
    (b"\xff\xfe\x00\x00\x00\xd8\x00\x00", "invalid UTF-32: not a Unicode scalar value"),
])
def test_undecodable_bytes(data, message):
    for fn in (kestrine.loads, kestrine.loads_all, kestrine.yaml_version):
        with pytest.raises(KestrineDecodeError) as info:
            fn(data)
        assert str(info.value) == message
        assert info.value.args == (message,)
        assert info.value.line is None and info.value.column is None


@pytest.mark.parametrize("data", [1, 1.5, None, ["a"], object(), memoryview(array.array("i", [1, 2])),
                                  memoryview(b"abc").cast("b")])
def test_unsupported_kinds(data):
    for fn in (kestrine.loads, kestrine.loads_all, kestrine.yaml_version):
        with pytest.raises(TypeError) as info:
            fn(data)
        assert str(info.value) == UNSUPPORTED


def test_str_without_utf8_form_raises_the_interpreters_error():
    with pytest.raises(UnicodeEncodeError):
        kestrine.loads("a: \ud800")


# --- the leading %YAML directive ----------------------------------------------

@pytest.mark.parametrize("text, version", [
    ("%YAML 1.1\n---\na: 1\n", "1.1"),
    ("# comment\n\n%TAG ! tag:example.com,2000:\n%YAML 1.2 # trailing\n---\n", "1.2"),
    ("\ufeff%YAML 1.1\n---\n", "1.1"),
    ("# c\n\ufeff\ufeff%YAML 1.1\n---\n", "1.1"),
    ("%TAG ! a:\n\ufeff%YAML 1.1\n", None),  # past the prefix the mark is content
    ("   %YAML   1.1\r\n---\r\n", "1.1"),
    ("% YAML 1.1\n", "1.1"),
    ("%YAML1.1\n%YAML 1.2\n", "1.2"),
    ("%YAML 01.02\n", "1.2"),
    ("%YAML 4294967295.0\n", "4294967295.0"),
    ("%YAML 1.1\n--- [unclosed\n", "1.1"),
    ("---\n%YAML 1.1\n", None),
    ("a: 1\n%YAML 1.1\n", None),
    ("...\n%YAML 1.1\n", None),
    ("%YAML\n", None),
    ("%YAML # no version\n", None),
    ("%YAML 4294967296.1\n", None),
    ("%YAML 1\n", None),
    ("%YAML 1.2.3\n", None),
    ("%YAML 1.\n", None),
    ("%YAML +1.1\n", None),
    ("", None),
    ("# only a comment", None),
])
def test_yaml_version(text, version):
    assert kestrine.yaml_version(text) == version
    # The UTF-16 mark becomes the text's leading U+FEFF, which the sniff skips.
    assert kestrine.yaml_version(text.lstrip("\ufeff").encode("utf-16")) == version


def test_yaml_version_arguments():
    with pytest.raises(TypeError):
        kestrine.yaml_version()
    with pytest.raises(TypeError):
        kestrine.yaml_version(data="%YAML 1.1")
