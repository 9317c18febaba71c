"""Variable stores for configuration and parameter objects.

`TarvelVar` is the public store: nested dicts become nested stores, lists, sets and tuples
become lists, and whole dicts can be merged in. It is a mutable mapping of its variables.
Its core, `TarvelVarMain`, is native code in `tarvel_var.var_main`; the mapping protocol and
the other public methods are native code in `tarvel_var._store`.
"""

from __future__ import annotations

import sys as _sys

# What `import tarvel_var` costs is what the store itself needs: the modules that load files,
# compose layers, check schemas and the like are imported when first used (see _Package), so
# a program, or the command line, pays only for what it calls. `typing` is not imported here
# (the core imports it for the names it binds); type checkers read the block below.
TYPE_CHECKING = False

from collections.abc import ItemsView, KeysView, Mapping, MutableMapping, ValuesView  # noqa: E402

from .var_main import TarvelVarMain  # noqa: E402 - first: it decides which interpreter may load the package
from ._store import (MissingVariableError, bind as _bind_native_methods,  # noqa: E402
                     public_method as _public_method)

if TYPE_CHECKING:
    import os
    from collections.abc import Callable, Iterable, Iterator
    from typing import Any, Self, TypeVar, overload

    from . import files, layers, paths, references, schemas
    from . import frozen as frozen_module
    from .diff import MISSING, Change, diff
    from .files import to_plain
    from .frozen import FrozenError, is_frozen
    from .layers import LayerError
    from .origins import Origin, origin, origins
    from .references import InterpolationError
    from .schemas import ValidationError
    from .settings import Settings

    _T = TypeVar("_T")
    _S = TypeVar("_S", bound="TarvelVar")
    _Value = Any
else:
    _Value = object  # what the views' type arguments are at run time, where they say nothing

__all__ = ["MISSING", "Change", "FrozenError", "InterpolationError", "LayerError", "MissingVariableError",
           "Origin", "TarvelVar", "TarvelVarMain", "ValidationError", "diff", "is_frozen", "origin",
           "Settings", "origins", "to_plain"]


# The views of keys(), values() and items(): the ABCs' mixins give the set operations and
# comparisons; length, membership and iteration are answered natively from the store.
class _Listed:
    __slots__ = ()

    def __repr__(self) -> str:
        return f"{type(self).__name__}({list(self)!r})"  # type: ignore[call-overload]

    def __reversed__(self) -> Iterator[Any]:
        return reversed(list(self))  # type: ignore[call-overload]


class StoreKeys(_Listed, KeysView[str]):
    __slots__ = ()


class StoreValues(_Listed, ValuesView[_Value]):
    __slots__ = ()


class StoreItems(_Listed, ItemsView[str, _Value]):
    __slots__ = ()


if TYPE_CHECKING:
    # What type checkers are told: a mutable mapping of str to any value (at run time the class
    # is registered as one, its only base being TarvelVarMain).
    class _StoreBase(TarvelVarMain, MutableMapping[str, Any]):
        pass
else:
    _StoreBase = TarvelVarMain


