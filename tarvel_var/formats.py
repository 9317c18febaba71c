"""The three document formats: reading text into plain data and writing plain data as text.

JSON and reading TOML need only the standard library; writing TOML needs the `toml` extra
(tomli-w) and YAML needs the `yaml` extra (PyYAML). Each format has one parser and one
renderer, in the tables `PARSERS` and `RENDERERS`; `files` reads and writes stores with them.

Imports of the format libraries (json too) wait until a format needs them: `import
tarvel_var` loads this module, and the command line's start-up time is part of every call.
"""

from __future__ import annotations

import os
import sys
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from collections.abc import Callable

__all__ = [
    "DumpError", "DuplicateKey", "EXTENSIONS", "FORMATS", "LoadError", "MissingExtraError",
    "decode", "detect", "find_unwritable", "format_of", "iso_time", "kind_of", "parse", "parse_json", "render",
    "unique_pairs",
]

FORMATS = ("json", "toml", "yaml")
EXTENSIONS = {".json": "json", ".toml": "toml", ".yaml": "yaml", ".yml": "yaml"}
EXTRAS = {"toml": ("tomli_w", "tomli-w", "toml"), "yaml": ("yaml", "PyYAML", "yaml")}

# A YAML document with aliases can describe data far larger than its text ("billion
# laughs"); building a store copies every shared part, so the expanded size is bounded.
YAML_EXPANSION_LIMIT = 2_000_000


class LoadError(ValueError):
    """A document that cannot become a store. `source` is the file name (or `<stdin>`,
    `<string>`); `line` and `column` (from 1) are set for parse errors."""

    __module__ = "tarvel_var.files"  # where they are documented, and pickled from

    def __init__(self, source: str, message: str, line: int | None = None,
                 column: int | None = None) -> None:
        self.source, self.reason, self.line, self.column = source, message, line, column
        where = source if line is None else f"{source}:{line}:{column or 1}"
        super().__init__(f"{where}: {message}")

    def __reduce__(self) -> Any:  # so that it pickles, e.g. back from a worker process
        return type(self), (self.source, self.reason, self.line, self.column)


class DumpError(ValueError):
    """A value the chosen format cannot hold; `path` says where it is ("$.a.0.b")."""

    __module__ = "tarvel_var.files"  # where they are documented, and pickled from

    def __init__(self, path: str, message: str) -> None:
        self.path, self.reason = path, message
        super().__init__(f"{path}: {message}")

    def __reduce__(self) -> Any:
        return type(self), (self.path, self.reason)


class MissingExtraError(ImportError):
    """A format whose library is not installed; the message names the extra to install."""

    __module__ = "tarvel_var.files"  # where they are documented, and pickled from


def _require(fmt: str, action: str) -> Any:
    module, package, extra = EXTRAS[fmt]
    try:
        return __import__(module)
    except ImportError:
        raise MissingExtraError(
            f"{action} {fmt.upper()} needs {package}: pip install 'tarvel-var[{extra}]'"
        ) from None


def format_of(path: str | os.PathLike[str], given: str | None = None) -> str:
    """The format named by `given`, else by the file's extension."""
    if given is not None:
        if given not in FORMATS:
            raise ValueError(f"unknown format {given!r} (expected json, toml or yaml)")
        return given
    name = os.fspath(path)
    extension = os.path.splitext(name)[1].lower()
    try:
        return EXTENSIONS[extension]
    except KeyError:
        what = f"extension {extension!r}" if extension else "no extension"
        raise LoadError(name, f"unknown format: {what} (expected .json, .toml, .yaml or .yml, "
                              "or name the format)") from None


# -- reading ---------------------------------------------------------------------------------

class DuplicateKey(Exception):
    """Raised by unique_pairs with the key that an object names twice."""


def unique_pairs(pairs: list[tuple[str, Any]], dict: Any = dict, len: Any = len) -> Any:
    """An `object_pairs_hook` for json.loads that refuses a key written twice in one object
    (DuplicateKey), where json.loads would keep the last without a word."""
    # A configuration that names a key twice is far more often a mistake than a wish. (This
    # runs for every object of a document: the builtins are bound as defaults to save their
    # lookups.)
    document = dict(pairs)
    if len(document) != len(pairs):
        seen: set[str] = set()
        for key, _ in pairs:
            if key in seen:
                raise DuplicateKey(key)
            seen.add(key)
    return document


