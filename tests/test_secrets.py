"""!secret through loads: the search from the including file's directory up
to the include root, the secrets file's checks, missing secrets under each
policy, and the places a secret's value must never reach (log lines,
exception texts, other files)."""

import logging
import os

import pytest

import kestrine
from kestrine import KestrineIncludeError, KestrineSecretNotFoundError

INC = kestrine.OPT_INCLUDES
SEC = kestrine.OPT_SECRETS
RT = kestrine.OPT_ROUND_TRIP
VALUE = "hunter2-value"  # what no message may show


def write(root, files):
    for name, text in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)


def load(root, text, option=INC | SEC, **kw):
    return kestrine.loads(text, option=option, include_dir=str(root), **kw)


@pytest.fixture
def tree(tmp_path):
    (tmp_path / "secrets.yaml").write_text("above the root: never read\n")
    root = tmp_path / "root"
    write(root, {
        "secrets.yaml": ("# root secrets\nshared: from root\nonly_root: r  # trailing\nport: 8080\nquoted: '8080'\n"
                         "dup: first\ndup: second\n' spaced ': blanks\n'': empty name\nlogger: DEBUG\n"
                         "anchored: &a {k: &b [1, 2], l: *b}\nalias: *a\nnot_resolved: !env_var HOME\n"),
        "a/secrets.yaml": "shared: from a\n",
        "a/b/inc.yaml": "near: !secret shared\nfar: !secret only_root\n",
        "a/list/one.yaml": "x: 1\n",
        "a/list/secrets.yaml": "shared: listed\n",
        "c/secrets.yaml": "# only comments\n",
        "c/inc.yaml": "v: !secret shared\n",
        "d/secrets.yaml": "---\n...\n",
        "d/inc.yaml": "v: !secret shared\n",
    })
    (root / "out").mkdir()
    os.symlink(tmp_path / "secrets.yaml", root / "out" / "secrets.yaml")
    (root / "out" / "inc.yaml").write_text("v: !secret shared\nabove: !secret above the root\n")
    return root


def test_lookup_from_the_including_file_up_to_the_root(tree, caplog):
    text = """\
top: !secret shared
inc: !include a/b/inc.yaml
files: !include_dir_list a/list
empty_files: [!include c/inc.yaml, !include d/inc.yaml]
linked_out: !include out/inc.yaml
port: !secret port
quoted: !secret quoted
dup: !secret dup
spaced: !secret ' spaced '
on_mapping: !secret {ignored: 1}
anchored: &top !secret anchored
alias: !secret alias
again: *top
env: !secret not_resolved
"""
    with caplog.at_level(logging.WARNING, logger="kestrine"):
        value = load(tree, text, option=INC | SEC | kestrine.OPT_SECRET_NOT_FOUND_WARN)
    nested = {"k": [1, 2], "l": [1, 2]}
    assert value == {
        "top": "from root", "inc": {"near": "from a", "far": "r"}, "files": [{"x": 1}],
        "empty_files": [{"v": "from root"}, {"v": "from root"}],
        "linked_out": {"v": "from root", "above": None},
        "port": 8080, "quoted": "8080", "dup": "second", "spaced": "blanks", "on_mapping": "empty name",
        "anchored": nested, "alias": nested, "again": nested, "env": "HOME",
    }
    assert caplog.messages == [f"secret 'above the root' is not defined in any secrets.yaml at {tree}/out/inc.yaml:2"]

    ann = load(tree, "\nx:   !secret anchored\n", option=INC | SEC | kestrine.OPT_ANNOTATED)
    x = ann["x"]
    assert (x.__line__, x.__column__, x.__end_line__, x.__end_column__) == (2, 14, 2, 22)
    assert (x.__source_tag__, x.__source_target__, x.__file__) == ("!secret", "anchored", f"{tree}/<root>")
    assert (x["k"].__file__, x["k"].__line__) == (f"{tree}/secrets.yaml", 11)


@pytest.mark.parametrize("secrets, error", [
    ("- a\n---\nk: v\n", "secrets.yaml does not contain a dictionary"),
    ("k: {x: !secret y}\n", "secrets not supported in a secrets.yaml file"),
    (f'k: "{VALUE}\\uZZZZ"\n', "invalid secrets.yaml: invalid hex digit in unicode escape"),
])
def test_a_secrets_file_that_fails_a_check(tmp_path, secrets, error):
    (tmp_path / "secrets.yaml").write_text(secrets)
    with pytest.raises(KestrineIncludeError) as err:
        load(tmp_path, "v: !secret k\n")
    assert str(err.value) == f"{error} in {tmp_path}/secrets.yaml"
    assert VALUE not in str(err.value)


