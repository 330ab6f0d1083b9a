"""Typical use of kestrine, written for mypy --strict: test_typing.py checks
it with mypy against the package's stubs and runs it."""

import datetime
import pathlib
from typing import Any

import kestrine
from kestrine import KestrineDocument, KestrineMapping, KestrineScalar, KestrineTag
from kestrine.exceptions import KestrineError, KestrineParseError

CONFIG = b"""\
# service settings
service:
  name: web   # the public name
  ports: [80, 443]
  started: 2024-05-01
"""


def load_settings(text: bytes) -> dict[str, Any]:
    data = kestrine.loads(text, option=kestrine.OPT_YAML_1_1 | kestrine.OPT_TIMESTAMPS)
    assert isinstance(data, dict)
    return data


def where(text: bytes) -> tuple[int, int, str | None]:
    located = kestrine.loads(text, option=kestrine.OPT_ANNOTATED, root_path="config.yaml")
    name = located["service"]["name"]
    assert isinstance(name, kestrine.KestrineAnnotatedStr)
    return name.__line__, name.__column__, name.__file__


def rename(text: bytes, new_name: str) -> bytes:
    doc = kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP)
    assert isinstance(doc, KestrineDocument)
    node = doc.node["service"]["name"]
    line, _, _, _ = node.range()
    assert line == 3 and node.comment == "the public name"
    doc["service"]["name"] = new_name
    node.comment = "renamed"
    return doc.to_yaml()


def represent(obj: Any) -> KestrineScalar | KestrineMapping | None:
    if isinstance(obj, datetime.date):
        return KestrineScalar(obj.isoformat(), style="double")
    if isinstance(obj, pathlib.PurePath):
        return KestrineMapping([("path", str(obj))], flow=True, comment="a path")
    return None


def dump(data: object) -> str:
    tagged = KestrineTag("!point", [1, 2])
    text = kestrine.dumps({"data": data, "point": tagged}, option=kestrine.OPT_SORT_KEYS, width=80,
                          represent=represent)
    return text.decode()


def error_position(text: str) -> tuple[int | None, int | None]:
    try:
        kestrine.loads(text)
    except KestrineParseError as err:
        return err.line, err.column
    except KestrineError:
        raise
    return None, None


def main() -> None:
    settings = load_settings(CONFIG)
    assert settings["service"]["started"] == datetime.date(2024, 5, 1)
    assert where(CONFIG) == (3, 9, "config.yaml")
    assert b"name: api # renamed" in rename(CONFIG, "api")
    assert 'when: "2024-05-01"' in dump({"when": datetime.date(2024, 5, 1)})
    assert error_position("a: [1\n") == (2, 1)
    documents: list[Any] = kestrine.loads_all("a: 1\n---\nb: 2\n")
    assert len(documents) == 2
    assert kestrine.yaml_version(b"%YAML 1.1\n---\na: 1\n") == "1.1"
    assert kestrine.schema_ref("# yaml-language-server: $schema=s.json\na: 1\n") == "s.json"
    assert kestrine.to_json({"a": [1, 2]}, option=kestrine.OPT_INDENT_2).startswith(b"{")


if __name__ == "__main__":
    main()
