"""Reading and writing stores as JSON, TOML and YAML documents.

`load` and `loads` make a store of a document, `dump` and `dumps` write one, and
`write_atomically` replaces a file whole or not at all. The formats themselves (parsing,
rendering, their errors) are `formats`'s; their names are taken in here too, where they have
always been found. The store class's `load`, `loads`, `dump` and `dumps` are these.
"""

from __future__ import annotations

import errno
import os
from typing import TYPE_CHECKING, Any

# typing is asked only for what the package's __init__ also takes from it, so that a broken
# typing module fails the import as it did before this module existed.
if TYPE_CHECKING:
    from collections.abc import Callable

from .formats import (  # noqa: F401 - the names this module has always offered
    EXTENSIONS, EXTRAS, FORMATS, YAML_EXPANSION_LIMIT, DumpError, DuplicateKey, LoadError,
    MissingExtraError, decode, detect, find_unwritable, format_of, iso_time, kind_of, parse,
    parse_json, plain_form, render, unique_pairs,
)

__all__ = [
    "DumpError", "DuplicateKey", "LoadError", "MissingExtraError", "dump", "dumps", "format_of",
    "iso_time", "load", "loads", "parse", "render", "to_plain", "unique_pairs",
]


def read_file(path: str | os.PathLike[str]) -> bytes:
    with open(path, "rb") as handle:
        return handle.read()


def build(cls: Any, document: dict[str, Any], source: str, flags: dict[str, Any]) -> Any:
    """A store of class `cls` from a parsed document; the class's own refusals (a key it
    reserves, say) come back as a LoadError naming the source."""
    try:
        return cls(document, **flags)
    except RecursionError:
        raise LoadError(source, "the document is nested too deeply") from None
    except ValueError as error:
        raise LoadError(source, str(error)) from error


def load(cls: Any, path: str | os.PathLike[str], *, format: str | None = None, frozen: bool = False,
         **flags: Any) -> Any:
    """A store from the file at `path`: JSON, TOML or YAML, by the extension unless
    `format` names it. `flags` go to the constructor. With `frozen`, a native reader may
    read it frozen (the caller freezes what it gets)."""
    fmt = format_of(path, format)
    source = os.fspath(path)
    data = read_file(path)
    # a native reader takes the file's bytes as they are; else they are decoded first
    if fmt == "json" and (store := _json_store(cls, data, source, flags, frozen=frozen)) is not None:
        return store
    text = decode(data, source)
    del data
    if fmt == "json" and (store := _json_store(cls, text, source, flags, native=False)) is not None:
        return store
    if fmt == "yaml" and (store := _yaml_store(cls, text, flags)) is not None:
        return store
    document = parse(text, fmt, source)
    del text  # a large document's text need not live on beside its store
    return build(cls, document, source, flags)


def loads(cls: Any, text: str | bytes, *, format: str | None = "json",
          source: str = "<string>", frozen: bool = False, **flags: Any) -> Any:
    """A store from the document in `text`: JSON unless `format` names another, or found
    from the text with `format=None`. `source` names the text in errors."""
    if format == "json" and isinstance(text, str):
        if (store := _json_store(cls, text, source, flags, frozen=frozen)) is not None:
            return store
    if format == "yaml" and isinstance(text, str) and (store := _yaml_store(cls, text, flags)) is not None:
        return store
    return build(cls, parse(text, format, source), source, flags)


def _json_store(cls: Any, text: str | bytes, source: str, flags: dict[str, Any], native: bool = True,
                frozen: bool = False) -> Any:
    """The store of a JSON document built by the parser itself, each object made a store as it
    is read (see tarvel_var._store.json_store): for the public class with no flag but
    `strict`. None when the general way must load it: another class or flag, a top level
    that is no object, or a key the store keeps for itself (whose error names its place).
    A native reader, where the build has one, reads it first (`native`); a file's bytes are
    read by it alone."""
    from ._store import (DuplicateKeyError, NeedsChecking, json_document, json_store, json_strict_store,
                         public_class)

    strict = _strict_of(cls, flags, public_class())
    if strict is None:
        return None
    hook = json_strict_store if strict else json_store
    import gc

    # A parsed document is a tree: the collector, which its many new containers would set off
    # again and again, could find no cycle in it, and would more than double the time.
    collecting = gc.isenabled()
    gc.disable()
    try:
        # natively where the build has a JSON reader and the text is one it reads exactly as
        # json.loads does; else json.loads with the hooks
        frozen_class = None
        if frozen and native:
            from .frozen import frozen_class as variant

            public: Any = cls
            frozen_class = variant(public)
        document = json_document(text, strict, frozen_class) if native else None
        if document is not None or isinstance(text, bytes):
            return document
        document = parse_json(text, source, hook, DuplicateKeyError)
    except NeedsChecking:
        return None
    finally:
        if collecting:
            gc.enable()
    return document if type(document) is cls else None


def _yaml_store(cls: Any, text: str, flags: dict[str, Any]) -> Any:
    """The store of a YAML document built as it is read natively, for the public class with no
    flag but `strict`; None where it must be parsed and built the general way (see
    tarvel_var._store.yaml_store), or where PyYAML does not read through libyaml."""
    from ._store import public_class, yaml_store
    from .formats import YAML_EXPANSION_LIMIT, _libyaml_is_safe, _require

    strict = _strict_of(cls, flags, public_class())
    if strict is None or not _libyaml_is_safe(_require("yaml", "reading")):
        return None
    try:
        return yaml_store(text, strict, YAML_EXPANSION_LIMIT)
    except RecursionError:
        return None  # the general way says so, in its words


