"""The YAML test suite through loads/loads_all on the plain road.

Every case with an in.json and no error file must load to the JSON documents;
every case with an error file must raise KestrineParseError.  The suite lives
next to the repository (../shared/testdata/yaml-test-suite); without it the
tests are skipped.
"""

import json
import pathlib

import pytest

import kestrine

SUITE = pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "testdata" / "yaml-test-suite"

# Invalid cases that load anyway: the faults they test are ones this library
# does not report.
INVALID_ACCEPTED = {
    "CML9": "a comment line inside a multi-line flow plain scalar is accepted",
    "T833": "flow mapping entries without a separating ',' are accepted",
}


def _cases():
    if not SUITE.is_dir():
        return []
    cases = []
    for entry in sorted(SUITE.iterdir()):
        if not entry.is_dir():
            continue
        if (entry / "in.yaml").exists():
            cases.append((entry.name, entry))
            continue
        for sub in sorted(entry.iterdir()):
            if sub.is_dir() and (sub / "in.yaml").exists():
                cases.append((f"{entry.name}/{sub.name}", sub))
    return cases


CASES = _cases()
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


@pytest.mark.skipif(not SUITE.is_dir(), reason="yaml-test-suite not present")
@pytest.mark.parametrize("case_id, path", INVALID, ids=[c for c, _ in INVALID])
def test_invalid_case_raises(case_id, path):
    data = (path / "in.yaml").read_bytes()
    if case_id in INVALID_ACCEPTED:
        pytest.xfail(INVALID_ACCEPTED[case_id])
    with pytest.raises(kestrine.KestrineParseError) as info:
        kestrine.loads(data)
    assert info.value.line >= 1 and info.value.column >= 1


@pytest.mark.skipif(not SUITE.is_dir(), reason="yaml-test-suite not present")
def test_known_deviations_are_still_needed():
    for case_id in INVALID_ACCEPTED:
        path = SUITE / case_id
        if (path / "in.yaml").exists():
            kestrine.loads((path / "in.yaml").read_bytes())  # would raise once the deviation is fixed
