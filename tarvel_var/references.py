"""`${...}` references between the values of a store and to the environment.

`${db.host}` is the value at that path of the store being resolved (steps as in "$." paths,
without the "$."); `${env:NAME}` is an environment variable, `${env:NAME:-fallback}` the same
with a fallback for when it is unset or empty; `$${` is a literal `${`. A text that is one
reference and nothing else takes the referenced value with its type; a reference inside longer
text is formatted with str().
"""

from __future__ import annotations

import os
import re
from collections.abc import Mapping
from typing import Any

from ._store import check_stack, reference_sites
from .frozen import FrozenError, is_frozen
from .paths import MISSING, PathError, child, path_text
from .paths import steps as path_steps
from .var_main import TarvelVarMain

__all__ = ["InterpolationError", "resolve"]

# a literal "$${", a reference, or the start of one that never closes
_TOKEN = re.compile(r"\$\$\{|\$\{([^}]*)\}|\$\{")

Path = tuple[Any, ...]


class InterpolationError(ValueError):
    """A reference that cannot be resolved: missing, malformed, or part of a cycle."""


class _Reference:
    __slots__ = ("text", "body")

    def __init__(self, text: str, body: str) -> None:
        self.text, self.body = text, body


def parse(text: str, where: str) -> list[str | _Reference]:
    """The literal pieces and references of `text`, in order."""
    parts: list[str | _Reference] = []
    literal: list[str] = []
    at = 0
    for match in _TOKEN.finditer(text):
        literal.append(text[at:match.start()])
        at = match.end()
        token = match.group(0)
        if token == "$${":
            literal.append("${")
            continue
        body = match.group(1)
        if body is None:
            raise InterpolationError(f"{where}: unclosed reference in {text!r}")
        if "${" in body:
            raise InterpolationError(f"{where}: nested reference in {text!r}")
        if not body.strip():
            raise InterpolationError(f"{where}: empty reference in {text!r}")
        if any(literal):
            parts.append("".join(literal))
        literal = []
        parts.append(_Reference(token, body.strip()))
    literal.append(text[at:])
    if any(literal):
        parts.append("".join(literal))
    return parts


# What one resolve() may produce. References that double at every step ("${b}${b}", a list of
# two copies of a list of two copies ...) would ask for gigabytes from a few short lines; a
# configuration needs far less than these bounds, and past them the reference is refused.
MAX_TEXT = 1_000_000  # characters of one resolved text
MAX_CHARACTERS = 10_000_000  # characters that all the references of one store make
MAX_VALUES = 1_000_000  # values that all the references of one store copy in


_TOO_LARGE = (f"the references of the store expand to more than {MAX_CHARACTERS:,} characters "
              f"or {MAX_VALUES:,} values in all")


class _TooLarge(Exception):
    pass


class _Resolver:
    def __init__(self, root: Any, sites: list[tuple[Any, Any, Path]],
                 environ: Mapping[str, str]) -> None:
        self.root, self.environ = root, environ
        self.sites = {path: (container, key) for container, key, path in sites}
        self.texts = {path: container[key] if not isinstance(container, TarvelVarMain)
                      else vars(container)[key] for container, key, path in sites}
        self.values: dict[Path, Any] = {}
        self.active: list[Path] = []
        self.characters = self.copied = 0

    def spend(self, characters: int, values: int = 0) -> None:
        self.characters += characters
        self.copied += values
        if self.characters > MAX_CHARACTERS or self.copied > MAX_VALUES:
            raise _TooLarge

    def site_value(self, path: Path) -> Any:
        if path in self.values:
            return self.values[path]
        if path in self.active:
            cycle = self.active[self.active.index(path):] + [path]
            raise InterpolationError("reference cycle: " + " -> ".join(map(path_text, cycle)))
        check_stack()  # a chain of references is walked by recursion
        self.active.append(path)
        where = path_text(path)
        parts = parse(self.texts[path], where)
        if len(parts) == 1 and isinstance(parts[0], _Reference):
            value = self.referenced(parts[0], where, whole=True)
        else:
            pieces: list[str] = []
            length = 0
            for part in parts:
                piece = part if isinstance(part, str) else self.referenced(part, where, whole=False)
                length += len(piece)
                if length > MAX_TEXT:
                    reference = part if isinstance(part, _Reference) else None
                    raise InterpolationError(
                        f"{where}: {reference.text + ' makes' if reference else 'the text becomes'} "
                        f"a text of more than {MAX_TEXT:,} characters")
                pieces.append(piece)
            value = "".join(pieces)
            self.charge(len(value), where, parts)
        self.active.pop()
        self.values[path] = value
        return value

    def charge(self, amount: int, where: str, parts: list[str | _Reference]) -> None:
        try:
            self.spend(amount)
        except _TooLarge:
            named = next((part.text for part in parts if isinstance(part, _Reference)), "")
            raise InterpolationError(f"{where}: {named}: {_TOO_LARGE}") from None

    def referenced(self, reference: _Reference, where: str, *, whole: bool) -> Any:
        body = reference.body
        if body.startswith("env:"):
            return self.environment(body[4:], reference, where)
        value = self.lookup(body, reference, where)
        if whole:
            return value
        if isinstance(value, (dict, list)):
            raise InterpolationError(
                f"{where}: {reference.text} is a section or a list, which cannot be part of a text")
        return str(value)

    def environment(self, spec: str, reference: _Reference, where: str) -> str:
        name, has_fallback, fallback = spec.partition(":-")
        value = self.environ.get(name)
        if has_fallback and not value:
            return fallback
        if value is None:
            raise InterpolationError(
                f"{where}: {reference.text}: the environment variable {name} is not set")
        return value

    def lookup(self, body: str, reference: _Reference, where: str) -> Any:
        try:
            found = path_steps(body if body.startswith("$") else "$." + body)
        except PathError:
            found = None
        if not found:
            raise InterpolationError(f"{where}: {reference.text}: not a path")
        current: Any = self.root
        path: Path = ()
        for step in found:
            below = child(current, step)
            if below is MISSING:
                raise InterpolationError(f"{where}: {reference.text}: nothing at {path_text(path + (step,))}")
            # the record's paths count list items from the start, as the scan found them
            path += (int(step) % len(current) if isinstance(current, (list, tuple)) else step,)
            current = self.site_value(path) if path in self.sites else below
        try:
            return self.plain(current, path)
        except _TooLarge:
            raise InterpolationError(f"{where}: {reference.text}: {_TOO_LARGE}") from None

    def plain(self, value: Any, path: Path) -> Any:
        """A section or list as new plain data, its references resolved; any other value as
        it is."""
        if isinstance(value, str):
            self.spend(len(value))
            return value
        self.spend(0, 1)
        if isinstance(value, (TarvelVarMain, dict, list, tuple)):
            check_stack()
        if isinstance(value, TarvelVarMain):
            entries = value._mv_items()
        elif isinstance(value, dict):
            entries = list(value.items())
        elif isinstance(value, (list, tuple)):
            items = []
            for index, item in enumerate(value):
                items.append(self.plain(self.at(path + (index,), item), path + (index,)))
            return items
        else:
            return value
        section = {}
        for key, item in entries:
            below = path + (key,)
            section[key] = self.plain(self.at(below, item) if not isinstance(value, dict) else item, below)
        return section

    def at(self, path: Path, value: Any) -> Any:
        return self.site_value(path) if path in self.sites else value


