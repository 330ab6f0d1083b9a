"""dump_includes and dump_includes_map: a round-trip document loaded with
includes written back to its files.  Edits come from OPT_UPGRADE_1_1, which
rewrites YAML 1.1 scalars in place.  The plan's merge rules and the atomic
write itself are covered by tests/cpp/include_write_back_test.cpp and
tests/cpp/util_atomic_write_test.cpp, random load, edit and save cycles by
tests/test_save_cycles.py."""

import functools
import os
import re
import resource
import shutil
import signal
import stat
from pathlib import Path

import pytest

import kestrine
from document_support import REAL_TREE, outcome, snapshot

INC = kestrine.OPT_INCLUDES
EDITS = kestrine.OPT_ROUND_TRIP | INC | kestrine.OPT_UPGRADE_1_1
MAIN = "a: !include a.yaml\nb: !include sub/b.yaml\nc: !include c.yaml\nagain: !include c.yaml\n"


@pytest.fixture
def tree(tmp_path):
    files = {"a.yaml": "x: yes  # kept\nw: 1\n", "c.yaml": "# c head\nplain: 1  # as read\n",
             "sub/b.yaml": "# head\nz: off\nlist:\n  # above\n  - !include ../c.yaml  # note\n"}
    for name, text in files.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text)
    os.chmod(tmp_path / "a.yaml", 0o600)
    return tmp_path


def load(root, option=EDITS, text=MAIN):
    return kestrine.loads(text, option=option, include_dir=str(root))


def test_edits_in_several_files_are_written_to_their_own_files(tree):
    before = snapshot(tree)
    doc = load(tree)
    expected = {"a.yaml": b"x: true  # kept\nw: 1\n", "c.yaml": before["c.yaml"],  # unedited: once, as read
                # each file keeps its own comments, the directive's among them
                "sub/b.yaml": b"# head\nz: false\nlist:\n  # above\n  - !include ../c.yaml  # note\n"}
    assert kestrine.dump_includes_map(doc) == {f"{tree}/{name}": text for name, text in expected.items()}
    assert snapshot(tree) == before  # the map writes nothing

    assert kestrine.dump_includes(doc, include_dir="ignored") is None
    assert snapshot(tree) == {**before, **expected}
    assert stat.S_IMODE(os.stat(tree / "a.yaml").st_mode) == 0o600
    assert kestrine.dump_includes_map(load(tree)) == {f"{tree}/{n}": t for n, t in expected.items()}


def test_refusals(tree):
    before = snapshot(tree)
    plain = kestrine.loads("a: 1\n", option=kestrine.OPT_ROUND_TRIP, root_path=str(tree / "main.yaml"))
    for call in (kestrine.dump_includes, kestrine.dump_includes_map):
        with pytest.raises(ValueError, match="^document was not loaded with OPT_INCLUDES; nothing to write back$"):
            call(plain)
        with pytest.raises(TypeError, match="argument 'doc' must be KestrineDocument, not dict"):
            call({})
    with pytest.raises(TypeError, match="include_dir"):
        kestrine.dump_includes(load(tree), include_dir=1)

    # An edit under a directory include has no single file to go to, nor
    # one under a file that is itself a directive.
    (tree / "d").mkdir()
    (tree / "d" / "one.yaml").write_text("- on\n")
    (tree / "nested.yaml").write_text("!include a.yaml\n")
    for text, message in [
        (MAIN + "list: [0, !include_dir_merge_list d]\n",
         "cannot write back the edit at $.list[1]: it lies under '!include_dir_merge_list d', "
         "which names no single file to hold it"),
        ("nest: !include nested.yaml\n",
         "cannot write back the edit at $.nest: it lies under '!include nested.yaml', whose file holds a directive "
         "in place of its content"),
    ]:
        doc = load(tree, text=text)
        for call in (kestrine.dump_includes, kestrine.dump_includes_map):
            with pytest.raises(ValueError) as err:
                call(doc)
            assert str(err.value) == message
    assert snapshot(tree) == {**before, "d/one.yaml": b"- on\n", "nested.yaml": b"!include a.yaml\n"}


