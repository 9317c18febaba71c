"""Where each value of a composed store was set.

A composed store is an instance of a "composed variant" of its class: a subclass of the same
name and layout. Its record is kept beside it, by the store's identity, and copies and pickles
of it carry the record, while `to_dict()`, `==` and every read go on as for any store; a store
that was not composed holds nothing.
"""

from __future__ import annotations

import weakref
from typing import Any, NamedTuple

from .variants import variant_class
from .paths import MISSING, path_text, place
from .paths import steps as path_steps
from ._store import equal
from .var_main import TarvelVarMain

__all__ = ["Layer", "Origin", "Record", "carry", "composed_class", "is_composed", "origin", "origin_items",
           "origins", "remember"]

Path = tuple[Any, ...]
_SLOT = "__tarvel_origins__"


class Origin(NamedTuple):
    """Where a value was set: a file (`source`, and the 1-based `line` where the format can
    tell it), an environment variable or an override (`detail`), or a mapping argument."""
    source: str
    line: int | None = None
    detail: str | None = None

    def __str__(self) -> str:
        if self.line is not None:
            return f"{self.source}:{self.line}"
        return f"{self.source} {self.detail}" if self.detail is not None else self.source


class Layer:
    """One source of values, and how it names the place of each."""

    def __init__(self, origin: Origin, lines: dict[Path, int] | None = None) -> None:
        self.origin, self.lines = origin, lines or {}

    def at(self, path: Path) -> Origin:
        if not self.lines:
            return self.origin
        for end in range(len(path), 0, -1):
            line = self.lines.get(path[:end])
            if line is not None:
                return self.origin._replace(line=line)
        return self.origin


class Record:
    """Which layer set each place of the document whole (`setter`), and which last merged
    into it or set something below it (`touched`), as a tree that follows the document's
    own: replacing a value drops what was recorded below it."""

    __slots__ = ("setter", "touched", "below")

    def __init__(self, setter: Layer | None = None) -> None:
        self.setter: Layer | None = setter
        self.touched: Layer | None = None
        self.below: dict[Any, Record] = {}

    def __reduce__(self) -> Any:
        return _restore_record, (self.setter, self.touched, self.below)

    def copy(self) -> Record:
        """A copy of the tree whose places can change apart; the layers, which never change,
        are shared (copying each would copy its table of lines as often)."""
        top = Record(self.setter)
        stack = [(self, top)]
        while stack:  # a loop: records nest as deep as documents do
            old, new = stack.pop()
            new.touched = old.touched
            for key, below in old.below.items():
                copied = new.below[key] = Record(below.setter)
                stack.append((below, copied))
        return top


def _restore_record(setter: Layer | None, touched: Layer | None, below: dict[Any, Record]) -> Record:
    record = Record(setter)
    record.touched, record.below = touched, below
    return record


# -- the composed variant of a class ---------------------------------------------------------

# The record of each composed store, by its id while it lives: kept beside the store rather
# than in it, so that a store becomes composed by a change of class alone, and reads, writes,
# to_dict() and == never meet it.
_records: dict[int, tuple[weakref.ref[Any], tuple[Record, dict[str, Any]]]] = {}


def remember(store: Any, recorded: tuple[Record, dict[str, Any]]) -> None:
    key = id(store)

    def forget(_: Any, key: int = key) -> None:
        entry = _records.get(key)
        if entry is not None and entry[0]() is None:
            del _records[key]

    _records[key] = (weakref.ref(store, forget), recorded)


def is_composed(store: Any) -> bool:
    return _recorded(store) is not None


def _recorded(store: Any) -> tuple[Record, dict[str, Any]] | None:
    entry = _records.get(id(store))
    return entry[1] if entry is not None and entry[0]() is store else None


def composed_class(base: type) -> type:
    """The composed variant of `base` (made once per class)."""
    return variant_class(base, composed_class, {"__getstate__": _getstate, "__setstate__": _setstate})


def _getstate(self: Any) -> tuple[dict[str, Any], dict[str, Any]]:
    return dict(vars(self)), {_SLOT: _recorded(self)}


def _setstate(self: Any, state: tuple[dict[str, Any], dict[str, Any]]) -> None:
    variables, extra = state
    vars(self).update(variables)
    if extra.get(_SLOT) is not None:
        remember(self, extra[_SLOT])


def carry(source: Any, result: Any) -> None:
    """Gives `result`, the checked copy of `source` that a schema made, the origins of
    `source`: the same where the values are, "default" where the schema supplied one. Values
    that the program changed in `source` since composing stay unclaimed."""
    recorded = _recorded(source)
    if recorded is None:
        return
    record, snapshot = recorded[0].copy(), recorded[1]
    before = source.to_dict()
    after = result.to_dict()
    _mark_defaults(record, before, after)
    # unchanged since composing: what the schema made of each value is what composing left;
    # else the old snapshot, as a copy of its own (a later override writes into it)
    if not equal(before, snapshot):
        import copy

        after = copy.deepcopy(snapshot)
    remember(result, (record, after))


