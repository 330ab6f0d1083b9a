"""loads(schema=...): the keywords on YAML instances, on every road; where
failures are reported; schema="auto" and schema_ref."""

import json
import pathlib
import sys

import pytest
from hypothesis import assume, example, given, settings
from hypothesis import strategies as st

import kestrine
from kestrine import KestrineSchemaError

ROADS = {
    "plain": 0,
    "annotated": kestrine.OPT_ANNOTATED,
    "round-trip": kestrine.OPT_ROUND_TRIP,
}
BIG = 10**30

# (schema, YAML instance, first failure as "message at path", or None).
KEYWORDS = [
    # type, with YAML typing: quoted numbers and timestamps are strings.
    ({"type": "integer"}, "2.0", None),
    ({"type": "integer"}, "2.5", "expected type integer, found number at $"),
    ({"type": "integer"}, "0x1F", None),
    ({"type": "number"}, str(BIG), None),
    ({"type": "string"}, "'12'", None),
    ({"type": "string"}, "12", "expected type string, found integer at $"),
    ({"type": "string"}, "2001-12-14", None),
    ({"type": "boolean"}, "yes", "expected type boolean, found string at $"),
    ({"type": "boolean"}, "%YAML 1.1\n---\nyes", None),
    ({"type": "boolean"}, "!!str true", "expected type boolean, found string at $"),
    ({"type": "null"}, "~", None),
    ({"type": ["string", 5]}, "3", "expected type string, found integer at $"),
    ({"type": ["null", "array"]}, "{}", "expected type null | array, found object at $"),
    ({"type": []}, "3", "expected type , found integer at $"),
    ({"type": "int"}, "3", None),
    # enum and const: numbers by value, mappings by their entries.
    ({"enum": [1]}, "1.0", None),
    ({"enum": [1]}, "'1'", "value is not one of the allowed enum values at $"),
    ({"enum": [BIG]}, "1", "value is not one of the allowed enum values at $"),
    ({"enum": [BIG]}, str(BIG), None),
    ({"enum": []}, "1", "value is not one of the allowed enum values at $"),
    ({"const": {"a": 1, "b": [1, 2]}}, "{b: [1, 2.0], a: 1}", None),
    ({"const": {"x": 1, "y": 2}}, "{x: 1, x: 1}", "value does not equal the required const at $"),
    ({"const": None}, "~", None),
    # numbers
    ({"minimum": 5}, "5", None),
    ({"minimum": 5}, "'3'", None),
    ({"exclusiveMinimum": 5}, "5", "value 5 is not greater than 5 at $"),
    ({"exclusiveMinimum": True}, "5", None),
    ({"maximum": 1.5}, "2", "value 2 is greater than maximum 1.5 at $"),
    ({"exclusiveMaximum": 2}, "2", "value 2 is not less than 2 at $"),
    ({"minimum": 10**21}, "1", "value 1 is less than minimum 1000000000000000000000 at $"),
    ({"minimum": 0}, "-.inf", "value -inf is less than minimum 0 at $"),
    ({"maximum": 0}, ".nan", None),
    ({"multipleOf": 0.1}, "0.3", None),
    ({"multipleOf": 3}, "10", "value 10 is not a multiple of 3 at $"),
    ({"multipleOf": 0}, "10", None),
    ({"multipleOf": 7}, str(BIG * 7), None),
    # the tolerance follows the quotient, not the divisor
    ({"multipleOf": 1e15}, "1", "value 1 is not a multiple of 1000000000000000 at $"),
    ({"multipleOf": 0.0001}, "0.0075", None),
    ({"multipleOf": 0.0001}, "0.00751", "value 0.00751 is not a multiple of 0.0001 at $"),
    ({"multipleOf": 0.123456789}, "1e308", "value 1" + "0" * 308 + " is not a multiple of 0.123456789 at $"),
    # integral values are decided exactly, as written (big integers too);
    # fractions also within a tolerance that never spans a whole quotient
    ({"multipleOf": 7}, "1e16", "value 10000000000000000 is not a multiple of 7 at $"),
    ({"multipleOf": 3}, "1e20", "value 100000000000000000000 is not a multiple of 3 at $"),
    ({"multipleOf": 0.1}, "1e16", None),
    ({"multipleOf": 3e-5}, str(10**60), "value 1" + "0" * 60 + " is not a multiple of 0.00003 at $"),
    ({"multipleOf": 7}, str(BIG ** 3 * 7), None),
    ({"multipleOf": 7}, str(BIG ** 3 * 7 + 1), "value 7" + "0" * 90 + " is not a multiple of 7 at $"),
    ({"multipleOf": BIG ** 2}, str(BIG ** 3), None),
    ({"multipleOf": 3}, "1000000000000000.5", "value 1000000000000000.5 is not a multiple of 3 at $"),
    ({"multipleOf": 0.1}, "0.30000000000000004", None),
    ({"multipleOf": 2.5}, "-7.5", None),
    # a whole-number float is the integer it holds, not its shortest form
    # (2.0**60 prints as 1152921504606847000)
    ({"multipleOf": 1024}, "1152921504606846976.0", None),
    ({"multipleOf": 256}, "1.8446744073709552e+19", None),
    ({"multipleOf": 2**70}, "-1.1805916207174113e+21", None),
    ({"multipleOf": 3}, "1152921504606846976.0", "value 1152921504606847000 is not a multiple of 3 at $"),
    # ... and the decimal it was written as (1e23 holds 99999999999999991611392)
    ({"multipleOf": 10**19}, "1e38", None),
    ({"multipleOf": 3 * 10**19}, "1e38", "value 1" + "0" * 38 + " is not a multiple of 30000000000000000000 at $"),
    ({"multipleOf": 10}, "1e23", None),
    ({"multipleOf": 1e10}, "1.2345678901234567e29", None),
    ({"multipleOf": 1e23}, str(10**23), None),  # the divisor as written too
    ({"multipleOf": 1e23}, str(2 * 10**23 + 2), "value 200000000000000020000000 is not a multiple of 100000000000000000000000 at $"),
    ({"multipleOf": 1024}, str(2**60 + 1), "value 1152921504606847000 is not a multiple of 1024 at $"),
    # strings: lengths in code points, patterns found anywhere
    ({"minLength": 2}, "é", "string is shorter than minLength 2 at $"),
    ({"minLength": 1.5}, "a", None),
    ({"maxLength": 2.0}, "abc", "string is longer than maxLength 2 at $"),
    ({"pattern": "b"}, "abc", None),
    ({"pattern": "^b"}, "abc", "string does not match pattern /^b/ at $"),
    ({"pattern": r"^\d+$"}, "'٣٣'", None),
    ({"pattern": "("}, "abc", "schema has an invalid regex pattern /(/ at $"),
    ({"pattern": "("}, "5", None),
    ({"pattern": "^(?:ab)+$"}, "abab", None),
    ({"patternProperties": {"^(?:x|y)$": {"type": "string"}}}, "x: 1",
     "expected type string, found integer at $.x"),
    ({"pattern": "^[^\\W\\d]+$", "not": {"pattern": "\\p{sc=Greek}"}}, "abc", None),
    ({"pattern": "(?=a)"}, "abc", "schema has an invalid regex pattern /(?=a)/: look-around is not supported: "
                                   "it cannot run in linear time at $"),
    ({"pattern": r"\w{2000}"}, "abc", r"schema has an invalid regex pattern /\w{2000}/: the pattern is too large at $"),
    ({"patternProperties": {r"\p{L}{2000}": {}}}, "{}",
     r"schema has an invalid regex pattern /\p{L}{2000}/: the pattern is too large at $"),
    # counts above the engine's bound of 1000
    ({"pattern": "^(?:ab){1200,1200}$"}, "ab" * 1200, None),
    ({"pattern": "^(?:ab){1200,1200}$"}, "ab" * 1199 + "a", "string does not match pattern /^(?:ab){1200,1200}$/ at $"),
    ({"pattern": "^a{1001}$"}, "a" * 1002, "string does not match pattern /^a{1001}$/ at $"),
    # combinators and references
    ({"allOf": []}, "1", None),
    ({"anyOf": []}, "1", "value does not match any of the anyOf schemas at $"),
    ({"anyOf": [{"type": "string"}, {"properties": {"a": {"type": "string"}}}]}, "a: 1",
     "value does not match any of the anyOf schemas at $"),
    ({"oneOf": []}, "1", "value matches 0 of the oneOf schemas (exactly one required) at $"),
    ({"oneOf": [{"type": "integer"}, {"minimum": 0}]}, "1",
     "value matches 2 of the oneOf schemas (exactly one required) at $"),
    ({"oneOf": [{"type": "integer"}, {"minimum": 0}, {}]}, "1",
     "value matches 3 of the oneOf schemas (exactly one required) at $"),
    ({"not": {"oneOf": [{}, {}, {}]}}, "1", None),
    ({"not": {"type": "string"}}, "1", None),
    ({"not": 5}, "1", "value must not match the 'not' schema at $"),
    (False, "1", "value is not allowed (schema is false) at $"),
    ({"allOf": [5]}, "1", None),
    ({"$ref": "#/definitions/any", "type": "string", "definitions": {"any": {}}}, "1", None),
    ({"$ref": "#/definitions/none"}, "1", "unresolvable schema $ref '#/definitions/none' at $"),
    ({"$ref": "#"}, "1", "schema $ref nesting too deep (cyclic reference?) at $"),
    # pointer escapes: ~1 is "/", ~0 is "~", and ~01 is "~1"
    ({"$ref": "#/definitions/a~1b", "definitions": {"a/b": {"type": "string"}}}, "1",
     "expected type string, found integer at $"),
    ({"$ref": "#/definitions/a~0b", "definitions": {"a~b": {"type": "string"}}}, "1",
     "expected type string, found integer at $"),
    ({"$ref": "#/definitions/~01", "definitions": {"~1": {"type": "string"}, "/": {}}}, "1",
     "expected type string, found integer at $"),
    ({"$ref": "#/definitions/a/b", "definitions": {"a/b": {}}}, "1", "unresolvable schema $ref '#/definitions/a/b' at $"),
    # A loop is refused wherever it is met: a combinator never turns it into
    # a pass (nor into its own failure); one never met does not count.
    ({"properties": {"port": {"not": {"$ref": "#/properties/port"}}}}, "port: 1",
     "schema $ref nesting too deep (cyclic reference?) at $.port"),
    ({"$ref": "#/definitions/a", "definitions": {"a": {"anyOf": [{"$ref": "#/definitions/a"}, {}]}}}, "1",
     "schema $ref nesting too deep (cyclic reference?) at $"),
    ({"oneOf": [{"type": "string"}, {"not": {"$ref": "#"}}]}, "x",
     "schema $ref nesting too deep (cyclic reference?) at $"),
    ({"contains": {"$ref": "#/contains"}}, "[1]", "schema $ref nesting too deep (cyclic reference?) at $"),
    ({"dependencies": {"a": {"not": {"$ref": "#"}}}}, "a: 1",
     "schema $ref nesting too deep (cyclic reference?) at $"),
    ({"allOf": [{"not": {"$ref": "#/allOf/0"}}]}, "1", "schema $ref nesting too deep (cyclic reference?) at $"),
    ({"anyOf": [{"type": "string"}, {"$ref": "#"}]}, "x", None),
    # arrays
    ({"items": {"type": "string"}}, "[a, 1]", "expected type string, found integer at $[1]"),
    ({"items": [{}], "additionalItems": False}, "[1, 2, 3]", "array has more items than the 1 allowed at $[1]"),
    ({"items": {}, "additionalItems": False}, "[1, 2, 3]", None),
    ({"minItems": 2}, "[1]", "array has fewer than minItems 2 at $"),
    ({"maxItems": 1}, "[1, 2]", "array has more than maxItems 1 at $"),
    ({"uniqueItems": True}, "[1, 1.0]", "array items are not unique at $"),
    ({"uniqueItems": True}, "[1, '1', true]", None),
    # more than 16 items: compared by hash, with the same verdicts
    ({"uniqueItems": True}, "[true, '1', " + ", ".join(map(str, range(1, 20))) + "]", None),
    ({"uniqueItems": True}, "[" + ", ".join(map(str, range(20))) + ", 19.0]", "array items are not unique at $"),
    ({"uniqueItems": True}, "[" + ", ".join(map(str, range(20))) + ", 0x13]", "array items are not unique at $"),
    ({"uniqueItems": True}, "[true, " + ", ".join(map(str, range(2, 20))) + ", yes]", None),
    ({"uniqueItems": True}, "[" + ", ".join(f"[{i}]" for i in range(17)) + ", [16.0]]", "array items are not unique at $"),
    ({"uniqueItems": True}, "[" + ", ".join(f"{{a: {i}}}" for i in range(17)) + ", {a: 1.5}]", None),
    ({"uniqueItems": True}, "[" + ", ".join(f"{{a: {i}}}" for i in range(17)) + ", {a: 3.0}]",
     "array items are not unique at $"),
    ({"uniqueItems": True}, "[" + ", ".join(map(str, range(20))) + f", {2**64}, 0x1{'0' * 16}]",
     "array items are not unique at $"),
    ({"contains": {"const": 1}}, "[]", "no array item matches the 'contains' schema at $"),
    ({"contains": {"const": 1}}, "[2, 1.0]", None),
    # objects: keys compare by their text
    ({"required": ["1"]}, "1: x", None),
    ({"required": ["a"]}, "{}", "missing required property 'a' at $"),
    ({"maxProperties": 1}, "{[a]: 1, b: 2}", "object has more than maxProperties 1 at $"),
    ({"minProperties": 1}, "{}", "object has fewer than minProperties 1 at $"),
    ({"properties": {"a": {}}, "additionalProperties": False}, "{a: 1, b: 2}",
     "additional property 'b' is not allowed at $.b"),
    ({"properties": {"a": {"type": "string"}}, "patternProperties": {"^a": {"type": "integer"}}}, "a: x",
     "expected type integer, found string at $.a"),
    ({"patternProperties": {"(": {}}}, "{}", "schema has an invalid regex pattern /(/ at $"),
    ({"propertyNames": {"maxLength": 3}}, "abcd: 1", "string is longer than maxLength 3 at $.abcd"),
    ({"propertyNames": {"type": "integer"}}, "12: 1", "expected type integer, found string at $.12"),
    ({"dependencies": {"a": ["b"]}}, "a: 1", "property 'a' requires 'b' to also be present at $"),
    ({"dependencies": {"a": ["b"]}}, "c: 1", None),
    ({"dependencies": {"a": False}}, "a: 1", "value is not allowed (schema is false) at $"),
    ({"properties": {"x.y": {"type": "string"}}}, "x.y: 1", "expected type string, found integer at $.x.y"),
    # merge keys and aliases are read as loaded
    ({"required": ["a"], "additionalProperties": False, "properties": {"a": {}, "b": {}}},
     "b: 1\n<<: {a: 1, b: 2}", None),
    ({"properties": {"c": {"type": "string"}}}, "a: &x 1\nb: &x s\nc: *x", None),
    # ... and exactly as loaded: a custom-tagged merge source stays a "<<"
    # member, repeated keys are one member holding the last value.
    ({"required": ["<<"], "not": {"required": ["a"]}}, "<<: !t {a: 1}\nb: 2", None),
    ({"properties": {"<<": {"type": "array"}}}, "<<: [!t {a: 1}, {b: 2}]", None),
    ({"maxProperties": 1}, "a: 1\na: 2", None),
    ({"minProperties": 2}, "a: 1\na: 2", "object has fewer than minProperties 2 at $"),
    ({"minProperties": 2}, "1: a\n1.0: b", "object has fewer than minProperties 2 at $"),
    ({"properties": {"a": {"type": "integer"}}}, "a: x\na: 1", None),
    ({"uniqueItems": True}, "[{a: 1, a: 2}, {a: 2}]", "array items are not unique at $"),
    # (many mappings with repeated keys, each read while another is)
    ({"additionalProperties": {"maxProperties": 1}},
     "{a: {x: 1, x: 2}, b: {y: 1, y: 2}, c: {z: 1, z: 2}, d: {w: 1, w: 2}, e: {v: 1, v: 2}, a: {u: 1, u: 2}, "
     "f: {t: 1, t: 2}, g: {s: 1, s: 2}, h: {r: 1, s: 2}}", "object has more than maxProperties 1 at $.h"),
    ({"maxProperties": 2}, "b: &b {x: 1, y: 2}\nm: {<<: *b, x: 3}\n", None),
]