# A directory tag's content came from many files, and the content of a file
# that is itself a directive from none: an edit inside it could be written
# nowhere.  Each shape: the text, and the path to d/a.yaml's mapping.
DIRECTORY_SHAPES = [
    ("m: !include_dir_named d\n", ["m", "a"]),
    ("m: !include_dir_merge_named d\n", ["m"]),
    ("m: !include_dir_list d\n", ["m", 0]),
    ("m: !include_dir_merge_list d\n", ["m", 0]),
    ("m: !include named.yaml\n", ["m", "a"]),
]
DIRECTORY_EDITS = {
    "assign": lambda view, node: view.__setitem__("x", 5),
    "assign in a list": lambda view, node: view["l"].__setitem__(0, 5),
    "add a key": lambda view, node: view.__setitem__("new", 1),
    "delete": lambda view, node: view.__delitem__("x"),
    "value": lambda view, node: setattr(node["x"], "value", 5),
    "comment": lambda view, node: setattr(node["x"], "comment", "c"),
    "comment_before of the first key": lambda view, node: setattr(node["x"], "comment_before", "c"),
    "comment_before": lambda view, node: setattr(node["w"], "comment_before", "c"),
    "comment_after": lambda view, node: setattr(node["l"], "comment_after", "c"),
    "anchor": lambda view, node: setattr(node["x"], "anchor", "k"),
    "make_alias": lambda view, node: node["w"].make_alias("l"),
    "detach": lambda view, node: node["al"].detach(),
}


def directory_tree(root):
    files = {"d/a.yaml": "x: 1\nl: &l\n- 1\n- 2\nal: *l\nw: 2\n", "named.yaml": "!include_dir_named d\n",
             "main.yaml": "top: 1\n", "inc.yaml": "y: 2\n"}
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)


def load_directory_tree(root, text):
    doc = kestrine.loads(text, option=kestrine.OPT_ROUND_TRIP | INC, include_dir=str(root))
    doc.set_origin(str(root / "main.yaml"))
    return doc


@pytest.mark.parametrize("edit", DIRECTORY_EDITS)
@pytest.mark.parametrize("text, path", DIRECTORY_SHAPES)
def test_an_edit_inside_a_directory_include_is_refused(tmp_path, text, path, edit):
    directory_tree(tmp_path)
    doc = load_directory_tree(tmp_path, text)
    before = (doc.to_yaml(), doc.to_dict(), snapshot(tmp_path))
    view, node = doc, doc.node
    for step in path:
        view, node = view[step], node[step]
    directive = "'!include named.yaml', whose file holds a directive in place of its content" if "named.yaml" in text \
        else f"'{text[3:-1]}', which names no single file to hold it"
    with pytest.raises(ValueError) as err:
        DIRECTORY_EDITS[edit](view, node)
    assert str(err.value) == f"cannot edit part of {directive}"
    assert (doc.to_yaml(), doc.to_dict(), snapshot(tmp_path)) == before
    # The document stays usable: it saves, and takes edits elsewhere.
    assert doc.save() == [] and kestrine.dump_includes_map(doc) is not None
    doc["top"] = 2
    assert doc.save() == [str(tmp_path / "main.yaml")] and snapshot(tmp_path)["d/a.yaml"] == before[2]["d/a.yaml"]


# The directive as a whole stands in the file that names it, and an
# `!include` holds its own file, inside a directory's content too: edits
# there are written.
@pytest.mark.parametrize("edit, written", [
    (lambda doc: doc.__setitem__("m", {"x": 1}), {"main.yaml": b"m:\n  x: 1\n"}),
    (lambda doc: doc.__delitem__("m"), {"main.yaml": b"{}\n"}),
    (lambda doc: setattr(doc.node["m"], "comment", "c"), {"main.yaml": b"m: !include_dir_named d # c\n"}),
    (lambda doc: setattr(doc.node["m"], "comment_before", "c"), {"main.yaml": b"# c\nm: !include_dir_named d\n"}),
    (lambda doc: setattr(doc.node, "comment_after", "c"), {"main.yaml": b"m: !include_dir_named d\n# c\n"}),
    (lambda doc: doc["m"]["b"]["i"].__setitem__("y", 3), {"inc.yaml": b"y: 3\n"}),
    (lambda doc: setattr(doc.node["m"]["b"]["i"]["y"], "comment", "c"), {"inc.yaml": b"y: 2 # c\n"}),
])
def test_a_directory_include_as_a_whole_may_be_edited(tmp_path, edit, written):
    directory_tree(tmp_path)
    (tmp_path / "d" / "b.yaml").write_text("i: !include ../inc.yaml\n")
    doc = load_directory_tree(tmp_path, "m: !include_dir_named d\n")
    before = snapshot(tmp_path)
    edit(doc)
    assert sorted(doc.save()) == sorted(str(tmp_path / name) for name in written)
    assert snapshot(tmp_path) == {**before, **written}


