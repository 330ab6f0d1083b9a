"""dump_includes and dump_includes_map: a round-trip document loaded with
includes written back to its files.  Edits come from OPT_UPGRADE_1_1, which
rewrites YAML 1.1 scalars in place.  The plan's merge rules and the atomic
write itself are covered by tests/cpp/include_write_back_test.cpp and
tests/cpp/util_atomic_write_test.cpp."""

import os
import resource
import shutil
import signal
import stat
from pathlib import Path

import pytest

import kestrine
from document_support import outcome

INC = kestrine.OPT_INCLUDES
EDITS = kestrine.OPT_ROUND_TRIP | INC | kestrine.OPT_UPGRADE_1_1
REAL_TREE = Path(__file__).resolve().parent.parent.parent / "shared/testdata/config-trees/frenck-home-assistant-config"
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


def snapshot(root):
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


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

    # An edit under a directory include has no single file to go to.
    (tree / "d").mkdir()
    (tree / "d" / "one.yaml").write_text("- on\n")
    doc = load(tree, text=MAIN + "list: [0, !include_dir_merge_list d]\n")
    message = ("cannot write back the edit at $.list[1]: it lies under '!include_dir_merge_list d', "
               "which names no single file to hold it")
    for call in (kestrine.dump_includes, kestrine.dump_includes_map):
        with pytest.raises(ValueError) as err:
            call(doc)
        assert str(err.value) == message
    assert snapshot(tree) == {**before, "d/one.yaml": b"- on\n"}


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
    # an empty document after the first, with a comment before and after its marker
    ("x: 1\n# end\n--- \n# after\n", _SET_X, "x: 5\n# end\n--- \n# after\n"),
    # CR LF line breaks, in the edited lines too
    ("a: 1\r\nx: 2  # c\r\n---\r\nz: 3\r\n", lambda top: top.__setitem__("a", {"n": [1]}),
     "a:\r\n  \"n\":\r\n  - 1\r\nx: 2  # c\r\n---\r\nz: 3\r\n"),
    ("x: 1\r\ny: 2\r\n", _DELETE_X, "y: 2\r\n"),
    # a file without a document keeps its comments above the new content
    ("# nothing yet\r\n", lambda top: top.__setitem__("k", 1), "# nothing yet\r\nk: 1\r\n"),
    # a file whose document is itself a directive cannot hold an edit
    ("!include deeper.yaml\n", _SET_X,
     "ValueError: cannot write back the edit at $.top: it lies under '!include inc.yaml', whose file holds a "
     "directive in place of its content"),
], ids=["later documents", "directives between", "sequence", "empty document", "crlf", "crlf deletion",
        "no document", "directive document"])
def test_included_files_keep_what_lies_outside_the_edited_content(tmp_path, text, edit, expected):
    (tmp_path / "inc.yaml").write_bytes(text.encode())
    (tmp_path / "deeper.yaml").write_bytes(b"x: 1\n")
    main = tmp_path / "main.yaml"
    main.write_bytes(b"# root\ntop: !include inc.yaml  # kept\n")
    doc = kestrine.loads(main.read_bytes(), option=kestrine.OPT_ROUND_TRIP | INC, include_dir=str(tmp_path))
    edit(doc["top"])
    before = snapshot(tmp_path)
    result = outcome(lambda: kestrine.dump_includes_map(doc))
    if not isinstance(result, dict):
        assert result == expected
        assert outcome(doc.save) == outcome(lambda: kestrine.dump_includes(doc)) == expected
        assert snapshot(tmp_path) == before  # nothing written
        return
    assert result == {str(tmp_path / "inc.yaml"): expected.encode()}
    # Only the included file changed: save() needs no origin and leaves the root file alone.
    assert doc.save() == [str(tmp_path / "inc.yaml")]
    doc.set_origin(str(main))
    assert doc.save() == [str(tmp_path / "inc.yaml")]
    assert snapshot(tmp_path) == {**before, "inc.yaml": expected.encode()}
    kestrine.dump_includes(doc)
    assert snapshot(tmp_path) == {**before, "inc.yaml": expected.encode()}
