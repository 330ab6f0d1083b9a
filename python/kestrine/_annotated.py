"""Annotated scalars: str, int and float values that remember their source.

With ``OPT_ANNOTATED`` the loader returns strings as
:class:`KestrineAnnotatedStr` and, with ``OPT_ANNOTATE_NUMBERS`` as well,
integers and floats as :class:`KestrineAnnotatedInt` and
:class:`KestrineAnnotatedFloat`. They behave exactly like the built-in value
(equality, hashing, ``repr``, arithmetic, string methods: all results are
plain built-in objects) and add read-only metadata in the same attributes as
the annotated dict and list: ``__line__``, ``__column__``, ``__file__``,
``__end_line__``, ``__end_column__``, ``__offset__``, ``__end_offset__``,
``__source_tag__``, ``__source_target__``, plus the scalar's ``__style__``
("plain", "single", "double", "literal" or "folded") and the predicates
``is_secret``, ``is_env_var`` and ``is_include``.

The loader creates one object per annotated scalar, so the metadata is kept
in one object stored in a slot (in the instance dict for ``int``, whose
subclasses cannot have slots): a tuple when constructed from Python, a
compact native record read by index the same way when loaded.
"""

import copy

__all__ = ["KestrineAnnotatedStr", "KestrineAnnotatedInt", "KestrineAnnotatedFloat"]

_INCLUDE_TAGS = frozenset((
    "!include",
    "!include_dir_list",
    "!include_dir_named",
    "!include_dir_merge_list",
    "!include_dir_merge_named",
))

# Positions in the metadata tuple, which holds the constructor arguments
# after the value, in their order.
_LINE, _COLUMN, _FILE, _END_LINE, _END_COLUMN, _STYLE, _SOURCE_TAG, \
    _SOURCE_TARGET, _OFFSET, _END_OFFSET = range(10)


def _field(index, doc=None):
    def get(self):
        return self._meta[index]
    return property(get, doc=doc)


def _scalar_new(base, owner):
    """The `__new__` of the annotated scalar class `owner`, a subclass of the
    built-in type `base`."""
    base_new = base.__new__

    def __new__(cls, value, line, column, file, end_line, end_column, style,
                source_tag, source_target, offset, end_offset):
        self = base_new(cls, value)
        self._meta = (line, column, file, end_line, end_column, style,
                      source_tag, source_target, offset, end_offset)
        return self

    __new__.__qualname__ = owner + ".__new__"
    return __new__


class _AnnotatedScalar:
    """Metadata accessors shared by the three annotated scalar classes."""

    __slots__ = ()

    # Converts an instance to the exact built-in value; set by each class.
    _plain = None

    __line__ = _field(_LINE, "1-based line of the scalar's first character.")
    __column__ = _field(_COLUMN, "1-based column of the scalar's first character.")
    __file__ = _field(_FILE, "Source file the scalar came from, or None.")
    __end_line__ = _field(
        _END_LINE, "1-based line of the position just past the scalar's last character.")
    __end_column__ = _field(
        _END_COLUMN, "1-based column of the position just past the scalar's last character.")
    __style__ = _field(
        _STYLE, 'How the scalar was written: "plain", "single", "double", '
                '"literal" or "folded".')
    __source_tag__ = _field(
        _SOURCE_TAG, "The configuration or custom tag that produced the value "
                     '("!secret", "!env_var", an include tag, a custom tag), or None.')
    __source_target__ = _field(
        _SOURCE_TARGET, "The directive argument that produced the value (secret "
                        "name, include path, variable specification), or None.")
    __offset__ = _field(_OFFSET, "0-based byte offset of the scalar's first character.")
    __end_offset__ = _field(
        _END_OFFSET, "0-based byte offset just past the scalar's last character.")

    @property
    def is_secret(self):
        """Whether this node's value was produced by a `!secret` directive."""
        return self._meta[_SOURCE_TAG] == "!secret"

    @property
    def is_env_var(self):
        """Whether this node's value was produced by an `!env_var` directive."""
        return self._meta[_SOURCE_TAG] == "!env_var"

    @property
    def is_include(self):
        """Whether this node's value was produced by any `!include` directive."""
        return self._meta[_SOURCE_TAG] in _INCLUDE_TAGS

    def __reduce__(self):
        # The value goes back as the exact built-in type, so that the
        # reconstruction does not depend on this class's own conversions.
        args = (self._plain(), *self._meta)
        state = getattr(self, "__dict__", None)
        if state:
            state = {k: v for k, v in state.items() if k != "_meta"} or None
        return (type(self), args, state) if state else (type(self), args)

    # The objects are immutable, so a copy may share the original; a
    # subclass that adds attributes of its own is copied through
    # __reduce__ instead.
    def __copy__(self):
        if type(self) in _EXACT:
            return self
        return _reconstruct(self, None)

    def __deepcopy__(self, memo):
        if type(self) in _EXACT:
            return self
        return _reconstruct(self, memo)


def _reconstruct(obj, memo):
    # The constructor arguments are immutable; only a subclass's own
    # attributes need copying.
    cls, args, *state = obj.__reduce__()
    new = cls(*args)
    if state:
        attrs = state[0] if memo is None else copy.deepcopy(state[0], memo)
        new.__dict__.update(attrs)
    return new


class KestrineAnnotatedStr(_AnnotatedScalar, str):
    """KestrineAnnotatedStr(value, line, column, file, end_line, end_column,
    style, source_tag, source_target, offset, end_offset)

    A str carrying the source location of a loaded scalar; constructible,
    and survives copy, deepcopy and pickle with its metadata.
    """

    __slots__ = ("_meta",)
    __module__ = "kestrine"
    _plain = str.__str__
    __new__ = _scalar_new(str, "KestrineAnnotatedStr")


class KestrineAnnotatedInt(_AnnotatedScalar, int):
    """KestrineAnnotatedInt(value, line, column, file, end_line, end_column,
    style, source_tag, source_target, offset, end_offset)

    An int carrying the source location of a loaded scalar; constructible,
    and survives copy, deepcopy and pickle with its metadata.
    """

    __module__ = "kestrine"
    _plain = int.__index__
    __new__ = _scalar_new(int, "KestrineAnnotatedInt")


class KestrineAnnotatedFloat(_AnnotatedScalar, float):
    """KestrineAnnotatedFloat(value, line, column, file, end_line, end_column,
    style, source_tag, source_target, offset, end_offset)

    A float carrying the source location of a loaded scalar; constructible,
    and survives copy, deepcopy and pickle with its metadata.
    """

    __slots__ = ("_meta",)
    __module__ = "kestrine"
    _plain = float.__float__
    __new__ = _scalar_new(float, "KestrineAnnotatedFloat")


_EXACT = frozenset((KestrineAnnotatedStr, KestrineAnnotatedInt, KestrineAnnotatedFloat))
