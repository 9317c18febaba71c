"""What differs between two configurations: one change per path, in document order."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any, NamedTuple

from ._store import equal
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
    # sections, sequences (as a store holds lists, sets and tuples: as lists) and other values
    if isinstance(value, (TarvelVarMain, Mapping)):
        return Mapping
    if isinstance(value, (list, tuple, set)):
        return list
    return object


def _plain(value: Any) -> Any:
    from .files import plain_of

    return plain_of(value)


def _walk(a: Any, b: Any, out: list[Change]) -> None:
    # Iterative, in document order: the work left is a stack of changes to report and pairs
    # to compare, pushed in reverse. Whether two values are equal is asked of the stores' own
    # comparison, which bounds its depth natively and agrees with `==` of stores.
    stack: list[Change | tuple[str, Any, Any]] = [("$", a, b)]
    while stack:
        entry = stack.pop()
        if isinstance(entry, Change):
            out.append(entry)
            continue
        path, left, right = entry
        work: list[Change | tuple[str, Any, Any]] = []
        kind = _kind(left)
        if kind is Mapping and _kind(right) is Mapping:
            left_entries, right_entries = _entries(left), _entries(right)
            for key, value in left_entries.items():
                other = right_entries.get(key, MISSING)
                if other is MISSING:
                    work.append(Change(f"{path}.{key}", _plain(value), MISSING))
                elif not equal(value, other):
                    work.append((f"{path}.{key}", value, other))
            for key, value in right_entries.items():
                if key not in left_entries:
                    work.append(Change(f"{path}.{key}", MISSING, _plain(value)))
        elif kind is list and _kind(right) is list:
            left_items, right_items = list(left), list(right)
            for index in range(min(len(left_items), len(right_items))):
                if not equal(left_items[index], right_items[index]):
                    work.append((f"{path}.{index}", left_items[index], right_items[index]))
            for index in range(len(right_items), len(left_items)):
                work.append(Change(f"{path}.{index}", _plain(left_items[index]), MISSING))
            for index in range(len(left_items), len(right_items)):
                work.append(Change(f"{path}.{index}", MISSING, _plain(right_items[index])))
        else:
            work.append(Change(path, _plain(left), _plain(right)))
        stack.extend(reversed(work))


def diff(a: Any, b: Any) -> list[Change]:
    """The changes that make `a` into `b` (stores or mappings): a key only in `b` has `old`
    MISSING, a key only in `a` has `new` MISSING; sections are compared key by key and lists
    item by item; equal values give no change."""
    for name, value in (("a", a), ("b", b)):
        if _kind(value) is not Mapping:
            raise TypeError(f"diff() argument {name!r} must be a store or a mapping, "
                            f"not {type(value).__name__}")
    # No comparison of the whole first: the walk compares each entry once, and finds nothing
    # for equal documents, at the same cost.
    changes: list[Change] = []
    _walk(a, b, changes)
    return changes