def test_logger_entries(tmp_path, caplog):
    warning = "secrets.yaml: 'logger: debug' expected, but a different value was found"
    for value, warnings in [("debug", []), ("Debug", []), ("info", [warning]), ("", [warning])]:
        (tmp_path / "secrets.yaml").write_text(f"logger: {value}\nk: v\n")
        caplog.clear()
        with caplog.at_level(logging.WARNING, logger="kestrine"):
            assert load(tmp_path, "[!secret k, !secret k, !secret logger]", on_missing_secret=lambda *a: None) \
                == ["v", "v", None]
        assert caplog.messages == warnings, value  # once per file and load; "logger" is never a secret


def test_missing_secret_policies(tmp_path, caplog):
    write(tmp_path, {"secrets.yaml": "k: v\n", "inc.yaml": "a: 1\n\nb: !secret gone_too\n"})
    text = "x: !secret gone\ny: !include inc.yaml\n"
    with pytest.raises(KestrineSecretNotFoundError) as err:
        load(tmp_path, text)
    assert str(err.value) == f"secret 'gone' is not defined in any secrets.yaml in {tmp_path}/<root>"
    assert (err.value.file, err.value.line, err.value.column) == (f"{tmp_path}/<root>", 1, 12)
    assert not hasattr(err.value, "include_stack") or err.value.include_stack is None

    events = []
    logging.getLogger("kestrine").addFilter(lambda r: events.append(r.getMessage()) or True)
    try:
        with caplog.at_level(logging.WARNING, logger="kestrine"):
            value = load(tmp_path, text, option=INC | SEC | kestrine.OPT_SECRET_NOT_FOUND_WARN,
                         on_missing_secret=lambda *a: events.append(a) or "not used")
    finally:
        logging.getLogger("kestrine").filters.clear()
    assert value == {"x": None, "y": {"a": 1, "b": None}}
    assert events == [("gone", f"{tmp_path}/<root>", 1),
                      f"secret 'gone' is not defined in any secrets.yaml at {tmp_path}/<root>:1",
                      ("gone_too", f"{tmp_path}/inc.yaml", 3),
                      f"secret 'gone_too' is not defined in any secrets.yaml at {tmp_path}/inc.yaml:3"]

    calls = []

    def refuse(*args):
        calls.append(args)
        raise RuntimeError("stop")
    caplog.clear()
    with caplog.at_level(logging.WARNING, logger="kestrine"), pytest.raises(RuntimeError, match="stop"):
        load(tmp_path, text, option=INC | SEC | kestrine.OPT_SECRET_NOT_FOUND_WARN, on_missing_secret=refuse)
    assert len(calls) == 1 and not caplog.messages


def test_missing_values_keep_their_directive_in_a_write_back(tmp_path):
    (tmp_path / "secrets.yaml").write_text("k: v\n")
    text = "a: yes\nb: !secret gone  # why\nc: !env_var KST_SURELY_UNSET  # why not\n"
    doc = load(tmp_path, text, option=RT | INC | SEC | kestrine.OPT_ENV_VAR | kestrine.OPT_UPGRADE_1_1,
               on_missing_secret=lambda *a: None, on_missing_env_var=lambda *a: None)
    assert doc.to_yaml().decode().endswith("a: true\nb: !secret gone  # why\nc: !env_var KST_SURELY_UNSET  # why not\n")