def failure(doc, schema, option=0):
    """The reported failure as "message at path" with (line, column), or None."""
    try:
        kestrine.loads(doc, schema=schema, option=option)
    except KestrineSchemaError as exc:
        text = str(exc)
        assert text.startswith("schema validation failed: ")
        assert text.endswith(f" at {exc.schema_path} (line {exc.line}, column {exc.column})")
        assert exc.file is None and exc.include_stack is None
        return text[len("schema validation failed: "):text.rindex(" (line")], (exc.line, exc.column)
    return None


@pytest.mark.parametrize("road", ROADS)
@pytest.mark.parametrize("schema, doc, expected", KEYWORDS)
def test_keywords(schema, doc, expected, road):
    found = failure(doc, schema, ROADS[road])
    assert (found and found[0]) == expected


# (YAML text, schema, path, line, column): where the first failure is reported.
POSITIONS = [
    ("- 1\n- x\n", {"items": {"type": "integer"}}, "$[1]", 2, 3),
    ("a:\n  b: [1, {c: x}]\n", {"properties": {"a": {"properties": {"b": {"items": {
        "properties": {"c": {"type": "integer"}}}}}}}}, "$.a.b[1].c", 2, 14),
    ("{a: 1, b: 2}", {"properties": {"a": {}}, "additionalProperties": False}, "$.b", 1, 11),
    ("base: &b {n: 1}\nuse: *b\n", {"properties": {"use": {"type": "array"}}}, "$.use", 2, 6),
    ("base: &b {n: 1}\nuse: *b\n", {"properties": {"use": {"properties": {"n": {"type": "string"}}}}},
     "$.use.n", 1, 14),
    ("{b: 1}", {"type": "array", "required": ["a"]}, "$", 1, 1),  # the type failure comes first
    ("a: 1\nb:\nc: 2\n", {"properties": {"b": {"type": "string"}}}, "$.b", 2, 1),  # a left-out value: its key
]


