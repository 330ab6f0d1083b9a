"""Configuration directives through loads: the include tags alone and nested,
the limits, cycles, error texts with their include chain, !env_var and its
missing-value policy, anchors, positions of included values, and a real
configuration tree.  Confinement and directory-listing order are covered by
the C++ tests (tests/cpp/include_*_test.cpp)."""

import logging
import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import kestrine
from kestrine import (KestrineCircularIncludeError, KestrineComplexKeyError, KestrineDuplicateKeyError, KestrineEnvVarError,
                      KestrineIncludeConfinementError, KestrineIncludeDepthError, KestrineIncludeError,
                      KestrineIncludeNotFoundError, KestrineParseError, KestrineSchemaError)

INC = kestrine.OPT_INCLUDES
ENV = kestrine.OPT_ENV_VAR
ANN = kestrine.OPT_ANNOTATED | kestrine.OPT_ANNOTATE_NUMBERS
REAL_TREE = Path(__file__).resolve().parent.parent.parent / "shared/testdata/config-trees/frenck-home-assistant-config"


def write(root, files):
    for name, text in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)


def load(root, text, option=INC, **kw):
    return kestrine.loads(text, option=option, include_dir=str(root), **kw)


@pytest.fixture
def tree(tmp_path):
    write(tmp_path, {
        "base.yaml": "name: base\nlist: [1, 2]\n",
        "nested/a.yaml": "inner: !include ../base.yaml\n",
        "multi.yaml": "first: 1\n---\nsecond: !include missing.yaml\n",
        "empty.yaml": "# nothing here\n",
        "d/one.yaml": "a: 1\n",
        "d/two.yml": "[x, y]\n",
        "d/three.yaml": "- z\n---\n- w\n",
        "d/skip.txt": "not yaml\n",
        "d/sub/four.yaml": "b: 2\n",
        "m/x.yaml": "k: 1\nshared: x\n",
        "m/y.yaml": "shared: y\n",
        "m/z.yaml": "[not, a, mapping]\n",
    })
    return tmp_path


def test_each_tag_alone_and_nested(tree):
    base = {"name": "base", "list": [1, 2]}
    cases = [
        ("!include base.yaml", base),
        ("!include nested/a.yaml", {"inner": base}),
        ("!include multi.yaml", {"first": 1}),  # later documents are not even walked
        ("!include empty.yaml", {}),
        ("!include_dir_list d", [{"a": 1}, ["z"], ["w"], ["x", "y"]]),
        ("!include_dir_named d", {"one": {"a": 1}, "three": ["z"], "two": ["x", "y"]}),
        ("!include_dir_merge_list d", [{"a": 1}, "z", "w", "x", "y"]),
        ("!include_dir_merge_named m", {"k": 1, "shared": "y"}),
        ("!include_dir_list base.yaml", []),  # not a directory: empty, not an error
        ("!include_dir_named nowhere", {}),
        ("[!include_dir_named nested, !include base.yaml]", [{"a": {"inner": base}}, base]),
        ("{!include base.yaml: key tags stay}", {"base.yaml": "key tags stay"}),
        ("!include_dirs d", "d"),
    ]
    for text, expected in cases:
        assert load(tree, text) == expected, text
    assert load(tree, "!include_dir_list d", option=INC | kestrine.OPT_INCLUDE_DIR_RECURSIVE)[-1] == {"b": 2}
    # Switched off, a directive stays a tagged scalar.
    assert load(tree, "v: !include base.yaml", option=ENV) == {"v": "base.yaml"}


def test_included_scalars_read_as_on_the_plain_road(tmp_path):
    # The reading modes apply to included text as well (OPT_TIMESTAMPS alone
    # reads no timestamps on the tree roads, so it is not compared here).
    text = "d: 2024-01-02\n2024-01-03: x\nb: yes\nn: 0o17\ns: '2024-01-04'\n"
    (tmp_path / "x.yaml").write_text(text)
    for option in (0, kestrine.OPT_YAML_1_1, kestrine.OPT_PYYAML_COMPAT):
        assert load(tmp_path, "!include x.yaml", option=INC | option) == kestrine.loads(text, option=option), option