def test_a_secret_value_never_leaks(tmp_path, caplog):
    write(tmp_path, {
        "secrets.yaml": f"pw: yes\nmap: {{{VALUE}: 1, {VALUE}: 2}}\ntext: {VALUE}  # {VALUE} noted\n",
        "inc.yaml": "p: !secret pw\nm: !secret map\nt: !secret text\n",
    })
    text = "inc: !include inc.yaml\nplain: on\nt: !secret text  # directive note\n"
    options = INC | SEC | kestrine.OPT_YAML_1_1 | kestrine.OPT_YAML_1_1_WARN | kestrine.OPT_DUPLICATE_KEYS_WARN
    with caplog.at_level(logging.WARNING, logger="kestrine"):
        value = load(tmp_path, text, option=options)
        doc = load(tmp_path, text, option=options | RT | kestrine.OPT_UPGRADE_1_1)
    assert value["inc"] == {"p": True, "m": {VALUE: 2}, "t": VALUE}
    assert [m for m in caplog.messages if "1.1 syntax" in m] == [
        "YAML 1.1 syntax 'on' resolves as bool in 1.1 but str in 1.2 at line 2, column 8"] * 2
    assert all(VALUE not in m for m in caplog.messages)

    for option in (options | kestrine.OPT_DUPLICATE_KEYS_ERROR, options | RT | kestrine.OPT_DUPLICATE_KEYS_ERROR):
        load(tmp_path, text, option=option)  # the secret's keys are not checked, so never quoted
    schemas = [{"properties": {"inc": {"properties": {"t": {"enum": ["other"]}}}}},
               {"properties": {"inc": {"properties": {"t": {"pattern": "^x"}}}}},
               {"properties": {"inc": {"properties": {"m": {"maxProperties": 0}}}}}]
    for schema in schemas:
        with pytest.raises(kestrine.KestrineSchemaError) as err:
            load(tmp_path, text, option=INC | SEC, schema=schema)
        assert VALUE not in str(err.value)

    # The upgrade rewrote only the root file's scalar: the secret is no edit,
    # and the included file is written back with its directives.
    assert kestrine.dump_includes_map(doc) == {f"{tmp_path}/inc.yaml": (tmp_path / "inc.yaml").read_bytes()}
    assert doc.to_yaml().endswith(b"plain: true\nt: !secret text  # directive note\n")


# A secret's content reached through merge keys and aliases: the merged
# members' parent is no secret, yet their keys and values are never quoted;
# nor are the keys of a secret mapping, or a secret text made a key.
SECRETS_MERGED = ("db: {port: 4242}\ndeep: {inner: {port: 4242}}\nmaps: [{x: 1}, {port: 4242}]\nport: 4242\n"
                  "keys: {hunter2-key: 4242}\nname: hunter2-key\n")
PORT_SCHEMA = {"properties": {"app": {"properties": {"port": {"minimum": 10000}}}}}
CLOSED = {"properties": {"app": {"additionalProperties": False}}}
SHORT_NAMES = {"properties": {"app": {"propertyNames": {"maxLength": 3}}}}
TOO_SMALL = "value <secret> is "


@pytest.mark.parametrize("text, schema, path, message", [
    ("app: {<<: !secret db}\n", PORT_SCHEMA, "$.app.<secret>", TOO_SMALL),
    ("base: &b !secret db\napp: *b\n", PORT_SCHEMA, "$.app.<secret>", TOO_SMALL),
    ("base: &b !secret db\napp: {<<: *b}\n", PORT_SCHEMA, "$.app.<secret>", TOO_SMALL),
    ("base: &b !secret db\nmid: &m {<<: *b}\napp: {<<: *m}\n", PORT_SCHEMA, "$.app.<secret>", TOO_SMALL),
    ("app: {<<: [{x: 1}, !secret db]}\n", PORT_SCHEMA, "$.app.<secret>", TOO_SMALL),
    ("app: {<<: !secret maps}\n", PORT_SCHEMA, "$.app.<secret>", TOO_SMALL),
    ("app: {<<: !secret deep}\n",
     {"properties": {"app": {"properties": {"inner": {"properties": {"port": {"maximum": 10}}}}}}},
     "$.app.<secret>.<secret>", TOO_SMALL.replace("is ", "is greater")),
    ("app: {<<: !secret port}\n", {"properties": {"app": {"properties": {"<<": {"multipleOf": 1000}}}}}, "$.app.<<",
     TOO_SMALL),
    ("app: !secret keys\n", CLOSED, "$.app.<secret>", "additional property '<secret>' is not allowed"),
    ("app: !secret keys\n", SHORT_NAMES, "$.app.<secret>", "string is longer than maxLength 3"),
    ("app: {<<: !secret keys, own: 1}\n", CLOSED, "$.app.<secret>", "additional property '<secret>' is not allowed"),
    ("n: &n !secret name\napp: {*n : 1}\n", CLOSED, "$.app.<secret>", "additional property '<secret>' is not allowed"),
    ("n: &n !secret name\napp: {*n : 1}\n", SHORT_NAMES, "$.app.<secret>", "string is longer than maxLength 3"),
    ("n: &n !secret name\napp: {*n : x}\n", {"properties": {"app": {"additionalProperties": {"type": "integer"}}}},
     "$.app.<secret>", "expected type integer, found string"),
])
@pytest.mark.parametrize("option", [0, kestrine.OPT_ANNOTATED, RT])
def test_secret_content_is_never_quoted(tmp_path, text, schema, path, message, option):
    (tmp_path / "secrets.yaml").write_text(SECRETS_MERGED)
    with pytest.raises(kestrine.KestrineSchemaError) as err:
        load(tmp_path, text, option=option | INC | SEC, schema=schema)
    assert "4242" not in str(err.value) and "hunter2" not in str(err.value)
    assert str(err.value).startswith("schema validation failed: " + message)
    assert err.value.schema_path == path


