"""Layered configuration: files and mappings merged in order, each over the ones before, then
the environment and overrides set single values; `origins` keeps where each was set."""

from __future__ import annotations

import os
from collections.abc import Mapping
from typing import TYPE_CHECKING, Any, NamedTuple

from .formats import LoadError, decode, detect, format_of, yaml_lines
from .paths import MISSING, PathError, index_of, path_text, put
from .paths import steps as path_steps
from .environment import shallow_first, value_of, variables
from .origins import Layer, Origin, Path, Record, composed_class, remember
from ._store import check
from .var_main import TarvelVarMain

if TYPE_CHECKING:
    from collections.abc import Iterable

__all__ = ["LayerError", "Text", "compose"]

class LayerError(ValueError):
    """A layer that cannot be applied; the message names the layer."""


# -- reading the sources ---------------------------------------------------------------------

class Text(NamedTuple):
    """A document already read: its name, its text, its format (None: found from the text)."""
    name: str
    text: str
    format: str | None = None


class Named(NamedTuple):
    """A mapping whose values' origin is `name` (a settings class's defaults: "default")."""
    name: str
    data: Mapping[str, Any]


def _read(source: Any, number: int) -> tuple[dict[str, Any], Layer]:
    if isinstance(source, (str, os.PathLike)):
        name = os.fspath(source)
        source = Text(name, decode(_read_bytes(name), name), format_of(name))
    if isinstance(source, Text):
        fmt, document = detect(source.text, source.format, source.name)
        lines = yaml_lines(source.text) if fmt == "yaml" else None
        return document, Layer(Origin(source.name), lines)
    name = f"<argument {number}>"
    if isinstance(source, Named):
        name, source = source
    if isinstance(source, Mapping):
        from .files import plain_of

        document = plain_of(source)
        if not isinstance(document, dict):
            document = dict(document)
        return document, Layer(Origin(name))
    raise TypeError(f"compose() argument {number} must be a path or a mapping, "
                    f"not {type(source).__name__}")


def _read_bytes(name: str) -> bytes:
    from .files import read_file

    try:
        return read_file(name)
    except OSError as error:
        raise LoadError(name, f"cannot read: {error.strerror or error}") from None


# -- merging ---------------------------------------------------------------------------------

def _is_section(value: Any) -> bool:
    return isinstance(value, (TarvelVarMain, dict))


def _held(container: Any, key: Any) -> Any:
    """The value under `key` of a store, dict or list, or MISSING."""
    if isinstance(container, list):
        return container[key]
    if isinstance(container, TarvelVarMain):
        store: Any = container
        return vars(store).get(key, MISSING) if key in store else MISSING
    return container.get(key, MISSING)


def _put(root: Any, container: Any, key: Any, value: Any) -> Any:
    """Puts `value` under `key` as a path assignment does, and returns what is held there now."""
    put(root, container, key, value)
    return _held(container, key)


def _merge_layer(root: Any, layer_data: dict[str, Any], record: Record, layer: Layer) -> None:
    # the whole layer checked first, with every name's whole path: a key the store keeps for
    # itself anywhere in it changes nothing
    try:
        check(root, layer_data)
    except (ValueError, TypeError) as error:
        raise type(error)(f"{layer.origin}: {error}") from None
    stack = [(root, layer_data, record)]
    while stack:  # a loop, not recursion: layers may nest as deep as documents do
        target, data, node = stack.pop()
        node.touched = layer
        for key, value in data.items():
            held = _held(target, key)
            if isinstance(value, dict) and _is_section(held):
                stack.append((held, value, node.below.setdefault(key, Record())))
            else:
                _put(root, target, key, value)
                node.below[key] = Record(layer)


# -- the environment and overrides -----------------------------------------------------------

def _find_key(section: Any, name: str, who: str, where: Path) -> str:
    """The existing key that `name` names regardless of case, or `name` for a new one."""
    if name in section:
        return name
    matches = [key for key in section if key.casefold() == name.casefold()]
    if len(matches) > 1:
        raise LayerError(f"{who}: {name!r} matches both {matches[0]!r} and {matches[1]!r} "
                         f"in {path_text(where)}")
    return matches[0] if matches else name