@pytest.mark.parametrize("road", ROADS)
@pytest.mark.parametrize("doc, schema, path, line, column", POSITIONS)
def test_positions(doc, schema, path, line, column, road):
    found = failure(doc, schema, ROADS[road])
    assert found is not None and found[0].endswith(f" at {path}") and found[1] == (line, column)


def test_what_is_validated():
    # Only the first document; nothing without documents or schema.
    assert kestrine.loads("a: 1\n---\nb: x\n", schema={"properties": {"b": {"type": "integer"}}}) == {"a": 1}
    assert kestrine.loads("# only a comment", schema=False) is None
    assert kestrine.loads("a: 1", schema=None) == {"a": 1}
    # An empty first document is the one loads returns (a round-trip
    # document keeps it too), so the one validated.
    for option in (0, kestrine.OPT_ANNOTATED, kestrine.OPT_ROUND_TRIP):
        with pytest.raises(KestrineSchemaError, match=r"found null at \$ \(line 1, column 1\)"):
            kestrine.loads("---\n---\na: 1\n", schema={"type": "object"}, option=option)
    # The loaded data is not changed by validation.
    doc = "base: &b {n: 1}\nuse:\n  <<: *b\n  m: 2\n"
    assert kestrine.loads(doc, schema={"type": "object"}) == kestrine.loads(doc)
    # A schema that cannot be converted raises the conversion's error.
    with pytest.raises(kestrine.KestrineUnserializableError):
        kestrine.loads("a: 1", schema={"type": object()})
    # ... as does a schema that holds itself.
    cyclic = {"items": []}
    cyclic["items"].append(cyclic)
    with pytest.raises(kestrine.KestrineEncodeError, match="possible self-reference"):
        kestrine.loads("a: 1", schema={"anyOf": [cyclic, cyclic]})