# A detached alias of a secret or a variable is a copy of what it came from:
# written as that directive, never as the value, in every output; one of an
# included file is written inline, the secrets in it as their directives
# (the alias of the last case lies inside the included file).
@pytest.mark.parametrize("text, alias, written", [
    ("primary: &p !secret text\nreplica: *p  # note\n", ("replica",), "replica: !secret text  # note\n"),
    ("primary: &p !secret map\nreplica: *p\n", ("replica",), "replica: !secret map\n"),
    ("primary: &p !env_var KST_DETACHED\nreplica: *p\n", ("replica",), "replica: !env_var KST_DETACHED\n"),
    ("primary: &p\n  inner: !secret text\n  deeper: [!secret map]\nreplica: *p\n", ("replica",),
     "replica:\n  inner: !secret text\n  deeper: [!secret map]\n"),
    ("primary: &p !include inc.yaml\nreplica: *p\n", ("replica",),
     "replica:\n  t: !secret text\n  again: !secret text\n"),
    ("inc: !include inc.yaml\n", ("inc", "again"), "inc: !include inc.yaml\n"),
])
def test_a_detached_directive_is_written_as_the_directive(tmp_path, monkeypatch, text, alias, written):
    monkeypatch.setenv("KST_DETACHED", VALUE)
    write(tmp_path, {"secrets.yaml": f"text: {VALUE}\nmap: {{{VALUE}: {VALUE}}}\n",
                     "inc.yaml": "t: &t !secret text\nagain: *t\n"})
    options = INC | SEC | kestrine.OPT_ENV_VAR
    doc = load(tmp_path, text, option=RT | options)
    data = doc.to_dict()
    node = doc.node[alias[0]] if len(alias) == 1 else doc.node[alias[0]][alias[1]]
    detached = node.detach()
    assert not detached.is_alias and detached.anchor is None
    out = doc.to_yaml()
    included = kestrine.dump_includes_map(doc)
    assert doc.save(str(tmp_path / "main.yaml"))
    shown = [out, repr(doc), repr(detached), *included.values(), (tmp_path / "main.yaml").read_bytes(),
             (tmp_path / "inc.yaml").read_bytes()]
    assert not [s for s in shown if VALUE.encode() in (s if isinstance(s, bytes) else s.encode())]
    assert out.decode().endswith(written)
    assert (tmp_path / "inc.yaml").read_text().endswith("again: !secret text\n" if len(alias) > 1 else "again: *t\n")
    assert load(tmp_path, out, option=options) == data


# A secret's value stands in the tree wherever a directive brought it: at the
# `!secret` itself, through an alias of it, in a file that is a `!secret`
# alone (reached by `!include`, or spliced by a directory merge among other
# files' content), in a detached copy, or as a whole document.  Each shape:
# (text, path to the secret's mapping, whether the alias at that path is
# detached first).
PART_SHAPES = [
    ("p: !secret map\n", ["p"], False),
    ("r: &r !secret map\ns: *r\n", ["s"], False),
    ("r: &r !secret map\ns: *r\n", ["s"], True),
    ("a: !include whole.yaml\n", ["a"], False),
    ("m: !include_dir_merge_named merged\n", ["m"], False),
    ("!secret map\n", [], False),
]


def secret_document(tmp_path, monkeypatch, text, detach):
    monkeypatch.setenv("KST_SECRET_PART", VALUE)
    write(tmp_path, {"secrets.yaml": f"map:\n  inner:\n    deep: {VALUE}\n  lst: [{VALUE}]\n  k: {VALUE}\n",
                     "whole.yaml": "!secret map\n", "merged/a.yaml": "!secret map\n", "merged/b.yaml": "own: 1\n"})
    if text.startswith("!"):
        doc = load(tmp_path, text, option=RT | INC | SEC)
    else:
        doc = load(tmp_path, text + "e: !env_var KST_SECRET_PART\n", option=RT | INC | SEC | kestrine.OPT_ENV_VAR)
    if detach:
        doc.node["s"].detach()
    return doc


def step(handle, path):
    for key in path:
        handle = handle[key]
    return handle


def snapshot_reprs(tree):
    out = [repr(tree)]
    for child in tree.value if tree.kind in ("mapping", "sequence") else ():
        for part in child if isinstance(child, tuple) else (child,):
            out += snapshot_reprs(part)
    return out


