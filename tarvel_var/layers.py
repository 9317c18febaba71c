"""Layered configuration: files and mappings merged in order, then the environment and
overrides, with a record of where every value was set.

A composed store is an instance of a "composed variant" of its class: a subclass of the same
name and layout whose copies and pickles carry the record kept beside it, while `to_dict()`,
`==` and every read go on as for any store, and stores that were not composed hold nothing.
"""

from __future__ import annotations

import os
import weakref
from collections.abc import Mapping
from typing import TYPE_CHECKING, Any, NamedTuple

from . import _store, formats, paths
from .environment import EnvError, value_of
from .var_main import TarvelVarMain

if TYPE_CHECKING:
    from collections.abc import Iterable

__all__ = ["LayerError", "Origin", "compose", "origin", "origins"]

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


class LayerError(ValueError):
    """A layer that cannot be applied; the message names the layer."""


class _Layer:
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


class _Record:
    """Which layer set each place of the document whole (`setter`), and which last merged
    into it or set something below it (`touched`), as a tree that follows the document's
    own: replacing a value drops what was recorded below it."""

    __slots__ = ("setter", "touched", "below")

    def __init__(self, setter: _Layer | None = None) -> None:
        self.setter: _Layer | None = setter
        self.touched: _Layer | None = None
        self.below: dict[Any, _Record] = {}

    def __reduce__(self) -> Any:
        return _restore_record, (self.setter, self.touched, self.below)


def _restore_record(setter: _Layer | None, touched: _Layer | None, below: dict[Any, _Record]) -> _Record:
    record = _Record(setter)
    record.touched, record.below = touched, below
    return record


# -- reading the sources ---------------------------------------------------------------------

class Text(NamedTuple):
    """A document already read: its name, its text, its format (None: found from the text)."""
    name: str
    text: str
    format: str | None = None


def _read(source: Any, number: int) -> tuple[dict[str, Any], _Layer]:
    if isinstance(source, (str, os.PathLike)):
        name = os.fspath(source)
        source = Text(name, formats.decode(_read_bytes(name), name), formats.format_of(name))
    if isinstance(source, Text):
        fmt, document = formats.detect(source.text, source.format, source.name)
        lines = formats.yaml_lines(source.text) if fmt == "yaml" else None
        return document, _Layer(Origin(source.name), lines)
    if isinstance(source, Mapping):
        from .files import plain_of

        document = plain_of(source)
        if not isinstance(document, dict):
            document = dict(document)
        return document, _Layer(Origin(f"<argument {number}>"))
    raise TypeError(f"compose() argument {number} must be a path or a mapping, "
                    f"not {type(source).__name__}")


def _read_bytes(name: str) -> bytes:
    from .files import read_file

    try:
        return read_file(name)
    except OSError as error:
        raise formats.LoadError(name, f"cannot read: {error.strerror or error}") from None


# -- merging ---------------------------------------------------------------------------------

def _is_section(value: Any) -> bool:
    return isinstance(value, (TarvelVarMain, dict))


def _held(container: Any, key: Any) -> Any:
    """The value under `key` of a store, dict or list, or MISSING."""
    if isinstance(container, list):
        return container[key]
    if isinstance(container, TarvelVarMain):
        store: Any = container
        return vars(store).get(key, paths.MISSING) if key in store else paths.MISSING
    return container.get(key, paths.MISSING)


def _put(root: Any, container: Any, key: Any, value: Any) -> Any:
    """Puts `value` under `key`, converted as the store converts what it takes in, and
    returns what is held there now."""
    if isinstance(container, list):
        container[key] = root._set_list([value])[0]
    else:
        container[key] = value
    return _held(container, key)


def _merge(root: Any, target: Any, layer_data: dict[str, Any], record: _Record, layer: _Layer) -> None:
    record.touched = layer
    for key, value in layer_data.items():
        held = _held(target, key)
        if isinstance(value, dict) and _is_section(held):
            _merge(root, held, value, record.below.setdefault(key, _Record()), layer)
        else:
            try:
                _put(root, target, key, value)
            except (ValueError, TypeError) as error:  # a key the store keeps for itself
                raise type(error)(f"{layer.origin}: {error}") from None
            record.below[key] = _Record(layer)


