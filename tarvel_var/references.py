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

from ._store import reference_sites
from .paths import MISSING, child, path_text
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


class _Resolver:
    def __init__(self, root: Any, sites: list[tuple[Any, Any, Path]],
                 environ: Mapping[str, str]) -> None:
        self.root, self.environ = root, environ
        self.sites = {path: (container, key) for container, key, path in sites}
        self.texts = {path: container[key] if not isinstance(container, TarvelVarMain)
                      else vars(container)[key] for container, key, path in sites}
        self.values: dict[Path, Any] = {}
        self.active: list[Path] = []

    def site_value(self, path: Path) -> Any:
        if path in self.values:
            return self.values[path]
        if path in self.active:
            cycle = self.active[self.active.index(path):] + [path]
            raise InterpolationError("reference cycle: " + " -> ".join(map(path_text, cycle)))
        self.active.append(path)
        where = path_text(path)
        parts = parse(self.texts[path], where)
        if len(parts) == 1 and isinstance(parts[0], _Reference):
            value = self.referenced(parts[0], where, whole=True)
        else:
            value = "".join(part if isinstance(part, str) else self.referenced(part, where, whole=False)
                            for part in parts)
        self.active.pop()
        self.values[path] = value
        return value

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
        current: Any = self.root
        path: Path = ()
        for step in body.removeprefix("$.").split("."):
            in_list = isinstance(current, (list, tuple))
            below = child(current, step) if step.isdigit() or not in_list else MISSING
            if below is MISSING:
                raise InterpolationError(f"{where}: {reference.text}: nothing at {path_text(path + (step,))}")
            path += (int(step) if in_list else step,)
            current = self.site_value(path) if path in self.sites else below
        return self.plain(current, path)

    def plain(self, value: Any, path: Path) -> Any:
        """A section or list as new plain data, its references resolved; any other value as
        it is."""
        if isinstance(value, TarvelVarMain):
            return {key: self.plain(self.at(path + (key,), item), path + (key,))
                    for key, item in value._mv_items()}
        if isinstance(value, dict):
            return {key: self.plain(item, path + (key,)) for key, item in value.items()}
        if isinstance(value, (list, tuple)):
            return [self.plain(self.at(path + (index,), item), path + (index,))
                    for index, item in enumerate(value)]
        return value

    def at(self, path: Path, value: Any) -> Any:
        return self.site_value(path) if path in self.sites else value


def resolve(store: Any, environ: Mapping[str, str] | None = None) -> None:
    """Replaces in place every text of `store` that holds references by what they refer to;
    all or nothing."""
    sites = reference_sites(store)
    if not sites:
        return
    resolver = _Resolver(store, sites, os.environ if environ is None else environ)
    values = [resolver.site_value(path) for _, _, path in sites]
    for (container, key, _), value in zip(sites, values):
        if isinstance(container, TarvelVarMain):
            # a name the store already holds: set as attribute assignment sets it, unchecked,
            # so that nothing can fail half-way
            setattr(container, key, value)
        else:
            container[key] = store._set_list([value])[0]  # converted as the store's lists are