def test_a_failed_write_back_leaves_every_target_intact(tree):
    (tree / "sub" / "b.yaml").write_text("# head\nz: off\n" + "# padding\n" * 400)  # now too long to write
    before = snapshot(tree)
    doc = load(tree)
    soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
    previous = signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (1000, hard))  # b.yaml no longer fits
    try:
        with pytest.raises(ValueError) as err:
            kestrine.dump_includes(doc)
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
        signal.signal(signal.SIGXFSZ, previous)
    assert str(err.value) == f"cannot write {tree}/sub/b.yaml: File too large"
    assert snapshot(tree) == before  # a.yaml, staged first, was not replaced either; no temporary file left


def test_targets_are_checked_again_at_write_time(tree, tmp_path_factory):
    outside = tmp_path_factory.mktemp("outside")
    (outside / "b.yaml").write_text("outside\n")
    doc = load(tree)
    shutil.rmtree(tree / "sub")
    os.symlink(outside, tree / "sub")
    with pytest.raises(ValueError, match=f"^cannot write {tree}/sub/b.yaml: the path leads outside the include"):
        kestrine.dump_includes(doc)
    assert (outside / "b.yaml").read_text() == "outside\n" and (tree / "a.yaml").read_text().startswith("x: yes")

    # A link as the file itself is followed while it stays beneath the root.
    os.unlink(tree / "sub")
    (tree / "sub").mkdir()
    (tree / "real.yaml").write_text("old\n")
    os.symlink("../real.yaml", tree / "sub" / "b.yaml")
    kestrine.dump_includes(doc)
    assert (tree / "sub" / "b.yaml").is_symlink() and (tree / "real.yaml").read_text().startswith("# head\nz: false\n")


@pytest.mark.skipif(not (REAL_TREE / "configuration.yaml").exists(), reason="config trees not present")
def test_real_configuration_tree_is_written_back_unchanged(tmp_path):
    root = tmp_path / "config"
    shutil.copytree(REAL_TREE, root)
    (root / "secrets.fake.yaml").rename(root / "secrets.yaml")
    options = kestrine.OPT_ROUND_TRIP | INC | kestrine.OPT_SECRETS | kestrine.OPT_INCLUDE_DIR_RECURSIVE
    config = root / "configuration.yaml"
    doc = kestrine.loads(config.read_bytes(), option=options, include_dir=str(root), root_path=str(config))
    written = kestrine.dump_includes_map(doc)
    assert written and all(Path(path).read_bytes() == text for path, text in written.items())
    before = snapshot(root)
    kestrine.dump_includes(doc)
    assert snapshot(root) == before


# After a save that succeeds the files load again as the live document;
# otherwise the save (and dump_includes, dump_includes_map) refuses before
# any file changes.  A detached copy of an included file is written inline,
# the directives it keeps so that they read the same from their new file
# (else the detach is refused); a file read at several places (through a
# kept directive too) may change only when every place reads the same new
# text.  Each shape: the files, the edit, the refusal (the edit's ValueError
# or the save's KestrineIncludeError) or None; the same edit once more after
# a save changes nothing.
TWICE = {"configuration.yaml": "a: !include inc.yaml\nb: !include inc.yaml\n", "inc.yaml": "x: 1\ny: 2\n"}
SHARED = {"configuration.yaml": "a: &i !include inc.yaml\nb: *i\n", "inc.yaml": "x: 1\ny: 2\n"}
NESTED_SHARED = {"configuration.yaml": "m: !include mid.yaml\n", "mid.yaml": "a: &i !include inc.yaml\nb: *i\n",
                 "inc.yaml": "x: 1\n"}
ONLY_SOME = "included more than once and edited at only some of those places"
# A copy detached from a file in another folder: its directives name paths
# (and look secrets up) from there; beside the root file stand look-alikes.
FROM_SUB = {"configuration.yaml": "a: &i !include sub/mid.yaml\nb: *i\n", "sub/dd/one.yaml": "q: 1\n",
            "dd/other.yaml": "z: 9\n", "other.yaml": "o: 2\n", "wrap.yaml": "- w\n", "secrets.yaml": "pw: ROOT\n"}