def _typed(held: Any, text: str, who: str, where: Path, declared: Any = None) -> Any:
    """`text` read as the type of the value it replaces, where that value has one that text
    can be read as; JSON where it is JSON, else the text, for anything new. Where a settings
    class declares a scalar type for the place (`declared`), the text is left for its check
    to read: "123" stays text for a str field and becomes 123 for an int one."""
    if declared is not None:
        from .settings import reads_text

        if reads_text(declared):
            return str(text)
    if isinstance(text, _Quoted) and (held is None or isinstance(held, str)):
        return str(text)
    if isinstance(held, bool):
        lowered = text.strip().lower()
        if lowered in ("true", "false"):
            return lowered == "true"
        raise LayerError(f"{who}: {text!r} is not a boolean, as {path_text(where)} is")
    if isinstance(held, int):
        try:
            return int(text.strip())
        except ValueError:
            raise LayerError(f"{who}: {text!r} is not an integer, as {path_text(where)} is") from None
    if isinstance(held, float):
        try:
            return float(text.strip())
        except ValueError:
            raise LayerError(f"{who}: {text!r} is not a number, as {path_text(where)} is") from None
    if isinstance(held, str):
        return text
    if isinstance(held, (list, tuple)) or _is_section(held):
        # text cannot stand for a list or a section: it must be one, written as JSON
        value = value_of(text, who)
        wanted, name = (list, "a JSON array, as $ is a list") if isinstance(held, (list, tuple)) \
            else (dict, "a JSON object, as $ is a section")
        if not isinstance(value, wanted):
            raise LayerError(f"{who}: {text!r} is not {name.replace('$', path_text(where))}")
        return value
    return value_of(text, who)


def _override(root: Any, record: Record, steps: list[str], text: str, layer: Layer, who: str,
              types: Any = None) -> None:
    """Sets the value at `steps` from `text`, stepping into existing lists by index and
    matching existing keys regardless of case; a section is made where one is missing."""
    container: Any = root
    node = record
    where: Path = ()
    for depth, step in enumerate(steps):
        if isinstance(container, list):
            index = index_of(step)
            if index is None:
                raise LayerError(f"{who}: {path_text(where)} is a list, so {step!r} must be an index")
            if not -len(container) <= index < len(container):
                raise LayerError(f"{who}: {path_text(where + (index,))} is past the end of a list of "
                                 f"{len(container)}")
            key: Any = index % len(container)
        else:
            key = _find_key(container, step, who, where)
        held = _held(container, key)
        where += (key,)
        node.touched = layer
        if depth == len(steps) - 1:
            declared = None
            if types is not None:
                from .settings import kind_at

                declared = kind_at(types, list(where))
            value = _typed(None if held is MISSING else held, text, who, where, declared)
            try:
                _put(root, container, key, value)
            except (ValueError, TypeError) as error:
                raise LayerError(f"{who}: {_from_root(error, where[:-1])}") from None
            node.below[key] = Record(layer)
            return
        if not isinstance(held, (TarvelVarMain, dict, list)):
            try:
                held = _put(root, container, key, {})
            except (ValueError, TypeError) as error:
                raise LayerError(f"{who}: {_from_root(error, where[:-1])}") from None
            node.below[key] = Record(layer)
        node = node.below.setdefault(key, Record())  # a place inside what another layer set
        container = held


def _from_root(error: Exception, where: Path) -> str:
    """The store's message about a key, which gives its path from the store that holds it,
    with the path from the root instead."""
    message = str(error)
    if where and " at $" in message:
        head, _, tail = message.partition(" at $")
        return f"{head} at {path_text(where)}{tail}"
    return message


def _override_steps(text: str) -> tuple[list[str], str]:
    name, sep, value = text.partition("=")
    try:
        parts = path_steps(name if name.startswith("$") else "$." + name) if sep and name else None
    except PathError:
        raise LayerError(f"override {text}: an empty step in the path {name!r}") from None
    if not parts:
        raise LayerError(f"override {text}: expected PATH=VALUE")
    return parts, _quoted_text(value)


class _Quoted(str):
    """An override's text written as a JSON string (`host="x"`): that string, whatever the
    value it replaces, where a number or boolean would read the text as one."""


def _quoted_text(value: str) -> str:
    if len(value) >= 2 and value[0] == value[-1] == '"':
        import json

        try:
            text = json.loads(value)
        except ValueError:
            return value
        if isinstance(text, str):
            return _Quoted(text)
    return value


def _environment(prefix: str, environ: Mapping[str, str] | None) -> list[tuple[list[str], str, str]]:
    """The settings of the variables named `PREFIX_...`, shallow first, with their steps (a
    bracketed index in a name is a step of its own); LayerError for two variables that name
    one setting, or a value and a setting below it."""
    return _entries(variables(prefix, environ=environ))