def test_limits(tmp_path):
    for i in range(1, 52):
        (tmp_path / f"n{i}.yaml").write_text(f"!include n{i + 1}.yaml\n" if i < 50 else "leaf\n")
    assert load(tmp_path, "!include n1.yaml") == "leaf"
    (tmp_path / "n50.yaml").write_text("!include n51.yaml\n")
    with pytest.raises(KestrineIncludeDepthError) as err:
        load(tmp_path, "!include n1.yaml")
    assert str(err.value).startswith(f"include chain exceeds the maximum depth of 50 in {tmp_path}/n50.yaml\n")
    assert len(err.value.include_stack) == 50 and err.value.include_stack[0] == (f"{tmp_path}/n1.yaml", 1)

    (tmp_path / "x.yaml").write_text("1\n")
    assert len(load(tmp_path, "[" + ", ".join(["!include x.yaml"] * 10000) + "]")) == 10000
    with pytest.raises(KestrineIncludeDepthError, match=r"^include expansion exceeded the maximum of 10000 files "
                                                        r"\(a fan-out of nested includes\) in "):
        load(tmp_path, "[" + ", ".join(["!include x.yaml"] * 10001) + "]")


# What the load builds past the budget, in this child, within an address
# space that holds the budget's worth several times over but not the
# fan-out's: without the budget the child runs out of memory instead.
BUDGET_CHILD = textwrap.dedent('''
    import os, resource, sys
    # A sanitizer runtime reserves far more address space than it uses.
    if "asan" not in os.environ.get("LD_PRELOAD", ""):
        resource.setrlimit(resource.RLIMIT_AS, (1536 << 20, 1536 << 20))
    import kestrine
    root = sys.argv[1]
    for text in ("- !include big.yaml\\n" * 5000, "- !include_dir_list d\\n" * 5000, "- !secret big\\n" * 5000,
                 "- !include dense.yaml\\n" * 70):
        try:
            kestrine.loads(text, option=kestrine.OPT_INCLUDES | kestrine.OPT_SECRETS, include_dir=root)
            print("loaded")
        except kestrine.KestrineIncludeDepthError as error:
            print(str(error).split(" in ")[0])
''')


def test_repeated_includes_stop_at_the_expansion_budget(tmp_path):
    big = "k: " + "x" * (256 << 10) + "\n"
    dense = "[" + "a," * (1 << 19) + "a]\n"  # a node per two bytes: its bytes fit the budget 70 times, its nodes not
    write(tmp_path, {"big.yaml": big, "d/big.yaml": big, "secrets.yaml": "big: " + big[3:], "dense.yaml": dense})
    child = subprocess.run([sys.executable, "-c", BUDGET_CHILD, str(tmp_path)], capture_output=True, text=True,
                           env={**os.environ, "PYTHONPATH": str(Path(kestrine.__file__).parent.parent)})
    assert child.returncode == 0, child.stderr
    lines = child.stdout.splitlines()
    assert len(lines) == 4 and all(line.startswith("include expansion exceeded the maximum of ") for line in lines)
    assert lines[-1].endswith(" nodes (4 per byte of the text read plus 1048576; a fan-out of repeated includes or "
                              "secrets)")


def test_cycles(tmp_path):
    write(tmp_path, {"self.yaml": "again: !include self.yaml\n",
                     "a.yaml": "b: !include b.yaml\n", "b.yaml": "a: !include ./a.yaml\n"})
    with pytest.raises(KestrineCircularIncludeError) as err:
        load(tmp_path, "x: !include self.yaml")
    assert str(err.value) == (f"circular include detected: 'self.yaml' in {tmp_path}/self.yaml\n"
                              f"  included from {tmp_path}/self.yaml, line 1")
    with pytest.raises(KestrineCircularIncludeError, match="'./a.yaml'"):
        load(tmp_path, "x: !include a.yaml")


