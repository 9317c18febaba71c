"""What differs between two configurations: one change per path, in document order."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any, NamedTuple

from .paths import MISSING
from .var_main import TarvelVarMain

__all__ = ["Change", "MISSING", "diff"]


class Change(NamedTuple):
    """The value at `path` was `old` and is `new`; MISSING stands for no value."""
    path: str
    old: Any
    new: Any


def _entries(value: Any) -> dict[Any, Any]:
    if isinstance(value, TarvelVarMain):
        return dict(value._mv_items())
    return dict(value.items())


def _kind(value: Any) -> Any:
    # sections, lists and other values; two values of one kind are equal when == says so
    if isinstance(value, (TarvelVarMain, Mapping)):
        return Mapping
    if isinstance(value, (list, tuple)):
        return list
    return object


def _plain(value: Any) -> Any:
    from .files import plain_of

    return plain_of(value)


def _equal(a: Any, b: Any) -> bool:
    # Sections and lists compare as the stores compare them (a store equals a dict or a store
    # of the same content, a tuple a list of the same items), in one comparison each.
    kind = _kind(a)
    if kind is not _kind(b):
        return False
    if kind is list:
        return len(a) == len(b) and all(_equal(x, y) for x, y in zip(a, b))
    return bool(a == b)


def _walk(a: Any, b: Any, path: str, out: list[Change]) -> None:
    kind = _kind(a)
    if kind is Mapping and _kind(b) is Mapping:
        left, right = _entries(a), _entries(b)
        for key, value in left.items():
            other = right.get(key, MISSING)
            if other is MISSING:
                out.append(Change(f"{path}.{key}", _plain(value), MISSING))
            elif value is other or (type(value) is type(other) and value == other):
                continue  # the common case, decided in one comparison
            elif not _equal(value, other):
                _walk(value, other, f"{path}.{key}", out)
        for key, value in right.items():
            if key not in left:
                out.append(Change(f"{path}.{key}", MISSING, _plain(value)))
    elif kind is list and _kind(b) is list:
        for index in range(min(len(a), len(b))):
            if not _equal(a[index], b[index]):
                _walk(a[index], b[index], f"{path}.{index}", out)
        for index in range(len(b), len(a)):
            out.append(Change(f"{path}.{index}", _plain(a[index]), MISSING))
        for index in range(len(a), len(b)):
            out.append(Change(f"{path}.{index}", MISSING, _plain(b[index])))
    else:
        out.append(Change(path, _plain(a), _plain(b)))


def diff(a: Any, b: Any) -> list[Change]:
    """The changes that make `a` into `b` (stores or mappings): a key only in `b` has `old`
    MISSING, a key only in `a` has `new` MISSING; sections are compared key by key and lists
    item by item; equal values give no change."""
    for name, value in (("a", a), ("b", b)):
        if _kind(value) is not Mapping:
            raise TypeError(f"diff() argument {name!r} must be a store or a mapping, "
                            f"not {type(value).__name__}")
    changes: list[Change] = []
    if not _equal(a, b):
        _walk(a, b, "$", changes)
    return changes