@pytest.mark.parametrize("road", ROADS)
def test_aliases_too_deep_to_validate(road):
    # A chain of merges through aliases hides a value behind 150 expansions:
    # never validated as null, whatever combinator stands around it.
    text = "m0: &m0 {path: ../../etc/passwd}\n"
    text += "".join(f"m{i}: &m{i} {{<<: *m{i - 1}}}\n" for i in range(1, 150)) + "top: *m149\n"
    path = {"properties": {"path": {"pattern": "^[a-z]+$"}}}
    for schema in ({"properties": {"top": path}}, {"not": {"properties": {"top": {"not": path}}}}):
        assert failure(text, schema, ROADS[road]) == ("aliases nest too deeply to validate at $.top.path", (1, 16))
    assert failure(text, {"properties": {"m2": path}}, ROADS[road]) == ("string does not match pattern "
                                                                       "/^[a-z]+$/ at $.m2.path", (1, 16))


@pytest.mark.parametrize("road", ROADS)
def test_a_node_met_again_deeper_is_walked_again(road):
    # *a50 passes when reached through one alias; reached again through 60
    # more, its innermost value lies past the depth limit: the verdict of the
    # first walk does not answer for the second.
    text = "defs:\n  - &a0 [1]\n" + "".join(f"  - &a{k} [*a{k - 1}]\n" for k in range(1, 110))
    nested = {"type": ["array", "integer"], "items": {"$ref": "#/definitions/n"}}
    schema = {"definitions": {"n": nested},
              "properties": {key: {"$ref": "#/definitions/n"} for key in ("x", "y")}}
    found = failure(text + "x: *a50\ny: *a109\n", schema, ROADS[road])
    assert found is not None and found[0].startswith("aliases nest too deeply to validate at $.y[0][0]")
    assert failure(text + "x: *a50\ny: *a50\n", schema, ROADS[road]) is None


def step_branch(extra):
    steps = {"type": "array", "items": {"$ref": "#/definitions/step"}}
    return {"type": "object", "additionalProperties": False,
            "properties": {"name": {"type": "string"}, "steps": steps, **extra}}


# A group's steps are read by both branches before its last member decides.
STEPS = {"$ref": "#/definitions/step", "definitions": {"step": {"anyOf": [
    step_branch({"run": {"type": "string"}}), step_branch({"parallel": {"type": "boolean"}})]}}}
NESTED_LISTS = {"anyOf": [{"items": {"$ref": "#"}, "contains": {"type": "string"}}, {"items": {"$ref": "#"}}]}
LISTS = {"additionalProperties": {"$ref": "#/definitions/list"},
         "definitions": {"list": {"type": "array", "items": {"$ref": "#/definitions/list"}}}}


def nested_groups(depth, leaf):
    doc = leaf
    for i in range(depth):
        doc = "{name: g%d, steps: [%s], parallel: true}" % (i, doc)
    return doc


def doubled(levels, leaf):
    """A schema of `levels` nested anyOf, each holding the same object twice."""
    for _ in range(levels):
        leaf = {"anyOf": [leaf, leaf]}
    return leaf


def ladder(levels, leaf):
    """Definitions l0 ... reaching `tail` at every depth from 1 to `levels`."""
    defs = {f"l{i}": {"allOf": [{"$ref": "#/definitions/tail"}, {"$ref": f"#/definitions/l{i + 1}"}]}
            for i in range(levels)}
    defs[f"l{levels}"] = {}
    defs["tail"] = {"type": "array", "items": leaf}
    return {"definitions": defs, "$ref": "#/definitions/l0"}