def test_errors_name_the_file_and_the_include_chain(tmp_path):
    write(tmp_path, {"outer.yaml": "\n\nk: !include inner/mid.yaml\n", "inner/mid.yaml": "z: !include gone.yaml\n",
                     "broken.yaml": "ok: 1\nbad: [\n", "wrap.yaml": "x: !include broken.yaml\n"})
    with pytest.raises(KestrineIncludeNotFoundError) as err:
        load(tmp_path, "top: !include outer.yaml")
    assert str(err.value) == (f"cannot read included file 'gone.yaml': No such file or directory "
                              f"in {tmp_path}/inner/gone.yaml\n"
                              f"  included from {tmp_path}/outer.yaml, line 1\n"
                              f"  included from {tmp_path}/inner/mid.yaml, line 3")
    assert err.value.file == f"{tmp_path}/inner/gone.yaml" and err.value.line is None
    assert err.value.include_stack == [(f"{tmp_path}/outer.yaml", 1), (f"{tmp_path}/inner/mid.yaml", 3)]

    with pytest.raises(KestrineParseError) as err:
        load(tmp_path, "w: !include wrap.yaml")
    assert (err.value.file, err.value.line, err.value.include_stack) == \
        (f"{tmp_path}/broken.yaml", 3, [(f"{tmp_path}/wrap.yaml", 1)])
    assert str(err.value).endswith("at line 3, column 1")
    with pytest.raises(KestrineParseError) as err:
        load(tmp_path, "a: [", root_path="conf.yaml")
    assert (err.value.file, err.value.include_stack) == ("conf.yaml", [])

    for text, message in [("v: !include", "!include needs an argument in ./"),
                          ("v: !include {a: 1}", "!include needs an argument"),
                          ("v: !include_dir_merge_named '  '", "!include_dir_named needs an argument")]:
        with pytest.raises(KestrineIncludeError, match=f"^{message}") as err:
            kestrine.loads(text, option=INC)
        assert err.value.line is None
    with pytest.raises(KestrineIncludeConfinementError, match="^'../x.yaml' resolves outside the configured "
                                                              "include directory in "):
        load(tmp_path / "inner", "v: !include ../x.yaml")
    with pytest.raises(KestrineIncludeConfinementError):  # contains nothing: never a shorter path's files
        kestrine.loads("v: !include outer.yaml", option=INC, include_dir="")


def test_path_arguments_holding_nul_are_refused(tmp_path):
    doc = load(tmp_path, "a: 1", option=INC | kestrine.OPT_ROUND_TRIP)
    nul = str(tmp_path) + "\0/inner"
    for call, name in [(lambda: load(nul, "v: !include x.yaml"), "loads() argument 'include_dir'"),
                       (lambda: load(tmp_path, "v: 1", root_path=Path(nul, "t.yaml")), "loads() argument 'root_path'"),
                       (lambda: kestrine.loads("v: 1", option=ANN, root_path=nul), "loads() argument 'root_path'"),
                       (lambda: kestrine.dump_includes(doc, include_dir=nul),
                        "dump_includes() argument 'include_dir'")]:
        with pytest.raises(ValueError, match=f"^{re.escape(name)} must not contain a NUL character$"):
            call()


ROADS = {"located": INC, "annotated": INC | ANN, "round trip": INC | kestrine.OPT_ROUND_TRIP}