def _strict_of(cls: Any, flags: dict[str, Any], public: Any) -> bool | None:
    """Whether the stores a native reader builds for `cls` and `flags` are strict (as the
    constructor makes them with no `strict` given); None where only the constructor may build
    them: another class, or a flag but `strict`."""
    if cls is not public or not set(flags) <= {"strict"}:
        return None
    strict = flags.get("strict")
    return strict is None or bool(strict)


# -- writing ---------------------------------------------------------------------------------

def to_plain(value: Any) -> Any:
    """A `default=` hook for json.dumps: a store nested in other data becomes a plain dict.

        json.dumps({"config": store}, default=tarvel_var.to_plain)
    """
    to_dict = getattr(type(value), "_mv_to_dict", None)
    if to_dict is None:
        raise TypeError(f"Object of type {type(value).__name__} is not JSON serializable")
    return to_dict(value)


def plain_of(value: Any) -> Any:
    """`value` with its stores turned into dicts and its sequences into lists."""
    if hasattr(type(value), "_mv_to_dict"):
        return value._mv_to_dict()
    if isinstance(value, (list, tuple, set, frozenset)):
        from .var_main import TarvelVarMain  # the core's conversion needs no set-up store

        return TarvelVarMain()._list_to_dict(list(value))
    return value


def dumps(store: Any, format: str = "json", *, indent: int | None = 2, sort: bool = False,
          allow_nan: bool = False, default: Callable[[Any], Any] | None = None,
          reveal: bool = False) -> str:
    """The store as a JSON, TOML or YAML document. `indent=None` writes JSON on one line;
    `sort` orders keys at every level; `allow_nan` lets JSON carry NaN and infinities (as
    `NaN`, `Infinity`, which most JSON readers refuse). What schemas make of values is
    written in its plain form (see formats.plain_form): secrets masked unless `reveal`.
    `default`, as for json.dumps, gives a value for one that has no form in the format."""
    fmt = format_of("", format)
    try:
        plain = store._mv_to_dict()
    except RecursionError:
        raise DumpError("$", "the data is nested too deeply or contains itself") from None
    text = render(plain, fmt, indent=indent, sort=sort, allow_nan=allow_nan,
                  default=either(plain_form(reveal), default))
    return text if text.endswith("\n") else text + "\n"


def either(first: Callable[[Any], Any], then: Callable[[Any], Any] | None) -> Callable[[Any], Any]:
    """A `default=` that asks `first`, and `then` for what `first` refuses."""
    if then is None:
        return first

    def form(value: Any) -> Any:
        try:
            return first(value)
        except TypeError:
            return then(value)
    return form


def dump(store: Any, path: str | os.PathLike[str], *, format: str | None = None,
         indent: int | None = 2, sort: bool = False, allow_nan: bool = False,
         default: Callable[[Any], Any] | None = None, reveal: bool = False) -> None:
    """Writes the store to `path` in the format of its extension (or `format`). The file
    is replaced whole or not at all: see write_atomically."""
    try:
        fmt = format_of(path, format)
    except LoadError as error:
        raise DumpError(error.source, error.reason) from None
    write_atomically(path, dumps(store, fmt, indent=indent, sort=sort, allow_nan=allow_nan,
                                 default=default, reveal=reveal).encode("utf-8"))


def write_atomically(path: str | os.PathLike[str], data: bytes) -> None:
    """Writes `data` to a new file in the target's folder and renames it over the target.

    Until the rename the old file is untouched, and the rename is atomic, so a failure at
    any point (a full disk, an interrupt, a crash) leaves either the old file byte for byte
    or the new one whole. The new file takes the old one's permission bits (a new file
    gets the usual ones: created as any file is, under the process's umask, which is never
    changed). A symbolic link stays a link: its target is replaced. A target that is not a
    regular file (a named pipe, a device such as /dev/stdout) is written into, never
    replaced. OSErrors name the target, not the file written beside it."""
    import stat

    target = os.path.realpath(path)
    try:
        status: os.stat_result | None = os.stat(target)
    except FileNotFoundError:
        status = None
    if status is not None and stat.S_ISDIR(status.st_mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), os.fspath(path))
    if status is not None and not stat.S_ISREG(status.st_mode):
        with open(target, "wb") as stream:
            stream.write(data)
        return
    folder, name = os.path.split(target)
    try:
        handle, temporary = _new_file_beside(folder, name)
    except OSError as error:
        raise type(error)(error.errno, error.strerror, os.fspath(path)) from None
    try:
        with open(handle, "wb") as stream:
            stream.write(data)
            stream.flush()
            if status is not None:
                os.fchmod(stream.fileno(), status.st_mode & 0o7777)
            os.fsync(stream.fileno())
        os.replace(temporary, target)
    except BaseException as failure:
        try:
            os.unlink(temporary)
        except FileNotFoundError:
            pass
        if isinstance(failure, OSError) and failure.filename == temporary:
            raise type(failure)(failure.errno, failure.strerror, os.fspath(path)) from None
        raise
    try:  # make the rename itself survive a power loss
        directory = os.open(folder, os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(directory)
    except OSError:
        pass
    finally:
        os.close(directory)


def _new_file_beside(folder: str, name: str) -> tuple[int, str]:
    # Made as any new file is (mode 0o666 under the umask), so that a file new to the folder
    # gets exactly the permissions it would get from open(); the name is random and the
    # creation exclusive, as tempfile's.
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0)
    for _ in range(100):
        temporary = os.path.join(folder, f".{name}.{os.urandom(6).hex()}.tmp")
        try:
            return os.open(temporary, flags, 0o666), temporary
        except FileExistsError:
            continue
    raise FileExistsError(errno.EEXIST, "no unused temporary name", folder)