# ... and one detached in an included file from a file above it.
FROM_UP = {**FROM_SUB, "configuration.yaml": "m: !include sub/mid.yaml\n",
           "sub/mid.yaml": "a: &i !include ../up.yaml\nb: *i\n"}
SECRET_ELSEWHERE = r"^cannot detach \*i: '!secret pw' was read in .*/{}; looked up from .*/{} it may find another " \
    r"value$"
# A directory include whose listed file includes a file that another place edits.
LISTED = {"configuration.yaml": "k0: &a0 !include_dir_merge_list d\nal0: *a0\nk2: !include_dir_merge_list d\n",
          "f0.yaml": "x: 1\ny: [1, 2]\n", "d/l1.yaml": "- !include ../f0.yaml\n"}
DIRECTORY_TAGS = ["!include_dir_list", "!include_dir_named", "!include_dir_merge_list", "!include_dir_merge_named"]


def _detached(*path):
    def detach(doc):
        node = functools.reduce(lambda n, step: n[step], path, doc.node)
        node.detach()
        return functools.reduce(lambda v, step: v[step], path, doc)
    return detach


@pytest.mark.parametrize("files, edit, refusal", [
    (SHARED, lambda doc: _detached("b")(doc).__setitem__("x", 5), None),
    (SHARED, lambda doc: _detached("b")(doc).__delitem__("x"), None),
    (SHARED, lambda doc: (_detached("b")(doc), doc["a"].__setitem__("x", 5)), None),
    (NESTED_SHARED, lambda doc: _detached("m", "b")(doc).__setitem__("x", 5), None),
    # An alias inside the copy is copied with its own comments, not its anchor's.
    ({"configuration.yaml": "m: &m !include mid.yaml\nc: *m\n", "mid.yaml": "a: &i !include inc.yaml  # c\nb: *i\n",
      "inc.yaml": "x: 1\n"},
     lambda doc: (_detached("c")(doc), doc.node["c"]["b"].comment is None or pytest.fail("comment copied twice")), None),
    (SHARED, lambda doc: doc["a"].__setitem__("x", 5), None),  # the alias reads the file's new text too
    # Anchors are scoped by the file a node is written in, not read from.
    (SHARED, lambda doc: doc.__setitem__("a", {"q": 1}), None),
    ({**SHARED, "configuration.yaml": "a: &i !include inc.yaml\nb: *i\nc: 1\n"},
     lambda doc: (_detached("b")(doc), setattr(doc.node["b"], "anchor", "z"), doc.node["c"].make_alias("z")), None),
    ({"configuration.yaml": "a: !include inc.yaml\n", "inc.yaml": "x: 1\n"},
     lambda doc: (setattr(doc.node["a"]["x"], "anchor", "z"), doc["a"].__setitem__("new", 0),
                  doc.node["a"]["new"].make_alias("z")), None),
    ({**SHARED, "inc.yaml": "%TAG !e! tag:example.com,2000:\n---\nx: !e!v 1\n"}, _detached("b"), None),
    (TWICE, lambda doc: doc["b"].__setitem__("x", 5), ONLY_SOME),
    (TWICE, lambda doc: (doc["a"].__setitem__("x", 5), doc["b"].__setitem__("x", 5)), None),
    (TWICE, lambda doc: (doc.__setitem__("a", {"x": 1}), doc["b"].__setitem__("x", 5)), None),
    ({**TWICE, "configuration.yaml": "a: !include inc.yaml\nb: &j !include inc.yaml\nc: *j\n"},
     lambda doc: (doc.__setitem__("d", 1), doc["c"].__setitem__("x", 5)), ONLY_SOME),
    ({"configuration.yaml": "a: !include mid.yaml\nb: !include inc.yaml\n", "mid.yaml": "c: !include inc.yaml\n",
      "inc.yaml": "x: 1\n"}, lambda doc: doc["b"].__setitem__("x", 5), ONLY_SOME),
    ({"configuration.yaml": "a: !include_dir_merge_named d\nb: !include d/x.yaml\n", "d/x.yaml": "{}\n"},
     lambda doc: doc["b"].__setitem__("x", 5), ONLY_SOME),
    ({"configuration.yaml": "a: !include wrap.yaml\nb: !include inc.yaml\n", "wrap.yaml": "!include inc.yaml\n",
      "inc.yaml": "x: 1\n"}, lambda doc: doc["b"].__setitem__("x", 5), ONLY_SOME),
    ({"configuration.yaml": "p: !secret k\ns: !include secrets.yaml\n", "secrets.yaml": "k: old\n"},
     lambda doc: doc["s"].__setitem__("k", "new"), "is included and also read for !secret values"),
    *[({**FROM_SUB, "sub/mid.yaml": f"d: {tag} dd\n"}, _detached("b"), None) for tag in DIRECTORY_TAGS],
    ({**FROM_SUB, "sub/mid.yaml": "d: !include_dir_named ../sub/./dd/\nn: !include_dir_list other\n"},
     _detached("b"), None),
    ({**FROM_SUB, "sub/mid.yaml": "n: !include other.yaml\n", "sub/other.yaml": "o: 1\n"}, _detached("b"), None),
    ({**FROM_SUB, "sub/mid.yaml": "w: !include wrap.yaml\n", "sub/wrap.yaml": "!include_dir_list dd\n"},
     _detached("b"), None),
    ({**FROM_SUB, "sub/mid.yaml": "m: !include deeper/x.yaml\n", "sub/deeper/x.yaml": "d: !include_dir_list dd\n",
      "sub/deeper/dd/one.yaml": "q: 3\n"}, _detached("b"), None),
    ({**FROM_UP, "up.yaml": "d: !include_dir_list dd\n", "sub/dd/one.yaml": "q: 1\n"}, _detached("m", "b"), None),
    ({**FROM_SUB, "sub/mid.yaml": "s: !secret pw\n"}, _detached("b"), None),
    ({**FROM_SUB, "sub/mid.yaml": "s: !secret pw\n", "sub/secrets.yaml": "pw: SUB\n"}, _detached("b"),
     SECRET_ELSEWHERE.format("sub/mid.yaml", "configuration.yaml")),
    ({**FROM_UP, "up.yaml": "s: !secret pw\n", "sub/secrets.yaml": "pw: SUB\n"}, _detached("m", "b"),
     SECRET_ELSEWHERE.format("up.yaml", "sub/mid.yaml")),
    (LISTED, lambda doc: (_detached("al0")(doc), doc.__setitem__("k0", 5), doc["k2"][0]["y"].__delitem__(0)),
     ONLY_SOME),
    ({**LISTED, "configuration.yaml": "k0: &a0 !include wrap.yaml\nal0: *a0\nk2: !include f0.yaml\n",
      "wrap.yaml": "!include_dir_merge_list d\n"},
     lambda doc: (_detached("al0")(doc), doc.__setitem__("k0", 5), doc["k2"]["y"].__delitem__(0)), ONLY_SOME),
    ({**LISTED, "configuration.yaml": "k0: &a0 !include_dir_merge_list d\nal0: *a0\n"},
     lambda doc: (_detached("al0")(doc), doc.__setitem__("k0", 5), doc["al0"][0]["y"].__delitem__(0)), None),
    # ... where the include lies within a listed file's document, deeper than the listing's items
    *[({**LISTED, "configuration.yaml": f"k0: &a0 {tag} d\nal0: *a0\nk2: !include f0.yaml\n"},
       lambda doc: (_detached("al0")(doc), doc.__setitem__("k0", 5), doc["k2"]["y"].__delitem__(0)), ONLY_SOME)
      for tag in ("!include_dir_list", "!include_dir_named")],
    ({**LISTED, "configuration.yaml": "k0: &a0 !include_dir_list d\nal0: *a0\n"},
     lambda doc: (_detached("al0")(doc), doc.__setitem__("k0", 5), doc["al0"][0][0]["y"].__delitem__(0)), None),
    ({**LISTED, "configuration.yaml": "k0: &a0 !include sub/m.yaml\nal0: *a0\nk2: !include f0.yaml\n",
      "sub/m.yaml": "w: !include wrap.yaml\n", "sub/wrap.yaml": "!include_dir_named ../d\n"},
     lambda doc: (_detached("al0")(doc), doc.__setitem__("k0", 5), doc["k2"]["y"].__delitem__(0)), ONLY_SOME),
], ids=["detach, edit the copy", "detach, delete in the copy", "detach, edit the original",
        "detach in an included file", "detach a file holding an alias", "edit an aliased include", "replace an anchored include",
        "anchor on a detached copy", "alias added in an included file", "detach a file with %TAG handles",
        "twice, one edited", "twice, both edited alike",
        "twice, the other replaced", "twice, one edited through an alias", "nested include of the same file",
        "listed by a directory include", "file that is a directive", "read for secrets",
        *[f"detach {tag} of another folder" for tag in DIRECTORY_TAGS], "detach paths that need no folder",
        "detach a nested include of another folder", "detach a nested directive file of another folder",
        "detach a directive two folders down", "detach in an included file a directive from above",
        "detach a secret found above", "detach a secret found beside its file",
        "detach in an included file a secret from above",
        "detached directory include reads a file edited elsewhere",
        "detached directive file reads a file edited elsewhere",
        "detached directory include, its file edited through it",
        "detached !include_dir_list reads a file edited elsewhere", "detached !include_dir_named reads a file edited "
        "elsewhere", "detached !include_dir_list, its file edited through it",
        "detached directive file of another folder reads a file edited elsewhere"])