ITEM = {"required": ["name"], "properties": {"name": {"pattern": "^[a-z0-9-]+$"}, "n": {"minimum": 0}}}


def alias_bomb(levels):
    lines = ["a0: &a0 [" + ", ".join(["[]"] * 10) + "]"]
    lines += [f"a{i}: &a{i} [" + ", ".join([f"*a{i - 1}"] * 10) + "]" for i in range(1, levels)]
    return "\n".join(lines) + "\n"


# Each case took time doubling per level of nesting (x10 per level of the
# alias bomb): every (node, schema) pair that can be met again is walked
# once.  Past the budget of nodes read through aliases, a failure.
BOUNDED = [
    pytest.param(ROADS, nested_groups(60, "{name: s, run: x}"), STEPS, None, id="groups"),
    pytest.param(ROADS, nested_groups(60, "{name: s, run: 5}"), STEPS,
                 "value does not match any of the anyOf schemas at $", id="groups, bad step"),
    pytest.param(ROADS, "[" * 60 + "1" + "]" * 60, NESTED_LISTS, None, id="nested lists"),
    pytest.param(ROADS, alias_bomb(5), LISTS, None, id="alias bomb"),
    # One sub-schema object in many places is one schema (22 levels were
    # 4 million copies).
    pytest.param(ROADS, "a", doubled(22, {"type": "string"}), None, id="shared sub-schemas"),
    pytest.param(ROADS, "1", doubled(22, {"type": "string"}), "value does not match any of the anyOf schemas at $",
                 id="shared sub-schemas, a failure"),
    # A definition reached at ever greater depth is walked once.
    pytest.param(ROADS, "".join(f"- {{name: n{i}, n: {i}}}\n" for i in range(2000)), ladder(120, ITEM), None,
                 id="ladder"),
    pytest.param(ROADS, "".join(f"- {{name: n{i}, n: {-1 if i == 1998 else i}}}\n" for i in range(2000)),
                 ladder(120, ITEM), "value -1 is less than minimum 0 at $[1998].n", id="ladder, a failure"),
    # The other roads refuse to expand the larger bomb when loading it.
    pytest.param(["round-trip"], alias_bomb(10), LISTS, None, id="large alias bomb"),
    pytest.param(["round-trip"], alias_bomb(10), {"additionalProperties": {"items": {"items": {"type": "integer"}}}},
                 "expected type integer, found array at $.a1[0][0]", id="large alias bomb, a failure inside"),
    pytest.param(["round-trip"], alias_bomb(10), {"properties": {"a9": {"not": {"enum": [[]]}}}},
                 "aliases expand to too many nodes to validate at $.a9", id="large alias bomb, enum"),
    pytest.param(["round-trip"], alias_bomb(10), {"properties": {"a9": {"uniqueItems": True}}},
                 "aliases expand to too many nodes to validate at $.a9", id="large alias bomb, uniqueItems"),
]


@pytest.mark.parametrize("roads, doc, schema, expected", BOUNDED)
def test_validation_ends_in_bounded_time(roads, doc, schema, expected):
    for road in roads:
        found = failure(doc, schema, ROADS[road])
        assert (found and found[0]) == expected, road


class Loop(Exception):
    """A $ref chain that follows one target twice on the same value."""


def reference_verdict(value, schema):
    """Whether `value` passes `schema` (a $ref into definitions made by
    random_definitions), walked naively, keyword by keyword in the order the
    validator takes them: a $ref after 128 hops fails, unless the chain
    repeats a target (Loop); every item starts a chain of its own.  None when
    the walk is too long to be worth it."""
    steps, defs = [0], schema["definitions"]

    def walk(v, schema, chain):
        steps[0] += 1
        if steps[0] > 50000:
            raise TimeoutError
        if "$ref" in schema:
            target = schema["$ref"].rsplit("/", 1)[1]
            if len(chain) > 127:
                if len(set(chain[-128:] + [target])) < 129:
                    raise Loop
                return False
            return walk(v, defs[target], chain + [target])
        kind = {bool: "boolean", int: "integer", str: "string", list: "array"}[type(v)]
        if "type" in schema and schema["type"] != kind:
            return False
        if "items" in schema and isinstance(v, list) and not all(walk(i, schema["items"], []) for i in v):
            return False
        if not all(walk(v, s, chain) for s in schema.get("allOf", [])):
            return False
        if "anyOf" in schema and not any(walk(v, s, chain) for s in schema["anyOf"]):
            return False
        return "not" not in schema or not walk(v, schema["not"], chain)

    try:
        return walk(value, schema, [])
    except Loop:
        return False
    except TimeoutError:
        return None


def random_definitions(rng, count):
    """Chains of $refs, mostly forward, branching now and then (to a definition
    further on, met again deeper down the other branch), some looping back."""
    def ref(i):
        return {"$ref": f"#/definitions/d{min(i, count - 1)}"}

    defs = {}
    for i in range(count - 1):
        roll, ahead = rng.random(), i + rng.choice([1, 1, 2])
        defs[f"d{i}"] = (ref(ahead) if roll < 0.86 else
                         ref(rng.randrange(count)) if roll < 0.87 else
                         {"anyOf": [ref(ahead), ref(i + rng.randrange(2, 40))]} if roll < 0.92 else
                         {"allOf": [ref(i + rng.randrange(2, 40)), ref(ahead)]} if roll < 0.95 else
                         {"not": ref(ahead)} if roll < 0.995 else
                         {"items": ref(rng.randrange(count)), "type": "array"} if roll < 0.9975 else
                         {"type": rng.choice(["integer", "string"])})
    defs[f"d{count - 1}"] = {"type": rng.choice(["integer", "string", "array"])}
    return defs


@settings(max_examples=300, deadline=None, derandomize=True)
@given(seed=st.integers(0, 2**32), count=st.sampled_from([30, 135, 200, 260]),
       value=st.sampled_from([1, "x", [1, "x"], [[1], []], []]))