# -- the environment and overrides -----------------------------------------------------------

def _find_key(section: Any, name: str, who: str, where: Path) -> str:
    """The existing key that `name` names regardless of case, or `name` for a new one."""
    if name in section:
        return name
    matches = [key for key in section if key.casefold() == name.casefold()]
    if len(matches) > 1:
        raise LayerError(f"{who}: {name!r} matches both {matches[0]!r} and {matches[1]!r} "
                         f"in {_text(where)}")
    return matches[0] if matches else name


def _typed(held: Any, text: str, who: str, where: Path) -> Any:
    """`text` read as the type of the value it replaces, where that value has one that text
    can be read as; JSON where it is JSON, else the text, for anything new."""
    if isinstance(held, bool):
        lowered = text.strip().lower()
        if lowered in ("true", "false"):
            return lowered == "true"
        raise LayerError(f"{who}: {text!r} is not a boolean, as {_text(where)} is")
    if isinstance(held, int):
        try:
            return int(text.strip())
        except ValueError:
            raise LayerError(f"{who}: {text!r} is not an integer, as {_text(where)} is") from None
    if isinstance(held, float):
        try:
            return float(text.strip())
        except ValueError:
            raise LayerError(f"{who}: {text!r} is not a number, as {_text(where)} is") from None
    if isinstance(held, str):
        return text
    return value_of(text, who)


def _override(root: Any, record: _Record, steps: list[str], text: str, layer: _Layer, who: str) -> None:
    """Sets the value at `steps` from `text`, stepping into existing lists by index and
    matching existing keys regardless of case; a section is made where one is missing."""
    container: Any = root
    node = record
    where: Path = ()
    for depth, step in enumerate(steps):
        if isinstance(container, list):
            if not step.isdigit():
                raise LayerError(f"{who}: {_text(where)} is a list, so {step!r} must be an index")
            key: Any = int(step)
            if key >= len(container):
                raise LayerError(f"{who}: {_text(where + (key,))} is past the end of a list of "
                                 f"{len(container)}")
        else:
            key = _find_key(container, step, who, where)
        held = _held(container, key)
        where += (key,)
        node.touched = layer
        if depth == len(steps) - 1:
            value = _typed(None if held is paths.MISSING else held, text, who, where)
            try:
                _put(root, container, key, value)
            except (ValueError, TypeError) as error:
                raise LayerError(f"{who}: {error}") from None
            node.below[key] = _Record(layer)
            return
        if not isinstance(held, (TarvelVarMain, dict, list)):
            try:
                held = _put(root, container, key, {})
            except (ValueError, TypeError) as error:
                raise LayerError(f"{who}: {error}") from None
            node.below[key] = _Record(layer)
        node = node.below.setdefault(key, _Record())  # a place inside what another layer set
        container = held


def _environment(prefix: str, environ: Mapping[str, str]) -> list[tuple[list[str], str, str]]:
    start = prefix if prefix.endswith("_") else prefix + "_"
    found = []
    for variable, text in environ.items():
        if not variable.startswith(start):
            continue
        parts = variable[len(start):].split("__")
        if "" in parts:
            raise EnvError(f"{variable}: empty name part (a separator '__' at an end or doubled, "
                           "or nothing after the prefix)")
        found.append(([part.lower() for part in parts], variable, text))
    # shallower settings first, so that the order the environment lists them in does not matter
    found.sort(key=lambda entry: (len(entry[0]), entry[1]))
    return found


def _override_steps(text: str) -> tuple[list[str], str]:
    name, sep, value = text.partition("=")
    parts = paths.steps(name if name.startswith("$") else "$." + name) if sep and name else None
    if not parts:
        raise LayerError(f"override {text}: expected PATH=VALUE")
    return parts, value