def test_a_save_reloads_as_the_live_document_or_changes_nothing(tmp_path, files, edit, refusal):
    for name, text in files.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text)
    main = tmp_path / "configuration.yaml"
    option = kestrine.OPT_ROUND_TRIP | INC | kestrine.OPT_SECRETS

    def load_main():
        return kestrine.loads(main.read_bytes(), option=option, include_dir=str(tmp_path), root_path=str(main))
    doc = load_main()
    doc.set_origin(str(main))
    before = snapshot(tmp_path)
    shown = (doc.to_yaml(), doc.to_dict())
    try:
        edit(doc)
    except ValueError as exc:  # refused by the edit itself: nothing changed
        assert refusal is not None and re.search(refusal, str(exc)), exc
        assert (doc.to_yaml(), doc.to_dict()) == shown and doc.save() == [] and snapshot(tmp_path) == before
        return
    if refusal is None:
        assert doc.save()
        assert load_main().to_dict() == doc.to_dict()
        assert all(Path(path).read_bytes() == text for path, text in kestrine.dump_includes_map(doc).items())
        # The same edit again, where it still applies, changes nothing.
        again, after = load_main(), snapshot(tmp_path)
        again.set_origin(str(main))
        outcome(lambda: edit(again))
        again.save()
        assert snapshot(tmp_path) == after
        return
    for call in (doc.save, lambda: kestrine.dump_includes_map(doc), lambda: kestrine.dump_includes(doc)):
        with pytest.raises(kestrine.KestrineIncludeError, match=refusal):
            call()
    assert snapshot(tmp_path) == before