def test_ref_chains_agree_with_a_naive_walk(seed, count, value):
    # Remembered verdicts, loop detection and the nesting limit give the
    # verdict a naive walk gives, however deep a definition is met again.
    import random
    schema = {"definitions": random_definitions(random.Random(seed), count), "$ref": "#/definitions/d0"}
    expected = reference_verdict(value, schema)
    assume(expected is not None)
    for road in ROADS.values():
        assert (failure(kestrine.dumps(value), schema, road) is None) == expected, road


def test_round_trip_validates_every_document():
    schema = {"properties": {"a": {"type": "integer"}}}
    text = "a: 1\n---\na: x\n"
    with pytest.raises(KestrineSchemaError, match=r"at \$\.a \(line 3, column 4\)"):
        kestrine.loads(text, schema=schema, option=kestrine.OPT_ROUND_TRIP)
    # The plain and annotated roads return the first document only.
    assert kestrine.loads(text, schema=schema) == {"a": 1}
    assert kestrine.loads(text, schema=schema, option=kestrine.OPT_ANNOTATED) == {"a": 1}


def test_yaml_version_of_validation():
    schema = {"properties": {"a": {"type": "boolean"}}}
    assert kestrine.loads("a: yes", schema=schema, option=kestrine.OPT_YAML_1_1) == {"a": True}
    # Under %YAML 1.2 with OPT_PYYAML_COMPAT every road reads scalars with the
    # strict YAML 1.1 reading, and validates them so.
    text = "%YAML 1.2\n---\na: yes\n"
    for road in ROADS.values():
        kestrine.loads(text, schema=schema, option=kestrine.OPT_PYYAML_COMPAT | road)


# The validator types a scalar as the load returns it, whatever reads it:
# version options, %YAML directives, timestamps, tags and styles, on every road.
TYPED_SCALARS = [
    "y", "n", "Y", "yes", "No", "on", "OFF", "true", "True", "tRUE", "~", "null", "", "<<",
    "017", "0o17", "08", "0x1F", "0b101", "-0b11", "1_000", "_1", "1_", "0x_FF", "1:30", "1:30.5", "190:20:30",
    "1e3", "1E3", "1.0e+3", "1.0e3", "1e+3", ".5", "5.", "+.5e-3", "1_000.5", ".inf", "-.Inf", ".NaN", "2.0", "-0",
    "+1", "9223372036854775808", "-9223372036854775808", "0xFFFFFFFFFFFFFFFF", "0777777777777777777777",
    "2001-12-14", "2001-12-14t21:59:43.10-05:00", "2001-12-14 21:59:43.10 -5", "'12'", '"yes"', "|\n  12",
    "!!str 12", "!!int '12'", "!!float 1", "!!float 1e5", "!!bool yes", "!!bool y", "!!null ''", "!!int 1:30",
]
TYPING_OPTIONS = [0, kestrine.OPT_YAML_1_1, kestrine.OPT_PYYAML_COMPAT, kestrine.OPT_UPGRADE_1_1,
                  kestrine.OPT_TIMESTAMPS, kestrine.OPT_YAML_1_1 | kestrine.OPT_TIMESTAMPS,
                  kestrine.OPT_UPGRADE_1_1 | kestrine.OPT_TIMESTAMPS,
                  kestrine.OPT_PYYAML_COMPAT | kestrine.OPT_YAML_1_1]
TYPING_ROADS = {**ROADS, "includes": kestrine.OPT_INCLUDES, "included file": kestrine.OPT_INCLUDES,
                "round-trip includes": kestrine.OPT_ROUND_TRIP | kestrine.OPT_INCLUDES}


def json_type(value):
    """The JSON type name of a loaded value; dates and times are strings."""
    import datetime
    for kind, name in ((bool, "boolean"), (int, "integer"), (float, "number"), (str, "string"),
                       (datetime.date, "string"), (type(None), "null"), (dict, "object"), (list, "array")):
        if isinstance(value, kind):
            return name
    raise AssertionError(f"unexpected loaded value {value!r}")


def assert_typed_as_loaded(scalar, root):
    """For every road, option set and directive: the type the validator finds
    for `x: scalar` (an empty `type` list names it) is the loaded value's."""
    for road, option in TYPING_ROADS.items():
        for base in TYPING_OPTIONS:
            for directive in ("", "%YAML 1.1\n---\n", "%YAML 1.2\n---\n"):
                if road == "included file":
                    (root / "inc.yaml").write_text(scalar + "\n")
                    text = directive + "x: !include inc.yaml\n"
                else:
                    text = directive + "x: " + scalar + "\n"
                kw = {"option": base | option, "include_dir": str(root)}
                try:
                    loaded = kestrine.loads(text, **kw)
                except kestrine.KestrineError:
                    continue  # not a scalar this road reads
                value = loaded["x"]
                if option & kestrine.OPT_ROUND_TRIP:
                    value = loaded.to_dict()["x"]
                with pytest.raises(KestrineSchemaError) as err:
                    kestrine.loads(text, schema={"properties": {"x": {"type": []}}}, **kw)
                found = str(err.value).split(", found ")[1].split(" at ")[0]
                assert found == json_type(value), (scalar, road, base, directive, value)


@pytest.mark.parametrize("scalar", TYPED_SCALARS)
def test_scalars_typed_as_loaded(scalar, tmp_path):
    assert_typed_as_loaded(scalar, tmp_path)


@settings(max_examples=60, deadline=None, derandomize=True)
@given(scalar=st.text(alphabet="0123456789.eE+-_:xobOyYnN~", min_size=1, max_size=8))
def test_generated_scalars_typed_as_loaded(scalar, tmp_path_factory):
    assert_typed_as_loaded(scalar, tmp_path_factory.mktemp("typed"))