def decode(data: bytes, source: str) -> str:
    """UTF-8 text (a byte order mark is dropped), or a LoadError saying where it is not."""
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        kind = "binary data" if b"\0" in data[:8192] else "not UTF-8 text"
        raise LoadError(source, f"{kind}: {error.reason} at byte {error.start}") from None


def parse(text: str | bytes, fmt: str | None, source: str = "<string>") -> dict[str, Any]:
    """The plain document in `text`, checked to be a mapping with string keys. With `fmt`
    None the format is found as `detect` finds it."""
    return detect(text, fmt, source)[1]


def detect(text: str | bytes, fmt: str | None, source: str = "<string>"
           ) -> tuple[str, dict[str, Any]]:
    """The format and the plain document in `text`. With `fmt` None the first of JSON,
    TOML and YAML (when PyYAML is installed) that reads the text as a mapping is taken;
    text that starts with `{` is JSON only, since YAML would also read most broken JSON."""
    if isinstance(text, (bytes, bytearray)):
        text = decode(bytes(text), source)
    if fmt is not None:
        fmt = format_of("", fmt)
        return fmt, _checked(_parse_one(text, fmt, source), fmt, source)
    if not text.strip():
        raise LoadError(source, "empty document")
    if text.lstrip().startswith("{"):
        return "json", _checked(_parse_one(text, "json", source), "json", source)
    failures: list[tuple[str, Exception]] = []
    for candidate in FORMATS:
        if candidate == "yaml" and not _available("yaml"):
            continue
        try:
            document = _parse_one(text, candidate, source)
        except LoadError as error:
            failures.append((candidate, error))
            continue
        if isinstance(document, dict):
            return candidate, document
        failures.append((candidate, _shape_error(document, candidate, source)))
    # Valid JSON that is no object says more than any parse error; after that, the parse
    # error found furthest into the text is the likeliest to be the real one.
    if failures[0][0] == "json" and failures[0][1].line is None:  # type: ignore[attr-defined]
        raise failures[0][1]
    errors = [error for _, error in failures if getattr(error, "line", None) is not None]
    if errors:
        raise max(errors, key=lambda error: (error.line, error.column or 0))  # type: ignore[attr-defined]
    raise failures[0][1]


def _available(module: str) -> bool:
    import importlib.util

    return importlib.util.find_spec(module) is not None


def _shape_error(document: Any, fmt: str, source: str) -> LoadError:
    return LoadError(source, f"the top level must be {_KINDS[fmt][dict]}, "
                             f"not {kind_of(document, fmt)}")


def _checked(document: Any, fmt: str, source: str) -> dict[str, Any]:
    if not isinstance(document, dict):
        raise _shape_error(document, fmt, source)
    return document


def _finite(number: float) -> bool:
    return number - number == 0.0  # inf - inf and nan - nan are nan


def _parse_one(text: str, fmt: str, source: str) -> Any:
    try:
        return PARSERS[fmt](text, source)
    except RecursionError:
        raise LoadError(source, "the document is nested too deeply") from None
    except MemoryError:
        raise LoadError(source, "the document does not fit in memory") from None


def parse_json(text: str, source: str, object_pairs_hook: Callable[[Any], Any] = unique_pairs,
               duplicate_key: type[Exception] = DuplicateKey) -> Any:
    """json.loads of `text` with the hook that makes each object (unique_pairs by default,
    which raises DuplicateKey; another hook names the exception it raises for a repeated
    key), every failure a LoadError naming the source."""
    import json

    try:
        return json.loads(text, object_pairs_hook=object_pairs_hook)
    except json.JSONDecodeError as error:
        raise LoadError(source, f"invalid JSON: {error.msg}", error.lineno, error.colno) from None
    except duplicate_key as error:
        raise LoadError(source, f"duplicate key {error.args[0]!r} in one object") from None
    except RecursionError:
        raise LoadError(source, "the document is nested too deeply") from None
    except MemoryError:
        raise LoadError(source, "the document does not fit in memory") from None
    except ValueError as error:  # an integer beyond the interpreter's digit limit
        raise LoadError(source, f"invalid JSON: {error}") from None