# An edited included file keeps what lies outside the content that replaced
# its directive, and its line breaks; a deletion in it is an edit of it
# alone.  (file text, edit of doc["top"], new file text or the refusal)
_DELETE_X = lambda top: top.__delitem__("x")  # noqa: E731
_SET_X = lambda top: top.__setitem__("x", 5)  # noqa: E731


@pytest.mark.parametrize("text, edit, expected", [
    # later documents, comments between and after them, directives
    ("# lead\nx: 1\n---\nsecond: 2\n---\nthird: 3\n# tail\n", _SET_X,
     "# lead\nx: 5\n---\nsecond: 2\n---\nthird: 3\n# tail\n"),
    ("x: 1\ny: 2  # why\n# between\n...\n%YAML 1.2\n---\nz: 3\n", _DELETE_X,
     "y: 2  # why\n# between\n...\n%YAML 1.2\n---\nz: 3\n"),
    ("- a\n- b  # c\n---\n- z\n", lambda top: top.__delitem__(0), "- b  # c\n---\n- z\n"),
    ("a:\n  b: 1\n---\nz: 2\n", lambda top: setattr(top.node["a"], "comment_after", "foot"),
     "ValueError: comment_after is not supported at the end of a document that another document follows: lines "
     "there read as that document's"),
    # an empty document after the first, with a comment before and after its marker
    ("x: 1\n# end\n--- \n# after\n", _SET_X, "x: 5\n# end\n--- \n# after\n"),
    # CR LF line breaks, in the edited lines too
    ("a: 1\r\nx: 2  # c\r\n---\r\nz: 3\r\n", lambda top: top.__setitem__("a", {"n": [1]}),
     "a:\r\n  \"n\":\r\n  - 1\r\nx: 2  # c\r\n---\r\nz: 3\r\n"),
    ("x: 1\r\ny: 2\r\n", _DELETE_X, "y: 2\r\n"),
    # CR, and mixed line breaks: each line keeps its own
    ("x: 1\ry: 2\r", _SET_X, "x: 5\ry: 2\r"),
    ("w: 1\r\nx: 2\ny: 3\r\n", _SET_X, "w: 1\r\nx: 5\ny: 3\r\n"),
    # a nested directive line and the blank line above it keep theirs
    ("- 1\n\r\n- !include deeper.yaml\n- 2\r\n", lambda top: top.__setitem__(2, 3),
     "- 1\n\r\n- !include deeper.yaml\n- 3\r\n"),
    ("- 1\r\n\n- !include deeper.yaml\r\n", lambda top: top.__setitem__(0, 5), "- 5\r\n\n- !include deeper.yaml\r\n"),
    # a "..." with a comment that ends the file
    ("x: 1\n... # end\n", lambda top: top.__setitem__("new", 2), "x: 1\nnew: 2\n... # end\n"),
    # a file without a document keeps its comments above the new content
    ("# nothing yet\r\n", lambda top: top.__setitem__("k", 1), "# nothing yet\r\nk: 1\r\n"),
    # a comment on a directive in an included file is an edit of that file
    ("x: 1\nsub: !include deeper.yaml\n", lambda top: setattr(top.node["sub"], "comment", "note"),
     "x: 1\nsub: !include deeper.yaml # note\n"),
    # the first key reads and writes the file's own head lines
    ("# lead\nx: 1\n---\nsecond: 2\n",
     lambda top: setattr(top.node["x"], "comment_before", top.node["x"].comment_before + " read"),
     "# lead read\nx: 1\n---\nsecond: 2\n"),
    # lines after a collection that an edit keeps with it, above the file's last comment
    ("x:\n  a: 1\n  # in\ny: 2\nz: 3\n# end\n", lambda top: top.__delitem__("y"), "x:\n  a: 1\n  # in\nz: 3\n# end\n"),
    ("x:\n  k:\n    a: 1\n    # in\ny: 2\n# end\n", lambda top: top["x"].__setitem__("n", 1),
     "x:\n  k:\n    a: 1\n    # in\n  \"n\": 1\ny: 2\n# end\n"),
    # a file whose document is itself a directive cannot hold an edit
    ("!include deeper.yaml\n", _SET_X,
     "ValueError: cannot edit part of '!include inc.yaml', whose file holds a directive in place of its content"),
], ids=["later documents", "directives between", "sequence", "foot before later documents", "empty document", "crlf", "crlf deletion",
        "cr", "mixed line breaks", "nested directive item", "first item", "closing marker", "no document",
        "nested directive", "head", "moved feet deleted", "moved feet appended", "directive document"])