def test_schema_auto_and_schema_ref():
    text = "# yaml-language-server: $schema=service.json\nport: x\n"
    assert kestrine.schema_ref(text) == "service.json"
    assert kestrine.schema_ref(text.encode("utf-16-le")) == "service.json"
    assert kestrine.schema_ref("port: 1") is None
    assert kestrine.schema_ref(b"\xef\xbb\xbf" + text.encode()) is None  # the mark hides the comment
    with pytest.raises(TypeError):
        kestrine.schema_ref(text, 1)

    asked = []

    def resolver(reference):
        asked.append(reference)
        return {"properties": {"port": {"type": "integer"}}}

    with pytest.raises(KestrineSchemaError, match=r"at \$\.port \(line 2, column 7\)"):
        kestrine.loads(text, schema="auto", schema_resolver=resolver)
    assert asked == ["service.json"]
    assert kestrine.loads(text, schema="auto", schema_resolver=lambda ref: None) == {"port": "x"}
    with pytest.raises(ZeroDivisionError):
        kestrine.loads(text, schema="auto", schema_resolver=lambda ref: 1 / 0)


# The plain road answers from the decoded tree and composes only to locate a
# failure; the annotated road validates the composed tree.  Over the YAML
# test suite both must report the same thing.
SUITE_SCHEMAS = [
    {"type": ["object", "array"],
     "additionalProperties": {"type": ["string", "integer", "object", "array", "null", "boolean"]}},
    {"items": {"type": "string"}, "properties": {"a": {"minimum": 0}}, "propertyNames": {"maxLength": 5}},
    {"anyOf": [{"type": "string", "maxLength": 3}, {"minProperties": 2}, {"items": {"type": "object"}}]},
]


def _suite_cases():
    from test_yaml_suite import VALID
    return VALID


@pytest.mark.parametrize("case_id, path", _suite_cases())
def test_suite_roads_agree(case_id, path):
    text = (path / "in.yaml").read_bytes()
    try:
        kestrine.loads(text, option=kestrine.OPT_ANNOTATED)
    except kestrine.KestrineError:
        pytest.skip("not loadable on the annotated road")
    for schema in SUITE_SCHEMAS:
        assert failure(text, schema) == failure(text, schema, kestrine.OPT_ANNOTATED), schema


# The JSON Schema Test Suite's draft 6 cases, where installed (Debian's
# json-schema-test-suite package).  Left out: what validation does not do,
# references to other documents and $id base URIs, percent-encoded pointers.
DRAFT6 = pathlib.Path("/usr/share/json-schema-test-suite/tests/draft6")
UNSUPPORTED = {"refRemote.json", ("ref.json", "escaped pointer ref", "percent valid"),
               ("ref.json", "remote ref, containing refs itself", "remote ref valid"),
               ("ref.json", "Recursive references between schemas", "valid tree"),
               ("definitions.json", "valid definition", "valid definition schema")}


@pytest.mark.skipif(not DRAFT6.is_dir(), reason="JSON Schema Test Suite not installed")
def test_json_schema_test_suite():
    disagreements = []
    for path in sorted(DRAFT6.glob("*.json")):
        if path.name in UNSUPPORTED:
            continue
        for group in json.loads(path.read_text()):
            for case in group["tests"]:
                name = (path.name, group["description"], case["description"])
                if name in UNSUPPORTED:
                    continue
                if (failure(json.dumps(case["data"]), group["schema"]) is None) != case["valid"]:
                    disagreements.append(name)
    assert disagreements == []


def test_schema_object_edited_between_calls():
    # A schema object handed over again is not converted again, unless it
    # changed: every kind of edit, at any depth, is seen by the next call.
    inner = {"type": "integer"}
    names = ["a"]
    schema = {"properties": {"a": inner, "b": {"enum": [1, 2]}}, "required": names, "items": ({"type": "string"},),
              "dependencies": {"z": inner}}  # (inner twice: edits are seen where it is first met)
    ok, bad = "a: 1\nb: 2", "a: x\nb: 2"
    steps = [
        (lambda: None, ok, None),
        (lambda: None, bad, "expected type integer, found string at $.a"),
        (lambda: inner.update(type="string"), bad, None),  # a nested dict edited
        (lambda: schema["properties"]["b"]["enum"].append(3), "a: x\nb: 3", None),  # a list grown
        (lambda: schema["properties"]["b"]["enum"].__setitem__(2, 4), "a: x\nb: 3",
         "value is not one of the allowed enum values at $.b"),  # an item replaced
        (lambda: names.append("c"), bad, "missing required property 'c' at $"),
        (lambda: names.pop(), "a: x\nb: 1", None),
        (lambda: schema["items"][0].update(type="integer"), "[x]",
         "expected type integer, found string at $[0]"),  # inside a tuple
        (lambda: schema.pop("properties"), bad, None),  # removed ...
        (lambda: schema.update(properties={"a": {"type": "integer"}}), bad,
         "expected type integer, found string at $.a"),  # ... and put back, now last
        (lambda: schema["properties"].update(a=True), bad, None),
    ]
    for edit, doc, expected in steps:
        edit()
        for road in ROADS.values():
            found = failure(doc, schema, road)
            assert (found and found[0]) == expected, (doc, schema)


def _marked_schemas(count, size=1):
    """`count` schema objects, each carrying a str of its own (the cache holds
    a reference to everything it traced, so the str's count tells whether
    the schema is kept), with `size` properties."""
    marks = ["".join(("mark-", str(i))) for i in range(count)]
    schemas = [{"title": mark, "type": "object", "properties": {f"p{k}": {"type": "string"} for k in range(size)}}
               for mark in marks]
    return marks, schemas


def _counts(marks):
    return [sys.getrefcount(marks[i]) for i in range(len(marks))]


def _kept(marks, counts):
    """How many marks are referred to more than `counts` says: kept."""
    return sum(now > count for now, count in zip(_counts(marks), counts))