def _entries(named: Iterable[tuple[list[str], str, str]]) -> list[tuple[list[str], str, str]]:
    entries = []
    for parts, variable, text in named:
        steps: list[str] = []
        for part in parts:
            steps.extend(path_steps("$." + part) or [part] if "[" in part else [part])
        entries.append((steps, variable, text))
    entries = shallow_first(entries)
    seen: dict[tuple[str, ...], tuple[str, bool]] = {}
    for steps, variable, text in entries:
        key = tuple(step.casefold() for step in steps)
        for depth in range(1, len(key)):
            above = seen.get(key[:depth])
            if above is not None and not above[1]:
                raise LayerError(f"{variable}: {above[0]} already sets {'.'.join(steps[:depth])} "
                                 "to a value, not a section")
        if key in seen:
            raise LayerError(f"{variable} and {seen[key][0]} both set {'.'.join(steps)}")
        seen[key] = (variable, text.lstrip().startswith("{"))
    return entries


# -- composing -------------------------------------------------------------------------------

class _Plan(NamedTuple):
    """What a composition applies after its files, in this order, and the settings class whose
    field types guide how their text is read (None: no class)."""
    secrets_dir: str | os.PathLike[str] | None
    env_files: list[str | os.PathLike[str]]
    env: list[str]
    environ: Mapping[str, str] | None
    overrides: Iterable[str]
    types: Any


def compose(cls: Any, sources: Iterable[Any], *, env: str | Iterable[str] | None = None,
            overrides: Iterable[str] = (), environ: Mapping[str, str] | None = None,
            env_files: Iterable[str | os.PathLike[str]] = (),
            secrets_dir: str | os.PathLike[str] | None = None, resolve: bool = False,
            schema: Any = None, types: Any = None, **flags: Any) -> Any:
    import gc

    from .settings import is_settings_class

    settings = cls if is_settings_class(cls) else None
    if settings is not None:
        # the layers compose as plain stores over the class's defaults; the class checks the
        # result as a whole, once
        from ._store import public_class
        from .settings import checker_of

        sources = [Named("default", checker_of(settings).defaults()), *sources]
        cls, types = public_class(), settings
    plan = _Plan(secrets_dir, list(env_files), [env] if isinstance(env, str) else list(env or []),
                 environ, overrides, types)
    # Documents are trees: the collector, which their many new containers would set off again
    # and again while they are parsed and built, could find no cycle in them.
    collecting = gc.isenabled()
    gc.disable()
    try:
        store, record = _composed(cls, sources, plan, flags)
        if resolve:
            from .references import resolve as resolve_references

            resolve_references(store, environ)
        # what composing left, so that origin() never names a layer for a value it did not
        # set; a schema's checked copy takes it over
        remember(store, (record, store.to_dict()))
        if settings is not None:
            store = _settled(settings, store)
        store = store._finish(False, schema, bool(flags.get("frozen")), environ)
    finally:
        if collecting:
            gc.enable()
    return store


def _settled(cls: Any, composed: Any) -> Any:
    """The store of the settings class `cls` checked from `composed`, with its origins; each
    problem names the layer that set the value, where one did."""
    from .origins import origin
    from .schemas import ValidationError, validate

    try:
        return validate(composed, cls)
    except ValidationError as error:
        problems = []
        for path, message in error.errors:
            try:
                where = origin(composed, path)
            except (KeyError, PathError):
                where = None
            problems.append((path, message if where is None else f"{message} ({where})"))
        raise ValidationError(problems) from None


def _composed(cls: Any, sources: Iterable[Any], plan: _Plan, flags: dict[str, Any]) -> tuple[Any, Record]:
    flags = {k: v for k, v in flags.items() if k != "frozen"}
    record = Record()
    store = None
    number = 0
    for source in sources:
        number += not isinstance(source, Named)  # the caller's arguments, counted as given
        if store is None:
            # the first layer is loaded as a store, as load() loads it; the others merge in
            store, layer = _first(cls, source, flags)
            record.touched = layer
            for key in vars(store):
                record.below[key] = Record(layer)
        else:
            layer_data, layer = _read(source, number)
            _merge_layer(store, layer_data, record, layer)
    if store is None:
        store = cls(**flags)
    types = plan.types
    if plan.secrets_dir is not None:
        for steps, path, text in _secrets(plan.secrets_dir):
            _override(store, record, steps, text, Layer(Origin(path)), f"secret {path}", types)
    for file in plan.env_files:
        for steps, variable, text, line in _dotenv(file, plan.env):
            _override(store, record, steps, text, Layer(Origin(os.fspath(file), line)),
                      f"{os.fspath(file)}:{line} {variable}", types)
    for prefix in plan.env:
        for steps, variable, text in _environment(prefix, plan.environ):
            _override(store, record, steps, text, Layer(Origin("env", detail=variable)), variable, types)
    for text in plan.overrides:
        steps, value = _override_steps(text)
        _override(store, record, steps, value, Layer(Origin("override", detail=text)),
                  f"override {text}", types)
    object.__setattr__(store, "__class__", composed_class(type(store)))
    return store, record


