"""Settings from environment variables, as a layer over a loaded file.

With the prefix `APP`, `APP_DB__PORT=5432` becomes `{"db": {"port": 5432}}`: the prefix
and one underscore are removed, the separator (`__`) splits the rest into sections, names
are lower-cased, and each value is read as JSON where it is JSON and kept as text where
it is not.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Iterator, Mapping
from typing import Any, TypeVar

_T = TypeVar("_T")

__all__ = ["EnvError", "from_env", "overrides", "shallow_first", "variables"]


class EnvError(ValueError):
    """Environment variables that cannot become settings; the message names them."""


def _refuse_constant(name: str) -> Any:
    # "NaN" and "Infinity" parse as JSON in Python but are no JSON numbers, nor is 1e400
    # once it has become an infinity: a variable holding such a word keeps it as text.
    raise ValueError(name)


def _finite(text: str) -> float:
    value = float(text)
    if value - value != 0.0:  # infinite
        raise ValueError(text)
    return value


def value_of(text: str, variable: str = "the value") -> Any:
    """The JSON value in `text`, or `text` itself when it is not JSON. JSON that names a key
    twice in one object is refused (EnvError naming `variable`), as in files."""
    import json  # here, not above: `import tarvel_var` loads this module

    from .formats import DuplicateKey, unique_pairs

    try:
        return json.loads(text, parse_constant=_refuse_constant, parse_float=_finite,
                          object_pairs_hook=unique_pairs)
    except DuplicateKey as error:
        raise EnvError(f"{variable}: duplicate key {error.args[0]!r} in one object of its "
                       "JSON value") from None
    except ValueError:  # also JSONDecodeError, and digits beyond the integer limit
        return text


def variables(prefix: str, *, sep: str = "__", environ: Mapping[str, str] | None = None,
              lower: bool = True) -> Iterator[tuple[list[str], str, str]]:
    """The name parts, name and text of each variable that starts with `prefix` and `_`, in
    the environment's order; EnvError for a variable with an empty name part."""
    environ = os.environ if environ is None else environ
    start = prefix if prefix.endswith("_") else prefix + "_"
    for variable, text in environ.items():
        if not variable.startswith(start):
            continue
        parts = variable[len(start):].split(sep)
        if "" in parts:
            raise EnvError(f"{variable}: empty name part (a separator {sep!r} at an "
                           "end or doubled, or nothing after the prefix)")
        yield [part.lower() for part in parts] if lower else parts, variable, text


def shallow_first(entries: Iterable[tuple[list[str], str, _T]]) -> list[tuple[list[str], str, _T]]:
    # Shallower settings first, so that APP_DB='{"host": "h"}' and APP_DB__PORT=1 apply the
    # same way whatever order the environment lists them in.
    return sorted(entries, key=lambda entry: (len(entry[0]), entry[1]))


def overrides(prefix: str, *, sep: str = "__", environ: Mapping[str, str] | None = None,
              lower: bool = True, types: Any = None) -> dict[str, Any]:
    """The settings named by the variables that start with `prefix` and `_`, as a plain
    nested dict. A variable with an empty name part (`APP___X`, `APP_A____B`, `APP_`), two
    variables naming the same setting, or a setting that is both a value and a section
    raises EnvError naming the variables. With a settings class as `types`, a variable for a
    field of a scalar type keeps its text, which the class's check reads."""
    if not prefix:
        raise ValueError("the prefix must not be empty: every variable would be a setting")
    if not sep:
        raise ValueError("the separator must not be empty")
    def read(text: str, variable: str, parts: list[str]) -> Any:
        if types is not None:
            from .settings import kind_at, reads_text

            if reads_text(kind_at(types, parts)):
                return text
        return value_of(text, variable)

    entries = shallow_first((parts, variable, read(text, variable, parts))
                            for parts, variable, text in variables(prefix, sep=sep, environ=environ, lower=lower))
    settings: dict[str, Any] = {}
    origin: dict[tuple[str, ...], str] = {}
    for parts, variable, value in entries:
        section = settings
        for depth, part in enumerate(parts[:-1]):
            child = section.setdefault(part, {})
            if not isinstance(child, dict):
                other = _setter(origin, parts[:depth + 1])
                raise EnvError(f"{variable}: {other} already sets "
                                        f"{'.'.join(parts[:depth + 1])} to a value, not a section")
            section = child
        if parts[-1] in section:
            other = _setter(origin, parts)
            raise EnvError(f"{variable} and {other} both set {'.'.join(parts)}")
        section[parts[-1]] = value
        origin[tuple(parts)] = variable
    return settings


def _setter(origin: dict[tuple[str, ...], str], parts: list[str]) -> str:
    # The variable that set this setting, or the section holding it as a JSON object.
    for end in range(len(parts), 0, -1):
        if tuple(parts[:end]) in origin:
            return origin[tuple(parts[:end])]
    return "another variable"


def from_env(cls: Any, prefix: str, *, sep: str = "__", environ: Mapping[str, str] | None = None,
             lower: bool = True, types: Any = None, **flags: Any) -> Any:
    """A store of the settings in the environment variables named `PREFIX_...` (see
    `overrides`); `environ` defaults to os.environ, `flags` go to the constructor. A
    settings class as `types` (by default `cls`) says how each variable's text reads.
    Merge it over a loaded file: `cfg._mv_add(TarvelVar.from_env("APP")._mv_to_dict())`."""
    from .settings import is_settings_class

    types = types if types is not None else cls
    return cls(overrides(prefix, sep=sep, environ=environ, lower=lower,
                         types=types if is_settings_class(types) else None), **flags)