def _parse_toml(text: str, source: str) -> Any:
    from ._store import toml_document

    # natively where the build has a TOML reader, which gives way to tomllib for errors and
    # the few values it cannot make exactly as tomllib does
    if (document := toml_document(text)) is not None:
        return document
    import re
    import tomllib

    try:
        return tomllib.loads(text)
    except tomllib.TOMLDecodeError as error:
        message = str(error)
        at = re.search(r"\s*\(at line (\d+), column (\d+)\)$", message)
        if at:
            raise LoadError(source, f"invalid TOML: {message[:at.start()]}", int(at.group(1)),
                            int(at.group(2))) from None
        raise LoadError(source, f"invalid TOML: {message}") from None
    except ValueError as error:  # an integer beyond the interpreter's digit limit, say
        raise LoadError(source, f"invalid TOML: {error}") from None


def _parse_yaml(text: str, source: str) -> Any:
    yaml = _require("yaml", "reading")
    document = _native_yaml(yaml, text)
    if document is not None:  # its aliases counted as they expand, within the limit
        return document
    document = _loaded_yaml(yaml, text, source)
    if document is None and _holds_no_yaml(text):
        return {}  # an empty file, or comments only: no settings, as in an empty TOML file
    if "*" in text:  # perhaps an alias
        _check_expansion(document, source)
    return document


def _native_yaml(yaml: Any, text: str) -> Any:
    """The document as the native reader makes it, where the build has one and PyYAML reads
    through libyaml too (the same parser, so the same results); None where the loader must
    read it (a tag, a merge key, an error, ...)."""
    if not _libyaml_is_safe(yaml):
        return None
    from ._store import yaml_document

    return yaml_document(text, YAML_EXPANSION_LIMIT)


def _loaded_yaml(yaml: Any, text: str, source: str) -> Any:
    loader = _yaml_loader(yaml)(text)
    try:
        document = loader.get_single_data()
    except yaml.MarkedYAMLError as error:
        mark = error.problem_mark or error.context_mark
        problem = error.problem or error.context or "invalid YAML"
        if "maximum nesting depth" in problem:  # libyaml's own limit
            raise LoadError(source, "the document is nested too deeply") from None
        if mark is None:
            raise LoadError(source, f"invalid YAML: {problem}") from None
        raise LoadError(source, f"invalid YAML: {problem}", mark.line + 1,
                        mark.column + 1) from None
    except yaml.YAMLError as error:
        raise LoadError(source, f"invalid YAML: {' '.join(str(error).split())}") from None
    except (ValueError, TypeError, OverflowError) as error:
        # a value its tag cannot make: `2001-02-30`, `!!int 0x`, more digits than int() takes
        raise LoadError(source, f"invalid YAML: {_value_error(loader, error)}") from None
    finally:
        loader.dispose()
    return document


def _holds_no_yaml(text: str) -> bool:
    for line in text.splitlines():
        content = line.strip()
        if content and not content.startswith("#") and content not in ("---", "..."):
            return False
    return True


def yaml_lines(text: str) -> dict[tuple[Any, ...], int]:
    """The 1-based line of each key and list item of a YAML document, by its path (a tuple of
    keys and indices); read from the parser's nodes, so a document that parses has them."""
    yaml = _require("yaml", "reading")
    root = yaml.compose(text, Loader=_yaml_loader(yaml))
    lines: dict[tuple[Any, ...], int] = {}
    # Each node once: a node that aliases bring back at other places would otherwise be walked
    # once per path through them, as many times as the document expands. Below an alias, the
    # line of the alias itself is the nearest one a path has, and where its value was written.
    seen: set[int] = set()
    stack: list[tuple[tuple[Any, ...], Any]] = [((), root)]
    while stack:
        path, node = stack.pop()
        if node is None or id(node) in seen:
            continue
        seen.add(id(node))
        below: list[tuple[tuple[Any, ...], Any]] = []
        if isinstance(node, yaml.MappingNode):
            for key_node, value_node in node.value:
                if isinstance(key_node, yaml.ScalarNode) and key_node.tag != "tag:yaml.org,2002:merge":
                    lines.setdefault(path + (key_node.value,), key_node.start_mark.line + 1)
                    below.append((path + (key_node.value,), value_node))
        elif isinstance(node, yaml.SequenceNode):
            for index, item in enumerate(node.value):
                lines.setdefault(path + (index,), item.start_mark.line + 1)
                below.append((path + (index,), item))
        stack.extend(reversed(below))  # in document order: an anchor before its aliases
    return lines