# A sibling directory whose name extends the root's ("conf-private" beside
# "conf") shares the root's path as a text prefix, never as a directory.
@pytest.mark.parametrize("road", ROADS)
@pytest.mark.parametrize("text", [
    "v: !include ../conf-private/x.yaml",
    "v: !include ../conf/../conf-private/x.yaml",
    "v: !include {sibling}/x.yaml",
    "v: !include link/x.yaml",
    "v: !include nested.yaml",
    "v: !include_dir_list ../conf-private",
    "v: !include_dir_named ../conf-private",
    "v: !include_dir_merge_list ../conf-private",
    "v: !include_dir_merge_named ../conf-private",
])
def test_a_sibling_directory_named_like_the_root_is_outside_it(tmp_path, road, text):
    write(tmp_path, {"conf-private/x.yaml": "secret: 1\n", "conf/y.yaml": "ok: 1\n",
                     "conf/nested.yaml": "n: !include ../conf-private/x.yaml\n"})
    os.symlink("../conf-private", tmp_path / "conf/link")
    root = tmp_path / "conf"
    for include_dir in (str(root), str(root) + "/"):
        with pytest.raises(KestrineIncludeConfinementError, match="resolves outside the configured include directory"):
            load(include_dir, text.format(sibling=tmp_path / "conf-private"), option=ROADS[road])
    # The root reached through its own name stays inside.
    loaded = load(root, "v: !include ../conf/y.yaml", option=ROADS[road])
    assert (loaded.to_dict() if road == "round trip" else loaded) == {"v": {"ok": 1}}


@pytest.mark.parametrize("road", ROADS)
def test_errors_inside_included_files_name_the_file(tmp_path, road):
    write(tmp_path, {"dup.yaml": "a: 1\na: 2\n", "typed.yaml": "port: x\n", "nested.yaml": "n: !include dup.yaml\n",
                     "complex.yaml": "\n[a]: 1\n",
                     "bomb.yaml": "a: &a [" + "1, " * 999 + "1]\nb: [" + "*a, " * 10000 + "*a]\n"})
    dup = kestrine.OPT_DUPLICATE_KEYS_ERROR
    schema = {"properties": {"k": {"properties": {"port": {"type": "integer"}}}}}
    located = road != "round trip"  # a round-trip document binds its aliases when read, and keeps complex keys
    cases = [  # text, option, keywords, error, file (None: the top-level text), line
        ("k: !include dup.yaml", dup, {}, KestrineDuplicateKeyError, "dup.yaml", 2),
        ("k: !include nested.yaml", dup, {}, KestrineDuplicateKeyError, "dup.yaml", 2),
        ("a: 1\na: 2\nk: !include dup.yaml", dup, {}, KestrineDuplicateKeyError, None, 2),
        ("k: !include typed.yaml", 0, {"schema": schema}, KestrineSchemaError, "typed.yaml", 1),
    ] + located * [
        ("k: !include bomb.yaml", 0, {}, KestrineParseError, "bomb.yaml", 2),
        ("k: !include complex.yaml", kestrine.OPT_REJECT_COMPLEX_KEYS, {}, KestrineComplexKeyError, "complex.yaml", 2),
    ]
    for text, option, kw, error, file, line in cases:
        with pytest.raises(error) as err:
            load(tmp_path, text, option=ROADS[road] | option, **kw)
        assert (err.value.file, err.value.line) == (file and f"{tmp_path}/{file}", line), text


# (files of the directory, option, the first two files whose stems the load
# reads as one key, or None)
STEMS = [
    (["1.yaml", "1.0.yaml", "true.yaml"], 0, ("1.0.yaml", "1.yaml")),
    (["null.yaml", "~.yaml"], 0, ("null.yaml", "~.yaml")),
    (["0x10.yaml", "16.yaml"], 0, ("0x10.yaml", "16.yaml")),
    (["a.yaml", "a.yml"], 0, ("a.yaml", "a.yml")),
    (["s1/x.yaml", "s2/x.yaml"], kestrine.OPT_INCLUDE_DIR_RECURSIVE, ("s1/x.yaml", "s2/x.yaml")),
    (["yes.yaml", "true.yaml"], kestrine.OPT_YAML_1_1, ("true.yaml", "yes.yaml")),
    (["yes.yaml", "true.yaml"], 0, None),
    (["1.yaml", "'1'.yaml", "01x.yaml"], 0, None),
]


