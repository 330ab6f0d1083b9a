"""What the round-trip document tests share: loading with OPT_ROUND_TRIP,
reading an action's outcome as a value, and comparing line breaks."""

import difflib
import re

import kestrine

RT = kestrine.OPT_ROUND_TRIP


def load(text, option=RT, **kw):
    return kestrine.loads(text, option=option, **kw)


def outcome(action):
    """The action's result, or its exception as "Class: message"."""
    try:
        return action()
    except Exception as exc:  # the class and the message are the outcome
        return f"{type(exc).__name__}: {exc}"


def kept_line_breaks(text, out, edited=()):
    """Whether every line of `text` that `out` keeps (the same content, not
    blank) keeps its line break, as far as a diff of the two tells.  Comment
    lines are left out: those of a node an edit replaced are written anew.
    So are the `edited` lines of `text` (0-based): new content written there
    may read like them and takes the line break of its entry."""
    def lines(t):
        parts = re.split(rb"(\r\n|\r|\n)", t)
        return list(zip(parts[0::2], parts[1::2] + [b""]))
    a, b = lines(text), lines(out)
    blocks = difflib.SequenceMatcher(None, [c for c, _ in a], [c for c, _ in b], autojunk=False).get_matching_blocks()
    return all(a[i + k][1] in (b[j + k][1], b"") for i, j, n in blocks for k in range(n)
               if a[i + k][0].strip() and not a[i + k][0].lstrip().startswith(b"#") and i + k not in edited)
