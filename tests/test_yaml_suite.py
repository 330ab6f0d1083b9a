"""The YAML test suite through loads/loads_all.

Every case with an in.json and no error file must load to the JSON documents
on the plain road; every case with an error file must raise the same
KestrineParseError on every road.  The suite lives
next to the repository (../shared/testdata/yaml-test-suite); without it the
tests are skipped.
"""

import json

import pytest

import kestrine
from suite_data import SUITE, suite_cases

CASES = suite_cases()
VALID = [(cid, path) for cid, path in CASES if not (path / "error").exists() and (path / "in.json").exists()]
INVALID = [(cid, path) for cid, path in CASES if (path / "error").exists()]


def _json_documents(text):
    decoder = json.JSONDecoder()
    docs, pos = [], 0
    while True:
        while pos < len(text) and text[pos] in " \t\r\n":
            pos += 1
        if pos >= len(text):
            return docs
        value, pos = decoder.raw_decode(text, pos)
        docs.append(value)


def _same(a, b):
    # Strict comparison: True is not 1, 1.0 is not "1".
    if isinstance(a, bool) or isinstance(b, bool):
        return type(a) is type(b) and a == b
    if isinstance(a, dict) and isinstance(b, dict):
        return len(a) == len(b) and all(k in b and _same(v, b[k]) for k, v in a.items())
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(_same(x, y) for x, y in zip(a, b))
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        return a == b
    return type(a) is type(b) and a == b


@pytest.mark.skipif(not SUITE.is_dir(), reason="yaml-test-suite not present")
@pytest.mark.parametrize("case_id, path", VALID, ids=[c for c, _ in VALID])
def test_valid_case_matches_json(case_id, path):
    data = (path / "in.yaml").read_bytes()
    expected = _json_documents((path / "in.json").read_text(encoding="utf-8"))
    got = kestrine.loads_all(data)
    assert _same(got, expected), (got, expected)
    first = kestrine.loads(data)
    assert _same(first, expected[0] if expected else None)


# Every road that reads text, beside the plain loads.
ROADS = {
    "loads_all": lambda d: kestrine.loads_all(d),
    "annotated": lambda d: kestrine.loads(d, option=kestrine.OPT_ANNOTATED),
    "annotated loads_all": lambda d: kestrine.loads_all(d, option=kestrine.OPT_ANNOTATED),
    "round trip": lambda d: kestrine.loads(d, option=kestrine.OPT_ROUND_TRIP),
    "round trip loads_all": lambda d: kestrine.loads_all(d, option=kestrine.OPT_ROUND_TRIP),
    "includes": lambda d: kestrine.loads(d, option=kestrine.OPT_INCLUDES),
    "round trip includes": lambda d: kestrine.loads(d, option=kestrine.OPT_ROUND_TRIP | kestrine.OPT_INCLUDES),
}


@pytest.mark.skipif(not SUITE.is_dir(), reason="yaml-test-suite not present")
@pytest.mark.parametrize("case_id, path", INVALID, ids=[c for c, _ in INVALID])
def test_invalid_case_raises_on_every_road(case_id, path):
    data = (path / "in.yaml").read_bytes()
    with pytest.raises(kestrine.KestrineParseError) as info:
        kestrine.loads(data)
    assert info.value.line >= 1 and info.value.column >= 1
    for road, load in ROADS.items():
        with pytest.raises(kestrine.KestrineParseError) as other:
            load(data)
        # Same message, position included.
        assert str(other.value) == str(info.value), road


def test_suite_walker_lists_each_case_once(tmp_path):
    for rel in ("229Q/in.yaml", "DK95/00/in.yaml", "DK95/01/in.yaml", "NOTE/readme"):
        (tmp_path / rel).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / rel).write_text("a: 1\n")
    (tmp_path / "name").mkdir()
    (tmp_path / "tags" / "alias").mkdir(parents=True)
    (tmp_path / "name" / "spec-example-2-1").symlink_to("../229Q", target_is_directory=True)
    (tmp_path / "tags" / "alias" / "229Q").symlink_to("../../229Q", target_is_directory=True)
    (tmp_path / "LINK").symlink_to("DK95", target_is_directory=True)
    assert [cid for cid, _ in suite_cases(tmp_path)] == ["229Q", "DK95/00", "DK95/01"]
    assert suite_cases(tmp_path / "absent") == []