# -- composing -------------------------------------------------------------------------------

def compose(cls: Any, sources: Iterable[Any], *, env: str | Iterable[str] | None = None,
            overrides: Iterable[str] = (), environ: Mapping[str, str] | None = None,
            resolve: bool = False, schema: Any = None, **flags: Any) -> Any:
    import gc

    # Documents are trees: the collector, which their many new containers would set off again
    # and again while they are parsed and built, could find no cycle in them.
    collecting = gc.isenabled()
    gc.disable()
    try:
        store, record = _composed(cls, sources, env, overrides, environ, flags)
        if resolve:
            store.resolve(environ)
        if schema is not None:
            store = store.validate(schema)
        # what composing left, so that origin() never names a layer for a value it did not set
        _remember(store, (record, store.to_dict()))
    finally:
        if collecting:
            gc.enable()
    return store.freeze() if flags.get("frozen") else store


def _composed(cls: Any, sources: Iterable[Any], env: str | Iterable[str] | None, overrides: Iterable[str],
              environ: Mapping[str, str] | None, flags: dict[str, Any]) -> tuple[Any, _Record]:
    flags = {k: v for k, v in flags.items() if k != "frozen"}
    record = _Record()
    store = None
    for number, source in enumerate(sources, 1):
        if store is None:
            # the first layer is loaded as a store, as load() loads it; the others merge in
            store, layer = _first(cls, source, flags)
            record.touched = layer
            for key in vars(store):
                record.below[key] = _Record(layer)
        else:
            layer_data, layer = _read(source, number)
            _merge(store, store, layer_data, record, layer)
    if store is None:
        store = cls(**flags)
    for prefix in [env] if isinstance(env, str) else env or []:
        for steps, variable, text in _environment(prefix, os.environ if environ is None else environ):
            _override(store, record, steps, text, _Layer(Origin("env", detail=variable)), variable)
    for text in overrides:
        steps, value = _override_steps(text)
        _override(store, record, steps, value, _Layer(Origin("override", detail=text)),
                  f"override {text}")
    object.__setattr__(store, "__class__", composed_class(type(store)))
    return store, record


def _first(cls: Any, source: Any, flags: dict[str, Any]) -> tuple[Any, _Layer]:
    from .files import build, loads

    if isinstance(source, (str, os.PathLike)):
        name = os.fspath(source)
        source = Text(name, formats.decode(_read_bytes(name), name), formats.format_of(name))
    if isinstance(source, Text) and source.format == "json":
        return loads(cls, source.text, format="json", source=source.name, **flags), _Layer(Origin(source.name))
    document, layer = _read(source, 1)
    try:
        return build(cls, document, str(layer.origin), flags), layer
    except (ValueError, TypeError) as error:
        if str(error).startswith(f"{layer.origin}:"):
            raise
        raise type(error)(f"{layer.origin}: {error}") from None


# -- the composed variant of a class ---------------------------------------------------------

_variants: dict[type, type] = {}
# The record of each composed store, by its id while it lives: kept beside the store rather
# than in it, so that a store becomes composed by a change of class alone, and reads, writes,
# to_dict() and == never meet it.
_records: dict[int, tuple[weakref.ref[Any], tuple[_Record, dict[str, Any]]]] = {}


def _remember(store: Any, recorded: tuple[_Record, dict[str, Any]]) -> None:
    key = id(store)

    def forget(_: Any, key: int = key) -> None:
        entry = _records.get(key)
        if entry is not None and entry[0]() is None:
            del _records[key]

    _records[key] = (weakref.ref(store, forget), recorded)


def _recorded(store: Any) -> tuple[_Record, dict[str, Any]] | None:
    entry = _records.get(id(store))
    return entry[1] if entry is not None and entry[0]() is store else None