def test_included_files_keep_what_lies_outside_the_edited_content(tmp_path, text, edit, expected):
    (tmp_path / "inc.yaml").write_bytes(text.encode())
    (tmp_path / "deeper.yaml").write_bytes(b"x: 1\n")
    main = tmp_path / "main.yaml"
    main.write_bytes(b"# root\ntop: !include inc.yaml  # kept\n")
    doc = kestrine.loads(main.read_bytes(), option=kestrine.OPT_ROUND_TRIP | INC, include_dir=str(tmp_path))
    before = snapshot(tmp_path)
    refused = outcome(lambda: edit(doc["top"]))
    if refused is not None:
        assert refused == expected
        assert doc.save() == [] and kestrine.dump_includes(doc) is None  # nothing changed
        assert snapshot(tmp_path) == before
        return
    result = kestrine.dump_includes_map(doc)
    assert result.pop(str(tmp_path / "inc.yaml")) == expected.encode()
    assert all(Path(path).read_bytes() == text for path, text in result.items())  # unedited, as read
    # Only the included file changed: save() needs no origin and leaves the root file alone.
    assert doc.save() == [str(tmp_path / "inc.yaml")]
    doc.set_origin(str(main))
    assert doc.save() == [str(tmp_path / "inc.yaml")]
    assert snapshot(tmp_path) == {**before, "inc.yaml": expected.encode()}
    kestrine.dump_includes(doc)
    assert snapshot(tmp_path) == {**before, "inc.yaml": expected.encode()}