def _value_error(loader: Any, error: Exception) -> str:
    # The loader has moved on from the node it was making; its last mark is near it.
    mark = getattr(loader, "mark", None) or getattr(loader, "get_mark", lambda: None)()
    where = f" (near line {mark.line + 1})" if mark is not None else ""
    return f"{error}{where}"


_YAML_LOADER: Any = None


def _libyaml_is_safe(yaml: Any) -> bool:
    # libyaml parses ten times as fast as PyYAML's own parser. From 0.2.5 on it refuses
    # nesting deeper than 1,000 levels; before, its recursion had no bound, and a deeply
    # nested document could crash the process instead of ending in an error.
    if not getattr(yaml, "__with_libyaml__", False):
        return False
    version: tuple[int, ...] = yaml._yaml.get_version()
    return version >= (0, 2, 5)


def _yaml_loader(yaml: Any) -> Any:
    global _YAML_LOADER
    if _YAML_LOADER is not None:
        return _YAML_LOADER
    base = yaml.CSafeLoader if _libyaml_is_safe(yaml) else yaml.SafeLoader
    merge_tag = "tag:yaml.org,2002:merge"
    str_tag = "tag:yaml.org,2002:str"

    def refuse(message: str, node: Any) -> None:
        raise yaml.constructor.ConstructorError(None, None, message, node.start_mark)

    def construct_mapping(self: Any, node: Any, deep: bool = False) -> Any:
        # `!!map [1]`, `!!set x`: a tag that asks for a mapping on a node that is none
        if not isinstance(node, yaml.MappingNode):
            refuse(f"expected a mapping for {node.tag}, but found {node.id}", node)
        # A key written twice in one mapping is refused; a key that a merge (<<) brings
        # in may be written again, which is how a merge is overridden.
        seen: set[Any] = set()
        for key_node, _ in node.value:
            if key_node.tag == merge_tag:
                continue
            key = key_of(self, key_node)
            if isinstance(key, str) and key in seen:
                refuse(f"duplicate key {key!r} in one mapping", key_node)
            if isinstance(key, str):
                seen.add(key)
        self.flatten_mapping(node)
        mapping = {}
        for key_node, value_node in node.value:
            key = key_of(self, key_node)
            if not isinstance(key, str):
                refuse(f"keys must be strings, not {kind_of(key, 'yaml')} ({key!r})", key_node)
            mapping[key] = self.construct_object(value_node, deep=deep)
        return mapping

    def key_of(self: Any, key_node: Any) -> Any:
        # a plain string key is its text, with nothing to construct
        if key_node.tag == str_tag and type(key_node) is yaml.ScalarNode:
            return key_node.value
        return self.construct_object(key_node, deep=True)

    # Made with type() rather than a class statement, so that no class is declared for
    # type checkers that exists only once PyYAML is imported.
    _YAML_LOADER = type("Loader", (base,), {"construct_mapping": construct_mapping})
    return _YAML_LOADER


def _check_expansion(document: Any, source: str) -> None:
    budget = YAML_EXPANSION_LIMIT
    stack = [document]
    while stack:
        value = stack.pop()
        budget -= 1
        if budget < 0:
            raise LoadError(source, "the YAML aliases expand to more than "
                                    f"{YAML_EXPANSION_LIMIT:,} values")
        if isinstance(value, dict):
            stack.extend(value.values())
        elif isinstance(value, list):
            stack.extend(value)


PARSERS: dict[str, Callable[[str, str], Any]] = {
    "json": parse_json, "toml": _parse_toml, "yaml": _parse_yaml}


_KINDS: dict[str, dict[type, str]] = {
    "json": {dict: "an object", list: "an array"},
    "yaml": {dict: "a mapping", list: "a sequence"},
    "toml": {dict: "a table", list: "an array"},
}


def kind_of(value: Any, fmt: str = "json") -> str:
    """How an error message names the type of a document value, in the format's words."""
    if value is None:
        return "null"
    names: dict[type, str] = {**_KINDS[fmt], str: "a string", bool: "a boolean",
                              int: "a number", float: "a number"}
    for kind, name in names.items():
        if isinstance(value, kind):
            return name
    name = type(value).__name__
    return f"{'an' if name[:1] in 'aeiou' else 'a'} {name}"



