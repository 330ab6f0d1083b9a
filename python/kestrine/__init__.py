"""kestrine: fast, lossless YAML for Python with a native core.

The public API (``loads``, ``loads_all``, ``dumps``, ``to_json``,
``schema_ref``, ``yaml_version``, ``dump_includes``, ``dump_includes_map``,
the ``OPT_*`` flags and the ``Kestrine*`` classes) lives in the extension
module ``kestrine._kestrine`` and is re-exported here, so that the classes,
whose module is "kestrine", are found by ``pickle``. Exceptions are in
:mod:`kestrine.exceptions` and are also reachable from the package.
"""

# The annotated scalar classes and the exceptions are defined before the
# native module is imported: the native module looks them up by name in
# this package and in kestrine.exceptions.
from . import exceptions
from ._annotated import KestrineAnnotatedFloat, KestrineAnnotatedInt, KestrineAnnotatedStr
from .exceptions import (
    KestrineCircularIncludeError,
    KestrineComplexKeyError,
    KestrineDecodeError,
    KestrineDuplicateKeyError,
    KestrineEncodeError,
    KestrineEnvVarError,
    KestrineError,
    KestrineIncludeConfinementError,
    KestrineIncludeDepthError,
    KestrineIncludeError,
    KestrineIncludeNotFoundError,
    KestrineParseError,
    KestrineSchemaError,
    KestrineSecretNotFoundError,
    KestrineUnserializableError,
)
from . import _kestrine

__all__ = list(_kestrine.__all__)
globals().update({name: getattr(_kestrine, name) for name in __all__})