def _secrets(directory: str | os.PathLike[str]) -> list[tuple[list[str], str, str]]:
    """The settings of a directory of secret files: each file's name read as a variable's name
    without its prefix (`db__password`), its content with one trailing newline taken off.
    Names that begin with a dot (the links a mounted volume keeps) are no settings."""
    directory = os.fspath(directory)
    if not os.path.isdir(directory):
        raise LayerError(f"secrets_dir {directory}: no such directory")
    named = []
    with os.scandir(directory) as found:
        entries = sorted((entry for entry in found if not entry.name.startswith(".") and entry.is_file()),
                         key=lambda entry: entry.name)
    for entry in entries:
        text = _text_of(entry.path, f"secret {entry.path}")
        text = text[:-2] if text.endswith("\r\n") else text[:-1] if text.endswith("\n") else text
        parts = entry.name.split("__")
        if "" in parts:
            raise LayerError(f"secret {entry.path}: empty name part")
        named.append(([part.lower() for part in parts], entry.path, text))
    return _entries(named)


def _text_of(path: str, who: str) -> str:
    """The UTF-8 text of the file at `path`; LayerError naming `who` when it cannot be read."""
    try:
        with open(path, encoding="utf-8") as handle:
            return handle.read()
    except (OSError, UnicodeDecodeError) as error:
        reason = error.strerror if isinstance(error, OSError) else "not UTF-8 text"
        raise LayerError(f"{who}: cannot read: {reason or error}") from None


def _dotenv(file: str | os.PathLike[str], prefixes: list[str]) -> list[tuple[list[str], str, str, int]]:
    """The settings of a `.env` file, read by python-dotenv, as the environment's (with each
    prefix; every name when there is none), with the line of each."""
    try:
        import dotenv
        from dotenv.parser import parse_stream
    except ImportError:
        raise ImportError("reading .env files needs python-dotenv: pip install 'tarvel_var[dotenv]'") from None
    name = os.fspath(file)
    content = _text_of(name, name)
    import io

    lines = {}
    for binding in parse_stream(io.StringIO(content)):
        if binding.error:
            raise LayerError(f"{name}:{binding.original.line}: cannot parse {binding.original.string.strip()!r}")
        if binding.key is not None:
            lines[binding.key] = binding.original.line
    values = {key: value for key, value in dotenv.dotenv_values(stream=io.StringIO(content)).items()
              if value is not None}
    found = []
    every: list[str | None] = [None]
    for prefix in prefixes or every:
        named = variables(prefix, environ=values) if prefix is not None else \
            (([part.lower() for part in key.split("__")], key, value) for key, value in values.items())
        found += [(steps, variable, text, lines.get(variable, 0))
                  for steps, variable, text in _entries(named)]
    return found


def _first(cls: Any, source: Any, flags: dict[str, Any]) -> tuple[Any, Layer]:
    from .files import _json_store, build, loads

    if isinstance(source, (str, os.PathLike)):
        name = os.fspath(source)
        data, fmt = _read_bytes(name), format_of(name)
        # a JSON file's bytes go to the native reader as they are, as load() hands them
        if fmt == "json" and (store := _json_store(cls, data, name, flags)) is not None:
            return store, Layer(Origin(name))
        source = Text(name, decode(data, name), fmt)
    if isinstance(source, Text) and source.format == "json":
        return loads(cls, source.text, format="json", source=source.name, **flags), Layer(Origin(source.name))
    document, layer = _read(source, 1)
    try:
        return build(cls, document, str(layer.origin), flags), layer
    except (ValueError, TypeError) as error:
        if str(error).startswith(f"{layer.origin}:"):
            raise
        raise type(error)(f"{layer.origin}: {error}") from None