@pytest.mark.parametrize("text, path, detach", PART_SHAPES)
def test_no_output_writes_a_part_of_a_secret(tmp_path, monkeypatch, text, path, detach):
    doc = secret_document(tmp_path, monkeypatch, text, detach)
    secret = step(doc, path)
    for part in (secret["inner"], secret["lst"]):
        with pytest.raises(ValueError, match=r"^cannot render part of a !secret value \('!(secret map|include)"):
            part.to_yaml()
    nodes = [step(doc.node, path + [key]) for key in ("inner", "k", "lst")] + ([doc.node["e"]] if path else [])
    saved = tmp_path / "saved.yaml"
    assert doc.save(str(saved)) == [str(saved)]
    shown = [doc.to_yaml(), kestrine.dumps(doc), saved.read_bytes(), *kestrine.dump_includes_map(doc).values(),
             repr(doc), repr(secret), repr(secret["inner"]), *map(repr, nodes), *snapshot_reprs(doc.to_tree())]
    if path:
        shown.append(secret.to_yaml())  # the secret as a whole: its directive
    assert not [s for s in shown if VALUE.encode() in (s if isinstance(s, bytes) else s.encode())]
    # Reading is the caller's own access: values, plain data and what is
    # written from plain data (dumps of a view goes through its to_dict()).
    assert secret["inner"]["deep"] == VALUE and nodes[1].value == VALUE
    assert VALUE.encode() in kestrine.to_json(doc)
    if path:
        assert VALUE.encode() in kestrine.dumps(secret) and VALUE.encode() in kestrine.to_json(secret)


SECRET_PART_EDITS = {
    "assign": lambda secret, node: secret["inner"].__setitem__("deep", 1),
    "add a key": lambda secret, node: secret.__setitem__("new", 1),
    "delete": lambda secret, node: secret.__delitem__("k"),
    "value": lambda secret, node: setattr(node["k"], "value", 1),
    "comment": lambda secret, node: setattr(node["k"], "comment", "note"),
    "comment_before of the first key": lambda secret, node: setattr(node["inner"], "comment_before", "note"),
    "comment_before": lambda secret, node: setattr(node["lst"], "comment_before", "note"),
    "comment_after": lambda secret, node: setattr(node["inner"], "comment_after", "note"),
    "anchor": lambda secret, node: setattr(node["k"], "anchor", "k"),
}


# An edit of a secret's value could be written nowhere (the secret is
# written as its directive): it is refused before anything changes, and the
# document stays as usable as before.
@pytest.mark.parametrize("edit", SECRET_PART_EDITS)
@pytest.mark.parametrize("text, path, detach", PART_SHAPES)
def test_an_edit_inside_a_secret_is_refused(tmp_path, monkeypatch, text, path, detach, edit):
    doc = secret_document(tmp_path, monkeypatch, text, detach)
    before = (doc.to_yaml(), doc.to_dict())
    with pytest.raises(ValueError, match=r"^cannot edit part of a !secret value \('!(secret map|include)"):
        SECRET_PART_EDITS[edit](step(doc, path), step(doc.node, path))
    assert (doc.to_yaml(), doc.to_dict()) == before
    doc.save(str(tmp_path / "saved.yaml"))
    assert kestrine.dump_includes_map(doc) is not None


# The secret as a whole stands on its directive, in the including file: its
# comments and anchor, and replacing or removing it, are written there.
@pytest.mark.parametrize("edit, written", [
    (lambda doc: setattr(doc.node["p"], "comment", "new"), "p: !secret map # new\n"),
    (lambda doc: setattr(doc.node["p"], "comment_before", "above"), "# above\np: !secret map  # note\n"),
    # (Lines after its line read as what follows it: comment_after is refused.)
    (lambda doc: setattr(doc.node["e"], "comment_before", "below"), "p: !secret map  # note\n# below\n"),
    (lambda doc: setattr(doc.node["p"], "anchor", "a"), "p: !secret &a map  # note\n"),
    (lambda doc: doc.__setitem__("p", {"x": 1}), "p:  # note\n  x: 1\n"),
    (lambda doc: doc.__delitem__("p"), ""),
])
def test_the_secret_as_a_whole_may_be_edited(tmp_path, monkeypatch, edit, written):
    doc = secret_document(tmp_path, monkeypatch, "a: 1\np: !secret map  # note\n", False)
    edit(doc)
    out = doc.to_yaml().decode()
    assert out == "a: 1\n" + written + "e: !env_var KST_SECRET_PART\n"
    assert VALUE not in out
