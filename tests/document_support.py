"""What the round-trip document tests share: loading with OPT_ROUND_TRIP and
reading an action's outcome as a value."""

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