@pytest.mark.parametrize("road", ROADS)
@pytest.mark.parametrize("files, option, colliding", STEMS)
def test_directory_stems_read_as_one_key_are_refused(tmp_path, road, files, option, colliding):
    write(tmp_path, {f"pk/{name}": f"k{i}: {i}\n" for i, name in enumerate(files)})
    option |= ROADS[road]

    def value(tag):
        result = load(tmp_path, f"top:\n  pk: {tag} pk\n", option=option)
        return (result.to_dict() if road == "round trip" else result)["top"]["pk"]

    # The merge form keeps no stem: every file's pairs are there.
    assert value("!include_dir_merge_named") == {f"k{i}": i for i in range(len(files))}
    if colliding is None:
        assert len(value("!include_dir_named")) == len(files)
        return
    with pytest.raises(KestrineDuplicateKeyError) as err:
        value("!include_dir_named")
    first, second = (f"{tmp_path}/pk/{name}" for name in colliding)
    assert str(err.value).startswith(f"duplicate mapping key: {Path(colliding[1]).name.rsplit('.', 1)[0]} "
                                     f"(the files '{first}' and '{second}' are read as the same key) in ")
    assert (err.value.file, err.value.line) == (f"{tmp_path}/<root>", 2)


def test_env_var_values(monkeypatch, tmp_path):
    monkeypatch.setenv("KST_PORT", "8080")
    monkeypatch.setenv("KST_EMPTY", "")
    monkeypatch.delenv("KST_UNSET", raising=False)
    text = """
port: !env_var KST_PORT
default: !env_var KST_UNSET   two\u3000 words
set_wins: !env_var KST_PORT fallback
empty: !env_var KST_EMPTY fallback
blank: !env_var '   '
collection: !env_var {a: 1}
bad_name: !env_var KST_PORT=x used
nul_name: !env_var "KST_PORT\\0x used"
!env_var KST_PORT: key not resolved
near: !env_vax KST_PORT
"""
    assert load(tmp_path, text, option=ENV) == {
        "port": "8080", "default": "two words", "set_wins": "8080", "empty": "", "blank": "", "collection": "",
        "bad_name": "used", "nul_name": "used", "KST_PORT": "key not resolved", "near": "KST_PORT"}
    with pytest.raises(KestrineEnvVarError) as err:
        load(tmp_path, "a: 1\nb: !env_var KST_UNSET\n", option=ENV)
    assert str(err.value) == f"environment variable KST_UNSET is not defined in {tmp_path}/<root>"
    assert (err.value.line, err.value.column, err.value.include_stack) == (2, 13, None)


def test_missing_env_var_policy(tmp_path, caplog):
    write(tmp_path, {"inc.yaml": "x: 1\ny: !env_var KST_UNSET_TOO\n"})
    text = "a: !env_var KST_UNSET_ONE\nb: !include inc.yaml\n"
    calls = []
    value = load(tmp_path, text, option=INC | ENV, on_missing_env_var=lambda *a: calls.append(a) or "ignored")
    assert value == {"a": None, "b": {"x": 1, "y": None}}
    assert calls == [("KST_UNSET_ONE", f"{tmp_path}/<root>", 1), ("KST_UNSET_TOO", f"{tmp_path}/inc.yaml", 2)]
    assert not caplog.records

    events = []
    logging.getLogger("kestrine").addFilter(lambda r: events.append("log") or True)
    try:
        with caplog.at_level(logging.WARNING, logger="kestrine"):
            load(tmp_path, text, option=INC | ENV | kestrine.OPT_ENV_VAR_NOT_FOUND_WARN,
                 on_missing_env_var=lambda *a: events.append("call"))
    finally:
        logging.getLogger("kestrine").filters.clear()
    assert events == ["call", "log", "call", "log"]
    assert caplog.messages[-1] == f"environment variable 'KST_UNSET_TOO' is not defined at {tmp_path}/inc.yaml:2"

    def refuse(*args):
        raise RuntimeError("stop")
    with pytest.raises(RuntimeError, match="stop"):
        load(tmp_path, text, option=INC | ENV, on_missing_env_var=refuse)


