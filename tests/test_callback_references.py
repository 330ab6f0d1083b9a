"""References and memory around every callback into Python code.

Each callback runs thousands of times, returning a value and raising: every
object the callback was given and every object it returned must be held by
the test alone once the call is over, and neither the interpreter's objects
nor its traced memory may grow with the number of calls.  A reference kept
by mistake (an argument not released, a result released twice) shows here
long before it shows as a leak or a crash in a user's process."""

import gc
import sys
import tracemalloc

import pytest

import kestrine
from kestrine import KestrineScalar

NUM = kestrine.OPT_ANNOTATED | kestrine.OPT_ANNOTATE_NUMBERS
CALLS = 400


class Opaque:
    """An object no writer knows: `default`, `serializers` and `represent`
    are asked about it."""


class Made:
    """What a callback returns: a fresh object per call, so that a reference
    kept to it shows in its count."""


class Refused(Exception):
    pass


TAGGED = b"a: !t text\nb: [!t 12, !t {k: v}]\nc: &x !t [1, two]\nd: *x\n"
MODELINE = b"# yaml-language-server: $schema=conf.json\na: 1\n"
SECRET = b"a: !secret kst_missing_name\nb: [!secret kst_missing_name]\n"
ENV_VAR = b"a: !env_var KST_MISSING_VARIABLE\nb: !env_var KST_MISSING_VARIABLE\n"
INPUTS = [Opaque(), {"k": Opaque(), "s": "text", "n": [1, 2.5, None]}]


def _represent(obj, made):
    return KestrineScalar(f"opaque {id(made)}") if isinstance(obj, Opaque) else None


# name: (call with the callback, what the callback returns given its
# arguments and a fresh Made).  Each call passes the callback at least once.
CASES = {
    "tag_handler": (lambda cb, d: kestrine.loads(TAGGED, tag_handler=cb), lambda args, made: made),
    "tag_handler annotated": (lambda cb, d: kestrine.loads(TAGGED, option=NUM, tag_handler=cb),
                              lambda args, made: made),
    "tag_handler loads_all": (lambda cb, d: kestrine.loads_all(TAGGED + b"---\n" + TAGGED, tag_handler=cb),
                              lambda args, made: made),
    "tags": (lambda cb, d: kestrine.loads(TAGGED, tags={"!t": cb}), lambda args, made: made),
    "tags annotated": (lambda cb, d: kestrine.loads_all(TAGGED, option=NUM, tags={"!t": cb}),
                       lambda args, made: made),
    "default": (lambda cb, d: kestrine.dumps(INPUTS, default=cb), lambda args, made: [id(made), "made"]),
    "default to_json": (lambda cb, d: kestrine.to_json(INPUTS, default=cb), lambda args, made: {"m": id(made)}),
    "serializers": (lambda cb, d: kestrine.dumps(INPUTS, serializers={Opaque: cb}),
                    lambda args, made: ("!opaque", [id(made)])),
    "represent": (lambda cb, d: kestrine.dumps(INPUTS, represent=cb), lambda args, made: _represent(args[0], made)),
    "schema_resolver": (lambda cb, d: kestrine.loads(MODELINE, schema="auto", schema_resolver=cb),
                        lambda args, made: {"type": "object", "title": str(id(made))}),
    "on_missing_secret": (lambda cb, d: kestrine.loads(SECRET, option=kestrine.OPT_SECRETS, include_dir=d,
                                                       on_missing_secret=cb), lambda args, made: made),
    "on_missing_env_var": (lambda cb, d: kestrine.loads(ENV_VAR, option=kestrine.OPT_ENV_VAR,
                                                        on_missing_env_var=cb), lambda args, made: made),
}


class Callback:
    """Keeps every argument it is given and every object it hands back."""

    def __init__(self, answer, raising):
        self.answer, self.raising = answer, raising
        self.given, self.made = [], []

    def __call__(self, *args):
        self.given.extend(args)
        made = Made()
        self.made.append(made)
        if self.raising:
            error = Refused(id(made))
            self.made.append(error)
            raise error
        result = self.answer(args, made)
        self.made.append(result)
        return result


def _run(call, callback, folder):
    try:
        result = call(callback, folder)
    except Refused as error:
        assert callback.raising
        # The traceback holds the callback's frame, and so its arguments.
        error.__traceback__ = error.__context__ = None
        return
    assert not callback.raising
    del result


def _kept(objects, inputs):
    """The objects (other than the test's own inputs, whose counts are
    compared separately) that something besides the test still holds."""
    # What the count of an object held by nothing else reads, measured on a
    # fresh one: interpreters differ in the references a call's arguments
    # and the loop take.
    unheld = _references_beyond_list([object()])[0][1]
    return [f"{type(o).__name__} {extra - unheld}" for o, extra in _references_beyond_list(objects)
            if id(o) not in inputs and extra != unheld and not _shared_constant(o)]


def _references_beyond_list(objects):
    """Each distinct object of `objects` with its reference count less the
    references `objects` itself holds."""
    held = {}
    for o in objects:
        held.setdefault(id(o), [o, 0])[1] += 1
    o = None  # the loop variable would hold the last object once more
    return [(o, sys.getrefcount(o) - times) for o, times in held.values()]


def _shared_constant(o):
    # Small ints, None, bools and strings of at most one character are
    # shared by the interpreter itself.
    return o is None or isinstance(o, bool) or (type(o) is int and -5 <= o <= 256) \
        or (type(o) is str and len(o) <= 1)


def _inputs():
    out, pending = {}, [INPUTS]
    while pending:
        o = pending.pop()
        if not _shared_constant(o):
            out[id(o)] = o
        pending += [*o.keys(), *o.values()] if isinstance(o, dict) else o if isinstance(o, list) else []
    return out


@pytest.mark.parametrize("raising", [False, True], ids=["returns", "raises"])
@pytest.mark.parametrize("name", list(CASES))
def test_callbacks_keep_no_reference_and_no_memory(name, raising, tmp_path):
    call, answer = CASES[name]
    inputs = _inputs()
    gc.collect()  # what earlier tests left holds the inputs no longer
    counts = {key: sys.getrefcount(o) for key, o in inputs.items()}

    # One call: every argument and result is released when the call is over.
    callback = Callback(answer, raising)
    _run(call, callback, str(tmp_path))
    assert callback.given and callback.made, "the callback was not called"
    assert _kept(callback.given, inputs) == [], "arguments kept"
    assert _kept(callback.made, inputs) == [], "results kept"
    callback.given.clear()
    assert {key: sys.getrefcount(o) for key, o in inputs.items()} == counts, "inputs' counts changed"

    # Many calls: neither objects nor traced memory grow with their number.
    callback = Callback(answer, raising)
    for _ in range(CALLS // 4):  # caches and free lists settle first
        _run(call, callback, str(tmp_path))
    callback.given.clear()
    callback.made.clear()
    gc.collect()
    objects = len(gc.get_objects())
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(CALLS):
            _run(call, callback, str(tmp_path))
            callback.given.clear()
            callback.made.clear()
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    assert len(gc.get_objects()) - objects < CALLS // 10, "objects accumulate"
    # A single object kept per call is at least 16 bytes a call.
    assert grown < CALLS * 4, f"{grown} bytes kept over {CALLS} calls"
    assert {key: sys.getrefcount(o) for key, o in inputs.items()} == counts, "inputs' counts changed"
