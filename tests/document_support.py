"""What the round-trip document tests share: loading with OPT_ROUND_TRIP,
reading an action's outcome as a value, comparing line breaks and the lines
an edit left, and the phases of a property test."""

import difflib
import pathlib
import re

from hypothesis import Phase

import kestrine

RT = kestrine.OPT_ROUND_TRIP
# A real multi-file configuration, beside the repository (tests skip without it).
REAL_TREE = pathlib.Path(__file__).resolve().parents[2] / "shared/testdata/config-trees/frenck-home-assistant-config"


def load(text, option=RT, **kw):
    return kestrine.loads(text, option=option, **kw)


def snapshot(root):
    """Every file below `root`, by its path from there, with its bytes."""
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


def phases(request):
    """Hypothesis phases for a property test: without shrinking while the
    test is marked as expected to fail (a fault not mended yet), so that its
    failure costs the suite seconds; with shrinking otherwise."""
    return [p for p in Phase if p not in (Phase.shrink, Phase.explain)] if request.node.get_closest_marker("xfail") \
        else list(Phase)


def outcome(action):
    """The action's result, or its exception as "Class: message"."""
    try:
        return action()
    except Exception as exc:  # the class and the message are the outcome
        return f"{type(exc).__name__}: {exc}"


def split_lines(text):
    """(content, line break) of each line of a text."""
    parts = re.split(rb"(\r\n|\r|\n)", text)
    return list(zip(parts[0::2], parts[1::2] + [b""]))


def kept_line_breaks(text, out, edited=()):
    """Whether every line of `text` that `out` keeps (the same content, not
    blank) keeps its line break, as far as a diff of the two tells.  Comment
    lines are left out: those of a node an edit replaced are written anew.
    So are the `edited` lines of `text` (0-based): new content written there
    may read like them and takes the line break of its entry."""
    a, b = split_lines(text), split_lines(out)
    blocks = difflib.SequenceMatcher(None, [c for c, _ in a], [c for c, _ in b], autojunk=False).get_matching_blocks()
    # (The last line written may end the text without one, as the last line read did.)
    unended = {b""} if a and a[-1][0] else set()
    return all(a[i + k][1] in (b[j + k][1], b"") or b[j + k][1] in unended for i, j, n in blocks for k in range(n)
               if a[i + k][0].strip() and not a[i + k][0].lstrip().startswith(b"#") and i + k not in edited)


def unedited_lines_kept(text, out, words, movable, copies=False):
    """Whether every line of `text` that `out` does not hold as it was is one
    an edit may rewrite, and each line written in place of others ends as the
    one it takes the place of (one past those as the line before it or the
    line after it; one after the first of a run written anew may go on with
    the line break of the line before it, as an entry written anew does; a
    line moved keeps its own).  An
    edit may rewrite a content line holding one of `words` (lower-case bytes;
    a line of no word, only a dash, an indicator or an alias, when it
    rewrites one that has one or when `words` holds b""), a comment line
    among `movable` (None: any), the blank lines above a content line it
    removes and those before the first or after the last content line (no
    entry holds them).  With `copies` (an alias written out as a copy of
    what it names), a line may also end as the line it copies, or as the
    line it is written in place of; a line that stands in `out` as often
    as in `text` is kept, wherever a diff matches it; and blank lines may
    go (a copy is written from nodes, which keep no blank line between a
    comment line and what follows it)."""
    a, b = split_lines(text), split_lines(out)
    content = lambda line: line.strip()[:1] not in (b"", b"#")  # noqa: E731
    unaliased = lambda line: re.sub(rb"\s+\*\S+$", b"", line.strip())  # noqa: E731
    hunks = [h[1:] for h in difflib.SequenceMatcher(None, a, b, autojunk=False).get_opcodes() if h[0] != "equal"]
    removed = {i for i1, i2, _, _ in hunks for i in range(i1, i2) if content(a[i][0])}
    if copies:  # (a diff may match the lines read with their copy, and take those kept for gone)
        removed -= {i for i in removed if b.count(a[i]) >= a.count(a[i])}
    found = {i: set(re.findall(rb"\w+|{}|\[]", re.sub(rb"(^|\s)#.*|[&*]\S+", b"", a[i][0]).lower())) for i in removed}
    if any(f and not f & words for f in found.values()) or not all(found.values()) and b"" not in words and not any(
            f & words for f in found.values()):
        return False
    for i1, i2, j1, j2 in hunks:
        gone = [line.strip() for line, _ in a[i1:i2]]
        comments = {a[i][0].strip().decode() for i in range(i1, i2) if a[i][0].strip().startswith(b"#")
                    and not (copies and b.count(a[i]) >= a.count(a[i]))}
        # (A comment line that ends the text may move left of its column when
        # the content before it is written anew, so as to keep its owner.)
        ends = lambda lines, i: not any(content(line) for line, _ in lines[i:])  # noqa: E731
        indent = lambda line: len(line) - len(line.lstrip(b" "))  # noqa: E731
        left = {a[i][0].strip().decode() for i in range(i1, i2) if ends(a, i) and any(
            line.strip() == a[i][0].strip() and indent(line) < indent(a[i][0]) and ends(b, k)
            for k, (line, _) in enumerate(b[j1:j2], j1))}
        if movable is not None and not comments <= movable | left:
            return False
        edge = not any(content(line) for line, _ in a[:i1]) or not any(content(line) for line, _ in a[i2:])
        if gone and not comments and not copies and not removed & set(range(i1, i2)) and not edge and next(
                (i for i in range(i2, len(a)) if content(a[i][0])), None) not in removed:
            return False  # a blank line gone on its own
        # (Comment lines before content written anew, gone or moved, take no
        # line's place.)
        first = i1
        while i1 < i2 and j1 < j2 and content(b[j1][0]) and a[i1][0].strip().startswith(b"#"):
            i1 += 1
        # (A content line may also end as the content line it follows in
        # the order read, where comment lines written or gone shift them.)
        ends_read = [brk for line, brk in a[i1:i2] if content(line)]
        for k in range(j1, j2):
            end = a[i1 + k - j1][1] if i1 + k - j1 < i2 else b[k - 1][1] if k else a[i2][1] if i2 < len(a) else b""
            # (A line added where none was read may take that of the line after it, its entry's;
            # the first of a hunk that adds lines, that of the line before it, as an entry added.)
            after = a[i2][1] if i1 + k - j1 >= i2 and i2 < len(a) else end
            if k == j1 and k and i2 > i1 and j2 - j1 > i2 - i1:
                after = b[k - 1][1]
            # (A line moved within the hunk, re-indented, may keep its own.)
            bare = lambda line: line.strip().removeprefix(b"- ")  # noqa: E731  (an entry moved onto a dash)
            moved = {brk for line, brk in a[first:i2] if bare(line) == bare(b[k][0])}
            # (A line that loses an alias to a copy below it ends as it did.)
            moved |= {brk for line, brk in a[first:i2] if content(line) and unaliased(line) == bare(b[k][0])}
            if copies:
                moved |= {brk for line, brk in a if line == b[k][0]} | ({a[first][1]} if first < i2 else set())
            nth = sum(content(line) for line, _ in b[j1:k])
            if content(b[k][0]) and nth < len(ends_read):
                moved.add(ends_read[nth])
            if b[k][1] not in (end, after, *moved) and b"" not in (b[k][1], end) and (
                    k == j1 or b[k][1] != b[k - 1][1]):
                return False
    return True
