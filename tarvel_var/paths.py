"""Reading and setting values by "$." path, stepping through stores, dicts and lists.

`$.servers.0.host` names the key `host` of the first item of the list `servers`: a step
into a list is an index (negative counts from the end), a step into a store or dict is a
name. `$` alone is the whole value. Text without the `$.` prefix is one variable name,
whole, as the store's own `_mv_get` reads it. Names containing dots cannot be reached by
path.
"""

from __future__ import annotations

import re
from typing import Any

from .var_main import TarvelVarMain

__all__ = ["MISSING", "PathError", "assign", "lookup", "steps"]

MISSING: Any = type("Missing", (), {"__repr__": lambda self: "MISSING"})()
_INDEX = re.compile(r"-?[0-9]+")


class PathError(ValueError):
    """A path that is malformed or cannot be set."""


def steps(path: str) -> list[str] | None:
    """The steps of a "$." path, or None for a plain variable name."""
    if path == "$":
        return []
    if not path.startswith("$."):
        return None
    parts = path[2:].split(".")
    if "" in parts:
        raise PathError(f"{path}: empty step in the path")
    return parts


def _index(step: str) -> int | None:
    return int(step) if _INDEX.fullmatch(step) else None


def child(value: Any, step: str) -> Any:
    """The value one step below `value`, or MISSING."""
    if isinstance(value, TarvelVarMain):
        return value._mv_get(step, MISSING)
    if isinstance(value, dict):
        return value.get(step, MISSING)
    if isinstance(value, list):
        index = _index(step)
        if index is None or not -len(value) <= index < len(value):
            return MISSING
        return value[index]
    return MISSING


def lookup(root: Any, path: str, default: Any = MISSING) -> Any:
    """The value at `path` below `root` (a store or plain data), or `default`."""
    parts = steps(path)
    if parts is None:
        parts = [path]
    value = root
    for step in parts:
        value = child(value, step)
        if value is MISSING:
            return default
    return value


def _describe(value: Any) -> str:
    from .files import kind_of

    return "a store" if isinstance(value, TarvelVarMain) else kind_of(value)


def assign(root: Any, path: str, value: Any) -> None:
    """Sets the value at the "$." `path` below `root` (a store, or a plain dict), making
    the sections that are missing on the way. A list item must exist to be replaced; a
    step through a value that is neither a section nor a list raises PathError."""
    parts = steps(path)
    if parts is None:
        raise PathError(f"{path}: not a path (a path starts with '$.')")
    if not parts:
        raise PathError("$: the whole store cannot be set (merge into it instead)")
    container: Any = root
    trail = "$"
    for step in parts[:-1]:
        below = child(container, step)
        if below is MISSING:
            if isinstance(container, list):
                raise PathError(f"{trail}.{step}: no such item in a list of {len(container)}")
            _put(root, container, step, {}, trail)
            below = child(container, step)
        elif not isinstance(below, (TarvelVarMain, dict, list)):
            raise PathError(f"{trail}.{step} is {_describe(below)}, not a section or a list")
        container, trail = below, f"{trail}.{step}"
    _put(root, container, parts[-1], value, trail)


def _put(root: Any, container: Any, step: str, value: Any, trail: str) -> None:
    if isinstance(container, TarvelVarMain):
        container._mv_set(step, value)
    elif isinstance(container, dict):
        container[step] = value
    else:
        index = _index(step)
        if index is None:
            raise PathError(f"{trail}.{step}: {trail} is a list, so the step must be an index")
        if not -len(container) <= index < len(container):
            raise PathError(f"{trail}.{step}: no such item in a list of {len(container)}")
        # Items of a store's lists are kept converted (dicts as stores), as the store
        # itself converts what it takes in.
        is_store = isinstance(root, TarvelVarMain)
        container[index] = root._set_list([value])[0] if is_store else value