_SCALARS = {
    "json": (str, int, float, bool, type(None)),
    "toml": (str, int, float, bool),
    "yaml": (str, int, float, bool, type(None), bytes),
}


def _temporal(fmt: str) -> tuple[type, ...]:
    import datetime

    if fmt == "toml":  # TOML has local times; YAML has dates and timestamps only
        return (datetime.date, datetime.time)  # datetime.datetime is a date
    return (datetime.date,)


def iso_time(value: Any) -> Any:
    """A `default=` for JSON that writes dates and times as ISO 8601 text, as YAML tools
    do; anything else is refused as JSON refuses it."""
    import datetime

    if isinstance(value, (datetime.date, datetime.time)):
        return value.isoformat()
    raise TypeError(type(value).__name__)


def plain_form(reveal: bool = False) -> Callable[[Any], Any]:
    """A `default=` that writes what schemas make of values as the formats' plain values: an
    Enum as its value, a Decimal as a number, a date or time as ISO 8601 text, a UUID, path,
    URL or IP address as text, and a pydantic secret as its mask ('**********'), or as its
    secret with `reveal`. Anything else is refused as JSON refuses it."""
    text_types: tuple[type, ...] | None = None  # looked up once a value needs them

    def form(value: Any) -> Any:
        nonlocal text_types
        import datetime
        import enum

        if isinstance(value, enum.Enum):
            return value.value
        pydantic: Any = sys.modules.get("pydantic")
        if pydantic is not None and isinstance(value, (pydantic.SecretStr, pydantic.SecretBytes,
                                                       *_generic_secret(pydantic))):
            secret: Any = value
            return secret.get_secret_value() if reveal else str(secret)
        if isinstance(value, (datetime.date, datetime.time)):
            return iso_time(value)
        import decimal

        if isinstance(value, decimal.Decimal):
            if value.is_finite() and value == value.to_integral_value():
                return int(value)
            return float(value)
        if text_types is None:
            text_types = _text_types()
        if isinstance(value, text_types):
            return str(value)
        raise TypeError(type(value).__name__)
    return form


def _generic_secret(pydantic: Any) -> tuple[type, ...]:
    secret = getattr(pydantic, "Secret", None)
    return (secret,) if isinstance(secret, type) else ()


def _text_types() -> tuple[type, ...]:
    import ipaddress
    import pathlib
    import uuid

    kinds: tuple[type, ...] = (uuid.UUID, pathlib.PurePath, ipaddress.IPv4Address, ipaddress.IPv6Address,
                               ipaddress.IPv4Network, ipaddress.IPv6Network, ipaddress.IPv4Interface,
                               ipaddress.IPv6Interface)
    core = sys.modules.get("pydantic_core")
    if core is not None:
        kinds += (core.Url, core.MultiHostUrl)
    # pydantic >= 2.10 wraps the core's URLs in classes of its own
    networks = sys.modules.get("pydantic.networks")
    for name in ("AnyUrl", "MultiHostUrl"):
        url = getattr(networks, name, None)
        if isinstance(url, type) and not issubclass(url, kinds):
            kinds += (url,)
    return kinds


def written(value: Any, fmt: str, default: Callable[[Any], Any]) -> Any:
    """`value` with every leaf `fmt` cannot hold replaced by what `default` gives for it,
    containers copied only where something below them changed."""
    scalars = _SCALARS[fmt] + (_temporal(fmt) if fmt != "json" else ())

    def walk(item: Any) -> Any:
        if isinstance(item, dict):
            changed = {key: walk(child) for key, child in item.items()}
            return item if all(changed[key] is child for key, child in item.items()) else changed
        if isinstance(item, list):
            new = [walk(child) for child in item]
            return item if all(a is b for a, b in zip(new, item)) else new
        if isinstance(item, scalars) or item is None:
            return item
        try:
            return walk(default(item))
        except (TypeError, ValueError):
            return item  # refused where it is found, with its path
    return walk(value)