def test_anchors_survive_replacement_and_stay_in_their_file(tmp_path):
    write(tmp_path, {"x.yaml": "&own {w: &top 2, u: *top}\n"})
    text = "t: &top 1\nbase: &b !include x.yaml\nother: *b\nafter: *top\n"
    assert load(tmp_path, text) == {"t": 1, "base": {"w": 2, "u": 2}, "other": {"w": 2, "u": 2}, "after": 1}
    ann = load(tmp_path, "e: &e !env_var KST_PORT_X 7\ncopy: *e\n", option=ENV | ANN)
    assert ann["copy"] == "7"


def test_annotated_positions_of_included_values(tmp_path, monkeypatch):
    monkeypatch.setenv("KST_HOST", "example.org")
    write(tmp_path, {"conf/inc.yaml": "# head\nport: 80\nname: srv\n", "conf/d/a.yaml": "k: v\n"})
    top = tmp_path / "conf" / "main.yaml"
    value = load(tmp_path, "\nsrv: !include inc.yaml\nhost: !env_var KST_HOST\nall: !include_dir_named d\n",
                 option=INC | ENV | ANN, root_path=str(top))
    srv = value["srv"]
    assert (srv.__file__, srv.__line__, srv.__source_tag__, srv.__source_target__) == \
        (f"{tmp_path}/conf/inc.yaml", 2, "!include", "inc.yaml")
    assert (srv["name"].__file__, srv["name"].__line__, srv["name"].__column__) == (f"{tmp_path}/conf/inc.yaml", 3, 7)
    host = value["host"]
    assert (host, host.__file__, host.__line__, host.__column__, host.__source_tag__, host.__source_target__) == \
        ("example.org", str(top), 3, 16, "!env_var", "KST_HOST")
    assert (host.__end_line__, host.__end_column__) == (3, 16)  # zero-length, at the directive
    assert (value["all"].__source_tag__, value["all"]["a"]["k"].__file__) == \
        ("!include_dir_named", f"{tmp_path}/conf/d/a.yaml")


def test_round_trip_document_keeps_the_directives(tmp_path):
    write(tmp_path, {"x.yaml": "a: 1\n"})
    text = "x: !include x.yaml\n---\ny: 2\n"
    doc = load(tmp_path, text, option=INC | kestrine.OPT_ROUND_TRIP)
    assert isinstance(doc, kestrine.KestrineDocument) and doc.to_yaml() == text.encode()
    assert "2" in repr(doc)
    assert load(tmp_path, "---\n---\nx: !include x.yaml\n") is None  # first document empty, as on the plain road


def test_loads_all_refuses_the_include_options():
    with pytest.raises(ValueError, match="loads_all"):
        kestrine.loads_all("a: 1", option=INC)


@pytest.mark.skipif(not (REAL_TREE / "configuration.yaml").exists(), reason="config trees not present")
def test_real_configuration_tree():
    config = REAL_TREE / "configuration.yaml"
    value = kestrine.loads(config.read_bytes(), option=INC | kestrine.OPT_INCLUDE_DIR_RECURSIVE,
                           include_dir=str(REAL_TREE), root_path=str(config))
    packages = value["homeassistant"]["packages"]
    assert sorted(packages) == sorted(p.stem for p in (REAL_TREE / "integrations").glob("*.yaml"))
    assert packages["http"] == {"http": {"ip_ban_enabled": True, "login_attempts_threshold": 5}}
    assert packages["frontend"] == {"frontend": {"themes": {}}}
    assert packages["automation"] == {"automation": [], "automation split": []}
    assert packages["script"] == {"script": {}, "script split": {}}
    assert packages["default_config"] == {"default_config": None}
    assert packages["logger"]["logger"]["filters"]["homeassistant.loader"] == ["We found a custom integration"]
