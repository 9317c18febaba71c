"""Reading and setting values by "$." path, stepping through stores, dicts and lists.

`$.servers.0.host` names the key `host` of the first item of the list `servers`: a step
into a list is an index (negative counts from the end), a step into a store or dict is a
name. An index may also be written in brackets, `$.servers[0].host`. `$` alone is the whole
value. Text without the `$.` prefix is one variable name, whole, as the store's own
`_mv_get` reads it. Names containing dots or brackets cannot be reached by path.
"""

from __future__ import annotations

from typing import Any

from .var_main import TarvelVarMain

__all__ = ["MISSING", "PathError", "assign", "index_of", "leaf_paths", "lookup", "path_text", "place", "put",
           "remove", "steps"]

MISSING: Any = type("Missing", (), {"__repr__": lambda self: "MISSING"})()


class PathError(ValueError):
    """A path that is malformed or cannot be set."""


def steps(path: str) -> list[str] | None:
    """The steps of a "$." path, or None for a plain variable name."""
    if path == "$":
        return []
    if not path.startswith("$."):
        return None
    body = path[2:]
    if "[" in body:  # `hosts[0]` is `hosts.0`
        body = _brackets_as_steps(body)
    parts = body.split(".")
    if "" in parts:
        raise PathError(f"{path}: empty step in the path")
    return parts


def _brackets_as_steps(body: str) -> str:
    # Each `[<index>]` becomes `.<index>`; any other bracket stays as it is written. (No
    # regular expression: the command line would import `re` for this alone.)
    out: list[str] = []
    at = 0
    while (start := body.find("[", at)) >= 0:
        end = body.find("]", start + 1)
        if end > start and index_of(body[start + 1:end]) is not None:
            out += (body[at:start], ".", body[start + 1:end])
            at = end + 1
        else:
            out.append(body[at:start + 1])
            at = start + 1
    out.append(body[at:])
    return "".join(out)


def path_text(path: tuple[Any, ...]) -> str:
    """The "$." path of a tuple of keys and indices."""
    return "$." + ".".join(map(str, path)) if path else "$"


def index_of(step: str) -> int | None:
    """The list index a step names (ASCII digits, perhaps after a minus sign), or None."""
    digits = step[1:] if step.startswith("-") else step
    return int(step) if digits.isascii() and digits.isdigit() else None


def child(value: Any, step: str) -> Any:
    """The value one step below `value`, or MISSING."""
    if isinstance(value, TarvelVarMain):
        return value._mv_get(step, MISSING)
    if isinstance(value, dict):
        return value.get(step, MISSING)
    if isinstance(value, (list, tuple)):  # a frozen store holds tuples
        index = index_of(step)
        if index is None or not -len(value) <= index < len(value):
            return MISSING
        return value[index]
    return MISSING


def place(root: Any, path_steps: list[str]) -> tuple[Any, tuple[Any, ...]]:
    """The value that the steps reach below `root` (MISSING when one finds nothing) and its
    place: the keys, and list items as indices counted from the start, as a record keeps
    them; a key holding a dot stays one key."""
    value: Any = root
    where: list[Any] = []
    for step in path_steps:
        below = child(value, step)
        if below is MISSING:
            return MISSING, tuple(where)
        where.append(int(step) % len(value) if isinstance(value, (list, tuple)) else step)
        value = below
    return value, tuple(where)


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
    from .formats import kind_of

    return "a store" if isinstance(value, TarvelVarMain) else kind_of(value)


def assign(root: Any, path: str, value: Any) -> None:
    """Sets the value at the "$." `path` below `root` (a store, or a plain dict), making
    the sections that are missing on the way. A list item must exist to be replaced; a
    step through a value that is neither a section nor a list raises PathError. Into a
    store, the names and the value are checked as the store checks what it takes in (a key
    it reserves is refused, naming its whole path) before anything changes."""
    parts = steps(path)
    if parts is None:
        raise PathError(f"{path}: not a path (a path starts with '$.')")
    if not parts:
        raise PathError("$: the whole store cannot be set (merge into it instead)")
    if isinstance(root, TarvelVarMain):
        from ._store import check

        probe = value
        for step in reversed(parts):
            probe = {step: probe}
        check(root, probe)
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
    put(root, container, _list_index(container, step, trail) if isinstance(container, list) else step, value)


def put(root: Any, container: Any, key: Any, value: Any) -> None:
    """Sets `key` of `container` (a store, a dict, or a list by index) below `root` to `value`,
    converted as the store converts what it takes in; a store checks the key as item
    assignment does."""
    if isinstance(container, TarvelVarMain):
        store: Any = container
        if hasattr(type(store), "__setitem__"):
            store[key] = value  # the public class: converted as item assignment converts
        else:
            store._mv_set(key, value)
    elif isinstance(container, list):
        # Items of a store's lists are kept converted (dicts as stores), as the store
        # itself converts what it takes in.
        container[key] = root._set_list([value])[0] if isinstance(root, TarvelVarMain) else value
    else:
        container[key] = value


def _list_index(container: list[Any], step: str, trail: str) -> int:
    index = index_of(step)
    if index is None:
        raise PathError(f"{trail}.{step}: {trail} is a list, so the step must be an index")
    if not -len(container) <= index < len(container):
        raise PathError(f"{trail}.{step}: no such item in a list of {len(container)}")
    return index


def remove(root: Any, path: str) -> None:
    """Removes the variable `path` names, or the value at the "$." `path` (a list item
    included) below `root`; PathError when there is nothing there."""
    parts = steps(path)
    if parts is None:
        parts = [path]
    if not parts:
        raise PathError("$: the whole store cannot be removed")
    container: Any = root
    trail = "$"
    for step in parts[:-1]:
        container, trail = child(container, step), f"{trail}.{step}"
        if container is MISSING:
            raise PathError(f"{trail}: no such path")
    last = parts[-1]
    if child(container, last) is MISSING:
        raise PathError(f"{trail}.{last}: no such path")
    if isinstance(container, list):
        del container[_list_index(container, last, trail)]
    elif isinstance(container, TarvelVarMain) and not hasattr(type(container), "__delitem__"):
        container._mv_pop(last)
    else:
        del container[last]


def leaf_paths(value: Any, path: str = "$") -> list[str]:
    """The "$." path of every value below `value` that holds no other (an empty section or
    list counts as one), in the order the data holds them."""
    found: list[str] = []
    stack: list[tuple[str, Any]] = [(path, value)]
    while stack:
        where, item = stack.pop()
        entries: list[tuple[Any, Any]]
        if isinstance(item, TarvelVarMain):
            entries = list(item._mv_items())
        elif isinstance(item, dict):
            entries = list(item.items())
        elif isinstance(item, (list, tuple)):
            entries = list(enumerate(item))
        else:
            found.append(where)
            continue
        if not entries:
            found.append(where)
        stack.extend((f"{where}.{key}", below) for key, below in reversed(entries))
    return found
