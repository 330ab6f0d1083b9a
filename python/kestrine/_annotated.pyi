# Loaded scalars under OPT_ANNOTATED (numbers with OPT_ANNOTATE_NUMBERS as
# well): the built-in value plus where it was written.
import sys
from typing import Any, Literal

from typing_extensions import Self, disjoint_base

__all__ = ["KestrineAnnotatedStr", "KestrineAnnotatedInt", "KestrineAnnotatedFloat"]

_Style = Literal["plain", "single", "double", "literal", "folded"]

class _AnnotatedScalar:
    @property
    def __line__(self) -> int: ...
    @property
    def __column__(self) -> int: ...
    @property
    def __file__(self) -> str | None: ...
    @property
    def __end_line__(self) -> int: ...
    @property
    def __end_column__(self) -> int: ...
    @property
    def __style__(self) -> _Style: ...
    @property
    def __source_tag__(self) -> str | None: ...
    @property
    def __source_target__(self) -> str | None: ...
    @property
    def __offset__(self) -> int: ...
    @property
    def __end_offset__(self) -> int: ...
    @property
    def is_secret(self) -> bool: ...
    @property
    def is_env_var(self) -> bool: ...
    @property
    def is_include(self) -> bool: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
    def __copy__(self) -> Self: ...
    def __deepcopy__(self, memo: dict[int, Any]) -> Self: ...

class KestrineAnnotatedStr(_AnnotatedScalar, str):
    def __new__(
        cls,
        value: object,
        line: int,
        column: int,
        file: str | None,
        end_line: int,
        end_column: int,
        style: _Style,
        source_tag: str | None,
        source_target: str | None,
        offset: int,
        end_offset: int,
    ) -> Self: ...

class _AnnotatedInt(_AnnotatedScalar, int):
    def __new__(
        cls,
        value: Any,
        line: int,
        column: int,
        file: str | None,
        end_line: int,
        end_column: int,
        style: _Style,
        source_tag: str | None,
        source_target: str | None,
        offset: int,
        end_offset: int,
    ) -> Self: ...

# Before 3.12 the instance dict of an int subclass changes its layout, so no
# class can derive from both it and another layout.
if sys.version_info >= (3, 12):
    class KestrineAnnotatedInt(_AnnotatedInt): ...

else:
    @disjoint_base
    class KestrineAnnotatedInt(_AnnotatedInt): ...

class KestrineAnnotatedFloat(_AnnotatedScalar, float):
    def __new__(
        cls,
        value: Any,
        line: int,
        column: int,
        file: str | None,
        end_line: int,
        end_column: int,
        style: _Style,
        source_tag: str | None,
        source_target: str | None,
        offset: int,
        end_offset: int,
    ) -> Self: ...
