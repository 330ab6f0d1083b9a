"""Exceptions raised by kestrine.

Every exception derives from :class:`KestrineError`, and also from the
built-in exception that code not written for kestrine would catch for the
same kind of failure (``ValueError`` for bad input, ``TypeError`` for an
object that cannot be dumped, ``FileNotFoundError`` for a missing include,
``LookupError`` for an undefined secret or environment variable).

``str(exc)`` is the message. Where the failure has a place in the input the
message ends with "at line L, column C" and the position is also available
as attributes:

``file``
    name of the file the error occurred in, or ``None`` for the top-level
    text;
``line``, ``column``
    1-based position;
``include_stack``
    for errors inside included files: a list of ``(file, line)`` pairs, the
    chain of includes that led to the file, with 1-based lines;
``schema_path``
    for schema validation errors: the path of the failing value, e.g.
    ``"$.servers[1].port"``.

Attributes that do not apply to an error are ``None``. The exceptions can be
pickled; the attributes survive.
"""

__all__ = [
    "KestrineError",
    "KestrineParseError",
    "KestrineDuplicateKeyError",
    "KestrineComplexKeyError",
    "KestrineDecodeError",
    "KestrineEncodeError",
    "KestrineUnserializableError",
    "KestrineIncludeError",
    "KestrineIncludeNotFoundError",
    "KestrineCircularIncludeError",
    "KestrineIncludeDepthError",
    "KestrineIncludeConfinementError",
    "KestrineSecretNotFoundError",
    "KestrineEnvVarError",
    "KestrineSchemaError",
]


class KestrineError(Exception):
    """Base class of every exception raised by kestrine.

    Takes the message as its only positional argument. The location
    attributes may also be given as keyword arguments, which is convenient
    when raising these errors from callbacks or tests.
    """

    file: str | None = None
    line: int | None = None
    column: int | None = None
    include_stack: list[tuple[str, int]] | None = None
    schema_path: str | None = None

    def __init__(self, *args: object, file: str | None = None, line: int | None = None,
                 column: int | None = None, include_stack: list[tuple[str, int]] | None = None,
                 schema_path: str | None = None) -> None:
        super().__init__(*args)
        # Only what was given goes into the instance dict: the rest falls
        # back to the class defaults and stays out of the pickled state.
        if file is not None:
            self.file = file
        if line is not None:
            self.line = line
        if column is not None:
            self.column = column
        if include_stack is not None:
            self.include_stack = include_stack
        if schema_path is not None:
            self.schema_path = schema_path


# Loading: malformed input.

class KestrineParseError(KestrineError, ValueError):
    """The input is not valid YAML, or exceeds a nesting or alias limit."""


class KestrineDuplicateKeyError(KestrineParseError):
    """A mapping holds the same key twice and duplicates are refused."""


class KestrineComplexKeyError(KestrineParseError):
    """A mapping key is a collection and complex keys are refused."""


class KestrineDecodeError(KestrineError, ValueError):
    """The input bytes are not valid UTF-8, UTF-16 or UTF-32, or a loaded
    mapping key cannot be used as a Python dict key."""


# Dumping.

class KestrineEncodeError(KestrineError, ValueError):
    """A value cannot be written as YAML or JSON as it stands."""


class KestrineUnserializableError(KestrineEncodeError, TypeError):
    """An object is of a type that kestrine does not know how to dump."""


# Configuration directives.

class KestrineIncludeError(KestrineError):
    """An ``!include`` family directive failed.

    Base class of the more specific include errors; raised itself for
    failures that have no class of their own (an unreadable directory, a
    malformed directive argument).
    """


class KestrineIncludeNotFoundError(KestrineIncludeError, FileNotFoundError):
    """An included file or directory does not exist."""


class KestrineCircularIncludeError(KestrineIncludeError):
    """A file includes itself, directly or through other files."""


class KestrineIncludeDepthError(KestrineIncludeError):
    """Includes are nested deeper than allowed."""


class KestrineIncludeConfinementError(KestrineIncludeError):
    """An include path resolves outside the include root directory."""


class KestrineSecretNotFoundError(KestrineError, LookupError):
    """A ``!secret`` names a secret that no ``secrets.yaml`` defines."""


class KestrineEnvVarError(KestrineError, LookupError):
    """An ``!env_var`` names an unset variable and gives no default."""


# Validation.

class KestrineSchemaError(KestrineError, ValueError):
    """The loaded document does not satisfy its JSON Schema."""