def test_schema_objects_kept_while_in_use():
    # Many schema objects in rotation are kept once handed over again ...
    marks, schemas = _marked_schemas(50)
    counts = _counts(marks)
    for _ in range(3):
        for schema in schemas:
            kestrine.loads("p0: x", schema=schema)
    assert _kept(marks, counts) == 50
    with pytest.raises(KestrineSchemaError, match="found integer at \\$.p0"):
        kestrine.loads("p0: 1", schema=schemas[7])
    # ... and let go of once the application drops them.
    del schemas, schema
    kestrine.loads("a: 1", schema={"type": "object"})
    assert _kept(marks, counts) == 0
    # A new schema object at the address of a dropped one is its own schema.
    for i in range(200):
        schema = {"type": ["string", "integer"][i % 2]}
        for _ in range(2):
            assert failure("x", schema) == (None if i % 2 == 0 else ("expected type integer, found string at $", (1, 1)))
        del schema


def test_schemas_kept_within_a_bound():
    # 40 schemas of some 4,000 properties each are more than the cache keeps
    # (64 MiB): the least recently used go, the verdicts stay.
    marks, schemas = _marked_schemas(40, size=4000)
    counts = _counts(marks)
    for _ in range(2):
        for schema in schemas:
            kestrine.loads("p3999: x", schema=schema)
    assert 0 < _kept(marks, counts) < 40
    assert failure("p3999: 1", schemas[0]) == ("expected type string, found integer at $.p3999", (1, 8))


def test_schemas_kept_across_threads():
    # The cache serves every thread: schema objects in rotation, some
    # replaced while others are in use, give every thread its own verdicts.
    import threading
    schemas = [{"properties": {"a": {"type": ["integer", "string"][k % 2]}}} for k in range(30)]
    wrong = []

    def work(offset):
        for i in range(400):
            k = (i + offset) % len(schemas)
            if i % 50 == offset:
                schemas[k] = {"properties": {"a": {"type": ["integer", "string"][k % 2]}}}
            found = failure("a: 1", schemas[k])
            if (found is None) != (k % 2 == 0):
                wrong.append((offset, i, found))

    threads = [threading.Thread(target=work, args=(t,)) for t in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert wrong == []


def chain_definitions(hops, end):
    """Definitions c0 ... such that {"$ref": "#/definitions/c0"} takes `hops` hops to reach `end`."""
    defs = {f"c{i}": {"$ref": f"#/definitions/c{i + 1}"} for i in range(hops - 1)}
    defs[f"c{hops - 1}"] = end
    return defs


# Sub-schema objects placed in several places, and chains of 128 hops
# (the most the nesting limit lets through) in the branches of combinators.
_WHOLE = {"type": "number", "multipleOf": 256}
_CHAINED = {"$ref": "#/definitions/c0"}
_SHARED = {"type": ["integer", "string"], "maxLength": 2}
for _ in range(5):
    _SHARED = {"oneOf": [_SHARED, {"type": "array", "items": _SHARED}]}

# Verdicts against the jsonschema package on generated data: the YAML text
# of the data (every scalar reads back as what it was) must pass exactly
# when the data passes there.
JSONSCHEMA_CASES = [
    {"type": "object", "required": ["a"], "additionalProperties": False,
     "properties": {"a": {"type": "integer", "minimum": 0}, "b": {"type": ["string", "null"], "maxLength": 3}},
     "patternProperties": {"^x": {"type": "boolean"}}},
    {"oneOf": [{"type": "array", "items": {"$ref": "#/definitions/n"}}, {"$ref": "#/definitions/n"}],
     "definitions": {"n": {"type": "number", "exclusiveMaximum": 10}}},
    {"anyOf": [{"enum": [1, "one", None, [1]]}, {"type": "object", "minProperties": 2,
                                                 "propertyNames": {"pattern": "^[a-c]+$"}}]},
    {"items": [{"type": "string"}, {"type": "boolean"}], "additionalItems": {"const": 0},
     "uniqueItems": True, "contains": {"type": "string", "pattern": "a"}},
    {"not": {"required": ["a"]}, "dependencies": {"b": ["c"], "c": {"properties": {"b": {"multipleOf": 2}}}}},
    {"definitions": chain_definitions(128, {"anyOf": [{"type": "string", "maxLength": 2}, _WHOLE]}),
     "items": {"anyOf": [_CHAINED, {"type": "array", "items": _CHAINED}]},
     "properties": {"x": {"multipleOf": 256}},
     "additionalProperties": {"oneOf": [_CHAINED, {"type": "boolean"}, {"type": "null"}]},
     "not": {"required": ["d"], "properties": {"d": {"not": _CHAINED}}}},
    {"anyOf": [_SHARED, {"additionalProperties": _SHARED, "propertyNames": _SHARED}], "items": {"multipleOf": 768}},
]


_KEYS = st.sampled_from(["a", "b", "c", "x", "xy", "ab", "d"])
# (whole-number floats past 2**53 are the integers they hold)
_SCALARS = st.one_of(st.none(), st.booleans(), st.integers(-20, 20),
                     st.sampled_from([1.0, 2.5, 12.0, 2.0**60, -(2.0**64), 3.0 * 2**62, 2.0**53 + 2, 1e38,
                                      2.0**80 + 2**28]),
                     st.sampled_from(["", "a", "ab", "one", "abcd", "x1"]))
_DATA = st.recursive(_SCALARS, lambda inner: st.one_of(st.lists(inner, max_size=4),
                                                       st.dictionaries(_KEYS, inner, max_size=4)), max_leaves=12)


DIFFERENTIAL_ROADS = {**ROADS, "includes": kestrine.OPT_INCLUDES}


@pytest.mark.parametrize("schema", JSONSCHEMA_CASES)
@settings(max_examples=150, deadline=None, derandomize=True)
@given(value=_DATA)
@example(value=[2.0**60, -(2.0**64), 3.0 * 2**62, 1e38])
@example(value={"x": 2.0**60, "a": -(2.0**64), "c": True})
def test_verdicts_agree_with_jsonschema(schema, value):
    jsonschema = pytest.importorskip("jsonschema")
    text = kestrine.dumps(value)
    assert kestrine.loads(text) == value
    expected = jsonschema.Draft6Validator(schema).is_valid(value)
    for road in DIFFERENTIAL_ROADS.values():
        assert (failure(text, schema, road) is None) == expected, (text, road)