class TarvelVar(_StoreBase):
    """A variable store: `TarvelVar({"db": {"port": 5432}}).db.port == 5432`.

    `TarvelVar(data=None, /, *, reprint=False, inherit=False, strict=None, frozen=False)`:
    `data` is any mapping (a store gives its content). A store, and every nested store made in
    it, raises MissingVariableError (an AttributeError) for a missing attribute, unless
    `strict=False` (or, with `strict` left out, `reprint=True`) asks for the core's answer:
    None, or the name with `reprint`. A frozen one is read-only (see freeze()). Keys must be
    str, and keys the store keeps for itself (its internal variables and its methods that
    begin with "_") are refused with ValueError; `data` is checked whole before the store
    changes.
    """

    if TYPE_CHECKING:
        def __init__(self, data: Mapping[str, Any] | None = None, /, *, reprint: bool = False,
                     inherit: bool = False, strict: bool | None = None, frozen: bool = False) -> None: ...
        def __getattr__(self, name: str, /) -> Any: ...
        def __getitem__(self, key: str, /) -> Any: ...
        def __setitem__(self, key: str, value: Any, /) -> None: ...
        def __delitem__(self, key: str, /) -> None: ...
        def __len__(self) -> int: ...
        def __contains__(self, key: object, /) -> bool: ...
        def __iter__(self) -> Iterator[str]: ...
        def __eq__(self, other: object, /) -> bool: ...
        def __ne__(self, other: object, /) -> bool: ...
        def add(self, /, **entries: Any) -> None: ...
        def keys(self) -> StoreKeys: ...
        def values(self) -> StoreValues: ...
        def items(self) -> StoreItems: ...
        @overload
        def get(self, key: Any) -> Any: ...
        @overload
        def get(self, key: Any, default: _T) -> Any | _T: ...
        def get(self, key: Any, default: Any = None) -> Any: ...
        @overload
        def pop(self, key: str, /) -> Any: ...
        @overload
        def pop(self, key: str, default: _T, /) -> Any | _T: ...
        def pop(self, key: str, default: Any = ..., /) -> Any: ...
        def popitem(self) -> tuple[str, Any]: ...
        def setdefault(self, key: str, default: Any = None, /) -> Any: ...
        def update(self, other: Any = (), /, **entries: Any) -> None: ...
        def clear(self) -> None: ...
        def to_dict(self, sort: bool = False) -> dict[str, Any]: ...
        def copy(self) -> Self: ...
        def __reversed__(self) -> Iterator[str]: ...
        def __or__(self, other: Mapping[str, Any], /) -> Self: ...
        def __ior__(self, other: Mapping[str, Any] | Iterable[tuple[str, Any]], /) -> Self: ...  # type: ignore[misc]
        def merge(self, data: Mapping[str, Any], /) -> None: ...
        __hash__: None  # type: ignore[assignment]

    # -- what is written in Python, over the modules that do the work -----------------------

    @classmethod
    def load(cls, path: str | os.PathLike[str], *, format: str | None = None,
             resolve: bool = False, schema: Any = None, frozen: bool = False, **flags: Any) -> Self:
        """A store from the file at `path`: JSON, TOML or YAML, by the extension unless
        `format` names it. Then, as asked: its references resolved, checked by `schema`,
        frozen. `flags` go to the constructor."""
        from . import files

        # read frozen where it can be: nothing to resolve or check before freezing
        store = files.load(_builder(cls, resolve), path, format=format,
                           frozen=frozen and not resolve and schema is None, **flags)
        return _finished(cls, store, resolve, schema, frozen, None, flags)

    @classmethod
    def loads(cls, text: str | bytes, *, format: str | None = "json", source: str = "<string>",
              resolve: bool = False, schema: Any = None, frozen: bool = False, **flags: Any) -> Self:
        """A store from the document in `text`: JSON unless `format` names another, or found
        from the text with `format=None`. `source` names the text in errors; the other
        arguments are those of load()."""
        from . import files

        store = files.loads(_builder(cls, resolve), text, format=format, source=source,
                            frozen=frozen and not resolve and schema is None, **flags)
        return _finished(cls, store, resolve, schema, frozen, None, flags)

    @classmethod
    def from_env(cls, prefix: str, *, sep: str = "__", environ: Mapping[str, str] | None = None,
                 lower: bool = True, resolve: bool = False, schema: Any = None,
                 frozen: bool = False, **flags: Any) -> Self:
        """A store of the settings in the environment variables named `PREFIX_...`: the
        separator splits a name into sections, names are lower-cased unless `lower=False`,
        and values are read as JSON where they are JSON. `environ` defaults to os.environ
        (and serves `${env:...}` references too); the other arguments are those of load()."""
        from .environment import from_env

        store = from_env(_builder(cls, resolve), prefix, sep=sep, environ=environ, lower=lower,
                         types=cls, **flags)
        return _finished(cls, store, resolve, schema, frozen, environ, flags)

    @classmethod
    def compose(cls, *sources: str | os.PathLike[str] | Mapping[str, Any], env: str | None = None,
                overrides: Iterable[str] = (), environ: Mapping[str, str] | None = None,
                env_files: Iterable[str | os.PathLike[str]] = (),
                secrets_dir: str | os.PathLike[str] | None = None,
                resolve: bool = False, schema: Any = None, **flags: Any) -> Self:
        """One store from `sources` in order, each over the ones before: a path (loaded by
        its format) or a mapping. Sections merge key by key at any depth; any other value
        (a list included) replaces what was there. Then the environment variables named
        `ENV_...` (from `environ`, by default os.environ) and the `overrides` (`"path=value"`)
        set single values: an integer step goes into an existing list (negative from its end,
        `hosts[0]` as `hosts.0`), a name matches an existing key regardless of case, and the
        text is read as the type of the value it replaces: a list or a section only from
        JSON of its kind, a text from a JSON string too (`host="x"`), anything new from JSON,
        else as text. Two variables naming one setting, or a value and a setting below it,
        are refused. Then `resolve`, `schema` and `flags` as for load().
        Before the environment, and in this order: the files of `secrets_dir`, each one value
        (its name read as a variable's without the prefix, `db__password`), and the
        `env_files`, `.env` files read as the environment is (needs python-dotenv).
        tarvel_var.origin() tells which layer set each value ("default" for a schema's or a
        settings class's)."""
        from . import layers

        return layers.compose(cls, sources, env=env, overrides=overrides, environ=environ,  # type: ignore[no-any-return]
                              env_files=env_files, secrets_dir=secrets_dir, resolve=resolve,
                              schema=schema, **flags)

    def _finish(self, resolve: bool, schema: Any, frozen: bool,
                environ: Mapping[str, str] | None = None) -> Self:
        # what load(), loads() and from_env() do after building, in this order
        if resolve:
            from . import references

            references.resolve(self, environ)
        if schema is not None:
            from . import schemas

            self = schemas.validate(self, schema)
        if frozen:
            from . import frozen as frozen_module

            frozen_module.freeze(self)
        return self

    @_public_method
    def freeze(self) -> Self:
        """Makes the store and every store below it read-only, and returns it: every change
        then raises FrozenError, lists become tuples, and the store is hashable. Freezing
        twice is harmless; `TarvelVar(store)` is a changeable copy."""
        from . import frozen as frozen_module

        return frozen_module.freeze(self)  # type: ignore[no-any-return]

    @_public_method
    def resolve(self, environ: Mapping[str, str] | None = None) -> None:
        """Replaces every text that holds `${...}` references by what they refer to: a value
        of this store (`${db.host}`, `${servers.0.host}`) or an environment variable
        (`${env:NAME}`, `${env:NAME:-fallback}`); `$${` is a literal `${`. All or nothing:
        on InterpolationError the store is as it was."""
        from . import references

        references.resolve(self, environ)

    @_public_method
    def validate(self, schema: Any) -> Self:
        """A new store of this class and flags, typed and checked by `schema` (a dataclass,
        a TypedDict or a pydantic model): values converted, defaults filled, undeclared keys
        refused. Raises ValidationError listing every problem; needs pydantic."""
        from . import schemas

        return schemas.validate(self, schema)  # type: ignore[no-any-return]

    @_public_method
    def to(self, schema: type[_T]) -> _T:
        """An instance of `schema` made from the store and checked as validate() checks it."""
        from . import schemas

        return schemas.to(self, schema)  # type: ignore[no-any-return]

    @_public_method
    def dump(self, path: str | os.PathLike[str], *, format: str | None = None,
             indent: int | None = 2, sort: bool = False, allow_nan: bool = False,
             default: Callable[[Any], Any] | None = None, reveal: bool = False) -> None:
        """Writes the store to `path` in the format of its extension (or `format`), replacing
        the file whole or not at all; the other arguments are those of dumps()."""
        from . import files

        files.dump(self, path, format=format, indent=indent, sort=sort, allow_nan=allow_nan,
                   default=default, reveal=reveal)

    @_public_method
    def dumps(self, format: str = "json", *, indent: int | None = 2, sort: bool = False,
              allow_nan: bool = False, default: Callable[[Any], Any] | None = None,
              reveal: bool = False) -> str:
        """The store as a JSON, TOML or YAML document. `indent=None` writes JSON on one line;
        `sort` orders keys at every level; `allow_nan` lets JSON carry NaN and infinities.
        Values a schema made are written plainly (an Enum as its value, a Path, UUID or URL
        as text, a Decimal as a number, dates and times as ISO 8601), and pydantic's secrets
        as '**********' unless `reveal`. `default`, as for json.dumps, gives a value for one
        the format has no form for."""
        from . import files

        return files.dumps(self, format, indent=indent, sort=sort, allow_nan=allow_nan,
                           default=default, reveal=reveal)

    @_public_method
    def set(self, path: str, value: Any, /) -> None:
        """Sets the value at the "$." `path` (`"$.db.hosts.0.port"`, `"$.db.hosts[0].port"`),
        making the sections that are missing on the way and stepping into lists by index (the
        item must exist), or the variable `path` when it is a plain name. The names and the
        value are checked first, as item assignment checks them; a step through a value that
        is no section or list raises PathError."""
        if path.startswith("$"):
            from . import paths

            paths.assign(self, path, value)
        else:
            self[path] = value