def note_override(store: Any, path: str | None, text: str) -> None:
    """Records that the value at the "$." `path` of a composed store was just set by the
    override `text` (a command line's --set); for any other store, or no path, nothing."""
    recorded = _recorded(store)
    if recorded is None or path is None:
        return
    from .files import plain_of

    below, keys = place(store, path_steps(path) or [])
    if below is MISSING or not keys:
        return
    record, held = recorded
    layer = Layer(Origin("override", detail=text))
    node = record
    for key in keys[:-1]:
        node.touched = layer
        node = node.below.setdefault(key, Record())
        inner = _below(held, key)
        if inner is MISSING and isinstance(held, dict):
            inner = held[key] = {}  # a section the override made
        held = inner
    node.touched = layer
    node.below[keys[-1]] = Record(layer)
    if isinstance(held, dict) or (isinstance(held, list) and keys[-1] < len(held)):
        held[keys[-1]] = plain_of(below)


DEFAULT = Layer(Origin("default"))


def _mark_defaults(record: Record, before: Any, after: Any) -> None:
    stack: list[tuple[Record, Any, Any]] = [(record, before, after)]
    while stack:
        node, old, new = stack.pop()
        pairs: list[tuple[Any, Any]]
        if isinstance(new, dict) and isinstance(old, dict):
            pairs = list(new.items())
        elif isinstance(new, list) and isinstance(old, list):
            pairs = list(enumerate(new))
        else:
            continue
        for key, value in pairs:
            was = _below(old, key)
            if was is MISSING:
                node.below[key] = Record(DEFAULT)
            else:
                stack.append((node.below.setdefault(key, Record()), was, value))


# -- asking where a value came from ----------------------------------------------------------

def _same(value: Any, snapshot: Any) -> bool:
    """Whether `value` is still what composing left there: a section or list with all it held
    (a section replaced or emptied is not), a value of the same type and equal, or the very
    object (a NaN is equal to nothing)."""
    if snapshot is MISSING:
        return False
    if value is snapshot:
        return True
    if isinstance(value, TarvelVarMain):
        return isinstance(snapshot, dict) and equal(value, snapshot)
    if isinstance(value, (list, tuple)):
        return isinstance(snapshot, list) and equal(value, snapshot)
    return type(value) is type(snapshot) and bool(value == snapshot)


def origin(store: Any, path: str) -> Origin | None:
    """Where the value at `path` of a composed store was set; None for a store that was not
    composed, or a value the program changed since. KeyError when nothing is at `path`."""
    steps = path_steps(path if path.startswith("$") else "$." + path)
    if steps is None:
        raise KeyError(path)
    value, typed = place(store, steps)
    if value is MISSING:
        raise KeyError(path)
    recorded = _recorded(store)
    if recorded is None:
        return None
    node: Record | None
    node, snapshot = recorded
    setter = node.setter
    for key in typed:
        snapshot = _below(snapshot, key)
        node = node.below.get(key) if node is not None else None
        if node is not None and node.setter is not None:
            setter = node.setter
    layer = (node.touched or node.setter or setter) if node is not None else setter
    if layer is None or not _same(value, snapshot):
        return None
    return (setter if layer is setter else layer).at(tuple(typed))


def _below(snapshot: Any, key: Any) -> Any:
    if isinstance(snapshot, dict):
        return snapshot.get(key, MISSING)
    if isinstance(snapshot, list) and isinstance(key, int) and key < len(snapshot):
        return snapshot[key]
    return MISSING


def origins(store: Any) -> dict[str, Origin | None]:
    """Every leaf's "$." path in document order, with its origin()."""
    walked = _walked(store, True)
    if walked is None:
        return {path: where for _, path, _, where in _origin_items(store, _recorded(store))}
    return walked  # type: ignore[no-any-return]


def origin_items(store: Any) -> list[tuple[Path, str, Any, Origin | None]]:
    """(place, "$." path, value, origin) of every leaf in document order; the place is the
    tuple of keys and list indices, which a key holding a dot cannot make ambiguous."""
    walked = _walked(store, False)
    return _origin_items(store, _recorded(store)) if walked is None else walked


def _walked(store: Any, by_path: bool) -> Any:
    """The native walk's answer (see _store.origin_walk), or None for a store deeper than it
    goes: the Python loop has no depth to run out of."""
    from ._store import origin_walk

    recorded = _recorded(store)
    try:
        return origin_walk(store, recorded[1] if recorded else None, recorded[0] if recorded else None, MISSING,
                           by_path, Layer)
    except RecursionError:
        return None


def _origin_items(store: Any, recorded: tuple[Record, dict[str, Any]] | None
                  ) -> list[tuple[Path, str, Any, Origin | None]]:
    found: list[tuple[Path, str, Any, Origin | None]] = []
    stack: list[tuple[Path, Any, Any, Record | None, Layer | None]] = [
        ((), store, recorded[1] if recorded else None, recorded[0] if recorded else None, None)]
    while stack:
        path, value, snapshot, node, layer = stack.pop()
        if node is not None and node.setter is not None:
            layer = node.setter
        entries: list[tuple[Any, Any]]
        if isinstance(value, TarvelVarMain):
            entries = list(value._mv_items())
        elif isinstance(value, (list, tuple)):
            entries = list(enumerate(value))
        else:
            entries = []
        if not entries and path:
            # an empty section or list is a place some layer set or merged into
            here = (node.touched or node.setter or layer) if node is not None else layer
            same = recorded is not None and _same(value, snapshot)
            found.append((path, path_text(path), value, here.at(path) if same and here is not None else None))
            continue
        for key, below in reversed(entries):
            below_snapshot = _below(snapshot, key)
            below_node = node.below.get(key) if node is not None else None
            stack.append((path + (key,), below, below_snapshot, below_node, layer))
    return found