Write = tuple[Any, Any, Any, Path]  # container, key, value, and the path of the place


def _writes(store: Any, sites: list[tuple[Any, Any, Path]], values: list[Any]) -> list[Write]:
    """The writes that put `values` in place, every one checked before any is made: into a
    store, into a list, or, for an item of a tuple, a new tuple into the tuple's place."""
    writes: list[Write] = []
    tuples: dict[int, tuple[Any, Path, dict[Any, Any]]] = {}
    for (container, key, path), value in zip(sites, values):
        if isinstance(container, tuple):
            tuples.setdefault(id(container), (container, path[:-1], {}))[2][key] = value
        else:
            writes.append((container, key, value, path))
    # deepest first, so that a tuple in a tuple is rebuilt before the one that holds it
    while tuples:
        deepest = max(tuples, key=lambda ident: len(tuples[ident][1]))
        container, path, replaced = tuples.pop(deepest)
        rebuilt = tuple(replaced.get(index, item) for index, item in enumerate(container))
        parent = _container_at(store, path[:-1])
        if isinstance(parent, tuple):
            tuples.setdefault(id(parent), (parent, path[:-1], {}))[2][path[-1]] = rebuilt
        else:
            writes.append((parent, path[-1], _Kept(rebuilt), path))
    for container, _, _, place in writes:
        if is_frozen(container):
            raise FrozenError(f"cannot resolve {path_text(place)}: the {type(container).__name__} "
                              "that holds it is frozen")
    return writes


class _Kept:
    """A value to write as it is, unconverted (a tuple the store keeps as a tuple)."""
    __slots__ = ("value",)

    def __init__(self, value: Any) -> None:
        self.value = value


def _container_at(root: Any, path: Path) -> Any:
    current = root
    for key in path:
        current = vars(current)[key] if isinstance(current, TarvelVarMain) else current[key]
    return current


def _write(store: Any, container: Any, key: Any, value: Any) -> None:
    if isinstance(container, TarvelVarMain):
        if isinstance(value, _Kept):
            vars(container)[key] = value.value
        else:
            # a name the store already holds: set as attribute assignment sets it
            setattr(container, key, value)
    elif isinstance(value, _Kept):
        container[key] = value.value
    else:
        container[key] = store._set_list([value])[0]  # converted as the store's lists are


def resolve(store: Any, environ: Mapping[str, str] | None = None) -> None:
    """Replaces in place every text of `store` that holds references by what they refer to;
    all or nothing."""
    sites = reference_sites(store)
    if not sites:
        return
    resolver = _Resolver(store, sites, os.environ if environ is None else environ)
    values = []
    for _, _, path in sites:
        values.append(resolver.site_value(path))
    writes = _writes(store, sites, values)
    done: list[tuple[Any, Any, Any]] = []
    try:
        for container, key, value, _ in writes:
            old = vars(container)[key] if isinstance(container, TarvelVarMain) else container[key]
            _write(store, container, key, value)
            done.append((container, key, old))
    except BaseException:
        for container, key, old in reversed(done):  # as it was: the old values unconverted
            if isinstance(container, TarvelVarMain):
                vars(container)[key] = old
            else:
                container[key] = old
        raise