def find_unwritable(value: Any, fmt: str, allow_nan: bool, path: str = "$",
                    default: Callable[[Any], Any] | None = None) -> DumpError | None:
    """The first value in `value` that `fmt` cannot hold, as the error to raise. `default`
    (JSON only) is asked for a stand-in of a value JSON has no form for, as json.dumps asks."""
    scalars = _SCALARS[fmt]
    if fmt != "json":
        scalars = scalars + _temporal(fmt)
    stack: list[tuple[str, Any]] = [(path, value)]
    seen: set[int] = set()  # containers met before (shared, or containing themselves)
    while stack:
        where, item = stack.pop()
        if isinstance(item, (dict, list)):
            if id(item) in seen:
                continue
            seen.add(id(item))
        if isinstance(item, dict):
            entries = []
            for key, child in item.items():
                if not isinstance(key, str):
                    return DumpError(where, f"the key {key!r} is not a string")
                entries.append((f"{where}.{key}", child))
            stack.extend(reversed(entries))
        elif isinstance(item, list):
            stack.extend((f"{where}.{index}", child) for index, child in reversed(list(enumerate(item))))
        elif isinstance(item, float) and not allow_nan and fmt == "json" and not _finite(item):
            return DumpError(where, f"{item!r} cannot be written as JSON (it has no such number)")
        elif item is None and fmt == "toml":
            return DumpError(where, "null cannot be written as TOML (it has no null)")
        elif not isinstance(item, scalars):
            if default is not None and fmt == "json":
                try:
                    stack.append((where, default(item)))
                    continue
                except (TypeError, ValueError):
                    pass
            return DumpError(where, f"{kind_of(item)} cannot be written as {fmt.upper()}")
    return None


def _keys_are_strings(value: Any) -> bool:
    # json.dumps writes the keys 1 and "1" both as "1", which no reader takes back
    stack = [value]
    seen: set[int] = set()
    while stack:
        item = stack.pop()
        if isinstance(item, dict):
            if id(item) in seen:
                continue
            seen.add(id(item))
            for key in item:
                if not isinstance(key, str):
                    return False
            stack.extend(item.values())
        elif isinstance(item, list):
            if id(item) in seen:
                continue
            seen.add(id(item))
            stack.extend(item)
    return True


class Style:
    """How a document is written: what `render` takes besides the data and the format. (A
    plain class: a NamedTuple would cost the command line a millisecond to define.)"""

    __slots__ = ("indent", "sort", "allow_nan", "path", "default", "str_keys")

    def __init__(self, indent: int | None = 2, sort: bool = False, allow_nan: bool = False, path: str = "$",
                 default: Callable[[Any], Any] | None = None, str_keys: bool = False) -> None:
        self.indent, self.sort, self.allow_nan, self.path = indent, sort, allow_nan, path
        self.default, self.str_keys = default, str_keys


def render(value: Any, fmt: str = "json", *, indent: int | None = 2, sort: bool = False,
           allow_nan: bool = False, path: str = "$",
           default: Callable[[Any], Any] | None = None, str_keys: bool = False) -> str:
    """Plain data as text in `fmt`; a value the format cannot hold raises DumpError naming
    its path. TOML and YAML need a mapping at the top. `default` is json.dumps's: a
    function that gives a JSON value for one JSON has no form for (for TOML and YAML, a
    value of the format for one it has no form for). `str_keys`
    says that every key is known to be a str (a parsed document's are), which saves JSON
    a walk over the data."""
    renderer = RENDERERS.get(fmt)
    if renderer is None:
        raise ValueError(f"unknown format {fmt!r} (expected json, toml or yaml)")
    style = Style(indent, sort, allow_nan, path, default, str_keys)
    try:
        return renderer(value, style)
    except RecursionError:
        raise DumpError(path, "the data is nested too deeply or contains itself") from None


def _render_json(value: Any, style: Style) -> str:
    from ._store import json_text

    # natively, for what json.dumps would write without help; else json.dumps
    text = json_text(value, style.indent, style.sort, style.allow_nan)
    if text is not None:
        return text
    import json

    if not style.str_keys and not _keys_are_strings(value):
        error = find_unwritable(value, "json", True, style.path)
        assert error is not None
        raise error
    try:
        text = json.dumps(value, ensure_ascii=False, indent=style.indent, sort_keys=style.sort,
                          allow_nan=style.allow_nan, default=style.default or _refuse)
    except (TypeError, ValueError) as failure:
        error = find_unwritable(value, "json", style.allow_nan, style.path, style.default)
        if error is None:
            raise DumpError(style.path, f"cannot be written as JSON: {failure}") from None
        raise error from None
    if not text.isascii():
        # A lone surrogate (from a "\ud800" escape the document held) is no character UTF-8
        # can carry; written as the escape again, it reads back as the same string.
        text = _escape_surrogates(text)
    return text