def _builder(cls: type, resolve: bool) -> type:
    # a settings class checks what references resolve to: its data is loaded as a plain
    # store first
    if resolve:
        from .settings import is_settings_class

        if is_settings_class(cls):
            return TarvelVar
    return cls


def _finished(cls: type[_S], store: Any, resolve: bool, schema: Any, frozen: bool,
              environ: Mapping[str, str] | None, flags: dict[str, Any]) -> _S:
    if not isinstance(store, cls):
        # references may name the class's defaults: resolved over them, as compose() does
        from .settings import checker_of

        full = TarvelVar(checker_of(cls).defaults())
        full.merge(store)
        from . import references

        references.resolve(full, environ)
        store, resolve = cls(full, **flags), False
    return store._finish(resolve, schema, frozen, environ)  # type: ignore[no-any-return]


_bind_native_methods(TarvelVar, TarvelVarMain, Mapping, (StoreKeys, StoreValues, StoreItems))
MutableMapping.register(TarvelVar)


def _settle_shared_keys() -> None:
    # The interpreter gives every instance room for all names in its class's shared key table,
    # which takes in the attribute names of the first instances made (up to thirty). Stores hold
    # varied names, so that room would mostly stay empty: each new instance also narrows what
    # the table may still take in, and a few instances holding only the internal variables,
    # made now, leave it at those four names.
    for _ in range(32):
        TarvelVar()