def composed_class(base: type) -> type:
    known = _variants.get(base)
    if known is not None:
        return known
    namespace = {"__slots__": (), "__module__": base.__module__, "__qualname__": base.__qualname__,
                 "__doc__": base.__doc__, "__reduce_ex__": _reduce, "__getstate__": _getstate,
                 "__setstate__": _setstate,
                 # how a pickle names this class, which no module holds: made again from base
                 "__tarvel_recipe__": (composed_class, base)}
    metaclass: Any = type(base)
    variant: type = metaclass(base.__name__, (base,), namespace)
    if issubclass(base, _store.public_class() or ()):
        _store.read_slots(variant)
    _variants[base] = variant
    return variant


def _getstate(self: Any) -> tuple[dict[str, Any], dict[str, Any]]:
    return dict(vars(self)), {_SLOT: _recorded(self)}


def _reduce(self: Any, protocol: int) -> tuple[Any, ...]:
    return _new_composed, (type(self).__base__,), self.__getstate__()


def _setstate(self: Any, state: tuple[dict[str, Any], dict[str, Any]]) -> None:
    variables, extra = state
    vars(self).update(variables)
    if extra.get(_SLOT) is not None:
        _remember(self, extra[_SLOT])


def _new_composed(base: type) -> Any:
    variant: Any = composed_class(base)
    return variant.__new__(variant)


# -- asking where a value came from ----------------------------------------------------------

def _text(path: Path) -> str:
    return "$." + ".".join(map(str, path)) if path else "$"


def _same(value: Any, snapshot: Any) -> bool:
    """Whether `value` is still what composing left there."""
    if snapshot is paths.MISSING:
        return False
    if isinstance(value, TarvelVarMain):
        return isinstance(snapshot, dict)
    if isinstance(value, (list, tuple)):
        from .files import plain_of

        return isinstance(snapshot, list) and plain_of(value) == snapshot
    return type(value) is type(snapshot) and value == snapshot


def origin(store: Any, path: str) -> Origin | None:
    """Where the value at `path` of a composed store was set; None for a store that was not
    composed, or a value the program changed since. KeyError when nothing is at `path`."""
    steps = paths.steps(path if path.startswith("$") else "$." + path)
    if steps is None:
        raise KeyError(path)
    # the path with list indices as ints (counted from the start), as the record keeps them
    typed: list[Any] = []
    value = store
    for step in steps:
        below = paths.child(value, step)
        if below is paths.MISSING:
            raise KeyError(path)
        typed.append(int(step) % len(value) if isinstance(value, (list, tuple)) else step)
        value = below
    recorded = _recorded(store)
    if recorded is None:
        return None
    node: _Record | None
    node, snapshot = recorded
    setter = node.setter
    for key in typed:
        snapshot = _below(snapshot, key)
        node = node.below.get(key) if node is not None else None
        if node is not None and node.setter is not None:
            setter = node.setter
    layer = (node.touched or node.setter) if node is not None else setter
    if layer is None or not _same(value, snapshot):
        return None
    return (setter if layer is setter else layer).at(tuple(typed))


def _below(snapshot: Any, key: Any) -> Any:
    if isinstance(snapshot, dict):
        return snapshot.get(key, paths.MISSING)
    if isinstance(snapshot, list) and isinstance(key, int) and key < len(snapshot):
        return snapshot[key]
    return paths.MISSING


def origins(store: Any) -> dict[str, Origin | None]:
    """Every leaf's "$." path in document order, with its origin()."""
    recorded = _recorded(store)
    found: dict[str, Origin | None] = {}
    stack: list[tuple[Path, Any, Any, _Record | None, _Layer | None]] = [
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
        if not entries:
            # an empty section or list is a place some layer set or merged into
            here = (node.touched or node.setter) if node is not None else layer
            same = recorded is not None and _same(value, snapshot)
            found[_text(path)] = here.at(path) if same and here is not None else None
            continue
        for key, below in reversed(entries):
            below_snapshot = _below(snapshot, key)
            below_node = node.below.get(key) if node is not None else None
            stack.append((path + (key,), below, below_snapshot, below_node, layer))
    return found