def _render_toml(value: Any, style: Style) -> str:
    library, value = _checked_for("toml", value, style)
    return _encodable(lambda: library.dumps(_sorted(value) if style.sort else value,
                                            indent=style.indent or 4), "toml", value, style)


def _render_yaml(value: Any, style: Style) -> str:
    library, value = _checked_for("yaml", value, style)
    return _encodable(lambda: library.dump(value, Dumper=_yaml_dumper(library), allow_unicode=True,
                                           sort_keys=style.sort, default_flow_style=False,
                                           indent=max(style.indent or 2, 2)), "yaml", value, style)


def _checked_for(fmt: str, value: Any, style: Style) -> tuple[Any, Any]:
    """The library that writes `fmt`, once `value` is known to be a mapping it can write, and
    `value` with what `default` gives for the values it cannot."""
    if not isinstance(value, dict):
        raise DumpError(style.path, f"{kind_of(value)} cannot be the top level of {fmt.upper()}")
    library = _require(fmt, "writing")
    error = find_unwritable(value, fmt, True, style.path)
    if error is not None and style.default is not None:
        value = written(value, fmt, style.default)
        error = find_unwritable(value, fmt, True, style.path)
    if error is not None:
        raise error
    return library, value


def _encodable(write: Callable[[], str], fmt: str, value: Any, style: Style) -> str:
    # TOML and YAML have no escape for a lone surrogate: refused, naming where it is
    try:
        text = write()
        text.encode("utf-8")
    except UnicodeEncodeError:
        raise DumpError(_surrogate_path(value, style.path),
                        f"a lone surrogate cannot be written as {fmt.upper()} (it is no "
                        "character UTF-8 can carry)") from None
    return text


RENDERERS: dict[str, Callable[[Any, Style], str]] = {
    "json": _render_json, "toml": _render_toml, "yaml": _render_yaml}


def _escape_surrogates(text: str) -> str:
    import re

    return re.sub("[\ud800-\udfff]", lambda match: f"\\u{ord(match.group()):04x}", text)


def _surrogate_path(value: Any, path: str) -> str:
    stack: list[tuple[str, Any]] = [(path, value)]
    while stack:
        where, item = stack.pop()
        if isinstance(item, dict):
            for key, child in reversed(list(item.items())):
                if isinstance(key, str) and not _is_utf8(key):
                    return f"{where}.{key.encode('utf-8', 'backslashreplace').decode('ascii')}"
                stack.append((f"{where}.{key}", child))
        elif isinstance(item, list):
            stack.extend((f"{where}.{index}", child) for index, child in reversed(list(enumerate(item))))
        elif isinstance(item, str) and not _is_utf8(item):
            return where
    return path


def _is_utf8(text: str) -> bool:
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


_YAML_DUMPER: Any = None


def _yaml_dumper(yaml: Any) -> Any:
    """PyYAML's safe dumper, taught to write what the checks let through as what it is: a
    str, int or float of a subclass (an enum member, say) as its plain value, any dict or list
    subclass as a mapping or a sequence."""
    global _YAML_DUMPER
    if _YAML_DUMPER is not None:
        return _YAML_DUMPER
    base = yaml.CSafeDumper if getattr(yaml, "__with_libyaml__", False) else yaml.SafeDumper
    dumper: Any = type("Dumper", (base,), {})
    representer = yaml.representer.SafeRepresenter
    for kind, plain, represent in [(str, str, representer.represent_str),
                                   (bool, bool, representer.represent_bool),
                                   (int, int, representer.represent_int),
                                   (float, float, representer.represent_float)]:
        dumper.add_multi_representer(
            kind, lambda self, data, plain=plain, represent=represent: represent(self, plain(data)))
    dumper.add_multi_representer(dict, representer.represent_dict)
    dumper.add_multi_representer(list, representer.represent_list)
    _YAML_DUMPER = dumper
    return dumper


def _refuse(value: Any) -> Any:
    raise TypeError(type(value).__name__)


def _sorted(value: Any) -> Any:
    if isinstance(value, dict):
        return {key: _sorted(value[key]) for key in sorted(value)}
    if isinstance(value, list):
        return [_sorted(item) for item in value]
    return value