_settle_shared_keys()


# -- what the package offers beyond the store, imported when first asked for ------------------

_EXPORTS = {"to_plain": "files", "FrozenError": "frozen", "is_frozen": "frozen",
            "InterpolationError": "references", "ValidationError": "schemas", "MISSING": "diff",
            "Change": "diff", "diff": "diff", "LayerError": "layers", "Origin": "origins",
            "origin": "origins", "origins": "origins", "Settings": "settings"}


def _submodule(name: str) -> Any:
    full = f"{__name__}.{name}"
    module = _sys.modules.get(full)
    if module is None:
        __import__(full)
        module = _sys.modules[full]
    return module


class _Package(type(_sys)):  # type: ignore[misc]
    """The package's module: names of `_EXPORTS` are found in their modules when first read."""

    def __getattr__(self, name: str) -> Any:
        where = _EXPORTS.get(name)
        if where is None:
            raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
        value = getattr(_submodule(where), name)
        self.__dict__[name] = value
        return value

    def __dir__(self) -> list[str]:
        return sorted({*vars(self), *_EXPORTS})


def _named_like_its_module(name: str) -> property:
    # diff() and origins() share their names with their modules, which the import system
    # binds in the package once it has imported them: the function keeps the name
    def read(package: Any) -> Any:
        return getattr(_submodule(name), name)

    def write(package: Any, value: Any) -> None:
        pass

    return property(read, write)


for _name in ("diff", "origins"):
    setattr(_Package, _name, _named_like_its_module(_name))
_sys.modules[__name__].__class__ = _Package
